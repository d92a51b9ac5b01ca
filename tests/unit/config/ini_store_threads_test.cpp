// The ini-file store shared between processes (lockf while updating) and threads, and a
// rewrite that a child's file size limit cuts short.
#include "config/ini_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "ini_store_fixture.h"

using vq_test::ini::ReadAll;
using vq_test::ini::TempDir;
using vq_test::ini::Value;
using vq_test::ini::WriteAll;

namespace {

// Two processes update one file many times: each adds sections of its own without
// reading first, and increments a shared counter. Every change must survive.
TEST(IniStoreLocking, TwoProcessesUpdatingOneFileKeepAllChanges) {
  TempDir dir;
  const std::string path = dir.file("race.ini");
  constexpr int kProcesses = 2;
  constexpr int kRounds = 150;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failures = 0;
      for (int i = 0; i < kRounds; ++i) {
        c_cfg_inifile store(path.c_str(), false, 0, false, CFG_DS_NO_INI_DIR, 0);
        if (!store.open()) {
          ++failures;
          continue;
        }
        c_cfg_section own(("p" + std::to_string(p) + "-" + std::to_string(i)).c_str());
        if (!store.write_section(&own)) ++failures;
        c_cfg_section* counter = store.read_section("counter");
        const unsigned n =
            counter != nullptr ? unsigned(std::atoi(counter->get_value("n"))) : 0;
        if (counter == nullptr) counter = new c_cfg_section("counter");
        counter->set_value("n", std::uint32_t(n + 1));
        if (!store.write_section(counter)) ++failures;
        store.delete_section_object(counter);
        store.close();
      }
      _exit(failures == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  c_cfg_inifile check(path.c_str(), false, 0, false, CFG_DS_NO_INI_DIR, 0);
  ASSERT_TRUE(check.open_read_only());
  EXPECT_EQ(Value(check, "counter", "n"), std::to_string(kProcesses * kRounds));
  int missing = 0;
  for (int p = 0; p < kProcesses; ++p) {
    for (int i = 0; i < kRounds; ++i) {
      c_cfg_section* s =
          check.read_section(("p" + std::to_string(p) + "-" + std::to_string(i)).c_str());
      if (s == nullptr) ++missing;
      check.delete_section_object(s);
    }
  }
  EXPECT_EQ(missing, 0);
}

TEST(IniStoreLocking, ThreadsShareOneDataSourceStore) {
  TempDir dir;
  const std::string path = dir.file("threads.ini");
  WriteAll(path, "[fixed]\nk=v\n");
  c_odbc_inifile store(path.c_str(), false, 0, false, CFG_DS_NO_INI_DIR, 0);
  ASSERT_TRUE(store.open());
  std::atomic<int> bad{0};
  std::thread writer([&] {
    for (int i = 0; i < 600; ++i) {
      c_cfg_section s(("w" + std::to_string(i % 7)).c_str());
      s.set_value("i", std::uint32_t(i));
      if (!store.write_section(&s)) ++bad;
    }
  });
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      for (int i = 0; i < 800; ++i) {
        if (Value(store, "fixed", "k") != "v") ++bad;
        delete store.list_sections();
      }
    });
  }
  writer.join();
  for (std::thread& t : readers) t.join();
  EXPECT_EQ(bad.load(), 0);
}

// A rewrite that the file system refuses part-way must report failure and leave the old
// text. A file size limit in a child stands in for a full disk.
TEST(IniStoreFailures, RewriteBeyondTheFileSizeLimitFailsAndKeepsTheFile) {
  TempDir dir;
  const std::string path = dir.file("full.ini");
  const std::string original = "[keep]\nk=v\n[other]\nx=y\n";
  WriteAll(path, original);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {64, 64};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(10);
    c_cfg_inifile store(path.c_str(), false, 0, false, CFG_DS_NO_INI_DIR, 0);
    if (!store.open()) _exit(11);
    c_cfg_section big("big");
    big.set_value("value", std::string(200, 'x').c_str());
    if (store.write_section(&big)) _exit(12);  // reported as success
    // The cache no longer claims the section the file lacks.
    c_cfg_section* s = store.read_section("big");
    if (s != nullptr) _exit(13);
    // A rewrite that fits still works.
    c_cfg_section small("s");
    if (!store.write_section(&small)) _exit(14);
    store.close();
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadAll(path), "[keep]\nk=v\n\n[other]\nx=y\n\n[s]\n\n");
}

}  // namespace
