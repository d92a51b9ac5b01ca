// Typed connection parameters: defaults, limits and byte units of the typed slots.
#include "config/conn_parms.h"

#include <cstring>

#include "config/config_text.h"
#include "config/conn_string.h"
#include "config/encrypt_level.h"
#include "utils/base/number_conversion.h"

using vq::config::copy_text;
using vq::config::wipe_free;

namespace {

struct TypedSlot {
  int slot;
  bool number;  // else boolean
  bool has_default;
  std::int64_t value;  // default
  std::int64_t minimum;
  std::int64_t maximum;
  bool zero_allowed;  // 0 stays 0 although below the minimum
  bool bytes;         // K, M and G units
};

constexpr std::int64_t kNoMax = 2147483647;  // numbers are 32-bit: nothing reads above this

constexpr TypedSlot kTyped[] = {
    {kSlotUnconditional, false, false, 0, 0, 0, false, false},
    {kSlotAutoStop, false, true, 1, 0, 0, false, false},
    {kSlotIntegrated, false, false, 0, 0, 0, false, false},
    {kSlotCommBufferSize, true, false, 0, 500, 16000, false, true},
    {kSlotDebug, false, false, 0, 0, 0, false, false},
    {kSlotLivenessTimeout, true, true, -1, 30, 32767, true, false},
    {kSlotDisableMultiRowFetch, false, false, 0, 0, 0, false, false},
    {kSlotAutoStart, false, true, 1, 0, 0, false, false},
    {kSlotForceStart, false, false, 0, 0, 0, false, false},
    {kSlotPrefetchRows, true, true, 10, 0, 32767, false, false},
    {kSlotPrefetchBuffer, true, true, 524288, 0, 8388608, false, true},
    {kSlotCompress, false, false, 0, 0, 0, false, false},
    {kSlotCompressionThreshold, true, true, 120, 0, 32767, false, true},
    {kSlotIdleTimeout, true, true, -1, 0, 32767, true, false},
    {kSlotIgnoreVCCONNECT, false, false, 0, 0, 0, false, false},
    {kSlotIgnoreCache, false, false, 0, 0, 0, false, false},
    {kSlotRetryConnectionTimeout, true, false, 0, 0, 2147483647, false, false},
    {kSlotElevate, false, true, 0, 0, 0, false, false},
    {kSlotAppConnTimeout, true, true, 0, 0, kNoMax, false, false},
};

const TypedSlot* typed(int slot) {
  for (const TypedSlot& t : kTyped) {
    if (t.slot == slot) return &t;
  }
  return nullptr;
}

bool valid(int slot) { return slot >= 0 && slot < int(kClientSlots); }

char* decimal_text(std::int64_t value) {
  char text[kU64TextBytes];
  return copy_text(i64toa(value, text, 10));
}

}  // namespace

bool c_conn_parms::isBoolSlot(int slot) {
  const TypedSlot* t = typed(slot);
  return t != nullptr && !t->number;
}

bool c_conn_parms::isNumberSlot(int slot) {
  const TypedSlot* t = typed(slot);
  return t != nullptr && t->number;
}

c_conn_parms::c_conn_parms() : parms_{}, flags_{}, numbers_{}, cached_(nullptr), parsed_(0) {
  clear();
}

c_conn_parms::~c_conn_parms() {
  if (parsed_) FreeStringParms(&parms_);
  drop_cache();
}

void c_conn_parms::drop_cache() {
  // The cached string holds the password in the clear: wipe it like the values.
  wipe_free(cached_);
  cached_ = nullptr;
}

void c_conn_parms::clear() {
  if (parsed_) FreeStringParms(&parms_);
  drop_cache();
  parms_ = a_string_parms{};
  // A block that cannot be allocated has no slot array; the getters then read nothing.
  (void)InitSizedStringParms(&parms_, kClientSlots);
  parsed_ = 1;
  for (int slot = 0; slot < int(kClientSlots); ++slot) set_default(slot);
}

void c_conn_parms::replace_text(int slot, char* text) {
  if (parms_.values == nullptr) {
    wipe_free(text);
    return;
  }
  wipe_free(parms_.values[slot]);
  parms_.values[slot] = text;
}

void c_conn_parms::set_default(int slot) {
  const TypedSlot* t = typed(slot);
  if (t == nullptr || !t->has_default) {
    setString(slot, nullptr);
    return;
  }
  if (t->number) {
    numbers_[slot] = static_cast<std::int32_t>(t->value);
    replace_text(slot, decimal_text(t->value));
  } else {
    flags_[slot] = t->value != 0;
    replace_text(slot, copy_text(t->value != 0 ? "TRUE" : "FALSE"));
  }
  drop_cache();
}

