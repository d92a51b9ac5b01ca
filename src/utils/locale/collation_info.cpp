// The collation records, the choosers that pick one for a character set and language,
// collation specifications with tailoring options, custom records and the listing order.
#include "utils/locale/collation_info.h"

#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "utils/base/bounded_strings.h"
#include "utils/base/memory.h"
#include "utils/locale/collation_tailoring.h"
#include "utils/locale/custom_collation_record.h"
#include "utils/locale/lang_string.h"
#include "utils/locale/packed_collation.h"
#include "utils/locale/utlocale.h"

// The records, in listing-independent table order: the choosers take the first match.
// clang-format off
const CollationInfo UTLocale::_collation_info[UTLocale::kNumCollations] = {
    {"C", &UTLocale::_charset_info[0], nullptr, nullptr, 0x1, 0x1, 14720, 1, 'L'},  // ANSI_X3.4-1968
    {"UCA", nullptr, nullptr, nullptr, 0x3FFFFFF, 0x0, 14721, 0, 'I'},  // none
    {"1250LATIN2", &UTLocale::_charset_info[44], "bin_cp1250", "bin_cp1250", 0x60001, 0x60001, 13666, 0, 'L'},  // windows-1250
    {"1250POL", &UTLocale::_charset_info[44], "bin_cp1250", "bin_cp1250", 0x4001, 0x4000, 13667, 0, 'L'},  // windows-1250
    {"1251CYR", &UTLocale::_charset_info[45], "cyrdict_cp1251", "cyrnocs_cp1251", 0x18001, 0x18001, 13668, 0, 'L'},  // windows-1251
    {"1252DEU", &UTLocale::_charset_info[46], "dictionary_iso_1", "nocase_iso_1", 0x5, 0x0, 13731, 1, 'L'},  // windows-1252
    {"1252LATIN1", &UTLocale::_charset_info[46], "dictionary_iso_1", "nocase_iso_1", 0x8001C7, 0x8001C7, 13669, 0, 'L'},  // windows-1252
    {"1252LT1ACC", &UTLocale::_charset_info[46], "dictionary_iso_1", "nocase_iso_1", 0x8001C7, 0x0, 18494, 0, 'L'},  // windows-1252
    {"1252NOR", &UTLocale::_charset_info[46], "bin_iso_1", "bin_iso_1", 0x201, 0x200, 14634, 0, 'L'},  // windows-1252
    {"1252SPA", &UTLocale::_charset_info[46], "espdict_iso_1", "espnocase_iso_1", 0x9, 0x8, 14470, 0, 'L'},  // windows-1252
    {"1252SWEFIN", &UTLocale::_charset_info[46], "bin_iso_1", "bin_iso_1", 0xC01, 0xC00, 13988, 0, 'L'},  // windows-1252
    {"1253ELL", &UTLocale::_charset_info[47], "elldict_iso88597", "bin_iso88597", 0x80001, 0x80001, 13670, 0, 'L'},  // windows-1253
    {"1254TRK", &UTLocale::_charset_info[48], "turdict_iso88599", "turnocs_iso88599", 0x400001, 0x400001, 13671, 0, 'L'},  // windows-1254
    {"1254TRKALT", &UTLocale::_charset_info[48], "turdict_iso88599", "turnocs_iso88599", 0x400001, 0x0, 13933, 0, 'L'},  // windows-1254
    {"1255HEB", &UTLocale::_charset_info[49], "bin_cp1255", "bin_cp1255", 0x100001, 0x100001, 14243, 0, 'L'},  // windows-1255
    {"1256ARA", &UTLocale::_charset_info[50], "bin_cp1256", "bin_cp1256", 0x200001, 0x200001, 14323, 0, 'L'},  // windows-1256
    {"1257LIT", &UTLocale::_charset_info[51], "bin_1257", "bin_1257", 0x1000001, 0x1000001, 13910, 0, 'L'},  // windows-1257
    {"437EBCDIC", &UTLocale::_charset_info[3], "dictionary_cp437", "nocase_cp437", 0x1, 0x0, 13694, 1, 'L'},  // IBM437
    {"437ESP", &UTLocale::_charset_info[3], "espdict_cp437", "espnocs_cp437", 0x9, 0x8, 13692, 1, 'L'},  // IBM437
    {"437LATIN1", &UTLocale::_charset_info[3], "dictionary_cp437", "nocase_cp437", 0x1, 0x1, 13691, 1, 'L'},  // IBM437
    {"819DAN", &UTLocale::_charset_info[1], "bin_iso_1", "bin_iso_1", 0x101, 0x0, 13696, 1, 'L'},  // ISO_8859-1:1987
    {"819ESP", &UTLocale::_charset_info[1], "espdict_iso_1", "espnocs_iso_1", 0x9, 0x0, 13698, 1, 'L'},  // ISO_8859-1:1987
    {"819ISL", &UTLocale::_charset_info[1], "bin_iso_1", "bin_iso_1", 0x1, 0x0, 13699, 1, 'L'},  // ISO_8859-1:1987
    {"819LATIN1", &UTLocale::_charset_info[1], "dictionary_iso_1", "nocase_iso_1", 0x800FCF, 0x0, 13700, 1, 'L'},  // ISO_8859-1:1987
    {"819NOR", &UTLocale::_charset_info[1], "bin_iso_1", "bin_iso_1", 0x201, 0x0, 13702, 1, 'L'},  // ISO_8859-1:1987
    {"819SVE", &UTLocale::_charset_info[1], "bin_iso_1", "bin_iso_1", 0x401, 0x0, 13704, 1, 'L'},  // ISO_8859-1:1987
    {"850DAN", &UTLocale::_charset_info[2], "scandict_cp850", "scannocp_cp850", 0x101, 0x0, 13707, 1, 'L'},  // IBM850
    {"850ESP", &UTLocale::_charset_info[2], "espdict_cp850", "espnocs_cp850", 0x9, 0x0, 13709, 1, 'L'},  // IBM850
    {"850ISL", &UTLocale::_charset_info[2], "scandict_cp850", "scannocp_cp850", 0x1, 0x0, 13710, 1, 'L'},  // IBM850
    {"850LATIN1", &UTLocale::_charset_info[2], "dictionary_cp850", "nocase_cp850", 0x800FCF, 0x800FCF, 13711, 1, 'L'},  // IBM850
    {"850NOR", &UTLocale::_charset_info[2], "scandict_cp850", "scannocp_cp850", 0x201, 0x0, 13713, 1, 'L'},  // IBM850
    {"850SVE", &UTLocale::_charset_info[2], "scandict_cp850", "scannocp_cp850", 0x401, 0x0, 13715, 1, 'L'},  // IBM850
    {"852CYR", &UTLocale::_charset_info[27], "bin_cp852", "bin_cp852", 0x60001, 0x0, 13718, 1, 'L'},  // IBM852
    {"852LATIN2", &UTLocale::_charset_info[27], "bin_cp852", "bin_cp852", 0x60001, 0x60001, 13717, 1, 'L'},  // IBM852
    {"852POL", &UTLocale::_charset_info[27], "bin_cp852", "bin_cp852", 0x4001, 0x4000, 13719, 1, 'L'},  // IBM852
    {"855CYR", &UTLocale::_charset_info[28], "cyrdict_cp855", "cyrnocs_cp855", 0x18001, 0x18001, 13720, 1, 'L'},  // IBM855
    {"856HEB", &UTLocale::_charset_info[29], "bin_cp856", "bin_cp856", 0x100001, 0x100001, 13721, 1, 'L'},  // IBM856
    {"857TRK", &UTLocale::_charset_info[30], "bin_cp857", "bin_cp857", 0x400001, 0x400001, 13722, 1, 'L'},  // IBM857
    {"860LATIN1", &UTLocale::_charset_info[31], "bin_cp860", "bin_cp860", 0x800FCF, 0x800FCF, 13723, 1, 'L'},  // IBM860
    {"861ISL", &UTLocale::_charset_info[32], "bin_cp861", "bin_cp861", 0x1, 0x1, 13724, 1, 'L'},  // IBM861
    {"862HEB", &UTLocale::_charset_info[33], "bin_cp862", "bin_cp862", 0x100001, 0x100001, 13725, 1, 'L'},  // IBM862
    {"863LATIN1", &UTLocale::_charset_info[34], "bin_cp863", "bin_cp863", 0x3, 0x3, 13726, 1, 'L'},  // IBM863
    {"865NOR", &UTLocale::_charset_info[36], "bin_cp865", "bin_cp865", 0xF01, 0xF01, 13727, 1, 'L'},  // IBM865
    {"866RUS", &UTLocale::_charset_info[37], "rusdict_cp866", "rusnocs_cp866", 0x8001, 0x8001, 13728, 1, 'L'},  // IBM866
    {"869ELL", &UTLocale::_charset_info[38], "bin_cp869", "bin_cp869", 0x80001, 0x80001, 13729, 1, 'L'},  // IBM869
    {"874THAIBIN", &UTLocale::_charset_info[23], "dictionary_cp874", "dictionary_cp874", 0x2000001, 0x2000001, 14421, 0, 'L'},  // TIS-620
    {"920TRK", &UTLocale::_charset_info[16], "turdict_iso88599", "turnocs_iso88599", 0x400001, 0x400001, 13730, 1, 'L'},  // ISO_8859-9:1989
    {"932JPN", &UTLocale::_charset_info[6], "bin_cp932", "bin_cp932", 0x11, 0x11, 13672, 0, 'L'},  // Windows-31J
    {"936ZHO", &UTLocale::_charset_info[41], "bin_cp936", "bin_cp936", 0x2001, 0x2001, 13673, 0, 'L'},  // GBK
    {"949KOR", &UTLocale::_charset_info[42], "bin_eucksc", "bin_eucksc", 0x21, 0x21, 13674, 0, 'L'},  // IBM949
    {"950TWN", &UTLocale::_charset_info[24], "bin_cp950", "bin_cp950", 0x1001, 0x0, 13675, 1, 'L'},  // Big5-HKSCS
    {"950ZHO_HK", &UTLocale::_charset_info[24], "bin_cp950", "bin_cp950", 0x1001, 0x1001, 14370, 0, 'L'},  // Big5-HKSCS
    {"950ZHO_TW", &UTLocale::_charset_info[25], "bin_cp950", "bin_cp950", 0x1001, 0x1001, 14371, 0, 'L'},  // Big5
    {"EUC_CHINA", &UTLocale::_charset_info[9], "bin_eucgb", "bin_eucgb", 0x2001, 0x2001, 13681, 0, 'L'},  // GB2312
    {"EUC_JAPAN", &UTLocale::_charset_info[8], "bin_eucjis", "bin_eucjis", 0x11, 0x11, 13680, 0, 'L'},  // Extended_UNIX_Code_Packed_Format_for_Japanese
    {"EUC_KOREA", &UTLocale::_charset_info[26], "bin_eucksc", "bin_eucksc", 0x21, 0x21, 13683, 0, 'L'},  // EUC-KR
    {"EUC_TAIWAN", &UTLocale::_charset_info[10], "bin_big5", "bin_big5", 0x1001, 0x0, 13682, 0, 'L'},  // EUC-TW
    {"ISO1LATIN1", &UTLocale::_charset_info[1], "bin_iso_1", "bin_iso_1", 0x800FCF, 0x800FCF, 13678, 0, 'L'},  // ISO_8859-1:1987
    {"ISO9LATIN1", &UTLocale::_charset_info[17], "bin_iso15", "bin_iso15", 0x800FCF, 0x800FCF, 13679, 0, 'L'},  // ISO-8859-15
    {"ISO_1", &UTLocale::_charset_info[1], "bin_iso_1", "bin_iso_1", 0x800FCF, 0x0, 13676, 0, 'L'},  // ISO_8859-1:1987
    {"ISO_BINENG", &UTLocale::_charset_info[1], "bin_iso_1", "bin_iso_1", 0x800FCF, 0x0, 13677, 0, 'L'},  // ISO_8859-1:1987
    {"UTF8", &UTLocale::_charset_info[53], "bin_utf8", "bin_utf8", 0x3FFFFFF, 0x0, 13684, 1, 'L'},  // UTF-8
    {"UTF8BIN", &UTLocale::_charset_info[53], "bin_utf8", "bin_utf8", 0x3FFFFFF, 0x3FFFFFF, 17074, 0, 'L'},  // UTF-8
    {"SJIS", &UTLocale::_charset_info[7], "bin_sjis", "bin_sjis", 0x11, 0x0, 13734, 1, 'L'},  // Shift_JIS
    {"SJIS2", &UTLocale::_charset_info[7], "bin_sjis", "bin_sjis", 0x11, 0x11, 13735, 1, 'L'},  // Shift_JIS
    {"WIN_LATIN1", &UTLocale::_charset_info[46], "dictionary_iso_1", "nocase_iso_1", 0x8001C7, 0x0, 13732, 1, 'L'},  // windows-1252
    {"WIN_LATIN5", &UTLocale::_charset_info[48], "turdict_iso88599", "turnocs_iso88599", 0x400001, 0x0, 13733, 1, 'L'},  // windows-1254
    {"internal", &UTLocale::_charset_info[2], "dictionary_cp850", "nocase_cp850", 0x1, 0x0, 13736, 1, 'L'},  // IBM850
};
// clang-format on

