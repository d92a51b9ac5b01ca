// Statement requests, options, server information and transactions of the client over
// the real communication stack against vqeng12, on shared memory and on TCP/IP: prepare,
// describe, execute with parameter rows, execute immediate, the combined request, statement
// release, server options and information strings, commit and rollback. Values are
// checked as they come back, and the server's request log shows what reached it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cmdseq/conn_server_info.h"
#include "cmdseq/options.h"
#include "cmdseq/transaction.h"
#include "statement_session.h"

namespace {

using vq_e2e::kBigInt;
using vq_e2e::kDouble;
using vq_e2e::kInt;
using vq_e2e::kText;
using vq_e2e::Statement;
using vq_e2e::Values;

bool Contains(const std::vector<std::string>& lines, const std::string& prefix) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& l) { return l.compare(0, prefix.size(), prefix) == 0; });
}
std::size_t CountOf(const std::vector<std::string>& lines, const std::string& prefix) {
  return static_cast<std::size_t>(
      std::count_if(lines.begin(), lines.end(),
                    [&](const std::string& l) { return l.compare(0, prefix.size(), prefix) == 0; }));
}

struct Row {
  std::int32_t id;
  std::string name;  // empty: NULL
  double amount;
};

class Statements : public vq_e2e::StatementSession {
 protected:
  // Every row of `sql` (columns id, name, amount), read through a cursor.
  std::vector<Row> Select(const std::string& sql) {
    std::vector<Row> rows;
    Statement s(conn_, sql);
    Values bound({kInt, kText, kDouble});
    EXPECT_TRUE(bound.ok());
    EXPECT_EQ(Open(s, &bound, 1), CMDSEQ_OK) << err_.sqlcode;
    for (int guard = 0; guard < 1000; ++guard) {
      const a_cmdseq_return r = Fetch(s, bound, 1);
      if (r == CMDSEQ_WARNING && err_.sqlcode == 100) break;
      EXPECT_EQ(r, CMDSEQ_OK) << err_.sqlcode;
      if (r != CMDSEQ_OK) break;
      rows.push_back({static_cast<std::int32_t>(bound.Int(0)),
                      bound.IsNull(1) ? std::string() : bound.Text(1), bound.Double(2)});
    }
    EXPECT_EQ(Close(s), CMDSEQ_OK);
    return rows;
  }
  void ExpectRows(const std::string& sql, const std::vector<Row>& want) {
    SCOPED_TRACE(sql);
    const std::vector<Row> got = Select(sql);
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(got[i].id, want[i].id);
      EXPECT_EQ(got[i].name, want[i].name);
      EXPECT_DOUBLE_EQ(got[i].amount, want[i].amount);
    }
  }
  void CreateTable() {
    ASSERT_EQ(ExecImm("CREATE TABLE t (id INTEGER, name VARCHAR(40), amount DOUBLE)"),
              CMDSEQ_OK)
        << err_.sqlcode;
  }
};

