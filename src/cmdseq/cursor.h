// Cursors of the command-sequence client: the state bits of a cursor, its column entries,
// the connection's cursor and flush-buffers lists, and the requests that open, close and
// write through a cursor. The cursor record itself is in desc.h.
//
// A cursor is open (CS_CURSOR_B_OPEN) exactly while it is on its connection's cursor
// list, which points at the caller's cursor record: a record that goes away while open
// must be taken off first (close, or i_cs_RemoveCursor). One thread at a time works on a
// connection and its cursors.
#ifndef VQ_CMDSEQ_CURSOR_H
#define VQ_CMDSEQ_CURSOR_H

#include <cstdint>

#include "cmdseq/client.h"
#include "cmdseq/desc.h"
#include "cmdseq/error_info.h"

struct a_cmdseq_stmt_handle;

// State bits A.
constexpr std::uint8_t CS_CURSOR_A_KEEP_CURRENT = 0x01;   // rows pass through the buffer
constexpr std::uint8_t CS_CURSOR_A_GETDATA_COLS = 0x02;   // get-data columns are in the row
constexpr std::uint8_t CS_CURSOR_A_PREFETCH = 0x04;       // prefetch allowed
constexpr std::uint8_t CS_CURSOR_A_GROWTH = 0x08;         // prefetch size grows
constexpr std::uint8_t CS_CURSOR_A_NO_PREFETCH = 0x10;    // never prefetch this cursor
constexpr std::uint8_t CS_CURSOR_A_DELTA_TO_SEND = 0x20;  // position delta to send
constexpr std::uint8_t CS_CURSOR_A_RESEND_DESC = 0x40;    // row description must go again
constexpr std::uint8_t CS_CURSOR_A_END_REACHED = 0x80;
// State bits B.
constexpr std::uint8_t CS_CURSOR_B_END_BEHIND = 0x01;  // end found behind the buffered rows
constexpr std::uint8_t CS_CURSOR_B_ROW_FAILED = 0x02;  // a row failed while being read
constexpr std::uint8_t CS_CURSOR_B_ABANDONED = 0x04;   // prefetch abandoned
constexpr std::uint8_t CS_CURSOR_B_OPEN = 0x08;
constexpr std::uint8_t CS_CURSOR_B_COMPLETE = 0x10;  // last prefetch brought all rows asked
constexpr std::uint8_t CS_CURSOR_B_DESC_CHANGED = 0x20;
constexpr std::uint8_t CS_CURSOR_B_VARTOTAL = 0x40;  // described variable-length total known
constexpr std::uint8_t CS_CURSOR_B_NONE_YET = 0x80;  // no row fetched yet
// State bits C.
constexpr std::uint8_t CS_CURSOR_C_FIRST_FETCH = 0x01;  // first fetch without buffer
constexpr std::uint8_t CS_CURSOR_C_OWN_DESC = 0x02;     // own description allocated here

// Open flags (open options, then the open reply's information type 16).
constexpr std::uint32_t CS_OPEN_CLOSE_OPEN = 0x1;  // closed by information flag 0x10
constexpr std::uint32_t CS_OPEN_NO_PREFETCH = 0x4;
constexpr std::uint32_t CS_OPEN_FORWARD_ONLY = 16384;
constexpr std::uint32_t CS_OPEN_CLOSE_BY_NAME = 1048576;  // close by name in close mode 1

// One column entry of a cursor: which columns are buffered and as which types.
struct a_cmdseq_app_column {
  std::int16_t type = 0;  // application type
  std::int16_t scale = 0;
  std::int16_t precision = 0;
  std::int16_t subtype = 0;             // fourth type field (date-time subtype of type 9)
  std::uint32_t length = 0;             // declared length
  std::uint32_t sent_length = 0;        // length last sent to the server
  std::int16_t buffer_index = -1;       // cell of the column in a buffered row; -1: none
  std::uint8_t flags = 1;               // CS_COLUMN_*
  a_cmdseq_desc_item* bound = nullptr;  // the bound description item, or null
};
constexpr std::uint8_t CS_COLUMN_SEND_DEFN = 0x01;  // definition must be sent again
constexpr std::uint8_t CS_COLUMN_BOUND = 0x02;      // bound through the application description
constexpr std::uint8_t CS_COLUMN_MAY_BUFFER = 0x04;  // get-data decision: may be buffered
constexpr std::uint8_t CS_COLUMN_DECIDED = 0x08;     // get-data decision made

struct a_cmdseq_cursor_node {
  a_cmdseq_cursor_node* next;
  a_cmdseq_cursor* cursor;
};
struct a_cmdseq_flush_node {
  a_cmdseq_flush_node* next;
  std::uint32_t server_cursor;
};

// --- Cursor bookkeeping (cursor.cpp) -----------------------------------------------------

// Puts the cursor at the head of the list; false when memory is short.
bool i_cs_AddCursor(a_cmdseq_conn* conn, a_cmdseq_cursor* cursor);
// Takes the cursor off the list (a prefetch in flight for it is dropped from the
// stream), frees its fetch data and marks it closed.
void i_cs_RemoveCursor(a_cmdseq_conn* conn, a_cmdseq_cursor* cursor);
// Forgets a cursor the server closed (SQLCODE -180 in the block).
void i_cs_CheckForClosedCursor(a_cmdseq_conn* conn, a_cmdseq_cursor* cursor,
                               a_cmdseq_error_info* err);
