// The exported narrow ODBC 3 entry points. Each is a thin frame: the framing of its handle
// kind (validity and process tests, the connection's lock, cleared diagnostics), one
// implementation, the release, and the implementation's result.
//
// Divisions of this file, in order:
//   1. Framing helpers
//   2. Handles: allocation and release
//   3. Environment
//   4. Connections: connect, disconnect, attributes, information
//   5. Statements: prepare, execute, parameters, fetch, result columns, attributes
//   6. Catalog functions
//   7. Descriptors
//   8. Diagnostics
//   9. Cancel and transactions
//  10. Installer entry points
//
// Entry points whose implementation is not part of the driver yet are framed like the
// others and answer HYC00 (optional feature not implemented); SQLGetFunctions reports
// them as unsupported. No C++ exception leaves this file: a throw inside an
// implementation becomes HY001 on the handle.
#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>

#include "odbc/call_framing.h"
#include "odbc/connect.h"
#include "odbc/descriptors.h"
#include "odbc/attributes.h"
#include "odbc/catalog/catalog.h"
#include "odbc/data_sources.h"
#include "odbc/diagnostics.h"
#include "odbc/driver_info.h"
#include "odbc/engine.h"
#include "odbc/fetch.h"
#include "odbc/handles.h"
#include "odbc/parameters.h"
#include "odbc/statement.h"
#include "odbc/supported_functions.h"
#include "odbc/transactions.h"

// ============================================================================================
// 1. Framing helpers
// ============================================================================================

using namespace vq::odbc;

namespace {

constexpr int kAllocEnvMessageBytes = 80;

// A handle type the call does not know: HY092 on the handle, framed as its own kind
// (environment or connection); any other handle is invalid.
SQLRETURN BadHandleType(SQLHANDLE h) noexcept {
  const tagOBJECT* o = Obj(h);
  if (o != nullptr && o->kind == OBJ_ENV) {
    return EnvCall(h, [](tagOBJECT* e) { return PostSQLState(e, kStateHY092, kStateS1092); });
  }
  if (o != nullptr && o->kind == OBJ_DBC) {
    return DbcCall(h, [](tagOBJECT* c) { return PostSQLState(c, kStateHY092, kStateS1092); });
  }
  return SQL_INVALID_HANDLE;
}

// SQLConnect and its siblings mark the application as a narrow one first.
template <typename Connect>
SQLRETURN NarrowConnect(SQLHDBC h, Connect&& connect) noexcept {
  return DbcCall(h, [&](tagOBJECT* dbc) {
    Set_option(dbc, SQL_ATTR_ANSI_APP, 1);
    return connect(static_cast<tagDBC*>(dbc));
  });
}

}  // namespace

extern "C" {

// ============================================================================================
// 2. Handles: allocation and release
// ============================================================================================

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT HandleType, SQLHANDLE InputHandle,
                                 SQLHANDLE* OutputHandle) {
  switch (HandleType) {
    case SQL_HANDLE_ENV: {
      if (OutputHandle == nullptr) return SQL_ERROR;
      if (InputHandle != nullptr) {
        // The input handle cannot be trusted here (no framing applies), so nothing is
        // posted on it.
        *OutputHandle = SQL_NULL_HANDLE;
        return SQL_ERROR;
      }
      char message[kAllocEnvMessageBytes];
      try {
        return DoSQLAllocEnv(reinterpret_cast<SQLHENV*>(OutputHandle), message, sizeof message);
      } catch (...) {
        return SQL_ERROR;
      }
    }
    case SQL_HANDLE_DBC:
      return EnvCall(InputHandle, [&](tagOBJECT* env) {
        if (OutputHandle == nullptr) return PostSQLState(env, kStateHY009, kStateS1009);
        return DoSQLAllocConnect(static_cast<tagENV*>(env), OutputHandle);
      });
    case SQL_HANDLE_STMT:
      return DbcCall(InputHandle, [&](tagOBJECT* dbc) {
        return DoSQLAllocStmt(static_cast<tagDBC*>(dbc), OutputHandle);
      });
    case SQL_HANDLE_DESC:
      return DbcCall(InputHandle, [&](tagOBJECT* dbc) {
        if (OutputHandle == nullptr) return PostSQLState(dbc, kStateHY009, kStateS1009);
        return DoSQLAllocDesc(static_cast<tagDBC*>(dbc), OutputHandle);
      });
    default:
      return BadHandleType(InputHandle);
  }
}

SQLRETURN SQL_API SQLAllocEnv(SQLHENV* EnvironmentHandle) {
  if (EnvironmentHandle == nullptr) return SQL_ERROR;
  char message[kAllocEnvMessageBytes];
  try {
    SQLRETURN rc = DoSQLAllocEnv(EnvironmentHandle, message, sizeof message);
    if (rc == SQL_SUCCESS) {
      // An application that calls SQLAllocEnv is an ODBC 2 application.
      DoSQLSetEnvAttr(static_cast<tagENV*>(*EnvironmentHandle), SQL_ATTR_ODBC_VERSION,
                      reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC2), 0);
    }
    return rc;
  } catch (...) {
    return SQL_ERROR;
  }
}

SQLRETURN SQL_API SQLAllocConnect(SQLHENV EnvironmentHandle, SQLHDBC* ConnectionHandle) {
  return EnvCall(EnvironmentHandle, [&](tagOBJECT* env) {
    return DoSQLAllocConnect(static_cast<tagENV*>(env), ConnectionHandle);
  });
}

SQLRETURN SQL_API SQLAllocStmt(SQLHDBC ConnectionHandle, SQLHSTMT* StatementHandle) {
  return DbcCall(ConnectionHandle, [&](tagOBJECT* dbc) {
    return DoSQLAllocStmt(static_cast<tagDBC*>(dbc), StatementHandle);
  });
}

