// The app-connect exchange over a fake link: the request as it goes on the wire, and a
// table of replies (minor versions and their sizes, packet sizes and database versions
// at their limits, damaged text fields, levels, compression) answered as soon as the
// request is put.
#include "streams/app_connect.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/encrypt_level.h"
#include "stream_test_host.h"
#include "streams/packet_header.h"
#include "streams/packet_scrambler.h"
#include "streams/session_conn.h"
#include "strm_fakes.h"
#include "test_heap.h"
#include "utils/locale/lang_string.h"
#include "utils/locale/resource_file.h"
#include "utils/locale/utlocale.h"

namespace {

using vq::testing::FakePconn;
using vq::testing::FakePort;
using Bytes = std::vector<std::uint8_t>;

class NoWaitNotifier : public c_strm_conn_notifier {
 public:
  bool block(std::uint32_t seconds) override {
    last_block = seconds;
    return false;
  }
  void post() override {}
  void handle_strm_indicator(std::uint8_t) override {}
  void set_sconn(a_strm_conn) override {}
  int swap_streams(c_strm_conn_notifier*, std::uintptr_t) override { return 1; }
  std::uint32_t last_block = 0;
};

class NullOwner : public c_strm_sconn_owner {
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
  c_strm_env_notifier* env_notifier() override { return nullptr; }
};

// A sound reply of minor version 15 as the record's bytes.
Bytes GoodReply() {
  Bytes r(kAppConnectPktBytes, 0);
  vq::strm::store_le16(r.data(), kAppConnectPktBytes);
  r[2] = 2;
  r[6] = 12;
  vq::strm::store_le16(r.data() + 20, 15);
  vq::strm::store_le16(r.data() + 22, 1000);
  vq::strm::store_le16(r.data() + 35, 32);
  std::memcpy(r.data() + 44, "UTF-8", 5);
  std::memcpy(r.data() + 75, "en", 2);
  std::memcpy(r.data() + 127, "UTF-8", 5);
  for (int i = 0; i < 32; ++i) r[178 + i] = static_cast<std::uint8_t>(0xA0 + i);
  std::memcpy(r.data() + 210, "UTF-8", 5);
  std::memcpy(r.data() + 261, "UTF-8", 5);
  return r;
}

// The reply resized to `size` bytes (cut or zero-extended) with the minor version and
// the size field set to match.
Bytes Sized(std::uint16_t minor, std::size_t size) {
  Bytes r = GoodReply();
  r.resize(size, 0);
  vq::strm::store_le16(r.data(), static_cast<std::uint16_t>(size));
  vq::strm::store_le16(r.data() + 20, minor);
  return r;
}

Bytes With(std::function<void(Bytes&)> change) {
  Bytes r = GoodReply();
  change(r);
  return r;
}

void Text(Bytes& r, std::size_t at, std::size_t width, const char* bytes, std::size_t n) {
  std::memset(r.data() + at, 0, width);
  std::memcpy(r.data() + at, bytes, n);
}

class AppConnectTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(0, file_.Open(VQ_TEST_RES_DIR "/vqlgen12.res"));
    UTResFile* files[] = {&file_};
    catalog_.SetResFiles(files, 1);
    catalog_.set_client_charset(UTLocale::GetCharsetInfoFromLabel("UTF-8", kSchemeAll));
    catalog_.reset();
    vq::strm::SetLibraryCatalog(&catalog_);
    // Buffers of shared memory too, for connections over a shared-memory port.
    vq::strm::SetBufferHeapFactory([]() -> c_strm_buff_heap* { return new vq::testing::TestHeap; });
    controller_ = std::make_unique<c_strm_frlist_controller>(1000);
    tran_ = std::make_unique<c_strm_tran_layer>(nullptr, controller_->default_pool, nullptr);
    Make(STRM_PORT_TCPIP);
  }
  void TearDown() override {
    delete sconn_;
    sconn_ = nullptr;
    tran_.reset();
    controller_.reset();
    vq::strm::SetBufferHeapFactory(nullptr);
    vq::strm::SetLibraryCatalog(nullptr);
  }

  void Make(std::uint8_t port_type) {
    delete sconn_;
    port_ = std::make_unique<FakePort>(port_type);
    link_ = new FakePconn;
    link_->port = port_.get();
    auto* tconn = new c_strm_tconn(tran_.get(), link_, nullptr);
    notifier_ = new NoWaitNotifier;
    sconn_ = new c_strm_sconn(&owner_, tconn, controller_->default_pool, notifier_,
                              vq::testing::AsHostCtx(&host_));
    ASSERT_EQ(sconn_->start_receive(), STRM_OK);
  }

  // The reply bytes come in a type-25 packet (a zero byte before the record) as soon as
  // the request is put; none for an empty reply.
  void Answer(const Bytes& record) {
    link_->on_put = [this, record](const Bytes&) {
      if (record.empty()) return;
      Bytes packet(5, 0);
      packet.insert(packet.end(), record.begin(), record.end());
      StorePktHdr(packet.data(), PktHdr{PKT_APP_CONNECT, PKT_STATUS_EOM,
                                        static_cast<std::uint16_t>(packet.size())});
      sconn_->tconn()->accept_bytes(packet.data(), static_cast<std::uint32_t>(packet.size()));
    };
  }

  static an_app_connect_pkt Request() {
    an_app_connect_pkt r;
    std::memset(&r, 0, sizeof r);
    set_app_connect_u16(r.size, kAppConnectPktBytes);
    r.major = 2;
    r.db_version = 12;
    set_app_connect_u16(r.liveness, 60);
    set_app_connect_u16(r.minor, kAppConnectMinor);
    set_app_connect_u16(r.max_packet, 7300);
    set_app_connect_u16(r.build, kAppConnectBuild);
    std::memcpy(r.charset, "UTF-8", 5);
    return r;
  }

  int Run(c_encrypt_level& level, an_app_connect_pkt* reply, std::uint32_t timeout = 5) {
    const an_app_connect_pkt request = Request();
    err_[0] = '\0';
    return ApplicationConnect(sconn_->handle(), &request, &level, reply, err_, sizeof err_,
                              timeout);
  }

  std::vector<std::string> Printed() {
    std::vector<std::string> out;
    auto& h = vq::testing::HostPrints::get();
    std::lock_guard<std::mutex> hold(h.mutex);
    for (const auto& p : h.prints) out.push_back(p.second);
    return out;
  }

  UTLocale locale_;
  UTVCResFile file_;
  UTLangStringBase catalog_{&locale_};
  vq::testing::ScopedHostTable table_;
  vq::testing::TestHostCtx host_;
  std::unique_ptr<c_strm_frlist_controller> controller_;
  std::unique_ptr<c_strm_tran_layer> tran_;
  NullOwner owner_;
  std::unique_ptr<FakePort> port_;
  FakePconn* link_ = nullptr;
  NoWaitNotifier* notifier_ = nullptr;  // owned by the session connection
  c_strm_sconn* sconn_ = nullptr;
  char err_[256];
};

