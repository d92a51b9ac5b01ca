// A ring queue between two processes: one producer, one consumer, up to a million entries,
// wake-ups by System V semaphore exactly when enqueue answers "was empty" and dequeue
// answers "was full". Nothing may be lost, reordered or duplicated, and no wake-up may
// be lost (a wait that times out fails the test). In the ThreadSanitizer build the
// consumer runs on a thread of the same process instead (see peer_runner.h).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "peer_runner.h"
#include "shm_test_support.h"
#include "streams/shm/comm_block.h"

namespace {

using vq::shm::test::PeerRunner;
using vq::shm::test::ScopedSemaphore;
using vq::shm::test::ScopedShmRoot;

constexpr std::uint32_t kWaitMs = 10000;  // a wake-up that takes this long was lost

a_commq_entry EntryFor(std::uint32_t seq) {
  a_commq_entry entry{};
  std::snprintf(entry.ref.segment_name, sizeof entry.ref.segment_name, "__VellumCli__%u", seq);
  entry.ref.segment_id = seq * 2654435761u;
  entry.ref.block_offset = seq;
  entry.ref.block_size = ~seq;
  entry.ref.data_offset = seq ^ 0x5A5A5A5Au;
  entry.map_id = {seq + 1, seq * 7};
  return entry;
}

enum ConsumerResult {
  kConsumerOk = 0,
  kWakeUpLost = 2,
  kWrongEntry = 3,
  kLeftOver = 4,
  kBroken = 5
};

struct Layout {
  const char* name;
  c_strm_shm_mem (*make)(std::uint32_t);
  bool (*init)(const c_strm_shm_mem&, std::uint32_t, CommBlk*);
  int (*enqueue)(CommQ*, const a_strm_buff_ref&, const a_strm_buff_map_id&);
  int (*dequeue)(CommQ*, a_strm_buff_ref*, a_strm_buff_map_id*);
  std::uint32_t slots;  // per queue: few slots make the producer find it full often
  std::uint32_t entries;
};

class CommQueueAcrossProcesses : public ::testing::TestWithParam<Layout> {
 protected:
  ScopedShmRoot root_;
  ScopedSemaphore producer_wake_;
  ScopedSemaphore consumer_wake_;
};

TEST_P(CommQueueAcrossProcesses, EntriesArriveOnceAndInOrder) {
  const Layout& layout = GetParam();
  const std::uint32_t kEntries = layout.entries;
  ASSERT_TRUE(producer_wake_.ok() && consumer_wake_.ok());
  c_strm_shm_mem descriptor = layout.make(layout.slots);
  CommBlk block;
  ASSERT_TRUE(layout.init(descriptor, layout.slots, &block));
  CommQ* queue = CommBlk_GetQ1(&block);
  const c_strm_inter_event producer_event = producer_wake_.event();
  const c_strm_inter_event consumer_event = consumer_wake_.event();

  PeerRunner consumer(
      [&, kEntries]() -> int {
        for (std::uint32_t expected = 0; expected < kEntries;) {
          a_commq_entry got{};
          const int rc = layout.dequeue(queue, &got.ref, &got.map_id);
          if (rc == kCommQEmpty) {
            if (!sysv_timed_waiton_semaphore(&consumer_event, kWaitMs)) return kWakeUpLost;
            continue;
          }
          if (rc != kCommQStored && rc != kCommQWasFull) return kBroken;
          if (rc == kCommQWasFull) sysv_signal_semaphore(&producer_event);
          const a_commq_entry want = EntryFor(expected);
          if (std::memcmp(&got, &want, sizeof got) != 0) return kWrongEntry;
          ++expected;
        }
        a_commq_entry extra{};
        return layout.dequeue(queue, &extra.ref, &extra.map_id) == kCommQEmpty ? kConsumerOk
                                                                               : kLeftOver;
      },
      120);

  std::uint32_t full_waits = 0;
  std::uint32_t wakes_sent = 0;
  for (std::uint32_t seq = 0; seq < kEntries; ++seq) {
    const a_commq_entry entry = EntryFor(seq);
    for (;;) {
      const int rc = layout.enqueue(queue, entry.ref, entry.map_id);
      if (rc == kCommQFull) {
        ++full_waits;
        ASSERT_TRUE(sysv_timed_waiton_semaphore(&producer_event, kWaitMs))
            << "producer's wake-up lost at entry " << seq;
        continue;
      }
      ASSERT_TRUE(rc == kCommQStored || rc == kCommQWasEmpty) << rc;
      if (rc == kCommQWasEmpty) {
        ++wakes_sent;
        ASSERT_TRUE(sysv_signal_semaphore(&consumer_event));
      }
      break;
    }
  }
  EXPECT_EQ(consumer.Join(), kConsumerOk);
  // Both kinds of wake-up took part.
  EXPECT_GT(full_waits, 0u);
  EXPECT_GT(wakes_sent, 0u);
  CommBlk_Close(&block);
  descriptor.Destroy();
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, CommQueueAcrossProcesses,
    ::testing::Values(Layout{"v0", CommBlk_New, CommBlk_Init, CommQ_Enqueue, CommQ_Dequeue, 5,
                             200000},
                      Layout{"v1", CommBlk64_New, CommBlk64_Init, CommQ64_Enqueue,
                             CommQ64_Dequeue, 64, 1000000}),
    [](const ::testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });

}  // namespace
