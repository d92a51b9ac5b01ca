// Procedures of the stand-in: the statements read, CALL with IN, OUT and INOUT
// parameters and a return value (each marker described with its direction), the
// catalog rows, and the errors of unknown procedures and bad texts.
#include "procedures.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine.h"
#include "values.h"

using namespace vqeng;

namespace {

constexpr const char* kSplit =
    "CREATE PROCEDURE split_total(IN amount NUMERIC(10,2), OUT label VARCHAR(20), "
    "INOUT counter INTEGER, rate DOUBLE) BEGIN "
    "SET label = 'n=' || (amount * rate); SET counter = counter + 1; "
    "RETURN (SELECT count(*) FROM items WHERE price >= amount) END";

class Procedures : public ::testing::Test {
 protected:
  void SetUp() override {
    e_ = std::make_unique<Engine>(cfg_);
    SqlError err;
    ASSERT_TRUE(e_->open(err)) << err.text;
    e_->set_user("dba");
    run("CREATE TABLE items(price INTEGER)");
    run("INSERT INTO items VALUES(5), (10), (20)");
    run(kSplit);
  }
  bool run(const std::string& sql, SqlError* failure = nullptr) {
    SqlError err;
    ExecResult res;
    const bool ok = e_->execute_immediate(sql, res, err);
    if (failure) {
      *failure = err;
    } else {
      EXPECT_TRUE(ok) << sql << ": " << err.text;
    }
    return ok;
  }
  // Prepares and runs a CALL: its outputs as text joined by ":" ("-" for NULL).
  std::string call(const std::string& sql, const std::vector<Value>& params,
                   std::vector<ColumnDesc>* described = nullptr, SqlError* failure = nullptr) {
    SqlError err;
    std::uint32_t id = 0;
    ExecResult res;
    bool ok = e_->prepare(sql, id, err);
    if (ok && described) ok = e_->describe_input(id, *described, err);
    if (ok) ok = e_->execute(id, params, 1, res, err);
    if (ok) {
      EXPECT_FALSE(e_->is_query(id));
    }
    if (id) e_->drop(id);
    if (failure) *failure = err;
    if (!ok) return "error " + std::to_string(err.sqlcode);
    std::string out;
    for (const auto& r : res.rows)
      for (std::size_t k = 0; k < r.size(); ++k)
        out += (k ? ":" : "") + (r[k].kind == Value::Null ? std::string("-") : value_text(r[k]));
    return out;
  }
  DatabaseConfig cfg_;
  std::unique_ptr<Engine> e_;
};

}  // namespace

TEST(ProcedureTexts, StatementsAreReadOrRefused) {
  Procedure p;
  std::string why;
  ASSERT_TRUE(parse_procedure(kSplit, p, why)) << why;
  EXPECT_EQ(p.name, "split_total");
  ASSERT_EQ(p.parms.size(), 4u);
  EXPECT_TRUE(p.parms[0].in && !p.parms[0].out);
  EXPECT_TRUE(!p.parms[1].in && p.parms[1].out);
  EXPECT_TRUE(p.parms[2].in && p.parms[2].out);
  EXPECT_TRUE(p.parms[3].in && !p.parms[3].out);
  EXPECT_EQ(p.parms[0].type, "NUMERIC(10,2)");
  EXPECT_EQ(p.body.size(), 3u);
  EXPECT_TRUE(p.returns);

  const char* refused[] = {
      "CREATE PROCEDURE p(IN a INT BEGIN END",                  // list not closed
      "CREATE PROCEDURE p(IN a) BEGIN END",                      // no type
      "CREATE PROCEDURE p(a INT, A INT) BEGIN END",              // named twice
      "CREATE PROCEDURE p(a INT) SET a = 1",                     // no BEGIN
      "CREATE PROCEDURE p(a INT) BEGIN SET a = 1",               // no END
      "CREATE PROCEDURE p(a INT) BEGIN SET b = 1; END",          // unknown parameter
      "CREATE PROCEDURE p(a INT) BEGIN DELETE FROM t; END",      // not SET or RETURN
      "CREATE PROCEDURE p(a INT) BEGIN RETURN; END",             // RETURN without value
  };
  for (const char* text : refused) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(parse_procedure(text, p, why));
  }

  CallText c;
  ASSERT_TRUE(parse_call(" ? = call dba.p(?, 'a,b', (1+2)) ", c));
  EXPECT_TRUE(c.return_marker);
  EXPECT_EQ(c.name, "p");
  EXPECT_EQ(c.args, (std::vector<std::string>{"?", "'a,b'", "(1+2)"}));
  EXPECT_TRUE(parse_call("CALL p", c));
  EXPECT_TRUE(c.args.empty());
  EXPECT_FALSE(parse_call("CALL p(?,)", c));
  EXPECT_FALSE(parse_call("CALL p(?) extra", c));
  EXPECT_EQ(procedure_statement_kind("? = CALL p"), ProcStatementKind::Call);
  EXPECT_EQ(procedure_statement_kind("callx()"), ProcStatementKind::None);
  EXPECT_EQ(procedure_statement_kind("drop procedure p"), ProcStatementKind::Drop);
}

