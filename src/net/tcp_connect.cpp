// The connect road of the TCP link: options, the cached address, the named hosts, the
// directory and UDP discovery, the TCP connect and the server-name check.
#include <strings.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "net/broadcast_packet.h"
#include "net/tcp_port.h"
#include "net/tcp_util.h"
#include "streams/notifier.h"
#include "streams/packet_header.h"
#include "utils/base/memory.h"

namespace {

constexpr const char* kLinkName = "TCPIP";

constexpr std::int32_t kMsgBadLinkParameter = 6385;
constexpr std::int32_t kMsgBadValue = 8537;
constexpr std::int32_t kMsgDirectWithoutHost = 9530;
constexpr std::int32_t kMsgHostWithLocalOnly = 19947;
constexpr std::int32_t kMsgResolving = 6360;
constexpr std::int32_t kMsgIPv6Unavailable = 17188;
constexpr std::int32_t kMsgIPv6Refused = 17189;
constexpr std::int32_t kMsgTimeout = 6323;
constexpr std::int32_t kMsgNameNotVerifiable = 9534;
constexpr std::int32_t kMsgNamelessConnect = 7756;
constexpr std::int32_t kMsgLookingFor = 6350;
constexpr std::int32_t kMsgNoName = 19995;
constexpr std::int32_t kMsgUdpStart = 6368;
constexpr std::int32_t kMsgStillLooking = 9637;
constexpr std::int32_t kMsgNoUdpAnswer = 6373;
constexpr std::int32_t kMsgNoUdpSent = 19946;
constexpr std::int32_t kMsgFound = 6837;
constexpr std::int32_t kMsgFoundNameless = 25003;
constexpr std::int32_t kMsgLocalAddress = 15175;
constexpr std::int32_t kMsgCachedNotHost = 19948;
constexpr std::int32_t kMsgCachedNotLocal = 10031;
constexpr std::int32_t kMsgTryCached = 9529;
constexpr std::int32_t kMsgTrying = 6370;
constexpr std::int32_t kMsgVerifying = 10323;
constexpr std::int32_t kMsgNotVerifying = 10324;
constexpr std::int32_t kMsgVerifyTimedOut = 10325;
constexpr std::int32_t kMsgSocketCall = 8633;
constexpr std::int32_t kMsgDirectoryNotForHosts = 10893;
constexpr std::int32_t kMsgDirectorySearch = 10890;
constexpr std::int32_t kMsgDirectoryNoStamps = 10876;
constexpr std::int32_t kMsgDirectoryUnreadable = 10875;

// Directory results the road tells apart.
constexpr int kDirOk = 0;
constexpr int kDirNoLibrary = 8;
constexpr int kDirNoSettingsFile = 10;

constexpr unsigned kAddressTextBytes = 128;
// A verification reply is one packet: its length field is 16 bits.
constexpr unsigned kMaxVerifyReply = 0xFFFF;

const a_port_option kTemplate[TCPOPT_ROWS + 1] = {
    {"Host", "IP", {0}, 0, PORT_OPT_STRING_LIST},
    {"Broadcast", "BCAST", {0}, 0, PORT_OPT_STRING_LIST},
    {"Timeout", "TO", {0}, 0, PORT_OPT_NUMBER},
    {"DoBroadcast", "DoBroad", {0}, 0, PORT_OPT_STRING},
    {"ServerPort", "Port", {0}, 0, PORT_OPT_NUMBER_LIST},
    {"MyIP", "Me", {0}, 0, PORT_OPT_STRING_LIST},
    {"ReceiveBufferSize", "RcvBufSz", {0}, 0, PORT_OPT_SIZED_NUMBER},
    {"SendBufferSize", "SndBufSz", {0}, 0, PORT_OPT_SIZED_NUMBER},
    {"LocalOnly", "LO", {0}, 0, PORT_OPT_BOOLEAN},
    {"ClientPort", "CPort", {0}, 0, PORT_OPT_NUMBER_LIST},
    {"VerifyServerName", "Verify", {0}, 0, PORT_OPT_BOOLEAN},
    {"LDAP", "LDAP", {0}, 0, PORT_OPT_STRING},
    {"ipv6", "v6", {0}, 0, PORT_OPT_STRING},
    {nullptr, nullptr, {0}, 0, 0},
};

// Without a discovery of its own a link has no directory and sends no datagram.
class NoDiscovery : public c_strm_tcp_discovery {
 public:
  c_strm_tcp_directory* open_directory(const char*) override { return nullptr; }
  void populate_interface_list(a_port_option*) override {}
  void send_udp_host_packets(Socket&, IPAddress_list&, a_port_option*, c_strm_broadcast_pkt&,
                             void*, bool, unsigned*) override {}
  void send_udp_broadcasts(Socket&, a_port_option*, c_strm_broadcast_pkt&, void*, bool,
                           unsigned*) override {}
  an_int_strm_error wait_for_udp_responses(Socket&, Socket&, IPAddress_list&, a_port_option*,
                                           IPAddress&, c_strm_broadcast_pkt&, const char*,
                                           void*, unsigned) override {
    return TCP_NOT_FOUND;
  }
};

NoDiscovery g_no_discovery;
std::atomic<c_strm_tcp_discovery*> g_discovery{nullptr};

const char* text_of(const a_port_option& row) {
  if (row.count < 1) return nullptr;
  if (row.kind == PORT_OPT_STRING) return static_cast<const char*>(row.value.pointer);
  if (row.kind == PORT_OPT_STRING_LIST) return static_cast<char**>(row.value.pointer)[0];
  return nullptr;
}

std::int64_t now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void address_text(const IPAddress& a, char* text, unsigned size, bool with_port) {
  text[0] = '\0';
  if (a.toString(text, size, with_port ? 1 : 0, 0, 1) == 0) text[0] = '\0';
}

void copy_out(char* out, std::uint32_t size, const char* text) {
  if (out == nullptr || size == 0) return;
  std::snprintf(out, size, "%s", text);
}

// Reads exactly `len` bytes through the timed socket: 1, 0 timed out, -1 failed or
// closed (the error in *error, 0 for a closed connection).
int read_exact(TimedSocket& s, std::uint8_t* out, unsigned len, int* error) {
  unsigned got = 0;
  while (got < len) {
    const int n = s.recv(reinterpret_cast<char*>(out + got), len - got);
    if (n > 0) {
      got += static_cast<unsigned>(n);
      continue;
    }
    if (n == 0) {
      *error = 0;
      return -1;
    }
    if (s.timedOut != 0) return 0;
    *error = s.getLastError().code;
    return -1;
  }
  return 1;
}

}  // namespace

