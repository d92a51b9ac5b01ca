// Data sources through the installer library or the driver's own ini store.
#include "odbc/data_sources.h"

#include <strings.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "config/config_text.h"
#include "config/conn_string.h"
#include "config/data_source_profile.h"
#include "config/ini_store.h"
#include "config/key_value_parser.h"
#include "odbc/connect.h"
#include "odbc/diag_states.h"
#include "odbc/diagnostics.h"
#include "odbc/engine.h"
#include "odbc/sql_string.h"
#include "utils/base/file_locations.h"
#include "utils/base/library_loader.h"
#include "utils/base/memory.h"
#include "utils/locale/lang_string.h"

namespace {

// The installer library under its development name, then Debian's versioned name.
constexpr const char* kInstallerNames[] = {"libodbcinst.so", "libodbcinst.so.2"};

constexpr a_packed_sqlstate kStateIM002 = PackSQLState("IM002");
constexpr a_packed_sqlstate kStateHY103 = PackSQLState("HY103");
constexpr a_packed_sqlstate kStateS1103 = PackSQLState("S1103");

constexpr const char kDataSourcesSection[] = "ODBC Data Sources";
constexpr int kListStartBytes = 100;
// The longest entry an installer library returns whole (unixODBC keeps names of up to
// 1000 bytes); a list read with less room than this left over may have been cut.
constexpr int kLongestListEntry = 1024;
constexpr int kKeyProbeBytes = 20;      // enough to tell whether a key has a value
constexpr std::size_t kMaxConfigKey = 80;  // keys of the configuration attributes
constexpr int kAllocEnvMessageBytes = 80;
constexpr unsigned long kMsgInvalidRequest = 9574;
constexpr std::uint32_t kInstallerInvalidRequestType = 5;  // ODBC_ERROR_INVALID_REQUEST_TYPE
constexpr const char kDriverName[] = "Vellumcrest 12";
constexpr std::int32_t kSqlDataSourceNotFound = -754;  // the parse error of a missing data source
constexpr BOOL kTrue = 1;
constexpr BOOL kFalse = 0;

struct Installer {
  void* module = nullptr;
  decltype(&::SQLWriteDSNToIni) write_dsn = nullptr;
  decltype(&::SQLRemoveDSNFromIni) remove_dsn = nullptr;
  decltype(&::SQLValidDSN) valid_dsn = nullptr;
  decltype(&::SQLSetConfigMode) set_config_mode = nullptr;
  decltype(&::SQLGetConfigMode) get_config_mode = nullptr;
  decltype(&::SQLPostInstallerError) post_error = nullptr;
  decltype(&::SQLGetPrivateProfileString) get_profile = nullptr;
  decltype(&::SQLWritePrivateProfileString) write_profile = nullptr;
};

// Bound once; read without a lock afterwards.
Installer g_installer;
std::once_flag g_installer_once;
std::atomic<bool> g_installer_profiles{true};

template <typename Fn>
void bind(Fn& fn, const char* name) {
  fn = reinterpret_cast<Fn>(UTGetProcAddress(g_installer.module, name));
}

void load_installer() {
  for (const char* name : kInstallerNames) {
    g_installer.module = UTLoadLibrary(name);
    if (g_installer.module != nullptr) break;
  }
  if (g_installer.module == nullptr) return;
  bind(g_installer.write_dsn, "SQLWriteDSNToIni");
  bind(g_installer.remove_dsn, "SQLRemoveDSNFromIni");
  bind(g_installer.valid_dsn, "SQLValidDSN");
  bind(g_installer.set_config_mode, "SQLSetConfigMode");
  bind(g_installer.get_config_mode, "SQLGetConfigMode");
  bind(g_installer.post_error, "SQLPostInstallerError");
  bind(g_installer.get_profile, "SQLGetPrivateProfileString");
  bind(g_installer.write_profile, "SQLWritePrivateProfileString");
}

const Installer& installer() {
  LoadInstallDLL();
  return g_installer;
}

// The environment of a handle: the handle itself or a connection's parent.
tagENV* env_of(tagOBJECT* h) {
  if (h == nullptr) return nullptr;
  if (h->kind == OBJ_ENV) return static_cast<tagENV*>(h);
  return OwningEnv(h);
}

void record_im002(tagOBJECT* h) {
  if (h != nullptr && h->retcode == SQL_SUCCESS) (void)AddSQLState(h, kStateIM002, kStateIM002);
}

// The section's entries as "key=value" texts, each terminated, then a second
// terminator; at most size - 2 bytes of entries (whole entries only). The length of the
// list without its final terminator, 0 for an empty section.
int copy_entry_list(c_cfg_section* section, char* buffer, int size) {
  int used = 0;
  for (c_cfg_entry_iter it(section->entries); !it.at_end(); it.next()) {
    const c_cfg_entry* e = it.element();
    const std::size_t k = std::strlen(e->key);
    const std::size_t v = std::strlen(e->value);
    const std::size_t n = k + 1 + v + 1;
    if (static_cast<std::size_t>(used) + n > static_cast<std::size_t>(size - 2)) break;
    std::memcpy(buffer + used, e->key, k);
    buffer[used + k] = '=';
    std::memcpy(buffer + used + k + 1, e->value, v);
    buffer[used + k + 1 + v] = '\0';
    used += static_cast<int>(n);
  }
  if (used == 0) return 0;
  buffer[used] = '\0';
  return used;
}

// Built-in reading through the environment's cached store.
int builtin_profile(tagOBJECT* h, const char* section_name, const char* key, char* buffer,
                    int size, const char* file) {
  tagENV* env = env_of(h);
  const int default_length = static_cast<int>(strnlen(buffer, static_cast<std::size_t>(size)));
  if (env == nullptr || section_name == nullptr) return default_length;
  char path[kCfgMaxPath + 1];
  const char* name = file != nullptr ? file : kOdbcIniFile;
  // The data-source file is found by its location rules; another file is taken as named.
  if (std::strcmp(name, kOdbcIniFile) == 0) {
    if (LS_QualifyOdbcIniFile(name, path, sizeof path, 1) == 0) {
      record_im002(h);
      return default_length;
    }
    name = path;
  }

  c_cfg_section* section = nullptr;
  EnterEnvCritSect();
  if (env->inifile != nullptr && std::strcmp(env->inifile->full_filename(), name) != 0) {
    env->inifile->close();
    delete env->inifile;
    env->inifile = nullptr;
  }
  if (env->inifile == nullptr) {
    auto* store = new c_odbc_inifile(name, true, 0, true, CFG_DS_NO_INI_DIR, 0);
    if (store != nullptr && !store->open_read_only()) {
      delete store;
      store = nullptr;
    }
    env->inifile = store;
  }
  if (env->inifile != nullptr) section = env->inifile->read_section(section_name);
  c_odbc_inifile* store = env->inifile;
  LeaveEnvCritSect();

  if (section == nullptr) {
    record_im002(h);
    return default_length;
  }
  int length = default_length;
  if (key != nullptr) {
    const char* value = section->get_value(key);
    if (value != nullptr) {
      vq::config::copy_bounded(buffer, static_cast<std::size_t>(size), value);
      length = static_cast<int>(std::strlen(buffer));
    }
  } else if (size >= 2) {
    char* list = static_cast<char*>(ut_malloc(static_cast<std::size_t>(size)));
    if (list != nullptr) {
      const int n = copy_entry_list(section, list, size);
      if (n > 0) {
        std::memcpy(buffer, list, static_cast<std::size_t>(n) + 1);
        length = n;
      }
      ut_free(list);
    }
  }
  EnterEnvCritSect();
  if (env->inifile == store && store != nullptr) {
    store->delete_section_object(section);
  } else {
    delete section;
  }
  LeaveEnvCritSect();
  return length;
}

// A whole value of `key` in `section` through the installer, however long; empty when
// there is none.
std::string installer_value(const char* section, const char* key) {
  std::string value;
  for (int size = 256;; size *= 2) {
    std::string buffer(static_cast<std::size_t>(size), '\0');
    const int n = installer().get_profile(section, key, "", &buffer[0], size, kInstallerIniFile);
    if (n < 0) return std::string();
    if (n < size - 1 || size >= (1 << 20)) {
      return std::string(buffer.c_str());
    }
  }
}

// The installer's entries of `section`, key-only or key=value, each terminated, read
// whole into a string (empty when there are none).
std::string installer_list(const char* section) {
  for (int size = 1024;; size *= 2) {
    std::string buffer(static_cast<std::size_t>(size) + 2, '\0');
    const int n = installer().get_profile(section, nullptr, "", &buffer[0], size, kInstallerIniFile);
    if (n < 0) return std::string();
    if (size - n >= kLongestListEntry + 2 || size >= (1 << 24)) {
      buffer.resize(static_cast<std::size_t>(n));
      return buffer;
    }
  }
}

// Data source `name` read through the installer library into `parms`; kParseNoDataSource
// when it does not know it.
int read_through_installer(const char* name, a_string_parms* parms) {
  if (installer().get_profile == nullptr) return kParseNoDataSource;
  // The user's file was read already; only the system's is asked for. (In its user mode
  // the library would create a missing user file in the account's home directory.) The
  // library's mode is process-wide: it is put back at once.
  std::uint16_t mode = 0;
  const bool switched = GetConfigMode(&mode) != 0 && SetConfigMode(ODBC_SYSTEM_DSN) != 0;
  std::vector<std::pair<std::string, std::string>> entries;
  const std::string keys = installer_list(name);
  for (std::size_t pos = 0; pos < keys.size();) {
    const char* entry = keys.c_str() + pos;
    const std::size_t n = std::strlen(entry);
    if (n == 0) break;
    pos += n + 1;
    const char* eq = std::strchr(entry, '=');
    if (eq != nullptr) {
      entries.emplace_back(std::string(entry, static_cast<std::size_t>(eq - entry)), eq + 1);
    } else {
      entries.emplace_back(entry, installer_value(name, entry));
    }
  }
  if (switched) (void)SetConfigMode(mode);

  c_cfg_section* section = entries.empty() ? nullptr : new c_cfg_section(name);
  for (const auto& [key, value] : entries) section->set_value(key.c_str(), value.c_str());
  const int rc = ReadProfileSection(name, section, parms, kConnAttrSlots);
  delete section;
  return rc;
}

// The description of a data-source entry: without its quotes when it is longer than one
// character and enclosed in the same quote.
void strip_quotes(const char*& text, std::size_t& length) {
  if (length > 1 && (text[0] == '\'' || text[0] == '"') && text[length - 1] == text[0]) {
    ++text;
    length -= 2;
  }
}

// The entries of a configuration attribute list as one connection string; null when an
// entry has no '=' or a key of kMaxConfigKey characters or more, or memory runs out.
char* attributes_to_string(const char* attributes) {
  std::size_t total = 1;
  std::string key;
  for (const char* p = attributes; p != nullptr && *p != '\0'; p += std::strlen(p) + 1) {
    const char* eq = std::strchr(p, '=');
    if (eq == nullptr || static_cast<std::size_t>(eq - p) >= kMaxConfigKey) return nullptr;
    key.assign(p, static_cast<std::size_t>(eq - p));
    BuildConnectStringCalcLen(&total, key.c_str(), eq + 1, ';');
  }
  char* text = static_cast<char*>(ut_calloc(total + 1));
  if (text == nullptr) return nullptr;
  for (const char* p = attributes; p != nullptr && *p != '\0'; p += std::strlen(p) + 1) {
    const char* eq = std::strchr(p, '=');
    key.assign(p, static_cast<std::size_t>(eq - p));
    BuildConnectStringAppend(text, key.c_str(), eq + 1, ';');
  }
  return text;
}

// Posts message 9574 with installer error 5.
void post_invalid_request() {
  char text[256] = {};
  if (CmdSeqEnv.lang != nullptr) {
    CmdSeqEnv.lang->FormatMiscLangStr(kMsgInvalidRequest, text, sizeof text);
  }
  (void)PostInstallerError(kInstallerInvalidRequestType, text);
}

}  // namespace

