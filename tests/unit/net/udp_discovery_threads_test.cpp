// UDP discovery against answering servers that run beside the client: a responder
// thread on loopback, a server listing inside a network namespace of the test's own
// (where port 2638 and broadcasts touch nothing else), and a real broadcast over a veth
// pair between two namespaces. Work in a namespace runs in a forked child, which prints
// its findings for the test to check.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "discovery_peer.h"
#include "net/broadcast_packet.h"
#include "net/ip_address.h"
#include "net/server_list.h"
#include "net/socket.h"
#include "net/tcp_util.h"
#include "net/udp_discovery.h"
#include "net_namespace.h"
#include "scoped_environment.h"
#include "slapd_server.h"
#include "tcp_link_fixture.h"

namespace {

using vq::testing::Options;
using vq::testing::RecordingPrinter;
using vq::testing::Response;

constexpr int kSkipStatus = 77;

// Answers discovery requests on one UDP socket: every request gets one answer per name,
// in the request's form, with port 2638 and, when the request asks for databases, the
// database "demo". Counts the requests it saw.
class Responder {
 public:
  Responder(bool ipv6, const char* bind, std::uint16_t port, std::vector<std::string> names)
      : names_(std::move(names)) {
    fd_ = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_storage s{};
    socklen_t len;
    if (ipv6) {
      setsockopt(fd_, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
      auto* a = reinterpret_cast<sockaddr_in6*>(&s);
      a->sin6_family = AF_INET6;
      inet_pton(AF_INET6, bind, &a->sin6_addr);
      a->sin6_port = htons(port);
      len = sizeof *a;
    } else {
      auto* a = reinterpret_cast<sockaddr_in*>(&s);
      a->sin_family = AF_INET;
      inet_pton(AF_INET, bind, &a->sin_addr);
      a->sin_port = htons(port);
      len = sizeof *a;
    }
    bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&s), len) == 0;
  }
  ~Responder() {
    Stop();
    if (fd_ >= 0) close(fd_);
  }
  Responder(const Responder&) = delete;
  Responder& operator=(const Responder&) = delete;

  bool ok() const { return bound_; }
  void Start() {
    thread_ = std::thread([this] { Run(); });
  }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  int requests() const { return requests_.load(); }

  // Answers until stopped (or for at most `limit`), on the calling thread.
  void Run(std::chrono::seconds limit = std::chrono::seconds(60)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!stop_ && std::chrono::steady_clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 50) != 1) continue;
      std::uint8_t buffer[2048];
      sockaddr_storage from{};
      socklen_t fromLength = sizeof from;
      const ssize_t n = recvfrom(fd_, buffer, sizeof buffer, 0,
                                 reinterpret_cast<sockaddr*>(&from), &fromLength);
      if (n <= 0) continue;
      c_strm_broadcast_pkt request(BROADCAST_PKT_UNKNOWN, nullptr, 0);
      if (request.readData(buffer, static_cast<unsigned>(n), nullptr, BROADCAST_WITH_HEADER) ==
          0)
        continue;
      ++requests_;
      const bool textForm = request.kind == BROADCAST_PKT_STRMBROAD;
      for (const std::string& name : names_) {
        const std::vector<std::uint8_t> answer =
            Response(textForm ? BROADCAST_PKT_STRMBRESP : BROADCAST_PKT_VQP_RESPONSE,
                     name.c_str(), 2638, nullptr, request.hasSection(6) ? "demo" : nullptr);
        sendto(fd_, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from),
               fromLength);
      }
    }
  }

 private:
  int fd_ = -1;
  bool bound_ = false;
  std::vector<std::string> names_;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::thread thread_;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string ListingLines(a_server_list& list) {
  std::string out;
  for (c_ip_server_address* e = list.getFirst(); e != nullptr; e = list.getNext()) {
    out += "entry ";
    out += e->serverName != nullptr ? e->serverName : "-";
    out += " ";
    out += e->addressText != nullptr ? e->addressText : "-";
    for (int i = 0; i < e->dbCount; ++i) out += std::string(" ") + e->dbNames[i];
    out += "\n";
  }
  return out;
}

