// The presentation layer: typed items written into and read out of the data packets of
// one session connection, long values in pieces, sync points, resynchronisation and
// cancel. Every wait for room or input goes through the connection notifier's block(0).
//
// The reader checks every item length and every raw piece against the end of its
// packet: an item that runs past it is a protocol error (2), never a read past the
// buffer.
#include <cstring>

#include "streams/packet_header.h"
#include "streams/pres_state.h"
#include "streams/session_conn.h"
#include "utils/base/memory.h"

namespace {

using vq::strm::PresDiag;

constexpr std::uint16_t kMinPieceRoom = 21;  // less room than this: the piece starts a new packet
constexpr std::uint16_t kMinPacketSize = 300;  // the smallest packet size the peers agree on

c_strm_sconn* conn_of(a_strm_conn h) { return h != nullptr ? c_strm_sconn::from_handle(h) : nullptr; }

a_pres_state* state_of(c_strm_sconn* c) { return c != nullptr ? c->pres_state() : nullptr; }

void clear_long_flags(a_pres_state* st) {
  if (st == nullptr) return;
  st->sending = 0;
  st->receiving = 0;
}

// Waits through the connection notifier; false when it gives up.
bool wait(c_strm_sconn* c) { return c->notifier() != nullptr && c->notifier()->block(0); }

// Reserves one item of code C and caller length N; *out is where the payload goes.
a_sqlpres_code do_send(c_strm_sconn* c, std::uint8_t code, std::uint8_t** out, std::uint8_t n,
                       a_strm_encrypt_flag flag) {
  a_pres_state* st = state_of(c);
  const std::uint8_t length_byte = static_cast<std::uint8_t>(n + 1);
  if (length_byte == 0) {
    // A caller length of 255 would write the invalid length byte 0.
    PresDiag(c, "do_send", SQLPRES_FAILED);
    return SQLPRES_FAILED;
  }
  for (;;) {
    std::uint8_t* at = nullptr;
    const an_int_strm_error rc = c->send(length_byte, &at, PKT_DATA, static_cast<std::uint8_t>(flag));
    switch (rc) {
      case STRM_OK:
        at[0] = code;
        *out = at + 1;
        return SQLPRES_OK;
      case STRM_ENCRYPT_FAILED:
        PresDiag(c, "do_send", rc);
        return SQLPRES_ENCRYPT_FAILED;
      case STRM_OUT_OF_ROOM:
        if (!wait(c)) {
          PresDiag(c, "do_send", rc);
          return SQLPRES_BLOCK_FAILED;
        }
        continue;
      case STRM_CONN_DEAD:
        clear_long_flags(st);
        return SQLPRES_DEAD;
      default:
        PresDiag(c, "do_send", rc);
        return SQLPRES_FAILED;
    }
  }
}

// The short item at `pos` of the current packet ending at `end`: its record and the
// bytes it takes, or 0 when it is not a short item that may be taken without handling.
std::size_t short_item_at(const std::uint8_t* pos, const std::uint8_t* end,
                          a_sqlpres_item* item) {
  const std::size_t avail = static_cast<std::size_t>(end - pos);
  if (avail < 2) return 0;
  const std::uint8_t l = pos[0];
  if (l == 0 || l > SQLPRES_MAX_SHORT_PAYLOAD + 1 || std::size_t{l} + 1 > avail) return 0;
  const std::uint8_t code = pos[1];
  if (code == kItemServerMessage || code == kItemTransfer || code == kItemServerClosed) {
    return 0;
  }
  item->code = code;
  item->length = static_cast<std::uint8_t>(l - 1);
  item->payload = l > 1 ? pos + 2 : nullptr;
  return std::size_t{l} + 1;
}

// Reads one item without handling server messages or transfers.
a_sqlpres_code read_item(c_strm_sconn* c, std::uint8_t* code, std::uint8_t* length,
                         const std::uint8_t** payload) {
  a_pres_state* st = state_of(c);
  for (;;) {
    const an_int_strm_error rc =
        c->current_has_data() ? STRM_OK : c->_receive_prv(nullptr, nullptr, nullptr, true);
    switch (rc) {
      case STRM_OK:
        break;
      case STRM_CONN_DEAD:
        clear_long_flags(st);
        return SQLPRES_DEAD;
      case STRM_NOTHING_YET:
        if (wait(c)) continue;
        PresDiag(c, "do_recv", rc);
        return SQLPRES_BLOCK_FAILED;
      case STRM_ATTN_ACKED:
        clear_long_flags(st);
        return SQLPRES_CANCELLED;
      case STRM_ENCRYPT_FAILED:
        PresDiag(c, "do_recv", rc);
        return SQLPRES_ENCRYPT_FAILED;
      default:
        PresDiag(c, "do_recv", rc);
        return SQLPRES_FAILED;
    }
    const std::uint8_t* pos = c->in_pos();
    const std::uint8_t* end = c->in_end();
    if (pos == nullptr || pos >= end) continue;  // an empty packet holds no item
    const std::size_t avail = static_cast<std::size_t>(end - pos);
    const std::uint8_t l = pos[0];
    const std::size_t size = l < 252 ? std::size_t{l} + 1 : 2;
    if (l == 0 || avail < 2 || size > avail) {
      // A length byte of 0, or an item that runs past its packet.
      PresDiag(c, "do_recv", SQLPRES_FAILED);
      return SQLPRES_FAILED;
    }
    *code = pos[1];
    *length = static_cast<std::uint8_t>(l - 1);
    *payload = pos + 2;
    c->advance(size);  // size <= avail: the whole item is in the packet
    return SQLPRES_OK;
  }
}

a_sqlpres_code do_recv(c_strm_sconn* c, std::uint8_t* code, std::uint8_t* length,
                       const std::uint8_t** payload) {
  a_pres_state* st = state_of(c);
  for (;;) {
    const a_sqlpres_code rc = read_item(c, code, length, payload);
    if (rc != SQLPRES_OK) return rc;
    // Server messages and transfers are handled only at the outer level: one that
    // arrives while another is handled is an ordinary item, so a peer cannot make the
    // reader recurse.
    if (st != nullptr && st->inline_depth == 0 &&
        (*code == kItemServerMessage || *code == kItemTransfer)) {
      // They may come between the pieces of a long value the caller is reading; the
      // long values they read themselves must not disturb it.
      const std::uint8_t receiving = st->receiving;
      const std::uint32_t remaining = st->recv_remaining;
      const a_sqlpres_code last_error = st->last_recv_error;
      ++st->inline_depth;
      const a_sqlpres_code inner = *code == kItemServerMessage
                                       ? vq::strm::PresServerMessage(c, *payload, *length)
                                       : vq::strm::PresFileTransfer(c, *payload, *length);
      --st->inline_depth;
      st->receiving = receiving;
      st->recv_remaining = remaining;
      st->recv_left = 0;
      st->last_recv_error = last_error;
      if (inner != SQLPRES_OK) return inner;
      continue;
    }
    return *code == kItemServerClosed ? SQLPRES_SERVER_CLOSED : SQLPRES_OK;
  }
}

a_sqlpres_code send_end(c_strm_sconn* c, a_strm_encrypt_flag flag) {
  std::uint8_t* at = nullptr;
  const a_sqlpres_code rc = do_send(c, SQLPRES_ITEM_LONG_END, &at, 0, flag);
  if (a_pres_state* st = state_of(c)) st->sending = 0;
  return rc;
}

// Opens the next piece of the long value being sent.
a_sqlpres_code open_piece(c_strm_sconn* c, a_pres_state* st, a_strm_encrypt_flag flag) {
  std::uint8_t* at = nullptr;
  if (st->new_form == 0) {
    const std::uint8_t n = static_cast<std::uint8_t>(
        st->send_remaining < SQLPRES_MAX_SHORT_PAYLOAD ? st->send_remaining
                                                       : SQLPRES_MAX_SHORT_PAYLOAD);
    const a_sqlpres_code rc = do_send(c, SQLPRES_ITEM_PIECE, &at, n, flag);
    if (rc != SQLPRES_OK) return rc;
    st->send_ptr = at;
    st->send_room = n;
    return SQLPRES_OK;
  }
  std::uint32_t room = c->room_left();
  room = room > 2 ? room - 2 : 0;
  if (room <= kMinPieceRoom) {
    const a_sqlpres_code rc = SQLPresFlush(c->handle());
    if (rc != SQLPRES_OK) return rc;
    const std::uint16_t fresh = c->fresh_packet_room();
    room = fresh > 2 ? fresh - 2u : 0;
  }
  if (room <= 2) return SQLPRES_FAILED;
  const std::uint32_t most = room - 2;
  const std::uint16_t piece =
      static_cast<std::uint16_t>(st->send_remaining < most ? st->send_remaining : most);
  a_sqlpres_code rc = do_send(c, SQLPRES_ITEM_PIECE_RAW, &at, 2, flag);
  if (rc != SQLPRES_OK) return rc;
  vq::strm::store_le16(at, piece);
  // The raw bytes follow the item in the same packet, or the piece is not written.
  if (c->room_left() < piece) {
    PresDiag(c, "do_send", SQLPRES_FAILED);
    return SQLPRES_FAILED;
  }
  std::uint8_t* raw = nullptr;
  const an_int_strm_error sr = c->send_raw(piece, &raw, PKT_DATA, static_cast<std::uint8_t>(flag));
  if (sr != STRM_OK) return sr == STRM_CONN_DEAD ? SQLPRES_DEAD : SQLPRES_FAILED;
  st->send_ptr = raw;
  st->send_room = piece;
  return SQLPRES_OK;
}

}  // namespace

