// The engine interface's statement requests against vqeng12 over both links: prepare and
// describe into the implementation descriptors, the combined prepare-execute-open,
// parameter arrays split into requests of fewer than 32768 values, long values assembled
// in server variables, and the not-connected answer. What reached the server is read
// from its request log; values are read back with the one-statement executor.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "cmdseq/desc.h"
#include "engine_session.h"
#include "odbc/descriptors.h"
#include "odbc/engine.h"
#include "odbc/handles.h"
#include "odbc/parameters.h"
#include "utils/base/memory.h"

namespace vq_odbc_e2e {
namespace {

constexpr std::int16_t kWireVariableRef = -26;

// A parameter list of `sets` sets of `per_set` values, built the way the parameter
// set-up builds one: one contiguous block of items with one value each.
class ParamList {
 public:
  ParamList(std::uint32_t per_set, std::uint32_t sets) {
    list_.columns = per_set;
    list_.rows = sets;
    CmdSeqInitDesc(&list_.desc);
    const std::uint32_t n = per_set * sets;
    ok_ = CmdSeqAllocDescItems(&list_.desc, n, 1) == CMDSEQ_OK;
    numbers_.resize(n);
    indicators_.assign(n, 0);
    lengths_.assign(n, 4);
    if (!ok_) return;
    for (std::uint32_t k = 0; k < n; ++k) {
      a_cmdseq_desc_item* item = CmdSeqGetDescItem(&list_.desc, k + 1);
      item->type = kWireInt;
      item->length = 4;
      numbers_[k] = static_cast<std::int32_t>(k);
      item->values()[0] = {&numbers_[k], &indicators_[k], &lengths_[k]};
    }
  }
  ~ParamList() { CmdSeqFreeDescItems(&list_.desc); }
  bool ok() const { return ok_; }
  a_odbc_item_list* list() { return &list_; }
  a_cmdseq_desc_item* item(std::uint32_t k) { return CmdSeqGetDescItem(&list_.desc, k + 1); }
  void Text(std::uint32_t k, const char* text) {
    a_cmdseq_desc_item* it = item(k);
    it->type = kWireVariableRef;
    it->length = static_cast<std::uint32_t>(std::strlen(text));
    it->values()[0].data = const_cast<char*>(text);
    lengths_[k] = it->length;
  }

 private:
  a_odbc_item_list list_{};
  bool ok_ = false;
  std::vector<std::int32_t> numbers_;
  std::vector<std::int32_t> indicators_;
  std::vector<std::uint32_t> lengths_;
};

class EngineStatements : public EngineSession {
 protected:
  EngineStatements() : EngineSession("odbc_engine_stmts") {}

  void SetUp() override {
    EngineSession::SetUp();
    if (HasFatalFailure()) return;
    Connect();
    if (HasFatalFailure()) return;
    stmt_ = static_cast<tagSTMT*>(Allocate_object(dbc_.get(), OBJ_STMT));
    ASSERT_NE(stmt_, nullptr);
    ASSERT_EQ(AllocStmtDescriptors(stmt_), 0);
    stmt_->concurrency = SQL_CONCUR_READ_ONLY;
    stmt_->cursor_kind = 0;
    stmt_->max_length = 262144;
    DBInitStmt(stmt_);
  }
  void TearDown() override {
    if (stmt_ != nullptr) {
      stmt_->param_list = nullptr;
      DBFreeStmt(stmt_);
      FreeStmtDescriptors(stmt_);
      Free_object(stmt_);
    }
    EngineSession::TearDown();
  }

