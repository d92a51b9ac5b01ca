// Test scopes for the environment variables the file-location rules read, the current
// directory and the program argument vector: each is restored when the scope ends.
#ifndef VQ_TESTS_UNIT_BASE_ENV_SCOPE_H
#define VQ_TESTS_UNIT_BASE_ENV_SCOPE_H

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

// Saves every variable the location rules read and unsets them all; Set and Unset
// change them within the scope.
class EnvScope {
 public:
  EnvScope() {
    for (const char* name :
         {"VCDIR", "VELLUM12", "TOVRAK", "VCTMP", "TMP", "TMPDIR", "TEMP", "VCDIAGDIR",
          "VCLOGDIR", "ODBCINI", "ODBC_INI", "ODBCHOME", "HOME", "PATH", "LD_LIBRARY_PATH"}) {
      const char* v = std::getenv(name);
      saved_.emplace_back(name, v != nullptr ? std::make_pair(true, std::string(v))
                                             : std::make_pair(false, std::string()));
      unsetenv(name);
    }
  }
  ~EnvScope() {
    for (const auto& [name, value] : saved_) {
      if (value.first) {
        setenv(name.c_str(), value.second.c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }
  EnvScope(const EnvScope&) = delete;
  EnvScope& operator=(const EnvScope&) = delete;

  void Set(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }
  void Unset(const char* name) { unsetenv(name); }

 private:
  std::vector<std::pair<std::string, std::pair<bool, std::string>>> saved_;
};

// Changes to a directory and back.
class CwdScope {
 public:
  explicit CwdScope(const std::string& dir) {
    char buf[PATH_MAX];
    if (getcwd(buf, sizeof buf) != nullptr) saved_ = buf;
    ok_ = chdir(dir.c_str()) == 0;
  }
  ~CwdScope() {
    if (!saved_.empty() && chdir(saved_.c_str()) != 0) std::abort();
  }
  CwdScope(const CwdScope&) = delete;
  CwdScope& operator=(const CwdScope&) = delete;
  bool ok() const { return ok_; }

 private:
  std::string saved_;
  bool ok_ = false;
};

#endif  // VQ_TESTS_UNIT_BASE_ENV_SCOPE_H