namespace {

// SQLFreeConnect and SQLFreeHandle for a connection: a freed connection's mutex went
// with it; a refused free releases it.
SQLRETURN FreeConnection(SQLHDBC h) noexcept {
  if (SQLRETURN refused = Init_dbc(h); refused != 0) return refused;
  const SQLRETURN rc = Guarded(
      Obj(h), [](tagOBJECT* dbc) { return DoSQLFreeConnect(static_cast<tagDBC*>(dbc)); });
  if (rc != SQL_SUCCESS) Fini_dbc(h);
  return rc;
}

// SQLFreeHandle for a descriptor: the connection is remembered first, since a freed
// descriptor no longer leads to it.
SQLRETURN FreeDescriptorHandle(SQLHDESC h) noexcept {
  if (SQLRETURN refused = Init_desc(h); refused != 0) return refused;
  tagDBC* dbc = OwningDbc(Obj(h));
  const SQLRETURN rc =
      Guarded(Obj(h), [](tagOBJECT* desc) { return DoSQLFreeDesc(static_cast<tagDESC*>(desc)); });
  Fini_dbc(dbc);
  return rc;
}

// SQLFreeStmt and SQLFreeHandle for a statement: a dropped statement no longer leads to
// its connection, so the connection is remembered first and released afterwards.
SQLRETURN FreeStatement(SQLHSTMT h, SQLUSMALLINT option) noexcept {
  if (SQLRETURN refused = Init_stmt(h); refused != 0) return refused;
  if (option != SQL_DROP) {
    const SQLRETURN rc = Guarded(Obj(h), [&](tagOBJECT* stmt) {
      return DoSQLFreeStmt(static_cast<tagSTMT*>(stmt), option);
    });
    Fini_stmt(h);
    return rc;
  }
  tagDBC* dbc = OwningDbc(Obj(h));
  const SQLRETURN rc = Guarded(Obj(h), [](tagOBJECT* stmt) {
    return DoSQLFreeStmt(static_cast<tagSTMT*>(stmt), SQL_DROP);
  });
  Fini_dbc(dbc);
  return rc;
}

SQLRETURN FreeEnvironment(SQLHENV h) noexcept {
  return EnvCall(h, [](tagOBJECT* env) { return DoSQLFreeEnv(static_cast<tagENV*>(env)); });
}

}  // namespace

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT HandleType, SQLHANDLE Handle) {
  switch (HandleType) {
    case SQL_HANDLE_ENV:
      return FreeEnvironment(Handle);
    case SQL_HANDLE_DBC:
      return FreeConnection(Handle);
    case SQL_HANDLE_STMT:
      return FreeStatement(Handle, SQL_DROP);
    case SQL_HANDLE_DESC:
      return FreeDescriptorHandle(Handle);
    default:
      return BadHandleType(Handle);
  }
}

SQLRETURN SQL_API SQLFreeEnv(SQLHENV EnvironmentHandle) {
  return FreeEnvironment(EnvironmentHandle);
}

SQLRETURN SQL_API SQLFreeConnect(SQLHDBC ConnectionHandle) {
  return FreeConnection(ConnectionHandle);
}

// ============================================================================================
// 3. Environment
// ============================================================================================

SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV EnvironmentHandle, SQLINTEGER Attribute,
                                SQLPOINTER Value, SQLINTEGER StringLength) {
  return EnvCall(EnvironmentHandle, [&](tagOBJECT* env) {
    return DoSQLSetEnvAttr(static_cast<tagENV*>(env), Attribute, Value, StringLength);
  });
}

SQLRETURN SQL_API SQLGetEnvAttr(SQLHENV EnvironmentHandle, SQLINTEGER Attribute,
                                SQLPOINTER Value, SQLINTEGER BufferLength,
                                SQLINTEGER* StringLength) {
  return EnvCall(EnvironmentHandle, [&](tagOBJECT* env) {
    return DoSQLGetEnvAttr(static_cast<tagENV*>(env), Attribute, Value, BufferLength,
                           StringLength);
  });
}

SQLRETURN SQL_API SQLDataSources(SQLHENV EnvironmentHandle, SQLUSMALLINT Direction,
                                 SQLCHAR* ServerName, SQLSMALLINT BufferLength1,
                                 SQLSMALLINT* NameLength1, SQLCHAR* Description,
                                 SQLSMALLINT BufferLength2, SQLSMALLINT* NameLength2) {
  return EnvCall(EnvironmentHandle, [&](tagOBJECT* env) {
    return DoSQLDataSources(static_cast<tagENV*>(env), Direction, ServerName, BufferLength1,
                            NameLength1, Description, BufferLength2, NameLength2);
  });
}

// ============================================================================================
// 4. Connections: connect, disconnect, attributes, information
// ============================================================================================

SQLRETURN SQL_API SQLConnect(SQLHDBC ConnectionHandle, SQLCHAR* ServerName,
                             SQLSMALLINT NameLength1, SQLCHAR* UserName, SQLSMALLINT NameLength2,
                             SQLCHAR* Authentication, SQLSMALLINT NameLength3) {
  return NarrowConnect(ConnectionHandle, [&](tagDBC* dbc) {
    return DoSQLConnect(dbc, ServerName, NameLength1, UserName, NameLength2, Authentication,
                        NameLength3);
  });
}

SQLRETURN SQL_API SQLDriverConnect(SQLHDBC hdbc, SQLHWND hwnd, SQLCHAR* szConnStrIn,
                                   SQLSMALLINT cbConnStrIn, SQLCHAR* szConnStrOut,
                                   SQLSMALLINT cbConnStrOutMax, SQLSMALLINT* pcbConnStrOut,
                                   SQLUSMALLINT fDriverCompletion) {
  return NarrowConnect(hdbc, [&](tagDBC* dbc) {
    return DoSQLDriverConnect(dbc, hwnd, szConnStrIn, cbConnStrIn, szConnStrOut,
                              cbConnStrOutMax, pcbConnStrOut, fDriverCompletion);
  });
}

