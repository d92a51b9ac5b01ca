// The crypto environment under the process-wide stub flag, in a child process since the
// flag is never cleared.
#include "security/vcci_environment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "../tasks/forked_check.h"
#include "security/vcci_objects.h"
#include "security/vcci_options.h"
#include "vcci_test_host.h"

namespace {

const std::string kModules = FAKE_VCCI_DIR;

// The stub flag is process-wide and never cleared, so these cases run in a child.
TEST(VCCIStub, EverythingGoesToTheStubOrTheNamedModule) {
  const int status = run_in_child([] {
    ModuleRoot root(kModules);
    setenv("VC_USE_VCCI_STUB", "1", 1);
    TestHost host;
    a_vcci_callbacks cb = TestHost::callbacks();
    DBVCCIError error;
    const unsigned char key[32] = {};
    {
      DBVCCIEnvironment env(&cb, &host);
      EXPECT_TRUE(DBVCCIEnvironment::StubRequested());
      EXPECT_EQ(0, env.Init(0, "VC Client", nullptr, &error));
      DBVCCIBlockEncrypter* e = env.CreateBlockEncrypter("AES256", key, 32, nullptr, &error);
      EXPECT_NE(nullptr, e);
      EXPECT_EQ(1u, host.lines("stub: encrypter AES256").size());
      delete e;
      e = env.CreateBlockEncrypter(nullptr, key, 32, nullptr, &error);
      EXPECT_NE(nullptr, e);
      EXPECT_EQ(1u, host.lines("stub: encrypter (null)").size());
      delete e;
      DBVCCIBlockHasher* h = env.CreateBlockHasher("crc", &error);
      EXPECT_NE(nullptr, h);
      EXPECT_EQ(1u, host.lines("stub: hasher crc").size());
      delete h;
      EXPECT_TRUE(env.IsStreamAlgorithmSupported("anything"));
      EXPECT_FALSE(env.IsStreamAlgorithmSupported("nope"));
      EXPECT_FALSE(env.IsStreamAlgorithmSupported(static_cast<unsigned char>(99)))
          << "the answer is the low byte";
      env.Fini();
    }
    // A flag set once stays set, even with the variable gone.
    unsetenv("VC_USE_VCCI_STUB");

    struct Case {
      const char* module;
      std::uint32_t code;  // of creating an AES-256 encrypter; 0 = made
      const char* parm;
    };
    const Case cases[] = {
        {"libfake_v1507.so", 0, nullptr},  // the fourth component is not checked
        {"libfake_v1510.so", 27, nullptr},
        {"libfake_v1600.so", 27, nullptr},
        {"libfake_noenc.so", 21, nullptr},  // loads; its encrypter table stays empty
        {"libfake_nostream.so", 26, "libfake_nostream.so"},
        {"libfake_getterfail.so", 26, "libfake_getterfail.so"},
        {"libfake_envfail.so", 28, "no-licence"},
        {"libfake_absent.so", 26, "libfake_absent.so"},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.module);
      Options options{{"DLL_NAME", c.module}};
      DBVCCIEnvironment env(&cb, &host);
      EXPECT_EQ(0, env.Init(0, "VC Client", options.list(), &error));
      DBVCCIBlockEncrypter* e = env.CreateBlockEncrypter("AES256", key, 32, nullptr, &error);
      EXPECT_EQ(c.code, error.GetCode());
      EXPECT_EQ(c.code == 0, e != nullptr);
      if (c.parm != nullptr) {
        EXPECT_STREQ(c.parm, error.GetParm(0));
      }
      if (c.code == 21) {
        EXPECT_EQ(1u, env.GetInterface(VCCI_IFACE_STUB)->usable);
        EXPECT_EQ(nullptr, env.GetInterface(VCCI_IFACE_STUB)->block_encrypter_iface.Create);
      } else if (c.code != 0) {
        EXPECT_EQ(0u, env.GetInterface(VCCI_IFACE_STUB)->loaded);
      }
      delete e;
      env.Fini();
    }
    EXPECT_EQ(0, host.live_blocks);
    return ::testing::Test::HasFailure() ? 1 : 0;
  });
  EXPECT_TRUE(exited_cleanly(status)) << describe_status(status);
}

}  // namespace
