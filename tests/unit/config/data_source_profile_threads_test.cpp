// The data-source profiles' process-wide cached store, shared by threads that switch
// files and finish it.
#include "config/data_source_profile.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "config/conn_string.h"
#include "config/option_tables.h"

namespace {

using Values = std::map<int, std::string>;

void WriteAll(const std::string& path, const std::string& text) {
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

// Profile reads of two different files replace the cached store over and over while
// other threads read through it and ProfileFini deletes it.
TEST_F(Profiles, ThreadsSwitchingFilesAndFinishingShareTheCacheSafely) {
  WriteAll(file(".odbc.ini"), "[ds]\nUID=dsn\n");
  WriteAll(file("f.dsn"), "[ODBC]\nUID=file\n");
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        Block b;
        const bool isFile = (i + t) % 2 == 0;
        const int rc =
            ReadProfile(isFile ? file("f.dsn").c_str() : "ds", &b.parms, isFile, kClientSlots);
        if (rc != 0 || b.values() != Values{{kSlotUserID, isFile ? "file" : "dsn"}}) ++bad;
        if (t == 0 && i % 10 == 0) ProfileFini();
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
