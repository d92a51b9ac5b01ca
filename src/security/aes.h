// AES block cipher (FIPS-197) with 128-, 192- and 256-bit keys, and CBC mode in place.
//
// The key context holds the expanded round keys for both directions; it lives inside
// its owner (the built-in provider's block encrypter) and holds no other resources.
// CBC works on the whole 16-byte blocks at the start of a buffer and leaves any bytes
// after the last whole block as they are; a buffer shorter than one block is not
// touched. Callers that want every byte enciphered pass a multiple of 16.
#ifndef VQ_SECURITY_AES_H
#define VQ_SECURITY_AES_H

#include <cstddef>
#include <cstdint>

extern "C" {

constexpr int kQuilAESBlockBytes = 16;
constexpr int kQuilAESMaxRounds = 14;

struct QuilAES_Context {
  std::int32_t rounds;  // 10, 12 or 14
  std::uint32_t
      enc_keys[4 * (kQuilAESMaxRounds + 1)];  // encryption round keys, big-endian words
  std::uint32_t dec_keys[4 * (kQuilAESMaxRounds + 1)];  // decryption round keys, in use order
};

// Expands a key of 128, 192 or 256 bits (rounds = bits / 32 + 6). Non-zero on success;
// 0 for any other length or a null argument, with the context unchanged.
int QuilAES_KeyInit(QuilAES_Context* ctx, const unsigned char* key, unsigned key_bits);
// Does nothing: the context holds no resources; its owner releases it.
void QuilAES_KeyFini(QuilAES_Context* ctx);

// One block; `in` and `out` may be the same buffer. Return non-zero.
int QuilAES_EncryptBlock(const QuilAES_Context* ctx, const unsigned char in[16],
                         unsigned char out[16]);
int QuilAES_DecryptBlock(const QuilAES_Context* ctx, const unsigned char in[16],
                         unsigned char out[16]);

// CBC over the length / 16 whole blocks at the start of `buffer`, in place. The
// initialisation vector is only read. For the same context, vector and length,
// QuilAES_DecryptCBC undoes QuilAES_EncryptCBC. Return 1.
int QuilAES_EncryptCBC(const QuilAES_Context* ctx, const unsigned char iv[16],
                       unsigned char* buffer, std::size_t length);
int QuilAES_DecryptCBC(const QuilAES_Context* ctx, const unsigned char iv[16],
                       unsigned char* buffer, std::size_t length);

}  // extern "C"

#endif  // VQ_SECURITY_AES_H
