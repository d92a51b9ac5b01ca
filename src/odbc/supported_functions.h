// Which ODBC functions the driver answers: SQLGetFunctions.
//
// The answer stays true to what works: a function of the ODBC API whose implementation is
// not part of the driver yet (its entry point answers HYC00) is reported unsupported.
#ifndef VQ_ODBC_SUPPORTED_FUNCTIONS_H
#define VQ_ODBC_SUPPORTED_FUNCTIONS_H

#include <sql.h>
#include <sqlext.h>

struct tagDBC;

// SQL_API_ALL_FUNCTIONS fills 100 SQLUSMALLINT entries; SQL_API_ODBC3_ALL_FUNCTIONS the
// bitmap of SQL_API_ODBC3_ALL_FUNCTIONS_SIZE words; a single function id writes SQL_TRUE
// or SQL_FALSE. Null output: HY009. An id that names no function of the ODBC API the
// driver exports: HY095.
SQLRETURN DoSQLGetFunctions(tagDBC* dbc, SQLUSMALLINT function_id, SQLUSMALLINT* supported);

// Whether the driver answers the function (for tests and SQLGetFunctions).
bool FunctionWorks(SQLUSMALLINT function_id);
// Whether the id names a function the driver exports.
bool FunctionExported(SQLUSMALLINT function_id);

#endif  // VQ_ODBC_SUPPORTED_FUNCTIONS_H
