// A scripted client for the server tests: it writes packets and items byte by
// byte from the protocol's rules (not from the server's own writers), enciphers
// the password part with OpenSSL directly, and reads reply items back.
#pragma once

#include <openssl/evp.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace script {

inline std::string u16le(unsigned v) {
  return std::string{char(v & 0xFF), char((v >> 8) & 0xFF)};
}
inline std::string u32le(std::uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s.push_back(char((v >> (8 * i)) & 0xFF));
  return s;
}
inline std::uint32_t rd32(const std::string& s, std::size_t at = 0) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(s.at(at + i));
  return v;
}
// Deflates `body` the way a client does (4 KiB window, partial flush), as the
// first packet of a fresh compression stream.
inline std::string deflate_like_a_client(const std::string& body) {
  z_stream zs{};
  deflateInit2(&zs, 9, Z_DEFLATED, 12, 5, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&zs, static_cast<uLong>(body.size())) + 64, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
  zs.avail_in = static_cast<uInt>(body.size());
  zs.next_out = reinterpret_cast<Bytef*>(&out[0]);
  zs.avail_out = static_cast<uInt>(out.size());
  deflate(&zs, Z_PARTIAL_FLUSH);
  out.resize(out.size() - zs.avail_out);
  deflateEnd(&zs);
  return out;
}
inline unsigned rd16(const std::string& s, std::size_t at = 0) {
  return static_cast<std::uint8_t>(s.at(at)) | (static_cast<std::uint8_t>(s.at(at + 1)) << 8);
}

// A packet: type, status, length (big-endian), 4 zero bytes for the long header.
inline std::string packet(std::uint8_t type, std::uint8_t status, const std::string& body) {
  const bool short_hdr = type == 24 || type == 25 || type == 26;
  const std::size_t len = (short_hdr ? 4 : 8) + body.size();
  std::string p{char(type), char(status), char((len >> 8) & 0xFF), char(len & 0xFF)};
  if (!short_hdr) p.append(4, '\0');
  return p + body;
}

// A short item: length byte (payload + 1), code, payload. Longer payloads need
// long_item; asking for one here is a mistake in the test.
inline std::string item(std::uint8_t code, const std::string& payload = {}) {
  if (payload.size() > 250)
    throw std::length_error("short item of " + std::to_string(payload.size()) + " bytes");
  return std::string{char(payload.size() + 1), char(code)} + payload;
}

// A long value with new-form pieces in one packet body.
inline std::string long_item(std::uint8_t code, const std::string& value) {
  std::string s{char(252), char(code)};
  s += item(192, u32le(static_cast<std::uint32_t>(value.size())));
  s += std::string{3, char(195)} + u16le(static_cast<unsigned>(value.size())) + value;
  s += item(194);
  return s;
}

inline std::string info_payload(std::uint32_t v, std::uint8_t slot) {
  return u32le(v) + char(slot);
}

struct AppConnectFields {
  unsigned minor = 15;
  unsigned packet_size = 7300;
  std::uint32_t options = 0x100 | 0x200 | 0x002;
  unsigned encryption = 0;
  unsigned threshold = 0;
  unsigned liveness = 0;
};

inline std::string app_connect_record(const AppConnectFields& f) {
  std::string r(312, '\0');
  auto put16 = [&](std::size_t at, unsigned v) { r.replace(at, 2, u16le(v)); };
  put16(0, 312);
  r[2] = 2;
  r[6] = 12;
  put16(8, f.liveness);
  put16(10, f.encryption);
  put16(20, f.minor);
  put16(22, f.packet_size);
  r.replace(24, 4, u32le(f.options));
  put16(28, f.threshold);
  put16(32, 0x0A06);
  std::memcpy(&r[44], "UTF-8", 5);
  std::memcpy(&r[75], "en", 2);
  std::memcpy(&r[261], "UTF-8", 5);
  return r;
}

// The AES key a client makes from the 32 random bytes (key material M): M's two
// 16-byte blocks, each enciphered with AES-256 under the key M.
inline void derive_key(const std::uint8_t* material, unsigned char key[32]) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(ctx, EVP_aes_256_ecb(), nullptr, material, nullptr);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  int n = 0;
  EVP_EncryptUpdate(ctx, key, &n, material, 32);
  EVP_CIPHER_CTX_free(ctx);
}

