// A cursor's column entries (which columns are buffered, as which types), the row-size
// estimate that sizes prefetches, and the row description that tells the server which
// columns to send and how (items 69, 70, 73).
#include <cstring>

#include "cmdseq/fetch.h"
#include "cmdseq/fetch_buffer.h"
#include "cmdseq/request.h"
#include "cmdseq/wire_bytes.h"
#include "cmdseq/wire_values.h"
#include "utils/base/memory.h"

namespace {

constexpr std::uint8_t kItemRowDesc = 69;
constexpr std::uint8_t kItemRowColumn = 70;

bool has_value(const a_cmdseq_desc* desc, a_cmdseq_desc_item* item) {
  return desc != nullptr && desc->values_per_item != 0 && item->values()[0].data != nullptr;
}

bool is_long_type(std::int16_t type) { return type == -1 || type == -31 || type == -4; }

// Item k (from 0) of a description, or null.
a_cmdseq_desc_item* item_at(a_cmdseq_desc* desc, std::uint32_t k) {
  if (desc == nullptr || k >= desc->count) return nullptr;
  a_cmdseq_desc_item* item = desc->items;
  for (std::uint32_t i = 0; item != nullptr && i < k; ++i) item = item->next;
  return item;
}

// A column too long to buffer unasked: its declared length reaches a sixteenth of the
// budget and neither the described total nor the cursor's own description says it is
// short.
bool too_long(const a_cmdseq_cursor* cursor, const a_cmdseq_app_column& entry,
              std::uint32_t k) {
  const std::uint32_t budget = cursor->conn->fetch_budget;
  if (!i_cs_IsVarLengthType(entry.type) || entry.length < budget / 16) return false;
  if ((cursor->flags_b & CS_CURSOR_B_VARTOTAL) != 0 && cursor->var_length_total < budget / 10) {
    return false;
  }
  const a_cmdseq_desc_item* own = item_at(cursor->own_desc, k);
  if (own == nullptr) return true;
  const bool own_long = (i_cs_IsVarLengthType(own->type) && is_long_type(own->type)) ||
                        own->length >= budget / 16;
  return own_long;
}

// Estimated bytes of a value of the entry's type; `fixed_part` gets what lies out of line.
std::uint32_t estimate(const a_cmdseq_cursor* cursor, const a_cmdseq_app_column& entry,
                       std::uint32_t k) {
  switch (entry.type) {
    case -27:
    case -24:
    case 4:
    case 6:
    case 7:
      return 4;
    case -25:
    case -5:
    case 8:
      return 8;
    case -23:
    case 5:
      return 2;
    case -22:
      return 14;
    case -7:
    case -6:
      return 1;
    default:
      break;
  }
  std::uint32_t length = entry.sent_length != 0 ? entry.sent_length : entry.length;
  const a_cmdseq_desc_item* own = item_at(cursor->own_desc, k);
  if (own != nullptr) {
    if (!i_cs_IsVarLengthType(own->type)) {
      if (length > 20) length = 20;
    } else if (!is_long_type(own->type) && length > 2 * own->length) {
      length = 2 * own->length;
    }
  }
  return length;
}

}  // namespace

a_cmdseq_return i_cs_RebuildColInfo(a_cmdseq_cursor* cursor, a_cmdseq_desc* bound) {
  std::uint32_t count = cursor->result_columns;
  if (bound != nullptr) {
    std::uint32_t k = 0;
    for (a_cmdseq_desc_item* item = bound->items; item != nullptr && k < bound->count;
         item = item->next, ++k) {
      if (item->type == -27) {
        ++count;
        break;
      }
    }
  }
  if (count > 0xFFFF) count = 0xFFFF;
  if (cursor->columns == nullptr || count != cursor->entry_count) {
    std::uint32_t room = count;
    if (cursor->own_desc != nullptr && cursor->own_desc->count > room)
      room = cursor->own_desc->count;
    if (room > 0xFFFF) room = 0xFFFF;
    auto* columns = static_cast<a_cmdseq_app_column*>(
        ut_malloc((room == 0 ? 1 : room) * sizeof(a_cmdseq_app_column)));
    if (columns == nullptr) return CMDSEQ_NO_MEMORY;
    for (std::uint32_t k = 0; k < room; ++k) columns[k] = a_cmdseq_app_column{};
    ut_free(cursor->columns);
    cursor->columns = columns;
    cursor->entry_room = static_cast<std::uint16_t>(room);
    cursor->entry_count = static_cast<std::uint16_t>(count);
    cursor->flags_a |= CS_CURSOR_A_RESEND_DESC;
  }

  std::uint16_t buffered = 0;
  for (std::uint32_t k = 0; k < cursor->entry_count; ++k) {
    a_cmdseq_app_column& entry = cursor->columns[k];
    a_cmdseq_desc_item* item = item_at(bound, k);
    if (item != nullptr && has_value(bound, item)) {
      entry.flags |= CS_COLUMN_BOUND;
      entry.bound = item;
      entry.type = item->type;
      entry.scale = static_cast<std::int16_t>(item->scale);
      entry.precision = item->precision;
      entry.subtype = item->subtype;
      entry.length = item->length;
      if (entry.sent_length != item->length) {
        entry.flags |= CS_COLUMN_SEND_DEFN;
        entry.sent_length = item->length;
      }
      entry.buffer_index = static_cast<std::int16_t>(buffered++);
      continue;
    }
    entry.flags &= static_cast<std::uint8_t>(~CS_COLUMN_BOUND);
    entry.bound = nullptr;
    const bool buffer_it =
        i_cs_GetDescItemDUType(entry.type, entry.subtype) != CS_NO_VALUE_CODE &&
        (cursor->flags_a & CS_CURSOR_A_GETDATA_COLS) != 0 && !too_long(cursor, entry, k);
    if (buffer_it) {
      entry.buffer_index = static_cast<std::int16_t>(buffered++);
    } else {
      entry.buffer_index = -1;
      if (entry.sent_length != 0) {
        entry.flags |= CS_COLUMN_SEND_DEFN;
        entry.sent_length = 0;
      }
    }
  }
  cursor->flags_b &= static_cast<std::uint8_t>(~CS_CURSOR_B_DESC_CHANGED);
  cursor->buffered_columns = buffered;
  i_cs_RecomputeRowEstimate(cursor);
  return CMDSEQ_OK;
}

