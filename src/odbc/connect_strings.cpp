// Strings built back from the connection-attribute slots: one builder, four modes (the
// completed string for the application, the client's connect string, the ODBC-only
// slots, the client slots). DSN comes first and Driver second, then the other slots in
// slot order, separated by ";". Values are quoted as the connection-string syntax needs,
// except DSN and Driver (and every slot when SAVEFILE is set), which are written as they
// are. The length is measured first and the block allocated once.
#include <cstring>

#include "config/conn_string.h"
#include "odbc/connect.h"
#include "utils/base/memory.h"

namespace {

constexpr char kSeparator = ';';

bool Included(const tagDBC* dbc, int slot, int mode) {
  const tagCONNATTR& attr = dbc->attrs[slot];
  if (attr.text == nullptr || attr.text[0] == '\0') return false;
  if (attr.source != kAttrFromApp && (attr.source != kAttrFromDsn || mode == kBuildCompleted)) {
    return false;
  }
  switch (mode) {
    case kBuildCompleted:
      return true;
    case kBuildEngine:
      return slot < static_cast<int>(kClientSlots) && slot != kSlotDataSourceName &&
             slot != kSlotFileDataSourceName;
    case kBuildODBC:
      return slot >= static_cast<int>(kClientSlots) && slot != kSlotDriver;
    case kBuildClient:
      return slot < static_cast<int>(kClientSlots);
    default:
      return false;
  }
}

// Calls visit(name, value, raw) for every pair of the string, in order.
template <typename Visit>
void ForEachPair(const tagDBC* dbc, int mode, Visit&& visit) {
  const bool save_file = dbc->attrs[kSlotSaveFile].text != nullptr;
  auto one = [&](int slot) {
    if (!Included(dbc, slot, mode)) return;
    const bool raw = save_file || slot == kSlotDataSourceName || slot == kSlotDriver;
    visit(GetConnAttrName(slot), dbc->attrs[slot].text, raw);
  };
  one(kSlotDataSourceName);
  one(kSlotDriver);
  for (int slot = 0; slot < static_cast<int>(kConnAttrSlots); ++slot) {
    if (slot != kSlotDataSourceName && slot != kSlotDriver) one(slot);
  }
  // Every connection has a name: its handle's, unless the application gave one.
  if (mode == kBuildEngine && dbc->attrs[kSlotConnectionName].text == nullptr) {
    visit(GetConnAttrName(kSlotConnectionName), dbc->name, false);
  }
}

}  // namespace

char* BuildConnectionString(tagDBC* dbc, int mode) {
  std::size_t length = 0;
  ForEachPair(dbc, mode, [&](const char* name, const char* value, bool raw) {
    if (raw) {
      length += (length != 0 ? 1 : 0) + std::strlen(name) + 1 + std::strlen(value);
    } else {
      BuildConnectStringCalcLen(&length, name, value, kSeparator);
    }
  });
  auto* text = static_cast<char*>(VAllocLocked(dbc, length + 1));
  if (text == nullptr) return nullptr;
  text[0] = '\0';
  std::size_t used = 0;
  ForEachPair(dbc, mode, [&](const char* name, const char* value, bool raw) {
    if (raw) {
      char* p = text + used;
      if (used != 0) *p++ = kSeparator;
      const std::size_t n = std::strlen(name);
      std::memcpy(p, name, n);
      p += n;
      *p++ = '=';
      const std::size_t v = std::strlen(value);
      std::memcpy(p, value, v);
      p[v] = '\0';
    } else {
      BuildConnectStringAppend(text, name, value, kSeparator);
    }
    used = std::strlen(text);
  });
  return text;
}

char* BuildDBConnectString(tagDBC* dbc) { return BuildConnectionString(dbc, kBuildEngine); }

void BuildConfigString(char* buffer, std::size_t size, tagDBC* dbc, int mode) {
  if (buffer == nullptr || size == 0) return;
  buffer[0] = '\0';
  char* text = BuildConnectionString(dbc, mode);
  if (text == nullptr) return;
  const std::size_t length = std::strlen(text);
  const std::size_t copied = length < size ? length : size - 1;
  std::memcpy(buffer, text, copied);
  buffer[copied] = '\0';
  FreeBuiltString(text);
}

void FreeBuiltString(char* text) {
  if (text == nullptr) return;
  std::memset(text, 0, std::strlen(text));
  VFreeLocked(text);
}
