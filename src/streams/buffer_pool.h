// Pools of free packet buffers, by size and by kind of memory, so that a connection in
// its steady state allocates nothing.
//
// A c_strm_frlist_controller (one per environment) keeps one root pool per buffer
// size; root pools have no limits and preallocate in batches of 10. A session
// connection has a child pool of the environment's size whose sub-lists keep at most
// a few buffers; the overflow goes to the parent.
//
// Locks: each pool and the controller have their own recursive lock. A pool's lock may
// be held while its parent's is taken, never the reverse. The controller's lock is
// held only during a size lookup, with no pool lock inside it.
#ifndef VQ_STREAMS_BUFFER_POOL_H
#define VQ_STREAMS_BUFFER_POOL_H

#include <atomic>
#include <cstdint>

#include "streams/packet_buffer.h"
#include "streams/recursive_lock.h"
#include "utils/base/list.h"

class c_strm_frlist_controller;

// The buffer size of a pool made for size 0 by the controller's constructor.
constexpr std::uint16_t kDefaultPacketSize = 7300;

// Which sub-list of a pool a buffer belongs to.
enum a_strm_sublist : int {
  STRM_SUBLIST_PRIVATE = 0,   // private buffers
  STRM_SUBLIST_SHARED = 1,    // shared buffers with a block of their own
  STRM_SUBLIST_NO_BLOCK = 2,  // buffers without a block (capacity 0)
};

class c_strm_buff_frlist : public c_utils_ord_link {
 public:
  static constexpr std::uint32_t kNoLimit = 0xFFFFFFFFu;
  static constexpr std::uint16_t kPreallocBatch = 10;
  static constexpr int kPreallocTries = 5;

  // Root pool with a new source of its own.
  c_strm_buff_frlist(c_strm_frlist_controller* controller, std::uint16_t size);
  // Root pool over a given source (not owned).
  c_strm_buff_frlist(c_strm_frlist_controller* controller, c_strm_buff_src* src,
                     std::uint16_t size);
  // Child pool: the parent's size, controller and source; limits for sub-lists 0 and 1
  // (`limit`) and 2 (`limit_no_block`).
  c_strm_buff_frlist(c_strm_buff_frlist* parent, std::uint32_t limit,
                     std::uint32_t limit_no_block);
  // With a parent every buffer moves to the parent (its in-transit flag cleared);
  // without one every buffer is freed. Then an owned source is deleted.
  ~c_strm_buff_frlist() override;

  // A free buffer of the kind, or null. Blocks still in transit are skipped. A child
  // asks its parent when it has none; a root preallocates up to five batches and then
  // reports message 10288 as a connectionless print.
  c_strm_buffer* get_buffer(a_shared_flag kind);
  // Puts a buffer back; `lock` non-zero takes the pool's lock (pass 0 when held). A
  // buffer of another size goes to the controller's pool of its size.
  void done_buffer(c_strm_buffer* buffer, unsigned int lock = 1);
  // Allocates up to `count` buffers into the pool without locking; stops at the first
  // failure. Returns the number added.
  unsigned int prealloc_buffers(std::uint16_t count, a_shared_flag kind);
  // Moves every free buffer to the parent's matching sub-list.
  void give_buffers_back_to_parent();
  // 0 for equal sizes, 1 when this pool's size is larger, -1 when smaller.
  int compare(c_utils_ord_link* other) override;

  // The free buffers of a sub-list now, read under the pool's lock.
  std::uint32_t free_count(a_strm_sublist which);

  c_strm_buff_src* src;                   // where new buffers come from
  std::uint32_t owns_src;                 // 1 when the pool deletes the source
  c_strm_buff_frlist* parent;             // null for a root pool
  struct SubList {
    std::uint32_t limit;                  // most free buffers kept here
    std::uint32_t count;                  // free buffers now
    c_strm_buffer_list list;
  } sub[3];
  vq::strm::RecursiveLock lock;
  std::uint16_t size;                     // the buffer size of the pool
  c_strm_frlist_controller* controller;

 private:
  static a_strm_sublist sublist_for(const c_strm_buffer& buffer);
  // Takes the first usable buffer of the request's sub-list; the caller holds the lock.
  c_strm_buffer* take_locked(a_shared_flag kind);
  // Appends to a sub-list; the caller holds the lock.
  void append_locked(a_strm_sublist which, c_strm_buffer* buffer);
};

typedef c_utils_ord_list_base c_strm_buff_frlist_ord_list;
typedef c_utils_ord_iter_base c_strm_buff_frlist_ord_iter;

class c_strm_frlist_controller : public c_strm_buff_frlist_ord_list {
 public:
  // Makes the default pool of `packet_size` (kDefaultPacketSize when 0).
  explicit c_strm_frlist_controller(std::uint16_t packet_size);
  ~c_strm_frlist_controller() override;
  c_strm_frlist_controller(const c_strm_frlist_controller&) = delete;
  c_strm_frlist_controller& operator=(const c_strm_frlist_controller&) = delete;

  // The pool of exactly `size`, or with `exact` 0 the smallest pool not smaller; a
  // missing pool is made on the spot (a root pool of exactly `size`).
  c_strm_buff_frlist* _list_for_size(std::uint16_t size, unsigned int exact);
  // Gives a buffer back to the pool of its own size.
  void done_buffer(c_strm_buffer* buffer);

  c_strm_buff_frlist* default_pool;
  std::uint16_t default_size;
  // The pool of the last lookup; read without the lock.
  std::atomic<c_strm_buff_frlist*> last_pool;
  vq::strm::RecursiveLock lock;
};

#endif  // VQ_STREAMS_BUFFER_POOL_H
