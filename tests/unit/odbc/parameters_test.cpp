// Parameters: escape literals, hexadecimal and GUID text, the wire item chosen for each
// C type, internal buffers, the conversion of bound values of one or more sets, binding
// refusals, the parameter description and the data-at-execution dialogue (pieces
// appended, bad lengths refused).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "api_fixture.h"
#include "cmdseq/wire_values.h"
#include "odbc/parameters.h"

namespace {

// ---- Text forms ------------------------------------------------------------------------

struct EscapeCase {
  const char* text;
  int kind;
  const char* literal;  // the literal for an escape
};

TEST(ParameterText, EscapeLiterals) {
  const EscapeCase cases[] = {
      {"{d '2024-02-29'}", kEscapeDate, "2024-02-29"},
      {"{ ts '2024-02-29 10:00:00' }", kEscapeTimestamp, "2024-02-29 10:00:00"},
      {"{T '10:11:12'}", kEscapeTime, "10:11:12"},
      {"{guid '00112233-4455-6677-8899-aabbccddeeff'}", kEscapeGuid,
       "00112233-4455-6677-8899-aabbccddeeff"},
      {"{d ''}", kEscapeDate, ""},
      {"{d '}", kEscapeNone, nullptr},
      {"{x '1'}", kEscapeNone, nullptr},
      {"{d'2024-02-29'}", kEscapeNone, nullptr},
      {"{d 2024-02-29}", kEscapeNone, nullptr},
      {"d '2024-02-29'", kEscapeNone, nullptr},
      {"{d '2024-02-29'", kEscapeNone, nullptr},
      {"{}", kEscapeNone, nullptr},
  };
  for (const EscapeCase& c : cases) {
    SCOPED_TRACE(c.text);
    const char* text = c.text;
    long length = static_cast<long>(std::strlen(c.text));
    EXPECT_EQ(ParseEscapeLiteral(&text, &length), c.kind);
    if (c.literal != nullptr) {
      EXPECT_EQ(std::string(text, static_cast<std::size_t>(length)), c.literal);
    } else {
      EXPECT_EQ(text, c.text);  // nothing narrowed
    }
  }
}

TEST(ParameterText, HexadecimalAndGuidText) {
  std::uint8_t out[16];
  EXPECT_EQ(char_to_binary("00aBfF", out, 3), 1);
  EXPECT_EQ(out[0], 0x00);
  EXPECT_EQ(out[1], 0xAB);
  EXPECT_EQ(out[2], 0xFF);
  std::memset(out, 0x55, sizeof out);
  EXPECT_EQ(char_to_binary("12zz", out, 2), 0);
  EXPECT_EQ(out[0], 0x12);  // bytes before the bad digit are written
  EXPECT_EQ(char_to_binary("", out, 0), 1);

  ASSERT_EQ(char_to_uuid("00112233-4455-6677-8899-aabbccddeeff", out, 16), 1);
  SQLGUID g;
  std::memcpy(&g, out, sizeof g);
  EXPECT_EQ(g.Data1, 0x00112233u);
  EXPECT_EQ(g.Data2, 0x4455u);
  EXPECT_EQ(g.Data3, 0x6677u);
  const std::uint8_t tail[8] = {0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  EXPECT_EQ(std::memcmp(g.Data4, tail, 8), 0);
  for (const char* bad : {"00112233-4455-6677-8899+aabbccddeeff",
                          "0011223-34455-6677-8899-aabbccddeeff",
                          "00112233-4455-6677-8899-aabbccddeefg"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(char_to_uuid(bad, out, 16), 0);
  }
  EXPECT_EQ(char_to_uuid("00112233-4455-6677-8899-aabbccddeeff", out, 8), 0);
}

// ---- Item mapping and buffers -------------------------------------------------------------

class ParamApi : public ApiFixture {
 protected:
  void TearDown() override {
    if (Stmt() != nullptr) FreeParamLists(Stmt());
    ApiFixture::TearDown();
  }

  // The parameter as the server described it (IPD record `number`).
  tagITEM* Describe(SQLSMALLINT number, SQLSMALLINT sql_type, SQLULEN length,
                    SQLSMALLINT precision = 0, SQLSMALLINT scale = 0,
                    SQLSMALLINT kind = SQL_PARAM_INPUT) {
    tagITEM* rec = AccessDescItem(Stmt()->ipd, number);
    EXPECT_NE(rec, nullptr);
    rec->concise_type = sql_type;
    rec->type = sql_type;
    rec->length = length;
    rec->precision = precision;
    rec->scale = scale;
    rec->parameter_type = kind;
    Stmt()->state = kStmtPrepared;
    return rec;
  }

  SQLRETURN Bind(SQLUSMALLINT number, SQLSMALLINT c_type, SQLSMALLINT sql_type, void* value,
                 SQLLEN buffer_length, SQLLEN* indicator, SQLULEN size = 0,
                 SQLSMALLINT digits = 0) {
    return SQLBindParameter(Stmt(), number, SQL_PARAM_INPUT, c_type, sql_type, size, digits,
                            value, buffer_length, indicator);
  }

  a_cmdseq_desc_item* Item(std::uint32_t set, std::uint32_t parameter) {
    a_odbc_item_list* list = Stmt()->param_list;
    return CmdSeqFastGetDescItem(list->desc.items, set * list->columns + parameter, 1);
  }

  // Converts set `set` into list row `row`.
  SQLRETURN Convert(SQLULEN set, unsigned row = 0) {
    Stmt()->param_set = set;
    Stmt()->param_index = 0;
    return Parameter_descriptor(Stmt(), row);
  }

  std::string ItemText(a_cmdseq_desc_item* item) {
    return std::string(static_cast<const char*>(item->values()[0].data), item->length);
  }
};

struct MappingCase {
  SQLSMALLINT effective;
  SQLSMALLINT sql_type;
  SQLLEN octet_length;
  SQLULEN max_length;
  std::int16_t wire;
  std::uint32_t length;
  bool in_place;
  std::int16_t subtype;
};

TEST_F(ParamApi, WireItemOfEachEffectiveType) {
  const MappingCase cases[] = {
      {SQL_TINYINT, SQL_INTEGER, 0, 0, -6, 1, true, 0},
      {SQL_BIGINT, SQL_BIGINT, 0, 0, -5, 8, true, 0},
      {-27, SQL_BIGINT, 0, 0, -25, 8, true, 0},
      {-18, SQL_INTEGER, 0, 0, -24, 4, true, 0},
      {SQL_INTEGER, SQL_INTEGER, 0, 0, 4, 4, true, 0},
      {SQL_SMALLINT, SQL_INTEGER, 0, 0, 5, 2, true, 0},
      {SQL_REAL, SQL_DOUBLE, 0, 0, 6, 4, true, 0},
      {SQL_DOUBLE, SQL_DOUBLE, 0, 0, 8, 8, true, 0},
      {SQL_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 0, 0, -22, 16, false, 0},
      {SQL_VARCHAR, SQL_VARCHAR, 100001, 40000, -1, 40000, false, 0},
      {SQL_VARCHAR, SQL_VARCHAR, 100001, 1000, 12, 1000, false, 0},
      {SQL_VARCHAR, SQL_VARCHAR, 11, 0, 12, 10, false, 0},
      {SQL_VARCHAR, SQL_VARBINARY, 20, 0, -2, 10, false, 0},
      {SQL_VARCHAR, SQL_GUID, 40, 0, -2, 18, false, 0},
      {SQL_VARCHAR, SQL_TIME, 20, 0, 9, 20, false, 2},
      {SQL_VARCHAR, SQL_DATE, 20, 0, 9, 20, false, 1},
      {SQL_BINARY, SQL_GUID, 16, 0, -2, 16, false, 0},
      {SQL_BINARY, SQL_VARBINARY, 40000, 0, -4, 40000, false, 0},
      {SQL_BINARY, SQL_NUMERIC, 16, 0, 3, 6, false, 0},
      {SQL_NUMERIC, SQL_NUMERIC, 19, 0, 2, 6, false, 0},
      {SQL_VARCHAR, SQL_VARCHAR, 1, 0, 12, 1, false, 0},  // a length of 0 becomes 1
  };
  tagITEM impl{};
  impl.precision = 10;
  for (const MappingCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.effective << " as " << c.sql_type << " max "
                                    << c.max_length);
    tagITEM rec{};
    rec.effective_type = c.effective;
    rec.concise_type = c.effective;
    rec.octet_length = c.octet_length;
    Stmt()->max_length = c.max_length;
    a_cmdseq_desc_item item{};
    SetupFetchItem(Stmt(), &rec, &impl, c.sql_type, true, &item);
    EXPECT_EQ(item.type, c.wire);
    EXPECT_EQ(item.length, c.length);
    EXPECT_EQ(item.subtype, c.subtype);
    EXPECT_EQ((rec.flags & kItemInPlace) != 0, c.in_place);
  }
}

TEST_F(ParamApi, InternalBufferGrowsAndKeepsEveryRow) {
  tagITEM rec{};
  ASSERT_EQ(AllocItemBuffer(Stmt(), &rec, 10, 3, nullptr, 0, 0), 1);
  EXPECT_EQ(rec.element_bytes, 16u);
  for (int r = 0; r < 3; ++r) std::memset(rec.buffer + r * 16, 'a' + r, 16);
  ASSERT_EQ(AllocItemBuffer(Stmt(), &rec, 20, 3, nullptr, 0, 0), 1);
  EXPECT_EQ(rec.element_bytes, 24u);
  for (int r = 0; r < 3; ++r) {
    SCOPED_TRACE(r);
    EXPECT_EQ(std::string(rec.buffer + r * 24, 16), std::string(16, static_cast<char>('a' + r)));
    EXPECT_EQ(std::string(rec.buffer + r * 24 + 16, 8), std::string(8, '\0'));
  }
  ASSERT_EQ(AllocItemBuffer(Stmt(), &rec, 8, 3, nullptr, 0, 0), 1);
  EXPECT_EQ(rec.element_bytes, 24u);  // a larger buffer is kept
  Stmt()->max_length = 20;
  tagITEM capped{};
  ASSERT_EQ(AllocItemBuffer(Stmt(), &capped, 30, 1, nullptr, 0, 0), 1);
  EXPECT_EQ(capped.element_bytes, 20u);  // the maximum length, not rounded
  ut_free(rec.buffer);
  ut_free(capped.buffer);
}

// ---- Conversion of bound values ---------------------------------------------------------

TEST_F(ParamApi, FixedSizeArraysAreSentInPlace) {
  SQLINTEGER values[3] = {7, 8, 9};
  Describe(1, SQL_INTEGER, 10);
  ASSERT_EQ(Bind(1, SQL_C_SLONG, SQL_INTEGER, values, 0, nullptr), SQL_SUCCESS);
  Stmt()->apd->array_size = 3;
  ASSERT_EQ(SetupParamDesc(Stmt(), 3), 1);
  for (unsigned k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    ASSERT_EQ(Convert(k, k), SQL_SUCCESS);
    EXPECT_EQ(Item(k, 0)->type, 4);
    EXPECT_EQ(Item(k, 0)->values()[0].data, &values[k]);  // no copy
  }
}

TEST_F(ParamApi, CharacterDateTimeAndGuidValues) {
  char text[64];
  SQLLEN text_len = SQL_NTS;
  SQL_TIMESTAMP_STRUCT ts{2024, 2, 29, 10, 11, 12, 345678000};
  char guid[] = "00112233-4455-6677-8899-aabbccddeeff";
  SQLLEN guid_len = SQL_NTS;
  Describe(1, SQL_VARCHAR, 60);
  Describe(2, SQL_TYPE_TIMESTAMP, 26);
  Describe(3, SQL_GUID, 36);
  ASSERT_EQ(Bind(1, SQL_C_CHAR, SQL_VARCHAR, text, sizeof text, &text_len), SQL_SUCCESS);
  ASSERT_EQ(Bind(2, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, &ts, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(Bind(3, SQL_C_CHAR, SQL_GUID, guid, sizeof guid, &guid_len), SQL_SUCCESS);
  ASSERT_EQ(SetupParamDesc(Stmt(), 1), 1);

  std::strcpy(text, "{d '2024-02-29'}");
  ASSERT_EQ(Convert(0), SQL_SUCCESS);
  EXPECT_EQ(Item(0, 0)->type, 9);
  EXPECT_EQ(Item(0, 0)->subtype, 1);
  EXPECT_EQ(ItemText(Item(0, 0)), std::string("2024-02-29", 11));  // with its NUL

  a_cmdseq_datetime dt;
  std::memcpy(&dt, Item(0, 1)->values()[0].data, sizeof dt);
  EXPECT_EQ(Item(0, 1)->type, -22);
  EXPECT_EQ(dt.w0, 2024);
  EXPECT_EQ(dt.b2, 1);  // months count from 0
  EXPECT_EQ(dt.b6, 29);
  EXPECT_EQ(dt.b7, 10);
  EXPECT_EQ(dt.b8, 11);
  EXPECT_EQ(dt.b9, 12);
  EXPECT_EQ(dt.d10, 345678u);

  EXPECT_EQ(Item(0, 2)->type, -2);
  EXPECT_EQ(Item(0, 2)->length, 16u);
  // The server keeps a GUID in the order of its text.
  const std::uint8_t server_order[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                         0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  EXPECT_EQ(std::memcmp(Item(0, 2)->values()[0].data, server_order, 16), 0);

  // Plain text, then {d'...'} without white space: sent as it stands.
  std::strcpy(text, "{d'2024-02-29'}");
  ASSERT_EQ(Convert(0), SQL_SUCCESS);
  EXPECT_EQ(Item(0, 0)->type, 12);
  EXPECT_EQ(ItemText(Item(0, 0)), "{d'2024-02-29'}");

  // With the no-scan option the escape is not looked at.
  ASSERT_EQ(SQLSetStmtAttr(Stmt(), SQL_ATTR_NOSCAN, reinterpret_cast<SQLPOINTER>(SQL_NOSCAN_ON), 0),
            SQL_SUCCESS);
  std::strcpy(text, "{d '2024-02-29'}");
  ASSERT_EQ(Convert(0), SQL_SUCCESS);
  EXPECT_EQ(Item(0, 0)->type, 12);
}

TEST_F(ParamApi, MarkersNullDefaultAndDataAtExecution) {
  char text[16] = "abc";
  SQLLEN len = SQL_NULL_DATA;
  Describe(1, SQL_VARCHAR, 15);
  ASSERT_EQ(Bind(1, SQL_C_CHAR, SQL_VARCHAR, text, sizeof text, &len), SQL_SUCCESS);
  ASSERT_EQ(SetupParamDesc(Stmt(), 1), 1);
  ASSERT_EQ(Convert(0), SQL_SUCCESS);
  EXPECT_EQ(*Item(0, 0)->values()[0].indicator, -1);

  len = SQL_DEFAULT_PARAM;
  ASSERT_EQ(Convert(0), SQL_SUCCESS);
  EXPECT_EQ(Item(0, 0)->values()[0].data, nullptr);  // no value: the server's default
  EXPECT_EQ(*Item(0, 0)->values()[0].indicator, 0);

  len = 3;
  ASSERT_EQ(Convert(0), SQL_SUCCESS);
  EXPECT_EQ(ItemText(Item(0, 0)), "abc");

  for (SQLLEN marker : {static_cast<SQLLEN>(SQL_DATA_AT_EXEC), static_cast<SQLLEN>(SQL_LEN_DATA_AT_EXEC(10))}) {
    len = marker;
    EXPECT_EQ(Convert(0), SQL_NEED_DATA);
    EXPECT_EQ(Stmt()->param_index, 0);
  }

  len = -7;  // a negative length that means nothing
  EXPECT_EQ(Convert(0), SQL_ERROR);
  EXPECT_EQ(FirstState(SQL_HANDLE_STMT, Stmt()), "HY090");
}

TEST_F(ParamApi, ValuesThatDoNotConvertAreReported) {
  SQL_NUMERIC_STRUCT num{};
  num.precision = 3;
  num.sign = 1;
  num.val[0] = 0x39;  // 12345
  num.val[1] = 0x30;
  char hex[] = "0A1G";
  SQLLEN hex_len = SQL_NTS;
  Describe(1, SQL_NUMERIC, 3, 3, 0);
  Describe(2, SQL_VARBINARY, 2);
  ASSERT_EQ(Bind(1, SQL_C_NUMERIC, SQL_NUMERIC, &num, sizeof num, nullptr, 3), SQL_SUCCESS);
  ASSERT_EQ(Bind(2, SQL_C_CHAR, SQL_VARBINARY, hex, sizeof hex, &hex_len), SQL_SUCCESS);
  ASSERT_EQ(SetupParamDesc(Stmt(), 1), 1);
  EXPECT_EQ(Convert(0), SQL_ERROR);
  EXPECT_EQ(FirstState(SQL_HANDLE_STMT, Stmt()), "22003");

  num.precision = 5;
  ClearError(Stmt());
  Stmt()->retcode = SQL_SUCCESS;
  EXPECT_EQ(Convert(0), SQL_ERROR);  // the number fits now; the hexadecimal text does not
  EXPECT_EQ(Stmt()->param_index, 1);
  EXPECT_EQ(FirstState(SQL_HANDLE_STMT, Stmt()), "22018");
  ClearError(Stmt());
  Stmt()->retcode = SQL_SUCCESS;

  std::strcpy(hex, "0a1f");
  ASSERT_EQ(Convert(0), SQL_SUCCESS);
  EXPECT_EQ(Item(0, 1)->length, 2u);
  const auto* bytes = static_cast<const std::uint8_t*>(Item(0, 1)->values()[0].data);
  EXPECT_EQ(bytes[0], 0x0A);
  EXPECT_EQ(bytes[1], 0x1F);
  EXPECT_EQ(Item(0, 0)->type, 2);
  EXPECT_EQ(Item(0, 0)->precision, 5);
}

TEST_F(ParamApi, LongValueGrowsTheBufferOfEverySet) {
  std::vector<char> values(2 * 200, 0);
  SQLLEN lengths[2] = {3, 150};
  std::memcpy(&values[0], "abc", 3);
  std::memset(&values[200], 'x', 150);
  Describe(1, SQL_VARCHAR, 10);
  ASSERT_EQ(Bind(1, SQL_C_CHAR, SQL_VARCHAR, values.data(), 200, lengths), SQL_SUCCESS);
  Stmt()->apd->array_size = 2;
  ASSERT_EQ(SetupParamDesc(Stmt(), 2), 1);
  ASSERT_EQ(Convert(0, 0), SQL_SUCCESS);
  ASSERT_EQ(Convert(1, 1), SQL_SUCCESS);
  EXPECT_EQ(ItemText(Item(0, 0)), "abc");  // moved with the buffer
  EXPECT_EQ(ItemText(Item(1, 0)), std::string(150, 'x'));
}

TEST_F(ParamApi, DescribedParameterWithoutBindingIs07002) {
  SQLINTEGER v = 1;
  Describe(1, SQL_INTEGER, 10);
  Describe(2, SQL_INTEGER, 10);
  ASSERT_EQ(Bind(1, SQL_C_SLONG, SQL_INTEGER, &v, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(SetupParamDesc(Stmt(), 1), 0);
  EXPECT_EQ(FirstState(SQL_HANDLE_STMT, Stmt()), "07002");
  EXPECT_EQ(Stmt()->param_list, nullptr);
}

// ---- Binding and description ----------------------------------------------------------------

struct BindCase {
  SQLUSMALLINT number;
  SQLSMALLINT io_type;
  SQLSMALLINT c_type;
  SQLSMALLINT sql_type;
  SQLSMALLINT digits;
  bool null_value;
  const char* state;  // "" for success
};

TEST_F(ParamApi, BindingRefusals) {
  SQLINTEGER v = 0;
  SQLLEN ind = 0;
  const BindCase cases[] = {
      {0, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, false, "07009"},
      {1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_DECIMAL, -1, false, "HY021"},
      {1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_NUMERIC, -1, false, "HY021"},
      {1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, -1, false, ""},  // taken as 0
      {1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, true, "HY009"},
      {1, SQL_PARAM_OUTPUT, SQL_C_SLONG, SQL_INTEGER, 0, true, ""},
      {1, SQL_PARAM_INPUT, 1234, SQL_INTEGER, 0, false, "HY003"},
      {1, 3, SQL_C_SLONG, SQL_INTEGER, 0, false, "HY105"},
  };
  for (const BindCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.number << " " << c.c_type << " " << c.state);
    const SQLRETURN rc = SQLBindParameter(Stmt(), c.number, c.io_type, c.c_type, c.sql_type, 10,
                                          c.digits, c.null_value ? nullptr : &v, 0,
                                          c.null_value ? nullptr : &ind);
    EXPECT_EQ(rc, *c.state == 0 ? SQL_SUCCESS : SQL_ERROR);
    EXPECT_EQ(FirstState(SQL_HANDLE_STMT, Stmt()), c.state);
  }
  // The record holds what was bound.
  ASSERT_EQ(SQLBindParameter(Stmt(), 2, SQL_PARAM_INPUT, SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10, 0,
                             &v, -1, &ind),
            SQL_SUCCESS);
  const tagITEM* rec = FindDescItem(Stmt()->apd, 2);
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(rec->concise_type, SQL_C_TYPE_DATE);
  EXPECT_EQ(rec->type, SQL_DATETIME);
  EXPECT_EQ(rec->octet_length, 10);  // buffer length -1 takes the column size
  EXPECT_EQ(rec->indicator_ptr, &ind);
  EXPECT_EQ(rec->octet_length_ptr, &ind);
  EXPECT_EQ(rec->parameter_type, SQL_PARAM_INPUT);
}

TEST_F(ParamApi, DescribeAndCountParameters) {
  SQLSMALLINT count = -1;
  EXPECT_EQ(SQLNumParams(Stmt(), &count), SQL_ERROR);
  EXPECT_EQ(FirstState(SQL_HANDLE_STMT, Stmt()), "HY010");
  Describe(1, SQL_INTEGER, 10);
  Describe(2, SQL_LONGVARCHAR, 2147483647);
  Describe(3, SQL_DECIMAL, 12, 12, 4, SQL_PARAM_OUTPUT);
  ASSERT_EQ(SQLNumParams(Stmt(), &count), SQL_SUCCESS);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(SQLNumParams(Stmt(), nullptr), SQL_ERROR);

  SQLSMALLINT type = 0, digits = 0, nullable = 0;
  SQLULEN size = 0;
  ASSERT_EQ(SQLDescribeParam(Stmt(), 2, &type, &size, &digits, &nullable), SQL_SUCCESS);
  EXPECT_EQ(type, SQL_LONGVARCHAR);
  EXPECT_EQ(size, 2147483647u);  // the whole length, not its low 16 bits
  EXPECT_EQ(nullable, SQL_NULLABLE);
  ASSERT_EQ(SQLDescribeParam(Stmt(), 3, &type, &size, &digits, nullptr), SQL_SUCCESS);
  EXPECT_EQ(type, SQL_DECIMAL);
  EXPECT_EQ(digits, 4);
  for (SQLUSMALLINT bad : {0, 4}) {
    EXPECT_EQ(SQLDescribeParam(Stmt(), bad, &type, &size, &digits, &nullable), SQL_ERROR);
    EXPECT_EQ(FirstState(SQL_HANDLE_STMT, Stmt()), "07009");
  }
}

// ---- Data at execution -----------------------------------------------------------------

class DataAtExec : public ParamApi {
 protected:
  // Parameter 1 as data at execution, converted as an execution would: SQL_NEED_DATA.
  void Start(SQLSMALLINT c_type, SQLSMALLINT sql_type) {
    Describe(1, sql_type, 100);
    ASSERT_EQ(SQLBindParameter(Stmt(), 1, SQL_PARAM_INPUT, c_type, sql_type, 100, 0, token_, 0,
                               &len_),
              SQL_SUCCESS);
    ASSERT_EQ(SetupParamDesc(Stmt(), 1), 1);
    ASSERT_EQ(Convert(0), SQL_NEED_DATA);
    Stmt()->state = kStmtExecuted;
  }

  char token_[8] = "token";
  SQLLEN len_ = SQL_DATA_AT_EXEC;
};

TEST_F(DataAtExec, PiecesAreAppended) {
  Start(SQL_C_CHAR, SQL_VARCHAR);
  SQLPOINTER value = nullptr;
  ASSERT_EQ(SQLParamData(Stmt(), &value), SQL_NEED_DATA);
  EXPECT_EQ(value, token_);
  char piece1[] = "abc";
  char piece2[] = "defgh";
  ASSERT_EQ(SQLPutData(Stmt(), piece1, SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(SQLPutData(Stmt(), piece2, 2), SQL_SUCCESS);
  EXPECT_EQ(ItemText(Item(0, 0)), "abcde");
  EXPECT_EQ(Item(0, 0)->type, 12);
}

TEST_F(DataAtExec, HexadecimalPiecesForBinary) {
  Start(SQL_C_CHAR, SQL_VARBINARY);
  char piece1[] = "0a0B";
  char piece2[] = "ff";
  ASSERT_EQ(SQLPutData(Stmt(), piece1, SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(SQLPutData(Stmt(), piece2, SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(Item(0, 0)->length, 3u);
  const auto* b = static_cast<const std::uint8_t*>(Item(0, 0)->values()[0].data);
  EXPECT_EQ(b[0], 0x0A);
  EXPECT_EQ(b[1], 0x0B);
  EXPECT_EQ(b[2], 0xFF);
  char bad[] = "zz";
  EXPECT_EQ(SQLPutData(Stmt(), bad, SQL_NTS), SQL_ERROR);
  EXPECT_EQ(FirstState(SQL_HANDLE_STMT, Stmt()), "22018");
}

TEST_F(DataAtExec, WrongArgumentsAndStates) {
  Start(SQL_C_WCHAR, SQL_WVARCHAR);
  SQLWCHAR text[4] = {'a', 'b', 'c', 0};
  EXPECT_EQ(SQLPutData(Stmt(), nullptr, 4), SQL_ERROR);
  EXPECT_EQ(FirstState(SQL_HANDLE_STMT, Stmt()), "HY009");
  EXPECT_EQ(SQLParamData(Stmt(), nullptr), SQL_ERROR);
  EXPECT_EQ(FirstState(SQL_HANDLE_STMT, Stmt()), "HY009");

  Stmt()->state = kStmtPrepared;  // not executing
  SQLPOINTER value;
  EXPECT_EQ(SQLParamData(Stmt(), &value), SQL_ERROR);
  EXPECT_EQ(FirstState(SQL_HANDLE_STMT, Stmt()), "HY010");
  EXPECT_EQ(SQLPutData(Stmt(), text, 4), SQL_ERROR);
  EXPECT_EQ(FirstState(SQL_HANDLE_STMT, Stmt()), "HY010");
}

}  // namespace
