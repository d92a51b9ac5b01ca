// UTString: null versus empty, exact growth, comparisons; ut_stack: growth by 5 and
// pointer-sized words.
#include "utils/base/utstring.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "utils/base/ut_stack.h"

namespace {

TEST(UTStringEmpty, EmptyHoldsNoMemoryAndEqualsNull) {
  UTString s;
  s += "";
  s += static_cast<const char*>(nullptr);
  s = "";
  EXPECT_EQ(s.data(), nullptr);
  EXPECT_EQ(s.length(), 0u);
  EXPECT_EQ(s.capacity(), 0u);
  EXPECT_TRUE(s == static_cast<const char*>(nullptr));
  EXPECT_FALSE(s == "");
  EXPECT_TRUE(s != "");
  EXPECT_TRUE(s.eqi(static_cast<const char*>(nullptr)));
  EXPECT_FALSE(s.eqi(""));
  EXPECT_EQ(s[0], '\0');

  UTString copy(s);  // copying an empty string allocates nothing either
  EXPECT_EQ(copy.data(), nullptr);
  EXPECT_TRUE(copy == s);

  UTString text("x");
  EXPECT_FALSE(text == static_cast<const char*>(nullptr));
  EXPECT_FALSE(text == s);
  text.clear();
  EXPECT_EQ(text.data(), nullptr);
  EXPECT_TRUE(text == s);
}

TEST(UTStringGrowth, AppendsGrowToTheExactSize) {
  UTString s;
  s += 'a';
  EXPECT_EQ(s.capacity(), 2u);
  s += 12;
  EXPECT_EQ(s.capacity(), 4u);
  s += "bc";
  EXPECT_TRUE(s == "a12bc");
  EXPECT_EQ(s.length(), 5u);
  EXPECT_EQ(s.capacity(), 6u);

  UTString t;
  t << 'a' << 12 << "bc";
  EXPECT_TRUE(t == s);
  s = "replaced";
  EXPECT_EQ(s.capacity(), 9u);
  s += '\0';  // a zero character is an empty text: nothing appended
  EXPECT_EQ(s.length(), 8u);
}

TEST(UTStringGrowth, NumbersAreDecimalAtFullWidth) {
  struct Case {
    const char* name;
    UTString text;
    const char* expected;
  } cases[] = {
      {"long_min", UTString() += LONG_MIN, "-9223372036854775808"},
      {"ulong_max", UTString() += ULONG_MAX, "18446744073709551615"},
      {"llong_negative", UTString() += -5LL, "-5"},
      {"ullong", UTString() += 4294967296ULL, "4294967296"},
      {"int_negative", UTString() += -12, "-12"},
      {"unsigned_max", UTString() += UINT_MAX, "4294967295"},
      {"zero", UTString() += 0L, "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(c.text == c.expected) << c.text.data();
  }
}

TEST(UTStringOps, AssignCopyPlusAndSelfReference) {
  UTHeap heap;
  UTString a(&heap, "left");
  EXPECT_EQ(a.heap(), &heap);
  UTString b = a + "-" + 7L + UTString("right");
  EXPECT_TRUE(b == "left-7right");
  EXPECT_TRUE(a == "left");  // operator+ leaves its operand alone

  UTString c(&heap, b);
  EXPECT_TRUE(c == b);
  EXPECT_NE(c.data(), b.data());
  c = c;  // self-assignment keeps the text
  EXPECT_TRUE(c == "left-7right");
  c += c;  // appending its own text survives the resize
  EXPECT_TRUE(c == "left-7rightleft-7right");
  c = c.data() + 5;  // assigning a part of its own text
  EXPECT_TRUE(c == "7rightleft-7right");

  EXPECT_TRUE(UTString("MiXed").eqi("mixed"));
  EXPECT_FALSE(UTString("MiXed") == "mixed");
  EXPECT_TRUE(UTString("MiXed").eqi(UTString("MIXED")));
}

TEST(UTStringOps, IndexOutsideTheTextIsZero) {
  UTString s("abc");
  EXPECT_EQ(s[0], 'a');
  EXPECT_EQ(s[2], 'c');
  EXPECT_EQ(s[3], '\0');
  EXPECT_EQ(s[100], '\0');
  EXPECT_EQ(s[-1], '\0');  // taken as unsigned: far beyond the length
}

TEST(UtStack, GrowsByFiveAndKeepsOneSlotFree) {
  ut_stack stack(0);
  EXPECT_EQ(stack.capacity(), 5u);
  for (std::uintptr_t i = 1; i <= 4; ++i) stack.push(i);
  EXPECT_EQ(stack.capacity(), 5u);
  stack.push(5);  // the fifth push grows it
  EXPECT_EQ(stack.capacity(), 10u);
  EXPECT_EQ(stack.count(), 5u);
  for (std::uintptr_t i = 6; i <= 40; ++i) stack.push(i);
  EXPECT_GT(stack.capacity(), stack.count());
  for (std::uintptr_t i = 40; i >= 1; --i) {
    std::uintptr_t out = 0;
    ASSERT_TRUE(stack.pop(&out));
    EXPECT_EQ(out, i);
  }
  std::uintptr_t untouched = 99;
  EXPECT_FALSE(stack.pop(&untouched));
  EXPECT_EQ(untouched, 99u);
}

TEST(UtStack, HoldsWholePointers) {
  static_assert(sizeof(std::uintptr_t) == sizeof(void*), "a stack word holds a pointer");
  ut_stack stack(1);
  int objects[3] = {};
  const std::uintptr_t high = UINTPTR_MAX - 7;  // bits above 32 survive
  stack.push(high);
  for (int& o : objects) stack.push(reinterpret_cast<std::uintptr_t>(&o));
  for (int i = 2; i >= 0; --i) {
    std::uintptr_t out = 0;
    ASSERT_TRUE(stack.pop(&out));
    EXPECT_EQ(reinterpret_cast<int*>(out), &objects[i]);
  }
  std::uintptr_t out = 0;
  ASSERT_TRUE(stack.pop(&out));
  EXPECT_EQ(out, high);
}

}  // namespace