void LoadInstallDLL() { std::call_once(g_installer_once, load_installer); }

void UnloadInstallDLL() {}

void SetInstallerProfileReading(bool on) { g_installer_profiles.store(on); }

bool InstallerLoaded() { return installer().module != nullptr; }

int ValidDSN(const char* name) {
  return installer().valid_dsn != nullptr ? installer().valid_dsn(name) : 1;
}

int SetConfigMode(std::uint16_t mode) {
  return installer().set_config_mode != nullptr ? installer().set_config_mode(mode) : 0;
}

int GetConfigMode(std::uint16_t* mode) {
  return installer().get_config_mode != nullptr ? installer().get_config_mode(mode) : 0;
}

int PostInstallerError(std::uint32_t code, const char* text) {
  return installer().post_error != nullptr ? installer().post_error(code, text) : 0;
}

int PostInstallError(std::uint32_t code, const char* text) {
  return PostInstallerError(code, text);
}

int MyWritePrivateProfileString(const char* section, const char* key, const char* value,
                                const char* file) {
  return installer().write_profile != nullptr
             ? installer().write_profile(section, key, value, file)
             : 0;
}

int RemoveIni(const char* name) {
  return installer().remove_dsn != nullptr ? installer().remove_dsn(name) : 0;
}

int DSN_Exists(const char* /*name*/, int* /*out*/) { return 0; }

