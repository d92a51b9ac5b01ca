// The stream library's C interface (Strm*): library start and stop, the state and the
// addresses of a connection, liveness, disconnecting, the app-connect exchange
// (streams/app_connect.h) and printing through the host's function table.
//
// The handles are the stack's own objects: a_strm_conn is the session connection. Every
// function taking a connection accepts null and then does nothing (or answers 0/null).
// The accessors take no locks of their own; the session connection locks where it must.
// C++ linkage on purpose: the library exports only SQL* names and must not pick these up.
#ifndef VQ_STREAMS_STREAM_API_H
#define VQ_STREAMS_STREAM_API_H

#include <cstdint>

#include "streams/app_connect.h"
#include "streams/port.h"  // a_machine_addr, a_port_type
#include "streams/presentation.h"
#include "streams/strm_errors.h"

// Results of the API (`_convertToStrmError` of the internal results).
enum : int {
  STRM_API_OK = 0,
  STRM_API_FAILED = 1,         // any other internal result
  STRM_API_NO_SERVER = 2,      // no server found (internal 7)
  STRM_API_NO_MEMORY = 3,      // no buffer or no memory (internal 14)
  STRM_API_ATTN_PENDING = 4,   // internal 15
  STRM_API_UNKNOWN_LINK = 5,   // internal 16
  STRM_API_LINK_LIST = 7,      // link list and host both given (internal 12)
};

// --- Library ---------------------------------------------------------------------------

// Counted start and stop across the process, called from the client's library start
// and stop, never concurrently. The first StrmInit starts the local-server rendezvous
// and registers the links this build has (shared memory with its shared buffer heap,
// TCP/IP when the network links are built in); it answers 0 then, and the previous
// count on later calls. The StrmFini that brings the count to 0 undoes it. Both live in
// the stack's start-up unit (vq_streams_start), which sees every link.
int StrmInit();
int StrmFini();
// The number of StrmInit calls not yet paired with a StrmFini.
int StrmInitCount();

// --- Connection ------------------------------------------------------------------------

// Closes the connection locally, drains its input (waiting up to 5 seconds at a time
// while nothing comes) and schedules it for deletion; 1 on success, 0 for null. The
// handle must not be used afterwards.
int StrmDisconnect(a_strm_conn sconn);
// The same after the server confirmed a disconnect: closed as by the peer, no drain.
int StrmDisconResponse(a_strm_conn sconn);
// 1 while the connection is alive (a shared-memory peer that is gone ends it).
int StrmIsAlive(a_strm_conn sconn);
// Runs the link connection's pending work (the shared-memory link receives here);
// answers 1.
int StrmConnExecute(a_strm_conn sconn);
// Starts liveness with the timeout set for the connection.
void StrmStartLiveness(a_strm_conn sconn);
void StrmSetConnLivenessTimeout(a_strm_conn sconn, std::uint16_t seconds);
// The connection's last indication (a_strm_indicator): STRM_IND_LINK_CLOSED when the
// server asked to disconnect, STRM_IND_CONN_DIED when the connection is dead.
int StrmGetInd(a_strm_conn sconn);
// Copies up to `size` of the random bytes of the app-connect reply into `buffer`;
// answers how many the reply holds (never more than its 32-byte field).
std::uint32_t StrmGetEngineRandomData(a_strm_conn sconn, void* buffer, std::uint32_t size);
// The encryption level number in force on the transport connection.
std::uint32_t StrmGetEncryption(a_strm_conn sconn);
// The link type: STRM_PORT_SHARED_MEMORY or STRM_PORT_TCPIP (STRM_PORT_UNKNOWN without).
std::uint8_t StrmGetPortType(a_strm_conn sconn);
// Non-zero for a shared-memory connection: its waiter must run StrmConnExecute itself.
int StrmBlockEventCleared(a_strm_conn sconn);
// Non-zero when the link reached the default local server.
int StrmIsConnectedToDefaultEngine(a_strm_conn sconn);
// The peer's and the local machine address, new (free with StrmFreeMachineAddr).
a_machine_addr* StrmGetMachineAddr(a_strm_conn sconn);
a_machine_addr* StrmGetLocalMachineAddr(a_strm_conn sconn);
void StrmFreeMachineAddr(a_machine_addr* addr);
// The address as the link prints it, at most `size` bytes with the terminator.
void StrmGetPrintableMachineAddr(a_strm_conn sconn, char* buffer, std::uint16_t size);
void StrmGetPrintableLocalMachineAddr(a_strm_conn sconn, char* buffer, std::uint16_t size);
std::uint16_t StrmGetLocalIPPortNum(a_strm_conn sconn);
std::uint16_t StrmGetRemoteIPPortNum(a_strm_conn sconn);
// Keeps a copy of the name (null clears it); answers the name kept.
const char* StrmSetConnName(a_strm_conn sconn, const char* name);
const char* StrmGetConnName(a_strm_conn sconn);
// Bytes received so far, counted after inflating, packet headers included.
std::uint32_t StrmGetBytesRecvUncomp(a_strm_conn sconn);
// Writes a printf-style comment (or a numbered message) into the connection's packet
// dump when dumping is on; 1 when written.
int StrmDumpComment(a_strm_conn sconn, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
int StrmDumpCommentID(a_strm_conn sconn, std::uint32_t msg_id, ...);

// --- Printing through the host ---------------------------------------------------------

// The host's print-string (print-error-string) function with the context and the text.
void StrmPrint(void* host_ctx, const char* text);
void StrmErrPrint(void* host_ctx, const char* text);
// The numbered message with its arguments, formatted through the library catalog into
// 2048 bytes, then printed as above.
void StrmPrint(void* host_ctx, std::int32_t msg_id, ...);
void StrmErrPrint(void* host_ctx, std::int32_t msg_id, ...);
// Through the host's connectionless print function with its registered parameter: a
// numbered message, or a printf-style text with "\n" appended (of any length; a null
// text is passed when memory runs out).
void StrmPrintConnectionless(std::int32_t msg_id, ...);
void StrmPrintConnectionless(const char* format, ...) __attribute__((format(printf, 1, 2)));

namespace vq::strm {
// The API result of an internal result.
int ConvertToStrmError(an_int_strm_error result);
// Gives the connection a packet dump in `directory` (at most 4096 characters are used)
// unless it has one: the directory is made when missing (mode 0755, with its parents),
// and the file is the first "conn_<n>.dmp" there that does not exist yet, n a
// process-wide counter. Any failure leaves the connection without a dump.
void OpenConnDump(a_strm_conn sconn, const char* directory);
}  // namespace vq::strm

#endif  // VQ_STREAMS_STREAM_API_H
