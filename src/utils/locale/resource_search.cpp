// XXX: temporary seam, see resource_search.h.
#include "utils/locale/resource_search.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "utils/base/posix_file.h"

namespace vq_resource_seam {
namespace {

std::string* g_test_dirs = nullptr;  // set by tests only

bool IsReadableFile(const std::string& path) {
  a_posix_stat st;
  return _posix_access(path.c_str(), R_OK) == 0 && _posix_stat(path.c_str(), &st) == 0 &&
         (st.mode & 0xF000) == 0x8000;
}

void AddRootWithSubdirectories(std::vector<std::string>* dirs, std::string root) {
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  if (root.empty() || root[0] != '/') return;
  dirs->push_back(root);
  dirs->push_back(root + "/res");
  dirs->push_back(root + "/../res");
}

std::vector<std::string> SearchDirectories() {
  std::vector<std::string> dirs;
  if (g_test_dirs != nullptr) {
    std::size_t start = 0;
    while (start <= g_test_dirs->size()) {
      std::size_t end = g_test_dirs->find(':', start);
      if (end == std::string::npos) end = g_test_dirs->size();
      if (end > start) dirs.push_back(g_test_dirs->substr(start, end - start));
      start = end + 1;
    }
    return dirs;
  }
  const char* root = std::getenv("VCDIR");
  if (root == nullptr) root = std::getenv("VELLUM12");
  if (root != nullptr) AddRootWithSubdirectories(&dirs, root);
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) {
    exe[n] = '\0';
    char* slash = std::strrchr(exe, '/');
    if (slash != nullptr) {
      *slash = '\0';
      AddRootWithSubdirectories(&dirs, exe);
    }
  }
  return dirs;
}

}  // namespace

bool FindResourceFile(const char* name, char* path, std::size_t size) {
  if (size > 0) path[0] = '\0';
  if (name == nullptr || *name == '\0' || std::strchr(name, '/') != nullptr) return false;
  for (const std::string& dir : SearchDirectories()) {
    std::string candidate = dir + "/" + name;
    if (candidate[0] != '/' || !IsReadableFile(candidate)) continue;
    if (candidate.size() >= size) return false;
    std::memcpy(path, candidate.c_str(), candidate.size() + 1);
    return true;
  }
  return false;
}

void SetResourceSearchPathForTesting(const char* dirs) {
  delete g_test_dirs;
  g_test_dirs = dirs != nullptr ? new std::string(dirs) : nullptr;
}

}  // namespace vq_resource_seam
