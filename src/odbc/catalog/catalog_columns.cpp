// Column groups of the catalog statements: the table-name columns, the data-type
// expression, the domain columns, radix, default, SQL_DATA_TYPE pair, octet length, and
// the table-type filter of SQLTables. The texts are the server's own dialect (if ...
// endif, byte_substr), sent as they are.
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "odbc/catalog/catalog_query.h"

namespace {

constexpr const char* kDomainTail = " from SYS.SYSDOMAIN where domain_id=";

bool StartsWithIgnoringCase(const char* text, std::size_t length, std::size_t at,
                            const char* word) {
  const std::size_t n = std::strlen(word);
  if (length - at < n) return false;
  for (std::size_t k = 0; k < n; ++k) {
    if (std::tolower(static_cast<unsigned char>(text[at + k])) != word[k]) return false;
  }
  return true;
}

// "(select " + expression + tail + table + ".domain_id) AS " + name, as one select item.
void AddDomainSubselect(CatalogQuery* q, const char* expression, const char* table,
                        const char* name) {
  AddSelectItem(q, "(select ");
  Append(q, expression);
  Append(q, kDomainTail);
  Append(q, table);
  Append(q, ".domain_id) AS ");
  Append(q, name);
}

// The items of a table-type list: a list in SQL quotes ('TABLE','VIEW') is read as the
// literals it holds; anything else is split at its commas. False when a list that starts
// with a quote is not a clean list of literals.
bool ReadQuotedTypes(const char* text, std::size_t length, std::vector<std::string>* items) {
  std::size_t k = 0;
  for (;;) {
    while (k < length && text[k] == ' ') ++k;
    if (k == length || text[k] != '\'') return false;
    std::string item;
    ++k;
    for (;;) {
      if (k == length) return false;  // unclosed
      if (text[k] == '\'') {
        if (k + 1 < length && text[k + 1] == '\'') {
          item.push_back('\'');
          k += 2;
          continue;
        }
        ++k;
        break;
      }
      item.push_back(text[k++]);
    }
    items->push_back(item);
    while (k < length && text[k] == ' ') ++k;
    if (k == length) return true;
    if (text[k] != ',') return false;
    ++k;
  }
}

std::vector<std::string> TableTypes(const char* text, std::size_t length) {
  std::vector<std::string> items;
  if (text[0] == '\'' && ReadQuotedTypes(text, length, &items)) return items;
  items.clear();
  std::size_t from = 0;
  for (std::size_t k = 0; k <= length; ++k) {
    if (k == length || text[k] == ',') {
      items.emplace_back(text + from, k - from);
      from = k + 1;
    }
  }
  return items;
}

}  // namespace

void AddTableNameColumns(CatalogQuery* q) {
  AddSelectItem(q, "cast(NULL AS CHAR(128)) AS ");
  Append(q, ByVersion(q, "TABLE_CAT", "TABLE_QUALIFIER"));
  AddSelectItem(q, "SYSUSERPERMS.user_name AS ");
  Append(q, ByVersion(q, "TABLE_SCHEM", "TABLE_OWNER"));
  AddSelectItem(q, "SYSTABLE.table_name AS TABLE_NAME");
}

