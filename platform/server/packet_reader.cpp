// Packet reassembly from a byte stream.
#include "packet_reader.h"

#include "wire.h"

namespace vqeng {

void PacketReader::feed(const std::uint8_t* data, std::size_t len) {
  if (!error_.empty() || len == 0) return;
  // Compact once the consumed prefix is large, so the buffer does not grow
  // without bound on a long connection.
  if (start_ > 0 && (start_ >= 16384 || start_ == buf_.size())) {
    buf_.erase(0, start_);
    start_ = 0;
  }
  buf_.append(reinterpret_cast<const char*>(data), len);
}

Next PacketReader::next(std::string& packet) {
  if (!error_.empty()) return Next::Error;
  const std::size_t avail = buf_.size() - start_;
  if (avail < kShortHeaderBytes) return Next::NeedMore;
  const auto* p = reinterpret_cast<const std::uint8_t*>(buf_.data()) + start_;
  const std::uint16_t total = load_be16(p + 2);
  const std::size_t hdr = header_bytes(p[0]);
  if (total < hdr) {
    error_ = "packet length " + std::to_string(total) + " below its header size " +
             std::to_string(hdr) + " (type " + std::to_string(p[0]) + ")";
    return Next::Error;
  }
  if (total > kMaxPacketBytes) {
    error_ = "packet length " + std::to_string(total) + " above the largest packet";
    return Next::Error;
  }
  if (avail < total) return Next::NeedMore;
  packet.assign(buf_, start_, total);
  start_ += total;
  if (start_ == buf_.size()) {
    buf_.clear();
    start_ = 0;
    if (buf_.capacity() > 65536) buf_.shrink_to_fit();
  }
  return Next::Unit;
}

}  // namespace vqeng
