// The locale registry: label matching, table lookups, the choosers that read the
// environment, and the SBCS-map cache.
#include "utils/locale/utlocale.h"

#include <pthread.h>
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

#include "utils/base/memory.h"
#include "utils/locale/locale_aliases.h"
#include "utils/locale/uticu.h"

namespace {

// Environment values are read into buffers of this size (longer values are cut);
// no label or locale name comes near it.
constexpr std::size_t kEnvValueBytes = 150;

// Record positions of the defaults.
constexpr int kAsciiRecord = 0;
constexpr int kIso8859_1Record = 1;
constexpr int kUtf8Record = 53;
constexpr int kUtf16LERecord = 54;
constexpr int kUtf16BERecord = 55;

// Marks a cache slot whose map cannot be built.
const std::uint16_t kNoMapMarker[1] = {0xFFFF};
const std::uint16_t* const kNoMap = kNoMapMarker;

class MutexLock {
 public:
  explicit MutexLock(const a_ut_safe_pthread_mutex_t& m) : m_(m.handle) {
    pthread_mutex_lock(m_);
  }
  ~MutexLock() { pthread_mutex_unlock(m_); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  pthread_mutex_t* m_;
};

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_separator(char c) { return c == '-' || c == '_'; }
char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Copies a set, non-empty variable into buf (cut to its size). An empty value counts
// as unset, as it does for the C library's own locale variables.
bool read_env(const char* name, char (&buf)[kEnvValueBytes]) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return false;
  std::strncpy(buf, value, sizeof buf - 1);
  buf[sizeof buf - 1] = '\0';
  return true;
}

}  // namespace

// ---- Labels -------------------------------------------------------------------------

bool equal_charset_labels(const char* a, const char* b) {
  for (;;) {
    while (is_blank(*a) || is_separator(*a)) ++a;
    while (is_blank(*b)) ++b;
    if (is_separator(*b)) {
      while (is_separator(*b)) ++b;
      while (is_blank(*b)) ++b;
    }
    if (*a == '\0' || *b == '\0') return *a == *b;
    if (fold(*a) != fold(*b)) return false;
    ++a;
    ++b;
  }
}

bool isAcceptableUnknownCharsetLabel(const char* label) {
  if (label == nullptr) return true;
  for (const char* word : {"none", "null", "unspecified", "unknown"}) {
    if (strcasecmp(label, word) == 0) return true;
  }
  return false;
}

bool CharsetInfo::match_label(const char* label, std::uint32_t schemes) const {
  if (label == nullptr) return false;
  while (is_blank(*label) || is_separator(*label)) ++label;
  for (const CharsetLabel* e = labels; e->label != nullptr; ++e) {
    // The first-character test is a cheap filter; 0x20 is the ASCII case bit.
    if ((e->schemes & schemes) != 0 && ((e->label[0] ^ label[0]) & ~0x20) == 0 &&
        equal_charset_labels(label, e->label)) {
      return true;
    }
  }
  return false;
}

const char* CharsetInfo::safe_label(const CharsetInfo* charset, std::uint32_t scheme) {
  if (charset == nullptr) return "unknown";
  const CharsetLabel* preferred = nullptr;
  switch (scheme) {
    case kSchemeIANA:
      preferred = charset->iana_label;
      break;
    case kSchemeMIME:
      preferred = charset->mime_label;
      break;
    case kSchemeJava:
      preferred = charset->java_label;
      break;
    case kSchemeICU:
      preferred = charset->icu_label;
      break;
    case kSchemeServer:
      preferred = charset->server_label;
      break;
    default:
      break;
  }
  if (preferred != nullptr && preferred->label != nullptr) return preferred->label;
  return charset->default_label->label;
}

bool CharsetInfo::is_UTF16_explicit_endian_label(const char* label) {
  if (label == nullptr) return false;
  for (const char* name : {"UTF16BE", "UTF16LE", "UTF16PE", "UTF16OE"}) {
    if (equal_charset_labels(label, name)) return true;
  }
  return false;
}

const std::uint8_t* CharsetInfo::get_BOM(std::uint32_t* length) const {
  static const std::uint8_t kUtf16LE[] = {0xFF, 0xFE};
  static const std::uint8_t kUtf16BE[] = {0xFE, 0xFF};
  static const std::uint8_t kUtf8[] = {0xEF, 0xBB, 0xBF};
  const std::uint8_t* bom = nullptr;
  std::uint32_t n = 0;
  if (this == &UTLocale::_charset_info[kUtf16LERecord]) {
    bom = kUtf16LE;
    n = sizeof kUtf16LE;
  } else if (this == &UTLocale::_charset_info[kUtf16BERecord]) {
    bom = kUtf16BE;
    n = sizeof kUtf16BE;
  } else if (this == &UTLocale::_charset_info[kUtf8Record]) {
    bom = kUtf8;
    n = sizeof kUtf8;
  }
  if (length != nullptr) *length = n;
  return bom;
}

const char* LanguageInfo::safe_label(const LanguageInfo* language, std::uint32_t scheme) {
  if (language == nullptr) return "unknown";
  if (scheme == kSchemeMIME && language->code != nullptr) return language->code;
  return language->name;
}

