// XXX: temporary seam for library loading and data-file location (see the header).
#include "utils/locale/location_seam.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace vq_locale_seam {
namespace {

std::string& test_path() {
  static std::string path;
  return path;
}
bool& test_path_set() {
  static bool set = false;
  return set;
}

std::vector<std::string> search_dirs() {
  std::vector<std::string> dirs;
  if (test_path_set()) {
    const std::string& list = test_path();
    std::size_t start = 0;
    while (start <= list.size()) {
      std::size_t end = list.find(':', start);
      if (end == std::string::npos) end = list.size();
      if (end > start) dirs.push_back(list.substr(start, end - start));
      start = end + 1;
    }
    return dirs;
  }
  if (const char* home = std::getenv("VCDIR"); home != nullptr && *home == '/') {
    dirs.push_back(std::string(home) + "/bin64");
    dirs.push_back(std::string(home) + "/res");
    dirs.push_back(home);
  }
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&search_dirs), &info) != 0 && info.dli_fname != nullptr &&
      info.dli_fname[0] == '/') {
    std::string module = info.dli_fname;
    std::string dir = module.substr(0, module.rfind('/'));
    if (dir.empty()) dir = "/";
    dirs.push_back(dir);
    dirs.push_back(dir + "/res");
  }
  return dirs;
}

}  // namespace

bool FindFile(const char* name, char* path, std::size_t size) {
  if (name == nullptr || *name == '\0' || path == nullptr || size == 0) return false;
  for (const std::string& dir : search_dirs()) {
    if (dir.empty() || dir[0] != '/') continue;
    std::string candidate = dir + "/" + name;
    struct stat st;
    if (stat(candidate.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (candidate.size() >= size) return false;  // never cut a path
    std::memcpy(path, candidate.c_str(), candidate.size() + 1);
    return true;
  }
  return false;
}

void* LoadLibrary(const char* name) {
  char path[4097];
  if (!FindFile(name, path, sizeof path)) return nullptr;
  return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void* GetProcAddress(void* handle, const char* name) {
  if (handle == nullptr || name == nullptr) return nullptr;
  return dlsym(handle, name);
}

void UnloadLibrary(void* handle) {
  if (handle != nullptr) dlclose(handle);
}

bool IsThreaded() { return true; }

void SetLocaleSearchPathForTesting(const char* dirs) {
  test_path_set() = dirs != nullptr;
  test_path() = dirs != nullptr ? dirs : "";
}

}  // namespace vq_locale_seam
