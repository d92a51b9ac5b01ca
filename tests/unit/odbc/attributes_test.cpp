// Connection and statement attributes through the driver's entry points on a connection
// that is not connected: validation, defaults, the width of every output (sentinel-filled
// buffers), the cursor attributes' interplay, scroll options, callbacks' registration
// and the isolation-level texts.
#include "odbc/attributes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <limits>

#include "api_fixture.h"
#include "cmdseq/cmdseq_env.h"
#include "odbc/diagnostics.h"
#include "odbc/engine.h"
#include "odbc/translation.h"

namespace {

constexpr unsigned char kSentinel = 0xA5;

SQLPOINTER Value(SQLULEN v) { return reinterpret_cast<SQLPOINTER>(v); }

// The shared fixture's unconnected connection and its statement.
class AttrTest : public ApiFixture {
 protected:
  void SetUp() override {
    ApiFixture::SetUp();
    stmt_ = Stmt();
    ASSERT_NE(stmt_, nullptr);
  }
  std::string DbcState() { return FirstState(SQL_HANDLE_DBC, dbc_); }
  std::string StmtState() { return FirstState(SQL_HANDLE_STMT, stmt_); }

  // The statement attribute as SQLULEN, read into a sentinel-filled buffer; the bytes
  // past the value must stay untouched.
  SQLULEN StmtULen(SQLINTEGER attribute) {
    unsigned char buf[16];
    std::memset(buf, kSentinel, sizeof buf);
    EXPECT_EQ(SQLGetStmtAttr(stmt_, attribute, buf, 0, nullptr), SQL_SUCCESS);
    for (std::size_t i = sizeof(SQLULEN); i < sizeof buf; ++i) EXPECT_EQ(buf[i], kSentinel);
    SQLULEN v;
    std::memcpy(&v, buf, sizeof v);
    return v;
  }
  SQLRETURN SetStmt(SQLINTEGER attribute, SQLULEN v) {
    return SQLSetStmtAttr(stmt_, attribute, Value(v), 0);
  }

  tagSTMT* stmt_ = nullptr;
};

// ---- Connection attributes -----------------------------------------------------------------

struct SetCase {
  SQLINTEGER attribute;
  SQLULEN value;
  SQLRETURN rc;
  const char* state;  // "" for none
};

TEST_F(AttrTest, ConnectAttrValidation) {
  const SetCase cases[] = {
      {SQL_ATTR_AUTOCOMMIT, 0, SQL_SUCCESS, ""},
      {SQL_ATTR_AUTOCOMMIT, 2, SQL_ERROR, "HY024"},
      {SQL_ATTR_ACCESS_MODE, 1, SQL_SUCCESS, ""},
      {SQL_ATTR_ACCESS_MODE, 2, SQL_ERROR, "HY024"},
      {SQL_ATTR_TRACE, 7, SQL_ERROR, "HY024"},
      {SQL_NOSCAN, 1, SQL_SUCCESS, ""},
      {SQL_NOSCAN, 2, SQL_ERROR, "HY024"},
      {SQL_ATTR_METADATA_ID, 3, SQL_ERROR, "HY024"},
      {SQL_ASYNC_ENABLE, 1, SQL_ERROR, "HYC00"},
      {SQL_ASYNC_ENABLE, 0, SQL_SUCCESS, ""},
      {SQL_ASYNC_ENABLE, 5, SQL_ERROR, "HY024"},
      {SQL_CURSOR_TYPE, 3, SQL_SUCCESS, ""},
      {SQL_CURSOR_TYPE, 4, SQL_ERROR, "HY024"},
      {SQL_CONCURRENCY, 0, SQL_ERROR, "HY108"},
      {SQL_CONCURRENCY, 5, SQL_ERROR, "HY108"},
      {SQL_CONCURRENCY, 4, SQL_SUCCESS, ""},
      {SQL_SIMULATE_CURSOR, 3, SQL_ERROR, "HY092"},
      {SQL_ATTR_ROW_ARRAY_SIZE, 0, SQL_ERROR, "HY024"},
      {SQL_ATTR_ROW_ARRAY_SIZE, 65536, SQL_ERROR, "HY024"},
      {SQL_ATTR_ROW_ARRAY_SIZE, 65535, SQL_SUCCESS, ""},
      {SQL_ATTR_TXN_ISOLATION, 3, SQL_ERROR, "HY024"},
      {SQL_ATTR_TXN_ISOLATION, 16, SQL_ERROR, "HY024"},
      {SQL_ATTR_TXN_ISOLATION, 32, SQL_SUCCESS, ""},
      {kAttrIsolation, 128, SQL_SUCCESS, ""},
      {kAttrIsolationGiven, 1, SQL_SUCCESS, ""},
      {kAttrIsolationGiven, 2, SQL_ERROR, "HY024"},
      {SQL_ATTR_TRANSLATE_OPTION, 1, SQL_ERROR, "08003"},
      {SQL_ATTR_TRANSLATE_LIB, 0, SQL_ERROR, "08003"},
      {SQL_ATTR_TRACEFILE, 0, SQL_ERROR, "HY009"},
      {SQL_ROWSET_SIZE, 1, SQL_ERROR, "HYC00"},
      {SQL_ATTR_PACKET_SIZE, 4096, SQL_ERROR, "HYC00"},
      {SQL_ATTR_CONNECTION_DEAD, 0, SQL_ERROR, "HYC00"},
      {-5, 0, SQL_ERROR, "HYC00"},
      {kAttrConnectionHandle, 0, SQL_ERROR, "HYC00"},
      {1913, 0, SQL_ERROR, "HYC00"},
  };
  for (const SetCase& c : cases) {
    SCOPED_TRACE("attribute " + std::to_string(c.attribute) + " value " +
                 std::to_string(c.value));
    EXPECT_EQ(SQLSetConnectAttr(dbc_, c.attribute, Value(c.value), 0), c.rc);
    EXPECT_EQ(DbcState(), c.state);
  }
}

// A refused value stores nothing; an unconnected connection stores isolation without a
// server.
TEST_F(AttrTest, ConnectAttrStoresOnlyAcceptedValues) {
  SQLUINTEGER v = 0;
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_TXN_ISOLATION, Value(32), 0), SQL_SUCCESS);
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_TXN_ISOLATION, Value(3), 0), SQL_ERROR);
  ASSERT_EQ(SQLGetConnectAttr(dbc_, SQL_ATTR_TXN_ISOLATION, &v, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(v, 32u);
  ASSERT_EQ(SQLGetConnectAttr(dbc_, kAttrIsolation, &v, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(v, 32u);
  // 0 for SQL_MAX_LENGTH is the default.
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_MAX_LENGTH, Value(0), 0), SQL_SUCCESS);
  EXPECT_EQ(Option(Dbc(), SQL_MAX_LENGTH), kDefaultMaxLength);
  // A browsing connection refuses every attribute call.
  Dbc()->state = kDbcBrowsing;
  EXPECT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, Value(1), 0), SQL_ERROR);
  EXPECT_EQ(DbcState(), "HY010");
  EXPECT_EQ(SQLGetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, &v, 0, nullptr), SQL_ERROR);
  EXPECT_EQ(DbcState(), "HY010");
  Dbc()->state = kDbcAllocated;
}

