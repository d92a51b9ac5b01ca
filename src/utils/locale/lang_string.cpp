// The message catalog: file list, lookups, conversion to the client charset, the
// errno and conversion-result messages, and the environment's catalog start-up.
#include "utils/locale/lang_string.h"

#include <pthread.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "config/conn_string.h"
#include "utils/base/bounded_strings.h"
#include "utils/base/number_conversion.h"
#include "utils/locale/char_functions.h"
#include "utils/locale/db_init_error.h"
#include "utils/locale/message_format_internal.h"
#include "utils/locale/utlocale.h"

namespace {

const CharsetInfo* Utf8Record() {
  static const CharsetInfo* utf8 = UTLocale::GetCharsetInfoFromLabel("UTF-8", kSchemeAll);
  return utf8;
}

const CharsetInfo* Utf16LeRecord() {
  static const CharsetInfo* le = UTLocale::GetCharsetInfoFromLabel("UTF-16LE", kSchemeAll);
  return le;
}

class MutexHold {
 public:
  explicit MutexHold(a_ut_safe_pthread_mutex_t* m) : m_(m) {
    if (m_->handle != nullptr) pthread_mutex_lock(m_->handle);
  }
  ~MutexHold() {
    if (m_->handle != nullptr) pthread_mutex_unlock(m_->handle);
  }
  MutexHold(const MutexHold&) = delete;
  MutexHold& operator=(const MutexHold&) = delete;

 private:
  a_ut_safe_pthread_mutex_t* m_;
};

// Writes an empty text: zero bytes for the widest code unit that fits.
unsigned int EmptyText(char* buf, unsigned int size) {
  if (size >= 1) buf[0] = '\0';
  if (size >= 2) buf[1] = '\0';
  return 0;
}

struct ErrnoMessage {
  int err;
  unsigned long id;
};

constexpr ErrnoMessage kErrnoMessages[] = {
    {0, 5017},   {2, 5031},  {5, 5026},  {7, 5018},  {8, 5032},  {9, 5020},
    {11, 18086}, {12, 5033}, {13, 5019}, {16, 5021}, {17, 5024}, {18, 5038},
    {19, 5030},  {20, 5035}, {21, 5027}, {22, 5025}, {23, 5029}, {24, 5028},
    {28, 5034},  {30, 5037}, {33, 5023}, {34, 5036}, {35, 5022}, {36, 18185},
};
constexpr unsigned long kUnknownErrnoMessage = 5039;

// The built-in texts of initialisation failures, by code; code 2 has none.
const char* const kInitErrorTextsEnglish[7] = {
    "An error occurred loading the language resource file (%1).",
    "Language resource file (%1) version mismatch.",
    "",
    "Cannot find the language resource file (%1).",
    "An error occurred parsing the VCLOCALE environment variable.",
    "Cannot find the language resource file (%1).",
    "An error occurred loading the language resource file (%1).",
};

struct InitErrorTable {
  const char* code;
  const char* const* texts;
};
constexpr InitErrorTable kInitErrorTables[] = {{"en", kInitErrorTextsEnglish}};

// Connection-string parse errors worded by the caller's catalog: empty when there is no
// catalog or no text for the message, so that the parser's English text stands in.
void FormatParseMessage(UTLangStringBase* strings, unsigned number, const char* argument,
                        char* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return;
  buffer[0] = '\0';
  if (strings == nullptr) return;
  const unsigned int room = static_cast<unsigned int>(std::min<std::size_t>(size, UINT_MAX));
  if (strings->FormatMiscLangStr(number, buffer, room, argument) == 0) buffer[0] = '\0';
}

}  // namespace

// ---- UTLangStringBase ----------------------------------------------------------------

UTLangStringBase::UTLangStringBase(UTLocale* locale)
    : locale_(locale),
      text_converter_(locale, nullptr, nullptr),
      argument_converter_(locale, nullptr, nullptr),
      text_to_utf8_(locale, nullptr, nullptr),
      argument_to_utf8_(locale, nullptr, nullptr),
      utf8_to_client_(locale, nullptr, nullptr) {
  if (ut_safe_pthread_mutex_init(&mutex_, nullptr) != 0) mutex_.handle = nullptr;
}

UTLangStringBase::~UTLangStringBase() { ut_safe_pthread_mutex_destroy(&mutex_); }

void UTLangStringBase::SetResFiles(UTResFile** files, int n) {
  if (n > kMaxFiles) n = kMaxFiles;
  if (n < 1 || files == nullptr) n = 0;
  for (int i = 0; i < kMaxFiles; ++i) files_[i] = i < n ? files[i] : nullptr;
  file_count_ = n;
  reset();
}

