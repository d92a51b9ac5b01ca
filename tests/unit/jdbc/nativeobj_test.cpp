// The class names the bridge looks up in each package variant.
#include <gtest/gtest.h>

#include <string>

#include "jdbcodbc/c/nativeobj.h"

namespace {

TEST(ClassNames, RewrittenForTheInterfaceLevel) {
  struct Case {
    int level;
    const char* name;
    const char* lookup;
  } const cases[] = {
      {0, "tovrak/jdbc/vellumcrest/INative", "tovrak/jdbc/vellumcrest/INative"},
      {4, "tovrak/jdbc/vellumcrest/INative", "tovrak/jdbc4/vellumcrest/INative"},
      {3, "tovrak/jdbc/vellumcrest/INative", "tovrak/jdbc/vellumcrest/jdbc3/INative"},
      {3, "tovrak/jdbc/vellumcrest/IConnection", "tovrak/jdbc/vellumcrest/jdbc3/IConnection"},
      // Any other non-zero level takes the level-3 layout.
      {7, "tovrak/jdbc/vellumcrest/IIStatement", "tovrak/jdbc/vellumcrest/jdbc3/IIStatement"},
      {0, "java/lang/String", "java/lang/String"},
      {3, "java/lang/String", "java/lang/String"},
      {4, "java/lang/String", "java/lang/String"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.level) + " " + c.name);
    char out[128];
    ASSERT_TRUE(RewriteClassName(c.level, c.name, out, sizeof(out)));
    EXPECT_STREQ(out, c.lookup);
  }
}

TEST(ClassNames, AResultThatDoesNotFitIsRefused) {
  const char* name = "tovrak/jdbc/vellumcrest/INative";
  char out[32];  // holds the name but not its level-3 form
  EXPECT_TRUE(RewriteClassName(0, name, out, sizeof(out)));
  EXPECT_FALSE(RewriteClassName(3, name, out, sizeof(out)));
}

TEST(ClassNames, PeerAddressesCrossJavaWhole) {
  // Addresses above 4 GiB and with the top bit set come back unchanged.
  for (std::uintptr_t address : {std::uintptr_t{0x12345678}, std::uintptr_t{0x7f00deadbee0},
                                 std::uintptr_t{0xffff800000001000}}) {
    auto* peer = reinterpret_cast<NativeObj*>(address);
    EXPECT_EQ(NativeObj::toNativeObj(NativeObj::toNHandle(peer)), peer);
  }
  EXPECT_EQ(NativeObj::toNHandle(reinterpret_cast<NativeObj*>(0x7f00deadbee0)),
            static_cast<jlong>(0x7f00deadbee0));
}

}  // namespace
