// Date names of an environment: English alone before the catalog is read, the user's
// language first and English second after, the names dropped again at Fini, missing
// messages, and the sets list.
#include "utils/etc/jdate_names.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "date_test_support.h"
#include "utils/etc/date_format.h"
#include "utils/etc/date_parse.h"
#include "utils/etc/schedule.h"
#include "utils/locale/collation.h"
#include "utils/locale/lang_string.h"
#include "utils/locale/utlocale.h"

namespace {

using datetest::MakeTime;
using datetest::Show;

// A catalog over the build's generated message files, found beside the test program
// ("../res/").
class DateNames : public ::testing::Test {
 protected:
  static const CharsetInfo* Utf8() {
    return UTLocale::GetCharsetInfoFromLabel("UTF-8", kSchemeAll);
  }

  static std::string Parse(const JDate& names, const char* text, int order = 0) {
    a_time out{};
    if (strtotime_with_century_ex(text, &out, order, nullptr, 50, names.name_sets(), nullptr) !=
        1)
      return "";
    return Show(out);
  }

  static std::string Format(const a_jdate_langstrings& names, const a_time& t,
                            const char* picture) {
    char buf[96];
    timetostring_nullterm_ex(&t, buf, sizeof buf, picture, &names, nullptr);
    return buf;
  }

  UTLocale locale_;
};

TEST_F(DateNames, EnglishOnlyUntilInitThenBothLanguages) {
  JDate names(nullptr);
  ASSERT_EQ(names.name_sets()->count, 2);
  EXPECT_EQ(names.name_sets()->sets[0], &names.own_names());
  EXPECT_EQ(names.name_sets()->sets[1], &JDT_english_langstrings);
  EXPECT_EQ(names.longest(), 9u);  // "September", "Wednesday"

  const std::string march5 = Show(MakeTime(2024, 3, 5));
  EXPECT_EQ(Parse(names, "Dienstag, 5. M\xC3\xA4rz 2024"), "");
  EXPECT_EQ(Parse(names, "Tuesday, 5 March 2024"), march5);

  UTLangString catalog(&locale_);
  ASSERT_EQ(catalog.Init("de", Utf8(), 0), LS_INIT_SUCCESS);
  names.Init(catalog);
  EXPECT_EQ(names.longest(), 11u);  // "nachmittags"
  const a_jdate_langstrings& de = names.own_names();
  EXPECT_STREQ(de.months[2], "M\xC3\xA4rz");
  EXPECT_STREQ(de.short_months[11], "Dez");
  EXPECT_STREQ(de.days[3], "Mittwoch");
  EXPECT_STREQ(de.short_days[2], "Di");
  EXPECT_EQ(de.months[12], nullptr);
  EXPECT_EQ(de.days[7], nullptr);
  EXPECT_STREQ(de.indicators[kLongMorning], "vormittags");
  EXPECT_STREQ(de.indicators[kShortAfternoon], "PM");  // not translated: the English text

  struct Case {
    const char* text;
    int order;
    std::string expected;
  } cases[] = {
      {"Dienstag, 5. M\xC3\xA4rz 2024", 0, march5},
      {"5. m\xC3\xA4rz 2024", 0, march5},
      {"Tuesday, 5 March 2024", 0, march5},
      {"3. Dez 2024 14:30", 0, Show(MakeTime(2024, 12, 3, 14, 30))},
      {"Oktober 2024", 0, Show(MakeTime(2024, 10, 1))},
      {"Okt 7 2024", 2, Show(MakeTime(2024, 10, 7))},
      {"Donnerstag Mittwoch 2024-03-06", 1, ""},  // two day names
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Parse(names, c.text, c.order), c.expected) << c.text;
  }
  a_time picture_out{};
  EXPECT_EQ(strtotimefmt_with_century_ex("03 Dez 2024", &picture_out, "dd Mmm yyyy", nullptr,
                                         50, names.name_sets()),
            1);
  EXPECT_EQ(Show(picture_out), Show(MakeTime(2024, 12, 3)));
  EXPECT_EQ(strtoweekday_ex("Mittwoch", nullptr, names.name_sets()), 3);
  EXPECT_EQ(strtoweekday_ex("Wednesday", nullptr, names.name_sets()), 3);

  const a_time t = MakeTime(2024, 3, 5, 15, 7);
  EXPECT_EQ(Format(de, t, "Dddddddddd, dd. Mmmmmmmmm yyyy"), "Dienstag, 05. M\xC3\xA4rz 2024");
  EXPECT_EQ(Format(de, MakeTime(2024, 12, 3), "Ddd dd Mmm"), "Di 03 Dez");
  EXPECT_EQ(Format(de, MakeTime(2024, 12, 3), "DDD dd MMM"), "DI 03 DEZ");
  EXPECT_EQ(Format(JDT_english_langstrings, MakeTime(2024, 12, 3), "Ddd dd Mmm"), "Tue 03 Dec");

  // A schedule names its day in either language.
  unsigned recurring = 9, to_start = 0, to_end = 0;
  const jdate tuesday_noon = jday(3, 5, 2024) + 12 * 60;
  EXPECT_EQ(parseSchedule(names.name_sets(), nullptr, "Mittwoch@9:00", tuesday_noon, &recurring,
                          &to_start, &to_end),
            1);
  EXPECT_EQ(to_start, 21u * 60u);
  EXPECT_EQ(parseSchedule(names.name_sets(), nullptr, "Wed@9:00", tuesday_noon, &recurring,
                          &to_start, &to_end),
            1);
  EXPECT_EQ(to_start, 21u * 60u);