int MyGetPrivateProfileString(tagOBJECT* h, const char* section, const char* key,
                              const char* default_value, char* buffer, int size,
                              const char* file) {
  if (buffer == nullptr) return 0;
  if (size < 0) {
    buffer[0] = '\0';
    return size;
  }
  if (size == 0) return 0;
  vq::config::copy_bounded(buffer, static_cast<std::size_t>(size),
                           default_value != nullptr ? default_value : "");
  if (installer().get_profile != nullptr && g_installer_profiles.load()) {
    return installer().get_profile(section, key, default_value != nullptr ? default_value : "",
                                   buffer, size,
                                   file != nullptr && std::strcmp(file, kOdbcIniFile) == 0
                                       ? kInstallerIniFile
                                       : file);
  }
  return builtin_profile(h, section, key, buffer, size, file);
}

int ReadIni(tagDBC* dbc) {
  const char* dsn = dbc->attrs[kSlotDataSourceName].text;
  const char* file_dsn = dbc->attrs[kSlotFileDataSourceName].text;
  const bool is_file = dsn == nullptr || dsn[0] == '\0';
  const char* name = is_file ? file_dsn : dsn;
  if (name == nullptr || name[0] == '\0') return kParseOk;

  a_string_parms parms{};
  int rc = ReadProfile(name, &parms, is_file, kConnAttrSlots);
  if (!is_file && (rc == kParseNoDataSource || rc == kParseDsnFileNotFound ||
                   rc == kParseDsnFileNotOpened)) {
    // Not in the driver's own file: perhaps a system data source the installer knows.
    a_string_parms found{};
    const int through = read_through_installer(name, &found);
    if (through == kParseOk) {
      FreeStringParms(&parms);
      parms = found;
      rc = kParseOk;
    } else {
      FreeStringParms(&found);
    }
  }
  if (rc != kParseOk) {
    SetParseError(dbc, &parms, rc);
    FreeStringParms(&parms);
    return rc;
  }
  for (unsigned slot = 0; slot < kConnAttrSlots && slot < parms.count; ++slot) {
    char*& value = parms.values[slot];
    if (value == nullptr || dbc->attrs[slot].source != kAttrUnset) continue;
    ut_free(dbc->attrs[slot].text);
    dbc->attrs[slot].text = value;
    dbc->attrs[slot].source = kAttrFromDsn;
    value = nullptr;
  }
  FreeStringParms(&parms);
  return kParseOk;
}

