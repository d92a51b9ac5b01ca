// Collator entry points of the Unicode stand-in: ICU's collator functions and the
// client's extensions (locale open with a second status, sort-key prefixes of UTF-16,
// single-byte and UTF-8 text, single-byte comparison).
#include <unicode/ures.h>
#include <unicode/uset.h>
#include <unicode/ustring.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "icu_bridge.h"

namespace {

static_assert(int{UCOL_FRENCH_COLLATION} == int{VQICU_COL_FRENCH_COLLATION} &&
                  int{UCOL_ALTERNATE_HANDLING} == int{VQICU_COL_ALTERNATE_HANDLING} &&
                  int{UCOL_CASE_FIRST} == int{VQICU_COL_CASE_FIRST} &&
                  int{UCOL_CASE_LEVEL} == int{VQICU_COL_CASE_LEVEL},
              "collator attributes");
static_assert(int{UCOL_PRIMARY} == int{VQICU_COL_PRIMARY} &&
                  int{UCOL_SECONDARY} == int{VQICU_COL_SECONDARY} &&
                  int{UCOL_TERTIARY} == int{VQICU_COL_TERTIARY} &&
                  int{UCOL_QUATERNARY} == int{VQICU_COL_QUATERNARY} &&
                  int{UCOL_ON} == int{VQICU_COL_ON} &&
                  int{UCOL_SHIFTED} == int{VQICU_COL_SHIFTED} &&
                  int{UCOL_NON_IGNORABLE} == int{VQICU_COL_NON_IGNORABLE} &&
                  int{UCOL_LOWER_FIRST} == int{VQICU_COL_LOWER_FIRST} &&
                  int{UCOL_UPPER_FIRST} == int{VQICU_COL_UPPER_FIRST},
              "collator attribute values");
static_assert(int{U_USING_FALLBACK_WARNING} == int{VQICU_USING_FALLBACK_WARNING} &&
                  int{U_USING_DEFAULT_WARNING} == int{VQICU_USING_DEFAULT_WARNING} &&
                  int{U_INDEX_OUTOFBOUNDS_ERROR} == int{VQICU_INDEX_OUTOFBOUNDS_ERROR},
              "collator status codes");

constexpr uint8_t kLevelSeparator = 1;  // between the levels of an ICU sort key
constexpr int32_t kStackUnits = 1024;   // text converted on the stack; longer on the heap
constexpr int32_t kStackKeyBytes = 4096;

// A UTF-16 buffer on the stack for short texts, on the heap for longer ones.
class UnitBuffer {
 public:
  explicit UnitBuffer(int32_t units)
      : data_(units <= kStackUnits ? stack_
                                   : static_cast<UChar*>(std::malloc(sizeof(UChar) * units))) {}
  ~UnitBuffer() {
    if (data_ != stack_) std::free(data_);
  }
  UnitBuffer(const UnitBuffer&) = delete;
  UnitBuffer& operator=(const UnitBuffer&) = delete;
  UChar* get() { return data_; }

 private:
  UChar stack_[kStackUnits];
  UChar* data_;
};

// The characters at which a collation unit cannot start (contraction suffixes,
// combining marks, surrogates) depend only on a collator's tailoring, and building
// them takes milliseconds, so we keep one frozen set per tailoring. A tailoring is
// known by its rules text, which for every collator opened by locale lives in ICU's
// mapped data (or is the one empty root text) for the life of the process, so its
// address identifies it. Frozen sets are safe to read from any thread.
class UnsafeSets {
 public:
  // Returns the set of coll's tailoring; *owned tells the caller to close it (only
  // when the cache is full).
  const USet* get(const UCollator* coll, bool* owned, UErrorCode& status) {
    *owned = false;
    int32_t length = 0;
    const UChar* rules = ucol_getRules(coll, &length);
    std::lock_guard<std::mutex> lock(mutex_);
    for (int i = 0; i < count_; ++i) {
      if (entries_[i].rules == rules && entries_[i].length == length) return entries_[i].set;
    }
    USet* set = uset_openEmpty();
    if (set == nullptr) {
      status = U_MEMORY_ALLOCATION_ERROR;
      return nullptr;
    }
    ucol_getUnsafeSet(coll, set, &status);
    if (U_FAILURE(status)) {
      uset_close(set);
      return nullptr;
    }
    uset_freeze(set);
    if (count_ == kMaxEntries) {
      *owned = true;
      return set;
    }
    entries_[count_++] = Entry{rules, length, set};
    return set;
  }

