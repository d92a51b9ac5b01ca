// The packet header at the start of every packet the client and the server exchange,
// over both links:
//   0     type
//   1     status bits: 0x01 last packet of a message, 0x20 body scrambled, 0x40 body
//         compressed; the session layer owns the others
//   2-3   total length of the packet, header included: u16 big-endian
//   4-7   reserved, written as zero; present only for types other than 24, 25 and 26
// A packet is at least 4 bytes long; its upper bound is the receiving buffer's packet
// area.
#ifndef VQ_STREAMS_PACKET_HEADER_H
#define VQ_STREAMS_PACKET_HEADER_H

#include <cstddef>
#include <cstdint>

#include "streams/byte_order.h"

constexpr std::size_t kPktTypeAt = 0;
constexpr std::size_t kPktStatusAt = 1;
constexpr std::size_t kPktLengthAt = 2;     // u16 BE
constexpr std::size_t kPktReservedAt = 4;   // 4 bytes, long header only
constexpr std::size_t kPktShortHdrBytes = 4;
constexpr std::size_t kPktLongHdrBytes = 8;
static_assert(kPktLengthAt + 2 == kPktShortHdrBytes, "the short header ends with the length");
static_assert(kPktReservedAt + 4 == kPktLongHdrBytes, "the long header adds 4 reserved bytes");

// The header as fields. Never laid over received bytes: read and written with the
// functions below.
struct PktHdr {
  std::uint8_t type;
  std::uint8_t status;
  std::uint16_t length;  // total bytes, header included
};

// Packet types.
enum : std::uint8_t {
  PKT_CONNECT_FIRST = 2,     // accepted as the first packet of a connection
  PKT_COMPRESSED = 15,       // compressed data
  PKT_ATTENTION = 16,        // attention (status 5, length 8)
  PKT_DATA = 24,             // data
  PKT_APP_CONNECT = 25,      // application connect; the normal first packet
  PKT_LIVENESS = 26,         // liveness (4 bytes) or an immediate server message
  PKT_CONNECTIONLESS = 27,   // the TCP/IP link's server-name check
};

// Status bits.
enum : std::uint8_t {
  PKT_STATUS_EOM = 0x01,         // last packet of a message
  PKT_STATUS_SCRAMBLED = 0x20,   // the body is scrambled
  PKT_STATUS_COMPRESSED = 0x40,  // the body is compressed
};

// The header size of a packet type: 4 for types 24, 25 and 26, 8 otherwise.
constexpr std::size_t PktHeaderSize(std::uint8_t type) {
  return (type == PKT_DATA || type == PKT_APP_CONNECT || type == PKT_LIVENESS)
             ? kPktShortHdrBytes
             : kPktLongHdrBytes;
}

// The fields of the header at `p`, which must hold at least 4 bytes.
inline PktHdr LoadPktHdr(const std::uint8_t* p) {
  return PktHdr{p[kPktTypeAt], p[kPktStatusAt], vq::strm::load_be16(p + kPktLengthAt)};
}

// Writes the header of the type (4 or 8 bytes, reserved bytes zero) at `p`; returns
// its size.
inline std::size_t StorePktHdr(std::uint8_t* p, const PktHdr& h) {
  p[kPktTypeAt] = h.type;
  p[kPktStatusAt] = h.status;
  vq::strm::store_be16(p + kPktLengthAt, h.length);
  const std::size_t n = PktHeaderSize(h.type);
  for (std::size_t i = kPktReservedAt; i < n; ++i) p[i] = 0;
  return n;
}

#endif  // VQ_STREAMS_PACKET_HEADER_H
