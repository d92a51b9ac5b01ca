/* A C application linked with the unixODBC driver manager (-lodbc) that asks for tables and
 * columns through the manager: SQLTables and SQLColumns, narrow and wide, with the result
 * columns they describe, a pattern of a table the client made, a bad name length and the
 * open-cursor refusal; then keys, indexes, type information and procedures with their rows.
 *
 *   odbc_dm_catalog_client <data source> <driver library> <cycles> <connection keys>
 * Only the data source is used. Prints one line per check; exits 0 when every check held. */
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
#include <stdio.h>
#include <string.h>

#include "dm_client.h"

static int state_is(SQLHSTMT stmt, const char* expected) {
  SQLCHAR state[6] = {0};
  SQLINTEGER native = 0;
  SQLCHAR text[300];
  SQLSMALLINT length = 0;
  SQLRETURN rc = SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 1, state, &native, text, sizeof text,
                               &length);
  return (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) &&
         strcmp((const char*)state, expected) == 0;
}

/* The result has `count` columns named as `names` says. */
static int columns_are(SQLHSTMT stmt, const char* const* names, SQLSMALLINT count) {
  SQLSMALLINT n = 0;
  if (SQLNumResultCols(stmt, &n) != SQL_SUCCESS || n != count) return 0;
  for (SQLUSMALLINT c = 1; c <= (SQLUSMALLINT)count; ++c) {
    SQLCHAR name[129];
    SQLSMALLINT length = 0, type = 0, scale = 0, nullable = 0;
    SQLULEN size = 0;
    if (SQLDescribeCol(stmt, c, name, sizeof name, &length, &type, &size, &scale, &nullable) !=
            SQL_SUCCESS ||
        strcmp((const char*)name, names[c - 1]) != 0)
      return 0;
  }
  return 1;
}

/* The values of column `column` in every row of the open result, joined by ","; the
 * result is closed. */
static const char* column_rows(SQLHSTMT stmt, SQLUSMALLINT column) {
  static char out[512];
  size_t used = 0;
  out[0] = '\0';
  while (SQLFetch(stmt) == SQL_SUCCESS) {
    char value[130];
    SQLLEN indicator = 0;
    memset(value, 0x7E, sizeof value);
    if (SQLGetData(stmt, column, SQL_C_CHAR, value, sizeof value, &indicator) != SQL_SUCCESS)
      break;
    if (indicator == SQL_NULL_DATA) snprintf(value, sizeof value, "-");
    const int n = snprintf(out + used, sizeof out - used, "%s%s", used != 0 ? "," : "", value);
    if (n < 0 || (size_t)n >= sizeof out - used) break;
    used += (size_t)n;
  }
  SQLFreeStmt(stmt, SQL_CLOSE);
  return out;
}

/* Keys, indexes, type information and procedures through the manager, narrow and wide. */
static void keys_and_types(SQLHSTMT stmt) {
  SQLRETURN rc = SQLExecDirect(
      stmt, (SQLCHAR*)"CREATE TABLE dm_pk (k1 INT, k2 INT, PRIMARY KEY (k1, k2))", SQL_NTS);
  check(rc == SQL_SUCCESS, "create a keyed table");
  SQLFreeStmt(stmt, SQL_CLOSE);
  rc = SQLExecDirect(stmt,
                     (SQLCHAR*)"CREATE TABLE dm_fk (id INT PRIMARY KEY, r1 INT, r2 INT, "
                               "FOREIGN KEY (r1, r2) REFERENCES dm_pk(k1, k2) ON DELETE CASCADE)",
                     SQL_NTS);
  check(rc == SQL_SUCCESS, "create a referencing table");
  SQLFreeStmt(stmt, SQL_CLOSE);

  rc = SQLPrimaryKeys(stmt, NULL, 0, NULL, 0, (SQLCHAR*)"dm_pk", SQL_NTS);
  check(rc == SQL_SUCCESS && strcmp(column_rows(stmt, 4), "k1,k2") == 0,
        "SQLPrimaryKeys lists the key columns");
  SQLWCHAR wide_pk[] = {'d', 'm', '_', 'p', 'k', 0};
  rc = SQLForeignKeysW(stmt, NULL, 0, NULL, 0, wide_pk, SQL_NTS, NULL, 0, NULL, 0, NULL, 0);
  check(rc == SQL_SUCCESS && strcmp(column_rows(stmt, 8), "r1,r2") == 0,
        "SQLForeignKeysW lists the referencing columns");
  rc = SQLForeignKeys(stmt, NULL, 0, NULL, 0, (SQLCHAR*)"dm_pk", SQL_NTS, NULL, 0, NULL, 0,
                      (SQLCHAR*)"dm_fk", SQL_NTS);
  check(rc == SQL_SUCCESS && strcmp(column_rows(stmt, 11), "0,0") == 0,
        "SQLForeignKeys reports the cascading delete rule");
  rc = SQLForeignKeys(stmt, NULL, 0, NULL, 0, NULL, 0, NULL, 0, NULL, 0, NULL, 0);
  check(rc == SQL_ERROR && state_is(stmt, "HY009"), "SQLForeignKeys without tables: HY009");
  rc = SQLStatistics(stmt, NULL, 0, NULL, 0, (SQLCHAR*)"dm_fk", SQL_NTS, SQL_INDEX_ALL,
                     SQL_QUICK);
  check(rc == SQL_SUCCESS && strncmp(column_rows(stmt, 7), "0", 1) == 0,
        "SQLStatistics starts with the table row");
  rc = SQLGetTypeInfoW(stmt, SQL_INTEGER);
  check(rc == SQL_SUCCESS && strcmp(column_rows(stmt, 1), "integer") == 0,
        "SQLGetTypeInfoW(SQL_INTEGER)");
  rc = SQLGetTypeInfo(stmt, 94);
  check(rc == SQL_ERROR && state_is(stmt, "HY004"), "SQLGetTypeInfo of an unknown type: HY004");
  rc = SQLProcedures(stmt, NULL, 0, NULL, 0, (SQLCHAR*)"dm~_none%", SQL_NTS);
  check(rc == SQL_SUCCESS && strcmp(column_rows(stmt, 3), "") == 0,
        "SQLProcedures of no procedure");
}

