// Conversion between the application's UTF-16 text and the narrow text of the driver's
// implementations.
#include "odbc/wide_text.h"

#include <climits>
#include <cstring>
#include <memory>
#include <new>

#include "odbc/diagnostics.h"
#include "odbc/engine.h"
#include "odbc/handles.h"
#include "odbc/string_pool.h"
#include "utils/locale/charset_converter.h"
#include "utils/locale/utlocale.h"

namespace {

constexpr a_packed_sqlstate kState22018 = PackSQLState("22018");
constexpr a_packed_sqlstate kState22005 = PackSQLState("22005");
constexpr std::uint8_t kMaxFactor = 4;
// Scratch area in which text beyond a full output is converted only to be counted.
constexpr std::size_t kScratchBytes = 1024;
// The least narrow buffer behind a wide output.
constexpr std::size_t kMinNarrowBytes = 1024;

constexpr char kNotRepresentable[] =
    "A character of the text has no form in the connection's character set";

bool IsHighSurrogate(SQLWCHAR u) { return u >= 0xD800 && u <= 0xDBFF; }

// The converters of a handle, one way or the other. For an environment (whose converters
// are shared by every thread calling on it without a lock) a private one is made.
class Converter {
 public:
  Converter(tagOBJECT* handle, bool to_wide) {
    if (handle == nullptr) return;
    if (handle->kind == OBJ_ENV) {
      auto* env = static_cast<tagENV*>(handle);
      UTLocale* locale = SQLGetUTLocale();
      if (locale == nullptr || env->charset == nullptr) return;
      const CharsetInfo* wide = locale->utf16le_charset();
      own_.reset(to_wide ? new (std::nothrow) CharsetConverter(locale, wide, env->charset)
                         : new (std::nothrow) CharsetConverter(locale, env->charset, wide));
      converter_ = own_.get();
      return;
    }
    tagDBC* dbc = OwningDbc(handle);
    if (dbc == nullptr) return;
    // The connection's own converters exist once it is connected; before that the
    // environment's character set serves.
    if (to_wide) {
      converter_ = dbc->conn_to_wide != nullptr ? dbc->conn_to_wide : dbc->env_to_client;
    } else {
      converter_ = dbc->wide_to_conn != nullptr ? dbc->wide_to_conn : dbc->client_to_env;
    }
  }
  CharsetConverter* get() const { return converter_; }

 private:
  std::unique_ptr<CharsetConverter> own_;
  CharsetConverter* converter_ = nullptr;
};

void PostNotRepresentable(tagOBJECT* handle) {
  AddSQLCustomState(handle, kState22018, kState22005, kNotRepresentable, SQL_NTS);
}

bool HoldsState(const tagOBJECT* h, a_packed_sqlstate state) {
  if (h->record_count == 0) return false;
  for (const tagDIAGREC* r = &h->first_rec; r != nullptr; r = r->next) {
    if (r->odbc3 == state) return true;
  }
  return false;
}

}  // namespace

SQLINTEGER WCHARLEN(const SQLWCHAR* text) {
  if (text == nullptr) return 0;
  SQLINTEGER n = 0;
  while (text[n] != 0 && n < INT_MAX) ++n;
  return n;
}

std::uint8_t WideFactor(tagOBJECT* handle) {
  std::uint8_t factor = 0;
  if (handle != nullptr && handle->kind == OBJ_ENV) {
    factor = static_cast<tagENV*>(handle)->wide_factor;
  } else if (tagDBC* dbc = OwningDbc(handle); dbc != nullptr) {
    factor = dbc->wide_to_conn != nullptr ? dbc->conn_wide_factor : dbc->env_wide_factor;
  }
  return factor == 0 || factor > kMaxFactor ? kMaxFactor : factor;
}

