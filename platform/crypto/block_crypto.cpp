// Block encrypters, block hashers and the password hasher of the FIPS and stub modules,
// over the system's OpenSSL. The AES key is derived from the key material exactly as
// the built-in provider derives it (chained single-block encryptions), and the CBC
// vector is the 32-bit initialisation word four times, little-endian, so that a peer
// using either provider reads the same bytes.
#include <openssl/evp.h>

#include <cstring>
#include <new>

#include "module.h"

namespace vqvcci {
namespace {

const char* const kAes128Names[] = {"AES", "AES128", "AES-128", "AES_128", nullptr};
const char* const kAes256Names[] = {"AES256", "AES-256", "AES_256", nullptr};
const char* const kAes128FipsNames[] = {"AES_FIPS", "AES128_FIPS", "AES-128_FIPS",
                                        "AES_128_FIPS", nullptr};
const char* const kAes256FipsNames[] = {"AES256_FIPS", "AES-256_FIPS", "AES_256_FIPS", nullptr};
const char* const kSha256Names[] = {"SHA256", "SHA-256", "SHA_256", nullptr};
const char* const kSha1Names[] = {"SHA1", "SHA-1", "SHA_1", nullptr};
const char* const kSha256FipsNames[] = {"SHA256_FIPS", "SHA-256_FIPS", "SHA_256_FIPS", nullptr};
const char* const kSha1FipsNames[] = {"SHA1_FIPS", "SHA-1_FIPS", "SHA_1_FIPS", nullptr};
const char* const kMd5Names[] = {"MD5", nullptr};
const char* const kCrc32Names[] = {"CRC32", "CRC", nullptr};

constexpr bool kFips = kModule == kModuleFips;

// The number this module gives an encrypter; 0 when it serves none. The FIPS module
// serves every AES request under its FIPS numbers (a FIPS environment sends it all).
int encrypter_number(const char* name, int number) {
  int n = number;
  if (number < 0) {
    n = name == nullptr || name_is(name, kAes128Names) ? kAes128
        : name_is(name, kAes256Names)                  ? kAes256
        : name_is(name, kAes128FipsNames)              ? kAes128Fips
        : name_is(name, kAes256FipsNames)              ? kAes256Fips
                                                       : 0;
  }
  if (n != kAes128 && n != kAes256 && n != kAes128Fips && n != kAes256Fips) return 0;
  if (kFips) return n == kAes128 || n == kAes128Fips ? kAes128Fips : kAes256Fips;
  return n;
}

int hasher_number(const char* name, int number) {
  int n = number;
  if (number < 0) {
    n = name == nullptr                   ? (kFips ? 0 : kMd5)
        : name_is(name, kSha256Names)     ? kSha256
        : name_is(name, kSha1Names)       ? kSha1
        : name_is(name, kSha256FipsNames) ? kSha256Fips
        : name_is(name, kSha1FipsNames)   ? kSha1Fips
        : name_is(name, kMd5Names)        ? kMd5
        : name_is(name, kCrc32Names)      ? kCrc32
                                          : 0;
  }
  switch (n) {
    case kSha256:
    case kSha256Fips:
      return kFips ? kSha256Fips : n;
    case kSha1:
    case kSha1Fips:
      return kFips ? kSha1Fips : n;
    case kMd5:
    case kCrc32:
      return kFips ? 0 : n;  // not approved in FIPS mode
    default:
      return 0;
  }
}

// ---- block encrypter ----

struct Encrypter {
  unsigned number;
  unsigned key_bytes;     // 16 or 32
  unsigned char key[32];  // derived key
  Error error;
};

const EVP_CIPHER* ecb(unsigned key_bytes) {
  return key_bytes == 16 ? EVP_aes_128_ecb() : EVP_aes_256_ecb();
}

// out = AES-ECB under `key` of `in` (key_bytes long, whole blocks).
bool ecb_encrypt(const unsigned char* key, unsigned key_bytes, unsigned char* data) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  int n = 0;
  bool ok = ctx != nullptr &&
            EVP_EncryptInit_ex(ctx, ecb(key_bytes), nullptr, key, nullptr) == 1 &&
            EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
            EVP_EncryptUpdate(ctx, data, &n, data, static_cast<int>(key_bytes)) == 1 &&
            n == static_cast<int>(key_bytes);
  EVP_CIPHER_CTX_free(ctx);
  return ok;
}

void* enc_create_id(void*, unsigned char number, const unsigned char* key, unsigned key_length,
                    UserOption*, Error* err) {
  error_clear(err);
  const int n = encrypter_number(nullptr, number);
  if (n == 0) return error_set(err, kErrUnknownCipher), nullptr;
  if (key == nullptr) return error_set(err, kErrNoKey), nullptr;
  auto* e = new (std::nothrow) Encrypter{};
  if (e == nullptr) return error_set(err, kErrNoMemory), nullptr;
  e->number = static_cast<unsigned>(n);
  e->key_bytes = n == kAes128 || n == kAes128Fips ? 16 : 32;
  unsigned char chunk[32];
  for (unsigned off = 0; off < key_length; off += e->key_bytes) {
    std::memset(chunk, 0, sizeof chunk);
    const unsigned take = key_length - off < e->key_bytes ? key_length - off : e->key_bytes;
    std::memcpy(chunk, key + off, take);
    for (unsigned i = 0; i < e->key_bytes; ++i) e->key[i] ^= chunk[i];
    if (!ecb_encrypt(chunk, e->key_bytes, e->key)) {
      delete e;
      return error_set(err, kErrInternal), nullptr;
    }
  }
  return e;
}

void* enc_create(void* env, const char* name, const unsigned char* key, unsigned key_length,
                 UserOption* options, Error* err) {
  const int n = encrypter_number(name, -1);
  if (n == 0) {
    error_clear(err);
    return error_set(err, kErrUnknownCipher), nullptr;
  }
  return enc_create_id(env, static_cast<unsigned char>(n), key, key_length, options, err);
}

unsigned enc_cbc(void* encrypter, unsigned char* buffer, unsigned length, std::uint32_t iv_word,
                 bool encrypt) {
  auto* e = static_cast<Encrypter*>(encrypter);
  if (buffer == nullptr || length == 0 || length % 16 != 0) {
    error_set(&e->error, kErrInternal);
    return 1;
  }
  unsigned char iv[16];
  for (int i = 0; i < 16; ++i) iv[i] = static_cast<unsigned char>(iv_word >> (8 * (i % 4)));
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  const EVP_CIPHER* cipher = e->key_bytes == 16 ? EVP_aes_128_cbc() : EVP_aes_256_cbc();
  int n = 0;
  bool ok = ctx != nullptr &&
            EVP_CipherInit_ex(ctx, cipher, nullptr, e->key, iv, encrypt ? 1 : 0) == 1 &&
            EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
            EVP_CipherUpdate(ctx, buffer, &n, buffer, static_cast<int>(length)) == 1 &&
            n == static_cast<int>(length);
  EVP_CIPHER_CTX_free(ctx);
  if (!ok) {
    error_set(&e->error, kErrInternal);
    return 1;
  }
  return 0;
}

unsigned enc_encrypt(void* e, unsigned char* b, unsigned l, std::uint32_t iv) {
  return enc_cbc(e, b, l, iv, true);
}
unsigned enc_decrypt(void* e, unsigned char* b, unsigned l, std::uint32_t iv) {
  return enc_cbc(e, b, l, iv, false);
}
unsigned enc_id(void* e) { return static_cast<Encrypter*>(e)->number; }
unsigned enc_block(void*) { return 16; }
const Error* enc_error(void* e) { return &static_cast<Encrypter*>(e)->error; }
void enc_destroy(void* encrypter) {
  auto* e = static_cast<Encrypter*>(encrypter);
  if (e == nullptr) return;
  error_free(&e->error);
  delete e;
}

// ---- block hasher ----

struct Hasher {
  unsigned number;
  EVP_MD_CTX* md;     // null for CRC-32
  std::uint32_t crc;  // running CRC-32 value
  Error error;
};

const EVP_MD* digest_of(unsigned n) {
  switch (n) {
    case kSha256:
    case kSha256Fips:
      return EVP_sha256();
    case kSha1:
    case kSha1Fips:
      return EVP_sha1();
    case kMd5:
      return EVP_md5();
    default:
      return nullptr;
  }
}

unsigned max_size(unsigned n) {
  switch (n) {
    case kSha256:
    case kSha256Fips:
      return 32;
    case kSha1:
    case kSha1Fips:
      return 20;
    case kMd5:
      return 16;
    default:
      return 4;
  }
}

std::uint32_t crc32_update(std::uint32_t crc, const unsigned char* data, unsigned length) {
  for (unsigned i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc;
}

void* hash_create_id(void*, unsigned char number, Error* err) {
  error_clear(err);
  const int n = hasher_number(nullptr, number);
  if (n == 0) return error_set(err, kErrUnknownHasher), nullptr;
  auto* h = new (std::nothrow) Hasher{};
  if (h == nullptr) return error_set(err, kErrNoMemory), nullptr;
  h->number = static_cast<unsigned>(n);
  if (digest_of(h->number) != nullptr) {
    h->md = EVP_MD_CTX_new();
    if (h->md == nullptr || EVP_DigestInit_ex(h->md, digest_of(h->number), nullptr) != 1) {
      EVP_MD_CTX_free(h->md);
      delete h;
      return error_set(err, kErrNoMemory), nullptr;
    }
  }
  h->crc = 0xFFFFFFFFu;
  return h;
}

void* hash_create(void* env, const char* name, Error* err) {
  const int n = hasher_number(name, -1);
  if (n == 0) {
    error_clear(err);
    return error_set(err, kErrUnknownHasher), nullptr;
  }
  return hash_create_id(env, static_cast<unsigned char>(n), err);
}

unsigned hash_id(void* h) { return static_cast<Hasher*>(h)->number; }
unsigned hash_max(void* h) { return max_size(static_cast<Hasher*>(h)->number); }
unsigned hash_block(void* h) {
  const unsigned n = static_cast<Hasher*>(h)->number;
  return n == kSha1 || n == kSha1Fips ? 64 : 0;
}

unsigned hash_begin(void* hasher) {
  auto* h = static_cast<Hasher*>(hasher);
  h->crc = 0xFFFFFFFFu;
  if (h->md != nullptr && EVP_DigestInit_ex(h->md, digest_of(h->number), nullptr) != 1) {
    error_set(&h->error, kErrInternal);
    return 1;
  }
  return 0;
}

unsigned hash_add(void* hasher, const unsigned char* data, unsigned length) {
  auto* h = static_cast<Hasher*>(hasher);
  if (length == 0) return 0;
  if (data == nullptr) {
    error_set(&h->error, kErrInternal);
    return 1;
  }
  if (h->md == nullptr) {
    h->crc = crc32_update(h->crc, data, length);
    return 0;
  }
  if (EVP_DigestUpdate(h->md, data, length) != 1) {
    error_set(&h->error, kErrInternal);
    return 1;
  }
  return 0;
}

unsigned hash_end(void* hasher, unsigned char* out, unsigned size) {
  auto* h = static_cast<Hasher*>(hasher);
  if (out == nullptr || size < max_size(h->number)) {
    error_set(&h->error, kErrInternal);
    return 1;
  }
  if (h->md == nullptr) {
    h->crc = ~h->crc;  // kept, as the built-in provider keeps it
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(h->crc >> (24 - 8 * i));
    return 0;
  }
  unsigned n = 0;
  if (EVP_DigestFinal_ex(h->md, out, &n) != 1) {
    error_set(&h->error, kErrInternal);
    return 1;
  }
  return 0;
}

const Error* hash_error(void* h) { return &static_cast<Hasher*>(h)->error; }
void hash_destroy(void* hasher) {
  auto* h = static_cast<Hasher*>(hasher);
  if (h == nullptr) return;
  EVP_MD_CTX_free(h->md);
  error_free(&h->error);
  delete h;
}

// ---- password hasher: SHA-256 into exactly 32 bytes ----

void* pw_create_id(void* env, unsigned char number, Error* err) {
  if (number != kSha256 && !(kFips && number == kSha256Fips)) {
    error_clear(err);
    return error_set(err, kErrUnknownHasher), nullptr;
  }
  return hash_create_id(env, kSha256, err);
}
void* pw_create(void* env, Error* err) { return hash_create_id(env, kSha256, err); }
unsigned pw_hash(void* hasher, const unsigned char* in, unsigned length, unsigned char* out,
                 unsigned size) {
  if (size != 32) return 1;
  unsigned rc = hash_begin(hasher);
  if (rc == 0) rc = hash_add(hasher, in, length);
  if (rc == 0) rc = hash_end(hasher, out, size);
  return rc;
}

}  // namespace

unsigned block_encrypter_supported(const char* name, int number) {
  return kHasBlockCrypto && encrypter_number(name, number) != 0;
}

unsigned hasher_supported(const char* name, int number) {
  return kHasBlockCrypto && hasher_number(name, number) != 0;
}

void fill_block_crypto(PasswordHasherIface* password, BlockHasherIface* hasher,
                       BlockEncrypterIface* encrypter) {
  if (password != nullptr) {
    *password = PasswordHasherIface{pw_create, pw_create_id, hash_id,     hash_max,
                                    pw_hash,   hash_error,   hash_destroy};
  }
  if (hasher != nullptr) {
    *hasher = BlockHasherIface{hash_create, hash_create_id, hash_id,  hash_max,   hash_block,
                               hash_begin,  hash_add,       hash_end, hash_error, hash_destroy};
  }
  if (encrypter != nullptr) {
    *encrypter = BlockEncrypterIface{enc_create,  enc_create_id, enc_id,    enc_encrypt,
                                     enc_decrypt, enc_block,     enc_error, enc_destroy};
  }
}

}  // namespace vqvcci
