// A throw-away directory server for tests: the system's slapd started on a free loopback
// port with a generated configuration and database in a temporary directory, preloaded
// with the entries a test gives (through slapadd, so that entries may carry the time
// stamps a test needs), and stopped and removed again when the object goes.
//
// Every wait is bounded. Start() answers why the server could not start (empty on
// success), so that a test can skip with the reason on a machine without slapd.
#ifndef VQ_TESTS_UNIT_NET_SLAPD_SERVER_H
#define VQ_TESTS_UNIT_NET_SLAPD_SERVER_H

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace vq::testing {

class SlapdServer {
 public:
  static constexpr const char* kSlapd = "/usr/sbin/slapd";
  static constexpr const char* kSlapadd = "/usr/sbin/slapadd";
  static constexpr const char* kSuffix = "o=vqtest";
  static constexpr const char* kRootDN = "cn=admin,o=vqtest";
  static constexpr const char* kRootPassword = "secret";

  SlapdServer() = default;
  ~SlapdServer() { Stop(); }
  SlapdServer(const SlapdServer&) = delete;
  SlapdServer& operator=(const SlapdServer&) = delete;

  // `entries` is LDIF added below the product unit's parent. With `activeDirectory` the
  // root entry announces the capability of that directory family, and the presentation
  // address takes plain text (the system schema has no validator for its syntax).
  std::string Start(const std::string& entries, bool activeDirectory = false) {
    if (access(kSlapd, X_OK) != 0 || access(kSlapadd, X_OK) != 0)
      return "slapd is not installed";
    char pattern[] = "/tmp/vq_slapd_XXXXXX";
    if (mkdtemp(pattern) == nullptr) return "no temporary directory";
    dir_ = pattern;
    std::filesystem::create_directory(dir_ + "/db");

    std::string schema = "/etc/ldap/schema/core.schema";
    std::ostringstream conf;
    if (activeDirectory) {
      schema = dir_ + "/core.schema";
      std::ifstream in("/etc/ldap/schema/core.schema");
      std::ostringstream text;
      text << in.rdbuf();
      std::string s = text.str();
      Replace(s, "EQUALITY presentationAddressMatch", "EQUALITY caseIgnoreMatch");
      Replace(s, "SYNTAX 1.3.6.1.4.1.1466.115.121.1.43",
              "SYNTAX 1.3.6.1.4.1.1466.115.121.1.15");
      Write("core.schema", s);
      Write("capabilities.schema",
            "attributetype ( 1.3.6.1.4.1.55555.1.1 NAME 'supportedCapabilities'\n"
            "  EQUALITY objectIdentifierMatch SYNTAX 1.3.6.1.4.1.1466.115.121.1.38 )\n");
      Write("rootdse.ldif", "dn:\nsupportedCapabilities: 1.2.840.113556.1.4.800\n");
    }
    conf << "include " << schema << "\n";
    if (activeDirectory) conf << "include " << dir_ << "/capabilities.schema\n";
    conf << "modulepath /usr/lib/ldap\nmoduleload back_mdb\n"
         << "pidfile " << dir_ << "/slapd.pid\nargsfile " << dir_ << "/slapd.args\n";
    if (activeDirectory) conf << "rootDSE " << dir_ << "/rootdse.ldif\n";
    conf << "database mdb\nsuffix \"" << kSuffix << "\"\nrootdn \"" << kRootDN << "\"\n"
         << "rootpw " << kRootPassword << "\ndirectory " << dir_ << "/db\nmaxsize 16777216\n";
    Write("slapd.conf", conf.str());
    Write("data.ldif",
          "dn: o=vqtest\nobjectClass: organization\no: vqtest\n\n"
          "dn: ou=QuillonVSR,o=vqtest\nobjectClass: organizationalUnit\nou: QuillonVSR\n\n" +
              entries);

    const std::string config = dir_ + "/slapd.conf";
    const std::string data = dir_ + "/data.ldif";
    pid_t loader = Spawn({kSlapadd, "-f", config.c_str(), "-l", data.c_str()}, "slapadd.log");
    if (loader < 0 || !WaitExit(loader, std::chrono::seconds(30), true))
      return "slapadd did not finish: " + Log("slapadd.log");

    // A port that was free a moment ago; another process may take it first, so try a few.
    for (int attempt = 0; attempt < 3; ++attempt) {
      port_ = FreePort();
      if (port_ == 0) return "no free loopback port";
      const std::string url = "ldap://127.0.0.1:" + std::to_string(port_) + "/";
      pid_ = Spawn({kSlapd, "-f", config.c_str(), "-h", url.c_str(), "-d", "0"}, "slapd.log");
      if (pid_ < 0) return "slapd could not be started";
      if (WaitReady()) return "";
      Stop(false);
    }
    return "slapd did not start: " + Log("slapd.log");
  }

  void Stop(bool removeFiles = true) {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      if (!WaitExit(pid_, std::chrono::seconds(10), false)) {
        kill(pid_, SIGKILL);
        WaitExit(pid_, std::chrono::seconds(10), false);
      }
      pid_ = -1;
    }
    if (removeFiles && !dir_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(dir_, ignored);
      dir_.clear();
    }
  }

  int port() const { return port_; }
  const std::string& dir() const { return dir_; }

  // Writes a file into the server's directory and answers its path.
  std::string Write(const std::string& name, const std::string& text) const {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path) << text;
    return path;
  }

 private:
  static void Replace(std::string& s, const std::string& from, const std::string& to) {
    for (std::size_t at = s.find(from); at != std::string::npos;
         at = s.find(from, at + to.size()))
      s.replace(at, from.size(), to);
  }

  std::string Log(const std::string& name) const {
    std::ifstream in(dir_ + "/" + name);
    std::ostringstream text;
    text << in.rdbuf();
    std::string s = text.str();
    return s.size() > 2000 ? s.substr(s.size() - 2000) : s;
  }

  pid_t Spawn(const std::vector<const char*>& args, const std::string& log) const {
    const std::string logPath = dir_ + "/" + log;
    std::vector<char*> argv;
    for (const char* a : args) argv.push_back(const_cast<char*>(a));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      const int fd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fd >= 0) {
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
        close(fd);
      }
      execv(argv[0], argv.data());
      _exit(127);
    }
    return pid;
  }

  // Waits for the process to end, sleeping between looks; true when it ended (with
  // status 0 when `needSuccess`).
  static bool WaitExit(pid_t pid, std::chrono::seconds limit, bool needSuccess) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      int status = 0;
      const pid_t r = waitpid(pid, &status, WNOHANG);
      if (r == pid) return !needSuccess || (WIFEXITED(status) && WEXITSTATUS(status) == 0);
      if (r < 0) return false;
      if (std::chrono::steady_clock::now() >= deadline) {
        if (needSuccess) {
          kill(pid, SIGKILL);
          waitpid(pid, &status, 0);
        }
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  static int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      port = ntohs(a.sin_port);
    close(fd);
    return port;
  }

  // The server answers connections within ten seconds, and is still running.
  bool WaitReady() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      const int fd = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(static_cast<std::uint16_t>(port_));
      const bool up = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
      if (fd >= 0) close(fd);
      if (up) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
  }

  pid_t pid_ = -1;
  int port_ = 0;
  std::string dir_;
};

}  // namespace vq::testing

#endif  // VQ_TESTS_UNIT_NET_SLAPD_SERVER_H
