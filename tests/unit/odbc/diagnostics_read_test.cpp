// Reading diagnostic records through SQLGetDiagRec, SQLError and SQLGetDiagField: record
// numbers, the state an ODBC 2 application sees, message texts and their truncation, and
// every numeric field at the width the ODBC API declares, in sentinel-filled buffers.
#include <cstring>
#include <string>
#include <vector>

#include "diag_fixture.h"

namespace {

using DiagRead = DiagFixture;

constexpr unsigned char kSentinel = 0xAB;

TEST_F(DiagRead, RecordNumbersAndBufferLengths) {
  SQLCHAR state[6];
  SQLCHAR text[64];
  SQLSMALLINT length = 0;
  EXPECT_EQ(
      DoSQLGetDiagRec(SQL_HANDLE_STMT, stmt_, 1, state, nullptr, text, sizeof text, &length),
      SQL_NO_DATA);
  AddSQLState(stmt_, kStateHY009, kStateS1009);
  EXPECT_EQ(DoSQLGetDiagRec(SQL_HANDLE_STMT, stmt_, 1, state, nullptr, text, -1, &length),
            SQL_ERROR);
  EXPECT_EQ(
      DoSQLGetDiagRec(SQL_HANDLE_STMT, stmt_, 0, state, nullptr, text, sizeof text, &length),
      SQL_ERROR);
  EXPECT_EQ(
      DoSQLGetDiagRec(SQL_HANDLE_STMT, stmt_, 2, state, nullptr, text, sizeof text, &length),
      SQL_NO_DATA);
  SQLINTEGER native = 77;
  EXPECT_EQ(
      DoSQLGetDiagRec(SQL_HANDLE_STMT, stmt_, 1, state, &native, text, sizeof text, &length),
      SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(state), "HY009");
  EXPECT_EQ(native, 0);
  // A driver state's text is the message of its row in the state table.
  char expected[256];
  CmdSeqEnv.lang->GetString(4846, expected, sizeof expected);
  ASSERT_STRNE(expected, "");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(text)),
            std::string("[Tovrak][ODBC Driver]") + expected);
  EXPECT_EQ(length, static_cast<SQLSMALLINT>(std::strlen(reinterpret_cast<char*>(text))));
  IS_JDBC = 1;
  EXPECT_EQ(Message(stmt_, 1), std::string("[Tovrak][JDBC Driver]") + expected);
}

TEST_F(DiagRead, AnOdbc2ApplicationSeesTheOdbc2State) {
  AddSQLState(dbc_, kStateHY001, kStateS1001);
  SQLCHAR state[6];
  ASSERT_EQ(DoSQLGetDiagRec(SQL_HANDLE_DBC, dbc_, 1, state, nullptr, nullptr, 0, nullptr),
            SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(state), "HY001");
  ASSERT_EQ(Set_option(env_, SQL_ATTR_ODBC_VERSION, SQL_OV_ODBC2), 0);
  ASSERT_EQ(DoSQLGetDiagRec(SQL_HANDLE_DBC, dbc_, 1, state, nullptr, nullptr, 0, nullptr),
            SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(state), "S1001");
  SQLCHAR field[8];
  SQLSMALLINT length = 0;
  ASSERT_EQ(DoSQLGetDiagField(SQL_HANDLE_DBC, dbc_, 1, SQL_DIAG_SQLSTATE, field, sizeof field,
                              &length),
            SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(field), "S1001");
  EXPECT_EQ(length, 5);
  // An ODBC 2 state of 0 reads as no data.
  FreeDiagRecords(dbc_);
  AddSQLState(dbc_, kStateHY000, kStateNone);
  EXPECT_EQ(DoSQLGetDiagRec(SQL_HANDLE_DBC, dbc_, 1, state, nullptr, nullptr, 0, nullptr),
            SQL_NO_DATA);
}