namespace vq::net {

void SetTcpDiscovery(c_strm_tcp_discovery* discovery) { g_discovery.store(discovery); }
c_strm_tcp_discovery* TcpDiscovery() { return g_discovery.load(); }

const a_port_option* TcpOptionTemplate() { return kTemplate; }

unsigned GetIPv6Status(const a_port_option* options) {
  const a_port_option& row = options[TCPOPT_IPV6];
  if (row.count < 1 || port_option_on(&row) != 0) return 0;
  if (port_option_off(&row) != 0) return 1;
  const char* text = text_of(row);
  return text != nullptr && strcasecmp(text, "only") == 0 ? 2 : 0;
}

unsigned DiscoveryMode(const a_port_option* options) {
  const char* mode = text_of(options[TCPOPT_DOBROADCAST]);
  if (mode == nullptr) {
    return options[TCPOPT_HOST].count > 0 ? TCP_DISCOVER_DIRECT : TCP_DISCOVER_ALL;
  }
  if (strcasecmp(mode, "NONE") == 0) return TCP_DISCOVER_NONE;
  if (strcasecmp(mode, "DIRECT") == 0 || strcasecmp(mode, "NO") == 0)
    return TCP_DISCOVER_DIRECT;
  return TCP_DISCOVER_ALL;
}

std::uint16_t* prep_ports(const a_port_option* options, unsigned* count) {
  const a_port_option& row = options[TCPOPT_SERVERPORT];
  const unsigned n = row.count > 0 ? static_cast<unsigned>(row.count) : 1;
  auto* ports = static_cast<std::uint16_t*>(ut_malloc(sizeof(std::uint16_t) * n));
  if (ports == nullptr) return nullptr;
  if (row.count > 0) {
    std::memcpy(ports, row.value.pointer, sizeof(std::uint16_t) * n);
  } else {
    ports[0] = kDefaultServerPort;
  }
  *count = n;
  return ports;
}

}  // namespace vq::net

// The state of one connect; every exit releases it.
struct c_strm_tcp_conn_port::Road {
  ~Road() {
    if (options != nullptr) _unprepare_options(options);
    ut_free(ports);
    if (socket.closed == 0) socket.close();
  }