void Emit(const std::string& text) {
  const ssize_t ignored = write(STDOUT_FILENO, text.data(), text.size());
  (void)ignored;
}

// The child's verdict: skip with the reason printed, or carry on.
void SkipChildUnless(const std::string& why) {
  if (why.empty()) return;
  Emit("skip " + why + "\n");
  _exit(kSkipStatus);
}

std::string SkipReason(const vq::testing::ChildResult& r) {
  for (const std::string& line : Lines(r.output))
    if (line.rfind("skip ", 0) == 0) return line.substr(5);
  return "";
}

#ifdef VQENG12_PATH
// The stand-in server started with discovery answers on, optionally inside a named
// network namespace; stopped when the object goes. Its first lines on standard output
// give its TCP port ("port=N") and its discovery port ("udp=N").
class StandIn {
 public:
  StandIn(const std::vector<std::string>& args, const std::string& netns = "") {
    for (const std::string& a : args) wantUdp_ = wantUdp_ || a == "-ud";
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(out[0]);
      dup2(out[1], STDOUT_FILENO);
      close(out[1]);
      if (!netns.empty() && !vq::testing::NamespacePair::Enter(netns).empty()) _exit(126);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(VQENG12_PATH));
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    fd_ = out[0];
    // Reads lines until the ports are known, for at most ten seconds.
    std::string text;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!ready() && std::chrono::steady_clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 100) != 1) continue;
      char buffer[256];
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      text.append(buffer, static_cast<std::size_t>(n));
      for (const std::string& line : Lines(text)) {
        std::sscanf(line.c_str(), "port=%d", &tcp_);
        std::sscanf(line.c_str(), "udp=%d", &udp_);
      }
    }
  }
  ~StandIn() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      bool reaped = false;
      for (int i = 0; i < 400 && !reaped; ++i) {
        reaped = waitpid(pid_, &status, WNOHANG) == pid_;
        if (!reaped) std::this_thread::sleep_for(std::chrono::milliseconds(25));
      }
      if (!reaped) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
      }
    }
    if (fd_ >= 0) close(fd_);
  }
  StandIn(const StandIn&) = delete;
  StandIn& operator=(const StandIn&) = delete;

  bool ready() const { return tcp_ != 0 && (!wantUdp_ || udp_ != 0); }
  int tcp() const { return tcp_; }
  int udp() const { return udp_; }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  int tcp_ = 0;
  int udp_ = 0;
  bool wantUdp_ = false;
};
#endif

TEST(UdpDiscoveryThreads, BothSocketsAreWatchedAtEveryWait) {
  TcpUtil::Init();
  UdpSocket v4;
  UdpSocket v6;
  ASSERT_EQ(1u, v4.init(SOCKET_DATAGRAM, 0));
  if (TcpUtil::IsIPv6Supported() == 0 || v6.init(SOCKET_DATAGRAM, 1) == 0) {
    v4.close();
    TcpUtil::Fini();
    GTEST_SKIP() << "no IPv6 on this machine";
  }
  v4.set_blocking_state(0);
  v6.set_blocking_state(0);
  IPAddress any4("127.0.0.1:0");
  IPAddress any6("(::1):0");
  ASSERT_EQ(0, v4.bind(any4));
  ASSERT_EQ(0, v6.bind(any6));
  IPAddress to4(v4);
  IPAddress to6(v6);

  // A reply the client refuses reaches the IPv4 socket first; the wanted one comes to
  // the IPv6 socket after the client has waited once already.
  std::thread server([&] {
    UdpSocket s(SOCKET_DATAGRAM, 0u);
    UdpSocket s6(SOCKET_DATAGRAM, 1u);
    const std::vector<std::uint8_t> other = Response(BROADCAST_PKT_STRMBRESP, "other", 2638);
    const std::vector<std::uint8_t> wanted = Response(BROADCAST_PKT_STRMBRESP, "wanted", 2638);
    s.send(reinterpret_cast<const char*>(other.data()), static_cast<unsigned>(other.size()),
           to4);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    s6.send(reinterpret_cast<const char*>(wanted.data()), static_cast<unsigned>(wanted.size()),
            to6);
    s.close();
    s6.close();
  });
  c_strm_udp_discovery discovery;
  Options options("");
  c_strm_broadcast_pkt reply(BROADCAST_PKT_STRMBRESP, nullptr, 0);
  IPAddress_list hosts;
  IPAddress found;
  RecordingPrinter printer;
  const unsigned rc = discovery.wait_for_udp_responses_ms(v4, v6, hosts, options.get(), &found,
                                                          reply, "wanted", &printer, 3000);
  server.join();
  EXPECT_EQ(kDiscoveryFound, rc);
  EXPECT_EQ(1u, found.isIPv6Address());
  EXPECT_EQ(1, printer.Count(9531));
  v4.close();
  v6.close();
  TcpUtil::Fini();
}

