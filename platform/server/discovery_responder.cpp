// Discovery answers of the stand-in server.
#include "discovery_responder.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vqeng {
namespace {

constexpr char kRequestTag[] = "STRMBROAD";
constexpr char kResponseTag[] = "STRMBRESP";
constexpr std::size_t kTextTagBytes = 9;
constexpr char kFormTag[] = "CONNECTIONLESS_VQP";
constexpr std::size_t kFormTagBytes = sizeof kFormTag - 1;
constexpr std::size_t kFormHeaderBytes = 8 + 1 + kFormTagBytes + 4 + 1;
static_assert(kFormHeaderBytes == 32, "connectionless header is 32 bytes");
constexpr std::uint8_t kConnectionlessType = 27;
constexpr std::uint16_t kAnswerVersion = 5;
constexpr std::uint16_t kSizeValue = 1200;
constexpr std::size_t kMaxText = 253;  // a text and its zero byte fit a length byte
constexpr std::size_t kDatagramBytes = 2048;

enum : std::uint8_t {
  kSecName = 0,
  kSecPort = 1,
  kSecFlag = 3,
  kSecToken = 4,
  kSecDatabase = 6,
  kSecSize = 7,
  kSecAltName = 8
};

std::uint64_t be(const std::string& s, std::size_t at, std::size_t n) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < n; ++i) v = (v << 8) | static_cast<std::uint8_t>(s[at + i]);
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

std::string text_payload(const std::string& text) {
  std::string t = text.substr(0, kMaxText);
  t.push_back('\0');
  return t;
}

struct Request {
  bool textForm = false;
  std::uint32_t number = 0;
  std::string name;  // asked-for name; empty asks for every server
  bool wantsDatabase = false;
  std::uint64_t token = 0;
};

// The text up to a zero byte that lies within [at, end); false without one.
bool read_text(const std::string& s, std::size_t at, std::size_t end, std::string& out,
               std::size_t* next) {
  const void* nul = std::memchr(s.data() + at, 0, end - at);
  if (nul == nullptr) return false;
  const std::size_t n = static_cast<const char*>(nul) - (s.data() + at);
  out.assign(s, at, n);
  if (next != nullptr) *next = at + n + 1;
  return true;
}

// The section block from `at` to the end; every section must lie within the datagram.
bool read_block(const std::string& s, std::size_t at, Request& req) {
  if (at == s.size()) return true;
  if (s.size() - at < 6) return false;
  const std::size_t rest = be(s, at, 2);
  if (rest < 4 || s.size() - at - 2 < rest) return false;
  std::size_t count = be(s, at + 4, 2);
  at += 2 + rest;
  for (; count > 0; --count) {
    if (s.size() - at < 2) return false;
    const std::uint8_t tag = static_cast<std::uint8_t>(s[at]);
    const std::size_t len = static_cast<std::uint8_t>(s[at + 1]);
    const std::size_t payload = at + 2;
    if (s.size() - payload < len) return false;
    std::string text;
    switch (tag) {
      case kSecName:
        if (len != 0) {
          if (!read_text(s, payload, payload + len, text, nullptr)) return false;
          if (req.name.empty()) req.name = text;
        }
        break;
      case kSecToken:
        if (len == 8) req.token = be(s, payload, 8);
        break;
      case kSecDatabase:
        req.wantsDatabase = true;
        break;
      default:
        break;
    }
    at = payload + len;
  }
  return true;
}

bool read_request(const std::string& s, Request& req) {
  if (s.size() >= kTextTagBytes && s.compare(0, kTextTagBytes, kRequestTag) == 0) {
    req.textForm = true;
    std::size_t next = 0;
    if (!read_text(s, kTextTagBytes, s.size(), req.name, &next)) return false;
    return read_block(s, next, req);
  }
  if (s.size() < kFormHeaderBytes || static_cast<std::uint8_t>(s[0]) != kConnectionlessType ||
      be(s, 2, 2) != s.size())
    return false;
  if (static_cast<std::uint8_t>(s[8]) != kFormTagBytes ||
      s.compare(9, kFormTagBytes, kFormTag) != 0)
    return false;
  req.number = static_cast<std::uint32_t>(be(s, 27, 4));
  if (s[31] != 0) return false;  // a response, not a request
  return read_block(s, kFormHeaderBytes, req);
}

