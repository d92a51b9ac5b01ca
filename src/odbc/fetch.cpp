// Fetching rowsets: the three fetch entry points, the common engine that turns an
// orientation into server moves and block reads, the row status and bookmark arrays,
// and the fetch list's fit to the ARD.
//
// Where the server cursor stands is tracked relative to the rowset: it is
// `server_offset` rows past the rowset's first row. Every relative move sent to the
// server subtracts that offset, so a rowset whose absolute number is not known (one
// counted from the end, or after the end) still moves correctly.
#include "odbc/fetch.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "odbc/diagnostics.h"
#include "odbc/engine.h"
#include "odbc/fetch_internal.h"
#include "odbc/parameters.h"
#include "odbc/statement.h"
#include "odbc/type_mapping.h"

namespace {

constexpr a_packed_sqlstate kStateHY106 = PackSQLState("HY106");
constexpr a_packed_sqlstate kStateS1106 = PackSQLState("S1106");
constexpr a_packed_sqlstate kStateHY111 = PackSQLState("HY111");
constexpr a_packed_sqlstate kStateS1111 = PackSQLState("S1111");
constexpr a_packed_sqlstate kState01S06 = PackSQLState("01S06");

// Kinds of server move.
enum class Move { kAbsolute, kRelative, kBookmark };

// Rows per server call: the engine's fetch counts are 16-bit.
constexpr SQLULEN kMaxBlockRows = std::numeric_limits<std::uint16_t>::max();

void InitStatuses(SQLUSMALLINT* status, SQLULEN rows) {
  if (status == nullptr) return;
  for (SQLULEN k = 0; k < rows; ++k) status[k] = SQL_ROW_NOROW;
}

void PutStatus(SQLUSMALLINT* status, SQLULEN rows, SQLULEN row, SQLUSMALLINT value) {
  if (status != nullptr && row < rows) status[row] = value;
}

}  // namespace

// ============================================================================================
// Shared helpers (fetch_internal.h)
// ============================================================================================

bool UseBookmarks(tagSTMT* stmt) { return Option(stmt, SQL_USE_BOOKMARKS) != SQL_UB_OFF; }

bool Scrollable(const tagSTMT* stmt) { return stmt->cursor_kind != 0; }

namespace {

// A fetch that found no rows: the statement holds no rowset and stands where the server
// cursor is.
SQLRETURN NoRowsLeft(tagSTMT* stmt) {
  stmt->rows_in_rowset = 0;
  stmt->server_offset = 0;
  stmt->fetch_flags &= static_cast<std::uint8_t>(~kFetchRepositionPending);
  stmt->state = kStmtExecuted;
  return SQL_NO_DATA;
}

}  // namespace

std::uint32_t LockBit(tagSTMT* stmt, bool exclusive) {
  tagDBC* dbc = OwningDbc(stmt);
  const bool old_server = dbc == nullptr || (dbc->cap_a & 0x04) == 0;
  if (exclusive || (stmt->concurrency == SQL_CONCUR_LOCK && old_server)) return kFetchLock;
  return 0;
}

void ResetGetDataState(tagSTMT* stmt) {
  stmt->getdata_column = -1;
  ResetGetData(stmt);
}

SQLULEN ArdBindSize(tagSTMT* stmt) { return stmt->ard != nullptr ? stmt->ard->bind_type : 0; }

// ============================================================================================
// Status and bookmarks
// ============================================================================================

void SetRowStatus(tagSTMT* stmt, SQLULEN row, SQLUSMALLINT status) {
  if ((stmt->fetch_flags & kFetchExtended) != 0) {
    PutStatus(stmt->ext_status, stmt->rows_in_rowset, row, status);
    return;
  }
  if (stmt->ird == nullptr || stmt->ird->array_status_ptr == nullptr) return;
  // The IRD's array has the ARD's array size (or the rowset of an SQLSetPos).
  const SQLULEN rows = std::max<SQLULEN>(
      {stmt->ard != nullptr ? stmt->ard->array_size : 1, stmt->rows_in_rowset, 1});
  PutStatus(stmt->ird->array_status_ptr, rows, row, status);
}

