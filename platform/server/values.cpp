// Wire values, definition items and conversions.
#include "values.h"

#include <array>
#include <cctype>
#include <cmath>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "datetime_text.h"
#include "wire.h"

namespace vqeng {
namespace {

struct TypeRow {
  std::int16_t type;
  std::uint8_t subtype;
  std::uint8_t value_code;
  std::uint8_t def_code;
};

constexpr TypeRow kTypes[] = {
    {-31, 0, 131, 99}, {-30, 0, 130, 98}, {-29, 0, 128, 97}, {-28, 0, 128, 97},
    {-27, 0, 127, 96}, {-25, 0, 123, 93}, {-24, 0, 122, 92}, {-23, 0, 124, 94}, {-22, 0, 120, 90},
    {-21, 0, 107, 78}, {-7, 0, 106, 77},  {-6, 0, 121, 91},  {-5, 0, 104, 75},
    {-4, 0, 113, 83},  {-2, 0, 105, 76},  {-1, 0, 114, 84},  {1, 0, 107, 78},
    {2, 0, 115, 85},   {3, 0, 110, 80},   {4, 0, 112, 82},   {5, 0, 117, 87},
    {6, 0, 116, 86},   {7, 0, 116, 86},   {8, 0, 111, 81},   {9, 1, 109, 79},
    {9, 2, 118, 88},   {9, 3, 119, 89},   {12, 0, 125, 95},
};

// Definition code -> type, as a client reads a description.
struct DefRow {
  std::uint8_t code;
  std::int16_t type;
  std::uint8_t subtype;
};
constexpr DefRow kDefs[] = {
    {75, -5, 0},  {76, -2, 0},  {96, -27, 0},  {77, -7, 0}, {78, 1, 0},   {79, 9, 1},   {80, 3, 0},
    {81, 8, 0},   {82, 4, 0},   {83, -4, 0}, {84, -1, 0},  {85, 2, 0},   {86, 7, 0},
    {87, 5, 0},   {88, 9, 2},   {89, 9, 3},  {90, -22, 0}, {91, -6, 0},  {92, -24, 0},
    {93, -25, 0}, {94, -23, 0}, {95, 12, 0}, {97, -29, 0}, {98, -30, 0}, {99, -31, 0},
};

enum class Form { Short, Numeric, Long };

Form form_of(std::int16_t type) {
  if (is_variable_length_type(type)) return Form::Long;
  switch (type) {
    case 2:
    case 3:
      return Form::Numeric;
    default:
      return Form::Short;
  }
}

bool text_to_int(const std::string& s, std::int64_t& out) {
  const char* b = s.c_str();
  char* e = nullptr;
  errno = 0;
  const long long v = std::strtoll(b, &e, 10);
  if (e == b) {
    const double d = std::strtod(b, &e);
    if (e == b) return false;
    out = static_cast<std::int64_t>(d);
    return true;
  }
  out = v;
  return true;
}

std::int64_t as_int(const Value& v) {
  switch (v.kind) {
    case Value::Int:
      return v.i;
    case Value::Real:
      return static_cast<std::int64_t>(v.d);
    case Value::Text:
    case Value::Blob: {
      std::int64_t x = 0;
      return text_to_int(v.s, x) ? x : 0;
    }
    default:
      return 0;
  }
}

double as_real(const Value& v) {
  switch (v.kind) {
    case Value::Int:
      return static_cast<double>(v.i);
    case Value::Real:
      return v.d;
    case Value::Text:
    case Value::Blob:
      return std::strtod(v.s.c_str(), nullptr);
    default:
      return 0;
  }
}

// A date, time or timestamp text into the 14-byte record; a time alone has the date
// fields 0, a date alone the time fields 0. Text that is none of them gives zeros.
std::string datetime_record(const std::string& text) {
  DateTime t;
  parse_datetime(text, t);
  std::uint8_t rec[14] = {};
  store_le16(rec, static_cast<std::uint16_t>(t.year));
  rec[2] = static_cast<std::uint8_t>(t.has_date ? t.month - 1 : 0);  // months count from 0
  rec[6] = static_cast<std::uint8_t>(t.day);
  rec[7] = static_cast<std::uint8_t>(t.hour);
  rec[8] = static_cast<std::uint8_t>(t.minute);
  rec[9] = static_cast<std::uint8_t>(t.second);
  store_le32(rec + 10, t.micros);
  return std::string(reinterpret_cast<char*>(rec), sizeof rec);
}

// The record back into text: a time when the date fields are all 0 (as a client sends
// a time), else a timestamp.
std::string datetime_text(const std::uint8_t* rec) {
  DateTime t;
  t.year = load_le16(rec);
  t.month = rec[2] + 1;
  t.day = rec[6];
  t.hour = rec[7];
  t.minute = rec[8];
  t.second = rec[9];
  t.micros = load_le32(rec + 10);
  if (t.year == 0 && rec[2] == 0 && t.day == 0) return time_text(t);
  return timestamp_text(t);
}

}  // namespace

std::string datetime_as(const std::string& text, std::uint8_t subtype) {
  DateTime t;
  if (!parse_datetime(text, t)) return text;
  switch (subtype) {
    case 1:
      return t.has_date ? date_text(t) : text;
    case 2:
      return time_text(t);
    case 3:
      return t.has_date ? timestamp_text(t) : text;
    default:
      return text;
  }
}

std::string value_text(const Value& v) {
  switch (v.kind) {
    case Value::Null:
      return {};
    case Value::Int:
      return std::to_string(v.i);
    case Value::Real: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.17g", v.d);
      return buf;
    }
    default:
      return v.s;
  }
}