  // Runs a statement; 100 (a change that found no row) counts as done.
  void Exec(const std::string& sql) {
    const std::int32_t rc = DBExecStmt(dbc_.get(), nullptr, sql.c_str(), SQL_NTS);
    ASSERT_TRUE(rc == 0 || rc == 100) << sql << ": " << rc;
  }
  std::int32_t Number(const std::string& sql) {
    OneValue value(kWireInt);
    EXPECT_TRUE(value.ok());
    EXPECT_EQ(DBExecStmt(dbc_.get(), value.desc(), sql.c_str(), SQL_NTS), 0) << sql;
    return value.number();
  }
  std::int32_t Prepare(const std::string& sql, int execute, unsigned* executed = nullptr,
                       unsigned* opened = nullptr, SQLLEN* rows = nullptr) {
    unsigned e = 0, o = 0;
    SQLLEN r = 0;
    std::uint32_t granted = 0;
    const std::int32_t rc = DBPrepDescExecOpen(stmt_, sql.c_str(),
                                               static_cast<unsigned>(sql.size()), execute, &e,
                                               &o, &r, &granted);
    if (executed != nullptr) *executed = e;
    if (opened != nullptr) *opened = o;
    if (rows != nullptr) *rows = r;
    return rc;
  }
  // The "execute" lines of the request log for the statement's server statement.
  std::vector<std::string> Executes() {
    std::vector<std::string> out;
    for (const std::string& line : Requests()) {
      if (line.compare(0, 8, "execute ") == 0) out.push_back(line);
    }
    return out;
  }

