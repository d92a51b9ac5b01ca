// Kerberos logins in the session, with a scripted service in place of the GSS-API
// library: the token items of the connect, the rounds of the exchange, the
// principal's user, and the records of a refused login. The exchange with the real
// library and a KDC is in server_kerberos_it.cpp.
#include "kerberos_login.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fault_script.h"
#include "session_harness.h"

using namespace script;

namespace {

constexpr const char* kService = "vqeng/localhost@TEST.REALM";

// Tokens tell the scripted context what to answer:
//   "complete|PRINCIPAL|REPLY", "continue|REPLY", "fail|WHY".
struct Script {
  std::vector<std::string> seen;  // every token accepted, whole
};

class ScriptedContext final : public vqeng::KerberosContext {
 public:
  explicit ScriptedContext(Script* s) : s_(s) {}
  vqeng::KerberosStep accept(const std::string& token) override {
    s_->seen.push_back(token);
    std::vector<std::string> f;
    std::size_t at = 0;
    for (;;) {
      const auto bar = token.find('|', at);
      f.push_back(token.substr(at, bar == std::string::npos ? bar : bar - at));
      if (bar == std::string::npos) break;
      at = bar + 1;
    }
    vqeng::KerberosStep step;
    if (f[0] == "complete" && f.size() == 3) {
      step.outcome = vqeng::KerberosStep::Outcome::Complete;
      step.principal = f[1];
      step.reply_token = f[2];
    } else if (f[0] == "continue" && f.size() == 2) {
      step.outcome = vqeng::KerberosStep::Outcome::Continue;
      step.reply_token = f[1];
    } else {
      step.why = f.size() > 1 ? f[1] : "defective token";
    }
    return step;
  }

 private:
  Script* s_;
};

class ScriptedService final : public vqeng::KerberosService {
 public:
  explicit ScriptedService(Script* s) : s_(s) {}
  const std::string& principal() const override { return principal_; }
  std::unique_ptr<vqeng::KerberosContext> new_context() const override {
    return std::make_unique<ScriptedContext>(s_);
  }

