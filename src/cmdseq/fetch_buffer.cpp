// The fetch buffer (see fetch_buffer.h).
#include "cmdseq/fetch_buffer.h"

#include <cstring>

#include "cmdseq/request.h"
#include "cmdseq/wire_bytes.h"
#include "cmdseq/wire_values.h"
#include "utils/base/memory.h"

namespace {

constexpr std::uint32_t kMaxSlots = 65535;  // slot indexes are u16; the capacity ends chains
// The most bytes a buffered value keeps when its entry names no length.
constexpr std::uint32_t kUnsizedCellCap = 64 * 1024;

void charge(a_cmdseq_cursor* cursor, std::size_t bytes) {
  if (cursor->conn == nullptr) return;
  const std::uint64_t sum =
      static_cast<std::uint64_t>(cursor->conn->fetch_bytes_in_use) + bytes;
  cursor->conn->fetch_bytes_in_use =
      sum > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(sum);
}

void refund(a_cmdseq_cursor* cursor, std::size_t bytes) {
  if (cursor->conn == nullptr) return;
  std::uint32_t& in_use = cursor->conn->fetch_bytes_in_use;
  in_use = bytes >= in_use ? 0 : in_use - static_cast<std::uint32_t>(bytes);
}

std::uint8_t* slot_at(a_cmdseq_fetch_buffer* buf, std::uint32_t index) {
  return reinterpret_cast<std::uint8_t*>(buf) + sizeof(a_cmdseq_fetch_buffer) +
         static_cast<std::size_t>(index) * buf->row_size;
}

std::uint16_t next_of(const std::uint8_t* slot) {
  std::uint16_t v;
  std::memcpy(&v, slot + 4, 2);
  return v;
}

void set_next(std::uint8_t* slot, std::uint16_t v) { std::memcpy(slot + 4, &v, 2); }

std::uint8_t* cell_at(std::uint8_t* slot, std::uint32_t column) {
  return slot + kSlotHeaderBytes + static_cast<std::size_t>(column) * kCellBytes;
}

std::uint8_t* block_of(const std::uint8_t* cell) {
  std::uint8_t* block;
  std::memcpy(&block, cell, sizeof block);  // the cell is not aligned for a pointer
  return block;
}

std::uint32_t block_held(const std::uint8_t* block) {
  std::uint32_t held;
  std::memcpy(&held, block + 4, 4);
  return held;
}

// Copies `n` bytes, at most 16: the short values a cell holds are copied with a few
// overlapping loads and stores of fixed size instead of a call, and never read past
// the source's n bytes.
[[gnu::always_inline]] inline void copy_short(std::uint8_t* to, const std::uint8_t* from,
                                              std::uint32_t n) {
  if (n >= 8) {
    std::uint64_t head, tail;
    std::memcpy(&head, from, 8);
    std::memcpy(&tail, from + n - 8, 8);
    std::memcpy(to, &head, 8);
    std::memcpy(to + n - 8, &tail, 8);
  } else if (n >= 4) {
    std::uint32_t head, tail;
    std::memcpy(&head, from, 4);
    std::memcpy(&tail, from + n - 4, 4);
    std::memcpy(to, &head, 4);
    std::memcpy(to + n - 4, &tail, 4);
  } else {
    for (std::uint32_t i = 0; i < n; ++i) to[i] = from[i];
  }
}

// Frees the blocks of a slot and empties its cells.
void clear_slot(a_cmdseq_cursor* cursor, std::uint8_t* slot) {
  a_cmdseq_fetch_buffer* buf = cursor->buffer;
  for (std::uint32_t k = 0; k < buf->columns; ++k) {
    std::uint8_t* cell = cell_at(slot, k);
    if ((cell[kCellFlagsAt] & CS_CELL_OUT_OF_LINE) != 0) {
      std::uint8_t* block = block_of(cell);
      refund(cursor, kBlockHeaderBytes + block_held(block));
      ut_free(block);
    }
  }
  // Everything but the chain link: the status, the state and every cell.
  std::memset(slot, 0, 4);
  std::memset(slot + 6, 0, buf->row_size - 6);
}

// Empty buffer, every slot free: the free head is the last slot and each slot links to
// the one before it.
void reset_chains(a_cmdseq_fetch_buffer* buf) {
  buf->head = buf->tail = buf->capacity;
  buf->count = 0;
  buf->free_head = buf->capacity;
  for (std::uint32_t i = 0; i < buf->capacity; ++i) {
    set_next(slot_at(buf, i), buf->free_head);
    buf->free_head = static_cast<std::uint16_t>(i);
  }
}

// A new zeroed buffer of the given shape, charged to the budget; null when short.
a_cmdseq_fetch_buffer* make_buffer(a_cmdseq_cursor* cursor, std::uint32_t rows,
                                   std::uint32_t columns) {
  if (rows > kMaxSlots || columns > 0xFFFF) return nullptr;
  const std::size_t size = i_cs_FetchBufferBytes(rows, columns);
  auto* buf = static_cast<a_cmdseq_fetch_buffer*>(ut_calloc(size));
  if (buf == nullptr) return nullptr;
  charge(cursor, size);
  buf->capacity = static_cast<std::uint16_t>(rows);
  buf->columns = static_cast<std::uint16_t>(columns);
  buf->row_size = static_cast<std::uint32_t>(columns * kCellBytes + kSlotHeaderBytes);
  reset_chains(buf);
  return buf;
}

void drop_buffer(a_cmdseq_cursor* cursor) {
  a_cmdseq_fetch_buffer* buf = cursor->buffer;
  if (buf == nullptr) return;
  while (buf->count != 0) i_cs_ReleaseCurrentRow(cursor);
  if (buf->free_head != buf->capacity) clear_slot(cursor, slot_at(buf, buf->free_head));
  refund(cursor, i_cs_FetchBufferBytes(buf->capacity, buf->columns));
  ut_free(buf);
  cursor->buffer = nullptr;
}

// The slot the next row goes into (the free head), or null when none is free.
std::uint8_t* free_slot(a_cmdseq_fetch_buffer* buf) {
  if (buf == nullptr || buf->free_head >= buf->capacity) return nullptr;
  return slot_at(buf, buf->free_head);
}

// Links the free head's slot (`slot`) after the tail.
void link_row(a_cmdseq_fetch_buffer* buf, std::uint8_t* slot) {
  const std::uint16_t index = buf->free_head;
  buf->free_head = next_of(slot);
  set_next(slot, buf->capacity);
  if (buf->tail >= buf->capacity) {
    buf->head = index;
  } else {
    set_next(slot_at(buf, buf->tail), index);
  }
  buf->tail = index;
  ++buf->count;
}

std::uint8_t* current_slot(a_cmdseq_cursor* cursor) {
  a_cmdseq_fetch_buffer* buf = cursor->buffer;
  if (buf == nullptr || buf->count == 0 || buf->head >= buf->capacity) return nullptr;
  return slot_at(buf, buf->head);
}

void abandon_prefetch(a_cmdseq_cursor* cursor) {
  cursor->flags_a &= static_cast<std::uint8_t>(~(CS_CURSOR_A_PREFETCH | CS_CURSOR_A_GROWTH));
  cursor->flags_b |= CS_CURSOR_B_ABANDONED;
}

}  // namespace

