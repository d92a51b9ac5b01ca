// The keyed word scrambler of the "simple" encryption level, and its use on whole
// packets. The buffer is a run of little-endian 16-bit words (the last one a half
// word when the length is odd) visited with a stride coprime to the word count.
#pragma once

#include <cstdint>

namespace vqeng {

// The smallest value counting up from seed (wrapping at 32 bits) that is coprime
// with the number of words of a buffer of `length` bytes.
std::uint32_t makekey(std::uint32_t seed, std::uint16_t length);

// Scramble / restore `length` bytes in place. `step` must come from makekey for the
// same length and `length` must be at least 3; the byte after the buffer is never
// touched.
void yach_encrypt(std::uint32_t key, std::uint32_t step, std::uint16_t length,
                  std::uint8_t* buf);
void yach_decrypt(std::uint32_t key, std::uint32_t step, std::uint16_t length,
                  std::uint8_t* buf);

// Scramble / descramble one whole packet in place. The header is left as it is
// (its status byte, bit 0x20 included, feeds the key); bodies of 2 bytes or fewer
// are not changed. `packet_len` is the number of bytes available at `packet`;
// returns false when the header's length is below the header size or above
// packet_len, in which case nothing is changed.
bool scramble_packet(std::uint8_t* packet, std::uint32_t packet_len);
bool descramble_packet(std::uint8_t* packet, std::uint32_t packet_len);

}  // namespace vqeng
