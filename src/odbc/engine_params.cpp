// Parameter conversion: one bound value of one parameter set into its wire item. NULL,
// default and data-at-execution markers; date-time and GUID escapes in character data;
// hexadecimal text into binary and GUID values; the ODBC numeric structure into packed
// decimal; UTF-16 text into the connection's character set; date-time structures into
// the client's date-time record. A value that does not convert is reported, never sent
// cut or skipped.
#include <cstring>

#include "cmdseq/wire_values.h"
#include "odbc/diagnostics.h"
#include "odbc/engine.h"
#include "odbc/packed_decimal.h"
#include "odbc/parameters.h"
#include "odbc/translation.h"
#include "utils/locale/charset_converter.h"
#include "utils/base/memory.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads `digits` hexadecimal digits at `text` into *value; false at a non-digit.
bool read_hex(const char* text, int digits, std::uint32_t* value) {
  std::uint32_t v = 0;
  for (int i = 0; i < digits; ++i) {
    const int d = hex_digit(text[i]);
    if (d < 0) return false;
    v = (v << 4) | static_cast<std::uint32_t>(d);
  }
  *value = v;
  return true;
}

tagDBC* dbc_of(tagSTMT* stmt) { return static_cast<tagDBC*>(stmt->parent); }

template <typename T>
T load(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Bytes of one value of a fixed-size C type; the buffer length for the others.
SQLLEN c_element_bytes(SQLSMALLINT c_type, SQLLEN octet_length) {
  switch (c_type) {
    case SQL_C_BIT: case SQL_C_TINYINT: case SQL_C_STINYINT: case SQL_C_UTINYINT: return 1;
    case SQL_C_SHORT: case SQL_C_SSHORT: case SQL_C_USHORT: return 2;
    case SQL_C_LONG: case SQL_C_SLONG: case SQL_C_ULONG: case SQL_C_FLOAT: return 4;
    case SQL_C_SBIGINT: case SQL_C_UBIGINT: case SQL_C_DOUBLE: return 8;
    case SQL_C_DATE: case SQL_C_TYPE_DATE: return sizeof(SQL_DATE_STRUCT);
    case SQL_C_TIME: case SQL_C_TYPE_TIME: return sizeof(SQL_TIME_STRUCT);
    case SQL_C_TIMESTAMP: case SQL_C_TYPE_TIMESTAMP: return sizeof(SQL_TIMESTAMP_STRUCT);
    case SQL_C_NUMERIC: return sizeof(SQL_NUMERIC_STRUCT);
    case SQL_C_GUID: return sizeof(SQLGUID);
    default: return octet_length;
  }
}

bool is_wide_c(SQLSMALLINT c) { return c == SQL_C_WCHAR; }
bool is_char_c(SQLSMALLINT c) { return c == SQL_C_CHAR; }

// The wire date-time record (16 bytes in client memory): year, month 0 to 11, day,
// hour, minute, second, microseconds.
void put_datetime(void* out, int year, int month, int day, int hour, int minute, int second,
                  std::uint32_t micros) {
  a_cmdseq_datetime dt{};
  dt.w0 = static_cast<std::uint16_t>(year);
  dt.b2 = static_cast<std::uint8_t>(month > 0 ? month - 1 : 0);
  dt.b6 = static_cast<std::uint8_t>(day);
  dt.b7 = static_cast<std::uint8_t>(hour);
  dt.b8 = static_cast<std::uint8_t>(minute);
  dt.b9 = static_cast<std::uint8_t>(second);
  dt.d10 = micros;
  std::memcpy(out, &dt, sizeof dt);
}

// Makes the statement's converter from UTF-16LE to the connection charset (or, for
// NCHAR parameters, UTF-8). Null when none can be had.
CharsetConverter* wide_converter(tagSTMT* stmt, bool nchar) {
  tagDBC* dbc = dbc_of(stmt);
  if (dbc == nullptr) return nullptr;
  CharsetConverter* c = nchar && dbc->wide_to_nchar != nullptr ? dbc->wide_to_nchar
                                                                : dbc->wide_to_conn;
  return c;
}

// Converts `bytes` of UTF-16LE into `out` (room `room`); the bytes written go to *written.
// kPutDone, kPutTruncated when the output did not fit, kPutNoConvert for bad text.
int convert_wide(CharsetConverter* conv, const void* text, std::size_t bytes, char* out,
                 std::size_t room, std::uint32_t* written) {
  *written = 0;
  if (bytes == 0) return kPutDone;
  const int r = conv->Convert(reinterpret_cast<unsigned char*>(out),
                              static_cast<unsigned int>(room), written,
                              static_cast<const unsigned char*>(text),
                              static_cast<unsigned int>(bytes));
  if (r == kConvDone) return kPutDone;
  if (r == kConvDestFull) return kPutTruncated;
  return kPutNoConvert;
}

std::size_t wide_length_bytes(const void* text, std::size_t max_bytes) {
  const auto* p = static_cast<const unsigned char*>(text);
  std::size_t n = 0;
  while (n + 1 < max_bytes && (p[n] != 0 || p[n + 1] != 0)) n += 2;
  return n;
}

// Makes the record's internal buffer hold `need` bytes for every set of the parameter
// list, moving the list's items with it; *buf follows the current set's element. False
// with *buf null (HY001 posted) when memory runs out, and false with *buf kept when the
// value is longer than the statement's maximum length allows.
bool ensure_room(tagSTMT* stmt, tagITEM* app, std::size_t need, char** buf) {
  if (app->buffer != nullptr && app->element_bytes >= need) return true;
  const SQLULEN cap = stmt->max_length;
  if (cap != 0 && need > cap) return false;
  const std::size_t row =
      app->buffer != nullptr && *buf != nullptr && app->element_bytes != 0
          ? static_cast<std::size_t>(*buf - app->buffer) / app->element_bytes
          : 0;
  // Row values of an insert or update through the cursor live in the fetch list.
  a_odbc_item_list* list =
      (stmt->param_flags & kParamRowValues) != 0 ? stmt->fetch_list : stmt->param_list;
  const std::uint32_t rows = list != nullptr ? list->rows : 1;
  const std::uint32_t p = stmt->param_index > 0 ? static_cast<std::uint32_t>(stmt->param_index) : 0;
  if (AllocItemBuffer(stmt, app, need, rows, list, p, list != nullptr ? list->columns : 0) == 0 ||
      app->element_bytes < need) {
    *buf = nullptr;
    PostSQLState(stmt, kStateHY001, kStateS1001);
    return false;
  }
  *buf = app->buffer + row * app->element_bytes;
  return true;
}


// Whether a value needing `need` bytes is longer than the statement's maximum length
// allows in the request itself.
bool too_long(const tagSTMT* stmt, const tagITEM* app, std::size_t need) {
  if (app->buffer != nullptr && app->element_bytes >= need) return false;
  return stmt->max_length != 0 && need > stmt->max_length;
}

// A value longer than the statement's maximum length travels in a server variable,
// filled in chunks before the statement runs; the item then refers to the variable
// (the request is built in DBPrepEngDescExecStmt). `bytes` are in the wire form, or
// hexadecimal text of `n` bytes with `hex`. A list of several parameter sets or rows
// sent in one request has no variable per set: such a value is refused as too long.
int put_in_variable(tagSTMT* stmt, tagITEM* app, tagITEM* impl, a_cmdseq_desc_item* item,
                    const char* bytes, std::size_t n, bool hex) {
  a_odbc_item_list* list = stmt->param_list;
  if ((stmt->param_flags & kParamRowValues) != 0 || list == nullptr || list->rows > 1)
    return kPutTruncated;
  const SQLSMALLINT sql_type = impl != nullptr ? impl->concise_type : 0;
  const auto parameter = static_cast<std::uint32_t>(stmt->param_index > 0 ? stmt->param_index : 0);
  if (PutBlobChunks(stmt, app, parameter, sql_type, bytes, static_cast<SQLLEN>(n), hex) < 0) {
    (void)AddSQLError(stmt);
    return kPutNoMemory;  // the server's error is posted
  }
  a_cmdseq_value& v = item->values()[0];
  v.data = nullptr;
  item->length = 0;
  if (v.length != nullptr) *v.length = 0;
  return kPutDone;
}

// Converts `bytes` of UTF-16LE whole into a buffer of its own and puts the result in a
// server variable.
int put_wide_in_variable(tagSTMT* stmt, tagITEM* app, tagITEM* impl, a_cmdseq_desc_item* item,
                         CharsetConverter* conv, const void* text, std::size_t bytes,
                         std::size_t room) {
  char* out = static_cast<char*>(ut_malloc(room));
  if (out == nullptr) {
    PostSQLState(stmt, kStateHY001, kStateS1001);
    return kPutNoMemory;
  }
  std::uint32_t written = 0;
  int r = convert_wide(conv, text, bytes, out, room, &written);
  if (r == kPutDone) r = put_in_variable(stmt, app, impl, item, out, written, false);
  ut_free(out);
  return r;
}

}  // namespace

