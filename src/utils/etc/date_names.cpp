// The built-in English name set and name matching.
#include "utils/etc/date_names.h"

#include "utils/etc/date_text.h"

extern "C" {

const a_jdate_langstrings JDT_english_langstrings = {
    {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", nullptr},
    {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat", nullptr},
    {"January", "February", "March", "April", "May", "June", "July", "August", "September",
     "October", "November", "December", nullptr},
    {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec",
     nullptr},
    {"am", "pm", "am", "pm"},
};

int match_date_name(const char* const* list, const char* text, std::size_t textlen,
                    std::size_t* matched, int* index,
                    const UTCollationImplementationBase* coll) {
  if (list == nullptr || text == nullptr) return 0;
  const char* text_end = text + textlen;
  for (int i = 0; list[i] != nullptr; ++i) {
    const char* name = list[i];
    const char* name_end = name;
    while (*name_end != '\0') ++name_end;
    const char* t = text;
    const char* n = name;
    while (t < text_end && n < name_end) {
      const char* t_next = t;
      const char* n_next = n;
      if (vq::etc::DateCompareChar(coll, t, text_end, &t_next, n, name_end, &n_next) != 0)
        break;
      t = t_next;
      n = n_next;
    }
    const auto m = static_cast<std::size_t>(t - text);
    if (m > 1 && (m >= textlen || !vq::etc::DateIsAlpha(coll, t, text_end))) {
      if (matched != nullptr) *matched = m;
      if (index != nullptr) *index = i;
      return 1;
    }
  }
  return 0;
}

}  // extern "C"
