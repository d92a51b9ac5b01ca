#include "values.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "script_client.h"

using namespace vqeng;

namespace {
// The single item a value was written as.
script::ReplyItem written(const Value& v, std::int16_t type, std::uint8_t sub = 0,
                          std::uint8_t p = 0, std::uint8_t s = 0) {
  ItemWriter w(16000, true);
  WireType t;
  t.type = type;
  t.subtype = sub;
  t.precision = p;
  t.scale = s;
  write_value(w, v, t);
  const auto pk = w.finish();
  std::vector<script::ReplyItem> items;
  EXPECT_TRUE(script::parse_items(pk[0].substr(4), items));
  EXPECT_EQ(items.size(), 1u);
  return items.empty() ? script::ReplyItem{0, 0, {}} : items[0];
}
}  // namespace

TEST(Values, WrittenInTheTypeAskedFor) {
  struct Case {
    const char* name;
    Value v;
    std::int16_t type;
    std::uint8_t sub;
    int code;
    std::string payload;
  };
  double half = 0.5;
  std::string dbl(8, '\0');
  std::memcpy(&dbl[0], &half, 8);
  const Case cases[] = {
      {"int as i16", Value::integer(-2), 5, 0, 117, script::u16le(0xFFFE)},
      {"text as i16", Value::text("12"), 5, 0, 117, script::u16le(12)},
      {"int as i32", Value::integer(70000), 4, 0, 112, script::u32le(70000)},
      {"int as i64", Value::integer(1), -5, 0, 104, script::u32le(1) + script::u32le(0)},
      {"real as double", Value::real(0.5), 8, 0, 111, dbl},
      {"text as varchar", Value::text("UTF-8"), -21, 0, 107, "UTF-8"},
      {"int as char", Value::integer(42), 1, 0, 107, "42"},
      {"null", Value::null(), 4, 0, 103, ""},
      {"no type asked, int", Value::integer(3), 0, 0, 123, script::u32le(3) + script::u32le(0)},
      {"timestamp text", Value::text("2024-02-29 13:14:15.000016"), -22, 0, 120,
       script::u16le(2024) + std::string{1, 0} + script::u16le(0) +
           std::string{29, 13, 14, 15} + script::u32le(16)},
      {"date as type 9/1", Value::text("2024-01-02"), 9, 1, 109, "2024-01-02"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto it = written(c.v, c.type, c.sub);
    EXPECT_EQ(it.code, c.code);
    EXPECT_EQ(it.payload, c.payload);
  }
}

TEST(Values, PackedDecimal) {
  struct Case {
    const char* text;
    std::uint8_t p, s;
    std::string packed;
    const char* back;
  };
  const Case cases[] = {
      {"123.45", 5, 2, std::string{0x12, 0x34, 0x5C}, "123.45"},
      {"-1.5", 4, 1, std::string{0x00, 0x01, 0x5D}, "-1.5"},
      {"0", 1, 0, std::string{0x0C}, "0"},
      {"7", 3, 0, std::string{0x00, 0x7C}, "7"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string got = pack_decimal(c.text, c.p, c.s);
    EXPECT_EQ(got, c.packed);
    EXPECT_EQ(got.size(), c.p / 2u + 1);
    EXPECT_EQ(
        unpack_decimal(reinterpret_cast<const std::uint8_t*>(got.data()), got.size(), c.s),
        c.back);
  }
  const auto it = written(Value::text("123.45"), 3, 0, 5, 2);
  EXPECT_EQ(it.code, 110);
  EXPECT_EQ(it.payload, (std::string{5, 2, 0x12, 0x34, 0x5C}));
}

// SQLite keeps NUMERIC and DECIMAL values as doubles: they go out with the digits they
// were stored from, not cut from a binary tail (39.90 once went out as 39.89).
TEST(Values, DecimalsStoredAsDoublesKeepTheirDigits) {
  struct Case {
    double stored;
    std::uint8_t p, s;
    const char* back;
  };
  const Case cases[] = {
      {39.9, 10, 2, "39.90"},
      {249.0, 10, 2, "249.00"},
      {0.1 + 0.2, 10, 2, "0.30"},
      {-1234567.891, 15, 3, "-1234567.891"},
      {99999999.99, 10, 2, "99999999.99"},
      {1e20, 30, 2, "100000000000000000000.00"},
      {0.000001, 10, 6, "0.000001"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.back);
    const auto it = written(Value::real(c.stored), 2, 0, c.p, c.s);
    ASSERT_EQ(it.payload.size(), 2u + c.p / 2u + 1);
    EXPECT_EQ(unpack_decimal(reinterpret_cast<const std::uint8_t*>(it.payload.data()) + 2,
                             it.payload.size() - 2, c.s),
              c.back);
  }
  EXPECT_EQ(decimal_text(Value::integer(249), 2), "249.00");
  EXPECT_EQ(decimal_text(Value::integer(-3), 0), "-3");
  EXPECT_EQ(decimal_text(Value::real(39.9), 2), "39.90");
  EXPECT_EQ(decimal_text(Value::real(0.1), 4), "0.1000");
  EXPECT_EQ(decimal_text(Value::text("12345678901234567.123456"), 6),
            "12345678901234567.123456");
}

TEST(Values, ParameterItemsDecodeOrFail) {
  struct Case {
    const char* name;
    std::string item;
    bool ok;
    Value::Kind kind;
    std::string text;
  };
  const Case cases[] = {
      {"i32", script::item(112, script::u32le(0xFFFFFFFF)), true, Value::Int, "-1"},
      {"i16 of 3 bytes", script::item(117, "abc"), false, Value::Null, ""},
      {"i64 of 4 bytes", script::item(104, script::u32le(1)), false, Value::Null, ""},
      {"text", script::item(107, "hi"), true, Value::Text, "hi"},
      {"null", script::item(103), true, Value::Null, ""},
      {"full length then value", script::item(102, script::u32le(2)) + script::item(107, "hi"),
       true, Value::Text, "hi"},
      {"decimal without digits", script::item(110, std::string{5, 2}), false, Value::Null, ""},
      {"long text", script::long_item(107, std::string(300, 'z')), true, Value::Text,
       std::string(300, 'z')},
      {"variable reference", script::item(126, "v1"), true, Value::Variable, "v1"},
      {"variable reference without a name", script::item(126), false, Value::Null, ""},
      {"unknown code", script::item(99, "x"), false, Value::Null, ""},
      {"bookmark", script::item(127, script::u32le(7)), true, Value::Int, "7"},
      {"date-time record of a date", script::item(120, std::string("\xE8\x07\x00\0\0\0\x1F\0\0\0\0\0\0\0", 14)),
       true, Value::Text, "2024-01-31 00:00:00.000000"},
      {"date-time record of a time", script::item(120, std::string("\0\0\0\0\0\0\0\x0A\x14\x1E\x40\xE2\x01\0", 14)),
       true, Value::Text, "10:20:30.123456"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::string> bodies{c.item};
    ItemReader r(&bodies);
    Item first;
    ASSERT_EQ(r.next(first), ItemReader::Result::Ok);
    Value v;
    std::string why;
    EXPECT_EQ(read_value_item(r, first, v, why), c.ok) << why;
    if (c.ok) {
      EXPECT_EQ(v.kind, c.kind);
      EXPECT_EQ(value_text(v), c.text);
    } else {
      EXPECT_FALSE(why.empty());
    }
  }
}

TEST(Values, DefinitionsRoundTrip) {
  const WireType types[] = {{-5, 0, 0, 0, 0},
                            {1, 0, 80, 0, 0},
                            {3, 0, 0, 10, 4},
                            {9, 3, 26, 0, 0},
                            {-4, 0, 1000, 0, 0},
                            {-27, 0, 0, 0, 0}};  // the bookmark column (definition 96)
  for (const auto& t : types) {
    SCOPED_TRACE(t.type);
    ItemWriter w(16000, true);
    write_definition(w, t);
    const auto pk = w.finish();
    const std::vector<std::string> bodies{pk[0].substr(4)};
    ItemReader r(&bodies);
    Item it;
    ASSERT_EQ(r.next(it), ItemReader::Result::Ok);
    WireType back;
    ASSERT_TRUE(parse_definition(it, back));
    EXPECT_EQ(back.type, t.type);
    EXPECT_EQ(back.subtype, t.subtype);
    EXPECT_EQ(back.length, t.length);
    EXPECT_EQ(back.precision, t.precision);
    EXPECT_EQ(back.scale, t.scale);
  }
  // An unknown definition code and a wrong payload size fail.
  const std::vector<std::string> bad{script::item(72, script::u16le(0)) +
                                     script::item(82, "x")};
  ItemReader r(&bad);
  Item it;
  WireType t;
  ASSERT_EQ(r.next(it), ItemReader::Result::Ok);
  EXPECT_FALSE(parse_definition(it, t));
  ASSERT_EQ(r.next(it), ItemReader::Result::Ok);
  EXPECT_FALSE(parse_definition(it, t));
}

// Whether a row's value can go out as the type its column was bound to: the code the
// row then fails with, 0 when it converts. A cursor checks a column's values with one
// ConversionCheck made for the column; conversion_refusal() is the same check.
TEST(Values, ConversionRefusals) {
  struct Case {
    const char* name;
    Value v;
    std::int16_t column;  // the column's own type
    std::int16_t want;
    std::uint8_t sub;
    std::int32_t code;
  };
  const double nan = std::nan("");
  const Case cases[] = {
      {"i16 low end", Value::integer(-32768), 4, 5, 0, 0},
      {"i16 below", Value::integer(-32769), 4, 5, 0, -158},
      {"i16 high end", Value::integer(32767), 4, 5, 0, 0},
      {"i16 above", Value::integer(32768), 4, 5, 0, -158},
      {"tinyint negative", Value::integer(-1), 4, -6, 0, -158},
      {"tinyint 255", Value::integer(255), 4, -6, 0, 0},
      {"tinyint 256", Value::integer(256), 4, -6, 0, -158},
      {"u32 high end", Value::integer(4294967295LL), -5, -24, 0, 0},
      {"u32 negative", Value::integer(-1), -5, -24, 0, -158},
      {"i32 above", Value::integer(2147483648LL), -5, 4, 0, -158},
      {"i32 from real just below the end", Value::real(2147483647.5), 8, 4, 0, 0},
      {"i32 from real at the end", Value::real(2147483648.0), 8, 4, 0, -158},
      {"NaN as int", Value::real(nan), 8, 4, 0, -158},
      {"NaN as double", Value::real(nan), 8, 8, 0, -158},
      {"NaN as numeric", Value::real(nan), 8, 2, 0, -158},
      {"real beyond a float", Value::real(1e39), 8, 7, 0, -158},
      {"real within a float", Value::real(-3e38), 8, 6, 0, 0},
      {"int as float", Value::integer(1000000000000000000LL), -5, 7, 0, 0},
      {"large real as double", Value::real(1e300), 8, 8, 0, 0},
      {"number text with spaces", Value::text(" 12 "), 12, 4, 0, 0},
      {"text that is no number", Value::text("12x"), 12, 4, 0, -156},
      {"empty text as number", Value::text(""), 12, 8, 0, -156},
      {"text out of range", Value::text("70000"), 12, 5, 0, -158},
      {"bytes as number", Value::blob("1"), -2, 4, 0, -157},
      {"bytes in a text column", Value::blob("1"), 12, 4, 0, -157},
      {"int in a date column", Value::integer(1), 9, 4, 0, -157},
      {"int in a timestamp column", Value::integer(1), -22, -5, 0, -157},
      {"date text as date", Value::text("2024-01-02"), 12, 9, 1, 0},
      {"other text as timestamp", Value::text("nope"), 12, -22, 0, -156},
      {"int as date", Value::integer(20240102), 4, 9, 1, -157},
      {"int as varchar", Value::integer(70000), 4, 12, 0, 0},
      {"bytes as binary", Value::blob("x"), -2, -2, 0, 0},
      {"no type asked", Value::text("x"), 12, 0, 0, 0},
      {"type 9 without a subtype", Value::integer(1), 4, 9, 0, 0},
      {"NULL as int", Value::null(), 4, 5, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WireType column, want;
    column.type = c.column;
    want.type = c.want;
    want.subtype = c.sub;
    const ConversionCheck check(column, want);
    EXPECT_EQ(check.refusal(c.v), c.code);
    EXPECT_EQ(conversion_refusal(c.v, column, want), c.code);
    EXPECT_EQ(check.can_refuse(), conversion_can_refuse(want));
    if (c.code != 0) {
      EXPECT_TRUE(check.can_refuse());
    }
  }
}
