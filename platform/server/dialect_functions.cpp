// The dialect's SQL functions: what the driver's escape translation produces
// (string, date and time, numeric and system functions), the clock values and the
// conversions that casts to date, time, binary and GUID types become. Dates and
// times are taken and given as the texts of datetime_text.h; the clock is local time.
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "datetime_text.h"
#include "dialect.h"
#include "engine.h"
#include "sql_error.h"
#include "sql_text.h"

namespace vqeng {
namespace {

Engine* engine_of(sqlite3_context* ctx) { return static_cast<Engine*>(sqlite3_user_data(ctx)); }

void fail(sqlite3_context* ctx, const SqlError& e) {
  engine_of(ctx)->fail_function(e);
  sqlite3_result_error(ctx, e.text.c_str(), -1);
}

std::string text_of(sqlite3_value* v) {
  const unsigned char* t = sqlite3_value_text(v);
  const int n = sqlite3_value_bytes(v);
  return t ? std::string(reinterpret_cast<const char*>(t), static_cast<std::size_t>(n))
           : std::string();
}

bool any_null(int argc, sqlite3_value** argv) {
  for (int i = 0; i < argc; ++i)
    if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return true;
  return false;
}

void result_text(sqlite3_context* ctx, const std::string& s) {
  sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

// A text longer than SQLite's length limit is refused before it is built.
bool room_for(sqlite3_context* ctx, double bytes) {
  const int limit = sqlite3_limit(sqlite3_context_db_handle(ctx), SQLITE_LIMIT_LENGTH, -1);
  if (bytes <= limit) return true;
  sqlite3_result_error_toobig(ctx);
  return false;
}

// --- Characters of UTF-8 text -----------------------------------------------------------

bool continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

std::size_t char_count(const std::string& s) {
  std::size_t n = 0;
  for (char c : s) n += !continuation(c);
  return n;
}

// Byte offset of character k (0-based); the size when k is past the end.
std::size_t byte_at(const std::string& s, std::size_t k) {
  std::size_t i = 0;
  for (std::size_t seen = 0; i < s.size(); ++i) {
    if (continuation(s[i])) continue;
    if (seen++ == k) return i;
  }
  return s.size();
}

// --- Dates and times ----------------------------------------------------------------------

DateTime clock_now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm tm{};
  localtime_r(&ts.tv_sec, &tm);
  DateTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec;
  t.micros = static_cast<std::uint32_t>(ts.tv_nsec / 1000);
  t.has_date = t.has_time = true;
  return t;
}

// The date-time of an argument; false (the call failed) when it is none.
bool datetime_arg(sqlite3_context* ctx, sqlite3_value* v, DateTime& t, const char* kind) {
  const std::string s = text_of(v);
  if (parse_datetime(s, t)) return true;
  fail(ctx, sql_error(-157, "Cannot convert '" + s + "' to a " + kind, {s, kind}));
  return false;
}

bool date_arg(sqlite3_context* ctx, sqlite3_value* v, DateTime& t) {
  if (!datetime_arg(ctx, v, t, "date")) return false;
  if (t.has_date) return true;
  fail(ctx, sql_error(-157, "Cannot convert '" + text_of(v) + "' to a date", {text_of(v)}));
  return false;
}

std::int64_t day_number(const DateTime& t) { return days_from_civil(t.year, t.month, t.day); }

DateTime from_day_number(std::int64_t z) {
  DateTime t;
  civil_from_days(z, t.year, t.month, t.day);
  t.has_date = true;
  return t;
}

// Weeks start on Sunday; 1970-01-01 was a Thursday.
std::int64_t week_number(std::int64_t z) {
  const std::int64_t a = z + 4;
  return a >= 0 ? a / 7 : -((-a + 6) / 7);
}

int day_of_week(const DateTime& t) {  // 1 Sunday .. 7 Saturday
  const std::int64_t z = day_number(t) + 4;
  return static_cast<int>(((z % 7) + 7) % 7) + 1;
}

const char* const kMonthNames[] = {"January", "February", "March",     "April",
                                   "May",     "June",     "July",      "August",
                                   "September", "October", "November", "December"};
const char* const kDayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};

// The date of 0000-02-29, from which DAYS and WEEKS count when given one date.
const std::int64_t kDayZero = days_from_civil(0, 2, 29);

// --- String functions ---------------------------------------------------------------------

void fn_char_length(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  if (sqlite3_value_type(argv[0]) == SQLITE_BLOB)
    return sqlite3_result_int64(ctx, sqlite3_value_bytes(argv[0]));
  sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(char_count(text_of(argv[0]))));
}

