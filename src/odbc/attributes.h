// Connection and statement attributes (ODBC 3 attribute calls and their ODBC 2 option
// forms), the ODBC 2 scroll options, SQLNativeSql, and the two callbacks that carry server
// messages and file-transfer checks from the client up to the application.
//
// Attributes are option entries of the handles (handles.h); a statement reads an option it
// has not set from its connection, so the connection's entries are the statement
// defaults. Statement attributes that ODBC places in descriptors live in the statement's
// descriptors. Every DoSQL function runs under the connection's mutex (the call framing
// holds it), records one state pair per refusal and returns the handle's return code.
//
// Widths: length-like statement attributes, pointers and handles are read and written as
// SQLULEN / pointers (8 bytes); the connection's own integer attributes as 32-bit words.
#ifndef VQ_ODBC_ATTRIBUTES_H
#define VQ_ODBC_ATTRIBUTES_H

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "odbc/diag_states.h"
#include "odbc/escape_translate.h"
#include "odbc/handles.h"

// States the attribute calls post (with their ODBC 2 partners).
constexpr a_packed_sqlstate kState24000 = PackSQLState("24000");  // cursor state
constexpr a_packed_sqlstate kStateHY011 = PackSQLState("HY011");  // cannot be set now
constexpr a_packed_sqlstate kStateS1011 = PackSQLState("S1011");
constexpr a_packed_sqlstate kStateHY017 = PackSQLState("HY017");  // bad descriptor handle
constexpr a_packed_sqlstate kStateHY024 = PackSQLState("HY024");  // invalid value (S1009)
constexpr a_packed_sqlstate kStateHY107 = PackSQLState("HY107");  // row value out of range
constexpr a_packed_sqlstate kStateS1107 = PackSQLState("S1107");
constexpr a_packed_sqlstate kStateHY108 = PackSQLState("HY108");  // concurrency out of range
constexpr a_packed_sqlstate kStateS1108 = PackSQLState("S1108");
constexpr a_packed_sqlstate kStateIM009 = PackSQLState("IM009");  // translation library

// Driver-specific connection attributes.
constexpr SQLINTEGER kAttrAlwaysZero = 1901;         // get: always 0
constexpr SQLINTEGER kAttrCurrentStmt = 1902;        // get: the current statement handle
constexpr SQLINTEGER kAttrMessageCallback = 1904;    // set: narrow message callback
constexpr SQLINTEGER kAttrConnectionHandle = 1906;   // get: the connection handle
constexpr SQLINTEGER kAttrIsolationGiven = 1907;     // set: 0/1; result 1 when isolation
                                                     // came from the connection string
constexpr SQLINTEGER kAttrIsolation = 1908;          // SQL_ATTR_TXN_ISOLATION by another id
constexpr SQLINTEGER kAttrAPIName = 1909;            // set: the client API name text
constexpr SQLINTEGER kAttrFileTranCallback = 1910;   // set: file-transfer callback
constexpr SQLINTEGER kAttrClientFlags = 1911;        // set: the client environment's flag
constexpr SQLINTEGER kAttrWideMessageCallback = 1912;  // set: UTF-16 message callback
// Held by a connection only when the driver supports automatic IPD population; no
// attribute call can set it.
constexpr SQLINTEGER kOptAutoIPD = 10001;
// The statement default of SQL_MAX_LENGTH, and what 0 stands for.
constexpr SQLULEN kDefaultMaxLength = 262144;
constexpr SQLULEN kMaxRowArraySize = 65535;

// The UTF-16 form of the message callback (attribute 1912): the text is UTF-16LE and the
// length counts bytes.
typedef void (*a_odbc_wide_message_callback)(SQLHDBC dbc, std::uint8_t type, std::int32_t code,
                                             std::uint16_t length, const SQLWCHAR* text);

// ---- Connections (attributes_connection.cpp) ---------------------------------------------

// SQLSetConnectAttr. `length` is the text length of text attributes (SQL_NTS allowed).
SQLRETURN DoSQLSetConnectAttr(tagDBC* dbc, SQLINTEGER attribute, SQLPOINTER value,
                              SQLINTEGER length);
