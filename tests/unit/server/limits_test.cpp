// The limits that keep one client from taking the server's memory: request
// messages, compressed packets, queued input, cursor rows and statements.
#include <gtest/gtest.h>
#include <zlib.h>

#include "compression.h"
#include "session_harness.h"

using namespace script;

namespace {

std::int32_t record_code(const ReplyItem& it) {
  return static_cast<std::int32_t>(rd32(it.payload));
}

// The closing record of a reply, when there is one.
std::int32_t last_record(const std::vector<ReplyItem>& r, std::string* text = nullptr) {
  for (std::size_t i = 0; i < r.size(); ++i) {
    if (r[i].code != 65) continue;
    if (text && i + 1 < r.size() && r[i + 1].code == 135) *text = r[i + 1].payload;
    return record_code(r[i]);
  }
  return 0;
}

}  // namespace

TEST(Limits, InflatingStopsAtTheBound) {
  // 8 MiB of zeros deflate to a few kilobytes; inflating them stops near the bound.
  const std::string bomb = deflate_like_a_client(std::string(8u << 20, '\0'));
  ASSERT_LT(bomb.size(), 64u * 1024);
  vqeng::Decompressor d;
  ASSERT_TRUE(d.ok());
  std::string out;
  bool too_much = false;
  EXPECT_FALSE(d.inflate_body(bomb, out, 64 * 1024, &too_much));
  EXPECT_TRUE(too_much);
  EXPECT_LE(out.size(), 64u * 1024 + 4096);
}

