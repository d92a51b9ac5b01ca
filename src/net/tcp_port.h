// The TCP/IP link type of the communication stack.
//
// c_strm_tcp_conn_port finds a server and opens the TCP connection to it: the connect
// road (cached address, named hosts, directory, UDP discovery), the TCP connect with its
// client ports and the server-name check over the new connection. c_strm_tcp_port adds
// what a running link needs: the socket dictionary, the I/O thread that reads every
// connection, the buffer pool and this machine's addresses.
//
// The directory search and the UDP discovery are reached through c_strm_tcp_discovery,
// so that they can be supplied apart from the road (and faked by tests). Without one
// installed, there is no directory and no UDP datagram is sent.
#ifndef VQ_NET_TCP_PORT_H
#define VQ_NET_TCP_PORT_H

#include <cstdint>

#include "net/ip_address.h"
#include "net/port_options.h"
#include "net/socket.h"
#include "net/tcp_io_thread.h"
#include "net/tcp_pconn.h"
#include "streams/host_functions.h"
#include "streams/port.h"
#include "streams/recursive_lock.h"

class c_strm_broadcast_pkt;
class c_strm_env_notifier;
class c_strm_port_layer;

// Rows of the "TCPIP" option table, in order.
enum a_tcp_option_row : unsigned {
  TCPOPT_HOST = 0,
  TCPOPT_BROADCAST,
  TCPOPT_TIMEOUT,
  TCPOPT_DOBROADCAST,
  TCPOPT_SERVERPORT,
  TCPOPT_MYIP,
  TCPOPT_RCVBUF,
  TCPOPT_SNDBUF,
  TCPOPT_LOCALONLY,
  TCPOPT_CLIENTPORT,
  TCPOPT_VERIFY,
  TCPOPT_LDAP,
  TCPOPT_IPV6,
  TCPOPT_ROWS  // 13; the table ends with a zero row after them
};

// Discovery modes.
enum a_tcp_discovery_mode : unsigned {
  TCP_DISCOVER_ALL = 0,     // UDP to the hosts and to broadcast addresses
  TCP_DISCOVER_DIRECT = 1,  // UDP only to the named hosts
  TCP_DISCOVER_NONE = 2     // no UDP at all
};

// Internal results of the connect road.
enum : an_int_strm_error {
  TCP_FOUND = 1,         // found and connected
  TCP_NOT_FOUND = 7,     // not found by this method; the road goes on
  TCP_BAD_OPTIONS = 12,  // bad or contradictory options, or no name where one is needed
  TCP_NO_MEMORY = 14,
  TCP_SOCKET_FAILED = 19,
  TCP_NO_TCP_CONNECTION = 20  // seen but not reachable over TCP (or a client port not bound)
};

constexpr std::uint16_t kDefaultServerPort = 2638;
constexpr unsigned kDefaultDiscoverySeconds = 5;
constexpr unsigned kVerifyNameBytes = 250;  // bytes of the names compared by the check

// One open directory of servers. Results are the directory's codes (0 done, 3 no such
// server, 8 no directory library, 9 no product unit, 10 no settings file, ...).
class c_strm_tcp_directory {
 public:
  virtual ~c_strm_tcp_directory() = default;
  virtual int serverSupportsTimestamps(unsigned* supported) = 0;
  // Appends the server's addresses to `out`.
  virtual int search(const char* serverName, IPAddress_list& out) = 0;
  virtual const char* getLastLDAPErrorString() = 0;
  virtual const char* getServerText() = 0;  // the directory server the handle uses
  virtual char* getLastServerError() = 0;   // freed with freeServerError, may be null
  virtual void freeServerError(char* text) = 0;
  virtual const char* getVSRBaseDN() = 0;
  virtual const char* getFileBaseName() = 0;  // base name of the settings file
};

