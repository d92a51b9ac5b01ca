// Data-source profiles over one process-wide cached store of the data-source file.
#include "config/data_source_profile.h"

#include <pthread.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "config/config_text.h"
#include "config/ini_store.h"
#include "config/option_tables.h"
#include "utils/base/file_locations.h"
#include "utils/base/posix_file.h"

namespace {

constexpr const char kOdbcIniName[] = ".odbc.ini";
constexpr const char kFileDsnSection[] = "ODBC";
constexpr std::size_t kMaxServerName = 250;  // characters of a ServerName from a profile

// The cached store and the lock that covers it: replacing or deleting the store while
// another thread reads through it would free it under that thread.
pthread_mutex_t g_profile_lock = PTHREAD_MUTEX_INITIALIZER;
c_odbc_inifile* g_profile_store = nullptr;

class ProfileLock {
 public:
  ProfileLock() { pthread_mutex_lock(&g_profile_lock); }
  ~ProfileLock() { pthread_mutex_unlock(&g_profile_lock); }
  ProfileLock(const ProfileLock&) = delete;
  ProfileLock& operator=(const ProfileLock&) = delete;
};

bool file_exists(const std::string& path) {
  a_posix_stat st;
  return _posix_stat(path.c_str(), &st) == 0 && (st.mode & 0xF000) != 0x4000;
}

std::string home_of_user() {
  struct passwd entry;
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr ||
      found->pw_dir == nullptr) {
    return std::string();
  }
  return found->pw_dir;
}

// A file data source is found by its own name: a name that holds a path is used as given;
// a bare name is looked for in ODBCHOME, HOME, the user's home directory and the current
// directory. ODBCINI and ODBC_INI name the data-source file and must not redirect a file
// data source to that file's "ODBC" section.
std::size_t locate_file_dsn(const char* name, char* out, std::size_t size) {
  std::string found;
  if (std::strchr(name, '/') != nullptr) {
    if (file_exists(name)) found = name;
  } else {
    for (const char* var : {"ODBCHOME", "HOME"}) {
      const char* dir = std::getenv(var);
      if (found.empty() && dir != nullptr && *dir != '\0' &&
          file_exists(std::string(dir) + "/" + name)) {
        found = std::string(dir) + "/" + name;
      }
    }
    const std::string home = home_of_user();
    if (found.empty() && !home.empty() && file_exists(home + "/" + name)) {
      found = home + "/" + name;
    }
    if (found.empty() && file_exists(name)) found = name;
  }
  if (found.empty() || found.size() + 1 > size) {
    out[0] = '\0';
    return 0;
  }
  std::memcpy(out, found.c_str(), found.size() + 1);
  return found.size();
}

// The cached store over `path`, opened read-only; null when it cannot be opened (the
// cache is then empty). The caller holds the profile lock.
c_odbc_inifile* cached_store(const char* path) {
  if (g_profile_store != nullptr && std::strcmp(g_profile_store->full_filename(), path) == 0) {
    return g_profile_store;
  }
  delete g_profile_store;  // closes it
  g_profile_store = nullptr;
  auto* store = new c_odbc_inifile(path, true, 0, true, CFG_DS_NO_INI_DIR, 0);
  if (!store->open_read_only()) {
    delete store;
    return nullptr;
  }
  g_profile_store = store;
  return store;
}

// Looks a slot's value up under its long name, then its short name, then (only when
// the last lookup found no entry at all) its aliases in order. Null for an absent or
// empty value.
const char* lookup(c_cfg_section* section, const a_conn_option& row) {
  c_cfg_entry* entry = section->find(row.long_name);
  if (entry != nullptr && entry->value[0] != '\0') return entry->value;
  if (row.short_name != nullptr) entry = section->find(row.short_name);
  if (entry == nullptr && row.aliases != nullptr) {
    for (const char* const* alias = row.aliases; *alias != nullptr && entry == nullptr;
         ++alias) {
      entry = section->find(*alias);
    }
  }
  return entry != nullptr && entry->value[0] != '\0' ? entry->value : nullptr;
}

