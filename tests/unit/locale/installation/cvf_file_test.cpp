// The table-file reader against crafted and damaged files, found through the
// installation root, and the registry's cache of pairs without a table.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "converter_fixture.h"
#include "utils/locale/conversion_table.h"
#include "utils/locale/converters_internal.h"

namespace {

void PutU32(Bytes& b, std::size_t at, std::uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4);
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// A table file written field by field.
struct CvfFile {
  std::string header = "version=2;";
  std::vector<std::string> labels;
  // entries[row][column]; 0 means no table.
  std::vector<std::vector<std::uint32_t>> entries;
  std::size_t matrix_offset = 0;  // filled by Build

  Bytes Build(std::size_t pad_to = 0) {
    Bytes b;
    PutU32(b, 0, 0);
    b.push_back(static_cast<unsigned char>(header.size()));
    b.insert(b.end(), header.begin(), header.end());
    PutU32(b, b.size(), static_cast<std::uint32_t>(labels.size()));
    for (const std::string& l : labels) {
      b.push_back(static_cast<unsigned char>(l.size()));
      b.insert(b.end(), l.begin(), l.end());
    }
    matrix_offset = b.size();
    PutU32(b, 0, static_cast<std::uint32_t>(matrix_offset));
    for (const auto& row : entries) {
      for (std::uint32_t e : row) PutU32(b, b.size(), e);
    }
    if (b.size() < pad_to) b.resize(pad_to, 0);
    return b;
  }
};

// A 128-byte table whose byte i is f(i), written at `offset`.
void PutTable(Bytes& b, std::size_t offset, unsigned char first) {
  if (b.size() < offset + 128) b.resize(offset + 128, 0);
  for (int i = 0; i < 128; ++i) b[offset + i] = static_cast<unsigned char>(first + i);
}

// An installation root holding "vellum.cvf" and nothing else, one level inside a fresh
// temporary directory (the parent of a root is searched too).
class CvfDir {
 public:
  CvfDir() {
    char templ[] = "/tmp/vq_cvf_XXXXXX";
    parent_ = mkdtemp(templ);
    dir_ = parent_ + "/root";
    mkdir(dir_.c_str(), 0700);
  }
  ~CvfDir() {
    unlink(file().c_str());
    rmdir(dir_.c_str());
    rmdir(parent_.c_str());
  }
  std::string file() const { return dir_ + "/vellum.cvf"; }
  const char* dir() const { return dir_.c_str(); }
  void Write(const Bytes& b) const {
    std::FILE* f = std::fopen(file().c_str(), "wb");
    ASSERT_NE(f, nullptr);
    if (!b.empty()) {
      ASSERT_EQ(std::fwrite(b.data(), 1, b.size(), f), b.size());
    }
    std::fclose(f);
  }

 private:
  std::string parent_;
  std::string dir_;
};

// The installation root is the test directory: no library, so no generated tables.
class CvfTest : public ::testing::Test {
 protected:
  CvfTest() : installation_(dir_.dir()) {}
  bool Read(unsigned char* out, const char* to, const char* from) {
    return locale_.read_cvf_conversion_table(out, Charset(to), Charset(from));
  }

