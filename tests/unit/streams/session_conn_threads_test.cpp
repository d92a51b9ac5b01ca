// The session connection with its three kinds of threads at once: the request thread
// writing and reading (waiting through the test host's notifier), the link's thread
// delivering packets, and the control thread sending liveness packets.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "fake_session.h"
#include "stream_test_host.h"
#include "streams/packet_header.h"
#include "streams/session_conn.h"
#include "strm_fakes.h"
#include "utils/base/timer_tick.h"

namespace {

using vq::testing::FakePconn;
using vq::testing::FakePort;
using vq::testing::MakePacket;
using vq::testing::TestConnNotifier;
using Bytes = std::vector<std::uint8_t>;

class QuietOwner : public c_strm_sconn_owner {
 public:
  void queue_callback_msg(c_strm_sconn*, std::uint8_t, std::uint32_t, const char*,
                          std::uint16_t) override {}
  void stop_conn_callback_msgs(c_strm_sconn*) override {}
  void request_liveness_pass() override {}
  void update_timeout_from_conn(std::uint16_t) override {}
  void add_receive_proxy(c_strm_sconn*) override {}
  void remove_receive_proxy(c_strm_sconn*) override {}
  void delayed_delete(c_strm_sconn*) override {}
  bool shutting_down() const override { return false; }
  c_strm_env_notifier* env_notifier() override { return &env; }
  vq::testing::TestEnvNotifier env;
};

class SessionThreads : public testing::Test {
 protected:
  void SetUp() override {
    port_.liveness = true;
    link_ = new FakePconn;
    link_->port = &port_;
    notifier_ = new TestConnNotifier;
    ASSERT_TRUE(notifier_->usable());
    sconn_ = new c_strm_sconn(&owner_, new c_strm_tconn(&tran_, link_, nullptr),
                              controller_.default_pool, notifier_, nullptr);
    sconn_->start_receive();
    const Bytes opener = MakePacket(PKT_APP_CONNECT, 0, 1);
    sconn_->tconn()->accept_bytes(opener.data(), static_cast<std::uint32_t>(opener.size()));
    ASSERT_TRUE(notifier_->block(1));  // the app-connect indicator
  }
  void TearDown() override { delete sconn_; }

  c_strm_frlist_controller controller_{2000};
  c_strm_tran_layer tran_{nullptr, controller_.default_pool, nullptr};
  QuietOwner owner_;
  FakePort port_{STRM_PORT_TCPIP};
  FakePconn* link_ = nullptr;
  TestConnNotifier* notifier_ = nullptr;  // owned by the connection
  c_strm_sconn* sconn_ = nullptr;
};

// The reader blocks whenever nothing has arrived; every packet the link's thread
// delivers wakes it, and no wake-up is lost between "nothing yet" and the block.
TEST_F(SessionThreads, AReaderWaitingForThePeerIsAlwaysWoken) {
  constexpr int kMessages = 300;
  std::thread link([&] {
    for (int i = 0; i < kMessages; ++i) {
      const Bytes p = MakePacket(PKT_DATA, PKT_STATUS_EOM, 1 + i % 50, static_cast<std::uint8_t>(i));
      sconn_->tconn()->accept_bytes(p.data(), static_cast<std::uint32_t>(p.size()));
      if (i % 7 == 0) std::this_thread::yield();
    }
  });
  int read = 0;
  bool stuck = false;
  while (read < kMessages && !stuck) {
    std::uint8_t type, status;
    std::uint16_t length;
    const an_int_strm_error rc = sconn_->_receive_prv(&type, &status, &length, false);
    if (rc == STRM_NOTHING_YET) {
      stuck = !notifier_->block(5);
      continue;
    }
    ASSERT_EQ(rc, STRM_OK);
    EXPECT_EQ(length, 4 + 1 + read % 50) << read;
    sconn_->advance(sconn_->in_end() - sconn_->in_pos());
    ++read;
  }
  link.join();
  EXPECT_FALSE(stuck) << "a wake-up was lost after " << read << " messages";
  EXPECT_EQ(read, kMessages);
}

// The control thread's liveness packets compete with the request thread's writes for
// the link; a writer refused while another write is in progress is told when it may go
// on, and every message arrives whole.
TEST_F(SessionThreads, WritesAndLivenessShareTheLink) {
  sconn_->set_liveness_timeout(3);
  sconn_->startLiveness(1);
  constexpr int kMessages = 200;
  std::atomic<bool> done{false};
  std::thread control([&] {
    std::uint64_t now = 1;
    while (!done.load()) {
      bool sent = false;
      now += a_timer_tick::TicksPerSecond;  // a second per pass: a packet each time
      sconn_->execute_liveness(now, &sent);
      // Keep the connection from timing out: the peer "answers" every pass.
      const Bytes live = {PKT_LIVENESS, 0, 0, 4};
      sconn_->tconn()->accept_bytes(live.data(), 4);
      if (now > 1000000) now = 1;  // stay far from the timeout arithmetic's edge
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  });
  bool stuck = false;
  for (int m = 0; m < kMessages && !stuck; ++m) {
    std::uint8_t* at = nullptr;
    ASSERT_EQ(sconn_->send(11, &at, PKT_DATA, 0), STRM_OK);
    at[0] = 7;
    for (int k = 1; k < 11; ++k) at[k] = static_cast<std::uint8_t>(m);
    an_int_strm_error rc;
    while ((rc = sconn_->sync_point()) == STRM_OUT_OF_ROOM) {
      if (!notifier_->block(5)) {
        stuck = true;
        break;
      }
    }
    if (!stuck) {
      ASSERT_EQ(rc, STRM_OK) << m;
    }
  }
  done = true;
  control.join();
  EXPECT_FALSE(stuck) << "a refused writer was never told to go on";
  int data = 0;
  for (const Bytes& p : link_->packets()) {
    if (p[0] != PKT_DATA) continue;
    ASSERT_EQ(p.size(), 4u + 12);
    EXPECT_EQ(p[1], PKT_STATUS_EOM);
    EXPECT_EQ(p[6], static_cast<std::uint8_t>(data));
    ++data;
  }
  EXPECT_EQ(data, kMessages);
}

}  // namespace
