/* A C application linked with the unixODBC driver manager (-lodbc) that reads rows the
 * way applications do: it connects through a data source and without one, makes two
 * tables, runs a query with a join and fetches it with bound columns (SQLFetch, one row
 * at a time and then in a rowset of 3 with the rows-fetched count and row statuses), and
 * reads a long text and a NULL with SQLGetData in pieces. Every output buffer is filled
 * with 0xFF first and its bytes past what the driver may write are checked afterwards.
 *
 *   odbc_dm_fetch_client <data source> <driver library> <cycles> <server link text>
 * The link text is the connection-string part that reaches the server. Prints one line
 * per check; exits 0 when every check held. */
#include <sql.h>
#include <sqlext.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "dm_client.h"

static const char* state_of(SQLSMALLINT type, SQLHANDLE h) {
  static char state[6];
  SQLCHAR text[512];
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  state[0] = '\0';
  if (!succeeded(SQLGetDiagRec(type, h, 1, (SQLCHAR*)state, &native, text, sizeof text,
                               &length))) {
    return "";
  }
  return state;
}

/* Shows the return code and state of a call that did not answer as expected. */
static void detail(SQLHSTMT stmt, const char* call, SQLRETURN rc, SQLRETURN expected) {
  if (rc != expected) printf("    %s: %d %s\n", call, (int)rc, state_of(SQL_HANDLE_STMT, stmt));
}

static int exec(SQLHSTMT stmt, const char* sql) {
  const SQLRETURN rc = SQLExecDirect(stmt, (SQLCHAR*)sql, SQL_NTS);
  if (!succeeded(rc) && rc != SQL_NO_DATA) {
    printf("    %s: %d %s\n", sql, (int)rc, state_of(SQL_HANDLE_STMT, stmt));
    return 0;
  }
  (void)SQLFreeStmt(stmt, SQL_CLOSE);
  return 1;
}

/* Bytes [from, size) of `buffer` are all 0xFF (the guard the driver must not touch). */
static int untouched(const void* buffer, size_t from, size_t size) {
  const unsigned char* p = (const unsigned char*)buffer;
  for (size_t i = from; i < size; ++i) {
    if (p[i] != 0xFF) return 0;
  }
  return 1;
}

/* The join, fetched one row at a time into bound columns. */
static void fetch_join(SQLHSTMT stmt, const char* suffix) {
  char sql[400];
  snprintf(sql, sizeof sql,
           "SELECT c.name, o.id, o.amount FROM customers%s c JOIN orders%s o "
           "ON o.customer = c.id ORDER BY o.id",
           suffix, suffix);
  SQLCHAR name[16];
  SQLINTEGER id;
  SQLDOUBLE amount;
  SQLLEN name_length, id_indicator, amount_indicator;
  check(succeeded(SQLBindCol(stmt, 1, SQL_C_CHAR, name, 8, &name_length)) &&
            succeeded(SQLBindCol(stmt, 2, SQL_C_SLONG, &id, 0, &id_indicator)) &&
            succeeded(SQLBindCol(stmt, 3, SQL_C_DOUBLE, &amount, 0, &amount_indicator)),
        "SQLBindCol binds the join's three columns");
  check(succeeded(SQLExecDirect(stmt, (SQLCHAR*)sql, SQL_NTS)), "SQLExecDirect runs the join");
  static const struct {
    const char* name;
    int id;
    double amount;
  } want[] = {{"ada", 10, 1.5}, {"grace", 11, 2.25}, {"ada", 12, 100}, {"marguer", 13, -4}};
  int rows = 0, right = 1, truncated_right = 0;
  SQLRETURN rc;
  for (;;) {
    memset(name, 0xFF, sizeof name);
    rc = SQLFetch(stmt);
    if (!succeeded(rc)) break;
    if (rows < 4) {
      right = right && strcmp((char*)name, want[rows].name) == 0 && id == want[rows].id &&
              amount == want[rows].amount && untouched(name, 8, sizeof name);
      /* "marguerite" does not fit 8 bytes: 7 and a NUL, the full length, 01004. */
      if (rows == 3) {
        truncated_right = rc == SQL_SUCCESS_WITH_INFO && name_length == 10 &&
                          strcmp(state_of(SQL_HANDLE_STMT, stmt), "01004") == 0;
      } else {
        right = right && rc == SQL_SUCCESS && name_length == (SQLLEN)strlen(want[rows].name);
      }
    }
    ++rows;
  }
  detail(stmt, "SQLFetch", rc, SQL_NO_DATA);
  check(rc == SQL_NO_DATA && rows == 4 && right, "SQLFetch reads the join's rows in order");
  check(truncated_right, "a name longer than the buffer is cut with 01004 and its full length");
  (void)SQLFreeStmt(stmt, SQL_CLOSE);
  (void)SQLFreeStmt(stmt, SQL_UNBIND);
}

