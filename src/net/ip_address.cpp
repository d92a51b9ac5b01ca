// IPAddress: construction, comparison and classification of one socket address.
#include "net/ip_address.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>

#include "net/socket.h"
#include "net/tcp_util.h"

namespace {

constexpr unsigned kIPv4Length = sizeof(sockaddr_in);  // 16
static_assert(kIPv4Length == 16, "an IPv4 socket address is 16 bytes");

sockaddr_in* v4(sockaddr_storage& s) { return reinterpret_cast<sockaddr_in*>(&s); }
const sockaddr_in* v4(const sockaddr_storage& s) {
  return reinterpret_cast<const sockaddr_in*>(&s);
}
sockaddr_in6* v6(sockaddr_storage& s) { return reinterpret_cast<sockaddr_in6*>(&s); }
const sockaddr_in6* v6(const sockaddr_storage& s) {
  return reinterpret_cast<const sockaddr_in6*>(&s);
}

// Makes `s` the IPv4 address `a` (host order) with port 0.
void set_ipv4(sockaddr_storage& s, std::uint32_t a) {
  std::memset(&s, 0, sizeof s);
  v4(s)->sin_family = AF_INET;
  v4(s)->sin_addr.s_addr = my_htonl(a);
}

bool all_zero(const std::uint8_t* bytes, int n) {
  for (int i = 0; i < n; ++i)
    if (bytes[i] != 0) return false;
  return true;
}

}  // namespace

void IN6ADDR_SETLOOPBACK(sockaddr_in6* address) {
  address->sin6_family = AF_INET6;
  address->sin6_addr = in6addr_loopback;
}

IPAddress::IPAddress() : length(sizeof(sockaddr_storage)), valid(0), isIPv6(0) {
  std::memset(&storage, 0, sizeof storage);
}

IPAddress::IPAddress(const char* text) : length(kIPv4Length), valid(0), isIPv6(0) {
  std::memset(&storage, 0, sizeof storage);
  reset(text);
}

IPAddress::IPAddress(std::uint32_t a) : length(kIPv4Length), valid(1), isIPv6(0) {
  set_ipv4(storage, a);
}

IPAddress::IPAddress(const sockaddr_storage* s, unsigned len)
    : length(len), valid(1), isIPv6(0) {
  std::memset(&storage, 0, sizeof storage);
  reset(s, len);
}

IPAddress::IPAddress(Socket& socket) : length(kIPv4Length), valid(0), isIPv6(0) {
  std::memset(&storage, 0, sizeof storage);
  if (socket.getsockname(*this) != 0) {
    valid = 0;
    return;
  }
  if (storage.ss_family == AF_INET6) {
    isIPv6 = 1;
    length = sizeof(sockaddr_storage);
  }
}

IPAddress::IPAddress(const IPAddress& other)
    : c_utils_link(), length(other.length), valid(other.valid), isIPv6(other.isIPv6) {
  std::memset(&storage, 0, sizeof storage);
  std::memcpy(&storage, &other.storage,
              other.length < sizeof storage ? other.length : sizeof storage);
}

IPAddress::~IPAddress() = default;

IPAddress& IPAddress::operator=(const IPAddress& other) {
  if (this != &other) {
    valid = other.valid;
    isIPv6 = other.isIPv6;
    length = other.length;
    storage = other.storage;
  }
  return *this;
}

IPAddress& IPAddress::operator=(std::uint32_t a) {
  set_ipv4(storage, a);
  length = kIPv4Length;
  valid = 1;
  isIPv6 = 0;
  return *this;
}

unsigned IPAddress::reset(const char* text) {
  valid = TcpUtil::Resolve(text, *this, TcpUtil::kBoth);
  if (valid != 0 && storage.ss_family == AF_INET6) isIPv6 = 1;
  return valid;
}

void IPAddress::reset(const sockaddr_storage* s, unsigned len) {
  valid = 1;
  isIPv6 = 0;
  if (len > sizeof storage) len = sizeof storage;
  length = len;
  std::memset(&storage, 0, sizeof storage);
  if (s != nullptr) std::memcpy(&storage, s, len);
  if (storage.ss_family == AF_INET6)
    isIPv6 = 1;
  else if (storage.ss_family != AF_INET)
    valid = 0;
}

IPAddress* IPAddress::clone() const { return new IPAddress(*this); }

void IPAddress::setValid(unsigned v) {
  valid = v;
  if (v != 0) isIPv6 = storage.ss_family == AF_INET6 ? 1 : 0;
}

std::uint16_t IPAddress::getPortNumber() const {
  if (valid == 0) return 0;
  // sin_port and sin6_port lie at the same offset.
  return my_ntohs(v4(storage)->sin_port);
}

void IPAddress::setPortNumber(std::uint16_t port) { v4(storage)->sin_port = my_htons(port); }

std::uint32_t IPAddress::getScopeId() const {
  if (valid == 0 || isIPv6 == 0) return 0;
  return v6(storage)->sin6_scope_id;
}

