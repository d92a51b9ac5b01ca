// The LDAP directory of servers over the run-time binding of the client library.
#include "net/ldap_directory.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "config/ini_store.h"
#include "net/ip_address.h"
#include "net/ldap_interface.h"
#include "net/server_list.h"
#include "net/tcp_util.h"
#include "utils/base/bounded_strings.h"
#include "utils/base/file_locations.h"
#include "utils/base/memory.h"

namespace {

constexpr const char* kDefaultFileName = "vcldap.ini";
constexpr const char* kSectionName = "LDAP";
constexpr const char* kProductUnit = "OU=QuillonVSR";
constexpr const char* kProductUnitFilter = "(OU=QuillonVSR)";
constexpr const char* kServerFilterPrefix =
    "(&(|(objectClass=applicationProcess)(objectClass=applicationEntity))"
    "(description=*Vellumcrest Server*)(CN=";
constexpr const char* kVersionText = "Vellumcrest Server Database Engine Version 12.0.0.2566";
constexpr const char* kOtherTypeDescription = "VSR";
// The capability a directory of the Active Directory family announces in its root entry.
constexpr const char* kActiveDirectoryCapability = "1.2.840.113556.1.4.800";
constexpr long kRequestSeconds = 5;  // every single LDAP request
constexpr unsigned kAddressTextBytes = 128;

std::time_t (*g_clock)() = nullptr;

DynLDAPInterface& lib() { return DynLDAPInterface::instance(); }

// Owners of what the library hands back.
class Message {
 public:
  Message() = default;
  ~Message() {
    if (m != nullptr) lib().ldap_msgfree(m);
  }
  Message(const Message&) = delete;
  Message& operator=(const Message&) = delete;
  a_ldap_message* m = nullptr;
};

class Values {
 public:
  explicit Values(char** v) : v_(v) {}
  ~Values() {
    if (v_ != nullptr) lib().ldap_value_free(v_);
  }
  Values(const Values&) = delete;
  Values& operator=(const Values&) = delete;
  char** get() const { return v_; }
  bool empty() const { return v_ == nullptr || v_[0] == nullptr; }

