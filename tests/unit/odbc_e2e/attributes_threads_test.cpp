// Connection attributes on a live connection to vqeng12: isolation levels reach the server
// as its "isolation_level" option, server messages reach the application's narrow and
// UTF-16 callbacks, the application's check allows or refuses a file transfer the server
// asks for, and SQL_ATTR_CONNECTION_DEAD follows the server going away.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "config/data_source_profile.h"
#include "engine_session.h"
#include "odbc/attributes.h"
#include "odbc/library_start.h"
#include "odbc/diagnostics.h"
#include "odbc/engine.h"
#include "utils/base/memory.h"

namespace {

using vq_e2e::Link;
using vq_odbc_e2e::HasLine;
using vq_odbc_e2e::OneValue;

// What the callbacks saw; they may run on a client thread.
struct Seen {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> messages;
  std::vector<std::string> files;
  int file_answer = 0;

  bool WaitForMessages(std::size_t n) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10),
                            [&] { return messages.size() >= n; });
  }
};
Seen g_seen;

void NarrowMessage(SQLHDBC, std::uint8_t type, std::int32_t code, std::uint16_t length,
                   const char* text) {
  std::lock_guard<std::mutex> lock(g_seen.mutex);
  g_seen.messages.push_back(std::to_string(type) + "/" + std::to_string(code) + "/" +
                            std::string(text, length));
  g_seen.changed.notify_all();
}

void WideMessage(SQLHDBC, std::uint8_t type, std::int32_t code, std::uint16_t length,
                 const SQLWCHAR* text) {
  // The text is UTF-16LE of `length` bytes, terminated; ASCII is kept as such here.
  std::string narrow;
  for (std::uint16_t i = 0; i < length / 2; ++i) {
    narrow += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
  }
  const bool terminated = text[length / 2] == 0;
  std::lock_guard<std::mutex> lock(g_seen.mutex);
  g_seen.messages.push_back("w" + std::to_string(type) + "/" + std::to_string(code) + "/" +
                            narrow + (terminated ? "" : " (unterminated)"));
  g_seen.changed.notify_all();
}

int FileCheck(SQLHDBC, const char* name, int write) {
  std::lock_guard<std::mutex> lock(g_seen.mutex);
  g_seen.files.push_back(std::string(write != 0 ? "w " : "r ") + name);
  return g_seen.file_answer;
}

class LiveAttributes : public vq_odbc_e2e::EngineSession {
 protected:
  LiveAttributes() : EngineSession("odbc_attrs") {}
  void SetUp() override {
    EngineSession::SetUp();
    Connect();
    // The connect's character-set step, as the driver's connect runs it.
    ASSERT_EQ(SetCharSetInDBC(dbc_.get()), SQL_SUCCESS);
    dbc_->state = kDbcConnected;
    std::lock_guard<std::mutex> lock(g_seen.mutex);
    g_seen.messages.clear();
    g_seen.files.clear();
    g_seen.file_answer = 0;
  }
  void TearDown() override {
    if (dbc_ != nullptr) {
      SetMessageCallback(dbc_.get(), nullptr, false);
      SetFileTranCallback(dbc_.get(), nullptr);
      FreeDiagRecords(dbc_.get());
      for (std::uint32_t i = 0; i < dbc_->option_count; ++i) {
        if (dbc_->options[i].kind == kOptText) {
          ut_free(reinterpret_cast<void*>(dbc_->options[i].value));
        }
      }
      ut_free(dbc_->options);
      dbc_->options = nullptr;
      dbc_->option_count = 0;
    }
    EngineSession::TearDown();
  }
  SQLRETURN Set(SQLINTEGER attribute, SQLULEN value) {
    return DoSQLSetConnectAttr(dbc_.get(), attribute, reinterpret_cast<SQLPOINTER>(value), 0);
  }
  SQLRETURN SetPointer(SQLINTEGER attribute, void* value) {
    return DoSQLSetConnectAttr(dbc_.get(), attribute, value, 0);
  }
  std::string ServerIsolation() {
    char value[64] = {};
    EXPECT_EQ(DBGetOption(dbc_.get(), "isolation_level", value, sizeof value), 0)
        << dbc_->err.sqlcode;
    return value;
  }
  // Adds a fault rule for this connection.
  void Fault(const std::string& rule) {
    ASSERT_EQ(DBSetOption(dbc_.get(), "vqeng_fault", rule.c_str()), 0) << dbc_->err.sqlcode;
  }
  std::uint32_t Isolation() {
    SQLUINTEGER v = 0;
    EXPECT_EQ(DoSQLGetConnectAttr(dbc_.get(), SQL_ATTR_TXN_ISOLATION, &v, 0, nullptr),
              SQL_SUCCESS);
    return v;
  }
};

