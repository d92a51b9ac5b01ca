// Look-up of address texts ("host", "host:port", "a.b.c.d:port", "(ipv6%scope):port")
// into addresses, and the reverse look-up of an IPv4 address.
#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <pthread.h>

#include <cstring>

#include "net/tcp_util.h"

namespace {

constexpr std::size_t kHostBytes = 255;  // host part of a text; longer hosts are cut

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Holds ThreadCritSect (when the network state is started) for one resolver call.
class ResolverLock {
 public:
  ResolverLock() : mutex_(TcpUtil::ThreadCritSect.handle) {
    if (mutex_ != nullptr) pthread_mutex_lock(mutex_);
  }
  ~ResolverLock() {
    if (mutex_ != nullptr) pthread_mutex_unlock(mutex_);
  }
  ResolverLock(const ResolverLock&) = delete;
  ResolverLock& operator=(const ResolverLock&) = delete;

 private:
  pthread_mutex_t* mutex_;
};

void append(IPAddress_list& list, const sockaddr* address, unsigned len, std::uint16_t port) {
  auto* entry = new IPAddress(reinterpret_cast<const sockaddr_storage*>(address), len);
  entry->setPortNumber(port);
  list.append(entry);
}

}  // namespace

unsigned TcpUtil::_DoResolve(const char* text, IPAddress_list& list, eAddressType type,
                             bool all) {
  if (text == nullptr) return 0;
  const bool ipv6_supported = IsIPv6Supported() != 0;
  const bool ipv4_literal = IsIPv4Address(text, 1);
  const bool ipv6_literal = !ipv4_literal && IsIPv6Address(text, 1);
  if (ipv6_literal && !ipv6_supported) return 0;

  // Split the host from the port.
  char host[kHostBytes + 1];
  std::size_t n = 0;
  const char* port_text = nullptr;
  if (ipv6_literal) {
    const char* p = text;
    for (; *p != '\0' && *p != ')'; ++p)
      if (*p != '(' && n < kHostBytes) host[n++] = *p;
    if (*p == ')' && p[1] != '\0') port_text = p + 2;  // past "):"
  } else {
    const char* p = text;
    for (; *p != '\0' && *p != ':'; ++p)
      if (n < kHostBytes) host[n++] = *p;
    if (*p == ':') port_text = p + 1;
  }
  host[n] = '\0';
  std::uint32_t port = 0;
  if (port_text != nullptr) {
    if (!is_digit(*port_text)) return 0;
    for (const char* p = port_text; is_digit(*p) && port < 65536; ++p)
      port = port * 10 + static_cast<std::uint32_t>(*p - '0');
    if (port >= 65536) return 0;
  }
  const auto port16 = static_cast<std::uint16_t>(port);

  if (std::strcmp(host, "255.255.255.255") == 0) {
    list.append(new IPAddress(0xFFFFFFFFu));
    list.last_element()->setPortNumber(port16);
    return 1;
  }

  if (ipv6_supported) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    if (ipv4_literal || ipv6_literal) hints.ai_flags = AI_NUMERICHOST;
    // A scope suffix names an interface or gives its index.
    char bare[kHostBytes + 1];
    const char* query = host;
    std::uint32_t scope = 0;
    if (char* percent = std::strchr(host, '%'); percent != nullptr) {
      const char* suffix = percent + 1;
      scope = if_nametoindex(suffix);
      if (scope == 0) {
        std::uint32_t number = 0;
        for (const char* p = suffix; is_digit(*p) && number < 0x10000000u; ++p)
          number = number * 10 + static_cast<std::uint32_t>(*p - '0');
        char name[IF_NAMESIZE];
        if (number != 0 && if_indextoname(number, name) != nullptr) scope = number;
      }
      if (scope != 0) {
        const std::size_t keep = static_cast<std::size_t>(percent - host);
        std::memcpy(bare, host, keep);
        bare[keep] = '\0';
        query = bare;
      }
    }
    addrinfo* answers = nullptr;
    if (getaddrinfo(query, nullptr, &hints, &answers) != 0) return 0;
    bool taken = false;
    for (addrinfo* a = answers; a != nullptr; a = a->ai_next) {
      const bool is4 = a->ai_family == AF_INET;
      const bool is6 = a->ai_family == AF_INET6;
      const bool wanted = type == kIPv6Only ? is6 : (is4 || (is6 && type == kBoth));
      if (!wanted) continue;
      append(list, a->ai_addr, a->ai_addrlen, port16);
      if (is6 && scope != 0 && !taken) list.last_element()->setScopeId(scope);
      taken = true;
      if (!all) break;
    }
    freeaddrinfo(answers);
    if (taken) return 1;
  }

  if (type == kIPv6Only) return 0;
  if (ipv4_literal) {
    in_addr_t a = inet_addr(host);
    if (a == INADDR_NONE && std::strcmp(host, "255.255.255.255") != 0) return 0;
    list.append(new IPAddress(my_ntohl(a)));
    list.last_element()->setPortNumber(port16);
    return 1;
  }
  if (ipv6_literal) return 0;
  // A name, IPv4 only. getaddrinfo stands in for the non-reentrant name look-up; the
  // lock keeps resolver calls serialised as before.
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* answers = nullptr;
  int rc;
  {
    ResolverLock lock;
    rc = getaddrinfo(host, nullptr, &hints, &answers);
  }
  if (rc != 0 || answers == nullptr) return 0;
  for (addrinfo* a = answers; a != nullptr; a = a->ai_next) {
    append(list, a->ai_addr, a->ai_addrlen, port16);
    if (!all) break;
  }
  freeaddrinfo(answers);
  return 1;
}

unsigned TcpUtil::ResolveAll(const char* text, IPAddress_list& list, eAddressType type) {
  return _DoResolve(text, list, type, true);
}

unsigned TcpUtil::Resolve(const char* text, IPAddress& address, eAddressType type) {
  IPAddress_list found;
  const unsigned rc = _DoResolve(text, found, type, false);
  if (rc != 0 && !found.is_empty()) address = *found.first_element();
  return rc;
}

unsigned TcpUtil::Resolve(const char* text, std::uint16_t port, IPAddress& address,
                          eAddressType type) {
  const unsigned rc = Resolve(text, address, type);
  address.setPortNumber(port);
  return rc;
}

unsigned TcpUtil::LookupHostName(const IPAddress& address, char* buf, unsigned size) {
  if (address.valid == 0 || address.isIPv6 != 0 || buf == nullptr || size == 0) return 0;
  sockaddr_in in4{};
  in4.sin_family = AF_INET;
  in4.sin_addr.s_addr = my_htonl(address.ipv4HostOrder());
  char name[NI_MAXHOST];
  int rc;
  {
    ResolverLock lock;
    rc = getnameinfo(reinterpret_cast<const sockaddr*>(&in4), sizeof in4, name, sizeof name,
                     nullptr, 0, NI_NAMEREQD);
  }
  if (rc != 0) return 0;
  const std::size_t len = std::strlen(name);
  const std::size_t copy = len < size ? len : size - 1;
  std::memcpy(buf, name, copy);
  buf[copy] = '\0';
  return 1;
}