void SetRowBookmarks(tagSTMT* stmt, SQLULEN bind_size, SQLULEN first, SQLULEN end,
                     bool from_insert) {
  tagDESC* ard = stmt->ard;
  if (ard == nullptr || ard->bookmark == nullptr) return;
  tagITEM* rec = ard->bookmark;
  if ((rec->flags & kItemBound) == 0 || rec->data_ptr == nullptr || !UseBookmarks(stmt)) return;
  // The application's bookmark is an SQLULEN (SQL_C_BOOKMARK) or, for SQL_C_VARBOOKMARK,
  // the 4-byte wire value in a buffer of the record's octet length.
  const bool variable = rec->concise_type == SQL_C_VARBOOKMARK;
  const SQLLEN width = variable ? 4 : static_cast<SQLLEN>(sizeof(SQLULEN));
  const SQLLEN room = variable ? std::max<SQLLEN>(rec->octet_length, 0) : width;
  const SQLULEN stride = bind_size != 0 ? bind_size : static_cast<SQLULEN>(variable ? room : width);
  const SQLLEN offset = ard->bind_offset_ptr != nullptr ? *ard->bind_offset_ptr : 0;
  tagDBC* dbc = OwningDbc(stmt);
  const bool fetched_marks = dbc != nullptr && (dbc->cap_a & 0x02) != 0 &&
                             (stmt->cursor_kind == 2 || stmt->cursor_kind == 3);
  for (SQLULEN row = first; row < end; ++row) {
    SQLULEN mark = 0;
    if (from_insert) {
      mark = stmt->next_insert_bookmark != 0 ? stmt->next_insert_bookmark + (row - first) : 0;
    } else if (fetched_marks) {
      mark = FetchedBookmark(stmt, static_cast<unsigned>(row));
    }
    if (!from_insert && mark == 0 && stmt->row_number > 0) {
      mark = static_cast<SQLULEN>(stmt->row_number) + row;
    }
    char* at = static_cast<char*>(rec->data_ptr) + row * stride + offset;
    if (variable) {
      const std::uint32_t wire = static_cast<std::uint32_t>(mark);
      std::memcpy(at, &wire, static_cast<std::size_t>(std::min<SQLLEN>(room, 4)));
    } else {
      std::memcpy(at, &mark, sizeof mark);
    }
    SQLLEN* ind = rec->indicator_ptr != nullptr ? rec->indicator_ptr : rec->octet_length_ptr;
    if (ind != nullptr) {
      char* word = reinterpret_cast<char*>(ind) +
                   row * (bind_size != 0 ? bind_size : sizeof(SQLLEN)) + offset;
      std::memcpy(word, &width, sizeof width);
    }
  }
}

// ============================================================================================
// The fetch list
// ============================================================================================

bool SetupARDAndFetchDescForFetch(tagSTMT* stmt, SQLULEN rowset_size) {
  if (rowset_size < 1) rowset_size = 1;
  if (rowset_size > kMaxBlockRows) return false;
  tagDESC* ard = stmt->ard;
  if (ard == nullptr) return false;
  const bool changed = stmt->fetch_ard_counter != ard->change_counter + 1;
  const bool for_update = stmt->fetch_list_mode == kFetchListForUpdate;
  const bool too_small =
      stmt->fetch_list == nullptr || stmt->fetch_list->rows < static_cast<std::uint32_t>(rowset_size);
  if (stmt->fetch_list != nullptr && (changed || for_update || too_small)) FreeFetchList(stmt);
  if (stmt->fetch_list != nullptr) {
    const SQLLEN offset = ard->bind_offset_ptr != nullptr ? *ard->bind_offset_ptr : 0;
    if (offset != stmt->fetch_bind_offset) AdjustScalarItems(stmt, ard, 0);
    return true;
  }
  return SetupFetchDesc(stmt, static_cast<unsigned short>(rowset_size), 0) != 0;
}

void ResetFetchState(tagSTMT* stmt) {
  stmt->row_number = 0;
  stmt->rowset_row = 0;
  stmt->server_offset = 0;
  stmt->rows_in_rowset = 0;
  stmt->prev_rowset_size = 0;
  stmt->fetch_flags = 0;
  stmt->ext_status = nullptr;
  stmt->pos_op = 0;
  stmt->pos_all_rows = 0;
  stmt->getdata_column = -1;
}

// ============================================================================================
// The common engine
// ============================================================================================

