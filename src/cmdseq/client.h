// The client connection, as far as the request core, the value readers, the error blocks
// and the request log use it (the client environment is in cmdseq_env.h). The
// connection's cursors and statement cache join the record with the code that keeps them.
#ifndef VQ_CMDSEQ_CLIENT_H
#define VQ_CMDSEQ_CLIENT_H

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "cmdseq/cmdseq_env.h"
#include "cmdseq/cmdseq_return.h"
#include "streams/presentation.h"
#include "utils/base/refobj.h"

class JDate;
class UTLangString;
class UTLangStringBase;
class UTLocale;
class a_cmdseq_conn_attrib;
class a_cmdseq_conn_pool;
class a_cmdseq_pooled_conn_str;
struct a_cmdseq_cursor;
struct a_cmdseq_error_info;
struct a_cmdseq_log_file_list;

// Bits of a_cmdseq_conn::status.
constexpr std::uint8_t CS_STATUS_MULTIROW = 0x01;       // multi-row fetch allowed
constexpr std::uint8_t CS_STATUS_CHARSET_GIVEN = 0x02;  // client character set given explicitly
constexpr std::uint8_t CS_STATUS_CHARSET_CHANGED = 0x04;
constexpr std::uint8_t CS_STATUS_NCHARSET_CHANGED = 0x08;
constexpr std::uint8_t CS_STATUS_CONNECTED = 0x10;
constexpr std::uint8_t CS_STATUS_WATCH_111 = 0x20;  // watch for warning 111
constexpr std::uint8_t CS_STATUS_SAW_111 = 0x40;    // warning 111 arrived
constexpr std::uint8_t CS_STATUS_NO_WORK = 0x80;    // no uncommitted work since commit/rollback

// Bits of a_cmdseq_conn::cancel_bits.
constexpr std::uint32_t CS_CANCEL_TO_DRAIN = 0x02;  // an attention was sent; its ack is due
constexpr std::uint32_t CS_CANCEL_SENDING = 0x04;   // a thread is sending an attention now

// Bits of a_cmdseq_conn::flags2.
constexpr std::uint8_t CS_FLAGS2_CACHE_ON = 0x02;   // the statement-information cache is on
constexpr std::uint8_t CS_FLAGS2_RESENDING = 0x04;  // pending information requests are resent

// Kinds of pending information requests.
constexpr std::uint32_t CS_PENDING_DROP = 1;             // item 23 with a server statement
constexpr std::uint32_t CS_PENDING_CACHED_DROP = 2;      // item 32 with a server statement
constexpr std::uint32_t CS_PENDING_CLOSE_NAME = 3;       // item 48, the name kept inline
constexpr std::uint32_t CS_PENDING_CLOSE_LONG_NAME = 4;  // item 48, the name on the heap
constexpr std::size_t kPendingInlineName = 20;  // names shorter than this are kept inline

struct a_cmdseq_pending_info_req {
  std::uint32_t kind;  // CS_PENDING_*
  union {
    std::uint32_t handle;           // drops
    char name[kPendingInlineName];  // CS_PENDING_CLOSE_NAME, zero-terminated
    char* heap_name;                // CS_PENDING_CLOSE_LONG_NAME (ut_alloc)
  } data;
};

class a_cmdseq_stmt_info;
struct a_cmdseq_prep_param;
struct a_cmdseq_cursor_node;
struct a_cmdseq_flush_node;

// One connection of the protocol. Reference counted: it starts with one reference, and
// i_cs_RemoveConnection drops one. One thread at a time makes requests on it; only
// CmdSeqCancel (cancel_bits, in_request, the connected bit) and the reference count are
// touched by others.
class a_cmdseq_conn : public c_utils_refobj {
 public:
  a_cmdseq_conn(a_cmdseq_env* env, a_strm_conn strm_conn) noexcept;
  ~a_cmdseq_conn() override;  // fini()

  // Cursors, counters, flags and the bookkeeping below back to their first state.
  void init();
  // Destroys every statement entry and the pending requests.
  void fini();
  // For a connection going into the pool: not connected while its state is cleared.
  void reset();

  // --- Pending information requests -----------------------------------------------------
  // Recorded only while they are not being resent; a request that finds no room (and
  // cannot grow the array) is not recorded.
  void add_pending_info_req_data(std::uint32_t kind, const a_cmdseq_pending_info_req& data);
  void add_pending_info_req_handle(std::uint32_t kind, std::uint32_t handle);
  void add_pending_info_req_cursor_name(const char* name);
  bool grow_info_req_array_if_required();
  // Forgets them after a reply read to its end, unless the block holds a cancel (-299).
  void clear_pending_info_reqs(a_cmdseq_error_info* err);
  // Writes every pending request again, in order, into the current request.
  void resend_pending_info_reqs();

  // --- Statement-information cache ---------------------------------------------------------
  void set_max_cached_stmt(std::uint16_t count);
  void increment_execute_count();
  bool should_cache_stmt_info(a_cmdseq_stmt_info* info);
  // The entry for a statement about to be prepared: a dropped entry of the same text
  // and prepare options, else a reused or new one. Null with *result 4 (error -132) or
  // 6 (out of memory).
  a_cmdseq_stmt_info* new_stmt_info(const a_cmdseq_prep_param* param, a_cmdseq_error_info* err,
                                    a_cmdseq_return* result);
  void add_to_dropped_stmt_list(a_cmdseq_stmt_info* info);