// "ADDRESS:PORT" with a numeric IPv4 address or "[IPv6]".
bool parse_where(const std::string& where, sockaddr_storage& out, socklen_t& length,
                 std::string& why) {
  std::string host;
  std::string port;
  if (!where.empty() && where[0] == '[') {
    const auto close = where.find(']');
    if (close == std::string::npos || close + 1 >= where.size() || where[close + 1] != ':') {
      why = "discovery address " + where + " is not [IPv6]:PORT";
      return false;
    }
    host = where.substr(1, close - 1);
    port = where.substr(close + 2);
  } else {
    const auto colon = where.rfind(':');
    if (colon == std::string::npos) {
      why = "discovery address " + where + " is not ADDRESS:PORT";
      return false;
    }
    host = where.substr(0, colon);
    port = where.substr(colon + 1);
  }
  if (port.empty() || port.size() > 5 ||
      port.find_first_not_of("0123456789") != std::string::npos || std::stoul(port) > 65535) {
    why = "bad discovery port in " + where;
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;  // never the name service
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || found == nullptr) {
    why = "discovery address " + where + " is not a numeric address";
    return false;
  }
  std::memcpy(&out, found->ai_addr, found->ai_addrlen);
  length = found->ai_addrlen;
  freeaddrinfo(found);
  return true;
}

}  // namespace

std::string answer_discovery(const std::string& datagram, const DiscoveryIdentity& id) {
  Request req;
  if (!read_request(datagram, req)) return std::string();
  if (!req.name.empty() && req.name != id.server_name) return std::string();

  std::string sections;
  unsigned count = 0;
  auto add = [&](std::uint8_t tag, const std::string& payload) {
    section(sections, tag, payload);
    ++count;
  };
  add(kSecName, text_payload(id.server_name));
  std::string v;
  put_be(v, id.tcp_port, 2);
  add(kSecPort, v);
  add(kSecFlag, std::string(1, '\1'));
  v.clear();
  put_be(v, req.token, 8);
  add(kSecToken, v);
  if (req.wantsDatabase) add(kSecDatabase, text_payload(id.database_name));
  v.clear();
  put_be(v, kSizeValue, 2);
  add(kSecSize, v);

  std::string block;
  put_be(block, 4, 2);
  put_be(block, kAnswerVersion, 2);
  put_be(block, count, 2);
  block += sections;

  std::string p;
  if (req.textForm) {
    p.assign(kResponseTag, kTextTagBytes);
    p += text_payload(id.server_name);
    return p + block;
  }
  p.push_back(static_cast<char>(kConnectionlessType));
  p.push_back(0);
  p.append(2, '\0');  // total length, below
  p.append(4, '\0');
  p.push_back(static_cast<char>(kFormTagBytes));
  p += kFormTag;
  put_be(p, req.number, 4);
  p.push_back(1);  // response
  p += block;
  p[2] = static_cast<char>((p.size() >> 8) & 0xFF);
  p[3] = static_cast<char>(p.size() & 0xFF);
  return p;
}

DiscoveryResponder::~DiscoveryResponder() { stop(); }

bool DiscoveryResponder::start(const std::string& where, const std::string& server_name,
                               const std::string& database_name, std::uint16_t tcp_port,
                               std::string& why) {
  if (where.empty()) return true;
  sockaddr_storage address{};
  socklen_t length = 0;
  if (!parse_where(where, address, length, why)) return false;
  fd_ = ::socket(address.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) {
    why = std::string("discovery socket: ") + std::strerror(errno);
    return false;
  }
  if (address.ss_family == AF_INET6) {
    const int on = 1;
    ::setsockopt(fd_, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  }
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    why = "cannot answer discovery on " + where + ": " + std::strerror(errno);
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  port_ =
      ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                          : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
  id_ = DiscoveryIdentity{server_name, database_name, tcp_port};
  std::printf("udp=%u\n", port_);
  std::fflush(stdout);
  stop_ = false;
  thread_ = std::thread([this] { run(); });
  return true;
}

void DiscoveryResponder::stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void DiscoveryResponder::run() {
  std::string datagram(kDatagramBytes, '\0');
  while (!stop_) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 100) != 1) continue;
    sockaddr_storage from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n = ::recvfrom(fd_, &datagram[0], datagram.size(), MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n <= 0) continue;
    const std::string answer =
        answer_discovery(datagram.substr(0, static_cast<std::size_t>(n)), id_);
    if (!answer.empty())
      ::sendto(fd_, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from),
               fromLength);
  }
}

}  // namespace vqeng
