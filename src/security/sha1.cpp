// SHA-1: 64-byte blocks, 80 rounds, big-endian words throughout.
#include "security/sha1.h"

#include <cstring>

namespace {

constexpr std::uint32_t kInitialState[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u,
                                            0xC3D2E1F0u};

inline std::uint32_t Rotl(std::uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

inline unsigned char* Bytes(SHA* ctx) { return reinterpret_cast<unsigned char*>(ctx->data); }

void CountBlock(SHA* ctx) {
  if (++ctx->blocks_low == 0) ++ctx->blocks_high;
}

void CompressMessageBlock(SHA* ctx) {
  byteReverse(ctx->data, 64);
  ProcessBlock(ctx);
  CountBlock(ctx);
}

// Overwrites the context with zeros in a way the compiler may not drop.
void Wipe(SHA* ctx) {
  volatile unsigned char* p = reinterpret_cast<volatile unsigned char*>(ctx);
  for (std::size_t i = 0; i < sizeof *ctx; ++i) p[i] = 0;
}

}  // namespace

extern "C" {

int SHAInit(SHA* ctx) { return SHAInit2(ctx, kInitialState); }

int SHAInit2(SHA* ctx, const std::uint32_t state[5]) {
  ctx->pending = 0;
  ctx->blocks_high = 0;
  ctx->blocks_low = 0;
  std::memset(ctx->data, 0, sizeof ctx->data);
  std::memcpy(ctx->state, state, sizeof ctx->state);
  return 0;
}

void byteReverse(std::uint32_t* words, unsigned byte_count) {
  for (unsigned i = 0; i < byte_count / 4; ++i) {
    unsigned char b[4];
    std::memcpy(b, &words[i], 4);
    words[i] = (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) |
               (std::uint32_t{b[2]} << 8) | std::uint32_t{b[3]};
  }
}

void ProcessBlock(SHA* ctx) {
  std::uint32_t w[80];
  std::memcpy(w, ctx->data, sizeof ctx->data);
  for (int i = 16; i < 80; ++i) w[i] = Rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);

  std::uint32_t a = ctx->state[0], b = ctx->state[1], c = ctx->state[2];
  std::uint32_t d = ctx->state[3], e = ctx->state[4];
  for (int i = 0; i < 80; ++i) {
    std::uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999u;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1u;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDCu;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6u;
    }
    const std::uint32_t t = Rotl(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = Rotl(b, 30);
    b = a;
    a = t;
  }
  ctx->state[0] += a;
  ctx->state[1] += b;
  ctx->state[2] += c;
  ctx->state[3] += d;
  ctx->state[4] += e;
}

int SHAUpdate(SHA* ctx, const unsigned char* data, std::size_t length) {
  if (length == 0) return 0;
  // Complete a block left partial by an earlier call before taking whole blocks.
  if (ctx->pending != 0) {
    const std::size_t room = 64 - ctx->pending;
    const std::size_t take = length < room ? length : room;
    std::memcpy(Bytes(ctx) + ctx->pending, data, take);
    ctx->pending += static_cast<std::uint32_t>(take);
    data += take;
    length -= take;
    if (ctx->pending < 64) return 0;
    CompressMessageBlock(ctx);
    ctx->pending = 0;
  }
  for (; length >= 64; length -= 64, data += 64) {
    std::memcpy(ctx->data, data, 64);
    CompressMessageBlock(ctx);
  }
  if (length != 0) {
    std::memcpy(ctx->data, data, length);
    ctx->pending = static_cast<std::uint32_t>(length);
  }
  return 0;
}

int SHAFinal(SHA* ctx) {
  const std::uint32_t p = ctx->pending;
  unsigned char* bytes = Bytes(ctx);
  bytes[p] = 0x80;
  if (p > 55) {
    std::memset(bytes + p + 1, 0, 63 - p);
    byteReverse(ctx->data, 64);
    ProcessBlock(ctx);
    std::memset(bytes, 0, 56);
  } else {
    std::memset(bytes + p + 1, 0, 55 - p);
  }
  byteReverse(ctx->data, 56);

  // The length in bits as one 64-bit number, so that its high word gets the carry of
  // the low one (messages of 512 MiB and more).
  const std::uint64_t blocks = (std::uint64_t{ctx->blocks_high} << 32) | ctx->blocks_low;
  const std::uint64_t bits = (blocks * 64 + p) * 8;
  ctx->data[14] = static_cast<std::uint32_t>(bits >> 32);
  ctx->data[15] = static_cast<std::uint32_t>(bits);
  ProcessBlock(ctx);
  ctx->pending = 0;
  return 0;
}

int SHAFinal2(SHA* ctx, unsigned placed, std::uint32_t length_word) {
  if (placed >= 15) {
    if (placed == 15) ctx->data[15] = 0;
    ProcessBlock(ctx);
    placed = 0;
  }
  std::memset(ctx->data + placed, 0, (15 - placed) * sizeof ctx->data[0]);
  ctx->data[15] = length_word;
  ProcessBlock(ctx);
  return 0;
}

int SHAString(const char* text, std::uint32_t out[5]) {
  return SHABlock(reinterpret_cast<const unsigned char*>(text), std::strlen(text), out);
}

int SHABlock(const unsigned char* data, std::size_t length, std::uint32_t out[5]) {
  SHA ctx;
  SHAInit(&ctx);
  SHAUpdate(&ctx, data, length);
  SHAFinal(&ctx);
  std::memcpy(out, ctx.state, sizeof ctx.state);
  Wipe(&ctx);
  return 0;
}

}  // extern "C"
