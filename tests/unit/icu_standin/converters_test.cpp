// Converters of the Unicode stand-in, called as the client calls them: every registry
// converter name opens cleanly, real text converts both ways in many character sets
// (also when the input arrives cut at any byte), and failures carry ICU's codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "icu_api.h"

namespace {

template <size_t N>
std::string bytes(const char (&s)[N]) {
  return std::string(s, N - 1);
}

// ---- Small helpers over the bound entry points -------------------------------------

struct Converter {
  explicit Converter(const char* name) { cnv = icu().ucnv_open_3_4(name, &open_status); }
  ~Converter() { icu().ucnv_close_3_4(cnv); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  vqicu_converter* cnv = nullptr;
  vqicu_status open_status = VQICU_ZERO_ERROR;
};

// Converts bytes to UTF-16, feeding the input in two calls cut at `cut` (the whole at
// once when cut is npos). Returns the status of the last call.
vqicu_status to_utf16(vqicu_converter* cnv, const std::string& in, std::u16string& out,
                      size_t cut = std::string::npos) {
  std::vector<vqicu_uchar> buf(in.size() * 2 + 8);
  vqicu_uchar* target = buf.data();
  const char* source = in.data();
  vqicu_status st = VQICU_ZERO_ERROR;
  if (cut != std::string::npos) {
    icu().ucnv_toUnicode_3_4(cnv, &target, buf.data() + buf.size(), &source, in.data() + cut,
                             nullptr, 0, &st);
    if (st > 0) return st;
  }
  icu().ucnv_toUnicode_3_4(cnv, &target, buf.data() + buf.size(), &source,
                           in.data() + in.size(), nullptr, 1, &st);
  out.assign(buf.data(), target);
  return st;
}

vqicu_status from_utf16(vqicu_converter* cnv, const std::u16string& in, std::string& out) {
  std::vector<char> buf(in.size() * 4 + 8);
  char* target = buf.data();
  const vqicu_uchar* source = reinterpret_cast<const vqicu_uchar*>(in.data());
  vqicu_status st = VQICU_ZERO_ERROR;
  icu().ucnv_fromUnicode_3_4(cnv, &target, buf.data() + buf.size(), &source, source + in.size(),
                             nullptr, 1, &st);
  out.assign(buf.data(), target);
  return st;
}

TEST(IcuStandinLoad, BothLibraryFilesBindEveryEntryPoint) {
  for (const char* file : {"libvqicu12_r.so", "libvqicu12.so"}) {
    SCOPED_TRACE(file);
    const IcuApi api = load_icu(file);
    ASSERT_NE(api.handle, nullptr) << api.missing;
    EXPECT_EQ(api.missing, "");
    EXPECT_EQ(api.VSRGetICUDataset(), 2);
  }
}

TEST(IcuStandinLoad, SurvivesUnloadAndReload) {
  // The client unloads the library when its locale ends and may load it again later.
  for (int round = 0; round < 2; ++round) {
    IcuApi api = load_icu("libvqicu12.so");
    ASSERT_NE(api.handle, nullptr) << api.missing;
    vqicu_status st = VQICU_ZERO_ERROR;
    vqicu_converter* cnv = api.ucnv_open_3_4("ibm-943_P15A-2003", &st);
    EXPECT_EQ(st, VQICU_ZERO_ERROR);
    api.ucnv_close_3_4(cnv);
    EXPECT_EQ(dlclose(api.handle), 0);
  }
}

// ---- Registry names ------------------------------------------------------------------

// The converter name the registry gives every one of its character sets. Each must
// open with exactly no error and no warning, or the client treats it as unusable.
const char* const kRegistryNames[] = {
    "US-ASCII",
    "ISO-8859-1",
    "ibm-850_P100-1995",
    "ibm-437_P100-1995",
    "ibm-1051_P100-1995",
    "macos-0_2-10.2",
    "ibm-943_P15A-2003",
    "ibm-943_P15A-2003",
    "ibm-33722_P12A-1999",
    "ibm-1383_P110-1999",
    "ibm-964_P110-1999",
    "ibm-912_P100-1995",
    "ibm-915_P100-1995",
    "ibm-1089_P100-1995",
    "ibm-813_P100-1995",
    "ibm-916_P100-1995",
    "ibm-920_P100-1995",
    "ibm-923_P100-1998",
    "macos-7_3-10.2",
    "macos-29-10.2",
    "macos-6-10.2",
    "macos-35-10.2",
    "ibm-878_P100-1996",
    "ibm-874_P100-1995",
    "ibm-1375_P100-2003",
    "windows-950-2000",
    "ibm-970_P110-1995",
    "ibm-852_P100-1995",
    "ibm-855_P100-1995",
    "ibm-856_P100-1995",
    "ibm-857_P100-1995",
    "ibm-860_P100-1995",
    "ibm-861_P100-1995",
    "ibm-862_P100-1995",
    "ibm-863_P100-1995",
    "ibm-864_X110-1999",
    "ibm-865_P100-1995",
    "ibm-866_P100-1995",
    "ibm-869_P100-1995",
    "windows-874-2000",
    "gb18030",
    "windows-936-2000",
    "windows-949-2000",
    "ibm-950_P110-1999",
    "ibm-5346_P100-1998",
    "ibm-5347_P100-1998",
    "ibm-5348_P100-1997",
    "ibm-5349_P100-1998",
    "ibm-5350_P100-1998",
    "ibm-9447_P100-2002",
    "windows-1256-2000",
    "ibm-9449_P100-2002",
    "ibm-5354_P100-1998",
    "UTF-8",
    "UTF-16LE",
    "UTF-16BE",
};
static_assert(sizeof(kRegistryNames) / sizeof(kRegistryNames[0]) == 56, "one per charset");

TEST(IcuStandinConverters, EveryRegistryNameOpensWithoutWarning) {
  for (const char* name : kRegistryNames) {
    SCOPED_TRACE(name);
    Converter c(name);
    EXPECT_NE(c.cnv, nullptr);
    EXPECT_EQ(c.open_status, VQICU_ZERO_ERROR);
  }
}

TEST(IcuStandinConverters, SubstitutionBytesAreTheRegistrys) {
  // The registry records each character set's substitution bytes; a character the set
  // lacks comes out as them. GB18030 and the UTFs map every character and are left out.
  const std::string kSubstitution[] = {
      "\x1A",     "\x1A",     "\x7F",     "\x7F",     "\x1A", "\x3F", "\xFC\xFC", "\xFC\xFC",
      "\xF4\xFE", "\xA1\xA1", "\xFD\xFE", "\x1A",     "\x1A", "\x1A", "\x1A",     "\x1A",
      "\x1A",     "\x1A",     "\x3F",     "\x3F",     "\x3F", "\x3F", "\x1A",     "\x7F",
      "\xA1\x48", "\x3F",     "\xAF\xFE", "\x7F",     "\x7F", "\x7F", "\x7F",     "\x7F",
      "\x7F",     "\x7F",     "\x7F",     "\x7F",     "\x7F", "\x7F", "\x7F",     "\x3F",
      "",         "\x3F",     "\x3F",     "\xC8\xFE", "\x1A", "\x1A", "\x1A",     "\x1A",
      "\x1A",     "\x1A",     "\x3F",     "\x1A",     "\x1A", "",     "",         ""};
  static_assert(sizeof(kSubstitution) / sizeof(kSubstitution[0]) == 56, "one per charset");
  for (size_t i = 0; i < 56; ++i) {
    if (kSubstitution[i].empty()) continue;
    SCOPED_TRACE(kRegistryNames[i]);
    Converter cnv(kRegistryNames[i]);
    std::string out;
    EXPECT_EQ(from_utf16(cnv.cnv, u"\uFDD0", out), VQICU_ZERO_ERROR);
    EXPECT_EQ(out, kSubstitution[i]);
  }
}

TEST(IcuStandinConverters, RenamedNamesMatchRegardlessOfSpelling) {
  // ICU compares converter names ignoring case and punctuation; so does the renaming.
  for (const char* name : {"IBM-970_P110-1995", "ibm970p1101995", "WINDOWS-1256-2000"}) {
    SCOPED_TRACE(name);
    Converter c(name);
    EXPECT_NE(c.cnv, nullptr);
    EXPECT_EQ(c.open_status, VQICU_ZERO_ERROR);
  }
}

TEST(IcuStandinConverters, OpenFailures) {
  vqicu_status st = VQICU_ZERO_ERROR;
  EXPECT_EQ(icu().ucnv_open_3_4("no-such-charset-x", &st), nullptr);
  EXPECT_GT(st, 0);
  // A status that already holds a failure leaves the call without effect.
  st = VQICU_ILLEGAL_ARGUMENT_ERROR;
  EXPECT_EQ(icu().ucnv_open_3_4("UTF-8", &st), nullptr);
  EXPECT_EQ(st, VQICU_ILLEGAL_ARGUMENT_ERROR);
  EXPECT_EQ(icu().ucnv_open_3_4("UTF-8", nullptr), nullptr);
  icu().ucnv_close_3_4(nullptr);
}

// ---- Real text in many character sets --------------------------------------------------

struct TextCase {
  const char* label;
  const char* converter;  // the registry's converter name
  std::u16string text;
  std::string encoded;  // the text in that character set
};

const TextCase kTexts[] = {
    {"UTF-8", "UTF-8", u"Grüße, 日本語 😀",
     bytes("\x47\x72\xC3\xBC\xC3\x9F\x65\x2C\x20\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\x20\xF0"
           "\x9F\x98\x80")},
    {"ISO-8859-1", "ISO-8859-1", u"Grüße à Paris",
     bytes("\x47\x72\xFC\xDF\x65\x20\xE0\x20\x50\x61\x72\x69\x73")},
    {"windows-1252", "ibm-5348_P100-1997", u"€ “quoted” – Œuvre",
     bytes("\x80\x20\x93\x71\x75\x6F\x74\x65\x64\x94\x20\x96\x20\x8C\x75\x76\x72\x65")},
    {"Shift_JIS", "ibm-943_P15A-2003", u"日本語のテキスト ｶﾀｶﾅ",
     bytes("\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x83\x65\x83\x4C\x83\x58\x83\x67\x20\xB6\xC0\xB6"
           "\xC5")},
    // Renamed: the three-byte sequence is JIS X 0212.
    {"EUC-JP", "ibm-33722_P12A-1999", u"日本語のテキスト ｶﾀｶﾅ 丂",
     bytes("\xC6\xFC\xCB\xDC\xB8\xEC\xA4\xCE\xA5\xC6\xA5\xAD\xA5\xB9\xA5\xC8\x20\x8E\xB6\x8E"
           "\xC0\x8E\xB6\x8E\xC5\x20\x8F\xB0\xA1")},
    {"GB18030", "gb18030", u"中文文本 😀",
     bytes("\xD6\xD0\xCE\xC4\xCE\xC4\xB1\xBE\x20\x94\x39\xFC\x36")},
    {"EUC-KR", "ibm-970_P110-1995", u"한국어 텍스트",
     bytes("\xC7\xD1\xB1\xB9\xBE\xEE\x20\xC5\xD8\xBD\xBA\xC6\xAE")},
    {"Big5-HKSCS", "ibm-1375_P100-2003", u"香港增補字符集",
     bytes("\xAD\xBB\xB4\xE4\xBC\x57\xB8\xC9\xA6\x72\xB2\xC5\xB6\xB0")},
    // Renamed: 0x8A, 0x8F, 0x98 and 0xFF are among the bytes the older table lacked.
    {"windows-1256", "windows-1256-2000", u"نص عربي ٹ ڈ ک ے",
     bytes("\xE4\xD5\x20\xDA\xD1\xC8\xED\x20\x8A\x20\x8F\x20\x98\x20\xFF")},
    {"x-mac-greek", "macos-6-10.2", u"Ελληνικά κείμενο",
     bytes("\xB6\xEC\xEC\xE8\xEE\xE9\xEB\xC0\x20\xEB\xE5\xDD\xED\xE5\xEE\xEF")},
    {"KOI8-R", "ibm-878_P100-1996", u"Русский текст",
     bytes("\xF2\xD5\xD3\xD3\xCB\xC9\xCA\x20\xD4\xC5\xCB\xD3\xD4")},
    {"UTF-16BE", "UTF-16BE", u"Grüße 😀",
     bytes("\x00\x47\x00\x72\x00\xFC\x00\xDF\x00\x65\x00\x20\xD8\x3D\xDE\x00")},
};

TEST(IcuStandinConverters, RealTextBothWays) {
  for (const TextCase& c : kTexts) {
    SCOPED_TRACE(c.label);
    Converter cnv(c.converter);
    ASSERT_EQ(cnv.open_status, VQICU_ZERO_ERROR);
    icu().ucnv_setFallback_3_4(cnv.cnv, 1);
    std::u16string decoded;
    EXPECT_EQ(to_utf16(cnv.cnv, c.encoded, decoded), VQICU_ZERO_ERROR);
    EXPECT_EQ(decoded, c.text);
    std::string encoded;
    EXPECT_EQ(from_utf16(cnv.cnv, c.text, encoded), VQICU_ZERO_ERROR);
    EXPECT_EQ(encoded, c.encoded);
  }
}

TEST(IcuStandinConverters, InputCutAtEveryByteGivesTheSameText) {
  for (const TextCase& c : kTexts) {
    SCOPED_TRACE(c.label);
    Converter cnv(c.converter);
    for (size_t cut = 0; cut <= c.encoded.size(); ++cut) {
      SCOPED_TRACE(cut);
      icu().ucnv_resetToUnicode_3_4(cnv.cnv);
      std::u16string decoded;
      EXPECT_EQ(to_utf16(cnv.cnv, c.encoded, decoded, cut), VQICU_ZERO_ERROR);
      EXPECT_EQ(decoded, c.text);
    }
  }
}

TEST(IcuStandinConverters, FullOutputReportsOverflowAndContinues) {
  Converter cnv("ibm-943_P15A-2003");
  const std::string in = kTexts[3].encoded;
  vqicu_uchar buf[64];
  vqicu_uchar* target = buf;
  const char* source = in.data();
  vqicu_status st = VQICU_ZERO_ERROR;
  icu().ucnv_toUnicode_3_4(cnv.cnv, &target, buf + 5, &source, in.data() + in.size(), nullptr,
                           1, &st);
  EXPECT_EQ(st, VQICU_BUFFER_OVERFLOW_ERROR);
  EXPECT_EQ(target, buf + 5);
  st = VQICU_ZERO_ERROR;
  icu().ucnv_toUnicode_3_4(cnv.cnv, &target, buf + 64, &source, in.data() + in.size(), nullptr,
                           1, &st);
  EXPECT_EQ(st, VQICU_ZERO_ERROR);
  EXPECT_EQ(std::u16string(buf, target), kTexts[3].text);
}

// ---- Failures as ICU reports them ------------------------------------------------------

// The client's error callback: records the reason and either stops (leaves the error in
// place) or hands the case to the previous callback (ICU's substitution).
struct CallbackLog {
  bool stop = true;
  std::vector<int32_t> reasons;
  vqicu_to_u_callback old_to = nullptr;
  const void* old_to_context = nullptr;
  vqicu_from_u_callback old_from = nullptr;
  const void* old_from_context = nullptr;
};

void to_u_callback(const void* context, vqicu_to_u_args* args, const char* units,
                   int32_t length, int32_t reason, vqicu_status* status) {
  auto* log = static_cast<CallbackLog*>(const_cast<void*>(context));
  if (reason > VQICU_CNV_IRREGULAR) return;  // reset, close, clone
  log->reasons.push_back(reason);
  if (!log->stop) log->old_to(log->old_to_context, args, units, length, reason, status);
}

void from_u_callback(const void* context, vqicu_from_u_args* args, const vqicu_uchar* units,
                     int32_t length, vqicu_uchar32 cp, int32_t reason, vqicu_status* status) {
  auto* log = static_cast<CallbackLog*>(const_cast<void*>(context));
  if (reason > VQICU_CNV_IRREGULAR) return;
  log->reasons.push_back(reason);
  if (!log->stop) log->old_from(log->old_from_context, args, units, length, cp, reason, status);
}

struct ToUnicodeFailure {
  const char* name;
  const char* converter;
  std::string input;
  vqicu_status stopped;        // status when the callback stops
  int32_t reason;              // reason passed to the callback
  std::u16string substituted;  // output when the previous callback substitutes
};

const ToUnicodeFailure kToUnicodeFailures[] = {
    {"unassigned double byte", "ibm-943_P15A-2003", bytes("A\x85\x40"),
     VQICU_INVALID_CHAR_FOUND, VQICU_CNV_UNASSIGNED, u"A\uFFFD"},
    {"illegal UTF-8 trail", "UTF-8", bytes("A\xC3\x28"), VQICU_ILLEGAL_CHAR_FOUND,
     VQICU_CNV_ILLEGAL, u"A\uFFFD("},
    {"byte above US-ASCII", "US-ASCII", bytes("A\xFF"), VQICU_ILLEGAL_CHAR_FOUND,
     VQICU_CNV_ILLEGAL, u"A\uFFFD"},
    {"truncated at the end", "UTF-8", bytes("A\xE6\x97"), VQICU_TRUNCATED_CHAR_FOUND,
     VQICU_CNV_ILLEGAL, u"A\uFFFD"},
    {"truncated EUC-KR", "ibm-970_P110-1995", bytes("A\xC7"), VQICU_TRUNCATED_CHAR_FOUND,
     VQICU_CNV_ILLEGAL, u"A\x1A"},
};

TEST(IcuStandinConverters, ToUnicodeFailuresCarryIcuCodes) {
  for (const ToUnicodeFailure& f : kToUnicodeFailures) {
    for (bool stop : {true, false}) {
      SCOPED_TRACE(std::string(f.name) + (stop ? " stopping" : " substituting"));
      Converter cnv(f.converter);
      CallbackLog log;
      log.stop = stop;
      vqicu_status st = VQICU_ZERO_ERROR;
      icu().ucnv_setToUCallBack_3_4(cnv.cnv, to_u_callback, &log, &log.old_to,
                                    &log.old_to_context, &st);
      ASSERT_EQ(st, VQICU_ZERO_ERROR);
      ASSERT_NE(log.old_to, nullptr);
      std::u16string out;
      st = to_utf16(cnv.cnv, f.input, out);
      ASSERT_EQ(log.reasons.size(), 1u);
      EXPECT_EQ(log.reasons[0], f.reason);
      if (stop) {
        EXPECT_EQ(st, f.stopped);
        EXPECT_EQ(out, u"A");
      } else {
        EXPECT_EQ(st, VQICU_ZERO_ERROR);
        EXPECT_EQ(out, f.substituted);
      }
    }
  }
}

struct FromUnicodeFailure {
  const char* name;
  const char* converter;
  std::u16string input;
  vqicu_status stopped;
  int32_t reason;
  std::string substituted;
};

const FromUnicodeFailure kFromUnicodeFailures[] = {
    {"CJK to Latin-1", "ISO-8859-1", u"A日", VQICU_INVALID_CHAR_FOUND, VQICU_CNV_UNASSIGNED,
     bytes("A\x1A")},
    {"Greek to windows-1256", "windows-1256-2000", u"AΩ", VQICU_INVALID_CHAR_FOUND,
     VQICU_CNV_UNASSIGNED, bytes("A?")},
    {"lone surrogate to UTF-8", "UTF-8", std::u16string(u"A") + char16_t(0xDC00) + u"B",
     VQICU_ILLEGAL_CHAR_FOUND, VQICU_CNV_ILLEGAL,
     bytes("A\xEF\xBF\xBD"
           "B")},
};

TEST(IcuStandinConverters, FromUnicodeFailuresCarryIcuCodes) {
  for (const FromUnicodeFailure& f : kFromUnicodeFailures) {
    for (bool stop : {true, false}) {
      SCOPED_TRACE(std::string(f.name) + (stop ? " stopping" : " substituting"));
      Converter cnv(f.converter);
      CallbackLog log;
      log.stop = stop;
      vqicu_status st = VQICU_ZERO_ERROR;
      icu().ucnv_setFromUCallBack_3_4(cnv.cnv, from_u_callback, &log, &log.old_from,
                                      &log.old_from_context, &st);
      ASSERT_EQ(st, VQICU_ZERO_ERROR);
      std::string out;
      st = from_utf16(cnv.cnv, f.input, out);
      ASSERT_EQ(log.reasons.size(), 1u);
      EXPECT_EQ(log.reasons[0], f.reason);
      if (stop) {
        EXPECT_EQ(st, f.stopped);
        EXPECT_EQ(out, "A");
      } else {
        EXPECT_EQ(st, VQICU_ZERO_ERROR);
        EXPECT_EQ(out, f.substituted);
      }
    }
  }
}

TEST(IcuStandinConverters, FallbackMappingsOnlyWhenTurnedOn) {
  // Fullwidth "!" has only a fallback in windows-1252; the yen sign only one in
  // Shift_JIS.
  struct Row {
    const char* converter;
    std::u16string in;
    std::string fallback;
  };
  for (const Row& r : {Row{"ibm-5348_P100-1997", u"\uFF01", "!"},
                       Row{"ibm-943_P15A-2003", u"\u00A5", "\x5C"}}) {
    for (bool on : {false, true}) {
      SCOPED_TRACE(std::string(r.converter) + (on ? " fallback on" : " fallback off"));
      Converter cnv(r.converter);
      CallbackLog log;  // stops at the first failure
      vqicu_status st = VQICU_ZERO_ERROR;
      icu().ucnv_setFromUCallBack_3_4(cnv.cnv, from_u_callback, &log, &log.old_from,
                                      &log.old_from_context, &st);
      icu().ucnv_setFallback_3_4(cnv.cnv, on);
      std::string out;
      st = from_utf16(cnv.cnv, r.in, out);
      EXPECT_EQ(st, on ? VQICU_ZERO_ERROR : VQICU_INVALID_CHAR_FOUND);
      EXPECT_EQ(out, on ? r.fallback : "");
    }
  }
}

TEST(IcuStandinConverters, NullConverterIsAnArgumentError) {
  vqicu_status st = VQICU_ZERO_ERROR;
  vqicu_to_u_callback old_to = nullptr;
  const void* old_context = nullptr;
  icu().ucnv_setToUCallBack_3_4(nullptr, to_u_callback, nullptr, &old_to, &old_context, &st);
  EXPECT_EQ(st, VQICU_ILLEGAL_ARGUMENT_ERROR);
  st = VQICU_ZERO_ERROR;
  vqicu_from_u_callback old_from = nullptr;
  icu().ucnv_setFromUCallBack_3_4(nullptr, from_u_callback, nullptr, &old_from, &old_context,
                                  &st);
  EXPECT_EQ(st, VQICU_ILLEGAL_ARGUMENT_ERROR);
  st = VQICU_ZERO_ERROR;
  vqicu_uchar buf[4];
  vqicu_uchar* target = buf;
  const char* source = "ab";
  icu().ucnv_toUnicode_3_4(nullptr, &target, buf + 4, &source, source + 2, nullptr, 1, &st);
  EXPECT_EQ(st, VQICU_ILLEGAL_ARGUMENT_ERROR);
  icu().ucnv_resetToUnicode_3_4(nullptr);
  icu().ucnv_resetFromUnicode_3_4(nullptr);
  icu().ucnv_setFallback_3_4(nullptr, 1);
}

TEST(IcuStandinConverters, ResetForgetsAPartialCharacter) {
  Converter cnv("UTF-8");
  std::u16string out;
  vqicu_uchar buf[8];
  vqicu_uchar* target = buf;
  const std::string lead = bytes("\xE6\x97");
  const char* source = lead.data();
  vqicu_status st = VQICU_ZERO_ERROR;
  icu().ucnv_toUnicode_3_4(cnv.cnv, &target, buf + 8, &source, lead.data() + lead.size(),
                           nullptr, 0, &st);
  EXPECT_EQ(st, VQICU_ZERO_ERROR);
  EXPECT_EQ(target, buf);
  icu().ucnv_resetToUnicode_3_4(cnv.cnv);
  EXPECT_EQ(to_utf16(cnv.cnv, "ok", out), VQICU_ZERO_ERROR);
  EXPECT_EQ(out, u"ok");
}

}  // namespace