namespace vq::strm {

void PresDiag(c_strm_sconn* conn, const char* function, int code) {
  if (conn != nullptr) conn->zprint_fn_code(function, code);
}

a_sqlpres_code PresReceiveItem(c_strm_sconn* conn, std::uint8_t* code, std::uint8_t* length,
                               const std::uint8_t** payload) {
  return do_recv(conn, code, length, payload);
}

a_sqlpres_code PresSkipRaw(c_strm_sconn* conn, std::uint32_t n, const std::uint8_t** at) {
  const std::uint8_t* pos = conn->in_pos();
  const std::uint8_t* end = conn->in_end();
  if (pos == nullptr || static_cast<std::size_t>(end - pos) < n) {
    PresDiag(conn, "do_recv", SQLPRES_FAILED);
    return SQLPRES_FAILED;
  }
  if (at != nullptr) *at = pos;
  conn->advance(n);
  return SQLPRES_OK;
}

}  // namespace vq::strm

// ---- the session layer's callbacks ---------------------------------------------------------

int pres_new_conn(c_strm_sconn* conn) {
  if (conn == nullptr) return 0;
  if (conn->pres_state() == nullptr) {
    auto* st = static_cast<a_pres_state*>(ut_alloc(sizeof(a_pres_state)));
    std::memset(st, 0, sizeof *st);
    conn->set_pres_state(st);
  }
  return 1;
}

