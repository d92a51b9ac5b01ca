// Wire values and column definitions: the value item of each data type, its
// payload, and conversion between engine values and the type a client asked for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "items.h"

namespace vqeng {

// An engine value: what SQLite hands us, and what parameters decode to.
struct Value {
  // Unset: the client gave no value (item 101); the server uses its own.
  // Variable: a reference to a server variable by name (item 126), in s.
  enum Kind { Null, Int, Real, Text, Blob, Unset, Variable } kind = Null;
  std::int64_t i = 0;
  double d = 0;
  std::string s;  // Text or Blob bytes

  static Value null() { return {}; }
  static Value unset() {
    Value x;
    x.kind = Unset;
    return x;
  }
  static Value variable(std::string name) {
    Value x;
    x.kind = Variable;
    x.s = std::move(name);
    return x;
  }
  static Value integer(std::int64_t v) {
    Value x;
    x.kind = Int;
    x.i = v;
    return x;
  }
  static Value real(double v) {
    Value x;
    x.kind = Real;
    x.d = v;
    return x;
  }
  static Value text(std::string v) {
    Value x;
    x.kind = Text;
    x.s = std::move(v);
    return x;
  }
  static Value blob(std::string v) {
    Value x;
    x.kind = Blob;
    x.s = std::move(v);
    return x;
  }
};

// A column or parameter type as the protocol names it.
struct WireType {
  std::int16_t type = 0;                  // 0: no type given (definition item 73)
  std::uint8_t subtype = 0;               // for type 9: 1 date, 2 time, 3 timestamp
  std::uint32_t length = 0;               // long form
  std::uint8_t precision = 0, scale = 0;  // numeric form
  std::uint16_t flags = 0;                // column flags of a description (kCol*)
};

// Column flags of a column or parameter description.
constexpr std::uint16_t kColNullable = 0x0001;
constexpr std::uint16_t kColUpdatable = 0x0800;
constexpr std::uint16_t kColRowVersion = 0x0400;
constexpr std::uint16_t kColAutoIncrement = 0x2000;
constexpr std::uint16_t kColParamIn = 0x4000;   // a parameter the statement reads
constexpr std::uint16_t kColParamOut = 0x8000;  // a parameter the statement writes

enum ValueItem : std::uint8_t {
  kValNoValue = 101,
  kValFullLength = 102,
  kValNull = 103,
  kValEndOfRow = 132,
  kValVariable = 126,
};

constexpr std::uint8_t kDefNone = 73;
constexpr std::uint8_t kDefSecondName = 74;
constexpr std::uint8_t kItemName = 134;

// Value item code of a type (0 when the type has none).
// Text and binary types, whose values travel with a length (as long items when large).
bool is_variable_length_type(std::int16_t type);
// NCHAR types, whose text is UTF-8 whatever the connection's character set.
inline bool is_nchar_type(std::int16_t type) { return type == -30 || type == -31; }

std::uint8_t value_item_code(std::int16_t type, std::uint8_t subtype);
// Definition item code of a type (kDefNone when none).
std::uint8_t definition_item_code(std::int16_t type, std::uint8_t subtype);
// Maps a definition item (code 73..99) to its type; false for unknown codes.
bool parse_definition(const Item& item, WireType& out);
// Writes the definition item of a type.
void write_definition(ItemWriter& w, const WireType& t);

// Writes one value converted to the wanted type (type 0: the value's own type).
// NULL values become item 103.
void write_value(ItemWriter& w, const Value& v, const WireType& want);
// The value item write_value() sends for `want` whatever the value (0 when the value's
// own type decides: no type asked for, or one without a value item).
std::uint8_t wanted_item_code(const WireType& want);
// write_value() with `code` = wanted_item_code(want) worked out beforehand, as a
// cursor does once for each column it sends rather than for every value.
void write_value_coded(ItemWriter& w, const Value& v, const WireType& want, std::uint8_t code);

// Whether a value of a column described as `column` can be sent as `want`: 0 when it
// can (or `want` asks for no conversion), otherwise the SQL code the row fails with:
// -157 the two types do not convert (a date or binary value as a number, a number as a
// date), -158 the number does not fit the wanted type, -156 text that is no number or
// date. Character and binary targets take every value.
std::int32_t conversion_refusal(const Value& v, const WireType& column, const WireType& want);
// Whether conversion_refusal() can refuse any value at all when `want` is asked for:
// only numeric and date-time targets can; a cursor checks only those columns.
bool conversion_can_refuse(const WireType& want);

// conversion_refusal() for one column and wanted type, the per-type part worked out
// once: a cursor checks every row's values of a column against the same pair.
class ConversionCheck {
 public:
  ConversionCheck() = default;
  ConversionCheck(const WireType& column, const WireType& want);
  // Whether any value can be refused (conversion_can_refuse).
  bool can_refuse() const { return target_ != Target::Any; }
  std::int32_t refusal(const Value& v) const {
    if (target_ == Target::Any) return 0;
    if (target_ == Target::Number && !not_number_) {
      if (v.kind == Value::Int) {
        // An integer is never NaN and always within the range of a float.
        const double x = static_cast<double>(v.i);
        return integer_ && (x < low_ || x >= high_end_) ? -158 : 0;
      }
      if (v.kind == Value::Real) return number_refusal(v.d);
    }
    return general_refusal(v);
  }

 private:
  std::int32_t general_refusal(const Value& v) const;
  // A number's refusal by a numeric target.
  std::int32_t number_refusal(double x) const {
    if (x != x) return -158;  // NaN fits nothing
    if (integer_ && (x < low_ || x >= high_end_)) return -158;
    if (single_ && (x > 3.4028234663852886e38 || x < -3.4028234663852886e38)) return -158;
    return 0;
  }

  enum class Target : std::uint8_t { Any, Number, DateTime } target_ = Target::Any;
  bool not_number_ = false;  // the column holds dates or bytes: no number
  bool integer_ = false;     // an integer type: values in [low_, high_end_)
  bool single_ = false;      // a float: values within its range
  double low_ = 0, high_end_ = 0;
};

// Decodes one value item (the first item given; long values are read through the
// reader). Returns false with `why` for unknown or malformed items.
bool read_value_item(ItemReader& r, const Item& first, Value& out, std::string& why);

// Packed decimal: two digits a byte, sign nibble 0xC / 0xD last, P/2+1 bytes.
std::string pack_decimal(const std::string& number_text, std::uint8_t precision,
                         std::uint8_t scale);
std::string unpack_decimal(const std::uint8_t* p, std::size_t n, std::uint8_t scale);

// A date-time text in the form of type 9's subtype (1 date, 2 time, 3 timestamp);
// text that is no date or time, or that lacks the date the subtype needs, as it is.
std::string datetime_as(const std::string& text, std::uint8_t subtype);

// Text form of a value, as used for conversions and the request log.
std::string value_text(const Value& v);

// Text form of a value sent as a NUMERIC or DECIMAL of the given scale: a double that
// stands for a decimal with the digits it was stored from, never with a binary tail.
std::string decimal_text(const Value& v, std::uint8_t scale);

}  // namespace vqeng