// The defaults every connection starts with, each at its ODBC width: the connection's
// own integers 32-bit, statement defaults SQLULEN, handles pointer-sized.
TEST_F(AttrTest, ConnectAttrDefaultsAndWidths) {
  struct Case {
    SQLINTEGER attribute;
    SQLULEN value;
    std::size_t width;
  };
  const SQLULEN self = reinterpret_cast<SQLULEN>(dbc_);
  const Case cases[] = {
      {SQL_ATTR_AUTOCOMMIT, 1, 4},
      {SQL_ATTR_LOGIN_TIMEOUT, 15, 4},
      {SQL_ATTR_TXN_ISOLATION, 1, 4},
      {SQL_ATTR_ACCESS_MODE, 0, 4},
      {SQL_ATTR_TRACE, 0, 4},
      {SQL_ATTR_CONNECTION_DEAD, SQL_CD_TRUE, 4},  // never connected
      {SQL_MAX_LENGTH, 262144, 8},
      {SQL_MAX_ROWS, 0, 8},
      {SQL_QUERY_TIMEOUT, 0, 8},
      {SQL_CONCURRENCY, 1, 8},
      {SQL_ASYNC_ENABLE, 0, 8},
      {SQL_ATTR_METADATA_ID, 0, 8},
      {kAttrAlwaysZero, 0, 4},
      {kAttrConnectionHandle, self, 8},
      {kAttrCurrentStmt, 0, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("attribute " + std::to_string(c.attribute));
    unsigned char buf[16];
    std::memset(buf, kSentinel, sizeof buf);
    ASSERT_EQ(SQLGetConnectAttr(dbc_, c.attribute, buf, sizeof buf, nullptr), SQL_SUCCESS);
    SQLULEN got = 0;
    std::memcpy(&got, buf, c.width);
    EXPECT_EQ(got, c.value);
    for (std::size_t i = c.width; i < sizeof buf; ++i) EXPECT_EQ(buf[i], kSentinel) << i;
  }
  // A length-like value above 32 bits comes back whole.
  const SQLULEN big = 0x123456789ull;
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_MAX_ROWS, Value(big), 0), SQL_SUCCESS);
  SQLULEN rows = 0;
  ASSERT_EQ(SQLGetConnectAttr(dbc_, SQL_MAX_ROWS, &rows, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(rows, big);
}

TEST_F(AttrTest, ConnectAttrAbsentAndNullOutput) {
  SQLUINTEGER v = 77;
  EXPECT_EQ(SQLGetConnectAttr(dbc_, SQL_ATTR_PACKET_SIZE, &v, 0, nullptr), SQL_NO_DATA);
  EXPECT_EQ(v, 77u);
  EXPECT_EQ(SQLGetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, nullptr, 0, nullptr), SQL_ERROR);
  EXPECT_EQ(DbcState(), "HY009");
}

