// What the client tells about a connection's server, and the reset of the connection's
// posted flag when its stream is new.
#ifndef VQ_CMDSEQ_CONN_SERVER_INFO_H
#define VQ_CMDSEQ_CONN_SERVER_INFO_H

#include <cstdint>

#include "cmdseq/client.h"

// The server's protocol version as the connect reply gave it.
std::uint16_t CmdSeqGetServerStrmVer(const a_cmdseq_conn* conn);
// The server's printable address into `buffer` (at most `size` bytes, terminated): 0, or
// 2 when the connection is not connected (the buffer then holds an empty text).
a_cmdseq_return CmdSeqGetServerAddress(const a_cmdseq_conn* conn, char* buffer,
                                       std::uint16_t size);
// Clears the stream connection's posted flag.
void i_cs_InitUserData(a_strm_conn strm_conn);

#endif  // VQ_CMDSEQ_CONN_SERVER_INFO_H
