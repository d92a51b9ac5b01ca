// Two small codecs that keep configuration text from being readable at a glance; neither
// is encryption: both use fixed constants of the format and no secret of the user.
//
// Whole-file form: the block "Vorn", data length (LE16), data, scrambled in place by a
// stream scrambler with a fixed initial state, its first byte then replaced by 0. Ini
// files are passed through decryptIniFile when read, so scrambled and plain files read
// alike. Password-field form: a text and its terminator chained with a fixed 14-byte key
// and written as lower-case hexadecimal (the EncryptedPassword connection parameter).
#ifndef VQ_CONFIG_INI_OBFUSCATION_H
#define VQ_CONFIG_INI_OBFUSCATION_H

#include <cstddef>
#include <cstdint>

// Scrambled block layout before scrambling: magic (4 bytes) | data length (LE16) | data.
constexpr std::size_t kIniBlockHeaderSize = 4 + 2;
constexpr std::size_t kIniBlockMaxData = 0xFFFF - kIniBlockHeaderSize;  // 65529 bytes
// Scrambler state: 256 state bytes, then the indexes i and j.
constexpr std::size_t kIniScramblerStateSize = 256 + 2;

// Size of the scrambled block for `n` data bytes: n + 6. Callers check n against
// kIniBlockMaxData; CCBERT refuses larger blocks.
std::size_t CCBBRT(std::size_t n);
// 0 when the data carry the tag (and are longer than 6 bytes); 1 when they are shorter
// than 7 bytes; 2 otherwise (plain).
int CCBIRT(const unsigned char* data, std::size_t length);
// Scrambles the `n` data bytes at the start of `buffer` (room for the whole block) into
// a block. `blockSize` must equal CCBBRT(n) and n must not exceed kIniBlockMaxData, else
// 1 and nothing is done; 0 on success.
int CCBERT(unsigned char* buffer, std::size_t blockSize, std::size_t n);
// Descrambles a block in place: 1 when `length` is 6 or less, 2 when it is not a block
// of this form (the buffer may then hold descrambled garbage); 0 with the data moved to
// the start of the buffer and their length in `n`.
int CCBDRT(unsigned char* buffer, std::size_t length, std::size_t* n);

// The stream scrambler: initialise a state, scramble, descramble (in place, going on
// from the state's indexes).
void MLBPRT10(unsigned char* state);
void MLBERT10(unsigned char* buffer, std::size_t length, unsigned char* state);
void MLBDRT10(unsigned char* buffer, std::size_t length, unsigned char* state);

// Reads ini data that may be scrambled. `outLength` holds the room of `out`; below
// `length`: flag 0, false. Plain data: flag 2, true, `out` untouched (the caller uses
// `in`). Scrambled data: `out` holds the decoded data and a zero byte, `outLength` their
// length, flag 1, true; data that carry the tag but do not decode are taken as plain
// (flag 2, true).
bool decryptIniFile(const char* in, std::size_t length, char* out, std::size_t* outLength,
                    int* flag);
// Writes ini data scrambled when option bit 0 is set. Without an output buffer (or with
// no room given) it reports the size needed in `outLength` under option bit 0 and gives
// false. With one: `outLength` becomes 0; room below `length` gives false; without
// option bit 0 the result is true and nothing is written (the text is written plain);
// with it, the input and a zero byte are scrambled into `out`, `outLength` gets the
// block size, true. Input longer than kIniBlockMaxData - 1 bytes gives false.
bool encryptIniFile(const char* in, std::size_t length, char* out, std::size_t* outLength,
                    unsigned options);

constexpr int kIniDataScrambled = 1;
constexpr int kIniDataPlain = 2;
// 0 for null data, kIniDataScrambled for data that carry the tag, kIniDataPlain else.
int IsIniDataEncrypted(const char* data, std::size_t length);
// Reads the file whole and answers as IsIniDataEncrypted; 0 when it cannot be opened or
// read whole.
int IsIniFileEncrypted(const char* path);

// Password field. IniEncryptBlock: null for null text, else 2 * (length + 1) hex digits.
// IniDecryptBlock: null for null or an odd number of digits, else the decoded text; a
// zero byte always ends the result, also when the input was not made by the encoder.
// Both results come from ut_malloc (null when memory runs out); free with ut_free.
char* IniEncryptBlock(const char* text);
char* IniDecryptBlock(const char* hex);

#endif  // VQ_CONFIG_INI_OBFUSCATION_H
