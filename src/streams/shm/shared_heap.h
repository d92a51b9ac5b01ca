// Shared heaps and the process table.
//
// Packet buffers that travel over the shared-memory link live in shared heaps: each
// heap is one growing id-named segment file under the process's client resource name,
// from which it maps page-multiple blocks and carves buffers. A buffer travels as a
// reference (a_strm_buff_ref) naming the owner, the file and the block. A receiver keeps
// one c_strm_procref per peer process in its process table, with the blocks it has
// mapped from that peer.
//
// References come from the peer: the owner name is checked against the resource tree's
// rules, the data offset must lie inside the block, the block must lie inside the
// peer's file, and a block already mapped is reused only for a request that fits in it.
#ifndef VQ_STREAMS_SHM_SHARED_HEAP_H
#define VQ_STREAMS_SHM_SHARED_HEAP_H

#include <cstdint>

#include "streams/packet_buffer.h"
#include "streams/recursive_lock.h"
#include "streams/shm/shm_layout.h"
#include "utils/base/dictionary.h"
#include "utils/base/list.h"

class c_strm_proctable;

// ---- Keys and maps
// ----------------------------------------------------------------------------

class c_strm_prockey : public c_utils_key {
 public:
  c_strm_prockey(std::uint32_t pid, std::uint32_t ref_id) : pid(pid), ref_id(ref_id) {}
  // x = pid ^ ref_id; y = x ^ (x >> 16); (low byte of y ^ bits 8..15 of y) & 15.
  std::uint16_t hash() const override;
  bool equals(const c_strm_prockey& other) const {
    return pid == other.pid && ref_id == other.ref_id;
  }

  std::uint32_t pid;
  std::uint32_t ref_id;
};

class c_strm_shm_key : public c_utils_key {
 public:
  c_strm_shm_key(const char* name, std::uint32_t segment_id, std::uint32_t block_offset);
  // (block_offset >> 13) % 5, unsigned: offsets from 2^31 up come from peers too.
  std::uint16_t hash() const override;
  bool equals(const c_strm_shm_key& other) const;

  char segment_name[kShmNameBytes];  // zero-filled
  std::uint32_t segment_id;
  std::uint32_t block_offset;
};

class c_strm_procmap : public c_utils_dict_base {
 public:
  c_strm_procmap() : c_utils_dict_base(16) {}
  ~c_strm_procmap() override = default;

 protected:
  int is_equal(const c_utils_key& stored, const c_utils_key& probe) override;
};

class c_strm_shm_map : public c_utils_dict_base {
 public:
  c_strm_shm_map() : c_utils_dict_base(5) {}
  ~c_strm_shm_map() override = default;

 protected:
  int is_equal(const c_utils_key& stored, const c_utils_key& probe) override;
};

// ---- Process table
// ---------------------------------------------------------------------------

// One peer process and the blocks mapped from it. Made by c_strm_proctable::Locate.
class c_strm_procref : public c_utils_link {
 public:
  // Drops one count under the table's lock; the last one deletes the reference, which
  // unmaps every block mapped through it.
  void Release();
  // The block [offset, offset + size) of the peer's segment `id` under the peer's
  // resource name, mapped on first use. Null when the name is refused, the range is not
  // in the file, the block was mapped before with a smaller size, or mapping fails.
  void* AttachSharedMem(const char* name, std::uint32_t id, std::uint32_t offset,
                        std::uint32_t size);

  const c_strm_prockey& key() const { return key_; }
  std::uint32_t count() const;

 private:
  friend class c_strm_proctable;
  c_strm_procref(c_strm_proctable* table, std::uint32_t pid, std::uint32_t ref_id);
  ~c_strm_procref() override;

  c_strm_prockey key_;
  c_strm_proctable* table_;
  std::uint32_t count_ = 0;       // guarded by the table's lock
  vq::strm::RecursiveLock lock_;  // guards map_
  c_strm_shm_map map_;            // c_strm_shm_key -> mapped block record
};

