// Descriptor item lists: the column or parameter items the ODBC layer and the client
// exchange. An item names a data type, its buffer size and naming, and holds one value
// record per row slot directly after its header. Items live in a chain of separate
// allocations, in one contiguous block (item k found by arithmetic), or inline in the
// descriptor when there is exactly one item with one value.
//
// A descriptor keeps a change counter, advanced at most once per send cycle, so that a
// cursor can tell whether the row description it gave the server is still current.
// Item names are heap strings (ut_alloc/ut_malloc) owned by their item.
#ifndef VQ_CMDSEQ_DESC_H
#define VQ_CMDSEQ_DESC_H

#include <cstddef>
#include <cstdint>

#include "cmdseq/cmdseq_return.h"

class a_cmdseq_conn;

// One row slot of an item: where the value, its indicator and its length live.
struct a_cmdseq_value {
  void* data;               // the value's buffer (item length bytes), or null
  std::int32_t* indicator;  // 0 a value, -1 NULL, -2 a value the server could not supply
  std::uint32_t* length;    // the value's length in bytes
};

// An item's header; values_per_item value records follow it at once.
struct a_cmdseq_desc_item {
  a_cmdseq_desc_item* next;  // the next item, also in block mode; null at the end
  std::int16_t type;         // data type code; 0 for no definition
  std::uint32_t length;      // buffer size of each value, bytes
  std::uint8_t precision;
  std::uint16_t scale;      // the low byte is sent
  std::int16_t subtype;     // date-time subtype (1, 2, 3) of type 9
  char* name;               // column name, or null
  char* name2;              // second name of a description, or null
  std::uint16_t stamp;      // the change counter at the last change of this item
  std::uint16_t col_flags;  // column flags (0x0002 no name, 0x1000 input)

  a_cmdseq_value* values() {
    return reinterpret_cast<a_cmdseq_value*>(reinterpret_cast<char*>(this) +
                                             sizeof(a_cmdseq_desc_item));
  }
};
static_assert(sizeof(a_cmdseq_desc_item) % alignof(a_cmdseq_value) == 0,
              "value records follow the header without padding");

// Bytes of one item with `values` value records.
constexpr std::size_t i_cs_DescItemBytes(std::uint32_t values) {
  return sizeof(a_cmdseq_desc_item) + static_cast<std::size_t>(values) * sizeof(a_cmdseq_value);
}

// Bits of a_cmdseq_desc::flags.
constexpr std::uint8_t CS_DESC_ADVANCED = 0x01;  // the counter moved in this send cycle
constexpr std::uint8_t CS_DESC_INITIALISED = 0x02;
constexpr std::uint8_t CS_DESC_BLOCK = 0x04;     // the items are one contiguous block
constexpr std::uint8_t CS_DESC_INLINE = 0x08;    // the inline item is in use
constexpr std::uint8_t CS_DESC_RESHAPED = 0x10;  // values_per_item changed

struct a_cmdseq_desc {
  std::uint32_t count;            // number of items
  a_cmdseq_desc_item* items;      // the first item
  std::uint16_t change_counter;   // 1 after initialisation
  std::uint16_t values_per_item;  // row slots in every item
  std::uint8_t flags;             // CS_DESC_*
  alignas(a_cmdseq_desc_item) unsigned char inline_item[i_cs_DescItemBytes(1)];
};

struct a_cmdseq_app_column;
struct a_cmdseq_error_info;
struct a_cmdseq_fetch_buffer;
class a_cmdseq_shared_desc;