void fn_byte_length(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  sqlite3_value_blob(argv[0]);  // the bytes as they are stored
  sqlite3_result_int64(ctx, sqlite3_value_bytes(argv[0]));
}

// BYTE_SUBSTR(string, start[, length]): bytes from the 1-based start (a negative start
// counts from the end), at most length of them; text stays text, binary stays binary.
void fn_byte_substr(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  const bool blob = sqlite3_value_type(argv[0]) == SQLITE_BLOB;
  const char* data = blob ? static_cast<const char*>(sqlite3_value_blob(argv[0]))
                          : reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  const sqlite3_int64 size = sqlite3_value_bytes(argv[0]);
  sqlite3_int64 start = sqlite3_value_int64(argv[1]);
  if (start < 0) start = size + start + 1;
  if (start < 1) start = 1;
  sqlite3_int64 count = argc > 2 ? sqlite3_value_int64(argv[2]) : size;
  if (count < 0) count = 0;
  const sqlite3_int64 from = std::min(start - 1, size);
  const sqlite3_int64 n = std::min(count, size - from);
  if (blob)
    sqlite3_result_blob64(ctx, data ? data + from : "", static_cast<sqlite3_uint64>(n),
                          SQLITE_TRANSIENT);
  else
    sqlite3_result_text64(ctx, data ? data + from : "", static_cast<sqlite3_uint64>(n),
                          SQLITE_TRANSIENT, SQLITE_UTF8);
}

// LOCATE(string, sought[, start]): the character position of the first occurrence
// at or after start, or with a negative start the last one that begins within the
// string less its last -start-1 characters; 0 when there is none.
void fn_locate(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  const std::string s = text_of(argv[0]), sub = text_of(argv[1]);
  const sqlite3_int64 start = argc > 2 ? sqlite3_value_int64(argv[2]) : 1;
  const auto n = static_cast<sqlite3_int64>(char_count(s));
  std::size_t found = std::string::npos;
  if (start > 0) {
    if (start <= n + 1) found = s.find(sub, byte_at(s, static_cast<std::size_t>(start - 1)));
  } else if (start < 0 && -start <= n) {
    const std::size_t last = byte_at(s, static_cast<std::size_t>(n + start));
    found = s.rfind(sub, last);
  }
  sqlite3_result_int64(
      ctx, found == std::string::npos ? 0
                                      : static_cast<sqlite3_int64>(char_count(s.substr(0, found))) + 1);
}

void fn_string(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  std::string out;
  bool any = false;
  for (int i = 0; i < argc; ++i) {
    if (sqlite3_value_type(argv[i]) == SQLITE_NULL) continue;
    any = true;
    out += text_of(argv[i]);
  }
  if (!any) return sqlite3_result_null(ctx);
  result_text(ctx, out);
}

void fn_repeat(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  const std::string s = text_of(argv[0]);
  const sqlite3_int64 n = sqlite3_value_int64(argv[1]);
  if (n <= 0 || s.empty()) return result_text(ctx, "");
  if (!room_for(ctx, static_cast<double>(s.size()) * static_cast<double>(n))) return;
  std::string out;
  out.reserve(s.size() * static_cast<std::size_t>(n));
  for (sqlite3_int64 i = 0; i < n; ++i) out += s;
  result_text(ctx, out);
}

// LEFT and RIGHT: the first or last n characters.
void fn_left(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  const std::string s = text_of(argv[0]);
  const sqlite3_int64 n = std::max<sqlite3_int64>(0, sqlite3_value_int64(argv[1]));
  const auto total = static_cast<sqlite3_int64>(char_count(s));
  result_text(ctx, s.substr(0, byte_at(s, static_cast<std::size_t>(std::min(n, total)))));
}

