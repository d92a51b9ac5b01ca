#include "streams/host_functions.h"

#include <atomic>
#include <cstdarg>

#include "streams/notifier.h"
#include "utils/base/refobj.h"
#include "utils/locale/lang_string.h"

namespace {

// The process-wide copy of the host's table.
std::atomic<a_strm_alloc_fn> p_StrmAlloc{nullptr};
std::atomic<a_strm_free_fn> p_StrmFree{nullptr};
std::atomic<a_strm_realloc_fn> p_StrmRealloc{nullptr};
std::atomic<a_strm_prt_fn> p_StrmPrtString{nullptr};
std::atomic<a_strm_prt_fn> p_StrmPrtErrString{nullptr};
std::atomic<a_strm_check_debug_fn> p_StrmCheckDebug{nullptr};
std::atomic<a_strm_connectionless_prt_fn> p_StrmConnectionlessPrtString{nullptr};
std::atomic<void*> p_StrmConnectionlessPrtStringParam{nullptr};

std::atomic<UTLangStringBase*> library_catalog{nullptr};

unsigned int vformat(char* buf, unsigned int size, std::uint32_t msg_id, va_list args) {
  if (buf == nullptr || size == 0) return 0;
  buf[0] = '\0';
  UTLangStringBase* catalog = library_catalog.load(std::memory_order_acquire);
  if (catalog == nullptr) return 0;
  return catalog->VFormatMiscLangStr(msg_id, buf, size, args);
}

}  // namespace

extern "C" int i_strm_SetupStreamsExternalFunctions(const a_strm_func_list* list) {
  const a_strm_func_list empty{};
  const a_strm_func_list& l = list != nullptr ? *list : empty;
  p_StrmAlloc.store(l.StrmAlloc, std::memory_order_release);
  p_StrmFree.store(l.StrmFree, std::memory_order_release);
  p_StrmRealloc.store(l.StrmRealloc, std::memory_order_release);
  p_StrmPrtString.store(l.StrmPrtString, std::memory_order_release);
  p_StrmPrtErrString.store(l.StrmPrtErrString, std::memory_order_release);
  p_StrmCheckDebug.store(l.StrmCheckDebug, std::memory_order_release);
  p_StrmConnectionlessPrtString.store(l.StrmConnectionlessPrtString, std::memory_order_release);
  p_StrmConnectionlessPrtStringParam.store(l.StrmConnectionlessPrtStringParam,
                                           std::memory_order_release);
  const bool complete = l.StrmAlloc != nullptr && l.StrmFree != nullptr &&
                        l.StrmRealloc != nullptr && l.StrmPrtString != nullptr &&
                        l.StrmPrtErrString != nullptr && l.StrmCheckDebug != nullptr &&
                        l.StrmConnectionlessPrtString != nullptr;
  return complete ? 1 : 0;
}

extern "C" void i_strm_GetExternalFuncList(a_strm_func_list* list) {
  if (list == nullptr) return;
  list->StrmAlloc = p_StrmAlloc.load(std::memory_order_acquire);
  list->StrmFree = p_StrmFree.load(std::memory_order_acquire);
  list->StrmRealloc = p_StrmRealloc.load(std::memory_order_acquire);
  list->StrmPrtString = p_StrmPrtString.load(std::memory_order_acquire);
  list->StrmPrtErrString = p_StrmPrtErrString.load(std::memory_order_acquire);
  list->StrmCheckDebug = p_StrmCheckDebug.load(std::memory_order_acquire);
  list->StrmConnectionlessPrtString =
      p_StrmConnectionlessPrtString.load(std::memory_order_acquire);
  list->StrmConnectionlessPrtStringParam =
      p_StrmConnectionlessPrtStringParam.load(std::memory_order_acquire);
}

namespace vq::strm {

void SetLibraryCatalog(UTLangStringBase* catalog) {
  library_catalog.store(catalog, std::memory_order_release);
}

UTLangStringBase* LibraryCatalog() { return library_catalog.load(std::memory_order_acquire); }

unsigned int FormatMsg(char* buf, unsigned int size, std::uint32_t msg_id, ...) {
  va_list args;
  va_start(args, msg_id);
  const unsigned int n = vformat(buf, size, msg_id, args);
  va_end(args);
  return n;
}

void HostPrint(void* host_ctx, const char* text) {
  if (a_strm_prt_fn f = p_StrmPrtString.load(std::memory_order_acquire)) f(host_ctx, text);
}

void HostPrintError(void* host_ctx, const char* text) {
  if (a_strm_prt_fn f = p_StrmPrtErrString.load(std::memory_order_acquire)) f(host_ctx, text);
}

bool HostDebugOn(void* host_ctx) {
  a_strm_check_debug_fn f = p_StrmCheckDebug.load(std::memory_order_acquire);
  return f != nullptr && f(host_ctx) != 0;
}

void HostPrintConnectionless(const char* text) {
  a_strm_connectionless_prt_fn f =
      p_StrmConnectionlessPrtString.load(std::memory_order_acquire);
  if (f != nullptr) f(p_StrmConnectionlessPrtStringParam.load(std::memory_order_acquire), text);
}

void HostPrintConnectionlessMsg(std::uint32_t msg_id, ...) {
  char text[kStrmMsgBytes];
  va_list args;
  va_start(args, msg_id);
  vformat(text, sizeof text, msg_id, args);
  va_end(args);
  HostPrintConnectionless(text);
}

void HostCtxAddRef(void* host_ctx) {
  if (host_ctx != nullptr) static_cast<c_utils_refobj*>(host_ctx)->add_ref();
}

void HostCtxRelease(void* host_ctx) {
  if (host_ctx != nullptr) static_cast<c_utils_refobj*>(host_ctx)->release();
}

}  // namespace vq::strm

void c_strm_pt_dbg_prt::msg(void* host_ctx, const char* text) {
  if (host_ctx != nullptr && notifier_ != nullptr) notifier_->prt_msg(host_ctx, text);
}

void c_strm_pt_dbg_prt::Z_msg(void* host_ctx, const char* text) {
  if (host_ctx != nullptr && vq::strm::HostDebugOn(host_ctx)) msg(host_ctx, text);
}

void c_strm_pt_dbg_prt::msg(void* host_ctx, std::int32_t msg_id, ...) {
  if (host_ctx == nullptr) return;
  char text[kStrmMsgBytes];
  va_list args;
  va_start(args, msg_id);
  vformat(text, sizeof text, static_cast<std::uint32_t>(msg_id), args);
  va_end(args);
  msg(host_ctx, text);
}

void c_strm_pt_dbg_prt::Z_msg(void* host_ctx, std::int32_t msg_id, ...) {
  if (host_ctx == nullptr || !vq::strm::HostDebugOn(host_ctx)) return;
  char text[kStrmMsgBytes];
  va_list args;
  va_start(args, msg_id);
  vformat(text, sizeof text, static_cast<std::uint32_t>(msg_id), args);
  va_end(args);
  msg(host_ctx, text);
}
