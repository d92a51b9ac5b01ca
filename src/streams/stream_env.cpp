// The environment half of the stream library's C interface: environments, their
// settings and periodic work, and connect.
#include "streams/stream_env.h"

#include <atomic>
#include <new>
#include <string>

#include "streams/host_functions.h"
#include "streams/pres_state.h"
#include "streams/stream_api.h"
#include "utils/base/timer_tick.h"

namespace {

constexpr std::uint32_t kMsgCannotReceive = 9499;

std::atomic<int> g_live_envs{0};
// The environment whose catalog is the library's (the first one made).
std::atomic<c_strm_env*> g_catalog_owner{nullptr};

}  // namespace

c_strm_env::c_strm_env(c_strm_env_notifier* notifier, std::uint16_t buffer_size,
                       std::uint32_t app_kind, UTLangStringBase* catalog, UTLocale* locale)
    : controller_(buffer_size),
      sess_layer_(&controller_, &pres_new_conn, &pres_del_conn, notifier, this),
      notifier_(notifier),
      app_kind_(app_kind),
      catalog_(catalog),
      locale_(locale) {
  sess_layer_.set_locale(locale);
  // The first environment that brings a catalog lends it to the library.
  c_strm_env* none = nullptr;
  if (catalog != nullptr && g_catalog_owner.compare_exchange_strong(none, this)) {
    vq::strm::SetLibraryCatalog(catalog);
  }
  g_live_envs.fetch_add(1);
}

c_strm_env::~c_strm_env() {
  sess_layer_.delete_all_connections();
  c_strm_env* self = this;
  if (g_catalog_owner.compare_exchange_strong(self, nullptr)) {
    vq::strm::SetLibraryCatalog(nullptr);
  }
  g_live_envs.fetch_sub(1);
}

namespace vq::strm {
int LiveEnvironments() { return g_live_envs.load(); }
}  // namespace vq::strm

int StrmAllocEnv(a_strm_env* env, c_strm_env_notifier* notifier, std::uint16_t buffer_size,
                 const a_strm_func_list* functions, int app_kind, UTLangStringBase* catalog,
                 UTLocale* locale) {
  if (env == nullptr) return STRM_API_FAILED;
  *env = nullptr;
  if (i_strm_SetupStreamsExternalFunctions(functions) == 0) return STRM_API_FAILED;
  try {
    *env = new c_strm_env(notifier, buffer_size, static_cast<std::uint32_t>(app_kind), catalog,
                          locale);
  } catch (const std::bad_alloc&) {
    return STRM_API_NO_MEMORY;
  }
  return STRM_API_OK;
}

int StrmFreeEnv(a_strm_env env, int delete_notifier) {
  if (env == nullptr) return 0;
  c_strm_env_notifier* notifier = env->notifier();
  delete env;
  if (delete_notifier != 0) delete notifier;
  return 0;
}

int StrmSetParms(a_strm_env env, const a_streams_parm_block* parms) {
  if (env != nullptr) env->sess_layer().set_parms(parms);
  return 0;
}

int StrmExecute(a_strm_env env) {
  if (env != nullptr) env->sess_layer().execute();
  return 0;
}

bool StrmGetTimeout(a_strm_env env, std::uint32_t* milliseconds) {
  if (env == nullptr) return false;
  const std::uint64_t next = env->sess_layer().next_execute();
  if (next == c_strm_sess_layer::kNever) return false;
  a_timer_tick now;
  now.sample();
  std::uint64_t ms = 0;
  if (next > now.ticks) ms = (next - now.ticks) * 1000 / a_timer_tick::TicksPerSecond;
  if (milliseconds != nullptr) *milliseconds = ms > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(ms);
  return true;
}

void StrmSetLivenessTimeout(a_strm_env env, std::int16_t seconds) {
  if (env == nullptr) return;
  a_streams_parm_block block = env->sess_layer().parms();
  // set_parms frees the text it holds before it copies the new block's: hand it a copy.
  const std::string text = block.text != nullptr ? block.text : "";
  block.text = block.text != nullptr ? const_cast<char*>(text.c_str()) : nullptr;
  block.LivenessTimeout = seconds;
  env->sess_layer().set_parms(&block);
}

