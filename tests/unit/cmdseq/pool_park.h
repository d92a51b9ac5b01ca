// Parks a connection in an environment's pool by hand, as a disconnect would have, for
// the tests of what the environment and its controller thread do with parked ones.
#ifndef VQ_TESTS_UNIT_CMDSEQ_POOL_PARK_H
#define VQ_TESTS_UNIT_CMDSEQ_POOL_PARK_H

#include <cstdint>
#include <mutex>

#include "cmdseq/conn_pool.h"
#include "pres_double.h"

// A new connected connection over `stream`, parked at `pooled_at` (milliseconds of the
// pool's clock) under a string of its own with the default idle time-out. The pool holds
// the connection's first reference; the test gets a second one to look at it afterwards.
inline a_cmdseq_conn* ParkNewConnection(a_cmdseq_conn_pool* pool, a_strm_conn_rec* stream,
                                        std::uint64_t pooled_at) {
  auto* entry = new a_cmdseq_pooled_conn_str;
  auto* conn = new a_cmdseq_conn(pool->env, stream);
  conn->add_ref();
  conn->pooled_str = entry;
  conn->pooled_at = pooled_at;
  std::lock_guard<std::mutex> lock(pool->mutex);
  entry->idle = conn;
  pool->strings.append(entry);
  ++pool->string_count;
  ++pool->idle_count;
  return conn;
}

inline std::int32_t IdleCount(a_cmdseq_conn_pool* pool) {
  std::lock_guard<std::mutex> lock(pool->mutex);
  return pool->idle_count;
}

#endif  // VQ_TESTS_UNIT_CMDSEQ_POOL_PARK_H
