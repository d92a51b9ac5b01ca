// What the catalog functions share: the query-building context, the clause keywords, the
// filters that turn catalog arguments into WHERE conditions, the argument checks and the
// run step. Internal to the driver; every function runs under the connection's mutex
// (the caller's framing) and records its diagnostics on the statement.
//
// Every text that comes from the application or from a connection attribute reaches the
// SQL as a quoted literal with its single quotes doubled; nothing it holds can change the
// statement around it.
#ifndef VQ_ODBC_CATALOG_CATALOG_QUERY_H
#define VQ_ODBC_CATALOG_CATALOG_QUERY_H

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "odbc/handles.h"
#include "odbc/sql_string.h"

// Bits of CatalogQuery::clauses: which clause has begun.
constexpr std::uint8_t kClauseSelect = 0x1;
constexpr std::uint8_t kClauseFrom = 0x2;
constexpr std::uint8_t kClauseWhere = 0x4;
constexpr std::uint8_t kClauseOrderBy = 0x8;

// Capability byte B: the connection tells CHAR from VARCHAR (set by the connect probe).
constexpr std::uint8_t kCatalogCapCharVarchar = 0x01;
// Capability byte A: the server's version is above 9999 (it knows nchar and nvarchar).
constexpr std::uint8_t kCatalogCapVersion10 = 0x08;
// Capability byte B: the server's version is 9002 or later (it knows uniqueidentifier).
constexpr std::uint8_t kCatalogCapVersion9002 = 0x04;

// Server versions from which the quoted_identifier switch applies.
constexpr std::uint32_t kQuotedIdentifierSwitchVersion = 5000;

// The building context of one catalog call; lives on the caller's stack.
struct CatalogQuery {
  tagSTMT* stmt;       // every append and every diagnostic goes here
  tagDBC* dbc;         // the statement's connection
  tagSQLSTRING text;   // the SELECT under construction (owned until RunCatalogQuery)
  int odbc_version;    // 3: ODBC 3 names and codes; 2: ODBC 2
  std::uint8_t clauses;  // kClause* bits
};

// One catalog argument: a narrow text and its length in bytes (SQL_NTS resolved).
struct CatalogArg {
  const char* text;    // null when the argument is empty
  std::size_t length;  // 0 when empty
};

// ==== in catalog_query.cpp ===================================================================

// The argument as the application gave it; an empty text (null, length 0, or "" with
// SQL_NTS) gives {null, 0}. The caller has checked the length with CheckCatalogLengths.
CatalogArg CatalogArgument(const SQLCHAR* text, SQLSMALLINT length);
// True when the argument is exactly "%".
bool IsPercent(const CatalogArg& arg);

// Starts a catalog call: zeroes the query and takes the ODBC version. Then the checks
// every catalog function makes first, in order: a cursor open on the statement (24000),
// and a name length that is negative but not SQL_NTS (HY090). `lengths` holds the
// function's name lengths, with the text pointers beside them. SQL_SUCCESS, or the
// error's return code with nothing built.
SQLRETURN BeginCatalogQuery(CatalogQuery* q, tagSTMT* stmt, const SQLSMALLINT* lengths,
                            const SQLCHAR* const* texts, std::size_t count);
// The catalog-name check: a non-empty catalog argument fails with HYC00 unless the
// connection's PreventNotCapable attribute is set, which makes it ignored.
void CheckCatalogName(CatalogQuery* q, const CatalogArg& catalog);

// One name argument as the application passed it.
struct CatalogName {
  const SQLCHAR* text;
  SQLSMALLINT length;
};
// BeginCatalogQuery over a function's name arguments, the catalog name first, followed by
// the catalog-name check of that first argument.
SQLRETURN BeginCatalogCall(CatalogQuery* q, tagSTMT* stmt,
                           std::initializer_list<CatalogName> names);

// Appends text (SQL_NTS: measured) to the query.
void Append(CatalogQuery* q, const char* text, SQLINTEGER length = SQL_NTS);
// Appends text as a quoted SQL literal: a single quote, the bytes with every single quote
// doubled, a single quote.
void AppendLiteral(CatalogQuery* q, const char* text, std::size_t length);
// The clause keywords: "SELECT " or ",", "\nFROM " or ",", "\nWHERE " or "\nAND ",
// "\nORDER BY " or ",", each setting its flag, then the item.
void AddSelectItem(CatalogQuery* q, const char* item);
void AddFromItem(CatalogQuery* q, const char* item);
void AddConditionKeyword(CatalogQuery* q);
void AddCondition(CatalogQuery* q, const char* condition);
void AddOrderBy(CatalogQuery* q, const char* columns);
// Ends one branch of a UNION ALL statement: the select, FROM and WHERE flags are cleared
// (ORDER BY kept) and "\nUNION ALL\n" appended, so the next branch starts afresh.
void StartUnionBranch(CatalogQuery* q);
// The ODBC 3 name, or the ODBC 2 one, by the query's version.
const char* ByVersion(const CatalogQuery* q, const char* odbc3, const char* odbc2);

// The condition for an ordinary (non-pattern) argument; nothing when empty.
void AddIdentifierFilter(CatalogQuery* q, const char* column, const CatalogArg& value);
// The condition for a search-pattern argument; nothing when empty. With
// SQL_ATTR_METADATA_ID set the argument is an identifier (AddIdentifierFilter's rules).
void AddPatternFilter(CatalogQuery* q, const char* column, const CatalogArg& value);

// Executes the text (unless an append failed or an error was posted), frees it and
// returns the statement's return code. With `switch_quoted_identifier`, a server from
// version 5000 whose quoted_identifier option is OFF runs the statement with it ON.
SQLRETURN RunCatalogQuery(CatalogQuery* q, bool switch_quoted_identifier);

// ==== in catalog_columns.cpp =================================================================
// Column groups shared by the catalog statements; each appends select items through the
// select flag. `table` names the column table the items read ("SYSCOLUMN", "SYSPROCPARM").

// TABLE_CAT (always NULL), TABLE_SCHEM and TABLE_NAME (ODBC 2 names by version).
void AddTableNameColumns(CatalogQuery* q);
// One expression (not an item) mapping domain_name to an ODBC type code. `concise`: the
// DATA_TYPE form (date, time and timestamp by version); else the SQL_DATA_TYPE form.
void AddDataTypeExpression(CatalogQuery* q, bool concise);
// DATA_TYPE, TYPE_NAME, COLUMN_SIZE, BUFFER_LENGTH, DECIMAL_DIGITS, each a subselect of
// SYS.SYSDOMAIN by the table's domain_id.
void AddDomainColumns(CatalogQuery* q, const char* table);
// NUM_PREC_RADIX as `sql_type`; with a table a subselect by its domain_id, without one
// the expression over the current row.
void AddRadixColumn(CatalogQuery* q, const char* sql_type, const char* table);
// COLUMN_DEF: the text NULL when there is no default, else its first 4000 bytes.
void AddColumnDefault(CatalogQuery* q, const char* table);
// SQL_DATA_TYPE and SQL_DATETIME_SUB.
void AddSqlDataTypeColumns(CatalogQuery* q);
// CHAR_OCTET_LENGTH as `sql_type`.
void AddCharOctetLength(CatalogQuery* q, const char* table, const char* sql_type);
// The table-type argument of SQLTables as a TABLE_TYPE IN (...) condition; nothing when
// empty. Every type in the list becomes one quoted literal.
void AddTableTypeFilter(CatalogQuery* q, const CatalogArg& types);


#endif  // VQ_ODBC_CATALOG_CATALOG_QUERY_H
