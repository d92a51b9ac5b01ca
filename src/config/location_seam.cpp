// XXX stand-in for the file-location functions; see location_seam.h.
#include "config/location_seam.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "utils/base/posix_file.h"

namespace vq::config::seam {
namespace {

std::size_t put(const std::string& path, char* out, std::size_t size) {
  if (out == nullptr || size == 0) return 0;
  if (path.empty() || path.size() + 1 > size) {
    out[0] = '\0';
    return 0;
  }
  std::memcpy(out, path.c_str(), path.size() + 1);
  return path.size();
}

bool is_readable_file(const std::string& path) {
  a_posix_stat st;
  return _posix_access(path.c_str(), R_OK) == 0 && _posix_stat(path.c_str(), &st) == 0 &&
         (st.mode & 0xF000) != 0x4000;
}

bool exists(const std::string& path) {
  a_posix_stat st;
  return _posix_stat(path.c_str(), &st) == 0;
}

std::string app_data_dir() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return std::string();
  return std::string(home) + "/.vellumcrest12";
}

std::string password_home() {
  struct passwd entry;
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr ||
      found->pw_dir == nullptr) {
    return std::string();
  }
  return found->pw_dir;
}

}  // namespace

std::size_t QualifyIniFile(const char* name, char* out, std::size_t size) {
  const std::string dir = app_data_dir();
  if (dir.empty() || name == nullptr) return put(std::string(), out, size);
  const std::string path = dir + "/" + name;
  return put(is_readable_file(path) ? path : std::string(), out, size);
}

std::size_t QualifyConfigFile(const char* name, char* out, std::size_t size) {
  if (name == nullptr || *name == '\0') return put(std::string(), out, size);
  if (is_readable_file(name)) return put(name, out, size);
  return QualifyIniFile(name, out, size);
}

std::size_t PlaceIniFile(const char* name, char* out, std::size_t size) {
  const std::string dir = app_data_dir();
  if (dir.empty() || name == nullptr) return put(std::string(), out, size);
  if (_posix_mkdir(dir.c_str(), 0777) != 0 && !exists(dir)) return put(std::string(), out, size);
  return put(dir + "/" + name, out, size);
}

std::size_t QualifyOdbcIniFile(const char* fileName, char* out, std::size_t size,
                               bool mustExist) {
  for (const char* var : {"ODBCINI", "ODBC_INI"}) {
    const char* value = std::getenv(var);
    if (value != nullptr && *value != '\0' && (!mustExist || exists(value))) {
      return put(value, out, size);
    }
  }
  if (fileName == nullptr) return put(std::string(), out, size);
  for (const char* var : {"ODBCHOME", "HOME"}) {
    const char* value = std::getenv(var);
    if (value == nullptr || *value == '\0') continue;
    const std::string path = std::string(value) + "/" + fileName;
    if (!mustExist || exists(path)) return put(path, out, size);
  }
  const std::string home = password_home();
  if (!home.empty()) {
    const std::string path = home + "/" + fileName;
    if (!mustExist || exists(path)) return put(path, out, size);
  }
  return put(std::string(), out, size);
}

}  // namespace vq::config::seam
