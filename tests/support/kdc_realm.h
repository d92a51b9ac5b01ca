// A throwaway Kerberos realm for tests: its own krb5.conf and kdc.conf in a
// temporary directory, a database made with kdb5_util, principals with keytabs made
// with kadmin.local, and krb5kdc on a free loopback port (UDP and TCP). Tickets go
// into credential caches of the test's choosing (kinit with a keytab). The KDC dies
// with the test process if that ends early; stop() ends it and removes everything.
//
// start() sets KRB5_CONFIG, KRB5_KDC_PROFILE and KRB5RCACHENAME ("none:") in this
// process, so that the GSS-API library here and every program started from here
// (a server under test included) use the realm.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vqtest {

class KdcRealm {
 public:
  explicit KdcRealm(std::string realm) : realm_(std::move(realm)) {}
  ~KdcRealm() { stop(); }
  KdcRealm(const KdcRealm&) = delete;
  KdcRealm& operator=(const KdcRealm&) = delete;

  // Non-empty when the KDC programs are not installed: the tests should skip.
  static std::string missing_programs() {
    for (const char* p : {"krb5kdc", "kdb5_util", "kadmin.local", "kinit"})
      if (find_program(p).empty())
        return "MIT Kerberos KDC programs not found (krb5kdc, kdb5_util, kadmin.local, "
               "kinit); install krb5-kdc, krb5-admin-server and krb5-user to run these tests";
    return "";
  }