void StrmSetMessageCallback(a_strm_env env, a_strm_msg_callback callback, void* data) {
  if (env != nullptr) env->sess_layer().set_message_callback(callback, data);
}

void StrmSetUserMessageCallback(a_strm_env env) {
  if (env != nullptr) env->set_user_message_callback();
}

void StrmSetValidateFileTranCallback(a_strm_env env, a_strm_validate_callback callback) {
  if (env != nullptr) env->sess_layer().set_validate_callback(callback);
}

int StrmLookupServers(a_strm_env env, void* list, void* host_ctx, unsigned int flags) {
  return env != nullptr ? env->sess_layer().tran_layer().port_layer().lookup_servers(list, host_ctx, flags)
                        : 0;
}

int StrmConfirmServerAtIPAddress(a_strm_env env, const char* name, const char* address,
                                 int port) {
  return env != nullptr ? env->sess_layer().tran_layer().port_layer().confirm_server_at_ip_address(
                              name, address, port)
                        : 0;
}

int i_strm_IsPortAdded(a_strm_env env, std::uint8_t type) {
  if (env == nullptr) return 0;
  c_strm_port_layer& ports = env->sess_layer().tran_layer().port_layer();
  const a_port_type slot = type == STRM_PORT_TCPIP ? STRM_PORT_TCPIP : STRM_PORT_SHARED_MEMORY;
  return ports.port(slot) != nullptr ? 1 : 0;
}

void StrmGetPrintableListenerAddrs(a_strm_env, char*, std::uint16_t) {}

int StrmOutOfMemory() { return 0; }

int StrmConnect(c_conn_parms* parms, a_strm_env env, a_strm_conn_type type, a_strm_conn* conn,
                char* err, std::uint32_t err_len, const char* dump_directory, void* host_ctx) {
  if (conn != nullptr) *conn = nullptr;
  if (conn == nullptr || env == nullptr) return STRM_API_FAILED;
  c_strm_sconn* s = nullptr;
  const an_int_strm_error rc =
      env->sess_layer().connect(parms, type, err, err_len, host_ctx, &s);
  if (rc != STRM_OK || s == nullptr) return vq::strm::ConvertToStrmError(rc != STRM_OK ? rc : 0);
  if (s->start_receive() != STRM_OK) {
    s->drop_connection(0);
    s->delayed_delete();
    vq::strm::FormatMsg(err, err_len, kMsgCannotReceive);
    return STRM_API_FAILED;
  }
  *conn = s->handle();
  vq::strm::OpenConnDump(*conn, dump_directory);
  return STRM_API_OK;
}

// --- The host's words in a connection ------------------------------------------------------

namespace {
c_strm_sconn* conn_of(a_strm_conn h) { return h != nullptr ? c_strm_sconn::from_handle(h) : nullptr; }
}  // namespace

std::uintptr_t StrmGetUserData(a_strm_conn sconn) {
  c_strm_sconn* s = conn_of(sconn);
  return s != nullptr ? reinterpret_cast<std::uintptr_t>(s->user_data()) : 0;
}

void StrmSetUserData(a_strm_conn sconn, std::uintptr_t value) {
  if (c_strm_sconn* s = conn_of(sconn)) s->set_user_data(reinterpret_cast<void*>(value));
}

std::uintptr_t StrmGetCallbackData(a_strm_conn sconn) {
  c_strm_sconn* s = conn_of(sconn);
  return s != nullptr ? reinterpret_cast<std::uintptr_t>(s->callback_data()) : 0;
}

void StrmSetCallbackData(a_strm_conn sconn, std::uintptr_t value) {
  if (c_strm_sconn* s = conn_of(sconn)) s->set_callback_data(reinterpret_cast<void*>(value));
}

void StrmSetClientCSInfo(a_strm_conn sconn, const CharsetInfo* info) {
  if (c_strm_sconn* s = conn_of(sconn)) s->set_client_cs_info(info);
}

const CharsetInfo* StrmGetClientCSInfo(a_strm_conn sconn) {
  c_strm_sconn* s = conn_of(sconn);
  return s != nullptr ? s->client_cs_info() : nullptr;
}
