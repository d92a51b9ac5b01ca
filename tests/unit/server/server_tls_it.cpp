// vqeng12 serving TLS over TCP/IP: the app-connect exchange in the clear agrees the
// level, then an independent TLS client (the system's TLS library) checks the
// server's certificate against the authority that issued it and talks the packet
// protocol inside TLS. Certificates are the throwaway ones the security tests make.
#include "server_process.h"
#include "tls_test_client.h"

namespace {

const std::string kCerts = VQ_TLS_CERT_DIR;
std::string cert(const std::string& file) { return kCerts + "/" + file; }

int connect_loopback(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval tv{10, 0};  // every wait below is bounded
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Sends the app-connect packet asking for `level` and reads the reply in the clear
// (and nothing after it). Returns the reply record, empty on failure.
std::string app_connect_in_clear(int fd, unsigned level) {
  AppConnectFields f;
  f.encryption = level;
  std::string pk = packet(25, 0x21, std::string(1, '\0') + app_connect_record(f));
  vqeng::scramble_packet(reinterpret_cast<std::uint8_t*>(&pk[0]),
                         static_cast<std::uint32_t>(pk.size()));
  if (send(fd, pk.data(), pk.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(pk.size())) return {};
  std::string head(4, '\0');
  if (recv(fd, &head[0], 4, MSG_WAITALL) != 4) return {};
  const std::size_t len = (static_cast<std::uint8_t>(head[2]) << 8) | static_cast<std::uint8_t>(head[3]);
  if (head[0] != 25 || len < 5) return {};
  std::string rest(len - 4, '\0');
  if (recv(fd, &rest[0], rest.size(), MSG_WAITALL) != static_cast<ssize_t>(rest.size())) return {};
  return rest.substr(1);
}

// TLS client speaking the packet protocol: one request, its reply's items.
class TlsClient : public TlsTestClient {
 public:
  using TlsTestClient::TlsTestClient;
  std::vector<ReplyItem> request(const std::string& body) {
    if (!send(packet(24, 1, body))) return {};
    std::string joined;
    for (;;) {
      std::size_t used = 0;
      const auto pks = split_packets(buf_, &used);
      buf_.erase(0, used);
      bool end = false;
      for (const auto& p : pks) {
        joined += p.body;
        end = end || (p.status & 1) != 0;
      }
      if (end) break;
      char tmp[8192];
      const int n = read(tmp, sizeof tmp);
      if (n <= 0) return {};
      buf_.append(tmp, static_cast<std::size_t>(n));
    }
    std::vector<ReplyItem> items;
    parse_items(joined, items);
    return items;
  }

 private:
  std::string buf_;
};

struct TlsCase {
  const char* name;
  unsigned level;
  const char* identity;  // server certificate and key, without ".crt" / ".key"
  const char* ca;
};

class ServerTls : public testing::TestWithParam<TlsCase> {};

TEST_P(ServerTls, AgreesTheLevelThenServesInsideTls) {
  const TlsCase& c = GetParam();
  ServerProcess srv;
  ASSERT_TRUE(srv.start({"-n", "tlssrv", "--tls-cert=" + cert(std::string(c.identity) + ".crt"),
                         "--tls-key=" + cert(std::string(c.identity) + ".key")}));
  ASSERT_EQ(srv.status(), 0);
  const int fd = connect_loopback(srv.port());
  ASSERT_GE(fd, 0);
  const std::string reply = app_connect_in_clear(fd, c.level);
  ASSERT_GE(reply.size(), 210u);
  EXPECT_EQ(rd16(reply, 10), c.level) << "the level asked for is agreed";
  const std::string random = reply.substr(178, 32);
  {
    TlsClient tls(fd, cert(c.ca));
    ASSERT_TRUE(tls.handshake()) << tls.error();
    // Inside TLS the packets go unscrambled: a database connect and a statement.
    const auto connected = tls.request(
        item(16, "UID=DBA;CON=tls") + item(133, u32le(0)) +
        item(20, encipher("PWD=sql", reinterpret_cast<const std::uint8_t*>(random.data()))));
    EXPECT_EQ(code_at(connected, 0), 133);
    EXPECT_EQ(code_at(tls.request(item(25, "CREATE TABLE over_tls(v INTEGER)")), 2), 66);
    tls.close_notify();
  }
  close(fd);
  EXPECT_NE(srv.log().find("encryption=" + std::to_string(c.level)), std::string::npos);
  EXPECT_EQ(srv.stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(Levels, ServerTls,
                         testing::Values(TlsCase{"Rsa", 3, "rsa_server", "rsa_ca.pem"},
                                         TlsCase{"Ecc", 2, "ec_server", "ec_ca.pem"}),
                         [](const testing::TestParamInfo<TlsCase>& i) { return i.param.name; });

TEST(ServerTlsRefusals, WithoutCertificateOrForUnknownLevelsAnswersLevelZero) {
  ServerProcess plain;
  ASSERT_TRUE(plain.start({"-n", "plainsrv"}));
  {
    const int fd = connect_loopback(plain.port());
    ASSERT_GE(fd, 0);
    const std::string reply = app_connect_in_clear(fd, 3);
    ASSERT_GE(reply.size(), 12u);
    EXPECT_EQ(rd16(reply, 10), 0u) << "a server without a certificate runs no TLS";
    close(fd);
  }
  EXPECT_EQ(plain.stop(), 0);

  ServerProcess srv;
  ASSERT_TRUE(srv.start({"-n", "tlssrv", "--tls-cert=" + cert("rsa_server.crt"),
                         "--tls-key=" + cert("rsa_server.key")}));
  for (unsigned level : {4u, 7u}) {
    const int fd = connect_loopback(srv.port());
    ASSERT_GE(fd, 0);
    const std::string reply = app_connect_in_clear(fd, level);
    ASSERT_GE(reply.size(), 12u);
    EXPECT_EQ(rd16(reply, 10), 0u) << level;
    close(fd);
  }
  EXPECT_EQ(srv.stop(), 0);
}

TEST(ServerTlsRefusals, FailedHandshakeClosesOnlyThatConnection) {
  ServerProcess srv;
  ASSERT_TRUE(srv.start({"-n", "tlssrv", "--tls-cert=" + cert("rsa_server.crt"),
                         "--tls-key=" + cert("rsa_server.key")}));
  // A client that sends a packet in the clear where its handshake should be.
  {
    const int fd = connect_loopback(srv.port());
    ASSERT_GE(fd, 0);
    ASSERT_FALSE(app_connect_in_clear(fd, 3).empty());
    const std::string pk = packet(24, 1, item(25, "SELECT 1"));
    ASSERT_EQ(send(fd, pk.data(), pk.size(), MSG_NOSIGNAL), static_cast<ssize_t>(pk.size()));
    char buf[256];
    ssize_t n;
    // The server may answer with a TLS alert; then it closes.
    while ((n = recv(fd, buf, sizeof buf, 0)) > 0) {
    }
    EXPECT_EQ(n, 0) << "closed by the server, not timed out";
    close(fd);
  }
  // A client that trusts another authority gives up; the server drops it.
  {
    const int fd = connect_loopback(srv.port());
    ASSERT_GE(fd, 0);
    ASSERT_FALSE(app_connect_in_clear(fd, 3).empty());
    TlsClient tls(fd, cert("ec_ca.pem"));
    EXPECT_FALSE(tls.handshake());
    close(fd);
  }
  // Others are still served.
  const int fd = connect_loopback(srv.port());
  ASSERT_GE(fd, 0);
  const std::string reply = app_connect_in_clear(fd, 3);
  ASSERT_GE(reply.size(), 210u);
  TlsClient tls(fd, cert("rsa_ca.pem"));
  ASSERT_TRUE(tls.handshake()) << tls.error();
  const std::string random = reply.substr(178, 32);
  EXPECT_EQ(code_at(tls.request(item(16, "UID=DBA;CON=tls") + item(133, u32le(0)) +
                                item(20, encipher("PWD=sql", reinterpret_cast<const std::uint8_t*>(
                                                                 random.data())))),
                    0),
            133);
  close(fd);
  EXPECT_NE(srv.log().find("closed: TLS not started: TLS handshake failed"), std::string::npos)
      << srv.log();
  EXPECT_EQ(srv.stop(), 0);
}

TEST(ServerTlsRefusals, UnusableCertificateFailsTheStart) {
  ServerProcess srv;
  // The key of another certificate.
  EXPECT_FALSE(srv.start({"--tls-cert=" + cert("rsa_server.crt"),
                          "--tls-key=" + cert("ec_server.key")}) &&
               srv.status() == 0);
}

}  // namespace
