// The defaults a link inherits from the port and link-connection interfaces.
#include "streams/port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "stream_test_host.h"
#include "strm_fakes.h"
#include "utils/base/memory.h"

namespace {

using vq::testing::MinimalPconn;
using vq::testing::MinimalPort;

struct EncryptionCase {
  signed char level;
  bool taken;
};

class PortEncryption : public testing::TestWithParam<EncryptionCase> {};

// A port that does not say otherwise takes no encryption and the simple level only.
TEST_P(PortEncryption, TheBaseRefusesEveryTlsLevel) {
  MinimalPort port;
  EXPECT_EQ(port.supportEncryption(GetParam().level), GetParam().taken);
}

INSTANTIATE_TEST_SUITE_P(Levels, PortEncryption,
                         testing::Values(EncryptionCase{0, true}, EncryptionCase{1, true},
                                         EncryptionCase{2, false}, EncryptionCase{3, false},
                                         EncryptionCase{4, false}, EncryptionCase{-1, false}));

TEST(PortDefaults, AreTheQuietAnswers) {
  MinimalPort port;
  EXPECT_EQ(port.header_size(), 0);
  EXPECT_FALSE(port.can_do_liveness());
  EXPECT_EQ(port.query_servers(nullptr, nullptr, 0), 0);
  EXPECT_EQ(port.confirm_server_at_address("a", "b", 0), 0);
  EXPECT_EQ(port.get_next_timeout(), UINT64_MAX);
  char text[8];
  std::memset(text, 'x', sizeof text);
  a_machine_addr* addr = vq::strm::NewMachineAddr(STRM_PORT_TCPIP, "10.0.0.1");
  port.format_machine_addr(addr, text, sizeof text);
  EXPECT_STREQ(text, "");
  ut_free(addr);
}

TEST(PconnDefaults, TheBaseWritesNothingAndAnswersItsDefaults) {
  MinimalPconn conn;
  const char bytes[] = "hello";
  EXPECT_EQ(conn.blocking_put(bytes, 5), 0) << "a TLS write over the base fails";
  EXPECT_EQ(conn.c_strm_pconn::put(bytes, 5), 0);
  EXPECT_EQ(conn.get_local_ip_port_num(), 0u);
  EXPECT_EQ(conn.get_remote_ip_port_num(), 0u);
  EXPECT_TRUE(conn.isAlive());
  EXPECT_EQ(conn.get_machine_addr(), nullptr);

  a_machine_addr* local = conn.get_local_machine_addr();
  ASSERT_NE(local, nullptr);
  EXPECT_EQ(std::vector<std::uint8_t>(local, local + 3), (std::vector<std::uint8_t>{9, 0, 0}));
  ut_free(local);

  EXPECT_FALSE(conn.can_delete());
  conn.disconnect();
  EXPECT_TRUE(conn.can_delete());
}

TEST(MachineAddr, CopiesAreWholeAndTheTextIsBounded) {
  const std::string long_text(300, 'h');
  struct Row {
    const char* text;
    std::size_t length;
  } rows[] = {{nullptr, 0}, {"", 0}, {"127.0.0.1", 9}, {long_text.c_str(), 255}};
  for (const Row& r : rows) {
    a_machine_addr* addr = vq::strm::NewMachineAddr(STRM_PORT_TCPIP, r.text);
    EXPECT_EQ(addr[0], STRM_PORT_TCPIP);
    EXPECT_EQ(addr[1], r.length);
    EXPECT_EQ(addr[2 + r.length], 0);
    MinimalPconn conn;
    conn.machine_addr = addr;  // owned by the connection from now on
    a_machine_addr* copy = conn.get_machine_addr();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::memcmp(copy, addr, vq::strm::MachineAddrBytes(addr)), 0);
    ut_free(copy);
  }
}

TEST(PconnHostContext, TheConnectionHoldsAReferenceUntilItDies) {
  std::atomic<int> deleted{0};
  auto* ctx = new vq::testing::TestHostCtx(&deleted);
  {
    auto* conn = new MinimalPconn;
    conn->set_host_ctx(vq::testing::AsHostCtx(ctx));
    conn->server_name = static_cast<char*>(ut_memdup("srv", 4));
    ctx->release();  // the host lets go first
    EXPECT_EQ(deleted.load(), 0);
    delete conn;
  }
  EXPECT_EQ(deleted.load(), 1);
}

TEST(PconnList, ADeletedConnectionLeavesItsList) {
  c_utils_list<c_strm_pconn> list;
  auto* a = new MinimalPconn;
  auto* b = new MinimalPconn;
  list.append(a);
  list.append(b);
  delete a;
  EXPECT_EQ(list.first_element(), b);
  delete b;
  EXPECT_TRUE(list.is_empty());
}

}  // namespace
