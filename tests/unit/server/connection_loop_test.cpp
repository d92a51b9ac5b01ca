// The transport-neutral connection loop over a scripted channel: no sockets, no
// threads.
#include "connection_loop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <thread>
#include <vector>

#include "session_harness.h"

using namespace script;

namespace {

// Hands out queued chunks; with nothing queued it waits out the time-out (or
// reports the peer gone when told to). With due times (one per chunk) a chunk is
// handed out only once it is due; until then a receive waits out its time-out.
class ScriptedChannel : public vqeng::Channel {
 public:
  using Clock = std::chrono::steady_clock;
  std::deque<std::string> incoming;
  std::deque<Clock::time_point> due;
  std::string sent;
  bool close_when_empty = true;
  bool shut_called = false;
  // What happened at the channel, in order: "send", "shut_send", "shut"; and the
  // chunks still unread when shut() came.
  std::vector<std::string> events;
  std::size_t unread_at_shut = 0;
  long receive(std::uint8_t* buf, std::size_t len, int timeout_ms) override {
    if (incoming.empty()) {
      if (close_when_empty) return kClosed;
      if (timeout_ms < 0) return kClosed;
      std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
      return kTimedOut;
    }
    if (!due.empty() && due.front() > Clock::now()) {
      const auto limit = Clock::now() + std::chrono::milliseconds(timeout_ms);
      if (timeout_ms >= 0 && due.front() > limit) {
        std::this_thread::sleep_until(limit);
        return kTimedOut;
      }
      std::this_thread::sleep_until(due.front());
    }
    std::string& front = incoming.front();
    const std::size_t n = std::min(len, front.size());
    std::memcpy(buf, front.data(), n);
    front.erase(0, n);
    if (front.empty()) {
      incoming.pop_front();
      if (!due.empty()) due.pop_front();
    }
    return static_cast<long>(n);
  }
  bool send(const std::string& data) override {
    sent += data;
    events.push_back("send");
    return true;
  }
  bool send_now(const std::string& packet) override {
    sent += packet;
    return true;
  }
  void shut() override {
    shut_called = true;
    unread_at_shut = incoming.size();
    events.push_back("shut");
  }
  void shut_send() override { events.push_back("shut_send"); }
};

std::string app_connect_packet() {
  std::string pk = packet(25, 0x21, std::string(1, '\0') + app_connect_record({}));
  vqeng::scramble_packet(reinterpret_cast<std::uint8_t*>(&pk[0]),
                         static_cast<std::uint32_t>(pk.size()));
  return pk;
}

}  // namespace

TEST(ConnectionLoop, ServesASessionToItsEnd) {
  vqeng::DatabaseConfig cfg;
  std::vector<std::string> log;
  std::uint8_t random[32];
  for (int i = 0; i < 32; ++i) random[i] = static_cast<std::uint8_t>(i * 3);
  vqeng::Session s(
      cfg, 3, [&](const std::string& l) { log.push_back(l); },
      [&](std::uint8_t* out, std::size_t n) {
        std::memcpy(out, random, n);
        return true;
      });
  ScriptedChannel ch;
  ch.incoming.push_back(app_connect_packet());
  ch.incoming.push_back(packet(
      24, 1,
      item(16, "UID=dba") + item(133, u32le(0)) + item(20, encipher("PWD=sql", random))));
  // A request cut into two reads, then the disconnect.
  const std::string req = packet(24, 1, item(25, "CREATE TABLE loop(a INTEGER)"));
  ch.incoming.push_back(req.substr(0, 5));
  ch.incoming.push_back(req.substr(5));
  ch.incoming.push_back(packet(24, 1, item(19)));
  vqeng::ConnectionState st;
  EXPECT_FALSE(vqeng::serve_connection(s, ch, st, cfg.limits));
  EXPECT_TRUE(s.closed());
  EXPECT_EQ(s.close_reason(), "client disconnected");
  EXPECT_TRUE(ch.shut_called);
  // Replies: app-connect, connect, statement, disconnect.
  const auto pks = split_packets(ch.sent);
  ASSERT_EQ(pks.size(), 4u);
  EXPECT_EQ(pks[0].type, 25);
  std::vector<ReplyItem> r;
  ASSERT_TRUE(parse_items(pks[2].body, r));
  EXPECT_EQ(r[2].code, 66);
  EXPECT_GT(st.last_send_ms.load(), 0);
}

TEST(ConnectionLoop, ConnectMustFinishInTime) {
  vqeng::DatabaseConfig cfg;
  cfg.limits.login_timeout_seconds = 1;
  vqeng::Session s(cfg, 4, nullptr, [](std::uint8_t* out, std::size_t n) {
    std::memset(out, 1, n);
    return true;
  });
  ScriptedChannel ch;
  ch.close_when_empty = false;
  ch.incoming.push_back(app_connect_packet());
  vqeng::ConnectionState st;
  vqeng::serve_connection(s, ch, st, cfg.limits);
  EXPECT_TRUE(s.closed());
  EXPECT_EQ(s.close_reason(), "no database connect within 1 seconds");
  const auto pks = split_packets(ch.sent);
  ASSERT_EQ(pks.size(), 2u);  // the app-connect reply, then the record
  std::vector<ReplyItem> r;
  ASSERT_TRUE(parse_items(pks[1].body, r));
  EXPECT_EQ(static_cast<std::int32_t>(rd32(r[0].payload)), -308);
}

