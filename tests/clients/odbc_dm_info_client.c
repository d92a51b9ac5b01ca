/* A C application linked with the unixODBC driver manager (-lodbc) that asks the driver
 * what it is and can do, and works with descriptors it allocates itself, all through the
 * manager: SQLGetInfo (texts, a truncated text, a 16-bit value in a guarded buffer),
 * SQLGetFunctions, and explicit descriptors (count, records, copy, free).
 *
 *   odbc_dm_info_client <data source> <driver library> <cycles> <connection keys>
 * Only the data source is used. Prints one line per check; exits 0 when every check held. */
#include <sql.h>
#include <sqlext.h>
#include <stdio.h>
#include <string.h>

#include "dm_client.h"

static int info_text(SQLHDBC dbc, SQLUSMALLINT item, const char* expected) {
  char out[256];
  SQLSMALLINT length = -1;
  SQLRETURN rc = SQLGetInfo(dbc, item, out, sizeof out, &length);
  return rc == SQL_SUCCESS && strcmp(out, expected) == 0 && length == (SQLSMALLINT)strlen(expected);
}

static void info(SQLHDBC dbc) {
  check(info_text(dbc, SQL_DBMS_NAME, "Vellumcrest"), "SQLGetInfo(SQL_DBMS_NAME)");
  check(info_text(dbc, SQL_DBMS_VER, "12.00.0001"), "SQLGetInfo(SQL_DBMS_VER)");
  check(info_text(dbc, SQL_USER_NAME, "dba"), "SQLGetInfo(SQL_USER_NAME) asks the server");

  /* The keyword list into a small buffer: truncated, terminated, the full length given,
   * nothing written past the buffer. */
  unsigned char small[16];
  memset(small, 0xA5, sizeof small);
  SQLSMALLINT length = -1;
  SQLRETURN rc = SQLGetInfo(dbc, SQL_KEYWORDS, small, 8, &length);
  check(rc == SQL_SUCCESS_WITH_INFO && length > 1000 && memcmp(small, "add,aes\0", 8) == 0 &&
            small[8] == 0xA5,
        "SQLGetInfo(SQL_KEYWORDS) truncated within the buffer");

  /* A 16-bit answer writes two bytes. */
  memset(small, 0xA5, sizeof small);
  rc = SQLGetInfo(dbc, SQL_MAX_COLUMN_NAME_LEN, small, sizeof small, &length);
  SQLUSMALLINT value;
  memcpy(&value, small, sizeof value);
  check(rc == SQL_SUCCESS && value == 128 && length == 2 && small[2] == 0xA5,
        "SQLGetInfo(SQL_MAX_COLUMN_NAME_LEN) is 16-bit");

  SQLUSMALLINT supported = 0;
  rc = SQLGetFunctions(dbc, SQL_API_SQLGETDESCFIELD, &supported);
  check(rc == SQL_SUCCESS && supported == SQL_TRUE, "SQLGetFunctions(SQLGetDescField)");
}

static void descriptors(SQLHDBC dbc) {
  SQLHDESC a = SQL_NULL_HDESC, b = SQL_NULL_HDESC;
  check(SQLAllocHandle(SQL_HANDLE_DESC, dbc, &a) == SQL_SUCCESS &&
            SQLAllocHandle(SQL_HANDLE_DESC, dbc, &b) == SQL_SUCCESS,
        "allocate two descriptors");
  check(SQLSetDescField(a, 0, SQL_DESC_COUNT, (SQLPOINTER)3, 0) == SQL_SUCCESS,
        "set SQL_DESC_COUNT");
  unsigned char out[8];
  memset(out, 0xA5, sizeof out);
  SQLSMALLINT count;
  SQLRETURN rc = SQLGetDescField(a, 0, SQL_DESC_COUNT, out, sizeof out, NULL);
  memcpy(&count, out, sizeof count);
  check(rc == SQL_SUCCESS && count == 3 && out[2] == 0xA5, "SQL_DESC_COUNT reads as 16-bit");

  SQLINTEGER data = 0;
  SQLLEN indicator = 0;
  check(SQLSetDescRec(a, 2, SQL_C_LONG, 0, 4, 0, 0, &data, &indicator, &indicator) ==
            SQL_SUCCESS,
        "bind record 2");
  check(SQLCopyDesc(a, b) == SQL_SUCCESS, "copy the descriptor");
  SQLPOINTER pointer = NULL;
  rc = SQLGetDescField(b, 2, SQL_DESC_DATA_PTR, &pointer, sizeof pointer, NULL);
  check(rc == SQL_SUCCESS && pointer == &data, "the copy holds the binding");
  SQLSMALLINT type = 0;
  SQLLEN octets = 0;
  rc = SQLGetDescRec(b, 2, NULL, 0, NULL, &type, NULL, &octets, NULL, NULL, NULL);
  check(rc == SQL_SUCCESS && type == SQL_C_LONG && octets == 4, "SQLGetDescRec of the copy");
  rc = SQLGetDescRec(b, 5, NULL, 0, NULL, &type, NULL, &octets, NULL, NULL, NULL);
  check(rc == SQL_NO_DATA, "a record above the count is no data");
  check(SQLFreeHandle(SQL_HANDLE_DESC, a) == SQL_SUCCESS, "free one descriptor");
  /* The other goes with the connection. */
}

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  SQLHENV env = dm_env();
  SQLHDBC dbc = dm_dbc(env);
  if (dm_connect_dsn(dbc, argv[1])) {
    info(dbc);
    descriptors(dbc);
    check(SQLDisconnect(dbc) == SQL_SUCCESS, "disconnect");
  }
  return dm_finish(env, dbc);
}
