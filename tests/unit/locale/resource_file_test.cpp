#include "utils/locale/resource_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "resource_fixture.h"
#include "scoped_env.h"
#include "utils/locale/lang_string.h"
#include "utils/locale/utlocale.h"

namespace {

using resfix::Build;
using resfix::Messages;
using resfix::TempDir;

std::string Read(UTVCResFile& file, unsigned long id, unsigned int size = 1024) {
  std::string buf(size, 'Z');
  unsigned int n = file.GetString(id, buf.data(), size);
  EXPECT_EQ(std::strlen(buf.c_str()), n) << "id " << id;
  return buf.substr(0, n);
}

const Messages kSample = {
    {0, "zero"},
    {1, "one"},
    {255, "last of the first table"},
    {256, "first of the second"},
    {5000, "120"},
    {8643, "charset=UTF-8;language=English"},
    {40000, "forty thousand"},
    {65535, "the highest number"},
};

// The index widths of one layout, printed as "Bits8_8_0_0" in test names and messages.
struct Layout {
  resfix::Widths widths;
};
std::string LayoutName(const Layout& l) {
  const resfix::Widths& w = l.widths;
  return "Bits" + std::to_string(w[0]) + "_" + std::to_string(w[1]) + "_" + std::to_string(w[2]) +
         "_" + std::to_string(w[3]);
}
void PrintTo(const Layout& l, std::ostream* os) { *os << LayoutName(l); }

class ResourceFileLayouts : public ::testing::TestWithParam<Layout> {};

TEST_P(ResourceFileLayouts, EveryMessageReadsBackAndOnlyThoseExist) {
  TempDir dir;
  std::string path = dir.Write("sample.res", Build(kSample, GetParam().widths));
  UTVCResFile file;
  ASSERT_TRUE(file.Open(path.c_str())) << file.open_error();
  for (const auto& [id, text] : kSample) EXPECT_EQ(text, Read(file, id));
  for (unsigned long id : {2ul, 254ul, 257ul, 4999ul, 8642ul, 65534ul}) {
    EXPECT_EQ("", Read(file, id)) << id;
  }
  // Only the low 16 bits of a number take part.
  EXPECT_EQ("one", Read(file, 65536 + 1));
  EXPECT_EQ("forty thousand", Read(file, 3ul * 65536 + 40000));
  EXPECT_EQ(120, file.GetVersion());
  EXPECT_EQ(UTLocale::GetCharsetInfoFromLabel("UTF-8", kSchemeAll), file.charset());
}

INSTANTIATE_TEST_SUITE_P(Widths, ResourceFileLayouts,
                         ::testing::Values(Layout{{8, 8, 0, 0}}, Layout{{16, 0, 0, 0}},
                                           Layout{{4, 4, 4, 4}}, Layout{{4, 12, 0, 0}},
                                           Layout{{1, 15, 0, 0}}),
                         [](const ::testing::TestParamInfo<Layout>& info) {
                           return LayoutName(info.param);
                         });

TEST(ResourceFile, TwoLevelIndexPlacesMessage8643AtEntries33And195) {
  std::vector<unsigned char> bytes = Build({{8643, "x"}}, {8, 8, 0, 0});
  auto u32 = [&bytes](std::size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | bytes[at + 3] << 24;
  };
  std::uint32_t root = u32(16);
  std::uint32_t second = u32(root + 4 * 33);
  ASSERT_NE(0u, second);
  std::uint32_t leaf = u32(second + 4 * 195);
  ASSERT_NE(0u, leaf);
  EXPECT_EQ('x', bytes[leaf + 2]);
}

TEST(ResourceFile, LongTextIsCutToTheBuffer) {
  TempDir dir;
  std::string long_text(300, 'a');
  std::string path = dir.Write("long.res", Build({{7, long_text}}));
  UTVCResFile file;
  ASSERT_TRUE(file.Open(path.c_str()));
  char buf[100];
  std::memset(buf, 'Z', sizeof buf);
  EXPECT_EQ(99u, file.GetString(7, buf, sizeof buf));
  EXPECT_EQ(std::string(99, 'a'), std::string(buf));
  EXPECT_EQ(0u, file.GetString(7, buf, 0));
  EXPECT_EQ(0u, file.GetString(7, buf, 1));
  EXPECT_EQ('\0', buf[0]);
  unsigned short units[4] = {1, 1, 1, 1};
  EXPECT_EQ(0u, file.GetStringUTF16(7, units, 4));
  EXPECT_EQ(0, units[0]);
  EXPECT_FALSE(file.UTF16Supported());
  EXPECT_EQ(nullptr, file.GetDLLHandle());
}

TEST(ResourceFile, CharsetComesFromMessage8643) {
  struct Case {
    const char* text;   // null: message absent
    const char* label;  // null: no charset
  };
  const Case cases[] = {
      {"charset=ISO_8859-1:1987;language=English", "ISO_8859-1:1987"},
      {"12345678windows-1252;language=German;more", "windows-1252"},
      {"charset=UTF-8", nullptr},  // no ";language="
      {"charset=no-such-set;language=x", nullptr},
      {"short;language=x", nullptr},  // fewer than eight bytes before the label
      {nullptr, nullptr},
  };
  TempDir dir;
  for (const Case& c : cases) {
    Messages m = {{1, "text"}};
    if (c.text != nullptr) m[8643] = c.text;
    std::string path = dir.Write("cs.res", Build(m));
    UTVCResFile file;
    ASSERT_TRUE(file.Open(path.c_str())) << (c.text ? c.text : "(absent)");
    const CharsetInfo* want =
        c.label ? UTLocale::GetCharsetInfoFromLabel(c.label, kSchemeAll) : nullptr;
    EXPECT_EQ(want, file.charset()) << (c.text ? c.text : "(absent)");
  }
}

// ---- Damaged and foreign files ------------------------------------------------------

std::vector<unsigned char> Sample() {
  return Build({{1, "one"}, {8643, "charset=UTF-8;language=English"}, {300, "three hundred"}});
}

void PutU32(std::vector<unsigned char>& b, std::size_t at, std::uint32_t v) {
  resfix::PutU32(b, at, v);
}

TEST(ResourceFileDamage, HeaderFaultsFailToOpen) {
  struct Case {
    const char* name;
    void (*spoil)(std::vector<unsigned char>&);
  };
  const Case cases[] = {
      {"bad magic", [](std::vector<unsigned char>& b) { b[0] = 'X'; }},
      {"byte order word", [](std::vector<unsigned char>& b) { PutU32(b, 4, 0x78563412u); }},
      {"word at 8 not zero", [](std::vector<unsigned char>& b) { PutU32(b, 8, 1); }},
      {"widths sum to 15", [](std::vector<unsigned char>& b) { b[13] = 7; }},
      {"widths sum to 17", [](std::vector<unsigned char>& b) { b[13] = 9; }},
      {"level after an unused one",
       [](std::vector<unsigned char>& b) {
         b[13] = 0;
         b[14] = 8;
       }},
      {"first width zero",
       [](std::vector<unsigned char>& b) {
         b[12] = 0;
         b[13] = 16;
       }},
      {"root at the file's end",
       [](std::vector<unsigned char>& b) {
         PutU32(b, 16, static_cast<std::uint32_t>(b.size()));
       }},
      {"root table runs past the end",
       [](std::vector<unsigned char>& b) {
         PutU32(b, 16, static_cast<std::uint32_t>(b.size() - 8));
       }},
      {"root far beyond", [](std::vector<unsigned char>& b) { PutU32(b, 16, 0xFFFFFFF0u); }},
  };
  TempDir dir;
  for (const Case& c : cases) {
    std::vector<unsigned char> bytes = Sample();
    c.spoil(bytes);
    std::string path = dir.Write("bad.res", bytes);
    UTVCResFile file;
    EXPECT_FALSE(file.Open(path.c_str())) << c.name;
    EXPECT_FALSE(file.is_open()) << c.name;
    EXPECT_STRNE("", file.open_error()) << c.name;
    EXPECT_EQ("", Read(file, 1)) << c.name;
  }
}

TEST(ResourceFileDamage, CorruptIndexEntriesAndLeavesFailToOpen) {
  // In a two-level file: the root entry of message 1 (entry 0), its second-level entry,
  // and its leaf length, each pointed beyond the file.
  std::vector<unsigned char> good = Sample();
  auto u32 = [](const std::vector<unsigned char>& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 |
                                      b[at + 3] << 24);
  };
  const std::uint32_t root = u32(good, 16);
  const std::uint32_t second = u32(good, root);
  const std::uint32_t leaf = u32(good, second + 4 * 1);
  const std::uint32_t size = static_cast<std::uint32_t>(good.size());
  struct Case {
    const char* name;
    std::size_t at;
    std::uint32_t value;
    bool u16;
  };
  const Case cases[] = {
      {"root entry beyond the file", root, size + 100, false},
      {"root entry at the file's end", root, size, false},
      {"second table runs past the end", root, size - 16, false},
      {"leaf offset beyond the file", second + 4, size + 1, false},
      {"leaf offset on the last byte", second + 4, size - 1, false},
      {"leaf length past the end", leaf, 0xFFFF, true},
      {"leaf length one too long", leaf, 4, true},  // "one" is 3 bytes, then more leaves
  };
  TempDir dir;
  for (const Case& c : cases) {
    std::vector<unsigned char> bytes = good;
    if (c.u16) {
      // Make this leaf the file's last one so that a longer length reaches past it.
      bytes.resize(leaf + 2 + 3);
      bytes[c.at] = static_cast<unsigned char>(c.value & 0xFF);
      bytes[c.at + 1] = static_cast<unsigned char>(c.value >> 8);
      PutU32(bytes, second + 4 * (300 & 0xFF), 0);  // drop leaves cut off above
      PutU32(bytes, root + 4 * (300 >> 8), 0);
      PutU32(bytes, root + 4 * (8643 >> 8), 0);
    } else {
      PutU32(bytes, c.at, c.value);
    }
    std::string path = dir.Write("bad.res", bytes);
    UTVCResFile file;
    EXPECT_FALSE(file.Open(path.c_str())) << c.name;
    EXPECT_STRNE("", file.open_error()) << c.name;
  }
}