// The trace file is text: returned by the rules of every returned string at every buffer
// size around its length.
TEST_F(AttrTest, TextAttributeAtEveryBufferSize) {
  const std::string path = "/tmp/trace.log";
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_TRACEFILE,
                              const_cast<char*>(path.c_str()), SQL_NTS),
            SQL_SUCCESS);
  for (SQLINTEGER size = 0; size <= static_cast<SQLINTEGER>(path.size()) + 2; ++size) {
    SCOPED_TRACE("size " + std::to_string(size));
    std::vector<unsigned char> buf(size + 8, kSentinel);
    SQLINTEGER length = -1;
    const SQLRETURN rc =
        SQLGetConnectAttr(dbc_, SQL_ATTR_TRACEFILE, buf.data(), size, &length);
    const bool cut = static_cast<std::size_t>(size) <= path.size();
    EXPECT_EQ(rc, cut ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS);
    EXPECT_EQ(DbcState(), cut ? "01004" : "");
    EXPECT_EQ(length, static_cast<SQLINTEGER>(path.size()));
    if (size > 0) {
      EXPECT_EQ(std::string(reinterpret_cast<char*>(buf.data())),
                path.substr(0, std::min<std::size_t>(path.size(), size - 1)));
    }
    for (std::size_t i = size; i < buf.size(); ++i) EXPECT_EQ(buf[i], kSentinel);
  }
  // A counted text keeps exactly its bytes; a bad length is refused.
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_TRACEFILE, const_cast<char*>("abcdef"), 3),
            SQL_SUCCESS);
  char out[16];
  ASSERT_EQ(SQLGetConnectAttr(dbc_, SQL_ATTR_TRACEFILE, out, sizeof out, nullptr), SQL_SUCCESS);
  EXPECT_STREQ(out, "abc");
  EXPECT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_TRACEFILE, const_cast<char*>("x"), -7), SQL_ERROR);
  EXPECT_EQ(DbcState(), "HY090");
}

// The ODBC 2 option calls: SQL_NTS text, a 256-byte buffer and no length.
TEST_F(AttrTest, ConnectOptionCalls) {
  ASSERT_EQ(SQLSetConnectOption(dbc_, SQL_OPT_TRACEFILE,
                                reinterpret_cast<SQLULEN>("/tmp/odbc2.log")),
            SQL_SUCCESS);
  char out[SQL_MAX_OPTION_STRING_LENGTH];
  ASSERT_EQ(SQLGetConnectOption(dbc_, SQL_OPT_TRACEFILE, out), SQL_SUCCESS);
  EXPECT_STREQ(out, "/tmp/odbc2.log");
  ASSERT_EQ(SQLSetConnectOption(dbc_, SQL_AUTOCOMMIT, 0), SQL_SUCCESS);
  SQLUINTEGER v = 9;
  ASSERT_EQ(SQLGetConnectOption(dbc_, SQL_AUTOCOMMIT, &v), SQL_SUCCESS);
  EXPECT_EQ(v, 0u);
  EXPECT_EQ(SQLSetConnectOption(dbc_, SQL_TXN_ISOLATION, 5), SQL_ERROR);
  EXPECT_EQ(DbcState(), "HY024");
}

// The translation library is loaded when the attribute is set on a connected connection;
// one that cannot be loaded gives IM009.
TEST_F(AttrTest, TranslateLibraryLoadedAtOnce) {
  Dbc()->state = kDbcConnected;
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_TRANSLATE_LIB,
                              const_cast<char*>(VQ_TEST_TRANSLATION_PATH), SQL_NTS),
            SQL_SUCCESS)
      << DbcState();
  EXPECT_NE(Dbc()->translate_module, nullptr);
  char name[512];
  SQLINTEGER length = 0;
  ASSERT_EQ(SQLGetConnectAttr(dbc_, SQL_ATTR_TRANSLATE_LIB, name, sizeof name, &length),
            SQL_SUCCESS);
  EXPECT_STREQ(name, VQ_TEST_TRANSLATION_PATH);
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_TRANSLATE_OPTION, Value(7), 0), SQL_SUCCESS);
  EXPECT_EQ(Option(Dbc(), SQL_ATTR_TRANSLATE_OPTION), 7u);

  EXPECT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_TRANSLATE_LIB,
                              const_cast<char*>("/nonexistent/libnothing.so"), SQL_NTS),
            SQL_ERROR);
  EXPECT_EQ(DbcState(), "IM009");
  EXPECT_EQ(Dbc()->translate_module, nullptr);
  EXPECT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_TRANSLATE_LIB, nullptr, SQL_NTS), SQL_ERROR);
  EXPECT_EQ(DbcState(), "HY009");
  FiniTranslation(Dbc());
}

