// SQLGetFunctions: the exported functions and, among them, those that work.
#include "odbc/supported_functions.h"

#include <cstring>

#include "odbc/diagnostics.h"
#include "odbc/handles.h"

namespace {

// The functions whose implementations are in the driver. Handle allocation answers
// environments and connections; statements and descriptors come with the statement code.
constexpr SQLUSMALLINT kWorking[] = {
    SQL_API_SQLALLOCCONNECT, SQL_API_SQLALLOCENV,   SQL_API_SQLALLOCHANDLE,
    SQL_API_SQLDISCONNECT,   SQL_API_SQLERROR,      SQL_API_SQLFREECONNECT,
    SQL_API_SQLFREEENV,      SQL_API_SQLFREEHANDLE, SQL_API_SQLGETDIAGFIELD,
    SQL_API_SQLGETDIAGREC,   SQL_API_SQLGETENVATTR, SQL_API_SQLGETFUNCTIONS,
    SQL_API_SQLSETENVATTR,
    SQL_API_SQLGETDESCFIELD, SQL_API_SQLSETDESCFIELD, SQL_API_SQLGETDESCREC,
    SQL_API_SQLSETDESCREC,   SQL_API_SQLCOPYDESC,     SQL_API_SQLGETINFO,
    SQL_API_SQLSETCONNECTATTR, SQL_API_SQLGETCONNECTATTR, SQL_API_SQLSETCONNECTOPTION,
    SQL_API_SQLGETCONNECTOPTION, SQL_API_SQLNATIVESQL,
    SQL_API_SQLDATASOURCES,  SQL_API_SQLENDTRAN,    SQL_API_SQLTRANSACT,
    SQL_API_SQLCONNECT,      SQL_API_SQLDRIVERCONNECT, SQL_API_SQLBROWSECONNECT,
    SQL_API_SQLALLOCSTMT,    SQL_API_SQLFREESTMT,     SQL_API_SQLPREPARE,
    SQL_API_SQLEXECUTE,      SQL_API_SQLEXECDIRECT,   SQL_API_SQLNUMRESULTCOLS,
    SQL_API_SQLROWCOUNT,     SQL_API_SQLCLOSECURSOR,  SQL_API_SQLMORERESULTS,
    SQL_API_SQLCANCEL,       SQL_API_SQLGETCURSORNAME, SQL_API_SQLSETCURSORNAME,
    SQL_API_SQLDESCRIBECOL,  SQL_API_SQLCOLATTRIBUTE, SQL_API_SQLCOLATTRIBUTES,
    SQL_API_SQLBINDCOL,
    SQL_API_SQLBINDPARAMETER, SQL_API_SQLSETPARAM,  SQL_API_SQLNUMPARAMS,
    SQL_API_SQLDESCRIBEPARAM, SQL_API_SQLPARAMDATA, SQL_API_SQLPUTDATA,
    SQL_API_SQLSETSTMTATTR,  SQL_API_SQLGETSTMTATTR,  SQL_API_SQLSETSTMTOPTION,
    SQL_API_SQLGETSTMTOPTION, SQL_API_SQLSETSCROLLOPTIONS,
    SQL_API_SQLFETCH,        SQL_API_SQLFETCHSCROLL,  SQL_API_SQLEXTENDEDFETCH,
    SQL_API_SQLGETDATA,      SQL_API_SQLSETPOS,       SQL_API_SQLBULKOPERATIONS,
    SQL_API_SQLTABLES,       SQL_API_SQLCOLUMNS,      SQL_API_SQLGETTYPEINFO,
    SQL_API_SQLPRIMARYKEYS,  SQL_API_SQLFOREIGNKEYS,  SQL_API_SQLSTATISTICS,
    SQL_API_SQLSPECIALCOLUMNS, SQL_API_SQLPROCEDURES, SQL_API_SQLPROCEDURECOLUMNS,
    SQL_API_SQLTABLEPRIVILEGES, SQL_API_SQLCOLUMNPRIVILEGES,
};

}  // namespace

bool FunctionExported(SQLUSMALLINT id) {
  // The ODBC 1 and 2 functions (SQLBulkOperations included) and every ODBC 3 function
  // but SQLBindParam, which the driver manager maps itself.
  return (id >= 1 && id <= 24) || (id >= 40 && id <= 72) || id == 1001 ||
         (id >= 1003 && id <= 1012) || id == 1014 || (id >= 1016 && id <= 1021);
}

bool FunctionWorks(SQLUSMALLINT id) {
  for (SQLUSMALLINT w : kWorking) {
    if (w == id) return true;
  }
  return false;
}

SQLRETURN DoSQLGetFunctions(tagDBC* dbc, SQLUSMALLINT function_id, SQLUSMALLINT* supported) {
  if (supported == nullptr) return PostSQLState(dbc, kStateHY009, kStateS1009);
  if (function_id == SQL_API_ALL_FUNCTIONS) {
    for (SQLUSMALLINT id = 0; id < 100; ++id)
      supported[id] = FunctionWorks(id) ? SQL_TRUE : SQL_FALSE;
    return dbc->retcode;
  }
  if (function_id == SQL_API_ODBC3_ALL_FUNCTIONS) {
    std::memset(supported, 0, SQL_API_ODBC3_ALL_FUNCTIONS_SIZE * sizeof(SQLUSMALLINT));
    for (SQLUSMALLINT id : kWorking)
      supported[id >> 4] |= static_cast<SQLUSMALLINT>(1u << (id & 0xF));
    return dbc->retcode;
  }
  if (!FunctionExported(function_id))
    return PostSQLState(dbc, PackSQLState("HY095"), PackSQLState("S1095"));
  *supported = FunctionWorks(function_id) ? SQL_TRUE : SQL_FALSE;
  return dbc->retcode;
}
