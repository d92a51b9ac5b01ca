// The vocabulary of the connection-attribute slots: the names each slot carries in the
// strings built from the slots (taken from the connection-option tables, whose row is
// the slot), the browse prompts and behaviour-flag bits, and the describe-cursor modes.
#include <cctype>
#include <cstdlib>

#include "config/option_tables.h"
#include "odbc/connect.h"

namespace {

struct a_conn_attr_extra {
  const char* prompt;   // asked for by SQLBrowseConnect
  std::uint32_t flag;   // kBehav* bit of a true value, or 0
};

// One row per slot, in slot order.
constexpr a_conn_attr_extra kAttributes[kConnAttrSlots] = {
    {"Userid", 0},
    {"Password", 0},
    {"Database Name", 0},
    {"Database File", 0},
    {"Database switches", 0},
    {"Server Name", 0},
    {"Unconditional Stop", 0},
    {"Command line", 0},
    {"Connection Name", 0},
    {"AutoStop database", kBehavAutoStop},
    {"Data Source", 0},
    {"Integrated logon", 0},
    {"FILEDSN", 0},
    {"Encrypted Password", 0},
    {"CommBufferSize", 0},
    {"Debug", 0},
    {"Encryption", 0},
    {"Liveness Timeout", 0},
    {"LogFile", 0},
    {"Disable MultiRowFetch", 0},
    {"Communication Links", 0},
    {"Auto Start engine", 0},
    {"Charset", 0},
    {"ForceStart", 0},
    {"PktDump", 0},
    {"App Info", 0},
    {"Prefetch Rows", 0},
    {"Prefetch Buffer", 0},
    {"Database Key", 0},
    {"Compress", 0},
    {"Compression Threshold", 0},
    {"Idle Timeout", 0},
    {"Language", 0},
    {"Lazy Cursor Close", 0},
    {"Ignore VCCONNECT", 0},
    {"Ignore Cache", 0},
    {"Retry Connection Timeout", 0},
    {"Kerberos login", 0},
    {"Trace Level", 0},
    {"Trace Log", 0},
    {"New Password", 0},
    {"Elevate", 0},
    {"Connection Pool", 0},
    {"Host", 0},
    {"Node Type", 0},
    {"App Conn Timeout", 0},
    {"Description", 0},
    {"MSApplications", kBehavMSApplications},
    {"PreventNotCapable", kBehavPreventNotCapable},
    {"Translation Name", 0},
    {"Translation DLL", 0},
    {"Translation Option", 0},
    {"Driver", 0},
    {"LazyAutocommit", kBehavLazyAutocommit},
    {"LazierAutocommit", kBehavLazierAutocommit},
    {"AutoPreCommit", kBehavAutoPreCommit},
    {"VBRDO", kBehavVBRDO},
    {"DescribeCursor", 0},
    {"IsolationLevel", 0},
    {"Delphi", kBehavDelphi},
    {"SAVEFILE", 0},
    {"InitString", 0},
    {"GetTypeInfoChar", kBehavGetTypeInfoChar},
    {"Prefetch On Open", kBehavPrefetchOnOpen},
    {"Suppress Warnings", kBehavSuppressWarnings},
    {"Database", 0},
    {"Escape Character", 0},
};

bool InRange(int slot) { return slot >= 0 && slot < static_cast<int>(kConnAttrSlots); }

const a_conn_option* Row(int slot) {
  return InRange(slot) ? &vq::config::kClientAndODBCOptionTable[slot] : nullptr;
}

}  // namespace

const char* GetConnAttrName(int slot) {
  const a_conn_option* row = Row(slot);
  if (row == nullptr) return nullptr;
  if (slot == kSlotDataSourceName) return "DSN";
  if (slot == kSlotUserID || slot == kSlotPassword || slot == kSlotFileDataSourceName) {
    return row->short_name;
  }
  return row->long_name;
}

const char* GetConnAttrShortName(int slot) {
  const a_conn_option* row = Row(slot);
  return row != nullptr && slot < static_cast<int>(kClientSlots) ? row->short_name : nullptr;
}

const char* GetConnAttrAltName(int slot) {
  const a_conn_option* row = Row(slot);
  return row != nullptr && row->aliases != nullptr ? row->aliases[0] : nullptr;
}

const char* GetConnAttrPrompt(int slot) { return InRange(slot) ? kAttributes[slot].prompt : nullptr; }

std::uint32_t GetConnAttrFlag(int slot) { return InRange(slot) ? kAttributes[slot].flag : 0; }

int MapDescCursor(const char* text) {
  if (text == nullptr) return -1;
  switch (text[0]) {
    case 'n':
    case 'N':
      return 0;
    case 'y':
    case 'Y':
      return 1;
    case 'a':
    case 'A':
      return 2;
    default:
      break;
  }
  if (!std::isdigit(static_cast<unsigned char>(text[0]))) return -1;
  // Read as far as it is a number; anything beyond 2 is no mode (no overflow on long
  // digit runs: strtol saturates).
  const long mode = std::strtol(text, nullptr, 10);
  return mode >= 0 && mode <= 2 ? static_cast<int>(mode) : -1;
}