#ifdef VQENG12_PATH
// The stand-in server answers over loopback with its TCP port, in both forms, and only
// for its own name.
TEST(UdpDiscoveryThreads, TheStandInServerAnswersWithItsTcpPort) {
  StandIn server({"-n", "demo", "-x", "tcpip(port=0)", "-ud", "127.0.0.1:0"});
  ASSERT_TRUE(server.ready());
  TcpUtil::Init();
  UdpSocket v4(SOCKET_DATAGRAM, 0u);
  UdpSocket v6;
  v4.set_blocking_state(0);
  c_strm_udp_discovery discovery;
  const std::string text = "Host=127.0.0.1;ServerPort=" + std::to_string(server.udp());
  Options options(text.c_str());
  IPAddress_list hosts;
  hosts.append(new IPAddress("127.0.0.1"));
  RecordingPrinter printer;

  const struct {
    a_broadcast_pkt_type requestKind;
    const char* name;
    bool askDatabase;
    unsigned expected;
  } cases[] = {
      {BROADCAST_PKT_STRMBROAD, "demo", false, kDiscoveryFound},
      {BROADCAST_PKT_STRMBROAD, "other", false, kDiscoveryNotFound},
      {BROADCAST_PKT_VQP_REQUEST, nullptr, true, kDiscoveryFound},
      {BROADCAST_PKT_VQP_REQUEST, nullptr, false, kDiscoveryFound},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.requestKind) + " " + (c.name != nullptr ? c.name : "-"));
    c_strm_broadcast_pkt request(c.requestKind, c.name, 0);
    if (c.askDatabase) request.setDBName(nullptr, 0);
    unsigned sent = 0;
    discovery._send_udp_host_packets(v4, hosts, options.get(), request, nullptr, true, &sent);
    ASSERT_EQ(1u, sent);
    const bool textForm = c.requestKind == BROADCAST_PKT_STRMBROAD;
    c_strm_broadcast_pkt reply(textForm ? BROADCAST_PKT_STRMBRESP : BROADCAST_PKT_VQP_RESPONSE,
                               nullptr, 0);
    IPAddress found;
    const unsigned rc = discovery.wait_for_udp_responses_ms(
        v4, v6, hosts, options.get(), &found, reply, textForm ? c.name : nullptr, &printer,
        c.expected == kDiscoveryFound ? 5000 : 300);
    EXPECT_EQ(c.expected, rc);
    if (rc != kDiscoveryFound) continue;
    char address[80];
    found.toString(address, sizeof address, 1, 0, 0);
    EXPECT_EQ("127.0.0.1:" + std::to_string(server.tcp()), std::string(address));
    EXPECT_STREQ("demo", reply.serverName);
    if (c.askDatabase) {
      EXPECT_STREQ("demo", reply.dbName);
    } else {
      EXPECT_EQ(nullptr, reply.dbName);
    }
  }
  EXPECT_EQ(0, printer.Count(9531));  // every answer read cleanly
  v4.close();
  TcpUtil::Fini();
}
#endif