TEST_F(AppConnectTest, TheRequestGoesScrambledInOnePacketAfterAZeroByte) {
  Answer(With([](Bytes& r) { vq::strm::store_le16(r.data() + 10, 1); }));
  c_encrypt_level level("simple", nullptr);
  an_app_connect_pkt reply;
  ASSERT_EQ(Run(level, &reply), APPCONN_OK) << err_;
  const auto packets = link_->packets();
  ASSERT_FALSE(packets.empty());
  Bytes p = packets[0];
  ASSERT_EQ(p.size(), 4u + 1 + kAppConnectPktBytes);
  EXPECT_EQ(p[0], PKT_APP_CONNECT);
  EXPECT_EQ(p[1], PKT_STATUS_SCRAMBLED | PKT_STATUS_EOM);
  ASSERT_TRUE(DecryptPacket(p.data(), static_cast<std::uint32_t>(p.size())));
  EXPECT_EQ(p[4], 0);
  an_app_connect_pkt sent;
  std::memcpy(&sent, p.data() + 5, sizeof sent);
  const an_app_connect_pkt request = Request();
  EXPECT_EQ(app_connect_u16(sent.liveness), 0) << "this link does no liveness";
  EXPECT_EQ(app_connect_u16(sent.encryption), 1) << "the level's number";
  // Everything else as the caller wrote it.
  set_app_connect_u16(sent.liveness, 60);
  set_app_connect_u16(sent.encryption, 0);
  EXPECT_EQ(std::memcmp(&sent, &request, sizeof sent), 0);
  EXPECT_EQ(sconn_->state(), SCONN_APP_CONNECTED);
}

