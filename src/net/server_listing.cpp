// The server listing of the TCP/IP link: directory entries and broadcast answers in one
// found-server list, duplicates at the loopback address dropped, address texts made.
#include <chrono>
#include <cstring>
#include <vector>

#include "net/broadcast_packet.h"
#include "net/ldap_directory.h"
#include "net/link_printer.h"
#include "net/server_list.h"
#include "net/socket.h"
#include "net/tcp_port.h"
#include "net/tcp_util.h"
#include "net/udp_discovery.h"
#include "utils/base/memory.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned kPassReplyMs = 1000;       // each pass listens about a second
constexpr unsigned kAddressTextBytes = 1100;  // a host name (1,025) and ":port"

long long elapsed_ms(Clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

// Closes the listing's sockets on every exit.
class SocketCloser {
 public:
  explicit SocketCloser(Socket& a, Socket& b) : a_(a), b_(b) {}
  ~SocketCloser() {
    if (a_.closed == 0) a_.close();
    if (b_.closed == 0) b_.close();
  }
  SocketCloser(const SocketCloser&) = delete;
  SocketCloser& operator=(const SocketCloser&) = delete;

 private:
  Socket& a_;
  Socket& b_;
};

// A copy of the link's option template, its values released on every exit.
class DefaultOptions {
 public:
  DefaultOptions() {
    const a_port_option* t = vq::net::TcpOptionTemplate();
    for (unsigned i = 0; i <= TCPOPT_ROWS; ++i) rows[i] = t[i];
  }
  ~DefaultOptions() { unprepare_port_options(rows, 0); }
  DefaultOptions(const DefaultOptions&) = delete;
  DefaultOptions& operator=(const DefaultOptions&) = delete;

  a_port_option rows[TCPOPT_ROWS + 1];
};

bool same_name(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return std::strcmp(a, b) == 0;
}

std::vector<c_ip_server_address*> entries_of(a_server_list* list) {
  std::vector<c_ip_server_address*> entries;
  for (c_ip_server_address_ord_iter it(*list->list); !it.at_end(); it.next())
    entries.push_back(static_cast<c_ip_server_address*>(it.current));
  return entries;
}

// Gives each TCP/IP entry without one its address text; an entry whose text cannot be
// made or stored is removed, and the walk starts again.
void make_address_texts(a_server_list* list, unsigned flags) {
  for (bool again = true; again;) {
    again = false;
    const std::vector<c_ip_server_address*> entries = entries_of(list);
    std::size_t index = 0;
    for (c_ip_server_address* e = list->getFirst(); e != nullptr;
         e = list->getNext(), ++index) {
      if (e->portType != STRM_PORT_TCPIP || e->addressText != nullptr) continue;
      // Two entries of one name next to each other are told apart by their numbers.
      const bool twin =
          (index > 0 && same_name(entries[index - 1]->serverName, e->serverName)) ||
          (index + 1 < entries.size() &&
           same_name(entries[index + 1]->serverName, e->serverName));
      const bool numeric = (flags & kListNumericAddresses) != 0 || twin;
      char text[kAddressTextBytes];
      const bool made =
          e->address != nullptr &&
          e->address->toString(text, sizeof text, (flags & kListAddressWithPort) != 0 ? 1 : 0,
                               numeric ? 0 : 1, 1) != 0;
      if (!made || e->replaceAddr(text) == 0) {
        list->deleteCurrent();
        again = true;
        break;
      }
    }
  }
}

}  // namespace

void _display_ldap_error(c_tcp_link_printer* printer, c_ldap_handle* handle, int error) {
  if (printer == nullptr || handle == nullptr) return;
  const char* server = handle->server != nullptr ? handle->server : "";
  const char* file = handle->getFileBaseName() != nullptr ? handle->getFileBaseName() : "";
  switch (error) {
    case DIRECTORY_NO_SUCH_SERVER:
      printer->message(true, 10874);
      break;
    case DIRECTORY_AMBIGUOUS:
      printer->message(true, 10669);
      break;
    case DIRECTORY_NOT_REGISTERED:
      printer->message(true, 10739);
      break;
    case DIRECTORY_STALE:
      printer->message(true, 10891);
      break;
    case DIRECTORY_NO_LIBRARY:
      printer->message(true, 10875);
      break;
    case DIRECTORY_NO_PRODUCT_UNIT:
      printer->message(true, 10869, handle->baseDN != nullptr ? handle->baseDN : "");
      break;
    case DIRECTORY_NO_SETTINGS_FILE:
      printer->message(true, 10666, file);
      break;
    case DIRECTORY_SETTINGS_UNREADABLE:
      printer->message(true, 10671, file);
      break;
    case DIRECTORY_NO_LDAP_SECTION:
      printer->message(true, 10672, file);
      break;
    case DIRECTORY_TIMED_OUT:
      printer->message(true, 25189, server);
      break;
    default: {
      const char* ldapText = handle->getLastLDAPErrorString();
      if (ldapText == nullptr) ldapText = "";
      char* serverError = handle->getLastServerError();
      if (serverError != nullptr) {
        printer->message(true, 10668, ldapText, server, serverError);
        handle->freeServerError(serverError);
      } else {
        printer->message(true, 10667, ldapText, server);
      }
      break;
    }
  }
}