// Attribute 1907 answers whether the connection string chose the isolation.
TEST_F(AttrTest, IsolationGivenAnswer) {
  EXPECT_EQ(SQLSetConnectAttr(dbc_, kAttrIsolationGiven, Value(1), 0), SQL_SUCCESS);
  Dbc()->cap_a |= kCapIsolationGiven;
  EXPECT_EQ(SQLSetConnectAttr(dbc_, kAttrIsolationGiven, Value(0), 0), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(DbcState(), "");
}

TEST(Isolation, LevelsAndTexts) {
  struct Case {
    SQLULEN bits;
    int level;
    const char* text;
  };
  const Case cases[] = {
      {1, 0, "0"},          {2, 1, "1"},
      {4, 2, "2"},          {8, 3, "3"},
      {32, 4, "snapshot"},  {64, 5, "statement-snapshot"},
      {128, 6, "readonly-statement-snapshot"},
      {0, 6, "readonly-statement-snapshot"},
      {2 | 8, 1, "1"},  // the lowest bit wins
      {16, 6, "readonly-statement-snapshot"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    EXPECT_EQ(Map_isolation(c.bits), c.level);
    EXPECT_STREQ(Isolation_level_string(c.bits), c.text);
  }
}

// ---- Callbacks -----------------------------------------------------------------------------

std::vector<std::string> g_messages;
void NarrowMessage(SQLHDBC, std::uint8_t type, std::int32_t code, std::uint16_t length,
                   const char* text) {
  g_messages.push_back(std::to_string(type) + "/" + std::to_string(code) + "/" +
                       std::string(text, length));
}
int g_file_answer = 0;
std::string g_file_seen;
int FileCheck(SQLHDBC, const char* name, int write) {
  g_file_seen = std::string(name) + (write != 0 ? " w" : " r");
  return g_file_answer;
}

// The message handler is registered while a connection has a callback, and only then;
// each connection's own callback is picked.
TEST_F(AttrTest, MessageCallbackRegistration) {
  g_messages.clear();
  ASSERT_EQ(CmdSeqEnv.message_callback.load(), nullptr);
  ASSERT_EQ(SQLSetConnectAttr(dbc_, kAttrMessageCallback,
                              reinterpret_cast<SQLPOINTER>(&NarrowMessage), 0),
            SQL_SUCCESS);
  EXPECT_NE(CmdSeqEnv.message_callback.load(), nullptr);
  // Set again: still one connection with a callback.
  ASSERT_EQ(SQLSetConnectAttr(dbc_, kAttrMessageCallback,
                              reinterpret_cast<SQLPOINTER>(&NarrowMessage), 0),
            SQL_SUCCESS);
  SQLHDBC other = SQL_NULL_HDBC;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &other), SQL_SUCCESS);

  const auto value = reinterpret_cast<std::uintptr_t>(dbc_);
  CmdSeqEnv.message_callback.load()(value, 1, 100, 5, "hello world");
  CmdSeqEnv.message_callback.load()(reinterpret_cast<std::uintptr_t>(other), 1, 1, 1, "x");
  CmdSeqEnv.message_callback.load()(reinterpret_cast<std::uintptr_t>(stmt_), 1, 1, 1, "x");
  EXPECT_EQ(g_messages, (std::vector<std::string>{"1/100/hello"}));

  ASSERT_EQ(SQLSetConnectAttr(dbc_, kAttrMessageCallback, nullptr, 0), SQL_SUCCESS);
  EXPECT_EQ(CmdSeqEnv.message_callback.load(), nullptr);
  // Clearing twice keeps the count from going below zero.
  ASSERT_EQ(SQLSetConnectAttr(other, kAttrMessageCallback, nullptr, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLSetConnectAttr(other, kAttrMessageCallback,
                              reinterpret_cast<SQLPOINTER>(&NarrowMessage), 0),
            SQL_SUCCESS);
  EXPECT_NE(CmdSeqEnv.message_callback.load(), nullptr);
  ASSERT_EQ(SQLSetConnectAttr(other, kAttrMessageCallback, nullptr, 0), SQL_SUCCESS);
  EXPECT_EQ(CmdSeqEnv.message_callback.load(), nullptr);
  // A connection freed with its callback still set takes it out of the count.
  ASSERT_EQ(SQLSetConnectAttr(other, kAttrMessageCallback,
                              reinterpret_cast<SQLPOINTER>(&NarrowMessage), 0),
            SQL_SUCCESS);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, other), SQL_SUCCESS);
  EXPECT_EQ(CmdSeqEnv.message_callback.load(), nullptr);
}

TEST_F(AttrTest, FileTransferCheck) {
  const auto value = reinterpret_cast<std::uintptr_t>(dbc_);
  int allowed = 5;
  // No callback: no decision.
  EXPECT_EQ(ODBCValFileTranHandler(value, "a.txt", 0, &allowed), 0);
  EXPECT_EQ(allowed, 5);
  ASSERT_EQ(SQLSetConnectAttr(dbc_, kAttrFileTranCallback,
                              reinterpret_cast<SQLPOINTER>(&FileCheck), 0),
            SQL_SUCCESS);
  EXPECT_NE(CmdSeqEnv.validate_file_tran_callback.load(), nullptr);
  for (const int answer : {0, 1, 42}) {
    g_file_answer = answer;
    EXPECT_EQ(ODBCValFileTranHandler(value, "b.txt", 1, &allowed), 1);
    EXPECT_EQ(allowed, answer != 0 ? 1 : 0);
    EXPECT_EQ(g_file_seen, "b.txt w");
  }
  EXPECT_EQ(ODBCValFileTranHandler(reinterpret_cast<std::uintptr_t>(stmt_), "c", 0, &allowed),
            0);
}

// ---- SQLNativeSql ----------------------------------------------------------------------------

