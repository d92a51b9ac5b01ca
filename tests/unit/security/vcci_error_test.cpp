// Crypto errors: the code-to-message table, parameters, texts formatted through the
// message catalog, deep copies, and locking through the host's mutex callbacks.
#include "security/vcci_error.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "security/vcci_environment.h"
#include "utils/locale/lang_string.h"
#include "utils/locale/resource_file.h"
#include "utils/locale/utlocale.h"
#include "vcci_test_host.h"

namespace {

TEST(VCCIErrorTable, CodesMapToMessagesAndArgumentKinds) {
  struct Case {
    std::uint32_t code;
    unsigned long message;
    unsigned parm;
    unsigned sub;
  };
  const Case cases[] = {
      {0, 0, 0, 0},      {1, 17590, 0, 0},  {2, 9845, 1, 0},   {3, 13974, 0, 1},
      {7, 11242, 0, 1},  {8, 11237, 0, 1},  {10, 11237, 0, 1}, {11, 17587, 0, 1},
      {12, 13977, 0, 0}, {16, 17587, 0, 1}, {17, 14003, 0, 0}, {21, 17440, 0, 0},
      {22, 17441, 0, 0}, {23, 17446, 1, 0}, {24, 17591, 0, 1}, {25, 14554, 1, 0},
      {26, 13972, 1, 0}, {27, 17589, 0, 0}, {29, 17932, 0, 0}, {31, 18541, 0, 0},
      {33, 14530, 0, 0}, {34, 17587, 0, 1}, {40, 17587, 0, 1}, {0xFFFFFFFF, 17587, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    DBVCCIError e;
    e.Set(c.code, 5);
    unsigned parm = 9;
    unsigned sub = 9;
    EXPECT_EQ(c.message, e._getTlsErrorId(&parm, &sub));
    EXPECT_EQ(c.parm, parm);
    EXPECT_EQ(c.sub, sub);
  }
}

TEST(VCCIErrorParms, AddGetClearAndCopies) {
  DBVCCIError e;
  EXPECT_EQ(nullptr, e.GetParm(0));
  e.AddParm("one");
  e.AddParm(nullptr);  // ignored
  e.AddParm("two");
  EXPECT_STREQ("one", e.GetParm(0));
  EXPECT_STREQ("two", e.GetParm(1));
  EXPECT_EQ(nullptr, e.GetParm(2));
  EXPECT_EQ(nullptr, e.GetParm(-1));

  e.Set(26, 4);
  DBVCCIError copy;
  copy.AddParm("old");
  copy.CloneFrom(&e);
  EXPECT_EQ(26u, copy.GetCode());
  EXPECT_EQ(4u, copy.GetSubCode());
  EXPECT_STREQ("one", copy.GetParm(0));
  EXPECT_NE(e.GetParm(0), copy.GetParm(0)) << "a deep copy";
  copy.CloneFrom(&copy);  // onto itself: unchanged
  EXPECT_STREQ("two", copy.GetParm(1));

  copy.CloneFrom(nullptr);
  EXPECT_EQ(34u, copy.GetCode());
  EXPECT_EQ(0u, copy.GetSubCode());
  EXPECT_EQ(nullptr, copy.GetParm(0));

  char p0[] = "provider text";
  char* parms[] = {p0, nullptr};
  const a_vcci_error record{13, 2, parms};
  copy._CloneFrom(&record, 1);
  EXPECT_EQ(13u, copy.GetCode());
  EXPECT_STREQ("provider text", copy.GetParm(0));
  EXPECT_NE(p0, copy.GetParm(0));
  copy._CloneFrom(nullptr, 0);
  EXPECT_EQ(34u, copy.GetCode());

  e.Clear();
  EXPECT_EQ(0u, e.GetCode());
  EXPECT_EQ(nullptr, e.GetParm(0));
}

// The texts come from the build's English message file.
class VCCIErrorText : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(0, file_.Open(VQ_TEST_RES_DIR "/vqlgen12.res"));
    UTResFile* files[] = {&file_};
    messages_.SetResFiles(files, 1);
    messages_.set_client_charset(UTLocale::GetCharsetInfoFromLabel("UTF-8", kSchemeAll));
    messages_.reset();
  }
  std::string Text(const DBVCCIError& e, const char* parm = nullptr) {
    char buf[256];
    std::memset(buf, 'x', sizeof buf);
    e.GetString(&messages_, buf, sizeof buf, parm);
    return buf;
  }
  std::string Message(unsigned long id, const char* arg) {
    char buf[256];
    messages_.FormatMiscLangStr(id, buf, sizeof buf, arg);
    return buf;
  }
  UTLocale locale_;
  UTVCResFile file_;
  UTLangStringBase messages_{&locale_};
};

TEST_F(VCCIErrorText, FormatsTheCodesMessageWithItsArgument) {
  DBVCCIError module;
  module.Set(26);
  module.AddParm("libvqrsa12_r.so");
  EXPECT_EQ(Message(13972, "libvqrsa12_r.so"), Text(module));
  EXPECT_NE(std::string::npos, Text(module).find("libvqrsa12_r.so"));
  // An explicit parameter wins over the stored one.
  EXPECT_EQ(Message(13972, "other.so"), Text(module, "other.so"));

  DBVCCIError sub;
  sub.Set(3, 5);
  EXPECT_EQ(Message(13974, "5"), Text(sub));
  EXPECT_NE(std::string::npos, Text(sub).find('5'));

  DBVCCIError internal;
  internal.Set(40, 77);
  EXPECT_EQ(Message(17587, "77"), Text(internal));

  DBVCCIError plain;
  plain.Set(21);
  EXPECT_EQ(Message(17440, nullptr), Text(plain));
  EXPECT_FALSE(Text(plain).empty());

  DBVCCIError none;
  EXPECT_EQ("", Text(none));

  // A short buffer gets a cut, terminated text; a missing buffer or catalog nothing.
  char small[8];
  module.GetString(&messages_, small, sizeof small, nullptr);
  EXPECT_EQ(7u, std::strlen(small));
  module.GetString(nullptr, small, sizeof small, nullptr);
  module.GetString(&messages_, nullptr, 8, nullptr);
}

TEST(VCCIMutex, ErrorsLockThroughTheHostOnceAnEnvironmentGivesTheMutex) {
  TestHost host;
  a_vcci_callbacks cb = TestHost::callbacks();
  {
    DBVCCIEnvironment env(&cb, &host);
    DBVCCIError e;
    e.AddParm("x");
    EXPECT_EQ(0, host.takes) << "a bare error locks nothing";
    e.createMutex(&env);
    EXPECT_EQ(1, host.mutexes_made);
    e.AddParm("y");
    (void)e.GetParm(1);
    DBVCCIError other;
    other.createMutex(&env);
    other.CloneFrom(&e);  // takes each mutex in turn, never both
    EXPECT_STREQ("y", other.GetParm(1));
    EXPECT_GT(host.takes, 0);
    EXPECT_EQ(host.takes, host.gives);
  }
  EXPECT_EQ(host.mutexes_made, host.mutexes_destroyed);

  // A host without mutex slots: the mutex locks nothing and nothing is called.
  a_vcci_callbacks bare{};
  DBVCCIMutex m(&bare, nullptr);
  m.get();
  m.give();
  DBVCCIMutex none(nullptr, nullptr);
  none.get();
  none.give();
}

}  // namespace