std::string decimal_text(const Value& v, std::uint8_t scale) {
  if (v.kind != Value::Real && v.kind != Value::Int) return value_text(v);
  std::string text = value_text(v);
  if (v.kind == Value::Real) {
    // SQLite keeps a NUMERIC or DECIMAL value of up to 15 significant digits as a
    // double, and 15 digits give back exactly the digits that went in (39.90 stays 39.9,
    // where 17 would read 39.899999999999999 and lose a cent when cut to the scale).
    // Magnitudes that %g writes with an exponent are written out in full.
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.15g", v.d);
    if (std::strpbrk(buf, "eE") != nullptr || !std::isfinite(v.d))
      std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(scale), v.d);
    text = buf;
  }
  // Padded to the scale: 249 in a NUMERIC(10,2) column reads 249.00.
  const auto dot = text.find('.');
  const std::size_t have = dot == std::string::npos ? 0 : text.size() - dot - 1;
  if (scale > have) {
    if (dot == std::string::npos) text += '.';
    text.append(scale - have, '0');
  }
  return text;
}

bool is_variable_length_type(std::int16_t type) {
  switch (type) {
    case -31:
    case -30:
    case -29:
    case -28:
    case -21:
    case -4:
    case -2:
    case -1:
    case 1:
    case 9:
    case 12:
      return true;
    default:
      return false;
  }
}

namespace {

// The row of each type code from -32 to 100, by index (every value sent looks its type
// up); type 9 has a row per subtype, the first of them indexed.
constexpr int kTypeLow = -32;
constexpr std::size_t kTypeSpan = 133;

constexpr std::array<std::int8_t, kTypeSpan> make_type_index() {
  std::array<std::int8_t, kTypeSpan> index{};
  for (auto& i : index) i = -1;
  for (std::size_t r = 0; r < sizeof kTypes / sizeof kTypes[0]; ++r) {
    const auto at = static_cast<std::size_t>(kTypes[r].type - kTypeLow);
    if (index[at] < 0) index[at] = static_cast<std::int8_t>(r);
  }
  return index;
}
constexpr std::array<std::int8_t, kTypeSpan> kTypeIndex = make_type_index();

const TypeRow* type_row(std::int16_t type, std::uint8_t subtype) {
  if (type < kTypeLow || type >= kTypeLow + static_cast<int>(kTypeSpan)) return nullptr;
  const int first = kTypeIndex[static_cast<std::size_t>(type - kTypeLow)];
  if (first < 0) return nullptr;
  for (std::size_t r = static_cast<std::size_t>(first);
       r < sizeof kTypes / sizeof kTypes[0] && kTypes[r].type == type; ++r)
    if (type != 9 || kTypes[r].subtype == subtype) return &kTypes[r];
  return nullptr;
}

}  // namespace

std::uint8_t value_item_code(std::int16_t type, std::uint8_t subtype) {
  const TypeRow* r = type_row(type, subtype);
  return r ? r->value_code : 0;
}

std::uint8_t definition_item_code(std::int16_t type, std::uint8_t subtype) {
  const TypeRow* r = type_row(type, subtype);
  return r ? r->def_code : kDefNone;
}

