// Whether this host sits on the product's own internal network. Nothing in the client
// decides anything by it; it answers for diagnostics and for tools built on the library.
//
// The first test reads the resolver configuration: the host is inside when the first
// domain it names ("domain" or "search") is the internal domain or one below it. The
// second test, for hosts with a private interface address (where the resolver file often
// names a home or office domain), asks whether the internal mirror host resolves, and
// otherwise falls back to the first.
#include <fcntl.h>

#include <cstring>
#include <new>

#include "net/network_interface.h"
#include "net/tcp_util.h"
#include "utils/base/compat.h"
#include "utils/base/posix_file.h"

namespace {

constexpr char kInternalDomain[] = "vellumcrest.com";
constexpr char kInternalHost[] = "vcmirror.vellumcrest.com";
constexpr char kDefaultResolvConf[] = "/etc/resolv.conf";
constexpr std::size_t kResolvConfLimit = 64 * 1024;

const char* g_resolv_conf = nullptr;
bool (*g_internal_host_resolves)(const char* name) = nullptr;

bool DefaultResolves(const char* name) {
  IPAddress address;
  return TcpUtil::Resolve(name, address, TcpUtil::kBoth) != 0;
}

// The domain itself or a name that ends in "." followed by it, without regard to case.
bool IsInternalDomain(const char* domain, std::size_t length) {
  const std::size_t suffix = sizeof kInternalDomain - 1;
  while (length > 0 && domain[length - 1] == '.') --length;  // a rooted name
  if (length < suffix) return false;
  if (vq::compat::strnicmp(domain + length - suffix, kInternalDomain, suffix) != 0) {
    return false;
  }
  return length == suffix || domain[length - suffix - 1] == '.';
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The first domain of the first "domain" or "search" line, as a range of `text`.
bool FirstDomain(const char* text, std::size_t size, const char** domain,
                 std::size_t* length) {
  std::size_t pos = 0;
  while (pos < size) {
    std::size_t end = pos;
    while (end < size && text[end] != '\n') ++end;
    std::size_t p = pos;
    while (p < end && IsBlank(text[p])) ++p;
    std::size_t word = p;
    while (p < end && !IsBlank(text[p]) && text[p] != '\r') ++p;
    const std::size_t word_length = p - word;
    const bool keyword = (word_length == 6 && std::memcmp(text + word, "domain", 6) == 0) ||
                         (word_length == 6 && std::memcmp(text + word, "search", 6) == 0);
    if (keyword) {
      while (p < end && IsBlank(text[p])) ++p;
      const std::size_t first = p;
      while (p < end && !IsBlank(text[p]) && text[p] != '\r' && text[p] != '#' &&
             text[p] != ';') {
        ++p;
      }
      if (p > first) {
        *domain = text + first;
        *length = p - first;
        return true;
      }
    }
    pos = end + 1;
  }
  return false;
}

}  // namespace

bool TcpUtil::IsOnInternalNetwork() {
  const char* path = g_resolv_conf != nullptr ? g_resolv_conf : kDefaultResolvConf;
  const int fd = _posix_open(path, O_RDONLY, 0);
  if (fd < 0) return false;
  char* text = new (std::nothrow) char[kResolvConfLimit];
  bool inside = false;
  if (text != nullptr) {
    const std::int64_t got = _posix_read(fd, text, kResolvConfLimit);
    const char* domain = nullptr;
    std::size_t length = 0;
    if (got > 0 && FirstDomain(text, static_cast<std::size_t>(got), &domain, &length)) {
      inside = IsInternalDomain(domain, length);
    }
    delete[] text;
  }
  _posix_close(fd);
  return inside;
}

bool TcpUtil::IsOnInternalNetwork_Ex() {
  bool has_private = false;
  if (NetworkInterface_list* list = GetNIList(nullptr)) {
    for (NetworkInterface_iter it(*list); !it.at_end() && !has_private; it.next()) {
      has_private = it.element()->getIPAddress().isPrivateNet();
    }
  }
  if (has_private) {
    bool (*resolves)(const char*) =
        g_internal_host_resolves != nullptr ? g_internal_host_resolves : DefaultResolves;
    if (resolves(kInternalHost)) return true;
  }
  return IsOnInternalNetwork();
}

namespace vq::net {

void SetResolvConfPath(const char* path) { g_resolv_conf = path; }

void SetInternalHostResolver(bool (*resolves)(const char* name)) {
  g_internal_host_resolves = resolves;
}

}  // namespace vq::net
