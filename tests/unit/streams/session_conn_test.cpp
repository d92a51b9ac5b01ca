// The session connection over a fake stream link: packets built from items and sync
// points, packets handed up and read back, indicators, attention and its
// acknowledgement, rejected packets, immediate messages, liveness and a full link.
#include "streams/session_conn.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fake_session.h"
#include "stream_test_host.h"
#include "streams/packet_header.h"
#include "strm_fakes.h"
#include "utils/base/timer_tick.h"

namespace {

using vq::testing::FakePconn;
using vq::testing::FakePort;
using vq::testing::MakePacket;
using Bytes = std::vector<std::uint8_t>;

class RecordingNotifier : public c_strm_conn_notifier {
 public:
  explicit RecordingNotifier(std::vector<std::uint8_t>* out) : out_(out) {}
  bool block(std::uint32_t) override { return false; }
  void post() override {}
  void handle_strm_indicator(std::uint8_t code) override { out_->push_back(code); }
  void set_sconn(a_strm_conn conn) override { sconn = conn; }
  int swap_streams(c_strm_conn_notifier*, std::uintptr_t) override { return 1; }
  a_strm_conn sconn = nullptr;

 private:
  std::vector<std::uint8_t>* out_;
};

class FakeOwner : public c_strm_sconn_owner {
 public:
  struct Message {
    std::uint8_t type;
    std::uint32_t code;
    std::string text;
  };
  void queue_callback_msg(c_strm_sconn*, std::uint8_t type, std::uint32_t code, const char* text,
                          std::uint16_t length) override {
    messages.push_back({type, code, std::string(text, length)});
  }
  void stop_conn_callback_msgs(c_strm_sconn*) override { ++stops; }
  void request_liveness_pass() override { ++liveness_passes; }
  void update_timeout_from_conn(std::uint16_t seconds) override { timeout = seconds; }
  void add_receive_proxy(c_strm_sconn*) override { ++proxies; }
  void remove_receive_proxy(c_strm_sconn*) override { --proxies; }
  void delayed_delete(c_strm_sconn*) override { ++deletes; }
  bool shutting_down() const override { return false; }
  c_strm_env_notifier* env_notifier() override { return &env; }

  std::vector<Message> messages;
  int stops = 0, liveness_passes = 0, proxies = 0, deletes = 0;
  std::uint16_t timeout = 0;
  vq::testing::TestEnvNotifier env;
};

class SessionConnTest : public testing::Test {
 protected:
  void SetUp() override { Make(STRM_PORT_TCPIP, false); }
  void TearDown() override { delete sconn_; }

  void Make(std::uint8_t port_type, bool liveness) {
    delete sconn_;
    port_ = std::make_unique<FakePort>(port_type);
    port_->liveness = liveness;
    link_ = new FakePconn;
    link_->port = port_.get();
    auto* tconn = new c_strm_tconn(&tran_, link_, nullptr);
    indicators_.clear();
    sconn_ = new c_strm_sconn(&owner_, tconn, controller_.default_pool,
                              new RecordingNotifier(&indicators_), nullptr);
    ASSERT_EQ(sconn_->start_receive(), STRM_OK);
  }

