#include "utils/base/path_split.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string Piece(const char* p, std::size_t n) {
  return p == nullptr ? "<absent>" : std::string(p, n);
}

struct SplitCase {
  const char* path;
  const char* dir;
  const char* name;
  const char* ext;
};

TEST(SplitPath, FindsPieces) {
  const SplitCase cases[] = {
      {"/usr/lib/a.b.c", "/usr/lib/", "a.b", ".c"},
      {"/usr/lib/", "/usr/lib/", "<absent>", "<absent>"},
      {"name", "<absent>", "name", "<absent>"},
      {"name.txt", "<absent>", "name", ".txt"},
      {"dir/.profile", "dir/", "<absent>", ".profile"},
      {".a.b", "<absent>", ".a", ".b"},
      {"a.d/file", "a.d/", "file", "<absent>"},
      {"/", "/", "<absent>", "<absent>"},
      {"", "<absent>", "<absent>", "<absent>"},
      {"x.", "<absent>", "x", "."},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.path);
    const char *drive, *dir, *name, *ext;
    std::size_t drive_len, dir_len, name_len, ext_len;
    ut_splitpath2(c.path, &drive, &drive_len, &dir, &dir_len, &name, &name_len, &ext, &ext_len);
    EXPECT_EQ(drive, nullptr);
    EXPECT_EQ(drive_len, 0u);
    EXPECT_EQ(Piece(dir, dir_len), c.dir);
    EXPECT_EQ(Piece(name, name_len), c.name);
    EXPECT_EQ(Piece(ext, ext_len), c.ext);
  }
}

// A character set whose lead byte 0x81 starts a two-byte character.
unsigned TwoByteLead(unsigned char lead) { return lead == 0x81 ? 2 : 1; }

TEST(SplitPath, SeparatorBytesInsideMultibyteCharactersAreNotSeparators) {
  vq::base::SetPathCharLengthFn(&TwoByteLead);
  // "\x81/" and "\x81." are single characters: the only real separator is the first "/".
  const char path[] = "d/a\x81/b\x81.c";
  const char *dir, *name, *ext;
  std::size_t dir_len, name_len, ext_len;
  ut_splitpath2(path, nullptr, nullptr, &dir, &dir_len, &name, &name_len, &ext, &ext_len);
  vq::base::SetPathCharLengthFn(nullptr);
  EXPECT_EQ(Piece(dir, dir_len), "d/");
  EXPECT_EQ(Piece(name, name_len), "a\x81/b\x81.c");
  EXPECT_EQ(Piece(ext, ext_len), "<absent>");

  // A lead byte cut off by the end of the string does not run past the terminator.
  vq::base::SetPathCharLengthFn(&TwoByteLead);
  const char cut[] = "x/y\x81";
  ut_splitpath2(cut, nullptr, nullptr, &dir, &dir_len, &name, &name_len, &ext, &ext_len);
  vq::base::SetPathCharLengthFn(nullptr);
  EXPECT_EQ(Piece(name, name_len), "y\x81");
}

TEST(SplitPath, CopiesPiecesAndReportsOverflow) {
  char drive[4] = "zz", dir[16], name[8], ext[8];
  EXPECT_EQ(ut_splitpath("/tmp/file.txt", drive, sizeof drive, dir, sizeof dir, name,
                         sizeof name, ext, sizeof ext),
            1);
  EXPECT_STREQ(drive, "");
  EXPECT_STREQ(dir, "/tmp/");
  EXPECT_STREQ(name, "file");
  EXPECT_STREQ(ext, ".txt");

  // Null buffers are skipped; an exact fit needs room for the terminator.
  EXPECT_EQ(ut_splitpath("/tmp/file.txt", nullptr, 0, nullptr, 0, name, 5, nullptr, 0), 1);
  EXPECT_EQ(ut_splitpath("/tmp/file.txt", nullptr, 0, nullptr, 0, name, 4, nullptr, 0), 0);
  EXPECT_STREQ(name, "fil");
  char guard[8];
  std::memset(guard, 0x7F, sizeof guard);
  EXPECT_EQ(ut_splitpath("/a/longdirectory/f", nullptr, 0, guard, 4, nullptr, 0, nullptr, 0),
            0);
  EXPECT_STREQ(guard, "/a/");
  EXPECT_EQ(guard[4], 0x7F);
}

struct MakeCase {
  const char* dir;
  const char* name;
  const char* ext;
  const char* separator;
  const char* expected;
};

TEST(MakePath, JoinsPieces) {
  const MakeCase cases[] = {
      {"d", "f", "txt", nullptr, "d/f.txt"},
      {"d/", "f", ".txt", "\\", "d\\f.txt"},
      {"d/", "f", "txt", nullptr, "d/f.txt"},
      {"d", "f", "txt", "\\", "d\\f.txt"},
      {"", "f", "", nullptr, "f"},
      {nullptr, nullptr, "cfg", nullptr, ".cfg"},
      {"/", "x", nullptr, nullptr, "/x"},
  };
  for (const MakeCase& c : cases) {
    SCOPED_TRACE(c.expected);
    char out[32];
    EXPECT_EQ(ut_makepath(out, sizeof out, nullptr, c.dir, c.name, c.ext, c.separator), 1);
    EXPECT_STREQ(out, c.expected);
  }
}

TEST(MakePath, ReportsWhatDoesNotFit) {
  // "dir/name.ext" is 12 characters: 13 bytes fit, 12 do not.
  char out[16];
  EXPECT_EQ(ut_makepath(out, 13, nullptr, "dir", "name", "ext", nullptr), 1);
  EXPECT_STREQ(out, "dir/name.ext");
  std::memset(out, 0x7F, sizeof out);
  EXPECT_EQ(ut_makepath(out, 12, nullptr, "dir", "name", "ext", nullptr), 0);
  EXPECT_STREQ(out, "dir/name.ex");
  EXPECT_EQ(out[12], 0x7F);
  EXPECT_EQ(ut_makepath(out, 4, nullptr, "dir", "name", nullptr, nullptr), 0);
  EXPECT_STREQ(out, "dir");
}

}  // namespace
