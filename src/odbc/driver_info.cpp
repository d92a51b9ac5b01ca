// SQLGetInfo: constant answers in tables, the answers that depend on the connection in
// one function beside them.
#include "odbc/driver_info.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "odbc/connect.h"
#include "odbc/diagnostics.h"
#include "odbc/engine.h"
#include "odbc/handles.h"
#include "odbc/sql_string.h"
#include "utils/base/compat.h"

namespace {

constexpr a_packed_sqlstate kStateHY096 = PackSQLState("HY096");
constexpr a_packed_sqlstate kStateS1096 = PackSQLState("S1096");

// Room for the names the server reports (128 characters and the terminator).
constexpr int kServerNameBytes = 129;
// Room for the "quoted_identifier" option's value.
constexpr int kOptionValueBytes = 20;
// First server version whose scalar functions are all available.
constexpr std::uint32_t kFullFunctionsVersion = 5000;

const char kKeywords[] =
    "add,aes_decrypt,all,alter,and,any,as,asc,attach,backup,begin,between,bigint,binary,bit,"
    "bottom,break,by,call,capability,cascade,case,cast,char,char_convert,character,check,"
    "checkpoint,close,comment,commit,compressed,conflict,connect,constraint,contains,continue,"
    "convert,create,cross,cube,current,current_timestamp,current_user,cursor,date,"
    "datetimeoffset,dbspace,deallocate,dec,decimal,declare,default,delete,deleting,desc,detach,"
    "distinct,do,double,drop,dynamic,else,elseif,encrypted,end,endif,escape,except,exception,"
    "exec,execute,existing,exists,externlogin,fetch,first,float,for,force,foreign,forward,from,"
    "full,goto,grant,group,having,holdlock,identified,if,in,index,inner,inout,insensitive,"
    "insert,inserting,install,instead,integer,integrated,intersect,into,bw,is,isolation,join,"
    "kerberos,key,lateral,left,like,limit,lock,login,long,match,membership,merge,message,mode,"
    "modify,natural,nchar,new,no,noholdlock,not,notify,null,numeric,nvarchar,of,off,on,open,"
    "openstring,openxml,option,options,or,order,others,out,outer,over,passthrough,precision,"
    "prepare,primary,print,privileges,proc,procedure,publication,raiserror,readtext,real,"
    "reference,references,refresh,release,remote,remove,rename,reorganize,resource,restore,"
    "restrict,return,revoke,right,rollback,rollup,save,savepoint,scroll,select,sensitive,"
    "session,set,setuser,share,smallint,some,spatial,sqlcode,sqlstate,start,stop,subtrans,"
    "subtransaction,synchronize,table,temporary,then,time,timestamp,tinyint,to,top,treat,"
    "trigger,truncate,tsequal,unbounded,union,unique,uniqueidentifier,unknown,unsigned,update,"
    "updating,user,using,validate,values,varbinary,varbit,varchar,variable,varying,view,wait,"
    "waitfor,when,where,while,window,with,within,work,writetext,xml";

struct TextItem {
  SQLUSMALLINT item;
  const char* text;
};

const TextItem kTexts[] = {
    {SQL_DRIVER_NAME, "Vellumcrest"}, {SQL_DRIVER_VER, "12.00.0000"},
    {SQL_ODBC_VER, "03.51.0000"},     {SQL_ROW_UPDATES, "Y"},
    {SQL_ACCESSIBLE_TABLES, "N"},     {SQL_ACCESSIBLE_PROCEDURES, "N"},
    {SQL_DATA_SOURCE_READ_ONLY, "N"}, {SQL_EXPRESSIONS_IN_ORDERBY, "Y"},
    {SQL_MULT_RESULT_SETS, "Y"},      {SQL_MULTIPLE_ACTIVE_TXN, "Y"},
    {SQL_OWNER_TERM, "Creator"},      {SQL_QUALIFIER_TERM, ""},
    {SQL_TABLE_TERM, "Table"},        {SQL_ODBC_SQL_OPT_IEF, "Y"},
    {SQL_DRIVER_ODBC_VER, "03.51"},   {SQL_COLUMN_ALIAS, "Y"},
    {SQL_KEYWORDS, kKeywords},        {SQL_ORDER_BY_COLUMNS_IN_SELECT, "N"},
    {SQL_SPECIAL_CHARACTERS, "@$#"},  {SQL_MAX_ROW_SIZE_INCLUDES_LONG, "Y"},
    {SQL_NEED_LONG_DATA_LEN, "N"},    {SQL_LIKE_ESCAPE_CLAUSE, "Y"},
    {SQL_XOPEN_CLI_YEAR, "1995"},     {SQL_DESCRIBE_PARAMETER, "N"},
    {SQL_CATALOG_NAME, "N"},
};

struct NumberItem {
  SQLUSMALLINT item;
  SQLUINTEGER value;
};

const NumberItem kSmall[] = {
    {SQL_MAX_DRIVER_CONNECTIONS, 0},   {SQL_MAX_CONCURRENT_ACTIVITIES, 0},
    {SQL_ODBC_API_CONFORMANCE, 2},     {SQL_ODBC_SAG_CLI_CONFORMANCE, 1},
    {SQL_ODBC_SQL_CONFORMANCE, 2},     {SQL_CONCAT_NULL_BEHAVIOR, 1},
    {SQL_CURSOR_COMMIT_BEHAVIOR, 2},   {SQL_CURSOR_ROLLBACK_BEHAVIOR, 2},
    {SQL_IDENTIFIER_CASE, 4},          {SQL_MAX_COLUMN_NAME_LEN, 128},
    {SQL_MAX_CURSOR_NAME_LEN, 128},    {SQL_MAX_OWNER_NAME_LEN, 128},
    {SQL_MAX_PROCEDURE_NAME_LEN, 128}, {SQL_MAX_QUALIFIER_NAME_LEN, 0},
    {SQL_MAX_TABLE_NAME_LEN, 128},     {SQL_CORRELATION_NAME, 2},
    {SQL_NON_NULLABLE_COLUMNS, 1},     {SQL_FILE_USAGE, 0},
    {SQL_NULL_COLLATION, 1},           {SQL_GROUP_BY, 2},
    {SQL_QUOTED_IDENTIFIER_CASE, 4},   {SQL_MAX_COLUMNS_IN_GROUP_BY, 0},
    {SQL_MAX_COLUMNS_IN_INDEX, 0},     {SQL_MAX_COLUMNS_IN_ORDER_BY, 0},
    {SQL_MAX_COLUMNS_IN_SELECT, 0},    {SQL_MAX_COLUMNS_IN_TABLE, 0},
    {SQL_MAX_TABLES_IN_SELECT, 0},     {SQL_MAX_USER_NAME_LEN, 128},
    {SQL_ACTIVE_ENVIRONMENTS, 0},      {SQL_MAX_IDENTIFIER_LEN, 128},
};

constexpr SQLUINTEGER kConvertNumber = 0xE47FFF;
constexpr SQLUINTEGER kConvertBinary = 0x1E40F01;
constexpr SQLUINTEGER kConvertCharacter = 0x1E7FFFF;

const NumberItem kInteger[] = {
    {SQL_FETCH_DIRECTION, 0xBF},
    {SQL_DEFAULT_TXN_ISOLATION, 1},
    {SQL_SCROLL_CONCURRENCY, 15},
    {SQL_SCROLL_OPTIONS, 31},
    {SQL_CONVERT_FUNCTIONS, 3},
    {SQL_SYSTEM_FUNCTIONS, 7},
    {SQL_CONVERT_BIGINT, kConvertNumber},
    {SQL_CONVERT_BIT, kConvertNumber},
    {SQL_CONVERT_DECIMAL, kConvertNumber},
    {SQL_CONVERT_DOUBLE, kConvertNumber},
    {SQL_CONVERT_FLOAT, kConvertNumber},
    {SQL_CONVERT_INTEGER, kConvertNumber},
    {SQL_CONVERT_NUMERIC, kConvertNumber},
    {SQL_CONVERT_REAL, kConvertNumber},
    {SQL_CONVERT_SMALLINT, kConvertNumber},
    {SQL_CONVERT_TINYINT, kConvertNumber},
    {SQL_CONVERT_BINARY, kConvertBinary},
    {SQL_CONVERT_VARBINARY, kConvertBinary},
    {SQL_CONVERT_LONGVARBINARY, kConvertBinary},
    {SQL_CONVERT_GUID, kConvertBinary},
    {SQL_CONVERT_CHAR, kConvertCharacter},
    {SQL_CONVERT_LONGVARCHAR, kConvertCharacter},
    {SQL_CONVERT_VARCHAR, kConvertCharacter},
    {SQL_CONVERT_WCHAR, kConvertCharacter},
    {SQL_CONVERT_WLONGVARCHAR, kConvertCharacter},
    {SQL_CONVERT_WVARCHAR, kConvertCharacter},
    {SQL_CONVERT_DATE, 0xE68F01},
    {SQL_CONVERT_TIME, 0xE70F01},
    {SQL_CONVERT_TIMESTAMP, 0xE78F01},
    {SQL_TXN_ISOLATION_OPTION, 15},
    {SQL_LOCK_TYPES, 3},
    {SQL_POS_OPERATIONS, 31},
    {SQL_POSITIONED_STATEMENTS, 7},
    {SQL_GETDATA_EXTENSIONS, 15},
    {SQL_BOOKMARK_PERSISTENCE, 90},
    {SQL_STATIC_SENSITIVITY, 4},
    {SQL_ALTER_TABLE, 3},
    {SQL_OWNER_USAGE, 31},
    {SQL_SUBQUERIES, 31},
    {SQL_UNION, 3},
    {SQL_MAX_ROW_SIZE, 0x7FFFFFFF},
    {SQL_OJ_CAPABILITIES, 127},
    {SQL_SQL_CONFORMANCE, 1},
    {SQL_DATETIME_LITERALS, 7},
    {SQL_BATCH_ROW_COUNT, 6},
    {SQL_BATCH_SUPPORT, 7},
    {SQL_CREATE_DOMAIN, 7},
    {SQL_CREATE_SCHEMA, 3},
    {SQL_CREATE_TABLE, 0x161D},
    {SQL_CREATE_VIEW, 3},
    {SQL_DROP_DOMAIN, 1},
    {SQL_DROP_VIEW, 1},
    {SQL_DROP_TABLE, 7},
    {SQL_DYNAMIC_CURSOR_ATTRIBUTES1, 0x1FFC7},
    {SQL_DYNAMIC_CURSOR_ATTRIBUTES2, 0x2073},
    {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1, 0x1FFC1},
    {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES2, 0x2003},
    {SQL_INDEX_KEYWORDS, 3},
    {SQL_KEYSET_CURSOR_ATTRIBUTES1, 0xFFFCF},
    {SQL_STATIC_CURSOR_ATTRIBUTES1, 0xFFFCF},
    {SQL_KEYSET_CURSOR_ATTRIBUTES2, 0x204F},
    {SQL_ODBC_INTERFACE_CONFORMANCE, 3},
    {SQL_PARAM_ARRAY_ROW_COUNTS, 1},
    {SQL_PARAM_ARRAY_SELECTS, 1},
    {SQL_SQL92_DATETIME_FUNCTIONS, 7},
    {SQL_SQL92_FOREIGN_KEY_DELETE_RULE, 15},
    {SQL_SQL92_FOREIGN_KEY_UPDATE_RULE, 15},
    {SQL_SQL92_GRANT, 0x1610},
    {SQL_SQL92_PREDICATES, 0x2E07},
    {SQL_SQL92_RELATIONAL_JOIN_OPERATORS, 0x152},
    {SQL_SQL92_REVOKE, 0x5800},
    {SQL_SQL92_STRING_FUNCTIONS, 6},
    {SQL_SQL92_VALUE_EXPRESSIONS, 15},
    {SQL_STANDARD_CLI_CONFORMANCE, 3},
    {SQL_STATIC_CURSOR_ATTRIBUTES2, 0x2063},
    {SQL_AGGREGATE_FUNCTIONS, 64},
    {SQL_DDL_INDEX, 3},
    {SQL_INSERT_STATEMENT, 7},
    {SQL_CURSOR_SENSITIVITY, 2},
};

// The items of the ODBC API up to SQL_CONVERT_GUID that the tables above leave out all
// answer the 32-bit value 0 (SQL_DM_VER belongs to the driver manager), as do the two
// asynchronous-execution items.
constexpr SQLUSMALLINT kLastNumberedItem = SQL_CONVERT_GUID;

bool IsZeroItem(SQLUSMALLINT item) {
  return (item <= kLastNumberedItem && item != SQL_DM_VER) || item == SQL_ASYNC_MODE ||
         item == SQL_MAX_ASYNC_CONCURRENT_STATEMENTS;
}

template <typename Item, std::size_t N>
const Item* Find(const Item (&table)[N], SQLUSMALLINT item) {
  for (const Item& row : table) {
    if (row.item == item) return &row;
  }
  return nullptr;
}

SQLRETURN ReturnText(tagDBC* dbc, const char* text, SQLPOINTER buffer, SQLSMALLINT size,
                     SQLSMALLINT* length_out) {
  ReturnString(dbc, buffer, size, length_out, text, SQL_NTS);
  return dbc->retcode;
}

template <typename T>
SQLRETURN ReturnNumber(tagDBC* dbc, T value, SQLPOINTER buffer, SQLSMALLINT* length_out) {
  if (buffer != nullptr) std::memcpy(buffer, &value, sizeof value);
  if (length_out != nullptr) *length_out = static_cast<SQLSMALLINT>(sizeof value);
  return dbc->retcode;
}

// A name the server reports; its error when the query fails.
SQLRETURN ReturnServerText(tagDBC* dbc, std::int32_t (*query)(tagDBC*, char*, int),
                           SQLPOINTER buffer, SQLSMALLINT size, SQLSMALLINT* length_out) {
  char text[kServerNameBytes] = {};
  if (query(dbc, text, sizeof text) < 0) return PostSQLError(dbc);
  return ReturnText(dbc, text, buffer, size, length_out);
}

bool Behaves(const tagDBC* dbc, std::uint32_t bit) { return (dbc->behaviour & bit) == bit; }

// SQL_DBMS_VER from the server version major * 1000 + minor * 100 + build.
void FormatServerVersion(std::uint32_t v, char* out, std::size_t size) {
  std::snprintf(out, size, "%2.2d.%2.2d.%4.4d", static_cast<int>(v / 1000),
                static_cast<int>((v % 1000) / 100 * 10), static_cast<int>(v % 100));
}

// The scalar-function bitmaps: those of servers before kFullFunctionsVersion, and all.
struct FunctionsItem {
  SQLUSMALLINT item;
  SQLUINTEGER early;
  SQLUINTEGER full;
};
const FunctionsItem kFunctions[] = {
    {SQL_NUMERIC_FUNCTIONS, 0x9FFFF, 0xFFFFFF},
    {SQL_STRING_FUNCTIONS, 0x77FFF, 0xFFFFFF},
    {SQL_TIMEDATE_FUNCTIONS, 0x1FBF, 0x1F9FFF},
};

// The answers that depend on the connection; false when `item` is not one of them.
bool ConnectionAnswer(tagDBC* dbc, SQLUSMALLINT item, SQLPOINTER buffer, SQLSMALLINT size,
                      SQLSMALLINT* length_out, SQLRETURN* rc) {
  const std::uint32_t version = dbc->server_version;
  for (const FunctionsItem& f : kFunctions) {
    if (f.item == item) {
      *rc = ReturnNumber(dbc, version >= kFullFunctionsVersion ? f.full : f.early, buffer,
                         length_out);
      return true;
    }
  }
  const bool probed = (dbc->cap_a & kCapProbed) != 0;
  switch (item) {
    case SQL_DATA_SOURCE_NAME: {
      const char* dsn = dbc->attrs[kSlotDataSourceName].text;
      *rc = ReturnText(dbc, dsn != nullptr ? dsn : "", buffer, size, length_out);
      return true;
    }
    case SQL_SERVER_NAME:
      *rc = ReturnServerText(dbc, DBGetServerName, buffer, size, length_out);
      return true;
    case SQL_SEARCH_PATTERN_ESCAPE: {
      const char* escape = dbc->attrs[kSlotEscape].text;
      const char text[2] = {escape != nullptr && escape[0] != '\0' ? escape[0] : '~', '\0'};
      *rc = ReturnText(dbc, text, buffer, size, length_out);
      return true;
    }
    case SQL_DATABASE_NAME:
      *rc = ReturnServerText(dbc, DBGetDatabaseName, buffer, size, length_out);
      return true;
    case SQL_DBMS_NAME:
      *rc = ReturnText(dbc,
                       (dbc->cap_a & kCapBrackwater) != 0 ? "Brackwater Server" : "Vellumcrest",
                       buffer, size, length_out);
      return true;
    case SQL_DBMS_VER: {
      char text[32];
      FormatServerVersion(version, text, sizeof text);
      *rc = ReturnText(dbc, text, buffer, size, length_out);
      return true;
    }
    case SQL_PROCEDURES:
      *rc = ReturnText(dbc, probed ? "Y" : "N", buffer, size, length_out);
      return true;
    case SQL_IDENTIFIER_QUOTE_CHAR: {
      // An option that cannot be read leaves the value empty: quoting stays on.
      char value[kOptionValueBytes] = {};
      DBGetOption(dbc, "quoted_identifier", value, sizeof value);
      value[sizeof value - 1] = '\0';
      const bool off = std::strlen(value) >= 3 && vq::compat::strnicmp(value, "OFF", 3) == 0;
      *rc = ReturnText(dbc, off ? " " : "\"", buffer, size, length_out);
      return true;
    }
    case SQL_OUTER_JOINS:
      *rc = ReturnText(dbc, Behaves(dbc, kBehavMSApplications) ? "Y" : "F", buffer, size,
                       length_out);
      return true;
    case SQL_PROCEDURE_TERM:
      *rc = ReturnText(dbc, probed ? "Procedure" : "", buffer, size, length_out);
      return true;
    case SQL_QUALIFIER_NAME_SEPARATOR:
      *rc = ReturnText(dbc, Behaves(dbc, kBehavVBRDO) ? "." : "", buffer, size, length_out);
      return true;
    case SQL_USER_NAME:
      *rc = ReturnServerText(dbc, DBGetUserName, buffer, size, length_out);
      return true;
    case SQL_COLLATION_SEQ:
      *rc = ReturnServerText(dbc, DBGetCharSet, buffer, size, length_out);
      return true;
    case SQL_TXN_CAPABLE:
      *rc = ReturnNumber(dbc,
                         static_cast<SQLUSMALLINT>(Behaves(dbc, kBehavMSApplications) ? 2 : 3),
                         buffer, length_out);
      return true;
    case SQL_QUALIFIER_LOCATION:
      *rc = ReturnNumber(dbc, static_cast<SQLUSMALLINT>(Behaves(dbc, kBehavVBRDO) ? 1 : 0),
                         buffer, length_out);
      return true;
    default:
      return false;
  }
}

// The handle items: pointer-sized on every platform.
bool HandleAnswer(tagDBC* dbc, SQLUSMALLINT item, SQLPOINTER buffer, SQLSMALLINT* length_out,
                  SQLRETURN* rc) {
  switch (item) {
    case SQL_DRIVER_HDBC:
      *rc = ReturnNumber(dbc, static_cast<SQLPOINTER>(dbc), buffer, length_out);
      return true;
    case SQL_DRIVER_HENV:
      *rc = ReturnNumber(dbc, static_cast<SQLPOINTER>(dbc->parent), buffer, length_out);
      return true;
    case SQL_DRIVER_HSTMT:
    case SQL_DRIVER_HDESC:
      // The driver manager passes the handle in the buffer; the driver's handle is the
      // same value, left where it is.
      if (length_out != nullptr) *length_out = static_cast<SQLSMALLINT>(sizeof(SQLPOINTER));
      *rc = dbc->retcode;
      return true;
    case SQL_DRIVER_HLIB:
      *rc = ReturnNumber(dbc, static_cast<SQLPOINTER>(nullptr), buffer, length_out);
      return true;
    default:
      return false;
  }
}

}  // namespace

