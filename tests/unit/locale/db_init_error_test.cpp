#include "utils/locale/db_init_error.h"

#include <gtest/gtest.h>

#include <set>

#include "scoped_env.h"
#include "utils/locale/lang_string.h"
#include "utils/locale/utlocale.h"

namespace {

TEST(DBInitError, MapShape) {
  int rows = 0;
  std::set<a_db_init_error> seen;
  for (const a_db_init_error_map* row = DBInitErrorMap; row->error != kDBInitMapEnd; ++row) {
    EXPECT_TRUE(seen.insert(row->error).second) << row->error;
    EXPECT_GE(row->parameter_type, 0);
    EXPECT_LE(row->parameter_type, 10);
    ++rows;
  }
  EXPECT_EQ(58, rows);
  EXPECT_EQ(0, DBInitErrorMap[0].error);
  // Every code from -30000 to -29944 has a row.
  for (a_db_init_error e = -30000; e <= -29944; ++e) EXPECT_EQ(1u, seen.count(e)) << e;
}

TEST(DBInitError, Lookups) {
  struct Case {
    a_db_init_error error;
    bool has_message;
    unsigned long id;      // of the two-argument form
    unsigned long any_id;  // of the one-argument form
    std::int32_t sqlstate;
    std::int32_t parm_type;
  };
  const Case cases[] = {
      {0, true, 5309, 5309, 0, 9},
      {-30000, true, 5306, 5306, 455, 1},
      {-29993, true, 8823, 8823, 524, 5},
      {-29984, true, 14511, 14511, 1005, 10},
      {-29968, false, 0, 5039, 1005, 9},
      {-29967, true, 2031, 2031, 980, 1},
      {-29966, false, 0, 5039, 977, 9},
      {-29962, true, 2463, 2463, 1000, 9},
      {-29945, true, 25099, 25099, 1005, 8},
      {-29944, true, 18476, 18476, 1005, 0},
      {-1, false, 0, 5039, 1005, 10},
      {2, false, 0, 5031, 1005, 10},  // no row: the errno message of the same number
      {-30001, false, 0, 5039, 1005, 10},
      {-29943, false, 0, 5039, 1005, 10},
  };
  for (const Case& c : cases) {
    unsigned long id = 77;
    EXPECT_EQ(c.has_message, MapADBInitError(c.error, id)) << c.error;
    EXPECT_EQ(c.id, id) << c.error;
    EXPECT_EQ(c.any_id, MapADBInitError(c.error)) << c.error;
    EXPECT_EQ(c.sqlstate, DBInitErrorSQLSTATE(c.error)) << c.error;
    EXPECT_EQ(c.parm_type, DBInitErrorParmType(c.error)) << c.error;
  }
}

TEST(DBInitError, FormatsTheMessageWithTwoArguments) {
  ScopedEnv env;
  UTLocale locale;
  UTLangString strings(&locale);
  ASSERT_EQ(LS_INIT_SUCCESS,
            strings.Init("en", UTLocale::GetCharsetInfoFromLabel("UTF-8", kSchemeAll), 0));
  char buf[128];
  EXPECT_STREQ("Connection set-up failed: first",
               MapADBInitErrorToString(strings, -29994, buf, sizeof buf, "first", "second"));
  EXPECT_STREQ("Success", MapADBInitErrorToString(strings, 0, buf, sizeof buf, "a", "b"));
  EXPECT_STREQ("Unknown error (?\?\?)",
               MapADBInitErrorToString(strings, -29968, buf, sizeof buf, nullptr, nullptr));
  EXPECT_STREQ("Co", MapADBInitErrorToString(strings, -29994, buf, 3, "x", "y"));
}

}  // namespace