bool parse_definition(const Item& item, WireType& out) {
  out = WireType{};
  if (item.code == kDefNone) return item.length == 0 || !item.special();
  for (const auto& r : kDefs) {
    if (r.code != item.code) continue;
    out.type = r.type;
    out.subtype = r.subtype;
    const std::size_t n = item.payload_len();
    switch (form_of(r.type)) {
      case Form::Long:
        if (n != 6) return false;
        out.length = load_le32(item.payload);
        out.flags = load_le16(item.payload + 4);
        break;
      case Form::Numeric:
        if (n != 4) return false;
        out.flags = load_le16(item.payload);
        out.precision = item.payload[2];
        out.scale = item.payload[3];
        break;
      case Form::Short:
        if (n != 2) return false;
        out.flags = load_le16(item.payload);
        break;
    }
    return true;
  }
  return false;
}

void write_definition(ItemWriter& w, const WireType& t) {
  const std::uint8_t code = definition_item_code(t.type, t.subtype);
  std::string p;
  if (code == kDefNone) {
    w.put_empty(kDefNone);
    return;
  }
  switch (form_of(t.type)) {
    case Form::Long:
      put_le32(p, t.length);
      put_le16(p, t.flags);
      break;
    case Form::Numeric:
      put_le16(p, t.flags);
      put_u8(p, t.precision);
      put_u8(p, t.scale);
      break;
    case Form::Short:
      put_le16(p, t.flags);
      break;
  }
  w.put(code, p);
}

std::string pack_decimal(const std::string& number_text, std::uint8_t precision,
                         std::uint8_t scale) {
  if (precision == 0) precision = 30;
  if (scale > precision) scale = precision;
  bool neg = false;
  std::string ip, fp;
  std::size_t i = 0;
  while (i < number_text.size() && (number_text[i] == ' ' || number_text[i] == '+')) ++i;
  if (i < number_text.size() && number_text[i] == '-') {
    neg = true;
    ++i;
  }
  for (; i < number_text.size() && std::isdigit(static_cast<unsigned char>(number_text[i]));
       ++i)
    ip += number_text[i];
  if (i < number_text.size() && number_text[i] == '.')
    for (++i;
         i < number_text.size() && std::isdigit(static_cast<unsigned char>(number_text[i]));
         ++i)
      fp += number_text[i];
  fp.resize(scale, '0');
  const std::size_t int_digits = precision - scale;
  if (ip.size() > int_digits) ip = ip.substr(ip.size() - int_digits);
  std::string digits = std::string(int_digits - ip.size(), '0') + ip + fp;  // exactly P digits
  // P digits and the sign nibble fill P/2+1 bytes; an even P gets a leading zero.
  if (digits.size() % 2 == 0) digits.insert(digits.begin(), '0');
  std::string out;
  for (std::size_t k = 0; k + 1 < digits.size(); k += 2)
    out.push_back(static_cast<char>(((digits[k] - '0') << 4) | (digits[k + 1] - '0')));
  out.push_back(static_cast<char>(((digits.back() - '0') << 4) | (neg ? 0xD : 0xC)));
  return out;
}

std::string unpack_decimal(const std::uint8_t* p, std::size_t n, std::uint8_t scale) {
  if (n == 0) return "0";
  std::string digits;
  for (std::size_t k = 0; k < n; ++k) {
    digits.push_back(static_cast<char>('0' + ((p[k] >> 4) & 0xF)));
    if (k + 1 < n) digits.push_back(static_cast<char>('0' + (p[k] & 0xF)));
  }
  const bool neg = (p[n - 1] & 0xF) == 0xD;
  if (scale > digits.size()) digits.insert(0, scale - digits.size(), '0');
  std::string ip = digits.substr(0, digits.size() - scale);
  const std::string fp = digits.substr(digits.size() - scale);
  const std::size_t nz = ip.find_first_not_of('0');
  ip = nz == std::string::npos ? "0" : ip.substr(nz);
  return (neg ? "-" : "") + ip + (scale ? "." + fp : "");
}

