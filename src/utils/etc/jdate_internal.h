// Helpers shared by the calendar files of this folder.
#ifndef VQ_UTILS_ETC_JDATE_INTERNAL_H
#define VQ_UTILS_ETC_JDATE_INTERNAL_H

#include <cstdint>

#include "utils/etc/jdate.h"

namespace vq::etc {

// === in jdate.cpp ===
// The day number of a date (month 1 to 12, 13 = January of the next year), whatever the
// year; 64-bit so that no argument overflows.
std::int64_t DayNumber(std::int64_t month, std::int64_t day, std::int64_t year);
bool IsLeapYear(std::int64_t year);
// Weekday (0 = Sunday) of 1 January of `year`.
int WeekdayOfJanuaryFirst(std::int64_t year);
// Stores a day number and a minute of the day (which may be negative and borrow from the
// day) as a jdate: the minute form while the day is below kJdateDayFormFromDay and the
// value stays below the day form, else the day form of the day (the minute dropped).
jdate StoreDayAndMinute(std::int64_t day, std::int64_t minute);

// === in timestamp_arith.cpp ===
// timestamp_ADDMINUTES for any 64-bit amount.
void AddMinutes(a_timestamp* stamp, std::int64_t minutes);

}  // namespace vq::etc

#endif  // VQ_UTILS_ETC_JDATE_INTERNAL_H