void pres_del_conn(c_strm_sconn* conn) {
  a_pres_state* st = state_of(conn);
  if (st == nullptr) return;
  vq::strm::PresCloseFiles(st);
  ut_free(st->files);
  ut_free(st->transfer_buffer);
  ut_free(st);
  conn->set_pres_state(nullptr);
}

void i_sqlpres_set_strm_version(a_strm_conn sconn, std::uint32_t version) {
  if (a_pres_state* st = state_of(conn_of(sconn))) {
    if (version > 9) st->new_form = 1;
  }
}

// ---- sending ----------------------------------------------------------------------------

a_sqlpres_code SQLPresSend(a_strm_conn sconn, std::uint8_t code, std::uint8_t** payload,
                           std::uint8_t length, a_strm_encrypt_flag flag) {
  c_strm_sconn* c = conn_of(sconn);
  if (c == nullptr || payload == nullptr) return SQLPRES_FAILED;
  return do_send(c, code, payload, length, flag);
}

a_sqlpres_code SQLPresSendCommand(a_strm_conn sconn, std::uint8_t code, a_strm_encrypt_flag flag) {
  std::uint8_t* at = nullptr;
  return SQLPresSend(sconn, code, &at, 0, flag);
}

a_sqlpres_code SQLPresSendHandle(a_strm_conn sconn, std::uint8_t code, std::uint32_t value,
                                 a_strm_encrypt_flag flag) {
  std::uint8_t* at = nullptr;
  const a_sqlpres_code rc = SQLPresSend(sconn, code, &at, 4, flag);
  if (rc == SQLPRES_OK) vq::strm::store_le32(at, value);
  return rc;
}