TEST_F(AppConnectTest, ALinkWithLivenessKeepsTheRequestsTimeout) {
  port_->liveness = true;
  Answer(GoodReply());
  c_encrypt_level level("none", nullptr);
  an_app_connect_pkt reply;
  ASSERT_EQ(Run(level, &reply), APPCONN_OK) << err_;
  Bytes p = link_->packets().at(0);
  ASSERT_TRUE(DecryptPacket(p.data(), static_cast<std::uint32_t>(p.size())));
  EXPECT_EQ(vq::strm::load_le16(p.data() + 5 + 8), 60);
}

struct ReplyCase {
  const char* name;
  Bytes record;
  int result;
  const char* printed;  // a line the check prints, or null
};

std::vector<ReplyCase> ReplyCases() {
  return {
      {"minor 15 of 312 bytes", GoodReply(), APPCONN_OK, nullptr},
      {"minor 1 of 75 bytes, no text checked",
       With([](Bytes& r) {
         r.resize(75);
         vq::strm::store_le16(r.data(), 75);
         vq::strm::store_le16(r.data() + 20, 1);
         std::memset(r.data() + 44, 'x', 31);
       }),
       APPCONN_OK, nullptr},
      {"minor 1 of 76 bytes", Sized(1, 76), APPCONN_NO_REPLY,
       "Minor version and app connect size don't match"},
      {"minor 5 of 106 bytes", Sized(5, 106), APPCONN_OK, nullptr},
      {"minor 9 of 106 bytes", Sized(9, 106), APPCONN_OK, nullptr},
      {"minor 9 of 178 bytes", Sized(9, 178), APPCONN_NO_REPLY,
       "Minor version and app connect size don't match"},
      {"minor 12 of 178 bytes", Sized(12, 178), APPCONN_OK, nullptr},
      {"minor 13 of 261 bytes", Sized(13, 261), APPCONN_OK, nullptr},
      {"minor 13 of 312 bytes", Sized(13, 312), APPCONN_NO_REPLY,
       "Minor version and app connect size don't match"},
      {"minor 15 of 261 bytes", Sized(15, 261), APPCONN_NO_REPLY,
       "Minor version and app connect size don't match"},
      {"minor 0 of 312 bytes", Sized(0, 312), APPCONN_OK, nullptr},
      {"minor 16 of 400 bytes", Sized(16, 400), APPCONN_OK, nullptr},
      {"minor 16 of 311 bytes", Sized(16, 311), APPCONN_NO_REPLY,
       "Minor version and app connect size don't match"},
      {"size field not what came",
       With([](Bytes& r) { vq::strm::store_le16(r.data(), 311); }), APPCONN_NO_REPLY,
       "AppConnect size doesn't match"},
      {"74 bytes", Sized(1, 74), APPCONN_NO_REPLY, "AppConnect Packet too small"},
      {"major 3", With([](Bytes& r) { r[2] = 3; }), APPCONN_NO_REPLY,
       "Streams major version must match"},
      {"packet 299", With([](Bytes& r) { vq::strm::store_le16(r.data() + 22, 299); }),
       APPCONN_NO_REPLY, "Max packet size invalid"},
      // 300 passes the check, then is refused: below 500 and below the buffer size.
      {"packet 300", With([](Bytes& r) { vq::strm::store_le16(r.data() + 22, 300); }),
       APPCONN_NO_REPLY, nullptr},
      {"packet 499", With([](Bytes& r) { vq::strm::store_le16(r.data() + 22, 499); }),
       APPCONN_NO_REPLY, nullptr},
      {"packet 500", With([](Bytes& r) { vq::strm::store_le16(r.data() + 22, 500); }),
       APPCONN_OK, nullptr},
      {"packet 16000", With([](Bytes& r) { vq::strm::store_le16(r.data() + 22, 16000); }),
       APPCONN_OK, nullptr},
      {"packet 16001", With([](Bytes& r) { vq::strm::store_le16(r.data() + 22, 16001); }),
       APPCONN_NO_REPLY, "Max packet size invalid"},
      {"db version 5", With([](Bytes& r) { r[6] = 5; }), APPCONN_NO_REPLY,
       "DB Version invalid"},
      {"db version 6", With([](Bytes& r) { r[6] = 6; }), APPCONN_OK, nullptr},
      {"db version 21", With([](Bytes& r) { r[6] = 21; }), APPCONN_OK, nullptr},
      {"db version 22", With([](Bytes& r) { r[6] = 22; }), APPCONN_NO_REPLY,
       "DB Version invalid"},
      {"charset abc", With([](Bytes& r) { Text(r, 44, 31, "abc", 3); }), APPCONN_OK, nullptr},
      {"charset abc, zero, d", With([](Bytes& r) { Text(r, 44, 31, "abc\0d", 5); }),
       APPCONN_NO_REPLY, "Charset corrupted"},
      {"charset of 31 letters", With([](Bytes& r) { std::memset(r.data() + 44, 'a', 31); }),
       APPCONN_NO_REPLY, "Charset corrupted"},
      {"language without zero", With([](Bytes& r) { std::memset(r.data() + 75, 'e', 31); }),
       APPCONN_NO_REPLY, "Language corrupted"},
      {"further language", With([](Bytes& r) { Text(r, 106, 21, "en\0x", 4); }),
       APPCONN_NO_REPLY, "Language (extra) corrupted"},
      {"further charset", With([](Bytes& r) { r[127 + 50] = 'z'; }), APPCONN_NO_REPLY,
       "Charset (extra) corrupted"},
      {"OS charset", With([](Bytes& r) { std::memset(r.data() + 210, 'o', 51); }),
       APPCONN_NO_REPLY, "OS Charset corrupted"},
      {"NCHAR charset", With([](Bytes& r) { r[311] = 1; }), APPCONN_NO_REPLY,
       "NCHAR Charset corrupted"},
      {"further fields of minor 9 are not checked",
       With([](Bytes& r) {
         r.resize(106);
         vq::strm::store_le16(r.data(), 106);
         vq::strm::store_le16(r.data() + 20, 9);
       }),
       APPCONN_OK, nullptr},
  };
}

