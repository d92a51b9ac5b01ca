// Fuzz target of escape translation and its scanner: any text, in UTF-8, a double-byte
// or a single-byte character set and with each translation option, is translated or
// refused with one of the translator's codes, and is never read past its end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "odbc/escape_translate.h"
#include "odbc/sql_scanner.h"
#include "utils/locale/char_functions.h"

namespace {
void Check(bool condition) {
  if (!condition) std::abort();
}

const LS_CharFunctions& ShiftJis() {
  static const LS_CharFunctions table = [] {
    setenv("VCCHARSET", "Shift_JIS", 1);
    LS_CharFunctions t;
    t.init();
    return t;
  }();
  return table;
}

const EscapeFunction kTable[] = {
    {"convertsql_date", "D", "&", nullptr, nullptr, nullptr},
    {"strtouuid", nullptr, "%1%-2&T1", "&", "&-0", "IN"},
    {"F", "", "&9&-9&T9%", "%", nullptr, ","},
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};
}  // namespace

// First byte: bit 0 UTF-8, bit 1 Shift_JIS lead bytes, bit 2 no scan, bit 3 server version
// 7000, bit 4 mode 1, bit 5 "%" comments and markers, bit 6 a caller's table.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const unsigned options = data[0];
  const char* text = reinterpret_cast<const char*>(data + 1);
  const std::size_t length = size - 1;

  EscapeContext context;
  context.client_code_page = (options & 1) != 0 ? kCodePageUtf8 : 932;
  context.lead_bytes = (options & 2) != 0 ? &ShiftJis() : nullptr;
  context.no_scan = (options & 4) != 0;
  context.server_version = (options & 8) != 0 ? 7000 : 6000;
  const int mode = (options & 16) != 0 ? 1 : 0;
  const bool percent = (options & 32) != 0;
  const EscapeFunction* table = (options & 64) != 0 ? kTable : nullptr;

  std::string out;
  EscapeError error;
  const int rc = Parse(context, &out, text, text + length, table, mode, percent, &error);
  Check(rc == error.code);
  Check(rc >= kEscapeOk && rc <= kEscapeNoMemory);
  Check(rc == kEscapeOk || error.position <= length);
  Check(out.size() <= length * kEscapeMaxGrowth + kEscapeGrowthSlackBytes);
  if (context.no_scan) Check(rc == kEscapeOk && out == std::string(text, length));
  // Text without braces or vendor blocks comes back as it went in.
  const std::string input(text, length);
  if (rc == kEscapeOk && input.find('{') == std::string::npos &&
      input.find("--(*") == std::string::npos) {
    Check(out == input);
  }
  (void)SqlBeginsWithInsert(text, length);
  return 0;
}
