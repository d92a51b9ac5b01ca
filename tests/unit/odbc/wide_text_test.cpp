// The wide entry points' text conversions on an unconnected connection, whose text
// travels in the environment's character set (set here to the one each test needs).
#include "odbc/wide_text.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>
#include <string>
#include <vector>

#include "api_fixture.h"
#include "odbc/diagnostics.h"
#include "odbc/engine.h"
#include "odbc/string_pool.h"
#include "utils/locale/charset_converter.h"
#include "utils/locale/utlocale.h"

namespace {

using vq::odbc::NarrowArg;
using vq::odbc::NarrowOut;

constexpr SQLWCHAR kGuard = 0xABCD;

std::vector<SQLWCHAR> W(const char16_t* text) {
  std::vector<SQLWCHAR> out;
  for (; *text != 0; ++text) out.push_back(static_cast<SQLWCHAR>(*text));
  out.push_back(0);
  return out;
}

std::u16string U(const SQLWCHAR* text) {
  std::u16string out;
  for (; *text != 0; ++text) out.push_back(static_cast<char16_t>(*text));
  return out;
}

class WideTextTest : public ApiFixture {
 protected:
  // The connection's text (before connect: the environment's) in `label`.
  void UseCharset(const char* label) {
    const CharsetInfo* cs = UTLocale::GetCharsetInfoFromLabel(label, kSchemeAll);
    ASSERT_NE(cs, nullptr) << label;
    UTLocale* locale = SQLGetUTLocale();
    tagDBC* dbc = Dbc();
    delete dbc->env_to_client;
    delete dbc->client_to_env;
    dbc->env_to_client = new CharsetConverter(locale, locale->utf16le_charset(), cs);
    dbc->client_to_env = new CharsetConverter(locale, cs, locale->utf16le_charset());
    dbc->env_wide_factor = cs->max_bytes;
  }

  std::string Narrow(const std::vector<SQLWCHAR>& text, SQLINTEGER length, bool* ok) {
    NarrowArg arg;
    *ok = arg.Convert(Dbc(), text.data(), length);
    if (!*ok) return {};
    EXPECT_EQ(static_cast<std::size_t>(arg.length()),
              std::strlen(reinterpret_cast<const char*>(arg.text())));
    return std::string(reinterpret_cast<const char*>(arg.text()),
                       static_cast<std::size_t>(arg.length()));
  }

