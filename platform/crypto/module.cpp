// The module's entry points, its environment, error records and option lookup.
#include "module.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <new>

#define VQ_EXPORT extern "C" __attribute__((visibility("default")))

namespace vqvcci {

void error_clear(Error* err) {
  if (err == nullptr) return;
  err->code = 0;
  err->sub_code = 0;
  err->parms = nullptr;
}

void error_free(Error* err) {
  if (err == nullptr || err->parms == nullptr) return;
  for (char** p = err->parms; *p != nullptr; ++p) std::free(*p);
  std::free(err->parms);
  err->parms = nullptr;
}

void error_set(Error* err, std::uint32_t code, const char* parm, std::uint32_t sub_code) {
  if (err == nullptr) return;
  error_free(err);
  err->code = code;
  err->sub_code = sub_code;
  if (parm == nullptr) return;
  auto** parms = static_cast<char**>(std::calloc(2, sizeof(char*)));
  if (parms == nullptr) return;
  parms[0] = strdup(parm);
  if (parms[0] == nullptr) {
    std::free(parms);
    return;
  }
  err->parms = parms;
}

const char* option_value(UserOption* options, const char* name, const char* alias) {
  for (UserOption* o = options; o != nullptr; o = o->next) {
    if (o->name == nullptr) continue;
    if (strcasecmp(o->name, name) == 0 ||
        (alias != nullptr && strcasecmp(o->name, alias) == 0)) {
      o->used = 1;
      return o->value;
    }
  }
  return nullptr;
}

bool name_is(const char* name, const char* const* list) {
  if (name == nullptr) return false;
  for (; *list != nullptr; ++list) {
    if (strcasecmp(name, *list) == 0) return true;
  }
  return false;
}

namespace {

const char* const kRsaNames[] = {"rsa", "rsa_tls", nullptr};
const char* const kEccNames[] = {"ecc", "ecc_tls", nullptr};
const char* const kFipsNames[] = {"rsa_tls_fips", nullptr};

}  // namespace

// The FIPS module serves every RSA name (a FIPS environment sends them all to it) as its
// FIPS stream; the stub serves every stream under its own number.
unsigned char stream_number_by_name(const char* name) {
  const bool rsa = name_is(name, kRsaNames);
  const bool ecc = name_is(name, kEccNames);
  const bool fips = name_is(name, kFipsNames);
  switch (kModule) {
    case kModuleRsa:
      return rsa ? kStreamRsa : 0;
    case kModuleEcc:
      return ecc ? kStreamEcc : 0;
    case kModuleFips:
      return rsa || fips ? kStreamRsaFips : 0;
    case kModuleStub:
      return rsa ? kStreamRsa : ecc ? kStreamEcc : fips ? kStreamRsaFips : 0;
  }
  return 0;
}

unsigned char stream_number_by_id(unsigned char number) {
  switch (kModule) {
    case kModuleRsa:
      return number == kStreamRsa ? number : 0;
    case kModuleEcc:
      return number == kStreamEcc ? number : 0;
    case kModuleFips:
      return number == kStreamRsa || number == kStreamRsaFips ? kStreamRsaFips : 0;
    case kModuleStub:
      return number == kStreamRsa || number == kStreamEcc || number == kStreamRsaFips ? number
                                                                                      : 0;
  }
  return 0;
}

namespace {

void* env_create(const HostCallbacks* callbacks, void* ctx, UserOption* options, const char*,
                 Error* err) {
  error_clear(err);
  auto* env = new (std::nothrow) ModuleEnv{callbacks, ctx, false, nullptr};
  if (env == nullptr) {
    error_set(err, kErrNoMemory);
    return nullptr;
  }
  const char* fips = option_value(options, "FIPS");
  env->fips = fips != nullptr && strcasecmp(fips, "YES") == 0;
  env->bio_method = tls_env_init();
  if (env->bio_method == nullptr) {
    delete env;
    error_set(err, kErrNoMemory);
    return nullptr;
  }
  return env;
}

void env_destroy(void* env) {
  auto* e = static_cast<ModuleEnv*>(env);
  if (e == nullptr) return;
  tls_env_fini(e->bio_method);
  delete e;
}

unsigned stream_supported(void*, const char* name) { return stream_number_by_name(name) != 0; }
unsigned stream_id_supported(void*, unsigned char n) { return stream_number_by_id(n) != 0; }
unsigned encrypter_supported(void*, const char* name) {
  return name != nullptr && block_encrypter_supported(name, -1);
}
unsigned encrypter_id_supported(void*, unsigned char n) {
  return block_encrypter_supported(nullptr, n);
}
unsigned hasher_name_supported(void*, const char* name) {
  return name != nullptr && hasher_supported(name, -1);
}
unsigned hasher_id_supported(void*, unsigned char n) { return hasher_supported(nullptr, n); }
const char* const kPasswordNames[] = {"SHA256",       "SHA-256",      "SHA_256", "SHA256_FIPS",
                                      "SHA-256_FIPS", "SHA_256_FIPS", nullptr};
unsigned password_supported(void*, const char* name) { return name_is(name, kPasswordNames); }
unsigned password_id_supported(void*, unsigned char n) {
  return n == kSha256 || (kModule == kModuleFips && n == kSha256Fips);
}

void error_destroy(void*, Error* err) { error_free(err); }

}  // namespace
}  // namespace vqvcci

