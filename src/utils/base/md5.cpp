// MD5: 64-byte blocks, four rounds of sixteen steps, little-endian words throughout.
#include "utils/base/md5.h"

#include <cstring>

namespace {

// floor(abs(sin(i + 1)) * 2^32) for i = 0..63, one round per four rows.
// clang-format off
constexpr std::uint32_t kSineTable[64] = {
    0xD76AA478u, 0xE8C7B756u, 0x242070DBu, 0xC1BDCEEEu,
    0xF57C0FAFu, 0x4787C62Au, 0xA8304613u, 0xFD469501u,
    0x698098D8u, 0x8B44F7AFu, 0xFFFF5BB1u, 0x895CD7BEu,
    0x6B901122u, 0xFD987193u, 0xA679438Eu, 0x49B40821u,
    0xF61E2562u, 0xC040B340u, 0x265E5A51u, 0xE9B6C7AAu,
    0xD62F105Du, 0x02441453u, 0xD8A1E681u, 0xE7D3FBC8u,
    0x21E1CDE6u, 0xC33707D6u, 0xF4D50D87u, 0x455A14EDu,
    0xA9E3E905u, 0xFCEFA3F8u, 0x676F02D9u, 0x8D2A4C8Au,
    0xFFFA3942u, 0x8771F681u, 0x6D9D6122u, 0xFDE5380Cu,
    0xA4BEEA44u, 0x4BDECFA9u, 0xF6BB4B60u, 0xBEBFBC70u,
    0x289B7EC6u, 0xEAA127FAu, 0xD4EF3085u, 0x04881D05u,
    0xD9D4D039u, 0xE6DB99E5u, 0x1FA27CF8u, 0xC4AC5665u,
    0xF4292244u, 0x432AFF97u, 0xAB9423A7u, 0xFC93A039u,
    0x655B59C3u, 0x8F0CCC92u, 0xFFEFF47Du, 0x85845DD1u,
    0x6FA87E4Fu, 0xFE2CE6E0u, 0xA3014314u, 0x4E0811A1u,
    0xF7537E82u, 0xBD3AF235u, 0x2AD7D2BBu, 0xEB86D391u,
};
// clang-format on

// Left-rotation amounts: four per round, repeated four times within it.
constexpr int kShifts[4][4] = {
    {7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

inline std::uint32_t Rotl(std::uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

inline std::uint32_t LoadLe32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

inline void StoreLe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

void Compress(std::uint32_t abcd[4], const std::uint8_t block[64]) {
  std::uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = LoadLe32(block + 4 * i);

  std::uint32_t a = abcd[0], b = abcd[1], c = abcd[2], d = abcd[3];
  for (int i = 0; i < 64; ++i) {
    const int round = i / 16;
    std::uint32_t f;
    int k;
    switch (round) {
      case 0:
        f = (b & c) | (~b & d);
        k = i;
        break;
      case 1:
        f = (b & d) | (c & ~d);
        k = (5 * i + 1) % 16;
        break;
      case 2:
        f = b ^ c ^ d;
        k = (3 * i + 5) % 16;
        break;
      default:
        f = c ^ (b | ~d);
        k = (7 * i) % 16;
        break;
    }
    const std::uint32_t sum = a + f + kSineTable[i] + x[k];
    a = d;
    d = c;
    c = b;
    b = b + Rotl(sum, kShifts[round][i % 4]);
  }
  abcd[0] += a;
  abcd[1] += b;
  abcd[2] += c;
  abcd[3] += d;
}

}  // namespace

extern "C" {

void md5_init(md5_state_t* state) {
  state->count[0] = state->count[1] = 0;
  state->abcd[0] = 0x67452301u;
  state->abcd[1] = 0xEFCDAB89u;
  state->abcd[2] = 0x98BADCFEu;
  state->abcd[3] = 0x10325476u;
  std::memset(state->buf, 0, sizeof state->buf);
}

void md5_append(md5_state_t* state, const unsigned char* data, int len) {
  if (len <= 0) return;
  std::size_t left = static_cast<std::size_t>(len);
  std::size_t fill = (state->count[0] >> 3) & 63u;  // bytes already in buf

  const std::uint32_t bits_low = static_cast<std::uint32_t>(left << 3);
  state->count[1] += static_cast<std::uint32_t>(left >> 29);
  state->count[0] += bits_low;
  if (state->count[0] < bits_low) ++state->count[1];

  if (fill != 0) {
    const std::size_t take = left < 64 - fill ? left : 64 - fill;
    std::memcpy(state->buf + fill, data, take);
    data += take;
    left -= take;
    fill += take;
    if (fill < 64) return;
    Compress(state->abcd, state->buf);
  }
  for (; left >= 64; left -= 64, data += 64) Compress(state->abcd, data);
  if (left != 0) std::memcpy(state->buf, data, left);
}

void md5_finish(md5_state_t* state, unsigned char digest[16]) {
  std::uint8_t length_bytes[8];
  StoreLe32(length_bytes, state->count[0]);
  StoreLe32(length_bytes + 4, state->count[1]);

  // 0x80, then zeros up to 56 bytes modulo 64, then the bit count taken before padding.
  static const unsigned char kPadding[64] = {0x80};
  const std::uint32_t fill = (state->count[0] >> 3) & 63u;
  const int pad = static_cast<int>(fill < 56 ? 56 - fill : 120 - fill);
  md5_append(state, kPadding, pad);
  md5_append(state, length_bytes, 8);

  for (int i = 0; i < 4; ++i) StoreLe32(digest + 4 * i, state->abcd[i]);
}

}  // extern "C"
