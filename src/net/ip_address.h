// One IPv4 or IPv6 socket address (address, port and, for IPv6, scope id), the value
// that every part of the network code passes around, and the byte-order helpers.
//
// The address keeps the platform's socket-address form, so it can be handed to the
// socket calls as it is. All 32-bit quantities are uint32_t: an IPv4 address in host
// order is a uint32_t, and `operator int` gives -1 for "no IPv4 address". Text forms,
// literal tests and the class rules live in TcpUtil (tcp_util.h).
#ifndef VQ_NET_IP_ADDRESS_H
#define VQ_NET_IP_ADDRESS_H

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>

#include "net/owning_list.h"
#include "utils/base/list.h"

class Socket;

// Host and network order on this little-endian platform.
inline std::uint32_t my_ntohl(std::uint32_t v) { return __builtin_bswap32(v); }
inline std::uint32_t my_htonl(std::uint32_t v) { return __builtin_bswap32(v); }
inline std::uint16_t my_ntohs(std::uint16_t v) { return __builtin_bswap16(v); }
inline std::uint16_t my_htons(std::uint16_t v) { return __builtin_bswap16(v); }
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the helpers swap unconditionally");

inline int GET_AF_INET(unsigned isIPv6) { return isIPv6 != 0 ? AF_INET6 : AF_INET; }
// Family AF_INET6 and the address ::1; the other fields are left as they are.
void IN6ADDR_SETLOOPBACK(sockaddr_in6* address);

class IPAddress : public c_utils_link {
 public:
  // Empty and invalid; length is the whole storage.
  IPAddress();
  // Resolves the text (a literal, or a host name; a port written in the text stays).
  explicit IPAddress(const char* text);
  // The IPv4 address `a` in host order, port 0.
  explicit IPAddress(std::uint32_t a);
  IPAddress(const sockaddr_storage* storage, unsigned len);
  // The socket's local address; invalid when the query fails.
  explicit IPAddress(Socket& socket);
  IPAddress(const IPAddress& other);
  ~IPAddress() override;

  IPAddress& operator=(const IPAddress& other);
  // Becomes the IPv4 address `a` (host order), port 0.
  IPAddress& operator=(std::uint32_t a);

  // valid = the text resolved (IPv4 and IPv6 accepted).
  unsigned reset(const char* text);
  // Copies `len` bytes of the storage (at most its size); a family other than AF_INET and
  // AF_INET6 makes the address invalid.
  void reset(const sockaddr_storage* storage, unsigned len);
  // A heap copy the caller owns.
  IPAddress* clone() const;

  // With a non-zero `v`, isIPv6 follows the family.
  void setValid(unsigned v);
  unsigned isValid() const { return valid; }
  unsigned isIPv6Address() const { return isIPv6; }

  // 0 when invalid, else the port in host order.
  std::uint16_t getPortNumber() const;
  void setPortNumber(std::uint16_t port);
  // 0 unless the address is a valid IPv6 address.
  std::uint32_t getScopeId() const;
  // Only for an IPv6 address.
  void setScopeId(std::uint32_t id);

  // -1 for an IPv6 or invalid address, else the IPv4 address in host order.
  operator int() const;
  // The IPv4 address in host order; 0xFFFFFFFF for an IPv6 or invalid address.
  std::uint32_t ipv4HostOrder() const { return static_cast<std::uint32_t>(int(*this)); }
  // False for IPv6, else the IPv4 value (0xFFFFFFFF for an invalid address) compared.
  bool operator==(std::uint32_t a) const;
  bool operator!=(std::uint32_t a) const { return !(*this == a); }

  // ::1 exactly, or 127.0.0.1.
  bool isLoopback() const;
  // Becomes 0.0.0.0 or ::.
  void use_INADDR_ANY(unsigned ipv6);
  bool is_INADDR_ANY_v4() const;
  bool is_INADDR_ANY_v6() const;

  // The same host: ports (and flow information) ignored, scope ids ignored when either is
  // 0; an IPv4-mapped or IPv4-compatible IPv6 address matches its IPv4 address.
  bool sameIPAddress(const IPAddress& other) const;
  // 0 not IPv6 or invalid, 1 reserved, 2 unassigned, 3 global unicast, 4 link-local,
  // 5 site-local, 6 multicast, 7 IPv4-mapped, 8 IPv4-compatible.
  int getIPv6AddressType() const;
  // For types 7 and 8 the embedded IPv4 address; else an invalid 0.0.0.0.
  IPAddress getIPv4EmbeddedAddress() const;
  // 10.x, 172.16.x and 192.168.x (IPv6 only through an embedded IPv4 address).
  bool isPrivateNet() const;

  // The text of the address: with `lookupName` the host name when a reverse look-up
  // finds one, else the numeric form (TcpUtil::AddressToString). 0 when invalid or when
  // the buffer is too small (a partial text is left then), else 1.
  unsigned toString(char* buf, unsigned size, unsigned withPort, unsigned lookupName,
                    unsigned withScope) const;

  sockaddr_storage storage;  // AF_INET or AF_INET6 form, port in network order
  std::uint32_t length;      // bytes of storage in use
  std::uint32_t valid;       // holds a usable value
  std::uint32_t isIPv6;      // family is AF_INET6
};

class IPAddress_list : public c_net_owning_list<IPAddress> {};
class IPAddress_iter : public c_utils_iter<IPAddress> {
 public:
  explicit IPAddress_iter(IPAddress_list& list) : c_utils_iter<IPAddress>(list) {}
};

#endif  // VQ_NET_IP_ADDRESS_H
