/* A C application linked with the unixODBC driver manager (-lodbc) that reaches the
 * driver only through the manager: it allocates handles, sets and reads environment
 * attributes, connects to a running vqeng12 through a data source and without one
 * (SQLConnect, SQLDriverConnect, SQLBrowseConnect in rounds), runs statements with a
 * parameter and ends transactions both ways, reads the driver's
 * diagnostics of a refused connect as the manager passes them on, and disconnects. It
 * repeats the whole cycle, so the manager loads, frees and reloads the driver's
 * environment in one process.
 *
 *   odbc_dm_client <data source> <driver library> <cycles> <server link text>
 * The link text is the connection-string part that reaches the server
 * ("ServerName=...;CommLinks=..."). Prints one line per check; exits 0 when every check
 * held. */
#include <sql.h>
#include <sqlext.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "dm_client.h"

/* The first record of the handle: its state and message. */
static SQLRETURN first_record(SQLSMALLINT type, SQLHANDLE h, char* state, char* message,
                              size_t size) {
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  state[0] = '\0';
  message[0] = '\0';
  return SQLGetDiagRec(type, h, 1, (SQLCHAR*)state, &native, (SQLCHAR*)message,
                       (SQLSMALLINT)size, &length);
}

static void expect_connected(SQLHDBC dbc, SQLRETURN rc, const char* what) {
  char state[6], message[600], line[800];
  if (!succeeded(rc)) first_record(SQL_HANDLE_DBC, dbc, state, message, sizeof message);
  snprintf(line, sizeof line, "%s connects (%d%s%s)", what, (int)rc,
           succeeded(rc) ? "" : ": ", succeeded(rc) ? "" : message);
  check(succeeded(rc), line);
  snprintf(line, sizeof line, "%s disconnects", what);
  check(SQLDisconnect(dbc) == SQL_SUCCESS, line);
}

/* Rows of the table, counted by an UPDATE that touches each of them once. */
static SQLLEN count_rows(SQLHSTMT stmt, const char* table) {
  char sql[200];
  SQLLEN rows = -2;
  snprintf(sql, sizeof sql, "UPDATE %s SET a = a", table);
  const SQLRETURN rc = SQLExecDirect(stmt, (SQLCHAR*)sql, SQL_NTS);
  if (rc == SQL_NO_DATA) return 0;
  if (!succeeded(rc) || !succeeded(SQLRowCount(stmt, &rows))) return -2;
  return rows;
}

/* Statements through the manager: a table made, a row inserted with a bound parameter
 * under autocommit, then with autocommit off one row rolled back and one committed. */
