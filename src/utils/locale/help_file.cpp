// Help files, found by the file-location rules under a name in the user's language.
#include "utils/locale/help_file.h"

#include "utils/base/file_locations.h"
#include "utils/locale/lang_string.h"
#include "utils/locale/utlocale.h"

namespace {
constexpr unsigned kNameBytes = 4097;  // a file name as long as a whole path, terminated
}  // namespace

unsigned LS_FindHelpFile(const char** names, char* out, unsigned size) {
  if (out == nullptr || size == 0) return 0;
  out[0] = '\0';
  if (names == nullptr) return 0;
  const char* code = LanguageInfo::safe_label(UTLocale::FindOSLanguage(1), 4);
  for (const char** pattern = names; *pattern != nullptr; ++pattern) {
    char name[kNameBytes];
    const unsigned length = UTLangStringBase::FormatMiscStr(name, sizeof name, *pattern, code);
    // A name cut to the buffer would name another file: it is not searched.
    if (length == 0 || length >= sizeof name - 1) continue;
    const unsigned found =
        LS_QualifyVellumFile(kLsKindConfig, name, out, size, &defaultQualifyCB);
    if (found != 0) return found;
  }
  return 0;
}
