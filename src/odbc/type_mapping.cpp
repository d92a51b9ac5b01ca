// Type tables of the ODBC driver: C type validity, C -> SQL, SQL -> C (engine and default,
// plain and MSApplications), reported SQL types, server type names and display sizes.
#include "odbc/type_mapping.h"

#include <cstdint>
#include <cstring>

namespace {

bool is_interval(SQLSMALLINT code) {
  return code >= SQL_INTERVAL_YEAR && code <= SQL_INTERVAL_MINUTE_TO_SECOND;
}

bool is_wide_character(SQLSMALLINT sql_type) {
  return sql_type == SQL_WLONGVARCHAR || sql_type == SQL_WVARCHAR || sql_type == SQL_WCHAR;
}

// Shared by the plain and MSApplications forms; `wide_c` is the C type of wide columns.
SQLSMALLINT engine_c_type(SQLSMALLINT sql_type, SQLSMALLINT wide_c) {
  if (is_wide_character(sql_type)) return wide_c;
  switch (sql_type) {
    case kSqlUnsignedBigint:
    case kSqlUnsignedInt:
    case kSqlUnsignedSmallint:
    case SQL_GUID:
    case SQL_BIT:
    case SQL_TINYINT:
      return sql_type;
    case SQL_BIGINT:
      return SQL_C_SBIGINT;
    case SQL_LONGVARBINARY:
    case SQL_VARBINARY:
    case SQL_BINARY:
      return SQL_C_BINARY;
    case SQL_INTEGER:
      return SQL_C_LONG;
    case SQL_SMALLINT:
      return SQL_C_SHORT;
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return SQL_C_DOUBLE;
    case SQL_REAL:
      return SQL_C_FLOAT;
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
      return sql_type;
    default:
      return SQL_C_CHAR;  // character, numeric, decimal, intervals and unknown codes
  }
}

SQLSMALLINT default_c_type(SQLSMALLINT sql_type, SQLSMALLINT wide_c) {
  if (is_wide_character(sql_type)) return wide_c;
  if (is_interval(sql_type)) return sql_type;
  switch (sql_type) {
    case SQL_TINYINT:
      return SQL_C_STINYINT;
    case SQL_INTEGER:
      return SQL_C_SLONG;
    case SQL_SMALLINT:
      return SQL_C_SSHORT;
    case SQL_DATE:
    case SQL_TYPE_DATE:
      return SQL_C_TYPE_DATE;
    case SQL_TIME:
    case SQL_TYPE_TIME:
      return SQL_C_TYPE_TIME;
    case SQL_TIMESTAMP:
    case SQL_TYPE_TIMESTAMP:
      return SQL_C_TYPE_TIMESTAMP;
    case SQL_LONGVARCHAR:
    case SQL_CHAR:
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_VARCHAR:
      return SQL_C_CHAR;
    case kSqlUnsignedBigint:
    case kSqlUnsignedInt:
    case kSqlUnsignedSmallint:
    case SQL_GUID:
    case SQL_BIT:
    case SQL_BIGINT:
    case SQL_LONGVARBINARY:
    case SQL_VARBINARY:
    case SQL_BINARY:
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_REAL:
      return engine_c_type(sql_type, wide_c);
    default:
      return sql_type;
  }
}

bool store_c_type(SQLSMALLINT value, SQLSMALLINT* out) {
  std::memcpy(out, &value, sizeof value);
  return true;
}

}  // namespace

bool Valid_fCType(SQLSMALLINT c_type) {
  if (is_interval(c_type)) return true;
  switch (c_type) {
    case SQL_C_UTINYINT:
    case SQL_C_UBIGINT:
    case SQL_C_STINYINT:
    case SQL_C_SBIGINT:
    case SQL_C_ULONG:
    case SQL_C_USHORT:
    case SQL_C_SLONG:
    case SQL_C_SSHORT:
    case SQL_C_GUID:
    case SQL_C_WCHAR:
    case SQL_C_BIT:
    case SQL_C_TINYINT:
    case SQL_C_BINARY:
    case SQL_C_CHAR:
    case SQL_C_NUMERIC:
    case SQL_C_LONG:
    case SQL_C_SHORT:
    case SQL_C_FLOAT:
    case SQL_C_DOUBLE:
    case SQL_C_DATE:
    case SQL_C_TIME:
    case SQL_C_TIMESTAMP:
    case SQL_C_TYPE_DATE:
    case SQL_C_TYPE_TIME:
    case SQL_C_TYPE_TIMESTAMP:
    case SQL_C_DEFAULT:
      return true;
    default:
      return false;
  }
}

bool PointerAligned(SQLPOINTER /*target*/, SQLSMALLINT c_type, SQLLEN buffer_length) {
  if (!Valid_fCType(c_type) || is_interval(c_type)) return false;
  if (c_type == SQL_C_WCHAR) return buffer_length % 2 == 0;
  return true;
}