// --- Buffer life -----------------------------------------------------------------------------

bool i_cs_CreateFetchBuffer(a_cmdseq_cursor* cursor, std::uint32_t rows,
                            std::uint32_t columns) {
  drop_buffer(cursor);
  cursor->buffer = make_buffer(cursor, rows, columns);
  return cursor->buffer != nullptr;
}

void i_cs_FreeAllocatedFetchBuffers(a_cmdseq_cursor* cursor) { drop_buffer(cursor); }

bool i_cs_ResizeFetchBuffer(a_cmdseq_cursor* cursor, std::uint32_t rows,
                            std::uint32_t columns) {
  if (rows == 0 && columns == 0) {
    drop_buffer(cursor);
    return true;
  }
  a_cmdseq_fetch_buffer* old = cursor->buffer;
  if (old == nullptr) return i_cs_CreateFetchBuffer(cursor, rows, columns);
  if (rows > kMaxSlots || columns > 0xFFFF) return false;
  if (columns != old->columns || rows < old->capacity) {
    if (old->count != 0) {
      // Rows of another shape cannot be kept; a column change gives the buffer up.
      if (columns != old->columns) drop_buffer(cursor);
      return false;
    }
    a_cmdseq_fetch_buffer* fresh = make_buffer(cursor, rows, columns);
    if (fresh == nullptr) return false;
    drop_buffer(cursor);
    cursor->buffer = fresh;
    return true;
  }
  if (rows == old->capacity) return true;

  // Growing with the same columns: the rows stay where they are, the new slots join the
  // free chain. The old capacity was the end mark of every chain and becomes the new one.
  const std::size_t old_size = i_cs_FetchBufferBytes(old->capacity, old->columns);
  const std::size_t new_size = i_cs_FetchBufferBytes(rows, columns);
  auto* buf = static_cast<a_cmdseq_fetch_buffer*>(ut_malloc(new_size));
  if (buf == nullptr) return false;
  std::memcpy(buf, old, old_size);
  std::memset(reinterpret_cast<std::uint8_t*>(buf) + old_size, 0, new_size - old_size);
  ut_free(old);
  cursor->buffer = buf;
  charge(cursor, new_size - old_size);
  const std::uint16_t old_cap = buf->capacity;
  const auto new_cap = static_cast<std::uint16_t>(rows);
  buf->capacity = new_cap;
  if (buf->head == old_cap) buf->head = new_cap;
  if (buf->tail == old_cap) buf->tail = new_cap;
  if (buf->free_head == old_cap) buf->free_head = new_cap;
  for (std::uint32_t i = 0; i < old_cap; ++i) {
    if (next_of(slot_at(buf, i)) == old_cap) set_next(slot_at(buf, i), new_cap);
  }
  for (std::uint32_t i = old_cap; i < new_cap; ++i) {
    set_next(slot_at(buf, i), buf->free_head);
    buf->free_head = static_cast<std::uint16_t>(i);
  }
  return true;
}

