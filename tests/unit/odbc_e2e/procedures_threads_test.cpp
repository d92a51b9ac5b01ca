// Procedures through the driver's ODBC calls against vqeng12, over both links: the call
// escapes with and without a return value, the parameters described with their
// directions, and every output (return value, OUT, INOUT) read back through bound
// parameters, with lengths and NULL indicators, into sentinel-filled buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "statement_fixture.h"

namespace vq_odbc_e2e {
namespace {

constexpr SQLLEN kSentinel = 0x5A5A5A5A5A5A5A5A;

class Procedures : public StatementFixture {
 protected:
  Procedures() : StatementFixture("odbc_procs") {}

  void SetUp() override {
    StatementFixture::SetUp();
    if (HasFatalFailure()) return;
    MustExec("CREATE TABLE items(price INTEGER)");
    MustExec("INSERT INTO items VALUES(5), (10), (20)");
    MustExec("CREATE PROCEDURE split_total(IN amount INTEGER, OUT label VARCHAR(20), "
             "INOUT counter INTEGER, rate DOUBLE) BEGIN "
             "SET label = 'n=' || (amount * rate); SET counter = counter + 1; "
             "RETURN (SELECT count(*) FROM items WHERE price >= amount) END");
  }
};

TEST_P(Procedures, ParametersAreDescribedWithTheirDirections) {
  MustSucceed(Prepare("{? = call split_total(?, ?, ?, ?)}"), "prepare");
  SQLSMALLINT count = -1;
  MustSucceed(SQLNumParams(stmt_, &count), "SQLNumParams");
  EXPECT_EQ(count, 5);
  SQLHDESC ipd = SQL_NULL_HDESC;
  MustSucceed(SQLGetStmtAttr(stmt_, SQL_ATTR_IMP_PARAM_DESC, &ipd, 0, nullptr), "IPD");
  const SQLSMALLINT expected[] = {SQL_PARAM_OUTPUT, SQL_PARAM_INPUT, SQL_PARAM_OUTPUT,
                                  SQL_PARAM_INPUT_OUTPUT, SQL_PARAM_INPUT};
  const SQLSMALLINT types[] = {SQL_INTEGER, SQL_INTEGER, SQL_VARCHAR, SQL_INTEGER, SQL_DOUBLE};
  for (SQLSMALLINT n = 1; n <= 5; ++n) {
    SCOPED_TRACE(n);
    SQLSMALLINT kind = -1;
    MustSucceed(SQLGetDescField(ipd, n, SQL_DESC_PARAMETER_TYPE, &kind, 0, nullptr), "kind");
    EXPECT_EQ(kind, expected[n - 1]);
    SQLSMALLINT type = -1, digits = -1, nullable = -1;
    SQLULEN size = static_cast<SQLULEN>(kSentinel);
    MustSucceed(SQLDescribeParam(stmt_, static_cast<SQLUSMALLINT>(n), &type, &size, &digits,
                                 &nullable),
                "SQLDescribeParam");
    EXPECT_EQ(type, types[n - 1]);
    EXPECT_NE(size, static_cast<SQLULEN>(kSentinel));
  }
}

TEST_P(Procedures, EveryOutputComesBackThroughItsBoundParameter) {
  for (const char* text : {"{? = call split_total(?, ?, ?, ?)}", "? = call split_total(?, ?, ?, ?)"}) {
    SCOPED_TRACE(text);
    SQLINTEGER returned = -1, amount = 10, counter = 41;
    double rate = 2;
    char label[21];
    std::memset(label, 'Z', sizeof label);
    SQLLEN returned_len = kSentinel, amount_len = 0, label_len = kSentinel,
           counter_len = kSentinel, rate_len = 0;
    MustSucceed(SQLBindParameter(stmt_, 1, SQL_PARAM_OUTPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0,
                                 &returned, 0, &returned_len),
                "bind return");
    MustSucceed(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0,
                                 &amount, 0, &amount_len),
                "bind amount");
    MustSucceed(SQLBindParameter(stmt_, 3, SQL_PARAM_OUTPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0,
                                 label, sizeof label, &label_len),
                "bind label");
    MustSucceed(SQLBindParameter(stmt_, 4, SQL_PARAM_INPUT_OUTPUT, SQL_C_SLONG, SQL_INTEGER, 0,
                                 0, &counter, 0, &counter_len),
                "bind counter");
    MustSucceed(SQLBindParameter(stmt_, 5, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0,
                                 &rate, 0, &rate_len),
                "bind rate");
    MustSucceed(ExecDirect(text), "execute");
    EXPECT_EQ(returned, 2);
    EXPECT_EQ(returned_len, static_cast<SQLLEN>(sizeof(SQLINTEGER)));
    EXPECT_STREQ(label, "n=20.0");
    EXPECT_EQ(label_len, 6);
    EXPECT_EQ(label[7], 'Z');  // nothing written past the value and its terminator
    EXPECT_EQ(counter, 42);
    EXPECT_EQ(counter_len, static_cast<SQLLEN>(sizeof(SQLINTEGER)));

    // A NULL INOUT value stays NULL; the indicator says so.
    counter_len = SQL_NULL_DATA;
    amount = 100;
    MustSucceed(ExecDirect(text), "execute with NULL");
    EXPECT_EQ(counter_len, SQL_NULL_DATA);
    EXPECT_EQ(returned, 0);
    EXPECT_STREQ(label, "n=200.0");
    MustSucceed(SQLFreeStmt(stmt_, SQL_RESET_PARAMS), "reset");
  }
}

TEST_P(Procedures, ACallWithoutReturnValueAndErrorsWithTheirStates) {
  SQLINTEGER counter = 1;
  SQLLEN counter_len = 0;
  MustSucceed(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT_OUTPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0,
                               &counter, 0, &counter_len),
              "bind");
  MustSucceed(ExecDirect("{call split_total(1, NULL, ?, 1)}"), "call");
  EXPECT_EQ(counter, 2);
  MustSucceed(SQLFreeStmt(stmt_, SQL_RESET_PARAMS), "reset");
  EXPECT_EQ(ExecDirect("{call no_such_procedure(1)}"), SQL_ERROR);
  EXPECT_EQ(StmtState(), "42S02");
  MustExec("DROP PROCEDURE split_total");
  EXPECT_EQ(ExecDirect("{call split_total(1)}"), SQL_ERROR);
  EXPECT_EQ(StmtState(), "42S02");
}

// An INOUT parameter the application binds as input only: its value goes in, nothing
// comes back into its buffer, and the other outputs still arrive.
TEST_P(Procedures, AnInOutParameterBoundAsInputOnlyKeepsItsBuffer) {
  SQLINTEGER counter = 7;
  char label[21];
  std::memset(label, 'Z', sizeof label);
  SQLLEN counter_len = 0, label_len = kSentinel;
  MustSucceed(SQLBindParameter(stmt_, 1, SQL_PARAM_OUTPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0, label,
                               sizeof label, &label_len),
              "bind label");
  MustSucceed(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0,
                               &counter, 0, &counter_len),
              "bind counter");
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    MustSucceed(ExecDirect("{call split_total(3, ?, ?, 2)}"), "call");
    EXPECT_EQ(counter, 7);
    EXPECT_EQ(counter_len, 0);
    EXPECT_STREQ(label, "n=6");
    EXPECT_EQ(label_len, 3);
  }
  // The connection is still usable.
  MustExec("INSERT INTO items VALUES(1)");
}

INSTANTIATE_TEST_SUITE_P(Links, Procedures, testing::Values(Link::kSharedMemory, Link::kTcpIp),
                         LinkName);

}  // namespace
}  // namespace vq_odbc_e2e
