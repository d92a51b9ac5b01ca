// Server-name check packets.
#include "name_check.h"

#include <cstring>

namespace vqeng {
namespace {

constexpr char kTag[] = "CONNECTIONLESS_VQP";
constexpr std::size_t kTagBytes = sizeof kTag - 1;
constexpr std::size_t kHeaderBytes = 8 + 1 + kTagBytes + 4 + 1;
static_assert(kHeaderBytes == 32, "connectionless header is 32 bytes");

std::uint32_t be(const std::string& s, std::size_t at, int n) {
  std::uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | static_cast<std::uint8_t>(s[at + i]);
  return v;
}
void put_be(std::string& s, std::uint64_t v, int n) {
  for (int i = n - 1; i >= 0; --i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void section(std::string& s, std::uint8_t tag, const std::string& payload) {
  s.push_back(static_cast<char>(tag));
  s.push_back(static_cast<char>(payload.size()));
  s += payload;
}

}  // namespace

bool parse_name_check(const std::string& p, NameCheckRequest& req, std::string& why) {
  if (p.size() < kHeaderBytes || be(p, 2, 2) != p.size()) {
    why = "connectionless packet too short or of the wrong length";
    return false;
  }
  if (static_cast<std::uint8_t>(p[8]) != kTagBytes || p.compare(9, kTagBytes, kTag) != 0) {
    why = "connectionless packet without its form tag";
    return false;
  }
  req.number = be(p, 27, 4);
  if (p[31] != 0) {
    why = "connectionless packet is not a request";
    return false;
  }
  std::size_t at = kHeaderBytes;
  if (at == p.size()) return true;
  if (p.size() - at < 6) {
    why = "connectionless section block too short";
    return false;
  }
  const std::size_t rest = be(p, at, 2);
  if (rest < 4 || p.size() - at - 2 < rest) {
    why = "connectionless section block header does not fit";
    return false;
  }
  req.version = static_cast<std::uint16_t>(be(p, at + 2, 2));
  std::uint32_t count = be(p, at + 4, 2);
  at += 2 + rest;
  for (; count > 0 && at < p.size(); --count) {
    if (p.size() - at < 2 || p.size() - at - 2 < static_cast<std::uint8_t>(p[at + 1])) {
      why = "connectionless section runs past the packet";
      return false;
    }
    const std::uint8_t tag = static_cast<std::uint8_t>(p[at]);
    const std::size_t len = static_cast<std::uint8_t>(p[at + 1]);
    const std::string payload = p.substr(at + 2, len);
    if (tag == 8) req.asked_name = payload.substr(0, payload.find('\0'));
    if (tag == 4 && len == 8)
      req.token = (std::uint64_t{be(payload, 0, 4)} << 32) | be(payload, 4, 4);
    at += 2 + len;
  }
  if (count != 0) {
    why = "connectionless packet ends before its sections";
    return false;
  }
  return true;
}

std::string build_name_check_response(const NameCheckRequest& req,
                                      const std::string& server_name, std::uint16_t port) {
  std::string name = server_name.substr(0, 253);
  name.push_back('\0');
  std::string sections;
  section(sections, 0, name);
  std::string v;
  put_be(v, port, 2);
  section(sections, 1, v);
  section(sections, 3, std::string(1, '\1'));
  v.clear();
  put_be(v, req.token, 8);
  section(sections, 4, v);
  v.clear();
  put_be(v, 1200, 2);
  section(sections, 7, v);

  std::string p;
  p.push_back(27);
  p.push_back(0);
  p.append(2, '\0');  // length, filled below
  p.append(4, '\0');
  p.push_back(static_cast<char>(kTagBytes));
  p += kTag;
  put_be(p, 1, 4);
  p.push_back(1);  // response
  put_be(p, 4, 2);
  put_be(p, 5, 2);  // section-block version
  put_be(p, 5, 2);  // five sections
  p += sections;
  p[2] = static_cast<char>((p.size() >> 8) & 0xFF);
  p[3] = static_cast<char>(p.size() & 0xFF);
  return p;
}

}  // namespace vqeng
