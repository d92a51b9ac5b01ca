// The connection pool: at disconnect a connection may be parked under its connection
// string (without the connection name), and a later connect with the same string takes it
// back with one short exchange. Strings are kept scrambled, so the pool never holds a
// password in plain. `mutex` guards the string list, every idle chain and idle_count;
// connections are dropped with it released.
#ifndef VQ_CMDSEQ_CONN_POOL_H
#define VQ_CMDSEQ_CONN_POOL_H

#include <cstdint>
#include <mutex>

#include "cmdseq/client.h"
#include "cmdseq/cmdseq_return.h"
#include "utils/base/list.h"

struct a_cmdseq_error_info;
struct a_cmdseq_strconn_param;

class a_cmdseq_pooled_conn_str : public c_utils_link {
 public:
  ~a_cmdseq_pooled_conn_str() override;  // wipes and frees the string

  unsigned char* conn_str = nullptr;  // scrambled (plain when 4 bytes or shorter); owned
  std::uint32_t key = 0;              // scrambling key, or the length for plain strings
  std::uint16_t length = 0;           // bytes
  std::uint16_t idle_timeout = 60;    // seconds; at least 5
  std::uint16_t max_idle = 5;         // pooled only while the pool holds fewer idle
  std::uint16_t min_uses = 5;         // pooled only after this many connects
  std::uint32_t use_count = 1;
  a_cmdseq_conn* idle = nullptr;      // newest first, chained through pool_next
};

class a_cmdseq_conn_pool {
 public:
  explicit a_cmdseq_conn_pool(a_cmdseq_env* env) : env(env) {}
  ~a_cmdseq_conn_pool();  // drops idle connections, deletes every string
  a_cmdseq_conn_pool(const a_cmdseq_conn_pool&) = delete;
  a_cmdseq_conn_pool& operator=(const a_cmdseq_conn_pool&) = delete;

  // Closes at most one idle connection that waited longer than its string's time-out;
  // answers whether idle connections remain.
  bool drop_timedout();
  // Closes idle connections: all, or with `tcp_only` those over TCP/IP (port type 6) at
  // the front of each chain.
  void drop_cached(bool tcp_only);

  std::mutex mutex;
  c_utils_list<a_cmdseq_pooled_conn_str> strings;  // new entries at the end
  std::int32_t idle_count = 0;                     // idle connections of all strings
  std::uint32_t string_count = 0;
  a_cmdseq_env* env;
};

// The most strings the pool keeps.
constexpr std::uint32_t kMaxPooledStrings = 20;

// Connect through the pool: 0 with a reused connection in *conn; 1 when the caller must
// connect normally (*pooled then names the entry to record on the new connection, or is
// null); 4 or 6 on errors. A reuse that fails drops the idle connection it took.
a_cmdseq_return conn_pool_reuse(a_cmdseq_conn** conn, a_cmdseq_error_info* err,
                                a_cmdseq_strconn_param* param,
                                a_cmdseq_pooled_conn_str** pooled);
// Park at disconnect: 0 when pooled, 1 when the caller disconnects normally, or the
// failure of the park exchange.
a_cmdseq_return conn_pool_cache(a_cmdseq_conn* conn, a_cmdseq_error_info* err);
// Deletes an entry that only the connect that made it used.
void delete_pooled_conn_str_if_unused(a_cmdseq_conn_pool* pool, a_cmdseq_pooled_conn_str* entry);

// The pool's clock in milliseconds (monotonic); tests install their own. Null restores it.
using a_cs_pool_clock = std::uint64_t (*)();
void i_cs_SetPoolClock(a_cs_pool_clock clock);

#endif  // VQ_CMDSEQ_CONN_POOL_H
