// The languages of the registry; a language's id is its position. No language has a
// platform language id on this system.
#include "utils/locale/utlocale.h"

// clang-format off
const LanguageInfo UTLocale::_language_info[UTLocale::kNumLanguages + 1] = {
    {-1, "us_english", "english", "en"},
    {-1, "french", nullptr, "fr"},
    {-1, "german", nullptr, "de"},
    {-1, "spanish", nullptr, "es"},
    {-1, "japanese", nullptr, "ja"},
    {-1, "korean", nullptr, "ko"},
    {-1, "portuguese", "portugue", "pt"},
    {-1, "italian", nullptr, "it"},
    {-1, "danish", nullptr, "da"},
    {-1, "norwegian", "norweg", "no"},
    {-1, "swedish", nullptr, "sv"},
    {-1, "finnish", nullptr, "fi"},
    {-1, "tchinese", "tradchin", "tw"},
    {-1, "chinese", "simpchin", "zh"},
    {-1, "polish", nullptr, "pl"},
    {-1, "russian", nullptr, "ru"},
    {-1, "ukrainian", nullptr, "uk"},
    {-1, "czech", nullptr, "cs"},
    {-1, "hungarian", nullptr, "hu"},
    {-1, "greek", nullptr, "el"},
    {-1, "hebrew", nullptr, "he"},
    {-1, "arabic", nullptr, "ar"},
    {-1, "turkish", nullptr, "tr"},
    {-1, "dutch", nullptr, "nl"},
    {-1, "lithuanian", nullptr, "lt"},
    {-1, "thai", nullptr, "th"},
    {0, nullptr, nullptr, nullptr},
};
// clang-format on