a_sqlpres_code SQLPresSendBytes(a_strm_conn sconn, std::uint8_t code, const void* data,
                                std::uint32_t length, a_strm_encrypt_flag flag) {
  if (length <= SQLPRES_MAX_SHORT_PAYLOAD) {
    std::uint8_t* at = nullptr;
    const a_sqlpres_code rc =
        SQLPresSend(sconn, code, &at, static_cast<std::uint8_t>(length), flag);
    if (rc == SQLPRES_OK && length != 0) std::memcpy(at, data, length);
    return rc;
  }
  a_sqlpres_code rc = SQLPresSendBegin(sconn, code, length, flag);
  if (rc != SQLPRES_OK) return rc;
  const std::uint8_t* p = static_cast<const std::uint8_t*>(data);
  rc = SQLPresSendPieceSafe(sconn, &p, length, flag);
  if (rc != SQLPRES_OK) return rc;
  return SQLPresSendEnd(sconn, flag);
}

a_sqlpres_code SQLPresSendName(a_strm_conn sconn, const char* text, a_strm_encrypt_flag flag) {
  if (text == nullptr) return SQLPresSendCommand(sconn, SQLPRES_ITEM_NAME, flag);
  const std::size_t n = std::strlen(text);
  if (n > UINT32_MAX) return SQLPRES_FAILED;
  return SQLPresSendBytes(sconn, SQLPRES_ITEM_NAME, text, static_cast<std::uint32_t>(n), flag);
}

a_sqlpres_code SQLPresSendBegin(a_strm_conn sconn, std::uint8_t code, std::uint32_t total,
                                a_strm_encrypt_flag flag) {
  c_strm_sconn* c = conn_of(sconn);
  a_pres_state* st = state_of(c);
  if (st == nullptr) return SQLPRES_FAILED;
  std::uint8_t* at = nullptr;
  a_sqlpres_code rc = do_send(c, code, &at, SQLPRES_LONG_LENGTH, flag);
  if (rc != SQLPRES_OK) return rc;
  rc = do_send(c, SQLPRES_ITEM_LONG_HEADER, &at, 4, flag);
  if (rc != SQLPRES_OK) return rc;
  vq::strm::store_le32(at, total);
  st->sending = 1;
  st->send_remaining = total;
  st->send_room = 0;
  st->send_ptr = nullptr;
  return SQLPRES_OK;
}

a_sqlpres_code SQLPresSendPieceSafe(a_strm_conn sconn, const std::uint8_t** data,
                                    std::uint32_t length, a_strm_encrypt_flag flag) {
  c_strm_sconn* c = conn_of(sconn);
  a_pres_state* st = state_of(c);
  if (st == nullptr || data == nullptr) return SQLPRES_FAILED;
  if (length == 0 || st->send_remaining == 0) return SQLPRES_OK;
  for (;;) {
    if (st->send_room != 0) {
      const std::uint32_t k = st->send_room < length ? st->send_room : length;
      std::memcpy(st->send_ptr, *data, k);
      st->send_ptr += k;
      *data += k;
      st->send_room = static_cast<std::uint16_t>(st->send_room - k);
      st->send_remaining -= k;
      length -= k;
      // Bytes beyond the announced total are dropped.
      if (length == 0 || st->send_remaining == 0) return SQLPRES_OK;
    }
    const a_sqlpres_code rc = open_piece(c, st, flag);
    if (rc != SQLPRES_OK) {
      st->sending = 0;
      return rc;
    }
  }
}

a_sqlpres_code SQLPresSendEnd(a_strm_conn sconn, a_strm_encrypt_flag flag) {
  c_strm_sconn* c = conn_of(sconn);
  if (c == nullptr) return SQLPRES_FAILED;
  return send_end(c, flag);
}

