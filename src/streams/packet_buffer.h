// Packet buffers: a c_strm_buffer owns (or points at) a data block whose 5-byte prefix
// tells the packet's length, the room kept before it and whether the block is in
// transit to the peer; the packet follows. Blocks come from a buffer source, whose
// heap hands out private memory, or shared memory the local server can map when the
// shared-memory link has installed its heap.
//
// Data block (little-endian, shared with the server for shared buffers):
//   0-1  used length: u16, bytes of the packet
//   2-3  header offset: u16, bytes kept free before the packet
//   4    in-transit flag: 1 while the peer holds the block
//   5..  header offset bytes, then the packet
#ifndef VQ_STREAMS_PACKET_BUFFER_H
#define VQ_STREAMS_PACKET_BUFFER_H

#include <cstddef>
#include <cstdint>

#include "streams/byte_order.h"
#include "utils/base/list.h"

// The kind of memory of a buffer.
enum a_shared_flag : std::uint8_t {
  STRM_SHARED_MEM = 0,   // a block of the environment's shared segment
  STRM_PRIVATE_MEM = 1,  // ordinary heap memory
};

constexpr std::size_t kBlkUsedLenAt = 0;      // u16 LE
constexpr std::size_t kBlkHdrOffsetAt = 2;    // u16 LE
constexpr std::size_t kBlkInTransitAt = 4;    // u8
constexpr std::size_t kBlkPrefixBytes = 5;
static_assert(kBlkUsedLenAt + 2 == kBlkHdrOffsetAt, "used length is two bytes");
static_assert(kBlkHdrOffsetAt + 2 == kBlkInTransitAt, "header offset is two bytes");
static_assert(kBlkInTransitAt + 1 == kBlkPrefixBytes, "the packet area follows the flag");

// The largest buffer size whose capacity (size + prefix) still fits the u16 field.
constexpr std::uint16_t kMaxBufferSize = 0xFFFF - kBlkPrefixBytes;

// Where a buffer's block is: a block of the source's heap and an offset in it, or a
// direct address (a peer's block mapped in for a buffer without a block of its own).
struct c_shared_ref {
  std::uint8_t shared = 1;          // 1 when the storage comes from a heap
  void* block = nullptr;            // the heap's block record; opaque outside the heap
  std::uint32_t offset = 0;         // bytes from the start of the block
  std::uint8_t* direct = nullptr;   // a block outside the heap, or null
};

// Records of the shared-memory link, defined there.
struct a_strm_buff_ref;
struct a_strm_buff_map_id;

// The memory behind a buffer source. The default heap gives private memory only; the
// shared-memory link installs a factory of heaps that also give shared blocks and map
// the peer's blocks.
class c_strm_buff_heap {
 public:
  virtual ~c_strm_buff_heap() = default;
  // `size` bytes of private (`private_mem`) or shared memory, recorded in *ref. A size
  // of 0 records an empty reference (shared 0, no block) and succeeds. False when the
  // memory cannot be had.
  virtual bool alloc(std::uint32_t size, c_shared_ref* ref, bool private_mem) = 0;
  // The address a reference names, or null.
  virtual std::uint8_t* resolve(const c_shared_ref& ref) = 0;
  // Maps the block a peer sent; the address and, in *mapped_bytes, how many bytes are
  // readable from it. Null when the block cannot be mapped.
  virtual std::uint8_t* shared_ref_tran_get_ptr(const a_strm_buff_ref& ref,
                                                a_strm_buff_map_id& map_id,
                                                const c_shared_ref& own, void* proc_ref,
                                                std::uint32_t* mapped_bytes) = 0;
  // Releases every block.
  virtual void freeall() = 0;
};

namespace vq::strm {
using BufferHeapFactory = c_strm_buff_heap* (*)();
// Installs the factory of the heaps of new buffer sources; null restores the private
// heap. Set once, before the first environment.
void SetBufferHeapFactory(BufferHeapFactory factory);
// The heap of private memory: shared requests fail and no peer block can be mapped.
c_strm_buff_heap* NewPrivateHeap();
}  // namespace vq::strm

class c_strm_buff_src;

class c_strm_buffer : public c_utils_link {
 public:
  explicit c_strm_buffer(std::uint16_t size) : size(size) {}
  ~c_strm_buffer() override = default;

  // Takes a block the peer sent: a buffer without a block of its own points at it; a
  // buffer with one copies it in, cut to this buffer's packet area. 1 on success, 0
  // when the block cannot be mapped or its prefix does not fit what was mapped.
  int reference_rem_data(const a_strm_buff_ref& ref, a_strm_buff_map_id& map_id,
                         void* proc_ref);

  // Fields of the data block; the buffer must have one (`data` not null).
  std::uint16_t used_length() const { return vq::strm::load_le16(data + kBlkUsedLenAt); }
  void set_used_length(std::uint16_t n) { vq::strm::store_le16(data + kBlkUsedLenAt, n); }
  std::uint16_t header_offset() const { return vq::strm::load_le16(data + kBlkHdrOffsetAt); }
  void set_header_offset(std::uint16_t n) { vq::strm::store_le16(data + kBlkHdrOffsetAt, n); }
  // The peer clears the flag from its own thread or process: atomic byte access.
  bool in_transit() const {
    return __atomic_load_n(data + kBlkInTransitAt, __ATOMIC_ACQUIRE) != 0;
  }
  void set_in_transit(bool on) {
    __atomic_store_n(data + kBlkInTransitAt, static_cast<std::uint8_t>(on ? 1 : 0),
                     __ATOMIC_RELEASE);
  }
  // The packet, after the prefix and the header offset.
  std::uint8_t* packet() { return data + kBlkPrefixBytes + header_offset(); }
  // Bytes the packet may take: capacity less prefix and header offset (0 without room).
  std::uint16_t packet_room() const {
    const std::uint32_t used = kBlkPrefixBytes + header_offset();
    return capacity > used ? static_cast<std::uint16_t>(capacity - used) : 0;
  }

  c_strm_buff_src* src = nullptr;   // the source that made it
  std::uint16_t capacity = 0;       // size + 5, or 0 without a block of its own
  std::uint8_t* data = nullptr;     // the data block, or null
  c_shared_ref shared_ref;          // where the block is
  a_shared_flag shared_flag = STRM_PRIVATE_MEM;
  std::uint16_t size;               // the size class
};

typedef c_utils_list<c_strm_buffer> c_strm_buffer_list;
typedef c_utils_iter<c_strm_buffer> c_strm_buffer_iter;

// Makes buffers from one heap. Blocks go back to the heap only when the source dies.
class c_strm_buff_src : public c_utils_base {
 public:
  c_strm_buff_src();                               // a heap from the installed factory
  explicit c_strm_buff_src(c_strm_buff_heap* heap);  // takes the heap
  ~c_strm_buff_src() override;
  c_strm_buff_src(const c_strm_buff_src&) = delete;
  c_strm_buff_src& operator=(const c_strm_buff_src&) = delete;

  // A buffer of `size` and `kind`, or null. Size 0 gives a buffer without a block of
  // its own; sizes above kMaxBufferSize are refused.
  c_strm_buffer* alloc(std::uint16_t size, a_shared_flag kind);
  // Deletes the buffer object; its block stays with the heap.
  void free(c_strm_buffer* buffer);

  c_strm_buff_heap* heap;  // owned
};

#endif  // VQ_STREAMS_PACKET_BUFFER_H
