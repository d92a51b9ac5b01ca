// The transport connection without a network: packets rebuilt from a stream link's
// bytes however they are cut, headers checked, scrambling on send by level and undone on
// receipt, whole packets from a packet link, and the detached state.
#include "streams/transport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_session.h"
#include "scrambler.h"  // the stand-in server's independent implementation
#include "stream_test_host.h"
#include "streams/packet_header.h"
#include "streams/packet_scrambler.h"
#include "strm_fakes.h"

namespace {

using vq::testing::FakePconn;
using vq::testing::FakeSession;
using vq::testing::MakePacket;
using vq::testing::MinimalPort;
using Bytes = std::vector<std::uint8_t>;

Bytes Join(const std::vector<Bytes>& packets) {
  Bytes all;
  for (const Bytes& p : packets) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// A transport connection over a fake stream link (TCP/IP type) with a fake session
// connection attached.
class TransportTest : public testing::Test {
 protected:
  explicit TransportTest(std::uint16_t packet_size = 7300) : session_(packet_size) {}
  void SetUp() override {
    pconn_ = new FakePconn;
    pconn_->port = &port_;
    tconn_ = new c_strm_tconn(&tran_, pconn_, nullptr);
    tconn_->set_sconn(&session_);
  }
  void TearDown() override { delete tconn_; }

  void Feed(const Bytes& bytes) { tconn_->accept_bytes(bytes.data(), static_cast<std::uint32_t>(bytes.size())); }
  void FeedInPieces(const Bytes& bytes, std::size_t cut) {
    for (std::size_t at = 0; at < bytes.size(); at += cut) {
      const std::size_t n = std::min(cut, bytes.size() - at);
      tconn_->accept_bytes(bytes.data() + at, static_cast<std::uint32_t>(n));
    }
  }

  MinimalPort port_{STRM_PORT_TCPIP};
  c_strm_frlist_controller env_pool_{7300};
  c_strm_tran_layer tran_{nullptr, env_pool_.default_pool, nullptr};
  FakeSession session_;
  FakePconn* pconn_ = nullptr;
  c_strm_tconn* tconn_ = nullptr;
};

const std::vector<Bytes> kStream = {
    MakePacket(PKT_APP_CONNECT, 0, 313),   MakePacket(PKT_DATA, 1, 100, 3),
    MakePacket(PKT_LIVENESS, 0, 0),        MakePacket(PKT_ATTENTION, 5, 0),
    MakePacket(PKT_DATA, 0, 0, 9),         MakePacket(PKT_COMPRESSED, 0x41, 57, 11)};

TEST_F(TransportTest, RebuildsPacketsFedWholeOrOneByteAtATime) {
  const Bytes all = Join(kStream);
  FeedInPieces(all, 1);
  EXPECT_EQ(session_.packets(), kStream);
  EXPECT_TRUE(session_.errors().empty());
  EXPECT_EQ(session_.dumps(1), static_cast<int>(kStream.size()));
}

// Every cut of the stream into two reads gives the same packets.
TEST_F(TransportTest, EveryCutGivesTheSamePackets) {
  const Bytes all = Join(kStream);
  for (std::size_t cut = 0; cut <= all.size(); ++cut) {
    SCOPED_TRACE(cut);
    FakeSession session;
    auto* pconn = new FakePconn;
    pconn->port = &port_;
    c_strm_tconn tconn(&tran_, pconn, nullptr);
    tconn.set_sconn(&session);
    if (cut > 0) tconn.accept_bytes(all.data(), static_cast<std::uint32_t>(cut));
    if (cut < all.size()) {
      tconn.accept_bytes(all.data() + cut, static_cast<std::uint32_t>(all.size() - cut));
    }
    ASSERT_EQ(session.packets(), kStream);
  }
}

TEST_F(TransportTest, AFirstConnectionlessPacketIsDroppedAndAnyTypeMayFollow) {
  const std::vector<Bytes> packets = {MakePacket(PKT_CONNECTIONLESS, 0, 20),
                                      MakePacket(PKT_DATA, 0, 5)};
  Feed(Join(packets));
  EXPECT_EQ(session_.packets(), std::vector<Bytes>{packets[1]});
  EXPECT_TRUE(tconn_->first_packet_seen());
  EXPECT_TRUE(session_.errors().empty());
}

TEST_F(TransportTest, DetachingGivesAHalfRebuiltPacketsBufferBack) {
  Feed(MakePacket(PKT_APP_CONNECT, 0, 10));
  const std::uint32_t idle = session_.free_buffers();
  const Bytes half = MakePacket(PKT_DATA, 0, 30);
  tconn_->accept_bytes(half.data(), 10);
  EXPECT_EQ(session_.free_buffers(), idle - 1);
  tconn_->set_sconn(nullptr);
  EXPECT_EQ(session_.free_buffers(), idle);
  // Attached again, the stream starts with a fresh packet.
  tconn_->set_sconn(&session_);
  Feed(half);
  ASSERT_EQ(session_.packets().size(), 2u);
  EXPECT_EQ(session_.packets()[1], half);
}

TEST_F(TransportTest, BytesAfterTheSessionDetachedAreDropped) {
  tconn_->set_sconn(nullptr);
  EXPECT_EQ(pconn_->tconn, nullptr);
  Feed(Join(kStream));
  tconn_->accept_bytes(nullptr, 0);
  EXPECT_TRUE(session_.packets().empty());
  EXPECT_TRUE(session_.errors().empty());
  tconn_->set_sconn(&session_);
  EXPECT_EQ(pconn_->tconn, tconn_);
}

// The small area makes the bounds easy to reach: packets of at most 64 bytes.
class SmallTransportTest : public TransportTest {
 protected:
  SmallTransportTest() : TransportTest(64) {}
};

TEST_F(SmallTransportTest, OneReadLargerThanAPacketAreaHoldsManyPackets) {
  std::vector<Bytes> packets = {MakePacket(PKT_APP_CONNECT, 0, 60)};
  for (int i = 0; i < 20; ++i) packets.push_back(MakePacket(PKT_DATA, 0, 60, static_cast<std::uint8_t>(i)));
  const Bytes all = Join(packets);
  ASSERT_GT(all.size(), 1000u);
  Feed(all);
  EXPECT_EQ(session_.packets(), packets);
  EXPECT_TRUE(session_.errors().empty());
}

struct BadStream {
  const char* name;
  Bytes bytes;
  std::size_t delivered;  // packets handed up before the failure
};

class SmallTransportBad : public SmallTransportTest,
                          public testing::WithParamInterface<BadStream> {};

// Each fault ends the stream with 100001, never with a copy past the buffer (ASan), and
// the buffer being filled goes back to the pool. The stream stays ended: bytes read
// later (which a link reading much at once may still hold) are not taken for packets.
TEST_P(SmallTransportBad, EndsTheStreamWithAClearError) {
  const BadStream& c = GetParam();
  const std::uint32_t free_before = session_.free_buffers();
  Feed(c.bytes);
  Feed(Join({MakePacket(PKT_APP_CONNECT, 0, 8), MakePacket(PKT_DATA, 0, 8)}));
  EXPECT_EQ(session_.packets().size(), c.delivered);
  EXPECT_EQ(session_.errors(), std::vector<std::uint32_t>{kStrmRecvFailure});
  // Nothing held: every buffer taken is back (the first one taken made the batch).
  EXPECT_GE(session_.free_buffers(), free_before);
}

Bytes WithLength(Bytes p, std::uint16_t length) {
  vq::strm::store_be16(p.data() + 2, length);
  return p;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SmallTransportBad,
    testing::Values(
        BadStream{"length_3", WithLength(MakePacket(PKT_APP_CONNECT, 0, 8), 3), 0},
        BadStream{"length_0", WithLength(MakePacket(PKT_APP_CONNECT, 0, 8), 0), 0},
        BadStream{"length_past_area", WithLength(MakePacket(PKT_APP_CONNECT, 0, 80), 65), 0},
        BadStream{"length_max", WithLength(MakePacket(PKT_APP_CONNECT, 0, 80), 0xFFFF), 0},
        BadStream{"first_packet_data", MakePacket(PKT_DATA, 0, 8), 0},
        BadStream{"first_packet_attention", MakePacket(PKT_ATTENTION, 5, 0), 0},
        BadStream{"second_packet_too_long",
                  Join({MakePacket(PKT_APP_CONNECT, 0, 8),
                        WithLength(MakePacket(PKT_DATA, 0, 80), 84)}),
                  1},
        BadStream{"scrambled_shorter_than_its_header",
                  Join({MakePacket(PKT_APP_CONNECT, 0, 8),
                        WithLength(MakePacket(PKT_ATTENTION, PKT_STATUS_SCRAMBLED, 0), 6)}),
                  1}),
    [](const testing::TestParamInfo<BadStream>& info) { return std::string(info.param.name); });

TEST_F(TransportTest, AZeroLengthReadEndsTheStream) {
  Feed(MakePacket(PKT_APP_CONNECT, 0, 10));
  const Bytes half = MakePacket(PKT_DATA, 0, 30);
  tconn_->accept_bytes(half.data(), 10);
  tconn_->accept_bytes(half.data(), 0);
  EXPECT_EQ(session_.packets().size(), 1u);
  EXPECT_EQ(session_.errors(), std::vector<std::uint32_t>{kStrmRecvFailure});
}

// ---- sending ----

c_encrypt_level Level(std::uint32_t n) { return c_encrypt_level(n, nullptr); }

struct SendCase {
  const char* name;
  std::uint32_t level;
  Bytes packet;
  bool scrambled;  // on the wire
};

class TransportSend : public TransportTest, public testing::WithParamInterface<SendCase> {};

TEST_P(TransportSend, ScramblesByLevelAndTheServerReadsIt) {
  const SendCase& c = GetParam();
  c_encrypt_level level = Level(c.level);
  char err[256];
  ASSERT_EQ(tconn_->initialize_encryption(level, err, sizeof err), 0);
  c_strm_buffer* b = session_.packet_buffer(c.packet);
  ASSERT_EQ(tconn_->put(b), STRM_OK);
  session_.buffer_pool()->done_buffer(b);
  ASSERT_EQ(pconn_->packets().size(), 1u);
  Bytes wire = pconn_->packets()[0];
  EXPECT_EQ(session_.dumps(0), 1);
  EXPECT_EQ((wire[1] & PKT_STATUS_SCRAMBLED) != 0, c.scrambled);
  Bytes expected = c.packet;
  if (c.scrambled) expected[1] |= PKT_STATUS_SCRAMBLED;
  if (c.scrambled && wire.size() > PktHeaderSize(wire[0]) + 2) {
    EXPECT_NE(wire, expected);
  }
  // The server's own descrambler restores the packet...
  if (c.scrambled) {
    ASSERT_TRUE(vqeng::descramble_packet(wire.data(), static_cast<std::uint32_t>(wire.size())));
  }
  EXPECT_EQ(wire, expected);
  // ...and so does our receiving side, whatever its own level.
  Bytes again = pconn_->packets()[0];
  FakeSession peer;
  auto* peer_link = new FakePconn;
  peer_link->port = &port_;
  c_strm_tconn receiver(&tran_, peer_link, nullptr);
  receiver.set_sconn(&peer);
  const Bytes opener = MakePacket(PKT_APP_CONNECT, 0, 0);
  receiver.accept_bytes(opener.data(), static_cast<std::uint32_t>(opener.size()));
  receiver.accept_bytes(again.data(), static_cast<std::uint32_t>(again.size()));
  ASSERT_EQ(peer.packets().size(), 2u);
  EXPECT_EQ(peer.packets()[1], expected);
}

INSTANTIATE_TEST_SUITE_P(
    Levels, TransportSend,
    testing::Values(
        SendCase{"none_data", 0, MakePacket(PKT_DATA, 1, 200), false},
        SendCase{"none_app_connect_marked", 0, MakePacket(PKT_APP_CONNECT, 0x20, 313), true},
        SendCase{"none_attention", 0, MakePacket(PKT_ATTENTION, 5, 0), false},
        SendCase{"simple_data", 1, MakePacket(PKT_DATA, 1, 200), true},
        SendCase{"simple_short_body", 1, MakePacket(PKT_DATA, 0, 2), true},
        SendCase{"simple_liveness", 1, MakePacket(PKT_LIVENESS, 0, 0), true},
        SendCase{"simple_compressed", 1, MakePacket(PKT_COMPRESSED, 0x41, 999), true}),
    [](const testing::TestParamInfo<SendCase>& info) { return std::string(info.param.name); });

TEST_F(TransportTest, AServerScrambledPacketIsRestoredOnReceipt) {
  Bytes plain = MakePacket(PKT_DATA, PKT_STATUS_SCRAMBLED | 1, 500);
  Bytes wire = plain;
  ASSERT_TRUE(vqeng::scramble_packet(wire.data(), static_cast<std::uint32_t>(wire.size())));
  Feed(Join({MakePacket(PKT_APP_CONNECT, 0, 0), wire}));
  ASSERT_EQ(session_.packets().size(), 2u);
  EXPECT_EQ(session_.packets()[1], plain);
}

TEST_F(TransportTest, NoSessionConnectionMeansNoSend) {
  tconn_->set_sconn(nullptr);
  c_strm_buffer* b = session_.packet_buffer(MakePacket(PKT_DATA, 0, 10));
  EXPECT_EQ(tconn_->put(b), STRM_NO_SESSION_CONN);
  session_.buffer_pool()->done_buffer(b);
  EXPECT_TRUE(pconn_->packets().empty());
}

// A TLS level whose set-up failed must never send in the clear.
TEST_F(TransportTest, AFailedTlsSetUpSendsNothing) {
  c_encrypt_level level(kEncryptRsaTls, nullptr);
  ASSERT_TRUE(level.set_parms("trusted_certificates"));  // a key without a value
  char err[256] = "";
  EXPECT_EQ(tconn_->initialize_encryption(level, err, sizeof err), STRM_ENCRYPT_FAILED);
  c_strm_buffer* b = session_.packet_buffer(MakePacket(PKT_DATA, 0, 10));
  EXPECT_EQ(tconn_->put(b), STRM_ENCRYPT_FAILED);
  session_.buffer_pool()->done_buffer(b);
  EXPECT_TRUE(pconn_->packets().empty());
  EXPECT_TRUE(pconn_->stream().empty());
}

// ---- a packet link ----

TEST_F(TransportTest, WholePacketsFromAPacketLinkAreDescrambledAndHandedUp) {
  Bytes plain = MakePacket(PKT_DATA, PKT_STATUS_SCRAMBLED, 40);
  Bytes wire = plain;
  ASSERT_TRUE(EncryptPacket(wire.data(), static_cast<std::uint32_t>(wire.size())));
  EXPECT_EQ(tconn_->accept_buff(session_.packet_buffer(wire)), 1);
  ASSERT_EQ(session_.packets().size(), 1u);
  EXPECT_EQ(session_.packets()[0], plain);

  // A buffer whose header claims more than it holds is refused.
  c_strm_buffer* lying = session_.packet_buffer(MakePacket(PKT_DATA, 0, 10));
  vq::strm::store_be16(lying->packet() + 2, 200);
  tconn_->accept_buff(lying);
  EXPECT_EQ(session_.packets().size(), 1u);
  EXPECT_EQ(session_.errors(), std::vector<std::uint32_t>{kStrmRecvFailure});

  tconn_->set_sconn(nullptr);
  tconn_->fallback_pool = session_.buffer_pool();
  EXPECT_EQ(tconn_->accept_buff(session_.packet_buffer(plain)), 0);
  EXPECT_EQ(session_.packets().size(), 1u);
}

TEST_F(TransportTest, LinkEventsReachTheSessionConnection) {
  tconn_->accept_error(77);
  tconn_->drop_connection();
  c_strm_buffer* b = session_.packet_buffer(MakePacket(PKT_DATA, 0, 10));
  tconn_->delayed_put_completed(b);
  EXPECT_EQ(session_.errors(), std::vector<std::uint32_t>{77});
  EXPECT_EQ(session_.drops, 1);
}

TEST_F(TransportTest, TheHostContextIsHeldUntilDisconnect) {
  std::atomic<int> deleted{0};
  auto* ctx = new vq::testing::TestHostCtx(&deleted);
  auto* link = new FakePconn;
  link->port = &port_;
  auto* t = new c_strm_tconn(&tran_, link, vq::testing::AsHostCtx(ctx));
  ctx->release();
  EXPECT_EQ(deleted.load(), 0);
  t->disconnect();
  EXPECT_EQ(deleted.load(), 1);
  EXPECT_EQ(link->disconnects, 1);
  delete t;
}

}  // namespace
