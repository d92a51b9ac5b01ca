// Comparison, addition, differences and date parts of timestamps; T-SQL style pictures.
#include "utils/etc/timestamp_arith.h"

#include "utils/etc/jdate_internal.h"

namespace {

constexpr std::int64_t kMinutesPerDay = 1440;
constexpr std::int64_t kMicrosPerMinute = 60000000;
constexpr std::int64_t kMillisPerMinute = 60000;

void SplitJdate(jdate value, std::int64_t* day, std::int64_t* minute) {
  *day = jdate_date_component(value);
  *minute = jdate_time_component(value);
}

// Moves the day and the minute of the day of `stamp`; truncating division leaves both
// parts with the sign of the amount, and a negative minute borrows from the day when the
// two are stored together.
void AddDaysAndMinutes(a_timestamp* stamp, std::int64_t days, std::int64_t minutes) {
  std::int64_t day = 0;
  std::int64_t minute = 0;
  SplitJdate(stamp->minutes, &day, &minute);
  day += days + minutes / kMinutesPerDay;
  minute += minutes % kMinutesPerDay;
  if (minute >= kMinutesPerDay) {
    minute -= kMinutesPerDay;
    day += 1;
  }
  stamp->minutes = vq::etc::StoreDayAndMinute(day, minute);
}

// Adds `r` (0 to 59,999,999) to the microseconds word, carrying a whole minute into `q`.
void AddMicrosWithinMinute(a_timestamp* stamp, std::int64_t r, std::int64_t* q) {
  std::int64_t micros = static_cast<std::int64_t>(stamp->microseconds) + r;
  if (micros >= kMicrosPerMinute) {
    micros -= kMicrosPerMinute;
    *q += 1;
  }
  stamp->microseconds = static_cast<std::uint32_t>(micros);
}

void AddMilliseconds(a_timestamp* stamp, std::int64_t n) {
  const std::int64_t current = stamp->microseconds / 1000;
  const std::int64_t q1 = n / kMillisPerMinute;
  const std::int64_t r1 = n % kMillisPerMinute;
  const std::int64_t q2 = current / kMillisPerMinute;
  const std::int64_t r2 = current % kMillisPerMinute;
  const std::int64_t q3 = (r1 + r2) / kMillisPerMinute;
  std::int64_t r3 = (r1 + r2) % kMillisPerMinute;
  std::int64_t minutes = q1 + q2 + q3;
  if (n < 0 && r3 < 0) {
    r3 += kMillisPerMinute;
    minutes -= 1;
  }
  vq::etc::AddMinutes(stamp, minutes);
  stamp->microseconds = static_cast<std::uint32_t>(r3 * 1000);  // sub-millisecond digits go
}

// Rebuilds `stamp` from a broken-down time whose day of month may not exist in its month.
// When it did not, the rebuilt value ran into the next month: step back by its day of
// month (months), or by one day (years: only 29 February can be missing), which lands on
// the last day of the intended month.
void Rebuild(a_timestamp* stamp, const a_time& wanted, bool back_by_rebuilt_day) {
  stamp->minutes = timetojdate(&wanted);
  a_time rebuilt{};
  jdatetotime(stamp->minutes, &rebuilt);
  if (rebuilt.day != wanted.day) {
    AddDaysAndMinutes(stamp, back_by_rebuilt_day ? -static_cast<std::int64_t>(rebuilt.day) : -1,
                      0);
  }
}

void AddMonths(a_timestamp* stamp, std::int64_t n) {
  a_time t{};
  jdatetotime(stamp->minutes, &t);
  const std::int64_t total = t.month + n;
  std::int64_t year = t.year + total / 12;
  std::int64_t month = total % 12;
  // January goes to jday as index 12 of the year before, which keeps January 7911 in
  // the minute form (jday picks the form by the year it is given). Year 0 is "no date"
  // to jday, so January of year 1 stays index 0 of year 1.
  if (month < 0 || (month == 0 && year > 1)) {
    month += 12;
    year -= 1;
  }
  t.year = static_cast<std::uint16_t>(year);
  t.month = static_cast<std::uint8_t>(month);
  Rebuild(stamp, t, true);
}

std::int64_t HoursOf(jdate value) {
  if (value >= kJdateDayForm) return static_cast<std::int64_t>(value & kJdateDayMask) * 24;
  return value / 60;
}

std::int64_t MillisOf(const a_timestamp* s) {
  return kMillisPerMinute * s->minutes + s->microseconds / 1000;
}

std::int64_t MicrosOf(const a_timestamp* s) {
  return kMicrosPerMinute * s->minutes + s->microseconds;
}

// Shift of the first ISO week of a year whose 1 January falls on `w1`.
int IsoShift(int w1) {
  if (w1 == 0) return -1;
  if (w1 <= 4) return w1 - 1;
  return w1 - 8;
}

int IsoBoundary(int w1) {
  if (w1 == 0) return 1;
  if (w1 <= 4) return 0;
  return 8 - w1;
}

// Dates of 29 to 31 December that belong to week 1 of the next year.
bool InNextIsoYear(const a_time& t) {
  return t.month == 11 && t.day >= 29 && t.weekday >= 1 && t.weekday <= 3 &&
         static_cast<int>(t.weekday) - static_cast<int>(t.day) <= -28;
}

std::int32_t IsoWeek(const a_time& t) {
  if (InNextIsoYear(t)) return 1;
  const int w1 = vq::etc::WeekdayOfJanuaryFirst(t.year);
  if (t.yearday + 1 <= IsoBoundary(w1)) {
    const int previous = t.year - 1;
    const int w0 = vq::etc::WeekdayOfJanuaryFirst(previous);
    const int last_yearday = vq::etc::IsLeapYear(previous) ? 365 : 364;
    return (IsoShift(w0) + last_yearday) / 7 + 1;
  }
  return (IsoShift(w1) + t.yearday) / 7 + 1;
}

std::int32_t IsoYear(const a_time& t) {
  if (InNextIsoYear(t)) return t.year + 1;
  if (t.yearday + 1 <= IsoBoundary(vq::etc::WeekdayOfJanuaryFirst(t.year))) return t.year - 1;
  return t.year;
}

}  // namespace