/* The same join in one rowset of 3 rows, column-wise, with the count and statuses. */
static void fetch_rowset(SQLHSTMT stmt, const char* suffix) {
  char sql[400];
  snprintf(sql, sizeof sql,
           "SELECT o.id, c.name FROM orders%s o JOIN customers%s c ON o.customer = c.id "
           "ORDER BY o.id",
           suffix, suffix);
  SQLINTEGER ids[3];
  SQLCHAR names[3][12];
  SQLLEN id_indicators[3], name_lengths[3];
  SQLUSMALLINT statuses[4];
  SQLULEN fetched = 0;
  memset(statuses, 0xFF, sizeof statuses);
  (void)SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)3, 0);
  (void)SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
  (void)SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, statuses, 0);
  (void)SQLBindCol(stmt, 1, SQL_C_SLONG, ids, 0, id_indicators);
  (void)SQLBindCol(stmt, 2, SQL_C_CHAR, names, sizeof names[0], name_lengths);
  check(succeeded(SQLExecDirect(stmt, (SQLCHAR*)sql, SQL_NTS)), "SQLExecDirect runs the join again");
  SQLRETURN rc = SQLFetch(stmt);
  detail(stmt, "SQLFetch", rc, SQL_SUCCESS);
  check(succeeded(rc) && fetched == 3 && ids[0] == 10 && ids[1] == 11 && ids[2] == 12 &&
            strcmp((char*)names[1], "grace") == 0 && name_lengths[1] == 5 &&
            statuses[0] == SQL_ROW_SUCCESS && statuses[2] == SQL_ROW_SUCCESS &&
            untouched(statuses, 3 * sizeof statuses[0], sizeof statuses),
        "a rowset of 3 reads three rows with their count and statuses");
  rc = SQLFetch(stmt);
  check(succeeded(rc) && fetched == 1 && ids[0] == 13 && statuses[0] == SQL_ROW_SUCCESS &&
            statuses[1] == SQL_ROW_NOROW,
        "the last rowset holds the one row left");
  check(SQLFetch(stmt) == SQL_NO_DATA, "after the last rowset SQLFetch answers SQL_NO_DATA");
  (void)SQLFreeStmt(stmt, SQL_CLOSE);
  (void)SQLFreeStmt(stmt, SQL_UNBIND);
  (void)SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)1, 0);
  (void)SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, NULL, 0);
  (void)SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, NULL, 0);
}

/* A long text read with SQLGetData in pieces of 10 bytes, then a NULL. */
static void get_data(SQLHSTMT stmt, const char* suffix) {
  char sql[200];
  snprintf(sql, sizeof sql, "SELECT note, amount FROM orders%s WHERE id IN (10, 11) ORDER BY id",
           suffix);
  SQLRETURN rc = SQLExecDirect(stmt, (SQLCHAR*)sql, SQL_NTS);
  detail(stmt, "SQLExecDirect", rc, SQL_SUCCESS);
  if (succeeded(rc)) rc = SQLFetch(stmt);
  detail(stmt, "SQLFetch", rc, SQL_SUCCESS);
  check(succeeded(rc), "SQLFetch with no bound columns positions on the first row");
  static const char note[] = "the first order of the day, paid in full";
  char whole[64] = "";
  char piece[12];
  SQLLEN length = 0;
  int pieces = 0, lengths_right = 1;
  for (;;) {
    memset(piece, 0xFF, sizeof piece);
    rc = SQLGetData(stmt, 1, SQL_C_CHAR, piece, 10, &length);
    if (!succeeded(rc)) break;
    /* Each piece is at most 9 bytes and a NUL; the length is what was left. */
    const size_t left = strlen(note) - strlen(whole);
    lengths_right = lengths_right && length == (SQLLEN)left && untouched(piece, 10, sizeof piece);
    if (rc == SQL_SUCCESS_WITH_INFO) {
      lengths_right = lengths_right && strcmp(state_of(SQL_HANDLE_STMT, stmt), "01004") == 0;
    }
    strncat(whole, piece, sizeof whole - strlen(whole) - 1);
    ++pieces;
  }
  detail(stmt, "SQLGetData", rc, SQL_NO_DATA);
  check(rc == SQL_NO_DATA && strcmp(whole, note) == 0 && pieces == 5 && lengths_right,
        "SQLGetData returns a long text in pieces, then SQL_NO_DATA");
  SQLDOUBLE amount = 0;
  check(succeeded(SQLGetData(stmt, 2, SQL_C_DOUBLE, &amount, 0, &length)) && amount == 1.5,
        "SQLGetData reads a number of the same row");
  check(succeeded(SQLFetch(stmt)), "SQLFetch moves to the second row");
  memset(piece, 0xFF, sizeof piece);
  length = 0;
  check(SQLGetData(stmt, 1, SQL_C_CHAR, piece, sizeof piece, &length) == SQL_SUCCESS &&
            length == SQL_NULL_DATA && untouched(piece, 0, sizeof piece),
        "SQLGetData of a NULL gives SQL_NULL_DATA and leaves the buffer alone");
  (void)SQLFreeStmt(stmt, SQL_CLOSE);
}

