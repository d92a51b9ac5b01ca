// UDP discovery of the TCP/IP link over loopback, one step at a time and without
// threads: the test plays the server's side itself, receiving the requests on loopback
// ports and queueing answers before the client waits. Every destination is a loopback
// address; tests of broadcast destinations use a socket that cannot send.
#include "net/udp_discovery.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "discovery_peer.h"
#include "net/broadcast_packet.h"
#include "net/ip_address.h"
#include "net/ldap_directory.h"
#include "net/socket.h"
#include "net/tcp_util.h"
#include "utils/base/bounded_strings.h"

namespace {

using vq::testing::Bytes;
using vq::testing::Datagram;
using vq::testing::Options;
using vq::testing::RecordingPrinter;
using vq::testing::Response;
using vq::testing::UdpPeer;

std::vector<std::string> Texts(IPAddress_list& list, bool withPort = true) {
  std::vector<std::string> out;
  for (IPAddress_iter it(list); !it.at_end(); it.next()) {
    char text[80] = "";
    it.element()->toString(text, sizeof text, withPort ? 1 : 0, 0, 0);
    out.push_back(text);
  }
  return out;
}

std::string Text(const IPAddress& a) {
  char text[80] = "";
  a.toString(text, sizeof text, 1, 0, 0);
  return text;
}

class UdpDiscovery : public ::testing::Test {
 protected:
  void SetUp() override {
    TcpUtil::Init();
    ASSERT_EQ(1u, client_.init(SOCKET_DATAGRAM, 0));
    client_.set_blocking_state(0);
    if (TcpUtil::IsIPv6Supported() != 0 && client6_.init(SOCKET_DATAGRAM, 1) != 0)
      client6_.set_blocking_state(0);
  }
  void TearDown() override {
    if (client_.closed == 0) client_.close();
    if (client6_.closed == 0) client6_.close();
    TcpUtil::Fini();
  }

