// TcpUtil: the process-wide network state and the text side of addresses.
//
// Text functions (ip_text.cpp): literal tests, the port of an address text, address to
// text, the class-based (A/B/C) mask and broadcast rules. Start-up and interfaces
// (network_interface.cpp): a start counter shared by every user (the first start creates
// the state, the last stop releases it), whether IPv6 is supported, and the cached list
// of local interfaces read from /proc and the kernel. Look-up (resolve.cpp): host names
// and literals into addresses.
//
// The interface list is guarded by NICritSect in GetNIList and UpdateNIList; callers walk
// the returned list without the lock (it changes only through UpdateNIList and the last
// Fini). The resolver calls are taken under ThreadCritSect.
#ifndef VQ_NET_TCP_UTIL_H
#define VQ_NET_TCP_UTIL_H

#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdint>

#include "net/ip_address.h"
#include "vqtasks.h"

class NetworkInterface;
class NetworkInterface_list;
class UTOStream;

class TcpUtil {
 public:
  // What a look-up returns: IPv4 addresses only, IPv6 addresses only, or both.
  enum eAddressType { kIPv4Only = 0, kIPv6Only = 1, kBoth = 2 };

  // --- literal tests and text forms (ip_text.cpp) ---
  // Four dotted decimal fields of at most 255; with `allowPort` a ":" and a port of at
  // most 65535 may follow.
  static bool IsIPv4Address(const char* text, unsigned allowPort);
  // Eight groups, "::"-compressed forms, an embedded dotted IPv4 tail, a "%" scope by
  // number or name and, with `allowPort`, "(address):port".
  static bool IsIPv6Address(const char* text, unsigned allowPort);
  static bool IsIPAddress(const char* text, unsigned allowPort);
  // The port part of an address text ("host:port", "(ipv6):port"), or 0.
  static std::uint16_t GetPortNumber(const char* text);

  // The numeric text of a socket address: "a.b.c.d[:port]" or "[(]ipv6[%scope][):port]".
  // 1 on success; 0 for a zero size or when the buffer is too small (partial text).
  static unsigned AddressToString(const sockaddr_storage* storage, unsigned len, char* buf,
                                  unsigned size, unsigned withPort, unsigned withScope);
  static unsigned AddressToString(const sockaddr_in* address, unsigned len, char* buf,
                                  unsigned size, unsigned withPort, unsigned withScope);
  // The text resolved and printed without port, with scope.
  static unsigned AddressToString(const char* text, char* buf, unsigned size);
  // The same with the port set and printed.
  static unsigned AddressToString(const char* text, std::uint16_t port, char* buf,
                                  unsigned size);

  // ::1 when asked for IPv6 and IPv6 is supported, else 127.0.0.1.
  static IPAddress GetLoopbackIPAddress(unsigned isIPv6);

  // "A", "B", "C" or "" (IPv6 and the other IPv4 classes).
  static const char* GetClass(const sockaddr_storage* storage, unsigned len);
  // 255.0.0.0, 255.255.0.0, 255.255.255.0, else 255.255.255.255 (IPv6 too).
  static IPAddress GetSubnetMaskBasedOnClass(const IPAddress& address);
  // IPv6: ff02::1 with the address's scope id; 0.0.0.0: 255.255.255.255; else the
  // address with every bit outside the class mask set.
  static IPAddress GetBroadcastAddressBasedOnClass(const IPAddress& address);

  // --- start, stop and interfaces (network_interface.cpp) ---
  // The first start creates the mutexes and probes for IPv6; always 1.
  static unsigned Init();
  // The last stop deletes the cached interfaces and the mutexes; returns the new count.
  static std::uint32_t Fini();
  static unsigned IsIPv6Supported();

  // The cached interface list, built on first use; its count through `count` when given.
  static NetworkInterface_list* GetNIList(std::uint32_t* count);
  // Refreshes the cached list; 1 when something changed or the list was not yet built.
  static unsigned UpdateNIList();
  // The first cached interface with exactly this name (no lock, no build).
  static NetworkInterface* _find_interface_by_name(const char* name);
  static NetworkInterface* FindInterfaceByIPAddress(const IPAddress& address);
  static bool IsLocalIPAddress(const IPAddress& address);
  static bool IsLocalIPAddress(const sockaddr_storage* storage, unsigned len);
  // Resolves the text; loopback texts are local, other texts only when an interface holds
  // the address.
  static bool IsLocalIPAddress(const char* text);
  // Writes the address (or, for the any-address, every non-loopback interface address
  // of its family with its port) as "addr:port" texts separated by ";"; `first` is
  // cleared once something was written.
  static void ListenerAddrToUTOStream(UTOStream* out, unsigned& first, const IPAddress& addr);

  // --- look-up (resolve.cpp) ---
  // Every address of the text, appended with the text's port; 1 when any was found.
  static unsigned ResolveAll(const char* text, IPAddress_list& list, eAddressType type);
  // The first address only.
  static unsigned Resolve(const char* text, IPAddress& address, eAddressType type);
  static unsigned Resolve(const char* text, std::uint16_t port, IPAddress& address,
                          eAddressType type);
  // The host name of an IPv4 address (IPv6 addresses are never found); 1 on success.
  static unsigned LookupHostName(const IPAddress& address, char* buf, unsigned size);

  // --- the product's internal network (internal_network.cpp) ---
  // Whether the first domain the resolver configuration names is the internal domain or
  // one below it.
  static bool IsOnInternalNetwork();
  // With a private interface address: whether the internal mirror host resolves, else
  // the test above. Without one: the test above.
  static bool IsOnInternalNetwork_Ex();

  static std::atomic<std::uint32_t> NumStarted;
  static a_ut_safe_pthread_mutex_t NICritSect;
  static a_ut_safe_pthread_mutex_t ThreadCritSect;
  static NetworkInterface_list* NIList;
  static std::uint32_t NICount;

 private:
  static unsigned _DoResolve(const char* text, IPAddress_list& list, eAddressType type,
                             bool all);
  static void _InternalGetNIList(NetworkInterface_list& list, std::uint32_t& count);
};

// Holds whether IPv6 is supported on this host.
class NetInterface {
 public:
  // Sets the flag when an AF_INET6 TCP socket can be created.
  void init();
  void clear() { ipv6Supported.store(0); }
  std::atomic<std::uint32_t> ipv6Supported{0};
};
extern NetInterface NI;

namespace vq::net {

// Test seam: the directory that holds the "dev" and "if_inet6" files read for the
// interface list (default "/proc/net"). Null restores the default. Set it before the
// list is built; not thread-safe.
void SetProcNetDirectory(const char* directory);
const char* ProcNetDirectory();

// Test seams of the internal-network tests: the resolver configuration file (default
// "/etc/resolv.conf") and the look-up of the internal host; null restores the default.
void SetResolvConfPath(const char* path);
void SetInternalHostResolver(bool (*resolves)(const char* name));

}  // namespace vq::net

#endif  // VQ_NET_TCP_UTIL_H
