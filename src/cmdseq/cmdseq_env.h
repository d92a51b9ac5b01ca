// The client environment: one record per process holding the communication environment,
// the environment notifier with its two threads, the locale services, the callbacks the
// ODBC layer registers, the shared log files and the connection pool; and the counted
// start and stop of the client library.
//
// The library is started (CmdSeqInit) before any environment is set up and stopped after
// the last one is torn down. The communication environment and the threads come to life
// with the first connect (i_cs_AllocStrmEnv) and live until CmdSeqFreeEnv.
//
// This header names the stream library's types only by declaration, so that it can sit
// beside either side of the stack's interface.
#ifndef VQ_CMDSEQ_CMDSEQ_ENV_H
#define VQ_CMDSEQ_CMDSEQ_ENV_H

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "cmdseq/cmdseq_return.h"

class JDate;
class UTCollation;
class UTLangString;
class UTLocale;
class c_cmdseq_env_notifier;
class c_conn_parms;
class c_strm_env;
typedef c_strm_env* a_strm_env;
struct CharsetInfo;
struct LanguageInfo;
class a_cmdseq_conn_pool;
struct a_cmdseq_error_info;
struct a_cmdseq_log_file_list;

// The callbacks the ODBC layer registers. `cb_value` is the connection's callback value.
// Called about once a second while a request of the connection waits; a non-zero answer
// ends the wait as failed (the request fails as a blocked wait and the connection is
// dropped), which is how a caller bounds a wait by a time of its own.
typedef int (*a_cmdseq_wait_callback)(std::uintptr_t cb_value);
// A server message: type, code, text length and text (not terminated).
typedef void (*a_cmdseq_message_callback)(std::uintptr_t cb_value, std::uint8_t type,
                                          std::int32_t code, std::uint16_t length,
                                          const char* text);
// Every line of the connection's log.
typedef void (*a_cmdseq_debug_message_callback)(std::uintptr_t cb_value, const char* text);
// The stack found the connection dead; `conn_name` may be null.
typedef void (*a_cmdseq_conn_dropped_callback)(std::uintptr_t cb_value, const char* conn_name);
// Asked before the server reads (write 0) or writes (write 1) a client file: answer 0 to
// refuse; otherwise *allow non-zero allows and 0 denies.
typedef int (*a_cmdseq_validate_file_tran_callback)(std::uintptr_t cb_value,
                                                    const char* file_name, int write,
                                                    int* allow);

// One per process, set up by the ODBC layer (CmdSeqAllocEnv) and torn down by it
// (CmdSeqFreeEnv). The callbacks are atomic: the stack's threads and the notifier threads
// read them while the ODBC layer may register another.
struct a_cmdseq_env {
  a_strm_env strm_env = nullptr;              // null until the first connect creates it
  c_cmdseq_env_notifier* notifier = nullptr;  // null until the communication environment exists
  std::uint32_t app_type = 0;  // kind of client application (the ODBC layer sets 2)
  char* api_name = nullptr;    // the client API the connections serve (ut_alloc), or null
  a_cmdseq_log_file_list* log_files = nullptr;  // the open log files (request log)
  a_cmdseq_conn_pool* conn_pool = nullptr;      // pooled connections (connection pool)
  std::atomic<a_cmdseq_wait_callback> wait_callback{nullptr};
  std::atomic<a_cmdseq_message_callback> message_callback{nullptr};  // null: print and log
  std::atomic<a_cmdseq_debug_message_callback> debug_message_callback{nullptr};
  std::atomic<a_cmdseq_conn_dropped_callback> conn_dropped_callback{nullptr};
  std::atomic<a_cmdseq_validate_file_tran_callback> validate_file_tran_callback{nullptr};
  std::atomic<std::uint16_t> conn_count{0};   // connections created in this environment
  const LanguageInfo* os_language = nullptr;  // the system's language (UTLocale)
  const CharsetInfo* os_charset = nullptr;    // the system's character set (UTLocale)
  std::uint32_t* pid = nullptr;               // the process id (ut_alloc)
  UTLocale* locale = nullptr;
  UTLangString* lang = nullptr;  // the environment's message strings
  UTCollation* collation = nullptr;
  JDate* date = nullptr;       // date names of the request log; English when null
  std::uint8_t odbc_flag = 0;  // kept for the ODBC layer
  std::atomic<std::uint8_t> out_of_memory{0};  // 1 once memory ran out: every request fails
};