void i_cs_RecomputeRowEstimate(a_cmdseq_cursor* cursor) {
  const std::uint16_t buffered = cursor->buffered_columns;
  // The row-size estimate that sizes prefetches.
  std::uint64_t variable = 0;
  std::uint64_t fixed = 0;
  for (std::uint32_t k = 0; k < cursor->entry_count; ++k) {
    const a_cmdseq_app_column& entry = cursor->columns[k];
    if (entry.buffer_index < 0) continue;
    const std::uint32_t e = estimate(cursor, entry, k);
    if (entry.type == -22) {
      variable += 22;
    } else if (i_cs_IsVarLengthType(entry.type)) {
      variable += e + 8;
    } else if (e > 14) {
      variable += e + 8;
      fixed += e + 8;
    }
  }
  if ((cursor->flags_b & CS_CURSOR_B_VARTOTAL) != 0) {
    const std::uint64_t cap =
        (static_cast<std::uint64_t>(cursor->entry_count) * 10 + cursor->var_length_total) * 2 +
        100;
    if (variable > cap) variable = cap;
  }
  const std::uint64_t row =
      static_cast<std::uint64_t>(cursor->entry_count) * 16 + 12 + variable;
  cursor->row_size_est = row > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(row);
  cursor->out_of_line_est = fixed > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(fixed);

  a_cmdseq_fetch_buffer* buf = cursor->buffer;
  if (buf != nullptr && buf->columns != buffered) {
    std::uint32_t capacity = buf->capacity;
    for (;;) {
      if (i_cs_ResizeFetchBuffer(cursor, capacity, buffered)) break;
      if (cursor->buffer == nullptr || capacity * 3 / 4 <= 9) {
        i_cs_FreeAllocatedFetchBuffers(cursor);
        cursor->flags_a &= static_cast<std::uint8_t>(~CS_CURSOR_A_PREFETCH);
        break;
      }
      capacity = capacity * 3 / 4;
    }
  }
}

a_cmdseq_return i_cs_SendRowDesc(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                 a_cmdseq_cursor* cursor, a_cmdseq_desc* bound) {
  auto send = [&](a_sqlpres_code code) {
    return code == SQLPRES_OK ? CMDSEQ_OK : i_cs_HandleSQLPresError(conn, code, err);
  };
  std::uint8_t* p = nullptr;
  a_cmdseq_return r = send(SQLPresSend(conn->strm_conn, kItemRowDesc, &p, 6, 0));
  if (r != CMDSEQ_OK) return r;
  vq::cmdseq::store_le32(p, cursor->server_cursor);
  vq::cmdseq::store_le16(p + 4, 0);
  for (std::uint32_t k = 0; k < cursor->entry_count && r == CMDSEQ_OK; ++k) {
    a_cmdseq_app_column& entry = cursor->columns[k];
    const bool stale = entry.bound != nullptr && entry.bound->stamp > cursor->known_counter;
    if (!stale && (entry.flags & CS_COLUMN_SEND_DEFN) == 0) continue;
    r = send(SQLPresSend(conn->strm_conn, kItemRowColumn, &p, 2, 0));
    if (r != CMDSEQ_OK) break;
    vq::cmdseq::store_le16(p, static_cast<std::uint16_t>(k));
    if (entry.buffer_index < 0) {
      r = send(SQLPresSendCommand(conn->strm_conn, CS_ITEM_NO_DEFINITION, 0));
    } else if ((entry.flags & CS_COLUMN_BOUND) != 0 && entry.bound != nullptr) {
      r = i_cs_SendAppColDefn(conn, err, entry.bound->type, entry.bound->subtype,
                              entry.bound->precision, entry.bound->scale, entry.sent_length);
    } else if ((cursor->flags_a & CS_CURSOR_A_GETDATA_COLS) != 0) {
      r = i_cs_SendAppColDefn(conn, err, entry.type, entry.subtype,
                              static_cast<std::uint8_t>(entry.precision),
                              static_cast<std::uint16_t>(entry.scale), entry.sent_length);
    } else {
      r = send(SQLPresSendCommand(conn->strm_conn, CS_ITEM_NO_DEFINITION, 0));
    }
    entry.flags &= static_cast<std::uint8_t>(~CS_COLUMN_SEND_DEFN);
  }
  for (std::uint32_t k = cursor->entry_count; k < cursor->definitions_sent && r == CMDSEQ_OK;
       ++k) {
    r = send(SQLPresSend(conn->strm_conn, kItemRowColumn, &p, 2, 0));
    if (r == CMDSEQ_OK) {
      vq::cmdseq::store_le16(p, static_cast<std::uint16_t>(k));
      r = send(SQLPresSendCommand(conn->strm_conn, CS_ITEM_NO_DEFINITION, 0));
    }
  }
  if (r != CMDSEQ_OK) return r;
  cursor->definitions_sent = cursor->entry_count;
  if (bound != nullptr) CmdSeqMarkCursorCurrent(cursor, bound);
  cursor->flags_a &= static_cast<std::uint8_t>(~CS_CURSOR_A_RESEND_DESC);
  return send(SQLPresSendCommand(conn->strm_conn, CS_ITEM_END, 0));
}
