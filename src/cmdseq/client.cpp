// Connection removal and drop, the process's application type, and the connection's
// pending information requests.
#include "cmdseq/client.h"

#include "cmdseq/error_info.h"
#include "streams/stream_api.h"

namespace {
std::atomic<std::uint32_t> g_app_type{0};
}  // namespace

void a_cmdseq_conn::clear_pending_info_reqs(a_cmdseq_error_info*) {}

void a_cmdseq_conn::resend_pending_info_reqs() {}

void i_cs_RemoveConnection(a_cmdseq_conn* conn) {
  // The reference that connecting gave is dropped once, by whichever of the failure
  // paths takes the connection out of service first.
  if ((conn->status & CS_STATUS_CONNECTED) == 0) return;
  conn->status &= static_cast<std::uint8_t>(~CS_STATUS_CONNECTED);
  conn->release();
}

a_cmdseq_return CmdSeqDropConnection(a_cmdseq_conn* conn, a_cmdseq_error_info* err) {
  if (err != nullptr) CmdSeqResetLocale(err);
  a_cmdseq_return result = CMDSEQ_OK;
  if ((conn->status & CS_STATUS_CONNECTED) != 0) {
    if (StrmDisconnect(conn->strm_conn) == 0) result = CMDSEQ_NOT_CONNECTED;
    i_cs_RemoveConnection(conn);
  }
  return result;
}

void i_cs_SetAppType(std::uint32_t app_type) {
  g_app_type.store(app_type, std::memory_order_relaxed);
}

std::uint32_t i_cs_GetAppType() { return g_app_type.load(std::memory_order_relaxed); }
