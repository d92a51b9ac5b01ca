// The compatibility functions: case-insensitive compares, the
// microsecond clock reading, path resolution, the path search and the argument splitter;
// and the doubly linked queue.
#include "utils/base/compat.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "utils/base/fast_clock.h"
#include "utils/base/queue.h"

namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

TEST(CaseInsensitive, CompareFamily) {
  struct Case {
    const char* a;
    const char* b;
    int sign;
  } cases[] = {
      {"ABC", "abd", -1},
      {"abc", "ABC", 0},
      {"", "", 0},
      {"a", "", 1},
      {"", "a", -1},
      {"[", "a", -1},
      {"Z", "[", 1},         // folded before comparing
      {"\xC4", "\xE4", -1},  // only A-Z fold
      {"Hello World", "hELLO wORLD", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    EXPECT_EQ(Sign(vq::compat::stricmp(c.a, c.b)), c.sign);
    EXPECT_EQ(Sign(vq::compat::_stricmp(c.a, c.b)), c.sign);
    EXPECT_EQ(Sign(vq::compat::strcmpi(c.a, c.b)), c.sign);
    EXPECT_EQ(Sign(vq::compat::strnicmp(c.a, c.b, 100)), c.sign);
  }
  EXPECT_EQ(vq::compat::stricmp("a", "B"), 'a' - 'b');  // the difference of folded bytes
  EXPECT_EQ(vq::compat::strnicmp("abcX", "ABCy", 3), 0);
  EXPECT_LT(vq::compat::_strnicmp("abcX", "ABCy", 4), 0);
  EXPECT_EQ(vq::compat::strnicmp("abc", "xyz", 0), 0);
  // memicmp runs over zero bytes.
  EXPECT_EQ(vq::compat::memicmp("A\0b", "a\0B", 3), 0);
  EXPECT_LT(vq::compat::_memicmp("A\0a", "a\0b", 3), 0);
  EXPECT_EQ(vq::compat::memicmp("x", "y", 0), 0);

  char text[] = "MiXeD [123] \xC4";
  EXPECT_EQ(vq::compat::strlwr(text), text);
  EXPECT_STREQ(text, "mixed [123] \xC4");
}

std::int64_t g_wall_us = 0;
std::int64_t FakeWall() { return g_wall_us; }

TEST(CompatClock, MicrosecondsOfTheFastClockModulo32Bits) {
  g_wall_us = 1700000000000000;
  vq::base::SetFastClockSource(&FakeWall);
  const std::int32_t first = vq::compat::clock();
  // The first unix_clock reading is 3,600,000 ms: 3.6e9 us taken modulo 2^32.
  EXPECT_EQ(first, static_cast<std::int32_t>(static_cast<std::uint32_t>(3600000000u)));
  g_wall_us += 1234567;
  const std::int32_t second = vq::compat::clock();
  EXPECT_EQ(static_cast<std::int32_t>(static_cast<std::uint32_t>(second) -
                                      static_cast<std::uint32_t>(first)),
            1234000);  // milliseconds resolution
  vq::base::SetFastClockSource(nullptr);
}

std::string Cwd() {
  char buf[4096];
  return ::getcwd(buf, sizeof buf) != nullptr ? buf : "";
}

TEST(FullPath, RebuildsComponents) {
  struct Case {
    const char* path;
    std::string expected;
  } cases[] = {
      {"/a/b/../c/./d", "/a/c/d"},
      {"/a/b/", "/a/b"},
      {"//a///b", "/a/b"},
      {"/..", "/"},
      {"/a/../..", "/"},
      {"/.", "/"},
      {"/", "/"},
      {"/a/b/../../c", "/c"},
      {"x/./y", Cwd() + "/x/y"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    char buf[4096];
    EXPECT_EQ(vq::compat::_fullpath(buf, c.path, sizeof buf), buf);
    EXPECT_EQ(std::string(buf), c.expected);
  }
}

TEST(FullPath, SizesNullBufferAndEmptyPath) {
  char buf[8];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(vq::compat::_fullpath(buf, "/abcdef", 8), buf);  // 7 characters fit in 8
  EXPECT_STREQ(buf, "/abcdef");
  errno = 0;
  EXPECT_EQ(vq::compat::_fullpath(buf, "/abcdefg", 8), nullptr);
  EXPECT_EQ(errno, ERANGE);

  char* allocated = vq::compat::_fullpath(nullptr, "/p/q/..", 0);
  ASSERT_NE(allocated, nullptr);
  EXPECT_STREQ(allocated, "/p");
  std::free(allocated);

  char cwd[4096];
  EXPECT_EQ(vq::compat::_fullpath(cwd, "", sizeof cwd), cwd);
  EXPECT_EQ(std::string(cwd), Cwd());
  EXPECT_EQ(vq::compat::_fullpath(cwd, nullptr, sizeof cwd), cwd);
  EXPECT_EQ(std::string(cwd), Cwd());
}

class SearchEnv : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vq_searchenv_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    std::ofstream(dir_ + "/tool.cfg") << "x";
  }
  void TearDown() override {
    ::unsetenv("VQ_TEST_SEARCH");
    std::remove((dir_ + "/tool.cfg").c_str());
    ::rmdir(dir_.c_str());
  }
  std::string dir_;
};

