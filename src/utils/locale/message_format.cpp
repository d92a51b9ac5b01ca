// The placeholder formatter: "%1" to "%9" with optional type tags, arguments taken in
// number order, output cut to the caller's buffer. It allocates nothing.
#include <pthread.h>

#include <cstdint>
#include <cstring>

#include "utils/base/number_conversion.h"
#include "utils/locale/lang_string.h"
#include "utils/locale/message_format_internal.h"
#include "utils/locale/utlocale.h"

namespace vq_msgfmt {
namespace {

enum ParamType : int {
  kString = 0,
  kStringTagged = 1,
  kInt = 2,
  kChar = 3,
  kUnsigned = 4,
  kLong = 5,
  kUnsignedLong = 6,
  kLongLong = 7,
  kUnsignedLongLong = 8,
  kHex4 = 9,
  kHex8 = 10,
  kRawString = 11,
  kEmpty = 12,
};

struct TagRow {
  ParamType type;
  const char* tag;
};

// Tried in this order after the digit; none matching means a plain string.
constexpr TagRow kParamTypeTable[] = {
    {kStringTagged, "!s!"}, {kInt, "!d!"},
    {kChar, "!c!"},         {kUnsigned, "!u!"},
    {kLong, "!ld!"},        {kUnsignedLong, "!lu!"},
    {kLongLong, "!lld!"},   {kUnsignedLongLong, "!llu!"},
    {kHex4, "!4x!"},        {kHex8, "!8x!"},
    {kRawString, "!at!"},
};

constexpr int kMaxParams = 9;
const char kNullString[] = "???";

struct ParamInfo {
  std::size_t position = 0;  // of the placeholder's "%" in the pattern
  ParamType type = kEmpty;
  std::size_t tag_length = 0;
  union {
    const char* string;
    std::int64_t signed_value;
    std::uint64_t unsigned_value;
  } value = {nullptr};
};

struct ParamTable {
  int highest = 0;
  ParamInfo params[kMaxParams];
};

void Scan(const char* pattern, ParamTable* table) {
  for (std::size_t i = 0; pattern[i] != '\0'; ++i) {
    if (pattern[i] != '%' || pattern[i + 1] < '1' || pattern[i + 1] > '9') continue;
    int n = pattern[i + 1] - '0';
    ParamInfo& p = table->params[n - 1];
    p.position = i;
    p.type = kString;
    p.tag_length = 0;
    for (const TagRow& row : kParamTypeTable) {
      std::size_t len = std::strlen(row.tag);
      if (std::strncmp(pattern + i + 2, row.tag, len) == 0) {
        p.type = row.type;
        p.tag_length = len;
        break;
      }
    }
    if (n > table->highest) table->highest = n;
  }
}

void Collect(ParamTable* table, ArgumentSource& source) {
  std::size_t array_count = 0;
  if (source.use_array && source.array != nullptr) {
    while (source.array[array_count] != nullptr) ++array_count;
  }
  for (int n = 1; n <= table->highest; ++n) {
    ParamInfo& p = table->params[n - 1];
    if (source.use_array) {
      // Every argument of the array forms is a string; a tagged placeholder writes its
      // string as it stands ("!at!" unconverted, any other tag like "!s!").
      if (p.type == kEmpty) continue;
      if (p.type != kRawString) p.type = kStringTagged;
      p.value.string =
          static_cast<std::size_t>(n - 1) < array_count ? source.array[n - 1] : nullptr;
      continue;
    }
    va_list& ap = *source.args;
    switch (p.type) {
      case kString:
      case kStringTagged:
      case kRawString:
        p.value.string = va_arg(ap, const char*);
        break;
      case kInt:
      case kChar:
        p.value.signed_value = va_arg(ap, int);
        break;
      case kUnsigned:
      case kHex4:
      case kHex8:
        p.value.unsigned_value = va_arg(ap, unsigned int);
        break;
      case kLong:
        p.value.signed_value = va_arg(ap, long);
        break;
      case kUnsignedLong:
        p.value.unsigned_value = va_arg(ap, unsigned long);
        break;
      case kLongLong:
        p.value.signed_value = va_arg(ap, long long);
        break;
      case kUnsignedLongLong:
        p.value.unsigned_value = va_arg(ap, unsigned long long);
        break;
      case kEmpty:
        // An unused number still takes its argument, so that the rest stay in place.
        (void)va_arg(ap, int);
        break;
    }
  }
}

class Writer {
 public:
  Writer(char* buf, unsigned int size, CharsetConverter* converter,
         a_ut_safe_pthread_mutex_t* mutex)
      : out_(buf), limit_(buf + size - 1), converter_(converter), mutex_(mutex) {}

  bool full() const { return out_ >= limit_; }
  char* position() const { return out_; }
  void Put(char c) {
    if (out_ < limit_) *out_++ = c;
  }
  void PutText(const char* text) {
    while (*text != '\0' && out_ < limit_) *out_++ = *text++;
  }
  void PutString(const char* text, bool convert) {
    if (text == nullptr) text = kNullString;
    if (!convert || converter_ == nullptr || converter_->is_identity()) {
      PutText(text);
      return;
    }
    const CharsetInfo* to = converter_->to();
    const unsigned int width = to != nullptr && to->unit_width > 1 ? to->unit_width : 1;
    Lock();
    std::size_t remaining = static_cast<std::size_t>(limit_ - out_);
    if (remaining >= width) {
      unsigned int written = 0;
      converter_->Convert(reinterpret_cast<unsigned char*>(out_),
                          static_cast<unsigned int>(remaining - width), &written,
                          reinterpret_cast<const unsigned char*>(text),
                          static_cast<unsigned int>(std::strlen(text)));
      written -= written % width;
      std::memset(out_ + written, 0, width);
      out_ += written;
    }
    Unlock();
  }
  void PutHex(std::uint64_t value, int digits) {
    static const char kDigits[] = "0123456789abcdef";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
      Put(kDigits[(value >> shift) & 0xF]);
  }
  void Finish() { *out_ = '\0'; }

