// Diagnostic records of ODBC handles: how a call posts them, how their message text is
// made, and the three ways an application reads them.
//
// Every posting function adds one record and answers the handle's return code after the
// addition: a warning state (below kFirstErrorState) raises SQL_SUCCESS to
// SQL_SUCCESS_WITH_INFO, any other state makes it SQL_ERROR. Records are kept ordered
// for reading: by row (records naming no row first), and within a row warnings first,
// then records of class 02, then the SQLSTATE classes of the standard, then the rest;
// among records of one state lower column numbers stay first.
//
// Records of connections, statements and descriptors are added and read under the
// connection's mutex (the call framing holds it); records of an environment under
// EnvCritSect, which the posting functions take themselves for an environment. Nothing
// here throws. When memory runs out the newest record is never lost: the list collapses
// to that one record (posting HY001 always does the same).
#ifndef VQ_ODBC_DIAGNOSTICS_H
#define VQ_ODBC_DIAGNOSTICS_H

#include <sql.h>
#include <sqlext.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "odbc/diag_states.h"
#include "odbc/handles.h"

// 1 once the JDBC bridge has loaded the library: messages name the JDBC driver.
extern std::atomic<int> IS_JDBC;
// 1 leaves every prefix out of messages; 0 in this library's use.
extern std::atomic<int> OLEDB;

// ---- Posting (diagnostics.cpp) -----------------------------------------------------------

// Adds one record to h: the state pair, row and column (kDiagNoPosition for none) and a
// text. With a connection, native error and text come from its error block (the server
// error it holds); without one, the record keeps a copy of `text` (length in bytes, or
// SQL_NTS; never read past `length` bytes nor past a terminator; null or 0: no text).
// A row of kDiagNoPosition on a statement positioned on fetched rows becomes its current
// row in the rowset (1-based). State 0 adds nothing. Answers h's return code, 0 for a
// null h with state 0 and SQL_ERROR for a null h with a state.
SQLRETURN AddDiagRecord(tagOBJECT* h, a_packed_sqlstate odbc3, a_packed_sqlstate odbc2,
                        tagDBC* connection, const char* text, SQLINTEGER text_length,
                        std::int32_t row, std::int32_t column);

// The state pair alone: no text, no native error, no row or column.
SQLRETURN AddSQLState(tagOBJECT* h, a_packed_sqlstate odbc3, a_packed_sqlstate odbc2);
SQLRETURN PostSQLState(tagOBJECT* h, a_packed_sqlstate odbc3, a_packed_sqlstate odbc2);
// The pair with the driver's own text (length in bytes or SQL_NTS).
SQLRETURN AddSQLCustomState(tagOBJECT* h, a_packed_sqlstate odbc3, a_packed_sqlstate odbc2,
                            const char* text, SQLINTEGER length);
// The pair for a truncated value: the column, and the 0-based row given as row + 1.
SQLRETURN AddTruncationState(tagOBJECT* h, a_packed_sqlstate odbc3, a_packed_sqlstate odbc2,
                             std::int32_t column, std::int32_t row);
// The server error held in the owning connection's error block (states, SQL code as the
// native error, the server's message). An environment, or a handle without a connection:
// nothing added, SQL_ERROR.
SQLRETURN AddSQLError(tagOBJECT* h);
SQLRETURN PostSQLError(tagOBJECT* h);
// A server-style error of the driver's own making: the SQL code (and the parameter, when
// given, as its message argument) goes into the owning connection's error block, whose
// states come from the server error table (codes of -17000 and below use row -631; a
// negative code without a row HY000/S1000), and the record is added from the block. An
// error already in the block is never overwritten: then nothing is added and the result
// is 0. An environment: SQL_ERROR.
SQLRETURN AddNativeErrorWithParam(tagOBJECT* h, std::int32_t sqlcode, const char* parameter);

// Frees every record of h with its text and resets the inline record, the record count,
// the SQLError position and the dynamic function code; the return code is left alone.
// The caller holds what guards h's diagnostics.
void FreeDiagRecords(tagOBJECT* h);

// ---- Message texts (diag_message.cpp) ----------------------------------------------------

// The text of the server error in the connection's error block, into buffer (size bytes,
// at least 2): the block's own message when it has one (cut to size - 2 characters),
// else the server error table's message for its SQL code (or, with code 0, for its server
// SQLSTATE) formatted with the block's parameters in order (eight at most); message 8250
// naming the code when that message cannot be read. The buffer is left as it is when the
// table has no row.
void ODBCErrorMessage(tagDBC* connection, char* buffer, std::size_t size);

// The driver's text for one of its own states, from the connection's message strings
// (or the client environment's when there is no connection or it has none yet); an empty
// text for a state the driver does not describe. Buffer of size bytes, size >= 1.
void StateString(tagDBC* connection, a_packed_sqlstate state, char* buffer, std::size_t size);

// The message of one record copied out as CopyDiagText does (0, or 1 when truncated).
// `connection` is the handle's owning connection, null for an environment.
int FormatDiagMessage(tagDBC* connection, const tagDIAGREC* record, SQLCHAR* buffer,
                      SQLSMALLINT buffer_length, SQLSMALLINT* length_out);

// ---- Reading (diag_read.cpp) -------------------------------------------------------------
// The framing (Init_object / Fini_object) has checked the handle and holds its lock.
// Record numbers count from 1. The state shown is the ODBC 2 state when the application
// declared ODBC 2 on its environment, else the ODBC 3 state.

SQLRETURN DoSQLGetDiagRec(SQLSMALLINT handle_type, SQLHANDLE h, SQLSMALLINT record,
                          SQLCHAR* state, SQLINTEGER* native, SQLCHAR* message,
                          SQLSMALLINT buffer_length, SQLSMALLINT* length_out);
// Each call returns the next record not yet returned by SQLError; SQL_NO_DATA after the
// last. Clearing the diagnostics starts the walk again.
SQLRETURN DoSQLError(SQLSMALLINT handle_type, SQLHANDLE h, SQLCHAR* state, SQLINTEGER* native,
                     SQLCHAR* message, SQLSMALLINT buffer_length, SQLSMALLINT* length_out);
// Every numeric field is written at the width the ODBC API declares for it (SQLRETURN,
// SQLINTEGER or SQLLEN); text fields are copied as CopyDiagText does.
SQLRETURN DoSQLGetDiagField(SQLSMALLINT handle_type, SQLHANDLE h, SQLSMALLINT record,
                            SQLSMALLINT identifier, SQLPOINTER value, SQLSMALLINT buffer_length,
                            SQLSMALLINT* length_out);

#endif  // VQ_ODBC_DIAGNOSTICS_H
