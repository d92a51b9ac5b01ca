// Sending the discovery request over UDP and waiting for a server's answer.
#include "net/udp_discovery.h"

#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "net/broadcast_packet.h"
#include "net/link_printer.h"
#include "net/network_interface.h"
#include "net/socket.h"
#include "net/tcp_port.h"
#include "net/tcp_util.h"
#include "utils/base/bounded_strings.h"
#include "utils/base/memory.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int32_t kReceiveSliceMs = 100;  // a ready datagram is there at once

void report(c_tcp_link_printer* printer, std::int32_t id, const char* a1 = nullptr,
            const char* a2 = nullptr) {
  if (printer != nullptr) printer->message(true, id, a1, a2);
}

void report_socket_error(c_tcp_link_printer* printer, const char* call, int error) {
  char code[16];
  std::snprintf(code, sizeof code, "%d", error);
  report(printer, 8633, call, code);
}

void address_text(const IPAddress& address, bool withPort, char* text, unsigned size) {
  if (address.toString(text, size, withPort ? 1 : 0, 0, 1) == 0) text[0] = '\0';
}

bool same_family(const Socket& socket, const IPAddress& address) {
  return (socket.isIPv6 != 0) == (address.isIPv6Address() != 0);
}

void broadcast_off(Socket& socket) {
  const int off = 0;
  socket.setsockopt(SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&off), sizeof off);
}

bool is_none(const char* text) { return text != nullptr && ut_stricmp(text, "none") == 0; }

// The first text of a string-list row, or null.
const char* first_text(const a_port_option& row) {
  if (row.count < 1 || row.value.pointer == nullptr) return nullptr;
  return static_cast<char* const*>(row.value.pointer)[0];
}

// The server ports of the options, freed on every exit.
class Ports {
 public:
  explicit Ports(const a_port_option* options) : ports_(vq::net::prep_ports(options, &count_)) {
    if (ports_ == nullptr) count_ = 0;
  }
  ~Ports() { ut_free(ports_); }
  Ports(const Ports&) = delete;
  Ports& operator=(const Ports&) = delete;
  unsigned count() const { return count_; }
  std::uint16_t operator[](unsigned i) const { return ports_[i]; }

 private:
  unsigned count_ = 0;
  std::uint16_t* ports_;
};

// Appends a copy unless the list holds the same address and port already.
void append_once(IPAddress_list& list, const IPAddress& address) {
  for (IPAddress_iter it(list); !it.at_end(); it.next())
    if (it.element()->sameIPAddress(address) &&
        it.element()->getPortNumber() == address.getPortNumber())
      return;
  list.append(address.clone());
}

// Readies the caller's reply object for one datagram: fields of an earlier answer must
// not survive into this one, since an answer need not carry every section.
void clear_reply(c_strm_broadcast_pkt& reply, a_broadcast_pkt_type kind) {
  for (char** text :
       {&reply.serverName, &reply.altServerName, &reply.addressText, &reply.dbName}) {
    ut_free(*text);
    *text = nullptr;
  }
  reply.reset();
  reply.kind = kind;
  reply.port = 0;
  reply.requestToken = 0;
  reply.connectionlessNumber = 0;
  reply.dbnsVersion = 0;
  reply.uuidSet = false;
  reply.requestResponse = 0;
}

}  // namespace

void c_strm_udp_discovery::_populate_interface_list(const a_port_option* options) {
  vq::strm::LockHold hold(interfaceLock_);
  if (!interfaceAddresses.is_empty()) return;
  const a_port_option& myIP = options[TCPOPT_MYIP];
  unsigned count = 0;
  if (myIP.count == 0) {
    NetworkInterface_list* interfaces = TcpUtil::GetNIList(nullptr);
    for (NetworkInterface_iter it(*interfaces); interfaces != nullptr && !it.at_end();
         it.next()) {
      const IPAddress& a = it.element()->address;
      if (a.isValid() == 0 || !vq::net::DiscoveryAddressAllowed(a, options, false, nullptr))
        continue;
      interfaceAddresses.append(a.clone());
      ++count;
    }
  } else {
    char* const* values = static_cast<char* const*>(myIP.value.pointer);
    if (!is_none(values[0])) {
      for (int i = 0; i < myIP.count; ++i) {
        // Only literals: a name here would be resolved by the name service.
        if (!TcpUtil::IsIPAddress(values[i], 1)) continue;
        auto* a = new IPAddress(values[i]);
        if (a->isValid() == 0) {
          delete a;
          continue;
        }
        a->setPortNumber(0);
        interfaceAddresses.append(a);
        ++count;
      }
    }
  }
  interfaceCount = count;
}

unsigned c_strm_udp_discovery::_send_udp_packet(Socket& socket, const IPAddress& address,
                                                c_strm_broadcast_pkt& packet,
                                                c_tcp_link_printer* printer, bool quiet) {
  const std::uint8_t* bytes = packet.getPacket();
  if (bytes == nullptr) return kDiscoverySocketFailed;
  if (!quiet) {
    char text[80];
    address_text(address, true, text, sizeof text);
    report(printer, 6369, text);
  }
  const unsigned length = packet.getPacketLength();
  if (socket.send(reinterpret_cast<const char*>(bytes), length, address) !=
      static_cast<int>(length)) {
    report_socket_error(printer, "send()", errno);
    return kDiscoverySocketFailed;
  }
  return kDiscoveryFound;
}

