// The app-connect exchange: right after a stream connection opens, the client sends one
// app-connect record in a type-25 packet (a zero byte, then the record) and the server
// answers with one of its own. The reply fixes the packet size, compression, the
// encryption level and the item format, and carries the server's character sets,
// language and 32 random bytes.
//
// The record is little-endian, 312 bytes in the request; the reply's size follows its
// minor version and may be shorter, or (minor 0 and 16 and above) longer. Texts are
// zero-terminated and zero-padded to their field. The record is written and read only
// through the byte fields below, never laid over received bytes.
#ifndef VQ_STREAMS_APP_CONNECT_H
#define VQ_STREAMS_APP_CONNECT_H

#include <cstddef>
#include <cstdint>

#include "streams/byte_order.h"
#include "streams/notifier.h"

class c_encrypt_level;

//   offset width field
struct an_app_connect_pkt {
  std::uint8_t size[2];             //   0  2  bytes of the record (u16)
  std::uint8_t major;               //   2  1  stream protocol major version: 2
  std::uint8_t status;              //   3  1  0 in the request; the server's status
  std::uint8_t reserved4[2];        //   4  2
  std::uint8_t db_version;          //   6  1  the reply's lies from 6 to 21
  std::uint8_t db_version2;         //   7  1
  std::uint8_t liveness[2];         //   8  2  seconds (s16); negative in a reply = 120
  std::uint8_t encryption[2];       //  10  2  encryption level number (u16)
  std::uint8_t reserved12[8];       //  12  8
  std::uint8_t minor[2];            //  20  2  minor version (u16); the client sends 15
  std::uint8_t max_packet[2];       //  22  2  largest packet (u16); reply 300..16000
  std::uint8_t options[4];          //  24  4  option flags; 0x04 compression
  std::uint8_t comp_threshold[2];   //  28  2  compression threshold (0 means 120)
  std::uint8_t idle_timeout[2];     //  30  2  request only
  std::uint8_t build[2];            //  32  2  client build number, request only
  std::uint8_t reserved34;          //  34  1
  std::uint8_t random_count[2];     //  35  2  random bytes at `random` (u16, unaligned)
  std::uint8_t reserved37[7];       //  37  7
  char charset[31];                 //  44 31  server character set (minor above 5)
  char language[31];                //  75 31  server language (minor above 5)
  char language_extra[21];          // 106 21  further language text (minor above 9)
  char charset_extra[51];           // 127 51  further character-set text (minor above 9)
  std::uint8_t random[32];          // 178 32  random bytes (minor 13 and above)
  char os_charset[51];              // 210 51  operating-system character set (above 12)
  char nchar_charset[51];           // 261 51  NCHAR character set (minor 15 and above)
};

constexpr std::size_t kAppConnectPktBytes = 312;
static_assert(sizeof(an_app_connect_pkt) == kAppConnectPktBytes, "the record is 312 bytes");
static_assert(offsetof(an_app_connect_pkt, major) == 2, "");
static_assert(offsetof(an_app_connect_pkt, db_version) == 6, "");
static_assert(offsetof(an_app_connect_pkt, liveness) == 8, "");
static_assert(offsetof(an_app_connect_pkt, encryption) == 10, "");
static_assert(offsetof(an_app_connect_pkt, minor) == 20, "");
static_assert(offsetof(an_app_connect_pkt, max_packet) == 22, "");
static_assert(offsetof(an_app_connect_pkt, options) == 24, "");
static_assert(offsetof(an_app_connect_pkt, comp_threshold) == 28, "");
static_assert(offsetof(an_app_connect_pkt, idle_timeout) == 30, "");
static_assert(offsetof(an_app_connect_pkt, build) == 32, "");
static_assert(offsetof(an_app_connect_pkt, random_count) == 35, "");
static_assert(offsetof(an_app_connect_pkt, charset) == 44, "");
static_assert(offsetof(an_app_connect_pkt, language) == 75, "");
static_assert(offsetof(an_app_connect_pkt, language_extra) == 106, "");
static_assert(offsetof(an_app_connect_pkt, charset_extra) == 127, "");
static_assert(offsetof(an_app_connect_pkt, random) == 178, "");
static_assert(offsetof(an_app_connect_pkt, os_charset) == 210, "");
static_assert(offsetof(an_app_connect_pkt, nchar_charset) == 261, "");
static_assert(offsetof(an_app_connect_pkt, nchar_charset) + 51 == kAppConnectPktBytes,
              "the NCHAR character set ends the record");

