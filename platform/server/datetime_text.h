// Dates, times and timestamps as the stand-in keeps them in SQLite: text in one
// form per kind ("YYYY-MM-DD", "HH:MM:SS" with ".ffffff" when the fraction is not 0,
// "YYYY-MM-DD HH:MM:SS.ffffff"), so that values of one kind compare as text.
#pragma once

#include <cstdint>
#include <string>

namespace vqeng {

struct DateTime {
  int year = 0, month = 0, day = 0;  // month 1..12, day 1..31
  int hour = 0, minute = 0, second = 0;
  std::uint32_t micros = 0;  // 0..999999
  bool has_date = false, has_time = false;
};

// Reads "YYYY-MM-DD", "YYYY/MM/DD", either followed by a blank or 'T' and a time,
// or a time alone: "HH:MM[:SS[.f...]]" (fraction digits past the sixth are dropped).
// False for anything else, or for a field out of range (31 February among them).
bool parse_datetime(const std::string& text, DateTime& out);

std::string date_text(const DateTime& t);
std::string time_text(const DateTime& t);
std::string timestamp_text(const DateTime& t);

// Days since 1970-01-01 of a date (proleptic Gregorian), and back.
std::int64_t days_from_civil(int y, int m, int d);
void civil_from_days(std::int64_t z, int& y, int& m, int& d);

}  // namespace vqeng
