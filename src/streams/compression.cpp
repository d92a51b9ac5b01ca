#include "streams/compression.h"

#include <cstring>

#include "streams/buffer_pool.h"
#include "streams/packet_header.h"
#include "utils/base/memory.h"

namespace {

constexpr int kLevel = 9;
constexpr int kWindowBits = 12;
constexpr int kMemLevel = 5;
constexpr std::uint8_t kItemPieceNewForm = 195;
constexpr std::uint8_t kStatusNotLast = PKT_STATUS_EOM | 0x02;  // bits a non-final piece drops

voidpf z_alloc(voidpf, uInt items, uInt size) {
  return ut_malloc(static_cast<std::size_t>(items) * size);
}
void z_free(voidpf, voidpf block) { ut_free(block); }

}  // namespace

std::size_t get_complete_du_size(const std::uint8_t* bytes, std::size_t n) {
  std::size_t at = 0;
  while (at < n) {
    const std::uint8_t length = bytes[at];
    if (length == 0) break;  // not an item: no run goes past it
    std::size_t item = length <= 251 ? static_cast<std::size_t>(length) + 1 : 2;
    if (length <= 251 && length >= 3 && at + 4 <= n && bytes[at + 1] == kItemPieceNewForm) {
      item += static_cast<std::size_t>(bytes[at + 2]) | (static_cast<std::size_t>(bytes[at + 3]) << 8);
    }
    if (at + item > n) break;
    at += item;
  }
  return at;
}

c_strm_compression::c_strm_compression() = default;

c_strm_compression::~c_strm_compression() {
  if (deflate_ready_) deflateEnd(&deflate_);
  if (inflate_ready_) inflateEnd(&inflate_);
  give_back(pending_);
  ut_free(decomp_work_);
  ut_free(comp_work_);
}

bool c_strm_compression::start_compression(std::uint16_t threshold, std::uint16_t buffer_size,
                                           std::uint16_t max_packet_size,
                                           c_strm_buff_frlist* pool, a_shared_flag kind,
                                           std::uint16_t header_room) {
  if (started_ || pool == nullptr || buffer_size <= kPktShortHdrBytes) return false;
  threshold_ = threshold != 0 ? threshold : kDefaultThreshold;
  buffer_size_ = buffer_size;
  limit_ = max_packet_size < buffer_size ? max_packet_size : buffer_size;
  if (limit_ <= kPktShortHdrBytes) return false;
  pool_ = pool;
  kind_ = kind;
  header_room_ = header_room;
  decomp_work_ = static_cast<std::uint8_t*>(ut_malloc(std::size_t{buffer_size} + 1));
  comp_work_ = static_cast<std::uint8_t*>(ut_malloc(2 * std::size_t{buffer_size} + 1));
  deflate_.zalloc = z_alloc;
  deflate_.zfree = z_free;
  inflate_.zalloc = z_alloc;
  inflate_.zfree = z_free;
  if (decomp_work_ != nullptr && comp_work_ != nullptr) {
    deflate_ready_ = deflateInit2(&deflate_, kLevel, Z_DEFLATED, kWindowBits, kMemLevel,
                                  Z_DEFAULT_STRATEGY) == Z_OK;
    inflate_ready_ = deflate_ready_ && inflateInit2(&inflate_, kWindowBits) == Z_OK;
  }
  if (!deflate_ready_ || !inflate_ready_) {
    if (deflate_ready_) deflateEnd(&deflate_);
    deflate_ready_ = false;
    ut_free(decomp_work_);
    ut_free(comp_work_);
    decomp_work_ = comp_work_ = nullptr;
    return false;
  }
  started_ = true;
  return true;
}

c_strm_buffer* c_strm_compression::new_buffer() {
  c_strm_buffer* b = pool_->get_buffer(kind_);
  if (b == nullptr) return nullptr;
  if (b->data == nullptr || b->capacity < kBlkPrefixBytes + header_room_ + limit_) {
    pool_->done_buffer(b);
    return nullptr;
  }
  b->set_header_offset(header_room_);
  b->set_used_length(0);
  return b;
}

void c_strm_compression::give_back(c_strm_buffer* buffer) {
  if (buffer != nullptr && pool_ != nullptr) pool_->done_buffer(buffer);
}

