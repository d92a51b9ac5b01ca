// Real TLS sessions between a client-side and a server-side adapter in one process, over
// a socket pair standing in for the network, with the crypto modules loaded the way the
// client loads them and certificates made at build time.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../tasks/forked_check.h"
#include "config/encrypt_level.h"
#include "security/tls_adapter.h"
#include "security/vcci_environment.h"
#include "security/vcci_objects.h"
#include "security/vcci_options.h"
#include "tls_socket_end.h"
#include "tls_test_host.h"
#include "vcci_test_host.h"

namespace {

const std::string kCerts = VQ_TLS_CERT_DIR;

std::string cert(const char* file) { return kCerts + "/" + file; }

using End = vq_test::TlsSocketEnd;

std::vector<std::string> g_log;
std::mutex g_log_lock;
void log_text(const char* text) {
  std::lock_guard<std::mutex> hold(g_log_lock);
  g_log.emplace_back(text);
}

// While a test makes the host's send fail, it answers g_send_answer without sending
// anything (kShortSend: half the length).
constexpr int kShortSend = 1;
std::atomic<bool> g_send_fails{false};
std::atomic<int> g_send_answer{0};
int send_or_fail(void* ctx, const char* bytes, unsigned length) {
  if (!g_send_fails.load()) return End::send_all(ctx, bytes, length);
  const int answer = g_send_answer.load();
  return answer == kShortSend ? static_cast<int>(length / 2) : answer;
}

TlsCallbacks g_callbacks = {send_or_fail, nullptr, log_text, nullptr};

// Options from "key=value;..." text, freed with the holder.
struct Options {
  explicit Options(const std::string& text) {
    EXPECT_EQ(ParseVCCIOptionString(text.c_str(), &list, nullptr), 0) << text;
  }
  ~Options() { FreeVCCIOptions(list); }
  _a_vcci_user_option* list = nullptr;
};

class TlsSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = std::make_unique<DBVCCIEnvironment>(&tls_test::kHostCallbacks, nullptr);
    DBVCCIError error;
    ASSERT_EQ(env_->Init(fips_, "TLS test", nullptr, &error), 0) << error.GetCode();
  }
  void TearDown() override {
    // The pumps feed the adapters: stop them before the adapters go.
    if (client_end_ != nullptr) client_end_->stop();
    if (server_end_ != nullptr) server_end_->stop();
    client_tls_.reset();
    server_tls_.reset();
    client_end_.reset();
    server_end_.reset();
    client_stream_.reset();
    server_stream_.reset();
    env_->Fini();
    env_.reset();
  }

  // A stream of the type for one side; null (with `error`) when it cannot be made.
  DBVCCIStream* stream(const char* type, a_vcci_side side, const std::string& options,
                       DBVCCIError* error) {
    DBVCCIStream* s = env_->CreateStream(nullptr, nullptr, type, error);
    if (s == nullptr) return nullptr;
    Options o(options);
    if (s->Init(side, o.list) != 0) {
      error->CloneFrom(s->GetLastError());
      delete s;
      return nullptr;
    }
    return s;
  }

  // Builds both ends; false when a stream or adapter could not be made.
  bool connect(const char* client_type, const std::string& client_options,
               const char* server_type, const std::string& server_options) {
    DBVCCIError error;
    client_stream_.reset(stream(client_type, VCCI_SIDE_CLIENT, client_options, &error));
    EXPECT_NE(client_stream_, nullptr) << "client stream: " << error.GetCode() << " "
                                       << (error.GetParm(0) ? error.GetParm(0) : "");
    server_stream_.reset(stream(server_type, VCCI_SIDE_SERVER, server_options, &error));
    EXPECT_NE(server_stream_, nullptr) << "server stream: " << error.GetCode() << " "
                                       << (error.GetParm(0) ? error.GetParm(0) : "");
    if (client_stream_ == nullptr || server_stream_ == nullptr) return false;
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    client_end_ = std::make_unique<End>(fds[0]);
    server_end_ = std::make_unique<End>(fds[1]);
    Options co(client_options), so(server_options);
    client_tls_ =
        std::make_unique<TlsConnection>(client_stream_.get(), env_.get(), &g_callbacks,
                                        client_end_.get(), nullptr, &error, co.list);
    server_tls_ =
        std::make_unique<TlsConnection>(server_stream_.get(), env_.get(), &g_callbacks,
                                        server_end_.get(), nullptr, &error, so.list);
    if (!client_tls_->created() || !server_tls_->created()) return false;
    client_end_->start(client_tls_.get());
    server_end_->start(server_tls_.get());
    return true;
  }

  // The client sends `message` (running the handshake); the server reads it. Returns
  // the client's write result; `received` gets what the server read.
  unsigned exchange(const std::string& message, std::string* received, unsigned* server_rc) {
    std::thread server(
        [&] { *server_rc = server_end_->read_exactly(received, message.size()); });
    const unsigned rc =
        client_tls_->write(message.data(), static_cast<unsigned>(message.size()));
    if (rc != 0) {
      client_tls_->shut_down();
      server_end_->stop();
      server_tls_->shut_down();  // the server gives up once its peer is gone
    }
    server.join();
    return rc;
  }

  unsigned fips_ = 0;
  ModuleRoot root_{VQ_TEST_LIB_DIR};  // the build's own modules, found as installed
  std::unique_ptr<DBVCCIEnvironment> env_;
  std::unique_ptr<DBVCCIStream> client_stream_, server_stream_;
  std::unique_ptr<End> client_end_, server_end_;
  std::unique_ptr<TlsConnection> client_tls_, server_tls_;
};

