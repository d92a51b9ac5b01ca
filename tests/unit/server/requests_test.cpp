// Requests beyond statements and plain fetches, driven with scripted bytes:
// options, server information, identifier quoting, the cursor check, pooling,
// database control, and the cursor requests (describe, resume, get data in
// pieces, insert, update and delete through a cursor, plan), with the row
// description's wire types and the fetch reply's counts.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "session_harness.h"

using namespace script;

namespace {

std::int32_t record_code(const ReplyItem& it) {
  return static_cast<std::int32_t>(rd32(it.payload));
}

int find(const std::vector<ReplyItem>& items, int code, int from = 0) {
  for (std::size_t i = static_cast<std::size_t>(from); i < items.size(); ++i)
    if (items[i].code == code) return static_cast<int>(i);
  return -1;
}

// The value of information slot `slot` in a reply, or -1.
std::int64_t info(const std::vector<ReplyItem>& r, int slot) {
  for (const auto& it : r)
    if (it.code == 67 && it.payload.size() == 5 &&
        static_cast<std::uint8_t>(it.payload[4]) == slot)
      return rd32(it.payload);
  return -1;
}

// The 4-byte integers (item 112) of a reply, in order.
std::vector<std::uint32_t> ints(const std::vector<ReplyItem>& r) {
  std::vector<std::uint32_t> got;
  for (const auto& it : r)
    if (it.code == 112) got.push_back(rd32(it.payload));
  return got;
}

std::string def_short(std::uint8_t code) { return item(code, u16le(0)); }
std::string def_long(std::uint8_t code, std::uint32_t len) {
  return item(code, u32le(len) + u16le(0));
}
std::string def_numeric(std::uint8_t code, std::uint8_t p, std::uint8_t s) {
  return item(code, u16le(0) + char(p) + char(s));
}

class Requests : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(h_.app_connect().size(), 312u);
    ASSERT_EQ(h_.connect()[0].code, 133);
  }
  std::vector<ReplyItem> exec(const std::string& sql) {
    return h_.request(sql.size() > 250 ? long_item(25, sql) : item(25, sql));
  }
  // Prepares, executes and opens a query in one message; returns the reply.
  std::vector<ReplyItem> open_reply(const std::string& sql, const std::string& row_description,
                                    std::uint32_t options) {
    return h_.request(item(22, sql) + item(136, u16le(1)) +
                      item(24, u32le(0xFFFFFFFF) + u16le(0)) + item(0) +
                      item(33, u32le(0xFFFFFFFF) + u16le(0) + u32le(options)) + item(134, "c") +
                      item(0) + row_description);
  }
  // The same, returning the cursor.
  std::uint32_t open(const std::string& sql, const std::string& row_description = "",
                     std::uint32_t options = 0) {
    const auto r = open_reply(sql, row_description, options);
    std::uint32_t cursor = 0;
    for (const auto& it : r)
      if (it.code == 44 && rd32(it.payload) != 0) cursor = rd32(it.payload);
    return cursor;
  }
  // A table of the numbers 1 to n, and a cursor over it in order.
  std::uint32_t numbers(const std::string& table, int n, std::uint32_t options = 0) {
    exec("CREATE TABLE " + table + "(n INTEGER)");
    for (int i = 1; i <= n; ++i)
      exec("INSERT INTO " + table + " VALUES(" + std::to_string(i) + ")");
    return open("SELECT n FROM " + table + " ORDER BY n", "", options);
  }
  // A table of the numbers 1 to n filled in one statement, and a cursor over it.
  std::uint32_t counting(const std::string& table, int n, std::uint32_t options) {
    exec("CREATE TABLE IF NOT EXISTS " + table + "(n INTEGER)");
    exec("INSERT INTO " + table +
         " WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM s WHERE n < " +
         std::to_string(n) + ") SELECT n FROM s WHERE NOT EXISTS (SELECT 1 FROM " + table +
         ")");
    return open("SELECT n FROM " + table + " ORDER BY n", "", options);
  }
  static std::string prefetch(std::uint32_t cursor, unsigned rows) {
    return item(
        36, u32le(cursor) + u32le(100000) + u16le(0xFFFF) + u16le(rows) + u16le(1) + u16le(0));
  }
  static std::string align(std::uint32_t cursor, unsigned delta) {
    return item(37, u32le(cursor) + u16le(delta));
  }
  static constexpr std::uint32_t kForwardOnly = 0x4000;
  static std::string fetch(std::uint32_t cursor, std::int32_t offset, unsigned rows,
                           unsigned options = 0) {
    return item(35, u32le(cursor) + u32le(static_cast<std::uint32_t>(offset)) + u16le(rows) +
                        u16le(options));
  }
  SessionHarness h_;
};

}  // namespace

TEST_F(Requests, GetAndSetOptions) {
  auto get = [&](const std::string& name) {
    return h_.request(item(50) + item(134, name) + item(134) + def_long(78, 20));
  };
  auto r = get("quoted_identifier");
  ASSERT_EQ(codes(r), (std::vector<int>{107, 0, 66, 67, 0}));
  EXPECT_EQ(r[0].payload, "On");
  // Set for this connection, then back to the default with a null value (101).
  EXPECT_EQ(codes(h_.request(item(49, std::string(1, '\1')) + item(134, "Quoted_Identifier") +
                             item(134) + item(107, "Off"))),
            (std::vector<int>{66, 67, 0}));
  EXPECT_EQ(get("quoted_identifier")[0].payload, "Off");
  h_.request(item(49, std::string(1, '\1')) + item(134, "quoted_identifier") + item(134) +
             item(101));
  EXPECT_EQ(get("quoted_identifier")[0].payload, "On");
  // An option set by a SET statement reads back the same way.
  exec("SET TEMPORARY OPTION date_order = 'DMY'");
  EXPECT_EQ(get("date_order")[0].payload, "DMY");
  // An unknown option: no value, an error.
  r = get("no_such_option");
  ASSERT_EQ(codes(r), (std::vector<int>{0, 65, 135, 134, 0, 0, 67, 0}));
  EXPECT_EQ(record_code(r[1]), -200);
  EXPECT_EQ(r[3].payload, "no_such_option");
  EXPECT_TRUE(h_.logged("7 set-option Quoted_Identifier = Off (temporary)"));
}