// --- Rows ----------------------------------------------------------------------------------

std::uint8_t* i_cs_InsertSlot(a_cmdseq_cursor* cursor) { return free_slot(cursor->buffer); }

bool i_cs_StoreCell(a_cmdseq_cursor* cursor, std::uint32_t column, const void* bytes,
                    std::uint32_t held, std::uint32_t full, std::uint8_t flags,
                    bool force_block) {
  std::uint8_t* slot = i_cs_InsertSlot(cursor);
  if (slot == nullptr || column >= cursor->buffer->columns) return false;
  std::uint8_t* cell = cell_at(slot, column);
  if ((cell[kCellFlagsAt] & CS_CELL_OUT_OF_LINE) != 0) {
    std::uint8_t* block = block_of(cell);
    refund(cursor, kBlockHeaderBytes + block_held(block));
    ut_free(block);
  }
  std::memset(cell, 0, kCellBytes);
  if (held < kCellInlineBytes + 1 && held == full && !force_block) {
    if (held != 0) std::memcpy(cell, bytes, held);
    cell[kCellLengthAt] = static_cast<std::uint8_t>(held);
    cell[kCellFlagsAt] = flags;
    return true;
  }
  auto* block = static_cast<std::uint8_t*>(ut_malloc(kBlockHeaderBytes + held));
  if (block == nullptr) return false;
  std::memcpy(block, &full, 4);
  std::memcpy(block + 4, &held, 4);
  if (held != 0) std::memcpy(block + kBlockHeaderBytes, bytes, held);
  charge(cursor, kBlockHeaderBytes + held);
  std::memcpy(cell, &block, sizeof block);
  cell[kCellFlagsAt] = static_cast<std::uint8_t>(flags | CS_CELL_OUT_OF_LINE);
  return true;
}

void i_cs_SetSlotStatus(a_cmdseq_cursor* cursor, std::int32_t sqlcode, const char* state) {
  std::uint8_t* slot = i_cs_InsertSlot(cursor);
  if (slot == nullptr) return;
  std::memcpy(slot, &sqlcode, 4);
  std::memset(slot + 6, 0, 5);
  if (state != nullptr) std::memcpy(slot + 6, state, strnlen(state, 5));
}

void i_cs_ClearInsertSlot(a_cmdseq_cursor* cursor) {
  std::uint8_t* slot = i_cs_InsertSlot(cursor);
  if (slot != nullptr) clear_slot(cursor, slot);
}

bool i_cs_CompleteRowInsert(a_cmdseq_cursor* cursor) {
  std::uint8_t* slot = free_slot(cursor->buffer);
  if (slot == nullptr) return false;
  link_row(cursor->buffer, slot);
  return true;
}