class c_strm_proctable {
 public:
  c_strm_proctable() = default;
  // Deletes every process reference left.
  ~c_strm_proctable();
  c_strm_proctable(const c_strm_proctable&) = delete;
  c_strm_proctable& operator=(const c_strm_proctable&) = delete;

  // Finds or makes the reference of (pid, ref_id) and counts one more holder.
  c_strm_procref* Locate(std::uint32_t pid, std::uint32_t ref_id);
  std::uint32_t size();  // process references in the table

 private:
  friend class c_strm_procref;
  vq::strm::RecursiveLock lock_;
  c_strm_procmap map_;
};

// ---- Shared heap
// --------------------------------------------------------------------------------

class c_shared_heapblk : public c_utils_link {
 public:
  void* address = nullptr;
  std::uint32_t segment_id = 0;    // the heap file's id
  std::uint32_t block_offset = 0;  // offset of the block in the file (page multiple)
  std::uint32_t is_private = 0;    // non-zero: private memory, not in the file
  std::uint32_t used = 0;          // bytes handed out
  std::uint32_t size = 0;          // bytes of the block
  std::uint32_t remaining = 0;     // size - used
};

// The reference a peer needs for a buffer of a shared heap (c_shared_ref of the packet
// buffers, whose block is a c_shared_heapblk): this process's client name, the block's
// file id, offset and size, and the data offset. An empty name and zeros for anything
// the peer cannot map (no block, private memory, a direct address).
void get_tran_ref(const c_shared_ref& ref, a_strm_buff_ref* out);

// The heap behind the packet buffers' sources when the shared-memory link is in use.
class c_shared_heap final : public c_strm_buff_heap {
 public:
  // Claims the client name when not yet claimed and creates the empty heap file.
  c_shared_heap();
  // Frees every block and removes the heap file; the last heap of the process also ends
  // the client name (its whole resource tree).
  ~c_shared_heap() override;
  c_shared_heap(const c_shared_heap&) = delete;
  c_shared_heap& operator=(const c_shared_heap&) = delete;

  // `size` bytes from the last block, or from a new one when it lacks room or is of the
  // other kind of memory. Size 0 gives an empty reference (shared 0). False, with
  // (1, null, 0) in *ref, when no block can be made.
  bool alloc(std::uint32_t size, c_shared_ref* ref, bool is_private) override;
  // The address a reference of this heap names (block plus offset, or its direct
  // address), null for none.
  std::uint8_t* resolve(const c_shared_ref& ref) override;
  // A block of whole pages above `size` (a size of exactly n pages gets n + 1): file
  // range for shared memory, heap memory for private. Null on failure.
  c_shared_heapblk* allocblk(std::uint32_t size, bool is_private);
  void freeblk(c_shared_heapblk* block);
  void freeall() override;

  // The data of a buffer the peer sent: the referenced block mapped through the peer's
  // process reference (`proc_ref`, a c_strm_procref*), plus the data offset. *room (when
  // given) gets the bytes from there to the end of the block. Null for an empty name, a
  // refused name, a data offset outside the block, or a block that cannot be mapped.
  std::uint8_t* shared_ref_tran_get_ptr(const a_strm_buff_ref& ref, a_strm_buff_map_id& map_id,
                                        const c_shared_ref& own, void* proc_ref,
                                        std::uint32_t* room) override;

  const char* name() const { return heap_name_; }
  std::uint32_t id() const { return heap_id_; }
  std::uint32_t file_size() const { return heap_size_; }
  c_strm_proctable& proctable() { return proctable_; }
  std::uint32_t block_count();

 private:
  vq::strm::RecursiveLock lock_;
  c_utils_list<c_shared_heapblk> blocks_;
  char heap_name_[40] = {};      // the client resource name, 31 characters at most
  std::uint32_t heap_id_ = 0;    // the heap file's id; 0 when it could not be made
  std::uint32_t heap_size_ = 0;  // the file's length
  c_strm_proctable proctable_;
};

namespace vq::shm {
// A new shared heap, for vq::strm::SetBufferHeapFactory.
c_strm_buff_heap* NewSharedHeap();
}  // namespace vq::shm

#endif  // VQ_STREAMS_SHM_SHARED_HEAP_H
