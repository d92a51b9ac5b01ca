// The port layer: chooses the link that reaches the server and keeps the links (ports)
// of a communication environment, at most one of each type, made on first use. For a
// connect it tries shared memory first and TCP/IP after it, each only when the link
// list names it. For TCP/IP it keeps the server address cache "vcsrv.ini": one section
// per server (its name in lower case) with "Link" and "Address".
//
// Ports are made through makers that the links register (SetPortMaker); a link type
// without a maker is unknown to this build.
#ifndef VQ_STREAMS_PORT_LAYER_H
#define VQ_STREAMS_PORT_LAYER_H

#include <cstdint>

#include "config/ini_store.h"
#include "streams/port.h"
#include "streams/recursive_lock.h"
#include "streams/strm_errors.h"

class c_conn_parms;
class c_encrypt_level;
class c_strm_env_notifier;
class c_strm_buff_frlist;
class c_strm_port_layer;
class a_cs_list_element_list;

typedef std::uint32_t a_strm_conn_type;

// Bytes of the cached-address buffer a connect gives the TCP/IP link.
constexpr unsigned int kCachedAddrBytes = 65;

// The link type of a name ("ALL" 0, "NONE" 1, "SharedMemory"/"ShMem" 2, "TCPIP"/"TCP" 6,
// without regard to case); 9 for anything else.
a_port_type GetPortType(const char* name);
// "SharedMemory" for 2, "TCPIP" for 6, null otherwise.
const char* GetPortTypeString(a_port_type type);

// 1 when every element names a known link; else 0 and *bad_name the first unknown name
// (the element's own text, not a copy).
int i_strm_VerifyList(a_cs_list_element_list* list, char** bad_name);
void i_strm_DestroyPortList(a_cs_list_element_list* list);

// The message of an internal result (16: 7901, 11: 5316, 12: 9033 with the type name,
// 18: 6322, anything else 5108), formatted into `err`.
void i_strm_FormatMsg(an_int_strm_error result, char* err, unsigned int err_len,
                      const char* type_name);

namespace vq::strm {
// Makes the port of one link type: the new port and result 1, or null and a result.
using PortMaker = c_strm_port* (*)(c_strm_port_layer* layer, c_strm_env_notifier* notifier,
                                   const char* name, const char* options,
                                   an_int_strm_error* result, void* host_ctx);
// Registers the maker of a link type (2 or 6); null removes it. Process-wide.
void SetPortMaker(a_port_type type, PortMaker maker);
}  // namespace vq::strm

// The server address cache file: the ini store over "vcsrv.ini", located by the
// ini-file location rules, plain text, at most 100 sections.
class c_strm_inifile : public c_cfg_inifile {
 public:
  c_strm_inifile();
  ~c_strm_inifile() override;
};

class c_strm_port_layer {
 public:
  // `pool` is the environment's default buffer pool given to every port's init_port.
  c_strm_port_layer(c_strm_env_notifier* notifier, c_strm_buff_frlist* pool);
  ~c_strm_port_layer();  // deletes both ports
  c_strm_port_layer(const c_strm_port_layer&) = delete;
  c_strm_port_layer& operator=(const c_strm_port_layer&) = delete;

  // Makes the port of a type once; 1 when it exists afterwards, else the failure.
  an_int_strm_error add_port(a_port_type type, const char* options, const char* name,
                             void* host_ctx);
  // Connects through one link type (see the source for the steps); 1 with *pconn.
  an_int_strm_error try_connect(a_port_type type, const char* server_name, c_strm_pconn** pconn,
                                const char* options, char* cached_addr,
                                unsigned int cached_size, c_strm_conn_notifier** notifier,
                                char* err, std::uint32_t err_len, void* host_ctx,
                                const c_encrypt_level& level);
  // Connects by the parameters ServerName, CommLinks and IgnoreCache: 1 with *pconn
  // set, else the failure with a message in `err` and *pconn null.
  an_int_strm_error connect(const c_conn_parms* parms, a_strm_conn_type type, char* err,
                            std::uint32_t err_len, void* host_ctx, const c_encrypt_level& level,
                            c_strm_conn_notifier** notifier, c_strm_pconn** pconn);
  // Makes the ports a link list names without connecting; 1, or 0 with a message.
  int create_ports(const char* links, const char* name, int* count, char* err,
                   unsigned int err_len, void* host_ctx);

  // The cached link type of a server (9 without an entry) and its address in `address`.
  a_port_type read_cache(const char* server_name, char* address, unsigned int size);
  // Records (non-empty address) or removes (empty) the server's entry.
  void write_cache(const char* server_name, const char* address, a_port_type type);

  void execute();
  std::uint64_t next_timeout();
  void shutdown_listeners();
  int lookup_servers(void* a, void* b, unsigned int c);
  int confirm_server_at_ip_address(const char* a, const char* b, int c);

  c_strm_port* port(a_port_type type) { return type == STRM_PORT_TCPIP ? tcp_port : shm_port; }
  c_strm_env_notifier* notifier() const { return notifier_; }
  const char* cache_filename() const { return cache_file.full_filename(); }

 private:
  c_strm_env_notifier* notifier_;  // not owned
  c_strm_buff_frlist* pool_;       // not owned
  c_strm_port* shm_port = nullptr;  // owned
  c_strm_port* tcp_port = nullptr;  // owned
  c_strm_inifile cache_file;
  vq::strm::RecursiveLock cache_lock;
};

#endif  // VQ_STREAMS_PORT_LAYER_H
