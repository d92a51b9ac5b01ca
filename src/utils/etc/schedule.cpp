// Schedule texts and the minutes to their next window.
#include "utils/etc/schedule.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "utils/etc/date_text.h"
#include "utils/etc/jdate_internal.h"

namespace {

constexpr std::int64_t kMinutesPerDay = 1440;
constexpr std::int64_t kMinutesPerWeek = 7 * kMinutesPerDay;
constexpr unsigned kNever = 0xFFFFFFFFu;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int MonthLength(int month, int year) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 1 && vq::etc::IsLeapYear(year)) return 29;
  return kDays[month];
}

// Reads 1 to max_digits digits; false when there are none or more.
bool ReadNumber(const char*& p, int max_digits, int* value) {
  int n = 0;
  int v = 0;
  while (IsDigit(*p)) {
    if (++n > max_digits) return false;
    v = v * 10 + (*p - '0');
    ++p;
  }
  *value = v;
  return n > 0;
}

// The keyword at p in any case; p moves past it.
bool Keyword(const UTCollationImplementationBase* coll, const char*& p, const char* word) {
  const std::size_t n = std::strlen(word);
  if (std::strlen(p) < n || vq::etc::DateCompareN(coll, p, word, n) != 0) return false;
  p += n;
  return true;
}

// One time of a range: hh:mm with an optional AM or PM; minutes of the day.
bool ReadTime(const UTCollationImplementationBase* coll, const char*& p, int* minutes) {
  int hour = 0;
  int minute = 0;
  if (!ReadNumber(p, 2, &hour) || *p != ':') return false;
  ++p;
  if (!ReadNumber(p, 2, &minute) || minute >= 60) return false;
  if (Keyword(coll, p, "AM")) {
    if (hour < 1 || hour > 12) return false;
    if (hour == 12) hour = 0;
  } else if (Keyword(coll, p, "PM")) {
    if (hour < 1 || hour > 12) return false;
    if (hour < 12) hour += 12;
  } else if (hour > 24) {
    return false;
  }
  *minutes = hour * 60 + minute;
  return true;
}

// hh:mm[-hh:mm], ending at "," or the end of the text.
bool ReadRange(const UTCollationImplementationBase* coll, const char*& p, int* start,
               int* end) {
  if (!ReadTime(coll, p, start)) return false;
  *end = *start;
  if (*p == '-') {
    ++p;
    if (!ReadTime(coll, p, end)) return false;
  }
  return *p == ',' || *p == '\0';
}

enum class ItemKind { kEveryDay, kWeekday, kDayOfWeek, kDayOfMonth };

// Absolute minutes (day number * 1440 + minute) of a date and a minute of the day, which
// may be 1440 (the end of the day).
std::int64_t AbsoluteMinutes(int year, int month, int day, std::int64_t minute) {
  return vq::etc::DayNumber(month + 1, day, year) * kMinutesPerDay + minute;
}

// Minutes to the start and end of the next window of an item.
void NextWindow(ItemKind kind, int day_arg, std::int64_t start, std::int64_t end,
                std::int64_t now_day, std::int64_t now_minute, std::int64_t* to_start,
                std::int64_t* to_end) {
  std::int64_t now = now_day * kMinutesPerDay + now_minute;
  if (end < start) {
    // Across midnight: measured from `end` earlier, the window runs to the end of the day.
    now -= end;
    start -= end;
    end = kMinutesPerDay;
  }
  const std::int64_t day = now / kMinutesPerDay;
  const std::int64_t t = now % kMinutesPerDay;
  const std::int64_t weekday = (day + 2) % 7;  // 0 = Sunday
  switch (kind) {
    case ItemKind::kEveryDay:
    case ItemKind::kWeekday: {
      std::int64_t days_on = 0;
      if (kind == ItemKind::kWeekday) {
        if (weekday == 0) {
          days_on = 1;
        } else if (weekday == 6) {
          days_on = 2;
        } else if (end < t) {
          days_on = weekday == 5 ? 3 : 1;
        }
      }
      start += days_on * kMinutesPerDay;
      end += days_on * kMinutesPerDay;
      if (end < t) {
        start += kMinutesPerDay;
        end += kMinutesPerDay;
      }
      *to_end = end - t;
      *to_start = start <= t ? 0 : start - t;
      return;
    }
    case ItemKind::kDayOfWeek: {
      const std::int64_t c = weekday * kMinutesPerDay + t;
      std::int64_t s = day_arg * kMinutesPerDay + start;
      std::int64_t e = day_arg * kMinutesPerDay + end;
      if (c > e) {
        s += kMinutesPerWeek;
        e += kMinutesPerWeek;
      }
      *to_end = e - c;
      *to_start = s <= c ? 0 : s - c;
      return;
    }
    case ItemKind::kDayOfMonth: {
      a_time broken{};
      jdatetotime(vq::etc::StoreDayAndMinute(day, 0), &broken);
      int year = broken.year;
      int month = broken.month;
      // The window's end in this month, or in the next when this month has no such day;
      // when it has passed, in the next month that has the day. Measured as absolute
      // minutes in both cases, so that a month skipped counts its days.
      auto next_month = [&year, &month]() {
        if (++month > 11) {
          month = 0;
          ++year;
        }
      };
      auto target = [&]() {
        if (day_arg > MonthLength(month, year)) next_month();
        const int d = day_arg == 0 ? MonthLength(month, year) : day_arg;
        return AbsoluteMinutes(year, month, d, end);
      };
      std::int64_t e = target();
      if (now > e) {
        next_month();
        e = target();
      }
      *to_end = e - now;
      const std::int64_t s = *to_end - (end - start);
      *to_start = s < 0 ? 0 : s;
      return;
    }
  }
}