// The directory and UDP steps of the road. Every operation runs on the connecting
// thread and works on the connect's option table.
class c_strm_tcp_discovery {
 public:
  virtual ~c_strm_tcp_discovery() = default;
  // A directory of the client kind over the settings file (null: the default file), or
  // null when this build has no directory support (the step then finds nothing, quietly).
  virtual c_strm_tcp_directory* open_directory(const char* settingsFile) = 0;
  virtual void populate_interface_list(a_port_option* options) = 0;
  // Each adds the datagrams it sent to *sent.
  virtual void send_udp_host_packets(Socket& socket, IPAddress_list& hosts,
                                     a_port_option* options, c_strm_broadcast_pkt& packet,
                                     void* host_ctx, bool quiet, unsigned* sent) = 0;
  virtual void send_udp_broadcasts(Socket& socket, a_port_option* options,
                                   c_strm_broadcast_pkt& packet, void* host_ctx, bool quiet,
                                   unsigned* sent) = 0;
  // 1 with the server's address in `out`, 7 when none answered in time, 19 on failure.
  virtual an_int_strm_error wait_for_udp_responses(Socket& v4, Socket& v6,
                                                   IPAddress_list& hosts,
                                                   a_port_option* options, IPAddress& out,
                                                   c_strm_broadcast_pkt& reply,
                                                   const char* wantedName, void* host_ctx,
                                                   unsigned seconds) = 0;
};

namespace vq::net {
// The discovery every new TCP link type uses (not owned; it must outlive the links).
// Null: none.
void SetTcpDiscovery(c_strm_tcp_discovery* discovery);
c_strm_tcp_discovery* TcpDiscovery();

// Derived settings of an option table.
unsigned GetIPv6Status(const a_port_option* options);  // 0 on, 1 off, 2 only
unsigned DiscoveryMode(const a_port_option* options);
// The server ports ("ServerPort", or 2638 alone) as a new array; null when memory runs
// out.
std::uint16_t* prep_ports(const a_port_option* options, unsigned* count);
// The template of the "TCPIP" option table (TCPOPT_ROWS rows and a zero row).
const a_port_option* TcpOptionTemplate();
}  // namespace vq::net

class c_strm_tcp_conn_port : public c_strm_port {
 public:
  c_strm_tcp_conn_port(c_strm_port_layer* layer, c_strm_env_notifier* notifier);
  ~c_strm_tcp_conn_port() override;

  // The connect road: 1 with a new registered connection and its notifier, or 7, 12,
  // 14, 19, 20. On success the address reached goes into `cached_addr` (when given with
  // a size) as its numeric text, a colon and the port.
  an_int_strm_error connect(const char* name, c_strm_pconn** out, const char* options,
                            char* cached_addr, unsigned int cached_size,
                            c_strm_conn_notifier** notifier, char* err, std::uint32_t err_len,
                            void* host_ctx) override;
  // One verified TCP connection to the address, closed again; always 0.
  int confirm_server_at_address(const char* name, const char* address, int port) override;

  // The discovery this link uses (the process-wide one when not set); not owned.
  void set_discovery(c_strm_tcp_discovery* discovery) { discovery_ = discovery; }
  c_strm_pt_dbg_prt& printer() { return printer_; }

  // --- helpers of the road (public for the tests of each step) ---
  // A fresh copy of the template with the text parsed and checked: 1, 12 (messages
  // printed) or 14. *table is null on failure.
  an_int_strm_error _prepare_client_options(const char* text, a_port_option** table,
                                            void* host_ctx);
  static void _unprepare_options(a_port_option* table);
  // Opens, binds and connects a socket to `address` and checks the name: 1 with the
  // connected socket in `socket`, 7, 19 or 20.
  an_int_strm_error _make_tcp_connection(Socket& socket, const IPAddress& address,
                                         a_port_option* options, bool report, void* host_ctx,
                                         const char* name, unsigned seconds);
  // Asks the server over the connected socket for its name; true when it is `name`.
  bool _verify_server_name(Socket& socket, const char* name, a_port_option* options,
                           unsigned seconds, void* host_ctx);
  // Whether the address may be used under the IPv6 setting.
  bool check_address_family(const IPAddress& address, const a_port_option* options, bool report,
                            void* host_ctx);

 protected:
  // Makes and registers the connection over the connected socket: 1 with *out, else a
  // failure with nothing left behind.
  virtual an_int_strm_error _make_pconn(Socket& socket, const IPAddress& address,
                                        const a_port_option* options, void* host_ctx,
                                        unsigned seconds, c_strm_tcp_pconn** out) = 0;