void i_cs_ReleaseCurrentRow(a_cmdseq_cursor* cursor) {
  std::uint8_t* slot = current_slot(cursor);
  if (slot == nullptr) return;
  a_cmdseq_fetch_buffer* buf = cursor->buffer;
  const std::uint16_t index = buf->head;
  buf->head = next_of(slot);
  if (--buf->count == 0) {
    buf->head = buf->tail = buf->capacity;
  } else {
    __builtin_prefetch(slot_at(buf, buf->head));  // rows are mostly read one after another
  }
  clear_slot(cursor, slot);
  set_next(slot, buf->free_head);
  buf->free_head = index;
}

bool i_cs_GetFromCurrentRow(a_cmdseq_cursor* cursor, std::uint32_t column, std::uint32_t* held,
                            std::uint32_t* full, const std::uint8_t** data,
                            std::uint8_t* flags) {
  std::uint8_t* slot = current_slot(cursor);
  if (slot == nullptr || column >= cursor->buffer->columns) return false;
  const std::uint8_t* cell = cell_at(slot, column);
  *flags = cell[kCellFlagsAt];
  if ((*flags & CS_CELL_OUT_OF_LINE) != 0) {
    const std::uint8_t* block = block_of(cell);
    std::memcpy(full, block, 4);
    *held = block_held(block);
    *data = block + kBlockHeaderBytes;
  } else {
    *held = *full = cell[kCellLengthAt];
    *data = cell;
  }
  return true;
}

a_cmdseq_return i_cs_GetCurrentRowError(a_cmdseq_cursor* cursor, a_cmdseq_error_info* err) {
  const std::uint8_t* slot = current_slot(cursor);
  if (slot == nullptr) return CMDSEQ_FAILED;
  std::int32_t sqlcode;
  std::memcpy(&sqlcode, slot, 4);
  if (sqlcode == 0) return CMDSEQ_OK;
  if (i_cs_SetErrorInfo(err, sqlcode) && slot[6] != 0) {
    std::memcpy(err->server_state, slot + 6, 5);
    err->server_state[5] = '\0';
  }
  return sqlcode > 0 ? CMDSEQ_WARNING : CMDSEQ_ERROR;
}

a_cmdseq_return i_cs_CopyBufferedRowToDesc(a_cmdseq_conn* conn, a_cmdseq_cursor* cursor,
                                           a_cmdseq_error_info* err, a_cmdseq_desc* desc,
                                           std::uint32_t row) {
  std::uint8_t* slot = current_slot(cursor);
  if (slot == nullptr) return CMDSEQ_FAILED;
  std::int32_t status;
  std::memcpy(&status, slot, 4);
  a_cmdseq_return result = CMDSEQ_OK;
  if (status == -197 || status == 100) {
    (void)i_cs_GetCurrentRowError(cursor, err);
    return status < 0 ? CMDSEQ_ERROR : CMDSEQ_WARNING;
  }
  if (status != 0) result = i_cs_GetCurrentRowError(cursor, err);
  if (desc == nullptr || row >= desc->values_per_item) return result;

  std::uint32_t k = 0;
  for (a_cmdseq_desc_item* item = desc->items; item != nullptr && k < desc->count;
       item = item->next, ++k) {
    a_cmdseq_value& v = item->values()[row];
    if (v.data == nullptr) continue;
    if (cursor->columns == nullptr || k >= cursor->entry_count ||
        cursor->columns[k].buffer_index < 0) {
      return CMDSEQ_FAILED;
    }
    // The cell, as i_cs_GetFromCurrentRow finds it, without looking for the row again.
    const auto column = static_cast<std::uint32_t>(cursor->columns[k].buffer_index);
    if (column >= cursor->buffer->columns) return CMDSEQ_FAILED;
    const std::uint8_t* cell = cell_at(slot, column);
    const std::uint8_t flags = cell[kCellFlagsAt];
    std::uint32_t held;
    std::uint32_t full;
    const std::uint8_t* data;
    if ((flags & CS_CELL_OUT_OF_LINE) != 0) {
      const std::uint8_t* block = block_of(cell);
      std::memcpy(&full, block, 4);
      held = block_held(block);
      data = block + kBlockHeaderBytes;
    } else {
      held = full = cell[kCellLengthAt];
      data = cell;
    }
    if ((flags & CS_CELL_NULL) != 0) {
      if (v.indicator == nullptr) {
        i_cs_SetErrorInfo(err, -181);
        return CMDSEQ_ERROR;
      }
      *v.indicator = -1;
      continue;
    }
    if ((flags & CS_CELL_UNAVAILABLE) != 0) {
      i_cs_SetErrorInfo(err, 103);
      result = i_cs_MoreSevereError(result, CMDSEQ_WARNING);
      if (v.indicator != nullptr) *v.indicator = -2;
      continue;
    }
    if (v.indicator != nullptr) *v.indicator = 0;
    const bool bounded = i_cs_IsVarLengthType(item->type) || item->type == -26 ||
                         item->type == 2 || item->type == 3;
    if (bounded) {
      const std::uint32_t n = held < item->length ? held : item->length;
      if (n <= 16) {
        copy_short(static_cast<std::uint8_t*>(v.data), data, n);
      } else {
        std::memcpy(v.data, data, n);
      }
      bool truncated;
      if (item->type == -21) {
        // The common text type, finished here as i_cs_CompleteCopy finishes it: a
        // terminator after the value when it fits whole with one, else in the last byte.
        auto* text = static_cast<std::uint8_t*>(v.data);
        const std::uint32_t whole = full > n ? full : n;
        truncated = whole >= item->length;
        if (!truncated) {
          text[n] = 0;
        } else if (item->length != 0) {
          text[item->length - 1] = 0;
        }
        if (v.length != nullptr) *v.length = truncated ? whole : n;
      } else {
        truncated = i_cs_CompleteCopy(conn, item->type, item->length, full, n, false, v.data,
                                      v.length) != 0;
      }
      if (truncated) {
        i_cs_SetErrorInfo(err, 101);
        result = i_cs_MoreSevereError(result, CMDSEQ_WARNING);
      }
    } else {
      // A fixed-size value is held in its native size, which its bound type shares; the
      // common sizes are copied without a call.
      switch (held) {
        case 0:
          break;
        case 4:
          std::memcpy(v.data, data, 4);
          break;
        case 8:
          std::memcpy(v.data, data, 8);
          break;
        default:
          std::memcpy(v.data, data, held);
          break;
      }
      if (v.length != nullptr) *v.length = held;
    }
  }
  return result;
}