 private:
  char** v_;
};

// Disconnects when an operation ends, whichever way it ends.
class Session {
 public:
  explicit Session(c_ldap_handle* h) : h_(h) {}
  ~Session() { h_->disconnect(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

 private:
  c_ldap_handle* h_;
};

void free_text(char*& text) {
  ut_free(text);
  text = nullptr;
}

// Credentials do not linger in freed memory.
void wipe_text(char*& text) {
  if (text != nullptr) explicit_bzero(text, std::strlen(text));
  free_text(text);
}

void replace_text(char*& field, const char* value) {
  free_text(field);
  field = ut_strdup(value);
}

void replace_secret(char*& field, const char* value) {
  wipe_text(field);
  field = ut_strdup(value);
}

// A decimal number of at most `max`, blanks allowed around it; false otherwise.
bool parse_decimal(const char* text, std::uint32_t max, std::uint32_t* out) {
  const char* p = text;
  while (*p == ' ' || *p == '\t') ++p;
  if (*p < '0' || *p > '9') return false;
  std::uint64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + static_cast<unsigned>(*p - '0');
    if (value > max) return false;
  }
  while (*p == ' ' || *p == '\t') ++p;
  if (*p != '\0') return false;
  *out = static_cast<std::uint32_t>(value);
  return true;
}

bool is_yes(const char* text) {
  return ut_stricmp(text, "ON") == 0 || ut_stricmp(text, "1") == 0 ||
         ut_stricmp(text, "YES") == 0 || ut_stricmp(text, "TRUE") == 0;
}

timeval request_limit() { return timeval{kRequestSeconds, 0}; }

std::time_t now() { return g_clock != nullptr ? g_clock() : std::time(nullptr); }

int days_from_civil(int y, unsigned m, unsigned d) {
  // Days since 1970-01-01 of a proleptic Gregorian date.
  y -= m <= 2 ? 1 : 0;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int>(doe) - 719468;
}

// The address texts of a registration: with port, without scope, each once.
std::vector<std::string> address_texts(IPAddress_list& addresses) {
  std::vector<std::string> texts;
  for (IPAddress_iter it(addresses); !it.at_end(); it.next()) {
    char text[kAddressTextBytes];
    if (it.element()->toString(text, sizeof text, 1, 0, 0) == 0) continue;
    bool seen = false;
    for (const std::string& t : texts) seen = seen || t == text;
    if (!seen) texts.emplace_back(text);
  }
  return texts;
}

// A null-terminated array of pointers into `texts`, as the library's modifications take.
std::vector<char*> value_array(std::vector<std::string>& texts) {
  std::vector<char*> values;
  for (std::string& t : texts) values.push_back(&t[0]);
  values.push_back(nullptr);
  return values;
}

}  // namespace

namespace vq::net {

void SetLdapClock(std::time_t (*clock)()) { g_clock = clock; }

char* EscapeLdapFilterValue(const char* name) {
  static const char kHex[] = "0123456789abcdef";
  const std::size_t length = std::strlen(name);
  char* out = static_cast<char*>(ut_alloc(length * 3 + 1));
  char* q = out;
  for (const char* p = name; *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == '*' || c == '(' || c == ')' || c == '\\') {
      *q++ = '\\';
      *q++ = kHex[c >> 4];
      *q++ = kHex[c & 0xF];
    } else {
      *q++ = static_cast<char>(c);
    }
  }
  *q = '\0';
  return out;
}

char* EscapeDnValue(const char* name) {
  const std::size_t length = std::strlen(name);
  char* out = static_cast<char*>(ut_alloc(length * 2 + 1));
  char* q = out;
  for (std::size_t i = 0; i < length; ++i) {
    const char c = name[i];
    const bool special = std::strchr(",+\"\\<>;=", c) != nullptr;
    const bool edge = (i == 0 && (c == '#' || c == ' ')) || (i + 1 == length && c == ' ');
    if (special || edge) *q++ = '\\';
    *q++ = c;
  }
  *q = '\0';
  return out;
}

unsigned ServerNameFromDN(const char* dn, char* out, std::size_t size) {
  if (size == 0) return 0;
  out[0] = '\0';
  if (dn == nullptr || ut_strnlen(dn, 3) < 3 || (dn[0] != 'c' && dn[0] != 'C') ||
      (dn[1] != 'n' && dn[1] != 'N') || dn[2] != '=')
    return 0;
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::size_t used = 0;
  for (const char* p = dn + 3; *p != '\0' && *p != ','; ++p) {
    char c = *p;
    if (c == '\\') {
      if (p[1] == '\0') {
        out[0] = '\0';
        return 0;
      }
      const int hi = hex(p[1]);
      const int lo = hi >= 0 && p[2] != '\0' ? hex(p[2]) : -1;
      if (lo >= 0) {
        c = static_cast<char>(hi * 16 + lo);
        p += 2;
      } else {
        c = p[1];
        p += 1;
      }
    }
    if (used + 1 >= size) {
      out[0] = '\0';
      return 0;
    }
    out[used++] = c;
  }
  out[used] = '\0';
  return used != 0 ? 1 : 0;
}

bool ParseGeneralizedTime(const char* text, std::time_t* out) {
  int field[6] = {};
  const int widths[6] = {4, 2, 2, 2, 2, 2};
  const char* p = text;
  for (int f = 0; f < 6; ++f) {
    for (int i = 0; i < widths[f]; ++i, ++p) {
      if (*p < '0' || *p > '9') return false;
      field[f] = field[f] * 10 + (*p - '0');
    }
  }
  const int year = field[0], month = field[1], day = field[2];
  if (month < 1 || month > 12 || day < 1 || day > 31 || field[3] > 23 || field[4] > 59 ||
      field[5] > 60)
    return false;
  const std::int64_t days =
      days_from_civil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  *out = static_cast<std::time_t>(days * 86400 + field[3] * 3600 + field[4] * 60 + field[5]);
  return true;
}

bool EntryTimeIsStale(std::time_t entryTime, std::time_t now, std::uint32_t timeout) {
  if (timeout == 0 || entryTime > now) return false;
  return now - entryTime >= static_cast<std::time_t>(timeout);
}

}  // namespace vq::net

// --- construction and settings ---

c_ldap_handle::c_ldap_handle(an_ldap_server_type type, const char* name)
    : c_directory_handle(1), serverType(type) {
  if (name != nullptr)
    fileName = ut_strdup(name);
  else if (type == LDAP_SERVER_TYPE_DATABASE)
    fileName = ut_strdup(kDefaultFileName);
  if (lib().loadRoutines()) {
    _readIniFile();
  } else {
    flags |= kFlagSettingsAttempted;
    iniResult = DIRECTORY_NO_LIBRARY;
  }
}

c_ldap_handle::~c_ldap_handle() {
  disconnect();
  free_text(server);
  free_text(fileName);
  free_text(registeredName);
  free_text(baseDN);
  free_text(productBaseDN);
  wipe_text(authDN);
  wipe_text(password);
  wipe_text(readAuthDN);
  wipe_text(readPassword);
}