TEST_P(Statements, ParameterRowsGoInAndComeBackUnchanged) {
  CreateTable();
  const std::vector<Row> rows = {{1, "alpha", 1.5}, {2, "", -2.25}, {3, "gamma delta", 1e10}};

  Statement insert(conn_, "INSERT INTO t (id, name, amount) VALUES (?, ?, ?)");
  ASSERT_EQ(Prepare(insert), CMDSEQ_OK) << err_.sqlcode;
  EXPECT_EQ(insert.handle.param_count, 3);

  // The input description names one item per parameter.
  a_cmdseq_describe_param in;
  in.option = 135;
  in.want_input = 1;
  ASSERT_EQ(CmdSeqDescribe(conn_, err(), &insert.handle, &in), CMDSEQ_OK) << err_.sqlcode;
  ASSERT_NE(in.result, nullptr);
  EXPECT_EQ(in.result->count, 3u);

  // Three rows in one execute: the description holds the rows one after the other.
  Values params({kInt, kText, kDouble, kInt, kText, kDouble, kInt, kText, kDouble});
  ASSERT_TRUE(params.ok());
  for (std::size_t r = 0; r < rows.size(); ++r) {
    params.SetInt(3 * r, rows[r].id);
    if (rows[r].name.empty()) {
      params.SetNull(3 * r + 1);
    } else {
      params.SetText(3 * r + 1, rows[r].name);
    }
    params.SetDouble(3 * r + 2, rows[r].amount);
  }
  a_cmdseq_execute_param exec;
  exec.params = params.desc();
  exec.rows = 3;
  const std::size_t mark = RequestMark();
  ASSERT_EQ(CmdSeqExecute(conn_, err(), &insert.handle, &exec), CMDSEQ_OK) << err_.sqlcode;
  EXPECT_EQ(exec.row_count, 3u);
  EXPECT_EQ(Requests(mark), std::vector<std::string>{"execute " +
                                                     std::to_string(insert.handle.info->server_stmt) +
                                                     " columns=0 rows=3"});

  // The output description of a query: names and types of its columns.
  Statement query(conn_, "SELECT id, name, amount FROM t ORDER BY id");
  a_cmdseq_describe_param out;
  out.option = 135;
  out.want_output = 1;
  ASSERT_EQ(CmdSeqPrepareDescribe(conn_, err(), &query.handle, &query.prep, &out), CMDSEQ_OK)
      << err_.sqlcode;
  ASSERT_NE(out.result, nullptr);
  ASSERT_EQ(out.result->count, 3u);
  EXPECT_EQ(out.complete, 1u);
  struct Col {
    const char* name;
    std::int16_t type;
  };
  const Col cols[] = {{"id", 4}, {"name", 1}, {"amount", 8}};
  for (std::size_t k = 0; k < 3; ++k) {
    a_cmdseq_desc_item* item = CmdSeqGetDescItem(out.result, static_cast<std::uint32_t>(k + 1));
    ASSERT_NE(item, nullptr);
    ASSERT_NE(item->name, nullptr);
    EXPECT_STREQ(item->name, cols[k].name);
    EXPECT_EQ(item->type, cols[k].type) << cols[k].name;
  }
  // Asked again, the description comes from the statement's cache.
  const std::size_t before = RequestMark();
  a_cmdseq_describe_param again = out;
  again.result = nullptr;
  ASSERT_EQ(CmdSeqDescribe(conn_, err(), &query.handle, &again), CMDSEQ_OK);
  EXPECT_EQ(again.result, out.result);
  EXPECT_EQ(RequestMark(), before);

  ExpectRows("SELECT id, name, amount FROM t ORDER BY id", rows);
}

TEST_P(Statements, ColumnVariablesReceiveTheOneRowOfAQuery) {
  CreateTable();
  ASSERT_EQ(ExecImm("INSERT INTO t VALUES (7, 'seven', 7.5), (8, 'eight', 8.5)"), CMDSEQ_OK);
  Statement s(conn_, "SELECT name, amount FROM t WHERE id = ?");
  ASSERT_EQ(Prepare(s), CMDSEQ_OK) << err_.sqlcode;
  Values param({kInt});
  Values out({kText, kDouble});
  for (std::int32_t id : {8, 7}) {
    SCOPED_TRACE(id);
    param.SetInt(0, id);
    out.Clear();
    a_cmdseq_execute_param exec;
    exec.params = param.desc();
    exec.colvars = out.desc();
    exec.rows = 1;
    ASSERT_EQ(CmdSeqExecute(conn_, err(), &s.handle, &exec), CMDSEQ_OK) << err_.sqlcode;
    EXPECT_EQ(out.Text(0), id == 8 ? "eight" : "seven");
    EXPECT_DOUBLE_EQ(out.Double(1), id + 0.5);
  }
  // No row: the end of the data, and the statement stays usable.
  param.SetInt(0, 99);
  a_cmdseq_execute_param none;
  none.params = param.desc();
  none.colvars = out.desc();
  none.rows = 1;
  EXPECT_EQ(CmdSeqExecute(conn_, err(), &s.handle, &none), CMDSEQ_WARNING);
  EXPECT_EQ(err_.sqlcode, 100);
  param.SetInt(0, 7);
  a_cmdseq_execute_param again = none;
  out.Clear();
  ASSERT_EQ(CmdSeqExecute(conn_, err(), &s.handle, &again), CMDSEQ_OK) << err_.sqlcode;
  EXPECT_EQ(out.Text(0), "seven");
}

