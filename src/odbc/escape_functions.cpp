// The scalar-function and type-name tables of escape translation.
#include "odbc/escape_functions.h"

#include <cstring>

#include "utils/base/compat.h"

namespace {

// A function the server knows under its ODBC name: the arguments pass through.
constexpr EscapeFunction Same(const char* name) {
  return EscapeFunction{name, name, "&", nullptr, nullptr, ","};
}
constexpr EscapeFunction Call(const char* name, const char* server_name, const char* args) {
  return EscapeFunction{name, server_name, args, nullptr, nullptr, ","};
}

struct TypeName {
  const char* odbc;
  const char* server;
};

// SQL_BIGINT becomes BIGINT: the server has the 64-bit type, and a cast to INT would
// overflow on values beyond 32 bits.
const TypeName kTypeNames[] = {
    {"SQL_VARCHAR", "VARCHAR"},
    {"SQL_CHAR", "CHAR"},
    {"SQL_LONGVARCHAR", "LONG VARCHAR"},
    {"SQL_NUMERIC", "NUMERIC"},
    {"SQL_DECIMAL", "DECIMAL"},
    {"SQL_INTEGER", "INT"},
    {"SQL_SMALLINT", "SMALLINT"},
    {"SQL_DOUBLE", "DOUBLE"},
    {"SQL_FLOAT", "DOUBLE"},
    {"SQL_REAL", "FLOAT"},
    {"SQL_BINARY", "BINARY"},
    {"SQL_VARBINARY", "BINARY"},
    {"SQL_LONGVARBINARY", "LONG BINARY"},
    {"SQL_BIT", "SMALLINT"},
    {"SQL_TINYINT", "TINYINT"},
    {"SQL_BIGINT", "BIGINT"},
    {"SQL_DATE", "DATE"},
    {"SQL_TIME", "TIME"},
    {"SQL_TIMESTAMP", "TIMESTAMP"},
    {"SQL_WCHAR", "NCHAR"},
    {"SQL_WLONGVARCHAR", "LONG NVARCHAR"},
    {"SQL_WVARCHAR", "NVARCHAR"},
    {"SQL_GUID", "UNIQUEIDENTIFIER"},
};

}  // namespace

// Where one name begins another, the longer comes first (CURRENT_TIMESTAMP before
// CURRENT_TIME). OCTET_LENGTH counts bytes, so it goes to BYTE_LENGTH, which BIT_LENGTH
// uses too; CHAR_LENGTH would count characters and differ on multibyte text.
const EscapeFunction kEscapeFunctions[] = {
    Same("DIFFERENCE"),
    Same("CHAR_LENGTH"),
    Call("CHARACTER_LENGTH", "CHAR_LENGTH", "&"),
    Call("OCTET_LENGTH", "BYTE_LENGTH", "&"),
    {"POSITION", "LOCATE", "&2, &1", nullptr, nullptr, "IN"},
    {"BIT_LENGTH", "BYTE_LENGTH", "&", nullptr, "* 8", ","},
    Same("DEGREES"),
    Same("POWER"),
    Same("RADIANS"),
    Same("RAND"),
    Same("ROUND"),
    Call("TRUNCATE", "\"TRUNCATE\"", "&"),
    Same("DAYNAME"),
    Same("MONTHNAME"),
    Same("QUARTER"),
    Call("CURRENT_DATE", nullptr, "CURRENT DATE"),
    Call("CURRENT_TIMESTAMP", "DATEFORMAT",
         "CURRENT TIMESTAMP,'YYYY-MM-DD HH:NN:S'+SUBSTRING('S.',1,1+&-0)+REPEAT('S',&-0)"),
    Call("CURRENT_TIME", "DATEFORMAT",
         "CURRENT TIME,'HH:NN:S'+SUBSTRING('S.',1,1+&-0)+REPEAT('S',&-0)"),
    {"EXTRACT", "", "&2", "&1", nullptr, "FROM"},
    Same("ACOS"),
    Same("ASIN"),
    Same("ATAN2"),
    Same("ATAN"),
    Same("CEILING"),
    Same("COS"),
    Same("COT"),
    Same("EXP"),
    Same("FLOOR"),
    Same("LOG10"),
    Same("LOG"),
    Call("PI", "PI", "*"),
    Same("SIGN"),
    Same("SIN"),
    Same("SQRT"),
    Same("TAN"),
    Same("ASCII"),
    Call("CHAR", "\"CHAR\"", "&"),
    Call("INSERT", "STRING", "SUBSTR(&1,1,(&2)-1),&4,SUBSTR(&1,(&2)+(&3),LENGTH(&1))"),
    Call("LEFT", "\"LEFT\"", "&"),
    Same("LTRIM"),
    Call("LOCATE", "LOCATE", "&2,&1&-3"),
    Same("LCASE"),
    Same("REPEAT"),
    Call("RIGHT", "\"RIGHT\"", "&"),
    Same("RTRIM"),
    Same("SOUNDEX"),
    Call("SPACE", "REPEAT", "' ', &1"),
    Same("UCASE"),
    Call("CONVERT", "CAST", "&1 AS &T2"),
    Call("CAST", "CAST", "&1 AS &T2"),
    Call("CONCAT", "STRING", "&"),
    Call("LENGTH", "LENGTH", "RTRIM(&)"),
    Call("SUBSTRING", "SUBSTR", "&"),
    Same("ABS"),
    Same("MOD"),
    Call("NOW", "NOW", "*"),
    Call("CURDATE", "TODAY", "*"),
    Call("CURTIME", "DATEFORMAT", "CURRENT TIME,'HH:NN:SS.SSS'"),
    Call("DAYOFYEAR", "DAYS", "YMD(YEAR(&1)-1,12,31),CAST(&1 AS DATE)"),
    Call("DAYOFMONTH", "DAY", "&"),
    Call("DAYOFWEEK", "DOW", "&"),
    Same("MONTH"),
    Same("YEAR"),
    Same("HOUR"),
    Same("MINUTE"),
    Same("SECOND"),
    Call("WEEK", nullptr, "WEEKS( YMD( YEAR(&1), 1, 1 ), CAST( &1 AS DATE ) ) + 1"),
    Call("USER", nullptr, "USER"),
    Call("IFNULL", "COALESCE", "&"),
    Call("DATABASE", "DB_NAME", "&"),
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};

const EscapeFunction kEscapeFunctionsV7[] = {
    Call("REPLACE", "REPLACE", "&"),
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};

const EscapeFunction kEscapeFunctionsMode1[] = {
    Call("NOW", nullptr, "SYSDATE"),
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char* EscapeServerTypeName(const char* name, std::size_t length) {
  for (const TypeName& t : kTypeNames) {
    if (std::strlen(t.odbc) == length && vq::compat::memicmp(name, t.odbc, length) == 0) {
      return t.server;
    }
  }
  return nullptr;
}