  // Bytes from the peer through the transport connection.
  void Feed(const Bytes& bytes) {
    sconn_->tconn()->accept_bytes(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  }
  void Opened() {
    Bytes reply = MakePacket(PKT_APP_CONNECT, 0, 21);
    Feed(reply);
    indicators_.clear();
  }
  // Writes one item of `payload` bytes with code `code`.
  an_int_strm_error Item(std::uint8_t code, std::size_t payload) {
    std::uint8_t* at = nullptr;
    const an_int_strm_error rc =
        sconn_->send(static_cast<std::uint8_t>(payload + 1), &at, PKT_DATA, 0);
    if (rc == STRM_OK) {
      at[0] = code;
      for (std::size_t i = 0; i < payload; ++i) at[1 + i] = static_cast<std::uint8_t>(i);
    }
    return rc;
  }
  // Reads every unread byte of the current message's packets until a sync point.
  Bytes ReadMessage() {
    Bytes out;
    for (int guard = 0; guard < 100; ++guard) {
      std::uint8_t type = 0, status = 0;
      std::uint16_t length = 0;
      if (sconn_->_receive_prv(&type, &status, &length, false) != STRM_OK) break;
      out.insert(out.end(), sconn_->in_pos(), sconn_->in_end());
      sconn_->advance(sconn_->in_end() - sconn_->in_pos());
      if (sconn_->is_sync_point(nullptr)) break;
    }
    return out;
  }

  c_strm_frlist_controller controller_{1000};
  c_strm_tran_layer tran_{nullptr, controller_.default_pool, nullptr};
  FakeOwner owner_;
  std::unique_ptr<FakePort> port_;
  FakePconn* link_ = nullptr;
  c_strm_sconn* sconn_ = nullptr;
  std::vector<std::uint8_t> indicators_;
};

TEST_F(SessionConnTest, TheAppConnectReplyIsKeptAndReported) {
  Bytes reply = MakePacket(PKT_APP_CONNECT, 0, 21, 40);
  Feed(reply);
  std::uint16_t n = 0;
  const std::uint8_t* body = sconn_->app_connect_reply(&n);
  ASSERT_EQ(n, 20);
  EXPECT_EQ(Bytes(body, body + n), Bytes(reply.begin() + 5, reply.end()));
  EXPECT_EQ(indicators_, std::vector<std::uint8_t>{STRM_IND_APP_CONNECT});
}

// The reply record follows the packet header and one byte.
Bytes AppConnectPacket(std::uint16_t minor, std::uint16_t count, std::size_t record_bytes) {
  Bytes p(4 + 1 + record_bytes, 0);
  vq::strm::store_le16(p.data() + 5 + 20, minor);
  vq::strm::store_le16(p.data() + 5 + 35, count);
  for (std::size_t i = 178; i < record_bytes && i < 210; ++i) p[5 + i] = static_cast<std::uint8_t>(i);
  StorePktHdr(p.data(), PktHdr{PKT_APP_CONNECT, 0, static_cast<std::uint16_t>(p.size())});
  return p;
}

TEST_F(SessionConnTest, RandomBytesComeOnlyFromANewReplyAndWithinItsField) {
  struct Row {
    std::uint16_t minor;
    std::uint16_t count;
    std::size_t record;
    std::uint32_t given;
  } rows[] = {{15, 32, 312, 32}, {13, 32, 312, 32}, {12, 32, 312, 0}, {15, 20, 312, 20},
              {15, 1000, 312, 32},  // a count beyond the field
              {15, 32, 190, 12}};   // a reply that ends inside the field
  for (const Row& r : rows) {
    SCOPED_TRACE(r.minor * 100000 + r.count * 1000 + r.record);
    Make(STRM_PORT_TCPIP, false);
    Feed(AppConnectPacket(r.minor, r.count, r.record));
    std::uint8_t out[40];
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(sconn_->get_random_data(out, 32), r.given);
    for (std::uint32_t i = 0; i < r.given; ++i) EXPECT_EQ(out[i], 178 + i);
    EXPECT_EQ(out[32], 0xEE);
  }
}

// A type-25 packet of 4 bytes has no reply body; its length must not wrap.
TEST_F(SessionConnTest, AnAppConnectPacketWithoutABodyEndsTheConnection) {
  Feed(MakePacket(PKT_APP_CONNECT, 0, 0));
  EXPECT_EQ(sconn_->state(), SCONN_FAILED);
  EXPECT_EQ(indicators_, std::vector<std::uint8_t>{STRM_IND_LINK_CLOSED});
  EXPECT_EQ(sconn_->get_ind(), STRM_CONN_DEAD);
}

TEST_F(SessionConnTest, ItemsFillPacketsAndTheSyncPointEndsTheMessage) {
  // 1000-byte buffers: items of 201 bytes (length byte, code, 199 bytes), four to a
  // packet.
  for (int i = 0; i < 6; ++i) ASSERT_EQ(Item(7, 199), STRM_OK) << i;
  ASSERT_EQ(sconn_->sync_point(), STRM_OK);
  const auto packets = link_->packets();
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_EQ(packets[0][0], PKT_DATA);
  EXPECT_EQ(packets[0][1], 0) << "the first packet does not end the message";
  EXPECT_EQ(vq::strm::load_be16(packets[0].data() + 2), packets[0].size());
  EXPECT_EQ(packets[0].size(), 4u + 4 * 201);
  EXPECT_EQ(packets[1][1], PKT_STATUS_EOM);
  EXPECT_EQ(packets[1].size(), 4u + 2 * 201);
  EXPECT_EQ(packets[1][4], 200) << "an item starts the packet";
}

TEST_F(SessionConnTest, ASyncPointWithNothingWrittenSendsAnEmptyPacket) {
  ASSERT_EQ(sconn_->sync_point(), STRM_OK);
  ASSERT_EQ(link_->packets().size(), 1u);
  EXPECT_EQ(link_->packets()[0], (Bytes{24, 1, 0, 4}));
}

TEST_F(SessionConnTest, PacketsAreReadInOrderWithIndicators) {
  Opened();
  // No reader waits: a new message is announced with 1.
  Feed(MakePacket(PKT_DATA, 0, 30, 1));
  Feed(MakePacket(PKT_DATA, PKT_STATUS_EOM, 10, 2));
  EXPECT_EQ(indicators_, std::vector<std::uint8_t>{STRM_IND_NEW_MESSAGE});
  std::uint32_t word = 0;
  EXPECT_TRUE(sconn_->sync_point_arrived(&word));
  const Bytes message = ReadMessage();
  Bytes expected = MakePacket(PKT_DATA, 0, 30, 1);
  const Bytes second = MakePacket(PKT_DATA, PKT_STATUS_EOM, 10, 2);
  expected.erase(expected.begin(), expected.begin() + 4);
  expected.insert(expected.end(), second.begin() + 4, second.end());
  EXPECT_EQ(message, expected);
  EXPECT_TRUE(sconn_->is_sync_point(&word));

  // Now a reader waits: it hears 4, and the arrival is announced with 14.
  indicators_.clear();
  std::uint8_t type, status;
  std::uint16_t length;
  EXPECT_EQ(sconn_->_receive_prv(&type, &status, &length, false), STRM_NOTHING_YET);
  Feed(MakePacket(PKT_DATA, PKT_STATUS_EOM, 5, 3));
  EXPECT_EQ(indicators_, std::vector<std::uint8_t>{STRM_IND_DATA_ARRIVED});
  EXPECT_EQ(sconn_->_receive_prv(&type, &status, &length, false), STRM_OK);
  EXPECT_EQ(length, 9);
}

TEST_F(SessionConnTest, ResyncSkipsToTheEndOfTheMessage) {
  Opened();
  Feed(MakePacket(PKT_DATA, 0, 30, 1));
  Feed(MakePacket(PKT_DATA, 0, 30, 2));
  Feed(MakePacket(PKT_DATA, PKT_STATUS_EOM, 30, 3));
  Feed(MakePacket(PKT_DATA, PKT_STATUS_EOM, 8, 9));
  std::uint8_t type, status;
  std::uint16_t length;
  ASSERT_EQ(sconn_->_receive_prv(&type, &status, &length, false), STRM_OK);
  EXPECT_EQ(sconn_->resync(false), STRM_OK);
  ASSERT_EQ(sconn_->_receive_prv(&type, &status, &length, false), STRM_OK);
  EXPECT_EQ(length, 12) << "the next message";
}

// A reply read to its last byte is behind the reader. Dropping an unread reply (no flag)
// must take the next message, not the finished one; abandoning a reply at its last item
// (the flag) must take nothing more.
TEST_F(SessionConnTest, ResyncAfterAReplyReadToItsEnd) {
  struct Case {
    bool flag;
    std::uint16_t next_length;  // the packet read after the resync
  };
  for (const Case& k : {Case{false, 14}, Case{true, 12}}) {
    SCOPED_TRACE(k.flag);
    Make(STRM_PORT_TCPIP, false);
    Opened();
    Feed(MakePacket(PKT_DATA, PKT_STATUS_EOM, 6, 1));  // the reply read whole
    Feed(MakePacket(PKT_DATA, PKT_STATUS_EOM, 8, 2));  // the next reply
    Feed(MakePacket(PKT_DATA, PKT_STATUS_EOM, 10, 3));
    std::uint8_t type, status;
    std::uint16_t length;
    ASSERT_EQ(sconn_->_receive_prv(&type, &status, &length, false), STRM_OK);
    sconn_->advance(static_cast<std::size_t>(sconn_->in_end() - sconn_->in_pos()));
    EXPECT_EQ(sconn_->resync(k.flag), STRM_OK);
    ASSERT_EQ(sconn_->_receive_prv(&type, &status, &length, false), STRM_OK);
    EXPECT_EQ(length, k.next_length);
  }
}

TEST_F(SessionConnTest, AttentionDiscardsWritesAndTheAcknowledgedReplyIsSkipped) {
  Opened();
  ASSERT_EQ(sconn_->attention(), STRM_OK);
  ASSERT_EQ(link_->packets().size(), 1u);
  EXPECT_EQ(link_->packets()[0], (Bytes{16, 5, 0, 8, 0, 0, 0, 0}));
  EXPECT_NE(sconn_->send_flags() & c_strm_sconn::kAttention, 0u);
  // Written before the acknowledgement: discarded.
  ASSERT_EQ(Item(7, 20), STRM_OK);
  ASSERT_EQ(sconn_->sync_point(), STRM_OK);
  EXPECT_EQ(link_->packets().size(), 1u);

  std::uint8_t type, status;
  std::uint16_t length;
  EXPECT_EQ(sconn_->_receive_prv(&type, &status, &length, false), STRM_NOTHING_YET);
  Feed(MakePacket(PKT_DATA, 0, 30, 1));                        // the cancelled reply
  Feed(MakePacket(PKT_DATA, PKT_STATUS_EOM | 0x02, 10, 2));    // its acknowledged end
  Feed(MakePacket(PKT_DATA, PKT_STATUS_EOM, 6, 3));            // the next reply
  EXPECT_EQ(sconn_->_receive_prv(&type, &status, &length, false), STRM_ATTN_ACKED);
  EXPECT_EQ(sconn_->send_flags() & c_strm_sconn::kAttention, 0u);
  ASSERT_EQ(sconn_->_receive_prv(&type, &status, &length, false), STRM_OK);
  EXPECT_EQ(length, 10);
  ASSERT_EQ(Item(7, 20), STRM_OK);
  ASSERT_EQ(sconn_->sync_point(), STRM_OK);
  EXPECT_EQ(link_->packets().size(), 2u) << "sending works again";
}

struct RejectCase {
  const char* name;
  Bytes packet;
  std::uint16_t used;  // the buffer's length
};

class SessionConnRejects : public SessionConnTest, public testing::WithParamInterface<RejectCase> {};

TEST_P(SessionConnRejects, EndTheConnectionWithAnError) {
  Opened();
  const RejectCase& c = GetParam();
  c_strm_buffer* b = sconn_->buffer_pool()->get_buffer(STRM_PRIVATE_MEM);
  b->set_header_offset(0);
  std::copy(c.packet.begin(), c.packet.end(), b->packet());
  b->set_used_length(c.used);
  EXPECT_EQ(sconn_->accept_buff(b), 0);
  EXPECT_EQ(sconn_->state(), SCONN_FAILED);
  EXPECT_EQ(indicators_, std::vector<std::uint8_t>{STRM_IND_LINK_CLOSED});
  std::uint8_t type, status;
  std::uint16_t length;
  EXPECT_EQ(sconn_->_receive_prv(&type, &status, &length, false), STRM_CONN_DEAD);
  EXPECT_EQ(Item(7, 1), STRM_CONN_DEAD);
}

INSTANTIATE_TEST_SUITE_P(
    Packets, SessionConnRejects,
    testing::Values(RejectCase{"type_27", MakePacket(27, 0, 4), 12},
                    RejectCase{"type_40", MakePacket(40, 0, 4), 12},
                    RejectCase{"type_3", MakePacket(3, 0, 4), 12},
                    RejectCase{"length_mismatch", MakePacket(PKT_DATA, 0, 10), 13},
                    RejectCase{"compressed_without_compression",
                               MakePacket(PKT_DATA, PKT_STATUS_COMPRESSED, 10), 14}),
    [](const testing::TestParamInfo<RejectCase>& info) { return std::string(info.param.name); });

TEST_F(SessionConnTest, AnImmediateServerMessageGoesToTheCallbackQueue) {
  Opened();
  Bytes m = {PKT_LIVENESS, 0, 0, 0, 6, 2, 9, 0x39, 0x30, 0, 0};
  const std::string text = "server going down";
  m.insert(m.end(), text.begin(), text.end());
  vq::strm::store_be16(m.data() + 2, static_cast<std::uint16_t>(m.size()));
  Feed(m);
  Feed(Bytes{26, 0, 0, 4});  // a plain liveness packet: nothing
  ASSERT_EQ(owner_.messages.size(), 1u);
  EXPECT_EQ(owner_.messages[0].type, 9);
  EXPECT_EQ(owner_.messages[0].code, 12345u);
  EXPECT_EQ(owner_.messages[0].text, text);
  EXPECT_TRUE(indicators_.empty());
}

struct LivenessCase {
  std::uint16_t timeout;
  std::uint16_t interval;
};

class SessionLiveness : public SessionConnTest, public testing::WithParamInterface<LivenessCase> {};

TEST_P(SessionLiveness, PacketsOnAnIdleConnectionAndADropAfterTheTimeout) {
  Make(STRM_PORT_TCPIP, true);
  Opened();
  const LivenessCase& c = GetParam();
  const std::uint64_t t0 = 1000000;
  const std::uint64_t tps = a_timer_tick::TicksPerSecond;
  sconn_->set_liveness_timeout(c.timeout);
  sconn_->startLiveness(t0);
  EXPECT_EQ(sconn_->liveness_interval(), c.interval);
  EXPECT_EQ(owner_.timeout, c.timeout);
  bool sent = true;
  EXPECT_EQ(sconn_->execute_liveness(t0 + 1, &sent), t0 + c.interval * tps);
  EXPECT_FALSE(sent);
  EXPECT_EQ(sconn_->execute_liveness(t0 + c.interval * tps, &sent), t0 + 2 * c.interval * tps);
  EXPECT_TRUE(sent);
  ASSERT_FALSE(link_->packets().empty());
  EXPECT_EQ(link_->packets().back(), (Bytes{26, 0, 0, 4}));
  // Nothing received for longer than the timeout: the connection is dropped.
  EXPECT_EQ(sconn_->execute_liveness(t0 + c.timeout * tps + 1, &sent), UINT64_MAX);
  EXPECT_EQ(sconn_->state(), SCONN_DEAD);
  EXPECT_EQ(indicators_.back(), STRM_IND_CONN_DIED);
}

INSTANTIATE_TEST_SUITE_P(Timeouts, SessionLiveness,
                         testing::Values(LivenessCase{30, 10}, LivenessCase{2, 1},
                                         LivenessCase{1, 1}));

// Every packet that arrives restarts the liveness clock: a connection that keeps
// receiving is never dropped as silent, however long ago liveness started; one silent
// for longer than the time-out after its last packet is.
TEST_F(SessionConnTest, PacketsThatArriveRestartTheLivenessClock) {
  Make(STRM_PORT_TCPIP, true);
  Opened();
  const std::uint64_t tps = a_timer_tick::TicksPerSecond;
  constexpr std::uint16_t kTimeout = 2;
  auto now = [] {
    a_timer_tick t;
    t.sample();
    return t.ticks;
  };
  const std::uint64_t start = now();
  ASSERT_GT(start, 10u * kTimeout * tps);
  sconn_->set_liveness_timeout(kTimeout);
  // Liveness started long ago; each packet below arrives "now".
  sconn_->startLiveness(start - 10u * kTimeout * tps);
  const Bytes kArrivals[] = {Bytes{26, 0, 0, 4}, MakePacket(PKT_DATA, PKT_STATUS_EOM, 12),
                             Bytes{26, 0, 0, 4}};
  for (const Bytes& packet : kArrivals) {
    const std::uint64_t before = now();
    Feed(packet);
    bool sent = false;
    EXPECT_NE(sconn_->execute_liveness(before + kTimeout * tps, &sent), UINT64_MAX);
    ASSERT_NE(sconn_->state(), SCONN_DEAD);
  }
  bool sent = false;
  EXPECT_EQ(sconn_->execute_liveness(now() + kTimeout * tps + 1, &sent), UINT64_MAX);
  EXPECT_EQ(sconn_->state(), SCONN_DEAD);
}

TEST_F(SessionConnTest, WithoutLivenessSupportNoPacketsGo) {
  sconn_->set_liveness_timeout(30);
  sconn_->startLiveness(100);
  bool sent = true;
  EXPECT_EQ(sconn_->execute_liveness(100000, &sent), UINT64_MAX);
  EXPECT_FALSE(sent);
  EXPECT_TRUE(link_->packets().empty());
  EXPECT_EQ(sconn_->livenessTimeout(), 0);
}

// A write the link queued blocks the next one (13) until the link reports it done (15).
TEST_F(SessionConnTest, AFullLinkRefusesUntilTheQueuedWriteCompletes) {
  link_->put_result = STRM_QUEUED;
  ASSERT_EQ(sconn_->sync_point(), STRM_OK);
  ASSERT_EQ(Item(7, 10), STRM_OK);
  EXPECT_EQ(sconn_->sync_point(), STRM_OUT_OF_ROOM);
  EXPECT_NE(sconn_->send_flags() & c_strm_sconn::kPutRefused, 0u);
  link_->put_result = STRM_OK;
  // The link hands back the buffer it kept.
  ASSERT_EQ(link_->queued.size(), 1u);
  sconn_->tconn()->delayed_put_completed(link_->queued[0]);
  EXPECT_EQ(indicators_, std::vector<std::uint8_t>{STRM_IND_ROOM_AGAIN});
  EXPECT_EQ(sconn_->sync_point(), STRM_OK);
  const auto packets = link_->packets();
  ASSERT_EQ(packets.size(), 2u) << "the refused packet went at the next flush";
  EXPECT_EQ(packets[1].size(), 4u + 12);
  EXPECT_EQ(packets[1][1], PKT_STATUS_EOM);
  EXPECT_EQ(sconn_->send_flags() & (c_strm_sconn::kPutRefused | c_strm_sconn::kPutCompleted), 0u);
}

// A write refused because another was in progress (here a liveness packet refused while
// a data packet is being written) is told to go on once that write is done, also when
// the link wrote it at once.
TEST_F(SessionConnTest, AWriterRefusedDuringASynchronousWriteIsToldToGoOn) {
  int refused = 0;
  link_->on_put = [&](const Bytes& bytes) {
    if (bytes[0] == PKT_DATA && refused == 0) {
      ++refused;
      sconn_->send_liveness(5);  // meets the write in progress
    }
  };
  ASSERT_EQ(sconn_->sync_point(), STRM_OK);
  EXPECT_EQ(refused, 1);
  EXPECT_EQ(link_->packets().size(), 1u) << "the liveness packet was refused";
  EXPECT_EQ(indicators_, std::vector<std::uint8_t>{STRM_IND_ROOM_AGAIN});
}

TEST_F(SessionConnTest, APeerThatIsGoneMeansNotAlive) {
  EXPECT_TRUE(sconn_->isAlive());
  link_->alive = false;
  EXPECT_FALSE(sconn_->isAlive()) << "not even once reported alive";
  EXPECT_EQ(sconn_->state(), SCONN_DEAD);
  EXPECT_EQ(sconn_->reason(), SCONN_REASON_DEAD);
  EXPECT_EQ(indicators_, std::vector<std::uint8_t>{STRM_IND_CONN_DIED});
  EXPECT_FALSE(sconn_->isAlive());
}

TEST_F(SessionConnTest, ARemoteDropClosesTheLinkOnce) {
  std::atomic<int> deleted{0};
  auto* ctx = new vq::testing::TestHostCtx(&deleted);
  // A connection of its own, holding the context.
  delete sconn_;
  link_ = new FakePconn;
  link_->port = port_.get();
  sconn_ = new c_strm_sconn(&owner_, new c_strm_tconn(&tran_, link_, vq::testing::AsHostCtx(ctx)),
                            controller_.default_pool, nullptr, vq::testing::AsHostCtx(ctx));
  ctx->release();
  sconn_->start_receive();
  sconn_->set_connected_to_db();
  sconn_->drop_connection(0);
  sconn_->drop_connection(0);
  EXPECT_EQ(sconn_->state(), SCONN_DEAD);
  EXPECT_EQ(sconn_->reason(), SCONN_REASON_CLOSED_IN_DB);
  EXPECT_EQ(owner_.stops, 1) << "leaving the connected state stops its messages";
  EXPECT_EQ(link_->disconnects, 1);
  EXPECT_EQ(deleted.load(), 1) << "both references dropped";
}

TEST_F(SessionConnTest, CommentsGoToTheDumpWhenThereIsOne) {
  EXPECT_EQ(StrmDumpComment(sconn_->handle(), "%s", "abc"), 0) << "no dump";
  EXPECT_EQ(StrmDumpComment(nullptr, "%s", "abc"), 0);
  char dir[] = "/tmp/vqsdumpXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/conn_1.dmp";
  ASSERT_TRUE(sconn_->open_dump(path.c_str()));
  EXPECT_EQ(StrmDumpComment(sconn_->handle(), "code %d", 7), 1);
  Opened();  // a received packet
  ASSERT_EQ(sconn_->sync_point(), STRM_OK);  // a sent one
  sconn_->drop_connection(1);
  sconn_->dump()->close();
  std::ifstream in(path, std::ios::binary);
  const Bytes all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::uint8_t> kinds;
  for (std::size_t at = 0; at + kDumpRecordHeaderBytes <= all.size();) {
    kinds.push_back(all[at + 3]);
    at += kDumpRecordHeaderBytes + vq::strm::load_le16(all.data() + at);
  }
  EXPECT_EQ(kinds, (std::vector<std::uint8_t>{PKTDUMP_FILE_HEADER, PKTDUMP_COMMENT, PKTDUMP_COMMENT,
                                              PKTDUMP_RECEIVED, PKTDUMP_SENT, PKTDUMP_DISCONNECT}));
  std::filesystem::remove_all(dir);
}

TEST_F(SessionConnTest, ANormalDisconnectCanReturnToConnected) {
  sconn_->set_connected_to_db();
  sconn_->set_normal_disconnect();
  EXPECT_EQ(sconn_->state(), SCONN_NORMAL_DISCONNECT);
  EXPECT_EQ(sconn_->reason(), SCONN_REASON_CLOSED);
  sconn_->set_connected_to_db();
  EXPECT_EQ(sconn_->state(), SCONN_CONNECTED_TO_DB);
  EXPECT_EQ(sconn_->reason(), SCONN_REASON_NONE);
}

// Two connections back to back with compression: what one writes, the other reads.
TEST_F(SessionConnTest, CompressedTrafficReadsBackAsWritten) {
  ASSERT_TRUE(sconn_->start_compression(120));
  Bytes written;
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(Item(7, 150), STRM_OK);
  }
  ASSERT_EQ(sconn_->sync_point(), STRM_OK);
  const auto packets = link_->packets();
  ASSERT_FALSE(packets.empty());
  EXPECT_LT(packets.size(), 8u) << "the items compress";