// Hundreds of parameter rows make a request of several packets, and the rows come back
// through replies of several packets too.
TEST_P(Statements, ManyParameterRowsCrossPacketBoundsBothWays) {
  CreateTable();
  constexpr int kMany = 400;
  std::vector<std::int16_t> types;
  for (int r = 0; r < kMany; ++r) types.insert(types.end(), {kInt, kText, kDouble});
  Values params(types);
  ASSERT_TRUE(params.ok());
  std::vector<Row> rows;
  for (int r = 0; r < kMany; ++r) {
    rows.push_back({r, "name number " + std::to_string(r * 7919) + " of many", r * 0.25});
    params.SetInt(3 * r, rows.back().id);
    params.SetText(3 * r + 1, rows.back().name);
    params.SetDouble(3 * r + 2, rows.back().amount);
  }
  Statement insert(conn_, "INSERT INTO t VALUES (?, ?, ?)");
  ASSERT_EQ(Prepare(insert), CMDSEQ_OK);
  a_cmdseq_execute_param exec;
  exec.params = params.desc();
  exec.rows = kMany;
  ASSERT_EQ(CmdSeqExecute(conn_, err(), &insert.handle, &exec), CMDSEQ_OK) << err_.sqlcode;
  EXPECT_EQ(exec.row_count, static_cast<std::uint32_t>(kMany));
  ExpectRows("SELECT id, name, amount FROM t ORDER BY id", rows);
}

TEST_P(Statements, ExecuteImmediateReportsTheRowsItChanged) {
  CreateTable();
  std::uint32_t changed = 99;
  ASSERT_EQ(ExecImm("INSERT INTO t VALUES (1, 'a', 1), (2, 'b', 2), (3, 'c', 3)", &changed),
            CMDSEQ_OK);
  EXPECT_EQ(changed, 3u);
  ASSERT_EQ(ExecImm("UPDATE t SET amount = amount * 10 WHERE id >= 2", &changed), CMDSEQ_OK);
  EXPECT_EQ(changed, 2u);
  ASSERT_EQ(ExecImm("DELETE FROM t WHERE id = 1", &changed), CMDSEQ_OK);
  EXPECT_EQ(changed, 1u);
  ExpectRows("SELECT id, name, amount FROM t ORDER BY id", {{2, "b", 20}, {3, "c", 30}});

  // A statement the server refuses comes back as its error, by either road, and the
  // connection goes on.
  EXPECT_EQ(ExecImm("INSERT INTO no_such_table VALUES (1)"), CMDSEQ_ERROR);
  EXPECT_LT(err_.sqlcode, 0);
  Statement bad(conn_, "SELEKT id FROM t");
  EXPECT_EQ(Prepare(bad), CMDSEQ_ERROR);
  EXPECT_LT(err_.sqlcode, 0);
  ASSERT_EQ(ExecImm("INSERT INTO t VALUES (4, 'd', 4)", &changed), CMDSEQ_OK);
  EXPECT_EQ(changed, 1u);
}