static const char* const kTables[] = {"TABLE_CAT", "TABLE_SCHEM", "TABLE_NAME", "TABLE_TYPE",
                                      "REMARKS"};
static const char* const kColumns[] = {
    "TABLE_CAT",     "TABLE_SCHEM",    "TABLE_NAME",       "COLUMN_NAME",     "DATA_TYPE",
    "TYPE_NAME",     "COLUMN_SIZE",    "BUFFER_LENGTH",    "DECIMAL_DIGITS",  "NUM_PREC_RADIX",
    "NULLABLE",      "REMARKS",        "COLUMN_DEF",       "SQL_DATA_TYPE",   "SQL_DATETIME_SUB",
    "CHAR_OCTET_LENGTH", "ORDINAL_POSITION", "IS_NULLABLE"};

static void catalog(SQLHDBC dbc) {
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  check(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt) == SQL_SUCCESS, "alloc statement");
  SQLRETURN rc = SQLExecDirect(stmt, (SQLCHAR*)"CREATE TABLE dm_cat_t (a INT, b VARCHAR(10))",
                               SQL_NTS);
  check(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO, "create a table");
  SQLFreeStmt(stmt, SQL_CLOSE);

  rc = SQLTables(stmt, NULL, 0, NULL, 0, (SQLCHAR*)"dm~_cat%", SQL_NTS, (SQLCHAR*)"TABLE",
                 SQL_NTS);
  check(rc == SQL_SUCCESS && columns_are(stmt, kTables, 5), "SQLTables describes five columns");
  rc = SQLTables(stmt, NULL, 0, NULL, 0, NULL, 0, NULL, 0);
  check(rc == SQL_ERROR && state_is(stmt, "24000"), "SQLTables with a cursor open: 24000");
  SQLFreeStmt(stmt, SQL_CLOSE);

  rc = SQLColumns(stmt, NULL, 0, NULL, 0, (SQLCHAR*)"dm_cat_t", 8, NULL, 0);
  check(rc == SQL_SUCCESS && columns_are(stmt, kColumns, 18),
        "SQLColumns describes eighteen columns");
  SQLFreeStmt(stmt, SQL_CLOSE);

  SQLWCHAR wide[] = {'d', 'm', '~', '_', 'c', 'a', 't', '%', 0};
  rc = SQLTablesW(stmt, NULL, 0, NULL, 0, wide, SQL_NTS, NULL, 0);
  check(rc == SQL_SUCCESS && columns_are(stmt, kTables, 5), "SQLTablesW describes five columns");
  SQLFreeStmt(stmt, SQL_CLOSE);
  rc = SQLColumnsW(stmt, NULL, 0, NULL, 0, wide, 8, NULL, 0);
  check(rc == SQL_SUCCESS && columns_are(stmt, kColumns, 18),
        "SQLColumnsW describes eighteen columns");
  SQLFreeStmt(stmt, SQL_CLOSE);

  rc = SQLColumns(stmt, NULL, 0, NULL, 0, (SQLCHAR*)"dm_cat_t", -7, NULL, 0);
  check(rc == SQL_ERROR && state_is(stmt, "HY090"), "a negative name length: HY090");
  rc = SQLColumns(stmt, (SQLCHAR*)"db", SQL_NTS, NULL, 0, (SQLCHAR*)"dm_cat_t", SQL_NTS, NULL,
                  0);
  check(rc == SQL_ERROR && state_is(stmt, "HYC00"), "a catalog name: HYC00");

  SQLUSMALLINT supported = 0;
  check(SQLGetFunctions(dbc, SQL_API_SQLCOLUMNS, &supported) == SQL_SUCCESS &&
            supported == SQL_TRUE,
        "SQLGetFunctions(SQLColumns)");
  check(SQLGetFunctions(dbc, SQL_API_SQLFOREIGNKEYS, &supported) == SQL_SUCCESS &&
            supported == SQL_TRUE,
        "SQLGetFunctions(SQLForeignKeys)");
  keys_and_types(stmt);
  check(SQLFreeHandle(SQL_HANDLE_STMT, stmt) == SQL_SUCCESS, "free statement");
}

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  SQLHENV env = dm_env();
  SQLHDBC dbc = dm_dbc(env);
  if (dm_connect_dsn(dbc, argv[1])) {
    catalog(dbc);
    check(SQLDisconnect(dbc) == SQL_SUCCESS, "disconnect");
  }
  return dm_finish(env, dbc);
}
