// The client library's counted start and stop, the environment's set-up and tear-down,
// the communication environment with its notifier and threads, the API name, the
// callbacks and the memory hooks.
#include "cmdseq/cmdseq_env.h"

#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "cmdseq/client_notifiers.h"
#include "cmdseq/conn_pool.h"
#include "cmdseq/error_info.h"
#include "cmdseq/host_log.h"
#include "cmdseq/request_log.h"
#include "config/conn_parms.h"
#include "net/tcp_util.h"
#include "streams/host_functions.h"
#include "streams/notifier.h"
#include "streams/stream_parms.h"
#include "streams/shm/resource_tree.h"
#include "streams/stream_api.h"
#include "utils/base/bounded_strings.h"
#include "utils/base/memory.h"
#include "utils/base/timer_tick.h"
#include "utils/etc/jdate_names.h"
#include "utils/locale/char_functions.h"
#include "utils/locale/collation.h"
#include "utils/locale/lang_string.h"
#include "utils/locale/utlocale.h"
#include "vqtasks.h"

namespace {

constexpr std::uint16_t kDefaultCommBufferSize = 7300;
constexpr std::int32_t kSqlCommEnvFailed = -832;  // the communication environment failed
constexpr std::int32_t kSqlNoMemory = -86;
// StrmAllocEnv's code for an environment that cannot be created (it answers
// STRM_API_NO_MEMORY when memory runs out and STRM_API_FAILED otherwise).
constexpr int kStrmEnvCannotCreate = 7;
constexpr unsigned long kMsgNoResourceRoot = 18031;
constexpr a_case_sensitivity kOsCollationCase = 'n';  // case ignored

// The API names CmdSeqSetAPIName accepts, compared as case-blind prefixes in this order.
constexpr const char* kApiNames[] = {"QuillonJDBC", "PHP",       "PerlDBD",
                                     "DBEXPRESS",   "CAPI_PHP",  "CAPI_PERLDBD",
                                     "CAPI_PYTHON", "CAPI_RUBY", "CAPI"};

// The library's start count and its mutex (cs_Mutex), which serialises the creation of
// the communication environment. The count changes under a start mutex of its own so that
// two threads starting the library at once do not both start the stack.
int g_start_count = 0;
a_ut_safe_pthread_mutex_t g_cs_mutex{nullptr};

pthread_mutex_t* StartMutex() {
  static const a_ut_safe_pthread_mutex_t mutex = [] {
    a_ut_safe_pthread_mutex_t m{nullptr};
    ut_safe_pthread_mutex_init(&m, nullptr);
    return m;
  }();
  return mutex.handle;
}

// Holds a mutex for a scope.
class Hold {
 public:
  explicit Hold(pthread_mutex_t* mutex) : mutex_(mutex) { pthread_mutex_lock(mutex_); }
  ~Hold() { pthread_mutex_unlock(mutex_); }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;