  tagSTMT* stmt_ = nullptr;
};

TEST_P(EngineStatements, PrepareDescribesColumnsAndParametersIntoTheImplementationDescriptors) {
  Exec("create table t (a integer not null, b varchar(20), c double, d date)");
  ASSERT_EQ(Prepare("select a, b, c, d from t", 0), 0);
  ASSERT_NE(stmt_->describe_info, nullptr);
  DBDescribeData(stmt_);
  ASSERT_EQ(stmt_->ird->count, 4);
  EXPECT_EQ(FindDescItem(stmt_->ird, 1)->concise_type, SQL_INTEGER);
  EXPECT_EQ(FindDescItem(stmt_->ird, 1)->nullable, SQL_NO_NULLS);
  EXPECT_EQ(FindDescItem(stmt_->ird, 2)->concise_type, SQL_VARCHAR);
  EXPECT_EQ(FindDescItem(stmt_->ird, 2)->length, 20u);
  EXPECT_EQ(FindDescItem(stmt_->ird, 2)->nullable, SQL_NULLABLE);
  EXPECT_EQ(FindDescItem(stmt_->ird, 3)->concise_type, SQL_DOUBLE);
  EXPECT_EQ(FindDescItem(stmt_->ird, 4)->concise_type, SQL_TYPE_DATE);
  EXPECT_STREQ(FindDescItem(stmt_->ird, 2)->name, "b");
  EXPECT_EQ(stmt_->ipd->count, 0);
  DBFiniDescribe(stmt_);

  FreeDescriptor(stmt_->ird);
  ASSERT_EQ(Prepare("insert into t values (?, ?, ?, ?)", 0), 0);
  DBDescribeData(stmt_);
  EXPECT_EQ(stmt_->ird->count, 0);
  ASSERT_EQ(stmt_->ipd->count, 4);
  for (SQLSMALLINT k = 1; k <= 4; ++k) {
    EXPECT_EQ(FindDescItem(stmt_->ipd, k)->parameter_type, SQL_PARAM_INPUT) << k;
  }
  EXPECT_EQ(DBUnPrepare(stmt_), 0);
  ExpectNothingLeftOnTheClient();
}

TEST_P(EngineStatements, OneRoundTripPreparesAndExecutesOrOpens) {
  Exec("create table t (a integer)");
  unsigned executed = 0, opened = 0;
  SQLLEN rows = -1;
  const std::size_t before = Requests().size();
  ASSERT_EQ(Prepare("insert into t values (7)", 1, &executed, &opened, &rows), 0);
  EXPECT_EQ(executed, 1u);
  EXPECT_EQ(opened, 0u);
  EXPECT_EQ(rows, 1);
  const std::vector<std::string> lines = Requests();
  ASSERT_GE(lines.size(), before + 2);
  EXPECT_TRUE(HasLine(lines, "prepare insert into t values (7)"));
  EXPECT_EQ(Number("select count(*) from t"), 1);
  ASSERT_EQ(DBUnPrepare(stmt_), 0);

  // A searched change that finds no row answers 100, in one round trip or executed.
  EXPECT_EQ(Prepare("update t set a = 8 where a = 99", 1, &executed, &opened, &rows), 100);
  EXPECT_EQ(executed, 1u);
  EXPECT_EQ(rows, 0);
  EXPECT_EQ(DBExecute(stmt_, 1, &rows, 0), 100);
  ASSERT_EQ(DBUnPrepare(stmt_), 0);
  ASSERT_EQ(Prepare("delete from t where a = 7", 0), 0);
  EXPECT_EQ(DBExecute(stmt_, 1, &rows, 0), 0);
  EXPECT_EQ(rows, 1);
  EXPECT_EQ(DBExecute(stmt_, 1, &rows, 0), 100);
  ASSERT_EQ(DBUnPrepare(stmt_), 0);
  Exec("insert into t values (7)");

  ASSERT_EQ(Prepare("select a from t", 1, &executed, &opened, &rows), 0);
  EXPECT_EQ(executed, 0u);
  EXPECT_EQ(opened, 1u);
  EXPECT_NE(stmt_->cursor.flags_b & CS_CURSOR_B_OPEN, 0);
  EXPECT_EQ(DBCloseCursor(stmt_, 0), 0);
  EXPECT_EQ(DBUnPrepare(stmt_), 0);
  ExpectNothingLeftOnTheClient();
}

TEST_P(EngineStatements, ACursorIsOpenedDescribedAfreshAtEachResultAndClosed) {
  Exec("create table t (a integer, b varchar(10))");
  Exec("insert into t values (1, 'x')");
  ASSERT_EQ(Prepare("select a from t; select a, b, a from t", 0), 0);
  SQLLEN rows = -1;
  std::uint32_t granted = 0;
  ASSERT_EQ(DBOpenCursor(stmt_, &rows, &granted, 0), 0) << dbc_->err.sqlcode;
  EXPECT_NE(stmt_->cursor.flags_b & CS_CURSOR_B_OPEN, 0);
  EXPECT_TRUE(HasLine(Requests(), "open "));

  ASSERT_EQ(DBDescribeCursor(stmt_), 0);
  ASSERT_NE(stmt_->describe_info, nullptr);
  DBDescribeData(stmt_);
  DBFiniDescribe(stmt_);
  EXPECT_EQ(stmt_->ird->count, 1);

  SQLLEN answer = -1;
  ASSERT_EQ(DBResume(stmt_, &answer), 0);
  FreeDescriptor(stmt_->ird);
  ASSERT_EQ(DBDescribeCursor(stmt_), 0);
  DBDescribeData(stmt_);
  DBFiniDescribe(stmt_);
  ASSERT_EQ(stmt_->ird->count, 3);
  EXPECT_EQ(FindDescItem(stmt_->ird, 2)->concise_type, SQL_VARCHAR);
  // Past the last result set the server says the procedure has completed.
  EXPECT_EQ(DBResume(stmt_, &answer), 105);

  EXPECT_EQ(DBCloseCursor(stmt_, 0), 0);
  EXPECT_EQ(stmt_->cursor.flags_b & CS_CURSOR_B_OPEN, 0);
  EXPECT_TRUE(HasLine(Requests(), "close "));
  EXPECT_EQ(DBUnPrepare(stmt_), 0);
  ExpectNothingLeftOnTheClient();
}

TEST_P(EngineStatements, ParameterArraysGoInRequestsOfFewerThan32768Values) {
  Exec("create table p (a integer, b integer, c integer, d integer)");
  struct Case {
    std::uint32_t sets;
    std::vector<std::string> rows_per_request;
  };
  const Case cases[] = {
      {1, {"rows=1"}},
      {8191, {"rows=8191"}},                             // 32764 values in one request
      {8192, {"rows=8191", "rows=1"}},                   // the last carries only the rest
      {10000, {"rows=8191", "rows=1809"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sets);
    Exec("delete from p");
    ASSERT_EQ(Prepare("insert into p values (?, ?, ?, ?)", 0), 0);
    ParamList params(4, c.sets);
    ASSERT_TRUE(params.ok());
    stmt_->param_list = params.list();
    const std::size_t before = Executes().size();
    SQLLEN rows = 0;
    EXPECT_EQ(DBExecute(stmt_, static_cast<int>(c.sets), &rows, 0), 0) << dbc_->err.sqlcode;
    EXPECT_EQ(rows, static_cast<SQLLEN>(c.sets));
    stmt_->param_list = nullptr;
    const std::vector<std::string> executes = Executes();
    ASSERT_EQ(executes.size() - before, c.rows_per_request.size());
    for (std::size_t k = 0; k < c.rows_per_request.size(); ++k) {
      const std::string& line = executes[before + k];
      EXPECT_EQ(line.substr(line.size() - c.rows_per_request[k].size()), c.rows_per_request[k])
          << line;
    }
    EXPECT_EQ(Number("select count(*) from p"), static_cast<std::int32_t>(c.sets));
    // The values arrived in order across the requests: the last set's first value.
    EXPECT_EQ(Number("select max(a) from p"), static_cast<std::int32_t>(4 * (c.sets - 1)));
    ASSERT_EQ(DBUnPrepare(stmt_), 0);
  }
}

TEST_P(EngineStatements, AnErrorStopsTheBatchesAndRestoresTheList) {
  Exec("create table u (a integer primary key, b integer, c integer, d integer)");
  ASSERT_EQ(Prepare("insert into u values (?, ?, ?, ?)", 0), 0);
  ParamList params(4, 10000);
  ASSERT_TRUE(params.ok());
  // Set 10 repeats set 0's key: the first request fails, the second is never sent.
  *static_cast<std::int32_t*>(params.item(40)->values()[0].data) = 0;
  a_cmdseq_desc_item* first = params.list()->desc.items;
  stmt_->param_list = params.list();
  const std::size_t before = Executes().size();
  SQLLEN rows = 0;
  EXPECT_LT(DBExecute(stmt_, 10000, &rows, 0), 0);
  EXPECT_EQ(Executes().size() - before, 1u);
  EXPECT_EQ(params.list()->desc.items, first);
  EXPECT_EQ(params.list()->desc.count, 40000u);
  stmt_->param_list = nullptr;
}

TEST_P(EngineStatements, LongValuesAreAssembledInAServerVariableInChunks) {
  Exec("create table blobs (n integer, b long binary)");
  tagITEM* record = AccessDescItem(stmt_->apd, 3);
  ASSERT_NE(record, nullptr);
  std::snprintf(stmt_->name, sizeof stmt_->name, "SQL_CUR_5");
  stmt_->max_length = 32768;
  std::vector<char> value(100000);
  for (std::size_t i = 0; i < value.size(); ++i) value[i] = static_cast<char>(i * 7);

  const std::size_t before = Requests().size();
  ASSERT_EQ(PutBlobChunks(stmt_, record, 2, SQL_LONGVARBINARY, value.data(),
                          static_cast<SQLLEN>(value.size()), false),
            0)
      << dbc_->err.sqlcode;
  EXPECT_NE(record->flags & kItemInVariable, 0u);
  EXPECT_STREQ(record->variable_name, "SQL_CUR_5_3");
  EXPECT_EQ(record->variable_sent, 100000);
  std::vector<std::string> lines = Requests();
  lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(before));
  EXPECT_TRUE(HasLine(lines, "prepare create variable SQL_CUR_5_3 long binary"));
  EXPECT_TRUE(HasLine(lines, "prepare set SQL_CUR_5_3 = SQL_CUR_5_3 || ?"));
  // Three full chunks and 1,696 bytes: four executions with one value each.
  const auto chunks = std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.compare(0, 8, "execute ") == 0 && l.find("rows=1") != std::string::npos;
  });
  EXPECT_EQ(chunks, 4);  // the create runs without a value row

