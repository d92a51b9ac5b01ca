// Parsers bound to the option tables, the client's full parse, the builders, slot names
// and parse-error messages.
#include "config/conn_string.h"

#include <cstdlib>
#include <cstring>

#include "config/config_text.h"
#include "config/conn_string_list.h"
#include "config/data_source_profile.h"
#include "config/ini_obfuscation.h"
#include "config/option_tables.h"
#include "utils/base/path_split.h"

using vq::config::copy_bounded;
using vq::config::copy_text;
using vq::config::wipe_free;

namespace {

constexpr std::size_t kDBNameRoom = 255;  // ParseDBName keeps at most 254 characters
constexpr const char* kMask = "********";

// --- seams ---------------------------------------------------------------------------

int read_data_source(const char* name, a_string_parms* parms, bool isFile, unsigned count) {
  return ReadProfile(name, parms, isFile, count);
}

const char* english_text(unsigned number) {
  switch (number) {
    case 7941:
      return "Out of memory";
    case 7942:
      return "Missing '=' in connection string near '%1'";
    case 7943:
      return "Unterminated quoted value for connection parameter '%1'";
    case 7944:
      return "Unknown connection parameter '%1'";
    case 7945:
      return "Mismatched brackets in connection parameter '%1'";
    case 8340:
      return "Data source '%1' not found";
    case 9371:
      return "Data source file for '%1' not found";
    case 9372:
      return "Cannot open the data source file for '%1'";
    default:
      return "Invalid connection string text '%1'";
  }
}

void format_english(UTLangStringBase*, unsigned number, const char* argument, char* buffer,
                    std::size_t size) {
  if (buffer == nullptr || size == 0) return;
  std::size_t n = 0;
  for (const char* t = english_text(number); *t != '\0'; ++t) {
    if (t[0] == '%' && t[1] == '1') {
      for (const char* a = argument != nullptr ? argument : ""; *a != '\0' && n + 1 < size;
           ++a) {
        buffer[n++] = *a;
      }
      ++t;
    } else if (n + 1 < size) {
      buffer[n++] = *t;
    }
  }
  buffer[n] = '\0';
}

vq::config::ProfileReader g_profile_reader = read_data_source;
vq::config::ParseMessageFormatter g_formatter = format_english;

// --- parsing helpers -----------------------------------------------------------------

int init_and_parse(const char* text, a_string_parms* parms, const a_conn_option* table,
                   unsigned count, bool allowUnknown) {
  if (!InitSizedStringParms(parms, count)) return kParseNoMemory;
  return ParseKeyValueString(text, parms, table, false, false, allowUnknown, nullptr);
}

void set_error(a_string_parms* parms, const char* text) {
  copy_bounded(StringParmsError(parms), kStringParmsErrorSize, text);
}

// Stores a copy of `n` bytes of `text` in slot `slot` unless empty.
bool store_field(a_string_parms* parms, int slot, const char* text, std::size_t n) {
  if (n == 0) return true;
  char* copy = vq::config::copy_text_n(text, n);
  if (copy == nullptr) return false;
  wipe_free(parms->values[slot]);
  parms->values[slot] = copy;
  return true;
}

bool in_order(const int* order, int slot) {
  for (; *order != -1; ++order) {
    if (*order == slot) return true;
  }
  return false;
}

// Appends `slot` to an order list ended by -1 unless it is listed or the list is full.
void append_order(int* order, int slot) {
  if (order == nullptr || in_order(order, slot)) return;
  std::size_t n = 0;
  while (order[n] != -1) ++n;
  if (n + 1 >= kParseOrderRoom) return;
  order[n] = slot;
  order[n + 1] = -1;
}

// Reads a data source and moves its values into the slots of `parms` still empty.
int merge_profile(a_string_parms* parms, const char* name, bool isFile, int* order) {
  a_string_parms profile = {};
  const int rc = g_profile_reader(name, &profile, isFile, kClientSlots);
  if (rc != kParseOk) {
    set_error(parms, name);
    FreeStringParms(&profile);
    return rc;
  }
  for (unsigned i = 0; i < kClientSlots && i < profile.count && i < parms->count; ++i) {
    if (parms->values[i] == nullptr && profile.values[i] != nullptr) {
      parms->values[i] = profile.values[i];
      profile.values[i] = nullptr;
    }
  }
  if (order != nullptr) {
    for (unsigned i = 0; i < kClientSlots && i < parms->count; ++i) {
      if (parms->values[i] != nullptr) append_order(order, int(i));
    }
  }
  FreeStringParms(&profile);
  return kParseOk;
}

// --- building ------------------------------------------------------------------------

// The parser skips every character 9 to 13 in front of a value, so each of them needs
// quotes, vertical tab (11) included: unquoted, a value starting with one would lose it.
bool needs_quotes(const char* value) {
  for (const char* p = value; *p != '\0'; ++p) {
    switch (*p) {
      case '\'':
      case '"':
      case ';':
      case ',':
      case '=':
      case ' ':
      case '\f':
      case '\n':
      case '\r':
      case '\t':
      case '\v':
        return true;
      default:
        break;
    }
  }
  return false;
}

std::size_t value_length(const char* value) {
  std::size_t n = std::strlen(value);
  if (!needs_quotes(value)) return n;
  n += 2;
  for (const char* p = value; *p != '\0'; ++p) n += (*p == '\'');
  return n;
}

bool is_masked_slot(unsigned slot) {
  return slot == kSlotPassword || slot == kSlotEncryptedPassword || slot == kSlotDatabaseKey ||
         slot == kSlotNewPassword;
}

char* build(const a_string_parms* parms, const a_conn_option* table, char separator,
            bool mask) {
  if (parms == nullptr || parms->values == nullptr) return nullptr;
  const unsigned rows = vq::config::CountOptionRows(table);
  const unsigned slots = parms->count < rows ? parms->count : rows;
  const auto key_of = [&](unsigned i) {
    return table[i].short_name != nullptr ? table[i].short_name : table[i].long_name;
  };
  const auto value_of = [&](unsigned i) -> const char* {
    return mask && is_masked_slot(i) ? kMask : parms->values[i];
  };
  std::size_t length = 0;
  for (unsigned i = 0; i < slots; ++i) {
    if (parms->values[i] != nullptr)
      BuildConnectStringCalcLen(&length, key_of(i), value_of(i), separator);
  }
  char* text = static_cast<char*>(ut_malloc(length + 1));
  if (text == nullptr) return nullptr;
  text[0] = '\0';
  for (unsigned i = 0; i < slots; ++i) {
    if (parms->values[i] != nullptr)
      BuildConnectStringAppend(text, key_of(i), value_of(i), separator);
  }
  return text;
}

bool option_strs(const a_conn_option* row, const char** longName, const char** shortName,
                 const char* const** aliases) {
  if (longName != nullptr) *longName = row->long_name;
  if (shortName != nullptr) *shortName = row->short_name;
  if (aliases != nullptr) *aliases = row->aliases;
  return true;
}

}  // namespace

