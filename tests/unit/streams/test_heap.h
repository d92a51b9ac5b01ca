// A heap for buffer tests that gives shared blocks too (ordinary memory standing in for
// a shared segment) and "maps" one peer block that a test sets up.
#ifndef VQ_TESTS_UNIT_STREAMS_TEST_HEAP_H
#define VQ_TESTS_UNIT_STREAMS_TEST_HEAP_H

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "streams/packet_buffer.h"

namespace vq::testing {

class TestHeap : public c_strm_buff_heap {
 public:
  ~TestHeap() override { freeall(); }

  bool alloc(std::uint32_t size, c_shared_ref* ref, bool private_mem) override {
    *ref = c_shared_ref{};
    if (size == 0) {
      ref->shared = 0;
      return true;
    }
    if (fail.load() || (allocs_left.load() == 0)) return false;
    if (allocs_left.load() > 0) --allocs_left;
    (void)private_mem;
    auto* block = static_cast<std::uint8_t*>(std::malloc(size));
    if (block == nullptr) return false;
    std::lock_guard<std::mutex> hold(mutex_);
    blocks_.push_back(block);
    ref->block = block;
    ++allocated;
    return true;
  }
  std::uint8_t* resolve(const c_shared_ref& ref) override {
    if (ref.direct != nullptr) return ref.direct;
    return ref.block != nullptr ? static_cast<std::uint8_t*>(ref.block) + ref.offset : nullptr;
  }
  std::uint8_t* shared_ref_tran_get_ptr(const a_strm_buff_ref&, a_strm_buff_map_id&,
                                        const c_shared_ref&, void*,
                                        std::uint32_t* mapped_bytes) override {
    *mapped_bytes = peer_mapped;
    return peer;
  }
  void freeall() override {
    std::lock_guard<std::mutex> hold(mutex_);
    for (std::uint8_t* b : blocks_) std::free(b);
    blocks_.clear();
  }

  std::atomic<bool> fail{false};
  std::atomic<int> allocs_left{-1};   // -1: no limit
  std::atomic<int> allocated{0};
  std::uint8_t* peer = nullptr;       // the block a peer "sent"
  std::uint32_t peer_mapped = 0;      // readable bytes at `peer`

 private:
  std::mutex mutex_;
  std::vector<std::uint8_t*> blocks_;
};

// Stand-ins for the shared-memory link's records, which these tests never look into.
inline const a_strm_buff_ref& NoBuffRef() {
  static const std::uint64_t zero[8] = {};
  return *reinterpret_cast<const a_strm_buff_ref*>(zero);
}
inline a_strm_buff_map_id& NoMapId() {
  static std::uint64_t zero[4] = {};
  return *reinterpret_cast<a_strm_buff_map_id*>(zero);
}

}  // namespace vq::testing

#endif  // VQ_TESTS_UNIT_STREAMS_TEST_HEAP_H
