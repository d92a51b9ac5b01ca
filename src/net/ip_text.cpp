// Text side of addresses: literal tests, the port of an address text, numeric address
// texts and the class-based (A/B/C) mask and broadcast rules.
#include <arpa/inet.h>
#include <netdb.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "net/tcp_util.h"

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The decimal number at the start of `p` (an empty field reads as 0). Large values
// saturate, so a long run of digits never overflows.
std::uint32_t read_decimal(const char* p) {
  std::uint32_t value = 0;
  for (; is_digit(*p); ++p) {
    value = value * 10 + static_cast<std::uint32_t>(*p - '0');
    if (value > 0xFFFFFF) value = 0xFFFFFF;
  }
  return value;
}

constexpr std::size_t kEmbeddedIPv4Bytes = 58;  // longest dotted tail copied for its test

}  // namespace

bool TcpUtil::IsIPv4Address(const char* text, unsigned allowPort) {
  if (text == nullptr || *text == '\0') return false;
  if (read_decimal(text) > 255) return false;
  int dots = 0;
  bool port = false;
  for (const char* p = text; *p != '\0'; ++p) {
    const char c = *p;
    if (c == '.' && !port) {
      if (read_decimal(p + 1) > 255) return false;
      ++dots;
    } else if (is_digit(c)) {
      continue;
    } else if (c == ':' && allowPort != 0 && !port) {
      if (read_decimal(p + 1) > 65535) return false;
      port = true;
    } else {
      return false;
    }
  }
  return dots == 3;
}

bool TcpUtil::IsIPv6Address(const char* text, unsigned allowPort) {
  if (text == nullptr || std::strchr(text, ':') == nullptr) return false;
  int colons = 0;
  bool double_colon = false;
  int group_digits = 0;
  int port_digits = 0;
  bool open_paren = false;
  bool close_paren = false;
  bool scope = false;
  bool embedded_ipv4 = false;
  bool port = false;
  const char* decimal_run = nullptr;
  for (const char* p = text; *p != '\0'; ++p) {
    const char c = *p;
    if (is_digit(c) && decimal_run == nullptr) decimal_run = p;
    if (c == ')' && open_paren && !close_paren) {
      if (colons < 2) return false;
      close_paren = true;
      if (p[1] == '\0') break;
      if (p[1] != ':' || allowPort == 0) return false;
      if (read_decimal(p + 2) > 65535) return false;
      port = true;
      group_digits = 0;
      ++p;  // past the ":"
      continue;
    }
    if (scope && !port) {
      if (std::isalnum(static_cast<unsigned char>(c)) == 0) return false;
      continue;
    }
    if (!port) {
      if (c == ':') {
        if (++colons > 7) return false;
        if (p > text && p[-1] == ':') {
          if (double_colon) return false;
          double_colon = true;
        }
        group_digits = 0;
        decimal_run = nullptr;
        continue;
      }
      if (c == '.') {
        if (decimal_run == nullptr) return false;
        char run[kEmbeddedIPv4Bytes + 1];
        std::size_t n = 0;
        const char* q = decimal_run;
        while (n < kEmbeddedIPv4Bytes && (is_digit(*q) || *q == '.')) run[n++] = *q++;
        run[n] = '\0';
        if (!IsIPv4Address(run, 0)) return false;
        embedded_ipv4 = true;
        // The dotted tail is one field: its digits are no hexadecimal group.
        while (is_digit(p[1]) || p[1] == '.') ++p;
        continue;
      }
    }
    if (port) {
      if (!is_digit(c)) return false;
      if (++port_digits > 5) return false;
      continue;
    }
    if (std::isxdigit(static_cast<unsigned char>(c)) != 0) {
      if (++group_digits > 4) return false;
      continue;
    }
    if (c == '(' && !open_paren && group_digits == 0) {
      open_paren = true;
      continue;
    }
    if (c == '%') {
      scope = true;
      continue;
    }
    return false;
  }
  if (open_paren && !close_paren) return false;
  if (colons == 7) return true;
  if (colons <= 6 && double_colon) return true;
  return embedded_ipv4 && (double_colon || colons == 6);
}

bool TcpUtil::IsIPAddress(const char* text, unsigned allowPort) {
  return IsIPv4Address(text, allowPort) || IsIPv6Address(text, allowPort);
}

std::uint16_t TcpUtil::GetPortNumber(const char* text) {
  if (text == nullptr) return 0;
  const char* p = text;
  if (IsIPv6Address(text, 1)) {
    p = std::strchr(text, ')');
    if (p == nullptr) return 0;
  }
  p = std::strchr(p, ':');
  if (p == nullptr) return 0;
  ++p;
  while (*p == ' ') ++p;
  if (*p == '\0') return 0;
  return static_cast<std::uint16_t>(read_decimal(p));
}

