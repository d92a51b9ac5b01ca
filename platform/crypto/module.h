// What the parts of one crypto module share: its environment, error records, option
// lookup and the profile that says which algorithms this module serves. The same
// sources build every module; VQ_MODULE_KIND picks the profile (1 RSA TLS, 2 ECC TLS,
// 3 FIPS, 4 stub).
#ifndef VQ_PLATFORM_CRYPTO_MODULE_H
#define VQ_PLATFORM_CRYPTO_MODULE_H

#include "vqvcci.h"

namespace vqvcci {

enum ModuleKind { kModuleRsa = 1, kModuleEcc = 2, kModuleFips = 3, kModuleStub = 4 };
constexpr ModuleKind kModule = static_cast<ModuleKind>(VQ_MODULE_KIND);
// Block encrypters and hashers: only the FIPS and stub modules offer them.
constexpr bool kHasBlockCrypto = kModule == kModuleFips || kModule == kModuleStub;

struct ModuleEnv {
  const HostCallbacks* callbacks;  // not owned
  void* context;                   // host context
  bool fips;                       // option FIPS=YES
  void* bio_method;                // the byte-stream adapter's method table (TLS modules)
};

// ---- errors (parameters are malloc'ed so that a record outlives any environment) ----
void error_clear(Error* err);
void error_set(Error* err, std::uint32_t code, const char* parm = nullptr,
               std::uint32_t sub_code = 0);
void error_free(Error* err);

// ---- options ----
// The value of the first option with one of the names (no regard to case), marked used;
// null when absent.
const char* option_value(UserOption* options, const char* name, const char* alias = nullptr);
bool name_is(const char* name, const char* const* list);  // no regard to case

// ---- algorithm profile ----
// The stream number this module serves under a name or number; 0 when it serves none.
unsigned char stream_number_by_name(const char* name);
unsigned char stream_number_by_id(unsigned char number);

// ---- tables filled by the other parts ----
void fill_stream_tables(StreamIface* stream, StreamConnIface* conn);
void* tls_env_init();  // per-environment TLS state; null on failure
void tls_env_fini(void* bio_method);
void fill_block_crypto(PasswordHasherIface* password, BlockHasherIface* hasher,
                       BlockEncrypterIface* encrypter);
unsigned block_encrypter_supported(const char* name, int number);  // name null: by number
unsigned hasher_supported(const char* name, int number);

}  // namespace vqvcci

#endif  // VQ_PLATFORM_CRYPTO_MODULE_H
