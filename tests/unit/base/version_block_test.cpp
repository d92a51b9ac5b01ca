#include "utils/base/version_block.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "temp_dir.h"
#include "utils/base/os_info.h"

namespace {

const std::string kTag = "@@==Version==@1@";

// The bytes of a block: tag, entries each followed by a zero byte, the empty text,
// then the extension area.
std::string Block(const std::vector<std::string>& entries, const std::string& area = "") {
  std::string out = kTag;
  for (const std::string& e : entries) {
    out += e;
    out.push_back('\0');
  }
  out.push_back('\0');
  return out + area;
}

std::unique_ptr<tc> NewRecord() { return std::make_unique<tc>(); }

struct ParseCase {
  const char* name;
  std::string bytes;
  int result;
  int entries;  // expected entry count when parsed
};

TEST(VersionBlock, ParsesWellFormedAndRejectsMalformedBlocks) {
  std::vector<std::string> hundred, hundred_one;
  for (int i = 0; i < 100; ++i) hundred.push_back("K" + std::to_string(i) + "=v");
  hundred_one = hundred;
  hundred_one.push_back("LAST=1");
  const ParseCase cases[] = {
      {"one entry", Block({"KEY=1"}), 1, 1},
      {"empty value", Block({"KEY="}), 1, 1},
      {"blanked entry kept in place", Block({"A=1", std::string(5, '\1'), "B=2"}), 1, 3},
      {"100 entries", Block(hundred), 1, 100},
      {"101 entries", Block(hundred_one), 0, 0},
      {"last entry unterminated", kTag + "KEY=1", 0, 0},
      {"list without its empty text", kTag + std::string("KEY=1\0", 6), 0, 0},
      {"= before the key", Block({"=x"}), 0, 0},
      {"second = in one entry", Block({"A=1=2"}), 0, 0},
      {"entry without = not blanked", Block({"NOEQUALS"}), 0, 0},
      {"data of one byte", kTag + "K", 0, 0},
      {"tag followed by a zero byte only", kTag + std::string(1, '\0') + "K=1", 0, 0},
      {"no tag", std::string("@@==Version==@2@K=1\0\0", 21), 0, 0},
      {"extension field ends at the end of the data", Block({"EXTENSIONS=A8"}, "12345678"), 1,
       1},
      {"extension field past the end of the data", Block({"EXTENSIONS=A9"}, "12345678"), 0, 0},
      {"extension width far beyond the data", Block({"EXTENSIONS=A9999"}, "1234"), 0, 0},
      {"extension width that overflows", Block({"EXTENSIONS=A99999999999999999999999"}), 0, 0},
      {"second field past the end", Block({"EXTENSIONS=A4,B8"}, "12345678"), 0, 0},
  };
  TempDir dir;
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string p = dir.write("f", "leading bytes " + c.bytes);
    auto record = NewRecord();
    EXPECT_EQ(__Get_dbversion_info(p.c_str(), record.get(), 1), c.result);
    EXPECT_EQ(record->entry_count, static_cast<std::uint32_t>(c.entries));
  }
}

TEST(VersionBlock, FindsTheTagWhereverChunksSplitIt) {
  TempDir dir;
  const std::string block = Block({"MODULE=m", "HOST=h"});
  // Offsets that put the tag (and the byte after it) across each 4096-byte boundary.
  for (std::size_t pad : {0u, 100u, 4079u, 4080u, 4081u, 4089u, 4095u, 4096u, 8190u, 12287u}) {
    SCOPED_TRACE(pad);
    const std::string p = dir.write("f", std::string(pad, 'x') + block);
    auto record = NewRecord();
    ASSERT_EQ(__Get_dbversion_info(p.c_str(), record.get(), 1), 1);
    EXPECT_EQ(record->data_offset, static_cast<std::int64_t>(pad + 16));
    EXPECT_STREQ(__Find_arg(record.get(), "host"), "h");
  }
}

TEST(VersionBlock, DataIsLimitedTo4096Bytes) {
  TempDir dir;
  // One entry of 5000 bytes never ends within the data limit.
  const std::string p = dir.write("f", Block({"LONG=" + std::string(5000, 'v')}));
  auto record = NewRecord();
  EXPECT_EQ(__Get_dbversion_info(p.c_str(), record.get(), 1), 0);
  // 4096 bytes exactly: 4093 + "=", terminator, list end... still within.
  const std::string fits = dir.write("g", Block({"K=" + std::string(4096 - 2 - 2, 'v')}));
  EXPECT_EQ(__Get_dbversion_info(fits.c_str(), record.get(), 1), 1);
  EXPECT_EQ(record->data_bytes, 4096u);
}

