// Connect-string parsing and the AES-256 enciphered part, through OpenSSL.
#include "connect_request.h"

#include <openssl/evp.h>

#include <cctype>
#include <memory>

#include "wire.h"

namespace vqeng {
namespace {

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};

bool run_aes(bool encrypt, const std::string& in, const std::uint8_t* key, std::uint32_t word, std::string& out) {
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
                       reinterpret_cast<const unsigned char*>(in.data()), static_cast<int>(in.size())) != 1)
    return false;
  if (EVP_CipherFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(&out[0]) + n1, &n2) != 1) return false;
  out.resize(static_cast<std::size_t>(n1 + n2));
  return true;
}

}  // namespace

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
  return decipher_secure_part_with(cipher, random32, secure_part_iv_word(random32), plain, why);
}

bool decipher_secure_part_with(const std::string& cipher, const std::uint8_t* random32, std::uint32_t iv_word,
                               std::string& plain, std::string& why) {
  if (cipher.empty() || cipher.size() % 16 != 0) {
    why = "enciphered part of " + std::to_string(cipher.size()) + " bytes is not a multiple of 16";
    return false;
  }
  std::string raw;
  if (!run_aes(false, cipher, random32, iv_word, raw)) {
    why = "AES-256 deciphering failed";
    return false;
  }
  const std::size_t nul = raw.find('\0');
  if (nul == std::string::npos) {
    why = "enciphered part deciphers to an unterminated text";
    return false;
  }
  plain = raw.substr(0, nul);
  // Wipe the deciphered copy before it is released.
  for (auto& c : raw) c = 0;
  return true;
}

std::string encipher_secure_part(const std::string& text, const std::uint8_t* random32) {
  std::string padded = text;
  padded.push_back('\0');
  padded.resize((padded.size() + 15) / 16 * 16, '\0');
  std::string out;
  if (!run_aes(true, padded, random32, secure_part_iv_word(random32), out)) out.clear();
  return out;
}

}  // namespace vqeng