TEST_F(AppConnectTest, RepliesAreCheckedBeforeAnythingIsAgreed) {
  for (const ReplyCase& c : ReplyCases()) {
    SCOPED_TRACE(c.name);
    Make(STRM_PORT_TCPIP);
    vq::testing::HostPrints::get().clear();
    Answer(c.record);
    c_encrypt_level level("none", nullptr);
    an_app_connect_pkt reply;
    std::memset(&reply, 0xEE, sizeof reply);
    EXPECT_EQ(Run(level, &reply), c.result) << err_;
    if (c.printed != nullptr) {
      const auto lines = Printed();
      EXPECT_NE(std::find(lines.begin(), lines.end(), c.printed), lines.end());
    }
    if (c.result == APPCONN_OK) {
      EXPECT_EQ(sconn_->state(), SCONN_APP_CONNECTED);
      // The caller's record holds the reply as far as it goes, zero after it.
      const std::size_t n = std::min(c.record.size(), kAppConnectPktBytes);
      EXPECT_EQ(std::memcmp(&reply, c.record.data(), n), 0);
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(&reply);
      for (std::size_t i = n; i < kAppConnectPktBytes; ++i) ASSERT_EQ(bytes[i], 0) << i;
    } else {
      EXPECT_EQ(sconn_->state(), SCONN_RECEIVING);
      EXPECT_NE(err_[0], '\0') << "a message for the caller";
    }
  }
}

