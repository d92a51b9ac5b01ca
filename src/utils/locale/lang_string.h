// Numbered message texts and their formatting.
//
// A catalog (UTLangStringBase) looks a message number up in up to four resource files,
// in order, converts the text from the file's character set to the client's, and fills
// positional placeholders "%1" to "%9" from arguments given in number order. A
// placeholder may carry a type tag after its digit:
//   (none), !s!  string (null is written "???"), converted to the client charset
//   !d! int      !c! one character (passed as int)   !u! unsigned int
//   !ld! long    !lu! unsigned long (64-bit on this build)
//   !lld! long long   !llu! unsigned long long
//   !4x! unsigned int, low 16 bits as 4 hex digits   !8x! 8 hex digits
//   !at! string, never converted
// A number that the pattern does not use still takes one int-sized argument. "%%" is
// a "%"; any other "%" is copied. Every result is a terminated text cut to the
// caller's buffer (whose size counts the terminator and must be at least 1), and no
// formatting call fails: a missing message gives an empty text and 0.
//
// UTLangString is the catalog an environment owns: it opens the chosen language's file
// and the English one. A per-connection catalog is a UTLangStringBase given the
// environment's files (SetResFiles) and the connection's client charset; it must not
// outlive the environment's catalog.
//
// Lookups take no lock; converter runs take the catalog mutex. SetResFiles,
// AppendResFile, reset, Init and Fini run while no other thread uses the catalog.
#ifndef VQ_UTILS_LOCALE_LANG_STRING_H
#define VQ_UTILS_LOCALE_LANG_STRING_H

#include <cstdarg>
#include <cstdint>

#include "utils/locale/charset_converter.h"
#include "utils/locale/resource_file.h"
#include "vqtasks.h"

class UTLocale;
struct CharsetInfo;
struct LanguageInfo;

// kind 0: an errno value; kind 1: an a_db_init_error.
struct UTErrorCode {
  std::int32_t kind;
  std::int32_t code;
};

enum ls_init_return {
  LS_INIT_LOAD_ERROR = 0,
  LS_INIT_VERSION_MISMATCH = 1,
  LS_INIT_SUCCESS = 2,
  LS_INIT_NOT_FOUND = 3,
  LS_INIT_VCLOCALE_ERROR = 4,
  LS_INIT_VARIANT_NOT_FOUND = 5,
  LS_INIT_VARIANT_LOAD_ERROR = 6,
};

typedef int VSR_CONV_RET;

class UTLangStringBase {
 public:
  static constexpr int kMaxFiles = 4;
  static constexpr unsigned int kPatternBytes = 512;       // variadic forms
  static constexpr unsigned int kShortPatternBytes = 256;  // array and block forms
  static constexpr unsigned int kStagingBytes = 768;       // raw text before conversion

  explicit UTLangStringBase(UTLocale* locale);
  ~UTLangStringBase();
  UTLangStringBase(const UTLangStringBase&) = delete;
  UTLangStringBase& operator=(const UTLangStringBase&) = delete;

  // The list becomes the first n files (n is clamped to 0..4), then reset().
  void SetResFiles(UTResFile** files, int n);
  // Appends while fewer than 3 files are listed, then reset(); 1, or 0 when full.
  int AppendResFile(UTResFile* file);
  // Rebuilds both converters from the current charsets.
  void reset();

  // The text of message id in the client charset, cut to the buffer and terminated
  // (by as many zero bytes as the client charset's code unit has); returns its bytes.
  unsigned int GetString(unsigned long id, char* buf, unsigned int size);
  unsigned int FormatMiscLangStr(unsigned long id, char* buf, unsigned int size, ...);
  unsigned int VFormatMiscLangStr(unsigned long id, char* buf, unsigned int size, va_list args);
  // Arguments: consecutive NUL-terminated strings in block[0, blocklen), at most 10.
  unsigned int SQLFormatMiscLangStr(unsigned long id, char* buf, unsigned int size,
                                    const char* block, unsigned int blocklen);
  // Arguments: a null-terminated array of strings.
  unsigned int ArrayFormatMiscLangStr(unsigned long id, char* buf, unsigned int size,
                                      const char* const* args);
  // The errno text of err, with err as argument 1; returns buf.
  char* Strerror(int err, char* buf, unsigned int size);
  unsigned int FormatErrorMessage(const UTErrorCode& code, char* buf, unsigned int size, ...);
  unsigned int VFormatErrorMessage(const UTErrorCode& code, char* buf, unsigned int size,
                                   va_list args);
  unsigned int GetVSRConvRetString(VSR_CONV_RET code, char* buf, unsigned int size);
  // 1 and the full path of the first listed file that can be located; else 0 and "".
  int GetResourcePath(char* buf, unsigned int size);

