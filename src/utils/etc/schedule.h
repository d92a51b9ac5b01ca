// Schedule texts: how many minutes remain until a schedule's next window opens and
// until it closes.
//
// Forms (keywords in any case; hh and mm are 1-2 digits, no blanks):
//   INFINITE                     recurring, both results 0xFFFFFFFF
//   EVERY:h:mm                   recurring every h (up to 4 digits) hours mm minutes;
//                                both results h * 60 + mm
//   item,item,...                the soonest of the items' windows; not recurring
// Items: EVERYDAY@range, WEEKDAY@range (Monday to Friday), <day name>@range (a long or
// short day name of any name set), dd@range (day of the month 1 to 31, 0 = the last).
// A range is hh:mm[AM|PM][-hh:mm[AM|PM]]; with AM or PM the hour is 1 to 12, without it
// at most 24; a range without an end has no length. A window whose end is before its
// start runs across midnight.
#ifndef VQ_UTILS_ETC_SCHEDULE_H
#define VQ_UTILS_ETC_SCHEDULE_H

#include "utils/etc/date_names.h"
#include "utils/etc/jdate.h"

extern "C" {

// 1 when `text` is a valid schedule, with the results for the local time `now` (a jdate
// in the minute form); 0 for an empty text or any syntax error (the results are then as
// the items before the error left them). minutes_to_start is 0 while a window is open.
int parseSchedule(const a_jdate_name_sets* sets, const UTCollationImplementationBase* coll,
                  const char* text, jdate now, unsigned* recurring, unsigned* minutes_to_start,
                  unsigned* minutes_to_end);

}  // extern "C"

#endif  // VQ_UTILS_ETC_SCHEDULE_H
