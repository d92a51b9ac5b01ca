// SQLPrimaryKeys, SQLForeignKeys, SQLStatistics and SQLSpecialColumns: one SELECT each
// over SYSTABLE, SYSCOLUMN, SYSCONSTRAINT, SYSFOREIGNKEY, SYSFKCOL, SYSTRIGGER, SYSINDEX
// and SYSIXCOL. Schema and table arguments are plain names, not patterns: they compare
// exactly (AddIdentifierFilter).
#include <string>

#include "odbc/attributes.h"
#include "odbc/catalog/catalog.h"
#include "odbc/catalog/catalog_query.h"
#include "odbc/diagnostics.h"
#include "odbc/engine.h"

namespace {

constexpr std::int32_t kOptTxnIsolation = SQL_ATTR_TXN_ISOLATION;  // 108
// The isolation a connection runs at when the application set none (read uncommitted).
constexpr SQLULEN kDefaultIsolation = SQL_TXN_READ_UNCOMMITTED;

// PKTABLE_CAT, PKTABLE_SCHEM, PKTABLE_NAME, PKCOLUMN_NAME (or FK...), over the aliases
// PKUser, PKTable, PKColumn (FK...).
void AddKeyTableColumns(CatalogQuery* q, const std::string& prefix) {
  AddSelectItem(q, "cast(NULL AS CHAR(128)) AS ");
  Append(q, prefix.c_str());
  Append(q, ByVersion(q, "TABLE_CAT", "TABLE_QUALIFIER"));
  AddSelectItem(q, (prefix + "User.user_name AS " + prefix).c_str());
  Append(q, ByVersion(q, "TABLE_SCHEM", "TABLE_OWNER"));
  AddSelectItem(q, (prefix + "Table.table_name AS " + prefix + "TABLE_NAME").c_str());
  AddSelectItem(q, (prefix + "Column.column_name AS " + prefix + "COLUMN_NAME").c_str());
}

// UPDATE_RULE or DELETE_RULE from the key's trigger for `event` ('C' update, 'D'
// delete): cascade 0, set null 2, any other action 3, no trigger 1 (restrict).
void AddReferentialRule(CatalogQuery* q, const char* event, const char* alias) {
  AddSelectItem(q,
                "cast(isnull((select if referential_action='C' then 0 else if "
                "referential_action='N' then 2 else 3 endif endif from SYSTRIGGER where "
                "table_id=SYSFOREIGNKEY.primary_table_id and "
                "foreign_table_id=SYSFOREIGNKEY.foreign_table_id and "
                "foreign_key_id=SYSFOREIGNKEY.foreign_key_id and event = '");
  Append(q, event);
  Append(q, "'),1) AS smallint) AS ");
  Append(q, alias);
}

// The schema and table conditions every statement of this file ends its branch with.
void AddTableFilters(CatalogQuery* q, const CatalogArg& schema, const CatalogArg& table) {
  AddIdentifierFilter(q, "user_name", schema);
  AddIdentifierFilter(q, "table_name", table);
}

}  // namespace

SQLRETURN DoSQLPrimaryKeys(tagSTMT* stmt, const SQLCHAR* catalog, SQLSMALLINT catalog_length,
                           const SQLCHAR* schema, SQLSMALLINT schema_length,
                           const SQLCHAR* table, SQLSMALLINT table_length) {
  CatalogQuery q;
  if (SQLRETURN refused = BeginCatalogCall(
          &q, stmt,
          {{catalog, catalog_length}, {schema, schema_length}, {table, table_length}});
      refused != 0) {
    return refused;
  }
  AddTableNameColumns(&q);
  AddSelectItem(&q, "COLUMN_NAME");
  AddSelectItem(&q,
                "cast((select count(*) from SYS.SYSCOLUMN other where table_id = "
                "SYSTABLE.table_id and column_id <= SYSCOLUMN.column_id and pkey = 'Y') AS "
                "smallint) AS KEY_SEQ");
  AddSelectItem(&q, "SYSCONSTRAINT.constraint_name AS PK_NAME");
  AddFromItem(&q,
              "SYS.SYSCOLUMN JOIN SYS.SYSTABLE JOIN SYS.SYSUSERPERMS JOIN SYS.SYSCONSTRAINT ON "
              "(SYSTABLE.object_id = SYSCONSTRAINT.table_object_id)");
  AddTableFilters(&q, CatalogArgument(schema, schema_length),
                  CatalogArgument(table, table_length));
  AddCondition(&q, "pkey = 'Y' AND constraint_type = 'P'");
  AddOrderBy(&q, "4");
  return RunCatalogQuery(&q, false);
}