void i_cs_FlushBuffersForCursor(a_cmdseq_cursor* cursor, bool keep_state) {
  a_cmdseq_fetch_buffer* buf = cursor->buffer;
  if (buf != nullptr && buf->count != 0) {
    const std::uint32_t released = buf->count;
    while (buf->count != 0) i_cs_ReleaseCurrentRow(cursor);
    if (released > 1 || !keep_state) abandon_prefetch(cursor);
  }
  cursor->flags_b &= static_cast<std::uint8_t>(~CS_CURSOR_B_END_BEHIND);
}

// --- Reading a row ------------------------------------------------------------------------

namespace {

// Skips the rest of the reply's items up to its end item.
a_cmdseq_return throw_away_rest(a_cmdseq_conn* conn, a_cmdseq_error_info* err) {
  for (;;) {
    bool end = false;
    bool end_of_data = false;
    const a_cmdseq_return result = i_cs_ThrowAwayColumn(conn, err, &end, &end_of_data, true);
    if (result != CMDSEQ_OK) return result;
    if (end) return CMDSEQ_OK;
  }
}

a_cmdseq_return skip_long(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                          const a_cs_item& item) {
  if (!item.is_long()) return CMDSEQ_OK;
  std::uint32_t total = 0;
  a_sqlpres_code pc = SQLPresReceiveBegin(conn->strm_conn, &total);
  if (pc == SQLPRES_OK) pc = SQLPresReceiveEnd(conn->strm_conn);
  return pc == SQLPRES_OK ? CMDSEQ_OK : i_cs_HandleSQLPresError(conn, pc, err);
}

// The row status of an end-of-row item: its error record when the flag byte says one
// follows.
a_cmdseq_return row_status(a_cmdseq_conn* conn, const a_cs_item& item, std::int32_t* sqlcode,
                           char state[6]) {
  const std::uint8_t flag = item.payload_bytes() != 0 ? item.payload[0] : 0;
  if (flag == 0) {  // nearly every row: no record follows
    *sqlcode = 0;
    std::memset(state, 0, 6);
    return CMDSEQ_OK;
  }
  a_cmdseq_error_info scratch;
  CmdSeqInitErrorParam(conn->env, &scratch, 0);
  const a_cmdseq_return result = i_cs_ProcessEndData(flag, &scratch, conn);
  *sqlcode = scratch.sqlcode;
  std::memcpy(state, scratch.server_state, 6);
  CmdSeqFiniErrorParam(&scratch);
  return result;
}

// The bytes a received value of the entry's type takes in a cell before the cap.
std::uint32_t native_size(std::int16_t type) {
  switch (type) {
    case -7:
    case -6:
      return 1;
    case -23:
    case 5:
      return 2;
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
    case -22:
      return sizeof(a_cmdseq_datetime);
    default:
      return 0;
  }
}

// Stores a short value item of the entry's own type straight in cell `cell` of the
// insert slot (which is empty) when the general reader below would keep it inline too: a
// NULL, a value the server could not supply, a fixed-size value of its exact size, or a
// variable-length value of at most 14 bytes that fits the entry's length. False leaves
// the item to the general reader, which also reports what is wrong with it.
[[gnu::always_inline]] inline bool store_short_value(const a_cmdseq_fetch_buffer* buf,
                                                     std::uint8_t* slot,
                                                     const a_cmdseq_app_column& entry,
                                                     std::uint32_t cell, const a_cs_item& item) {
  if (cell >= buf->columns) return false;
  std::uint8_t* at = cell_at(slot, cell);
  if (item.code == CS_ITEM_NULL || item.code == CS_ITEM_NO_VALUE) {
    at[kCellFlagsAt] = item.code == CS_ITEM_NULL ? CS_CELL_NULL : CS_CELL_UNAVAILABLE;
    return true;
  }
  if (item.length > SQLPRES_MAX_SHORT_PAYLOAD ||
      item.code != i_cs_GetDescItemDUType(entry.type, entry.subtype)) {
    return false;
  }
  const std::uint32_t n = item.payload_bytes();
  switch (quick_recv1col_array[item.code]) {
    case 1: {  // fixed size; the date-time record always takes a block
      if (item.code == 120 || n != native_size(entry.type)) return false;
      switch (n) {
        case 1:
          at[0] = item.payload[0];
          break;
        case 2: {
          const std::uint16_t v = vq::cmdseq::load_le16(item.payload);
          std::memcpy(at, &v, 2);
          break;
        }
        case 4: {
          const std::uint32_t v = vq::cmdseq::load_le32(item.payload);
          std::memcpy(at, &v, 4);
          break;
        }
        case 8: {
          const std::uint64_t v = vq::cmdseq::load_le64(item.payload);
          std::memcpy(at, &v, 8);
          break;
        }
        default:
          return false;
      }
      break;
    }
    case 2:
    case 3: {
      std::uint32_t cap = entry.sent_length != 0 ? entry.sent_length : entry.length;
      if (cap == 0) cap = kUnsizedCellCap;
      if (n > kCellInlineBytes || n > cap) return false;
      static_assert(kCellInlineBytes <= 16, "copy_short takes at most 16 bytes");
      copy_short(at, item.payload, n);
      break;
    }
    default:
      return false;
  }
  at[kCellLengthAt] = static_cast<std::uint8_t>(n);
  return true;
}

// Reads one value item (already received as `first`) of entry `entry` into cell
// `cell`. *stored is false when the block could not be allocated.
a_cmdseq_return read_value(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                           a_cmdseq_cursor* cursor, const a_cmdseq_app_column& entry,
                           std::uint32_t cell, const a_cs_item& first, bool* stored) {
  *stored = true;
  alignas(a_cmdseq_desc_item) unsigned char storage[i_cs_DescItemBytes(1)] = {};
  auto* item = reinterpret_cast<a_cmdseq_desc_item*>(storage);
  item->type = entry.type;
  item->subtype = entry.subtype;
  item->precision = static_cast<std::uint8_t>(entry.precision);
  item->scale = static_cast<std::uint16_t>(entry.scale);
  // A buffered value never holds more than the length the entry asked the server for.
  std::uint32_t cap = entry.sent_length != 0 ? entry.sent_length : entry.length;
  if (cap == 0) cap = kUnsizedCellCap;
  item->length = cap;
  std::uint32_t length_out = 0;
  a_cmdseq_value& v = item->values()[0];
  v.length = &length_out;

  a_cmdseq_recv_state state;
  state.item = item;
  state.current = first;
  a_cmdseq_return result = i_cs_PrepareDataItem(conn, err, &state);
  if (result != CMDSEQ_OK) return result;
  const std::uint8_t code = state.current.code;
  if (code == CS_ITEM_NULL || code == CS_ITEM_NO_VALUE) {
    const std::uint8_t flags = code == CS_ITEM_NULL ? CS_CELL_NULL : CS_CELL_UNAVAILABLE;
    i_cs_StoreCell(cursor, cell, nullptr, 0, 0, flags);
    return CMDSEQ_OK;
  }
  const std::uint32_t fixed = native_size(entry.type);
  std::uint32_t room = fixed != 0 ? fixed : (state.received < cap ? state.received : cap);
  if (room == 0) room = 1;
  std::uint8_t local[16];
  std::uint8_t* scratch = local;
  if (room > sizeof local) {
    scratch = static_cast<std::uint8_t*>(ut_malloc(room));
    if (scratch == nullptr) {
      *stored = false;
      return i_cs_ThrowAwayDataItem(conn, err, &state);
    }
  }
  v.data = scratch;
  result = i_cs_GetDataItem(conn, err, &state);
  if (result == CMDSEQ_OK) {
    const std::uint32_t held = fixed != 0 ? fixed : state.got;
    const std::uint32_t full = fixed != 0 ? fixed : (state.full > held ? state.full : held);
    const std::uint8_t flags = full > held ? CS_CELL_PARTIAL : 0;
    *stored = i_cs_StoreCell(cursor, cell, scratch, held, full, flags,
                             code == 120 /* the date-time record always gets a block */);
  }
  if (scratch != local) ut_free(scratch);
  return result;
}

}  // namespace

