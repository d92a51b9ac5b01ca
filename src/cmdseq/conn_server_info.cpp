// What the client tells about a connection's server.
#include "cmdseq/conn_server_info.h"

#include "streams/host_functions.h"
#include "streams/notifier.h"
#include "streams/stream_api.h"
#include "vqtasks.h"

std::uint16_t CmdSeqGetServerStrmVer(const a_cmdseq_conn* conn) {
  return conn->server_strm_ver;
}

a_cmdseq_return CmdSeqGetServerAddress(const a_cmdseq_conn* conn, char* buffer,
                                       std::uint16_t size) {
  if (buffer != nullptr && size != 0) buffer[0] = '\0';
  if (conn == nullptr || conn->strm_conn == nullptr ||
      (conn->status.load() & CS_STATUS_CONNECTED) == 0) {
    return CMDSEQ_NOT_CONNECTED;
  }
  if (buffer != nullptr && size != 0)
    StrmGetPrintableMachineAddr(conn->strm_conn, buffer, size);
  return CMDSEQ_OK;
}

void i_cs_InitUserData(a_strm_conn strm_conn) {
  if (strm_conn != nullptr) StrmSetUserData(strm_conn, 0);
}
