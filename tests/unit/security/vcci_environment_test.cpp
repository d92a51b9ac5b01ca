// The crypto environment over scripted provider modules: slot choice, lazy loading with
// the version check, FIPS and stub routing, stream validation, and the wrappers that
// forward to a module's tables.
#include "security/vcci_environment.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "config/encrypt_level.h"
#include "security/vcci_objects.h"
#include "security/vcci_options.h"
#include "vcci_test_host.h"

namespace {

const std::string kModules = FAKE_VCCI_DIR;

// A temporary installation root holding links to some of the scripted modules.
class PartialRoot {
 public:
  explicit PartialRoot(std::initializer_list<const char*> files) {
    std::string pattern = (std::filesystem::temp_directory_path() / "vqvcciXXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    for (const char* f : files) {
      std::filesystem::create_symlink(kModules + "/" + f, path_ + "/" + f);
    }
  }
  ~PartialRoot() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// An environment over the counting host with the scripted modules as the installation
// root; Init is left to the test.
class Env : public ::testing::Test {
 protected:
  void TearDown() override {
    env_.Fini();
    EXPECT_EQ(0, host_.live_blocks) << "every provider allocation was released";
  }
  TestHost host_;
  a_vcci_callbacks cb_ = TestHost::callbacks();
  ModuleRoot root_{kModules};
  DBVCCIEnvironment env_{&cb_, &host_};
  DBVCCIError error_;
};

TEST_F(Env, SlotsLoadOnFirstUseAndStreamsGoToTheirModule) {
  Options user{{"trusted_certificates", "ca.pem"}};
  ASSERT_EQ(0, env_.Init(0, "VC Client", user.list(), &error_));
  EXPECT_EQ(1u, env_.GetInterface(VCCI_IFACE_BUILTIN)->usable);
  EXPECT_EQ(0u, env_.GetInterface(VCCI_IFACE_RSA)->loaded) << "modules load lazily";

  struct Case {
    const char* name;
    const char* module;  // prefix of the module's log lines
    unsigned char id;    // the stream's algorithm number (low byte)
    _iface_index slot;
  };
  const Case cases[] = {
      {"rsa", "rsa: ", 3, VCCI_IFACE_RSA},
      {"RSA_TLS", "rsa: ", 3, VCCI_IFACE_RSA},
      {"ecc", "ecc: ", 2, VCCI_IFACE_ECC},
      {"rsa_tls_fips", "fips: ", 3, VCCI_IFACE_FIPS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host_.log.clear();
    DBVCCIStream* s = env_.CreateStream(nullptr, nullptr, c.name, &error_);
    ASSERT_NE(nullptr, s) << error_.GetCode();
    EXPECT_EQ(c.id, s->GetAlgorithmID());
    EXPECT_EQ(1u, env_.GetInterface(c.slot)->loaded);
    EXPECT_EQ(1u, host_.lines(std::string(c.module) + "stream " + c.name).size());
    const a_vcci_version& v = s->GetVCCIVersion();
    EXPECT_EQ(3, v.build) << "the version as the module reported it";
    delete s;
  }
  // Each module saw the application name and the user's options when its slot loaded.
  EXPECT_EQ(0u, host_.lines("rsa: create").size()) << "loaded once, before the log was cleared";

  for (const char* bad : {"des", "tls", ""}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(nullptr, env_.CreateStream(nullptr, nullptr, bad, &error_));
    EXPECT_EQ(21u, error_.GetCode());
  }
  EXPECT_EQ(nullptr,
            env_.CreateStream(nullptr, nullptr, static_cast<const char*>(nullptr), &error_));
  EXPECT_EQ(21u, error_.GetCode());
  EXPECT_EQ(nullptr, env_.CreateStreamWithID(nullptr, nullptr, 7, &error_));
  EXPECT_EQ(21u, error_.GetCode());
  DBVCCIStream* by_id = env_.CreateStreamWithID(nullptr, nullptr, 2, &error_);
  ASSERT_NE(nullptr, by_id);
  EXPECT_EQ(2, by_id->GetAlgorithmID());
  delete by_id;

  host_.log.clear();
  env_.Fini();
  EXPECT_EQ(3u, host_.log.size()) << "Fini destroys the provider environment of every "
                                     "module slot (rsa, ecc, fips, and no log from slot 0)";
  EXPECT_EQ(nullptr, env_.GetInterface(VCCI_IFACE_RSA));
}

TEST_F(Env, ModulesSeeTheOptionsAndTheFipsOptionComesFirst) {
  Options user{{"dll_name", "libvccistub_r.so"}, {"identity", "me.pem"}};
  ASSERT_EQ(0, env_.Init(1, "App", user.list(), &error_));
  EXPECT_EQ(1, user.at(0).used) << "the environment took dll_name";
  const auto created = host_.lines("fips: create");
  ASSERT_EQ(1u, created.size()) << "FIPS mode loads the FIPS module at Init";
  EXPECT_EQ("fips: create app=App options=FIPS=YES,dll_name=libvccistub_r.so,identity=me.pem",
            created[0]);
  EXPECT_EQ(nullptr, env_.GetInterface(VCCI_IFACE_BUILTIN)->env);
}

TEST_F(Env, FipsModeRoutesToTheFipsModuleExceptCrcAndTheUnnamedCipher) {
  ASSERT_EQ(0, env_.Init(1, "VC Client", nullptr, &error_));
  const unsigned char key[32] = {1, 2, 3};

  DBVCCIBlockEncrypter* fips = env_.CreateBlockEncrypter("AES256", key, 32, nullptr, &error_);
  ASSERT_NE(nullptr, fips);
  EXPECT_STREQ("libvqfips12_r.so", fips->GetDLLName());
  EXPECT_EQ(1u, host_.lines("fips: encrypter AES256").size());
  delete fips;

  DBVCCIBlockEncrypter* builtin = env_.CreateBlockEncrypter(nullptr, key, 32, nullptr, &error_);
  ASSERT_NE(nullptr, builtin);
  EXPECT_EQ(2, builtin->GetAlgorithmID()) << "AES-128 of the built-in provider";
  EXPECT_EQ(nullptr, builtin->GetDLLName());
  delete builtin;

  for (const char* crc : {"crc", "CRC32"}) {
    SCOPED_TRACE(crc);
    DBVCCIBlockHasher* h = env_.CreateBlockHasher(crc, &error_);
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(6, h->GetAlgorithmID());
    EXPECT_EQ(1, h->GetVCCIVersion().build) << "the built-in provider's version";
    delete h;
  }
  DBVCCIBlockHasher* crc_id = env_.CreateBlockHasherWithID(6, &error_);
  ASSERT_NE(nullptr, crc_id);
  EXPECT_EQ(1, crc_id->GetVCCIVersion().build);
  delete crc_id;

  host_.log.clear();
  DBVCCIBlockHasher* sha = env_.CreateBlockHasher("SHA1", &error_);
  ASSERT_NE(nullptr, sha);
  EXPECT_EQ(1u, host_.lines("fips: hasher SHA1").size());
  delete sha;
  DBVCCIPasswordHasher* pwd = env_.CreatePasswordHasher(&error_);
  ASSERT_NE(nullptr, pwd);
  EXPECT_EQ(1u, host_.lines("fips: password hasher").size());
  delete pwd;

  // Queries follow the same routes: the module answers yes to SHA1 (low byte of 0x101).
  EXPECT_TRUE(env_.IsBlockHasherAlgorithmSupported("SHA1"));
  EXPECT_FALSE(env_.IsBlockHasherAlgorithmSupported("CRC")) << "CRC stays built in";

  env_.disableFIPS();
  EXPECT_EQ(1u, env_.GetInterface(VCCI_IFACE_FIPS)->loaded) << "a loaded slot stays";
  env_.Fini();
  ASSERT_EQ(0, env_.Init(1, "VC Client", nullptr, &error_) == 0 ? 1 : 0)
      << "a disabled FIPS slot cannot load again";
  EXPECT_EQ(31u, error_.GetCode());
}

TEST_F(Env, MissingModulesAreReportedByFileName) {
  PartialRoot empty({});
  ModuleRoot nowhere(empty.path());
  ASSERT_EQ(0, env_.Init(0, "VC Client", nullptr, &error_));
  EXPECT_EQ(nullptr, env_.CreateStream(nullptr, nullptr, "rsa", &error_));
  EXPECT_EQ(26u, error_.GetCode());
  EXPECT_STREQ("libvqrsa12_r.so", error_.GetParm(0));
  EXPECT_EQ(0u, env_.GetInterface(VCCI_IFACE_RSA)->loaded) << "a failed load leaves it empty";
  EXPECT_FALSE(env_.IsStreamAlgorithmSupported("ecc"));
  EXPECT_EQ(nullptr, env_.CreateBlockEncrypter("AES_256_FIPS", nullptr, 0, nullptr, &error_));
  EXPECT_EQ(25u, error_.GetCode());
  EXPECT_STREQ("libvqfips12_r.so", error_.GetParm(0));
  EXPECT_FALSE(DBVCCIEnvironment::IsRSAAvailable());
  EXPECT_FALSE(DBVCCIEnvironment::IsFIPSAvailable());

  DBVCCIEnvironment fips(&cb_, &host_);
  EXPECT_NE(0, fips.Init(1, "VC Client", nullptr, &error_));
  EXPECT_EQ(25u, error_.GetCode());
  EXPECT_EQ(nullptr, fips.GetInterface(VCCI_IFACE_BUILTIN)) << "a failed Init keeps no slots";
  // Operations on it fail instead of touching missing slots.
  EXPECT_EQ(nullptr, fips.CreateBlockHasher("crc", &error_));
  EXPECT_NE(0u, error_.GetCode());
  fips.Fini();
}

TEST_F(Env, AvailabilityNeedsTheFipsVendorLibraryToo) {
  EXPECT_TRUE(DBVCCIEnvironment::IsRSAAvailable());
  EXPECT_TRUE(DBVCCIEnvironment::IsECCAvailable());
  EXPECT_TRUE(DBVCCIEnvironment::IsFIPSAvailable());
  PartialRoot no_vendor({"libvqfips12_r.so", "libvqrsa12_r.so"});
  ModuleRoot partial(no_vendor.path());
  EXPECT_FALSE(DBVCCIEnvironment::IsFIPSAvailable());
  EXPECT_FALSE(DBVCCIEnvironment::IsECCAvailable());
}

// Levels as the connection parameters make them: a name and its parameter text.
TEST_F(Env, ValidateStreamEncryption) {
  struct Case {
    const char* label;
    unsigned fips_env;
    bool vendor;  // the FIPS vendor library is present
    bool disable;
    const char* name;
    const char* parms;
    int answer;
    std::uint32_t code;
    std::uint32_t level;  // the level number afterwards (when answer is 1)
    const char* parm;
  };
  const Case cases[] = {
      {"rsa", 0, true, false, "rsa", nullptr, 1, 0, 3, nullptr},
      {"ecc by tls_type", 0, true, false, "tls", "tls_type=ecc", 1, 0, 2, nullptr},
      {"tls defaults to rsa", 0, true, false, "tls", nullptr, 1, 0, 3, nullptr},
      {"tls asks for FIPS", 0, true, false, "tls", "tls_type=rsa;fips=yes", 1, 0, 4, nullptr},
      {"FIPS name", 0, true, false, "rsa_tls_fips", nullptr, 1, 0, 4, nullptr},
      {"ecc in FIPS mode", 1, true, false, "ecc", nullptr, 0, 33, 0, nullptr},
      {"ecc wished with FIPS", 0, true, false, "tls", "tls_type=ecc;fips=y", 0, 33, 0, nullptr},
      {"rsa in FIPS mode", 1, true, false, "rsa", nullptr, 1, 0, 4, nullptr},
      {"rsa in FIPS mode, no vendor library", 1, false, false, "rsa", nullptr, 0, 25, 0,
       "libvqfips12_r.so"},
      {"FIPS disabled", 0, true, true, "tls", "fips=on", 0, 31, 0, nullptr},
      {"unknown type", 0, true, false, "tls", "tls_type=dsa", 0, 21, 0, nullptr},
      {"unknown name", 0, true, false, "aes", nullptr, 0, 21, 0, nullptr},
      {"bad parameters", 0, true, false, "tls", "tls_type", 0, 21, 0, nullptr},
  };
  PartialRoot no_vendor(
      {"libvqfips12_r.so", "libvqrsa12_r.so", "libvqecc12_r.so", "libvccistub_r.so"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ModuleRoot where(c.vendor ? kModules : no_vendor.path());
    DBVCCIEnvironment env(&cb_, &host_);
    ASSERT_EQ(0, env.Init(c.fips_env, "VC Client", nullptr, &error_));
    if (c.disable) env.disableFIPS();
    c_encrypt_level level(c.name, c.parms);
    level.set_level(9u);  // so that a number set by the check shows
    EXPECT_EQ(c.answer, env.ValidateStreamEncryption(level, &error_));
    EXPECT_EQ(c.code, error_.GetCode());
    EXPECT_EQ(c.answer != 0 ? c.level : 9u, level.level);
    if (c.parm != nullptr) {
      EXPECT_STREQ(c.parm, error_.GetParm(0));
    }
    env.Fini();
  }
}

TEST_F(Env, StreamsByLevelAndTheirConnections) {
  ASSERT_EQ(0, env_.Init(0, "VC Client", nullptr, &error_));
  c_encrypt_level ecc("tls", "tls_type=ecc");
  DBVCCIStream* s = env_.CreateStream(nullptr, nullptr, ecc, &error_);
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(2, s->GetAlgorithmID());
  // The ECC fake refuses connections: its error is copied and its copy released.
  EXPECT_EQ(nullptr, s->CreateConn(nullptr, nullptr, nullptr, &error_));
  EXPECT_EQ(13u, error_.GetCode());
  EXPECT_STREQ("refused", error_.GetParm(0));
  delete s;

  c_encrypt_level fips("tls", "fips=yes");
  host_.log.clear();
  s = env_.CreateStream(nullptr, nullptr, fips, &error_);
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(1u, host_.lines("fips: stream rsa").size()) << "a FIPS wish goes to slot 3";
  delete s;

  c_encrypt_level none(0u, nullptr);  // no name text
  EXPECT_EQ(nullptr, env_.CreateStream(nullptr, nullptr, none, &error_));
  EXPECT_EQ(21u, error_.GetCode());

  c_encrypt_level rsa("tls", nullptr);
  s = env_.CreateStream(nullptr, nullptr, rsa, &error_);
  ASSERT_NE(nullptr, s);
  host_.log.clear();
  EXPECT_EQ(0u, s->Init(VCCI_SIDE_SERVER, nullptr));
  EXPECT_EQ(VCCI_SIDE_SERVER, s->GetSide());
  EXPECT_EQ(1u, host_.lines("rsa: init side=1").size());
  DBVCCIStreamConn* c = s->CreateConn(nullptr, nullptr, nullptr, &error_);
  ASSERT_NE(nullptr, c);
  const unsigned char hello[] = {'h', 'e', 'l', 'l', 'o'};
  EXPECT_EQ(0u, c->Write(hello, 5));
  unsigned char got[8] = {};
  unsigned count = 0;
  EXPECT_EQ(0u, c->Read(got, 8, &count));
  EXPECT_EQ(5u, count);
  EXPECT_EQ(0, std::memcmp(got, "hello", 5));
  EXPECT_EQ(2u, c->Read(got, 8, &count)) << "would block";
  EXPECT_EQ(7u, c->Write(hello, 0));
  DBVCCIError* last = c->GetLastError();
  EXPECT_EQ(5u, last->GetCode());
  EXPECT_EQ(9u, last->GetSubCode());
  EXPECT_STREQ("empty write", last->GetParm(0));
  delete c;
  EXPECT_EQ(0u, s->Fini());
  delete s;
}

TEST(VCCIOptions, ParseAndLookUp) {
  _a_vcci_user_option* list = nullptr;
  char* bad = nullptr;
  ASSERT_EQ(0, ParseVCCIOptionString("tls_type=ecc; Identity = 'a;b' ;fips=yes", &list, &bad));
  ASSERT_NE(nullptr, list);
  EXPECT_STREQ("tls_type", list->name);
  EXPECT_STREQ("ecc", list->value);
  EXPECT_EQ(0, list->used);
  EXPECT_STREQ("fips", list->next->next->name);
  EXPECT_STREQ("yes", VCCIGetOption(list, "FIPS"));
  EXPECT_EQ(1, list->next->next->used);
  EXPECT_EQ(nullptr, VCCIGetOption(list, "absent"));
  FreeVCCIOptions(list);

  EXPECT_EQ(0, ParseVCCIOptionString("", &list, &bad));
  EXPECT_EQ(nullptr, list);
  EXPECT_NE(0, ParseVCCIOptionString("a=1;broken", &list, &bad));
  EXPECT_EQ(nullptr, list);
  free(bad);
  FreeVCCIOptions(nullptr);
}

}  // namespace
