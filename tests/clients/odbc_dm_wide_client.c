/* A C application linked with the unixODBC driver manager (-lodbc) that speaks UTF-16 to
 * the driver through the manager's wide calls: connect, SQL text and a UTF-16 parameter
 * with several scripts and a character outside the Basic Multilingual Plane, a column
 * name, the value read back in pieces and bound, catalog rows, driver information cut
 * short, and a server diagnostic quoting a name.
 *
 *   odbc_dm_wide_client <data source> <driver library> <cycles> <connection keys>
 * Only the data source is used. Prints one line per check; exits 0 when every check held. */
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
#include <stdio.h>
#include <string.h>
#include <uchar.h>

#include "dm_client.h"

static SQLWCHAR* W(const char16_t* text) { return (SQLWCHAR*)text; }

static size_t wlen(const SQLWCHAR* text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

static int wequal(const SQLWCHAR* a, const char16_t* b) {
  size_t n = wlen(a);
  size_t i;
  for (i = 0; i <= n; ++i) {
    if (a[i] != (SQLWCHAR)b[i]) return 0;
  }
  return 1;
}

static int wcontains(const SQLWCHAR* haystack, const char16_t* needle) {
  size_t h = wlen(haystack), n = 0, i, j;
  while (needle[n] != 0) ++n;
  for (i = 0; i + n <= h; ++i) {
    for (j = 0; j < n && haystack[i + j] == (SQLWCHAR)needle[j]; ++j) {
    }
    if (j == n) return 1;
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  SQLHENV env = dm_env();
  SQLHDBC dbc = dm_dbc(env);
  SQLHSTMT stmt = SQL_NULL_HSTMT;

  SQLWCHAR in[256];
  char narrow[256];
  size_t i;
  snprintf(narrow, sizeof narrow, "DSN=%s;UID=dba;PWD=sql", argv[1]);
  for (i = 0; narrow[i] != 0; ++i) in[i] = (SQLWCHAR)narrow[i];
  in[i] = 0;
  SQLWCHAR out[512];
  SQLSMALLINT out_length = 0;
  SQLRETURN rc = SQLDriverConnectW(dbc, NULL, in, SQL_NTS, out, 512, &out_length,
                                   SQL_DRIVER_NOPROMPT);
  check(succeeded(rc) && out_length == (SQLSMALLINT)wlen(out) && wcontains(out, u"UID=dba"),
        "SQLDriverConnectW with the completed string in characters");
  if (!succeeded(rc)) return 1;

  SQLWCHAR info[64];
  SQLSMALLINT bytes = 0;
  rc = SQLGetInfoW(dbc, SQL_DBMS_NAME, info, sizeof info, &bytes);
  check(rc == SQL_SUCCESS && wequal(info, u"Vellumcrest") && bytes == 22,
        "SQLGetInfoW(SQL_DBMS_NAME) in bytes");
  memset(info, 0xA5, sizeof info);
  rc = SQLGetInfoW(dbc, SQL_DBMS_NAME, info, 8, &bytes);
  check(rc == SQL_SUCCESS_WITH_INFO && wequal(info, u"Vel") && bytes == 22 &&
            info[4] == 0xA5A5,
        "SQLGetInfoW(SQL_DBMS_NAME) into 8 bytes: three characters, the full length");

  SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
  rc = SQLExecDirectW(stmt,
                      W(u"CREATE TABLE \"wide_Tабл_\U0001F600\" (\"имя\" varchar(60), n int)"),
                      SQL_NTS);
  check(succeeded(rc), "SQLExecDirectW creates a table with non-ASCII names");
  SQLFreeStmt(stmt, SQL_CLOSE);

  rc = SQLPrepareW(stmt, W(u"INSERT INTO \"wide_Tабл_\U0001F600\" VALUES (?, 1)"), SQL_NTS);
  const char16_t* value = u"Grüße Привет 日本 \U0001F600";
  SQLLEN indicator = SQL_NTS;
  if (succeeded(rc)) {
    rc = SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 60, 0,
                          (SQLPOINTER)value, 0, &indicator);
  }
  if (succeeded(rc)) rc = SQLExecute(stmt);
  check(succeeded(rc), "SQLPrepareW and a UTF-16 parameter insert a row");
  SQLFreeStmt(stmt, SQL_RESET_PARAMS);
  SQLFreeStmt(stmt, SQL_CLOSE);

  rc = SQLExecDirectW(stmt,
                      W(u"SELECT \"имя\" FROM \"wide_Tабл_\U0001F600\" WHERE \"имя\" = "
                        u"'Grüße Привет 日本 \U0001F600'"),
                      SQL_NTS);
  SQLWCHAR name[16];
  SQLSMALLINT name_length = 0;
  if (succeeded(rc)) rc = SQLDescribeColW(stmt, 1, name, 16, &name_length, NULL, NULL, NULL, NULL);
  check(succeeded(rc) && wequal(name, u"имя") && name_length == 3,
        "SQLDescribeColW names a non-ASCII column in characters");

  /* The value in pieces of three code units: the last boundary splits the pair. */
  SQLWCHAR whole[64];
  size_t have = 0;
  int pieces_ok = succeeded(rc) && SQLFetch(stmt) == SQL_SUCCESS;
  rc = SQL_SUCCESS_WITH_INFO;
  while (pieces_ok && rc == SQL_SUCCESS_WITH_INFO) {
    SQLWCHAR piece[5];
    SQLLEN indicator = 0;
    memset(piece, 0xA5, sizeof piece);
    rc = SQLGetData(stmt, 1, SQL_C_WCHAR, piece, 8, &indicator);
    pieces_ok = succeeded(rc) && piece[4] == 0xA5A5 && have + wlen(piece) < 64;
    if (pieces_ok && have == 0) pieces_ok = indicator == 18 * 2;
    if (pieces_ok) {
      memcpy(whole + have, piece, wlen(piece) * sizeof(SQLWCHAR));
      have += wlen(piece);
    }
  }
  whole[have] = 0;
  check(pieces_ok && rc == SQL_SUCCESS && wequal(whole, value),
        "SQLGetData(SQL_C_WCHAR) in pieces rebuilds the value");
  SQLFreeStmt(stmt, SQL_CLOSE);

  /* Bound and cut short: 01004, a terminated prefix, and the full length in bytes (or
   * SQL_NO_TOTAL: the driver asks the server for no more of the value than fits). */
  SQLWCHAR bound[7];
  SQLLEN bound_length = 0;
  SQLWCHAR bound_state[6] = {0};
  memset(bound, 0xA5, sizeof bound);
  rc = SQLExecDirectW(stmt, W(u"SELECT \"имя\" FROM \"wide_Tабл_\U0001F600\""), SQL_NTS);
  if (succeeded(rc)) rc = SQLBindCol(stmt, 1, SQL_C_WCHAR, bound, 12, &bound_length);
  if (succeeded(rc)) rc = SQLFetch(stmt);
  SQLGetDiagRecW(SQL_HANDLE_STMT, stmt, 1, bound_state, NULL, NULL, 0, NULL);
  check(rc == SQL_SUCCESS_WITH_INFO && wequal(bound_state, u"01004") &&
            (bound_length == 36 || bound_length == SQL_NO_TOTAL) &&
            wequal(bound, u"Grüße") && bound[6] == 0xA5A5,
        "a bound SQL_C_WCHAR column cut short gives 01004 and a terminated prefix");
  SQLFreeStmt(stmt, SQL_UNBIND);
  SQLFreeStmt(stmt, SQL_CLOSE);

  /* Catalog rows name the table and its columns in UTF-16. */
  rc = SQLColumnsW(stmt, NULL, 0, NULL, 0, W(u"wide_Tабл_\U0001F600"), SQL_NTS, NULL, 0);
  SQLWCHAR table_name[32], column_name[32];
  SQLLEN table_length = 0, column_length = 0;
  if (succeeded(rc)) {
    rc = SQLBindCol(stmt, 3, SQL_C_WCHAR, table_name, sizeof table_name, &table_length);
  }
  if (succeeded(rc)) {
    rc = SQLBindCol(stmt, 4, SQL_C_WCHAR, column_name, sizeof column_name, &column_length);
  }
  if (succeeded(rc)) rc = SQLFetch(stmt);
  check(rc == SQL_SUCCESS && wequal(table_name, u"wide_Tабл_\U0001F600") &&
            table_length == 12 * 2 && wequal(column_name, u"имя") && column_length == 6,
        "SQLColumnsW rows carry the non-ASCII table and column names");
  SQLFreeStmt(stmt, SQL_UNBIND);
  SQLFreeStmt(stmt, SQL_CLOSE);

  rc = SQLExecDirectW(stmt, W(u"SELECT * FROM \"нет_такой_\U0001F600\""), SQL_NTS);
  SQLWCHAR state[6];
  SQLWCHAR message[512];
  SQLINTEGER native = 0;
  SQLSMALLINT message_length = 0;
  SQLRETURN diag = SQLGetDiagRecW(SQL_HANDLE_STMT, stmt, 1, state, &native, message, 512,
                                  &message_length);
  check(rc == SQL_ERROR && diag == SQL_SUCCESS && wcontains(message, u"нет_такой_\U0001F600") &&
            message_length == (SQLSMALLINT)wlen(message),
        "SQLGetDiagRecW quotes the missing table's name");

  SQLExecDirectW(stmt, W(u"DROP TABLE \"wide_Tабл_\U0001F600\""), SQL_NTS);
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  SQLDisconnect(dbc);
  return dm_finish(env, dbc);
}