  // Loading again replaces the names (the old ones are freed).
  UTLangString english(&locale_);
  ASSERT_EQ(english.Init("en", Utf8(), 0), LS_INIT_SUCCESS);
  names.Init(english);
  EXPECT_STREQ(names.own_names().months[2], "March");
  EXPECT_STREQ(names.own_names().indicators[kLongMorning], "AM");
  EXPECT_EQ(names.longest(), 9u);
  EXPECT_EQ(Parse(names, "5. M\xC3\xA4rz 2024"), "");

  names.Init(catalog);
  names.Fini();
  EXPECT_EQ(names.own_names().months[0], nullptr);
  EXPECT_EQ(names.longest(), 9u);
  EXPECT_EQ(Parse(names, "5. M\xC3\xA4rz 2024"), "");
  EXPECT_EQ(Parse(names, "5 March 2024"), march5);
}

TEST_F(DateNames, MissingMessagesLeaveNamesNull) {
  UTLangStringBase empty_catalog(&locale_);  // no files: every message is missing
  JDate names(nullptr);
  names.Init(empty_catalog);
  const a_jdate_langstrings& own = names.own_names();
  EXPECT_EQ(own.months[0], nullptr);
  EXPECT_EQ(own.indicators[kShortMorning], nullptr);
  EXPECT_EQ(names.longest(), 9u);
  EXPECT_EQ(Format(own, MakeTime(2024, 3, 5, 9), "Ddd dd Mmm hh:nnaa"), "0 05 0 09:0000");
  EXPECT_EQ(Parse(names, "5 March 2024 9:00 am"), Show(MakeTime(2024, 3, 5, 9)));
}

// Under a UTF-8 collation a name field counts characters, not bytes, and names match
// without regard to case.
TEST_F(DateNames, NamesUnderAUtf8Collation) {
  UTCollation collation(nullptr);
  const CollationInfo* info = UTLocale::GetCollationInfoFromLabel("UTF8");
  ASSERT_NE(info, nullptr);
  ASSERT_EQ(collation.do_set_collation(false, nullptr, info, info->charset, nullptr,
                                       UTCollationTailoring('n'), 0),
            1u);
  const UTCollationImplementationBase* coll = &collation.implementation();
  JDate names(&collation);
  EXPECT_EQ(names.collation(), &collation);
  UTLangString catalog(&locale_);
  ASSERT_EQ(catalog.Init("de", Utf8(), 0), LS_INIT_SUCCESS);
  names.Init(catalog);
  const a_jdate_langstrings& de = names.own_names();

  const a_time march5 = MakeTime(2024, 3, 5, 15, 7);
  char buf[64];
  unsigned n = timetostring_nullterm_ex(&march5, buf, sizeof buf, "Ddd dd Mmm yyyy", &de, coll);
  EXPECT_STREQ(buf, "Di 05 M\xC3\xA4r 2024");
  EXPECT_EQ(n, 15u);
  // A short month name is three characters, here four bytes.
  n = timetostring_nullterm_ex(&march5, buf, sizeof buf, "Mm-Mmm:", &de, coll);
  EXPECT_STREQ(buf, "3-M\xC3\xA4r:");
  // A multi-byte literal is copied whole, or not at all when it does not fit.
  n = timetostring_nullterm_ex(&march5, buf, 5, "dd\xC3\xA4yyyy", &de, coll);
  EXPECT_STREQ(buf, "05\xC3\xA4");
  n = timetostring_nullterm_ex(&march5, buf, 4, "dd\xC3\xA4yyyy", &de, coll);
  EXPECT_STREQ(buf, "05");

  a_time out{};
  ASSERT_EQ(strtotimefmt_with_century_ex("05 m\xC3\xA4r 2024", &out, "dd Mmm yyyy", coll, 50,
                                         names.name_sets()),
            1);
  EXPECT_EQ(Show(out), Show(MakeTime(2024, 3, 5)));
  ASSERT_EQ(strtotime_with_century_ex("DIENSTAG 5. M\xC3\xA4RZ 2024 3:07 pm", &out, 0, coll, 50,
                                      names.name_sets(), nullptr),
            1);
  EXPECT_EQ(Show(out), Show(march5));
  EXPECT_EQ(strtoweekday_ex("mittwoch", coll, names.name_sets()), 3);
  unsigned recurring = 0, to_start = 0, to_end = 0;
  EXPECT_EQ(parseSchedule(names.name_sets(), coll, "everyday@9:00am-5:00PM,DONNERSTAG@8:00",
                          jday(3, 5, 2024) + 8 * 60, &recurring, &to_start, &to_end),
            1);
  EXPECT_EQ(to_start, 60u);
  EXPECT_EQ(to_end, 540u);
}

TEST(DateNameSets, SetStringsKeepsAtMostThree) {
  a_jdate_langstrings longer{};
  longer.months[0] = "Abcdefghijklmnop";
  longer.months[1] = nullptr;
  const a_jdate_langstrings* sets[4] = {&JDT_english_langstrings, &longer,
                                        &JDT_english_langstrings, &longer};
  JDateBase base(nullptr);
  EXPECT_EQ(base.name_sets()->count, 0);
  EXPECT_EQ(base.recompute_longest(), 0u);
  base.SetStrings(4, sets);
  EXPECT_EQ(base.name_sets()->count, 3);
  EXPECT_EQ(base.name_sets()->sets[2], &JDT_english_langstrings);
  EXPECT_EQ(base.longest(), 16u);
  base.SetStrings(1, sets);
  EXPECT_EQ(base.longest(), 9u);
  base.SetStrings(-1, sets);
  EXPECT_EQ(base.name_sets()->count, 0);
  EXPECT_EQ(base.longest(), 0u);
}

}  // namespace