namespace {

constexpr int kGB18030Record = 40;
constexpr int kGBKRecord = 41;
constexpr int kIso8859_1Record = 1;
constexpr int kJapaneseLanguage = 4;

const CollationInfo* label_record(const char* label) {
  return UTLocale::GetCollationInfoFromLabel(label);
}

// Copies a field of a custom record (NUL-terminated within `n` bytes); null when memory
// runs out.
char* copy_bounded(const char* text, std::size_t n) {
  return ut_strndup(text, ut_strnlen(text, n));
}

}  // namespace

// ---- CollationInfo -------------------------------------------------------------------

CollationInfo::CollationInfo(const a_custom_collation_info* definition)
    : CollationInfo(nullptr, nullptr, nullptr, nullptr, 0, 0, 0, 0, kCollationTableDriven) {
  custom = 1;
  if (definition == nullptr) return;
  kind = definition->kind != 0 ? definition->kind : std::uint8_t{kCollationTableDriven};
  if (kind != kCollationICU) {
    charset = UTLocale::GetCharsetInfoFromLabel(definition->charset_label, kSchemeDefault);
    if (charset == nullptr) {
      charset = UTLocale::GetCharsetInfoFromLabel(definition->charset_label, kSchemeAll);
    }
  }
  const CollationInfo* known = label_record(definition->label);
  const char* cs_order = definition->case_sensitive_order;
  const char* ci_order = definition->case_insensitive_order;
  if (known != nullptr) {
    if (*cs_order == '\0' && known->case_sensitive_order != nullptr) {
      cs_order = known->case_sensitive_order;
    }
    if (*ci_order == '\0' && known->case_insensitive_order != nullptr) {
      ci_order = known->case_insensitive_order;
    }
    supported_languages = known->supported_languages;
    default_languages = known->default_languages;
    description_id = known->description_id;
    flag = known->flag;
  }
  char* label_copy = copy_bounded(definition->label, kCustomCollationNameBytes);
  char* cs_copy = copy_bounded(cs_order, kCustomCollationNameBytes);
  char* ci_copy = copy_bounded(ci_order, kCustomCollationNameBytes);
  char* description = known != nullptr ? nullptr
                                       : copy_bounded(definition->description,
                                                      kCustomCollationDescriptionBytes);
  auto* order =
      static_cast<a_packed_collation_order*>(ut_malloc(sizeof(a_packed_collation_order)));
  if (label_copy == nullptr || cs_copy == nullptr || ci_copy == nullptr || order == nullptr ||
      (known == nullptr && description == nullptr)) {
    ut_free(label_copy);
    ut_free(cs_copy);
    ut_free(ci_copy);
    ut_free(description);
    ut_free(order);
    return;
  }
  std::memcpy(order, &definition->order, sizeof *order);
  label = label_copy;
  case_sensitive_order = cs_copy;
  case_insensitive_order = ci_copy;
  custom_description = description;
  custom_order = order;
}

