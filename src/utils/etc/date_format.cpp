// The picture formatter and the validity test.
#include "utils/etc/date_format.h"

#include <cstdint>
#include <cstring>

#include "utils/etc/date_text.h"
#include "utils/etc/jdate_internal.h"

namespace {

using vq::etc::DateCharCount;
using vq::etc::DateCharLength;

constexpr std::uint8_t kMonthDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool IsLower(char c) { return c >= 'a' && c <= 'z'; }

enum class NameCase { kAsStored, kUpper, kLower };

// The output buffer of one formatting call.
class Writer {
 public:
  Writer(char* dst, unsigned cap, const UTCollationImplementationBase* coll)
      : dst_(dst), cap_(cap), coll_(coll) {}

  unsigned length() const { return len_; }
  bool full() const { return len_ >= cap_; }

  // One character of n bytes; false when it does not fit.
  bool Put(const char* s, std::size_t n) {
    if (n > cap_ - len_) return false;
    std::memcpy(dst_ + len_, s, n);
    len_ += static_cast<unsigned>(n);
    return true;
  }

  // A number in a field of w positions: asterisks when it is wider, zeros on the left
  // when `pad`. Stops at the first character that does not fit.
  void Number(std::uint64_t value, unsigned w, bool pad) {
    char digits[24];
    unsigned n = 0;
    do {
      digits[n++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    if (n > w) {
      for (unsigned i = 0; i < w; ++i)
        if (!Put("*", 1)) return;
      return;
    }
    if (pad) {
      for (unsigned i = n; i < w; ++i)
        if (!Put("0", 1)) return;
    }
    while (n > 0) {
      if (!Put(&digits[--n], 1)) return;
    }
  }

  // At most w characters of a name, case-converted; a missing name prints 0.
  void Name(const char* name, unsigned w, NameCase mode, bool pad) {
    if (name == nullptr) {
      Number(0, w, pad);
      return;
    }
    const char* end = name + std::strlen(name);
    for (unsigned i = 0; i < w && name < end; ++i) {
      const std::size_t n = DateCharLength(coll_, name, end);
      char buf[8];
      std::size_t out = n;
      const char* src = name;
      if (mode != NameCase::kAsStored) {
        out = mode == NameCase::kUpper
                  ? vq::etc::DateCharToUpper(coll_, buf, sizeof buf, name, n)
                  : vq::etc::DateCharToLower(coll_, buf, sizeof buf, name, n);
        src = out != 0 ? buf : name;
        if (out == 0) out = n;
      }
      if (!Put(src, out)) return;
      name += n;
    }
  }

 private:
  char* dst_;
  unsigned cap_;
  unsigned len_ = 0;
  const UTCollationImplementationBase* coll_;
};

}  // namespace

extern "C" {

unsigned timetostring_ex(const a_time* time, char* dst, unsigned dstlen, const char* picture,
                         const a_jdate_langstrings* names,
                         const UTCollationImplementationBase* coll, short zone_minutes) {
  if (time == nullptr || dst == nullptr || picture == nullptr) return 0;
  if (names == nullptr) names = &JDT_english_langstrings;
  const bool twelve = std::strpbrk(picture, "aApP") != nullptr;
  const int zone_abs = zone_minutes < 0 ? -zone_minutes : zone_minutes;
  const unsigned zone_hours = static_cast<unsigned>(zone_abs / 60);
  const unsigned zone_mins = static_cast<unsigned>(zone_abs % 60);

  Writer out(dst, dstlen, coll);
  bool zone_mode = false;
  bool second_done = false;
  char prev_literal = '\0';
  const char* p = picture;
  const char* const end = picture + std::strlen(picture);
  while (p < end && !out.full()) {
    const char letter = AsciiUpper(*p);
    if (letter == 'E' || letter == 'F') {
      ++p;
      continue;
    }
    if (*p == '+') {
      if (!out.Put(zone_minutes < 0 ? "-" : "+", 1)) break;
      zone_mode = true;
      prev_literal = '+';
      ++p;
      continue;
    }
    if (std::strchr("MDYJAHNSIUP", letter) == nullptr || letter == '\0') {
      const std::size_t n = DateCharLength(coll, p, end);
      if (!out.Put(p, n)) break;  // a literal that does not fit ends the text
      prev_literal = *p;
      p += n;
      continue;
    }

    // A field: the run of this letter in either case.
    const char* run = p;
    unsigned w = 0;
    bool all_upper = true;
    bool all_lower = true;
    while (p < end && AsciiUpper(*p) == letter) {
      all_upper = all_upper && IsUpper(*p);
      all_lower = all_lower && IsLower(*p);
      ++p;
      ++w;
    }
    const NameCase mode =
        all_upper ? NameCase::kUpper : (all_lower ? NameCase::kLower : NameCase::kAsStored);
    const bool pad = w == 1 || run[0] == run[1];

    switch (letter) {
      case 'A': {
        const bool pm = time->hour > 11;
        const int which = w >= 3 ? (pm ? kLongAfternoon : kLongMorning)
                                 : (pm ? kShortAfternoon : kShortMorning);
        out.Name(names->indicators[which], w, mode, pad);
        break;
      }
      case 'P':
        if (time->hour >= 12) out.Name(names->indicators[kShortAfternoon], w, mode, pad);
        break;
      case 'D':
        if (w == 1) {
          out.Number(time->weekday + 1u, w, pad);
        } else if (w == 2) {
          out.Number(time->day, w, pad);
        } else if (time->weekday > 6) {
          out.Name("ERR", w, mode, pad);
        } else {
          const char* short_name = names->short_days[time->weekday];
          const unsigned short_len = short_name == nullptr
                                         ? 0
                                         : static_cast<unsigned>(DateCharCount(
                                               coll, short_name, std::strlen(short_name)));
          if (w == 3 || (short_name != nullptr && w == short_len)) {
            out.Name(short_name, short_name == nullptr ? w : short_len, mode, pad);
          } else {
            out.Name(names->days[time->weekday], w, mode, pad);
          }
        }
        break;
      case 'H': {
        unsigned hour = time->hour;
        if (zone_mode) {
          hour = zone_hours;
        } else if (twelve) {
          hour = hour % 12 == 0 ? 12 : hour % 12;
        }
        out.Number(hour, w, pad);
        break;
      }
      case 'I':
        out.Number(time->microsecond / 1000, w, pad);
        break;
      case 'J':
        out.Number(time->yearday + 1u, w, pad);
        break;
      case 'M':
        if (prev_literal == ':') {
          out.Number(zone_mode ? zone_mins : time->minute, w, pad);
        } else if (w <= 2) {
          out.Number(time->month + 1u, w, pad);
        } else if (time->month > 11) {
          out.Name("ERR", w, mode, pad);
        } else if (w == 3) {
          out.Name(names->short_months[time->month], 3, mode, pad);
        } else {
          out.Name(names->months[time->month], w, mode, pad);
        }
        break;
      case 'N':
        out.Number(zone_mode ? zone_mins : time->minute, w, pad);
        break;
      case 'S':
        if (!second_done) {
          second_done = true;
          out.Number(time->second, w, pad);
        } else {
          // The fraction: the leading `width` digits of the six.
          unsigned width = w >= 7 ? 6 : w;
          std::uint64_t value = time->microsecond;
          for (unsigned i = width; i < 6; ++i) value /= 10;
          bool fraction_pad = pad;
          if (!pad && value >= 1) {
            while (value % 10 == 0) {
              value /= 10;
              --width;
            }
            fraction_pad = true;
          }
          out.Number(value, width, fraction_pad);
        }
        break;
      case 'U':
        out.Number(time->microsecond, w, pad);
        break;
      case 'Y':
        out.Number(w <= 2 ? time->year % 100u : time->year, w, pad);
        break;
      default:
        break;
    }
  }
  return out.length();
}

unsigned timetostring_nullterm_ex(const a_time* time, char* dst, unsigned dstlen,
                                  const char* picture, const a_jdate_langstrings* names,
                                  const UTCollationImplementationBase* coll) {
  if (dst == nullptr || dstlen == 0) return 0;
  const unsigned n = timetostring_ex(time, dst, dstlen - 1, picture, names, coll, 0);
  dst[n] = '\0';
  return n;
}

int validDatetime(const a_time* time) {
  if (time == nullptr) return 0;
  if (time->year < 1 || time->year > 9999 || time->month > 11) return 0;
  if (time->day < 1 || time->day > kMonthDays[time->month]) return 0;
  if (time->month == 1 && time->day == 29 && !vq::etc::IsLeapYear(time->year)) return 0;
  if (time->hour > 23 || time->minute > 59 || time->second > 59) return 0;
  return 1;
}

}  // extern "C"
