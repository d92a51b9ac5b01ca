// Kerberos logins end to end: a throwaway realm on loopback, the built vqeng12 with
// the service's keytab, and a client that gets its tokens from the system's GSS-API
// library directly (the client library's own Kerberos code plays no part), sends them
// in scripted connects and checks the server's token in turn. Skips, saying why,
// when the KDC programs are not installed.
#include <gssapi/gssapi.h>
#include <gssapi/gssapi_krb5.h>
#include <gtest/gtest.h>

#include <string>

#include "kdc_realm.h"
#include "server_process.h"

namespace {

constexpr const char* kRealm = "VQTEST.LOCAL";
constexpr const char* kService = "vellum/localhost";

// One client security context for the service: the first token, then the check of
// the server's reply token.
class GssClient {
 public:
  explicit GssClient(const std::string& target) {
    gss_buffer_desc text{target.size(), const_cast<char*>(target.data())};
    OM_uint32 minor = 0;
    if (gss_import_name(&minor, &text, GSS_KRB5_NT_PRINCIPAL_NAME, &target_) != GSS_S_COMPLETE)
      target_ = GSS_C_NO_NAME;
  }
  ~GssClient() {
    OM_uint32 minor = 0;
    if (ctx_ != GSS_C_NO_CONTEXT) gss_delete_sec_context(&minor, &ctx_, GSS_C_NO_BUFFER);
    if (target_ != GSS_C_NO_NAME) gss_release_name(&minor, &target_);
  }
  // Mutual authentication and replay detection, as the client library asks for.
  // Returns the major status; `out` gets the token to send.
  OM_uint32 step(const std::string& in, std::string& out) {
    OM_uint32 minor = 0;
    gss_buffer_desc input{in.size(), const_cast<char*>(in.data())};
    gss_buffer_desc output{0, nullptr};
    const OM_uint32 major = gss_init_sec_context(
        &minor, GSS_C_NO_CREDENTIAL, &ctx_, target_, GSS_C_NO_OID,
        GSS_C_MUTUAL_FLAG | GSS_C_REPLAY_FLAG, 0, GSS_C_NO_CHANNEL_BINDINGS,
        in.empty() ? GSS_C_NO_BUFFER : &input, nullptr, &output, nullptr, nullptr);
    out.assign(static_cast<const char*>(output.value), output.length);
    gss_release_buffer(&minor, &output);
    return major;
  }

 private:
  gss_name_t target_ = GSS_C_NO_NAME;
  gss_ctx_id_t ctx_ = GSS_C_NO_CONTEXT;
};

std::string token_item(const std::string& token) {
  return token.size() > 250 ? long_item(18, token) : item(18, token);
}

std::string kerberos_connect(const std::string& token, const std::string& keys = "") {
  return item(16, "KERBEROS=YES;CON=krb" + keys) + item(133, u32le(0)) + item(20) +
         token_item(token);
}

class KerberosServer : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    skip_ = vqtest::KdcRealm::missing_programs();
    if (!skip_.empty()) return;
    realm_ = new vqtest::KdcRealm(kRealm);
    error_ = realm_->start(
        {{kService, "service.keytab"}, {"dba", "dba.keytab"}, {"dbuser", "dbuser.keytab"}});
    for (const char* user : {"dba", "dbuser"}) {
      if (error_.empty())
        error_ = realm_->kinit(user, std::string(user) + ".keytab", ccache(user));
    }
  }
  static void TearDownTestSuite() {
    delete realm_;
    realm_ = nullptr;
  }

 protected:
  void SetUp() override {
    if (!skip_.empty()) GTEST_SKIP() << skip_;
    ASSERT_TRUE(error_.empty()) << error_;
    ASSERT_TRUE(srv_.start({"--kerberos-keytab=" + realm_->keytab_path("service.keytab"),
                            "--kerberos-service=" + std::string(kService)}));
  }
  static std::string ccache(const char* user) {
    return "FILE:" + realm_->dir().string() + "/" + user + ".ccache";
  }
  // The first token of `user` for the service.
  static std::string first_token(GssClient& gss, const char* user) {
    setenv("KRB5CCNAME", ccache(user).c_str(), 1);
    std::string token;
    EXPECT_EQ(gss.step("", token), static_cast<OM_uint32>(GSS_S_CONTINUE_NEEDED));
    return token;
  }
  static std::string service_principal() { return realm_->principal(kService); }

  ServerProcess srv_;
  static inline vqtest::KdcRealm* realm_ = nullptr;
  static inline std::string skip_, error_;
};