CollationInfo::~CollationInfo() {
  if (custom == 0) return;
  ut_free(const_cast<char*>(label));
  ut_free(const_cast<char*>(case_sensitive_order));
  ut_free(const_cast<char*>(case_insensitive_order));
  ut_free(custom_description);
  ut_free(custom_order);
}

unsigned int CollationInfo::get_description(UTLangStringBase& strings, char* buf,
                                            unsigned int size) const {
  if (buf == nullptr || size == 0) return 0;
  if (custom != 0 && description_id == 0) {
    char* end = nullptr;
    (void)ut_strcpy(buf, size, custom_description != nullptr ? custom_description : "", &end,
                    nullptr);
    return static_cast<unsigned int>(std::strlen(buf));
  }
  return strings.GetString(static_cast<unsigned long>(description_id), buf, size);
}

int CollationInfo::GetLanguagesList(char* buf, std::size_t size, const char* separator,
                                    std::uint32_t mask) {
  if (buf == nullptr || size == 0) return 0;
  if (separator == nullptr) separator = "";
  buf[0] = '\0';
  std::size_t len = 0;
  for (int id = UTLocale::kNumLanguages - 1; id >= 0; --id) {
    if ((mask & (1u << id)) == 0) continue;
    const char* code = UTLocale::_language_info[id].code;
    const std::size_t need = (len > 0 ? std::strlen(separator) : 0) + std::strlen(code);
    if (len + need + 1 > size) {
      buf[0] = '\0';
      return 0;
    }
    if (len > 0) {
      std::strcpy(buf + len, separator);
      len += std::strlen(separator);
    }
    std::strcpy(buf + len, code);
    len += std::strlen(code);
  }
  return 1;
}

