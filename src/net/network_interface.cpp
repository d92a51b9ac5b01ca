// Network start-up and the list of local interfaces. IPv4 interfaces come from the names
// in <dir>/dev and their SIOCGIF* details; IPv6 addresses from <dir>/if_inet6, where <dir>
// is /proc/net unless a test points elsewhere.
#include "net/network_interface.h"

#include <net/if.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "net/socket_calls.h"
#include "net/tcp_util.h"
#include "utils/base/byte_stream.h"

std::atomic<std::uint32_t> TcpUtil::NumStarted{0};
a_ut_safe_pthread_mutex_t TcpUtil::NICritSect{nullptr};
a_ut_safe_pthread_mutex_t TcpUtil::ThreadCritSect{nullptr};
NetworkInterface_list* TcpUtil::NIList = nullptr;
std::uint32_t TcpUtil::NICount = 0;
NetInterface NI;

namespace {

const char kDefaultProcNet[] = "/proc/net";
std::string g_proc_net = kDefaultProcNet;

constexpr std::size_t kLineBytes = 1024;

// Holds NICritSect while the network state is started.
class NILock {
 public:
  NILock() : mutex_(TcpUtil::NICritSect.handle) {
    if (mutex_ != nullptr) pthread_mutex_lock(mutex_);
  }
  ~NILock() {
    if (mutex_ != nullptr) pthread_mutex_unlock(mutex_);
  }
  NILock(const NILock&) = delete;
  NILock& operator=(const NILock&) = delete;

