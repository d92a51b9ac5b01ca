#include "streams/port_layer.h"

#include <strings.h>

#include <atomic>
#include <cstdarg>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "config/conn_parms.h"
#include "config/conn_string_list.h"
#include "config/encrypt_level.h"
#include "config/key_value_parser.h"
#include "config/option_tables.h"
#include "streams/host_functions.h"
#include "utils/base/memory.h"
#include "utils/locale/lang_string.h"

namespace {

constexpr std::uint32_t kMsgUnknownLinkType = 7901;
constexpr std::uint32_t kMsgLinkFailed = 5316;
constexpr std::uint32_t kMsgLinkNotStarted = 9033;
constexpr std::uint32_t kMsgNoBuffers = 6322;
constexpr std::uint32_t kMsgCommError = 5108;
constexpr std::uint32_t kMsgStartingLink = 6389;
constexpr std::uint32_t kMsgNoLink = 6345;
constexpr std::uint32_t kMsgLinkStarted = 6344;
constexpr std::uint32_t kMsgTryCached = 9524;
constexpr std::uint32_t kMsgTryUncached = 9525;
constexpr std::uint32_t kMsgConnected = 9527;
constexpr std::uint32_t kMsgNotConnected = 9528;
constexpr std::uint32_t kMsgNoServerOver = 11245;
constexpr std::uint32_t kMsgNoEncryption = 9501;
constexpr std::uint32_t kMsgOutOfMemory = 6408;
constexpr std::uint32_t kMsgParseNoMemory = 7941;
constexpr std::uint32_t kMsgParseBrackets = 7945;
constexpr std::uint32_t kMsgParseAfterGroup = 19945;
constexpr std::uint32_t kMsgBadLinkList = 18366;
constexpr std::uint32_t kMsgCaching = 9550;
constexpr std::uint32_t kMsgUncaching = 9549;

constexpr const char* kCacheFileName = "vcsrv.ini";
constexpr const char* kKeyLink = "Link";
constexpr const char* kKeyAddress = "Address";

std::atomic<vq::strm::PortMaker> shm_maker{nullptr};
std::atomic<vq::strm::PortMaker> tcp_maker{nullptr};

// Serialises the making of ports in every environment of the process.
a_ut_safe_pthread_mutex_t* add_port_mutex() {
  static a_ut_safe_pthread_mutex_t mutex = [] {
    a_ut_safe_pthread_mutex_t m{nullptr};
    if (ut_safe_pthread_mutex_init(&m, nullptr) != 0) {
      ut_fatal("The communication stack could not create a mutex");
    }
    return m;
  }();
  return &mutex;
}

// Prints a numbered message for the connection when debugging is on for it; a message
// without text prints nothing.
void debug_msg(void* host_ctx, std::uint32_t id, ...) {
  if (!vq::strm::HostDebugOn(host_ctx)) return;
  char text[kStrmMsgBytes];
  va_list args;
  va_start(args, id);
  UTLangStringBase* catalog = vq::strm::LibraryCatalog();
  text[0] = '\0';
  if (catalog != nullptr) catalog->VFormatMiscLangStr(id, text, sizeof text, args);
  va_end(args);
  if (text[0] != '\0') vq::strm::HostPrint(host_ctx, text);
}

void debug_text(void* host_ctx, const char* text) {
  if (text != nullptr && text[0] != '\0' && vq::strm::HostDebugOn(host_ctx)) {
    vq::strm::HostPrint(host_ctx, text);
  }
}

const char* type_name(a_port_type type) {
  const char* name = GetPortTypeString(type);
  return name != nullptr ? name : "";
}

// A lower-case copy (ASCII letters only, so multibyte text passes unchanged); null
// when memory runs out.
char* lower_copy(const char* text) {
  const std::size_t n = std::strlen(text);
  auto* copy = static_cast<char*>(ut_malloc(n + 1));
  if (copy == nullptr) return nullptr;
  for (std::size_t i = 0; i <= n; ++i) {
    const char c = text[i];
    copy[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return copy;
}

void copy_text(char* out, unsigned int size, const char* text) {
  if (out == nullptr || size == 0) return;
  std::size_t n = text != nullptr ? std::strlen(text) : 0;
  if (n >= size) n = size - 1;
  if (n != 0) std::memcpy(out, text, n);
  out[n] = '\0';
}

struct ListHolder {
  a_cs_list_element_list list;
  ~ListHolder() { i_strm_DestroyPortList(&list); }
};

}  // namespace

a_port_type GetPortType(const char* name) {
  if (name == nullptr) return STRM_PORT_UNKNOWN;
  if (strcasecmp(name, "ALL") == 0) return STRM_PORT_ALL;
  if (strcasecmp(name, "NONE") == 0) return STRM_PORT_NONE;
  if (strcasecmp(name, "SharedMemory") == 0 || strcasecmp(name, "ShMem") == 0) {
    return STRM_PORT_SHARED_MEMORY;
  }
  if (strcasecmp(name, "TCPIP") == 0 || strcasecmp(name, "TCP") == 0) return STRM_PORT_TCPIP;
  return STRM_PORT_UNKNOWN;
}

const char* GetPortTypeString(a_port_type type) {
  switch (type) {
    case STRM_PORT_SHARED_MEMORY: return "SharedMemory";
    case STRM_PORT_TCPIP: return "TCPIP";
    default: return nullptr;
  }
}

int i_strm_VerifyList(a_cs_list_element_list* list, char** bad_name) {
  if (bad_name != nullptr) *bad_name = nullptr;
  for (a_cs_list_element_iter it(*list); !it.at_end(); it.next()) {
    a_cs_list_element* e = it.element();
    if (GetPortType(e->name) == STRM_PORT_UNKNOWN) {
      if (bad_name != nullptr) *bad_name = e->name;
      return 0;
    }
  }
  return 1;
}

void i_strm_DestroyPortList(a_cs_list_element_list* list) {
  if (list != nullptr) ClearCSList(list);
}

void i_strm_FormatMsg(an_int_strm_error result, char* err, unsigned int err_len,
                      const char* name) {
  switch (result) {
    case STRM_UNKNOWN_LINK: vq::strm::FormatMsg(err, err_len, kMsgUnknownLinkType); break;
    case STRM_NO_CONN_PARMS: vq::strm::FormatMsg(err, err_len, kMsgLinkFailed); break;
    case STRM_LINK_FAILED:
      vq::strm::FormatMsg(err, err_len, kMsgLinkNotStarted, name != nullptr ? name : "");
      break;
    case STRM_NO_NETWORK: vq::strm::FormatMsg(err, err_len, kMsgNoBuffers); break;
    default: vq::strm::FormatMsg(err, err_len, kMsgCommError); break;
  }
}

namespace vq::strm {

void SetPortMaker(a_port_type type, PortMaker maker) {
  if (type == STRM_PORT_TCPIP) {
    tcp_maker.store(maker, std::memory_order_release);
  } else if (type == STRM_PORT_SHARED_MEMORY) {
    shm_maker.store(maker, std::memory_order_release);
  }
}

}  // namespace vq::strm

c_strm_inifile::c_strm_inifile()
    : c_cfg_inifile(kCacheFileName, false, 100, true, CFG_DS_INI_DIR, 0) {}

c_strm_inifile::~c_strm_inifile() = default;

c_strm_port_layer::c_strm_port_layer(c_strm_env_notifier* notifier, c_strm_buff_frlist* pool)
    : notifier_(notifier), pool_(pool) {}

c_strm_port_layer::~c_strm_port_layer() {
  delete shm_port;
  delete tcp_port;
}

an_int_strm_error c_strm_port_layer::add_port(a_port_type type, const char* options,
                                              const char* name, void* host_ctx) {
  c_strm_port** slot = type == STRM_PORT_TCPIP ? &tcp_port : &shm_port;
  // A plain read first; the test under the mutex decides.
  if (__atomic_load_n(slot, __ATOMIC_ACQUIRE) != nullptr) return STRM_OK;
  pthread_mutex_lock(add_port_mutex()->handle);
  if (*slot != nullptr) {
    pthread_mutex_unlock(add_port_mutex()->handle);
    return STRM_OK;
  }
  debug_msg(host_ctx, kMsgStartingLink, type_name(type));

  an_int_strm_error result = STRM_UNKNOWN_LINK;
  c_strm_port* port = nullptr;
  vq::strm::PortMaker maker = nullptr;
  if (type == STRM_PORT_SHARED_MEMORY) maker = shm_maker.load(std::memory_order_acquire);
  if (type == STRM_PORT_TCPIP) maker = tcp_maker.load(std::memory_order_acquire);
  if (maker != nullptr) port = maker(this, notifier_, name, options, &result, host_ctx);
  if (port == nullptr) {
    pthread_mutex_unlock(add_port_mutex()->handle);
    debug_msg(host_ctx, kMsgNoLink, type_name(type));
    return result != STRM_OK ? result : STRM_LINK_FAILED;
  }
  result = port->init_port(pool_, options, host_ctx);
  if (result != STRM_OK) {
    pthread_mutex_unlock(add_port_mutex()->handle);
    debug_msg(host_ctx, kMsgNoLink, type_name(type));
    port->shutdown_listeners();
    delete port;
    return result;
  }
  __atomic_store_n(slot, port, __ATOMIC_RELEASE);
  pthread_mutex_unlock(add_port_mutex()->handle);
  debug_msg(host_ctx, kMsgLinkStarted, type_name(type));
  return STRM_OK;
}

an_int_strm_error c_strm_port_layer::try_connect(a_port_type type, const char* server_name,
                                                 c_strm_pconn** pconn, const char* options,
                                                 char* cached_addr, unsigned int cached_size,
                                                 c_strm_conn_notifier** notifier, char* err,
                                                 std::uint32_t err_len, void* host_ctx,
                                                 const c_encrypt_level& level) {
  *pconn = nullptr;
  const char* name = type_name(type);
  an_int_strm_error result = add_port(type, options, nullptr, host_ctx);
  if (result != STRM_OK) {
    i_strm_FormatMsg(result, err, err_len, name);
    debug_text(host_ctx, err);
    return result;
  }
  if (cached_addr != nullptr && cached_addr[0] != '\0') {
    debug_msg(host_ctx, kMsgTryCached, name, cached_addr, kCacheFileName);
  } else {
    debug_msg(host_ctx, kMsgTryUncached, name, kCacheFileName);
  }
  c_strm_port* p = port(type);
  if (!p->supportEncryption(static_cast<signed char>(level.level))) {
    vq::strm::FormatMsg(err, err_len, kMsgNoEncryption, name);
    debug_text(host_ctx, err);
    return STRM_LINK_FAILED;
  }
  if (err != nullptr && err_len != 0) err[0] = '\0';
  result = p->connect(server_name, pconn, options, cached_addr, cached_size, notifier, err,
                      err_len, host_ctx);
  if (*pconn != nullptr) {
    debug_msg(host_ctx, kMsgConnected, name);
  } else if (err != nullptr && err[0] != '\0') {
    debug_text(host_ctx, err);
  } else {
    debug_msg(host_ctx, kMsgNotConnected, name);
  }
  if (result == STRM_OK && *pconn != nullptr) return STRM_OK;
  if (result == STRM_OK) result = STRM_LINK_FAILED;  // success without a connection
  if (cached_addr != nullptr && cached_size != 0) cached_addr[0] = '\0';
  if (*pconn == nullptr && (err == nullptr || err[0] == '\0')) {
    vq::strm::FormatMsg(err, err_len, kMsgNoServerOver, name);
  }
  return result;
}

an_int_strm_error c_strm_port_layer::connect(const c_conn_parms* parms, a_strm_conn_type,
                                             char* err, std::uint32_t err_len, void* host_ctx,
                                             const c_encrypt_level& level,
                                             c_strm_conn_notifier** notifier,
                                             c_strm_pconn** pconn) {
  *pconn = nullptr;
  std::unique_ptr<char, vq::base::UtFree> server;
  if (parms->isSpecified(kSlotServerName) && parms->getString(kSlotServerName) != nullptr) {
    server.reset(lower_copy(parms->getString(kSlotServerName)));
    if (server == nullptr) {
      vq::strm::FormatMsg(err, err_len, kMsgOutOfMemory, "");
      debug_text(host_ctx, err);
      return STRM_NO_MEMORY;
    }
  }
  const char* links = parms->isSpecified(kSlotCommLinks) ? parms->getString(kSlotCommLinks)
                                                          : nullptr;
  if (links == nullptr) links = "SharedMemory";

  ListHolder list;
  const int parsed = ParseCSListString(links, &list.list, nullptr);
  if (parsed != kParseOk) {
    std::uint32_t id = 0;
    if (parsed == kParseNoMemory) id = kMsgParseNoMemory;
    if (parsed == kParseBrackets) id = kMsgParseBrackets;
    if (parsed == kParseTextAfterGroup) id = kMsgParseAfterGroup;
    vq::strm::FormatMsg(err, err_len, id, links);
    debug_text(host_ctx, err);
    return STRM_LINK_FAILED;
  }
  char* bad = nullptr;
  if (i_strm_VerifyList(&list.list, &bad) == 0) {
    vq::strm::FormatMsg(err, err_len, kMsgBadLinkList, bad != nullptr ? bad : "");
    debug_text(host_ctx, err);
    return STRM_LINK_FAILED;
  }

  bool want_shm = false, want_tcp = false;
  const char* tcp_options = nullptr;
  for (a_cs_list_element_iter it(list.list); !it.at_end(); it.next()) {
    a_cs_list_element* e = it.element();
    switch (GetPortType(e->name)) {
      case STRM_PORT_ALL: want_shm = want_tcp = true; break;
      case STRM_PORT_NONE:
      case STRM_PORT_SHARED_MEMORY: want_shm = true; break;
      case STRM_PORT_TCPIP:
        want_tcp = true;
        tcp_options = e->options;
        break;
      default: break;
    }
  }
  // A list that asks for no link (an empty one) must not report success.
  if (!want_shm && !want_tcp) {
    vq::strm::FormatMsg(err, err_len, kMsgBadLinkList, links);
    debug_text(host_ctx, err);
    return STRM_LINK_FAILED;
  }

  an_int_strm_error result = STRM_NO_SERVER;
  c_strm_pconn* conn = nullptr;
  if (want_shm) {
    result = try_connect(STRM_PORT_SHARED_MEMORY, server.get(), &conn, nullptr, nullptr, 0,
                         notifier, err, err_len, host_ctx, level);
  }
  if (want_tcp && (!want_shm || result == STRM_NO_SERVER)) {
    const bool use_cache = server != nullptr && parms->getBool(kSlotIgnoreCache) == 0;
    char read_back[kCachedAddrBytes] = "";
    char buffer[kCachedAddrBytes] = "";
    a_port_type cached_type = STRM_PORT_UNKNOWN;
    if (use_cache) {
      cached_type = read_cache(server.get(), read_back, sizeof read_back);
      if (cached_type == STRM_PORT_TCPIP) std::memcpy(buffer, read_back, sizeof buffer);
    }
    result = try_connect(STRM_PORT_TCPIP, server.get(), &conn, tcp_options, buffer,
                         sizeof buffer, notifier, err, err_len, host_ctx, level);
    buffer[sizeof buffer - 1] = '\0';
    if (conn != nullptr && server != nullptr) {
      ut_free(conn->server_name);
      conn->server_name = static_cast<char*>(ut_alloc(std::strlen(server.get()) + 1));
      std::strcpy(conn->server_name, server.get());
    }
    if (use_cache && (std::strcmp(buffer, read_back) != 0 || cached_type != STRM_PORT_TCPIP)) {
      if (buffer[0] != '\0') {
        debug_msg(host_ctx, kMsgCaching, buffer, kCacheFileName);
      } else {
        debug_msg(host_ctx, kMsgUncaching, kCacheFileName);
      }
      write_cache(server.get(), buffer, STRM_PORT_TCPIP);
    }
  }
  if (result != STRM_OK) {
    delete conn;
    return result;
  }
  *pconn = conn;
  return STRM_OK;
}

int c_strm_port_layer::create_ports(const char* links, const char* name, int* count, char* err,
                                    unsigned int err_len, void* host_ctx) {
  *count = 0;
  if (err != nullptr && err_len != 0) err[0] = '\0';
  ListHolder list;
  if (ParseCSListString(links, &list.list, nullptr) != kParseOk) {
    if (err != nullptr) vq::strm::FormatMsg(err, err_len, kMsgNoBuffers);
    return 0;
  }
  char* bad = nullptr;
  if (i_strm_VerifyList(&list.list, &bad) == 0) {
    if (err != nullptr) vq::strm::FormatMsg(err, err_len, kMsgBadLinkList, bad);
    return 0;
  }
  if (list.list.is_empty()) return 1;
  for (a_cs_list_element_iter it(list.list); !it.at_end(); it.next()) {
    const a_port_type t = GetPortType(it.element()->name);
    if (t == STRM_PORT_ALL || t == STRM_PORT_NONE) {
      if (err != nullptr) vq::strm::FormatMsg(err, err_len, kMsgNoBuffers);
      return 0;
    }
  }
  bool made = false, saw_11 = false;
  an_int_strm_error last = STRM_OK;
  for (a_cs_list_element_iter it(list.list); !it.at_end(); it.next()) {
    const a_port_type t = GetPortType(it.element()->name);
    if (port(t) != nullptr) continue;
    const an_int_strm_error r = add_port(t, it.element()->options, name, host_ctx);
    if (r == STRM_OK) {
      ++*count;
      made = true;
      continue;
    }
    last = r;
    if (r == STRM_NO_CONN_PARMS) saw_11 = true;
    if (err != nullptr) {
      i_strm_FormatMsg(r, err, err_len, type_name(t));
      debug_text(host_ctx, err);
    }
  }
  if (made && !saw_11) return 1;
  if (err != nullptr && err_len != 0 && err[0] == '\0') i_strm_FormatMsg(last, err, err_len, "");
  return 0;
}

a_port_type c_strm_port_layer::read_cache(const char* server_name, char* address,
                                          unsigned int size) {
  copy_text(address, size, "");
  if (server_name == nullptr) return STRM_PORT_UNKNOWN;
  vq::strm::LockHold hold(cache_lock);
  if (!cache_file.open_read_only()) return STRM_PORT_UNKNOWN;
  a_port_type type = STRM_PORT_UNKNOWN;
  if (c_cfg_section* s = cache_file.read_section(server_name)) {
    type = GetPortType(s->get_value(kKeyLink));
    copy_text(address, size, s->get_value(kKeyAddress));
    cache_file.delete_section_object(s);
  }
  cache_file.close();
  return type;
}

void c_strm_port_layer::write_cache(const char* server_name, const char* address,
                                    a_port_type type) {
  if (server_name == nullptr) return;
  vq::strm::LockHold hold(cache_lock);
  if (!cache_file.open()) return;
  if (address != nullptr && address[0] != '\0') {
    c_cfg_section* s = cache_file.read_section(server_name);
    const bool read = s != nullptr;
    if (!read) s = new c_cfg_section(server_name);
    s->set_value(kKeyLink, type_name(type));
    s->set_value(kKeyAddress, address);
    cache_file.write_section(s);
    if (read) {
      cache_file.delete_section_object(s);
    } else {
      delete s;
    }
  } else {
    cache_file.delete_section(server_name);
  }
  cache_file.close();
}

void c_strm_port_layer::execute() {
  if (shm_port != nullptr) shm_port->execute();
  if (tcp_port != nullptr) tcp_port->execute();
}

std::uint64_t c_strm_port_layer::next_timeout() {
  std::uint64_t next = UINT64_MAX;
  for (c_strm_port* p : {shm_port, tcp_port}) {
    if (p != nullptr && p->get_next_timeout() < next) next = p->get_next_timeout();
  }
  return next;
}

void c_strm_port_layer::shutdown_listeners() {
  if (shm_port != nullptr) shm_port->shutdown_listeners();
  if (tcp_port != nullptr) tcp_port->shutdown_listeners();
}

int c_strm_port_layer::lookup_servers(void* a, void* b, unsigned int c) {
  int found = 0;
  for (c_strm_port* p : {shm_port, tcp_port}) {
    if (p != nullptr && p->query_servers(a, b, c) != 0) found = 1;
  }
  return found;
}

int c_strm_port_layer::confirm_server_at_ip_address(const char* a, const char* b, int c) {
  return tcp_port != nullptr ? tcp_port->confirm_server_at_address(a, b, c) : 0;
}