bool c_ldap_handle::supported() const { return lib().loaded(); }

const char* c_ldap_handle::getLastLDAPErrorString() const {
  if (!supported()) return nullptr;
  return lib().ldap_err2string(lastError);
}

void c_ldap_handle::setFileBaseName(const char* name) { replace_text(fileName, name); }

const char* c_ldap_handle::getVSRBaseDN() {
  if (productBaseDN == nullptr) {
    if (baseDN != nullptr && baseDN[0] != '\0') {
      const std::size_t size = std::strlen(kProductUnit) + 1 + std::strlen(baseDN) + 1;
      productBaseDN = static_cast<char*>(ut_alloc(size));
      ut_snprintf(productBaseDN, size, "%s,%s", kProductUnit, baseDN);
    } else {
      productBaseDN = ut_strdup(kProductUnit);
    }
  }
  return productBaseDN;
}

a_directory_error c_ldap_handle::_readIniFile() {
  if ((flags & kFlagSettingsAttempted) != 0) return iniResult;
  flags |= kFlagSettingsAttempted;
  if (!supported()) return iniResult = DIRECTORY_NO_LIBRARY;

  char path[kCfgMaxPath + 1];
  const unsigned length =
      fileName == nullptr
          ? 0
          : LS_QualifyVellumFile(kLsKindConfig, fileName, path, sizeof path, defaultQualifyCB);
  if (length == 0 || length >= sizeof path) return iniResult = DIRECTORY_NO_SETTINGS_FILE;

  c_cfg_inifile ini(path, true, 0, false, CFG_DS_NO_INI_DIR, 0);
  if (!ini.open_read_only()) return iniResult = DIRECTORY_SETTINGS_UNREADABLE;
  c_cfg_section* section = ini.read_section(kSectionName);
  if (section == nullptr) {
    ini.close();
    return iniResult = DIRECTORY_NO_LDAP_SECTION;
  }

  std::uint32_t number = 0;
  const char* v;
  if ((v = section->get_value("server")) != nullptr) replace_text(server, v);
  if ((v = section->get_value("port")) != nullptr && parse_decimal(v, 0xFFFF, &number))
    port = static_cast<std::uint16_t>(number);
  if ((v = section->get_value("basedn")) != nullptr) replace_text(baseDN, v);
  if ((v = section->get_value("authdn")) != nullptr) replace_secret(authDN, v);
  if ((v = section->get_value("password")) != nullptr) replace_secret(password, v);
  if ((v = section->get_value("read_authdn")) != nullptr) replace_secret(readAuthDN, v);
  if ((v = section->get_value("read_password")) != nullptr) replace_secret(readPassword, v);
  if ((v = section->get_value("search_timeout")) != nullptr &&
      parse_decimal(v, 0xFFFFFFFFu, &number))
    searchTimeout = number;
  if ((v = section->get_value("update_timeout")) != nullptr &&
      parse_decimal(v, 0xFFFFFFFFu, &number))
    updateTimeout = number;
  if ((v = section->get_value("force_register")) != nullptr && is_yes(v))
    flags |= kFlagForceRegister;
  ini.delete_section_object(section);
  ini.close();
  free_text(productBaseDN);  // built again from the base just read
  iniRead = 1;
  return iniResult = DIRECTORY_OK;
}

a_directory_error c_ldap_handle::check_ready() {
  if (!supported()) return DIRECTORY_NO_LIBRARY;
  if ((flags & kFlagSettingsAttempted) == 0) _readIniFile();
  return iniResult;
}

// --- connection ---

a_directory_error c_ldap_handle::open_session(bool forReading) {
  const a_directory_error result = check_ready();
  if (result != DIRECTORY_OK) return result;
  return _connect(forReading);
}

void c_ldap_handle::disconnect() {
  if (ldap != nullptr && supported()) lib().ldap_unbind(ldap);
  ldap = nullptr;
}

int c_ldap_handle::session_error() {
  int code = 0;
  if (ldap != nullptr) lib().ldap_get_option(ldap, kLdapOptResultCode, &code);
  return code;
}

int c_ldap_handle::session_failed(const char* callName) {
  // A failure must never read as success: the session's code, else "server down".
  int code = session_error();
  if (code == 0) code = kLdapServerDown;
  lastError = code;
  lastErrorCall = callName;
  return code;
}

