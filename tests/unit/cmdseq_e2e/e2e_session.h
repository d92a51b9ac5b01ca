// What the client's end-to-end tests share: a fresh VCTMP, vqeng12 serving shared memory
// under it and TCP/IP on a loopback port, the client library started with one
// environment, a connect through the whole road and a statement on it, and the servers a
// client started itself.
#ifndef VQ_TESTS_CMDSEQ_E2E_SESSION_H
#define VQ_TESTS_CMDSEQ_E2E_SESSION_H

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "cmdseq/cmdseq_env.h"
#include "cmdseq/connect.h"
#include "cmdseq/error_info.h"
#include "cmdseq/statement.h"
#include "config/conn_parms.h"
#include "scoped_environment.h"
#include "streams/shm/resource_tree.h"
#include "vqeng_process.h"

namespace vq_e2e {

// The two links every end-to-end path runs over.
enum class Link { kSharedMemory, kTcpIp };

inline const char* LinkName(Link link) {
  return link == Link::kTcpIp ? "TcpIp" : "SharedMemory";
}

// A temporary directory made VCTMP for the scope; Files() lists what is left in it. The
// shared-memory link reads its resource root once per process, so it is told to read it
// again at both ends of the scope. HOME goes to a second one: the client caches server
// addresses by server name under it, and a cache shared with other tests' servers of the
// same name would send a connect to them.
class TempVctmp {
 public:
  TempVctmp() {
    root_ = MakeTemp();
    home_ = MakeTemp();
    vars_.Set("VCTMP", root_.c_str());
    vars_.Set("HOME", home_.c_str());
    vq::shm::testing::ResetResourceRootCache();
  }
  ~TempVctmp() {
    std::error_code ec;
    for (const std::string& dir : {root_, home_}) {
      if (!dir.empty()) std::filesystem::remove_all(dir, ec);
    }
    vq::shm::testing::ResetResourceRootCache();
  }
  TempVctmp(const TempVctmp&) = delete;
  TempVctmp& operator=(const TempVctmp&) = delete;

  const std::string& path() const { return root_; }
  std::vector<std::string> Files() const {
    std::vector<std::string> left;
    std::error_code ec;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root_, ec)) {
      if (!e.is_directory()) left.push_back(e.path().string());
    }
    return left;
  }

 private:
  static std::string MakeTemp() {
    std::string dir = (std::filesystem::temp_directory_path() / "vqe2eXXXXXX").string();
    return mkdtemp(dir.data()) != nullptr ? dir : std::string();
  }
  std::string root_;
  std::string home_;
  vq::testing::ScopedEnvironment vars_{{"VCTMP", "HOME"}};
};

// The lines of a text file (a request log, a client's log), empty when it cannot be read.
inline std::vector<std::string> FileLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// vqeng12 named `name`; Links() is the connection-string part that reaches it over `link`
// (broadcast off for TCP/IP).
class Server : public vq_test::VqengProcess {
 public:
  explicit Server(std::string name) : name_(std::move(name)) {}
  bool Start(std::vector<std::string> extra = {}) {
    return VqengProcess::Start(VQENG12_PATH, name_, std::move(extra));
  }
  // Starts the server with its request log (-rl) at `log_path`.
  bool StartWithRequestLog(const std::string& log_path, std::vector<std::string> extra = {}) {
    log_path_ = log_path;
    extra.insert(extra.begin(), {"-rl", log_path});
    return Start(std::move(extra));
  }
  // What the request log holds for connection `number` (the connect reply's handle), one
  // request item a line, without the number: "prepare SELECT 1", "commit", ...
  std::vector<std::string> Requests(std::uint32_t number) const {
    std::vector<std::string> lines;
    const std::string prefix = std::to_string(number) + " ";
    for (const std::string& line : FileLines(log_path_)) {
      if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line.substr(prefix.size()));
    }
    return lines;
  }
  const std::string& name() const { return name_; }
  std::string Links(Link link) const {
    std::string s = "ServerName=" + name_;
    if (link == Link::kTcpIp) {
      s += ";CommLinks=tcpip(host=127.0.0.1;port=" + std::to_string(port()) +
           ";DoBroadcast=NONE)";
    }
    return s;
  }

 private:
  std::string name_;
  std::string log_path_;
};

