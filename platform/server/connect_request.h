// The database-connect request: the connect string (key=value pairs separated by
// ';', values optionally in single quotes with inner quotes doubled) and the
// enciphered part that carries PWD, DBKEY and NEWPWD.
//
// The enciphered part is AES-256-CBC without a padding scheme: the key is the 32
// random bytes of our app-connect reply, the IV is one 32-bit word stored four
// times little-endian, that word being the first random byte widened to 32 bits.
// The plain text is the pairs, a zero byte, and zero bytes up to a multiple of 16.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace vqeng {

// Upper-cased key -> value. Returns false with `why` on a malformed string
// (a pair without '=', an unterminated quote).
bool parse_connect_string(const std::string& text, std::map<std::string, std::string>& out,
                          std::string& why);

// The IV word used for the enciphered part.
std::uint32_t secure_part_iv_word(const std::uint8_t* random32);

// Deciphers the enciphered part; false with `why` when its length is not a
// positive multiple of 16 or the plain text is not terminated.
bool decipher_secure_part(const std::string& cipher, const std::uint8_t* random32,
                          std::string& plain, std::string& why);
// The same with another IV word: used only to explain a refused password that a
// peer enciphered with the first four random bytes as its word.
bool decipher_secure_part_with(const std::string& cipher, const std::uint8_t* random32, std::uint32_t iv_word,
                               std::string& plain, std::string& why);

// Enciphers a text the way a client does (used by the tests and the fixtures).
std::string encipher_secure_part(const std::string& text, const std::uint8_t* random32);

}  // namespace vqeng
