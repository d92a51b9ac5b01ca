// The column side of a statement: row count, number of result columns, column
// description and attributes from the implementation row descriptor (IRD), and column
// binding into the application row descriptor (ARD). Before column information is
// answered, a cursor opened without a description is described (DescribeCursor).
#include <climits>

#include "odbc/attributes.h"
#include "odbc/descriptors.h"
#include "odbc/diagnostics.h"
#include "odbc/parameters.h"
#include "odbc/statement.h"
#include "odbc/type_mapping.h"

namespace {

// Precision bound for SQL_C_NUMERIC columns.
constexpr SQLSMALLINT kNumericBindPrecision = 30;

// The common checks of column description and attributes: a statement with text, an IRD
// with records, the description brought up to date, and (unless `no_column`) a column
// that exists. The record, or null with the state posted.
const tagITEM* ColumnRecord(tagSTMT* stmt, SQLUSMALLINT column, bool no_column,
                            SQLRETURN* rc) {
  *rc = SQL_SUCCESS;
  if (stmt->state == kStmtAllocated) {
    *rc = PostSQLState(stmt, kStateHY010, kStateS1010);
    return nullptr;
  }
  if (stmt->ird->count == 0) {
    *rc = PostSQLState(stmt, kState07005, kState24000);
    return nullptr;
  }
  DescribeCursor(stmt);
  if (no_column) return nullptr;
  if (column > static_cast<SQLUSMALLINT>(stmt->ird->count)) {
    *rc = PostSQLState(stmt, kState07009, kStateS1002);
    return nullptr;
  }
  const tagITEM* item = nullptr;
  if (column == 0) {
    if (ULenOption(stmt, SQL_USE_BOOKMARKS) != SQL_UB_OFF) item = stmt->ird->bookmark;
  } else {
    item = FindDescItem(stmt->ird, static_cast<SQLSMALLINT>(column));
  }
  if (item == nullptr) *rc = PostSQLState(stmt, kState07009, kStateS1002);
  return item;
}

}  // namespace

SQLRETURN DoSQLRowCount(tagSTMT* stmt, SQLLEN* count) {
  if (stmt->state < kStmtExecuted) return PostSQLState(stmt, kStateHY010, kStateS1010);
  if (count == nullptr) return PostSQLState(stmt, kStateHY009, kStateS1009);
  *count = stmt->row_count;
  return stmt->retcode;
}

SQLRETURN DoSQLNumResultCols(tagSTMT* stmt, SQLSMALLINT* count) {
  if (stmt->state == kStmtAllocated) return PostSQLState(stmt, kStateHY010, kStateS1010);
  if (count == nullptr) return PostSQLState(stmt, kStateHY009, kStateS1009);
  if (stmt->ird->count > 0) DescribeCursor(stmt);
  *count = stmt->ird->count;
  return stmt->retcode;
}

SQLRETURN DoSQLDescribeCol(tagSTMT* stmt, SQLUSMALLINT column, SQLCHAR* name,
                           SQLSMALLINT buffer_length, SQLSMALLINT* name_length,
                           SQLSMALLINT* sql_type, SQLULEN* size, SQLSMALLINT* digits,
                           SQLSMALLINT* nullable) {
  SQLRETURN rc = SQL_SUCCESS;
  const tagITEM* item = ColumnRecord(stmt, column, false, &rc);
  if (item == nullptr) return rc;
  const SQLSMALLINT type = GetSQLType(item->concise_type);
  if (sql_type != nullptr) *sql_type = type;
  // The column size is the record's length for every type; numeric columns carry their
  // precision there.
  if (size != nullptr) *size = item->length;
  if (digits != nullptr) *digits = item->scale;
  if (nullable != nullptr) *nullable = item->nullable != 0 ? SQL_NULLABLE : SQL_NO_NULLS;
  if (name != nullptr || name_length != nullptr) {
    ReturnString(stmt, name, buffer_length, name_length, item->name, SQL_NTS);
  }
  return stmt->retcode;
}

SQLRETURN DoSQLColAttribute(tagSTMT* stmt, SQLUSMALLINT column, SQLUSMALLINT field,
                            SQLPOINTER text, SQLSMALLINT buffer_length,
                            SQLSMALLINT* text_length, SQLLEN* numeric) {
  const bool no_column = field == SQL_DESC_COUNT || field == SQL_COLUMN_COUNT;
  SQLRETURN rc = SQL_SUCCESS;
  (void)ColumnRecord(stmt, column, no_column, &rc);
  if (rc != SQL_SUCCESS) return rc;
  SQLINTEGER full_length = 0;
  GetDescField(stmt->ird, stmt, no_column ? 0 : static_cast<SQLSMALLINT>(column),
               static_cast<SQLSMALLINT>(field), text, buffer_length, &full_length, numeric,
               true);
  if (text_length != nullptr) {
    *text_length = static_cast<SQLSMALLINT>(full_length > SHRT_MAX ? SHRT_MAX : full_length);
  }
  return stmt->retcode;
}

SQLRETURN DoSQLBindCol(tagSTMT* stmt, SQLUSMALLINT column, SQLSMALLINT c_type,
                       SQLPOINTER target, SQLLEN buffer_length, SQLLEN* indicator) {
  // The bindings of a row or parameters waiting for data at execution stay as they are.
  if (AwaitingData(stmt)) return PostSQLState(stmt, kStateHY010, kStateS1010);
  tagDESC* ard = stmt->ard;
  if (column == 0) {
    if (target == nullptr) {
      UnBindBookmark(ard);
      ++ard->change_counter;
      return stmt->retcode;
    }
    tagITEM* bookmark = AccessBookmark(ard);
    if (bookmark == nullptr) {
      // The descriptor recorded HY001; the application sees it on the statement.
      return PostSQLState(stmt, kStateHY001, kStateS1001);
    }
    BindDescItem(bookmark, c_type, 0, buffer_length, 0, 0, target, indicator, indicator);
    ++ard->change_counter;
    return stmt->retcode;
  }
  if (column > SHRT_MAX) return PostSQLState(stmt, kState07009, kStateS1002);
  const auto number = static_cast<SQLSMALLINT>(column);
  if (target == nullptr) {
    if (number <= ard->count) {
      UnBindDescItem(ard, number);
      ++ard->change_counter;
    }
    return stmt->retcode;
  }
  if (!Valid_fCType(c_type)) return PostSQLState(stmt, kStateHY003, kStateS1003);
  if (!PointerAligned(target, c_type, buffer_length)) {
    return PostSQLState(stmt, kStateHY090, kStateS1090);
  }
  if (buffer_length < 0) return PostSQLState(stmt, kStateHY090, kStateS1090);
  if (const tagITEM* bound = FindDescItem(ard, number);
      bound != nullptr && (bound->flags & kItemBound) != 0 && bound->concise_type == c_type &&
      bound->octet_length == buffer_length && bound->data_ptr == target &&
      bound->indicator_ptr == indicator && bound->octet_length_ptr == indicator) {
    return stmt->retcode;
  }
  tagITEM* item = AccessDescItem(ard, number);
  if (item == nullptr) return PostSQLState(stmt, kStateHY001, kStateS1001);
  BindDescItem(item, c_type, 0, buffer_length,
               c_type == SQL_C_NUMERIC ? kNumericBindPrecision : 0, 0, target, indicator,
               indicator);
  ++ard->change_counter;
  return stmt->retcode;
}
