// Posting diagnostic records: return codes, the order records are kept in, the collapse
// when memory runs out, and texts from the driver and from the server's error block.
#include <cstring>
#include <string>
#include <vector>

#include "diag_fixture.h"

namespace {

using DiagRecords = DiagFixture;

TEST_F(DiagRecords, ReturnCodeIsRaisedByWarningsAndSetByErrors) {
  struct Case {
    SQLRETURN before;
    const char* state;
    SQLRETURN after;
  } const cases[] = {
      {SQL_SUCCESS, "01004", SQL_SUCCESS_WITH_INFO},
      {SQL_SUCCESS, "07001", SQL_SUCCESS_WITH_INFO},
      {SQL_SUCCESS, "02000", SQL_SUCCESS_WITH_INFO},
      {SQL_SUCCESS_WITH_INFO, "01000", 1},
      {SQL_ERROR, "01004", SQL_ERROR},
      {SQL_NO_DATA, "01004", SQL_NO_DATA},
      {SQL_NEED_DATA, "01000", SQL_NEED_DATA},
      {SQL_SUCCESS, "07002", SQL_ERROR},
      {SQL_SUCCESS_WITH_INFO, "HY000", SQL_ERROR},
      {SQL_NO_DATA, "IM001", SQL_ERROR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    FreeDiagRecords(stmt_);
    stmt_->retcode = c.before;
    EXPECT_EQ(AddSQLState(stmt_, PackSQLState(c.state), PackSQLState(c.state)), c.after);
    EXPECT_EQ(stmt_->retcode, c.after);
    EXPECT_EQ(stmt_->record_count, 1u);
  }
  // No state: nothing added, the return code as it was; a null handle with a state fails.
  stmt_->retcode = SQL_SUCCESS_WITH_INFO;
  EXPECT_EQ(AddSQLState(stmt_, kStateNone, kStateNone), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(stmt_->record_count, 1u);
  EXPECT_EQ(AddSQLState(nullptr, kStateNone, kStateNone), SQL_SUCCESS);
  EXPECT_EQ(AddSQLState(nullptr, kStateHY000, kStateS1000), SQL_ERROR);
  EXPECT_EQ(PostSQLState(env_, kStateHY010, kStateS1010), SQL_ERROR);
  EXPECT_EQ(Records(env_), std::vector<std::string>{"-2/HY010/-2"});
}

struct Added {
  const char* state;
  std::int32_t row;
  std::int32_t column;
};

struct OrderCase {
  const char* name;
  std::vector<Added> added;
  std::vector<std::string> expected;
};

TEST_F(DiagRecords, RecordsAreOrderedByRowThenClass) {
  const OrderCase cases[] = {
      {"a later warning of the same row comes first",
       {{"01004", 1, -2}, {"01S02", 1, -2}},
       {"1/01S02/-2", "1/01004/-2"}},
      {"an error after a warning of the same row comes after it",
       {{"01004", 1, -2}, {"HY000", 1, -2}},
       {"1/01004/-2", "1/HY000/-2"}},
      {"a record without a row comes before every record with one",
       {{"HY000", 1, -2}, {"01004", 3, -2}, {"42000", -2, -2}},
       {"-2/42000/-2", "1/HY000/-2", "3/01004/-2"}},
      {"rows ascend",
       {{"HY000", 3, -2}, {"HY000", 1, -2}, {"HY000", 2, -2}},
       {"1/HY000/-2", "2/HY000/-2", "3/HY000/-2"}},
      {"class 02 goes before the first record that is not a warning",
       {{"01004", 1, -2}, {"HY000", 1, -2}, {"02000", 1, -2}},
       {"1/01004/-2", "1/02000/-2", "1/HY000/-2"}},
      {"a standard class passes warnings and other classes, stops at the next standard one",
       {{"01004", 1, -2}, {"IM001", 1, -2}, {"42000", 1, -2}, {"22003", 1, -2}},
       {"1/01004/-2", "1/IM001/-2", "1/22003/-2", "1/42000/-2"}},
      {"another class passes warnings only",
       {{"01004", 1, -2}, {"42000", 1, -2}, {"S1000", 1, -2}},
       {"1/01004/-2", "1/S1000/-2", "1/42000/-2"}},
      {"within one state lower columns stay first",
       {{"01004", 1, 3}, {"01004", 1, 1}, {"01004", 1, 2}},
       {"1/01004/1", "1/01004/2", "1/01004/3"}},
  };
  for (const OrderCase& c : cases) {
    SCOPED_TRACE(c.name);
    FreeDiagRecords(stmt_);
    stmt_->retcode = SQL_SUCCESS;
    for (const Added& a : c.added) {
      AddDiagRecord(stmt_, PackSQLState(a.state), PackSQLState(a.state), nullptr, nullptr, 0,
                    a.row, a.column);
    }
    EXPECT_EQ(Records(stmt_), c.expected);
  }
}

TEST_F(DiagRecords, OutOfMemoryCollapsesTheListToTheNewRecord) {
  AddSQLCustomState(stmt_, kState01004, kState01004, "one", SQL_NTS);
  AddSQLCustomState(stmt_, PackSQLState("22003"), PackSQLState("22003"), "two", SQL_NTS);
  AddSQLCustomState(stmt_, kStateHY000, kStateS1000, "three", SQL_NTS);
  ASSERT_EQ(stmt_->record_count, 3u);
  EXPECT_EQ(AddSQLState(stmt_, kStateHY001, kStateS1001), SQL_ERROR);
  EXPECT_EQ(Records(stmt_), std::vector<std::string>{"-2/HY001/-2"});
  EXPECT_EQ(stmt_->first_rec.text, nullptr);
  EXPECT_EQ(stmt_->first_rec.odbc2, kStateS1001);
  // The list goes on normally afterwards.
  AddSQLState(stmt_, kState01004, kState01004);
  EXPECT_EQ(Records(stmt_), (std::vector<std::string>{"-2/01004/-2", "-2/HY001/-2"}));
}

TEST_F(DiagRecords, RowsOfStatementsOnFetchedRows) {
  stmt_->state = kStmtOnRows;
  stmt_->rowset_row = 4;
  AddSQLState(stmt_, kStateHY000, kStateS1000);
  AddTruncationState(stmt_, kState01004, kState01004, 2, 0);
  EXPECT_EQ(Records(stmt_), (std::vector<std::string>{"1/01004/2", "5/HY000/-2"}));
  // A statement not on rows keeps "no row".
  FreeDiagRecords(stmt_);
  stmt_->state = kStmtAllocated;
  AddSQLState(stmt_, kStateHY000, kStateS1000);
  EXPECT_EQ(Records(stmt_), std::vector<std::string>{"-2/HY000/-2"});
}

// The driver's own text is copied for exactly the length given, never past it.
TEST_F(DiagRecords, CustomTextIsCopiedWithinItsLength) {
  struct Case {
    std::vector<char> text;  // no terminator unless listed
    SQLINTEGER length;
    const char* stored;  // null: no text
  } const cases[] = {
      {{'a', 'b', 'c'}, 3, "abc"},
      {{'a', 'b', 'c'}, 2, "ab"},
      {{'a', 'b', '\0', 'c', 'd'}, 5, "ab"},
      {{'x', 'y', '\0'}, SQL_NTS, "xy"},
      {{'a'}, 0, nullptr},
      {{'a'}, -7, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    FreeDiagRecords(dbc_);
    // A heap block of exactly the text's size, so that a read past it is caught.
    std::vector<char> exact(c.text);
    AddSQLCustomState(dbc_, kStateHY000, kStateS1000, exact.data(), c.length);
    ASSERT_EQ(dbc_->record_count, 1u);
    if (c.stored == nullptr) {
      EXPECT_EQ(dbc_->first_rec.text, nullptr);
    } else {
      ASSERT_NE(dbc_->first_rec.text, nullptr);
      EXPECT_STREQ(dbc_->first_rec.text, c.stored);
    }
    EXPECT_EQ(dbc_->first_rec.native, 0);
  }
  FreeDiagRecords(dbc_);
  AddSQLCustomState(dbc_, kStateHY000, kStateS1000, nullptr, 5);
  EXPECT_EQ(dbc_->first_rec.text, nullptr);
}

TEST_F(DiagRecords, ServerErrorComesFromTheConnectionsErrorBlock) {
  ServerError(-131, "42000", "37000", "Syntax error near 'x'");
  EXPECT_EQ(AddSQLError(stmt_), SQL_ERROR);
  ASSERT_EQ(stmt_->record_count, 1u);
  EXPECT_EQ(stmt_->first_rec.native, -131);
  EXPECT_EQ(stmt_->first_rec.odbc3, PackSQLState("42000"));
  EXPECT_EQ(stmt_->first_rec.odbc2, PackSQLState("37000"));
  EXPECT_EQ(Message(stmt_, 1), "[Tovrak][ODBC Driver][Vellumcrest]Syntax error near 'x'");

  dbc_->cap_a |= kCapBrackwater;
  EXPECT_EQ(PostSQLError(dbc_), SQL_ERROR);
  EXPECT_EQ(Message(dbc_, 1), "[Tovrak][ODBC Driver][Brackwater Server]Syntax error near 'x'");

  // Under the JDBC bridge the driver is named so.
  dbc_->cap_a = 0;
  IS_JDBC = 1;
  EXPECT_EQ(Message(stmt_, 1), "[Tovrak][JDBC Driver][Vellumcrest]Syntax error near 'x'");

  // An environment has no error block.
  EXPECT_EQ(AddSQLError(env_), SQL_ERROR);
  EXPECT_EQ(env_->record_count, 0u);
}

TEST_F(DiagRecords, ServerErrorTextFromTheTableWithItsParameters) {
  // No message of the server's own: the table's message for the code, formatted.
  i_cs_ForceErrorInfo(&dbc_->err, -100, "28000", "28000", "28000");
  CmdSeqSetErrorParamStr(&dbc_->err, "scott");
  AddSQLError(dbc_);
  EXPECT_EQ(Message(dbc_, 1), "[Tovrak][ODBC Driver][Vellumcrest]Login failed for user scott");

  // A row whose message the resource files lack: the fallback names the code.
  FreeDiagRecords(dbc_);
  i_cs_ForceErrorInfo(&dbc_->err, -141, "42000", "HY000", "S1000");
  AddSQLError(dbc_);
  char text[256];
  CmdSeqEnv.lang->GetString(2099, text, sizeof text);
  ASSERT_EQ(text[0], '\0') << "message 2099 exists now: pick a row without a message";
  EXPECT_EQ(Message(dbc_, 1),
            "[Tovrak][ODBC Driver][Vellumcrest]Server error -141: its "
            "message text is not available");

  // Code 0: the row is found by the server's SQLSTATE.
  FreeDiagRecords(dbc_);
  i_cs_ForceErrorInfo(&dbc_->err, 0, "42WQO", "HY000", "S1000");
  CmdSeqSetErrorParamStr(&dbc_->err, "amy");
  AddSQLError(dbc_);
  EXPECT_EQ(Message(dbc_, 1), "[Tovrak][ODBC Driver]Login failed for user amy");
}

TEST_F(DiagRecords, DriverMadeServerErrorsNeverOverwriteAnEarlierError) {
  // A warning in the block gives way, message and parameters included.
  ServerError(100, "00000", "00000", "old warning text");
  CmdSeqSetErrorParamStr(&dbc_->err, "stale");
  EXPECT_EQ(AddNativeErrorWithParam(stmt_, -100, "dba"), SQL_ERROR);
  EXPECT_EQ(dbc_->err.sqlcode, -100);
  EXPECT_STREQ(dbc_->err.odbc3_state, "HY000");
  EXPECT_EQ(Records(stmt_), std::vector<std::string>{"-2/HY000/-2"});
  EXPECT_EQ(stmt_->first_rec.native, -100);
  EXPECT_EQ(Message(stmt_, 1), "[Tovrak][ODBC Driver][Vellumcrest]Login failed for user dba");

  // Now an error is there: nothing is added and the result is 0.
  EXPECT_EQ(AddNativeErrorWithParam(stmt_, -308, nullptr), SQL_SUCCESS);
  EXPECT_EQ(dbc_->err.sqlcode, -100);
  EXPECT_EQ(stmt_->record_count, 1u);

  // Codes of -17000 and below take the states of row -631.
  const a_cmdseq_error_map* row631 = GetErrorMapForSQLCode(-631);
  ASSERT_NE(row631, nullptr);
  CmdSeqResetErrorParam(&dbc_->err, nullptr);
  FreeDiagRecords(stmt_);
  AddNativeErrorWithParam(stmt_, -17001, nullptr);
  ASSERT_EQ(stmt_->record_count, 1u);
  EXPECT_EQ(stmt_->first_rec.odbc3, row631->odbc3_state);
  EXPECT_EQ(stmt_->first_rec.native, -17001);

  // A code without a row: negative is HY000/S1000, positive records nothing.
  std::int32_t negative_unmapped = 0;
  for (std::int32_t code = -1; code > kErrorMapFirstCode; --code) {
    if (GetErrorMapForSQLCode(code) == nullptr) {
      negative_unmapped = code;
      break;
    }
  }
  ASSERT_NE(negative_unmapped, 0);
  CmdSeqResetErrorParam(&dbc_->err, nullptr);
  FreeDiagRecords(stmt_);
  AddNativeErrorWithParam(stmt_, negative_unmapped, nullptr);
  ASSERT_EQ(stmt_->record_count, 1u);
  EXPECT_EQ(stmt_->first_rec.odbc3, kStateHY000);
  EXPECT_EQ(stmt_->first_rec.odbc2, kStateS1000);

  CmdSeqResetErrorParam(&dbc_->err, nullptr);
  FreeDiagRecords(stmt_);
  stmt_->retcode = SQL_SUCCESS;
  std::int32_t positive_unmapped = 0;
  for (std::int32_t code = 1; code <= kErrorMapLastCode + 1; ++code) {
    if (GetErrorMapForSQLCode(code) == nullptr) {
      positive_unmapped = code;
      break;
    }
  }
  ASSERT_NE(positive_unmapped, 0);
  EXPECT_EQ(AddNativeErrorWithParam(stmt_, positive_unmapped, nullptr), SQL_SUCCESS);
  EXPECT_EQ(stmt_->record_count, 0u);

  EXPECT_EQ(AddNativeErrorWithParam(env_, -100, nullptr), SQL_ERROR);
}

TEST_F(DiagRecords, FreeingResetsRecordsPositionAndFunctionCode) {
  AddSQLCustomState(stmt_, kState01004, kState01004, "a", SQL_NTS);
  AddSQLCustomState(stmt_, kStateHY000, kStateS1000, "b", SQL_NTS);
  stmt_->error_pos = 2;
  stmt_->dyn_func_code = SQL_DIAG_INSERT;
  stmt_->retcode = SQL_ERROR;
  FreeDiagRecords(stmt_);
  EXPECT_EQ(stmt_->record_count, 0u);
  EXPECT_EQ(stmt_->error_pos, 0);
  EXPECT_EQ(stmt_->dyn_func_code, 0u);
  EXPECT_EQ(stmt_->retcode, SQL_ERROR);
  EXPECT_EQ(stmt_->first_rec.next, nullptr);
  EXPECT_EQ(stmt_->first_rec.text, nullptr);
  EXPECT_EQ(stmt_->first_rec.row, kDiagNoPosition);
  EXPECT_EQ(stmt_->first_rec.column, kDiagNoPosition);
  EXPECT_EQ(stmt_->first_rec.odbc3, 0u);
}

}  // namespace
