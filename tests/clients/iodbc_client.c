/* A C application on the iODBC driver manager (libiodbc.so.2, loaded at run time with its
 * own declarations: iODBC's SQLWCHAR is the 4-byte wchar_t, unlike unixODBC's headers).
 * The driver is registered as a UTF-16 driver (DriverUnicodeType=1), so iODBC converts
 * between its wide characters and the driver's. Narrow calls over the data source, wide
 * calls without one: connect, statements, a query fetched, a column name, a diagnostic.
 *
 *   iodbc_client <libiodbc.so.2> <data source> <connection string without a data source>
 * Prints one line per check; exits 0 when every check held. */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

typedef void* HANDLE;
typedef short RET;
#define SQL_HANDLE_ENV 1
#define SQL_HANDLE_DBC 2
#define SQL_HANDLE_STMT 3
#define SQL_ATTR_ODBC_VERSION 200
#define SQL_OV_ODBC3 3UL
#define SQL_NTS (-3)
#define SQL_DRIVER_NOPROMPT 0
#define SQL_C_CHAR 1
#define SQL_C_LONG 4
#define SQL_C_WCHAR (-8)
#define SQL_NO_DATA 100

static RET (*AllocHandle)(short, HANDLE, HANDLE*);
static RET (*SetEnvAttr)(HANDLE, int, void*, int);
static RET (*Connect)(HANDLE, const char*, short, const char*, short, const char*, short);
static RET (*DriverConnectW)(HANDLE, void*, const wchar_t*, short, wchar_t*, short, short*,
                             unsigned short);
static RET (*ExecDirect)(HANDLE, const char*, int);
static RET (*ExecDirectW)(HANDLE, const wchar_t*, int);
static RET (*Fetch)(HANDLE);
static RET (*GetData)(HANDLE, unsigned short, short, void*, long, long*);
static RET (*DescribeColW)(HANDLE, unsigned short, wchar_t*, short, short*, short*,
                           unsigned long*, short*, short*);
static RET (*GetDiagRecW)(short, HANDLE, short, wchar_t*, int*, wchar_t*, short, short*);
static RET (*CloseCursor)(HANDLE);
static RET (*Disconnect)(HANDLE);
static RET (*FreeHandle)(short, HANDLE);

static int failures = 0;

static void check(int ok, const char* what) {
  printf("%s %s\n", ok ? "ok" : "FAILED", what);
  if (!ok) ++failures;
}

static int ok(RET rc) { return rc == 0 || rc == 1; }

static int load(const char* path) {
  void* dm = dlopen(path, RTLD_NOW);
  if (dm == NULL) {
    printf("FAILED loading %s: %s\n", path, dlerror());
    return 0;
  }
#define SYM(var, name)                                   \
  if ((*(void**)&var = dlsym(dm, name)) == NULL) {       \
    printf("FAILED %s not in %s\n", name, path);         \
    return 0;                                            \
  }
  SYM(AllocHandle, "SQLAllocHandle");
  SYM(SetEnvAttr, "SQLSetEnvAttr");
  SYM(Connect, "SQLConnect");
  SYM(DriverConnectW, "SQLDriverConnectW");
  SYM(ExecDirect, "SQLExecDirect");
  SYM(ExecDirectW, "SQLExecDirectW");
  SYM(Fetch, "SQLFetch");
  SYM(GetData, "SQLGetData");
  SYM(DescribeColW, "SQLDescribeColW");
  SYM(GetDiagRecW, "SQLGetDiagRecW");
  SYM(CloseCursor, "SQLCloseCursor");
  SYM(Disconnect, "SQLDisconnect");
  SYM(FreeHandle, "SQLFreeHandle");
#undef SYM
  return 1;
}

/* The narrow calls over the data source: rows written and read back as text and numbers. */
static void narrow(HANDLE env, const char* dsn) {
  HANDLE dbc = NULL, stmt = NULL;
  AllocHandle(SQL_HANDLE_DBC, env, &dbc);
  RET rc = Connect(dbc, dsn, SQL_NTS, "dba", SQL_NTS, "sql", SQL_NTS);
  check(ok(rc), "SQLConnect through the data source");
  if (!ok(rc)) return;
  AllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
  check(ok(ExecDirect(stmt, "CREATE TABLE iodbc_t (id INTEGER, name VARCHAR(40))", SQL_NTS)),
        "SQLExecDirect creates a table");
  check(ok(ExecDirect(stmt, "INSERT INTO iodbc_t VALUES (1, 'lamp'), (2, 'desk')", SQL_NTS)),
        "SQLExecDirect inserts rows");
  check(ok(ExecDirect(stmt, "SELECT id, name FROM iodbc_t ORDER BY id", SQL_NTS)),
        "SQLExecDirect runs a query");
  int rows = 0, good = 1;
  while (Fetch(stmt) == 0) {
    int id = 0;
    char name[41];
    long len = -99, id_len = -99;
    memset(name, '#', sizeof name);
    good &= ok(GetData(stmt, 1, SQL_C_LONG, &id, 0, &id_len));
    good &= ok(GetData(stmt, 2, SQL_C_CHAR, name, sizeof name, &len));
    ++rows;
    good &= id == rows && id_len == 4 &&
            strcmp(name, rows == 1 ? "lamp" : "desk") == 0 && len == 4;
  }
  check(rows == 2 && good, "SQLFetch and SQLGetData read both rows");
  CloseCursor(stmt);
  FreeHandle(SQL_HANDLE_STMT, stmt);
  check(ok(Disconnect(dbc)), "SQLDisconnect");
  FreeHandle(SQL_HANDLE_DBC, dbc);
}

