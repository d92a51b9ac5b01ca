#include "utils/base/path_helpers.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace {

// The path functions only hand the collation to the character-length lookup, so any
// object serves as the operating system's collation here.
UTCollation& Os() {
  static char object;
  return *reinterpret_cast<UTCollation*>(&object);
}

// A character set whose byte 0x81 leads a two-byte character.
unsigned TwoByteLead(const UTCollation*, const UTLocale*, unsigned char lead) {
  return lead == 0x81 ? 2 : 1;
}

class MultibyteScope {
 public:
  MultibyteScope() { vq::base::SetCollationCharLengthFn(&TwoByteLead); }
  ~MultibyteScope() { vq::base::SetCollationCharLengthFn(nullptr); }
};

long Offset(const char* base, const char* p) { return p == nullptr ? -1 : p - base; }

TEST(PathHelpers, Separators) {
  struct Case {
    const char* path;
    int mode;
    long last;
    long next;
  } const cases[] = {
      {"a/b/c", 0, 3, 1},   {"a/b/c", 1, 3, 1},   {"c:\\x", 2, 2, 1},
      {"c:\\x", 0, -1, -1}, {"c:\\x", 3, -1, -1}, {"a/b", 7, -1, -1},
      {"abc", 0, -1, -1},   {"", 2, -1, -1},      {"/", 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " mode " + std::to_string(c.mode));
    EXPECT_EQ(Offset(c.path, FindLastPathSeparator(Os(), c.path, c.mode)), c.last);
    EXPECT_EQ(Offset(c.path, FindNextPathSeparator(Os(), c.path, c.mode)), c.next);
    EXPECT_EQ(Offset(c.path, FindFilename(Os(), c.path, c.mode)), c.last + 1);
  }
  EXPECT_EQ(Offset("a/b", FindNextUNCSeparator(Os(), "a/b")), 1);
  EXPECT_EQ(FindLastPathSeparator(Os(), nullptr, 0), nullptr);
}

TEST(PathHelpers, SeparatorBytesInsideMultibyteCharacters) {
  MultibyteScope multibyte;
  const char path[] = "a\x81/b/c\x81.d";
  EXPECT_EQ(Offset(path, FindNextPathSeparator(Os(), path, 0)), 4);
  EXPECT_EQ(Offset(path, FindLastPathSeparator(Os(), path, 0)), 4);
  EXPECT_EQ(FindExtensionSeparator(Os(), path), nullptr);
  const char cut[] = "a/\x81";  // a lead byte cut by the end
  EXPECT_EQ(Offset(cut, FindLastPathSeparator(Os(), cut, 0)), 1);
}

TEST(PathHelpers, AppendPathSeparator) {
  struct Case {
    const char* path;
    unsigned size;
    const char* result;
    long returned;  // offset, -1 for null
    unsigned remaining;
  } const cases[] = {
      {"dir", 16, "dir/", 4, 12}, {"dir/", 16, "dir/", 4, 12}, {"", 16, "/", 1, 15},
      {"abc", 5, "abc/", 4, 0},   {"abc", 4, "abc", -1, 0},    {"a/b", 8, "a/b/", 4, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " in " + std::to_string(c.size));
    char buf[32];
    std::memset(buf, 0x7F, sizeof buf);
    std::strcpy(buf, c.path);
    unsigned remaining = 99;
    char* p = AppendPathSeparator(Os(), buf, c.size, &remaining);
    EXPECT_STREQ(buf, c.result);
    EXPECT_EQ(Offset(buf, p), c.returned);
    EXPECT_EQ(remaining, c.remaining);
    EXPECT_EQ(buf[c.size], 0x7F);
  }
}

