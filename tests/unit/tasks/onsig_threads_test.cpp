// Fatal-signal hooks. Every signal is raised in a child made by fork(); the hooks
// write to a pipe that the parent reads, and the parent sees how the child ended.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "forked_check.h"
#include "vqtasks.h"

namespace {

int g_out = -1;  // write end of the pipe, in the child

void write_tag(void* data, int in_signal) {
  const char* tag = static_cast<const char*>(data);
  if (in_signal == 0) tag = "?";  // hooks always learn that they run in a handler
  ssize_t ignored = write(g_out, tag, strlen(tag));
  (void)ignored;
}

void host_handler(int) {
  ssize_t ignored = write(g_out, "host", 4);
  (void)ignored;
}

struct Outcome {
  std::string output;
  int status = -1;
};

// Runs `body` in a child whose g_out is the pipe, and collects what it wrote.
template <class Body>
Outcome run_with_pipe(Body body) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(kChildSeconds);
    close(fds[0]);
    g_out = fds[1];
    rlimit no_core = {0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    _exit(body());
  }
  close(fds[1]);
  Outcome outcome;
  char buffer[256];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0) outcome.output.append(buffer, n);
  close(fds[0]);
  if (pid > 0) waitpid(pid, &outcome.status, 0);
  return outcome;
}

enum class Host { Default, Handler, Ignore };

struct SignalCase {
  const char* label;
  int sig;
  Host host;
  std::string expected_output;
  int expected_death;  // the signal the child dies of; 0: it exits normally
};

void PrintTo(const SignalCase& c, std::ostream* os) { *os << c.label; }

class FatalSignal : public testing::TestWithParam<SignalCase> {};

TEST_P(FatalSignal, HooksRunOnlyWhereTheRuntimeOwnsTheSignal) {
  const SignalCase& c = GetParam();
  const Outcome outcome = run_with_pipe([&c] {
    struct sigaction act = {};
    sigemptyset(&act.sa_mask);
    act.sa_handler = c.host == Host::Handler ? host_handler
                     : c.host == Host::Ignore ? SIG_IGN
                                              : SIG_DFL;
    sigaction(c.sig, &act, nullptr);

    static char a[] = "a", b[] = "b", c_[] = "c", x[] = "x";
    ut_onsig_install_signal_handlers(1);
    ut_onsig_install_signal_handlers(1);  // a second call changes nothing
    // Added out of order; they must run in ascending order. "x" is removed again.
    if (ut_onsig_call_add(30, write_tag, c_) != 1) return 1;
    if (ut_onsig_call_add(10, write_tag, a) != 1) return 1;
    if (ut_onsig_call_add(15, write_tag, x) != 1) return 1;
    if (ut_onsig_call_add(20, write_tag, b) != 1) return 1;
    if (ut_onsig_call_del(write_tag, x) != 1) return 2;
    if (ut_onsig_call_del(write_tag, x) != 0) return 3;
    raise(c.sig);
    return 0;
  });
  EXPECT_EQ(outcome.output, c.expected_output);
  if (c.expected_death != 0) {
    ASSERT_TRUE(WIFSIGNALED(outcome.status)) << describe_status(outcome.status);
    EXPECT_EQ(WTERMSIG(outcome.status), c.expected_death);
  } else {
    EXPECT_TRUE(exited_cleanly(outcome.status)) << describe_status(outcome.status);
  }
}

const SignalCase kSignalCases[] = {
    {"TermDefault", SIGTERM, Host::Default, "abc", SIGTERM},
    {"HupDefault", SIGHUP, Host::Default, "abc", SIGHUP},
    {"AbortDefault", SIGABRT, Host::Default, "abc", SIGABRT},
    {"QuitDefault", SIGQUIT, Host::Default, "abc", SIGQUIT},
    {"SegvDefault", SIGSEGV, Host::Default, "abc", SIGSEGV},
    {"TermWithHostHandler", SIGTERM, Host::Handler, "host", 0},
    {"IntWithHostHandler", SIGINT, Host::Handler, "host", 0},
    {"SegvWithHostHandler", SIGSEGV, Host::Handler, "host", 0},
    {"HupIgnored", SIGHUP, Host::Ignore, "", 0},
    {"TermIgnored", SIGTERM, Host::Ignore, "", 0},
};
INSTANTIATE_TEST_SUITE_P(Signals, FatalSignal, testing::ValuesIn(kSignalCases),
                         [](const auto& info) { return std::string(info.param.label); });

// A signal the runtime does not treat as fatal keeps its default action and runs no hook.
TEST(FatalSignalHooks, BrokenPipeIsNotTaken) {
  const Outcome outcome = run_with_pipe([] {
    signal(SIGPIPE, SIG_DFL);
    static char a[] = "a";
    ut_onsig_install_signal_handlers(1);
    ut_onsig_call_add(1, write_tag, a);
    struct sigaction act;
    sigaction(SIGPIPE, nullptr, &act);
    return act.sa_handler == SIG_DFL ? 0 : 1;
  });
  EXPECT_EQ(outcome.output, "");
  EXPECT_TRUE(exited_cleanly(outcome.status)) << describe_status(outcome.status);
}

// A hook registered by the parent belongs to the parent (it cleans up the parent's
// resources); a child that dies of a signal runs only its own hooks.
TEST(FatalSignalHooks, ChildDoesNotRunItsParentsHooks) {
  static char parent_tag[] = "parent";
  static char child_tag[] = "child";
  ASSERT_EQ(ut_onsig_call_add(1, write_tag, parent_tag), 1);
  const Outcome outcome = run_with_pipe([] {
    signal(SIGTERM, SIG_DFL);
    ut_onsig_install_signal_handlers(1);
    ut_onsig_call_add(2, write_tag, child_tag);
    raise(SIGTERM);
    return 0;
  });
  EXPECT_EQ(ut_onsig_call_del(write_tag, parent_tag), 1);
  EXPECT_EQ(outcome.output, "child");
  ASSERT_TRUE(WIFSIGNALED(outcome.status)) << describe_status(outcome.status);
  EXPECT_EQ(WTERMSIG(outcome.status), SIGTERM);
}

void request_termination(void*, int) { kill(getpid(), SIGTERM); }

// A termination request that arrives while the hooks run (here sent by the first hook
// itself) waits until all of them are done.
TEST(FatalSignalHooks, TerminationRequestWaitsForTheHooks) {
  const Outcome outcome = run_with_pipe([] {
    signal(SIGABRT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    static char a[] = "a", b[] = "b";
    ut_onsig_install_signal_handlers(1);
    ut_onsig_call_add(1, request_termination, nullptr);
    ut_onsig_call_add(2, write_tag, a);
    ut_onsig_call_add(3, write_tag, b);
    raise(SIGABRT);
    return 0;
  });
  EXPECT_EQ(outcome.output, "ab");
  EXPECT_TRUE(WIFSIGNALED(outcome.status)) << describe_status(outcome.status);
}

}  // namespace
