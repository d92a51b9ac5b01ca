// SHA-256: 64-byte blocks, 64 rounds, big-endian words throughout.
#include "utils/base/sha256.h"

#include <cstring>

namespace {

constexpr std::uint32_t kRoundConstants[64] = {
    0x428A2F98u, 0x71374491u, 0xB5C0FBCFu, 0xE9B5DBA5u, 0x3956C25Bu, 0x59F111F1u, 0x923F82A4u,
    0xAB1C5ED5u, 0xD807AA98u, 0x12835B01u, 0x243185BEu, 0x550C7DC3u, 0x72BE5D74u, 0x80DEB1FEu,
    0x9BDC06A7u, 0xC19BF174u, 0xE49B69C1u, 0xEFBE4786u, 0x0FC19DC6u, 0x240CA1CCu, 0x2DE92C6Fu,
    0x4A7484AAu, 0x5CB0A9DCu, 0x76F988DAu, 0x983E5152u, 0xA831C66Du, 0xB00327C8u, 0xBF597FC7u,
    0xC6E00BF3u, 0xD5A79147u, 0x06CA6351u, 0x14292967u, 0x27B70A85u, 0x2E1B2138u, 0x4D2C6DFCu,
    0x53380D13u, 0x650A7354u, 0x766A0ABBu, 0x81C2C92Eu, 0x92722C85u, 0xA2BFE8A1u, 0xA81A664Bu,
    0xC24B8B70u, 0xC76C51A3u, 0xD192E819u, 0xD6990624u, 0xF40E3585u, 0x106AA070u, 0x19A4C116u,
    0x1E376C08u, 0x2748774Cu, 0x34B0BCB5u, 0x391C0CB3u, 0x4ED8AA4Au, 0x5B9CCA4Fu, 0x682E6FF3u,
    0x748F82EEu, 0x78A5636Fu, 0x84C87814u, 0x8CC70208u, 0x90BEFFFAu, 0xA4506CEBu, 0xBEF9A3F7u,
    0xC67178F2u,
};

inline std::uint32_t Rotr(std::uint32_t v, int n) { return (v >> n) | (v << (32 - n)); }

inline std::uint32_t LoadBe32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
         (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
}

inline void StoreBe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

void Compress(std::uint32_t state[8], const std::uint8_t block[64]) {
  std::uint32_t w[64];
  for (int i = 0; i < 16; ++i) w[i] = LoadBe32(block + 4 * i);
  for (int i = 16; i < 64; ++i) {
    const std::uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const std::uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }

  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  for (int i = 0; i < 64; ++i) {
    const std::uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) +
                             ((e & f) ^ (~e & g)) + kRoundConstants[i] + w[i];
    const std::uint32_t t2 =
        (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
}

}  // namespace

extern "C" {

int UT_SHA256_Init(UT_SHA256_CTX* ctx) {
  static const std::uint32_t kInitial[8] = {0x6A09E667u, 0xBB67AE85u, 0x3C6EF372u, 0xA54FF53Au,
                                            0x510E527Fu, 0x9B05688Cu, 0x1F83D9ABu, 0x5BE0CD19u};
  ctx->total_bytes = 0;
  ctx->pending = 0;
  std::memset(ctx->block, 0, sizeof ctx->block);
  std::memcpy(ctx->state, kInitial, sizeof kInitial);
  return 1;
}

int UT_SHA256_Update(UT_SHA256_CTX* ctx, const unsigned char* data, unsigned len) {
  if (len == 0) return 1;
  ctx->total_bytes += len;
  if (ctx->pending != 0) {
    const unsigned take = len < 64 - ctx->pending ? len : 64 - ctx->pending;
    std::memcpy(ctx->block + ctx->pending, data, take);
    data += take;
    len -= take;
    ctx->pending += take;
    if (ctx->pending < 64) return 1;
    Compress(ctx->state, ctx->block);
    ctx->pending = 0;
  }
  for (; len >= 64; len -= 64, data += 64) Compress(ctx->state, data);
  if (len != 0) {
    std::memcpy(ctx->block, data, len);
    ctx->pending = len;
  }
  return 1;
}

int UT_SHA256_Final(UT_SHA256_CTX* ctx, unsigned char digest[32]) {
  const std::uint64_t bit_length = ctx->total_bytes << 3;  // mod 2^64, as the standard says
  std::uint32_t fill = ctx->pending;
  ctx->block[fill++] = 0x80;
  if (fill > 56) {
    std::memset(ctx->block + fill, 0, 64 - fill);
    Compress(ctx->state, ctx->block);
    fill = 0;
  }
  std::memset(ctx->block + fill, 0, 56 - fill);
  StoreBe32(ctx->block + 56, static_cast<std::uint32_t>(bit_length >> 32));
  StoreBe32(ctx->block + 60, static_cast<std::uint32_t>(bit_length));
  Compress(ctx->state, ctx->block);
  ctx->pending = 0;

  for (int i = 0; i < 8; ++i) StoreBe32(digest + 4 * i, ctx->state[i]);
  // The state words keep the digest's bytes (byte-swapped words on this platform).
  std::memcpy(ctx->state, digest, 32);
  return 1;
}

int UT_SHA256_Hash(unsigned char digest[32], const unsigned char* data, unsigned len) {
  UT_SHA256_CTX ctx;
  UT_SHA256_Init(&ctx);
  UT_SHA256_Update(&ctx, data, len);
  return UT_SHA256_Final(&ctx, digest);
}

}  // extern "C"
