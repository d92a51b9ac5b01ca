// Server messages on their way to the host: immediate messages through the session
// layer's callback thread (in order, only for connections connected to a database, a
// stop that waits out a running callback) and messages in a reply, which the reader
// hands to the host under the connection's callback lock.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "items.h"
#include "pres_harness.h"
#include "streams/session_layer.h"
#include "strm_fakes.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

struct Recorder {
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<std::string> seen;
  bool hold = false;     // the callback waits until released
  bool inside = false;   // a callback is running
  void* host_ctx = reinterpret_cast<void*>(1);

  static int Record(void* data, void* conn_data, std::uint8_t type, std::uint32_t code,
                    std::uint16_t length, const char* text, void* host_ctx) {
    auto* r = static_cast<Recorder*>(data);
    std::unique_lock<std::mutex> lock(r->mutex);
    r->seen.push_back(std::string(static_cast<const char*>(conn_data)) + ":" +
                      std::to_string(type) + ":" + std::to_string(code) + ":" +
                      std::string(text, length));
    r->host_ctx = host_ctx;
    r->inside = true;
    r->cv.notify_all();
    r->cv.wait_for(lock, 10s, [r] { return !r->hold; });
    r->inside = false;
    return 0;
  }
  bool WaitFor(std::size_t n) {
    std::unique_lock<std::mutex> lock(mutex);
    return cv.wait_for(lock, 5s, [&] { return seen.size() >= n; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex);
    hold = false;
    cv.notify_all();
  }
  std::vector<std::string> Seen() {
    std::lock_guard<std::mutex> lock(mutex);
    return seen;
  }
};

// An immediate server message: a liveness packet with 6, 2, type, code and the text.
Bytes Immediate(std::uint8_t type, std::uint32_t code, const std::string& text) {
  Bytes p(11 + text.size(), 0);
  p[0] = PKT_LIVENESS;
  p[4] = 6;
  p[5] = 2;
  p[6] = type;
  vq::strm::store_le32(p.data() + 7, code);
  for (std::size_t i = 0; i < text.size(); ++i) p[11 + i] = static_cast<std::uint8_t>(text[i]);
  vq::strm::store_be16(p.data() + 2, static_cast<std::uint16_t>(p.size()));
  return p;
}

class CallbackThread : public testing::Test {
 protected:
  void TearDown() override { sess_.delete_all_connections(); }

  c_strm_sconn* Conn(const char* name, bool connected) {
    auto* link = new vq::testing::FakePconn;
    link->port = &port_;
    auto* conn = new c_strm_sconn(&sess_, new c_strm_tconn(&sess_.tran_layer(), link, nullptr),
                                  controller_.default_pool, nullptr, nullptr);
    conn->start_receive();
    if (connected) conn->set_connected_to_db();
    conn->set_callback_data(const_cast<char*>(name));
    sess_.adopt(conn);
    return conn;
  }
  void Arrive(c_strm_sconn* conn, const Bytes& packet) {
    c_strm_buffer* b = conn->buffer_pool()->get_buffer(STRM_PRIVATE_MEM);
    b->set_header_offset(0);
    std::copy(packet.begin(), packet.end(), b->packet());
    b->set_used_length(static_cast<std::uint16_t>(packet.size()));
    ASSERT_EQ(conn->accept_buff(b), 1);
  }

