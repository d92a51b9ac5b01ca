// Cursors of the client over the real communication stack against vqeng12, on shared
// memory and on TCP/IP: moves forwards, backwards, absolute and relative with the
// prefetch in play, block fetches, the row description (only the bound columns, in the
// bound types), the next result of a text of several queries, insert, update and delete
// through the cursor, and close. Every row that comes back is compared with the row that
// went in.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cmdseq/cursor.h"
#include "cmdseq/fetch_buffer.h"
#include "cmdseq/transaction.h"
#include "statement_session.h"

namespace {

using vq_e2e::kBigInt;
using vq_e2e::kFetchAbsolute;
using vq_e2e::kInt;
using vq_e2e::kText;
using vq_e2e::Statement;
using vq_e2e::Values;

constexpr std::int32_t kRows = 20;

class Cursors : public vq_e2e::StatementSession {
 protected:
  // Table n: ids 1 to kRows, each with its name "row <id>".
  void Numbers() {
    ASSERT_EQ(ExecImm("CREATE TABLE n (id INTEGER, name VARCHAR(20))"), CMDSEQ_OK);
    std::string sql = "INSERT INTO n VALUES ";
    for (std::int32_t i = 1; i <= kRows; ++i) {
      sql += (i > 1 ? ", (" : "(") + std::to_string(i) + ", 'row " + std::to_string(i) + "')";
    }
    std::uint32_t changed = 0;
    ASSERT_EQ(ExecImm(sql, &changed), CMDSEQ_OK);
    ASSERT_EQ(changed, static_cast<std::uint32_t>(kRows));
  }
};

// Each move names where the cursor must land: a row id, or 0 for no row (SQLCODE 100).
struct Move {
  const char* what;
  std::int32_t offset;
  std::uint16_t options;
  std::int32_t lands_on;
};

TEST_P(Cursors, MovesInEveryDirectionLandOnTheRightRows) {
  Numbers();
  const Move moves[] = {
      {"first", 1, 0, 1},
      {"next", 1, 0, 2},
      {"next from the prefetched rows", 1, 0, 3},
      {"next", 1, 0, 4},
      {"back one", -1, 0, 3},
      {"forward five", 5, 0, 8},
      {"back three", -3, 0, 5},
      {"next after moving back", 1, 0, 6},
      {"stay", 0, 0, 6},
      {"absolute 15", 15, kFetchAbsolute, 15},
      {"next after an absolute move", 1, 0, 16},
      {"next", 1, 0, 17},
      {"last, counted from the end", -1, kFetchAbsolute, kRows},
      {"past the end", 1, 0, 0},
      {"back from after the end", -1, 0, kRows},
      {"absolute 1", 1, kFetchAbsolute, 1},
      {"before the first", -1, 0, 0},
      {"first again", 1, 0, 1},
      {"forward to the last", kRows - 1, 0, kRows},
      {"forward past the end", 3, 0, 0},
      {"absolute 2", 2, kFetchAbsolute, 2},
      {"next", 1, 0, 3},
  };
  Statement s(conn_, "SELECT id, name FROM n ORDER BY id");
  Values bound({kInt, kText});
  ASSERT_EQ(Open(s, &bound, 1), CMDSEQ_OK) << err_.sqlcode;
  for (const Move& m : moves) {
    SCOPED_TRACE(m.what);
    const a_cmdseq_return r = Fetch(s, bound, m.offset, m.options);
    if (m.lands_on == 0) {
      EXPECT_EQ(r, CMDSEQ_WARNING);
      EXPECT_EQ(err_.sqlcode, 100);
      continue;
    }
    ASSERT_EQ(r, CMDSEQ_OK) << err_.sqlcode;
    EXPECT_EQ(bound.Int(0), m.lands_on);
    EXPECT_EQ(bound.Text(1), "row " + std::to_string(m.lands_on));
  }
  EXPECT_EQ(Close(s), CMDSEQ_OK);
}

// The forward moves that the prefetch serves make no exchange of their own.
TEST_P(Cursors, RowsServedFromThePrefetchCostNoExchange) {
  Numbers();
  Statement s(conn_, "SELECT id FROM n ORDER BY id");
  Values bound({kInt});
  ASSERT_EQ(Open(s, &bound, 1), CMDSEQ_OK) << err_.sqlcode;
  std::size_t exchanges = 0;
  for (std::int32_t want = 1; want <= kRows; ++want) {
    const std::size_t mark = RequestMark();
    ASSERT_EQ(Fetch(s, bound, 1), CMDSEQ_OK) << want;
    EXPECT_EQ(bound.Int(0), want);
    exchanges += Requests(mark).empty() ? 0 : 1;
  }
  EXPECT_EQ(Fetch(s, bound, 1), CMDSEQ_WARNING);
  EXPECT_EQ(err_.sqlcode, 100);
  EXPECT_LT(exchanges, static_cast<std::size_t>(kRows) / 2);
  EXPECT_EQ(Close(s), CMDSEQ_OK);
}

TEST_P(Cursors, BlockFetchesFillEveryRowAndMarkTheRowsLeftOver) {
  Numbers();
  constexpr std::uint16_t kBlock = 6;
  Statement s(conn_, "SELECT id, name FROM n ORDER BY id");
  ASSERT_EQ(Open(s), CMDSEQ_OK) << err_.sqlcode;
  Values block({kInt, kText}, kBlock);
  std::int32_t next = 1;
  for (;;) {
    std::uint16_t fetched = 0;
    const a_cmdseq_return r = Fetch(s, block, 1, 0, kBlock, &fetched);
    SCOPED_TRACE(next);
    const std::int32_t expect = std::min<std::int32_t>(kBlock, kRows - next + 1);
    if (expect <= 0) {
      EXPECT_EQ(r, CMDSEQ_WARNING);
      EXPECT_EQ(err_.sqlcode, 100);
      EXPECT_EQ(fetched, 0);
      break;
    }
    ASSERT_TRUE(r == CMDSEQ_OK || (r == CMDSEQ_WARNING && err_.sqlcode == 100)) << err_.sqlcode;
    ASSERT_EQ(fetched, expect);
    for (std::uint16_t v = 0; v < kBlock; ++v) {
      if (v < fetched) {
        EXPECT_EQ(block.Int(0, v), next + v);
        EXPECT_EQ(block.Text(1, v), "row " + std::to_string(next + v));
      } else {
        EXPECT_EQ(block.Indicator(0, v), -1) << "row slot " << v;
      }
    }
    next += fetched;
  }
  EXPECT_EQ(next, kRows + 1);
  EXPECT_EQ(Close(s), CMDSEQ_OK);
}

// The row description asks for the bound columns only, each in the type it is bound
// with: an integer bound as text arrives as its digits, an unbound column not at all.
TEST_P(Cursors, TheRowDescriptionDecidesWhichColumnsComeAndInWhichType) {
  ASSERT_EQ(ExecImm("CREATE TABLE w (a INTEGER, b VARCHAR(20), c BIGINT)"), CMDSEQ_OK);
  ASSERT_EQ(ExecImm("INSERT INTO w VALUES (41, 'skipped', 9000000000), (42, NULL, -1)"),
            CMDSEQ_OK);
  Statement s(conn_, "SELECT a, b, c FROM w ORDER BY a");
  Values bound({kText, kText, kBigInt});
  bound.Unbind(1);
  ASSERT_EQ(Open(s), CMDSEQ_OK) << err_.sqlcode;
  ASSERT_EQ(Fetch(s, bound, 1), CMDSEQ_OK) << err_.sqlcode;
  EXPECT_EQ(bound.Text(0), "41");
  EXPECT_EQ(bound.Int(2), 9000000000);
  EXPECT_EQ(bound.Indicator(1), 7);  // untouched
  ASSERT_EQ(Fetch(s, bound, 1), CMDSEQ_OK) << err_.sqlcode;
  EXPECT_EQ(bound.Text(0), "42");
  EXPECT_EQ(bound.Int(2), -1);

  // Bound anew, a as an integer and b as text: the next row description asks for both.
  ASSERT_TRUE(bound.Rebind(0, kInt));
  ASSERT_TRUE(bound.Rebind(1, kText));
  ASSERT_EQ(Fetch(s, bound, 1, kFetchAbsolute), CMDSEQ_OK) << err_.sqlcode;
  EXPECT_EQ(bound.Int(0), 41);
  EXPECT_EQ(bound.Text(1), "skipped");
  EXPECT_EQ(bound.Int(2), 9000000000);
  ASSERT_EQ(Fetch(s, bound, 1), CMDSEQ_OK) << err_.sqlcode;
  EXPECT_EQ(bound.Int(0), 42);
  EXPECT_TRUE(bound.IsNull(1));
  EXPECT_EQ(Close(s), CMDSEQ_OK);
}

TEST_P(Cursors, ResumeMovesToTheNextResultOfTheText) {
  Numbers();
  Statement s(conn_,
              "SELECT id FROM n WHERE id <= 2 ORDER BY id; SELECT name, id FROM n WHERE id = 7");
  Values ids({kInt});
  ASSERT_EQ(Open(s), CMDSEQ_OK) << err_.sqlcode;
  EXPECT_EQ(s.cursor.result_columns, 1);
  for (std::int32_t want : {1, 2}) {
    ASSERT_EQ(Fetch(s, ids, 1), CMDSEQ_OK) << err_.sqlcode;
    EXPECT_EQ(ids.Int(0), want);
  }
  EXPECT_EQ(Fetch(s, ids, 1), CMDSEQ_WARNING);
  EXPECT_EQ(err_.sqlcode, 100);

  a_cmdseq_resume_param resume;
  resume.cursor = &s.cursor;
  ASSERT_EQ(CmdSeqResume(conn_, err(), &resume), CMDSEQ_OK) << err_.sqlcode;
  EXPECT_EQ(resume.result_columns, 2u);
  EXPECT_EQ(s.cursor.result_columns, 2);

  // The cursor describes its new result.
  a_cmdseq_describe_param d;
  d.option = 135;
  d.want_output = 1;
  ASSERT_EQ(CmdSeqDescribeCursor(conn_, err(), &s.cursor, &d), CMDSEQ_OK) << err_.sqlcode;
  ASSERT_NE(d.result, nullptr);
  ASSERT_EQ(d.result->count, 2u);
  EXPECT_STREQ(CmdSeqGetDescItem(d.result, 1)->name, "name");
  EXPECT_STREQ(CmdSeqGetDescItem(d.result, 2)->name, "id");

  Values second({kText, kInt});
  ASSERT_EQ(Fetch(s, second, 1), CMDSEQ_OK) << err_.sqlcode;
  EXPECT_EQ(second.Text(0), "row 7");
  EXPECT_EQ(second.Int(1), 7);
  EXPECT_EQ(Fetch(s, second, 1), CMDSEQ_WARNING);
  EXPECT_EQ(err_.sqlcode, 100);

  // Past the last result the procedure is complete.
  EXPECT_EQ(CmdSeqResume(conn_, err(), &resume), CMDSEQ_WARNING);
  EXPECT_EQ(err_.sqlcode, 105);
  EXPECT_EQ(Close(s), CMDSEQ_OK);
}

TEST_P(Cursors, InsertUpdateAndDeleteThroughTheCursorChangeTheTable) {
  Numbers();
  {
    Statement s(conn_, "SELECT id, name FROM n WHERE id <= 4 ORDER BY id");
    Values bound({kInt, kText});
    ASSERT_EQ(Open(s, &bound, 1), CMDSEQ_OK) << err_.sqlcode;

    // Update row 2: id keeps its value (no value sent), name changes.
    ASSERT_EQ(Fetch(s, bound, 2, kFetchAbsolute), CMDSEQ_OK);
    ASSERT_EQ(bound.Int(0), 2);
    Values change({kInt, kText});
    change.Unbind(0);
    change.SetText(1, "second");
    a_cmdseq_update_param update;
    update.cursor = &s.cursor;
    update.row_desc = change.desc();
    ASSERT_EQ(CmdSeqUpdate(conn_, err(), &update), CMDSEQ_OK) << err_.sqlcode;
    EXPECT_EQ(update.info2, 1u);

    // Delete row 3; reading it again finds no row.
    ASSERT_EQ(Fetch(s, bound, 1), CMDSEQ_OK);
    ASSERT_EQ(bound.Int(0), 3);
    a_cmdseq_delete_param del;
    del.cursor = &s.cursor;
    ASSERT_EQ(CmdSeqDelete(conn_, err(), &del), CMDSEQ_OK) << err_.sqlcode;
    EXPECT_EQ(del.info2, 1u);
    EXPECT_EQ(Fetch(s, bound, 3, kFetchAbsolute), CMDSEQ_ERROR);
    EXPECT_EQ(err_.sqlcode, -197);

    // Two rows put through the cursor.
    Values rows({kInt, kText, kInt, kText});
    rows.SetInt(0, 100);
    rows.SetText(1, "hundred");
    rows.SetInt(2, 101);
    rows.SetNull(3);
    a_cmdseq_put_param put;
    put.cursor = &s.cursor;
    put.rows_desc = rows.desc();
    put.rows = 2;
    ASSERT_EQ(CmdSeqPut(conn_, err(), &put), CMDSEQ_OK) << err_.sqlcode;
    EXPECT_EQ(put.info2, 2u);

    // The cursor shows its own changes: row 2 renamed.
    ASSERT_EQ(Fetch(s, bound, 2, kFetchAbsolute), CMDSEQ_OK);
    EXPECT_EQ(bound.Text(1), "second");
    EXPECT_EQ(Close(s), CMDSEQ_OK);
  }
  std::uint32_t value = 0;
  ASSERT_EQ(CmdSeqCommit(conn_, err(), &value), CMDSEQ_OK);

  // The table as a new cursor reads it.
  Statement s(conn_, "SELECT id, name FROM n WHERE id <= 4 OR id >= 100 ORDER BY id");
  Values bound({kInt, kText});
  ASSERT_EQ(Open(s, &bound, 1), CMDSEQ_OK) << err_.sqlcode;
  struct Want {
    std::int32_t id;
    const char* name;  // null: NULL
  };
  const Want want[] = {{1, "row 1"}, {2, "second"}, {4, "row 4"}, {100, "hundred"}, {101, nullptr}};
  for (const Want& w : want) {
    SCOPED_TRACE(w.id);
    ASSERT_EQ(Fetch(s, bound, 1), CMDSEQ_OK) << err_.sqlcode;
    EXPECT_EQ(bound.Int(0), w.id);
    if (w.name == nullptr) {
      EXPECT_TRUE(bound.IsNull(1));
    } else {
      EXPECT_EQ(bound.Text(1), w.name);
    }
  }
  EXPECT_EQ(Fetch(s, bound, 1), CMDSEQ_WARNING);
  EXPECT_EQ(Close(s), CMDSEQ_OK);
}

// A close by name (close mode 2) makes no exchange of its own: the server hears of it with
// the next request.
TEST_P(Cursors, ACloseByNameTravelsWithTheNextRequest) {
  Numbers();
  conn_->close_mode = 2;
  Statement s(conn_, "SELECT id FROM n ORDER BY id");
  Values bound({kInt});
  ASSERT_EQ(Open(s, &bound, 1), CMDSEQ_OK) << err_.sqlcode;
  ASSERT_EQ(Fetch(s, bound, 1), CMDSEQ_OK);
  const std::size_t mark = RequestMark();
  ASSERT_EQ(Close(s), CMDSEQ_OK) << err_.sqlcode;
  EXPECT_FALSE(s.is_open());
  EXPECT_TRUE(Requests(mark).empty());
  ASSERT_EQ(ExecImm("CREATE TABLE after_close (x INTEGER)"), CMDSEQ_OK);
  const std::vector<std::string> sent = Requests(mark);
  ASSERT_FALSE(sent.empty());
  EXPECT_NE(std::find(sent.begin(), sent.end(), "close-by-name E2E_CUR"), sent.end());
}

// A rollback drops the rows a cursor holds ahead; the next rows then come from the server,
// in order, with none lost or repeated.
TEST_P(Cursors, RowsHeldAheadAreDroppedByARollbackAndFetchedAgain) {
  Numbers();
  std::uint32_t value = 0;
  ASSERT_EQ(CmdSeqCommit(conn_, err(), &value), CMDSEQ_OK);
  Statement s(conn_, "SELECT id FROM n ORDER BY id");
  Values bound({kInt});
  ASSERT_EQ(Open(s, &bound, 1), CMDSEQ_OK) << err_.sqlcode;
  for (std::int32_t want = 1; want <= 3; ++want) {
    ASSERT_EQ(Fetch(s, bound, 1), CMDSEQ_OK);
    EXPECT_EQ(bound.Int(0), want);
  }
  ASSERT_EQ(ExecImm("UPDATE n SET name = 'x' WHERE id = 1"), CMDSEQ_OK);  // work to undo
  ASSERT_EQ(CmdSeqRollback(conn_, err(), &value), CMDSEQ_OK) << err_.sqlcode;
  EXPECT_TRUE(s.cursor.buffer == nullptr || s.cursor.buffer->count == 0);
  for (std::int32_t want = 4; want <= kRows; ++want) {
    ASSERT_EQ(Fetch(s, bound, 1), CMDSEQ_OK) << want;
    EXPECT_EQ(bound.Int(0), want);
  }
  EXPECT_EQ(Fetch(s, bound, 1), CMDSEQ_WARNING);
  EXPECT_EQ(err_.sqlcode, 100);
  EXPECT_EQ(Close(s), CMDSEQ_OK);
}

TEST_P(Cursors, AClosedCursorIsGoneOnBothSides) {
  Numbers();
  Statement s(conn_, "SELECT id FROM n ORDER BY id");
  Values bound({kInt});
  ASSERT_EQ(Open(s, &bound, 1), CMDSEQ_OK) << err_.sqlcode;
  ASSERT_EQ(Fetch(s, bound, 1), CMDSEQ_OK);
  const std::uint32_t server_cursor = s.cursor.server_cursor;
  const std::size_t mark = RequestMark();
  ASSERT_EQ(Close(s), CMDSEQ_OK) << err_.sqlcode;
  EXPECT_FALSE(s.is_open());
  EXPECT_EQ(conn_->cursors, nullptr);
  const std::vector<std::string> sent = Requests(mark);
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "close " + std::to_string(server_cursor)), 1)
      << sent.size();

  // Nothing more is sent for it.
  const std::size_t after = RequestMark();
  EXPECT_EQ(Fetch(s, bound, 1), CMDSEQ_ERROR);
  EXPECT_EQ(err_.sqlcode, -180);
  EXPECT_EQ(RequestMark(), after);

  // The statement opens a new cursor that starts from the first row again.
  s.open.cursor_name = "E2E_CUR2";
  ASSERT_EQ(CmdSeqOpenCursorPrefetch(conn_, err(), &s.open, bound.desc(), 1), CMDSEQ_OK)
      << err_.sqlcode;
  ASSERT_EQ(Fetch(s, bound, 1), CMDSEQ_OK);
  EXPECT_EQ(bound.Int(0), 1);
  EXPECT_EQ(Close(s), CMDSEQ_OK);
}

INSTANTIATE_TEST_SUITE_P(Links, Cursors,
                         testing::Values(vq_e2e::Link::kSharedMemory, vq_e2e::Link::kTcpIp),
                         vq_e2e::LinkParamName);

}  // namespace
