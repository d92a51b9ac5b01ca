/* Fetch speed through the unixODBC driver manager: an application linked with -lodbc
 * reads a million rows of (integer, integer, double, short text) from a running vqeng12
 * with column-wise binding and rowsets of 1000, the driver loaded by the manager from the
 * connection string. It prints one line per run with the client process's CPU time
 * (user, system, all threads) and the wall time of the fetch loop per row; the open,
 * where the stand-in runs the query, is timed apart. The query is the one the
 * command-sequence fetch benchmark runs, so the two compare row for row.
 *
 *   odbc_fetch_bench <connection string> [runs]
 * Exits 0 when every run read every row with the right values. */
#include <sql.h>
#include <sqlext.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

enum { kRows = 1000000, kRowset = 1000, kTextBytes = 16 };

static const char kQuery[] =
    "WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM s WHERE n < 1000000) "
    "SELECT n, n * 7 - 3, n * 0.25, printf('v%09d', n) FROM s";

static double clock_seconds(clockid_t id) {
  struct timespec ts;
  clock_gettime(id, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

static void user_system_seconds(double* user, double* system) {
  struct rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  *user = (double)ru.ru_utime.tv_sec + (double)ru.ru_utime.tv_usec * 1e-6;
  *system = (double)ru.ru_stime.tv_sec + (double)ru.ru_stime.tv_usec * 1e-6;
}

static int succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

static void report(SQLSMALLINT type, SQLHANDLE h, const char* what) {
  SQLCHAR state[6] = {0};
  SQLCHAR text[512] = {0};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  (void)SQLGetDiagRec(type, h, 1, state, &native, text, sizeof text, &length);
  fprintf(stderr, "odbc_fetch_bench: %s failed: %s %s\n", what, (char*)state, (char*)text);
}

/* The rowset's bound columns, one array per column. */
static SQLINTEGER first[kRowset], second[kRowset];
static SQLDOUBLE third[kRowset];
static SQLCHAR fourth[kRowset][kTextBytes];
static SQLLEN indicators[4][kRowset];
static SQLUSMALLINT statuses[kRowset];

/* One run: execute, bind, fetch every rowset. Answers 0 when every row was read with
 * the values the query makes. */
static int run(SQLHDBC dbc, double* open_s, double* cpu_s, double* user_s, double* system_s,
               double* wall_s) {
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  SQLULEN fetched = 0;
  int ok = 1;
  if (!succeeded(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt))) {
    report(SQL_HANDLE_DBC, dbc, "SQLAllocHandle");
    return 0;
  }
  (void)SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE, (SQLPOINTER)SQL_BIND_BY_COLUMN, 0);
  (void)SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)(SQLULEN)kRowset, 0);
  (void)SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
  (void)SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, statuses, 0);
  if (!succeeded(SQLBindCol(stmt, 1, SQL_C_SLONG, first, 0, indicators[0])) ||
      !succeeded(SQLBindCol(stmt, 2, SQL_C_SLONG, second, 0, indicators[1])) ||
      !succeeded(SQLBindCol(stmt, 3, SQL_C_DOUBLE, third, 0, indicators[2])) ||
      !succeeded(SQLBindCol(stmt, 4, SQL_C_CHAR, fourth, kTextBytes, indicators[3]))) {
    report(SQL_HANDLE_STMT, stmt, "SQLBindCol");
    (void)SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return 0;
  }
  const double open_start = clock_seconds(CLOCK_MONOTONIC);
  if (!succeeded(SQLExecDirect(stmt, (SQLCHAR*)kQuery, SQL_NTS))) {
    report(SQL_HANDLE_STMT, stmt, "SQLExecDirect");
    (void)SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return 0;
  }
  double user_start, system_start;
  user_system_seconds(&user_start, &system_start);
  const double cpu_start = clock_seconds(CLOCK_PROCESS_CPUTIME_ID);
  const double wall_start = clock_seconds(CLOCK_MONOTONIC);
  *open_s += wall_start - open_start;

  int64_t sum = 0;
  uint32_t rows = 0;
  SQLRETURN rc;
  while ((rc = SQLFetch(stmt)) == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
    for (SQLULEN i = 0; i < fetched; ++i) sum += first[i];
    /* Every column of the rowset's last row: wrong offsets or a stale buffer show. */
    if (fetched > 0) {
      const SQLULEN last = fetched - 1;
      const int32_t n = first[last];
      char text[kTextBytes];
      snprintf(text, sizeof text, "v%09d", n);
      if (second[last] != n * 7 - 3 || third[last] != n * 0.25 ||
          strcmp((const char*)fourth[last], text) != 0 || indicators[3][last] != 10 ||
          statuses[last] != SQL_ROW_SUCCESS) {
        fprintf(stderr, "odbc_fetch_bench: row %d read wrong\n", (int)n);
        ok = 0;
        break;
      }
    }
    rows += (uint32_t)fetched;
  }
  *wall_s += clock_seconds(CLOCK_MONOTONIC) - wall_start;
  *cpu_s += clock_seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu_start;
  double user_end, system_end;
  user_system_seconds(&user_end, &system_end);
  *user_s += user_end - user_start;
  *system_s += system_end - system_start;
  if (ok && rc != SQL_NO_DATA) {
    report(SQL_HANDLE_STMT, stmt, "SQLFetch");
    ok = 0;
  }
  if (ok && (rows != kRows || sum != (int64_t)kRows * (kRows + 1) / 2)) {
    fprintf(stderr, "odbc_fetch_bench: %u rows read, sum %lld\n", rows, (long long)sum);
    ok = 0;
  }
  (void)SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  return ok;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: odbc_fetch_bench <connection string> [runs]\n");
    return 2;
  }
  const int runs = argc > 2 ? atoi(argv[2]) : 3;
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (!succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)) ||
      !succeeded(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0)) ||
      !succeeded(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
    fprintf(stderr, "odbc_fetch_bench: no environment\n");
    return 1;
  }
  if (!succeeded(SQLDriverConnect(dbc, NULL, (SQLCHAR*)argv[1], SQL_NTS, NULL, 0, NULL,
                                  SQL_DRIVER_NOPROMPT))) {
    report(SQL_HANDLE_DBC, dbc, "SQLDriverConnect");
    return 1;
  }
  double open_s = 0, cpu_s = 0, user_s = 0, system_s = 0, wall_s = 0;
  int ok = 1;
  for (int i = 0; i < runs && ok; ++i) ok = run(dbc, &open_s, &cpu_s, &user_s, &system_s, &wall_s);
  (void)SQLDisconnect(dbc);
  (void)SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  (void)SQLFreeHandle(SQL_HANDLE_ENV, env);
  if (!ok) return 1;
  const double rows = (double)kRows * runs;
  printf("rows=%.0f client_cpu_ns_per_row=%.1f client_user_ns_per_row=%.1f "
         "client_system_ns_per_row=%.1f wall_ns_per_row=%.1f open_ms=%.1f\n",
         rows, cpu_s * 1e9 / rows, user_s * 1e9 / rows, system_s * 1e9 / rows,
         wall_s * 1e9 / rows, open_s * 1e3 / runs);
  return 0;
}
