// The word scrambler: a 16-bit chain over a stride walk of the buffer's words.
#include "security/word_scrambler.h"

namespace {

inline std::uint16_t Rotr1(std::uint16_t v) {
  return static_cast<std::uint16_t>((v >> 1) | (v << 15));
}

inline std::uint16_t Rotl1(std::uint16_t v) {
  return static_cast<std::uint16_t>((v << 1) | (v >> 15));
}

inline std::uint16_t LoadWord(const unsigned char* buffer, std::uint32_t i) {
  return static_cast<std::uint16_t>(buffer[2 * i] | (buffer[2 * i + 1] << 8));
}

inline void StoreWord(unsigned char* buffer, std::uint32_t i, std::uint16_t v) {
  buffer[2 * i] = static_cast<unsigned char>(v);
  buffer[2 * i + 1] = static_cast<unsigned char>(v >> 8);
}

inline std::uint32_t WordCount(std::uint16_t length) { return (std::uint32_t{length} + 1) / 2; }

std::uint32_t Gcd(std::uint32_t a, std::uint32_t b) {
  while (b != 0) {
    const std::uint32_t r = a % b;
    a = b;
    b = r;
  }
  return a;
}

}  // namespace

extern "C" {

std::uint32_t makekey(std::uint32_t seed, std::uint16_t length) {
  const std::uint32_t n = WordCount(length);
  // Nothing is coprime with 0 but 1; without words there is no walk to order.
  if (n == 0) return seed;
  std::uint32_t k = seed;
  while (Gcd(k, n) != 1) ++k;  // ends within n steps: k = 1 (mod n) qualifies
  return k;
}

void yach_encrypt(std::uint32_t key, std::uint32_t step, std::uint16_t length,
                  unsigned char* buffer) {
  if (length < 2) return;
  const std::uint32_t n = WordCount(length);
  const std::uint32_t s = step % n;
  const bool half_word = (length & 1) != 0;  // word n - 1 has only its low byte here
  std::uint16_t x = static_cast<std::uint16_t>(key);
  std::uint16_t t = 0;
  std::uint32_t i = 0;
  do {
    if (half_word && i == n - 1) {
      const unsigned char b = buffer[length - 1];
      const auto v = static_cast<std::uint16_t>((x & 0xFF00) | ((x & 0xFF) ^ b));
      buffer[length - 1] = static_cast<unsigned char>(x);
      t = Rotr1(v);
    } else {
      t = Rotr1(static_cast<std::uint16_t>(x ^ LoadWord(buffer, i)));
      StoreWord(buffer, i, x);
    }
    i += s;
    if (i >= n) i -= n;
    x = t;
  } while (i != 0);
  StoreWord(buffer, 0, t);
}

void yach_decrypt(std::uint32_t key, std::uint32_t step, std::uint16_t length,
                  unsigned char* buffer) {
  if (length < 2) return;
  const std::uint32_t n = WordCount(length);
  const bool half_word = (length & 1) != 0;
  // The reverse stride; a step that is a multiple of n walks no word but word 0.
  const std::uint32_t d = (n - step % n) % n;
  std::uint16_t p = LoadWord(buffer, 0);
  for (std::uint32_t i = d; i != 0;) {
    if (half_word && i == n - 1) {
      const std::uint16_t v = Rotl1(p);
      const unsigned char b = buffer[length - 1];
      buffer[length - 1] = static_cast<unsigned char>(b ^ (v & 0xFF));
      p = static_cast<std::uint16_t>((v & 0xFF00) | b);
    } else {
      const std::uint16_t w = LoadWord(buffer, i);
      StoreWord(buffer, i, static_cast<std::uint16_t>(Rotl1(p) ^ w));
      p = w;
    }
    i += d;
    if (i >= n) i -= n;
  }
  StoreWord(buffer, 0, static_cast<std::uint16_t>(Rotl1(p) ^ key));
}

}  // extern "C"
