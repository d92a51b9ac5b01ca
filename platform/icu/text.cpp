// Character properties, case mapping, locale names and the data-set level of the
// Unicode stand-in. The case mapping over callback streams keeps only a bounded window
// of the text: it maps up to a character that no case rule looks across (neither cased
// nor case-ignorable, such as a space or a digit), so the result equals the mapping
// of the whole text at once.
#include <unicode/uchar.h>
#include <unicode/uclean.h>
#include <unicode/uloc.h>
#include <unicode/ustring.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "icu_bridge.h"

namespace {

static_assert(int{UCHAR_NUMERIC_TYPE} == int{VQICU_NUMERIC_TYPE} &&
                  int{U_NT_DECIMAL} == int{VQICU_NT_DECIMAL},
              "property numbers");

// ---- Case mapping over callback streams ---------------------------------------------

constexpr int32_t kReadBytes = 4096;     // bytes asked of the read callback at once
constexpr int32_t kWindowUnits = 16384;  // most UTF-16 units held back unmapped
constexpr int32_t kOutUnits = 3 * 1024;  // output units on the stack; more go to the heap

using MapFn = int32_t (*)(UChar*, int32_t, const UChar*, int32_t, const char*, UErrorCode*);

class StreamCaseMapper {
 public:
  StreamCaseMapper(MapFn map, vqicu_write_fn write, void* write_context, const char* locale)
      : map_(map), write_(write), write_context_(write_context), locale_(locale) {}

  // Reads the whole input, maps it and writes it; returns the bytes written.
  int32_t run(vqicu_read_fn read, void* read_context, UErrorCode& status) {
    char bytes[kReadBytes + 1];
    int32_t carried = 0;  // an odd byte left over from the previous read
    for (;;) {
      const int32_t got = read(read_context, bytes + carried, kReadBytes);
      if (got < 0) {
        status = U_INVALID_STATE_ERROR;
        return written_;
      }
      if (got == 0) break;
      const int32_t total = carried + (got > kReadBytes ? kReadBytes : got);
      for (int32_t i = 0; i + 1 < total; i += 2) {
        const UChar unit = static_cast<UChar>(static_cast<uint8_t>(bytes[i]) |
                                              static_cast<uint8_t>(bytes[i + 1]) << 8);
        if (!push(unit, status)) return written_;
      }
      carried = total & 1;
      if (carried) bytes[0] = bytes[total - 1];
    }
    if (!map_and_write(held_, status)) return written_;
    if (carried) status = U_TRUNCATED_CHAR_FOUND;
    return written_;
  }

 private:
  bool push(UChar unit, UErrorCode& status) {
    window_[held_++] = unit;
    if (held_ < kWindowUnits) return true;
    // The window is full: map up to the last unit no case rule looks across, or, in a
    // window without one, up to the last whole code point. Only the second cut can
    // differ from mapping the whole text (a sigma at the cut may come out final); it
    // takes 16K units without a space, digit or punctuation mark to get there.
    int32_t cut = held_;
    while (cut > 0 && !is_boundary_after(cut - 1)) --cut;
    if (cut == 0) {
      cut = held_;
      if (U16_IS_LEAD(window_[cut - 1])) --cut;
    }
    if (!map_and_write(cut, status)) return false;
    std::memmove(window_, window_ + cut, sizeof(UChar) * (held_ - cut));
    held_ -= cut;
    return true;
  }

  bool is_boundary_after(int32_t i) const {
    const UChar c = window_[i];
    return !U16_IS_SURROGATE(c) && !u_hasBinaryProperty(c, UCHAR_CASED) &&
           !u_hasBinaryProperty(c, UCHAR_CASE_IGNORABLE);
  }

  // Maps window_[0, n) and writes the result.
  bool map_and_write(int32_t n, UErrorCode& status) {
    if (n == 0) return true;
    UChar stack_out[kOutUnits];
    UChar* out = stack_out;
    UErrorCode st = U_ZERO_ERROR;
    int32_t len = map_(out, kOutUnits, window_, n, locale_, &st);
    if (st == U_BUFFER_OVERFLOW_ERROR) {
      out = static_cast<UChar*>(std::malloc(sizeof(UChar) * len));
      if (out == nullptr) {
        status = U_MEMORY_ALLOCATION_ERROR;
        return false;
      }
      st = U_ZERO_ERROR;
      len = map_(out, len, window_, n, locale_, &st);
    }
    bool ok = U_SUCCESS(st);
    if (!ok) status = st;
    if (ok) ok = write_units(out, len, status);
    if (out != stack_out) std::free(out);
    return ok;
  }

