// Get data: one column of the cursor's current row into a caller's item, from the fetch
// buffer when it holds the whole value, else from the server (item 38), possibly a piece
// at a time from a byte offset.
#include <cstring>

#include "cmdseq/fetch.h"
#include "cmdseq/fetch_buffer.h"
#include "cmdseq/request.h"
#include "cmdseq/wire_bytes.h"
#include "cmdseq/wire_values.h"

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
  if (entry != nullptr && from_buffer(conn, err, get, *entry, &result)) return result;

  a_cmdseq_return r = i_cs_StartRequest(conn, err);
  if (r != CMDSEQ_OK) return r;
  // The rows buffered behind the current one stay: a fetch that keeps the current row
  // in the buffer is not made by this client, so get data always asks the server.
  i_cs_CancelCursorPrefetch(cursor, conn, err);
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

  // Learning: a column read in pieces, or with a companion, stops prefetching here.
  if (get->piece_offset != 0 || get->companion != nullptr) {
    cursor->flags_a |= CS_CURSOR_A_NO_PREFETCH;
  } else if (i_cs_IsVarLengthType(v->type) && v->length >= conn->fetch_budget / 16 &&
             entry != nullptr && (entry->flags & CS_COLUMN_DECIDED) == 0) {
    entry->flags |= CS_COLUMN_DECIDED;
    const a_cmdseq_desc_item* own = nullptr;
    if (cursor->own_desc != nullptr) own = CmdSeqGetDescItem(cursor->own_desc, get->column);
    const bool short_column = ((cursor->flags_b & CS_CURSOR_B_VARTOTAL) != 0 &&
                               cursor->var_length_total < conn->fetch_budget / 10) ||
                              (own != nullptr && own->type != -1 && own->type != -31 &&
                               own->type != -4 && own->length < conn->fetch_budget / 16);
    if (short_column) {
      entry->flags |= CS_COLUMN_MAY_BUFFER;
    } else {
      cursor->flags_a |= CS_CURSOR_A_NO_PREFETCH;
    }
  }
  return i_cs_EndRequest(conn, err, result);
}
