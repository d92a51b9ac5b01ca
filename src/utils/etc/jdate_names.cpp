// Date names loaded from the message catalog.
#include "utils/etc/jdate_names.h"

#include <cstring>

#include "utils/base/memory.h"
#include "utils/locale/lang_string.h"

namespace {

// Message numbers of the names, in the order of the lists.
constexpr unsigned long kDayIds[7] = {6638, 6628, 6642, 6644, 6640, 6616, 6634};
constexpr unsigned long kShortDayIds[7] = {6637, 6627, 6641, 6643, 6639, 6615, 6633};
constexpr unsigned long kMonthIds[12] = {6618, 6614, 6624, 6608, 6626, 6622,
                                         6620, 6610, 6636, 6632, 6630, 6612};
constexpr unsigned long kShortMonthIds[12] = {6617, 6613, 6623, 6607, 6625, 6621,
                                              6619, 6609, 6635, 6631, 6629, 6611};
constexpr unsigned long kIndicatorIds[4] = {14865, 14866, 6605, 6606};

template <std::size_t N>
void init_string_array(const char** list, const unsigned long (&ids)[N],
                       UTLangStringBase& strings) {
  for (std::size_t i = 0; i < N; ++i) list[i] = JDate::load_string(strings, ids[i]);
  list[N] = nullptr;
}

unsigned Longest(const char* const* list, std::size_t n, unsigned longest) {
  for (std::size_t i = 0; i < n && list[i] != nullptr; ++i) {
    const auto len = static_cast<unsigned>(std::strlen(list[i]));
    if (len > longest) longest = len;
  }
  return longest;
}

void FreeList(const char** list, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    ut_free(const_cast<char*>(list[i]));  // every own name came from ut_malloc
    list[i] = nullptr;
  }
}

}  // namespace

JDateBase::JDateBase(UTCollation* collation) : collation_(collation) {}

void JDateBase::SetStrings(int count, const a_jdate_langstrings** sets) {
  if (count < 0 || sets == nullptr) count = 0;
  if (count > kMaxNameSets) count = kMaxNameSets;
  sets_ = a_jdate_name_sets{};
  sets_.count = count;
  for (int i = 0; i < count; ++i) sets_.sets[i] = sets[i];
  recompute_longest();
}

unsigned JDateBase::recompute_longest() {
  unsigned longest = 0;
  for (int i = 0; i < sets_.count; ++i) {
    const a_jdate_langstrings* set = sets_.sets[i];
    if (set == nullptr) continue;
    longest = Longest(set->months, 12, longest);
    longest = Longest(set->short_months, 12, longest);
    longest = Longest(set->days, 7, longest);
    longest = Longest(set->short_days, 7, longest);
    for (const char* indicator : set->indicators) {
      if (indicator != nullptr && std::strlen(indicator) > longest)
        longest = static_cast<unsigned>(std::strlen(indicator));
    }
  }
  longest_ = longest;
  return longest;
}

JDate::JDate(UTCollation* collation) : JDateBase(collation) {
  const a_jdate_langstrings* sets[2] = {&own_, &JDT_english_langstrings};
  SetStrings(2, sets);
}

JDate::~JDate() { Fini(); }

void JDate::Init(UTLangStringBase& strings) {
  free_strings(own_);
  load_strings(own_, strings);
  recompute_longest();
}

void JDate::Fini() {
  free_strings(own_);
  recompute_longest();
}

void JDate::load_strings(a_jdate_langstrings& names, UTLangStringBase& strings) {
  init_string_array(names.months, kMonthIds, strings);
  init_string_array(names.short_months, kShortMonthIds, strings);
  init_string_array(names.days, kDayIds, strings);
  init_string_array(names.short_days, kShortDayIds, strings);
  for (int i = 0; i < 4; ++i) names.indicators[i] = load_string(strings, kIndicatorIds[i]);
}

char* JDate::load_string(UTLangStringBase& strings, unsigned long number) {
  char buf[257];
  const unsigned n = strings.GetString(number, buf, sizeof buf);
  if (n == 0 || buf[0] == '\0') return nullptr;
  const std::size_t len = std::strlen(buf);
  auto* copy = static_cast<char*>(ut_malloc(len + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, buf, len + 1);
  return copy;
}

void JDate::free_strings(a_jdate_langstrings& names) {
  FreeList(names.months, 13);
  FreeList(names.short_months, 13);
  FreeList(names.days, 8);
  FreeList(names.short_days, 8);
  FreeList(names.indicators, 4);
}
