// Fetch, prefetch and get data over the scripted presentation layer.
#include "cmdseq/fetch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cmdseq/fetch_buffer.h"
#include "cmdseq/request_log.h"
#include "cmdseq/statement.h"
#include "cmdseq/wire_values.h"
#include "cmdseq_fixture.h"

namespace {

void int_row(a_strm_conn_rec& s, std::int32_t v) {
  s.item(112, le32(static_cast<std::uint32_t>(v))).item(CS_ITEM_END_OF_DATA, Bytes{0});
}

struct FetchFixture : ::testing::Test {
  CmdSeqConn c;
  a_cmdseq_stmt_handle handle;
  std::string text = "select n from t";
  a_cmdseq_prep_param prep{text.c_str(), static_cast<std::int32_t>(text.size()), 0, 0};
  a_cmdseq_cursor cursor{0};
  a_cmdseq_open_param open;
  a_cmdseq_desc bound;
  std::int32_t value = 0;
  std::int32_t indicator = 7;
  std::uint16_t options = 0;  // of every fetch()

  FetchFixture() {
    c.conn->server_strm_ver = 12;
    cursor.conn = c.conn;
    open.handle = &handle;
    open.cursor = &cursor;
    open.cursor_name = "C";
    c.sconn.item(29, le32(40));
    ok(c.sconn);
    EXPECT_EQ(CmdSeqPrepare(c.conn, &c.err, &handle, &prep), CMDSEQ_OK);
    c.sconn.sync().item(44, le32(9));
    ok(c.sconn, {{6, 1}});
    EXPECT_EQ(CmdSeqOpenCursorPrefetch(c.conn, &c.err, &open, nullptr, 0), CMDSEQ_OK);
    CmdSeqInitDesc(&bound);
    EXPECT_EQ(CmdSeqAllocDescItems(&bound, 1, 1), CMDSEQ_OK);
    bound.items->type = 4;
    bound.items->length = 4;
    bound.items->values()[0] = {&value, &indicator, nullptr};
  }
  ~FetchFixture() override {
    if (cursor.flags_b & CS_CURSOR_B_OPEN) i_cs_RemoveCursor(c.conn, &cursor);
    i_cs_FreeAllFetchData(&cursor);
    i_cs_DropStmt(c.conn, &handle, true);
    CmdSeqFreeDescItems(&bound);
  }

  a_cmdseq_return fetch(std::int32_t offset = 1, std::uint16_t* rows = nullptr) {
    a_cmdseq_fetch_param f;
    f.cursor = &cursor;
    f.bound = &bound;
    f.offset = offset;
    f.options = options;
    const a_cmdseq_return r = CmdSeqFetch(c.conn, &c.err, &f);
    if (rows != nullptr) *rows = f.rows_fetched;
    return r;
  }
};

TEST_F(FetchFixture, RowsComeFromTheServerThenFromThePrefetchWithoutAnExchange) {
  const std::size_t at = c.sconn.sent.size();
  c.sconn.sync();
  int_row(c.sconn, 100);
  c.sconn.item(CS_ITEM_END);
  ok(c.sconn, {{5, 1}});
  c.sconn.sync();  // the prefetch reply: two rows and the end
  int_row(c.sconn, 101);
  int_row(c.sconn, 102);
  c.sconn.item(CS_ITEM_END);
  status_code(c.sconn, 100);
  c.sconn.sync();

  std::uint16_t rows = 0;
  ASSERT_EQ(fetch(1, &rows), CMDSEQ_OK);
  EXPECT_EQ(value, 100);
  EXPECT_EQ(rows, 1);
  EXPECT_EQ(codes(c.sconn, at), (std::vector<int>{69, 70, 82, 0, 35, 36, -1}));
  EXPECT_EQ(c.sconn.sent[at + 4].bytes, le32(9) + le32(1) + le16(1) + le16(0));
  const Bytes& prefetch = c.sconn.sent[at + 5].bytes;
  ASSERT_EQ(prefetch.size(), 16u);
  EXPECT_EQ(Bytes(prefetch.begin() + 8, prefetch.begin() + 12), le16(0xFFFF) + le16(10));
  EXPECT_EQ(c.conn->prefetch_cursor, &cursor);

  const std::size_t after_first = c.sconn.sent.size();
  ASSERT_EQ(fetch(), CMDSEQ_OK);
  EXPECT_EQ(value, 101);
  ASSERT_EQ(fetch(), CMDSEQ_OK);
  EXPECT_EQ(value, 102);
  EXPECT_EQ(c.sconn.sent.size(), after_first);  // both served from the prefetch

  // The end behind those rows is in the prefetch's reply: nothing is asked.
  EXPECT_EQ(fetch(1, &rows), CMDSEQ_WARNING);
  EXPECT_EQ(c.err.sqlcode, 100);
  EXPECT_EQ(rows, 0);
  EXPECT_EQ(c.sconn.sent.size(), after_first);
  EXPECT_TRUE(c.sconn.script_done());

  // The rows served locally, and the step past the last of them, move the server's
  // cursor with the next request: it then stands after the end, as the client does.
  EXPECT_EQ(cursor.position_delta, 3);
  c.sconn.item(CS_ITEM_SUCCESS).sync();
  CmdSeqResetErrorParam(&c.err, nullptr);
  EXPECT_EQ(c.status_request(), CMDSEQ_OK);
  EXPECT_EQ(codes(c.sconn, after_first), (std::vector<int>{37, 7, -1}));
  EXPECT_EQ(c.sconn.sent[after_first].bytes, le32(9) + le16(3));
}

// After the end was reached from the buffer, a relative move back counts from after the
// end: the align sent before the fetch takes the server's cursor past the last row, so
// a move of -1 lands on the last row (102), not on the one before it.
TEST_F(FetchFixture, ARelativeMoveAfterTheEndServedLocallyCountsFromAfterTheEnd) {
  c.sconn.sync();
  int_row(c.sconn, 100);
  c.sconn.item(CS_ITEM_END);
  ok(c.sconn, {{5, 1}});
  c.sconn.sync();
  int_row(c.sconn, 101);
  int_row(c.sconn, 102);
  c.sconn.item(CS_ITEM_END);
  status_code(c.sconn, 100);
  c.sconn.sync();
  ASSERT_EQ(fetch(), CMDSEQ_OK);
  ASSERT_EQ(fetch(), CMDSEQ_OK);
  ASSERT_EQ(fetch(), CMDSEQ_OK);
  EXPECT_EQ(value, 102);
  ASSERT_EQ(fetch(), CMDSEQ_WARNING);
  EXPECT_EQ(c.err.sqlcode, 100);
  // A second step past the end moves nothing more.
  ASSERT_EQ(fetch(), CMDSEQ_WARNING);
  EXPECT_EQ(cursor.position_delta, 3);

  const std::size_t at = c.sconn.sent.size();
  int_row(c.sconn, 102);
  c.sconn.item(CS_ITEM_END);
  ok(c.sconn, {{5, 3}});
  c.sconn.sync();
  CmdSeqResetErrorParam(&c.err, nullptr);
  ASSERT_EQ(fetch(-1), CMDSEQ_OK);
  EXPECT_EQ(value, 102);
  const std::vector<int> sent = codes(c.sconn, at);
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent[0], 37);
  EXPECT_EQ(c.sconn.sent[at].bytes, le32(9) + le16(3));
  std::size_t fetch_at = at;
  while (fetch_at < c.sconn.sent.size() && c.sconn.sent[fetch_at].code != 35) ++fetch_at;
  ASSERT_LT(fetch_at, c.sconn.sent.size());
  EXPECT_EQ(c.sconn.sent[fetch_at].bytes, le32(9) + le32(static_cast<std::uint32_t>(-1)) +
                                              le16(1) + le16(0));
}

