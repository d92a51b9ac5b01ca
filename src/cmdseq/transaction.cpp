// Transactions (see transaction.h).
#include "cmdseq/transaction.h"

#include <unistd.h>

#include "cmdseq/cursor.h"
#include "cmdseq/request.h"

namespace {

constexpr std::uint8_t kItemCommit = 58;
constexpr std::uint8_t kItemRollback = 59;
constexpr std::uint8_t kItemPrepareToCommit = 60;

bool connected(const a_cmdseq_conn* conn) { return (conn->status & CS_STATUS_CONNECTED) != 0; }

// Status and information of a reply; slot 1 to *value when given.
a_cmdseq_return receive_status_info(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                    std::uint32_t* value, std::uint32_t* flags) {
  const a_cmdseq_return status = i_cs_ReceiveSuccessOrError(conn, err);
  if (!i_cs_ReplyRead(status)) return status;
  std::uint32_t* slots[kInfoSlots] = {};
  slots[1] = value;
  slots[kInfoFlagsSlot] = flags;
  const a_cmdseq_return info = i_cs_ReceiveAllInfo(conn, err, slots);
  if (info != CMDSEQ_OK) return info;
  i_cs_ProcessNonZeroInfoFlags(conn, *flags, &err->cursors_closed, nullptr);
  return status;
}

a_cmdseq_return send_bare(a_cmdseq_conn* conn, a_cmdseq_error_info* err, std::uint8_t code) {
  const a_sqlpres_code pc = SQLPresSendCommand(conn->strm_conn, code, 0);
  if (pc != SQLPRES_OK) return i_cs_HandleSQLPresError(conn, pc, err);
  return i_cs_SendRequest(conn, err);
}

}  // namespace

a_cmdseq_return i_cs_SendCommit(a_cmdseq_conn* conn, a_cmdseq_error_info* err) {
  const a_sqlpres_code pc = SQLPresSendCommand(conn->strm_conn, kItemCommit, 0);
  return pc == SQLPRES_OK ? CMDSEQ_OK : i_cs_HandleSQLPresError(conn, pc, err);
}

a_cmdseq_return i_cs_ReceiveCommit(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                   std::uint32_t* value) {
  std::uint32_t flags = 0;
  const a_cmdseq_return result = receive_status_info(conn, err, value, &flags);
  if (result == CMDSEQ_OK && conn->server_strm_ver > 9 && (flags & CS_INFO_MORE_WORK) == 0) {
    conn->status |= CS_STATUS_NO_WORK;
  }
  return result;
}

a_cmdseq_return CmdSeqCommit(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                             std::uint32_t* value) {
  *value = 0;
  if ((conn->status & CS_STATUS_NO_WORK) != 0) return CMDSEQ_OK;
  if (!connected(conn)) return CMDSEQ_NOT_CONNECTED;
  a_cmdseq_return result = i_cs_StartRequest(conn, err);
  if (result != CMDSEQ_OK) return result;
  result = send_bare(conn, err, kItemCommit);
  if (result != CMDSEQ_OK) return result;
  return i_cs_EndRequest(conn, err, i_cs_ReceiveCommit(conn, err, value));
}

a_cmdseq_return CmdSeqRollback(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                               std::uint32_t* value) {
  *value = 0;
  if ((conn->status & CS_STATUS_NO_WORK) != 0) return CMDSEQ_OK;
  if (!connected(conn)) return CMDSEQ_NOT_CONNECTED;
  a_cmdseq_return result = i_cs_StartRequest(conn, err);
  if (result != CMDSEQ_OK) return result;
  // Rows buffered before the rollback may no longer exist.
  i_cs_FlushFetchDataAllCursors(conn);
  result = send_bare(conn, err, kItemRollback);
  if (result != CMDSEQ_OK) return result;
  std::uint32_t flags = 0;
  result = i_cs_EndRequest(conn, err, receive_status_info(conn, err, value, &flags));
  if (result == CMDSEQ_OK) conn->status |= CS_STATUS_NO_WORK;
  return result;
}

a_cmdseq_return CmdSeqPrepareToCommit(a_cmdseq_conn* conn, a_cmdseq_error_info* err) {
  conn->status &= static_cast<std::uint8_t>(~CS_STATUS_NO_WORK);
  if (!connected(conn)) return CMDSEQ_NOT_CONNECTED;
  a_cmdseq_return result = i_cs_StartRequest(conn, err);
  if (result != CMDSEQ_OK) return result;
  result = send_bare(conn, err, kItemPrepareToCommit);
  if (result != CMDSEQ_OK) return result;
  std::uint32_t flags = 0;
  return i_cs_EndRequest(conn, err, receive_status_info(conn, err, nullptr, &flags));
}

std::uint32_t i_cs_get_taskid() { return static_cast<std::uint32_t>(::getpid()); }
