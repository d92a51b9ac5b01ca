// The engine interface's connection-level requests: the string connect, the
// one-statement executor, commit, rollback, cancel and disconnect, and the mapping of a
// command-sequence result into the SQL code the ODBC layer sees.
//
// The handle holds one reference to its client connection from DBStringConnect until
// the connection is released: by DBDisconnect, or by a result that ends the connection
// (released exactly once, then the field is null and every request answers -308).
#include <cstring>
#include <mutex>

#include "cmdseq/client.h"
#include "cmdseq/connect.h"
#include "cmdseq/error_info.h"
#include "cmdseq/request.h"
#include "cmdseq/statement.h"
#include "cmdseq/transaction.h"
#include "config/conn_parms.h"
#include "odbc/diagnostics.h"
#include "odbc/engine.h"
#include "odbc/handles.h"

namespace {

void set_block(a_cmdseq_error_info* err, std::int32_t sqlcode, const char* odbc3,
               const char* odbc2) {
  err->sqlcode = sqlcode;
  std::memcpy(err->odbc3_state, odbc3, 6);
  std::memcpy(err->odbc2_state, odbc2, 6);
}

// Clears the handle's connection field under the guard a cancel takes, so that a cancel
// either sees no connection or holds a reference of its own.
a_cmdseq_conn* take_connection(tagDBC* dbc) {
  std::lock_guard<std::mutex> guard(dbc->conn_guard);
  return dbc->conn.exchange(nullptr);
}

// Takes the connection off the handle and gives back the handle's reference. A
// connection the client still counts as connected loses its connecting reference too,
// so that nothing of it is left once the handle lets go.
void release_connection(tagDBC* dbc) {
  a_cmdseq_conn* conn = take_connection(dbc);
  if (conn == nullptr) return;
  if (CmdSeqConnIsValid(conn) != 0) (void)CmdSeqDropConnection(conn, &dbc->err);
  (void)CmdSeqConnRelease(conn);
}

// The error block of a request: cleared, its strings those of the connection.
a_cmdseq_conn* begin_request(tagDBC* dbc) {
  a_cmdseq_conn* conn = dbc->conn.load();
  if (conn != nullptr) CmdSeqResetErrorParam(&dbc->err, conn);
  return conn;
}

}  // namespace

std::int32_t MapCmdSeqResult(a_cmdseq_return code, tagDBC* dbc, int keep_connection) {
  a_cmdseq_error_info* err = &dbc->err;
  switch (code) {
    case CMDSEQ_OK:
      return 0;
    case CMDSEQ_PROTOCOL_ERROR:
    case CMDSEQ_NOT_CONNECTED:
    case CMDSEQ_SERVER_CLOSED: {
      if (code == CMDSEQ_PROTOCOL_ERROR) {
        // The stream can no longer be trusted: the connection goes, whoever holds it.
        a_cmdseq_conn* conn = dbc->conn.load();
        if (conn != nullptr) (void)CmdSeqDropConnection(conn, err);
      }
      if (err->sqlcode >= 0) set_block(err, kSqlCommLost, "08S01", "08S01");
      if (keep_connection == 0) release_connection(dbc);
      return err->sqlcode;
    }
    case CMDSEQ_ERROR:
    case CMDSEQ_WARNING:
    case CMDSEQ_COMM_FAILURE:
      return err->sqlcode;
    case CMDSEQ_NO_MEMORY:
      set_block(err, kSqlNoMemory, "HY001", "S1001");
      if (keep_connection == 0) release_connection(dbc);
      return kSqlNoMemory;
    case CMDSEQ_CANCELLED:
      set_block(err, kSqlCancelled, "HY000", "S1000");
      return kSqlCancelled;
    default:  // 1, 7 and results the client does not define
      return kSqlClientFailure;
  }
}

std::int32_t DBNotConnected(tagDBC* dbc, bool only_if_clear) {
  if (!only_if_clear || dbc->err.sqlcode >= 0) {
    set_block(&dbc->err, kSqlNotConnected, "08S01", "08S01");
  }
  return kSqlNotConnected;
}