  const char* name = nullptr;  // the wanted server, null when none
  a_port_option* options = nullptr;
  IPAddress_list hosts;            // resolved "Host" addresses, in order
  std::uint16_t* ports = nullptr;  // server ports
  unsigned port_count = 0;
  unsigned seconds = kDefaultDiscoverySeconds;
  unsigned mode = TCP_DISCOVER_ALL;
  void* ctx = nullptr;
  Socket socket;      // connected once found
  IPAddress reached;  // the address it is connected to
};

c_strm_tcp_conn_port::c_strm_tcp_conn_port(c_strm_port_layer* layer,
                                           c_strm_env_notifier* notifier)
    : port_layer_(layer), notifier_(notifier), printer_(notifier) {}

c_strm_tcp_conn_port::~c_strm_tcp_conn_port() = default;

c_strm_tcp_discovery* c_strm_tcp_conn_port::discovery() const {
  if (discovery_ != nullptr) return discovery_;
  c_strm_tcp_discovery* d = vq::net::TcpDiscovery();
  return d != nullptr ? d : &g_no_discovery;
}

// ---- options -------------------------------------------------------------------------

an_int_strm_error c_strm_tcp_conn_port::_prepare_client_options(const char* text,
                                                                a_port_option** out,
                                                                void* host_ctx) {
  *out = nullptr;
  auto* table = static_cast<a_port_option*>(ut_malloc(sizeof kTemplate));
  if (table == nullptr) return TCP_NO_MEMORY;
  std::memcpy(table, kTemplate, sizeof kTemplate);
  std::unique_ptr<a_port_option, void (*)(a_port_option*)> hold(table, &_unprepare_options);

  char saved[kPortOptionSavedBytes] = "";
  char message[kStrmMsgBytes];
  auto option_message = [&](std::uint32_t code) {
    option_error(code, message, sizeof message, vq::strm::LibraryCatalog(), table, kLinkName,
                 saved);
    printer_.msg(host_ctx, message);
  };

  const std::uint32_t code = prepare_port_options(text, 0, table, saved);
  if ((code & PORT_OPT_NO_MEMORY) != 0) return TCP_NO_MEMORY;
  if (code != PORT_OPT_OK) {
    printer_.msg(host_ctx, kMsgBadLinkParameter, kLinkName);
    option_message(code);
    return TCP_BAD_OPTIONS;
  }
  const a_port_option& my_ip = table[TCPOPT_MYIP];
  for (int i = 0; i < my_ip.count; ++i) {
    const char* v = static_cast<char**>(my_ip.value.pointer)[i];
    if (!TcpUtil::IsIPAddress(v, 0) && strcasecmp(v, "none") != 0) {
      saved[0] = '\0';
      option_message(PORT_OPT_BAD_VALUE | TCPOPT_MYIP);
      return TCP_BAD_OPTIONS;
    }
  }
  if (const char* mode = text_of(table[TCPOPT_DOBROADCAST])) {
    const char* known[] = {"ALL", "YES", "NONE", "NO", "DIRECT"};
    bool ok = false;
    for (const char* k : known) ok = ok || strcasecmp(mode, k) == 0;
    if (!ok) {
      printer_.msg(host_ctx, kMsgBadValue, "DoBroadcast");
      saved[0] = '\0';
      option_message(PORT_OPT_BAD_VALUE | TCPOPT_DOBROADCAST);
      return TCP_BAD_OPTIONS;
    }
    if ((strcasecmp(mode, "DIRECT") == 0 || strcasecmp(mode, "NO") == 0) &&
        table[TCPOPT_HOST].count == 0) {
      printer_.msg(host_ctx, kMsgDirectWithoutHost, mode);
      return TCP_BAD_OPTIONS;
    }
  }
  if (table[TCPOPT_HOST].count > 0 && port_option_on(&table[TCPOPT_LOCALONLY]) != 0) {
    printer_.msg(host_ctx, kMsgHostWithLocalOnly);
    return TCP_BAD_OPTIONS;
  }
  *out = hold.release();
  return STRM_OK;
}

void c_strm_tcp_conn_port::_unprepare_options(a_port_option* table) {
  if (table == nullptr) return;
  unprepare_port_options(table, 0);
  ut_free(table);
}

unsigned c_strm_tcp_conn_port::_get_broadcast_timeout(const a_port_option* options,
                                                      void* host_ctx) {
  const a_port_option& row = options[TCPOPT_TIMEOUT];
  if (row.count != 1) return kDefaultDiscoverySeconds;
  char text[16];
  std::snprintf(text, sizeof text, "%u", row.value.number);
  printer_.Z_msg(host_ctx, kMsgTimeout, text);
  return row.value.number;
}