namespace {

// Text that is a number as a whole (spaces around it allowed) into `out`.
bool whole_number(const std::string& s, double& out) {
  const char* b = s.c_str();
  char* e = nullptr;
  out = std::strtod(b, &e);
  if (e == b) return false;
  while (std::isspace(static_cast<unsigned char>(*e))) ++e;
  return *e == '\0';
}

// The range of the integer wire types; false for the others.
bool integer_range(std::int16_t type, double& low, double& high) {
  switch (type) {
    case -5: case -25: low = -9223372036854775808.0; high = 9223372036854775807.0; return true;
    case 4: low = -2147483648.0; high = 2147483647.0; return true;
    case -24: low = 0; high = 4294967295.0; return true;
    case 5: low = -32768; high = 32767; return true;
    case -23: low = 0; high = 65535; return true;
    case -6: case -7: low = 0; high = 255; return true;  // tinyint is 0 to 255
    default: return false;
  }
}

}  // namespace

bool conversion_can_refuse(const WireType& want) {
  double low = 0, high = 0;
  return integer_range(want.type, low, high) || want.type == 8 || want.type == 6 ||
         want.type == 7 || want.type == 2 || want.type == 3 || want.type == -22 ||
         (want.type == 9 && want.subtype != 0);
}

ConversionCheck::ConversionCheck(const WireType& column, const WireType& want) {
  if (!conversion_can_refuse(want)) return;
  double low = 0, high = 0;
  integer_ = integer_range(want.type, low, high);
  if (integer_ || want.type == 8 || want.type == 6 || want.type == 7 || want.type == 2 ||
      want.type == 3) {
    target_ = Target::Number;
    not_number_ = column.type == 9 || column.type == -22 || column.type == -2 ||
                  column.type == -4;  // dated or binary
    single_ = want.type == 6 || want.type == 7;
    low_ = low;
    high_end_ = high + 1;
  } else if (want.type == -22 || (want.type == 9 && want.subtype != 0)) {
    target_ = Target::DateTime;
  }
}

std::int32_t ConversionCheck::general_refusal(const Value& v) const {
  if (v.kind != Value::Int && v.kind != Value::Real && v.kind != Value::Text &&
      v.kind != Value::Blob) {
    return 0;
  }
  if (target_ == Target::Number) {
    if (not_number_ || v.kind == Value::Blob) return -157;
    double x = 0;
    if (v.kind == Value::Int) {
      x = static_cast<double>(v.i);
    } else if (v.kind == Value::Real) {
      x = v.d;
    } else if (!whole_number(v.s, x)) {
      return -156;
    }
    return number_refusal(x);
  }
  if (target_ == Target::DateTime) {
    if (v.kind != Value::Text) return -157;
    DateTime t;
    return parse_datetime(v.s, t) ? 0 : -156;
  }
  return 0;
}

std::int32_t conversion_refusal(const Value& v, const WireType& column, const WireType& want) {
  return ConversionCheck(column, want).refusal(v);
}

std::uint8_t wanted_item_code(const WireType& want) {
  return want.type == 0 || want.type == -26 ? 0 : value_item_code(want.type, want.subtype);
}

void write_value(ItemWriter& w, const Value& v, const WireType& want) {
  write_value_coded(w, v, want, wanted_item_code(want));
}

void write_value_coded(ItemWriter& w, const Value& v, const WireType& want,
                       std::uint8_t code) {
  if (v.kind == Value::Unset) {
    w.put_empty(kValNoValue);
    return;
  }
  if (v.kind == Value::Null) {
    w.put_empty(kValNull);
    return;
  }
  std::int16_t type = want.type;
  std::uint8_t sub = want.subtype;
  if (code == 0) {
    switch (v.kind) {
      case Value::Int:
        type = -25;
        break;
      case Value::Real:
        type = 8;
        break;
      case Value::Blob:
        type = -2;
        break;
      default:
        type = -21;
        break;
    }
    sub = 0;
    code = value_item_code(type, sub);
  }
  // Fixed-size values are written from a few bytes on the stack, text and binary values
  // straight from the value: rows are sent a million at a time.
  std::uint8_t fixed[8];
  switch (type) {
    case -5:
    case -25:
      store_le64(fixed, static_cast<std::uint64_t>(as_int(v)));
      w.put(code, fixed, 8);
      return;
    case 4:
    case -24:
    case -27:
      store_le32(fixed, static_cast<std::uint32_t>(as_int(v)));
      w.put(code, fixed, 4);
      return;
    case 5:
    case -23:
      store_le16(fixed, static_cast<std::uint16_t>(as_int(v)));
      w.put(code, fixed, 2);
      return;
    case -6:
    case -7:
      fixed[0] = static_cast<std::uint8_t>(as_int(v));
      w.put(code, fixed, 1);
      return;
    case 8: {
      const double d = as_real(v);
      std::uint64_t bits;
      std::memcpy(&bits, &d, 8);
      store_le64(fixed, bits);
      w.put(code, fixed, 8);
      return;
    }
    case 6:
    case 7: {
      const float f = static_cast<float>(as_real(v));
      std::uint32_t bits;
      std::memcpy(&bits, &f, 4);
      store_le32(fixed, bits);
      w.put(code, fixed, 4);
      return;
    }
    default:
      break;
  }
  if (type == 9 && v.kind == Value::Text) {
    // Dates, times and timestamps go out in their own form, whatever text holds them.
    w.put_bytes(code, datetime_as(v.s, sub));
    return;
  }
  if ((v.kind == Value::Text || v.kind == Value::Blob) && type != -22 && type != 2 &&
      type != 3) {
    w.put_bytes(code, v.s);  // character and binary types carry the bytes
    return;
  }
  std::string p;
  switch (type) {
    case -22:
      p = datetime_record(value_text(v));
      break;
    case 2:
    case 3:
      put_u8(p, want.precision ? want.precision : 30);
      put_u8(p, want.scale);
      p += pack_decimal(decimal_text(v, want.scale), want.precision ? want.precision : 30,
                        want.scale);
      break;
    default:
      p = value_text(v);
      break;  // character and binary types carry the bytes
  }
  w.put_bytes(code, p);
}

