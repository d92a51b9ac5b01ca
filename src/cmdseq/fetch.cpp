// Reading prefetch replies (see fetch.h).
#include "cmdseq/fetch.h"

#include <cstdio>

#include "cmdseq/fetch_buffer.h"
#include "cmdseq/request.h"
#include "cmdseq/request_log.h"
#include "cmdseq/wire_bytes.h"
#include "cmdseq/wire_values.h"
#include "utils/base/memory.h"

namespace {

constexpr unsigned kInfoNoPrefetch = 21;

// A copy of the block's error in a new block, or null when memory is short.
a_cmdseq_error_info* copy_error(a_cmdseq_error_info* from) {
  auto* copy = static_cast<a_cmdseq_error_info*>(ut_malloc(sizeof(a_cmdseq_error_info)));
  if (copy == nullptr) return nullptr;
  CmdSeqInitErrorParam(from->env, copy, from->owner);
  i_cs_SaveErrorTo(from, copy);  // parameters and message move to the copy
  return copy;
}

void drop_saved(a_cmdseq_cursor* cursor) {
  if (cursor->saved_prefetch_error == nullptr) return;
  CmdSeqFiniErrorParam(cursor->saved_prefetch_error);
  ut_free(cursor->saved_prefetch_error);
  cursor->saved_prefetch_error = nullptr;
}

}  // namespace

a_cmdseq_return i_cs_ReceivePrefetchTrailer(a_cmdseq_conn* conn, a_cmdseq_cursor* cursor,
                                            a_cmdseq_error_info* err) {
  drop_saved(cursor);
  a_cmdseq_error_info status_err;
  CmdSeqInitErrorParam(conn->env, &status_err, err->owner);
  a_cmdseq_return result = i_cs_ReceiveSuccessOrError(conn, &status_err);
  if (result == CMDSEQ_WARNING && status_err.sqlcode == 100 &&
      (cursor->flags_b & CS_CURSOR_B_ROW_FAILED) == 0) {
    cursor->flags_b |= CS_CURSOR_B_END_BEHIND;
  }
  if ((cursor->flags_b & CS_CURSOR_B_ROW_FAILED) != 0) {
    cursor->flags_a &= static_cast<std::uint8_t>(~(CS_CURSOR_A_PREFETCH | CS_CURSOR_A_GROWTH));
    cursor->flags_b |= CS_CURSOR_B_ABANDONED;
  }
  const std::int32_t status_code = status_err.sqlcode;
  if (result == CMDSEQ_ERROR) {
    cursor->flags_a &= static_cast<std::uint8_t>(~CS_CURSOR_A_PREFETCH);
    cursor->saved_prefetch_error = copy_error(&status_err);
  }
  CmdSeqFiniErrorParam(&status_err);
  if (i_cs_ReplyRead(result)) {
    std::uint32_t no_prefetch = 0;
    std::uint32_t flags = 0;
    std::uint32_t* slots[kInfoSlots] = {};
    slots[kInfoNoPrefetch] = &no_prefetch;
    slots[kInfoFlagsSlot] = &flags;
    result = i_cs_ReceiveAllInfo(conn, err, slots);
    if (no_prefetch != 0) cursor->flags_a |= CS_CURSOR_A_NO_PREFETCH;
  }
  if (result == CMDSEQ_PROTOCOL_ERROR) result = i_cs_ReSyncIfProtocolError(conn, result, err);
  if (cursor->rows_received != 0) {
    const std::uint32_t bytes =
        StrmGetBytesRecvUncomp(conn->strm_conn) - cursor->bytes_at_prefetch;
    cursor->avg_row_bytes = bytes / cursor->rows_received;
  } else {
    cursor->flags_a &= static_cast<std::uint8_t>(~CS_CURSOR_A_PREFETCH);
  }
  if (cursor->rows_received == cursor->rows_asked) {
    cursor->flags_b |= CS_CURSOR_B_COMPLETE;
  } else {
    cursor->flags_b &= static_cast<std::uint8_t>(~CS_CURSOR_B_COMPLETE);
  }
  if (status_code == -180) i_cs_RemoveCursor(conn, cursor);
  return result;
}

a_cmdseq_return i_cs_ReceiveFetchPendingIntoBuffers(a_cmdseq_conn* conn,
                                                    a_cmdseq_cursor* cursor,
                                                    a_cmdseq_error_info* err) {
  if (conn->prefetch_cursor == cursor) conn->prefetch_cursor = nullptr;
  if (cursor->buffer == nullptr) {
    // Without room the rows are read and dropped by the row reader.
    (void)i_cs_CreateFetchBuffer(cursor, cursor->rows_asked, cursor->buffered_columns);
  }
  a_cmdseq_return result = CMDSEQ_OK;
  for (;;) {
    bool end = false;
    bool inserted = false;
    result = i_cs_ReceiveRowIntoBuffer(conn, err, cursor, &end, &inserted);
    if (!i_cs_ReplyRead(result) || end) break;
  }
  switch (result) {
    case CMDSEQ_NOT_CONNECTED:
    case CMDSEQ_NO_MEMORY:
    case CMDSEQ_CANCELLED:
    case CMDSEQ_SERVER_CLOSED:
      return result;
    case CMDSEQ_OK:
    case CMDSEQ_WARNING:
    case CMDSEQ_ERROR:
      break;
    default: {
      // A broken prefetch reply: skip to its end and prefetch no more on this cursor.
      const a_sqlpres_code code = SQLPresReSync(conn->strm_conn, 1);
      cursor->flags_a &= static_cast<std::uint8_t>(~CS_CURSOR_A_PREFETCH);
      return code == SQLPRES_OK ? CMDSEQ_OK : i_cs_HandleSQLPresError(conn, code, err);
    }
  }
  result = i_cs_ReceivePrefetchTrailer(conn, cursor, err);
  switch (result) {
    case CMDSEQ_NOT_CONNECTED:
    case CMDSEQ_NO_MEMORY:
    case CMDSEQ_CANCELLED:
    case CMDSEQ_SERVER_CLOSED:
      return result;
    default:
      return CMDSEQ_OK;
  }
}

// --- The prefetch decision -------------------------------------------------------------------

namespace {

constexpr std::uint8_t kItemFetch = 35;
constexpr std::uint8_t kItemPrefetch = 36;
constexpr std::uint32_t kMaxPrefetchRows = 10000;

}  // namespace