TEST_F(KerberosServer, LoginWithTheUsersTicket) {
  Client c(srv_.port());
  ASSERT_EQ(c.app_connect().size(), 312u);
  // The client asks for the service principal before its connect.
  auto r = c.request(item(6, u16le(0)) + item(78, u32le(512) + u16le(0)));
  ASSERT_EQ(code_at(r, 0), 107);
  EXPECT_EQ(r[0].payload, service_principal());

  GssClient gss(r[0].payload);
  const std::string token = first_token(gss, "dba");
  ASSERT_FALSE(token.empty());
  r = c.request(kerberos_connect(token));
  ASSERT_EQ(code_at(r, 0), 18) << srv_.log();
  // The server's token completes the client's side: the server has proved itself.
  std::string more;
  EXPECT_EQ(gss.step(r[0].payload, more), static_cast<OM_uint32>(GSS_S_COMPLETE));
  EXPECT_TRUE(more.empty());
  ASSERT_EQ(code_at(r, 1), 133);
  EXPECT_EQ(code_at(r, 2), 66);

  const auto q = c.request(item(22, "SELECT CURRENT USER") + item(136, u16le(1)) +
                           item(24, u32le(0xFFFFFFFF) + u16le(0)) +
                           item(78, u32le(128) + u16le(0)) + item(0));
  bool found = false;
  for (const auto& it : q) found |= it.code == 107 && it.payload == "dba";
  EXPECT_TRUE(found);
  EXPECT_NE(srv_.log().find("connect: Kerberos principal dba@VQTEST.LOCAL is user dba"),
            std::string::npos);
}

TEST_F(KerberosServer, RefusedLoginsCarryARecord) {
  struct Case {
    const char* name;
    const char* user;  // whose ticket makes the token
    bool garble;       // a byte in the middle of the token flipped
    const char* keys;  // more connect-string keys
    bool token_first;  // the exchange completed: the server's token comes first
    std::int32_t code;
  };
  const Case cases[] = {
      {"garbled token", "dba", true, "", false, -1069},
      {"principal that is no user", "dbuser", false, "", true, -103},
      {"another user named", "dba", false, ";UID=someone", true, -103},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Client cl(srv_.port());
    ASSERT_EQ(cl.app_connect().size(), 312u);
    GssClient gss(service_principal());
    std::string token = first_token(gss, c.user);
    ASSERT_GT(token.size(), 100u);
    if (c.garble) token[token.size() / 2] = static_cast<char>(token[token.size() / 2] ^ 0x5a);
    const auto r = cl.request(kerberos_connect(token, c.keys));
    const std::size_t first = c.token_first ? 1 : 0;
    if (c.token_first) {
      EXPECT_EQ(code_at(r, 0), 18);
    }
    EXPECT_EQ(code_at(r, first), 0);
    ASSERT_EQ(code_at(r, first + 1), 65) << srv_.log();
    EXPECT_EQ(static_cast<std::int32_t>(rd32(r[first + 1].payload)), c.code);
  }
  // The garbled token's record carries the library's own text.
  EXPECT_NE(srv_.log().find("connect: Kerberos token refused: gss_accept_sec_context"),
            std::string::npos)
      << srv_.log();
}

// The service's key must be in the keytab when the server starts, not at the first login.
TEST_F(KerberosServer, StartNeedsTheServicesKeyInTheKeytab) {
  ServerProcess other;
  EXPECT_FALSE(other.start({"--kerberos-keytab=" + realm_->keytab_path("service.keytab"),
                            "--kerberos-service=other/localhost"}));
  EXPECT_EQ(other.status(), 255);
}

}  // namespace
