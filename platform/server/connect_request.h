// The database-connect request: the connect string (key=value pairs separated by
// ';', values optionally in single quotes with inner quotes doubled) and the
// enciphered part that carries PWD, DBKEY and NEWPWD.
//
// The enciphered part is AES-256-CBC without a padding scheme. The 32 random bytes
// of our app-connect reply are key material, not the key: the AES key is derived
// from them (derive_secure_part_key). The IV is one 32-bit word stored four times
// little-endian, that word being the first random byte widened to 32 bits. The
// plain text is the pairs, a zero byte, and zero bytes up to a multiple of 16.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace vqeng {

// Upper-cased key -> value. Returns false with `why` on a malformed string
// (a pair without '=', an unterminated quote).
bool parse_connect_string(const std::string& text, std::map<std::string, std::string>& out,
                          std::string& why);

constexpr std::size_t kSecureKeyBytes = 32;

// The AES-256 key made from key material of any length: an accumulator of 32 zero
// bytes; for each 32-byte chunk C of the material (the last one padded with zero
// bytes), accumulator ^= C, then the accumulator is enciphered in place as two
// independent 16-byte blocks with AES-256 under the key C. For 32 bytes of
// material M the key is therefore M's two blocks enciphered under M. False when
// the cipher cannot be run.
bool derive_secure_part_key(const std::uint8_t* material, std::size_t material_len,
                            std::uint8_t key[kSecureKeyBytes]);

// The IV word used for the enciphered part.
std::uint32_t secure_part_iv_word(const std::uint8_t* random32);

// Deciphers the enciphered part; false with `why` when its length is not a
// positive multiple of 16 or the plain text is not terminated.
bool decipher_secure_part(const std::string& cipher, const std::uint8_t* random32,
                          std::string& plain, std::string& why);

// Ways a peer may have got the enciphered part wrong; used only to explain a
// refused password in the log.
struct SecurePartMistake {
  bool material_as_key = false;  // the random bytes taken as the AES key itself
  bool four_byte_word = false;   // the first four random bytes (LE) as the IV word
};
bool decipher_secure_part_mistaken(const std::string& cipher, const std::uint8_t* random32,
                                   const SecurePartMistake& mistake, std::string& plain,
                                   std::string& why);

// Enciphers a text the way a client does (used by the tests and the fixtures).
std::string encipher_secure_part(const std::string& text, const std::uint8_t* random32);

}  // namespace vqeng
