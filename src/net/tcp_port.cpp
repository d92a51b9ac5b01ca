// The TCP link type: start, the socket dictionary, the I/O thread's dispatch, local
// addresses and the maker the port layer calls.
#include "net/tcp_port.h"

#include <strings.h>

#include <cstring>

#include "net/network_interface.h"
#include "net/tcp_util.h"
#include "net/udp_discovery.h"
#include "streams/port_layer.h"
#include "utils/base/memory.h"

namespace {

constexpr std::int32_t kMsgLocalAddress = 6418;

char* copy_text(const char* text) {
  const std::size_t n = std::strlen(text);
  auto* copy = static_cast<char*>(ut_alloc(n + 1));
  std::memcpy(copy, text, n + 1);
  return copy;
}

}  // namespace

c_strm_tcp_port::c_strm_tcp_port(c_strm_port_layer* layer, c_strm_env_notifier* notifier)
    : c_strm_tcp_conn_port(layer, notifier),
      my_addresses_{"MyIP", "Me", {0}, 0, PORT_OPT_STRING_LIST} {}

c_strm_tcp_port::~c_strm_tcp_port() {
  shut_down_selector();
  {
    vq::strm::LockHold hold(dict_lock_);
    delete dict_;
    dict_ = nullptr;
  }
  if (started_tcp_) TcpUtil::Fini();
  option_deallocate(&my_addresses_);
}

bool c_strm_tcp_port::on_io_thread() {
  const a_os_thread io = selector().controlThread.load();
  return io != 0 && io == OS_Me();
}

an_int_strm_error c_strm_tcp_port::create_sock_dict() {
  vq::strm::LockHold hold(dict_lock_);
  if (dict_ != nullptr) return TCP_SOCKET_FAILED;
  dict_ = new c_strm_tcp_dict;
  return STRM_OK;
}

an_int_strm_error c_strm_tcp_port::init_port(c_strm_buff_frlist* pool, const char* options,
                                             void* host_ctx) {
  a_port_option* table = nullptr;
  const an_int_strm_error prepared = _prepare_client_options(options, &table, host_ctx);
  if (prepared != STRM_OK) return prepared == TCP_NO_MEMORY ? TCP_NO_MEMORY : TCP_BAD_OPTIONS;
  an_int_strm_error rc = create_sock_dict();
  if (rc == STRM_OK && start_control_thread() != STRM_OK) rc = TCP_SOCKET_FAILED;
  if (rc == STRM_OK) {
    get_my_ip_addresses(table, host_ctx);
    pool_ = pool;
  }
  _unprepare_options(table);
  return rc;
}

void c_strm_tcp_port::get_my_ip_addresses(const a_port_option* options, void* host_ctx) {
  option_deallocate(&my_addresses_);
  const a_port_option& my_ip = options[TCPOPT_MYIP];
  if (my_ip.count > 0) {
    auto** values = static_cast<char**>(my_ip.value.pointer);
    if (my_ip.count == 1 && strcasecmp(values[0], "NONE") == 0) return;
    auto** copy = static_cast<char**>(ut_alloc(sizeof(char*) * my_ip.count));
    for (int i = 0; i < my_ip.count; ++i) copy[i] = copy_text(values[i]);
    my_addresses_.value.pointer = copy;
    my_addresses_.count = my_ip.count;
    return;
  }
  std::uint32_t count = 0;
  NetworkInterface_list* list = TcpUtil::GetNIList(&count);
  if (list == nullptr || count == 0) return;
  auto** copy = static_cast<char**>(ut_alloc(sizeof(char*) * count));
  int n = 0;
  for (NetworkInterface_iter it(*list); !it.at_end() && n < static_cast<int>(count);
       it.next()) {
    char text[INET6_ADDRSTRLEN + 16];
    if (it.element()->getIPAddress(text, sizeof text) == 0) continue;
    copy[n++] = copy_text(text);
    printer_.Z_msg(host_ctx, kMsgLocalAddress, text);
  }
  if (n == 0) {
    ut_free(copy);
    return;
  }
  my_addresses_.value.pointer = copy;
  my_addresses_.count = n;
}

