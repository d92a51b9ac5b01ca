// The exported wide (UTF-16) entry points of connections, statements' SQL text and
// diagnostics. Each frames its call like its narrow twin, converts its text arguments
// into the connection's character set, calls the same implementation, and converts the
// text it returns back into the caller's UTF-16 buffers.
//
// Divisions of this file, in order:
//   1. Connect
//   2. Connection attributes and options
//   3. Driver information and SQL text
//   4. Diagnostics
//
// Lengths follow the ODBC API: in characters where it counts characters, in bytes where
// it counts bytes (attributes, information, descriptor and diagnostic fields). The
// prototypes come from sqlucode.h, so a signature that differs fails to compile.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>

#include "odbc/attributes.h"
#include "odbc/call_framing.h"
#include "odbc/connect.h"
#include "odbc/diagnostics.h"
#include "odbc/driver_info.h"
#include "odbc/handles.h"
#include "odbc/statement.h"
#include "odbc/string_pool.h"
#include "odbc/wide_calls.h"
#include "odbc/wide_text.h"

using namespace vq::odbc;

namespace {

// SQLGetConnectAttrW with this attribute converts narrow text already in the value
// buffer into UTF-16 in place, for the driver's own callbacks.
constexpr SQLINTEGER kAttrNarrowToWide = 1905;
constexpr SQLINTEGER kAttrAPINameText = 1909;
constexpr SQLINTEGER kAttrWideText1900 = 1900;
// The ODBC 2 option calls' buffer size.
constexpr SQLINTEGER kOptionBufferBytes = 256;
// SQLSTATE: five characters and a terminator.
constexpr std::size_t kStateChars = 5;

bool IsTextInfo(SQLUSMALLINT item) {
  switch (item) {
    case 2:
    case 6:
    case 7:
    case 10:
    case 11:
    case 13:
    case 14:
    case 16:
    case 17:
    case 18:
    case 19:
    case 20:
    case 21:
    case 25:
    case 27:
    case 29:
    case 36:
    case 37:
    case 38:
    case 39:
    case 40:
    case 41:
    case 42:
    case 45:
    case 47:
    case 73:
    case 77:
    case 87:
    case 89:
    case 90:
    case 94:
    case 103:
    case 111:
    case 113:
    case 10000:
    case 10002:
    case 10003:
    case 10004:
      return true;
    default:
      return false;
  }
}

bool IsTextConnectAttr(SQLINTEGER attribute) {
  return attribute == SQL_ATTR_TRACEFILE || attribute == SQL_ATTR_TRANSLATE_LIB ||
         attribute == SQL_ATTR_CURRENT_CATALOG || attribute == kAttrWideText1900;
}

bool IsTextDiagField(SQLSMALLINT field) {
  return field == SQL_DIAG_SQLSTATE ||
         (field >= SQL_DIAG_MESSAGE_TEXT && field <= SQL_DIAG_SERVER_NAME);
}

// The SQLSTATE (ASCII) widened into the caller's 6 code units.
void WidenState(const SQLCHAR* state, SQLWCHAR* out) {
  if (out == nullptr) return;
  std::size_t i = 0;
  for (; i < kStateChars && state[i] != 0; ++i) out[i] = state[i];
  out[i] = 0;
}

// Runs a connect implementation with the converted connection string and its out-string
// (both may hold a password: wiped before they go back to the pool). The result is
// always the implementation's.
template <typename Impl>
SQLRETURN ConnectStringW(tagOBJECT* h, const SQLWCHAR* in, SQLSMALLINT in_chars, SQLWCHAR* out,
                         SQLSMALLINT out_chars, SQLSMALLINT* out_length, Impl&& impl) {
  NarrowArg text(true);
  if (!text.ConvertShort(h, in, in_chars)) return SQL_ERROR;
  return CharsOutW(h, WideFactor(h), out, out_chars, out_length, kShortBytes, true, true, true,
                   [&](char* narrow, SQLINTEGER size, SQLINTEGER* reported) {
                     SQLSMALLINT n = 0;
                     const SQLRETURN rc = impl(text, reinterpret_cast<SQLCHAR*>(narrow),
                                               static_cast<SQLSMALLINT>(size), &n);
                     *reported = n;
                     return rc;
                   });
}

// SQLGetConnectAttrW(1905): no framing (the driver calls it from inside a call that holds
// the connection's lock). The value buffer holds `*length` bytes of narrow text; they are
// copied aside and returned in place as UTF-16. The narrow length is bounded by the
// buffer, so nothing past it is ever read.
SQLRETURN NarrowToWideInPlace(SQLHDBC hdbc, SQLPOINTER value, SQLINTEGER buffer_length,
                              SQLINTEGER* length) {
  tagOBJECT* h = Obj(hdbc);
  if (h == nullptr || h->kind != OBJ_DBC) return SQL_INVALID_HANDLE;
  if (value == nullptr || length == nullptr || buffer_length < 0 || *length < 0 ||
      *length > buffer_length) {
    return SQL_ERROR;
  }
  const SQLINTEGER n = *length;
  auto* copy =
      static_cast<char*>(StringRequest(h, true, nullptr, static_cast<std::size_t>(n) + 1));
  if (copy == nullptr) return SQL_ERROR;
  std::memcpy(copy, value, static_cast<std::size_t>(n));
  copy[n] = '\0';
  const int r =
      ReturnStringW(h, static_cast<SQLWCHAR*>(value), buffer_length, length, copy, n, true);
  StringFree(copy);
  return static_cast<SQLRETURN>(r);
}

SQLRETURN GetConnectAttrW(SQLHDBC hdbc, SQLINTEGER attribute, SQLPOINTER value,
                          SQLINTEGER buffer_length, SQLINTEGER* length) {
  if (attribute == kAttrNarrowToWide) {
    return NarrowToWideInPlace(hdbc, value, buffer_length, length);
  }
  return DbcCall(hdbc, [&](tagOBJECT* h) {
    auto* dbc = static_cast<tagDBC*>(h);
    if (!IsTextConnectAttr(attribute)) {
      return DoSQLGetConnectAttr(dbc, attribute, value, buffer_length, length);
    }
    return BytesOutW(h, WideFactor(h), value, buffer_length, length, kLongBytes, true,
                     [&](char* narrow, SQLINTEGER size, SQLINTEGER* reported) {
                       return DoSQLGetConnectAttr(dbc, attribute, narrow, size, reported);
                     });
  });
}

// SQLGetDiagRecW and SQLErrorW: the SQLSTATE into 6 code units, the message (in bytes
// for SQLErrorW, as this driver defines it; in characters for SQLGetDiagRecW), no
// warning of their own.
template <typename Impl>
SQLRETURN DiagRecW(tagOBJECT* h, SQLWCHAR* state, SQLWCHAR* message, SQLSMALLINT buffer_length,
                   SQLSMALLINT* text_length, bool in_chars, Impl&& impl) {
  SQLCHAR narrow_state[kStateChars + 1] = {};
  auto run = [&](char* narrow, SQLINTEGER size, SQLINTEGER* reported) {
    SQLSMALLINT n = 0;
    const SQLRETURN rc = impl(narrow_state, reinterpret_cast<SQLCHAR*>(narrow),
                              static_cast<SQLSMALLINT>(size), &n);
    *reported = n;
    if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) WidenState(narrow_state, state);
    return rc;
  };
  if (in_chars) {
    return CharsOutW(h, WideFactor(h), message, buffer_length, text_length, kShortBytes, false,
                     false, false, run);
  }
  return BytesOutW(h, WideFactor(h), message, buffer_length, text_length, kShortBytes, false,
                   run);
}

}  // namespace

