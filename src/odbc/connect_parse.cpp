// Filling the connection-attribute slots: a connection string parsed against the client
// and ODBC option tables, the VCCONNECT defaults, the data source, and the expansion of a
// Database value into a database name and file.
//
// Precedence: a slot the application set (an argument of SQLConnect, an earlier round of
// SQLBrowseConnect) keeps its value; then the connection string; then VCCONNECT, which
// only fills slots still without text; then the data source, which fills slots still
// unset. DSN and Driver exclude each other: the first one given wins.
#include <cctype>
#include <cstring>

#include "config/conn_string.h"
#include "config/option_tables.h"
#include "odbc/connect.h"
#include "odbc/data_sources.h"
#include "odbc/diagnostics.h"
#include "odbc/engine.h"
#include "utils/base/memory.h"
#include "utils/base/path_split.h"
#include "utils/locale/lang_string.h"

namespace {

constexpr a_packed_sqlstate kState01S00 = PackSQLState("01S00");

constexpr std::int32_t kSqlDataSourceNotFound = -754;
constexpr std::int32_t kSqlBadConnectString = -95;

// Longest root of a Database value made into a name, in characters.
constexpr std::size_t kMaxRootChars = 39;

void Wipe(char* text) {
  if (text != nullptr) std::memset(text, 0, std::strlen(text));
}

// The partner a slot excludes: DSN and Driver.
int Partner(int slot) {
  if (slot == kSlotDataSourceName) return kSlotDriver;
  if (slot == kSlotDriver) return kSlotDataSourceName;
  return -1;
}

// Bytes of the character at p, never past the terminator.
std::size_t CharBytes(const char* p) {
  std::size_t n = 1;
  const unsigned step = vq::base::PathCharLength(static_cast<unsigned char>(*p));
  while (n < step && p[n] != '\0') ++n;
  return n;
}

bool IsSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }

}  // namespace

// ---- Slots ---------------------------------------------------------------------------------

void ClearConnAttr(tagDBC* dbc, int slot) {
  if (slot < 0 || slot >= static_cast<int>(kConnAttrSlots)) return;
  tagCONNATTR& attr = dbc->attrs[slot];
  Wipe(attr.text);
  ut_free(attr.text);
  attr.text = nullptr;
  attr.source = kAttrUnset;
}

int SetConnAttr(tagDBC* dbc, int slot, const char* text, std::int32_t source) {
  if (slot < 0 || slot >= static_cast<int>(kConnAttrSlots)) return -1;
  if (text == nullptr || text[0] == '\0') {
    ClearConnAttr(dbc, slot);
    return 0;
  }
  const std::size_t length = std::strlen(text);
  auto* copy = static_cast<char*>(VAllocLocked(dbc, length + 1));
  if (copy == nullptr) return -1;
  std::memcpy(copy, text, length + 1);
  ClearConnAttr(dbc, slot);
  dbc->attrs[slot].text = copy;
  dbc->attrs[slot].source = source;
  return 0;
}

// ---- Parse errors --------------------------------------------------------------------------

void SetParseError(tagDBC* dbc, const a_string_parms* parms, int code) {
  if (code == kParseOk) return;
  if (code == kParseNoMemory) {
    AddSQLState(dbc, kStateHY001, kStateS1001);
    return;
  }
  char text[kStringParmsErrorSize + 64];
  text[0] = '\0';
  UTLangStringBase* strings = dbc->lang != nullptr ? dbc->lang : CmdSeqEnv.lang;
  GetParseErrorInfo(code, parms, strings, text, sizeof text);
  text[sizeof text - 1] = '\0';
  AddNativeErrorWithParam(dbc, code == kParseNoDataSource ? kSqlDataSourceNotFound
                                                           : kSqlBadConnectString,
                          text);
}

// ---- Database expansion --------------------------------------------------------------------

bool FindRootName(const char* value, char* out, std::size_t size) {
  if (out == nullptr || size == 0) return false;
  out[0] = '\0';
  if (value == nullptr) return false;
  const char* root = value;
  const char* dot = nullptr;  // the last '.' after the last separator
  bool marked = false;
  for (const char* p = value; *p != '\0'; p += CharBytes(p)) {
    if (CharBytes(p) != 1) continue;
    if (IsSeparator(*p)) {
      root = p + 1;
      dot = nullptr;
      marked = true;
    } else if (*p == '.') {
      dot = p;
      marked = true;
    }
  }
  const char* end = dot != nullptr ? dot : root + std::strlen(root);
  std::size_t used = 0;
  std::size_t chars = 0;
  for (const char* p = root; p < end && chars < kMaxRootChars;) {
    const std::size_t n = CharBytes(p);
    if (used + n >= size) break;
    std::memcpy(out + used, p, n);
    used += n;
    p += n;
    ++chars;
  }
  out[used] = '\0';
  return marked;
}

