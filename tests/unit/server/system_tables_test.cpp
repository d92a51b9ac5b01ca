// The SYS catalog tables and the dialect the catalog statements need: SYSTABLE and
// SYSCOLUMN follow the database's schema at once (also across a rollback), domains of
// declared types, key joins, aliases in WHERE, byte_substr, names of bare columns and the
// declared types of cast, subquery and CASE columns.
#include "system_tables.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dialect.h"
#include "engine.h"

using namespace vqeng;

namespace {

class SystemTables : public ::testing::Test {
 protected:
  void SetUp() override {
    e_ = std::make_unique<Engine>(cfg_);
    SqlError err;
    ASSERT_TRUE(e_->open(err)) << err.text;
    e_->set_user("dba");
  }
  // Every row of a query, values joined by ":" and rows by ","; "error N" on failure.
  std::string rows(const std::string& sql, std::vector<ColumnDesc>* cols = nullptr) {
    SqlError err;
    std::uint32_t id = 0;
    ExecResult res;
    if (!e_->prepare(sql, id, err) || !e_->execute(id, {}, 1000, res, err))
      return "error " + std::to_string(err.sqlcode) + " " + err.text;
    if (cols) {
      EXPECT_TRUE(e_->describe_output(id, *cols, err));
    }
    e_->drop(id);
    std::string out;
    for (const auto& r : res.rows) {
      if (!out.empty()) out += ",";
      for (std::size_t k = 0; k < r.size(); ++k) {
        if (k) out += ":";
        out += r[k].kind == Value::Null ? "-" : value_text(r[k]);
      }
    }
    return out;
  }
  void exec(const std::string& sql) {
    SqlError err;
    ExecResult res;
    ASSERT_TRUE(e_->execute_immediate(sql, res, err)) << sql << ": " << err.text;
  }
  DatabaseConfig cfg_;
  std::unique_ptr<Engine> e_;
};

}  // namespace

TEST(SystemTablesDomains, DeclaredTypesMapToDomainsWidthsAndScales) {
  struct Case {
    const char* declared;
    int domain;
    std::int64_t width;
    int scale;
  };
  const Case cases[] = {
      {"INTEGER", 2, 4, 0},           {"int", 2, 4, 0},
      {"SMALLINT", 1, 2, 0},          {"bigint", 15, 8, 0},
      {"unsigned int", 16, 4, 0},     {"TINYINT", 14, 1, 0},
      {"BIT", 19, 1, 0},              {"varchar(40)", 8, 40, 0},
      {"VARCHAR", 8, 32767, 0},       {"char(5)", 7, 5, 0},
      {"CHAR", 7, 1, 0},              {"long varchar", 9, 32767, 0},
      {"TEXT", 9, 32767, 0},          {"nvarchar(10)", 25, 10, 0},
      {"numeric(10,2)", 3, 10, 2},    {"DECIMAL(7)", 20, 7, 0},
      {"NUMERIC", 3, 30, 6},          {"double", 5, 8, 0},
      {"float", 4, 4, 0},             {"REAL", 4, 4, 0},
      {"date", 6, 4, 0},              {"time", 13, 8, 0},
      {"timestamp", 12, 8, 0},        {"DATETIME", 12, 8, 0},
      {"binary(16)", 10, 16, 0},      {"varbinary(8)", 21, 8, 0},
      {"long binary", 11, 32767, 0},  {"BLOB", 11, 32767, 0},
      {"uniqueidentifier", 22, 16, 0}, {"", 8, 32767, 0},
      {"  Varchar ( 12 )", 8, 12, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.declared);
    const DomainOfType d = domain_of_type(c.declared);
    EXPECT_EQ(d.domain_id, c.domain);
    EXPECT_EQ(d.width, c.width);
    EXPECT_EQ(d.scale, c.scale);
  }
}