void AddDataTypeExpression(CatalogQuery* q, bool concise) {
  Append(q, "cast(coalesce(");
  if (!concise) {
    Append(q, "if (domain_name='date' or domain_name='time' or domain_name='timestamp') then 9 "
              "endif,");
  } else if (q->odbc_version == 3) {
    Append(q, "if domain_name='date' then 91 endif,if domain_name='time' then 92 endif,"
              "if domain_name='timestamp' then 93 endif,");
  } else {
    Append(q, "if domain_name='date' then 9 endif,if domain_name='time' then 10 endif,"
              "if domain_name='timestamp' then 11 endif,");
  }
  Append(q,
         "if domain_name='binary' then -2 endif,if domain_name='varbinary' then -3 endif,"
         "if domain_name='double' then 8 endif,if domain_name='float' then 7 endif,"
         "if (domain_name='integer' or domain_name='unsigned int') then 4 endif,"
         "if (domain_name='long binary' or domain_name like 'java%') then -4 endif,"
         "if domain_name='long varchar' then -1 endif,if domain_name='xml' then -1 endif,"
         "if domain_name='numeric' then 2 endif,if domain_name='decimal' then 3 endif,"
         "if domain_name like '%smallint' then 5 endif,if domain_name='tinyint' then -6 endif,"
         "if domain_name like '%bigint' then -5 endif,if domain_name='bit' then -7 endif,"
         "if domain_name='uniqueidentifier' then -11 endif,"
         "if domain_name='st_geometry' then -1 endif,if domain_name='nchar' then -8 endif,"
         "if domain_name='nvarchar' then -9 endif,if domain_name='long nvarchar' then -10 endif,"
         "if domain_name='long varbit' then -1 endif,");
  if ((q->dbc->cap_b & kCatalogCapCharVarchar) != 0 ||
      (q->dbc->behaviour & kBehavGetTypeInfoChar) != 0) {
    Append(q, "if domain_name='char' then 1 endif,");
  }
  Append(q, "12) AS smallint)");
}

void AddDomainColumns(CatalogQuery* q, const char* table) {
  AddSelectItem(q, "(select ");
  AddDataTypeExpression(q, true);
  Append(q, kDomainTail);
  Append(q, table);
  Append(q, ".domain_id) AS DATA_TYPE");
  AddDomainSubselect(q, "domain_name", table, "TYPE_NAME");
  AddDomainSubselect(
      q,
      "cast(coalesce(if domain_name = 'tinyint' then 3 endif,"
      "if domain_name = 'smallint' then 5 endif,if domain_name = 'integer' then 10 endif,"
      "if domain_name = 'float' then 7 endif,if domain_name = 'double' then 15 endif,"
      "if domain_name = 'date' then 10 endif,if domain_name = 'time' then 8 endif,"
      "if domain_name = 'timestamp' then 19+1+6 endif,"
      "if domain_name = 'uniqueidentifier' then 36 endif,"
      "if domain_name = 'timestamp with time zone' then 19+1+6+1+1+5 endif,"
      "if (domain_name like 'long%' or domain_name like 'java%' or domain_name = 'xml' or "
      "domain_name = 'st_geometry') then 2147483647 endif,width) AS integer)",
      table, ByVersion(q, "COLUMN_SIZE", "\"PRECISION\""));
  AddDomainSubselect(
      q,
      "cast(coalesce(if domain_name='date' then 6 endif,"
      "if (domain_name='numeric' or domain_name='decimal') then width + 2 endif,"
      "if domain_name='time' then 6 endif,if domain_name='timestamp' then 16 endif,"
      "if domain_name='uniqueidentifier' then 36 endif,"
      "if domain_name = 'timestamp with time zone' then 19+1+6+1+1+5 endif,"
      "if (domain_name='nchar' or domain_name='nvarchar') then width*2 endif,width) AS "
      "integer)",
      table, ByVersion(q, "BUFFER_LENGTH", "LENGTH"));
  AddDomainSubselect(
      q,
      "cast(coalesce(if (domain_name='numeric' or domain_name='decimal') then SCALE endif,"
      "if domain_name='timestamp' then 6 endif,"
      "if domain_name in ('smallint','integer','tinyint') then 0 endif)AS smallint)",
      table, ByVersion(q, "DECIMAL_DIGITS", "SCALE"));
}