// While the prefetch's reply is still on its way, a fetch takes the rows it wants from it
// straight into the bound columns (no buffer slot) and leaves the rest in the stream; the
// fetch that reaches the reply's end reads its trailer and ends the prefetch. The same
// with the first-call bit that the ODBC driver sets on each application fetch.
class PrefetchStraight : public FetchFixture,
                         public ::testing::WithParamInterface<std::uint16_t> {};

INSTANTIATE_TEST_SUITE_P(FetchOptions, PrefetchStraight, ::testing::Values(0, 0x10),
                         [](const ::testing::TestParamInfo<std::uint16_t>& info) {
                           return info.param == 0 ? "None" : "FirstCall";
                         });

TEST_P(PrefetchStraight, RowsOfAPrefetchOnItsWayGoStraightIntoTheColumns) {
  options = GetParam();
  c.sconn.sync();
  int_row(c.sconn, 100);
  c.sconn.item(CS_ITEM_END);
  ok(c.sconn, {{5, 1}});
  c.sconn.sync();  // the prefetch reply: three rows and the end
  int_row(c.sconn, 101);
  int_row(c.sconn, 102);
  int_row(c.sconn, 103);
  c.sconn.item(CS_ITEM_END_OF_DATA, Bytes{1})  // the end row: its record, 100
      .item(CS_ITEM_ERROR, error_record(100, "S0000", "S0000", "S0000"))
      .item(CS_ITEM_END);
  c.sconn.item(CS_ITEM_END);
  status_code(c.sconn, 100);
  c.sconn.sync();
  c.sconn.sync_arrived = false;

  ASSERT_EQ(fetch(), CMDSEQ_OK);
  EXPECT_EQ(value, 100);
  ASSERT_EQ(c.conn->prefetch_cursor, &cursor);
  const std::size_t after_first = c.sconn.sent.size();
  for (std::int32_t want : {101, 102, 103}) {
    SCOPED_TRACE(want);
    std::uint16_t rows = 0;
    ASSERT_EQ(fetch(1, &rows), CMDSEQ_OK);
    EXPECT_EQ(value, want);
    EXPECT_EQ(rows, 1);
    EXPECT_TRUE(cursor.buffer == nullptr || cursor.buffer->count == 0);
    EXPECT_EQ(c.conn->prefetch_cursor, &cursor);  // the rest is still in the stream
  }
  std::uint16_t rows = 7;
  EXPECT_EQ(fetch(1, &rows), CMDSEQ_WARNING);
  EXPECT_EQ(c.err.sqlcode, 100);
  EXPECT_EQ(rows, 0);
  EXPECT_EQ(c.conn->prefetch_cursor, nullptr);
  EXPECT_TRUE(c.sconn.script_done());
  EXPECT_EQ(c.sconn.sent.size(), after_first);  // no exchange for any of them
  EXPECT_EQ(cursor.position_delta, 3);
  EXPECT_EQ(cursor.rows_received, 3);
}

// A prefetch reply that has arrived whole still gives its rows straight to the fetches
// while more than half of them are unread: only then do the rest go to the buffer, and the
// next prefetch is asked for in the same step. One exchange per prefetch, and half of
// the rows never pass through the buffer.
TEST_F(FetchFixture, AnArrivedPrefetchGoesToTheBufferOnlyOnceHalfOfItIsRead) {
  const auto prefetch_reply = [&](std::int32_t from) {
    c.sconn.sync();
    for (std::int32_t v = from; v < from + 10; ++v) int_row(c.sconn, v);
    c.sconn.item(CS_ITEM_END);
    ok(c.sconn);
  };
  // An ODBC application's cursor: the prefetch keeps its size.
  i_cs_RemoveCursor(c.conn, &cursor);
  c.env.app_type = 2;
  c.sconn.sync().item(44, le32(9));
  ok(c.sconn, {{6, 1}});
  ASSERT_EQ(CmdSeqOpenCursorPrefetch(c.conn, &c.err, &open, nullptr, 0), CMDSEQ_OK);
  c.sconn.sync();
  int_row(c.sconn, 100);
  c.sconn.item(CS_ITEM_END);
  ok(c.sconn, {{5, 1}});
  prefetch_reply(101);
  c.sconn.sync();  // the fetch after the first prefetch's end
  int_row(c.sconn, 111);
  c.sconn.item(CS_ITEM_END);
  ok(c.sconn, {{5, 1}});
  prefetch_reply(112);
  c.sconn.sync();

  // The cursor's first prefetch is read to its end, then the server is asked again.
  for (std::int32_t want = 100; want <= 111; ++want) {
    ASSERT_EQ(fetch(), CMDSEQ_OK);
    ASSERT_EQ(value, want);
  }
  ASSERT_EQ(c.conn->prefetch_cursor, &cursor);
  EXPECT_EQ(cursor.rows_asked, 10);
  EXPECT_TRUE(cursor.flags_b & CS_CURSOR_B_COMPLETE);  // the first one brought all it asked

  const std::size_t at = c.sconn.sent.size();
  for (std::int32_t want = 112; want <= 115; ++want) {
    SCOPED_TRACE(want);
    ASSERT_EQ(fetch(), CMDSEQ_OK);
    EXPECT_EQ(value, want);
    EXPECT_TRUE(cursor.buffer == nullptr || cursor.buffer->count == 0);
    EXPECT_EQ(c.conn->prefetch_cursor, &cursor);
  }
  EXPECT_EQ(c.sconn.sent.size(), at);
  ASSERT_EQ(fetch(), CMDSEQ_OK);  // the fifth row: half of the reply is read
  EXPECT_EQ(value, 116);
  ASSERT_NE(cursor.buffer, nullptr);
  EXPECT_EQ(cursor.buffer->count, 5);
  EXPECT_TRUE(c.sconn.script_done());
  EXPECT_EQ(codes(c.sconn, at), (std::vector<int>{37, 36, -1}));
  EXPECT_EQ(c.sconn.sent[at].bytes, le32(9) + le16(5));
  const Bytes& prefetch = c.sconn.sent[at + 1].bytes;
  ASSERT_EQ(prefetch.size(), 16u);
  EXPECT_EQ(Bytes(prefetch.begin() + 10, prefetch.begin() + 12), le16(10));
  for (std::int32_t want = 117; want <= 121; ++want) {
    ASSERT_EQ(fetch(), CMDSEQ_OK);
    EXPECT_EQ(value, want);
  }
  EXPECT_EQ(codes(c.sconn, at), (std::vector<int>{37, 36, -1}));
  c.conn->prefetch_cursor = nullptr;  // the third prefetch's reply is not scripted
}