void fn_right(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  const std::string s = text_of(argv[0]);
  const sqlite3_int64 n = std::max<sqlite3_int64>(0, sqlite3_value_int64(argv[1]));
  const auto total = static_cast<sqlite3_int64>(char_count(s));
  const std::size_t from = byte_at(s, static_cast<std::size_t>(total - std::min(n, total)));
  result_text(ctx, s.substr(from));
}

void fn_lcase(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  result_text(ctx, lower(text_of(argv[0])));
}
void fn_ucase(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  result_text(ctx, upper(text_of(argv[0])));
}

// ASCII: the code of the first character (0 for the empty string).
void fn_ascii(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  const std::string s = text_of(argv[0]);
  if (s.empty()) return sqlite3_result_int(ctx, 0);
  const auto b = static_cast<unsigned char>(s[0]);
  int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
  std::uint32_t cp = extra == 0 ? b : b & (0x3F >> extra);
  for (int i = 1; i <= extra && static_cast<std::size_t>(i) < s.size(); ++i)
    cp = (cp << 6) | (static_cast<unsigned char>(s[static_cast<std::size_t>(i)]) & 0x3F);
  sqlite3_result_int64(ctx, cp);
}

// The four-character sound code of a word: its first letter and three digits.
std::string sound_code(const std::string& s) {
  static const char kDigits[] = "01230120022455012623010202";  // a..z
  std::string out;
  char last = 0;
  for (char ch : s) {
    const int c = std::tolower(static_cast<unsigned char>(ch));
    if (c < 'a' || c > 'z') continue;
    const char d = kDigits[c - 'a'];
    if (out.empty()) {
      out.push_back(static_cast<char>(std::toupper(c)));
    } else if (d != '0' && d != last) {
      out.push_back(d);
    }
    if (c != 'h' && c != 'w') last = d;
    if (out.size() == 4) break;
  }
  if (out.empty()) return {};
  out.resize(4, '0');
  return out;
}

void fn_soundex(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  const std::string code = sound_code(text_of(argv[0]));
  result_text(ctx, code.empty() ? "?000" : code);
}

// DIFFERENCE: how many of the four characters of the two sound codes agree (0..4).
void fn_difference(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  const std::string a = sound_code(text_of(argv[0])), b = sound_code(text_of(argv[1]));
  int same = 0;
  for (std::size_t i = 0; i < 4 && i < a.size() && i < b.size(); ++i) same += a[i] == b[i];
  sqlite3_result_int(ctx, same);
}

// --- Numbers ------------------------------------------------------------------------------

void fn_truncate(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  const int places = sqlite3_value_int(argv[1]);
  if (sqlite3_value_numeric_type(argv[0]) == SQLITE_INTEGER && places >= 0)
    return sqlite3_result_int64(ctx, sqlite3_value_int64(argv[0]));
  const double f = std::pow(10.0, places);
  sqlite3_result_double(ctx, std::trunc(sqlite3_value_double(argv[0]) * f) / f);
}

void fn_rand(sqlite3_context* ctx, int, sqlite3_value**) {
  std::uint64_t r = 0;
  sqlite3_randomness(sizeof r, &r);
  sqlite3_result_double(ctx, static_cast<double>(r >> 11) / 9007199254740992.0);
}

void fn_cot(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  const double t = std::tan(sqlite3_value_double(argv[0]));
  if (t == 0) return sqlite3_result_null(ctx);
  sqlite3_result_double(ctx, 1.0 / t);
}

// LOG is the natural logarithm in the dialect (SQLite's own log is base 10).
void fn_ln(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  const double x = sqlite3_value_double(argv[0]);
  if (x <= 0) return sqlite3_result_null(ctx);
  sqlite3_result_double(ctx, std::log(x));
}

// --- The clock and dates ------------------------------------------------------------------

void fn_now(sqlite3_context* ctx, int, sqlite3_value**) { result_text(ctx, timestamp_text(clock_now())); }
void fn_today(sqlite3_context* ctx, int, sqlite3_value**) { result_text(ctx, date_text(clock_now())); }
void fn_current_time(sqlite3_context* ctx, int, sqlite3_value**) {
  result_text(ctx, time_text(clock_now()));
}

