// The conversion-buffer pool: reuse by first fit, give-back of foreign pointers, the trim
// at the pool's limit, and failure.
#include "odbc/string_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "odbc/diagnostics.h"
#include "odbc/handles.h"
#include "odbc/library_start.h"
#include "utils/base/memory.h"

namespace {

using vq::odbc::StringPoolBuffers;
using vq::odbc::StringPoolFreeBuffers;

class StringPoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LibInit_jdbc();
    DoneStringTable(false);  // start from a pool without free buffers
    base_ = StringPoolBuffers();
  }
  void TearDown() override {
    for (void* p : taken_) StringFree(p);
    DoneStringTable(false);
    LibFini_jdbc();
  }
  void* Take(std::size_t size) {
    void* p = StringRequest(nullptr, true, nullptr, size);
    if (p != nullptr) taken_.push_back(p);
    return p;
  }
  void GiveBack(void* p) {
    StringFree(p);
    taken_.erase(std::find(taken_.begin(), taken_.end(), p));
  }
  unsigned base_ = 0;
  std::vector<void*> taken_;
};

TEST_F(StringPoolTest, BuffersAreReusedByFirstFitOnCapacity) {
  void* small = Take(16);
  void* large = Take(4096);
  ASSERT_NE(small, nullptr);
  ASSERT_NE(large, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(small) % 16, 0u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(large) % 16, 0u);
  std::memset(large, 'x', 4096);  // the whole capacity is usable
  GiveBack(small);
  GiveBack(large);
  EXPECT_EQ(StringPoolFreeBuffers(), 2u);
  // 100 bytes do not fit the small buffer; the large one is taken again.
  EXPECT_EQ(Take(100), large);
  EXPECT_EQ(Take(8), small);
  EXPECT_EQ(StringPoolBuffers(), base_ + 2);
  // Nothing free fits: a new buffer.
  void* third = Take(8);
  EXPECT_NE(third, small);
  EXPECT_EQ(StringPoolBuffers(), base_ + 3);
}

TEST_F(StringPoolTest, APointerFromElsewhereIsFreedNotReadAsABuffer) {
  // The block is too small to have a pool header in front of it; giving it back must not
  // look there (the address checker would see it) and frees it (the leak checker would).
  void* foreign = ut_malloc(4);
  const unsigned before = StringPoolBuffers();
  StringRequest(nullptr, false, foreign, 0);
  EXPECT_EQ(StringPoolBuffers(), before);
  StringFree(nullptr);
}

TEST_F(StringPoolTest, ThePoolDropsItsFreeBuffersAtItsLimit) {
  std::vector<void*> held;
  for (unsigned i = 0; StringPoolBuffers() < kStringPoolTrim - 1; ++i) {
    held.push_back(StringRequest(nullptr, true, nullptr, 32));
  }
  ASSERT_EQ(StringPoolBuffers(), kStringPoolTrim - 1);
  for (std::size_t i = 0; i < held.size(); i += 2) StringFree(held[i]);
  const unsigned free_before = StringPoolFreeBuffers();
  ASSERT_GT(free_before, 0u);
  // No free buffer holds 64 bytes, so a new one is needed and the free ones go first.
  void* big = StringRequest(nullptr, true, nullptr, 64);
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(StringPoolFreeBuffers(), 0u);
  EXPECT_EQ(StringPoolBuffers(), kStringPoolTrim - free_before);
  StringFree(big);
  for (std::size_t i = 1; i < held.size(); i += 2) StringFree(held[i]);
}

bool FailEverything(std::size_t) { return true; }

TEST_F(StringPoolTest, AFailedTakePostsHY001OnTheHandleAndCountsNothing) {
  tagOBJECT* env = Allocate_object(nullptr, OBJ_ENV);
  ASSERT_NE(env, nullptr);
  const unsigned before = StringPoolBuffers();
  vq::odbc::SetAllocFailureHook(FailEverything);
  void* p = StringRequest(env, true, nullptr, 10);
  vq::odbc::SetAllocFailureHook(nullptr);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(StringPoolBuffers(), before);
  EXPECT_EQ(env->first_rec.odbc3, kStateHY001);
  EXPECT_EQ(env->retcode, SQL_ERROR);
  EXPECT_EQ(StringRequest(env, true, nullptr, SIZE_MAX), nullptr);
  Free_object(env);
}

}  // namespace