// --- parsers -------------------------------------------------------------------------

int ParseConnectString(const char* text, a_string_parms* parms, const a_conn_option* table) {
  return ParseKeyValueString(text, parms, table, true, false, false, nullptr);
}

int ParseEngStringAppend(const char* text, a_string_parms* parms) {
  return ParseConnectString(text, parms, MapClientOptionTable);
}

int ParseEngString(const char* text, a_string_parms* parms) {
  if (!InitSizedStringParms(parms, kClientSlots)) return kParseNoMemory;
  return ParseEngStringAppend(text, parms);
}

int ParseODBCAndClientString(const char* text, a_string_parms* parms, bool flag, int* order) {
  if (order != nullptr) order[0] = -1;
  if (!InitSizedStringParms(parms, kClientAndODBCSlots)) return kParseNoMemory;
  return ParseKeyValueString(text, parms, vq::config::kClientAndODBCOptionTable, true, flag,
                             flag, order);
}

int ParseTCPIPStringParms(const char* text, a_string_parms* parms, bool allowUnknown) {
  return init_and_parse(text, parms, MapTCPIPOptionTable, kTCPIPSlots, allowUnknown);
}
int ParseTLSStringParms(const char* text, a_string_parms* parms, bool allowUnknown) {
  return init_and_parse(text, parms, MapTLSOptionTable, kTLSSlots, allowUnknown);
}
int ParseODBCStringParms(const char* text, a_string_parms* parms) {
  return init_and_parse(text, parms, MapODBCOptionTable, kODBCSlots, false);
}
int ParseCPoolStringParms(const char* text, a_string_parms* parms) {
  return init_and_parse(text, parms, MapCPoolOptionTable, kCPoolSlots, false);
}
int ParseAppInfoStringParms(const char* text, a_string_parms* parms) {
  return init_and_parse(text, parms, MapAppInfoOptionTable, kAppInfoSlots, true);
}
int ParseOracleStringParms(const char* text, a_string_parms* parms) {
  return init_and_parse(text, parms, MapOracleOptionTable, kOracleSlots, false);
}
int ParseNotifyStringParms(const char* text, a_string_parms* parms) {
  return init_and_parse(text, parms, MapNotifyOptionTable, kNotifySlots, false);
}
int ParseSyncStringParms(const char* text, a_string_parms* parms) {
  return init_and_parse(text, parms, MapSyncOptionTable, kSyncSlots, false);
}