SQLRETURN SQL_API SQLBrowseConnect(SQLHDBC hdbc, SQLCHAR* szConnStrIn, SQLSMALLINT cbConnStrIn,
                                   SQLCHAR* szConnStrOut, SQLSMALLINT cbConnStrOutMax,
                                   SQLSMALLINT* pcbConnStrOut) {
  return NarrowConnect(hdbc, [&](tagDBC* dbc) {
    return DoSQLBrowseConnect(dbc, szConnStrIn, cbConnStrIn, szConnStrOut, cbConnStrOutMax,
                              pcbConnStrOut);
  });
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC ConnectionHandle) {
  return DbcCall(ConnectionHandle,
                 [](tagOBJECT* dbc) { return DoSQLDisconnect(static_cast<tagDBC*>(dbc)); });
}

SQLRETURN SQL_API SQLGetFunctions(SQLHDBC ConnectionHandle, SQLUSMALLINT FunctionId,
                                  SQLUSMALLINT* Supported) {
  return DbcCall(ConnectionHandle, [&](tagOBJECT* dbc) {
    return DoSQLGetFunctions(static_cast<tagDBC*>(dbc), FunctionId, Supported);
  });
}

SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC ConnectionHandle, SQLINTEGER Attribute,
                                    SQLPOINTER Value, SQLINTEGER StringLength) {
  return DbcCall(ConnectionHandle, [&](tagOBJECT* dbc) {
    return DoSQLSetConnectAttr(static_cast<tagDBC*>(dbc), Attribute, Value, StringLength);
  });
}

SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC ConnectionHandle, SQLINTEGER Attribute,
                                    SQLPOINTER Value, SQLINTEGER BufferLength,
                                    SQLINTEGER* StringLength) {
  return DbcCall(ConnectionHandle, [&](tagOBJECT* dbc) {
    return DoSQLGetConnectAttr(static_cast<tagDBC*>(dbc), Attribute, Value, BufferLength,
                               StringLength);
  });
}

SQLRETURN SQL_API SQLSetConnectOption(SQLHDBC ConnectionHandle, SQLUSMALLINT Option,
                                      SQLULEN Value) {
  return DbcCall(ConnectionHandle, [&](tagOBJECT* dbc) {
    return DoSQLSetConnectAttr(static_cast<tagDBC*>(dbc), Option,
                               reinterpret_cast<SQLPOINTER>(Value), SQL_NTS);
  });
}

SQLRETURN SQL_API SQLGetConnectOption(SQLHDBC ConnectionHandle, SQLUSMALLINT Option,
                                      SQLPOINTER Value) {
  return DbcCall(ConnectionHandle, [&](tagOBJECT* dbc) {
    return DoSQLGetConnectAttr(static_cast<tagDBC*>(dbc), Option, Value,
                               SQL_MAX_OPTION_STRING_LENGTH, nullptr);
  });
}

SQLRETURN SQL_API SQLNativeSql(SQLHDBC hdbc, SQLCHAR* szSqlStrIn, SQLINTEGER cbSqlStrIn,
                               SQLCHAR* szSqlStr, SQLINTEGER cbSqlStrMax,
                               SQLINTEGER* pcbSqlStr) {
  return DbcCall(hdbc, [&](tagOBJECT* dbc) {
    return DoSQLNativeSql(static_cast<tagDBC*>(dbc), szSqlStrIn, cbSqlStrIn, szSqlStr,
                          cbSqlStrMax, pcbSqlStr);
  });
}

SQLRETURN SQL_API SQLGetInfo(SQLHDBC ConnectionHandle, SQLUSMALLINT InfoType,
                             SQLPOINTER InfoValue, SQLSMALLINT BufferLength,
                             SQLSMALLINT* StringLength) {
  return DbcCall(ConnectionHandle, [&](tagOBJECT* dbc) {
    return DoSQLGetInfo(static_cast<tagDBC*>(dbc), InfoType, InfoValue, BufferLength,
                        StringLength);
  });
}

// ============================================================================================
// 5. Statements: prepare, execute, parameters, fetch, result columns, attributes
// ============================================================================================

SQLRETURN SQL_API SQLPrepare(SQLHSTMT StatementHandle, SQLCHAR* StatementText,
                             SQLINTEGER TextLength) {
  return StmtCall(StatementHandle, [&](tagOBJECT* stmt) {
    return DoSQLPrepare(static_cast<tagSTMT*>(stmt), StatementText, TextLength);
  });
}

SQLRETURN SQL_API SQLExecute(SQLHSTMT StatementHandle) {
  return StmtCall(StatementHandle,
                  [](tagOBJECT* stmt) { return DoSQLExecute(static_cast<tagSTMT*>(stmt)); });
}

SQLRETURN SQL_API SQLExecDirect(SQLHSTMT StatementHandle, SQLCHAR* StatementText,
                                SQLINTEGER TextLength) {
  return StmtCall(StatementHandle, [&](tagOBJECT* stmt) {
    return DoSQLExecDirect(static_cast<tagSTMT*>(stmt), StatementText, TextLength);
  });
}

SQLRETURN SQL_API SQLCloseCursor(SQLHSTMT StatementHandle) {
  return StmtCall(StatementHandle,
                  [](tagOBJECT* stmt) { return DoSQLCloseCursor(static_cast<tagSTMT*>(stmt)); });
}

SQLRETURN SQL_API SQLMoreResults(SQLHSTMT hstmt) {
  return StmtCall(hstmt,
                  [](tagOBJECT* stmt) { return DoSQLMoreResults(static_cast<tagSTMT*>(stmt)); });
}

