// Environment variables changed for one scope and put back when it ends.
#ifndef VQ_TESTS_SUPPORT_SCOPED_ENVIRONMENT_H
#define VQ_TESTS_SUPPORT_SCOPED_ENVIRONMENT_H

#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vq::testing {

class ScopedEnvironment {
 public:
  // The variables named start unset within the scope.
  explicit ScopedEnvironment(std::initializer_list<const char*> cleared = {}) {
    for (const char* name : cleared) Unset(name);
  }
  // Restores in reverse order, so a variable changed twice gets its first value back.
  ~ScopedEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        unsetenv(it->first.c_str());
      }
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  // A null value unsets the variable.
  void Set(const char* name, const char* value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  void Set(const char* name, const std::string& value) { Set(name, value.c_str()); }
  void Unset(const char* name) { Set(name, nullptr); }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace vq::testing

#endif  // VQ_TESTS_SUPPORT_SCOPED_ENVIRONMENT_H
