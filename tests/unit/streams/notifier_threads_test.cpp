// The notifier contract as the stack relies on it, shown on the test host that later
// tests of the stack use: wake-ups are never lost, limited waits end on time, and the
// indicators that must wake a blocked thread do.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "stream_test_host.h"

namespace {

using Clock = std::chrono::steady_clock;
using vq::testing::TestConnNotifier;

TEST(ConnNotifier, APostBeforeTheBlockIsNotLost) {
  TestConnNotifier n;
  ASSERT_TRUE(n.usable());
  n.post();
  n.post();
  const auto start = Clock::now();
  EXPECT_TRUE(n.block(0));
  EXPECT_TRUE(n.block(5));
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
}

TEST(ConnNotifier, ALimitedBlockEndsInTimeWhenNobodyPosts) {
  TestConnNotifier n;
  ASSERT_TRUE(n.usable());
  const auto start = Clock::now();
  EXPECT_FALSE(n.block(1));
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(950));
  EXPECT_LT(waited, std::chrono::milliseconds(2500));
}

TEST(ConnNotifier, AnUnlimitedBlockWakesOnAPostFromAnotherThread) {
  TestConnNotifier n;
  ASSERT_TRUE(n.usable());
  std::atomic<bool> returned{false};
  std::atomic<bool> result{false};
  std::thread waiter([&] {
    result = n.block(0);
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(returned.load());
  n.post();
  waiter.join();
  EXPECT_TRUE(result.load());
}

TEST(ConnNotifier, ABlockOnADeadConnectionGivesUp) {
  TestConnNotifier n;
  ASSERT_TRUE(n.usable());
  std::atomic<bool> result{true};
  std::thread waiter([&] { result = n.block(0); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  n.set_alive(false);  // seen at the next one-second step
  waiter.join();
  EXPECT_FALSE(result.load());
}

struct IndicatorCase {
  std::uint8_t code;
  bool wakes;
};

class IndicatorWakes : public testing::TestWithParam<IndicatorCase> {};

// The link's thread delivers the indicator while the request thread is blocked.
TEST_P(IndicatorWakes, OnlyTheWakingCodesEndABlock) {
  const IndicatorCase c = GetParam();
  EXPECT_EQ(strm_indicator_wakes(c.code), c.wakes);

  TestConnNotifier n;
  ASSERT_TRUE(n.usable());
  int dropped = 0;
  n.set_on_dropped([&] { ++dropped; });
  std::atomic<bool> result{false};
  std::thread waiter([&] { result = n.block(1); });
  std::thread link([&] { n.handle_strm_indicator(c.code); });
  link.join();
  waiter.join();
  EXPECT_EQ(result.load(), c.wakes);
  EXPECT_EQ(dropped, c.code == STRM_IND_CONN_DIED ? 1 : 0);
  ASSERT_EQ(n.indicators().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Codes, IndicatorWakes,
                         testing::Values(IndicatorCase{STRM_IND_NEW_MESSAGE, false},
                                         IndicatorCase{STRM_IND_LINK_CLOSED, true},
                                         IndicatorCase{STRM_IND_APP_CONNECT, true},
                                         IndicatorCase{STRM_IND_CONN_DIED, true},
                                         IndicatorCase{STRM_IND_DATA_ARRIVED, true},
                                         IndicatorCase{STRM_IND_ROOM_AGAIN, true},
                                         IndicatorCase{16, false}));

// Many posts from another thread, each consumed by one block: none is lost.
TEST(ConnNotifier, PostsAndBlocksPairUpAcrossThreads) {
  TestConnNotifier n;
  ASSERT_TRUE(n.usable());
  constexpr int kPosts = 200;
  std::thread poster([&] {
    for (int i = 0; i < kPosts; ++i) n.handle_strm_indicator(STRM_IND_DATA_ARRIVED);
  });
  int woken = 0;
  for (int i = 0; i < kPosts; ++i) woken += n.block(5) ? 1 : 0;
  poster.join();
  EXPECT_EQ(woken, kPosts);
}

TEST(EnvNotifier, MakesConnectionNotifiersOrRefusesWithAMessage) {
  vq::testing::TestEnvNotifier env;
  char err[64];
  c_strm_conn_notifier* note = env.create_conn_note(nullptr, err, sizeof err, 0);
  ASSERT_NE(note, nullptr);
  EXPECT_NE(note->get_event(), nullptr);
  note->release();

  env.set_refuse(true);
  std::memset(err, 0, sizeof err);
  EXPECT_EQ(env.create_conn_note(nullptr, err, sizeof err, 0), nullptr);
  EXPECT_STRNE(err, "");
}

}  // namespace
