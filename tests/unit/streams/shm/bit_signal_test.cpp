// The slot allocator, the scan of a bit-signal page, the semaphore helpers and the
// page object.
#include "streams/shm/bit_signal.h"

#include <gtest/gtest.h>
#include <sys/sem.h>

#include <chrono>
#include <memory>
#include <vector>

#include "shm_test_support.h"
#include "streams/shm/shm_segments.h"

namespace {

using vq::shm::test::FileExists;
using vq::shm::test::ScopedSemaphore;
using vq::shm::test::ScopedShmRoot;

class BitAllocatorTest : public ::testing::Test {
 protected:
  void SetUp() override { allocator_.init(&page_); }
  // The used chain, head to tail.
  std::vector<std::uint16_t> Used() {
    std::vector<std::uint16_t> chain;
    for (std::uint16_t s = allocator_.used_head; s < kBitSignalSlots; s = allocator_.next[s]) {
      chain.push_back(s);
      if (chain.size() > kBitSignalSlots) break;  // a cycle
    }
    return chain;
  }
  std::vector<std::uint16_t> Scan() {
    std::vector<std::uint16_t> found;
    for (a_bit_iter it = BitArray_Iter(&allocator_, &page_); it.current < kBitSignalSlots;
         BitArray_Next(&allocator_, &page_, &it)) {
      found.push_back(it.current);
    }
    return found;
  }
  a_bit_signal page_;
  a_bit_in_use allocator_;
};

TEST_F(BitAllocatorTest, HandsOutEverySlotInOrderThenNone) {
  EXPECT_EQ(page_.version, 1);
  EXPECT_EQ(page_.slots, 256);
  for (std::uint16_t want = 0; want < 256; ++want) {
    std::uint16_t slot = 999;
    ASSERT_TRUE(allocator_.alloc(&slot));
    ASSERT_EQ(slot, want);
  }
  std::uint16_t slot = 0;
  EXPECT_FALSE(allocator_.alloc(&slot));
  EXPECT_GT(slot, 255);
  EXPECT_EQ(allocator_.used_count, 256);
  EXPECT_EQ(Used().size(), 256u);
}

TEST_F(BitAllocatorTest, FreedSlotsComeBackLastFreedFirst) {
  std::uint16_t slot;
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(allocator_.alloc(&slot));
  EXPECT_TRUE(allocator_.free(3));
  EXPECT_TRUE(allocator_.free(7));
  EXPECT_TRUE(allocator_.free(5));
  EXPECT_EQ(Used(), (std::vector<std::uint16_t>{0, 1, 2, 4, 6, 8, 9}));
  for (std::uint16_t want : {5, 7, 3, 10}) {
    ASSERT_TRUE(allocator_.alloc(&slot));
    EXPECT_EQ(slot, want);
  }
  EXPECT_EQ(Used(), (std::vector<std::uint16_t>{0, 1, 2, 4, 6, 8, 9, 5, 7, 3, 10}));
}

TEST_F(BitAllocatorTest, FreeOfASlotNotInUseChangesNothing) {
  std::uint16_t slot;
  ASSERT_TRUE(allocator_.alloc(&slot));
  ASSERT_TRUE(allocator_.alloc(&slot));
  for (std::uint16_t bad : {std::uint16_t{5}, std::uint16_t{300}, kNoSlot}) {
    SCOPED_TRACE(bad);
    EXPECT_TRUE(allocator_.free(bad)) << "slots remain in use";
    EXPECT_EQ(allocator_.used_count, 2);
    EXPECT_EQ(Used(), (std::vector<std::uint16_t>{0, 1}));
  }
  EXPECT_TRUE(allocator_.free(0));
  EXPECT_TRUE(allocator_.free(0)) << "a second free of the same slot";
  EXPECT_EQ(allocator_.used_count, 1);
  EXPECT_FALSE(allocator_.free(1)) << "none left";
  ASSERT_TRUE(allocator_.alloc(&slot));
  EXPECT_EQ(slot, 1);
  ASSERT_TRUE(allocator_.alloc(&slot));
  EXPECT_EQ(slot, 0);
  ASSERT_TRUE(allocator_.alloc(&slot));
  EXPECT_EQ(slot, 2) << "the free chain was not damaged";
}

TEST_F(BitAllocatorTest, ScanFindsSignalledSlotsOnlyBehindTheSummary) {
  std::uint16_t slot;
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(allocator_.alloc(&slot));
  page_.flags[1].store(1);
  page_.flags[4].store(1);
  page_.flags[200].store(1);  // not allocated: never reported
  EXPECT_TRUE(Scan().empty()) << "summary 0: nothing is looked at";
  EXPECT_EQ(page_.flags[1].load(), 1u);

  page_.summary.store(1);
  EXPECT_EQ(Scan(), (std::vector<std::uint16_t>{1, 4}));
  EXPECT_EQ(page_.summary.load(), 0u);
  EXPECT_EQ(page_.flags[1].load(), 0u);
  EXPECT_EQ(page_.flags[4].load(), 0u);
  EXPECT_EQ(Used(), (std::vector<std::uint16_t>{0, 1, 2, 3, 4, 5})) << "every slot is back";
  page_.summary.store(1);
  EXPECT_TRUE(Scan().empty()) << "a flag is reported once";
}

TEST_F(BitAllocatorTest, ScanStoppedEarlyGivesTheRestBack) {
  std::uint16_t slot;
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(allocator_.alloc(&slot));
  page_.flags[1].store(1);
  page_.flags[3].store(1);
  page_.summary.store(1);
  a_bit_iter it = BitArray_Iter(&allocator_, &page_);
  ASSERT_EQ(it.current, 1);
  // Slots behind the one found are detached; one of them is freed meanwhile.
  EXPECT_TRUE(allocator_.free(4));
  BitArray_Done(&allocator_, &it);
  EXPECT_EQ(Used(), (std::vector<std::uint16_t>{0, 1, 2, 3}));
  EXPECT_EQ(allocator_.used_count, 4);
  ASSERT_TRUE(allocator_.alloc(&slot));
  EXPECT_EQ(slot, 4) << "the slot freed during the scan went to the free chain once";
  ASSERT_TRUE(allocator_.alloc(&slot));
  EXPECT_EQ(slot, 5);
  EXPECT_EQ(page_.flags[3].load(), 1u) << "an unscanned flag stays set";
}

class SemaphoreTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sem_.ok()); }
  int Value() const { return semctl(sem_.event().id, 0, GETVAL); }
  ScopedSemaphore sem_;
};