TEST_F(FetchFixture, AFailedPrefetchSurfacesAtTheFetchThatReachesIt) {
  c.sconn.sync();
  int_row(c.sconn, 100);
  c.sconn.item(CS_ITEM_END);
  ok(c.sconn);
  c.sconn.sync().item(CS_ITEM_END);  // the prefetch: no rows, an error
  status_code(c.sconn, -1001);
  c.sconn.sync().item(CS_ITEM_END);  // the next fetch: the server reports -853
  status_code(c.sconn, -853);
  c.sconn.sync();
  ASSERT_EQ(fetch(), CMDSEQ_OK);
  const std::size_t at = c.sconn.sent.size();
  EXPECT_EQ(fetch(), CMDSEQ_ERROR);
  EXPECT_EQ(c.err.sqlcode, -1001);
  EXPECT_EQ(codes(c.sconn, at), (std::vector<int>{35, -1}));  // no prefetch after a failure
  EXPECT_EQ(cursor.saved_prefetch_error, nullptr);
}

TEST_F(FetchFixture, ACursorTheServerWantsUnprefetchedIsNeverPrefetchedAgain) {
  c.sconn.sync();
  int_row(c.sconn, 100);
  c.sconn.item(CS_ITEM_END);
  ok(c.sconn);
  c.sconn.sync();
  int_row(c.sconn, 101);
  c.sconn.item(CS_ITEM_END);
  ok(c.sconn, {{21, 1}});
  c.sconn.sync();
  int_row(c.sconn, 102);
  c.sconn.item(CS_ITEM_END);
  ok(c.sconn);
  c.sconn.sync();
  ASSERT_EQ(fetch(), CMDSEQ_OK);
  ASSERT_EQ(fetch(), CMDSEQ_OK);  // from the prefetch
  EXPECT_EQ(value, 101);
  const std::size_t at = c.sconn.sent.size();
  ASSERT_EQ(fetch(), CMDSEQ_OK);  // reads the prefetch's end, then asks the server
  EXPECT_EQ(value, 102);
  EXPECT_TRUE(cursor.flags_a & CS_CURSOR_A_NO_PREFETCH);
  EXPECT_EQ(codes(c.sconn, at), (std::vector<int>{37, 35, -1}));
}

TEST_F(FetchFixture, EndOfDataAndAMissingRowFromTheServer) {
  struct Case {
    std::int32_t code;
    a_cmdseq_return result;
  };
  for (const Case& k : {Case{100, CMDSEQ_WARNING}, Case{-197, CMDSEQ_ERROR}}) {
    SCOPED_TRACE(k.code);
    CmdSeqResetErrorParam(&c.err, nullptr);
    cursor.flags_a &= static_cast<std::uint8_t>(~CS_CURSOR_A_END_REACHED);  // a fresh case
    c.conn->prefetch_on = false;
    c.sconn.sync()
        .item(CS_ITEM_END_OF_DATA, Bytes{1})
        .item(CS_ITEM_ERROR, error_record(k.code, "02000", "02000", "02000"))
        .item(CS_ITEM_END)
        .item(CS_ITEM_END);
    ok(c.sconn);
    c.sconn.sync();
    std::uint16_t rows = 9;
    indicator = 0;
    EXPECT_EQ(fetch(1, &rows), k.result);
    EXPECT_EQ(c.err.sqlcode, k.code);
    EXPECT_EQ(rows, 0);
    EXPECT_TRUE(c.sconn.script_done());
    EXPECT_TRUE(c.connected());
  }
}

TEST_F(FetchFixture, MoreRowsThanAskedBreakTheReply) {
  c.conn->prefetch_on = false;
  c.sconn.sync();
  int_row(c.sconn, 5);
  int_row(c.sconn, 6);  // one row was asked
  c.sconn.item(CS_ITEM_END);
  ok(c.sconn);
  c.sconn.sync().item(CS_ITEM_SUCCESS).sync();
  EXPECT_EQ(fetch(), CMDSEQ_PROTOCOL_ERROR);
  EXPECT_EQ(value, 5);
  EXPECT_TRUE(c.connected());
  EXPECT_EQ(c.status_request(), CMDSEQ_OK);  // the stream is in step again
}

// A fetch the server fails (here at a deleted row) gives up the prefetch sent with it. Its
// own reply is verified first; only then is the prefetch's reply, the message after it,
// dropped, so that the next request reads its own reply.
TEST_F(FetchFixture, AFailedFetchDropsItsPrefetchAfterItsOwnReply) {
  c.sconn.sync()
      .item(CS_ITEM_END_OF_DATA, Bytes{1})
      .item(CS_ITEM_ERROR, error_record(-197, "24503", "HY109", "S1109"))
      .item(CS_ITEM_END)
      .item(CS_ITEM_END);
  status_code(c.sconn, -197);
  c.sconn.sync();  // the prefetch's reply
  int_row(c.sconn, 101);
  c.sconn.item(CS_ITEM_END);
  ok(c.sconn);
  c.sconn.sync().item(CS_ITEM_SUCCESS).sync();  // the next request's reply
  const std::size_t at = c.sconn.sent.size();
  EXPECT_EQ(fetch(3), CMDSEQ_ERROR);
  EXPECT_EQ(c.err.sqlcode, -197);
  ASSERT_GE(c.sconn.sent.size(), at + 2);
  EXPECT_EQ(c.sconn.sent[c.sconn.sent.size() - 2].code, 36);  // a prefetch went with it
  EXPECT_EQ(c.conn->prefetch_cursor, nullptr);
  CmdSeqResetErrorParam(&c.err, nullptr);
  EXPECT_EQ(c.status_request(), CMDSEQ_OK);
  EXPECT_TRUE(c.sconn.script_done());
}

