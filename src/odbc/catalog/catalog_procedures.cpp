// SQLProcedures, SQLProcedureColumns, SQLTablePrivileges and SQLColumnPrivileges: one
// SELECT each over SYSPROCEDURE and SYSPROCPARM, or over SYSTABLEPERM, SYSCOLPERM and
// SYSGROUP with the tables and users they name.
//
// Every server this driver connects to keeps procedures in SYSPROCEDURE (the connection
// sets its base catalog capability for every server), so the statements are built for
// that catalog only.
#include <string>

#include "odbc/catalog/catalog.h"
#include "odbc/catalog/catalog_query.h"

namespace {

// Levels of group nesting through which a grant to a group reaches its members.
constexpr int kGroupDepth = 3;

// PROCEDURE_CAT (always NULL), PROCEDURE_SCHEM and PROCEDURE_NAME.
void AddProcedureNameColumns(CatalogQuery* q) {
  AddSelectItem(q, "cast(NULL AS CHAR(128)) AS ");
  Append(q, ByVersion(q, "PROCEDURE_CAT", "PROCEDURE_QUALIFIER"));
  AddSelectItem(q, "user_name AS ");
  Append(q, ByVersion(q, "PROCEDURE_SCHEM", "PROCEDURE_OWNER"));
  AddSelectItem(q, "proc_name AS PROCEDURE_NAME");
}

// The number of the procedure's parameters that meet `condition`.
void AddProcedureParamCount(CatalogQuery* q, const char* condition, const char* alias) {
  AddSelectItem(q, "cast((select count(*) from SYSPROCPARM where proc_id=SYSPROCEDURE.proc_id "
                   "and ");
  Append(q, condition);
  Append(q, ") as integer) AS ");
  Append(q, alias);
}

// What a privilege call asks for: the object's names and whether the rows are per column.
struct PrivilegeRequest {
  CatalogArg schema;
  CatalogArg table;
  CatalogArg column;
  bool column_level;
};

// Table privileges take the schema and table as patterns; column privileges compare them
// exactly and take the column as a pattern.
void AddPrivilegeObjectFilters(CatalogQuery* q, const PrivilegeRequest& r) {
  if (!r.column_level) {
    AddPatternFilter(q, "SYSUSERPERMS.user_name", r.schema);
    AddPatternFilter(q, "table_name", r.table);
    return;
  }
  AddIdentifierFilter(q, "SYSUSERPERMS.user_name", r.schema);
  AddIdentifierFilter(q, "table_name", r.table);
  AddPatternFilter(q, "column_name", r.column);
}

// The table names, the column with column_level, GRANTOR, GRANTEE and PRIVILEGE. A
// granted privilege names its grantor and the member it reaches; the creator's own
// privilege names the creator twice.
void AddPrivilegeLeadColumns(CatalogQuery* q, const char* privilege, bool column_level,
                             bool granted) {
  AddTableNameColumns(q);
  if (column_level) AddSelectItem(q, "COLUMN_NAME");
  AddSelectItem(q, "(select user_name from SYS.SYSUSERPERMS where user_id=");
  Append(q, granted ? "grantor" : "creator");
  Append(q, ") AS GRANTOR");
  AddSelectItem(q, "(select user_name from SYS.SYSUSERPERMS where user_id=");
  Append(q, granted ? "member.user_id" : "creator");
  Append(q, ") AS GRANTEE");
  AddSelectItem(q, "'");
  Append(q, privilege);
  Append(q, "' AS PRIVILEGE");
}

// Two branches for one privilege: the grants of SYSTABLEPERM (to a user, or to a group
// and so to its members up to kGroupDepth levels down), then the creator's own.
void AddPrivilegeQuery(CatalogQuery* q, const char* auth_prefix, const char* privilege,
                       const PrivilegeRequest& r) {
  AddPrivilegeLeadColumns(q, privilege, r.column_level, true);
  AddSelectItem(q, "cast(if ");
  Append(q, auth_prefix);
  Append(q, "auth = 'G' then 'YES' else 'NO' endif as varchar) AS IS_GRANTABLE");
  AddFromItem(q, "SYS.SYSTABLEPERM,SYS.SYSUSERPERMS member,");
  if (r.column_level) Append(q, "SYS.SYSCOLUMN JOIN ");
  Append(q, "SYS.SYSTABLE JOIN SYS.SYSUSERPERMS");
  AddCondition(q, "SYSTABLEPERM.stable_id=SYSTABLE.table_id");
  AddCondition(q, "member.user_id != SYSTABLE.creator");
  AddConditionKeyword(q);
  Append(q, auth_prefix);
  Append(q, "auth <> 'N'");
  AddPrivilegeObjectFilters(q, r);
  AddCondition(q, "(member.user_id = SYSTABLEPERM.grantee");
  for (int depth = 1; depth <= kGroupDepth; ++depth) {
    Append(q, " OR member.user_id in (select group_member from SYSGROUP ");
    for (int k = 1; k < depth; ++k) {
      Append(q, "where group_id in (select group_member from SYSGROUP ");
    }
    Append(q, "where group_id = SYSTABLEPERM.grantee)");
    for (int k = 1; k < depth; ++k) Append(q, ")");
  }
  Append(q, ")");

  StartUnionBranch(q);
  AddPrivilegeLeadColumns(q, privilege, r.column_level, false);
  AddSelectItem(q, "cast('YES' as varchar)");
  AddFromItem(q, "SYS.SYSUSERPERMS JOIN SYS.SYSTABLE");
  if (r.column_level) Append(q, " JOIN SYS.SYSCOLUMN");
  AddPrivilegeObjectFilters(q, r);
}

void AddTablePrivilegeQueries(CatalogQuery* q, const PrivilegeRequest& r) {
  static const char* const kPrivileges[][2] = {{"select", "select"},
                                               {"insert", "insert"},
                                               {"update", "update"},
                                               {"delete", "delete"},
                                               {"reference", "references"}};
  bool first = true;
  for (const auto& p : kPrivileges) {
    if (!first) StartUnionBranch(q);
    first = false;
    AddPrivilegeQuery(q, p[0], p[1], r);
  }
}

}  // namespace

