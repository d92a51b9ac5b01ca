// Address literals, ports, numeric texts, comparison and classification. Every text
// here is a literal or "localhost": nothing asks a name server.
#include "net/ip_address.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "net/tcp_util.h"

namespace {

// The network state is started for every test, so IPv6 literals resolve.
class Net : public ::testing::Test {
 protected:
  void SetUp() override { TcpUtil::Init(); }
  void TearDown() override { TcpUtil::Fini(); }
};

struct LiteralCase {
  const char* text;
  bool ipv4_no_port;
  bool ipv4_port;
  bool ipv6_no_port;
  bool ipv6_port;
};

TEST(AddressLiterals, AreRecognisedWithAndWithoutPorts) {
  const LiteralCase cases[] = {
      {"1.2.3.4", true, true, false, false},
      {"1.2.3.4:80", false, true, false, false},
      {"1.2.3.4:65535", false, true, false, false},
      {"1.2.3.4:70000", false, false, false, false},
      {"1.2.3.4:80:81", false, false, false, false},
      {"1.2.3", false, false, false, false},
      {"1.2.3.4.5", false, false, false, false},
      {"256.1.1.1", false, false, false, false},
      {"1.2.3.256", false, false, false, false},
      {"1.2.3.4a", false, false, false, false},
      {"", false, false, false, false},
      {"localhost:2638", false, false, false, false},
      {"1:2:3:4:5:6:7:8", false, false, true, true},
      {"1:2:3:4:5:6:7:8:9", false, false, false, false},
      {"::1", false, false, true, true},
      {"::", false, false, true, true},
      {"fe80::1%2", false, false, true, true},
      {"fe80::1%eth0", false, false, true, true},
      {"fe80::1%eth-0", false, false, false, false},
      {"1::2::3", false, false, false, false},
      {"12345::1", false, false, false, false},
      {"1:2", false, false, false, false},
      {"::ffff:10.0.0.1", false, false, true, true},
      {"::ffff:300.0.0.1", false, false, false, false},
      {"1:2:3:4:5:6:1.2.3.4", false, false, true, true},
      {"(::1):2638", false, false, false, true},
      {"(::1):70000", false, false, false, false},
      {"(::1)", false, false, true, true},
      {"(::1", false, false, false, false},
      {"(fe80::1%eth0):2638", false, false, false, true},
      {"::1g", false, false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.ipv4_no_port, TcpUtil::IsIPv4Address(c.text, 0));
    EXPECT_EQ(c.ipv4_port, TcpUtil::IsIPv4Address(c.text, 1));
    EXPECT_EQ(c.ipv6_no_port, TcpUtil::IsIPv6Address(c.text, 0));
    EXPECT_EQ(c.ipv6_port, TcpUtil::IsIPv6Address(c.text, 1));
  }
  EXPECT_FALSE(TcpUtil::IsIPv4Address(nullptr, 1));
  EXPECT_FALSE(TcpUtil::IsIPv6Address(nullptr, 1));
}

TEST(AddressLiterals, PortOfAText) {
  const struct {
    const char* text;
    unsigned port;
  } cases[] = {
      {"1.2.3.4:2638", 2638},
      {"host:80", 80},
      {"host: 81", 81},
      {"host:", 0},
      {"host", 0},
      {"(::1):2638", 2638},
      {"::1", 0},
      {"(fe80::1%3):5", 5},
      {"host:70000", 70000 & 0xFFFF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.port, TcpUtil::GetPortNumber(c.text));
  }
}

std::string Text(const IPAddress& a, unsigned withPort, unsigned withScope) {
  char buf[80];
  if (a.toString(buf, sizeof buf, withPort, 0, withScope) == 0) return "<failed>";
  return buf;
}

TEST_F(Net, NumericTextsWithPortsAndScopes) {
  IPAddress v4("192.168.1.5:2638");
  ASSERT_TRUE(v4.isValid());
  EXPECT_EQ("192.168.1.5:2638", Text(v4, 1, 1));
  EXPECT_EQ("192.168.1.5", Text(v4, 0, 1));

  IPAddress loop6("::1");
  ASSERT_TRUE(loop6.isValid());
  loop6.setPortNumber(2638);
  EXPECT_EQ("(::1):2638", Text(loop6, 1, 1));
  loop6.setScopeId(3);
  EXPECT_EQ("(::1%3):2638", Text(loop6, 1, 1));
  EXPECT_EQ("(::1):2638", Text(loop6, 1, 0));
  EXPECT_EQ("::1%3", Text(loop6, 0, 1));
  loop6.setScopeId(1000);  // above 999: not written
  EXPECT_EQ("::1", Text(loop6, 0, 1));

  char text[60];
  EXPECT_EQ(1u, TcpUtil::AddressToString("10.0.0.1", 80, text, sizeof text));
  EXPECT_STREQ("10.0.0.1:80", text);
  EXPECT_EQ(1u, TcpUtil::AddressToString("(::1):5000", text, sizeof text));
  EXPECT_STREQ("::1", text);
}

TEST_F(Net, NumericTextThatDoesNotFitFails) {
  IPAddress a("192.168.100.200:2638");
  char buf[32];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(0u, a.toString(buf, 10, 1, 0, 1));
  EXPECT_EQ('\0', buf[9]);
  EXPECT_EQ('x', buf[10]);  // nothing past the given size
  EXPECT_EQ(0u, a.toString(buf, 0, 1, 0, 1));
  EXPECT_EQ(0u, IPAddress().toString(buf, sizeof buf, 0, 0, 0));  // invalid
}

TEST_F(Net, SameAddressIgnoresPortsAndMatchesMappedForms) {
  const struct {
    const char* a;
    const char* b;
    bool same;
  } cases[] = {
      {"10.0.0.1:1", "10.0.0.1:2", true},
      {"10.0.0.1", "10.0.0.2", false},
      {"::ffff:10.0.0.1", "10.0.0.1", true},
      {"10.0.0.1", "::ffff:10.0.0.1", true},
      {"::ffff:10.0.0.2", "10.0.0.1", false},
      {"::10.0.0.1", "10.0.0.1", true},  // IPv4-compatible
      {"fe80::1", "10.0.0.1", false},
      {"(::1):1", "(::1):2", true},
      {"fe80::1%1", "fe80::1", true},  // one scope id 0: scopes ignored
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    IPAddress a(c.a);
    IPAddress b(c.b);
    ASSERT_TRUE(a.isValid());
    ASSERT_TRUE(b.isValid());
    EXPECT_EQ(c.same, a.sameIPAddress(b));
  }
  IPAddress scoped1("fe80::1");
  IPAddress scoped2("fe80::1");
  scoped1.setScopeId(1);
  scoped2.setScopeId(2);
  EXPECT_FALSE(scoped1.sameIPAddress(scoped2));
  EXPECT_FALSE(IPAddress().sameIPAddress(IPAddress()));
}

TEST_F(Net, IPv6AddressTypes) {
  const struct {
    const char* text;
    int type;
  } cases[] = {
      {"::ffff:1.2.3.4", 7}, {"::1", 8},     {"::1.2.3.4", 8}, {"::", 1},
      {"100::1", 2},         {"600::1", 2},  {"800::1", 2},    {"4000::1", 2},
      {"fc00::1", 2},        {"fe00::1", 2}, {"200::1", 1},    {"2001:db8::1", 3},
      {"fe80::1", 4},        {"febf::1", 4}, {"fec0::1", 5},   {"ff02::1", 6},
      {"1.2.3.4", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    IPAddress a(c.text);
    ASSERT_TRUE(a.isValid());
    EXPECT_EQ(c.type, a.getIPv6AddressType());
  }
  EXPECT_EQ(0, IPAddress().getIPv6AddressType());
  EXPECT_FALSE(IPAddress("fe80::1").getIPv4EmbeddedAddress().isValid());
  EXPECT_EQ(0x01020304u, IPAddress("::ffff:1.2.3.4").getIPv4EmbeddedAddress().ipv4HostOrder());
}

TEST_F(Net, PrivateNetworksByPrefix) {
  const struct {
    const char* text;
    bool private_net;
  } cases[] = {
      {"10.1.2.3", true},        {"172.16.0.1", true},       {"172.20.0.1", false},
      {"192.168.1.1", true},     {"192.169.1.1", false},     {"8.8.8.8", false},
      {"::ffff:10.0.0.1", true}, {"::ffff:11.0.0.1", false}, {"fd00::1", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.private_net, IPAddress(c.text).isPrivateNet());
  }
}

TEST_F(Net, ClassRules) {
  const struct {
    const char* text;
    const char* cls;
    std::uint32_t mask;
    std::uint32_t broadcast;
  } cases[] = {
      {"10.1.2.3", "A", 0xFF000000u, 0x0AFFFFFFu},
      {"172.16.5.9", "B", 0xFFFF0000u, 0xAC10FFFFu},
      {"192.168.5.7", "C", 0xFFFFFF00u, 0xC0A805FFu},
      {"224.0.0.1", "", 0xFFFFFFFFu, 0xE0000001u},
      {"0.0.0.0", "A", 0xFF000000u, 0xFFFFFFFFu},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    IPAddress a(c.text);
    EXPECT_STREQ(c.cls, TcpUtil::GetClass(&a.storage, a.length));
    EXPECT_EQ(c.mask, TcpUtil::GetSubnetMaskBasedOnClass(a).ipv4HostOrder());
    EXPECT_EQ(c.broadcast, TcpUtil::GetBroadcastAddressBasedOnClass(a).ipv4HostOrder());
  }
  IPAddress six("fe80::1");
  six.setScopeId(4);
  EXPECT_STREQ("", TcpUtil::GetClass(&six.storage, six.length));
  EXPECT_EQ(0xFFFFFFFFu, TcpUtil::GetSubnetMaskBasedOnClass(six).ipv4HostOrder());
  IPAddress all_nodes = TcpUtil::GetBroadcastAddressBasedOnClass(six);
  EXPECT_EQ("ff02::1%4", Text(all_nodes, 0, 1));
}

TEST_F(Net, IPv4ValuesAreThirtyTwoBitsWide) {
  IPAddress a(0xC0A80105u);
  EXPECT_EQ(static_cast<int>(0xC0A80105u), int(a));
  EXPECT_TRUE(a == 0xC0A80105u);
  EXPECT_EQ(-1, int(IPAddress("::1")));
  EXPECT_FALSE(IPAddress("::1") == 0xFFFFFFFFu);
  EXPECT_TRUE(IPAddress("::1") != 0xFFFFFFFFu);
  EXPECT_EQ(-1, int(IPAddress()));
  // The broadcast of a class A address keeps to 32 bits.
  EXPECT_EQ(0x0AFFFFFFu,
            TcpUtil::GetBroadcastAddressBasedOnClass(IPAddress(0x0A000001u)).ipv4HostOrder());
}

TEST_F(Net, ConstructionCopyAndAssignment) {
  IPAddress a("127.0.0.1:2638");
  ASSERT_TRUE(a.isValid());
  EXPECT_TRUE(a.isLoopback());
  EXPECT_EQ(2638, a.getPortNumber());
  IPAddress copy(a);
  EXPECT_TRUE(copy.sameIPAddress(a));
  EXPECT_EQ(2638, copy.getPortNumber());
  std::unique_ptr<IPAddress> heap(a.clone());
  EXPECT_FALSE(heap->is_linked());
  EXPECT_EQ(2638, heap->getPortNumber());

  IPAddress invalid;
  EXPECT_EQ(0, invalid.getPortNumber());
  invalid.setPortNumber(5);
  EXPECT_EQ(0, invalid.getPortNumber());  // stored, but an invalid address has no port
  invalid.setValid(1);
  EXPECT_EQ(5, invalid.getPortNumber());

  sockaddr_storage unix_family{};
  unix_family.ss_family = AF_UNIX;
  IPAddress other(&unix_family, sizeof unix_family);
  EXPECT_FALSE(other.isValid());

  IPAddress any;
  any.use_INADDR_ANY(0);
  EXPECT_TRUE(any.is_INADDR_ANY_v4());
  any.use_INADDR_ANY(1);
  EXPECT_TRUE(any.is_INADDR_ANY_v6());
  EXPECT_TRUE(any.isIPv6Address());
  EXPECT_TRUE(IPAddress("::1").isLoopback());
  EXPECT_FALSE(IPAddress("::2").isLoopback());
}

TEST_F(Net, ResolutionOfLiteralsAndLocalhost) {
  IPAddress a;
  ASSERT_EQ(1u, TcpUtil::Resolve("localhost:2638", a, TcpUtil::kIPv4Only));
  EXPECT_TRUE(a.isLoopback());
  EXPECT_EQ(2638, a.getPortNumber());
  EXPECT_EQ(0u, TcpUtil::Resolve("localhost:", a, TcpUtil::kBoth));
  EXPECT_EQ(0u, TcpUtil::Resolve("localhost:x1", a, TcpUtil::kBoth));
  EXPECT_EQ(0u, TcpUtil::Resolve("127.0.0.1:65536", a, TcpUtil::kBoth));
  EXPECT_EQ(0u, TcpUtil::Resolve(nullptr, a, TcpUtil::kBoth));
  EXPECT_EQ(0u, TcpUtil::Resolve("1.2.3.4", a, TcpUtil::kIPv6Only));
  EXPECT_EQ(0u, TcpUtil::Resolve("::1", a, TcpUtil::kIPv4Only));

  ASSERT_EQ(1u, TcpUtil::Resolve("255.255.255.255:9", a, TcpUtil::kBoth));
  EXPECT_TRUE(a == 0xFFFFFFFFu);
  EXPECT_EQ(9, a.getPortNumber());

  // The interface with index 1 is the loopback on Linux.
  ASSERT_EQ(1u, TcpUtil::Resolve("(fe80::1%1):2638", a, TcpUtil::kBoth));
  EXPECT_EQ(4, a.getIPv6AddressType());
  EXPECT_EQ(1u, a.getScopeId());
  EXPECT_EQ(2638, a.getPortNumber());
  ASSERT_EQ(1u, TcpUtil::Resolve("(fe80::1%lo):7", a, TcpUtil::kBoth));
  EXPECT_EQ(1u, a.getScopeId());

  IPAddress_list all;
  EXPECT_EQ(1u, TcpUtil::ResolveAll("127.0.0.1:5", all, TcpUtil::kBoth));
  ASSERT_FALSE(all.is_empty());
  EXPECT_EQ(5, all.first_element()->getPortNumber());
}

TEST(NetNotStarted, IPv6LiteralsNeedTheNetworkState) {
  // Without the start-up IPv6 counts as unsupported: IPv4 still resolves, IPv6 fails.
  IPAddress a;
  EXPECT_EQ(1u, TcpUtil::Resolve("127.0.0.1:1", a, TcpUtil::kBoth));
  EXPECT_EQ(0u, TcpUtil::Resolve("::1", a, TcpUtil::kBoth));
  EXPECT_EQ(0x7F000001u, TcpUtil::GetLoopbackIPAddress(1).ipv4HostOrder());
}

}  // namespace
