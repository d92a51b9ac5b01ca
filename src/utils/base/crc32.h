// CRC-32 of IEEE 802.3 (reflected, polynomial 0xEDB88320), one byte at a time over the
// standard 256-entry table.
//
// ECrc32Block applies no initial or final inversion: a caller that wants the usual
// CRC-32 starts from 0xFFFFFFFF and complements the final value. The running value is
// held by the caller, so a long input may be fed in any number of chunks.
#ifndef VQ_UTILS_BASE_CRC32_H
#define VQ_UTILS_BASE_CRC32_H

#include <cstddef>
#include <cstdint>

extern "C" {

// The running value after `len` bytes of `data`; `crc` unchanged when `len` is 0.
std::uint32_t ECrc32Block(std::uint32_t crc, const unsigned char* data, std::size_t len);

}  // extern "C"

#endif  // VQ_UTILS_BASE_CRC32_H