  // The text of an initialisation failure without any resource file: the language's
  // built-in text (English for every language today) naming the files looked for.
  static char* GetInitErrorStr(ls_init_return code, char* buf, unsigned int size,
                               const char* language, unsigned int variant);
  // The message id of an errno value (5039 for one without its own text).
  static unsigned long GetStrerrorStringID(int err);

  // Formatting of literal patterns. A converter, when given, converts string
  // arguments of type 0 and 1 under the given mutex; the caller owns both.
  static unsigned int FormatMiscStr(char* buf, unsigned int size, const char* pattern, ...);
  static unsigned int VFormatMiscStr(char* buf, unsigned int size, const char* pattern,
                                     va_list args, CharsetConverter* converter,
                                     a_ut_safe_pthread_mutex_t* mutex);
  static unsigned int ArrayFormatMiscStr(char* buf, unsigned int size, const char* pattern,
                                         const char* const* args, CharsetConverter* converter,
                                         a_ut_safe_pthread_mutex_t* mutex);
  static unsigned int SQLFormatMiscStr(char* buf, unsigned int size, const char* pattern,
                                       const char* block, unsigned int blocklen,
                                       CharsetConverter* converter,
                                       a_ut_safe_pthread_mutex_t* mutex);

  // Charsets and files; changing a charset takes effect at the next reset().
  void set_client_charset(const CharsetInfo* charset) { client_charset_ = charset; }
  void set_argument_charset(const CharsetInfo* charset) { argument_charset_ = charset; }
  const CharsetInfo* client_charset() const { return client_charset_; }
  const CharsetInfo* argument_charset() const { return argument_charset_; }
  const CharsetInfo* file_charset() const { return file_charset_; }
  const LanguageInfo* language() const { return language_; }
  int file_count() const { return file_count_; }
  UTResFile* const* files() { return files_; }
  UTLocale* locale() const { return locale_; }

 protected:
  // Tries the listed files in order; the first non-empty text wins.
  unsigned int do_get_string(unsigned long id, char* buf, unsigned int size);
  // Width of the client charset's code unit: 1, or 2 for UTF-16.
  unsigned int client_unit_width() const;
  // Formats for a client charset with 2-byte units: the pattern and the arguments in
  // UTF-8, then the result converted to the client charset.
  // `args` is used when `array` is null.
  unsigned int FormatForWideClient(unsigned long id, char* buf, unsigned int size,
                                   unsigned int pattern_bytes, va_list* args,
                                   const char* const* array, bool use_array);

  UTLocale* locale_;
  CharsetConverter text_converter_;      // file charset -> client charset
  CharsetConverter argument_converter_;  // argument charset -> client charset
  std::int32_t file_count_ = 0;
  UTResFile* files_[kMaxFiles] = {};
  const CharsetInfo* file_charset_ = nullptr;
  const CharsetInfo* client_charset_ = nullptr;
  const CharsetInfo* argument_charset_ = nullptr;
  const LanguageInfo* language_ = nullptr;
  a_ut_safe_pthread_mutex_t mutex_{nullptr};
  // For clients with 2-byte code units: texts and arguments are formatted in UTF-8
  // and the result converted.
  CharsetConverter text_to_utf8_;      // file charset -> UTF-8
  CharsetConverter argument_to_utf8_;  // argument charset -> UTF-8
  CharsetConverter utf8_to_client_;    // UTF-8 -> client charset
};

class UTLangString : public UTLangStringBase {
 public:
  explicit UTLangString(UTLocale* locale);
  ~UTLangString();

  // Opens the language's file (the label's language, else the one kept from before,
  // else the OS language) and, for another language than English, the English file
  // after it. The client charset is the argument, else the locale's default. Returns
  // 2 when at least one file opened (or when already initialised); otherwise the
  // failure of the language's file, and the catalog holds no files.
  ls_init_return Init(const char* language, const CharsetInfo* client, unsigned int unused);
  void Fini();
  bool initialised() const { return initialised_; }

  // 3 (5 for a variant) when the file cannot be found, 0 (6) when it is found but
  // cannot be opened or is damaged, 1 when its version is from 1 to 119 (the file is
  // closed again), 2 otherwise.
  static ls_init_return OpenAndCheck(UTResFile& file, const LanguageInfo* language,
                                     unsigned int variant);

 private:
  bool initialised_ = false;
  UTVCResFile language_file_;
  UTVCResFile english_file_;
};

#endif  // VQ_UTILS_LOCALE_LANG_STRING_H