SQLRETURN DoSQLForeignKeys(tagSTMT* stmt, const SQLCHAR* pk_catalog,
                           SQLSMALLINT pk_catalog_length, const SQLCHAR* pk_schema,
                           SQLSMALLINT pk_schema_length, const SQLCHAR* pk_table,
                           SQLSMALLINT pk_table_length, const SQLCHAR* fk_catalog,
                           SQLSMALLINT fk_catalog_length, const SQLCHAR* fk_schema,
                           SQLSMALLINT fk_schema_length, const SQLCHAR* fk_table,
                           SQLSMALLINT fk_table_length) {
  CatalogQuery q;
  if (SQLRETURN refused = BeginCatalogCall(&q, stmt,
                                           {{pk_catalog, pk_catalog_length},
                                            {pk_schema, pk_schema_length},
                                            {pk_table, pk_table_length},
                                            {fk_catalog, fk_catalog_length},
                                            {fk_schema, fk_schema_length},
                                            {fk_table, fk_table_length}});
      refused != 0) {
    return refused;
  }
  CheckCatalogName(&q, CatalogArgument(fk_catalog, fk_catalog_length));
  if (stmt->retcode == SQL_SUCCESS && pk_table == nullptr && fk_table == nullptr) {
    (void)PostSQLState(stmt, kStateHY009, kStateS1009);
  }
  AddKeyTableColumns(&q, "PK");
  AddKeyTableColumns(&q, "FK");
  AddSelectItem(&q,
                "cast((select count(*) from SYS.SYSFKCOL other where "
                "foreign_table_id=SYSFOREIGNKEY.foreign_table_id and "
                "foreign_key_id=SYSFOREIGNKEY.foreign_key_id and primary_column_id <= "
                "SYSFKCOL.primary_column_id) as smallint) AS KEY_SEQ");
  AddReferentialRule(&q, "C", "UPDATE_RULE");
  AddReferentialRule(&q, "D", "DELETE_RULE");
  AddSelectItem(&q, "role AS FK_NAME");
  AddSelectItem(&q, "PKConst.constraint_name AS PK_NAME");
  AddSelectItem(&q,
                "cast(if SYSFOREIGNKEY.check_on_commit = 'Y' then 5 else 6 endif AS smallint) "
                "AS DEFERRABILITY");
  AddFromItem(&q,
              "SYS.SYSUSERPERMS PKUser JOIN SYS.SYSTABLE PKTable JOIN SYS.SYSCONSTRAINT PKConst "
              "ON (PKTABLE.object_id = PKConst.table_object_id) JOIN SYS.SYSCOLUMN PKColumn, "
              "SYS.SYSUSERPERMS FKUser JOIN SYS.SYSTABLE FKTable JOIN SYS.SYSCOLUMN FKColumn, "
              "SYS.SYSFOREIGNKEY JOIN SYS.SYSFKCOL");
  AddCondition(&q,
               "PKTable.table_id=SYSFOREIGNKEY.primary_table_id AND "
               "PKColumn.column_id=SYSFKCOL.primary_column_id");
  AddCondition(&q,
               "FKTable.table_id=SYSFOREIGNKEY.foreign_table_id AND "
               "FKColumn.column_id=SYSFKCOL.foreign_column_id");
  AddIdentifierFilter(&q, "PKUser.user_name", CatalogArgument(pk_schema, pk_schema_length));
  AddIdentifierFilter(&q, "PKTable.table_name", CatalogArgument(pk_table, pk_table_length));
  AddIdentifierFilter(&q, "FKUser.user_name", CatalogArgument(fk_schema, fk_schema_length));
  AddIdentifierFilter(&q, "FKTable.table_name", CatalogArgument(fk_table, fk_table_length));
  AddCondition(&q, "PKConst.constraint_type='P'");
  AddOrderBy(&q, fk_table != nullptr ? "1,2,3,9" : "5,6,7,9");
  return RunCatalogQuery(&q, false);
}

