// Shared heaps, buffer references and the process table within one process.
#include "streams/shm/shared_heap.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "shm_test_support.h"
#include "streams/shm/shm_mem.h"
#include "streams/shm/shm_segments.h"

namespace {

using vq::shm::test::FileExists;
using vq::shm::test::IsMapped;
using vq::shm::test::ScopedShmRoot;
using vq::shm::testing::ShMemHolders;

c_shared_heapblk* Block(const c_shared_ref& ref) {
  return static_cast<c_shared_heapblk*>(ref.block);
}

// Maps a reference as the receiving side does.
std::uint8_t* PeerData(c_shared_heap& heap, const a_strm_buff_ref& tran,
                       c_strm_procref* process, std::uint32_t* room = nullptr) {
  a_strm_buff_map_id map_id{0, 0};
  std::uint32_t ignored = 0;
  return heap.shared_ref_tran_get_ptr(tran, map_id, c_shared_ref{}, process,
                                      room != nullptr ? room : &ignored);
}

class SharedHeapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    heap_ = std::make_unique<c_shared_heap>();
    page_ = ShmPageSize();
  }
  void TearDown() override { heap_.reset(); }
  std::uint32_t FileSize() {
    std::uint32_t size = 0;
    SizeSharedEngineMemory(heap_->name(), heap_->id(), &size);
    return size;
  }
  ScopedShmRoot root_;
  std::unique_ptr<c_shared_heap> heap_;
  std::uint32_t page_ = 0;
};

TEST_F(SharedHeapTest, SmallRequestsShareTheLastBlock) {
  EXPECT_STREQ(heap_->name(), StrmCurSharedEngineAppName());
  EXPECT_NE(heap_->id(), 0u);
  EXPECT_EQ(FileSize(), 0u) << "the heap file starts empty";
  c_shared_ref a;
  c_shared_ref b;
  ASSERT_TRUE(heap_->alloc(100, &a, false));
  ASSERT_TRUE(heap_->alloc(100, &b, false));
  EXPECT_EQ(a.block, b.block);
  EXPECT_EQ(a.offset, 0u);
  EXPECT_EQ(b.offset, 100u);
  EXPECT_EQ(Block(a)->size, page_);
  EXPECT_EQ(Block(a)->remaining, page_ - 200);
  EXPECT_EQ(heap_->block_count(), 1u);
  EXPECT_EQ(FileSize(), page_);

  c_shared_ref empty;
  ASSERT_TRUE(heap_->alloc(0, &empty, false));
  EXPECT_EQ(empty.shared, 0);
  EXPECT_EQ(empty.block, nullptr);
  EXPECT_EQ(heap_->resolve(empty), nullptr);
}

TEST_F(SharedHeapTest, NewBlockWhenTheLastLacksRoomOrIsTheOtherKind) {
  struct Step {
    const char* what;
    std::uint32_t size;
    bool is_private;
    bool new_block;
    std::uint32_t block_size_pages;
  };
  const std::uint32_t p = ShmPageSize();
  const Step steps[] = {
      {"first", 100, false, true, 1},
      {"fits", p - 200, false, false, 1},
      {"one byte too many", 101, false, true, 1},
      {"private after shared", 10, true, true, 1},
      {"shared after private, though earlier blocks have room", 10, false, true, 1},
      {"exactly one page takes two", p, false, true, 2},
      {"just under two pages", 2 * p - 1, false, true, 2},
      {"exactly two pages take three", 2 * p, false, true, 3},
  };
  c_shared_heapblk* last = nullptr;
  std::uint32_t file = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    c_shared_ref ref;
    ASSERT_TRUE(heap_->alloc(s.size, &ref, s.is_private));
    EXPECT_EQ(Block(ref) != last, s.new_block);
    if (s.new_block) {
      EXPECT_EQ(ref.offset, 0u);
      EXPECT_EQ(Block(ref)->size, s.block_size_pages * p);
      EXPECT_EQ(Block(ref)->is_private != 0, s.is_private);
      if (!s.is_private) {
        EXPECT_EQ(Block(ref)->block_offset, file) << "blocks follow one another in the file";
        file += Block(ref)->size;
      }
    }
    std::memset(heap_->resolve(ref), 0xA5, s.size);  // the storage is really there
    last = Block(ref);
  }
  EXPECT_EQ(FileSize(), file) << "private blocks take no room in the file";
  heap_->freeall();
  EXPECT_EQ(heap_->block_count(), 0u);
  EXPECT_EQ(FileSize(), file) << "the file never shrinks";
}

