// Wire values: the client's data type codes, the item code of each type in both
// directions, rows of values sent from descriptor items, and values received into them
// (NULL, unavailable values, truncation, padding and termination).
//
// Every received value is copied within its buffer: variable-length values into at most
// the item's length (a longer value is cut and reported as truncated, warning 101),
// fixed-size values only when the payload has exactly the type's size (otherwise the
// reply is a protocol error). Fixed-size types write their own size into the value's
// buffer whatever the item's length says: 1, 2, 4 or 8 bytes, or a date-time record.
#ifndef VQ_CMDSEQ_WIRE_VALUES_H
#define VQ_CMDSEQ_WIRE_VALUES_H

#include <array>
#include <cstdint>

#include "cmdseq/desc.h"
#include "cmdseq/request.h"

// The value item code of a type without one.
constexpr std::uint16_t CS_NO_VALUE_CODE = 32000;

// Special value items.
constexpr std::uint8_t CS_ITEM_NO_VALUE = 101;     // no value given / value unavailable
constexpr std::uint8_t CS_ITEM_FULL_LENGTH = 102;  // u32 full length, then the value item
constexpr std::uint8_t CS_ITEM_NULL = 103;
constexpr std::uint8_t CS_ITEM_LONG_107 = 108;  // long form of a 107 value
constexpr std::uint8_t CS_ITEM_LONG_128 = 129;  // long form of a 128 value
constexpr std::uint8_t CS_ITEM_NO_DEFINITION = 73;
constexpr std::uint8_t CS_ITEM_SECOND_NAME = 74;

// Column flags the client sets itself.
constexpr std::uint16_t CS_COL_NO_NAME = 0x0002;
constexpr std::uint16_t CS_COL_INPUT = 0x1000;

// The date-time record of type -22 in client memory: the fields of the 14-byte wire
// form (u16, u8, u8, u16, u8, u8, u8, u8, u32, little-endian) in the same order, each
// naturally aligned. The client copies them by width and does not read them.
struct a_cmdseq_datetime {
  std::uint16_t w0;   // wire offset 0
  std::uint8_t b2;    // 2
  std::uint8_t b3;    // 3
  std::uint16_t w4;   // 4
  std::uint8_t b6;    // 6
  std::uint8_t b7;    // 7
  std::uint8_t b8;    // 8
  std::uint8_t b9;    // 9
  std::uint32_t d10;  // 10
};
static_assert(sizeof(a_cmdseq_datetime) == 16, "the date-time record keeps natural alignment");
constexpr unsigned kWireDateTimeBytes = 14;

// Static tables, filled at compile time and only read.
// 1 for the variable-length types, indexed by type + 32.
extern const std::array<std::uint8_t, 133> is_var_length_array;
// Quick-receive class of each received item code: 1 copy a fixed size, 2 copy and
// report the length, 3 copy then complete the string, 0 none.
extern const std::array<std::uint8_t, 256> quick_recv1col_array;

// The value item code of each type code from -32 to 100, indexed by type + 32; 0 for
// none, and for type 9, whose code depends on its subtype.
extern const std::array<std::uint8_t, 133> value_code_array;

// Every value received or sent asks these two: they are answered from the tables.
inline bool i_cs_IsVarLengthType(std::int16_t type) {
  return type >= -32 && type <= 100 &&
         is_var_length_array[static_cast<std::size_t>(type + 32)] != 0;
}

// The value item code of a date-time type 9 of the subtype, CS_NO_VALUE_CODE for none.
std::uint16_t i_cs_GetDateTimeDUType(std::int16_t subtype);

// The value item code of a type, CS_NO_VALUE_CODE when it has none.
inline std::uint16_t i_cs_GetDescItemDUType(std::int16_t type, std::int16_t subtype) {
  if (type == 9) return i_cs_GetDateTimeDUType(subtype);
  if (type < -32 || type > 100) return CS_NO_VALUE_CODE;
  const std::uint8_t code = value_code_array[static_cast<std::size_t>(type + 32)];
  return code != 0 ? code : CS_NO_VALUE_CODE;
}

// Writes one definition item (73 for a type without one).
a_cmdseq_return i_cs_SendAppColDefn(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                    std::int16_t type, std::int16_t subtype,
                                    std::uint8_t precision, std::uint16_t scale,
                                    std::uint32_t length);
