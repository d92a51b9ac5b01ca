// The one-value connection queries and the server options against vqeng12: who and where
// the connection is, blank trimming and small buffers, the table test with names that
// need quotes or are long, the replication group, and reading and setting an option.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine_session.h"
#include "odbc/engine.h"
#include "odbc/handles.h"

namespace {

using vq_e2e::Link;
using vq_odbc_e2e::HasLine;

constexpr char kSentinel = '\x5A';

// A buffer filled with the sentinel, `size` bytes of it offered to the call and the rest
// showing whether the call wrote past them.
struct Guarded {
  explicit Guarded(int size) : size(size), bytes(static_cast<std::size_t>(size) + 16, kSentinel) {}
  char* data() { return bytes.data(); }
  std::string text() const { return std::string(bytes.data(), strnlen(bytes.data(), size)); }
  bool untouched_past_size() const {
    for (std::size_t i = static_cast<std::size_t>(size); i < bytes.size(); ++i) {
      if (bytes[i] != kSentinel) return false;
    }
    return true;
  }
  int size;
  std::vector<char> bytes;
};

class EngineQueries : public vq_odbc_e2e::EngineSession {
 protected:
  EngineQueries() : EngineSession("odbc_queries") {}
  void Exec(const std::string& sql) {
    ASSERT_EQ(DBExecStmt(dbc_.get(), nullptr, sql.c_str(), SQL_NTS), 0)
        << sql << ": " << dbc_->err.sqlcode;
  }
};

TEST_P(EngineQueries, WhoAndWhereTheConnectionIs) {
  Connect();
  struct Case {
    const char* what;
    std::int32_t (*query)(tagDBC*, char*, int);
    std::string expected;
  };
  const Case cases[] = {
      {"user", DBGetUserName, "dba"},
      {"server", DBGetServerName, server_.name()},
      {"database", DBGetDatabaseName, server_.name()},
      {"charset", DBGetCharSet, "UTF-8"},
      {"dbo user", DBGetDBOUserName, "dbo"},
  };
  for (const Case& c : cases) {
    Guarded buf(64);
    EXPECT_EQ(c.query(dbc_.get(), buf.data(), buf.size), 0) << c.what << dbc_->err.sqlcode;
    EXPECT_EQ(buf.text(), c.expected) << c.what;
    EXPECT_TRUE(buf.untouched_past_size()) << c.what;
  }
  EXPECT_TRUE(HasLine(Requests(), "prepare SELECT CURRENT USER"));
  EXPECT_TRUE(HasLine(Requests(),
                      "prepare select user_name  from SYS.SYSUSERPERM,SYS.SYSTABLE where "
                      "table_name='RowSource' and creator=user_id and lower(user_name)='dbo';"));
  // The cached charset name answers without asking the server.
  std::strcpy(dbc_->conn_charset_name, "windows-1252");
  Guarded cached(64);
  EXPECT_EQ(DBGetCharSet(dbc_.get(), cached.data(), cached.size), 0);
  EXPECT_EQ(cached.text(), "windows-1252");
  ExpectNothingLeftOnTheClient();
}

TEST_P(EngineQueries, OneValueIsTrimmedTerminatedAndNeverWrittenPastTheBuffer) {
  Connect();
  struct Case {
    const char* sql;
    int size;
    std::int32_t code;  // 0, or just "not 0" when -1
    const char* expected;
  };
  const Case cases[] = {
      {"SELECT 'padded   '", 64, 0, "padded"},
      {"SELECT '     '", 64, 0, ""},
      {"SELECT NULL", 64, 0, ""},
      {"SELECT ' inner  blanks '", 64, 0, " inner  blanks"},
      {"SELECT 'abc'", 4, 0, "abc"},  // exactly fits with its terminator
      {"SELECT 'abcdef'", 4, -1, ""},  // truncated: a warning, the text left empty
      {"SELECT 'abc'", 1, -1, ""},     // room for the terminator only
      {"SELECT * FROM no_such_table", 64, -1, ""},
  };
  for (const Case& c : cases) {
    Guarded buf(c.size);
    const std::int32_t rc = QueryStringValue(dbc_.get(), buf.data(), c.sql, c.size);
    if (c.code == 0) {
      EXPECT_EQ(rc, 0) << c.sql << " " << dbc_->err.sqlcode;
    } else {
      EXPECT_NE(rc, 0) << c.sql;
    }
    EXPECT_EQ(buf.bytes[strnlen(buf.data(), buf.bytes.size())], '\0') << c.sql;
    EXPECT_EQ(buf.text(), c.expected) << c.sql;
    EXPECT_TRUE(buf.untouched_past_size()) << c.sql;
  }
  // The refused statement's error stays in the block; the connection stays.
  Guarded buf(64);
  EXPECT_LT(QueryStringValue(dbc_.get(), buf.data(), "SELECT * FROM no_such_table", 64), 0);
  EXPECT_LT(dbc_->err.sqlcode, 0);
  EXPECT_NE(dbc_->conn.load(), nullptr);
  ExpectNothingLeftOnTheClient();
}

TEST_P(EngineQueries, TheTableTestCountsQuotedLongAndHostileNamesSafely) {
  Connect();
  const std::string long_name(300, 'x');
  Exec("CREATE TABLE plain (a INTEGER)");
  Exec("CREATE TABLE \"my tab\" (a INTEGER)");
  Exec("CREATE TABLE \"say \"\"hi\"\"\" (a INTEGER)");
  Exec("CREATE TABLE " + long_name + " (a INTEGER)");
  ASSERT_EQ(DBCommit(dbc_.get()), 0);
  struct Case {
    std::string name;
    int exists;
  };
  const Case cases[] = {
      {"plain", 1},
      {"\"plain\"", 1},
      {"\"my tab\"", 1},                 // quoted by the caller
      {"my tab", 1},                     // needs quotes: quoted here as one name
      {"\"say \"\"hi\"\"\"", 1},         // inner quotes doubled by the caller
      {"say \"hi\"", 1},                 // and here
      {long_name, 1},                    // far beyond the old fixed statement text
      {"\"" + long_name + "\"", 1},
      {"no_such_table", 0},
      {"", 0},
      {"\"unclosed", 0},
      {"plain; DROP TABLE plain", 0},    // one odd name, never a second statement
      {"plain WHERE 1=0 UNION SELECT 1", 0},
      {"plain--", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DBTableExists(dbc_.get(), c.name.c_str()), c.exists) << c.name;
    if (c.exists == 0) {
      EXPECT_LT(dbc_->err.sqlcode, 0) << c.name;  // the server's error is left in the block
    }
  }
  EXPECT_EQ(DBTableExists(dbc_.get(), "plain"), 1);  // never dropped
  EXPECT_TRUE(HasLine(Requests(), "prepare SELECT COUNT(*) FROM \"my tab\""));
  EXPECT_TRUE(HasLine(Requests(), "prepare SELECT COUNT(*) FROM \"plain; DROP TABLE plain\""));
  ExpectNothingLeftOnTheClient();
}

TEST_P(EngineQueries, TheReplicationGroupIsFoundOnlyWhenItExists) {
  Connect();
  EXPECT_EQ(DBkx_systabExists(dbc_.get()), 100);
  EXPECT_TRUE(HasLine(Requests(),
                      "prepare SELECT IF EXISTS( SELECT 1 FROM SYS.SYSUSERPERMS WHERE user_name "
                      "= 'kx_systabgroup' ) THEN 'yes' else 'no' endif"));
  Exec("INSERT INTO SYS.SYSUSERPERM(user_id, user_name, resourceauth, dbaauth) "
       "VALUES(900,'kx_systabgroup','N','N')");
  EXPECT_EQ(DBkx_systabExists(dbc_.get()), 0);
}

TEST_P(EngineQueries, ServerOptionsAreReadTerminatedAndSetForTheConnection) {
  Connect();
  // vqeng12's default; the value is blank-padded on the wire, the text ends at it.
  Guarded value(20);
  EXPECT_EQ(DBGetOption(dbc_.get(), "quoted_identifier", value.data(), value.size), 0)
      << dbc_->err.sqlcode;
  EXPECT_EQ(value.text(), "On");
  EXPECT_TRUE(value.untouched_past_size());

  EXPECT_EQ(DBSetOption(dbc_.get(), "quoted_identifier", "OFF"), 0) << dbc_->err.sqlcode;
  EXPECT_TRUE(HasLine(Requests(), "set-option quoted_identifier = OFF (temporary)"));
  struct Case {
    int size;
    std::int32_t code;  // 0, or "not negative" when 1
    const char* expected;
  };
  for (const Case& c : {Case{20, 0, "OFF"}, Case{4, 0, "OFF"}, Case{3, 1, "OF"},
                        Case{1, 1, ""}}) {
    Guarded small(c.size);
    const std::int32_t rc = DBGetOption(dbc_.get(), "quoted_identifier", small.data(), c.size);
    if (c.code == 0) {
      EXPECT_EQ(rc, 0) << c.size;
    } else {
      EXPECT_GE(rc, 0) << c.size;
    }
    EXPECT_EQ(small.text(), c.expected) << c.size;
    EXPECT_TRUE(small.untouched_past_size()) << c.size;
  }

  // An option the server does not know: its error, an empty buffer, the connection kept.
  Guarded unknown(20);
  EXPECT_LT(DBGetOption(dbc_.get(), "no_such_option", unknown.data(), unknown.size), 0);
  EXPECT_EQ(unknown.text(), "");
  EXPECT_LT(dbc_->err.sqlcode, 0);
  EXPECT_NE(dbc_->conn.load(), nullptr);
  EXPECT_LT(DBSetOption(dbc_.get(), "", "x"), 0);
  EXPECT_NE(dbc_->conn.load(), nullptr);
}

TEST_P(EngineQueries, WithoutAConnectionEveryQueryAnswersNotConnected) {
  Guarded buf(32);
  std::memcpy(buf.data(), "stale", 6);
  EXPECT_EQ(DBGetUserName(dbc_.get(), buf.data(), buf.size), -308);
  EXPECT_STREQ(dbc_->err.odbc3_state, "08S01");
  EXPECT_STREQ(dbc_->err.odbc2_state, "08S01");
  EXPECT_EQ(DBkx_systabExists(dbc_.get()), 100);
  EXPECT_EQ(DBGetOption(dbc_.get(), "quoted_identifier", buf.data(), buf.size), -308);
  EXPECT_EQ(DBSetOption(dbc_.get(), "quoted_identifier", "On"), -308);
  dbc_->err.sqlcode = 0;
  EXPECT_EQ(DBTableExists(dbc_.get(), "plain"), 0);
  EXPECT_EQ(dbc_->err.sqlcode, -308);
  EXPECT_STREQ(dbc_->err.odbc3_state, "08S01");
}

INSTANTIATE_TEST_SUITE_P(Links, EngineQueries,
                         testing::Values(Link::kSharedMemory, Link::kTcpIp),
                         [](const testing::TestParamInfo<Link>& info) {
                           return std::string(vq_e2e::LinkName(info.param));
                         });

}  // namespace