void c_strm_udp_discovery::_send_udp_host_packets(Socket& socket, IPAddress_list& hosts,
                                                  const a_port_option* options,
                                                  c_strm_broadcast_pkt& packet,
                                                  c_tcp_link_printer* printer, bool quiet,
                                                  unsigned* sent) {
  if (vq::net::DiscoveryMode(options) == TCP_DISCOVER_NONE) return;
  if (socket.allow_broadcast() != 0) {
    if (!quiet) report(printer, 6332);
    return;
  }
  const Ports ports(options);
  for (IPAddress_iter it(hosts); !it.at_end(); it.next()) {
    const IPAddress& host = *it.element();
    if (!same_family(socket, host) ||
        !vq::net::DiscoveryAddressAllowed(host, options, !quiet, printer))
      continue;
    const std::uint16_t own = host.getPortNumber();
    for (unsigned i = 0; i < ports.count(); ++i) {
      IPAddress to(host);
      to.setPortNumber(own != 0 ? own : ports[i]);
      if (_send_udp_packet(socket, to, packet, printer, quiet) == kDiscoveryFound &&
          sent != nullptr)
        ++*sent;
    }
  }
  broadcast_off(socket);
}

void c_strm_udp_discovery::_send_udp_broadcasts(Socket& socket, const a_port_option* options,
                                                c_strm_broadcast_pkt& packet,
                                                c_tcp_link_printer* printer, bool quiet,
                                                unsigned* sent) {
  if (vq::net::DiscoveryMode(options) != TCP_DISCOVER_ALL) return;
  {
    vq::strm::LockHold hold(broadcastLock_);
    if (broadcastAddresses.is_empty()) {
      const a_port_option& given = options[TCPOPT_BROADCAST];
      char* const* values = static_cast<char* const*>(given.value.pointer);
      for (int i = 0; i < given.count && values != nullptr; ++i) {
        IPAddress a(values[i]);
        if (a.isValid() != 0 && vq::net::DiscoveryAddressAllowed(a, options, true, printer))
          append_once(broadcastAddresses, a);
      }
      if (broadcastAddresses.is_empty() && is_none(first_text(options[TCPOPT_MYIP]))) {
        broadcastAddresses.append(
            new IPAddress(socket.isIPv6 != 0 ? "ff02::1" : "255.255.255.255"));
      } else if (broadcastAddresses.is_empty()) {
        vq::strm::LockHold interfaces(interfaceLock_);
        for (IPAddress_iter it(interfaceAddresses); !it.at_end(); it.next()) {
          const IPAddress& a = *it.element();
          if (!vq::net::DiscoveryAddressAllowed(a, options, false, nullptr)) continue;
          const NetworkInterface* ni = TcpUtil::FindInterfaceByIPAddress(a);
          const IPAddress b = ni != nullptr ? ni->getBroadcastAddress()
                                            : TcpUtil::GetBroadcastAddressBasedOnClass(a);
          if (b.isValid() != 0) append_once(broadcastAddresses, b);
        }
      }
    }
  }
  if (broadcastAddresses.is_empty()) return;
  if (socket.allow_broadcast() != 0) {
    if (!quiet) report(printer, 6332);
    return;
  }
  const Ports ports(options);
  // The list only grows from empty under its lock, so it can be walked without it now.
  for (IPAddress_iter it(broadcastAddresses); !it.at_end(); it.next()) {
    if (!same_family(socket, *it.element())) continue;
    for (unsigned i = 0; i < ports.count(); ++i) {
      IPAddress to(*it.element());
      to.setPortNumber(ports[i]);
      if (_send_udp_packet(socket, to, packet, printer, quiet) == kDiscoveryFound &&
          sent != nullptr)
        ++*sent;
    }
  }
  broadcast_off(socket);
}

unsigned c_strm_udp_discovery::_wait_for_udp_responses(
    Socket& ipv4, Socket& ipv6, IPAddress_list& hosts, const a_port_option* options,
    IPAddress* out, c_strm_broadcast_pkt& reply, const char* wantedName,
    c_tcp_link_printer* printer, unsigned seconds) {
  return wait_for_udp_responses_ms(ipv4, ipv6, hosts, options, out, reply, wantedName, printer,
                                   seconds * 1000);
}