  // The request the client sends for `name`.
  c_strm_broadcast_pkt request_{BROADCAST_PKT_STRMBROAD, "wanted", 0};
  c_strm_udp_discovery discovery_;
  UdpSocket client_;
  UdpSocket client6_;
  RecordingPrinter printer_;
};

// --- sending ---

TEST_F(UdpDiscovery, HostsGetOneRequestPerServerPort) {
  UdpPeer a, b;
  ASSERT_TRUE(a.ok() && b.ok());
  const std::string text =
      "Host=127.0.0.1;ServerPort=" + std::to_string(a.port()) + "," + std::to_string(b.port());
  Options options(text.c_str());
  ASSERT_EQ(0u, options.parse);
  IPAddress_list hosts;
  hosts.append(new IPAddress("127.0.0.1"));
  unsigned sent = 0;
  discovery_._send_udp_host_packets(client_, hosts, options.get(), request_, &printer_, false,
                                    &sent);
  EXPECT_EQ(2u, sent);
  for (UdpPeer* peer : {&a, &b}) {
    const std::vector<Datagram> got = peer->Drain(200);
    ASSERT_EQ(1u, got.size());
    c_strm_broadcast_pkt read(BROADCAST_PKT_UNKNOWN, nullptr, 0);
    ASSERT_EQ(1u, read.readData(got[0].bytes.data(), static_cast<unsigned>(got[0].bytes.size()),
                                nullptr, BROADCAST_WITH_HEADER));
    EXPECT_EQ(BROADCAST_PKT_STRMBROAD, read.kind);
    EXPECT_STREQ("wanted", read.serverName);
  }
  EXPECT_EQ((std::vector<std::string>{"127.0.0.1:" + std::to_string(a.port()),
                                      "127.0.0.1:" + std::to_string(b.port())}),
            printer_.Args(6369));
  // The socket is left without broadcast permission.
  int on = 1;
  unsigned size = sizeof on;
  client_.getsockopt(SOL_SOCKET, SO_BROADCAST, reinterpret_cast<char*>(&on), &size);
  EXPECT_EQ(0, on);
}

TEST_F(UdpDiscovery, AHostWithItsOwnPortGetsEveryRequestThere) {
  UdpPeer peer;
  ASSERT_TRUE(peer.ok());
  Options options("ServerPort=1,2,3");
  IPAddress_list hosts;
  hosts.append(new IPAddress(("127.0.0.1:" + std::to_string(peer.port())).c_str()));
  unsigned sent = 0;
  discovery_._send_udp_host_packets(client_, hosts, options.get(), request_, &printer_, true,
                                    &sent);
  EXPECT_EQ(3u, sent);
  EXPECT_EQ(3u, peer.Drain(200).size());
  EXPECT_EQ(0, printer_.Count(6369));  // a quiet pass
}

TEST_F(UdpDiscovery, WhatEachModeSends) {
  UdpPeer peer;
  ASSERT_TRUE(peer.ok());
  const std::string port = std::to_string(peer.port());
  const struct {
    std::string options;
    unsigned hostDatagrams;
    unsigned broadcastDatagrams;
  } cases[] = {
      {"DoBroadcast=NONE;Host=127.0.0.1;Broadcast=127.0.0.1;Port=" + port, 0, 0},
      {"DoBroadcast=DIRECT;Host=127.0.0.1;Broadcast=127.0.0.1;Port=" + port, 1, 0},
      {"DoBroadcast=NO;Host=127.0.0.1;Broadcast=127.0.0.1;Port=" + port, 1, 0},
      {"Host=127.0.0.1;Broadcast=127.0.0.1;Port=" + port, 1, 0},  // hosts named: direct
      {"DoBroadcast=ALL;Host=127.0.0.1;Broadcast=127.0.0.1;Port=" + port, 1, 1},
      {"DoBroadcast=YES;Broadcast=127.0.0.1;Port=" + port, 1, 1},
      {"Broadcast=127.0.0.1;Port=" + port, 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    Options options(c.options.c_str());
    ASSERT_EQ(0u, options.parse);
    c_strm_udp_discovery discovery;
    IPAddress_list hosts;
    hosts.append(new IPAddress("127.0.0.1"));
    unsigned sent = 0;
    discovery._send_udp_host_packets(client_, hosts, options.get(), request_, nullptr, true,
                                     &sent);
    EXPECT_EQ(c.hostDatagrams, sent);
    EXPECT_EQ(c.hostDatagrams, peer.Drain(100).size());
    sent = 0;
    discovery._send_udp_broadcasts(client_, options.get(), request_, nullptr, true, &sent);
    EXPECT_EQ(c.broadcastDatagrams, sent);
    EXPECT_EQ(c.broadcastDatagrams, peer.Drain(100).size());
  }
}

TEST_F(UdpDiscovery, EachSocketSendsToItsOwnFamilyOnly) {
  if (client6_.closed != 0) GTEST_SKIP() << "no IPv6 on this machine";
  UdpPeer v4;
  UdpPeer v6(true);
  ASSERT_TRUE(v4.ok() && v6.ok());
  const std::string text = "DoBroadcast=ALL;Port=" + std::to_string(v4.port());
  Options options(text.c_str());
  IPAddress_list hosts;
  hosts.append(new IPAddress("127.0.0.1"));
  hosts.append(new IPAddress(("(::1):" + std::to_string(v6.port())).c_str()));
  // The broadcast list holds one address of each family.
  discovery_.broadcastAddresses.append(new IPAddress("127.0.0.1"));
  discovery_.broadcastAddresses.append(new IPAddress("::1"));
  unsigned sent = 0;
  discovery_._send_udp_host_packets(client_, hosts, options.get(), request_, nullptr, true,
                                    &sent);
  discovery_._send_udp_broadcasts(client_, options.get(), request_, nullptr, true, &sent);
  EXPECT_EQ(2u, sent);  // the IPv4 host and the IPv4 broadcast address
  EXPECT_EQ(2u, v4.Drain(100).size());
  EXPECT_EQ(0u, v6.Drain(100).size());
  sent = 0;
  discovery_._send_udp_host_packets(client6_, hosts, options.get(), request_, nullptr, true,
                                    &sent);
  EXPECT_EQ(1u, sent);  // the IPv6 host, at its own port
  EXPECT_EQ(1u, v6.Drain(100).size());
  EXPECT_EQ(0u, v4.Drain(100).size());
}

TEST_F(UdpDiscovery, TheFilterKeepsRefusedFamiliesQuietOrReported) {
  if (client6_.closed != 0) GTEST_SKIP() << "no IPv6 on this machine";
  UdpPeer v6(true);
  ASSERT_TRUE(v6.ok());
  const std::string text = "ipv6=off;Port=" + std::to_string(v6.port());
  Options options(text.c_str());
  IPAddress_list hosts;
  hosts.append(new IPAddress("::1"));
  unsigned sent = 0;
  discovery_._send_udp_host_packets(client6_, hosts, options.get(), request_, &printer_, false,
                                    &sent);
  EXPECT_EQ(0u, sent);
  EXPECT_EQ(1, printer_.Count(17188));
  discovery_._send_udp_host_packets(client6_, hosts, options.get(), request_, &printer_, true,
                                    &sent);
  EXPECT_EQ(1, printer_.Count(17188));  // a quiet pass does not report it again
  EXPECT_EQ(0u, v6.Drain(100).size());
}

TEST_F(UdpDiscovery, BroadcastAddressesComeFromTheOptionsOnce) {
  UdpPeer a;
  UdpPeer b(false, "127.0.0.2");
  ASSERT_TRUE(a.ok() && b.ok());
  // Both peers share no port, so each option text names the port of one.
  const std::string first =
      "Broadcast=127.0.0.1,127.0.0.1,::1;ipv6=off;Port=" + std::to_string(a.port());
  Options options(first.c_str());
  unsigned sent = 0;
  discovery_._send_udp_broadcasts(client_, options.get(), request_, &printer_, false, &sent);
  EXPECT_EQ(1u, sent);  // the repeated address once; IPv6 refused by the options
  EXPECT_EQ(std::vector<std::string>{"127.0.0.1:0"}, Texts(discovery_.broadcastAddresses));
  EXPECT_EQ(1u, a.Drain(100).size());
  EXPECT_EQ(1, printer_.Count(17188));

  // Later calls reuse the list, whatever their options say.
  const std::string second = "Broadcast=127.0.0.2;Port=" + std::to_string(b.port());
  Options other(second.c_str());
  sent = 0;
  discovery_._send_udp_broadcasts(client_, other.get(), request_, nullptr, true, &sent);
  EXPECT_EQ(1u, sent);
  EXPECT_EQ(0u, b.Drain(100).size());
}

TEST_F(UdpDiscovery, MyIPNoneMeansTheLimitedBroadcastAddress) {
  // A socket that was never opened cannot send: the list is filled, nothing leaves.
  UdpSocket closed;
  Options options("MyIP=none");
  unsigned sent = 0;
  discovery_._send_udp_broadcasts(closed, options.get(), request_, &printer_, false, &sent);
  EXPECT_EQ(0u, sent);
  EXPECT_EQ(std::vector<std::string>{"255.255.255.255:0"},
            Texts(discovery_.broadcastAddresses));
  EXPECT_EQ(1, printer_.Count(6332));  // broadcast could not be enabled
  discovery_._send_udp_broadcasts(closed, options.get(), request_, &printer_, true, &sent);
  EXPECT_EQ(1, printer_.Count(6332));  // reported in a reporting pass only
}

TEST_F(UdpDiscovery, InterfaceAddressesFromMyIP) {
  const struct {
    const char* options;
    std::vector<std::string> addresses;
  } cases[] = {
      {"MyIP=127.0.0.1,127.0.0.2:77,not-an-address", {"127.0.0.1:0", "127.0.0.2:0"}},
      {"MyIP=NONE,127.0.0.1", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    Options options(c.options);
    c_strm_udp_discovery discovery;
    discovery._populate_interface_list(options.get());
    EXPECT_EQ(c.addresses, Texts(discovery.interfaceAddresses));
    EXPECT_EQ(c.addresses.size(), discovery.interfaceCount);
  }
}

TEST_F(UdpDiscovery, InterfaceAddressesOfTheMachinePassTheFilter) {
  Options options("ipv6=off");
  discovery_._populate_interface_list(options.get());
  EXPECT_FALSE(discovery_.interfaceAddresses.is_empty());
  for (IPAddress_iter it(discovery_.interfaceAddresses); !it.at_end(); it.next())
    EXPECT_EQ(0u, it.element()->isIPv6Address()) << Text(*it.element());
  // Filled once: a second call with other options keeps the list.
  Options myIP("MyIP=127.0.0.9");
  const std::vector<std::string> before = Texts(discovery_.interfaceAddresses);
  discovery_._populate_interface_list(myIP.get());
  EXPECT_EQ(before, Texts(discovery_.interfaceAddresses));
}

// --- waiting for answers ---

class UdpReplies : public UdpDiscovery {
 protected:
  // Sends one request from the client to the peer and returns it as the peer got it.
  Datagram Ask(UdpPeer& peer) {
    IPAddress to(("127.0.0.1:" + std::to_string(peer.port())).c_str());
    EXPECT_EQ(1u, discovery_._send_udp_packet(client_, to, request_, nullptr, true));
    Datagram d;
    EXPECT_TRUE(peer.Receive(&d, 1000));
    return d;
  }
  unsigned Wait(const char* options, const char* name, IPAddress* out,
                a_broadcast_pkt_type form = BROADCAST_PKT_STRMBRESP, unsigned ms = 300) {
    Options o(options);
    c_strm_broadcast_pkt reply(form, nullptr, 0);
    IPAddress_list hosts;
    hosts.append(new IPAddress("127.0.0.1"));
    const unsigned rc = discovery_.wait_for_udp_responses_ms(client_, client6_, hosts, o.get(),
                                                             out, reply, name, &printer_, ms);
    lastPort_ = reply.port;
    lastName_ = reply.serverName != nullptr ? reply.serverName : "";
    return rc;
  }
  std::uint16_t lastPort_ = 0;
  std::string lastName_;
};

TEST_F(UdpReplies, TheWantedServersAnswerIsTaken) {
  UdpPeer peer;
  ASSERT_TRUE(peer.ok());
  const Datagram request = Ask(peer);
  peer.SendTo(Response(BROADCAST_PKT_STRMBRESP, "wanted", 2701), request);
  IPAddress found;
  ASSERT_EQ(kDiscoveryFound, Wait("", "wanted", &found));
  // No address text: the sender's address with the answer's port.
  EXPECT_EQ("127.0.0.1:2701", Text(found));
  EXPECT_EQ((std::vector<std::string>{"127.0.0.1:2701"}), printer_.Args(6341));
}

TEST_F(UdpReplies, AnswersThatDoNotCountAreSkippedAndWaitingGoesOn) {
  UdpPeer peer;
  ASSERT_TRUE(peer.ok());
  const Datagram request = Ask(peer);
  const std::vector<std::vector<std::uint8_t>> skipped = {
      Response(BROADCAST_PKT_STRMBRESP, "other", 2702, "127.0.0.5"),  // another name
      Response(BROADCAST_PKT_STRMBRESP, "wantedX", 2702),             // a longer name
      Response(BROADCAST_PKT_VQP_RESPONSE, "wanted", 2702),           // the other form
      Bytes(request_),                                                // a request
      {'S', 'T', 'R', 'M', 'B', 'R', 'E', 'S', 'P', 'w', 'a'},        // no terminator
      {0x01},
  };
  for (const auto& bytes : skipped) peer.SendTo(bytes, request);
  // The good answer carries no address text: an earlier answer's text must not stick.
  peer.SendTo(Response(BROADCAST_PKT_STRMBRESP, "wanted", 2703), request);
  IPAddress found;
  ASSERT_EQ(kDiscoveryFound, Wait("", "wanted", &found));
  EXPECT_EQ("127.0.0.1:2703", Text(found));
  EXPECT_EQ(static_cast<int>(skipped.size()), printer_.Count(9531));
  EXPECT_EQ("127.0.0.1", printer_.Args(9531).front());  // the sender, without port
}

TEST_F(UdpReplies, AnAddressTextInTheAnswerIsTheServersAddress) {
  UdpPeer peer;
  ASSERT_TRUE(peer.ok());
  const Datagram request = Ask(peer);
  peer.SendTo(Response(BROADCAST_PKT_VQP_RESPONSE, "srv", 2704, "127.0.0.7", "db1"), request);
  IPAddress found;
  ASSERT_EQ(kDiscoveryFound, Wait("", nullptr, &found, BROADCAST_PKT_VQP_RESPONSE));
  EXPECT_EQ("127.0.0.7:2704", Text(found));
  EXPECT_EQ(2704, lastPort_);
  EXPECT_EQ("srv", lastName_);
}

TEST_F(UdpReplies, LocalOnlyAndDirectModeRefuseOtherAddressesSilently) {
  const struct {
    const char* options;
    const char* announced;
    unsigned expected;
  } cases[] = {
      {"LocalOnly=yes", "10.1.2.3", kDiscoveryNotFound},  // not this machine
      {"LocalOnly=yes", "127.0.0.1", kDiscoveryFound},
      {"DoBroadcast=DIRECT", "127.0.0.3", kDiscoveryNotFound},  // not a named host
      {"DoBroadcast=DIRECT", "127.0.0.1", kDiscoveryFound},
      {"", "10.1.2.3", kDiscoveryFound},
  };
  UdpPeer peer;
  ASSERT_TRUE(peer.ok());
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.options) + " " + c.announced);
    const Datagram request = Ask(peer);
    peer.SendTo(Response(BROADCAST_PKT_STRMBRESP, "wanted", 2705, c.announced), request);
    IPAddress found;
    printer_.messages.clear();
    EXPECT_EQ(c.expected, Wait(c.options, "wanted", &found, BROADCAST_PKT_STRMBRESP, 200));
    EXPECT_EQ(0, printer_.Count(9531));
  }
}

