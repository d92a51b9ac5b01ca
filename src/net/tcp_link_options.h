// The options of the TCP/IP link: the fixed template of its 13 rows, parsed from the
// link's option text by prepare_port_options, and the settings every connect and
// listing derives from them afresh (IPv6 use, discovery mode, time-out, server ports),
// with the address filter that every method applies before it uses an address.
#ifndef VQ_NET_TCP_LINK_OPTIONS_H
#define VQ_NET_TCP_LINK_OPTIONS_H

#include <cstdint>

#include "net/port_options.h"

class IPAddress;
class c_tcp_link_printer;

// The rows of the table, in order.
enum a_tcp_option_row : unsigned {
  TCP_OPT_HOST = 0,            // "Host"/"IP": texts
  TCP_OPT_BROADCAST = 1,       // "Broadcast"/"BCAST": texts
  TCP_OPT_TIMEOUT = 2,         // "Timeout"/"TO": seconds
  TCP_OPT_DO_BROADCAST = 3,    // "DoBroadcast"/"DoBroad": ALL, YES, NONE, NO, DIRECT
  TCP_OPT_SERVER_PORT = 4,     // "ServerPort"/"Port": port numbers
  TCP_OPT_MY_IP = 5,           // "MyIP"/"Me": texts, "none" first means none
  TCP_OPT_RECEIVE_BUFFER = 6,  // "ReceiveBufferSize"/"RcvBufSz": size
  TCP_OPT_SEND_BUFFER = 7,     // "SendBufferSize"/"SndBufSz": size
  TCP_OPT_LOCAL_ONLY = 8,      // "LocalOnly"/"LO": on/off
  TCP_OPT_CLIENT_PORT = 9,     // "ClientPort"/"CPort": port numbers
  TCP_OPT_VERIFY = 10,         // "VerifyServerName"/"Verify": on/off
  TCP_OPT_LDAP = 11,           // "LDAP": off, on, or a settings file name
  TCP_OPT_IPV6 = 12,           // "ipv6"/"v6": on, off, only
  TCP_OPT_ROWS = 13
};

constexpr std::uint16_t kDefaultServerPort = 2638;
constexpr unsigned kDefaultLinkTimeoutSeconds = 5;

// A table: the rows and the closing row.
struct a_tcp_options {
  a_port_option rows[TCP_OPT_ROWS + 1];
};

// A fresh copy of the template: every row not given.
void tcp_option_template(a_tcp_options* options);

// IPv6 use: 0 both families ("ipv6" absent or on, or any other value), 1 IPv4 only
// ("off"), 2 IPv6 only ("only", any case).
enum a_ipv6_status : unsigned { IPV6_BOTH = 0, IPV6_OFF = 1, IPV6_ONLY = 2 };
a_ipv6_status GetIPv6Status(const a_tcp_options* options);

// Discovery mode: 0 named hosts and broadcasts, 1 named hosts only ("DIRECT", "NO"),
// 2 no UDP at all ("NONE"). Without "DoBroadcast": 1 when "Host" has values, else 0.
enum a_discovery_mode : unsigned { DISCOVERY_ALL = 0, DISCOVERY_DIRECT = 1, DISCOVERY_NONE = 2 };
a_discovery_mode tcp_discovery_mode(const a_tcp_options* options);

// The "Timeout" value when given exactly once (debug message 6323 with it), else 5.
unsigned _get_broadcast_timeout(const a_tcp_options* options, c_tcp_link_printer* printer);

// Makes the "ServerPort" row hold the single port 2638 when it has no value; false when
// memory runs out. The ports are then the row's value array and count.
bool prep_ports(a_tcp_options* options);
const std::uint16_t* server_ports(const a_tcp_options* options, unsigned* count);

// The first value of a text-list row, or null.
const char* first_option_text(const a_tcp_options* options, a_tcp_option_row row);
// The "DoBroadcast" text, or null.
const char* do_broadcast_text(const a_tcp_options* options);

// The address filter: an IPv6 address is refused without IPv6 support or with "ipv6"
// off (debug message 17188 with the address when `report`), an IPv4 address with "ipv6"
// only (17189). True when the address may be used.
bool check_address_family(const IPAddress& address, a_ipv6_status status, bool report,
                          c_tcp_link_printer* printer);

#endif  // VQ_NET_TCP_LINK_OPTIONS_H
