// Packed states, the driver's state table, message assembly and the copy of a text to an
// application's buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "odbc/diag_states.h"

namespace {

std::string Unpack(a_packed_sqlstate packed) {
  char text[6];
  CmdSeqGetStateString(packed, text);
  return text;
}

TEST(DiagStates, PackingMatchesTheClientForTextAndTakesSmallBytesAsTheyStand) {
  struct Case {
    const char* text;
    a_packed_sqlstate expected;
  } const cases[] = {
      {"00000", 0},
      {"HY001", i_cs_PackState("HY001")},
      {"01S02", i_cs_PackState("01S02")},
      {"08S01", i_cs_PackState("08S01")},
      // A byte of 9 or less is already a six-bit value.
      {"\x01\x02\x03\x04\x05", i_cs_PackState("12345")},
      {"4\x02"
       "000",
       i_cs_PackState("42000")},
      // A text that ends early packs its missing characters as 0 and reads no further.
      {"HY", (static_cast<a_packed_sqlstate>('H' - '0') << 24) |
                 (static_cast<a_packed_sqlstate>('Y' - '0') << 18)},
      {"", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(PackSQLState(c.text), c.expected);
  }
  EXPECT_EQ(Unpack(PackSQLState("HY")), "HY000");
  EXPECT_EQ(Unpack(PackSQLState("01S02")), "01S02");
}

TEST(DiagStates, DigitsOrderBeforeLettersSoWarningsAreTheLowClasses) {
  EXPECT_LT(PackSQLState("01S09"), kFirstErrorState);
  EXPECT_LT(PackSQLState("07001"), kFirstErrorState);
  EXPECT_EQ(kFirstErrorState, PackSQLState("07002"));
  EXPECT_GT(PackSQLState("08001"), kFirstErrorState);
  EXPECT_GT(PackSQLState("HY000"), PackSQLState("99999"));
  EXPECT_GT(PackSQLState("S1000"), PackSQLState("IM001"));
}

TEST(DiagStates, StateTableHoldsEightyFourDistinctRowsInMessageOrder) {
  std::set<a_packed_sqlstate> seen;
  for (std::size_t i = 0; i < kStateLookupRows; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(ODBC_StateLookupTable[i].message_id, 4800 + i);
    EXPECT_TRUE(seen.insert(ODBC_StateLookupTable[i].state).second);
  }
  EXPECT_EQ(ODBC_StateLookupTable[kStateLookupRows].message_id, 0);
  EXPECT_EQ(ODBC_StateLookupTable[kStateLookupRows].state, 0u);

  struct Row {
    const char* state;
    std::uint16_t id;
  } const rows[] = {{"01002", 4800}, {"07002", 4805}, {"08S01", 4814}, {"3C000", 4830},
                    {"HY000", 4840}, {"HY001", 4841}, {"HY009", 4846}, {"HYC00", 4874},
                    {"S1DE0", 4875}, {"00000", 4879}, {"IM002", 4883}, {"HY002", 0},
                    {"S1000", 0}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.state);
    EXPECT_EQ(StateMessageId(PackSQLState(r.state)), r.id);
  }
}

TEST(DiagStates, DynamicFunctionNames) {
  struct Case {
    SQLINTEGER code;
    const char* name;
  } const cases[] = {{4, "ALTER TABLE"},
                     {-1, "CREATE INDEX"},
                     {77, "CREATE TABLE"},
                     {85, "SELECT CURSOR"},
                     {38, "DYNAMIC DELETE CURSOR"},
                     {-2, "DROP INDEX"},
                     {7, "CALL"},
                     {82, "UPDATE WHERE"},
                     {0, ""},
                     {1, ""},
                     {-3, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_STREQ(DynamicFunctionName(c.code), c.name);
  }
}

TEST(DiagStates, MessagePrefixesNameDriverAndServer) {
  struct Case {
    bool oledb, jdbc, server, brackwater;
    const char* expected;
  } const cases[] = {
      {false, false, false, false, "[Tovrak][ODBC Driver]text"},
      {false, true, false, false, "[Tovrak][JDBC Driver]text"},
      {false, false, true, false, "[Tovrak][ODBC Driver][Vellumcrest]text"},
      {false, true, true, false, "[Tovrak][JDBC Driver][Vellumcrest]text"},
      {false, false, true, true, "[Tovrak][ODBC Driver][Brackwater Server]text"},
      {false, false, false, true, "[Tovrak][ODBC Driver]text"},
      {true, true, true, true, "text"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    char out[kDiagMessageChars + 1];
    EXPECT_EQ(AssembleDiagMessage(c.oledb, c.jdbc, c.server, c.brackwater, "text", out),
              std::strlen(c.expected));
    EXPECT_STREQ(out, c.expected);
  }
  char out[kDiagMessageChars + 1];
  EXPECT_EQ(AssembleDiagMessage(false, false, false, false, nullptr, out), 21u);
  EXPECT_STREQ(out, "[Tovrak][ODBC Driver]");
}

// The whole message, prefix included, is at most 512 characters.
TEST(DiagStates, MessageIsCutAtFiveHundredTwelveCharacters) {
  const std::size_t prefix = std::strlen("[Tovrak][ODBC Driver]");
  for (std::size_t body_length : {kDiagMessageChars - prefix - 1, kDiagMessageChars - prefix,
                                  kDiagMessageChars - prefix + 1, std::size_t{2000}}) {
    SCOPED_TRACE(body_length);
    std::string body(body_length, 'x');
    body.back() = 'z';
    std::vector<char> out(kDiagMessageChars + 1 + 16, '\xFF');
    const std::size_t length =
        AssembleDiagMessage(false, false, false, false, body.c_str(), out.data());
    const std::size_t expected = std::min(prefix + body_length, kDiagMessageChars);
    EXPECT_EQ(length, expected);
    EXPECT_EQ(std::strlen(out.data()), expected);
    // The last character survives only when the whole fits.
    EXPECT_EQ(out[expected - 1] == 'z', prefix + body_length <= kDiagMessageChars);
    for (std::size_t i = kDiagMessageChars + 1; i < out.size(); ++i) EXPECT_EQ(out[i], '\xFF');
  }
}

// Every buffer length around the text's length, with guard bytes on both sides.
TEST(DiagStates, CopyToApplicationBufferAtEveryLength) {
  const std::string text = "ten chars!";
  const SQLSMALLINT n = static_cast<SQLSMALLINT>(text.size());
  for (SQLSMALLINT buffer_length = -1; buffer_length <= n + 2; ++buffer_length) {
    SCOPED_TRACE(buffer_length);
    constexpr std::size_t kGuard = 8;
    std::vector<unsigned char> area(kGuard + 32 + kGuard, 0xFF);
    SQLCHAR* buffer = area.data() + kGuard;
    SQLSMALLINT length = -99;
    const int truncated =
        CopyDiagText(text.c_str(), text.size(), buffer, buffer_length, &length);
    EXPECT_EQ(length, n);
    EXPECT_EQ(truncated, buffer_length < n + 1 ? 1 : 0);
    const std::size_t copied =
        buffer_length < 1 ? 0 : std::min<std::size_t>(text.size(), buffer_length - 1);
    if (buffer_length >= 1) {
      EXPECT_EQ(std::memcmp(buffer, text.data(), copied), 0);
      EXPECT_EQ(buffer[copied], 0);
    }
    const std::size_t written = buffer_length >= 1 ? copied + 1 : 0;
    for (std::size_t i = 0; i < area.size(); ++i) {
      if (i >= kGuard && i < kGuard + written) continue;
      ASSERT_EQ(area[i], 0xFF) << "byte " << i;
    }
  }
  // A null buffer copies nothing but still reports the length.
  SQLSMALLINT length = 0;
  EXPECT_EQ(CopyDiagText(text.c_str(), text.size(), nullptr, 50, &length), 0);
  EXPECT_EQ(length, n);
  EXPECT_EQ(CopyDiagText(text.c_str(), text.size(), nullptr, 50, nullptr), 0);
}

}  // namespace
