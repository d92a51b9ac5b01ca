// The TCP/IP link's directory and UDP steps supplied by the LDAP directory of servers and
// the UDP discovery: what vq::net::InstallUdpDiscovery makes the link use.
#include <cstdint>

#include "net/ldap_directory.h"
#include "net/link_printer.h"
#include "net/tcp_port.h"
#include "net/udp_discovery.h"
#include "streams/host_functions.h"

namespace {

// Prints the discovery's messages for one connection through the stack's host
// functions: debug messages only while the host's debug output is on for it.
class HostPrinter : public c_tcp_link_printer {
 public:
  explicit HostPrinter(void* ctx) : ctx_(ctx) {}
  void message(bool debug, std::int32_t id, const char* a1, const char* a2,
               const char* a3) override {
    if (ctx_ == nullptr || (debug && !vq::strm::HostDebugOn(ctx_))) return;
    char text[kStrmMsgBytes];
    vq::strm::FormatMsg(text, sizeof text, static_cast<std::uint32_t>(id),
                        a1 != nullptr ? a1 : "", a2 != nullptr ? a2 : "",
                        a3 != nullptr ? a3 : "");
    vq::strm::HostPrint(ctx_, text);
  }

 private:
  void* ctx_;
};

class LdapDirectory : public c_strm_tcp_directory {
 public:
  explicit LdapDirectory(const char* settingsFile)
      : handle_(LDAP_SERVER_TYPE_DATABASE, settingsFile) {}
  int serverSupportsTimestamps(unsigned* supported) override {
    return handle_.serverSupportsTimestamps(supported);
  }
  int search(const char* serverName, IPAddress_list& out) override {
    return handle_.search(serverName, out);
  }
  const char* getLastLDAPErrorString() override { return handle_.getLastLDAPErrorString(); }
  const char* getServerText() override {
    return handle_.server != nullptr ? handle_.server : "";
  }
  char* getLastServerError() override { return handle_.getLastServerError(); }
  void freeServerError(char* text) override { handle_.freeServerError(text); }
  const char* getVSRBaseDN() override { return handle_.getVSRBaseDN(); }
  const char* getFileBaseName() override {
    return handle_.getFileBaseName() != nullptr ? handle_.getFileBaseName() : "";
  }

 private:
  c_ldap_handle handle_;
};

// The interface-address and broadcast-address lists live as long as this object, which
// is the process's: the machine's interfaces are read once, as the link type reads them.
class UdpDiscovery : public c_strm_tcp_discovery {
 public:
  c_strm_tcp_directory* open_directory(const char* settingsFile) override {
    return new LdapDirectory(settingsFile);
  }
  void populate_interface_list(a_port_option* options) override {
    udp_._populate_interface_list(options);
  }
  void send_udp_host_packets(Socket& socket, IPAddress_list& hosts, a_port_option* options,
                             c_strm_broadcast_pkt& packet, void* host_ctx, bool quiet,
                             unsigned* sent) override {
    HostPrinter printer(host_ctx);
    udp_._send_udp_host_packets(socket, hosts, options, packet, &printer, quiet, sent);
  }
  void send_udp_broadcasts(Socket& socket, a_port_option* options, c_strm_broadcast_pkt& packet,
                           void* host_ctx, bool quiet, unsigned* sent) override {
    HostPrinter printer(host_ctx);
    udp_._send_udp_broadcasts(socket, options, packet, &printer, quiet, sent);
  }
  an_int_strm_error wait_for_udp_responses(Socket& v4, Socket& v6, IPAddress_list& hosts,
                                           a_port_option* options, IPAddress& out,
                                           c_strm_broadcast_pkt& reply, const char* wantedName,
                                           void* host_ctx, unsigned seconds) override {
    HostPrinter printer(host_ctx);
    return static_cast<an_int_strm_error>(udp_._wait_for_udp_responses(
        v4, v6, hosts, options, &out, reply, wantedName, &printer, seconds));
  }
  c_strm_udp_discovery& udp() { return udp_; }

 private:
  c_strm_udp_discovery udp_;
};

UdpDiscovery& instance() {
  static UdpDiscovery discovery;
  return discovery;
}

}  // namespace

namespace vq::net {

void InstallUdpDiscovery() { SetTcpDiscovery(&instance()); }

unsigned QueryTcpServers(a_server_list* list, void* host_ctx, unsigned flags,
                         const a_port_option* localAddresses) {
  HostPrinter printer(host_ctx);
  return instance().udp().query_servers(list, &printer, flags, localAddresses);
}

}  // namespace vq::net