void MakeNameFromRoot(char* root) {
  if (root == nullptr || root[0] == '\0') return;
  bool upper = false;
  bool lower = false;
  for (const char* p = root; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c >= 0x80 || CharBytes(p) != 1) return;  // multi-byte roots stay as they are
    upper = upper || (c >= 'A' && c <= 'Z');
    lower = lower || (c >= 'a' && c <= 'z');
  }
  if (upper && lower) return;
  root[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])));
  for (char* p = root + 1; *p != '\0'; ++p) {
    *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  }
}

int ExpandDatabase(tagDBC* dbc) {
  const tagCONNATTR& database = dbc->attrs[kSlotDatabase];
  if (database.text == nullptr) return 0;
  if (dbc->attrs[kSlotServerName].text != nullptr &&
      dbc->attrs[kSlotDatabaseName].text != nullptr &&
      dbc->attrs[kSlotDatabaseFile].text != nullptr) {
    return 0;
  }
  char root[kMaxRootChars * 4 + 1];
  const bool has_path = FindRootName(database.text, root, sizeof root);
  if (has_path) {
    MakeNameFromRoot(root);
    if (dbc->attrs[kSlotDatabaseFile].text == nullptr &&
        SetConnAttr(dbc, kSlotDatabaseFile, database.text, database.source) != 0) {
      return -1;
    }
  }
  if (dbc->attrs[kSlotDatabaseName].text == nullptr &&
      SetConnAttr(dbc, kSlotDatabaseName, has_path ? root : database.text, database.source) !=
          0) {
    return -1;
  }
  return 0;
}

// ---- Parsing -------------------------------------------------------------------------------

int ParseConnectionString(tagDBC* dbc, const char* text, SQLINTEGER length, std::uint8_t* seen,
                          int mode) {
  // A counted string gets a terminated copy; it may hold the password, so it is wiped.
  char* copy = nullptr;
  const char* source = text != nullptr ? text : "";
  if (text != nullptr && length != SQL_NTS) {
    const std::size_t bytes = length > 0 ? static_cast<std::size_t>(length) : 0;
    copy = static_cast<char*>(VAllocLocked(dbc, bytes + 1));
    if (copy == nullptr) return 0;
    std::memcpy(copy, text, bytes);
    copy[bytes] = '\0';
    source = copy;
  }

  a_string_parms parms = {};
  int order[kParseOrderRoom];
  int rc = ParseODBCAndClientString(source, &parms, true, order);
  if (copy != nullptr) {
    Wipe(copy);
    ut_free(copy);
  }
  int string_end = 0;  // order entries up to here came from the string itself
  while (rc == kParseOk && string_end < static_cast<int>(kConnAttrSlots) &&
         order[string_end] != -1) {
    ++string_end;
  }
  if (rc == kParseOk && mode != 0) rc = AddVCCONNECTDefaults(&parms, true, order);
  if (rc != kParseOk) {
    SetParseError(dbc, &parms, rc);
    FreeStringParms(&parms);
    return dbc->retcode == SQL_SUCCESS ? 1 : 0;
  }

  std::uint8_t set_here[kConnAttrSlots] = {};
  for (int k = 0; k < static_cast<int>(kConnAttrSlots) && order[k] != -1; ++k) {
    const int slot = order[k];
    if (slot < 0 || slot >= static_cast<int>(kConnAttrSlots) || slot >= parms.count) continue;
    char*& value = parms.values[slot];
    if (value == nullptr) continue;
    const bool from_vcconnect = k >= string_end;
    tagCONNATTR& attr = dbc->attrs[slot];
    if (from_vcconnect && attr.text != nullptr) continue;
    const int partner = Partner(slot);
    const bool kept = attr.source == kAttrFromApp ||
                      (partner >= 0 && dbc->attrs[partner].source == kAttrFromApp);
    if (kept) {
      // The application gave this slot already (or its partner). A string that names
      // it again is told so, except for the DSN/Driver pair it named first itself.
      const bool partner_here = partner >= 0 && set_here[partner] != 0;
      if (!from_vcconnect && !partner_here && set_here[slot] == 0) {
        AddSQLState(dbc, kState01S00, kState01S00);
      }
      continue;
    }
    ClearConnAttr(dbc, slot);
    attr.text = value;  // the slot takes the parser's text over
    attr.source = kAttrFromApp;
    value = nullptr;
    set_here[slot] = 1;
  }
  FreeStringParms(&parms);
  if (seen != nullptr) {
    for (unsigned i = 0; i < kConnAttrSlots; ++i) seen[i] |= set_here[i];
  }

  if (dbc->attrs[kSlotDriver].text == nullptr) (void)ReadIni(dbc);
  (void)ExpandDatabase(dbc);
  return dbc->retcode == SQL_SUCCESS ? 1 : 0;
}