int ParseEscapeLiteral(const char** text, long* length) {
  const char* s = *text;
  const long n = *length;
  if (s == nullptr || n < 4 || s[0] != '{' || s[n - 1] != '}') return kEscapeNone;
  long i = 1;
  while (i < n - 1 && is_blank(s[i])) ++i;
  int kind = kEscapeNone;
  auto keyword = [&](const char* word, int k) {
    const long w = static_cast<long>(std::strlen(word));
    if (i + w >= n - 1) return false;
    for (long j = 0; j < w; ++j) {
      char c = s[i + j];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != word[j]) return false;
    }
    if (!is_space(s[i + w])) return false;
    kind = k;
    i += w;
    return true;
  };
  if (!keyword("guid", kEscapeGuid) && !keyword("ts", kEscapeTimestamp) &&
      !keyword("d", kEscapeDate) && !keyword("t", kEscapeTime))
    return kEscapeNone;
  while (i < n - 1 && is_space(s[i])) ++i;
  long end = n - 2;
  while (end > i && is_space(s[end])) --end;
  // Both ends must be quotes, and two different ones.
  if (end <= i || s[i] != '\'' || s[end] != '\'') return kEscapeNone;
  *text = s + i + 1;
  *length = end - i - 1;
  return kind;
}

int char_to_binary(const char* text, std::uint8_t* out, std::size_t n) {
  for (std::size_t k = 0; k < n; ++k) {
    const int hi = hex_digit(text[2 * k]);
    if (hi < 0) return 0;
    const int lo = hex_digit(text[2 * k + 1]);
    if (lo < 0) return 0;
    out[k] = static_cast<std::uint8_t>((hi << 4) | lo);
  }
  return 1;
}