 private:
  pthread_mutex_t* mutex_;
};

std::once_flag g_first_env;

// The record of the process id.
a_cmdseq_return i_cs_AllocPlatformEnv(a_cmdseq_env* env) {
  auto* pid = static_cast<std::uint32_t*>(ut_malloc(sizeof(std::uint32_t)));
  if (pid == nullptr) return CMDSEQ_NO_MEMORY;
  *pid = static_cast<std::uint32_t>(getpid());
  env->pid = pid;
  return CMDSEQ_OK;
}

// The relay the stack calls with every server message; `conn_data` carries the
// connection's callback value and `code` the server's signed code. Its result is unused.
int i_cs_MessageRelay(void* data, void* conn_data, std::uint8_t type, std::uint32_t code,
                      std::uint16_t length, const char* text, void* host_ctx) {
  const auto conn_value = reinterpret_cast<std::uintptr_t>(conn_data);
  if (conn_value == 0) return 0;
  auto* env = static_cast<a_cmdseq_env*>(data);
  const a_cmdseq_message_callback callback =
      env != nullptr ? env->message_callback.load() : nullptr;
  if (callback != nullptr) {
    callback(conn_value, type, static_cast<std::int32_t>(code), length, text);
    return 0;
  }
  // The text arrives counted; it is printed and logged terminated.
  char* copy = static_cast<char*>(ut_malloc(static_cast<std::size_t>(length) + 1));
  if (copy == nullptr) return 0;
  if (text != nullptr && length != 0) std::memcpy(copy, text, length);
  copy[text != nullptr ? length : 0] = '\0';
  if (type == 1 || type == 2) {
    std::fprintf(stderr, "%s\n", copy);
    std::fflush(stderr);
  }
  if (i_cs_HostCheckDebug(host_ctx) != 0) i_cs_HostPrtString(host_ctx, copy);
  ut_free(copy);
  return 0;
}

// The relay the stack asks before a server-driven file transfer. Without a check
// registered by the application, or for a connection without a callback value (one the
// application never named, so no check can be asked on its behalf), the transfer is
// refused and the application's check is not called.
int i_cs_ValidateFileTranRelay(void* data, void* conn_data, const char* file_name,
                               std::uint32_t write, std::uint32_t* allow) {
  auto* env = static_cast<a_cmdseq_env*>(data);
  const a_cmdseq_validate_file_tran_callback callback =
      env != nullptr ? env->validate_file_tran_callback.load() : nullptr;
  if (callback == nullptr || conn_data == nullptr) return 0;
  int answer = allow != nullptr ? static_cast<int>(*allow) : 0;
  const int rc = callback(reinterpret_cast<std::uintptr_t>(conn_data), file_name,
                          write != 0 ? 1 : 0, &answer);
  if (allow != nullptr) *allow = static_cast<std::uint32_t>(answer);
  return rc;
}

// The host function table handed to the stack. The stack keeps a copy.
a_strm_func_list i_cs_HostFunctions(a_cmdseq_env* env) {
  a_strm_func_list functions{};
  functions.StrmAlloc = CmdSeqAllocExt;
  functions.StrmFree = CmdSeqFreeExt;
  functions.StrmRealloc = CmdSeqReallocExt;
  functions.StrmPrtString = i_cs_HostPrtString;
  functions.StrmPrtErrString = i_cs_HostPrtString;
  functions.StrmCheckDebug = i_cs_HostCheckDebug;
  functions.StrmConnectionlessPrtString = i_cs_HostConnectionlessPrint;
  functions.StrmConnectionlessPrtStringParam = env->log_files;
  return functions;
}

// Error -832 with message 18031 as its parameter, when there is an error block.
void i_cs_NoResourceRootError(a_cmdseq_env* env, a_cmdseq_error_info* err) {
  if (err == nullptr) return;
  i_cs_SetErrorInfo(err, kSqlCommEnvFailed);
  char text[512] = "";
  if (env->lang != nullptr) env->lang->FormatMiscLangStr(kMsgNoResourceRoot, text, sizeof text);
  i_cs_SetErrorParam(err, text);
}

// The body of i_cs_AllocStrmEnv, run under cs_Mutex.
a_cmdseq_return i_cs_AllocStrmEnvLocked(a_cmdseq_env* env, c_conn_parms* parms,
                                        a_cmdseq_error_info* err) {
  if (env->strm_env != nullptr) return CMDSEQ_OK;
  if (!CanCreateUnixResourceRoot()) {
    i_cs_NoResourceRootError(env, err);
    return CMDSEQ_COMM_FAILURE;
  }
  auto* notifier = new c_cmdseq_env_notifier(env->app_type);
  if (!notifier->is_registered()) {
    delete notifier;
    return CMDSEQ_COMM_FAILURE;
  }
  const int kind = i_cs_StrmAppKind(env->app_type);
  if (kind < 0) {
    delete notifier;
    return CMDSEQ_FAILED;
  }
  const a_strm_func_list functions = i_cs_HostFunctions(env);
  a_strm_env strm_env = nullptr;
  const int rc = StrmAllocEnv(&strm_env, notifier, i_cs_CommBufferSize(parms), &functions, kind,
                              env->lang, env->locale);
  if (rc != STRM_API_OK) {
    delete notifier;
    if (rc == kStrmEnvCannotCreate) {
      if (err != nullptr) i_cs_SetErrorInfo(err, kSqlCommEnvFailed);
      return CMDSEQ_COMM_FAILURE;
    }
    if (rc == STRM_API_NO_MEMORY) {
      if (err != nullptr) i_cs_SetErrorInfo(err, kSqlNoMemory);
      return CMDSEQ_NO_MEMORY;
    }
    return CMDSEQ_FAILED;
  }
  env->strm_env = strm_env;
  env->notifier = notifier;
  StrmSetMessageCallback(strm_env, i_cs_MessageRelay, env);
  if (env->message_callback.load() != nullptr) StrmSetUserMessageCallback(strm_env);
  StrmSetValidateFileTranCallback(strm_env, i_cs_ValidateFileTranRelay);
  notifier->set_env(env);
  return notifier->start_control() ? CMDSEQ_OK : CMDSEQ_FAILED;
}

// The library mutex, or null while the library is not started.
pthread_mutex_t* i_cs_LibraryMutex() {
  Hold hold(StartMutex());
  return g_start_count != 0 ? g_cs_mutex.handle : nullptr;
}

template <typename T>
void i_cs_Delete(T*& object) {
  delete object;
  object = nullptr;
}

}  // namespace