// ---- handshakes: RSA and ECDSA, trust and the certificate checks ----

struct SessionCase {
  const char* name;
  const char* type;  // stream algorithm name, both sides
  std::string client_options;
  std::string server_options;
  bool succeeds;
  const char* refusal;      // part of the client's error text when refused
  unsigned char algorithm;  // the stream's number
};

// The case's name stands for it in test names and messages.
void PrintTo(const SessionCase& c, std::ostream* os) { *os << c.name; }

class TlsSessions : public TlsSessionTest, public ::testing::WithParamInterface<SessionCase> {};

TEST_P(TlsSessions, HandshakeAndDataBothWays) {
  const SessionCase& c = GetParam();
  ASSERT_TRUE(connect(c.type, c.client_options, c.type, c.server_options));
  EXPECT_EQ(client_tls_->getAlgorithmID(), c.algorithm);
  std::string received;
  unsigned server_rc = 99;
  const std::string hello = "SELECT 1 FROM DUMMY";
  const unsigned rc = exchange(hello, &received, &server_rc);
  if (!c.succeeds) {
    EXPECT_NE(rc, 0u);
    EXPECT_FALSE(client_tls_->doneHandshake());
    const char* why = client_tls_->getError()->GetParm(0);
    ASSERT_NE(why, nullptr) << "code " << rc << ", error record "
                            << client_tls_->getError()->GetCode();
    EXPECT_NE(std::string(why).find(c.refusal), std::string::npos) << why;
    EXPECT_NE(server_rc, 0u);
    return;
  }
  ASSERT_EQ(rc, 0u) << (client_tls_->getError()->GetParm(0)
                            ? client_tls_->getError()->GetParm(0)
                            : "");
  ASSERT_EQ(server_rc, 0u);
  EXPECT_EQ(received, hello);
  EXPECT_TRUE(client_tls_->doneHandshake());
  EXPECT_TRUE(server_tls_->doneHandshake());

  // Larger payloads both ways, many records each, read in pieces of another size.
  std::string big(200000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131 + 7);
  std::string at_client;
  unsigned client_rc = 99;
  // The reader is joined before anything is asserted: a failed assertion would return
  // with the thread still running, and destroying a joinable thread ends the program.
  std::thread client([&] { client_rc = client_end_->read_exactly(&at_client, big.size()); });
  const unsigned to_client = server_tls_->write(big.data(), static_cast<unsigned>(big.size()));
  client.join();
  ASSERT_EQ(to_client, 0u);
  EXPECT_EQ(client_rc, 0u);
  EXPECT_TRUE(at_client == big);

  std::string at_server;
  std::thread server([&] { server_rc = server_end_->read_exactly(&at_server, big.size()); });
  const unsigned to_server = client_tls_->write(big.data(), static_cast<unsigned>(big.size()));
  server.join();
  ASSERT_EQ(to_server, 0u);
  EXPECT_EQ(server_rc, 0u);
  EXPECT_TRUE(at_server == big);
}