TEST_F(SemaphoreTest, SignalDoesNotAccumulate) {
  const c_strm_inter_event event = sem_.event();
  EXPECT_FALSE(sysv_test_semaphore(&event));
  EXPECT_TRUE(sysv_signal_semaphore(&event));
  EXPECT_TRUE(sysv_signal_semaphore(&event));
  EXPECT_EQ(Value(), 1);
  EXPECT_TRUE(sysv_test_semaphore(&event));
  EXPECT_TRUE(sysv_waiton_semaphore(&event));
  EXPECT_EQ(Value(), 0);
  EXPECT_FALSE(sysv_timed_waiton_semaphore(&event, 0)) << "the second signal was not kept";
  EXPECT_TRUE(sysv_signal_semaphore(&event));
  EXPECT_TRUE(sysv_reset_semaphore(&event));
  EXPECT_FALSE(sysv_test_semaphore(&event));
}

TEST_F(SemaphoreTest, TimedWaitsTimeOutAndConsume) {
  const c_strm_inter_event event = sem_.event();
  for (std::uint32_t ms : {0u, 50u, 200u}) {
    SCOPED_TRACE(ms);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(sysv_timed_waiton_semaphore(&event, ms));
    EXPECT_EQ(event.WaitWithTimeout(ms), 0);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(2 * ms));
    EXPECT_LT(waited, std::chrono::milliseconds(2 * ms + 2000));
  }
  ASSERT_TRUE(sysv_signal_semaphore(&event));
  EXPECT_EQ(event.WaitWithTimeout(0), 1) << "a zero timeout still tests once";
  EXPECT_EQ(Value(), 0);
  ASSERT_TRUE(sysv_signal_semaphore(&event));
  EXPECT_TRUE(sysv_timed_waiton_semaphore(&event, 5000));
}

// Ids not greater than 0 mean "none": no system call is made with them. (The task
// runtime never hands out id 0; see the threads test for a fresh IPC namespace.)
TEST_F(SemaphoreTest, NoneIsRefusedWithoutASystemCall) {
  for (const c_strm_inter_event none : {c_strm_inter_event{0, 0}, c_strm_inter_event{-1, 0}}) {
    SCOPED_TRACE(none.id);
    EXPECT_TRUE(none.IsNull());
    EXPECT_FALSE(sysv_signal_semaphore(&none));
    EXPECT_FALSE(sysv_test_semaphore(&none));
    EXPECT_FALSE(sysv_reset_semaphore(&none));
    EXPECT_FALSE(sysv_waiton_semaphore(&none)) << "returns instead of blocking";
    EXPECT_FALSE(sysv_timed_waiton_semaphore(&none, 10));
    EXPECT_EQ(none.WaitWithTimeout(0), 0);
  }
  EXPECT_FALSE(sem_.event().IsNull());
}

