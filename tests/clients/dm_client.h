/* What the C clients on the unixODBC driver manager share: one line per check ("ok ..." or
 * "FAILED ..."), the count of failed checks that sets the exit status, and the handles of
 * a session through the data source the client scripts register (user dba). */
#ifndef VQ_TESTS_CLIENTS_DM_CLIENT_H
#define VQ_TESTS_CLIENTS_DM_CLIENT_H

#include <sql.h>
#include <sqlext.h>
#include <stdio.h>

static int failures = 0;

static inline void check(int ok, const char* what) {
  printf("%s %s\n", ok ? "ok" : "FAILED", what);
  if (!ok) ++failures;
}

static inline int succeeded(SQLRETURN rc) {
  return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

/* An environment of ODBC 3 behaviour. */
static inline SQLHENV dm_env(void) {
  SQLHENV env = SQL_NULL_HENV;
  check(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env) == SQL_SUCCESS, "alloc env");
  check(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0) == SQL_SUCCESS,
        "ODBC version 3");
  return env;
}

static inline SQLHDBC dm_dbc(SQLHENV env) {
  SQLHDBC dbc = SQL_NULL_HDBC;
  check(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc) == SQL_SUCCESS, "alloc connection");
  return dbc;
}

/* SQLDriverConnect through the data source as dba; nonzero when connected. */
static inline int dm_connect_dsn(SQLHDBC dbc, const char* dsn) {
  char in[256];
  snprintf(in, sizeof in, "DSN=%s;UID=dba;PWD=sql", dsn);
  const SQLRETURN rc = SQLDriverConnect(dbc, NULL, (SQLCHAR*)in, SQL_NTS, NULL, 0, NULL,
                                        SQL_DRIVER_NOPROMPT);
  check(succeeded(rc), "connect through the data source");
  return succeeded(rc);
}

/* Frees the connection handle (when there is one) and the environment, prints the count
 * of failed checks and answers the exit status. */
static inline int dm_finish(SQLHENV env, SQLHDBC dbc) {
  if (dbc != SQL_NULL_HDBC) {
    check(SQLFreeHandle(SQL_HANDLE_DBC, dbc) == SQL_SUCCESS, "free connection");
  }
  check(SQLFreeHandle(SQL_HANDLE_ENV, env) == SQL_SUCCESS, "free env");
  printf("%d failures\n", failures);
  return failures == 0 ? 0 : 1;
}

#endif /* VQ_TESTS_CLIENTS_DM_CLIENT_H */