// SQLGetConnectAttr. Text attributes are returned by ReturnString rules (01004, full
// length); an attribute never set gives SQL_NO_DATA. `length` may be null.
SQLRETURN DoSQLGetConnectAttr(tagDBC* dbc, SQLINTEGER attribute, SQLPOINTER out,
                              SQLINTEGER size, SQLINTEGER* length);
// What escape translation reads of a connection (server version, client code page,
// SQL_NOSCAN of the connection).
EscapeContext ConnectionEscapeContext(tagDBC* dbc);
// SQLNativeSql: the text with its escape clauses translated, returned by ReturnString
// rules; `out_length` (when given) receives the full length.
SQLRETURN DoSQLNativeSql(tagDBC* dbc, const SQLCHAR* in, SQLINTEGER in_length, SQLCHAR* out,
                         SQLINTEGER out_size, SQLINTEGER* out_length);

// The server's isolation level number for an isolation value: by its lowest set bit among
// 1 (0), 2 (1), 4 (2), 8 (3), 32 (4), 64 (5); else 6.
int Map_isolation(SQLULEN bits);
// The server's "isolation_level" option text for an isolation value ("0" ... "3",
// "snapshot", "statement-snapshot", else "readonly-statement-snapshot"), a static text.
const char* Isolation_level_string(SQLULEN bits);

// ---- Callbacks (attributes_callbacks.cpp) --------------------------------------------------

// Registered with the client environment; `cb_value` is the connection (tagDBC*).
// Server messages go to the connection's message callback, in UTF-16 for one set through
// attribute 1912; a connection without one ignores them.
void ODBCMessageHandler(std::uintptr_t cb_value, std::uint8_t type, std::int32_t code,
                        std::uint16_t length, const char* text);
// 0 (no decision) for a connection without a file-transfer callback; otherwise
// *allowed := (callback(connection, file name, write) != 0) and the result is 1.
int ODBCValFileTranHandler(std::uintptr_t cb_value, const char* file_name, int write,
                           int* allowed);
// Attribute 1904 / 1912: stores the callback (null removes it) and keeps the client
// environment's message handler registered while any connection has one.
void SetMessageCallback(tagDBC* dbc, void* callback, bool wide);
// Attribute 1910: stores the callback; the first non-null one registers the file-transfer
// handler with the client environment.
void SetFileTranCallback(tagDBC* dbc, void* callback);

// ---- Statements (attributes_statement.cpp) -----------------------------------------------

// The statement fields beside the options, from its connection's defaults; called once
// a new statement has its descriptors.
void InitStmtAttributes(tagSTMT* stmt);
// SQLSetStmtAttr: the cursor attributes' state checks (24000 while a cursor is open,
// HY011 once prepared), then ChangeStmtOption.
SQLRETURN DoSQLSetStmtAttr(tagSTMT* stmt, SQLINTEGER attribute, SQLPOINTER value);
// The attribute rules without the state checks.
SQLRETURN ChangeStmtOption(tagSTMT* stmt, SQLINTEGER attribute, SQLULEN value);
// SQLGetStmtAttr. An attribute never set leaves the output untouched (SQL_SUCCESS).
SQLRETURN DoSQLGetStmtAttr(tagSTMT* stmt, SQLINTEGER attribute, SQLPOINTER out,
                           SQLINTEGER size, SQLINTEGER* length);
// SQLSetScrollOptions: rowset size, concurrency, then cursor type (negative keyset) or
// keyset size; a failed step puts back what the earlier steps changed.
SQLRETURN DoSQLSetScrollOptions(tagSTMT* stmt, SQLUSMALLINT concurrency, SQLLEN keyset,
                                SQLUSMALLINT rowset);

// ---- Shared by both (attributes_connection.cpp) ---------------------------------------------

// True for attributes read and written as SQLULEN or pointers.
bool IsLengthAttribute(SQLINTEGER attribute);
// Stores a value option with the kind its width asks for. 0, or -1 (HY001 recorded).
int StoreAttribute(tagOBJECT* h, SQLINTEGER attribute, SQLULEN value);
// Writes a value at the attribute's width (SQLULEN or 32-bit).
void WriteAttribute(SQLINTEGER attribute, SQLPOINTER out, SQLULEN value);

#endif  // VQ_ODBC_ATTRIBUTES_H
