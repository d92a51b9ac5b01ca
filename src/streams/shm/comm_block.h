// Comm blocks and their ring queues: the shared segment that carries one shared-memory
// connection's traffic. A block holds a closed word and two single-producer,
// single-consumer rings of 56-byte buffer references; the client produces into the
// first and consumes from the second, the server does the opposite. Each block exists
// in two layouts (shm_layout.h), chosen by the structure version.
//
// Ordering. No lock spans the processes. The producer copies an entry, then publishes
// it by storing `tail`; the consumer reads `tail`, copies the entry out, then releases
// the slot by storing `head`. Index stores and loads are sequentially consistent: the
// release/acquire pairs order the entry copies, and the total order lets each side's
// re-read of the other index after its own store decide the wake-up without a lost
// one (producer stores tail then reads head, consumer stores head then reads tail).
//
// Values the peer writes are checked: a queue's slot count is read once, when the
// handle is made, and checked against the mapped length; an index at or beyond the slot
// count gives kCommQBroken and changes nothing.
#ifndef VQ_STREAMS_SHM_COMM_BLOCK_H
#define VQ_STREAMS_SHM_COMM_BLOCK_H

#include <cstddef>
#include <cstdint>

#include "streams/shm/shm_layout.h"
#include "streams/shm/shm_mem.h"

// Results of enqueue and dequeue.
enum : int {
  kCommQStored = 0,    // enqueue: stored; dequeue: taken
  kCommQEmpty = 1,     // dequeue: nothing to take
  kCommQFull = 2,      // enqueue: full, nothing stored
  kCommQWasEmpty = 3,  // enqueue: stored, and the consumer had nothing: wake it
  kCommQWasFull = 4,   // dequeue: taken, and the producer had found no room: wake it
  kCommQBroken = 5,    // the queue's shared words are out of range (or a wrong handle)
};

// Process-local handle of one ring.
struct CommQ {
  void* ring = nullptr;  // a_commq or a_commq64 in the block
  a_shm_structure_version version = kShmStructV0;
  std::uint32_t slots = 0;  // n, checked against `bytes`; 0 unusable
  std::uint64_t bytes = 0;  // mapped bytes from `ring` on
};

// Process-local handle of a mapped block.
struct CommBlk {
  void* block = nullptr;  // the mapping; null when none
  a_shm_structure_version version = kShmStructV0;
  std::uint32_t mapped_size = 0;
  CommQ q1;  // client -> server
  CommQ q2;  // server -> client
};

// A queue handle over `bytes` of memory at `ring` (nothing is read yet).
CommQ CommQ_Handle(void* ring, a_shm_structure_version version, std::uint64_t bytes);
// Binds a handle to an initialised ring: reads its slot count and checks that the ring
// fits in the handle's bytes and that both indexes are in range. False otherwise.
bool CommQ_Attach(CommQ* queue);

// size = n, head = tail = 0. False when n is 0 or the ring of n slots does not fit.
bool CommQ_Init(CommQ* queue, std::uint32_t n);
bool CommQ64_Init(CommQ* queue, std::uint32_t n);
int CommQ_Enqueue(CommQ* queue, const a_strm_buff_ref& ref, const a_strm_buff_map_id& map_id);
int CommQ64_Enqueue(CommQ* queue, const a_strm_buff_ref& ref, const a_strm_buff_map_id& map_id);
int CommQ_Dequeue(CommQ* queue, a_strm_buff_ref* ref, a_strm_buff_map_id* map_id);
int CommQ64_Dequeue(CommQ* queue, a_strm_buff_ref* ref, a_strm_buff_map_id* map_id);
// True when an enqueue now would find room (the next tail position differs from head).
bool CommQ_HasRoom(const CommQ* queue);
// True when a dequeue now would find an entry (head differs from tail); nothing is taken.
bool CommQ_HasEntry(const CommQ* queue);

// A new id-named segment for a block of n slots per queue; its first word is 0 on failure.
c_strm_shm_mem CommBlk_New(std::uint32_t n);
c_strm_shm_mem CommBlk64_New(std::uint32_t n);
// Maps the block and initialises it: closed 0, both queues with n slots. False (and an
// empty handle) when it cannot be mapped or is too small.
bool CommBlk_Init(const c_strm_shm_mem& descriptor, std::uint32_t n, CommBlk* out);
bool CommBlk64_Init(const c_strm_shm_mem& descriptor, std::uint32_t n, CommBlk* out);
// Maps an existing block (the peer's side of Init) and checks its queues.
bool CommBlk_Open(const c_strm_shm_mem& descriptor, CommBlk* out);
bool CommBlk64_Open(const c_strm_shm_mem& descriptor, CommBlk* out);
// closed = 1, then the mapping is released; a handle without a block is ignored.
void CommBlk_Close(CommBlk* block);
void CommBlk64_Close(CommBlk* block);
CommQ* CommBlk_GetQ1(CommBlk* block);
CommQ* CommBlk_GetQ2(CommBlk* block);
CommQ* CommBlk64_GetQ1(CommBlk* block);
CommQ* CommBlk64_GetQ2(CommBlk* block);
bool CommBlk_IsClosed(const CommBlk& block);
void CommBlk_SetClosed(CommBlk* block);

#endif  // VQ_STREAMS_SHM_COMM_BLOCK_H