// A connection the server ends after a reply (a disconnect, a refusal at the
// connection limit) ends its sending side once the reply is out, then reads what the
// client still sends until it closes: a socket closed with input unread would reset
// the connection and could take the reply with it.
TEST(ConnectionLoop, TheLastReplyIsFollowedByTheEndAndLaterInputIsReadBeforeTheClose) {
  struct Case {
    const char* name;
    bool refuse;
    const char* reason;
    std::size_t replies;
  };
  const Case cases[] = {
      {"a disconnect", false, "client disconnected", 3},
      {"a refusal at the connection limit", true, "connection limit: full", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    vqeng::DatabaseConfig cfg;
    std::uint8_t random[32] = {};
    vqeng::Session s(cfg, 7, nullptr, [&](std::uint8_t* out, std::size_t n) {
      std::memcpy(out, random, n);
      return true;
    });
    if (c.refuse) s.refuse_connect("full");
    ScriptedChannel ch;
    ch.incoming.push_back(app_connect_packet());
    ch.incoming.push_back(packet(
        24, 1,
        item(16, "UID=dba") + item(133, u32le(0)) + item(20, encipher("PWD=sql", random))));
    if (!c.refuse) ch.incoming.push_back(packet(24, 1, item(19)));
    // Sent by the client before it read the reply: a liveness packet and more.
    ch.incoming.push_back(std::string{26, 0, 0, 4});
    ch.incoming.push_back(std::string(6000, 'x'));
    vqeng::ConnectionState st;
    EXPECT_FALSE(vqeng::serve_connection(s, ch, st, cfg.limits));
    EXPECT_EQ(s.close_reason(), c.reason);
    EXPECT_EQ(split_packets(ch.sent).size(), c.replies);
    std::vector<std::string> order(c.replies, "send");
    order.push_back("shut_send");
    order.push_back("shut");
    EXPECT_EQ(ch.events, order);
    EXPECT_EQ(ch.unread_at_shut, 0u);
  }
}

TEST(ConnectionLoop, LivenessWhenDue) {
  struct Case {
    const char* name;
    unsigned liveness;
    std::int64_t since_last_ms;
    bool busy;
    bool sent;
  };
  const Case cases[] = {
      {"off", 0, 100000, false, false},
      {"due: a third of 30 s passed", 30, 10000, false, true},
      {"not yet", 30, 9000, false, false},
      {"short time-outs wait a second", 2, 900, false, false},
      {"busy sending", 30, 20000, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedChannel ch;
    vqeng::ConnectionState st;
    st.liveness_s = c.liveness;
    st.last_send_ms = 1000000;
    std::unique_lock<std::mutex> busy(st.send_mu, std::defer_lock);
    if (c.busy) busy.lock();
    vqeng::send_liveness_if_due(ch, st, 1000000 + c.since_last_ms);
    EXPECT_EQ(ch.sent, c.sent ? std::string({26, 0, 0, 4}) : std::string());
    EXPECT_EQ(st.last_send_ms.load(), c.sent ? 1000000 + c.since_last_ms : 1000000);
  }
}

// A client that keeps sending is alive: every arrival restarts the liveness clock, so
// liveness packets 400 ms apart keep a connection with a one-second time-out for well
// past that second.
TEST(ConnectionLoop, AClientThatKeepsSendingIsNeverDroppedAsSilent) {
  vqeng::DatabaseConfig cfg;
  cfg.liveness = 1;
  std::uint8_t random[32] = {};
  vqeng::Session s(cfg, 6, nullptr, [&](std::uint8_t* out, std::size_t n) {
    std::memcpy(out, random, n);
    return true;
  });
  ScriptedChannel ch;
  auto at = ScriptedChannel::Clock::now();
  auto arrive = [&](std::string chunk) {
    ch.incoming.push_back(std::move(chunk));
    ch.due.push_back(at);
  };
  arrive(app_connect_packet());
  arrive(packet(24, 1,
                item(16, "UID=dba") + item(133, u32le(0)) + item(20, encipher("PWD=sql", random))));
  for (int i = 0; i < 6; ++i) {
    at += std::chrono::milliseconds(400);
    arrive(std::string{26, 0, 0, 4});
  }
  at += std::chrono::milliseconds(400);
  arrive(packet(24, 1, item(19)));
  vqeng::ConnectionState st;
  EXPECT_FALSE(vqeng::serve_connection(s, ch, st, cfg.limits));
  EXPECT_EQ(s.close_reason(), "client disconnected");
  EXPECT_TRUE(ch.incoming.empty());
}

TEST(ConnectionLoop, SilentClientIsDroppedAfterItsLivenessTimeOut) {
  vqeng::DatabaseConfig cfg;
  cfg.liveness = 1;  // the app-connect reply agrees on one second
  std::uint8_t random[32] = {};
  vqeng::Session s(cfg, 5, nullptr, [&](std::uint8_t* out, std::size_t n) {
    std::memcpy(out, random, n);
    return true;
  });
  ScriptedChannel ch;
  ch.close_when_empty = false;
  ch.incoming.push_back(app_connect_packet());
  ch.incoming.push_back(packet(
      24, 1,
      item(16, "UID=dba") + item(133, u32le(0)) + item(20, encipher("PWD=sql", random))));
  vqeng::ConnectionState st;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(vqeng::serve_connection(s, ch, st, cfg.limits));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(s.closed());
  EXPECT_EQ(s.close_reason(),
            "no sign of life from the client within its liveness time-out of 1 seconds");
  EXPECT_GE(waited, std::chrono::milliseconds(1000));
  EXPECT_TRUE(ch.shut_called);
  // The app-connect and connect replies, and nothing after them: the client is gone.
  EXPECT_EQ(split_packets(ch.sent).size(), 2u);
}
