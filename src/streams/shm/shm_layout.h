// The records that the client and a local server share through memory: buffer
// references, ring queues and comm blocks in both structure versions, the bit-signal
// page and the semaphore pair. Both processes read and write them, so every field has a
// fixed width and every offset is pinned below. Integers are in native byte order
// (little-endian on every target we build for).
//
// Fields that one process writes while the other reads them (queue indexes, signal
// flags, the closed word) are std::atomic of the same width: lock-free atomics are
// address-free, so they work between processes that map the page at different places.
#ifndef VQ_STREAMS_SHM_SHM_LAYOUT_H
#define VQ_STREAMS_SHM_SHM_LAYOUT_H

#include <atomic>
#include <cstddef>
#include <cstdint>

static_assert(std::atomic<std::uint32_t>::is_always_lock_free,
              "shared words need lock-free, address-free atomics");
static_assert(sizeof(std::atomic<std::uint32_t>) == 4, "an atomic word keeps its width");

// The structure version of a comm block: 0 for the 32-bit layouts, 1 for the 64-bit ones.
enum a_shm_structure_version : std::uint32_t { kShmStructV0 = 0, kShmStructV1 = 1 };

// Width of every name field in the shared records, terminator included when shorter.
constexpr std::size_t kShmNameBytes = 32;

// Names a buffer in its owner's shared heap.
struct a_strm_buff_ref {
  char segment_name[kShmNameBytes];  // owner's resource name, zero-filled; empty: no buffer
  std::uint32_t segment_id;          // id of the owner's heap file
  std::uint32_t block_offset;        // offset of the heap block in that file (page multiple)
  std::uint32_t block_size;          // bytes of the heap block
  std::uint32_t data_offset;         // offset of the buffer's data within the block
};
static_assert(sizeof(a_strm_buff_ref) == 48, "buffer reference: 32 + 4 x 4 bytes");
static_assert(offsetof(a_strm_buff_ref, segment_id) == 32, "");
static_assert(offsetof(a_strm_buff_ref, block_offset) == 36, "");
static_assert(offsetof(a_strm_buff_ref, block_size) == 40, "");
static_assert(offsetof(a_strm_buff_ref, data_offset) == 44, "");

// Who sent a buffer: the owner's process id and port reference id.
struct a_strm_buff_map_id {
  std::uint32_t owner_pid;
  std::uint32_t owner_ref_id;
};
static_assert(sizeof(a_strm_buff_map_id) == 8, "");

// One slot of a ring queue.
struct a_commq_entry {
  a_strm_buff_ref ref;
  a_strm_buff_map_id map_id;
};
static_assert(sizeof(a_commq_entry) == 56, "queue entry: reference then map id");
static_assert(offsetof(a_commq_entry, map_id) == 48, "");

// Ring queue, 32-bit layout: 68 + 56 n bytes for n slots (the entries are followed by
// room for one more that is never used). The producer alone writes `tail` and the
// entries, the consumer alone writes `head`.
struct a_commq {
  std::uint32_t size;               // n, the slot count; written once at initialisation
  std::atomic<std::uint32_t> head;  // next entry to take (consumer)
  std::atomic<std::uint32_t> tail;  // next slot to fill (producer)
  a_commq_entry entries[1];         // n + 1 of them in the block
};
constexpr std::size_t kCommQHeaderBytes = 12;
static_assert(offsetof(a_commq, head) == 4, "");
static_assert(offsetof(a_commq, tail) == 8, "");
static_assert(offsetof(a_commq, entries) == kCommQHeaderBytes, "");

// Ring queue, 64-bit layout: 80 + 56 n bytes. Each index is a 64-bit word of which this
// system reads and writes the low 32 bits (the first four bytes, little-endian).
struct a_commq64 {
  std::uint32_t size;               // low half of the u64 slot count
  std::uint32_t size_high;          // high half, 0
  std::atomic<std::uint32_t> head;  // low half of the u64 head
  std::uint32_t head_high;
  std::atomic<std::uint32_t> tail;  // low half of the u64 tail
  std::uint32_t tail_high;
  a_commq_entry entries[1];
};
constexpr std::size_t kCommQ64HeaderBytes = 24;
static_assert(offsetof(a_commq64, head) == 8, "");
static_assert(offsetof(a_commq64, tail) == 16, "");
static_assert(offsetof(a_commq64, entries) == kCommQ64HeaderBytes, "");

// Bytes of one queue and of a whole comm block with n slots per queue.
constexpr std::uint64_t CommQBytes(std::uint32_t n) {
  return kCommQHeaderBytes + sizeof(a_commq_entry) * (std::uint64_t{n} + 1);
}
constexpr std::uint64_t CommQ64Bytes(std::uint32_t n) {
  return kCommQ64HeaderBytes + sizeof(a_commq_entry) * (std::uint64_t{n} + 1);
}

// Comm block, 32-bit layout: u32 closed at 0, the first queue at 4, the second right
// after it. 64-bit layout: closed at 0, four zero bytes, the first queue at 8.
constexpr std::size_t kCommBlkQ1Offset = 4;
constexpr std::size_t kCommBlk64Q1Offset = 8;
constexpr std::uint64_t CommBlkBytes(std::uint32_t n) {
  return kCommBlkQ1Offset + 2 * CommQBytes(n);
}
constexpr std::uint64_t CommBlk64Bytes(std::uint32_t n) {
  return kCommBlk64Q1Offset + 2 * CommQ64Bytes(n);
}
static_assert(CommQBytes(5) == 68 + 56 * 5, "second queue 348 bytes after the first");
static_assert(CommQ64Bytes(5) == 80 + 56 * 5, "second queue 360 bytes after the first");
static_assert(CommBlkBytes(5) == 140 + 112 * 5, "");
static_assert(CommBlk64Bytes(5) == 168 + 112 * 5, "");

struct a_comm_block_head {
  std::atomic<std::uint32_t> closed;  // 0 while open; 1 once either side closed the link
};
static_assert(sizeof(a_comm_block_head) == 4, "");

// The bit-signal page: 256 wake-up flags of one process, set by its peers.
constexpr std::uint32_t kBitSignalSlots = 256;
struct a_bit_signal {
  std::uint16_t version;                              // 1
  std::uint16_t slots;                                // 256
  std::atomic<std::uint32_t> summary;                 // non-zero: a flag may be set
  std::atomic<std::uint32_t> flags[kBitSignalSlots];  // non-zero: that slot was signalled
};
static_assert(sizeof(a_bit_signal) == 1032, "bit-signal page: 8-byte header, 256 words");
static_assert(offsetof(a_bit_signal, slots) == 2, "");
static_assert(offsetof(a_bit_signal, summary) == 4, "");
static_assert(offsetof(a_bit_signal, flags) == 8, "");

#endif  // VQ_STREAMS_SHM_SHM_LAYOUT_H