a_directory_error c_ldap_handle::_connect(bool forReading) {
  disconnect();
  errno = 0;
  ldap = lib().ldap_init(server, port == 0 ? kLdapPort : port);
  if (ldap == nullptr) {
    lastError = errno;
    lastErrorCall = "ldap_init";
    return DIRECTORY_INIT_FAILED;
  }
  // Directories refuse the library's historical protocol version for binds; and the
  // connect itself waits no longer than any other request.
  const int version = kLdapVersion3;
  lib().ldap_set_option(ldap, kLdapOptProtocolVersion, &version);
  const timeval connectLimit = request_limit();
  lib().ldap_set_option(ldap, kLdapOptNetworkTimeout, &connectLimit);

  const int id = lib().ldap_simple_bind(ldap, forReading ? readAuthDN : authDN,
                                        forReading ? readPassword : password);
  if (id == -1) {
    session_failed("ldap_simple_bind");
    return DIRECTORY_BIND_FAILED;
  }
  const int rc = _waitForResults(id, "ldap_simple_bind");
  if (rc != 0) {
    lib().ldap_abandon(ldap, id);
    return rc == kLdapTimeout ? DIRECTORY_TIMED_OUT : DIRECTORY_BIND_FAILED;
  }
  lib().ldap_set_option(ldap, kLdapOptReferrals, nullptr);  // off

  // The root entry tells a directory of the Active Directory family; a failed probe
  // leaves the connection standing.
  flags &= ~kFlagActiveDirectory;
  const char* attributes[] = {"supportedCapabilities", nullptr};
  timeval limit = request_limit();
  Message root;
  if (lib().ldap_search_st(ldap, "", kLdapScopeBase, "(objectClass=*)",
                           const_cast<char**>(attributes), 0, &limit,
                           &root.m) == kLdapSuccess &&
      root.m != nullptr) {
    a_ldap_message* entry = lib().ldap_first_entry(ldap, root.m);
    if (entry != nullptr) {
      Values caps(lib().ldap_get_values(ldap, entry, "supportedCapabilities"));
      for (char** c = caps.get(); c != nullptr && *c != nullptr; ++c)
        if (std::strcmp(*c, kActiveDirectoryCapability) == 0) flags |= kFlagActiveDirectory;
    }
  }
  return DIRECTORY_OK;
}

int c_ldap_handle::_waitForResults(int messageId, const char* callName) {
  timeval limit = request_limit();
  a_ldap_message* answer = nullptr;
  errno = 0;
  const int type = lib().ldap_result(ldap, messageId, kLdapMsgAll, &limit, &answer);
  if (type == 0) {
    if (answer != nullptr) lib().ldap_msgfree(answer);
    lastError = kLdapTimeout;
    lastErrorCall = callName;
    return kLdapTimeout;
  }
  if (type == -1) return session_failed(callName);
  const int rc = lib().ldap_result2error(ldap, answer, 1);
  if (rc != kLdapSuccess) {
    lastError = rc;
    lastErrorCall = callName;
  }
  return rc;
}

a_directory_error c_ldap_handle::request_failed(int code, const char* callName) {
  lastError = code;
  lastErrorCall = callName;
  return code == kLdapTimeout ? DIRECTORY_TIMED_OUT : DIRECTORY_REQUEST_FAILED;
}

const char* c_ldap_handle::address_attribute() const {
  return (flags & kFlagActiveDirectory) != 0 ? "ou" : "l";
}

char* c_ldap_handle::entry_dn(const char* name) {
  char* value = vq::net::EscapeDnValue(name);
  const char* base = getVSRBaseDN();
  const std::size_t size = 3 + std::strlen(value) + 1 + std::strlen(base) + 1;
  char* dn = static_cast<char*>(ut_alloc(size));
  ut_snprintf(dn, size, "CN=%s,%s", value, base);
  ut_free(value);
  return dn;
}

// --- searches ---

int c_ldap_handle::search_entries(const char* name, bool every, const char* const* attributes,
                                  int attributesOnly, a_ldap_message** res) {
  *res = nullptr;
  const bool product = serverType == LDAP_SERVER_TYPE_DATABASE;
  char* filter = nullptr;
  if (product) {
    // A listing matches every name; a search matches one name, even a name made of
    // filter metacharacters.
    char* value = every ? ut_strdup("*") : vq::net::EscapeLdapFilterValue(name);
    const std::size_t size = std::strlen(kServerFilterPrefix) + std::strlen(value) + 3;
    filter = static_cast<char*>(ut_alloc(size));
    ut_snprintf(filter, size, "%s%s))", kServerFilterPrefix, value);
    ut_free(value);
  }
  timeval limit = request_limit();
  const int rc = lib().ldap_search_st(ldap, product ? getVSRBaseDN() : "", kLdapScopeOneLevel,
                                      product ? filter : name, const_cast<char**>(attributes),
                                      attributesOnly, &limit, res);
  ut_free(filter);
  return rc;
}

