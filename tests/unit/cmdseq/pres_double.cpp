// The scripted presentation layer (see pres_double.h) and the SQLPres*/Strm* functions
// over it.
#include "pres_double.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "streams/stream_api.h"

// --- Script ---------------------------------------------------------------------------------

a_strm_conn_rec& a_strm_conn_rec::item(std::uint8_t code, const Bytes& payload) {
  Entry e;
  e.code = code;
  e.length = static_cast<std::uint8_t>(payload.size());
  e.payload = payload;
  entries_.push_back(std::move(e));
  return *this;
}

a_strm_conn_rec& a_strm_conn_rec::item(std::uint8_t code, const std::string& text) {
  return item(code, text_bytes(text));
}

a_strm_conn_rec& a_strm_conn_rec::special(std::uint8_t code, std::uint8_t length) {
  Entry e;
  e.code = code;
  e.length = length;
  entries_.push_back(std::move(e));
  return *this;
}

a_strm_conn_rec& a_strm_conn_rec::long_item(std::uint8_t code, const Bytes& value,
                                            std::size_t piece, long long announced) {
  special(code, 251);
  item(SQLPRES_ITEM_LONG_HEADER,
       le32(static_cast<std::uint32_t>(announced >= 0 ? announced : value.size())));
  for (std::size_t at = 0; at < value.size(); at += piece) {
    const std::size_t n = std::min(piece, value.size() - at);
    item(SQLPRES_ITEM_PIECE, Bytes(value.begin() + at, value.begin() + at + n));
  }
  return item(SQLPRES_ITEM_LONG_END);
}

a_strm_conn_rec& a_strm_conn_rec::fail(a_sqlpres_code code) {
  Entry e;
  e.kind = Entry::Kind::kFail;
  e.code = static_cast<std::uint8_t>(code);
  entries_.push_back(std::move(e));
  return *this;
}

a_strm_conn_rec& a_strm_conn_rec::sync() {
  Entry e;
  e.kind = Entry::Kind::kSync;
  entries_.push_back(std::move(e));
  return *this;
}

a_strm_conn_rec& a_strm_conn_rec::wire(const std::uint8_t* bytes, std::size_t n) {
  std::size_t at = 0;
  while (at + 2 <= n) {
    const std::uint8_t l = bytes[at];
    const std::uint8_t code = bytes[at + 1];
    at += 2;
    if (l == 0) {
      if (code == 0) {
        sync();
      } else {
        fail(code);
      }
    } else if (l >= 252) {
      special(code, static_cast<std::uint8_t>(l - 1));
    } else {
      const std::size_t len = l - 1u;
      if (at + len > n) break;
      item(code, Bytes(bytes + at, bytes + at + len));
      at += len;
    }
  }
  return *this;
}

// --- Receiving ------------------------------------------------------------------------------

void a_strm_conn_rec::drop_through_sync() {
  while (!entries_.empty()) {
    const bool was_sync = entries_.front().kind == Entry::Kind::kSync;
    entries_.pop_front();
    if (was_sync) return;
  }
}

// Delivers the acknowledgement of an outstanding attention when it is due.
bool a_strm_conn_rec::take_ack() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!attention_) return false;
  if (ack == Ack::kAtOnce) {
    drop_through_sync();
  } else if (!entries_.empty() && entries_.front().kind != Entry::Kind::kSync) {
    return false;  // the rest of the reply comes first
  } else if (!entries_.empty()) {
    entries_.pop_front();
  }
  attention_ = false;
  receiving_ = false;
  return true;
}

a_sqlpres_code a_strm_conn_rec::receive(std::uint8_t* code, std::uint8_t* length,
                                        const std::uint8_t** payload) {
  *code = 0;
  *length = 0;
  *payload = nullptr;
  if (take_ack()) return SQLPRES_CANCELLED;
  while (!entries_.empty() && entries_.front().kind == Entry::Kind::kSync) entries_.pop_front();
  if (entries_.empty()) {
    ++overruns;
    return SQLPRES_FAILED;
  }
  current_ = std::move(entries_.front());
  entries_.pop_front();
  if (current_.kind == Entry::Kind::kFail) {
    receiving_ = false;
    return current_.code;
  }
  *code = current_.code;
  *length = current_.length;
  if (current_.length != 0 && current_.length <= 250) *payload = current_.payload.data();
  return current_.code == 64 ? SQLPRES_SERVER_CLOSED : SQLPRES_OK;
}