  // The reader: a second connection whose peer bytes are the packets just sent.
  auto* peer_link = new FakePconn;
  peer_link->port = port_.get();
  std::vector<std::uint8_t> peer_indicators;
  c_strm_sconn reader(&owner_, new c_strm_tconn(&tran_, peer_link, nullptr),
                      controller_.default_pool, new RecordingNotifier(&peer_indicators), nullptr);
  reader.start_receive();
  ASSERT_TRUE(reader.start_compression(120));
  const Bytes opener = MakePacket(PKT_APP_CONNECT, 0, 1);
  reader.tconn()->accept_bytes(opener.data(), static_cast<std::uint32_t>(opener.size()));
  for (const Bytes& p : packets) {
    reader.tconn()->accept_bytes(p.data(), static_cast<std::uint32_t>(p.size()));
  }
  Bytes got;
  std::uint32_t packet_bytes = 0;
  for (int guard = 0; guard < 100; ++guard) {
    std::uint8_t type, status;
    std::uint16_t length;
    if (reader._receive_prv(&type, &status, &length, false) != STRM_OK) break;
    packet_bytes += length;
    got.insert(got.end(), reader.in_pos(), reader.in_end());
    reader.advance(reader.in_end() - reader.in_pos());
    if (reader.is_sync_point(nullptr)) break;
  }
  ASSERT_EQ(got.size(), 40u * 152);  // length byte, code, 150 bytes
  EXPECT_EQ(reader.bytes_received(), opener.size() + packet_bytes) << "counted as inflated";
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(got[i * 152], 151);
    EXPECT_EQ(got[i * 152 + 1], 7);
  }
}

}  // namespace