void c_strm_tcp_port::shutdown_listeners() {
  shut_down_selector();
  listener_ = false;
}

void c_strm_tcp_port::format_machine_addr(const a_machine_addr* addr, char* text,
                                          unsigned int size) {
  if (text == nullptr || size == 0) return;
  text[0] = '\0';
  if (addr == nullptr || addr[1] == 0) return;
  std::size_t n = addr[1];
  if (n >= size) n = size - 1;
  std::memcpy(text, addr + 2, n);
  text[n] = '\0';
}

c_strm_tcp_pconn* c_strm_tcp_port::get_pconn(int descriptor) {
  vq::strm::LockHold hold(dict_lock_);
  if (dict_ == nullptr) return nullptr;
  const c_strm_tcp_sock_key probe(descriptor, c_strm_tcp_dict::kBuckets);
  auto* pconn = static_cast<c_strm_tcp_pconn*>(dict_->base_locate(probe));
  if (pconn != nullptr) ++pconn->dispatch_refs_;
  return pconn;
}

void c_strm_tcp_port::put_pconn(c_strm_tcp_pconn* pconn) {
  vq::strm::LockHold hold(dict_lock_);
  if (--pconn->dispatch_refs_ == 0 && pconn->drain_waiting_) {
    pconn->drain_waiting_ = false;
    ut_pthread_signal_semaphore(&pconn->drained_);
  }
}

// The dictionary lock is never held together with a connection lock: the connection is
// looked up (and held by its dispatch reference) first, then its own lock is taken.
an_int_strm_error c_strm_tcp_port::process_fd_read(int descriptor) {
  c_strm_tcp_pconn* pconn = get_pconn(descriptor);
  if (pconn == nullptr) return STRM_NO_SESSION_CONN;
  const an_int_strm_error rc = pconn->do_receive11();
  put_pconn(pconn);
  return rc;
}

an_int_strm_error c_strm_tcp_port::process_fd_write(int descriptor) {
  c_strm_tcp_pconn* pconn = get_pconn(descriptor);
  if (pconn == nullptr) return STRM_NO_SESSION_CONN;
  const an_int_strm_error rc = pconn->delayed_write();
  put_pconn(pconn);
  return rc;
}

an_int_strm_error c_strm_tcp_port::_make_pconn(Socket& socket, const IPAddress& address,
                                               const a_port_option* options, void* host_ctx,
                                               unsigned seconds, c_strm_tcp_pconn** out) {
  *out = nullptr;
  auto* pconn = new c_strm_tcp_pconn(socket, this, &selector(), address, options, host_ctx);
  socket.closed = 1;  // the connection owns the descriptor now
  if (pconn->register_socket() != 1) {
    delete pconn;
    return TCP_SOCKET_FAILED;
  }
  pconn->timeout = seconds;
  *out = pconn;
  return STRM_OK;
}

c_strm_port* StrmNewTCPPort(c_strm_port_layer* layer, c_strm_env_notifier* notifier,
                            const char*, const char*, an_int_strm_error* result, void*) {
  auto* port = new c_strm_tcp_port(layer, notifier);
  // Each link type that started the network support stops it once, so the support's
  // start count stays balanced however many environments make a TCP link.
  if (TcpUtil::Init() == 0) {
    delete port;
    *result = STRM_NO_NETWORK;
    return nullptr;
  }
  port->set_network_started();
  *result = STRM_OK;
  return port;
}

namespace vq::net {

void RegisterTcpLink() { vq::strm::SetPortMaker(STRM_PORT_TCPIP, &StrmNewTCPPort); }

}  // namespace vq::net

namespace {
// The link registers itself when the library is loaded, so the port layer knows TCP/IP
// from the first connect on. The maker slot is a constant-initialised atomic, ready
// before any constructor runs.
[[maybe_unused]] const bool g_tcp_link_registered = (vq::net::RegisterTcpLink(), true);
}  // namespace

int c_strm_tcp_port::query_servers(void* list, void* host_ctx, unsigned int flags) {
  return static_cast<int>(vq::net::QueryTcpServers(static_cast<a_server_list*>(list), host_ctx,
                                                   flags, &local_addresses()));
}
