// MD5 message digest (RFC 1321), incremental over a caller-owned context.
//
// md5_init starts a digest, md5_append adds bytes in chunks of any size (a partial
// block is kept in the context between calls), md5_finish pads, hashes the bit count
// and writes the 16-byte digest. Nothing allocates. A finished context must be started
// again with md5_init before reuse.
#ifndef VQ_UTILS_BASE_MD5_H
#define VQ_UTILS_BASE_MD5_H

#include <cstdint>

extern "C" {

struct md5_state_t {
  std::uint32_t count[2];  // message length in bits, mod 2^64; low word first
  std::uint32_t abcd[4];   // chaining state A, B, C, D
  std::uint8_t buf[64];    // bytes of the block being filled
};
static_assert(sizeof(md5_state_t) == 88,
              "MD5 context: two count words, four state words, one block");

void md5_init(md5_state_t* state);
// Adds `len` bytes; a count of 0 or less leaves the context unchanged.
void md5_append(md5_state_t* state, const unsigned char* data, int len);
void md5_finish(md5_state_t* state, unsigned char digest[16]);

}  // extern "C"

#endif  // VQ_UTILS_BASE_MD5_H
