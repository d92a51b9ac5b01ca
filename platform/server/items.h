// Presentation items inside the data packets of one message.
//
// Item: length byte L, code byte, payload. L = payload length + 1 for payloads of
// 0..250 bytes; the special lengths 251..254 are written as bytes 252..255 with no
// payload, 251 announcing a long value: item 192 (u32 LE total), pieces (193 with
// up to 250 bytes, or 195 with a u16 LE count N followed by N raw bytes in the same
// packet), then item 194. An item never spans two packets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace vqeng {

enum ItemCode : std::uint8_t {
  kItemEnd = 0,
  kItemServerMessage = 2,
  kItemLongHeader = 192,
  kItemPieceOld = 193,
  kItemLongEnd = 194,
  kItemPieceNew = 195,
};

constexpr std::size_t kMaxShortPayload = 250;
constexpr std::uint8_t kLenLong = 251;  // special length: a long value follows

struct Item {
  std::uint8_t code = 0;
  std::uint8_t length = 0;                // payload length, or 251..254 for special lengths
  const std::uint8_t* payload = nullptr;  // valid while the reader's message lives
  bool is_long() const { return length == kLenLong; }
  bool special() const { return length > kMaxShortPayload; }
  std::size_t payload_len() const { return special() ? 0 : length; }
};

// Reads the items of one message (the bodies of its data packets, in order).
// Every length is checked against its packet: an item or raw piece that runs past
// the end of its packet is a protocol error. Errors are sticky.
class ItemReader {
 public:
  explicit ItemReader(const std::vector<std::string>* bodies) : bodies_(bodies) {}

  enum class Result { Ok, EndOfMessage, Error };

  Result next(Item& item);
  // Reads a whole value whose first item is `first` (short, or long with pieces),
  // refusing totals above max_total.
  Result read_value(const Item& first, std::string& out, std::size_t max_total);
  bool at_end() const;
  // Steps back over the item that next() returned last (once).
  void unread() {
    packet_ = prev_packet_;
    pos_ = prev_pos_;
  }
  const std::string& error() const { return error_; }
  Result fail(const std::string& why);

 private:
  bool take_raw(std::size_t n, const std::uint8_t** p);

  const std::vector<std::string>* bodies_;
  std::size_t packet_ = 0;                      // index into *bodies_
  std::size_t pos_ = 0;                         // read position in the current body
  std::size_t prev_packet_ = 0, prev_pos_ = 0;  // where the last item started
  std::string error_;
};

// Writes the items of one outgoing message into data packets of at most
// max_packet bytes, never splitting an item. Long values use new-form pieces when
// the peer takes them.
class ItemWriter {
 public:
  ItemWriter(std::uint16_t max_packet, bool new_form_pieces)
      : max_packet_(max_packet), new_form_(new_form_pieces) {}

  // len <= 250. Written a few bytes at a time for every value of every row sent: the
  // packet in hand is filled here, a new one started out of line.
  void put(std::uint8_t code, const void* payload, std::size_t len) {
    if (len > kMaxShortPayload) len = kMaxShortPayload;  // callers use put_bytes for more
    char* at = take_room(len + 2);
    at[0] = static_cast<char>(len + 1);
    at[1] = static_cast<char>(code);
    if (len != 0) std::memcpy(at + 2, payload, len);
  }
  void put(std::uint8_t code, const std::string& payload) {
    put(code, payload.data(), payload.size());
  }
  void put_empty(std::uint8_t code) { put(code, nullptr, 0); }
  void put_special(std::uint8_t code, std::uint8_t special_len);  // 251..254
  // Short item when it fits in 250 bytes, else a long value.
  void put_bytes(std::uint8_t code, const void* data, std::size_t len) {
    if (len <= kMaxShortPayload)
      put(code, data, len);
    else
      put_long(code, data, len);
  }
  void put_bytes(std::uint8_t code, const std::string& s) {
    put_bytes(code, s.data(), s.size());
  }

  // Ends the message: the last packet gets the end-of-message bit (an empty
  // packet when nothing was written). Returns the packets, headers filled in.
  std::vector<std::string> finish(std::uint8_t extra_status = 0);
  bool empty() const { return packets_.empty(); }
  // Bytes of the packets that are full (every one but the last, which may still grow).
  std::size_t full_bytes() const;
  // Takes the full packets, headers filled in, so that a long reply can go out while
  // the rest is written; finish() then gives the rest, the last with the end bit.
  std::vector<std::string> take_full_packets();

  // A place in what was written, and the items written after it: they are taken
  // out (as item bytes, whole items in order) so that others can go first.
  struct Mark {
    std::size_t packets = 0, bytes = 0;
  };
  Mark mark() const {
    return {packets_.size(), open_ ? used_ : packets_.empty() ? 0 : packets_.back().size()};
  }
  std::string take_since(const Mark& m);
  // Writes item bytes as take_since gave them (long values re-cut as needed).
  void put_raw_items(const std::string& items);

 private:
  // Where an item of n bytes goes: in the last packet while it has room, else at the
  // start of a new one. The last packet is kept open for items (sized to max_packet,
  // of which used_ bytes are written) so that an item is written with plain stores.
  char* take_room(std::size_t n) {
    if (!open_ || used_ + n > max_packet_) open_room(n);
    char* at = &packets_.back()[used_];
    used_ += n;
    return at;
  }
  void open_room(std::size_t n);
  // Cuts the open packet to what was written: every packet is then exactly its bytes.
  void close_last() {
    if (!open_) return;
    packets_.back().resize(used_);
    open_ = false;
  }
  void put_long(std::uint8_t code, const void* data, std::size_t len);  // len > 250

  std::uint16_t max_packet_;
  bool new_form_;
  std::vector<std::string> packets_;
  bool open_ = false;     // packets_.back() is open for items: used_ bytes are written
  std::size_t used_ = 0;
};

}  // namespace vqeng
