// Fuzz target of the receiving side of stream compression: arbitrary packets, marked
// compressed or not, fed to one inflate stream in turn. Each is refused cleanly or
// becomes whole packets that fit the connection's buffers; nothing is read or written
// past a buffer (ASan).
//
// Input: byte 0 chooses the buffer size (small sizes make inflated output split);
// then packets, each a 2-byte length (little-endian), a status byte (0x40 compressed,
// 0x01 end of message) and the body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "streams/buffer_pool.h"
#include "streams/compression.h"
#include "streams/packet_header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static const std::uint16_t kSizes[] = {300, 1000, 7300};
  const std::uint16_t buffer_size = kSizes[data[0] % 3];
  ++data;
  --size;

  c_strm_frlist_controller controller(buffer_size);
  c_strm_buff_frlist* pool = controller.default_pool;
  c_strm_buffer_list queue;
  {
    c_strm_compression comp;
    if (!comp.start_compression(0, buffer_size, 16000, pool, STRM_PRIVATE_MEM, 0)) return 0;
    while (size >= 3) {
      std::size_t n = static_cast<std::size_t>(data[0] | (data[1] << 8));
      const std::uint8_t status = data[2] & (PKT_STATUS_COMPRESSED | PKT_STATUS_EOM);
      data += 3;
      size -= 3;
      if (n > size) n = size;
      if (n + kPktShortHdrBytes > buffer_size) n = buffer_size - kPktShortHdrBytes;
      c_strm_buffer* b = pool->get_buffer(STRM_PRIVATE_MEM);
      if (b == nullptr) break;
      b->set_header_offset(0);
      const std::uint16_t length = static_cast<std::uint16_t>(n + kPktShortHdrBytes);
      StorePktHdr(b->packet(), PktHdr{PKT_DATA, status, length});
      for (std::size_t i = 0; i < n; ++i) b->packet()[kPktShortHdrBytes + i] = data[i];
      b->set_used_length(length);
      data += n;
      size -= n;
      if (!comp.decompress_and_append(b, queue)) break;
      // Every packet handed on is whole and fits a buffer.
      while (c_strm_buffer* out = queue.first_element()) {
        out->unlink();
        const PktHdr h = LoadPktHdr(out->packet());
        if (h.length != out->used_length() || h.length < kPktShortHdrBytes ||
            h.length > buffer_size || (h.status & PKT_STATUS_COMPRESSED) != 0) {
          std::abort();
        }
        pool->done_buffer(out);
      }
    }
  }
  while (c_strm_buffer* out = queue.first_element()) {
    out->unlink();
    pool->done_buffer(out);
  }
  return 0;
}
