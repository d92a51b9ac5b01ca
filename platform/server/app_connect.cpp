// App-connect request parsing and reply building.
#include "app_connect.h"

#include <algorithm>
#include <cstring>

#include "wire.h"

namespace vqeng {
namespace {

std::string text_field(const std::uint8_t* rec, std::size_t rec_len, std::size_t off,
                       std::size_t width) {
  if (off >= rec_len) return {};
  width = std::min(width, rec_len - off);
  const auto* p = reinterpret_cast<const char*>(rec + off);
  return std::string(p, strnlen(p, width));
}

void put_text(std::uint8_t* rec, std::size_t off, std::size_t width, const std::string& s) {
  std::memcpy(rec + off, s.data(), std::min(s.size(), width - 1));  // zero-padded, terminated
}

}  // namespace

std::size_t app_connect_size_for_minor(std::uint16_t minor) {
  if (minor == 1) return 75;
  if (minor >= 2 && minor <= 9) return 106;
  if (minor >= 10 && minor <= 12) return 178;
  if (minor == 13 || minor == 14) return 261;
  if (minor == 15) return kAppConnectBytes;
  return 0;
}

bool parse_app_connect(const std::string& body, AppConnectRequest& req, std::string& why) {
  if (body.size() < 1 + 75) {
    why = "app-connect record of " + std::to_string(body.size()) + " bytes is too short";
    return false;
  }
  const auto* rec = reinterpret_cast<const std::uint8_t*>(body.data()) + 1;
  const std::size_t len = body.size() - 1;
  req.size = load_le16(rec);
  if (req.size != len) {
    why = "app-connect size field " + std::to_string(req.size) + " does not match the " +
          std::to_string(len) + " bytes received";
    return false;
  }
  req.major = rec[2];
  if (req.major != 2) {
    why = "app-connect major version " + std::to_string(req.major) + " is not 2";
    return false;
  }
  req.db_version = rec[6];
  req.liveness = static_cast<std::int16_t>(load_le16(rec + 8));
  req.encryption = load_le16(rec + 10);
  req.minor = load_le16(rec + 20);
  req.packet_size = load_le16(rec + 22);
  req.options = load_le32(rec + 24);
  req.comp_threshold = load_le16(rec + 28);
  req.build = load_le16(rec + 32);
  req.charset = text_field(rec, len, 44, 31);
  req.language = text_field(rec, len, 75, 31);
  if (req.language.size() == 30) req.language += text_field(rec, len, 106, 21);
  req.charset_label = text_field(rec, len, 127, 51);
  req.os_charset = text_field(rec, len, 210, 51);
  req.api_charset = text_field(rec, len, kOffNcharCharset, 51);
  return true;
}

std::string build_app_connect_reply(const AppConnectRequest& req, const std::uint8_t* random,
                                    AppConnectAgreement& agreed, int liveness, bool tls) {
  // We speak minor version 15 and answer an older client at its own version.
  agreed.minor = req.minor == 0 ? 15 : std::min<std::uint16_t>(req.minor, 15);
  std::size_t size = app_connect_size_for_minor(agreed.minor);
  if (size == 0) size = kAppConnectBytes;
  std::uint16_t want = req.packet_size == 0 ? 7300 : req.packet_size;
  agreed.packet_size = std::clamp<std::uint16_t>(want, kMinAgreedPacketBytes, kMaxPacketBytes);
  // Levels: 0 none and 1 simple are echoed, and so are the ECC and RSA TLS levels
  // when the transport can run TLS. Any other level gets our own level 0 and the
  // client refuses the mismatch.
  const bool tls_level = req.encryption >= kLevelFirstTls && req.encryption <= kLevelLastTls;
  agreed.encryption = req.encryption <= 1 || (tls && tls_level) ? req.encryption : 0;
  agreed.compression = (req.options & kOptCompressAsked) != 0;
  agreed.comp_threshold = req.comp_threshold == 0 ? 120 : req.comp_threshold;
  // Liveness: the client's time-out unless we were told otherwise. With one, the
  // transport sends a liveness packet whenever it has sent nothing for a third
  // of it, so that the client never takes a long statement for a dead server.
  if (liveness == kLivenessEcho)
    agreed.liveness = req.liveness > 0 ? static_cast<std::uint16_t>(req.liveness) : 0;
  else
    agreed.liveness = static_cast<std::uint16_t>(std::clamp(liveness, 0, 32767));
  std::memcpy(agreed.random, random, kRandomBytes);

  std::string out(std::max<std::size_t>(size, kAppConnectBytes), '\0');
  auto* rec = reinterpret_cast<std::uint8_t*>(&out[0]);
  store_le16(rec, static_cast<std::uint16_t>(size));
  rec[2] = 2;
  rec[3] = 0;   // status: accepted
  rec[6] = 12;  // database version
  rec[7] = 0;
  store_le16(rec + 8, agreed.liveness);
  store_le16(rec + 10, agreed.encryption);
  store_le16(rec + 20, agreed.minor);
  store_le16(rec + 22, agreed.packet_size);
  store_le32(rec + 24, agreed.compression ? kCapCompression : 0);
  store_le16(rec + 28, agreed.comp_threshold);
  store_le16(rec + 32, 2566);
  store_le16(rec + 35, static_cast<std::uint16_t>(kRandomBytes));
  put_text(rec, 44, 31, agreed.charset);
  put_text(rec, 75, 31, "en");
  put_text(rec, 127, 51, agreed.charset);
  std::memcpy(rec + kOffRandom, random, kRandomBytes);
  put_text(rec, 210, 51, "UTF-8");
  put_text(rec, kOffNcharCharset, 51, "UTF-8");
  out.resize(size);
  return out;
}

}  // namespace vqeng
