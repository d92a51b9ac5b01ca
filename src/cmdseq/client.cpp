// The connection's life (construction, init, fini, reset, removal and drop), its pending
// information requests, and the process's application type.
#include "cmdseq/client.h"

#include <cstring>
#include <new>

#include "cmdseq/cursor.h"
#include "cmdseq/error_info.h"
#include "cmdseq/request_log.h"
#include "cmdseq/stmt_cache.h"
#include "streams/stream_api.h"
#include "utils/base/bounded_strings.h"
#include "utils/base/memory.h"
#include "utils/locale/lang_string.h"

namespace {

std::atomic<std::uint32_t> g_app_type{0};

constexpr std::uint32_t kFirstPendingCap = 20;
constexpr std::uint8_t kItemDropStmt = 23;
constexpr std::uint8_t kItemDropCachedStmt = 32;
constexpr std::uint8_t kItemCloseByName = 48;

void free_pending_name(a_cmdseq_pending_info_req& req) {
  if (req.kind == CS_PENDING_CLOSE_LONG_NAME) {
    ut_free(req.data.heap_name);
    req.data.heap_name = nullptr;
  }
}

}  // namespace

a_cmdseq_conn::a_cmdseq_conn(a_cmdseq_env* env, a_strm_conn strm_conn) noexcept
    : env(env), strm_conn(strm_conn) {
  init();
  if (env == nullptr || env->lang == nullptr) return;
  // The connection's own catalog reads the environment's files; it converts into the
  // connection's character set once the connect sets it.
  auto* own = new (std::nothrow) UTLangStringBase(env->locale);
  if (own == nullptr) {
    lang = env->lang;
    return;
  }
  own->set_client_charset(env->lang->client_charset());
  own->set_argument_charset(env->lang->argument_charset());
  own->SetResFiles(const_cast<UTResFile**>(env->lang->files()), env->lang->file_count());
  lang = own;
  own_lang = true;
}

a_cmdseq_conn::~a_cmdseq_conn() {
  i_cs_FreeCursorLists(this);
  fini();
  if (attrib != nullptr) attrib->release();
  if (own_lang) delete lang;
}

void a_cmdseq_conn::init() {
  prefetch_cursor = nullptr;
  cancel_bits.store(0);
  in_request.store(0);
  exec_count = 0;
  status &=
      static_cast<std::uint8_t>(~(CS_STATUS_WATCH_111 | CS_STATUS_SAW_111 | CS_STATUS_NO_WORK));
  flags2 &= static_cast<std::uint8_t>(~0x07);
  validate_hits = validate_misses = 0;
  max_cached = 0;
  dropped_count = cached_count = shell_count = 0;
  next_stmt_no = 1;
  pending_cap = pending_count = 0;
  pending = nullptr;
}

void a_cmdseq_conn::fini() {
  while (a_cmdseq_stmt_info* info = active_infos.first_element()) {
    info_bytes -= static_cast<std::uint32_t>(sizeof(a_cmdseq_stmt_info));
    delete info;
  }
  while (a_cmdseq_stmt_info* info = dropped_infos.first_element()) {
    if (info->counted_cached && cached_count > 0) --cached_count;
    if (info->text == nullptr && shell_count > 0) --shell_count;
    if (dropped_count > 0) --dropped_count;
    info_bytes -= static_cast<std::uint32_t>(sizeof(a_cmdseq_stmt_info));
    delete info;
  }
  info_bytes = 0;
  for (std::uint32_t i = 0; i < pending_count; ++i) free_pending_name(pending[i]);
  ut_free(pending);
  pending = nullptr;
  pending_cap = pending_count = 0;
}

void a_cmdseq_conn::reset() {
  status &= static_cast<std::uint8_t>(~CS_STATUS_CONNECTED);
  i_cs_FreeCursorLists(this);
  fini();
  init();
  status |= CS_STATUS_CONNECTED;
}

// --- Pending information requests ------------------------------------------------------------