bool read_value_item(ItemReader& r, const Item& first, Value& out, std::string& why) {
  Item item = first;
  if (item.code == kValFullLength) {  // a full length, then the value itself
    if (r.next(item) != ItemReader::Result::Ok) {
      why = "value missing after its full length";
      return false;
    }
  }
  if (item.code == kValNull || item.code == kValNoValue) {
    out = item.code == kValNull ? Value::null() : Value::unset();
    return true;
  }
  std::string bytes;
  if (r.read_value(item, bytes, 64u << 20) != ItemReader::Result::Ok) {
    why = r.error();
    return false;
  }
  const auto* b = reinterpret_cast<const std::uint8_t*>(bytes.data());
  auto need = [&](std::size_t n) {
    if (bytes.size() == n) return true;
    why = "value item " + std::to_string(item.code) + " of " + std::to_string(bytes.size()) +
          " bytes where " + std::to_string(n) + " belong";
    return false;
  };
  switch (item.code) {
    case 104:
    case 123:
      if (!need(8)) return false;
      out = Value::integer(static_cast<std::int64_t>(load_le64(b)));
      return true;
    case 112:
    case 122:
    case 127:  // a bookmark
      if (!need(4)) return false;
      out = Value::integer(static_cast<std::int32_t>(load_le32(b)));
      return true;
    case 117:
    case 124:
      if (!need(2)) return false;
      out = Value::integer(static_cast<std::int16_t>(load_le16(b)));
      return true;
    case 121:  // a tinyint: 0 to 255
      if (!need(1)) return false;
      out = Value::integer(b[0]);
      return true;
    case 106:
      if (!need(1)) return false;
      out = Value::integer(b[0]);
      return true;
    case 111: {
      if (!need(8)) return false;
      const std::uint64_t bits = load_le64(b);
      double d;
      std::memcpy(&d, &bits, 8);
      out = Value::real(d);
      return true;
    }
    case 116: {
      if (!need(4)) return false;
      const std::uint32_t bits = load_le32(b);
      float f;
      std::memcpy(&f, &bits, 4);
      out = Value::real(f);
      return true;
    }
    case 120:
      if (!need(14)) return false;
      out = Value::text(datetime_text(b));
      return true;
    case 110:
    case 115:
      if (bytes.size() < 3) {
        why = "decimal value of " + std::to_string(bytes.size()) + " bytes";
        return false;
      }
      out = Value::text(unpack_decimal(b + 2, bytes.size() - 2, b[1]));
      return true;
    case 107:
    case 108:
    case 109:
    case 118:
    case 119:
    case 114:
    case 128:
    case 129:
    case 130:  // NCHAR text (UTF-8), not bytes
    case 131:
      out = Value::text(bytes);
      return true;
    case 105:
    case 113:
    case 125:
      out = Value::blob(bytes);
      return true;
    case kValVariable:
      if (bytes.empty()) {
        why = "variable reference without a name";
        return false;
      }
      out = Value::variable(bytes);
      return true;
    default:
      why = "unknown value item " + std::to_string(item.code);
      return false;
  }
}

}  // namespace vqeng
