// Table-driven AES: the S-box, its inverse and the four encryption and four decryption
// round tables are computed at compile time from the field arithmetic of GF(2^8), so no
// table is typed in by hand. State words are big-endian column words.
#include "security/aes.h"

#include <array>
#include <cstring>

namespace {

constexpr std::uint8_t XTime(std::uint8_t x) {
  return static_cast<std::uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1B : 0x00));
}

constexpr std::uint8_t Mul(std::uint8_t a, std::uint8_t b) {
  std::uint8_t product = 0;
  while (b != 0) {
    if (b & 1) product ^= a;
    a = XTime(a);
    b >>= 1;
  }
  return product;
}

constexpr std::uint8_t Rotl8(std::uint8_t x, int n) {
  return static_cast<std::uint8_t>((x << n) | (x >> (8 - n)));
}

// Walks the multiplicative group with generator 3 and its inverse 1/3 (0xF6) in step,
// so q is always the inverse of p; the affine transform of q gives S[p].
constexpr std::array<std::uint8_t, 256> MakeSBox() {
  std::array<std::uint8_t, 256> s{};
  std::uint8_t p = 1, q = 1;
  do {
    p = static_cast<std::uint8_t>(p ^ XTime(p));  // p * 3
    q = Mul(q, 0xF6);                             // q / 3
    s[p] = static_cast<std::uint8_t>(q ^ Rotl8(q, 1) ^ Rotl8(q, 2) ^ Rotl8(q, 3) ^ Rotl8(q, 4) ^
                                     0x63);
  } while (p != 1);
  s[0] = 0x63;
  return s;
}

constexpr std::array<std::uint8_t, 256> kSBox = MakeSBox();

constexpr std::array<std::uint8_t, 256> MakeInvSBox() {
  std::array<std::uint8_t, 256> inv{};
  for (int i = 0; i < 256; ++i) inv[kSBox[i]] = static_cast<std::uint8_t>(i);
  return inv;
}

constexpr std::array<std::uint8_t, 256> kInvSBox = MakeInvSBox();

static_assert(kSBox[0x00] == 0x63 && kSBox[0x01] == 0x7C && kSBox[0x53] == 0xED &&
                  kSBox[0xFF] == 0x16,
              "the FIPS-197 S-box");

constexpr std::uint32_t Word(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2,
                             std::uint8_t b3) {
  return (std::uint32_t{b0} << 24) | (std::uint32_t{b1} << 16) | (std::uint32_t{b2} << 8) |
         std::uint32_t{b3};
}

constexpr std::uint32_t Rotr32(std::uint32_t v, int n) {
  return n == 0 ? v : (v >> n) | (v << (32 - n));
}

using Table = std::array<std::uint32_t, 256>;

// Round table 0 combines SubBytes and the first column of MixColumns; tables 1..3 are
// its byte rotations.
constexpr Table MakeEncTable(int rotation) {
  Table t{};
  for (int i = 0; i < 256; ++i) {
    const std::uint8_t s = kSBox[i];
    t[i] = Rotr32(Word(Mul(s, 2), s, s, Mul(s, 3)), 8 * rotation);
  }
  return t;
}

constexpr Table MakeDecTable(int rotation) {
  Table t{};
  for (int i = 0; i < 256; ++i) {
    const std::uint8_t s = kInvSBox[i];
    t[i] = Rotr32(Word(Mul(s, 14), Mul(s, 9), Mul(s, 13), Mul(s, 11)), 8 * rotation);
  }
  return t;
}

constexpr Table kTe0 = MakeEncTable(0), kTe1 = MakeEncTable(1), kTe2 = MakeEncTable(2),
                kTe3 = MakeEncTable(3);
constexpr Table kTd0 = MakeDecTable(0), kTd1 = MakeDecTable(1), kTd2 = MakeDecTable(2),
                kTd3 = MakeDecTable(3);

constexpr std::uint32_t kRoundConstants[10] = {
    0x01000000u, 0x02000000u, 0x04000000u, 0x08000000u, 0x10000000u,
    0x20000000u, 0x40000000u, 0x80000000u, 0x1B000000u, 0x36000000u};

inline std::uint32_t LoadBe32(const unsigned char* p) { return Word(p[0], p[1], p[2], p[3]); }

