#include "engine.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace vqeng;

TEST(Dialect, Rewrites) {
  DatabaseConfig cfg;
  cfg.server_name = "srv";
  cfg.version = "12.0.1.2566";
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"SELECT @@version", "SELECT '12.0.1.2566'"},
      {"SELECT @@SERVERNAME", "SELECT 'srv'"},
      {"SELECT CURRENT USER", "SELECT 'DBA'"},
      {"SELECT current   user, x", "SELECT 'DBA', x"},
      {"SELECT if 'A'<>'a' then 1 else 0 endif", "SELECT CASE WHEN 'A'<>'a' then 1 else 0 END"},
      {"SELECT IF EXISTS( SELECT 1 ) THEN 'yes' else 'no' endif",
       "SELECT CASE WHEN EXISTS( SELECT 1 ) THEN 'yes' else 'no' END"},
      {"DROP TABLE IF EXISTS t", "DROP TABLE IF EXISTS t"},
      {"SELECT '@@version', \"current user\"", "SELECT '@@version', \"current user\""},
      {"SELECT current_user", "SELECT current_user"},
      {"SELECT isnull(a,'x'), a isnull", "SELECT coalesce(a,'x'), a isnull"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(rewrite_dialect(c.in, cfg, "DBA"), c.out);
  }
  EXPECT_EQ(split_statements("a; 'x;y' ;; b;"), (std::vector<std::string>{"a", "'x;y'", "b"}));
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    e_ = std::make_unique<Engine>(cfg_);
    SqlError err;
    ASSERT_TRUE(e_->open(err)) << err.text;
  }
  std::vector<std::vector<Value>> query(Engine& e, const std::string& sql,
                                        SqlError* err_out = nullptr) {
    SqlError err;
    std::uint32_t id = 0;
    ExecResult res;
    bool ok = e.prepare(sql, id, err) && e.execute(id, {}, 100, res, err);
    if (err_out) *err_out = err;
    EXPECT_TRUE(ok || err_out) << err.text;
    return res.rows;
  }
  void exec(Engine& e, const std::string& sql) {
    SqlError err;
    ExecResult res;
    ASSERT_TRUE(e.execute_immediate(sql, res, err)) << err.text;
  }
  DatabaseConfig cfg_;
  std::unique_ptr<Engine> e_;
};

TEST_F(EngineTest, AnswersTheDriversProbe) {
  const auto rows =
      query(*e_,
            "SELECT @@version, if 'A'<>'a' then 1 else 0 endif, isnull(property('IsBW'),'NO'), "
            "isnull(connection_property('odbc_distinguish_char_and_varchar'),'Off'), "
            "isnull(connection_property('odbc_describe_binary_as_varbinary'),'Off'), "
            "connection_property('charset'), db_property('charset'), (SELECT count(*) FROM "
            "SYS.SYSOPTION o, "
            "SYS.SYSUSER u WHERE o.user_id = u.user_id AND o.\"option\" = "
            "'timestamp_with_time_zone_format' "
            "AND u.user_name = 'PUBLIC')");
  ASSERT_EQ(rows.size(), 1u);
  std::vector<std::string> got;
  for (const auto& v : rows[0]) got.push_back(value_text(v));
  EXPECT_EQ(got, (std::vector<std::string>{cfg_.version, "1", "NO", "Off", "Off", "UTF-8",
                                           "UTF-8", "0"}));
}