TEST(VersionBlock, LookupsByKeyAndLetter) {
  TempDir dir;
  const std::string p = dir.write(
      "f", Block({"MODULE=mod", std::string(4, '\1'), "Version_Major=7", "EXTENSIONS=A8:B2,C"},
                 "AAAAAAAABB"));
  auto record = NewRecord();
  ASSERT_EQ(__Get_dbversion_info(p.c_str(), record.get(), 1), 1);
  EXPECT_EQ(__Find_arg_index(record.get(), "module"), 0);
  EXPECT_EQ(__Find_arg_index(record.get(), "VERSION_MAJOR"), 2);
  EXPECT_EQ(__Find_arg_index(record.get(), "MISSING"), -1);
  EXPECT_EQ(__Find_arg_index(record.get(), std::string(4, '\1').c_str()), -1);
  EXPECT_EQ(__Find_arg_index(nullptr, "MODULE"), -1);
  EXPECT_STREQ(__Find_arg_safe(record.get(), "MODULE", "fb"), "mod");
  EXPECT_STREQ(__Find_arg_safe(record.get(), "X", "fb"), "fb");
  EXPECT_STREQ(__Find_arg_safe(record.get(), "X", nullptr), "X");
  EXPECT_EQ(__Find_arg(record.get(), "X"), nullptr);

  ASSERT_EQ(record->extension_count, 3u);
  EXPECT_EQ(__Find_ext_index(record.get(), "B"), 1);
  EXPECT_EQ(__Find_ext_index(record.get(), "Cxx"), 2);
  EXPECT_EQ(__Find_ext_index(record.get(), "D"), -1);
  EXPECT_EQ(record->extensions[0].width, 8);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(record->extensions[1].bytes), 2), "BB");
  EXPECT_EQ(record->extensions[2].width, 0);
  EXPECT_EQ(record->data_used, record->data_bytes);
}

TEST(VersionBlock, BlankingChangesOnlyTheNamedEntryAndFields) {
  TempDir dir;
  const std::string before =
      "prefix" +
      Block({"MODULE=m", "HOST=buildhost", "DATE=d", "EXTENSIONS=A8,B4"}, "AAAAAAAABBBB") +
      "trailing bytes";
  const std::string p = dir.write("f", before);
  auto record = NewRecord();
  ASSERT_EQ(__Get_dbversion_info(p.c_str(), record.get(), 1), 1);
  ASSERT_EQ(__Zap_dbversion_info(p.c_str(), record.get(), "HOST", "B"), 1);

  const std::string after = TempDir::read(p);
  ASSERT_EQ(after.size(), before.size());
  std::string expected = before;
  const std::size_t host = expected.find("HOST=buildhost");
  expected.replace(host, 14, std::string(14, '\1'));
  expected.replace(expected.find("A8,B4") + 3, 1, "?");
  expected.replace(expected.find("BBBB"), 4, std::string(4, '\0'));
  EXPECT_EQ(after, expected);

  auto again = NewRecord();
  ASSERT_EQ(__Get_dbversion_info(p.c_str(), again.get(), 1), 1);
  EXPECT_EQ(again->entry_count, 4u);  // the blanked entry keeps its place
  EXPECT_EQ(__Find_arg(again.get(), "HOST"), nullptr);
  EXPECT_STREQ(__Find_arg(again.get(), "DATE"), "d");
  EXPECT_EQ(__Find_ext_index(again.get(), "B"), -1);
  EXPECT_EQ(__Find_ext_index(again.get(), "?"), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(again->extensions[0].bytes), 8), "AAAAAAAA");
}

TEST(VersionBlock, BlankingFailures) {
  TempDir dir;
  const std::string content = Block({"HOST=h", "EXTENSIONS=A8"}, "AAAAAAAA");
  const std::string p = dir.write("f", content);
  auto record = NewRecord();
  ASSERT_EQ(__Get_dbversion_info(p.c_str(), record.get(), 1), 1);
  // Nothing named: succeeds and leaves the file alone.
  EXPECT_EQ(__Zap_dbversion_info(p.c_str(), record.get(), "ABSENT", "Z"), 1);
  EXPECT_EQ(TempDir::read(p), content);
  // The file shrank since it was read: fewer bytes than the record's data.
  const std::string shorter = dir.write("g", content.substr(0, content.size() - 3));
  EXPECT_EQ(__Zap_dbversion_info(shorter.c_str(), record.get(), "HOST", nullptr), 0);
  EXPECT_EQ(TempDir::read(shorter), content.substr(0, content.size() - 3));
  // Cannot be opened for writing.
  EXPECT_EQ(__Zap_dbversion_info(dir.path().c_str(), record.get(), "HOST", nullptr), 0);
  EXPECT_EQ(__Zap_dbversion_info(dir.file("missing").c_str(), record.get(), "HOST", nullptr),
            0);
}

TEST(VersionBlock, SymbolicLinksOnlyWhenFollowed) {
  TempDir dir;
  const std::string p = dir.write("f", Block({"K=v"}));
  ASSERT_EQ(symlink(p.c_str(), dir.file("link").c_str()), 0);
  auto record = NewRecord();
  EXPECT_EQ(__Get_dbversion_info(dir.file("link").c_str(), record.get(), 0), 0);
  EXPECT_EQ(__Get_dbversion_info(dir.file("link").c_str(), record.get(), 1), 1);
  EXPECT_EQ(__Get_dbversion_info(dir.file("missing").c_str(), record.get(), 0), 0);
  EXPECT_EQ(__Get_dbversion_info(p.c_str(), record.get(), 0), 1);
}