int WriteIni(tagDBC* dbc, const char* name, const char* driver) {
  if (installer().write_dsn == nullptr || name == nullptr) return 0;
  // The key of each slot: the long name when the section already has it, else the short
  // name, else the alias, when it has that; else the long name. Chosen before the
  // installer writes the data source, which may start its section afresh.
  auto has = [&](const char* key) {
    if (key == nullptr) return false;
    char probe[kKeyProbeBytes];
    return MyGetPrivateProfileString(dbc, name, key, "", probe, sizeof probe, kOdbcIniFile) > 0;
  };
  const char* keys[kConnAttrSlots] = {};
  for (int slot = 0; slot < static_cast<int>(kConnAttrSlots); ++slot) {
    if (slot == kSlotDataSourceName || slot == kSlotDriver) continue;
    const char* key = GetConnAttrName(slot);
    if (key == nullptr || has(key)) {
      keys[slot] = key;
    } else if (has(GetConnAttrShortName(slot))) {
      keys[slot] = GetConnAttrShortName(slot);
    } else if (has(GetConnAttrAltName(slot))) {
      keys[slot] = GetConnAttrAltName(slot);
    } else {
      keys[slot] = key;
    }
  }
  if (installer().write_dsn(name, driver) == 0) return 0;
  for (int slot = 0; slot < static_cast<int>(kConnAttrSlots); ++slot) {
    if (keys[slot] == nullptr) continue;
    const char* text = dbc->attrs[slot].text;
    // An unset or empty slot removes the key.
    (void)MyWritePrivateProfileString(name, keys[slot],
                                      text != nullptr && text[0] != '\0' ? text : nullptr,
                                      kInstallerIniFile);
  }
  return 1;
}

