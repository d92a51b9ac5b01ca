// SQLGetData's engine side: one column of the current row returned a piece per call. Each
// call asks the client for the column from the byte offset reached so far (the client
// serves it from its buffered row when it can, else from the server), sized to what the
// application's buffer takes, and converts it like a fetched value. UTF-16 targets keep
// a piece converter, so that a character cut between two pieces converts whole.
//
// Values that come whole (fixed-size numbers, dates, numerics, GUIDs) are read again from
// offset 0 on every call; their text forms are handed out from where the last call
// stopped.
#include <cstring>
#include <new>

#include "cmdseq/fetch.h"
#include "odbc/diagnostics.h"
#include "odbc/engine.h"
#include "odbc/engine_fetch_piece.h"
#include "odbc/fetch.h"
#include "odbc/handles.h"
#include "odbc/parameters.h"
#include "utils/base/memory.h"

namespace {

constexpr a_packed_sqlstate kStateHY109 = PackSQLState("HY109");
constexpr a_packed_sqlstate kStateS1109 = PackSQLState("S1109");

constexpr SQLLEN kWideChunk = 32766;  // source bytes read at least per piece for UTF-16

bool is_wide_c(SQLSMALLINT c) { return c == -8 || c == -9 || c == -10; }
bool is_char_c(SQLSMALLINT c) { return c == 1 || c == 12 || c == -1; }

// Values read from a byte offset: text and bytes. Everything else comes whole.
bool read_in_pieces(SQLSMALLINT eff) {
  return eff == -30 || eff == -1 || eff == 1 || eff == 12 || eff == -2 || eff == -3;
}

// Moves the server cursor onto the current row when a multi-row fetch left it on the
// rowset's last row. SQL_SUCCESS, or SQL_ERROR with the state posted.
SQLRETURN reposition(tagSTMT* stmt) {
  if ((stmt->fetch_flags & kFetchRepositionPending) == 0) return SQL_SUCCESS;
  const SQLLEN move =
      static_cast<SQLLEN>(stmt->rowset_row) - static_cast<SQLLEN>(stmt->server_offset);
  const std::int32_t sqlcode = DBPosition(stmt, move, kFetchRelative, 1);
  if (sqlcode == kSqlNoCurrentRow || sqlcode == kSqlNoData) {
    PostSQLState(stmt, kStateHY109, kStateS1109);
    return SQL_ERROR;
  }
  if (sqlcode < 0) {
    PostSQLError(stmt);
    return SQL_ERROR;
  }
  stmt->server_offset = stmt->rowset_row;
  stmt->fetch_flags &= static_cast<std::uint8_t>(~kFetchRepositionPending);
  return SQL_SUCCESS;
}

// Bytes of the value to ask for in one call: what the application's buffer can take
// (values that come whole keep the size they were set up with).
std::uint32_t piece_bytes(const tagSTMT* stmt, SQLSMALLINT eff, SQLSMALLINT concise,
                          SQLLEN room, std::uint32_t set_up) {
  if (!read_in_pieces(eff)) return set_up;
  SQLLEN n;
  if (eff == -2 || eff == -3) {
    if (is_char_c(concise)) n = room >= 1 ? (room - 1) / 2 : 0;  // two digits a byte
    else if (is_wide_c(concise)) n = room >= 2 ? (room - 2) / 4 : 0;
    else n = room;
  } else if (is_wide_c(concise)) {
    // The piece converter keeps what the buffer cannot take, so text is read in chunks of
    // at least 32 KB (the short wire form): a value of that size converts whole and its length is known.
    n = room >= 2 ? (room - 2) / 2 : 0;
    if (n < kWideChunk) n = kWideChunk;
  } else {
    n = room >= 1 ? room - 1 : 0;
  }
  if (stmt->max_length != 0 && static_cast<SQLULEN>(n) > stmt->max_length)
    n = static_cast<SQLLEN>(stmt->max_length);
  if (n < 1) n = 1;
  if (n > 0x7FFFFFFF) n = 0x7FFFFFFF;
  return static_cast<std::uint32_t>(n);
}

// Reads the next piece of the column (from the byte offset reached) into the get-data
// item: straight into the application's buffer for values exchanged in place, else into
// scratch memory (*scratch, ut_free). SQL_SUCCESS, SQL_NO_DATA past the end, or
// SQL_ERROR with the state posted.
SQLRETURN read_piece(tagSTMT* stmt, tagDBC* dbc, SQLUSMALLINT column, tagITEM* target,
                     a_cmdseq_desc_item* item, SQLSMALLINT eff, char** scratch) {
  a_cmdseq_value& v = item->values()[0];
  a_cmdseq_conn* conn = dbc->conn.load();
  CmdSeqResetErrorParam(&dbc->err, conn);
  if (conn == nullptr) {
    DBNotConnected(dbc);
    PostSQLError(stmt);
    return SQL_ERROR;
  }
  const bool in_place = (target->flags & kItemInPlace) != 0;
  if (in_place && target->data_ptr != nullptr) {
    v.data = target->data_ptr;
  } else {
    // The piece is converted before the call ends, so nothing of it outlives the call.
    *scratch = static_cast<char*>(ut_malloc(static_cast<std::size_t>(item->length) + 2));
    if (*scratch == nullptr) {
      PostSQLState(stmt, kStateHY001, kStateS1001);
      return SQL_ERROR;
    }
    v.data = *scratch;
    // A fixed-size value without a buffer of the application is read all the same, for
    // its length.
    if (in_place) target->flags &= ~kItemInPlace;
  }
  a_cmdseq_getdata_param get;
  get.cursor = &stmt->cursor;
  get.column = column;
  get.piece_offset = read_in_pieces(eff) ? static_cast<std::uint32_t>(stmt->gd_returned) : 0;
  get.value = item;
  const std::int32_t sqlcode = MapCmdSeqResult(CmdSeqGetData(conn, &dbc->err, &get), dbc, 0);
  if (sqlcode == kSqlNoCurrentRow || sqlcode == kSqlNoData || sqlcode < 0) {
    ut_free(*scratch);
    *scratch = nullptr;
    v.data = nullptr;
    if (sqlcode == kSqlNoCurrentRow) {
      PostSQLState(stmt, kStateHY109, kStateS1109);
      return SQL_ERROR;
    }
    if (sqlcode == kSqlNoData) {
      stmt->gd_whole = 1;
      return SQL_NO_DATA;
    }
    PostSQLError(stmt);
    return SQL_ERROR;
  }
  if (stmt->gd_returned == 0 && v.indicator != nullptr && *v.indicator >= 0) {
    const SQLLEN got = v.length != nullptr ? *v.length : 0;
    if (stmt->gd_first_length < got) stmt->gd_first_length = got;
    if (stmt->gd_first_length < static_cast<SQLLEN>(get.full_length))
      stmt->gd_first_length = get.full_length;
  }
  return SQL_SUCCESS;
}

}  // namespace

