// The ODBC API as the bridge calls it, scripted: the diagnostic records SQLGetDiagRecW
// answers come from a list the test sets, and every read is counted. The other calls
// succeed and do nothing. Linked instead of the driver, so that the bridge's error
// paths can be driven record by record.
#include "fake_odbc_api.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>

namespace fake_odbc {

std::vector<Record> records;
int diag_reads = 0;

}  // namespace fake_odbc

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

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT, SQLHANDLE, SQLHANDLE* out) {
  *out = nullptr;
  return SQL_ERROR;
}
SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT, SQLHANDLE) { return SQL_SUCCESS; }
SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV, SQLINTEGER, SQLPOINTER, SQLINTEGER) { return SQL_ERROR; }
SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC, SQLINTEGER, SQLPOINTER, SQLINTEGER) {
  return SQL_ERROR;
}
SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC, SQLINTEGER, SQLPOINTER, SQLINTEGER) {
  return SQL_ERROR;
}
SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC, SQLINTEGER, SQLPOINTER, SQLINTEGER, SQLINTEGER*) {
  return SQL_ERROR;
}
SQLRETURN SQL_API SQLGetConnectAttrW(SQLHDBC, SQLINTEGER, SQLPOINTER, SQLINTEGER, SQLINTEGER*) {
  return SQL_ERROR;
}
SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC, SQLHWND, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*,
                                    SQLSMALLINT, SQLSMALLINT*, SQLUSMALLINT) {
  return SQL_ERROR;
}
SQLRETURN SQL_API SQLDisconnect(SQLHDBC) { return SQL_SUCCESS; }
SQLRETURN SQL_API SQLEndTran(SQLSMALLINT, SQLHANDLE, SQLSMALLINT) { return SQL_SUCCESS; }
SQLRETURN SQL_API SQLGetInfo(SQLHDBC, SQLUSMALLINT, SQLPOINTER, SQLSMALLINT, SQLSMALLINT*) {
  return SQL_ERROR;
}
SQLRETURN SQL_API SQLNativeSqlW(SQLHDBC, SQLWCHAR*, SQLINTEGER, SQLWCHAR*, SQLINTEGER,
                                SQLINTEGER*) {
  return SQL_ERROR;
}
SQLRETURN SQL_API SQLExecDirect(SQLHSTMT, SQLCHAR*, SQLINTEGER) { return SQL_ERROR; }

}  // extern "C"