unsigned TcpUtil::AddressToString(const sockaddr_storage* storage, unsigned len, char* buf,
                                  unsigned size, unsigned withPort, unsigned withScope) {
  if (size == 0 || buf == nullptr || storage == nullptr) return 0;
  buf[0] = '\0';
  char text[60] = "";
  const auto* in4 = reinterpret_cast<const sockaddr_in*>(storage);
  const auto* in6 = reinterpret_cast<const sockaddr_in6*>(storage);
  const void* raw = storage->ss_family == AF_INET6 ? static_cast<const void*>(&in6->sin6_addr)
                                                   : static_cast<const void*>(&in4->sin_addr);
  if (inet_ntop(storage->ss_family, raw, text, sizeof text) == nullptr) {
    if (getnameinfo(reinterpret_cast<const sockaddr*>(storage), len, text, sizeof text, nullptr,
                    0, NI_NUMERICHOST) != 0) {
      char ipv4[INET_ADDRSTRLEN];
      inet_ntop(AF_INET, &in4->sin_addr, ipv4, sizeof ipv4);
      std::snprintf(text, sizeof text, "%s", ipv4);
    }
  }
  const bool ipv6 = IsIPv6Address(text, 0);
  std::uint16_t port = my_ntohs(in4->sin_port);
  char out[96];
  std::size_t n = 0;
  if (ipv6) {
    if (withPort != 0) out[n++] = '(';
    char* percent = std::strchr(text, '%');
    if (withScope == 0) {
      if (percent != nullptr) *percent = '\0';
    } else if (percent == nullptr && storage->ss_family == AF_INET6 &&
               in6->sin6_scope_id >= 1 && in6->sin6_scope_id <= 999) {
      const std::size_t used = std::strlen(text);
      std::snprintf(text + used, sizeof text - used, "%%%u", in6->sin6_scope_id);
    }
  }
  n += static_cast<std::size_t>(std::snprintf(out + n, sizeof out - n, "%s", text));
  if (withPort != 0) std::snprintf(out + n, sizeof out - n, "%s:%u", ipv6 ? ")" : "", port);
  // A text that does not fit is cut; the caller learns it from the result.
  const std::size_t total = std::strlen(out);
  const std::size_t copy = total < size ? total : size - 1;
  std::memcpy(buf, out, copy);
  buf[copy] = '\0';
  return total < size ? 1 : 0;
}

unsigned TcpUtil::AddressToString(const sockaddr_in* address, unsigned len, char* buf,
                                  unsigned size, unsigned withPort, unsigned withScope) {
  sockaddr_storage storage{};
  std::memcpy(&storage, address, len < sizeof storage ? len : sizeof storage);
  return AddressToString(&storage, len, buf, size, withPort, withScope);
}

unsigned TcpUtil::AddressToString(const char* text, char* buf, unsigned size) {
  return IPAddress(text).toString(buf, size, 0, 0, 1);
}

unsigned TcpUtil::AddressToString(const char* text, std::uint16_t port, char* buf,
                                  unsigned size) {
  IPAddress address(text);
  address.setPortNumber(port);
  return address.toString(buf, size, 1, 0, 1);
}

IPAddress TcpUtil::GetLoopbackIPAddress(unsigned isIPv6) {
  if (isIPv6 != 0 && IsIPv6Supported() != 0) {
    sockaddr_storage storage{};
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
    IN6ADDR_SETLOOPBACK(in6);
    return IPAddress(&storage, sizeof(sockaddr_in6));
  }
  return IPAddress(0x7F000001u);
}

namespace {

// The class mask of an IPv4 address in host order, or all ones for the other classes.
std::uint32_t class_mask(std::uint32_t a) {
  if ((a & 0x80000000u) == 0) return 0xFF000000u;
  if ((a & 0xC0000000u) == 0x80000000u) return 0xFFFF0000u;
  if ((a & 0xE0000000u) == 0xC0000000u) return 0xFFFFFF00u;
  return 0xFFFFFFFFu;
}

}  // namespace

const char* TcpUtil::GetClass(const sockaddr_storage* storage, unsigned len) {
  if (storage == nullptr || storage->ss_family != AF_INET || len < sizeof(sockaddr_in))
    return "";
  const std::uint32_t a =
      my_ntohl(reinterpret_cast<const sockaddr_in*>(storage)->sin_addr.s_addr);
  switch (class_mask(a)) {
    case 0xFF000000u:
      return "A";
    case 0xFFFF0000u:
      return "B";
    case 0xFFFFFF00u:
      return "C";
    default:
      return "";
  }
}

IPAddress TcpUtil::GetSubnetMaskBasedOnClass(const IPAddress& address) {
  if (address.isIPv6 != 0) return IPAddress(0xFFFFFFFFu);
  return IPAddress(class_mask(address.ipv4HostOrder()));
}

IPAddress TcpUtil::GetBroadcastAddressBasedOnClass(const IPAddress& address) {
  if (address.isIPv6 != 0) {
    IPAddress all_nodes("ff02::1");
    all_nodes.setScopeId(address.getScopeId());
    return all_nodes;
  }
  const std::uint32_t a = address.ipv4HostOrder();
  if (a == 0) return IPAddress(0xFFFFFFFFu);
  const std::uint32_t mask = class_mask(a);
  return IPAddress((a & mask) | ~mask);
}