namespace {

// One fetch in progress.
struct FetchRun {
  tagSTMT* stmt = nullptr;
  SQLUSMALLINT* status = nullptr;
  SQLULEN rowset = 1;   // rows wanted
  SQLULEN fetched = 0;  // rowset rows settled so far
  bool retrieve = true;
  int caller = kCallerFetch;
  SQLRETURN rc = SQL_SUCCESS;
};

// Rows [first, first + n) of the rowset were read: statuses, bookmarks and the values.
void TakeRows(FetchRun& run, SQLULEN n, SQLUSMALLINT last_status) {
  tagSTMT* stmt = run.stmt;
  const SQLULEN first = run.fetched;
  for (SQLULEN k = 0; k < n; ++k) {
    PutStatus(run.status, run.rowset, first + k, k + 1 == n ? last_status : SQL_ROW_SUCCESS);
  }
  const SQLULEN bind_size = ArdBindSize(stmt);
  SetRowBookmarks(stmt, bind_size, first, first + n, false);
  if (run.retrieve) {
    for (SQLULEN k = 0; k < n; ++k) {
      // Rows of the rowset are numbered in diagnostics while the statement is on rows.
      stmt->state = kStmtOnRows;
      stmt->rowset_row = first + k;
      const int result = GetAllBound(stmt, stmt->ard, stmt->ird, bind_size, first + k, first + k);
      if (result == kBoundFailed) {
        PutStatus(run.status, run.rowset, first + k, SQL_ROW_ERROR);
        if (run.rowset > 1 || run.caller == kCallerExtendedFetch) {
          if (run.rc != SQL_ERROR) run.rc = SQL_SUCCESS_WITH_INFO;
        } else {
          run.rc = SQL_ERROR;
        }
      } else if (result != kBoundWhole && run.rc == SQL_SUCCESS) {
        run.rc = SQL_SUCCESS_WITH_INFO;  // a value was cut (01004 posted)
      }
    }
  }
  stmt->rowset_row = 0;
  stmt->state = kStmtOnRows;
  run.fetched += n;
}

}  // namespace