bool c_strm_tcp_conn_port::check_address_family(const IPAddress& address,
                                                const a_port_option* options, bool report,
                                                void* host_ctx) {
  const unsigned v6 = vq::net::GetIPv6Status(options);
  std::int32_t refused = 0;
  if (address.isIPv6Address() != 0 && (TcpUtil::IsIPv6Supported() == 0 || v6 == 1)) {
    refused = kMsgIPv6Unavailable;
  } else if (v6 == 2 && address.isIPv6Address() == 0) {
    refused = kMsgIPv6Refused;
  }
  if (refused == 0) return true;
  if (report) {
    char text[kAddressTextBytes];
    address_text(address, text, sizeof text, true);
    printer_.Z_msg(host_ctx, refused, text);
  }
  return false;
}

// ---- the TCP connection and the name check -------------------------------------------

an_int_strm_error c_strm_tcp_conn_port::_make_tcp_connection(
    Socket& socket, const IPAddress& address, a_port_option* options, bool report, void* ctx,
    const char* name, unsigned seconds) {
  if (port_option_on(&options[TCPOPT_LOCALONLY]) != 0 && !TcpUtil::IsLocalIPAddress(address)) {
    return TCP_NOT_FOUND;
  }
  char text[kAddressTextBytes];
  address_text(address, text, sizeof text, true);
  if (report) printer_.Z_msg(ctx, kMsgTrying, text);

  auto socket_error = [&](const char* call, int error) {
    char code[16];
    std::snprintf(code, sizeof code, "%d", error);
    printer_.Z_msg(ctx, kMsgSocketCall, call, code);
  };
  IPAddress local;
  local.use_INADDR_ANY(address.isIPv6Address());
  const a_port_option& client_ports = options[TCPOPT_CLIENTPORT];
  const int tries = client_ports.count > 0 ? client_ports.count : 1;
  bool bind_failed = false;
  for (int i = 0; i < tries; ++i) {
    Socket s;
    if (s.init(SOCKET_STREAM, address.isIPv6Address()) == 0) {
      socket_error("socket()", errno);
      return TCP_SOCKET_FAILED;
    }
    if (client_ports.count > 0) {
      local.setPortNumber(static_cast<std::uint16_t*>(client_ports.value.pointer)[i]);
      if (s.bind(local) != 0) {
        socket_error("bind()", errno);
        s.close();
        bind_failed = true;
        continue;
      }
    }
    TimedSocket timed(s.descriptor, SOCKET_STREAM, address.isIPv6Address());
    s.set_blocking_state(0);
    timed.timeLimit =
        static_cast<std::int32_t>(seconds > 2000000 ? 2000000000u : seconds * 1000u);
    if (timed.connect(address) != 0) {
      socket_error("connect()", timed.getLastError().code);
      s.close();
      continue;
    }
    s.set_blocking_state(1);
    if (name != nullptr && port_option_off(&options[TCPOPT_VERIFY]) == 0) {
      if (report) printer_.Z_msg(ctx, kMsgVerifying, text);
      if (!_verify_server_name(s, name, options, seconds, ctx)) {
        s.close();
        return TCP_NOT_FOUND;
      }
      socket = s;
      return TCP_FOUND;
    }
    printer_.Z_msg(ctx, kMsgNotVerifying, text);
    socket = s;
    return TCP_FOUND;
  }
  return bind_failed ? TCP_NO_TCP_CONNECTION : TCP_NOT_FOUND;
}

