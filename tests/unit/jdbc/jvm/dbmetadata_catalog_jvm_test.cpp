// The metadata peer's catalog methods over the recording ODBC API of fake_odbc_api.cpp:
// which catalog function each calls with which arguments (the Java strings pinned as
// given, null kept null with length 0, a string too long for a 16-bit length passed
// whole with SQL_NTS, the derived numbers), the cache of five statements under calls that
// fail.
#include <jni.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fake_odbc_api.h"
#include "jvm_test_support.h"
#include "jdbcodbc/c/connection.h"
#include "jdbcodbc/c/dbmetadata.h"

namespace {

class MetaDataCatalog : public ::testing::Test {
 protected:
  void SetUp() override {
    env = jvm_test::CurrentEnv();
    if (env == nullptr) GTEST_SKIP() << "no Java VM in a sanitizer build";
    fake_odbc::records = {{"42S02", -141, u"Table 'orders' not found"}};
    fake_odbc::catalog_calls.clear();
    fake_odbc::catalog_result = SQL_ERROR;
    static int dbc = 0;
    connection = new Connection(env, &dbc, nullptr, nullptr, kDriverBuildNumber);
    ASSERT_NE(connection->createJobj(env), nullptr);
    md = new DatabaseMetaData(env, connection);
  }
  void TearDown() override {
    if (env == nullptr) return;
    md->fini(env);
    EXPECT_EQ(md->cachedStatements(nullptr), 0);
    delete md;
    connection->fini(env);
    delete connection;
    fake_odbc::records.clear();
    EXPECT_FALSE(env->ExceptionCheck());
  }

  std::string TakeState() { return jvm_test::TakePending(env, "getSQLState"); }