TEST(Limits, InputPastTheBoundsClosesWithARecord) {
  enum Input { OneMessage, Compressed, ManyMessages };
  struct Case {
    const char* name;
    Input input;
    std::size_t max_message, max_connection;
    const char* reason;
  };
  const Case cases[] = {
      {"one message in plain packets", OneMessage, 4096, 1u << 20,
       "request message larger than 4096 bytes"},
      {"one compressed packet", Compressed, 64 * 1024, 1u << 20,
       "request message larger than 65536 bytes"},
      // The message may take it, the connection may not: the connection's bound is named.
      {"one compressed packet past the connection's bound", Compressed, 1u << 20, 64 * 1024,
       "requests waiting to run hold more than 65536 bytes"},
      {"messages waiting to run", ManyMessages, 4096, 16 * 1024,
       "requests waiting to run hold more than 16384 bytes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SessionHarness h;
    h.config().limits.max_message_bytes = c.max_message;
    h.config().limits.max_connection_bytes = c.max_connection;
    AppConnectFields f;
    if (c.input == Compressed) f.options |= 0x004;
    ASSERT_EQ(h.app_connect(f).size(), 312u);
    ASSERT_EQ(h.connect()[0].code, 133);
    const std::string filler = item(3, u32le(0));  // a queued item: six bytes, no reply
    std::string pieces;
    for (int i = 0; i < 300; ++i) pieces += filler;  // 1800 bytes a packet
    std::string bytes;
    if (c.input == OneMessage) {
      for (int i = 0; i < 3; ++i) bytes += packet(24, 0, pieces);  // one message, not ended
    } else if (c.input == Compressed) {
      std::string big;
      for (int i = 0; i < 200; ++i) big += pieces;  // 360000 bytes of items
      bytes = packet(24, 0x41, deflate_like_a_client(big));
    } else {
      for (int i = 0; i < 12; ++i) bytes += packet(24, 1, pieces);  // twelve whole messages
    }
    // Fed without running, as while a statement runs: the messages queue up.
    h.session().feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    EXPECT_TRUE(h.session().closed());
    EXPECT_NE(h.session().close_reason().find(c.reason), std::string::npos)
        << h.session().close_reason();
    std::string text;
    EXPECT_EQ(last_record(h.reply_items(h.exchange("")), &text), -308);
    EXPECT_NE(text.find(c.reason), std::string::npos) << text;
  }
}

// Cursor rows and statement texts stay within the tighter of the connection's bound
// and the server's budget, and the refusal names the one that refused.
TEST(Limits, CursorRowsAndStatementsStayWithinTheBounds) {
  struct Case {
    const char* name;
    // 40 KiB for the server instead of 32 KiB for the connection: the server's budget
    // counts the request being run too.
    bool server_budget;
    const char* bound;
  };
  const Case cases[] = {
      {"connection's bound", false, "32768 bytes one connection may hold"},
      {"server's budget", true, "40960 bytes all connections of this server may hold together"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    SessionHarness h;
    if (k.server_budget)
      h.config().memory = std::make_shared<vqeng::MemoryBudget>(40 * 1024);
    else
      h.config().limits.max_connection_bytes = 32 * 1024;
    ASSERT_EQ(h.app_connect().size(), 312u);
    ASSERT_EQ(h.connect()[0].code, 133);
    ASSERT_EQ(h.request(item(25, "CREATE TABLE wide(t VARCHAR(2000))"))[2].code, 66);
    ASSERT_EQ(
        h.request(item(
            25,
            "INSERT INTO wide WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM n "
            "WHERE x < 100) SELECT printf('%.1000c', 'w') FROM n"))[2]
            .code,
        66);
    auto open = [&](const std::string& sql) {
      return h.request(item(22, sql) + item(136, u16le(1)) +
                       item(24, u32le(0xFFFFFFFF) + u16le(0)) + item(0) +
                       item(33, u32le(0xFFFFFFFF) + u16le(0) + u32le(0)) + item(134, "c") +
                       item(0));
    };
    // The open's status follows the last item 44 of the reply.
    auto open_status = [](const std::vector<ReplyItem>& r, std::string* text) {
      std::size_t at = 0;
      for (std::size_t i = 0; i < r.size(); ++i)
        if (r[i].code == 44) at = i + 1;
      return last_record(
          std::vector<ReplyItem>(r.begin() + static_cast<std::ptrdiff_t>(at), r.end()), text);
    };
    // A hundred rows of a thousand bytes do not fit in 32 KiB.
    std::string text;
    auto r = open("SELECT t FROM wide");
    EXPECT_EQ(open_status(r, &text), -1000);
    EXPECT_NE(text.find(k.bound), std::string::npos) << text;
    // The connection goes on, and a smaller result opens.
    r = open("SELECT t FROM wide LIMIT 10");
    std::uint32_t cursor = 0;
    for (std::size_t i = 0; i + 1 < r.size(); ++i)
      if (r[i].code == 44 && rd32(r[i].payload) != 0) cursor = rd32(r[i].payload);
    EXPECT_NE(cursor, 0u);
    EXPECT_EQ(open_status(r, nullptr), 0);
    // A statement text that would take the rest is refused at prepare.
    r = h.request(item(22, "SELECT '" + std::string(240, 's') + "'") + item(136, u16le(1)));
    EXPECT_EQ(r[0].code, 30);  // still room for a small one
    const std::string big = "SELECT '" + std::string(6000, 'b') + "'";
    r = h.request(long_item(22, big) + item(136, u16le(1)));
    ASSERT_TRUE(h.parse_ok());
    ASSERT_GE(r.size(), 2u);
    EXPECT_EQ(r[0].code, 29);
    EXPECT_EQ(rd32(r[0].payload), 0u);
    EXPECT_EQ(record_code(r[1]), -1000);
    // Closing the cursor gives its room back.
    ASSERT_EQ(h.request(item(34, u32le(cursor)))[0].code, 66);
    r = h.request(long_item(22, big) + item(136, u16le(1)));
    EXPECT_EQ(r[0].code, 30);
    EXPECT_FALSE(h.session().closed());
    if (k.server_budget) {
      EXPECT_LE(h.config().memory->used(), h.config().memory->limit());
    }
  }
}

// Connections that each stay within their own bounds share the server's budget:
// input that would pass it closes the connection it came on, with an error record
// naming the budget, also before the database connect; what a connection held goes
// back to the budget when it ends, and a new connection is served again.
TEST(Limits, ConnectionsShareTheServersBudget) {
  const std::string filler = item(3, u32le(0));  // a queued item: six bytes, no reply
  std::string pieces;
  for (int i = 0; i < 300; ++i) pieces += filler;  // 1800 bytes
  std::string big;
  for (int i = 0; i < 100; ++i) big += pieces;  // 180000 bytes of items
  std::string plain;
  for (int i = 0; i < 100; ++i) plain += packet(24, 0, pieces);  // one message, not ended
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"one compressed packet", packet(24, 0x40, deflate_like_a_client(big))},
      {"plain packets", plain},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto budget = std::make_shared<vqeng::MemoryBudget>(256 * 1024);
    AppConnectFields f;
    f.options |= 0x004;  // compression
    auto holder = std::make_unique<SessionHarness>(0x5A, 1);
    SessionHarness late(0x5A, 2);
    holder->config().memory = budget;
    late.config().memory = budget;
    ASSERT_EQ(holder->app_connect(f).size(), 312u);
    ASSERT_EQ(late.app_connect(f).size(), 312u);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.bytes.data());
    holder->session().feed(bytes, c.bytes.size());
    EXPECT_FALSE(holder->session().closed()) << holder->session().close_reason();
    EXPECT_GE(budget->used(), big.size());
    late.session().feed(bytes, c.bytes.size());
    EXPECT_TRUE(late.session().closed());
    const std::string reason = "the server's 262144 bytes (--max-server-bytes)";
    EXPECT_NE(late.session().close_reason().find(reason), std::string::npos)
        << late.session().close_reason();
    EXPECT_LE(budget->used(), budget->limit());
    std::string text;
    EXPECT_EQ(last_record(late.reply_items(late.exchange("")), &text), -308);
    EXPECT_NE(text.find(reason), std::string::npos) << text;
    holder.reset();
    EXPECT_EQ(budget->used(), 0u);
    SessionHarness next(0x5A, 3);
    next.config().memory = budget;
    ASSERT_EQ(next.app_connect(f).size(), 312u);
    ASSERT_EQ(next.connect()[0].code, 133);
    EXPECT_EQ(next.request(item(25, "SELECT 1"))[2].code, 66);
  }
}