// One date-time part: YEAR, MONTH, DAY, HOUR, MINUTE, SECOND, QUARTER, DOW.
template <int (*Part)(const DateTime&)>
void fn_part(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  DateTime t;
  if (!datetime_arg(ctx, argv[0], t, "timestamp")) return;
  sqlite3_result_int(ctx, Part(t));
}
int part_year(const DateTime& t) { return t.year; }
int part_month(const DateTime& t) { return t.month; }
int part_day(const DateTime& t) { return t.day; }
int part_hour(const DateTime& t) { return t.hour; }
int part_minute(const DateTime& t) { return t.minute; }
int part_second(const DateTime& t) { return t.second; }
int part_quarter(const DateTime& t) { return (t.month + 2) / 3; }
int part_dow(const DateTime& t) { return day_of_week(t); }

void fn_dayname(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  DateTime t;
  if (!date_arg(ctx, argv[0], t)) return;
  result_text(ctx, kDayNames[day_of_week(t) - 1]);
}

void fn_monthname(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  DateTime t;
  if (!date_arg(ctx, argv[0], t)) return;
  result_text(ctx, kMonthNames[t.month - 1]);
}

// YMD(year, month, day): months past 12 (or below 1) move into other years, days past
// the month's end into the next months.
void fn_ymd(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  const sqlite3_int64 y = sqlite3_value_int64(argv[0]), m = sqlite3_value_int64(argv[1]),
                      d = sqlite3_value_int64(argv[2]);
  const sqlite3_int64 months = y * 12 + (m - 1);
  const sqlite3_int64 yy = months >= 0 ? months / 12 : -((-months + 11) / 12);
  const sqlite3_int64 mm = months - yy * 12 + 1;
  if (yy < 0 || yy > 9999) {
    fail(ctx, sql_error(-157, "Cannot make a date of year " + std::to_string(yy)));
    return;
  }
  const DateTime t = from_day_number(days_from_civil(static_cast<int>(yy), static_cast<int>(mm), 1) + d - 1);
  if (t.year < 0 || t.year > 9999) {
    fail(ctx, sql_error(-157, "Cannot make a date of year " + std::to_string(t.year)));
    return;
  }
  result_text(ctx, date_text(t));
}

// DAYS(date): days since 0000-02-29; DAYS(date, date): days from the first to the
// second; DAYS(date, integer): the date that many days later.
void fn_days(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  DateTime a;
  if (!date_arg(ctx, argv[0], a)) return;
  if (argc == 1) return sqlite3_result_int64(ctx, day_number(a) - kDayZero);
  if (sqlite3_value_type(argv[1]) == SQLITE_INTEGER) {
    DateTime t = from_day_number(day_number(a) + sqlite3_value_int64(argv[1]));
    if (a.has_time) {
      t.hour = a.hour;
      t.minute = a.minute;
      t.second = a.second;
      t.micros = a.micros;
      return result_text(ctx, timestamp_text(t));
    }
    return result_text(ctx, date_text(t));
  }
  DateTime b;
  if (!date_arg(ctx, argv[1], b)) return;
  sqlite3_result_int64(ctx, day_number(b) - day_number(a));
}

// WEEKS(date, date): the week starts (Sundays) from the first date to the second;
// WEEKS(date): those since 0000-02-29.
void fn_weeks(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  DateTime a;
  if (!date_arg(ctx, argv[0], a)) return;
  if (argc == 1)
    return sqlite3_result_int64(ctx, week_number(day_number(a)) - week_number(kDayZero));
  DateTime b;
  if (!date_arg(ctx, argv[1], b)) return;
  sqlite3_result_int64(ctx, week_number(day_number(b)) - week_number(day_number(a)));
}