// The values of `section` into the slots of `parms` (initialised), by the table's names.
int fill_from_section(c_cfg_section* section, a_string_parms* parms, unsigned count,
                      const a_conn_option* table, unsigned rows, bool clientRules) {
  int rc = kParseOk;
  for (unsigned slot = 0; slot < count && slot < rows && rc == kParseOk; ++slot) {
    if (clientRules && (slot == kSlotDataSourceName || slot == kSlotFileDataSourceName)) {
      continue;
    }
    const char* value = lookup(section, table[slot]);
    if (value == nullptr) continue;
    if (clientRules && slot == kSlotNewPassword && std::strcmp(value, "*") != 0) continue;
    std::size_t length = std::strlen(value);
    if (clientRules && slot == kSlotServerName && length > kMaxServerName) {
      length = kMaxServerName;
    }
    char* copy = vq::config::copy_text_n(value, length);
    if (copy == nullptr) {
      rc = kParseNoMemory;
      break;
    }
    parms->values[slot] = copy;
  }
  return rc;
}

int read_profile(const char* name, a_string_parms* parms, bool isFile, unsigned count,
                 const a_conn_option* table, unsigned rows, bool clientRules) {
  if (!InitSizedStringParms(parms, count)) return kParseNoMemory;
  char* error = StringParmsError(parms);
  vq::config::copy_bounded(error, kStringParmsErrorSize, name);
  if (name == nullptr) return kParseNoDataSource;

  char path[kCfgMaxPath + 1];
  const std::size_t n = isFile ? locate_file_dsn(name, path, sizeof path)
                               : LS_QualifyOdbcIniFile(kOdbcIniName, path, sizeof path, 1);
  if (n == 0) return kParseDsnFileNotFound;

  ProfileLock lock;
  c_odbc_inifile* store = cached_store(path);
  if (store == nullptr) return kParseDsnFileNotOpened;
  c_cfg_section* section = store->read_section(isFile ? kFileDsnSection : name);
  if (section == nullptr) return kParseNoDataSource;
  error[0] = '\0';
  const int rc = fill_from_section(section, parms, count, table, rows, clientRules);
  store->delete_section_object(section);
  return rc;
}

}  // namespace

int ReadProfileSection(const char* name, c_cfg_section* section, a_string_parms* parms,
                       unsigned count) {
  if (!InitSizedStringParms(parms, count)) return kParseNoMemory;
  vq::config::copy_bounded(StringParmsError(parms), kStringParmsErrorSize, name);
  if (section == nullptr) return kParseNoDataSource;
  StringParmsError(parms)[0] = '\0';
  return fill_from_section(section, parms, count, vq::config::kClientAndODBCOptionTable,
                           kClientAndODBCSlots, true);
}

int ReadProfile(const char* name, a_string_parms* parms, bool isFile, unsigned count) {
  return read_profile(name, parms, isFile, count, vq::config::kClientAndODBCOptionTable,
                      kClientAndODBCSlots, true);
}

int ReadProfile_Oracle(const char* name, a_string_parms* parms, bool isFile) {
  return read_profile(name, parms, isFile, kOracleSlots, MapOracleOptionTable, kOracleSlots,
                      false);
}

int GetODBCString(const char* section, const char* key, char* out, std::size_t size) {
  if (out != nullptr && size != 0) out[0] = '\0';
  if (section == nullptr || key == nullptr || out == nullptr || size == 0) return 0;
  char path[kCfgMaxPath + 1];
  if (LS_QualifyOdbcIniFile(kOdbcIniName, path, sizeof path, 1) == 0) {
    return 0;
  }
  ProfileLock lock;
  c_odbc_inifile* store = cached_store(path);
  if (store == nullptr) return kParseDsnFileNotOpened;
  c_cfg_section* found = store->read_section(section);
  if (found == nullptr) return 0;
  const char* value = found->get_value(key);
  if (value != nullptr && value[0] != '\0') vq::config::copy_bounded(out, size, value);
  store->delete_section_object(found);
  return 0;
}

void ProfileFini() {
  ProfileLock lock;
  delete g_profile_store;
  g_profile_store = nullptr;
}