 public:
  // The cases below reach the fixture through a pointer.
  jstring J(const std::string& text) { return env->NewStringUTF(text.c_str()); }
  JNIEnv* env = nullptr;
  Connection* connection = nullptr;
  DatabaseMetaData* md = nullptr;
};

TEST_F(MetaDataCatalog, EachMethodCallsItsFunctionWithPinnedTextsAndDerivedNumbers) {
  const std::string longName(40000, 'x');
  struct Case {
    const char* name;
    std::function<jobject(MetaDataCatalog*)> call;
    const char* function;
    std::vector<std::string> texts;  // "<null>" for a null pointer
    std::vector<long> lengths;
    std::vector<long> numbers;
  };
  const Case cases[] = {
      {"tables", [](MetaDataCatalog* t) {
         return t->md->getTables(t->env, nullptr, t->J("dba"), t->J("ord%"), t->J("TABLE"));
       }, "SQLTablesW", {"<null>", "dba", "ord%", "TABLE"}, {0, 3, 4, 5}, {}},
      {"a name longer than a 16-bit length goes whole, terminated", [&](MetaDataCatalog* t) {
         return t->md->getColumns(t->env, nullptr, nullptr, t->J(longName), t->J(""));
       }, "SQLColumnsW", {"<null>", "<null>", longName, ""}, {0, 0, SQL_NTS, 0}, {}},
      {"imported keys are the foreign side", [](MetaDataCatalog* t) {
         return t->md->getImportedKeys(t->env, t->J("c"), t->J("s"), t->J("t"));
       }, "SQLForeignKeysW", {"<null>", "<null>", "<null>", "c", "s", "t"}, {0, 0, 0, 1, 1, 1}, {}},
      {"exported keys are the primary side", [](MetaDataCatalog* t) {
         return t->md->getExportedKeys(t->env, t->J("c"), t->J("s"), t->J("t"));
       }, "SQLForeignKeysW", {"c", "s", "t", "<null>", "<null>", "<null>"}, {1, 1, 1, 0, 0, 0}, {}},
      {"index info unique, exact", [](MetaDataCatalog* t) {
         return t->md->getIndexInfo(t->env, nullptr, nullptr, t->J("t"), true, false);
       }, "SQLStatisticsW", {"<null>", "<null>", "t"}, {0, 0, 1}, {SQL_INDEX_UNIQUE, SQL_ENSURE}},
      {"index info all, approximate", [](MetaDataCatalog* t) {
         return t->md->getIndexInfo(t->env, nullptr, nullptr, t->J("t"), false, true);
       }, "SQLStatisticsW", {"<null>", "<null>", "t"}, {0, 0, 1}, {SQL_INDEX_ALL, SQL_QUICK}},
      {"best row, scope 7 asks for the session", [](MetaDataCatalog* t) {
         return t->md->getBestRowIdentifier(t->env, nullptr, nullptr, t->J("t"), 7, false);
       }, "SQLSpecialColumnsW", {"<null>", "<null>", "t"}, {0, 0, 1},
       {SQL_BEST_ROWID, SQL_SCOPE_SESSION, SQL_NO_NULLS}},
      {"best row, scope 0", [](MetaDataCatalog* t) {
         return t->md->getBestRowIdentifier(t->env, nullptr, nullptr, t->J("t"), 0, true);
       }, "SQLSpecialColumnsW", {"<null>", "<null>", "t"}, {0, 0, 1},
       {SQL_BEST_ROWID, SQL_SCOPE_CURROW, SQL_NULLABLE}},
      {"version columns", [](MetaDataCatalog* t) {
         return t->md->getVersionColumns(t->env, nullptr, nullptr, t->J("t"));
       }, "SQLSpecialColumnsW", {"<null>", "<null>", "t"}, {0, 0, 1},
       {SQL_ROWVER, SQL_SCOPE_SESSION, SQL_NULLABLE}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_odbc::catalog_calls.clear();
    // The driver refuses: the method answers null with the diagnostics thrown.
    EXPECT_EQ(c.call(this), nullptr);
    EXPECT_EQ(TakeState(), "42S02");
    ASSERT_EQ(fake_odbc::catalog_calls.size(), 1u);
    const fake_odbc::CatalogCall& got = fake_odbc::catalog_calls[0];
    EXPECT_EQ(got.function, c.function);
    ASSERT_EQ(got.texts.size(), c.texts.size());
    for (std::size_t i = 0; i < c.texts.size(); ++i) {
      EXPECT_EQ(got.texts[i].text, c.texts[i]) << "text " << i;
      EXPECT_EQ(got.texts[i].length, c.lengths[i]) << "text " << i;
    }
    EXPECT_EQ(got.numbers, c.numbers);
  }
}

TEST_F(MetaDataCatalog, FailedCallsStayCachedAndTheSixthEvictsTheOldest) {
  std::vector<Statement*> before(DatabaseMetaData::kCacheSlots);
  for (int call = 1; call <= 7; ++call) {
    SCOPED_TRACE(call);
    const int count = md->cachedStatements(before.data());
    EXPECT_EQ(md->getPrimaryKeys(env, nullptr, nullptr, J("t")), nullptr);
    EXPECT_EQ(TakeState(), "42S02");
    Statement* after[DatabaseMetaData::kCacheSlots] = {};
    const int now = md->cachedStatements(after);
    if (call <= DatabaseMetaData::kCacheSlots) {
      ASSERT_EQ(now, call);
      for (int i = 0; i < count; ++i) EXPECT_EQ(after[i], before[i]);
    } else {
      ASSERT_EQ(now, DatabaseMetaData::kCacheSlots);
      for (int i = 0; i + 1 < now; ++i) EXPECT_EQ(after[i], before[i + 1]) << "slot " << i;
    }
    for (int i = 0; i < now; ++i) EXPECT_EQ(after[i]->owningMetadata(), md);
  }
  // A statement that is not cached changes nothing.
  Statement* slots[DatabaseMetaData::kCacheSlots] = {};
  md->cachedStatements(slots);
  md->removeFromStatementCache(nullptr, 1);
  EXPECT_EQ(md->cachedStatements(nullptr), DatabaseMetaData::kCacheSlots);
  // Taking out the third keeps the others in order at the front.
  md->removeFromStatementCache(slots[2], 1);
  Statement* packed[DatabaseMetaData::kCacheSlots] = {};
  ASSERT_EQ(md->cachedStatements(packed), 4);
  EXPECT_EQ(packed[0], slots[0]);
  EXPECT_EQ(packed[1], slots[1]);
  EXPECT_EQ(packed[2], slots[3]);
  EXPECT_EQ(packed[3], slots[4]);
  // Put back for the teardown, which must clean up every statement it made.
  Statement::cleanup(env, slots[2]->getJobj(), 0, 1);
}

}  // namespace