int UTLangStringBase::AppendResFile(UTResFile* file) {
  if (file_count_ >= 3) return 0;
  files_[file_count_++] = file;
  reset();
  return 1;
}

void UTLangStringBase::reset() {
  argument_converter_.SetEncodings(client_charset_, argument_charset_);
  argument_to_utf8_.SetEncodings(Utf8Record(), argument_charset_);
  utf8_to_client_.SetEncodings(client_charset_, Utf8Record());
  if (file_count_ == 0) {
    file_charset_ = nullptr;
    language_ = nullptr;
    text_converter_.SetEncodings(client_charset_, nullptr);
    text_to_utf8_.SetEncodings(Utf8Record(), nullptr);
    return;
  }
  UTResFile* first = nullptr;
  for (int i = 0; i < file_count_; ++i) {
    if (files_[i] != nullptr && files_[i]->is_open()) {
      first = files_[i];
      break;
    }
  }
  if (first != nullptr) {
    file_charset_ = first->charset();
    language_ = first->language();
    if (first->UTF16Supported() && client_charset_ != file_charset_ &&
        text_converter_.SetEncodings(client_charset_, Utf16LeRecord()) == 1) {
      file_charset_ = Utf16LeRecord();
      text_to_utf8_.SetEncodings(Utf8Record(), file_charset_);
      return;
    }
  }
  text_converter_.SetEncodings(client_charset_, file_charset_);
  text_to_utf8_.SetEncodings(Utf8Record(), file_charset_);
}

unsigned int UTLangStringBase::client_unit_width() const {
  return client_charset_ != nullptr && client_charset_->unit_width > 1
             ? client_charset_->unit_width
             : 1;
}

unsigned int UTLangStringBase::do_get_string(unsigned long id, char* buf, unsigned int size) {
  if (size == 0) return 0;
  buf[0] = '\0';
  const bool utf16 = file_charset_ != nullptr && file_charset_ == Utf16LeRecord();
  for (int i = 0; i < file_count_; ++i) {
    UTResFile* file = files_[i];
    if (file == nullptr || !file->is_open()) continue;
    unsigned int n;
    if (utf16) {
      // Units, then bytes; the buffer is read as 16-bit units.
      unsigned short units[kStagingBytes / 2];
      unsigned int room = size / 2 < kStagingBytes / 2 ? size / 2 : kStagingBytes / 2;
      n = file->GetStringUTF16(id, units, room) * 2;
      std::memcpy(buf, units, n);
      if (n + 1 < size) buf[n] = buf[n + 1] = '\0';
    } else {
      n = file->GetString(id, buf, size);
    }
    if (n > 0) return n;
  }
  buf[0] = '\0';
  return 0;
}

unsigned int UTLangStringBase::GetString(unsigned long id, char* buf, unsigned int size) {
  if (size == 0) return 0;
  if (text_converter_.is_identity()) return do_get_string(id, buf, size);
  buf[0] = '\0';
  const unsigned int width = client_unit_width();
  char staging[kStagingBytes];
  unsigned int raw = do_get_string(id, staging, sizeof staging);
  if (raw == 0 || size < width + 1) return EmptyText(buf, size);
  unsigned int written = 0;
  {
    MutexHold hold(&mutex_);
    text_converter_.Convert(reinterpret_cast<unsigned char*>(buf), size - width, &written,
                            reinterpret_cast<const unsigned char*>(staging), raw);
  }
  written -= written % width;
  std::memset(buf + written, 0, width);
  return written;
}

unsigned int UTLangStringBase::FormatForWideClient(unsigned long id, char* buf,
                                                   unsigned int size,
                                                   unsigned int pattern_bytes, va_list* args,
                                                   const char* const* array, bool use_array) {
  // The pattern in UTF-8.
  char raw[kStagingBytes];
  unsigned int raw_length = do_get_string(id, raw, pattern_bytes);
  if (raw_length == 0 || size < 3) return EmptyText(buf, size);
  char pattern[kPatternBytes];
  if (text_to_utf8_.is_identity()) {
    std::memcpy(pattern, raw, raw_length + 1);
  } else {
    unsigned int written = 0;
    MutexHold hold(&mutex_);
    text_to_utf8_.Convert(reinterpret_cast<unsigned char*>(pattern), sizeof pattern - 1,
                          &written, reinterpret_cast<const unsigned char*>(raw), raw_length);
    pattern[written] = '\0';
  }
  // The text in UTF-8, string arguments converted to UTF-8 when their charset is set.
  char text[kStagingBytes];
  vq_msgfmt::ArgumentSource source;
  source.args = args;
  source.array = array;
  source.use_array = use_array;
  unsigned int length = vq_msgfmt::FormatPattern(
      text, sizeof text, pattern, source,
      argument_charset_ != nullptr ? &argument_to_utf8_ : nullptr, &mutex_);
  // Then the client's form, cut at a whole unit and ended by a zero unit.
  const unsigned int width = client_unit_width();
  unsigned int written = 0;
  {
    MutexHold hold(&mutex_);
    utf8_to_client_.Convert(reinterpret_cast<unsigned char*>(buf), size - width, &written,
                            reinterpret_cast<const unsigned char*>(text), length);
  }
  written -= written % width;
  std::memset(buf + written, 0, width);
  return written;
}

