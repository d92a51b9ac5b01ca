// Start and stop of the engine interface when the client environment cannot be set up:
// a copy of this program runs from a directory without message files, where the
// environment's message strings cannot open. The start fails with the reason in the
// caller's buffer, everything it made is torn down (the sanitizer builds check for
// leaks when the copy ends), and the stop that follows has nothing left to do.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "odbc/engine.h"

namespace {

constexpr char kChildVariable[] = "VQ_ENGINE_START_CHILD";

TEST(EngineStart, AFailedStartTearsDownWhatItMade) {
  if (std::getenv(kChildVariable) != nullptr) {
    // The copy: no message files beside it, none on the search paths.
    char text[256];
    std::memset(text, 0x7F, sizeof text);
    ASSERT_EQ(DBInitialize(text, sizeof text), 0);
    EXPECT_NE(std::memchr(text, '\0', sizeof text), nullptr);
    EXPECT_GT(std::strlen(text), 0u);
    std::printf("start failed: %s\n", text);
    EXPECT_FALSE(DBIsStarted());
    // A second try fails the same way, and a small buffer is cut and terminated.
    char small[8];
    std::memset(small, 0x7F, sizeof small);
    EXPECT_EQ(DBInitialize(small, sizeof small), 0);
    EXPECT_LT(std::strlen(small), sizeof small);
    EXPECT_EQ(DBFinalize(), 1);
    return;
  }
  char dir_template[] = "/tmp/vqengstartXXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const std::filesystem::path dir(dir_template);
  const std::filesystem::path copy = dir / "engine_start_copy";
  std::error_code ec;
  std::filesystem::copy_file(std::filesystem::read_symlink("/proc/self/exe"), copy, ec);
  ASSERT_FALSE(ec) << ec.message();
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The working directory is searched too.
    if (chdir(dir.c_str()) != 0) _exit(126);
    setenv(kChildVariable, "1", 1);
    setenv("PATH", dir.c_str(), 1);
    unsetenv("LD_LIBRARY_PATH");
    unsetenv("VCDIR");
    unsetenv("VELLUM12");
    setenv("HOME", dir.c_str(), 1);
    execl(copy.c_str(), copy.c_str(), "--gtest_filter=EngineStart.AFailedStartTearsDownWhatItMade",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  std::filesystem::remove_all(dir, ec);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