const a_packed_collation_order* CollationInfo::get_packed_collation_for_custom_collation()
    const {
  // A built-in record has no order of its own; asking it for one is a caller's error,
  // answered with null.
  if (custom == 0) return nullptr;
  return custom_order;
}

int VSRCollationIterator::compare_collations(const void* a, const void* b) {
  const CollationInfo* x = *static_cast<const CollationInfo* const*>(a);
  const CollationInfo* y = *static_cast<const CollationInfo* const*>(b);
  if (x->flag != y->flag) return x->flag == 0 ? -1 : 1;
  const bool x_digit = std::isdigit(static_cast<unsigned char>(x->label[0])) != 0;
  const bool y_digit = std::isdigit(static_cast<unsigned char>(y->label[0])) != 0;
  if (x_digit != y_digit) return x_digit ? -1 : 1;
  if (x_digit) {
    const unsigned long nx = std::strtoul(x->label, nullptr, 10);
    const unsigned long ny = std::strtoul(y->label, nullptr, 10);
    if (nx != ny) return nx < ny ? -1 : 1;
  }
  return strcasecmp(x->label, y->label);
}

// ---- Choosers --------------------------------------------------------------------------

const CollationInfo* UTLocale::GetCollationInfoFromLabel(const char* label) {
  if (label == nullptr) return nullptr;
  for (const CollationInfo& c : _collation_info) {
    if (strcasecmp(label, c.label) == 0) return &c;
  }
  return nullptr;
}