// A peer that answers and closes at once (a refusal at the connection limit, the reply
// to a disconnect): the packets that came before the close are read first, and the
// connection fails only once the reader finds nothing more. Sends answer 2 meanwhile.
TEST_F(SessionConnTest, PacketsBeforeALinkFailureAreReadBeforeItCounts) {
  struct Case {
    const char* name;
    int queued;        // whole packets waiting in the queue at the close
    bool partly_read;  // the reader holds a packet with unread bytes at the close
  };
  const Case cases[] = {
      {"a reply of two packets in the queue", 2, false},
      {"the rest of the packet being read", 0, true},
      {"a packet being read and one queued", 1, true},
  };
  std::uint8_t type, status;
  std::uint16_t length;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Make(STRM_PORT_TCPIP, false);
    Opened();
    Bytes expected;
    auto arrive = [&](int n, bool last) {
      const Bytes p = MakePacket(PKT_DATA, last ? PKT_STATUS_EOM : 0, 20, n);
      expected.insert(expected.end(), p.begin() + 4, p.end());
      Feed(p);
    };
    Bytes got;
    if (c.partly_read) {
      arrive(1, c.queued == 0);
      ASSERT_EQ(sconn_->_receive_prv(&type, &status, &length, false), STRM_OK);
      got.assign(sconn_->in_pos(), sconn_->in_pos() + 5);
      sconn_->advance(5);
    }
    for (int i = 0; i < c.queued; ++i) arrive(10 + i, i + 1 == c.queued);
    indicators_.clear();
    sconn_->tconn()->accept_bytes(nullptr, 0);  // the peer closed
    EXPECT_EQ(sconn_->state(), SCONN_RECEIVING);
    EXPECT_EQ(sconn_->get_ind(), 0);
    EXPECT_TRUE(indicators_.empty());
    EXPECT_EQ(Item(7, 1), STRM_CONN_DEAD);
    EXPECT_EQ(sconn_->sync_point(), STRM_CONN_DEAD);
    if (c.partly_read) {
      ASSERT_TRUE(sconn_->current_has_data());
      got.insert(got.end(), sconn_->in_pos(), sconn_->in_end());
      sconn_->advance(static_cast<std::size_t>(sconn_->in_end() - sconn_->in_pos()));
    }
    const Bytes rest = ReadMessage();
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, expected);
    // Nothing more: now the failure counts, once.
    EXPECT_EQ(sconn_->_receive_prv(&type, &status, &length, false), STRM_CONN_DEAD);
    EXPECT_EQ(sconn_->state(), SCONN_FAILED);
    EXPECT_EQ(indicators_, std::vector<std::uint8_t>{STRM_IND_LINK_CLOSED});
    EXPECT_EQ(sconn_->_receive_prv(&type, &status, &length, false), STRM_CONN_DEAD);
    EXPECT_EQ(indicators_.size(), 1u);
  }
}

