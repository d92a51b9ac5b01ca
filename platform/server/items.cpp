// Item reading and writing over the packets of one message.
#include "items.h"

#include <algorithm>
#include <cstring>

#include "wire.h"

namespace vqeng {

ItemReader::Result ItemReader::fail(const std::string& why) {
  if (error_.empty()) error_ = why;
  return Result::Error;
}

bool ItemReader::at_end() const {
  std::size_t pk = packet_, pos = pos_;
  while (pk < bodies_->size()) {
    if (pos < (*bodies_)[pk].size()) return false;
    ++pk;
    pos = 0;
  }
  return true;
}

ItemReader::Result ItemReader::next(Item& item) {
  if (!error_.empty()) return Result::Error;
  while (packet_ < bodies_->size() && pos_ >= (*bodies_)[packet_].size()) {
    ++packet_;
    pos_ = 0;
  }
  if (packet_ >= bodies_->size()) return Result::EndOfMessage;
  prev_packet_ = packet_;
  prev_pos_ = pos_;
  const std::string& body = (*bodies_)[packet_];
  const auto* p = reinterpret_cast<const std::uint8_t*>(body.data());
  const std::size_t left = body.size() - pos_;
  const std::uint8_t lb = p[pos_];
  if (lb == 0) return fail("item with length byte 0");
  if (left < 2) return fail("item cut off by the end of its packet");
  item.code = p[pos_ + 1];
  item.length = static_cast<std::uint8_t>(lb - 1);
  if (lb >= 252) {
    item.payload = nullptr;
    pos_ += 2;
    return Result::Ok;
  }
  if (left < static_cast<std::size_t>(lb) + 1)
    return fail("item " + std::to_string(item.code) + " of " + std::to_string(item.length) +
                " bytes runs past the end of its packet");
  item.payload = p + pos_ + 2;
  pos_ += static_cast<std::size_t>(lb) + 1;
  return Result::Ok;
}

bool ItemReader::take_raw(std::size_t n, const std::uint8_t** out) {
  if (packet_ >= bodies_->size()) return false;
  const std::string& body = (*bodies_)[packet_];
  if (body.size() - pos_ < n) return false;
  *out = reinterpret_cast<const std::uint8_t*>(body.data()) + pos_;
  pos_ += n;
  return true;
}

ItemReader::Result ItemReader::read_value(const Item& first, std::string& out,
                                          std::size_t max_total) {
  out.clear();
  if (!first.special()) {
    out.assign(reinterpret_cast<const char*>(first.payload), first.length);
    return Result::Ok;
  }
  if (!first.is_long())
    return fail("value item " + std::to_string(first.code) + " with special length");
  Item it;
  if (next(it) != Result::Ok || it.code != kItemLongHeader || it.length != 4)
    return fail("long value without its length item");
  const std::uint32_t total = load_le32(it.payload);
  if (total > max_total)
    return fail("long value of " + std::to_string(total) + " bytes is too large");
  out.reserve(total);
  for (;;) {
    if (next(it) != Result::Ok) return fail("long value cut off");
    if (it.code == kItemLongEnd) break;
    if (it.code == kItemPieceOld) {
      if (it.special()) return fail("old-form piece with special length");
      out.append(reinterpret_cast<const char*>(it.payload), it.length);
    } else if (it.code == kItemPieceNew) {
      if (it.length != 2) return fail("new-form piece without its count");
      const std::uint16_t n = load_le16(it.payload);
      const std::uint8_t* raw = nullptr;
      if (!take_raw(n, &raw)) return fail("new-form piece runs past the end of its packet");
      out.append(reinterpret_cast<const char*>(raw), n);
    } else {
      return fail("item " + std::to_string(it.code) + " inside a long value");
    }
    if (out.size() > total) return fail("long value longer than announced");
  }
  if (out.size() != total) return fail("long value shorter than announced");
  return Result::Ok;
}

void ItemWriter::open_room(std::size_t n) {
  if (!open_ && !packets_.empty() && packets_.back().size() + n <= max_packet_) {
    used_ = packets_.back().size();  // the last packet has room: reopened
  } else {
    close_last();
    packets_.emplace_back(kShortHeaderBytes, '\0');
    packets_.back()[0] = static_cast<char>(kPktData);
    used_ = kShortHeaderBytes;
  }
  // (An item larger than a packet still goes whole into one of its own.)
  packets_.back().resize(std::max<std::size_t>(max_packet_, used_ + n));
  open_ = true;
}

void ItemWriter::put_special(std::uint8_t code, std::uint8_t special_len) {
  char* at = take_room(2);
  at[0] = static_cast<char>(special_len + 1);
  at[1] = static_cast<char>(code);
}

void ItemWriter::put_long(std::uint8_t code, const void* data, std::size_t len) {
  const auto* src = static_cast<const char*>(data);
  put_special(code, kLenLong);
  std::string total;
  put_le32(total, static_cast<std::uint32_t>(len));
  put(kItemLongHeader, total);
  std::size_t done = 0;
  while (done < len) {
    if (!new_form_) {
      const std::size_t n = std::min(len - done, kMaxShortPayload);
      put(kItemPieceOld, src + done, n);
      done += n;
      continue;
    }
    // A new-form piece fills what is left of the packet; with little room left we
    // start the next packet rather than send a tiny piece.
    close_last();
    std::size_t room = packets_.empty() ? 0 : max_packet_ - packets_.back().size();
    if (room < 4 + 22) {
      packets_.emplace_back(kShortHeaderBytes, '\0');
      packets_.back()[0] = static_cast<char>(kPktData);
      room = max_packet_ - kShortHeaderBytes;
    }
    const std::size_t n = std::min({len - done, room - 4, std::size_t{0xFFFF}});
    std::string& pk = packets_.back();
    pk.push_back(3);
    pk.push_back(static_cast<char>(kItemPieceNew));
    put_le16(pk, static_cast<std::uint16_t>(n));
    pk.append(src + done, n);
    done += n;
  }
  put_empty(kItemLongEnd);
}

std::string ItemWriter::take_since(const Mark& m) {
  close_last();
  std::string out;
  if (m.packets == 0 || m.packets > packets_.size()) {
    for (const auto& pk : packets_) out += pk.substr(kShortHeaderBytes);
    if (m.packets == 0) packets_.clear();
    return out;
  }
  out += packets_[m.packets - 1].substr(m.bytes);
  packets_[m.packets - 1].resize(m.bytes);
  for (std::size_t i = m.packets; i < packets_.size(); ++i)
    out += packets_[i].substr(kShortHeaderBytes);
  packets_.resize(m.packets);
  return out;
}

void ItemWriter::put_raw_items(const std::string& items) {
  const std::vector<std::string> bodies{items};
  ItemReader r(&bodies);
  Item it;
  while (r.next(it) == ItemReader::Result::Ok) {
    if (it.special() && !it.is_long()) {
      put_special(it.code, it.length);
      continue;
    }
    std::string v;
    if (r.read_value(it, v, items.size()) != ItemReader::Result::Ok) return;
    put_bytes(it.code, v);
  }
}

std::size_t ItemWriter::full_bytes() const {
  std::size_t n = 0;
  for (std::size_t i = 0; i + 1 < packets_.size(); ++i) n += packets_[i].size();
  return n;
}

std::vector<std::string> ItemWriter::take_full_packets() {
  std::vector<std::string> out;
  if (packets_.size() < 2) return out;
  std::string last = std::move(packets_.back());
  packets_.pop_back();
  for (auto& pk : packets_) {
    store_be16(reinterpret_cast<std::uint8_t*>(&pk[2]), static_cast<std::uint16_t>(pk.size()));
  }
  out.swap(packets_);
  packets_.push_back(std::move(last));
  return out;
}

std::vector<std::string> ItemWriter::finish(std::uint8_t extra_status) {
  close_last();
  if (packets_.empty()) {
    packets_.emplace_back(kShortHeaderBytes, '\0');
    packets_.back()[0] = static_cast<char>(kPktData);
  }
  for (auto& pk : packets_) {
    store_be16(reinterpret_cast<std::uint8_t*>(&pk[2]), static_cast<std::uint16_t>(pk.size()));
  }
  packets_.back()[1] = static_cast<char>(kStatusEndOfMessage | extra_status);
  std::vector<std::string> out;
  out.swap(packets_);
  return out;
}

}  // namespace vqeng