TEST_F(Requests, ServerInformationAndSmallRequests) {
  auto r = h_.request(item(6, u16le(1)) + def_long(78, 128));
  ASSERT_EQ(codes(r), (std::vector<int>{107, 0, 66, 67, 0}));
  EXPECT_EQ(r[0].payload, "vqeng12");
  r = h_.request(item(6, u16le(0)) + def_long(78, 512));  // the Kerberos principal: none here
  ASSERT_GE(r.size(), 2u);
  EXPECT_EQ(r[0].code, 0);
  EXPECT_EQ(record_code(r[1]), -1070);

  struct Case {
    const char* identifier;
    std::int64_t quotes;
  };
  const Case cases[] = {{"plain_name", 0}, {"a b", 1},    {"1st", 1},
                        {"", 1},           {"x$y#z@", 0}, {"semi;colon", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.identifier);
    r = h_.request(item(56, c.identifier));
    EXPECT_EQ(r[0].code, 66);
    EXPECT_EQ(info(r, 1), c.quotes);
  }
  EXPECT_EQ(codes(h_.request(item(53, "/etc/passwd"))), (std::vector<int>{66, 67, 0}));
  EXPECT_TRUE(h_.logged("7 delete-file /etc/passwd"));

  // Database control: the one database served; its only user may stop it.
  h_.config().database_name = "demo";
  h_.config().database_named = true;
  EXPECT_EQ(h_.request(item(1))[0].code, 66);
  EXPECT_EQ(h_.request(item(7, "DBN=demo;DBF=/tmp/demo.db"))[0].code, 66);
  r = h_.request(item(7, "DBN=other"));
  EXPECT_EQ(record_code(r[0]), -83);
  EXPECT_EQ(h_.request(item(9, std::string(1, '\0')) + item(134, "demo"))[0].code, 66);
  EXPECT_FALSE(h_.config().state->running);
  EXPECT_EQ(h_.request(item(7, "DBN=demo"))[0].code, 66);
  EXPECT_TRUE(h_.config().state->running);
  EXPECT_FALSE(h_.session().closed());
}

TEST_F(Requests, CursorCheckAndPooling) {
  exec("CREATE TABLE k(a INTEGER)");
  const std::uint32_t cursor = open("SELECT a FROM k");
  ASSERT_NE(cursor, 0u);
  // One item 47 per cursor, one status and slot 18 for each: bit 0x10000 = closed.
  auto r = h_.request(item(47, u32le(cursor)) + item(47, u32le(cursor + 100)));
  ASSERT_EQ(codes(r), (std::vector<int>{66, 67, 67, 0, 66, 67, 67, 0}));
  EXPECT_EQ(rd32(r[1].payload), 0u);
  EXPECT_EQ(static_cast<std::uint8_t>(r[1].payload[4]), 18);
  EXPECT_EQ(rd32(r[5].payload), 0x10000u);
  // Parking ends the work and the cursors; reuse answers like a connect.
  EXPECT_EQ(codes(h_.request(item(15, u16le(0)))), (std::vector<int>{66, 67, 0}));
  r = h_.request(item(14, u16le(0)) + item(134, "again"));
  ASSERT_EQ(codes(r), (std::vector<int>{133, 66, 67, 67, 0}));
  EXPECT_EQ(rd32(r[0].payload), 7u);
  EXPECT_EQ(info(r, 19), 0);
  EXPECT_EQ(info(r, 24), 0);
  r = h_.request(item(47, u32le(cursor)));
  EXPECT_EQ(rd32(r[1].payload), 0x10000u);
}