inline void StoreBe32(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

inline std::uint8_t Byte(std::uint32_t v, int index) {  // index 0 = most significant
  return static_cast<std::uint8_t>(v >> (24 - 8 * index));
}

std::uint32_t SubWord(std::uint32_t w) {
  return Word(kSBox[Byte(w, 0)], kSBox[Byte(w, 1)], kSBox[Byte(w, 2)], kSBox[Byte(w, 3)]);
}

// InvMixColumns of one round-key word: the decryption tables include the inverse
// S-box, so the S-box is applied first to cancel it.
std::uint32_t InvMixWord(std::uint32_t w) {
  return kTd0[kSBox[Byte(w, 0)]] ^ kTd1[kSBox[Byte(w, 1)]] ^ kTd2[kSBox[Byte(w, 2)]] ^
         kTd3[kSBox[Byte(w, 3)]];
}

void XorBlock(unsigned char* dst, const unsigned char* src) {
  for (int i = 0; i < kQuilAESBlockBytes; ++i) dst[i] ^= src[i];
}

}  // namespace

extern "C" {

int QuilAES_KeyInit(QuilAES_Context* ctx, const unsigned char* key, unsigned key_bits) {
  if (ctx == nullptr || key == nullptr) return 0;
  if (key_bits != 128 && key_bits != 192 && key_bits != 256) return 0;
  const int nk = static_cast<int>(key_bits / 32);
  const int rounds = nk + 6;
  const int total = 4 * (rounds + 1);

  std::uint32_t* w = ctx->enc_keys;
  for (int i = 0; i < nk; ++i) w[i] = LoadBe32(key + 4 * i);
  for (int i = nk; i < total; ++i) {
    std::uint32_t temp = w[i - 1];
    if (i % nk == 0) {
      temp = SubWord(Rotr32(temp, 24)) ^ kRoundConstants[i / nk - 1];
    } else if (nk > 6 && i % nk == 4) {
      temp = SubWord(temp);
    }
    w[i] = w[i - nk] ^ temp;
  }

  // The equivalent inverse cipher: round keys in reverse order, the inner ones passed
  // through InvMixColumns.
  std::uint32_t* d = ctx->dec_keys;
  for (int r = 0; r <= rounds; ++r) {
    for (int c = 0; c < 4; ++c) {
      const std::uint32_t k = w[4 * (rounds - r) + c];
      d[4 * r + c] = (r == 0 || r == rounds) ? k : InvMixWord(k);
    }
  }
  ctx->rounds = rounds;
  return 1;
}

void QuilAES_KeyFini(QuilAES_Context*) {}

int QuilAES_EncryptBlock(const QuilAES_Context* ctx, const unsigned char in[16],
                         unsigned char out[16]) {
  const std::uint32_t* rk = ctx->enc_keys;
  std::uint32_t s0 = LoadBe32(in) ^ rk[0];
  std::uint32_t s1 = LoadBe32(in + 4) ^ rk[1];
  std::uint32_t s2 = LoadBe32(in + 8) ^ rk[2];
  std::uint32_t s3 = LoadBe32(in + 12) ^ rk[3];
  for (int r = 1; r < ctx->rounds; ++r) {
    rk += 4;
    const std::uint32_t t0 =
        kTe0[Byte(s0, 0)] ^ kTe1[Byte(s1, 1)] ^ kTe2[Byte(s2, 2)] ^ kTe3[Byte(s3, 3)] ^ rk[0];
    const std::uint32_t t1 =
        kTe0[Byte(s1, 0)] ^ kTe1[Byte(s2, 1)] ^ kTe2[Byte(s3, 2)] ^ kTe3[Byte(s0, 3)] ^ rk[1];
    const std::uint32_t t2 =
        kTe0[Byte(s2, 0)] ^ kTe1[Byte(s3, 1)] ^ kTe2[Byte(s0, 2)] ^ kTe3[Byte(s1, 3)] ^ rk[2];
    const std::uint32_t t3 =
        kTe0[Byte(s3, 0)] ^ kTe1[Byte(s0, 1)] ^ kTe2[Byte(s1, 2)] ^ kTe3[Byte(s2, 3)] ^ rk[3];
    s0 = t0, s1 = t1, s2 = t2, s3 = t3;
  }
  rk += 4;
  StoreBe32(out, Word(kSBox[Byte(s0, 0)], kSBox[Byte(s1, 1)], kSBox[Byte(s2, 2)],
                      kSBox[Byte(s3, 3)]) ^
                     rk[0]);
  StoreBe32(out + 4, Word(kSBox[Byte(s1, 0)], kSBox[Byte(s2, 1)], kSBox[Byte(s3, 2)],
                          kSBox[Byte(s0, 3)]) ^
                         rk[1]);
  StoreBe32(out + 8, Word(kSBox[Byte(s2, 0)], kSBox[Byte(s3, 1)], kSBox[Byte(s0, 2)],
                          kSBox[Byte(s1, 3)]) ^
                         rk[2]);
  StoreBe32(out + 12, Word(kSBox[Byte(s3, 0)], kSBox[Byte(s0, 1)], kSBox[Byte(s1, 2)],
                           kSBox[Byte(s2, 3)]) ^
                          rk[3]);
  return 1;
}

int QuilAES_DecryptBlock(const QuilAES_Context* ctx, const unsigned char in[16],
                         unsigned char out[16]) {
  const std::uint32_t* rk = ctx->dec_keys;
  std::uint32_t s0 = LoadBe32(in) ^ rk[0];
  std::uint32_t s1 = LoadBe32(in + 4) ^ rk[1];
  std::uint32_t s2 = LoadBe32(in + 8) ^ rk[2];
  std::uint32_t s3 = LoadBe32(in + 12) ^ rk[3];
  for (int r = 1; r < ctx->rounds; ++r) {
    rk += 4;
    const std::uint32_t t0 =
        kTd0[Byte(s0, 0)] ^ kTd1[Byte(s3, 1)] ^ kTd2[Byte(s2, 2)] ^ kTd3[Byte(s1, 3)] ^ rk[0];
    const std::uint32_t t1 =
        kTd0[Byte(s1, 0)] ^ kTd1[Byte(s0, 1)] ^ kTd2[Byte(s3, 2)] ^ kTd3[Byte(s2, 3)] ^ rk[1];
    const std::uint32_t t2 =
        kTd0[Byte(s2, 0)] ^ kTd1[Byte(s1, 1)] ^ kTd2[Byte(s0, 2)] ^ kTd3[Byte(s3, 3)] ^ rk[2];
    const std::uint32_t t3 =
        kTd0[Byte(s3, 0)] ^ kTd1[Byte(s2, 1)] ^ kTd2[Byte(s1, 2)] ^ kTd3[Byte(s0, 3)] ^ rk[3];
    s0 = t0, s1 = t1, s2 = t2, s3 = t3;
  }
  rk += 4;
  StoreBe32(out, Word(kInvSBox[Byte(s0, 0)], kInvSBox[Byte(s3, 1)], kInvSBox[Byte(s2, 2)],
                      kInvSBox[Byte(s1, 3)]) ^
                     rk[0]);
  StoreBe32(out + 4, Word(kInvSBox[Byte(s1, 0)], kInvSBox[Byte(s0, 1)], kInvSBox[Byte(s3, 2)],
                          kInvSBox[Byte(s2, 3)]) ^
                         rk[1]);
  StoreBe32(out + 8, Word(kInvSBox[Byte(s2, 0)], kInvSBox[Byte(s1, 1)], kInvSBox[Byte(s0, 2)],
                          kInvSBox[Byte(s3, 3)]) ^
                         rk[2]);
  StoreBe32(out + 12, Word(kInvSBox[Byte(s3, 0)], kInvSBox[Byte(s2, 1)], kInvSBox[Byte(s1, 2)],
                           kInvSBox[Byte(s0, 3)]) ^
                          rk[3]);
  return 1;
}

int QuilAES_EncryptCBC(const QuilAES_Context* ctx, const unsigned char iv[16],
                       unsigned char* buffer, std::size_t length) {
  const std::size_t blocks = length / kQuilAESBlockBytes;
  const unsigned char* chain = iv;
  for (std::size_t i = 0; i < blocks; ++i) {
    unsigned char* block = buffer + i * kQuilAESBlockBytes;
    XorBlock(block, chain);
    QuilAES_EncryptBlock(ctx, block, block);
    chain = block;
  }
  return 1;
}

int QuilAES_DecryptCBC(const QuilAES_Context* ctx, const unsigned char iv[16],
                       unsigned char* buffer, std::size_t length) {
  // Backwards, so that each block's predecessor is still ciphertext when it is needed
  // and no copy of it has to be kept. The blocks are the same leading whole blocks that
  // encryption uses.
  const std::size_t blocks = length / kQuilAESBlockBytes;
  for (std::size_t i = blocks; i-- > 0;) {
    unsigned char* block = buffer + i * kQuilAESBlockBytes;
    QuilAES_DecryptBlock(ctx, block, block);
    XorBlock(block, i == 0 ? iv : block - kQuilAESBlockBytes);
  }
  return 1;
}

}  // extern "C"