TEST_F(SystemTables, TablesAndColumnsFollowTheSchemaAtOnce) {
  EXPECT_EQ(rows("SELECT table_name, table_type FROM SYS.SYSTABLE WHERE table_id >= 1000"), "");
  exec("CREATE TABLE t1(id INTEGER PRIMARY KEY, name VARCHAR(20) NOT NULL DEFAULT 'x', "
       "amount NUMERIC(9,3))");
  exec("CREATE VIEW v1 AS SELECT id FROM t1");
  EXPECT_EQ(rows("SELECT table_name, table_type, creator FROM SYS.SYSTABLE "
                 "WHERE table_id >= 1000 ORDER BY table_name"),
            "t1:BASE:1,v1:VIEW:1");
  EXPECT_EQ(rows("SELECT c.column_id, c.column_name, d.domain_name, c.width, c.scale, c.nulls, "
                 "c.\"default\", c.pkey FROM SYS.SYSCOLUMN c, SYS.SYSDOMAIN d, SYS.SYSTABLE t "
                 "WHERE c.domain_id = d.domain_id AND c.table_id = t.table_id AND "
                 "t.table_name = 't1' ORDER BY c.column_id"),
            "1:id:integer:4:0:N:-:Y,2:name:varchar:20:0:N:'x':N,3:amount:numeric:9:3:Y:-:N");
  exec("DROP VIEW v1");
  exec("ALTER TABLE t1 ADD COLUMN extra DATE");
  EXPECT_EQ(rows("SELECT table_name FROM SYS.SYSTABLE WHERE table_id >= 1000"), "t1");
  EXPECT_EQ(rows("SELECT count(*) FROM SYS.SYSCOLUMN JOIN SYS.SYSTABLE WHERE table_name = 't1'"),
            "4");
  // The system tables describe themselves, owned by SYS.
  EXPECT_EQ(rows("SELECT user_name, table_type FROM SYS.SYSTABLE JOIN SYS.SYSUSERPERMS "
                 "WHERE table_name = 'SYSCOLUMN'"),
            "SYS:BASE");
  EXPECT_EQ(rows("SELECT column_name FROM SYS.SYSCOLUMN JOIN SYS.SYSTABLE "
                 "WHERE table_name = 'SYSDOMAIN' ORDER BY column_id"),
            "domain_id,domain_name,type_id,precision");
  EXPECT_EQ(rows("SELECT user_name FROM SYS.SYSUSERPERMS ORDER BY user_id"),
            "SYS,dba,PUBLIC,dbo");
  EXPECT_EQ(rows("SELECT count(*) FROM SYS.DUMMY"), "1");
}

TEST_F(SystemTables, ARolledBackRefreshIsMadeAgain) {
  SqlError err;
  ASSERT_TRUE(e_->commit(err));
  exec("CREATE TABLE gone(a INTEGER)");
  EXPECT_EQ(rows("SELECT table_name FROM SYS.SYSTABLE WHERE table_id >= 1000"), "gone");
  ASSERT_TRUE(e_->rollback(err));
  EXPECT_EQ(rows("SELECT table_name FROM SYS.SYSTABLE WHERE table_id >= 1000"), "");
  exec("CREATE TABLE kept(a INTEGER)");
  ASSERT_TRUE(e_->commit(err));
  EXPECT_EQ(rows("SELECT table_name FROM SYS.SYSTABLE WHERE table_id >= 1000"), "kept");
  ASSERT_TRUE(e_->rollback(err));
  EXPECT_EQ(rows("SELECT table_name FROM SYS.SYSTABLE WHERE table_id >= 1000"), "kept");
}

TEST(SystemTablesDialect, KeyJoinsGetTheirConditions) {
  struct Case {
    const char* sql;
    const char* want;
  };
  const Case cases[] = {
      {"SELECT 1 FROM SYS.SYSTABLE JOIN SYS.SYSUSERPERMS WHERE 1",
       "SELECT 1 FROM SYS.SYSTABLE JOIN SYS.SYSUSERPERMS ON SYSTABLE.creator = "
       "SYSUSERPERMS.user_id WHERE 1"},
      {"SELECT 1 FROM SYS.SYSCOLUMN JOIN SYS.SYSTABLE JOIN SYS.SYSUSERPERMS JOIN SYS.SYSDOMAIN",
       "SELECT 1 FROM SYS.SYSCOLUMN JOIN SYS.SYSTABLE ON SYSCOLUMN.table_id = SYSTABLE.table_id "
       "JOIN SYS.SYSUSERPERMS ON SYSTABLE.creator = SYSUSERPERMS.user_id JOIN SYS.SYSDOMAIN ON "
       "SYSCOLUMN.domain_id = SYSDOMAIN.domain_id"},
      // Aliases qualify the condition; either order of the pair.
      {"SELECT 1 FROM SYS.SYSUSERPERMS u JOIN SYS.SYSTABLE AS t",
       "SELECT 1 FROM SYS.SYSUSERPERMS u JOIN SYS.SYSTABLE AS t ON u.user_id = t.creator"},
      // An explicit condition, a join of tables without keys, and a cross join stay.
      {"SELECT 1 FROM SYS.SYSTABLE JOIN SYS.SYSUSERPERMS ON (creator = user_id)",
       "SELECT 1 FROM SYS.SYSTABLE JOIN SYS.SYSUSERPERMS ON (creator = user_id)"},
      {"SELECT 1 FROM a JOIN b", "SELECT 1 FROM a JOIN b"},
      {"SELECT 1 FROM SYS.SYSTABLE CROSS JOIN SYS.SYSUSERPERMS",
       "SELECT 1 FROM SYS.SYSTABLE CROSS JOIN SYS.SYSUSERPERMS"},
      {"SELECT 'FROM SYSTABLE JOIN SYSUSERPERMS'", "SELECT 'FROM SYSTABLE JOIN SYSUSERPERMS'"},
  };
  for (const Case& c : cases) EXPECT_EQ(rewrite_key_joins(c.sql), c.want) << c.sql;
}

