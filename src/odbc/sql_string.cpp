// Text returned to applications and the growable SQL text.
#include "odbc/sql_string.h"

#include <climits>
#include <cstring>

#include "odbc/diagnostics.h"
#include "odbc/handles.h"
#include "utils/base/memory.h"

namespace {

// Room added beyond what an append needs, so that a statement built from many small
// pieces is not reallocated for each one.
constexpr std::uint32_t kSQLStringSlackBytes = 100;

std::size_t MeasuredLength(const char* text, SQLINTEGER length) {
  if (text == nullptr) return 0;
  if (length == SQL_NTS) return std::strlen(text);
  return length < 0 ? 0 : static_cast<std::size_t>(length);
}

void StoreLength(SQLSMALLINT* out, std::size_t length) {
  *out = static_cast<SQLSMALLINT>(length > SHRT_MAX ? SHRT_MAX : length);
}

void StoreLength(SQLINTEGER* out, std::size_t length) {
  *out = static_cast<SQLINTEGER>(length > INT_MAX ? INT_MAX : length);
}

template <typename LengthOut>
int ReturnText(tagOBJECT* handle, void* out, SQLINTEGER out_size, LengthOut* length_out,
               const char* text, SQLINTEGER text_length) {
  const std::size_t length = MeasuredLength(text, text_length);
  if (out != nullptr && out_size < 0) {
    if (handle != nullptr) AddSQLState(handle, kStateHY090, kStateS1090);
    return -1;
  }
  if (length_out != nullptr) StoreLength(length_out, length);
  if (out == nullptr) return 0;
  const auto size = static_cast<std::size_t>(out_size);
  if (length + 1 > size) {
    if (handle != nullptr) AddSQLState(handle, kState01004, kState01004);
    if (size > 0) {
      if (size > 1) std::memcpy(out, text, size - 1);
      static_cast<char*>(out)[size - 1] = '\0';
    }
    return 1;
  }
  if (length > 0) std::memcpy(out, text, length);
  static_cast<char*>(out)[length] = '\0';
  return 0;
}

bool Marked(const tagSQLSTRING* s) {
  return s->capacity == kSQLStringFailed || s->capacity == kSQLStringLocked;
}

template <typename LengthOut>
int ReturnAndFree(tagOBJECT* handle, void* out, SQLINTEGER out_size, LengthOut* length_out,
                  tagSQLSTRING* s) {
  if (s->capacity == kSQLStringFailed) {
    FreeSQLString(s);
    return -1;
  }
  const int rc = ReturnText(handle, out, out_size, length_out, s->text,
                            static_cast<SQLINTEGER>(s->length > INT_MAX ? INT_MAX : s->length));
  FreeSQLString(s);
  return rc;
}

}  // namespace

int ReturnString(tagOBJECT* handle, void* out, SQLINTEGER out_size, SQLSMALLINT* length_out,
                 const char* text, SQLINTEGER text_length) {
  return ReturnText(handle, out, out_size, length_out, text, text_length);
}

int ReturnString(tagOBJECT* handle, void* out, SQLINTEGER out_size, SQLINTEGER* length_out,
                 const char* text, SQLINTEGER text_length) {
  return ReturnText(handle, out, out_size, length_out, text, text_length);
}

int ExtendSQLString(tagOBJECT* handle, tagSQLSTRING* s, std::uint32_t needed) {
  if (Marked(s)) return -1;
  if (needed <= s->capacity) return 0;
  if (needed > kSQLStringMaxLength + 1) {
    if (handle != nullptr) AddSQLState(handle, kStateHY090, kStateS1090);
    return -1;
  }
  const bool first = s->text == nullptr;
  // VReallocLocked releases the old text and records HY001 when it fails.
  auto* grown = static_cast<char*>(VReallocLocked(handle, s->text, needed));
  if (grown == nullptr) {
    s->text = nullptr;
    s->length = 0;
    s->capacity = kSQLStringFailed;
    return -1;
  }
  if (first) grown[0] = '\0';
  s->text = grown;
  s->capacity = needed;
  return 0;
}

int AddToSQLString(tagOBJECT* handle, tagSQLSTRING* s, const char* text, SQLINTEGER length) {
  if (s->capacity == kSQLStringFailed) return -1;
  if (s->capacity == kSQLStringLocked) return 0;
  const std::size_t add = MeasuredLength(text, length);
  if (add == 0 && s->text != nullptr) return 0;
  const std::size_t total = static_cast<std::size_t>(s->length) + add;
  if (total > kSQLStringMaxLength) {
    if (handle != nullptr) AddSQLState(handle, kStateHY090, kStateS1090);
    return -1;
  }
  if (s->capacity <= total + 1) {
    // Never let the slack reach the two marks kept in the capacity.
    std::size_t want = total + 1 + kSQLStringSlackBytes;
    if (want > kSQLStringMaxLength + 1) want = kSQLStringMaxLength + 1;
    if (ExtendSQLString(handle, s, static_cast<std::uint32_t>(want)) != 0) return -1;
  }
  if (add > 0) std::memcpy(s->text + s->length, text, add);
  s->length = static_cast<std::uint32_t>(total);
  s->text[total] = '\0';
  return 0;
}

int MakeSQLString(tagOBJECT* handle, tagSQLSTRING* s, const char* text, SQLINTEGER length) {
  if (Marked(s)) return s->capacity == kSQLStringFailed ? -1 : 0;
  s->length = 0;
  if (s->text != nullptr) s->text[0] = '\0';
  return AddToSQLString(handle, s, text, length);
}

char* CopySQLString(tagOBJECT* handle, const tagSQLSTRING* s) {
  if (s->capacity == kSQLStringFailed) return nullptr;
  auto* copy = static_cast<char*>(VAllocLocked(handle, static_cast<std::size_t>(s->length) + 1));
  if (copy == nullptr) return nullptr;
  if (s->length > 0) std::memcpy(copy, s->text, s->length);
  copy[s->length] = '\0';
  return copy;
}

int ReturnSQLString(tagOBJECT* handle, void* out, SQLINTEGER out_size, SQLSMALLINT* length_out,
                    tagSQLSTRING* s) {
  return ReturnAndFree(handle, out, out_size, length_out, s);
}

int ReturnSQLString(tagOBJECT* handle, void* out, SQLINTEGER out_size, SQLINTEGER* length_out,
                    tagSQLSTRING* s) {
  return ReturnAndFree(handle, out, out_size, length_out, s);
}

void FreeSQLString(tagSQLSTRING* s) {
  if (s == nullptr) return;
  ut_free(s->text);
  s->text = nullptr;
  s->length = 0;
  s->capacity = 0;
}
