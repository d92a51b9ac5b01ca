// The picture parser, the free-form parser and day names to weekdays.
#include "utils/etc/date_parse.h"

#include <cstdint>
#include <cstring>

#include "utils/etc/date_format.h"
#include "utils/etc/date_text.h"
#include "utils/etc/jdate_internal.h"

namespace {

using vq::etc::DateCharLength;

constexpr int kMonthDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

int YearLength(int year) { return vq::etc::IsLeapYear(year) ? 366 : 365; }

int MonthLength(int month, int year) {
  if (month == 1) return vq::etc::IsLeapYear(year) ? 29 : 28;
  return kMonthDays[month];
}

int PivotYear(int v, unsigned pivot) {
  return static_cast<unsigned>(v) >= pivot ? 1900 + v : 2000 + v;
}

// Reads at most max_digits digits; the count read.
int ReadDigits(const char*& t, int max_digits, int* value) {
  int n = 0;
  int v = 0;
  while (n < max_digits && IsDigit(*t)) {
    v = v * 10 + (*t - '0');
    ++t;
    ++n;
  }
  *value = v;
  return n;
}

// Bytes of the first `chars` characters of t (fewer when the text ends first).
std::size_t BytesOfChars(const UTCollationImplementationBase* coll, const char* t,
                         std::size_t chars) {
  const char* end = t + std::strlen(t);
  const char* p = t;
  for (std::size_t i = 0; i < chars && p < end; ++i) p += DateCharLength(coll, p, end);
  return static_cast<std::size_t>(p - t);
}

const a_jdate_name_sets kEnglishOnly = {1, {&JDT_english_langstrings, nullptr, nullptr}};

int SetCount(const a_jdate_name_sets* sets) {
  if (sets->count < 0) return 0;
  return sets->count > kMaxNameSets ? kMaxNameSets : sets->count;
}

enum class Names { kMonths, kDays, kMorning, kAfternoon };

// The first name of the kind that matches text[0, len) in any set: its index and the
// bytes matched. Indicators are tried short before long.
bool MatchNames(const a_jdate_name_sets* sets, Names kind, const char* text, std::size_t len,
                const UTCollationImplementationBase* coll, std::size_t* matched, int* index) {
  const int count = SetCount(sets);
  for (int s = 0; s < count; ++s) {
    const a_jdate_langstrings* set = sets->sets[s];
    if (set == nullptr) continue;
    switch (kind) {
      case Names::kMonths:
        if (match_date_name(set->months, text, len, matched, index, coll) ||
            match_date_name(set->short_months, text, len, matched, index, coll))
          return true;
        break;
      case Names::kDays:
        if (match_date_name(set->days, text, len, matched, index, coll) ||
            match_date_name(set->short_days, text, len, matched, index, coll))
          return true;
        break;
      case Names::kMorning:
      case Names::kAfternoon: {
        const bool am = kind == Names::kMorning;
        const char* const shorter[2] = {set->indicators[am ? kShortMorning : kShortAfternoon],
                                        nullptr};
        const char* const longer[2] = {set->indicators[am ? kLongMorning : kLongAfternoon],
                                       nullptr};
        if (match_date_name(shorter, text, len, matched, index, coll) ||
            match_date_name(longer, text, len, matched, index, coll))
          return true;
        break;
      }
    }
  }
  return false;
}

// Fills weekday and day of year from the date.
void CompleteDate(a_time* out) {
  a_time d{};
  jdatetotime(jday(out->month + 1u, out->day, out->year), &d);
  out->weekday = d.weekday;
  out->yearday = d.yearday;
}

// ---------------------------------------------------------------- picture parser

// The picture from HH on may hold only AA, NN once, SS once after NN, SSS or SSSSSS once
// after SS, single "." or ":" and blanks.
bool TimePictureIsValid(const char* p) {
  bool nn = false, ss = false, frac = false;
  bool last_sep = false;
  while (*p != '\0') {
    if (IsBlank(*p)) {
      ++p;
      continue;
    }
    if (*p == '.' || *p == ':') {
      if (last_sep) return false;
      last_sep = true;
      ++p;
      continue;
    }
    last_sep = false;
    const char letter = AsciiUpper(*p);
    int w = 0;
    while (AsciiUpper(p[w]) == letter) ++w;
    p += w;
    if (letter == 'A' && w == 2) continue;
    if (letter == 'N' && w == 2 && !nn) {
      nn = true;
    } else if (letter == 'S' && w == 2 && nn && !ss) {
      ss = true;
    } else if (letter == 'S' && (w == 3 || w == 6) && ss && !frac) {
      frac = true;
    } else {
      return false;
    }
  }
  return true;
}

void SkipBlanks(const char*& t) {
  while (IsBlank(*t)) ++t;
}

// The time group of the text: hour, then minute, second and fraction each after ":" or
// ".", then an optional indicator.
bool ReadTimeGroup(const char*& t, const UTCollationImplementationBase* coll,
                   const a_jdate_name_sets* sets, a_time* out) {
  int hour = 0, minute = 0, second = 0, value = 0;
  std::uint32_t micro = 0;
  SkipBlanks(t);
  if (ReadDigits(t, 2, &hour) == 0) return false;
  for (int field = 0; field < 3; ++field) {
    const char* save = t;
    SkipBlanks(t);
    if (*t != ':' && *t != '.') {
      t = save;
      break;
    }
    ++t;
    SkipBlanks(t);
    const int n = ReadDigits(t, field < 2 ? 2 : 6, &value);
    if (n == 0) return false;
    if (field == 0) {
      minute = value;
    } else if (field == 1) {
      second = value;
    } else {
      micro = static_cast<std::uint32_t>(value);
      for (int i = n; i < 6; ++i) micro *= 10;
    }
  }
  SkipBlanks(t);
  const std::size_t two = BytesOfChars(coll, t, 2);
  std::size_t m = 0;
  int idx = 0;
  int indicator = 0;  // 1 morning, 2 afternoon
  if (MatchNames(sets, Names::kMorning, t, two, coll, &m, &idx)) {
    t += two;
    indicator = 1;
  } else if (*t == 'a' || *t == 'A') {
    ++t;
    indicator = 1;
  } else if (MatchNames(sets, Names::kAfternoon, t, two, coll, &m, &idx)) {
    t += two;
    indicator = 2;
  } else if (*t == 'p' || *t == 'P') {
    ++t;
    indicator = 2;
  }
  if (indicator == 1) {
    if (hour > 12) return false;
    if (hour == 12) hour = 0;
  } else if (indicator == 2 && hour < 12) {
    hour += 12;
  }
  if (hour > 23 || minute > 59 || second > 59) return false;
  out->hour = static_cast<std::uint8_t>(hour);
  out->minute = static_cast<std::uint8_t>(minute);
  out->second = static_cast<std::uint8_t>(second);
  out->microsecond = micro;
  return true;
}

}  // namespace

