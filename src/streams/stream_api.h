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

// --- Environment -----------------------------------------------------------------------

// The host's callbacks, as the session layer keeps them (the same declarations as
// there). A server message: (callback data, the connection's callback data, message
// type, code, text length, text, host context); its result is ignored. A file-transfer
// check: (callback data, the connection's callback data, file name, write flag, out
// word); 0 refuses, otherwise a non-zero *allow allows.
typedef int (*a_strm_msg_callback)(void* data, void* conn_data, std::uint8_t type,
                                   std::uint32_t code, std::uint16_t length, const char* text,
                                   void* host_ctx);
typedef int (*a_strm_validate_callback)(void* data, void* conn_data, const char* name,
                                        std::uint32_t write, std::uint32_t* allow);

class c_strm_env;
typedef c_strm_env* a_strm_env;  // the communication environment handle
class c_conn_parms;
class c_strm_env_notifier;
class UTLangStringBase;
class UTLocale;
struct a_strm_func_list;
struct a_streams_parm_block;
typedef std::uint32_t a_strm_conn_type;

// Installs the host function table, then creates the environment with the host's
// notifier (kept; deleted by StrmFreeEnv only when told so), buffers of `buffer_size`
// bytes, the application kind, catalog and locale (neither owned). The first
// environment's catalog formats the library's messages until that environment goes.
// 0 with *env; STRM_API_FAILED (and nothing created) for an incomplete table;
// STRM_API_NO_MEMORY (nothing created) when memory runs out.
int StrmAllocEnv(a_strm_env* env, c_strm_env_notifier* notifier, std::uint16_t buffer_size,
                 const a_strm_func_list* functions, int app_kind, UTLangStringBase* catalog,
                 UTLocale* locale);
// Deletes every connection and the environment; with `delete_notifier` non-zero the
// notifier too. Answers 0 (null is accepted).
int StrmFreeEnv(a_strm_env env, int delete_notifier);
// Copies the stream parameter block into the session layer (null zeroes it).
int StrmSetParms(a_strm_env env, const a_streams_parm_block* parms);
// The periodic work of the host's control thread; answers 0.
int StrmExecute(a_strm_env env);
// False when the environment has no next time; else true with the milliseconds until
// it needs StrmExecute again (0 when that time has passed).
bool StrmGetTimeout(a_strm_env env, std::uint32_t* milliseconds);
// The liveness time-out (seconds, sign-extended) of the stream parameters.
void StrmSetLivenessTimeout(a_strm_env env, std::int16_t seconds);
// The server-message callback and its first argument; the file-transfer check.
void StrmSetMessageCallback(a_strm_env env, a_strm_msg_callback callback, void* data);
void StrmSetUserMessageCallback(a_strm_env env);
void StrmSetValidateFileTranCallback(a_strm_env env, a_strm_validate_callback callback);
int StrmLookupServers(a_strm_env env, void* list, void* host_ctx, unsigned int flags);
int StrmConfirmServerAtIPAddress(a_strm_env env, const char* name, const char* address,
                                 int port);
// Whether the environment holds a link of the type (TCP/IP has its own slot, every other
// type shares the shared-memory slot).
int i_strm_IsPortAdded(a_strm_env env, std::uint8_t type);
void StrmGetPrintableListenerAddrs(a_strm_env env, char* buffer, std::uint16_t size);
int StrmOutOfMemory();

// Opens a stream connection by the parameters (Host, CommLinks, ServerName, Encryption,
// ...): 0 with *conn, started receiving and, when `dump_directory` is given, dumping
// into it (a dump problem never fails the connect); STRM_API_NO_SERVER when no server
// was found; other API results with a message in `err` (err_len bytes). `host_ctx` is
// the host's counted connection object.
int StrmConnect(c_conn_parms* parms, a_strm_env env, a_strm_conn_type type, a_strm_conn* conn,
                char* err, std::uint32_t err_len, const char* dump_directory, void* host_ctx);

// --- Connection ------------------------------------------------------------------------

// The host's words in the connection: its own (the client keeps its posted flag there)
// and the one passed to the server-message and file-transfer callbacks.
std::uintptr_t StrmGetUserData(a_strm_conn sconn);
void StrmSetUserData(a_strm_conn sconn, std::uintptr_t value);
std::uintptr_t StrmGetCallbackData(a_strm_conn sconn);
void StrmSetCallbackData(a_strm_conn sconn, std::uintptr_t value);
// The connection's client character set (file names of server-driven transfers).
struct CharsetInfo;
void StrmSetClientCSInfo(a_strm_conn sconn, const CharsetInfo* info);
const CharsetInfo* StrmGetClientCSInfo(a_strm_conn sconn);

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
// answers how many the reply holds (never more than its 32-byte field; 0: none).
unsigned StrmGetEngineRandomData(a_strm_conn sconn, unsigned char* buffer, unsigned size);
// The encryption level number in force on the transport connection.
std::uint32_t StrmGetEncryption(a_strm_conn sconn);
// The link type: STRM_PORT_SHARED_MEMORY (2) or STRM_PORT_TCPIP (6); STRM_PORT_UNKNOWN
// without a link.
int StrmGetPortType(a_strm_conn sconn);
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
