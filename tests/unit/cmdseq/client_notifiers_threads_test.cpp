// The client's notifiers with their two threads running: a blocked request wakes on a
// post from another thread and never misses one, a limited wait ends on time, the wait
// callback comes about once a second, a dead connection ends the wait, and the threads
// start with their names, run the stack's pending work and stop cleanly.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cmdseq/client_notifiers.h"
#include "cmdseq/cmdseq_env.h"
#include "streams/shm/shm_port.h"
#include "strm_client_double.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using vq::testing::StrmRecord;

std::atomic<int> g_wait_calls{0};
std::atomic<std::uintptr_t> g_wait_value{0};
std::atomic<int> g_give_up_after{0};  // calls after which the callback gives up; 0 never

int CountWait(std::uintptr_t value) {
  g_wait_value = value;
  const int calls = ++g_wait_calls;
  return g_give_up_after.load() != 0 && calls >= g_give_up_after.load() ? 1 : 0;
}

// An environment notifier with both threads running, and one connection notifier over a
// stand-in stream connection.
class Running : public testing::Test {
 protected:
  void SetUp() override {
    StrmRecord::get().reset();
    g_wait_calls = 0;
    g_wait_value = 0;
    g_give_up_after = 0;
    env_.wait_callback = CountWait;
    en_ = std::make_unique<c_cmdseq_env_notifier>(2);
    en_->set_env(&env_);
    ASSERT_TRUE(en_->start_control());
    note_ = std::make_unique<c_cmdseq_conn_notifier>(en_.get(), nullptr);
    ASSERT_TRUE(note_->is_initialized_ok(nullptr, 0));
    w_ = &vq::testing::Words(&sconn_);
    w_->callback_data = 0x5150;
    note_->set_sconn(&sconn_);
  }
  void TearDown() override {
    note_.reset();
    en_.reset();
  }

  // Runs block(seconds) on another thread.
  std::future<bool> block_async(c_cmdseq_conn_notifier* note, std::uint32_t seconds) {
    return std::async(std::launch::async, [note, seconds] { return note->block(seconds); });
  }

  // The result of a block started with block_async, waiting at most `limit`. A block
  // that does not end is released by killing its connection, and the test fails.
  bool result_within(std::future<bool>& f, Clock::duration limit, a_strm_conn_rec* sconn) {
    if (f.wait_for(limit) != std::future_status::ready) {
      ADD_FAILURE() << "block did not return in time";
      vq::testing::Words(sconn).alive = 0;
    }
    return f.get();
  }

  a_cmdseq_env env_;
  std::unique_ptr<c_cmdseq_env_notifier> en_;
  std::unique_ptr<c_cmdseq_conn_notifier> note_;
  a_strm_conn_rec sconn_;
  vq::testing::StrmConnWords* w_ = nullptr;  // sconn_'s words
};

TEST_F(Running, APostBeforeTheBlockReturnsAtOnce) {
  note_->post();
  note_->post();  // posts before one block collapse into one wake-up
  const auto start = Clock::now();
  EXPECT_TRUE(note_->block(0));
  EXPECT_LT(Clock::now() - start, milliseconds(500));
  EXPECT_EQ(w_->user_data.load(), 0u);  // the posted flag is cleared
  EXPECT_EQ(w_->conn_executes.load(), 1);
  EXPECT_EQ(g_wait_calls.load(), 0);
}

TEST_F(Running, ABlockWakesOnAnIndicatorFromTheLinkThread) {
  auto f = block_async(note_.get(), 0);
  std::this_thread::sleep_for(milliseconds(100));
  std::thread link([&] { note_->handle_strm_indicator(STRM_IND_DATA_ARRIVED); });
  link.join();
  EXPECT_TRUE(result_within(f, std::chrono::seconds(3), &sconn_));
  EXPECT_EQ(w_->user_data.load(), 0u);
}

// The server answers after two and a half seconds: the wait callback comes at each of
// the one-second steps before it, with the connection's callback value.
TEST_F(Running, WaitCallbackAboutOnceASecondUntilTheAnswer) {
  auto f = block_async(note_.get(), 0);
  std::this_thread::sleep_for(milliseconds(2500));
  note_->post();
  EXPECT_TRUE(result_within(f, std::chrono::seconds(3), &sconn_));
  EXPECT_GE(g_wait_calls.load(), 2);
  EXPECT_LE(g_wait_calls.load(), 3);
  EXPECT_EQ(g_wait_value.load(), 0x5150u);
}

// A caller that bounds the wait itself: the callback's "give up" ends an unlimited block
// on a live, silent connection as failed.
TEST_F(Running, TheWaitCallbackEndsAnUnlimitedBlock) {
  g_give_up_after = 2;
  auto f = block_async(note_.get(), 0);
  EXPECT_FALSE(result_within(f, std::chrono::seconds(4), &sconn_));
  EXPECT_EQ(g_wait_calls.load(), 2);
}

TEST_F(Running, ALimitedBlockOnASilentLiveConnectionTimesOut) {
  const auto start = Clock::now();
  EXPECT_FALSE(note_->block(1));
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, milliseconds(1000));
  EXPECT_LT(waited, milliseconds(2600));
  EXPECT_GE(g_wait_calls.load(), 1);
}