bool i_cs_InitiatePrefetch(a_cmdseq_conn* conn, a_cmdseq_fetch_param* fetch,
                           a_cmdseq_return* result, a_cmdseq_error_info* err,
                           std::uint16_t kind) {
  a_cmdseq_cursor* cursor = fetch->cursor;
  if ((cursor->flags_a & CS_CURSOR_A_NO_PREFETCH) != 0) return false;
  const std::uint32_t half = cursor->rows_asked / 2u;
  auto held = [&]() -> std::uint32_t {
    return cursor->buffer != nullptr ? cursor->buffer->count : 0;
  };
  if (held() > half) return false;
  if ((cursor->flags_b & CS_CURSOR_B_COMPLETE) != 0 &&
      static_cast<std::uint32_t>(cursor->rows_asked - cursor->rows_received) > half) {
    return false;
  }
  if (conn->prefetch_cursor == cursor) {
    if ((cursor->flags_c & CS_CURSOR_C_FIRST_FETCH) != 0) return false;
    a_sqlpres_code code = SQLPRES_OK;
    if (SQLPresSyncPointArrived(conn->strm_conn, &code) == 0) return false;
    const a_cmdseq_return r = i_cs_ReceiveFetchPendingIntoBuffers(conn, cursor, err);
    if (r != CMDSEQ_OK) {
      i_cs_FlushBuffersForCursor(cursor, false);
      *result = r;
      return false;
    }
    if (held() > half) return false;
  } else if (cursor->rows_asked != 0) {
    cursor->flags_c &= static_cast<std::uint8_t>(~CS_CURSOR_C_FIRST_FETCH);
  }
  if (cursor->buffered_columns == 0 || (cursor->flags_a & CS_CURSOR_A_PREFETCH) == 0 ||
      !conn->prefetch_on || (cursor->flags_a & CS_CURSOR_A_END_REACHED) != 0 ||
      (cursor->flags_b & CS_CURSOR_B_END_BEHIND) != 0 ||
      (cursor->buffered_columns != cursor->entry_count &&
       (cursor->flags_b & CS_CURSOR_B_NONE_YET) != 0 && cursor->rows_received == 0) ||
      fetch->offset < 0 || (fetch->options & 8) != 0 ||
      (cursor->flags_a & (CS_CURSOR_A_GETDATA_COLS | CS_CURSOR_A_RESEND_DESC)) ==
          (CS_CURSOR_A_GETDATA_COLS | CS_CURSOR_A_RESEND_DESC) ||
      (fetch->bound != nullptr && CmdSeqIsDescUpdated(cursor, fetch->bound)) ||
      (fetch->limit_on != 0 && fetch->prefetch_limit == 0)) {
    return false;
  }

  std::uint64_t rows = conn->prefetch_rows;
  if (fetch->row_count != 0) rows *= fetch->row_count;
  if ((cursor->flags_a & CS_CURSOR_A_GROWTH) != 0 && rows <= 9999) {
    if (cursor->growth_countdown > 0) --cursor->growth_countdown;
    if (cursor->growth_countdown == 0) {
      if (rows * cursor->growth_multiplier <= 9999) {
        const std::uint32_t grown =
            cursor->growth_multiplier * (cursor->growth_period == 1 ? 4u : 2u);
        cursor->growth_multiplier = static_cast<std::uint16_t>(grown > 0xFFFF ? 0xFFFF : grown);
      }
      cursor->growth_countdown = cursor->growth_period;
    }
    rows *= cursor->growth_multiplier;
  }
  if (rows > kMaxPrefetchRows) {
    if (fetch->row_count > 2500) return false;
    rows = kMaxPrefetchRows;
  }

  // Memory: what the budget still allows, with the free slots of the present buffer.
  const std::int64_t base = static_cast<std::int64_t>(cursor->buffered_columns) * 16 + 12;
  std::int64_t avail = static_cast<std::int64_t>(conn->fetch_budget) - conn->fetch_bytes_in_use;
  if (avail < 0) avail = 0;
  if (cursor->buffer != nullptr) {
    avail += static_cast<std::int64_t>(cursor->buffer->capacity - cursor->buffer->count) *
             cursor->buffer->row_size;
  }
  std::int64_t estimate = cursor->row_size_est;
  if (cursor->avg_row_bytes != 0 && conn->server_strm_ver > 12)
    estimate = cursor->avg_row_bytes + base;
  std::int64_t need;
  if (estimate <= 0) {
    need = base * static_cast<std::int64_t>(rows);
  } else if (avail < static_cast<std::int64_t>(rows) * estimate) {
    const std::int64_t q = avail / estimate;
    if (q <= 2 && avail > 8192) {
      rows = 3;
      need = 3 * base;
    } else {
      rows = static_cast<std::uint64_t>(q);
      need = base * q;
      const bool growing =
          (cursor->flags_a & CS_CURSOR_A_GROWTH) != 0 && cursor->growth_multiplier > 3;
      if (!conn->prefetch_warned && !growing && q <= 99 && CmdSeqCheckDebug(conn->attrib)) {
        char number[24];
        std::snprintf(number, sizeof number, "%lld", static_cast<long long>(q <= 2 ? 0 : q));
        CmdSeqPrtMsgId(conn->attrib, 9473, number);
        CmdSeqPrtMsgId(conn->attrib, 9474);
        conn->prefetch_warned = true;
      }
    }
  } else {
    need = base * static_cast<std::int64_t>(rows);
  }
  std::int64_t spare = avail - need;
  if (spare <= 0) spare = 1;
  if (rows <= 2) {
    cursor->flags_a &= static_cast<std::uint8_t>(~CS_CURSOR_A_PREFETCH);
    return false;
  }
  std::uint32_t keep = 0;
  if ((cursor->flags_a & CS_CURSOR_A_KEEP_CURRENT) != 0) {
    keep = 1;
    cursor->flags_c &= static_cast<std::uint8_t>(~CS_CURSOR_C_FIRST_FETCH);
  }
  if (rows + held() + cursor->position_delta > 65534) return false;
  if ((cursor->flags_c & CS_CURSOR_C_FIRST_FETCH) == 0) {
    const std::uint64_t room = rows + held() + keep;
    if (cursor->buffer == nullptr || cursor->buffer->capacity < room) {
      if (!i_cs_ResizeFetchBuffer(cursor, static_cast<std::uint32_t>(room),
                                  cursor->buffered_columns)) {
        if (cursor->buffer == nullptr) return false;
        const std::int64_t fit =
            static_cast<std::int64_t>(cursor->buffer->capacity) - held() - keep;
        if (fit < 3) return false;
        rows = static_cast<std::uint64_t>(fit);
      }
    }
  }
  if (!i_cs_SetPrefetchPendingCursor(conn, cursor)) return false;
  a_cmdseq_return r = i_cs_AlignCursors(conn, err);
  if (r != CMDSEQ_OK) {
    conn->prefetch_cursor = nullptr;
    *result = r;
    return false;
  }
  cursor->bytes_at_prefetch = StrmGetBytesRecvUncomp(conn->strm_conn);
  std::uint8_t* p = nullptr;
  a_sqlpres_code code = SQLPresSend(conn->strm_conn, kItemPrefetch, &p, 16, 0);
  if (code == SQLPRES_OK) {
    vq::cmdseq::store_le32(p, cursor->server_cursor);
    vq::cmdseq::store_le32(p + 4,
                           spare > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(spare));
    vq::cmdseq::store_le16(p + 8, fetch->limit_on != 0 ? fetch->prefetch_limit : 0xFFFF);
    vq::cmdseq::store_le16(p + 10, static_cast<std::uint16_t>(rows));
    vq::cmdseq::store_le16(p + 12, kind);
    vq::cmdseq::store_le16(p + 14, 0);
    code = SQLPresSyncPoint(conn->strm_conn, 0, 0);
  }
  if (code != SQLPRES_OK) {
    i_cs_FlushBuffersForCursor(cursor, false);
    conn->prefetch_cursor = nullptr;
    *result = i_cs_HandleSQLPresError(conn, code, err);
    return false;
  }
  cursor->rows_received = 0;
  cursor->rows_asked = static_cast<std::uint16_t>(rows);
  cursor->flags_b &= static_cast<std::uint8_t>(~CS_CURSOR_B_ROW_FAILED);
  return true;
}

