// Get data: one column of the cursor's current row into a caller's item, from the fetch
// buffer when it holds the whole value, else from the server (item 38), possibly a piece
// at a time from a byte offset.
#include <cstring>

#include "cmdseq/fetch.h"
#include "cmdseq/fetch_buffer.h"
#include "cmdseq/request.h"
#include "cmdseq/wire_bytes.h"
#include "cmdseq/wire_values.h"
#include "utils/base/memory.h"

namespace {

constexpr std::uint8_t kItemGetData = 38;

bool types_match(const a_cmdseq_app_column& entry, const a_cmdseq_desc_item* item) {
  if (entry.type != item->type) return false;
  if (item->type == 2 || item->type == 3) {
    return entry.scale == static_cast<std::int16_t>(item->scale) &&
           entry.precision == item->precision;
  }
  if (item->type == 9) return entry.subtype == item->subtype;
  return true;
}

// Serves the value from the current buffered row; false when the buffer cannot.
bool from_buffer(a_cmdseq_conn* conn, a_cmdseq_error_info* err, a_cmdseq_getdata_param* get,
                 const a_cmdseq_app_column& entry, a_cmdseq_return* result) {
  a_cmdseq_cursor* cursor = get->cursor;
  a_cmdseq_desc_item* item = get->value;
  if (cursor->buffer == nullptr || cursor->buffer->count == 0 || cursor->reposition_base != 0 ||
      entry.buffer_index < 0 || !types_match(entry, item) || get->piece_offset != 0 ||
      get->companion != nullptr) {
    return false;
  }
  std::uint32_t held = 0;
  std::uint32_t full = 0;
  const std::uint8_t* data = nullptr;
  std::uint8_t flags = 0;
  if (!i_cs_GetFromCurrentRow(cursor, static_cast<std::uint32_t>(entry.buffer_index), &held,
                              &full, &data, &flags)) {
    return false;
  }
  a_cmdseq_value& v = item->values()[0];
  if ((flags & CS_CELL_NULL) != 0) {
    if (v.indicator == nullptr) {
      i_cs_SetErrorInfo(err, -181);
      *result = CMDSEQ_ERROR;
    } else {
      *v.indicator = -1;
      *result = CMDSEQ_OK;
    }
    return true;
  }
  if ((flags & CS_CELL_UNAVAILABLE) != 0) {
    i_cs_SetErrorInfo(err, 103);
    if (v.indicator != nullptr) *v.indicator = -2;
    *result = CMDSEQ_WARNING;
    return true;
  }
  const bool bounded = i_cs_IsVarLengthType(item->type) || item->type == 2 || item->type == 3;
  if (bounded && held < item->length && held < full) return false;  // only part is held
  if (v.indicator != nullptr) *v.indicator = 0;
  *result = CMDSEQ_OK;
  if (bounded) {
    const std::uint32_t n = held < item->length ? held : item->length;
    if (n != 0 && v.data != nullptr) std::memcpy(v.data, data, n);
    if (i_cs_CompleteCopy(conn, item->type, item->length, full, n, false, v.data, v.length)) {
      i_cs_SetErrorInfo(err, 101);
      *result = CMDSEQ_WARNING;
    }
  } else if (v.data != nullptr && held != 0) {
    std::memcpy(v.data, data, held);
  }
  get->full_length = full;
  return true;
}

// What a get data teaches the cursor: a column read whole and not too long joins the
// buffered row (the row description goes again with the next fetch); a column read in
// pieces, with a companion, or too long to buffer stops prefetching. 0 or 6.
a_cmdseq_return learn(a_cmdseq_conn* conn, a_cmdseq_getdata_param* get) {
  a_cmdseq_cursor* cursor = get->cursor;
  const a_cmdseq_desc_item* v = get->value;
  const std::uint32_t k = get->column - 1u;
  a_cmdseq_app_column* entry = cursor->columns != nullptr ? &cursor->columns[k] : nullptr;
  if (i_cs_IsVarLengthType(v->type) && v->length >= conn->fetch_budget / 16) {
    if (entry != nullptr && (entry->flags & CS_COLUMN_DECIDED) == 0) {
      entry->flags |= CS_COLUMN_DECIDED;
      const a_cmdseq_desc_item* own = nullptr;
      if (cursor->own_desc != nullptr) own = CmdSeqGetDescItem(cursor->own_desc, get->column);
      const bool short_column =
          ((cursor->flags_b & CS_CURSOR_B_VARTOTAL) != 0 &&
           cursor->var_length_total < conn->fetch_budget / 10) ||
          (own != nullptr && own->type != -1 && own->type != -31 && own->type != -4 &&
           own->length < conn->fetch_budget / 16);
      if (short_column) entry->flags |= CS_COLUMN_MAY_BUFFER;
    }
    if (entry == nullptr || (entry->flags & CS_COLUMN_MAY_BUFFER) == 0) {
      cursor->flags_a |= CS_CURSOR_A_NO_PREFETCH;
      return CMDSEQ_OK;
    }
  }
  if (get->piece_offset != 0 || get->companion != nullptr) {
    cursor->flags_a |= CS_CURSOR_A_NO_PREFETCH;
    return CMDSEQ_OK;
  }
  auto take_item = [&](a_cmdseq_app_column& e) {
    if (e.buffer_index < 0) {
      e.buffer_index = static_cast<std::int16_t>(cursor->buffered_columns++);
      if (e.sent_length < e.length) e.sent_length = e.length;
      e.flags |= CS_COLUMN_SEND_DEFN;
      cursor->flags_a |= CS_CURSOR_A_RESEND_DESC;
    }
    if (v->length > e.length) {
      e.length = v->length;
      e.sent_length = v->length;
      e.flags |= CS_COLUMN_SEND_DEFN;
      cursor->flags_a |= CS_CURSOR_A_RESEND_DESC;
    }
    if (!types_match(e, v)) {
      e.type = v->type;
      e.scale = static_cast<std::int16_t>(v->scale);
      e.precision = v->precision;
      e.subtype = v->subtype;
      e.flags |= CS_COLUMN_SEND_DEFN;
      cursor->flags_a |= CS_CURSOR_A_RESEND_DESC;
    }
  };
  if (cursor->columns == nullptr) {
    std::uint32_t room = cursor->entry_count;
    if (cursor->own_desc != nullptr && cursor->own_desc->count > room)
      room = cursor->own_desc->count;
    if (room > 0xFFFF) room = 0xFFFF;
    auto* columns = static_cast<a_cmdseq_app_column*>(
        ut_malloc((room == 0 ? 1 : room) * sizeof(a_cmdseq_app_column)));
    if (columns == nullptr) return CMDSEQ_NO_MEMORY;
    for (std::uint32_t i = 0; i < room; ++i) columns[i] = a_cmdseq_app_column{};
    cursor->columns = columns;
    cursor->entry_room = static_cast<std::uint16_t>(room);
    cursor->buffered_columns = 0;
    take_item(columns[k]);
    cursor->flags_a |= CS_CURSOR_A_RESEND_DESC;
  } else if ((entry->flags & CS_COLUMN_BOUND) == 0) {
    take_item(*entry);
  }
  if ((cursor->flags_a & CS_CURSOR_A_GETDATA_COLS) == 0) {
    cursor->flags_a |= CS_CURSOR_A_GETDATA_COLS;
    for (std::uint32_t i = 0; i < cursor->entry_count; ++i) {
      if ((cursor->columns[i].flags & CS_COLUMN_BOUND) == 0) {
        cursor->columns[i].flags |= CS_COLUMN_SEND_DEFN;
        cursor->flags_a |= CS_CURSOR_A_RESEND_DESC;
      }
    }
  }
  if ((cursor->flags_a & CS_CURSOR_A_RESEND_DESC) != 0) {
    if (cursor->buffer != nullptr && cursor->buffer->columns != cursor->buffered_columns) {
      i_cs_FlushBuffersForCursor(cursor, true);
    }
    i_cs_RecomputeRowEstimate(cursor);
  }
  return CMDSEQ_OK;
}

}  // namespace