// A reply longer than the record (minor 16 and above may be) never runs past the
// caller's 312 bytes.
TEST_F(AppConnectTest, ALongReplyIsCutToTheCallersRecord) {
  Bytes record = Sized(16, 900);  // within the 1000-byte buffers
  std::memset(record.data() + 312, 0x5A, record.size() - 312);
  Answer(record);
  c_encrypt_level level("none", nullptr);
  struct {
    an_app_connect_pkt reply;
    std::uint8_t guard[64];
  } out;
  std::memset(&out, 0xEE, sizeof out);
  ASSERT_EQ(Run(level, &out.reply), APPCONN_OK) << err_;
  for (std::uint8_t g : out.guard) ASSERT_EQ(g, 0xEE);
}

TEST_F(AppConnectTest, PacketSizeAndBuffersFollowTheReply) {
  struct Row {
    std::uint16_t packet;
    int result;
    std::uint16_t buffer_size;  // of the connection's pool afterwards
  } rows[] = {{500, APPCONN_OK, 1000}, {1000, APPCONN_OK, 1000}, {7300, APPCONN_OK, 7300},
              {16000, APPCONN_OK, 16000}, {499, APPCONN_NO_REPLY, 1000}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.packet);
    Make(STRM_PORT_TCPIP);
    Answer(With([&](Bytes& b) { vq::strm::store_le16(b.data() + 22, r.packet); }));
    c_encrypt_level level("none", nullptr);
    an_app_connect_pkt reply;
    EXPECT_EQ(Run(level, &reply), r.result) << err_;
    EXPECT_EQ(sconn_->buffer_pool()->size, r.buffer_size);
    if (r.result != APPCONN_OK) {
      EXPECT_NE(std::string(err_).find(std::to_string(r.packet)), std::string::npos) << err_;
    }
  }
}

TEST_F(AppConnectTest, ANegativeLivenessReachesTheCallerAs120) {
  Answer(With([](Bytes& r) { vq::strm::store_le16(r.data() + 8, 0xFFFF); }));
  c_encrypt_level level("none", nullptr);
  an_app_connect_pkt reply;
  ASSERT_EQ(Run(level, &reply), APPCONN_OK) << err_;
  EXPECT_EQ(app_connect_u16(reply.liveness), 120);
}

TEST_F(AppConnectTest, RandomBytesNeverExceedTheirField) {
  Answer(With([](Bytes& r) { vq::strm::store_le16(r.data() + 35, 40); }));
  c_encrypt_level level("none", nullptr);
  an_app_connect_pkt reply;
  ASSERT_EQ(Run(level, &reply), APPCONN_OK) << err_;
  std::uint8_t out[48];
  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(sconn_->get_random_data(out, sizeof out), 32u);
  EXPECT_EQ(out[0], 0xA0);
  EXPECT_EQ(out[31], 0xA0 + 31);
  EXPECT_EQ(out[32], 0xEE);
}

TEST_F(AppConnectTest, LevelsAreAgreedOrRefused) {
  struct Row {
    const char* client;
    std::uint16_t minor;
    std::uint16_t server;
    int result;
    std::uint32_t level;  // the client's level afterwards
  } rows[] = {
      {"none", 15, 0, APPCONN_OK, 0},
      {"simple", 15, 1, APPCONN_OK, 1},
      {"none", 15, 1, APPCONN_OK, 1},  // the server asks for scrambling
      {"simple", 15, 0, APPCONN_LEVEL_MISMATCH, 1},
      {"none", 15, 3, APPCONN_LEVEL_MISMATCH, 0},
      {"simple", 5, 0, APPCONN_OK, 0},  // an old server's level is taken
      {"none", 5, 1, APPCONN_OK, 1},
      {"none", 5, 9, APPCONN_LEVEL_MISMATCH, 0},  // no such level
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.client) + " " + std::to_string(r.minor) + " " +
                 std::to_string(r.server));
    Make(STRM_PORT_TCPIP);
    Bytes record = r.minor == 15 ? GoodReply() : Sized(r.minor, 106);
    vq::strm::store_le16(record.data() + 10, r.server);
    Answer(record);
    c_encrypt_level level(r.client, nullptr);
    an_app_connect_pkt reply;
    EXPECT_EQ(Run(level, &reply), r.result) << err_;
    EXPECT_EQ(level.level, r.level);
  }
}

