// SQLSetPos and SQLBulkOperations: refresh, positioned update and delete, insert through
// the cursor, and update, delete and fetch by bookmark.
//
// Each row of an operation is settled on its own: it gets its status (and a diagnostic
// when it fails), and the operation goes on with the next row. The row values of an
// insert or update are converted by the parameter code from the ARD's row into the
// fetch list built for row values, then sent through the cursor.
#include <algorithm>
#include <cstring>

#include "odbc/diagnostics.h"
#include "odbc/engine.h"
#include "odbc/fetch.h"
#include "odbc/fetch_internal.h"
#include "odbc/parameters.h"
#include "odbc/statement.h"

namespace {

constexpr a_packed_sqlstate kState21S02 = PackSQLState("21S02");
constexpr a_packed_sqlstate kState01S01 = PackSQLState("01S01");
constexpr a_packed_sqlstate kState01001 = PackSQLState("01001");

bool ReadOnly(const tagSTMT* stmt) { return stmt->concurrency == SQL_CONCUR_READ_ONLY; }

bool RowVersioned(const tagSTMT* stmt) {
  return stmt->concurrency == SQL_CONCUR_ROWVER || stmt->concurrency == SQL_CONCUR_VALUES;
}

bool AnyBound(tagSTMT* stmt) { return stmt->ard != nullptr && NumBound(stmt->ard) > 0; }

// The application marked the ARD row to be left alone.
bool Ignored(tagSTMT* stmt, SQLULEN row) {
  const SQLUSMALLINT* ops = stmt->ard != nullptr ? stmt->ard->array_status_ptr : nullptr;
  return ops != nullptr && ops[row] == SQL_ROW_IGNORE;
}

void SetRowsProcessed(tagSTMT* stmt, SQLULEN rows) {
  if (stmt->ird != nullptr && stmt->ird->rows_processed_ptr != nullptr)
    *stmt->ird->rows_processed_ptr = rows;
}

// The row-failure diagnostics: 01S01 first when the operation covers every row, then the
// reason; the call goes on with success with information when it covers every row.
void RowFailed(tagSTMT* stmt, a_packed_sqlstate odbc3, a_packed_sqlstate odbc2,
               bool server_error) {
  const bool all = stmt->pos_all_rows != 0;
  const SQLRETURN before = stmt->retcode;
  if (all) AddSQLState(stmt, kState01S01, kState01S01);
  if (server_error) AddSQLError(stmt);
  if (odbc3 != kStateNone) AddSQLState(stmt, odbc3, odbc2);
  if (all) stmt->retcode = before == SQL_ERROR ? SQL_ERROR : SQL_SUCCESS_WITH_INFO;
}

// Converts the ARD's row `row` into row `list_row` of the row-values list: 0,
// SQL_NEED_DATA (a column's value comes at execution: the dialogue is open on it, and
// SQLParamData carries the operation on once the row is complete), or -1 (state posted).
SQLRETURN ConvertRowValues(tagSTMT* stmt, SQLULEN row, unsigned list_row) {
  Reset_parameters(stmt, true);
  stmt->param_flags |= kParamRowValues;
  stmt->param_set = row;
  stmt->param_row = list_row;
  stmt->pos_row = row;
  return Parameter_descriptor(stmt, list_row);
}

void EndRowValues(tagSTMT* stmt) {
  stmt->param_flags &= ~kParamRowValues;
  stmt->param_set = 0;
}

// Inserts the rows gathered into the insert batch (none: nothing).
void FlushAddBatch(tagSTMT* stmt) {
  if (stmt->pos_batch == 0) return;
  stmt->rowset_row = stmt->pos_batch_first;
  DBPrepEngDescExecStmt(stmt, stmt->ard, stmt->ird, stmt->pos_batch, 0);
  stmt->pos_batch = 0;
}

// The bookmark the application put in its bookmark buffer for ARD row `row`.
SQLLEN BookmarkOfRow(tagSTMT* stmt, SQLULEN row) {
  const tagITEM* rec = stmt->ard != nullptr ? stmt->ard->bookmark : nullptr;
  if (rec == nullptr || rec->data_ptr == nullptr) return 0;
  // Laid out as the fetch writes them (SetRowBookmarks): a variable bookmark is the 4-byte
  // wire value in an element of the record's octet length, read no further than it.
  const bool variable = rec->concise_type == SQL_C_VARBOOKMARK;
  const SQLLEN room = variable ? std::max<SQLLEN>(rec->octet_length, 0) : 0;
  const SQLULEN bind = ArdBindSize(stmt);
  const SQLULEN stride = bind != 0 ? bind
                         : variable ? static_cast<SQLULEN>(room)
                                    : sizeof(SQLULEN);
  const SQLLEN offset = stmt->ard->bind_offset_ptr != nullptr ? *stmt->ard->bind_offset_ptr : 0;
  const char* at = static_cast<const char*>(rec->data_ptr) + row * stride + offset;
  if (variable) {
    std::uint32_t wire = 0;
    std::memcpy(&wire, at, static_cast<std::size_t>(std::min<SQLLEN>(room, sizeof wire)));
    return static_cast<SQLLEN>(wire);
  }
  SQLULEN mark = 0;
  std::memcpy(&mark, at, sizeof mark);
  return static_cast<SQLLEN>(mark);
}

// Deletes the row the server cursor stands on (rowset row `row`).
void DeleteCurrent(tagSTMT* stmt, SQLULEN row) {
  if (Ignored(stmt, row)) return;
  const std::int32_t code = DBDelete(stmt);
  if (code < 0) {
    SetRowStatus(stmt, row, SQL_ROW_ERROR);
    RowFailed(stmt, kStateNone, kStateNone, true);
    return;
  }
  SetRowStatus(stmt, row, SQL_ROW_DELETED);
  ++stmt->row_count;
  do_autocommit(stmt, true);
}

// The outcome of positioning on a row for an operation; true when the row is there.
bool Positioned(tagSTMT* stmt, SQLULEN row, std::int32_t code, bool changes) {
  if (code == kSqlNoData || code == kSqlNoCurrentRow) {
    SetRowStatus(stmt, row, SQL_ROW_NOROW);
    RowFailed(stmt, kStateHY109, kStateS1109, false);
    return false;
  }
  if (code < 0) {
    SetRowStatus(stmt, row, SQL_ROW_ERROR);
    RowFailed(stmt, kStateHY109, kStateS1109, true);
    return false;
  }
  if (code == kSqlRowChanged && changes && RowVersioned(stmt)) {
    SetRowStatus(stmt, row, SQL_ROW_ERROR);
    AddSQLState(stmt, kState01001, kState01001);
    return false;
  }
  return true;
}

// One row of SQLSetPos: `move` takes the server cursor to it (relative), `batch` is its
// row in the row-values list of an insert.
SQLRETURN SetPosExecute(tagSTMT* stmt, SQLULEN row, SQLLEN move, unsigned batch) {
  const std::uint16_t op = stmt->pos_op;
  if (op == SQL_ADD) {
    if (Ignored(stmt, row)) return stmt->retcode;
    const SQLRETURN rc = ConvertRowValues(stmt, row, batch);
    if (rc == SQL_ERROR) SetRowStatus(stmt, row, SQL_ROW_ERROR);
    return rc;
  }
  stmt->server_offset = row;
  stmt->rowset_row = row;
  stmt->fetch_flags &= static_cast<std::uint8_t>(~kFetchRepositionPending);
  const std::uint32_t type = stmt->pos_type;
  std::int32_t code;
  if (op == SQL_REFRESH) {
    SQLLEN got = 0;
    code = DBFetch(stmt, move, type, 1, &got, static_cast<std::uint16_t>(row), 0);
  } else {
    code = DBPosition(stmt, move, type, 0);
  }
  if (!Positioned(stmt, row, code, op == SQL_UPDATE || op == SQL_DELETE)) return stmt->retcode;
  switch (op) {
    case SQL_REFRESH:
      (void)GetAllBound(stmt, stmt->ard, stmt->ird, ArdBindSize(stmt), row, row);
      SetRowStatus(stmt, row, SQL_ROW_SUCCESS);
      break;
    case SQL_UPDATE: {
      if (Ignored(stmt, row)) break;
      const SQLRETURN rc = ConvertRowValues(stmt, row, 0);
      if (rc == SQL_SUCCESS) {
        DBPrepEngDescExecStmt(stmt, stmt->ard, stmt->ird, 1, 0);
      } else if (rc != SQL_NEED_DATA) {
        SetRowStatus(stmt, row, SQL_ROW_ERROR);
      }
      return rc == SQL_NEED_DATA ? SQL_NEED_DATA : stmt->retcode;
    }
    case SQL_DELETE:
      DeleteCurrent(stmt, row);
      break;
    default:
      break;
  }
  return stmt->retcode;
}

// The rows of an insert through SQLSetPos from tagSTMT::pos_row on, in batches of the
// row-values list's capacity; a row left alone ends a batch. Stops with SQL_NEED_DATA at
// a row whose values come at execution (the batch gathered so far waits for it).
SQLRETURN RunSetPosAdd(tagSTMT* stmt) {
  const SQLULEN capacity = stmt->fetch_list != nullptr ? stmt->fetch_list->rows : 1;
  const bool all = stmt->pos_all_rows != 0;
  SQLRETURN rc = stmt->retcode;
  for (SQLULEN r = stmt->pos_row; r < stmt->pos_end; ++r) {
    if (Ignored(stmt, r)) {
      FlushAddBatch(stmt);
      continue;
    }
    if (stmt->pos_batch == 0) stmt->pos_batch_first = r;
    rc = SetPosExecute(stmt, r, 0, stmt->pos_batch);
    if (rc == SQL_NEED_DATA) return rc;
    if (rc == SQL_ERROR && !all) break;
    if (rc != SQL_ERROR) ++stmt->pos_batch;
    if (stmt->pos_batch >= capacity) FlushAddBatch(stmt);
  }
  FlushAddBatch(stmt);
  return rc;
}

// Refresh, update or delete of the rows from tagSTMT::pos_row on: the first move goes from
// where the server cursor stands to the operation's first row, the next ones +1.
SQLRETURN RunSetPosRows(tagSTMT* stmt) {
  SQLRETURN rc = stmt->retcode;
  for (SQLULEN r = stmt->pos_row; r < stmt->pos_end; ++r) {
    const SQLLEN move = r == stmt->pos_first
                            ? static_cast<SQLLEN>(r) - static_cast<SQLLEN>(stmt->server_offset)
                            : 1;
    rc = SetPosExecute(stmt, r, move, 0);
    if (rc == SQL_NEED_DATA) return rc;
  }
  return rc;
}

// The end of an SQLSetPos: the fetch list is built for fetching again after an update or
// insert, and the server cursor goes back to the rowset's first row (or will).
SQLRETURN FinishSetPos(tagSTMT* stmt) {
  EndRowValues(stmt);
  const std::uint16_t operation = stmt->pos_op;
  const bool all = stmt->pos_all_rows != 0;
  if (operation == SQL_ADD || operation == SQL_UPDATE) {
    FreeFetchList(stmt);
    (void)SetupARDAndFetchDescForFetch(stmt, stmt->ard != nullptr ? stmt->ard->array_size : 1);
  }
  if (all && operation != SQL_ADD && stmt->server_offset != 0) {
    if ((stmt->exec_flags & kStmtCursorNameUsed) != 0) {
      (void)DBPosition(stmt, -static_cast<SQLLEN>(stmt->server_offset), kFetchRelative, 0);
      stmt->server_offset = 0;
    } else {
      stmt->fetch_flags |= kFetchRepositionPending;
    }
  }
  if (!all) stmt->rowset_row = stmt->pos_first;
  return stmt->retcode;
}

}  // namespace

