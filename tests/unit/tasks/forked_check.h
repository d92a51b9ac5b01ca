// Runs a piece of a test in a child made by fork(). The child reports through its
// exit status: 0 when every check passed, otherwise the number of the first failed
// check, so that the parent's message points at it. A child that hangs is ended by
// an alarm after kChildSeconds instead of hanging the test.
#ifndef VQ_TESTS_TASKS_FORKED_CHECK_H
#define VQ_TESTS_TASKS_FORKED_CHECK_H

#include <stdio.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

constexpr unsigned kChildSeconds = 20;

template <class Body>
int run_in_child(Body body) {
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(kChildSeconds);
    _exit(body());
  }
  if (pid < 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return status;
}

inline std::string describe_status(int status) {
  if (status == -1) return "fork failed";
  if (WIFEXITED(status)) return "exited with " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}

inline bool exited_cleanly(int status) {
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

#endif