// The flush-buffers list: handles whose buffered rows are stale. No duplicates.
bool i_cs_InsertFlushBuffersList(a_cmdseq_conn* conn, std::uint32_t server_cursor);
// True when the handle was on the list.
bool i_cs_RemoveFlushBuffersList(a_cmdseq_conn* conn, std::uint32_t server_cursor);
// Frees the buffer, the column entries, the own description and the saved error.
void i_cs_FreeAllFetchData(a_cmdseq_cursor* cursor);
// Frees every cursor node (with the cursor's fetch data) and every flush node.
void i_cs_FreeCursorLists(a_cmdseq_conn* conn);
// Sets the cursor's own description to a shared one (a reference is taken) or to null.
void i_cs_SetCursorSharedDesc(a_cmdseq_cursor* cursor, a_cmdseq_shared_desc* shared);

// --- Cursor requests (cursor_requests.cpp) ------------------------------------------------

struct a_cmdseq_open_param;
struct a_cmdseq_describe_param;

struct a_cmdseq_close_param {
  const char* cursor_name = nullptr;
  a_cmdseq_cursor* cursor = nullptr;
};
struct a_cmdseq_put_param {
  a_cmdseq_cursor* cursor = nullptr;
  a_cmdseq_desc* rows_desc = nullptr;  // the rows' values
  a_cmdseq_desc* colvars = nullptr;    // column variables, or null
  std::uint16_t rows = 0;
  std::uint32_t info2 = 0;  // outputs: information types 2, 1 and 23
  std::uint32_t info1 = 0;
  std::uint32_t info23 = 0;
};
struct a_cmdseq_update_param {
  a_cmdseq_cursor* cursor = nullptr;
  a_cmdseq_desc* row_desc = nullptr;  // one row of values
  std::uint32_t info2 = 0;            // outputs: information types 2 and 1
  std::uint32_t info1 = 0;
};
struct a_cmdseq_delete_param {
  a_cmdseq_cursor* cursor = nullptr;
  const char* table = nullptr;        // or null
  const char* correlation = nullptr;  // or null
  std::uint32_t info2 = 0;            // outputs: information types 2 and 1
  std::uint32_t info1 = 0;
};
struct a_cmdseq_resume_param {
  a_cmdseq_cursor* cursor = nullptr;
  std::uint32_t result_columns = 0;  // output: information type 6
  std::uint32_t info2 = 0;           // output: information type 2 (starts at -1)
};
struct a_cmdseq_explain_param {
  a_cmdseq_cursor* cursor = nullptr;
  a_cmdseq_desc* plan = nullptr;  // one item, one value: receives the plan text
  std::uint32_t info3 = 0;
};

// Opens the cursor of the open record's statement (prepared or validated first when
// needed). With a bound description and rows, a prefetch of the first rows joins the open
// in the same packet when the cursor and the server allow it.
a_cmdseq_return CmdSeqOpenCursorPrefetch(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                         a_cmdseq_open_param* open, a_cmdseq_desc* bound,
                                         std::uint16_t rows);
a_cmdseq_return CmdSeqCloseCursorCommit(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                        a_cmdseq_close_param* close,
                                        std::uint32_t* commit_result);
a_cmdseq_return CmdSeqCloseCursor(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                  a_cmdseq_close_param* close);
// Queues item 48 (no reply of its own; sent again after a cancel).
a_cmdseq_return i_cs_CloseCursorByName(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                       const char* name);
a_cmdseq_return CmdSeqDescribeCursor(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                     a_cmdseq_cursor* cursor,
                                     a_cmdseq_describe_param* describe);
a_cmdseq_return CmdSeqResume(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                             a_cmdseq_resume_param* resume);
a_cmdseq_return CmdSeqPut(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                          a_cmdseq_put_param* put);
a_cmdseq_return CmdSeqUpdate(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                             a_cmdseq_update_param* update);
a_cmdseq_return CmdSeqDelete(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                             a_cmdseq_delete_param* del);
a_cmdseq_return CmdSeqExplain(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                              a_cmdseq_explain_param* explain);

// --- Prefetch in flight (cursor.cpp) -------------------------------------------------------

// With null clears the pending cursor; otherwise sets it only when none is pending and
// answers whether it did.
bool i_cs_SetPrefetchPendingCursor(a_cmdseq_conn* conn, a_cmdseq_cursor* cursor);
// Settles the prefetch in flight: its rows are dropped from the stream (this client does
// not read prefetch replies into buffers yet), the cursor's prefetch is abandoned.
a_cmdseq_return i_cs_ClearPrefetchPending(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                          bool receive);
// Takes the cursor off the flush-buffers list; drops its prefetch when it is pending.
void i_cs_CancelCursorPrefetch(a_cmdseq_cursor* cursor, a_cmdseq_conn* conn,
                               a_cmdseq_error_info* err);

#endif  // VQ_CMDSEQ_CURSOR_H