// Writes the definition of every item of a descriptor (73 for an item whose first value
// record has no data pointer); any failure makes the result 2.
a_cmdseq_return i_cs_SendColVars(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                 a_cmdseq_desc* desc);
// Writes the first value of `count` items as rows of `columns` values: an item 132
// after each row, an item 0 after the last value.
a_cmdseq_return i_cs_SendMultipleRows(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                      a_cmdseq_desc* desc, std::uint32_t columns,
                                      std::uint32_t count);

// The state of one value being received.
struct a_cmdseq_recv_state {
  a_cmdseq_desc_item* item = nullptr;
  std::uint32_t slot = 0;
  a_cs_item current;           // the value item
  std::uint32_t full = 0;      // the value's full length
  std::uint32_t received = 0;  // bytes the item carries (the announced total when long)
  std::uint32_t got = 0;       // bytes copied into the buffer
  bool have_full = false;      // an item 102 gave the full length
  bool long_open = false;      // a long item's pieces are not read yet
};

// Reads one value into value record `slot` of `item`. *end: an item 0 stood in its
// place; *end_of_data: an item 132 did.
a_cmdseq_return i_cs_ReceiveOneColumn(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                      a_cmdseq_desc_item* item, std::uint32_t slot, bool* end,
                                      bool* end_of_data);
// The quick road of a bound item: short values of the item's own code that fit are
// copied without the general receive path. Worked out once per item, used for every row.
struct a_cmdseq_quick_item {
  std::uint8_t code = 0;   // the item's value item code; 0 when it has none
  std::uint8_t quick = 0;  // quick class of that code (quick_recv1col_array), 0: no road
  std::uint8_t fixed = 0;  // bytes of a class 1 value
};
a_cmdseq_quick_item i_cs_QuickItemOf(const a_cmdseq_desc_item* item);
// Whether a short item of `code` with `n` payload bytes takes the quick road of `item`.
inline bool i_cs_QuickTakes(const a_cmdseq_quick_item& quick, const a_cmdseq_desc_item* item,
                            std::uint8_t code, std::uint32_t n) {
  return quick.quick != 0 && code == quick.code &&
         (quick.quick == 1 ? n == quick.fixed : n <= item->length);
}
// Stores a value that takes the quick road into value record `slot` of `item`: the
// indicator 0, the bytes, the length, the terminator. True when the value was truncated
// (SQLCODE 101 is then due).
bool i_cs_QuickStore(const a_cmdseq_conn* conn, const a_cmdseq_quick_item& quick,
                     a_cmdseq_desc_item* item, std::uint32_t slot, const std::uint8_t* payload,
                     std::uint32_t n);
// The general receive path: check the received item (state.current), then copy it.
a_cmdseq_return i_cs_PrepareDataItem(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                     a_cmdseq_recv_state* state);
a_cmdseq_return i_cs_GetDataItem(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                 a_cmdseq_recv_state* state);
// Terminates, pads and detects truncation of a copied value: `size` is the buffer size,
// `full` the value's full length, `got` the bytes in the buffer. Answers 1 when the value
// was truncated (*length then gets full, otherwise got).
int i_cs_CompleteCopy(const a_cmdseq_conn* conn, std::int16_t type, std::uint32_t size,
                      std::uint32_t full, std::uint32_t got, bool is_long, void* buffer,
                      std::uint32_t* length);
// Reads a set of rows of values (output parameters, multi-row replies) into a descriptor.
a_cmdseq_return i_cs_ReceiveValueSet(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                     a_cmdseq_desc* desc);
// Reads at most one value (into slot 0 of the first item), then the closing item 0.
a_cmdseq_return i_cs_ReceiveOptionalVal(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                        a_cmdseq_desc* desc);
// Reads a column description into a (chained) descriptor, then the status and the
// information items; *final gets information flag 0x01.
a_cmdseq_return i_cs_ReceiveDescribeSeq(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                        a_cmdseq_desc* desc, bool input, bool* final);
// Skips one value; with `skip_error` the error record of an end-of-data item is dropped
// instead of read into the block.
a_cmdseq_return i_cs_ThrowAwayColumn(a_cmdseq_conn* conn, a_cmdseq_error_info* err, bool* end,
                                     bool* end_of_data, bool skip_error);
// Ends a long item whose pieces were not read.
a_cmdseq_return i_cs_ThrowAwayDataItem(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                       a_cmdseq_recv_state* state);
// The buffer space a description needs (variable lengths and numeric precisions); 0 at
// the first item of a type without a bound (-1, -31, -4), else 1.
int i_cs_DescribeVarLenTotal(const a_cmdseq_desc* desc, std::uint32_t* total);

#endif  // VQ_CMDSEQ_WIRE_VALUES_H