SQLRETURN SQL_API SQLSetCursorName(SQLHSTMT StatementHandle, SQLCHAR* CursorName,
                                   SQLSMALLINT NameLength) {
  return StmtCall(StatementHandle, [&](tagOBJECT* stmt) {
    return DoSQLSetCursorName(static_cast<tagSTMT*>(stmt), CursorName, NameLength);
  });
}

SQLRETURN SQL_API SQLGetCursorName(SQLHSTMT StatementHandle, SQLCHAR* CursorName,
                                   SQLSMALLINT BufferLength, SQLSMALLINT* NameLength) {
  return StmtCall(StatementHandle, [&](tagOBJECT* stmt) {
    return DoSQLGetCursorName(static_cast<tagSTMT*>(stmt), CursorName, BufferLength,
                              NameLength);
  });
}

SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT StatementHandle, SQLUSMALLINT Option) {
  return FreeStatement(StatementHandle, Option);
}

SQLRETURN SQL_API SQLNumParams(SQLHSTMT hstmt, SQLSMALLINT* pcpar) {
  return StmtCall(hstmt, [&](tagOBJECT* stmt) {
    return DoSQLNumParams(static_cast<tagSTMT*>(stmt), pcpar);
  });
}

SQLRETURN SQL_API SQLDescribeParam(SQLHSTMT hstmt, SQLUSMALLINT ipar, SQLSMALLINT* pfSqlType,
                                   SQLULEN* pcbParamDef, SQLSMALLINT* pibScale,
                                   SQLSMALLINT* pfNullable) {
  return StmtCall(hstmt, [&](tagOBJECT* stmt) {
    return DoSQLDescribeParam(static_cast<tagSTMT*>(stmt), ipar, pfSqlType, pcbParamDef,
                              pibScale, pfNullable);
  });
}

SQLRETURN SQL_API SQLBindParameter(SQLHSTMT hstmt, SQLUSMALLINT ipar, SQLSMALLINT fParamType,
                                   SQLSMALLINT fCType, SQLSMALLINT fSqlType, SQLULEN cbColDef,
                                   SQLSMALLINT ibScale, SQLPOINTER rgbValue, SQLLEN cbValueMax,
                                   SQLLEN* pcbValue) {
  return StmtCall(hstmt, [&](tagOBJECT* stmt) {
    return DoSQLBindParameter(static_cast<tagSTMT*>(stmt), ipar, fParamType, fCType, fSqlType,
                              cbColDef, ibScale, rgbValue, cbValueMax, pcbValue);
  });
}

// The ODBC 1 form of SQLBindParameter: an input-output parameter whose buffer length
// (SQL_SETPARAM_VALUE_MAX) is taken from the column size.
SQLRETURN SQL_API SQLSetParam(SQLHSTMT StatementHandle, SQLUSMALLINT ParameterNumber,
                              SQLSMALLINT ValueType, SQLSMALLINT ParameterType,
                              SQLULEN LengthPrecision, SQLSMALLINT ParameterScale,
                              SQLPOINTER ParameterValue, SQLLEN* StrLen_or_Ind) {
  return StmtCall(StatementHandle, [&](tagOBJECT* stmt) {
    return DoSQLBindParameter(static_cast<tagSTMT*>(stmt), ParameterNumber,
                              SQL_PARAM_INPUT_OUTPUT, ValueType, ParameterType, LengthPrecision,
                              ParameterScale, ParameterValue, SQL_SETPARAM_VALUE_MAX,
                              StrLen_or_Ind);
  });
}

SQLRETURN SQL_API SQLPutData(SQLHSTMT StatementHandle, SQLPOINTER Data, SQLLEN StrLen_or_Ind) {
  return StmtCall(StatementHandle, [&](tagOBJECT* stmt) {
    return DoSQLPutData(static_cast<tagSTMT*>(stmt), Data, StrLen_or_Ind);
  });
}

SQLRETURN SQL_API SQLParamData(SQLHSTMT StatementHandle, SQLPOINTER* Value) {
  return StmtCall(StatementHandle, [&](tagOBJECT* stmt) {
    return DoSQLParamData(static_cast<tagSTMT*>(stmt), Value);
  });
}

SQLRETURN SQL_API SQLParamOptions(SQLHSTMT hstmt, SQLULEN /*crow*/, SQLULEN* /*pirow*/) {
  return StmtCall(hstmt, NotBuilt);
}

SQLRETURN SQL_API SQLFetch(SQLHSTMT StatementHandle) {
  return StmtCall(StatementHandle,
                  [](tagOBJECT* stmt) { return DoSQLFetch(static_cast<tagSTMT*>(stmt)); });
}

SQLRETURN SQL_API SQLFetchScroll(SQLHSTMT StatementHandle, SQLSMALLINT FetchOrientation,
                                 SQLLEN FetchOffset) {
  return StmtCall(StatementHandle, [&](tagOBJECT* stmt) {
    return DoSQLFetchScroll(static_cast<tagSTMT*>(stmt), FetchOrientation, FetchOffset);
  });
}

SQLRETURN SQL_API SQLExtendedFetch(SQLHSTMT hstmt, SQLUSMALLINT fFetchType, SQLLEN irow,
                                   SQLULEN* pcrow, SQLUSMALLINT* rgfRowStatus) {
  return StmtCall(hstmt, [&](tagOBJECT* stmt) {
    return DoSQLExtendedFetch(static_cast<tagSTMT*>(stmt), fFetchType, irow, pcrow,
                              rgfRowStatus);
  });
}

SQLRETURN SQL_API SQLGetData(SQLHSTMT StatementHandle, SQLUSMALLINT ColumnNumber,
                             SQLSMALLINT TargetType, SQLPOINTER TargetValue,
                             SQLLEN BufferLength, SQLLEN* StrLen_or_Ind) {
  return StmtCall(StatementHandle, [&](tagOBJECT* stmt) {
    return DoSQLGetData(static_cast<tagSTMT*>(stmt), ColumnNumber, TargetType, TargetValue,
                        BufferLength, StrLen_or_Ind);
  });
}