extern "C" {

// ============================================================================================
// 1. Connect
// ============================================================================================

SQLRETURN SQL_API SQLConnectW(SQLHDBC hdbc, SQLWCHAR* szDSN, SQLSMALLINT cbDSN, SQLWCHAR* szUID,
                              SQLSMALLINT cbUID, SQLWCHAR* szAuthStr, SQLSMALLINT cbAuthStr) {
  return DbcCall(hdbc, [&](tagOBJECT* h) -> SQLRETURN {
    NarrowArg dsn;
    NarrowArg uid;
    NarrowArg password(true);
    if (!dsn.ConvertShort(h, szDSN, cbDSN) || !uid.ConvertShort(h, szUID, cbUID) ||
        !password.ConvertShort(h, szAuthStr, cbAuthStr)) {
      return SQL_ERROR;
    }
    return DoSQLConnect(static_cast<tagDBC*>(h), dsn.text(), dsn.short_length(), uid.text(),
                        uid.short_length(), password.text(), password.short_length());
  });
}

SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC hdbc, SQLHWND hwnd, SQLWCHAR* szConnStrIn,
                                    SQLSMALLINT cbConnStrIn, SQLWCHAR* szConnStrOut,
                                    SQLSMALLINT cbConnStrOutMax, SQLSMALLINT* pcbConnStrOut,
                                    SQLUSMALLINT fDriverCompletion) {
  return DbcCall(hdbc, [&](tagOBJECT* h) {
    return ConnectStringW(
        h, szConnStrIn, cbConnStrIn, szConnStrOut, cbConnStrOutMax, pcbConnStrOut,
        [&](const NarrowArg& in, SQLCHAR* out, SQLSMALLINT size, SQLSMALLINT* length) {
          return DoSQLDriverConnect(static_cast<tagDBC*>(h), hwnd, in.text(), in.short_length(),
                                    out, size, length, fDriverCompletion);
        });
  });
}

