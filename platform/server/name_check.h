// The connectionless packet by which a client checks, on a fresh TCP connection,
// that it reached the server it named. All numbers in it are big-endian.
//
// Header (32 bytes): type 27, status 0, BE16 total length, 4 zero bytes, 18,
// "CONNECTIONLESS_VQP", BE32 number, 0 request / 1 response. Then a section
// block: BE16 4, BE16 version, BE16 count, then sections (tag, length, payload):
// 0 server name + NUL, 1 BE16 port, 3 flag byte, 4 BE64 token, 7 BE16 size,
// 8 alternate (asked-for) name + NUL; other tags are skipped.
#pragma once

#include <cstdint>
#include <string>

namespace vqeng {

struct NameCheckRequest {
  std::uint32_t number = 0;
  std::uint16_t version = 0;
  std::string asked_name;  // section 8
  std::uint64_t token = 0;
};

// Parses a whole type-27 packet (header included). False with `why` when it is
// not a well-formed request.
bool parse_name_check(const std::string& packet, NameCheckRequest& req, std::string& why);

// The response naming this server, with its TCP port.
std::string build_name_check_response(const NameCheckRequest& req,
                                      const std::string& server_name, std::uint16_t port);

}  // namespace vqeng