std::int32_t DBStringConnect(tagDBC* dbc, const char* connect_string) {
  // The framing refuses a connect on a connected handle; should one still hold a
  // connection, it is let go rather than lost.
  release_connection(dbc);
  CmdSeqResetErrorParam(&dbc->err, nullptr);
  c_conn_parms parms;
  const int parsed = parms.init(connect_string != nullptr ? connect_string : "", false);
  if (parsed != 0) {
    i_cs_SetParseError(&CmdSeqEnv, &dbc->err, parms.getStringParms(), parsed);
    return dbc->err.sqlcode < 0 ? dbc->err.sqlcode : kSqlClientFailure;
  }
  a_cmdseq_strconn_param param{};
  param.parms = &parms;
  param.env = &CmdSeqEnv;
  param.allow_server_start = 1;
  param.allow_database_start = 1;
  param.api_charset = "UTF-8";
  a_cmdseq_conn* conn = nullptr;
  const a_cmdseq_return result = CmdSeqStringConnect(&conn, &dbc->err, &param);
  dbc->conn.store(conn);
  const std::int32_t sqlcode = MapCmdSeqResult(result, dbc, 1);
  if (sqlcode >= 0 && conn != nullptr) CmdSeqConnAddRef(conn);
  return sqlcode;
}

std::int32_t DBExecStmt(tagDBC* dbc, a_cmdseq_desc* output, const char* text, long length) {
  a_cmdseq_conn* conn = begin_request(dbc);
  if (conn == nullptr) return DBNotConnected(dbc);
  if (text == nullptr) text = "";
  const std::size_t bytes = length == SQL_NTS || length < 0
                                ? std::strlen(text)
                                : static_cast<std::size_t>(length);
  a_cmdseq_prep_param prep{};
  prep.text = text;
  prep.text_len = static_cast<std::int32_t>(bytes > 0x7FFFFFFF ? 0x7FFFFFFF : bytes);
  prep.flags = 1;
  a_cmdseq_stmt_handle handle;
  a_cmdseq_describe_param describe;
  a_cmdseq_execute_param exec;
  exec.colvars = output;
  exec.drop_after = 1;
  std::uint32_t executed = 0, opened = 0;
  // No open record: the statement runs once and its first row (if any) lands in the
  // output list; no cursor is made.
  const a_cmdseq_return result = CmdSeqPrepareDescribeExecuteOpen(
      conn, &dbc->err, &handle, &prep, &describe, &exec, nullptr, &executed, &opened);
  // A statement that failed keeps its entry; release it, so the server statement is
  // dropped with the next request and the client's list does not grow.
  if (handle.info != nullptr && CmdSeqConnIsValid(conn) != 0) {
    (void)CmdSeqDropStmt(conn, &dbc->err, &handle);
  }
  return MapCmdSeqResult(result, dbc, 0);
}

std::int32_t DBCancel(tagDBC* dbc) {
  // No error block and no field written: the request thread owns them and reads the
  // cancel's effect from its own reply. Only the guard around the connection field is
  // taken, and only while a reference of the cancel's own is added, so a request that
  // ends meanwhile with a releasing result cannot free the connection under the cancel.
  a_cmdseq_conn* conn = nullptr;
  {
    std::lock_guard<std::mutex> guard(dbc->conn_guard);
    conn = dbc->conn.load();
    if (conn != nullptr) CmdSeqConnAddRef(conn);
  }
  if (conn == nullptr) return 0;
  int sent = 0;
  (void)CmdSeqCancel(conn, nullptr, &sent);
  (void)CmdSeqConnRelease(conn);
  return 0;
}

std::int32_t DBCommit(tagDBC* dbc) {
  a_cmdseq_conn* conn = begin_request(dbc);
  if (conn == nullptr) return DBNotConnected(dbc);
  std::uint32_t value = 0;
  return MapCmdSeqResult(CmdSeqCommit(conn, &dbc->err, &value), dbc, 0);
}

std::int32_t DBRollback(tagDBC* dbc) {
  a_cmdseq_conn* conn = begin_request(dbc);
  if (conn == nullptr) return DBNotConnected(dbc);
  std::uint32_t value = 0;
  return MapCmdSeqResult(CmdSeqRollback(conn, &dbc->err, &value), dbc, 0);
}

std::int32_t DBDisconnect(tagDBC* dbc) {
  a_cmdseq_conn* conn = begin_request(dbc);
  if (conn == nullptr) return DBNotConnected(dbc);
  a_cmdseq_return result = CMDSEQ_NOT_CONNECTED;
  // A connection the client already took out of service has given up its connecting
  // reference; a disconnect of it would release one more (the handle's), and the
  // release below a second time.
  if (CmdSeqConnIsValid(conn) != 0) {
    result = CmdSeqDisconnect(conn, &dbc->err);
  }
  (void)take_connection(dbc);
  (void)CmdSeqConnRelease(conn);
  return MapCmdSeqResult(result, dbc, 1);
}

int OLECheckConnection(tagDBC* dbc) {
  if (dbc->conn.load() != nullptr) return 1;
  DBNotConnected(dbc);
  (void)AddSQLError(dbc);
  return 0;
}
