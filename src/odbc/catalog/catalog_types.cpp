// SQLGetTypeInfo: one row per server domain (SYS.SYSDOMAIN) with every ODBC column
// computed from domain_name, and constant rows over SYS.DUMMY for what the domain catalog
// does not describe the ODBC way: float as SQL_FLOAT, money and smallmoney, and on older
// servers the wide character types and uniqueidentifier.
#include <cstring>
#include <string>

#include "odbc/catalog/catalog.h"
#include "odbc/catalog/catalog_query.h"
#include "odbc/diagnostics.h"

namespace {

// The domain a requested SQL type filters on; null for SQL_ALL_TYPES. False when the
// type is not one the driver answers.
bool DomainOfType(const tagDBC* dbc, SQLSMALLINT type, const char** domain) {
  const bool v10 = (dbc->cap_a & kCatalogCapVersion10) != 0;
  switch (type) {
    case SQL_GUID: *domain = "uniqueidentifier"; return true;
    case SQL_WLONGVARCHAR: *domain = v10 ? "long nvarchar" : "long wvarchar"; return true;
    case SQL_WVARCHAR: *domain = v10 ? "nvarchar" : "wvarchar"; return true;
    case SQL_WCHAR: *domain = v10 ? "nchar" : "wchar"; return true;
    // SQL_BIT asks for the bit domain, the one the DATA_TYPE expression reports as -7
    // (answering it with tinyint would report a -7 request as -6).
    case SQL_BIT: *domain = "bit"; return true;
    case SQL_TINYINT: *domain = "tinyint"; return true;
    case SQL_BIGINT: *domain = "bigint"; return true;
    case SQL_LONGVARBINARY: *domain = "long binary"; return true;
    case SQL_VARBINARY: *domain = "varbinary"; return true;
    case SQL_BINARY: *domain = "binary"; return true;
    case SQL_LONGVARCHAR: *domain = "long varchar"; return true;
    case SQL_ALL_TYPES: *domain = nullptr; return true;
    case SQL_CHAR: *domain = "char"; return true;
    case SQL_NUMERIC: *domain = "numeric"; return true;
    case SQL_DECIMAL: *domain = "decimal"; return true;
    case SQL_INTEGER: *domain = "integer"; return true;
    case SQL_SMALLINT: *domain = "smallint"; return true;
    case SQL_FLOAT: *domain = "odbcfloat"; return true;  // the answer is the constant row
    case SQL_REAL: *domain = "float"; return true;
    case SQL_DOUBLE: *domain = "double"; return true;
    case SQL_DATE: case SQL_TYPE_DATE: *domain = "date"; return true;
    case SQL_TIME: case SQL_TYPE_TIME: *domain = "time"; return true;
    case SQL_TIMESTAMP: case SQL_TYPE_TIMESTAMP: *domain = "timestamp"; return true;
    case SQL_VARCHAR: *domain = "varchar"; return true;
    default: return false;
  }
}

// The texts shared by LITERAL_PREFIX and LITERAL_SUFFIX: a quote for the types written
// as quoted literals.
constexpr const char* kLiteralQuote =
    "if domain_name like '%char%' or domain_name like '%binary%' or domain_name like 'java%' "
    "or domain_name like 'time%' or domain_name = 'date' or domain_name = 'uniqueidentifier' "
    "or domain_name = 'varbit' or domain_name = 'long varbit' or domain_name = 'xml' or "
    "domain_name = 'st_geometry' then '''' endif AS ";

void AddDomainRows(CatalogQuery* q, const char* domain) {
  AddSelectItem(q, "DISTINCT if domain_name = 'float' then 'real' else domain_name endif AS "
                   "TYPE_NAME,");
  AddDataTypeExpression(q, true);
  Append(q, "AS DATA_TYPE");
  AddSelectItem(
      q,
      "cast(coalesce(if (domain_name = 'numeric' or domain_name = 'decimal') then 127 endif,"
      "if domain_name like '%smallint' then 5 endif,if domain_name = 'tinyint' then 3 endif,"
      "if domain_name = 'integer' then 10 endif,if domain_name = 'float' then 7 endif,"
      "if domain_name = 'double' then 15 endif,if domain_name = 'date' then 10 endif,"
      "if domain_name = 'time' then 8 endif,if domain_name = 'timestamp' then 19+1+6 endif,"
      "if domain_name = 'timestamp with time zone' then 19+1+6+1+1+5 endif,"
      "if (domain_name like 'long%' or domain_name like 'java%' or domain_name = 'xml' or "
      "domain_name = 'st_geometry') then 2147483647 endif,"
      "if domain_name like '%bigint' then 20 endif,if domain_name = 'bit' then 1 endif,"
      "if domain_name = 'unsigned int' then 10 endif,"
      "if domain_name = 'uniqueidentifier' then 36 endif,");
  Append(q, ByVersion(q, "32767) as integer) AS COLUMN_SIZE",
                      "32767) as integer) AS \"PRECISION\""));
  AddSelectItem(q, kLiteralQuote);
  Append(q, "LITERAL_PREFIX");
  AddSelectItem(q, kLiteralQuote);
  Append(q, "LITERAL_SUFFIX");
  AddSelectItem(q,
                "if domain_name not like 'long %' then if domain_name like '%char%' or "
                "domain_name like '%binary%' or domain_name = 'varbit' then 'max length' else  "
                "if (domain_name='numeric' or domain_name='decimal') then 'precision, scale' "
                "endif endif endif AS CREATE_PARAMS");
  AddSelectItem(q, "cast(1 as smallint) AS NULLABLE");
  AddSelectItem(q,
                "cast(if (domain_name like '%char%' or domain_name = 'xml' or domain_name = "
                "'timestamp with time zone' or domain_name = 'st_geometry') and 'A'<>'a' then 1 "
                "else 0 endif as smallint)AS CASE_SENSITIVE");
  AddSelectItem(q, "cast(3 as smallint) AS SEARCHABLE");
  AddSelectItem(q,
                "cast(if domain_name in ('smallint','integer','tinyint','bigint','float',"
                "'double','decimal','numeric') then 0 else if domain_name = 'bit' or "
                "domain_name like 'unsigned%' then 1 endif endif as smallint) AS "
                "UNSIGNED_ATTRIBUTE");
  AddSelectItem(q, ByVersion(q, "cast(0 as smallint) AS FIXED_PREC_SCALE",
                             "cast(0 as smallint) AS \"MONEY\""));
  AddSelectItem(q,
                "cast(coalesce(if domain_name like '%int' then 0 endif,"
                "if domain_name = 'decimal' then 0 endif,if domain_name = 'numeric' then 0 endif,"
                "if domain_name = 'integer' then 0 endif,if domain_name = 'float' then 0 endif,"
                "if domain_name = 'double' then 0 endif, NULL) as smallint) AS ");
  Append(q, ByVersion(q, "AUTO_UNIQUE_VALUE", "AUTO_INCREMENT"));
  AddSelectItem(q, "if domain_name = 'float' then 'real' else domain_name endif AS "
                   "LOCAL_TYPE_NAME");
  AddSelectItem(q,
                "cast(coalesce(if (domain_name = 'numeric' or domain_name = 'decimal') then 0 "
                "endif,if domain_name = 'smallint' then 0 endif,if domain_name = 'tinyint' then "
                "0 endif,if domain_name = 'integer' then 0 endif,if domain_name = 'timestamp' "
                "then 0 endif) as smallint) AS \"MINIMUM_SCALE\"");
  AddSelectItem(q,
                "cast(coalesce(if domain_name = 'smallint' then 0 endif,if domain_name = "
                "'tinyint' then 0 endif,if domain_name = 'integer' then 0 endif,if domain_name "
                "= 'timestamp' then 6 endif) as smallint) AS \"MAXIMUM_SCALE\"");
  AddSqlDataTypeColumns(q);
  AddRadixColumn(q, "integer", nullptr);
  AddSelectItem(q, "cast(NULL as smallint) AS INTERVAL_PRECISION");
  AddSelectItem(q,
                "cast(coalesce(if domain_name = 'char' then 1 endif,if domain_name = 'varchar' "
                "then 2 endif,if domain_name = 'varbit' then 3 endif,if domain_name = "
                "'timestamp with time zone' then 4 endif,if domain_name = 'long varchar' then 1 "
                "endif,if domain_name = 'xml' then 2 endif,if domain_name = 'long varbit' then "
                "3 endif,if domain_name = 'st_geometry' then 4 endif,1) as smallint) AS "
                "TYPE_ORDINAL");
  AddFromItem(q, "SYS.SYSDOMAIN");
  AddCondition(q, "domain_name not like 'java%'");
  if (domain != nullptr) {
    AddIdentifierFilter(q, "domain_name", CatalogArg{domain, std::strlen(domain)});
  }
}

// One constant row over SYS.DUMMY: the twenty items in column order.
void AddConstantRow(CatalogQuery* q, const std::string (&items)[20]) {
  StartUnionBranch(q);
  for (const std::string& item : items) AddSelectItem(q, item.c_str());
  AddFromItem(q, "SYS.DUMMY");
}

std::string SmallCast(int value) { return "cast(" + std::to_string(value) + " as smallint)"; }

void AddFloatRow(CatalogQuery* q) {
  const std::string row[20] = {
      "'float'", "6", "15", "cast(NULL AS CHAR(128))", "cast(NULL AS CHAR(128))",
      "cast(NULL AS CHAR(128))", "cast(1 as smallint)", "cast(0 as smallint)",
      "cast(3 as smallint)", "cast(0 as smallint)", "cast(0 as smallint)",
      "cast(0 as smallint)", "'float'", "cast( NULL as smallint )", "cast( NULL as smallint )",
      "cast(6 as smallint)", "cast(NULL as smallint)", "cast(2 as integer)",
      "cast(NULL as smallint)", "cast(1 as smallint)"};
  AddConstantRow(q, row);
}

// The wide character row of a server before version 10: the char row for -8, the varchar
// row for -9, the long varchar row for -10.
void AddWideRow(CatalogQuery* q, SQLSMALLINT type) {
  const bool long_row = type == SQL_WLONGVARCHAR;
  const std::string name =
      type == SQL_WCHAR ? "'char'" : (type == SQL_WVARCHAR ? "'varchar'" : "'long varchar'");
  const std::string case_sensitive = SmallCast((q->dbc->cap_a & kCapCaseSensitive) != 0 ? 1 : 0);
  const std::string row[20] = {
      name, std::to_string(type), long_row ? "2147483647" : "32767", "''''", "''''",
      long_row ? "cast(NULL as CHAR(128))" : "'max length'", "cast(1 as smallint)",
      case_sensitive, "cast(3 as smallint)", "cast( NULL as smallint )", "cast(0 as smallint)",
      "cast(NULL as smallint)", name, "cast( NULL as smallint )", "cast( NULL as smallint )",
      SmallCast(type), "cast(NULL as smallint)", "cast(NULL as integer)",
      "cast(NULL as smallint)", "cast(1 as smallint)"};
  AddConstantRow(q, row);
}

void AddMoneyRow(CatalogQuery* q, const char* name, int precision, int scale, int ordinal) {
  const std::string row[20] = {
      name, "2", SmallCast(precision), "cast(NULL AS CHAR(128))", "cast(NULL AS CHAR(128))",
      "cast(NULL as CHAR(128))", "cast(1 as smallint)", "cast(0 as smallint)",
      "cast(3 as smallint)", "cast(0 as smallint)", "cast(1 as smallint)",
      "cast(0 as smallint)", name, SmallCast(scale), SmallCast(scale), "cast(2 as smallint)",
      "cast(NULL as smallint)", "cast(10 as integer)", "cast(NULL as smallint)",
      SmallCast(ordinal)};
  AddConstantRow(q, row);
}

void AddUniqueIdentifierRow(CatalogQuery* q) {
  const std::string row[20] = {
      "'uniqueidentifier'", "-11", "36", "''''", "''''", "cast(NULL as CHAR(128))",
      "cast(1 as smallint)", "cast(0 as smallint)", "cast(3 as smallint)",
      "cast(NULL as smallint )", "cast(0 as smallint)", "cast(NULL as smallint)",
      "'uniqueidentifier'", "cast(NULL as smallint )", "cast(NULL as smallint )",
      "cast(-11 as smallint)", "cast(NULL as smallint)", "cast(NULL as integer)",
      "cast(NULL as smallint)", "cast(1 as smallint)"};
  AddConstantRow(q, row);
}

}  // namespace