// The listing with default options inside a namespace of its own: the loopback and one
// veth interface (10.99.0.1), a server answering on both families, and a directory.
TEST(UdpDiscoveryThreads, ListingInANamespaceOfItsOwn) {
  if (getuid() != 0) GTEST_SKIP() << "network namespaces need root";
  const vq::testing::ChildResult r = vq::testing::RunInChild([] {
    SkipChildUnless(vq::testing::FreshNamespace());
    if (!vq::testing::Quietly("ip link add vqa type veth peer name vqb") ||
        !vq::testing::Quietly("sysctl -w net.ipv6.conf.vqa.disable_ipv6=1") ||
        !vq::testing::Quietly("sysctl -w net.ipv6.conf.vqb.disable_ipv6=1") ||
        !vq::testing::Quietly("ip addr add 10.99.0.1/24 broadcast 10.99.0.255 dev vqa") ||
        !vq::testing::Quietly("ip link set vqa up") ||
        !vq::testing::Quietly("ip link set vqb up"))
      SkipChildUnless("no veth interface inside the namespace");

    Responder v4(false, "0.0.0.0", 2638, {"srvB", "srvA"});
    Responder v6(true, "::", 2638, {"srv6"});
    if (!v4.ok() || !v6.ok()) SkipChildUnless("port 2638 is taken inside the namespace");

    // The directory lists one more server; the client finds its settings through the
    // installation root.
    vq::testing::SlapdServer slapd;
    const std::string why = slapd.Start(
        "dn: cn=ldapsrv,ou=QuillonVSR,o=vqtest\nobjectClass: applicationProcess\ncn: ldapsrv\n"
        "description: Vellumcrest Server Database Engine Version 12.0.0.2566\n"
        "l: 127.0.0.1:2700\n\n");
    if (!why.empty()) {
      slapd.Stop();
      SkipChildUnless(why);
    }
    slapd.Write("vcldap.ini", "[LDAP]\nserver=127.0.0.1\nport=" + std::to_string(slapd.port()) +
                                  "\nbasedn=o=vqtest\n");
    setenv("VCDIR", slapd.dir().c_str(), 1);
    setenv("LDAPNOINIT", "1", 1);
    v4.Start();
    v6.Start();

    TcpUtil::Init();
    TcpUtil::UpdateNIList();
    c_strm_udp_discovery discovery;
    a_server_list list;
    RecordingPrinter printer;
    char own[] = "10.99.0.1";
    char* ownTexts[] = {own};
    a_port_option local{"MyIP", nullptr, {0}, 1, PORT_OPT_STRING_LIST};
    local.value.pointer = ownTexts;
    const unsigned rc = discovery.query_servers(
        &list, &printer, kListNumericAddresses | kListDatabaseNames | kListAddressWithPort,
        &local);
    v4.Stop();
    v6.Stop();
    std::string out = "rc " + std::to_string(rc) + "\n";
    out += ListingLines(list);
    out += "passes " + std::to_string(printer.Count(9637) + 1) + "\n";
    out += "v4requests " + std::to_string(v4.requests()) + "\n";
    out += "v6requests " + std::to_string(v6.requests()) + "\n";
    for (IPAddress_iter it(discovery.broadcastAddresses); !it.at_end(); it.next()) {
      char text[80];
      it.element()->toString(text, sizeof text, 0, 0, 0);
      out += std::string("broadcast ") + text + "\n";
    }
    Emit(out);
    TcpUtil::Fini();
  });
  if (r.exited(kSkipStatus)) GTEST_SKIP() << SkipReason(r);
  ASSERT_TRUE(r.exited(0)) << r.output;
  const std::vector<std::string> lines = Lines(r.output);
  std::vector<std::string> entries;
  int passes = 0, v4 = 0, v6 = 0;
  std::vector<std::string> broadcasts;
  for (const std::string& line : lines) {
    if (line.rfind("entry ", 0) == 0) entries.push_back(line.substr(6));
    if (line.rfind("broadcast ", 0) == 0) broadcasts.push_back(line.substr(10));
    std::sscanf(line.c_str(), "passes %d", &passes);
    std::sscanf(line.c_str(), "v4requests %d", &v4);
    std::sscanf(line.c_str(), "v6requests %d", &v6);
  }
  EXPECT_EQ("rc 1", lines.front());
  // Sorted by name; the loopback answers of srvA and srvB dropped for their answers at
  // the machine's own address; the server that answered over IPv6 kept.
  EXPECT_EQ((std::vector<std::string>{"ldapsrv 127.0.0.1:2700", "srv6 (::1):2638 demo",
                                      "srvA 10.99.0.1:2638 demo", "srvB 10.99.0.1:2638 demo"}),
            entries)
      << r.output;
  EXPECT_EQ((std::vector<std::string>{"127.255.255.255", "10.99.0.255", "::1"}), broadcasts);
  // Five seconds of one-second passes; each pass asks every broadcast address once, each
  // through the socket of its family.
  EXPECT_GE(passes, 4);
  EXPECT_LE(passes, 6);
  EXPECT_EQ(2 * passes, v4) << r.output;
  EXPECT_EQ(passes, v6) << r.output;
}

