#include "streams/packet_buffer.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "utils/base/memory.h"

namespace {

// Private memory only: one block per allocation, all released together.
class PrivateHeap final : public c_strm_buff_heap {
 public:
  ~PrivateHeap() override { freeall(); }

  bool alloc(std::uint32_t size, c_shared_ref* ref, bool private_mem) override {
    *ref = c_shared_ref{};
    if (size == 0) {
      ref->shared = 0;
      return true;
    }
    if (!private_mem) return false;  // no shared segment without the shared-memory link
    auto* block = static_cast<Block*>(ut_malloc(sizeof(Block) + size));
    if (block == nullptr) return false;
    std::lock_guard<std::mutex> hold(mutex_);
    block->next = blocks_;
    blocks_ = block;
    ref->block = block;
    return true;
  }

  std::uint8_t* resolve(const c_shared_ref& ref) override {
    if (ref.direct != nullptr) return ref.direct;
    if (ref.block == nullptr) return nullptr;
    return static_cast<Block*>(ref.block)->bytes() + ref.offset;
  }

  std::uint8_t* shared_ref_tran_get_ptr(const a_strm_buff_ref&, a_strm_buff_map_id&,
                                        const c_shared_ref&, void*,
                                        std::uint32_t* mapped_bytes) override {
    if (mapped_bytes != nullptr) *mapped_bytes = 0;
    return nullptr;
  }

  void freeall() override {
    std::lock_guard<std::mutex> hold(mutex_);
    while (blocks_ != nullptr) {
      Block* next = blocks_->next;
      ut_free(blocks_);
      blocks_ = next;
    }
  }

 private:
  struct Block {
    Block* next;
    alignas(std::max_align_t) std::uint8_t start[1];
    std::uint8_t* bytes() { return start; }
  };

  std::mutex mutex_;
  Block* blocks_ = nullptr;
};

std::atomic<vq::strm::BufferHeapFactory> heap_factory{nullptr};

}  // namespace

namespace vq::strm {

void SetBufferHeapFactory(BufferHeapFactory factory) {
  heap_factory.store(factory, std::memory_order_release);
}

c_strm_buff_heap* NewPrivateHeap() { return new PrivateHeap; }

}  // namespace vq::strm

c_strm_buff_src::c_strm_buff_src() {
  vq::strm::BufferHeapFactory factory = heap_factory.load(std::memory_order_acquire);
  heap = factory != nullptr ? factory() : nullptr;
  if (heap == nullptr) heap = vq::strm::NewPrivateHeap();
}

c_strm_buff_src::c_strm_buff_src(c_strm_buff_heap* given) : heap(given) {
  if (heap == nullptr) heap = vq::strm::NewPrivateHeap();
}

c_strm_buff_src::~c_strm_buff_src() {
  heap->freeall();
  delete heap;
}

c_strm_buffer* c_strm_buff_src::alloc(std::uint16_t size, a_shared_flag kind) {
  if (size > kMaxBufferSize) return nullptr;
  auto* buffer = new c_strm_buffer(size);
  buffer->shared_flag = kind;
  if (size != 0) {
    // Whole 32-bit words, computed wide: the block always holds the capacity.
    const std::uint32_t block_bytes = (static_cast<std::uint32_t>(size) + 8u) & ~3u;
    if (!heap->alloc(block_bytes, &buffer->shared_ref, kind != STRM_SHARED_MEM)) {
      delete buffer;
      return nullptr;
    }
    buffer->data = heap->resolve(buffer->shared_ref);
    if (buffer->data == nullptr) {
      delete buffer;
      return nullptr;
    }
    std::memset(buffer->data, 0, kBlkPrefixBytes);
    buffer->capacity = static_cast<std::uint16_t>(size + kBlkPrefixBytes);
  } else {
    buffer->capacity = 0;
    if (!heap->alloc(0, &buffer->shared_ref, kind != STRM_SHARED_MEM)) {
      delete buffer;
      return nullptr;
    }
  }
  buffer->src = this;
  return buffer;
}

void c_strm_buff_src::free(c_strm_buffer* buffer) { delete buffer; }

int c_strm_buffer::reference_rem_data(const a_strm_buff_ref& ref, a_strm_buff_map_id& map_id,
                                      void* proc_ref) {
  if (src == nullptr) return 0;
  std::uint32_t mapped = 0;
  std::uint8_t* peer =
      src->heap->shared_ref_tran_get_ptr(ref, map_id, shared_ref, proc_ref, &mapped);
  if (peer == nullptr || mapped < kBlkPrefixBytes) return 0;
  // The peer's prefix must describe bytes that were really mapped.
  const std::uint32_t peer_hdr = vq::strm::load_le16(peer + kBlkHdrOffsetAt);
  const std::uint32_t peer_used = vq::strm::load_le16(peer + kBlkUsedLenAt);
  const std::uint32_t peer_bytes = kBlkPrefixBytes + peer_hdr + peer_used;
  if (peer_bytes > mapped) return 0;

  if (capacity == 0) {
    data = peer;
    shared_ref.direct = peer;
    return 1;
  }
  // The packet area must have room for the peer's header offset, or the cut length
  // below would be negative.
  if (kBlkPrefixBytes + peer_hdr > capacity) return 0;
  const std::uint8_t own_flag = __atomic_load_n(data + kBlkInTransitAt, __ATOMIC_ACQUIRE);
  const std::uint32_t n = peer_bytes < capacity ? peer_bytes : capacity;
  std::memcpy(data, peer, n);
  if (peer_bytes > capacity) {
    set_used_length(static_cast<std::uint16_t>(capacity - peer_hdr - kBlkPrefixBytes));
  }
  __atomic_store_n(data + kBlkInTransitAt, own_flag, __ATOMIC_RELEASE);
  __atomic_store_n(peer + kBlkInTransitAt, static_cast<std::uint8_t>(0), __ATOMIC_RELEASE);
  return 1;
}
