// The statement peer's catalog calls, in the Java VM the bridge tests start
// (bridge_jvm_test.cpp), over the recording catalog functions of fake_odbc_api.cpp: each
// call reaches its own ODBC function on the statement's handle with its text arguments
// unchanged (the same pointers, a null pointer kept null, an empty text kept empty, the
// lengths as given) and its flags in their places; a result the driver made is handed
// back, a driver error is thrown with its diagnostics.
#include <jni.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fake_odbc_api.h"
#include "jvm_test_support.h"
#include "jdbcodbc/c/connection.h"
#include "jdbcodbc/c/statement.h"

namespace {

using WText = Statement::WText;

const SQLWCHAR* Units(const char16_t* text) { return reinterpret_cast<const SQLWCHAR*>(text); }

// The texts a metadata caller hands over: a pattern with an explicit length shorter than
// its buffer, so a length taken from the terminator shows; terminated texts; an empty
// text; and null.
const char16_t kCatalog[] = u"shopXX";
const char16_t kSchema[] = u"dba";
const char16_t kTable[] = u"orders%";
const char16_t kColumn[] = u"";
const char16_t kTypes[] = u"'TABLE','VIEW'";
const char16_t kFkCatalog[] = u"depot";
const char16_t kFkTable[] = u"lines";

const WText catalog{Units(kCatalog), 4};  // "shop"
const WText schema{Units(kSchema), SQL_NTS};
const WText table{Units(kTable), 7};
const WText column{Units(kColumn), 0};
const WText types{Units(kTypes), SQL_NTS};
const WText none{nullptr, SQL_NTS};
const WText fkCatalog{Units(kFkCatalog), 5};
const WText fkTable{Units(kFkTable), SQL_NTS};

struct Text {
  const void* pointer;
  long length;
  std::string text;
};
Text Of(const WText& w, const char* text) { return {w.text, w.length, text}; }

struct Case {
  const char* name;
  std::function<bool(JNIEnv*, Statement*)> call;
  const char* function;
  // Narrow texts are compared by content and length only: their pointers are the peer's.
  bool narrow;
  std::vector<Text> texts;
  std::vector<long> numbers;
};

// The 14 catalog calls; the flags of one call differ from one another, so a swap shows.
const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"getTables",
       [](JNIEnv* e, Statement* s) { return s->getTables(e, catalog, schema, table, types); },
       "SQLTablesW", false,
       {Of(catalog, "shop"), Of(schema, "dba"), Of(table, "orders%"),
        Of(types, "'TABLE','VIEW'")},
       {}},
      {"getColumns",
       [](JNIEnv* e, Statement* s) { return s->getColumns(e, none, schema, table, column); },
       "SQLColumnsW", false,
       {Of(none, "<null>"), Of(schema, "dba"), Of(table, "orders%"), Of(column, "")},
       {}},
      {"getColumnPrivileges",
       [](JNIEnv* e, Statement* s) {
         return s->getColumnPrivileges(e, catalog, none, table, column);
       },
       "SQLColumnPrivilegesW", false,
       {Of(catalog, "shop"), Of(none, "<null>"), Of(table, "orders%"), Of(column, "")},
       {}},
      {"getTablePrivileges",
       [](JNIEnv* e, Statement* s) { return s->getTablePrivileges(e, column, schema, table); },
       "SQLTablePrivilegesW", false,
       {Of(column, ""), Of(schema, "dba"), Of(table, "orders%")},
       {}},
      {"getPrimaryKeys",
       [](JNIEnv* e, Statement* s) { return s->getPrimaryKeys(e, catalog, schema, fkTable); },
       "SQLPrimaryKeysW", false,
       {Of(catalog, "shop"), Of(schema, "dba"), Of(fkTable, "lines")},
       {}},
      {"getProcedures",
       [](JNIEnv* e, Statement* s) { return s->getProcedures(e, none, none, table); },
       "SQLProceduresW", false,
       {Of(none, "<null>"), Of(none, "<null>"), Of(table, "orders%")},
       {}},
      {"getProcedureColumns",
       [](JNIEnv* e, Statement* s) {
         return s->getProcedureColumns(e, catalog, schema, table, fkTable);
       },
       "SQLProcedureColumnsW", false,
       {Of(catalog, "shop"), Of(schema, "dba"), Of(table, "orders%"), Of(fkTable, "lines")},
       {}},
      {"getStatistics unique, ensure",
       [](JNIEnv* e, Statement* s) {
         return s->getStatistics(e, catalog, schema, fkTable, SQL_INDEX_UNIQUE, SQL_ENSURE);
       },
       "SQLStatisticsW", false,
       {Of(catalog, "shop"), Of(schema, "dba"), Of(fkTable, "lines")},
       {SQL_INDEX_UNIQUE, SQL_ENSURE}},
      {"getStatistics all, quick",
       [](JNIEnv* e, Statement* s) {
         return s->getStatistics(e, none, column, table, SQL_INDEX_ALL, SQL_QUICK);
       },
       "SQLStatisticsW", false,
       {Of(none, "<null>"), Of(column, ""), Of(table, "orders%")},
       {SQL_INDEX_ALL, SQL_QUICK}},
      {"getSpecialColumns best row, session, no nulls",
       [](JNIEnv* e, Statement* s) {
         return s->getSpecialColumns(e, SQL_BEST_ROWID, catalog, schema, fkTable,
                                     SQL_SCOPE_SESSION, SQL_NO_NULLS);
       },
       "SQLSpecialColumnsW", false,
       {Of(catalog, "shop"), Of(schema, "dba"), Of(fkTable, "lines")},
       {SQL_BEST_ROWID, SQL_SCOPE_SESSION, SQL_NO_NULLS}},
      {"getSpecialColumns row version, current row, nullable",
       [](JNIEnv* e, Statement* s) {
         return s->getSpecialColumns(e, SQL_ROWVER, none, column, table, SQL_SCOPE_CURROW,
                                     SQL_NULLABLE);
       },
       "SQLSpecialColumnsW", false,
       {Of(none, "<null>"), Of(column, ""), Of(table, "orders%")},
       {SQL_ROWVER, SQL_SCOPE_CURROW, SQL_NULLABLE}},
      {"getForeignKeys",
       [](JNIEnv* e, Statement* s) {
         return s->getForeignKeys(e, catalog, schema, table, fkCatalog, none, fkTable);
       },
       "SQLForeignKeysW", false,
       {Of(catalog, "shop"), Of(schema, "dba"), Of(table, "orders%"), Of(fkCatalog, "depot"),
        Of(none, "<null>"), Of(fkTable, "lines")},
       {}},
      {"getTableTypes",
       [](JNIEnv* e, Statement* s) { return s->getTableTypes(e); },
       "SQLTables", true,
       {{nullptr, SQL_NTS, ""}, {nullptr, SQL_NTS, ""}, {nullptr, SQL_NTS, ""},
        {nullptr, SQL_NTS, "%"}},
       {}},
      {"getSchemas",
       [](JNIEnv* e, Statement* s) { return s->getSchemas(e); },
       "SQLTables", true,
       {{nullptr, SQL_NTS, ""}, {nullptr, SQL_NTS, "%"}, {nullptr, SQL_NTS, ""},
        {nullptr, SQL_NTS, "<null>"}},
       {}},
      {"getCatalogs",
       [](JNIEnv* e, Statement* s) { return s->getCatalogs(e); },
       "SQLTables", true,
       {{nullptr, SQL_NTS, "%"}, {nullptr, SQL_NTS, ""}, {nullptr, SQL_NTS, ""},
        {nullptr, SQL_NTS, "<null>"}},
       {}},
      {"getTypeInfo",
       [](JNIEnv* e, Statement* s) { return s->getTypeInfo(e); },
       "SQLGetTypeInfo", false, {}, {SQL_ALL_TYPES}},
  };
  return cases;
}

