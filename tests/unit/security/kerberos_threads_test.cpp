// The Kerberos binding serialises the calls of connection threads into the library.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "kerberos_fixture.h"

namespace {

TEST_F(KerberosFake, ConnectionThreadsAreSerialised) {
  fake_.SetCallDelay(20);
  constexpr int kThreads = 4;
  constexpr int kRounds = 25;
  std::vector<int> done(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &done] {
      for (int i = 0; i < kRounds; ++i) {
        KerberosClientState* state = KerberosClientGetAuthBlock(nullptr, nullptr, "svc");
        if (state == nullptr) return;
        if (KerberosClientVerifyServerAuthBlock(state, "R", 1) == 1 &&
            state->token == nullptr) {
          ++done[t];
        }
        KerberosFiniClientState(state);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(done[t], kRounds);
}

}  // namespace