static void run_statements(SQLHDBC dbc, int cycle) {
  char table[64], sql[200], line[300];
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  snprintf(table, sizeof table, "c_client_%d", cycle);
  check(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt) == SQL_SUCCESS, "alloc statement");
  snprintf(sql, sizeof sql, "CREATE TABLE %s (a INTEGER)", table);
  check(succeeded(SQLExecDirect(stmt, (SQLCHAR*)sql, SQL_NTS)), "CREATE TABLE");

  SQLINTEGER value = 7;
  SQLLEN indicator = 0;
  check(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &value, 0,
                         &indicator) == SQL_SUCCESS,
        "bind a parameter");
  snprintf(sql, sizeof sql, "INSERT INTO %s VALUES (?)", table);
  SQLLEN rows = -2;
  check(succeeded(SQLExecDirect(stmt, (SQLCHAR*)sql, SQL_NTS)) &&
            succeeded(SQLRowCount(stmt, &rows)) && rows == 1,
        "INSERT with a parameter inserts one row");

  check(SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_OFF, 0) ==
            SQL_SUCCESS,
        "autocommit off");
  check(succeeded(SQLExecDirect(stmt, (SQLCHAR*)sql, SQL_NTS)), "INSERT in a transaction");
  check(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK) == SQL_SUCCESS, "rollback");
  rows = count_rows(stmt, table);
  snprintf(line, sizeof line, "the rolled-back row is gone (%ld rows)", (long)rows);
  check(rows == 1, line);
  check(succeeded(SQLExecDirect(stmt, (SQLCHAR*)sql, SQL_NTS)), "INSERT in a transaction");
  check(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT) == SQL_SUCCESS, "commit");
  check(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK) == SQL_SUCCESS, "rollback after it");
  rows = count_rows(stmt, table);
  snprintf(line, sizeof line, "the committed row stays (%ld rows)", (long)rows);
  check(rows == 2, line);

  snprintf(sql, sizeof sql, "DROP TABLE %s", table);
  check(succeeded(SQLExecDirect(stmt, (SQLCHAR*)sql, SQL_NTS)), "DROP TABLE");
  check(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT) == SQL_SUCCESS, "commit the drop");
  check(SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_ON, 0) ==
            SQL_SUCCESS,
        "autocommit on");
  check(SQLFreeHandle(SQL_HANDLE_STMT, stmt) == SQL_SUCCESS, "free statement");
}

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  const char* dsn = argv[1];
  const char* driver = argv[2];
  const int cycles = atoi(argv[3]);
  const char* links = argv[4];
  for (int cycle = 0; cycle < cycles; ++cycle) {
    SQLHENV env = dm_env();
    SQLINTEGER version = 0;
    check(SQLGetEnvAttr(env, SQL_ATTR_ODBC_VERSION, &version, 0, NULL) == SQL_SUCCESS &&
              version == SQL_OV_ODBC3,
          "read ODBC version 3");
    SQLHDBC dbc = dm_dbc(env);

    SQLRETURN rc = SQLConnect(dbc, (SQLCHAR*)dsn, SQL_NTS, (SQLCHAR*)"dba", SQL_NTS,
                              (SQLCHAR*)"sql", SQL_NTS);
    if (succeeded(rc)) run_statements(dbc, cycle);
    expect_connected(dbc, rc, "SQLConnect through the data source");

    /* A refused password: the driver's diagnostic, passed on by the manager. */
    rc = SQLConnect(dbc, (SQLCHAR*)dsn, SQL_NTS, (SQLCHAR*)"dba", SQL_NTS, (SQLCHAR*)"wrong",
                    SQL_NTS);
    {
      char state[6], message[600], line[800];
      check(rc == SQL_ERROR, "SQLConnect with a wrong password answers SQL_ERROR");
      first_record(SQL_HANDLE_DBC, dbc, state, message, sizeof message);
      snprintf(line, sizeof line, "its diagnostic is 28000 from the driver (%s: %s)", state,
               message);
      check(strcmp(state, "28000") == 0 && strstr(message, "[Tovrak][ODBC Driver]") != NULL,
            line);
    }

    char in[1024];
    snprintf(in, sizeof in, "DRIVER=%s;UID=dba;PWD=sql;%s", driver, links);
    SQLCHAR out[1024];
    SQLSMALLINT out_length = 0;
    rc = SQLDriverConnect(dbc, NULL, (SQLCHAR*)in, SQL_NTS, out, sizeof out, &out_length,
                          SQL_DRIVER_NOPROMPT);
    check(succeeded(rc) && out_length > 0 && strstr((char*)out, "UID=dba") != NULL,
          "SQLDriverConnect without a data source returns the completed string");
    expect_connected(dbc, rc, "SQLDriverConnect without a data source");

    /* Browsing: the driver asks for the user and password, then connects. */
    snprintf(in, sizeof in, "DSN=%s", dsn);
    rc = SQLBrowseConnect(dbc, (SQLCHAR*)in, SQL_NTS, out, sizeof out, &out_length);
    check(rc == SQL_NEED_DATA && strcmp((char*)out, "UID:Userid=?;PWD:Password=?") == 0,
          "SQLBrowseConnect asks for the user and the password");
    rc = SQLBrowseConnect(dbc, (SQLCHAR*)"UID=dba;PWD=sql", SQL_NTS, out, sizeof out,
                          &out_length);
    expect_connected(dbc, rc, "SQLBrowseConnect in two rounds");

    check(SQLFreeHandle(SQL_HANDLE_DBC, dbc) == SQL_SUCCESS, "free connection");
    check(SQLFreeHandle(SQL_HANDLE_ENV, env) == SQL_SUCCESS, "free env");
  }
  printf("%d failures\n", failures);
  return failures == 0 ? 0 : 1;
}