bool convertFromUnicode(tagOBJECT* handle, const SQLWCHAR* text, SQLINTEGER length, char** out,
                        SQLINTEGER* out_length) {
  *out = nullptr;
  *out_length = 0;
  if (text == nullptr) return true;
  if (length == SQL_NTS) {
    length = WCHARLEN(text);
  } else if (length < 0) {
    AddSQLState(handle, kStateHY090, kStateS1090);
    return false;
  }
  const std::size_t capacity = (static_cast<std::size_t>(length) + 1) * WideFactor(handle);
  Converter converter(handle, false);
  CharsetConverter* conv = converter.get();
  if (conv == nullptr) {
    AddSQLState(handle, kStateHY001, kStateS1001);
    return false;
  }
  auto* buffer = static_cast<char*>(StringRequest(handle, true, nullptr, capacity));
  if (buffer == nullptr) return false;

  // Reported, not substituted: a character the target lacks, a lone surrogate.
  const std::uint32_t saved = conv->options();
  conv->Reset();
  conv->set_options(saved | kConvUnmappedChar | kConvIllegalSequence | kConvIncompleteInput);
  PivotBuffer pivot;
  void* dst = buffer;
  const void* src = text;
  const int r =
      conv->ContinueConvert(pivot, &dst, buffer + capacity - 1, &src, text + length, 1);
  conv->set_options(saved);
  conv->Reset();
  const std::size_t written = static_cast<std::size_t>(static_cast<char*>(dst) - buffer);
  if (r != kConvDone || written > static_cast<std::size_t>(INT_MAX)) {
    std::memset(buffer, 0, written);  // the text may be a secret
    StringFree(buffer);
    if (r == kConvDone) {
      AddSQLState(handle, kStateHY090, kStateS1090);
    } else {
      PostNotRepresentable(handle);
    }
    return false;
  }
  buffer[written] = '\0';
  *out = buffer;
  *out_length = static_cast<SQLINTEGER>(written);
  return true;
}

char* AllocateBuffer(tagOBJECT* handle, std::uint8_t factor, SQLINTEGER byte_length,
                     SQLINTEGER* size) {
  *size = 0;
  if (byte_length <= 0) return nullptr;
  const std::size_t n = static_cast<std::size_t>(byte_length / 2) * factor;
  if (n == 0) return nullptr;
  auto* buffer = static_cast<char*>(StringRequest(handle, true, nullptr, n));
  if (buffer == nullptr) return nullptr;
  *size = static_cast<SQLINTEGER>(n > INT_MAX ? INT_MAX : n);
  return buffer;
}

int CharSetToUnicode(tagOBJECT* handle, SQLWCHAR* out, SQLINTEGER out_bytes, const char* text,
                     SQLINTEGER text_bytes, SQLINTEGER* characters, SQLINTEGER* bytes_used) {
  *characters = 0;
  *bytes_used = 0;
  Converter converter(handle, true);
  CharsetConverter* conv = converter.get();
  if (conv == nullptr) return -1;
  if (text == nullptr || text_bytes <= 0) return 0;

  conv->Reset();
  PivotBuffer pivot;
  const void* src = text;
  const void* src_end = text + text_bytes;
  const std::size_t room = out != nullptr && out_bytes > 0
                               ? static_cast<std::size_t>(out_bytes) & ~std::size_t{1}
                               : 0;
  void* dst = out;
  int r = kConvDestFull;
  std::size_t total = 0;
  if (room > 0) {
    r = conv->ContinueConvert(pivot, &dst, reinterpret_cast<char*>(out) + room, &src, src_end,
                              1);
    total = static_cast<std::size_t>(static_cast<char*>(dst) - reinterpret_cast<char*>(out));
  }
  *bytes_used = static_cast<SQLINTEGER>(total);
  // The rest is converted round by round into scratch only to be counted.
  alignas(2) unsigned char scratch[kScratchBytes];
  while (r == kConvDestFull) {
    void* d = scratch;
    const void* before = src;
    r = conv->ContinueConvert(pivot, &d, scratch + kScratchBytes, &src, src_end, 1);
    const std::size_t n = static_cast<std::size_t>(static_cast<unsigned char*>(d) - scratch);
    total += n;
    if (n == 0 && src == before) break;  // no progress: stop rather than spin
  }
  conv->Reset();
  const std::size_t units = total / 2;
  *characters = static_cast<SQLINTEGER>(units > INT_MAX ? INT_MAX : units);
  return 0;
}