SQLRETURN SQL_API SQLSetPos(SQLHSTMT hstmt, SQLSETPOSIROW irow, SQLUSMALLINT fOption,
                            SQLUSMALLINT fLock) {
  return StmtCall(hstmt, [&](tagOBJECT* stmt) {
    return DoSQLSetPos(static_cast<tagSTMT*>(stmt), irow, fOption, fLock);
  });
}

SQLRETURN SQL_API SQLBulkOperations(SQLHSTMT StatementHandle, SQLSMALLINT Operation) {
  return StmtCall(StatementHandle, [&](tagOBJECT* stmt) {
    return DoSQLBulkOperations(static_cast<tagSTMT*>(stmt), Operation);
  });
}

SQLRETURN SQL_API SQLSetScrollOptions(SQLHSTMT hstmt, SQLUSMALLINT fConcurrency,
                                      SQLLEN crowKeyset, SQLUSMALLINT crowRowset) {
  return StmtCall(hstmt, [&](tagOBJECT* stmt) {
    return DoSQLSetScrollOptions(static_cast<tagSTMT*>(stmt), fConcurrency, crowKeyset,
                                 crowRowset);
  });
}

SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT StatementHandle, SQLSMALLINT* ColumnCount) {
  return StmtCall(StatementHandle, [&](tagOBJECT* stmt) {
    return DoSQLNumResultCols(static_cast<tagSTMT*>(stmt), ColumnCount);
  });
}

SQLRETURN SQL_API SQLDescribeCol(SQLHSTMT StatementHandle, SQLUSMALLINT ColumnNumber,
                                 SQLCHAR* ColumnName, SQLSMALLINT BufferLength,
                                 SQLSMALLINT* NameLength, SQLSMALLINT* DataType,
                                 SQLULEN* ColumnSize, SQLSMALLINT* DecimalDigits,
                                 SQLSMALLINT* Nullable) {
  return StmtCall(StatementHandle, [&](tagOBJECT* stmt) {
    return DoSQLDescribeCol(static_cast<tagSTMT*>(stmt), ColumnNumber, ColumnName,
                            BufferLength, NameLength, DataType, ColumnSize, DecimalDigits,
                            Nullable);
  });
}

SQLRETURN SQL_API SQLColAttribute(SQLHSTMT StatementHandle, SQLUSMALLINT ColumnNumber,
                                  SQLUSMALLINT FieldIdentifier, SQLPOINTER CharacterAttribute,
                                  SQLSMALLINT BufferLength, SQLSMALLINT* StringLength,
                                  SQLLEN* NumericAttribute) {
  return StmtCall(StatementHandle, [&](tagOBJECT* stmt) {
    return DoSQLColAttribute(static_cast<tagSTMT*>(stmt), ColumnNumber, FieldIdentifier,
                             CharacterAttribute, BufferLength, StringLength, NumericAttribute);
  });
}

SQLRETURN SQL_API SQLColAttributes(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLUSMALLINT fDescType,
                                   SQLPOINTER rgbDesc, SQLSMALLINT cbDescMax,
                                   SQLSMALLINT* pcbDesc, SQLLEN* pfDesc) {
  return StmtCall(hstmt, [&](tagOBJECT* stmt) {
    return DoSQLColAttribute(static_cast<tagSTMT*>(stmt), icol, fDescType, rgbDesc, cbDescMax,
                             pcbDesc, pfDesc);
  });
}

SQLRETURN SQL_API SQLBindCol(SQLHSTMT StatementHandle, SQLUSMALLINT ColumnNumber,
                             SQLSMALLINT TargetType, SQLPOINTER TargetValue,
                             SQLLEN BufferLength, SQLLEN* StrLen_or_Ind) {
  return StmtCall(StatementHandle, [&](tagOBJECT* stmt) {
    return DoSQLBindCol(static_cast<tagSTMT*>(stmt), ColumnNumber, TargetType, TargetValue,
                        BufferLength, StrLen_or_Ind);
  });
}

SQLRETURN SQL_API SQLRowCount(SQLHSTMT StatementHandle, SQLLEN* RowCount) {
  return StmtCall(StatementHandle, [&](tagOBJECT* stmt) {
    return DoSQLRowCount(static_cast<tagSTMT*>(stmt), RowCount);
  });
}

SQLRETURN SQL_API SQLSetStmtAttr(SQLHSTMT StatementHandle, SQLINTEGER Attribute,
                                 SQLPOINTER Value, SQLINTEGER /*StringLength*/) {
  return StmtCall(StatementHandle, [&](tagOBJECT* stmt) {
    return DoSQLSetStmtAttr(static_cast<tagSTMT*>(stmt), Attribute, Value);
  });
}

SQLRETURN SQL_API SQLGetStmtAttr(SQLHSTMT StatementHandle, SQLINTEGER Attribute,
                                 SQLPOINTER Value, SQLINTEGER BufferLength,
                                 SQLINTEGER* StringLength) {
  return StmtCall(StatementHandle, [&](tagOBJECT* stmt) {
    return DoSQLGetStmtAttr(static_cast<tagSTMT*>(stmt), Attribute, Value, BufferLength,
                            StringLength);
  });
}

SQLRETURN SQL_API SQLSetStmtOption(SQLHSTMT StatementHandle, SQLUSMALLINT Option,
                                   SQLULEN Value) {
  return StmtCall(StatementHandle, [&](tagOBJECT* stmt) {
    return DoSQLSetStmtAttr(static_cast<tagSTMT*>(stmt), Option,
                            reinterpret_cast<SQLPOINTER>(Value));
  });
}