void IPAddress::setScopeId(std::uint32_t id) {
  if (isIPv6 != 0) v6(storage)->sin6_scope_id = id;
}

IPAddress::operator int() const {
  if (isIPv6 != 0 || valid == 0) return -1;
  return static_cast<int>(my_ntohl(v4(storage)->sin_addr.s_addr));
}

bool IPAddress::operator==(std::uint32_t a) const {
  if (isIPv6 != 0) return false;
  return ipv4HostOrder() == a;
}

bool IPAddress::isLoopback() const {
  if (isIPv6 != 0) return IN6_IS_ADDR_LOOPBACK(&v6(storage)->sin6_addr);
  return *this == 0x7F000001u;
}

void IPAddress::use_INADDR_ANY(unsigned ipv6) {
  if (ipv6 != 0)
    reset("::");
  else
    *this = 0u;
}

bool IPAddress::is_INADDR_ANY_v4() const { return sameIPAddress(IPAddress("0.0.0.0")); }
bool IPAddress::is_INADDR_ANY_v6() const { return sameIPAddress(IPAddress("::")); }

bool IPAddress::sameIPAddress(const IPAddress& other) const {
  if (valid == 0 || other.valid == 0) return false;
  if (storage.ss_family == other.storage.ss_family) {
    sockaddr_storage a = storage;
    sockaddr_storage b = other.storage;
    v4(a)->sin_port = 0;
    v4(b)->sin_port = 0;
    if (a.ss_family == AF_INET6) {
      v6(a)->sin6_flowinfo = 0;
      v6(b)->sin6_flowinfo = 0;
      if (v6(a)->sin6_scope_id == 0 || v6(b)->sin6_scope_id == 0) {
        v6(a)->sin6_scope_id = 0;
        v6(b)->sin6_scope_id = 0;
      }
    }
    std::uint32_t common = length < other.length ? length : other.length;
    if (common > sizeof a) common = sizeof a;
    return std::memcmp(&a, &b, common) == 0;
  }
  const IPAddress* six = isIPv6 != 0 ? this : &other;
  const IPAddress* four = isIPv6 != 0 ? &other : this;
  if (four->storage.ss_family != AF_INET) return false;
  const int type = six->getIPv6AddressType();
  if (type != 7 && type != 8) return false;
  return six->getIPv4EmbeddedAddress().sameIPAddress(*four);
}

int IPAddress::getIPv6AddressType() const {
  if (isIPv6 == 0 || valid == 0) return 0;
  const std::uint8_t* b = v6(storage)->sin6_addr.s6_addr;
  const bool unspecified = all_zero(b, 16);
  if (!unspecified && all_zero(b, 10) && b[10] == 0xFF && b[11] == 0xFF) return 7;
  if (!unspecified && all_zero(b, 12)) return 8;
  const std::uint8_t b0 = b[0];
  const std::uint8_t b1 = b[1];
  if (b0 == 0x01 || b0 == 0x06 || b0 == 0x07 || (b0 >= 0x08 && b0 <= 0x1F) ||
      (b0 >= 0x40 && b0 <= 0xFB) || b0 == 0xFC || b0 == 0xFD || (b0 == 0xFE && b1 < 0x80))
    return 2;
  if (b0 <= 0x05) return 1;
  if (b0 >= 0x20 && b0 <= 0x3F) return 3;
  if (b0 == 0xFE) return b1 <= 0xBF ? 4 : 5;
  return 6;  // 0xFF
}

IPAddress IPAddress::getIPv4EmbeddedAddress() const {
  const int type = getIPv6AddressType();
  if (type != 7 && type != 8) {
    IPAddress none(0u);
    none.valid = 0;
    return none;
  }
  const std::uint8_t* b = v6(storage)->sin6_addr.s6_addr;
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[12], b[13], b[14], b[15]);
  return IPAddress(text);
}

bool IPAddress::isPrivateNet() const {
  if (isIPv6 != 0) {
    const int type = getIPv6AddressType();
    if (type != 7 && type != 8) return false;
    return getIPv4EmbeddedAddress().isPrivateNet();
  }
  char text[32];
  if (toString(text, sizeof text, 0, 0, 0) == 0) return false;
  return std::strncmp(text, "10.", 3) == 0 || std::strncmp(text, "172.16.", 7) == 0 ||
         std::strncmp(text, "192.168.", 8) == 0;
}

unsigned IPAddress::toString(char* buf, unsigned size, unsigned withPort, unsigned lookupName,
                             unsigned withScope) const {
  if (valid == 0) return 0;
  if (lookupName != 0) {
    char name[1025];
    if (TcpUtil::LookupHostName(*this, name, sizeof name) != 0) {
      char port[8] = "";
      if (withPort != 0) std::snprintf(port, sizeof port, ":%u", getPortNumber());
      if (size == 0) return 0;
      const int n = std::snprintf(buf, size, "%s%s", name, port);
      return n >= 0 && static_cast<unsigned>(n) < size ? 1 : 0;
    }
  }
  return TcpUtil::AddressToString(&storage, length, buf, size, withPort, withScope);
}
