// The TLS adapter's waiting write, woken by another thread: by bytes that arrive, or by
// a shut-down.
#include <gtest/gtest.h>

#include <thread>

#include "tls_adapter_fixture.h"

namespace {

TEST_F(TlsAdapterTest, WaitingWriteSleepsUntilBytesArrive) {
  vq::base::SetFastClockSource(nullptr);  // real time here
  make(VCCI_SIDE_CLIENT, /*with_yield=*/false);
  // The engine would-blocks until the peer's bytes are queued, then succeeds.
  std::atomic<bool> arrived{false};
  engine().default_answer = 2;
  for (int i = 0; i < 100000; ++i) {
    engine().writes.push_back([&](FakeConn& c, const unsigned char*, unsigned) {
      unsigned char b;
      unsigned n = 0;
      return arrived && c.pull(&b, 1, &n) == 0 ? 0u : 2u;
    });
  }
  std::thread peer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    arrived = true;
    EXPECT_EQ(tls_->receiveBytes("z", 1), 0u);
  });
  EXPECT_EQ(tls_->write("x", 1), 0u);
  peer.join();
  // A spinning loop would have called the engine many thousands of times in 300 ms.
  EXPECT_LT(engine().write_calls.load(), 100);
}

TEST_F(TlsAdapterTest, ShutDownWakesAWaitingWrite) {
  vq::base::SetFastClockSource(nullptr);
  make(VCCI_SIDE_CLIENT, /*with_yield=*/false);
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    tls_->shut_down();
  });
  EXPECT_EQ(tls_->write("x", 1), 12u);
  other.join();
  EXPECT_LT(engine().write_calls.load(), 100);
}

}  // namespace
