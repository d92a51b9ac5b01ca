// Compression of a connection's data packets: one deflate stream for what the
// connection sends and one inflate stream for what it receives, each continuous across
// packets (partial flush). Small packets go as they are; compressed output is held back
// and packed into fuller packets while the observed ratio says there is room, and a
// packet never exceeds the agreed size or splits an item.
//
// A compressed packet is of type 24 with status bit 0x40; its body (after the 4-byte
// header) is deflate output. L, the smaller of the maximum packet size and the buffer
// size, bounds every packet: a compressed body holds at most L - 4 bytes.
#ifndef VQ_STREAMS_COMPRESSION_H
#define VQ_STREAMS_COMPRESSION_H

#include <zlib.h>

#include <cstddef>
#include <cstdint>

#include "streams/packet_buffer.h"

class c_strm_buff_frlist;

// The length of the longest run of whole presentation items at the start of `bytes`
// within `n` bytes. An item is L + 1 bytes for a length byte L of 1 to 251, else 2;
// item 195 is followed by the u16 count of raw bytes in its payload. A length byte of
// 0 ends the run.
std::size_t get_complete_du_size(const std::uint8_t* bytes, std::size_t n);

class c_strm_compression {
 public:
  // The threshold when the peer gives 0.
  static constexpr std::uint16_t kDefaultThreshold = 120;
  // Start of the ratio estimate, in hundredths of a percent.
  static constexpr std::uint32_t kStartRatio = 5000;

  c_strm_compression();
  ~c_strm_compression();  // ends both streams, gives the pending packet back
  c_strm_compression(const c_strm_compression&) = delete;
  c_strm_compression& operator=(const c_strm_compression&) = delete;

  // Sets up both streams (level 9, window bits 12, memory level 5) and the work
  // buffers. New buffers come from `pool`, of `kind`, with `header_room` bytes before
  // the packet. False when anything fails (nothing is left half made).
  bool start_compression(std::uint16_t threshold, std::uint16_t buffer_size,
                         std::uint16_t max_packet_size, c_strm_buff_frlist* pool,
                         a_shared_flag kind, std::uint16_t header_room);
  bool started() const { return started_; }

  // Decides how the finished outgoing packet `current` (length set, status with its
  // end-of-message bit) goes: the packets to send, in order, in out[0..n), the last one
  // carrying the end of message. Returns n (1 or 2), 0 when the data is held (the
  // packet was given back to the pool), or -1 when no buffer could be had (the packet
  // was given back). Packets other than uncompressed type 24 go as they are.
  int prepare_flush(c_strm_buffer* current, c_strm_buffer* out[2]);
  // Whether the next flush may compress (the session clears it for a packet that must
  // go as it is); set again after every flush.
  void allow(bool on) { allowed_ = on; }

  // A received type-24 or type-15 packet (before start_compression too): an uncompressed one is appended to `queue`
  // as it is (an uncompressed packet of the threshold's size or more resets the inflate
  // stream, as the sender reset its deflate stream); a compressed one is inflated into
  // one or more packets appended in order, only the last keeping the end-of-message
  // bit. False, with the packet given back, for a compressed packet on a connection
  // without compression, a compressed packet of another type, or one that does not
  // inflate.
  bool decompress_and_append(c_strm_buffer* packet, c_strm_buffer_list& queue);

  // Puts back the second packet of a flush whose first packet the link refused, so
  // that it follows the first at the next flush.
  void restore_pending(c_strm_buffer* packet) { pending_ = packet; }

  // After an acknowledged attention: both streams reset, held and pending output gone.
  void reset();

  std::uint16_t threshold() const { return threshold_; }
  std::uint32_t ratio() const { return ratio_; }
  std::uint32_t held() const { return held_; }

 private:
  int compress_out_buff(c_strm_buffer** current);
  int maybe_send_comp_data(c_strm_buffer* buffer, std::uint32_t count, std::uint8_t status);
  void buff_comp_data_for_send(c_strm_buffer* buffer, std::uint32_t count, std::uint8_t status);
  c_strm_buffer* new_buffer();
  void give_back(c_strm_buffer* buffer);
  bool decompress_buff(c_strm_buffer* packet, c_strm_buffer_list& queue);
  void discard_out_comp_buff();

  bool started_ = false;
  bool deflate_ready_ = false;
  bool inflate_ready_ = false;
  std::uint16_t threshold_ = kDefaultThreshold;
  std::uint16_t buffer_size_ = 0;
  std::uint16_t limit_ = 0;                 // L
  z_stream inflate_{};
  z_stream deflate_{};
  std::uint8_t* decomp_work_ = nullptr;     // buffer size + 1 bytes
  std::uint8_t* comp_work_ = nullptr;       // 2 x buffer size + 1 bytes
  std::uint32_t held_ = 0;                  // compressed bytes held in comp_work_
  std::uint32_t ratio_ = kStartRatio;       // compressed size per input, 1/100 percent
  c_strm_buffer* pending_ = nullptr;        // sent right after the current packet
  bool allowed_ = true;
  c_strm_buff_frlist* pool_ = nullptr;
  a_shared_flag kind_ = STRM_PRIVATE_MEM;
  std::uint16_t header_room_ = 0;
};

#endif  // VQ_STREAMS_COMPRESSION_H
