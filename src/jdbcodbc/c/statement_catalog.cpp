// The ODBC catalog functions on a statement, for the metadata peer's result sets: each
// passes its arguments on unchanged and reports the driver's diagnostics.
#include "jdbcodbc/c/statement.h"

namespace {

SQLWCHAR* Text(const Statement::WText& t) { return const_cast<SQLWCHAR*>(t.text); }

SQLCHAR* Narrow(const char* text) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

}  // namespace

bool Statement::getTables(JNIEnv* env, WText catalog, WText schema, WText table, WText types) {
  const SQLRETURN rc = SQLTablesW(hstmt_, Text(catalog), catalog.length, Text(schema),
                                  schema.length, Text(table), table.length, Text(types),
                                  types.length);
  return !sqlError(env, rc, SQL_HANDLE_STMT, hstmt_);
}

bool Statement::getColumns(JNIEnv* env, WText catalog, WText schema, WText table,
                           WText column) {
  const SQLRETURN rc = SQLColumnsW(hstmt_, Text(catalog), catalog.length, Text(schema),
                                   schema.length, Text(table), table.length, Text(column),
                                   column.length);
  return !sqlError(env, rc, SQL_HANDLE_STMT, hstmt_);
}

bool Statement::getColumnPrivileges(JNIEnv* env, WText catalog, WText schema, WText table,
                                    WText column) {
  const SQLRETURN rc = SQLColumnPrivilegesW(hstmt_, Text(catalog), catalog.length, Text(schema),
                                            schema.length, Text(table), table.length,
                                            Text(column), column.length);
  return !sqlError(env, rc, SQL_HANDLE_STMT, hstmt_);
}

bool Statement::getTablePrivileges(JNIEnv* env, WText catalog, WText schema, WText table) {
  const SQLRETURN rc = SQLTablePrivilegesW(hstmt_, Text(catalog), catalog.length, Text(schema),
                                           schema.length, Text(table), table.length);
  return !sqlError(env, rc, SQL_HANDLE_STMT, hstmt_);
}

bool Statement::getPrimaryKeys(JNIEnv* env, WText catalog, WText schema, WText table) {
  const SQLRETURN rc = SQLPrimaryKeysW(hstmt_, Text(catalog), catalog.length, Text(schema),
                                       schema.length, Text(table), table.length);
  return !sqlError(env, rc, SQL_HANDLE_STMT, hstmt_);
}

bool Statement::getProcedures(JNIEnv* env, WText catalog, WText schema, WText procedure) {
  const SQLRETURN rc = SQLProceduresW(hstmt_, Text(catalog), catalog.length, Text(schema),
                                      schema.length, Text(procedure), procedure.length);
  return !sqlError(env, rc, SQL_HANDLE_STMT, hstmt_);
}

bool Statement::getProcedureColumns(JNIEnv* env, WText catalog, WText schema, WText procedure,
                                    WText column) {
  const SQLRETURN rc = SQLProcedureColumnsW(hstmt_, Text(catalog), catalog.length, Text(schema),
                                            schema.length, Text(procedure), procedure.length,
                                            Text(column), column.length);
  return !sqlError(env, rc, SQL_HANDLE_STMT, hstmt_);
}

bool Statement::getStatistics(JNIEnv* env, WText catalog, WText schema, WText table,
                              SQLUSMALLINT unique, SQLUSMALLINT reserved) {
  const SQLRETURN rc = SQLStatisticsW(hstmt_, Text(catalog), catalog.length, Text(schema),
                                      schema.length, Text(table), table.length, unique,
                                      reserved);
  return !sqlError(env, rc, SQL_HANDLE_STMT, hstmt_);
}

bool Statement::getSpecialColumns(JNIEnv* env, SQLUSMALLINT identifierType, WText catalog,
                                  WText schema, WText table, SQLUSMALLINT scope,
                                  SQLUSMALLINT nullable) {
  const SQLRETURN rc = SQLSpecialColumnsW(hstmt_, identifierType, Text(catalog), catalog.length,
                                          Text(schema), schema.length, Text(table),
                                          table.length, scope, nullable);
  return !sqlError(env, rc, SQL_HANDLE_STMT, hstmt_);
}

bool Statement::getForeignKeys(JNIEnv* env, WText pkCatalog, WText pkSchema, WText pkTable,
                               WText fkCatalog, WText fkSchema, WText fkTable) {
  const SQLRETURN rc = SQLForeignKeysW(
      hstmt_, Text(pkCatalog), pkCatalog.length, Text(pkSchema), pkSchema.length, Text(pkTable),
      pkTable.length, Text(fkCatalog), fkCatalog.length, Text(fkSchema), fkSchema.length,
      Text(fkTable), fkTable.length);
  return !sqlError(env, rc, SQL_HANDLE_STMT, hstmt_);
}

bool Statement::getTableTypes(JNIEnv* env) {
  const SQLRETURN rc = SQLTables(hstmt_, Narrow(""), SQL_NTS, Narrow(""), SQL_NTS, Narrow(""),
                                 SQL_NTS, Narrow("%"), SQL_NTS);
  return !sqlError(env, rc, SQL_HANDLE_STMT, hstmt_);
}

bool Statement::getSchemas(JNIEnv* env) {
  const SQLRETURN rc = SQLTables(hstmt_, Narrow(""), SQL_NTS, Narrow("%"), SQL_NTS, Narrow(""),
                                 SQL_NTS, nullptr, SQL_NTS);
  return !sqlError(env, rc, SQL_HANDLE_STMT, hstmt_);
}

bool Statement::getCatalogs(JNIEnv* env) {
  const SQLRETURN rc = SQLTables(hstmt_, Narrow("%"), SQL_NTS, Narrow(""), SQL_NTS, Narrow(""),
                                 SQL_NTS, nullptr, SQL_NTS);
  return !sqlError(env, rc, SQL_HANDLE_STMT, hstmt_);
}

bool Statement::getTypeInfo(JNIEnv* env) {
  const SQLRETURN rc = SQLGetTypeInfo(hstmt_, SQL_ALL_TYPES);
  return !sqlError(env, rc, SQL_HANDLE_STMT, hstmt_);
}
