// The data-source profile tests' fixture: a temporary HOME with the location variables
// cleared (everything put back after) and a parameter block that frees itself.
#ifndef VQ_TESTS_DATA_SOURCE_PROFILE_FIXTURE_H
#define VQ_TESTS_DATA_SOURCE_PROFILE_FIXTURE_H

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "config/conn_string.h"
#include "config/data_source_profile.h"
#include "config/option_tables.h"

namespace vq_test {

using Values = std::map<int, std::string>;

inline void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

struct Block {
  a_string_parms parms = {};
  ~Block() { FreeStringParms(&parms); }
  Values values() const {
    Values out;
    for (unsigned i = 0; i < parms.count; ++i) {
      if (parms.values[i] != nullptr) out[int(i)] = parms.values[i];
    }
    return out;
  }
  std::string error() const { return StringParmsError(&parms); }
};

// A temporary HOME with the location variables cleared; everything is put back after.
class Profiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/vq_profiles_XXXXXX";
    dir_ = mkdtemp(templ);
    for (const char* var : kVars) {
      const char* v = std::getenv(var);
      if (v != nullptr) saved_[var] = v;
      unsetenv(var);
    }
    setenv("HOME", dir_.c_str(), 1);
    vq::config::SetProfileReader(nullptr);
  }
  void TearDown() override {
    ProfileFini();
    for (const char* var : kVars) {
      auto it = saved_.find(var);
      if (it != saved_.end()) {
        setenv(var, it->second.c_str(), 1);
      } else {
        unsetenv(var);
      }
    }
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  std::string file(const std::string& name) const { return dir_ + "/" + name; }

  static constexpr const char* kVars[] = {"HOME", "ODBCINI", "ODBC_INI", "ODBCHOME",
                                          "VCCONNECT"};
  std::string dir_;
  std::map<std::string, std::string> saved_;
};

}  // namespace vq_test

#endif  // VQ_TESTS_DATA_SOURCE_PROFILE_FIXTURE_H