// The scripted items up to the next sync point, a failure or an item the reader
// handles itself, as the stream shows the short items of its current packet (the sync
// points in front, which a read passes over, are passed over here too).
std::uint32_t a_strm_conn_rec::peek_short(a_sqlpres_item* items, std::uint32_t max) {
  if (receiving_ || attention_pending()) return 0;
  std::uint32_t n = 0;
  auto e_it = entries_.begin();
  while (e_it != entries_.end() && e_it->kind == Entry::Kind::kSync) ++e_it;
  for (; e_it != entries_.end(); ++e_it) {
    const Entry& e = *e_it;
    if (n == max || e.kind != Entry::Kind::kItem || e.length > 250 || e.code == 2 ||
        e.code == 64 || e.code == 140) {
      break;
    }
    items[n].code = e.code;
    items[n].length = e.length;
    items[n].payload = e.length != 0 ? e.payload.data() : nullptr;
    ++n;
  }
  return n;
}

a_sqlpres_code a_strm_conn_rec::skip_short(std::uint32_t count) {
  a_sqlpres_item scratch[64];
  if (count > 64 || peek_short(scratch, count) != count) return SQLPRES_FAILED;
  while (entries_.front().kind == Entry::Kind::kSync) entries_.pop_front();
  for (std::uint32_t i = 0; i < count; ++i) {
    current_ = std::move(entries_.front());
    entries_.pop_front();
  }
  ++short_skips;
  return SQLPRES_OK;
}

a_sqlpres_code a_strm_conn_rec::receive_begin(std::uint32_t* total) {
  *total = 0;
  std::uint8_t code;
  std::uint8_t length;
  const std::uint8_t* payload;
  const a_sqlpres_code rc = receive(&code, &length, &payload);
  if (rc != SQLPRES_OK) return rc;
  if (code != SQLPRES_ITEM_LONG_HEADER || length != 4) return SQLPRES_FAILED;
  *total = static_cast<std::uint32_t>(payload[0] | (payload[1] << 8) | (payload[2] << 16) |
                                      (static_cast<std::uint32_t>(payload[3]) << 24));
  receiving_ = true;
  remaining_ = *total;
  piece_.clear();
  piece_pos_ = 0;
  last_error_ = SQLPRES_FAILED;
  return SQLPRES_OK;
}

std::uint32_t a_strm_conn_rec::receive_piece(std::uint8_t** dest, std::uint32_t capacity) {
  std::uint32_t copied = 0;
  while (receiving_ && capacity > 0 && remaining_ > 0) {
    if (piece_pos_ == piece_.size()) {
      if (entries_.empty() || entries_.front().kind != Entry::Kind::kItem) {
        receiving_ = false;
        break;
      }
      Entry e = std::move(entries_.front());
      entries_.pop_front();
      if (e.code != SQLPRES_ITEM_PIECE) {
        receiving_ = false;  // the value ended before its announced total
        break;
      }
      const std::size_t n = std::min<std::size_t>(e.payload.size(), remaining_);
      piece_.assign(e.payload.begin(), e.payload.begin() + n);
      piece_pos_ = 0;
      if (n == 0) continue;
    }
    const std::uint32_t n =
        static_cast<std::uint32_t>(std::min<std::size_t>(piece_.size() - piece_pos_, capacity));
    std::memcpy(*dest, piece_.data() + piece_pos_, n);
    *dest += n;
    piece_pos_ += n;
    remaining_ -= n;
    capacity -= n;
    copied += n;
  }
  return copied;
}

a_sqlpres_code a_strm_conn_rec::receive_end() {
  if (!receiving_) return last_error_;
  receiving_ = false;
  while (!entries_.empty()) {
    Entry e = std::move(entries_.front());
    if (e.kind == Entry::Kind::kSync) return SQLPRES_FAILED;
    entries_.pop_front();
    if (e.kind == Entry::Kind::kFail) return e.code;
    if (e.code == SQLPRES_ITEM_LONG_END) return SQLPRES_OK;
  }
  ++overruns;
  return SQLPRES_FAILED;
}

int a_strm_conn_rec::is_sync_point(a_sqlpres_code* code) {
  ++sync_checks;
  *code = SQLPRES_OK;
  if (entries_.empty() || entries_.front().kind == Entry::Kind::kSync) return 1;
  if (entries_.front().kind == Entry::Kind::kFail) *code = entries_.front().code;
  return 0;
}

