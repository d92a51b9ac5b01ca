// Rebuilds whole packets from the byte stream of one client connection. It is fed
// the bytes the transport received and hands out one packet at a time; it never
// reads a socket. Only the header is checked here (length at least the header
// size and at most the largest packet); what a packet means is the session's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vqeng {

enum class Next { Unit, NeedMore, Error };

class PacketReader {
 public:
  // Appends bytes; they stay buffered until next() hands out whole packets.
  void feed(const std::uint8_t* data, std::size_t len);

  // Unit: `packet` holds one whole packet, header included. NeedMore: no whole
  // packet buffered yet. Error: the stream is broken (error() says why); every
  // later call answers Error again.
  Next next(std::string& packet);

  const std::string& error() const { return error_; }
  std::size_t buffered() const { return buf_.size() - start_; }

 private:
  std::string buf_;
  std::size_t start_ = 0;  // first unconsumed byte of buf_
  std::string error_;      // sticky once set
};

}  // namespace vqeng
