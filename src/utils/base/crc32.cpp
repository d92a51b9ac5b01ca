// CRC-32 over a table built at compile time from the reflected polynomial.
#include "utils/base/crc32.h"

#include <array>

namespace {

constexpr std::uint32_t kReflectedPolynomial = 0xEDB88320u;

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t value = n;
    for (int bit = 0; bit < 8; ++bit) {
      value = (value & 1u) ? (value >> 1) ^ kReflectedPolynomial : value >> 1;
    }
    table[n] = value;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();
static_assert(kCrcTable[1] == 0x77073096u && kCrcTable[255] == 0x2D02EF8Du,
              "the standard CRC-32 table");

}  // namespace

extern "C" std::uint32_t ECrc32Block(std::uint32_t crc, const unsigned char* data,
                                     std::size_t len) {
  for (std::size_t i = 0; i < len; ++i) {
    crc = (crc >> 8) ^ kCrcTable[(crc ^ data[i]) & 0xFFu];
  }
  return crc;
}
