// The app-connect record: the client's request and the stand-in's reply.
//
// Layout (little-endian, offsets in bytes; both directions):
//   0 u16 size          2 u8 major (2)       3 u8 status (reply)
//   6 u8 DB version     7 u8 second version  8 s16 liveness seconds
//  10 u16 encryption level                  20 u16 minor version
//  22 u16 packet size  24 u32 option bits   28 u16 compression threshold
//  30 u16 idle seconds 32 u16 build         35 u16 random byte count (reply)
//  44 char[31] charset 75 char[31] language 106 char[21] language (more)
// 127 char[51] charset label                178 u8[32] random bytes (reply)
// 210 char[51] OS charset                   261 char[51] NCHAR / API charset
#pragma once

#include <cstdint>
#include <string>

namespace vqeng {

constexpr std::size_t kAppConnectBytes = 312;
constexpr std::size_t kOffRandom = 178;
constexpr std::size_t kRandomBytes = 32;
constexpr std::size_t kOffNcharCharset = 261;
static_assert(kOffNcharCharset + 51 == kAppConnectBytes, "app-connect record size");
static_assert(kOffRandom + kRandomBytes == 210, "random bytes end where the OS charset starts");

constexpr std::uint32_t kOptCompressAllowed = 0x002;
constexpr std::uint32_t kOptCompressAsked = 0x004;
constexpr std::uint32_t kCapCompression = 0x04;

struct AppConnectRequest {
  std::uint16_t size = 0;
  std::uint8_t major = 0;
  std::uint8_t db_version = 0;
  std::int16_t liveness = 0;
  std::uint16_t encryption = 0;
  std::uint16_t minor = 0;
  std::uint16_t packet_size = 0;
  std::uint32_t options = 0;
  std::uint16_t comp_threshold = 0;
  std::uint16_t build = 0;
  std::string charset;        // short name at 44
  std::string language;       // 75, continued at 106 when it fills its 30 characters
  std::string charset_label;  // 127
  std::string os_charset;     // 210
  std::string api_charset;    // 261
};

// Parses the body of a type-25 packet (a zero byte, then the record). Returns
// false with `why` set when the record is malformed.
bool parse_app_connect(const std::string& body, AppConnectRequest& req, std::string& why);

struct AppConnectAgreement {
  std::uint16_t minor = 15;
  std::uint16_t packet_size = 7300;
  std::uint16_t encryption = 0;  // 0 none, 1 simple, 2 ECC TLS, 3 RSA TLS
  bool compression = false;
  std::uint16_t comp_threshold = 120;
  std::uint16_t liveness = 0;  // seconds; 0 off. We send a liveness packet every third of it.
  std::uint8_t random[kRandomBytes] = {};
  std::string charset = "UTF-8";  // the connection's character set, as the reply names it
};

// TLS levels the server can agree (with a certificate to serve): ECC and RSA.
constexpr std::uint16_t kLevelFirstTls = 2;
constexpr std::uint16_t kLevelLastTls = 3;

// What the reply says of liveness: the client's own time-out (kLivenessEcho),
// none (0), or a number of seconds of our choosing.
constexpr int kLivenessEcho = -1;

// Decides what is agreed and builds the reply record (without the leading zero
// byte). `random` must hold kRandomBytes fresh bytes.
std::string build_app_connect_reply(const AppConnectRequest& req, const std::uint8_t* random,
                                    AppConnectAgreement& agreed, int liveness = kLivenessEcho,
                                    bool tls = false);

// Reply size that goes with a minor version (0 for "at least 312").
std::size_t app_connect_size_for_minor(std::uint16_t minor);

}  // namespace vqeng