TEST_F(Procedures, CallDescribesDirectionsAndReturnsOutputsInMarkerOrder) {
  std::vector<ColumnDesc> d;
  EXPECT_EQ(call("? = CALL split_total(?, ?, ?, 2)",
                 {Value::null(), Value::integer(10), Value::null(), Value::integer(41)}, &d),
            "2:n=20:42");
  ASSERT_EQ(d.size(), 4u);
  const std::uint16_t dir = kColParamIn | kColParamOut;
  EXPECT_EQ(d[0].type.flags & dir, kColParamOut);  // the return value
  EXPECT_EQ(d[1].type.flags & dir, kColParamIn);
  EXPECT_EQ(d[2].type.flags & dir, kColParamOut);
  EXPECT_EQ(d[3].type.flags & dir, dir);
  EXPECT_EQ(d[1].name, "amount");
  EXPECT_EQ(d[2].type_name, "varchar");
  // The ODBC escape without a return marker; an expression argument with a marker;
  // an OUT parameter's input is ignored; a NULL INOUT stays NULL.
  EXPECT_EQ(call("call split_total((? + 1), ?, ?, ?)",
                 {Value::integer(19), Value::text("ignored"), Value::null(), Value::integer(1)}),
            "n=20:-");
  // Arguments left out are NULL.
  EXPECT_EQ(call("CALL split_total(5)", {}), "");
}

TEST_F(Procedures, CatalogRowsFollowCreateAndDrop) {
  run("CREATE PROCEDURE no_args() BEGIN END");
  const std::string parms =
      "SELECT proc_name, parm_id, parm_name, parm_type, parm_mode_in, parm_mode_out, "
      "domain_name, width, scale FROM SYS.SYSPROCEDURE JOIN SYS.SYSPROCPARM JOIN "
      "SYS.SYSDOMAIN ORDER BY proc_name, parm_id";
  SqlError err;
  std::uint32_t id = 0;
  ExecResult res;
  ASSERT_TRUE(e_->prepare(parms, id, err)) << err.text;
  ASSERT_TRUE(e_->execute(id, {}, 100, res, err)) << err.text;
  e_->drop(id);
  std::string out;
  for (const auto& r : res.rows) {
    for (const auto& v : r) out += value_text(v) + ":";
    out += ",";
  }
  EXPECT_EQ(out,
            "split_total:0:return_value:4:N:Y:integer:4:0:,"
            "split_total:1:amount:0:Y:N:numeric:10:2:,"
            "split_total:2:label:0:N:Y:varchar:20:0:,"
            "split_total:3:counter:0:Y:Y:integer:4:0:,"
            "split_total:4:rate:0:Y:N:double:8:0:,");
  // The procedure's view is no table of SYSTABLE; a procedure without parameters
  // has its SYSPROCEDURE row, owned like the tables.
  EXPECT_EQ(call("? = CALL split_total(?)", {Value::null(), Value::integer(100)}), "0");
  run("DROP PROCEDURE split_total");
  ASSERT_TRUE(e_->prepare("SELECT (SELECT count(*) FROM SYS.SYSTABLE WHERE table_name LIKE "
                          "'vqsys%'), (SELECT group_concat(proc_name || '/' || user_name) FROM "
                          "SYS.SYSPROCEDURE JOIN SYS.SYSUSERPERMS)",
                          id, err));
  ASSERT_TRUE(e_->execute(id, {}, 1, res, err)) << err.text;
  e_->drop(id);
  ASSERT_EQ(res.rows.size(), 1u);
  EXPECT_EQ(value_text(res.rows[0][0]), "0");
  EXPECT_EQ(value_text(res.rows[0][1]), "no_args/dba");
}

TEST_F(Procedures, ErrorsNameWhatIsWrong) {
  SqlError err;
  EXPECT_EQ(call("CALL missing(?)", {Value::integer(1)}, nullptr, &err), "error -265");
  EXPECT_EQ(err.odbc3_state, "42S02");
  EXPECT_EQ(call("CALL split_total(1, 2, 3, 4, 5)", {}, nullptr, &err), "error -1000");
  run("CREATE PROCEDURE no_return(a INT) BEGIN SET a = 1 END");
  EXPECT_EQ(call("? = CALL no_return(1)", {Value::null()}, nullptr, &err), "error -1000");
  EXPECT_FALSE(run(kSplit, &err));
  EXPECT_EQ(err.sqlcode, -110);
  EXPECT_FALSE(run("CREATE PROCEDURE bad(a INT) BEGIN SET a = 1", &err));
  EXPECT_EQ(err.sqlcode, -131);
  EXPECT_FALSE(run("DROP PROCEDURE missing", &err));
  EXPECT_EQ(err.sqlcode, -265);
  // A failing expression fails the call with SQLite's error, mapped.
  run("CREATE PROCEDURE broken(OUT a INT) BEGIN SET a = (SELECT x FROM nowhere) END");
  EXPECT_EQ(call("CALL broken(?)", {Value::null()}, nullptr, &err), "error -141");
}