a_sqlpres_code a_strm_conn_rec::resync(unsigned flag) {
  ++resyncs;
  receiving_ = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (attention_) {
      drop_through_sync();
      attention_ = false;
      return SQLPRES_CANCELLED;
    }
  }
  const bool at_sync = !entries_.empty() && entries_.front().kind == Entry::Kind::kSync;
  drop_through_sync();
  if (at_sync && flag == 0) drop_through_sync();
  return SQLPRES_OK;
}

// --- Sending and cancel ---------------------------------------------------------------------

a_sqlpres_code a_strm_conn_rec::send_call() {
  const long index = send_calls_++;
  return index == fail_send_at ? fail_send_code : SQLPRES_OK;
}

a_sqlpres_code a_strm_conn_rec::cancel() {
  if (on_cancel) on_cancel();
  std::lock_guard<std::mutex> lock(mutex_);
  ++cancels_;
  if (cancel_result == SQLPRES_OK) attention_ = true;
  return cancel_result;
}

void a_strm_conn_rec::start_reply() {
  while (!entries_.empty() && entries_.front().kind == Entry::Kind::kSync) entries_.pop_front();
}

bool a_strm_conn_rec::script_done() const {
  for (const Entry& e : entries_) {
    if (e.kind != Entry::Kind::kSync) return false;
  }
  return true;
}

int a_strm_conn_rec::cancels() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return cancels_;
}

bool a_strm_conn_rec::attention_pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return attention_;
}

// --- Payload helpers ------------------------------------------------------------------------

Bytes le16(std::uint16_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
}

Bytes le32(std::uint32_t v) {
  Bytes out(4);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
  return out;
}