SQLRETURN DoSQLProcedures(tagSTMT* stmt, const SQLCHAR* catalog, SQLSMALLINT catalog_length,
                          const SQLCHAR* schema, SQLSMALLINT schema_length,
                          const SQLCHAR* procedure, SQLSMALLINT procedure_length) {
  CatalogQuery q;
  if (SQLRETURN refused = BeginCatalogCall(
          &q, stmt,
          {{catalog, catalog_length}, {schema, schema_length}, {procedure, procedure_length}});
      refused != 0) {
    return refused;
  }
  AddProcedureNameColumns(&q);
  AddProcedureParamCount(&q, "parm_mode_in='Y'", "NUM_INPUT_PARAMS");
  AddProcedureParamCount(&q, "parm_type <> 1 and parm_mode_out='Y'", "NUM_OUTPUT_PARAMS");
  AddProcedureParamCount(&q, "(parm_type = 1 OR (parm_mode_in='N' and parm_mode_out='N'))",
                         "NUM_RESULT_SETS");
  AddSelectItem(&q, "cast(byte_substr(SYSPROCEDURE.remarks,1,254) as VARCHAR(254)) AS REMARKS");
  AddSelectItem(&q,
                "cast( coalesce( (if (select max( PARM_TYPE ) FROM SYS.SYSPROCPARM WHERE "
                "proc_id = SYS.SYSPROCEDURE.proc_id ) = 4 then 2 else 1 endif),1) as smallint) "
                "as PROCEDURE_TYPE");
  AddFromItem(&q, "SYS.SYSPROCEDURE JOIN SYS.SYSUSERPERMS");
  AddPatternFilter(&q, "user_name", CatalogArgument(schema, schema_length));
  AddPatternFilter(&q, "proc_name", CatalogArgument(procedure, procedure_length));
  AddOrderBy(&q, "1,2,3");
  return RunCatalogQuery(&q, false);
}

SQLRETURN DoSQLProcedureColumns(tagSTMT* stmt, const SQLCHAR* catalog,
                                SQLSMALLINT catalog_length, const SQLCHAR* schema,
                                SQLSMALLINT schema_length, const SQLCHAR* procedure,
                                SQLSMALLINT procedure_length, const SQLCHAR* column,
                                SQLSMALLINT column_length) {
  CatalogQuery q;
  if (SQLRETURN refused = BeginCatalogCall(&q, stmt,
                                           {{catalog, catalog_length},
                                            {schema, schema_length},
                                            {procedure, procedure_length},
                                            {column, column_length}});
      refused != 0) {
    return refused;
  }
  AddProcedureNameColumns(&q);
  AddSelectItem(&q, "parm_name AS COLUMN_NAME");
  AddSelectItem(&q,
                "cast(if parm_type=4 then 5 else if parm_type=1 then 3 else if parm_mode_in = "
                "'Y' then if parm_mode_out = 'Y' then 2 else 1 endif else 4 endif endif endif AS "
                "smallint) AS COLUMN_TYPE");
  AddDomainColumns(&q, "SYSPROCPARM");
  AddRadixColumn(&q, "smallint", "SYSPROCPARM");
  AddSelectItem(&q, "cast(1 as smallint) AS NULLABLE");
  AddSelectItem(&q, "cast(NULL AS VARCHAR(254)) AS REMARKS");
  AddColumnDefault(&q, "SYSPROCPARM");
  AddSqlDataTypeColumns(&q);
  AddCharOctetLength(&q, "SYSPROCPARM", "integer");
  AddSelectItem(&q,
                "cast(if parm_type=4 then 0 else SYSPROCPARM.parm_id endif AS integer) AS "
                "ORDINAL_POSITION");
  AddSelectItem(&q, "cast('YES' as varchar) as IS_NULLABLE");
  AddFromItem(&q,
              "SYS.SYSUSERPERMS JOIN SYS.SYSPROCEDURE JOIN SYS.SYSPROCPARM JOIN SYS.SYSDOMAIN");
  AddPatternFilter(&q, "user_name", CatalogArgument(schema, schema_length));
  AddPatternFilter(&q, "proc_name", CatalogArgument(procedure, procedure_length));
  AddPatternFilter(&q, "parm_name", CatalogArgument(column, column_length));
  AddOrderBy(&q, "1,2,3,SYSPROCPARM.parm_id");
  return RunCatalogQuery(&q, true);
}