unsigned int UTLangStringBase::FormatMiscLangStr(unsigned long id, char* buf, unsigned int size,
                                                 ...) {
  va_list args;
  va_start(args, size);
  unsigned int n = VFormatMiscLangStr(id, buf, size, args);
  va_end(args);
  return n;
}

unsigned int UTLangStringBase::VFormatMiscLangStr(unsigned long id, char* buf,
                                                  unsigned int size, va_list args) {
  if (buf == nullptr || size == 0) return 0;
  va_list copy;
  va_copy(copy, args);
  unsigned int n;
  if (client_unit_width() > 1) {
    n = FormatForWideClient(id, buf, size, kPatternBytes, &copy, nullptr, false);
  } else {
    char pattern[kPatternBytes];
    if (GetString(id, pattern, sizeof pattern) == 0) {
      n = EmptyText(buf, size);
    } else {
      n = VFormatMiscStr(buf, size, pattern, copy,
                         argument_charset_ != nullptr ? &argument_converter_ : nullptr,
                         &mutex_);
    }
  }
  va_end(copy);
  return n;
}

unsigned int UTLangStringBase::ArrayFormatMiscLangStr(unsigned long id, char* buf,
                                                      unsigned int size,
                                                      const char* const* args) {
  if (buf == nullptr || size == 0) return 0;
  if (client_unit_width() > 1) {
    return FormatForWideClient(id, buf, size, kShortPatternBytes, nullptr, args, true);
  }
  char pattern[kShortPatternBytes];
  if (GetString(id, pattern, sizeof pattern) == 0) return EmptyText(buf, size);
  return ArrayFormatMiscStr(buf, size, pattern, args,
                            argument_charset_ != nullptr ? &argument_converter_ : nullptr,
                            &mutex_);
}

unsigned int UTLangStringBase::SQLFormatMiscLangStr(unsigned long id, char* buf,
                                                    unsigned int size, const char* block,
                                                    unsigned int blocklen) {
  const char* array[11];
  vq_msgfmt::SplitBlock(block, blocklen, array);
  return ArrayFormatMiscLangStr(id, buf, size, array);
}

unsigned long UTLangStringBase::GetStrerrorStringID(int err) {
  for (const ErrnoMessage& m : kErrnoMessages) {
    if (m.err == err) return m.id;
  }
  return kUnknownErrnoMessage;
}

char* UTLangStringBase::Strerror(int err, char* buf, unsigned int size) {
  char number[kU64TextBytes];
  i64toa(err, number, 10);
  FormatMiscLangStr(GetStrerrorStringID(err), buf, size, number);
  return buf;
}

unsigned int UTLangStringBase::FormatErrorMessage(const UTErrorCode& code, char* buf,
                                                  unsigned int size, ...) {
  va_list args;
  va_start(args, size);
  unsigned int n = VFormatErrorMessage(code, buf, size, args);
  va_end(args);
  return n;
}

unsigned int UTLangStringBase::VFormatErrorMessage(const UTErrorCode& code, char* buf,
                                                   unsigned int size, va_list args) {
  if (buf == nullptr || size == 0) return 0;
  unsigned long id;
  if (code.kind == 1 && MapADBInitError(code.code, id)) {
    return VFormatMiscLangStr(id, buf, size, args);
  }
  if (code.kind == 0 || code.kind == 1) {
    Strerror(code.code, buf, size);
    return static_cast<unsigned int>(std::strlen(buf));
  }
  return EmptyText(buf, size);
}

unsigned int UTLangStringBase::GetVSRConvRetString(VSR_CONV_RET code, char* buf,
                                                   unsigned int size) {
  unsigned long id;
  switch (code) {
    case 1:
      id = 13990;
      break;
    case 2:
      id = 13993;
      break;
    case 5:
      id = 13994;
      break;
    case 6:
      id = 13998;
      break;
    case 7:
      id = 14000;
      break;
    default:
      id = 14001;
      break;
  }
  char number[kU64TextBytes];
  i64toa(code, number, 10);
  return FormatMiscLangStr(id, buf, size, number);
}