 private:
  pthread_mutex_t* mutex_;
};

// A datagram socket for the SIOCGIF* requests; closes itself.
class RequestSocket {
 public:
  explicit RequestSocket(int family) : fd_(socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
  ~RequestSocket() {
    if (fd_ >= 0) unix_close(fd_);
  }
  RequestSocket(const RequestSocket&) = delete;
  RequestSocket& operator=(const RequestSocket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// Asks one SIOCGIF* request about the interface; false when the name does not fit or the
// request fails.
bool ask(int fd, unsigned long request, const char* name, ifreq& answer) {
  std::memset(&answer, 0, sizeof answer);
  if (std::strlen(name) >= sizeof answer.ifr_name) return false;
  std::memcpy(answer.ifr_name, name, std::strlen(name) + 1);
  return unix_ioctl(fd, request, &answer) == 0;
}

IPAddress ipv4_of(const sockaddr& address) {
  sockaddr_storage storage{};
  std::memcpy(&storage, &address, sizeof address);
  if (storage.ss_family == 0) storage.ss_family = AF_INET;
  return IPAddress(&storage, sizeof(sockaddr_in));
}

// The IPv4 details of an interface named in "dev": flags, index, address, mask and
// broadcast. False when it has no IPv4 address.
bool get_interface_info(NetworkInterface& ni) {
  RequestSocket s(AF_INET);
  if (s.fd() < 0) return false;
  ifreq answer;
  if (ni.flags == 0) {
    if (!ask(s.fd(), SIOCGIFFLAGS, ni.name, answer)) return false;
    ni.flags = static_cast<std::uint16_t>(answer.ifr_flags);
  }
  ni.index = if_nametoindex(ni.name);
  if (ni.address.valid != 0) return true;
  if (!ask(s.fd(), SIOCGIFADDR, ni.name, answer)) return false;
  ni.address = ipv4_of(answer.ifr_addr);
  if (ask(s.fd(), SIOCGIFNETMASK, ni.name, answer)) ni.netMask = ipv4_of(answer.ifr_netmask);
  if (ni.hasBroadcast() && ask(s.fd(), SIOCGIFBRDADDR, ni.name, answer)) {
    ni.broadcast = ipv4_of(answer.ifr_broadaddr);
  } else {
    const std::uint32_t a = ni.address.ipv4HostOrder();
    const std::uint32_t m = ni.netMask.valid != 0 ? ni.netMask.ipv4HostOrder() : 0xFFFFFFFFu;
    ni.broadcast = IPAddress((a & m) | ~m);
  }
  return true;
}

std::string proc_file(const char* name) { return g_proc_net + "/" + name; }

void read_dev(NetworkInterface_list& list, std::uint32_t& count) {
  FILE* f = std::fopen(proc_file("dev").c_str(), "re");
  if (f == nullptr) return;
  char line[kLineBytes];
  while (std::fgets(line, sizeof line, f) != nullptr) {
    char* colon = std::strchr(line, ':');
    if (colon == nullptr) continue;
    *colon = '\0';
    const char* name = line;
    while (*name == ' ' || *name == '\t') ++name;
    auto* ni = new NetworkInterface();
    ni->setName(name);
    ni->isIPv4Entry = 1;
    if (!get_interface_info(*ni)) {
      delete ni;
      continue;
    }
    list.append(ni);
    ++count;
  }
  std::fclose(f);
}

bool all_hex(const char* text, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    const char c = text[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
      return false;
  }
  return text[n] == '\0';
}

// One line per address: 32 hexadecimal digits, index, prefix length, scope, flags and the
// interface name. Each line is read on its own, so a name of any length (up to the 15
// characters the kernel allows) is read whole and cannot shift the lines after it.
void read_if_inet6(NetworkInterface_list& list, std::uint32_t& count) {
  FILE* f = std::fopen(proc_file("if_inet6").c_str(), "re");
  if (f == nullptr) return;
  char line[kLineBytes];
  while (std::fgets(line, sizeof line, f) != nullptr) {
    char hex[33];
    unsigned index = 0;
    unsigned prefix = 0;
    unsigned scope = 0;
    unsigned flags = 0;
    char name[IF_NAMESIZE];
    if (std::sscanf(line, "%32s %x %x %x %x %15s", hex, &index, &prefix, &scope, &flags,
                    name) != 6)
      continue;
    if (!all_hex(hex, 32)) continue;
    char text[40];
    std::snprintf(text, sizeof text, "%.4s:%.4s:%.4s:%.4s:%.4s:%.4s:%.4s:%.4s", hex, hex + 4,
                  hex + 8, hex + 12, hex + 16, hex + 20, hex + 24, hex + 28);
    auto* ni = new NetworkInterface();
    if (TcpUtil::Resolve(text, ni->address, TcpUtil::kIPv6Only) == 0) {
      delete ni;
      continue;
    }
    ni->address.setScopeId(index);
    if (ni->address.isLoopback()) {
      ni->broadcast = ni->address;
    } else {
      ni->broadcast = IPAddress("ff02::1");
      ni->broadcast.setScopeId(index);
    }
    ni->netMask.valid = 0;
    ni->index = index;
    ni->flags = flags;
    ni->setName(name);
    ni->isIPv6Entry = 1;
    list.append(ni);
    ++count;
  }
  std::fclose(f);
}

}  // namespace

namespace vq::net {

void SetProcNetDirectory(const char* directory) {
  g_proc_net = directory != nullptr ? directory : kDefaultProcNet;
}

const char* ProcNetDirectory() { return g_proc_net.c_str(); }

}  // namespace vq::net

// --- NetworkInterface ---

NetworkInterface::NetworkInterface()
    : macAddress{}, index(0), name{}, flags(0), isIPv4Entry(0), isIPv6Entry(0), present(0) {}

NetworkInterface::~NetworkInterface() = default;

int NetworkInterface::getNumNICs() {
  FILE* f = std::fopen(proc_file("dev").c_str(), "re");
  if (f == nullptr) return -1;
  int count = 0;
  char line[kLineBytes];
  while (std::fgets(line, sizeof line, f) != nullptr)
    if (std::strchr(line, ':') != nullptr) ++count;
  std::fclose(f);
  if (FILE* g = std::fopen(proc_file("if_inet6").c_str(), "re"); g != nullptr) {
    while (std::fgets(line, sizeof line, g) != nullptr) ++count;
    std::fclose(g);
  }
  return count;
}

void NetworkInterface::setName(const char* text) {
  std::snprintf(name, sizeof name, "%s", text != nullptr ? text : "");
}

bool NetworkInterface::isLoopback() const {
  if (flags != 0) return (flags & kFlagLoopback) != 0;
  return address.isLoopback();
}

unsigned NetworkInterface::getIPAddress(char* buf, unsigned size) const {
  return address.toString(buf, size, 0, 0, 1);
}
unsigned NetworkInterface::getNetMask(char* buf, unsigned size) const {
  return netMask.toString(buf, size, 0, 0, 1);
}
unsigned NetworkInterface::getBroadcastAddress(char* buf, unsigned size) const {
  return broadcast.toString(buf, size, 0, 0, 1);
}

void NetworkInterface::setNetMask(const IPAddress& mask) {
  if (address.isIPv6 != 0 || mask.isIPv6 != 0) return;
  netMask = mask;
}

void NetworkInterface::setIPAddress(const sockaddr_storage* storage, unsigned len) {
  address.reset(storage, len);
  if (address.isIPv6 == 0) {
    broadcast = TcpUtil::GetBroadcastAddressBasedOnClass(address);
    netMask = TcpUtil::GetSubnetMaskBasedOnClass(address);
  } else {
    broadcast = IPAddress("ff02::1");
    broadcast.setScopeId(address.getScopeId());
    netMask.valid = 0;
  }
}

void NetworkInterface::setIPAddress(const IPAddress& a) {
  setIPAddress(&a.storage, a.length);
  isIPv6Entry = a.isIPv6 != 0 ? 1 : 0;
  isIPv4Entry = a.isIPv6 != 0 ? 0 : 1;
}

bool NetworkInterface::isAddressInSameSubnet(const IPAddress& a) const {
  if (a.isIPv6 != 0) return false;
  const std::uint32_t mask = netMask.ipv4HostOrder();
  return (address.ipv4HostOrder() & mask) == (a.ipv4HostOrder() & mask);
}

void NetworkInterface::cloneTo(NetworkInterface* other) const {
  other->index = index;
  other->flags = flags;
  other->address = address;
  other->netMask = netMask;
  other->broadcast = broadcast;
  other->isIPv4Entry = isIPv4Entry;
  other->isIPv6Entry = isIPv6Entry;
  std::memcpy(other->macAddress, macAddress, sizeof macAddress);
  std::memcpy(other->name, name, sizeof name);
}

unsigned NetworkInterface::getMACAddress(char* buf, unsigned size) const {
  char text[18];
  std::snprintf(text, sizeof text, "%02x.%02x.%02x.%02x.%02x.%02x", macAddress[5],
                macAddress[4], macAddress[3], macAddress[2], macAddress[1], macAddress[0]);
  if (buf == nullptr || size <= std::strlen(text)) return 0;
  std::memcpy(buf, text, std::strlen(text) + 1);
  return 1;
}

unsigned NetworkInterface::getMACAddressInTransOrder(char* buf, unsigned size,
                                                     const char* separator) const {
  if (separator == nullptr) separator = "";
  std::string text;
  for (int i = 0; i < 6; ++i) {
    char part[3];
    std::snprintf(part, sizeof part, "%02x", macAddress[i]);
    if (i != 0) text += separator;
    text += part;
  }
  if (buf == nullptr || size <= text.size()) return 0;
  std::memcpy(buf, text.c_str(), text.size() + 1);
  return 1;
}

// --- NetInterface and TcpUtil start-up ---

void NetInterface::init() {
  const int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd >= 0) {
    unix_close(fd);
    ipv6Supported.store(1);
  } else {
    ipv6Supported.store(0);
  }
}

unsigned TcpUtil::Init() {
  if (NumStarted.fetch_add(1) != 0) return 1;
  ut_safe_pthread_mutex_init(&NICritSect, nullptr);
  ut_safe_pthread_mutex_init(&ThreadCritSect, nullptr);
  NI.init();
  return 1;
}

std::uint32_t TcpUtil::Fini() {
  // A stop without a start changes nothing (the count never wraps below zero).
  std::uint32_t started = NumStarted.load();
  do {
    if (started == 0) return 0;
  } while (!NumStarted.compare_exchange_weak(started, started - 1));
  const std::uint32_t left = started - 1;
  if (left != 0) return left;
  delete NIList;
  NIList = nullptr;
  NICount = 0;
  NI.clear();
  ut_safe_pthread_mutex_destroy(&NICritSect);
  ut_safe_pthread_mutex_destroy(&ThreadCritSect);
  return 0;
}

unsigned TcpUtil::IsIPv6Supported() { return NI.ipv6Supported.load(); }

void TcpUtil::_InternalGetNIList(NetworkInterface_list& list, std::uint32_t& count) {
  read_dev(list, count);
  if (IsIPv6Supported() != 0) read_if_inet6(list, count);
  for (NetworkInterface_iter it(list); !it.at_end(); it.next())
    if (it.element()->isLoopback()) return;
  auto* lo = new NetworkInterface();
  lo->address = IPAddress(0x7F000001u);
  lo->netMask = IPAddress(0xFF000000u);
  lo->broadcast = IPAddress(0x7FFFFFFFu);
  lo->setName("lo0");
  lo->isIPv4Entry = 1;
  list.append(lo);
  ++count;
  if (IsIPv6Supported() != 0) {
    auto* lo6 = new NetworkInterface();
    lo6->address = GetLoopbackIPAddress(1);
    lo6->broadcast = lo6->address;
    lo6->netMask.valid = 0;
    lo6->setName("lo0");
    lo6->isIPv6Entry = 1;
    list.append(lo6);
    ++count;
  }
}

NetworkInterface_list* TcpUtil::GetNIList(std::uint32_t* count) {
  NILock lock;
  if (NICount == 0) {
    if (NIList == nullptr) NIList = new NetworkInterface_list();
    NIList->delete_all();
    _InternalGetNIList(*NIList, NICount);
  }
  if (count != nullptr) *count = NICount;
  return NIList;
}

unsigned TcpUtil::UpdateNIList() {
  NILock lock;
  if (NICount == 0 || NIList == nullptr) return 1;
  NetworkInterface_list fresh;
  std::uint32_t fresh_count = 0;
  _InternalGetNIList(fresh, fresh_count);
  for (NetworkInterface_iter it(*NIList); !it.at_end(); it.next()) it.element()->present = 0;
  unsigned changed = 0;
  while (!fresh.is_empty()) {
    NetworkInterface* ni = fresh.first_element();
    ni->unlink();
    NetworkInterface* cached = nullptr;
    for (NetworkInterface_iter it(*NIList); !it.at_end(); it.next()) {
      if (it.element()->address.sameIPAddress(ni->address)) {
        cached = it.element();
        break;
      }
    }
    if (cached != nullptr) {
      cached->present = 1;
      delete ni;
    } else {
      ni->present = 1;
      NIList->append(ni);
      ++NICount;
      changed = 1;
    }
  }
  c_utils_link* link = NIList->first();
  while (link != NIList->end()) {
    c_utils_link* next = link->next;
    auto* ni = static_cast<NetworkInterface*>(link);
    if (ni->present == 0) {
      delete ni;
      --NICount;
      changed = 1;
    }
    link = next;
  }
  return changed;
}

NetworkInterface* TcpUtil::_find_interface_by_name(const char* name) {
  if (name == nullptr || *name == '\0' || NIList == nullptr) return nullptr;
  for (NetworkInterface_iter it(*NIList); !it.at_end(); it.next())
    if (std::strcmp(it.element()->name, name) == 0) return it.element();
  return nullptr;
}

NetworkInterface* TcpUtil::FindInterfaceByIPAddress(const IPAddress& address) {
  NetworkInterface_list* list = GetNIList(nullptr);
  if (list == nullptr) return nullptr;
  for (NetworkInterface_iter it(*list); !it.at_end(); it.next())
    if (it.element()->address.sameIPAddress(address)) return it.element();
  return nullptr;
}

bool TcpUtil::IsLocalIPAddress(const IPAddress& address) {
  return FindInterfaceByIPAddress(address) != nullptr;
}

bool TcpUtil::IsLocalIPAddress(const sockaddr_storage* storage, unsigned len) {
  return IsLocalIPAddress(IPAddress(storage, len));
}

bool TcpUtil::IsLocalIPAddress(const char* text) {
  if (text == nullptr || *text == '\0') return false;
  char numeric[59];
  if (AddressToString(text, numeric, sizeof numeric) == 0) return false;
  if (std::strcmp(numeric, "127.0.0.1") == 0 || std::strcmp(numeric, "::1") == 0) return true;
  if (!IsIPAddress(numeric, 0)) return false;
  return IsLocalIPAddress(IPAddress(numeric));
}

void TcpUtil::ListenerAddrToUTOStream(UTOStream* out, unsigned& first, const IPAddress& addr) {
  if (out == nullptr) return;
  auto write = [&](const IPAddress& a) {
    char text[65];
    if (a.toString(text, sizeof text, 1, 0, 1) == 0) return;
    if (first == 0) out->put(";", 1);
    out->put(text, static_cast<unsigned>(std::strlen(text)));
    first = 0;
  };
  if (!addr.is_INADDR_ANY_v4() && !addr.is_INADDR_ANY_v6()) {
    write(addr);
    return;
  }
  NetworkInterface_list* list = GetNIList(nullptr);
  if (list == nullptr) return;
  for (NetworkInterface_iter it(*list); !it.at_end(); it.next()) {
    NetworkInterface* ni = it.element();
    if (ni->isLoopback() || ni->address.isLoopback() || ni->address.isIPv6 != addr.isIPv6)
      continue;
    IPAddress a = ni->address;
    a.setPortNumber(addr.getPortNumber());
    write(a);
  }
}