  CvfDir dir_;
  ScopedInstallation installation_;
  UTLocale locale_;
};

// Three sets, one table from ISO-8859-1 (record 1) to IBM437 (record 2) at offset 256.
CvfFile ThreeSets() {
  CvfFile f;
  f.labels = {"cp850", "iso_1", "cp437"};
  f.entries.assign(3, std::vector<std::uint32_t>(3, 0));
  f.entries[1][2] = 0x40000100;
  return f;
}

TEST_F(CvfTest, ReadsTheEntryOfThePair) {
  CvfFile f = ThreeSets();
  Bytes b = f.Build();
  ASSERT_LT(b.size(), 256u);
  PutTable(b, 256, 0x10);
  dir_.Write(b);
  unsigned char out[128];
  ASSERT_TRUE(Read(out, "IBM437", "ISO-8859-1"));
  for (int i = 0; i < 128; ++i) ASSERT_EQ(out[i], 0x10 + i) << i;
  EXPECT_EQ(f.matrix_offset + 4 * (1 * 3 + 2), f.matrix_offset + 20);
  // The reverse pair and pairs not listed have no table.
  EXPECT_FALSE(Read(out, "ISO-8859-1", "IBM437"));
  EXPECT_FALSE(Read(out, "IBM850", "ISO-8859-1"));
  EXPECT_FALSE(Read(out, "windows-1252", "ISO-8859-1"));
}

TEST_F(CvfTest, HeaderAndEntryRules) {
  struct Case {
    const char* name;
    std::string header;
    std::uint32_t entry;
    bool readable;
  } cases[] = {
      {"plain header", "version=2;", 0x40000100, true},
      {"tag inside other text", "xx;version=2;yy", 0x40000100, true},
      {"old version", "version=1;", 0x40000100, false},
      {"tag without separator", "version=2", 0x40000100, false},
      {"empty header", "", 0x40000100, false},
      {"top byte 63", "version=2;", 0x3FFFFFFF, false},
      {"top byte 64", "version=2;", 0x40000100, true},
      {"top bit set", "version=2;", 0x80000100, true},
      {"entry zero", "version=2;", 0, false},
  };
  for (const Case& c : cases) {
    CvfFile f = ThreeSets();
    f.header = c.header;
    f.entries[1][2] = c.entry;
    Bytes b = f.Build();
    PutTable(b, 256, 0x30);
    dir_.Write(b);
    unsigned char out[128] = {};
    EXPECT_EQ(Read(out, "IBM437", "ISO-8859-1"), c.readable) << c.name;
    if (c.readable) {
      EXPECT_EQ(out[0], 0x30) << c.name;
    }
  }
}

TEST_F(CvfTest, DamagedFilesGiveNoTable) {
  struct Case {
    const char* name;
    void (*damage)(Bytes&);
  } cases[] = {
      {"header longer than 200 bytes",
       [](Bytes& b) {
         CvfFile f = ThreeSets();
         f.header = std::string(201, 'x') + "version=2;";
         f.header.resize(230);
         b = f.Build();
         PutTable(b, 512, 0);
       }},
      {"no character sets", [](Bytes& b) { PutU32(b, 5 + 10, 0); }},
      {"huge number of sets", [](Bytes& b) { PutU32(b, 5 + 10, 0xFFFFFFFFu); }},
      // 4 * count * count is 2^64 for count = 2^31: it must not wrap to an empty matrix.
      // The pair is found in the first row, so nothing else stops the read.
      {"number of sets whose matrix size wraps",
       [](Bytes& b) {
         CvfFile f;
         f.labels = {"iso_1", "cp437", "cp850"};
         f.entries.assign(3, std::vector<std::uint32_t>(3, 0));
         f.entries[0][1] = 0x40000100;
         b = f.Build();
         PutTable(b, 256, 0x40);
         PutU32(b, 5 + 10, 0x80000000u);
       }},
      {"matrix offset beyond the file", [](Bytes& b) { PutU32(b, 0, 0x7FFFFFF0u); }},
      {"matrix offset near 4 GiB", [](Bytes& b) { PutU32(b, 0, 0xFFFFFFFFu); }},
      {"table offset beyond the file",
       [](Bytes& b) {
         CvfFile f = ThreeSets();
         f.entries[1][2] = 0x40000000u | 0x3FFFFFFFu;
         b = f.Build();
       }},
      {"table running past the end",
       [](Bytes& b) {
         CvfFile f = ThreeSets();
         f.entries[1][2] = 0x40000100u;
         b = f.Build();
         PutTable(b, 256, 0);
         b.resize(256 + 127);
       }},
      {"label running past the end",
       [](Bytes& b) {
         const std::size_t first_label = 5 + 10 + 4;
         b.resize(first_label + 1);
         b[first_label] = 200;
       }},
      {"empty file", [](Bytes& b) { b.clear(); }},
      {"only the offset", [](Bytes& b) { b.resize(4); }},
  };
  for (const Case& c : cases) {
    CvfFile f = ThreeSets();
    Bytes b = f.Build();
    PutTable(b, 256, 0x40);
    c.damage(b);
    dir_.Write(b);
    unsigned char out[128];
    EXPECT_FALSE(Read(out, "IBM437", "ISO-8859-1")) << c.name;
  }
}

TEST_F(CvfTest, EveryTruncationFailsCleanly) {
  CvfFile f = ThreeSets();
  Bytes whole = f.Build();
  PutTable(whole, 256, 0x50);
  for (std::size_t length = 0; length < whole.size(); ++length) {
    dir_.Write(Bytes(whole.begin(), whole.begin() + length));
    unsigned char out[128];
    EXPECT_FALSE(Read(out, "IBM437", "ISO-8859-1")) << "length " << length;
  }
  dir_.Write(whole);
  unsigned char out[128];
  EXPECT_TRUE(Read(out, "IBM437", "ISO-8859-1"));
}

TEST_F(CvfTest, MissingFileGivesNoTable) {
  unsigned char out[128];
  EXPECT_FALSE(Read(out, "IBM437", "ISO-8859-1"));
}

TEST_F(CvfTest, PairWithoutTableIsLookedUpOnce) {
  CvfFile f = ThreeSets();
  Bytes b = f.Build();
  PutTable(b, 256, 0x60);
  dir_.Write(b);
  const CharsetInfo* latin1 = Charset("ISO-8859-1");
  const CharsetInfo* cp437 = Charset("IBM437");
  const CharsetInfo* cp850 = Charset("IBM850");
  EXPECT_EQ(locale_.GetConversionTable(cp850, latin1, 1, 1), nullptr);
  // The file gains the pair, but the registry remembers that it had none.
  f.entries[1][0] = 0x40000100;
  b = f.Build();
  PutTable(b, 256, 0x60);
  dir_.Write(b);
  EXPECT_EQ(locale_.GetConversionTable(cp850, latin1, 1, 1), nullptr);
  // A pair found once is the same table afterwards.
  const ConversionTable* t = locale_.GetConversionTable(cp437, latin1, 1, 1);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->from, latin1);
  EXPECT_EQ(t->to, cp437);
  for (int i = 0; i < 128; ++i) EXPECT_EQ(t->map[i], i);
  EXPECT_EQ(t->map[0x80], 0x60);
  dir_.Write(Bytes());
  EXPECT_EQ(locale_.GetConversionTable(cp437, latin1, 1, 1), t);
}

TEST_F(CvfTest, RefusesPairsThatAreNotSingleByte) {
  const CharsetInfo* latin1 = Charset("ISO-8859-1");
  EXPECT_EQ(locale_.GetConversionTable(latin1, latin1, 1, 1), nullptr);
  EXPECT_EQ(locale_.GetConversionTable(Charset("UTF-8"), latin1, 1, 1), nullptr);
  EXPECT_EQ(locale_.GetConversionTable(latin1, Charset("Shift_JIS"), 1, 1), nullptr);
  EXPECT_EQ(locale_.GetConversionTable(latin1, nullptr, 1, 1), nullptr);
}

}  // namespace
