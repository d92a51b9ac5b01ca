// The built-in crypto provider: AES-CBC block encryption, block hashing and password
// hashing behind the provider tables, with memory from the host callbacks.
#include "security/builtin_provider.h"

#include <strings.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "security/aes.h"
#include "security/sha1.h"
#include "utils/base/crc32.h"
#include "utils/base/md5.h"
#include "utils/base/sha256.h"

namespace vq::vcci_builtin {
namespace {

struct VCCIEnvironment {
  const a_vcci_callbacks* callbacks;  // not owned
  void* context;                      // host context
  const char* app_name;               // the pointer given, not copied
  std::uint32_t fips;                 // option FIPS=YES was given
};

struct BlockEncrypter {
  VCCIEnvironment* env;
  std::uint32_t number;  // kVCCIAes128 or kVCCIAes256
  QuilAES_Context aes;
  a_vcci_error error;
};

struct BlockHasher {
  VCCIEnvironment* env;
  std::uint32_t number;  // kVCCISha256, kVCCISha1, kVCCIMd5 or kVCCICrc32
  a_vcci_error error;
  union {
    md5_state_t md5;
    SHA sha1;
    UT_SHA256_CTX sha256;
    std::uint32_t crc;  // running value
  } state;
};

struct PasswordHasher {
  VCCIEnvironment* env;
  BlockHasher* inner;  // SHA-256
};

constexpr unsigned kAesBlock = 16;

// ---- memory through the host ----

bool host_allocates(const VCCIEnvironment* env) {
  return env != nullptr && env->callbacks != nullptr && env->callbacks->alloc != nullptr &&
         env->callbacks->release != nullptr;
}

void* _VCCI_Alloc(VCCIEnvironment* env, std::size_t size) {
  if (host_allocates(env)) return env->callbacks->alloc(env->context, size);
  return std::malloc(size);
}

void _VCCI_Free(VCCIEnvironment* env, void* block) {
  if (block == nullptr) return;
  if (host_allocates(env)) {
    env->callbacks->release(env->context, block);
  } else {
    std::free(block);
  }
}

char* _VCCI_Strdup(VCCIEnvironment* env, const char* text) {
  if (text == nullptr) return nullptr;
  const std::size_t n = std::strlen(text) + 1;
  char* copy = static_cast<char*>(_VCCI_Alloc(env, n));
  if (copy != nullptr) std::memcpy(copy, text, n);
  return copy;
}

// ---- error records ----

void _VCCIError_Clear(a_vcci_error* err) {
  if (err == nullptr) return;
  err->code = 0;
  err->sub_code = 0;
  err->parms = nullptr;
}

void free_parms(VCCIEnvironment* env, a_vcci_error* err) {
  if (err == nullptr || err->parms == nullptr) return;
  for (char** p = err->parms; *p != nullptr; ++p) _VCCI_Free(env, *p);
  _VCCI_Free(env, err->parms);
  err->parms = nullptr;
}

void _VCCIError_SetError(a_vcci_error* err, VCCIEnvironment* env, std::uint32_t code,
                         std::uint32_t sub_code, const char* text) {
  if (err == nullptr) return;
  free_parms(env, err);
  err->code = code;
  err->sub_code = sub_code;
  if (text == nullptr) return;
  auto** parms = static_cast<char**>(_VCCI_Alloc(env, 2 * sizeof(char*)));
  if (parms == nullptr) return;
  parms[0] = _VCCI_Strdup(env, text);
  parms[1] = nullptr;
  if (parms[0] == nullptr) {
    _VCCI_Free(env, parms);
    return;
  }
  err->parms = parms;
}

const char* _VCCI_getOption(_a_vcci_user_option* options, const char* name) {
  for (; options != nullptr; options = options->next) {
    if (options->name != nullptr && strcasecmp(options->name, name) == 0) {
      options->used = 1;
      return options->value;
    }
  }
  return nullptr;
}

unsigned write_be32(unsigned char* out, std::uint32_t v) {
  out[0] = static_cast<unsigned char>(v >> 24);
  out[1] = static_cast<unsigned char>(v >> 16);
  out[2] = static_cast<unsigned char>(v >> 8);
  out[3] = static_cast<unsigned char>(v);
  return 4;
}

// ---- AES key derivation ----

// The AES key of `k` bytes made from any amount of key material: an accumulator of k
// zero bytes takes each k-byte chunk of the material (the last one padded with zeros)
// by xor, and is then enciphered block by block under that chunk as the key.
bool derive_key(const unsigned char* material, unsigned length, unsigned k,
                unsigned char* acc) {
  std::memset(acc, 0, k);
  for (unsigned offset = 0; offset < length; offset += k) {
    unsigned char chunk[32] = {};
    const unsigned n = length - offset < k ? length - offset : k;
    std::memcpy(chunk, material + offset, n);
    for (unsigned i = 0; i < k; ++i) acc[i] ^= chunk[i];
    QuilAES_Context ctx;
    if (QuilAES_KeyInit(&ctx, chunk, k * 8) == 0) return false;
    for (unsigned b = 0; b < k; b += kAesBlock) QuilAES_EncryptBlock(&ctx, acc + b, acc + b);
    QuilAES_KeyFini(&ctx);
    std::memset(&ctx, 0, sizeof ctx);
    std::memset(chunk, 0, sizeof chunk);
  }
  return true;
}

unsigned crypt(void* object, unsigned char* buffer, unsigned length, std::uint32_t iv_word,
               bool encrypt) {
  auto* e = static_cast<BlockEncrypter*>(object);
  if (e == nullptr) return 1;
  // The cipher works on whole blocks only; a partial block would be left in clear, and
  // a caller that counts on every byte being enciphered must hear about it.
  if (buffer == nullptr || length == 0 || length % kAesBlock != 0) {
    _VCCIError_SetError(&e->error, e->env, 34, 0, nullptr);
    return 1;
  }
  unsigned char iv[kAesBlock];
  for (unsigned i = 0; i < kAesBlock; i += 4) {
    iv[i] = static_cast<unsigned char>(iv_word);
    iv[i + 1] = static_cast<unsigned char>(iv_word >> 8);
    iv[i + 2] = static_cast<unsigned char>(iv_word >> 16);
    iv[i + 3] = static_cast<unsigned char>(iv_word >> 24);
  }
  const int ok = encrypt ? QuilAES_EncryptCBC(&e->aes, iv, buffer, length)
                         : QuilAES_DecryptCBC(&e->aes, iv, buffer, length);
  if (ok == 0) {
    _VCCIError_SetError(&e->error, e->env, 34, 0, nullptr);
    return 1;
  }
  return 0;
}

}  // namespace

// ---- environment ----

void* VCCIEnvironment_Create(const a_vcci_callbacks* callbacks, void* context,
                             _a_vcci_user_option* options, const char* app_name,
                             a_vcci_error* err) {
  _VCCIError_Clear(err);
  VCCIEnvironment probe{callbacks, context, app_name, 0};
  auto* env = static_cast<VCCIEnvironment*>(_VCCI_Alloc(&probe, sizeof(VCCIEnvironment)));
  if (env == nullptr) {
    if (err != nullptr) err->code = 1;
    return nullptr;
  }
  *env = probe;
  const char* fips = _VCCI_getOption(options, "FIPS");
  env->fips = fips != nullptr && strcasecmp(fips, "YES") == 0 ? 1 : 0;
  return env;
}

void VCCIEnvironment_Destroy(void* env) {
  auto* e = static_cast<VCCIEnvironment*>(env);
  if (e != nullptr) _VCCI_Free(e, e);
}

bool VCCIEnvironment_IsFIPS(const void* env) {
  return env != nullptr && static_cast<const VCCIEnvironment*>(env)->fips != 0;
}

unsigned VCCI_IsBlockEncrypterAlgorithmSupported(void*, const char* name) {
  return VCCINameInList(name, AES_128_names) || VCCINameInList(name, AES_256_names) ? 1 : 0;
}

unsigned VCCI_IsBlockEncrypterAlgorithmIDSupported(void*, unsigned char number) {
  return number == kVCCIAes128 || number == kVCCIAes256 ? 1 : 0;
}

unsigned VCCI_IsBlockHasherAlgorithmSupported(void*, const char* name) {
  return VCCINameInList(name, SHA1_names) || VCCINameInList(name, SHA256_names) ? 1 : 0;
}

unsigned VCCI_IsBlockHasherAlgorithmIDSupported(void*, unsigned char number) {
  return number == kVCCIMd5 || number == kVCCISha1 || number == kVCCISha256 ? 1 : 0;
}

unsigned VCCI_IsPasswordHasherAlgorithmSupported(void* env, const char* name) {
  return VCCI_IsBlockHasherAlgorithmSupported(env, name);
}

unsigned VCCI_IsPasswordHasherAlgorithmIDSupported(void* env, unsigned char number) {
  return VCCI_IsBlockHasherAlgorithmIDSupported(env, number);
}

void VCCIError_Destroy(void* env, a_vcci_error* err) {
  free_parms(static_cast<VCCIEnvironment*>(env), err);
}

// ---- block encrypter ----

void* VCCIBlockEncrypter_Create(void* env, const char* name, const unsigned char* key,
                                unsigned key_length, _a_vcci_user_option* options,
                                a_vcci_error* err) {
  unsigned char number;
  if (name == nullptr || VCCINameInList(name, AES_128_names)) {
    number = kVCCIAes128;
  } else if (VCCINameInList(name, AES_256_names)) {
    number = kVCCIAes256;
  } else {
    _VCCIError_Clear(err);
    _VCCIError_SetError(err, static_cast<VCCIEnvironment*>(env), 21, 0, nullptr);
    return nullptr;
  }
  return VCCIBlockEncrypter_CreateWithID(env, number, key, key_length, options, err);
}

void* VCCIBlockEncrypter_CreateWithID(void* env, unsigned char number, const unsigned char* key,
                                      unsigned key_length, _a_vcci_user_option*,
                                      a_vcci_error* err) {
  auto* e = static_cast<VCCIEnvironment*>(env);
  _VCCIError_Clear(err);
  if (number != kVCCIAes128 && number != kVCCIAes256) {
    _VCCIError_SetError(err, e, 21, 0, nullptr);
    return nullptr;
  }
  if (key == nullptr) {
    _VCCIError_SetError(err, e, 29, 0, nullptr);
    return nullptr;
  }
  auto* enc = static_cast<BlockEncrypter*>(_VCCI_Alloc(e, sizeof(BlockEncrypter)));
  if (enc == nullptr) {
    _VCCIError_SetError(err, e, 1, 0, nullptr);
    return nullptr;
  }
  std::memset(enc, 0, sizeof *enc);
  enc->env = e;
  enc->number = number;
  const unsigned k = number == kVCCIAes128 ? 16 : 32;
  unsigned char acc[32];
  const bool ok = derive_key(key, key_length, k, acc) && QuilAES_KeyInit(&enc->aes, acc, k * 8);
  std::memset(acc, 0, sizeof acc);
  if (!ok) {
    _VCCIError_SetError(err, e, 7, 0, nullptr);
    std::memset(enc, 0, sizeof *enc);
    _VCCI_Free(e, enc);
    return nullptr;
  }
  return enc;
}

unsigned VCCIBlockEncrypter_GetAlgorithmID(void* encrypter) {
  return encrypter != nullptr ? static_cast<BlockEncrypter*>(encrypter)->number : 0;
}

unsigned VCCIBlockEncrypter_Encrypt(void* encrypter, unsigned char* buffer, unsigned length,
                                    std::uint32_t iv_word) {
  return crypt(encrypter, buffer, length, iv_word, true);
}

unsigned VCCIBlockEncrypter_Decrypt(void* encrypter, unsigned char* buffer, unsigned length,
                                    std::uint32_t iv_word) {
  return crypt(encrypter, buffer, length, iv_word, false);
}

unsigned VCCIBlockEncrypter_GetBlockSize(void*) { return kAesBlock; }

const a_vcci_error* VCCIBlockEncrypter_GetLastError(void* encrypter) {
  return encrypter != nullptr ? &static_cast<BlockEncrypter*>(encrypter)->error : nullptr;
}

void VCCIBlockEncrypter_Destroy(void* encrypter) {
  auto* enc = static_cast<BlockEncrypter*>(encrypter);
  if (enc == nullptr) return;
  VCCIEnvironment* env = enc->env;
  QuilAES_KeyFini(&enc->aes);
  free_parms(env, &enc->error);
  std::memset(enc, 0, sizeof *enc);  // the round keys
  _VCCI_Free(env, enc);
}

// ---- block hasher ----

void* VCCIBlockHasher_Create(void* env, const char* name, a_vcci_error* err) {
  unsigned char number;
  if (name == nullptr || VCCINameInList(name, MD5_names)) {
    number = kVCCIMd5;
  } else if (VCCINameInList(name, SHA256_names)) {
    number = kVCCISha256;
  } else if (VCCINameInList(name, SHA1_names)) {
    number = kVCCISha1;
  } else if (VCCINameInList(name, CRC32_names)) {
    number = kVCCICrc32;
  } else {
    _VCCIError_Clear(err);
    _VCCIError_SetError(err, static_cast<VCCIEnvironment*>(env), 22, 0, nullptr);
    return nullptr;
  }
  return VCCIBlockHasher_CreateWithID(env, number, err);
}

void* VCCIBlockHasher_CreateWithID(void* env, unsigned char number, a_vcci_error* err) {
  auto* e = static_cast<VCCIEnvironment*>(env);
  _VCCIError_Clear(err);
  if (number != kVCCIMd5 && number != kVCCISha1 && number != kVCCISha256 &&
      number != kVCCICrc32) {
    _VCCIError_SetError(err, e, 22, 0, nullptr);
    return nullptr;
  }
  auto* h = static_cast<BlockHasher*>(_VCCI_Alloc(e, sizeof(BlockHasher)));
  if (h == nullptr) {
    _VCCIError_SetError(err, e, 1, 0, nullptr);
    return nullptr;
  }
  std::memset(h, 0, sizeof *h);
  h->env = e;
  h->number = number;
  VCCIBlockHasher_BeginHash(h);
  return h;
}

unsigned VCCIBlockHasher_GetAlgorithmID(void* hasher) {
  return hasher != nullptr ? static_cast<BlockHasher*>(hasher)->number : 0;
}

unsigned VCCIBlockHasher_GetMaxHashSize(void* hasher) {
  if (hasher == nullptr) return 0;
  switch (static_cast<BlockHasher*>(hasher)->number) {
    case kVCCIMd5:
      return 16;
    case kVCCISha1:
      return 20;
    case kVCCISha256:
      return 32;
    case kVCCICrc32:
      return 4;
    default:
      return 0;
  }
}

unsigned VCCIBlockHasher_GetBlockSize(void* hasher) {
  return hasher != nullptr && static_cast<BlockHasher*>(hasher)->number == kVCCISha1 ? 64 : 0;
}

unsigned VCCIBlockHasher_BeginHash(void* hasher) {
  auto* h = static_cast<BlockHasher*>(hasher);
  if (h == nullptr) return 1;
  switch (h->number) {
    case kVCCIMd5:
      md5_init(&h->state.md5);
      break;
    case kVCCISha1:
      SHAInit(&h->state.sha1);
      break;
    case kVCCISha256:
      UT_SHA256_Init(&h->state.sha256);
      break;
    case kVCCICrc32:
      h->state.crc = 0xFFFFFFFFu;
      break;
    default:
      return 1;
  }
  return 0;
}

unsigned VCCIBlockHasher_AddData(void* hasher, const unsigned char* data, unsigned length) {
  auto* h = static_cast<BlockHasher*>(hasher);
  if (h == nullptr) return 1;
  if (length == 0) return 0;
  if (data == nullptr) {
    _VCCIError_SetError(&h->error, h->env, 34, 0, nullptr);
    return 1;
  }
  switch (h->number) {
    case kVCCIMd5:
      // md5_append counts in int: feed a long input in pieces it can take.
      while (length > 0) {
        const unsigned n = length > static_cast<unsigned>(INT_MAX) ? INT_MAX : length;
        md5_append(&h->state.md5, data, static_cast<int>(n));
        data += n;
        length -= n;
      }
      break;
    case kVCCISha1:
      SHAUpdate(&h->state.sha1, data, length);
      break;
    case kVCCISha256:
      UT_SHA256_Update(&h->state.sha256, data, length);
      break;
    case kVCCICrc32:
      h->state.crc = ECrc32Block(h->state.crc, data, length);
      break;
    default:
      return 1;
  }
  return 0;
}

unsigned VCCIBlockHasher_EndHash(void* hasher, unsigned char* out, unsigned size) {
  auto* h = static_cast<BlockHasher*>(hasher);
  if (h == nullptr) return 1;
  if (out == nullptr || size < VCCIBlockHasher_GetMaxHashSize(h)) {
    _VCCIError_SetError(&h->error, h->env, 34, 0, nullptr);
    return 1;
  }
  switch (h->number) {
    case kVCCIMd5:
      md5_finish(&h->state.md5, out);
      break;
    case kVCCISha1:
      SHAFinal(&h->state.sha1);
      for (unsigned i = 0; i < 5; ++i) write_be32(out + 4 * i, h->state.sha1.state[i]);
      break;
    case kVCCISha256:
      UT_SHA256_Final(&h->state.sha256, out);
      break;
    case kVCCICrc32:
      h->state.crc = ~h->state.crc;
      write_be32(out, h->state.crc);
      break;
    default:
      return 1;
  }
  return 0;
}

const a_vcci_error* VCCIBlockHasher_GetLastError(void* hasher) {
  return hasher != nullptr ? &static_cast<BlockHasher*>(hasher)->error : nullptr;
}

void VCCIBlockHasher_Destroy(void* hasher) {
  auto* h = static_cast<BlockHasher*>(hasher);
  if (h == nullptr) return;
  VCCIEnvironment* env = h->env;
  free_parms(env, &h->error);
  std::memset(h, 0, sizeof *h);  // the digest state may hold password bytes
  _VCCI_Free(env, h);
}

// ---- password hasher ----

void* VCCIPasswordHasher_Create(void* env, a_vcci_error* err) {
  auto* e = static_cast<VCCIEnvironment*>(env);
  _VCCIError_Clear(err);
  auto* p = static_cast<PasswordHasher*>(_VCCI_Alloc(e, sizeof(PasswordHasher)));
  if (p == nullptr) {
    _VCCIError_SetError(err, e, 1, 0, nullptr);
    return nullptr;
  }
  p->env = e;
  p->inner = static_cast<BlockHasher*>(VCCIBlockHasher_Create(env, "SHA-256", err));
  if (p->inner == nullptr) {
    _VCCI_Free(e, p);
    return nullptr;
  }
  return p;
}

void* VCCIPasswordHasher_CreateWithID(void* env, unsigned char number, a_vcci_error* err) {
  if (number != kVCCISha256) {
    _VCCIError_Clear(err);
    _VCCIError_SetError(err, static_cast<VCCIEnvironment*>(env), 22, 0, nullptr);
    return nullptr;
  }
  return VCCIPasswordHasher_Create(env, err);
}

unsigned VCCIPasswordHasher_GetAlgorithmID(void* hasher) {
  return hasher != nullptr
             ? VCCIBlockHasher_GetAlgorithmID(static_cast<PasswordHasher*>(hasher)->inner)
             : 0;
}

unsigned VCCIPasswordHasher_GetMaxHashSize(void* hasher) {
  return hasher != nullptr
             ? VCCIBlockHasher_GetMaxHashSize(static_cast<PasswordHasher*>(hasher)->inner)
             : 0;
}

unsigned VCCIPasswordHasher_Hash(void* hasher, const unsigned char* in, unsigned length,
                                 unsigned char* out, unsigned size) {
  auto* p = static_cast<PasswordHasher*>(hasher);
  if (p == nullptr || size != 32) return 1;
  unsigned rc = VCCIBlockHasher_BeginHash(p->inner);
  if (rc == 0) rc = VCCIBlockHasher_AddData(p->inner, in, length);
  if (rc == 0) rc = VCCIBlockHasher_EndHash(p->inner, out, size);
  return rc;
}

const a_vcci_error* VCCIPasswordHasher_GetLastError(void* hasher) {
  return hasher != nullptr
             ? VCCIBlockHasher_GetLastError(static_cast<PasswordHasher*>(hasher)->inner)
             : nullptr;
}

void VCCIPasswordHasher_Destroy(void* hasher) {
  auto* p = static_cast<PasswordHasher*>(hasher);
  if (p == nullptr) return;
  VCCIBlockHasher_Destroy(p->inner);
  _VCCI_Free(p->env, p);
}

// ---- tables ----

int VCCIGetEnvIface(a_vcci_env_iface* t) {
  *t = a_vcci_env_iface{VCCIEnvironment_Create,
                        VCCIEnvironment_Destroy,
                        nullptr,
                        nullptr,
                        VCCI_IsBlockEncrypterAlgorithmSupported,
                        VCCI_IsBlockEncrypterAlgorithmIDSupported,
                        VCCI_IsBlockHasherAlgorithmSupported,
                        VCCI_IsBlockHasherAlgorithmIDSupported,
                        VCCI_IsPasswordHasherAlgorithmSupported,
                        VCCI_IsPasswordHasherAlgorithmIDSupported};
  return 0;
}

int VCCIGetErrorIface(a_vcci_error_iface* t) {
  t->Destroy = VCCIError_Destroy;
  return 0;
}

int VCCIGetPasswordHasherIface(a_vcci_password_hasher_iface* t) {
  *t = a_vcci_password_hasher_iface{
      VCCIPasswordHasher_Create,         VCCIPasswordHasher_CreateWithID,
      VCCIPasswordHasher_GetAlgorithmID, VCCIPasswordHasher_GetMaxHashSize,
      VCCIPasswordHasher_Hash,           VCCIPasswordHasher_GetLastError,
      VCCIPasswordHasher_Destroy};
  return 0;
}

int VCCIGetBlockHasherIface(a_vcci_block_hasher_iface* t) {
  *t = a_vcci_block_hasher_iface{VCCIBlockHasher_Create,         VCCIBlockHasher_CreateWithID,
                                 VCCIBlockHasher_GetAlgorithmID, VCCIBlockHasher_GetMaxHashSize,
                                 VCCIBlockHasher_GetBlockSize,   VCCIBlockHasher_BeginHash,
                                 VCCIBlockHasher_AddData,        VCCIBlockHasher_EndHash,
                                 VCCIBlockHasher_GetLastError,   VCCIBlockHasher_Destroy};
  return 0;
}

int VCCIGetBlockEncrypterIface(a_vcci_block_encrypter_iface* t) {
  *t = a_vcci_block_encrypter_iface{
      VCCIBlockEncrypter_Create,         VCCIBlockEncrypter_CreateWithID,
      VCCIBlockEncrypter_GetAlgorithmID, VCCIBlockEncrypter_Encrypt,
      VCCIBlockEncrypter_Decrypt,        VCCIBlockEncrypter_GetBlockSize,
      VCCIBlockEncrypter_GetLastError,   VCCIBlockEncrypter_Destroy};
  return 0;
}

}  // namespace vq::vcci_builtin
