// Commit, rollback and prepare-to-commit. A command item without payload, then the
// common reply. The client makes no exchange for a commit or rollback when it knows
// nothing was done since the last one: CS_STATUS_NO_WORK, cleared by every other request.
#ifndef VQ_CMDSEQ_TRANSACTION_H
#define VQ_CMDSEQ_TRANSACTION_H

#include <cstdint>

#include "cmdseq/client.h"
#include "cmdseq/error_info.h"

// Request 58. *value gets information slot 1 of the reply (0 without an exchange).
a_cmdseq_return CmdSeqCommit(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                             std::uint32_t* value);
// Request 59; buffered rows of every cursor are dropped first.
a_cmdseq_return CmdSeqRollback(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                               std::uint32_t* value);
// Request 60; never takes the no-work short-cut and never sets the no-work bit.
a_cmdseq_return CmdSeqPrepareToCommit(a_cmdseq_conn* conn, a_cmdseq_error_info* err);
// Writes item 58 into the current request (also used by requests that commit in the
// same exchange).
a_cmdseq_return i_cs_SendCommit(a_cmdseq_conn* conn, a_cmdseq_error_info* err);
// Reads the commit reply: status, information (slot 1 to *value, slot 17 flags). A
// successful commit on a server above protocol version 9 whose flags lack 0x80 sets the
// no-work bit.
a_cmdseq_return i_cs_ReceiveCommit(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                   std::uint32_t* value);
// The process id: the task id of this client.
std::uint32_t i_cs_get_taskid();

#endif  // VQ_CMDSEQ_TRANSACTION_H
