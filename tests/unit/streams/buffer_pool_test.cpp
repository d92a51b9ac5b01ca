// Buffer pools: sizes, limits and the overflow to the parent, buffers of another size,
// blocks in transit, and running out.
#include "streams/buffer_pool.h"

#include <gtest/gtest.h>

#include <vector>

#include "stream_test_host.h"
#include "test_heap.h"

namespace {

using vq::testing::TestHeap;

TEST(Controller, SizeZeroMeansTheDefaultPacketSize) {
  c_strm_frlist_controller c(0);
  EXPECT_EQ(c.default_size, kDefaultPacketSize);
  ASSERT_NE(c.default_pool, nullptr);
  EXPECT_EQ(c.default_pool->size, 7300);
  c_strm_buffer* b = c.default_pool->get_buffer(STRM_PRIVATE_MEM);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->size, 7300);
  EXPECT_EQ(b->capacity, 7305);
  c.default_pool->done_buffer(b);
}

TEST(Controller, FindsPoolsBySizeAndMakesMissingOnes) {
  c_strm_frlist_controller c(4096);
  c_strm_buff_frlist* p1000 = c._list_for_size(1000, 1);
  EXPECT_EQ(p1000->size, 1000);
  EXPECT_EQ(c._list_for_size(1000, 1), p1000);
  EXPECT_EQ(c._list_for_size(4096, 1), c.default_pool);
  // Not exact: the smallest pool that is not smaller.
  EXPECT_EQ(c._list_for_size(800, 0), p1000);
  EXPECT_EQ(c._list_for_size(2000, 0), c.default_pool);
  // Exact: a pool of exactly that size is made.
  c_strm_buff_frlist* p2000 = c._list_for_size(2000, 1);
  EXPECT_EQ(p2000->size, 2000);
  EXPECT_NE(p2000, c.default_pool);
  c_strm_buff_frlist* p9000 = c._list_for_size(9000, 0);
  EXPECT_EQ(p9000->size, 9000);

  // The pools stay in ascending order of size.
  std::vector<std::uint16_t> sizes;
  for (c_strm_buff_frlist_ord_iter it(c); !it.at_end(); it.next()) {
    sizes.push_back(static_cast<c_strm_buff_frlist*>(it.current)->size);
  }
  EXPECT_EQ(sizes, (std::vector<std::uint16_t>{1000, 2000, 4096, 9000}));
}

TEST(RootPool, PreallocatesInBatchesOfTenAndReusesWhatComesBack) {
  auto* heap = new TestHeap;
  c_strm_buff_src src(heap);
  c_strm_frlist_controller c(512);
  c_strm_buff_frlist root(&c, &src, 256);
  c_strm_buffer* b = root.get_buffer(STRM_PRIVATE_MEM);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(heap->allocated.load(), 10);
  EXPECT_EQ(root.free_count(STRM_SUBLIST_PRIVATE), 9u);
  for (int i = 0; i < 100; ++i) root.done_buffer(root.get_buffer(STRM_PRIVATE_MEM));
  EXPECT_EQ(heap->allocated.load(), 10) << "the steady state allocates nothing";
  root.done_buffer(b);
  EXPECT_EQ(root.free_count(STRM_SUBLIST_PRIVATE), 10u);
}

TEST(ChildPool, KeepsAtMostItsLimitAndGivesTheRestToTheParent) {
  c_strm_frlist_controller c(512);
  c_strm_buff_frlist* root = c.default_pool;
  std::vector<c_strm_buffer*> held;
  for (int i = 0; i < 6; ++i) held.push_back(root->get_buffer(STRM_PRIVATE_MEM));
  const std::uint32_t root_free = root->free_count(STRM_SUBLIST_PRIVATE);

  auto* child = new c_strm_buff_frlist(root, 4, 4);
  EXPECT_EQ(child->size, 512);
  EXPECT_EQ(child->controller, &c);
  for (c_strm_buffer* b : held) child->done_buffer(b);
  EXPECT_EQ(child->free_count(STRM_SUBLIST_PRIVATE), 4u);
  EXPECT_EQ(root->free_count(STRM_SUBLIST_PRIVATE), root_free + 2);

  // The child serves from its own list first, then asks the parent.
  held.clear();
  for (int i = 0; i < 5; ++i) held.push_back(child->get_buffer(STRM_PRIVATE_MEM));
  EXPECT_EQ(child->free_count(STRM_SUBLIST_PRIVATE), 0u);
  EXPECT_EQ(root->free_count(STRM_SUBLIST_PRIVATE), root_free + 1);
  for (c_strm_buffer* b : held) root->done_buffer(b);
  delete child;
}