TEST_F(FetchFixture, MovesOtherThanToTheNextRowGoToTheServer) {
  struct Case {
    const char* name;
    std::int32_t offset;
    std::uint16_t options;
    bool prefetch;
  };
  const Case cases[] = {
      {"backwards", -2, 0, false},
      {"absolute", 7, 1, true},
      {"relative forwards", 3, 0, true},
      {"the current row again", 0, 0, true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    c.conn->prefetch_cursor = nullptr;
    cursor.flags_a |= CS_CURSOR_A_PREFETCH;
    const std::size_t at = c.sconn.sent.size();
    c.sconn.sync();
    int_row(c.sconn, k.offset);
    c.sconn.item(CS_ITEM_END);
    ok(c.sconn, {{5, 40}});
    c.sconn.sync();
    a_cmdseq_fetch_param f;
    f.cursor = &cursor;
    f.bound = &bound;
    f.offset = k.offset;
    f.options = k.options;
    ASSERT_EQ(CmdSeqFetch(c.conn, &c.err, &f), CMDSEQ_OK);
    EXPECT_EQ(value, k.offset);
    EXPECT_EQ(f.position, 40u);
    std::size_t fetch_at = at;
    while (c.sconn.sent[fetch_at].code != 35) ++fetch_at;
    EXPECT_EQ(c.sconn.sent[fetch_at].bytes,
              le32(9) + le32(static_cast<std::uint32_t>(k.offset)) + le16(1) + le16(k.options));
    EXPECT_EQ(c.sconn.sent[fetch_at + 1].code, k.prefetch ? 36 : -1);
    if (k.prefetch) {
      // The prefetch's reply is given up unread before the next case.
      c.sconn.item(CS_ITEM_END);
      ok(c.sconn);
      c.sconn.sync();
      ASSERT_EQ(i_cs_ClearPrefetchPending(c.conn, &c.err, false), CMDSEQ_OK);
    }
  }
}

TEST_F(FetchFixture, RequestsTheCursorCannotServeAreRefused) {
  struct Case {
    const char* name;
    std::uint32_t open_flags;
    std::int32_t offset;
    std::uint16_t rows;
    std::int32_t sqlcode;
  };
  const Case cases[] = {
      {"forward-only cursor moved by 2", CS_OPEN_FORWARD_ONLY, 2, 0, -668},
      {"more rows than the description holds", 0, 1, 5, -182},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    CmdSeqResetErrorParam(&c.err, nullptr);
    cursor.open_flags = k.open_flags;
    ASSERT_EQ(CmdSeqResizeDescRows(&bound, 4), CMDSEQ_OK);
    a_cmdseq_fetch_param f;
    f.cursor = &cursor;
    f.bound = &bound;
    f.offset = k.offset;
    f.row_count = k.rows;
    const std::size_t at = c.sconn.sent.size();
    EXPECT_EQ(CmdSeqFetch(c.conn, &c.err, &f), CMDSEQ_ERROR);
    EXPECT_EQ(c.err.sqlcode, k.sqlcode);
    EXPECT_EQ(c.sconn.sent.size(), at);
  }
  i_cs_RemoveCursor(c.conn, &cursor);
  CmdSeqResetErrorParam(&c.err, nullptr);
  EXPECT_EQ(fetch(), CMDSEQ_ERROR);
  EXPECT_EQ(c.err.sqlcode, -180);
}

TEST_F(FetchFixture, ThePrefetchShrinksToTheMemoryBudget) {
  struct Case {
    std::uint32_t budget;
    int rows;  // 0: no prefetch
  };
  for (const Case& k : {Case{1u << 20, 10}, Case{12000, 3}, Case{8000, 0}}) {
    SCOPED_TRACE(k.budget);
    i_cs_FreeAllFetchData(&cursor);
    ASSERT_EQ(i_cs_RebuildColInfo(&cursor, &bound), CMDSEQ_OK);
    CmdSeqMarkCursorCurrent(&cursor, &bound);
    cursor.row_size_est = 6000;  // a large row
    cursor.flags_a = CS_CURSOR_A_PREFETCH;
    cursor.flags_c = 0;
    cursor.rows_asked = cursor.rows_received = 0;
    c.conn->fetch_budget = k.budget;
    c.conn->fetch_bytes_in_use = 0;
    c.conn->prefetch_cursor = nullptr;
    a_cmdseq_fetch_param f;
    f.cursor = &cursor;
    f.bound = &bound;
    a_cmdseq_return result = CMDSEQ_OK;
    const std::size_t at = c.sconn.sent.size();
    const bool sent = i_cs_InitiatePrefetch(c.conn, &f, &result, &c.err, 1);
    EXPECT_EQ(sent, k.rows != 0);
    EXPECT_EQ(result, CMDSEQ_OK);
    if (sent) {
      ASSERT_EQ(codes(c.sconn, at), (std::vector<int>{36, -1}));
      EXPECT_EQ(Bytes(c.sconn.sent[at].bytes.begin() + 10, c.sconn.sent[at].bytes.begin() + 12),
                le16(static_cast<std::uint16_t>(k.rows)));
      EXPECT_EQ(cursor.rows_asked, k.rows);
    } else {
      EXPECT_EQ(c.sconn.sent.size(), at);
    }
    c.conn->prefetch_cursor = nullptr;
  }
}

TEST_F(FetchFixture, APrefetchJoinsTheOpenAndServesTheFirstFetch) {
  i_cs_RemoveCursor(c.conn, &cursor);
  const std::size_t at = c.sconn.sent.size();
  c.sconn.sync().item(44, le32(10));
  ok(c.sconn, {{6, 1}});
  c.sconn.sync();  // the prefetch reply: two of the ten rows asked
  int_row(c.sconn, 1);
  int_row(c.sconn, 2);
  c.sconn.item(CS_ITEM_END);
  ok(c.sconn);
  c.sconn.sync();  // the fetch after its end: a row from the server
  int_row(c.sconn, 3);
  c.sconn.item(CS_ITEM_END);
  ok(c.sconn, {{5, 1}});
  c.sconn.sync().item(CS_ITEM_END);  // the next prefetch finds the end
  status_code(c.sconn, 100);
  c.sconn.sync();
  ASSERT_EQ(CmdSeqOpenCursorPrefetch(c.conn, &c.err, &open, &bound, 1), CMDSEQ_OK);
  EXPECT_EQ(codes(c.sconn, at), (std::vector<int>{33, 134, 0, 69, 70, 82, 0, 36, -1}));
  const Bytes& prefetch = c.sconn.sent[at + 7].bytes;
  EXPECT_EQ(Bytes(prefetch.begin() + 10, prefetch.end()), le16(10) + le16(5) + le16(0));
  EXPECT_EQ(cursor.server_cursor, 10u);
  EXPECT_EQ(c.conn->prefetch_cursor, &cursor);

  // The first fetches are served from the prefetch; the cursor's first prefetch is read
  // to its end before the next is asked for.
  const std::size_t opened = c.sconn.sent.size();
  ASSERT_EQ(fetch(), CMDSEQ_OK);
  EXPECT_EQ(value, 1);
  ASSERT_EQ(fetch(), CMDSEQ_OK);
  EXPECT_EQ(value, 2);
  EXPECT_EQ(c.sconn.sent.size(), opened);
  ASSERT_EQ(fetch(), CMDSEQ_OK);
  EXPECT_EQ(value, 3);
  EXPECT_EQ(codes(c.sconn, opened), (std::vector<int>{37, 35, 36, -1}));
  EXPECT_EQ(c.sconn.sent[opened].bytes, le32(10) + le16(2));
  std::uint16_t rows = 9;
  const std::size_t asked = c.sconn.sent.size();
  EXPECT_EQ(fetch(1, &rows), CMDSEQ_WARNING);
  EXPECT_EQ(c.err.sqlcode, 100);
  EXPECT_EQ(rows, 0);
  EXPECT_EQ(c.sconn.sent.size(), asked);
  EXPECT_TRUE(c.sconn.script_done());
}

TEST_F(FetchFixture, AFailedOpenDropsTheJoinedPrefetchUnread) {
  i_cs_RemoveCursor(c.conn, &cursor);
  c.sconn.sync().item(44, le32(10));
  status_code(c.sconn, -141);
  c.sconn.sync();
  int_row(c.sconn, 1);  // the prefetch reply, never read
  c.sconn.item(CS_ITEM_END);
  ok(c.sconn);
  c.sconn.sync().item(CS_ITEM_SUCCESS).sync();
  EXPECT_EQ(CmdSeqOpenCursorPrefetch(c.conn, &c.err, &open, &bound, 1), CMDSEQ_ERROR);
  EXPECT_EQ(c.conn->prefetch_cursor, nullptr);
  EXPECT_FALSE(cursor.flags_b & CS_CURSOR_B_OPEN);
  CmdSeqResetErrorParam(&c.err, nullptr);
  EXPECT_EQ(c.status_request(), CMDSEQ_OK);  // the stream is in step again
}

// --- Get data -----------------------------------------------------------------------------

TEST_F(FetchFixture, GetDataReadsALongValueInPiecesAndStopsPrefetching) {
  ASSERT_EQ(i_cs_RebuildColInfo(&cursor, nullptr), CMDSEQ_OK);
  char piece[101] = {};
  std::int32_t ind = 0;
  std::uint32_t len = 0;
  a_cmdseq_desc desc;
  CmdSeqInitDesc(&desc);
  ASSERT_EQ(CmdSeqAllocDescItems(&desc, 1, 1), CMDSEQ_OK);
  desc.items->type = -21;
  desc.items->length = sizeof piece;
  desc.items->values()[0] = {piece, &ind, &len};
  a_cmdseq_getdata_param get;
  get.cursor = &cursor;
  get.column = 1;
  get.value = desc.items;
  get.piece_offset = 100;
  const std::string tail(100, 'z');
  c.sconn.sync().item(107, tail).item(CS_ITEM_END);
  ok(c.sconn, {{2, 300}});
  const std::size_t at = c.sconn.sent.size();
  EXPECT_EQ(CmdSeqGetData(c.conn, &c.err, &get), CMDSEQ_OK);
  EXPECT_EQ(codes(c.sconn, at), (std::vector<int>{38, 78, 73, -1}));
  EXPECT_EQ(c.sconn.sent[at].bytes, le32(9) + le32(100) + le16(1));
  EXPECT_EQ(std::string(piece), tail);
  EXPECT_EQ(get.full_length, 300u);
  EXPECT_TRUE(cursor.flags_a & CS_CURSOR_A_NO_PREFETCH);

  CmdSeqResetErrorParam(&c.err, nullptr);
  get.column = 2;
  EXPECT_EQ(CmdSeqGetData(c.conn, &c.err, &get), CMDSEQ_ERROR);
  EXPECT_EQ(c.err.sqlcode, -159);
  CmdSeqFreeDescItems(&desc);
}

}  // namespace

