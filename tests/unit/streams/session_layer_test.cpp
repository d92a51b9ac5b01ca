// The session layer without its callback thread: the link list a Host value stands
// for, the connect through fake links, the initial connect time-out, the liveness pass
// with its batches and overruns under an injected clock, and deletion.
#include "streams/session_layer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "config/conn_parms.h"
#include "port_layer_fixture.h"
#include "scoped_environment.h"
#include "stream_test_host.h"
#include "strm_fakes.h"
#include "utils/base/timer_tick.h"

namespace {

using vq::testing::FakePconn;
using vq::testing::FakePort;
using vq::testing::ScopedEnvironment;

constexpr std::uint64_t kTicks = a_timer_tick::TicksPerSecond;

struct HostCase {
  const char* host;
  bool server_name;
  const char* links;  // null: refused
};

TEST(SessionLayerLinks, AHostValueBecomesATcpipList) {
  const HostCase cases[] = {
      {"db.example", true, "tcpip(host=db.example;Verify=YES;DoBroadcast=Direct)"},
      {"10.0.0.1:2638", true, "tcpip(host=10.0.0.1:2638;Verify=YES;DoBroadcast=None)"},
      {"db.example", false, "tcpip(host=db.example;Verify=NO;DoBroadcast=None)"},
      {"10.0.0.1:2638", false, "tcpip(host=10.0.0.1:2638;Verify=NO;DoBroadcast=None)"},
      {"a,b", true, "tcpip(host=a,b;Verify=YES;DoBroadcast=Direct)"},
      // Values that would end the host option or the group and add options of their own.
      {"a;DoBroadcast=All", true, nullptr},
      {"a);tcpip(host=b", true, nullptr},
      {"a(b)", false, nullptr},
      {"a{Verify=NO}", true, nullptr},
  };
  for (const HostCase& c : cases) {
    SCOPED_TRACE(c.host);
    std::string out;
    const bool ok = vq::strm::HostLinkText(c.host, c.server_name, &out);
    ASSERT_EQ(ok, c.links != nullptr);
    if (ok) {
      EXPECT_EQ(out, c.links);
    }
  }
}

// Connects through the port layer's fake links.
class SessionLayerConnect : public vq::testing::PortLayerTest {
 protected:
  void SetUp() override {
    PortLayerTest::SetUp();
    sess = std::make_unique<c_strm_sess_layer>(&controller, nullptr, nullptr, nullptr, nullptr);
  }
  void TearDown() override {
    if (sess) sess->delete_all_connections();
    sess.reset();
    PortLayerTest::TearDown();
  }
  c_strm_frlist_controller controller{7300};
  std::unique_ptr<c_strm_sess_layer> sess;
};

TEST_F(SessionLayerConnect, TheHostListIsUsedForThisConnectOnly) {
  c_conn_parms parms;
  ASSERT_EQ(parms.init("ServerName=srv", false), 0);
  parms.setString(43, "db.example");
  c_strm_sconn* conn = nullptr;
  ASSERT_EQ(sess->connect(&parms, 0, err, sizeof err, nullptr, &conn), STRM_OK) << err;
  ASSERT_NE(conn, nullptr);
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_EQ(trace[1], "6 connect:srv:host=db.example;Verify=YES;DoBroadcast=Direct:");
  EXPECT_FALSE(parms.isSpecified(kSlotCommLinks));
  EXPECT_EQ(sess->active_count(), 1u);
}

TEST_F(SessionLayerConnect, HostWithCommLinksOrAnInjectedOptionIsRefused) {
  struct Row {
    const char* links;
    const char* host;
    const char* message;
  } rows[] = {
      {"tcpip", "db.example", "The Host and CommLinks connection parameters cannot both be given"},
      {nullptr, "a;DoBroadcast=All", "Communication link TCPIP could not be started"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.host);
    c_conn_parms parms;
    if (r.links != nullptr) parms.setString(kSlotCommLinks, r.links);
    parms.setString(43, r.host);
    c_strm_sconn* conn = nullptr;
    EXPECT_EQ(sess->connect(&parms, 0, err, sizeof err, nullptr, &conn), STRM_LINK_FAILED);
    EXPECT_EQ(conn, nullptr);
    EXPECT_STREQ(err, r.message);
  }
  EXPECT_TRUE(trace.empty()) << "no link was tried";
}

TEST(SessionLayer, TheInitialConnectTimeOutOnlyGrows) {
  struct Row {
    const char* value;
    std::uint16_t seconds;
  } rows[] = {{nullptr, 30}, {"20", 30}, {"64", 64}, {"abc", 30}, {"99999999", 65535}};
  c_strm_frlist_controller controller(7300);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.value != nullptr ? r.value : "unset");
    ScopedEnvironment env({"VC_INIT_CONN_TIMEOUT"});
    if (r.value != nullptr) env.Set("VC_INIT_CONN_TIMEOUT", r.value);
    c_strm_sess_layer sess(&controller, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(sess.init_conn_timeout(), r.seconds);
  }
  ScopedEnvironment env({"VC_INIT_CONN_TIMEOUT"});
  env.Set("VC_INIT_CONN_TIMEOUT", ("0000" + std::string(147, '9')).c_str());
  c_strm_sess_layer sess(&controller, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(sess.init_conn_timeout(), 30) << "a text over 150 characters is not read";
}

TEST(SessionLayer, ThePassPeriodAndBatch) {
  struct Row {
    std::uint32_t count;
    std::int16_t shortest;
    double period;
    std::uint32_t batch;
  } rows[] = {
      {0, 30, 5.0, 10},    {3, 120, 5.0, 10},  {25, 30, 5.0, 15},
      {100, 30, 5.0, 62},  {1000, 30, 2.0, 250},
      // Time-outs under 3 seconds: a third counts as one second, no division by zero.
      {1, 2, 5.0, 10},     {40, 0, 2.0, 100},   {40, 1, 2.0, 100},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.count) + " connections, " + std::to_string(r.shortest) + " s");
    double period = 0;
    std::uint32_t batch = 0;
    c_strm_sess_layer::liveness_plan(r.count, r.shortest, &period, &batch);
    EXPECT_DOUBLE_EQ(period, r.period);
    EXPECT_EQ(batch, r.batch);
  }
}

