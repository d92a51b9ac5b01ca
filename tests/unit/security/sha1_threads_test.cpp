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

#include "test_bytes.h"

namespace {

using vq::testing::RandomBytes;

// A temporary directory of files for the file helpers, removed afterwards.
class Sha1Files : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/sha1_files_XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir_ = templ;
  }
  void TearDown() override {
    for (const std::string& path : made_) std::remove(path.c_str());
    rmdir(dir_.c_str());
  }
  std::string Make(const std::string& name, const std::vector<unsigned char>& content,
                   mode_t mode = 0644) {
    const std::string path = dir_ + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f == nullptr) return path;
    if (!content.empty()) std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
    chmod(path.c_str(), mode);
    made_.push_back(path);
    return path;
  }
  std::string dir_;
  std::vector<std::string> made_;
};

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
