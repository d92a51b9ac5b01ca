// The scripted fault mode: rule parsing, and each action on a scripted session.
#include <gtest/gtest.h>

#include "fault_script.h"
#include "session_harness.h"

using namespace script;
using vqeng::FaultRule;

namespace {

std::int32_t record_code(const ReplyItem& it) {
  return static_cast<std::int32_t>(rd32(it.payload));
}

}  // namespace

TEST(FaultScript, Rules) {
  struct Case {
    const char* line;
    int request;
    unsigned nth;
    const char* text;
    FaultRule::Action action;
    std::int32_t code;
    const char* message;
    unsigned millis;
    int item;
  };
  const Case cases[] = {
      {"exec-immediate error -131 Syntax error near boom", 25, 0, "", FaultRule::Action::Record,
       -131, "Syntax error near boom", 0, 250},
      {"FETCH nth=2 warning 101", 35, 2, "", FaultRule::Action::Record, 101, "", 0, 250},
      {"any text=Orders delay 1500", -1, 0, "orders", FaultRule::Action::Delay, 0, "", 1500,
       250},
      {"24 drop", 24, 0, "", FaultRule::Action::Drop, 0, "", 0, 250},
      {"  commit   corrupt  ", 58, 0, "", FaultRule::Action::Corrupt, 0, "", 0, 250},
      {"prepare unexpected 7", 22, 0, "", FaultRule::Action::Unexpected, 0, "", 0, 7},
      {"open unexpected", 33, 0, "", FaultRule::Action::Unexpected, 0, "", 0, 250},
      {"connect nth=1 hang", 16, 1, "", FaultRule::Action::Hang, 0, "", 0, 250},
      {"get-data normal", 38, 0, "", FaultRule::Action::Normal, 0, "", 0, 250},
      {"connect garble-token", 16, 0, "", FaultRule::Action::GarbleToken, 0, "", 0, 250},
      {"commit message 1 -7 Backup done", 58, 0, "", FaultRule::Action::Message, -7,
       "Backup done", 0, 250},
      {"any notice 3 99", -1, 0, "", FaultRule::Action::Notice, 99, "", 0, 250},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    FaultRule r;
    bool empty = true;
    std::string why;
    ASSERT_TRUE(vqeng::parse_fault_rule(c.line, r, &empty, why)) << why;
    EXPECT_FALSE(empty);
    EXPECT_EQ(r.request, c.request);
    EXPECT_EQ(r.nth, c.nth);
    EXPECT_EQ(r.text, c.text);
    EXPECT_EQ(r.action, c.action);
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.message, c.message);
    EXPECT_EQ(r.millis, c.millis);
    EXPECT_EQ(r.item, c.item);
  }
  const char* bad[] = {"nosuch error -1",      "fetch",
                       "fetch explode",        "fetch error 5",
                       "fetch warning -5",     "fetch delay",
                       "fetch delay 9999999",  "fetch drop now",
                       "fetch nth=0 drop",     "fetch text= drop",
                       "fetch unexpected 300", "300 drop",
                       "commit message",       "commit message 300 1 x",
                       "commit notice 1 one",  "commit info 17",
                       "commit info 17 -1",    "commit info 300 1",
                       "connect redirect",     "connect redirect onlyname",
                       "connect garble-token 1"};
  for (const char* line : bad) {
    SCOPED_TRACE(line);
    FaultRule r;
    bool empty = false;
    std::string why;
    EXPECT_FALSE(vqeng::parse_fault_rule(line, r, &empty, why));
    EXPECT_FALSE(why.empty());
  }
  std::vector<FaultRule> rules;
  std::string why;
  EXPECT_TRUE(
      vqeng::parse_fault_script("# comment\n\ncommit hang\n  \nfetch drop\n", rules, why))
      << why;
  EXPECT_EQ(rules.size(), 2u);
  EXPECT_FALSE(vqeng::parse_fault_script("commit hang\nfetch sideways\n", rules, why));
  EXPECT_EQ(why.rfind("line 2: ", 0), 0u) << why;
}

class Faults : public ::testing::Test {
 protected:
  void script(const std::string& text) {
    std::string why;
    ASSERT_TRUE(vqeng::parse_fault_script(text, h_.config().faults, why)) << why;
  }
  void connect() {
    ASSERT_EQ(h_.app_connect().size(), 312u);
    ASSERT_EQ(h_.connect()[0].code, 133);
  }
  std::vector<ReplyItem> exec(const std::string& sql) { return h_.request(item(25, sql)); }
  SessionHarness h_;
};

