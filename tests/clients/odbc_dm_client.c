/* A C application linked with the unixODBC driver manager (-lodbc) that reaches the
 * driver only through the manager: it allocates handles, sets and reads environment
 * attributes, connects to a running vqeng12 through a data source and without one
 * (SQLConnect, SQLDriverConnect, SQLBrowseConnect in rounds), reads the driver's
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

static int failures = 0;

static void check(int ok, const char* what) {
  printf("%s %s\n", ok ? "ok" : "FAILED", what);
  if (!ok) ++failures;
}

static int succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

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

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  const char* dsn = argv[1];
  const char* driver = argv[2];
  const int cycles = atoi(argv[3]);
  const char* links = argv[4];
  for (int cycle = 0; cycle < cycles; ++cycle) {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    check(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env) == SQL_SUCCESS, "alloc env");
    check(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0) == SQL_SUCCESS,
          "set ODBC version 3");
    SQLINTEGER version = 0;
    check(SQLGetEnvAttr(env, SQL_ATTR_ODBC_VERSION, &version, 0, NULL) == SQL_SUCCESS &&
              version == SQL_OV_ODBC3,
          "read ODBC version 3");
    check(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc) == SQL_SUCCESS, "alloc connection");

    SQLRETURN rc = SQLConnect(dbc, (SQLCHAR*)dsn, SQL_NTS, (SQLCHAR*)"dba", SQL_NTS,
                              (SQLCHAR*)"sql", SQL_NTS);
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