a_sqlpres_code SQLPresFlush(a_strm_conn sconn) {
  c_strm_sconn* c = conn_of(sconn);
  if (c == nullptr) return SQLPRES_FAILED;
  for (;;) {
    const an_int_strm_error rc = c->flush_output();
    if (rc == STRM_OK) return SQLPRES_OK;
    if (rc == STRM_CONN_DEAD) return SQLPRES_DEAD;
    if (rc == STRM_OUT_OF_ROOM) {
      if (wait(c)) continue;
      return SQLPRES_BLOCK_FAILED;
    }
    PresDiag(c, "SQLPresFlush", rc);
    return SQLPRES_FAILED;
  }
}

a_sqlpres_code SQLPresSyncPoint(a_strm_conn sconn, std::uint32_t, std::uint32_t) {
  c_strm_sconn* c = conn_of(sconn);
  if (c == nullptr) return SQLPRES_FAILED;
  for (;;) {
    const an_int_strm_error rc = c->sync_point();
    switch (rc) {
      case STRM_OK:
        return SQLPRES_OK;
      case STRM_CONN_DEAD:
        return SQLPRES_DEAD;
      case STRM_ENCRYPT_FAILED:
        PresDiag(c, "SQLPresSyncPoint", rc);
        return SQLPRES_ENCRYPT_FAILED;
      case STRM_OUT_OF_ROOM:
        if (wait(c)) continue;
        return SQLPRES_BLOCK_FAILED;
      default:
        PresDiag(c, "SQLPresSyncPoint", rc);
        return SQLPRES_FAILED;
    }
  }
}

// ---- receiving ----------------------------------------------------------------------------

a_sqlpres_code SQLPresReceive(a_strm_conn sconn, std::uint8_t* code, std::uint8_t* length,
                              const std::uint8_t** payload) {
  c_strm_sconn* c = conn_of(sconn);
  if (c == nullptr || code == nullptr || length == nullptr || payload == nullptr) {
    return SQLPRES_FAILED;
  }
  // Most items of a reply are short ones that lie whole in the current packet and need
  // no handling of their own: they are taken here, on the way do_recv would take them.
  if (c->current_has_data()) {
    a_sqlpres_item item;
    const std::size_t size = short_item_at(c->in_pos(), c->in_end(), &item);
    if (size != 0) {
      *code = item.code;
      *length = item.length;
      *payload = item.payload;
      c->advance(size);
      return SQLPRES_OK;
    }
  }
  const a_sqlpres_code rc = do_recv(c, code, length, payload);
  if ((rc == SQLPRES_OK || rc == SQLPRES_SERVER_CLOSED) &&
      (*length == 0 || *length > SQLPRES_MAX_SHORT_PAYLOAD)) {
    *payload = nullptr;
  }
  return rc;
}

std::uint32_t SQLPresPeekShortItems(a_strm_conn sconn, a_sqlpres_item* items,
                                    std::uint32_t max, std::uint32_t* ends) {
  c_strm_sconn* c = conn_of(sconn);
  if (c == nullptr || items == nullptr || !c->current_has_data()) return 0;
  const std::uint8_t* const start = c->in_pos();
  const std::uint8_t* pos = start;
  const std::uint8_t* end = c->in_end();
  std::uint32_t n = 0;
  while (n < max) {
    const std::size_t size = short_item_at(pos, end, &items[n]);
    if (size == 0) break;
    pos += size;
    if (ends != nullptr) ends[n] = static_cast<std::uint32_t>(pos - start);
    ++n;
  }
  return n;
}

a_sqlpres_code SQLPresSkipShortItems(a_strm_conn sconn, std::uint32_t end) {
  c_strm_sconn* c = conn_of(sconn);
  if (c == nullptr) return SQLPRES_FAILED;
  if (end == 0) return SQLPRES_OK;
  if (!c->current_has_data() || static_cast<std::size_t>(c->in_end() - c->in_pos()) < end) {
    PresDiag(c, "SQLPresSkipShortItems", SQLPRES_FAILED);
    return SQLPRES_FAILED;
  }
  c->advance(end);
  return SQLPRES_OK;
}