SQLRETURN DoSQLStatistics(tagSTMT* stmt, const SQLCHAR* catalog, SQLSMALLINT catalog_length,
                          const SQLCHAR* schema, SQLSMALLINT schema_length,
                          const SQLCHAR* table, SQLSMALLINT table_length, SQLUSMALLINT unique,
                          SQLUSMALLINT reserved) {
  CatalogQuery q;
  if (SQLRETURN refused = BeginCatalogCall(
          &q, stmt,
          {{catalog, catalog_length}, {schema, schema_length}, {table, table_length}});
      refused != 0) {
    return refused;
  }
  if (stmt->retcode == SQL_SUCCESS && unique > SQL_INDEX_ALL) {
    (void)PostSQLState(stmt, PackSQLState("HY100"), PackSQLState("S1100"));
  }
  if (stmt->retcode == SQL_SUCCESS && reserved > SQL_ENSURE) {
    (void)PostSQLState(stmt, PackSQLState("HY101"), PackSQLState("S1101"));
  }
  const CatalogArg sch = CatalogArgument(schema, schema_length);
  const CatalogArg tab = CatalogArgument(table, table_length);
  const bool ms_applications = (q.dbc->behaviour & kBehavMSApplications) != 0;
  const char* index_table = (q.dbc->cap_a & kCapBrackwater) != 0 &&
                                    DBTableExists(q.dbc, "SYSBWVINDEX") != 0
                                ? "SYSBWVINDEX"
                                : "SYS.SYSINDEX";

  // The table-statistics row: TYPE 0 with the row count.
  AddTableNameColumns(&q);
  AddSelectItem(&q, "cast(NULL AS smallint) AS NON_UNIQUE");
  AddSelectItem(&q, "cast(NULL AS CHAR(128)) AS INDEX_QUALIFIER");
  AddSelectItem(&q, "cast(NULL AS CHAR(128)) AS INDEX_NAME");
  AddSelectItem(&q, "cast(0 as smallint) AS TYPE");
  AddSelectItem(&q, "cast(NULL AS smallint) AS ");
  Append(&q, ByVersion(&q, "ORDINAL_POSITION", "SEQ_IN_INDEX"));
  AddSelectItem(&q, "cast(NULL AS CHAR(128)) AS COLUMN_NAME");
  AddSelectItem(&q, "cast(NULL AS CHAR(1)) AS ");
  Append(&q, ByVersion(&q, "ASC_OR_DESC", "COLLATION"));
  AddSelectItem(&q, "cast(count AS integer) AS CARDINALITY");
  AddSelectItem(&q, "cast(NULL AS integer) AS PAGES");
  AddSelectItem(&q, "cast(NULL AS CHAR(128)) AS FILTER_CONDITION");
  AddFromItem(&q, "SYS.SYSTABLE JOIN SYS.SYSUSERPERMS");
  AddTableFilters(&q, sch, tab);

  if (ms_applications) {  // the primary key shown as an index
    StartUnionBranch(&q);
    AddTableNameColumns(&q);
    AddSelectItem(&q, "0");
    AddSelectItem(&q, "cast(NULL AS CHAR(128))");
    AddSelectItem(&q, "table_name || '(primary key)'");
    AddSelectItem(&q, "1");
    AddSelectItem(&q,
                  "cast((select count(*) from SYS.SYSCOLUMN other where table_id = "
                  "SYSTABLE.table_id and column_id <= SYSCOLUMN.column_id and pkey = 'Y') as "
                  "smallint)");
    AddSelectItem(&q, "column_name");
    AddSelectItem(&q, "'A'");
    AddSelectItem(&q, "cast(count as integer) AS CARDINALITY");
    AddSelectItem(&q, "cast(NULL AS integer)");
    AddSelectItem(&q, "cast(NULL AS CHAR(128))");
    AddFromItem(&q, "SYS.SYSCOLUMN JOIN SYS.SYSTABLE JOIN SYS.SYSUSERPERMS");
    AddTableFilters(&q, sch, tab);
    AddCondition(&q, "pkey = 'Y'");
  }

  // The indexes.
  StartUnionBranch(&q);
  AddTableNameColumns(&q);
  AddSelectItem(&q, "cast(if \"unique\" = 'N' then 1 else 0 endif as smallint)");
  AddSelectItem(&q, "cast(NULL AS CHAR(128))");
  AddSelectItem(&q, "index_name");
  AddSelectItem(&q, "cast(1 as smallint)");
  AddSelectItem(&q, "cast(sequence + 1 as smallint)");
  AddSelectItem(&q, "column_name");
  AddSelectItem(&q, "\"order\"");
  AddSelectItem(&q, "cast(if \"unique\" <> 'N' then count endif as integer)");
  AddSelectItem(&q, "cast(NULL AS integer)");
  AddSelectItem(&q, "cast(NULL AS CHAR(128))");
  AddFromItem(&q, "SYS.SYSCOLUMN JOIN SYS.SYSIXCOL JOIN ");
  Append(&q, index_table);
  Append(&q, " JOIN SYS.SYSTABLE JOIN SYS.SYSUSERPERMS");
  AddTableFilters(&q, sch, tab);
  if (unique == SQL_INDEX_UNIQUE) AddCondition(&q, "\"unique\" != 'N'");

  if (unique == SQL_INDEX_ALL && ms_applications) {  // each foreign key shown as an index
    StartUnionBranch(&q);
    AddTableNameColumns(&q);
    AddSelectItem(&q, "1");
    AddSelectItem(&q, "cast(NULL AS CHAR(128))");
    AddSelectItem(&q, "role || '(foreign key)'");
    AddSelectItem(&q, "1");
    AddSelectItem(&q,
                  "cast((select count(*) from SYS.SYSFKCOL other where "
                  "foreign_table_id=SYSTABLE.table_id and "
                  "foreign_key_id=SYSFOREIGNKEY.foreign_key_id and primary_column_id <= "
                  "SYSFKCOL.primary_column_id) as smallint)");
    AddSelectItem(&q, "column_name");
    AddSelectItem(&q, "'A'");
    AddSelectItem(&q, "cast(NULL AS integer)");
    AddSelectItem(&q, "cast(NULL AS integer)");
    AddSelectItem(&q, "cast(NULL AS CHAR(128))");
    AddFromItem(&q,
                "SYS.SYSCOLUMN JOIN SYS.SYSFKCOL JOIN SYS.SYSFOREIGNKEY,SYS.SYSTABLE JOIN "
                "SYS.SYSUSERPERMS");
    AddCondition(&q, "SYSFOREIGNKEY.foreign_table_id=SYSTABLE.table_id");
    AddTableFilters(&q, sch, tab);
  }
  AddOrderBy(&q, "4,7,5,6,8");
  return RunCatalogQuery(&q, true);
}

