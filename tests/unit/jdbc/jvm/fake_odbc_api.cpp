// The ODBC API as the bridge calls it, scripted: the diagnostic records SQLGetDiagRecW
// answers come from a list the test sets, and every read is counted; the calls of a
// connect are logged with their arguments and succeed (the driver connect answers what
// the test sets). Linked instead of the driver, so that the bridge's paths can be driven
// and watched call by call.
#include "fake_odbc_api.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <string>

namespace fake_odbc {

std::vector<Record> records;
int diag_reads = 0;
std::vector<std::string> calls;
short connect_result = SQL_SUCCESS;

}  // namespace fake_odbc

namespace {

int g_env_handle;
int g_dbc_handle;

void Log(const std::string& line) { fake_odbc::calls.push_back(line); }

std::string Narrow(const SQLWCHAR* text, long units) {
  std::string out;
  if (text == nullptr) return "<null>";
  for (long i = 0; units == SQL_NTS ? text[i] != 0 : i < units; ++i)
    out.push_back(static_cast<char>(text[i]));
  return out;
}

}  // namespace

void JDBC_INIT() {}
void JDBC_FINI() {}

extern "C" {

SQLRETURN SQL_API SQLGetDiagRecW(SQLSMALLINT, SQLHANDLE, SQLSMALLINT number, SQLWCHAR* state,
                                 SQLINTEGER* native, SQLWCHAR* text, SQLSMALLINT capacity,
                                 SQLSMALLINT* length) {
  ++fake_odbc::diag_reads;
  if (number < 1 || static_cast<std::size_t>(number) > fake_odbc::records.size())
    return SQL_NO_DATA;
  const auto& r = fake_odbc::records[static_cast<std::size_t>(number) - 1];
  for (int i = 0; i < 5; ++i) state[i] = static_cast<SQLWCHAR>(r.state[i]);
  state[5] = 0;
  *native = r.native;
  // The ODBC rule: the full length is reported, the text cut to the capacity.
  const std::size_t n = std::min<std::size_t>(r.text.size(), static_cast<std::size_t>(capacity) - 1);
  for (std::size_t i = 0; i < n; ++i) text[i] = static_cast<SQLWCHAR>(r.text[i]);
  text[n] = 0;
  *length = static_cast<SQLSMALLINT>(r.text.size());
  return n < r.text.size() ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE, SQLHANDLE* out) {
  Log("SQLAllocHandle " + std::to_string(type));
  *out = type == SQL_HANDLE_ENV ? static_cast<SQLHANDLE>(&g_env_handle)
                                : static_cast<SQLHANDLE>(&g_dbc_handle);
  return SQL_SUCCESS;
}
SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE) {
  Log("SQLFreeHandle " + std::to_string(type));
  return SQL_SUCCESS;
}
SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER) {
  Log("SQLSetEnvAttr " + std::to_string(attribute) + " " +
      std::to_string(reinterpret_cast<SQLULEN>(value)));
  return SQL_SUCCESS;
}
SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER) {
  Log("SQLSetConnectAttr " + std::to_string(attribute) + " " +
      std::to_string(reinterpret_cast<SQLULEN>(value)));
  return SQL_SUCCESS;
}
SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC, SQLINTEGER attribute, SQLPOINTER value,
                                     SQLINTEGER length) {
  Log("SQLSetConnectAttrW " + std::to_string(attribute) + " " +
      Narrow(static_cast<SQLWCHAR*>(value), length == SQL_NTS ? SQL_NTS : length / 2) + " " +
      std::to_string(length));
  return SQL_SUCCESS;
}
SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC, SQLINTEGER, SQLPOINTER, SQLINTEGER, SQLINTEGER*) {
  return SQL_ERROR;
}
SQLRETURN SQL_API SQLGetConnectAttrW(SQLHDBC, SQLINTEGER, SQLPOINTER, SQLINTEGER, SQLINTEGER*) {
  return SQL_ERROR;
}
SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC, SQLHWND window, SQLWCHAR* in, SQLSMALLINT length,
                                    SQLWCHAR* out, SQLSMALLINT capacity, SQLSMALLINT*,
                                    SQLUSMALLINT completion) {
  Log("SQLDriverConnectW " + std::string(window == nullptr ? "" : "window ") +
      Narrow(in, length) + " " + std::to_string(length) + " " + std::to_string(capacity) + " " +
      std::to_string(completion));
  // A completed string the bridge must not keep.
  const char completed[] = "UID=dba;PWD=secret";
  for (std::size_t i = 0; i < sizeof completed; ++i) out[i] = static_cast<SQLWCHAR>(completed[i]);
  return fake_odbc::connect_result;
}
SQLRETURN SQL_API SQLDisconnect(SQLHDBC) {
  Log("SQLDisconnect");
  return SQL_SUCCESS;
}
SQLRETURN SQL_API SQLEndTran(SQLSMALLINT, SQLHANDLE, SQLSMALLINT completion) {
  Log("SQLEndTran " + std::to_string(completion));
  return SQL_SUCCESS;
}
SQLRETURN SQL_API SQLGetInfo(SQLHDBC, SQLUSMALLINT item, SQLPOINTER value, SQLSMALLINT,
                             SQLSMALLINT*) {
  Log("SQLGetInfo " + std::to_string(item));
  *static_cast<SQLUINTEGER*>(value) = SQL_GD_ANY_ORDER | SQL_GD_BOUND;
  return SQL_SUCCESS;
}
SQLRETURN SQL_API SQLNativeSqlW(SQLHDBC, SQLWCHAR*, SQLINTEGER, SQLWCHAR*, SQLINTEGER,
                                SQLINTEGER*) {
  return SQL_ERROR;
}
SQLRETURN SQL_API SQLExecDirect(SQLHSTMT, SQLCHAR*, SQLINTEGER) { return SQL_ERROR; }

}  // extern "C"
