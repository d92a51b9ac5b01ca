// The ODBC catalog functions: each builds one SELECT over the server's catalog tables
// (owner SYS), runs it on the caller's statement so that its result set is open there,
// and returns the statement's ODBC return code.
//
// Callers are the narrow and wide catalog entry points. They frame the statement first
// (the connection's mutex is held for the whole call) and pass the application's
// arguments: narrow texts, each with a 16-bit byte length or SQL_NTS; the wide entry
// points convert their UTF-16 arguments into the connection's character set before the
// call. A null text, a length of 0 and an empty text with SQL_NTS all mean "no
// argument". Any other negative length is refused with HY090. Diagnostics go to the
// statement.
#ifndef VQ_ODBC_CATALOG_CATALOG_H
#define VQ_ODBC_CATALOG_CATALOG_H

#include <sql.h>
#include <sqlext.h>

struct tagSTMT;

SQLRETURN DoSQLTables(tagSTMT* stmt, const SQLCHAR* catalog, SQLSMALLINT catalog_length,
                      const SQLCHAR* schema, SQLSMALLINT schema_length, const SQLCHAR* table,
                      SQLSMALLINT table_length, const SQLCHAR* table_types,
                      SQLSMALLINT table_types_length);

SQLRETURN DoSQLColumns(tagSTMT* stmt, const SQLCHAR* catalog, SQLSMALLINT catalog_length,
                       const SQLCHAR* schema, SQLSMALLINT schema_length, const SQLCHAR* table,
                       SQLSMALLINT table_length, const SQLCHAR* column,
                       SQLSMALLINT column_length);

SQLRETURN DoSQLStatistics(tagSTMT* stmt, const SQLCHAR* catalog, SQLSMALLINT catalog_length,
                          const SQLCHAR* schema, SQLSMALLINT schema_length,
                          const SQLCHAR* table, SQLSMALLINT table_length, SQLUSMALLINT unique,
                          SQLUSMALLINT reserved);

SQLRETURN DoSQLSpecialColumns(tagSTMT* stmt, SQLUSMALLINT identifier_type,
                              const SQLCHAR* catalog, SQLSMALLINT catalog_length,
                              const SQLCHAR* schema, SQLSMALLINT schema_length,
                              const SQLCHAR* table, SQLSMALLINT table_length,
                              SQLUSMALLINT scope, SQLUSMALLINT nullable);

SQLRETURN DoSQLPrimaryKeys(tagSTMT* stmt, const SQLCHAR* catalog, SQLSMALLINT catalog_length,
                           const SQLCHAR* schema, SQLSMALLINT schema_length,
                           const SQLCHAR* table, SQLSMALLINT table_length);

SQLRETURN DoSQLForeignKeys(tagSTMT* stmt, const SQLCHAR* pk_catalog,
                           SQLSMALLINT pk_catalog_length, const SQLCHAR* pk_schema,
                           SQLSMALLINT pk_schema_length, const SQLCHAR* pk_table,
                           SQLSMALLINT pk_table_length, const SQLCHAR* fk_catalog,
                           SQLSMALLINT fk_catalog_length, const SQLCHAR* fk_schema,
                           SQLSMALLINT fk_schema_length, const SQLCHAR* fk_table,
                           SQLSMALLINT fk_table_length);

SQLRETURN DoSQLProcedures(tagSTMT* stmt, const SQLCHAR* catalog, SQLSMALLINT catalog_length,
                          const SQLCHAR* schema, SQLSMALLINT schema_length,
                          const SQLCHAR* procedure, SQLSMALLINT procedure_length);

SQLRETURN DoSQLProcedureColumns(tagSTMT* stmt, const SQLCHAR* catalog,
                                SQLSMALLINT catalog_length, const SQLCHAR* schema,
                                SQLSMALLINT schema_length, const SQLCHAR* procedure,
                                SQLSMALLINT procedure_length, const SQLCHAR* column,
                                SQLSMALLINT column_length);

SQLRETURN DoSQLTablePrivileges(tagSTMT* stmt, const SQLCHAR* catalog,
                               SQLSMALLINT catalog_length, const SQLCHAR* schema,
                               SQLSMALLINT schema_length, const SQLCHAR* table,
                               SQLSMALLINT table_length);

SQLRETURN DoSQLColumnPrivileges(tagSTMT* stmt, const SQLCHAR* catalog,
                                SQLSMALLINT catalog_length, const SQLCHAR* schema,
                                SQLSMALLINT schema_length, const SQLCHAR* table,
                                SQLSMALLINT table_length, const SQLCHAR* column,
                                SQLSMALLINT column_length);

SQLRETURN DoSQLGetTypeInfo(tagSTMT* stmt, SQLSMALLINT data_type);

#endif  // VQ_ODBC_CATALOG_CATALOG_H