// ============================================================================================
// SQLSetPos
// ============================================================================================

SQLRETURN DoSQLSetPos(tagSTMT* stmt, SQLSETPOSIROW row, SQLUSMALLINT operation,
                      SQLUSMALLINT lock) {
  if (AwaitingData(stmt)) return PostSQLState(stmt, kStateHY010, kStateS1010);
  if (operation == SQL_REFRESH) SetRowsProcessed(stmt, 0);
  if (operation != SQL_POSITION) stmt->row_count = 0;

  if (stmt->state < kStmtExecuted) return PostSQLState(stmt, kStateHY010, kStateS1010);
  if (stmt->state == kStmtExecuted && operation != SQL_ADD)
    return PostSQLState(stmt, kState24000, kState24000);
  const SQLULEN array_size = stmt->ard != nullptr ? stmt->ard->array_size : 1;
  if (!Scrollable(stmt) && array_size >= 2) return PostSQLState(stmt, kStateHY109, kStateS1109);
  if ((stmt->fetch_flags & kFetchBulkUsed) != 0)
    return PostSQLState(stmt, kStateHY109, kStateS1109);
  if (operation > SQL_ADD) return PostSQLState(stmt, kStateHY092, kStateS1009);
  if (operation == SQL_POSITION && row == 0) return PostSQLState(stmt, kStateHY109, kStateS1109);
  if (lock > SQL_LOCK_UNLOCK) return PostSQLState(stmt, kStateHY092, kStateS1009);
  if (operation != SQL_ADD && row > stmt->rows_in_rowset)
    return PostSQLState(stmt, kStateHY107, kStateS1107);
  // An insert takes its values from a row of the bound arrays, which hold the array size.
  if (operation == SQL_ADD && row > array_size) return PostSQLState(stmt, kStateHY107, kStateS1107);
  if ((operation == SQL_ADD || operation == SQL_UPDATE || operation == SQL_DELETE) &&
      ReadOnly(stmt))
    return PostSQLState(stmt, kStateHY092, kStateS1009);
  if ((operation == SQL_ADD || operation == SQL_UPDATE) && !AnyBound(stmt))
    return PostSQLState(stmt, kState21S02, kState21S02);

  stmt->pos_op = operation;
  stmt->pos_type = static_cast<std::uint8_t>(
      kFetchRelative | LockBit(stmt, lock == SQL_LOCK_EXCLUSIVE));
  const bool all = row == 0;
  stmt->pos_all_rows = all ? 1 : 0;
  const SQLULEN first = all ? 0 : row - 1;
  const SQLULEN count = !all ? 1 : operation == SQL_ADD ? array_size : stmt->rows_in_rowset;

  ResetGetDataState(stmt);
  bool built;
  if (operation == SQL_ADD || operation == SQL_UPDATE) {
    FreeFetchList(stmt);
    const SQLULEN rows = operation == SQL_ADD ? std::max<SQLULEN>(count, 1) : 1;
    built = SetupFetchDesc(stmt, static_cast<unsigned short>(std::min<SQLULEN>(rows, 0xFFFF)),
                           1) != 0;
  } else {
    built = SetupARDAndFetchDescForFetch(stmt, std::max<SQLULEN>(stmt->rows_in_rowset, 1));
  }
  if (!built) return PostSQLState(stmt, kStateHY000, kStateS1000);

  stmt->pos_first = first;
  stmt->pos_row = first;
  stmt->pos_end = first + count;
  stmt->pos_batch_first = first;
  stmt->pos_batch = 0;
  const SQLRETURN rc = operation == SQL_ADD ? RunSetPosAdd(stmt) : RunSetPosRows(stmt);
  if (rc == SQL_NEED_DATA) return SQL_NEED_DATA;
  return FinishSetPos(stmt);
}