void AddRadixColumn(CatalogQuery* q, const char* sql_type, const char* table) {
  constexpr const char* kRadix =
      "cast(coalesce(if domain_name='double' or domain_name='float' then 2 endif,"
      "if (domain_name like '%int%' or domain_name='bit' or domain_name='numeric' or "
      "domain_name='decimal') then 10 endif ) AS ";
  if (table != nullptr) {
    AddSelectItem(q, "(select ");
    Append(q, kRadix);
    Append(q, sql_type);
    Append(q, ")");
    Append(q, kDomainTail);
    Append(q, table);
    Append(q, ".domain_id) AS ");
    Append(q, ByVersion(q, "NUM_PREC_RADIX", "RADIX"));
  } else {
    AddSelectItem(q, kRadix);
    Append(q, sql_type);
    Append(q, ByVersion(q, ") AS NUM_PREC_RADIX", ") AS RADIX"));
  }
}

void AddColumnDefault(CatalogQuery* q, const char* table) {
  AddSelectItem(q, "cast(if ");
  Append(q, table);
  Append(q, ".\"default\" is null then 'NULL' else byte_substr(");
  Append(q, table);
  Append(q, ".\"default\",1,4000) endif as varchar(4000)) as COLUMN_DEF");
}

void AddSqlDataTypeColumns(CatalogQuery* q) {
  AddSelectItem(q, "");
  AddDataTypeExpression(q, false);
  Append(q, "AS SQL_DATA_TYPE");
  AddSelectItem(q, q->odbc_version == 3
                       ? "cast(coalesce(if domain_name='date' then 1 endif,"
                         "if domain_name='time' then 2 endif,"
                         "if domain_name='timestamp' then 3 endif) AS smallint) AS "
                         "SQL_DATETIME_SUB"
                       : "cast(coalesce(if domain_name='date' then 9 endif,"
                         "if domain_name='time' then 10 endif,"
                         "if domain_name='timestamp' then 11 endif) AS smallint) AS "
                         "SQL_DATETIME_SUB");
}

void AddCharOctetLength(CatalogQuery* q, const char* table, const char* sql_type) {
  AddSelectItem(q,
                "cast(coalesce(if SYSDOMAIN.domain_name like 'long%' then 2147483647 endif,"
                "if SYSDOMAIN.domain_name = 'uniqueidentifier' then 36 endif,"
                "if (SYSDOMAIN.domain_name='nchar' or SYSDOMAIN.domain_name='nvarchar') then ");
  Append(q, table);
  Append(q, ".width * 2 endif,");
  Append(q,
         "if (SYSDOMAIN.domain_name='char' or SYSDOMAIN.domain_name='varchar' or "
         "SYSDOMAIN.domain_name='binary' or SYSDOMAIN.domain_name='varbinary') then ");
  Append(q, table);
  Append(q, ".width endif) as ");
  Append(q, sql_type);
  Append(q, ") as CHAR_OCTET_LENGTH");
}

void AddTableTypeFilter(CatalogQuery* q, const CatalogArg& types) {
  if (types.length == 0) return;
  const char* text = types.text;
  const std::size_t length = types.length;
  // Each type the application named becomes one literal of our own quoting: a list in
  // SQL quotes is read, never spliced into the statement as it stands.
  std::vector<std::string> items = TableTypes(text, length);
  bool system_table = false;
  if (length >= 6) {
    for (std::size_t k = 0; k + 6 <= length; ++k) {
      if (StartsWithIgnoringCase(text, length, k, "system") &&
          !StartsWithIgnoringCase(text, length, k, "system view")) {
        system_table = true;
        break;
      }
    }
  }
  if (system_table) items.emplace_back("SYSTEM TABLE");
  for (std::size_t k = 0; length - k >= 4;) {
    if (StartsWithIgnoringCase(text, length, k, "system view")) {
      k += 11;
      if (k > length) break;
      continue;
    }
    if (StartsWithIgnoringCase(text, length, k, "view")) {
      items.emplace_back("MATERIALIZED VIEW");
      break;
    }
    ++k;
  }
  if (items.empty()) return;
  AddConditionKeyword(q);
  Append(q, "TABLE_TYPE IN (");
  for (std::size_t k = 0; k < items.size(); ++k) {
    if (k != 0) Append(q, ",");
    AppendLiteral(q, items[k].data(), items[k].size());
  }
  Append(q, ")");
}