extern "C" {

int strtotimefmt_with_century_ex(const char* text, a_time* out, const char* picture,
                                 const UTCollationImplementationBase* coll,
                                 unsigned century_pivot, const a_jdate_name_sets* sets) {
  if (text == nullptr || out == nullptr || picture == nullptr) return 0;
  if (sets == nullptr) sets = &kEnglishOnly;
  *out = a_time{};
  int year = -1, month = -1, day = -1;
  bool had_time = false;
  const char* t = text;
  const char* p = picture;
  while (*p != '\0') {
    SkipBlanks(t);
    if (IsBlank(*p)) {
      ++p;
      continue;
    }
    if (*p == '-' || *p == '.' || *p == '/') {
      while (*p == '-' || *p == '.' || *p == '/') {
        if (*t != '-' && *t != '.' && *t != '/') return 0;
        ++p;
        ++t;
      }
      continue;
    }
    const char c = *p;
    const char letter = AsciiUpper(c);
    int w = 0;
    const bool is_letter = letter >= 'A' && letter <= 'Z';
    while (p[w] != '\0' && (is_letter ? AsciiUpper(p[w]) == letter : p[w] == c)) ++w;
    int v = 0;
    if (letter == 'D' && w == 2) {
      if (day >= 0) return 0;
      ReadDigits(t, 2, &v);
      day = v;
    } else if (letter == 'M' && w == 2) {
      if (month >= 0) return 0;
      month = ReadDigits(t, 2, &v) == 0 ? 99 : v - 1;
      if (month < 0) month = 99;  // "00"
    } else if (letter == 'M' && w == 3) {
      if (month >= 0) return 0;
      const std::size_t three = BytesOfChars(coll, t, 3);
      std::size_t m = 0;
      int idx = 0;
      if (!MatchNames(sets, Names::kMonths, t, three, coll, &m, &idx)) return 0;
      month = idx;
      t += three;
    } else if (letter == 'Y' && (w == 2 || w == 4)) {
      if (year >= 0) return 0;
      if (ReadDigits(t, w, &v) == 0) return 0;
      year = w == 2 ? PivotYear(v, century_pivot) : v;
    } else if (letter == 'H' && w == 2) {
      if (!TimePictureIsValid(p + w)) return 0;
      if (!ReadTimeGroup(t, coll, sets, out)) return 0;
      had_time = true;
      break;
    } else if (letter == 'A' || letter == 'N' || letter == 'S') {
      return 0;
    } else {
      for (int i = 0; i < w; ++i, ++t) {
        if (is_letter ? AsciiUpper(*t) != letter : *t != c) return 0;
      }
    }
    p += w;
  }
  (void)had_time;
  SkipBlanks(t);
  if (*t != '\0') return 0;

  if (year < 0 || month < 0 || day < 0) {
    a_time today{};
    timetoday(&today);
    if (year < 0) year = today.year;
    if (month < 0) month = today.month;
    if (day < 0) day = today.day;
  }
  if (month > 11) return 0;
  if (day < 1 || day > MonthLength(month, year)) return 0;
  out->year = static_cast<std::uint16_t>(year > 0xFFFF ? 0 : year);
  out->month = static_cast<std::uint8_t>(month);
  out->day = static_cast<std::uint8_t>(day);
  if (!validDatetime(out)) return 0;
  CompleteDate(out);
  return 1;
}

int strtoweekday_ex(const char* text, const UTCollationImplementationBase* coll,
                    const a_jdate_name_sets* sets) {
  if (text == nullptr || sets == nullptr) return -1;
  const std::size_t len = std::strlen(text);
  const int count = SetCount(sets);
  for (int s = 0; s < count; ++s) {
    const a_jdate_langstrings* set = sets->sets[s];
    if (set == nullptr) continue;
    std::size_t m = 0;
    int idx = 0;
    if (match_date_name(set->days, text, len, &m, &idx, coll) ||
        match_date_name(set->short_days, text, len, &m, &idx, coll))
      return idx;
  }
  return -1;
}

}  // extern "C"

