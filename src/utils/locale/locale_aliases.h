// The locale alias table: pairs of a locale name and its canonical name, in the
// style of the X11 locale alias list, ending with a null pair. Generated at build
// time from res/locales/locale_aliases.txt.
#ifndef VQ_UTILS_LOCALE_LOCALE_ALIASES_H
#define VQ_UTILS_LOCALE_LOCALE_ALIASES_H

#include <cstddef>

struct LocaleAlias {
  const char* name;
  const char* canonical;
};

extern const LocaleAlias known_locales[];
extern const std::size_t known_locales_count;  // pairs before the null pair

#endif  // VQ_UTILS_LOCALE_LOCALE_ALIASES_H