  bool write_units(const UChar* units, int32_t n, UErrorCode& status) {
    char bytes[2 * 512];
    for (int32_t done = 0; done < n;) {
      const int32_t k = n - done < 512 ? n - done : 512;
      for (int32_t i = 0; i < k; ++i) {
        bytes[2 * i] = static_cast<char>(units[done + i] & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(units[done + i] >> 8);
      }
      const int32_t took = write_(write_context_, bytes, 2 * k);
      if (took > 0) written_ += took > 2 * k ? 2 * k : took;
      if (took != 2 * k) {
        status = U_BUFFER_OVERFLOW_ERROR;
        return false;
      }
      done += k;
    }
    return true;
  }

  MapFn map_;
  vqicu_write_fn write_;
  void* write_context_;
  const char* locale_;
  UChar window_[kWindowUnits];
  int32_t held_ = 0;
  int32_t written_ = 0;
};

int32_t map_stream(MapFn map, vqicu_write_fn write, void* write_context, vqicu_read_fn read,
                   void* read_context, const char* locale, vqicu_status* status) {
  vqicu::Status st(status);
  if (st.failed()) return 0;
  if (write == nullptr || read == nullptr) {
    st.set(U_ILLEGAL_ARGUMENT_ERROR);
    return 0;
  }
  // The window is too large for some thread stacks.
  auto* mapper = static_cast<StreamCaseMapper*>(std::malloc(sizeof(StreamCaseMapper)));
  if (mapper == nullptr) {
    st.set(U_MEMORY_ALLOCATION_ERROR);
    return 0;
  }
  new (mapper) StreamCaseMapper(map, write, write_context, locale);
  const int32_t written = mapper->run(read, read_context, st.code());
  mapper->~StreamCaseMapper();
  std::free(mapper);
  return written;
}

// ---- Data-set level ----------------------------------------------------------------------

int32_t probe_dataset() {
  UErrorCode st = U_ZERO_ERROR;
  u_init(&st);
  if (U_FAILURE(st)) return 0;
  UCollator* coll = ucol_open("", &st);
  ucol_close(coll);
  if (U_FAILURE(st)) return 1;
  // A large multibyte table: present only with the full converter data.
  UConverter* cnv = ucnv_open("ibm-943_P15A-2003", &st);
  ucnv_close(cnv);
  return U_FAILURE(st) ? 1 : 2;
}

}  // namespace

VQICU_EXPORT vqicu_bool u_isUAlphabetic_3_4(vqicu_uchar32 c) { return u_isUAlphabetic(c); }
VQICU_EXPORT vqicu_bool u_isWhitespace_3_4(vqicu_uchar32 c) { return u_isWhitespace(c); }
VQICU_EXPORT vqicu_bool u_isUWhiteSpace_3_4(vqicu_uchar32 c) { return u_isUWhiteSpace(c); }

VQICU_EXPORT int32_t u_getIntPropertyValue_3_4(vqicu_uchar32 c, int32_t property) {
  return u_getIntPropertyValue(c, static_cast<UProperty>(property));
}

VQICU_EXPORT int32_t u_strToLower_3_4(vqicu_uchar* dest, int32_t capacity,
                                      const vqicu_uchar* src, int32_t length,
                                      const char* locale, vqicu_status* status) {
  vqicu::Status st(status);
  if (st.failed()) return 0;
  return u_strToLower(vqicu::icu(dest), capacity, vqicu::icu(src), length, locale, st.get());
}

VQICU_EXPORT int32_t u_strToUpper_3_4(vqicu_uchar* dest, int32_t capacity,
                                      const vqicu_uchar* src, int32_t length,
                                      const char* locale, vqicu_status* status) {
  vqicu::Status st(status);
  if (st.failed()) return 0;
  return u_strToUpper(vqicu::icu(dest), capacity, vqicu::icu(src), length, locale, st.get());
}

VQICU_EXPORT int32_t uloc_canonicalize_3_4(const char* locale, char* name, int32_t capacity,
                                           vqicu_status* status) {
  vqicu::Status st(status);
  if (st.failed()) return 0;
  return uloc_canonicalize(locale, name, capacity, st.get());
}

VQICU_EXPORT int32_t VSR_strToUpper(vqicu_write_fn write, void* write_context,
                                    vqicu_read_fn read, void* read_context, const char* locale,
                                    vqicu_status* status) {
  return map_stream(u_strToUpper, write, write_context, read, read_context, locale, status);
}

VQICU_EXPORT int32_t VSR_strToLower(vqicu_write_fn write, void* write_context,
                                    vqicu_read_fn read, void* read_context, const char* locale,
                                    vqicu_status* status) {
  return map_stream(u_strToLower, write, write_context, read, read_context, locale, status);
}

VQICU_EXPORT int32_t VSRGetICUDataset(void) {
  static const int32_t level = probe_dataset();
  return level;
}