// The open reply's information slot 16 grants the cursor options asked for (the kind and
// the concurrency), which the client reads as what it got; a refused open grants none.
TEST_F(Requests, TheOpenReplyGrantsTheCursorOptions) {
  exec("CREATE TABLE g (a INTEGER)");
  const struct {
    const char* what;
    std::uint32_t options;
  } cases[] = {
      {"forward-only, read-only", 0x4002},
      {"static, read-only", 0x0402},
      {"keyset, locking", 0x1080},
      {"none", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto r = open_reply("SELECT a FROM g", "", c.options);
    bool opened = false;
    for (const auto& it : r) opened = opened || (it.code == 44 && rd32(it.payload) != 0);
    EXPECT_TRUE(opened);
    EXPECT_EQ(info(r, 16), c.options);
  }
  EXPECT_EQ(info(open_reply("SELECT a FROM no_such_table", "", 0x4002), 16), 0);
}

TEST_F(Requests, DescribeCursorAndResume) {
  exec("CREATE TABLE dc(a INTEGER, b VARCHAR(12))");
  const auto p = h_.request(item(22, "SELECT a, b FROM dc WHERE a > ?") + item(136, u16le(1)));
  const std::uint32_t stmt = rd32(p[1].payload);
  auto r = h_.request(item(24, u32le(stmt) + u16le(0)) + item(0) +
                      item(33, u32le(stmt) + u16le(0) + u32le(0)) + item(134, "dc1") +
                      item(112, u32le(0)) + item(132) + item(0));
  std::uint32_t cursor = 0;
  for (const auto& it : r)
    if (it.code == 44 && rd32(it.payload) != 0) cursor = rd32(it.payload);
  ASSERT_NE(cursor, 0u);
  r = h_.request(item(46, u32le(cursor) + u16le(135)));
  ASSERT_EQ(codes(r), (std::vector<int>{82, 74, 134, 78, 74, 134, 0, 66, 67, 0}));
  EXPECT_EQ(r[2].payload, "a");
  EXPECT_EQ(rd32(r[3].payload), 12u);
  EXPECT_EQ(rd32(r[8].payload) & 1, 1u);
  r = h_.request(item(45, u32le(cursor) + u16le(135)));
  EXPECT_EQ(codes(r), (std::vector<int>{82, 74, 134, 0, 66, 67, 0}));
  // One result set only: resume says the procedure has completed (105).
  r = h_.request(item(42, u32le(cursor)));
  ASSERT_EQ(codes(r), (std::vector<int>{65, 135, 0, 0, 67, 67, 67, 0}));
  EXPECT_EQ(record_code(r[0]), 105);
  EXPECT_EQ(info(r, 6), 0);
  r = h_.request(item(42, u32le(cursor + 9)));
  EXPECT_EQ(record_code(r[0]), -180);
}

TEST_F(Requests, FetchCountsAndPositions) {
  const std::uint32_t cursor = numbers("f5", 5);
  ASSERT_NE(cursor, 0u);
  struct Case {
    const char* name;
    std::int32_t offset;
    unsigned rows, options;
    std::vector<std::uint32_t> values;
    bool end;  // an end-of-data row closes the rows
    std::int64_t rows_slot, position;
  };
  const Case cases[] = {
      {"more rows than remain", 2, 10, 0, {2, 3, 4, 5}, true, 4, 6},
      {"back one from after the last", -1, 1, 0, {5}, false, 1, 5},
      {"absolute from the end", -2, 2, 1, {4, 5}, false, 2, 5},
      {"relative back past the start", -9, 1, 0, {}, true, 0, 0},
      {"absolute first, three rows", 1, 3, 1, {1, 2, 3}, false, 3, 3},
      {"positioning only", 1, 0, 0, {}, false, 0, 4},
      // 0x08 asks for a lock and never changes where a move lands; 0x05 moves to a
      // bookmark (a row's position); 0x10 marks the first block of a fetch.
      {"relative -2 with a lock", -2, 1, 0x08, {2}, false, 1, 2},
      {"to bookmark 4", 4, 1, 0x05, {4}, false, 1, 4},
      {"to bookmark 5 with a lock", 5, 1, 0x0D, {5}, false, 1, 5},
      {"relative -1, first block", -1, 1, 0x10, {4}, false, 1, 4},
      {"relative +1 with a lock, first block", 1, 2, 0x18, {5}, true, 1, 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto r = h_.request(fetch(cursor, c.offset, c.rows, c.options));
    EXPECT_EQ(ints(r), c.values);
    const int end = find(r, 65);
    if (c.end) {
      ASSERT_GE(end, 1);
      EXPECT_EQ(r[end - 1].code, 132);
      EXPECT_EQ(record_code(r[end]), 100);
    }
    EXPECT_EQ(info(r, 1), c.rows_slot);
    EXPECT_EQ(info(r, 5), c.position);
  }
}

// A client keeps the rows of a prefetch and adds the next prefetch's rows behind them, and
// reports the rows it used with an align: each prefetch goes on after the rows already
// sent, a fetch starts the count again from where it lands, and a message that holds only
// queued items and a prefetch is answered by the prefetch's reply alone.
// A forward-only cursor, whose rows are stepped as they are asked for, answers the same.
TEST_F(Requests, PrefetchesGoOnAfterTheRowsAlreadySent) {
  for (const std::uint32_t options : {0u, kForwardOnly}) {
    SCOPED_TRACE(options == 0 ? "rows read whole" : "forward-only, streamed");
    const std::uint32_t cursor = numbers("p20_" + std::to_string(options), 20, options);
    ASSERT_NE(cursor, 0u);
    auto prefetch = [&](unsigned rows) { return Requests::prefetch(cursor, rows); };
    auto align = [&](unsigned delta) { return Requests::align(cursor, delta); };
    auto messages = [&] {
      int ends = 0;
      for (const auto& p : h_.last_packets()) ends += (p.status & 0x01) != 0;
      return ends;
    };
    struct Step {
      const char* name;
      std::string request;
      std::vector<std::uint32_t> values;
      int messages;
    };
    const Step steps[] = {
        {"the first rows", prefetch(4), {1, 2, 3, 4}, 1},
        {"two used, four more", align(2) + prefetch(4), {5, 6, 7, 8}, 1},
        {"a fetch lands on row 4", fetch(cursor, 2, 1), {4}, 1},
        {"and the prefetch after it", prefetch(2), {5, 6}, 1},
        {"a fetch with its prefetch", fetch(cursor, 3, 1) + prefetch(3), {7, 8, 9, 10}, 2},
        {"to the end", align(3) + prefetch(20), {11, 12, 13, 14, 15, 16, 17, 18, 19, 20}, 1},
        {"past the end", prefetch(5), {}, 1},
    };
    for (const Step& k : steps) {
      SCOPED_TRACE(k.name);
      const auto r = h_.request(k.request);
      EXPECT_EQ(ints(r), k.values);
      EXPECT_EQ(messages(), k.messages);
    }
  }
}

// A forward-only cursor holds only the rows its client has not passed: a result far
// larger than the connection may hold is read to its end through prefetches and aligns,
// where the same query read whole at open is refused.
TEST_F(Requests, ForwardOnlyCursorStreamsPastTheConnectionsBound) {
  h_.config().limits.max_connection_bytes = 1 << 20;
  constexpr unsigned kRows = 50000;
  const std::uint32_t whole = counting("c50k", kRows, 0);
  EXPECT_EQ(whole, 0u) << "the rows read whole fit in the bound: make the query larger";
  const std::uint32_t cursor = counting("c50k", kRows, kForwardOnly);
  ASSERT_NE(cursor, 0u);
  std::vector<std::uint32_t> got;
  unsigned used = 0;
  std::int64_t last_status = -1;
  for (int k = 0; k < 100 && got.size() < kRows; ++k) {
    const auto r = h_.request((used != 0 ? align(cursor, used) : "") + prefetch(cursor, 1000));
    const auto values = ints(r);
    got.insert(got.end(), values.begin(), values.end());
    used = static_cast<unsigned>(values.size());
  }
  ASSERT_EQ(got.size(), kRows);
  for (unsigned i = 0; i < kRows; ++i) ASSERT_EQ(got[i], i + 1) << "at " << i;
  // Past the last row: the end record.
  const auto r = h_.request(align(cursor, used) + prefetch(cursor, 10));
  EXPECT_TRUE(ints(r).empty());
  const int end = find(r, 65);
  ASSERT_GE(end, 1);
  last_status = record_code(r[end]);
  EXPECT_EQ(last_status, 100);
}

// A forward-only cursor fills the rows it let go with later ones: each row still reads
// as its own, whatever its values were before (long text then short, text then NULL,
// text then binary), and a NUMERIC column keeps its scale whether SQLite holds its value
// as an integer or a double.
TEST_F(Requests, StreamedRowsReadTheirOwnValuesInStorageReused) {
  constexpr int kRows = 3000;
  exec("CREATE TABLE mix(k INTEGER, v VARCHAR(60), d NUMERIC(8,2))");
  exec("INSERT INTO mix SELECT n, CASE n % 5 WHEN 0 THEN NULL WHEN 1 THEN "
       "printf('long-%050d', n) WHEN 2 THEN 's' || n WHEN 3 THEN CAST(n AS BLOB) ELSE '' "
       "END, n * 0.25 FROM (WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM s "
       "WHERE n < " + std::to_string(kRows) + ") SELECT n FROM s)");
  const std::string desc = item(69, u32le(0) + u16le(0)) + item(70, u16le(0)) +
                           def_short(82) + item(70, u16le(1)) + def_long(78, 100) +
                           item(70, u16le(2)) + def_long(78, 20) + item(0);
  const std::uint32_t cursor = open("SELECT k, v, d FROM mix ORDER BY k", desc, kForwardOnly);
  ASSERT_NE(cursor, 0u);
  auto expected_v = [](int n) -> std::string {
    char text[64];
    switch (n % 5) {
      case 1:
        std::snprintf(text, sizeof text, "long-%050d", n);
        return text;
      case 2:
        return "s" + std::to_string(n);
      case 3:
        return std::to_string(n);
      case 4:
        return "";
      default:
        return "NULL";
    }
  };
  auto expected_d = [](int n) {
    char text[32];
    std::snprintf(text, sizeof text, "%d.%02d", n / 4, n % 4 * 25);
    return std::string(text);
  };
  int next = 1;
  unsigned used = 0;
  for (int k = 0; k < 1000 && next <= kRows; ++k) {
    const auto r = h_.request((used != 0 ? align(cursor, used) : "") + prefetch(cursor, 7));
    used = 0;
    for (std::size_t i = 0; i + 3 < r.size() && r[i].code == 112; i += 4, ++used, ++next) {
      ASSERT_EQ(rd32(r[i].payload), static_cast<std::uint32_t>(next));
      const std::string v = r[i + 1].code == 103 ? "NULL" : r[i + 1].payload;
      EXPECT_EQ(v, expected_v(next)) << "row " << next;
      EXPECT_EQ(r[i + 1].code, next % 5 == 0 ? 103 : 107) << "row " << next;
      EXPECT_EQ(r[i + 2].payload, expected_d(next)) << "row " << next;
      ASSERT_EQ(r[i + 3].code, 132);
    }
    ASSERT_GT(used, 0u) << "no rows after row " << next - 1;
  }
  EXPECT_EQ(next, kRows + 1);
}

// A request that runs SQL of its own first reads a streaming cursor's rows whole: no
// statement is left stepping under it (SQLite refuses to drop a table that one reads),
// and the cursor goes on with the rows it had when it opened.
TEST_F(Requests, SqlOnTheConnectionFindsNoStatementStepping) {
  const std::uint32_t cursor = numbers("d10", 10, kForwardOnly);
  ASSERT_NE(cursor, 0u);
  EXPECT_EQ(ints(h_.request(fetch(cursor, 1, 3))), (std::vector<std::uint32_t>{1, 2, 3}));
  const auto dropped = h_.request(item(25, "DROP TABLE d10"));
  const int status = find(dropped, 65);
  EXPECT_EQ(status, -1) << "the drop failed with " << record_code(dropped[status]);
  EXPECT_EQ(ints(h_.request(fetch(cursor, 0, 1) + fetch(cursor, 1, 20))),
            (std::vector<std::uint32_t>{3, 4, 5, 6, 7, 8, 9, 10}));
}

// A prefetch reply goes out a few packets at a time while its later rows are still made,
// not whole at the end of the message.
TEST_F(Requests, PrefetchReplyIsSentWhileItsRowsAreMade) {
  const std::uint32_t cursor = counting("c30k", 30000, kForwardOnly);
  ASSERT_NE(cursor, 0u);
  int flushes = 0;
  h_.session().set_flush_hook([&] { ++flushes; });
  const auto values = ints(h_.request(prefetch(cursor, 20000)));
  h_.session().set_flush_hook(nullptr);
  ASSERT_EQ(values.size(), 20000u);
  EXPECT_EQ(values.front(), 1u);
  EXPECT_EQ(values.back(), 20000u);
  EXPECT_GE(flushes, 4);
}

// With a statement cache the connect reply tells the client its size, and a statement the
// client lets go with a cached drop stays prepared for its validate; a drop ends it.
TEST(StatementCache, CachedDropsKeepTheStatementForItsValidate) {
  SessionHarness h;
  h.config().statement_cache = 12;
  ASSERT_EQ(h.app_connect().size(), 312u);
  const auto connected = h.connect();
  ASSERT_EQ(connected[0].code, 133);
  EXPECT_EQ(info(connected, 24), 12);
  auto prepare = [&] {
    for (const auto& it : h.request(item(22, "SELECT 1") + item(136, u16le(0))))
      if (it.code == 29) return rd32(it.payload);
    return 0u;
  };
  auto validate = [&](std::uint32_t stmt) {
    const auto r = h.request(item(21, u32le(stmt) + u32le(0) + u16le(0) + u32le(0)) + item(0));
    return r.empty() || r[0].code != 65 ? 0 : record_code(r[0]);
  };
  const std::uint32_t kept = prepare();
  const std::uint32_t dropped = prepare();
  ASSERT_NE(kept, 0u);
  ASSERT_NE(dropped, 0u);
  // Queued items: they travel in front of the validates and get no reply of their own.
  EXPECT_EQ(validate(kept), 0);
  EXPECT_EQ(h.request(item(32, u32le(kept)) + item(23, u32le(dropped)) +
                      item(21, u32le(kept) + u32le(0) + u16le(0) + u32le(0)) + item(0))[0]
                .code,
            66);
  EXPECT_EQ(validate(kept), 0);
  EXPECT_EQ(validate(dropped), -130);
}

TEST_F(Requests, GetDataInPieces) {
  exec("CREATE TABLE gd(id INTEGER, t LONG VARCHAR, b LONG BINARY)");
  std::string text;
  for (int i = 0; i < 1000; ++i) text.push_back(static_cast<char>('a' + i % 26));
  exec("INSERT INTO gd VALUES(42, '" + text + "', x'00FF10')");
  const std::uint32_t cursor = open("SELECT id, t, b FROM gd");
  ASSERT_NE(cursor, 0u);
  h_.request(fetch(cursor, 1, 0));  // position on the row
  struct Case {
    const char* name;
    unsigned column;
    std::uint32_t offset;
    std::string def;
    int value_code;  // -1: no value, the reply's end in its place
    std::string value;
    std::int32_t status;
    std::int64_t full;
  };
  const Case cases[] = {
      {"first piece", 2, 0, def_long(84, 300), 114, text.substr(0, 300), 0, 1000},
      {"middle piece", 2, 300, def_long(84, 300), 114, text.substr(300, 300), 0, 1000},
      {"last piece, shorter", 2, 900, def_long(84, 300), 114, text.substr(900), 0, 1000},
      {"past the end", 2, 1000, def_long(84, 300), -1, "", 100, 1000},
      {"binary", 3, 0, def_long(83, 100), 113, std::string("\0\xFF\x10", 3), 0, 3},
      {"integer as text", 1, 0, def_long(78, 10), 107, "42", 0, 2},
      {"integer as i32", 1, 0, def_short(82), 112, u32le(42), 0, 0},
      {"column 0", 0, 0, def_short(82), -1, "", -159, 0},
      {"column past the last", 4, 0, def_short(82), -1, "", -159, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto r = h_.request(item(38, u32le(cursor) + u32le(c.offset) + u16le(c.column)) +
                              c.def + item(73));
    ASSERT_TRUE(h_.parse_ok());
    ASSERT_GE(r.size(), 3u);
    int at = 0;
    if (c.value_code >= 0) {
      EXPECT_EQ(r[0].code, c.value_code);
      EXPECT_EQ(r[0].payload, c.value);
      at = 1;
    }
    EXPECT_EQ(r[at].code, 0);
    if (c.status == 0) {
      EXPECT_EQ(r[at + 1].code, 66);
    } else {
      EXPECT_EQ(record_code(r[at + 1]), c.status);
    }
    EXPECT_EQ(info(r, 2), c.full);
  }
}

TEST_F(Requests, RowDescriptionSendsTheWireTypesAskedFor) {
  exec(
      "CREATE TABLE wt(i INTEGER, d DOUBLE, t VARCHAR(10), n NUMERIC(10,2), ts TIMESTAMP, b "
      "BINARY(4))");
  exec("INSERT INTO wt VALUES(7, 2.75, '12', '-3.5', '2023-12-31 23:59:58.5', x'CAFE')");
  const std::string desc = item(69, u32le(0) + u16le(0)) + item(70, u16le(0)) +
                           def_long(78, 20) +                    // integer as text
                           item(70, u16le(1)) + def_short(82) +  // double as i32
                           item(70, u16le(2)) + def_short(81) +  // text as double
                           item(70, u16le(3)) +
                           def_numeric(85, 10, 2) +                // numeric (type 2): item 115
                           item(70, u16le(4)) + def_short(90) +    // date-time record
                           item(70, u16le(5)) + def_long(76, 4) +  // binary
                           item(0);
  const std::uint32_t cursor = open("SELECT i, d, t, n, ts, b FROM wt", desc);
  ASSERT_NE(cursor, 0u);
  const auto r = h_.request(fetch(cursor, 1, 1));
  ASSERT_EQ(codes(r),
            (std::vector<int>{107, 112, 111, 115, 120, 105, 132, 0, 66, 67, 67, 67, 0}));
  EXPECT_EQ(r[0].payload, "7");
  EXPECT_EQ(rd32(r[1].payload), 2u);
  double d;
  std::memcpy(&d, r[2].payload.data(), 8);
  EXPECT_EQ(d, 12.0);
  EXPECT_EQ(r[3].payload, (std::string{10, 2, 0x00, 0x00, 0x00, 0x00, 0x35,
                                       0x0D}));  // precision, scale, -3.50
  EXPECT_EQ(rd16(r[4].payload), 2023u);
  EXPECT_EQ(r[4].payload[2], 11);  // December, counting from 0
  EXPECT_EQ(r[4].payload[6], 31);
  EXPECT_EQ(rd32(r[4].payload, 10), 500000u);
  EXPECT_EQ(r[5].payload, "\xCA\xFE");
}

TEST_F(Requests, ChangesThroughTheCursor) {
  exec("CREATE TABLE pc(id INTEGER, name VARCHAR(10) DEFAULT 'dflt')");
  for (int i = 1; i <= 3; ++i)
    exec("INSERT INTO pc VALUES(" + std::to_string(i) + ", 'n" + std::to_string(i) + "')");
  exec("COMMIT");
  const std::uint32_t cursor = open("SELECT id, name FROM pc ORDER BY id");
  ASSERT_NE(cursor, 0u);
  auto count = [&] {
    const auto r = h_.request(item(22, "SELECT count(*) FROM pc WHERE name IS NOT NULL") +
                              item(136, u16le(1)) + item(24, u32le(0xFFFFFFFF) + u16le(0)) +
                              def_short(82) + item(0));
    return rd32(r[find(r, 112)].payload);
  };
  auto names = [&](std::int32_t absolute) {
    const auto r = h_.request(fetch(cursor, absolute, 1, 1));
    if (r.size() > 1 && r[1].code == 107) return r[1].payload;
    if (r.size() > 1 && r[0].code == 132) return std::to_string(record_code(r[1]));
    return std::string("?");
  };
  // Update row 2: both columns given.
  h_.request(fetch(cursor, 2, 1, 1));
  auto r = h_.request(item(40, u32le(cursor)) +
                      item(104, std::string(8, '\0').replace(0, 1, 1, '\2')) +
                      item(107, "two") + item(132) + item(0));
  ASSERT_EQ(codes(r), (std::vector<int>{66, 67, 67, 67, 0}));
  EXPECT_EQ(info(r, 2), 1);
  EXPECT_EQ(names(2), "two");
  // Delete it: the row becomes a hole (-197) in the cursor and leaves the table.
  r = h_.request(item(41, u32le(cursor)) + item(134) + item(134));
  EXPECT_EQ(r[0].code, 66);
  EXPECT_EQ(names(2), "-197");
  EXPECT_EQ(count(), 2u);
  r = h_.request(item(41, u32le(cursor)) + item(134) + item(134));
  EXPECT_EQ(record_code(r[0]), -197);
  // Insert a row, its name left to the default (101).
  r = h_.request(item(39, u32le(cursor)) +
                 item(104, std::string(8, '\0').replace(0, 1, 1, '\x09')) + item(101) +
                 item(132) + item(0));
  ASSERT_EQ(r[0].code, 0);
  EXPECT_EQ(r[1].code, 66);
  EXPECT_EQ(info(r, 2), 1);
  EXPECT_EQ(info(r, 1), 4);  // the new row is the cursor's fourth
  EXPECT_EQ(count(), 3u);
  const auto q =
      h_.request(item(22, "SELECT name FROM pc WHERE id = 9") + item(136, u16le(1)) +
                 item(24, u32le(0xFFFFFFFF) + u16le(0)) + def_long(78, 10) + item(0));
  EXPECT_EQ(q[find(q, 107)].payload, "dflt");
  // Values that match no columns of the cursor are refused.
  r = h_.request(item(40, u32le(cursor)) + item(107, "x") + item(107, "y") + item(107, "z") +
                 item(132) + item(0));
  EXPECT_EQ(record_code(r[0]), -1000);
  EXPECT_FALSE(h_.session().closed());
}

TEST_F(Requests, ChangesNeedACursorOverOneTable) {
  exec("CREATE TABLE j1(a INTEGER)");
  exec("CREATE TABLE j2(b INTEGER)");
  exec("INSERT INTO j1 VALUES(1)");
  exec("INSERT INTO j2 VALUES(1)");
  const std::uint32_t cursor = open("SELECT a, b FROM j1, j2");
  ASSERT_NE(cursor, 0u);
  h_.request(fetch(cursor, 1, 1));
  const auto r = h_.request(item(41, u32le(cursor)) + item(134) + item(134));
  ASSERT_FALSE(r.empty());
  EXPECT_EQ(record_code(r[0]), -1000);
  EXPECT_EQ(h_.request(fetch(cursor, 1, 1, 1))[0].code, 112);  // the row is still there
  // The plan of the cursor's statement.
  const auto p = h_.request(item(43, u32le(cursor)) + def_long(84, 0x7FFFFFFF));
  ASSERT_GE(p.size(), 3u);
  EXPECT_EQ(p[0].code, 114);
  EXPECT_NE(p[0].payload.find("SCAN"), std::string::npos) << p[0].payload;
  EXPECT_EQ(p[1].code, 0);
  EXPECT_EQ(p[2].code, 66);
}

TEST_F(Requests, LongParametersThroughServerVariables) {
  exec("CREATE TABLE lp(t LONG VARCHAR, b LONG BINARY)");
  auto prepare = [&](const std::string& sql, unsigned* params = nullptr) {
    const auto r = h_.request(item(22, sql) + item(136, u16le(1)));
    if (params) *params = rd16(r[0].payload);
    return rd32(r[1].payload);
  };
  auto execute = [&](std::uint32_t stmt, const std::string& rows) {
    return h_.request(item(24, u32le(stmt) + u16le(0)) + rows);
  };
  // The variables, then the value in pieces, as a client sends a long parameter.
  EXPECT_EQ(execute(prepare("create variable lp_1 long varchar"), item(0))[2].code, 66);
  EXPECT_EQ(execute(prepare("create variable lp_2 long binary"), item(0))[2].code, 66);
  unsigned params = 0;
  const std::uint32_t append = prepare("set lp_1 = lp_1 || ?", &params);
  EXPECT_EQ(params, 1u);
  std::string whole;
  for (int piece = 0; piece < 4; ++piece) {
    const std::string chunk(200, static_cast<char>('a' + piece));
    whole += chunk;
    EXPECT_EQ(execute(append, item(114, chunk) + item(132) + item(0))[2].code, 66);
  }
  const std::uint32_t append_b = prepare("set lp_2 = lp_2 || ?");
  EXPECT_EQ(
      execute(append_b, item(113, std::string("\0\x01\x02", 3)) + item(132) + item(0))[2].code,
      66);
  // The statement names the variables (item 126) where the values belong.
  const std::uint32_t insert = prepare("INSERT INTO lp VALUES(?, ?)");
  EXPECT_EQ(
      execute(insert, item(126, "lp_1") + item(126, "LP_2") + item(132) + item(0))[2].code, 66);
  const auto r = h_.request(item(22, "SELECT t, b FROM lp") + item(136, u16le(1)) +
                            item(24, u32le(0xFFFFFFFF) + u16le(0)) + def_long(84, 0x7FFFFFFF) +
                            def_long(83, 0x7FFFFFFF) + item(0));
  ASSERT_TRUE(h_.parse_ok());
  const int t = find(r, 114);
  ASSERT_GE(t, 0);
  EXPECT_EQ(r[t].payload, whole);
  EXPECT_EQ(r[t + 1].payload, std::string("\0\x01\x02", 3));
  // Dropped, a variable is gone; a reference to it fails the statement.
  EXPECT_EQ(execute(prepare("drop variable lp_1"), item(0))[2].code, 66);
  const auto gone = execute(insert, item(126, "lp_1") + item(103) + item(132) + item(0));
  EXPECT_EQ(static_cast<std::int32_t>(rd32(gone[2].payload)), -143);
  EXPECT_EQ(static_cast<std::int32_t>(
                rd32(execute(prepare("create variable lp_2 long binary"), item(0))[2].payload)),
            -110);
}

TEST_F(Requests, SeveralQueriesGiveAResultSetEachThroughResume) {
  exec("CREATE TABLE m1(a INTEGER)");
  exec("CREATE TABLE m2(b VARCHAR(5))");
  exec("INSERT INTO m1 VALUES(1)");
  exec("INSERT INTO m1 VALUES(2)");
  exec("INSERT INTO m2 VALUES('x')");
  const std::uint32_t cursor = open(
      "SELECT a FROM m1 ORDER BY a; INSERT INTO m2 VALUES('y'); SELECT b FROM m2 ORDER BY b");
  ASSERT_NE(cursor, 0u);
  auto r = h_.request(fetch(cursor, 1, 5));
  std::vector<std::uint32_t> a;
  for (const auto& it : r)
    if (it.code == 112) a.push_back(rd32(it.payload));
  EXPECT_EQ(a, (std::vector<std::uint32_t>{1, 2}));
  // The next result set: its own columns, from before its first row.
  r = h_.request(item(42, u32le(cursor)));
  ASSERT_EQ(codes(r), (std::vector<int>{66, 67, 67, 67, 0}));
  EXPECT_EQ(info(r, 6), 1);
  r = h_.request(fetch(cursor, 1, 5));
  std::vector<std::string> b;
  for (const auto& it : r)
    if (it.code == 107) b.push_back(it.payload);
  EXPECT_EQ(b, (std::vector<std::string>{"x", "y"}));  // the insert between ran first
  r = h_.request(item(46, u32le(cursor) + u16le(135)));
  ASSERT_GE(r.size(), 3u);
  EXPECT_EQ(r[0].code, 78);
  EXPECT_EQ(r[2].payload, "b");
  // Past the last one the procedure has completed.
  r = h_.request(item(42, u32le(cursor)));
  EXPECT_EQ(record_code(r[0]), 105);
}

// A row description may ask for the bookmark column (definition 96, one past the last
// column): each row then ends with its bookmark (item 127, 4 bytes), and a fetch to that
// bookmark comes back to the row. Definition 73 there turns it off again.
TEST_F(Requests, BookmarkColumnCarriesEachRowsBookmark) {
  exec("CREATE TABLE bm(s VARCHAR(4))");
  for (const char* v : {"a", "b", "c", "d"}) exec(std::string("INSERT INTO bm VALUES('") + v + "')");
  const std::string with_bookmark = item(69, u32le(0) + u16le(0)) + item(70, u16le(0)) +
                                    def_long(78, 4) + item(70, u16le(1)) + def_short(96) +
                                    item(0);
  const std::uint32_t cursor = open("SELECT s FROM bm ORDER BY s", with_bookmark);
  ASSERT_NE(cursor, 0u);
  auto r = h_.request(fetch(cursor, 2, 2, 0x01));
  ASSERT_EQ(codes(r), (std::vector<int>{107, 127, 132, 107, 127, 132, 0, 66, 67, 67, 67, 0}));
  EXPECT_EQ(r[0].payload, "b");
  EXPECT_EQ(r[1].payload, u32le(2));
  EXPECT_EQ(r[3].payload, "c");
  EXPECT_EQ(r[4].payload, u32le(3));
  r = h_.request(fetch(cursor, static_cast<std::int32_t>(rd32(r[4].payload)), 1, 0x05));
  ASSERT_EQ(codes(r), (std::vector<int>{107, 127, 132, 0, 66, 67, 67, 67, 0}));
  EXPECT_EQ(r[0].payload, "c");
  // Off again: the rows carry their column alone.
  h_.request(item(69, u32le(cursor) + u16le(0)) + item(70, u16le(1)) + item(73) + item(0));
  r = h_.request(fetch(cursor, 1, 1, 0x01));
  EXPECT_EQ(codes(r), (std::vector<int>{107, 132, 0, 66, 67, 67, 67, 0}));
  EXPECT_FALSE(h_.session().closed());
}

// The put reply: slot 2 the rows inserted, slot 1 the position of the last of them,
// slot 23 the bookmark of the first of them (the rows inserted have the bookmarks from
// slot 23 to slot 1); both 0 when nothing went in.
TEST_F(Requests, PutReplyTellsTheInsertedRowsBookmarks) {
  const std::uint32_t cursor = numbers("pb", 3);
  ASSERT_NE(cursor, 0u);
  auto r = h_.request(item(39, u32le(cursor)) + item(112, u32le(7)) + item(132) +
                      item(112, u32le(8)) + item(132) + item(0));
  ASSERT_EQ(r[1].code, 66);
  EXPECT_EQ(info(r, 2), 2);
  EXPECT_EQ(info(r, 1), 5);
  EXPECT_EQ(info(r, 23), 4);
  r = h_.request(fetch(cursor, static_cast<std::int32_t>(info(r, 23)), 2, 0x05));
  EXPECT_EQ(ints(r), (std::vector<std::uint32_t>{7, 8}));
  r = h_.request(item(39, u32le(cursor)) + item(107, "x") + item(107, "y") + item(132) +
                 item(0));
  EXPECT_EQ(record_code(r[1]), -1000);
  EXPECT_EQ(info(r, 2), 0);
  EXPECT_EQ(info(r, 1), 0);
  EXPECT_EQ(info(r, 23), 0);
}

// Value B of the prepare reply is the statement's kind: 5 one query (its description at
// prepare holds for its cursor), 13 a text of several statements among which a query
// (each result set has its own description), 0 a statement without a result set.
TEST_F(Requests, PrepareReplyTellsTheStatementKind) {
  exec("CREATE TABLE sk(a INTEGER)");
  struct Case {
    const char* sql;
    int kind;
  };
  const Case cases[] = {
      {"SELECT a FROM sk", 5},
      {"SELECT a FROM sk; SELECT 2", 13},
      {"INSERT INTO sk VALUES(1); SELECT a FROM sk", 13},
      {"INSERT INTO sk VALUES(?)", 0},
      {"INSERT INTO sk VALUES(1); DELETE FROM sk", 0},
      {"CREATE TABLE sk2(b INTEGER)", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    const auto r = h_.request(item(22, c.sql) + item(136, u16le(1)));
    ASSERT_EQ(r[0].code, 30);
    ASSERT_EQ(r[0].payload.size(), 4u);
    EXPECT_EQ(static_cast<std::uint8_t>(r[0].payload[3]), c.kind);
  }
}

// A date and a time sent as date-time records (a time has the date fields 0) go into
// DATE and TIME columns as a date and a time, and come back as such: as text of their
// own form, or as records when the row description asks for them.
TEST_F(Requests, DatesAndTimesTravelAsSuch) {
  exec("CREATE TABLE dd(d DATE, t TIME)");
  auto record = [](unsigned y, unsigned mon0, unsigned day, unsigned h, unsigned mi,
                   unsigned s) {
    std::string r = u16le(y) + char(mon0) + std::string(3, '\0') + char(day) + char(h) +
                    char(mi) + char(s) + u32le(0);
    return r;
  };
  const auto p = h_.request(item(22, "INSERT INTO dd VALUES(?, ?)") + item(136, u16le(1)));
  const std::uint32_t stmt = rd32(p[1].payload);
  auto r = h_.request(item(24, u32le(stmt) + u16le(0)) + item(0) +
                      item(120, record(2024, 0, 31, 0, 0, 0)) +
                      item(120, record(0, 0, 0, 10, 20, 30)) + item(132) + item(0));
  ASSERT_EQ(find(r, 66), 2);
  // The parameters describe as the columns they go to: a date and a time, input.
  r = h_.request(item(27, u32le(stmt) + u16le(135)));
  ASSERT_EQ(codes(r), (std::vector<int>{79, 74, 134, 88, 74, 134, 0, 66, 67, 0}));
  EXPECT_EQ(rd32(r[0].payload), 10u);
  EXPECT_EQ(rd16(r[0].payload, 4), 0x4001u);
  EXPECT_EQ(r[1].payload, "date");
  EXPECT_EQ(r[4].payload, "time");
  const std::uint32_t cursor = open("SELECT d, t FROM dd WHERE d = '2024-01-31'");
  ASSERT_NE(cursor, 0u);
  r = h_.request(fetch(cursor, 1, 1, 1));
  ASSERT_EQ(codes(r), (std::vector<int>{109, 118, 132, 0, 66, 67, 67, 67, 0}));
  EXPECT_EQ(r[0].payload, "2024-01-31");
  EXPECT_EQ(r[1].payload, "10:20:30");
  h_.request(item(69, u32le(cursor) + u16le(0)) + item(70, u16le(0)) + def_short(90) +
             item(70, u16le(1)) + def_short(90) + item(0));
  r = h_.request(fetch(cursor, 1, 1, 1));
  ASSERT_EQ(codes(r), (std::vector<int>{120, 120, 132, 0, 66, 67, 67, 67, 0}));
  EXPECT_EQ(r[0].payload, record(2024, 0, 31, 0, 0, 0));
  EXPECT_EQ(r[1].payload, record(0, 0, 0, 10, 20, 30));
}