TEST_F(SearchEnv, FindsAlongTheVariable) {
  const std::string list = "::/nonexistent-dir:\"" + dir_ + "\":/tmp";
  ::setenv("VQ_TEST_SEARCH", list.c_str(), 1);
  char out[4096];
  errno = 1234;
  vq::compat::_searchenv("tool.cfg", "VQ_TEST_SEARCH", out);
  EXPECT_EQ(std::string(out), dir_ + "/tool.cfg");
  EXPECT_EQ(errno, 1234);

  vq::compat::_searchenv("missing.cfg", "VQ_TEST_SEARCH", out);
  EXPECT_STREQ(out, "");
  ::setenv("VQ_TEST_SEARCH", "", 1);
  vq::compat::_searchenv("tool.cfg", "VQ_TEST_SEARCH", out);
  EXPECT_STREQ(out, "");
  vq::compat::_searchenv("tool.cfg", "VQ_TEST_SEARCH_UNSET", out);
  EXPECT_STREQ(out, "");
}

TEST_F(SearchEnv, ExistingFileIsMadeAbsolute) {
  char out[4096];
  const std::string absolute = dir_ + "/tool.cfg";
  vq::compat::_searchenv(absolute.c_str(), "VQ_TEST_SEARCH_UNSET", out);
  EXPECT_EQ(std::string(out), absolute);

  const std::string saved = Cwd();
  ASSERT_EQ(::chdir(dir_.c_str()), 0);
  vq::compat::_searchenv("tool.cfg", "VQ_TEST_SEARCH_UNSET", out);
  const std::string relative = out;
  const std::string here = Cwd();
  vq::compat::_searchenv("./tool.cfg", "VQ_TEST_SEARCH_UNSET", out);
  const std::string dotted = out;
  ASSERT_EQ(::chdir(saved.c_str()), 0);
  EXPECT_EQ(relative, here + "/tool.cfg");
  EXPECT_EQ(dotted, "./tool.cfg");  // a leading "." is kept as it is
}

TEST(ParseArgvSplit, Table) {
  struct Case {
    const char* name;
    const char* line;
    unsigned max;
    std::vector<std::string> args;
  } cases[] = {
      {"quoted_blank", "prog \"two words\" last", 10, {"prog", "two words", "last"}},
      {"max_three_keeps_two", "prog \"two words\" last", 3, {"prog", "two words"}},
      {"control_separators", "\t a\r\nb\v\fc  ", 10, {"a", "b", "c"}},
      {"unclosed_quote", "x \"open to end", 10, {"x", "open to end"}},
      {"empty_quotes", "\"\" y", 10, {"", "y"}},
      {"blank_line", " \t ", 10, {}},
      {"empty_line", "", 10, {}},
      {"max_two", "a b c", 2, {"a"}},
      {"max_one", "a b", 1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<char> line(c.line, c.line + std::strlen(c.line) + 1);
    std::vector<char*> argv(c.max + 1, reinterpret_cast<char*>(&line));
    const unsigned count = ParseArgv(argv.data(), c.max, line.data());
    ASSERT_EQ(count, c.args.size());
    for (unsigned i = 0; i < count; ++i) EXPECT_EQ(std::string(argv[i]), c.args[i]);
    EXPECT_EQ(argv[count], nullptr);
  }
}

struct Item {
  Q_link link;
  int value;
};

TEST(Queue, FirstInFirstOutAndRemoval) {
  Q_link head{&head, &head};
  EXPECT_EQ(Q_element(&head), nullptr);
  Item a{{}, 1}, b{{}, 2}, c{{}, 3};
  Q_insert(&head, &a.link);
  Q_insert(&head, &b.link);
  Q_insert(&head, &c.link);
  EXPECT_EQ(head.next, &a.link);
  EXPECT_EQ(head.prev, &c.link);
  Q_remove(&b.link);
  EXPECT_EQ(b.link.next, &c.link);  // a removed element keeps its pointers
  EXPECT_EQ(Q_element(&head), &a.link);
  EXPECT_EQ(Q_element(&head), &c.link);
  EXPECT_EQ(Q_element(&head), nullptr);
  EXPECT_EQ(head.next, &head);
  EXPECT_EQ(head.prev, &head);

  Q_link broken{nullptr, nullptr};
  EXPECT_EQ(Q_element(&broken), nullptr);
}

}  // namespace
