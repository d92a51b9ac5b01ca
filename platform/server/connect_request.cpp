// Connect-string parsing and the AES-256 enciphered part, through OpenSSL.
#include "connect_request.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

#include "wire.h"

namespace vqeng {
namespace {

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};

bool run_aes(bool encrypt, const std::string& in, const std::uint8_t* key, std::uint32_t word,
             std::string& out) {
  std::uint8_t iv[16];
  for (int i = 0; i < 4; ++i) store_le32(iv + 4 * i, word);
  std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
  if (!ctx) return false;
  if (EVP_CipherInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key, iv, encrypt ? 1 : 0) != 1)
    return false;
  EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
  out.assign(in.size() + 16, '\0');
  int n1 = 0, n2 = 0;
  if (EVP_CipherUpdate(ctx.get(), reinterpret_cast<unsigned char*>(&out[0]), &n1,
                       reinterpret_cast<const unsigned char*>(in.data()),
                       static_cast<int>(in.size())) != 1)
    return false;
  if (EVP_CipherFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(&out[0]) + n1, &n2) != 1)
    return false;
  out.resize(static_cast<std::size_t>(n1 + n2));
  return true;
}

// Deciphers with an explicit key and IV word.
bool decipher_with_key(const std::string& cipher, const std::uint8_t* key,
                       std::uint32_t iv_word, std::string& plain, std::string& why) {
  if (cipher.empty() || cipher.size() % 16 != 0) {
    why = "enciphered part of " + std::to_string(cipher.size()) +
          " bytes is not a multiple of 16";
    return false;
  }
  std::string raw;
  if (!run_aes(false, cipher, key, iv_word, raw)) {
    why = "AES-256 deciphering failed";
    return false;
  }
  const std::size_t nul = raw.find('\0');
  if (nul == std::string::npos) {
    why = "enciphered part deciphers to an unterminated text";
    std::fill(raw.begin(), raw.end(), '\0');
    return false;
  }
  plain = raw.substr(0, nul);
  // Wipe the deciphered copy before it is released.
  std::fill(raw.begin(), raw.end(), '\0');
  return true;
}

}  // namespace

bool derive_secure_part_key(const std::uint8_t* material, std::size_t material_len,
                            std::uint8_t key[kSecureKeyBytes]) {
  std::uint8_t acc[kSecureKeyBytes] = {};
  bool ok = true;
  for (std::size_t at = 0; at < material_len && ok; at += kSecureKeyBytes) {
    std::uint8_t chunk[kSecureKeyBytes] = {};
    std::memcpy(chunk, material + at, std::min(kSecureKeyBytes, material_len - at));
    for (std::size_t i = 0; i < kSecureKeyBytes; ++i) acc[i] ^= chunk[i];
    std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
    int n1 = 0, n2 = 0;
    std::uint8_t out[kSecureKeyBytes + 16];
    ok = ctx &&
         EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_ecb(), nullptr, chunk, nullptr) == 1 &&
         EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
         EVP_EncryptUpdate(ctx.get(), out, &n1, acc, static_cast<int>(sizeof acc)) == 1 &&
         EVP_EncryptFinal_ex(ctx.get(), out + n1, &n2) == 1 &&
         n1 + n2 == static_cast<int>(kSecureKeyBytes);
    if (ok) std::memcpy(acc, out, kSecureKeyBytes);
    OPENSSL_cleanse(chunk, sizeof chunk);
    OPENSSL_cleanse(out, sizeof out);
  }
  if (ok) std::memcpy(key, acc, kSecureKeyBytes);
  OPENSSL_cleanse(acc, sizeof acc);
  return ok;
}

bool parse_connect_string(const std::string& text, std::map<std::string, std::string>& out,
                          std::string& why) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    while (i < n && (text[i] == ';' || std::isspace(static_cast<unsigned char>(text[i])))) ++i;
    if (i >= n) break;
    const std::size_t eq = text.find('=', i);
    const std::size_t semi = text.find(';', i);
    if (eq == std::string::npos || (semi != std::string::npos && semi < eq)) {
      why = "connect string pair without '=' at offset " + std::to_string(i);
      return false;
    }
    std::string key = text.substr(i, eq - i);
    while (!key.empty() && std::isspace(static_cast<unsigned char>(key.back()))) key.pop_back();
    for (auto& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    i = eq + 1;
    std::string value;
    if (i < n && text[i] == '\'') {
      ++i;
      for (;;) {
        if (i >= n) {
          why = "unterminated quote in the value of " + key;
          return false;
        }
        if (text[i] == '\'') {
          if (i + 1 < n && text[i + 1] == '\'') {
            value.push_back('\'');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        value.push_back(text[i++]);
      }
      while (i < n && text[i] != ';') ++i;  // blanks after the closing quote
    } else {
      const std::size_t end = text.find(';', i);
      value = text.substr(i, end == std::string::npos ? std::string::npos : end - i);
      i = end == std::string::npos ? n : end;
    }
    out[key] = value;
  }
  return true;
}

std::uint32_t secure_part_iv_word(const std::uint8_t* random32) { return random32[0]; }

bool decipher_secure_part(const std::string& cipher, const std::uint8_t* random32,
                          std::string& plain, std::string& why) {
  std::uint8_t key[kSecureKeyBytes];
  if (!derive_secure_part_key(random32, kSecureKeyBytes, key)) {
    why = "AES-256 key derivation failed";
    return false;
  }
  const bool ok = decipher_with_key(cipher, key, secure_part_iv_word(random32), plain, why);
  OPENSSL_cleanse(key, sizeof key);
  return ok;
}

bool decipher_secure_part_mistaken(const std::string& cipher, const std::uint8_t* random32,
                                   const SecurePartMistake& mistake, std::string& plain,
                                   std::string& why) {
  std::uint8_t key[kSecureKeyBytes];
  if (mistake.material_as_key) {
    std::memcpy(key, random32, kSecureKeyBytes);
  } else if (!derive_secure_part_key(random32, kSecureKeyBytes, key)) {
    why = "AES-256 key derivation failed";
    return false;
  }
  const std::uint32_t word =
      mistake.four_byte_word ? load_le32(random32) : secure_part_iv_word(random32);
  const bool ok = decipher_with_key(cipher, key, word, plain, why);
  OPENSSL_cleanse(key, sizeof key);
  return ok;
}

std::string encipher_secure_part(const std::string& text, const std::uint8_t* random32) {
  std::string padded = text;
  padded.push_back('\0');
  padded.resize((padded.size() + 15) / 16 * 16, '\0');
  std::string out;
  std::uint8_t key[kSecureKeyBytes];
  if (!derive_secure_part_key(random32, kSecureKeyBytes, key) ||
      !run_aes(true, padded, key, secure_part_iv_word(random32), out))
    out.clear();
  OPENSSL_cleanse(key, sizeof key);
  std::fill(padded.begin(), padded.end(), '\0');
  return out;
}

}  // namespace vqeng