 private:
  static constexpr int kMaxEntries = 64;  // distinct tailorings in use at once
  struct Entry {
    const UChar* rules;
    int32_t length;
    USet* set;
  };
  std::mutex mutex_;
  Entry entries_[kMaxEntries] = {};
  int count_ = 0;
};

UnsafeSets& unsafe_sets() {
  static UnsafeSets* sets = new UnsafeSets;  // kept to the end of the process
  return *sets;
}

// Length of the start of s whose collation elements no continuation can change: the
// text before the last character that may begin a new collation unit.
int32_t stable_length(const UCollator* coll, const UChar* s, int32_t n, UErrorCode& status) {
  bool owned = false;
  const USet* unsafe = unsafe_sets().get(coll, &owned, status);
  if (unsafe == nullptr) return 0;
  int32_t end = 0;
  for (int32_t i = n; i > 0;) {
    UChar32 c;
    U16_PREV(s, 0, i, c);
    if (!uset_contains(unsafe, c)) {
      end = i;
      break;
    }
  }
  if (owned) uset_close(const_cast<USet*>(unsafe));
  return end;
}

// The sort-key prefix of s[0, n) into dst (see vqicu.h).
int32_t key_prefix(const UCollator* coll, const UChar* s, int32_t n, uint8_t* dst,
                   uint32_t dstlen, bool complete, UErrorCode& status) {
  if (coll == nullptr || (dst == nullptr && dstlen > 0)) {
    status = U_ILLEGAL_ARGUMENT_ERROR;
    return 0;
  }
  if (!complete) {
    n = stable_length(coll, s, n, status);
    if (U_FAILURE(status)) return 0;
  }
  uint8_t stack_key[kStackKeyBytes];
  uint8_t* key = stack_key;
  int32_t need = ucol_getSortKey(coll, s, n, key, kStackKeyBytes);
  if (need > kStackKeyBytes) {
    key = static_cast<uint8_t*>(std::malloc(need));
    if (key == nullptr) {
      status = U_MEMORY_ALLOCATION_ERROR;
      return 0;
    }
    need = ucol_getSortKey(coll, s, n, key, need);
  }
  if (need <= 0) {
    if (key != stack_key) std::free(key);
    status = U_INTERNAL_PROGRAM_ERROR;
    return 0;
  }
  int32_t usable = need - 1;  // without the terminating 0
  if (!complete) {
    // Only the primary weights of the stable text are final: the levels after them
    // change with every further character.
    const void* sep = std::memchr(key, kLevelSeparator, usable);
    usable = sep ? static_cast<int32_t>(static_cast<const uint8_t*>(sep) - key) : usable;
    if (static_cast<uint32_t>(usable) < dstlen) status = U_INDEX_OUTOFBOUNDS_ERROR;
  }
  const int32_t out =
      static_cast<uint32_t>(usable) < dstlen ? usable : static_cast<int32_t>(dstlen);
  if (out > 0) std::memcpy(dst, key, out);
  if (key != stack_key) std::free(key);
  return out;
}

// Start of an incomplete UTF-8 sequence at the end of s[0, n), or n.
int32_t complete_utf8_length(const char* s, int32_t n) {
  for (int32_t back = 1; back <= 4 && back <= n; ++back) {
    const auto b = static_cast<uint8_t>(s[n - back]);
    if (b < 0x80) return n;  // ASCII: complete
    if (b < 0xC0) continue;  // trail byte: keep looking for the lead
    const int32_t want = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
    return want > back ? n - back : n;
  }
  return n;
}

}  // namespace

VQICU_EXPORT vqicu_collator* ucol_open_3_4(const char* locale, vqicu_status* status) {
  vqicu::Status st(status);
  if (st.failed()) return nullptr;
  return reinterpret_cast<vqicu_collator*>(ucol_open(locale, st.get()));
}

VQICU_EXPORT void ucol_close_3_4(vqicu_collator* collator) { ucol_close(vqicu::icu(collator)); }

VQICU_EXPORT void ucol_setAttribute_3_4(vqicu_collator* collator, int32_t attribute,
                                        int32_t value, vqicu_status* status) {
  vqicu::Status st(status);
  if (st.failed()) return;
  if (collator == nullptr) return st.set(U_ILLEGAL_ARGUMENT_ERROR);
  ucol_setAttribute(vqicu::icu(collator), static_cast<UColAttribute>(attribute),
                    static_cast<UColAttributeValue>(value), st.get());
}

VQICU_EXPORT void ucol_setStrength_3_4(vqicu_collator* collator, int32_t strength) {
  if (collator)
    ucol_setStrength(vqicu::icu(collator), static_cast<UCollationStrength>(strength));
}

VQICU_EXPORT int32_t ucol_strcoll_3_4(const vqicu_collator* collator, const vqicu_uchar* a,
                                      int32_t a_length, const vqicu_uchar* b,
                                      int32_t b_length) {
  if (collator == nullptr) return -1;
  return ucol_strcoll(vqicu::icu(collator), vqicu::icu(a), a_length, vqicu::icu(b), b_length);
}

VQICU_EXPORT int32_t ucol_strcollIter_3_4(const vqicu_collator* collator,
                                          vqicu_char_iterator* a, vqicu_char_iterator* b,
                                          vqicu_status* status) {
  vqicu::Status st(status);
  if (st.failed()) return 0;
  return ucol_strcollIter(vqicu::icu(collator), vqicu::icu(a), vqicu::icu(b), st.get());
}