  // The statement refers to the variable: the value arrives whole.
  ASSERT_EQ(Prepare("insert into blobs values (1, ?)", 0), 0);
  ParamList params(1, 1);
  ASSERT_TRUE(params.ok());
  params.Text(0, record->variable_name);
  stmt_->param_list = params.list();
  SQLLEN rows = 0;
  EXPECT_EQ(DBExecute(stmt_, 1, &rows, 0), 0) << dbc_->err.sqlcode;
  stmt_->param_list = nullptr;
  EXPECT_EQ(Number("select length(b) from blobs where n = 1"), 100000);

  DBDropBlobVariable(stmt_, record);
  EXPECT_EQ(record->variable_name, nullptr);
  EXPECT_EQ(record->flags & kItemInVariable, 0u);
  EXPECT_TRUE(HasLine(Requests(), "prepare drop variable SQL_CUR_5_3"));
  // Dropped on the server too: a second create of the same name succeeds.
  EXPECT_EQ(CreateBlobVariable(stmt_, record, 2, SQL_LONGVARBINARY), 0) << dbc_->err.sqlcode;
  DBDropBlobVariable(stmt_, record);
}

TEST_P(EngineStatements, HexadecimalTextIsSentAsBytesAndABadDigitFails) {
  Exec("create table blobs (n integer, b long binary)");
  tagITEM* record = AccessDescItem(stmt_->apd, 1);
  ASSERT_NE(record, nullptr);
  stmt_->max_length = 64;  // 32 bytes per chunk
  std::string hex;
  for (int i = 0; i < 100; ++i) hex += "a5";
  ASSERT_EQ(PutBlobChunks(stmt_, record, 0, SQL_LONGVARBINARY, hex.data(), 100, true), 0);
  EXPECT_EQ(record->variable_sent, 100);

  hex[150] = 'x';  // inside the third chunk
  EXPECT_EQ(PutBlobChunks(stmt_, record, 0, SQL_LONGVARBINARY, hex.data(), 100, true), -157);
  EXPECT_STREQ(dbc_->err.odbc3_state, "22018");
  EXPECT_EQ(record->variable_sent, 64);  // the chunks before it, nothing after
  DBDropBlobVariable(stmt_, record);
}