const CollationInfo* UTLocale::GetDefaultCollation() { return label_record("ISO_BINENG"); }

const CollationInfo* UTLocale::GetCollationInfoFromCharsetLang(const CharsetInfo* charset,
                                                               const LanguageInfo* language) {
  if (charset == nullptr) return nullptr;
  if (charset == &_charset_info[kGB18030Record]) charset = &_charset_info[kGBKRecord];
  std::uint32_t mask = 1;
  if (language != nullptr) {
    const long id = language - _language_info;
    if (id < 0 || id >= kNumLanguages) return nullptr;
    mask = 1u << id;
  }
  for (const CollationInfo& c : _collation_info) {
    if (c.charset == charset && (c.default_languages & mask) == mask) return &c;
  }
  return nullptr;
}

const CollationInfo* UTLocale::FindCollation(const CharsetInfo* charset,
                                             const LanguageInfo* language) {
  if (charset == nullptr) charset = FindOSCharset(1);
  if (language == nullptr) language = FindOSLanguage(1);
  const CollationInfo* c = GetCollationInfoFromCharsetLang(charset, language);
  if (c == nullptr) c = GetCollationInfoFromCharsetLang(charset, &_language_info[0]);
  return c;
}

const CollationInfo* UTLocale::FindOSCollation() {
  const CharsetInfo* charset = FindOSCharset(1);
  const CollationInfo* c = FindCollation(charset, FindOSLanguage(1));
  if (c == nullptr) c = FindCollation(charset, &_language_info[0]);
  if (c == nullptr) c = FindCollation(&_charset_info[kIso8859_1Record], &_language_info[0]);
  if (c == nullptr) c = label_record("1252LATIN1");
  return c;
}