  c_strm_tcp_discovery* discovery() const;

  c_strm_port_layer* port_layer_;  // not owned
  c_strm_env_notifier* notifier_;  // not owned
  c_strm_pt_dbg_prt printer_;      // over the environment notifier

 private:
  struct Road;  // the state of one connect
  an_int_strm_error _resolve_host_addrs(Road& road, char* err, std::uint32_t err_len);
  an_int_strm_error _try_cached_address(Road& road, const char* cached);
  an_int_strm_error _try_host_addresses(Road& road);
  an_int_strm_error _try_one_host_address(Road& road, const IPAddress& address);
  an_int_strm_error _try_ldap(Road& road);
  void _display_ldap_error(c_strm_tcp_directory& dir, int error, void* host_ctx);
  an_int_strm_error _try_udp(Road& road);
  unsigned _get_broadcast_timeout(const a_port_option* options, void* host_ctx);

  c_strm_tcp_discovery* discovery_ = nullptr;
};

class c_strm_tcp_port : public c_strm_tcp_conn_port, private c_strm_tcp_io_thread {
 public:
  c_strm_tcp_port(c_strm_port_layer* layer, c_strm_env_notifier* notifier);
  // Stops the I/O thread, then frees the dictionary and the local addresses.
  ~c_strm_tcp_port() override;

  // Checks the options, makes the dictionary, starts the I/O thread and fills the local
  // addresses: 1, 12 (bad options) or 19.
  an_int_strm_error init_port(c_strm_buff_frlist* pool, const char* options,
                              void* host_ctx) override;
  std::uint8_t get_type() override { return STRM_PORT_TCPIP; }
  bool can_do_liveness() const override { return true; }
  void shutdown_listeners() override;
  void format_machine_addr(const a_machine_addr* addr, char* text, unsigned int size) override;
  bool supportEncryption(signed char) const override { return true; }
  // The server listing over the process-wide discovery (LDAP directory and UDP).
  int query_servers(void* list, void* host_ctx, unsigned int flags) override;
  void execute() override {}

  // The connection of a descriptor with a dispatch reference taken, or null; every
  // connection returned goes back through put_pconn.
  c_strm_tcp_pconn* get_pconn(int descriptor);
  void put_pconn(c_strm_tcp_pconn* pconn);

  c_strm_buff_frlist* pool() const { return pool_; }
  c_strm_sock_sel& poll_set() { return selector(); }
  bool on_io_thread();
  void set_network_started() { started_tcp_ = true; }
  // This machine's addresses as texts ("MyIP", or every interface); owned by the port.
  const a_port_option& local_addresses() const { return my_addresses_; }
  bool listening() const { return listener_; }

 protected:
  an_int_strm_error _make_pconn(Socket& socket, const IPAddress& address,
                                const a_port_option* options, void* host_ctx, unsigned seconds,
                                c_strm_tcp_pconn** out) override;
  an_int_strm_error process_fd_read(int descriptor) override;
  an_int_strm_error process_fd_write(int descriptor) override;

 private:
  friend class c_strm_tcp_pconn;
  an_int_strm_error create_sock_dict();
  void get_my_ip_addresses(const a_port_option* options, void* host_ctx);

  a_port_option my_addresses_;          // a string list, as the "MyIP" row holds it
  c_strm_buff_frlist* pool_ = nullptr;  // the environment's default pool
  bool listener_ = true;
  c_strm_tcp_dict* dict_ = nullptr;  // owned
  vq::strm::RecursiveLock dict_lock_;
  bool started_tcp_ = false;  // this link started the network support
};

// The port layer's maker of the TCP link: a new link type and result 1, or null and 18
// when the network support cannot start.
c_strm_port* StrmNewTCPPort(c_strm_port_layer* layer, c_strm_env_notifier* notifier,
                            const char* name, const char* options, an_int_strm_error* result,
                            void* host_ctx);

namespace vq::net {
// Registers StrmNewTCPPort as the port layer's maker of TCP/IP links. Done once when the
// library is loaded; callable again to put the maker back after a test replaced it.
void RegisterTcpLink();
}  // namespace vq::net

#endif  // VQ_NET_TCP_PORT_H
