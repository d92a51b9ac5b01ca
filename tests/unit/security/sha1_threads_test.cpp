// The file digests in a child process that gives up root: a read-only file is not
// digested.
#include "security/sha1.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sha1_files_fixture.h"
#include "test_bytes.h"

using vq_test::Sha1Files;

namespace {

using vq::testing::RandomBytes;

TEST_F(Sha1Files, ReadOnlyFileIsNotDigested) {
  // The helpers open for reading and writing. Root may write any file, so the check
  // runs in a child that gives up root first.
  chmod(dir_.c_str(), 0755);
  const std::string read_only = Make("ro", RandomBytes(100, 31), 0444);
  const std::string writable = Make("rw", RandomBytes(100, 32), 0666);
  const pid_t pid = fork();
  ASSERT_NE(pid, -1);
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(10);
    std::uint32_t out[5];
    if (SHAFile(writable.c_str(), out) != 0) _exit(11);
    if (SHAFile(read_only.c_str(), out) != 1) _exit(12);
    if (SHAFileDate(read_only.c_str(), 0, out) != 1) _exit(13);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
