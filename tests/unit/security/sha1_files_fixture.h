// The SHA-1 file helper tests' fixture: a temporary directory of files, removed
// afterwards.
#ifndef VQ_TESTS_SHA1_FILES_FIXTURE_H
#define VQ_TESTS_SHA1_FILES_FIXTURE_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace vq_test {

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

}  // namespace vq_test

#endif  // VQ_TESTS_SHA1_FILES_FIXTURE_H