SQLRETURN SQL_API SQLBrowseConnectW(SQLHDBC hdbc, SQLWCHAR* szConnStrIn,
                                    SQLSMALLINT cbConnStrIn, SQLWCHAR* szConnStrOut,
                                    SQLSMALLINT cbConnStrOutMax, SQLSMALLINT* pcbConnStrOut) {
  return DbcCall(hdbc, [&](tagOBJECT* h) {
    return ConnectStringW(
        h, szConnStrIn, cbConnStrIn, szConnStrOut, cbConnStrOutMax, pcbConnStrOut,
        [&](const NarrowArg& in, SQLCHAR* out, SQLSMALLINT size, SQLSMALLINT* length) {
          return DoSQLBrowseConnect(static_cast<tagDBC*>(h), in.text(), in.short_length(), out,
                                    size, length);
        });
  });
}

// ============================================================================================
// 2. Connection attributes and options
// ============================================================================================

SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC hdbc, SQLINTEGER fAttribute, SQLPOINTER rgbValue,
                                     SQLINTEGER cbValue) {
  return DbcCall(hdbc, [&](tagOBJECT* h) -> SQLRETURN {
    auto* dbc = static_cast<tagDBC*>(h);
    if (fAttribute != SQL_ATTR_TRACEFILE && fAttribute != SQL_ATTR_TRANSLATE_LIB &&
        fAttribute != kAttrAPINameText) {
      return DoSQLSetConnectAttr(dbc, fAttribute, rgbValue, cbValue);
    }
    // A length in bytes becomes characters; SQL_NTS stays.
    const SQLINTEGER chars = cbValue >= 0 ? cbValue / 2 : cbValue;
    NarrowArg text;
    if (!text.Convert(h, static_cast<const SQLWCHAR*>(rgbValue), chars)) return SQL_ERROR;
    return DoSQLSetConnectAttr(dbc, fAttribute, const_cast<SQLCHAR*>(text.text()),
                               text.length());
  });
}

SQLRETURN SQL_API SQLGetConnectAttrW(SQLHDBC hdbc, SQLINTEGER fAttribute, SQLPOINTER rgbValue,
                                     SQLINTEGER cbValueMax, SQLINTEGER* pcbValue) {
  return GetConnectAttrW(hdbc, fAttribute, rgbValue, cbValueMax, pcbValue);
}

// The value passes straight through, with length SQL_NTS, as in the narrow call.
SQLRETURN SQL_API SQLSetConnectOptionW(SQLHDBC hdbc, SQLUSMALLINT fOption, SQLULEN vParam) {
  return SQLSetConnectOption(hdbc, fOption, vParam);
}

SQLRETURN SQL_API SQLGetConnectOptionW(SQLHDBC hdbc, SQLUSMALLINT fOption, SQLPOINTER pvParam) {
  return GetConnectAttrW(hdbc, fOption, pvParam, kOptionBufferBytes, nullptr);
}

// ============================================================================================
// 3. Driver information and SQL text
// ============================================================================================

SQLRETURN SQL_API SQLGetInfoW(SQLHDBC hdbc, SQLUSMALLINT fInfoType, SQLPOINTER rgbInfoValue,
                              SQLSMALLINT cbInfoValueMax, SQLSMALLINT* pcbInfoValue) {
  return DbcCall(hdbc, [&](tagOBJECT* h) {
    auto* dbc = static_cast<tagDBC*>(h);
    if (!IsTextInfo(fInfoType)) {
      return DoSQLGetInfo(dbc, fInfoType, rgbInfoValue, cbInfoValueMax, pcbInfoValue);
    }
    return BytesOutW(h, WideFactor(h), rgbInfoValue, cbInfoValueMax, pcbInfoValue, kShortBytes,
                     true, [&](char* narrow, SQLINTEGER size, SQLINTEGER* reported) {
                       SQLSMALLINT n = 0;
                       const SQLRETURN rc = DoSQLGetInfo(dbc, fInfoType, narrow,
                                                         static_cast<SQLSMALLINT>(size), &n);
                       *reported = n;
                       return rc;
                     });
  });
}

SQLRETURN SQL_API SQLNativeSqlW(SQLHDBC hdbc, SQLWCHAR* szSqlStrIn, SQLINTEGER cbSqlStrIn,
                                SQLWCHAR* szSqlStr, SQLINTEGER cbSqlStrMax,
                                SQLINTEGER* pcbSqlStr) {
  return DbcCall(hdbc, [&](tagOBJECT* h) -> SQLRETURN {
    auto* dbc = static_cast<tagDBC*>(h);
    NarrowArg in;
    if (!in.Convert(h, szSqlStrIn, cbSqlStrIn)) return SQL_ERROR;
    return CharsOutW(h, WideFactor(h), szSqlStr, cbSqlStrMax, pcbSqlStr, kLongBytes, true,
                     false, false, [&](char* narrow, SQLINTEGER size, SQLINTEGER* reported) {
                       return DoSQLNativeSql(dbc, in.text(), in.length(),
                                             reinterpret_cast<SQLCHAR*>(narrow), size,
                                             reported);
                     });
  });
}