VQICU_EXPORT vqicu_collator* VSR_ucol_open(const char* locale, vqicu_status* status,
                                           vqicu_status* status2) {
  vqicu::Status st(status);
  if (st.failed()) return nullptr;
  UCollator* coll = ucol_open(locale, st.get());
  if (coll != nullptr && status2 != nullptr && *status2 <= 0) {
    // The locale's own data: the default warning means ICU knows nothing of it.
    UErrorCode data = U_ZERO_ERROR;
    UResourceBundle* bundle = ures_open(nullptr, locale, &data);
    ures_close(bundle);
    *status2 = data == U_USING_DEFAULT_WARNING ? U_USING_DEFAULT_WARNING : U_ZERO_ERROR;
  }
  return reinterpret_cast<vqicu_collator*>(coll);
}

VQICU_EXPORT int32_t VSR_ucol_getSortKeyPrefix(const vqicu_collator* collator,
                                               const vqicu_uchar* src, int32_t srclen,
                                               uint8_t* dst, uint32_t dstlen, int8_t complete,
                                               vqicu_status* status) {
  vqicu::Status st(status);
  if (st.failed()) return 0;
  if (srclen < 0 || (src == nullptr && srclen > 0)) {
    st.set(U_ILLEGAL_ARGUMENT_ERROR);
    return 0;
  }
  return key_prefix(vqicu::icu(collator), vqicu::icu(src), srclen, dst, dstlen, complete != 0,
                    st.code());
}

VQICU_EXPORT int32_t VSR_ucol_getSortKeyPrefixSBCS(const vqicu_collator* collator,
                                                   const char* src, int32_t srclen,
                                                   uint8_t* dst, uint32_t dstlen,
                                                   const vqicu_uchar* map, int8_t complete,
                                                   vqicu_status* status) {
  vqicu::Status st(status);
  if (st.failed()) return 0;
  if (srclen < 0 || (src == nullptr && srclen > 0) || map == nullptr) {
    st.set(U_ILLEGAL_ARGUMENT_ERROR);
    return 0;
  }
  UnitBuffer text(srclen);
  if (text.get() == nullptr) {
    st.set(U_MEMORY_ALLOCATION_ERROR);
    return 0;
  }
  for (int32_t i = 0; i < srclen; ++i) text.get()[i] = map[static_cast<uint8_t>(src[i])];
  return key_prefix(vqicu::icu(collator), text.get(), srclen, dst, dstlen, complete != 0,
                    st.code());
}

VQICU_EXPORT int32_t VSR_ucol_getSortKeyPrefixUTF8(const vqicu_collator* collator,
                                                   const char* src, int32_t srclen,
                                                   uint8_t* dst, uint32_t dstlen,
                                                   int8_t complete, vqicu_status* status) {
  vqicu::Status st(status);
  if (st.failed()) return 0;
  if (srclen < 0 || (src == nullptr && srclen > 0)) {
    st.set(U_ILLEGAL_ARGUMENT_ERROR);
    return 0;
  }
  // A sequence cut by the end of an incomplete text belongs to what follows.
  if (!complete) srclen = complete_utf8_length(src, srclen);
  UnitBuffer text(srclen);
  if (text.get() == nullptr) {
    st.set(U_MEMORY_ALLOCATION_ERROR);
    return 0;
  }
  int32_t units = 0;
  if (srclen > 0) {
    u_strFromUTF8WithSub(text.get(), srclen, &units, src, srclen, 0xFFFD, nullptr, st.get());
    if (st.code() == U_STRING_NOT_TERMINATED_WARNING) st.set(U_ZERO_ERROR);
    if (st.failed()) return 0;
  }
  return key_prefix(vqicu::icu(collator), text.get(), units, dst, dstlen, complete != 0,
                    st.code());
}

VQICU_EXPORT int32_t VSR_ucol_strcoll_sbcs(const vqicu_collator* collator,
                                           const vqicu_uchar* map, const char* a,
                                           uint32_t a_length, const char* b,
                                           uint32_t b_length) {
  if (collator == nullptr || map == nullptr || a_length > INT32_MAX || b_length > INT32_MAX ||
      (a == nullptr && a_length > 0) || (b == nullptr && b_length > 0)) {
    return -1;
  }
  UCharIterator ia;
  UCharIterator ib;
  vqicu::set_sbcs_iterator(&ia, a ? a : "", static_cast<int32_t>(a_length), vqicu::icu(map));
  vqicu::set_sbcs_iterator(&ib, b ? b : "", static_cast<int32_t>(b_length), vqicu::icu(map));
  UErrorCode st = U_ZERO_ERROR;
  const UCollationResult r = ucol_strcollIter(vqicu::icu(collator), &ia, &ib, &st);
  return U_FAILURE(st) ? -1 : r;
}
