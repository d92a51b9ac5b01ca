// Sets environment variables for one test case and puts back what was there before.
#ifndef VQ_TESTS_UNIT_LOCALE_SCOPED_ENV_H
#define VQ_TESTS_UNIT_LOCALE_SCOPED_ENV_H

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class ScopedEnv {
 public:
  // Every variable the locale choosers read starts unset.
  ScopedEnv() {
    for (const char* name :
         {"LC_ALL", "LC_MESSAGES", "LC_CTYPE", "LANG", "VCLANG", "VCCHARSET"}) {
      Unset(name);
    }
  }
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        unsetenv(it->first.c_str());
      }
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  // A null value unsets the variable.
  void Set(const char* name, const char* value) {
    Save(name);
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  void Unset(const char* name) { Set(name, nullptr); }

 private:
  void Save(const char* name) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

#endif  // VQ_TESTS_UNIT_LOCALE_SCOPED_ENV_H