TEST_F(SemaphoreTest, WaitOnEitherTakesTheSignalledOne) {
  ScopedSemaphore other;
  ASSERT_TRUE(other.ok());
  const c_strm_inter_event mine = sem_.event();
  const c_strm_inter_event theirs = other.event();
  ASSERT_TRUE(sysv_signal_semaphore(&theirs));
  EXPECT_EQ(mine.WaitOnEither(theirs), 1);
  ASSERT_TRUE(sysv_signal_semaphore(&mine));
  EXPECT_EQ(mine.WaitOnEither(theirs), 0);
  EXPECT_FALSE(sysv_test_semaphore(&mine));
  EXPECT_FALSE(sysv_test_semaphore(&theirs));
  // With both signalled, successive calls start with alternate events.
  ASSERT_TRUE(sysv_signal_semaphore(&mine));
  ASSERT_TRUE(sysv_signal_semaphore(&theirs));
  const int first = mine.WaitOnEither(theirs);
  ASSERT_TRUE(sysv_signal_semaphore(first == 0 ? &mine : &theirs));
  EXPECT_NE(mine.WaitOnEither(theirs), first);
  EXPECT_EQ(c_strm_inter_event::Open("x"), 0);
}

TEST_F(SemaphoreTest, WaitOnBothTakesTheEventAndTheMutex) {
  ScopedSemaphore other;
  ASSERT_TRUE(other.ok());
  const c_strm_inter_event event = sem_.event();
  const c_strm_inter_event own = other.event();
  const c_strm_shm_mutex mutex = {own.id, own.number};
  ASSERT_TRUE(sysv_signal_semaphore(&event));
  ASSERT_TRUE(sysv_signal_semaphore(&own));
  EXPECT_EQ(mutex.WaitOnBoth(event, 0), 1);
  EXPECT_FALSE(sysv_test_semaphore(&event));
  EXPECT_FALSE(sysv_test_semaphore(&own));
  // Parts that are none are passed over instead of blocking.
  const c_strm_shm_mutex none = {0, 0};
  EXPECT_EQ(none.WaitOnBoth(c_strm_inter_event{-1, 0}, 0), 1);
  EXPECT_EQ(c_strm_shm_mutex::Open("x"), 0);
}

TEST(BitSignalPage, IsASharedFileUnderTheClientName) {
  ScopedShmRoot root;
  std::unique_ptr<c_ptshm_bitsignal> page(c_ptshm_bitsignal::NewBitSignal());
  ASSERT_NE(page, nullptr);
  EXPECT_STREQ(page->mem.segment_name, StrmCurSharedEngineAppName());
  char path[kShmPathBytes];
  ASSERT_TRUE(GetEngineSharedMemoryPath(page->mem.segment_name, page->mem.segment_id, path,
                                        sizeof path));
  EXPECT_TRUE(FileExists(path));
  EXPECT_EQ(page->address->version, 1);
  EXPECT_EQ(page->address->slots, 256);

  // A peer maps the same page from the descriptor and signals a slot.
  ScopedSemaphore sem;
  ASSERT_TRUE(sem.ok());
  std::uint16_t slot;
  ASSERT_TRUE(page->in_use.alloc(&slot));
  auto* peer = static_cast<a_bit_signal*>(page->mem.Map());
  ASSERT_NE(peer, nullptr);
  EXPECT_TRUE(SignalBitAndEvent(peer, slot, sem.event()));
  EXPECT_FALSE(SignalBitAndEvent(peer, 256, sem.event()));
  EXPECT_TRUE(DetachFromSharedMem(peer));
  EXPECT_EQ(sem.event().WaitWithTimeout(1000), 1);
  a_bit_iter it = BitArray_Iter(&page->in_use, page->address);
  EXPECT_EQ(it.current, slot);

  void* address = page->address;
  page.reset();
  EXPECT_FALSE(FileExists(path));
  EXPECT_EQ(vq::shm::testing::ShMemHolders(address), 0);
}

}  // namespace