a_directory_error c_ldap_handle::find_own_entry(const char* name, const char* const* attributes,
                                                int attributesOnly, a_ldap_message** res,
                                                a_ldap_message** entry) {
  *entry = nullptr;
  int rc = search_entries(name, false, attributes, attributesOnly, res);
  if (rc == kLdapPartialResults) rc = kLdapSuccess;
  if (rc != kLdapSuccess && rc != kLdapNoSuchObject)
    return request_failed(rc, "ldap_search_st");
  const int count = *res != nullptr ? lib().ldap_count_entries(ldap, *res) : 0;
  if (count <= 0) return DIRECTORY_NO_SUCH_SERVER;
  if (count > 1) return DIRECTORY_AMBIGUOUS;
  *entry = lib().ldap_first_entry(ldap, *res);
  return *entry != nullptr ? DIRECTORY_OK : DIRECTORY_NO_SUCH_SERVER;
}

a_directory_error c_ldap_handle::find_product_unit(const char* const* attributes,
                                                   a_ldap_message** res,
                                                   a_ldap_message** entry) {
  *entry = nullptr;
  timeval limit = request_limit();
  int rc =
      lib().ldap_search_st(ldap, baseDN != nullptr ? baseDN : "", kLdapScopeOneLevel,
                           serverType == LDAP_SERVER_TYPE_DATABASE ? kProductUnitFilter : "",
                           const_cast<char**>(attributes), 0, &limit, res);
  if (rc == kLdapPartialResults) rc = kLdapSuccess;
  if (rc == kLdapNoSuchObject) return DIRECTORY_NO_PRODUCT_UNIT;
  if (rc != kLdapSuccess) return request_failed(rc, "ldap_search_st");
  *entry = *res != nullptr ? lib().ldap_first_entry(ldap, *res) : nullptr;
  return *entry != nullptr ? DIRECTORY_OK : DIRECTORY_NO_PRODUCT_UNIT;
}

bool c_ldap_handle::entry_is_stale(a_ldap_message* entry) {
  if (searchTimeout == 0) return false;
  Values modified(lib().ldap_get_values(ldap, entry, "modifyTimestamp"));
  Values created(modified.empty() ? lib().ldap_get_values(ldap, entry, "createTimestamp")
                                  : nullptr);
  const char* text =
      !modified.empty() ? modified.get()[0] : (!created.empty() ? created.get()[0] : nullptr);
  std::time_t when = 0;
  if (text == nullptr || !vq::net::ParseGeneralizedTime(text, &when)) return false;
  return vq::net::EntryTimeIsStale(when, now(), searchTimeout);
}

a_directory_error c_ldap_handle::search(const char* serverName, IPAddress_list& out) {
  Session session(this);
  a_directory_error result = open_session(true);
  if (result != DIRECTORY_OK) return result;
  if (serverName == nullptr) return DIRECTORY_NO_SUCH_SERVER;

  const char* attributes[] = {address_attribute(), "modifyTimestamp", "createTimestamp",
                              nullptr};
  Message res;
  a_ldap_message* entry = nullptr;
  result = find_own_entry(serverName, attributes, 0, &res.m, &entry);
  if (result != DIRECTORY_OK) return result;
  if (entry_is_stale(entry)) return DIRECTORY_STALE;

  const bool ipv6 = TcpUtil::IsIPv6Supported() != 0;
  unsigned added = 0;
  Values values(lib().ldap_get_values(ldap, entry, address_attribute()));
  for (char** v = values.get(); v != nullptr && *v != nullptr; ++v) {
    auto* address = new IPAddress(*v);
    if (address->isValid() != 0 && (ipv6 || address->isIPv6Address() == 0)) {
      out.append(address);
      ++added;
    } else {
      delete address;
    }
  }
  return added != 0 ? DIRECTORY_OK : DIRECTORY_NO_SUCH_SERVER;
}

