// The error block every command-sequence call fills, and the rule that decides which
// error survives when several arrive: a stored error is never replaced; a stored warning
// yields only to an error.
//
// The block owns its parameter list and message text (both from ut_alloc/ut_malloc and
// freed with the block's own functions). A block is used by one thread at a time.
#ifndef VQ_CMDSEQ_ERROR_INFO_H
#define VQ_CMDSEQ_ERROR_INFO_H

#include <cstdint>

#include "cmdseq/cmdseq_return.h"
#include "cmdseq/errors/error_table.h"

class UTLangStringBase;
class a_cmdseq_conn;
struct a_cmdseq_env;
struct a_string_parms;

// One message parameter: the next node, then the zero-terminated text, in one block.
struct a_cmdseq_str_node {
  a_cmdseq_str_node* next;
  char text[1];  // the allocation extends past the node for longer texts
};

struct a_cmdseq_error_info {
  std::uintptr_t owner;  // the caller's value, passed on to callbacks
  a_cmdseq_env* env;
  std::uint32_t cursors_closed;  // 1 when a reply's information flags closed cursors
  UTLangStringBase* lang;        // strings that format this block's parameters
  std::int32_t sqlcode;          // 0 success, negative error, positive warning
  char server_state[6];          // five characters and a zero
  char odbc3_state[6];
  char odbc2_state[6];
  a_cmdseq_str_node* params;  // in the order received
  char* message;              // the server's message text, or null
};

// Sets owner and env; clears everything else; lang becomes the environment's strings.
void CmdSeqInitErrorParam(a_cmdseq_env* env, a_cmdseq_error_info* err, std::uintptr_t owner);
// Frees parameters and message, clears code, states and cursors_closed; lang becomes the
// connection's own strings when `conn` is given and connected, else the environment's.
void CmdSeqResetErrorParam(a_cmdseq_error_info* err, a_cmdseq_conn* conn);
// Frees parameters and message; nothing else changes.
void CmdSeqFiniErrorParam(a_cmdseq_error_info* err);
// Forgets the block's strings.
void CmdSeqResetLocale(a_cmdseq_error_info* err);

// Stores the table row of `sqlcode` under the survival rule; answers whether it was
// stored. A code without a row is stored with the generic states of its sign.
bool i_cs_SetErrorInfo(a_cmdseq_error_info* err, std::int32_t sqlcode);
// Overwrites code and states whatever the block held (an end-of-data error record);
// parameters and message of the earlier error are freed.
void i_cs_ForceErrorInfo(a_cmdseq_error_info* err, std::int32_t sqlcode,
                         const char* server_state, const char* odbc3_state,
                         const char* odbc2_state);
// Appends a copy of the text to the parameters; null does nothing. When the copy cannot
// be allocated, the whole parameter list is freed and false is answered.
bool i_cs_SetErrorParam(a_cmdseq_error_info* err, const char* text);
bool CmdSeqSetErrorParamStr(a_cmdseq_error_info* err, const char* text);
// The same for a counted text.
bool i_cs_SetErrorParamN(a_cmdseq_error_info* err, const char* text, std::uint32_t length);
// A connection-string parse error: nothing for code 0; otherwise the parse error's text
// becomes the single parameter of row -754 (code 10) or -95 (every other code).
void i_cs_SetParseError(a_cmdseq_env* env, a_cmdseq_error_info* err,
                        const a_string_parms* parms, int code);
// Moves src into dst under the survival rule (see the source); src ends empty of
// parameters and message either way.
void CmdSeqCombineErrorParams(a_cmdseq_error_info* dst, a_cmdseq_error_info* src);
// Copy the whole block to a save area and back; parameters and message move with the
// copy (the source's pointers are cleared).
void i_cs_SaveErrorTo(a_cmdseq_error_info* err, a_cmdseq_error_info* save);
void i_cs_RestoreErrorFrom(a_cmdseq_error_info* err, a_cmdseq_error_info* save);
// Frees a chain of parameter nodes; null is ignored.
void CmdSeqFreeStrList(a_cmdseq_str_node* list);

// The result that matches the block's code: 0, 5 (positive) or 4 (negative).
a_cmdseq_return i_cs_ResultOfSQLCode(const a_cmdseq_error_info* err);

#endif  // VQ_CMDSEQ_ERROR_INFO_H
