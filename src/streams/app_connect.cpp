#include "streams/app_connect.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "config/encrypt_level.h"
#include "security/vcci_error.h"
#include "streams/host_functions.h"
#include "streams/packet_header.h"
#include "streams/pres_state.h"
#include "streams/session_conn.h"

namespace {

constexpr std::uint32_t kMsgTimedOut = 25345;
constexpr std::uint32_t kMsgUnreadable = 25346;
constexpr std::uint32_t kMsgInvalid = 25347;
constexpr std::uint32_t kMsgPacketTooSmall = 17978;

constexpr std::uint32_t kShmTimeoutSeconds = 300;
constexpr std::uint32_t kOtherTimeoutSeconds = 30;
constexpr std::size_t kMinReplyBytes = 75;  // a size of 74 or less is too small

constexpr std::uint16_t kLevelNone = 0;
constexpr std::uint16_t kLevelSimple = 1;
constexpr std::uint16_t kLevelTlsFirst = 2;
constexpr std::uint16_t kLevelHighest = 4;

// A text field is sound when a zero byte occurs and every byte after the first zero is
// zero too.
bool text_field_sound(const char* field, std::size_t width) {
  const void* zero = std::memchr(field, 0, width);
  if (zero == nullptr) return false;
  for (const char* p = static_cast<const char*>(zero); p < field + width; ++p) {
    if (*p != 0) return false;
  }
  return true;
}

bool fail(void* host_ctx, const char* text) {
  vq::strm::HostPrint(host_ctx, text);
  return false;
}

bool verify_record(const an_app_connect_pkt& r, std::size_t arrived, bool checked, void* ctx) {
  const std::uint16_t size = app_connect_u16(r.size);
  if (!checked && size != arrived) return fail(ctx, "AppConnect size doesn't match");
  if (size < kMinReplyBytes) return fail(ctx, "AppConnect Packet too small");
  if (r.major != kAppConnectMajor) return fail(ctx, "Streams major version must match");
  const std::uint16_t minor = app_connect_u16(r.minor);
  if (!checked) {
    bool exact = false;
    const std::size_t want = vq::strm::AppConnectSizeForMinor(minor, &exact);
    if (exact ? size != want : size < want) {
      return fail(ctx, "Minor version and app connect size don't match");
    }
  }
  const std::uint16_t packet = app_connect_u16(r.max_packet);
  if (packet < kAppConnectMinPacket || packet > kAppConnectMaxPacket) {
    return fail(ctx, "Max packet size invalid");
  }
  if (r.db_version < kAppConnectMinDbVersion || r.db_version > kAppConnectMaxDbVersion) {
    return fail(ctx, "DB Version invalid");
  }
  if (minor > 5) {
    if (!text_field_sound(r.charset, sizeof r.charset)) return fail(ctx, "Charset corrupted");
    if (!text_field_sound(r.language, sizeof r.language)) return fail(ctx, "Language corrupted");
  }
  if (minor > 9) {
    if (!text_field_sound(r.charset_extra, sizeof r.charset_extra)) {
      return fail(ctx, "Charset (extra) corrupted");
    }
    if (!text_field_sound(r.language_extra, sizeof r.language_extra)) {
      return fail(ctx, "Language (extra) corrupted");
    }
  }
  if (minor > 12 && !text_field_sound(r.os_charset, sizeof r.os_charset)) {
    return fail(ctx, "OS Charset corrupted");
  }
  if (minor >= 15 && !text_field_sound(r.nchar_charset, sizeof r.nchar_charset)) {
    return fail(ctx, "NCHAR Charset corrupted");
  }
  return true;
}

// The record as far as `length` bytes of it arrived, zero beyond them.
an_app_connect_pkt record_of(const std::uint8_t* bytes, std::size_t length) {
  an_app_connect_pkt r;
  std::memset(&r, 0, sizeof r);
  if (bytes != nullptr) std::memcpy(&r, bytes, length < sizeof r ? length : sizeof r);
  return r;
}

int crypto_result(std::uint32_t code) {
  if (code == 31 || code == 32) return APPCONN_CRYPTO_UNUSABLE;
  if (code == 11 || code == 25 || code == 26) return APPCONN_CRYPTO_MISSING;
  return APPCONN_CRYPTO_FAILED;
}

// The client's level after the reply, or false when the two do not fit.
bool agree_level(std::uint16_t client, std::uint16_t server, std::uint16_t minor,
                 std::uint16_t* agreed) {
  if (server > kLevelHighest) return false;
  if (minor <= 5) {
    // An old server knows no TLS; the client takes its level.
    if (client >= kLevelTlsFirst) return false;
    *agreed = server;
    return true;
  }
  if (client == server) {
    *agreed = client;
    return true;
  }
  if (client == kLevelNone && server == kLevelSimple) {
    *agreed = kLevelSimple;
    return true;
  }
  return false;
}

}  // namespace

