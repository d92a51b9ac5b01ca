// Users, groups and grants of the stand-in: GRANT and REVOKE kept in the database and
// shown in SYSUSERPERM, SYSGROUP, SYSTABLEPERM and SYSCOLPERM, across connections and
// rollback, with the errors of unknown users, groups, tables and columns.
#include "grants.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine.h"

using namespace vqeng;

namespace {

class Grants : public ::testing::Test {
 protected:
  void SetUp() override {
    e_ = open_engine();
    ASSERT_TRUE(e_);
    run("CREATE TABLE t(a INTEGER, b VARCHAR(10), c INTEGER)");
  }
  std::unique_ptr<Engine> open_engine() {
    auto e = std::make_unique<Engine>(cfg_);
    SqlError err;
    if (!e->open(err)) return nullptr;
    e->set_user("dba");
    return e;
  }
  std::string run(const std::string& sql, Engine* on = nullptr) {
    SqlError err;
    ExecResult res;
    if (!(on ? on : e_.get())->execute_immediate(sql, res, err))
      return "error " + std::to_string(err.sqlcode) + ": " + err.text;
    return "";
  }
  // Rows of a query: values joined by ":", rows by ",".
  std::string rows(const std::string& sql, Engine* on = nullptr) {
    Engine* e = on ? on : e_.get();
    SqlError err;
    std::uint32_t id = 0;
    ExecResult res;
    if (!e->prepare(sql, id, err) || !e->execute(id, {}, 1000, res, err))
      return "error " + err.text;
    e->drop(id);
    std::string out;
    for (const auto& r : res.rows) {
      if (!out.empty()) out += ",";
      for (std::size_t k = 0; k < r.size(); ++k)
        out += (k ? ":" : "") + (r[k].kind == Value::Null ? std::string("-") : value_text(r[k]));
    }
    return out;
  }
  DatabaseConfig cfg_;
  std::unique_ptr<Engine> e_;
};

const char* kTablePerms =
    "SELECT (SELECT user_name FROM SYS.SYSUSERPERMS WHERE user_id = grantee), "
    "(SELECT user_name FROM SYS.SYSUSERPERMS WHERE user_id = grantor), selectauth, insertauth, "
    "deleteauth, updateauth, updatecols, referenceauth FROM SYS.SYSTABLEPERM JOIN SYS.SYSTABLE "
    "ON stable_id = table_id WHERE table_name = 't' ORDER BY 1";

}  // namespace

TEST_F(Grants, UsersGroupsAndMembersAreKept) {
  EXPECT_EQ(run("GRANT CONNECT TO ann IDENTIFIED BY pw1"), "");
  EXPECT_EQ(run("GRANT CONNECT TO staff"), "");
  EXPECT_EQ(run("GRANT CONNECT TO heads"), "");
  EXPECT_EQ(run("GRANT GROUP TO staff, heads"), "");
  EXPECT_EQ(run("GRANT MEMBERSHIP IN GROUP staff TO ann, heads"), "");
  EXPECT_EQ(rows("SELECT user_id, user_name, user_group FROM SYS.SYSUSERPERMS WHERE user_id >= "
                 "100 ORDER BY user_id"),
            "100:ann:N,101:staff:Y,102:heads:Y");
  EXPECT_EQ(rows("SELECT group_id, group_member FROM SYS.SYSGROUP ORDER BY 2"),
            "101:100,101:102");
  // Another connection sees them once committed; a rolled-back revoke is undone.
  SqlError err;
  ASSERT_TRUE(e_->commit(err)) << err.text;
  auto other = open_engine();
  ASSERT_TRUE(other);
  EXPECT_EQ(rows("SELECT count(*) FROM SYS.SYSUSER WHERE user_id >= 100", other.get()), "3");
  EXPECT_EQ(run("REVOKE MEMBERSHIP IN GROUP staff FROM heads"), "");
  EXPECT_EQ(rows("SELECT group_member FROM SYS.SYSGROUP"), "100");
  ASSERT_TRUE(e_->rollback(err)) << err.text;
  EXPECT_EQ(rows("SELECT group_member FROM SYS.SYSGROUP ORDER BY 1"), "100,102");
}

