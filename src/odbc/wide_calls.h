// What the wide entry points share beyond the text conversions: the caller's character
// counts turned into byte counts, and the two shapes of a wide text output (measured in
// characters or in bytes) around a narrow implementation.
#ifndef VQ_ODBC_WIDE_CALLS_H
#define VQ_ODBC_WIDE_CALLS_H

#include <sql.h>
#include <sqlext.h>

#include <climits>
#include <cstdint>

#include "odbc/diagnostics.h"
#include "odbc/handles.h"
#include "odbc/wide_text.h"

namespace vq::odbc {

// Byte caps of wide outputs: 16-bit length arguments, and 32-bit ones.
constexpr SQLINTEGER kShortBytes = SHRT_MAX;
constexpr SQLINTEGER kLongBytes = INT_MAX - 1;

// A caller's length in characters as bytes (x 2), capped; negative stays negative.
inline SQLINTEGER CharsToBytes(SQLINTEGER chars, SQLINTEGER cap) {
  if (chars < 0) return -1;
  const long long bytes = static_cast<long long>(chars) * 2;
  return static_cast<SQLINTEGER>(bytes > cap ? cap : bytes);
}

template <typename T>
void StoreLength(T* out, long long value) {
  if (out == nullptr) return;
  constexpr long long kMax = sizeof(T) == 2 ? SHRT_MAX : INT_MAX;
  *out = static_cast<T>(value > kMax ? kMax : value);
}

// A text output measured in characters: the caller's buffer of `chars` characters, its
// length output in characters. `impl(narrow, narrow_size, &narrow_length)` runs the
// narrow implementation; its text is converted when it answers 0 or 1. The result is the
// conversion's when that is not 0, else the implementation's (always the
// implementation's with `keep_rc`). `secret` wipes the narrow buffer afterwards.
template <typename LengthT, typename Impl>
SQLRETURN CharsOutW(tagOBJECT* h, std::uint8_t factor, SQLWCHAR* out, SQLINTEGER chars,
                    LengthT* length_chars, SQLINTEGER cap, bool warn, bool keep_rc, bool secret,
                    Impl&& impl) {
  if (out != nullptr && chars < 0) {
    return warn ? PostSQLState(h, kStateHY090, kStateS1090) : SQL_ERROR;
  }
  const SQLINTEGER wide_bytes = out != nullptr ? CharsToBytes(chars, cap) : 0;
  NarrowOut narrow(h, factor, wide_bytes, cap, secret);
  if (narrow.failed()) return SQL_ERROR;
  SQLINTEGER reported = 0;
  const SQLRETURN rc = impl(narrow.data(), narrow.size(), &reported);
  if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return rc;
  if (narrow.data() == nullptr) {
    // Nothing to convert: each narrow byte stands for at most one character.
    StoreLength(length_chars, reported);
    return rc;
  }
  SQLINTEGER bytes = 0;
  const int r = narrow.Return(h, out, wide_bytes, &bytes, reported, warn);
  StoreLength(length_chars, bytes / 2);
  if (keep_rc || r == 0) return rc;
  return static_cast<SQLRETURN>(r);
}

// A text output measured in bytes: the caller's buffer of `out_bytes` bytes, its length
// output in bytes; otherwise as CharsOutW.
template <typename LengthT, typename Impl>
SQLRETURN BytesOutW(tagOBJECT* h, std::uint8_t factor, SQLPOINTER out, SQLINTEGER out_bytes,
                    LengthT* length_bytes, SQLINTEGER cap, bool warn, Impl&& impl) {
  if (out != nullptr && out_bytes < 0) {
    return warn ? PostSQLState(h, kStateHY090, kStateS1090) : SQL_ERROR;
  }
  const SQLINTEGER wide_bytes = out != nullptr ? (out_bytes > cap ? cap : out_bytes) : 0;
  NarrowOut narrow(h, factor, wide_bytes, cap);
  if (narrow.failed()) return SQL_ERROR;
  SQLINTEGER reported = 0;
  const SQLRETURN rc = impl(narrow.data(), narrow.size(), &reported);
  if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return rc;
  if (narrow.data() == nullptr) {
    StoreLength(length_bytes, static_cast<long long>(reported) * 2);
    return rc;
  }
  SQLINTEGER bytes = 0;
  const int r =
      narrow.Return(h, static_cast<SQLWCHAR*>(out), out_bytes, &bytes, reported, warn);
  StoreLength(length_bytes, bytes);
  return r != 0 ? static_cast<SQLRETURN>(r) : rc;
}

}  // namespace vq::odbc

#endif  // VQ_ODBC_WIDE_CALLS_H
