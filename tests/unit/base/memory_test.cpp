#include "utils/base/memory.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kImpossible = SIZE_MAX - 4096;  // no heap can hand this out

int g_hook_calls = 0;
unsigned int g_hook_answer = 0;
unsigned int CountingHook() {
  ++g_hook_calls;
  return g_hook_answer;
}

class MemoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_hook_calls = 0;
    g_hook_answer = 0;
    vq::base::SetOutOfMemoryHook(&CountingHook);
  }
  void TearDown() override { vq::base::SetOutOfMemoryHook(nullptr); }
};

TEST_F(MemoryTest, ZeroSizedRequestsAreNotAllocations) {
  char source[4] = {1, 2, 3, 4};
  EXPECT_EQ(ut_alloc(0), nullptr);
  EXPECT_EQ(ut_malloc(0), nullptr);
  EXPECT_EQ(ut_calloc(0), nullptr);
  EXPECT_EQ(ut_memdup(source, 0), nullptr);
  EXPECT_EQ(ut_memdup(nullptr, 10), nullptr);
  EXPECT_EQ(ut_realloc(nullptr, 0), nullptr);
  EXPECT_EQ(uimalloc(0), nullptr);
  EXPECT_EQ(uicalloc(0, 8), nullptr);
  EXPECT_EQ(g_hook_calls, 0);
  ut_free(nullptr);  // ignored
  uifree(nullptr);
}

TEST_F(MemoryTest, BlocksHoldWhatTheyPromise) {
  const char text[] = "intrusive";
  auto* copy = static_cast<char*>(ut_memdup(text, sizeof text));
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, text);

  copy = static_cast<char*>(ut_realloc(copy, 64 * 1024));  // grows, keeps the contents
  EXPECT_STREQ(copy, text);
  EXPECT_EQ(ut_realloc(copy, 0), nullptr);  // frees; the leak checker sees no block left

  auto* zeroed = static_cast<unsigned char*>(uicalloc(3, 4));
  ASSERT_NE(zeroed, nullptr);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(zeroed[i], 0) << i;
  ut_free(zeroed);

  auto* cleared = static_cast<unsigned char*>(ut_calloc(100));
  for (int i = 0; i < 100; ++i) EXPECT_EQ(cleared[i], 0) << i;
  ut_free(cleared);
}

TEST_F(MemoryTest, UicallocRefusesAWrappedProduct) {
  // (2^62 + 1) * 4 wraps to 4 on 64 bits: a 4-byte block would be a heap overrun waiting
  // to happen.
  EXPECT_EQ(uicalloc((SIZE_MAX / 4) + 2, 4), nullptr);
  EXPECT_EQ(uicalloc(SIZE_MAX, SIZE_MAX), nullptr);
  EXPECT_EQ(g_hook_calls, 0);
}

TEST_F(MemoryTest, SoftFailuresAskTheHookOnceAndReturnNull) {
  struct Case {
    const char* name;
    unsigned int hook_answer;
  } cases[] = {{"nothing released", 0}, {"memory released, retry fails too", 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_hook_answer = c.hook_answer;
    g_hook_calls = 0;
    EXPECT_EQ(ut_malloc(kImpossible), nullptr);
    EXPECT_EQ(ut_calloc(kImpossible), nullptr);
    char byte = 0;
    EXPECT_EQ(ut_memdup(&byte, kImpossible), nullptr);
    EXPECT_EQ(ut_realloc(nullptr, kImpossible), nullptr);  // a null block never ends the process
    EXPECT_EQ(g_hook_calls, 4);
  }
}

TEST(GenerateErrorLogTest, MessageIsNeverAFormat) {
  // The default writer goes to the system log; with no log socket the line is dropped,
  // but a message full of conversions must not be read as a format either way.
  GenerateErrorLog("%s%s%n%s", "Vellumcrest");
}

}  // namespace
