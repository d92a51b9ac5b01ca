#include "streams/packet_scrambler.h"

#include "security/word_scrambler.h"
#include "streams/packet_header.h"

namespace {

// Key, step and body of a packet; false when the header does not fit the bytes.
bool derive(const std::uint8_t* packet, std::uint32_t avail, std::uint32_t* key,
            std::uint32_t* step, std::uint16_t* body, std::uint32_t* header) {
  if (avail < kPktShortHdrBytes) return false;
  const PktHdr h = LoadPktHdr(packet);
  const std::uint32_t hdr = static_cast<std::uint32_t>(PktHeaderSize(h.type));
  if (h.length < hdr || h.length > avail) return false;
  const std::uint16_t b = static_cast<std::uint16_t>(h.length - hdr);
  *key = static_cast<std::uint16_t>(((h.type * 256u) + h.status) ^ b);
  *step = makekey((static_cast<std::uint32_t>(h.type) << 24) |
                      (static_cast<std::uint32_t>(h.status) << 16) | b,
                  b);
  *body = b;
  *header = hdr;
  return true;
}

}  // namespace

bool EncryptPacket(std::uint8_t* packet, std::uint32_t avail) {
  std::uint32_t key, step, hdr;
  std::uint16_t body;
  if (!derive(packet, avail, &key, &step, &body, &hdr)) return false;
  if (body > 2) yach_encrypt(key, step, body, packet + hdr);
  return true;
}

bool DecryptPacket(std::uint8_t* packet, std::uint32_t avail) {
  std::uint32_t key, step, hdr;
  std::uint16_t body;
  if (!derive(packet, avail, &key, &step, &body, &hdr)) return false;
  if (body > 2) yach_decrypt(key, step, body, packet + hdr);
  return true;
}