int char_to_uuid(const char* text, std::uint8_t* out, std::size_t n) {
  if (n != 16) return 0;
  if (text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') return 0;
  std::uint32_t d1, d2, d3, b;
  if (!read_hex(text, 8, &d1) || !read_hex(text + 9, 4, &d2) || !read_hex(text + 14, 4, &d3))
    return 0;
  SQLGUID g{};
  g.Data1 = d1;
  g.Data2 = static_cast<std::uint16_t>(d2);
  g.Data3 = static_cast<std::uint16_t>(d3);
  if (!read_hex(text + 19, 2, &b)) return 0;
  g.Data4[0] = static_cast<std::uint8_t>(b);
  if (!read_hex(text + 21, 2, &b)) return 0;
  g.Data4[1] = static_cast<std::uint8_t>(b);
  for (int k = 0; k < 6; ++k) {
    if (!read_hex(text + 24 + 2 * k, 2, &b)) return 0;
    g.Data4[2 + k] = static_cast<std::uint8_t>(b);
  }
  static_assert(sizeof(SQLGUID) == 16, "the ODBC GUID structure");
  std::memcpy(out, &g, sizeof g);
  return 1;
}

int DBPutBound(tagSTMT* stmt, tagITEM* app, tagITEM* impl, a_cmdseq_desc_item* item,
               void* data, SQLLEN octet_length, SQLLEN* length_ptr, SQLLEN* indicator_ptr,
               unsigned buffer_row) {
  if (item == nullptr) return kPutNoItem;
  a_cmdseq_value& v = item->values()[0];
  const bool in_place = (app->flags & kItemInPlace) != 0;
  char* buf = app->buffer != nullptr ? app->buffer + buffer_row * app->element_bytes : nullptr;
  v.data = in_place ? data : buf;
  if (v.indicator != nullptr) *v.indicator = 0;

  const SQLSMALLINT app_kind = app->parameter_type == 0 ? SQL_PARAM_INPUT : app->parameter_type;
  const SQLSMALLINT impl_kind = impl != nullptr ? impl->parameter_type : 0;
  if (impl_kind != 0 && ((app_kind == SQL_PARAM_INPUT && impl_kind == SQL_PARAM_OUTPUT) ||
                         (app_kind == SQL_PARAM_OUTPUT && impl_kind == SQL_PARAM_INPUT)))
    return kPutKindMismatch;
  if (app_kind == SQL_PARAM_OUTPUT) {
    // Nothing goes to the server for an output parameter.
    v.data = nullptr;
    return kPutDone;
  }
  // A variable left from an earlier value of this parameter is dropped: the item refers
  // to a variable only while it holds this value.
  if ((app->flags & kItemInVariable) != 0) DBDropBlobVariable(stmt, app);

  SQLLEN indicator = 0;
  if (indicator_ptr != nullptr) indicator = load<SQLLEN>(indicator_ptr);
  if (indicator == SQL_NULL_DATA) {
    if (v.indicator != nullptr) *v.indicator = -1;
    return kPutDone;
  }
  const SQLSMALLINT c_type = app->concise_type;
  SQLLEN length;
  if (length_ptr != nullptr) {
    length = load<SQLLEN>(length_ptr);
  } else {
    length = is_char_c(c_type) || is_wide_c(c_type) ? SQL_NTS
                                                      : c_element_bytes(c_type, octet_length);
  }
  if (length == SQL_DATA_AT_EXEC || length <= SQL_LEN_DATA_AT_EXEC_OFFSET) {
    if (v.indicator != nullptr) *v.indicator = -1;
    return kPutNeedData;
  }
  if (length == SQL_DEFAULT_PARAM) {
    // The item goes without a value: the server takes the parameter's default.
    v.data = nullptr;
    return kPutDone;
  }
  if (data == nullptr || (length < 0 && length != SQL_NTS)) {
    PostSQLState(stmt, kStateHY090, kStateS1090);
    return kPutBadLength;
  }
  if (in_place) return kPutDone;
  if (buf == nullptr) return kPutNoItem;

  const SQLSMALLINT eff = app->effective_type;
  const SQLSMALLINT sql_type = impl != nullptr ? impl->concise_type : 0;
  const char* src = static_cast<const char*>(data);
  auto set_length = [&](std::uint32_t n) {
    item->length = n;
    if (v.length != nullptr) *v.length = n;
  };

  switch (eff) {
    case 1:
    case 12:
    case -1: {
      if (!is_char_c(c_type)) {
        // Wide text for a narrow item (the server has no NCHAR): converted here.
        if (!is_wide_c(c_type)) return kPutNoConvert;
        std::size_t bytes = length == SQL_NTS ? wide_length_bytes(data, SIZE_MAX)
                                              : static_cast<std::size_t>(length);
        if (bytes % 2 != 0) {
          PostSQLState(stmt, kStateHY090, kStateS1090);
          return kPutBadLength;
        }
        CharsetConverter* conv = wide_converter(stmt, false);
        if (conv == nullptr) {
          PostSQLState(stmt, kStateHY001, kStateS1001);
          return kPutNoMemory;
        }
        tagDBC* dbc = dbc_of(stmt);
        const std::size_t factor = dbc != nullptr && dbc->conn_wide_factor != 0 ? dbc->conn_wide_factor : 4;
        if (too_long(stmt, app, bytes / 2 * factor + 1))
          return put_wide_in_variable(stmt, app, impl, item, conv, data, bytes,
                                      bytes / 2 * factor + 1);
        if (!ensure_room(stmt, app, bytes / 2 * factor + 1, &buf))
          return buf == nullptr ? kPutNoMemory : kPutTruncated;
        v.data = buf;
        std::uint32_t written = 0;
        const int r = convert_wide(conv, data, bytes, buf, app->element_bytes - 1, &written);
        if (r != kPutDone) return r;
        buf[written] = 0;
        item->type = written > kShortItemMax ? -1 : 12;
        set_length(written);
        return kPutDone;
      }
      std::size_t n = length == SQL_NTS ? std::strlen(src) : static_cast<std::size_t>(length);
      const char* text = src;
      // A date-time parameter given as text (set up as type 9) keeps its subtype.
      const bool datetime_text = eff == 1;
      const std::int16_t setup_subtype =
          datetime_text && sql_type >= 9 && sql_type <= 11 ? static_cast<std::int16_t>(sql_type - 8) : 0;
      long lit = static_cast<long>(n);
      const bool scan = Option(stmt, SQL_ATTR_NOSCAN) != SQL_NOSCAN_ON;
      const int kind = scan ? ParseEscapeLiteral(&text, &lit) : kEscapeNone;
      if (kind >= kEscapeDate && kind <= kEscapeTimestamp) {
        item->type = 9;
        item->subtype = static_cast<std::int16_t>(kind);
        n = static_cast<std::size_t>(lit);
      } else if (kind == kEscapeGuid) {
        if (lit != 36 || !ensure_room(stmt, app, 16, &buf) ||
            char_to_uuid(text, reinterpret_cast<std::uint8_t*>(buf), 16) == 0)
          return lit != 36 ? kPutNoConvert : (buf == nullptr ? kPutNoMemory : kPutNoConvert);
        // The server keeps a GUID in the order of its text.
        SwapUuidBytes(reinterpret_cast<std::uint8_t*>(buf), 16);
        v.data = buf;
        item->type = -2;
        set_length(16);
        return kPutDone;
      } else if (datetime_text) {
        item->type = 9;
        item->subtype = setup_subtype;
      } else {
        item->type = static_cast<std::int16_t>(n > kShortItemMax ? -1 : 12);
        item->subtype = 0;
      }
      if (item->type != 9 && too_long(stmt, app, n + 1))
        return put_in_variable(stmt, app, impl, item, text, n, false);
      if (!ensure_room(stmt, app, n + 1, &buf)) return buf == nullptr ? kPutNoMemory : kPutTruncated;
      v.data = buf;
      std::memcpy(buf, text, n);
      buf[n] = 0;
      if (item->type == 9) {
        set_length(static_cast<std::uint32_t>(n + 1));  // the date-time text carries its NUL
      } else {
        set_length(static_cast<std::uint32_t>(n));
      }
      tagDBC* dbc = dbc_of(stmt);
      if (dbc != nullptr && dbc->driver_to_data_source != nullptr) {
        SQLINTEGER out = 0;
        if (TranslateToDataSource(dbc, sql_type, buf, static_cast<SQLINTEGER>(n), &out) ==
            SQL_ERROR)
          return kPutNoMemory;
      }
      return kPutDone;
    }
    case -30:
    case -31: {
      // NCHAR: the connection's NCHAR converter (UTF-8).
      std::size_t bytes;
      if (is_wide_c(c_type)) {
        bytes = length == SQL_NTS ? wide_length_bytes(data, SIZE_MAX)
                                  : static_cast<std::size_t>(length);
        if (bytes % 2 != 0) {
          PostSQLState(stmt, kStateHY090, kStateS1090);
          return kPutBadLength;
        }
        CharsetConverter* conv = wide_converter(stmt, true);
        if (conv == nullptr) {
          PostSQLState(stmt, kStateHY001, kStateS1001);
          return kPutNoMemory;
        }
        if (too_long(stmt, app, bytes * 2 + 1))
          return put_wide_in_variable(stmt, app, impl, item, conv, data, bytes, bytes * 2 + 1);
        if (!ensure_room(stmt, app, bytes * 2 + 1, &buf))
          return buf == nullptr ? kPutNoMemory : kPutTruncated;
        v.data = buf;
        std::uint32_t written = 0;
        const int r = convert_wide(conv, data, bytes, buf, app->element_bytes, &written);
        if (r != kPutDone) return r;
        item->type = static_cast<std::int16_t>(written > kShortItemMax ? -31 : -30);
        set_length(written);
        return kPutDone;
      }
      bytes = length == SQL_NTS ? std::strlen(src) : static_cast<std::size_t>(length);
      if (too_long(stmt, app, bytes + 1))
        return put_in_variable(stmt, app, impl, item, src, bytes, false);
      if (!ensure_room(stmt, app, bytes + 1, &buf))
        return buf == nullptr ? kPutNoMemory : kPutTruncated;
      v.data = buf;
      std::memcpy(buf, src, bytes);
      set_length(static_cast<std::uint32_t>(bytes));
      return kPutDone;
    }
    case -2:
    case -3:
    case -4:
    case -11: {
      if (is_char_c(c_type) || is_wide_c(c_type)) {
        // Hexadecimal text (GUID text for a GUID parameter).
        if (is_wide_c(c_type)) return kPutNoConvert;
        const std::size_t chars = length == SQL_NTS ? std::strlen(src) : static_cast<std::size_t>(length);
        if (sql_type == SQL_GUID) {
          if (chars != 36) return kPutNoConvert;
          if (!ensure_room(stmt, app, 17, &buf)) return kPutNoMemory;
          v.data = buf;
          if (char_to_uuid(src, reinterpret_cast<std::uint8_t*>(buf), 16) == 0)
            return kPutNoConvert;
          SwapUuidBytes(reinterpret_cast<std::uint8_t*>(buf), 16);  // the text's order
          set_length(16);
          return kPutDone;
        }
        if (chars % 2 != 0) return kPutNoConvert;
        const std::size_t bytes = chars / 2;
        if (too_long(stmt, app, bytes + 1))
          return put_in_variable(stmt, app, impl, item, src, bytes, true);
        if (!ensure_room(stmt, app, bytes + 1, &buf))
          return buf == nullptr ? kPutNoMemory : kPutTruncated;
        v.data = buf;
        if (char_to_binary(src, reinterpret_cast<std::uint8_t*>(buf), bytes) == 0)
          return kPutNoConvert;
        item->type = static_cast<std::int16_t>(bytes > kShortItemMax ? -4 : -2);
        set_length(static_cast<std::uint32_t>(bytes));
        return kPutDone;
      }
      if (c_type != SQL_C_GUID && length == SQL_NTS) {
        PostSQLState(stmt, kStateHY090, kStateS1090);
        return kPutBadLength;
      }
      const std::size_t bytes = c_type == SQL_C_GUID ? 16 : static_cast<std::size_t>(length);
      if (too_long(stmt, app, bytes + 1))
        return put_in_variable(stmt, app, impl, item, src, bytes, false);
      if (!ensure_room(stmt, app, bytes + 1, &buf))
        return buf == nullptr ? kPutNoMemory : kPutTruncated;
      v.data = buf;
      std::memcpy(buf, src, bytes);
      // The ODBC structure holds its first three groups as native integers; the server
      // keeps a GUID in the order of its text.
      if (c_type == SQL_C_GUID) SwapUuidBytes(reinterpret_cast<std::uint8_t*>(buf), 16);
      if (item->type != -22) {
        item->type = static_cast<std::int16_t>(bytes > kShortItemMax ? -4 : -2);
        set_length(static_cast<std::uint32_t>(bytes));
      }
      return kPutDone;
    }
    case 2:
    case 3: {
      if (c_type != SQL_C_NUMERIC) return kPutNoConvert;
      auto num = load<SQL_NUMERIC_STRUCT>(data);
      // A structure that names no precision takes the one the application bound.
      if (num.precision == 0) {
        num.precision = static_cast<SQLCHAR>(app->precision > 0 ? app->precision : 38);
      }
      const std::uint32_t bytes = num.precision / 2u + 1u;
      if (!ensure_room(stmt, app, bytes + 1, &buf)) return buf == nullptr ? kPutNoMemory : kPutTruncated;
      v.data = buf;
      if (ODBCNumericToPackedDecimal(&num, reinterpret_cast<std::uint8_t*>(buf)) !=
          kNumericConverted)
        return kPutOutOfRange;
      item->type = 2;
      item->precision = num.precision;
      item->scale = static_cast<std::uint16_t>(num.scale > 0 ? num.scale : 0);
      set_length(bytes);
      return kPutDone;
    }
    case 9:
    case 91: {
      const auto d = load<SQL_DATE_STRUCT>(data);
      put_datetime(buf, d.year, d.month, d.day, 0, 0, 0, 0);
      return kPutDone;
    }
    case 10:
    case 92: {
      const auto t = load<SQL_TIME_STRUCT>(data);
      put_datetime(buf, 0, 0, 0, t.hour, t.minute, t.second, 0);
      return kPutDone;
    }
    case 11:
    case 93: {
      const auto ts = load<SQL_TIMESTAMP_STRUCT>(data);
      put_datetime(buf, ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second,
                   ts.fraction / 1000u);
      return kPutDone;
    }
    default:
      return kPutNoConvert;
  }
}

int PutAllBound(tagSTMT* stmt, unsigned row) {
  // Row values of an insert or update through the cursor come from the ARD's row
  // `param_set` and go into the fetch list built for row values; there an unbound column
  // sends nothing, and a column marked SQL_COLUMN_IGNORE sends no value.
  const bool row_values = (stmt->param_flags & kParamRowValues) != 0;
  tagDESC* app_desc = row_values ? stmt->ard : stmt->apd;
  tagDESC* impl_desc = row_values ? stmt->ird : stmt->ipd;
  a_odbc_item_list* list = row_values ? stmt->fetch_list : stmt->param_list;
  if (list == nullptr || app_desc == nullptr) return row_values ? kPutNoItem : kPutDone;
  if (row >= list->rows) return kPutNoItem;
  const SQLLEN offset =
      app_desc->bind_offset_ptr != nullptr ? load<SQLLEN>(app_desc->bind_offset_ptr) : 0;
  // The application's values are those of the current set; the list row is `row`.
  const SQLULEN set = stmt->param_set;
  if (stmt->param_index < 0) stmt->param_index = 0;
  for (std::uint32_t p = static_cast<std::uint32_t>(stmt->param_index); p < list->columns; ++p) {
    stmt->param_index = static_cast<std::int32_t>(p);
    tagITEM* app = p < static_cast<std::uint32_t>(app_desc->count) ? app_desc->records[p] : nullptr;
    if (app == nullptr || (app->flags & kItemBound) == 0) {
      if (row_values) continue;
      return kPutUnbound;
    }
    tagITEM* impl = impl_desc != nullptr && p < static_cast<std::uint32_t>(impl_desc->count)
                        ? impl_desc->records[p]
                        : nullptr;
    const SQLLEN element = c_element_bytes(app->concise_type, app->octet_length);
    const SQLULEN data_stride =
        app_desc->bind_type != 0 ? app_desc->bind_type : static_cast<SQLULEN>(element);
    const SQLULEN word_stride = app_desc->bind_type != 0 ? app_desc->bind_type : sizeof(SQLLEN);
    char* data = app->data_ptr != nullptr
                     ? static_cast<char*>(app->data_ptr) + offset + set * data_stride
                     : nullptr;
    auto word = [&](SQLLEN* base) -> SQLLEN* {
      return base == nullptr ? nullptr
                             : reinterpret_cast<SQLLEN*>(reinterpret_cast<char*>(base) + offset +
                                                         set * word_stride);
    };
    a_cmdseq_desc_item* item = CmdSeqFastGetDescItem(list->desc.items, row * list->columns + p, 1);
    SQLLEN* length_ptr = word(app->octet_length_ptr);
    if (row_values && length_ptr != nullptr && load<SQLLEN>(length_ptr) == SQL_COLUMN_IGNORE) {
      a_cmdseq_value& v = item->values()[0];
      v.data = nullptr;
      if (v.indicator != nullptr) *v.indicator = 0;
      continue;
    }
    const int r = DBPutBound(stmt, app, impl, item, data, app->octet_length, length_ptr,
                             word(app->indicator_ptr), row);
    if (r != kPutDone) return r;
  }
  // Every value of the set is converted: the next set starts from the first.
  stmt->param_index = 0;
  return kPutDone;
}

int DBPutPartialBound(tagSTMT* stmt, tagITEM* app, tagITEM* impl, a_cmdseq_desc_item* item,
                      const char** data, SQLLEN* length, unsigned row, SQLULEN limit) {
  (void)impl;
  if (item == nullptr) return kPutNoItem;
  a_cmdseq_value& v = item->values()[0];
  const SQLSMALLINT eff = app->effective_type;
  const bool hex = (eff == -2 || eff == -3 || eff == -4) && is_char_c(app->concise_type);
  SQLLEN piece = *length;
  if (hex) {
    if (piece % 2 != 0) return kPutNoConvert;
    piece /= 2;
  }
  const SQLULEN sent = stmt->put_bytes;
  bool cut = false;
  if (limit != 0 && sent + static_cast<SQLULEN>(piece) > limit) {
    piece = sent >= limit ? 0 : static_cast<SQLLEN>(limit - sent);
    cut = true;
  }
  const std::size_t total = static_cast<std::size_t>(sent) + static_cast<std::size_t>(piece);
  const std::size_t need = total + 1;
  if (need > app->element_bytes || app->buffer == nullptr) {
    // The buffer of a long value grows with its pieces. Every row of the list keeps its
    // element, and the items of the rows converted before follow the buffer: the rows of
    // an insert through the cursor go in one request.
    a_odbc_item_list* list =
        (stmt->param_flags & kParamRowValues) != 0 ? stmt->fetch_list : stmt->param_list;
    const std::uint32_t rows = list != nullptr && list->rows > row ? list->rows : row + 1;
    const std::uint32_t p =
        stmt->param_index > 0 ? static_cast<std::uint32_t>(stmt->param_index) : 0;
    SQLULEN saved = stmt->max_length;
    stmt->max_length = 0;
    const int ok = AllocItemBuffer(stmt, app, need, rows, list, p,
                                   list != nullptr ? list->columns : 0);
    stmt->max_length = saved;
    if (ok == 0) {
      PostSQLState(stmt, kStateHY001, kStateS1001);
      return kPutNoMemory;
    }
  }
  char* buf = app->buffer + row * app->element_bytes;
  if (hex) {
    if (char_to_binary(*data, reinterpret_cast<std::uint8_t*>(buf + sent),
                       static_cast<std::size_t>(piece)) == 0)
      return kPutNoConvert;
  } else if (piece > 0) {
    std::memcpy(buf + sent, *data, static_cast<std::size_t>(piece));
  }
  buf[total] = 0;
  v.data = buf;
  if (v.indicator != nullptr) *v.indicator = 0;
  item->length = static_cast<std::uint32_t>(total);
  if (v.length != nullptr) *v.length = static_cast<std::uint32_t>(total);
  if (eff == 12 || eff == 1) item->type = static_cast<std::int16_t>(total > kShortItemMax ? -1 : 12);
  if (eff == -2 || eff == -3 || eff == -4)
    item->type = static_cast<std::int16_t>(total > kShortItemMax ? -4 : -2);
  if (eff == -30) item->type = static_cast<std::int16_t>(total > kShortItemMax ? -31 : -30);
  const SQLLEN consumed = hex ? piece * 2 : piece;
  *data += consumed;
  *length -= consumed;
  stmt->put_bytes = total;
  stmt->param_flags |= kParamDataSupplied;
  return cut ? kPutTruncated : kPutDone;
}
