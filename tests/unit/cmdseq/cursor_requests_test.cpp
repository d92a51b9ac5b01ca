// Cursor requests over the scripted presentation layer: open, close and close by name,
// describe, resume, put, update, delete and plan; the cursor list and the rules that
// forget cursors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cmdseq/cursor.h"
#include "cmdseq/fetch_buffer.h"
#include "cmdseq/options.h"
#include "cmdseq/statement.h"
#include "cmdseq_fixture.h"

namespace {

struct CursorFixture : ::testing::Test {
  CmdSeqConn c;
  a_cmdseq_stmt_handle handle;
  std::string text = "select a from t";
  a_cmdseq_prep_param prep{text.c_str(), static_cast<std::int32_t>(text.size()), 0, 0};
  a_cmdseq_cursor cursor{0};
  a_cmdseq_open_param open;

  CursorFixture() {
    c.conn->server_strm_ver = 12;
    cursor.conn = c.conn;
    open.handle = &handle;
    open.cursor = &cursor;
    open.cursor_name = "SQL_CUR7";
    c.sconn.sync().item(29, le32(40));
    ok(c.sconn);
    EXPECT_EQ(CmdSeqPrepare(c.conn, &c.err, &handle, &prep), CMDSEQ_OK);
  }
  ~CursorFixture() override {
    if (cursor.flags_b & CS_CURSOR_B_OPEN) i_cs_RemoveCursor(c.conn, &cursor);
    i_cs_FreeAllFetchData(&cursor);
    i_cs_DropStmt(c.conn, &handle, true);
  }

  // Opens the cursor as server cursor 9 with `flags` as its open flags.
  void open_cursor(std::uint32_t flags = 0) {
    c.sconn.sync().item(44, le32(9));
    ok(c.sconn, {{6, 2}, {16, flags}, {2, 1}, {3, 2}, {1, 3}});
    ASSERT_EQ(CmdSeqOpenCursorPrefetch(c.conn, &c.err, &open, nullptr, 0), CMDSEQ_OK);
  }
};

TEST_F(CursorFixture, OpenSendsItsItemsAndListsTheCursor) {
  const std::size_t at = c.sconn.sent.size();
  open.open_value = 3;
  open.options = 0x200;
  open_cursor(CS_OPEN_FORWARD_ONLY);
  EXPECT_EQ(codes(c.sconn, at), (std::vector<int>{33, 134, 0, -1}));
  EXPECT_EQ(c.sconn.sent[at].bytes, le32(40) + le16(3) + le32(0x200));
  EXPECT_EQ(c.sconn.sent[at + 1].bytes, text_bytes("SQL_CUR7"));
  EXPECT_TRUE(cursor.flags_b & CS_CURSOR_B_OPEN);
  EXPECT_EQ(cursor.server_cursor, 9u);
  EXPECT_EQ(cursor.result_columns, 2);
  EXPECT_EQ(cursor.open_flags, CS_OPEN_FORWARD_ONLY);
  EXPECT_EQ(open.info2, 1u);
  EXPECT_EQ(open.info3, 2u);
  EXPECT_EQ(open.info1, 3u);
  ASSERT_NE(c.conn->cursors, nullptr);
  EXPECT_EQ(c.conn->cursors->cursor, &cursor);
}

// Prefetch growth is chosen at open: on for every kind of client but ODBC (2) and OLE DB
// (3), and for those two only when the server's open flags tell a forward-only read-only
// cursor. A connection whose cursors mostly stopped early grows every second prefetch.
TEST_F(CursorFixture, TheApplicationAndTheOpenFlagsDecidePrefetchGrowth) {
  struct Case {
    std::uint32_t app_type;
    std::uint32_t open_flags;
    float s1, s2;  // close statistics of the connection
    bool growth;
    std::uint8_t period;
  };
  constexpr std::uint32_t kForwardReadOnly = CS_OPEN_FORWARD_ONLY | 2;
  const Case cases[] = {
      {0, 0, 0, 0, true, 1},
      {1, 0, 0, 0, true, 1},
      {4, 0, 0, 0, true, 1},
      {2, 0, 0, 0, false, 0},
      {3, 0, 0, 0, false, 0},
      {2, CS_OPEN_FORWARD_ONLY, 0, 0, false, 0},
      {2, 2, 0, 0, false, 0},
      {2, kForwardReadOnly, 0, 0, true, 1},
      {3, kForwardReadOnly | 1048576, 0, 0, true, 1},
      {1, 0, 10, 3, true, 2},
      {1, 0, 10, 4, true, 1},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << "app " << k.app_type << " flags " << k.open_flags
                                    << " s2/s1 " << k.s2 << "/" << k.s1);
    c.env.app_type = k.app_type;
    c.conn->close_s1 = k.s1;
    c.conn->close_s2 = k.s2;
    open_cursor(k.open_flags);
    EXPECT_EQ((cursor.flags_a & CS_CURSOR_A_GROWTH) != 0, k.growth);
    if (k.growth) {
      EXPECT_EQ(cursor.growth_multiplier, 1);
      EXPECT_EQ(cursor.growth_period, k.period);
      EXPECT_EQ(cursor.growth_countdown, k.period + 1);
    }
    i_cs_RemoveCursor(c.conn, &cursor);
  }
}

