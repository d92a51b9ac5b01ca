// What the client's end-to-end tests share: a fresh VCTMP, vqeng12 serving shared memory
// under it and TCP/IP on a loopback port, the client library started with one
// environment, and a connect through the whole road.
#ifndef VQ_TESTS_CMDSEQ_E2E_SESSION_H
#define VQ_TESTS_CMDSEQ_E2E_SESSION_H

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "cmdseq/cmdseq_env.h"
#include "cmdseq/connect.h"
#include "cmdseq/error_info.h"
#include "config/conn_parms.h"
#include "streams/shm/resource_tree.h"
#include "scoped_environment.h"
#include "vqeng_process.h"

namespace vq_e2e {

// The two links every end-to-end path runs over.
enum class Link { kSharedMemory, kTcpIp };

inline const char* LinkName(Link link) {
  return link == Link::kTcpIp ? "TcpIp" : "SharedMemory";
}

// A temporary directory made VCTMP for the scope (and the stack's resource root);
// Files() lists what is left in it. HOME is another temporary directory for the scope:
// the server address cache ("vcsrv.ini") lives there, so that a server of the same name
// in another test or process is never found through it.
class TempVctmp {
 public:
  TempVctmp() {
    root_ = MakeDirectory("vqe2eXXXXXX");
    home_ = MakeDirectory("vqe2ehomeXXXXXX");
    vars_.Set("VCTMP", root_.c_str());
    vars_.Set("HOME", home_.c_str());
    // The stack keeps the resource root it computed first; each scope has its own.
    vq::shm::testing::ResetResourceRootCache();
  }
  ~TempVctmp() {
    vq::shm::testing::ResetResourceRootCache();
    std::error_code ec;
    for (const std::string* dir : {&root_, &home_})
      if (!dir->empty()) std::filesystem::remove_all(*dir, ec);
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
  static std::string MakeDirectory(const char* pattern) {
    std::string dir = (std::filesystem::temp_directory_path() / pattern).string();
    return mkdtemp(dir.data()) != nullptr ? dir : std::string();
  }

  std::string root_;
  std::string home_;
  vq::testing::ScopedEnvironment vars_{{"VCTMP"}};
};

// vqeng12 named `name`; Links() is the connection-string part that reaches it over `link`
// (broadcast off for TCP/IP).
class Server : public vq_test::VqengProcess {
 public:
  explicit Server(std::string name) : name_(std::move(name)) {}
  bool Start(std::vector<std::string> extra = {}) {
    return VqengProcess::Start(VQENG12_PATH, name_, std::move(extra));
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
};

// What an error block held after a call: the SQL code, the three states, the server's
// message text and the message parameters.
struct ErrorSeen {
  int sqlcode = 0;
  std::string server_state, odbc3_state, odbc2_state, message;
  std::vector<std::string> params;

  explicit ErrorSeen(const a_cmdseq_error_info& err)
      : sqlcode(err.sqlcode),
        server_state(err.server_state),
        odbc3_state(err.odbc3_state),
        odbc2_state(err.odbc2_state),
        message(err.message != nullptr ? err.message : "") {
    for (const a_cmdseq_str_node* p = err.params; p != nullptr; p = p->next)
      params.emplace_back(p->text);
  }
  ErrorSeen() = default;
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

  // One connect with `connect_string`: its result, the connection (null on failure) and
  // the SQL code of the error block.
  a_cmdseq_return Connect(const std::string& connect_string, a_cmdseq_conn** conn,
                          int* sqlcode = nullptr) {
    ErrorSeen seen;
    const a_cmdseq_return r = Connect(connect_string, conn, &seen);
    if (sqlcode != nullptr) *sqlcode = seen.sqlcode;
    return r;
  }
  // The same, with what the error block held.
  a_cmdseq_return Connect(const std::string& connect_string, a_cmdseq_conn** conn,
                          ErrorSeen* seen) {
    *conn = nullptr;
    c_conn_parms parms;
    if (parms.init(connect_string.c_str(), false) != 0) return CMDSEQ_ERROR;
    a_cmdseq_error_info err;
    CmdSeqInitErrorParam(&env_, &err, 0);
    a_cmdseq_strconn_param param{};
    param.parms = &parms;
    param.env = &env_;
    const a_cmdseq_return r = CmdSeqStringConnect(conn, &err, &param);
    *seen = ErrorSeen(err);
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
};

}  // namespace vq_e2e

#endif  // VQ_TESTS_CMDSEQ_E2E_SESSION_H