TEST_P(LiveAttributes, IsolationReachesTheServerAsAnOption) {
  struct Case {
    SQLINTEGER attribute;
    SQLULEN value;
    const char* text;
  };
  const Case cases[] = {
      {SQL_ATTR_TXN_ISOLATION, SQL_TXN_SERIALIZABLE, "3"},
      {SQL_ATTR_TXN_ISOLATION, 32, "snapshot"},
      {kAttrIsolation, 64, "statement-snapshot"},
      {kAttrIsolation, 128, "readonly-statement-snapshot"},
      {SQL_ATTR_TXN_ISOLATION, SQL_TXN_READ_COMMITTED, "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ASSERT_EQ(Set(c.attribute, c.value), SQL_SUCCESS);
    EXPECT_EQ(ServerIsolation(), c.text);
    EXPECT_EQ(Isolation(), c.value);
    EXPECT_TRUE(HasLine(Requests(), std::string("set-option isolation_level = ") + c.text));
  }
  // A value the driver refuses never reaches the server.
  const std::size_t before = Requests().size();
  EXPECT_EQ(Set(SQL_ATTR_TXN_ISOLATION, 16), SQL_ERROR);
  EXPECT_EQ(Requests().size(), before);
  // A server that refuses the option: its error, the stored value unchanged.
  Fault("set-option error -193 refused");
  EXPECT_EQ(Set(SQL_ATTR_TXN_ISOLATION, SQL_TXN_REPEATABLE_READ), SQL_ERROR);
  EXPECT_EQ(dbc_->err.sqlcode, -193);
  EXPECT_EQ(dbc_->record_count, 1u);
  EXPECT_EQ(Isolation(), static_cast<std::uint32_t>(SQL_TXN_READ_COMMITTED));
}

// Switching autocommit on ends the open transaction with a commit; a commit the server
// refuses leaves autocommit off and the transaction open.
TEST_P(LiveAttributes, AutocommitOnCommits) {
  ASSERT_EQ(Set(SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
  dbc_->cap_a |= kCapInTransaction;
  Fault("commit nth=1 error -210 locked");
  EXPECT_EQ(Set(SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_ON), SQL_ERROR);
  EXPECT_EQ(dbc_->err.sqlcode, -210);
  EXPECT_EQ(Option(dbc_.get(), SQL_ATTR_AUTOCOMMIT), static_cast<SQLULEN>(SQL_AUTOCOMMIT_OFF));
  EXPECT_NE(dbc_->cap_a & kCapInTransaction, 0);  // the transaction is still open
  FreeDiagRecords(dbc_.get());
  dbc_->retcode = SQL_SUCCESS;

  const auto commits = [&] {
    int n = 0;
    for (const std::string& l : Requests()) n += l == "commit" ? 1 : 0;
    return n;
  };
  const int before = commits();
  EXPECT_EQ(Set(SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_ON), SQL_SUCCESS);
  EXPECT_EQ(commits(), before + 1);
  EXPECT_EQ(dbc_->cap_a & kCapInTransaction, 0);
  // Already on: no further commit.
  EXPECT_EQ(Set(SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_ON), SQL_SUCCESS);
  EXPECT_EQ(commits(), before + 1);
}

TEST_P(LiveAttributes, ServerMessagesReachTheCallback) {
  ASSERT_EQ(SetPointer(kAttrMessageCallback, reinterpret_cast<void*>(&NarrowMessage)),
            SQL_SUCCESS);
  Fault("get-option nth=1 message 1 4711 hello-from-the-server");
  (void)ServerIsolation();
  ASSERT_TRUE(g_seen.WaitForMessages(1));
  {
    std::lock_guard<std::mutex> lock(g_seen.mutex);
    EXPECT_EQ(g_seen.messages[0], "1/4711/hello-from-the-server");
  }
  // The UTF-16 callback gets the same text converted, its length in bytes, terminated.
  ASSERT_EQ(SetPointer(kAttrWideMessageCallback, reinterpret_cast<void*>(&WideMessage)),
            SQL_SUCCESS);
  Fault("get-option nth=1 message 2 5 wide-text");
  (void)ServerIsolation();
  ASSERT_TRUE(g_seen.WaitForMessages(2));
  {
    std::lock_guard<std::mutex> lock(g_seen.mutex);
    EXPECT_EQ(g_seen.messages[1], "w2/5/wide-text");
  }
  // Without a callback the messages no longer reach the application.
  ASSERT_EQ(SetPointer(kAttrWideMessageCallback, nullptr), SQL_SUCCESS);
  EXPECT_EQ(CmdSeqEnv.message_callback.load(), nullptr);
  Fault("get-option nth=1 message 1 6 unseen");
  (void)ServerIsolation();
  std::lock_guard<std::mutex> lock(g_seen.mutex);
  EXPECT_EQ(g_seen.messages.size(), 2u);
}

TEST_P(LiveAttributes, FileTransfersAskTheApplication) {
  const std::string path = vctmp_.path() + "/client.txt";
  {
    std::ofstream out(path);
    out << "bytes of the client file";
  }
  const std::string sql = "SELECT vqeng_read_client_file('" + path + "')";
  ASSERT_EQ(SetPointer(kAttrFileTranCallback, reinterpret_cast<void*>(&FileCheck)),
            SQL_SUCCESS);

  g_seen.file_answer = 1;
  {
    OneValue value(vq_odbc_e2e::kWireText);
    ASSERT_TRUE(value.ok());
    ASSERT_EQ(DBExecStmt(dbc_.get(), value.desc(), sql.c_str(), SQL_NTS), 0)
        << dbc_->err.sqlcode;
    EXPECT_EQ(value.text(), "bytes of the client file");
  }

  g_seen.file_answer = 0;
  {
    OneValue value(vq_odbc_e2e::kWireText);
    EXPECT_LT(DBExecStmt(dbc_.get(), value.desc(), sql.c_str(), SQL_NTS), 0);
    EXPECT_EQ(value.text(), "");
    EXPECT_NE(dbc_->conn.load(), nullptr);
  }
  std::lock_guard<std::mutex> lock(g_seen.mutex);
  ASSERT_EQ(g_seen.files.size(), 2u);
  EXPECT_EQ(g_seen.files[0], "r " + path);
  EXPECT_EQ(g_seen.files[1], "r " + path);
}

TEST_P(LiveAttributes, ConnectionDeadFollowsTheServer) {
  SQLUINTEGER dead = 7;
  ASSERT_EQ(DoSQLGetConnectAttr(dbc_.get(), SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(dead, static_cast<SQLUINTEGER>(SQL_CD_FALSE));
  server_.Stop();
  char value[16];
  EXPECT_LT(DBGetOption(dbc_.get(), "isolation_level", value, sizeof value), 0);
  ASSERT_EQ(DoSQLGetConnectAttr(dbc_.get(), SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(dead, static_cast<SQLUINTEGER>(SQL_CD_TRUE));
}

// The same through the entry points on a connection made by SQLDriverConnect, as an
// application sees it.
class ApiAttributes : public testing::TestWithParam<Link> {
 protected:
  void SetUp() override {
    i_cs_SetEngineConnect(i_cs_EngineConnect);
    ASSERT_FALSE(vctmp_.path().empty());
    ASSERT_TRUE(server_.StartWithRequestLog(vctmp_.path() + "/requests.log"));
    ProfileFini();
    LibInit_jdbc();
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_), SQL_SUCCESS);
  }
  void TearDown() override {
    (void)SQLDisconnect(dbc_);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc_), SQL_SUCCESS);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env_), SQL_SUCCESS);
    LibFini_jdbc();
    ProfileFini();
  }
  SQLRETURN DriverConnect() {
    std::string in = "UID=dba;PWD=sql;" + server_.Links(GetParam());
    std::vector<SQLCHAR> text(in.begin(), in.end());
    text.push_back('\0');
    return SQLDriverConnect(dbc_, nullptr, text.data(), SQL_NTS, nullptr, 0, nullptr,
                            SQL_DRIVER_NOPROMPT);
  }
  std::vector<std::string> Requests() {
    return server_.Requests(static_cast<tagDBC*>(dbc_)->conn.load()->server_handle);
  }

  vq_e2e::TempVctmp vctmp_;
  vq_e2e::Server server_{"odbc_api_attrs"};
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
};

TEST_P(ApiAttributes, AttributesOfAConnectedHandle) {
  // Set before connecting: stored only, then in force on the connection.
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(9), 0),
            SQL_SUCCESS);
  SQLUINTEGER dead = 0;
  ASSERT_EQ(SQLGetConnectAttr(dbc_, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(dead, static_cast<SQLUINTEGER>(SQL_CD_TRUE));
  ASSERT_EQ(DriverConnect(), SQL_SUCCESS);
  ASSERT_EQ(SQLGetConnectAttr(dbc_, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(dead, static_cast<SQLUINTEGER>(SQL_CD_FALSE));
  SQLUINTEGER timeout = 0;
  ASSERT_EQ(SQLGetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT, &timeout, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(timeout, 9u);

  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_TXN_ISOLATION, reinterpret_cast<SQLPOINTER>(32), 0),
            SQL_SUCCESS);
  EXPECT_TRUE(HasLine(Requests(), "set-option isolation_level = snapshot"));
  ASSERT_EQ(SQLSetConnectOption(dbc_, SQL_TXN_ISOLATION, SQL_TXN_REPEATABLE_READ), SQL_SUCCESS);
  EXPECT_TRUE(HasLine(Requests(), "set-option isolation_level = 2"));

  SQLCHAR sql[] = "select {fn ucase('x')}";
  SQLCHAR out[64];
  SQLINTEGER length = 0;
  ASSERT_EQ(SQLNativeSql(dbc_, sql, SQL_NTS, out, sizeof out, &length), SQL_SUCCESS);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out)).find('{'), std::string::npos) << out;
  EXPECT_EQ(length, static_cast<SQLINTEGER>(std::strlen(reinterpret_cast<char*>(out))));

  ASSERT_EQ(SQLSetConnectAttr(dbc_, kAttrMessageCallback,
                              reinterpret_cast<SQLPOINTER>(&NarrowMessage), 0),
            SQL_SUCCESS);
  {
    std::lock_guard<std::mutex> lock(g_seen.mutex);
    g_seen.messages.clear();
  }
  ASSERT_EQ(DBSetOption(static_cast<tagDBC*>(dbc_), "vqeng_fault",
                        "set-option nth=1 message 1 12 via-the-api"),
            0);
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_TXN_ISOLATION, reinterpret_cast<SQLPOINTER>(2), 0),
            SQL_SUCCESS);
  ASSERT_TRUE(g_seen.WaitForMessages(1));
  {
    std::lock_guard<std::mutex> lock(g_seen.mutex);
    EXPECT_EQ(g_seen.messages[0], "1/12/via-the-api");
  }
  ASSERT_EQ(SQLSetConnectAttr(dbc_, kAttrMessageCallback, nullptr, 0), SQL_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(Links, ApiAttributes,
                         testing::Values(Link::kSharedMemory, Link::kTcpIp),
                         [](const testing::TestParamInfo<Link>& info) {
                           return std::string(vq_e2e::LinkName(info.param));
                         });

INSTANTIATE_TEST_SUITE_P(Links, LiveAttributes,
                         testing::Values(Link::kSharedMemory, Link::kTcpIp),
                         [](const testing::TestParamInfo<Link>& info) {
                           return std::string(vq_e2e::LinkName(info.param));
                         });

}  // namespace