TEST(SystemTablesDialect, AliasesInWhereStandForTheirExpressions) {
  EXPECT_EQ(rewrite_where_aliases(
                "SELECT CASE WHEN table_type = 'BASE' THEN 'TABLE' END AS TABLE_TYPE FROM t "
                "WHERE x = 1 AND TABLE_TYPE IN ('TABLE') ORDER BY 1"),
            "SELECT CASE WHEN table_type = 'BASE' THEN 'TABLE' END AS TABLE_TYPE FROM t "
            "WHERE x = 1 AND (CASE WHEN table_type = 'BASE' THEN 'TABLE' END) IN ('TABLE') "
            "ORDER BY 1");
  // Qualified names, calls, a subquery's own names and a plain renamed column stay.
  const char* kept[] = {
      "SELECT a + 1 AS b FROM t WHERE t.b = 1",
      "SELECT a + 1 AS b FROM t WHERE x IN (SELECT b FROM u)",
      "SELECT a AS a FROM t WHERE a = 1",
      "SELECT a + 1 AS b FROM t ORDER BY b",
  };
  for (const char* sql : kept) EXPECT_EQ(rewrite_where_aliases(sql), sql);
}

TEST_F(SystemTables, CatalogDialectRunsAndTypesItsColumns) {
  exec("CREATE TABLE t2(table_type VARCHAR(10), b BLOB)");
  exec("INSERT INTO t2 VALUES('BASE', x'0102030405')");
  // The alias wins over the column of the same name.
  EXPECT_EQ(rows("SELECT if table_type = 'BASE' then 'TABLE' else 'OTHER' endif AS TABLE_TYPE "
                 "FROM t2 WHERE TABLE_TYPE IN ('TABLE')"),
            "TABLE");
  EXPECT_EQ(rows("SELECT byte_substr('h\xC3\xA9llo', 2, 2), byte_substr('abc', 2), "
                 "byte_substr('abc', -1, 5), byte_substr(NULL, 1, 2), hex(byte_substr(b, 2, 3)) "
                 "FROM t2"),
            "\xC3\xA9:bc:c:-:020304");
  std::vector<ColumnDesc> cols;
  EXPECT_EQ(rows("SELECT cast(NULL AS CHAR(128)) AS TABLE_CAT, cast(1 AS smallint) AS s, "
                 "(select cast(2 AS integer) from SYS.DUMMY) AS i, "
                 "CASE WHEN 1 = 1 THEN 'SYSTEM VIEW' ELSE 'VIEW' END AS k, table_type "
                 "FROM t2",
                 &cols),
            "-:1:2:SYSTEM VIEW:BASE");
  ASSERT_EQ(cols.size(), 5u);
  EXPECT_EQ(cols[0].type.type, 1);
  EXPECT_EQ(cols[0].type.length, 128u);
  EXPECT_EQ(cols[1].type.type, 5);
  EXPECT_EQ(cols[2].type.type, 4);
  EXPECT_EQ(cols[3].type.type, 1);
  EXPECT_EQ(cols[3].type.length, 11u);
  // A bare column is named as written.
  // A bare column of a catalog statement is named as written.
  EXPECT_EQ(rows("SELECT TABLE_NAME FROM SYS.SYSTABLE WHERE table_name = 'SYSDOMAIN'", &cols),
            "SYSDOMAIN");
  EXPECT_EQ(cols[0].name, "TABLE_NAME");
}

