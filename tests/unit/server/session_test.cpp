#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <zlib.h>

#include <random>

#include "session_harness.h"

using namespace script;

namespace {

// Items of a combined prepare + execute with column variables.
std::string prepare_items(const std::string& sql) {
  return (sql.size() > 250 ? long_item(22, sql) : item(22, sql)) + item(136, u16le(1));
}
std::string execute_items(std::uint32_t handle, const std::string& col_vars) {
  return item(24, u32le(handle) + u16le(0)) + col_vars + item(0);
}
std::string def_short(std::uint8_t code) { return item(code, u16le(0)); }
std::string def_long(std::uint8_t code, std::uint32_t len) {
  return item(code, u32le(len) + u16le(0));
}

std::int32_t record_code(const ReplyItem& it) {
  return static_cast<std::int32_t>(rd32(it.payload));
}

// Index of the first item with this code, or -1.
int find(const std::vector<ReplyItem>& items, int code, int from = 0) {
  for (std::size_t i = static_cast<std::size_t>(from); i < items.size(); ++i)
    if (items[i].code == code) return static_cast<int>(i);
  return -1;
}

class ConnectedSession : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(h_.app_connect().size(), 312u);
    const auto r = h_.connect();
    ASSERT_FALSE(r.empty());
    ASSERT_EQ(r[0].code, 133);
    ASSERT_TRUE(h_.session().connected());
  }
  std::vector<ReplyItem> exec_imm(const std::string& sql) { return h_.request(item(25, sql)); }
  SessionHarness h_;
};

}  // namespace

TEST(Session, AppConnectWhateverTheCuts) {
  SessionHarness whole, bytewise;
  const std::string a = whole.app_connect();
  ASSERT_EQ(a.size(), 312u);
  std::string pk = packet(25, 0x21, std::string(1, '\0') + app_connect_record({}));
  vqeng::scramble_packet(reinterpret_cast<std::uint8_t*>(&pk[0]),
                         static_cast<std::uint32_t>(pk.size()));
  const auto reply = bytewise.exchange(pk, true);
  ASSERT_EQ(reply.size(), 1u);
  EXPECT_EQ(reply[0].body.substr(1), a);
  EXPECT_EQ(reply[0].status & 0x01, 0x01);
  EXPECT_EQ(a.substr(178, 32), std::string(reinterpret_cast<const char*>(whole.random()), 32));
  EXPECT_TRUE(whole.logged("7 app-connect minor=15 packet=7300 encryption=0 compression=0"));
  EXPECT_TRUE(whole.logged("charset=UTF-8 label= os-charset= language=en"));
}

TEST(Session, ConnectChecksTheEncipheredPassword) {
  SessionHarness h;
  h.app_connect();
  const auto bad = h.connect("dba", "wrong");
  // A refusal ends like an acceptance: status, then information slots 19 and 24.
  ASSERT_EQ(codes(bad), (std::vector<int>{0, 65, 135, 0, 0, 67, 67, 0}));
  EXPECT_EQ(record_code(bad[1]), -103);
  EXPECT_EQ(bad[1].payload.substr(4),
            "2800028000"
            "28000");
  EXPECT_EQ(static_cast<std::uint8_t>(bad[5].payload[4]), 19);
  EXPECT_EQ(static_cast<std::uint8_t>(bad[6].payload[4]), 24);
  EXPECT_FALSE(h.session().connected());
  const auto good = h.connect("dba", "sql");
  ASSERT_EQ(codes(good), (std::vector<int>{133, 66, 67, 67, 0}));
  EXPECT_EQ(rd32(good[0].payload), 7u);  // the connection number
  EXPECT_EQ(static_cast<std::uint8_t>(good[2].payload[4]), 19);
  EXPECT_EQ(static_cast<std::uint8_t>(good[3].payload[4]), 24);
  EXPECT_TRUE(
      h.logged("connect UID=dba DBN=demo APP=IP=127.0.0.1;API=QuillonJDBC PWD=enciphered"));
  for (const auto& l : h.log()) EXPECT_EQ(l.find("sql"), std::string::npos) << l;
}

// The log shows the node type a client asked for, after the other keys.
TEST(Session, ConnectLogNamesTheNodeType) {
  SessionHarness h;
  h.app_connect();
  std::string body = item(16, "UID=dba;DBN=demo;ENG=demo;NODETYPE=PRIMARY");
  body += item(133, u32le(0));
  body += item(20, encipher("PWD=sql", h.random()));
  ASSERT_EQ(codes(h.request(body)), (std::vector<int>{133, 66, 67, 67, 0}));
  EXPECT_TRUE(h.logged("connect UID=dba DBN=demo ENG=demo NODETYPE=PRIMARY PWD=enciphered"));
}

TEST(Session, RefusedConnectsCarryTheirInformationItems) {
  struct Case {
    const char* name;
    std::string uid, pwd, dbn;
    std::int32_t code;
  };
  const Case cases[] = {
      {"wrong password", "dba", "bad", "demo", -103},
      {"password differs in case", "dba", "SQL", "demo", -103},
      {"unknown user", "nobody", "sql", "demo", -103},
      {"unknown database", "dba", "sql", "elsewhere", -83},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SessionHarness h;
    h.config().database_name = "demo";
    h.config().database_named = true;
    h.app_connect();
    const auto r = h.request(item(16, "UID=" + c.uid + ";DBN=" + c.dbn) + item(133, u32le(0)) +
                             item(20, encipher("PWD=" + c.pwd, h.random())));
    ASSERT_TRUE(h.parse_ok());
    ASSERT_GE(r.size(), 8u);
    EXPECT_EQ(r[0].code, 0);
    EXPECT_EQ(record_code(r[1]), c.code);
    const auto all = codes(r);
    EXPECT_EQ(std::vector<int>(all.end() - 3, all.end()), (std::vector<int>{67, 67, 0}));
    EXPECT_EQ(static_cast<std::uint8_t>(r[r.size() - 3].payload[4]), 19);
    EXPECT_EQ(static_cast<std::uint8_t>(r[r.size() - 2].payload[4]), 24);
    EXPECT_FALSE(h.session().connected());
    EXPECT_FALSE(h.session().closed());  // the client may try again on the same connection
  }
}

TEST(Session, UserIdsCompareWithoutRegardToCase) {
  for (const char* uid : {"dba", "DBA", "Dba"}) {
    SCOPED_TRACE(uid);
    SessionHarness h;
    h.app_connect();
    const auto r = h.connect(uid, "sql");
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(r[0].code, 133);
    // The session's user is the account's own name, however the client spelt it.
    const auto q = h.request(item(22, "SELECT CURRENT USER") + item(136, u16le(1)) +
                             item(24, u32le(0xFFFFFFFF) + u16le(0)) +
                             item(78, u32le(128) + u16le(0)) + item(0));
    bool found = false;
    for (const auto& it : q) found |= it.code == 107 && it.payload == "dba";
    EXPECT_TRUE(found);
  }
}

