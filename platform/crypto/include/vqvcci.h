// The crypto-module binary interface as a module sees it: the host services it may call,
// the option list and error record handed across, the function tables it fills in their
// fixed slot order, and the entry points it exports. Plain C data only; values that carry
// a pointer or handle are pointer-sized.
#ifndef VQ_PLATFORM_CRYPTO_VQVCCI_H
#define VQ_PLATFORM_CRYPTO_VQVCCI_H

#include <cstddef>
#include <cstdint>

namespace vqvcci {

struct UserOption {  // one option of a linked list; the module sets `used` for each it takes
  char* name;
  char* value;
  std::uint8_t used;
  UserOption* next;
};

struct Error {         // a module's error record
  std::uint32_t code;  // 0 no error
  std::uint32_t sub_code;
  char** parms;  // null, or texts ended by a null entry (malloc'ed by the module)
};

struct Version {
  std::uint16_t major, minor, release, build;
};
static_assert(sizeof(Version) == 8, "four 16-bit components");

enum Side : std::uint32_t { kClient = 0, kServer = 1 };

struct HostCallbacks {  // every slot takes the host context first; any may be null
  void* (*alloc)(void* ctx, std::size_t size);
  void* (*realloc)(void* ctx, void* block, std::size_t size);
  void (*release)(void* ctx, void* block);
  int (*log)(void* ctx, std::uint32_t level, const char* text, const void* data,
             unsigned length);
  std::uintptr_t (*thread_id)(void* ctx);
  void* (*mutex_create)(void* ctx);
  void (*mutex_destroy)(void* ctx, void* mutex);
  void (*mutex_get)(void* ctx, void* mutex);
  void (*mutex_give)(void* ctx, void* mutex);
  void* spare;
};
static_assert(sizeof(HostCallbacks) == 10 * sizeof(void*), "ten host slots");

struct StreamCallbacks {
  int (*log)(void* ctx, std::uint32_t level, const char* text, const void* data,
             unsigned length);
};

// Read and write answer 0 done, 1 error, 2 would block; a read delivers the whole request
// or nothing.
struct ConnCallbacks {
  int (*read)(void* ctx, unsigned char* buffer, unsigned length, unsigned* count);
  int (*write)(void* ctx, const unsigned char* bytes, unsigned length);
  int (*log)(void* ctx, std::uint32_t level, const char* text, const void* data,
             unsigned length);
  void* spare;
};
static_assert(sizeof(ConnCallbacks) == 4 * sizeof(void*), "four slots");

struct EnvIface {
  void* (*Create)(const HostCallbacks* callbacks, void* ctx, UserOption* options,
                  const char* app_name, Error* err);
  void (*Destroy)(void* env);
  unsigned (*IsStreamAlgorithmSupported)(void* env, const char* name);
  unsigned (*IsStreamAlgorithmIDSupported)(void* env, unsigned char number);
  unsigned (*IsBlockEncrypterAlgorithmSupported)(void* env, const char* name);
  unsigned (*IsBlockEncrypterAlgorithmIDSupported)(void* env, unsigned char number);
  unsigned (*IsBlockHasherAlgorithmSupported)(void* env, const char* name);
  unsigned (*IsBlockHasherAlgorithmIDSupported)(void* env, unsigned char number);
  unsigned (*IsPasswordHasherAlgorithmSupported)(void* env, const char* name);
  unsigned (*IsPasswordHasherAlgorithmIDSupported)(void* env, unsigned char number);
};

struct ErrorIface {
  void (*Destroy)(void* env, Error* err);
};

// Connection Read and Write answer 0 done, 2 would block, 3 closed, else an error.
struct StreamIface {
  void* (*Create)(void* env, const StreamCallbacks* callbacks, void* ctx, const char* name,
                  Error* err);
  void* (*CreateWithID)(void* env, const StreamCallbacks* callbacks, void* ctx,
                        unsigned char number, Error* err);
  unsigned (*Init)(void* stream, Side side, UserOption* options);
  unsigned (*GetAlgorithmID)(void* stream);
  unsigned (*Fini)(void* stream);
  const Error* (*GetLastError)(void* stream);
  void (*Destroy)(void* stream);
  void* unused;
};

struct StreamConnIface {
  void* (*Create)(void* stream, const ConnCallbacks* callbacks, void* ctx, UserOption* options,
                  Error* err);
  unsigned (*Read)(void* conn, unsigned char* buffer, unsigned length, unsigned* count);
  unsigned (*Write)(void* conn, const unsigned char* bytes, unsigned length);
  unsigned (*FlushWrites)(void* conn);
  const Error* (*GetLastError)(void* conn);
  void (*Destroy)(void* conn);
};

struct PasswordHasherIface {
  void* (*Create)(void* env, Error* err);
  void* (*CreateWithID)(void* env, unsigned char number, Error* err);
  unsigned (*GetAlgorithmID)(void* hasher);
  unsigned (*GetMaxHashSize)(void* hasher);
  unsigned (*Hash)(void* hasher, const unsigned char* in, unsigned length, unsigned char* out,
                   unsigned size);
  const Error* (*GetLastError)(void* hasher);
  void (*Destroy)(void* hasher);
};

struct BlockHasherIface {
  void* (*Create)(void* env, const char* name, Error* err);
  void* (*CreateWithID)(void* env, unsigned char number, Error* err);
  unsigned (*GetAlgorithmID)(void* hasher);
  unsigned (*GetMaxHashSize)(void* hasher);
  unsigned (*GetBlockSize)(void* hasher);
  unsigned (*BeginHash)(void* hasher);
  unsigned (*AddData)(void* hasher, const unsigned char* data, unsigned length);
  unsigned (*EndHash)(void* hasher, unsigned char* out, unsigned size);
  const Error* (*GetLastError)(void* hasher);
  void (*Destroy)(void* hasher);
};

struct BlockEncrypterIface {
  void* (*Create)(void* env, const char* name, const unsigned char* key, unsigned key_length,
                  UserOption* options, Error* err);
  void* (*CreateWithID)(void* env, unsigned char number, const unsigned char* key,
                        unsigned key_length, UserOption* options, Error* err);
  unsigned (*GetAlgorithmID)(void* encrypter);
  unsigned (*Encrypt)(void* encrypter, unsigned char* buffer, unsigned length,
                      std::uint32_t iv_word);
  unsigned (*Decrypt)(void* encrypter, unsigned char* buffer, unsigned length,
                      std::uint32_t iv_word);
  unsigned (*GetBlockSize)(void* encrypter);
  const Error* (*GetLastError)(void* encrypter);
  void (*Destroy)(void* encrypter);
};

// Algorithm numbers shared with the host.
enum : unsigned char {
  kStreamEcc = 2,
  kStreamRsa = 3,
  kStreamRsaFips = 4,
  kAes128 = 2,
  kAes128Fips = 3,
  kAes256 = 4,
  kAes256Fips = 5,
  kSha256 = 1,
  kSha256Fips = 2,
  kSha1 = 3,
  kSha1Fips = 4,
  kMd5 = 5,
  kCrc32 = 6,
};

// Error codes a module raises.
enum : std::uint32_t {
  kErrNoMemory = 1,
  kErrProvider = 2,  // configuration refused (parameter: what and why)
  kErrSession = 5,   // TLS session failure (parameter: why)
  kErrUnknownCipher = 21,
  kErrUnknownHasher = 22,
  kErrNoKey = 29,
  kErrInternal = 34,
};

}  // namespace vqvcci

extern "C" {
int VCCIGetVersion(vqvcci::Version* version);
int VCCIGetEnvIface(vqvcci::EnvIface* table);
int VCCIGetErrorIface(vqvcci::ErrorIface* table);
int VCCIGetStreamIface(vqvcci::StreamIface* table);
int VCCIGetStreamConnIface(vqvcci::StreamConnIface* table);
int VCCIGetPasswordHasherIface(vqvcci::PasswordHasherIface* table);
int VCCIGetBlockHasherIface(vqvcci::BlockHasherIface* table);
int VCCIGetBlockEncrypterIface(vqvcci::BlockEncrypterIface* table);
}

#endif  // VQ_PLATFORM_CRYPTO_VQVCCI_H
