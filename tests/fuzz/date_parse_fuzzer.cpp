// Fuzz target of the date and time parsers: any text, free-form in each date order and
// against any picture, is rejected or gives a valid date and time.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "utils/etc/date_parse.h"

namespace {
void Check(bool condition) {
  if (!condition) std::abort();
}

int DaysIn(unsigned month, unsigned year) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 1 && leap ? 29 : kDays[month];
}

void CheckTime(const a_time& t) {
  Check(t.month <= 11);
  Check(t.day >= 1 && t.day <= DaysIn(t.month, t.year));
  Check(t.weekday <= 6);
  Check(t.hour <= 23 && t.minute <= 59 && t.second <= 59);
  Check(t.microsecond <= 999999);
}
// A second language whose lists end early, with names that share their starts, a
// one-letter name and names of several bytes a character.
const a_jdate_langstrings kOther = {
    {"Sonntag", "Montag", "Dienstag", nullptr},
    {"So", "Mo", "Di", "M", nullptr},
    {"Januar", "Februar", "M\xC3\xA4rz", "Mai", "Mai", nullptr},
    {"Jan", "Feb", "M\xC3\xA4r", "J", nullptr},
    {"vormittags", "nachmittags", "vorm.", nullptr},
};
const a_jdate_name_sets kNoNames = {0, {nullptr, nullptr, nullptr}};
const a_jdate_name_sets kBoth = {2, {&kOther, &JDT_english_langstrings, nullptr}};
const a_jdate_name_sets* const kSets[] = {nullptr, &kNoNames, &kBoth};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const unsigned pivot = data[0];
  const a_jdate_name_sets* sets = kSets[data[0] % 3];
  // "picture" zero "text": the whole input is also parsed free-form.
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  const char* picture = input.c_str();
  const std::size_t cut = std::strlen(picture);
  const char* text = cut < input.size() ? picture + cut + 1 : picture;

  for (int order : {kDateOrderDayMonthYear, kDateOrderYearMonthDay, kDateOrderMonthDayYear}) {
    a_time out{};
    short zone = 0;
    if (strtotime_with_century_ex(text, &out, order, nullptr, pivot, sets, &zone) == 1) {
      CheckTime(out);
      Check(zone >= -100 * 60 && zone <= 100 * 60);
    }
    a_time whole{};
    (void)strtotime_with_century_ex(picture, &whole, order, nullptr, pivot, sets, nullptr);
  }
  a_time out{};
  if (strtotimefmt_with_century_ex(text, &out, picture, nullptr, pivot, sets) == 1) {
    CheckTime(out);
  }
  const int day = strtoweekday_ex(text, nullptr, sets);
  Check(day >= -1 && day <= 6);
  return 0;
}