SQLSMALLINT SQLCTypeToSQLType(SQLSMALLINT c_type) {
  switch (c_type) {
    case SQL_C_UTINYINT:
    case SQL_C_STINYINT:
    case SQL_C_TINYINT:
      return SQL_TINYINT;
    case SQL_C_SBIGINT:
      return SQL_BIGINT;
    case SQL_C_SLONG:
    case SQL_C_LONG:
      return SQL_INTEGER;
    case SQL_C_SSHORT:
    case SQL_C_SHORT:
      return SQL_SMALLINT;
    case SQL_C_WCHAR:
      return SQL_WVARCHAR;
    case SQL_C_CHAR:
      return SQL_VARCHAR;
    case SQL_C_FLOAT:
      return SQL_REAL;
    case SQL_C_DATE:
    case SQL_C_TYPE_DATE:
      return SQL_TYPE_DATE;
    case SQL_C_TIME:
    case SQL_C_TYPE_TIME:
      return SQL_TYPE_TIME;
    case SQL_C_TIMESTAMP:
    case SQL_C_TYPE_TIMESTAMP:
      return SQL_TYPE_TIMESTAMP;
    default:
      // -27, -18, -17, GUID, bit, binary, numeric, double and the intervals share their
      // SQL code; unknown codes pass through.
      return c_type;
  }
}

SQLSMALLINT SQLTypeToSQLCType(SQLSMALLINT sql_type) {
  return engine_c_type(sql_type, SQL_C_WCHAR);
}

SQLSMALLINT SQLTypeToSQLCType_ms(SQLSMALLINT sql_type) {
  return engine_c_type(sql_type, SQL_C_CHAR);
}

bool ConvertSQLToDefaultC(SQLSMALLINT sql_type, SQLSMALLINT* c_type) {
  return store_c_type(default_c_type(sql_type, SQL_C_WCHAR), c_type);
}

bool ConvertSQLToDefaultC_ms(SQLSMALLINT sql_type, SQLSMALLINT* c_type) {
  return store_c_type(default_c_type(sql_type, SQL_C_CHAR), c_type);
}

SQLSMALLINT GetSQLType(SQLSMALLINT sql_type) {
  switch (sql_type) {
    case kSqlUnsignedInt:
      return SQL_INTEGER;
    case kSqlUnsignedSmallint:
      return SQL_SMALLINT;
    case kSqlUnsignedBigint:
      return SQL_BIGINT;
    default:
      return sql_type;
  }
}

const char* NativeTypeToString(SQLSMALLINT sql_type) {
  switch (sql_type) {
    case SQL_C_UTINYINT:
    case SQL_C_STINYINT:
    case SQL_TINYINT:
      return "tinyint";
    case kSqlUnsignedBigint:
      return "unsigned bigint";
    case SQL_C_SBIGINT:
    case SQL_BIGINT:
      return "bigint";
    case kSqlUnsignedInt:
      return "unsigned int";
    case kSqlUnsignedSmallint:
      return "unsigned smallint";
    case SQL_C_SLONG:
    case SQL_INTEGER:
      return "int";
    case SQL_C_SSHORT:
    case SQL_SMALLINT:
      return "smallint";
    case SQL_GUID:
      return "uniqueidentifier";
    case SQL_WLONGVARCHAR:
      return "long nvarchar";
    case SQL_WVARCHAR:
      return "nvarchar";
    case SQL_WCHAR:
      return "nchar";
    case SQL_BIT:
      return "bit";
    case SQL_LONGVARBINARY:
      return "long binary";
    case SQL_VARBINARY:
      return "varbinary";
    case SQL_BINARY:
      return "binary";
    case SQL_LONGVARCHAR:
      return "long varchar";
    case SQL_NUMERIC:
      return "numeric";
    case SQL_DECIMAL:
      return "decimal";
    case SQL_FLOAT:
      return "float";
    case SQL_REAL:
      return "real";
    case SQL_DOUBLE:
      return "double";
    case SQL_DATE:
    case SQL_TYPE_DATE:
      return "date";
    case SQL_TIME:
    case SQL_TYPE_TIME:
      return "time";
    case SQL_TIMESTAMP:
    case SQL_TYPE_TIMESTAMP:
      return "timestamp";
    case SQL_VARCHAR:
      return "varchar";
    default:
      return "char";
  }
}

SQLLEN SQLDisplaySize(SQLSMALLINT sql_type, SQLSMALLINT precision, SQLINTEGER length) {
  switch (sql_type) {
    case SQL_BIT:
    case SQL_TINYINT:
    case SQL_BIGINT:
    case SQL_INTEGER:
    case SQL_SMALLINT:
      return static_cast<SQLLEN>(precision) + 1;
    case SQL_NUMERIC:
    case SQL_DECIMAL:
      return static_cast<SQLLEN>(precision) + 2;
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return static_cast<SQLLEN>(precision) + 7;
    case SQL_REAL:
      return static_cast<SQLLEN>(precision) + 6;
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP:
      return static_cast<SQLLEN>(static_cast<std::uint16_t>(length & 0xFFFF));
    default:
      return length;
  }
}

int ODBCVersion(SQLINTEGER odbc_version_option) {
  return odbc_version_option == SQL_OV_ODBC2 ? 2 : 3;
}
