// A statement handle from allocation through prepare, execute and execute direct to its
// result, and back through cursor close, more results, free and reset; the cursor name;
// and the column side of a statement (row count, result columns, column description and
// attributes, column binding, in result_columns.cpp).
//
// Every function runs under the connection's mutex (the call framing holds it), records
// its diagnostics on the statement and returns the statement's return code: 0, 1
// (success with information), 99 (SQL_NEED_DATA), 100 (SQL_NO_DATA) or -1.
//
// States (tagOBJECT::state): 6 allocated, 7 prepared, 8 executed (a result exists, or
// data at execution is pending). Cursor states (tagSTMT::cursor_state): 0 executed
// without rows affected, 1 no result set, 2 result set expected, 3 cursor declared, 4
// cursor open.
#ifndef VQ_ODBC_STATEMENT_H
#define VQ_ODBC_STATEMENT_H

#include <sql.h>
#include <sqlext.h>

#include "odbc/diag_states.h"
#include "odbc/handles.h"

// Cursor states (tagSTMT::cursor_state); kCursorOpen (4) is in handles.h.
constexpr std::int32_t kCursorNoRows = 0;
constexpr std::int32_t kCursorNoResult = 1;
constexpr std::int32_t kCursorExpected = 2;
constexpr std::int32_t kCursorDeclared = 3;

// States the statement calls post.
constexpr a_packed_sqlstate kStateHY015 = PackSQLState("HY015");  // no cursor name
constexpr a_packed_sqlstate kStateS1015 = PackSQLState("S1015");
constexpr a_packed_sqlstate kState34000 = PackSQLState("34000");  // invalid cursor name
constexpr a_packed_sqlstate kState3C000 = PackSQLState("3C000");  // duplicate cursor name
constexpr a_packed_sqlstate kState07005 = PackSQLState("07005");  // not a cursor specification
constexpr a_packed_sqlstate kStateS1002 = PackSQLState("S1002");  // invalid column number

// The longest cursor name, in bytes.
constexpr SQLSMALLINT kMaxCursorName = 32;

// The ODBC version the statement's application declared (2 or 3).
int StmtOdbcVersion(tagSTMT* stmt);

// ---- Allocation and release --------------------------------------------------------------

// SQLAllocHandle / SQLAllocStmt: a new statement of a connected connection, with its four
// implicit descriptors and its attributes from the connection's defaults. *out is the
// handle, or null on failure (08003 on an unconnected connection, HY001).
SQLRETURN DoSQLAllocStmt(tagDBC* dbc, SQLHANDLE* out);
// SQLFreeStmt (SQL_CLOSE, SQL_DROP, SQL_UNBIND, SQL_RESET_PARAMS; else HY092). After
// SQL_DROP the statement is gone and SQL_SUCCESS is returned.
SQLRETURN DoSQLFreeStmt(tagSTMT* stmt, SQLUSMALLINT option);

// ---- Prepare and execute -----------------------------------------------------------------

SQLRETURN DoSQLPrepare(tagSTMT* stmt, const SQLCHAR* text, SQLINTEGER length);
SQLRETURN DoSQLExecute(tagSTMT* stmt);
SQLRETURN DoSQLExecDirect(tagSTMT* stmt, const SQLCHAR* text, SQLINTEGER length);
// Execute direct without the null-text check (also the catalog functions' road).
SQLRETURN ExecDirect(tagSTMT* stmt, const char* text, SQLINTEGER length);
// One execution of the prepared statement with the current parameter set. Mode 1 or
// below lets the server commit inside the request.
SQLRETURN ExecuteOnce(tagSTMT* stmt, int mode);
// The parameter-set loop of an execution, resumed once the data-at-execution dialogue
// completed the current set's values: the set is executed (or added to the block), then
// the following sets as usual. May return SQL_NEED_DATA again.
SQLRETURN ResumeParameterSets(tagSTMT* stmt);
// The driver's autocommit after an execution (after_execute) or at cursor close.
void do_autocommit(tagSTMT* stmt, bool after_execute);
// Describes the open cursor when it still needs it.
void DescribeCursor(tagSTMT* stmt);
// Closes an open cursor and returns the statement to state 7 (prepared by the
// application) or 6.
void CloseStatement(tagSTMT* stmt);

SQLRETURN DoSQLCloseCursor(tagSTMT* stmt);
SQLRETURN DoSQLMoreResults(tagSTMT* stmt);

// ---- Cursor name ---------------------------------------------------------------------------

SQLRETURN DoSQLGetCursorName(tagSTMT* stmt, SQLCHAR* buffer, SQLSMALLINT buffer_length,
                             SQLSMALLINT* length_out);
SQLRETURN DoSQLSetCursorName(tagSTMT* stmt, const SQLCHAR* name, SQLSMALLINT length);

// ---- Result columns (result_columns.cpp) -----------------------------------------------------

SQLRETURN DoSQLRowCount(tagSTMT* stmt, SQLLEN* count);
SQLRETURN DoSQLNumResultCols(tagSTMT* stmt, SQLSMALLINT* count);
SQLRETURN DoSQLDescribeCol(tagSTMT* stmt, SQLUSMALLINT column, SQLCHAR* name,
                           SQLSMALLINT buffer_length, SQLSMALLINT* name_length,
                           SQLSMALLINT* sql_type, SQLULEN* size, SQLSMALLINT* digits,
                           SQLSMALLINT* nullable);
// `numeric` receives numbers as SQLLEN (the SQLColAttribute form).
SQLRETURN DoSQLColAttribute(tagSTMT* stmt, SQLUSMALLINT column, SQLUSMALLINT field,
                            SQLPOINTER text, SQLSMALLINT buffer_length,
                            SQLSMALLINT* text_length, SQLLEN* numeric);
SQLRETURN DoSQLBindCol(tagSTMT* stmt, SQLUSMALLINT column, SQLSMALLINT c_type,
                       SQLPOINTER target, SQLLEN buffer_length, SQLLEN* indicator);

#endif  // VQ_ODBC_STATEMENT_H