void c_strm_compression::buff_comp_data_for_send(c_strm_buffer* buffer, std::uint32_t count,
                                                 std::uint8_t status) {
  std::uint8_t* packet = buffer->packet();
  std::memcpy(packet + kPktShortHdrBytes, comp_work_, count);
  const std::uint16_t length = static_cast<std::uint16_t>(count + kPktShortHdrBytes);
  StorePktHdr(packet, PktHdr{PKT_DATA, static_cast<std::uint8_t>(status | PKT_STATUS_COMPRESSED),
                             length});
  buffer->set_used_length(length);
}

int c_strm_compression::maybe_send_comp_data(c_strm_buffer* buffer, std::uint32_t count,
                                             std::uint8_t status) {
  const std::uint32_t body_room = limit_ - kPktShortHdrBytes;
  const bool message_goes_on = (status & PKT_STATUS_EOM) == 0;
  // Hold while another half packet of input would likely still fit at this ratio.
  if (message_goes_on && body_room >= count &&
      body_room - count >= static_cast<std::uint32_t>((std::uint64_t{body_room} / 2 * ratio_) / 10000)) {
    held_ = count;
    return buffer != nullptr ? 0 : 1;
  }
  c_strm_buffer* target = buffer;
  if (target == nullptr) {
    target = new_buffer();
    if (target == nullptr) return -1;
    pending_ = target;
  }
  buff_comp_data_for_send(target, count, status);
  held_ = 0;
  return buffer != nullptr ? 1 : 2;
}

int c_strm_compression::compress_out_buff(c_strm_buffer** current) {
  c_strm_buffer* packet = *current;
  const PktHdr h = LoadPktHdr(packet->packet());
  const std::uint8_t status = h.status;
  const std::uint32_t body = h.length - kPktShortHdrBytes;
  const std::uint32_t room = limit_ - 3;

  deflate_.next_in = packet->packet() + kPktShortHdrBytes;
  deflate_.avail_in = body;
  deflate_.next_out = comp_work_ + held_;
  deflate_.avail_out = room;
  const int rc = deflate(&deflate_, Z_PARTIAL_FLUSH);
  const std::uint32_t produced = room - deflate_.avail_out;

  if ((rc != Z_OK && rc != Z_BUF_ERROR) || deflate_.avail_in != 0 ||
      produced > limit_ - kPktShortHdrBytes) {
    // Too big (or failed): the packet goes as it is, after the held bytes, and the
    // next compressed packet starts a fresh stream.
    c_strm_buffer* held_packet = new_buffer();
    if (held_packet == nullptr) return -1;
    buff_comp_data_for_send(held_packet, held_,
                            static_cast<std::uint8_t>(status & ~kStatusNotLast));
    pending_ = packet;
    *current = held_packet;
    held_ = 0;
    deflateReset(&deflate_);
    return 2;
  }
  // A packet without a body says nothing about the ratio.
  if ((status & PKT_STATUS_EOM) == 0 && body != 0) {
    ratio_ = 99 * ratio_ / 100 + 100 * produced / body;
  }
  if (held_ + produced <= limit_ - kPktShortHdrBytes) {
    return maybe_send_comp_data(packet, held_ + produced, status);
  }
  buff_comp_data_for_send(packet, held_, static_cast<std::uint8_t>(status & ~kStatusNotLast));
  std::memmove(comp_work_, comp_work_ + held_, produced);
  held_ = 0;
  return maybe_send_comp_data(nullptr, produced, status);
}

int c_strm_compression::prepare_flush(c_strm_buffer* current, c_strm_buffer* out[2]) {
  const bool allowed = allowed_;
  allowed_ = true;
  if (pending_ != nullptr) {
    out[0] = current;
    out[1] = pending_;
    pending_ = nullptr;
    return 2;
  }
  const PktHdr h = LoadPktHdr(current->packet());
  if (!started_ || !allowed || h.type != PKT_DATA || (h.status & PKT_STATUS_COMPRESSED) != 0) {
    out[0] = current;
    return 1;
  }
  if (held_ == 0 && h.length < threshold_) {
    out[0] = current;
    return 1;
  }
  c_strm_buffer* packet = current;
  const int rc = compress_out_buff(&packet);
  switch (rc) {
    case -1:
      give_back(current);
      return -1;
    case 0:
      give_back(current);
      return 0;
    case 1:
      out[0] = packet;
      return 1;
    default:
      out[0] = packet;
      out[1] = pending_;
      pending_ = nullptr;
      return 2;
  }
}

