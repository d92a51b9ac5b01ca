// Keyed word scrambler for the "simple" encryption level.
#include "scrambler.h"

#include "wire.h"

namespace vqeng {
namespace {

std::uint16_t rotr16(std::uint16_t v) {
  return static_cast<std::uint16_t>((v >> 1) | (v << 15));
}
std::uint16_t rotl16(std::uint16_t v) {
  return static_cast<std::uint16_t>((v << 1) | (v >> 15));
}

std::uint32_t gcd32(std::uint32_t a, std::uint32_t b) {
  while (b != 0) {
    const std::uint32_t r = a % b;
    a = b;
    b = r;
  }
  return a;
}

// Word i of the buffer; the caller never asks for the half word this way.
std::uint16_t word_at(const std::uint8_t* buf, std::uint32_t i) {
  return load_le16(buf + 2 * i);
}
void set_word(std::uint8_t* buf, std::uint32_t i, std::uint16_t v) {
  store_le16(buf + 2 * i, v);
}

bool packet_geometry(const std::uint8_t* packet, std::uint32_t packet_len,
                     std::uint16_t* body_len) {
  if (packet_len < kShortHeaderBytes) return false;
  const std::uint16_t total = load_be16(packet + 2);
  const std::size_t hdr = header_bytes(packet[0]);
  if (total < hdr || total > packet_len) return false;
  *body_len = static_cast<std::uint16_t>(total - hdr);
  return true;
}

void packet_key(const std::uint8_t* packet, std::uint16_t body, std::uint32_t* key,
                std::uint32_t* step) {
  const std::uint32_t type = packet[0];
  const std::uint32_t status = packet[1];
  *key = static_cast<std::uint16_t>(((type * 256) + status) ^ body);
  *step = makekey((type << 24) | (status << 16) | body, body);
}

}  // namespace

std::uint32_t makekey(std::uint32_t seed, std::uint16_t length) {
  const std::uint32_t n = (static_cast<std::uint32_t>(length) + 1) / 2;
  if (n <= 1) return seed;  // every value is coprime with 1 (and nothing to walk for 0)
  std::uint32_t k = seed;
  while (gcd32(k, n) != 1) ++k;
  return k;
}

void yach_encrypt(std::uint32_t key, std::uint32_t step, std::uint16_t length,
                  std::uint8_t* buf) {
  const std::uint32_t n = (static_cast<std::uint32_t>(length) + 1) / 2;
  if (n < 2) return;
  const std::uint32_t s = step % n;
  const bool odd = (length & 1) != 0;
  std::uint16_t x = static_cast<std::uint16_t>(key);
  std::uint16_t t = 0;
  std::uint32_t i = 0;
  do {
    if (odd && i == n - 1) {
      const std::uint8_t b = buf[length - 1];
      const std::uint16_t v = static_cast<std::uint16_t>((x & 0xFF00) | ((x & 0xFF) ^ b));
      buf[length - 1] = static_cast<std::uint8_t>(x & 0xFF);
      t = rotr16(v);
    } else {
      const std::uint16_t w = word_at(buf, i);
      t = rotr16(static_cast<std::uint16_t>(x ^ w));
      set_word(buf, i, x);
    }
    i += s;
    if (i >= n) i -= n;
    x = t;
  } while (i != 0);
  set_word(buf, 0, t);
}

void yach_decrypt(std::uint32_t key, std::uint32_t step, std::uint16_t length,
                  std::uint8_t* buf) {
  const std::uint32_t n = (static_cast<std::uint32_t>(length) + 1) / 2;
  if (n < 2) return;
  const std::uint32_t d = n - (step % n);
  const bool odd = (length & 1) != 0;
  std::uint16_t p = word_at(buf, 0);
  std::uint32_t i = d;
  if (i >= n) i -= n;  // a step that is a multiple of n: walk nothing but word 0
  while (i != 0) {
    if (odd && i == n - 1) {
      const std::uint16_t v = rotl16(p);
      const std::uint8_t b = buf[length - 1];
      buf[length - 1] = static_cast<std::uint8_t>(b ^ (v & 0xFF));
      p = static_cast<std::uint16_t>((v & 0xFF00) | b);
    } else {
      const std::uint16_t w = word_at(buf, i);
      set_word(buf, i, static_cast<std::uint16_t>(rotl16(p) ^ w));
      p = w;
    }
    i += d;
    if (i >= n) i -= n;
  }
  set_word(buf, 0, static_cast<std::uint16_t>(rotl16(p) ^ static_cast<std::uint16_t>(key)));
}

bool scramble_packet(std::uint8_t* packet, std::uint32_t packet_len) {
  std::uint16_t body = 0;
  if (!packet_geometry(packet, packet_len, &body)) return false;
  if (body <= 2) return true;
  std::uint32_t key = 0, step = 0;
  packet_key(packet, body, &key, &step);
  yach_encrypt(key, step, body, packet + header_bytes(packet[0]));
  return true;
}

bool descramble_packet(std::uint8_t* packet, std::uint32_t packet_len) {
  std::uint16_t body = 0;
  if (!packet_geometry(packet, packet_len, &body)) return false;
  if (body <= 2) return true;
  std::uint32_t key = 0, step = 0;
  packet_key(packet, body, &key, &step);
  yach_decrypt(key, step, body, packet + header_bytes(packet[0]));
  return true;
}

}  // namespace vqeng