TEST_F(AttrTest, NativeSqlRefusals) {
  char out[64];
  SQLINTEGER length = 0;
  SQLCHAR sql[] = "select {fn ucase('a')}";
  EXPECT_EQ(SQLNativeSql(dbc_, sql, SQL_NTS, reinterpret_cast<SQLCHAR*>(out), sizeof out,
                         &length),
            SQL_ERROR);
  EXPECT_EQ(DbcState(), "08003");
  Dbc()->state = kDbcConnected;
  EXPECT_EQ(SQLNativeSql(dbc_, nullptr, SQL_NTS, reinterpret_cast<SQLCHAR*>(out), sizeof out,
                         &length),
            SQL_ERROR);
  EXPECT_EQ(DbcState(), "HY009");
  EXPECT_EQ(SQLNativeSql(dbc_, sql, -5, reinterpret_cast<SQLCHAR*>(out), sizeof out, &length),
            SQL_ERROR);
  EXPECT_EQ(DbcState(), "HY090");
  SQLCHAR bad[] = "select {fn nosuchfunction(1)}";
  EXPECT_EQ(SQLNativeSql(dbc_, bad, SQL_NTS, reinterpret_cast<SQLCHAR*>(out), sizeof out,
                         &length),
            SQL_ERROR);
  EXPECT_EQ(DbcState(), "22025");
}

TEST_F(AttrTest, NativeSqlTranslatesAndTruncates) {
  Dbc()->state = kDbcConnected;
  SQLCHAR sql[] = "select {d '2024-01-02'} from t";
  char out[128];
  SQLINTEGER length = -1;
  ASSERT_EQ(SQLNativeSql(dbc_, sql, SQL_NTS, reinterpret_cast<SQLCHAR*>(out), sizeof out,
                         &length),
            SQL_SUCCESS);
  const std::string full = out;
  EXPECT_EQ(length, static_cast<SQLINTEGER>(full.size()));
  EXPECT_EQ(full.find('{'), std::string::npos) << full;
  EXPECT_NE(full.find("2024-01-02"), std::string::npos) << full;
  // Cut: 01004, the full length, a terminated prefix, nothing past the buffer.
  unsigned char small[12];
  std::memset(small, kSentinel, sizeof small);
  ASSERT_EQ(SQLNativeSql(dbc_, sql, SQL_NTS, small, 8, &length), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(DbcState(), "01004");
  EXPECT_EQ(length, static_cast<SQLINTEGER>(full.size()));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(small)), full.substr(0, 7));
  for (std::size_t i = 8; i < sizeof small; ++i) EXPECT_EQ(small[i], kSentinel);
  // With SQL_NOSCAN on the text is copied unchanged.
  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_NOSCAN, Value(SQL_NOSCAN_ON), 0), SQL_SUCCESS);
  ASSERT_EQ(SQLNativeSql(dbc_, sql, SQL_NTS, reinterpret_cast<SQLCHAR*>(out), sizeof out,
                         &length),
            SQL_SUCCESS);
  EXPECT_STREQ(out, reinterpret_cast<char*>(sql));
}

// ---- Statement attributes -------------------------------------------------------------------

