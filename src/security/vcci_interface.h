// The binary interface between the host and a crypto provider: the host services a
// provider may call, the option list and error record handed across, the seven function
// tables in their fixed slot order, and the entry points a provider module exports.
//
// Both sides include this header: the host (the crypto environment) and every provider,
// the built-in one and the modules loaded at run time. Everything here is plain C data:
// tables of function pointers and records of fixed-width numbers and pointers. Values
// that carry a pointer, a handle or a thread identity are pointer-sized. A null slot in
// a table means the provider does not offer that operation.
#ifndef VQ_SECURITY_VCCI_INTERFACE_H
#define VQ_SECURITY_VCCI_INTERFACE_H

#include <cstddef>
#include <cstdint>

extern "C" {

// ---- records handed across -------------------------------------------------------

// One option of a singly linked list. The creator of the list owns the texts; a
// provider sets `used` to 1 for every option it takes.
struct _a_vcci_user_option {
  char* name;
  char* value;
  std::uint8_t used;
  _a_vcci_user_option* next;
};

// A provider's error record. The parameter array and its strings are allocated by
// whoever filled the record (a provider: through the host's allocate slot) and released
// through the same provider's error table.
struct a_vcci_error {
  std::uint32_t code;      // 0 no error; see vcci_error.h for the codes
  std::uint32_t sub_code;  // provider-defined detail
  char** parms;            // null, or texts ended by a null entry
};

// The interface version, four 16-bit components.
struct a_vcci_version {
  std::uint16_t major;
  std::uint16_t minor;
  std::uint16_t release;
  std::uint16_t build;
};
static_assert(sizeof(a_vcci_version) == 8, "four 16-bit components");

// The host's own version and the built-in provider's.
constexpr a_vcci_version kVCCIHostVersion = {1, 5, 0, 1};

enum a_vcci_side : std::uint32_t { VCCI_SIDE_CLIENT = 0, VCCI_SIDE_SERVER = 1 };

// Log levels with the top bit set are a provider's internal logs.
constexpr std::uint32_t kVCCIInternalLog = 0x80000000u;

// ---- host services ---------------------------------------------------------------

// What the host offers a provider; every slot takes the host context first and any slot
// may be null (a null mutex slot means no locking).
struct a_vcci_callbacks {
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
static_assert(sizeof(a_vcci_callbacks) == 10 * sizeof(void*), "ten host slots");

// Given to a stream's Create: one log slot.
struct a_vcci_stream_callbacks {
  int (*log)(void* ctx, std::uint32_t level, const char* text, const void* data,
             unsigned length);
};
static_assert(sizeof(a_vcci_stream_callbacks) == sizeof(void*), "one slot");

// Given to a stream connection's Create. Read and write answer 0 done, 1 error,
// 2 would block; a read delivers the whole request or nothing.
struct a_vcci_conn_callbacks {
  int (*read)(void* ctx, unsigned char* buffer, unsigned length, unsigned* count);
  int (*write)(void* ctx, const unsigned char* bytes, unsigned length);
  int (*log)(void* ctx, std::uint32_t level, const char* text, const void* data,
             unsigned length);
  void* spare;
};
static_assert(sizeof(a_vcci_conn_callbacks) == 4 * sizeof(void*), "four slots");

// ---- function tables, in slot order ----------------------------------------------
// Queries answer in their low byte, non-zero meaning yes.

struct a_vcci_env_iface {
  void* (*Create)(const a_vcci_callbacks* callbacks, void* ctx, _a_vcci_user_option* options,
                  const char* app_name, a_vcci_error* err);
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
static_assert(sizeof(a_vcci_env_iface) == 10 * sizeof(void*), "environment table");

struct a_vcci_error_iface {
  void (*Destroy)(void* env, a_vcci_error* err);  // releases the parameter strings
};
static_assert(sizeof(a_vcci_error_iface) == sizeof(void*), "error table");

// Read and Write of a stream connection answer 0 done, 2 would block, 3 closed, any
// other value an error described by GetLastError.
struct a_vcci_stream_iface {
  void* (*Create)(void* env, const a_vcci_stream_callbacks* callbacks, void* ctx,
                  const char* name, a_vcci_error* err);
  void* (*CreateWithID)(void* env, const a_vcci_stream_callbacks* callbacks, void* ctx,
                        unsigned char number, a_vcci_error* err);
  unsigned (*Init)(void* stream, a_vcci_side side, _a_vcci_user_option* options);
  unsigned (*GetAlgorithmID)(void* stream);
  unsigned (*Fini)(void* stream);
  const a_vcci_error* (*GetLastError)(void* stream);
  void (*Destroy)(void* stream);
  void* unused;  // never called
};
static_assert(sizeof(a_vcci_stream_iface) == 8 * sizeof(void*), "stream table");

struct a_vcci_stream_conn_iface {
  void* (*Create)(void* stream, const a_vcci_conn_callbacks* callbacks, void* ctx,
                  _a_vcci_user_option* options, a_vcci_error* err);
  unsigned (*Read)(void* conn, unsigned char* buffer, unsigned length, unsigned* count);
  unsigned (*Write)(void* conn, const unsigned char* bytes, unsigned length);
  unsigned (*FlushWrites)(void* conn);
  const a_vcci_error* (*GetLastError)(void* conn);
  void (*Destroy)(void* conn);
};
static_assert(sizeof(a_vcci_stream_conn_iface) == 6 * sizeof(void*), "connection table");

struct a_vcci_password_hasher_iface {
  void* (*Create)(void* env, a_vcci_error* err);
  void* (*CreateWithID)(void* env, unsigned char number, a_vcci_error* err);
  unsigned (*GetAlgorithmID)(void* hasher);
  unsigned (*GetMaxHashSize)(void* hasher);
  unsigned (*Hash)(void* hasher, const unsigned char* in, unsigned length, unsigned char* out,
                   unsigned size);  // 0 on success
  const a_vcci_error* (*GetLastError)(void* hasher);
  void (*Destroy)(void* hasher);
};
static_assert(sizeof(a_vcci_password_hasher_iface) == 7 * sizeof(void*),
              "password-hasher table");

struct a_vcci_block_hasher_iface {
  void* (*Create)(void* env, const char* name, a_vcci_error* err);
  void* (*CreateWithID)(void* env, unsigned char number, a_vcci_error* err);
  unsigned (*GetAlgorithmID)(void* hasher);
  unsigned (*GetMaxHashSize)(void* hasher);
  unsigned (*GetBlockSize)(void* hasher);
  unsigned (*BeginHash)(void* hasher);
  unsigned (*AddData)(void* hasher, const unsigned char* data, unsigned length);
  unsigned (*EndHash)(void* hasher, unsigned char* out, unsigned size);
  const a_vcci_error* (*GetLastError)(void* hasher);
  void (*Destroy)(void* hasher);
};
static_assert(sizeof(a_vcci_block_hasher_iface) == 10 * sizeof(void*), "block-hasher table");

// Encrypt and Decrypt work in place, with the 32-bit initialisation word.
struct a_vcci_block_encrypter_iface {
  void* (*Create)(void* env, const char* name, const unsigned char* key, unsigned key_length,
                  _a_vcci_user_option* options, a_vcci_error* err);
  void* (*CreateWithID)(void* env, unsigned char number, const unsigned char* key,
                        unsigned key_length, _a_vcci_user_option* options, a_vcci_error* err);
  unsigned (*GetAlgorithmID)(void* encrypter);
  unsigned (*Encrypt)(void* encrypter, unsigned char* buffer, unsigned length,
                      std::uint32_t iv_word);
  unsigned (*Decrypt)(void* encrypter, unsigned char* buffer, unsigned length,
                      std::uint32_t iv_word);
  unsigned (*GetBlockSize)(void* encrypter);
  const a_vcci_error* (*GetLastError)(void* encrypter);
  void (*Destroy)(void* encrypter);
};
static_assert(sizeof(a_vcci_block_encrypter_iface) == 8 * sizeof(void*),
              "block-encrypter table");

// ---- module entry points ---------------------------------------------------------
// A module exports these with plain names. Each getter fills the table it is given and
// returns 0 for success. VCCIGetVersion's result is ignored.

typedef int (*VCCIGetVersionFn)(a_vcci_version* version);
typedef int (*VCCIGetEnvIfaceFn)(a_vcci_env_iface* table);
typedef int (*VCCIGetErrorIfaceFn)(a_vcci_error_iface* table);
typedef int (*VCCIGetStreamIfaceFn)(a_vcci_stream_iface* table);
typedef int (*VCCIGetStreamConnIfaceFn)(a_vcci_stream_conn_iface* table);
typedef int (*VCCIGetPasswordHasherIfaceFn)(a_vcci_password_hasher_iface* table);
typedef int (*VCCIGetBlockHasherIfaceFn)(a_vcci_block_hasher_iface* table);
typedef int (*VCCIGetBlockEncrypterIfaceFn)(a_vcci_block_encrypter_iface* table);

// ---- algorithm numbers and names -------------------------------------------------

enum : unsigned char {
  // streams (the same numbers as the TLS encryption levels)
  kVCCIStreamEccTls = 2,
  kVCCIStreamRsaTls = 3,
  kVCCIStreamRsaTlsFips = 4,
  // block encrypters
  kVCCIAes128 = 2,
  kVCCIAes128Fips = 3,
  kVCCIAes256 = 4,
  kVCCIAes256Fips = 5,
  // block and password hashers
  kVCCISha256 = 1,
  kVCCISha256Fips = 2,
  kVCCISha1 = 3,
  kVCCISha1Fips = 4,
  kVCCIMd5 = 5,
  kVCCICrc32 = 6,
  kVCCIEndOfTable = 255,
};

// Name lists, each ended by a null entry; names compare without regard to case.
extern const char* const RSA_TLS_names[];
extern const char* const ECC_TLS_names[];
extern const char* const RSA_TLS_FIPS_names[];
extern const char* const AES_128_names[];
extern const char* const AES_256_names[];
extern const char* const AES_128_FIPS_names[];
extern const char* const AES_256_FIPS_names[];
extern const char* const SHA256_names[];
extern const char* const SHA1_names[];
extern const char* const MD5_names[];
extern const char* const CRC32_names[];
extern const char* const SHA256_FIPS_names[];
extern const char* const SHA1_FIPS_names[];

// One row of an algorithm table: the number, its names and the provider slot that
// serves it. A table ends with a row whose number is kVCCIEndOfTable.
struct a_vcci_algorithm {
  unsigned char number;
  const char* const* names;
  std::uint32_t slot;
};

extern const a_vcci_algorithm VCCIStreamAlgorithms[];
extern const a_vcci_algorithm VCCIBlockEncrypterAlgorithms[];
extern const a_vcci_algorithm VCCIHasherAlgorithms[];  // block and password hashers

// True when `name` equals an entry of `list` without regard to case; false for a null
// name, a null list or an empty one.
bool VCCINameInList(const char* name, const char* const* list);

}  // extern "C"

#endif  // VQ_SECURITY_VCCI_INTERFACE_H