SQLRETURN DoSQLGetTypeInfo(tagSTMT* stmt, SQLSMALLINT data_type) {
  CatalogQuery q;
  if (SQLRETURN refused = BeginCatalogQuery(&q, stmt, nullptr, nullptr, 0); refused != 0) {
    return refused;
  }
  const char* domain = nullptr;
  if (static_cast<std::uint16_t>(data_type + 11) > 104 ||
      !DomainOfType(q.dbc, data_type, &domain)) {
    (void)PostSQLState(stmt, PackSQLState("HY004"), PackSQLState("S1004"));
    return RunCatalogQuery(&q, true);
  }
  AddDomainRows(&q, domain);
  if (data_type == SQL_ALL_TYPES || data_type == SQL_FLOAT) AddFloatRow(&q);
  const bool v10 = (q.dbc->cap_a & kCatalogCapVersion10) != 0;
  if (!v10 && (data_type == SQL_WCHAR || data_type == SQL_WVARCHAR ||
               data_type == SQL_WLONGVARCHAR)) {
    AddWideRow(&q, data_type);
  }
  if (data_type == SQL_ALL_TYPES || data_type == SQL_NUMERIC || data_type == SQL_DECIMAL) {
    AddMoneyRow(&q, "'money'", q.dbc->fixed_shapes[0][0], q.dbc->fixed_shapes[0][1], 2);
    AddMoneyRow(&q, "'smallmoney'", q.dbc->fixed_shapes[1][0], q.dbc->fixed_shapes[1][1], 3);
  }
  if ((q.dbc->cap_b & kCatalogCapVersion9002) == 0 &&
      (data_type == SQL_ALL_TYPES || data_type == SQL_GUID)) {
    AddUniqueIdentifierRow(&q);
  }
  AddOrderBy(&q, "2,20,1");
  return RunCatalogQuery(&q, true);
}