a_directory_error c_ldap_handle::lookupServers(a_server_list* list) {
  Session session(this);
  a_directory_error result = open_session(true);
  if (result != DIRECTORY_OK) return result;

  const char* attributes[] = {address_attribute(), "modifyTimestamp", "createTimestamp",
                              nullptr};
  Message res;
  int rc = search_entries("*", true, attributes, 0, &res.m);
  if (rc == kLdapPartialResults) rc = kLdapSuccess;
  if (rc == kLdapNoSuchObject) return DIRECTORY_OK;
  if (rc != kLdapSuccess) return request_failed(rc, "ldap_search_st");

  for (a_ldap_message* entry = res.m != nullptr ? lib().ldap_first_entry(ldap, res.m) : nullptr;
       entry != nullptr; entry = lib().ldap_next_entry(ldap, entry)) {
    if (entry_is_stale(entry)) continue;
    char* dn = lib().ldap_get_dn(ldap, entry);
    Values values(lib().ldap_get_values(ldap, entry, address_attribute()));
    char name[256];
    bool added = false;
    if (dn != nullptr && !values.empty() &&
        vq::net::ServerNameFromDN(dn, name, sizeof name) != 0) {
      IPAddress address(values.get()[0]);
      if (address.isValid() != 0 && list != nullptr) {
        list->addServer(STRM_PORT_TCPIP, address.getPortNumber(), name, nullptr, &address,
                        nullptr);
        added = true;
      }
    }
    if (dn != nullptr) lib().ldap_memfree(dn);
    if (!added) result = DIRECTORY_NO_SUCH_SERVER;
  }
  return result;
}

a_directory_error c_ldap_handle::serverSupportsTimestamps(unsigned* supportedOut) {
  unsigned ignored = 0;
  unsigned* out = supportedOut != nullptr ? supportedOut : &ignored;
  *out = 0;
  Session session(this);
  a_directory_error result = open_session(true);
  if (result != DIRECTORY_OK) return result;

  const char* attributes[] = {"objectClass", "modifyTimestamp", "createTimestamp", nullptr};
  Message res;
  a_ldap_message* entry = nullptr;
  if ((result = find_product_unit(attributes, &res.m, &entry)) != DIRECTORY_OK) return result;
  Values modified(lib().ldap_get_values(ldap, entry, "modifyTimestamp"));
  Values created(lib().ldap_get_values(ldap, entry, "createTimestamp"));
  *out = !modified.empty() && !created.empty() ? 1 : 0;
  return DIRECTORY_OK;
}

a_directory_error c_ldap_handle::readAttribute(const char* serverName, const char* attribute,
                                               char* buffer, unsigned size) {
  if (buffer != nullptr && size != 0) buffer[0] = '\0';
  Session session(this);
  a_directory_error result = open_session(true);
  if (result != DIRECTORY_OK) return result;
  if (serverName == nullptr || attribute == nullptr) return DIRECTORY_NO_SUCH_SERVER;

  const char* attributes[] = {attribute, nullptr};
  Message res;
  a_ldap_message* entry = nullptr;
  if ((result = find_own_entry(serverName, attributes, 0, &res.m, &entry)) != DIRECTORY_OK)
    return result;
  Values values(lib().ldap_get_values(ldap, entry, attribute));
  if (values.empty()) return DIRECTORY_NO_SUCH_SERVER;
  if (buffer != nullptr && size != 0)
    ut_strcpy(buffer, size, values.get()[0], nullptr, nullptr);
  return DIRECTORY_OK;
}

// --- registration side ---

int c_ldap_handle::await_request(int id, const char* callName) {
  if (id == -1) return session_failed(callName);
  const int rc = _waitForResults(id, callName);
  if (rc == kLdapTimeout) lib().ldap_abandon(ldap, id);
  return rc;
}

int c_ldap_handle::write_entry(bool add, const char* dn, a_ldap_mod** mods,
                               const char* callName) {
  const int id = add ? lib().ldap_add(ldap, dn, mods) : lib().ldap_modify(ldap, dn, mods);
  return await_request(id, callName);
}

int c_ldap_handle::delete_entry(const char* dn, const char* callName) {
  return await_request(lib().ldap_delete(ldap, dn), callName);
}

