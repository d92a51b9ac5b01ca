// What the client environment and its notifiers call of the stream library: library
// start and stop, the communication environment, the per-connection words the notifiers
// keep in the stream connection and the server's address. The stream library builds
// these; until it does, the tests link a small stand-in of them. (The shared-memory
// link's helpers the client uses come from the link's own headers.)
#ifndef VQ_CMDSEQ_STRM_CLIENT_API_H
#define VQ_CMDSEQ_STRM_CLIENT_API_H

#include <cstdint>

#include "streams/host_functions.h"
#include "streams/notifier.h"
#include "vqtasks.h"

class UTLangStringBase;
class UTLocale;
class c_strm_env;
typedef c_strm_env* a_strm_env;  // the communication environment handle

// The relay of server messages: (the value given with it, the connection's callback
// value, message type, code, text length, text, the connection's host context).
typedef void (*a_strm_message_fn)(void* data, std::uintptr_t conn_value, std::uint8_t type,
                                  std::int32_t code, std::uint16_t length, const char* text,
                                  void* host_ctx);
// The check before a server-driven file transfer: (the environment's callback value, the
// connection's callback value, file name, 1 for a write, out word). 0 refuses the
// transfer; otherwise a non-zero out word allows it and 0 denies it.
typedef int (*a_strm_validate_file_fn)(void* data, std::uintptr_t conn_value,
                                       const char* file_name, int write, int* allow);

// Stack codes of StrmAllocEnv.
constexpr int STRM_ENV_OK = 0;
constexpr int STRM_ENV_NO_MEMORY = 3;
constexpr int STRM_ENV_CANNOT_CREATE = 7;

// --- Library and environment ------------------------------------------------------------

// Counted start and stop of the stream library; StrmInit answers the start-up's result on
// the first call and the previous count otherwise.
int StrmInit();
int StrmFini();
// Creates the communication environment with the client's notifier (the environment
// deletes it in StrmFreeEnv when told the threads were running), installing the host
// function table first. `app_kind` is the stack's kind of application.
int StrmAllocEnv(a_strm_env* env, c_strm_env_notifier* notifier, std::uint16_t buffer_size,
                 const a_strm_func_list* functions, int app_kind, UTLangStringBase* catalog,
                 UTLocale* locale);
// Frees the environment; non-zero when it refuses.
int StrmFreeEnv(a_strm_env env, int threads_were_running);
// Runs the pending work of every connection of the environment.
int StrmExecute(a_strm_env env);
void StrmSetMessageCallback(a_strm_env env, a_strm_message_fn callback, void* data);
// Tells the environment that the host passes server messages to its own callback.
void StrmSetUserMessageCallback(a_strm_env env);
void StrmSetValidateFileTranCallback(a_strm_env env, a_strm_validate_file_fn callback);

// --- Per connection -------------------------------------------------------------------------

// The host's word in the stream connection (the client keeps its posted flag there).
std::uintptr_t StrmGetUserData(a_strm_conn sconn);
void StrmSetUserData(a_strm_conn sconn, std::uintptr_t value);
// The client's value that the stream hands back to callbacks.
std::uintptr_t StrmGetCallbackData(a_strm_conn sconn);
// 1 while the connection is alive.
int StrmIsAlive(a_strm_conn sconn);
// Non-zero when the event a waiting request blocks on has been cleared (a link that the
// waiting thread must poll itself).
int StrmBlockEventCleared(a_strm_conn sconn);
// Runs the pending work of the connection's link.
int StrmConnExecute(a_strm_conn sconn);
const char* StrmGetConnName(a_strm_conn sconn);
// The server's address as text, cut to `size` bytes and terminated.
void StrmGetPrintableMachineAddr(a_strm_conn sconn, char* buffer, std::uint16_t size);

#endif  // VQ_CMDSEQ_STRM_CLIENT_API_H
