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
#include "data_source_profile_fixture.h"

namespace {

using vq_test::Block;
using vq_test::Profiles;
using vq_test::Values;
using vq_test::WriteAll;

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