// Connections over fake TCP/IP links that take liveness, in the layer's active list,
// under a clock the test moves.
class LivenessPass : public testing::Test {
 protected:
  static inline std::uint64_t clock_now = 0;
  static inline std::uint64_t clock_step = 0;
  static std::uint64_t Clock() {
    clock_now += clock_step;
    return clock_now;
  }

  void SetUp() override {
    clock_now = 0;
    clock_step = 0;
    port_.liveness = true;
    sess_.set_clock(&Clock);
  }
  void TearDown() override { sess_.delete_all_connections(); }

  void Add(int n, std::uint16_t timeout) {
    for (int i = 0; i < n; ++i) {
      auto* link = new FakePconn;
      link->port = &port_;
      links_.push_back(link);
      auto* conn = new c_strm_sconn(&sess_, new c_strm_tconn(&sess_.tran_layer(), link, nullptr),
                                    controller_.default_pool, nullptr, nullptr);
      conn->start_receive();
      conn->set_liveness_timeout(timeout);
      conn->startLiveness(0);
      sess_.adopt(conn);
      conns_.push_back(conn);
    }
  }
  // Which connections sent a liveness packet since the last call.
  std::vector<int> Senders() {
    std::vector<int> out;
    for (std::size_t i = 0; i < links_.size(); ++i) {
      const std::size_t n = links_[i]->packets().size();
      if (n > seen_[i]) out.push_back(static_cast<int>(i));
      seen_[i] = n;
    }
    return out;
  }
  std::vector<int> Range(int from, int to) {
    std::vector<int> out;
    for (int i = from; i < to; ++i) out.push_back(i);
    return out;
  }

  c_strm_frlist_controller controller_{1000};
  FakePort port_{STRM_PORT_TCPIP};
  c_strm_sess_layer sess_{&controller_, nullptr, nullptr, nullptr, nullptr};
  std::vector<FakePconn*> links_;
  std::vector<c_strm_sconn*> conns_;
  std::vector<std::size_t> seen_ = std::vector<std::size_t>(128, 0);
};

