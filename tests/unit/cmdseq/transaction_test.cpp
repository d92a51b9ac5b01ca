// Commit, rollback and prepare-to-commit: the items sent, the no-work short-cut and the
// reply's information.
#include "cmdseq/transaction.h"

#include <gtest/gtest.h>

#include <vector>

#include "cmdseq/fetch_buffer.h"
#include "cmdseq_fixture.h"

namespace {

// Status 'B', then information items {slot, value}, then the end item and the sync point.
void ok_reply(a_strm_conn_rec& s,
              std::vector<std::pair<std::uint8_t, std::uint32_t>> info = {}) {
  s.item(CS_ITEM_SUCCESS);
  for (auto& [slot, value] : info) s.item(CS_ITEM_INFO32, le32(value) + Bytes{slot});
  s.item(CS_ITEM_END).sync();
}

TEST(Commit, SendsItem58AndKnowsWhenTheNextOneIsNeeded) {
  struct Case {
    const char* name;
    std::uint16_t server_ver;
    std::uint32_t flags;  // slot 17 of the first reply
    bool error;
    bool second_sent;
  };
  const Case cases[] = {
      {"no work left", 10, 0, false, false},
      {"server says more work", 10, CS_INFO_MORE_WORK, false, true},
      {"old server", 9, 0, false, true},
      {"commit failed", 10, 0, true, true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    CmdSeqConn c;
    c.conn->server_strm_ver = k.server_ver;
    if (k.error) {
      c.sconn.item(CS_ITEM_ERROR, error_record(-1, "40001", "40001", "40001"))
          .item(CS_ITEM_END)
          .item(CS_ITEM_END)
          .item(CS_ITEM_END)
          .sync();
    } else {
      ok_reply(c.sconn, {{1, 7}, {kInfoFlagsSlot, k.flags}});
    }
    std::uint32_t value = 99;
    EXPECT_EQ(CmdSeqCommit(c.conn, &c.err, &value), k.error ? CMDSEQ_ERROR : CMDSEQ_OK);
    EXPECT_EQ(value, k.error ? 0u : 7u);
    EXPECT_EQ(codes(c.sconn), (std::vector<int>{58, -1}));

    CmdSeqResetErrorParam(&c.err, nullptr);
    ok_reply(c.sconn);
    EXPECT_EQ(CmdSeqCommit(c.conn, &c.err, &value), CMDSEQ_OK);
    EXPECT_EQ(c.sconn.sent.size(), k.second_sent ? 4u : 2u);
  }
}

TEST(Commit, AnyOtherRequestMakesTheNextCommitGo) {
  CmdSeqConn c;
  c.conn->server_strm_ver = 12;
  ok_reply(c.sconn);
  std::uint32_t value = 0;
  ASSERT_EQ(CmdSeqCommit(c.conn, &c.err, &value), CMDSEQ_OK);
  ASSERT_TRUE(c.conn->status & CS_STATUS_NO_WORK);
  c.sconn.item(CS_ITEM_SUCCESS).sync();
  ASSERT_EQ(c.status_request(), CMDSEQ_OK);
  ok_reply(c.sconn);
  EXPECT_EQ(CmdSeqCommit(c.conn, &c.err, &value), CMDSEQ_OK);
  EXPECT_EQ(codes(c.sconn), (std::vector<int>{58, -1, 7, -1, 58, -1}));
}

TEST(Commit, NotConnectedAnswers2AndSendsNothing) {
  CmdSeqConn c;
  c.conn->status &= static_cast<std::uint8_t>(~CS_STATUS_CONNECTED);
  std::uint32_t value = 0;
  EXPECT_EQ(CmdSeqCommit(c.conn, &c.err, &value), CMDSEQ_NOT_CONNECTED);
  EXPECT_EQ(CmdSeqRollback(c.conn, &c.err, &value), CMDSEQ_NOT_CONNECTED);
  EXPECT_EQ(CmdSeqPrepareToCommit(c.conn, &c.err), CMDSEQ_NOT_CONNECTED);
  EXPECT_TRUE(c.sconn.sent.empty());
  c.conn->status |= CS_STATUS_CONNECTED;  // the fixture takes it out of service
}

TEST(Rollback, DropsBufferedRowsAndSetsTheNoWorkBitOnSuccess) {
  CmdSeqConn c;
  c.conn->server_strm_ver = 5;  // rollback sets the bit whatever the version
  a_cmdseq_cursor cursor{0};
  cursor.conn = c.conn;
  cursor.flags_b = CS_CURSOR_B_OPEN;
  ASSERT_TRUE(i_cs_AddCursor(c.conn, &cursor));
  ASSERT_TRUE(i_cs_CreateFetchBuffer(&cursor, 2, 1));
  ASSERT_TRUE(i_cs_StoreCell(&cursor, 0, "a", 1, 1, 0));
  ASSERT_TRUE(i_cs_CompleteRowInsert(&cursor));

  ok_reply(c.sconn, {{1, 3}});
  std::uint32_t value = 0;
  EXPECT_EQ(CmdSeqRollback(c.conn, &c.err, &value), CMDSEQ_OK);
  EXPECT_EQ(value, 3u);
  EXPECT_EQ(cursor.buffer->count, 0);
  EXPECT_EQ(codes(c.sconn), (std::vector<int>{59, -1}));
  EXPECT_TRUE(c.conn->status & CS_STATUS_NO_WORK);
  EXPECT_EQ(CmdSeqRollback(c.conn, &c.err, &value), CMDSEQ_OK);  // nothing to undo
  EXPECT_EQ(c.sconn.sent.size(), 2u);
  i_cs_RemoveCursor(c.conn, &cursor);
}

TEST(PrepareToCommit, AlwaysGoesAndNeverSetsTheNoWorkBit) {
  CmdSeqConn c;
  c.conn->server_strm_ver = 12;
  c.conn->status |= CS_STATUS_NO_WORK;
  ok_reply(c.sconn);
  EXPECT_EQ(CmdSeqPrepareToCommit(c.conn, &c.err), CMDSEQ_OK);
  EXPECT_EQ(codes(c.sconn), (std::vector<int>{60, -1}));
  EXPECT_FALSE(c.conn->status & CS_STATUS_NO_WORK);
}

}  // namespace
