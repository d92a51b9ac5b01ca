// SQLGetInfo without a server: every item at the width the ODBC API declares for it, the
// answers that follow the connection's flags and attributes, texts that do not fit, and
// the refusals. The answers that ask the server are tested against vqeng12 (odbc_e2e).
#include "odbc/driver_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "api_fixture.h"
#include "odbc/connect.h"
#include "odbc/handles.h"
#include "utils/base/memory.h"

namespace {

constexpr unsigned char kSentinel = 0xA5;

std::string DbcState(SQLHDBC dbc) { return FirstState(SQL_HANDLE_DBC, dbc); }

// The items the ODBC API declares as SQLUSMALLINT, as text, and as handles.
const std::set<SQLUSMALLINT> kSmallItems = {
    SQL_MAX_DRIVER_CONNECTIONS,
    SQL_MAX_CONCURRENT_ACTIVITIES,
    SQL_ODBC_API_CONFORMANCE,
    SQL_ODBC_SAG_CLI_CONFORMANCE,
    SQL_ODBC_SQL_CONFORMANCE,
    SQL_CONCAT_NULL_BEHAVIOR,
    SQL_CURSOR_COMMIT_BEHAVIOR,
    SQL_CURSOR_ROLLBACK_BEHAVIOR,
    SQL_IDENTIFIER_CASE,
    SQL_MAX_COLUMN_NAME_LEN,
    SQL_MAX_CURSOR_NAME_LEN,
    SQL_MAX_SCHEMA_NAME_LEN,
    SQL_MAX_PROCEDURE_NAME_LEN,
    SQL_MAX_CATALOG_NAME_LEN,
    SQL_MAX_TABLE_NAME_LEN,
    SQL_TXN_CAPABLE,
    SQL_CORRELATION_NAME,
    SQL_NON_NULLABLE_COLUMNS,
    SQL_FILE_USAGE,
    SQL_NULL_COLLATION,
    SQL_GROUP_BY,
    SQL_QUOTED_IDENTIFIER_CASE,
    SQL_MAX_COLUMNS_IN_GROUP_BY,
    SQL_MAX_COLUMNS_IN_INDEX,
    SQL_MAX_COLUMNS_IN_ORDER_BY,
    SQL_MAX_COLUMNS_IN_SELECT,
    SQL_MAX_COLUMNS_IN_TABLE,
    SQL_MAX_TABLES_IN_SELECT,
    SQL_MAX_USER_NAME_LEN,
    SQL_CATALOG_LOCATION,
    SQL_ACTIVE_ENVIRONMENTS,
    SQL_MAX_IDENTIFIER_LEN,
};
const std::set<SQLUSMALLINT> kTextItems = {
    SQL_DATA_SOURCE_NAME,
    SQL_DRIVER_NAME,
    SQL_DRIVER_VER,
    SQL_ODBC_VER,
    SQL_ROW_UPDATES,
    SQL_SERVER_NAME,
    SQL_SEARCH_PATTERN_ESCAPE,
    SQL_DATABASE_NAME,
    SQL_DBMS_NAME,
    SQL_DBMS_VER,
    SQL_ACCESSIBLE_TABLES,
    SQL_ACCESSIBLE_PROCEDURES,
    SQL_PROCEDURES,
    SQL_DATA_SOURCE_READ_ONLY,
    SQL_EXPRESSIONS_IN_ORDERBY,
    SQL_IDENTIFIER_QUOTE_CHAR,
    SQL_MULT_RESULT_SETS,
    SQL_MULTIPLE_ACTIVE_TXN,
    SQL_OUTER_JOINS,
    SQL_SCHEMA_TERM,
    SQL_PROCEDURE_TERM,
    SQL_CATALOG_NAME_SEPARATOR,
    SQL_CATALOG_TERM,
    SQL_TABLE_TERM,
    SQL_USER_NAME,
    SQL_INTEGRITY,
    SQL_DRIVER_ODBC_VER,
    SQL_COLUMN_ALIAS,
    SQL_KEYWORDS,
    SQL_ORDER_BY_COLUMNS_IN_SELECT,
    SQL_SPECIAL_CHARACTERS,
    SQL_MAX_ROW_SIZE_INCLUDES_LONG,
    SQL_NEED_LONG_DATA_LEN,
    SQL_LIKE_ESCAPE_CLAUSE,
    SQL_XOPEN_CLI_YEAR,
    SQL_DESCRIBE_PARAMETER,
    SQL_CATALOG_NAME,
    SQL_COLLATION_SEQ,
};
const std::set<SQLUSMALLINT> kHandleItems = {SQL_DRIVER_HENV, SQL_DRIVER_HDBC, SQL_DRIVER_HSTMT,
                                             SQL_DRIVER_HDESC, SQL_DRIVER_HLIB};
// Items answered by a query to the server.
const std::set<SQLUSMALLINT> kServerItems = {SQL_SERVER_NAME, SQL_DATABASE_NAME, SQL_USER_NAME,
                                             SQL_COLLATION_SEQ};

class DriverInfoTest : public ApiFixture {
 protected:
  // A connection that looks connected to the constant answers (no client connection).
  void LookConnected(std::uint32_t server_version) {
    Dbc()->state = kDbcConnected;
    Dbc()->server_version = server_version;
  }