namespace {

// Rows wider than this are always read item by item.
constexpr std::uint32_t kMostPeekedColumns = 32;

// Takes a whole row in one look when the current packet holds it as short items that all
// go the short road, followed by an end-of-row item without a record; true when the row
// was inserted. Otherwise nothing is read and the general reader takes the row.
bool take_short_row(a_cmdseq_conn* conn, a_cmdseq_cursor* cursor) {
  a_cmdseq_fetch_buffer* buf = cursor->buffer;
  const std::uint32_t columns = cursor->buffered_columns;
  if (buf == nullptr || columns == 0 || columns > kMostPeekedColumns ||
      buf->columns != columns) {
    return false;
  }
  std::uint8_t* const slot = free_slot(buf);
  if (slot == nullptr) return false;
  a_sqlpres_item items[kMostPeekedColumns + 1];
  std::uint32_t ends[kMostPeekedColumns + 1];
  if (SQLPresPeekShortItems(conn->strm_conn, items, columns + 1, ends) != columns + 1)
    return false;
  const a_sqlpres_item& row_end = items[columns];
  if (row_end.code != CS_ITEM_END_OF_DATA || (row_end.payload != nullptr && row_end.payload[0] != 0))
    return false;
  clear_slot(cursor, slot);
  std::uint32_t used = 0;
  for (std::uint32_t k = 0; k < cursor->entry_count; ++k) {
    const a_cmdseq_app_column& entry = cursor->columns[k];
    if (entry.buffer_index < 0) continue;
    if (used == columns) {  // more buffered entries than cells: the general reader decides
      used = columns + 1;
      break;
    }
    a_cs_item item;
    item.code = items[used].code;
    item.length = items[used].length;
    item.payload = items[used].payload;
    if (!store_short_value(buf, slot, entry, static_cast<std::uint32_t>(entry.buffer_index),
                           item)) {
      break;
    }
    ++used;
  }
  if (used != columns || SQLPresSkipShortItems(conn->strm_conn, ends[columns]) != SQLPRES_OK) {
    clear_slot(cursor, slot);
    return false;
  }
  link_row(buf, slot);
  ++cursor->rows_received;
  return true;
}

}  // namespace

