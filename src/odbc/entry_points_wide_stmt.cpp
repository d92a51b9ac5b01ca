// The exported wide (UTF-16) entry points of statements, result columns, descriptors
// and data sources, framed and converted as in entry_points_wide.cpp.
//
// Divisions of this file, in order:
//   1. Statements: cursor names, attributes
//   2. Result columns
//   3. Descriptors
//   4. Data sources
//
// Text fields of column attributes and descriptor fields, and the names of SQLGetDescRecW
// and SQLDataSourcesW, are measured in bytes, as this driver defines them.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include "odbc/attributes.h"
#include "odbc/call_framing.h"
#include "odbc/data_sources.h"
#include "odbc/descriptors.h"
#include "odbc/handles.h"
#include "odbc/statement.h"
#include "odbc/wide_calls.h"
#include "odbc/wide_text.h"

using namespace vq::odbc;

namespace {

// Text fields of SQLColAttributeW, SQLColAttributesW and SQLGetDescFieldW.
bool IsTextField(SQLUSMALLINT field) {
  switch (field) {
    case SQL_COLUMN_NAME:            // 1
    case SQL_DESC_TYPE_NAME:         // 14
    case SQL_DESC_TABLE_NAME:        // 15
    case SQL_DESC_SCHEMA_NAME:       // 16
    case SQL_DESC_CATALOG_NAME:      // 17
    case SQL_DESC_LABEL:             // 18
    case SQL_DESC_BASE_COLUMN_NAME:  // 22
    case SQL_DESC_BASE_TABLE_NAME:   // 23
    case SQL_DESC_LITERAL_PREFIX:    // 27
    case SQL_DESC_LITERAL_SUFFIX:    // 28
    case SQL_DESC_LOCAL_TYPE_NAME:   // 29
    case SQL_DESC_NAME:              // 1011
      return true;
    default:
      return false;
  }
}

SQLRETURN ColAttributeW(SQLHSTMT hstmt, SQLUSMALLINT column, SQLUSMALLINT field,
                        SQLPOINTER text, SQLSMALLINT text_bytes, SQLSMALLINT* text_length,
                        SQLLEN* numeric) {
  return StmtCall(hstmt, [&](tagOBJECT* h) {
    auto* stmt = static_cast<tagSTMT*>(h);
    if (!IsTextField(field)) {
      return DoSQLColAttribute(stmt, column, field, text, text_bytes, text_length, numeric);
    }
    return BytesOutW(h, WideFactor(h), text, text_bytes, text_length, kShortBytes, true,
                     [&](char* narrow, SQLINTEGER size, SQLINTEGER* reported) {
                       SQLSMALLINT n = 0;
                       const SQLRETURN rc =
                           DoSQLColAttribute(stmt, column, field, narrow,
                                             static_cast<SQLSMALLINT>(size), &n, numeric);
                       *reported = n;
                       return rc;
                     });
  });
}

}  // namespace

