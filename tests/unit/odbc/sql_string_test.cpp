// Text returned to application buffers and the growable SQL text.
#include "odbc/sql_string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "odbc/diagnostics.h"
#include "odbc/handles.h"
#include "odbc/library_start.h"
#include "utils/base/memory.h"

namespace {

// A statement record on its own: enough to hold diagnostics and a return code.
class SqlStringTest : public ::testing::Test {
 protected:
  void SetUp() override { h_ = Allocate_object(nullptr, OBJ_STMT); }
  void TearDown() override {
    vq::odbc::SetAllocFailureHook(nullptr);
    Free_object(h_);
  }
  // The ODBC 3 state of the first record, or 0 when there is none.
  a_packed_sqlstate FirstState() const {
    return h_->record_count > 0 ? h_->first_rec.odbc3 : kStateNone;
  }
  tagOBJECT* h_ = nullptr;
};

constexpr unsigned char kGuard = 0xFF;
constexpr std::size_t kGuardBytes = 4;

// Every buffer size around the text's length, guard bytes on both sides, both length
// widths.
TEST_F(SqlStringTest, ReturnStringAtEveryBufferSize) {
  const std::string text = "hello";
  for (SQLINTEGER size = 0; size <= 8; ++size) {
    for (const bool wide_length : {false, true}) {
      SCOPED_TRACE("size " + std::to_string(size) + (wide_length ? " i32" : " i16"));
      FreeDiagRecords(h_);
      h_->retcode = SQL_SUCCESS;
      std::vector<unsigned char> buf(kGuardBytes * 2 + 8, kGuard);
      unsigned char* out = buf.data() + kGuardBytes;
      SQLSMALLINT len16 = -7;
      SQLINTEGER len32 = -7;
      const int rc = wide_length
                         ? ReturnString(h_, out, size, &len32, text.c_str(), SQL_NTS)
                         : ReturnString(h_, out, size, &len16, text.c_str(), SQL_NTS);
      EXPECT_EQ(wide_length ? len32 : len16, 5);
      const bool truncated = size < 6;
      EXPECT_EQ(rc, truncated ? 1 : 0);
      EXPECT_EQ(FirstState(), truncated ? kState01004 : kStateNone);
      EXPECT_EQ(h_->retcode, truncated ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS);
      if (size > 0) {
        const std::size_t kept = truncated ? static_cast<std::size_t>(size) - 1 : 5;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out)), text.substr(0, kept));
      }
      for (std::size_t i = 0; i < kGuardBytes; ++i) EXPECT_EQ(buf[i], kGuard);
      for (std::size_t i = kGuardBytes + static_cast<std::size_t>(size); i < buf.size(); ++i) {
        EXPECT_EQ(buf[i], kGuard) << "byte " << i;
      }
    }
  }
}

TEST_F(SqlStringTest, ReturnStringEdgeInputs) {
  char out[8];
  std::memset(out, 'x', sizeof out);
  SQLSMALLINT len = -7;
  // Null text: empty.
  EXPECT_EQ(ReturnString(h_, out, sizeof out, &len, nullptr, 12), 0);
  EXPECT_EQ(len, 0);
  EXPECT_EQ(out[0], '\0');
  // An explicit length counts bytes, not up to a terminator.
  EXPECT_EQ(ReturnString(h_, out, sizeof out, &len, "ab\0cd", 5), 0);
  EXPECT_EQ(len, 5);
  EXPECT_EQ(std::memcmp(out, "ab\0cd\0", 6), 0);
  // Only the length without a buffer.
  EXPECT_EQ(ReturnString(h_, nullptr, 0, &len, "abcdef", SQL_NTS), 0);
  EXPECT_EQ(len, 6);
  EXPECT_EQ(FirstState(), kStateNone);
  // A negative size with a buffer: HY090, nothing written.
  std::memset(out, 'x', sizeof out);
  len = -7;
  EXPECT_EQ(ReturnString(h_, out, -1, &len, "abc", SQL_NTS), -1);
  EXPECT_EQ(FirstState(), kStateHY090);
  EXPECT_EQ(len, -7);
  EXPECT_EQ(out[0], 'x');
}

