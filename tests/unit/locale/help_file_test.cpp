// Help files named by patterns in the user's language and found by the location rules.
#include "utils/locale/help_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "converter_fixture.h"
#include "resource_fixture.h"
#include "scoped_env.h"

namespace {

// An installation root one level inside a temporary directory, with a few help files.
class HelpFiles : public ::testing::Test {
 protected:
  HelpFiles() : installation_(Root().c_str()) {
    mkdir(Root().c_str(), 0700);
    for (const char* name :
         {"vqhelptest_de.html", "vqhelptest_en.html", "vqhelpother_fr.txt"}) {
      tmp_.Write("root/" + std::string(name), {'x'});
    }
    mkdir((Root() + "/vqhelpdir_de").c_str(), 0700);
  }
  std::string Root() const { return tmp_.path() + "/root"; }

  resfix::TempDir tmp_;
  ScopedEnv env_;  // no language chosen by the environment
  ScopedInstallation installation_;
};

TEST_F(HelpFiles, FirstPatternFoundInTheUsersLanguage) {
  struct Case {
    const char* vclang;  // null: no VCLANG, the locale "C" gives English
    std::vector<const char*> patterns;
    const char* found;  // file name under the root, or null
  };
  const Case cases[] = {
      {"de", {"vqhelptest_%1.html"}, "vqhelptest_de.html"},
      {nullptr, {"vqhelptest_%1.html"}, "vqhelptest_en.html"},
      {"fr", {"vqhelptest_%1.html", "vqhelpother_%1.txt"}, "vqhelpother_fr.txt"},
      {"de", {"vqhelpother_%1.txt", "vqhelptest_%1.html"}, "vqhelptest_de.html"},
      {"xx-unknown", {"vqhelptest_%1.html"}, "vqhelptest_en.html"},  // English instead
      {"ja", {"vqhelptest_%1.html"}, nullptr},
      {"de", {"vqhelpdir_%1"}, nullptr},  // a directory is no help file
      {"de", {}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.vclang != nullptr ? c.vclang : "(no VCLANG)");
    env_.Set("VCLANG", c.vclang);
    env_.Set("LC_ALL", "C");
    std::vector<const char*> names = c.patterns;
    names.push_back(nullptr);
    char out[4097] = "stale";
    const unsigned n = LS_FindHelpFile(names.data(), out, sizeof out);
    if (c.found == nullptr) {
      EXPECT_EQ(n, 0u);
      EXPECT_STREQ(out, "");
    } else {
      EXPECT_EQ(std::string(out), Root() + "/" + c.found);
      EXPECT_EQ(n, std::string(out).size());
    }
  }
}

TEST_F(HelpFiles, PathTooLongForTheBufferIsNotCut) {
  env_.Set("VCLANG", "de");
  const char* names[] = {"vqhelptest_%1.html", nullptr};
  const std::string expected = Root() + "/vqhelptest_de.html";
  std::vector<char> out(expected.size(), 'x');  // one byte short of the terminator
  EXPECT_EQ(LS_FindHelpFile(names, out.data(), static_cast<unsigned>(out.size())),
            expected.size());
  EXPECT_EQ(out[0], '\0');
  char room[4097];
  EXPECT_EQ(LS_FindHelpFile(nullptr, room, sizeof room), 0u);
  EXPECT_EQ(LS_FindHelpFile(names, nullptr, 10), 0u);
  EXPECT_EQ(LS_FindHelpFile(names, room, 0), 0u);
}

}  // namespace
