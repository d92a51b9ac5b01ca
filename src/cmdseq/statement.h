// Statement requests: prepare (or validate of a statement the server still holds),
// describe, execute with parameter rows (optionally committing in the same exchange),
// execute immediate, the combined prepare-describe-execute-open request, the change of
// the connection's character sets and the time-zone item. Each writes its items, closes
// them with one sync point and reads the reply to the next one. Prepared statements live
// in the connection's statement-information cache (stmt_cache.h).
#ifndef VQ_CMDSEQ_STATEMENT_H
#define VQ_CMDSEQ_STATEMENT_H

#include <cstdint>

#include "cmdseq/client.h"
#include "cmdseq/cursor.h"
#include "cmdseq/error_info.h"
#include "cmdseq/stmt_cache.h"

// Kept in the ODBC statement for the statement's life.
struct a_cmdseq_stmt_handle {
  std::uint32_t stmt_id = CS_NULL_HANDLE;  // client statement number; null: none prepared
  std::uint16_t param_count = 0;           // values per parameter row (reply item 30)
  std::uint8_t value_b = 0;                // reply item 30
  a_cmdseq_stmt_info* info = nullptr;      // the cache entry in use, or null
};

struct a_cmdseq_describe_param {
  a_cmdseq_desc* result = nullptr;  // output: the entry's description that was filled
  std::uint16_t option = 0;         // sent with items 27/28
  std::uint32_t want_output = 0;    // nonzero asks for item 28
  std::uint32_t want_input = 0;     // nonzero asks for item 27
  std::uint32_t complete = 0;       // output: the description is final
};

struct a_cmdseq_execute_param {
  a_cmdseq_desc* params = nullptr;   // parameter rows, or null
  a_cmdseq_desc* colvars = nullptr;  // column variables (output values), or null
  std::uint16_t rows = 0;            // parameter rows to send
  std::uint32_t row_count = 0;       // output: information type 2
  std::uint32_t second_count = 0;    // output: information type 1
  std::uint32_t drop_after = 0;      // nonzero: release the statement after it ran
  std::uint32_t keep_open = 0;       // nonzero: the combined request keeps its open part
  std::uint32_t commit_mode = 0;     // nonzero: execute option 2
};

struct a_cmdseq_exec_imm_param {
  const char* text = nullptr;
  std::uint32_t text_len = 0;
  std::uint32_t info4 = 0;  // outputs, zeroed first
  std::uint32_t info2 = 0;
  std::uint32_t info1 = 0;
};

// Opening a cursor (also the open part of the combined request).
struct a_cmdseq_open_param {
  a_cmdseq_stmt_handle* handle = nullptr;
  const char* cursor_name = nullptr;
  a_cmdseq_desc* params = nullptr;  // one parameter row, or null
  std::uint16_t open_value = 0;
  std::uint32_t options = 0;
  a_cmdseq_cursor* cursor = nullptr;
  std::uint32_t info2 = 0;  // outputs: information types 2, 3 and 1
  std::uint32_t info3 = 0;
  std::uint32_t info1 = 0;
  std::uint32_t result_columns = 0;  // output: information type 6
  std::uint32_t open_flags = 0;      // output: information type 16
};

a_cmdseq_return CmdSeqPrepare(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                              a_cmdseq_stmt_handle* handle, a_cmdseq_prep_param* prep);
a_cmdseq_return CmdSeqPrepareDescribe(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                      a_cmdseq_stmt_handle* handle, a_cmdseq_prep_param* prep,
                                      a_cmdseq_describe_param* describe);
a_cmdseq_return CmdSeqDescribe(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                               a_cmdseq_stmt_handle* handle, a_cmdseq_describe_param* describe);
a_cmdseq_return CmdSeqExecute(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                              a_cmdseq_stmt_handle* handle, a_cmdseq_execute_param* exec);
// With a commit result, the commit items follow the execute (*commit_result: slot 1).
a_cmdseq_return CmdSeqExecuteCommit(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                    a_cmdseq_stmt_handle* handle, a_cmdseq_execute_param* exec,
                                    std::uint32_t* commit_result);