// The server's request log (start the server with "-rl", path()): one line per event,
// "<connection number> <what>", written as it happens.
class RequestLog {
 public:
  explicit RequestLog(std::string path) : path_(std::move(path)) {}
  const std::string& path() const { return path_; }

  std::vector<std::string> Lines() const { return FileLines(path_); }
  // Lines whose event (the text after the connection number) begins with `event`.
  int Count(const std::string& event) const {
    int n = 0;
    for (const auto& l : Lines()) n += Event(l).compare(0, event.size(), event) == 0 ? 1 : 0;
    return n;
  }
  // Connections that made their app-connect exchange and have not closed.
  int OpenConnections() const {
    std::set<std::string> open;
    for (const auto& l : Lines()) {
      const std::string number = l.substr(0, l.find(' '));
      if (Event(l).compare(0, 12, "app-connect ") == 0) open.insert(number);
      if (Event(l).compare(0, 8, "closed: ") == 0) open.erase(number);
    }
    return static_cast<int>(open.size());
  }
  // Waits until `done()` holds, polling every 20 ms for at most `limit`.
  template <class Done>
  static bool WaitFor(Done done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() >= end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

 private:
  static std::string Event(const std::string& line) {
    const std::size_t space = line.find(' ');
    return space == std::string::npos ? std::string() : line.substr(space + 1);
  }
  std::string path_;
};

// What an error block held after a call: the SQL code, the three states, the server's
// message text and the message parameters.
struct ErrorSeen {
  int sqlcode = 0;
  std::string server_state, odbc3_state, odbc2_state, message;
  std::vector<std::string> params;