// ============================================================================================
// The last step of an insert or update through the cursor
// ============================================================================================

SQLRETURN ExecPosOp(tagSTMT* stmt, SQLLEN rows) {
  const bool insert = stmt->pos_op == SQL_ADD || stmt->pos_op == kPosBulkAdd;
  const SQLULEN current = stmt->rowset_row;
  std::int32_t code;
  if (insert) {
    code = DBInsert(stmt, rows);
    for (SQLLEN k = 0; k < rows; ++k) {
      SetRowStatus(stmt, current + static_cast<SQLULEN>(k),
                   code < 0 ? SQL_ROW_ERROR : SQL_ROW_ADDED);
    }
  } else {
    code = DBUpdate(stmt);
    SetRowStatus(stmt, current, code < 0 ? SQL_ROW_ERROR : SQL_ROW_UPDATED);
  }
  stmt->rowset_row = current;
  EndRowValues(stmt);
  if (code < 0) {
    const SQLRETURN before = stmt->retcode;
    if (stmt->pos_all_rows != 0) AddSQLState(stmt, kState01S01, kState01S01);
    AddSQLError(stmt);
    // A bulk add is one request: when it fails no row went in, and the call fails.
    if (stmt->pos_all_rows != 0 && stmt->pos_op != kPosBulkAdd)
      stmt->retcode = before == SQL_ERROR ? SQL_ERROR : SQL_SUCCESS_WITH_INFO;
    return stmt->retcode;
  }
  if (code > 0) AddSQLError(stmt);
  if (insert && (stmt->cursor_kind == 2 || stmt->cursor_kind == 3))
    SetRowBookmarks(stmt, ArdBindSize(stmt), current, current + static_cast<SQLULEN>(rows), true);
  stmt->row_count += rows;
  do_autocommit(stmt, true);
  return stmt->retcode;
}