namespace vq::strm {

std::size_t AppConnectSizeForMinor(std::uint16_t minor, bool* exact) {
  *exact = true;
  if (minor == 1) return 75;
  if (minor >= 2 && minor <= 9) return 106;
  if (minor >= 10 && minor <= 12) return 178;
  if (minor == 13 || minor == 14) return 261;
  if (minor == 15) return kAppConnectPktBytes;
  *exact = false;  // 0, and 16 and above
  return kAppConnectPktBytes;
}

bool VerifyAppConnectReply(const std::uint8_t* bytes, std::size_t length, bool already_checked,
                           void* host_ctx) {
  return verify_record(record_of(bytes, length), length, already_checked, host_ctx);
}

}  // namespace vq::strm

bool StrmVerifyAppConnectPkt(a_strm_conn conn, const an_app_connect_pkt* pkt,
                             int already_checked) {
  if (pkt == nullptr) return false;
  c_strm_sconn* s = conn != nullptr ? c_strm_sconn::from_handle(conn) : nullptr;
  // The length that arrived is the connection's reply's; without one the record is
  // taken as whole.
  std::size_t arrived = app_connect_u16(pkt->size);
  if (s != nullptr) {
    std::uint16_t n = 0;
    if (s->copy_app_connect_reply(nullptr, 0, &n)) arrived = n;
  }
  return verify_record(*pkt, arrived, already_checked != 0, s != nullptr ? s->host_ctx() : nullptr);
}

