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

#include "scoped_environment.h"

// Unsets every variable the location rules read; Set and Unset change them within the
// scope.
class EnvScope : public vq::testing::ScopedEnvironment {
 public:
  EnvScope()
      : ScopedEnvironment({"VCDIR", "VELLUM12", "TOVRAK", "VCTMP", "TMP", "TMPDIR", "TEMP",
                           "VCDIAGDIR", "VCLOGDIR", "ODBCINI", "ODBC_INI", "ODBCHOME", "HOME",
                           "PATH", "LD_LIBRARY_PATH"}) {}
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
