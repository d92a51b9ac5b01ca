// Runs the other side of a shared-memory test: in a forked child (its result becomes
// the exit status), or on a thread in the ThreadSanitizer build, where forked children
// of an instrumented process are not followed reliably. Either way the peer shares the
// test's mappings. A child ends itself with SIGALRM after `limit_seconds`, so a fault
// fails the test instead of hanging it.
#ifndef VQ_TESTS_UNIT_STREAMS_SHM_PEER_RUNNER_H
#define VQ_TESTS_UNIT_STREAMS_SHM_PEER_RUNNER_H

#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <thread>

namespace vq::shm::test {

#if defined(__SANITIZE_THREAD__)
constexpr bool kPeerIsThread = true;
#else
constexpr bool kPeerIsThread = false;
#endif

class PeerRunner {
 public:
  PeerRunner(std::function<int()> body, unsigned limit_seconds) {
    if (kPeerIsThread) {
      thread_ = std::thread([this, body] { result_ = body(); });
      return;
    }
    pid_ = fork();
    if (pid_ == 0) {
      alarm(limit_seconds);
      _exit(body());
    }
  }
  ~PeerRunner() { Join(); }
  PeerRunner(const PeerRunner&) = delete;
  PeerRunner& operator=(const PeerRunner&) = delete;

  // The peer's result: its return value, or -1 when the child could not start or did
  // not exit normally.
  int Join() {
    if (thread_.joinable()) thread_.join();
    if (pid_ > 0) {
      int status = 0;
      result_ =
          waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      pid_ = 0;
    } else if (pid_ < 0) {
      result_ = -1;
      pid_ = 0;
    }
    return result_;
  }
  pid_t pid() const { return pid_; }

 private:
  std::thread thread_;
  pid_t pid_ = 0;
  int result_ = -1;
};

}  // namespace vq::shm::test

#endif  // VQ_TESTS_UNIT_STREAMS_SHM_PEER_RUNNER_H