int ApplicationConnect(a_strm_conn conn, const an_app_connect_pkt* request,
                       c_encrypt_level* level, an_app_connect_pkt* reply, char* err,
                       unsigned int err_len, std::uint32_t timeout_seconds) {
  if (err != nullptr && err_len != 0) err[0] = '\0';
  if (conn == nullptr || request == nullptr || level == nullptr || reply == nullptr) {
    return APPCONN_SEND_FAILED;
  }
  c_strm_sconn* s = c_strm_sconn::from_handle(conn);
  if (s->state() > SCONN_RECEIVING) return APPCONN_BAD_STATE;
  c_strm_tconn* tconn = s->tconn();
  c_strm_pconn* link = tconn != nullptr ? tconn->pconn() : nullptr;
  c_strm_port* port = link != nullptr ? link->port : nullptr;
  if (tconn == nullptr) return APPCONN_SEND_FAILED;

  DBVCCIError crypto;
  if (tconn->can_use_encryption(*level, &crypto) == 0) {
    if (err != nullptr && err_len != 0) {
      crypto.GetString(vq::strm::LibraryCatalog(), err, err_len, nullptr);
    }
    return crypto_result(crypto.GetCode());
  }

  // The request goes in one type-25 packet, always scrambled: a zero byte, the record.
  std::size_t size = app_connect_u16(request->size);
  if (size == 0 || size > sizeof *request) size = sizeof *request;
  std::uint8_t* at = nullptr;
  if (s->send_raw(1, &at, PKT_APP_CONNECT, 1) != STRM_OK) return APPCONN_NO_ROOM;
  *at = 0;
  if (s->send_raw(static_cast<std::uint16_t>(size), &at, PKT_APP_CONNECT, 1) != STRM_OK) {
    return APPCONN_NO_ROOM;
  }
  an_app_connect_pkt copy = *request;
  if (port == nullptr || !port->can_do_liveness()) set_app_connect_u16(copy.liveness, 0);
  set_app_connect_u16(copy.encryption, static_cast<std::uint16_t>(level->level));
  std::memcpy(at, &copy, size);
  if (s->sync_point() != STRM_OK) return APPCONN_SEND_FAILED;

  std::uint32_t limit = timeout_seconds;
  if (limit == 0) {
    limit = port != nullptr && port->get_type() == STRM_PORT_SHARED_MEMORY ? kShmTimeoutSeconds
                                                                           : kOtherTimeoutSeconds;
  }
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  // The reply as far as the record goes, zero after it; a longer reply (minor 0, 16 and
  // above) is cut to the record.
  an_app_connect_pkt got;
  std::memset(&got, 0, sizeof got);
  std::uint16_t reply_len = 0;
  for (;;) {
    const an_int_strm_error rc = s->_receive_prv(nullptr, nullptr, nullptr, true);
    if (rc == STRM_NOTHING_YET) {
      if (s->copy_app_connect_reply(reinterpret_cast<std::uint8_t*>(&got), sizeof got,
                                    &reply_len)) {
        break;
      }
      const auto elapsed =
          std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count();
      const std::uint32_t waited = static_cast<std::uint32_t>(elapsed);
      c_strm_conn_notifier* notifier = s->notifier();
      if (waited >= limit || notifier == nullptr || !notifier->block(limit - waited)) {
        vq::strm::FormatMsg(err, err_len, kMsgTimedOut);
        s->zprint_fn_code("sconn::receive", STRM_NOTHING_YET);
        return APPCONN_NO_REPLY;
      }
      continue;
    }
    if (rc == STRM_OK) {
      // A data packet came where the reply should have been.
      vq::strm::FormatMsg(err, err_len, kMsgUnreadable);
    } else if (rc == STRM_CONN_DEAD) {
      vq::strm::FormatMsg(err, err_len, kMsgInvalid);
    }
    s->zprint_fn_code("sconn::receive", rc);
    return APPCONN_NO_REPLY;
  }

  if (!verify_record(got, reply_len, false, s->host_ctx())) {
    s->zprint_fn_code("StrmVerifyAppConnectPkt", 0);
    vq::strm::FormatMsg(err, err_len, kMsgUnreadable);
    return APPCONN_NO_REPLY;
  }
  *reply = got;
  if (static_cast<std::int16_t>(app_connect_u16(reply->liveness)) < 0) {
    set_app_connect_u16(reply->liveness, static_cast<std::uint16_t>(kAppConnectDefaultLiveness));
  }

  const std::uint16_t packet = app_connect_u16(reply->max_packet);
  const std::uint16_t buffer_size = s->buffer_pool() != nullptr ? s->buffer_pool()->size : 0;
  if (packet > buffer_size) {
    s->reset_buff_size(packet);
  } else if (packet < buffer_size) {
    if (packet < kAppConnectMinUsablePacket) {
      char number[8];
      std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(packet));
      char text[kStrmMsgBytes];
      vq::strm::FormatMsg(text, sizeof text, kMsgPacketTooSmall, number);
      if (vq::strm::HostDebugOn(s->host_ctx())) vq::strm::HostPrint(s->host_ctx(), text);
      vq::strm::FormatMsg(err, err_len, kMsgPacketTooSmall, number);
      return APPCONN_NO_REPLY;
    }
    // The connection starts at the largest packet, so the reply's is never larger.
    s->set_max_packet(packet);
  }

  if ((reply->options[0] & kAppConnectCompression) != 0 &&
      !s->start_compression(app_connect_u16(reply->comp_threshold))) {
    return APPCONN_NO_COMPRESSION;
  }

  const std::uint16_t minor = app_connect_u16(reply->minor);
  std::uint16_t agreed = 0;
  if (!agree_level(static_cast<std::uint16_t>(level->level), app_connect_u16(reply->encryption),
                   minor, &agreed)) {
    return APPCONN_LEVEL_MISMATCH;
  }
  if (agreed != level->level) level->set_level(agreed);
  const an_int_strm_error enc = tconn->initialize_encryption(*level, err, err_len);
  if (enc != 0) return enc;

  i_sqlpres_set_strm_version(conn, minor);
  s->set_app_connected();
  return APPCONN_OK;
}