SQLRETURN FetchRows(tagSTMT* stmt, SQLUSMALLINT orientation, SQLLEN offset,
                    SQLULEN* rows_fetched, SQLUSMALLINT* status, SQLULEN rowset_size,
                    int caller) {
  if (AwaitingData(stmt)) return PostSQLState(stmt, kStateHY010, kStateS1010);
  if (rowset_size < 1) rowset_size = 1;
  if (rows_fetched != nullptr) *rows_fetched = 0;
  InitStatuses(status, rowset_size);

  if (stmt->state < kStmtExecuted) return PostSQLState(stmt, kStateHY010, kStateS1010);
  if (stmt->cursor_state < kCursorOpen) return PostSQLState(stmt, kState24000, kState24000);
  if (stmt->cursor_kind == 1 && UseBookmarks(stmt))
    return PostSQLState(stmt, kStateHY000, kStateS1011);
  if (orientation > SQL_FETCH_BOOKMARK || orientation == 7 || orientation < SQL_FETCH_NEXT ||
      (!Scrollable(stmt) && orientation != SQL_FETCH_NEXT))
    return PostSQLState(stmt, kStateHY106, kStateS1106);

  tagDBC* dbc = OwningDbc(stmt);
  const SQLLEN start = stmt->row_number;
  const SQLULEN max_rows = stmt->max_rows;
  bool retrieve = Option(stmt, SQL_RETRIEVE_DATA) != SQL_RD_OFF;
  bool before_first = false;
  Move move = Move::kRelative;
  SQLLEN target = 0;  // absolute row or bookmark, or the relative distance from the start

  // The orientation as a move of the rowset start.
  switch (orientation) {
    case SQL_FETCH_NEXT:
      if (start == 0) {
        target = 1;
      } else {
        target = static_cast<SQLLEN>(stmt->prev_rowset_size != 0 ? stmt->prev_rowset_size
                                                                 : rowset_size);
        if (max_rows != 0 && start > 0 && static_cast<SQLULEN>(start + target) > max_rows) {
          stmt->state = kStmtExecuted;
          return SQL_NO_DATA;
        }
      }
      break;
    case SQL_FETCH_FIRST:
      move = Move::kAbsolute;
      target = 1;
      break;
    case SQL_FETCH_LAST:
      move = Move::kAbsolute;
      target = -static_cast<SQLLEN>(rowset_size);
      break;
    case SQL_FETCH_PRIOR:
      target = -static_cast<SQLLEN>(rowset_size);
      break;
    case SQL_FETCH_ABSOLUTE:
      move = Move::kAbsolute;
      target = offset;
      if (offset == 0) {
        before_first = true;
      } else if (max_rows != 0 && offset > 0 && static_cast<SQLULEN>(offset) > max_rows) {
        stmt->state = kStmtExecuted;
        return SQL_NO_DATA;
      }
      break;
    case SQL_FETCH_RELATIVE:
      target = offset;
      if (max_rows != 0 && offset > 0 && start >= 1 &&
          static_cast<SQLULEN>(start + offset) > max_rows) {
        stmt->state = kStmtExecuted;
        return SQL_NO_DATA;
      }
      break;
    case SQL_FETCH_BOOKMARK: {
      move = Move::kBookmark;
      if ((stmt->fetch_flags & kFetchExtended) != 0) {
        target = offset;
        break;
      }
      if (stmt->fetch_bookmark_ptr == nullptr) return PostSQLState(stmt, kStateHY111, kStateS1111);
      SQLLEN mark = 0;
      const tagITEM* rec = stmt->ard != nullptr ? stmt->ard->bookmark : nullptr;
      if (rec != nullptr && rec->concise_type == SQL_C_VARBOOKMARK) {
        std::uint32_t wire = 0;
        std::memcpy(&wire, stmt->fetch_bookmark_ptr, sizeof wire);
        mark = wire;
      } else {
        std::memcpy(&mark, stmt->fetch_bookmark_ptr, sizeof mark);
      }
      target = mark + offset;
      if (mark > 0 && target < 1) {
        before_first = true;
        move = Move::kAbsolute;
        target = 0;
      } else if (max_rows != 0 && target > 0 && static_cast<SQLULEN>(target) > max_rows) {
        stmt->state = kStmtExecuted;
        return SQL_NO_DATA;
      }
      break;
    }
    default:
      break;
  }

  if (!SetupARDAndFetchDescForFetch(stmt, rowset_size))
    return PostSQLState(stmt, kStateHY000, kStateS1000);
  const SQLULEN capacity = stmt->fetch_list != nullptr ? stmt->fetch_list->rows : rowset_size;
  SQLULEN block = std::min({rowset_size, capacity, kMaxBlockRows});
  if (block < 1) block = 1;
  stmt->prev_rowset_size = rowset_size;
  ResetGetDataState(stmt);

  // The server move. Relative moves count from the server cursor, which stands
  // server_offset rows past the rowset start.
  const SQLLEN so = static_cast<SQLLEN>(stmt->server_offset);
  SQLLEN server_move = 0;
  SQLLEN new_start = start;
  if (move != Move::kRelative) {
    new_start = before_first ? 0 : target;
    server_move = target;
  } else if (start >= 1) {
    if (start + target >= 1) {
      new_start = start + target;
      server_move = target - so;
      if (!Scrollable(stmt) && server_move > 1) {
        // A forward-only cursor stands further back than the last row read only when its
        // last rowset ran into the end: it is past the last row, and the server takes no
        // move of more than one row on it.
        stmt->row_number = -1;
        return NoRowsLeft(stmt);
      }
    } else if (start + target <= 1 - static_cast<SQLLEN>(rowset_size)) {
      before_first = true;
      move = Move::kAbsolute;
      new_start = 0;
      server_move = 0;
    } else {
      // The rowset would straddle the start: it begins at the first row instead.
      if (orientation != SQL_FETCH_LAST) AddSQLState(stmt, kState01S06, kState01S06);
      new_start = 1;
      server_move = 1 - (so + start);
    }
  } else if (start < 0) {
    // The start is not known (after the end, or a rowset counted from the end). Moving
    // back from after the end counts from the end; other moves go from the server's
    // position.
    new_start = -1;
    server_move = target - so;
    if (Scrollable(stmt) && target < 0 && (stmt->row_number == -1 && stmt->rows_in_rowset == 0)) {
      move = Move::kAbsolute;
      server_move = target;
    }
  } else {
    new_start = target;
    server_move = target - so;
  }
  if (before_first) {
    retrieve = false;
    block = 1;
  }

  FetchRun run;
  run.stmt = stmt;
  run.status = status;
  run.rowset = before_first ? 1 : rowset_size;
  run.retrieve = retrieve;
  run.caller = caller;
  run.rc = stmt->retcode;

  std::uint32_t type = move == Move::kAbsolute   ? kFetchAbsolute
                       : move == Move::kBookmark ? kFetchByBookmark
                                                 : kFetchRelative;
  type |= LockBit(stmt, false);
  const std::uint32_t lock = type & kFetchLock;
  stmt->row_number = new_start;
  stmt->server_offset = 0;

  bool ran_into_end = false;
  bool first_call = true;
  bool retried = false;
  SQLRETURN result = SQL_SUCCESS;
  bool no_data = false;
  for (;;) {
    SQLLEN got = 0;
    const std::int32_t code =
        DBFetch(stmt, server_move, type | (first_call ? kFetchFirstCall : 0),
                static_cast<std::uint16_t>(block), &got,
                static_cast<std::uint16_t>(std::min<SQLULEN>(run.fetched, kMaxBlockRows)),
                retrieve ? 0 : 1);
    const SQLULEN n = got > 0 ? std::min<SQLULEN>(static_cast<SQLULEN>(got), block) : 0;
    first_call = false;
    if (code == 0 || code == kSqlRowUpdated || code == kSqlRowChanged ||
        (code > 0 && code != kSqlNoData)) {
      if (code > 0 && code != kSqlRowUpdated && code != kSqlRowChanged &&
          (dbc == nullptr || (dbc->behaviour & kBehavSuppressWarnings) == 0)) {
        AddSQLError(stmt);
        run.rc = stmt->retcode;
      }
      TakeRows(run, n, code == kSqlRowChanged ? SQL_ROW_UPDATED : SQL_ROW_SUCCESS);
      if (n < block && code != kSqlRowChanged) {
        ran_into_end = true;
        break;
      }
    } else if (code == kSqlNoData) {
      if (n > 0) {
        TakeRows(run, n, SQL_ROW_SUCCESS);
        ran_into_end = true;
        break;
      }
      if (run.fetched > 0) {
        ran_into_end = true;
        break;
      }
      if (before_first) {
        stmt->row_number = 0;
        no_data = true;
        break;
      }
      if (move == Move::kRelative && server_move < -1 && stmt->row_number > 0 && !retried) {
        // Moving back ran off the start on a server that does not stop at the first row:
        // read the last rowset counted from the end instead.
        retried = true;
        stmt->row_number = -static_cast<SQLLEN>(rowset_size);
        move = Move::kAbsolute;
        type = kFetchAbsolute | lock;
        server_move = -static_cast<SQLLEN>(rowset_size);
        first_call = true;
        continue;
      }
      // Past the end (or before the start): the server cursor is there now.
      stmt->row_number = server_move > 0 ? -1 : 0;
      no_data = true;
      break;
    } else if (code == kSqlNoCurrentRow) {
      TakeRows(run, n, SQL_ROW_SUCCESS);
      PutStatus(run.status, run.rowset, run.fetched, SQL_ROW_DELETED);
      ++run.fetched;
      stmt->state = kStmtOnRows;
    } else {
      if (n == 0 && run.fetched == 0) {
        result = AddSQLError(stmt);
        stmt->rows_in_rowset = 0;
        stmt->server_offset = 0;
        return result;
      }
      TakeRows(run, n, SQL_ROW_SUCCESS);
      PutStatus(run.status, run.rowset, run.fetched, SQL_ROW_ERROR);
      // The diagnostic names the failing row of the rowset.
      stmt->rowset_row = run.fetched;
      AddSQLError(stmt);
      stmt->rowset_row = 0;
      ++run.fetched;
      run.rc = (run.caller == kCallerExtendedFetch || run.rowset > 1) ? SQL_SUCCESS_WITH_INFO
                                                                       : SQL_ERROR;
      stmt->retcode = run.rc;
      if (n == 0) break;
    }
    if (run.fetched >= run.rowset) break;
    block = std::min(block, run.rowset - run.fetched);
    server_move = 1;
    type = kFetchRelative;
  }

  if (no_data) return NoRowsLeft(stmt);

  const SQLULEN fetched = run.fetched;
  stmt->rows_in_rowset = fetched;
  if (rows_fetched != nullptr) *rows_fetched = fetched;
  SQLULEN standing = fetched + (ran_into_end && fetched < run.rowset ? 1 : 0);
  if (standing > 1) {
    if ((stmt->exec_flags & kStmtCursorNameUsed) != 0 && Scrollable(stmt)) {
      // A positioned statement by cursor name acts on the server's current row: put the
      // server back on the rowset's first row now.
      const std::int32_t code =
          DBPosition(stmt, 1 - static_cast<SQLLEN>(standing), kFetchRelative, 1);
      if (code == kSqlNoCurrentRow) PutStatus(status, run.rowset, 0, SQL_ROW_DELETED);
      if (code == kSqlRowChanged) PutStatus(status, run.rowset, 0, SQL_ROW_UPDATED);
      stmt->server_offset = 0;
      stmt->fetch_flags &= static_cast<std::uint8_t>(~kFetchRepositionPending);
    } else {
      stmt->server_offset = standing - 1;
      stmt->fetch_flags |= kFetchRepositionPending;
    }
  } else {
    stmt->server_offset = 0;
    stmt->fetch_flags &= static_cast<std::uint8_t>(~kFetchRepositionPending);
  }
  stmt->rowset_row = 0;
  stmt->state = fetched > 0 ? kStmtOnRows : kStmtExecuted;
  if (fetched == 0) return SQL_NO_DATA;
  stmt->retcode = run.rc;
  return run.rc;
}