TEST_F(EngineTest, AnswersTheOneValueQueries) {
  cfg_.database_name = "demo";
  struct Case {
    const char* sql;
    const char* want;
  };
  const Case cases[] = {
      {"SELECT CURRENT USER", "dba"},
      {"SELECT @@SERVERNAME", "vqeng12"},
      {"SELECT db_name()", "demo"},
      {"SELECT connection_property( 'CharSet' )", "UTF-8"},
      {"select user_name  from SYS.SYSUSERPERM,SYS.SYSTABLE where table_name='RowSource' and "
       "creator=user_id and lower(user_name)='dbo';",
       "dbo"},
      {"SELECT IF EXISTS( SELECT 1 FROM SYS.SYSUSERPERMS WHERE user_name = 'kx_systabgroup' ) "
       "THEN 'yes' else 'no' endif",
       "no"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    const auto rows = query(*e_, c.sql);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(value_text(rows[0][0]), c.want);
  }
}

TEST_F(EngineTest, SessionOptionsAreKept) {
  exec(*e_,
       "SET TEMPORARY OPTION time_format = 'hh:nn:ss';SET TEMPORARY OPTION date_order = 'ymd';"
       "SET TEMPORARY OPTION isolation_level = '1';");
  EXPECT_EQ(e_->options().at("time_format"), "hh:nn:ss");
  EXPECT_EQ(e_->options().at("isolation_level"), "1");
  // The same text through prepare and execute.
  SqlError err;
  std::uint32_t id = 0;
  ExecResult res;
  ASSERT_TRUE(e_->prepare("SET TEMPORARY OPTION date_format = 'yyyy-mm-dd'", id, err));
  ASSERT_TRUE(e_->execute(id, {}, 0, res, err)) << err.text;
  EXPECT_EQ(e_->options().at("date_format"), "yyyy-mm-dd");
}

TEST_F(EngineTest, ErrorsMapToSqlCodes) {
  exec(*e_, "CREATE TABLE t(a INTEGER PRIMARY KEY, b VARCHAR(10) NOT NULL)");
  exec(*e_, "INSERT INTO t VALUES(1, 'x')");
  struct Case {
    const char* sql;
    std::int32_t code;
    const char* state;
  };
  const Case cases[] = {
      {"SELECT * FROM nowhere", -141, "42S02"},
      {"SELECT nocol FROM t", -143, "42S22"},
      {"SELEKT 1", -131, "42000"},
      {"INSERT INTO t VALUES(1, 'y')", -196, "23000"},
      {"INSERT INTO t VALUES(2, NULL)", -195, "23000"},
      {"CREATE TABLE t(x)", -110, "42S01"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    SqlError err;
    ExecResult res;
    EXPECT_FALSE(e_->execute_immediate(c.sql, res, err));
    EXPECT_EQ(err.sqlcode, c.code);
    EXPECT_EQ(err.odbc3_state, c.state);
    EXPECT_FALSE(err.text.empty());
  }
  SqlError err = map_sqlite_error(1, "no such table: main.xyz");
  ASSERT_EQ(err.params.size(), 1u);
  EXPECT_EQ(err.params[0], "main.xyz");
  EXPECT_EQ(error_record_payload(err).size(), 19u);
}

TEST_F(EngineTest, WorkIsVisibleToOthersOnlyAfterCommit) {
  Engine other(cfg_);
  SqlError err;
  ASSERT_TRUE(other.open(err));
  exec(*e_, "CREATE TABLE c(v INTEGER)");
  ASSERT_TRUE(e_->commit(err));
  exec(*e_, "INSERT INTO c VALUES(1)");
  ASSERT_TRUE(e_->rollback(err));
  exec(*e_, "INSERT INTO c VALUES(2)");
  // Uncommitted work: another connection reads what was committed before it.
  EXPECT_TRUE(query(other, "SELECT v FROM c").empty());
  ASSERT_TRUE(e_->commit(err));
  const auto rows = query(other, "SELECT v FROM c");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0].i, 2);
}

TEST_F(EngineTest, InterruptStopsALongStatement) {
  int calls = 0;
  e_->set_interrupt_check([&] { return ++calls > 3; });
  SqlError err;
  ExecResult res;
  EXPECT_FALSE(
      e_->execute_immediate("WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM n "
                            "WHERE x < 100000000) SELECT count(*) FROM n",
                            res, err));
  EXPECT_EQ(err.sqlcode, -299);
  e_->set_interrupt_check(nullptr);
  EXPECT_EQ(query(*e_, "SELECT 1").size(), 1u);  // the connection still works
}

// A statement reports the rows it changed itself: DDL and an UPDATE that matches nothing
// report 0 even right after a statement that changed rows.
TEST_F(EngineTest, RowCountsAreTheStatementsOwn) {
  exec(*e_, "CREATE TABLE counted(a INT)");
  struct Case {
    const char* sql;
    std::uint32_t changes;
  };
  const Case cases[] = {
      {"INSERT INTO counted VALUES (1), (2), (3)", 3},
      {"CREATE TABLE other(b INT)", 0},
      {"UPDATE counted SET a = a + 1", 3},
      {"UPDATE counted SET a = 0 WHERE a > 100", 0},
      {"DELETE FROM counted WHERE a = 2", 1},
      {"DROP TABLE other", 0},
      {"WITH n(v) AS (SELECT 7) INSERT INTO counted SELECT v FROM n", 1},
      {"/* a comment */ DELETE FROM counted", 3},
      {"CREATE INDEX counted_a ON counted(a)", 0},
  };
  for (const Case& c : cases) {
    ExecResult res;
    SqlError err;
    ASSERT_TRUE(e_->execute_immediate(c.sql, res, err)) << c.sql << ": " << err.text;
    EXPECT_EQ(res.changes, c.changes) << c.sql;
  }
}