// Keys, indexes and row counts, read back through statements written the way the
// driver's catalog functions write them: unqualified names, key joins and the
// SYSCONSTRAINT join on object ids.
class SystemTablesKeys : public SystemTables {
 protected:
  void SetUp() override {
    SystemTables::SetUp();
    exec("CREATE TABLE dept(code CHAR(4), region INTEGER, name VARCHAR(30) UNIQUE, "
         "PRIMARY KEY(region, code))");
    exec("CREATE TABLE emp(id INTEGER PRIMARY KEY, dcode CHAR(4), dregion INTEGER, "
         "boss INTEGER REFERENCES emp ON DELETE SET NULL, badge INTEGER, "
         "FOREIGN KEY(dregion, dcode) REFERENCES dept(region, code) "
         "ON UPDATE CASCADE ON DELETE RESTRICT, "
         "FOREIGN KEY(badge) REFERENCES dept(region) ON UPDATE NO ACTION)");
    exec("CREATE UNIQUE INDEX emp_badge ON emp(badge DESC)");
    exec("CREATE INDEX emp_dept ON emp(dcode, dregion)");
    exec("CREATE INDEX emp_expr ON emp(badge + 1, id)");
  }
};

TEST_F(SystemTablesKeys, PrimaryKeysAreConstraintsWithTheirColumns) {
  EXPECT_EQ(rows("SELECT table_name, column_name, cast((select count(*) from SYS.SYSCOLUMN "
                 "other where table_id = SYSTABLE.table_id and column_id <= SYSCOLUMN.column_id "
                 "and pkey = 'Y') AS smallint) AS KEY_SEQ, SYSCONSTRAINT.constraint_name AS "
                 "PK_NAME FROM SYS.SYSCOLUMN JOIN SYS.SYSTABLE JOIN SYS.SYSUSERPERMS JOIN "
                 "SYS.SYSCONSTRAINT ON (SYSTABLE.object_id = SYSCONSTRAINT.table_object_id) "
                 "WHERE user_name = 'dba' AND pkey = 'Y' AND constraint_type = 'P' "
                 "ORDER BY 1, 2"),
            "dept:code:1:dept,dept:region:2:dept,emp:id:1:emp");
}

TEST_F(SystemTablesKeys, ForeignKeysKeepColumnsRolesAndRules) {
  const std::string rule =
      "cast(isnull((select if referential_action='C' then 0 else if referential_action='N' "
      "then 2 else 3 endif endif from SYSTRIGGER where table_id=SYSFOREIGNKEY.primary_table_id "
      "and foreign_table_id=SYSFOREIGNKEY.foreign_table_id and "
      "foreign_key_id=SYSFOREIGNKEY.foreign_key_id and event = '";
  EXPECT_EQ(
      rows("SELECT PKTable.table_name, PKColumn.column_name, FKTable.table_name, "
           "FKColumn.column_name, cast((select count(*) from SYS.SYSFKCOL other where "
           "foreign_table_id=SYSFOREIGNKEY.foreign_table_id and "
           "foreign_key_id=SYSFOREIGNKEY.foreign_key_id and primary_column_id <= "
           "SYSFKCOL.primary_column_id) as smallint) AS KEY_SEQ, " +
           rule + "C'),1) AS smallint) AS UPDATE_RULE, " + rule +
           "D'),1) AS smallint) AS DELETE_RULE, role AS FK_NAME, PKConst.constraint_name, "
           "cast(if SYSFOREIGNKEY.check_on_commit = 'Y' then 5 else 6 endif AS smallint) "
           "FROM SYS.SYSUSERPERMS PKUser JOIN SYS.SYSTABLE PKTable JOIN SYS.SYSCONSTRAINT "
           "PKConst ON (PKTABLE.object_id = PKConst.table_object_id) JOIN SYS.SYSCOLUMN "
           "PKColumn, SYS.SYSUSERPERMS FKUser JOIN SYS.SYSTABLE FKTable JOIN SYS.SYSCOLUMN "
           "FKColumn, SYS.SYSFOREIGNKEY JOIN SYS.SYSFKCOL WHERE "
           "PKTable.table_id=SYSFOREIGNKEY.primary_table_id AND "
           "PKColumn.column_id=SYSFKCOL.primary_column_id AND "
           "FKTable.table_id=SYSFOREIGNKEY.foreign_table_id AND "
           "FKColumn.column_id=SYSFKCOL.foreign_column_id AND FKTable.table_name = 'emp' "
           "AND PKConst.constraint_type='P' ORDER BY 1, 8, 5"),
      // The key without its own columns named takes the primary key's, in key order;
      // CASCADE is 0, SET NULL 2, NO ACTION (SQLite's default) 3 and RESTRICT (no
      // trigger) 1; the second key to one table is its role numbered 2.
      "dept:code:emp:dcode:1:0:1:dept:dept:6,dept:region:emp:dregion:2:0:1:dept:dept:6,"
      "dept:region:emp:badge:1:3:3:dept2:dept:6,emp:id:emp:boss:1:3:2:emp:emp:6");
}