void c_strm_udp_discovery::remove_duplicate_servers(a_server_list* list,
                                                    const a_port_option* localAddresses) {
  if (list == nullptr || localAddresses == nullptr || localAddresses->count == 0 ||
      localAddresses->value.pointer == nullptr)
    return;
  IPAddress_list own;
  char* const* texts = static_cast<char* const*>(localAddresses->value.pointer);
  for (int i = 0; i < localAddresses->count; ++i) {
    // The machine's addresses are literals; a name would go to the name service.
    if (texts[i] == nullptr || !TcpUtil::IsIPAddress(texts[i], 1)) continue;
    auto* a = new IPAddress(texts[i]);
    if (a->isValid() != 0 && !a->isLoopback())
      own.append(a);
    else
      delete a;
  }
  if (own.is_empty()) return;

  auto listed_at_own_address = [&](const c_ip_server_address* e) {
    for (c_ip_server_address_ord_iter it(*list->list); !it.at_end(); it.next()) {
      const auto* f = static_cast<const c_ip_server_address*>(it.current);
      if (f == e || f->portType != STRM_PORT_TCPIP || f->address == nullptr ||
          f->address->isLoopback() || f->port != e->port ||
          !same_name(f->serverName, e->serverName))
        continue;
      for (IPAddress_iter o(own); !o.at_end(); o.next())
        if (o.element()->sameIPAddress(*f->address)) return true;
    }
    return false;
  };

  for (bool again = true; again;) {
    again = false;
    for (c_ip_server_address* e = list->getFirst(); e != nullptr; e = list->getNext()) {
      if (e->portType != STRM_PORT_TCPIP || e->address == nullptr || !e->address->isLoopback())
        continue;
      if (listed_at_own_address(e)) {
        list->deleteCurrent();
        again = true;
        break;
      }
    }
  }
}

unsigned c_strm_udp_discovery::query_servers(a_server_list* list, c_tcp_link_printer* printer,
                                             unsigned flags,
                                             const a_port_option* localAddresses) {
  if (list == nullptr) return kDiscoveryFound;
  // One socket per family: each carries the datagrams of its own family only.
  UdpSocket ipv4;
  UdpSocket ipv6;
  SocketCloser closer(ipv4, ipv6);
  if (ipv4.init(SOCKET_DATAGRAM, 0) != 0) ipv4.set_blocking_state(0);
  if (TcpUtil::IsIPv6Supported() != 0 && ipv6.init(SOCKET_DATAGRAM, 1) != 0)
    ipv6.set_blocking_state(0);
  IPAddress_list hosts;

  DefaultOptions defaults;
  const a_port_option* options = defaults.rows;
  {
    unsigned count = 0;
    std::uint16_t* ports = vq::net::prep_ports(options, &count);
    if (ports == nullptr) return kDiscoveryNoMemory;
    ut_free(ports);
  }
  _populate_interface_list(options);

  {
    c_ldap_handle directory(LDAP_SERVER_TYPE_DATABASE, nullptr);
    unsigned stamps = 0;
    const a_directory_error usable = directory.serverSupportsTimestamps(&stamps);
    if (usable == DIRECTORY_OK) {
      if (stamps == 0 && printer != nullptr) printer->message(true, 10876);
      const a_directory_error listed = directory.lookupServers(list);
      if (listed != DIRECTORY_OK && listed != DIRECTORY_NO_SETTINGS_FILE)
        _display_ldap_error(printer, &directory, listed);
    } else if (usable != DIRECTORY_NO_SETTINGS_FILE && usable != DIRECTORY_NO_LIBRARY) {
      _display_ldap_error(printer, &directory, usable);
    }
  }

  c_strm_broadcast_pkt request(BROADCAST_PKT_VQP_REQUEST, nullptr, 0);
  request.connectionlessNumber = 1;
  if ((flags & kListDatabaseNames) != 0) request.setDBName(nullptr, 0);
  c_strm_broadcast_pkt reply(BROADCAST_PKT_VQP_RESPONSE, nullptr, 0);

  const long long timeoutMs =
      static_cast<long long>(vq::net::DiscoverySeconds(options, printer)) * 1000;
  const Clock::time_point start = Clock::now();
  bool quiet = false;
  bool failed = false;
  while (!failed) {
    unsigned sent = 0;
    if (ipv4.closed == 0) _send_udp_broadcasts(ipv4, options, request, printer, quiet, &sent);
    if (ipv6.closed == 0) _send_udp_broadcasts(ipv6, options, request, printer, quiet, &sent);
    if (sent == 0) break;
    const Clock::time_point pass = Clock::now();
    for (long long spent = 0; spent < kPassReplyMs; spent = elapsed_ms(pass)) {
      IPAddress server;
      const unsigned rc =
          wait_for_udp_responses_ms(ipv4, ipv6, hosts, options, &server, reply, nullptr,
                                    printer, static_cast<unsigned>(kPassReplyMs - spent));
      if (rc == kDiscoveryFound) {
        list->addServer(STRM_PORT_TCPIP, reply.port, reply.serverName, nullptr, &server,
                        reply.dbName);
      } else {
        failed = rc != kDiscoveryNotFound;
        break;
      }
    }
    if (elapsed_ms(start) >= timeoutMs) break;
    if (printer != nullptr) printer->message(true, 9637);
    quiet = true;
  }

  remove_duplicate_servers(list, localAddresses);
  make_address_texts(list, flags);
  return kDiscoveryFound;
}