TEST(VersionBlock, CloneOwnsItsPointers) {
  TempDir dir;
  const std::string p = dir.write("f", Block({"A=1", "B=two", "EXTENSIONS=X3"}, "xyz"));
  auto source = NewRecord();
  ASSERT_EQ(__Get_dbversion_info(p.c_str(), source.get(), 1), 1);
  auto target = NewRecord();
  __Clone_dbversion_info(source.get(), target.get());
  std::memset(source.get(), 0x5A, sizeof(tc));  // nothing of the copy may point here
  EXPECT_STREQ(__Find_arg(target.get(), "B"), "two");
  const char* begin = target->data;
  const char* end = target->data + sizeof target->data;
  for (std::uint32_t i = 0; i < target->entry_count; ++i) {
    EXPECT_TRUE(target->entries[i].key >= begin && target->entries[i].key < end);
    EXPECT_TRUE(target->entries[i].value >= begin && target->entries[i].value < end);
  }
  ASSERT_EQ(__Find_ext_index(target.get(), "X"), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(target->extensions[0].bytes), 3), "xyz");
}

TEST(VersionBlock, FindInMemory) {
  auto record = NewRecord();
  const std::string b = "junk" + kTag + "K";
  EXPECT_EQ(__Get_dbversion_info_mem(b.data(), b.size(), record.get()), 20);
  EXPECT_EQ(record->data_bytes, 1u);
  // The byte after the tag must be inside the buffer.
  EXPECT_EQ(__Get_dbversion_info_mem(b.data(), b.size() - 1, record.get()), -1);
  const std::string big = kTag + std::string(6000, 'k');
  EXPECT_EQ(__Get_dbversion_info_mem(big.data(), big.size(), record.get()), 16);
  EXPECT_EQ(record->data_bytes, 4096u);
}

TEST(VersionBlock, VersionNumbers) {
  struct Case {
    const char* name;
    std::vector<std::string> entries;
    int result;
    int major, minor, patch, build;
  } const cases[] = {
      {"all four",
       {"VERSION_MAJOR=12", "VERSION_MINOR=0", "VERSION_PATCH=3", "BUILD_NUMBER=45"},
       1,
       12,
       0,
       3,
       45},
      {"keys regardless of case, later wins",
       {"version_major=1", "VERSION_MINOR=2", "Version_Patch=3", "BUILD_NUMBER=4",
        "VERSION_MAJOR=9"},
       1,
       9,
       2,
       3,
       4},
      {"no build number",
       {"VERSION_MAJOR=1", "VERSION_MINOR=2", "VERSION_PATCH=3"},
       0,
       -1,
       -1,
       -1,
       -1},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string p = dir.write("f", Block(c.entries));
    int v[4] = {-1, -1, -1, -1};
    EXPECT_EQ(GetVSRUnixVer(p.c_str(), &v[0], &v[1], &v[2], &v[3]), c.result);
    EXPECT_EQ(v[0], c.major);
    EXPECT_EQ(v[1], c.minor);
    EXPECT_EQ(v[2], c.patch);
    EXPECT_EQ(v[3], c.build);
  }
  int v[4];
  EXPECT_EQ(GetVSRUnixVer(dir.file("missing").c_str(), &v[0], &v[1], &v[2], &v[3]), 0);
}

TEST(VersionBlock, ReadsTheBlockOfABuiltLibrary) {
  auto record = NewRecord();
  ASSERT_EQ(__Get_dbversion_info(VQ_VERSIONED_FIXTURE, record.get(), 1), 1);
  EXPECT_STREQ(__Find_arg(record.get(), "MODULE"), "versioned_fixture");
  EXPECT_STREQ(__Find_arg(record.get(), "HOST"), "fixture-host");
  ASSERT_EQ(__Find_ext_index(record.get(), "B"), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(record->extensions[1].bytes), 4), "wxyz");

  int v[4];
  ASSERT_EQ(GetVSRUnixVer(VQ_VERSIONED_FIXTURE, &v[0], &v[1], &v[2], &v[3]), 1);
  VCFileVersion version;
  ASSERT_TRUE(version.set_from_file(VQ_VERSIONED_FIXTURE));
  EXPECT_STREQ(version.as_string(), "3.1.4.159");

  // The library stays a loadable 64-bit library after its block is blanked in a copy.
  TempDir dir;
  const std::string copy = dir.write("copy.so", TempDir::read(VQ_VERSIONED_FIXTURE));
  ASSERT_EQ(__Get_dbversion_info(copy.c_str(), record.get(), 1), 1);
  ASSERT_EQ(__Zap_dbversion_info(copy.c_str(), record.get(), "HOST", "A"), 1);
  ASSERT_EQ(__Get_dbversion_info(copy.c_str(), record.get(), 1), 1);
  EXPECT_EQ(__Find_arg(record.get(), "HOST"), nullptr);
  EXPECT_STREQ(__Find_arg(record.get(), "BUILD_NUMBER"), "159");
  EXPECT_EQ(UTFileBitnessInfo::getBitness(copy.c_str()), 64);
}

}  // namespace