namespace {

std::vector<std::string>* g_log_lines = nullptr;
void KeepLogLine(std::uintptr_t, const char* text) { g_log_lines->emplace_back(text); }

TEST_F(FetchFixture, AShrunkPrefetchIsToldToTheRequestLogOncePerConnection) {
  std::vector<std::string> lines;
  g_log_lines = &lines;
  c.env.debug_message_callback = KeepLogLine;
  c.conn->attrib = CmdSeqCreateEmptyConnAttributes();
  c.conn->attrib->env = &c.env;
  struct Case {
    std::uint32_t budget;
    std::uint32_t growth;  // multiplier in growth mode; 0 without growth
    int rows;  // 0: no prefetch
    std::vector<std::string> told;
  };
  const std::vector<std::string> both = {"message 9473", "message 9474"};
  const std::vector<Case> cases = {
      {1u << 20, 0, 10, {}},      // the budget holds every row
      {30000, 8, 5, {}},          // a fast-growing cursor is not worth a warning
      {12000, 0, 3, {}},          // three rows whatever the estimate
      {8000, 0, 0, both},         // one row fits: no prefetch, and the log says so
      {30000, 0, 5, {}},          // told once per connection
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.budget);
    lines.clear();
    i_cs_FreeAllFetchData(&cursor);
    ASSERT_EQ(i_cs_RebuildColInfo(&cursor, &bound), CMDSEQ_OK);
    CmdSeqMarkCursorCurrent(&cursor, &bound);
    cursor.row_size_est = 6000;
    cursor.flags_a = CS_CURSOR_A_PREFETCH;
    if (k.growth != 0) {
      cursor.flags_a |= CS_CURSOR_A_GROWTH;
      cursor.growth_multiplier = static_cast<std::uint16_t>(k.growth);
      cursor.growth_period = 5;
      cursor.growth_countdown = 5;
    }
    cursor.flags_c = 0;
    cursor.rows_asked = cursor.rows_received = 0;
    c.conn->fetch_budget = k.budget;
    c.conn->fetch_bytes_in_use = 0;
    c.conn->prefetch_cursor = nullptr;
    a_cmdseq_fetch_param f;
    f.cursor = &cursor;
    f.bound = &bound;
    a_cmdseq_return result = CMDSEQ_OK;
    EXPECT_EQ(i_cs_InitiatePrefetch(c.conn, &f, &result, &c.err, 1), k.rows != 0);
    if (k.rows != 0) {
      EXPECT_EQ(cursor.rows_asked, k.rows);
    }
    EXPECT_EQ(lines, k.told);
    c.conn->prefetch_cursor = nullptr;
  }
  c.env.debug_message_callback = nullptr;
  g_log_lines = nullptr;
}

}  // namespace