TEST(ChildPool, DyingOrGivingBackMovesEveryBufferToTheParent) {
  auto* heap = new TestHeap;
  c_strm_buff_src src(heap);
  c_strm_frlist_controller c(512);
  c_strm_buff_frlist root(&c, &src, 256);
  auto* child = new c_strm_buff_frlist(&root, 4, 4);

  c_strm_buffer* shared = src.alloc(256, STRM_SHARED_MEM);
  c_strm_buffer* priv = src.alloc(256, STRM_PRIVATE_MEM);
  c_strm_buffer* blockless = src.alloc(0, STRM_SHARED_MEM);
  blockless->size = 256;  // a size-0 buffer filed under this pool's size
  ASSERT_TRUE(shared && priv && blockless);
  shared->set_in_transit(true);
  child->done_buffer(shared);
  child->done_buffer(priv);
  child->done_buffer(blockless);
  EXPECT_EQ(child->free_count(STRM_SUBLIST_SHARED), 1u);
  EXPECT_EQ(child->free_count(STRM_SUBLIST_PRIVATE), 1u);
  EXPECT_EQ(child->free_count(STRM_SUBLIST_NO_BLOCK), 1u);

  child->give_buffers_back_to_parent();
  EXPECT_EQ(child->free_count(STRM_SUBLIST_SHARED), 0u);
  EXPECT_EQ(root.free_count(STRM_SUBLIST_SHARED), 1u);
  EXPECT_EQ(root.free_count(STRM_SUBLIST_PRIVATE), 1u);
  EXPECT_EQ(root.free_count(STRM_SUBLIST_NO_BLOCK), 1u);
  EXPECT_TRUE(shared->in_transit()) << "giving back keeps the peer's hold";

  // Back to the child, then the child dies: the flag is cleared on the way.
  root.get_buffer(STRM_PRIVATE_MEM);
  child->done_buffer(priv);
  c_strm_buffer* again = src.alloc(256, STRM_SHARED_MEM);
  again->set_in_transit(true);
  child->done_buffer(again);
  delete child;
  EXPECT_EQ(root.free_count(STRM_SUBLIST_PRIVATE), 1u);
  EXPECT_EQ(root.free_count(STRM_SUBLIST_SHARED), 2u);
  EXPECT_FALSE(again->in_transit());
}

TEST(Pool, ABufferOfAnotherSizeGoesToThePoolOfItsSize) {
  c_strm_frlist_controller c(512);
  c_strm_buff_frlist* p1024 = c._list_for_size(1024, 1);
  c_strm_buffer* b = p1024->get_buffer(STRM_PRIVATE_MEM);
  ASSERT_NE(b, nullptr);
  const std::uint32_t before = p1024->free_count(STRM_SUBLIST_PRIVATE);
  c.default_pool->done_buffer(b);
  EXPECT_EQ(c.default_pool->free_count(STRM_SUBLIST_PRIVATE), 0u);
  EXPECT_EQ(p1024->free_count(STRM_SUBLIST_PRIVATE), before + 1);

}

TEST(Pool, ABufferOfASizeWithoutAPoolGetsOneMadeOnTheSpot) {
  c_strm_buff_src src;  // outlives the controller, whose pools free its buffers
  c_strm_frlist_controller c(512);
  c_strm_buffer* odd = src.alloc(700, STRM_PRIVATE_MEM);
  ASSERT_NE(odd, nullptr);
  c.default_pool->done_buffer(odd);
  c_strm_buff_frlist* own = c._list_for_size(700, 1);
  EXPECT_EQ(own->size, 700);
  EXPECT_EQ(own->free_count(STRM_SUBLIST_PRIVATE), 1u);
  c_strm_buffer* got = own->get_buffer(STRM_PRIVATE_MEM);
  EXPECT_EQ(got, odd);
  own->done_buffer(got);
}

TEST(Pool, BlocksStillInTransitAreNotHandedOut) {
  auto* heap = new TestHeap;
  c_strm_buff_src src(heap);
  c_strm_frlist_controller c(512);
  c_strm_buff_frlist root(&c, &src, 256);
  heap->allocs_left = 2;
  ASSERT_EQ(root.prealloc_buffers(2, STRM_SHARED_MEM), 2u);
  c_strm_buffer* first = root.get_buffer(STRM_SHARED_MEM);
  c_strm_buffer* second = root.get_buffer(STRM_SHARED_MEM);
  ASSERT_TRUE(first && second);
  first->set_in_transit(true);
  root.done_buffer(first);
  root.done_buffer(second);
  EXPECT_EQ(root.get_buffer(STRM_SHARED_MEM), second);

  // Once the peer lets go, the block is handed out again.
  root.done_buffer(second);
  first->set_in_transit(false);
  c_strm_buffer* a = root.get_buffer(STRM_SHARED_MEM);
  c_strm_buffer* b = root.get_buffer(STRM_SHARED_MEM);
  EXPECT_EQ(a, first);
  EXPECT_EQ(b, second);
  root.done_buffer(a);
  root.done_buffer(b);
}

TEST(Pool, ARootThatCannotAllocateReportsAndGivesNull) {
  vq::testing::ScopedHostTable table;
  auto* heap = new TestHeap;
  heap->fail = true;
  c_strm_buff_src src(heap);
  c_strm_frlist_controller c(512);
  c_strm_buff_frlist root(&c, &src, 256);
  auto* child = new c_strm_buff_frlist(&root, 4, 4);
  EXPECT_EQ(child->get_buffer(STRM_PRIVATE_MEM), nullptr);
  EXPECT_EQ(vq::testing::HostPrints::get().connectionless_lines().size(), 1u);
  delete child;

  // A heap that gives out only a few blocks: the partial batch is used.
  heap->fail = false;
  heap->allocs_left = 3;
  std::vector<c_strm_buffer*> held;
  for (int i = 0; i < 3; ++i) held.push_back(root.get_buffer(STRM_PRIVATE_MEM));
  for (c_strm_buffer* b : held) EXPECT_NE(b, nullptr);
  EXPECT_EQ(root.get_buffer(STRM_PRIVATE_MEM), nullptr);
  for (c_strm_buffer* b : held) root.done_buffer(b);
}

TEST(Pool, ComparesBySize) {
  c_strm_frlist_controller c(512);
  c_strm_buff_frlist* small = c._list_for_size(100, 1);
  c_strm_buff_frlist* big = c._list_for_size(900, 1);
  EXPECT_EQ(small->compare(big), -1);
  EXPECT_EQ(big->compare(small), 1);
  EXPECT_EQ(big->compare(big), 0);
}

}  // namespace