// A text longer than a 16-bit length can say is reported at the largest value, never as a
// negative length.
TEST_F(SqlStringTest, ReturnStringLongTextLength) {
  const std::string text(40000, 'q');
  SQLSMALLINT len16 = 0;
  SQLINTEGER len32 = 0;
  EXPECT_EQ(ReturnString(h_, nullptr, 0, &len16, text.c_str(), SQL_NTS), 0);
  EXPECT_EQ(len16, 32767);
  EXPECT_EQ(ReturnString(h_, nullptr, 0, &len32, text.c_str(), SQL_NTS), 0);
  EXPECT_EQ(len32, 40000);
}

TEST_F(SqlStringTest, AppendsGrowAndTerminate) {
  tagSQLSTRING s{};
  std::string expected;
  for (int i = 0; i < 200; ++i) {
    const std::string piece = "piece" + std::to_string(i) + ",";
    ASSERT_EQ(AddToSQLString(h_, &s, piece.c_str(), SQL_NTS), 0);
    expected += piece;
    ASSERT_EQ(s.length, expected.size());
    ASSERT_GT(s.capacity, s.length);
    ASSERT_EQ(std::string(s.text), expected);
  }
  // An explicit length takes only that many bytes; a null text appends nothing.
  ASSERT_EQ(AddToSQLString(h_, &s, "xyz", 2), 0);
  ASSERT_EQ(AddToSQLString(h_, &s, nullptr, 10), 0);
  expected += "xy";
  EXPECT_EQ(std::string(s.text), expected);

  char* copy = CopySQLString(h_, &s);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(std::string(copy), expected);
  ut_free(copy);

  ASSERT_EQ(MakeSQLString(h_, &s, "select 1", SQL_NTS), 0);
  EXPECT_EQ(std::string(s.text), "select 1");
  EXPECT_EQ(s.length, 8u);

  char out[16];
  SQLINTEGER len = 0;
  EXPECT_EQ(ReturnSQLString(h_, out, sizeof out, &len, &s), 0);
  EXPECT_EQ(std::string(out), "select 1");
  EXPECT_EQ(len, 8);
  EXPECT_EQ(s.text, nullptr);
  EXPECT_EQ(s.length, 0u);
  EXPECT_EQ(FirstState(), kStateNone);
}

// A failed growth records HY001, releases the text and makes the string inert: later
// appends do nothing and returning it writes nothing and reports the failure.
TEST_F(SqlStringTest, FailedGrowthIsStickyAndReported) {
  tagSQLSTRING s{};
  ASSERT_EQ(AddToSQLString(h_, &s, "select ", SQL_NTS), 0);
  const std::string big(500, 'a');
  vq::odbc::SetAllocFailureHook([](std::size_t) { return true; });
  EXPECT_EQ(AddToSQLString(h_, &s, big.c_str(), SQL_NTS), -1);
  vq::odbc::SetAllocFailureHook(nullptr);
  EXPECT_EQ(FirstState(), kStateHY001);
  EXPECT_EQ(h_->retcode, SQL_ERROR);
  EXPECT_EQ(s.text, nullptr);
  EXPECT_EQ(s.capacity, kSQLStringFailed);
  EXPECT_EQ(AddToSQLString(h_, &s, "x", SQL_NTS), -1);
  EXPECT_EQ(MakeSQLString(h_, &s, "x", SQL_NTS), -1);
  EXPECT_EQ(CopySQLString(h_, &s), nullptr);
  char out[8] = "guard!";
  SQLSMALLINT len = -7;
  EXPECT_EQ(ReturnSQLString(h_, out, sizeof out, &len, &s), -1);
  EXPECT_EQ(std::string(out), "guard!");
  EXPECT_EQ(len, -7);
  // Returning released it: the string is usable again.
  EXPECT_EQ(s.capacity, 0u);
  EXPECT_EQ(AddToSQLString(h_, &s, "ok", SQL_NTS), 0);
  FreeSQLString(&s);
}

TEST_F(SqlStringTest, TooLongTotalIsRefused) {
  tagSQLSTRING s{};
  ASSERT_EQ(AddToSQLString(h_, &s, "abc", SQL_NTS), 0);
  // Pretend the string is at its limit: one more byte would pass it.
  const std::uint32_t real = s.length;
  s.length = kSQLStringMaxLength;
  EXPECT_EQ(AddToSQLString(h_, &s, "d", SQL_NTS), -1);
  EXPECT_EQ(FirstState(), kStateHY090);
  s.length = real;
  EXPECT_EQ(std::string(s.text), "abc");
  FreeSQLString(&s);
}

}  // namespace