int ReturnStringW(tagOBJECT* handle, SQLWCHAR* out, SQLINTEGER out_bytes,
                  SQLINTEGER* length_out, const char* text, SQLINTEGER text_length, bool warn,
                  SQLINTEGER beyond) {
  if (text == nullptr) {
    text = "";
    text_length = 0;
  } else if (text_length == SQL_NTS) {
    const std::size_t n = std::strlen(text);
    text_length = static_cast<SQLINTEGER>(n > INT_MAX ? INT_MAX : n);
  } else if (text_length < 0) {
    text_length = 0;
  }
  if (out != nullptr && out_bytes < 0) {
    if (warn && handle != nullptr) AddSQLState(handle, kStateHY090, kStateS1090);
    return -1;
  }
  SQLINTEGER characters = 0;
  SQLINTEGER used = 0;
  if (CharSetToUnicode(handle, out, out_bytes, text, text_length, &characters, &used) != 0) {
    if (handle != nullptr) AddSQLState(handle, kStateHY001, kStateS1001);
    return -1;
  }
  const long long full_units = static_cast<long long>(characters) + (beyond > 0 ? beyond : 0);
  if (length_out != nullptr) {
    const long long bytes = full_units * 2;
    *length_out = static_cast<SQLINTEGER>(bytes > INT_MAX - 1 ? INT_MAX - 1 : bytes);
  }
  if (out == nullptr) return 0;  // only the length was asked for
  if (full_units * 2 + 2 > static_cast<long long>(out_bytes)) {
    if (warn && handle != nullptr && handle->kind != OBJ_ENV &&
        !HoldsState(handle, kState01004)) {
      AddSQLState(handle, kState01004, kState01004);
    }
    if (out_bytes >= 2) {
      SQLINTEGER last = out_bytes / 2 - 1;
      // A pair cut in two leaves no lone high surrogate before the terminator.
      if (last > 0 && last - 1 < used / 2 && IsHighSurrogate(out[last - 1])) --last;
      out[last] = 0;
    }
    return 1;
  }
  out[used / 2] = 0;
  return 0;
}

SQLRETURN ReturnStringW(SQLRETURN rc, tagOBJECT* handle, SQLWCHAR* out, SQLINTEGER out_bytes,
                        SQLINTEGER* length_out, const char* text, SQLINTEGER text_length,
                        bool warn) {
  const int r = ReturnStringW(handle, out, out_bytes, length_out, text, text_length, warn);
  return r != 0 ? static_cast<SQLRETURN>(r) : rc;
}

namespace vq::odbc {

NarrowArg::~NarrowArg() {
  if (text_ == nullptr) return;
  if (secret_) std::memset(text_, 0, static_cast<std::size_t>(length_) + 1);
  StringFree(text_);
}

bool NarrowArg::Convert(tagOBJECT* handle, const SQLWCHAR* text, SQLINTEGER length) {
  return convertFromUnicode(handle, text, length, &text_, &length_);
}

bool NarrowArg::ConvertShort(tagOBJECT* handle, const SQLWCHAR* text, SQLINTEGER length) {
  if (!Convert(handle, text, length)) return false;
  if (length_ <= SHRT_MAX) return true;
  AddSQLState(handle, kStateHY090, kStateS1090);
  return false;
}

NarrowOut::NarrowOut(tagOBJECT* handle, std::uint8_t factor, SQLINTEGER wide_bytes,
                     SQLINTEGER narrow_cap, bool secret)
    : secret_(secret) {
  // At least kMinNarrowBytes, whatever the caller's buffer: most texts then reach us
  // whole, and their length in code units is exact even when the caller's buffer (or
  // none) takes only part of them.
  if (factor == 0) factor = 1;
  SQLINTEGER wanted = wide_bytes > 0 ? wide_bytes : 0;
  const SQLINTEGER least = 2 * static_cast<SQLINTEGER>(kMinNarrowBytes / factor);
  if (wanted < least) wanted = least;
  data_ = AllocateBuffer(handle, factor, wanted, &size_);
  failed_ = data_ == nullptr;
  if (size_ > narrow_cap) size_ = narrow_cap;
}

NarrowOut::~NarrowOut() {
  if (data_ == nullptr) return;
  if (secret_) std::memset(data_, 0, static_cast<std::size_t>(size_));
  StringFree(data_);
}

int NarrowOut::Return(tagOBJECT* handle, SQLWCHAR* out, SQLINTEGER out_bytes,
                      SQLINTEGER* length_out, SQLINTEGER reported, bool warn) const {
  if (reported < 0) reported = 0;
  // What the implementation wrote ends at the buffer's last byte but one (its
  // terminator); the rest of the text never reached us.
  const SQLINTEGER held = size_ > 0 ? (reported < size_ ? reported : size_ - 1) : 0;
  return ReturnStringW(handle, out, out_bytes, length_out, data_, held, warn, reported - held);
}

}  // namespace vq::odbc
