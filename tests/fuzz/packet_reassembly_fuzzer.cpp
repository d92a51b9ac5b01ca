// Fuzz target of the transport connection's packet reassembly: any byte stream, cut into
// reads of any sizes, into packet areas of two sizes. Every packet handed up must be
// whole (its header's length is what was delivered, within the area), and nothing is
// read or written past a buffer (ASan).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "../unit/streams/fake_session.h"
#include "../unit/streams/strm_fakes.h"
#include "streams/packet_header.h"
#include "streams/transport.h"

namespace {

class CheckingSession : public vq::testing::FakeSession {
 public:
  explicit CheckingSession(std::uint16_t size) : FakeSession(size), size_(size) {}
  int accept_buff(c_strm_buffer* buffer) override {
    const std::uint16_t used = buffer->used_length();
    const PktHdr h = LoadPktHdr(buffer->packet());
    if (used < 4 || h.length != used || used > size_) std::abort();
    return FakeSession::accept_buff(buffer);
  }
 private:
  std::uint16_t size_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint16_t area = (data[0] & 1) != 0 ? 64 : 7300;
  const std::size_t cut = 1 + data[1] % 97;  // read sizes from 1 to 97, or whole
  const bool whole = data[1] >= 200;
  data += 2;
  size -= 2;

  static c_strm_frlist_controller env_pool(7300);
  static vq::testing::MinimalPort port(STRM_PORT_TCPIP);
  static c_strm_tran_layer tran(nullptr, env_pool.default_pool, nullptr);
  CheckingSession session(area);
  auto* link = new vq::testing::MinimalPconn;
  link->port = &port;
  c_strm_tconn tconn(&tran, link, nullptr);
  tconn.set_sconn(&session);
  if (whole) {
    tconn.accept_bytes(data, static_cast<std::uint32_t>(size));
  } else {
    for (std::size_t at = 0; at < size; at += cut) {
      const std::size_t n = size - at < cut ? size - at : cut;
      tconn.accept_bytes(data + at, static_cast<std::uint32_t>(n));
    }
  }
  tconn.set_sconn(nullptr);
  return 0;
}