Bytes le64(std::uint64_t v) {
  Bytes out(8);
  for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
  return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes text_bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes error_record(std::int32_t sqlcode, const char* server, const char* odbc3,
                   const char* odbc2) {
  Bytes out = le32(static_cast<std::uint32_t>(sqlcode));
  for (const char* s : {server, odbc3, odbc2}) out.insert(out.end(), s, s + 5);
  return out;
}

// --- The presentation interface over the double ---------------------------------------------

a_sqlpres_code SQLPresSend(a_strm_conn sconn, std::uint8_t code, std::uint8_t** payload,
                           std::uint8_t length, a_strm_encrypt_flag) {
  *payload = nullptr;
  const a_sqlpres_code rc = sconn->send_call();
  if (rc != SQLPRES_OK) return rc;
  sconn->sent.push_back({code, Bytes(length), false});
  *payload = sconn->sent.back().bytes.data();
  return SQLPRES_OK;
}

a_sqlpres_code SQLPresSendCommand(a_strm_conn sconn, std::uint8_t code, a_strm_encrypt_flag) {
  const a_sqlpres_code rc = sconn->send_call();
  if (rc == SQLPRES_OK) sconn->sent.push_back({code, {}, false});
  return rc;
}

a_sqlpres_code SQLPresSendHandle(a_strm_conn sconn, std::uint8_t code, std::uint32_t value,
                                 a_strm_encrypt_flag) {
  const a_sqlpres_code rc = sconn->send_call();
  if (rc == SQLPRES_OK) sconn->sent.push_back({code, le32(value), false});
  return rc;
}

a_sqlpres_code SQLPresSendBytes(a_strm_conn sconn, std::uint8_t code, const void* data,
                                std::uint32_t length, a_strm_encrypt_flag) {
  const a_sqlpres_code rc = sconn->send_call();
  if (rc != SQLPRES_OK) return rc;
  const auto* p = static_cast<const std::uint8_t*>(data);
  sconn->sent.push_back({code, Bytes(p, p + length), length > SQLPRES_MAX_SHORT_PAYLOAD});
  return SQLPRES_OK;
}

a_sqlpres_code SQLPresSendName(a_strm_conn sconn, const char* text, a_strm_encrypt_flag flag) {
  if (text == nullptr) return SQLPresSendCommand(sconn, SQLPRES_ITEM_NAME, flag);
  return SQLPresSendBytes(sconn, SQLPRES_ITEM_NAME, text,
                          static_cast<std::uint32_t>(std::strlen(text)), flag);
}

a_sqlpres_code SQLPresSendBegin(a_strm_conn sconn, std::uint8_t code, std::uint32_t total,
                                a_strm_encrypt_flag) {
  const a_sqlpres_code rc = sconn->send_call();
  if (rc != SQLPRES_OK) return rc;
  sconn->sent.push_back({code, {}, true});
  sconn->open_long = static_cast<long>(sconn->sent.size()) - 1;
  sconn->open_long_left = total;
  return SQLPRES_OK;
}

a_sqlpres_code SQLPresSendPieceSafe(a_strm_conn sconn, const std::uint8_t** data,
                                    std::uint32_t length, a_strm_encrypt_flag) {
  const a_sqlpres_code rc = sconn->send_call();
  if (rc != SQLPRES_OK || sconn->open_long < 0) return rc;
  const std::uint32_t n = std::min(length, sconn->open_long_left);
  Bytes& value = sconn->sent[static_cast<std::size_t>(sconn->open_long)].bytes;
  value.insert(value.end(), *data, *data + n);
  *data += n;
  sconn->open_long_left -= n;
  return SQLPRES_OK;
}

a_sqlpres_code SQLPresSendEnd(a_strm_conn sconn, a_strm_encrypt_flag) {
  sconn->open_long = -1;
  return sconn->send_call();
}

a_sqlpres_code SQLPresFlush(a_strm_conn) { return SQLPRES_OK; }

a_sqlpres_code SQLPresSyncPoint(a_strm_conn sconn, std::uint32_t, std::uint32_t) {
  a_sqlpres_code rc = sconn->send_call();
  if (rc == SQLPRES_OK) rc = sconn->sync_result;
  if (rc == SQLPRES_OK) {
    sconn->sent.push_back({-1, {}, false});
    sconn->start_reply();
  }
  return rc;
}

a_sqlpres_code SQLPresReceive(a_strm_conn sconn, std::uint8_t* code, std::uint8_t* length,
                              const std::uint8_t** payload) {
  return sconn->receive(code, length, payload);
}

a_sqlpres_code SQLPresReceiveStruct(a_strm_conn sconn, a_sqlpres_item* item) {
  return sconn->receive(&item->code, &item->length, &item->payload);
}

// The double counts a shown item as one byte: the end of item i is i + 1.
std::uint32_t SQLPresPeekShortItems(a_strm_conn sconn, a_sqlpres_item* items,
                                    std::uint32_t max, std::uint32_t* ends) {
  const std::uint32_t n = sconn->peek_short(items, max);
  for (std::uint32_t i = 0; ends != nullptr && i < n; ++i) ends[i] = i + 1;
  return n;
}

a_sqlpres_code SQLPresSkipShortItems(a_strm_conn sconn, std::uint32_t end) {
  return sconn->skip_short(end);
}

a_sqlpres_code SQLPresReceiveBegin(a_strm_conn sconn, std::uint32_t* total) {
  return sconn->receive_begin(total);
}

std::uint32_t SQLPresReceivePieceSafe(a_strm_conn sconn, std::uint8_t** dest,
                                      std::uint32_t capacity) {
  return sconn->receive_piece(dest, capacity);
}

a_sqlpres_code SQLPresReceiveEnd(a_strm_conn sconn) { return sconn->receive_end(); }

int SQLPresIsSyncPoint(a_strm_conn sconn, a_sqlpres_code* code) {
  return sconn->is_sync_point(code);
}

int SQLPresSyncPointArrived(a_strm_conn sconn, a_sqlpres_code* code) {
  *code = SQLPRES_OK;
  return sconn->sync_arrived ? 1 : 0;
}

a_sqlpres_code SQLPresReSync(a_strm_conn sconn, unsigned int flag) {
  return sconn->resync(flag);
}

a_sqlpres_code SQLPresCancel(a_strm_conn sconn) { return sconn->cancel(); }

void SQLPresFiniRequest(a_strm_conn sconn) { ++sconn->fini_requests; }

const char* SQLPresGetConnName(a_strm_conn) { return "double"; }

void SQLPresSetConnectedToDB(a_strm_conn) {}

void SQLPresSetNormalDisconnect(a_strm_conn) {}

std::uint16_t SQLPresSetMaxBufferSize(a_strm_conn, std::uint16_t size) {
  return std::min<std::uint16_t>(size, 16000);
}

int StrmDisconnect(a_strm_conn sconn) {
  ++sconn->disconnects;
  return 1;
}

int StrmDisconResponse(a_strm_conn sconn) {
  ++sconn->discon_responses;
  return 1;
}

int StrmGetInd(a_strm_conn sconn) { return sconn->indication; }

int StrmDumpComment(a_strm_conn sconn, const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  sconn->dump_comments.emplace_back(text);
  return 0;
}

std::uint32_t StrmGetBytesRecvUncomp(a_strm_conn sconn) { return sconn->bytes_received; }
