// The encryption level and the parse of its Encryption value.
#include "config/encrypt_level.h"

#include "config/config_text.h"
#include "config/conn_string.h"
#include "config/conn_string_list.h"
#include "config/option_tables.h"

using vq::config::copy_text;
using vq::config::same_text;

namespace {

bool is_tls_level(std::uint32_t number) {
  return number >= kEncryptEccTls && number <= kEncryptRsaTlsFips;
}

// Replaces `*field` by a copy of `text` (null clears it); false when the copy fails.
bool replace_text(char** field, const char* text) {
  char* copy = nullptr;
  if (text != nullptr) {
    copy = copy_text(text);
    if (copy == nullptr) return false;
  }
  vq::config::wipe_free(*field);
  *field = copy;
  return true;
}

}  // namespace

c_encrypt_level::c_encrypt_level(std::uint32_t number, const char* parms)
    : level(number),
      is_set(1),
      is_tls(is_tls_level(number) ? 1 : 0),
      name_text(nullptr),
      parms_text(copy_text(parms)),
      error_text(nullptr) {}

c_encrypt_level::c_encrypt_level(const char* name, const char* parms)
    : level(0),
      is_set(0),
      is_tls(0),
      name_text(nullptr),
      parms_text(nullptr),
      error_text(nullptr) {
  (void)set_level(name, parms);
}

c_encrypt_level::c_encrypt_level(const c_encrypt_level& other)
    : c_utils_link(),
      level(other.level),
      is_set(other.is_set),
      is_tls(other.is_tls),
      name_text(copy_text(other.name_text)),
      parms_text(copy_text(other.parms_text)),
      error_text(nullptr) {}

c_encrypt_level& c_encrypt_level::operator=(const c_encrypt_level& other) {
  if (this != &other) {
    set_level(other.level);
    (void)set_parms(other.parms_text);
  }
  return *this;
}

c_encrypt_level::~c_encrypt_level() {
  vq::config::wipe_free(name_text);
  vq::config::wipe_free(parms_text);
  vq::config::wipe_free(error_text);
}

void c_encrypt_level::set_level(std::uint32_t number) {
  level = number;
  is_set = 1;
  is_tls = is_tls_level(number) ? 1 : 0;
}

bool c_encrypt_level::set_parms(const char* text) { return replace_text(&parms_text, text); }

bool c_encrypt_level::set_level(const char* name, const char* parms) {
  bool ok = replace_text(&name_text, name);
  is_set = 0;
  is_tls = 0;
  if (same_text(name, "none")) {
    set_level(kEncryptNone);
  } else if (same_text(name, "simple")) {
    set_level(kEncryptSimple);
  } else if (same_text(name, "tls")) {
    is_tls = 1;
    a_string_parms tls = {};
    if (ParseTLSStringParms(parms, &tls, true) != kParseOk) {
      ok = false;
    } else {
      int fips = 0;
      const char* fips_text = tls.values[kTLSFips];
      const bool want_fips = fips_text != nullptr && ParseYesNo(fips_text, &fips, true) && fips;
      const char* type = tls.values[kTLSType];
      if (type == nullptr || same_text(type, "rsa")) {
        set_level(want_fips ? kEncryptRsaTlsFips : kEncryptRsaTls);
      } else if (same_text(type, "ecc")) {
        set_level(kEncryptEccTls);
      } else {
        (void)replace_text(&error_text, type);
        ok = false;
      }
    }
    FreeStringParms(&tls);
  } else {
    (void)replace_text(&error_text, name);
    set_level(kEncryptNone);
    ok = false;
  }
  // The parameter text always describes the level just set: a level given without
  // parameters must not keep the TLS options of an earlier one.
  if (!replace_text(&parms_text, parms)) ok = false;
  return ok;
}

bool c_encrypt_level::set_level(const char* text) {
  if (text == nullptr) return true;
  a_cs_list_element_list list;
  bool ok = false;
  if (ParseCSListString(text, &list, nullptr) == kParseOk && !list.is_empty()) {
    a_cs_list_element* first = list.first_element();
    ok = set_level(first->name, first->options);
  }
  ClearCSList(&list);
  return ok;
}

const char* c_encrypt_level::get_level_name() const {
  if (!is_set) return "Unknown";
  switch (level) {
    case kEncryptNone:
      return "none";
    case kEncryptSimple:
      return "simple";
    case kEncryptEccTls:
      return "ecc_tls";
    case kEncryptRsaTls:
      return "rsa_tls";
    case kEncryptRsaTlsFips:
      return "rsa_tls_fips";
    default:
      return nullptr;
  }
}