TEST_F(Grants, TableAndColumnGrantsShowTheirLetters) {
  run("GRANT CONNECT TO ann");
  run("GRANT CONNECT TO bob");
  EXPECT_EQ(run("GRANT SELECT, UPDATE(b, \"c\") ON dba.t TO ann WITH GRANT OPTION"), "");
  EXPECT_EQ(run("GRANT INSERT, REFERENCES ON t TO ann"), "");
  EXPECT_EQ(run("GRANT ALL PRIVILEGES ON T TO bob"), "");
  EXPECT_EQ(rows(kTablePerms), "ann:dba:G:Y:N:N:G:Y,bob:dba:Y:Y:Y:Y:N:Y");
  EXPECT_EQ(rows("SELECT column_name, (SELECT user_name FROM SYS.SYSUSERPERMS WHERE user_id = "
                 "grantee), privilege_type FROM SYS.SYSCOLPERM JOIN SYS.SYSCOLUMN ORDER BY 1"),
            "b:ann:U,c:ann:U");
  EXPECT_EQ(run("REVOKE SELECT, UPDATE(b) ON t FROM ann"), "");
  EXPECT_EQ(run("REVOKE ALL ON t FROM bob"), "");
  EXPECT_EQ(rows(kTablePerms), "ann:dba:N:Y:N:N:G:Y");
  EXPECT_EQ(rows("SELECT column_id FROM SYS.SYSCOLPERM"), "3");
  // The grants follow the table by name across a schema change that renumbers it.
  run("CREATE TABLE a_first(x INTEGER)");
  run("DROP TABLE a_first");
  EXPECT_EQ(rows(kTablePerms), "ann:dba:N:Y:N:N:G:Y");
}

TEST_F(Grants, BadGrantsAreRefusedAndChangeNothing) {
  run("GRANT CONNECT TO ann");
  const char* refused[] = {
      "GRANT SELECT ON t TO nobody",
      "GRANT SELECT ON missing TO ann",
      "GRANT UPDATE(zz) ON t TO ann",
      "GRANT MEMBERSHIP IN GROUP ann TO dba",  // ann is no group
      "GRANT GROUP TO dba",                    // a configured user
      "GRANT CONNECT TO dba",
      "GRANT SELECT ON t TO ann extra",
      "GRANT FLY ON t TO ann",
  };
  for (const char* text : refused) {
    SCOPED_TRACE(text);
    EXPECT_EQ(run(text).compare(0, 11, "error -1000"), 0) << run(text);
  }
  EXPECT_EQ(rows("SELECT count(*) FROM SYS.SYSTABLEPERM"), "0");
  // Names with quotes stay names: nothing of them reaches the SQL as text.
  EXPECT_EQ(run("GRANT CONNECT TO \"o'x\" IDENTIFIED BY \"p'w\""), "");
  EXPECT_EQ(run("GRANT SELECT ON t TO \"o'x\""), "");
  EXPECT_EQ(rows(kTablePerms), "o'x:dba:Y:N:N:N:N:N");
}

// The grants read the way the driver's privilege statements read them: a member of a
// group (two levels down) that holds SELECT with grant option is listed; the creator is
// not among the granted rows.
TEST_F(Grants, PrivilegeStatementsReachGroupMembers) {
  for (const char* text :
       {"GRANT CONNECT TO ann", "GRANT CONNECT TO staff", "GRANT CONNECT TO all_staff",
        "GRANT GROUP TO staff, all_staff", "GRANT MEMBERSHIP IN GROUP all_staff TO staff",
        "GRANT MEMBERSHIP IN GROUP staff TO ann",
        "GRANT SELECT ON t TO all_staff WITH GRANT OPTION"})
    ASSERT_EQ(run(text), "") << text;
  EXPECT_EQ(
      rows("SELECT table_name, (select user_name from SYS.SYSUSERPERMS where user_id=grantor) AS "
           "GRANTOR, (select user_name from SYS.SYSUSERPERMS where user_id=member.user_id) AS "
           "GRANTEE, 'select' AS PRIVILEGE, cast(if selectauth = 'G' then 'YES' else 'NO' endif "
           "as varchar) AS IS_GRANTABLE FROM SYS.SYSTABLEPERM,SYS.SYSUSERPERMS member,"
           "SYS.SYSTABLE JOIN SYS.SYSUSERPERMS WHERE SYSTABLEPERM.stable_id=SYSTABLE.table_id "
           "AND member.user_id != SYSTABLE.creator AND selectauth <> 'N' AND table_name LIKE 't' "
           "AND (member.user_id = SYSTABLEPERM.grantee OR member.user_id in (select "
           "group_member from SYSGROUP where group_id = SYSTABLEPERM.grantee) OR member.user_id "
           "in (select group_member from SYSGROUP where group_id in (select group_member from "
           "SYSGROUP where group_id = SYSTABLEPERM.grantee))) ORDER BY 3"),
      "t:dba:all_staff:select:YES,t:dba:ann:select:YES,t:dba:staff:select:YES");
}