TEST_P(EngineStatements, AStatementNameWithQuotesAndBlanksCannotBreakTheVariableStatements) {
  tagITEM* record = AccessDescItem(stmt_->apd, 1);
  ASSERT_NE(record, nullptr);
  std::snprintf(stmt_->name, sizeof stmt_->name, "my \"cur\"; drop");
  const char value[] = "some text";
  ASSERT_EQ(PutBlobChunks(stmt_, record, 0, SQL_LONGVARCHAR, value, 9, false), 0)
      << dbc_->err.sqlcode;
  EXPECT_STREQ(record->variable_name, "\"my \"\"cur\"\"; drop_1\"");
  EXPECT_TRUE(HasLine(Requests(), "prepare create variable \"my \"\"cur\"\"; drop_1\" long varchar"));
  DBDropBlobVariable(stmt_, record);
  EXPECT_TRUE(HasLine(Requests(), "prepare drop variable \"my \"\"cur\"\"; drop_1\""));
}

TEST_P(EngineStatements, WithoutAClientConnectionNothingIsSent) {
  ASSERT_EQ(DBDisconnect(dbc_.get()), 0);
  unsigned executed = 1, opened = 1;
  SQLLEN rows = 5;
  EXPECT_EQ(Prepare("select 1", 1, &executed, &opened, &rows), kSqlNotConnected);
  EXPECT_STREQ(dbc_->err.odbc3_state, "08S01");
  EXPECT_EQ(executed, 0u);
  EXPECT_EQ(rows, 0);
  EXPECT_EQ(DBExecute(stmt_, 1, &rows, 0), kSqlNotConnected);
  EXPECT_EQ(DBCloseCursor(stmt_, 0), kSqlNotConnected);
  EXPECT_EQ(DBPrepareVar(stmt_, "create variable v long varchar"), kSqlNotConnected);
}

TEST_P(EngineStatements, CursorKindsAndConcurrenciesOutsideTheTablesAreRefusedBeforeSending) {
  const std::size_t before = Requests().size();
  stmt_->concurrency = 9;
  EXPECT_EQ(Prepare("select 1", 1), kSqlClientFailure);
  stmt_->concurrency = SQL_CONCUR_READ_ONLY;
  stmt_->cursor_kind = 7;
  EXPECT_EQ(Prepare("select 1", 1), kSqlClientFailure);
  EXPECT_EQ(Requests().size(), before);
}

INSTANTIATE_TEST_SUITE_P(Links, EngineStatements,
                         testing::Values(Link::kSharedMemory, Link::kTcpIp),
                         [](const testing::TestParamInfo<Link>& info) {
                           return std::string(vq_e2e::LinkName(info.param));
                         });

}  // namespace
}  // namespace vq_odbc_e2e