SQLRETURN SQL_API SQLGetStmtOption(SQLHSTMT StatementHandle, SQLUSMALLINT Option,
                                   SQLPOINTER Value) {
  return StmtCall(StatementHandle, [&](tagOBJECT* stmt) {
    return DoSQLGetStmtAttr(static_cast<tagSTMT*>(stmt), Option, Value,
                            SQL_MAX_OPTION_STRING_LENGTH, nullptr);
  });
}

// ============================================================================================
// 6. Catalog functions
// ============================================================================================

SQLRETURN SQL_API SQLGetTypeInfo(SQLHSTMT StatementHandle, SQLSMALLINT DataType) {
  return StmtCall(StatementHandle, [&](tagOBJECT* stmt) {
    return DoSQLGetTypeInfo(static_cast<tagSTMT*>(stmt), DataType);
  });
}

SQLRETURN SQL_API SQLTables(SQLHSTMT StatementHandle, SQLCHAR* CatalogName,
                            SQLSMALLINT NameLength1, SQLCHAR* SchemaName,
                            SQLSMALLINT NameLength2, SQLCHAR* TableName,
                            SQLSMALLINT NameLength3, SQLCHAR* TableType,
                            SQLSMALLINT NameLength4) {
  return StmtCall(StatementHandle, [&](tagOBJECT* stmt) {
    return DoSQLTables(static_cast<tagSTMT*>(stmt), CatalogName, NameLength1, SchemaName,
                       NameLength2, TableName, NameLength3, TableType, NameLength4);
  });
}

SQLRETURN SQL_API SQLColumns(SQLHSTMT StatementHandle, SQLCHAR* CatalogName,
                             SQLSMALLINT NameLength1, SQLCHAR* SchemaName,
                             SQLSMALLINT NameLength2, SQLCHAR* TableName,
                             SQLSMALLINT NameLength3, SQLCHAR* ColumnName,
                             SQLSMALLINT NameLength4) {
  return StmtCall(StatementHandle, [&](tagOBJECT* stmt) {
    return DoSQLColumns(static_cast<tagSTMT*>(stmt), CatalogName, NameLength1, SchemaName,
                        NameLength2, TableName, NameLength3, ColumnName, NameLength4);
  });
}

SQLRETURN SQL_API SQLStatistics(SQLHSTMT StatementHandle, SQLCHAR* CatalogName,
                                SQLSMALLINT NameLength1, SQLCHAR* SchemaName,
                                SQLSMALLINT NameLength2, SQLCHAR* TableName,
                                SQLSMALLINT NameLength3, SQLUSMALLINT Unique,
                                SQLUSMALLINT Reserved) {
  return StmtCall(StatementHandle, [&](tagOBJECT* stmt) {
    return DoSQLStatistics(static_cast<tagSTMT*>(stmt), CatalogName, NameLength1, SchemaName,
                           NameLength2, TableName, NameLength3, Unique, Reserved);
  });
}

SQLRETURN SQL_API SQLSpecialColumns(SQLHSTMT StatementHandle, SQLUSMALLINT IdentifierType,
                                    SQLCHAR* CatalogName, SQLSMALLINT NameLength1,
                                    SQLCHAR* SchemaName, SQLSMALLINT NameLength2,
                                    SQLCHAR* TableName, SQLSMALLINT NameLength3,
                                    SQLUSMALLINT Scope, SQLUSMALLINT Nullable) {
  return StmtCall(StatementHandle, [&](tagOBJECT* stmt) {
    return DoSQLSpecialColumns(static_cast<tagSTMT*>(stmt), IdentifierType, CatalogName,
                               NameLength1, SchemaName, NameLength2, TableName, NameLength3,
                               Scope, Nullable);
  });
}

SQLRETURN SQL_API SQLPrimaryKeys(SQLHSTMT hstmt, SQLCHAR* szCatalogName,
                                 SQLSMALLINT cbCatalogName, SQLCHAR* szSchemaName,
                                 SQLSMALLINT cbSchemaName, SQLCHAR* szTableName,
                                 SQLSMALLINT cbTableName) {
  return StmtCall(hstmt, [&](tagOBJECT* stmt) {
    return DoSQLPrimaryKeys(static_cast<tagSTMT*>(stmt), szCatalogName, cbCatalogName,
                            szSchemaName, cbSchemaName, szTableName, cbTableName);
  });
}

SQLRETURN SQL_API SQLForeignKeys(SQLHSTMT hstmt, SQLCHAR* szPkCatalogName,
                                 SQLSMALLINT cbPkCatalogName, SQLCHAR* szPkSchemaName,
                                 SQLSMALLINT cbPkSchemaName, SQLCHAR* szPkTableName,
                                 SQLSMALLINT cbPkTableName, SQLCHAR* szFkCatalogName,
                                 SQLSMALLINT cbFkCatalogName, SQLCHAR* szFkSchemaName,
                                 SQLSMALLINT cbFkSchemaName, SQLCHAR* szFkTableName,
                                 SQLSMALLINT cbFkTableName) {
  return StmtCall(hstmt, [&](tagOBJECT* stmt) {
    return DoSQLForeignKeys(static_cast<tagSTMT*>(stmt), szPkCatalogName, cbPkCatalogName,
                            szPkSchemaName, cbPkSchemaName, szPkTableName, cbPkTableName,
                            szFkCatalogName, cbFkCatalogName, szFkSchemaName, cbFkSchemaName,
                            szFkTableName, cbFkTableName);
  });
}