namespace {

// Two result columns: the first bound, the second read by get data.
struct GetDataFixture : FetchFixture {
  std::int32_t second_value = 0;
  std::int32_t second_ind = 7;
  a_cmdseq_desc item;

  GetDataFixture() {
    i_cs_RemoveCursor(c.conn, &cursor);
    c.sconn.sync().item(44, le32(9));
    ok(c.sconn, {{6, 2}});
    EXPECT_EQ(CmdSeqOpenCursorPrefetch(c.conn, &c.err, &open, nullptr, 0), CMDSEQ_OK);
    c.conn->prefetch_on = false;  // each exchange stands alone
    CmdSeqInitDesc(&item);
    EXPECT_EQ(CmdSeqAllocDescItems(&item, 1, 1), CMDSEQ_OK);
    item.items->type = 4;
    item.items->length = 4;
    item.items->values()[0] = {&second_value, &second_ind, nullptr};
  }
  ~GetDataFixture() override { CmdSeqFreeDescItems(&item); }

  a_cmdseq_return get_data(std::uint16_t column = 2) {
    a_cmdseq_getdata_param get;
    get.cursor = &cursor;
    get.column = column;
    get.value = item.items;
    return CmdSeqGetData(c.conn, &c.err, &get);
  }
  void two_int_row(std::int32_t a, std::int32_t b) {
    c.sconn.item(112, le32(static_cast<std::uint32_t>(a)))
        .item(112, le32(static_cast<std::uint32_t>(b)))
        .item(CS_ITEM_END_OF_DATA, Bytes{0});
  }
};

TEST_F(GetDataFixture, AColumnReadByGetDataJoinsTheRowAndIsThenServedFromTheBuffer) {
  c.sconn.sync();
  int_row(c.sconn, 100);
  c.sconn.item(CS_ITEM_END);
  ok(c.sconn);
  ASSERT_EQ(fetch(), CMDSEQ_OK);
  EXPECT_EQ(value, 100);

  // The column is not in the row: the server is asked, and the cursor learns.
  std::size_t at = c.sconn.sent.size();
  c.sconn.sync().item(112, le32(7)).item(CS_ITEM_END);
  ok(c.sconn);
  ASSERT_EQ(get_data(), CMDSEQ_OK);
  EXPECT_EQ(second_value, 7);
  EXPECT_EQ(codes(c.sconn, at), (std::vector<int>{38, 82, 73, -1}));
  EXPECT_EQ(c.sconn.sent[at].bytes, le32(9) + le32(0) + le16(2));
  EXPECT_EQ(cursor.reposition_base, 0);
  EXPECT_TRUE(cursor.flags_a & CS_CURSOR_A_KEEP_CURRENT);
  EXPECT_TRUE(cursor.flags_a & CS_CURSOR_A_GETDATA_COLS);
  EXPECT_TRUE(cursor.flags_a & CS_CURSOR_A_RESEND_DESC);
  EXPECT_EQ(cursor.buffered_columns, 2);
  EXPECT_EQ(cursor.row_size_est, 2 * 16 + 12);  // two 4-byte cells, nothing out of line

  // The next fetch describes column 2 to the server and keeps the row in the buffer.
  at = c.sconn.sent.size();
  c.sconn.sync();
  two_int_row(101, 8);
  c.sconn.item(CS_ITEM_END);
  ok(c.sconn);
  ASSERT_EQ(fetch(), CMDSEQ_OK);
  EXPECT_EQ(value, 101);
  EXPECT_EQ(codes(c.sconn, at), (std::vector<int>{69, 70, 82, 0, 35, -1}));
  EXPECT_EQ(c.sconn.sent[at + 1].bytes, le16(1));
  EXPECT_EQ(c.sconn.sent[at + 4].bytes, le32(9) + le32(1) + le16(1) + le16(0));
  ASSERT_NE(cursor.buffer, nullptr);
  EXPECT_EQ(cursor.buffer->count, 1);

  // Column 2 of the current row, twice, without an exchange.
  at = c.sconn.sent.size();
  for (int i = 0; i < 2; ++i) {
    second_value = 0;
    ASSERT_EQ(get_data(), CMDSEQ_OK);
    EXPECT_EQ(second_value, 8);
    EXPECT_EQ(second_ind, 0);
  }
  EXPECT_EQ(c.sconn.sent.size(), at);

  // Moving on steps off the kept row: the server's cursor is moved over it, and the
  // row it then sends is the current one.
  c.sconn.sync();
  two_int_row(102, 9);
  c.sconn.item(CS_ITEM_END);
  ok(c.sconn);
  ASSERT_EQ(fetch(), CMDSEQ_OK);
  EXPECT_EQ(value, 102);
  EXPECT_EQ(codes(c.sconn, at), (std::vector<int>{37, 35, -1}));
  EXPECT_EQ(c.sconn.sent[at].bytes, le32(9) + le16(1));
  EXPECT_EQ(c.sconn.sent[at + 1].bytes, le32(9) + le32(0) + le16(1) + le16(0));
  ASSERT_EQ(get_data(), CMDSEQ_OK);
  EXPECT_EQ(second_value, 9);
  EXPECT_EQ(c.sconn.sent.size(), at + 3);
  EXPECT_TRUE(c.sconn.script_done());
}

}  // namespace