unsigned Clamp(std::int64_t v) {
  if (v < 0) return 0;
  return v >= static_cast<std::int64_t>(kNever) ? kNever - 1 : static_cast<unsigned>(v);
}

}  // namespace

extern "C" {

int parseSchedule(const a_jdate_name_sets* sets, const UTCollationImplementationBase* coll,
                  const char* text, jdate now, unsigned* recurring, unsigned* minutes_to_start,
                  unsigned* minutes_to_end) {
  if (text == nullptr || *text == '\0' || recurring == nullptr || minutes_to_start == nullptr ||
      minutes_to_end == nullptr)
    return 0;
  const char* p = text;
  if (std::strlen(text) == 8 && Keyword(coll, p, "INFINITE")) {
    *recurring = 1;
    *minutes_to_start = kNever;
    *minutes_to_end = kNever;
    return 1;
  }
  p = text;
  if (Keyword(coll, p, "EVERY:")) {
    int hours = 0;
    int minutes = 0;
    if (!ReadNumber(p, 4, &hours) || *p != ':') return 0;
    ++p;
    if (!ReadNumber(p, 2, &minutes) || minutes >= 60 || *p != '\0') return 0;
    *recurring = 1;
    *minutes_to_start = static_cast<unsigned>(hours * 60 + minutes);
    *minutes_to_end = *minutes_to_start;
    return 1;
  }

  *recurring = 0;
  *minutes_to_start = kNever;
  *minutes_to_end = kNever;
  const std::int64_t now_day = jdate_date_component(now);
  const std::int64_t now_minute = jdate_time_component(now);
  p = text;
  while (true) {
    ItemKind kind = ItemKind::kEveryDay;
    int day_arg = 0;
    if (Keyword(coll, p, "EVERYDAY@")) {
      kind = ItemKind::kEveryDay;
    } else if (Keyword(coll, p, "WEEKDAY@")) {
      kind = ItemKind::kWeekday;
    } else if (IsDigit(*p)) {
      if (!ReadNumber(p, 2, &day_arg) || day_arg > 31 || *p != '@') return 0;
      ++p;
      kind = ItemKind::kDayOfMonth;
    } else {
      bool found = false;
      const int count =
          sets == nullptr ? 0 : (sets->count > kMaxNameSets ? kMaxNameSets : sets->count);
      for (int s = 0; s < count && !found; ++s) {
        const a_jdate_langstrings* set = sets->sets[s];
        if (set == nullptr) continue;
        for (const char* const* list : {set->days, set->short_days}) {
          for (int i = 0; i < 7 && list[i] != nullptr && !found; ++i) {
            const std::size_t n = std::strlen(list[i]);
            if (n == 0 || std::strlen(p) <= n) continue;
            if (vq::etc::DateCompareN(coll, p, list[i], n) == 0 && p[n] == '@') {
              p += n + 1;
              day_arg = i;
              found = true;
            }
          }
          if (found) break;
        }
      }
      if (!found) return 0;
      kind = ItemKind::kDayOfWeek;
    }
    int start = 0;
    int end = 0;
    if (!ReadRange(coll, p, &start, &end)) return 0;
    std::int64_t to_start = 0;
    std::int64_t to_end = 0;
    NextWindow(kind, day_arg, start, end, now_day, now_minute, &to_start, &to_end);
    if (Clamp(to_start) < *minutes_to_start) {
      *minutes_to_start = Clamp(to_start);
      *minutes_to_end = Clamp(to_end);
    }
    if (*p == '\0') break;
    ++p;  // the ","
  }
  return 1;
}

}  // extern "C"