a_directory_error c_ldap_handle::registerServer(const char* serverName,
                                                IPAddress_list& addresses, unsigned force,
                                                unsigned* replacedStale) {
  if ((flags & kFlagForceRegister) != 0) force = 1;
  if (!supported()) return DIRECTORY_NO_LIBRARY;
  if (addresses.is_empty()) return DIRECTORY_NO_ADDRESS;
  if (replacedStale != nullptr) *replacedStale = 0;
  if (serverName == nullptr || serverName[0] == '\0') return DIRECTORY_NO_SUCH_SERVER;
  if (registered != 0) (void)unregisterServer();
  replace_text(registeredName, serverName);

  Session session(this);
  a_directory_error result = open_session(false);
  if (result != DIRECTORY_OK) return result;

  {
    const char* attributes[] = {"objectClass", nullptr};
    Message unit;
    a_ldap_message* entry = nullptr;
    if ((result = find_product_unit(attributes, &unit.m, &entry)) != DIRECTORY_OK)
      return result;
  }

  bool replace = force != 0;
  if (force == 0) {
    const char* attributes[] = {address_attribute(), "modifyTimestamp", "createTimestamp",
                                nullptr};
    Message res;
    a_ldap_message* entry = nullptr;
    result = find_own_entry(serverName, attributes, 0, &res.m, &entry);
    if (result == DIRECTORY_AMBIGUOUS || result == DIRECTORY_TIMED_OUT ||
        result == DIRECTORY_REQUEST_FAILED)
      return result;
    if (result == DIRECTORY_OK) {
      // The entry is this server's own when every address it holds is one of ours
      // (address and port); another server's entry is taken over only when stale.
      Values values(lib().ldap_get_values(ldap, entry, address_attribute()));
      bool allOurs = true;
      for (char** v = values.get(); v != nullptr && *v != nullptr; ++v) {
        IPAddress held(*v);
        bool ours = false;
        for (IPAddress_iter it(addresses); !it.at_end() && !ours; it.next())
          ours = held.isValid() != 0 && held.sameIPAddress(*it.element()) &&
                 held.getPortNumber() == it.element()->getPortNumber();
        allOurs = allOurs && ours;
      }
      if (allOurs) {
        replace = true;
      } else if (entry_is_stale(entry)) {
        replace = true;
        if (replacedStale != nullptr) *replacedStale = 1;
      } else {
        return DIRECTORY_NAME_TAKEN;
      }
    }
  }

  char* dn = entry_dn(serverName);
  if (replace) {
    const int rc = delete_entry(dn, "ldap_delete");
    if (rc != kLdapSuccess && force == 0) {
      lastError = rc;
      lastErrorCall = "ldap_delete_s";
    }
  }

  const bool ad = (flags & kFlagActiveDirectory) != 0;
  std::vector<std::string> texts = address_texts(addresses);
  std::vector<char*> addressValues = value_array(texts);
  char objectClassName[] = "objectClass";
  char cnName[] = "cn";
  char descriptionName[] = "description";
  char presentationName[] = "presentationAddress";
  char structural[32];
  ut_strcpy(structural, sizeof structural, ad ? "applicationEntity" : "applicationProcess",
            nullptr, nullptr);
  char top[] = "top";
  char version[64];
  ut_strcpy(version, sizeof version, kVersionText, nullptr, nullptr);
  char blank[] = " ";
  char* nameCopy = ut_strdup(serverName);
  char* classValues[] = {structural, top, nullptr};
  char* cnValues[] = {nameCopy, nullptr};
  char* descriptionValues[] = {version, nullptr};
  char* presentationValues[] = {blank, nullptr};
  char addressName[4];
  ut_strcpy(addressName, sizeof addressName, address_attribute(), nullptr, nullptr);

  a_ldap_mod objectClassMod{kLdapModAdd, objectClassName, classValues};
  a_ldap_mod cnMod{kLdapModAdd, cnName, cnValues};
  a_ldap_mod descriptionMod{kLdapModAdd, descriptionName, descriptionValues};
  a_ldap_mod addressMod{kLdapModAdd, addressName, addressValues.data()};
  a_ldap_mod presentationMod{kLdapModAdd, presentationName, presentationValues};
  a_ldap_mod* mods[6] = {};
  int n = 0;
  mods[n++] = &objectClassMod;
  mods[n++] = &cnMod;
  if (serverType == LDAP_SERVER_TYPE_DATABASE) mods[n++] = &descriptionMod;
  mods[n++] = ad ? &presentationMod : &addressMod;

  int rc = write_entry(true, dn, mods, "ldap_add");
  if (rc == kLdapSuccess && ad) {
    // This directory takes the address attribute only in a modification of its own.
    a_ldap_mod replaceMod{kLdapModReplace, addressName, addressValues.data()};
    a_ldap_mod* replaceMods[] = {&replaceMod, nullptr};
    rc = write_entry(false, dn, replaceMods, "ldap_modify");
  }
  ut_free(nameCopy);
  ut_free(dn);
  if (rc == kLdapAlreadyExists) return DIRECTORY_NAME_TAKEN;
  if (rc != kLdapSuccess)
    return rc == kLdapTimeout ? DIRECTORY_TIMED_OUT : DIRECTORY_REQUEST_FAILED;
  registered = 1;
  return DIRECTORY_OK;
}

