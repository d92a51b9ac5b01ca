// Whole-file scrambled blocks and the password-field hex codec.
#include "config/ini_obfuscation.h"

#include <fcntl.h>

#include <cstring>

#include "utils/base/memory.h"
#include "utils/base/posix_file.h"

namespace {

// Constants of the format. The initial state is the progression kStart + k * kStep
// modulo 256; an odd step makes it a permutation of the 256 byte values.
constexpr std::uint8_t kStateStart = 0x4B;
constexpr std::uint8_t kStateStep = 0x9D;
static_assert(kStateStep % 2 == 1, "the step must be odd for the state to be a permutation");
constexpr std::uint8_t kPasswordKey[14] = {0x3A, 0xC5, 0x17, 0x8E, 0x62, 0xD9, 0x04,
                                           0xB3, 0x5F, 0xE8, 0x21, 0x96, 0x7C, 0x0D};
constexpr unsigned char kMagic[4] = {'V', 'o', 'r', 'n'};
constexpr std::size_t kIndexI = 256;
constexpr std::size_t kIndexJ = 257;
static_assert(kIniBlockHeaderSize == 6, "magic (4) and LE16 length (2)");
static_assert(kIniBlockMaxData == 65529, "a whole block fits a 16-bit size");

constexpr void init_state(unsigned char* state) {
  for (unsigned k = 0; k < 256; ++k)
    state[k] = static_cast<unsigned char>(kStateStart + k * kStateStep);
  state[kIndexI] = 0;
  state[kIndexJ] = 0;
}

// One pass of the scrambler; `decode` picks which byte (input or output) feeds j.
constexpr void run(unsigned char* buffer, std::size_t length, unsigned char* state,
                   bool decode) {
  unsigned i = state[kIndexI];
  unsigned j = state[kIndexJ];
  for (std::size_t k = 0; k < length; ++k) {
    i = (i + 1) & 0xFF;
    const unsigned a = state[i];
    const unsigned jj = (j + a) & 0xFF;
    const unsigned b = state[jj];
    state[i] = static_cast<unsigned char>(b);
    state[jj] = static_cast<unsigned char>(a);
    const unsigned char in = buffer[k];
    const unsigned char out = static_cast<unsigned char>(in ^ state[(a + b) & 0xFF]);
    buffer[k] = out;
    j = jj + (decode ? out : in);
  }
  state[kIndexI] = static_cast<unsigned char>(i);
  state[kIndexJ] = static_cast<unsigned char>(j & 0xFF);
}

// The scrambled magic: its first byte is what a block starts with before it is replaced
// by 0; the next three are the tag after that 0. They depend only on the fixed initial
// state and the magic, so they are constants of the format.
struct ScrambledMagic {
  unsigned char bytes[4];
};
constexpr ScrambledMagic scramble_magic() {
  unsigned char state[kIniScramblerStateSize] = {};
  init_state(state);
  ScrambledMagic m = {{kMagic[0], kMagic[1], kMagic[2], kMagic[3]}};
  run(m.bytes, 4, state, false);
  return m;
}
constexpr ScrambledMagic kScrambledMagic = scramble_magic();

bool has_tag(const unsigned char* data, std::size_t length) {
  return length > kIniBlockHeaderSize && data[0] == 0 && data[1] == kScrambledMagic.bytes[1] &&
         data[2] == kScrambledMagic.bytes[2] && data[3] == kScrambledMagic.bytes[3];
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A pair that is not hexadecimal reads as far as its valid digits go.
unsigned char read_pair(const char* p) {
  const int hi = hex_digit(p[0]);
  if (hi < 0) return 0;
  const int lo = hex_digit(p[1]);
  if (lo < 0) return static_cast<unsigned char>(hi);
  return static_cast<unsigned char>(hi * 16 + lo);
}

}  // namespace

std::size_t CCBBRT(std::size_t n) { return n + kIniBlockHeaderSize; }

int CCBIRT(const unsigned char* data, std::size_t length) {
  if (data == nullptr || length <= kIniBlockHeaderSize) return 1;
  return has_tag(data, length) ? 0 : 2;
}

int CCBERT(unsigned char* buffer, std::size_t blockSize, std::size_t n) {
  if (buffer == nullptr || n > kIniBlockMaxData || blockSize != CCBBRT(n)) return 1;
  std::memmove(buffer + kIniBlockHeaderSize, buffer, n);
  std::memcpy(buffer, kMagic, 4);
  buffer[4] = static_cast<unsigned char>(n & 0xFF);  // length is little-endian
  buffer[5] = static_cast<unsigned char>(n >> 8);
  unsigned char state[kIniScramblerStateSize];
  MLBPRT10(state);
  MLBERT10(buffer, blockSize, state);
  buffer[0] = 0;
  return 0;
}

int CCBDRT(unsigned char* buffer, std::size_t length, std::size_t* n) {
  if (buffer == nullptr || length <= kIniBlockHeaderSize) return 1;
  if (buffer[0] != 0 || length > 0xFFFF) return 2;
  buffer[0] = kScrambledMagic.bytes[0];
  unsigned char state[kIniScramblerStateSize];
  MLBPRT10(state);
  MLBDRT10(buffer, length, state);
  const std::size_t stored = std::size_t(buffer[4]) | (std::size_t(buffer[5]) << 8);
  if (std::memcmp(buffer, kMagic, 4) != 0 || stored + kIniBlockHeaderSize != length) return 2;
  std::memmove(buffer, buffer + kIniBlockHeaderSize, stored);
  if (n != nullptr) *n = stored;
  return 0;
}

void MLBPRT10(unsigned char* state) { init_state(state); }
void MLBERT10(unsigned char* buffer, std::size_t length, unsigned char* state) {
  run(buffer, length, state, false);
}
void MLBDRT10(unsigned char* buffer, std::size_t length, unsigned char* state) {
  run(buffer, length, state, true);
}

bool decryptIniFile(const char* in, std::size_t length, char* out, std::size_t* outLength,
                    int* flag) {
  int f = 0;
  bool ok = false;
  const auto* data = reinterpret_cast<const unsigned char*>(in);
  if (outLength == nullptr || *outLength < length) {
    f = 0;
  } else if (in == nullptr || CCBIRT(data, length) != 0) {
    f = kIniDataPlain;
    ok = true;
  } else if (out == nullptr) {
    f = 0;
  } else {
    auto* buffer = reinterpret_cast<unsigned char*>(out);
    std::memcpy(buffer, data, length);
    std::size_t n = 0;
    if (CCBDRT(buffer, length, &n) == 0) {
      buffer[n] = 0;  // n + 6 == length <= room, so there is room for it
      *outLength = n;
      f = 1;
    } else {
      f = kIniDataPlain;  // not a block after all: the caller uses the data as they are
    }
    ok = true;
  }
  if (flag != nullptr) *flag = f;
  return ok;
}

bool encryptIniFile(const char* in, std::size_t length, char* out, std::size_t* outLength,
                    unsigned options) {
  if (outLength == nullptr) return false;
  const bool scramble = (options & 1u) != 0;
  // The data and their zero byte must fit a 16-bit block.
  const bool fits = length < kIniBlockMaxData;
  const std::size_t block = CCBBRT(length + 1);
  if (out == nullptr || *outLength == 0) {
    if (scramble && fits) *outLength = block;
    return false;
  }
  const std::size_t room = *outLength;
  *outLength = 0;
  if (room < length) return false;
  if (!scramble) return true;
  if (!fits || room < block || in == nullptr) return false;
  std::memmove(out, in, length);
  out[length] = '\0';
  if (CCBERT(reinterpret_cast<unsigned char*>(out), block, length + 1) != 0) return false;
  *outLength = block;
  return true;
}

int IsIniDataEncrypted(const char* data, std::size_t length) {
  if (data == nullptr) return 0;
  return has_tag(reinterpret_cast<const unsigned char*>(data), length) ? kIniDataScrambled
                                                                       : kIniDataPlain;
}

int IsIniFileEncrypted(const char* path) {
  if (path == nullptr) return 0;
  const int fd = _posix_open(path, O_RDONLY, 0);
  if (fd < 0) return 0;
  int result = 0;
  a_posix_stat st;
  if (_posix_fstat(fd, &st) == 0 && st.size >= 0) {
    const std::size_t size = static_cast<std::size_t>(st.size);
    char* data = static_cast<char*>(ut_malloc(size + 1));
    if (data != nullptr) {
      if (_posix_read(fd, data, size) == static_cast<std::int64_t>(size)) {
        result = IsIniDataEncrypted(data, size);
      }
      ut_free(data);
    }
  }
  _posix_close(fd);
  return result;
}

char* IniEncryptBlock(const char* text) {
  if (text == nullptr) return nullptr;
  static const char kHex[] = "0123456789abcdef";
  const std::size_t n = std::strlen(text) + 1;  // the terminator is encoded too
  char* hex = static_cast<char*>(ut_malloc(2 * n + 1));
  if (hex == nullptr) return nullptr;
  unsigned char previous = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const auto byte = static_cast<unsigned char>(text[k]);
    const auto out = static_cast<unsigned char>(previous ^ kPasswordKey[k % 14] ^ byte);
    hex[2 * k] = kHex[out >> 4];
    hex[2 * k + 1] = kHex[out & 0x0F];
    previous = out;
  }
  hex[2 * n] = '\0';
  return hex;
}

char* IniDecryptBlock(const char* hex) {
  if (hex == nullptr) return nullptr;
  const std::size_t digits = std::strlen(hex);
  if (digits % 2 != 0) return nullptr;
  const std::size_t n = digits / 2;
  // One byte more than the encoded form: the decoded last byte is the terminator only
  // for well-formed input, so we always add our own.
  char* text = static_cast<char*>(ut_malloc(n + 1));
  if (text == nullptr) return nullptr;
  unsigned char previous = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const unsigned char enc = read_pair(hex + 2 * k);
    text[k] = static_cast<char>(previous ^ kPasswordKey[k % 14] ^ enc);
    previous = enc;
  }
  text[n] = '\0';
  return text;
}
