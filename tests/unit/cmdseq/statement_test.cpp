// Statement requests over the scripted presentation layer: the items sent and the reply
// handled for prepare, validate, describe, execute, execute immediate, the combined
// request, the cursor check and statement release.
#include "cmdseq/statement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "cmdseq/wire_values.h"
#include "cmdseq_fixture.h"

namespace {

void prepare_reply(a_strm_conn_rec& s, std::uint32_t stmt, std::uint16_t params = 0) {
  s.item(30, le16(params) + Bytes{0, 5}).item(29, le32(stmt));
  ok(s, {{4, 9}});
}

// A one-column description of an INTEGER column named `name`.
void describe_reply(a_strm_conn_rec& s, const std::string& name) {
  s.item(82, le16(0)).item(CS_ITEM_PARAM, name).item(CS_ITEM_END);
  ok(s, {{kInfoFlagsSlot, CS_INFO_DESCRIBE_FINAL}});
}

// Value set (empty), the cursor handle item, status and information.
void execute_reply(a_strm_conn_rec& s, std::uint32_t rows, std::uint32_t flags = 0) {
  s.item(CS_ITEM_END).item(44, le32(0));
  ok(s, {{2, rows}, {1, 4}, {kInfoFlagsSlot, flags}});
}

struct StmtFixture : ::testing::Test {
  CmdSeqConn c;
  a_cmdseq_stmt_handle handle;
  std::string text = "select 1";
  a_cmdseq_prep_param prep{text.c_str(), static_cast<std::int32_t>(text.size()), 0, 0};

  StmtFixture() { c.conn->server_strm_ver = 15; }
  ~StmtFixture() override { i_cs_DropStmt(c.conn, &handle, true); }