TEST(PathHelpers, FileNames) {
  char buf[32];
  struct Case {
    const char* path;
    const char* without_name;
    const char* name;
    const char* name_no_ext;
    long ext;  // offset of the extension separator
  } const cases[] = {
      {"a/b/c", "a/b/", "c", "c", -1},
      {"name", "", "name", "name", -1},
      {"/x", "/", "x", "x", -1},
      {"a/b.c.d", "a/", "b.c.d", "b.c", 5},
      {"dir.d/file", "dir.d/", "file", "file", -1},
      {".profile", "", ".profile", "", 0},
      {"a/.profile", "a/", ".profile", "", 2},
      {"file.", "", "file.", "file", 4},
      {"dir/", "dir/", "", "", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::strcpy(buf, c.path);
    EXPECT_STREQ(RemoveFilename(Os(), buf), c.without_name);
    EXPECT_STREQ(GetFilename(Os(), c.path, buf, sizeof buf), c.name);
    EXPECT_STREQ(GetFilenameNoExtension(Os(), c.path, buf, sizeof buf), c.name_no_ext);
    EXPECT_EQ(Offset(c.path, FindExtensionSeparator(Os(), c.path)), c.ext);
  }
  // Copies are cut to the buffer.
  char small[8];
  std::memset(small, 0x7F, sizeof small);
  EXPECT_STREQ(GetFilename(Os(), "dir/longname", small, 5), "long");
  EXPECT_EQ(small[5], 0x7F);
  EXPECT_STREQ(GetFilenameNoExtension(Os(), "dir/longname.txt", small, 3), "lo");
}

TEST(PathHelpers, Extensions) {
  struct Case {
    const char* path;
    const char* ext;
    unsigned size;
    const char* replaced;
    const char* appended;
  } const cases[] = {
      {"a/b.txt", "log", 32, "a/b.log", "a/b.txt"},
      {"a/b.txt", ".log", 32, "a/b.log", "a/b.txt"},
      {"a/b.txt", nullptr, 32, "a/b", "a/b.txt"},
      {"a/b", "x", 32, "a/b.x", "a/b.x"},
      {"d.d/f", "ini", 32, "d.d/f.ini", "d.d/f.ini"},
      {"ab.txt", "longext", 7, "ab.lon", "ab.txt"},
      {"abcd", "ext", 6, "abcd.", "abcd."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " + " + (c.ext ? c.ext : "null"));
    char buf[40];
    std::memset(buf, 0x7F, sizeof buf);
    std::strcpy(buf, c.path);
    EXPECT_STREQ(ReplaceExtension(Os(), buf, c.size, c.ext), c.replaced);
    EXPECT_EQ(buf[c.size], 0x7F);
    std::strcpy(buf, c.path);
    EXPECT_STREQ(AppendExtension(Os(), buf, c.size, c.ext), c.appended);
    EXPECT_EQ(buf[c.size], 0x7F);
  }
}

TEST(PathHelpers, TrailingSeparators) {
  struct Case {
    const char* path;
    const char* after;
    long slash;      // RemoveTrailingSlash's result
    long backslash;  // RemoveTrailingBackslash's result
  } const cases[] = {
      {"/", "/", 0, 0},     {"/a/", "/a", 2, 1},      {"a", "a", -1, -1},
      {"a/b", "a/b", 1, 1}, {"c:a/x", "c:a/x", 3, 2}, {"c:/x/", "c:/x", 4, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    char buf[16];
    std::strcpy(buf, c.path);
    EXPECT_EQ(Offset(buf, RemoveTrailingBackslash(Os(), buf)), c.backslash);
    EXPECT_STREQ(buf, c.path);  // never changes the path
    EXPECT_EQ(Offset(buf, RemoveTrailingSlash(Os(), buf)), c.slash);
    EXPECT_STREQ(buf, c.after);
  }
}

TEST(PathHelpers, QualifiedAndCanonicalPaths) {
  EXPECT_TRUE(IsFullyQualifiedPathname("/a"));
  EXPECT_FALSE(IsFullyQualifiedPathname("/"));
  EXPECT_FALSE(IsFullyQualifiedPathname("a/b"));
  EXPECT_FALSE(IsFullyQualifiedPathname(nullptr));

  TempDir dir;
  ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
  char resolved[PATH_MAX];
  ASSERT_NE(realpath(dir.path().c_str(), resolved), nullptr);
  const std::string expected = std::string(resolved) + "/sub";
  char buf[4097];
  std::snprintf(buf, sizeof buf, "%s/sub/../sub/.", dir.path().c_str());
  EXPECT_EQ(CanonicalizePath(buf, sizeof buf), buf);
  EXPECT_EQ(std::string(buf), expected);
  // Too small: refused, the path left as it was.
  std::snprintf(buf, sizeof buf, "%s/sub/.", dir.path().c_str());
  const std::string before = buf;
  EXPECT_EQ(CanonicalizePath(buf, static_cast<unsigned>(expected.size())), nullptr);
  EXPECT_EQ(std::string(buf), before);
  std::snprintf(buf, sizeof buf, "%s/missing", dir.path().c_str());
  EXPECT_EQ(CanonicalizePath(buf, sizeof buf), nullptr);

  EXPECT_TRUE(FileExists(dir.write("f", "x").c_str()));
  EXPECT_FALSE(FileExists(dir.file("missing").c_str()));
  EXPECT_EQ(MakeDirectoryAccessible(dir.path().c_str()), 1);
}

TEST(PathHelpers, DiskFreeSpace) {
  TempDir dir;
  unsigned long long available = 0, total = 0;
  ASSERT_EQ(DiskFreeSpace(dir.path().c_str(), &available, &total), 1);
  EXPECT_GT(total, 0u);
  EXPECT_LE(available, total);
  unsigned long long a = 7, t = 9;
  EXPECT_EQ(DiskFreeSpace(nullptr, &a, &t), 0);
  EXPECT_EQ(DiskFreeSpace(dir.file("missing").c_str(), &a, &t), 0);
  EXPECT_EQ(a, 7u);
  EXPECT_EQ(t, 9u);
}

TEST(PathHelpers, VersionedNames) {
  char buf[16];
  EXPECT_EQ(MakeVersionedName(buf, sizeof buf, "p", 3), 1);
  EXPECT_STREQ(buf, "p.3");
  EXPECT_EQ(MakeVersionedName(buf, sizeof buf, "p", -12), 1);
  EXPECT_STREQ(buf, "p.-12");
  EXPECT_EQ(MakeVersionedName(buf, 6, "file", 12), 0);
  EXPECT_STREQ(buf, "file.");
}

TEST(PathHelpers, CaseInsensitiveSearch) {
  struct Case {
    const char* haystack;
    unsigned haystack_len;
    const char* needle;
    long found;
  } const cases[] = {
      {"Hello World", 11, "WORLD", 6}, {"Hello World", 11, "hello", 0},
      {"Hello World", 11, "xyz", -1},  {"abc", 3, "abcd", -1},
      {"abcdef", 3, "def", -1},        {"aaa", 3, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.needle);
    EXPECT_EQ(
        Offset(c.haystack, stristr(c.haystack, c.haystack_len, c.needle,
                                   static_cast<unsigned>(std::strlen(c.needle)), nullptr)),
        c.found);
  }
  EXPECT_EQ(stristr(nullptr, 3, "a", 1, nullptr), nullptr);
  EXPECT_EQ(stristr("abc", 3, nullptr, 1, nullptr), nullptr);

  // "AB" lies at byte 1, but byte 1 is the trail byte of a two-byte character.
  const char text[] =
      "\x81"
      "AB";
  EXPECT_EQ(Offset(text, stristr(text, 3, "ab", 2, nullptr)), 1);
  MultibyteScope multibyte;
  EXPECT_EQ(stristr(text, 3, "ab", 2, nullptr), nullptr);
  const char text2[] =
      "\x81"
      "AxAB";
  EXPECT_EQ(Offset(text2, stristr(text2, 5, "ab", 2, nullptr)), 3);
}

// Writes `files` (name = content) into the directory.
void Populate(const TempDir& dir,
              const std::vector<std::pair<std::string, std::string>>& files) {
  for (const auto& f : files) dir.write(f.first, f.second);
}

TEST(PathHelpers, VersionedRenames) {
  struct Case {
    const char* name;
    long keep;
    std::vector<std::pair<std::string, std::string>> before;
    bool ok;
    std::vector<std::pair<std::string, std::string>> after;  // "<missing>" for absent
  } const cases[] = {
      {"first version", 0, {{"p", "new"}}, true, {{"p", "<missing>"}, {"p.1", "new"}}},
      {"first free number",
       3,
       {{"p", "new"}, {"p.1", "one"}},
       true,
       {{"p.1", "one"}, {"p.2", "new"}, {"p.3", "<missing>"}}},
      {"all taken: oldest dropped, others move down",
       3,
       {{"p", "new"}, {"p.1", "one"}, {"p.2", "two"}, {"p.3", "three"}},
       true,
       {{"p", "<missing>"}, {"p.1", "two"}, {"p.2", "three"}, {"p.3", "new"}}},
      {"keep one",
       1,
       {{"p", "new"}, {"p.1", "one"}},
       true,
       {{"p.1", "new"}, {"p.2", "<missing>"}}},
      {"old name replaced",
       -1,
       {{"p", "new"}, {"p.old", "older"}},
       true,
       {{"p", "<missing>"}, {"p.old", "new"}}},
      {"missing file", 2, {}, false, {{"p.1", "<missing>"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    Populate(dir, c.before);
    EXPECT_EQ(RenameVersionedFile(dir.file("p").c_str(), c.keep), c.ok);
    for (const auto& f : c.after)
      EXPECT_EQ(TempDir::read(dir.file(f.first)), f.second) << f.first;
  }
}

TEST(PathHelpers, VersionedRenameWithoutLimitFailsWhenAllThousandAreTaken) {
  TempDir dir;
  dir.write("p", "new");
  for (int n = 1; n <= 1000; ++n) dir.write("p." + std::to_string(n), "v");
  EXPECT_FALSE(RenameVersionedFile(dir.file("p").c_str(), 0));
  EXPECT_EQ(TempDir::read(dir.file("p")), "new");
}

vq::base::a_local_date FifthOfMarch2026() { return {2026, 3, 5}; }

class DatedNames : public ::testing::Test {
 protected:
  void SetUp() override { vq::base::SetTodayFn(&FifthOfMarch2026); }
  void TearDown() override { vq::base::SetTodayFn(nullptr); }
  TempDir dir;
};

TEST_F(DatedNames, RenameTakesTheFirstFreeNameOfTheDay) {
  const std::string log = dir.write("log.txt", "first");
  ASSERT_TRUE(RenameFileUsingDate(log.c_str(), "txt"));
  EXPECT_EQ(TempDir::read(dir.file("26030500.txt")), "first");
  EXPECT_EQ(TempDir::read(log), "<missing>");

  dir.write("log.txt", "second");
  ASSERT_TRUE(RenameFileUsingDate(log.c_str(), ".txt"));
  EXPECT_EQ(TempDir::read(dir.file("26030501.txt")), "second");

  for (int n = 2; n <= 99; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "260305%02d.txt", n);
    dir.write(name, "");
  }
  dir.write("log.txt", "hundredth");
  ASSERT_TRUE(RenameFileUsingDate(log.c_str(), "txt"));
  EXPECT_EQ(TempDir::read(dir.file("260305100.txt")), "hundredth");

  EXPECT_FALSE(RenameFileUsingDate(dir.file("missing").c_str(), "txt"));
}

TEST_F(DatedNames, CopyKeepsTheSourceAndCopiesEveryByte) {
  std::string content(3 * 4096 + 5, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 31);
  const std::string src = dir.write("data.bin", content);
  char out[4097];
  ASSERT_TRUE(CopyFileUsingDate(src.c_str(), "bak", out, sizeof out));
  EXPECT_EQ(std::string(out), dir.file("26030500.bak"));
  EXPECT_EQ(TempDir::read(out), content);
  EXPECT_EQ(TempDir::read(src), content);
  ASSERT_TRUE(CopyFileUsingDate(src.c_str(), "bak", out, sizeof out));
  EXPECT_EQ(std::string(out), dir.file("26030501.bak"));

  char small[8];
  EXPECT_FALSE(CopyFileUsingDate(src.c_str(), "bak", small, sizeof small));  // name too long
}

int LowestFreeFd() {
  int fd = dup(0);
  close(fd);
  return fd;
}

TEST(PathHelpers, FileCopyReportsEveryFailure) {
  TempDir dir;
  const std::string src = dir.write("src", std::string(10000, 'z'));
  const int free_before = LowestFreeFd();
  EXPECT_EQ(doFileCopy(src.c_str(), dir.file("dst").c_str()), 1);
  EXPECT_EQ(TempDir::read(dir.file("dst")), std::string(10000, 'z'));
  EXPECT_EQ(doFileCopy(src.c_str(), dir.file("no/such/dir").c_str()), 0);
  EXPECT_EQ(doFileCopy(dir.file("missing").c_str(), dir.file("dst2").c_str()), 0);
  // A source that opens but cannot be read.
  EXPECT_EQ(doFileCopy(dir.path().c_str(), dir.file("dst3").c_str()), 0);
  // A target that opens but cannot take the bytes.
  if (access("/dev/full", W_OK) == 0) {
    EXPECT_EQ(doFileCopy(src.c_str(), "/dev/full"), 0);
  }
  EXPECT_EQ(LowestFreeFd(), free_before);  // nothing left open on any path
}

}  // namespace