#ifdef VQENG12_PATH
// A real broadcast: the client in one namespace, the stand-in server in another, a veth
// pair between them, and every list the discovery needs found from the interfaces. The
// server answers with its TCP port.
TEST(UdpDiscoveryThreads, BroadcastOverAVethPairToTheStandInServer) {
  if (getuid() != 0) GTEST_SKIP() << "network namespaces need root";
  vq::testing::NamespacePair pair;
  const std::string why = pair.Create();
  if (!why.empty()) GTEST_SKIP() << why;

  // The stand-in server in the other namespace answers broadcasts to the well-known port.
  StandIn server({"-n", "vethsrv", "-x", "tcpip(port=0)", "-ud", "0.0.0.0:2638"}, pair.b());
  ASSERT_TRUE(server.ready());
  const std::string where = "10.77.0.2:" + std::to_string(server.tcp());

  const vq::testing::ChildResult r = vq::testing::RunInChild([&pair] {
    SkipChildUnless(vq::testing::NamespacePair::Enter(pair.a()));
    setenv("VCDIR", "/nonexistent-vq-dir", 1);
    TcpUtil::Init();
    std::string out;
    {
      // The connect road's way: broadcast for one name and wait for its answer.
      c_strm_udp_discovery discovery;
      Options options("");
      discovery._populate_interface_list(options.get());
      UdpSocket v4(SOCKET_DATAGRAM, 0u);
      UdpSocket v6;
      v4.set_blocking_state(0);
      c_strm_broadcast_pkt request(BROADCAST_PKT_STRMBROAD, "vethsrv", 0);
      c_strm_broadcast_pkt reply(BROADCAST_PKT_STRMBRESP, nullptr, 0);
      IPAddress_list hosts;
      IPAddress found;
      unsigned rc = kDiscoveryNotFound;
      for (int pass = 0; pass < 5 && rc == kDiscoveryNotFound; ++pass) {
        unsigned sent = 0;
        discovery._send_udp_broadcasts(v4, options.get(), request, nullptr, pass > 0, &sent);
        rc = discovery._wait_for_udp_responses(v4, v6, hosts, options.get(), &found, reply,
                                               "vethsrv", nullptr, 1);
      }
      char text[80] = "";
      found.toString(text, sizeof text, 1, 0, 0);
      out += "found " + std::to_string(rc) + " " + text + "\n";
      v4.close();
    }
    {
      c_strm_udp_discovery discovery;
      a_server_list list;
      discovery.query_servers(&list, nullptr, kListNumericAddresses | kListAddressWithPort,
                              nullptr);
      out += ListingLines(list);
    }
    Emit(out);
    TcpUtil::Fini();
  });

  if (r.exited(kSkipStatus)) GTEST_SKIP() << SkipReason(r);
  ASSERT_TRUE(r.exited(0)) << r.output;
  EXPECT_EQ((std::vector<std::string>{"found 1 " + where, "entry vethsrv " + where}),
            Lines(r.output));
}
#endif