  a_cmdseq_return prepare() {
    prepare_reply(c.sconn.sync(), 77, 2);
    return CmdSeqPrepare(c.conn, &c.err, &handle, &prep);
  }
};

TEST_F(StmtFixture, PrepareSendsTheTextAndFlagsAndKeepsTheReply) {
  ASSERT_EQ(prepare(), CMDSEQ_OK);
  EXPECT_EQ(codes(c.sconn), (std::vector<int>{22, 136, -1}));
  EXPECT_EQ(c.sconn.sent[0].bytes, text_bytes(text));
  ASSERT_NE(handle.info, nullptr);
  EXPECT_EQ(handle.info->server_stmt, 77u);
  EXPECT_EQ(handle.param_count, 2);
  EXPECT_EQ(handle.value_b, 5);
  EXPECT_EQ(handle.stmt_id, handle.info->stmt_no);
  EXPECT_EQ(prep.result, 9u);
  EXPECT_EQ(handle.info->flags & (CS_INFO_PREPARED | CS_INFO_PREPARE_CACHED),
            CS_INFO_PREPARED | CS_INFO_PREPARE_CACHED);
  EXPECT_TRUE(c.sconn.script_done());
}

TEST_F(StmtFixture, TheOptionItemGoesOnlyToServersThatKnowIt) {
  struct Case {
    std::uint16_t ver;
    std::vector<int> sent;
    std::uint16_t flags_sent;
  };
  for (const Case& k : {Case{14, {22, 136, -1}, 0x01}, Case{15, {22, 136, 142, -1}, 0x03}}) {
    SCOPED_TRACE(k.ver);
    CmdSeqConn c2;
    c2.conn->server_strm_ver = k.ver;
    a_cmdseq_stmt_handle h;
    a_cmdseq_prep_param p{"x", 1, 0x03, 1234};
    prepare_reply(c2.sconn.sync(), 5);
    ASSERT_EQ(CmdSeqPrepare(c2.conn, &c2.err, &h, &p), CMDSEQ_OK);
    EXPECT_EQ(codes(c2.sconn), k.sent);
    EXPECT_EQ(c2.sconn.sent[1].bytes, le16(k.flags_sent));
    if (k.sent.size() == 4) {
      EXPECT_EQ(c2.sconn.sent[2].bytes, le32(1234));
    }
    i_cs_DropStmt(c2.conn, &h, true);
  }
}

TEST_F(StmtFixture, APrepareReplyWithoutTheStatementHandleIsAProtocolError) {
  c.sconn.sync().item(30, le16(0) + Bytes{0, 0});
  ok(c.sconn);
  EXPECT_EQ(CmdSeqPrepare(c.conn, &c.err, &handle, &prep), CMDSEQ_PROTOCOL_ERROR);
  EXPECT_EQ(c.sconn.resyncs, 1);
  EXPECT_FALSE(handle.info->flags & CS_INFO_PREPARED);
  EXPECT_TRUE(c.connected());
}

TEST_F(StmtFixture, AStatementKeptByTheCacheIsNotPreparedAgainButValidatedAtExecute) {
  c.conn->server_strm_ver = 11;
  c.conn->set_max_cached_stmt(5);
  ASSERT_EQ(prepare(), CMDSEQ_OK);
  i_cs_DropStmt(c.conn, &handle, false);  // used once: dropped for good (item 23)
  EXPECT_EQ(c.sconn.sent.back().code, 23);

  // The second prepare finds the entry with its kept reply and sends nothing.
  const std::size_t before = c.sconn.sent.size();
  ASSERT_EQ(CmdSeqPrepare(c.conn, &c.err, &handle, &prep), CMDSEQ_OK);
  EXPECT_EQ(c.sconn.sent.size(), before);
  EXPECT_EQ(handle.param_count, 2);
  // Executing it prepares it on the server.
  a_cmdseq_execute_param exec;
  prepare_reply(c.sconn.sync(), 78, 2);
  execute_reply(c.sconn, 0);
  ASSERT_EQ(CmdSeqExecute(c.conn, &c.err, &handle, &exec), CMDSEQ_OK);
  EXPECT_EQ(codes(c.sconn, before), (std::vector<int>{22, 136, 24, 0, -1}));

  // Used twice: this drop keeps the server statement (item 32, once only).
  i_cs_DropStmt(c.conn, &handle, false);
  EXPECT_EQ(c.sconn.sent.back().code, 32);
  ASSERT_EQ(CmdSeqPrepare(c.conn, &c.err, &handle, &prep), CMDSEQ_OK);
  const std::size_t queued = c.sconn.sent.size();
  i_cs_DropStmt(c.conn, &handle, false);
  EXPECT_EQ(c.sconn.sent.size(), queued);  // no second item 32
  ASSERT_EQ(CmdSeqPrepare(c.conn, &c.err, &handle, &prep), CMDSEQ_OK);

  // The next execute validates instead of preparing.
  const std::size_t at = c.sconn.sent.size();
  c.sconn.sync();
  ok(c.sconn);  // validate
  execute_reply(c.sconn, 0);
  ASSERT_EQ(CmdSeqExecute(c.conn, &c.err, &handle, &exec), CMDSEQ_OK);
  EXPECT_EQ(codes(c.sconn, at), (std::vector<int>{21, 0, 24, 0, -1}));
  EXPECT_EQ(c.sconn.sent[at].bytes.size(), 14u);
  EXPECT_FALSE(handle.info->flags & CS_INFO_CACHED_DROP);
  EXPECT_GT(c.conn->validate_hits, 0.9f);
}

TEST_F(StmtFixture, AValidateTheServerRefusesIsRedoneOnceWithAFreshPrepare) {
  c.conn->server_strm_ver = 11;
  c.conn->set_max_cached_stmt(5);
  ASSERT_EQ(prepare(), CMDSEQ_OK);
  i_cs_DropStmt(c.conn, &handle, false);
  ASSERT_EQ(CmdSeqPrepare(c.conn, &c.err, &handle, &prep), CMDSEQ_OK);
  a_cmdseq_execute_param exec;
  prepare_reply(c.sconn.sync(), 78, 2);
  execute_reply(c.sconn, 0);
  ASSERT_EQ(CmdSeqExecute(c.conn, &c.err, &handle, &exec), CMDSEQ_OK);
  i_cs_DropStmt(c.conn, &handle, false);
  ASSERT_EQ(CmdSeqPrepare(c.conn, &c.err, &handle, &prep), CMDSEQ_OK);

  const std::size_t at = c.sconn.sent.size();
  c.sconn.sync();
  status_code(c.sconn, -130);  // the validate
  c.sconn.item(CS_ITEM_END).item(44, le32(0));
  status_code(c.sconn, -130);  // the execute that went with it
  c.sconn.sync();
  prepare_reply(c.sconn, 79, 2);
  execute_reply(c.sconn, 3);
  EXPECT_EQ(CmdSeqExecute(c.conn, &c.err, &handle, &exec), CMDSEQ_OK);
  EXPECT_EQ(exec.row_count, 3u);
  EXPECT_EQ(c.err.sqlcode, 0);
  EXPECT_EQ(codes(c.sconn, at), (std::vector<int>{21, 0, 24, 0, -1, 23, 22, 136, 24, 0, -1}));
  EXPECT_EQ(handle.info->server_stmt, 79u);
}

// Both statistics decay by 0.99 before a miss counts, so the miss count first reaches 5.0
// at the sixth miss in a row.
TEST(Validate, MissesOutweighingHitsTurnStatementReuseOff) {
  struct Case {
    float hits;
    int misses;
    bool reuse_on;
  };
  for (const Case& k : {Case{0, 6, false}, Case{0, 5, true}, Case{20, 6, true}}) {
    SCOPED_TRACE(k.misses);
    CmdSeqConn c;
    c.conn->flags2 |= CS_FLAGS2_CACHE_ON;
    c.conn->validate_hits = k.hits;
    a_cmdseq_stmt_info info(c.conn);
    for (int i = 0; i < k.misses; ++i) {
      status_code(c.sconn, -130);
      EXPECT_EQ(i_cs_ReceiveValidate(c.conn, &c.err, &info), CMDSEQ_ERROR);
    }
    EXPECT_EQ((c.conn->flags2 & CS_FLAGS2_CACHE_ON) != 0, k.reuse_on);
  }
}

TEST_F(StmtFixture, ExecuteSendsParameterRowsAndReadsTheCounts) {
  ASSERT_EQ(prepare(), CMDSEQ_OK);
  a_cmdseq_desc params;
  CmdSeqInitDesc(&params);
  ASSERT_EQ(CmdSeqAllocDescItems(&params, 2, 1), CMDSEQ_OK);
  std::int32_t values[2] = {10, 20};
  std::int32_t ind[2] = {0, -1};
  int k = 0;
  for (a_cmdseq_desc_item* item = params.items; item != nullptr; item = item->next, ++k) {
    item->type = 4;
    item->length = 4;
    item->values()[0] = {&values[k], &ind[k], nullptr};
  }
  a_cmdseq_execute_param exec;
  exec.params = &params;
  exec.rows = 1;
  exec.commit_mode = 1;
  c.sconn.sync();
  execute_reply(c.sconn, 1);
  ok(c.sconn, {{1, 6}});  // the commit
  std::uint32_t commit = 99;
  const std::size_t at = c.sconn.sent.size();
  EXPECT_EQ(CmdSeqExecuteCommit(c.conn, &c.err, &handle, &exec, &commit), CMDSEQ_OK);
  EXPECT_EQ(codes(c.sconn, at), (std::vector<int>{24, 112, 103, 132, 0, 58, -1}));
  EXPECT_EQ(c.sconn.sent[at].bytes, le32(77) + le16(2));
  EXPECT_EQ(c.sconn.sent[at + 1].bytes, le32(10));
  EXPECT_EQ(exec.row_count, 1u);
  EXPECT_EQ(exec.second_count, 4u);
  EXPECT_EQ(commit, 6u);
  EXPECT_TRUE(c.sconn.script_done());
  CmdSeqFreeDescItems(&params);
}

TEST_F(StmtFixture, AnExecuteReplyWithoutTheCursorItemIsAProtocolError) {
  ASSERT_EQ(prepare(), CMDSEQ_OK);
  a_cmdseq_execute_param exec;
  c.sconn.sync().item(CS_ITEM_END);
  ok(c.sconn);
  EXPECT_EQ(CmdSeqExecute(c.conn, &c.err, &handle, &exec), CMDSEQ_PROTOCOL_ERROR);
  EXPECT_TRUE(c.connected());
}

TEST_F(StmtFixture, InformationFlag64RunsTheCursorCheckAndForgetsClosedCursors) {
  ASSERT_EQ(prepare(), CMDSEQ_OK);
  a_cmdseq_cursor open_one{0}, closed_one{0};
  open_one.server_cursor = 11;
  closed_one.server_cursor = 12;
  for (a_cmdseq_cursor* cur : {&open_one, &closed_one}) {
    cur->conn = c.conn;
    cur->flags_b = CS_CURSOR_B_OPEN;
    ASSERT_TRUE(i_cs_AddCursor(c.conn, cur));
  }
  a_cmdseq_execute_param exec;
  c.sconn.sync();
  execute_reply(c.sconn, 0, 0x40);
  c.sconn.sync();
  ok(c.sconn, {{18, 0x10000}});  // cursor 12 (the newest, listed first)
  ok(c.sconn, {{18, 0}});        // cursor 11
  const std::size_t at = c.sconn.sent.size();
  EXPECT_EQ(CmdSeqExecute(c.conn, &c.err, &handle, &exec), CMDSEQ_OK);
  EXPECT_EQ(codes(c.sconn, at), (std::vector<int>{24, 0, -1, 47, 47, -1}));
  EXPECT_EQ(c.sconn.sent[at + 3].bytes, le32(12));
  EXPECT_FALSE(closed_one.flags_b & CS_CURSOR_B_OPEN);
  EXPECT_TRUE(open_one.flags_b & CS_CURSOR_B_OPEN);
  EXPECT_EQ(c.err.cursors_closed, 1u);
  i_cs_RemoveCursor(c.conn, &open_one);
}

TEST_F(StmtFixture, ExecuteImmediateSendsTheTextAndFillsItsThreeOutputs) {
  a_cmdseq_exec_imm_param imm;
  imm.text = "drop table t";
  imm.text_len = 12;
  c.sconn.item(CS_ITEM_END).item(44, le32(0));
  ok(c.sconn, {{4, 3}, {2, 5}, {1, 6}});
  EXPECT_EQ(CmdSeqExecuteImm(c.conn, &c.err, &imm), CMDSEQ_OK);
  EXPECT_EQ(codes(c.sconn), (std::vector<int>{25, 0, -1}));
  EXPECT_EQ(imm.info4, 3u);
  EXPECT_EQ(imm.info2, 5u);
  EXPECT_EQ(imm.info1, 6u);
}

TEST_F(StmtFixture, PrepareDescribeSendsBothAndCachesTheDescription) {
  a_cmdseq_describe_param d;
  d.option = 135;
  d.want_output = 1;
  prepare_reply(c.sconn.sync(), 77, 0);
  describe_reply(c.sconn, "C1");
  ASSERT_EQ(CmdSeqPrepareDescribe(c.conn, &c.err, &handle, &prep, &d), CMDSEQ_OK);
  EXPECT_EQ(codes(c.sconn), (std::vector<int>{22, 136, 28, -1}));
  EXPECT_EQ(c.sconn.sent[2].bytes, le32(0xFFFFFFFF) + le16(135));  // not prepared yet
  ASSERT_NE(d.result, nullptr);
  EXPECT_EQ(d.result->count, 1u);
  EXPECT_STREQ(d.result->items->name, "C1");
  EXPECT_EQ(d.complete, 1u);

  // A second describe is answered from the cache.
  a_cmdseq_describe_param again;
  again.option = 135;
  again.want_output = 1;
  EXPECT_EQ(CmdSeqDescribe(c.conn, &c.err, &handle, &again), CMDSEQ_OK);
  EXPECT_EQ(again.result, d.result);
  EXPECT_EQ(c.sconn.sent.size(), 4u);
  // Another option describes again.
  again.option = 1;
  describe_reply(c.sconn.sync(), "C2");
  EXPECT_EQ(CmdSeqDescribe(c.conn, &c.err, &handle, &again), CMDSEQ_OK);
  EXPECT_EQ(codes(c.sconn, 4), (std::vector<int>{28, -1}));
  EXPECT_EQ(c.sconn.sent[4].bytes, le32(77) + le16(1));
  EXPECT_STREQ(again.result->items->name, "C2");
}

// --- The combined request -----------------------------------------------------------------

struct CombinedFixture : StmtFixture {
  a_cmdseq_cursor cursor{0};
  a_cmdseq_describe_param d;
  a_cmdseq_execute_param exec;
  a_cmdseq_open_param open;
  std::uint32_t executed = 9, opened = 9;