using namespace vqvcci;

VQ_EXPORT int VCCIGetVersion(Version* version) {
  if (version != nullptr) *version = Version{1, 5, 0, 2};
  return 0;
}

VQ_EXPORT int VCCIGetEnvIface(EnvIface* t) {
  if (t == nullptr) return 1;
  *t = EnvIface{env_create, env_destroy, stream_supported, stream_id_supported,
                nullptr,    nullptr,     nullptr,          nullptr,
                nullptr,    nullptr};
  if (kHasBlockCrypto) {
    t->IsBlockEncrypterAlgorithmSupported = encrypter_supported;
    t->IsBlockEncrypterAlgorithmIDSupported = encrypter_id_supported;
    t->IsBlockHasherAlgorithmSupported = hasher_name_supported;
    t->IsBlockHasherAlgorithmIDSupported = hasher_id_supported;
    t->IsPasswordHasherAlgorithmSupported = password_supported;
    t->IsPasswordHasherAlgorithmIDSupported = password_id_supported;
  }
  return 0;
}

VQ_EXPORT int VCCIGetErrorIface(ErrorIface* t) {
  if (t == nullptr) return 1;
  t->Destroy = error_destroy;
  return 0;
}

VQ_EXPORT int VCCIGetStreamIface(StreamIface* t) {
  if (t == nullptr) return 1;
  StreamConnIface unused{};
  fill_stream_tables(t, &unused);
  return 0;
}

VQ_EXPORT int VCCIGetStreamConnIface(StreamConnIface* t) {
  if (t == nullptr) return 1;
  StreamIface unused{};
  fill_stream_tables(&unused, t);
  return 0;
}

#if VQ_MODULE_KIND == 3 || VQ_MODULE_KIND == 4
VQ_EXPORT int VCCIGetPasswordHasherIface(PasswordHasherIface* t) {
  if (t == nullptr) return 1;
  fill_block_crypto(t, nullptr, nullptr);
  return 0;
}

VQ_EXPORT int VCCIGetBlockHasherIface(BlockHasherIface* t) {
  if (t == nullptr) return 1;
  fill_block_crypto(nullptr, t, nullptr);
  return 0;
}

VQ_EXPORT int VCCIGetBlockEncrypterIface(BlockEncrypterIface* t) {
  if (t == nullptr) return 1;
  fill_block_crypto(nullptr, nullptr, t);
  return 0;
}
#endif
