// The process's byte table of case mappings and character lengths.
#include "utils/locale/char_functions.h"

#include <cctype>

#include "utils/base/path_helpers.h"
#include "utils/base/path_split.h"
#include "utils/locale/utlocale.h"

// Constant-initialised, so it is usable before any static constructor has run.
LS_CharFunctions LSCharFunctions;

namespace {

struct LeadByteRange {
  unsigned char first;
  unsigned char last;
};

// The lead bytes of a double-byte set, by its IANA label; none for other sets.
struct LeadBytes {
  const char* label;
  LeadByteRange ranges[2];
};

const LeadBytes kLeadBytes[] = {
    {"Shift-JIS", {{0x81, 0x9F}, {0xE0, 0xEF}}},
    {"Windows-31J", {{0x81, 0x9F}, {0xE0, 0xFC}}},
    {"GBK", {{0x81, 0xFE}, {0x81, 0xFE}}},
    {"GB18030", {{0x81, 0xFE}, {0x81, 0xFE}}},
};

// The base utilities walk paths and search strings character by character in the
// operating system's character set; once the process's table is filled they take
// their character lengths from it.
unsigned PathCharLength(unsigned char lead) { return LSCharFunctions.charLength(lead); }
unsigned CollationCharLength(const UTCollation*, const UTLocale*, unsigned char lead) {
  return LSCharFunctions.charLength(lead);
}

}  // namespace

void LS_CharFunctions::init() {
  if (initialised_) return;
  const CharsetInfo* os = UTLocale::FindOSCharset(1);
  const LeadBytes* lead = nullptr;
  for (const LeadBytes& candidate : kLeadBytes) {
    if (os == UTLocale::GetCharsetInfoFromLabel(candidate.label, kSchemeIANA)) {
      lead = &candidate;
      break;
    }
  }
  multibyte_ = 0;
  for (int c = 0; c < 256; ++c) {
    a_ls_char_entry& e = table_[c];
    if (std::isalpha(c)) {
      e.upper = static_cast<std::uint8_t>(std::toupper(c));
      e.lower = static_cast<std::uint8_t>(std::tolower(c));
    } else {
      e.upper = 0;
      e.lower = 0;
    }
    e.length = 1;
    e.unused = 0;
    if (lead != nullptr) {
      for (const LeadByteRange& r : lead->ranges) {
        if (c >= r.first && c <= r.last) {
          e.length = 2;
          multibyte_ = 1;
        }
      }
    }
  }
  initialised_ = 1;
  if (this == &LSCharFunctions) {
    vq::base::SetPathCharLengthFn(&PathCharLength);
    vq::base::SetCollationCharLengthFn(&CollationCharLength);
  }
}

const unsigned char* LS_CharFunctions::prevChar(const unsigned char* start,
                                                const unsigned char* p) const {
  if (p == start) return p;
  if (!multibyte_) return p - 1;
  // A trail byte may look like a lead byte, so the only safe way back is forward
  // from a known character start.
  const unsigned char* q = start;
  for (;;) {
    const unsigned char* next = q + charLength(*q);
    if (next >= p) return q;
    q = next;
  }
}