unsigned c_strm_udp_discovery::wait_for_udp_responses_ms(
    Socket& ipv4, Socket& ipv6, IPAddress_list& hosts, const a_port_option* options,
    IPAddress* out, c_strm_broadcast_pkt& reply, const char* wantedName,
    c_tcp_link_printer* printer, unsigned milliseconds) {
  const unsigned mode = vq::net::DiscoveryMode(options);
  const bool localOnly = port_option_on(&options[TCPOPT_LOCALONLY]) != 0;
  // The reply object's kind picks the form a datagram must have.
  const a_broadcast_pkt_type form =
      reply.kind == BROADCAST_PKT_STRMBROAD || reply.kind == BROADCAST_PKT_STRMBRESP
          ? BROADCAST_PKT_STRMBRESP
          : BROADCAST_PKT_VQP_RESPONSE;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  unsigned result = kDiscoveryNotFound;
  std::uint8_t datagram[kDiscoveryDatagramBytes];

  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
    if (left.count() <= 0) return result;
    // Both sockets are watched at every wait, whichever was ready before.
    SelectList select;
    if (ipv4.closed == 0) select.addReadSocket(new Socket(ipv4));
    if (ipv6.closed == 0) select.addReadSocket(new Socket(ipv6));
    if (select.readSockets.is_empty()) return kDiscoverySocketFailed;
    const int ready = select.select_us(static_cast<std::int32_t>(left.count()));
    if (ready == 0) return result;
    if (ready < 0) {
      report(printer, 6371);
      return kDiscoverySocketFailed;
    }
    // A socket in error has its pending error taken, so that the next wait does not wake
    // for it again at once.
    for (Socket_iter it(select.errorSockets); !it.at_end(); it.next()) {
      int pending = 0;
      unsigned size = sizeof pending;
      it.element()->getsockopt(SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&pending), &size);
    }

    for (Socket_iter it(select.readSockets); !it.at_end(); it.next()) {
      Socket* s = it.element();
      TimedSocket receiver(s->descriptor, SOCKET_DATAGRAM, s->isIPv6);
      receiver.timeLimit = kReceiveSliceMs;
      IPAddress sender;
      if (s->isIPv6 != 0) sender.reset("::");
      // Through the base: the address form ends in the timed receive of the descriptor.
      Socket& base = receiver;
      const int n = base.recv(reinterpret_cast<char*>(datagram), sizeof datagram, sender);
      if (n == 0 || (n < 0 && receiver.timedOut != 0)) continue;
      if (n < 0) {
        report_socket_error(printer, "recvfrom()",
                            static_cast<int>(receiver.getLastError().code));
        report(printer, 6371);
        return kDiscoverySocketFailed;
      }

      clear_reply(reply, form);
      const bool parsed = reply.readData(datagram, static_cast<unsigned>(n), &sender,
                                         BROADCAST_WITH_HEADER) != 0;
      const bool response =
          reply.kind == BROADCAST_PKT_STRMBRESP || reply.kind == BROADCAST_PKT_VQP_RESPONSE;
      const bool named =
          wantedName == nullptr ||
          (reply.serverName != nullptr && std::strcmp(reply.serverName, wantedName) == 0);
      IPAddress server;
      bool placed = false;
      if (parsed && response && named) {
        if (reply.addressText == nullptr) {
          server = sender;
          server.setPortNumber(reply.port);
          placed = true;
        } else if (TcpUtil::Resolve(reply.addressText, reply.port, server, TcpUtil::kBoth) !=
                   0) {
          if (server.isIPv6Address() != 0 && server.getScopeId() == 0 &&
              sender.isIPv6Address() != 0)
            server.setScopeId(sender.getScopeId());
          placed = true;
        }
      }
      if (!placed) {
        char text[80];
        address_text(sender, false, text, sizeof text);
        report(printer, 9531, text);
        continue;
      }

      if (localOnly && !TcpUtil::IsLocalIPAddress(server)) continue;
      if (mode == TCP_DISCOVER_DIRECT) {
        bool named_host = false;
        for (IPAddress_iter h(hosts); !h.at_end() && !named_host; h.next())
          named_host = h.element()->sameIPAddress(server);
        if (!named_host) continue;
      }
      char text[80];
      address_text(server, true, text, sizeof text);
      report(printer, 6341, text);
      if (out != nullptr) *out = server;
      return kDiscoveryFound;
    }
  }
}

namespace vq::net {

bool DiscoveryAddressAllowed(const IPAddress& address, const a_port_option* options,
                             bool report, c_tcp_link_printer* printer) {
  const unsigned status = GetIPv6Status(options);  // 0 both, 1 IPv4 only, 2 IPv6 only
  const bool ipv6 = address.isIPv6Address() != 0;
  std::int32_t refusal = 0;
  if (ipv6 && (TcpUtil::IsIPv6Supported() == 0 || status == 1))
    refusal = 17188;
  else if (!ipv6 && status == 2)
    refusal = 17189;
  if (refusal == 0) return true;
  if (report && printer != nullptr) {
    char text[80];
    address_text(address, true, text, sizeof text);
    printer->message(true, refusal, text);
  }
  return false;
}

unsigned DiscoverySeconds(const a_port_option* options, c_tcp_link_printer* printer) {
  const a_port_option& row = options[TCPOPT_TIMEOUT];
  if (row.count != 1) return kDefaultDiscoverySeconds;
  if (printer != nullptr) {
    char text[16];
    std::snprintf(text, sizeof text, "%u", row.value.number);
    printer->message(true, 6323, text);
  }
  return row.value.number;
}

}  // namespace vq::net