// Eight-byte values whose low word has its top bit set (0x1_80000000, the double 0.1) go
// in as parameters and come back whole, into column variables and through a cursor whose
// rows are held ahead in the fetch buffer.
TEST_P(Statements, EightByteValuesGoInAndComeBackWhole) {
  ASSERT_EQ(ExecImm("CREATE TABLE w (id INTEGER, big BIGINT, x DOUBLE)"), CMDSEQ_OK)
      << err_.sqlcode;
  struct Wide {
    std::int64_t big;
    double x;
  };
  const Wide kRows[] = {{0x180000000LL, 0.1},
                        {-0x80000000LL, -0.1},
                        {0x7FFFFFFF80000001LL, 1.0 / 3.0},
                        {0xFFFFFFFFLL, 2.2250738585072014e-308}};
  constexpr std::size_t kCount = sizeof kRows / sizeof kRows[0];
  Statement insert(conn_, "INSERT INTO w VALUES (?, ?, ?)");
  ASSERT_EQ(Prepare(insert), CMDSEQ_OK) << err_.sqlcode;
  Values params({kInt, kBigInt, kDouble});
  for (std::size_t i = 0; i < kCount; ++i) {
    params.SetInt(0, static_cast<std::int64_t>(i));
    params.SetInt(1, kRows[i].big);
    params.SetDouble(2, kRows[i].x);
    a_cmdseq_execute_param exec;
    exec.params = params.desc();
    exec.rows = 1;
    ASSERT_EQ(CmdSeqExecute(conn_, err(), &insert.handle, &exec), CMDSEQ_OK) << err_.sqlcode;
  }

  Statement one(conn_, "SELECT big, x FROM w WHERE id = ?");
  ASSERT_EQ(Prepare(one), CMDSEQ_OK) << err_.sqlcode;
  Values id({kInt});
  Values out({kBigInt, kDouble});
  for (std::size_t i = 0; i < kCount; ++i) {
    SCOPED_TRACE(i);
    id.SetInt(0, static_cast<std::int64_t>(i));
    out.Clear();
    a_cmdseq_execute_param exec;
    exec.params = id.desc();
    exec.colvars = out.desc();
    exec.rows = 1;
    ASSERT_EQ(CmdSeqExecute(conn_, err(), &one.handle, &exec), CMDSEQ_OK) << err_.sqlcode;
    EXPECT_EQ(out.Int(0), kRows[i].big);
    EXPECT_EQ(out.Double(1), kRows[i].x);
  }

  Statement all(conn_, "SELECT big, x FROM w ORDER BY id");
  Values bound({kBigInt, kDouble});
  ASSERT_EQ(Open(all, &bound, static_cast<std::uint16_t>(kCount)), CMDSEQ_OK) << err_.sqlcode;
  for (std::size_t i = 0; i < kCount; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(Fetch(all, bound, 1), CMDSEQ_OK) << err_.sqlcode;
    EXPECT_EQ(bound.Int(0), kRows[i].big);
    EXPECT_EQ(bound.Double(1), kRows[i].x);
  }
  EXPECT_EQ(Close(all), CMDSEQ_OK);
}

// The combined request prepares, describes, executes and opens in one exchange; the server
// answers the part that does not apply with warning 111, and the statement learns to leave
// that part out next time.
TEST_P(Statements, TheCombinedRequestLearnsToLeaveOutTheOpenOfAStatement) {
  CreateTable();
  const std::string sql = "INSERT INTO t (id, name, amount) VALUES (?, 'combined', 0)";
  Values param({kInt});
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE(run);
    Statement s(conn_, sql);
    param.SetInt(0, run);
    a_cmdseq_describe_param d;
    d.option = 135;
    d.want_output = 1;
    a_cmdseq_execute_param exec;
    exec.params = param.desc();
    exec.rows = 1;
    std::uint32_t executed = 9, opened = 9;
    const std::size_t mark = RequestMark();
    ASSERT_EQ(CmdSeqPrepareDescribeExecuteOpen(conn_, err(), &s.handle, &s.prep, &d, &exec,
                                               &s.open, &executed, &opened),
              CMDSEQ_OK)
        << err_.sqlcode;
    EXPECT_EQ(executed, 1u);
    EXPECT_EQ(opened, 0u);
    EXPECT_EQ(exec.row_count, 1u);
    EXPECT_FALSE(s.is_open());
    const std::vector<std::string> sent = Requests(mark);
    EXPECT_EQ(CountOf(sent, "execute "), 1u);
    EXPECT_EQ(CountOf(sent, "open "), run == 1 ? 1u : 0u) << "run " << run;
  }
  ExpectRows("SELECT id, name, amount FROM t ORDER BY id", {{1, "combined", 0}, {2, "combined", 0}});
}

