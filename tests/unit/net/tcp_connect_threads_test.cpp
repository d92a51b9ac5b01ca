// The TCP link's connect road against loopback listeners: accepting, refusing, silent,
// answering the server-name check with the right name, another name or none; option
// errors that stop the road before any traffic; server ports, the cached address, the
// directory and UDP steps through a fake discovery. No datagram leaves the process: the
// fake discovery sends nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

#include "net/broadcast_packet.h"
#include "tcp_link_fixture.h"

namespace vq::testing {
namespace {

using Clock = std::chrono::steady_clock;

std::string Fill(std::string text, const std::string& address) {
  const std::size_t at = text.find("%A");
  if (at != std::string::npos) text.replace(at, 2, address);
  return text;
}

class TcpConnect : public LinkFixture {};

struct RoadCase {
  const char* what;
  Listener::Mode mode;
  const char* server_name;  // the listener's answer
  const char* options;      // %A: the listener's address
  const char* wanted;       // the name the connect asks for (null: none)
  an_int_strm_error result;
};

TEST_F(TcpConnect, OutcomesAgainstLoopbackPeers) {
  const RoadCase cases[] = {
      {"nameless connect, check off", Listener::kKeep, "", "Host=%A;Verify=NO;DoBroadcast=NONE",
       nullptr, TCP_FOUND},
      {"the wanted name answers", Listener::kAnswerName, "itsrv", "Host=%A;DoBroadcast=NONE",
       "itsrv", TCP_FOUND},
      {"names compare without case", Listener::kAnswerName, "ItSrv", "Host=%A;DoBroadcast=NONE",
       "itsrv", TCP_FOUND},
      {"another name answers", Listener::kAnswerName, "other", "Host=%A;DoBroadcast=NONE",
       "itsrv", TCP_NOT_FOUND},
      {"a reply without a name", Listener::kAnswerNameless, "", "Host=%A;DoBroadcast=NONE",
       "itsrv", TCP_NOT_FOUND},
      {"check off: any server will do", Listener::kKeep, "",
       "Host=%A;DoBroadcast=NONE;Verify=NO", "itsrv", TCP_FOUND},
  };
  for (const RoadCase& c : cases) {
    SCOPED_TRACE(c.what);
    Listener peer(c.mode, c.server_name);
    c_strm_pconn* conn = nullptr;
    char cached[65] = "";
    EXPECT_EQ(c.result,
              Connect(Fill(c.options, peer.address()), c.wanted, &conn, cached, sizeof cached));
    peer.wait_accepted(1);
    EXPECT_EQ(1, peer.accepts());
    if (c.result == TCP_FOUND) {
      ASSERT_NE(nullptr, conn);
      EXPECT_EQ(peer.address(), cached);
      EXPECT_EQ(static_cast<std::uint32_t>(peer.port()), conn->get_remote_ip_port_num());
      EXPECT_NE(0u, conn->get_local_ip_port_num());
    } else {
      EXPECT_EQ(nullptr, conn);
      EXPECT_STREQ("", cached);
    }
    delete conn;
  }
}

TEST_F(TcpConnect, MalformedCheckRepliesAreNotTheServer) {
  // The reply's length field is the peer's: too short for the header, shorter than the
  // connectionless header, longer than what comes, another packet type, a request
  // instead of a response, a section running past the end.
  vqeng::NameCheckRequest req;
  const std::string good = vqeng::build_name_check_response(req, "itsrv", 1);
  auto with_length = [&](unsigned n) {
    std::string r = good;
    r[2] = static_cast<char>(n >> 8);
    r[3] = static_cast<char>(n & 0xFF);
    return r;
  };
  std::string other_type = good;
  other_type[0] = 24;
  std::string request = good;
  request[31] = 0;
  std::string long_section = good;
  long_section[33 + 6] = static_cast<char>(200);  // section 0's length byte
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"length 3", with_length(3)},
      {"length 7", with_length(7).substr(0, 8)},
      {"length 20", with_length(20).substr(0, 20)},
      {"length past the bytes sent", with_length(0xFFFF)},
      {"another packet type", other_type},
      {"a request", request},
      {"a section past the end", long_section},
      {"the header only", good.substr(0, 8)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Listener peer(Listener::kAnswerRaw, c.bytes);
    c_strm_pconn* conn = nullptr;
    EXPECT_EQ(TCP_NOT_FOUND,
              Connect("Host=" + peer.address() + ";DoBroadcast=NONE;TO=2", "itsrv", &conn));
    EXPECT_EQ(nullptr, conn);
    EXPECT_EQ(1, peer.checks());
  }
  // The unchanged reply does verify.
  Listener peer(Listener::kAnswerRaw, good);
  c_strm_pconn* conn = nullptr;
  EXPECT_EQ(TCP_FOUND, Connect("Host=" + peer.address() + ";DoBroadcast=NONE", "itsrv", &conn));
  delete conn;
}

TEST_F(TcpConnect, ASilentServerTimesOutTheCheck) {
  Listener peer(Listener::kSilent);
  c_strm_pconn* conn = nullptr;
  const auto start = Clock::now();
  EXPECT_EQ(TCP_NOT_FOUND,
            Connect("Host=" + peer.address() + ";DoBroadcast=NONE;TO=1", "itsrv", &conn));
  const auto took = Clock::now() - start;
  EXPECT_EQ(nullptr, conn);
  EXPECT_GE(took, 900ms);
  EXPECT_LT(took, 4s);
  EXPECT_TRUE(Printed(Msg(10325)));
}

TEST_F(TcpConnect, ARefusedConnectIsNotFound) {
  c_strm_pconn* conn = nullptr;
  const std::string refused = "127.0.0.1:" + std::to_string(RefusingPort());
  EXPECT_EQ(TCP_NOT_FOUND,
            Connect("Host=" + refused + ";Verify=NO;DoBroadcast=NONE", nullptr, &conn));
  EXPECT_EQ(nullptr, conn);
  EXPECT_TRUE(Printed(Msg(8633, "connect()", std::to_string(ECONNREFUSED).c_str())));
}

TEST_F(TcpConnect, OptionErrorsStopTheRoadBeforeAnyTraffic) {
  struct Case {
    const char* options;
    const char* wanted;
    an_int_strm_error result;
    std::string printed;  // empty: only the result is checked
  };
  Listener peer(Listener::kAnswerName, "itsrv");
  const Case cases[] = {
      {"DoBroadcast=DIRECT", "itsrv", TCP_BAD_OPTIONS, Msg(9530, "DIRECT")},
      {"DoBroadcast=NO", "itsrv", TCP_BAD_OPTIONS, Msg(9530, "NO")},
      {"Host=%A;LocalOnly=YES", "itsrv", TCP_BAD_OPTIONS, Msg(19947)},
      {"Host=%A;DoBroadcast=Sometimes", "itsrv", TCP_BAD_OPTIONS, Msg(8537, "DoBroadcast")},
      {"Host=%A;MyIP=banana", "itsrv", TCP_BAD_OPTIONS, ""},
      {"Host=%A;NoSuchOption=1", "itsrv", TCP_BAD_OPTIONS, Msg(6385, "TCPIP")},
      {"Host=%A;Timeout=x", "itsrv", TCP_BAD_OPTIONS, Msg(6385, "TCPIP")},
      // A nameless connect must name its hosts and switch the check off.
      {"Host=%A;DoBroadcast=NONE", nullptr, TCP_BAD_OPTIONS, ""},
      {"DoBroadcast=NONE;Verify=NO", nullptr, TCP_BAD_OPTIONS, ""},
      // NONE without hosts leaves nothing to try.
      {"DoBroadcast=NONE", "itsrv", TCP_BAD_OPTIONS, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    c_strm_pconn* conn = nullptr;
    EXPECT_EQ(c.result, Connect(Fill(c.options, peer.address()), c.wanted, &conn));
    EXPECT_EQ(nullptr, conn);
    if (!c.printed.empty()) {
      EXPECT_TRUE(Printed(c.printed)) << c.printed;
    }
  }
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(0, peer.accepts());
  // The nameless connect with the check on tells the caller why.
  c_strm_pconn* conn = nullptr;
  Connect(Fill("Host=%A;DoBroadcast=NONE", peer.address()), nullptr, &conn);
  EXPECT_EQ(Msg(9534, "TCPIP"), err);
}

TEST_F(TcpConnect, UnresolvableHostsTellTheCaller) {
  c_strm_pconn* conn = nullptr;
  // An IPv4 literal has no IPv6 address: with IPv6 only, no host is left.
  EXPECT_EQ(TCP_BAD_OPTIONS,
            Connect("Host=127.0.0.1:9;ipv6=only;Verify=NO;DoBroadcast=NONE", nullptr, &conn));
  EXPECT_EQ(Msg(6360, "127.0.0.1:9"), err);
}

TEST_F(TcpConnect, ServerPortsAreTriedInOrderForAnAddressWithoutPort) {
  Listener peer(Listener::kKeep);
  c_strm_pconn* conn = nullptr;
  char cached[65] = "";
  const std::string options = "Host=127.0.0.1;ServerPort=" + std::to_string(RefusingPort()) +
                              "," + std::to_string(peer.port()) + ";Verify=NO;DoBroadcast=NONE";
  ASSERT_EQ(TCP_FOUND, Connect(options, nullptr, &conn, cached, sizeof cached));
  EXPECT_EQ(peer.address(), cached);
  delete conn;
}

TEST_F(TcpConnect, TheCachedAddressIsTriedFirstWhenItIsAmongTheHosts) {
  Listener a(Listener::kKeep);
  Listener b(Listener::kKeep);
  const std::string both =
      "Host=" + a.address() + "," + b.address() + ";Verify=NO;DoBroadcast=NONE";
  char cached[65];
  std::snprintf(cached, sizeof cached, "%s", b.address().c_str());
  c_strm_pconn* conn = nullptr;
  ASSERT_EQ(TCP_FOUND, Connect(both, nullptr, &conn, cached, sizeof cached));
  delete conn;
  b.wait_accepted(1);
  EXPECT_EQ(1, b.accepts());
  EXPECT_EQ(0, a.accepts());
  EXPECT_EQ(b.address(), cached);

  // A cached address that is not one of the hosts is passed over.
  const std::string only_a = "Host=" + a.address() + ";Verify=NO;DoBroadcast=NONE";
  conn = nullptr;
  ASSERT_EQ(TCP_FOUND, Connect(only_a, nullptr, &conn, cached, sizeof cached));
  delete conn;
  EXPECT_EQ(a.address(), cached);
  EXPECT_EQ(1, b.accepts());
  EXPECT_TRUE(Printed(Msg(19948, b.address().c_str())));

  // A cached address that no longer answers gives way to the hosts, and is replaced.
  const std::string gone = "127.0.0.1:" + std::to_string(RefusingPort());
  std::snprintf(cached, sizeof cached, "%s", gone.c_str());
  conn = nullptr;
  ASSERT_EQ(TCP_FOUND,
            Connect("Host=" + gone + "," + a.address() + ";Verify=NO;DoBroadcast=NONE", nullptr,
                    &conn, cached, sizeof cached));
  delete conn;
  EXPECT_EQ(a.address(), cached);
}

// Replays scripted discovery answers; records what the road asked.
class FakeDiscovery : public c_strm_tcp_discovery {
 public:
  class Directory : public c_strm_tcp_directory {
   public:
    explicit Directory(FakeDiscovery* d) : d_(d) {}
    int serverSupportsTimestamps(unsigned* supported) override {
      *supported = 1;
      return d_->directory_error;
    }
    int search(const char* name, IPAddress_list& out) override {
      d_->searched = name;
      for (const std::string& a : d_->directory_addresses) out.append(new IPAddress(a.c_str()));
      return 0;
    }
    const char* getLastLDAPErrorString() override { return "ldap says no"; }
    const char* getServerText() override { return "ldap.example"; }
    char* getLastServerError() override { return nullptr; }
    void freeServerError(char*) override {}
    const char* getVSRBaseDN() override { return "OU=x"; }
    const char* getFileBaseName() override { return "vcldap.ini"; }

   private:
    FakeDiscovery* d_;
  };

  c_strm_tcp_directory* open_directory(const char* file) override {
    ++directories;
    settings_file = file != nullptr ? file : "";
    return has_directory ? new Directory(this) : nullptr;
  }
  void populate_interface_list(a_port_option*) override {}
  void send_udp_host_packets(Socket&, IPAddress_list&, a_port_option*, c_strm_broadcast_pkt&,
                             void*, bool, unsigned* sent) override {
    *sent += host_datagrams;
  }
  void send_udp_broadcasts(Socket&, a_port_option*, c_strm_broadcast_pkt& packet, void*,
                           bool quiet, unsigned* sent) override {
    ++broadcast_calls;
    if (!quiet)
      first_request.assign(packet.getPacket(), packet.getPacket() + packet.getPacketLength());
    *sent += broadcast_datagrams;
  }
  an_int_strm_error wait_for_udp_responses(Socket&, Socket&, IPAddress_list&, a_port_option*,
                                           IPAddress& out, c_strm_broadcast_pkt&, const char*,
                                           void*, unsigned seconds) override {
    ++waits;
    EXPECT_EQ(1u, seconds);
    if (udp_answer.empty()) {
      std::this_thread::sleep_for(std::chrono::seconds(seconds));
      return TCP_NOT_FOUND;
    }
    out.reset(udp_answer.c_str());
    return TCP_FOUND;
  }

  bool has_directory = false;
  int directory_error = 0;
  std::vector<std::string> directory_addresses;
  unsigned host_datagrams = 0;
  unsigned broadcast_datagrams = 1;
  std::string udp_answer;  // the address a reply names; empty: no reply
  int directories = 0;
  int broadcast_calls = 0;
  int waits = 0;
  std::string searched;
  std::string settings_file;
  std::vector<std::uint8_t> first_request;
};

TEST_F(TcpConnect, AServerFoundByUdpIsConnectedAndChecked) {
  Listener peer(Listener::kAnswerName, "itsrv");
  FakeDiscovery discovery;
  discovery.udp_answer = peer.address();
  port->set_discovery(&discovery);
  c_strm_pconn* conn = nullptr;
  char cached[65] = "";
  ASSERT_EQ(TCP_FOUND, Connect("LDAP=NO", "itsrv", &conn, cached, sizeof cached));
  delete conn;
  EXPECT_EQ(1, peer.checks());
  EXPECT_EQ(peer.address(), cached);
  EXPECT_EQ(0, discovery.directories);
  // The request is the text form naming the wanted server.
  c_strm_broadcast_pkt request(BROADCAST_PKT_UNKNOWN, nullptr, 0);
  ASSERT_EQ(1u, request.readData(discovery.first_request.data(),
                                 static_cast<unsigned>(discovery.first_request.size()), nullptr,
                                 BROADCAST_WITH_HEADER));
  EXPECT_EQ(BROADCAST_PKT_STRMBROAD, request.kind);
  EXPECT_STREQ("itsrv", request.serverName);
}

TEST_F(TcpConnect, UdpDiscoveryEndsAtOnceWhenNothingCanBeSent) {
  c_strm_pconn* conn = nullptr;
  const auto start = Clock::now();
  EXPECT_EQ(TCP_NOT_FOUND, Connect("LDAP=NO;TO=3", "itsrv", &conn));  // the built-in: no UDP
  EXPECT_LT(Clock::now() - start, 1s);
  EXPECT_TRUE(Printed(Msg(19946)));
}

TEST_F(TcpConnect, AnUdpAnswerWithoutTcpKeepsLookingUntilTheTimeOut) {
  FakeDiscovery discovery;
  discovery.udp_answer = "127.0.0.1:" + std::to_string(RefusingPort());
  port->set_discovery(&discovery);
  c_strm_pconn* conn = nullptr;
  EXPECT_EQ(TCP_NOT_FOUND, Connect("LDAP=NO;TO=0", "itsrv", &conn));
  EXPECT_GE(discovery.waits, 1);
  discovery.udp_answer.clear();
  discovery.waits = 0;
  const auto start = Clock::now();
  EXPECT_EQ(TCP_NOT_FOUND, Connect("LDAP=NO;TO=2", "itsrv", &conn));
  EXPECT_GE(Clock::now() - start, 2s);
  // One-second waits until more than two seconds have passed.
  EXPECT_GE(discovery.waits, 2);
  EXPECT_LE(discovery.waits, 3);
  EXPECT_TRUE(Printed(Msg(9637)));
  EXPECT_TRUE(Printed(Msg(6373)));
}

TEST_F(TcpConnect, TheDirectoryIsAskedBeforeUdp) {
  Listener peer(Listener::kAnswerName, "itsrv");
  FakeDiscovery discovery;
  discovery.has_directory = true;
  discovery.directory_addresses = {peer.address()};
  port->set_discovery(&discovery);
  c_strm_pconn* conn = nullptr;
  ASSERT_EQ(TCP_FOUND, Connect("LDAP=my.ini", "itsrv", &conn));
  delete conn;
  EXPECT_EQ("itsrv", discovery.searched);
  EXPECT_EQ("my.ini", discovery.settings_file);
  EXPECT_EQ(0, discovery.broadcast_calls);

  // Off, the directory is not opened; with hosts named and direct discovery, it is
  // skipped with a message.
  EXPECT_EQ(TCP_NOT_FOUND, Connect("LDAP=NO;DoBroadcast=ALL;TO=0", "itsrv", &conn));
  EXPECT_EQ(1, discovery.directories);
  const std::string refused = "127.0.0.1:" + std::to_string(RefusingPort());
  EXPECT_EQ(TCP_NOT_FOUND,
            Connect("Host=" + refused + ";DoBroadcast=DIRECT;TO=0", "itsrv", &conn));
  EXPECT_EQ(1, discovery.directories);
  EXPECT_TRUE(Printed(Msg(10893)));

  // A directory that cannot be read is reported and the road goes on.
  discovery.directory_error = 8;
  EXPECT_EQ(TCP_NOT_FOUND, Connect("TO=0", "itsrv", &conn));
  EXPECT_TRUE(Printed(Msg(10875)));
}

TEST_F(TcpConnect, NoNotifierLeavesNoConnectionBehind) {
  Listener peer(Listener::kKeep);
  notifier.set_refuse(true);
  c_strm_pconn* conn = nullptr;
  c_strm_conn_notifier* note = nullptr;
  const std::string options = "Host=" + peer.address() + ";Verify=NO;DoBroadcast=NONE";
  EXPECT_EQ(TCP_SOCKET_FAILED, port->connect(nullptr, &conn, options.c_str(), nullptr, 0, &note,
                                             err, sizeof err, AsHostCtx(ctx)));
  EXPECT_EQ(nullptr, conn);
  EXPECT_EQ(nullptr, note);
  EXPECT_STREQ("no semaphore for the connection", err);
  // The connection was closed at once: the peer reads the end of the stream.
  const int fd = peer.wait_accepted(1);
  ASSERT_GE(fd, 0);
  pollfd p{fd, POLLIN, 0};
  ASSERT_EQ(1, poll(&p, 1, 2000));
  char byte;
  EXPECT_EQ(0, read(fd, &byte, 1));

  notifier.set_refuse(false);
  ASSERT_EQ(TCP_FOUND, port->connect(nullptr, &conn, options.c_str(), nullptr, 0, &note, err,
                                     sizeof err, AsHostCtx(ctx)));
  EXPECT_NE(nullptr, note);
  delete conn;
  note->release();
}

TEST_F(TcpConnect, ALinkTypeKeepsThisMachinesAddressesAndRefusesBadOptions) {
  struct Case {
    const char* options;
    an_int_strm_error result;
    std::vector<std::string> addresses;  // empty with `interfaces`: every interface's
    bool interfaces;
  };
  const Case cases[] = {
      {"MyIP=10.1.2.3,::1", STRM_OK, {"10.1.2.3", "::1"}, false},
      {"MyIP=none", STRM_OK, {}, false},
      {"", STRM_OK, {}, true},
      {"MyIP=banana", TCP_BAD_OPTIONS, {}, false},
      {"NoSuchOption=1", TCP_BAD_OPTIONS, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    an_int_strm_error made = 0;
    std::unique_ptr<c_strm_tcp_port> other(static_cast<c_strm_tcp_port*>(
        StrmNewTCPPort(nullptr, &notifier, nullptr, nullptr, &made, nullptr)));
    ASSERT_EQ(STRM_OK, made);
    ASSERT_EQ(c.result, other->init_port(controller.default_pool, c.options, AsHostCtx(ctx)));
    if (c.result != STRM_OK) continue;
    std::vector<std::string> held;
    const a_port_option& mine = other->local_addresses();
    for (int i = 0; i < mine.count; ++i)
      held.push_back(static_cast<char**>(mine.value.pointer)[i]);
    if (c.interfaces) {
      EXPECT_NE(held.end(), std::find(held.begin(), held.end(), "127.0.0.1"));
      EXPECT_TRUE(Printed(Msg(6418, "127.0.0.1")));
    } else {
      EXPECT_EQ(c.addresses, held);
    }
    other->shutdown_listeners();
    EXPECT_FALSE(other->listening());
  }
}

TEST_F(TcpConnect, ConfirmingAServerMakesOneCheckedConnection) {
  Listener peer(Listener::kAnswerName, "itsrv");
  EXPECT_EQ(0, port->confirm_server_at_address("itsrv", "127.0.0.1", peer.port()));
  peer.wait_accepted(1);
  EXPECT_EQ(1, peer.checks());
}

}  // namespace
}  // namespace vq::testing
