// Fuzz target of the connection-string parsers: the client's string (old comma form or
// key=value), the ODBC and client string, connection-string lists, Encryption values and
// the typed parameters. A client string that parses must build back into text that parses
// to the same values.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/conn_parms.h"
#include "config/conn_string.h"
#include "config/conn_string_list.h"
#include "config/encrypt_level.h"
#include "utils/base/memory.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool SameValues(const a_string_parms& a, const a_string_parms& b) {
  if (a.count != b.count) return false;
  for (unsigned i = 0; i < a.count; ++i) {
    const char* x = a.values[i];
    const char* y = b.values[i];
    if ((x == nullptr) != (y == nullptr)) return false;
    if (x != nullptr && std::strcmp(x, y) != 0) return false;
  }
  return true;
}

// Brackets of both kinds nest and match.
bool Balanced(const char* text) {
  std::string stack;
  for (; *text != '\0'; ++text) {
    if (*text == '(' || *text == '{') {
      stack.push_back(*text);
    } else if (*text == ')' || *text == '}') {
      if (stack.empty() || stack.back() != (*text == ')' ? '(' : '{')) return false;
      stack.pop_back();
    }
  }
  return stack.empty();
}

std::string Describe(a_cs_list_element_list& list) {
  std::string out;
  for (a_cs_list_element_iter it(list); !it.at_end(); it.next()) {
    out += it.element()->name;
    out +=
        it.element()->options != nullptr ? std::string("{") + it.element()->options + "}" : "";
    out += '\n';
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  unsetenv("VCCONNECT");  // the environment must not steer the parse
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const char* ctext = text.c_str();

  a_string_parms parms = {};
  const int rc = ParseStringParmsStringOnly(ctext, &parms);
  Check(rc >= kParseOk && rc <= kParseBadHeaderText);
  if (rc == kParseOk && (parms.flags & kStringParmsOldStyle) == 0) {
    char* built = BuildConnectString(&parms, false);
    Check(built != nullptr);
    a_string_parms again = {};
    Check(ParseEngString(built, &again) == kParseOk);
    Check(SameValues(parms, again));
    FreeStringParms(&again);
    FreeConnectString(built);
  }
  char message[64];
  GetParseErrorInfo(rc, &parms, nullptr, message, sizeof message);
  FreeStringParms(&parms);

  a_string_parms odbc = {};
  int order[kParseOrderRoom];
  (void)ParseODBCAndClientString(ctext, &odbc, size % 2 == 0, order);
  for (int k = 0; order[k] != -1; ++k) Check(unsigned(order[k]) < kClientAndODBCSlots);
  FreeStringParms(&odbc);

  a_cs_list_element_list list;
  const int lrc = ParseCSListString(ctext, &list, nullptr);
  Check(lrc == kParseOk || lrc == kParseTextAfterGroup || lrc == kParseBrackets);
  // A list whose option texts are balanced builds into text that parses back to it. (An
  // option text that ran to the end of the text with a bracket still open cannot be
  // written back in braces and read the same.)
  bool balanced = true;
  for (a_cs_list_element_iter it(list); !it.at_end(); it.next()) {
    if (it.element()->options != nullptr && !Balanced(it.element()->options)) balanced = false;
  }
  // A last element with an empty name and no options is written as nothing at all
  // ("a," holds one element), so it does not come back either.
  a_cs_list_element* last = list.last_element();
  if (last != nullptr && last->name[0] == '\0' && last->options == nullptr) balanced = false;
  char* rebuilt = BuildCSListString(&list);
  if (rebuilt != nullptr && balanced && lrc == kParseOk) {
    a_cs_list_element_list again;
    Check(ParseCSListString(rebuilt, &again, nullptr) == kParseOk);
    Check(Describe(again) == Describe(list));
    ClearCSList(&again);
  }
  ut_free(rebuilt);
  ClearCSList(&list);

  c_encrypt_level level(0u, nullptr);
  (void)level.set_level(ctext);
  Check(level.get_level_name() != nullptr);

  c_conn_parms typed;
  if (typed.init(ctext, false) == kParseOk) {
    (void)typed.getConnectionString();
    for (int slot = 0; slot < int(kClientSlots); ++slot) {
      if (c_conn_parms::isNumberSlot(slot)) Check(typed.getInt(slot) >= -1);
    }
  }
  return 0;
}