SQLRETURN ReadDataSources(tagENV* env) {
  ut_free(env->dsn_list);
  env->dsn_list = nullptr;
  env->dsn_pos = 0;
  // Read whole: grown while the result is negative or the room left over might have
  // cut an entry (a reader cuts the list at whole entries, short of size - 2).
  int size = kListStartBytes;
  char* list = nullptr;
  int n = 0;
  for (;;) {
    char* grown = static_cast<char*>(ut_realloc(list, static_cast<std::size_t>(size) + 2));
    if (grown == nullptr) {
      ut_free(list);
      return PostSQLState(env, kStateHY001, kStateS1001);
    }
    list = grown;
    std::memset(list, 0, static_cast<std::size_t>(size) + 2);
    n = MyGetPrivateProfileString(env, kDataSourcesSection, nullptr, "", list, size,
                                  kOdbcIniFile);
    if (n >= 0 && size - n >= kLongestListEntry + 2) break;
    if (size >= (1 << 24)) break;  // 16 MB of names: take what was read
    size *= 2;
  }
  if (n < 0) n = 0;
  // Entries the reader gave as names alone get their description looked up.
  std::string whole;
  for (int pos = 0; pos < n;) {
    const char* entry = list + pos;
    const std::size_t len = strnlen(entry, static_cast<std::size_t>(n - pos));
    if (len == 0) break;
    pos += static_cast<int>(len) + 1;
    whole.append(entry, len);
    if (std::memchr(entry, '=', len) == nullptr && installer().get_profile != nullptr) {
      whole += '=';
      whole += installer_value(kDataSourcesSection, std::string(entry, len).c_str());
    }
    whole += '\0';
  }
  ut_free(list);
  env->dsn_list = static_cast<char*>(ut_malloc(whole.size() + 1));
  if (env->dsn_list == nullptr) return PostSQLState(env, kStateHY001, kStateS1001);
  std::memcpy(env->dsn_list, whole.data(), whole.size());
  env->dsn_list[whole.size()] = '\0';
  return SQL_SUCCESS;
}

SQLRETURN DoSQLDataSources(tagENV* env, SQLUSMALLINT direction, SQLCHAR* name,
                           SQLSMALLINT name_size, SQLSMALLINT* name_length, SQLCHAR* description,
                           SQLSMALLINT description_size, SQLSMALLINT* description_length) {
  if (direction != SQL_FETCH_FIRST && direction != SQL_FETCH_NEXT) {
    return PostSQLState(env, kStateHY103, kStateS1103);
  }
  if (direction == SQL_FETCH_FIRST) {
    ut_free(env->dsn_list);
    env->dsn_list = nullptr;
    env->dsn_pos = 0;
  }
  if (env->dsn_list == nullptr) {
    const SQLRETURN rc = ReadDataSources(env);
    if (rc != SQL_SUCCESS) return rc;
  }
  const char* entry = env->dsn_list + env->dsn_pos;
  const std::size_t length = std::strlen(entry);
  if (length == 0) return SQL_NO_DATA;
  const char* eq = std::strchr(entry, '=');
  if (eq == nullptr) return PostSQLState(env, kStateHY000, kStateS1000);
  env->dsn_pos += length + 1;
  const char* text = eq + 1;
  std::size_t text_length = length - static_cast<std::size_t>(eq - entry) - 1;
  strip_quotes(text, text_length);
  (void)ReturnString(env, name, name_size, name_length, entry,
                     static_cast<SQLINTEGER>(eq - entry));
  (void)ReturnString(env, description, description_size, description_length, text,
                     static_cast<SQLINTEGER>(text_length));
  return env->retcode;
}

