// SQLTables and SQLColumns: one SELECT over SYS.SYSTABLE, SYS.SYSCOLUMN, SYS.SYSUSERPERMS
// and SYS.SYSDOMAIN each.
//
// SQLTables has four forms: the general list, the catalog list (this server has no
// catalogs: the general columns and no row), the schema list (one row per user) and the
// table-type list (eight fixed rows).
#include <string>

#include "odbc/catalog/catalog.h"
#include "odbc/catalog/catalog_query.h"
#include "odbc/engine.h"

namespace {

constexpr int kDboNameBytes = 128;

// The owner test of the general statement: SYS always; the replication system-table
// group when it exists; the dbo user when it created RowSource (only the tables listed
// in HIDDENOBJECT when that table exists).
std::string SystemOwnerTest(tagDBC* dbc) {
  std::string s = "= 'SYS'";
  if (DBkx_systabExists(dbc) == 0) s += " or ( user_name = 'kx_systabgroup' )";
  char dbo[kDboNameBytes] = {0};
  if (DBGetDBOUserName(dbc, dbo, sizeof dbo) == 0 && dbo[0] != '\0') {
    s += " or ( user_name = '";
    for (const char* p = dbo; *p != '\0'; ++p) {
      s.push_back(*p);
      if (*p == '\'') s.push_back('\'');
    }
    s += DBTableExists(dbc, "HIDDENOBJECT") != 0
             ? "' and table_name in ( select name from HIDDENOBJECT ) )"
             : "' )";
  }
  return s;
}

void AddSchemaList(CatalogQuery* q) {
  AddSelectItem(q, "cast(NULL AS CHAR(128)) AS ");
  Append(q, ByVersion(q, "TABLE_CAT", "TABLE_QUALIFIER"));
  AddSelectItem(q, "user_name AS ");
  Append(q, ByVersion(q, "TABLE_SCHEM", "TABLE_OWNER"));
  AddSelectItem(q, "cast(NULL AS CHAR(128)) AS TABLE_NAME");
  AddSelectItem(q, "cast(NULL AS CHAR(128)) AS TABLE_TYPE");
  AddSelectItem(q, "cast(NULL AS CHAR(254)) AS REMARKS");
  AddFromItem(q, "SYSUSERPERMS");
  AddOrderBy(q, "user_name");
}

void AddTableTypeList(CatalogQuery* q) {
  AddSelectItem(q, "NULL AS ");
  Append(q, ByVersion(q, "TABLE_CAT", "TABLE_QUALIFIER"));
  AddSelectItem(q, "NULL AS ");
  Append(q, ByVersion(q, "TABLE_SCHEM", "TABLE_OWNER"));
  AddSelectItem(q, "NULL AS TABLE_NAME");
  AddSelectItem(q, "'TABLE' AS TABLE_TYPE");
  AddSelectItem(q, "NULL AS REMARKS");
  static const char* const kTypes[] = {"VIEW", "SYSTEM TABLE", "SYSTEM VIEW",
                                       "GLOBAL TEMPORARY", "MATERIALIZED VIEW", "TEXT",
                                       "PARTITION"};
  for (const char* type : kTypes) {
    Append(q, " UNION ALL select NULL, NULL, NULL, '");
    Append(q, type);
    Append(q, "', NULL");
  }
}

void AddGeneralTableList(CatalogQuery* q, const CatalogArg& schema, const CatalogArg& table,
                         const CatalogArg& types, bool catalog_list) {
  AddTableNameColumns(q);
  const std::string s = SystemOwnerTest(q->dbc);
  const std::string type_item =
      "if table_type = 'VIEW' then if user_name " + s +
      " then 'SYSTEM VIEW' else 'VIEW' endif else if table_type = 'BASE' then if user_name " +
      s +
      " then 'SYSTEM TABLE' else 'TABLE' endif else if table_type = 'GBL TEMP' then "
      "'GLOBAL TEMPORARY' else if table_type = 'MAT VIEW' then 'MATERIALIZED VIEW' else if "
      "table_type = 'TEXT' then 'TEXT' else if table_type = 'PARTITION' then 'PARTITION' else "
      "'LOCAL TEMPORARY' endif endif endif endif endif endif AS TABLE_TYPE";
  AddSelectItem(q, type_item.c_str());
  AddSelectItem(q, "cast(byte_substr(SYSTABLE.remarks,1,254) as VARCHAR(254)) AS REMARKS");
  AddFromItem(q, "SYS.SYSTABLE JOIN SYS.SYSUSERPERMS");
  AddPatternFilter(q, "user_name", schema);
  AddPatternFilter(q, "table_name", table);
  AddTableTypeFilter(q, types);
  if (catalog_list) AddCondition(q, "1=0");
  AddOrderBy(q, "4,1,2,3");
}

}  // namespace