// DATEFORMAT(value, format): YYYY and YY the year, MM the month (MMM its name short,
// MMMM long), DD the day (DDD and DDDD the day's name), HH, NN and SS the time, and
// S after "SS." the digits of the fraction. Letters are matched without regard to case.
std::string format_datetime(const DateTime& t, const std::string& fmt) {
  std::string out;
  char buf[16];
  std::size_t i = 0;
  auto run = [&](char c) {
    std::size_t n = 0;
    while (i + n < fmt.size() && std::toupper(static_cast<unsigned char>(fmt[i + n])) == c) ++n;
    return n;
  };
  while (i < fmt.size()) {
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(fmt[i])));
    const std::size_t n = run(c);
    if (c == 'Y' && n >= 2) {
      std::snprintf(buf, sizeof buf, n >= 4 ? "%04d" : "%02d", n >= 4 ? t.year : t.year % 100);
      out += buf;
    } else if (c == 'M' && n >= 2) {
      if (n >= 3)
        out += n >= 4 ? std::string(kMonthNames[t.month - 1])
                      : std::string(kMonthNames[t.month - 1]).substr(0, 3);
      else {
        std::snprintf(buf, sizeof buf, "%02d", t.month);
        out += buf;
      }
    } else if (c == 'D' && n >= 2) {
      if (n >= 3)
        out += n >= 4 ? std::string(kDayNames[day_of_week(t) - 1])
                      : std::string(kDayNames[day_of_week(t) - 1]).substr(0, 3);
      else {
        std::snprintf(buf, sizeof buf, "%02d", t.day);
        out += buf;
      }
    } else if ((c == 'H' || c == 'N') && n >= 2) {
      std::snprintf(buf, sizeof buf, "%02d", c == 'H' ? t.hour : t.minute);
      out += buf;
    } else if (c == 'S' && n >= 2) {
      std::snprintf(buf, sizeof buf, "%02d", t.second);
      out += buf;
      i += n;
      if (i < fmt.size() && fmt[i] == '.') {
        ++i;
        const std::size_t digits = run('S');
        std::snprintf(buf, sizeof buf, "%06u", static_cast<unsigned>(t.micros));
        if (digits > 0) out += "." + std::string(buf).substr(0, std::min<std::size_t>(digits, 6));
        else out += ".";
        i += digits;
      }
      continue;
    } else {
      out.append(fmt, i, n ? n : 1);
      i += n ? n : 1;
      continue;
    }
    i += n;
  }
  return out;
}

void fn_dateformat(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  DateTime t;
  if (!datetime_arg(ctx, argv[0], t, "timestamp")) return;
  result_text(ctx, format_datetime(t, text_of(argv[1])));
}

// --- Conversions that casts become --------------------------------------------------------

void fn_cast_date(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  DateTime t;
  if (date_arg(ctx, argv[0], t)) result_text(ctx, date_text(t));
}

void fn_cast_time(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  DateTime t;
  if (datetime_arg(ctx, argv[0], t, "time")) result_text(ctx, time_text(t));
}

// A time alone takes today's date.
void fn_cast_timestamp(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  DateTime t;
  if (!datetime_arg(ctx, argv[0], t, "timestamp")) return;
  if (!t.has_date) {
    const DateTime now = clock_now();
    t.year = now.year;
    t.month = now.month;
    t.day = now.day;
  }
  result_text(ctx, timestamp_text(t));
}