constexpr std::uint16_t kAppConnectMajor = 2;
constexpr std::uint16_t kAppConnectMinor = 15;          // what this client speaks
constexpr std::uint16_t kAppConnectBuild = 2566;
constexpr std::uint8_t kAppConnectCompression = 0x04;   // in options[0]
constexpr std::uint16_t kAppConnectMinPacket = 300;
constexpr std::uint16_t kAppConnectMaxPacket = 16000;
constexpr std::uint16_t kAppConnectMinUsablePacket = 500;
constexpr std::uint8_t kAppConnectMinDbVersion = 6;
constexpr std::uint8_t kAppConnectMaxDbVersion = 21;
constexpr std::int16_t kAppConnectDefaultLiveness = 120;  // for a negative reply value

// The record's 16-bit fields.
inline std::uint16_t app_connect_u16(const std::uint8_t (&field)[2]) {
  return vq::strm::load_le16(field);
}
inline void set_app_connect_u16(std::uint8_t (&field)[2], std::uint16_t value) {
  vq::strm::store_le16(field, value);
}

// Results of ApplicationConnect.
enum : int {
  APPCONN_OK = 0,
  APPCONN_NO_ROOM = 1,           // no room for the request
  APPCONN_SEND_FAILED = 2,       // the request could not be sent
  APPCONN_NO_REPLY = 3,          // no valid reply (message in the error text)
  APPCONN_BAD_STATE = 4,         // the connection is past its first receiving state
  APPCONN_NO_COMPRESSION = 5,    // compression could not be started
  APPCONN_CRYPTO_UNUSABLE = 6,   // crypto error 31 or 32
  APPCONN_CRYPTO_FAILED = 7,     // any other crypto error
  APPCONN_LEVEL_MISMATCH = 8,    // the server's level does not fit the client's
  APPCONN_CRYPTO_MISSING = 9,    // crypto error 11, 25 or 26
};

// Sends `request` (its size field says how many bytes, at most 312) on the new
// connection, waits up to `timeout_seconds` for the reply (0: 300 seconds over shared
// memory, 30 otherwise), checks it and applies what it agrees: packet size,
// compression, encryption (`level` may be moved to the server's) and the item format.
// `reply` gets at most 312 bytes of the reply, the rest of it zeroed; a longer reply is
// cut. On failure `err` (err_len bytes) holds a message and the connection stays below
// the app-connected state. Returns an APPCONN_ result, or the transport connection's
// encryption start-up result.
int ApplicationConnect(a_strm_conn conn, const an_app_connect_pkt* request,
                       c_encrypt_level* level, an_app_connect_pkt* reply, char* err,
                       unsigned int err_len, std::uint32_t timeout_seconds);

// True when the record passes every check of a reply; `arrived` is the number of
// bytes that came (the size field must match it). With `already_checked` non-zero the
// size checks are skipped. Each failure is printed through StrmPrint with `conn`'s host
// context (nothing for a null connection).
bool StrmVerifyAppConnectPkt(a_strm_conn conn, const an_app_connect_pkt* pkt,
                             int already_checked);

namespace vq::strm {
// The checks over a reply of `length` bytes as received (it may be shorter or longer
// than the record); prints through `host_ctx`.
bool VerifyAppConnectReply(const std::uint8_t* bytes, std::size_t length, bool already_checked,
                           void* host_ctx);
// The reply size a minor version calls for: exact (true) or at least (false).
std::size_t AppConnectSizeForMinor(std::uint16_t minor, bool* exact);
}  // namespace vq::strm

#endif  // VQ_STREAMS_APP_CONNECT_H