 private:
  Script* s_;
  std::string principal_ = kService;
};

std::int32_t record_code(const ReplyItem& it) {
  return static_cast<std::int32_t>(rd32(it.payload));
}

// A token item, short or long as its size needs.
std::string token_item(const std::string& token) {
  return token.size() > 250 ? long_item(18, token) : item(18, token);
}

// The connect of a Kerberos login: connect string, handle, an empty enciphered
// part (nothing secret to carry), the token.
std::string kerberos_connect(const std::string& token, const std::string& keys = "") {
  return item(16, "DBN=demo;KERBEROS=YES" + keys) + item(133, u32le(0)) + item(20) +
         token_item(token);
}

class KerberosLogin : public ::testing::Test {
 protected:
  void SetUp() override {
    h_.config().kerberos = std::make_shared<ScriptedService>(&script_);
    h_.app_connect();
  }
  Script script_;
  SessionHarness h_;
};

TEST_F(KerberosLogin, OneRoundConnectsWithTheServersTokenFirst) {
  const auto r = h_.request(kerberos_connect("complete|dba@TEST.REALM|mutual-reply"));
  ASSERT_EQ(codes(r), (std::vector<int>{18, 133, 66, 67, 67, 0}));
  EXPECT_EQ(r[0].payload, "mutual-reply");
  EXPECT_TRUE(h_.session().connected());
  EXPECT_TRUE(h_.logged("connect: Kerberos principal dba@TEST.REALM is user dba"));
  // The session is the mapped user's.
  const auto q = h_.request(item(22, "SELECT CURRENT USER") + item(136, u16le(1)) +
                            item(24, u32le(0xFFFFFFFF) + u16le(0)) +
                            item(78, u32le(128) + u16le(0)) + item(0));
  bool found = false;
  for (const auto& it : q) found |= it.code == 107 && it.payload == "dba";
  EXPECT_TRUE(found);
}

// The scripted fault "garble-token" changes one byte of the token the reply carries,
// whether it completes the exchange or asks for another round; the rest of the reply
// stands.
TEST_F(KerberosLogin, ScriptedFaultGarblesTheServersToken) {
  std::string why;
  ASSERT_TRUE(vqeng::parse_fault_script("connect garble-token\n", h_.config().faults, why))
      << why;
  struct Case {
    const char* token;
    const char* reply;
    std::vector<int> codes;
  };
  const Case cases[] = {
      {"continue|round-1", "round-1", {18}},
      {"complete|dba@TEST.REALM|mutual-reply", "mutual-reply", {18, 133, 66, 67, 67, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.token);
    const auto r = h_.request(kerberos_connect(c.token));
    ASSERT_EQ(codes(r), c.codes);
    const std::string sent = c.reply;
    ASSERT_EQ(r[0].payload.size(), sent.size());
    int changed = 0;
    for (std::size_t i = 0; i < sent.size(); ++i) changed += r[0].payload[i] != sent[i] ? 1 : 0;
    EXPECT_EQ(changed, 1);
  }
  EXPECT_TRUE(h_.logged("fault: Kerberos token garbled"));
}

TEST_F(KerberosLogin, FurtherRoundsEachGetATokenAlone) {
  auto r = h_.request(kerberos_connect("continue|round-1", ";UID=DBA"));
  ASSERT_EQ(codes(r), (std::vector<int>{18}));
  EXPECT_EQ(r[0].payload, "round-1");
  EXPECT_FALSE(h_.session().connected());
  r = h_.request(item(18, "continue|round-2"));
  ASSERT_EQ(codes(r), (std::vector<int>{18}));
  r = h_.request(item(18, "complete|dba@TEST.REALM|last"));
  ASSERT_EQ(codes(r), (std::vector<int>{18, 133, 66, 67, 67, 0}));
  EXPECT_EQ(r[0].payload, "last");
  EXPECT_TRUE(h_.session().connected());
  EXPECT_EQ(script_.seen.size(), 3u);
}

TEST_F(KerberosLogin, LongTokensEitherWay) {
  // The reply names 700 bytes to send back, which makes the client's token long too.
  const std::string reply(700, 'r');
  const auto r = h_.request(item(16, "KERBEROS=YES") + item(133, u32le(0)) + item(20) +
                            long_item(18, "complete|dba@TEST.REALM|" + reply));
  ASSERT_TRUE(h_.parse_ok());
  ASSERT_EQ(codes(r), (std::vector<int>{18, 133, 66, 67, 67, 0}));
  EXPECT_EQ(r[0].length, 251);  // a long item
  EXPECT_EQ(r[0].payload, reply);
  ASSERT_EQ(script_.seen.size(), 1u);
  EXPECT_EQ(script_.seen[0].size(), 24 + reply.size());
}

// Every refusal has the shape of a refused password: an empty first item (after the
// server's token when the exchange itself completed), the record, slots 19 and 24.
// The connection stays, and the client may try again.
TEST_F(KerberosLogin, RefusalsSayWhy) {
  struct Case {
    const char* name;
    std::string request;
    std::int32_t code;
    bool token_first;
    const char* text;  // part of the record's text
  };
  const Case cases[] = {
      {"garbled token", kerberos_connect("fail|Invalid token was supplied"), -1069, false,
       "Kerberos login failed: Invalid token was supplied"},
      {"no token", item(16, "KERBEROS=YES") + item(133, u32le(0)) + item(20), -1069, false,
       "carries no Kerberos token"},
      {"empty token", kerberos_connect(""), -1069, false, "carries no Kerberos token"},
      {"principal is no user", kerberos_connect("complete|dbuser@TEST.REALM|ok"), -103, true,
       "dbuser@TEST.REALM is not mapped to a user"},
      {"principal of another realm", kerberos_connect("complete|dba@OTHER.REALM|ok"), -103,
       true, "not mapped"},
      {"a service's principal", kerberos_connect("complete|dba/admin@TEST.REALM|ok"), -103,
       true, "not mapped"},
      {"another user named", kerberos_connect("complete|dba@TEST.REALM|ok", ";UID=somebody"),
       -103, true, "logs in as user dba, not as somebody"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Script script;
    SessionHarness h;
    h.config().kerberos = std::make_shared<ScriptedService>(&script);
    h.app_connect();
    const auto r = h.request(c.request);
    ASSERT_TRUE(h.parse_ok());
    const std::size_t first = c.token_first ? 1 : 0;
    ASSERT_GE(r.size(), first + 3);
    if (c.token_first) {
      EXPECT_EQ(r[0].code, 18);
    }
    EXPECT_EQ(r[first].code, 0);
    ASSERT_EQ(r[first + 1].code, 65);
    EXPECT_EQ(record_code(r[first + 1]), c.code);
    ASSERT_EQ(r[first + 2].code, 135);
    EXPECT_NE(r[first + 2].payload.find(c.text), std::string::npos) << r[first + 2].payload;
    const auto all = codes(r);
    EXPECT_EQ(std::vector<int>(all.end() - 3, all.end()), (std::vector<int>{67, 67, 0}));
    EXPECT_FALSE(h.session().connected());
    EXPECT_FALSE(h.session().closed());
    // A password login on the same connection still works.
    EXPECT_EQ(codes(h.connect()).front(), 133);
  }
}

TEST_F(KerberosLogin, ServerInformationNamesTheServiceBeforeTheConnect) {
  // Kind 0 with a 512-byte text definition, as a client asks before its connect.
  const std::string def = item(78, u32le(512) + u16le(0));
  auto r = h_.request(item(6, u16le(0)) + def);
  ASSERT_EQ(codes(r), (std::vector<int>{107, 0, 66, 67, 0}));
  EXPECT_EQ(r[0].payload, kService);
  // Without a keytab the server says it takes no Kerberos logins, and refuses one.
  SessionHarness plain;
  plain.app_connect();
  r = plain.request(item(6, u16le(0)) + def);
  ASSERT_GE(r.size(), 2u);
  EXPECT_EQ(r[0].code, 0);
  EXPECT_EQ(record_code(r[1]), -1070);
  r = plain.request(kerberos_connect("complete|dba@TEST.REALM|ok"));
  ASSERT_GE(r.size(), 2u);
  EXPECT_EQ(r[0].code, 0);
  EXPECT_EQ(record_code(r[1]), -1070);
  EXPECT_FALSE(plain.session().connected());
}

TEST_F(KerberosLogin, ExchangeEndsWhenSomethingElseComes) {
  ASSERT_EQ(codes(h_.request(kerberos_connect("continue|more"))), (std::vector<int>{18}));
  // A request other than a token abandons the exchange; a token after it is then
  // no request the server knows before a connect.
  h_.request(item(3, u32le(60)));  // time zone: taken quietly
  const auto r = h_.request(item(18, "complete|dba@TEST.REALM|late"));
  ASSERT_GE(r.size(), 2u);
  EXPECT_EQ(record_code(r[0]), -308);
  EXPECT_TRUE(h_.session().closed());
  EXPECT_EQ(script_.seen.size(), 1u);
}

TEST_F(KerberosLogin, ItemsAfterTheTokenAreAProtocolError) {
  const auto r = h_.request(kerberos_connect("complete|dba@TEST.REALM|ok") + item(3, u32le(0)));
  ASSERT_GE(r.size(), 2u);
  EXPECT_EQ(record_code(r[0]), -308);
  EXPECT_TRUE(h_.session().closed());
  EXPECT_TRUE(script_.seen.empty());
}

TEST(KerberosUser, PrincipalsOfTheServicesRealmOnly) {
  struct Case {
    const char* principal;
    const char* user;
  };
  const Case cases[] = {
      {"dba@TEST.REALM", "dba"},    {"Some.One@TEST.REALM", "Some.One"},
      {"dba@OTHER.REALM", ""},      {"dba@test.realm", ""},  // realms are case-sensitive
      {"dba/admin@TEST.REALM", ""}, {"dba", ""},
      {"@TEST.REALM", ""},          {"dba@TEST.REALM.EXTRA", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.principal);
    EXPECT_EQ(vqeng::kerberos_user_of(c.principal, kService), c.user);
  }
}

}  // namespace
