// The collation front object: the collations it chooses, the tailoring it hands on,
// and a failed change that keeps the previous collation.
#include <gtest/gtest.h>

#include "scoped_env.h"
#include "utils/base/mbcs_character.h"
#include "utils/locale/collation.h"
#include "utils/locale/utlocale.h"

namespace {

TEST(CollationFront, ChoosesCAndOSCollations) {
  ScopedEnv env;
  env.Set("VCLANG", "german");
  env.Set("VCCHARSET", "windows-1252");
  UTCollation c(nullptr);
  EXPECT_STREQ(c->collation_info()->label, "C");
  EXPECT_EQ(c->charset(), &UTLocale::_charset_info[0]);
  EXPECT_EQ(c->case_sensitivity(), static_cast<a_case_sensitivity>('n'));
  EXPECT_EQ(c->trancmp("abc", "ABC"), 0);

  UTLocale locale;
  UTCollation os(&locale);
  EXPECT_STREQ(os->collation_info()->label, "1252LATIN1");
  EXPECT_EQ(os->charset(), &UTLocale::_charset_info[46]);

  struct Case {
    unsigned (*set)(UTCollation&);
    char case_code, accent, punctuation;
    const char* label;
  };
  const Case cases[] = {
      {[](UTCollation& u) { return u.set_c_collation('n'); }, 'n', 'n', 'p', "C"},
      {[](UTCollation& u) { return u.set_c_collation('A'); }, 'A', 'y', 'p', "C"},
      {[](UTCollation& u) { return u.set_c_collation('a', 'n'); }, 'a', 'n', 'p', "C"},
      {[](UTCollation& u) { return u.set_os_collation('A'); }, 'A', 'y', 'p', "1252LATIN1"},
      {[](UTCollation& u) { return u.set_os_collation('n', 'y'); }, 'n', 'y', 'p',
       "1252LATIN1"},
      {[](UTCollation& u) {
         return u.set_os_collation(UTCollationTailoring("Case=Respect;Punct=Ignore"));
       },
       'A', 'n', 'i', "1252LATIN1"},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.label);
    ASSERT_EQ(t.set(os), 1u);
    EXPECT_STREQ(os->collation_info()->label, t.label);
    EXPECT_EQ(os->case_sensitivity(), static_cast<a_case_sensitivity>(t.case_code));
    EXPECT_EQ(os->accent_sensitivity(), static_cast<an_accent_sensitivity>(t.accent));
    EXPECT_EQ(os->punctuation_sensitivity(),
              static_cast<a_punctuation_sensitivity>(t.punctuation));
    EXPECT_EQ(os->trancmp("a", "A") == 0, t.case_code == 'n');
  }
}

TEST(CollationFront, CharsetMismatchKeepsThePreviousCollation) {
  UTCollation c(nullptr);
  ASSERT_EQ(c.set_c_collation('A'), 1u);
  const CollationInfo* latin1 = UTLocale::GetCollationInfoFromLabel("1252LATIN1");
  EXPECT_EQ(c.do_set_collation(true, nullptr, latin1, &UTLocale::_charset_info[1], nullptr,
                               UTCollationTailoring('n'), 0),
            0u);
  EXPECT_STREQ(c->collation_info()->label, "C");
  EXPECT_EQ(c->case_sensitivity(), static_cast<a_case_sensitivity>('A'));
  EXPECT_EQ(c.do_set_collation(true, nullptr, nullptr, nullptr, nullptr,
                               UTCollationTailoring('n'), 0),
            0u);
  EXPECT_STREQ(c->collation_info()->label, "C");
}

}  // namespace

namespace {

TEST(CollationFront, SingleByteCharacterCaseConversion) {
  const CollationInfo* latin1 = UTLocale::GetCollationInfoFromLabel("1252LATIN1");
  const CharsetInfo* cp1252 = &UTLocale::_charset_info[46];
  UTCollation coll(nullptr);
  ASSERT_EQ(coll.do_set_collation(true, nullptr, latin1, cp1252, nullptr,
                                  UTCollationTailoring('A'), 0),
            1u);
  an_mbcs_character ch;
  ch.impl = &coll.implementation();
  ch.bytes[0] = 0xC9;  // E acute
  ch.length = 1;
  ch.flags[1] = 1;
  EXPECT_EQ(ch.tolower(), 1u);
  EXPECT_EQ(ch.bytes[0], 0xE9);
  EXPECT_EQ(ch.flags[1], 0);
  EXPECT_EQ(ch.toupper(), 1u);
  EXPECT_EQ(ch.bytes[0], 0xC9);

  an_mbcs_character unbound;  // no implementation: left as it is
  unbound.bytes[0] = 'q';
  unbound.length = 1;
  EXPECT_EQ(unbound.toupper(), 1u);
  EXPECT_EQ(unbound.bytes[0], 'q');
}

}  // namespace
