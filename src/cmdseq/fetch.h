// Fetch and prefetch: a prefetch request (36) rides in the packet after a fetch or an
// open, and its reply stays in the stream until the next request needs the connection
// (pre-request processing reads it into the cursor's fetch buffer) or until the cursor's
// prefetch is given up (the reply is then dropped from the stream). At most one prefetch
// is in flight per connection.
#ifndef VQ_CMDSEQ_FETCH_H
#define VQ_CMDSEQ_FETCH_H

#include <cstdint>

#include "cmdseq/cursor.h"

// Uncompressed bytes received on the stream connection so far (communication stack).
std::uint32_t StrmGetBytesRecvUncomp(a_strm_conn sconn);

struct a_cmdseq_fetch_param {
  a_cmdseq_cursor* cursor = nullptr;
  a_cmdseq_desc* bound = nullptr;    // bound columns, or null
  std::uint16_t prefetch_limit = 0;  // sent in the prefetch item when limit_on
  std::uint32_t limit_on = 0;        // the limit applies; a limit of 0 turns buffering off
  std::int32_t offset = 1;           // rows to move (1 next, 0 current); rewritten
  std::uint16_t first_row = 0;       // first value index of `bound` to fill
  std::uint16_t row_count = 0;       // rows asked (0 or 1 single-row; more: block fetch)
  std::uint32_t reread = 0;          // nonzero: never serve from buffers
  std::uint16_t options = 0;         // item 35 options; 1 and 8 force a server fetch
  std::uint32_t position = 0;        // output: information type 5, or the offset at the end
  std::uint16_t rows_fetched = 0;    // output
  std::uint32_t second = 0;          // output: information type 1
};

// Moves the cursor and delivers rows into the bound description: from the fetch buffer
// when it holds them (nothing is sent), else from the server (item 35), with a prefetch
// of the following rows in the same packet when the cursor allows it. 5 with SQLCODE 100
// at the end of the data.
a_cmdseq_return CmdSeqFetch(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                            a_cmdseq_fetch_param* fetch);
// Decides, sizes and writes a prefetch (item 36 and the sync point); true when written.
// A write failure goes to *result.
bool i_cs_InitiatePrefetch(a_cmdseq_conn* conn, a_cmdseq_fetch_param* fetch,
                           a_cmdseq_return* result, a_cmdseq_error_info* err,
                           std::uint16_t kind);
// Column entries from the result's column count and the bound description; the
// row-size estimate. 0 or 6.
a_cmdseq_return i_cs_RebuildColInfo(a_cmdseq_cursor* cursor, a_cmdseq_desc* bound);
// The row-size estimate over the buffered entries; a buffer with other columns is resized
// to the buffered column count (shrinking by quarters down to 10 rows, else freed).
void i_cs_RecomputeRowEstimate(a_cmdseq_cursor* cursor);
// Items 69, 70 with a definition or 73 per changed entry, and 0.
a_cmdseq_return i_cs_SendRowDesc(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                 a_cmdseq_cursor* cursor, a_cmdseq_desc* bound);

struct a_cmdseq_getdata_param {
  a_cmdseq_cursor* cursor = nullptr;
  std::uint16_t column = 0;                 // from 1
  std::uint32_t piece_offset = 0;           // byte offset into the value
  a_cmdseq_desc_item* value = nullptr;      // receives value 0
  std::uint32_t second = 0;                 // output: information type 1
  std::uint32_t full_length = 0;            // output: information type 2
  a_cmdseq_desc_item* companion = nullptr;  // received before the value, or null
};
// One column of the current row, from the buffer or from the server (item 38), a piece
// at a time from a byte offset for long values.
a_cmdseq_return CmdSeqGetData(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                              a_cmdseq_getdata_param* get);

// Reads the prefetch reply of `cursor` into its buffer (made for rows-asked rows when
// missing) and its trailer. Answers only 2, 6, 8 or 9 from the reply, else 0: a broken
// prefetch reply turns the cursor's prefetch off and is otherwise forgotten.
a_cmdseq_return i_cs_ReceiveFetchPendingIntoBuffers(a_cmdseq_conn* conn,
                                                    a_cmdseq_cursor* cursor,
                                                    a_cmdseq_error_info* err);
// Reads the status and information items that end a prefetch reply. A failed prefetch
// keeps its error on the cursor (saved_prefetch_error) for the fetch that reaches it.
a_cmdseq_return i_cs_ReceivePrefetchTrailer(a_cmdseq_conn* conn, a_cmdseq_cursor* cursor,
                                            a_cmdseq_error_info* err);

#endif  // VQ_CMDSEQ_FETCH_H