  // Makes the realm with these principals, each with its own keytab file in
  // dir(), named after the second member, and starts the KDC. Empty on success,
  // else what failed.
  std::string start(const std::vector<std::pair<std::string, std::string>>& principals) {
    char templ[] = "/tmp/vq-krb5-XXXXXX";
    if (mkdtemp(templ) == nullptr) return "cannot make a temporary directory";
    dir_ = templ;
    const int port = free_port();
    if (port < 0) return "no free loopback port";
    const std::string d = dir_.string();
    const std::string p = std::to_string(port);
    write_file(dir_ / "krb5.conf",
               "[libdefaults]\n default_realm = " + realm_ +
                   "\n dns_lookup_kdc = false\n dns_lookup_realm = false\n rdns = false\n"
                   " dns_canonicalize_hostname = false\n udp_preference_limit = 1\n"
                   "[realms]\n " +
                   realm_ + " = {\n  kdc = 127.0.0.1:" + p + "\n }\n");
    write_file(dir_ / "kdc.conf",
               "[kdcdefaults]\n kdc_ports = " + p + "\n kdc_tcp_ports = " + p +
                   "\n[realms]\n " + realm_ + " = {\n  database_name = " + d +
                   "/principal\n  key_stash_file = " + d + "/stash\n  acl_file = " + d +
                   "/kadm5.acl\n  kdc_listen = 127.0.0.1:" + p +
                   "\n  kdc_tcp_listen = 127.0.0.1:" + p +
                   "\n  master_key_type = aes256-cts-hmac-sha1-96\n"
                   "  supported_enctypes = aes256-cts-hmac-sha1-96:normal\n }\n"
                   "[logging]\n kdc = FILE:" +
                   d + "/kdc.log\n");
    setenv("KRB5_CONFIG", (d + "/krb5.conf").c_str(), 1);
    setenv("KRB5_KDC_PROFILE", (d + "/kdc.conf").c_str(), 1);
    setenv("KRB5RCACHENAME", "none:", 1);

    std::string out;
    if (run_program(
            {find_program("kdb5_util"), "create", "-s", "-r", realm_, "-P", "master-pw", "-W"},
            &out) != 0)
      return "kdb5_util create failed: " + out;
    for (const auto& [name, keytab] : principals) {
      for (const std::string& q : {"addprinc -randkey " + principal(name),
                                   "ktadd -k " + d + "/" + keytab + " " + principal(name)}) {
        out.clear();
        if (run_program({find_program("kadmin.local"), "-r", realm_, "-q", q}, &out) != 0)
          return "kadmin.local failed: " + out;
      }
    }

    const std::string kdc = find_program("krb5kdc");
    kdc_pid_ = fork();
    if (kdc_pid_ < 0) return "fork failed";
    if (kdc_pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive the test
      const int log = open((d + "/krb5kdc.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (log >= 0) {
        dup2(log, STDOUT_FILENO);
        dup2(log, STDERR_FILENO);
      }
      execl(kdc.c_str(), kdc.c_str(), "-n", "-r", realm_.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!tcp_accepts(port)) {
      int status = 0;
      if (waitpid(kdc_pid_, &status, WNOHANG) == kdc_pid_) {
        kdc_pid_ = -1;
        return "krb5kdc ended at start-up; see its log in " + d;
      }
      if (Clock::now() > deadline) return "krb5kdc did not start listening in time";
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return "";
  }

  // Gets `name`'s ticket with its keytab into the credential cache `ccache`
  // ("FILE:..."). Empty on success, else kinit's output.
  std::string kinit(const std::string& name, const std::string& keytab,
                    const std::string& ccache) {
    std::string out;
    if (run_program({find_program("kinit"), "-k", "-t", keytab_path(keytab), "-c", ccache,
                     principal(name)},
                    &out) != 0)
      return "kinit failed: " + out;
    return "";
  }

  void stop() {
    if (kdc_pid_ > 0) {
      kill(kdc_pid_, SIGTERM);
      int status = 0;
      const auto deadline = Clock::now() + std::chrono::seconds(3);
      while (waitpid(kdc_pid_, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
          kill(kdc_pid_, SIGKILL);
          waitpid(kdc_pid_, &status, 0);
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      kdc_pid_ = -1;
    }
    if (!dir_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(dir_, ignored);
      dir_.clear();
    }
  }

  std::string principal(const std::string& name) const { return name + "@" + realm_; }
  std::string keytab_path(const std::string& keytab) const { return (dir_ / keytab).string(); }
  const std::filesystem::path& dir() const { return dir_; }

  static std::string find_program(const std::string& name) {
    std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    path += ":/usr/sbin:/sbin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= path.size()) {
      const std::size_t end = std::min(path.find(':', start), path.size());
      const std::string candidate = path.substr(start, end - start) + "/" + name;
      if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
      start = end + 1;
    }
    return "";
  }

  // Runs a program to its end (killed after `timeout`); its exit status, or -1.
  // Standard output and error go to `output`.
  static int run_program(const std::vector<std::string>& argv, std::string* output,
                         std::chrono::seconds timeout = std::chrono::seconds(20)) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
      dup2(fds[1], STDOUT_FILENO);
      dup2(fds[1], STDERR_FILENO);
      const int null_fd = open("/dev/null", O_RDONLY);
      if (null_fd >= 0) dup2(null_fd, STDIN_FILENO);
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(fds[1]);
    const auto deadline = Clock::now() + timeout;
    char buffer[4096];
    for (;;) {
      pollfd p{fds[0], POLLIN, 0};
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) {
        kill(pid, SIGKILL);
        break;
      }
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      const ssize_t n = read(fds[0], buffer, sizeof buffer);
      if (n <= 0) break;
      output->append(buffer, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  using Clock = std::chrono::steady_clock;

  static void write_file(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path) << text;
  }

  // A port free for both UDP and TCP on 127.0.0.1 (the KDC listens on both).
  static int free_port() {
    for (int attempt = 0; attempt < 20; ++attempt) {
      const int tcp = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in addr{};
      addr.sin_family = AF_INET;
      addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      socklen_t len = sizeof addr;
      if (bind(tcp, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
          getsockname(tcp, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        close(tcp);
        continue;
      }
      const int udp = socket(AF_INET, SOCK_DGRAM, 0);
      const bool udp_free = bind(udp, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
      close(udp);
      close(tcp);
      if (udp_free) return ntohs(addr.sin_port);
    }
    return -1;
  }

  static bool tcp_accepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
  }

  std::string realm_;
  std::filesystem::path dir_;
  pid_t kdc_pid_ = -1;
};

}  // namespace vqtest