TEST(ResourceFileDamage, EveryTruncationFailsCleanly) {
  std::vector<unsigned char> good =
      Build({{1, "one"}, {2, "two"}, {5000, "120"}}, {4, 4, 4, 4});
  TempDir dir;
  for (std::size_t length = 0; length < good.size(); ++length) {
    std::vector<unsigned char> cut(good.begin(), good.begin() + static_cast<long>(length));
    std::string path = dir.Write("cut.res", cut);
    UTVCResFile file;
    EXPECT_FALSE(file.Open(path.c_str())) << "length " << length;
    EXPECT_EQ("", Read(file, 1)) << "length " << length;
  }
  std::string path = dir.Write("whole.res", good);
  UTVCResFile file;
  ASSERT_TRUE(file.Open(path.c_str()));
  EXPECT_EQ("two", Read(file, 2));
}

// Random damage to offsets, lengths and text: the file either fails to open or every
// lookup stays inside it (the sanitizer build reports any read outside the mapping).
TEST(ResourceFileDamage, RandomDamageNeverReadsOutsideTheFile) {
  const std::vector<unsigned char> good = Build({{1, "one"},
                                                 {2, "two"},
                                                 {300, std::string(40, 'x')},
                                                 {5000, "120"},
                                                 {8643, "charset=UTF-8;language=English"},
                                                 {65535, "last"}},
                                                {4, 4, 4, 4});
  TempDir dir;
  std::uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  int opened = 0;
  for (int round = 0; round < 400; ++round) {
    std::vector<unsigned char> bytes = good;
    int changes = 1 + static_cast<int>(next() % 3);
    for (int c = 0; c < changes; ++c) {
      std::size_t at = 20 + next() % (bytes.size() - 20);
      if (next() % 2 == 0) {
        bytes[at] = static_cast<unsigned char>(next());
      } else if (at + 4 <= bytes.size()) {
        // An offset-sized value near the file's end or just beyond it.
        PutU32(bytes, at, static_cast<std::uint32_t>(bytes.size() - 8 + next() % 16));
      }
    }
    std::string path = dir.Write("damaged.res", bytes);
    UTVCResFile file;
    if (!file.Open(path.c_str())) {
      EXPECT_STRNE("", file.open_error());
      continue;
    }
    ++opened;
    char buf[64];
    for (unsigned long id : {0ul, 1ul, 2ul, 3ul, 300ul, 5000ul, 8643ul, 65535ul}) {
      file.GetString(id, buf, sizeof buf);
    }
    for (int k = 0; k < 32; ++k) file.GetString(next() & 0xFFFF, buf, sizeof buf);
  }
  EXPECT_GT(opened, 0);  // some damage (to texts) leaves a usable file
}

