// Byte-order helpers and the packet header shared by every codec of the stand-in
// server. The packet header's length is big-endian; integers inside item payloads
// and inside the app-connect record are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace vqeng {

inline std::uint16_t load_be16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline std::uint16_t load_le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t load_le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t load_le64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(load_le32(p)) |
         (static_cast<std::uint64_t>(load_le32(p + 4)) << 32);
}
inline void store_be16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}
inline void store_le16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
// On a little-endian host one copy of the integer's bytes (every integer value of every
// row sent goes through here); byte by byte on others.
inline void store_le32(std::uint8_t* p, std::uint32_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  std::memcpy(p, &v, 4);
#else
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
#endif
}
inline void store_le64(std::uint8_t* p, std::uint64_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  std::memcpy(p, &v, 8);
#else
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
#endif
}

// Appending forms, for building payloads in a std::string.
inline void put_u8(std::string& s, std::uint8_t v) { s.push_back(static_cast<char>(v)); }
inline void put_le16(std::string& s, std::uint16_t v) {
  std::uint8_t b[2];
  store_le16(b, v);
  s.append(reinterpret_cast<const char*>(b), 2);
}
inline void put_le32(std::string& s, std::uint32_t v) {
  std::uint8_t b[4];
  store_le32(b, v);
  s.append(reinterpret_cast<const char*>(b), 4);
}
inline void put_le64(std::string& s, std::uint64_t v) {
  std::uint8_t b[8];
  store_le64(b, v);
  s.append(reinterpret_cast<const char*>(b), 8);
}

// Packet header: type (1 byte), status (1 byte), total length (BE16, header
// included); types other than 24, 25 and 26 carry 4 more zero bytes.
constexpr std::size_t kShortHeaderBytes = 1 + 1 + 2;
constexpr std::size_t kLongHeaderBytes = kShortHeaderBytes + 4;
static_assert(kShortHeaderBytes == 4 && kLongHeaderBytes == 8, "packet header sizes");

enum PacketType : std::uint8_t {
  kPktFirstOther = 2,   // accepted as a first packet; carries nothing we use
  kPktQueuedData = 15,  // taken like a data packet; never compressed
  kPktAttention = 16,   // client asks to stop the running request
  kPktData = 24,
  kPktAppConnect = 25,
  kPktLiveness = 26,
  kPktConnectionless = 27,
};

enum PacketStatus : std::uint8_t {
  kStatusEndOfMessage = 0x01,
  kStatusAttentionAck = 0x02,
  kStatusScrambled = 0x20,
  kStatusCompressed = 0x40,  // only ever on a data packet (type 24)
};

inline std::size_t header_bytes(std::uint8_t type) {
  return (type == kPktData || type == kPktAppConnect || type == kPktLiveness)
             ? kShortHeaderBytes
             : kLongHeaderBytes;
}

// The largest packet either side may send; the app-connect reply agrees on a
// smaller one.
constexpr std::uint16_t kMaxPacketBytes = 16000;
constexpr std::uint16_t kMinAgreedPacketBytes = 500;

}  // namespace vqeng