// --- Library start and stop ----------------------------------------------------------------

int CmdSeqInit() {
  Hold hold(StartMutex());
  if (++g_start_count != 1) return g_start_count - 1;
  ut_safe_pthread_mutex_init(&g_cs_mutex, nullptr);
  return StrmInit();
}

void CmdSeqFini() {
  Hold hold(StartMutex());
  if (g_start_count == 0) return;
  if (--g_start_count != 0) return;
  StrmFini();
  ut_safe_pthread_mutex_destroy(&g_cs_mutex);
}

// --- Environment -----------------------------------------------------------------------------

a_cmdseq_return CmdSeqAllocEnv(a_cmdseq_env* env) {
  std::call_once(g_first_env, [] { timelib_init(); });

  env->strm_env = nullptr;
  env->notifier = nullptr;
  env->api_name = nullptr;
  env->conn_count = 0;
  env->wait_callback = nullptr;
  env->message_callback = nullptr;
  env->debug_message_callback = nullptr;
  env->conn_dropped_callback = nullptr;
  env->validate_file_tran_callback = nullptr;
  env->lang = nullptr;
  env->locale = nullptr;
  env->collation = nullptr;
  env->date = nullptr;
  env->pid = nullptr;
  env->out_of_memory = 0;
  env->os_charset = nullptr;
  env->os_language = nullptr;
  env->conn_pool = nullptr;
  env->odbc_flag = 0;
  env->log_files = nullptr;

  // The helpers start before anything can fail, so that the tear-down always stops them
  // once.
  LSCharFunctions.init();
  TcpUtil::Init();

  env->log_files = i_cs_CreateLogFileList();
  if (env->log_files == nullptr) return CMDSEQ_FAILED;

  const a_cmdseq_return platform = i_cs_AllocPlatformEnv(env);
  if (platform != CMDSEQ_OK) return platform;

  env->locale = new (std::nothrow) UTLocale();
  if (env->locale == nullptr) return CMDSEQ_FAILED;
  env->os_charset = UTLocale::FindOSCharset(1);
  env->os_language = UTLocale::FindOSLanguage(1);

  env->lang = new (std::nothrow) UTLangString(env->locale);
  if (env->lang == nullptr) return CMDSEQ_FAILED;
  if (env->lang->Init(nullptr, nullptr, 0) != LS_INIT_SUCCESS) return CMDSEQ_FAILED;

  env->collation = new (std::nothrow) UTCollation(env->locale);
  if (env->collation == nullptr) return CMDSEQ_FAILED;
  env->collation->set_os_collation(kOsCollationCase);

  env->date = new (std::nothrow) JDate(env->collation);
  if (env->date == nullptr) return CMDSEQ_FAILED;
  env->date->Init(*env->lang);

  env->conn_pool = new (std::nothrow) a_cmdseq_conn_pool(env);
  if (env->conn_pool == nullptr) return CMDSEQ_FAILED;
  return CMDSEQ_OK;
}

a_cmdseq_return CmdSeqFreeEnv(a_cmdseq_env* env) {
  // Parked connections go first, while their streams still have an environment; the
  // pool itself goes once the controller thread, which closes timed-out ones, has ended.
  if (env->conn_pool != nullptr) env->conn_pool->drop_cached(false);
  c_cmdseq_env_notifier* notifier = env->notifier;
  if (notifier != nullptr) notifier->stop_control();
  i_cs_Delete(env->conn_pool);
  if (env->strm_env != nullptr) {
    // The stack deletes the notifier it was given when told that the threads ran. The
    // notifier is forgotten only once the stack took it, so that a second tear-down
    // after a refusal passes the same flag and nothing is left behind.
    if (StrmFreeEnv(env->strm_env, notifier != nullptr ? 1 : 0) != 0) return CMDSEQ_FAILED;
    env->strm_env = nullptr;
  } else {
    delete notifier;
  }
  env->notifier = nullptr;

  i_cs_DestroyLogFileList(env->log_files);
  env->log_files = nullptr;
  ut_free(env->pid);
  env->pid = nullptr;
  i_cs_Delete(env->date);
  i_cs_Delete(env->collation);
  i_cs_Delete(env->lang);
  i_cs_Delete(env->locale);
  ut_free(env->api_name);
  env->api_name = nullptr;
  TcpUtil::Fini();
  LSCharFunctions.fini();
  return CMDSEQ_OK;
}