SQLRETURN UpdateByBookmarkExec(tagSTMT* stmt) {
  const SQLULEN row = stmt->rowset_row;
  stmt->param_flags |= kParamRowValues;
  const std::int32_t code = DBUpdate(stmt);
  EndRowValues(stmt);
  if (code < 0) {
    SetRowStatus(stmt, row, SQL_ROW_ERROR);
    AddSQLError(stmt);
  } else {
    if (code > 0) AddSQLError(stmt);
    SetRowStatus(stmt, row, SQL_ROW_UPDATED);
    ++stmt->row_count;
    do_autocommit(stmt, true);
  }
  if (stmt->fetch_list_mode == kFetchListForUpdate) FreeFetchList(stmt);
  return stmt->retcode;
}

// ============================================================================================
// SQLBulkOperations
// ============================================================================================

namespace {

SQLRETURN UpdateByBookmarks(tagSTMT* stmt, SQLULEN first, SQLULEN count) {
  stmt->fetch_flags |= kFetchByBookmarkUpdate;
  SQLRETURN kept = stmt->retcode;
  for (SQLULEN r = first; r < count; ++r) {
    SetRowsProcessed(stmt, r + 1);
    stmt->rowset_row = r;
    const SQLLEN mark = BookmarkOfRow(stmt, r);
    ResetGetDataState(stmt);
    FreeFetchList(stmt);
    if (SetupFetchDesc(stmt, 1, 1) == 0) {
      SetRowStatus(stmt, r, SQL_ROW_ERROR);
      AddSQLState(stmt, kStateHY000, kStateS1000);
      stmt->fetch_flags &= static_cast<std::uint8_t>(~kFetchByBookmarkUpdate);
      return stmt->retcode;
    }
    const std::int32_t code = DBPosition(stmt, mark, stmt->pos_type, 0);
    if (!Positioned(stmt, r, code, true)) continue;
    kept = stmt->retcode;
    stmt->pos_end = count;
    const SQLRETURN rc = ConvertRowValues(stmt, r, 0);
    if (rc == SQL_NEED_DATA) return SQL_NEED_DATA;
    if (rc != SQL_SUCCESS) {
      SetRowStatus(stmt, r, SQL_ROW_ERROR);
      EndRowValues(stmt);
      continue;
    }
    (void)UpdateByBookmarkExec(stmt);
  }
  stmt->fetch_flags &= static_cast<std::uint8_t>(~kFetchByBookmarkUpdate);
  EndRowValues(stmt);
  return stmt->retcode == SQL_ERROR ? SQL_ERROR : std::max(kept, stmt->retcode);
}

// The rows of a bulk add from tagSTMT::pos_row on, converted into the row-values list and
// inserted in one request. A row whose values come at execution stops the conversion
// with SQL_NEED_DATA; once its values are complete it goes in with the rows before it
// (its server variables are dropped after its request), and the rest follow together.
// A row that does not convert fails the call and no row of the request goes in.
SQLRETURN RunBulkAdd(tagSTMT* stmt) {
  SQLRETURN rc = SQL_SUCCESS;
  SQLULEN r = stmt->pos_row;
  for (; r < stmt->pos_end; ++r) {
    if (stmt->pos_batch == 0) stmt->pos_batch_first = r;
    rc = ConvertRowValues(stmt, r, stmt->pos_batch);
    if (rc != SQL_SUCCESS) break;
    ++stmt->pos_batch;
  }
  if (rc == SQL_NEED_DATA) {
    SetRowsProcessed(stmt, r + 1);
    return rc;
  }
  SetRowsProcessed(stmt, r);
  if (rc == SQL_SUCCESS) {
    FlushAddBatch(stmt);
    rc = stmt->retcode;
  } else {
    SetRowStatus(stmt, r, SQL_ROW_ERROR);
    stmt->pos_batch = 0;
  }
  EndRowValues(stmt);
  return rc;
}

// The return code of a bulk operation that ran to its end.
SQLRETURN FinishBulk(tagSTMT* stmt, SQLRETURN rc) {
  // Rows that failed on their own leave the call with success with information; a bulk
  // add is one request, so its failure stays a failure.
  if (stmt->pos_end >= 2 && rc == SQL_ERROR && stmt->pos_op != kPosBulkAdd)
    rc = SQL_SUCCESS_WITH_INFO;
  stmt->retcode = rc;
  return rc;
}

SQLRETURN FetchByBookmarks(tagSTMT* stmt, SQLULEN count) {
  if (stmt->cursor_state != kCursorOpen) return PostSQLState(stmt, kState24000, kState24000);
  if (stmt->cursor_kind == 1 && UseBookmarks(stmt) && stmt->ard->bookmark != nullptr &&
      (stmt->ard->bookmark->flags & kItemBound) != 0)
    return PostSQLState(stmt, kStateHY000, kStateS1000);
  if (!SetupARDAndFetchDescForFetch(stmt, count))
    return PostSQLState(stmt, kStateHY000, kStateS1000);
  const std::uint32_t type = kFetchByBookmark | LockBit(stmt, false);
  for (SQLULEN r = 0; r < count; ++r) {
    SetRowsProcessed(stmt, r + 1);
    stmt->rowset_row = r;
    SQLLEN got = 0;
    const std::int32_t code = DBFetch(stmt, BookmarkOfRow(stmt, r), type, 1, &got,
                                      static_cast<std::uint16_t>(r), 0);
    if (code == kSqlNoData || code == kSqlNoCurrentRow || (code >= 0 && got == 0)) {
      SetRowStatus(stmt, r, SQL_ROW_NOROW);
      RowFailed(stmt, kStateHY109, kStateS1109, false);
      stmt->state = kStmtExecuted;
      continue;
    }
    if (code < 0) {
      SetRowStatus(stmt, r, SQL_ROW_ERROR);
      RowFailed(stmt, kStateNone, kStateNone, true);
      stmt->state = kStmtExecuted;
      continue;
    }
    stmt->state = kStmtOnRows;
    const int result = GetAllBound(stmt, stmt->ard, stmt->ird, ArdBindSize(stmt), r, r);
    SetRowStatus(stmt, r, result == kBoundFailed ? SQL_ROW_ERROR : SQL_ROW_SUCCESS);
  }
  // The server cursor stands on the last row read; the rowset is what was fetched.
  stmt->rows_in_rowset = count;
  stmt->server_offset = count > 0 ? count - 1 : 0;
  stmt->row_number = -1;
  stmt->rowset_row = 0;
  return stmt->retcode;
}

SQLRETURN DeleteByBookmarks(tagSTMT* stmt, SQLULEN count) {
  if (!Scrollable(stmt) && count >= 2) return PostSQLState(stmt, kStateHY109, kStateS1109);
  stmt->pos_type = static_cast<std::uint8_t>(kFetchByBookmark | LockBit(stmt, false));
  for (SQLULEN r = 0; r < count; ++r) {
    SetRowsProcessed(stmt, r + 1);
    stmt->rowset_row = r;
    const std::int32_t code = DBPosition(stmt, BookmarkOfRow(stmt, r), stmt->pos_type, 0);
    if (!Positioned(stmt, r, code, true)) continue;
    DeleteCurrent(stmt, r);
  }
  return stmt->retcode;
}

}  // namespace