  c_strm_frlist_controller controller_{1000};
  vq::testing::MinimalPort port_{STRM_PORT_TCPIP};
  c_strm_sess_layer sess_{&controller_, nullptr, nullptr, nullptr, nullptr};
  Recorder rec_;
};

TEST_F(CallbackThread, MessagesReachTheHostInOrderOnlyWhileConnected) {
  sess_.set_message_callback(&Recorder::Record, &rec_);
  c_strm_sconn* a = Conn("A", true);
  c_strm_sconn* b = Conn("B", false);
  EXPECT_FALSE(sess_.callback_thread_running());
  Arrive(a, Immediate(1, 100, "one"));
  Arrive(b, Immediate(1, 200, "dropped"));
  Arrive(a, Immediate(2, 300, "three"));
  sess_.queue_callback_msg(a, 3, 400, "four", 4);
  ASSERT_TRUE(rec_.WaitFor(3));
  EXPECT_TRUE(sess_.callback_thread_running());
  // A message for a connection that has left the connected state is dropped.
  a->set_normal_disconnect();
  sess_.queue_callback_msg(a, 3, 500, "late", 4);
  sess_.stop_process_callback_thread();
  EXPECT_EQ(rec_.Seen(), (std::vector<std::string>{"A:1:100:one", "A:2:300:three", "A:3:400:four"}));
  EXPECT_EQ(rec_.host_ctx, nullptr) << "the connection's host context";
}

TEST_F(CallbackThread, StoppingAConnectionsMessagesWaitsForARunningCallback) {
  sess_.set_message_callback(&Recorder::Record, &rec_);
  c_strm_sconn* a = Conn("A", true);
  rec_.hold = true;
  sess_.queue_callback_msg(a, 1, 1, "first", 5);
  sess_.queue_callback_msg(a, 1, 2, "second", 6);
  ASSERT_TRUE(rec_.WaitFor(1));
  std::atomic<bool> done{false};
  auto stopper = std::async(std::launch::async, [&] {
    sess_.stop_conn_callback_msgs(a);
    done = true;
  });
  EXPECT_EQ(stopper.wait_for(200ms), std::future_status::timeout);
  EXPECT_FALSE(done.load()) << "the callback still runs";
  rec_.Release();
  ASSERT_EQ(stopper.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(done.load());
  sess_.stop_process_callback_thread();
  EXPECT_EQ(rec_.Seen(), std::vector<std::string>{"A:1:1:first"}) << "the queued one went";
}

// A message item in a reply goes to the host on the reading thread, while the
// connection's callback lock is held; reading then goes on.
struct LockProbe {
  c_strm_sconn* conn = nullptr;
  std::vector<std::string> texts;
  std::vector<bool> lock_was_free;
  std::vector<std::thread> others;  // joined by the test once the callbacks are over
  static int Callback(void* data, void*, std::uint8_t, std::uint32_t code, std::uint16_t length,
                      const char* text, void*) {
    auto* p = static_cast<LockProbe*>(data);
    p->texts.push_back(std::to_string(code) + ":" + std::string(text, length));
    // Another thread must not get the lock while the callback runs.
    auto got = std::make_shared<std::atomic<bool>>(false);
    c_strm_sconn* conn = p->conn;
    p->others.emplace_back([got, conn] {
      vq::strm::LockHold hold(conn->callback_lock());
      *got = true;
    });
    std::this_thread::sleep_for(50ms);
    p->lock_was_free.push_back(got->load());
    return 0;
  }
};

TEST(ReplyMessages, ReachTheHostUnderTheConnectionsCallbackLock) {
  vq::testing::PresHarness pres(7300, true);
  LockProbe probe;
  probe.conn = pres.conn();
  pres.owner().msg = &LockProbe::Callback;
  pres.owner().data = &probe;
  const std::string long_text(600, 'x');
  vqeng::ItemWriter w(7300, true);
  w.put(2, std::string("\x01\x07\x00\x00\x00", 5));
  w.put(0, "short");
  w.put(2, std::string("\x01\x08\x00\x00\x00", 5));
  w.put_bytes(0, long_text);
  w.put(9, "after");
  for (const std::string& p : w.finish()) ASSERT_TRUE(pres.Deliver(p));

  std::uint8_t code = 0, length = 0;
  const std::uint8_t* payload = nullptr;
  const a_sqlpres_code rc = SQLPresReceive(pres.h(), &code, &length, &payload);
  for (std::thread& t : probe.others) t.join();
  ASSERT_EQ(rc, SQLPRES_OK);
  EXPECT_EQ(code, 9);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(payload), length), "after");
  EXPECT_EQ(probe.texts, (std::vector<std::string>{"7:short", "8:" + long_text}));
  EXPECT_EQ(probe.lock_was_free, (std::vector<bool>{false, false}));
}

}  // namespace