// Binary: the value's bytes (a number's as its text).
void fn_cast_binary(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  const std::string b = sqlite3_value_type(argv[0]) == SQLITE_BLOB
                            ? std::string(static_cast<const char*>(sqlite3_value_blob(argv[0])),
                                          static_cast<std::size_t>(sqlite3_value_bytes(argv[0])))
                            : text_of(argv[0]);
  sqlite3_result_blob(ctx, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
}

// The 16 bytes of a GUID text xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx, in the order of
// the text; false for anything else.
bool guid_bytes(const std::string& s, std::string& out) {
  if (s.size() != 36) return false;
  out.clear();
  for (std::size_t i = 0; i < 36;) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (s[i] != '-') return false;
      ++i;
      continue;
    }
    if (!std::isxdigit(static_cast<unsigned char>(s[i])) ||
        !std::isxdigit(static_cast<unsigned char>(s[i + 1])))
      return false;
    out.push_back(static_cast<char>(std::stoi(s.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return true;
}

std::string guid_text(const std::string& b) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
    out.push_back(kHex[static_cast<unsigned char>(b[i]) >> 4]);
    out.push_back(kHex[static_cast<unsigned char>(b[i]) & 15]);
  }
  return out;
}

// The GUID of a value: 16 bytes as they are, or a GUID text; false (the call
// failed) for anything else.
bool guid_arg(sqlite3_context* ctx, sqlite3_value* v, std::string& bytes) {
  if (sqlite3_value_type(v) == SQLITE_BLOB && sqlite3_value_bytes(v) == 16) {
    bytes.assign(static_cast<const char*>(sqlite3_value_blob(v)), 16);
    return true;
  }
  const std::string s = text_of(v);
  if (guid_bytes(s, bytes)) return true;
  fail(ctx, sql_error(-157, "Cannot convert '" + s + "' to a uniqueidentifier", {s}));
  return false;
}

void fn_cast_uuid(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  std::string b;
  if (guid_arg(ctx, argv[0], b)) sqlite3_result_blob(ctx, b.data(), 16, SQLITE_TRANSIENT);
}

void fn_cast_uuidstr(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (any_null(argc, argv)) return sqlite3_result_null(ctx);
  std::string b;
  if (guid_arg(ctx, argv[0], b)) result_text(ctx, guid_text(b));
}

struct Fn {
  const char* name;
  int argc;  // -1: any number
  void (*fn)(sqlite3_context*, int, sqlite3_value**);
  bool deterministic;
};

const Fn kFunctions[] = {
    {"char_length", 1, fn_char_length, true},
    {"byte_length", 1, fn_byte_length, true},
    {"byte_substr", 2, fn_byte_substr, true},
    {"byte_substr", 3, fn_byte_substr, true},
    {"locate", 2, fn_locate, true},
    {"locate", 3, fn_locate, true},
    {"string", -1, fn_string, true},
    {"repeat", 2, fn_repeat, true},
    {"left", 2, fn_left, true},
    {"right", 2, fn_right, true},
    {"lcase", 1, fn_lcase, true},
    {"ucase", 1, fn_ucase, true},
    {"ascii", 1, fn_ascii, true},
    {"difference", 2, fn_difference, true},
    {"truncate", 2, fn_truncate, true},
    {"rand", 0, fn_rand, false},
    {"rand", 1, fn_rand, false},
    {"cot", 1, fn_cot, true},
    {"log", 1, fn_ln, true},
    {"now", 0, fn_now, false},
    {"today", 0, fn_today, false},
    {"vq_current_timestamp", 0, fn_now, false},
    {"vq_current_date", 0, fn_today, false},
    {"vq_current_time", 0, fn_current_time, false},
    {"year", 1, fn_part<part_year>, true},
    {"month", 1, fn_part<part_month>, true},
    {"day", 1, fn_part<part_day>, true},
    {"hour", 1, fn_part<part_hour>, true},
    {"minute", 1, fn_part<part_minute>, true},
    {"second", 1, fn_part<part_second>, true},
    {"quarter", 1, fn_part<part_quarter>, true},
    {"dow", 1, fn_part<part_dow>, true},
    {"dayname", 1, fn_dayname, true},
    {"monthname", 1, fn_monthname, true},
    {"ymd", 3, fn_ymd, true},
    {"days", 1, fn_days, true},
    {"days", 2, fn_days, true},
    {"weeks", 1, fn_weeks, true},
    {"weeks", 2, fn_weeks, true},
    {"dateformat", 2, fn_dateformat, true},
    {"vq_cast_date", 1, fn_cast_date, true},
    {"vq_cast_time", 1, fn_cast_time, true},
    {"vq_cast_timestamp", 1, fn_cast_timestamp, false},
    {"vq_cast_binary", 1, fn_cast_binary, true},
    {"vq_cast_long_binary", 1, fn_cast_binary, true},
    {"vq_cast_uuid", 1, fn_cast_uuid, true},
    {"vq_cast_uuidstr", 1, fn_cast_uuidstr, true},
};

}  // namespace

void register_dialect_functions(sqlite3* db, Engine* engine) {
  for (const auto& f : kFunctions)
    sqlite3_create_function_v2(db, f.name, f.argc,
                               SQLITE_UTF8 | (f.deterministic ? SQLITE_DETERMINISTIC : 0), engine,
                               f.fn, nullptr, nullptr, nullptr);
  // SOUNDEX is SQLite's only when it was built with it.
  if (!sqlite3_compileoption_used("SOUNDEX"))
    sqlite3_create_function_v2(db, "soundex", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, engine,
                               fn_soundex, nullptr, nullptr, nullptr);
}

}  // namespace vqeng