SQLRETURN DoSQLSpecialColumns(tagSTMT* stmt, SQLUSMALLINT identifier_type,
                              const SQLCHAR* catalog, SQLSMALLINT catalog_length,
                              const SQLCHAR* schema, SQLSMALLINT schema_length,
                              const SQLCHAR* table, SQLSMALLINT table_length,
                              SQLUSMALLINT scope, SQLUSMALLINT nullable) {
  CatalogQuery q;
  if (SQLRETURN refused = BeginCatalogCall(
          &q, stmt,
          {{catalog, catalog_length}, {schema, schema_length}, {table, table_length}});
      refused != 0) {
    return refused;
  }
  if (stmt->retcode == SQL_SUCCESS && nullable > SQL_NULLABLE) {
    (void)PostSQLState(stmt, PackSQLState("HY099"), PackSQLState("S1099"));
  }
  if (stmt->retcode == SQL_SUCCESS && identifier_type != SQL_BEST_ROWID &&
      identifier_type != SQL_ROWVER) {
    (void)PostSQLState(stmt, PackSQLState("HY097"), PackSQLState("S1097"));
  }
  if (stmt->retcode == SQL_SUCCESS && scope > SQL_SCOPE_SESSION) {
    (void)PostSQLState(stmt, PackSQLState("HY098"), PackSQLState("S1098"));
  }
  SQLULEN isolation = Option(q.dbc, kOptTxnIsolation);
  if (isolation == 0) isolation = kDefaultIsolation;
  const int level = Map_isolation(isolation);
  const int reported = scope == SQL_SCOPE_CURROW && level > 1 ? 1 : scope;
  // The scope is cast so that the column is described as SMALLINT, as ODBC declares it,
  // rather than as whatever type the server gives a bare number.
  AddSelectItem(&q, ("cast(" + std::to_string(reported) + " as smallint) AS SCOPE").c_str());
  AddSelectItem(&q, "COLUMN_NAME");
  AddDomainColumns(&q, "SYSCOLUMN");
  AddSelectItem(&q, "CAST(1 AS SMALLINT) AS PSEUDO_COLUMN");
  AddFromItem(&q, "SYS.SYSCOLUMN JOIN SYS.SYSTABLE JOIN SYS.SYSUSERPERMS");
  // The scope and isolation say how long a row identifier stays valid; version columns
  // change with the row whatever the scope, so they are listed for every scope (the JDBC
  // bridge asks for them with the session scope).
  const bool rows = identifier_type == SQL_ROWVER ||
                    (scope == SQL_SCOPE_CURROW && level >= 1) ||
                    (scope == SQL_SCOPE_TRANSACTION && level > 1);
  if (!rows) {
    AddCondition(&q, "1=0");
    return RunCatalogQuery(&q, true);
  }
  AddTableFilters(&q, CatalogArgument(schema, schema_length),
                  CatalogArgument(table, table_length));
  if (identifier_type == SQL_BEST_ROWID) {
    AddCondition(&q,
                 "(pkey = 'Y' or (SYSTABLE.table_id not in (select table_id from SYSCOLUMN "
                 "where pkey='Y') and column_id in (select column_id from SYSIXCOL where "
                 "table_id=SYSTABLE.table_id and index_id = coalesce( (select min(index_id) "
                 "from SYSINDEX where table_id=SYSTABLE.table_id and \"unique\" = 'U'), "
                 "(select min(index_id) from SYSINDEX where table_id=SYSTABLE.table_id and "
                 "\"unique\" = 'Y' ");
    if (nullable == SQL_NO_NULLS) {
      Append(&q,
             "and index_id not in (select index_id from SYSIXCOL join SYSCOLUMN where "
             "SYSCOLUMN.table_id=SYSTABLE.table_id and SYSIXCOL.table_id=SYSTABLE.table_id and "
             "nulls = 'Y') )))))");
      AddCondition(&q, "nulls = 'N'");
    } else {
      Append(&q, ")))))");
    }
  } else {
    AddCondition(&q, "\"default\" = 'timestamp'");
  }
  return RunCatalogQuery(&q, true);
}