// --- Fetch -----------------------------------------------------------------------------------

namespace {

bool on_flush_list(const a_cmdseq_conn* conn, std::uint32_t server_cursor) {
  for (const a_cmdseq_flush_node* n = conn->flush_list; n != nullptr; n = n->next) {
    if (n->server_cursor == server_cursor) return true;
  }
  return false;
}

// A served or skipped row: the server's cursor has not moved over it yet.
void count_local_row(a_cmdseq_cursor* cursor) {
  if (cursor->position_delta < 0xFFFF) ++cursor->position_delta;
  ++cursor->rows_consumed;
  cursor->flags_a |= CS_CURSOR_A_DELTA_TO_SEND;
}

// The buffered rows fit the bound description: every bound item has a buffered entry of
// its type.
bool buffer_fits(const a_cmdseq_cursor* cursor, a_cmdseq_desc* bound) {
  if (bound == nullptr || cursor->columns == nullptr) return bound == nullptr;
  std::uint32_t k = 0;
  for (a_cmdseq_desc_item* item = bound->items; item != nullptr && k < bound->count;
       item = item->next, ++k) {
    if (bound->values_per_item == 0 || item->values()[0].data == nullptr) continue;
    if (k >= cursor->entry_count) return false;
    const a_cmdseq_app_column& entry = cursor->columns[k];
    if (entry.buffer_index < 0 || entry.type != item->type) return false;
    if ((item->type == 2 || item->type == 3) &&
        (entry.scale != static_cast<std::int16_t>(item->scale) ||
         entry.precision != item->precision)) {
      return false;
    }
    if (item->type == 9 && entry.subtype != item->subtype) return false;
    if (item->length > entry.sent_length) return false;  // rows were fetched shorter
  }
  return true;
}

// The end of a fetch reply after its rows: end of data (a forward move from a row that
// runs out marks the end reached), the cursor's first fetch done, and the information
// items with their flags. CMDSEQ_OK, or the failure reading the information items.
a_cmdseq_return read_fetch_trailer(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                   a_cmdseq_cursor* cursor, a_cmdseq_fetch_param* fetch,
                                   std::int32_t sent_offset, bool* end_of_data) {
  if (err->sqlcode == 100) {
    *end_of_data = true;
    if (sent_offset > 0 && (fetch->options & (1 | 4)) == 0) {
      cursor->flags_a |= CS_CURSOR_A_END_REACHED;
    }
  }
  cursor->flags_b &= static_cast<std::uint8_t>(~CS_CURSOR_B_NONE_YET);
  std::uint32_t flags = 0;
  std::uint32_t* slots[kInfoSlots] = {};
  slots[5] = &fetch->position;
  slots[1] = &fetch->second;
  slots[kInfoFlagsSlot] = &flags;
  const a_cmdseq_return info = i_cs_ReceiveAllInfo(conn, err, slots);
  if (info == CMDSEQ_OK) i_cs_ProcessNonZeroInfoFlags(conn, flags, &err->cursors_closed, cursor);
  return info;
}

// Columns of a row that one look at the current packet may take.
constexpr std::uint32_t kMostQuickColumns = 32;

// Where the columns the server sends for each row go: the bound item of each (null when
// its value is dropped) and the quick road of that item, worked out once per reply.
struct QuickRowPlan {
  a_cmdseq_desc_item* items[kMostQuickColumns];
  a_cmdseq_quick_item quick[kMostQuickColumns];
  std::uint32_t columns = 0;
  bool usable = false;
};

void plan_quick_rows(const a_cmdseq_cursor* cursor, a_cmdseq_desc* bound, QuickRowPlan* plan) {
  plan->usable = false;
  plan->columns = 0;
  a_cmdseq_desc_item* next_item = bound != nullptr ? bound->items : nullptr;
  for (std::uint32_t k = 0; k < cursor->entry_count; ++k) {
    a_cmdseq_desc_item* item = k < (bound != nullptr ? bound->count : 0) ? next_item : nullptr;
    if (next_item != nullptr) next_item = next_item->next;
    const a_cmdseq_app_column& entry = cursor->columns[k];
    if (entry.buffer_index < 0) continue;
    if (plan->columns == kMostQuickColumns) return;
    if ((entry.flags & CS_COLUMN_BOUND) == 0) item = nullptr;
    plan->items[plan->columns] = item;
    plan->quick[plan->columns] = item != nullptr ? i_cs_QuickItemOf(item) : a_cmdseq_quick_item{};
    ++plan->columns;
  }
  plan->usable = plan->columns != 0;
}

// Takes a whole row into value record `slot` in one look when the current packet holds
// it as short items that all take the quick road (or NULL into an indicator, or a value
// dropped for an unbound column), followed by an end-of-row item without a status record.
// Otherwise nothing is read or written and false is answered: the general reader takes
// the row. *truncated tells that a value was cut to its buffer.
bool take_quick_row(a_cmdseq_conn* conn, const QuickRowPlan& plan, std::uint32_t slot,
                    bool* truncated) {
  a_sqlpres_item items[kMostQuickColumns + 1];
  std::uint32_t ends[kMostQuickColumns + 1];
  const std::uint32_t columns = plan.columns;
  if (SQLPresPeekShortItems(conn->strm_conn, items, columns + 1, ends) != columns + 1)
    return false;
  const a_sqlpres_item& row_end = items[columns];
  if (row_end.code != CS_ITEM_END_OF_DATA || (row_end.payload != nullptr && row_end.payload[0] != 0))
    return false;
  for (std::uint32_t c = 0; c < columns; ++c) {
    const std::uint8_t code = items[c].code;
    a_cmdseq_desc_item* item = plan.items[c];
    if (item != nullptr && item->values()[slot].data != nullptr) {
      if (code == CS_ITEM_NULL ? item->values()[slot].indicator == nullptr
                               : !i_cs_QuickTakes(plan.quick[c], item, code, items[c].length)) {
        return false;
      }
    } else if (code != CS_ITEM_NULL && quick_recv1col_array[code] == 0) {
      return false;
    }
  }
  *truncated = false;
  for (std::uint32_t c = 0; c < columns; ++c) {
    a_cmdseq_desc_item* item = plan.items[c];
    if (item == nullptr) continue;
    a_cmdseq_value& v = item->values()[slot];
    if (v.data == nullptr) continue;
    if (items[c].code == CS_ITEM_NULL) {
      *v.indicator = -1;
    } else if (i_cs_QuickStore(conn, plan.quick[c], item, slot, items[c].payload,
                               items[c].length)) {
      *truncated = true;
    }
  }
  return SQLPresSkipShortItems(conn->strm_conn, ends[columns]) == SQLPRES_OK;
}

// Reads the rows of a reply into value records first..first+limit-1 of the bound
// description (values of columns without a slot are dropped). *rows gets the complete
// rows; *end_of_data is set by a row status 100. A fetch reply holds no more rows than
// asked and is read to its end item. With `reply_ended` given (a prefetch reply, which
// may hold more rows than this fetch wants) reading stops after `limit` rows, and
// *reply_ended tells whether the end item was read.
a_cmdseq_return read_rows(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                          a_cmdseq_cursor* cursor, a_cmdseq_desc* bound, std::uint32_t first,
                          std::uint32_t limit, std::uint32_t* rows, bool* end_of_data,
                          bool* reply_ended = nullptr) {
  *rows = 0;
  a_cmdseq_return result = CMDSEQ_OK;
  bool ended_here = false;
  bool* ended = reply_ended != nullptr ? reply_ended : &ended_here;
  *ended = false;
  QuickRowPlan plan;
  if (cursor->columns != nullptr) plan_quick_rows(cursor, bound, &plan);
  for (;;) {
    if (reply_ended != nullptr && *rows == limit) return result;
    const std::uint32_t slot = first + *rows;
    bool truncated = false;
    if (plan.usable && *rows < limit && (bound == nullptr || slot < bound->values_per_item) &&
        take_quick_row(conn, plan, slot, &truncated)) {
      if (truncated) {
        i_cs_SetErrorInfo(err, 101);
        result = i_cs_MoreSevereError(result, CMDSEQ_WARNING);
      }
      ++*rows;
      result = i_cs_MoreSevereError(result, i_cs_ResultOfSQLCode(err));
      continue;
    }
    bool read_any = false;
    bool row_closed = false;
    // Values go to the items of the description given now, column k to item k: an
    // entry's remembered item may belong to a description the caller has let go.
    a_cmdseq_desc_item* next_item = bound != nullptr ? bound->items : nullptr;
    for (std::uint32_t k = 0; k < cursor->entry_count; ++k) {
      a_cmdseq_desc_item* item =
          k < (bound != nullptr ? bound->count : 0) ? next_item : nullptr;
      if (next_item != nullptr) next_item = next_item->next;
      const a_cmdseq_app_column& entry = cursor->columns[k];
      if (entry.buffer_index < 0) continue;
      bool end = false;
      bool eod = false;
      a_cmdseq_return r;
      if (item != nullptr && (entry.flags & CS_COLUMN_BOUND) != 0 && *rows < limit &&
          slot < bound->values_per_item && item->values()[slot].data != nullptr) {
        r = i_cs_ReceiveOneColumn(conn, err, item, slot, &end, &eod);
      } else {
        r = i_cs_ThrowAwayColumn(conn, err, &end, &eod, false);
      }
      if (!i_cs_ReplyRead(r)) return r;
      if (end) {
        if (read_any) return i_cs_ProtocolError(conn);
        *ended = true;
        return result;  // the reply's end item
      }
      if (eod) {
        row_closed = true;
        result = i_cs_MoreSevereError(result, i_cs_ResultOfSQLCode(err));
        if (err->sqlcode == 100) *end_of_data = true;
        break;
      }
      result = i_cs_MoreSevereError(result, r);
      read_any = true;
    }
    if (row_closed) {
      if (*end_of_data || err->sqlcode == -197) {
        a_cs_item item;
        const a_cmdseq_return r = i_cs_ReceiveItem(conn, err, &item);
        if (r != CMDSEQ_OK) return r;
        if (item.code != CS_ITEM_END) return i_cs_ProtocolError(conn);
        *ended = true;
        return result;
      }
      continue;
    }
    a_cs_item item;
    a_cmdseq_return r = i_cs_ReceiveItem(conn, err, &item);
    if (r != CMDSEQ_OK) return r;
    if (item.code == CS_ITEM_END) {
      if (read_any) return i_cs_ProtocolError(conn);
      *ended = true;
      return result;
    }
    if (item.code != CS_ITEM_END_OF_DATA) return i_cs_ProtocolError(conn);
    r = i_cs_ProcessEndData(item.payload_bytes() != 0 ? item.payload[0] : 0, err, conn);
    if (r != CMDSEQ_OK) return r;
    if (err->sqlcode == 100 && !read_any) {
      *end_of_data = true;
      result = i_cs_MoreSevereError(result, CMDSEQ_WARNING);
      continue;
    }
    // A row beyond those asked breaks the grammar; its values went nowhere.
    if (++*rows > limit) return i_cs_ProtocolError(conn);
    result = i_cs_MoreSevereError(result, i_cs_ResultOfSQLCode(err));
  }
}

// Whether the rows of this cursor's prefetch in flight can be read from the stream
// straight into the bound description: a block or single-row fetch of the next row
// (no absolute or bookmark move, no lock; the first-call bit only informs the server,
// which a fetch served from the prefetch does not reach) into the description the
// prefetch was described with, with no row kept for get data (nothing then needs the
// rows in buffer slots), and buffered rows, if any, usable as they are.
bool prefetch_reads_direct(a_cmdseq_cursor* cursor, a_cmdseq_fetch_param* fetch, bool block) {
  constexpr std::uint16_t kMoveOrLockOptions = 0x01 | 0x04 | 0x08;
  a_cmdseq_desc* bound = fetch->bound;
  if (bound == nullptr || cursor->columns == nullptr || fetch->offset != 1 ||
      cursor->reposition_base != 1 || (fetch->options & kMoveOrLockOptions) != 0) {
    return false;
  }
  if (!block && (bound->values_per_item == 0 || fetch->row_count > 1)) return false;
  if ((cursor->flags_a &
       (CS_CURSOR_A_KEEP_CURRENT | CS_CURSOR_A_GETDATA_COLS | CS_CURSOR_A_RESEND_DESC)) != 0 ||
      CmdSeqIsDescUpdated(cursor, bound)) {
    return false;
  }
  return buffer_fits(cursor, bound);
}

// Reads rows of the prefetch in flight straight into value records first.. of the bound
// description, at most `limit` of them, counting them as rows of the prefetch and as
// rows served locally (*served grows). When its reply ends the prefetch is done: its
// trailer is read and the pending cursor cleared. A reply that breaks is given up as a
// broken prefetch reply is (prefetch off for this cursor, the stream resynchronised).
a_cmdseq_return read_prefetch_direct(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                     a_cmdseq_cursor* cursor, a_cmdseq_desc* bound,
                                     std::uint32_t first, std::uint32_t limit,
                                     std::uint32_t* served, bool* end_of_data,
                                     bool* reply_ended) {
  std::uint32_t rows = 0;
  a_cmdseq_return r =
      read_rows(conn, err, cursor, bound, first, limit, &rows, end_of_data, reply_ended);
  for (std::uint32_t k = 0; k < rows; ++k) {
    count_local_row(cursor);
    ++cursor->rows_received;
  }
  *served += rows;
  if (r == CMDSEQ_ERROR && err->sqlcode == -197) count_local_row(cursor);
  switch (r) {
    case CMDSEQ_OK:
    case CMDSEQ_WARNING:
    case CMDSEQ_ERROR:
      break;
    case CMDSEQ_NOT_CONNECTED:
    case CMDSEQ_NO_MEMORY:
    case CMDSEQ_CANCELLED:
    case CMDSEQ_SERVER_CLOSED:
      conn->prefetch_cursor = nullptr;
      return r;
    default: {
      conn->prefetch_cursor = nullptr;
      *reply_ended = true;
      const a_sqlpres_code code = SQLPresReSync(conn->strm_conn, 1);
      cursor->flags_a &= static_cast<std::uint8_t>(~CS_CURSOR_A_PREFETCH);
      return code == SQLPRES_OK ? CMDSEQ_OK : i_cs_HandleSQLPresError(conn, code, err);
    }
  }
  // The rest of the reply stays in the stream for the next fetches to read the same way:
  // the prefetch decision after this fetch moves it into the buffer only once at most
  // half of its rows are left (then the next prefetch is asked for).
  if (!*reply_ended) return r;
  conn->prefetch_cursor = nullptr;
  a_cmdseq_error_info trailer_err;
  CmdSeqInitErrorParam(conn->env, &trailer_err, err->owner);
  const a_cmdseq_return t = i_cs_ReceivePrefetchTrailer(conn, cursor, &trailer_err);
  const bool closed = (cursor->flags_b & CS_CURSOR_B_OPEN) == 0;
  CmdSeqFiniErrorParam(&trailer_err);
  switch (t) {
    case CMDSEQ_NOT_CONNECTED:
    case CMDSEQ_NO_MEMORY:
    case CMDSEQ_CANCELLED:
    case CMDSEQ_SERVER_CLOSED:
      *reply_ended = false;  // the caller returns this result as it is
      return t;
    default:
      break;
  }
  if (closed) {
    i_cs_SetErrorInfo(err, -180);
    return CMDSEQ_ERROR;
  }
  return r;
}

// The single row of a fetch that keeps the current row: read into the buffer (made for
// one row of the buffered columns when missing or of other columns), copied into value
// record `slot` of the bound description and kept as the buffer's head.
a_cmdseq_return read_kept_row(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                              a_cmdseq_cursor* cursor, a_cmdseq_desc* bound, std::uint32_t slot,
                              std::uint32_t* rows, bool* end_of_data) {
  *rows = 0;
  a_cmdseq_fetch_buffer* buf = cursor->buffer;
  if (buf == nullptr || buf->columns != cursor->buffered_columns || buf->count != 0) {
    i_cs_FreeAllocatedFetchBuffers(cursor);
    if (!i_cs_CreateFetchBuffer(cursor, 1, cursor->buffered_columns)) {
      (void)SQLPresReSync(conn->strm_conn, 1);
      return CMDSEQ_NO_MEMORY;
    }
  }
  // The row is this fetch's, not the prefetch's: the prefetch's count stays.
  const std::uint16_t received = cursor->rows_received;
  bool end = false;
  bool inserted = false;
  a_cmdseq_return result = i_cs_ReceiveRowIntoBuffer(conn, err, cursor, &end, &inserted);
  cursor->rows_received = received;
  if (!i_cs_ReplyRead(result)) return result;
  if (inserted && !end) {
    // The reply's end item follows the row.
    a_cs_item item;
    const a_cmdseq_return r = i_cs_ReceiveItem(conn, err, &item);
    if (r != CMDSEQ_OK) return r;
    if (item.code != CS_ITEM_END) return i_cs_ProtocolError(conn);
  } else if (!inserted && !end) {
    return i_cs_ProtocolError(conn);  // the row could not be taken
  }
  if (!inserted) return result;
  const a_cmdseq_return copied = i_cs_CopyBufferedRowToDesc(conn, cursor, err, bound, slot);
  if (copied == CMDSEQ_WARNING && err->sqlcode == 100) {
    *end_of_data = true;
    i_cs_ReleaseCurrentRow(cursor);
    return CMDSEQ_WARNING;
  }
  if (!(copied == CMDSEQ_ERROR && err->sqlcode == -197)) *rows = 1;
  return copied == CMDSEQ_FAILED ? CMDSEQ_OK : copied;
}

// A move over several rows with no value slots to fill: the server is told to send no
// column (items 69, 70 and 73 for every entry), and the rows it sends are only counted.
// The next fetch describes the row again.
a_cmdseq_return skip_rows(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                          a_cmdseq_fetch_param* fetch, bool dropped) {
  a_cmdseq_cursor* cursor = fetch->cursor;
  i_cs_CancelCursorPrefetch(cursor, conn, err);
  i_cs_FlushBuffersForCursor(cursor, !dropped);
  a_cmdseq_return r = i_cs_StartRequest(conn, err);
  if (r != CMDSEQ_OK) return r;
  auto send = [&](a_sqlpres_code code) {
    return code == SQLPRES_OK ? CMDSEQ_OK : i_cs_HandleSQLPresError(conn, code, err);
  };
  std::uint8_t* p = nullptr;
  r = send(SQLPresSend(conn->strm_conn, 69, &p, 6, 0));
  if (r == CMDSEQ_OK) {
    vq::cmdseq::store_le32(p, cursor->server_cursor);
    vq::cmdseq::store_le16(p + 4, 0);
  }
  const std::uint32_t described =
      cursor->definitions_sent > cursor->entry_count ? cursor->definitions_sent
                                                     : cursor->entry_count;
  for (std::uint32_t k = 0; k < described && r == CMDSEQ_OK; ++k) {
    r = send(SQLPresSend(conn->strm_conn, 70, &p, 2, 0));
    if (r != CMDSEQ_OK) break;
    vq::cmdseq::store_le16(p, static_cast<std::uint16_t>(k));
    r = send(SQLPresSendCommand(conn->strm_conn, CS_ITEM_NO_DEFINITION, 0));
    if (cursor->columns != nullptr && k < cursor->entry_count &&
        (cursor->columns[k].flags & CS_COLUMN_BOUND) == 0) {
      cursor->columns[k].flags |= CS_COLUMN_SEND_DEFN;
    }
  }
  if (r == CMDSEQ_OK) r = send(SQLPresSendCommand(conn->strm_conn, CS_ITEM_END, 0));
  if (r == CMDSEQ_OK) {
    cursor->definitions_sent = cursor->entry_count;
    CmdSeqMarkCursorOld(cursor);  // bound columns are described again with the next fetch
    cursor->flags_a |= CS_CURSOR_A_RESEND_DESC;
    r = send(SQLPresSend(conn->strm_conn, kItemFetch, &p, 12, 0));
  }
  if (r == CMDSEQ_OK) {
    vq::cmdseq::store_le32(p, cursor->server_cursor);
    vq::cmdseq::store_le32(p + 4, static_cast<std::uint32_t>(fetch->offset));
    vq::cmdseq::store_le16(p + 8, fetch->row_count);
    vq::cmdseq::store_le16(p + 10, fetch->options);
    cursor->position_delta = 0;
    r = i_cs_SendRequest(conn, err);
    if (r != CMDSEQ_OK) return r;
  } else {
    return i_cs_FiniRequest(conn, i_cs_ReSyncIfProtocolError(conn, r, err));
  }

  // The rows: whatever a row holds is dropped up to its end item.
  std::uint32_t rows = 0;
  bool end_of_data = false;
  a_cmdseq_error_info row_err;
  CmdSeqInitErrorParam(conn->env, &row_err, err->owner);
  a_cmdseq_return result = CMDSEQ_OK;
  for (;;) {
    CmdSeqResetErrorParam(&row_err, nullptr);
    bool end = false;
    bool row_end = false;
    std::uint32_t values = 0;
    while (!end && !row_end) {
      result = i_cs_ThrowAwayColumn(conn, &row_err, &end, &row_end, false);
      if (!i_cs_ReplyRead(result)) break;
      if (!end && !row_end) ++values;
    }
    if (!i_cs_ReplyRead(result)) break;
    result = CMDSEQ_OK;
    if (end) {
      if (values != 0) result = i_cs_ProtocolError(conn);  // a row cut short
      break;
    }
    if (row_err.sqlcode == 100) {
      end_of_data = true;
    } else if (row_err.sqlcode != -197) {
      // A row exceeding those asked breaks the grammar.
      if (++rows > fetch->row_count) {
        result = i_cs_ProtocolError(conn);
        break;
      }
      drop_saved(cursor);
    }
  }
  CmdSeqFiniErrorParam(&row_err);
  if (i_cs_ReplyRead(result)) {
    const a_cmdseq_return status = i_cs_ReceiveSuccessOrError(conn, err);
    if (status == CMDSEQ_ERROR && err->sqlcode == -853 &&
        cursor->saved_prefetch_error != nullptr) {
      i_cs_RestoreErrorFrom(err, cursor->saved_prefetch_error);
    }
    drop_saved(cursor);
    result = status;
    if (i_cs_ReplyRead(status)) {
      const a_cmdseq_return info =
          read_fetch_trailer(conn, err, cursor, fetch, fetch->offset, &end_of_data);
      if (info != CMDSEQ_OK) result = info;
    }
  }
  if (end_of_data) i_cs_FlushBuffersForCursor(cursor, true);
  if (result == CMDSEQ_ERROR) {
    if (conn->prefetch_cursor == cursor) conn->prefetch_cursor = nullptr;
    i_cs_CheckForClosedCursor(conn, cursor, err);
  } else if (!dropped && i_cs_ReplyRead(result)) {
    cursor->flags_a |= CS_CURSOR_A_PREFETCH;
  }
  fetch->rows_fetched = static_cast<std::uint16_t>(rows);
  return i_cs_EndRequest(conn, err, result);
}

// Sets the indicator of every bound item to -1 for the value records not filled.
a_cmdseq_return mark_unfilled(a_cmdseq_error_info* err, a_cmdseq_desc* bound,
                              std::uint32_t from, std::uint32_t to) {
  if (bound == nullptr) return CMDSEQ_OK;
  std::uint32_t k = 0;
  for (a_cmdseq_desc_item* item = bound->items; item != nullptr && k < bound->count;
       item = item->next, ++k) {
    for (std::uint32_t r = from; r < to && r < bound->values_per_item; ++r) {
      a_cmdseq_value& v = item->values()[r];
      if (v.data == nullptr) continue;
      if (v.indicator == nullptr) {
        i_cs_SetErrorInfo(err, -181);
        return CMDSEQ_ERROR;
      }
      *v.indicator = -1;
    }
  }
  return CMDSEQ_OK;
}

}  // namespace