SQLRETURN DoSQLTables(tagSTMT* stmt, const SQLCHAR* catalog, SQLSMALLINT catalog_length,
                      const SQLCHAR* schema, SQLSMALLINT schema_length, const SQLCHAR* table,
                      SQLSMALLINT table_length, const SQLCHAR* table_types,
                      SQLSMALLINT table_types_length) {
  CatalogQuery q;
  const SQLSMALLINT lengths[] = {catalog_length, schema_length, table_length,
                                 table_types_length};
  const SQLCHAR* const texts[] = {catalog, schema, table, table_types};
  if (SQLRETURN refused = BeginCatalogQuery(&q, stmt, lengths, texts, 4); refused != 0) {
    return refused;
  }
  const CatalogArg cat = CatalogArgument(catalog, catalog_length);
  const CatalogArg sch = CatalogArgument(schema, schema_length);
  const CatalogArg tab = CatalogArgument(table, table_length);
  const CatalogArg typ = CatalogArgument(table_types, table_types_length);
  if (tab.length != 0) {
    CheckCatalogName(&q, cat);
    AddGeneralTableList(&q, sch, tab, typ, false);
  } else if (IsPercent(cat) && sch.length == 0) {
    AddGeneralTableList(&q, sch, tab, typ, true);
  } else if (cat.length == 0 && IsPercent(sch)) {
    AddSchemaList(&q);
  } else if (cat.length == 0 && sch.length == 0 && IsPercent(typ)) {
    AddTableTypeList(&q);
  } else {
    CheckCatalogName(&q, cat);
    AddGeneralTableList(&q, sch, tab, typ, false);
  }
  return RunCatalogQuery(&q, false);
}

SQLRETURN DoSQLColumns(tagSTMT* stmt, const SQLCHAR* catalog, SQLSMALLINT catalog_length,
                       const SQLCHAR* schema, SQLSMALLINT schema_length, const SQLCHAR* table,
                       SQLSMALLINT table_length, const SQLCHAR* column,
                       SQLSMALLINT column_length) {
  CatalogQuery q;
  const SQLSMALLINT lengths[] = {catalog_length, schema_length, table_length, column_length};
  const SQLCHAR* const texts[] = {catalog, schema, table, column};
  if (SQLRETURN refused = BeginCatalogQuery(&q, stmt, lengths, texts, 4); refused != 0) {
    return refused;
  }
  CheckCatalogName(&q, CatalogArgument(catalog, catalog_length));
  AddTableNameColumns(&q);
  AddSelectItem(&q, "COLUMN_NAME");
  AddDomainColumns(&q, "SYSCOLUMN");
  AddRadixColumn(&q, "smallint", "SYSCOLUMN");
  AddSelectItem(&q, "cast(if nulls='Y' then 1 else 0 endif as smallint) as NULLABLE");
  AddSelectItem(&q, "cast(byte_substr(SYSCOLUMN.remarks,1,254) as VARCHAR(254)) AS REMARKS");
  AddColumnDefault(&q, "SYSCOLUMN");
  AddSqlDataTypeColumns(&q);
  AddCharOctetLength(&q, "SYSCOLUMN", "integer");
  AddSelectItem(&q, "cast(SYSCOLUMN.column_id as integer) as ORDINAL_POSITION");
  AddSelectItem(&q, "cast(if nulls='Y' then 'YES' else 'NO' endif as varchar) as IS_NULLABLE");
  AddFromItem(&q, "SYS.SYSCOLUMN JOIN SYS.SYSTABLE JOIN SYS.SYSUSERPERMS JOIN SYS.SYSDOMAIN");
  AddPatternFilter(&q, "user_name", CatalogArgument(schema, schema_length));
  AddPatternFilter(&q, "table_name", CatalogArgument(table, table_length));
  AddPatternFilter(&q, "column_name", CatalogArgument(column, column_length));
  AddOrderBy(&q, "1,2,3,SYSCOLUMN.column_id");
  return RunCatalogQuery(&q, true);
}