TEST_P(Statements, TheCombinedRequestOpensAQueryWithoutRunningItTwice) {
  CreateTable();
  ASSERT_EQ(ExecImm("INSERT INTO t VALUES (1, 'one', 1), (2, 'two', 2)"), CMDSEQ_OK);
  Statement s(conn_, "SELECT id, name, amount FROM t WHERE id >= ? ORDER BY id");
  Values param({kInt});
  param.SetInt(0, 2);
  a_cmdseq_describe_param d;
  d.option = 135;
  d.want_output = 1;
  a_cmdseq_execute_param exec;
  exec.params = param.desc();
  exec.rows = 1;
  s.open.params = param.desc();
  std::uint32_t executed = 9, opened = 9;
  ASSERT_EQ(CmdSeqPrepareDescribeExecuteOpen(conn_, err(), &s.handle, &s.prep, &d, &exec, &s.open,
                                             &executed, &opened),
            CMDSEQ_OK)
      << err_.sqlcode;
  EXPECT_EQ(executed, 0u);
  EXPECT_EQ(opened, 1u);
  ASSERT_TRUE(s.is_open());
  EXPECT_EQ(s.cursor.result_columns, 3);
  ASSERT_NE(d.result, nullptr);
  EXPECT_EQ(d.result->count, 3u);

  Values bound({kInt, kText, kDouble});
  ASSERT_EQ(Fetch(s, bound, 1), CMDSEQ_OK) << err_.sqlcode;
  EXPECT_EQ(bound.Int(0), 2);
  EXPECT_EQ(bound.Text(1), "two");
  EXPECT_EQ(Fetch(s, bound, 1), CMDSEQ_WARNING);
  EXPECT_EQ(err_.sqlcode, 100);
  EXPECT_EQ(Close(s), CMDSEQ_OK);
}

// A server that lets the client keep statements prepared: a statement let go is kept
// with a cached drop and validated when it is used again.
class CachedStatements : public Statements {
 protected:
  void SetUp() override { Connect({"--statement-cache=10"}); }
};

TEST_P(CachedStatements, TheCombinedRequestLearnsToLeaveOutTheExecuteOfAQuery) {
  CreateTable();
  ASSERT_EQ(ExecImm("INSERT INTO t VALUES (1, 'one', 1), (2, 'two', 2), (3, 'three', 3)"),
            CMDSEQ_OK);
  const std::string sql = "SELECT id, name, amount FROM t WHERE id >= ? ORDER BY id";
  Values param({kInt});
  Values bound({kInt, kText, kDouble});
  std::uint32_t server_stmt = 0;
  // Run 1 prepares; its release drops the statement (used once). Run 2 prepares again and
  // its release keeps it (cached drop). Run 3 validates it and, the statement having
  // opened a cursor before, sends no execute part.
  for (int run = 1; run <= 3; ++run) {
    SCOPED_TRACE(run);
    Statement s(conn_, sql);
    param.SetInt(0, run);
    a_cmdseq_describe_param d;
    d.option = 135;
    d.want_output = 1;
    a_cmdseq_execute_param exec;
    exec.params = param.desc();
    exec.rows = 1;
    s.open.params = param.desc();
    std::uint32_t executed = 9, opened = 9;
    const std::size_t mark = RequestMark();
    ASSERT_EQ(CmdSeqPrepareDescribeExecuteOpen(conn_, err(), &s.handle, &s.prep, &d, &exec,
                                               &s.open, &executed, &opened),
              CMDSEQ_OK)
        << err_.sqlcode;
    EXPECT_EQ(executed, 0u);
    EXPECT_EQ(opened, 1u);
    const std::vector<std::string> sent = Requests(mark);
    EXPECT_EQ(CountOf(sent, "prepare "), run < 3 ? 1u : 0u);
    EXPECT_EQ(CountOf(sent, "validate "), run < 3 ? 0u : 1u);
    EXPECT_EQ(CountOf(sent, "execute "), run < 3 ? 1u : 0u);
    EXPECT_EQ(CountOf(sent, "open "), 1u);
    if (run == 3) {
      EXPECT_EQ(s.handle.info->server_stmt, server_stmt);
    }
    server_stmt = s.handle.info->server_stmt;

    for (std::int32_t id = run; id <= 3; ++id) {
      ASSERT_EQ(Fetch(s, bound, 1), CMDSEQ_OK) << err_.sqlcode;
      EXPECT_EQ(bound.Int(0), id);
    }
    EXPECT_EQ(Fetch(s, bound, 1), CMDSEQ_WARNING);
    ASSERT_EQ(Close(s), CMDSEQ_OK);
    const std::size_t before_release = RequestMark();
    ASSERT_EQ(CmdSeqDropStmt(conn_, err(), &s.handle), CMDSEQ_OK);
    // The release travels with the next request.
    ASSERT_EQ(ExecImm("SELECT 1"), CMDSEQ_OK);
    const std::vector<std::string> released = Requests(before_release);
    ASSERT_FALSE(released.empty());
    EXPECT_EQ(released.front(), (run == 1 ? "drop " : "cached-drop ") + std::to_string(server_stmt));
  }
}