  a_cmdseq_env* env;
  a_strm_conn strm_conn;                       // every item of the connection goes here
  a_cmdseq_cursor* prefetch_cursor = nullptr;  // cursor whose prefetch is in flight
  std::atomic<std::uint32_t> cancel_bits{0};   // CS_CANCEL_*; changed atomically only
  std::atomic<std::uint32_t> in_request{0};    // 1 while a request is in flight
  std::uint32_t server_handle = 0;             // the connection number of the connect reply
  std::uint16_t server_strm_ver = 0;           // the server's protocol version
  std::uint16_t char_width = 1;                // bytes per character of the client charset
  std::uint32_t exec_count = 0;                // executions on this connection
  // The request log's attributes, or null; the connection holds one reference.
  a_cmdseq_conn_attrib* attrib = nullptr;
  // The connection's message strings: its own catalog over the environment's locale and
  // files (own_lang), or the environment's when that could not be made; null without
  // environment strings.
  UTLangStringBase* lang = nullptr;
  bool own_lang = false;
  // CS_STATUS_*; atomic because CmdSeqCancel reads the connected bit from another thread
  // while the request thread changes other bits.
  std::atomic<std::uint8_t> status{0x11};
  std::uint8_t flags2 = 0;  // CS_FLAGS2_*
  bool closing = false;     // the server closed the connection and its last status is read

  // Statement-information cache.
  float validate_hits = 0;  // statistics of validates, reset when the cache comes back on
  float validate_misses = 0;
  std::uint16_t max_cached = 0;     // most statements kept prepared on the server; 0: off
  std::uint16_t cache_limit = 50;   // most entries on the dropped list
  std::uint16_t dropped_count = 0;  // entries on the dropped list
  std::uint16_t cached_count = 0;   // dropped entries whose server statement is prepared
  std::uint16_t shell_count = 0;    // dropped entries without text
  c_utils_list<a_cmdseq_stmt_info> active_infos;   // in use, newest first
  c_utils_list<a_cmdseq_stmt_info> dropped_infos;  // text entries first, shells last
  std::uint32_t next_stmt_no = 1;
  std::uint32_t info_bytes = 0;  // memory held by statement entries and their texts

  // Pending information requests.
  std::uint32_t pending_cap = 0;
  std::uint32_t pending_count = 0;
  a_cmdseq_pending_info_req* pending = nullptr;

  // Statements, cursors and fetching.
  a_cmdseq_cursor_node* cursors = nullptr;    // open cursors, newest first
  a_cmdseq_flush_node* flush_list = nullptr;  // cursor handles whose buffered rows are stale
  bool prefetch_on = true;                    // prefetch switch (set at connect)
  bool prefetch_warned = false;               // the memory-budget warning was logged
  std::uint16_t prefetch_rows = 10;           // prefetch row setting (set at connect)
  std::uint32_t fetch_budget = 1024 * 1024;   // fetch-memory budget, bytes (set at connect)
  std::uint32_t fetch_bytes_in_use = 0;       // fetch memory held by buffers and blocks
  std::uint8_t close_mode = 1;                // 1 or 2: when a close goes by name
  float close_s1 = 0;                         // close statistics (growth at the next open)
  float close_s2 = 0;
  std::uint16_t validate_counter16 = 0;  // sent in every validate item
  std::uint32_t validate_counter32 = 0;
  std::uint16_t min_nchar_size = 1;  // minimum NCHAR character size

  // Connection pool: the pooled string this connection was made for, the next idle
  // connection of that string, and when it was parked (milliseconds of the pool's clock).
  a_cmdseq_pooled_conn_str* pooled_str = nullptr;
  // The server as the app-connect reply described it.
  std::uint32_t server_caps = 0;  // capability bits
  std::uint8_t server_version_major = 0;
  std::uint8_t server_version_minor = 0;
  std::uint16_t server_version_build1 = 0;
  std::uint16_t server_version_build2 = 0;
  a_cmdseq_conn* pool_next = nullptr;
  std::uint64_t pooled_at = 0;
};

// A new connection over a stream connection, with one reference for the caller: the
// stream hands `cb_value` to the callbacks, and the environment counts the connection.
a_cmdseq_conn* i_cs_AddNewConnection(a_strm_conn strm_conn, a_cmdseq_env* env,
                                     std::uintptr_t cb_value);

// Takes the connection out of service: when connected, frees its cursor lists and clears
// CS_STATUS_CONNECTED; then drops one reference (which may delete it).
void i_cs_RemoveConnection(a_cmdseq_conn* conn);
// Resets the block's locale; when connected, disconnects the stream; removes the
// connection. Result 2 when the stream disconnect failed, else 0.
a_cmdseq_return CmdSeqDropConnection(a_cmdseq_conn* conn, a_cmdseq_error_info* err);

// The process's application type, copied from the environment at each connect (1 and 2
// pick variants of string completion).
void i_cs_SetAppType(std::uint32_t app_type);
std::uint32_t i_cs_GetAppType();

#endif  // VQ_CMDSEQ_CLIENT_H
