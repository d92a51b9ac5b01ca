// Timestamps of the fast clock's readings. The base is the reading of the first fast_tod
// call and the local time at that moment; a reading becomes the base timestamp moved by
// the milliseconds between the two.
#ifndef VQ_UTILS_ETC_CLOCK_STAMPS_H
#define VQ_UTILS_ETC_CLOCK_STAMPS_H

#include <cstdint>

#include "utils/etc/jdate.h"

extern "C" {

// A zero `tod` gives a zero timestamp; otherwise `base_ts` moved by tod - base_tod.
void fast_tod_to_timestamp_with_base(std::uint64_t tod, a_timestamp* out,
                                     std::uint64_t base_tod, const a_timestamp* base_ts);
// The same against the base of the first fast_tod reading (taken now when there was none).
void fast_tod_to_timestamp(std::uint64_t tod, a_timestamp* out);
// fast_tod_to_timestamp, broken down.
void fast_tod_to_datetime(std::uint64_t tod, a_time* out);

}  // extern "C"

#endif  // VQ_UTILS_ETC_CLOCK_STAMPS_H