a_sqlpres_code SQLPresReceiveStruct(a_strm_conn sconn, a_sqlpres_item* item) {
  if (item == nullptr) return SQLPRES_FAILED;
  return SQLPresReceive(sconn, &item->code, &item->length, &item->payload);
}

a_sqlpres_code SQLPresReceiveBegin(a_strm_conn sconn, std::uint32_t* total) {
  c_strm_sconn* c = conn_of(sconn);
  a_pres_state* st = state_of(c);
  if (st == nullptr) return SQLPRES_FAILED;
  // A value that ends before its announced total reports this at its end.
  st->last_recv_error = SQLPRES_FAILED;
  std::uint8_t code = 0, length = 0;
  const std::uint8_t* payload = nullptr;
  const a_sqlpres_code rc = do_recv(c, &code, &length, &payload);
  if (rc != SQLPRES_OK) return rc;
  if (code != SQLPRES_ITEM_LONG_HEADER || length != 4) {
    PresDiag(c, "SQLPresReceiveBegin", SQLPRES_FAILED);
    return SQLPRES_FAILED;
  }
  const std::uint32_t n = vq::strm::load_le32(payload);
  st->receiving = 1;
  st->recv_remaining = n;
  st->recv_left = 0;
  st->recv_ptr = nullptr;
  if (total != nullptr) *total = n;
  return SQLPRES_OK;
}

std::uint32_t SQLPresReceivePieceSafe(a_strm_conn sconn, std::uint8_t** dest,
                                      std::uint32_t capacity) {
  c_strm_sconn* c = conn_of(sconn);
  a_pres_state* st = state_of(c);
  if (st == nullptr || dest == nullptr) return 0;
  if (st->receiving == 0 || capacity == 0 || st->recv_remaining == 0) return 0;
  std::uint32_t copied = 0;
  for (;;) {
    if (st->recv_left == 0) {
      std::uint8_t code = 0, length = 0;
      const std::uint8_t* payload = nullptr;
      a_sqlpres_code rc = do_recv(c, &code, &length, &payload);
      std::uint32_t piece = 0;
      if (rc == SQLPRES_OK && code == SQLPRES_ITEM_PIECE) {
        if (length > SQLPRES_MAX_SHORT_PAYLOAD) {
          rc = SQLPRES_FAILED;
        } else {
          piece = length;
          st->recv_ptr = payload;
        }
      } else if (rc == SQLPRES_OK && code == SQLPRES_ITEM_PIECE_RAW) {
        if (length != 2) {
          rc = SQLPRES_FAILED;
        } else {
          piece = vq::strm::load_le16(payload);
          rc = vq::strm::PresSkipRaw(c, piece, &st->recv_ptr);
        }
      } else if (rc == SQLPRES_OK) {
        // Not a piece: the value ended before its total (reported by the end call).
        // The bytes already copied in this call are still counted.
        st->receiving = 0;
        return copied;
      }
      if (rc != SQLPRES_OK) {
        st->receiving = 0;
        st->last_recv_error = rc;
        return 0;
      }
      st->recv_left = static_cast<std::uint16_t>(piece < st->recv_remaining ? piece : st->recv_remaining);
      if (st->recv_left == 0) continue;
    }
    const std::uint32_t k = st->recv_left < capacity ? st->recv_left : capacity;
    std::memcpy(*dest, st->recv_ptr, k);
    *dest += k;
    st->recv_ptr += k;
    st->recv_left = static_cast<std::uint16_t>(st->recv_left - k);
    st->recv_remaining -= k;
    capacity -= k;
    copied += k;
    if (capacity == 0 || st->recv_remaining == 0) return copied;
  }
}

