// Shared by the files of the Unicode stand-in: the bridge between the plain C types of
// vqicu.h and the types of the system's ICU, whose functions do the work. The two sets
// of types have the same sizes and values; the checks below keep it so.
#ifndef VQICU_ICU_BRIDGE_H
#define VQICU_ICU_BRIDGE_H

#include <unicode/ucnv.h>
#include <unicode/ucol.h>
#include <unicode/uiter.h>
#include <unicode/utypes.h>

#include <cstddef>

#include "vqicu.h"

#define VQICU_EXPORT extern "C" __attribute__((visibility("default")))

namespace vqicu {

static_assert(sizeof(UErrorCode) == sizeof(vqicu_status), "status width");
static_assert(sizeof(UChar) == sizeof(vqicu_uchar), "UTF-16 unit width");
static_assert(sizeof(UChar32) == sizeof(vqicu_uchar32), "code point width");
static_assert(sizeof(UBool) == sizeof(vqicu_bool), "boolean width");
static_assert(sizeof(UCharIterator) == sizeof(vqicu_char_iterator), "iterator size");
static_assert(offsetof(UCharIterator, reservedField) ==
                  offsetof(vqicu_char_iterator, reserved_field),
              "iterator fields");
static_assert(offsetof(UCharIterator, getIndex) == offsetof(vqicu_char_iterator, get_index),
              "iterator functions");
static_assert(offsetof(UCharIterator, setState) == offsetof(vqicu_char_iterator, set_state),
              "iterator functions");

// Carries a caller's status into an ICU call and back: loads it on construction and
// stores ICU's code on destruction. A null status pointer reads as a failure, so that
// the function returns at once, as ICU's own functions do.
class Status {
 public:
  explicit Status(vqicu_status* out)
      : out_(out), code_(out ? static_cast<UErrorCode>(*out) : U_ILLEGAL_ARGUMENT_ERROR) {}
  ~Status() {
    if (out_) *out_ = code_;
  }
  Status(const Status&) = delete;
  Status& operator=(const Status&) = delete;

  UErrorCode* get() { return &code_; }
  UErrorCode& code() { return code_; }
  bool failed() const { return U_FAILURE(code_); }
  void set(UErrorCode code) { code_ = code; }

 private:
  vqicu_status* out_;
  UErrorCode code_;
};

inline UConverter* icu(vqicu_converter* c) { return reinterpret_cast<UConverter*>(c); }
inline UCollator* icu(vqicu_collator* c) { return reinterpret_cast<UCollator*>(c); }
inline const UCollator* icu(const vqicu_collator* c) {
  return reinterpret_cast<const UCollator*>(c);
}
inline UCharIterator* icu(vqicu_char_iterator* i) {
  return reinterpret_cast<UCharIterator*>(i);
}
inline const UChar* icu(const vqicu_uchar* s) { return reinterpret_cast<const UChar*>(s); }
inline UChar* icu(vqicu_uchar* s) { return reinterpret_cast<UChar*>(s); }

// Sets up an iterator over bytes read through a 256-entry UTF-16 map (iterators.cpp).
void set_sbcs_iterator(UCharIterator* iter, const char* text, int32_t length, const UChar* map);

}  // namespace vqicu

#endif  // VQICU_ICU_BRIDGE_H
