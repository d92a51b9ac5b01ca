// Text to dates and times: by a picture, free-form, and day names to weekdays.
//
// Names (months, days, morning and afternoon indicators) are recognised in every set of
// `sets`, searched in order (English alone when `sets` is null), and compared through
// the collation (ASCII case rules when it is null). A two-digit year v becomes 1900 + v
// when v >= century_pivot, else 2000 + v. Every parser returns 1 on success and 0 when
// the text is rejected; `out` is then partly filled and must not be used. On success the
// weekday and day of year of `out` are those of its date.
#ifndef VQ_UTILS_ETC_DATE_PARSE_H
#define VQ_UTILS_ETC_DATE_PARSE_H

#include "utils/etc/date_names.h"
#include "utils/etc/jdate.h"

enum : int {
  kDateOrderDayMonthYear = 0,  // any value other than the two below
  kDateOrderYearMonthDay = 1,
  kDateOrderMonthDayYear = 2,
};

extern "C" {

// The text read by a picture of the formatter's language: DD, MM, MMM (a month name,
// three characters), YY, YYYY, runs of "-", "." or "/" (any of the three in the text),
// and a time group from HH on (hour, minute, second and fraction separated by ":" or
// ".", then an optional indicator). Blanks and tabs before each field are skipped, and
// only they may follow the last one. Other picture characters must appear in the text
// (letters in either case). A date field the picture lacks is taken from today.
int strtotimefmt_with_century_ex(const char* text, a_time* out, const char* picture,
                                 const UTCollationImplementationBase* coll,
                                 unsigned century_pivot, const a_jdate_name_sets* sets);

// Free-form text: dates in the given order (kDateOrder*), four-digit years, month and
// day names, ISO 8601 forms (YYYYMMDD, YYYY-DDD, YYYY-Www-D, "T", fractions, "Z" and
// +hh:mm / -hhmm offsets), times with optional indicators. A zone offset, when one was
// given, is stored in minutes east of UTC through zone_minutes (-1 when none; may be
// null). Parts missing from the text come from today (date) or are 0 (time).
int strtotime_with_century_ex(const char* text, a_time* out, int date_order,
                              const UTCollationImplementationBase* coll, unsigned century_pivot,
                              const a_jdate_name_sets* sets, short* zone_minutes);

// The weekday (0 = Sunday) of a long or short day name that is the whole text, else -1
// (also for an empty or null list).
int strtoweekday_ex(const char* text, const UTCollationImplementationBase* coll,
                    const a_jdate_name_sets* sets);

}  // extern "C"

#endif  // VQ_UTILS_ETC_DATE_PARSE_H
