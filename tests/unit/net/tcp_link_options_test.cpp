// The TCP/IP link's option table and the settings derived from it.
#include "net/tcp_link_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery_peer.h"
#include "net/ip_address.h"
#include "net/tcp_util.h"

namespace {

using vq::testing::Options;
using vq::testing::RecordingPrinter;

TEST(TcpLinkOptions, EveryRowByNameAndAlias) {
  Options o("IP=a,b;BCAST=1.2.3.4;TO=9;DoBroad=ALL;Port=1,3-4;Me=none;RcvBufSz=2K;"
            "SndBufSz=1M;LO=no;CPort=7;Verify=off;LDAP=mine.ini;v6=only");
  ASSERT_EQ(0u, o.parse);
  for (unsigned row = 0; row < TCP_OPT_ROWS; ++row) {
    SCOPED_TRACE(o.table.rows[row].name);
    EXPECT_NE(0, o.table.rows[row].count);
  }
  EXPECT_EQ(nullptr, o.table.rows[TCP_OPT_ROWS].name);
  EXPECT_EQ(2048u, o.table.rows[TCP_OPT_RECEIVE_BUFFER].value.number);
  unsigned count = 0;
  const std::uint16_t* ports = server_ports(o.get(), &count);
  ASSERT_EQ(3u, count);
  EXPECT_EQ((std::vector<std::uint16_t>{1, 3, 4}), std::vector<std::uint16_t>(ports, ports + 3));
}

TEST(TcpLinkOptions, DerivedSettings) {
  const struct {
    const char* text;
    a_ipv6_status ipv6;
    a_discovery_mode mode;
  } cases[] = {
      {"", IPV6_BOTH, DISCOVERY_ALL},
      {"ipv6=on", IPV6_BOTH, DISCOVERY_ALL},
      {"ipv6=off", IPV6_OFF, DISCOVERY_ALL},
      {"v6=NO", IPV6_OFF, DISCOVERY_ALL},
      {"ipv6=Only", IPV6_ONLY, DISCOVERY_ALL},
      {"ipv6=sometimes", IPV6_BOTH, DISCOVERY_ALL},
      {"Host=127.0.0.1", IPV6_BOTH, DISCOVERY_DIRECT},
      {"DoBroadcast=NONE", IPV6_BOTH, DISCOVERY_NONE},
      {"DoBroadcast=none;Host=x", IPV6_BOTH, DISCOVERY_NONE},
      {"DoBroadcast=DIRECT", IPV6_BOTH, DISCOVERY_DIRECT},
      {"DoBroadcast=No", IPV6_BOTH, DISCOVERY_DIRECT},
      {"DoBroadcast=YES;Host=x", IPV6_BOTH, DISCOVERY_ALL},
      {"DoBroadcast=all;Host=x", IPV6_BOTH, DISCOVERY_ALL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Options o(c.text);
    ASSERT_EQ(0u, o.parse);
    EXPECT_EQ(c.ipv6, GetIPv6Status(o.get()));
    EXPECT_EQ(c.mode, tcp_discovery_mode(o.get()));
  }
}

TEST(TcpLinkOptions, TimeoutAndPorts) {
  RecordingPrinter printer;
  Options none("");
  EXPECT_EQ(5u, _get_broadcast_timeout(none.get(), &printer));
  EXPECT_TRUE(printer.messages.empty());
  unsigned count = 0;
  const std::uint16_t* ports = server_ports(none.get(), &count);
  ASSERT_EQ(1u, count);
  EXPECT_EQ(2638, ports[0]);

  Options given("Timeout=9");
  EXPECT_EQ(9u, _get_broadcast_timeout(given.get(), &printer));
  EXPECT_EQ(std::vector<std::string>{"9"}, printer.Args(6323));
}

TEST(TcpLinkOptions, AddressFilter) {
  TcpUtil::Init();
  const bool ipv6 = TcpUtil::IsIPv6Supported() != 0;
  const struct {
    const char* address;
    a_ipv6_status status;
    bool allowed;
    std::int32_t message;
  } cases[] = {
      {"127.0.0.1", IPV6_BOTH, true, 0},
      {"127.0.0.1", IPV6_OFF, true, 0},
      {"127.0.0.1", IPV6_ONLY, false, 17189},
      {"::1", IPV6_OFF, false, 17188},
      {"::1", IPV6_BOTH, ipv6, ipv6 ? 0 : 17188},
      {"::1", IPV6_ONLY, ipv6, ipv6 ? 0 : 17188},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.address) + " " + std::to_string(c.status));
    IPAddress a;
    a.storage.ss_family = std::string(c.address) == "::1" ? AF_INET6 : AF_INET;
    if (a.storage.ss_family == AF_INET6) {
      IN6ADDR_SETLOOPBACK(reinterpret_cast<sockaddr_in6*>(&a.storage));
      a.length = sizeof(sockaddr_in6);
    } else {
      a = IPAddress(0x7F000001u);
    }
    a.setValid(1);
    RecordingPrinter quiet;
    EXPECT_EQ(c.allowed, check_address_family(a, c.status, false, &quiet));
    EXPECT_TRUE(quiet.messages.empty());
    RecordingPrinter loud;
    EXPECT_EQ(c.allowed, check_address_family(a, c.status, true, &loud));
    if (c.message != 0) {
      EXPECT_EQ(1, loud.Count(c.message));
    } else {
      EXPECT_TRUE(loud.messages.empty());
    }
  }
  TcpUtil::Fini();
}

}  // namespace
