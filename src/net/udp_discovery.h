// UDP server discovery of the TCP/IP link: the discovery request sent to named hosts
// and to broadcast addresses on every server port, the wait for a server's answer, and
// the server listing (every server that answers, plus those in the LDAP directory).
//
// The link type owns one c_strm_udp_discovery for its lifetime. It keeps the two
// address lists that are filled at their first use and then reused (the machine's
// interface addresses and the broadcast addresses), so changes of the machine's
// interfaces after that are not seen. Everything runs on the caller's thread; the
// interface lock guards the interface-address list and the broadcast lock the first
// filling of the broadcast-address list, so connects may run at once on one link type.
//
// Each socket carries datagrams of its own family only: an IPv4 socket never sends to
// an IPv6 address or the other way round, so no address gets a request twice.
//
// Options are the link's "TCPIP" option table (the TCPOPT_* rows of tcp_port.h). Results
// are the link's internal codes: 1 found (or done), 7 not found by this method, 14 out
// of memory, 19 a socket failed.
#ifndef VQ_NET_UDP_DISCOVERY_H
#define VQ_NET_UDP_DISCOVERY_H

#include <cstdint>

#include "net/ip_address.h"
#include "net/port_options.h"
#include "streams/recursive_lock.h"

class Socket;
class a_server_list;
class c_ldap_handle;
class c_strm_broadcast_pkt;
class c_tcp_link_printer;

constexpr unsigned kDiscoveryFound = 1;
constexpr unsigned kDiscoveryNotFound = 7;
constexpr unsigned kDiscoveryNoMemory = 14;
constexpr unsigned kDiscoverySocketFailed = 19;

// A datagram longer than this is cut; no answer of a server comes near it.
constexpr unsigned kDiscoveryDatagramBytes = 650;

// Flags of query_servers.
constexpr unsigned kListNumericAddresses = 0x1;  // no host names
constexpr unsigned kListDatabaseNames = 0x2;     // ask the servers for their databases
constexpr unsigned kListAddressWithPort = 0x4;   // address text ":" port

class c_strm_udp_discovery {
 public:
  c_strm_udp_discovery() = default;
  ~c_strm_udp_discovery() = default;
  c_strm_udp_discovery(const c_strm_udp_discovery&) = delete;
  c_strm_udp_discovery& operator=(const c_strm_udp_discovery&) = delete;

  // Fills the interface-address list once: without "MyIP" the address of every local
  // interface the address filter allows; with "MyIP" each value that is an address
  // (port 0), or nothing when the first value is "none".
  void _populate_interface_list(const a_port_option* options);

  // Sends the request through `socket` to each host address of the socket's family,
  // once per server port (to the host's own port when it has one). Nothing with
  // "DoBroadcast" NONE. `quiet` passes print no per-address messages. Each datagram
  // sent adds one to *sent.
  void _send_udp_host_packets(Socket& socket, IPAddress_list& hosts,
                              const a_port_option* options, c_strm_broadcast_pkt& packet,
                              c_tcp_link_printer* printer, bool quiet, unsigned* sent);
  // Sends the request through `socket` to each broadcast address of the socket's family,
  // once per server port, filling the broadcast-address list first when it is empty:
  // from "Broadcast", else the limited broadcast address when "MyIP" starts with "none",
  // else the broadcast address of each interface address. Nothing in discovery modes
  // 1 and 2.
  void _send_udp_broadcasts(Socket& socket, const a_port_option* options,
                            c_strm_broadcast_pkt& packet, c_tcp_link_printer* printer,
                            bool quiet, unsigned* sent);
  // One datagram: 1, or 19 when the packet cannot be built or sent.
  unsigned _send_udp_packet(Socket& socket, const IPAddress& address,
                            c_strm_broadcast_pkt& packet, c_tcp_link_printer* printer,
                            bool quiet);

  // Waits at most `seconds` for an answer on either socket (the IPv6 one when open) and
  // reads each datagram into `reply`, whose kind picks the form accepted (text-form or
  // CONNECTIONLESS_VQP response). An answer counts when it parses, is a response, carries
  // `wantedName` exactly (when given), and its address passes "LocalOnly" and, in mode
  // 1, is one of `hosts`: then 1 with the server's address in *out and the answer in
  // `reply`. 7 when none came in time; 19 when the wait or a receive failed.
  unsigned _wait_for_udp_responses(Socket& ipv4, Socket& ipv6, IPAddress_list& hosts,
                                   const a_port_option* options, IPAddress* out,
                                   c_strm_broadcast_pkt& reply, const char* wantedName,
                                   c_tcp_link_printer* printer, unsigned seconds);
  // The same with the limit in milliseconds.
  unsigned wait_for_udp_responses_ms(Socket& ipv4, Socket& ipv6, IPAddress_list& hosts,
                                     const a_port_option* options, IPAddress* out,
                                     c_strm_broadcast_pkt& reply, const char* wantedName,
                                     c_tcp_link_printer* printer, unsigned milliseconds);

  // Lists into `list` the servers in the LDAP directory (default settings file) and
  // every server that answers the broadcast request within the link's time-out, with
  // default options. `localAddresses` (texts; may be null) are this machine's own
  // addresses, used to drop duplicates. 1, or 14 when the server ports cannot be made.
  unsigned query_servers(a_server_list* list, c_tcp_link_printer* printer, unsigned flags,
                         const a_port_option* localAddresses);
  // Removes each TCP/IP entry at a loopback address whose server (name and port) is also
  // listed at one of this machine's own non-loopback addresses.
  static void remove_duplicate_servers(a_server_list* list,
                                       const a_port_option* localAddresses);

  // Lists filled at first use and kept; each only grows from empty.
  IPAddress_list interfaceAddresses;
  std::uint32_t interfaceCount = 0;
  IPAddress_list broadcastAddresses;

 private:
  vq::strm::RecursiveLock interfaceLock_;
  vq::strm::RecursiveLock broadcastLock_;
};

// Shows a directory error as the TCP link does (debug messages 10874 and after).
void _display_ldap_error(c_tcp_link_printer* printer, c_ldap_handle* handle, int error);

namespace vq::net {
// The address filter of the discovery: an IPv6 address is refused without IPv6 support
// or with "ipv6" off (debug message 17188 when `report`), an IPv4 address with "ipv6"
// only (17189).
bool DiscoveryAddressAllowed(const IPAddress& address, const a_port_option* options,
                             bool report, c_tcp_link_printer* printer);
// The "Timeout" value when given exactly once (debug message 6323 with it), else 5.
unsigned DiscoverySeconds(const a_port_option* options, c_tcp_link_printer* printer);

// Makes the TCP/IP link find servers in the LDAP directory and by UDP discovery: the
// process-wide discovery of every TCP link type becomes this one, printing through the
// stack's host functions. Call once at start-up, before links connect.
void InstallUdpDiscovery();
// The link type's server listing (query_servers) over the same discovery: `localAddresses`
// is the link type's list of this machine's addresses. 1, or 14.
unsigned QueryTcpServers(a_server_list* list, void* host_ctx, unsigned flags,
                         const a_port_option* localAddresses);
}  // namespace vq::net

#endif  // VQ_NET_UDP_DISCOVERY_H