#ifdef VQENG12_PATH
// The TCP/IP link's connect road with this discovery installed, end to end against the
// stand-in server: found through the directory, and found by a broadcast answer. Both
// end with the server's name checked over the new connection.
class DiscoveryConnect : public vq::testing::LinkFixture {
 protected:
  void SetUp() override {
    LinkFixture::SetUp();
    env_.Set("LDAPNOINIT", "1");
    vq::net::InstallUdpDiscovery();
  }
  void TearDown() override {
    vq::net::SetTcpDiscovery(nullptr);
    LinkFixture::TearDown();
  }
  vq::testing::ScopedEnvironment env_;
};

TEST_F(DiscoveryConnect, TheRoadFindsTheServerInTheDirectory) {
  StandIn server({"-n", "demo", "-x", "tcpip(port=0)"});
  ASSERT_TRUE(server.ready());
  const std::string where = "127.0.0.1:" + std::to_string(server.tcp());
  vq::testing::SlapdServer slapd;
  const std::string why = slapd.Start(
      "dn: cn=demo,ou=QuillonVSR,o=vqtest\nobjectClass: applicationProcess\ncn: demo\n"
      "description: Vellumcrest Server Database Engine Version 12.0.0.2566\nl: " +
      where + "\n\n");
  if (!why.empty()) GTEST_SKIP() << why;
  const std::string settings = slapd.Write(
      "vcldap.ini",
      "[LDAP]\nserver=127.0.0.1\nport=" + std::to_string(slapd.port()) + "\nbasedn=o=vqtest\n");
  c_strm_pconn* conn = nullptr;
  char cached[65] = "";
  // No UDP at all: only the directory can find the server.
  ASSERT_EQ(TCP_FOUND, Connect("LDAP=" + settings + ";DoBroadcast=NONE;Port=1", "demo", &conn,
                               cached, sizeof cached))
      << err;
  delete conn;
  EXPECT_EQ(where, cached);

  // A name the directory does not hold is not found there.
  EXPECT_EQ(TCP_BAD_OPTIONS, Connect("LDAP=" + settings + ";DoBroadcast=NONE", "other", &conn));
  EXPECT_EQ(nullptr, conn);
  EXPECT_TRUE(Printed(Msg(10874)));
}

TEST_F(DiscoveryConnect, TheRoadFindsTheServerByItsBroadcastAnswer) {
  StandIn server({"-n", "demo", "-x", "tcpip(port=0)", "-ud", "127.0.0.1:0"});
  ASSERT_TRUE(server.ready());
  c_strm_pconn* conn = nullptr;
  char cached[65] = "";
  // The broadcast address is the loopback, and the discovery port the server's.
  const std::string options =
      "LDAP=off;Broadcast=127.0.0.1;ServerPort=" + std::to_string(server.udp()) + ";TO=5";
  ASSERT_EQ(TCP_FOUND, Connect(options, "demo", &conn, cached, sizeof cached)) << err;
  delete conn;
  EXPECT_EQ("127.0.0.1:" + std::to_string(server.tcp()), cached);

  // Another name gets no answer; the road gives up after its time-out.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(TCP_NOT_FOUND, Connect("LDAP=off;Broadcast=127.0.0.1;ServerPort=" +
                                       std::to_string(server.udp()) + ";TO=1",
                                   "other", &conn));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_TRUE(Printed(Msg(6373)));
}
#endif

}  // namespace