namespace {

// A column held in the current row (the row is kept after a get data taught the cursor
// the column) serves a read from its start; a piece from a later offset is asked of the
// server, never the start again.
TEST_F(GetDataFixture, APieceAtAnOffsetOfABufferedColumnComesFromTheServer) {
  char text[21] = {};
  std::int32_t ind = 7;
  std::uint32_t len = 0;
  a_cmdseq_desc text_item;
  CmdSeqInitDesc(&text_item);
  ASSERT_EQ(CmdSeqAllocDescItems(&text_item, 1, 1), CMDSEQ_OK);
  text_item.items->type = -21;
  text_item.items->length = sizeof text;
  text_item.items->values()[0] = {text, &ind, &len};
  auto read = [&](std::uint32_t offset) {
    std::memset(text, 0, sizeof text);
    a_cmdseq_getdata_param get;
    get.cursor = &cursor;
    get.column = 2;
    get.value = text_item.items;
    get.piece_offset = offset;
    CmdSeqResetErrorParam(&c.err, nullptr);
    return CmdSeqGetData(c.conn, &c.err, &get);
  };

  c.sconn.sync();
  int_row(c.sconn, 100);
  c.sconn.item(CS_ITEM_END);
  ok(c.sconn);
  ASSERT_EQ(fetch(), CMDSEQ_OK);
  c.sconn.sync().item(107, std::string("abcdefgh")).item(CS_ITEM_END);
  ok(c.sconn);
  ASSERT_EQ(read(0), CMDSEQ_OK);
  EXPECT_STREQ(text, "abcdefgh");

  // The next row comes with column 2 and stays in the buffer as the current row.
  c.sconn.sync()
      .item(112, le32(101))
      .item(107, std::string("ijklmnop"))
      .item(CS_ITEM_END_OF_DATA, Bytes{0})
      .item(CS_ITEM_END);
  ok(c.sconn);
  ASSERT_EQ(fetch(), CMDSEQ_OK);
  EXPECT_EQ(value, 101);
  ASSERT_NE(cursor.buffer, nullptr);
  ASSERT_EQ(cursor.buffer->count, 1);

  std::size_t at = c.sconn.sent.size();
  ASSERT_EQ(read(0), CMDSEQ_OK);
  EXPECT_STREQ(text, "ijklmnop");
  EXPECT_EQ(c.sconn.sent.size(), at);  // from the buffer

  c.sconn.sync().item(107, std::string("mnop")).item(CS_ITEM_END);
  ok(c.sconn, {{2, 8}});
  ASSERT_EQ(read(4), CMDSEQ_OK);
  EXPECT_STREQ(text, "mnop");
  EXPECT_EQ(len, 4u);
  ASSERT_GT(c.sconn.sent.size(), at);
  EXPECT_EQ(c.sconn.sent[at].code, 38);
  EXPECT_EQ(c.sconn.sent[at].bytes, le32(9) + le32(4) + le16(2));
  EXPECT_TRUE(cursor.flags_a & CS_CURSOR_A_NO_PREFETCH);
  EXPECT_TRUE(c.sconn.script_done());
  CmdSeqFreeDescItems(&text_item);
}

TEST_F(GetDataFixture, ALongColumnJoinsTheRowOnlyWhenKnownToBeShort) {
  struct Case {
    const char* name;
    std::uint16_t piece_offset;
    bool short_total;  // the described variable-length total is small
    bool joins;
  };
  const Case cases[] = {
      {"long, nothing says it is short", 0, false, false},
      {"long, the described total is small", 0, true, true},
      {"read in pieces", 100, true, false},
  };
  char text[2000] = {};
  std::int32_t ind = 0;
  std::uint32_t len = 0;
  a_cmdseq_desc long_item;
  CmdSeqInitDesc(&long_item);
  ASSERT_EQ(CmdSeqAllocDescItems(&long_item, 1, 1), CMDSEQ_OK);
  long_item.items->type = -21;
  long_item.items->length = sizeof text;  // above a sixteenth of the budget
  long_item.items->values()[0] = {text, &ind, &len};
  c.conn->fetch_budget = 16000;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    i_cs_FreeAllFetchData(&cursor);
    cursor.flags_a = CS_CURSOR_A_PREFETCH;
    ASSERT_EQ(i_cs_RebuildColInfo(&cursor, &bound), CMDSEQ_OK);
    cursor.flags_a &= static_cast<std::uint8_t>(~CS_CURSOR_A_RESEND_DESC);
    ASSERT_EQ(cursor.buffered_columns, 1);
    if (k.short_total) {
      cursor.flags_b |= CS_CURSOR_B_VARTOTAL;
      cursor.var_length_total = 100;
    } else {
      cursor.flags_b &= static_cast<std::uint8_t>(~CS_CURSOR_B_VARTOTAL);
    }
    c.sconn.sync().item(107, std::string("abc")).item(CS_ITEM_END);
    ok(c.sconn);
    a_cmdseq_getdata_param get;
    get.cursor = &cursor;
    get.column = 2;
    get.value = long_item.items;
    get.piece_offset = k.piece_offset;
    CmdSeqResetErrorParam(&c.err, nullptr);
    ASSERT_EQ(CmdSeqGetData(c.conn, &c.err, &get), CMDSEQ_OK);
    EXPECT_EQ(std::string(text), "abc");
    EXPECT_EQ((cursor.flags_a & CS_CURSOR_A_NO_PREFETCH) == 0, k.joins);
    EXPECT_EQ(cursor.buffered_columns, k.joins ? 2 : 1);
    EXPECT_EQ((cursor.flags_a & CS_CURSOR_A_RESEND_DESC) != 0, k.joins);
    if (k.joins) {
      EXPECT_EQ(cursor.columns[1].buffer_index, 1);
      EXPECT_EQ(cursor.columns[1].sent_length, sizeof text);
      // The estimate takes the column in, its variable part capped by the described total.
      EXPECT_EQ(cursor.row_size_est, 2 * 16 + 12 + (2 * 10 + 100) * 2 + 100);
    }
  }
  EXPECT_TRUE(c.sconn.script_done());
  CmdSeqFreeDescItems(&long_item);
}

}  // namespace