const std::string kRsaServer = "identity=" + cert("rsa_server.pem");
const std::string kEcServer = "identity=" + cert("ec_server.pem");
const std::string kTrustRsa = "trusted_certificates=" + cert("rsa_ca.pem");
const std::string kTrustEc = "trusted_certificates=" + cert("ec_ca.pem");

INSTANTIATE_TEST_SUITE_P(
    Modules, TlsSessions,
    ::testing::Values(
        SessionCase{"Rsa", "rsa", kTrustRsa, kRsaServer, true, "", 3},
        SessionCase{"RsaAllChecks", "rsa_tls",
                    kTrustRsa + ";certificate_name=db.example.test;certificate_company=Example "
                                "Company;certificate_unit=Databases",
                    kRsaServer, true, "", 3},
        SessionCase{"RsaShortCheckNamesAnyCase", "rsa",
                    kTrustRsa + ";name=DB.EXAMPLE.TEST;company=example company;unit=databases",
                    kRsaServer, true, "", 3},
        SessionCase{"Ecdsa", "ecc", kTrustEc + ";certificate_name=db.example.test", kEcServer,
                    true, "", 2},
        SessionCase{"RsaPkcs12Identity", "rsa", kTrustRsa,
                    "identity=" + cert("rsa_server.p12") + ";identity_password=p12secret", true,
                    "", 3},
        SessionCase{"RsaProtectedPemIdentity", "rsa", kTrustRsa,
                    "identity=" + cert("rsa_server_enc.pem") + ";identity_password=pemsecret",
                    true, "", 3},
        SessionCase{"WrongNameRefused", "rsa",
                    kTrustRsa + ";certificate_name=other.example.test", kRsaServer, false,
                    "name", 3},
        SessionCase{"WrongCompanyRefused", "ecc", kTrustEc + ";company=Other Company",
                    kEcServer, false, "company", 2},
        SessionCase{"WrongUnitRefused", "rsa", kTrustRsa + ";certificate_unit=Sales",
                    kRsaServer, false, "unit", 3},
        SessionCase{"UntrustedAuthorityRefused", "rsa",
                    "trusted_certificates=" + cert("other_ca.pem"), kRsaServer, false,
                    "not trusted", 3},
        SessionCase{"EcdsaModuleRefusesRsaServer", "ecc", kTrustRsa, kRsaServer, false, "", 2}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- failures after the handshake ----

// Once the session stands, a record the host cannot send (an error, nothing sent, or part
// of it) fails the write: it is never reported as sent.
TEST_F(TlsSessionTest, AWriteTheHostCannotSendFailsAfterTheHandshake) {
  struct Row {
    const char* name;
    int answer;  // the host's send answer
  };
  for (const Row& row :
       {Row{"send error", -1}, Row{"nothing sent", 0}, Row{"short send", kShortSend}}) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(connect("rsa", kTrustRsa, "rsa", kRsaServer));
    std::string received;
    unsigned server_rc = 99;
    ASSERT_EQ(exchange("before", &received, &server_rc), 0u);
    ASSERT_EQ(server_rc, 0u);
    ASSERT_TRUE(client_tls_->doneHandshake());

    g_send_answer = row.answer;
    g_send_fails = true;
    const std::string after = "after the handshake";
    const unsigned rc = client_tls_->write(after.data(), static_cast<unsigned>(after.size()));
    g_send_fails = false;
    EXPECT_NE(rc, 0u);
    EXPECT_NE(rc, 10u);
    EXPECT_EQ(client_tls_->getError()->GetCode(), rc);
    TearDown();
    SetUp();
  }
}

// ---- the installed modules as the environment finds them ----

TEST_F(TlsSessionTest, InstalledModulesServeEveryTlsLevel) {
  EXPECT_TRUE(DBVCCIEnvironment::IsRSAAvailable());
  EXPECT_TRUE(DBVCCIEnvironment::IsECCAvailable());
  EXPECT_TRUE(DBVCCIEnvironment::IsFIPSAvailable()) << "the FIPS module and its vendor library";
  struct Row {
    const char* name;
    const char* parms;
    std::uint32_t level;
  };
  for (const Row& row :
       {Row{"tls", "tls_type=ecc", 2}, Row{"rsa", nullptr, 3}, Row{"tls", nullptr, 3},
        Row{"tls", "tls_type=rsa;fips=yes", 4}, Row{"rsa_tls_fips", nullptr, 4}}) {
    SCOPED_TRACE(std::string(row.name) + " " + (row.parms ? row.parms : ""));
    c_encrypt_level level(row.name, row.parms);
    DBVCCIError error;
    EXPECT_EQ(env_->ValidateStreamEncryption(level, &error), 1) << error.GetCode();
    EXPECT_EQ(level.level, row.level);
    std::unique_ptr<DBVCCIStream> s(env_->CreateStream(nullptr, nullptr, level, &error));
    ASSERT_NE(s, nullptr) << error.GetCode();
    EXPECT_EQ(s->GetAlgorithmID(), row.level);
  }
}

// The stub flag is process-wide and never cleared, so this runs in a child: with it set,
// the stub module serves the sessions and the block ciphers, the latter with the same
// bytes as the built-in provider.
TEST_F(TlsSessionTest, StubModuleServesEverythingUnderTheStubFlag) {
  const unsigned char key[32] = {9, 8, 7, 6, 5, 4, 3, 2, 1};
  unsigned char builtin[32] = {};
  DBVCCIError error;
  {
    std::unique_ptr<DBVCCIBlockEncrypter> e(
        env_->CreateBlockEncrypter("AES256", key, 32, nullptr, &error));
    ASSERT_NE(e, nullptr);
    ASSERT_EQ(e->Encrypt(builtin, 32, 7), 0u);
  }
  const int status = run_in_child([&] {
    setenv("VC_USE_VCCI_STUB", "1", 1);
    env_->Fini();
    env_ = std::make_unique<DBVCCIEnvironment>(&tls_test::kHostCallbacks, nullptr);
    if (env_->Init(0, "stub", nullptr, &error) != 0) return 1;
    std::unique_ptr<DBVCCIBlockEncrypter> e(
        env_->CreateBlockEncrypter("AES256", key, 32, nullptr, &error));
    unsigned char stub[32] = {};
    if (e == nullptr || e->Encrypt(stub, 32, 7) != 0) return 2;
    if (std::memcmp(stub, builtin, 32) != 0) return 3;
    e.reset();
    if (env_->GetInterface(VCCI_IFACE_STUB)->usable == 0) return 4;
    if (!connect("ecc", kTrustEc + ";name=db.example.test", "ecc", kEcServer)) return 5;
    if (client_tls_->getAlgorithmID() != 2) return 6;
    std::string received;
    unsigned server_rc = 99;
    if (exchange("through the stub", &received, &server_rc) != 0) return 7;
    return server_rc == 0 && received == "through the stub" ? 0 : 8;
  });
  EXPECT_EQ(status, 0) << describe_status(status);
}

// ---- set-up failures ----

TEST_F(TlsSessionTest, StreamSetUpRefusals) {
  struct Row {
    const char* name;
    a_vcci_side side;
    std::string options;
    const char* text;
  };
  const Row rows[] = {
      {"server without identity", VCCI_SIDE_SERVER, "", "identity"},
      {"missing identity file", VCCI_SIDE_SERVER, "identity=" + kCerts + "/absent.pem",
       "absent.pem"},
      {"wrong identity password", VCCI_SIDE_SERVER,
       "identity=" + cert("rsa_server.p12") + ";identity_password=wrong", "rsa_server.p12"},
      {"missing trust file", VCCI_SIDE_CLIENT, "trusted_certificates=" + kCerts + "/absent.pem",
       "absent.pem"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    DBVCCIError error;
    std::unique_ptr<DBVCCIStream> s(stream("rsa", row.side, row.options, &error));
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(error.GetCode(), 2u);
    ASSERT_NE(error.GetParm(0), nullptr);
    EXPECT_NE(std::string(error.GetParm(0)).find(row.text), std::string::npos)
        << error.GetParm(0);
  }
}

// ---- options: what the module takes is marked used, an unknown one is left ----

TEST_F(TlsSessionTest, ModuleMarksEveryOptionItTakesAndLeavesUnknownOnes) {
  const std::string text = kTrustRsa +
                           ";tls_type=rsa;fips=no;certificate_name=a;company=b;unit=c;"
                           "identity=" +
                           cert("rsa_server.pem") + ";identity_password=x;compression=yes";
  for (const a_vcci_side side : {VCCI_SIDE_CLIENT, VCCI_SIDE_SERVER}) {
    SCOPED_TRACE(side);
    DBVCCIError error;
    std::unique_ptr<DBVCCIStream> s(env_->CreateStream(nullptr, nullptr, "rsa", &error));
    ASSERT_NE(s, nullptr);
    Options at_init(text);
    ASSERT_EQ(s->Init(side, at_init.list), 0u);
    Options at_conn(text);
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    End end(fds[0]);
    ::close(fds[1]);
    TlsConnection tls(s.get(), env_.get(), &g_callbacks, &end, nullptr, &error, at_conn.list);
    ASSERT_TRUE(tls.created());
    for (Options* o : {&at_init, &at_conn}) {
      std::vector<std::string> unused;
      for (_a_vcci_user_option* opt = o->list; opt != nullptr; opt = opt->next) {
        if (opt->used == 0) unused.emplace_back(opt->name);
      }
      EXPECT_EQ(unused, std::vector<std::string>{"compression"});
    }
  }
}

// A connection's own checks win over the stream's: streams are shared by connections.
TEST_F(TlsSessionTest, ConnectionChecksOverrideTheSharedStream) {
  ASSERT_TRUE(
      connect("rsa", kTrustRsa + ";certificate_name=db.example.test", "rsa", kRsaServer));
  // Rebuild the client adapter on the same stream with a name that does not match.
  client_end_->stop();
  server_end_->stop();
  client_tls_.reset();
  server_tls_.reset();
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  client_end_ = std::make_unique<End>(fds[0]);
  server_end_ = std::make_unique<End>(fds[1]);
  DBVCCIError error;
  Options co("certificate_name=elsewhere.example.test"), so(kRsaServer);
  client_tls_ = std::make_unique<TlsConnection>(client_stream_.get(), env_.get(), &g_callbacks,
                                                client_end_.get(), nullptr, &error, co.list);
  server_tls_ = std::make_unique<TlsConnection>(server_stream_.get(), env_.get(), &g_callbacks,
                                                server_end_.get(), nullptr, &error, so.list);
  client_end_->start(client_tls_.get());
  server_end_->start(server_tls_.get());
  std::string received;
  unsigned server_rc = 0;
  EXPECT_NE(exchange("x", &received, &server_rc), 0u);
  ASSERT_NE(client_tls_->getError()->GetParm(0), nullptr);
  EXPECT_NE(std::string(client_tls_->getError()->GetParm(0)).find("name"), std::string::npos);
}

TEST_F(TlsSessionTest, HandshakeIsLoggedThroughTheHost) {
  {
    std::lock_guard<std::mutex> hold(g_log_lock);
    g_log.clear();
  }
  ASSERT_TRUE(connect("rsa", kTrustRsa, "rsa", kRsaServer));
  std::string received;
  unsigned server_rc = 99;
  ASSERT_EQ(exchange("ping", &received, &server_rc), 0u);
  std::lock_guard<std::mutex> hold(g_log_lock);
  ASSERT_FALSE(g_log.empty());
  EXPECT_NE(g_log.front().find("TLS session established"), std::string::npos) << g_log.front();
}

// ---- the FIPS module: RSA TLS as stream 4, and the same AES as the built-in provider ----

class TlsFipsTest : public TlsSessionTest {
 protected:
  TlsFipsTest() { fips_ = 1; }
};

TEST_F(TlsFipsTest, RsaSessionRunsOnTheFipsModule) {
  ASSERT_TRUE(connect("rsa", kTrustRsa, "rsa_tls_fips", kRsaServer));
  EXPECT_EQ(client_tls_->getAlgorithmID(), 4);
  std::string received;
  unsigned server_rc = 99;
  ASSERT_EQ(exchange("fips", &received, &server_rc), 0u);
  EXPECT_EQ(received, "fips");
}

TEST_F(TlsFipsTest, BlockCryptoMatchesTheBuiltInProvider) {
  DBVCCIEnvironment plain(&tls_test::kHostCallbacks, nullptr);
  DBVCCIError error;
  ASSERT_EQ(plain.Init(0, "plain", nullptr, &error), 0);
  struct Row {
    const char* name;
    unsigned key_length;
  };
  for (const Row& row :
       {Row{"AES", 16}, Row{"AES256", 32}, Row{"aes_256", 40}, Row{"AES128", 5}}) {
    SCOPED_TRACE(row.name);
    std::vector<unsigned char> key(row.key_length);
    for (unsigned i = 0; i < row.key_length; ++i)
      key[i] = static_cast<unsigned char>(i * 17 + 3);
    std::unique_ptr<DBVCCIBlockEncrypter> fips_enc(
        env_->CreateBlockEncrypter(row.name, key.data(), row.key_length, nullptr, &error));
    std::unique_ptr<DBVCCIBlockEncrypter> builtin_enc(
        plain.CreateBlockEncrypter(row.name, key.data(), row.key_length, nullptr, &error));
    ASSERT_NE(fips_enc, nullptr);
    ASSERT_NE(builtin_enc, nullptr);
    EXPECT_STREQ(fips_enc->GetDLLName(), "libvqfips12_r.so");
    unsigned char a[48], b[48];
    for (int i = 0; i < 48; ++i) a[i] = b[i] = static_cast<unsigned char>(i);
    ASSERT_EQ(fips_enc->Encrypt(a, 48, 0x01020304u), 0u);
    ASSERT_EQ(builtin_enc->Encrypt(b, 48, 0x01020304u), 0u);
    EXPECT_EQ(0, std::memcmp(a, b, 48));
    ASSERT_EQ(fips_enc->Decrypt(a, 48, 0x01020304u), 0u);
    EXPECT_EQ(a[47], 47);
    EXPECT_NE(fips_enc->Encrypt(a, 20, 0), 0u);  // not whole blocks
  }
  for (const char* name : {"SHA256", "SHA-1"}) {
    SCOPED_TRACE(name);
    std::unique_ptr<DBVCCIBlockHasher> f(env_->CreateBlockHasher(name, &error));
    std::unique_ptr<DBVCCIBlockHasher> p(plain.CreateBlockHasher(name, &error));
    ASSERT_NE(f, nullptr);
    ASSERT_NE(p, nullptr);
    unsigned char x[32] = {}, y[32] = {};
    const std::string data(1000, 'q');
    for (DBVCCIBlockHasher* h : {f.get(), p.get()}) {
      ASSERT_EQ(h->BeginHash(), 0u);
      ASSERT_EQ(h->AddData(reinterpret_cast<const unsigned char*>(data.data()), 77), 0u);
      ASSERT_EQ(h->AddData(reinterpret_cast<const unsigned char*>(data.data()) + 77, 923), 0u);
    }
    ASSERT_EQ(f->EndHash(x, 32), 0u);
    ASSERT_EQ(p->EndHash(y, 32), 0u);
    EXPECT_EQ(0, std::memcmp(x, y, p->GetMaxHashSize()));
  }
  plain.Fini();
}

}  // namespace