// A joined connection with one statement over the fake API.
class CatalogCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    env = jvm_test::CurrentEnv();
    if (env == nullptr) GTEST_SKIP() << "no Java VM in a sanitizer build";
    fake_odbc::records.clear();
    fake_odbc::catalog_calls.clear();
    static int dbc = 0;
    connection = new Connection(env, &dbc, nullptr, nullptr, kDriverBuildNumber);
    ASSERT_NE(connection->createJobj(env), nullptr);
    stmt = new Statement(env, connection, kJdbcForwardOnly, kJdbcConcurReadOnly, true);
    ASSERT_FALSE(env->ExceptionCheck());
    ASSERT_NE(stmt->handle(), nullptr);
  }
  void TearDown() override {
    if (env == nullptr) return;
    fake_odbc::records.clear();
    fake_odbc::catalog_result = SQL_ERROR;
    Statement::discard(env, stmt);
    connection->fini(env);
    delete connection;
    EXPECT_FALSE(env->ExceptionCheck());
  }

  // The SQLSTATE of the pending exception, which is cleared; "" when none is pending.
  std::string TakeState() { return jvm_test::TakePending(env, "getSQLState"); }

  JNIEnv* env = nullptr;
  Connection* connection = nullptr;
  Statement* stmt = nullptr;
};

