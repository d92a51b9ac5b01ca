// SHA-1 (FIPS 180-1) over a caller-owned context, with helpers that digest a string, a
// block of memory, a file, or a file followed by a 32-bit date word.
//
// Results are the five state words as 32-bit integers in host order; written most
// significant byte first they give the standard 20-byte digest. SHAUpdate keeps a
// partial block in the context between calls, so input may arrive in chunks of any
// size. The block counter and the length in the padding are 64 bits wide. Every
// function that returns a result returns 0 unless stated otherwise. Nothing allocates.
#ifndef VQ_SECURITY_SHA1_H
#define VQ_SECURITY_SHA1_H

#include <cstddef>
#include <cstdint>

extern "C" {

struct SHA {
  std::uint32_t pending;      // bytes of the last partial block held in data, 0..63
  std::uint32_t blocks_high;  // whole 64-byte blocks compressed, high word
  std::uint32_t blocks_low;   // whole 64-byte blocks compressed, low word
  std::uint32_t data[16];     // the block: message bytes in order until byteReverse
  std::uint32_t state[5];     // chaining state; the digest after SHAFinal
};

// Zero counts and data; state = the standard initial values.
int SHAInit(SHA* ctx);
// The same, starting from the given state instead.
int SHAInit2(SHA* ctx, const std::uint32_t state[5]);
int SHAUpdate(SHA* ctx, const unsigned char* data, std::size_t length);
// Pads, appends the 64-bit bit length and compresses; the state then holds the digest.
int SHAFinal(SHA* ctx);
// Finishes a block the caller filled word by word (words already in host order):
// words placed..14 are zeroed and word 15 becomes length_word. When the caller placed
// 15 or 16 words, that block is compressed first (word 15 zeroed when 15 were placed)
// and a block of zeros ending in length_word follows. Counts are not used.
int SHAFinal2(SHA* ctx, unsigned placed, std::uint32_t length_word);

// One compression of ctx->data (host-order words) into ctx->state.
void ProcessBlock(SHA* ctx);
// Turns byte_count / 4 words of message bytes into big-endian words, in place.
void byteReverse(std::uint32_t* words, unsigned byte_count);

// Digest of the text without its NUL, or of a block; the context is wiped afterwards.
int SHAString(const char* text, std::uint32_t out[5]);
int SHABlock(const unsigned char* data, std::size_t length, std::uint32_t out[5]);

// Digest of the file's contents, or of the contents followed by `date` as four bytes,
// most significant first. The file is opened for reading and writing (mode "r+b"), so
// a file that may not be written is not digested. Returns 1, with `out` untouched,
// when the file cannot be opened or a read fails.
int SHAFile(const char* path, std::uint32_t out[5]);
int SHAFileDate(const char* path, std::uint32_t date, std::uint32_t out[5]);

}  // extern "C"

#endif  // VQ_SECURITY_SHA1_H