extern "C" {

// ============================================================================================
// 1. Statements: cursor names, attributes
// ============================================================================================

SQLRETURN SQL_API SQLSetCursorNameW(SQLHSTMT hstmt, SQLWCHAR* szCursor, SQLSMALLINT cbCursor) {
  return StmtCall(hstmt, [&](tagOBJECT* h) -> SQLRETURN {
    NarrowArg name;
    if (!name.ConvertShort(h, szCursor, cbCursor)) return SQL_ERROR;
    return DoSQLSetCursorName(static_cast<tagSTMT*>(h), name.text(), name.short_length());
  });
}

SQLRETURN SQL_API SQLGetCursorNameW(SQLHSTMT hstmt, SQLWCHAR* szCursor, SQLSMALLINT cbCursorMax,
                                    SQLSMALLINT* pcbCursor) {
  return StmtCall(hstmt, [&](tagOBJECT* h) {
    return CharsOutW(h, WideFactor(h), szCursor, cbCursorMax, pcbCursor, kShortBytes, true,
                     false, false, [&](char* narrow, SQLINTEGER size, SQLINTEGER* reported) {
                       SQLSMALLINT n = 0;
                       const SQLRETURN rc = DoSQLGetCursorName(
                           static_cast<tagSTMT*>(h), reinterpret_cast<SQLCHAR*>(narrow),
                           static_cast<SQLSMALLINT>(size), &n);
                       *reported = n;
                       return rc;
                     });
  });
}

// Statement attributes carry no text of their own: the narrow calls serve.
SQLRETURN SQL_API SQLSetStmtAttrW(SQLHSTMT hstmt, SQLINTEGER fAttribute, SQLPOINTER rgbValue,
                                  SQLINTEGER cbValueMax) {
  return SQLSetStmtAttr(hstmt, fAttribute, rgbValue, cbValueMax);
}

SQLRETURN SQL_API SQLGetStmtAttrW(SQLHSTMT hstmt, SQLINTEGER fAttribute, SQLPOINTER rgbValue,
                                  SQLINTEGER cbValueMax, SQLINTEGER* pcbValue) {
  return SQLGetStmtAttr(hstmt, fAttribute, rgbValue, cbValueMax, pcbValue);
}

// ============================================================================================
// 2. Result columns
// ============================================================================================

SQLRETURN SQL_API SQLDescribeColW(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLWCHAR* szColName,
                                  SQLSMALLINT cbColNameMax, SQLSMALLINT* pcbColName,
                                  SQLSMALLINT* pfSqlType, SQLULEN* pcbColDef,
                                  SQLSMALLINT* pibScale, SQLSMALLINT* pfNullable) {
  return StmtCall(hstmt, [&](tagOBJECT* h) {
    return CharsOutW(h, WideFactor(h), szColName, cbColNameMax, pcbColName, kShortBytes, true,
                     false, false, [&](char* narrow, SQLINTEGER size, SQLINTEGER* reported) {
                       SQLSMALLINT n = 0;
                       const SQLRETURN rc = DoSQLDescribeCol(
                           static_cast<tagSTMT*>(h), icol, reinterpret_cast<SQLCHAR*>(narrow),
                           static_cast<SQLSMALLINT>(size), &n, pfSqlType, pcbColDef, pibScale,
                           pfNullable);
                       *reported = n;
                       return rc;
                     });
  });
}

SQLRETURN SQL_API SQLColAttributeW(SQLHSTMT hstmt, SQLUSMALLINT iCol, SQLUSMALLINT iField,
                                   SQLPOINTER pCharAttr, SQLSMALLINT cbCharAttrMax,
                                   SQLSMALLINT* pcbCharAttr, SQLLEN* pNumAttr) {
  return ColAttributeW(hstmt, iCol, iField, pCharAttr, cbCharAttrMax, pcbCharAttr, pNumAttr);
}

SQLRETURN SQL_API SQLColAttributesW(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLUSMALLINT fDescType,
                                    SQLPOINTER rgbDesc, SQLSMALLINT cbDescMax,
                                    SQLSMALLINT* pcbDesc, SQLLEN* pfDesc) {
  return ColAttributeW(hstmt, icol, fDescType, rgbDesc, cbDescMax, pcbDesc, pfDesc);
}

// ============================================================================================
// 3. Descriptors
// ============================================================================================

SQLRETURN SQL_API SQLGetDescFieldW(SQLHDESC hdesc, SQLSMALLINT iRecord, SQLSMALLINT iField,
                                   SQLPOINTER rgbValue, SQLINTEGER cbValueMax,
                                   SQLINTEGER* pcbValue) {
  return DescCall(hdesc, [&](tagOBJECT* h) {
    auto* desc = static_cast<tagDESC*>(h);
    if (!IsTextField(static_cast<SQLUSMALLINT>(iField))) {
      return DoSQLGetDescField(desc, iRecord, iField, rgbValue, cbValueMax, pcbValue);
    }
    return BytesOutW(h, WideFactor(h), rgbValue, cbValueMax, pcbValue, kLongBytes, true,
                     [&](char* narrow, SQLINTEGER size, SQLINTEGER* reported) {
                       return DoSQLGetDescField(desc, iRecord, iField, narrow, size, reported);
                     });
  });
}

// Set as given, text included (as the narrow call does).
SQLRETURN SQL_API SQLSetDescFieldW(SQLHDESC DescriptorHandle, SQLSMALLINT RecNumber,
                                   SQLSMALLINT FieldIdentifier, SQLPOINTER Value,
                                   SQLINTEGER BufferLength) {
  return SQLSetDescField(DescriptorHandle, RecNumber, FieldIdentifier, Value, BufferLength);
}

SQLRETURN SQL_API SQLGetDescRecW(SQLHDESC hdesc, SQLSMALLINT iRecord, SQLWCHAR* szName,
                                 SQLSMALLINT cbNameMax, SQLSMALLINT* pcbName,
                                 SQLSMALLINT* pfType, SQLSMALLINT* pfSubType, SQLLEN* pLength,
                                 SQLSMALLINT* pPrecision, SQLSMALLINT* pScale,
                                 SQLSMALLINT* pNullable) {
  return DescCall(hdesc, [&](tagOBJECT* h) {
    return BytesOutW(h, WideFactor(h), szName, cbNameMax, pcbName, kShortBytes, true,
                     [&](char* narrow, SQLINTEGER size, SQLINTEGER* reported) {
                       SQLSMALLINT n = 0;
                       const SQLRETURN rc = DoSQLGetDescRec(
                           static_cast<tagDESC*>(h), iRecord,
                           reinterpret_cast<SQLCHAR*>(narrow), static_cast<SQLSMALLINT>(size),
                           &n, pfType, pfSubType, pLength, pPrecision, pScale, pNullable);
                       *reported = n;
                       return rc;
                     });
  });
}

// ============================================================================================
// 4. Data sources
// ============================================================================================

SQLRETURN SQL_API SQLDataSourcesW(SQLHENV henv, SQLUSMALLINT fDirection, SQLWCHAR* szDSN,
                                  SQLSMALLINT cbDSNMax, SQLSMALLINT* pcbDSN,
                                  SQLWCHAR* szDescription, SQLSMALLINT cbDescriptionMax,
                                  SQLSMALLINT* pcbDescription) {
  return EnvCall(henv, [&](tagOBJECT* h) -> SQLRETURN {
    // The description's narrow buffer is filled by the same implementation call as the
    // name's, so the name's output runs inside the description's.
    return BytesOutW(
        h, WideFactor(h), szDescription, cbDescriptionMax, pcbDescription, kShortBytes, true,
        [&](char* description, SQLINTEGER description_size, SQLINTEGER* description_length) {
          return BytesOutW(h, WideFactor(h), szDSN, cbDSNMax, pcbDSN, kShortBytes, true,
                           [&](char* name, SQLINTEGER name_size, SQLINTEGER* name_length) {
                             SQLSMALLINT n = 0;
                             SQLSMALLINT d = 0;
                             const SQLRETURN rc = DoSQLDataSources(
                                 static_cast<tagENV*>(h), fDirection,
                                 reinterpret_cast<SQLCHAR*>(name),
                                 static_cast<SQLSMALLINT>(name_size), &n,
                                 reinterpret_cast<SQLCHAR*>(description),
                                 static_cast<SQLSMALLINT>(description_size), &d);
                             *name_length = n;
                             *description_length = d;
                             return rc;
                           });
        });
  });
}

}  // extern "C"