a_directory_error c_ldap_handle::unregisterServer() {
  if (registered == 0) return DIRECTORY_NOT_REGISTERED;
  Session session(this);
  a_directory_error result = open_session(false);
  if (result != DIRECTORY_OK) return result;
  char* dn = entry_dn(registeredName);
  const int rc = delete_entry(dn, "ldap_delete");
  ut_free(dn);
  if (rc != kLdapSuccess) return DIRECTORY_REQUEST_FAILED;
  registered = 0;
  return DIRECTORY_OK;
}

a_directory_error c_ldap_handle::updateTimestamp() {
  if (registered == 0) return DIRECTORY_NOT_REGISTERED;
  Session session(this);
  a_directory_error result = open_session(false);
  if (result != DIRECTORY_OK) return result;

  const char* attributes[] = {"cn", nullptr};
  {
    Message res;
    a_ldap_message* entry = nullptr;
    if ((result = find_own_entry(registeredName, attributes, 1, &res.m, &entry)) !=
        DIRECTORY_OK)
      return result;
  }
  char* dn = entry_dn(registeredName);
  char descriptionName[] = "description";
  char other[] = "VSR";
  char version[64];
  ut_strcpy(version, sizeof version,
            serverType == LDAP_SERVER_TYPE_DATABASE ? kVersionText : kOtherTypeDescription,
            nullptr, nullptr);
  int rc = kLdapSuccess;
  if ((flags & kFlagActiveDirectory) != 0) {
    // This directory keeps the modification time of an unchanged value: change it twice.
    char* values[] = {other, nullptr};
    a_ldap_mod mod{kLdapModReplace, descriptionName, values};
    a_ldap_mod* mods[] = {&mod, nullptr};
    rc = write_entry(false, dn, mods, "ldap_modify");
  }
  if (rc == kLdapSuccess) {
    char* values[] = {version, nullptr};
    a_ldap_mod mod{kLdapModReplace, descriptionName, values};
    a_ldap_mod* mods[] = {&mod, nullptr};
    rc = write_entry(false, dn, mods, "ldap_modify");
  }
  ut_free(dn);
  if (rc != kLdapSuccess)
    return rc == kLdapTimeout ? DIRECTORY_TIMED_OUT : DIRECTORY_REQUEST_FAILED;
  return DIRECTORY_OK;
}

a_directory_error c_ldap_handle::addIPAddress(IPAddress& address) {
  return _addRemoveIPAddress(address, true);
}

a_directory_error c_ldap_handle::removeIPAddress(IPAddress& address) {
  return _addRemoveIPAddress(address, false);
}

a_directory_error c_ldap_handle::_addRemoveIPAddress(IPAddress& address, bool add) {
  if (registered == 0) return DIRECTORY_NOT_REGISTERED;
  Session session(this);
  a_directory_error result = open_session(false);
  if (result != DIRECTORY_OK) return result;

  const char* attributes[] = {address_attribute(), nullptr};
  IPAddress_list held;
  bool change = false;
  {
    Message res;
    a_ldap_message* entry = nullptr;
    if ((result = find_own_entry(registeredName, attributes, 0, &res.m, &entry)) !=
        DIRECTORY_OK)
      return result;
    Values values(lib().ldap_get_values(ldap, entry, address_attribute()));
    bool present = false;
    for (char** v = values.get(); v != nullptr && *v != nullptr; ++v) {
      auto* a = new IPAddress(*v);
      const bool same = a->isValid() != 0 && a->sameIPAddress(address);
      present = present || same;
      if (a->isValid() == 0 || (!add && same)) {
        change = change || same;
        delete a;
      } else {
        held.append(a);
      }
    }
    if (add && !present) {
      held.append(address.clone());
      change = true;
    }
  }
  if (!change) return DIRECTORY_OK;

  std::vector<std::string> texts = address_texts(held);
  std::vector<char*> values = value_array(texts);
  char addressName[4];
  ut_strcpy(addressName, sizeof addressName, address_attribute(), nullptr, nullptr);
  a_ldap_mod mod{kLdapModReplace, addressName, values.data()};
  a_ldap_mod* mods[] = {&mod, nullptr};
  char* dn = entry_dn(registeredName);
  const int rc = write_entry(false, dn, mods, "ldap_modify");
  ut_free(dn);
  if (rc != kLdapSuccess)
    return rc == kLdapTimeout ? DIRECTORY_TIMED_OUT : DIRECTORY_REQUEST_FAILED;
  return DIRECTORY_OK;
}
