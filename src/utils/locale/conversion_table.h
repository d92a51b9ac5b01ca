// A cached byte map between two single-byte character sets (kept by the registry).
#ifndef VQ_UTILS_LOCALE_CONVERSION_TABLE_H
#define VQ_UTILS_LOCALE_CONVERSION_TABLE_H

#include <cstdint>

#include "utils/base/queue.h"

struct CharsetInfo;

struct ConversionTable {
  Q_link link;  // first: the registry's bucket queues link tables through it
  const CharsetInfo* from;
  const CharsetInfo* to;
  // 256 bytes: 0x00..0x7F to themselves, the upper half from the table's source; null
  // when no table could be obtained for the pair.
  unsigned char* map;
};

// The table file "vellum.cvf" (little-endian integers; offsets from the file's start):
//   0      4      matrix offset M
//   4      1      header length L (the reader accepts at most 200)
//   5      L      header text, containing "version=2;"
//   5+L    4      number of character sets N (not 0)
//   9+L    ...    N records: 1 byte label length, then the label
//   M      4*N*N  entries, row = source's record number, column = target's
// An entry is usable when its top byte is 64 or more; its low 30 bits are the offset of
// 128 bytes: the target byte for each source byte 0x80..0xFF.
namespace cvf_format {
constexpr std::uint32_t kMaxHeaderLength = 200;
constexpr char kVersionTag[] = "version=2;";
constexpr std::uint32_t kOffsetMask = 0x3FFFFFFFu;
constexpr std::uint32_t kMinUsableTopByte = 64;
}  // namespace cvf_format

#endif  // VQ_UTILS_LOCALE_CONVERSION_TABLE_H
