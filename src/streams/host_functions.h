// The host's function table and the stack's printing through it.
//
// The host (the command-sequence client) registers a table of eight entries when it
// makes its first communication environment; the stack keeps one process-wide copy,
// which a later registration overwrites. The copy is read without a lock by every
// thread of the stack: its entries are atomics, and the host registers the table
// before it starts any connection.
//
// Every debug print of the stack asks the host's debug test with the connection's host
// context and prints through the host's print function. The links print through a
// c_strm_pt_dbg_prt, which goes through the environment notifier instead.
#ifndef VQ_STREAMS_HOST_FUNCTIONS_H
#define VQ_STREAMS_HOST_FUNCTIONS_H

#include <cstddef>
#include <cstdint>

class UTLangStringBase;
class c_strm_env_notifier;

typedef void* (*a_strm_alloc_fn)(std::size_t size);
typedef void (*a_strm_free_fn)(void* block);
typedef void* (*a_strm_realloc_fn)(void* block, std::size_t size);
typedef void (*a_strm_prt_fn)(void* host_ctx, const char* text);
typedef int (*a_strm_check_debug_fn)(void* host_ctx);
typedef void (*a_strm_connectionless_prt_fn)(void* param, const char* text);

// The host function table, in its fixed order. The first seven entries must be set;
// the eighth is the value always passed as the first argument of the seventh.
struct a_strm_func_list {
  a_strm_alloc_fn StrmAlloc;                          // not called by the stack
  a_strm_free_fn StrmFree;                            // not called by the stack
  a_strm_realloc_fn StrmRealloc;                      // not called by the stack
  a_strm_prt_fn StrmPrtString;                        // every print for a connection
  a_strm_prt_fn StrmPrtErrString;                     // error prints for a connection
  a_strm_check_debug_fn StrmCheckDebug;               // non-zero: debug output wanted
  a_strm_connectionless_prt_fn StrmConnectionlessPrtString;  // prints tied to no connection
  void* StrmConnectionlessPrtStringParam;             // pointer-sized: first argument of the above
};

// Bytes of a formatted numbered message, terminator included.
constexpr unsigned int kStrmMsgBytes = 2048;

extern "C" {
// Copies all eight entries into the process-wide table (the copy is made whatever the
// result), then returns 1 when each of the first seven is set and 0 otherwise. A null
// list installs an empty table and returns 0.
int i_strm_SetupStreamsExternalFunctions(const a_strm_func_list* list);
// Copies the eight current entries out.
void i_strm_GetExternalFuncList(a_strm_func_list* list);
}

namespace vq::strm {

// The library message catalog through which the stack formats numbered messages; null
// until the first environment sets it. Not owned.
void SetLibraryCatalog(UTLangStringBase* catalog);
UTLangStringBase* LibraryCatalog();

// Formats message `msg_id` with its arguments through the library catalog into
// `buf` (at most `size` bytes, always terminated; an empty text without a catalog).
// Returns the length written.
unsigned int FormatMsg(char* buf, unsigned int size, std::uint32_t msg_id, ...);

// The host's entries as the stack uses them. Each does nothing when the entry is null.
void HostPrint(void* host_ctx, const char* text);
void HostPrintError(void* host_ctx, const char* text);
bool HostDebugOn(void* host_ctx);
void HostPrintConnectionless(const char* text);
// Formats a numbered message (kStrmMsgBytes) and prints it as a connectionless text.
void HostPrintConnectionlessMsg(std::uint32_t msg_id, ...);

// The host context is the c_utils_refobj behind the host's void*: the stack takes and
// drops references on it atomically. Both accept null.
void HostCtxAddRef(void* host_ctx);
void HostCtxRelease(void* host_ctx);

}  // namespace vq::strm

// The printer of the links: prints through the environment notifier.
class c_strm_pt_dbg_prt {
 public:
  explicit c_strm_pt_dbg_prt(c_strm_env_notifier* notifier) : notifier_(notifier) {}

  // prt_msg(host_ctx, text) when host_ctx is not null.
  void msg(void* host_ctx, const char* text);
  // As msg, only when host_ctx is not null and the host's debug test is on for it.
  void Z_msg(void* host_ctx, const char* text);
  // Formats message `msg_id` with its arguments through the library catalog into a
  // kStrmMsgBytes text and prints it with msg, when host_ctx is not null.
  void msg(void* host_ctx, std::int32_t msg_id, ...);
  // As the numbered msg, only when debugging is on for host_ctx.
  void Z_msg(void* host_ctx, std::int32_t msg_id, ...);

  c_strm_env_notifier* notifier() const { return notifier_; }

 private:
  c_strm_env_notifier* notifier_;  // not owned
};

#endif  // VQ_STREAMS_HOST_FUNCTIONS_H