a_cmdseq_return i_cs_ReceiveRowIntoBuffer(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                          a_cmdseq_cursor* cursor, bool* end, bool* inserted) {
  *end = false;
  *inserted = false;
  if (take_short_row(conn, cursor)) {
    *inserted = true;
    return CMDSEQ_OK;
  }
  a_cs_item item;
  a_cmdseq_return result = i_cs_ReceiveItem(conn, err, &item);
  if (result != CMDSEQ_OK) return result;
  if (item.code == CS_ITEM_END) {
    *end = true;
    return CMDSEQ_OK;
  }
  std::uint8_t* const slot = i_cs_InsertSlot(cursor);
  if (slot == nullptr) {
    cursor->flags_b |= CS_CURSOR_B_ROW_FAILED;
    abandon_prefetch(cursor);
    result = skip_long(conn, err, item);
    if (result == CMDSEQ_OK) result = throw_away_rest(conn, err);
    *end = result == CMDSEQ_OK;
    return result;
  }
  if (cursor->buffer->columns != cursor->buffered_columns) {
    cursor->flags_b |= CS_CURSOR_B_ROW_FAILED;
    i_cs_FreeAllocatedFetchBuffers(cursor);
    return CMDSEQ_FAILED;
  }
  clear_slot(cursor, slot);

  std::int32_t sqlcode = 0;
  char state[6] = {};
  auto finish_end_row = [&](bool insert_missing_row) -> a_cmdseq_return {
    a_cmdseq_return r = row_status(conn, item, &sqlcode, state);
    if (r != CMDSEQ_OK) {
      i_cs_ClearInsertSlot(cursor);
      cursor->flags_b |= CS_CURSOR_B_ROW_FAILED;
      return r;
    }
    if (sqlcode == -197 || (insert_missing_row && sqlcode == 100)) {
      i_cs_ClearInsertSlot(cursor);
      i_cs_SetSlotStatus(cursor, sqlcode, state);
      i_cs_CompleteRowInsert(cursor);
      *inserted = true;
      if (cursor->buffer->count == 1) (void)i_cs_GetCurrentRowError(cursor, err);
      r = i_cs_ReceiveItem(conn, err, &item);
      if (r != CMDSEQ_OK) return r;
      if (item.code != CS_ITEM_END) return i_cs_ProtocolError(conn);
      *end = true;
      if (!insert_missing_row) cursor->flags_b |= CS_CURSOR_B_ROW_FAILED;
      return sqlcode < 0 ? CMDSEQ_ERROR : CMDSEQ_WARNING;
    }
    i_cs_ClearInsertSlot(cursor);
    cursor->flags_b |= CS_CURSOR_B_ROW_FAILED;
    return CMDSEQ_OK;
  };

  if (item.code == CS_ITEM_END_OF_DATA) return finish_end_row(true);

  // One value item per buffered entry, in entry order.
  bool first = true;
  for (std::uint32_t k = 0; k < cursor->entry_count; ++k) {
    const a_cmdseq_app_column& entry = cursor->columns[k];
    if (entry.buffer_index < 0) continue;
    if (!first) {
      result = i_cs_ReceiveItem(conn, err, &item);
      if (result != CMDSEQ_OK) break;
    }
    first = false;
    if (item.code == CS_ITEM_END_OF_DATA) return finish_end_row(false);
    if (item.code == CS_ITEM_END) {
      i_cs_ClearInsertSlot(cursor);
      return i_cs_ProtocolError(conn);
    }
    if (store_short_value(cursor->buffer, slot, entry,
                          static_cast<std::uint32_t>(entry.buffer_index), item)) {
      continue;
    }
    bool stored = true;
    result = read_value(conn, err, cursor, entry,
                        static_cast<std::uint32_t>(entry.buffer_index), item, &stored);
    if (result != CMDSEQ_OK) break;
    if (!stored) {
      i_cs_ClearInsertSlot(cursor);
      cursor->flags_b |= CS_CURSOR_B_ROW_FAILED;
      abandon_prefetch(cursor);
      result = throw_away_rest(conn, err);
      *end = result == CMDSEQ_OK;
      return result;
    }
  }
  if (result != CMDSEQ_OK) {
    i_cs_ClearInsertSlot(cursor);
    cursor->flags_b |= CS_CURSOR_B_ROW_FAILED;
    return result;
  }
  if (!first) {
    result = i_cs_ReceiveItem(conn, err, &item);
    if (result != CMDSEQ_OK) {
      i_cs_ClearInsertSlot(cursor);
      cursor->flags_b |= CS_CURSOR_B_ROW_FAILED;
      return result;
    }
  }
  if (item.code != CS_ITEM_END_OF_DATA) {
    i_cs_ClearInsertSlot(cursor);
    return i_cs_ProtocolError(conn);
  }
  result = row_status(conn, item, &sqlcode, state);
  if (result != CMDSEQ_OK) {
    i_cs_ClearInsertSlot(cursor);
    cursor->flags_b |= CS_CURSOR_B_ROW_FAILED;
    return result;
  }
  // The slot's status starts out clear: only a status of its own is written.
  if (sqlcode != 0 || state[0] != '\0') i_cs_SetSlotStatus(cursor, sqlcode, state);
  i_cs_CompleteRowInsert(cursor);
  *inserted = true;
  ++cursor->rows_received;
  return CMDSEQ_OK;
}
