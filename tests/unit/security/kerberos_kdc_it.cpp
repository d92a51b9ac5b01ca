// The Kerberos binding against the system's GSS-API library and a real KDC.
//
// The fixture makes a throwaway realm (tests/support/kdc_realm.h) with a client and a
// service principal, each with a keytab, and gets the client's ticket into a private
// credential cache. Everything is stopped and removed at the end, and the KDC dies
// with this process if that ends early. The tests skip when the KDC programs are not
// installed.
//
// The server side is checked twice: by the binding's own acceptor functions, and by
// the GSS-API library called directly, as an independent judge of the client's tokens.
#include <gssapi/gssapi.h>
#include <gssapi/gssapi_krb5.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "kdc_realm.h"
#include "security/kerberos.h"

// In the sanitizer build: the system's library keeps a copy of the principal when it
// fails to acquire an accepting credential, which nobody can give back. Its code has no
// frame pointers, so only the slow unwinder sees the call that the suppression names.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_suppressions() { return "leak:gss_add_cred_from\n"; }

namespace {

constexpr const char* kRealm = "VQTEST.LOCAL";
constexpr const char* kClient = "dbuser";
constexpr const char* kService = "vellum/localhost";

struct Messages {
  std::vector<std::string> texts;
  static void Collect(const char* text, void* context) {
    static_cast<Messages*>(context)->texts.emplace_back(text);
  }
  std::string All() const {
    std::string all;
    for (const auto& t : texts) all += t + "\n";
    return all;
  }
};

class KdcRealm : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    skip_reason_ = vqtest::KdcRealm::missing_programs();
    if (!skip_reason_.empty()) return;
    realm_ = new vqtest::KdcRealm(kRealm);
    setup_error_ = realm_->start({{kClient, "client.keytab"}, {kService, "service.keytab"}});
    if (!setup_error_.empty()) return;
    // The binding's acceptor takes its key from the default keytab.
    setenv("KRB5_KTNAME", ("FILE:" + realm_->keytab_path("service.keytab")).c_str(), 1);
    ccache_ = "FILE:" + (realm_->dir() / "ccache").string();
    setenv("KRB5CCNAME", ccache_.c_str(), 1);
    setup_error_ = realm_->kinit(kClient, "client.keytab", ccache_);
  }

  static void TearDownTestSuite() {
    delete realm_;  // stops the KDC and removes the realm
    realm_ = nullptr;
  }

 protected:
  void SetUp() override {
    if (!skip_reason_.empty()) GTEST_SKIP() << skip_reason_;
    ASSERT_TRUE(setup_error_.empty()) << setup_error_;
    setenv("KRB5CCNAME", ccache_.c_str(), 1);
    ASSERT_EQ(KerberosInit(nullptr, Messages::Collect, nullptr, &messages_), 1)
        << messages_.All();
    messages_.texts.clear();
  }
  void TearDown() override {
    if (skip_reason_.empty() && setup_error_.empty()) KerberosFini();
  }

  static std::string Principal(const char* name) { return std::string(name) + "@" + kRealm; }

  Messages messages_;
  static std::string ccache_;

 private:
  static inline vqtest::KdcRealm* realm_ = nullptr;
  static inline std::string skip_reason_;
  static inline std::string setup_error_;
};

std::string KdcRealm::ccache_;

std::string Bytes(const void* data, std::size_t length) {
  return data == nullptr ? std::string() : std::string(static_cast<const char*>(data), length);
}

TEST(KerberosSystemLibrary, LoadsByTheDefaultAndTheVersionedName) {
  struct Case {
    const char* library;
    const char* loaded;  // start of the name the message reports
  };
  const Case cases[] = {{nullptr, "libgssapi_krb5.so"},
                        {"", "libgssapi_krb5.so"},
                        {"libgssapi_krb5.so.2", "libgssapi_krb5.so.2"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.loaded);
    Messages messages;
    ASSERT_EQ(KerberosInit(c.library, Messages::Collect, nullptr, &messages), 1)
        << messages.All();
    ASSERT_EQ(messages.texts.size(), 1u);
    EXPECT_EQ(messages.texts[0].rfind(std::string("[14992] GSS-API library ") + c.loaded, 0),
              0u)
        << messages.texts[0];
    KerberosFini();
  }
}