namespace {

TEST_F(FetchFixture, AMoveOverSeveralRowsWithoutValueSlotsAsksForNoColumn) {
  struct Case {
    const char* name;
    int rows_sent;
    std::int32_t trailer;  // 0: success
    a_cmdseq_return result;
  };
  const Case cases[] = {
      {"every row there", 3, 0, CMDSEQ_OK},
      {"the end after two rows", 2, 100, CMDSEQ_WARNING},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const std::size_t at = c.sconn.sent.size();
    c.sconn.sync();
    for (int i = 0; i < k.rows_sent; ++i) c.sconn.item(CS_ITEM_END_OF_DATA, Bytes{0});
    c.sconn.item(CS_ITEM_END);
    if (k.trailer == 0) {
      ok(c.sconn);
    } else {
      status_code(c.sconn, k.trailer);
    }
    a_cmdseq_fetch_param f;
    f.cursor = &cursor;
    f.offset = 1;
    f.row_count = 3;
    CmdSeqResetErrorParam(&c.err, nullptr);
    EXPECT_EQ(CmdSeqFetch(c.conn, &c.err, &f), k.result);
    EXPECT_EQ(f.rows_fetched, k.rows_sent);
    EXPECT_EQ(codes(c.sconn, at), (std::vector<int>{69, 70, 73, 0, 35, -1}));
    EXPECT_EQ(c.sconn.sent[at].bytes, le32(9) + le16(0));
    EXPECT_EQ(c.sconn.sent[at + 1].bytes, le16(0));
    EXPECT_EQ(c.sconn.sent[at + 4].bytes, le32(9) + le32(1) + le16(3) + le16(0));
    EXPECT_EQ(c.conn->prefetch_cursor, nullptr);
    EXPECT_TRUE(c.sconn.script_done());
  }
  EXPECT_TRUE(cursor.flags_a & CS_CURSOR_A_END_REACHED);

  // The next fetch that fills values describes the bound column again.
  const std::size_t at = c.sconn.sent.size();
  c.sconn.sync();
  int_row(c.sconn, 5);
  c.sconn.item(CS_ITEM_END);
  ok(c.sconn);
  CmdSeqResetErrorParam(&c.err, nullptr);
  ASSERT_EQ(fetch(-1), CMDSEQ_OK);
  EXPECT_EQ(value, 5);
  EXPECT_EQ(codes(c.sconn, at), (std::vector<int>{69, 70, 82, 0, 35, -1}));
}

TEST_F(FetchFixture, AMoveOverSeveralRowsRefusesARowCarryingValuesOrOneTooMany) {
  for (int variant = 0; variant < 2; ++variant) {
    SCOPED_TRACE(variant);
    c.sconn.sync();
    if (variant == 0) {
      c.sconn.item(CS_ITEM_END_OF_DATA, Bytes{0}).item(112, le32(1)).item(CS_ITEM_END);
    } else {
      for (int i = 0; i < 3; ++i) c.sconn.item(CS_ITEM_END_OF_DATA, Bytes{0});
      c.sconn.item(CS_ITEM_END);
    }
    ok(c.sconn);
    a_cmdseq_fetch_param f;
    f.cursor = &cursor;
    f.row_count = 2;
    CmdSeqResetErrorParam(&c.err, nullptr);
    EXPECT_EQ(CmdSeqFetch(c.conn, &c.err, &f), CMDSEQ_PROTOCOL_ERROR);
    // The stream is in step again for the next request.
    c.sconn.sync().item(CS_ITEM_SUCCESS).sync();
    CmdSeqResetErrorParam(&c.err, nullptr);
    EXPECT_EQ(c.status_request(), CMDSEQ_OK);
  }
}

}  // namespace

// Rows whose values lie whole in the packet go into the bound columns in one look; a value
// cut to its buffer, a NULL and a NULL with nowhere to say so behave as they do value by
// value: truncation is a warning with the full length, a NULL sets the indicator, and a
// NULL without an indicator fails the fetch with -181.
// One fresh connection and cursor per case.
struct QuickRowsCase : FetchFixture {
  void TestBody() override {}
};

TEST(FetchQuickRows, ShortRowsFillABlockAsTheValueByValueReaderWould) {
  struct Row {
    Bytes value;  // empty: NULL
  };
  struct Case {
    const char* name;
    std::vector<Row> rows;
    bool indicators;
    a_cmdseq_return result;
    std::int32_t sqlcode;
  };
  const std::vector<Case> cases = {
      {"fits", {{Bytes{'a', 'b'}}, {Bytes{'x'}}, {Bytes{'p', 'q', 'r'}}}, true, CMDSEQ_OK, 0},
      {"cut", {{Bytes{'a', 'b'}}, {Bytes{'w', 'x', 'y', 'z'}}, {Bytes{'p'}}}, true,
       CMDSEQ_WARNING, 101},
      {"null", {{Bytes{'a', 'b'}}, {Bytes{}}, {Bytes{'p'}}}, true, CMDSEQ_OK, 0},
      {"null without indicator", {{Bytes{'a', 'b'}}, {Bytes{}}, {Bytes{'p'}}}, false,
       CMDSEQ_ERROR, -181},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    QuickRowsCase f;
    char text[3][4];
    std::memset(text, '#', sizeof text);
    std::int32_t ind[3] = {7, 7, 7};
    std::uint32_t len[3] = {99, 99, 99};
    ASSERT_EQ(CmdSeqResizeDescRows(&f.bound, 3), CMDSEQ_OK);
    f.bound.items->type = -21;
    f.bound.items->length = 4;
    for (int r = 0; r < 3; ++r) {
      f.bound.items->values()[r] = {text[r], k.indicators ? &ind[r] : nullptr, &len[r]};
    }
    f.c.sconn.sync();
    for (const Row& row : k.rows) {
      if (row.value.empty()) {
        f.c.sconn.item(CS_ITEM_NULL);
      } else {
        f.c.sconn.item(107, row.value);
      }
      f.c.sconn.item(CS_ITEM_END_OF_DATA, Bytes{0});
    }
    f.c.sconn.item(CS_ITEM_END);
    ok(f.c.sconn, {{5, 1}});
    f.c.sconn.sync();

    a_cmdseq_fetch_param p;
    p.cursor = &f.cursor;
    p.bound = &f.bound;
    p.row_count = 3;
    p.limit_on = 1;  // no prefetch: only the fetch's own reply
    p.prefetch_limit = 0;
    EXPECT_EQ(CmdSeqFetch(f.c.conn, &f.c.err, &p), k.result);
    EXPECT_EQ(f.c.err.sqlcode, k.sqlcode);
    if (k.result == CMDSEQ_ERROR) continue;
    EXPECT_EQ(p.rows_fetched, 3);
    EXPECT_TRUE(f.c.sconn.script_done());
    for (int r = 0; r < 3; ++r) {
      SCOPED_TRACE(r);
      const Bytes& v = k.rows[static_cast<std::size_t>(r)].value;
      if (v.empty()) {
        EXPECT_EQ(ind[r], -1);
        EXPECT_EQ(len[r], 99u);
        continue;
      }
      EXPECT_EQ(ind[r], 0);
      EXPECT_EQ(len[r], v.size());  // the full length, also when cut
      const std::size_t kept = v.size() < 4 ? v.size() : 3;
      EXPECT_EQ(std::string(text[r], kept), std::string(v.begin(), v.begin() + kept));
      EXPECT_EQ(text[r][kept], '\0');
    }
  }
}