/* The wide calls without a data source: iODBC's 4-byte characters reach the driver as
 * UTF-16 and come back, characters outside the Basic Multilingual Plane included. */
static void wide(HANDLE env, const char* keys) {
  HANDLE dbc = NULL, stmt = NULL;
  wchar_t in[1024], out[1024];
  short out_len = -1;
  swprintf(in, 1024, L"%s;UID=dba;PWD=sql", keys);
  AllocHandle(SQL_HANDLE_DBC, env, &dbc);
  RET rc = DriverConnectW(dbc, NULL, in, SQL_NTS, out, 1024, &out_len, SQL_DRIVER_NOPROMPT);
  check(ok(rc), "SQLDriverConnectW without a data source");
  if (!ok(rc)) return;
  check(out_len > 0 && (size_t)out_len == wcslen(out) && wcsstr(out, L"UID=dba") != NULL,
        "SQLDriverConnectW returns the completed string in wide characters");
  AllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
  const wchar_t* text = L"Grüße 日本 😀";
  check(ok(ExecDirectW(stmt, L"CREATE TABLE \"iodbc_wide_😀\" (\"имя\" VARCHAR(20))", SQL_NTS)),
        "SQLExecDirectW creates a table with a non-ASCII name");
  check(ok(ExecDirectW(stmt, L"INSERT INTO \"iodbc_wide_😀\" VALUES ('Grüße 日本 😀')", SQL_NTS)),
        "SQLExecDirectW inserts non-ASCII text");
  check(ok(ExecDirectW(stmt, L"SELECT \"имя\" FROM \"iodbc_wide_😀\"", SQL_NTS)),
        "SQLExecDirectW runs a query");
  wchar_t col[32];
  short col_len = -1, type = 0, digits = 0, nullable = 0;
  unsigned long size = 0;
  wmemset(col, L'#', 32);
  check(ok(DescribeColW(stmt, 1, col, 32, &col_len, &type, &size, &digits, &nullable)) &&
            wcscmp(col, L"имя") == 0 && col_len == 3,
        "SQLDescribeColW names the column in wide characters");
  check(Fetch(stmt) == 0, "SQLFetch reads the row");
  long len = -99;
  wmemset(out, L'#', 1024);
  rc = GetData(stmt, 1, SQL_C_WCHAR, out, sizeof out, &len);
  check(ok(rc) && wcscmp(out, text) == 0 && len == (long)(wcslen(text) * sizeof(wchar_t)),
        "SQLGetData as SQL_C_WCHAR returns the text in iODBC's wide characters");
  check(Fetch(stmt) == SQL_NO_DATA, "SQLFetch ends after the row");
  CloseCursor(stmt);

  rc = ExecDirectW(stmt, L"SELECT * FROM \"нет_такой_😀\"", SQL_NTS);
  wchar_t state[6], message[512];
  int native = 0;
  short msg_len = 0;
  wmemset(state, L'#', 6);
  check(rc == -1 && ok(GetDiagRecW(SQL_HANDLE_STMT, stmt, 1, state, &native, message, 512,
                                   &msg_len)) &&
            wcslen(state) == 5 && wcsstr(message, L"нет_такой_😀") != NULL,
        "SQLGetDiagRecW quotes the missing table's name with a five-character state");
  FreeHandle(SQL_HANDLE_STMT, stmt);
  check(ok(Disconnect(dbc)), "SQLDisconnect after the wide calls");
  FreeHandle(SQL_HANDLE_DBC, dbc);
}

int main(int argc, char** argv) {
  if (argc < 4 || !load(argv[1])) return 2;
  HANDLE env = NULL;
  AllocHandle(SQL_HANDLE_ENV, NULL, &env);
  SetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (void*)SQL_OV_ODBC3, 0);
  narrow(env, argv[2]);
  wide(env, argv[3]);
  FreeHandle(SQL_HANDLE_ENV, env);
  printf("%d failed checks\n", failures);
  return failures == 0 ? 0 : 1;
}
