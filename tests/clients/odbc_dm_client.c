/* A C application linked with the unixODBC driver manager (-lodbc) that reaches the
 * driver only through the manager: it allocates handles, sets and reads environment
 * attributes, connects through a data source and without one (the driver answers that
 * connecting is not built yet), and reads the driver's diagnostics as the manager passes
 * them on. It repeats the whole cycle, so the manager loads, frees and reloads the
 * driver's environment in one process.
 *
 *   odbc_dm_client <data source> <driver library> <cycles>
 * Prints one line per check; exits 0 when every check held. */
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

static void expect_not_built(SQLHDBC dbc, SQLRETURN rc, const char* what) {
  char state[6], message[600], line[200];
  snprintf(line, sizeof line, "%s answers SQL_ERROR", what);
  check(rc == SQL_ERROR, line);
  SQLRETURN drc = first_record(SQL_HANDLE_DBC, dbc, state, message, sizeof message);
  snprintf(line, sizeof line, "%s diagnostic HYC00 from the driver (%s: %s)", what, state,
           message);
  check(drc == SQL_SUCCESS && strcmp(state, "HYC00") == 0 &&
            strstr(message, "[Tovrak][ODBC Driver]") != NULL,
        line);
}

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const char* dsn = argv[1];
  const char* driver = argv[2];
  const int cycles = atoi(argv[3]);
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
    expect_not_built(dbc, rc, "SQLConnect through the data source");

    char in[1024];
    snprintf(in, sizeof in, "DRIVER=%s;UID=dba;PWD=sql", driver);
    SQLCHAR out[1024];
    SQLSMALLINT out_length = 0;
    rc = SQLDriverConnect(dbc, NULL, (SQLCHAR*)in, SQL_NTS, out, sizeof out, &out_length,
                          SQL_DRIVER_NOPROMPT);
    expect_not_built(dbc, rc, "SQLDriverConnect without a data source");

    check(SQLFreeHandle(SQL_HANDLE_DBC, dbc) == SQL_SUCCESS, "free connection");
    check(SQLFreeHandle(SQL_HANDLE_ENV, env) == SQL_SUCCESS, "free env");
  }
  printf("%d failures\n", failures);
  return failures == 0 ? 0 : 1;
}