bool c_strm_tcp_conn_port::_verify_server_name(Socket& socket, const char* name,
                                               a_port_option* options, unsigned seconds,
                                               void* ctx) {
  if (name == nullptr || port_option_off(&options[TCPOPT_VERIFY]) != 0) return true;
  auto socket_error = [&](const char* call, int error) {
    char code[16];
    std::snprintf(code, sizeof code, "%d", error);
    printer_.Z_msg(ctx, kMsgSocketCall, call, code);
  };

  c_strm_broadcast_pkt request(BROADCAST_PKT_VQP_REQUEST, nullptr, 0);
  request.connectionlessNumber = 1;
  if (request.setAltSrvName(name, 0xFFFFFFFFu) == 0) return false;
  const std::uint8_t* bytes = request.getPacket();
  const unsigned length = request.getPacketLength();
  if (bytes == nullptr) return false;

  // The checks run with the descriptor non-blocking so that every read and write keeps
  // to the time limit; the blocking mode comes back afterwards.
  TimedSocket timed(socket.descriptor, SOCKET_STREAM, socket.isIPv6);
  timed.timeLimit =
      static_cast<std::int32_t>(seconds > 2000000 ? 2000000000u : seconds * 1000u);
  socket.set_blocking_state(0);
  struct Restore {
    Socket& s;
    ~Restore() { s.set_blocking_state(1); }
  } restore{socket};

  unsigned sent = 0;
  while (sent < length) {
    const int n = timed.send(reinterpret_cast<const char*>(bytes) + sent, length - sent);
    if (n <= 0) {
      socket_error("send()", timed.getLastError().code);
      return false;
    }
    sent += static_cast<unsigned>(n);
  }

  std::uint8_t header[kVqpPacketHeaderBytes];
  int error = 0;
  int rc = read_exact(timed, header, sizeof header, &error);
  if (rc == 1) {
    // The length is the peer's: a reply shorter than the connectionless header, or of
    // another type, is not an answer; the 16-bit field bounds what is read.
    const unsigned total = vq::strm::load_be16(header + kPktLengthAt);
    if (header[kPktTypeAt] != kVqpPacketType || total < kVqpHeaderBytes) return false;
    std::unique_ptr<std::uint8_t[]> rest(new std::uint8_t[kMaxVerifyReply]);
    const unsigned rest_len = total - kVqpPacketHeaderBytes;
    rc = read_exact(timed, rest.get(), rest_len, &error);
    if (rc == 1) {
      c_strm_broadcast_pkt reply(BROADCAST_PKT_VQP_RESPONSE, nullptr, 0);
      if (reply.readData(rest.get(), rest_len, nullptr, BROADCAST_HEADER_TAKEN) == 0 ||
          reply.kind != BROADCAST_PKT_VQP_RESPONSE) {
        return false;
      }
      // A reply without a name could come from anything listening on the port: it does
      // not show that this is the wanted server. Names compare without regard to case:
      // the port layer hands the link the lower-case form of the name.
      return reply.serverName != nullptr &&
             strncasecmp(reply.serverName, name, kVerifyNameBytes) == 0;
    }
  }
  if (rc == 0) {
    printer_.Z_msg(ctx, kMsgVerifyTimedOut);
  } else {
    socket_error("recv()", error);
  }
  return false;
}

// ---- the steps of the road -----------------------------------------------------------

an_int_strm_error c_strm_tcp_conn_port::_resolve_host_addrs(Road& road, char* err,
                                                            std::uint32_t err_len) {
  const a_port_option& hosts = road.options[TCPOPT_HOST];
  const unsigned v6 = vq::net::GetIPv6Status(road.options);
  for (int i = 0; i < hosts.count; ++i) {
    const char* host = static_cast<char**>(hosts.value.pointer)[i];
    unsigned found = 0;
    if (v6 != 2) found |= TcpUtil::ResolveAll(host, road.hosts, TcpUtil::kIPv4Only);
    if (v6 != 1) found |= TcpUtil::ResolveAll(host, road.hosts, TcpUtil::kIPv6Only);
    if (found == 0) {
      printer_.Z_msg(road.ctx, kMsgResolving, host);
      vq::strm::FormatMsg(err, err_len, kMsgResolving, host);
    }
  }
  if (road.hosts.is_empty()) return TCP_BAD_OPTIONS;
  return STRM_OK;
}

an_int_strm_error c_strm_tcp_conn_port::_try_cached_address(Road& road, const char* cached) {
  IPAddress address;
  if (address.reset(cached) == 0) return TCP_NOT_FOUND;
  if (port_option_on(&road.options[TCPOPT_LOCALONLY]) != 0 &&
      !TcpUtil::IsLocalIPAddress(address)) {
    return TCP_NOT_FOUND;
  }
  if (!check_address_family(address, road.options, true, road.ctx)) return TCP_NOT_FOUND;
  if (!road.hosts.is_empty()) {
    bool listed = false;
    for (IPAddress_iter it(road.hosts); !it.at_end() && !listed; it.next()) {
      const IPAddress& h = *it.element();
      listed = h.sameIPAddress(address) &&
               (h.getPortNumber() == 0 || h.getPortNumber() == address.getPortNumber());
    }
    if (!listed) {
      printer_.Z_msg(road.ctx, kMsgCachedNotHost, cached);
      return TCP_NOT_FOUND;
    }
  } else if (road.mode == TCP_DISCOVER_NONE) {
    printer_.Z_msg(road.ctx, kMsgCachedNotLocal, cached);
    return TCP_NOT_FOUND;
  }
  printer_.Z_msg(road.ctx, kMsgTryCached, cached);
  const an_int_strm_error rc = _make_tcp_connection(road.socket, address, road.options, false,
                                                    road.ctx, road.name, road.seconds);
  if (rc == TCP_FOUND) road.reached = address;
  return rc;
}