TEST_F(SharedHeapTest, TransferReferenceNamesTheBlockForThePeer) {
  c_shared_ref ref;
  ASSERT_TRUE(heap_->alloc(300, &ref, false));
  ASSERT_TRUE(heap_->alloc(40, &ref, false));
  a_strm_buff_ref out;
  std::memset(&out, 0xFF, sizeof out);
  get_tran_ref(ref, &out);
  EXPECT_STREQ(out.segment_name, heap_->name());
  EXPECT_EQ(out.segment_id, heap_->id());
  EXPECT_EQ(out.block_offset, 0u);
  EXPECT_EQ(out.block_size, page_);
  EXPECT_EQ(out.data_offset, 300u);

  const a_strm_buff_ref zero{};
  c_shared_ref private_ref;
  ASSERT_TRUE(heap_->alloc(10, &private_ref, true));
  get_tran_ref(private_ref, &out);
  EXPECT_EQ(std::memcmp(&out, &zero, sizeof out), 0) << "private memory cannot be mapped";
  c_shared_ref none;
  get_tran_ref(none, &out);
  EXPECT_EQ(std::memcmp(&out, &zero, sizeof out), 0);
}

TEST_F(SharedHeapTest, ProcessReferencesAreCountedAndReleaseTheirBlocks) {
  c_strm_proctable& table = heap_->proctable();
  c_strm_procref* first = table.Locate(4711, 9);
  c_strm_procref* again = table.Locate(4711, 9);
  c_strm_procref* other = table.Locate(4711, 10);
  EXPECT_EQ(first, again);
  EXPECT_NE(first, other);
  EXPECT_EQ(first->count(), 2u);
  EXPECT_EQ(table.size(), 2u);

  // Map one of our own blocks through the reference, as if a peer had sent it.
  c_shared_ref ref;
  ASSERT_TRUE(heap_->alloc(64, &ref, false));
  std::strcpy(reinterpret_cast<char*>(heap_->resolve(ref)), "payload");
  a_strm_buff_ref tran;
  get_tran_ref(ref, &tran);
  std::uint32_t room = 0;
  auto* seen = reinterpret_cast<char*>(PeerData(*heap_, tran, first, &room));
  ASSERT_NE(seen, nullptr);
  EXPECT_STREQ(seen, "payload");
  EXPECT_EQ(room, page_);
  EXPECT_EQ(reinterpret_cast<char*>(PeerData(*heap_, tran, first)), seen)
      << "a block is mapped once per process reference";
  EXPECT_EQ(ShMemHolders(seen), 1);

  first->Release();
  EXPECT_EQ(table.size(), 2u);
  EXPECT_TRUE(IsMapped(seen, page_));
  first->Release();
  EXPECT_EQ(table.size(), 1u) << "the last release deletes the reference";
  EXPECT_EQ(ShMemHolders(seen), 0);
  EXPECT_FALSE(IsMapped(seen, page_)) << "and unmaps what it mapped";
  other->Release();
  EXPECT_EQ(table.size(), 0u);
}