TEST_F(AppConnectTest, CompressionStartsWhenTheReplyGrantsIt) {
  for (std::uint8_t flag : {std::uint8_t{0}, kAppConnectCompression}) {
    SCOPED_TRACE(flag);
    Make(STRM_PORT_TCPIP);
    Answer(With([&](Bytes& r) { r[24] = flag; }));
    c_encrypt_level level("none", nullptr);
    an_app_connect_pkt reply;
    ASSERT_EQ(Run(level, &reply), APPCONN_OK) << err_;
    EXPECT_EQ(sconn_->compression().started(), flag != 0);
  }
}

TEST_F(AppConnectTest, NoReplyTimesOutWithAMessage) {
  Answer({});
  c_encrypt_level level("none", nullptr);
  an_app_connect_pkt reply;
  EXPECT_EQ(Run(level, &reply, 7), APPCONN_NO_REPLY);
  EXPECT_EQ(std::string(err_), "Timed out waiting for the server's reply");
  EXPECT_EQ(notifier_->last_block, 7u);
}

TEST_F(AppConnectTest, WithoutATimeoutSharedMemoryWaits300SecondsAndOtherLinks30) {
  for (std::uint8_t type : {std::uint8_t{STRM_PORT_SHARED_MEMORY}, std::uint8_t{STRM_PORT_TCPIP}}) {
    Make(type);
    Answer({});
    c_encrypt_level level("none", nullptr);
    an_app_connect_pkt reply;
    EXPECT_EQ(Run(level, &reply, 0), APPCONN_NO_REPLY);
    EXPECT_EQ(notifier_->last_block, type == STRM_PORT_SHARED_MEMORY ? 300u : 30u);
  }
}

TEST_F(AppConnectTest, DataInsteadOfTheReplyOrADeadLinkFail) {
  // A data packet where the reply should be (after a packet that may open a stream).
  link_->on_put = [this](const Bytes&) {
    Bytes data{PKT_CONNECT_FIRST, 0, 0, 8, 0, 0, 0, 0, PKT_DATA, PKT_STATUS_EOM, 0, 6, 1, 0};
    sconn_->tconn()->accept_bytes(data.data(), static_cast<std::uint32_t>(data.size()));
  };
  c_encrypt_level level("none", nullptr);
  an_app_connect_pkt reply;
  EXPECT_EQ(Run(level, &reply), APPCONN_NO_REPLY);
  EXPECT_EQ(std::string(err_), "The server's reply could not be read");

  Make(STRM_PORT_TCPIP);
  link_->on_put = [this](const Bytes&) { sconn_->tconn()->accept_error(104); };
  EXPECT_EQ(Run(level, &reply), APPCONN_NO_REPLY);
}

TEST_F(AppConnectTest, OnlyANewConnectionExchanges) {
  Answer(GoodReply());
  c_encrypt_level level("none", nullptr);
  an_app_connect_pkt reply;
  ASSERT_EQ(Run(level, &reply), APPCONN_OK);
  EXPECT_EQ(Run(level, &reply), APPCONN_BAD_STATE);
}

TEST(AppConnectVerify, TheRecordAsPassedIsCheckedWithoutAConnection) {
  Bytes good = GoodReply();
  an_app_connect_pkt pkt;
  std::memcpy(&pkt, good.data(), sizeof pkt);
  EXPECT_TRUE(StrmVerifyAppConnectPkt(nullptr, &pkt, 0));
  // With the size checks done already, a size that does not fit the minor passes.
  set_app_connect_u16(pkt.size, 300);
  EXPECT_FALSE(StrmVerifyAppConnectPkt(nullptr, &pkt, 0));
  EXPECT_TRUE(StrmVerifyAppConnectPkt(nullptr, &pkt, 1));
  EXPECT_FALSE(StrmVerifyAppConnectPkt(nullptr, nullptr, 1));
}

}  // namespace