// ---------------------------------------------------------------- free-form parser

namespace {

// The state of one free-form parse. Fields hold -1 while unset.
class FreeForm {
 public:
  FreeForm(int order, const UTCollationImplementationBase* coll, const a_jdate_name_sets* sets)
      : order_(order), coll_(coll), sets_(sets) {}

  bool Parse(const char* text);
  // Completes the result; false when the text does not give a valid date and time.
  bool Finish(unsigned pivot, a_time* out, short* zone_minutes);

 private:
  enum class Token { kStart, kSeparator, kNumber, kTimeNumber, kWord, kZoneSign };

  bool Number(int digits, std::int64_t value, char next);
  bool DateNumber(int digits, std::int64_t value);
  bool TimeNumber(int digits, std::int64_t value, char next);
  bool ZoneNumber(int digits, std::int64_t value);
  bool Fraction(int digits, std::int64_t value);
  bool Week(int digits, std::int64_t value);
  bool Word(const char*& t, const char* end);
  bool Separator(char c);
  bool ZoneSign(int sign);
  void UpdateComplete() {
    if (year_ >= 0 && month_ >= 0 && day_ >= 0) complete_ = true;
  }
  bool DateIsAlphaAt(const char* t, const char* end) const {
    return vq::etc::DateIsAlpha(coll_, t, end);
  }
  bool Morning();
  bool Afternoon();
  bool NegativeZone();
  // The separator just before the current token, or 0 when it was not a separator.
  char SeparatorBefore() const {
    return (last_ == Token::kSeparator || last_ == Token::kZoneSign) ? last_sep_ : '\0';
  }