TEST_F(Running, ADeadConnectionEndsAnUnlimitedBlock) {
  w_->block_event_cleared = 1;  // dead wins over a cleared event
  auto f = block_async(note_.get(), 0);
  std::this_thread::sleep_for(milliseconds(50));
  w_->alive = 0;
  const auto start = Clock::now();
  EXPECT_FALSE(result_within(f, std::chrono::seconds(3), &sconn_));
  EXPECT_LT(Clock::now() - start, milliseconds(1500));
  EXPECT_EQ(w_->conn_executes.load(), 0);
}

// A link that the waiting thread polls (its block event is cleared): each step of about
// a second counts as a wake-up and runs the link's pending work.
TEST_F(Running, APolledLinkWakesEachStepAndRunsItsWork) {
  w_->block_event_cleared = 1;
  const auto start = Clock::now();
  EXPECT_TRUE(note_->block(0));
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, milliseconds(700));
  EXPECT_LT(waited, milliseconds(1600));
  EXPECT_EQ(w_->conn_executes.load(), 1);
}

// Two threads hand the turn to each other through two notifiers, while the timed thread
// counts both down: every post must end exactly the block that waits for it.
TEST_F(Running, PostsAreNeverLostBetweenThreads) {
  c_cmdseq_conn_notifier other(en_.get(), nullptr);
  a_strm_conn_rec other_conn;
  other.set_sconn(&other_conn);
  constexpr int kRounds = 300;
  std::atomic<int> missed{0};
  std::thread pong([&] {
    for (int i = 0; i < kRounds; ++i) {
      if (!note_->block(5)) ++missed;
      other.handle_strm_indicator(STRM_IND_ROOM_AGAIN);
    }
  });
  for (int i = 0; i < kRounds; ++i) {
    note_->handle_strm_indicator(STRM_IND_DATA_ARRIVED);
    if (!other.block(5)) ++missed;
  }
  pong.join();
  EXPECT_EQ(missed.load(), 0);
}

// Connection notifiers come and go while the timed thread walks its list.
TEST_F(Running, NotifiersLeaveTheTimedListSafely) {
  std::vector<std::thread> makers;
  for (int t = 0; t < 4; ++t) {
    makers.emplace_back([&] {
      for (int i = 0; i < 50; ++i) {
        c_strm_conn_notifier* n = en_->create_conn_note(nullptr, nullptr, 0, 0);
        ASSERT_NE(n, nullptr);
        std::this_thread::sleep_for(milliseconds(1));
        n->release();
      }
    });
  }
  for (auto& t : makers) t.join();
}

std::set<std::string> ThreadNames() {
  std::set<std::string> names;
  DIR* dir = opendir("/proc/self/task");
  if (dir == nullptr) return names;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
    std::string name;
    if (std::getline(comm, name)) names.insert(name);
  }
  closedir(dir);
  return names;
}

TEST(ClientThreads, StartNamedRunTheStacksWorkAndStop) {
  StrmRecord& r = StrmRecord::get();
  r.reset();
  a_cmdseq_env env;
  c_strm_env strm_env;
  env.strm_env = &strm_env;
  c_cmdseq_env_notifier en(2);
  en.set_env(&env);
  Shmem_SetClientUniquePid(1);  // the controller thread stores the process id
  ASSERT_TRUE(en.start_control());
  EXPECT_TRUE(en.control_running());
  EXPECT_TRUE(en.timed_running());
  EXPECT_EQ(Shmem_GetClientUniquePid(), static_cast<std::uint32_t>(getpid()));
  const std::set<std::string> names = ThreadNames();
  EXPECT_EQ(names.count("Application Con"), 1u);  // the system keeps 15 bytes
  EXPECT_EQ(names.count("Timed-Semaphore"), 1u);

  // A post gets the stack's work run soon; without posts it runs about once a second.
  en.post();
  const auto posted = Clock::now();
  while (r.executes.load() == 0 && Clock::now() - posted < milliseconds(2000)) {
    std::this_thread::sleep_for(milliseconds(5));
  }
  EXPECT_LT(Clock::now() - posted, milliseconds(500));
  const int before = r.executes.load();
  std::this_thread::sleep_for(milliseconds(2500));
  const int rounds = r.executes.load() - before;
  EXPECT_GE(rounds, 2);
  EXPECT_LE(rounds, 4);

  const auto stopping = Clock::now();
  en.stop_control();
  EXPECT_LT(Clock::now() - stopping, milliseconds(500));
  EXPECT_FALSE(en.control_running());
  EXPECT_FALSE(en.timed_running());
  const int after_stop = r.executes.load();
  std::this_thread::sleep_for(milliseconds(1100));
  EXPECT_EQ(r.executes.load(), after_stop);
}

// A notifier destroyed with its threads running stops them first.
TEST(ClientThreads, DestroyingTheEnvironmentNotifierStopsItsThreads) {
  StrmRecord::get().reset();
  a_cmdseq_env env;
  auto en = std::make_unique<c_cmdseq_env_notifier>(2);
  en->set_env(&env);
  ASSERT_TRUE(en->start_control());
  const auto start = Clock::now();
  en.reset();
  EXPECT_LT(Clock::now() - start, milliseconds(500));
  const std::set<std::string> names = ThreadNames();
  EXPECT_EQ(names.count("Application Con"), 0u);
  EXPECT_EQ(names.count("Timed-Semaphore"), 0u);
}

}  // namespace
