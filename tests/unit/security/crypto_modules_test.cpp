// The crypto modules as the client sees them: the module's own view of the binary
// interface lays out exactly like the host's, and each module answers for the
// algorithms it serves, loaded by name as the client loads it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "security/vcci_interface.h"
#include "vqvcci.h"

namespace {

// ---- one interface, two headers ----

#define SAME_FIELD(host, module, hf, mf) \
  static_assert(offsetof(host, hf) == offsetof(module, mf), #host "." #hf)

static_assert(sizeof(_a_vcci_user_option) == sizeof(vqvcci::UserOption), "option");
SAME_FIELD(_a_vcci_user_option, vqvcci::UserOption, used, used);
SAME_FIELD(_a_vcci_user_option, vqvcci::UserOption, next, next);
static_assert(sizeof(a_vcci_error) == sizeof(vqvcci::Error), "error record");
SAME_FIELD(a_vcci_error, vqvcci::Error, sub_code, sub_code);
SAME_FIELD(a_vcci_error, vqvcci::Error, parms, parms);
static_assert(sizeof(a_vcci_callbacks) == sizeof(vqvcci::HostCallbacks), "host callbacks");
SAME_FIELD(a_vcci_callbacks, vqvcci::HostCallbacks, thread_id, thread_id);
SAME_FIELD(a_vcci_callbacks, vqvcci::HostCallbacks, mutex_give, mutex_give);
static_assert(sizeof(a_vcci_conn_callbacks) == sizeof(vqvcci::ConnCallbacks), "conn callbacks");
static_assert(sizeof(a_vcci_env_iface) == sizeof(vqvcci::EnvIface), "environment table");
SAME_FIELD(a_vcci_env_iface, vqvcci::EnvIface, IsStreamAlgorithmSupported,
           IsStreamAlgorithmSupported);
SAME_FIELD(a_vcci_env_iface, vqvcci::EnvIface, IsPasswordHasherAlgorithmIDSupported,
           IsPasswordHasherAlgorithmIDSupported);
static_assert(sizeof(a_vcci_stream_iface) == sizeof(vqvcci::StreamIface), "stream table");
SAME_FIELD(a_vcci_stream_iface, vqvcci::StreamIface, Init, Init);
SAME_FIELD(a_vcci_stream_iface, vqvcci::StreamIface, Destroy, Destroy);
static_assert(sizeof(a_vcci_stream_conn_iface) == sizeof(vqvcci::StreamConnIface),
              "conn table");
SAME_FIELD(a_vcci_stream_conn_iface, vqvcci::StreamConnIface, Write, Write);
SAME_FIELD(a_vcci_stream_conn_iface, vqvcci::StreamConnIface, Destroy, Destroy);
static_assert(sizeof(a_vcci_password_hasher_iface) == sizeof(vqvcci::PasswordHasherIface), "");
SAME_FIELD(a_vcci_password_hasher_iface, vqvcci::PasswordHasherIface, Hash, Hash);
static_assert(sizeof(a_vcci_block_hasher_iface) == sizeof(vqvcci::BlockHasherIface), "");
SAME_FIELD(a_vcci_block_hasher_iface, vqvcci::BlockHasherIface, EndHash, EndHash);
static_assert(sizeof(a_vcci_block_encrypter_iface) == sizeof(vqvcci::BlockEncrypterIface), "");
SAME_FIELD(a_vcci_block_encrypter_iface, vqvcci::BlockEncrypterIface, Decrypt, Decrypt);
constexpr bool same_number(int module, int host) { return module == host; }
static_assert(same_number(vqvcci::kStreamEcc, kVCCIStreamEccTls) &&
                  same_number(vqvcci::kStreamRsa, kVCCIStreamRsaTls) &&
                  same_number(vqvcci::kStreamRsaFips, kVCCIStreamRsaTlsFips) &&
                  same_number(vqvcci::kCrc32, kVCCICrc32) &&
                  same_number(vqvcci::kAes256Fips, kVCCIAes256Fips) &&
                  same_number(vqvcci::kSha1Fips, kVCCISha1Fips),
              "algorithm numbers");

// ---- each module's answers ----

class Module {
 public:
  explicit Module(const char* file) {
    handle_ =
        dlopen((std::string(VQ_TEST_LIB_DIR) + "/" + file).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) return;
    auto get_version = reinterpret_cast<VCCIGetVersionFn>(dlsym(handle_, "VCCIGetVersion"));
    auto get_env = reinterpret_cast<VCCIGetEnvIfaceFn>(dlsym(handle_, "VCCIGetEnvIface"));
    auto get_hasher =
        reinterpret_cast<VCCIGetBlockHasherIfaceFn>(dlsym(handle_, "VCCIGetBlockHasherIface"));
    if (get_version != nullptr) get_version(&version);
    if (get_env != nullptr) get_env(&env_table);
    if (get_hasher != nullptr) get_hasher(&hasher_table);
    if (env_table.Create != nullptr)
      env = env_table.Create(nullptr, nullptr, nullptr, "t", &err);
  }
  ~Module() {
    if (env != nullptr) env_table.Destroy(env);
    if (handle_ != nullptr) dlclose(handle_);
  }
  bool loaded() const { return handle_ != nullptr && env != nullptr; }

  a_vcci_version version{};
  a_vcci_env_iface env_table{};
  a_vcci_block_hasher_iface hasher_table{};
  a_vcci_error err{};
  void* env = nullptr;

 private:
  void* handle_ = nullptr;
};

TEST(CryptoModules, EachServesItsOwnStreamsUnderTheInterfaceVersion) {
  struct Row {
    const char* file;
    const char* names_served;  // ';'-separated
    const char* names_refused;
    unsigned char ids_served[3];
    bool block_crypto;
  };
  const Row rows[] = {
      {"libvqrsa12_r.so", "rsa;RSA_TLS", "ecc;rsa_tls_fips;dsa", {3}, false},
      {"libvqecc12_r.so", "ecc;ECC_TLS", "rsa;rsa_tls_fips", {2}, false},
      {"libvqfips12_r.so", "rsa;rsa_tls;rsa_tls_fips", "ecc", {3, 4}, true},
      {"libvccistub_r.so", "rsa;ecc_tls;rsa_tls_fips", "tls;", {2, 3, 4}, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.file);
    Module m(row.file);
    ASSERT_TRUE(m.loaded()) << dlerror();
    EXPECT_EQ(m.version.major, 1);
    EXPECT_EQ(m.version.minor, 5);
    EXPECT_EQ(m.version.release, 0);
    auto split = [](const std::string& list) {
      std::vector<std::string> out;
      std::size_t start = 0;
      for (std::size_t end; (end = list.find(';', start)) != std::string::npos;
           start = end + 1) {
        out.push_back(list.substr(start, end - start));
      }
      out.push_back(list.substr(start));
      return out;
    };
    for (const std::string& name : split(row.names_served)) {
      EXPECT_NE(m.env_table.IsStreamAlgorithmSupported(m.env, name.c_str()) & 0xFF, 0u) << name;
    }
    for (const std::string& name : split(row.names_refused)) {
      EXPECT_EQ(m.env_table.IsStreamAlgorithmSupported(m.env, name.c_str()) & 0xFF, 0u) << name;
    }
    EXPECT_EQ(m.env_table.IsStreamAlgorithmSupported(m.env, nullptr) & 0xFF, 0u);
    for (unsigned char id : row.ids_served) {
      if (id != 0) {
        EXPECT_NE(m.env_table.IsStreamAlgorithmIDSupported(m.env, id), 0u) << int(id);
      }
    }
    EXPECT_EQ(m.env_table.IsStreamAlgorithmIDSupported(m.env, 99), 0u);
    EXPECT_EQ(m.env_table.IsBlockEncrypterAlgorithmSupported != nullptr, row.block_crypto);
    EXPECT_EQ(m.hasher_table.Create != nullptr, row.block_crypto);
  }
}

TEST(CryptoModules, StubHashesEveryAlgorithmAndFipsRefusesTheUnapproved) {
  Module stub("libvccistub_r.so");
  ASSERT_TRUE(stub.loaded());
  struct Row {
    const char* name;
    unsigned size;
    const char* hex;  // of "abc"
  };
  const Row rows[] = {
      {"crc", 4, "352441c2"},
      {"md5", 16, "900150983cd24fb0d6963f7d28e17f72"},
      {"SHA-1", 20, "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"sha256", 32, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    a_vcci_error err{};
    void* h = stub.hasher_table.Create(stub.env, row.name, &err);
    ASSERT_NE(h, nullptr);
    unsigned char out[32];
    EXPECT_EQ(stub.hasher_table.BeginHash(h), 0u);
    EXPECT_EQ(stub.hasher_table.AddData(h, reinterpret_cast<const unsigned char*>("ab"), 2),
              0u);
    EXPECT_EQ(stub.hasher_table.AddData(h, reinterpret_cast<const unsigned char*>("c"), 1), 0u);
    EXPECT_NE(stub.hasher_table.EndHash(h, out, row.size - 1), 0u) << "too small";
    ASSERT_EQ(stub.hasher_table.EndHash(h, out, row.size), 0u);
    std::string hex;
    char two[3];
    for (unsigned i = 0; i < row.size; ++i) {
      snprintf(two, sizeof two, "%02x", out[i]);
      hex += two;
    }
    EXPECT_EQ(hex, row.hex);
    stub.hasher_table.Destroy(h);
  }

  Module fips("libvqfips12_r.so");
  ASSERT_TRUE(fips.loaded());
  for (const char* name : {"md5", "crc32", "whirlpool"}) {
    a_vcci_error err{};
    EXPECT_EQ(fips.hasher_table.Create(fips.env, name, &err), nullptr) << name;
    EXPECT_EQ(err.code, 22u) << name;
  }
}

}  // namespace