int ParseStringParmsStringOnly(const char* text, a_string_parms* parms) {
  if (text != nullptr &&
      (std::strchr(text, '=') != nullptr || std::strchr(text, '#') != nullptr)) {
    return ParseEngString(text, parms);
  }
  if (!InitSizedStringParms(parms, kClientSlots)) return kParseNoMemory;
  if (text == nullptr || *text == '\0') return kParseOk;
  parms->flags |= kStringParmsOldStyle;

  // Old style: user, password, database file, connection name.
  const char* fields[5] = {};
  std::size_t lengths[5] = {};
  int count = 0;
  const char* p = text;
  for (;;) {
    const char* comma = std::strchr(p, ',');
    if (count == 4) {  // a fifth field
      set_error(parms, p - 1);
      return kParseBadValue;
    }
    fields[count] = p;
    lengths[count] = comma != nullptr ? std::size_t(comma - p) : std::strlen(p);
    ++count;
    if (comma == nullptr) break;
    p = comma + 1;
  }
  static const int kSlots[4] = {kSlotUserID, kSlotPassword, kSlotDatabaseFile,
                                kSlotConnectionName};
  for (int i = 0; i < count; ++i) {
    if (!store_field(parms, kSlots[i], fields[i], lengths[i])) return kParseNoMemory;
  }
  if (count >= 3 && lengths[2] != 0) {
    char base[kDBNameRoom];
    ParseDBName(parms->values[kSlotDatabaseFile], base, sizeof base);
    if (!store_field(parms, kSlotServerName, base, std::strlen(base))) return kParseNoMemory;
  }
  return kParseOk;
}

int AddVCCONNECTDefaults(a_string_parms* parms, bool keepFirst, int* order) {
  if (parms == nullptr || parms->values == nullptr || parms->count < kClientSlots) {
    return kParseNoMemory;
  }
  if (vq::config::same_text(parms->values[kSlotIgnoreVCCONNECT], "YES")) return kParseOk;
  // The whole value is used: cutting it at a fixed length would change a parameter.
  const char* env = std::getenv("VCCONNECT");
  if (env == nullptr) return kParseOk;

  a_string_parms defaults = {};
  if (!InitSizedStringParms(&defaults, kClientAndODBCSlots)) return kParseNoMemory;
  int found[kParseOrderRoom];
  int rc =
      ParseKeyValueString(env, &defaults, MapClientOptionTable, true, keepFirst, false, found);
  if (rc != kParseOk) {
    if (rc != kParseNoMemory) set_error(parms, StringParmsError(&defaults));
    FreeStringParms(&defaults);
    return rc;
  }
  const bool had_data_source = parms->values[kSlotDataSourceName] != nullptr;
  for (int k = 0; found[k] != -1; ++k) {
    const int slot = found[k];
    if (slot < int(kClientSlots) && parms->values[slot] == nullptr) {
      parms->values[slot] = defaults.values[slot];
      defaults.values[slot] = nullptr;
      append_order(order, slot);
    }
  }
  FreeStringParms(&defaults);
  if (!had_data_source && parms->values[kSlotDataSourceName] != nullptr) {
    rc = merge_profile(parms, parms->values[kSlotDataSourceName], false, order);
  }
  return rc;
}

