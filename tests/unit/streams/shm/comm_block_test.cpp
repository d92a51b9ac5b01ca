// Ring queues and comm blocks in one process: the wake-up results, the order of
// entries, both layouts' offsets, and queues whose shared words a peer has spoiled.
#include "streams/shm/comm_block.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "shm_test_support.h"
#include "streams/shm/shm_segments.h"

namespace {

using vq::shm::test::ScopedShmRoot;

struct V0 {
  static constexpr a_shm_structure_version kVersion = kShmStructV0;
  static constexpr std::uint64_t kQueueBytes5 = 348;
  static bool Init(CommQ* q, std::uint32_t n) { return CommQ_Init(q, n); }
  static int Enqueue(CommQ* q, const a_strm_buff_ref& r, const a_strm_buff_map_id& m) {
    return CommQ_Enqueue(q, r, m);
  }
  static int Dequeue(CommQ* q, a_strm_buff_ref* r, a_strm_buff_map_id* m) {
    return CommQ_Dequeue(q, r, m);
  }
  static c_strm_shm_mem New(std::uint32_t n) { return CommBlk_New(n); }
  static bool BlkInit(const c_strm_shm_mem& d, std::uint32_t n, CommBlk* b) {
    return CommBlk_Init(d, n, b);
  }
  static bool Open(const c_strm_shm_mem& d, CommBlk* b) { return CommBlk_Open(d, b); }
  static void Close(CommBlk* b) { CommBlk_Close(b); }
  static std::uint64_t Bytes(std::uint32_t n) { return CommQBytes(n); }
  // Byte offsets of size, head and tail within a queue.
  static constexpr std::size_t kSize = 0, kHead = 4, kTail = 8;
};

struct V1 {
  static constexpr a_shm_structure_version kVersion = kShmStructV1;
  static constexpr std::uint64_t kQueueBytes5 = 360;
  static bool Init(CommQ* q, std::uint32_t n) { return CommQ64_Init(q, n); }
  static int Enqueue(CommQ* q, const a_strm_buff_ref& r, const a_strm_buff_map_id& m) {
    return CommQ64_Enqueue(q, r, m);
  }
  static int Dequeue(CommQ* q, a_strm_buff_ref* r, a_strm_buff_map_id* m) {
    return CommQ64_Dequeue(q, r, m);
  }
  static c_strm_shm_mem New(std::uint32_t n) { return CommBlk64_New(n); }
  static bool BlkInit(const c_strm_shm_mem& d, std::uint32_t n, CommBlk* b) {
    return CommBlk64_Init(d, n, b);
  }
  static bool Open(const c_strm_shm_mem& d, CommBlk* b) { return CommBlk64_Open(d, b); }
  static void Close(CommBlk* b) { CommBlk64_Close(b); }
  static std::uint64_t Bytes(std::uint32_t n) { return CommQ64Bytes(n); }
  static constexpr std::size_t kSize = 0, kHead = 8, kTail = 16;
};

a_strm_buff_ref Ref(std::uint32_t seq) {
  a_strm_buff_ref ref{};
  std::snprintf(ref.segment_name, sizeof ref.segment_name, "owner%u", seq);
  ref.segment_id = seq + 1;
  ref.block_offset = seq * 4096;
  ref.block_size = 4096;
  ref.data_offset = seq % 4096;
  return ref;
}

std::uint32_t Word(const void* base, std::size_t offset) {
  std::uint32_t value;
  std::memcpy(&value, static_cast<const unsigned char*>(base) + offset, sizeof value);
  return value;
}

void SetWord(void* base, std::size_t offset, std::uint32_t value) {
  std::memcpy(static_cast<unsigned char*>(base) + offset, &value, sizeof value);
}

template <typename V>
class CommQueueTest : public ::testing::Test {
 protected:
  // A queue of n slots in private memory.
  CommQ MakeQueue(std::uint32_t n) {
    storage_.assign(V::Bytes(n) / 8 + 1, 0);
    CommQ q = CommQ_Handle(storage_.data(), V::kVersion, V::Bytes(n));
    EXPECT_TRUE(V::Init(&q, n));
    return q;
  }
  std::vector<std::uint64_t> storage_;
};

using Versions = ::testing::Types<V0, V1>;
TYPED_TEST_SUITE(CommQueueTest, Versions);

TYPED_TEST(CommQueueTest, WakeUpResultsFollowTheFillLevel) {
  CommQ q = this->MakeQueue(5);
  const a_strm_buff_map_id id{42, 7};
  a_strm_buff_ref ref{};
  a_strm_buff_map_id got{};

  EXPECT_EQ(TypeParam::Dequeue(&q, &ref, &got), kCommQEmpty);
  EXPECT_EQ(Word(q.ring, TypeParam::kHead), 0u) << "an empty dequeue changes nothing";

  EXPECT_EQ(TypeParam::Enqueue(&q, Ref(0), id), kCommQWasEmpty);
  EXPECT_EQ(TypeParam::Enqueue(&q, Ref(1), id), kCommQStored);
  EXPECT_EQ(TypeParam::Enqueue(&q, Ref(2), id), kCommQStored);
  EXPECT_EQ(TypeParam::Enqueue(&q, Ref(3), id), kCommQStored);
  EXPECT_EQ(TypeParam::Enqueue(&q, Ref(4), id), kCommQFull) << "five slots hold four entries";
  EXPECT_EQ(Word(q.ring, TypeParam::kTail), 4u) << "a full enqueue stores nothing";

  EXPECT_EQ(TypeParam::Dequeue(&q, &ref, &got), kCommQWasFull);
  EXPECT_EQ(ref.segment_id, 1u);
  EXPECT_EQ(got.owner_pid, 42u);
  EXPECT_EQ(got.owner_ref_id, 7u);
  EXPECT_EQ(TypeParam::Dequeue(&q, &ref, &got), kCommQStored);
  EXPECT_EQ(TypeParam::Dequeue(&q, &ref, &got), kCommQStored);
  EXPECT_EQ(TypeParam::Dequeue(&q, &ref, &got), kCommQStored);
  EXPECT_EQ(ref.segment_id, 4u);
  EXPECT_EQ(TypeParam::Dequeue(&q, &ref, &got), kCommQEmpty);
  // Empty again after the consumer caught up: the next producer wakes it.
  EXPECT_EQ(TypeParam::Enqueue(&q, Ref(5), id), kCommQWasEmpty);
}

TYPED_TEST(CommQueueTest, EntriesComeOutInOrderAcrossManyWraps) {
  CommQ q = this->MakeQueue(5);
  std::uint32_t next_in = 0;
  std::uint32_t next_out = 0;
  // Uneven bursts so that head and tail wrap at every position.
  for (int round = 0; round < 50; ++round) {
    for (int i = 0; i < 1 + round % 4; ++i) {
      ASSERT_NE(TypeParam::Enqueue(&q, Ref(next_in), {next_in, 0}), kCommQFull);
      ++next_in;
    }
    for (int i = 0; i < 1 + (round + 1) % 4 && next_out < next_in; ++i) {
      a_strm_buff_ref ref{};
      a_strm_buff_map_id id{};
      ASSERT_NE(TypeParam::Dequeue(&q, &ref, &id), kCommQEmpty);
      const a_strm_buff_ref want = Ref(next_out);
      ASSERT_EQ(std::memcmp(&ref, &want, sizeof ref), 0) << "entry " << next_out;
      ASSERT_EQ(id.owner_pid, next_out);
      ++next_out;
    }
  }
}

// A peer writes the shared words; out-of-range values are refused, not followed.
TYPED_TEST(CommQueueTest, SpoiledIndexesAreRefused) {
  struct Case {
    const char* what;
    std::size_t offset;
    std::uint32_t value;
  };
  const Case cases[] = {
      {"head at the slot count", TypeParam::kHead, 5},
      {"tail beyond the ring", TypeParam::kTail, 0x80000000u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CommQ q = this->MakeQueue(5);
    ASSERT_EQ(TypeParam::Enqueue(&q, Ref(0), {1, 1}), kCommQWasEmpty);
    SetWord(q.ring, c.offset, c.value);
    a_strm_buff_ref ref{};
    a_strm_buff_map_id id{};
    EXPECT_EQ(TypeParam::Enqueue(&q, Ref(1), {1, 1}), kCommQBroken);
    EXPECT_EQ(TypeParam::Dequeue(&q, &ref, &id), kCommQBroken);
    CommQ reread = CommQ_Handle(q.ring, TypeParam::kVersion, q.bytes);
    EXPECT_FALSE(CommQ_Attach(&reread));
  }
  // A slot count that claims more room than the ring has.
  CommQ q = this->MakeQueue(5);
  SetWord(q.ring, TypeParam::kSize, 1000000);
  CommQ reread = CommQ_Handle(q.ring, TypeParam::kVersion, q.bytes);
  EXPECT_FALSE(CommQ_Attach(&reread));
  // A handle of the other layout.
  CommQ other = this->MakeQueue(5);
  other.version = TypeParam::kVersion == kShmStructV0 ? kShmStructV1 : kShmStructV0;
  EXPECT_EQ(TypeParam::Enqueue(&other, Ref(0), {1, 1}), kCommQBroken);
}

TYPED_TEST(CommQueueTest, InitRefusesARingThatDoesNotFit) {
  std::vector<std::uint64_t> storage(TypeParam::Bytes(5) / 8 + 1, 0);
  CommQ q = CommQ_Handle(storage.data(), TypeParam::kVersion, TypeParam::Bytes(5) - 1);
  EXPECT_FALSE(TypeParam::Init(&q, 5));
  q = CommQ_Handle(storage.data(), TypeParam::kVersion, TypeParam::Bytes(5));
  EXPECT_FALSE(TypeParam::Init(&q, 0));
  EXPECT_TRUE(TypeParam::Init(&q, 5));
}

template <typename V>
class CommBlockTest : public ::testing::Test {
 protected:
  ScopedShmRoot root_;
};
TYPED_TEST_SUITE(CommBlockTest, Versions);

TYPED_TEST(CommBlockTest, PeerSeesTheQueuesTheCreatorInitialised) {
  const c_strm_shm_mem descriptor = TypeParam::New(5);
  ASSERT_FALSE(descriptor.IsNull());
  CommBlk mine;
  ASSERT_TRUE(TypeParam::BlkInit(descriptor, 5, &mine));
  const auto* base = static_cast<const unsigned char*>(mine.block);
  const std::size_t q1 = TypeParam::kVersion == kShmStructV0 ? 4 : 8;
  EXPECT_EQ(static_cast<const unsigned char*>(CommBlk_GetQ1(&mine)->ring) - base, q1);
  EXPECT_EQ(static_cast<const unsigned char*>(CommBlk_GetQ2(&mine)->ring) -
                static_cast<const unsigned char*>(CommBlk_GetQ1(&mine)->ring),
            TypeParam::kQueueBytes5);
  EXPECT_EQ(Word(base, q1 + TypeParam::kSize), 5u);
  EXPECT_FALSE(CommBlk_IsClosed(mine));

  ASSERT_EQ(TypeParam::Enqueue(CommBlk_GetQ1(&mine), Ref(9), {1, 2}), kCommQWasEmpty);

  // The peer maps the block through the same descriptor; the registry gives it the
  // same mapping, counted once more.
  CommBlk peer;
  ASSERT_TRUE(TypeParam::Open(descriptor, &peer));
  EXPECT_EQ(peer.q1.slots, 5u);
  EXPECT_EQ(peer.q2.ring, mine.q2.ring);
  a_strm_buff_ref ref{};
  a_strm_buff_map_id id{};
  ASSERT_EQ(TypeParam::Dequeue(CommBlk_GetQ1(&peer), &ref, &id), kCommQStored);
  EXPECT_EQ(ref.segment_id, 10u);
  EXPECT_EQ(TypeParam::Enqueue(CommBlk_GetQ2(&peer), Ref(3), {2, 1}), kCommQWasEmpty);
  EXPECT_EQ(TypeParam::Dequeue(CommBlk_GetQ2(&mine), &ref, &id), kCommQStored);

  TypeParam::Close(&peer);
  EXPECT_TRUE(CommBlk_IsClosed(mine)) << "closing either side sets the closed word";
  EXPECT_TRUE(vq::shm::test::IsMapped(mine.block, 1)) << "the other holder keeps its mapping";
  void* block = mine.block;
  TypeParam::Close(&mine);
  EXPECT_FALSE(vq::shm::test::IsMapped(block, 1));
  c_strm_shm_mem copy = descriptor;
  copy.Destroy();
}

TYPED_TEST(CommBlockTest, OpenRefusesABlockWhoseSecondQueueLiesBeyondIt) {
  c_strm_shm_mem descriptor = TypeParam::New(5);
  CommBlk mine;
  ASSERT_TRUE(TypeParam::BlkInit(descriptor, 5, &mine));
  // The peer claims a first queue so long that the second would start past the file.
  const std::size_t q1 = TypeParam::kVersion == kShmStructV0 ? 4 : 8;
  SetWord(mine.block, q1 + TypeParam::kSize, 70);
  CommBlk peer;
  EXPECT_FALSE(TypeParam::Open(descriptor, &peer));
  EXPECT_EQ(peer.block, nullptr);
  TypeParam::Close(&mine);
  descriptor.Destroy();
}

}  // namespace