an_int_strm_error c_strm_tcp_conn_port::_try_one_host_address(Road& road,
                                                              const IPAddress& host) {
  bool other = false;
  for (unsigned i = 0; i < road.port_count; ++i) {
    IPAddress address(host);
    if (host.getPortNumber() == 0) address.setPortNumber(road.ports[i]);
    const an_int_strm_error rc = _make_tcp_connection(road.socket, address, road.options, true,
                                                      road.ctx, road.name, road.seconds);
    if (rc == TCP_FOUND) {
      road.reached = address;
      return TCP_FOUND;
    }
    if (rc != TCP_NOT_FOUND) other = true;
  }
  return other ? TCP_NO_TCP_CONNECTION : TCP_NOT_FOUND;
}

an_int_strm_error c_strm_tcp_conn_port::_try_host_addresses(Road& road) {
  for (IPAddress_iter it(road.hosts); !it.at_end(); it.next()) {
    if (!check_address_family(*it.element(), road.options, true, road.ctx)) continue;
    const an_int_strm_error rc = _try_one_host_address(road, *it.element());
    if (rc != TCP_NOT_FOUND) return rc;
  }
  return TCP_NOT_FOUND;
}

void c_strm_tcp_conn_port::_display_ldap_error(c_strm_tcp_directory& dir, int error,
                                               void* ctx) {
  const char* base = dir.getFileBaseName() != nullptr ? dir.getFileBaseName() : "";
  const char* server = dir.getServerText() != nullptr ? dir.getServerText() : "";
  switch (error) {
    case 3:
      printer_.Z_msg(ctx, 10874);
      return;
    case 4:
      printer_.Z_msg(ctx, 10669);
      return;
    case 5:
      printer_.Z_msg(ctx, 10739);
      return;
    case 6:
      printer_.Z_msg(ctx, 10891);
      return;
    case 8:
      printer_.Z_msg(ctx, 10875);
      return;
    case 9: {
      const char* dn = dir.getVSRBaseDN();
      printer_.Z_msg(ctx, 10869, dn != nullptr ? dn : "");
      return;
    }
    case 10:
      printer_.Z_msg(ctx, 10666, base);
      return;
    case 11:
      printer_.Z_msg(ctx, 10671, base);
      return;
    case 12:
      printer_.Z_msg(ctx, 10672, base);
      return;
    case 14:
      printer_.Z_msg(ctx, 25189, server);
      return;
    default:
      break;
  }
  const char* ldap_text = dir.getLastLDAPErrorString();
  if (ldap_text == nullptr) ldap_text = "";
  if (char* server_error = dir.getLastServerError()) {
    printer_.Z_msg(ctx, 10668, ldap_text, server, server_error);
    dir.freeServerError(server_error);
  } else {
    printer_.Z_msg(ctx, 10667, ldap_text, server);
  }
}

an_int_strm_error c_strm_tcp_conn_port::_try_ldap(Road& road) {
  // Nothing to search for without a name.
  if (road.name == nullptr) return TCP_NOT_FOUND;
  if (port_option_on(&road.options[TCPOPT_LOCALONLY]) != 0) return TCP_NOT_FOUND;
  if (!road.hosts.is_empty() && road.mode != TCP_DISCOVER_ALL) {
    printer_.Z_msg(road.ctx, kMsgDirectoryNotForHosts);
    return TCP_NOT_FOUND;
  }
  const a_port_option& row = road.options[TCPOPT_LDAP];
  const char* file = nullptr;
  if (port_option_on(&row) == 0 && port_option_off(&row) == 0) file = text_of(row);
  std::unique_ptr<c_strm_tcp_directory> dir(discovery()->open_directory(file));
  if (dir == nullptr) return TCP_NOT_FOUND;
  unsigned stamps = 0;
  int error = dir->serverSupportsTimestamps(&stamps);
  if (error == kDirNoLibrary) {
    printer_.Z_msg(road.ctx, kMsgDirectoryUnreadable);
    return TCP_NOT_FOUND;
  }
  if (error == kDirNoSettingsFile) return TCP_NOT_FOUND;
  if (error != kDirOk) {
    _display_ldap_error(*dir, error, road.ctx);
    return TCP_NOT_FOUND;
  }
  printer_.Z_msg(road.ctx, kMsgDirectorySearch);
  if (stamps == 0) printer_.Z_msg(road.ctx, kMsgDirectoryNoStamps);
  IPAddress_list found;
  error = dir->search(road.name, found);
  if (error != kDirOk) {
    if (error != kDirNoSettingsFile) _display_ldap_error(*dir, error, road.ctx);
    return TCP_NOT_FOUND;
  }
  bool other = false;
  for (IPAddress_iter it(found); !it.at_end(); it.next()) {
    if (!check_address_family(*it.element(), road.options, true, road.ctx)) continue;
    const an_int_strm_error rc = _make_tcp_connection(road.socket, *it.element(), road.options,
                                                      true, road.ctx, road.name, road.seconds);
    if (rc == TCP_FOUND) {
      road.reached = *it.element();
      return TCP_FOUND;
    }
    if (rc != TCP_NOT_FOUND) other = true;
  }
  return other ? TCP_NO_TCP_CONNECTION : TCP_NOT_FOUND;
}

