// The catalog functions the driver does not build yet. Each answers HYC00 (optional
// feature not implemented) on the statement, as SQLGetFunctions reports them.
#include "odbc/catalog/catalog.h"

#include "odbc/diagnostics.h"
#include "odbc/handles.h"

namespace {

SQLRETURN NotBuilt(tagSTMT* stmt) { return PostSQLState(stmt, kStateHYC00, kStateS1C00); }

}  // namespace

SQLRETURN DoSQLStatistics(tagSTMT* stmt, const SQLCHAR*, SQLSMALLINT, const SQLCHAR*,
                          SQLSMALLINT, const SQLCHAR*, SQLSMALLINT, SQLUSMALLINT,
                          SQLUSMALLINT) {
  return NotBuilt(stmt);
}

SQLRETURN DoSQLSpecialColumns(tagSTMT* stmt, SQLUSMALLINT, const SQLCHAR*, SQLSMALLINT,
                              const SQLCHAR*, SQLSMALLINT, const SQLCHAR*, SQLSMALLINT,
                              SQLUSMALLINT, SQLUSMALLINT) {
  return NotBuilt(stmt);
}

SQLRETURN DoSQLPrimaryKeys(tagSTMT* stmt, const SQLCHAR*, SQLSMALLINT, const SQLCHAR*,
                           SQLSMALLINT, const SQLCHAR*, SQLSMALLINT) {
  return NotBuilt(stmt);
}

SQLRETURN DoSQLForeignKeys(tagSTMT* stmt, const SQLCHAR*, SQLSMALLINT, const SQLCHAR*,
                           SQLSMALLINT, const SQLCHAR*, SQLSMALLINT, const SQLCHAR*,
                           SQLSMALLINT, const SQLCHAR*, SQLSMALLINT, const SQLCHAR*,
                           SQLSMALLINT) {
  return NotBuilt(stmt);
}

SQLRETURN DoSQLProcedures(tagSTMT* stmt, const SQLCHAR*, SQLSMALLINT, const SQLCHAR*,
                          SQLSMALLINT, const SQLCHAR*, SQLSMALLINT) {
  return NotBuilt(stmt);
}

SQLRETURN DoSQLProcedureColumns(tagSTMT* stmt, const SQLCHAR*, SQLSMALLINT, const SQLCHAR*,
                                SQLSMALLINT, const SQLCHAR*, SQLSMALLINT, const SQLCHAR*,
                                SQLSMALLINT) {
  return NotBuilt(stmt);
}

SQLRETURN DoSQLTablePrivileges(tagSTMT* stmt, const SQLCHAR*, SQLSMALLINT, const SQLCHAR*,
                               SQLSMALLINT, const SQLCHAR*, SQLSMALLINT) {
  return NotBuilt(stmt);
}

SQLRETURN DoSQLColumnPrivileges(tagSTMT* stmt, const SQLCHAR*, SQLSMALLINT, const SQLCHAR*,
                                SQLSMALLINT, const SQLCHAR*, SQLSMALLINT, const SQLCHAR*,
                                SQLSMALLINT) {
  return NotBuilt(stmt);
}

SQLRETURN DoSQLGetTypeInfo(tagSTMT* stmt, SQLSMALLINT) { return NotBuilt(stmt); }