TEST_F(EngineTest, ParametersAndDescriptions) {
  exec(*e_,
       "CREATE TABLE p(id BIGINT, name VARCHAR(20), price DECIMAL(10,2), at TIMESTAMP, data "
       "BLOB)");
  SqlError err;
  std::uint32_t id = 0;
  ASSERT_TRUE(e_->prepare("INSERT INTO p VALUES(?, ?, ?, ?, ?)", id, err));
  EXPECT_EQ(e_->param_count(id), 5);
  ExecResult res;
  ASSERT_TRUE(
      e_->execute(id,
                  {Value::integer(7), Value::text("pen"), Value::text("1.25"),
                   Value::text("2024-01-02 03:04:05"), Value::blob(std::string("\0\1", 2))},
                  0, res, err))
      << err.text;
  EXPECT_EQ(res.changes, 1u);
  std::uint32_t q = 0;
  ASSERT_TRUE(e_->prepare("SELECT * FROM p", q, err));
  std::vector<ColumnDesc> cols;
  ASSERT_TRUE(e_->describe_output(q, cols, err));
  ASSERT_EQ(cols.size(), 5u);
  EXPECT_EQ(cols[0].type.type, -5);
  EXPECT_EQ(cols[1].type.type, 1);
  EXPECT_EQ(cols[1].type.length, 20u);
  EXPECT_EQ(cols[2].type.type, 3);
  EXPECT_EQ(cols[2].type.precision, 10);
  EXPECT_EQ(cols[2].type.scale, 2);
  EXPECT_EQ(cols[3].type.type, 9);
  EXPECT_EQ(cols[3].type.subtype, 3);
  EXPECT_EQ(cols[4].type.type, -4);
  EXPECT_EQ(cols[1].name, "name");
  EXPECT_FALSE(e_->execute(999, {}, 0, res, err));
  EXPECT_EQ(err.sqlcode, -130);
}

TEST_F(EngineTest, ExpressionColumnsTakeTheTypeOfTheirFirstValue) {
  exec(*e_, "CREATE TABLE x(a INTEGER)");
  exec(*e_, "INSERT INTO x VALUES(1)");
  SqlError err;
  std::uint32_t id = 0;
  ASSERT_TRUE(e_->prepare("SELECT count(*), 1.5, 'x', NULL, a FROM x", id, err));
  std::vector<ColumnDesc> cols;
  ASSERT_TRUE(e_->describe_output(id, cols, err));
  ASSERT_EQ(cols.size(), 5u);
  EXPECT_EQ(cols[0].type.type, -5);
  EXPECT_EQ(cols[1].type.type, 8);
  EXPECT_EQ(cols[2].type.type, 1);
  EXPECT_EQ(cols[3].type.type, 1);
  EXPECT_EQ(cols[4].type.type, 4);
  // Describing ran the statement once; executing it still gives its row.
  ExecResult res;
  ASSERT_TRUE(e_->execute(id, {}, 10, res, err));
  ASSERT_EQ(res.rows.size(), 1u);
  EXPECT_EQ(res.rows[0][0].i, 1);
}

// A CAST to DECIMAL is described as the decimal it names, and its values come as exact
// decimal text with that scale, a double's value included (its text with an exponent
// read as digits gave 1e27 as 127), whether the rows are held or streamed.
TEST_F(EngineTest, ACastToDecimalGivesDecimalTextWithItsScale) {
  const char* sql =
      "SELECT CAST(1e27 AS DECIMAL(38,10)), CAST(123.5 AS DECIMAL(10,2)), "
      "CAST(2 AS NUMERIC(5,1)), CAST(NULL AS DECIMAL(5,1)), 1.5";
  SqlError err;
  std::uint32_t id = 0;
  ASSERT_TRUE(e_->prepare(sql, id, err)) << err.text;
  std::vector<ColumnDesc> cols;
  ASSERT_TRUE(e_->describe_output(id, cols, err));
  ASSERT_EQ(cols.size(), 5u);
  EXPECT_EQ(cols[0].type.type, 3);
  EXPECT_EQ(cols[0].type.scale, 10);
  const std::vector<std::string> want = {"1000000000000000013287555072.0000000000", "123.50",
                                         "2.0"};
  ExecResult res;
  ASSERT_TRUE(e_->execute(id, {}, 10, res, err)) << err.text;
  ASSERT_EQ(res.rows.size(), 1u);
  for (std::size_t k = 0; k < want.size(); ++k) {
    EXPECT_EQ(res.rows[0][k].kind, Value::Text) << k;
    EXPECT_EQ(value_text(res.rows[0][k]), want[k]) << k;
  }
  EXPECT_EQ(res.rows[0][3].kind, Value::Null);
  EXPECT_EQ(res.rows[0][4].kind, Value::Real);  // no cast: the double as it is
}