an_int_strm_error c_strm_tcp_conn_port::_try_udp(Road& road) {
  c_strm_tcp_discovery* udp = discovery();
  Socket v4;
  Socket v6;
  v4.init(SOCKET_DATAGRAM, 0);
  v6.init(SOCKET_DATAGRAM, 1);
  struct Close {
    Socket& a;
    Socket& b;
    ~Close() {
      if (a.closed == 0) a.close();
      if (b.closed == 0) b.close();
    }
  } close_both{v4, v6};
  if (v4.closed == 0) v4.set_blocking_state(0);
  if (v6.closed == 0) v6.set_blocking_state(0);
  printer_.Z_msg(road.ctx, kMsgUdpStart);
  if (road.mode == TCP_DISCOVER_ALL) udp->populate_interface_list(road.options);

  // The request is built once: its bytes are the same in every pass.
  c_strm_broadcast_pkt request(BROADCAST_PKT_STRMBROAD, road.name, 0);
  const std::int64_t start = now_ms();
  unsigned sent = 0;
  bool quiet = false;
  an_int_strm_error rc = TCP_NOT_FOUND;
  for (;;) {
    if (!road.hosts.is_empty()) {
      udp->send_udp_host_packets(v4, road.hosts, road.options, request, road.ctx, quiet, &sent);
      if (v6.closed == 0 && TcpUtil::IsIPv6Supported() != 0) {
        udp->send_udp_host_packets(v6, road.hosts, road.options, request, road.ctx, quiet,
                                   &sent);
      }
    }
    if (road.mode == TCP_DISCOVER_ALL) {
      udp->send_udp_broadcasts(v4, road.options, request, road.ctx, quiet, &sent);
      if (v6.closed == 0 && TcpUtil::IsIPv6Supported() != 0) {
        udp->send_udp_broadcasts(v6, road.options, request, road.ctx, quiet, &sent);
      }
    }
    if (sent == 0) {
      rc = TCP_NOT_FOUND;
      break;
    }
    c_strm_broadcast_pkt reply(BROADCAST_PKT_STRMBRESP, nullptr, 0);
    IPAddress found;
    rc = udp->wait_for_udp_responses(v4, v6, road.hosts, road.options, found, reply, road.name,
                                     road.ctx, 1);
    if (rc == TCP_FOUND) {
      rc = _make_tcp_connection(road.socket, found, road.options, false, road.ctx, road.name,
                                road.seconds);
      if (rc == TCP_FOUND) {
        road.reached = found;
        break;
      }
    }
    if (rc != TCP_NOT_FOUND) break;
    if (now_ms() - start > static_cast<std::int64_t>(road.seconds) * 1000) break;
    printer_.Z_msg(road.ctx, kMsgStillLooking);
    quiet = true;
  }
  if (rc == TCP_NOT_FOUND)
    printer_.Z_msg(road.ctx, sent != 0 ? kMsgNoUdpAnswer : kMsgNoUdpSent);
  return rc;
}

// ---- the road ------------------------------------------------------------------------