namespace vq::etc {

void AddMinutes(a_timestamp* stamp, std::int64_t minutes) {
  AddDaysAndMinutes(stamp, 0, minutes);
}

}  // namespace vq::etc

extern "C" {

int timestamp_CMP(const a_timestamp* a, const a_timestamp* b) {
  if (a->minutes != b->minutes) return a->minutes > b->minutes ? 1 : 2;
  if (a->microseconds != b->microseconds) return a->microseconds > b->microseconds ? 1 : 2;
  return 0;
}

int timestamp_TOLERABLE_CMP(const a_timestamp* a, const a_timestamp* b,
                            std::uint32_t tolerance) {
  const std::uint64_t am = a->minutes;
  const std::uint64_t bm = b->minutes;
  if (am > bm + 1) return 1;
  if (bm > am + 1) return 2;
  std::uint64_t au = a->microseconds;
  std::uint64_t bu = b->microseconds;
  if (am == bm + 1) au += kMicrosPerMinute;
  if (bm == am + 1) bu += kMicrosPerMinute;
  if (au == bu) return 0;
  if (au > bu) return au - bu > tolerance ? 1 : 3;
  return bu - au > tolerance ? 2 : 4;
}

void timestamp_ADDMINUTES(a_timestamp* stamp, std::int32_t n) {
  AddDaysAndMinutes(stamp, 0, n);
}

void timestamp_ADDHOURS(a_timestamp* stamp, std::int32_t n) {
  AddDaysAndMinutes(stamp, n / 24, static_cast<std::int64_t>(n % 24) * 60);
}

void timestamp_ADDDAYS(a_timestamp* stamp, std::int32_t n) { AddDaysAndMinutes(stamp, n, 0); }

void timestamp_ADDWEEKS(a_timestamp* stamp, std::int32_t n) {
  AddDaysAndMinutes(stamp, static_cast<std::int64_t>(n) * 7, 0);
}

void timestamp_ADDSECONDS(a_timestamp* stamp, std::int32_t n) {
  std::int64_t q = n / 60;
  std::int64_t r = n % 60;
  if (r < 0) {
    r += 60;
    q -= 1;
  }
  AddMicrosWithinMinute(stamp, r * 1000000, &q);
  vq::etc::AddMinutes(stamp, q);
}

void timestamp_ADDMICROSECONDS(a_timestamp* stamp, std::int32_t n) {
  std::int64_t q = n / kMicrosPerMinute;
  std::int64_t r = n % kMicrosPerMinute;
  if (r < 0) {
    r += kMicrosPerMinute;
    q -= 1;
  }
  AddMicrosWithinMinute(stamp, r, &q);
  // Through the day-and-minute split, so that the day form stays a valid day form.
  vq::etc::AddMinutes(stamp, q);
}

void timestamp_ADDMONTHS(a_timestamp* stamp, std::int32_t n) { AddMonths(stamp, n); }

void timestamp_ADDYEARS(a_timestamp* stamp, std::int32_t n) {
  a_time t{};
  jdatetotime(stamp->minutes, &t);
  t.year = static_cast<std::uint16_t>(t.year + n);
  Rebuild(stamp, t, false);
}

void timestamp_DATEADD(std::int16_t part, std::int32_t amount, a_timestamp* stamp) {
  switch (part) {
    case kDatePartYear:
      timestamp_ADDYEARS(stamp, amount);
      break;
    case kDatePartMonth:
      timestamp_ADDMONTHS(stamp, amount);
      break;
    case kDatePartDay:
    case kDatePartWeekday:
    case kDatePartDayOfYear:
      timestamp_ADDDAYS(stamp, amount);
      break;
    case kDatePartHour:
      timestamp_ADDHOURS(stamp, amount);
      break;
    case kDatePartMinute:
      timestamp_ADDMINUTES(stamp, amount);
      break;
    case kDatePartSecond:
      timestamp_ADDSECONDS(stamp, amount);
      break;
    case kDatePartQuarter:
      AddMonths(stamp, static_cast<std::int64_t>(amount) * 3);
      break;
    case kDatePartWeek:
      timestamp_ADDWEEKS(stamp, amount);
      break;
    case kDatePartMillisecond:
      AddMilliseconds(stamp, amount);
      break;
    case kDatePartMicrosecond:
      timestamp_ADDMICROSECONDS(stamp, amount);
      break;
    default:
      break;  // the ISO parts and unknown codes add nothing
  }
}

std::int64_t timestamp_MINUTES(const a_timestamp* a, const a_timestamp* b) {
  return static_cast<std::int64_t>(b->minutes) - static_cast<std::int64_t>(a->minutes);
}

std::int64_t timestamp_HOURS(const a_timestamp* a, const a_timestamp* b) {
  if (a->minutes < kJdateDayForm && b->minutes < kJdateDayForm)
    return timestamp_MINUTES(a, b) / 60;
  return HoursOf(b->minutes) - HoursOf(a->minutes);
}

std::int64_t timestamp_SECONDS(const a_timestamp* a, const a_timestamp* b) {
  return (MillisOf(b) - MillisOf(a)) / 1000;
}

std::int32_t timestamp_DAYS(const a_timestamp* a, const a_timestamp* b) {
  return static_cast<std::int32_t>(jdate_date_component(b->minutes) -
                                   jdate_date_component(a->minutes));
}

std::int32_t timestamp_WEEKS(const a_timestamp* a, const a_timestamp* b) {
  return timestamp_DAYS(a, b) / 7;
}

std::int32_t timestamp_WEEK(const a_timestamp* stamp) {
  return static_cast<std::int32_t>((jdate_date_component(stamp->minutes) + 2) / 7);
}

std::int32_t timestamp_MONTHS(const a_timestamp* a, const a_timestamp* b) {
  a_time ta{};
  a_time tb{};
  jdatetotime(a->minutes, &ta);
  jdatetotime(b->minutes, &tb);
  return (tb.year * 12 + tb.month) - (ta.year * 12 + ta.month);
}

std::int16_t timestamp_YEARS(const a_timestamp* a, const a_timestamp* b) {
  a_time ta{};
  a_time tb{};
  jdatetotime(a->minutes, &ta);
  jdatetotime(b->minutes, &tb);
  return static_cast<std::int16_t>(tb.year - ta.year);
}

std::int64_t timestamp_DATEDIFF(std::int16_t part, const a_timestamp* a, const a_timestamp* b) {
  switch (part) {
    case kDatePartYear:
      return timestamp_YEARS(a, b);
    case kDatePartMonth:
      return timestamp_MONTHS(a, b);
    case kDatePartDay:
      return timestamp_DAYS(a, b);
    case kDatePartHour:
      return timestamp_HOURS(a, b);
    case kDatePartMinute:
      return timestamp_MINUTES(a, b);
    case kDatePartSecond:
      return timestamp_SECONDS(a, b);
    case kDatePartQuarter: {
      a_time ta{};
      a_time tb{};
      jdatetotime(a->minutes, &ta);
      jdatetotime(b->minutes, &tb);
      return (tb.year * 4 + tb.month / 3 + 1) - (ta.year * 4 + ta.month / 3 + 1);
    }
    case kDatePartWeek:
      return timestamp_WEEK(b) - timestamp_WEEK(a);
    case kDatePartDayOfYear: {
      a_time ta{};
      a_time tb{};
      jdatetotime(a->minutes, &ta);
      jdatetotime(b->minutes, &tb);
      return tb.yearday - ta.yearday;
    }
    case kDatePartMillisecond:
      return MillisOf(b) - MillisOf(a);
    case kDatePartMicrosecond:
      return MicrosOf(b) - MicrosOf(a);
    default:
      return 0;  // weekday, the ISO parts and unknown codes
  }
}

std::int32_t timestamp_DATEPART(std::int16_t part, const a_timestamp* stamp) {
  a_time t{};
  jdatetotime(stamp->minutes, &t);
  const std::uint32_t micros = stamp->microseconds;
  switch (part) {
    case kDatePartYear:
      return t.year;
    case kDatePartMonth:
      return t.month + 1;
    case kDatePartDay:
      return t.day;
    case kDatePartHour:
      return t.hour;
    case kDatePartMinute:
      return t.minute;
    case kDatePartSecond:
      return static_cast<std::int32_t>(micros / 1000000);
    case kDatePartWeekday:
      return t.weekday + 1;
    case kDatePartQuarter:
      return t.month / 3 + 1;
    case kDatePartWeek:
      return (t.yearday + vq::etc::WeekdayOfJanuaryFirst(t.year)) / 7 + 1;
    case kDatePartDayOfYear:
      return t.yearday + 1;
    case kDatePartMillisecond:
      return static_cast<std::int32_t>((micros % 1000000) / 1000);
    case kDatePartMicrosecond:
      return static_cast<std::int32_t>(micros % 1000000);
    case kDatePartIsoWeek:
      return IsoWeek(t);
    case kDatePartIsoYear:
      return IsoYear(t);
    case kDatePartIsoWeekday:
      return t.weekday == 0 ? 7 : t.weekday;
    default:
      return 0;
  }
}

const char* tsql_timestamp_format(int style) {
  switch (style) {
    case 0:
    case 100:
      return "Mmm dd yyyy hh:nnAA";
    case 1:
      return "mm/dd/yy";
    case 2:
      return "yy.mm.dd";
    case 3:
      return "dd/mm/yy";
    case 4:
      return "dd.mm.yy";
    case 5:
      return "dd-mm-yy";
    case 6:
      return "dd Mmm yy";
    case 7:
      return "Mmm dd, yy";
    case 8:
    case 108:
      return "hh:nn:ss";
    case 9:
    case 109:
      return "Mmm dd yyyy hh:nn:ss:sssAA";
    case 10:
      return "mm-dd-yy";
    case 11:
      return "yy/mm/dd";
    case 12:
      return "yymmdd";
    case 13:
    case 113:
      return "dd Mmm yyyy hh:nn:ss:sss";
    case 14:
    case 114:
      return "hh:nn:ss:sss";
    case 20:
    case 120:
      return "yyyy-mm-dd hh:nn:ss";
    case 21:
    case 121:
      return "yyyy-mm-dd hh:nn:ss.sss";
    case 101:
      return "mm/dd/yyyy";
    case 102:
      return "yyyy.mm.dd";
    case 103:
      return "dd/mm/yyyy";
    case 104:
      return "dd.mm.yyyy";
    case 105:
      return "dd-mm-yyyy";
    case 106:
      return "dd Mmm yyyy";
    case 107:
      return "Mmm dd, yyyy";
    case 110:
      return "mm-dd-yyyy";
    case 111:
      return "yyyy/mm/dd";
    case 112:
      return "yyyymmdd";
    default:
      return nullptr;
  }
}

const char* tsql_time_format(int style) {
  switch (style) {
    case 0:
    case 100:
      return "hh:nnAA";
    case 8:
    case 108:
    case 20:
    case 120:
      return "hh:nn:ss";
    case 9:
    case 109:
      return "hh:nn:ss:sssAA";
    case 13:
    case 113:
    case 14:
    case 114:
      return "hh:nn:ss:sss";
    case 21:
    case 121:
      return "hh:nn:ss.sss";
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 7:
    case 10:
    case 11:
    case 12:
    case 101:
    case 102:
    case 103:
    case 104:
    case 105:
    case 106:
    case 107:
    case 110:
    case 111:
    case 112:
      return "";
    default:
      return nullptr;
  }
}

}  // extern "C"