a_sqlpres_code SQLPresReceiveEnd(a_strm_conn sconn) {
  c_strm_sconn* c = conn_of(sconn);
  a_pres_state* st = state_of(c);
  if (st == nullptr) return SQLPRES_FAILED;
  if (st->receiving == 0) return st->last_recv_error;
  for (;;) {
    std::uint8_t code = 0, length = 0;
    const std::uint8_t* payload = nullptr;
    a_sqlpres_code rc = do_recv(c, &code, &length, &payload);
    if (rc == SQLPRES_OK && code == SQLPRES_ITEM_LONG_END) break;
    if (rc == SQLPRES_OK && code == SQLPRES_ITEM_PIECE_RAW) {
      rc = length == 2 ? vq::strm::PresSkipRaw(c, vq::strm::load_le16(payload), nullptr)
                       : SQLPRES_FAILED;
    }
    if (rc != SQLPRES_OK) {
      st->receiving = 0;
      st->last_recv_error = rc;
      return rc;
    }
  }
  st->receiving = 0;
  st->recv_left = 0;
  st->last_recv_error = SQLPRES_OK;
  return SQLPRES_OK;
}

int SQLPresIsSyncPoint(a_strm_conn sconn, a_sqlpres_code* code) {
  c_strm_sconn* c = conn_of(sconn);
  if (c == nullptr) return 0;
  std::uint32_t word = SQLPRES_OK;
  const bool at = c->is_sync_point(&word);
  if (code != nullptr) *code = word;
  return at ? 1 : 0;
}

int SQLPresSyncPointArrived(a_strm_conn sconn, a_sqlpres_code* code) {
  c_strm_sconn* c = conn_of(sconn);
  if (c == nullptr) return 0;
  std::uint32_t word = SQLPRES_OK;
  const bool arrived = c->sync_point_arrived(&word);
  if (code != nullptr) *code = word;
  return arrived ? 1 : 0;
}

a_sqlpres_code SQLPresReSync(a_strm_conn sconn, unsigned int flag) {
  c_strm_sconn* c = conn_of(sconn);
  if (c == nullptr) return SQLPRES_FAILED;
  a_pres_state* st = state_of(c);
  for (;;) {
    const an_int_strm_error rc = c->resync(flag != 0);
    switch (rc) {
      case STRM_OK:
        // The discarded message took any long value with it: the next request starts
        // clean.
        clear_long_flags(st);
        return SQLPRES_OK;
      case STRM_CONN_DEAD:
        clear_long_flags(st);
        return SQLPRES_DEAD;
      case STRM_NOTHING_YET:
        if (wait(c)) continue;
        PresDiag(c, "SQLPresReSync", rc);
        return SQLPRES_BLOCK_FAILED;
      case STRM_ATTN_ACKED:
        clear_long_flags(st);
        return SQLPRES_CANCELLED;
      default:
        PresDiag(c, "SQLPresReSync", rc);
        return SQLPRES_FAILED;
    }
  }
}

// ---- connection ---------------------------------------------------------------------------

a_sqlpres_code SQLPresCancel(a_strm_conn sconn) {
  c_strm_sconn* c = conn_of(sconn);
  if (c == nullptr) return SQLPRES_FAILED;
  const an_int_strm_error rc = c->attention();
  if (rc == STRM_OK) return SQLPRES_OK;
  PresDiag(c, "SQLPresCancel", rc);
  return SQLPRES_FAILED;
}

void SQLPresFiniRequest(a_strm_conn sconn) {
  if (a_pres_state* st = state_of(conn_of(sconn))) vq::strm::PresCloseFiles(st);
}

const char* SQLPresGetConnName(a_strm_conn sconn) {
  c_strm_sconn* c = conn_of(sconn);
  if (c == nullptr || c->tconn() == nullptr || c->tconn()->pconn() == nullptr) return nullptr;
  return c->tconn()->pconn()->server_name;
}

void SQLPresSetConnectedToDB(a_strm_conn sconn) {
  if (c_strm_sconn* c = conn_of(sconn)) c->set_connected_to_db();
}

void SQLPresSetNormalDisconnect(a_strm_conn sconn) {
  if (c_strm_sconn* c = conn_of(sconn)) c->set_normal_disconnect();
}

std::uint16_t SQLPresSetMaxBufferSize(a_strm_conn sconn, std::uint16_t size) {
  c_strm_sconn* c = conn_of(sconn);
  if (c == nullptr) return 0;
  // Below the smallest packet the peers agree on, a packet could not hold the longest
  // item; such a size is not taken.
  if (size >= kMinPacketSize && size < c->max_packet()) c->set_max_packet(size);
  return c->max_packet();
}
