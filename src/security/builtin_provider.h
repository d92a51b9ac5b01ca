// The crypto provider compiled into the library (slot 0 of every crypto environment):
// AES-128 and AES-256 in CBC mode with its own key derivation, block hashing with
// SHA-256, SHA-1, MD5 and CRC-32, and password hashing with SHA-256. It has no TLS: its
// stream and stream-connection tables stay empty.
//
// It fills the same tables a module does and reaches the host only through the host
// callbacks: every allocation and release goes through the host's allocate and release
// slots (the C library's when the host offers neither). The getters are not exported
// from the library; a module built from these sources can export them under the plain
// entry names.
#ifndef VQ_SECURITY_BUILTIN_PROVIDER_H
#define VQ_SECURITY_BUILTIN_PROVIDER_H

#include "security/vcci_interface.h"

namespace vq::vcci_builtin {

// Each fills its table and returns 0.
int VCCIGetEnvIface(a_vcci_env_iface* table);
int VCCIGetErrorIface(a_vcci_error_iface* table);
int VCCIGetPasswordHasherIface(a_vcci_password_hasher_iface* table);
int VCCIGetBlockHasherIface(a_vcci_block_hasher_iface* table);
int VCCIGetBlockEncrypterIface(a_vcci_block_encrypter_iface* table);

// Environment. Create clears `err`; FIPS mode when the option "FIPS" equals "YES".
void* VCCIEnvironment_Create(const a_vcci_callbacks* callbacks, void* context,
                             _a_vcci_user_option* options, const char* app_name,
                             a_vcci_error* err);
void VCCIEnvironment_Destroy(void* env);
// Whether the environment runs in FIPS mode (false for null).
bool VCCIEnvironment_IsFIPS(const void* env);
unsigned VCCI_IsBlockEncrypterAlgorithmSupported(void* env, const char* name);
unsigned VCCI_IsBlockEncrypterAlgorithmIDSupported(void* env, unsigned char number);
// SHA-1 and SHA-256 only: MD5 and CRC-32 can be created but are not reported.
unsigned VCCI_IsBlockHasherAlgorithmSupported(void* env, const char* name);
unsigned VCCI_IsBlockHasherAlgorithmIDSupported(void* env, unsigned char number);
unsigned VCCI_IsPasswordHasherAlgorithmSupported(void* env, const char* name);
unsigned VCCI_IsPasswordHasherAlgorithmIDSupported(void* env, unsigned char number);

// Releases the record's parameters (allocated through this environment's host).
void VCCIError_Destroy(void* env, a_vcci_error* err);

// Block encrypter: 2 AES-128, 4 AES-256. A null name is AES-128; an unknown name or
// number is code 21, a null key code 29, a refused key code 7, no memory code 1.
// Encrypt and Decrypt work in place with the initialisation word stored four times,
// little-endian, as the vector; the length must be a positive multiple of 16, else
// code 34 and result 1 with the buffer untouched.
void* VCCIBlockEncrypter_Create(void* env, const char* name, const unsigned char* key,
                                unsigned key_length, _a_vcci_user_option* options,
                                a_vcci_error* err);
void* VCCIBlockEncrypter_CreateWithID(void* env, unsigned char number, const unsigned char* key,
                                      unsigned key_length, _a_vcci_user_option* options,
                                      a_vcci_error* err);
unsigned VCCIBlockEncrypter_GetAlgorithmID(void* encrypter);
unsigned VCCIBlockEncrypter_Encrypt(void* encrypter, unsigned char* buffer, unsigned length,
                                    std::uint32_t iv_word);
unsigned VCCIBlockEncrypter_Decrypt(void* encrypter, unsigned char* buffer, unsigned length,
                                    std::uint32_t iv_word);
unsigned VCCIBlockEncrypter_GetBlockSize(void* encrypter);
const a_vcci_error* VCCIBlockEncrypter_GetLastError(void* encrypter);
void VCCIBlockEncrypter_Destroy(void* encrypter);

// Block hasher: 1 SHA-256, 3 SHA-1, 5 MD5 (also for a null name), 6 CRC-32; anything
// else is code 22. EndHash into fewer bytes than the maximum hash size is code 34 and
// result 1 with nothing written. Digests are written most significant byte first.
void* VCCIBlockHasher_Create(void* env, const char* name, a_vcci_error* err);
void* VCCIBlockHasher_CreateWithID(void* env, unsigned char number, a_vcci_error* err);
unsigned VCCIBlockHasher_GetAlgorithmID(void* hasher);
unsigned VCCIBlockHasher_GetMaxHashSize(void* hasher);
unsigned VCCIBlockHasher_GetBlockSize(void* hasher);
unsigned VCCIBlockHasher_BeginHash(void* hasher);
unsigned VCCIBlockHasher_AddData(void* hasher, const unsigned char* data, unsigned length);
unsigned VCCIBlockHasher_EndHash(void* hasher, unsigned char* out, unsigned size);
const a_vcci_error* VCCIBlockHasher_GetLastError(void* hasher);
void VCCIBlockHasher_Destroy(void* hasher);

// Password hasher: SHA-256 only (number 1). Hash answers 1 without setting an error
// when the output size is not exactly 32.
void* VCCIPasswordHasher_Create(void* env, a_vcci_error* err);
void* VCCIPasswordHasher_CreateWithID(void* env, unsigned char number, a_vcci_error* err);
unsigned VCCIPasswordHasher_GetAlgorithmID(void* hasher);
unsigned VCCIPasswordHasher_GetMaxHashSize(void* hasher);
unsigned VCCIPasswordHasher_Hash(void* hasher, const unsigned char* in, unsigned length,
                                 unsigned char* out, unsigned size);
const a_vcci_error* VCCIPasswordHasher_GetLastError(void* hasher);
void VCCIPasswordHasher_Destroy(void* hasher);

}  // namespace vq::vcci_builtin

#endif  // VQ_SECURITY_BUILTIN_PROVIDER_H