a_cmdseq_return CmdSeqGetData(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                              a_cmdseq_getdata_param* get) {
  get->second = 0;
  a_cmdseq_cursor* cursor = get->cursor;
  if (cursor == nullptr || (cursor->flags_b & CS_CURSOR_B_OPEN) == 0) {
    i_cs_SetErrorInfo(err, -180);
    return CMDSEQ_ERROR;
  }
  if (get->column == 0 || get->column > cursor->entry_count || get->value == nullptr) {
    i_cs_SetErrorInfo(err, -159);
    return CMDSEQ_ERROR;
  }
  if ((conn->status & CS_STATUS_CONNECTED) == 0) return CMDSEQ_NOT_CONNECTED;
  if (conn->prefetch_cursor == cursor &&
      (cursor->buffer == nullptr || cursor->buffer->count == 0)) {
    const a_cmdseq_return r = i_cs_ReceiveFetchPendingIntoBuffers(conn, cursor, err);
    if (r != CMDSEQ_OK) return r;
  }
  a_cmdseq_app_column* entry =
      cursor->columns != nullptr ? &cursor->columns[get->column - 1] : nullptr;
  a_cmdseq_return result = CMDSEQ_OK;
  if (entry != nullptr && from_buffer(conn, err, get, *entry, &result)) {
    if (i_cs_ReplyRead(result) && learn(conn, get) != CMDSEQ_OK) {
      return i_cs_OutOfMemoryConn(conn, err);
    }
    return result;
  }

  a_cmdseq_return r = i_cs_StartRequest(conn, err);
  if (r != CMDSEQ_OK) return r;
  i_cs_CancelCursorPrefetch(cursor, conn, err);
  // From now on fetches keep the current row in the buffer, where the next get data of
  // a buffered column finds it.
  if (cursor->reposition_base != 0 ||
      (cursor->buffer != nullptr && cursor->buffer->count >= 2)) {
    i_cs_FlushBuffersForCursor(cursor, true);
    cursor->reposition_base = 0;
    cursor->flags_a |= CS_CURSOR_A_KEEP_CURRENT;
  }
  std::uint8_t* p = nullptr;
  a_sqlpres_code code = SQLPresSend(conn->strm_conn, kItemGetData, &p, 10, 0);
  if (code == SQLPRES_OK) {
    vq::cmdseq::store_le32(p, cursor->server_cursor);
    vq::cmdseq::store_le32(p + 4, get->piece_offset);
    vq::cmdseq::store_le16(p + 8, get->column);
  }
  r = code == SQLPRES_OK ? CMDSEQ_OK : i_cs_HandleSQLPresError(conn, code, err);
  const a_cmdseq_desc_item* v = get->value;
  if (r == CMDSEQ_OK)
    r = i_cs_SendAppColDefn(conn, err, v->type, v->subtype, v->precision, v->scale, v->length);
  if (r == CMDSEQ_OK) {
    const a_cmdseq_desc_item* c = get->companion;
    r = c != nullptr
            ? i_cs_SendAppColDefn(conn, err, c->type, c->subtype, c->precision, c->scale,
                                  c->length)
            : (SQLPresSendCommand(conn->strm_conn, CS_ITEM_NO_DEFINITION, 0) == SQLPRES_OK
                   ? CMDSEQ_OK
                   : CMDSEQ_NOT_CONNECTED);
  }
  if (r == CMDSEQ_OK) r = i_cs_SendRequest(conn, err);
  if (r != CMDSEQ_OK) return i_cs_FiniRequest(conn, i_cs_ReSyncIfProtocolError(conn, r, err));

  bool end = false;
  bool end_of_data = false;
  if (get->companion != nullptr) {
    r = i_cs_ReceiveOneColumn(conn, err, get->companion, 0, &end, &end_of_data);
    if (i_cs_ReplyRead(r) && end) r = i_cs_ProtocolError(conn);
  }
  a_cmdseq_return value = r;
  if (i_cs_ReplyRead(r)) {
    value = i_cs_ReceiveOneColumn(conn, err, get->value, 0, &end, &end_of_data);
    if (i_cs_ReplyRead(value) && !end) {
      a_cs_item item;
      const a_cmdseq_return closing = i_cs_ReceiveItem(conn, err, &item);
      if (closing != CMDSEQ_OK) {
        value = closing;
      } else if (item.code != CS_ITEM_END) {
        value = i_cs_ProtocolError(conn);
      }
    }
  }
  if (!i_cs_ReplyRead(value)) return i_cs_EndRequest(conn, err, value);
  const a_cmdseq_return status = i_cs_ReceiveSuccessOrError(conn, err);
  if (!i_cs_ReplyRead(status)) return i_cs_EndRequest(conn, err, status);
  std::uint32_t flags = 0;
  std::uint32_t* slots[kInfoSlots] = {};
  slots[1] = &get->second;
  slots[2] = &get->full_length;
  slots[kInfoFlagsSlot] = &flags;
  r = i_cs_ReceiveAllInfo(conn, err, slots);
  if (r != CMDSEQ_OK) return i_cs_EndRequest(conn, err, r);
  i_cs_ProcessNonZeroInfoFlags(conn, flags, &err->cursors_closed, cursor);
  result = (value == CMDSEQ_ERROR || status == CMDSEQ_OK) ? value : status;
  i_cs_CheckForClosedCursor(conn, cursor, err);

  if (i_cs_ReplyRead(result) && learn(conn, get) != CMDSEQ_OK) {
    result = i_cs_OutOfMemoryConn(conn, err);
  }
  return i_cs_EndRequest(conn, err, result);
}
