// Fuzz target of the key=value parser: any text against any option table, under every
// rule switch, must give a known code, a terminated error text of at most 255 bytes, a
// valid order list and non-empty values; the header reader, yes/no words and numbers must
// stay within the text they are given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/key_value_parser.h"
#include "config/option_tables.h"

namespace {

struct Table {
  const a_conn_option* rows;
  unsigned count;
};

const Table kTables[] = {
    {MapClientOptionTable, kClientSlots},
    {vq::config::kClientAndODBCOptionTable, kClientAndODBCSlots},
    {MapTLSOptionTable, kTLSSlots},
    {MapTCPIPOptionTable, kTCPIPSlots},
    {MapCPoolOptionTable, kCPoolSlots},
    {MapSyncOptionTable, kSyncSlots},
    {MapNotifyOptionTable, kNotifySlots},
    {MapODBCOptionTable, kODBCSlots},
};

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t switches = data[0];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  const char* ctext = text.c_str();  // stops at an embedded zero byte, as callers' texts do

  const Table& table = kTables[(switches >> 3) % (sizeof kTables / sizeof kTables[0])];
  a_string_parms parms = {};
  Check(InitSizedStringParms(&parms, table.count));
  int order[kParseOrderRoom];
  const int rc = ParseKeyValueString(ctext, &parms, table.rows, switches & 1, switches & 2,
                                     switches & 4, order);
  Check(rc >= kParseOk && rc <= kParseBadHeaderText && rc != kParseTextAfterGroup);
  const char* error = StringParmsError(&parms);
  Check(std::strlen(error) < kStringParmsErrorSize);
  unsigned listed = 0;
  for (int k = 0; order[k] != -1; ++k) {
    Check(order[k] >= 0 && unsigned(order[k]) < table.count);
    Check(parms.values[order[k]] != nullptr);
    for (int m = 0; m < k; ++m) Check(order[m] != order[k]);
    ++listed;
  }
  Check(listed <= table.count);
  for (unsigned i = 0; i < table.count; ++i) {
    if (parms.values[i] != nullptr) Check(parms.values[i][0] != '\0');
  }
  FreeStringParms(&parms);

  std::string header = text;
  char* pos = header.data();
  char* name = nullptr;
  const int hrc = ParseKeyValueHeader(&pos, &name);
  Check(hrc == kParseOk || hrc == kParseBrackets || hrc == kParseBadHeaderText);
  if (hrc == kParseOk) Check(pos >= header.data() && pos <= header.data() + header.size());

  std::string key_text = text;
  pos = key_text.data();
  for (int steps = 0; steps < 64; ++steps) {
    char* key = nullptr;
    if (ParseKeyValueNextKey(&pos, &key) != kParseOk || key == nullptr) break;
    char* value = nullptr;
    if (ParseKeyValueNextValue(&pos, &value, switches & 16, switches & 32) != kParseOk) break;
  }

  std::uint64_t number = 0;
  const char* end = nullptr;
  (void)knumber(ctext, &number, switches, switches & 64, switches & 128, &end);
  Check(end >= ctext && end <= ctext + std::strlen(ctext));
  int yes = 0;
  (void)ParseYesNo(ctext, &yes, switches & 1);
  return 0;
}