TEST(ResourceFileDamage, MissingAndDirectoryPathsFailToOpen) {
  TempDir dir;
  UTVCResFile file;
  EXPECT_FALSE(file.Open((dir.path() + "/absent.res").c_str()));
  EXPECT_STREQ("cannot open the file", file.open_error());
  EXPECT_FALSE(file.Open(dir.path().c_str()));
}

TEST(ResourceFile, ReopenAndCloseLeaveAClosedObject) {
  TempDir dir;
  std::string a = dir.Write("a.res", Build({{1, "from a"}}));
  std::string bad = dir.Write("bad.res", std::vector<unsigned char>(10, 0));
  UTVCResFile file;
  ASSERT_TRUE(file.Open(a.c_str()));
  EXPECT_EQ("from a", Read(file, 1));
  EXPECT_FALSE(file.Open(bad.c_str()));  // a failed re-open closes the file
  EXPECT_FALSE(file.is_open());
  EXPECT_EQ("", Read(file, 1));
  ASSERT_TRUE(file.Open(a.c_str()));
  file.Close();
  file.Close();
  EXPECT_EQ("", Read(file, 1));
}

// ---- Names and location ---------------------------------------------------------------

TEST(ResourceFileName, BaseNames) {
  struct Case {
    const char* language;
    unsigned int variant;
    const char* os_charset;  // VCCHARSET, null for unset
    const char* name;
  };
  const Case cases[] = {
      {"en", 0, nullptr, "vqlgen12.res"},
      {"en", 1, nullptr, "vqlgen_bw12.res"},
      {"fr", 0, "Shift_JIS", "vqlgfr12.res"},
      {"de", 0, "ISO_8859-1:1987", "vqlgde12_utf8.res"},
      {"de", 7, nullptr, "vqlgde_bw12_utf8.res"},
      {"ja", 0, "Shift_JIS", "vqlgja12_sjis.res"},
      {"ja", 0, "Windows-31J", "vqlgja12_sjis.res"},
      {"ja", 0, "EUC-JP", "vqlgja12_eucjis.res"},
      {"ja", 0, "UTF-8", "vqlgja12_utf8.res"},
      {"zh", 0, "GBK", "vqlgzh12_cp936.res"},
      {"zh", 0, "GB18030", "vqlgzh12_cp936.res"},
      {"zh", 0, "GB2312", "vqlgzh12_eucgb.res"},
      {"zh", 1, "UTF-8", "vqlgzh_bw12_utf8.res"},
      {"JA", 0, "Shift_JIS", "vqlgJA12.res"},  // codes compare exactly
  };
  for (const Case& c : cases) {
    ScopedEnv env;
    env.Set("VCCHARSET", c.os_charset);
    char buf[vq_resfile::kBaseNameBytes];
    GetResourceFileBaseName(buf, c.language, c.variant);
    EXPECT_STREQ(c.name, buf) << c.language << " " << (c.os_charset ? c.os_charset : "-");
  }
  char buf[vq_resfile::kBaseNameBytes];
  GetResourceFileBaseName(buf, "an-overlong-language-code", 1);
  EXPECT_LT(std::strlen(buf), sizeof buf);
}

