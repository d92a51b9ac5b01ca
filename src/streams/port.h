// The two interfaces between the stream library and its links. A c_strm_port is a
// link type of one communication environment (shared memory or TCP/IP); the port
// layer makes at most one of each and asks it for connections. A c_strm_pconn is one
// link connection made by a port; it sits under one transport connection and moves
// whole packets (or, for a stream link, runs of bytes).
//
// A link calls back, on its own thread, into the transport connection above
// (`tconn`, when set): accept_bytes / accept_buff / accept_error / drop_connection /
// delayed_put_completed. Buffers it no longer needs go back to their pools.
#ifndef VQ_STREAMS_PORT_H
#define VQ_STREAMS_PORT_H

#include <cstddef>
#include <cstdint>

#include "streams/strm_errors.h"
#include "utils/base/list.h"

class c_strm_buffer;
class c_strm_buff_frlist;
class c_strm_conn_notifier;
class c_strm_pconn;
class c_strm_tconn;

// The link types.
enum a_port_type : std::uint8_t {
  STRM_PORT_ALL = 0,
  STRM_PORT_NONE = 1,
  STRM_PORT_SHARED_MEMORY = 2,
  STRM_PORT_TCPIP = 6,
  STRM_PORT_UNKNOWN = 9,
};

// The machine address of a link connection, a byte string:
//   0     link type (a_port_type)
//   1     length n of the address text
//   2..   the n characters, then a zero byte
// Held in memory from ut_alloc; the holder frees it with ut_free.
typedef std::uint8_t a_machine_addr;
constexpr std::size_t kMachineAddrFixedBytes = 3;  // type, length, terminator

namespace vq::strm {
// A new address of the type and text (cut to 255 characters); null text is empty.
a_machine_addr* NewMachineAddr(std::uint8_t type, const char* text);
// A new copy, or null for null.
a_machine_addr* CopyMachineAddr(const a_machine_addr* addr);
// Bytes of the whole address.
inline std::size_t MachineAddrBytes(const a_machine_addr* addr) {
  return kMachineAddrFixedBytes + addr[1];
}
}  // namespace vq::strm

class c_strm_port : public c_utils_base {
 public:
  ~c_strm_port() override = default;

  // 1 when ready; anything else and the port layer shuts the port down and deletes it.
  virtual an_int_strm_error init_port(c_strm_buff_frlist* pool, const char* options,
                                      void* host_ctx) = 0;
  // Bytes kept free before the packet in every buffer of this link.
  virtual std::uint16_t header_size() { return 0; }
  virtual std::uint8_t get_type() = 0;
  virtual bool can_do_liveness() const { return false; }
  virtual void deregister_name() {}
  virtual void shutdown_listeners() = 0;
  // The printable text of an address, at most `size` bytes with the terminator; the
  // base writes an empty text.
  virtual void format_machine_addr(const a_machine_addr* addr, char* text, unsigned int size);
  // The base takes no encryption and the simple level only, never a TLS level.
  virtual bool supportEncryption(signed char level) const { return level == 0 || level == 1; }
  virtual int query_servers(void* a, void* b, unsigned int c) {
    (void)a, (void)b, (void)c;
    return 0;
  }
  virtual int confirm_server_at_address(const char* a, const char* b, int c) {
    (void)a, (void)b, (void)c;
    return 0;
  }
  // 1 with a new link connection in *out (the caller owns it); 7 when no server
  // answered on this link; any other code with a message in `err`. A link that uses
  // `cached_addr` (`cached_size` bytes) may replace it with the address it reached.
  virtual an_int_strm_error connect(const char* server_name, c_strm_pconn** out,
                                    const char* options, char* cached_addr,
                                    unsigned int cached_size,
                                    c_strm_conn_notifier** notifier, char* err,
                                    std::uint32_t err_len, void* host_ctx) = 0;
  // The tick of the port's next time-out; the base has none.
  virtual std::uint64_t get_next_timeout() const { return UINT64_MAX; }
  virtual void execute() {}
};

class c_strm_pconn : public c_utils_link {
 public:
  c_strm_pconn() = default;
  // Frees the address and the server name, drops the host-context reference.
  ~c_strm_pconn() override;

  // A new address (type 9, no text for the base); the caller frees it with ut_free.
  virtual a_machine_addr* get_local_machine_addr();
  virtual std::uint32_t get_local_ip_port_num() { return 0; }
  virtual std::uint32_t get_remote_ip_port_num() { return 0; }
  // The transport connection to call back, or null to stop calling back.
  virtual void set_tconn(c_strm_tconn* t) { tconn = t; }
  virtual bool can_delete() { return (pconn_flags & kDisconnected) != 0; }
  virtual bool isAlive() { return true; }
  // 1: taken, the buffer object goes back to the caller. 10: queued; the link calls
  // delayed_put_completed(buffer) once it has gone. Other codes: failed, the buffer
  // stays with the caller.
  virtual an_int_strm_error put(c_strm_buffer* buffer) = 0;
  virtual an_int_strm_error put(const char* data, unsigned int len) {
    (void)data, (void)len;
    return 0;
  }
  virtual void poll_for_completion() {}
  // Closes the link; the link then sets kDisconnected in pconn_flags.
  virtual void disconnect() = 0;
  virtual an_int_strm_error start_receive() = 0;
  // 1 or 10 when all `len` bytes were taken; anything else counts as nothing written.
  // The base writes nothing.
  virtual an_int_strm_error blocking_put(const char* data, unsigned int len) {
    (void)data, (void)len;
    return 0;
  }
  virtual void set_tls_mode() {}
  virtual void conn_execute(unsigned int a, unsigned int b) { (void)a, (void)b; }

  // A new copy of machine_addr (null when there is none); the caller frees it.
  a_machine_addr* get_machine_addr() const;
  // Takes a counted reference on the host context (dropping any held before).
  void set_host_ctx(void* ctx);

  static constexpr std::uint32_t kDisconnected = 0x1;

  void* host_ctx = nullptr;              // counted reference to the host's context
  a_machine_addr* machine_addr = nullptr;  // owned
  c_strm_tconn* tconn = nullptr;         // the transport connection above
  c_strm_port* port = nullptr;           // the port that made it
  c_strm_buff_frlist* pool = nullptr;    // the session connection's pool
  char* server_name = nullptr;           // owned text
  std::uint32_t pconn_flags = 0;         // bit 0: disconnected, may be deleted
};

#endif  // VQ_STREAMS_PORT_H
