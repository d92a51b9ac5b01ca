// Scrambling of whole packets for the "simple" encryption level. The header is never
// scrambled: the receiver derives the same key and step from it (type, status with bit
// 0x20, body length). Bodies of 2 bytes or fewer are left as they are.
#ifndef VQ_STREAMS_PACKET_SCRAMBLER_H
#define VQ_STREAMS_PACKET_SCRAMBLER_H

#include <cstdint>

// Scramble and restore the packet at `packet` in place; `avail` is the number of bytes
// readable and writable there. False, and nothing changed, when the header's length is
// below the type's header size or above `avail` (a peer's length is never trusted).
bool EncryptPacket(std::uint8_t* packet, std::uint32_t avail);
bool DecryptPacket(std::uint8_t* packet, std::uint32_t avail);

#endif  // VQ_STREAMS_PACKET_SCRAMBLER_H
