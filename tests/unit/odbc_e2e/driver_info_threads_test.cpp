// SQLGetInfo against vqeng12 through the driver's entry points, over shared memory and
// TCP/IP: the answers that ask the server (user, server, database, character set, the
// quoting option) and those that follow what the connect learnt of it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cmdseq/client.h"
#include "cmdseq/connect.h"
#include "e2e_session.h"
#include "odbc/engine.h"
#include "odbc/handles.h"
#include "odbc/library_start.h"

namespace {

using vq_e2e::Link;

class LiveInfo : public testing::TestWithParam<Link> {
 protected:
  void SetUp() override {
    i_cs_SetEngineConnect(i_cs_EngineConnect);
    ASSERT_FALSE(vctmp_.path().empty());
    ASSERT_TRUE(server_.StartWithRequestLog(vctmp_.path() + "/requests.log"));
    LibInit_jdbc();
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_), SQL_SUCCESS);
    ASSERT_EQ(SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION,
                            reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
              SQL_SUCCESS);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_), SQL_SUCCESS);
    std::string in = "UID=dba;PWD=sql;" + server_.Links(GetParam());
    std::vector<SQLCHAR> text(in.begin(), in.end());
    text.push_back('\0');
    const SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, text.data(), SQL_NTS, nullptr, 0,
                                          nullptr, SQL_DRIVER_NOPROMPT);
    ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) << rc;
  }
  void TearDown() override {
    EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc_), SQL_SUCCESS);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env_), SQL_SUCCESS);
    LibFini_jdbc();
  }

  std::string Text(SQLUSMALLINT item) {
    char out[256];
    SQLSMALLINT length = -1;
    EXPECT_EQ(SQLGetInfo(dbc_, item, out, sizeof out, &length), SQL_SUCCESS) << item;
    return std::string(out, length > 0 ? length : 0);
  }

  vq_e2e::TempVctmp vctmp_;
  vq_e2e::Server server_{"odbc_info"};
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
};

TEST_P(LiveInfo, ServerAnswers) {
  EXPECT_EQ(Text(SQL_USER_NAME), "dba");
  EXPECT_EQ(Text(SQL_SERVER_NAME), server_.name());
  EXPECT_EQ(Text(SQL_DATABASE_NAME), server_.name());
  EXPECT_EQ(Text(SQL_COLLATION_SEQ), "UTF-8");
  EXPECT_EQ(Text(SQL_DBMS_NAME), "Vellumcrest");
  EXPECT_EQ(Text(SQL_DBMS_VER), "12.00.0001");  // the server reports 12.0.1.2566
  EXPECT_EQ(Text(SQL_PROCEDURES), "Y");
  EXPECT_EQ(Text(SQL_IDENTIFIER_QUOTE_CHAR), "\"");
  // Quoted identifiers turned off for this connection: no quote character.
  auto* dbc = static_cast<tagDBC*>(dbc_);
  ASSERT_EQ(DBSetOption(dbc, "quoted_identifier", "Off"), 0) << dbc->err.sqlcode;
  EXPECT_EQ(Text(SQL_IDENTIFIER_QUOTE_CHAR), " ");
  // A truncated server answer keeps its full length.
  char small[3];
  SQLSMALLINT length = -1;
  EXPECT_EQ(SQLGetInfo(dbc_, SQL_SERVER_NAME, small, sizeof small, &length),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(length, static_cast<SQLSMALLINT>(server_.name().size()));
  EXPECT_EQ(std::string(small), server_.name().substr(0, 2));
}

INSTANTIATE_TEST_SUITE_P(Links, LiveInfo, testing::Values(Link::kSharedMemory, Link::kTcpIp),
                         [](const testing::TestParamInfo<Link>& info) {
                           return std::string(vq_e2e::LinkName(info.param));
                         });

}  // namespace