TEST(EngineMemory, DatabaseGoesWithTheLastConnection) {
  DatabaseConfig cfg;
  const std::string path = memory_database_path(&cfg);
  {
    Engine a(cfg), b(cfg);
    SqlError err;
    ASSERT_TRUE(a.open(err));
    ASSERT_TRUE(b.open(err));
    ExecResult res;
    ASSERT_TRUE(a.execute_immediate("CREATE TABLE m(v INTEGER)", res, err));
    ASSERT_TRUE(a.commit(err));
    EXPECT_EQ(::access(path.c_str(), F_OK), 0);
    // A writer holding its transaction open does not block a reader.
    ASSERT_TRUE(a.execute_immediate("INSERT INTO m VALUES(1)", res, err));
    std::uint32_t id = 0;
    ASSERT_TRUE(b.prepare("SELECT count(*) FROM m", id, err)) << err.text;
    ASSERT_TRUE(b.execute(id, {}, 1, res, err)) << err.text;
    EXPECT_EQ(res.rows[0][0].i, 0);
  }
  EXPECT_NE(::access(path.c_str(), F_OK), 0);
  EXPECT_NE(::access((path + "-wal").c_str(), F_OK), 0);
}

TEST(EngineTypes, DeclaredTypesGiveTheirWireTypes) {
  struct Case {
    const char* decl;
    std::int16_t type;
    std::uint8_t subtype;
    std::uint32_t length;
    std::uint8_t precision, scale;
  };
  const Case cases[] = {
      {"NUMERIC(10,2)", 2, 0, 0, 10, 2}, {"DECIMAL(8,3)", 3, 0, 0, 8, 3},
      {"DEC", 3, 0, 0, 30, 6},           {"numeric(5)", 2, 0, 0, 5, 0},
      {"BIGINT", -5, 0, 0, 0, 0},        {"VARCHAR(20)", 1, 0, 20, 0, 0},
      {"TIMESTAMP", 9, 3, 26, 0, 0},     {"", 1, 0, 32767, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.decl);
    const WireType t = type_from_decl(c.decl);
    EXPECT_EQ(t.type, c.type);
    EXPECT_EQ(t.subtype, c.subtype);
    EXPECT_EQ(t.length, c.length);
    EXPECT_EQ(t.precision, c.precision);
    EXPECT_EQ(t.scale, c.scale);
    // Numeric and decimal keep apart on the wire.
    if (c.type == 2) {
      EXPECT_EQ(value_item_code(t.type, t.subtype), 115);
      EXPECT_EQ(definition_item_code(t.type, t.subtype), 85);
    }
    if (c.type == 3) {
      EXPECT_EQ(value_item_code(t.type, t.subtype), 110);
      EXPECT_EQ(definition_item_code(t.type, t.subtype), 80);
    }
  }
}

// Server variables whose names need double quotes (blanks, quotes: cursor names the
// application chose) are created, filled, read and dropped under exactly that name.
TEST_F(EngineTest, VariableNamesInQuotesKeepTheirText) {
  auto run = [&](const std::string& sql, std::vector<Value> params = {}) {
    SqlError err;
    std::uint32_t id = 0;
    ExecResult res;
    if (!e_->prepare(sql, id, err) || !e_->execute(id, params, 10, res, err)) return err.sqlcode;
    e_->drop(id);
    return 0;
  };
  struct Case {
    const char* name;    // the variable's name
    const char* quoted;  // as a statement writes it
  };
  const Case cases[] = {
      {"my cur_1", "\"my cur_1\""},
      {"it's \"q\"_2", "\"it's \"\"q\"\"_2\""},
      {"SQL_CUR_55d0c0a8e2b0_1", "SQL_CUR_55d0c0a8e2b0_1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string q = c.quoted;
    ASSERT_EQ(run("create variable " + q + " long varchar"), 0);
    EXPECT_EQ(run("create variable " + q + " long varchar"), -110);
    ASSERT_EQ(run("set " + q + " = " + q + " || ?", {Value::text("ab")}), 0);
    ASSERT_EQ(run("set " + q + " = " + q + " || ?", {Value::text("cd")}), 0);
    SqlError err;
    std::uint32_t id = 0;
    ExecResult res;
    ASSERT_TRUE(e_->prepare("SELECT ?", id, err));
    ASSERT_TRUE(e_->execute(id, {Value::variable(c.name)}, 10, res, err)) << err.text;
    ASSERT_EQ(res.rows.size(), 1u);
    EXPECT_EQ(value_text(res.rows[0][0]), "abcd");
    EXPECT_EQ(run("drop variable " + q), 0);
    EXPECT_EQ(run("drop variable " + q), -143);
  }
  // A name with a blank but no quotes is a syntax error, and creates nothing.
  EXPECT_EQ(run("create variable my cur_1 long varchar"), -131);
  EXPECT_EQ(run("drop variable my"), -143);
  EXPECT_EQ(run("create variable \"unclosed long varchar"), -131);
}