a_cmdseq_return CmdSeqExecuteImm(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                 a_cmdseq_exec_imm_param* imm);
// Prepare (or validate), describe, execute and open in one exchange. The server answers
// a query's execute with warning 111 (not executed) and a statement's open with 111 (not
// opened); the entry learns which part to leave out next time.
a_cmdseq_return CmdSeqPrepareDescribeExecuteOpen(
    a_cmdseq_conn* conn, a_cmdseq_error_info* err, a_cmdseq_stmt_handle* handle,
    a_cmdseq_prep_param* prep, a_cmdseq_describe_param* describe, a_cmdseq_execute_param* exec,
    a_cmdseq_open_param* open, std::uint32_t* executed, std::uint32_t* opened);
a_cmdseq_return CmdSeqChangeCharCharset(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                        const char* name, std::uint32_t length);
a_cmdseq_return CmdSeqChangeNCharCharset(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                         const char* name, std::uint32_t length);
// Queues item 3 (the local offset from UTC in minutes, east positive); always 0 once
// connected.
a_cmdseq_return CmdSeqTimeChange(a_cmdseq_conn* conn, a_cmdseq_error_info* err);
std::uint16_t CmdSeqGetMinNCharSize(a_cmdseq_conn* conn);

// The cursor check exchange after a reply with information flag 0x40: item 47 for every
// listed cursor, then one status and information part per cursor; a cursor the server
// reports closed (slot 18 bit 0x10000) is forgotten and err->cursors_closed set.
a_cmdseq_return i_cs_CheckCursors(a_cmdseq_conn* conn, a_cmdseq_error_info* err);

// --- Prepare and validate pieces shared with the cursor requests ---------------------------
// Items 22, 136 and (protocol level 15 and above, with prepare flag 0x02) 142.
a_cmdseq_return i_cs_SendPrepare(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                 const a_cmdseq_prep_param* prep);
// Optional item 30, item 29 (required), status, information (slot 4 to prep->result).
a_cmdseq_return i_cs_ReceivePrepare(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                    a_cmdseq_stmt_info* info, a_cmdseq_stmt_handle* handle,
                                    a_cmdseq_prep_param* prep);
// Item 21 (server statement, validation stamp, the connection's two counters), item 0.
a_cmdseq_return i_cs_SendValidate(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                  a_cmdseq_stmt_info* info);
// Status with the hit and miss statistics (five misses outweighing the hits turn the
// statement reuse off), information (slot 24: a new statement-cache size).
a_cmdseq_return i_cs_ReceiveValidate(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                     a_cmdseq_stmt_info* info);
// A prepare record for the entry's stored text and options (text_len -1 without text).
a_cmdseq_prep_param i_cs_InitPrepParamFromStmtInfo(const a_cmdseq_stmt_info* info);
// After a validate the server refused (-130): the entry is reset, its server statement
// dropped and the error cleared; true when the caller should repeat its operation once.
bool i_cs_IfValidateFailedPrepareForRedo(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                         a_cmdseq_stmt_handle* handle, a_cmdseq_return result);

// --- Open pieces shared with the cursor requests (cursor_requests.cpp) ---------------------
void i_cs_InitCursorBeforeOpen(a_cmdseq_cursor* cursor, std::uint32_t options);
a_cmdseq_return i_cs_SendCursorOpen(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                    a_cmdseq_open_param* open, std::uint32_t server_stmt);
// Reads the open reply; `opened` (or null) gets 0 when the status carried warning 111.
a_cmdseq_return i_cs_ReceiveCursorOpenAndOpenCursor(a_cmdseq_conn* conn,
                                                    a_cmdseq_error_info* err,
                                                    a_cmdseq_open_param* open,
                                                    a_cmdseq_stmt_info* info,
                                                    std::uint32_t* opened);

// --- Statement release (options.cpp) --------------------------------------------------------
// Queues a drop (23) or cached drop (32) of the handle's statement and hands its entry to
// the dropped list; nothing without an entry.
void i_cs_DropStmt(a_cmdseq_conn* conn, a_cmdseq_stmt_handle* handle, bool force);
// 2 when not connected; otherwise releases the statement and answers 0.
a_cmdseq_return CmdSeqDropStmt(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                               a_cmdseq_stmt_handle* handle);

#endif  // VQ_CMDSEQ_STATEMENT_H
