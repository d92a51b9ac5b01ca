// Finding message resource files through the installation root: missing, damaged and
// out-of-date files, and the version check of the catalog.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "converter_fixture.h"
#include "resource_fixture.h"
#include "scoped_env.h"
#include "utils/locale/lang_string.h"
#include "utils/locale/resource_file.h"
#include "utils/locale/utlocale.h"

namespace {

using resfix::Build;
using resfix::Messages;
using resfix::TempDir;

// An installation root one level inside a fresh temporary directory, with an empty
// res/ beneath it. The root's parent is searched too ("../"), so the root is never the
// temporary directory itself, whose parent may hold anything.
class InstallDir {
 public:
  InstallDir() {
    mkdir(path().c_str(), 0700);
    mkdir((path() + "/res").c_str(), 0700);
  }
  std::string path() const { return tmp_.path() + "/root"; }
  void Write(const std::string& name, const std::vector<unsigned char>& bytes) const {
    tmp_.Write("root/" + name, bytes);
  }

 private:
  TempDir tmp_;
};

std::string Read(UTVCResFile& file, unsigned long id, unsigned int size = 1024) {
  std::string buf(size, 'Z');
  unsigned int n = file.GetString(id, buf.data(), size);
  EXPECT_EQ(std::strlen(buf.c_str()), n) << "id " << id;
  return buf.substr(0, n);
}

TEST(ResourceFileSearch, OpenByLanguageSearchesTheDirectories) {
  // The data files of an installation sit in its res/ directory.
  InstallDir root;
  root.Write("res/vqlgen12.res", Build({{1, "english"}}));
  ScopedInstallation installation(root.path().c_str());
  UTVCResFile file;
  EXPECT_TRUE(file.Open("english", 0));
  EXPECT_EQ(UTLocale::GetLanguageInfoFromLabel("en"), file.language());
  EXPECT_EQ("english", Read(file, 1));
  EXPECT_FALSE(file.Open("en", 1));  // no "_bw" file
  EXPECT_FALSE(file.last_open_found_file());
  EXPECT_FALSE(file.Open(static_cast<const LanguageInfo*>(nullptr), 0));
  EXPECT_FALSE(file.Open("no-such-language", 0));
}

TEST(ResourceFileSearch, VersionCheck) {
  struct Case {
    const char* version;  // null: message 5000 absent
    ls_init_return result;
  };
  const Case cases[] = {
      {"119", LS_INIT_VERSION_MISMATCH}, {"1", LS_INIT_VERSION_MISMATCH},
      {"120", LS_INIT_SUCCESS},          {"1200", LS_INIT_SUCCESS},
      {nullptr, LS_INIT_SUCCESS},        {"0", LS_INIT_SUCCESS},
  };
  InstallDir dir;
  ScopedInstallation installation(dir.path().c_str());
  const LanguageInfo* en = UTLocale::GetLanguageInfoFromLabel("en");
  for (const Case& c : cases) {
    Messages m = {{1, "x"}};
    if (c.version != nullptr) m[5000] = c.version;
    dir.Write("vqlgen12.res", Build(m));
    UTVCResFile file;
    EXPECT_EQ(c.result, UTLangString::OpenAndCheck(file, en, 0))
        << (c.version ? c.version : "(absent)");
    EXPECT_EQ(c.result == LS_INIT_SUCCESS, file.is_open());
  }
  UTVCResFile file;
  dir.Write("vqlgen12.res", {1, 2, 3});
  EXPECT_EQ(LS_INIT_LOAD_ERROR, UTLangString::OpenAndCheck(file, en, 0));
  EXPECT_EQ(LS_INIT_VARIANT_NOT_FOUND, UTLangString::OpenAndCheck(file, en, 1));
  dir.Write("vqlgen_bw12.res", {1, 2, 3});
  EXPECT_EQ(LS_INIT_VARIANT_LOAD_ERROR, UTLangString::OpenAndCheck(file, en, 1));
  ScopedInstallation nowhere("/nonexistent-dir");
  EXPECT_EQ(LS_INIT_NOT_FOUND, UTLangString::OpenAndCheck(file, en, 0));
}

// A catalog whose installation root starts at a directory without files.
class CatalogFiles : public ::testing::Test {
 protected:
  std::string Text(UTLangStringBase& s, unsigned long id) {
    char buf[512];
    unsigned int n = s.GetString(id, buf, sizeof buf);
    EXPECT_EQ(std::strlen(buf), n);
    return buf;
  }

  ScopedEnv env_;
  std::optional<ScopedInstallation> installation_{std::in_place, "/nonexistent-dir"};
  UTLocale locale_;
};

TEST_F(CatalogFiles, MissingFiles) {
  UTLangString s(&locale_);
  EXPECT_EQ(LS_INIT_NOT_FOUND, s.Init("en", nullptr, 0));
  EXPECT_FALSE(s.initialised());
  EXPECT_EQ(0, s.file_count());
  char buf[16] = "xxxxxxxxxxxxxxx";
  EXPECT_EQ(0u, s.FormatMiscLangStr(5031, buf, sizeof buf, "2"));
  EXPECT_EQ('\0', buf[0]);
  EXPECT_EQ('\0', buf[1]);
  // A translation that is missing falls back to English alone.
  InstallDir dir;
  dir.Write("vqlgen12.res", resfix::Build({{1, "english"}}));
  installation_.emplace(dir.path().c_str());
  UTLangString fr(&locale_);
  EXPECT_EQ(LS_INIT_SUCCESS, fr.Init("fr", nullptr, 0));
  EXPECT_EQ(1, fr.file_count());
  EXPECT_EQ("english", Text(fr, 1));
}

TEST_F(CatalogFiles, DamagedFilesAreReportedAsLoadErrors) {
  InstallDir dir;
  std::vector<unsigned char> cut = resfix::Build({{1, "english"}});
  cut.resize(cut.size() - 3);
  dir.Write("vqlgen12.res", cut);
  installation_.emplace(dir.path().c_str());
  UTLangString s(&locale_);
  EXPECT_EQ(LS_INIT_LOAD_ERROR, s.Init("en", nullptr, 0));
  EXPECT_EQ(0, s.file_count());
  dir.Write("vqlgen12.res", resfix::Build({{1, "old"}, {5000, "119"}}));
  EXPECT_EQ(LS_INIT_VERSION_MISMATCH, s.Init("en", nullptr, 0));
  EXPECT_EQ("", Text(s, 1));
}

}  // namespace
