// The stream library's C interface (Strm*), as far as the command-sequence client calls
// it for a connection that is already open: disconnecting, the connection's indication
// and comments in the packet dump. The rest of the interface (library start, environments,
// connect, liveness, addresses) joins this header with the communication stack.
#ifndef VQ_STREAMS_STREAM_API_H
#define VQ_STREAMS_STREAM_API_H

#include "streams/presentation.h"

// Closes the stream connection, drains its input and schedules it for deletion; non-zero
// on success. The handle must not be used afterwards.
int StrmDisconnect(a_strm_conn sconn);
// The same in answer to a disconnect the server asked for; non-zero on success.
int StrmDisconResponse(a_strm_conn sconn);
// The connection's last indication (a_strm_indicator): STRM_IND_LINK_CLOSED when the
// server asked to disconnect, STRM_IND_CONN_DIED when the connection is dead.
int StrmGetInd(a_strm_conn sconn);
// Writes a printf-style comment into the connection's packet dump when dumping is on.
int StrmDumpComment(a_strm_conn sconn, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// Copies up to `size` random bytes that the server sent during the app-connect exchange
// into `buffer`; the low 16 bits of the result are the number copied (0: none).
unsigned StrmGetEngineRandomData(a_strm_conn sconn, unsigned char* buffer, unsigned size);
// 1 while the connection is alive.
int StrmIsAlive(a_strm_conn sconn);
// The link kind of the connection (2 shared memory, 6 TCP/IP).
int StrmGetPortType(a_strm_conn sconn);
// Non-zero when the connection reached the default local server.
int StrmIsConnectedToDefaultEngine(a_strm_conn sconn);
// The client's value that the stream hands back to callbacks.
void StrmSetCallbackData(a_strm_conn sconn, std::uintptr_t value);
// The link end's machine-address record (first byte the link type, 6 for TCP/IP; the
// address text from the third byte), freed with StrmFreeMachineAddr; null when none.
unsigned char* StrmGetLocalMachineAddr(a_strm_conn sconn);
void StrmFreeMachineAddr(unsigned char* record);

#endif  // VQ_STREAMS_STREAM_API_H