char* UTLocale::GetCollationLabel(const char* spec, char* buf, std::size_t size,
                                  const char** bracket) {
  if (bracket != nullptr) *bracket = nullptr;
  if (spec == nullptr || buf == nullptr || size == 0) return nullptr;
  const char* open = std::strchr(spec, '(');
  if (open == nullptr) open = std::strchr(spec, '{');
  const std::size_t len =
      open != nullptr ? static_cast<std::size_t>(open - spec) : std::strlen(spec);
  (void)ut_strncpy(buf, size, spec, len, nullptr, nullptr);
  if (bracket != nullptr) *bracket = open;
  return buf;
}

const CollationInfo* UTLocale::GetCollationInfoAndTailoring(const char* spec,
                                                            UTCollationTailoring* tailoring) {
  char label[33];
  const char* bracket = nullptr;
  if (GetCollationLabel(spec, label, sizeof label, &bracket) == nullptr) return nullptr;
  const CollationInfo* info = GetCollationInfoFromLabel(label);
  if (info == nullptr || bracket == nullptr) return info;
  const char close = *bracket == '(' ? ')' : '}';
  const char* options = bracket + 1;
  std::size_t len = std::strlen(options);
  while (len > 0 && (options[len - 1] == ' ' || options[len - 1] == '\t')) --len;
  if (len == 0 || options[len - 1] != close) {
    if (tailoring != nullptr) (void)tailoring->Set("", 0);
    return nullptr;
  }
  if (tailoring == nullptr) return info;
  char* text = ut_strndup(options, len - 1);
  if (text == nullptr) return nullptr;
  const unsigned ok = tailoring->Set(text, info->kind == kCollationTableDriven ? 1u : 0u);
  ut_free(text);
  return ok != 0 ? info : nullptr;
}

const CollationInfo* UTLocale::GetCollationTailoringDefaults(const char* spec,
                                                             UTCollationTailoring* tailoring) {
  char label[33];
  if (GetCollationLabel(spec, label, sizeof label, nullptr) == nullptr) return nullptr;
  const CollationInfo* info = GetCollationInfoFromLabel(label);
  if (info == nullptr || info->kind != kCollationICU || tailoring == nullptr) return info;
  const CharsetInfo* charset = FindOSCharset(0);
  if (FindOSLanguage(1) == &_language_info[kJapaneseLanguage] ||
      charset->match_label("sjis", kSchemeAll) || charset->match_label("EUC-JP", kSchemeAll)) {
    tailoring->case_sensitivity = 'A';
    tailoring->accent_sensitivity = 'y';
  }
  return info;
}