// ---- Table lookups -------------------------------------------------------------------

const CharsetInfo* UTLocale::GetCharsetInfoFromLabel(const char* label, std::uint32_t schemes) {
  if (label == nullptr) return nullptr;
  for (const CharsetInfo& cs : _charset_info) {
    if (cs.match_label(label, schemes)) return &cs;
  }
  return nullptr;
}

const CharsetInfo* UTLocale::GetCharsetInfoFromMicrosoftCID(std::int32_t code_page) {
  // -1 marks the records without a code page; it names none of them.
  if (code_page == -1) return nullptr;
  for (const CharsetInfo& cs : _charset_info) {
    if (cs.ms_codepage == code_page) return &cs;
  }
  return nullptr;
}

const CharsetInfo* UTLocale::GetCharsetInfoFromCsLibCID(std::int32_t cslib_id) {
  for (const CharsetInfo& cs : _charset_info) {
    if (cs.cslib_id == cslib_id) return &cs;
  }
  return nullptr;
}

const LanguageInfo* UTLocale::GetLanguageInfoFromLabel(const char* label) {
  if (label == nullptr) return nullptr;
  for (int i = 0; i < kNumLanguages; ++i) {
    const LanguageInfo& l = _language_info[i];
    if (strcasecmp(label, l.name) == 0 ||
        (l.alternate != nullptr && strcasecmp(label, l.alternate) == 0) ||
        strcasecmp(label, l.code) == 0) {
      return &l;
    }
  }
  return nullptr;
}

const LanguageInfo* UTLocale::GetLanguageInfoFromVsrLID(std::int32_t id) {
  return (id >= 0 && id < kNumLanguages) ? &_language_info[id] : nullptr;
}

const LanguageInfo* UTLocale::GetLanguageInfoFromPlatformLID(std::int32_t id) {
  if (id == -1) return nullptr;
  for (int i = 0; i < kNumLanguages; ++i) {
    if (_language_info[i].platform_lid == id) return &_language_info[i];
  }
  return nullptr;
}

// ---- The environment's choices -------------------------------------------------------

const char* UTLocale::get_unix_locale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return nullptr;
}

const char* UTLocale::get_alias(const char* name) {
  if (name == nullptr) return nullptr;
  for (const LocaleAlias* a = known_locales; a->name != nullptr; ++a) {
    if (std::strcmp(name, a->name) == 0 || std::strcmp(name, a->canonical) == 0) {
      return a->canonical;
    }
  }
  for (const LocaleAlias* a = known_locales; a->name != nullptr; ++a) {
    if (strcasecmp(name, a->name) == 0 || strcasecmp(name, a->canonical) == 0) {
      return a->canonical;
    }
  }
  return name;
}

bool UTLocale::is_locale_supported(const char* name) {
  if (name == nullptr) return false;
  const char* canonical = get_alias(name);
  return std::strlen(canonical) == 15 && strncasecmp(canonical, "en_", 3) == 0 &&
         strcasecmp(canonical + 5, ".ISO8859-1") == 0;
}

const LanguageInfo* UTLocale::FindOSLanguage(unsigned int use_env) {
  const LanguageInfo* english = &_language_info[0];
  char buf[kEnvValueBytes];
  if (use_env && read_env("VCLANG", buf)) {
    const LanguageInfo* l = GetLanguageInfoFromLabel(buf);
    return l != nullptr ? l : english;
  }
  const char* locale = get_alias(get_unix_locale());
  if (locale == nullptr) return english;
  std::strncpy(buf, locale, sizeof buf - 1);
  buf[sizeof buf - 1] = '\0';
  if (strncasecmp(buf, "zh", 2) == 0) {
    // Chinese as written in Taiwan and Hong Kong ("zh_TW", "zh_HK") is the
    // traditional-script language.
    const bool traditional = std::strlen(buf) >= 5 && (strncasecmp(buf + 3, "tw", 2) == 0 ||
                                                       strncasecmp(buf + 3, "hk", 2) == 0);
    std::strcpy(buf, traditional ? "tw" : "zh");
  } else if (strcasecmp(buf, "C") == 0) {
    std::strcpy(buf, "en");
  }
  buf[2] = '\0';
  const LanguageInfo* l = GetLanguageInfoFromLabel(buf);
  return l != nullptr ? l : english;
}

const CharsetInfo* UTLocale::FindOSCharset(unsigned int use_env) {
  const CharsetInfo* fallback = &_charset_info[kIso8859_1Record];
  char buf[kEnvValueBytes];
  if (use_env && read_env("VCCHARSET", buf)) {
    const CharsetInfo* cs = GetCharsetInfoFromLabel(buf, kSchemeAll);
    return cs != nullptr ? cs : fallback;
  }
  const char* locale = get_alias(get_unix_locale());
  const char* dot = locale != nullptr ? std::strchr(locale, '.') : nullptr;
  if (dot != nullptr) {
    std::strncpy(buf, dot + 1, sizeof buf - 1);
    buf[sizeof buf - 1] = '\0';
    // The codeset ends where a modifier begins ("de_DE.ISO8859-15@euro").
    if (char* at = std::strchr(buf, '@')) *at = '\0';
    const CharsetInfo* cs = GetCharsetInfoFromLabel(buf, kSchemeAll);
    if (cs != nullptr) return cs;
  }
  return fallback;
}