TEST_F(UdpReplies, NoAnswerEndsWhenTheTimeIsUp) {
  const auto start = std::chrono::steady_clock::now();
  IPAddress found;
  EXPECT_EQ(kDiscoveryNotFound, Wait("", "wanted", &found, BROADCAST_PKT_STRMBRESP, 250));
  const auto spent = std::chrono::steady_clock::now() - start;
  EXPECT_GE(spent, std::chrono::milliseconds(240));
  EXPECT_LT(spent, std::chrono::milliseconds(2000));
}

TEST_F(UdpReplies, ClosedSocketsFail) {
  UdpSocket none4;
  UdpSocket none6;
  Options o("");
  c_strm_broadcast_pkt reply(BROADCAST_PKT_STRMBRESP, nullptr, 0);
  IPAddress_list hosts;
  IPAddress found;
  EXPECT_EQ(kDiscoverySocketFailed,
            discovery_.wait_for_udp_responses_ms(none4, none6, hosts, o.get(), &found, reply,
                                                 nullptr, &printer_, 100));
}

// --- how a directory error is shown ---

TEST(DiscoverySettings, DirectoryErrorsAsDebugMessages) {
  c_ldap_handle handle(LDAP_SERVER_TYPE_DATABASE, "/nonexistent-vq/vcldap.ini");
  handle.server = ut_strdup("127.0.0.1");
  handle.baseDN = ut_strdup("o=vqtest");
  const struct {
    int error;
    std::int32_t message;
    const char* args;
  } cases[] = {
      {DIRECTORY_NO_SUCH_SERVER, 10874, ""},
      {DIRECTORY_AMBIGUOUS, 10669, ""},
      {DIRECTORY_NOT_REGISTERED, 10739, ""},
      {DIRECTORY_STALE, 10891, ""},
      {DIRECTORY_NO_LIBRARY, 10875, ""},
      {DIRECTORY_NO_PRODUCT_UNIT, 10869, "o=vqtest"},
      {DIRECTORY_NO_SETTINGS_FILE, 10666, "/nonexistent-vq/vcldap.ini"},
      {DIRECTORY_SETTINGS_UNREADABLE, 10671, "/nonexistent-vq/vcldap.ini"},
      {DIRECTORY_NO_LDAP_SECTION, 10672, "/nonexistent-vq/vcldap.ini"},
      {DIRECTORY_TIMED_OUT, 25189, "127.0.0.1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    RecordingPrinter printer;
    _display_ldap_error(&printer, &handle, c.error);
    ASSERT_EQ(1u, printer.messages.size());
    EXPECT_TRUE(printer.messages[0].debug);
    EXPECT_EQ(c.message, printer.messages[0].id);
    EXPECT_EQ(c.args, printer.messages[0].args);
  }
  // Any other error names the library's text and the directory server.
  RecordingPrinter printer;
  _display_ldap_error(&printer, &handle, DIRECTORY_REQUEST_FAILED);
  ASSERT_EQ(1u, printer.messages.size());
  EXPECT_EQ(10667, printer.messages[0].id);
  EXPECT_NE(std::string::npos, printer.messages[0].args.find("|127.0.0.1"));
}

// --- the address filter and the time-out ---

TEST(DiscoverySettings, AddressFilterAndTimeout) {
  TcpUtil::Init();
  const bool ipv6 = TcpUtil::IsIPv6Supported() != 0;
  IPAddress v4(0x7F000001u);
  IPAddress v6("::1");
  const struct {
    const char* options;
    const IPAddress* address;
    bool allowed;
    std::int32_t message;
  } cases[] = {
      {"", &v4, true, 0},
      {"ipv6=off", &v4, true, 0},
      {"ipv6=only", &v4, false, 17189},
      {"ipv6=off", &v6, false, 17188},
      {"", &v6, ipv6, ipv6 ? 0 : 17188},
      {"ipv6=only", &v6, ipv6, ipv6 ? 0 : 17188},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.options) + " " + Text(*c.address));
    if (c.address->isValid() == 0) continue;  // no IPv6 literal support here
    Options o(c.options);
    RecordingPrinter quiet;
    EXPECT_EQ(c.allowed, vq::net::DiscoveryAddressAllowed(*c.address, o.get(), false, &quiet));
    EXPECT_TRUE(quiet.messages.empty());
    RecordingPrinter loud;
    EXPECT_EQ(c.allowed, vq::net::DiscoveryAddressAllowed(*c.address, o.get(), true, &loud));
    if (c.message != 0) {
      EXPECT_EQ(1, loud.Count(c.message));
    } else {
      EXPECT_TRUE(loud.messages.empty());
    }
  }
  RecordingPrinter printer;
  Options none("");
  EXPECT_EQ(5u, vq::net::DiscoverySeconds(none.get(), &printer));
  EXPECT_TRUE(printer.messages.empty());
  Options given("Timeout=9");
  EXPECT_EQ(9u, vq::net::DiscoverySeconds(given.get(), &printer));
  EXPECT_EQ(std::vector<std::string>{"9"}, printer.Args(6323));
  TcpUtil::Fini();
}

}  // namespace
