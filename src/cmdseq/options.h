// Small requests that belong to neither a statement nor a cursor: server options (get 50,
// set 49), one information string of the server (6), whether an identifier needs quotes
// (56) and the deletion of a client-transfer file (53). Statement release is in
// statement.h.
#ifndef VQ_CMDSEQ_OPTIONS_H
#define VQ_CMDSEQ_OPTIONS_H

#include <cstdint>

#include "cmdseq/client.h"
#include "cmdseq/desc.h"
#include "cmdseq/error_info.h"

struct a_cmdseq_option_param {
  const char* name = nullptr;
  const char* name2 = nullptr;          // or null
  a_cmdseq_desc_item* value = nullptr;  // receives the value (type, length, value 0)
};

struct a_cmdseq_set_option_param {
  const char* name = nullptr;
  const char* name2 = nullptr;  // or null
  const char* value = nullptr;  // null sets NULL
  std::uint32_t temporary = 0;
};

// The value lands in option->value; the result is the more severe of status and value.
a_cmdseq_return CmdSeqGetOption(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                a_cmdseq_option_param* option);
a_cmdseq_return CmdSeqSetOption(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                const a_cmdseq_set_option_param* option);
// Information string `kind` into buffer (zero-terminated within `length` bytes).
a_cmdseq_return i_cs_GetStrServerInfo(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                      std::uint16_t kind, char* buffer, std::uint32_t length);
a_cmdseq_return CmdSeqNeedsQuotes(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                  const char* identifier);
a_cmdseq_return CmdSeqDeleteFile(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                 const char* file_name);
// Never asks the user: the connect request does not retry with a changed password.
int i_cs_PromptChangeExpiredPassword();

#endif  // VQ_CMDSEQ_OPTIONS_H