// ============================================================================================
// The entry points
// ============================================================================================

SQLRETURN DoSQLFetch(tagSTMT* stmt) {
  if ((stmt->fetch_flags & kFetchExtended) != 0)
    return PostSQLState(stmt, kStateHY010, kStateS1010);
  stmt->fetch_flags |= kFetchUsedFetch;
  stmt->fetch_flags &= static_cast<std::uint8_t>(~kFetchBulkUsed);
  const SQLULEN rows =
      StmtOdbcVersion(stmt) == 2 ? 1 : (stmt->ard != nullptr ? stmt->ard->array_size : 1);
  return FetchRows(stmt, SQL_FETCH_NEXT, 0,
                   stmt->ird != nullptr ? stmt->ird->rows_processed_ptr : nullptr,
                   stmt->ird != nullptr ? stmt->ird->array_status_ptr : nullptr, rows,
                   kCallerFetch);
}

SQLRETURN DoSQLFetchScroll(tagSTMT* stmt, SQLSMALLINT orientation, SQLLEN offset) {
  if ((stmt->fetch_flags & kFetchExtended) != 0)
    return PostSQLState(stmt, kStateHY010, kStateS1010);
  stmt->fetch_flags |= kFetchUsedScroll;
  stmt->fetch_flags &= static_cast<std::uint8_t>(~kFetchBulkUsed);
  const SQLULEN rows = stmt->ard != nullptr ? stmt->ard->array_size : 1;
  return FetchRows(stmt, static_cast<SQLUSMALLINT>(orientation), offset,
                   stmt->ird != nullptr ? stmt->ird->rows_processed_ptr : nullptr,
                   stmt->ird != nullptr ? stmt->ird->array_status_ptr : nullptr, rows,
                   kCallerFetchScroll);
}

SQLRETURN DoSQLExtendedFetch(tagSTMT* stmt, SQLUSMALLINT orientation, SQLLEN offset,
                             SQLULEN* rows, SQLUSMALLINT* status) {
  if ((stmt->fetch_flags & (kFetchUsedFetch | kFetchUsedScroll)) != 0)
    return PostSQLState(stmt, kStateHY010, kStateS1010);
  stmt->fetch_flags |= kFetchExtended;
  stmt->fetch_flags &= static_cast<std::uint8_t>(~kFetchBulkUsed);
  stmt->ext_status = status;
  // SQL_ROWSET_SIZE and SQL_ATTR_ROW_ARRAY_SIZE are both the ARD's array size.
  const SQLULEN size = stmt->ard != nullptr ? stmt->ard->array_size : 1;
  return FetchRows(stmt, orientation, offset, rows, status, size, kCallerExtendedFetch);
}
