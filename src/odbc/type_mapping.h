// Relations between ODBC C types, ODBC SQL types and the server's type names.
//
// Besides the standard codes the driver uses three SQL type codes of its own for the
// server's unsigned integers, numbered like the C types of the same width. All codes are
// 16-bit signed. The functions are pure; the few that depend on descriptor records or on
// the environment take the fields they read as plain parameters.
//
// These functions keep C++ linkage: the library exports the C names that start with
// "SQL" (the ODBC entry points), and SQLDisplaySize and its neighbours must not join them.
#ifndef VQ_ODBC_TYPE_MAPPING_H
#define VQ_ODBC_TYPE_MAPPING_H

#include <sql.h>
#include <sqlext.h>

// SQL types of the server's unsigned integers (same numbers as SQL_C_UBIGINT,
// SQL_C_ULONG and SQL_C_USHORT).
constexpr SQLSMALLINT kSqlUnsignedBigint = -27;
constexpr SQLSMALLINT kSqlUnsignedInt = -18;
constexpr SQLSMALLINT kSqlUnsignedSmallint = -17;

// True for the C types the driver converts to and from, SQL_C_DEFAULT and the thirteen
// interval types.
bool Valid_fCType(SQLSMALLINT c_type);
// True for the valid C types except the intervals; SQL_C_WCHAR only with an even buffer
// length. The target address is not examined, so whatever writes a fixed-size value into
// an application buffer does it with memcpy, never through a typed pointer.
bool PointerAligned(SQLPOINTER target, SQLSMALLINT c_type, SQLLEN buffer_length);

// The SQL type a C type stands for; unknown codes come back unchanged.
SQLSMALLINT SQLCTypeToSQLType(SQLSMALLINT c_type);

// The C type the engine layer uses for a column of the SQL type (unknown: SQL_C_CHAR).
SQLSMALLINT SQLTypeToSQLCType(SQLSMALLINT sql_type);
// SQL_C_DEFAULT resolved for a column of the SQL type, written to *c_type (which may be
// unaligned); unknown codes are written unchanged. Returns true.
bool ConvertSQLToDefaultC(SQLSMALLINT sql_type, SQLSMALLINT* c_type);
// The same for connections whose MSApplications behaviour is on: wide character SQL types
// map to SQL_C_CHAR.
SQLSMALLINT SQLTypeToSQLCType_ms(SQLSMALLINT sql_type);
bool ConvertSQLToDefaultC_ms(SQLSMALLINT sql_type, SQLSMALLINT* c_type);

// The SQL type reported to applications: the unsigned codes become the signed standard
// types of the same width.
SQLSMALLINT GetSQLType(SQLSMALLINT sql_type);

// The server's name of the type ("char" for unknown codes). Static text.
const char* NativeTypeToString(SQLSMALLINT sql_type);

// Display size of a descriptor record from its SQL type, 16-bit precision and 32-bit
// length: integers precision + 1 (the sign), NUMERIC and DECIMAL precision + 2 (sign and
// point), FLOAT and DOUBLE precision + 7, REAL precision + 6, the ODBC 2 date, time and
// timestamp codes the low 16 bits of the length, all others the length.
SQLLEN SQLDisplaySize(SQLSMALLINT sql_type, SQLSMALLINT precision, SQLINTEGER length);

// The ODBC version (2 or 3) an environment's SQL_ATTR_ODBC_VERSION option stands for:
// 2 for SQL_OV_ODBC2, 3 for every later version (3.80 too). It picks the ODBC 2 or
// ODBC 3 state of every state pair and the other version-dependent behaviour.
int ODBCVersion(SQLINTEGER odbc_version_option);

#endif  // VQ_ODBC_TYPE_MAPPING_H