  ErrorSeen() = default;
  explicit ErrorSeen(const a_cmdseq_error_info& err)
      : sqlcode(err.sqlcode),
        server_state(err.server_state),
        odbc3_state(err.odbc3_state),
        odbc2_state(err.odbc2_state),
        message(err.message != nullptr ? err.message : "") {
    for (const a_cmdseq_str_node* p = err.params; p != nullptr; p = p->next)
      params.emplace_back(p->text);
  }
};

// The client library started with one environment (as the ODBC layer makes it).
class Client {
 public:
  Client() {
    started_ = CmdSeqInit() >= 0;
    if (started_) allocated_ = CmdSeqAllocEnv(&env_) == CMDSEQ_OK;
    env_.app_type = 2;
  }
  ~Client() {
    if (allocated_) CmdSeqFreeEnv(&env_);
    if (started_) CmdSeqFini();
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool ok() const { return started_ && allocated_; }
  a_cmdseq_env* env() { return &env_; }

  // Connects from now on may start a local server and a database, as the ODBC layer's do.
  void AllowStarts() { allow_starts_ = true; }
  // Whether the last connect started a local server.
  bool StartedServer() const { return started_server_; }

  // One connect with `connect_string`: its result, the connection (null on failure) and
  // the SQL code of the error block.
  a_cmdseq_return Connect(const std::string& connect_string, a_cmdseq_conn** conn,
                          int* sqlcode = nullptr) {
    *conn = nullptr;
    c_conn_parms parms;
    if (parms.init(connect_string.c_str(), false) != 0) return CMDSEQ_ERROR;
    return Connect(&parms, conn, sqlcode);
  }
  // The same with the caller's parameters, which the connect may rewrite (a redirection).
  a_cmdseq_return Connect(c_conn_parms* parms, a_cmdseq_conn** conn, int* sqlcode = nullptr) {
    *conn = nullptr;
    started_server_ = false;
    a_cmdseq_error_info err;
    CmdSeqInitErrorParam(&env_, &err, 0);
    a_cmdseq_strconn_param param{};
    param.parms = parms;
    param.env = &env_;
    param.allow_server_start = param.allow_database_start = allow_starts_ ? 1 : 0;
    param.forced_level = forced_level_;
    param.forced_first_word = forced_first_word_;
    const a_cmdseq_return r = CmdSeqStringConnect(conn, &err, &param);
    started_server_ = param.server_started != 0;
    if (sqlcode != nullptr) *sqlcode = err.sqlcode;
    last_connect_error_ = ErrorSeen(err);
    CmdSeqFiniErrorParam(&err);
    return r;
  }
  // What the error block of the last connect held.
  const ErrorSeen& LastConnectError() const { return last_connect_error_; }
  // Later connects ask for protocol `level` (1..15) with `first_word` as the app-connect
  // packet's first word; 0 asks for the client's own level.
  void ForceLevel(std::uint16_t level, std::uint16_t first_word) {
    forced_level_ = level;
    forced_first_word_ = first_word;
  }
  // Runs one statement on `conn`; the SQL code of the error block when it fails.
  a_cmdseq_return Exec(a_cmdseq_conn* conn, const std::string& sql, int* sqlcode = nullptr) {
    a_cmdseq_error_info err;
    CmdSeqInitErrorParam(&env_, &err, 0);
    a_cmdseq_exec_imm_param imm;
    imm.text = sql.c_str();
    imm.text_len = static_cast<std::uint32_t>(sql.size());
    const a_cmdseq_return r = CmdSeqExecuteImm(conn, &err, &imm);
    if (sqlcode != nullptr) *sqlcode = err.sqlcode;
    CmdSeqFiniErrorParam(&err);
    return r;
  }
  // Disconnects `conn`; the SQL code of the error block when it fails.
  a_cmdseq_return Disconnect(a_cmdseq_conn* conn, int* sqlcode = nullptr) {
    a_cmdseq_error_info err;
    CmdSeqInitErrorParam(&env_, &err, 0);
    const a_cmdseq_return r = CmdSeqDisconnect(conn, &err);
    if (sqlcode != nullptr) *sqlcode = err.sqlcode;
    CmdSeqFiniErrorParam(&err);
    return r;
  }

 private:
  a_cmdseq_env env_;
  bool started_ = false;
  bool allocated_ = false;
  bool allow_starts_ = false;
  std::uint16_t forced_level_ = 0;
  std::uint16_t forced_first_word_ = 0;
  bool started_server_ = false;
  ErrorSeen last_connect_error_;
};

// The vqeng12 processes a client started under the server name `name` (found by "-n
// name" on their command line; they are not this process's children). The destructor
// ends those still running, by process id, so that no test leaves one behind.
class StartedServers {
 public:
  explicit StartedServers(std::string name) : name_(std::move(name)) {}
  ~StartedServers() {
    for (const pid_t pid : Pids()) ::kill(pid, SIGTERM);
    if (!WaitGone(10000)) {
      for (const pid_t pid : Pids()) ::kill(pid, SIGKILL);
      (void)WaitGone(5000);
    }
  }
  StartedServers(const StartedServers&) = delete;
  StartedServers& operator=(const StartedServers&) = delete;

  // The processes that run (a zombie has ended) with "-n" and the name among their
  // arguments.
  std::vector<pid_t> Pids() const {
    std::vector<pid_t> found;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/proc", ec)) {
      const std::string id = e.path().filename().string();
      if (id.find_first_not_of("0123456789") != std::string::npos) continue;
      const pid_t pid = static_cast<pid_t>(std::stol(id));
      const std::vector<std::string> args = Args(pid);
      for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "-n" && args[i + 1] == name_ && !Ended(pid)) {
          found.push_back(pid);
          break;
        }
      }
    }
    return found;
  }
  // Waits (sleeping) until none runs; false when one still does after `ms`.
  bool WaitGone(int ms) const {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!Pids().empty()) {
      if (std::chrono::steady_clock::now() >= until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
  }
  // The command line of a process, one entry per argument.
  static std::vector<std::string> Args(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::vector<std::string> args;
    for (std::string a; std::getline(in, a, '\0');) args.push_back(a);
    return args;
  }

 private:
  static bool Ended(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    const std::size_t close = stat.rfind(')');
    return !in || close == std::string::npos || close + 2 >= stat.size() ||
           stat[close + 2] == 'Z' || stat[close + 2] == 'X';
  }
  std::string name_;
};

}  // namespace vq_e2e

#endif  // VQ_TESTS_CMDSEQ_E2E_SESSION_H
