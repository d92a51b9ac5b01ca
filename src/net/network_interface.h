// One address of a local network interface, as the interface list of TcpUtil holds it:
// the address, its mask and broadcast address, index, name and flag word.
#ifndef VQ_NET_NETWORK_INTERFACE_H
#define VQ_NET_NETWORK_INTERFACE_H

#include <cstdint>

#include "net/ip_address.h"
#include "net/owning_list.h"

class NetworkInterface : public c_utils_link {
 public:
  static constexpr std::uint32_t kFlagUp = 0x1;         // IFF_UP
  static constexpr std::uint32_t kFlagBroadcast = 0x2;  // IFF_BROADCAST
  static constexpr std::uint32_t kFlagLoopback = 0x8;   // IFF_LOOPBACK
  static constexpr unsigned kNameBytes = 256;

  NetworkInterface();
  ~NetworkInterface() override;

  // Lines of "dev" with a ":" plus lines of "if_inet6" in the /proc network directory;
  // -1 when "dev" cannot be opened.
  static int getNumNICs();

  const char* getName() const { return name; }
  void setName(const char* text);
  const std::uint8_t* getMACAddress() const { return macAddress; }
  bool isUp() const { return (flags & kFlagUp) != 0; }
  bool hasBroadcast() const { return (flags & kFlagBroadcast) != 0; }
  // The loopback flag when the flag word is set at all, else whether the address is one.
  bool isLoopback() const;

  IPAddress getIPAddress() const { return address; }
  IPAddress getNetMask() const { return netMask; }
  IPAddress getBroadcastAddress() const { return broadcast; }
  // Texts without port, without name look-up, with scope; 0 when they do not fit.
  unsigned getIPAddress(char* buf, unsigned size) const;
  unsigned getNetMask(char* buf, unsigned size) const;
  unsigned getBroadcastAddress(char* buf, unsigned size) const;
  std::uint16_t getPortNumber() const { return address.getPortNumber(); }
  void setPortNumber(std::uint16_t port) { address.setPortNumber(port); }

  void setBroadcastAddress(const IPAddress& a) { broadcast = a; }
  // Ignored when the interface address or the mask is IPv6.
  void setNetMask(const IPAddress& mask);
  // IPv4: mask and broadcast by the class rules; IPv6: broadcast ff02::1 with the
  // address's scope id and an invalid mask.
  void setIPAddress(const sockaddr_storage* storage, unsigned len);
  // The same, and both entry flags from the address's family.
  void setIPAddress(const IPAddress& a);
  // False for IPv6; else whether both lie in the interface's subnet.
  bool isAddressInSameSubnet(const IPAddress& a) const;
  // Copies index, flags, the three addresses, both entry flags, hardware address and name.
  void cloneTo(NetworkInterface* other) const;
  // The six bytes from the last to the first as "%02x" joined by "."; 0 when too small.
  unsigned getMACAddress(char* buf, unsigned size) const;
  // First to last, joined by `separator`; 0 when too small.
  unsigned getMACAddressInTransOrder(char* buf, unsigned size, const char* separator) const;

  IPAddress address;           // scope id = interface index for IPv6
  IPAddress netMask;           // IPv4 only
  IPAddress broadcast;         // IPv4 broadcast, or ff02::1 / the loopback for IPv6
  std::uint8_t macAddress[8];  // six bytes and two zero bytes
  std::uint32_t index;         // interface index
  char name[kNameBytes];       // NUL-terminated
  std::uint32_t flags;         // IFF_* word; for IPv6 entries the flag column of if_inet6
  std::uint32_t isIPv4Entry;
  std::uint32_t isIPv6Entry;
  std::uint32_t present;  // working flag of UpdateNIList
};

class NetworkInterface_list : public c_net_owning_list<NetworkInterface> {};
class NetworkInterface_iter : public c_utils_iter<NetworkInterface> {
 public:
  explicit NetworkInterface_iter(NetworkInterface_list& list)
      : c_utils_iter<NetworkInterface>(list) {}
};

#endif  // VQ_NET_NETWORK_INTERFACE_H