TEST_F(SystemTablesKeys, IndexesKeepTheirKindsColumnsAndOrder) {
  EXPECT_EQ(rows("SELECT index_name, \"unique\", column_name, sequence, \"order\" "
                 "FROM SYS.SYSCOLUMN JOIN SYS.SYSIXCOL JOIN SYS.SYSINDEX JOIN SYS.SYSTABLE "
                 "JOIN SYS.SYSUSERPERMS WHERE user_name = 'dba' ORDER BY table_name, "
                 "SYSINDEX.index_id, sequence"),
            // The unique constraint's index is 'U', a unique index 'Y'; the primary key
            // is no index, and an expression drops out of its index.
            "sqlite_autoindex_dept_1:U:name:0:A,emp_badge:Y:badge:0:D,"
            "emp_dept:N:dcode:0:A,emp_dept:N:dregion:1:A,emp_expr:N:id:0:A");
  // The best row identifier of a table without a primary key: its first unique index.
  exec("CREATE TABLE nokey(a INTEGER, b INTEGER NOT NULL UNIQUE)");
  EXPECT_EQ(rows("SELECT column_name FROM SYS.SYSCOLUMN JOIN SYS.SYSTABLE JOIN "
                 "SYS.SYSUSERPERMS WHERE table_name = 'nokey' AND (pkey = 'Y' or "
                 "(SYSTABLE.table_id not in (select table_id from SYSCOLUMN where pkey='Y') "
                 "and column_id in (select column_id from SYSIXCOL where "
                 "table_id=SYSTABLE.table_id and index_id = coalesce( (select min(index_id) "
                 "from SYSINDEX where table_id=SYSTABLE.table_id and \"unique\" = 'U'), "
                 "(select min(index_id) from SYSINDEX where table_id=SYSTABLE.table_id and "
                 "\"unique\" = 'Y' and index_id not in (select index_id from SYSIXCOL join "
                 "SYSCOLUMN where SYSCOLUMN.table_id=SYSTABLE.table_id and "
                 "SYSIXCOL.table_id=SYSTABLE.table_id and nulls = 'Y') )))))"),
            "b");
}

TEST_F(SystemTablesKeys, KeysFollowSchemaChangesAndCountsFollowRows) {
  const std::string counts =
      "SELECT table_name, cast(count AS integer) FROM SYS.SYSTABLE JOIN SYS.SYSUSERPERMS "
      "WHERE user_name = 'dba' ORDER BY 1";
  EXPECT_EQ(rows(counts), "dept:0,emp:0");
  exec("INSERT INTO dept VALUES('a', 1, 'one'), ('b', 1, 'two')");
  exec("INSERT INTO emp(id) VALUES(1)");
  EXPECT_EQ(rows(counts), "dept:2,emp:1");
  exec("DELETE FROM dept WHERE code = 'a'");
  EXPECT_EQ(rows(counts), "dept:1,emp:1");
  exec("DROP INDEX emp_dept");
  exec("DROP TABLE emp");
  EXPECT_EQ(rows("SELECT count(*) FROM SYS.SYSINDEX"), "1");
  EXPECT_EQ(rows("SELECT count(*) FROM SYS.SYSFOREIGNKEY"), "0");
  EXPECT_EQ(rows("SELECT count(*) FROM SYS.SYSTRIGGER"), "0");
  EXPECT_EQ(rows("SELECT count(*) FROM SYS.SYSCONSTRAINT"), "1");
}
