// Name sets of dates: day names, month names and the morning and afternoon indicators
// of one language, the built-in English set, the list of sets the parsers search, and
// the matching of a name at the start of a text.
//
// Names are matched and case-converted through a collation implementation; a null
// collation means single-byte text under ASCII case rules.
#ifndef VQ_UTILS_ETC_DATE_NAMES_H
#define VQ_UTILS_ETC_DATE_NAMES_H

#include <cstddef>
#include <cstdint>

class UTCollationImplementationBase;

// One name set: 46 string pointers; a null pointer ends each list early.
struct a_jdate_langstrings {
  const char* days[8];           // Sunday to Saturday, then null
  const char* short_days[8];     // the same, short
  const char* months[13];        // January to December, then null
  const char* short_months[13];  // the same, short
  const char* indicators[4];     // long morning, long afternoon, short morning, short afternoon
};
static_assert(sizeof(a_jdate_langstrings) == 46 * sizeof(const char*), "46 name pointers");

enum : int {
  kLongMorning = 0,
  kLongAfternoon = 1,
  kShortMorning = 2,
  kShortAfternoon = 3,
};

constexpr int kMaxNameSets = 3;

// The sets the parsers search, in order.
struct a_jdate_name_sets {
  std::int32_t count;                             // 0 to 3
  const a_jdate_langstrings* sets[kMaxNameSets];  // the first `count` are used
};

extern "C" {

extern const a_jdate_langstrings JDT_english_langstrings;

// Tries the names of a null-terminated list in order against text[0, textlen). A name
// matches when more than one byte of the text agrees with it (character by character,
// under the collation) and the match reaches textlen or stops before a character that
// is not a letter: "Jun " matches "June", "Jul" does not. Returns 1 with the bytes
// matched and the name's index for the first match, else 0.
int match_date_name(const char* const* list, const char* text, std::size_t textlen,
                    std::size_t* matched, int* index,
                    const UTCollationImplementationBase* coll);

}  // extern "C"

#endif  // VQ_UTILS_ETC_DATE_NAMES_H
