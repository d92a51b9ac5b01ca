// Wake-ups between threads and in a fresh IPC namespace.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/sem.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "peer_runner.h"
#include "shm_test_support.h"
#include "streams/shm/bit_signal.h"

namespace {

using vq::shm::test::ScopedSemaphore;

// Two connections on two threads take and give back wake-up slots of one page at the
// same time: no slot is ever handed to both, and the page's chains come out whole.
TEST(BitAllocatorThreads, TwoThreadsNeverShareASlot) {
  a_bit_signal page;
  a_bit_in_use allocator;
  allocator.init(&page);
  std::atomic<int> owner[kBitSignalSlots];
  for (auto& o : owner) o.store(0);
  std::atomic<int> shared{0};
  std::atomic<int> none_free{0};
  std::promise<void> go;
  std::shared_future<void> start = go.get_future().share();
  auto run = [&](int me) {
    start.wait();
    std::vector<std::uint16_t> held;
    for (int i = 0; i < 1000000; ++i) {
      if (held.size() < 40 && (i % 3 != 2 || held.empty())) {
        std::uint16_t slot = kNoSlot;
        if (!allocator.alloc(&slot)) {
          ++none_free;
          continue;
        }
        if (owner[slot].exchange(me) != 0) ++shared;
        held.push_back(slot);
      } else {
        const std::size_t k = static_cast<std::size_t>(i) % held.size();
        const std::uint16_t slot = held[k];
        held[k] = held.back();
        held.pop_back();
        owner[slot].store(0);
        allocator.free(slot);
      }
    }
    for (std::uint16_t slot : held) {
      owner[slot].store(0);
      allocator.free(slot);
    }
  };
  std::thread a(run, 1);
  std::thread b(run, 2);
  go.set_value();
  a.join();
  b.join();
  EXPECT_EQ(shared.load(), 0);
  EXPECT_EQ(none_free.load(), 0);  // 80 held at most: a page of 256 never runs out
  EXPECT_EQ(allocator.used_count, 0);
  EXPECT_GE(allocator.used_head, kBitSignalSlots);
  // Every slot is back on the free chain, once.
  std::vector<bool> seen(kBitSignalSlots, false);
  int free_slots = 0;
  for (std::uint16_t s = allocator.free_head; s < kBitSignalSlots; s = allocator.next[s]) {
    ASSERT_FALSE(seen[s]) << "slot " << s << " twice on the free chain";
    seen[s] = true;
    ++free_slots;
  }
  EXPECT_EQ(free_slots, static_cast<int>(kBitSignalSlots));
}

TEST(EventWakeUp, BlockedWaiterWakesWhenSignalled) {
  ScopedSemaphore sem;
  ASSERT_TRUE(sem.ok());
  const c_strm_inter_event event = sem.event();
  const auto start = std::chrono::steady_clock::now();
  std::thread waker([event] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sysv_signal_semaphore(&event);
  });
  EXPECT_EQ(event.WaitWithTimeout(10000), 1);
  waker.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5))
      << "the wait blocks until the signal, not until the time-out";
}

// The kernel gives id 0 to the first semaphore set of a fresh IPC namespace (as in a
// container). Records treat an id of 0 as "none", so the task runtime must never hand
// out 0: a client whose semaphore were 0 would never be woken. The child makes its own
// namespace (which needs the privilege to do so; skipped otherwise).
TEST(EventWakeUp, FreshIpcNamespaceNeverYieldsIdZero) {
  enum { kOk = 0, kGotZero = 1, kNoSemaphore = 2, kNoWakeUp = 3, kNoNamespace = 77 };
  if (vq::shm::test::kPeerIsThread) GTEST_SKIP() << "needs a process of its own";
  vq::shm::test::PeerRunner child(
      [] {
        if (unshare(CLONE_NEWIPC) != 0) return static_cast<int>(kNoNamespace);
        a_sysv_semaphore first{-1, 0};
        a_sysv_semaphore second{-1, 0};
        const int opened = sysv_open_semaphore(&first, 0) + sysv_open_semaphore(&second, 0);
        int result = kOk;
        if (opened != 2) {
          result = kNoSemaphore;
        } else if (first.id == 0 || second.id == 0) {
          result = kGotZero;
        } else {
          const c_strm_inter_event event = c_strm_inter_event::From(first);
          if (!sysv_signal_semaphore(&event) || event.WaitWithTimeout(1000) != 1) {
            result = kNoWakeUp;
          }
        }
        sysv_close_semaphore(&first);
        sysv_close_semaphore(&second);
        // The set kept back for id 0 ends with the namespace, when the child exits.
        return result;
      },
      30);
  const int result = child.Join();
  if (result == kNoNamespace) GTEST_SKIP() << "no permission to make an IPC namespace";
  EXPECT_EQ(result, kOk);
}

}  // namespace