bool a_cmdseq_conn::grow_info_req_array_if_required() {
  if (pending_count < pending_cap) return true;
  const std::uint32_t cap = pending_cap == 0 ? kFirstPendingCap : pending_cap * 2;
  auto* grown = static_cast<a_cmdseq_pending_info_req*>(
      ut_malloc(static_cast<std::size_t>(cap) * sizeof(a_cmdseq_pending_info_req)));
  if (grown == nullptr) return false;
  if (pending_count != 0) {
    std::memcpy(grown, pending, pending_count * sizeof(a_cmdseq_pending_info_req));
  }
  ut_free(pending);
  pending = grown;
  pending_cap = cap;
  return true;
}

void a_cmdseq_conn::add_pending_info_req_data(std::uint32_t kind,
                                              const a_cmdseq_pending_info_req& data) {
  if ((flags2 & CS_FLAGS2_RESENDING) != 0 || !grow_info_req_array_if_required()) return;
  a_cmdseq_pending_info_req& req = pending[pending_count++];
  req = data;
  req.kind = kind;
}

void a_cmdseq_conn::add_pending_info_req_handle(std::uint32_t kind, std::uint32_t handle) {
  a_cmdseq_pending_info_req req{};
  req.data.handle = handle;
  add_pending_info_req_data(kind, req);
}

void a_cmdseq_conn::add_pending_info_req_cursor_name(const char* name) {
  if (name == nullptr || (flags2 & CS_FLAGS2_RESENDING) != 0) return;
  a_cmdseq_pending_info_req req{};
  const std::size_t n = std::strlen(name);
  if (n < kPendingInlineName) {
    std::memcpy(req.data.name, name, n + 1);
    add_pending_info_req_data(CS_PENDING_CLOSE_NAME, req);
    return;
  }
  req.data.heap_name = ut_strdup(name);
  const std::uint32_t before = pending_count;
  add_pending_info_req_data(CS_PENDING_CLOSE_LONG_NAME, req);
  if (pending_count == before) ut_free(req.data.heap_name);  // not recorded
}

void a_cmdseq_conn::clear_pending_info_reqs(a_cmdseq_error_info* err) {
  if (err != nullptr && err->sqlcode == -299) return;  // a cancel: they are sent again
  for (std::uint32_t i = 0; i < pending_count; ++i) free_pending_name(pending[i]);
  pending_count = 0;
}

void a_cmdseq_conn::resend_pending_info_reqs() {
  flags2 |= CS_FLAGS2_RESENDING;
  for (std::uint32_t i = 0; i < pending_count; ++i) {
    const a_cmdseq_pending_info_req& req = pending[i];
    switch (req.kind) {
      case CS_PENDING_DROP:
        (void)SQLPresSendHandle(strm_conn, kItemDropStmt, req.data.handle, 0);
        break;
      case CS_PENDING_CACHED_DROP:
        (void)SQLPresSendHandle(strm_conn, kItemDropCachedStmt, req.data.handle, 0);
        break;
      case CS_PENDING_CLOSE_NAME:
        (void)SQLPresSendBytes(strm_conn, kItemCloseByName, req.data.name,
                               static_cast<std::uint32_t>(std::strlen(req.data.name)), 0);
        break;
      case CS_PENDING_CLOSE_LONG_NAME:
        (void)SQLPresSendBytes(strm_conn, kItemCloseByName, req.data.heap_name,
                               static_cast<std::uint32_t>(std::strlen(req.data.heap_name)), 0);
        break;
      default:
        break;
    }
  }
  flags2 &= static_cast<std::uint8_t>(~CS_FLAGS2_RESENDING);
}

// --- Creation, removal and drop --------------------------------------------------------------

a_cmdseq_conn* i_cs_AddNewConnection(a_strm_conn strm_conn, a_cmdseq_env* env,
                                     std::uintptr_t cb_value) {
  StrmSetCallbackData(strm_conn, cb_value);
  auto* conn = new a_cmdseq_conn(env, strm_conn);  // the library's policy: never null
  if (env != nullptr) env->conn_count.fetch_add(1);
  return conn;
}

void i_cs_RemoveConnection(a_cmdseq_conn* conn) {
  // The reference that connecting gave is dropped once, by whichever of the failure
  // paths takes the connection out of service first.
  if ((conn->status & CS_STATUS_CONNECTED) == 0) return;
  i_cs_FreeCursorLists(conn);
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
