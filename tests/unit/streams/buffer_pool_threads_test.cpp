// Pools used from several threads at once: no buffer is handed to two holders, none
// is lost, and every size gets exactly one pool.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "streams/buffer_pool.h"
#include "test_heap.h"

namespace {

constexpr int kThreads = 6;
constexpr int kRounds = 2000;

// Each thread marks the buffers it holds; a buffer held twice would show another
// thread's mark. Children of one root overflow into it and borrow from it.
TEST(PoolThreads, BuffersMoveBetweenThreadsWithoutLossOrSharing) {
  auto* heap = new vq::testing::TestHeap;
  c_strm_buff_src src(heap);
  c_strm_frlist_controller c(512);
  c_strm_buff_frlist root(&c, &src, 256);
  std::atomic<int> clashes{0};

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      c_strm_buff_frlist child(&root, 4, 4);
      std::vector<c_strm_buffer*> held;
      for (int i = 0; i < kRounds; ++i) {
        const std::size_t want = static_cast<std::size_t>((i * 7 + t) % 9);
        while (held.size() < want) {
          c_strm_buffer* b = (i % 2 == 0 ? child : root).get_buffer(STRM_PRIVATE_MEM);
          if (b == nullptr) break;
          b->packet()[0] = static_cast<std::uint8_t>(t);
          held.push_back(b);
        }
        for (c_strm_buffer* b : held) {
          if (b->packet()[0] != t) ++clashes;
        }
        while (held.size() > want / 2) {
          (i % 3 == 0 ? root : child).done_buffer(held.back());
          held.pop_back();
        }
      }
      for (c_strm_buffer* b : held) child.done_buffer(b);
    });
  }
  for (std::thread& th : threads) th.join();

  EXPECT_EQ(clashes.load(), 0);
  // Every buffer ever made is back in the root, once.
  EXPECT_EQ(root.free_count(STRM_SUBLIST_PRIVATE),
            static_cast<std::uint32_t>(heap->allocated.load()));
  std::set<c_strm_buffer*> distinct;
  for (c_strm_buffer_iter it(root.sub[STRM_SUBLIST_PRIVATE].list); !it.at_end(); it.next()) {
    distinct.insert(it.element());
  }
  EXPECT_EQ(distinct.size(), root.free_count(STRM_SUBLIST_PRIVATE));
}

TEST(PoolThreads, ConcurrentLookupsMakeOnePoolPerSize) {
  c_strm_frlist_controller c(512);
  std::vector<std::thread> threads;
  std::vector<std::vector<c_strm_buff_frlist*>> found(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 300; ++i) {
        const std::uint16_t size = static_cast<std::uint16_t>(100 + (i % 20) * 10);
        found[t].push_back(c._list_for_size(size, 1));
      }
    });
  }
  for (std::thread& th : threads) th.join();
  std::set<c_strm_buff_frlist*> pools;
  for (const auto& list : found) {
    for (std::size_t i = 0; i < list.size(); ++i) {
      EXPECT_EQ(list[i]->size, 100 + (i % 20) * 10);
      pools.insert(list[i]);
    }
  }
  EXPECT_EQ(pools.size(), 20u);
  std::size_t listed = 0;
  for (c_strm_buff_frlist_ord_iter it(c); !it.at_end(); it.next()) ++listed;
  EXPECT_EQ(listed, 21u);  // the twenty and the default pool
}

}  // namespace
