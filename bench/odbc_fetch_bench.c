/* Fetch speed through the unixODBC driver manager: an application linked with -lodbc
 * reads a million rows of (integer, integer, double, short text) from a running vqeng12
 * with column-wise binding and rowsets of 1000, the driver loaded by the manager from the
 * connection string. It prints one line per run with the client process's CPU time
 * (user, system, all threads) and the wall time of the fetch loop per row; the open,
 * where the stand-in runs the query, is timed apart. The rows come from the stored table
 * the command-sequence fetch benchmark reads too (fetch_bench_table.h), so the two
 * compare row for row. Given the server's process id, it also reports the server's CPU
 * time per row over the fetch loops, read from /proc.
 *
 *   odbc_fetch_bench <connection string> fill
 *       creates and fills the table once (prints the time it took)
 *   odbc_fetch_bench <connection string> [runs [server pid]]
 * The environment variable VQ_BENCH_ROWSET (1 to 10000) sets another rowset size, to
 * measure the cost of small rowsets; the output line then names it.
 * Exits 0 when every run read every row with the right values. */
#include <sql.h>
#include <sqlext.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include "fetch_bench_table.h"

enum { kRows = FETCH_BENCH_ROWS, kDefaultRowset = 1000, kMaxRowset = 10000, kTextBytes = 16 };

/* Rows per SQLFetch: kDefaultRowset unless VQ_BENCH_ROWSET says otherwise. */
static SQLULEN rowset = kDefaultRowset;

static const char kQuery[] = FETCH_BENCH_QUERY;

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

/* The CPU seconds (user and system) process `pid` used so far, from /proc; 0 for no
 * process (pid 0) or when they cannot be read. */
static double process_cpu_seconds_of(long pid) {
  if (pid <= 0) return 0;
  char path[64], line[1024];
  snprintf(path, sizeof path, "/proc/%ld/stat", pid);
  FILE* f = fopen(path, "r");
  if (f == NULL) return 0;
  const int got = fgets(line, sizeof line, f) != NULL;
  fclose(f);
  /* Fields after the command name (which ends with the last ')'): utime and stime are
   * fields 14 and 15. */
  const char* p = got ? strrchr(line, ')') : NULL;
  unsigned long long utime = 0, stime = 0;
  if (p == NULL || sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu",
                          &utime, &stime) != 2)
    return 0;
  return (double)(utime + stime) / (double)sysconf(_SC_CLK_TCK);
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
static SQLINTEGER first[kMaxRowset], second[kMaxRowset];
static SQLDOUBLE third[kMaxRowset];
static SQLCHAR fourth[kMaxRowset][kTextBytes];
static SQLLEN indicators[4][kMaxRowset];
static SQLUSMALLINT statuses[kMaxRowset];

/* One run: execute, bind, fetch every rowset. Answers 0 when every row was read with
 * the values the query makes. */
static int run(SQLHDBC dbc, long server_pid, double* open_s, double* cpu_s, double* user_s,
               double* system_s, double* wall_s, double* server_s) {
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  SQLULEN fetched = 0;
  int ok = 1;
  if (!succeeded(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt))) {
    report(SQL_HANDLE_DBC, dbc, "SQLAllocHandle");
    return 0;
  }
  (void)SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE, (SQLPOINTER)SQL_BIND_BY_COLUMN, 0);
  (void)SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)rowset, 0);
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
  const double server_start = process_cpu_seconds_of(server_pid);
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
  *server_s += process_cpu_seconds_of(server_pid) - server_start;
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

/* Creates the table and fills it in one statement (the connection commits it). */
static int fill(SQLHDBC dbc) {
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  if (!succeeded(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt))) {
    report(SQL_HANDLE_DBC, dbc, "SQLAllocHandle");
    return 0;
  }
  const double start = clock_seconds(CLOCK_MONOTONIC);
  int ok = succeeded(SQLExecDirect(stmt, (SQLCHAR*)FETCH_BENCH_CREATE, SQL_NTS)) &&
           succeeded(SQLExecDirect(stmt, (SQLCHAR*)FETCH_BENCH_FILL, SQL_NTS));
  if (!ok) report(SQL_HANDLE_STMT, stmt, "filling the table");
  (void)SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  if (ok) printf("fill_ms=%.1f\n", (clock_seconds(CLOCK_MONOTONIC) - start) * 1e3);
  return ok;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: odbc_fetch_bench <connection string> fill | [runs [server pid]]\n");
    return 2;
  }
  const int filling = argc > 2 && strcmp(argv[2], "fill") == 0;
  const int runs = argc > 2 && !filling ? atoi(argv[2]) : 3;
  const long server_pid = argc > 3 ? atol(argv[3]) : 0;
  const char* rowset_text = getenv("VQ_BENCH_ROWSET");
  if (rowset_text != NULL && *rowset_text != '\0') {
    char* end = NULL;
    const long asked = strtol(rowset_text, &end, 10);
    if (*end != '\0' || asked < 1 || asked > kMaxRowset) {
      fprintf(stderr, "odbc_fetch_bench: VQ_BENCH_ROWSET must be 1 to %d\n", kMaxRowset);
      return 2;
    }
    rowset = (SQLULEN)asked;
  }
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
  double open_s = 0, cpu_s = 0, user_s = 0, system_s = 0, wall_s = 0, server_s = 0;
  int ok = 1;
  if (filling) {
    ok = fill(dbc);
  } else {
    for (int i = 0; i < runs && ok; ++i)
      ok = run(dbc, server_pid, &open_s, &cpu_s, &user_s, &system_s, &wall_s, &server_s);
  }
  (void)SQLDisconnect(dbc);
  (void)SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  (void)SQLFreeHandle(SQL_HANDLE_ENV, env);
  if (!ok) return 1;
  if (filling) return 0;
  const double rows = (double)kRows * runs;
  printf("rows=%.0f client_cpu_ns_per_row=%.1f client_user_ns_per_row=%.1f "
         "client_system_ns_per_row=%.1f wall_ns_per_row=%.1f open_ms=%.1f",
         rows, cpu_s * 1e9 / rows, user_s * 1e9 / rows, system_s * 1e9 / rows,
         wall_s * 1e9 / rows, open_s * 1e3 / runs);
  if (server_pid > 0) printf(" server_cpu_ns_per_row=%.1f", server_s * 1e9 / rows);
  if (rowset != kDefaultRowset) printf(" rowset=%lu", (unsigned long)rowset);
  printf("\n");
  return 0;
}
