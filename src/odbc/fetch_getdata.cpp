// SQLGetData: the checks, the bookmark column, the resolution of SQL_ARD_TYPE and
// SQL_C_DEFAULT, and the work record that describes the application's buffer for the
// engine's piece-by-piece conversion.
#include <cstring>

#include "odbc/diagnostics.h"
#include "odbc/engine.h"
#include "odbc/fetch.h"
#include "odbc/fetch_internal.h"
#include "odbc/parameters.h"
#include "odbc/type_mapping.h"

namespace {

constexpr a_packed_sqlstate kStateS1002 = PackSQLState("S1002");

// The bookmark of the current row: the rowset start, plus the row the server stands on
// unless it still stands on the last row of a multi-row fetch.
SQLRETURN GetBookmark(tagSTMT* stmt, SQLSMALLINT c_type, SQLPOINTER target, SQLLEN length,
                      SQLLEN* indicator) {
  const SQLULEN row =
      (stmt->fetch_flags & kFetchRepositionPending) == 0 ? stmt->server_offset : 0;
  SQLULEN mark = FetchedBookmark(stmt, static_cast<unsigned>(row));
  if (mark == 0 && stmt->row_number > 0) mark = static_cast<SQLULEN>(stmt->row_number) + row;
  stmt->getdata_column = 0;
  stmt->gd_whole = 1;
  if (c_type == SQL_C_BOOKMARK) {
    // The application's bookmark type is an SQLULEN.
    std::memcpy(target, &mark, sizeof mark);
    if (indicator != nullptr) *indicator = static_cast<SQLLEN>(sizeof mark);
    return stmt->retcode;
  }
  // SQL_C_VARBOOKMARK (binary): the 4-byte wire value, cut to the buffer.
  const std::uint32_t wire = static_cast<std::uint32_t>(mark);
  const SQLLEN n = length < 4 ? length : 4;
  if (n > 0) std::memcpy(target, &wire, static_cast<std::size_t>(n));
  if (indicator != nullptr) *indicator = 4;
  if (n < 4) return AddTruncationState(stmt, kState01004, kState01004, 0, kDiagNoPosition);
  return stmt->retcode;
}

}  // namespace

SQLRETURN DoSQLGetData(tagSTMT* stmt, SQLUSMALLINT column, SQLSMALLINT c_type,
                       SQLPOINTER target, SQLLEN length, SQLLEN* indicator) {
  if (AwaitingData(stmt)) return PostSQLState(stmt, kStateHY010, kStateS1010);
  if (stmt->state <= kStmtPrepared) return PostSQLState(stmt, kStateHY010, kStateS1010);
  if (stmt->state == kStmtExecuted || stmt->cursor_state != kCursorOpen)
    return PostSQLState(stmt, kState24000, kState24000);
  if (!Scrollable(stmt) && stmt->ard != nullptr && stmt->ard->array_size > 1)
    return PostSQLState(stmt, kStateHY109, kStateS1109);

  if (column == 0) {
    if (c_type != SQL_C_BOOKMARK && c_type != SQL_C_VARBOOKMARK)
      return PostSQLState(stmt, kStateHY003, kStateS1003);
    if (!UseBookmarks(stmt)) return PostSQLState(stmt, kState07009, kStateS1002);
  } else if (stmt->ird == nullptr || column > stmt->ird->count) {
    return PostSQLState(stmt, kState07009, kStateS1002);
  }
  if (length < 0) return PostSQLState(stmt, kStateHY090, kStateS1090);
  if (target == nullptr) return PostSQLState(stmt, kStateHY009, kStateS1009);

  if (stmt->getdata_column != static_cast<std::int32_t>(column)) {
    ResetGetDataState(stmt);
    stmt->getdata_column = column;
  } else if (stmt->gd_whole != 0) {
    return SQL_NO_DATA;
  }
  if (column == 0) return GetBookmark(stmt, c_type, target, length, indicator);

  tagITEM* ird = stmt->ird->records[column - 1];
  if (ird == nullptr) return PostSQLState(stmt, kState07009, kStateS1002);

  tagITEM work{};
  tagITEM* bound = stmt->ard != nullptr && column <= stmt->ard->count
                       ? stmt->ard->records[column - 1]
                       : nullptr;
  if (c_type == SQL_ARD_TYPE) {
    if (bound == nullptr || (bound->flags & kItemBound) == 0)
      return PostSQLState(stmt, kStateHY003, kStateS1003);
    c_type = bound->concise_type != 0 ? bound->concise_type : bound->type;
    if (c_type == SQL_C_NUMERIC) {
      work.precision = bound->precision;
      work.scale = bound->scale;
    }
  }
  if (c_type == SQL_C_DEFAULT) {
    tagDBC* dbc = OwningDbc(stmt);
    const bool ms = dbc != nullptr && (dbc->behaviour & kBehavMSApplications) != 0;
    c_type = ms ? SQLTypeToSQLCType_ms(ird->concise_type) : SQLTypeToSQLCType(ird->concise_type);
  }
  if (!PointerAligned(target, c_type, length)) return PostSQLState(stmt, kStateHY090, kStateS1090);

  work.concise_type = c_type;
  work.type = c_type;
  work.effective_type = c_type;
  work.data_ptr = target;
  work.octet_length = length;
  work.indicator_ptr = indicator;
  work.octet_length_ptr = indicator;
  work.flags = kItemBound;
  if (indicator != nullptr) *indicator = 0;
  return GetData(stmt, column, c_type, &work, ird);
}