int UTLangStringBase::GetResourcePath(char* buf, unsigned int size) {
  for (int i = 0; i < file_count_; ++i) {
    UTResFile* file = files_[i];
    if (file == nullptr || file->language() == nullptr) continue;
    if (file->find_resource_file(buf, size, file->language()->code, 0)) return 1;
  }
  if (size > 0) buf[0] = '\0';
  return 0;
}

char* UTLangStringBase::GetInitErrorStr(ls_init_return code, char* buf, unsigned int size,
                                        const char* language, unsigned int variant) {
  if (buf == nullptr || size == 0) return buf;
  buf[0] = '\0';
  const LanguageInfo* lang = language != nullptr ? UTLocale::GetLanguageInfoFromLabel(language)
                                                 : UTLocale::FindOSLanguage(1);
  const LanguageInfo* english = UTLocale::GetLanguageInfoFromLabel("en");
  if (lang == nullptr) lang = english;
  if (code < 0 || code > 6 || code == LS_INIT_SUCCESS) return buf;

  const InitErrorTable* table = &kInitErrorTables[0];
  for (const InitErrorTable& t : kInitErrorTables) {
    if (lang->code != nullptr && ut_stricmp(t.code, lang->code) == 0) table = &t;
  }
  char files[2 * vq_resfile::kBaseNameBytes + 2];
  GetResourceFileBaseName(files, lang->code, variant);
  if (lang != english && english != nullptr) {
    std::size_t len = std::strlen(files);
    std::memcpy(files + len, ", ", 3);
    GetResourceFileBaseName(files + len + 2, english->code, variant);
  }
  unsigned int n = FormatMiscStr(buf, size, table->texts[code], files);
  if (table != &kInitErrorTables[0] && n + 2 < size) {
    buf[n] = '\n';
    FormatMiscStr(buf + n + 1, size - n - 1, kInitErrorTables[0].texts[code], files);
  }
  return buf;
}

// ---- UTLangString --------------------------------------------------------------------

UTLangString::UTLangString(UTLocale* locale) : UTLangStringBase(locale) {}

UTLangString::~UTLangString() {
  language_file_.Close();
  english_file_.Close();
}

ls_init_return UTLangString::OpenAndCheck(UTResFile& file, const LanguageInfo* language,
                                          unsigned int variant) {
  if (!file.Open(language, variant)) {
    if (file.last_open_found_file()) {
      return variant == 0 ? LS_INIT_LOAD_ERROR : LS_INIT_VARIANT_LOAD_ERROR;
    }
    return variant == 0 ? LS_INIT_NOT_FOUND : LS_INIT_VARIANT_NOT_FOUND;
  }
  long version = file.GetVersion();
  if (version >= 1 && version <= vq_resfile::kLastMismatchedVersion) {
    file.Close();
    return LS_INIT_VERSION_MISMATCH;
  }
  return LS_INIT_SUCCESS;
}

ls_init_return UTLangString::Init(const char* language, const CharsetInfo* client,
                                  unsigned int) {
  if (initialised_) return LS_INIT_SUCCESS;
  LSCharFunctions.init();
  vq::config::SetParseMessageFormatter(&FormatParseMessage);
  const LanguageInfo* lang = nullptr;
  if (language != nullptr) lang = UTLocale::GetLanguageInfoFromLabel(language);
  if (lang == nullptr) lang = language_;
  if (lang == nullptr && locale_ != nullptr) lang = locale_->os_language();
  if (lang == nullptr) lang = UTLocale::FindOSLanguage(1);
  language_ = lang;
  const CharsetInfo* client_charset = client;
  if (client_charset == nullptr && locale_ != nullptr) {
    client_charset = locale_->default_client_charset();
  }

  file_count_ = 0;
  ls_init_return first = OpenAndCheck(language_file_, lang, 0);
  if (first == LS_INIT_SUCCESS) files_[file_count_++] = &language_file_;

  const LanguageInfo* english = UTLocale::GetLanguageInfoFromLabel("en");
  if (lang != english) {
    // The English file follows the language's own: texts missing from a translation
    // come out in English.
    if (OpenAndCheck(english_file_, english, 0) == LS_INIT_SUCCESS) {
      files_[file_count_++] = &english_file_;
      client_charset_ = client_charset;
      reset();
      initialised_ = true;
      return LS_INIT_SUCCESS;
    }
  }
  if (first != LS_INIT_SUCCESS) {
    Fini();
    return first;
  }
  client_charset_ = client_charset;
  reset();
  initialised_ = true;
  return LS_INIT_SUCCESS;
}

void UTLangString::Fini() {
  language_file_.Close();
  english_file_.Close();
  for (UTResFile*& f : files_) f = nullptr;
  file_count_ = 0;
  initialised_ = false;
  const LanguageInfo* requested = language_;
  reset();
  language_ = requested;  // a later Init without a label asks for it again
}
