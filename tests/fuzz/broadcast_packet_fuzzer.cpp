// Fuzz target of the discovery-packet reader: any datagram is read by every kind of
// reader from an exact-size copy (so a read past its end is caught); an accepted one
// holds texts that fit their sections, and a connectionless packet rebuilt from the
// fields reads back as the same kind with the same server name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "net/broadcast_packet.h"

namespace {
void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckText(const char* text, bool address) {
  if (text == nullptr) return;
  Check(std::strlen(text) <= kMaxSectionText);
  if (address) Check(std::strchr(text, '%') == nullptr);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 0xFFFF) return 0;
  std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[size]);
  if (size != 0) std::memcpy(exact.get(), data, size);
  for (std::uint32_t kind = BROADCAST_PKT_UNKNOWN; kind <= BROADCAST_PKT_VQP_RESPONSE; ++kind) {
    for (std::uint32_t protocol = 0; protocol <= 1; ++protocol) {
      for (std::uint32_t flag = 0; flag <= 1; ++flag) {
        c_strm_broadcast_pkt pkt(static_cast<a_broadcast_pkt_type>(kind), nullptr, protocol);
        if (pkt.readData(exact.get(), static_cast<unsigned>(size), nullptr,
                         static_cast<a_broadcast_flag>(flag)) == 0)
          continue;
        CheckText(pkt.serverName, false);
        CheckText(pkt.altServerName, false);
        CheckText(pkt.addressText, true);
        CheckText(pkt.dbName, false);
        Check(pkt.kind != BROADCAST_PKT_UNKNOWN);
        const std::uint8_t* built = pkt.getPacket();
        Check(built != nullptr);
        if (pkt.kind != BROADCAST_PKT_VQP_REQUEST && pkt.kind != BROADCAST_PKT_VQP_RESPONSE)
          continue;
        const unsigned length = pkt.getPacketLength();
        std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[length]);
        std::memcpy(copy.get(), built, length);
        c_strm_broadcast_pkt back(BROADCAST_PKT_UNKNOWN, nullptr, 0);
        Check(back.readData(copy.get(), length, nullptr, BROADCAST_WITH_HEADER) == 1);
        Check(back.kind == pkt.kind);
        if (pkt.version != 0 && pkt.hasSection(0)) {
          Check((back.serverName == nullptr) == (pkt.serverName == nullptr));
          if (pkt.serverName != nullptr)
            Check(std::strcmp(back.serverName, pkt.serverName) == 0);
        }
      }
    }
  }
  return 0;
}