SQLRETURN DoSQLBulkOperations(tagSTMT* stmt, SQLSMALLINT operation) {
  if (AwaitingData(stmt)) return PostSQLState(stmt, kStateHY010, kStateS1010);
  const std::uint8_t saved_extended = stmt->fetch_flags & kFetchExtended;
  const bool extended_add = saved_extended != 0 && operation == SQL_ADD;
  if (!extended_add) stmt->fetch_flags &= static_cast<std::uint8_t>(~kFetchExtended);
  const SQLULEN array_size = stmt->ard != nullptr ? stmt->ard->array_size : 1;
  const SQLULEN covered = extended_add ? stmt->rows_in_rowset : array_size;
  const SQLULEN saved_rows = stmt->rows_in_rowset;
  stmt->rows_in_rowset = covered;
  for (SQLULEN r = 0; r < covered; ++r) SetRowStatus(stmt, r, SQL_ROW_NOROW);
  SetRowsProcessed(stmt, 0);

  auto finish = [&](SQLRETURN rc) {
    stmt->fetch_flags = static_cast<std::uint8_t>(
        (stmt->fetch_flags & ~kFetchExtended) | saved_extended);
    if (operation != SQL_FETCH_BY_BOOKMARK) stmt->rows_in_rowset = saved_rows;
    return rc;
  };

  if (stmt->state < kStmtExecuted) return finish(PostSQLState(stmt, kStateHY010, kStateS1010));
  const bool changes =
      operation == SQL_ADD || operation == SQL_UPDATE_BY_BOOKMARK || operation == SQL_DELETE_BY_BOOKMARK;
  if (changes && ReadOnly(stmt)) return finish(PostSQLState(stmt, kStateHY092, kStateS1009));
  if ((operation == SQL_ADD || operation == SQL_UPDATE_BY_BOOKMARK) && !AnyBound(stmt))
    return finish(PostSQLState(stmt, kState21S02, kState21S02));
  stmt->row_count = 0;
  stmt->pos_all_rows = 1;
  stmt->fetch_flags |= kFetchBulkUsed;
  ResetGetDataState(stmt);
  stmt->pos_first = 0;
  stmt->pos_row = 0;
  stmt->pos_end = covered;
  stmt->pos_batch_first = 0;
  stmt->pos_batch = 0;

  SQLRETURN rc;
  switch (operation) {
    case SQL_ADD: {
      stmt->pos_op = kPosBulkAdd;
      stmt->pos_type = static_cast<std::uint8_t>(kFetchRelative | LockBit(stmt, false));
      FreeFetchList(stmt);
      if (SetupFetchDesc(stmt, static_cast<unsigned short>(std::min<SQLULEN>(covered, 0xFFFF)),
                         1) == 0)
        return finish(PostSQLState(stmt, kStateHY000, kStateS1000));
      rc = RunBulkAdd(stmt);
      break;
    }
    case SQL_UPDATE_BY_BOOKMARK:
      stmt->pos_op = SQL_UPDATE;
      stmt->pos_type = static_cast<std::uint8_t>(kFetchByBookmark | LockBit(stmt, false));
      rc = UpdateByBookmarks(stmt, 0, covered);
      break;
    case SQL_DELETE_BY_BOOKMARK:
      stmt->pos_op = SQL_DELETE;
      rc = DeleteByBookmarks(stmt, covered);
      break;
    case SQL_FETCH_BY_BOOKMARK:
      stmt->pos_op = SQL_REFRESH;
      rc = FetchByBookmarks(stmt, covered);
      break;
    default:
      return finish(PostSQLState(stmt, kStateHYC00, kStateS1C00));
  }
  if (rc == SQL_NEED_DATA) return finish(rc);
  return finish(FinishBulk(stmt, rc));
}