// Buffer references come from the peer. Each bad value is refused before anything is
// mapped or touched outside the referenced block.
TEST_F(SharedHeapTest, ReferencesFromThePeerAreChecked) {
  c_shared_ref ref;
  ASSERT_TRUE(heap_->alloc(64, &ref, false));
  a_strm_buff_ref good;
  get_tran_ref(ref, &good);
  c_strm_procref* peer = heap_->proctable().Locate(static_cast<std::uint32_t>(getpid()), 1);

  struct Case {
    const char* what;
    void (*spoil)(a_strm_buff_ref&);
  };
  const Case cases[] = {
      {"owner climbs out", [](a_strm_buff_ref& r) { std::strcpy(r.segment_name, "../x"); }},
      {"owner is absolute", [](a_strm_buff_ref& r) { std::strcpy(r.segment_name, "/etc"); }},
      {"owner is the parent", [](a_strm_buff_ref& r) { std::strcpy(r.segment_name, ".."); }},
      {"owner unterminated with a slash",
       [](a_strm_buff_ref& r) {
         std::memset(r.segment_name, 'a', sizeof r.segment_name);
         r.segment_name[3] = '/';
       }},
      {"no owner: no shared buffer", [](a_strm_buff_ref& r) { r.segment_name[0] = '\0'; }},
      {"data at the block's end", [](a_strm_buff_ref& r) { r.data_offset = r.block_size; }},
      {"data far beyond", [](a_strm_buff_ref& r) { r.data_offset = 0xFFFFFFF0u; }},
      {"block past the file", [](a_strm_buff_ref& r) { r.block_size = 64 * r.block_size; }},
      {"block offset from 2^31", [](a_strm_buff_ref& r) { r.block_offset = 0x80000000u; }},
      {"block offset off the page", [](a_strm_buff_ref& r) { r.block_offset = 8; }},
      {"empty block", [](a_strm_buff_ref& r) { r.block_size = 0; }},
      {"unknown file", [](a_strm_buff_ref& r) { r.segment_id += 77; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    a_strm_buff_ref bad = good;
    c.spoil(bad);
    ::testing::internal::CaptureStderr();
    std::uint32_t room = 5;
    EXPECT_EQ(PeerData(*heap_, bad, peer, &room), nullptr);
    EXPECT_EQ(room, 0u);
    ::testing::internal::GetCapturedStderr();
  }
  EXPECT_EQ(PeerData(*heap_, good, nullptr), nullptr) << "no process reference";

  // The block once mapped at its true size; the same block claimed larger is refused
  // rather than served from the smaller mapping.
  ASSERT_TRUE(heap_->alloc(2 * page_, &ref, false));  // the file grows past the first block
  ASSERT_NE(PeerData(*heap_, good, peer), nullptr);
  a_strm_buff_ref larger = good;
  larger.block_size = 2 * page_;
  larger.data_offset = page_ + 10;
  EXPECT_EQ(PeerData(*heap_, larger, peer), nullptr);
  peer->Release();
}

TEST(ShmKeys, HashesStayInTheirBuckets) {
  struct Case {
    std::uint32_t offset;
    std::uint16_t bucket;
  };
  const Case cases[] = {
      {0, 0},          {8192, 1}, {5 * 8192, 0}, {0x7FFFE000, 3},  // 262143 % 5
      {0x80000000, 4},  // 262144 % 5; as a signed value the bucket would be negative
      {0xFFFFE000, 2},  // 524287 % 5
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    const c_strm_shm_key key("n", 1, c.offset);
    EXPECT_EQ(key.hash(), c.bucket);
  }
  // x = 0x12345678 ^ 0x9ABCDEF0 = 0x88888888; y = x ^ (x >> 16) = 0x88880000;
  // (0x00 ^ 0x00) & 15 = 0. And x = 0x00001234: y = 0x1234, (0x34 ^ 0x12) & 15 = 6.
  EXPECT_EQ(c_strm_prockey(0x12345678, 0x9ABCDEF0).hash(), 0);
  EXPECT_EQ(c_strm_prockey(0x1234, 0).hash(), 6);
  for (std::uint32_t pid : {0u, 1u, 0xFFFFFFFFu, 0x80000000u}) {
    EXPECT_LT(c_strm_prockey(pid, 3).hash(), 16);
  }
}

// Two environments have two heaps; freeing one must leave the other working.
TEST(SharedHeaps, TheLastOneEndsTheClientName) {
  ScopedShmRoot root;
  auto first = std::make_unique<c_shared_heap>();
  auto second = std::make_unique<c_shared_heap>();
  EXPECT_STREQ(first->name(), second->name());
  EXPECT_NE(first->id(), second->id());
  const std::string tree = root.dir(first->name());
  first.reset();
  EXPECT_TRUE(FileExists(tree));
  EXPECT_EQ(IsSharedMemoryOpsAllowed(), 1);
  c_shared_ref ref;
  EXPECT_TRUE(second->alloc(10, &ref, false)) << "the other heap's file is still there";
  second.reset();
  EXPECT_FALSE(FileExists(tree));
  EXPECT_EQ(IsSharedMemoryOpsAllowed(), 0);
}

}  // namespace