SQLRETURN SQL_API SQLPrepareW(SQLHSTMT hstmt, SQLWCHAR* szSqlStr, SQLINTEGER cbSqlStr) {
  return StmtCall(hstmt, [&](tagOBJECT* h) -> SQLRETURN {
    NarrowArg text;
    if (!text.Convert(h, szSqlStr, cbSqlStr)) return SQL_ERROR;
    return DoSQLPrepare(static_cast<tagSTMT*>(h), text.text(), text.length());
  });
}

SQLRETURN SQL_API SQLExecDirectW(SQLHSTMT hstmt, SQLWCHAR* szSqlStr, SQLINTEGER cbSqlStr) {
  return StmtCall(hstmt, [&](tagOBJECT* h) -> SQLRETURN {
    NarrowArg text;
    if (!text.Convert(h, szSqlStr, cbSqlStr)) return SQL_ERROR;
    return DoSQLExecDirect(static_cast<tagSTMT*>(h), text.text(), text.length());
  });
}

// ============================================================================================
// 4. Diagnostics
// ============================================================================================

SQLRETURN SQL_API SQLGetDiagRecW(SQLSMALLINT fHandleType, SQLHANDLE handle, SQLSMALLINT iRecord,
                                 SQLWCHAR* szSqlState, SQLINTEGER* pfNativeError,
                                 SQLWCHAR* szErrorMsg, SQLSMALLINT cbErrorMsgMax,
                                 SQLSMALLINT* pcbErrorMsg) {
  return DiagCall(fHandleType, handle, [&](tagOBJECT* h) {
    return DiagRecW(
        h, szSqlState, szErrorMsg, cbErrorMsgMax, pcbErrorMsg, true,
        [&](SQLCHAR* state, SQLCHAR* message, SQLSMALLINT size, SQLSMALLINT* length) {
          return DoSQLGetDiagRec(fHandleType, handle, iRecord, state, pfNativeError, message,
                                 size, length);
        });
  });
}

SQLRETURN SQL_API SQLErrorW(SQLHENV henv, SQLHDBC hdbc, SQLHSTMT hstmt, SQLWCHAR* szSqlState,
                            SQLINTEGER* pfNativeError, SQLWCHAR* szErrorMsg,
                            SQLSMALLINT cbErrorMsgMax, SQLSMALLINT* pcbErrorMsg) {
  SQLSMALLINT type = SQL_HANDLE_STMT;
  SQLHANDLE handle = hstmt;
  if (handle == nullptr) {
    type = SQL_HANDLE_DBC;
    handle = hdbc;
  }
  if (handle == nullptr) {
    type = SQL_HANDLE_ENV;
    handle = henv;
  }
  if (handle == nullptr) return SQL_INVALID_HANDLE;
  return DiagCall(type, handle, [&](tagOBJECT* h) {
    return DiagRecW(
        h, szSqlState, szErrorMsg, cbErrorMsgMax, pcbErrorMsg, false,
        [&](SQLCHAR* state, SQLCHAR* message, SQLSMALLINT size, SQLSMALLINT* length) {
          return DoSQLError(type, handle, state, pfNativeError, message, size, length);
        });
  });
}

SQLRETURN SQL_API SQLGetDiagFieldW(SQLSMALLINT fHandleType, SQLHANDLE handle,
                                   SQLSMALLINT iRecord, SQLSMALLINT fDiagField,
                                   SQLPOINTER rgbDiagInfo, SQLSMALLINT cbDiagInfoMax,
                                   SQLSMALLINT* pcbDiagInfo) {
  return DiagCall(fHandleType, handle, [&](tagOBJECT* h) {
    if (!IsTextDiagField(fDiagField)) {
      return DoSQLGetDiagField(fHandleType, handle, iRecord, fDiagField, rgbDiagInfo,
                               cbDiagInfoMax, pcbDiagInfo);
    }
    return BytesOutW(h, WideFactor(h), rgbDiagInfo, cbDiagInfoMax, pcbDiagInfo, kShortBytes,
                     false, [&](char* narrow, SQLINTEGER size, SQLINTEGER* reported) {
                       SQLSMALLINT n = 0;
                       const SQLRETURN rc =
                           DoSQLGetDiagField(fHandleType, handle, iRecord, fDiagField, narrow,
                                             static_cast<SQLSMALLINT>(size), &n);
                       *reported = n;
                       return rc;
                     });
  });
}

}  // extern "C"