// Defaults come from the connection; descriptor-mapped attributes come from the
// descriptors, all at SQLULEN width.
TEST_F(AttrTest, StmtDefaultsAndDescriptorFields) {
  EXPECT_EQ(StmtULen(SQL_MAX_LENGTH), 262144u);
  EXPECT_EQ(StmtULen(SQL_CONCURRENCY), 1u);
  EXPECT_EQ(StmtULen(SQL_ATTR_CURSOR_SENSITIVITY), 1u);
  EXPECT_EQ(StmtULen(SQL_SIMULATE_CURSOR), 2u);
  EXPECT_EQ(StmtULen(SQL_RETRIEVE_DATA), 1u);
  EXPECT_EQ(StmtULen(SQL_ATTR_ENABLE_AUTO_IPD), 1u);
  EXPECT_EQ(StmtULen(SQL_ATTR_ROW_ARRAY_SIZE), 1u);
  EXPECT_EQ(StmtULen(SQL_ATTR_PARAMSET_SIZE), 1u);
  EXPECT_EQ(StmtULen(SQL_ATTR_APP_ROW_DESC), reinterpret_cast<SQLULEN>(stmt_->ard));
  EXPECT_EQ(StmtULen(SQL_ATTR_IMP_PARAM_DESC), reinterpret_cast<SQLULEN>(stmt_->ipd));

  SQLULEN fetched = 0;
  SQLUSMALLINT statuses[4];
  SQLLEN offset = 0;
  ASSERT_EQ(SetStmt(SQL_ATTR_ROWS_FETCHED_PTR, reinterpret_cast<SQLULEN>(&fetched)),
            SQL_SUCCESS);
  ASSERT_EQ(SetStmt(SQL_ATTR_ROW_STATUS_PTR, reinterpret_cast<SQLULEN>(statuses)), SQL_SUCCESS);
  ASSERT_EQ(SetStmt(SQL_ATTR_PARAM_BIND_OFFSET_PTR, reinterpret_cast<SQLULEN>(&offset)),
            SQL_SUCCESS);
  ASSERT_EQ(SetStmt(SQL_ATTR_PARAMSET_SIZE, 7), SQL_SUCCESS);
  ASSERT_EQ(SetStmt(SQL_ATTR_ROW_BIND_TYPE, 48), SQL_SUCCESS);
  EXPECT_EQ(stmt_->ird->rows_processed_ptr, &fetched);
  EXPECT_EQ(stmt_->ird->array_status_ptr, statuses);
  EXPECT_EQ(stmt_->apd->bind_offset_ptr, &offset);
  EXPECT_EQ(stmt_->apd->array_size, 7u);
  EXPECT_EQ(stmt_->ard->bind_type, 48u);
  EXPECT_EQ(StmtULen(SQL_ATTR_ROWS_FETCHED_PTR), reinterpret_cast<SQLULEN>(&fetched));
  EXPECT_EQ(StmtULen(SQL_ATTR_ROW_BIND_TYPE), 48u);

  // Row array size: 1 to 65535.
  EXPECT_EQ(SetStmt(SQL_ATTR_ROW_ARRAY_SIZE, 0), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY024");
  EXPECT_EQ(SetStmt(SQL_ATTR_ROW_ARRAY_SIZE, 65536), SQL_ERROR);
  EXPECT_EQ(SetStmt(SQL_ATTR_ROW_ARRAY_SIZE, 65535), SQL_SUCCESS);
  EXPECT_EQ(stmt_->ard->array_size, 65535u);
  EXPECT_EQ(StmtULen(SQL_ROWSET_SIZE), 65535u);
}

// A statement attribute never set leaves the output alone; a statement's own setting
// does not change its connection's.
TEST_F(AttrTest, StmtOptionsFallBackToTheConnection) {
  unsigned char buf[8];
  std::memset(buf, kSentinel, sizeof buf);
  EXPECT_EQ(SQLGetStmtAttr(stmt_, 4242, buf, sizeof buf, nullptr), SQL_SUCCESS);
  for (unsigned char b : buf) EXPECT_EQ(b, kSentinel);
  EXPECT_EQ(SQLGetStmtAttr(stmt_, SQL_MAX_ROWS, nullptr, 0, nullptr), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY009");

  ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_QUERY_TIMEOUT, Value(30), 0), SQL_SUCCESS);
  EXPECT_EQ(StmtULen(SQL_QUERY_TIMEOUT), 30u);
  ASSERT_EQ(SetStmt(SQL_QUERY_TIMEOUT, 5), SQL_SUCCESS);
  EXPECT_EQ(StmtULen(SQL_QUERY_TIMEOUT), 5u);
  EXPECT_EQ(Option(Dbc(), SQL_QUERY_TIMEOUT), 30u);

  ASSERT_EQ(SetStmt(SQL_MAX_LENGTH, 0), SQL_SUCCESS);
  EXPECT_EQ(stmt_->max_length, kDefaultMaxLength);
  ASSERT_EQ(SetStmt(SQL_MAX_ROWS, 12), SQL_SUCCESS);
  EXPECT_EQ(StmtULen(SQL_MAX_ROWS), 12u);

  // The ODBC 2 forms.
  ASSERT_EQ(SQLSetStmtOption(stmt_, SQL_MAX_ROWS, 99), SQL_SUCCESS);
  SQLULEN rows = 0;
  ASSERT_EQ(SQLGetStmtOption(stmt_, SQL_MAX_ROWS, &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, 99u);
}

TEST_F(AttrTest, StmtAttrValidation) {
  const SetCase cases[] = {
      {SQL_ASYNC_ENABLE, 1, SQL_ERROR, "HYC00"},
      {SQL_CURSOR_TYPE, 4, SQL_ERROR, "HY024"},
      {SQL_CONCURRENCY, 0, SQL_ERROR, "HY108"},
      {SQL_CONCURRENCY, 5, SQL_ERROR, "HY108"},
      {SQL_SIMULATE_CURSOR, 3, SQL_ERROR, "HY024"},
      {SQL_RETRIEVE_DATA, 2, SQL_ERROR, "HY024"},
      {SQL_ATTR_CURSOR_SCROLLABLE, 2, SQL_ERROR, "HY024"},
      {SQL_ATTR_CURSOR_SENSITIVITY, 3, SQL_ERROR, "HY024"},
      {SQL_ATTR_ENABLE_AUTO_IPD, 1, SQL_ERROR, "HYC00"},
      {SQL_ATTR_ENABLE_AUTO_IPD, 0, SQL_SUCCESS, ""},
      {SQL_ATTR_IMP_ROW_DESC, 0, SQL_ERROR, "HY092"},
      {SQL_ROW_NUMBER, 1, SQL_ERROR, "HY092"},
      {9999, 1, SQL_ERROR, "HY092"},
      {SQL_ATTR_APP_ROW_DESC, 12345, SQL_ERROR, "HY017"},
  };
  for (const SetCase& c : cases) {
    SCOPED_TRACE("attribute " + std::to_string(c.attribute) + " value " +
                 std::to_string(c.value));
    EXPECT_EQ(SetStmt(c.attribute, c.value), c.rc);
    EXPECT_EQ(StmtState(), c.state);
  }
  // Every request of automatic IPD leaves it on.
  EXPECT_EQ(StmtULen(SQL_ATTR_ENABLE_AUTO_IPD), 1u);
  // A connection holding the automatic-IPD option accepts 1.
  ASSERT_EQ(Set_option(Dbc(), kOptAutoIPD, 1), 0);
  EXPECT_EQ(SetStmt(SQL_ATTR_ENABLE_AUTO_IPD, 1), SQL_SUCCESS);
}

// Keyset size 0 or at least the rowset size.
TEST_F(AttrTest, KeysetSizeAgainstRowset) {
  ASSERT_EQ(SetStmt(SQL_ATTR_ROW_ARRAY_SIZE, 10), SQL_SUCCESS);
  EXPECT_EQ(SetStmt(SQL_KEYSET_SIZE, 5), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY107");
  EXPECT_EQ(SetStmt(SQL_KEYSET_SIZE, 0), SQL_SUCCESS);
  EXPECT_EQ(SetStmt(SQL_KEYSET_SIZE, 10), SQL_SUCCESS);
}

// The cursor attributes move each other to a combination the driver supports.
TEST_F(AttrTest, CursorAttributesInterplay) {
  struct Step {
    SQLINTEGER attribute;
    SQLULEN value;
    // expected afterwards
    SQLULEN type, concurrency, scrollable, sensitivity;
    std::int32_t kind;
  };
  const Step steps[] = {
      // keyset-driven, read-only: scrollable, sensitivity left alone (insensitive)
      {SQL_CURSOR_TYPE, SQL_CURSOR_KEYSET_DRIVEN, 1, 1, 1, 1, 2},
      // insensitive makes a keyset cursor static and read-only
      {SQL_ATTR_CURSOR_SENSITIVITY, SQL_INSENSITIVE, 3, 1, 1, 1, 3},
      // an updatable concurrency turns insensitive into sensitive
      {SQL_CONCURRENCY, SQL_CONCUR_LOCK, 3, 2, 1, 2, 3},
      // a dynamic cursor with an updatable concurrency is sensitive
      {SQL_CURSOR_TYPE, SQL_CURSOR_DYNAMIC, 2, 2, 1, 2, 1},
      // read only makes it insensitive
      {SQL_CONCURRENCY, SQL_CONCUR_READ_ONLY, 2, 1, 1, 1, 1},
      // not scrollable: forward only
      {SQL_ATTR_CURSOR_SCROLLABLE, SQL_NONSCROLLABLE, 0, 1, 0, 1, 0},
      // scrollable: a forward-only cursor becomes dynamic
      {SQL_ATTR_CURSOR_SCROLLABLE, SQL_SCROLLABLE, 2, 1, 1, 1, 1},
      // sensitive: read-only becomes lock, dynamic stays
      {SQL_ATTR_CURSOR_SENSITIVITY, SQL_SENSITIVE, 2, 2, 1, 2, 1},
      // a static cursor with concurrency lock: sensitive
      {SQL_CURSOR_TYPE, SQL_CURSOR_STATIC, 3, 2, 1, 2, 3},
      // unspecified sensitivity: a static cursor becomes dynamic
      {SQL_ATTR_CURSOR_SENSITIVITY, SQL_UNSPECIFIED, 2, 2, 1, 0, 1},
      {SQL_CURSOR_TYPE, SQL_CURSOR_FORWARD_ONLY, 0, 2, 0, 0, 0},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE("attribute " + std::to_string(s.attribute) + " := " +
                 std::to_string(s.value));
    ASSERT_EQ(SetStmt(s.attribute, s.value), SQL_SUCCESS);
    EXPECT_EQ(StmtULen(SQL_CURSOR_TYPE), s.type);
    EXPECT_EQ(StmtULen(SQL_CONCURRENCY), s.concurrency);
    EXPECT_EQ(StmtULen(SQL_ATTR_CURSOR_SCROLLABLE), s.scrollable);
    EXPECT_EQ(StmtULen(SQL_ATTR_CURSOR_SENSITIVITY), s.sensitivity);
    EXPECT_EQ(stmt_->cursor_kind, s.kind);
    EXPECT_EQ(stmt_->concurrency, s.concurrency);
  }
}

// The cursor attributes are fixed while a cursor is open and once the statement is
// prepared; other attributes are not.
TEST_F(AttrTest, CursorAttributesRefusedByState) {
  stmt_->cursor_state = kCursorOpen;
  stmt_->state = kStmtOnRows;
  for (SQLINTEGER a : {SQL_ATTR_CURSOR_SENSITIVITY, SQL_ATTR_CURSOR_SCROLLABLE, SQL_CURSOR_TYPE,
                       SQL_CONCURRENCY, SQL_SIMULATE_CURSOR, SQL_USE_BOOKMARKS}) {
    SCOPED_TRACE(a);
    EXPECT_EQ(SetStmt(a, 1), SQL_ERROR);
    EXPECT_EQ(StmtState(), "24000");
  }
  stmt_->cursor_state = 2;
  stmt_->state = kStmtPrepared;
  EXPECT_EQ(SetStmt(SQL_CURSOR_TYPE, 1), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY011");
  EXPECT_EQ(SetStmt(SQL_MAX_ROWS, 3), SQL_SUCCESS);
  stmt_->state = kStmtAllocated;
}

TEST_F(AttrTest, RowNumberAndBookmark) {
  unsigned char buf[8];
  EXPECT_EQ(SQLGetStmtAttr(stmt_, SQL_ROW_NUMBER, buf, 0, nullptr), SQL_ERROR);
  EXPECT_EQ(StmtState(), "24000");
  stmt_->state = kStmtOnRows;
  stmt_->cursor_state = kCursorOpen;
  stmt_->row_number = 10;
  stmt_->rowset_row = 3;
  EXPECT_EQ(StmtULen(SQL_ROW_NUMBER), 13u);
  stmt_->single_row = 1;
  EXPECT_EQ(StmtULen(SQL_ROW_NUMBER), 10u);
  EXPECT_EQ(SQLGetStmtAttr(stmt_, SQL_GET_BOOKMARK, buf, 0, nullptr), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY000");
  stmt_->cursor_state = 2;
  stmt_->state = kStmtAllocated;
  ASSERT_EQ(SetStmt(SQL_USE_BOOKMARKS, SQL_UB_VARIABLE), SQL_SUCCESS);
  stmt_->state = kStmtOnRows;
  stmt_->cursor_state = kCursorOpen;
  EXPECT_EQ(StmtULen(SQL_GET_BOOKMARK), 10u);
  stmt_->cursor_state = 2;
  stmt_->state = kStmtAllocated;
}

// An application descriptor of the same connection can replace the implicit one; null or
// the implicit one restores it; anything else is refused.
TEST_F(AttrTest, ApplicationDescriptors) {
  SQLHDESC user = SQL_NULL_HDESC;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, dbc_, &user), SQL_SUCCESS);
  const std::uint32_t changes = stmt_->desc_changes;
  ASSERT_EQ(SetStmt(SQL_ATTR_APP_ROW_DESC, reinterpret_cast<SQLULEN>(user)), SQL_SUCCESS);
  EXPECT_EQ(StmtULen(SQL_ATTR_APP_ROW_DESC), reinterpret_cast<SQLULEN>(user));
  EXPECT_GT(stmt_->desc_changes, changes);
  // The implementation descriptor and the other statement's implicit ones are refused.
  EXPECT_EQ(SetStmt(SQL_ATTR_APP_PARAM_DESC, reinterpret_cast<SQLULEN>(stmt_->ird)), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY017");
  ASSERT_EQ(SetStmt(SQL_ATTR_APP_ROW_DESC, 0), SQL_SUCCESS);
  EXPECT_EQ(stmt_->ard, stmt_->implicit_ard);
  ASSERT_EQ(SetStmt(SQL_ATTR_APP_PARAM_DESC, reinterpret_cast<SQLULEN>(user)), SQL_SUCCESS);
  ASSERT_EQ(SetStmt(SQL_ATTR_APP_PARAM_DESC, reinterpret_cast<SQLULEN>(stmt_->implicit_apd)),
            SQL_SUCCESS);
  EXPECT_EQ(stmt_->apd, stmt_->implicit_apd);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DESC, user), SQL_SUCCESS);
}

// ODBC 2 scroll options: each step refused puts back what the earlier ones changed.
TEST_F(AttrTest, ScrollOptions) {
  ASSERT_EQ(SQLSetScrollOptions(stmt_, SQL_CONCUR_LOCK, SQL_SCROLL_STATIC, 20), SQL_SUCCESS);
  EXPECT_EQ(StmtULen(SQL_ATTR_ROW_ARRAY_SIZE), 20u);
  EXPECT_EQ(StmtULen(SQL_CONCURRENCY), 2u);
  EXPECT_EQ(StmtULen(SQL_CURSOR_TYPE), 3u);

  ASSERT_EQ(SQLSetScrollOptions(stmt_, SQL_CONCUR_READ_ONLY, 40, 25), SQL_SUCCESS);
  EXPECT_EQ(StmtULen(SQL_KEYSET_SIZE), 40u);
  EXPECT_EQ(StmtULen(SQL_ATTR_ROW_ARRAY_SIZE), 25u);

  // Keyset 10 below rowset 30: refused, rowset and concurrency put back.
  EXPECT_EQ(SQLSetScrollOptions(stmt_, SQL_CONCUR_ROWVER, 10, 30), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY107");
  EXPECT_EQ(StmtULen(SQL_ATTR_ROW_ARRAY_SIZE), 25u);
  EXPECT_EQ(StmtULen(SQL_CONCURRENCY), 1u);
  EXPECT_EQ(StmtULen(SQL_ATTR_CURSOR_SENSITIVITY), 1u);

  // A keyset below the scroll constants is no cursor type; the lowest SQLLEN is safe.
  for (SQLLEN keyset : {static_cast<SQLLEN>(-4), std::numeric_limits<SQLLEN>::min()}) {
    EXPECT_EQ(SQLSetScrollOptions(stmt_, SQL_CONCUR_LOCK, keyset, 5), SQL_ERROR);
    EXPECT_EQ(StmtState(), "HY024");
    EXPECT_EQ(StmtULen(SQL_ATTR_ROW_ARRAY_SIZE), 25u);
    EXPECT_EQ(StmtULen(SQL_CONCURRENCY), 1u);
  }
  // A bad rowset changes nothing; a bad concurrency puts the rowset back.
  EXPECT_EQ(SQLSetScrollOptions(stmt_, SQL_CONCUR_LOCK, 0, 0), SQL_ERROR);
  EXPECT_EQ(SQLSetScrollOptions(stmt_, 9, 0, 3), SQL_ERROR);
  EXPECT_EQ(StmtState(), "HY108");
  EXPECT_EQ(StmtULen(SQL_ATTR_ROW_ARRAY_SIZE), 25u);
}

}  // namespace