 private:
  void Lock() {
    if (mutex_ != nullptr && mutex_->handle != nullptr) pthread_mutex_lock(mutex_->handle);
  }
  void Unlock() {
    if (mutex_ != nullptr && mutex_->handle != nullptr) pthread_mutex_unlock(mutex_->handle);
  }

  char* out_;
  char* const limit_;
  CharsetConverter* converter_;
  a_ut_safe_pthread_mutex_t* mutex_;
};

void WriteValue(Writer& w, const ParamInfo& p) {
  char digits[kU64TextBytes];
  switch (p.type) {
    case kString:
    case kStringTagged:
      w.PutString(p.value.string, true);
      break;
    case kRawString:
      w.PutString(p.value.string, false);
      break;
    case kInt:
    case kLong:
    case kLongLong:
      w.PutText(i64toa(p.value.signed_value, digits, 10));
      break;
    case kUnsigned:
    case kUnsignedLong:
    case kUnsignedLongLong:
      w.PutText(u64toa(p.value.unsigned_value, digits, 10));
      break;
    case kChar:
      w.Put(static_cast<char>(p.value.signed_value));
      break;
    case kHex4:
      w.PutHex(p.value.unsigned_value & 0xFFFF, 4);
      break;
    case kHex8:
      w.PutHex(p.value.unsigned_value & 0xFFFFFFFFu, 8);
      break;
    case kEmpty:
      break;
  }
}

}  // namespace

unsigned int FormatPattern(char* buf, unsigned int size, const char* pattern,
                           ArgumentSource& source, CharsetConverter* converter,
                           a_ut_safe_pthread_mutex_t* mutex) {
  if (buf == nullptr || size == 0) return 0;
  if (pattern == nullptr) pattern = "";
  ParamTable table;
  Scan(pattern, &table);
  Collect(&table, source);

  Writer w(buf, size, converter, mutex);
  std::size_t i = 0;
  while (pattern[i] != '\0' && !w.full()) {
    if (pattern[i] != '%') {
      w.Put(pattern[i++]);
      continue;
    }
    char next = pattern[i + 1];
    if (next >= '1' && next <= '9' && table.params[next - '1'].type != kEmpty &&
        table.params[next - '1'].position == i) {
      const ParamInfo& p = table.params[next - '1'];
      WriteValue(w, p);
      i += 2 + p.tag_length;
    } else if (next == '%') {
      w.Put('%');
      i += 2;
    } else {
      w.Put('%');
      ++i;
    }
  }
  w.Finish();
  return static_cast<unsigned int>(w.position() - buf);
}

void SplitBlock(const char* block, unsigned int blocklen, const char* out[11]) {
  int n = 0;
  unsigned int at = 0;
  while (block != nullptr && n < 10 && at < blocklen) {
    const void* end = std::memchr(block + at, '\0', blocklen - at);
    if (end == nullptr) break;
    out[n++] = block + at;
    at = static_cast<unsigned int>(static_cast<const char*>(end) - block) + 1;
  }
  out[n] = nullptr;
}

}  // namespace vq_msgfmt

unsigned int UTLangStringBase::FormatMiscStr(char* buf, unsigned int size, const char* pattern,
                                             ...) {
  va_list args;
  va_start(args, pattern);
  unsigned int n = VFormatMiscStr(buf, size, pattern, args, nullptr, nullptr);
  va_end(args);
  return n;
}

unsigned int UTLangStringBase::VFormatMiscStr(char* buf, unsigned int size, const char* pattern,
                                              va_list args, CharsetConverter* converter,
                                              a_ut_safe_pthread_mutex_t* mutex) {
  va_list copy;
  va_copy(copy, args);
  vq_msgfmt::ArgumentSource source;
  source.args = &copy;
  unsigned int n = vq_msgfmt::FormatPattern(buf, size, pattern, source, converter, mutex);
  va_end(copy);
  return n;
}

unsigned int UTLangStringBase::ArrayFormatMiscStr(char* buf, unsigned int size,
                                                  const char* pattern, const char* const* args,
                                                  CharsetConverter* converter,
                                                  a_ut_safe_pthread_mutex_t* mutex) {
  vq_msgfmt::ArgumentSource source;
  source.array = args;
  source.use_array = true;
  return vq_msgfmt::FormatPattern(buf, size, pattern, source, converter, mutex);
}

unsigned int UTLangStringBase::SQLFormatMiscStr(char* buf, unsigned int size,
                                                const char* pattern, const char* block,
                                                unsigned int blocklen,
                                                CharsetConverter* converter,
                                                a_ut_safe_pthread_mutex_t* mutex) {
  const char* array[11];
  vq_msgfmt::SplitBlock(block, blocklen, array);
  return ArrayFormatMiscStr(buf, size, pattern, array, converter, mutex);
}