// Truncation of the message at every buffer length around its size; guard bytes stay.
TEST_F(DiagRead, MessageTruncationKeepsGuardBytes) {
  AddSQLCustomState(stmt_, kStateHY000, kStateS1000, "twelve chars", SQL_NTS);
  const std::string full = "[Tovrak][ODBC Driver]twelve chars";
  const SQLSMALLINT n = static_cast<SQLSMALLINT>(full.size());
  for (SQLSMALLINT buffer_length = 0; buffer_length <= n + 1; ++buffer_length) {
    SCOPED_TRACE(buffer_length);
    std::vector<unsigned char> area(8 + 64 + 8, kSentinel);
    SQLCHAR* text = area.data() + 8;
    SQLSMALLINT length = -1;
    const SQLRETURN rc = DoSQLGetDiagRec(SQL_HANDLE_STMT, stmt_, 1, nullptr, nullptr, text,
                                         buffer_length, &length);
    EXPECT_EQ(length, n);
    EXPECT_EQ(rc, buffer_length > n ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO);
    const std::size_t copied = buffer_length == 0 ? 0 : std::min<int>(n, buffer_length - 1);
    if (buffer_length > 0) {
      EXPECT_EQ(std::string(reinterpret_cast<char*>(text)), full.substr(0, copied));
    }
    const std::size_t written = buffer_length > 0 ? copied + 1 : 0;
    for (std::size_t i = 0; i < area.size(); ++i) {
      if (i >= 8 && i < 8 + written) continue;
      ASSERT_EQ(area[i], kSentinel) << "byte " << i;
    }
  }
  // Truncation adds no record.
  EXPECT_EQ(stmt_->record_count, 1u);
}

TEST_F(DiagRead, SQLErrorWalksTheRecordsOnce) {
  AddSQLCustomState(dbc_, kState01004, kState01004, "first", SQL_NTS);
  AddSQLCustomState(dbc_, kStateHY000, kStateS1000, "second", SQL_NTS);
  SQLCHAR state[6];
  SQLCHAR text[128];
  std::vector<std::string> seen;
  for (int i = 0; i < 4; ++i) {
    const SQLRETURN rc =
        DoSQLError(SQL_HANDLE_DBC, dbc_, state, nullptr, text, sizeof text, nullptr);
    seen.push_back(rc == SQL_NO_DATA ? std::string("no data")
                                     : std::string(reinterpret_cast<char*>(state)));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"01004", "HY000", "no data", "no data"}));
  // Many more calls never wrap round to the first record.
  for (int i = 0; i < 70000; ++i) {
    ASSERT_EQ(DoSQLError(SQL_HANDLE_DBC, dbc_, state, nullptr, text, sizeof text, nullptr),
              SQL_NO_DATA);
  }
  // Clearing starts the walk again.
  FreeDiagRecords(dbc_);
  AddSQLState(dbc_, kStateHY010, kStateS1010);
  EXPECT_EQ(DoSQLError(SQL_HANDLE_DBC, dbc_, state, nullptr, text, sizeof text, nullptr),
            SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(state), "HY010");
}