BOOL ConfigureDataSource(HWND window, WORD request, const char* driver, const char* attributes) {
  // An unknown request is told apart before the attributes are looked at, so that it is
  // reported whatever they name.
  if (request != ODBC_ADD_DSN && request != ODBC_CONFIG_DSN && request != ODBC_REMOVE_DSN) {
    post_invalid_request();
    return kFalse;
  }
  SQLHENV henv = nullptr;
  char message[kAllocEnvMessageBytes];
  if (DoSQLAllocEnv(&henv, message, sizeof message) != SQL_SUCCESS || henv == nullptr) {
    return kFalse;
  }
  auto* env = static_cast<tagENV*>(henv);
  SQLHDBC hdbc = nullptr;
  if (DoSQLAllocConnect(env, &hdbc) != SQL_SUCCESS || hdbc == nullptr) {
    (void)DoSQLFreeEnv(env);
    return kFalse;
  }
  auto* dbc = static_cast<tagDBC*>(hdbc);
  BOOL result = kFalse;
  char* text = attributes_to_string(attributes);
  if (text != nullptr) {
    const bool parsed = ParseConnectionString(dbc, text, SQL_NTS, nullptr, 0) != 0;
    FreeConnectString(text);
    // A data source being added does not exist yet: not finding it is no failure.
    const bool new_source = request == ODBC_ADD_DSN && dbc->err.sqlcode == kSqlDataSourceNotFound;
    if (parsed || new_source) {
      const char* dsn = dbc->attrs[kSlotDataSourceName].text;
      switch (request) {
        case ODBC_REMOVE_DSN:
          result = dsn != nullptr ? RemoveIni(dsn) : kTrue;
          break;
        case ODBC_ADD_DSN:
          result = window != nullptr ? ConfigDialog(dbc, window) : WriteIni(dbc, dsn, driver);
          break;
        case ODBC_CONFIG_DSN: {
          const std::string remembered = dsn != nullptr ? dsn : "";
          if (window != nullptr) {
            result = ConfigDialog(dbc, window);
            break;
          }
          dsn = dbc->attrs[kSlotDataSourceName].text;
          if (dsn != nullptr && strcasecmp(remembered.c_str(), dsn) != 0 &&
              RemoveIni(remembered.c_str()) == 0) {
            break;
          }
          result = WriteIni(dbc, dsn, driver);
          break;
        }
        default:
          break;
      }
    }
  }
  Free_connect_strings(dbc);
  DiscardConnection(dbc);
  (void)DoSQLFreeEnv(env);
  return result != kFalse ? kTrue : kFalse;
}

BOOL GetInstalledDrivers(char* buffer, WORD size, WORD* length_out) {
  // The list: the name, its terminator and the list's terminator. The length output is
  // the list's bytes, or the bytes written when the buffer cuts it.
  constexpr WORD kListBytes = sizeof kDriverName + 1;
  static_assert(kListBytes == 16, "name, terminator, end of list");
  if (length_out != nullptr) *length_out = kListBytes;
  if (buffer == nullptr || size == 0) return kTrue;
  if (size >= kListBytes) {
    std::memcpy(buffer, kDriverName, sizeof kDriverName);
    buffer[sizeof kDriverName] = '\0';
    return kTrue;
  }
  // Cut: as much of the name as leaves room for both terminators.
  const WORD n = size >= 2 ? static_cast<WORD>(size - 2) : 0;
  std::memcpy(buffer, kDriverName, n);
  buffer[n] = '\0';
  if (size >= 2) buffer[n + 1] = '\0';
  if (length_out != nullptr) *length_out = static_cast<WORD>(size >= 2 ? n + 2 : 1);
  return kTrue;
}