// The close comes after the reader took the last byte of a reply but before it asked
// whether the reply ended there: nothing is unread, so the failure counts at once, and
// the reply read to its end still ends at a sync point (else a refusal would read as a
// lost connection). A reply cut off before its end reports the dead connection.
TEST_F(SessionConnTest, AReplyReadToItsEndStaysASyncPointWhenTheLinkFailsAfter) {
  struct Case {
    const char* name;
    bool ends_message;  // the packet read last ends the reply
  };
  for (const Case& c : {Case{"the reply read whole", true}, Case{"a reply cut off", false}}) {
    SCOPED_TRACE(c.name);
    Make(STRM_PORT_TCPIP, false);
    Opened();
    Feed(MakePacket(PKT_DATA, 0, 20, 1));
    Feed(MakePacket(PKT_DATA, c.ends_message ? PKT_STATUS_EOM : 0, 10, 2));
    std::uint8_t type, status;
    std::uint16_t length;
    for (int i = 0; i < 2; ++i) {
      ASSERT_EQ(sconn_->_receive_prv(&type, &status, &length, false), STRM_OK);
      sconn_->advance(static_cast<std::size_t>(sconn_->in_end() - sconn_->in_pos()));
    }
    sconn_->tconn()->accept_bytes(nullptr, 0);  // the peer closed
    EXPECT_EQ(sconn_->state(), SCONN_FAILED);
    std::uint32_t word = 0;
    EXPECT_EQ(sconn_->is_sync_point(&word), c.ends_message);
    EXPECT_EQ(word, c.ends_message ? 0u : 4u);
    EXPECT_EQ(sconn_->_receive_prv(&type, &status, &length, false), STRM_CONN_DEAD);
  }
}