// The client's view of an open result set (held by value in the ODBC statement; the
// caller sets `conn`). `known_counter` is the counter value of the row description the
// cursor last sent (0: old). The state bits are CS_CURSOR_A_*, _B_*, _C_* (cursor.h).
struct a_cmdseq_cursor {
  std::uint16_t known_counter;
  a_cmdseq_conn* conn = nullptr;      // owning connection (fetch-memory counters)
  std::uint32_t server_cursor = 0;    // from the open reply
  std::uint32_t out_of_line_est = 0;  // bytes per row expected beyond inline cells
  std::int32_t row_size_est = 0;      // bytes per buffered row expected
  std::uint16_t reposition_base = 1;  // smallest forward offset the buffer can serve
  std::uint8_t flags_a = 0;
  std::uint8_t flags_b = 0;
  std::uint8_t flags_c = 0;
  std::uint16_t position_delta = 0;  // rows served locally, not yet reported
  std::uint16_t growth_multiplier = 1;
  std::uint8_t growth_period = 1;
  std::uint8_t growth_countdown = 0;
  std::uint16_t rows_received = 0;      // of the last prefetch
  std::uint16_t rows_asked = 0;         // of the last prefetch
  std::uint16_t buffered_columns = 0;   // cells per buffered row
  std::uint16_t result_columns = 0;     // from the open reply
  std::uint16_t entry_count = 0;        // entries in `columns`
  std::uint16_t entry_room = 0;         // entries allocated in `columns`
  std::uint16_t definitions_sent = 0;   // entries covered by the last row description
  std::uint32_t var_length_total = 0;   // described variable-length total
  std::uint32_t rows_consumed = 0;      // rows delivered since open
  std::uint32_t bytes_at_prefetch = 0;  // uncompressed stream bytes when the prefetch went
  std::uint32_t avg_row_bytes = 0;      // measured by the prefetch trailer
  a_cmdseq_desc* own_desc = nullptr;    // description of the result, or null
  a_cmdseq_shared_desc* shared_desc = nullptr;  // the reference behind own_desc when shared
  a_cmdseq_fetch_buffer* buffer = nullptr;
  a_cmdseq_app_column* columns = nullptr;
  std::uint32_t open_flags = 0;  // CS_OPEN_*
  a_cmdseq_error_info* saved_prefetch_error = nullptr;
};

// No items, counter 1, one value per item, flags 0x03.
void CmdSeqInitDesc(a_cmdseq_desc* desc);
// Frees existing items, then makes `count` zeroed items of `values` value records each,
// stamped with the advanced counter. 0, 6 (no memory) or 7 (the counter wrapped).
a_cmdseq_return CmdSeqAllocDescItems(a_cmdseq_desc* desc, std::uint32_t count,
                                     std::uint32_t values);
// One more zeroed item to append (values 0 counts as 1); null in block mode or when
// memory runs out. i_cs_AppendDescItem puts it at the end of the chain.
a_cmdseq_desc_item* i_cs_AllocDescItem(a_cmdseq_desc* desc, std::uint32_t values);
void i_cs_AppendDescItem(a_cmdseq_desc* desc, a_cmdseq_desc_item* item);
// Item k counted from 1 (0 gives the first); null when k exceeds count.
a_cmdseq_desc_item* CmdSeqGetDescItem(a_cmdseq_desc* desc, std::uint32_t k);
// Item k counted from 0 in a contiguous block of items of `values` records; no checks.
inline a_cmdseq_desc_item* CmdSeqFastGetDescItem(a_cmdseq_desc_item* first, std::uint32_t k,
                                                 std::uint32_t values) {
  return reinterpret_cast<a_cmdseq_desc_item*>(reinterpret_cast<char*>(first) +
                                               static_cast<std::size_t>(k) *
                                                   i_cs_DescItemBytes(values));
}
// Changes values_per_item, keeping each item's header (names included) and as many value
// records as fit; 0, or 6 with every item freed.
a_cmdseq_return CmdSeqResizeDescRows(a_cmdseq_desc* desc, std::uint32_t values);
// Frees the items and their names.
void CmdSeqFreeDescItems(a_cmdseq_desc* desc);
// Stamps an item as changed; 0, or 7 when the counter wrapped (every item then has
// stamp 1 and every description counts as changed).
a_cmdseq_return CmdSeqMarkDescItemUpdated(a_cmdseq_desc* desc, a_cmdseq_desc_item* item);
// 1 when the cursor's known counter is below the descriptor's.
int CmdSeqIsDescUpdated(const a_cmdseq_cursor* cursor, const a_cmdseq_desc* desc);
// The cursor knows the current description; the next change advances the counter.
void CmdSeqMarkCursorCurrent(a_cmdseq_cursor* cursor, a_cmdseq_desc* desc);
// The next fetch sends the row description again.
void CmdSeqMarkCursorOld(a_cmdseq_cursor* cursor);
// Writes the text into the connection's packet dump when it is at most 255 bytes long.
void CmdSeqDumpComment(a_cmdseq_conn* conn, const char* text);

#endif  // VQ_CMDSEQ_DESC_H