INSTANTIATE_TEST_SUITE_P(Links, CachedStatements,
                         testing::Values(vq_e2e::Link::kSharedMemory, vq_e2e::Link::kTcpIp),
                         vq_e2e::LinkParamName);

TEST_P(Statements, AReleasedStatementIsDroppedWithTheNextRequest) {
  Statement s(conn_, "SELECT 1");
  ASSERT_EQ(Prepare(s), CMDSEQ_OK);
  const std::uint32_t server_stmt = s.handle.info->server_stmt;
  const std::size_t mark = RequestMark();
  ASSERT_EQ(CmdSeqDropStmt(conn_, err(), &s.handle), CMDSEQ_OK);
  EXPECT_EQ(s.handle.info, nullptr);
  EXPECT_EQ(RequestMark(), mark);  // no exchange of its own
  ASSERT_EQ(ExecImm("CREATE TABLE u (x INTEGER)"), CMDSEQ_OK);
  EXPECT_EQ(Requests(mark), (std::vector<std::string>{"drop " + std::to_string(server_stmt),
                                                      "exec-immediate CREATE TABLE u (x INTEGER)"}));
}

// --- Options and server information ---------------------------------------------------------

TEST_P(Statements, OptionsAreSetReadBackAndReturnedToTheirDefault) {
  char value[32];
  std::uint32_t length = 0;
  std::int32_t indicator = 0;
  a_cmdseq_desc desc;
  CmdSeqInitDesc(&desc);
  ASSERT_EQ(CmdSeqAllocDescItems(&desc, 1, 1), CMDSEQ_OK);
  desc.items->type = kText;
  desc.items->length = sizeof value;
  desc.items->values()[0] = {value, &indicator, &length};
  auto read = [&](const char* name) {
    std::fill(std::begin(value), std::end(value), '\x5A');
    a_cmdseq_option_param get;
    get.name = name;
    get.value = desc.items;
    const a_cmdseq_return r = CmdSeqGetOption(conn_, err(), &get);
    return r == CMDSEQ_OK ? std::string(value) : "<" + std::to_string(err_.sqlcode) + ">";
  };
  auto set = [&](const char* name, const char* v) {
    a_cmdseq_set_option_param p;
    p.name = name;
    p.value = v;
    p.temporary = 1;
    return CmdSeqSetOption(conn_, err(), &p);
  };

  EXPECT_EQ(read("date_format"), "YYYY-MM-DD");
  ASSERT_EQ(set("date_format", "DD.MM.YYYY"), CMDSEQ_OK);
  EXPECT_EQ(read("Date_Format"), "DD.MM.YYYY");
  ASSERT_EQ(set("date_format", nullptr), CMDSEQ_OK);  // NULL: the default again
  EXPECT_EQ(read("date_format"), "YYYY-MM-DD");
  EXPECT_EQ(read("no_such_option"), "<-200>");
  // A value longer than the buffer is cut and reported.
  desc.items->length = 5;
  a_cmdseq_option_param get;
  get.name = "timestamp_format";
  get.value = desc.items;
  EXPECT_EQ(CmdSeqGetOption(conn_, err(), &get), CMDSEQ_WARNING);
  EXPECT_EQ(err_.sqlcode, 101);
  EXPECT_STREQ(value, "YYYY");
  CmdSeqFreeDescItems(&desc);
}

TEST_P(Statements, ServerInformationNamesTheServerAndItsVersion) {
  char buffer[64];
  ASSERT_EQ(i_cs_GetStrServerInfo(conn_, err(), 1, buffer, sizeof buffer), CMDSEQ_OK);
  EXPECT_STREQ(buffer, "stmteng");
  ASSERT_EQ(i_cs_GetStrServerInfo(conn_, err(), 2, buffer, sizeof buffer), CMDSEQ_OK);
  EXPECT_STREQ(buffer, "12.0.1.2566");
  // A kind the server does not know comes back as the server's error.
  EXPECT_EQ(i_cs_GetStrServerInfo(conn_, err(), 77, buffer, sizeof buffer), CMDSEQ_ERROR);
  EXPECT_LT(err_.sqlcode, 0);

  EXPECT_EQ(CmdSeqGetServerStrmVer(conn_), 15);
  char address[128];
  ASSERT_EQ(CmdSeqGetServerAddress(conn_, address, sizeof address), CMDSEQ_OK);
  if (GetParam() == vq_e2e::Link::kTcpIp) {
    EXPECT_NE(std::string(address).find("127.0.0.1"), std::string::npos) << address;
  }
}

