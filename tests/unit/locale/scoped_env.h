// The environment of one locale test case: every variable the locale choosers read
// starts unset, and everything is put back when the case ends.
#ifndef VQ_TESTS_UNIT_LOCALE_SCOPED_ENV_H
#define VQ_TESTS_UNIT_LOCALE_SCOPED_ENV_H

#include "scoped_environment.h"

class ScopedEnv : public vq::testing::ScopedEnvironment {
 public:
  ScopedEnv()
      : ScopedEnvironment({"LC_ALL", "LC_MESSAGES", "LC_CTYPE", "LANG", "VCLANG", "VCCHARSET"}) {}
};

#endif  // VQ_TESTS_UNIT_LOCALE_SCOPED_ENV_H