static void session(SQLHDBC dbc, const char* suffix) {
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  if (!succeeded(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt))) {
    check(0, "SQLAllocHandle makes a statement");
    return;
  }
  char sql[400];
  int made = 1;
  snprintf(sql, sizeof sql, "CREATE TABLE customers%s (id INT PRIMARY KEY, name VARCHAR(20))",
           suffix);
  made = made && exec(stmt, sql);
  snprintf(sql, sizeof sql,
           "CREATE TABLE orders%s (id INT PRIMARY KEY, customer INT, amount DOUBLE, "
           "note LONG VARCHAR)",
           suffix);
  made = made && exec(stmt, sql);
  snprintf(sql, sizeof sql,
           "INSERT INTO customers%s VALUES (1, 'ada'), (2, 'grace'), (3, 'marguerite'), "
           "(4, 'nobody')",
           suffix);
  made = made && exec(stmt, sql);
  snprintf(sql, sizeof sql,
           "INSERT INTO orders%s VALUES (10, 1, 1.5, 'the first order of the day, paid in "
           "full'), (11, 2, 2.25, NULL), (12, 1, 100, 'x'), (13, 3, -4, '')",
           suffix);
  made = made && exec(stmt, sql);
  check(made, "the tables are made and filled");
  if (made) {
    fetch_join(stmt, suffix);
    fetch_rowset(stmt, suffix);
    get_data(stmt, suffix);
  }
  (void)SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}

int main(int argc, char** argv) {
  if (argc < 5) {
    fprintf(stderr, "usage: odbc_dm_fetch_client <dsn> <driver> <cycles> <links>\n");
    return 2;
  }
  const char* dsn = argv[1];
  const char* driver = argv[2];
  const char* links = argv[4];
  SQLHENV env = dm_env();
  if (failures != 0) return 1;
  /* Through the data source. */
  SQLHDBC dbc = dm_dbc(env);
  SQLRETURN rc = SQLConnect(dbc, (SQLCHAR*)dsn, SQL_NTS, (SQLCHAR*)"dba", SQL_NTS,
                            (SQLCHAR*)"sql", SQL_NTS);
  check(succeeded(rc), "SQLConnect through the data source");
  if (succeeded(rc)) {
    session(dbc, "_dsn");
    (void)SQLDisconnect(dbc);
  }
  check(SQLFreeHandle(SQL_HANDLE_DBC, dbc) == SQL_SUCCESS, "free connection");
  /* Without one: the driver named by its path. */
  char in[1024];
  snprintf(in, sizeof in, "DRIVER=%s;UID=dba;PWD=sql;%s", driver, links);
  dbc = dm_dbc(env);
  rc = SQLDriverConnect(dbc, NULL, (SQLCHAR*)in, SQL_NTS, NULL, 0, NULL, SQL_DRIVER_NOPROMPT);
  check(succeeded(rc), "SQLDriverConnect without a data source");
  if (succeeded(rc)) {
    session(dbc, "_direct");
    (void)SQLDisconnect(dbc);
  }
  return dm_finish(env, dbc);
}