SQLRETURN DoSQLTablePrivileges(tagSTMT* stmt, const SQLCHAR* catalog,
                               SQLSMALLINT catalog_length, const SQLCHAR* schema,
                               SQLSMALLINT schema_length, const SQLCHAR* table,
                               SQLSMALLINT table_length) {
  CatalogQuery q;
  if (SQLRETURN refused = BeginCatalogCall(
          &q, stmt,
          {{catalog, catalog_length}, {schema, schema_length}, {table, table_length}});
      refused != 0) {
    return refused;
  }
  const PrivilegeRequest r{CatalogArgument(schema, schema_length),
                           CatalogArgument(table, table_length), CatalogArg{nullptr, 0}, false};
  AddTablePrivilegeQueries(&q, r);
  AddOrderBy(&q, "1,2,3,6");
  return RunCatalogQuery(&q, false);
}

SQLRETURN DoSQLColumnPrivileges(tagSTMT* stmt, const SQLCHAR* catalog,
                                SQLSMALLINT catalog_length, const SQLCHAR* schema,
                                SQLSMALLINT schema_length, const SQLCHAR* table,
                                SQLSMALLINT table_length, const SQLCHAR* column,
                                SQLSMALLINT column_length) {
  CatalogQuery q;
  if (SQLRETURN refused = BeginCatalogCall(&q, stmt,
                                           {{catalog, catalog_length},
                                            {schema, schema_length},
                                            {table, table_length},
                                            {column, column_length}});
      refused != 0) {
    return refused;
  }
  const PrivilegeRequest r{CatalogArgument(schema, schema_length),
                           CatalogArgument(table, table_length),
                           CatalogArgument(column, column_length), true};
  AddTablePrivilegeQueries(&q, r);
  // The column-level UPDATE grants. Each SYSCOLPERM row is read with the table grant of
  // the same grantor and grantee only: a grant of another user on the same table would
  // repeat the row and could lend it that grant's grant option.
  StartUnionBranch(&q);
  AddTableNameColumns(&q);
  AddSelectItem(&q, "COLUMN_NAME");
  AddSelectItem(&q, "(select user_name from SYS.SYSUSERPERMS where user_id=SYSCOLPERM.grantor) "
                    "AS GRANTOR");
  AddSelectItem(&q, "(select user_name from SYS.SYSUSERPERMS where user_id=SYSCOLPERM.grantee) "
                    "AS GRANTEE");
  AddSelectItem(&q, "'UPDATE' AS PRIVILEGE");
  AddSelectItem(&q, "cast(if UPDATECOLS = 'G' then 'YES' else 'NO' endif as varchar) AS "
                    "IS_GRANTABLE");
  AddFromItem(&q,
              "SYS.SYSTABLEPERM,SYS.SYSCOLPERM JOIN SYS.SYSCOLUMN JOIN SYS.SYSTABLE JOIN "
              "SYS.SYSUSERPERMS");
  AddCondition(&q, "SYSTABLEPERM.stable_id=SYSTABLE.table_id");
  AddCondition(&q,
               "SYSTABLEPERM.grantee=SYSCOLPERM.grantee AND "
               "SYSTABLEPERM.grantor=SYSCOLPERM.grantor");
  AddCondition(&q, "updateauth = 'N' AND updatecols <> 'N'");
  AddIdentifierFilter(&q, "user_name", r.schema);
  AddIdentifierFilter(&q, "table_name", r.table);
  AddPatternFilter(&q, "column_name", r.column);
  AddOrderBy(&q, "1,2,3,4,7");
  return RunCatalogQuery(&q, false);
}