// --- Transactions -----------------------------------------------------------------------------

TEST_P(Statements, CommitAndRollbackKeepOrUndoTheWorkAndSkipTheExchangeWithoutWork) {
  CreateTable();
  std::uint32_t value = 99;
  std::size_t mark = RequestMark();
  ASSERT_EQ(CmdSeqCommit(conn_, err(), &value), CMDSEQ_OK);
  EXPECT_EQ(Requests(mark), std::vector<std::string>{"commit"});

  // Nothing done since: neither a commit nor a rollback goes to the server.
  mark = RequestMark();
  ASSERT_EQ(CmdSeqCommit(conn_, err(), &value), CMDSEQ_OK);
  ASSERT_EQ(CmdSeqRollback(conn_, err(), &value), CMDSEQ_OK);
  EXPECT_EQ(value, 0u);
  EXPECT_TRUE(Requests(mark).empty());

  // Work undone by a rollback is gone; committed work stays.
  ASSERT_EQ(ExecImm("INSERT INTO t VALUES (1, 'kept', 1)"), CMDSEQ_OK);
  mark = RequestMark();
  ASSERT_EQ(CmdSeqCommit(conn_, err(), &value), CMDSEQ_OK);
  EXPECT_EQ(Requests(mark), std::vector<std::string>{"commit"});
  ASSERT_EQ(ExecImm("INSERT INTO t VALUES (2, 'undone', 2)"), CMDSEQ_OK);
  ASSERT_EQ(ExecImm("UPDATE t SET name = 'changed' WHERE id = 1"), CMDSEQ_OK);
  mark = RequestMark();
  ASSERT_EQ(CmdSeqRollback(conn_, err(), &value), CMDSEQ_OK);
  EXPECT_EQ(Requests(mark), std::vector<std::string>{"rollback"});
  mark = RequestMark();
  ASSERT_EQ(CmdSeqRollback(conn_, err(), &value), CMDSEQ_OK);
  EXPECT_TRUE(Requests(mark).empty());
  ExpectRows("SELECT id, name, amount FROM t ORDER BY id", {{1, "kept", 1}});

  // A query is work too: the next commit goes to the server.
  mark = RequestMark();
  ASSERT_EQ(CmdSeqCommit(conn_, err(), &value), CMDSEQ_OK);
  EXPECT_TRUE(Contains(Requests(mark), "commit"));

  // An execute that commits in the same exchange.
  Statement insert(conn_, "INSERT INTO t VALUES (3, 'with commit', 3)");
  ASSERT_EQ(Prepare(insert), CMDSEQ_OK);
  a_cmdseq_execute_param exec;
  exec.commit_mode = 1;
  std::uint32_t commit_value = 99;
  mark = RequestMark();
  ASSERT_EQ(CmdSeqExecuteCommit(conn_, err(), &insert.handle, &exec, &commit_value), CMDSEQ_OK)
      << err_.sqlcode;
  EXPECT_EQ(CountOf(Requests(mark), "commit"), 1u);
  // The commit in that exchange leaves no work behind: a rollback now goes nowhere.
  mark = RequestMark();
  ASSERT_EQ(CmdSeqRollback(conn_, err(), &value), CMDSEQ_OK);
  EXPECT_TRUE(Requests(mark).empty());
  ExpectRows("SELECT id, name, amount FROM t ORDER BY id", {{1, "kept", 1}, {3, "with commit", 3}});
}

INSTANTIATE_TEST_SUITE_P(Links, Statements,
                         testing::Values(vq_e2e::Link::kSharedMemory, vq_e2e::Link::kTcpIp),
                         vq_e2e::LinkParamName);

}  // namespace