// ---- The built files ------------------------------------------------------------------

// Parses a text source: number, tab, text with \n, \t and \\ escapes.
std::map<unsigned long, std::string> ReadSource(const std::string& path) {
  std::map<unsigned long, std::string> texts;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::size_t tab = line.find('\t');
    std::string text;
    for (std::size_t i = tab + 1; i < line.size(); ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) {
        char e = line[++i];
        text += e == 'n' ? '\n' : e == 't' ? '\t' : e;
      } else {
        text += line[i];
      }
    }
    texts[std::stoul(line.substr(0, tab))] = text;
  }
  return texts;
}

TEST(GeneratedResourceFiles, HoldEveryTextOfTheirSource) {
  for (const char* name : {"vqlgen12", "vqlgde12_utf8"}) {
    UTVCResFile file;
    std::string path = std::string(VQ_TEST_RES_DIR) + "/" + name + ".res";
    ASSERT_TRUE(file.Open(path.c_str())) << path << ": " << file.open_error();
    auto texts = ReadSource(std::string(VQ_TEST_MESSAGE_SOURCES) + "/" + name + ".txt");
    ASSERT_FALSE(texts.empty());
    for (const auto& [id, text] : texts)
      EXPECT_EQ(text, Read(file, id, 4096)) << name << " " << id;
    EXPECT_EQ(UTLocale::GetCharsetInfoFromLabel("UTF-8", kSchemeAll), file.charset());
    EXPECT_GE(file.GetVersion(), 120);
  }
}

TEST(GeneratedResourceFiles, EnglishHoldsEveryRequiredMessage) {
  UTVCResFile file;
  std::string path = std::string(VQ_TEST_RES_DIR) + "/vqlgen12.res";
  ASSERT_TRUE(file.Open(path.c_str()));
  std::ifstream in(std::string(VQ_TEST_MESSAGE_SOURCES) + "/required_numbers.txt");
  std::string line;
  int checked = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    unsigned long id = std::stoul(line);
    EXPECT_NE("", Read(file, id)) << "message " << id << " has no text";
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

}  // namespace