TEST_F(Faults, RecordsReplaceTheStatus) {
  script(
      "exec-immediate text=boom error -131 Scripted syntax error\n"
      "commit nth=2 warning 101 Scripted warning\n");
  connect();
  auto r = exec("SELECT 'boom'");
  ASSERT_EQ(codes(r), (std::vector<int>{0, 44, 65, 135, 0, 0, 67, 67, 67, 67, 0}));
  EXPECT_EQ(record_code(r[2]), -131);
  EXPECT_EQ(r[3].payload, "Scripted syntax error");
  EXPECT_EQ(exec("SELECT 'calm'")[2].code, 66);  // the text does not match
  EXPECT_EQ(h_.request(item(58))[0].code, 66);   // the first commit
  r = h_.request(item(58));                      // the second
  EXPECT_EQ(record_code(r[0]), 101);
  EXPECT_EQ(h_.request(item(58))[0].code, 66);  // nth fires once
  EXPECT_TRUE(h_.logged("7 fault: commit nth=2 warning 101 Scripted warning"));
}

TEST_F(Faults, ConnectCanBeRefusedByScript) {
  script("connect error -77 Database server is still starting\n");
  ASSERT_EQ(h_.app_connect().size(), 312u);
  const auto r = h_.connect();
  ASSERT_GE(r.size(), 2u);
  EXPECT_EQ(record_code(r[1]), -77);
}

TEST_F(Faults, UnexpectedItemLeadsTheReply) {
  script("prepare unexpected 250\n");
  connect();
  const auto r = h_.request(item(22, "SELECT 1") + item(136, u16le(1)) + item(58));
  ASSERT_FALSE(r.empty());
  EXPECT_EQ(r[0].code, 250);
  EXPECT_EQ(r[1].code, 30);       // then the prepare's own reply
  EXPECT_EQ(codes(r).back(), 0);  // and the commit's
  EXPECT_FALSE(h_.session().closed());
}

TEST_F(Faults, HangDelayDropAndCorrupt) {
  struct Case {
    const char* rule;
    bool answered;
    bool closed;
    int first_type;
  };
  const Case cases[] = {
      {"commit hang", false, false, 0},
      {"commit delay 30", true, false, 24},
      {"commit drop", false, true, 0},
      {"commit corrupt", true, false, 9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rule);
    SessionHarness h;
    std::string why;
    ASSERT_TRUE(vqeng::parse_fault_script(c.rule, h.config().faults, why)) << why;
    ASSERT_EQ(h.app_connect().size(), 312u);
    ASSERT_EQ(h.connect()[0].code, 133);
    const std::string pk = packet(24, 1, item(58));
    h.session().feed(reinterpret_cast<const std::uint8_t*>(pk.data()), pk.size());
    h.session().run();
    const std::string out = h.session().take_output();
    EXPECT_EQ(h.session().closed(), c.closed);
    if (c.answered) {
      ASSERT_GE(out.size(), 4u);
      EXPECT_EQ(out[0], c.first_type);
    } else if (c.closed) {
      // Half a packet went out before the close.
      EXPECT_GT(out.size(), 0u);
      const std::size_t len =
          (static_cast<std::uint8_t>(out[2]) << 8) | static_cast<std::uint8_t>(out[3]);
      EXPECT_LT(out.size(), len);
    } else {
      EXPECT_TRUE(out.empty());
    }
  }
}

TEST_F(Faults, AnAttentionEndsAHangOrADelay) {
  script("commit hang\nrollback delay 600000\n");
  connect();
  EXPECT_TRUE(h_.exchange(packet(24, 1, item(58))).empty());
  auto pk = h_.exchange(packet(16, 0x05, ""));
  ASSERT_EQ(pk.size(), 1u);
  EXPECT_EQ(pk[0].status, 0x03);
  // An attention that arrives while the reply waits ends the wait.
  bool sent = false;
  h_.session().set_poll_hook([&] {
    if (sent) return;
    sent = true;
    const std::string att = packet(16, 0x05, "");
    h_.session().feed(reinterpret_cast<const std::uint8_t*>(att.data()), att.size());
  });
  pk = h_.exchange(packet(24, 1, item(59)));
  h_.session().set_poll_hook(nullptr);
  ASSERT_EQ(pk.size(), 1u);
  EXPECT_EQ(pk[0].status, 0x03);
  // Other requests are answered as usual.
  const auto r = exec("SELECT 1");
  ASSERT_GE(r.size(), 3u);
  EXPECT_EQ(r[2].code, 66);
}

