// Threads of the task runtime: start with name and stack, join, identity, wake-ups.
#include <dirent.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "vqtasks.h"

namespace {

using namespace std::chrono_literals;

struct Seen {
  char name[32] = {};
  size_t stack_size = 0;
  a_os_thread me = 0;
  bool ran = false;
};

void record_self(void* arg) {
  auto* seen = static_cast<Seen*>(arg);
  pthread_getname_np(pthread_self(), seen->name, sizeof seen->name);
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    pthread_attr_getstacksize(&attr, &seen->stack_size);
    pthread_attr_destroy(&attr);
  }
  seen->me = OS_Me();
  seen->ran = true;
}

struct StartCase {
  const char* label;
  const char* name;
  unsigned int stack_size;
  const char* expected_name;
  size_t minimum_stack;
};

void PrintTo(const StartCase& c, std::ostream* os) { *os << c.label; }

// n rounded up to whole pages.
size_t WholePages(size_t n) {
  const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return (n + page - 1) / page * page;
}

class ThreadStart : public testing::TestWithParam<StartCase> {};

TEST_P(ThreadStart, RunsUnderItsNameWithTheStackAskedForAndIsJoined) {
  const StartCase& c = GetParam();
  Seen seen;
  const a_os_thread handle = OS_Begin_Thread_Attachable(record_self, 0, c.stack_size, &seen, c.name, 1);
  ASSERT_NE(handle, 0u);
  EXPECT_EQ(OS_WaitOnThreadTermination(handle), 0);
  ASSERT_TRUE(seen.ran);
  EXPECT_STREQ(seen.name, c.expected_name);
  EXPECT_GE(seen.stack_size, c.minimum_stack);
  // A size asked for is the size given, in whole pages; not the process default
  // instead. A sanitizer may add some room of its own (ThreadSanitizer adds about
  // 640 KiB), so the check above it leaves 1 MiB.
  if (c.stack_size != 0) {
    EXPECT_LE(seen.stack_size, WholePages(c.minimum_stack) + (1u << 20));
  }
  EXPECT_EQ(seen.me, handle) << "OS_Me inside the thread is the handle its starter got";
}

const StartCase kStartCases[] = {
    {"IoThread", "TCP I/O Thread", 262144, "TCP I/O Thread", 262144},
    {"LongNameIsCut", "Application Controller Thread", 262144, "Application Con", 262144},
    {"DefaultStack", "Timed-Semaphore Thread", 0, "Timed-Semaphore", 1},
    {"TinyStackIsRaised", "tiny", 1, "tiny", PTHREAD_STACK_MIN},
    {"UnalignedStack", "odd", 262144 + 1, "odd", 262144 + 1},
    {"AboveTheDefault", "big", 16u << 20, "big", 16u << 20},  // the default is 8 MiB
    {"NoName", nullptr, 0, "", 1},
};
INSTANTIATE_TEST_SUITE_P(Starts, ThreadStart, testing::ValuesIn(kStartCases),
                         [](const auto& info) { return std::string(info.param.label); });

bool task_exists(pid_t tid) {
  struct stat st;
  return stat(("/proc/self/task/" + std::to_string(tid)).c_str(), &st) == 0;
}

struct DetachedRun {
  a_ut_pthread_semaphore started;
  std::atomic<pid_t> tid{0};
};

void detached_body(void* arg) {
  auto* run = static_cast<DetachedRun*>(arg);
  run->tid = gettid();
  ut_pthread_signal_semaphore(&run->started);
}