TEST_F(KdcRealm, ClientTokenIsAcceptedAndTheServerIsVerified) {
  KerberosServerCred* cred = KerberosInitServerCred(nullptr, &messages_, kService, kRealm);
  ASSERT_NE(cred, nullptr) << messages_.All();
  EXPECT_STREQ(KerberosServerGetPrincipal(cred), Principal(kService).c_str());

  KerberosClientState* client =
      KerberosClientGetAuthBlock(nullptr, &messages_, Principal(kService).c_str());
  ASSERT_NE(client, nullptr) << messages_.All();
  ASSERT_GT(client->token_length, 0u);

  KerberosServerConnState* server =
      KerberosServerAuthClient(cred, nullptr, client->token, client->token_length);
  ASSERT_NE(server, nullptr) << messages_.All();
  EXPECT_EQ(server->continue_needed, 0);
  EXPECT_STREQ(server->principal, Principal(kClient).c_str());
  ASSERT_GT(server->reply_length, 0u) << "mutual authentication answers with a token";

  ASSERT_EQ(KerberosClientVerifyServerAuthBlock(client, server->reply, server->reply_length), 1)
      << messages_.All();
  EXPECT_EQ(client->token_length, 0u);
  EXPECT_EQ(client->continue_needed, 0);

  // A server reply that was tampered with does not verify.
  KerberosClientState* second =
      KerberosClientGetAuthBlock(nullptr, &messages_, Principal(kService).c_str());
  ASSERT_NE(second, nullptr);
  KerberosServerConnState* other =
      KerberosServerAuthClient(cred, nullptr, second->token, second->token_length);
  ASSERT_NE(other, nullptr) << messages_.All();
  std::string bad = Bytes(other->reply, other->reply_length);
  bad[bad.size() / 2] ^= 0x5a;
  EXPECT_EQ(KerberosClientVerifyServerAuthBlock(second, bad.data(), bad.size()), 0);
  EXPECT_NE(messages_.All().find("[14994] Kerberos error in gss_init_sec_context (2): "),
            std::string::npos)
      << messages_.All();

  KerberosFiniServerConnState(other);
  KerberosFiniClientState(second);
  KerberosFiniServerConnState(server);
  KerberosFiniClientState(client);
  KerberosFiniServerCred(cred);
}

// The library's own acceptor, called directly, takes the client's token and its reply
// completes the client's context.
TEST_F(KdcRealm, TheLibraryItselfAcceptsTheClientToken) {
  KerberosClientState* client =
      KerberosClientGetAuthBlock(nullptr, &messages_, Principal(kService).c_str());
  ASSERT_NE(client, nullptr) << messages_.All();

  OM_uint32 minor = 0;
  gss_ctx_id_t context = GSS_C_NO_CONTEXT;
  gss_buffer_desc input{client->token_length, client->token};
  gss_buffer_desc output{0, nullptr};
  gss_name_t source = GSS_C_NO_NAME;
  OM_uint32 flags = 0;
  const OM_uint32 major = gss_accept_sec_context(&minor, &context, GSS_C_NO_CREDENTIAL, &input,
                                                 GSS_C_NO_CHANNEL_BINDINGS, &source, nullptr,
                                                 &output, &flags, nullptr, nullptr);
  ASSERT_EQ(major, static_cast<OM_uint32>(GSS_S_COMPLETE)) << "minor " << minor;
  EXPECT_TRUE(flags & GSS_C_MUTUAL_FLAG);
  EXPECT_TRUE(flags & GSS_C_REPLAY_FLAG);
  gss_buffer_desc shown{0, nullptr};
  ASSERT_EQ(gss_display_name(&minor, source, &shown, nullptr),
            static_cast<OM_uint32>(GSS_S_COMPLETE));
  EXPECT_EQ(Bytes(shown.value, shown.length), Principal(kClient));

  EXPECT_EQ(KerberosClientVerifyServerAuthBlock(client, output.value, output.length), 1)
      << messages_.All();
  EXPECT_EQ(client->continue_needed, 0);

  gss_release_buffer(&minor, &shown);
  gss_release_buffer(&minor, &output);
  gss_release_name(&minor, &source);
  gss_delete_sec_context(&minor, &context, GSS_C_NO_BUFFER);
  KerberosFiniClientState(client);
}

TEST_F(KdcRealm, FailuresAreReportedWithTheLibrarysText) {
  struct Case {
    const char* name;
    std::string principal;
    bool empty_cache;
    const char* where;
    const char* detail;  // part of the mechanism's own text, as the KDC or cache told it
  };
  const Case cases[] = {
      {"unknown service", Principal("nosuch/service"), false, "gss_init_sec_context (1)",
       "not found in Kerberos database"},
      {"no credentials", Principal(kService), true, "gss_init_sec_context (1)",
       "No Kerberos credentials available"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    messages_.texts.clear();
    if (c.empty_cache) setenv("KRB5CCNAME", (ccache_ + ".empty").c_str(), 1);
    EXPECT_EQ(KerberosClientGetAuthBlock(nullptr, &messages_, c.principal.c_str()), nullptr);
    setenv("KRB5CCNAME", ccache_.c_str(), 1);
    ASSERT_FALSE(messages_.texts.empty());
    EXPECT_NE(messages_.All().find(c.detail), std::string::npos) << messages_.All();
    for (const auto& text : messages_.texts) {
      EXPECT_EQ(text.rfind(std::string("[14994] Kerberos error in ") + c.where + ": ", 0), 0u)
          << text;
    }
  }

  // The acceptor refuses bytes that are no token.
  KerberosServerCred* cred = KerberosInitServerCred(nullptr, &messages_, kService, kRealm);
  ASSERT_NE(cred, nullptr) << messages_.All();
  messages_.texts.clear();
  const char junk[] = "\x60\x10 not a real token at all";
  EXPECT_EQ(KerberosServerAuthClient(cred, nullptr, junk, sizeof junk), nullptr);
  EXPECT_NE(messages_.All().find("[14994] Kerberos error in gss_accept_sec_context: "),
            std::string::npos)
      << messages_.All();
  KerberosFiniServerCred(cred);

  // A service the keytab has no key for gets no accepting credential.
  messages_.texts.clear();
  EXPECT_EQ(KerberosInitServerCred(nullptr, &messages_, "other/localhost", kRealm), nullptr);
  EXPECT_NE(messages_.All().find("[14994] Kerberos error in gss_acquire_cred: "),
            std::string::npos)
      << messages_.All();
}

}  // namespace