  int order_;
  const UTCollationImplementationBase* coll_;
  const a_jdate_name_sets* sets_;

  int year_ = -1, month_ = -1, day_ = -1;
  bool year_two_digit_ = false;   // the year was given as 1-2 digits
  bool four_digit_year_ = false;  // a four-digit year was seen
  bool month_by_name_ = false;
  bool complete_ = false;  // the date is complete
  int ordinal_ = -1;       // day of year from 1 (ordinal and week dates)
  bool week_mode_ = false;
  int week_ = -1, iso_weekday_ = -1;
  bool iso_weekday_given_ = false;
  int weekday_ = -1;
  int hour_ = -1, minute_ = -1, second_ = -1;
  std::uint32_t micro_ = 0;
  bool time_open_ = false, time_seen_ = false, fraction_done_ = false;
  int zone_sign_ = 0;
  bool zone_open_ = false;
  int zone_hours_ = -1, zone_mins_ = -1;
  bool parsed_any_ = false;
  Token last_ = Token::kStart;
  char last_sep_ = '\0';
};

bool FreeForm::Parse(const char* text) {
  const char* t = text;
  const char* const end = text + std::strlen(text);
  while (t < end) {
    const char c = *t;
    if (IsBlank(c)) {
      ++t;
      continue;
    }
    if (IsDigit(c)) {
      int n = 0;
      std::int64_t v = 0;
      while (n < 9 && IsDigit(t[n])) {
        v = v * 10 + (t[n] - '0');
        ++n;
      }
      t += n;
      const char* after = t;
      while (IsBlank(*after)) ++after;
      if (!Number(n, v, *after)) return false;
      continue;
    }
    if (c == 'W' && IsDigit(t[1])) {
      ++t;
      int n = 0;
      std::int64_t v = 0;
      while (n < 9 && IsDigit(t[n])) {
        v = v * 10 + (t[n] - '0');
        ++n;
      }
      t += n;
      if (!Week(n, v)) return false;
      continue;
    }
    if (c == '+') {
      ++t;
      if (!ZoneSign(1)) return false;
      continue;
    }
    if (c == 'Z') {
      const char* after = t + 1;
      while (IsBlank(*after)) ++after;
      if (after == end) {
        // A final Z: the zone is UTC.
        if (zone_sign_ != 0) return false;
        zone_sign_ = 1;
        zone_hours_ = 0;
        zone_mins_ = 0;
        zone_open_ = false;
        time_open_ = false;
        last_ = Token::kZoneSign;
        last_sep_ = 'Z';
        t = after;
        continue;
      }
    }
    if (DateIsAlphaAt(t, end)) {
      if (c == 'T' && !DateIsAlphaAt(t + 1, end)) {
        ++t;
        if (!Separator('T')) return false;
        continue;
      }
      if (!Word(t, end)) return false;
      continue;
    }
    const std::size_t n = DateCharLength(coll_, t, end);
    if (!Separator(n == 1 ? c : '\x01')) return false;
    t += n;
  }
  return true;
}

bool FreeForm::Number(int digits, std::int64_t value, char next) {
  parsed_any_ = true;
  if (zone_open_) return ZoneNumber(digits, value);
  if (time_open_) return TimeNumber(digits, value, next);
  if (!complete_ && next != ':') return DateNumber(digits, value);
  if (time_seen_) return false;  // a second time
  time_open_ = true;
  time_seen_ = true;
  return TimeNumber(digits, value, next);
}

bool FreeForm::DateNumber(int digits, std::int64_t value) {
  const int v = static_cast<int>(value);
  last_ = Token::kNumber;
  if (week_mode_ && !iso_weekday_given_) {
    if (digits != 1 || v < 1 || v > 7) return false;
    iso_weekday_ = v;
    iso_weekday_given_ = true;
    complete_ = true;
    return true;
  }
  switch (digits) {
    case 1:
    case 2:
      if (month_by_name_ && day_ < 0) {
        day_ = v;
      } else {
        enum { kY, kM, kD };
        int seq[3] = {kD, kM, kY};
        if (order_ == kDateOrderMonthDayYear || four_digit_year_) {
          seq[0] = kM;
          seq[1] = kD;
          seq[2] = kY;
        } else if (order_ == kDateOrderYearMonthDay) {
          seq[0] = kY;
          seq[1] = kM;
          seq[2] = kD;
        }
        bool filled = false;
        for (int field : seq) {
          int* slot = field == kY ? &year_ : (field == kM ? &month_ : &day_);
          if (*slot >= 0) continue;
          *slot = v;
          if (field == kY) year_two_digit_ = true;
          filled = true;
          break;
        }
        if (!filled) return false;
      }
      break;
    case 3:
      if (!four_digit_year_ || month_ >= 0 || day_ >= 0 || ordinal_ >= 0) return false;
      ordinal_ = v;
      complete_ = true;
      break;
    case 4:
      if (four_digit_year_) return false;
      if (year_ >= 0) {
        // A short number taken as the year was the day: "5 Jan 2024" in year-first order.
        if (!month_by_name_ || day_ >= 0 || year_ > 31) return false;
        day_ = year_;
      }
      year_ = v;
      year_two_digit_ = false;
      four_digit_year_ = true;
      break;
    case 6:
    case 7:
    case 8:
      if (year_ >= 0 || month_ >= 0 || day_ >= 0) return false;
      if (digits == 7) {
        year_ = v / 1000;
        ordinal_ = v % 1000;
      } else {
        year_ = v / 10000;
        month_ = (v / 100) % 100;
        day_ = v % 100;
      }
      year_two_digit_ = digits == 6;
      four_digit_year_ = digits != 6;
      complete_ = true;
      break;
    default:
      return false;
  }
  UpdateComplete();
  return true;
}

bool FreeForm::TimeNumber(int digits, std::int64_t value, char next) {
  const int v = static_cast<int>(value);
  if (hour_ < 0) {
    if (digits <= 2) {
      hour_ = v;
    } else if (digits == 4) {
      hour_ = v / 100;
      minute_ = v % 100;
    } else if (digits == 6) {
      hour_ = v / 10000;
      minute_ = (v / 100) % 100;
      second_ = v % 100;
    } else {
      return false;
    }
  } else if (minute_ < 0 && digits <= 2) {
    minute_ = v;
  } else if (minute_ >= 0 && second_ < 0 && digits <= 2) {
    second_ = v;
  } else if (minute_ >= 0 && second_ >= 0) {
    const char sep = SeparatorBefore();
    if (fraction_done_ || (sep != '.' && sep != ',' && sep != ':')) return false;
    if (!Fraction(digits, value)) return false;
    time_open_ = false;
  } else {
    return false;
  }
  if (next != ':' && next != '.' && next != ',') time_open_ = false;
  last_ = Token::kTimeNumber;
  return true;
}

bool FreeForm::Fraction(int digits, std::int64_t value) {
  for (int i = digits; i > 6; --i) value /= 10;
  for (int i = digits; i < 6; ++i) value *= 10;
  micro_ = static_cast<std::uint32_t>(value);
  fraction_done_ = true;
  return true;
}

bool FreeForm::ZoneNumber(int digits, std::int64_t value) {
  const char sep = SeparatorBefore();
  if (sep != '+' && sep != '-' && sep != ':' && sep != '.') return false;
  const int v = static_cast<int>(value);
  if (digits <= 2) {
    if (zone_hours_ < 0) {
      if (v > 14) return false;
      zone_hours_ = v;
    } else if (zone_mins_ < 0) {
      if (v > 59) return false;
      zone_mins_ = v;
      zone_open_ = false;
    } else {
      return false;
    }
  } else if (digits <= 4) {
    if (zone_hours_ >= 0 || v / 100 > 14 || v % 100 > 59) return false;
    zone_hours_ = v / 100;
    zone_mins_ = v % 100;
    zone_open_ = false;
  } else {
    return false;
  }
  last_ = Token::kNumber;
  return true;
}

bool FreeForm::Week(int digits, std::int64_t value) {
  parsed_any_ = true;
  if (year_ < 0 || week_mode_) return false;
  const int v = static_cast<int>(value);
  if (digits == 3) {
    week_ = v / 10;
    iso_weekday_ = v % 10;
    iso_weekday_given_ = true;
    complete_ = true;
  } else if (digits == 1 || digits == 2) {
    week_ = v;
    iso_weekday_ = 1;
  } else {
    return false;
  }
  if (week_ < 1 || week_ > 53 || iso_weekday_ < 1 || iso_weekday_ > 7) return false;
  week_mode_ = true;
  last_ = Token::kNumber;
  return true;
}

bool FreeForm::Morning() {
  if (hour_ < 0 || hour_ > 12) return false;
  if (hour_ == 12) hour_ = 0;
  time_open_ = false;
  return true;
}

bool FreeForm::Afternoon() {
  if (hour_ <= 0) return false;
  if (hour_ < 12) hour_ += 12;
  time_open_ = false;
  return true;
}

bool FreeForm::Word(const char*& t, const char* end) {
  const auto len = static_cast<std::size_t>(end - t);
  std::size_t m = 0;
  int idx = 0;
  parsed_any_ = true;
  last_ = Token::kWord;
  const bool lone = !DateIsAlphaAt(t + 1, end);
  if (MatchNames(sets_, Names::kMonths, t, len, coll_, &m, &idx)) {
    if (month_ >= 0) return false;
    month_ = idx + 1;
    month_by_name_ = true;
    UpdateComplete();
  } else if (MatchNames(sets_, Names::kDays, t, len, coll_, &m, &idx)) {
    if (weekday_ >= 0) return false;
    weekday_ = idx;
  } else if (MatchNames(sets_, Names::kMorning, t, len, coll_, &m, &idx) ||
             (lone && (*t == 'a' || *t == 'A') && (m = 1) != 0)) {
    if (!Morning()) return false;
  } else if (MatchNames(sets_, Names::kAfternoon, t, len, coll_, &m, &idx) ||
             (lone && (*t == 'p' || *t == 'P') && (m = 1) != 0)) {
    if (!Afternoon()) return false;
  } else {
    return false;
  }
  t += m;
  return true;
}

bool FreeForm::NegativeZone() {
  if (zone_sign_ != 0) return false;
  zone_sign_ = -1;
  zone_open_ = true;
  time_open_ = false;
  fraction_done_ = true;
  last_ = Token::kZoneSign;
  last_sep_ = '-';
  return true;
}

bool FreeForm::ZoneSign(int sign) {
  if (zone_sign_ != 0) return false;
  zone_sign_ = sign;
  zone_open_ = true;
  time_open_ = false;
  fraction_done_ = true;
  last_ = Token::kZoneSign;
  last_sep_ = '+';
  return true;
}

bool FreeForm::Separator(char c) {
  if (last_ == Token::kStart || last_ == Token::kSeparator) {
    if (c == '-' && last_ == Token::kSeparator && last_sep_ == 'T') return NegativeZone();
    if (c != 'T') return false;
  }
  if (c == 'T') {
    complete_ = true;
  } else if (c == '-' && (complete_ || last_ == Token::kTimeNumber)) {
    // After a complete date, or right after a time, "-" is the sign of a zone offset.
    return NegativeZone();
  } else if (c == '/' && complete_) {
    return false;
  }
  if (c != ':' && c != '.' && c != ',') time_open_ = false;
  last_ = Token::kSeparator;
  last_sep_ = c;
  return true;
}

bool FreeForm::Finish(unsigned pivot, a_time* out, short* zone_minutes) {
  if (!parsed_any_) return false;
  if (month_by_name_ && day_ < 0) day_ = 1;
  if (month_ >= 0 && (month_ < 1 || month_ > 12)) return false;
  int year = 0, month = 0, day = 1;
  if (year_ >= 0) year = year_two_digit_ ? PivotYear(year_, pivot) : year_;
  if (month_ < 0 && day_ < 0) {
    if (year_ >= 0) {
      if (year_two_digit_ && ordinal_ < 0 && !week_mode_) return false;  // a lone short year
    } else {
      a_time today{};
      timetoday(&today);
      year = today.year;
      month = today.month;
      day = today.day;
    }
  } else if (year_ < 0) {
    a_time today{};
    timetoday(&today);
    year = today.year;
    month = month_ >= 0 ? month_ - 1 : today.month;
    day = day_ >= 0 ? day_ : today.day;
  } else {
    month = month_ >= 0 ? month_ - 1 : 0;
    day = day_ >= 0 ? day_ : 1;
  }

  int ordinal = ordinal_;
  if (week_mode_) {
    // Week 1 is the week (from Monday) that holds the year's first Thursday.
    const int w = (vq::etc::WeekdayOfJanuaryFirst(year) + 1) % 7;  // 0 = Saturday
    int offset = 5;
    if (w != 0) {
      const int x = (w + 2) % 7;
      offset = x == 0 ? 10 : x + 3;
    }
    ordinal = week_ * 7 + iso_weekday_ - offset;
    if (ordinal < 1) {
      year -= 1;
      ordinal += YearLength(year);
    }
  }
  if (ordinal >= 0) {
    if (ordinal == 0 || ordinal > YearLength(year) + (week_mode_ ? 3 : 0)) return false;
    if (ordinal > YearLength(year)) {
      ordinal -= YearLength(year);
      year += 1;
    }
    month = 0;
    while (ordinal > MonthLength(month, year)) {
      ordinal -= MonthLength(month, year);
      ++month;
    }
    day = ordinal;
  }

  int hour = hour_ < 0 ? 0 : hour_;
  const int minute = minute_ < 0 ? 0 : minute_;
  const int second = second_ < 0 ? 0 : second_;
  if (year < 1 || year > 9999 || day < 1 || day > MonthLength(month, year)) return false;
  if (hour == 24 && minute == 0 && second == 0 && micro_ == 0 && complete_) {
    hour = 0;
    if (++day > MonthLength(month, year)) {
      day = 1;
      if (++month > 11) {
        month = 0;
        ++year;
      }
    }
  }
  if (zone_sign_ != 0 && zone_minutes != nullptr) {
    if (zone_hours_ < 0) return false;
    *zone_minutes =
        static_cast<short>(zone_sign_ * (zone_hours_ * 60 + (zone_mins_ < 0 ? 0 : zone_mins_)));
  }
  if (hour > 255 || minute > 255 || second > 255) return false;
  out->year = static_cast<std::uint16_t>(year);
  out->month = static_cast<std::uint8_t>(month);
  out->day = static_cast<std::uint8_t>(day);
  out->hour = static_cast<std::uint8_t>(hour);
  out->minute = static_cast<std::uint8_t>(minute);
  out->second = static_cast<std::uint8_t>(second);
  out->microsecond = micro_;
  if (!validDatetime(out)) return false;
  CompleteDate(out);
  return true;
}

}  // namespace

extern "C" {

int strtotime_with_century_ex(const char* text, a_time* out, int date_order,
                              const UTCollationImplementationBase* coll, unsigned century_pivot,
                              const a_jdate_name_sets* sets, short* zone_minutes) {
  if (zone_minutes != nullptr) *zone_minutes = -1;
  if (text == nullptr || out == nullptr) return 0;
  if (sets == nullptr) sets = &kEnglishOnly;
  *out = a_time{};
  FreeForm parser(date_order, coll, sets);
  if (!parser.Parse(text)) return 0;
  return parser.Finish(century_pivot, out, zone_minutes) ? 1 : 0;
}

}  // extern "C"
