// A buffer block mapped from another process through the process table: the peer sees
// what the owner wrote, and the owner sees the peer's answer in the same block.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "peer_runner.h"
#include "shm_test_support.h"
#include "streams/shm/shared_heap.h"

namespace {

using vq::shm::test::PeerRunner;
using vq::shm::test::ScopedShmRoot;

TEST(SharedHeapAcrossProcesses, PeerMapsTheOwnersBlock) {
  enum { kOk = 0, kNotMapped = 1, kWrongData = 2, kRoom = 3 };
  ScopedShmRoot root;
  auto heap = std::make_unique<c_shared_heap>();
  c_shared_ref ref;
  ASSERT_TRUE(heap->alloc(5000, &ref, false));  // a two-page block
  ASSERT_TRUE(heap->alloc(4000, &ref, false));  // no room left: a second block, further on
  std::strcpy(reinterpret_cast<char*>(heap->resolve(ref)), "from the owner");
  a_strm_buff_ref tran;
  get_tran_ref(ref, &tran);
  ASSERT_NE(tran.block_offset, 0u);
  const std::uint32_t owner = static_cast<std::uint32_t>(getpid());
  c_shared_heap* heap_ptr = heap.get();

  PeerRunner peer(
      [&]() -> int {
        c_strm_proctable table;
        c_strm_procref* process = table.Locate(owner, 1);
        std::uint32_t room = 0;
        a_strm_buff_map_id map_id{owner, 1};
        auto* data = reinterpret_cast<char*>(
            heap_ptr->shared_ref_tran_get_ptr(tran, map_id, c_shared_ref{}, process, &room));
        int result = kOk;
        if (data == nullptr) {
          result = kNotMapped;
        } else if (std::strcmp(data, "from the owner") != 0) {
          result = kWrongData;
        } else if (room != tran.block_size - tran.data_offset) {
          result = kRoom;
        } else {
          std::strcpy(data + 32, "from the peer");
        }
        process->Release();
        return result;
      },
      30);
  ASSERT_EQ(peer.Join(), kOk);
  EXPECT_STREQ(reinterpret_cast<char*>(heap->resolve(ref)) + 32, "from the peer");
  heap.reset();
}

}  // namespace