TEST_F(CursorFixture, OldServersDoNotSeeTheNewerOpenOptions) {
  c.conn->server_strm_ver = 5;
  open.options = 512 | 8192 | 1;
  const std::size_t at = c.sconn.sent.size();
  open_cursor();
  EXPECT_EQ(c.sconn.sent[at].bytes, le32(40) + le16(0) + le32(1));
}

TEST_F(CursorFixture, AFailedOpenLeavesTheCursorClosedAndUnlisted) {
  c.sconn.sync().item(44, le32(9));
  status_code(c.sconn, -141);
  EXPECT_EQ(CmdSeqOpenCursorPrefetch(c.conn, &c.err, &open, nullptr, 0), CMDSEQ_ERROR);
  EXPECT_FALSE(cursor.flags_b & CS_CURSOR_B_OPEN);
  EXPECT_EQ(c.conn->cursors, nullptr);
}

TEST_F(CursorFixture, CloseSendsItem34OrGoesByNameWithTheNextRequest) {
  struct Case {
    const char* name;
    std::uint8_t mode;
    std::uint32_t flags;
    bool by_name;
  };
  const Case cases[] = {
      {"mode 1", 1, 0, false},
      {"mode 1 with the by-name flag", 1, CS_OPEN_CLOSE_BY_NAME, true},
      {"mode 2", 2, 0, true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    c.conn->close_mode = k.mode;
    open_cursor(k.flags);
    const std::size_t at = c.sconn.sent.size();
    if (!k.by_name) {
      c.sconn.sync();
      ok(c.sconn);
    }
    a_cmdseq_close_param close{"SQL_CUR7", &cursor};
    EXPECT_EQ(CmdSeqCloseCursor(c.conn, &c.err, &close), CMDSEQ_OK);
    EXPECT_FALSE(cursor.flags_b & CS_CURSOR_B_OPEN);
    EXPECT_EQ(c.conn->cursors, nullptr);
    if (k.by_name) {
      EXPECT_EQ(codes(c.sconn, at), (std::vector<int>{48}));
      EXPECT_EQ(c.sconn.sent[at].bytes, text_bytes("SQL_CUR7"));
      EXPECT_EQ(c.conn->pending_count, 1u);
      // It travels with the next request and is forgotten once that is answered.
      c.sconn.item(CS_ITEM_SUCCESS).sync();
      EXPECT_EQ(c.status_request(), CMDSEQ_OK);
      EXPECT_EQ(c.conn->pending_count, 0u);
    } else {
      EXPECT_EQ(codes(c.sconn, at), (std::vector<int>{34, -1}));
      EXPECT_EQ(c.sconn.sent[at].bytes, le32(9));
    }
    // A closed cursor refuses every request.
    a_cmdseq_close_param again{"SQL_CUR7", &cursor};
    CmdSeqResetErrorParam(&c.err, nullptr);
    EXPECT_EQ(CmdSeqCloseCursor(c.conn, &c.err, &again), CMDSEQ_ERROR);
    EXPECT_EQ(c.err.sqlcode, -180);
    CmdSeqResetErrorParam(&c.err, nullptr);
  }
}

TEST_F(CursorFixture, CloseWithCommitReadsBothReplies) {
  open_cursor();
  c.sconn.sync();
  ok(c.sconn);
  ok(c.sconn, {{1, 8}});
  a_cmdseq_close_param close{"SQL_CUR7", &cursor};
  std::uint32_t commit = 0;
  const std::size_t at = c.sconn.sent.size();
  EXPECT_EQ(CmdSeqCloseCursorCommit(c.conn, &c.err, &close, &commit), CMDSEQ_OK);
  EXPECT_EQ(codes(c.sconn, at), (std::vector<int>{34, 58, -1}));
  EXPECT_EQ(commit, 8u);
  EXPECT_TRUE(c.sconn.script_done());
}

TEST_F(CursorFixture, CloseByNameNeedsAServerAboveLevel3) {
  c.conn->server_strm_ver = 3;
  EXPECT_EQ(i_cs_CloseCursorByName(c.conn, &c.err, "X"), CMDSEQ_ERROR);
  EXPECT_EQ(c.err.sqlcode, -180);
}

TEST_F(CursorFixture, InformationFlagsCloseOtherCursors) {
  open_cursor(CS_OPEN_CLOSE_OPEN);
  a_cmdseq_cursor other{0};
  other.conn = c.conn;
  other.flags_b = CS_CURSOR_B_OPEN;
  ASSERT_TRUE(i_cs_AddCursor(c.conn, &other));
  // Flag 0x10 closes only cursors opened with open flag 1; `other` has none.
  i_cs_ProcessNonZeroInfoFlags(c.conn, 0x10, &c.err.cursors_closed, nullptr);
  EXPECT_FALSE(cursor.flags_b & CS_CURSOR_B_OPEN);
  EXPECT_TRUE(other.flags_b & CS_CURSOR_B_OPEN);
  EXPECT_EQ(c.err.cursors_closed, 1u);
  // Flag 0x20 closes every cursor but the current one.
  i_cs_ProcessNonZeroInfoFlags(c.conn, 0x20, &c.err.cursors_closed, &other);
  EXPECT_TRUE(other.flags_b & CS_CURSOR_B_OPEN);
  i_cs_ProcessNonZeroInfoFlags(c.conn, 0x20, &c.err.cursors_closed, nullptr);
  EXPECT_FALSE(other.flags_b & CS_CURSOR_B_OPEN);
  EXPECT_EQ(c.conn->cursors, nullptr);
}

TEST_F(CursorFixture, InformationFlag2FlushesEveryCursorsRows) {
  open_cursor();
  ASSERT_TRUE(i_cs_CreateFetchBuffer(&cursor, 2, 1));
  ASSERT_TRUE(i_cs_StoreCell(&cursor, 0, "a", 1, 1, 0));
  ASSERT_TRUE(i_cs_CompleteRowInsert(&cursor));
  ASSERT_TRUE(i_cs_InsertFlushBuffersList(c.conn, 9));
  ASSERT_TRUE(i_cs_InsertFlushBuffersList(c.conn, 9));  // no duplicates
  i_cs_ProcessNonZeroInfoFlags(c.conn, CS_INFO_FLUSH_ALL, &c.err.cursors_closed, nullptr);
  EXPECT_EQ(cursor.buffer->count, 0);
  EXPECT_EQ(c.conn->flush_list, nullptr);
}

TEST_F(CursorFixture, PositionedRequestsSendTheirItems) {
  open_cursor();
  // Delete without names: two empty name items.
  a_cmdseq_delete_param del;
  del.cursor = &cursor;
  std::size_t at = c.sconn.sent.size();
  c.sconn.sync();
  ok(c.sconn, {{2, 1}, {1, 2}});
  EXPECT_EQ(CmdSeqDelete(c.conn, &c.err, &del), CMDSEQ_OK);
  EXPECT_EQ(codes(c.sconn, at), (std::vector<int>{41, 134, 134, -1}));
  EXPECT_TRUE(c.sconn.sent[at + 1].bytes.empty());
  EXPECT_EQ(del.info2, 1u);
  EXPECT_EQ(del.info1, 2u);

  // Put with no rows: nothing sent.
  a_cmdseq_put_param put;
  put.cursor = &cursor;
  put.info1 = 7;
  at = c.sconn.sent.size();
  EXPECT_EQ(CmdSeqPut(c.conn, &c.err, &put), CMDSEQ_OK);
  EXPECT_EQ(put.info1, 0u);
  EXPECT_EQ(c.sconn.sent.size(), at);

  // Update: one row of the description's values.
  a_cmdseq_desc row;
  CmdSeqInitDesc(&row);
  ASSERT_EQ(CmdSeqAllocDescItems(&row, 1, 1), CMDSEQ_OK);
  std::int32_t v = 5, ind = 0;
  row.items->type = 4;
  row.items->length = 4;
  row.items->values()[0] = {&v, &ind, nullptr};
  a_cmdseq_update_param update;
  update.cursor = &cursor;
  update.row_desc = &row;
  c.sconn.sync();
  ok(c.sconn, {{2, 1}});
  EXPECT_EQ(CmdSeqUpdate(c.conn, &c.err, &update), CMDSEQ_OK);
  EXPECT_EQ(codes(c.sconn, at), (std::vector<int>{40, 112, 132, 0, -1}));
  EXPECT_EQ(update.info2, 1u);

  // Put of two rows of one value each.
  put.rows = 1;
  put.rows_desc = &row;
  at = c.sconn.sent.size();
  c.sconn.sync().item(CS_ITEM_END);
  ok(c.sconn, {{23, 4}});
  EXPECT_EQ(CmdSeqPut(c.conn, &c.err, &put), CMDSEQ_OK);
  EXPECT_EQ(codes(c.sconn, at), (std::vector<int>{39, 112, 132, 0, -1}));
  EXPECT_EQ(put.info23, 4u);
  CmdSeqFreeDescItems(&row);
}

TEST_F(CursorFixture, ARequestThatFindsTheCursorClosedOnTheServerForgetsIt) {
  open_cursor();
  a_cmdseq_delete_param del;
  del.cursor = &cursor;
  c.sconn.sync();
  status_code(c.sconn, -180);
  EXPECT_EQ(CmdSeqDelete(c.conn, &c.err, &del), CMDSEQ_ERROR);
  EXPECT_FALSE(cursor.flags_b & CS_CURSOR_B_OPEN);
  EXPECT_EQ(c.conn->cursors, nullptr);
}

TEST_F(CursorFixture, DescribeFillsTheCursorsOwnDescription) {
  open_cursor();
  a_cmdseq_describe_param d;
  d.want_output = 1;
  d.option = 135;
  const std::size_t at = c.sconn.sent.size();
  c.sconn.sync()
      .item(84, le32(100) + le16(0))
      .item(CS_ITEM_PARAM, std::string("NOTE"))
      .item(CS_ITEM_END);
  ok(c.sconn);
  EXPECT_EQ(CmdSeqDescribeCursor(c.conn, &c.err, &cursor, &d), CMDSEQ_OK);
  EXPECT_EQ(codes(c.sconn, at), (std::vector<int>{46, -1}));
  ASSERT_EQ(d.result, cursor.own_desc);
  EXPECT_EQ(cursor.own_desc->count, 1u);
  EXPECT_EQ(cursor.own_desc->items->type, -1);
  EXPECT_FALSE(cursor.flags_b & CS_CURSOR_B_VARTOTAL);  // a long column has no bound
}

TEST_F(CursorFixture, ResumeStartsTheNextResult) {
  open_cursor();
  a_cmdseq_resume_param resume;
  resume.cursor = &cursor;
  const std::size_t at = c.sconn.sent.size();
  c.sconn.sync();
  ok(c.sconn, {{6, 4}, {2, 0}});
  EXPECT_EQ(CmdSeqResume(c.conn, &c.err, &resume), CMDSEQ_OK);
  EXPECT_EQ(codes(c.sconn, at), (std::vector<int>{42, -1}));
  EXPECT_EQ(resume.result_columns, 4u);
  EXPECT_EQ(cursor.result_columns, 4);
  EXPECT_TRUE(cursor.flags_a & CS_CURSOR_A_RESEND_DESC);
  EXPECT_TRUE(cursor.flags_b & CS_CURSOR_B_OPEN);
}

TEST_F(CursorFixture, ExplainReadsThePlanText) {
  open_cursor();
  a_cmdseq_desc plan;
  CmdSeqInitDesc(&plan);
  ASSERT_EQ(CmdSeqAllocDescItems(&plan, 1, 1), CMDSEQ_OK);
  char text[32] = {};
  std::int32_t ind = 0;
  std::uint32_t len = 0;
  plan.items->type = -21;
  plan.items->length = sizeof text;
  plan.items->values()[0] = {text, &ind, &len};
  a_cmdseq_explain_param explain;
  explain.cursor = &cursor;
  explain.plan = &plan;
  c.sconn.sync().item(107, std::string("scan t")).item(CS_ITEM_END);
  ok(c.sconn, {{3, 2}});
  EXPECT_EQ(CmdSeqExplain(c.conn, &c.err, &explain), CMDSEQ_OK);
  EXPECT_STREQ(text, "scan t");
  EXPECT_EQ(explain.info3, 2u);
  CmdSeqFreeDescItems(&plan);
}

// --- Options and server information ---------------------------------------------------------

TEST(Options, SetOptionSendsTheValueOrItem101ForNull) {
  for (const char* value : {"on", static_cast<const char*>(nullptr)}) {
    CmdSeqConn c;
    a_cmdseq_set_option_param p;
    p.name = "chained";
    p.value = value;
    p.temporary = 1;
    ok(c.sconn);
    EXPECT_EQ(CmdSeqSetOption(c.conn, &c.err, &p), CMDSEQ_OK);
    EXPECT_EQ(codes(c.sconn), (std::vector<int>{49, 134, 134, value ? 107 : 101, -1}));
    EXPECT_EQ(c.sconn.sent[0].bytes, Bytes{1});
    EXPECT_EQ(c.sconn.sent[1].bytes, text_bytes("chained"));
  }
}

TEST(Options, GetOptionReadsTheValueAndMergesItsResult) {
  CmdSeqConn c;
  a_cmdseq_desc desc;
  CmdSeqInitDesc(&desc);
  ASSERT_EQ(CmdSeqAllocDescItems(&desc, 1, 1), CMDSEQ_OK);
  char value[4] = {};
  std::int32_t ind = 0;
  std::uint32_t len = 0;
  desc.items->type = -21;
  desc.items->length = sizeof value;
  desc.items->values()[0] = {value, &ind, &len};
  a_cmdseq_option_param p;
  p.name = "isolation_level";
  p.value = desc.items;
  c.sconn.item(107, std::string("serializable")).item(CS_ITEM_END);
  ok(c.sconn);
  EXPECT_EQ(CmdSeqGetOption(c.conn, &c.err, &p), CMDSEQ_WARNING);  // truncated
  EXPECT_EQ(codes(c.sconn), (std::vector<int>{50, 134, 134, 78, -1}));
  EXPECT_STREQ(value, "ser");
  EXPECT_EQ(c.err.sqlcode, 101);
  CmdSeqFreeDescItems(&desc);
}

TEST(Options, ServerInformationIsReadIntoTheCallersBuffer) {
  CmdSeqConn c;
  char buffer[16];
  c.sconn.item(107, std::string("krbtgt/X")).item(CS_ITEM_END);
  ok(c.sconn);
  EXPECT_EQ(i_cs_GetStrServerInfo(c.conn, &c.err, 0, buffer, sizeof buffer), CMDSEQ_OK);
  EXPECT_STREQ(buffer, "krbtgt/X");
  EXPECT_EQ(codes(c.sconn), (std::vector<int>{6, 78, -1}));
  EXPECT_EQ(c.sconn.sent[0].bytes, le16(0));
}

TEST(Options, QuotesAndFileDeletionSendTheirText) {
  CmdSeqConn c;
  ok(c.sconn);
  c.sconn.sync();
  ok(c.sconn);
  EXPECT_EQ(CmdSeqNeedsQuotes(c.conn, &c.err, "select"), CMDSEQ_OK);
  EXPECT_EQ(CmdSeqDeleteFile(c.conn, &c.err, nullptr), CMDSEQ_OK);
  EXPECT_EQ(codes(c.sconn), (std::vector<int>{56, -1, 53, -1}));
  EXPECT_EQ(c.sconn.sent[0].bytes, text_bytes("select"));
  EXPECT_TRUE(c.sconn.sent[2].bytes.empty());
}

}  // namespace
