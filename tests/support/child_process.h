// Runs a function in a forked child with its standard output captured, for tests of
// code that ends the process.
#ifndef VQ_TESTS_SUPPORT_CHILD_PROCESS_H
#define VQ_TESTS_SUPPORT_CHILD_PROCESS_H

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

namespace vq::testing {

struct ChildResult {
  int status = 0;        // as waitpid reports it
  std::string output;    // everything the child wrote to standard output
  bool exited(int code) const { return WIFEXITED(status) && WEXITSTATUS(status) == code; }
};

// The child runs `body` and then exits with status 0 through _exit.
inline ChildResult RunInChild(const std::function<void()>& body) {
  int fds[2];
  if (pipe(fds) != 0) std::abort();
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], STDOUT_FILENO);
    close(fds[1]);
    body();
    _exit(0);
  }
  close(fds[1]);
  ChildResult result;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0) result.output.append(buffer, n);
  close(fds[0]);
  waitpid(pid, &result.status, 0);
  return result;
}

}  // namespace vq::testing

#endif  // VQ_TESTS_SUPPORT_CHILD_PROCESS_H
