// The keyed word scrambler of the "simple" encryption level.
//
// A buffer of `length` bytes is taken as (length + 1) / 2 little-endian 16-bit words,
// the last one a half word (its low byte only) when the length is odd. The scrambler
// walks the words with stride step mod n, starting and ending at word 0, and runs a
// 16-bit chain seeded by the low 16 bits of `key` through them; descrambling walks the
// same cycle backwards. Both ends derive key and step from data they share, so nothing
// is exchanged. Nothing outside the buffer is read or written. Buffers of fewer than two
// bytes are left as they are: they cannot hold the chain's final 16-bit value.
#ifndef VQ_SECURITY_WORD_SCRAMBLER_H
#define VQ_SECURITY_WORD_SCRAMBLER_H

#include <cstdint>

extern "C" {

// The first value counting up from `seed` (wrapping at 2^32) that is coprime with the
// buffer's word count, so that the walk visits every word once. For an empty buffer,
// the seed itself.
std::uint32_t makekey(std::uint32_t seed, std::uint16_t length);

// Scrambles, and restores, `length` bytes in place. yach_decrypt undoes yach_encrypt
// called with the same key, step and length, for any step. With a step that shares a
// factor with the word count, only the words on the cycle through word 0 change.
void yach_encrypt(std::uint32_t key, std::uint32_t step, std::uint16_t length,
                  unsigned char* buffer);
void yach_decrypt(std::uint32_t key, std::uint32_t step, std::uint16_t length,
                  unsigned char* buffer);

}  // extern "C"

#endif  // VQ_SECURITY_WORD_SCRAMBLER_H