TEST_F(LivenessPass, ABatchEndsThePassAndTheNextGoesOnWhereItStopped) {
  Add(25, 30);  // interval 10 s; 25 connections: period 5 s, batch 15
  EXPECT_EQ(sess_.shortest_timeout(), 30);
  clock_now = 10 * kTicks;
  sess_.execute_liveness_all_conn(10 * kTicks);
  EXPECT_EQ(Senders(), Range(0, 15));
  EXPECT_EQ(sess_.resume_position(), conns_[15]);
  EXPECT_EQ(sess_.liveness_next(), 15 * kTicks);

  clock_now = 15 * kTicks;
  sess_.execute_liveness_all_conn(15 * kTicks);
  EXPECT_EQ(Senders(), Range(15, 25)) << "the rest, then the first ones are not due";
  EXPECT_EQ(sess_.resume_position(), nullptr);
  EXPECT_EQ(sess_.liveness_next(), 20 * kTicks) << "the first ones' next send";
  EXPECT_EQ(sess_.last_liveness_pass(), 15 * kTicks);
  EXPECT_EQ(sess_.overrun_count(), 0u);
}

TEST_F(LivenessPass, APassThatKeepsOverrunningWarnsOnce) {
  vq::testing::ScopedHostTable host;
  // 70 connections: period 5 s, batch 43. Every pass overruns after ten sends, so each
  // visits the next ten connections, all due, and all within their 30-second time-out.
  Add(70, 30);
  clock_step = 2 * kTicks;  // every look at the clock finds two more seconds gone
  for (int pass = 1; pass <= 7; ++pass) {
    SCOPED_TRACE(pass);
    const std::uint64_t n = 10 * kTicks + 2 * kTicks * pass;
    clock_now = n;
    sess_.execute_liveness_all_conn(n);
    EXPECT_EQ(Senders(), Range(10 * (pass - 1), 10 * pass)) << "the clock is read after ten sends";
    EXPECT_EQ(sess_.overrun_count(), static_cast<std::uint32_t>(pass));
    // R = 5 * 10 / 43 - 1 is below 0.2: the next pass is due at the late clock.
    EXPECT_EQ(sess_.liveness_next(), n + 2 * kTicks);
    EXPECT_EQ(sess_.resume_position(), pass < 7 ? conns_[10 * pass] : conns_[0]);
    const std::size_t warnings = vq::testing::HostPrints::get().connectionless_lines().size();
    EXPECT_EQ(warnings, pass > 4 ? 2u : 0u);
  }
}

TEST_F(LivenessPass, ThePeriodicWorkStartsReceivingAndRunsARequestedPass) {
  Add(3, 30);
  EXPECT_NE(sess_.flags() & c_strm_sess_layer::kLivenessRequested, 0u);
  for (FakePconn* link : links_) EXPECT_EQ(link->receives_started, 0);
  clock_now = 10 * kTicks;
  sess_.execute();
  for (FakePconn* link : links_) EXPECT_EQ(link->receives_started, 1) << "on the control thread";
  EXPECT_EQ(Senders(), Range(0, 3));
  EXPECT_EQ(sess_.flags() & c_strm_sess_layer::kLivenessRequested, 0u);
  EXPECT_EQ(sess_.next_execute(), 20 * kTicks) << "the next sends";
  sess_.execute();
  EXPECT_EQ(Senders(), std::vector<int>{}) << "nothing is due before then";
  for (FakePconn* link : links_) EXPECT_EQ(link->receives_started, 1);
}

TEST_F(LivenessPass, ADeletedConnectionAtTheResumePositionMovesIt) {
  Add(25, 30);
  clock_now = 10 * kTicks;
  sess_.execute_liveness_all_conn(10 * kTicks);
  ASSERT_EQ(sess_.resume_position(), conns_[15]);
  conns_[15]->delayed_delete();
  EXPECT_EQ(sess_.resume_position(), conns_[16]);
  EXPECT_EQ(sess_.active_count(), 24u);
  EXPECT_FALSE(sess_.delete_disconnected(false)) << "no reason is set yet";
  conns_[15]->set_normal_disconnect();
  EXPECT_FALSE(sess_.delete_disconnected(false)) << "its link has not closed";
  conns_[15]->drop_connection(1);
  EXPECT_TRUE(sess_.delete_disconnected(false));
}

}  // namespace