// A thread that is not attachable cleans up after itself; the leak checker of the
// sanitizer build sees its record if it does not.
TEST(ThreadStart, DetachedThreadEndsOnItsOwn) {
  DetachedRun run;
  ASSERT_EQ(ut_pthread_open_semaphore(&run.started, 0), 1);
  ASSERT_NE(OS_Begin_Thread_Attachable(detached_body, 0, 262144, &run, "detached", 0), 0u);
  ASSERT_EQ(ut_pthread_waiton_semaphore(&run.started), 1);
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (task_exists(run.tid) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(1ms);
  EXPECT_FALSE(task_exists(run.tid));
  ut_pthread_close_semaphore(&run.started);
}

// The waiting side of the wake-up tests: waits for the go signal, then calls OS_Wait
// `waits` times, reporting each return.
struct Sleeper {
  a_ut_pthread_semaphore go;
  int waits = 1;
  std::promise<void> first_return;
  std::promise<void> second_return;
  std::promise<void> finished;
};

void sleeper_body(void* arg) {
  auto* s = static_cast<Sleeper*>(arg);
  ut_pthread_waiton_semaphore(&s->go);
  OS_Wait();
  s->first_return.set_value();
  if (s->waits > 1) {
    OS_Wait();
    s->second_return.set_value();
  }
  s->finished.set_value();
}

class WakeUp : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(ut_pthread_open_semaphore(&sleeper_->go, 0), 1); }
  void TearDown() override {
    if (handle_ != 0) {
      // Make sure the thread ends even when a check failed: let it go to its waits and
      // wake it for each. It is joined only once it has finished, so a broken wake-up
      // fails the test instead of hanging it; the thread and its state are then left
      // alone (still waiting) until the program ends.
      ut_pthread_signal_semaphore(&sleeper_->go);
      OS_Wakeup(handle_, 0);
      OS_Wakeup(handle_, 0);
      if (sleeper_->finished.get_future().wait_for(10s) != std::future_status::ready) {
        ADD_FAILURE() << "the sleeper was still waiting 10 s after two wake-ups";
        sleeper_.release();
        return;
      }
      EXPECT_EQ(OS_WaitOnThreadTermination(handle_), 0);
    }
    ut_pthread_close_semaphore(&sleeper_->go);
  }
  void start(int waits) {
    sleeper_->waits = waits;
    handle_ = OS_Begin_Thread_Attachable(sleeper_body, 0, 262144, sleeper_.get(), "sleeper", 1);
    ASSERT_NE(handle_, 0u);
  }
  std::unique_ptr<Sleeper> sleeper_ = std::make_unique<Sleeper>();
  a_os_thread handle_ = 0;
};

TEST_F(WakeUp, WakeUpBeforeTheWaitIsNotLost) {
  start(1);
  ASSERT_EQ(OS_Wakeup(handle_, 0), 1);
  ut_pthread_signal_semaphore(&sleeper_->go);  // only now does the thread go to OS_Wait
  EXPECT_EQ(sleeper_->first_return.get_future().wait_for(10s), std::future_status::ready);
}

TEST_F(WakeUp, SeveralWakeUpsReleaseOneWait) {
  start(2);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(OS_Wakeup(handle_, 0), 1);
  ut_pthread_signal_semaphore(&sleeper_->go);
  ASSERT_EQ(sleeper_->first_return.get_future().wait_for(10s), std::future_status::ready);
  auto second = sleeper_->second_return.get_future();
  EXPECT_EQ(second.wait_for(200ms), std::future_status::timeout);
  OS_Wakeup(handle_, 0);
  EXPECT_EQ(second.wait_for(10s), std::future_status::ready);
}

TEST_F(WakeUp, WakeUpDuringTheWait) {
  start(1);
  ut_pthread_signal_semaphore(&sleeper_->go);
  auto woke = sleeper_->first_return.get_future();
  EXPECT_EQ(woke.wait_for(100ms), std::future_status::timeout);
  OS_Wakeup(handle_, 0);
  EXPECT_EQ(woke.wait_for(10s), std::future_status::ready);
}

// A thread the runtime did not start (here a std::thread) gets an identity of its
// own on first use, keeps it, and can be woken through it.
TEST(ForeignThread, HasAStableIdentityAndCanBeWoken) {
  const a_os_thread main_me = OS_Me();
  ASSERT_NE(main_me, 0u);
  EXPECT_EQ(OS_Me(), main_me);

  // Shared with the thread through the heap: when the wake-up is broken the thread is
  // left waiting (detached) and the test fails instead of hanging on the join.
  struct Shared {
    std::promise<a_os_thread> identity;
    std::promise<void> woke;
  };
  auto shared = std::make_shared<Shared>();
  std::thread foreign([shared] {
    const a_os_thread me = OS_Me();
    shared->identity.set_value(me == OS_Me() ? me : 0);
    OS_Wait();
    shared->woke.set_value();
  });
  auto identity = shared->identity.get_future();
  if (identity.wait_for(10s) != std::future_status::ready) {
    foreign.detach();
    FAIL() << "the thread did not report its identity";
  }
  const a_os_thread other = identity.get();
  EXPECT_NE(other, 0u);
  EXPECT_NE(other, main_me);
  OS_Wakeup(other, 0);
  if (shared->woke.get_future().wait_for(10s) != std::future_status::ready) {
    foreign.detach();
    FAIL() << "the thread was still waiting 10 s after its wake-up";
  }
  foreign.join();
}

}  // namespace
