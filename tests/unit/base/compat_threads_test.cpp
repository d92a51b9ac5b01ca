// The delay across a signal that another thread sends.
#include "utils/base/compat.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

std::atomic<int> g_signals{0};
void CountSignal(int) { g_signals.fetch_add(1); }

TEST(Delay, SleepsTheWholeTimeAcrossASignal) {
  struct sigaction action {};
  struct sigaction old {};
  action.sa_handler = &CountSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: nanosleep returns EINTR
  ASSERT_EQ(sigaction(SIGUSR1, &action, &old), 0);
  g_signals = 0;

  const pthread_t sleeper = pthread_self();
  std::thread interrupter([sleeper] {
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    pthread_kill(sleeper, SIGUSR1);
  });
  const auto start = std::chrono::steady_clock::now();
  vq::compat::delay(300);
  const auto slept = std::chrono::steady_clock::now() - start;
  interrupter.join();
  sigaction(SIGUSR1, &old, nullptr);

  EXPECT_EQ(g_signals.load(), 1);
  EXPECT_GE(slept, std::chrono::milliseconds(300));
}

}  // namespace
