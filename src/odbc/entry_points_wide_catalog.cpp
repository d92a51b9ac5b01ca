// The exported wide (UTF-16) catalog functions: every name argument is converted into
// the connection's character set, in order, and the narrow implementation runs with the
// converted names and their 16-bit byte lengths. The first argument that does not
// convert ends the call with SQL_ERROR before the implementation runs.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include "odbc/call_framing.h"
#include "odbc/catalog/catalog.h"
#include "odbc/handles.h"
#include "odbc/wide_text.h"

using namespace vq::odbc;

namespace {

// The catalog names of one call, converted in order.
template <std::size_t N>
struct CatalogNames {
  NarrowArg names[N];

  bool Convert(tagOBJECT* h, const SQLWCHAR* const (&texts)[N],
               const SQLSMALLINT (&lengths)[N]) {
    for (std::size_t i = 0; i < N; ++i) {
      if (!names[i].ConvertShort(h, texts[i], lengths[i])) return false;
    }
    return true;
  }
  const SQLCHAR* text(std::size_t i) const { return names[i].text(); }
  SQLSMALLINT length(std::size_t i) const { return names[i].short_length(); }
};

// Frames the call, converts the names and runs `impl(statement, names)`.
template <std::size_t N, typename Impl>
SQLRETURN CatalogW(SQLHSTMT hstmt, const SQLWCHAR* const (&texts)[N],
                   const SQLSMALLINT (&lengths)[N], Impl&& impl) {
  return StmtCall(hstmt, [&](tagOBJECT* h) -> SQLRETURN {
    CatalogNames<N> n;
    if (!n.Convert(h, texts, lengths)) return SQL_ERROR;
    return impl(static_cast<tagSTMT*>(h), n);
  });
}

// The catalog functions of three or four names and nothing else.
using CatalogFn3 = SQLRETURN (*)(tagSTMT*, const SQLCHAR*, SQLSMALLINT, const SQLCHAR*,
                                 SQLSMALLINT, const SQLCHAR*, SQLSMALLINT);
using CatalogFn4 = SQLRETURN (*)(tagSTMT*, const SQLCHAR*, SQLSMALLINT, const SQLCHAR*,
                                 SQLSMALLINT, const SQLCHAR*, SQLSMALLINT, const SQLCHAR*,
                                 SQLSMALLINT);

SQLRETURN Catalog3W(SQLHSTMT hstmt, const SQLWCHAR* a, SQLSMALLINT la, const SQLWCHAR* b,
                    SQLSMALLINT lb, const SQLWCHAR* c, SQLSMALLINT lc, CatalogFn3 fn) {
  return CatalogW<3>(hstmt, {a, b, c}, {la, lb, lc}, [&](tagSTMT* s, const CatalogNames<3>& n) {
    return fn(s, n.text(0), n.length(0), n.text(1), n.length(1), n.text(2), n.length(2));
  });
}

SQLRETURN Catalog4W(SQLHSTMT hstmt, const SQLWCHAR* a, SQLSMALLINT la, const SQLWCHAR* b,
                    SQLSMALLINT lb, const SQLWCHAR* c, SQLSMALLINT lc, const SQLWCHAR* d,
                    SQLSMALLINT ld, CatalogFn4 fn) {
  return CatalogW<4>(hstmt, {a, b, c, d}, {la, lb, lc, ld},
                     [&](tagSTMT* s, const CatalogNames<4>& n) {
                       return fn(s, n.text(0), n.length(0), n.text(1), n.length(1), n.text(2),
                                 n.length(2), n.text(3), n.length(3));
                     });
}

}  // namespace