int ParseEncryptionString(const char* text, char** normalised) {
  if (normalised != nullptr) *normalised = nullptr;
  a_cs_list_element_list list;
  int rc = ParseCSListString(text, &list, nullptr);
  if (rc == kParseOk && normalised != nullptr && !list.is_empty()) {
    *normalised = BuildCSListString(&list);
    if (*normalised == nullptr) rc = kParseNoMemory;
  }
  ClearCSList(&list);
  return rc;
}

int ParseClientStringParms(const char* text, a_string_parms* parms) {
  int rc = ParseStringParmsStringOnly(text, parms);
  if (rc != kParseOk) return rc;
  rc = AddVCCONNECTDefaults(parms, false, nullptr);
  if (rc != kParseOk) return rc;

  if (parms->values[kSlotDataSourceName] != nullptr) {
    rc = merge_profile(parms, parms->values[kSlotDataSourceName], false, nullptr);
  } else if (parms->values[kSlotFileDataSourceName] != nullptr) {
    rc = merge_profile(parms, parms->values[kSlotFileDataSourceName], true, nullptr);
  }
  if (rc != kParseOk) return rc;

  char*& encryption = parms->values[kSlotEncryption];
  if (encryption != nullptr) {
    char* normalised = nullptr;
    rc = ParseEncryptionString(encryption, &normalised);
    if (rc != kParseOk) {
      if (rc != kParseNoMemory) set_error(parms, encryption);
      return rc;
    }
    if (normalised != nullptr) {
      wipe_free(encryption);
      encryption = normalised;
    }
  }
  return kParseOk;
}

void ParseDBName(const char* path, char* out, std::size_t size) {
  if (out == nullptr || size == 0) return;
  if (path == nullptr) {
    out[0] = '\0';
    return;
  }
  // Stepped by whole characters of the operating system's character set: a double-byte
  // set may hold '\\' as a trailing byte, which is no separator.
  auto char_bytes = [](const char* p) {
    std::size_t n = 0;
    for (unsigned step = vq::base::PathCharLength(static_cast<unsigned char>(*p));
         n < step && p[n] != '\0';) {
      ++n;
    }
    return n;
  };
  const char* base = path;
  for (const char* p = path; *p != '\0';) {
    const std::size_t n = char_bytes(p);
    if (n == 1 && (*p == '\\' || *p == '/' || *p == ':' || *p == '@')) base = p + 1;
    p += n;
  }
  // Up to the first '.', never cutting a character in two.
  std::size_t n = 0;
  while (base[n] != '\0' && base[n] != '.') {
    const std::size_t step = char_bytes(base + n);
    if (n + step > size - 1) break;
    n += step;
  }
  std::memcpy(out, base, n);
  out[n] = '\0';
}

// --- builders ------------------------------------------------------------------------

void BuildConnectStringCalcLen(std::size_t* length, const char* key, const char* value,
                               char separator) {
  if (length == nullptr || key == nullptr || value == nullptr) return;
  if (*length != 0 && separator != '\0') ++*length;
  *length += std::strlen(key) + 1 + value_length(value);
}

void BuildConnectStringAppendValue(char* buffer, const char* value) {
  if (buffer == nullptr || value == nullptr) return;
  char* w = buffer + std::strlen(buffer);
  if (!needs_quotes(value)) {
    std::strcpy(w, value);
    return;
  }
  *w++ = '\'';
  for (const char* p = value; *p != '\0'; ++p) {
    if (*p == '\'') *w++ = '\'';
    *w++ = *p;
  }
  *w++ = '\'';
  *w = '\0';
}

void BuildConnectStringAppend(char* buffer, const char* key, const char* value,
                              char separator) {
  if (buffer == nullptr || key == nullptr || value == nullptr) return;
  char* w = buffer + std::strlen(buffer);
  if (w != buffer && separator != '\0') *w++ = separator;
  const std::size_t n = std::strlen(key);
  std::memcpy(w, key, n);
  w[n] = '=';
  w[n + 1] = '\0';
  BuildConnectStringAppendValue(w, value);
}

