// Dates and times as text by a picture, and the validity test of a broken-down time.
//
// A picture is a string of fields and literals. A field is a run of one letter (case
// does not matter for the letter): Y year, M month (minute after a ":" literal), D day
// (D weekday number, DD day of month, DDD and longer day names), J day of year, H hour,
// N minute, S second (a later S field is the fraction of the second), I millisecond,
// U microsecond, A morning/afternoon indicator, P afternoon indicator (only from noon).
// E and F are skipped; "+" writes the sign of the zone offset and turns the following
// H and N (and M after ":") into the offset's hours and minutes. Anything else is copied.
// A run of capitals prints names in capitals, a run of small letters in small letters,
// a mixed run as stored; a run whose first two letters differ in case does not pad
// numbers with zeros. A number wider than its field prints asterisks and a name wider
// than its field is cut. The letters a, A, p or P anywhere in a picture select the
// twelve-hour clock.
#ifndef VQ_UTILS_ETC_DATE_FORMAT_H
#define VQ_UTILS_ETC_DATE_FORMAT_H

#include "utils/etc/date_names.h"
#include "utils/etc/jdate.h"

extern "C" {

// Writes `time` by `picture` into dst (at most dstlen bytes, no terminator); the bytes
// written. Names come from `names` (English when null). Never fails: a weekday or month
// out of range prints "ERR", a missing name prints 0.
unsigned timetostring_ex(const a_time* time, char* dst, unsigned dstlen, const char* picture,
                         const a_jdate_langstrings* names,
                         const UTCollationImplementationBase* coll, short zone_minutes);
// As timetostring_ex with zone 0 into dstlen - 1 bytes, then a terminator; the length
// without it. 0 (and nothing written) when dstlen is 0.
unsigned timetostring_nullterm_ex(const a_time* time, char* dst, unsigned dstlen,
                                  const char* picture, const a_jdate_langstrings* names,
                                  const UTCollationImplementationBase* coll);

// 1 when the year is 1 to 9999, the month 0 to 11, the day within the month (29 February
// only in a leap year), the hour at most 23 and minute and second at most 59; else 0.
int validDatetime(const a_time* time);

}  // extern "C"

#endif  // VQ_UTILS_ETC_DATE_FORMAT_H