SQLRETURN DoSQLGetInfo(tagDBC* dbc, SQLUSMALLINT item, SQLPOINTER buffer,
                       SQLSMALLINT buffer_length, SQLSMALLINT* length_out) {
  if (item != SQL_ODBC_VER && item != SQL_DRIVER_ODBC_VER && dbc->state < kDbcConnected) {
    return PostSQLState(dbc, kState08003, kState08003);
  }
  SQLRETURN rc = SQL_SUCCESS;
  if (ConnectionAnswer(dbc, item, buffer, buffer_length, length_out, &rc)) return rc;
  if (HandleAnswer(dbc, item, buffer, length_out, &rc)) return rc;
  if (const TextItem* t = Find(kTexts, item); t != nullptr) {
    return ReturnText(dbc, t->text, buffer, buffer_length, length_out);
  }
  if (const NumberItem* n = Find(kSmall, item); n != nullptr) {
    return ReturnNumber(dbc, static_cast<SQLUSMALLINT>(n->value), buffer, length_out);
  }
  if (const NumberItem* n = Find(kInteger, item); n != nullptr) {
    return ReturnNumber(dbc, n->value, buffer, length_out);
  }
  if (IsZeroItem(item)) return ReturnNumber(dbc, SQLUINTEGER{0}, buffer, length_out);
  return PostSQLState(dbc, kStateHY096, kStateS1096);
}