int c_conn_parms::init(const char* text, bool full) {
  if (parsed_) FreeStringParms(&parms_);
  parms_ = a_string_parms{};
  parsed_ = 0;
  drop_cache();
  const int rc =
      full ? ParseClientStringParms(text, &parms_) : ParseStringParmsStringOnly(text, &parms_);
  parsed_ = 1;
  if (rc != kParseOk) return rc;
  for (const TypedSlot& t : kTyped) {
    int yes = 0;
    if (!t.number && ParseYesNo(parms_.values[t.slot], &yes, true))
      flags_[t.slot] = std::uint32_t(yes);
  }
  return convert_numbers();
}

int c_conn_parms::convert_numbers() {
  for (const TypedSlot& t : kTyped) {
    if (!t.number) continue;
    const char* text = parms_.values[t.slot];
    if (text == nullptr || *text == '\0') continue;
    std::uint64_t read = 0;
    if (!knumber(text, &read, 0, t.bytes, true, nullptr)) {
      vq::config::copy_bounded(StringParmsError(&parms_), kStringParmsErrorSize, text);
      return kParseBadValue;
    }
    // knumber saturates, and every maximum fits 32 bits, so nothing wraps to a negative.
    std::int64_t value = read > std::uint64_t(t.maximum) ? t.maximum : std::int64_t(read);
    bool rewrite = true;
    if (value == 0 && t.zero_allowed) {
      value = 0;
    } else if (value < t.minimum) {
      value = t.minimum;
    } else if (std::uint64_t(value) == read && t.slot == kSlotPrefetchBuffer) {
      rewrite = false;  // inside the limits: "512K" stays as given
    }
    numbers_[t.slot] = static_cast<std::int32_t>(value);
    if (rewrite) {
      char* decimal = decimal_text(value);
      if (decimal == nullptr) return kParseNoMemory;
      replace_text(t.slot, decimal);
    }
  }
  return kParseOk;
}

const char* c_conn_parms::getString(int slot) const {
  if (!valid(slot) || parms_.values == nullptr) return nullptr;
  return parms_.values[slot];
}

bool c_conn_parms::isSpecified(int slot) const {
  const char* text = getString(slot);
  return text != nullptr && *text != '\0';
}

std::uint32_t c_conn_parms::getBool(int slot) const {
  return isBoolSlot(slot) ? flags_[slot] : 0;
}

std::int32_t c_conn_parms::getInt(int slot) const {
  return isNumberSlot(slot) ? numbers_[slot] : 0;
}

void c_conn_parms::setBool(int slot, bool value) {
  if (!isBoolSlot(slot)) return;
  replace_text(slot, copy_text(value ? "TRUE" : "FALSE"));
  flags_[slot] = value ? 1 : 0;
  drop_cache();
}

void c_conn_parms::setInt(int slot, std::int32_t value) {
  if (!isNumberSlot(slot)) return;
  replace_text(slot, decimal_text(value));
  numbers_[slot] = value;
  drop_cache();
}

void c_conn_parms::setString(int slot, const char* text) {
  if (!valid(slot)) return;
  if (isBoolSlot(slot)) {
    replace_text(slot, copy_text("FALSE"));
    flags_[slot] = 0;
  } else if (isNumberSlot(slot)) {
    replace_text(slot, copy_text("0"));
    numbers_[slot] = 0;
  } else {
    replace_text(slot, copy_text(text));
  }
  drop_cache();
}

const char* c_conn_parms::getFile(int slot) const {
  const char* text = getString(slot);
  if (text == nullptr || ParseYesNo(text, nullptr, true)) return nullptr;
  return text;
}

int c_conn_parms::isYesOrFile(int slot) const {
  const char* text = getString(slot);
  if (text == nullptr) return 0;
  if (isBoolSlot(slot) && flags_[slot] == 0) return 0;
  int yes = 0;
  if (ParseYesNo(text, &yes, true)) return yes;
  return 1;
}

bool c_conn_parms::initEncryptLevel(c_encrypt_level& level) const {
  const char* text = getString(kSlotEncryption);
  if (text != nullptr) return level.set_level(text);
  // No Encryption parameter asks for no encryption: that is not an error.
  level.set_level(std::uint32_t{kEncryptNone});
  return true;
}

const char* c_conn_parms::getConnectionString() {
  if (cached_ == nullptr && parsed_) cached_ = BuildConnectString(&parms_, false);
  return cached_;
}