// ---- The registry object -------------------------------------------------------------

UTLocale::UTLocale() {
  // Without a mutex the registry still answers every lookup; only its caches stay
  // empty (FindOrLoadSBCSToUTF16 gives null).
  if (ut_safe_pthread_mutex_init(&mutex_, nullptr) != 0) mutex_.handle = nullptr;
  init();
}

UTLocale::~UTLocale() {
  fini();
  ut_safe_pthread_mutex_destroy(&mutex_);
}

void UTLocale::init() {
  if (mutex_.handle != nullptr) pthread_mutex_lock(mutex_.handle);
  for (Q_link& bucket : conversion_tables_) bucket.prev = bucket.next = &bucket;
  // The Unicode library is optional: without it every entry answers "not available".
  icu_ = new (std::nothrow) UTICU();
  default_client_charset_ = FindOSCharset(1);
  os_charset_ = FindOSCharset(0);
  ascii_ = &_charset_info[kAsciiRecord];
  utf16be_ = &_charset_info[kUtf16BERecord];
  utf16le_ = &_charset_info[kUtf16LERecord];
  utf8_ = &_charset_info[kUtf8Record];
  os_language_ = FindOSLanguage(1);
  english_ = &_language_info[0];
  if (mutex_.handle != nullptr) pthread_mutex_unlock(mutex_.handle);
}

void UTLocale::fini() {
  if (mutex_.handle != nullptr) pthread_mutex_lock(mutex_.handle);
  if (std::atomic<const std::uint16_t*>* slots = sbcs_maps_.load(std::memory_order_acquire)) {
    for (int i = 0; i < kNumCharsetIds; ++i) {
      const std::uint16_t* map = slots[i].load(std::memory_order_relaxed);
      if (map != nullptr && map != kNoMap) ut_free(const_cast<std::uint16_t*>(map));
    }
    ut_free(slots);
    sbcs_maps_.store(nullptr, std::memory_order_release);
  }
  free_conversion_tables();
  delete icu_;
  icu_ = nullptr;
  if (mutex_.handle != nullptr) pthread_mutex_unlock(mutex_.handle);
}

bool UTLocale::ICUIsSupported() const {
  if (icu_ == nullptr || icu_->mismatch()) return false;
  return icu_->VSRGetICUDataset() > 1;
}

bool UTLocale::ICUVersionMismatch() const { return icu_ != nullptr && icu_->mismatch(); }

bool UTLocale::GetUnicodeUpper128(std::uint16_t* out, const CharsetInfo* charset) {
  if (out == nullptr || charset == nullptr || charset->unit_width != 1 ||
      charset->max_bytes != 1) {
    return false;
  }
  if (charset->upper128 != nullptr) {
    std::memcpy(out, charset->upper128, 128 * sizeof *out);
    return true;
  }
  // This system has no platform source of code-page maps; ICU is the last resort.
  return icu_generate_unicode_map_upper128(out, charset);
}

const std::uint16_t* UTLocale::FindOrLoadSBCSToUTF16(const CharsetInfo* charset) {
  if (charset == nullptr || charset->charset_id >= kNumCharsetIds) return nullptr;
  std::atomic<const std::uint16_t*>* slots = sbcs_maps_.load(std::memory_order_acquire);
  if (slots == nullptr) {
    if (mutex_.handle == nullptr) return nullptr;
    MutexLock lock(mutex_);
    slots = sbcs_maps_.load(std::memory_order_relaxed);
    if (slots == nullptr) {
      void* memory = ut_malloc(sizeof(std::atomic<const std::uint16_t*>) * kNumCharsetIds);
      if (memory == nullptr) return nullptr;
      slots = static_cast<std::atomic<const std::uint16_t*>*>(memory);
      for (int i = 0; i < kNumCharsetIds; ++i) {
        new (&slots[i]) std::atomic<const std::uint16_t*>(nullptr);
      }
      sbcs_maps_.store(slots, std::memory_order_release);
    }
  }
  std::atomic<const std::uint16_t*>& slot = slots[charset->charset_id];
  const std::uint16_t* map = slot.load(std::memory_order_acquire);
  if (map == nullptr) {
    MutexLock lock(mutex_);
    map = slot.load(std::memory_order_relaxed);
    if (map == nullptr) {
      auto* built = static_cast<std::uint16_t*>(ut_malloc(256 * sizeof(std::uint16_t)));
      // An allocation failure is not remembered: a later call may succeed.
      if (built == nullptr) return nullptr;
      for (std::uint16_t i = 0; i < 128; ++i) built[i] = i;
      if (GetUnicodeUpper128(built + 128, charset)) {
        map = built;
      } else {
        ut_free(built);
        map = kNoMap;
      }
      slot.store(map, std::memory_order_release);
    }
  }
  return map == kNoMap ? nullptr : map;
}