  CombinedFixture() {
    cursor.conn = c.conn;
    d.option = 135;
    d.want_output = 1;
    open.handle = &handle;
    open.cursor_name = "SQL_CUR1";
    open.cursor = &cursor;
  }
  ~CombinedFixture() override {
    if (cursor.flags_b & CS_CURSOR_B_OPEN) i_cs_RemoveCursor(c.conn, &cursor);
    i_cs_FreeAllFetchData(&cursor);
  }
  a_cmdseq_return run() {
    return CmdSeqPrepareDescribeExecuteOpen(c.conn, &c.err, &handle, &prep, &d, &exec, &open,
                                            &executed, &opened);
  }
};

TEST_F(CombinedFixture, AQueryIsOpenedAndItsExecutePartIsLearntUnneeded) {
  prepare_reply(c.sconn.sync(), 77, 0);
  describe_reply(c.sconn, "C1");
  c.sconn.item(CS_ITEM_END).item(44, le32(0));
  status_code(c.sconn, 111);  // not executed
  c.sconn.item(44, le32(5));
  ok(c.sconn, {{6, 1}});
  ASSERT_EQ(run(), CMDSEQ_OK);
  EXPECT_EQ(codes(c.sconn), (std::vector<int>{22, 136, 28, 24, 0, 33, 134, 0, -1}));
  EXPECT_EQ(executed, 0u);
  EXPECT_EQ(opened, 1u);
  EXPECT_TRUE(cursor.flags_b & CS_CURSOR_B_OPEN);
  EXPECT_EQ(cursor.server_cursor, 5u);
  EXPECT_EQ(cursor.result_columns, 1);
  ASSERT_NE(cursor.own_desc, nullptr);  // the statement's description, shared
  EXPECT_STREQ(cursor.own_desc->items->name, "C1");
  EXPECT_TRUE(handle.info->reuse_flags & CS_REUSE_OPENED_CURSOR);
  EXPECT_FALSE(handle.info->reuse_flags & CS_REUSE_RAN_WITHOUT_CURSOR);
  EXPECT_EQ(c.err.sqlcode, 0);

  // Resetting the statement's caches leaves the cursor's description intact.
  i_cs_ResetStmtInfoAfterError(handle.info);
  EXPECT_STREQ(cursor.own_desc->items->name, "C1");
}

TEST_F(CombinedFixture, AStatementWithoutResultRunsAndIsNeverOpenedAgain) {
  prepare_reply(c.sconn.sync(), 77, 0);
  describe_reply(c.sconn, "C1");
  execute_reply(c.sconn, 4);
  c.sconn.item(44, le32(0));
  status_code(c.sconn, 111);  // not opened
  ASSERT_EQ(run(), CMDSEQ_OK);
  EXPECT_EQ(executed, 1u);
  EXPECT_EQ(opened, 0u);
  EXPECT_EQ(exec.row_count, 4u);
  EXPECT_FALSE(cursor.flags_b & CS_CURSOR_B_OPEN);
  EXPECT_EQ(c.conn->cursors, nullptr);
  EXPECT_TRUE(handle.info->reuse_flags & CS_REUSE_RAN_WITHOUT_CURSOR);

  // The next run leaves the open part out (the statement is prepared again: it was
  // released without the cache).
  const std::size_t at = c.sconn.sent.size();
  prepare_reply(c.sconn.sync(), 78, 0);
  execute_reply(c.sconn, 2);
  ASSERT_EQ(run(), CMDSEQ_OK);
  const std::vector<int> sent = codes(c.sconn, at);
  EXPECT_EQ(std::count(sent.begin(), sent.end(), 33), 0);
  EXPECT_EQ(std::count(sent.begin(), sent.end(), 24), 1);
  EXPECT_EQ(executed, 1u);
  EXPECT_EQ(exec.row_count, 2u);
}

TEST_F(StmtFixture, NotConnectedSendsNothing) {
  c.conn->status &= static_cast<std::uint8_t>(~CS_STATUS_CONNECTED);
  a_cmdseq_execute_param exec;
  a_cmdseq_exec_imm_param imm;
  imm.info1 = 5;
  EXPECT_EQ(CmdSeqPrepare(c.conn, &c.err, &handle, &prep), CMDSEQ_NOT_CONNECTED);
  EXPECT_EQ(CmdSeqExecuteImm(c.conn, &c.err, &imm), CMDSEQ_NOT_CONNECTED);
  EXPECT_EQ(imm.info1, 0u);
  EXPECT_EQ(CmdSeqTimeChange(c.conn, &c.err), CMDSEQ_NOT_CONNECTED);
  EXPECT_EQ(CmdSeqDropStmt(c.conn, &c.err, &handle), CMDSEQ_NOT_CONNECTED);
  EXPECT_TRUE(c.sconn.sent.empty());
  c.conn->status |= CS_STATUS_CONNECTED;  // the fixture takes it out of service
}

TEST(TimeChange, QueuesTheOffsetOnlyForServersThatKnowIt) {
  for (std::uint16_t ver : {5, 6}) {
    CmdSeqConn c;
    c.conn->server_strm_ver = ver;
    EXPECT_EQ(CmdSeqTimeChange(c.conn, &c.err), CMDSEQ_OK);
    EXPECT_EQ(codes(c.sconn), ver < 6 ? std::vector<int>{} : std::vector<int>{3});
  }
}

TEST(CharsetChange, SendsTheNameWithItsTerminatorAndReadsTheLabelFromLevel13) {
  for (std::uint16_t ver : {12, 13}) {
    SCOPED_TRACE(ver);
    CmdSeqConn c;
    c.conn->server_strm_ver = ver;
    if (ver >= 13) c.sconn.item(CS_ITEM_PARAM, std::string("utf8"));
    ok(c.sconn);
    c.sconn.sync();
    EXPECT_EQ(CmdSeqChangeCharCharset(c.conn, &c.err, "utf8xx", 4), CMDSEQ_OK);
    EXPECT_EQ(codes(c.sconn), (std::vector<int>{4, -1}));
    EXPECT_EQ(c.sconn.sent[0].bytes, (Bytes{'u', 't', 'f', '8', 0}));
    EXPECT_TRUE(c.sconn.script_done());
    EXPECT_TRUE(c.conn->status & CS_STATUS_CHARSET_CHANGED);
  }
}

}  // namespace

namespace {

TEST(CharsetChange, ANationalCharacterSetSetsTheSmallestCharacterSize) {
  for (const char* name : {"UTF-16", "UTF-8"}) {
    SCOPED_TRACE(name);
    CmdSeqConn c;
    c.conn->server_strm_ver = 13;
    c.sconn.item(CS_ITEM_SUCCESS).item(CS_ITEM_END).sync();
    EXPECT_EQ(CmdSeqChangeNCharCharset(c.conn, &c.err, name,
                                       static_cast<std::uint32_t>(std::strlen(name))),
              CMDSEQ_OK);
    EXPECT_EQ(CmdSeqGetMinNCharSize(c.conn), std::strcmp(name, "UTF-8") == 0 ? 1 : 2);
    EXPECT_EQ(codes(c.sconn), (std::vector<int>{5, -1}));  // no label for NCHAR
  }
}

}  // namespace