  std::string Text(SQLUSMALLINT item) {
    char out[2048];
    SQLSMALLINT length = -1;
    EXPECT_EQ(SQLGetInfo(dbc_, item, out, sizeof out, &length), SQL_SUCCESS) << item;
    return std::string(out, std::max<SQLSMALLINT>(length, 0));
  }
  SQLUINTEGER Integer(SQLUSMALLINT item) {
    SQLUINTEGER value = 0;
    EXPECT_EQ(SQLGetInfo(dbc_, item, &value, sizeof value, nullptr), SQL_SUCCESS) << item;
    return value;
  }
  SQLUSMALLINT Small(SQLUSMALLINT item) {
    SQLUSMALLINT value = 0;
    EXPECT_EQ(SQLGetInfo(dbc_, item, &value, sizeof value, nullptr), SQL_SUCCESS) << item;
    return value;
  }
};

// Every item of the ODBC API up to SQL_CONVERT_GUID and the ODBC 3 items from 10000:
// numbers and handles write exactly their width and report it; texts are terminated.
TEST_F(DriverInfoTest, EveryItemAnswersAtItsDeclaredWidth) {
  LookConnected(12001);
  std::vector<SQLUSMALLINT> items;
  for (SQLUSMALLINT item = 0; item <= SQL_CONVERT_GUID; ++item) items.push_back(item);
  for (SQLUSMALLINT item : {10000, 10001, 10002, 10003, 10004, 10005, 10021, 10022}) {
    items.push_back(item);
  }
  for (SQLUSMALLINT item : items) {
    SCOPED_TRACE(item);
    if (kServerItems.count(item) != 0) continue;
    unsigned char out[4000];
    std::memset(out, kSentinel, sizeof out);
    SQLSMALLINT length = -1;
    const SQLRETURN rc = SQLGetInfo(dbc_, item, out, sizeof out - 1, &length);
    if (item == SQL_DM_VER) {
      EXPECT_EQ(rc, SQL_ERROR);
      EXPECT_EQ(DbcState(dbc_), "HY096");
      continue;
    }
    ASSERT_EQ(rc, SQL_SUCCESS);
    if (kTextItems.count(item) != 0) {
      ASSERT_GE(length, 0);
      EXPECT_EQ(out[length], 0);
      EXPECT_EQ(std::strlen(reinterpret_cast<char*>(out)), static_cast<std::size_t>(length));
      continue;
    }
    std::size_t width = sizeof(SQLUINTEGER);
    if (kSmallItems.count(item) != 0) width = sizeof(SQLUSMALLINT);
    if (kHandleItems.count(item) != 0) width = sizeof(SQLPOINTER);
    EXPECT_EQ(length, static_cast<SQLSMALLINT>(width));
    // The statement and descriptor handles are the driver manager's value, left alone.
    const bool left_alone = item == SQL_DRIVER_HSTMT || item == SQL_DRIVER_HDESC;
    for (std::size_t i = left_alone ? 0 : width; i < sizeof out; ++i) {
      ASSERT_EQ(out[i], kSentinel) << "byte " << i;
    }
  }
}

TEST_F(DriverInfoTest, HandlesArePointerSized) {
  LookConnected(12001);
  SQLHANDLE out[2] = {nullptr, reinterpret_cast<SQLHANDLE>(~std::uintptr_t{0})};
  ASSERT_EQ(SQLGetInfo(dbc_, SQL_DRIVER_HDBC, out, sizeof out[0], nullptr), SQL_SUCCESS);
  EXPECT_EQ(out[0], dbc_);
  ASSERT_EQ(SQLGetInfo(dbc_, SQL_DRIVER_HENV, out, sizeof out[0], nullptr), SQL_SUCCESS);
  EXPECT_EQ(out[0], env_);
  out[0] = reinterpret_cast<SQLHANDLE>(0x1234567890ULL);
  ASSERT_EQ(SQLGetInfo(dbc_, SQL_DRIVER_HSTMT, out, sizeof out[0], nullptr), SQL_SUCCESS);
  EXPECT_EQ(out[0], reinterpret_cast<SQLHANDLE>(0x1234567890ULL));
  ASSERT_EQ(SQLGetInfo(dbc_, SQL_DRIVER_HLIB, out, sizeof out[0], nullptr), SQL_SUCCESS);
  EXPECT_EQ(out[0], nullptr);
  EXPECT_EQ(out[1], reinterpret_cast<SQLHANDLE>(~std::uintptr_t{0}));
}

TEST_F(DriverInfoTest, OnlyTheVersionsAreAnsweredBeforeConnecting) {
  EXPECT_EQ(Text(SQL_ODBC_VER), "03.51.0000");
  EXPECT_EQ(Text(SQL_DRIVER_ODBC_VER), "03.51");
  char out[64];
  EXPECT_EQ(SQLGetInfo(dbc_, SQL_DBMS_NAME, out, sizeof out, nullptr), SQL_ERROR);
  EXPECT_EQ(DbcState(dbc_), "08003");
  LookConnected(12001);
  EXPECT_EQ(SQLGetInfo(dbc_, 9999, out, sizeof out, nullptr), SQL_ERROR);
  EXPECT_EQ(DbcState(dbc_), "HY096");
  // Without a client connection the server's names cannot be had: an error, not "".
  SQLSMALLINT length = -1;
  EXPECT_EQ(SQLGetInfo(dbc_, SQL_USER_NAME, out, sizeof out, &length), SQL_ERROR);
  EXPECT_NE(DbcState(dbc_), "");
  // The quoting option that cannot be read leaves quoting on.
  EXPECT_EQ(Text(SQL_IDENTIFIER_QUOTE_CHAR), "\"");
}

// Answers that follow the server the connection reached and its behaviour attributes:
// each item on a plain connection to a 12.0.1 server, then on a probed connection to an
// older column-store server with MSApplications, VBRDO, an escape character and a data
// source.
TEST_F(DriverInfoTest, AnswersFollowTheConnection) {
  struct Case {
    SQLUSMALLINT item;
    std::string plain, flagged;  // texts, or numbers in decimal
  };
  const Case cases[] = {
      {SQL_DBMS_VER, "12.00.0001", "04.90.0002"},
      {SQL_DBMS_NAME, "Vellumcrest", "Brackwater Server"},
      {SQL_PROCEDURES, "N", "Y"},
      {SQL_PROCEDURE_TERM, "", "Procedure"},
      {SQL_SEARCH_PATTERN_ESCAPE, "~", "\\"},
      {SQL_DATA_SOURCE_NAME, "", "sales"},
      {SQL_OUTER_JOINS, "F", "Y"},
      {SQL_QUALIFIER_NAME_SEPARATOR, "", "."},
      {SQL_TXN_CAPABLE, "3", "2"},
      {SQL_QUALIFIER_LOCATION, "0", "1"},
      {SQL_STRING_FUNCTIONS, std::to_string(0xFFFFFF), std::to_string(0x77FFF)},
      {SQL_NUMERIC_FUNCTIONS, std::to_string(0xFFFFFF), std::to_string(0x9FFFF)},
      {SQL_TIMEDATE_FUNCTIONS, std::to_string(0x1F9FFF), std::to_string(0x1FBF)},
  };
  const auto answer = [&](SQLUSMALLINT item) {
    if (item == SQL_TXN_CAPABLE || item == SQL_QUALIFIER_LOCATION) {
      return std::to_string(Small(item));
    }
    if (item == SQL_STRING_FUNCTIONS || item == SQL_NUMERIC_FUNCTIONS ||
        item == SQL_TIMEDATE_FUNCTIONS) {
      return std::to_string(Integer(item));
    }
    return Text(item);
  };
  LookConnected(12001);
  for (const Case& c : cases) EXPECT_EQ(answer(c.item), c.plain) << c.item;

  Dbc()->server_version = 4902;
  Dbc()->cap_a |= kCapBrackwater | kCapProbed;
  Dbc()->behaviour |= kBehavMSApplications | kBehavVBRDO;
  Dbc()->attrs[kSlotEscape].text = static_cast<char*>(ut_memdup("\\x", 3));
  Dbc()->attrs[kSlotDataSourceName].text = static_cast<char*>(ut_memdup("sales", 6));
  for (const Case& c : cases) EXPECT_EQ(answer(c.item), c.flagged) << c.item;
}

// The keyword list at every buffer size near its end, and at sizes 0 and 1.
TEST_F(DriverInfoTest, LongTextsTruncateWithinTheBuffer) {
  LookConnected(12001);
  const std::string keywords = Text(SQL_KEYWORDS);
  EXPECT_EQ(std::count(keywords.begin(), keywords.end(), ',') + 1, 235);
  EXPECT_EQ(keywords.substr(0, 8), "add,aes_");
  EXPECT_EQ(keywords.substr(keywords.size() - 4), ",xml");
  const auto full = static_cast<SQLSMALLINT>(keywords.size());
  for (SQLSMALLINT size :
       {SQLSMALLINT{0}, SQLSMALLINT{1}, SQLSMALLINT(full - 1), full, SQLSMALLINT(full + 1)}) {
    SCOPED_TRACE(size);
    std::vector<unsigned char> out(static_cast<std::size_t>(full) + 8, kSentinel);
    SQLSMALLINT length = -1;
    const SQLRETURN rc = SQLGetInfo(dbc_, SQL_KEYWORDS, out.data(), size, &length);
    EXPECT_EQ(length, full);
    EXPECT_EQ(rc, size > full ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO);
    if (rc == SQL_SUCCESS_WITH_INFO) {
      EXPECT_EQ(DbcState(dbc_), "01004");
    }
    const std::size_t copied = size > 0 ? std::min<std::size_t>(full, size - 1) : 0;
    if (size > 0) {
      EXPECT_EQ(std::memcmp(out.data(), keywords.data(), copied), 0);
      EXPECT_EQ(out[copied], 0);
    }
    for (std::size_t i = size > 0 ? copied + 1 : 0; i < out.size(); ++i) {
      ASSERT_EQ(out[i], kSentinel) << i;
    }
  }
  // Only the length, without a buffer.
  SQLSMALLINT length = -1;
  EXPECT_EQ(SQLGetInfo(dbc_, SQL_DRIVER_NAME, nullptr, 0, &length), SQL_SUCCESS);
  EXPECT_EQ(length, 11);
}

}  // namespace