a_cmdseq_return CmdSeqFetch(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                            a_cmdseq_fetch_param* fetch) {
  fetch->position = 0;
  fetch->rows_fetched = 0;
  fetch->second = 0;
  a_cmdseq_cursor* cursor = fetch->cursor;
  if (cursor == nullptr || (cursor->flags_b & CS_CURSOR_B_OPEN) == 0) {
    i_cs_SetErrorInfo(err, -180);
    return CMDSEQ_ERROR;
  }
  if ((conn->status & CS_STATUS_CONNECTED) == 0) return CMDSEQ_NOT_CONNECTED;
  if ((cursor->open_flags & CS_OPEN_FORWARD_ONLY) != 0 &&
      ((fetch->offset != 0 && fetch->offset != 1) || (fetch->options & 1) != 0)) {
    i_cs_SetErrorInfo(err, -668);
    return CMDSEQ_ERROR;
  }
  a_cmdseq_desc* bound = fetch->bound;
  const bool block = fetch->row_count > 0 && bound != nullptr && bound->values_per_item > 0;
  if (block && static_cast<std::uint32_t>(fetch->first_row) + fetch->row_count >
                   bound->values_per_item) {
    i_cs_SetErrorInfo(err, -182);
    return CMDSEQ_ERROR;
  }
  const bool dropped = on_flush_list(conn, cursor->server_cursor) || fetch->reread != 0 ||
                       (fetch->options & (1 | 8)) != 0 ||
                       fetch->offset < cursor->reposition_base ||
                       (fetch->limit_on != 0 && fetch->prefetch_limit == 0);
  if (dropped) {
    i_cs_CancelCursorPrefetch(cursor, conn, err);
    i_cs_FlushBuffersForCursor(cursor, false);
    cursor->flags_a &= static_cast<std::uint8_t>(~CS_CURSOR_A_END_REACHED);
  }
  if (fetch->row_count > 1 && !block) return skip_rows(conn, err, fetch, dropped);
  const std::uint32_t asked = fetch->row_count > 1 ? fetch->row_count : 1;

  // Rows of this cursor's prefetch wait in the stream. When they can go straight into the
  // description, the buffered rows are served first and the fetch reads only the rows it
  // still wants from the stream, so the server goes on making the rest meanwhile.
  // Otherwise they go to the buffer first.
  const bool direct = !dropped && conn->prefetch_cursor == cursor &&
                      prefetch_reads_direct(cursor, fetch, block);
  if (!dropped && conn->prefetch_cursor == cursor && !direct) {
    const a_cmdseq_return r = i_cs_ReceiveFetchPendingIntoBuffers(conn, cursor, err);
    if (r != CMDSEQ_OK) return r;
  }

  // Serve from the buffer.
  std::uint32_t served = 0;
  a_cmdseq_return result = CMDSEQ_OK;
  bool end_of_data = false;
  if (!dropped && cursor->buffer != nullptr && cursor->buffer->count != 0) {
    if (buffer_fits(cursor, bound)) {
      while (served < asked && cursor->buffer->count != 0) {
        std::int32_t want = served == 0 ? fetch->offset : 1;
        if (cursor->reposition_base > want) {
          i_cs_FlushBuffersForCursor(cursor, true);
          break;
        }
        while (cursor->reposition_base < want && cursor->buffer->count != 0) {
          i_cs_ReleaseCurrentRow(cursor);
          count_local_row(cursor);
          --want;
          if (served == 0) --fetch->offset;
        }
        if (cursor->buffer->count == 0) break;
        const a_cmdseq_return r = i_cs_CopyBufferedRowToDesc(
            conn, cursor, err, bound, static_cast<std::uint32_t>(fetch->first_row) + served);
        if (r == CMDSEQ_WARNING && err->sqlcode == 100) {
          end_of_data = true;
          i_cs_ReleaseCurrentRow(cursor);
          break;
        }
        // With a reposition base of 0 the head is the current row, counted when it was
        // reached: stepping off it above counted the move.
        if (cursor->reposition_base != 0) count_local_row(cursor);
        if ((cursor->flags_a & CS_CURSOR_A_KEEP_CURRENT) == 0) i_cs_ReleaseCurrentRow(cursor);
        ++served;
        result = i_cs_MoreSevereError(result, r);
        if (r == CMDSEQ_ERROR || err->sqlcode == 104) break;
      }
    } else {
      i_cs_FlushBuffersForCursor(cursor, false);
    }
  }
  if (direct && conn->prefetch_cursor == cursor && served < asked && !end_of_data &&
      result != CMDSEQ_ERROR && err->sqlcode != 104) {
    bool reply_ended = false;
    const a_cmdseq_return r = read_prefetch_direct(
        conn, err, cursor, bound, static_cast<std::uint32_t>(fetch->first_row) + served,
        asked - served, &served, &end_of_data, &reply_ended);
    if (!reply_ended && r != CMDSEQ_OK && !i_cs_ReplyRead(r)) return r;
    result = i_cs_MoreSevereError(result, r);
  }
  const bool end_behind = (cursor->flags_b & CS_CURSOR_B_END_BEHIND) != 0 &&
                          (cursor->buffer == nullptr || cursor->buffer->count == 0);
  if (served == asked || end_of_data || result == CMDSEQ_ERROR || end_behind ||
      (cursor->flags_a & CS_CURSOR_A_END_REACHED) != 0) {
    // Buffered finish: nothing is sent unless a prefetch is.
    if (!end_of_data && served == 0 && (cursor->flags_a & CS_CURSOR_A_END_REACHED) != 0) {
      end_of_data = true;
    } else if (!end_of_data && served == 0 && end_behind) {
      // Stepping past the last row known to the buffer: the server's cursor has to go
      // past it too, or a relative move made later counts from the last row instead of
      // from after the end.
      end_of_data = true;
      cursor->flags_b &= static_cast<std::uint8_t>(~CS_CURSOR_B_END_BEHIND);
      cursor->flags_a |= CS_CURSOR_A_END_REACHED;
      count_local_row(cursor);
    }
    if (end_of_data && served == 0) {
      fetch->position = static_cast<std::uint32_t>(fetch->offset);
      if (result == CMDSEQ_OK) {
        i_cs_SetErrorInfo(err, 100);
        result = CMDSEQ_WARNING;
      }
    }
    fetch->rows_fetched = static_cast<std::uint16_t>(served);
    if (block && served < asked) {
      result = i_cs_MoreSevereError(result, mark_unfilled(err, bound, fetch->first_row + served,
                                                          fetch->first_row + asked));
    }
    if (result != CMDSEQ_ERROR && !end_of_data) {
      a_cmdseq_return sent = CMDSEQ_OK;
      conn->in_request.store(1);
      if (i_cs_InitiatePrefetch(conn, fetch, &sent, err, 1)) {
        // The prefetch reply stays in the stream until it is needed.
        conn->in_request.store(0);
      } else {
        conn->in_request.store(0);
        if (sent != CMDSEQ_OK) return sent;
      }
    }
    return result;
  }

  // Ask the server for the rest. A prefetch left in flight after rows were served is
  // behind the rows the server sends now: it is given up with the buffered rows.
  if (direct && conn->prefetch_cursor == cursor) {
    i_cs_CancelCursorPrefetch(cursor, conn, err);
    i_cs_FlushBuffersForCursor(cursor, true);
  }
  a_cmdseq_return r = i_cs_StartRequest(conn, err);
  if (r != CMDSEQ_OK) return r;
  if (bound != nullptr && (CmdSeqIsDescUpdated(cursor, bound) || cursor->columns == nullptr ||
                           (cursor->flags_a & CS_CURSOR_A_RESEND_DESC) != 0)) {
    r = i_cs_RebuildColInfo(cursor, bound);
    if (r != CMDSEQ_OK) return i_cs_FiniRequest(conn, i_cs_OutOfMemoryConn(conn, err));
    r = i_cs_SendRowDesc(conn, err, cursor, bound);
  } else if (cursor->columns == nullptr || (cursor->flags_a & CS_CURSOR_A_RESEND_DESC) != 0) {
    r = i_cs_RebuildColInfo(cursor, nullptr);
    if (r != CMDSEQ_OK) return i_cs_FiniRequest(conn, i_cs_OutOfMemoryConn(conn, err));
    r = i_cs_SendRowDesc(conn, err, cursor, nullptr);
  }
  if (r == CMDSEQ_OK) {
    std::uint8_t* p = nullptr;
    const a_sqlpres_code code = SQLPresSend(conn->strm_conn, kItemFetch, &p, 12, 0);
    if (code != SQLPRES_OK) {
      r = i_cs_HandleSQLPresError(conn, code, err);
    } else {
      vq::cmdseq::store_le32(p, cursor->server_cursor);
      vq::cmdseq::store_le32(p + 4,
                             static_cast<std::uint32_t>(served != 0 ? 1 : fetch->offset));
      vq::cmdseq::store_le16(p + 8, static_cast<std::uint16_t>(asked - served));
      vq::cmdseq::store_le16(
          p + 10, static_cast<std::uint16_t>(fetch->options | (served != 0 ? 2 : 0)));
      cursor->position_delta = 0;
    }
  }
  if (r != CMDSEQ_OK) return i_cs_FiniRequest(conn, i_cs_ReSyncIfProtocolError(conn, r, err));
  const std::int32_t sent_offset = served != 0 ? 1 : fetch->offset;
  a_cmdseq_return prefetch_result = CMDSEQ_OK;
  bool prefetching = false;
  if (fetch->row_count <= 1 || block) {
    fetch->offset = sent_offset;
    prefetching = i_cs_InitiatePrefetch(conn, fetch, &prefetch_result, err, 1);
  }
  if (prefetch_result != CMDSEQ_OK) return prefetch_result;
  if (!prefetching) {
    r = i_cs_SendRequest(conn, err);
    if (r != CMDSEQ_OK) return r;
  }

  std::uint32_t rows = 0;
  if ((cursor->flags_a & CS_CURSOR_A_KEEP_CURRENT) != 0 && asked - served == 1) {
    r = read_kept_row(conn, err, cursor, bound, fetch->first_row + served, &rows, &end_of_data);
  } else {
    r = read_rows(conn, err, cursor, bound, fetch->first_row + served, asked - served, &rows,
                  &end_of_data);
  }
  result = i_cs_MoreSevereError(result, r);
  if (i_cs_ReplyRead(result)) {
    // The fetch trailer.
    const a_cmdseq_return status = i_cs_ReceiveSuccessOrError(conn, err);
    if (status == CMDSEQ_ERROR && err->sqlcode == -853 &&
        cursor->saved_prefetch_error != nullptr) {
      // The prefetch failed first: its own error tells why.
      i_cs_RestoreErrorFrom(err, cursor->saved_prefetch_error);
    }
    drop_saved(cursor);
    if (i_cs_ReplyRead(status)) {
      const a_cmdseq_return info =
          read_fetch_trailer(conn, err, cursor, fetch, sent_offset, &end_of_data);
      if (info != CMDSEQ_OK) {
        result = info;
      } else {
        result = i_cs_MoreSevereError(result, status);
      }
    } else {
      result = status;
    }
  }
  if (result == CMDSEQ_CANCELLED) {
    if (conn->prefetch_cursor == cursor) {
      i_cs_FlushBuffersForCursor(cursor, false);
      conn->prefetch_cursor = nullptr;
    }
    return result;
  }
  // A prefetch sent with this fetch that the fetch's failure (or a broken reply) makes
  // useless is dropped unread, once this reply has been verified to its sync point: the
  // prefetch reply is the message after it.
  bool drop_prefetch = false;
  if (result == CMDSEQ_ERROR && !end_of_data) {
    if (conn->prefetch_cursor == cursor) {
      conn->prefetch_cursor = nullptr;
      drop_prefetch = true;
    }
    i_cs_CheckForClosedCursor(conn, cursor, err);
  } else if (!dropped) {
    cursor->flags_a |= CS_CURSOR_A_PREFETCH;
  }
  if (end_of_data && cursor->buffer != nullptr) i_cs_FlushBuffersForCursor(cursor, true);
  fetch->rows_fetched = static_cast<std::uint16_t>(served + rows);
  if (block && served + rows < asked) {
    result = i_cs_MoreSevereError(
        result,
        mark_unfilled(err, bound, fetch->first_row + served + rows, fetch->first_row + asked));
  }
  a_cmdseq_return ended = i_cs_EndRequest(conn, err, result);
  if (ended == CMDSEQ_PROTOCOL_ERROR && conn->prefetch_cursor != nullptr) {
    conn->prefetch_cursor = nullptr;
    drop_prefetch = true;
  }
  if (drop_prefetch) {
    const a_sqlpres_code code = SQLPresReSync(conn->strm_conn, 0);
    if (code != SQLPRES_OK) return i_cs_HandleSQLPresError(conn, code, err);
  }
  return ended;
}