  unsigned Records() { return Dbc()->record_count; }
};

TEST_F(WideTextTest, TextBecomesTheConnectionsCharacterSetUpToItsLengthOrTerminator) {
  UseCharset("UTF-8");
  const auto text = W(u"Grüße Привет 日本 \U0001F600;tail");
  const std::string full = "Grüße Привет 日本 \xF0\x9F\x98\x80;tail";
  bool ok = false;
  EXPECT_EQ(Narrow(text, SQL_NTS, &ok), full);
  EXPECT_TRUE(ok);
  // 18 code units: up to and including the surrogate pair.
  EXPECT_EQ(Narrow(text, 18, &ok), "Grüße Привет 日本 \xF0\x9F\x98\x80");
  EXPECT_EQ(Narrow(text, 0, &ok), "");
  EXPECT_TRUE(ok);

  // A source without a terminator is read to its stated length and no further.
  std::vector<SQLWCHAR> exact(text.begin(), text.begin() + 5);
  exact.shrink_to_fit();
  NarrowArg arg;
  ASSERT_TRUE(arg.Convert(Dbc(), exact.data(), 5));
  EXPECT_STREQ(reinterpret_cast<const char*>(arg.text()), "Grüße");

  NarrowArg none;
  ASSERT_TRUE(none.Convert(Dbc(), nullptr, SQL_NTS));
  EXPECT_EQ(none.text(), nullptr);
  EXPECT_EQ(none.length(), 0);
  EXPECT_EQ(Records(), 0u);
}

TEST_F(WideTextTest, RefusedTextPostsItsStateAndLeavesNothingInUse) {
  UseCharset("ISO-8859-1");
  const unsigned free_before = vq::odbc::StringPoolFreeBuffers();
  const unsigned all_before = vq::odbc::StringPoolBuffers();
  bool ok = false;
  EXPECT_EQ(Narrow(W(u"café"), SQL_NTS, &ok), "caf\xE9");
  EXPECT_TRUE(ok);

  struct Case {
    const char* name;
    std::vector<SQLWCHAR> text;
    SQLINTEGER length;
    const char* state;
  };
  const std::vector<SQLWCHAR> lone_surrogate = {'x', 0xD800, 'y', 0};
  const Case cases[] = {
      {"no Latin-1 form", W(u"caf\u00E9 \u65E5"), SQL_NTS, "22018"},
      {"outside the BMP", W(u"\U0001F600"), SQL_NTS, "22018"},
      {"lone surrogate", lone_surrogate, SQL_NTS, "22018"},
      {"negative length", W(u"abc"), -5, "HY090"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClearError(Dbc());
    Narrow(c.text, c.length, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(FirstState(SQL_HANDLE_DBC, dbc_), c.state);
  }
  // Every buffer taken went back.
  EXPECT_EQ(vq::odbc::StringPoolBuffers() - vq::odbc::StringPoolFreeBuffers(),
            all_before - free_before);
}

// ReturnStringW at every buffer size around the text "aé😀" (4 code units, 8 bytes).
TEST_F(WideTextTest, ReturnedTextIsCutToWholeCodeUnitsWithItsFullLength) {
  UseCharset("UTF-8");
  const char* narrow = "a\xC3\xA9\xF0\x9F\x98\x80";
  struct Case {
    SQLINTEGER out_bytes;
    int result;
    std::u16string shown;  // up to the terminator
  };
  const Case cases[] = {
      {0, 1, u""},
      {1, 1, u""},
      {2, 1, u""},
      {3, 1, u""},
      {4, 1, u"a"},
      {5, 1, u"a"},
      {6, 1, u"a\u00E9"},
      // Room for three units: the pair does not fit whole, so the cut falls before it.
      {8, 1, u"a\u00E9"},
      {9, 1, u"a\u00E9"},
      {10, 0, u"a\u00E9\U0001F600"},
      {11, 0, u"a\u00E9\U0001F600"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.out_bytes);
    ClearError(Dbc());
    SQLWCHAR out[16];
    for (SQLWCHAR& u : out) u = kGuard;
    SQLINTEGER length = -7;
    EXPECT_EQ(ReturnStringW(Dbc(), out, c.out_bytes, &length, narrow, SQL_NTS, true), c.result);
    EXPECT_EQ(length, 8);
    const std::size_t touched = static_cast<std::size_t>(c.out_bytes) / 2;
    if (touched > 0) {
      EXPECT_EQ(U(out), c.shown);
    }
    for (std::size_t i = touched; i < 16; ++i) EXPECT_EQ(out[i], kGuard) << i;
    EXPECT_EQ(Records(), c.result == 1 ? 1u : 0u);
    // One truncation warning, however often the text is cut.
    if (c.result == 1) {
      ReturnStringW(Dbc(), out, c.out_bytes, nullptr, narrow, SQL_NTS, true);
      EXPECT_EQ(Records(), 1u);
      EXPECT_EQ(FirstState(SQL_HANDLE_DBC, dbc_), "01004");
    }
  }

  // Without a buffer only the length; without warn, or on an environment, no record.
  ClearError(Dbc());
  SQLINTEGER length = 0;
  EXPECT_EQ(ReturnStringW(Dbc(), nullptr, 0, &length, narrow, SQL_NTS, true), 0);
  EXPECT_EQ(length, 8);
  SQLWCHAR small[2] = {kGuard, kGuard};
  EXPECT_EQ(ReturnStringW(Dbc(), small, 4, nullptr, narrow, SQL_NTS, false), 1);
  EXPECT_EQ(
      ReturnStringW(static_cast<tagOBJECT*>(env_), small, 4, nullptr, narrow, SQL_NTS, true),
      1);
  EXPECT_EQ(Records(), 0u);
  EXPECT_EQ(static_cast<tagOBJECT*>(env_)->record_count, 0u);
  EXPECT_EQ(ReturnStringW(Dbc(), small, -2, nullptr, narrow, SQL_NTS, true), -1);
  EXPECT_EQ(FirstState(SQL_HANDLE_DBC, dbc_), "HY090");
}

// An implementation that reports more text than its narrow buffer held: the conversion
// stops at the buffer and the full length still counts the rest.
TEST_F(WideTextTest, ANarrowBufferIsNeverReadPastItsEnd) {
  UseCharset("ISO-8859-1");
  NarrowOut narrow(Dbc(), 1, 8, 4);
  ASSERT_EQ(narrow.size(), 4);
  std::memcpy(narrow.data(), "Vel\0lumcrest", 12);
  SQLWCHAR out[6];
  for (SQLWCHAR& u : out) u = kGuard;
  SQLINTEGER length = 0;
  EXPECT_EQ(narrow.Return(Dbc(), out, 8, &length, 11, true), 1);
  EXPECT_EQ(length, 22);
  EXPECT_EQ(U(out), u"Vel");
  EXPECT_EQ(out[4], kGuard);
}

TEST_F(WideTextTest, DiagnosticTextIsReadInCharactersOrBytesWithoutANewRecord) {
  UseCharset("UTF-8");
  const char* message = "Ошибка \xF0\x9F\x98\x80 значение";
  AddSQLCustomState(Dbc(), kStateHY000, kStateS1000, message, SQL_NTS);
  ASSERT_EQ(Records(), 1u);

  SQLWCHAR state[8];
  SQLWCHAR full[200];
  SQLINTEGER native = 5;
  SQLSMALLINT chars = 0;
  ASSERT_EQ(SQLGetDiagRecW(SQL_HANDLE_DBC, dbc_, 1, state, &native, full, 200, &chars),
            SQL_SUCCESS);
  EXPECT_EQ(U(state), u"HY000");
  const std::u16string text = U(full);
  EXPECT_NE(text.find(u"Ошибка \U0001F600 значение"), std::u16string::npos);
  EXPECT_EQ(static_cast<std::size_t>(chars), text.size());

  for (SQLSMALLINT size : {0, 1, 2, 5}) {
    SCOPED_TRACE(size);
    SQLWCHAR cut[8];
    for (SQLWCHAR& u : cut) u = kGuard;
    SQLSMALLINT length = 0;
    EXPECT_EQ(SQLGetDiagRecW(SQL_HANDLE_DBC, dbc_, 1, nullptr, nullptr, cut, size, &length),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(length, chars);
    if (size > 0) {
      EXPECT_EQ(U(cut), text.substr(0, static_cast<std::size_t>(size - 1)));
    }
    for (std::size_t i = static_cast<std::size_t>(size); i < 8; ++i) EXPECT_EQ(cut[i], kGuard);
    EXPECT_EQ(Records(), 1u);
  }

  // SQLGetDiagFieldW counts bytes.
  SQLWCHAR field[8];
  for (SQLWCHAR& u : field) u = kGuard;
  SQLSMALLINT bytes = 0;
  EXPECT_EQ(SQLGetDiagFieldW(SQL_HANDLE_DBC, dbc_, 1, SQL_DIAG_MESSAGE_TEXT, field, 9, &bytes),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(bytes, chars * 2);
  EXPECT_EQ(U(field), text.substr(0, 3));
  EXPECT_EQ(field[4], kGuard);
  EXPECT_EQ(SQLGetDiagFieldW(SQL_HANDLE_DBC, dbc_, 1, SQL_DIAG_SQLSTATE, field, 12, &bytes),
            SQL_SUCCESS);
  EXPECT_EQ(U(field), u"HY000");
  EXPECT_EQ(bytes, 10);
  EXPECT_EQ(Records(), 1u);

  // SQLErrorW walks the records once.
  SQLSMALLINT length = 0;
  EXPECT_EQ(SQLErrorW(nullptr, dbc_, nullptr, state, &native, full, 200, &length), SQL_SUCCESS);
  EXPECT_EQ(U(state), u"HY000");
  EXPECT_EQ(SQLErrorW(nullptr, dbc_, nullptr, state, &native, full, 200, &length), SQL_NO_DATA);
}

TEST_F(WideTextTest, TextAttributesAreSetInCharactersAndReadInBytes) {
  UseCharset("UTF-8");
  const auto path = W(u"/tmp/трасса-\U0001F600.log");
  const std::size_t units = path.size() - 1;
  ASSERT_EQ(
      SQLSetConnectAttrW(dbc_, SQL_ATTR_TRACEFILE, const_cast<SQLWCHAR*>(path.data()), SQL_NTS),
      SQL_SUCCESS);
  SQLWCHAR out[64];
  SQLINTEGER bytes = 0;
  ASSERT_EQ(SQLGetConnectAttrW(dbc_, SQL_ATTR_TRACEFILE, out, sizeof out, &bytes), SQL_SUCCESS);
  EXPECT_EQ(U(out), U(path.data()));
  EXPECT_EQ(static_cast<std::size_t>(bytes), units * 2);

  // A length in bytes: the first six characters only.
  ASSERT_EQ(
      SQLSetConnectAttrW(dbc_, SQL_ATTR_TRACEFILE, const_cast<SQLWCHAR*>(path.data()), 12),
      SQL_SUCCESS);
  ASSERT_EQ(SQLGetConnectAttrW(dbc_, SQL_ATTR_TRACEFILE, out, sizeof out, &bytes), SQL_SUCCESS);
  EXPECT_EQ(U(out), u"/tmp/т");

  for (SQLWCHAR& u : out) u = kGuard;
  ASSERT_EQ(SQLGetConnectAttrW(dbc_, SQL_ATTR_TRACEFILE, out, 4, &bytes),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(bytes, 12);
  EXPECT_EQ(U(out), u"/");
  EXPECT_EQ(out[2], kGuard);
  EXPECT_EQ(FirstState(SQL_HANDLE_DBC, dbc_), "01004");
}

TEST_F(WideTextTest, Attribute1905TurnsNarrowTextInItsBufferIntoUTF16InPlace) {
  UseCharset("UTF-8");
  const char narrow[] = "h\xC3\xA9llo \xF0\x9F\x98\x80";  // 11 bytes
  const SQLINTEGER n = static_cast<SQLINTEGER>(sizeof narrow - 1);
  SQLWCHAR buffer[16];
  for (SQLWCHAR& u : buffer) u = kGuard;
  std::memcpy(buffer, narrow, static_cast<std::size_t>(n));
  SQLINTEGER length = n;
  EXPECT_EQ(SQLGetConnectAttrW(dbc_, 1905, buffer, sizeof buffer, &length), SQL_SUCCESS);
  EXPECT_EQ(U(buffer), u"héllo \U0001F600");
  EXPECT_EQ(length, 16);

  // A narrow length beyond the buffer is refused, and nothing is read or written.
  for (SQLWCHAR& u : buffer) u = kGuard;
  length = 40;
  EXPECT_EQ(SQLGetConnectAttrW(dbc_, 1905, buffer, 32, &length), SQL_ERROR);
  EXPECT_EQ(buffer[0], kGuard);
  EXPECT_EQ(SQLGetConnectAttrW(dbc_, 1905, buffer, 32, nullptr), SQL_ERROR);
  EXPECT_EQ(SQLGetConnectAttrW(env_, 1905, buffer, 32, &length), SQL_INVALID_HANDLE);
}

TEST_F(WideTextTest, ConnectionStringLeavesNoCopyInThePool) {
  UseCharset("UTF-8");
  const auto in = W(u"DSN=NoSuchSourceForWideTests;UID=dba;PWD=Geheimnis\u00E9xyz");
  SQLWCHAR out[256];
  SQLSMALLINT length = 0;
  const SQLRETURN rc = SQLDriverConnectW(dbc_, nullptr, const_cast<SQLWCHAR*>(in.data()),
                                         SQL_NTS, out, 256, &length, SQL_DRIVER_NOPROMPT);
  EXPECT_EQ(rc, SQL_ERROR);
  EXPECT_FALSE(vq::odbc::StringPoolHolds("Geheimnis", 9));
  EXPECT_FALSE(vq::odbc::StringPoolHolds("NoSuchSourceForWideTests", 24));
  const auto password = W(u"Geheimnis");
  EXPECT_EQ(SQLConnectW(dbc_, const_cast<SQLWCHAR*>(W(u"NoSuchSourceForWideTests").data()),
                        SQL_NTS, nullptr, 0, const_cast<SQLWCHAR*>(password.data()), SQL_NTS),
            SQL_ERROR);
  EXPECT_FALSE(vq::odbc::StringPoolHolds("Geheimnis", 9));
}

}  // namespace
