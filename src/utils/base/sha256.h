// SHA-256 message digest (FIPS 180-2), incremental over a caller-owned context.
//
// A partial block is kept in the context between UT_SHA256_Update calls, so input may
// arrive in chunks of any size. The byte count is 64 bits wide: inputs of 512 MiB and
// more (whose bit length needs more than 32 bits) get the standard digest. Nothing
// allocates. UT_SHA256_Final leaves the digest bytes in the state words, so a finished
// context must be started again with UT_SHA256_Init before reuse.
#ifndef VQ_UTILS_BASE_SHA256_H
#define VQ_UTILS_BASE_SHA256_H

#include <cstdint>

extern "C" {

struct UT_SHA256_CTX {
  std::uint64_t total_bytes;  // bytes hashed so far, pending ones included
  std::uint32_t pending;      // bytes waiting in block, 0..63
  std::uint8_t block[64];     // the block being filled
  std::uint32_t state[8];     // chaining state H0..H7
};

// Each returns 1.
int UT_SHA256_Init(UT_SHA256_CTX* ctx);
int UT_SHA256_Update(UT_SHA256_CTX* ctx, const unsigned char* data, unsigned len);
int UT_SHA256_Final(UT_SHA256_CTX* ctx, unsigned char digest[32]);
// One-shot digest of `len` bytes over a local context.
int UT_SHA256_Hash(unsigned char digest[32], const unsigned char* data, unsigned len);

}  // extern "C"

#endif  // VQ_UTILS_BASE_SHA256_H
