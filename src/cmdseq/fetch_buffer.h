// A cursor's fetch buffer: rows that arrived before the application asked for them,
// held in a fixed array of row slots with one 16-byte cell per buffered column. Short
// values live inside the cell, longer ones in separately allocated blocks. Every byte of
// the buffer and of its blocks counts against the connection's fetch-memory budget
// (fetch_bytes_in_use), and is given back when released.
//
// Layout (one allocation): a 16-byte header, then `capacity` slots of `row_size` bytes.
//   slot:  i32 row status SQLCODE | u16 next slot (capacity ends a chain) |
//          5-byte server SQLSTATE | 1 spare byte | one cell per column
//   cell:  bytes 0..13 the inline value, or bytes 0..7 the address of an out-of-line
//          block | byte 14 inline length | byte 15 CS_CELL_* flags
//   block: u32 full length | u32 bytes held | the bytes held
// Cells sit at offset 12 + 16k of a slot and are not aligned for a pointer: the block
// address is copied in and out with memcpy. Filled slots form a chain from head to tail
// in arrival order; free slots a second chain from the free head.
#ifndef VQ_CMDSEQ_FETCH_BUFFER_H
#define VQ_CMDSEQ_FETCH_BUFFER_H

#include <cstddef>
#include <cstdint>

#include "cmdseq/cursor.h"

struct a_cmdseq_fetch_buffer {
  std::uint16_t head;       // slot of the current (oldest) row; capacity when empty
  std::uint16_t tail;       // slot of the newest row; capacity when empty
  std::uint16_t free_head;  // first free slot; capacity when none is free
  std::uint16_t capacity;   // row slots
  std::uint16_t count;      // rows held
  std::uint16_t columns;    // cells per row
  std::uint32_t row_size;   // bytes per slot: columns * 16 + 12
};
static_assert(sizeof(a_cmdseq_fetch_buffer) == 16, "the buffer header is 16 bytes");

constexpr std::size_t kSlotHeaderBytes = 4 + 2 + 5 + 1;  // status, next, state, spare
static_assert(kSlotHeaderBytes == 12, "cells start 12 bytes into a slot");
constexpr std::size_t kCellBytes = 16;
constexpr std::size_t kCellInlineBytes = 14;  // longest value held inside a cell
constexpr std::size_t kCellLengthAt = 14;
constexpr std::size_t kCellFlagsAt = 15;
constexpr std::size_t kBlockHeaderBytes = 4 + 4;  // full length, bytes held
static_assert(sizeof(void*) <= kCellInlineBytes, "a block address fits in the cell");

// Cell flags.
constexpr std::uint8_t CS_CELL_NULL = 0x01;
constexpr std::uint8_t CS_CELL_OUT_OF_LINE = 0x02;
constexpr std::uint8_t CS_CELL_UNAVAILABLE = 0x08;  // the value arrived as item 101
constexpr std::uint8_t CS_CELL_PARTIAL = 0x10;      // a truncation item followed the value

// Bytes of a buffer of `rows` slots of `columns` cells.
constexpr std::size_t i_cs_FetchBufferBytes(std::uint32_t rows, std::uint32_t columns) {
  return sizeof(a_cmdseq_fetch_buffer) +
         static_cast<std::size_t>(rows) * (columns * kCellBytes + kSlotHeaderBytes);
}

// Makes the cursor's buffer; false when memory is short (the cursor keeps none).
bool i_cs_CreateFetchBuffer(a_cmdseq_cursor* cursor, std::uint32_t rows, std::uint32_t columns);
// Resizes (or makes, or with 0 and 0 frees) the buffer. Growing keeps the rows; shrinking
// or changing the columns is refused while rows are held (a refused column change frees
// the buffer). False on refusal or when memory is short.
bool i_cs_ResizeFetchBuffer(a_cmdseq_cursor* cursor, std::uint32_t rows, std::uint32_t columns);
// Frees the buffer and every block of its rows.
void i_cs_FreeAllocatedFetchBuffers(a_cmdseq_cursor* cursor);

// The slot the next row is read into (the free head), or null when none is free. Its
// cells are empty.
std::uint8_t* i_cs_InsertSlot(a_cmdseq_cursor* cursor);
// Stores one value in cell `column` of the insert slot: inline when `held` is below 15,
// equals `full` and `force_block` is false; otherwise in a block of `held` bytes, which
// costs 8 + held bytes of the budget. False when the block cannot be allocated.
bool i_cs_StoreCell(a_cmdseq_cursor* cursor, std::uint32_t column, const void* bytes,
                    std::uint32_t held, std::uint32_t full, std::uint8_t flags,
                    bool force_block = false);
// Sets the status of the insert slot.
void i_cs_SetSlotStatus(a_cmdseq_cursor* cursor, std::int32_t sqlcode, const char* state);
// Frees the blocks of the insert slot and clears its cells.
void i_cs_ClearInsertSlot(a_cmdseq_cursor* cursor);
// Links the insert slot after the tail; false when no slot is free.
bool i_cs_CompleteRowInsert(a_cmdseq_cursor* cursor);
// Drops the current row (its blocks go back to the budget).
void i_cs_ReleaseCurrentRow(a_cmdseq_cursor* cursor);

// Cell `column` of the current row: bytes held, full length, data and flags. False when
// there is no current row or the column is beyond the buffer's columns.
bool i_cs_GetFromCurrentRow(a_cmdseq_cursor* cursor, std::uint32_t column, std::uint32_t* held,
                            std::uint32_t* full, const std::uint8_t** data,
                            std::uint8_t* flags);
// The current row's status: 1 without a row, 0 for a good row, else 4/5 with the status
// in the block.
a_cmdseq_return i_cs_GetCurrentRowError(a_cmdseq_cursor* cursor, a_cmdseq_error_info* err);
// Copies the current row into value record `row` of the description (item k is column
// k). 1 without a current row.
a_cmdseq_return i_cs_CopyBufferedRowToDesc(a_cmdseq_conn* conn, a_cmdseq_cursor* cursor,
                                           a_cmdseq_error_info* err, a_cmdseq_desc* desc,
                                           std::uint32_t row);
// Releases every buffered row. The prefetch counts as abandoned when more than one row
// went or `keep_state` is false; the end-behind mark always goes.
void i_cs_FlushBuffersForCursor(a_cmdseq_cursor* cursor, bool keep_state);

// Reads one row of a reply into the insert slot (see fetch_buffer.cpp for the grammar).
// *end: the reply's end item was read; *inserted: a row was added.
a_cmdseq_return i_cs_ReceiveRowIntoBuffer(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                          a_cmdseq_cursor* cursor, bool* end, bool* inserted);

#endif  // VQ_CMDSEQ_FETCH_BUFFER_H