SQLRETURN SQL_API SQLProcedures(SQLHSTMT hstmt, SQLCHAR* szCatalogName,
                                SQLSMALLINT cbCatalogName, SQLCHAR* szSchemaName,
                                SQLSMALLINT cbSchemaName, SQLCHAR* szProcName,
                                SQLSMALLINT cbProcName) {
  return StmtCall(hstmt, [&](tagOBJECT* stmt) {
    return DoSQLProcedures(static_cast<tagSTMT*>(stmt), szCatalogName, cbCatalogName,
                           szSchemaName, cbSchemaName, szProcName, cbProcName);
  });
}

SQLRETURN SQL_API SQLProcedureColumns(SQLHSTMT hstmt, SQLCHAR* szCatalogName,
                                      SQLSMALLINT cbCatalogName, SQLCHAR* szSchemaName,
                                      SQLSMALLINT cbSchemaName, SQLCHAR* szProcName,
                                      SQLSMALLINT cbProcName, SQLCHAR* szColumnName,
                                      SQLSMALLINT cbColumnName) {
  return StmtCall(hstmt, [&](tagOBJECT* stmt) {
    return DoSQLProcedureColumns(static_cast<tagSTMT*>(stmt), szCatalogName, cbCatalogName,
                                 szSchemaName, cbSchemaName, szProcName, cbProcName,
                                 szColumnName, cbColumnName);
  });
}

SQLRETURN SQL_API SQLTablePrivileges(SQLHSTMT hstmt, SQLCHAR* szCatalogName,
                                     SQLSMALLINT cbCatalogName, SQLCHAR* szSchemaName,
                                     SQLSMALLINT cbSchemaName, SQLCHAR* szTableName,
                                     SQLSMALLINT cbTableName) {
  return StmtCall(hstmt, [&](tagOBJECT* stmt) {
    return DoSQLTablePrivileges(static_cast<tagSTMT*>(stmt), szCatalogName, cbCatalogName,
                                szSchemaName, cbSchemaName, szTableName, cbTableName);
  });
}

SQLRETURN SQL_API SQLColumnPrivileges(SQLHSTMT hstmt, SQLCHAR* szCatalogName,
                                      SQLSMALLINT cbCatalogName, SQLCHAR* szSchemaName,
                                      SQLSMALLINT cbSchemaName, SQLCHAR* szTableName,
                                      SQLSMALLINT cbTableName, SQLCHAR* szColumnName,
                                      SQLSMALLINT cbColumnName) {
  return StmtCall(hstmt, [&](tagOBJECT* stmt) {
    return DoSQLColumnPrivileges(static_cast<tagSTMT*>(stmt), szCatalogName, cbCatalogName,
                                 szSchemaName, cbSchemaName, szTableName, cbTableName,
                                 szColumnName, cbColumnName);
  });
}

// ============================================================================================
// 7. Descriptors
// ============================================================================================

SQLRETURN SQL_API SQLGetDescField(SQLHDESC DescriptorHandle, SQLSMALLINT RecNumber,
                                  SQLSMALLINT FieldIdentifier, SQLPOINTER Value,
                                  SQLINTEGER BufferLength, SQLINTEGER* StringLength) {
  return DescCall(DescriptorHandle, [&](tagOBJECT* desc) {
    return DoSQLGetDescField(static_cast<tagDESC*>(desc), RecNumber, FieldIdentifier, Value,
                             BufferLength, StringLength);
  });
}

SQLRETURN SQL_API SQLSetDescField(SQLHDESC DescriptorHandle, SQLSMALLINT RecNumber,
                                  SQLSMALLINT FieldIdentifier, SQLPOINTER Value,
                                  SQLINTEGER BufferLength) {
  return DescCall(DescriptorHandle, [&](tagOBJECT* desc) {
    return DoSQLSetDescField(static_cast<tagDESC*>(desc), RecNumber, FieldIdentifier, Value,
                             BufferLength);
  });
}

SQLRETURN SQL_API SQLGetDescRec(SQLHDESC DescriptorHandle, SQLSMALLINT RecNumber, SQLCHAR* Name,
                                SQLSMALLINT BufferLength, SQLSMALLINT* StringLength,
                                SQLSMALLINT* Type, SQLSMALLINT* SubType, SQLLEN* Length,
                                SQLSMALLINT* Precision, SQLSMALLINT* Scale,
                                SQLSMALLINT* Nullable) {
  return DescCall(DescriptorHandle, [&](tagOBJECT* desc) {
    return DoSQLGetDescRec(static_cast<tagDESC*>(desc), RecNumber, Name, BufferLength,
                           StringLength, Type, SubType, Length, Precision, Scale, Nullable);
  });
}

SQLRETURN SQL_API SQLSetDescRec(SQLHDESC DescriptorHandle, SQLSMALLINT RecNumber,
                                SQLSMALLINT Type, SQLSMALLINT SubType, SQLLEN Length,
                                SQLSMALLINT Precision, SQLSMALLINT Scale, SQLPOINTER Data,
                                SQLLEN* StringLength, SQLLEN* Indicator) {
  return DescCall(DescriptorHandle, [&](tagOBJECT* desc) {
    return DoSQLSetDescRec(static_cast<tagDESC*>(desc), RecNumber, Type, SubType, Length,
                           Precision, Scale, Data, StringLength, Indicator);
  });
}

SQLRETURN SQL_API SQLCopyDesc(SQLHDESC SourceDescHandle, SQLHDESC TargetDescHandle) {
  if (SQLRETURN refused = Init_desc2(SourceDescHandle, TargetDescHandle); refused != 0) {
    return refused;
  }
  const SQLRETURN rc = Guarded(Obj(TargetDescHandle), [&](tagOBJECT* target) {
    return DoSQLCopyDesc(static_cast<tagDESC*>(SourceDescHandle), static_cast<tagDESC*>(target));
  });
  Fini_desc2(SourceDescHandle, TargetDescHandle);
  return rc;
}

// ============================================================================================
// 8. Diagnostics
// ============================================================================================

SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT HandleType, SQLHANDLE Handle, SQLSMALLINT RecNumber,
                                SQLCHAR* Sqlstate, SQLINTEGER* NativeError,
                                SQLCHAR* MessageText, SQLSMALLINT BufferLength,
                                SQLSMALLINT* TextLength) {
  return DiagCall(HandleType, Handle, [&](tagOBJECT*) {
    return DoSQLGetDiagRec(HandleType, Handle, RecNumber, Sqlstate, NativeError, MessageText,
                           BufferLength, TextLength);
  });
}

SQLRETURN SQL_API SQLGetDiagField(SQLSMALLINT HandleType, SQLHANDLE Handle,
                                  SQLSMALLINT RecNumber, SQLSMALLINT DiagIdentifier,
                                  SQLPOINTER DiagInfo, SQLSMALLINT BufferLength,
                                  SQLSMALLINT* StringLength) {
  return DiagCall(HandleType, Handle, [&](tagOBJECT*) {
    return DoSQLGetDiagField(HandleType, Handle, RecNumber, DiagIdentifier, DiagInfo,
                             BufferLength, StringLength);
  });
}

SQLRETURN SQL_API SQLError(SQLHENV EnvironmentHandle, SQLHDBC ConnectionHandle,
                           SQLHSTMT StatementHandle, SQLCHAR* Sqlstate, SQLINTEGER* NativeError,
                           SQLCHAR* MessageText, SQLSMALLINT BufferLength,
                           SQLSMALLINT* TextLength) {
  SQLSMALLINT type = SQL_HANDLE_STMT;
  SQLHANDLE h = StatementHandle;
  if (h == nullptr) {
    type = SQL_HANDLE_DBC;
    h = ConnectionHandle;
  }
  if (h == nullptr) {
    type = SQL_HANDLE_ENV;
    h = EnvironmentHandle;
  }
  if (h == nullptr) return SQL_INVALID_HANDLE;
  return DiagCall(type, h, [&](tagOBJECT*) {
    return DoSQLError(type, h, Sqlstate, NativeError, MessageText, BufferLength, TextLength);
  });
}

// ============================================================================================
// 9. Cancel and transactions
// ============================================================================================

// SQLCancel takes no lock on the road that cancels, so that another thread can cancel a
// statement whose call holds the connection's mutex. While a call runs on the statement
// the cancel only asks the engine to cancel the connection's request: the running call
// owns the statement's diagnostics and the connection's fields, and the cancel touches
// neither. With no call in progress the cancel is an ordinary framed call.
SQLRETURN SQL_API SQLCancel(SQLHSTMT StatementHandle) {
  tagOBJECT* h = Obj(StatementHandle);
  if (h == nullptr || h->kind != OBJ_STMT) return SQL_INVALID_HANDLE;
  if (odbc_lib_unloaded.load() != 0 || UnixForkProtection_IsChild() != 0) return SQL_ERROR;
  auto* stmt = static_cast<tagSTMT*>(h);
  if ((stmt->call_flags.load() & kStmtInCall) != 0) {
    tagOBJECT* dbc = h->parent;
    if (dbc == nullptr || dbc->kind != OBJ_DBC) return SQL_INVALID_HANDLE;
    DBCancel(static_cast<tagDBC*>(dbc));
    return SQL_SUCCESS;
  }
  return StmtCall(StatementHandle,
                  [](tagOBJECT* s) { return DoSQLCancel(static_cast<tagSTMT*>(s)); });
}

SQLRETURN SQL_API SQLEndTran(SQLSMALLINT HandleType, SQLHANDLE Handle,
                             SQLSMALLINT CompletionType) {
  switch (HandleType) {
    case SQL_HANDLE_ENV:
      return EnvCall(Handle, [&](tagOBJECT* env) {
        return EndTranEnvironment(static_cast<tagENV*>(env), CompletionType);
      });
    case SQL_HANDLE_DBC:
      return DbcCall(Handle, [&](tagOBJECT* dbc) {
        return EndTranConnection(static_cast<tagDBC*>(dbc), CompletionType);
      });
    default:
      return BadHandleType(Handle);
  }
}

SQLRETURN SQL_API SQLTransact(SQLHENV EnvironmentHandle, SQLHDBC ConnectionHandle,
                              SQLUSMALLINT CompletionType) {
  const auto completion = static_cast<SQLSMALLINT>(CompletionType);
  if (ConnectionHandle != nullptr) {
    return DbcCall(ConnectionHandle, [&](tagOBJECT* dbc) {
      return EndTranConnection(static_cast<tagDBC*>(dbc), completion);
    });
  }
  return EnvCall(EnvironmentHandle, [&](tagOBJECT* env) {
    return EndTranEnvironment(static_cast<tagENV*>(env), completion);
  });
}

// ============================================================================================
// 10. Installer entry points
// ============================================================================================

// Nothing thrown leaves these: a throw is a refused request.
BOOL INSTAPI ConfigDSN(HWND hwndParent, WORD fRequest, LPCSTR lpszDriver,
                       LPCSTR lpszAttributes) {
  try {
    return ConfigureDataSource(hwndParent, fRequest, lpszDriver, lpszAttributes);
  } catch (...) {
    return 0;  // refused
  }
}

BOOL INSTAPI SQLConfigDataSource(HWND hwndParent, WORD fRequest, LPCSTR lpszDriver,
                                 LPCSTR lpszAttributes) {
  try {
    return ConfigureDataSource(hwndParent, fRequest, lpszDriver, lpszAttributes);
  } catch (...) {
    return 0;  // refused
  }
}

BOOL INSTAPI SQLGetInstalledDrivers(LPSTR lpszBuf, WORD cbBufMax, WORD* pcbBufOut) {
  return GetInstalledDrivers(lpszBuf, cbBufMax, pcbBufOut);
}

}  // extern "C"
