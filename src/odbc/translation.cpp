// Loading, unloading and calling a connection's translation library.
#include "odbc/translation.h"

#include <sqlext.h>

#include <cstdint>
#include <cstring>

#include "odbc/connect.h"
#include "odbc/diag_states.h"
#include "odbc/diagnostics.h"
#include "utils/base/library_loader.h"

namespace {

constexpr std::size_t kLibraryNameBytes = 256;  // up to 255 characters of option 106
constexpr SQLSMALLINT kErrorTextBytes = 32;     // the library's error message

// The TranslationOption text as a 32-bit option: decimal digits, clamped at the largest
// value; anything that does not start with a digit reads as 0.
std::uint32_t read_option(const char* text) {
  std::uint64_t n = 0;
  for (const char* p = text; *p >= '0' && *p <= '9'; ++p) {
    n = n * 10 + static_cast<std::uint64_t>(*p - '0');
    if (n > UINT32_MAX) return UINT32_MAX;
  }
  return static_cast<std::uint32_t>(n);
}

SQLRETURN translate(tagDBC* dbc, a_odbc_translate_fn fn, SQLSMALLINT sql_type, void* buffer,
                    SQLINTEGER length, SQLINTEGER* out_length) {
  if (out_length != nullptr) *out_length = length;
  if (dbc->translate_module == nullptr || fn == nullptr) return SQL_SUCCESS;
  if (buffer == nullptr || length < 0) return SQL_SUCCESS;
  SQLCHAR error[kErrorTextBytes] = {};
  SQLSMALLINT error_length = 0;
  SQLINTEGER produced = length;
  const std::uint32_t option = UIntOption(dbc, SQL_ATTR_TRANSLATE_OPTION);
  if (fn(option, sql_type, buffer, length, buffer, length, &produced, error, kErrorTextBytes,
         &error_length) == 0) {
    // The library's text, never read past its buffer whatever length it claims.
    const SQLINTEGER n = error_length < 0 ? 0
                         : error_length >= kErrorTextBytes
                             ? static_cast<SQLINTEGER>(strnlen(reinterpret_cast<char*>(error),
                                                               kErrorTextBytes))
                             : error_length;
    return AddSQLCustomState(dbc, kStateHY000, kStateS1000, reinterpret_cast<char*>(error), n);
  }
  // An output length beyond the room given is not believed.
  if (out_length != nullptr) *out_length = produced < 0 || produced > length ? length : produced;
  return SQL_SUCCESS;
}

}  // namespace

int InitTranslation(tagDBC* dbc) {
  FiniTranslation(dbc);
  // A name is never cut: a cut name could load another library.
  char name[kLibraryNameBytes] = {};
  const tagOPTION* lib = FindOption(dbc, SQL_ATTR_TRANSLATE_LIB, false);
  if (lib != nullptr && lib->kind == kOptText && lib->length > 0 && lib->value != 0) {
    if (lib->length >= sizeof name) return 0;
    std::memcpy(name, reinterpret_cast<const char*>(lib->value), lib->length);
  } else if (const char* attr = dbc->attrs[kSlotTranslationDLL].text; attr != nullptr) {
    if (std::strlen(attr) >= sizeof name) return 0;
    std::strcpy(name, attr);
  }
  if (name[0] == '\0') return 1;
  const char* option_text = dbc->attrs[kSlotTranslationOption].text;
  if (FindOption(dbc, SQL_ATTR_TRANSLATE_OPTION, false) == nullptr && option_text != nullptr) {
    (void)Set_option(dbc, SQL_ATTR_TRANSLATE_OPTION, read_option(option_text));
  }
  void* module = UTLoadLibrary(name);
  if (module == nullptr) return 0;
  auto* to_source =
      reinterpret_cast<a_odbc_translate_fn>(UTGetProcAddress(module, "SQLDriverToDataSource"));
  auto* to_driver =
      reinterpret_cast<a_odbc_translate_fn>(UTGetProcAddress(module, "SQLDataSourceToDriver"));
  if (to_source == nullptr || to_driver == nullptr) {
    (void)UTUnloadLibrary(module);
    return 0;
  }
  dbc->translate_module = module;
  dbc->driver_to_data_source = to_source;
  dbc->data_source_to_driver = to_driver;
  return 1;
}

void FiniTranslation(tagDBC* dbc) {
  void* module = dbc->translate_module;
  dbc->translate_module = nullptr;
  dbc->driver_to_data_source = nullptr;
  dbc->data_source_to_driver = nullptr;
  if (module != nullptr) (void)UTUnloadLibrary(module);
}

SQLRETURN TranslateToDataSource(tagDBC* dbc, SQLSMALLINT sql_type, void* buffer,
                                SQLINTEGER length, SQLINTEGER* out_length) {
  return translate(dbc, dbc->driver_to_data_source, sql_type, buffer, length, out_length);
}

SQLRETURN TranslateToDriver(tagDBC* dbc, SQLSMALLINT sql_type, void* buffer, SQLINTEGER length,
                            SQLINTEGER* out_length) {
  return translate(dbc, dbc->data_source_to_driver, sql_type, buffer, length, out_length);
}