std::uint16_t i_cs_CommBufferSize(c_conn_parms* parms) {
  // A parameter block without CommBufferSize keeps the default: the slot reads 0 then,
  // and the stack needs a real buffer size.
  if (parms == nullptr || !parms->isSpecified(kSlotCommBufferSize)) {
    return kDefaultCommBufferSize;
  }
  const std::int32_t size = parms->getInt(kSlotCommBufferSize);
  if (size <= 0) return kDefaultCommBufferSize;
  return static_cast<std::uint16_t>(size > 0xFFFF ? 0xFFFF : size);
}

void i_cs_SetEnvironmentParms(a_strm_env strm_env, c_conn_parms* parms) {
  if (strm_env == nullptr || parms == nullptr) return;
  a_streams_parm_block block{};
  const std::int32_t size = parms->getInt(kSlotCommBufferSize);
  const std::int32_t idle = parms->getInt(kSlotIdleTimeout);
  block.CommBufferSize = static_cast<std::uint32_t>(size < 0 ? 0 : size);
  block.LivenessTimeout = parms->getInt(kSlotLivenessTimeout);
  block.IdleTimeout = static_cast<std::uint32_t>(idle < 0 ? 0 : idle);
  block.word7 = 255;
  (void)StrmSetParms(strm_env, &block);
}

int i_cs_StrmAppKind(std::uint32_t app_type) {
  switch (app_type) {
    case 1:
      return 2;
    case 2:
      return 0;
    case 3:
      return 3;
    case 4:
      return 4;
    default:
      return -1;
  }
}

a_cmdseq_return i_cs_AllocStrmEnv(a_cmdseq_env* env, c_conn_parms* parms,
                                  a_cmdseq_error_info* err) {
  pthread_mutex_t* cs_mutex = i_cs_LibraryMutex();
  if (cs_mutex == nullptr) return CMDSEQ_FAILED;  // the library is not started
  Hold hold(cs_mutex);
  return i_cs_AllocStrmEnvLocked(env, parms, err);
}

int CmdSeqSetAPIName(a_cmdseq_env* env, const char* name) {
  if (env->api_name != nullptr) return 1;
  if (name == nullptr) return 0;
  for (const char* known : kApiNames) {
    if (strncasecmp(name, known, std::strlen(known)) == 0) {
      env->api_name = ut_strdup(name);
      return 1;
    }
  }
  return 0;
}

void CmdSeqRegisterWaitCallback(a_cmdseq_env* env, a_cmdseq_wait_callback callback) {
  env->wait_callback = callback;
}

void CmdSeqRegisterMessageCallback(a_cmdseq_env* env, a_cmdseq_message_callback callback) {
  // Under the library mutex, so that a communication environment being made at the same
  // time either sees the callback or is told about it here.
  pthread_mutex_t* cs_mutex = i_cs_LibraryMutex();
  if (cs_mutex != nullptr) pthread_mutex_lock(cs_mutex);
  env->message_callback = callback;
  if (callback != nullptr && env->strm_env != nullptr)
    StrmSetUserMessageCallback(env->strm_env);
  if (cs_mutex != nullptr) pthread_mutex_unlock(cs_mutex);
}

void CmdSeqRegisterDebugMessageCallback(a_cmdseq_env* env,
                                        a_cmdseq_debug_message_callback callback) {
  env->debug_message_callback = callback;
}

void CmdSeqRegisterConnDroppedCallback(a_cmdseq_env* env,
                                       a_cmdseq_conn_dropped_callback callback) {
  env->conn_dropped_callback = callback;
}

void CmdSeqRegisterValidateFileTranCallback(a_cmdseq_env* env,
                                            a_cmdseq_validate_file_tran_callback callback) {
  env->validate_file_tran_callback = callback;
}

// --- Memory hooks
// ------------------------------------------------------------------------------

void CmdSeqInitMem() {}
void CmdSeqFiniMem() {}
void CmdSeqDumpMemUsage(void*, const char*, int) {}
int CmdSeqOutOfMemory() { return 0; }
void* CmdSeqAllocExt(std::size_t size) { return ut_alloc(size); }
void* CmdSeqAllocUnused(std::size_t size) { return ut_malloc(size); }
void* CmdSeqReallocExt(void* block, std::size_t size) { return ut_realloc(block, size); }
void CmdSeqFreeExt(void* block) { ut_free(block); }