TEST_F(Faults, RulesSetOnTheConnection) {
  connect();
  // Through SQL, and through the set-option request.
  EXPECT_EQ(exec("SET TEMPORARY OPTION vqeng_fault = 'commit error -210 Row locked'")[2].code,
            66);
  auto r = h_.request(item(58));
  EXPECT_EQ(record_code(r[0]), -210);
  r = h_.request(item(49, std::string(1, '\1')) + item(134, "vqeng_fault") + item(134) +
                 item(107, "commit nonsense"));
  EXPECT_EQ(record_code(r[0]), -200);
  EXPECT_NE(r[1].payload.find("unknown action"), std::string::npos) << r[1].payload;
  // An empty value clears this connection's rules.
  EXPECT_EQ(h_.request(item(49, std::string(1, '\1')) + item(134, "vqeng_fault") + item(134) +
                       item(107, ""))[0]
                .code,
            66);
  EXPECT_EQ(h_.request(item(58))[0].code, 66);
  // The rule is not an option a client can read back.
  r = h_.request(item(50) + item(134, "vqeng_fault") + item(134) +
                 item(78, u32le(80) + u16le(0)));
  EXPECT_EQ(record_code(r[1]), -200);
}

TEST_F(Faults, ServerMessagesAsItemsAndImmediatePackets) {
  script(
      "commit message 2 1234 Checkpoint finished\nrollback notice 5 77 Shutting down soon\n");
  connect();
  // Item 2 and its text lead the reply; the client's reader takes them itself.
  auto r = h_.request(item(58));
  ASSERT_EQ(codes(r), (std::vector<int>{2, 135, 66, 67, 67, 0}));
  EXPECT_EQ(r[0].payload, std::string(1, '\2') + u32le(1234));
  EXPECT_EQ(r[1].payload, "Checkpoint finished");
  // An immediate packet goes out ahead of the reply message.
  const auto pks = h_.exchange(packet(24, 1, item(59)));
  ASSERT_EQ(pks.size(), 2u);
  EXPECT_EQ(pks[0].type, 26);
  EXPECT_EQ(pks[0].body, (std::string{6, 2, 5} + u32le(77) + "Shutting down soon"));
  EXPECT_EQ(pks[1].type, 24);
  EXPECT_EQ(pks[1].status & 1, 1);
}

TEST_F(Faults, ScriptedInformationItems) {
  script("exec-immediate info 17 64\ncommit info 20 5\n");
  connect();
  // Slot 17 (the flags word) takes the scripted value in place of its own.
  auto r = exec("CREATE TABLE inf(a INTEGER)");
  ASSERT_EQ(codes(r), (std::vector<int>{0, 44, 66, 67, 67, 67, 67, 0}));
  EXPECT_EQ(rd32(r[6].payload), 64u);
  EXPECT_EQ(static_cast<std::uint8_t>(r[6].payload[4]), 17);
  // A slot the reply does not carry joins it.
  r = h_.request(item(58));
  ASSERT_EQ(codes(r), (std::vector<int>{66, 67, 67, 67, 0}));
  EXPECT_EQ(rd32(r[3].payload), 5u);
  EXPECT_EQ(static_cast<std::uint8_t>(r[3].payload[4]), 20);
}

TEST_F(Faults, ConnectRedirection) {
  script("connect nth=1 redirect other Host=127.0.0.1:5001;DBN=demo\n");
  ASSERT_EQ(h_.app_connect().size(), 312u);
  const auto r = h_.connect();
  ASSERT_EQ(codes(r), (std::vector<int>{134, 107, 0, 66, 67, 67, 0}));
  EXPECT_EQ(r[0].payload, "other");
  EXPECT_EQ(r[1].payload, "Host=127.0.0.1:5001;DBN=demo");
  // The connection stays for the client to drop once it has read the list: a close
  // sent right behind the reply could reach the client first and hide the reply.
  EXPECT_FALSE(h_.session().closed());
  EXPECT_TRUE(h_.logged("connect redirected to other"));
  h_.session().peer_closed();
  EXPECT_EQ(h_.session().close_reason(), "peer closed before connecting");
  // Below protocol level 15 there is no redirection: the connect goes on.
  SessionHarness old;
  std::string why;
  ASSERT_TRUE(
      vqeng::parse_fault_script("connect redirect other Host=x", old.config().faults, why))
      << why;
  AppConnectFields f;
  f.minor = 14;
  ASSERT_FALSE(old.app_connect(f).empty());
  EXPECT_EQ(old.connect()[0].code, 133);
}