// --- Library start and stop ----------------------------------------------------------------

// Counted start: the first call creates the library mutex and starts the stream library
// and answers its start result; later calls answer the previous count.
int CmdSeqInit();
// Counted stop: the last call stops the stream library and destroys the library mutex.
// A stop without a start does nothing.
void CmdSeqFini();

// --- Environment -----------------------------------------------------------------------------

// Sets up the record (which may hold garbage): 0 on success; 6 when the process id cannot
// be recorded; 1 when a service cannot be created. What was created stays for
// CmdSeqFreeEnv, which must be called after a failure as after a success.
a_cmdseq_return CmdSeqAllocEnv(a_cmdseq_env* env);
// Tears the record down: stops the threads, frees the communication environment and every
// service. 0, or 1 when the communication environment refused to go (the record is then
// half torn down and may be freed again).
a_cmdseq_return CmdSeqFreeEnv(a_cmdseq_env* env);
// Creates the communication environment, its notifier and the two threads on first need
// (serialised by the library mutex); `parms` may be null and `err` may be null. 0 when
// the environment exists; 10 without a creatable local-server resource root or when the
// stack cannot create the environment (error -832), 6 when memory runs out (-86), 1
// otherwise.
a_cmdseq_return i_cs_AllocStrmEnv(a_cmdseq_env* env, c_conn_parms* parms,
                                  a_cmdseq_error_info* err);
// Gives the communication environment the connection's CommBufferSize, LivenessTimeout
// and IdleTimeout; the block's other words keep their neutral values.
void i_cs_SetEnvironmentParms(a_strm_env strm_env, c_conn_parms* parms);
// The communication buffer size: the CommBufferSize parameter, or 7300 without parameters.
std::uint16_t i_cs_CommBufferSize(c_conn_parms* parms);
// The stack's application kind for the environment's app_type; -1 for an unknown type.
int i_cs_StrmAppKind(std::uint32_t app_type);

// Records the client API name once: 1 when a name is (now or already) recorded, 0 when
// the name does not begin with one of the known API names.
int CmdSeqSetAPIName(a_cmdseq_env* env, const char* name);

// Store the callback (null clears it). Registering the message callback also tells an
// existing communication environment to pass server messages up.
void CmdSeqRegisterWaitCallback(a_cmdseq_env* env, a_cmdseq_wait_callback callback);
void CmdSeqRegisterMessageCallback(a_cmdseq_env* env, a_cmdseq_message_callback callback);
void CmdSeqRegisterDebugMessageCallback(a_cmdseq_env* env,
                                        a_cmdseq_debug_message_callback callback);
void CmdSeqRegisterConnDroppedCallback(a_cmdseq_env* env,
                                       a_cmdseq_conn_dropped_callback callback);
void CmdSeqRegisterValidateFileTranCallback(a_cmdseq_env* env,
                                            a_cmdseq_validate_file_tran_callback callback);

// --- Memory hooks
// ------------------------------------------------------------------------------

void CmdSeqInitMem();
void CmdSeqFiniMem();
void CmdSeqDumpMemUsage(void* file, const char* text, int number);
// The allocation wrappers never retry: always 0.
int CmdSeqOutOfMemory();
// Allocates; ends the process when memory is exhausted.
void* CmdSeqAllocExt(std::size_t size);
// Allocates; null when memory is exhausted.
void* CmdSeqAllocUnused(std::size_t size);
void* CmdSeqReallocExt(void* block, std::size_t size);
void CmdSeqFreeExt(void* block);

#endif  // VQ_CMDSEQ_CMDSEQ_ENV_H