// With nothing unread the failure counts at once and wakes a waiting reader; a resync
// or an attention that waits for a message end that will never come ends with 2.
TEST_F(SessionConnTest, ALinkFailureWithNothingUnreadCountsAtOnce) {
  std::uint8_t type, status;
  std::uint16_t length;
  Opened();
  EXPECT_EQ(sconn_->_receive_prv(&type, &status, &length, false), STRM_NOTHING_YET);
  sconn_->tconn()->accept_bytes(nullptr, 0);
  EXPECT_EQ(sconn_->state(), SCONN_FAILED);
  EXPECT_EQ(indicators_, std::vector<std::uint8_t>{STRM_IND_LINK_CLOSED});

  for (bool attention : {false, true}) {
    SCOPED_TRACE(attention ? "attention" : "resync");
    Make(STRM_PORT_TCPIP, false);
    Opened();
    if (attention) {
      ASSERT_EQ(sconn_->attention(), STRM_OK);
    }
    Feed(MakePacket(PKT_DATA, 0, 20, 1));  // a reply that never ends
    sconn_->tconn()->accept_bytes(nullptr, 0);
    EXPECT_EQ(sconn_->state(), SCONN_RECEIVING);
    const an_int_strm_error rc = attention
                                     ? sconn_->_receive_prv(&type, &status, &length, false)
                                     : sconn_->resync(false);
    EXPECT_EQ(rc, STRM_CONN_DEAD);
    EXPECT_EQ(sconn_->state(), SCONN_FAILED);
  }
}