an_int_strm_error c_strm_tcp_conn_port::connect(const char* name, c_strm_pconn** out,
                                                const char* options, char* cached_addr,
                                                unsigned int cached_size,
                                                c_strm_conn_notifier** notifier, char* err,
                                                std::uint32_t err_len, void* ctx) {
  *out = nullptr;
  if (notifier != nullptr) *notifier = nullptr;
  Road road;
  road.ctx = ctx;
  road.name = name != nullptr && name[0] != '\0' ? name : nullptr;
  an_int_strm_error rc = _prepare_client_options(options, &road.options, ctx);
  if (rc != STRM_OK) return rc;
  if (road.options[TCPOPT_HOST].count > 0) {
    rc = _resolve_host_addrs(road, err, err_len);
    if (rc != STRM_OK) return rc;
  }
  road.ports = vq::net::prep_ports(road.options, &road.port_count);
  if (road.ports == nullptr) return TCP_NO_MEMORY;
  road.seconds = _get_broadcast_timeout(road.options, ctx);
  road.mode = vq::net::DiscoveryMode(road.options);

  if (road.name == nullptr) {
    // A connect without a name must name its hosts and switch the name check off.
    if (road.hosts.is_empty() || port_option_off(&road.options[TCPOPT_VERIFY]) == 0) {
      printer_.Z_msg(ctx, kMsgNameNotVerifiable, kLinkName);
      vq::strm::FormatMsg(err, err_len, kMsgNameNotVerifiable, kLinkName);
      return TCP_BAD_OPTIONS;
    }
    printer_.Z_msg(ctx, kMsgNamelessConnect, kLinkName);
  } else {
    printer_.Z_msg(ctx, kMsgLookingFor, road.name);
  }

  rc = TCP_NOT_FOUND;
  if (cached_addr != nullptr && cached_addr[0] != '\0')
    rc = _try_cached_address(road, cached_addr);
  if (rc == TCP_NOT_FOUND && !road.hosts.is_empty()) rc = _try_host_addresses(road);
  if (rc == TCP_NOT_FOUND && port_option_off(&road.options[TCPOPT_LDAP]) == 0) {
    rc = _try_ldap(road);
  }
  if (rc == TCP_NOT_FOUND) {
    if (road.mode == TCP_DISCOVER_NONE) {
      if (!road.hosts.is_empty()) return TCP_NOT_FOUND;
      printer_.Z_msg(ctx, kMsgDirectWithoutHost, "NONE");
      return TCP_BAD_OPTIONS;
    }
    if (road.name == nullptr) {
      printer_.Z_msg(ctx, kMsgNoName);
      return TCP_NOT_FOUND;
    }
    rc = _try_udp(road);
  }
  if (rc != TCP_FOUND) return rc;

  // Found: remember where, and make the connection.
  char reached[kAddressTextBytes];
  address_text(road.reached, reached, sizeof reached, true);
  if (cached_addr != nullptr && cached_size != 0) copy_out(cached_addr, cached_size, reached);
  if (road.name != nullptr) {
    printer_.Z_msg(ctx, kMsgFound, road.name, kLinkName);
  } else {
    printer_.Z_msg(ctx, kMsgFoundNameless, kLinkName);
  }
  IPAddress local(road.socket);
  char local_text[kAddressTextBytes];
  if (local.isValid() != 0 && local.toString(local_text, sizeof local_text, 1, 0, 1) != 0) {
    printer_.Z_msg(ctx, kMsgLocalAddress, local_text);
  }
  c_strm_tcp_pconn* pconn = nullptr;
  rc = _make_pconn(road.socket, road.reached, road.options, ctx, road.seconds, &pconn);
  if (rc != STRM_OK) return rc;
  if (notifier != nullptr) {
    c_strm_conn_notifier* note =
        notifier_ != nullptr ? notifier_->create_conn_note(ctx, err, err_len, 0) : nullptr;
    if (note == nullptr) {
      // Unregistered, closed and gone: nothing of it stays in the I/O thread's sets.
      delete pconn;
      return TCP_SOCKET_FAILED;
    }
    *notifier = note;
  }
  *out = pconn;
  return TCP_FOUND;
}

int c_strm_tcp_conn_port::confirm_server_at_address(const char* name, const char* address,
                                                    int port) {
  if (address == nullptr) return 0;
  IPAddress target;
  if (TcpUtil::Resolve(address, static_cast<std::uint16_t>(port), target, TcpUtil::kBoth) ==
      0) {
    return 0;
  }
  a_port_option* options = nullptr;
  if (_prepare_client_options(nullptr, &options, nullptr) != STRM_OK) return 0;
  Socket socket;
  (void)_make_tcp_connection(socket, target, options, false, nullptr, name, 0);
  if (socket.closed == 0) socket.close();
  _unprepare_options(options);
  return 0;
}