TEST(Session, PlainSecretsAreRefusedFromLevelThirteen) {
  struct Case {
    const char* name;
    unsigned minor;
    std::string items;
    bool accepted;
  };
  SessionHarness probe;  // every harness hands out the same random bytes
  const std::string sec = item(20, encipher("PWD=sql", probe.random()));
  const Case cases[] = {
      {"level 15, password in plain, no enciphered part", 15,
       item(16, "UID=dba;PWD=sql") + item(133, u32le(0)), false},
      {"level 13, password in plain, no enciphered part", 13,
       item(16, "UID=dba;PWD=sql") + item(133, u32le(0)), false},
      {"level 15, password in both", 15,
       item(16, "UID=dba;PWD=sql") + item(133, u32le(0)) + sec, false},
      {"level 15, database key in plain", 15,
       item(16, "UID=dba;DBKEY=k") + item(133, u32le(0)) + sec, false},
      {"level 15, new password in plain", 15,
       item(16, "UID=dba;NEWPWD=n") + item(133, u32le(0)) + sec, false},
      {"level 15, enciphered part only", 15, item(16, "UID=dba") + item(133, u32le(0)) + sec,
       true},
      {"level 12, password in plain", 12, item(16, "UID=dba;PWD=sql") + item(133, u32le(0)),
       true},
      {"level 12, enciphered part", 12, item(16, "UID=dba") + item(133, u32le(0)) + sec, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SessionHarness h;
    AppConnectFields f;
    f.minor = c.minor;
    ASSERT_FALSE(h.app_connect(f).empty());
    const auto r = h.request(c.items);
    ASSERT_GE(r.size(), 3u);
    if (c.accepted) {
      EXPECT_EQ(r[0].code, 133);
      continue;
    }
    EXPECT_EQ(r[0].code, 0);
    ASSERT_EQ(r[1].code, 65);
    EXPECT_EQ(record_code(r[1]), -103);
    ASSERT_EQ(r[2].code, 135);
    EXPECT_NE(r[2].payload.find(c.minor >= 13 ? "in plain text" : "below protocol level 13"),
              std::string::npos)
        << r[2].payload;
    EXPECT_FALSE(h.session().connected());
  }
}

TEST(Session, MistakenEncipheringIsRefusedWithAHint) {
  struct Case {
    const char* name;
    CipherFault fault;
    const char* hint;
  };
  const Case cases[] = {
      {"material as key", {true, false}, "random bytes as the AES key; this server derives"},
      {"four-byte IV word", {false, true}, "first four random bytes as the IV word"},
      {"both", {true, true}, "as the AES key and the first four"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SessionHarness h;
    h.app_connect();
    const auto r = h.request(item(16, "UID=dba") + item(133, u32le(0)) +
                             item(20, encipher("PWD=sql", h.random(), c.fault)));
    ASSERT_GE(r.size(), 2u);
    EXPECT_EQ(record_code(r[1]), -103);
    EXPECT_TRUE(h.logged(c.hint));
  }
}

TEST_F(ConnectedSession, QueryWithTypedValues) {
  ASSERT_EQ(codes(exec_imm("CREATE TABLE item(id INTEGER, name VARCHAR(20), price DOUBLE, at "
                           "TIMESTAMP, big BIGINT)"))[2],
            66);
  exec_imm("INSERT INTO item VALUES(7, 'pen', 1.5, '2024-02-29 13:14:15.000016', 5000000000)");
  const auto r =
      h_.request(prepare_items("SELECT id, name, price, at, big FROM item") +
                 execute_items(0xFFFFFFFF, def_short(82) + def_long(78, 20) + def_short(81) +
                                               def_short(90) + def_short(75)));
  ASSERT_TRUE(h_.parse_ok());
  // Prepare reply: 30 (params), 29 (handle), status, info; execute reply: values, 132, 0, 44,
  // status, info.
  ASSERT_EQ(codes(r), (std::vector<int>{30, 29, 66, 67, 67, 0, 112, 107, 111, 120, 104, 132, 0,
                                        44, 66, 67, 67, 67, 0}));
  EXPECT_EQ(rd16(r[0].payload), 0u);
  EXPECT_NE(rd32(r[1].payload), 0u);
  EXPECT_EQ(rd32(r[6].payload), 7u);
  EXPECT_EQ(r[7].payload, "pen");
  double d;
  std::memcpy(&d, r[8].payload.data(), 8);
  EXPECT_EQ(d, 1.5);
  EXPECT_EQ(rd16(r[9].payload), 2024u);
  EXPECT_EQ(r[9].payload[2], 1);  // February, counting from 0
  EXPECT_EQ(r[9].payload[6], 29);
  EXPECT_EQ(rd32(r[9].payload, 10), 16u);
  EXPECT_EQ(rd32(r[10].payload) + (std::uint64_t{rd32(r[10].payload, 4)} << 32), 5000000000ull);
  EXPECT_TRUE(h_.logged("7 prepare SELECT id, name, price, at, big FROM item"));
  EXPECT_TRUE(h_.logged("7 execute"));
}

TEST_F(ConnectedSession, ProbeThroughTheCombinedRequest) {
  const std::string probe =
      "SELECT @@version, if 'A'<>'a' then 1 else 0 endif, isnull(property('IsBW'),'NO'), "
      "isnull(connection_property('odbc_distinguish_char_and_varchar'),'Off'), "
      "isnull(connection_property('odbc_describe_binary_as_varbinary'),'Off'), "
      "connection_property('charset'), "
      "db_property('charset'), (SELECT count(*) FROM SYS.SYSOPTION o, SYS.SYSUSER u WHERE "
      "o.user_id = u.user_id "
      "AND o.\"option\" = 'timestamp_with_time_zone_format' AND u.user_name = 'PUBLIC')";
  const std::string vars = def_long(78, 128) + def_short(87) + def_long(78, 9) +
                           def_long(78, 9) + def_long(78, 9) + def_long(78, 50) +
                           def_long(78, 50) + def_short(87);
  const auto r = h_.request(prepare_items(probe) + execute_items(0xFFFFFFFF, vars));
  ASSERT_TRUE(h_.parse_ok());
  const int first = find(r, 107);
  ASSERT_GE(first, 0);
  std::vector<std::string> texts;
  for (int i = first; i < first + 8; ++i)
    texts.push_back(r[i].code == 117 ? std::to_string(rd16(r[i].payload)) : r[i].payload);
  EXPECT_EQ(texts, (std::vector<std::string>{"12.0.1.2566", "1", "NO", "Off", "Off", "UTF-8",
                                             "UTF-8", "0"}));
  EXPECT_EQ(r[first + 8].code, 132);
  // The session options that follow change nothing in the stream.
  const auto opts =
      h_.request(prepare_items("SET TEMPORARY OPTION time_format = 'hh:nn:ss';SET TEMPORARY "
                               "OPTION isolation_level = '1';") +
                 execute_items(0xFFFFFFFF, ""));
  EXPECT_EQ(opts[find(opts, 44) + 1].code, 66);
}

TEST_F(ConnectedSession, ErrorReplyCarriesRecordTextAndParameter) {
  const auto r = exec_imm("SELECT * FROM nowhere");
  ASSERT_EQ(codes(r), (std::vector<int>{0, 44, 65, 135, 134, 0, 0, 67, 67, 67, 67, 0}));
  EXPECT_EQ(r[2].payload.size(), 19u);
  EXPECT_EQ(record_code(r[2]), -141);
  EXPECT_EQ(r[2].payload.substr(4),
            "42W33"
            "42S02"
            "S0002");
  EXPECT_NE(r[3].payload.find("nowhere"), std::string::npos);
  EXPECT_EQ(r[4].payload, "nowhere");
  EXPECT_TRUE(h_.session().connected());  // an error keeps the connection
  EXPECT_EQ(exec_imm("CREATE TABLE fine(a INTEGER)")[2].code, 66);
}

TEST_F(ConnectedSession, NoRowGivesEndOfDataWithCode100) {
  exec_imm("CREATE TABLE e(a INTEGER)");
  const auto r =
      h_.request(prepare_items("SELECT a FROM e") + execute_items(0xFFFFFFFF, def_short(82)));
  const int end = find(r, 132);
  ASSERT_GE(end, 0);
  EXPECT_EQ(r[end].payload, std::string(1, '\1'));
  EXPECT_EQ(r[end + 1].code, 65);
  EXPECT_EQ(record_code(r[end + 1]), 100);
  EXPECT_EQ(r[end + 2].code, 0);
  EXPECT_EQ(r[end + 3].code, 0);
  EXPECT_EQ(r[end + 4].code, 44);
}

TEST_F(ConnectedSession, DescribeOutputAndInput) {
  exec_imm("CREATE TABLE d(a INTEGER, b VARCHAR(30))");
  const auto p = h_.request(prepare_items("SELECT a, b FROM d WHERE a = ?"));
  const std::uint32_t handle = rd32(p[1].payload);
  EXPECT_EQ(rd16(p[0].payload), 1u);  // one parameter
  const auto r =
      h_.request(item(28, u32le(handle) + u16le(135)) + item(27, u32le(handle) + u16le(135)));
  // Each column: definition (flags: nullable 0x0001, updatable 0x0800), type name, name;
  // the parameter stands for column a: an input (0x4000) integer.
  ASSERT_EQ(codes(r), (std::vector<int>{82, 74, 134, 78, 74, 134, 0, 66, 67, 0, 82, 74, 134, 0,
                                        66, 67, 0}));
  EXPECT_EQ(rd16(r[0].payload), 0x0801u);
  EXPECT_EQ(r[1].payload, "integer");
  EXPECT_EQ(r[2].payload, "a");
  EXPECT_EQ(rd32(r[3].payload), 30u);
  EXPECT_EQ(rd16(r[3].payload, 4), 0x0801u);
  EXPECT_EQ(r[4].payload, "varchar");
  EXPECT_EQ(r[5].payload, "b");
  EXPECT_EQ(rd32(r[8].payload) & 1, 1u);  // complete
  EXPECT_EQ(rd16(r[10].payload), 0x4001u);
  EXPECT_EQ(r[11].payload, "integer");
}

TEST_F(ConnectedSession, ExecuteWithParameterRowsAndCommitRollback) {
  exec_imm("CREATE TABLE t(a INTEGER, b VARCHAR(10))");
  h_.request(item(58));
  const auto p = h_.request(prepare_items("INSERT INTO t VALUES(?, ?)"));
  const std::uint32_t handle = rd32(p[1].payload);
  const std::string rows = item(112, u32le(1)) + item(107, "one") + item(132) +
                           item(112, u32le(2)) + item(103) + item(132) + item(0);
  const auto ins = h_.request(item(24, u32le(handle) + u16le(0)) + rows);
  ASSERT_EQ(codes(ins), (std::vector<int>{0, 44, 66, 67, 67, 67, 0}));
  EXPECT_EQ(rd32(ins[4].payload), 2u);  // slot 2: rows changed
  EXPECT_EQ(static_cast<std::uint8_t>(ins[4].payload[4]), 2);
  ASSERT_EQ(codes(h_.request(item(59))), (std::vector<int>{66, 67, 67, 0}));
  auto count = [&] {
    const auto r = h_.request(prepare_items("SELECT count(*) FROM t") +
                              execute_items(0xFFFFFFFF, def_short(82)));
    return rd32(r[find(r, 112)].payload);
  };
  EXPECT_EQ(count(), 0u);
  h_.request(item(24, u32le(handle) + u16le(2)) + rows);  // execute and commit
  h_.request(item(59));
  EXPECT_EQ(count(), 2u);
  EXPECT_TRUE(h_.logged("7 rollback"));
  EXPECT_TRUE(h_.logged("7 commit"));
}

TEST_F(ConnectedSession, QueuedItemsRideWithTheNextRequest) {
  const auto p = h_.request(prepare_items("SELECT 1"));
  const std::uint32_t handle = rd32(p[1].payload);
  const auto r = h_.request(item(3, u32le(static_cast<std::uint32_t>(-300))) +
                            item(23, u32le(handle)) + item(58));
  EXPECT_EQ(codes(r), (std::vector<int>{66, 67, 67, 0}));
  EXPECT_TRUE(h_.logged("7 time-zone -300"));
  EXPECT_TRUE(h_.logged("7 drop " + std::to_string(handle)));
  const auto v = h_.request(item(21, u32le(handle) + u32le(0) + u16le(0) + u32le(0)) + item(0));
  EXPECT_EQ(record_code(v[0]), -130);  // dropped: the client prepares again
}

TEST_F(ConnectedSession, AttentionIsAcknowledged) {
  // After a complete reply: one empty packet with 0x02 and 0x01.
  auto pk = h_.exchange(packet(16, 0x05, ""));
  ASSERT_EQ(pk.size(), 1u);
  EXPECT_EQ(pk[0].type, 24);
  EXPECT_EQ(pk[0].status, 0x03);
  // A request and its attention arriving together: no reply, only the ack.
  pk = h_.exchange(packet(24, 1, item(25, "CREATE TABLE never(a INTEGER)")) +
                   packet(16, 0x05, ""));
  ASSERT_EQ(pk.size(), 1u);
  EXPECT_EQ(pk[0].status, 0x03);
  // During a long statement: the statement stops and the ack replaces its reply.
  bool sent = false;
  h_.session().set_poll_hook([&] {
    if (sent) return;
    sent = true;
    const std::string att = packet(16, 0x05, "");
    h_.session().feed(reinterpret_cast<const std::uint8_t*>(att.data()), att.size());
  });
  pk = h_.exchange(packet(24, 1,
                          item(25,
                               "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM n "
                               "WHERE x < 100000000) SELECT count(*) FROM n")));
  ASSERT_EQ(pk.size(), 1u);
  EXPECT_EQ(pk[0].status, 0x03);
  h_.session().set_poll_hook(nullptr);
  EXPECT_TRUE(h_.logged("7 attention acknowledged"));
  EXPECT_EQ(exec_imm("CREATE TABLE after(a INTEGER)")[2].code, 66);
  EXPECT_NE(codes(exec_imm("SELECT * FROM never"))[2], 66);  // the dropped request never ran
}

TEST_F(ConnectedSession, LivenessPacketsAreSignsOfLifeOnly) {
  // Idle: nothing comes back.
  EXPECT_TRUE(h_.exchange(packet(26, 0, "") + packet(26, 0, "")).empty());
  EXPECT_FALSE(h_.session().closed());
  // Between the packets of one request message (items never straddle packets).
  const auto pk = h_.exchange(packet(24, 0, item(3, u32le(60))) + packet(26, 0, "") +
                              packet(24, 1, item(25, "CREATE TABLE alive(a INTEGER)")));
  EXPECT_FALSE(pk.empty()) << h_.session().close_reason();
  EXPECT_TRUE(h_.logged("time-zone 60"));
  EXPECT_EQ(codes(exec_imm("INSERT INTO alive VALUES (1)"))[2], 66);
}

TEST_F(ConnectedSession, LongStatementTextAndLongValues) {
  std::string sql = "SELECT '" + std::string(600, 'q') + "' AS v";
  const auto r =
      h_.request(prepare_items(sql) + execute_items(0xFFFFFFFF, def_long(84, 0x7FFFFFFF)));
  ASSERT_TRUE(h_.parse_ok());
  const int v = find(r, 114);
  ASSERT_GE(v, 0);
  EXPECT_EQ(r[v].length, 251);
  EXPECT_EQ(r[v].payload, std::string(600, 'q'));
}

TEST_F(ConnectedSession, DisconnectEndsTheSession) {
  const auto r = h_.request(item(19));
  EXPECT_EQ(codes(r), (std::vector<int>{66, 0}));
  EXPECT_TRUE(h_.session().closed());
  EXPECT_EQ(h_.session().close_reason(), "client disconnected");
}

TEST(Session, CharsetChangeAnswersWithTheLabel) {
  SessionHarness h;
  h.app_connect();
  h.connect();
  const auto r = h.request(item(4, std::string("UTF-8") + '\0'));
  ASSERT_EQ(codes(r), (std::vector<int>{134, 66, 67, 0}));
  EXPECT_EQ(r[0].payload, "UTF-8");
  EXPECT_EQ(codes(h.request(item(5, std::string("UTF-8") + '\0'))),
            (std::vector<int>{66, 67, 0}));
}

TEST(Session, BadInputClosesWithAReason) {
  struct Case {
    const char* name;
    int stage;  // 0 fresh, 1 after app-connect, 2 connected
    std::string bytes;
    const char* reason;
  };
  const Case cases[] = {
      {"data before app-connect", 0, packet(24, 1, item(66)), "first packet of type 24"},
      {"length 3", 0, std::string{25, 1, 0, 3}, "bad packet"},
      {"short app-connect", 0, packet(25, 1, std::string(10, '\0')), "too short"},
      {"unknown packet type", 2, packet(9, 1, ""), "packet of unknown type 9"},
      {"request before connect", 1, packet(24, 1, item(25, "SELECT 1")),
       "before the database connect"},
      {"unknown request item", 2, packet(24, 1, item(250, "x")), "unknown request item 250"},
      {"item past its packet", 2, packet(24, 1, std::string{20, 25, 'a'}), "runs past the end"},
      {"length byte 0", 2, packet(24, 1, std::string{0, 25}), "length byte 0"},
      {"compressed while off", 2, packet(24, 0x41, "xyz"), "compression is off"},
      {"prepare without flags", 2, packet(24, 1, item(22, "SELECT 1")),
       "prepare without its flags item"},
      {"execute of 3 bytes", 2, packet(24, 1, item(24, "abc")), "execute item of 3 bytes"},
      {"connect without handle", 1, packet(24, 1, item(16, "UID=DBA")),
       "without its handle item"},
      {"secure part not a block", 1,
       packet(24, 1, item(16, "UID=DBA") + item(133, u32le(0)) + item(20, "short")),
       "not a multiple of 16"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SessionHarness h;
    if (c.stage >= 1) {
      ASSERT_EQ(h.app_connect().size(), 312u);
    }
    if (c.stage >= 2) {
      ASSERT_EQ(h.connect()[0].code, 133);
    }
    const auto r = h.reply_items(h.exchange(c.bytes));
    EXPECT_TRUE(h.session().closed());
    EXPECT_NE(h.session().close_reason().find(c.reason), std::string::npos)
        << h.session().close_reason();
    EXPECT_TRUE(h.logged("7 closed: "));
    // Once packets can carry items the peer hears why: an error record ends the
    // last reply. Before that there is no form to say it in.
    const int rec = find(r, 65);
    if (c.stage >= 1) {
      ASSERT_GE(rec, 0);
      EXPECT_EQ(record_code(r[rec]), -308);
      ASSERT_EQ(r[rec + 1].code, 135);
      EXPECT_NE(r[rec + 1].payload.find(c.reason), std::string::npos) << r[rec + 1].payload;
    } else {
      EXPECT_TRUE(h.last_packets().empty());
    }
    // Nothing more is answered.
    EXPECT_TRUE(h.exchange(packet(24, 1, item(58))).empty());
  }
}

TEST(Session, SimpleLevelScramblesBothWays) {
  SessionHarness h;
  AppConnectFields f;
  f.encryption = 1;
  const std::string a = h.app_connect(f);
  EXPECT_EQ(rd16(a, 10), 1u);
  const auto r = h.connect();
  ASSERT_FALSE(r.empty());
  EXPECT_EQ(r[0].code, 133);
  for (const auto& p : h.last_packets()) EXPECT_EQ(p.status & 0x20, 0x20);
}

TEST(Session, CompressionBothWays) {
  SessionHarness h;
  AppConnectFields f;
  f.options |= 0x004;
  const std::string a = h.app_connect(f);
  EXPECT_EQ(rd32(a, 24) & 0x04, 0x04u);
  ASSERT_EQ(h.connect()[0].code, 133);
  // A compressed request (deflate, 4 KiB window, partial flush).
  z_stream zs{};
  ASSERT_EQ(deflateInit2(&zs, 9, Z_DEFLATED, 12, 5, Z_DEFAULT_STRATEGY), Z_OK);
  const std::string body = item(25, "SELECT '" + std::string(200, 'r') + "'");
  std::string z(1024, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
  zs.avail_in = static_cast<uInt>(body.size());
  zs.next_out = reinterpret_cast<Bytef*>(&z[0]);
  zs.avail_out = static_cast<uInt>(z.size());
  ASSERT_EQ(deflate(&zs, Z_PARTIAL_FLUSH), Z_OK);
  z.resize(z.size() - zs.avail_out);
  deflateEnd(&zs);
  auto r = h.reply_items(h.exchange(packet(24, 0x41, z)));
  ASSERT_GE(r.size(), 3u);
  EXPECT_EQ(r[2].code, 66);
  // A large reply comes back compressed and inflates to the right items.
  const std::string sql = "SELECT '" + std::string(3000, 'w') + "'";
  r = h.request(prepare_items(sql) + execute_items(0xFFFFFFFF, def_long(84, 0x7FFFFFFF)));
  ASSERT_TRUE(h.parse_ok());
  bool any_compressed = false;
  for (const auto& p : h.last_packets()) any_compressed |= (p.status & 0x40) != 0;
  EXPECT_TRUE(any_compressed);
  const int v = find(r, 114);
  ASSERT_GE(v, 0);
  EXPECT_EQ(r[v].payload, std::string(3000, 'w'));
  // A compressed packet that does not inflate closes the connection.
  h.exchange(packet(24, 0x41, "not deflate data"));
  EXPECT_TRUE(h.session().closed());
}

namespace {
std::string open_items(std::uint32_t handle, const std::string& name) {
  return item(33, u32le(handle) + u16le(0) + u32le(0)) + item(134, name) + item(0);
}
std::string fetch_item(std::uint32_t cursor, std::int32_t offset, unsigned rows,
                       unsigned options = 0) {
  return item(35, u32le(cursor) + u32le(static_cast<std::uint32_t>(offset)) + u16le(rows) +
                      u16le(options));
}
// The i32 values of item 112 in a reply, in order.
std::vector<std::uint32_t> ints(const std::vector<ReplyItem>& r) {
  std::vector<std::uint32_t> v;
  for (const auto& i : r)
    if (i.code == 112) v.push_back(rd32(i.payload));
  return v;
}
}  // namespace

TEST_F(ConnectedSession, CursorOpenFetchAndScroll) {
  exec_imm("CREATE TABLE s(n INTEGER, t VARCHAR(5))");
  for (int i = 1; i <= 5; ++i)
    exec_imm("INSERT INTO s VALUES(" + std::to_string(i) + ", 'r" + std::to_string(i) + "')");
  // Prepare, execute (not run: a query) and open in one message, with a row
  // description that asks for column 0 as i32 and nothing of column 1.
  const auto r = h_.request(prepare_items("SELECT n, t FROM s ORDER BY n") +
                            execute_items(0xFFFFFFFF, "") + open_items(0xFFFFFFFF, "c1") +
                            item(69, u32le(0xFFFFFFFF) + u16le(0)) + item(70, u16le(0)) +
                            def_short(82) + item(70, u16le(1)) + item(73) + item(0));
  ASSERT_TRUE(h_.parse_ok());
  const int exec_status = find(r, 44) + 1;
  EXPECT_EQ(record_code(r[exec_status]), 111);  // the query runs at open
  const int open_cursor = find(r, 44, exec_status);
  ASSERT_GT(open_cursor, 0);
  const std::uint32_t cursor = rd32(r[open_cursor].payload);
  EXPECT_NE(cursor, 0u);
  EXPECT_EQ(r[open_cursor + 1].code, 66);
  bool six = false;
  for (int i = open_cursor + 2; i < static_cast<int>(r.size()); ++i)
    six |= r[i].code == 67 && r[i].payload[4] == 6 && rd32(r[i].payload) == 2;
  EXPECT_TRUE(six);  // two result columns

  auto f = h_.request(fetch_item(cursor, 1, 2));
  EXPECT_EQ(codes(f), (std::vector<int>{112, 132, 112, 132, 0, 66, 67, 67, 67, 0}));
  EXPECT_EQ(ints(f), (std::vector<std::uint32_t>{1, 2}));
  EXPECT_EQ(rd32(f[6].payload), 2u);             // slot 5: position
  f = h_.request(fetch_item(cursor, -1, 1, 1));  // absolute -1: the last row
  EXPECT_EQ(ints(f), (std::vector<std::uint32_t>{5}));
  f = h_.request(fetch_item(cursor, -2, 1));  // relative
  EXPECT_EQ(ints(f), (std::vector<std::uint32_t>{3}));
  // A fetch with a prefetch: two reply messages; the prefetch does not move the
  // cursor until the client aligns it.
  const auto pks = h_.exchange(
      packet(24, 1,
             fetch_item(cursor, 1, 1) + item(36, u32le(cursor) + u32le(65536) + u16le(0xFFFF) +
                                                     u16le(5) + u16le(1) + u16le(0))));
  ASSERT_EQ(pks.size(), 2u);
  EXPECT_EQ(pks[0].status & 1, 1);
  EXPECT_EQ(pks[1].status & 1, 1);
  std::vector<ReplyItem> first, second;
  ASSERT_TRUE(parse_items(pks[0].body, first));
  ASSERT_TRUE(parse_items(pks[1].body, second));
  EXPECT_EQ(ints(first), (std::vector<std::uint32_t>{4}));
  EXPECT_EQ(ints(second), (std::vector<std::uint32_t>{5}));
  const int end = find(second, 132, find(second, 132) + 1);
  ASSERT_GT(end, 0);
  EXPECT_EQ(record_code(second[end + 1]), 100);  // the prefetch ran past the end
  f = h_.request(item(37, u32le(cursor) + u16le(1)) + fetch_item(cursor, 1, 1));
  EXPECT_EQ(codes(f)[0], 132);  // aligned to row 5: the next row is past the end
  EXPECT_EQ(record_code(f[1]), 100);
  EXPECT_EQ(record_code(f[find(f, 65, 2)]), 100);
  f = h_.request(fetch_item(cursor, 2, 1, 1));  // absolute 2
  EXPECT_EQ(ints(f), (std::vector<std::uint32_t>{2}));
  EXPECT_EQ(codes(h_.request(item(34, u32le(cursor)))), (std::vector<int>{66, 67, 0}));
  f = h_.request(fetch_item(cursor, 1, 1));
  EXPECT_EQ(record_code(f[1]), -180);
  EXPECT_TRUE(h_.logged("7 fetch " + std::to_string(cursor) + " offset=-1 rows=1 options=1"));
}

TEST_F(ConnectedSession, OpenOfAStatementThatIsNoQuery) {
  exec_imm("CREATE TABLE w(a INTEGER)");
  const auto r = h_.request(prepare_items("INSERT INTO w VALUES(1)") +
                            execute_items(0xFFFFFFFF, "") + open_items(0xFFFFFFFF, "c2"));
  const int exec_cursor = find(r, 44);
  EXPECT_EQ(r[exec_cursor + 1].code, 66);  // executed
  const int open_cursor = find(r, 44, exec_cursor + 1);
  EXPECT_EQ(rd32(r[open_cursor].payload), 0u);
  EXPECT_EQ(record_code(r[open_cursor + 1]), 111);  // not opened
  const auto c = h_.request(prepare_items("SELECT count(*) FROM w") +
                            execute_items(0xFFFFFFFF, def_short(82)));
  EXPECT_EQ(ints(c), (std::vector<std::uint32_t>{1}));
}

TEST(Session, PlainPasswordBelowMinorThirteen) {
  SessionHarness h;
  AppConnectFields f;
  f.minor = 12;
  const std::string a = h.app_connect(f);
  ASSERT_EQ(a.size(), 178u);  // no random bytes at this version
  const auto r = h.request(item(16, "UID=DBA;PWD=sql") + item(133, u32le(0)));
  ASSERT_FALSE(r.empty());
  EXPECT_EQ(r[0].code, 133);
  EXPECT_TRUE(h.logged("PWD=plain"));
}

TEST(Session, ShutdownBeforeTheConnectOnlyFromTheStartingClientOrThisMachine) {
  struct Case {
    const char* name;
    bool started_for_auto_stop;
    std::uint32_t number;  // connection number: 1 is the first the server accepted
    bool local;            // over shared memory
    bool connected;
    bool honoured;
  };
  const Case cases[] = {
      {"started for auto-stop, first connection, refused connect", true, 1, false, false, true},
      {"not started for auto-stop", false, 1, false, false, false},
      {"started for auto-stop, a later connection", true, 2, false, false, false},
      {"connected to the database", false, 7, false, true, true},
      {"over shared memory, not connected", false, 10003, true, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SessionHarness h(0x5A, c.number);
    h.config().started_for_auto_stop = c.started_for_auto_stop;
    h.session().set_local(c.local);
    bool asked = false;
    h.session().set_shutdown_hook([&] { asked = true; });
    h.app_connect();
    if (c.connected) {
      ASSERT_EQ(h.connect()[0].code, 133);
    } else {
      EXPECT_EQ(record_code(h.connect("dba", "bad")[1]), -103);
    }
    const auto r = h.request(item(8, std::string(1, '\0')));
    EXPECT_EQ(asked, c.honoured);
    if (c.honoured) {
      EXPECT_EQ(codes(r), (std::vector<int>{66, 67, 0}));
    } else {
      ASSERT_FALSE(r.empty());
      EXPECT_EQ(record_code(r[0]), -121);
      EXPECT_TRUE(h.logged("shutdown refused"));
      EXPECT_FALSE(h.session().closed());
    }
  }
}

// Tools find the server and start or stop its database before (without) connecting
// to it; a stopped database refuses database connects until it is started again.
TEST(Session, DatabaseControlBeforeTheDatabaseConnect) {
  SessionHarness h;
  h.config().database_name = "demo";
  h.app_connect();
  EXPECT_EQ(codes(h.request(item(1))), (std::vector<int>{66, 67, 0}));
  EXPECT_EQ(codes(h.request(item(9, std::string(1, '\0')) + item(134, "demo"))),
            (std::vector<int>{66, 67, 0}));
  auto r = h.connect();
  ASSERT_GE(r.size(), 2u);
  EXPECT_EQ(record_code(r[1]), -76);
  EXPECT_EQ(codes(h.request(item(7, "UID=dba;PWD=sql;DBF=/d/demo.db"))),
            (std::vector<int>{66, 67, 0}));
  EXPECT_EQ(h.connect()[0].code, 133);
  EXPECT_TRUE(h.logged("7 stop-database demo"));
  EXPECT_TRUE(h.logged("7 start-database"));
}

TEST(Session, StoppingADatabaseOthersUse) {
  SessionHarness user;
  user.config().database_name = "demo";
  user.app_connect();
  ASSERT_EQ(user.connect()[0].code, 133);
  struct Case {
    const char* name;
    char unconditional;
    const char* database;
    std::int32_t sqlcode;  // 0: stopped
  };
  const Case cases[] = {
      {"another database", 1, "other", -83},
      {"in use, not unconditionally", 0, "demo", -121},
      {"in use, unconditionally", 1, "DEMO", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SessionHarness tool(0x5A, 8);
    tool.config().database_name = "demo";
    tool.config().state = user.config().state;
    tool.app_connect();
    const auto r = tool.request(item(9, std::string(1, c.unconditional)) + item(134, c.database));
    ASSERT_FALSE(r.empty());
    if (c.sqlcode == 0) {
      EXPECT_EQ(codes(r), (std::vector<int>{66, 67, 0}));
    } else {
      EXPECT_EQ(record_code(r[0]), c.sqlcode);
    }
  }
  // The connection that was there keeps working; a new one is refused.
  const std::vector<int> kept = codes(user.request(item(25, "CREATE TABLE kept(a INTEGER)")));
  EXPECT_NE(std::find(kept.begin(), kept.end(), 66), kept.end());
  EXPECT_EQ(std::find(kept.begin(), kept.end(), 65), kept.end());
  SessionHarness late(0x5A, 9);
  late.config().database_name = "demo";
  late.config().state = user.config().state;
  late.app_connect();
  const auto r = late.connect();
  ASSERT_GE(r.size(), 2u);
  EXPECT_EQ(record_code(r[1]), -76);
}

TEST(Session, StillStartingAnswersMinus77) {
  SessionHarness h;
  h.config().state->starting_until = std::chrono::steady_clock::now() + std::chrono::hours(1);
  h.app_connect();
  auto r = h.connect();
  ASSERT_GE(r.size(), 2u);
  EXPECT_EQ(record_code(r[1]), -77);
  h.config().state->starting_until = std::chrono::steady_clock::now();
  EXPECT_EQ(h.connect()[0].code, 133);
}

TEST_F(ConnectedSession, ClientGoneStopsTheRunningStatement) {
  h_.session().set_poll_hook([&] { h_.session().peer_closed(); });
  const auto pk =
      h_.exchange(packet(24, 1,
                         item(25,
                              "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM n "
                              "WHERE x < 1000000000) SELECT count(*) FROM n")));
  EXPECT_TRUE(pk.empty());
  EXPECT_TRUE(h_.session().closed());
  EXPECT_EQ(h_.session().close_reason(), "peer closed the connection");
}

// Garbage inside well-framed packets: every message is answered or the
// connection is closed; nothing crashes and nothing is read out of bounds.
TEST(Session, GarbageMessagesNeverCrash) {
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    SessionHarness h;
    ASSERT_EQ(h.app_connect().size(), 312u);
    ASSERT_EQ(h.connect()[0].code, 133);
    for (int m = 0; m < 5 && !h.session().closed(); ++m) {
      std::string body;
      const int n = static_cast<int>(rng() % 60);
      // Mostly plausible request codes, so the requests' own checks are reached.
      const std::uint8_t codes_pool[] = {22, 24, 25, 27, 28, 33,  34, 35,  36,  37,
                                         58, 59, 69, 3,  23, 136, 0,  132, 112, 107};
      body.push_back(static_cast<char>(rng() % 40));
      body.push_back(static_cast<char>(codes_pool[rng() % sizeof codes_pool]));
      for (int i = 0; i < n; ++i) body.push_back(static_cast<char>(rng()));
      h.exchange(packet(24, 1, body));
    }
  }
}

TEST(Session, RepliesKeepToTheAgreedPacketSize) {
  SessionHarness h;
  AppConnectFields f;
  f.packet_size = 500;
  ASSERT_EQ(rd16(h.app_connect(f), 22), 500u);
  ASSERT_EQ(h.connect()[0].code, 133);
  h.request(item(25, "CREATE TABLE big(t LONG VARCHAR)"));
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(h.request(long_item(25, "INSERT INTO big VALUES('" +
                                          std::string(1200 + i, char('a' + i)) + "')"))[2]
                  .code,
              66);
  const auto r = h.request(prepare_items("SELECT t FROM big") + execute_items(0xFFFFFFFF, "") +
                           open_items(0xFFFFFFFF, "b") + fetch_item(0xFFFFFFFF, 1, 3));
  ASSERT_TRUE(h.parse_ok());
  ASSERT_GT(h.last_packets().size(), 3u);
  for (const auto& p : h.last_packets()) EXPECT_LE(p.body.size() + 4, 500u);
  std::vector<std::string> values;
  for (const auto& it : r)
    if (it.code == 114) values.push_back(it.payload);
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[2], std::string(1202, 'c'));
}

TEST_F(ConnectedSession, QueryIntoColumnVariablesOpensNoCursor) {
  // Prepare, execute into one column variable and open, as the one-value
  // queries send it: the row comes with the execute, and the open is refused.
  const auto r =
      h_.request(prepare_items("SELECT 41 + 1") + execute_items(0xFFFFFFFF, def_short(82)) +
                 open_items(0xFFFFFFFF, "q"));
  EXPECT_EQ(ints(r), (std::vector<std::uint32_t>{42}));
  const int exec_cursor = find(r, 44);
  EXPECT_EQ(r[exec_cursor + 1].code, 66);
  const int open_cursor = find(r, 44, exec_cursor + 1);
  ASSERT_GT(open_cursor, 0);
  EXPECT_EQ(rd32(r[open_cursor].payload), 0u);
  EXPECT_EQ(record_code(r[open_cursor + 1]), 111);
}

TEST_F(ConnectedSession, ExecuteImmediateTakesEitherClosingForm) {
  // The end of the (empty) column variables and of the (empty) row list are not
  // fixed by one form: no item, one item 0, or one for each.
  struct Case {
    const char* name;
    std::string tail;
  };
  const Case cases[] = {
      {"no closing item", ""},
      {"one end item", item(0)},
      {"an end item for the variables and one for the rows", item(0) + item(0)},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string table = "imm" + std::to_string(n++);
    // A commit in the same message shows where the statement's items ended.
    const auto r =
        h_.request(item(25, "CREATE TABLE " + table + "(a INTEGER)") + c.tail + item(58));
    ASSERT_EQ(codes(r), (std::vector<int>{0, 44, 66, 67, 67, 67, 67, 0, 66, 67, 67, 0}));
    EXPECT_FALSE(h_.session().closed()) << h_.session().close_reason();
  }
}

TEST_F(ConnectedSession, ExecuteTakesEitherFormOfVariablesAndRows) {
  exec_imm("CREATE TABLE f(a INTEGER)");
  const auto p = h_.request(prepare_items("INSERT INTO f VALUES(?)"));
  const std::uint32_t ins = rd32(p[1].payload);
  const auto q = h_.request(prepare_items("SELECT count(*) FROM f"));
  const std::uint32_t count = rd32(q[1].payload);
  struct Case {
    const char* name;
    std::uint32_t handle;
    std::string items;
    std::uint32_t want_rows;  // rows in f afterwards
  };
  const std::string two_rows =
      item(112, u32le(1)) + item(132) + item(112, u32le(2)) + item(132);
  const Case cases[] = {
      {"rows, end", ins, two_rows + item(0), 2},
      {"end, rows, end", ins, item(0) + two_rows + item(0), 4},
      {"variables, end", count, def_short(82) + item(0), 4},
      {"variables, end, end", count, def_short(82) + item(0) + item(0), 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto r = h_.request(item(24, u32le(c.handle) + u16le(0)) + c.items + item(58));
    ASSERT_TRUE(h_.parse_ok());
    ASSERT_FALSE(h_.session().closed()) << h_.session().close_reason();
    const int cursor = find(r, 44);
    ASSERT_GE(cursor, 0);
    EXPECT_EQ(r[cursor + 1].code, 66);
    // The commit's reply follows the execute's.
    const auto all = codes(r);
    EXPECT_EQ(std::vector<int>(all.end() - 4, all.end()), (std::vector<int>{66, 67, 67, 0}));
    if (c.handle == count) {
      EXPECT_EQ(ints(r), (std::vector<std::uint32_t>{c.want_rows}));
    }
  }
}

TEST_F(ConnectedSession, UnexpectedItemGetsAnErrorRecordBeforeTheClose) {
  const auto r =
      h_.request(item(25, "CREATE TABLE u(a INTEGER)") + item(0) + item(0) + item(0));
  // The statement's reply, then a record saying why the connection goes.
  ASSERT_EQ(codes(r), (std::vector<int>{0, 44, 66, 67, 67, 67, 67, 0, 65, 135, 0, 0, 0}));
  EXPECT_EQ(record_code(r[8]), -308);
  EXPECT_NE(r[9].payload.find("an end item (0) where a request belongs"), std::string::npos)
      << r[9].payload;
  EXPECT_TRUE(h_.session().closed());
  EXPECT_TRUE(h_.logged("7 error record sent: an end item (0) where a request belongs"));
  EXPECT_TRUE(h_.logged("7 closed: protocol error: an end item (0)"));
}

TEST_F(ConnectedSession, AlignBeforeAPrefetchInMidMessage) {
  exec_imm("CREATE TABLE g(n INTEGER)");
  for (int i = 1; i <= 8; ++i) exec_imm("INSERT INTO g VALUES(" + std::to_string(i) + ")");
  const std::string prefetch_null =
      item(36, u32le(0) + u32le(65536) + u16le(0xFFFF) + u16le(2) + u16le(5) + u16le(0));
  // Open with a prefetch: the cursor has no handle yet, so the align and the
  // prefetch name it with the null handle.
  auto pks = h_.exchange(
      packet(24, 1,
             prepare_items("SELECT n FROM g ORDER BY n") + execute_items(0xFFFFFFFF, "") +
                 open_items(0xFFFFFFFF, "g1") + item(37, u32le(0) + u16le(2)) + prefetch_null));
  ASSERT_EQ(pks.size(), 2u);
  std::vector<ReplyItem> first, second;
  ASSERT_TRUE(parse_items(pks[0].body, first));
  ASSERT_TRUE(parse_items(pks[1].body, second));
  const std::uint32_t cursor = rd32(first[find(first, 44, find(first, 44) + 1)].payload);
  ASSERT_NE(cursor, 0u);
  EXPECT_EQ(ints(second), (std::vector<std::uint32_t>{3, 4}));  // aligned past rows 1 and 2
  // A fetch, then an align for rows served locally, then the prefetch.
  pks = h_.exchange(packet(24, 1,
                           fetch_item(cursor, 1, 1) + item(37, u32le(cursor) + u16le(2)) +
                               item(36, u32le(cursor) + u32le(65536) + u16le(0xFFFF) +
                                            u16le(2) + u16le(1) + u16le(0))));
  ASSERT_EQ(pks.size(), 2u);
  first.clear();
  second.clear();
  ASSERT_TRUE(parse_items(pks[0].body, first));
  ASSERT_TRUE(parse_items(pks[1].body, second));
  EXPECT_EQ(ints(first), (std::vector<std::uint32_t>{3}));
  EXPECT_EQ(ints(second), (std::vector<std::uint32_t>{6, 7}));
}

TEST_F(ConnectedSession, APrefetchGoesOnAfterTheRowsTheClientStillHolds) {
  exec_imm("CREATE TABLE q(n INTEGER)");
  for (int i = 1; i <= 12; ++i) exec_imm("INSERT INTO q VALUES(" + std::to_string(i) + ")");
  const auto prefetch = [](std::uint32_t cursor, std::uint16_t rows) {
    return item(36, u32le(cursor) + u32le(65536) + u16le(0xFFFF) + u16le(rows) + u16le(1) +
                        u16le(0));
  };
  // The rows of one exchange: its main reply (none when the message holds only an
  // align and the prefetch), and the prefetch's rows.
  std::vector<ReplyItem> first, second;
  std::size_t messages = 0;
  const auto run = [&](const std::string& items) {
    const auto pks = h_.exchange(packet(24, 1, items));
    messages = pks.size();
    first.clear();
    second.clear();
    if (pks.size() == 1) return parse_items(pks[0].body, second);
    return pks.size() == 2 && parse_items(pks[0].body, first) &&
           parse_items(pks[1].body, second);
  };
  ASSERT_TRUE(run(prepare_items("SELECT n FROM q ORDER BY n") + execute_items(0xFFFFFFFF, "") +
                  open_items(0xFFFFFFFF, "q1") + prefetch(0, 4)));
  const std::uint32_t cursor = rd32(first[find(first, 44, find(first, 44) + 1)].payload);
  ASSERT_NE(cursor, 0u);
  EXPECT_EQ(ints(second), (std::vector<std::uint32_t>{1, 2, 3, 4}));
  // The client used rows 1 and 2 and still holds 3 and 4: the next prefetch brings
  // the rows after 4, and the align moves the cursor to row 2 only.
  ASSERT_TRUE(run(item(37, u32le(cursor) + u16le(2)) + prefetch(cursor, 4)));
  EXPECT_EQ(ints(second), (std::vector<std::uint32_t>{5, 6, 7, 8}));
  EXPECT_EQ(messages, 1u);  // the prefetch's reply alone
  ASSERT_TRUE(run(item(37, u32le(cursor) + u16le(4)) + prefetch(cursor, 8)));
  EXPECT_EQ(ints(second), (std::vector<std::uint32_t>{9, 10, 11, 12}));
  // A fetch starts from the row the client is on (6) and forgets the rows sent
  // ahead; a prefetch after it goes on from the fetched row.
  ASSERT_TRUE(run(fetch_item(cursor, 1, 1) + prefetch(cursor, 2)));
  EXPECT_EQ(ints(first), (std::vector<std::uint32_t>{7}));
  EXPECT_EQ(ints(second), (std::vector<std::uint32_t>{8, 9}));
}

TEST(Session, PacketTypesAfterTheFirst) {
  struct Case {
    const char* name;
    std::string bytes;
    bool answered;       // a reply message comes back
    const char* closed;  // close reason, or null when the session stays open
  };
  const Case cases[] = {
      {"type 15 taken like data", packet(15, 1, item(58)), true, nullptr},
      {"type 2 ignored", packet(2, 1, ""), false, nullptr},
      {"type 26 ignored", packet(26, 0, ""), false, nullptr},
      {"type 27 dropped once connected", packet(27, 0, std::string(24, '\0')), false, nullptr},
      {"type 15 compressed", packet(15, 0x41, "xyz"), true, "compressed packet of type 15"},
      {"type 9", packet(9, 1, ""), true, "packet of unknown type 9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SessionHarness h;
    AppConnectFields f;
    f.options |= 0x004;  // compression on, so that only the packet type is wrong
    ASSERT_EQ(h.app_connect(f).size(), 312u);
    ASSERT_EQ(h.connect()[0].code, 133);
    const auto r = h.reply_items(h.exchange(c.bytes));
    EXPECT_EQ(!h.last_packets().empty(), c.answered);
    if (!c.closed) {
      EXPECT_FALSE(h.session().closed()) << h.session().close_reason();
      if (c.answered) {
        EXPECT_EQ(codes(r), (std::vector<int>{66, 67, 67, 0}));
      }
      continue;
    }
    EXPECT_TRUE(h.session().closed());
    EXPECT_NE(h.session().close_reason().find(c.closed), std::string::npos)
        << h.session().close_reason();
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(record_code(r[0]), -308);
  }
}

TEST(Session, DatabaseNameIsCheckedOnlyWhenOneWasNamed) {
  for (const bool named : {false, true}) {
    SCOPED_TRACE(named ? "named" : "not named");
    SessionHarness h;
    h.config().database_name = "srv";
    h.config().database_named = named;
    h.app_connect();
    const auto r = h.request(item(16, "UID=dba;DBN=Elsewhere") + item(133, u32le(0)) +
                             item(20, encipher("PWD=sql", h.random())));
    ASSERT_GE(r.size(), 2u);
    if (named) {
      EXPECT_EQ(record_code(r[1]), -83);
    } else {
      EXPECT_EQ(r[0].code, 133);
    }
  }
}