// Ways of getting the enciphered part wrong, for the tests of the server's hints.
struct CipherFault {
  bool material_as_key = false;  // the random bytes used as the AES key itself
  bool first_four = false;       // the first four random bytes as the IV word
};

// AES-256-CBC without padding under the key derived from the random bytes; the
// IV is the first random byte as a 32-bit word, four times, little-endian.
inline std::string encipher(const std::string& text, const std::uint8_t* random,
                            CipherFault fault = {}) {
  std::string plain = text;
  plain.push_back('\0');
  plain.resize((plain.size() + 15) / 16 * 16, '\0');
  unsigned char key[32];
  if (fault.material_as_key)
    std::memcpy(key, random, 32);
  else
    derive_key(random, key);
  unsigned char iv[16] = {};
  for (int i = 0; i < 4; ++i) {
    iv[4 * i] = random[0];
    if (fault.first_four) std::memcpy(iv + 4 * i, random, 4);
  }
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key, iv);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  std::string out(plain.size() + 16, '\0');
  int n1 = 0, n2 = 0;
  EVP_EncryptUpdate(ctx, reinterpret_cast<unsigned char*>(&out[0]), &n1,
                    reinterpret_cast<const unsigned char*>(plain.data()),
                    static_cast<int>(plain.size()));
  EVP_EncryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(&out[0]) + n1, &n2);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(static_cast<std::size_t>(n1 + n2));
  return out;
}

struct ReplyItem {
  std::uint8_t code;
  int length;           // payload length, or 251..254
  std::string payload;  // the whole value for long items
};

struct Packet {
  std::uint8_t type, status;
  std::string body;
};

// Splits a byte stream into packets. Stops at an incomplete packet.
inline std::vector<Packet> split_packets(const std::string& bytes,
                                         std::size_t* used = nullptr) {
  std::vector<Packet> out;
  std::size_t at = 0;
  while (bytes.size() - at >= 4) {
    const std::uint8_t type = static_cast<std::uint8_t>(bytes[at]);
    const std::size_t len = (static_cast<std::uint8_t>(bytes[at + 2]) << 8) |
                            static_cast<std::uint8_t>(bytes[at + 3]);
    if (len < 4 || bytes.size() - at < len) break;
    const std::size_t hdr = (type == 24 || type == 25 || type == 26) ? 4 : 8;
    out.push_back(
        {type, static_cast<std::uint8_t>(bytes[at + 1]), bytes.substr(at + hdr, len - hdr)});
    at += len;
  }
  if (used) *used = at;
  return out;
}

// Reads the items of one message body (the bodies joined); long values are
// gathered whole. Returns false on a malformed body.
inline bool parse_items(const std::string& body, std::vector<ReplyItem>& out) {
  std::size_t i = 0;
  while (i < body.size()) {
    if (body.size() - i < 2) return false;
    const std::uint8_t lb = static_cast<std::uint8_t>(body[i]);
    const std::uint8_t code = static_cast<std::uint8_t>(body[i + 1]);
    if (lb == 0) return false;
    if (lb >= 252) {
      i += 2;
      if (lb != 252) {
        out.push_back({code, lb - 1, {}});
        continue;
      }
      // Long value: 192 total, pieces, 194.
      if (body.size() - i < 6 || static_cast<std::uint8_t>(body[i + 1]) != 192) return false;
      const std::uint32_t total = rd32(body, i + 2);
      i += 6;
      std::string v;
      for (;;) {
        if (body.size() - i < 2) return false;
        const std::uint8_t pl = static_cast<std::uint8_t>(body[i]);
        const std::uint8_t pc = static_cast<std::uint8_t>(body[i + 1]);
        if (pc == 194) {
          i += 2;
          break;
        }
        if (pc == 193) {
          v += body.substr(i + 2, pl - 1u);
          i += pl + 1u;
          continue;
        }
        if (pc == 195) {
          const unsigned n = rd16(body, i + 2);
          v += body.substr(i + 4, n);
          i += 4 + n;
          continue;
        }
        return false;
      }
      if (v.size() != total) return false;
      out.push_back({code, 251, v});
      continue;
    }
    if (body.size() - i < lb + 1u) return false;
    out.push_back({code, lb - 1, body.substr(i + 2, lb - 1u)});
    i += lb + 1u;
  }
  return true;
}

}  // namespace script
