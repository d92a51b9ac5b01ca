// The client's fields of the app-connect packet and what it reads of the server's reply.
// The packet's format belongs to the communication stack; this client writes the fields
// below and leaves every other byte zero. Both directions work on byte buffers only.
#include <strings.h>

#include <cstring>

#include "cmdseq/cmdseq_env.h"
#include "cmdseq/connect.h"
#include "utils/locale/utlocale.h"

namespace {

void store_le16(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
void store_le32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
std::uint32_t load_le16(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8;
}
std::uint32_t load_le32(const unsigned char* p) {
  return load_le16(p) | load_le16(p + 2) << 16;
}

// Copies at most `room - 1` bytes of the text and leaves the rest of the field zero.
void put_text(unsigned char* field, std::size_t room, const char* text) {
  if (text == nullptr) return;
  const std::size_t n = strnlen(text, room - 1);
  std::memcpy(field, text, n);
}

// A zero-terminated text of at most `max` characters from a reply field that ends at the
// reply's end at the latest.
void get_text(const unsigned char* reply, std::size_t len, std::size_t at, std::size_t max,
              char* out) {
  out[0] = '\0';
  if (at >= len) return;
  const std::size_t room = len - at < max ? len - at : max;
  const std::size_t n = strnlen(reinterpret_cast<const char*>(reply + at), room);
  std::memcpy(out, reply + at, n);
  out[n] = '\0';
}

// Charset and Language name the system's own when they are not given or say "local".
bool is_local(const char* value) {
  return value == nullptr || value[0] == '\0' || strcasecmp(value, "local") == 0;
}

}  // namespace

a_cs_client_charset default_charset_if_unspecified(const char* charset, const CharsetInfo* os) {
  if (!is_local(charset)) return {charset, charset};
  if (os == nullptr) os = UTLocale::FindOSCharset(1);
  const char* label = CharsetInfo::safe_label(os, kSchemeDefault);
  const char* short_name = label;
  if (os->server_label != nullptr && os->server_label->label != nullptr) {
    short_name = os->server_label->label;
  } else if (equal_charset_labels(label, "GB18030")) {
    short_name = "cp936";
  }
  return {label, short_name};
}

const char* i_cs_AppConnectLanguage(const char* language, const LanguageInfo* os) {
  if (!is_local(language)) return language;
  if (os == nullptr) os = UTLocale::FindOSLanguage(1);
  return LanguageInfo::safe_label(os, kSchemeMIME);
}

void i_cs_SetAppConnectTexts(a_cs_appconnect_in& in, const a_cmdseq_env* env,
                             const char* charset, const char* language) {
  const CharsetInfo* os_charset = env != nullptr ? env->os_charset : nullptr;
  if (os_charset == nullptr) os_charset = UTLocale::FindOSCharset(1);
  const a_cs_client_charset cs = default_charset_if_unspecified(charset, os_charset);
  in.charset_short = cs.short_name;
  in.charset_label = cs.label;
  in.os_charset = CharsetInfo::safe_label(os_charset, kSchemeDefault);
  in.language = i_cs_AppConnectLanguage(language, env != nullptr ? env->os_language : nullptr);
}

bool i_cs_FillAppConnect(const a_cs_appconnect_in& in, unsigned char* packet) {
  std::memset(packet, 0, kAppConnectBytes);
  std::uint32_t kind;
  switch (in.app_type) {
    case 1: kind = 2; break;
    case 2: kind = 0; break;
    case 3: kind = 3; break;
    case 4: kind = 4; break;
    default: return false;
  }
  const std::uint32_t forced = in.forced_level;
  const bool is_forced = forced >= 1 && forced <= 15;
  store_le16(packet + 0, is_forced ? in.forced_first_word : kAppConnectBytes);
  packet[2] = 2;
  store_le16(packet + 4, kind);
  packet[6] = !is_forced ? 12 : forced >= 10 ? (forced <= 12 ? 10 : 12) : 8;
  const std::int32_t lto = in.liveness_timeout;
  store_le16(packet + 8, static_cast<std::uint32_t>(lto >= 1 && lto <= 29 ? 30 : lto));
  store_le16(packet + 20, is_forced ? forced : 15);
  store_le16(packet + 22, in.comm_buffer_size == 0 ? 7300u
                                                   : static_cast<std::uint32_t>(in.comm_buffer_size));
  std::uint32_t bits = 0x100 | 0x200;
  if (in.comm_buffer_size == 0) bits |= 0x001;
  if (in.compress != 0) bits |= 0x002;  // not given (-1) or true
  if (in.compress == 1) bits |= 0x004;
  if (in.dump_flag) bits |= in.dump_number != 0 ? 0x010 : 0x020;
  if (is_forced && forced < 6) bits = 0;
  store_le32(packet + 24, bits);
  store_le16(packet + 28, static_cast<std::uint32_t>(in.compression_threshold));
  store_le16(packet + 30, static_cast<std::uint32_t>(in.idle_timeout));
  store_le16(packet + 32, 0x0A06);
  packet[37] = in.crypto_major;
  packet[38] = in.crypto_minor;
  packet[39] = in.env_byte;
  put_text(packet + 44, 31, in.charset_short);
  put_text(packet + 75, 31, in.language);
  if (in.language != nullptr && std::strlen(in.language) > 30) {
    put_text(packet + 106, 21, in.language + 30);
  }
  put_text(packet + 127, 51, in.charset_label);
  put_text(packet + 210, 51, in.os_charset);
  put_text(packet + 261, 51, in.api_charset);
  return true;
}

bool i_cs_ReadAppConnectReply(const unsigned char* reply, std::size_t len,
                              a_cs_appconnect_out* out) {
  *out = a_cs_appconnect_out{};
  if (reply == nullptr || len < kAppConnectBytes) return false;
  out->status = reply[3];
  out->level = static_cast<std::uint16_t>(load_le16(reply + 20));
  out->version_major = reply[6];
  out->version_minor = reply[7];
  out->version_build1 = static_cast<std::uint16_t>(load_le16(reply + 34));
  out->version_build2 = static_cast<std::uint16_t>(load_le16(reply + 32));
  out->caps = load_le32(reply + 24);
  out->liveness_timeout = static_cast<std::uint16_t>(load_le16(reply + 8));
  get_text(reply, len, out->level <= 9 ? 44 : 127, 50, out->charset);
  get_text(reply, len, 75, 30, out->language);
  if (out->level >= 10 && std::strlen(out->language) == 30) {
    // The rest of a long language name; the two parts together stay within 50.
    get_text(reply, len, 106, 20, out->language + 30);
  }
  out->check_language = len > 387 && reply[387] != 0;
  return true;
}

a_cmdseq_return i_cs_ApplyAppConnectReply(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                          const a_cs_appconnect_out& reply, bool charset_given,
                                          const char* charset, const char* language) {
  // Labels are compared by the language they name ("en" and "us_english" are one); two
  // labels that name no known language count as different.
  const LanguageInfo* asked = UTLocale::GetLanguageInfoFromLabel(language);
  const bool mismatch =
      reply.check_language &&
      (asked == nullptr || asked != UTLocale::GetLanguageInfoFromLabel(reply.language));
  const char* cs = charset != nullptr ? charset : "";
  bool mismatch_told = false;
  switch (reply.status) {
    case 0:
      break;
    case 1:
      i_cs_SetErrorInfo(err, -88);
      return CMDSEQ_ERROR;
    case 2:
      if (reply.level >= 2) {
        if (charset_given) {
          if (i_cs_SetErrorInfo(err, -869)) i_cs_SetErrorParam(err, cs);
          return CMDSEQ_ERROR;
        }
        mismatch_told = true;
        if (mismatch) {
          if (i_cs_SetErrorInfo(err, 117)) {
            i_cs_SetErrorParam(err, cs);
            i_cs_SetErrorParam(err, language);
            i_cs_SetErrorParam(err, reply.language);
          }
        } else if (i_cs_SetErrorInfo(err, 115)) {
          i_cs_SetErrorParam(err, cs);
          i_cs_SetErrorParam(err, reply.charset);
        }
      } else if (strcasecmp(cs, "unspecified") != 0 && i_cs_SetErrorInfo(err, 114)) {
        i_cs_SetErrorParam(err, cs);
        i_cs_SetErrorParam(err, "database character set");
      }
      break;
    case 3:
      i_cs_SetErrorInfo(err, -832);
      return CMDSEQ_ERROR;
    case 4:
      i_cs_SetErrorInfo(err, -1145);
      return CMDSEQ_ERROR;
    case 5:
      i_cs_SetErrorInfo(err, -838);
      return CMDSEQ_ERROR;
    default:
      // A status the client does not know is no success.
      i_cs_SetErrorInfo(err, -832);
      return CMDSEQ_ERROR;
  }
  if (mismatch && !mismatch_told && i_cs_SetErrorInfo(err, 116)) {
    i_cs_SetErrorParam(err, language);
    i_cs_SetErrorParam(err, reply.language);
  }
  conn->server_strm_ver = reply.level;
  conn->server_version_major = reply.version_major;
  conn->server_version_minor = reply.version_minor;
  conn->server_version_build1 = reply.version_build1;
  conn->server_version_build2 = reply.version_build2;
  conn->server_caps = reply.caps;
  return err->sqlcode > 0 ? CMDSEQ_WARNING : CMDSEQ_OK;
}