TEST_F(CatalogCalls, EachReachesItsFunctionWithItsArgumentsAndHandsTheResultBack) {
  fake_odbc::catalog_result = SQL_SUCCESS;
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    fake_odbc::catalog_calls.clear();
    EXPECT_TRUE(c.call(env, stmt));
    EXPECT_EQ(TakeState(), "");
    ASSERT_EQ(fake_odbc::catalog_calls.size(), 1u);
    const fake_odbc::CatalogCall& got = fake_odbc::catalog_calls[0];
    EXPECT_EQ(got.function, c.function);
    EXPECT_EQ(got.statement, stmt->handle());
    ASSERT_EQ(got.texts.size(), c.texts.size());
    for (std::size_t i = 0; i < c.texts.size(); ++i) {
      SCOPED_TRACE("text argument " + std::to_string(i + 1));
      EXPECT_EQ(got.texts[i].text, c.texts[i].text);
      EXPECT_EQ(got.texts[i].length, c.texts[i].length);
      if (!c.narrow) {
        EXPECT_EQ(got.texts[i].pointer, c.texts[i].pointer);
      } else if (c.texts[i].text == "<null>") {
        EXPECT_EQ(got.texts[i].pointer, nullptr);
      }
    }
    EXPECT_EQ(got.numbers, c.numbers);
  }
}

TEST_F(CatalogCalls, DriverResultsAreReportedAsTheDriverGaveThem) {
  struct Outcome {
    const char* name;
    SQLRETURN rc;
    bool result;
    const char* thrown;  // SQLSTATE of the exception left pending, "" for none
    bool warned;         // the statement keeps a warning for Java's getWarnings
  };
  const Outcome outcomes[] = {
      {"success with information is a result", SQL_SUCCESS_WITH_INFO, true, "", true},
      {"no data is a result", SQL_NO_DATA, true, "", false},
      {"an error throws its diagnostics", SQL_ERROR, false, "42S02", false},
  };
  for (const Outcome& o : outcomes) {
    for (const Case& c : Cases()) {
      SCOPED_TRACE(std::string(o.name) + ": " + c.name);
      fake_odbc::records = {{"42S02", -141, u"Table 'orders' not found"}};
      if (o.rc == SQL_SUCCESS_WITH_INFO) fake_odbc::records[0].state = "01000";
      fake_odbc::catalog_result = o.rc;
      fake_odbc::catalog_calls.clear();
      stmt->clearWarnings(env);
      EXPECT_EQ(c.call(env, stmt), o.result);
      EXPECT_EQ(TakeState(), o.thrown);
      EXPECT_EQ(stmt->getWarnings() != nullptr, o.warned);
      EXPECT_EQ(fake_odbc::catalog_calls.size(), 1u);
    }
  }
}

}  // namespace