// Each numeric field is written at its ODBC width and not one byte further.
TEST_F(DiagRead, NumericFieldsAtTheirOdbcWidths) {
  stmt_->state = kStmtOnRows;
  stmt_->rowset_row = 6;
  stmt_->row_count = 0x123456789LL;
  stmt_->dyn_func_code = SQL_DIAG_UPDATE_WHERE;
  stmt_->retcode = SQL_SUCCESS;
  AddTruncationState(stmt_, kState01004, kState01004, 3, 6);
  ServerError(-131, "42000", "37000", "bad");
  AddSQLError(stmt_);
  // Both records name row 7 (the statement is on rows); the warning stays first: record
  // 1 is the truncation (column 3), record 2 the server error.
  struct Case {
    const char* name;
    tagOBJECT* h;
    SQLSMALLINT record;
    SQLSMALLINT id;
    std::size_t width;
    std::int64_t value;
  } const cases[] = {
      {"return code", stmt_, 0, SQL_DIAG_RETURNCODE, sizeof(SQLRETURN), SQL_ERROR},
      {"number", stmt_, 0, SQL_DIAG_NUMBER, sizeof(SQLINTEGER), 2},
      {"row count", stmt_, 0, SQL_DIAG_ROW_COUNT, sizeof(SQLLEN), 0x123456789LL},
      {"cursor row count", stmt_, 0, SQL_DIAG_CURSOR_ROW_COUNT, sizeof(SQLLEN), 0x123456789LL},
      {"function code", stmt_, 0, SQL_DIAG_DYNAMIC_FUNCTION_CODE, sizeof(SQLINTEGER),
       SQL_DIAG_UPDATE_WHERE},
      {"native", stmt_, 2, SQL_DIAG_NATIVE, sizeof(SQLINTEGER), -131},
      {"row number", stmt_, 1, SQL_DIAG_ROW_NUMBER, sizeof(SQLLEN), 7},
      {"column number", stmt_, 1, SQL_DIAG_COLUMN_NUMBER, sizeof(SQLINTEGER), 3},
      {"no column", stmt_, 2, SQL_DIAG_COLUMN_NUMBER, sizeof(SQLINTEGER), -2},
      {"env return code", env_, 0, SQL_DIAG_RETURNCODE, sizeof(SQLRETURN), 0},
      {"dbc number", dbc_, 0, SQL_DIAG_NUMBER, sizeof(SQLINTEGER), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    unsigned char area[32];
    std::memset(area, kSentinel, sizeof area);
    SQLSMALLINT length = -5;
    ASSERT_EQ(DoSQLGetDiagField(static_cast<SQLSMALLINT>(c.h->kind), c.h, c.record, c.id,
                                area + 8, 0, &length),
              SQL_SUCCESS);
    std::int64_t got = 0;
    switch (c.width) {
      case 2: {
        std::int16_t v;
        std::memcpy(&v, area + 8, 2);
        got = v;
        break;
      }
      case 4: {
        std::int32_t v;
        std::memcpy(&v, area + 8, 4);
        got = v;
        break;
      }
      default: {
        std::int64_t v;
        std::memcpy(&v, area + 8, 8);
        got = v;
        break;
      }
    }
    EXPECT_EQ(got, c.value);
    for (std::size_t i = 0; i < sizeof area; ++i) {
      if (i >= 8 && i < 8 + c.width) continue;
      ASSERT_EQ(area[i], kSentinel) << "byte " << i;
    }
  }
}

TEST_F(DiagRead, TextFields) {
  std::strcpy(dbc_->name, "SQL_DBC_1234");
  dbc_->attrs[kSlotServerName].text = static_cast<char*>(ut_alloc(8));
  std::strcpy(dbc_->attrs[kSlotServerName].text, "demo12");
  stmt_->dyn_func_code = SQL_DIAG_CREATE_TABLE;
  AddSQLState(stmt_, PackSQLState("01S02"), PackSQLState("01S02"));
  AddSQLState(env_, kStateHY010, kStateS1010);
  struct Case {
    const char* name;
    tagOBJECT* h;
    SQLSMALLINT id;
    const char* expected;
  } const cases[] = {
      {"state", stmt_, SQL_DIAG_SQLSTATE, "01S02"},
      {"class origin", stmt_, SQL_DIAG_CLASS_ORIGIN, "ISO 9075"},
      {"subclass origin", stmt_, SQL_DIAG_SUBCLASS_ORIGIN, "ODBC 3.0"},
      {"connection name", stmt_, SQL_DIAG_CONNECTION_NAME, "SQL_DBC_1234"},
      {"server name", stmt_, SQL_DIAG_SERVER_NAME, "demo12"},
      {"dynamic function", stmt_, SQL_DIAG_DYNAMIC_FUNCTION, "CREATE TABLE"},
      {"env class origin", env_, SQL_DIAG_CLASS_ORIGIN, "ISO 9075"},
      {"env subclass origin", env_, SQL_DIAG_SUBCLASS_ORIGIN, "ISO 9075"},
      {"env connection name", env_, SQL_DIAG_CONNECTION_NAME, ""},
      {"env server name", env_, SQL_DIAG_SERVER_NAME, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char text[40];
    std::memset(text, kSentinel, sizeof text);
    SQLSMALLINT length = -1;
    ASSERT_EQ(DoSQLGetDiagField(static_cast<SQLSMALLINT>(c.h->kind), c.h, 1, c.id, text,
                                sizeof text, &length),
              SQL_SUCCESS);
    EXPECT_STREQ(text, c.expected);
    EXPECT_EQ(length, static_cast<SQLSMALLINT>(std::strlen(c.expected)));
    // A buffer too short: truncated, terminated, result 1.
    char tiny[3];
    ASSERT_EQ(DoSQLGetDiagField(static_cast<SQLSMALLINT>(c.h->kind), c.h, 1, c.id, tiny,
                                sizeof tiny, &length),
              std::strlen(c.expected) >= 3 ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS);
    EXPECT_EQ(std::string(tiny), std::string(c.expected).substr(0, 2));
    EXPECT_EQ(
        DoSQLGetDiagField(static_cast<SQLSMALLINT>(c.h->kind), c.h, 1, c.id, text, -1, &length),
        SQL_ERROR);
  }
  // Origins follow the first and third characters of the state shown.
  struct Origin {
    const char* state;
    const char* class_origin;
    const char* subclass_origin;
  } const origins[] = {{"42000", "ISO 9075", "ISO 9075"}, {"HY000", "ISO 9075", "ISO 9075"},
                       {"42S02", "ISO 9075", "ODBC 3.0"}, {"IM001", "ODBC 3.0", "ODBC 3.0"},
                       {"08S01", "ISO 9075", "ODBC 3.0"}, {"S1000", "ODBC 3.0", "ODBC 3.0"},
                       {"57000", "ODBC 3.0", "ODBC 3.0"}, {"HYC00", "ISO 9075", "ISO 9075"}};
  for (const Origin& o : origins) {
    SCOPED_TRACE(o.state);
    FreeDiagRecords(dbc_);
    AddSQLState(dbc_, PackSQLState(o.state), PackSQLState(o.state));
    char text[16];
    DoSQLGetDiagField(SQL_HANDLE_DBC, dbc_, 1, SQL_DIAG_CLASS_ORIGIN, text, sizeof text,
                      nullptr);
    EXPECT_STREQ(text, o.class_origin);
    DoSQLGetDiagField(SQL_HANDLE_DBC, dbc_, 1, SQL_DIAG_SUBCLASS_ORIGIN, text, sizeof text,
                      nullptr);
    EXPECT_STREQ(text, o.subclass_origin);
  }
}

TEST_F(DiagRead, FieldRefusals) {
  AddSQLCustomState(dbc_, kStateHY000, kStateS1000, "message", SQL_NTS);
  SQLLEN value = 0;
  char text[64];
  SQLSMALLINT length = 0;
  // Statement-only header fields on other handles.
  for (SQLSMALLINT id : {SQL_DIAG_ROW_COUNT, SQL_DIAG_CURSOR_ROW_COUNT,
                         SQL_DIAG_DYNAMIC_FUNCTION, SQL_DIAG_DYNAMIC_FUNCTION_CODE}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(DoSQLGetDiagField(SQL_HANDLE_DBC, dbc_, 0, id, &value, sizeof value, &length),
              SQL_ERROR);
    EXPECT_EQ(DoSQLGetDiagField(SQL_HANDLE_ENV, env_, 0, id, &value, sizeof value, &length),
              SQL_ERROR);
  }
  // Unknown identifiers.
  EXPECT_EQ(DoSQLGetDiagField(SQL_HANDLE_DBC, dbc_, 1, 999, text, sizeof text, &length),
            SQL_ERROR);
  // Record fields: record below 1, and beyond the last.
  EXPECT_EQ(DoSQLGetDiagField(SQL_HANDLE_DBC, dbc_, 0, SQL_DIAG_NATIVE, &value, 0, &length),
            SQL_ERROR);
  EXPECT_EQ(DoSQLGetDiagField(SQL_HANDLE_DBC, dbc_, 2, SQL_DIAG_NATIVE, &value, 0, &length),
            SQL_NO_DATA);
  // The message text through the field reads as through SQLGetDiagRec.
  ASSERT_EQ(DoSQLGetDiagField(SQL_HANDLE_DBC, dbc_, 1, SQL_DIAG_MESSAGE_TEXT, text, sizeof text,
                              &length),
            SQL_SUCCESS);
  EXPECT_STREQ(text, "[Tovrak][ODBC Driver]message");
  EXPECT_EQ(DoSQLGetDiagField(SQL_HANDLE_DBC, dbc_, 1, SQL_DIAG_MESSAGE_TEXT, text, 5, &length),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(text, "[Tov");
  EXPECT_EQ(
      DoSQLGetDiagField(SQL_HANDLE_DBC, dbc_, 1, SQL_DIAG_MESSAGE_TEXT, text, -1, &length),
      SQL_ERROR);
}

// A message of exactly 512 characters with its prefix is kept whole; one more character
// is cut; a buffer of the message's length without room for the terminator gives 1 and
// all but the last character.
TEST_F(DiagRead, FiveHundredTwelveCharacterMessages) {
  const std::size_t prefix = std::strlen("[Tovrak][ODBC Driver]");
  for (std::size_t extra : {0, 1}) {
    SCOPED_TRACE(extra);
    FreeDiagRecords(dbc_);
    std::string body(kDiagMessageChars - prefix + extra, 'm');
    AddSQLCustomState(dbc_, kStateHY000, kStateS1000, body.c_str(), SQL_NTS);
    std::vector<char> text(1024, '\0');
    SQLSMALLINT length = 0;
    ASSERT_EQ(DoSQLGetDiagRec(SQL_HANDLE_DBC, dbc_, 1, nullptr, nullptr,
                              reinterpret_cast<SQLCHAR*>(text.data()), 1024, &length),
              SQL_SUCCESS);
    EXPECT_EQ(length, 512);
    EXPECT_EQ(std::strlen(text.data()), 512u);
    std::fill(text.begin(), text.end(), '\x7F');
    ASSERT_EQ(DoSQLGetDiagRec(SQL_HANDLE_DBC, dbc_, 1, nullptr, nullptr,
                              reinterpret_cast<SQLCHAR*>(text.data()), 512, &length),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(std::strlen(text.data()), 511u);
    EXPECT_EQ(text[512], '\x7F');
  }
}

}  // namespace