bool c_strm_compression::decompress_buff(c_strm_buffer* packet, c_strm_buffer_list& queue) {
  const PktHdr h = LoadPktHdr(packet->packet());
  const std::uint8_t status = static_cast<std::uint8_t>(h.status & ~PKT_STATUS_COMPRESSED);
  const std::uint32_t fits = buffer_size_ - kPktShortHdrBytes;  // output one packet takes
  inflate_.next_in = packet->packet() + kPktShortHdrBytes;
  inflate_.avail_in = h.length - kPktShortHdrBytes;
  std::uint32_t produced = 0;
  c_strm_buffer_list made;
  for (;;) {
    // Never below one byte of room: `produced` stays at most fits + 1 here.
    const std::uint32_t room = buffer_size_ - produced - 3;
    inflate_.next_out = decomp_work_ + produced;
    inflate_.avail_out = room;
    const int rc = inflate(&inflate_, Z_PARTIAL_FLUSH);
    if (rc != Z_OK && rc != Z_BUF_ERROR) break;
    produced += room - inflate_.avail_out;
    const bool drained = inflate_.avail_in == 0 && inflate_.avail_out != 0;
    if (produced <= fits) {
      if (!drained) continue;
      // The rest goes back into the received packet, which keeps the message's end.
      std::uint8_t* out = packet->packet();
      std::memcpy(out + kPktShortHdrBytes, decomp_work_, produced);
      StorePktHdr(out, PktHdr{PKT_DATA, status,
                              static_cast<std::uint16_t>(produced + kPktShortHdrBytes)});
      packet->set_used_length(static_cast<std::uint16_t>(produced + kPktShortHdrBytes));
      while (c_strm_buffer* b = made.first_element()) {
        b->unlink();
        queue.append(b);
      }
      queue.append(packet);
      return true;
    }
    // More than one packet's worth: queue the whole items that fit and go on.
    const std::size_t cut = get_complete_du_size(decomp_work_, fits);
    if (cut == 0) break;  // an item larger than a packet: no progress is possible
    c_strm_buffer* piece = new_buffer();
    if (piece == nullptr) break;
    std::memcpy(piece->packet() + kPktShortHdrBytes, decomp_work_, cut);
    const std::uint16_t length = static_cast<std::uint16_t>(cut + kPktShortHdrBytes);
    StorePktHdr(piece->packet(),
                PktHdr{PKT_DATA, static_cast<std::uint8_t>(status & ~kStatusNotLast), length});
    piece->set_used_length(length);
    made.append(piece);
    std::memmove(decomp_work_, decomp_work_ + cut, produced - cut);
    produced -= static_cast<std::uint32_t>(cut);
  }
  while (c_strm_buffer* b = made.first_element()) {
    b->unlink();
    give_back(b);
  }
  return false;
}

bool c_strm_compression::decompress_and_append(c_strm_buffer* packet, c_strm_buffer_list& queue) {
  const PktHdr h = LoadPktHdr(packet->packet());
  const bool compressed = (h.status & PKT_STATUS_COMPRESSED) != 0;
  if (compressed) {
    if (!started_ || h.type != PKT_DATA || h.length < kPktShortHdrBytes ||
        h.length > packet->used_length() ||
        packet->packet_room() < buffer_size_ || !decompress_buff(packet, queue)) {
      give_back(packet);
      return false;
    }
    return true;
  }
  if (started_ && h.length >= threshold_) inflateReset(&inflate_);
  queue.append(packet);
  return true;
}

void c_strm_compression::discard_out_comp_buff() {
  held_ = 0;
  give_back(pending_);
  pending_ = nullptr;
}

void c_strm_compression::reset() {
  if (!started_) return;
  deflateReset(&deflate_);
  inflateReset(&inflate_);
  discard_out_comp_buff();
}