void FreeWidePiece(a_odbc_wide_piece* piece) { delete piece; }

void ResetGetData(tagSTMT* stmt) {
  stmt->gd_returned = 0;
  stmt->gd_first_length = 0;
  stmt->gd_chars = 0;
  stmt->gd_whole = 0;
  FreeWidePiece(stmt->gd_piece);
  stmt->gd_piece = nullptr;
}

SQLRETURN GetData(tagSTMT* stmt, SQLUSMALLINT column, SQLSMALLINT c_type, tagITEM* target,
                  tagITEM* ird) {
  tagDBC* dbc = OwningDbc(stmt);
  if (dbc == nullptr) {
    PostSQLState(stmt, kStateHY000, kStateS1000);
    return SQL_ERROR;
  }
  if (stmt->gd_returned == 0 && stmt->gd_piece == nullptr && reposition(stmt) != SQL_SUCCESS)
    return SQL_ERROR;

  if (stmt->getdata_list == nullptr) {
    stmt->getdata_list = NewItemList(1, 1, 1);
    if (stmt->getdata_list == nullptr) {
      PostSQLState(stmt, kStateHY001, kStateS1001);
      return SQL_ERROR;
    }
  }
  a_cmdseq_desc* list = &stmt->getdata_list->desc;
  a_cmdseq_desc_item* item = list->items;
  a_cmdseq_value& v = item->values()[0];

  const SQLSMALLINT sql_type = ird != nullptr ? ird->concise_type : SQL_VARCHAR;
  target->concise_type = c_type;
  target->effective_type = FetchCType(stmt, target, sql_type);
  SetupFetchItem(stmt, target, ird, sql_type, false, item);
  target->wire_item = item;
  target->wire_column = nullptr;
  const SQLSMALLINT eff = target->effective_type;
  const SQLLEN room = target->octet_length > 0 ? target->octet_length : 0;
  item->length = piece_bytes(stmt, eff, c_type, room, item->length);
  if (item->length > kShortItemMax) {
    if (item->type == 12) item->type = -1;
    else if (item->type == -2 || item->type == -3) item->type = -4;
    else if (item->type == -30) item->type = -31;
  }
  (void)CmdSeqMarkDescItemUpdated(list, item);

  const SQLLEN out_room = room >= 2 ? (room - 2) & ~static_cast<SQLLEN>(1) : 0;
  // Text and bytes fill the whole buffer even when the server hands out smaller pieces:
  // an application that is told 01004 takes the buffer as full.
  const bool fill = read_in_pieces(eff) && !is_wide_c(c_type);
  const SQLLEN unit = (eff == -2 || eff == -3) && is_char_c(c_type) ? 2 : 1;  // bytes out per byte in
  const SQLLEN terminator = is_char_c(c_type) ? 1 : 0;
  const SQLLEN start_returned = stmt->gd_returned;
  char* const base = static_cast<char*>(target->data_ptr);
  SQLLEN filled = 0;
  int rounds = 0;
  int r = kBoundNeedInput;
  for (;;) {
    const SQLLEN round_start = stmt->gd_returned;
    r = kBoundNeedInput;
    while (r == kBoundNeedInput) {
      // Text converted from earlier pieces may fill this buffer: then nothing new is read.
      const a_odbc_wide_piece* piece = stmt->gd_piece;
      const bool have_output =
          piece != nullptr &&
          (piece->input_done || piece->left() >= static_cast<std::size_t>(out_room));
      char* scratch = nullptr;
      if (have_output) {
        v.data = nullptr;
      } else {
        const SQLRETURN rc = read_piece(stmt, dbc, column, target, item, eff, &scratch);
        if (rc != SQL_SUCCESS) {
          target->data_ptr = base;
          target->octet_length = room;
          // Past the end after some pieces of this call: what was read stands.
          if (rc == SQL_NO_DATA && rounds > 0) {
            r = kBoundWhole;
            break;
          }
          return rc;
        }
      }
      r = DBGetBoundData(stmt, target, target, ird, 0, 0, 0, 0, 1, nullptr);
      ut_free(scratch);
      v.data = nullptr;
    }
    ++rounds;
    if (!fill || r != kBoundMoreData || base == nullptr) break;
    const SQLLEN produced = (stmt->gd_returned - round_start) * unit;
    if (produced <= 0) break;
    filled += produced;
    const SQLLEN left_room = room - filled;
    if (left_room - terminator < unit) break;  // the buffer is full
    target->data_ptr = base + filled;
    target->octet_length = left_room;
    item->length = piece_bytes(stmt, eff, c_type, left_room, item->length);
    (void)CmdSeqMarkDescItemUpdated(list, item);
  }
  target->data_ptr = base;
  target->octet_length = room;
  if (rounds > 1) {
    // The length word tells what was left of the value when this call began.
    const SQLLEN length = (stmt->gd_first_length - start_returned) * unit;
    SQLLEN* word = target->octet_length_ptr != nullptr ? target->octet_length_ptr
                                                       : target->indicator_ptr;
    if (word != nullptr) std::memcpy(word, &length, sizeof length);
  }
  switch (r) {
    case kBoundWhole:
      stmt->gd_whole = 1;
      return stmt->retcode;
    case kBoundTruncated:
    case kBoundMoreData:
      return AddDiagRecord(stmt, kState01004, kState01004, nullptr, nullptr, 0, kDiagNoPosition,
                           column);
    default:
      return SQL_ERROR;
  }
}