// ============================================================================================
// Row values supplied at execution
// ============================================================================================

SQLRETURN ResumeRowOperation(tagSTMT* stmt) {
  stmt->param_flags &= ~kParamAwaitingData;
  const SQLULEN row = stmt->pos_row;
  const bool by_bookmark = (stmt->fetch_flags & kFetchByBookmarkUpdate) != 0;
  // The row whose values are now complete is done first.
  switch (stmt->pos_op) {
    case SQL_ADD:
    case kPosBulkAdd:
      ++stmt->pos_batch;
      FlushAddBatch(stmt);
      break;
    case SQL_UPDATE:
      if (by_bookmark) {
        (void)UpdateByBookmarkExec(stmt);
      } else {
        stmt->rowset_row = row;
        DBPrepEngDescExecStmt(stmt, stmt->ard, stmt->ird, 1, 0);
      }
      break;
    default:
      break;
  }
  Free_parameters(stmt, stmt->ard, stmt->ird);
  // Then the operation goes on with its next rows.
  stmt->pos_row = row + 1;
  SQLRETURN rc;
  switch (stmt->pos_op) {
    case SQL_ADD:
      rc = RunSetPosAdd(stmt);
      return rc == SQL_NEED_DATA ? rc : FinishSetPos(stmt);
    case kPosBulkAdd:
      rc = RunBulkAdd(stmt);
      return rc == SQL_NEED_DATA ? rc : FinishBulk(stmt, rc);
    case SQL_UPDATE:
      if (by_bookmark) {
        rc = UpdateByBookmarks(stmt, row + 1, stmt->pos_end);
        return rc == SQL_NEED_DATA ? rc : FinishBulk(stmt, rc);
      }
      rc = RunSetPosRows(stmt);
      return rc == SQL_NEED_DATA ? rc : FinishSetPos(stmt);
    default:
      EndRowValues(stmt);
      return stmt->retcode;
  }
}

void CancelRowOperation(tagSTMT* stmt) {
  // Rows gathered for an insert and not yet sent are dropped with the operation.
  Free_parameters(stmt, stmt->ard, stmt->ird);
  stmt->pos_batch = 0;
  stmt->fetch_flags &= static_cast<std::uint8_t>(~kFetchByBookmarkUpdate);
  EndRowValues(stmt);
  FreeFetchList(stmt);
  (void)SetupARDAndFetchDescForFetch(stmt, stmt->ard != nullptr ? stmt->ard->array_size : 1);
}
