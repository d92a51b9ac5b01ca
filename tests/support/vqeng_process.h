// The stand-in server as a child process of a test: vqeng12 serving shared memory under
// the test's VCTMP and TCP/IP on a loopback port of its choosing, which it prints first
// ("port=N"). Start() returns once the server reported ready on its hand-shake
// descriptor; Stop() (or the destructor) ends it with SIGTERM, then SIGKILL after 10 s.
#ifndef VQ_TESTS_VQENG_PROCESS_H
#define VQ_TESTS_VQENG_PROCESS_H

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace vq_test {

class VqengProcess {
 public:
  // `program` is the server's path, `name` the server name; `extra` arguments follow.
  bool Start(const std::string& program, const std::string& name,
             std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {program, "-shm", "-n", name, "-x", "tcpip(port=0)"};
    args.insert(args.end(), extra.begin(), extra.end());
    int hs[2];
    int out[2];
    if (pipe(hs) != 0) return false;
    if (pipe(out) != 0) return false;
    pid_ = fork();
    if (pid_ == 0) {
      close(hs[0]);
      close(out[0]);
      dup2(out[1], STDOUT_FILENO);
      args.push_back("-hn");
      args.push_back(std::to_string(hs[1]));
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(&a[0]);
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(hs[1]);
    close(out[1]);
    std::uint16_t status = 0xFFFF;
    const bool ready = pid_ > 0 && read(hs[0], &status, 2) == 2 && status == 0;
    close(hs[0]);
    std::string line;
    char c = 0;
    while (line.size() < 32 && read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    if (line.rfind("port=", 0) == 0) port_ = std::atoi(line.c_str() + 5);
    return ready;
  }
  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 1000; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = 0;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }
  ~VqengProcess() { Stop(); }

 private:
  pid_t pid_ = 0;
  int port_ = 0;
};

}  // namespace vq_test

#endif  // VQ_TESTS_VQENG_PROCESS_H
