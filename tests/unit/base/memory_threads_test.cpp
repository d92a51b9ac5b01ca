// The fatal ends of the allocation policy, each in a forked child: the exit status, the
// message on standard output and the log line, and no exit handlers run.
#include "utils/base/memory.h"

#include <gtest/gtest.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "child_process.h"

namespace {

constexpr std::size_t kImpossible = SIZE_MAX - 4096;  // no heap can hand this out

// Log lines written by the child, through a pipe back to the parent.
int g_log_fd = -1;
void PipeLogSink(const char* identity, int option, int facility, int priority,
                 const char* text) {
  char line[256];
  int n = std::snprintf(line, sizeof line, "%s|%d|%d|%d|%s\n", identity, option, facility,
                        priority, text);
  if (write(g_log_fd, line, n) != n) _exit(3);
}

struct FatalCase {
  const char* name;
  void (*provoke)();
  const char* expected_output;
  const char* expected_log;
};

// The case's name stands for it in test names and messages.
void PrintTo(const FatalCase& c, std::ostream* os) { *os << c.name; }

class FatalTest : public ::testing::TestWithParam<FatalCase> {};

TEST_P(FatalTest, EndsWithStatusOneWithoutExitHandlers) {
#if defined(__SANITIZE_THREAD__)
  // ThreadSanitizer's own _exit flushes standard output (and refuses impossible sizes
  // unless told otherwise), which is what this test checks does not happen. The child
  // starts no thread; the plain and ASan builds run the test.
  GTEST_SKIP() << "ThreadSanitizer's _exit flushes standard output";
#endif
  const FatalCase& c = GetParam();
  int log_pipe[2];
  ASSERT_EQ(pipe(log_pipe), 0);
  vq::testing::ChildResult child = vq::testing::RunInChild([&] {
    close(log_pipe[0]);
    g_log_fd = log_pipe[1];
    vq::base::SetErrorLogSink(&PipeLogSink);
    std::atexit([] { std::fputs("exit handler ran\n", stdout); });
    std::setvbuf(stdout, nullptr, _IOFBF, 4096);
    std::fputs("buffered:", stdout);  // stays in the buffer: nothing is flushed on the way out
    c.provoke();
    std::fputs("returned\n", stdout);
    std::fflush(stdout);
  });
  close(log_pipe[1]);
  std::string log;
  char buffer[512];
  ssize_t n;
  while ((n = read(log_pipe[0], buffer, sizeof buffer)) > 0) log.append(buffer, n);
  close(log_pipe[0]);

  EXPECT_TRUE(child.exited(1)) << "status " << child.status;
  EXPECT_EQ(child.output, c.expected_output);
  EXPECT_EQ(log, c.expected_log);
}

const std::string kOomLog = "Vellumcrest|0|" + std::to_string(LOG_USER) + "|" +
                            std::to_string(LOG_ERR) + "|Out of memory\n";

INSTANTIATE_TEST_SUITE_P(
    Memory, FatalTest,
    ::testing::Values(
        FatalCase{"ut_alloc", [] { (void)ut_alloc(kImpossible); }, "Out of memory\n",
                  kOomLog.c_str()},
        FatalCase{"ut_realloc_existing_block",
                  [] { (void)ut_realloc(ut_alloc(16), kImpossible); }, "Out of memory\n",
                  kOomLog.c_str()},
        FatalCase{"ut_fatal_message", [] { ut_fatal("disk on fire"); }, "disk on fire\n",
                  "Vellumcrest|0|8|3|disk on fire\n"},
        FatalCase{"ut_fatal_null", [] { ut_fatal(nullptr); }, "", ""}),
    [](const ::testing::TestParamInfo<FatalCase>& info) { return info.param.name; });

}  // namespace