extern "C" {

// No text: the narrow call serves.
SQLRETURN SQL_API SQLGetTypeInfoW(SQLHSTMT StatementHandle, SQLSMALLINT DataType) {
  return SQLGetTypeInfo(StatementHandle, DataType);
}

SQLRETURN SQL_API SQLTablesW(SQLHSTMT hstmt, SQLWCHAR* szCatalogName, SQLSMALLINT cbCatalogName,
                             SQLWCHAR* szSchemaName, SQLSMALLINT cbSchemaName,
                             SQLWCHAR* szTableName, SQLSMALLINT cbTableName,
                             SQLWCHAR* szTableType, SQLSMALLINT cbTableType) {
  return Catalog4W(hstmt, szCatalogName, cbCatalogName, szSchemaName, cbSchemaName, szTableName,
                   cbTableName, szTableType, cbTableType, DoSQLTables);
}

SQLRETURN SQL_API SQLColumnsW(SQLHSTMT hstmt, SQLWCHAR* szCatalogName,
                              SQLSMALLINT cbCatalogName, SQLWCHAR* szSchemaName,
                              SQLSMALLINT cbSchemaName, SQLWCHAR* szTableName,
                              SQLSMALLINT cbTableName, SQLWCHAR* szColumnName,
                              SQLSMALLINT cbColumnName) {
  return Catalog4W(hstmt, szCatalogName, cbCatalogName, szSchemaName, cbSchemaName, szTableName,
                   cbTableName, szColumnName, cbColumnName, DoSQLColumns);
}

SQLRETURN SQL_API SQLStatisticsW(SQLHSTMT hstmt, SQLWCHAR* szCatalogName,
                                 SQLSMALLINT cbCatalogName, SQLWCHAR* szSchemaName,
                                 SQLSMALLINT cbSchemaName, SQLWCHAR* szTableName,
                                 SQLSMALLINT cbTableName, SQLUSMALLINT fUnique,
                                 SQLUSMALLINT fAccuracy) {
  return CatalogW<3>(hstmt, {szCatalogName, szSchemaName, szTableName},
                     {cbCatalogName, cbSchemaName, cbTableName},
                     [&](tagSTMT* s, const CatalogNames<3>& n) {
                       return DoSQLStatistics(s, n.text(0), n.length(0), n.text(1), n.length(1),
                                              n.text(2), n.length(2), fUnique, fAccuracy);
                     });
}

SQLRETURN SQL_API SQLSpecialColumnsW(SQLHSTMT hstmt, SQLUSMALLINT fColType,
                                     SQLWCHAR* szCatalogName, SQLSMALLINT cbCatalogName,
                                     SQLWCHAR* szSchemaName, SQLSMALLINT cbSchemaName,
                                     SQLWCHAR* szTableName, SQLSMALLINT cbTableName,
                                     SQLUSMALLINT fScope, SQLUSMALLINT fNullable) {
  return CatalogW<3>(
      hstmt, {szCatalogName, szSchemaName, szTableName},
      {cbCatalogName, cbSchemaName, cbTableName}, [&](tagSTMT* s, const CatalogNames<3>& n) {
        return DoSQLSpecialColumns(s, fColType, n.text(0), n.length(0), n.text(1), n.length(1),
                                   n.text(2), n.length(2), fScope, fNullable);
      });
}

SQLRETURN SQL_API SQLPrimaryKeysW(SQLHSTMT hstmt, SQLWCHAR* szCatalogName,
                                  SQLSMALLINT cbCatalogName, SQLWCHAR* szSchemaName,
                                  SQLSMALLINT cbSchemaName, SQLWCHAR* szTableName,
                                  SQLSMALLINT cbTableName) {
  return Catalog3W(hstmt, szCatalogName, cbCatalogName, szSchemaName, cbSchemaName, szTableName,
                   cbTableName, DoSQLPrimaryKeys);
}

SQLRETURN SQL_API SQLForeignKeysW(SQLHSTMT hstmt, SQLWCHAR* szPkCatalogName,
                                  SQLSMALLINT cbPkCatalogName, SQLWCHAR* szPkSchemaName,
                                  SQLSMALLINT cbPkSchemaName, SQLWCHAR* szPkTableName,
                                  SQLSMALLINT cbPkTableName, SQLWCHAR* szFkCatalogName,
                                  SQLSMALLINT cbFkCatalogName, SQLWCHAR* szFkSchemaName,
                                  SQLSMALLINT cbFkSchemaName, SQLWCHAR* szFkTableName,
                                  SQLSMALLINT cbFkTableName) {
  return CatalogW<6>(hstmt,
                     {szPkCatalogName, szPkSchemaName, szPkTableName, szFkCatalogName,
                      szFkSchemaName, szFkTableName},
                     {cbPkCatalogName, cbPkSchemaName, cbPkTableName, cbFkCatalogName,
                      cbFkSchemaName, cbFkTableName},
                     [&](tagSTMT* s, const CatalogNames<6>& n) {
                       return DoSQLForeignKeys(s, n.text(0), n.length(0), n.text(1),
                                               n.length(1), n.text(2), n.length(2), n.text(3),
                                               n.length(3), n.text(4), n.length(4), n.text(5),
                                               n.length(5));
                     });
}

SQLRETURN SQL_API SQLProceduresW(SQLHSTMT hstmt, SQLWCHAR* szCatalogName,
                                 SQLSMALLINT cbCatalogName, SQLWCHAR* szSchemaName,
                                 SQLSMALLINT cbSchemaName, SQLWCHAR* szProcName,
                                 SQLSMALLINT cbProcName) {
  return Catalog3W(hstmt, szCatalogName, cbCatalogName, szSchemaName, cbSchemaName, szProcName,
                   cbProcName, DoSQLProcedures);
}

SQLRETURN SQL_API SQLProcedureColumnsW(SQLHSTMT hstmt, SQLWCHAR* szCatalogName,
                                       SQLSMALLINT cbCatalogName, SQLWCHAR* szSchemaName,
                                       SQLSMALLINT cbSchemaName, SQLWCHAR* szProcName,
                                       SQLSMALLINT cbProcName, SQLWCHAR* szColumnName,
                                       SQLSMALLINT cbColumnName) {
  return Catalog4W(hstmt, szCatalogName, cbCatalogName, szSchemaName, cbSchemaName, szProcName,
                   cbProcName, szColumnName, cbColumnName, DoSQLProcedureColumns);
}

SQLRETURN SQL_API SQLTablePrivilegesW(SQLHSTMT hstmt, SQLWCHAR* szCatalogName,
                                      SQLSMALLINT cbCatalogName, SQLWCHAR* szSchemaName,
                                      SQLSMALLINT cbSchemaName, SQLWCHAR* szTableName,
                                      SQLSMALLINT cbTableName) {
  return Catalog3W(hstmt, szCatalogName, cbCatalogName, szSchemaName, cbSchemaName, szTableName,
                   cbTableName, DoSQLTablePrivileges);
}

SQLRETURN SQL_API SQLColumnPrivilegesW(SQLHSTMT hstmt, SQLWCHAR* szCatalogName,
                                       SQLSMALLINT cbCatalogName, SQLWCHAR* szSchemaName,
                                       SQLSMALLINT cbSchemaName, SQLWCHAR* szTableName,
                                       SQLSMALLINT cbTableName, SQLWCHAR* szColumnName,
                                       SQLSMALLINT cbColumnName) {
  return Catalog4W(hstmt, szCatalogName, cbCatalogName, szSchemaName, cbSchemaName, szTableName,
                   cbTableName, szColumnName, cbColumnName, DoSQLColumnPrivileges);
}

}  // extern "C"