char* BuildConnectString(const a_string_parms* parms, bool mask) {
  return build(parms, MapClientOptionTable, ';', mask);
}
char* BuildODBCString(const a_string_parms* parms) {
  return build(parms, MapODBCOptionTable, ';', false);
}
char* BuildTLSString(const a_string_parms* parms) {
  return build(parms, MapTLSOptionTable, ';', false);
}
char* BuildTCPIPString(const a_string_parms* parms) {
  return build(parms, MapTCPIPOptionTable, ';', false);
}
char* BuildAppInfoString(const a_string_parms* parms) {
  return build(parms, MapAppInfoOptionTable, ';', false);
}
char* BuildOracleString(const a_string_parms* parms) {
  return build(parms, MapOracleOptionTable, ';', false);
}
char* BuildSyncString(const a_string_parms* parms) {
  return build(parms, MapSyncOptionTable, ',', false);
}

void FreeConnectString(char* text) { wipe_free(text); }

char* DecryptENP(const char* text) { return IniDecryptBlock(text); }

// --- vocabulary ----------------------------------------------------------------------

bool ConnOpt_ClientOption_Strs(int index, const char** longName, const char** shortName,
                               const char* const** aliases, int* flag) {
  if (index < 0 || index >= int(kClientAndODBCSlots)) return false;
  const a_conn_option* row = index < int(kClientSlots)
                                 ? &MapClientOptionTable[index]
                                 : &MapODBCOptionTable[index - kClientSlots];
  if (flag != nullptr) {
    switch (index) {
      case kSlotDebug:
      case kSlotPktDump:
      case kSlotIgnoreVCCONNECT:
      case kSlotIgnoreCache:
      case kSlotTraceLevel:
      case kSlotTraceLog:
      case kSlotAppConnTimeout:
      case 54:
      case 55:
      case 56:  // LazierAutocommit, AutoPreCommit, VBRDO
        *flag = 0;
        break;
      default:
        *flag = 1;
        break;
    }
  }
  return option_strs(row, longName, shortName, aliases);
}

bool ConnOpt_OracleOption_Strs(int index, const char** longName, const char** shortName,
                               const char* const** aliases, int* flag) {
  if (index < 0 || index >= int(kOracleSlots)) return false;
  if (flag != nullptr) *flag = 1;
  return option_strs(&MapOracleOptionTable[index], longName, shortName, aliases);
}

void GetParseErrorInfo(int code, const a_string_parms* parms, UTLangStringBase* strings,
                       char* buffer, std::size_t size) {
  if (code == kParseOk || buffer == nullptr || size == 0) return;
  const unsigned number = vq::config::ParseErrorMessageNumber(code);
  const char* argument = StringParmsError(parms);
  if (code == kParseNoMemory) {
    argument = "";
  } else if (code == kParseNoDataSource && parms != nullptr && parms->values != nullptr &&
             parms->count > kSlotDataSourceName &&
             parms->values[kSlotDataSourceName] != nullptr) {
    argument = parms->values[kSlotDataSourceName];
  }
  if (argument == nullptr) argument = "";
  // The installed formatter words the message through the caller's catalog; without a
  // catalog, or without a text for the message, the built-in English text stands in.
  buffer[0] = '\0';
  if (g_formatter != format_english) g_formatter(strings, number, argument, buffer, size);
  if (buffer[0] == '\0') format_english(strings, number, argument, buffer, size);
}

namespace vq::config {

void SetProfileReader(ProfileReader reader) {
  g_profile_reader = reader != nullptr ? reader : read_data_source;
}

void SetParseMessageFormatter(ParseMessageFormatter formatter) {
  g_formatter = formatter != nullptr ? formatter : format_english;
}

unsigned ParseErrorMessageNumber(int code) {
  switch (code) {
    case kParseOk:
      return 0;
    case kParseNoMemory:
      return 7941;
    case kParseNoEquals:
      return 7942;
    case kParseOpenQuote:
      return 7943;
    case kParseUnknownKey:
      return 7944;
    case kParseBrackets:
      return 7945;
    case kParseDsnFileNotFound:
      return 9371;
    case kParseDsnFileNotOpened:
      return 9372;
    case kParseNoDataSource:
      return 8340;
    default:
      return 7946;  // 4, 7, 11 and any unknown code
  }
}

}  // namespace vq::config
