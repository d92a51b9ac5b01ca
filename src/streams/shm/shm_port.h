// The shared-memory port: the link type for a database server on the same machine.
// The port layer makes one per communication environment and asks it to connect by
// server name. A connect is a rendezvous: the client makes a comm block (two rings in a
// fresh segment) and takes a slot of one of its bit-signal pages, sends a connect
// record describing them over the server's "rdv_socket", and builds a c_strm_shm_conn
// from the server's record. It tries 64-bit structures first, then 32-bit ones.
//
// Both tries of one connect share one deadline, the initial connect time-out, so a
// server that never answers costs that long and no more.
#ifndef VQ_STREAMS_SHM_SHM_PORT_H
#define VQ_STREAMS_SHM_SHM_PORT_H

#include <sys/types.h>

#include <cstdint>

#include "streams/host_functions.h"
#include "streams/notifier.h"
#include "streams/port.h"
#include "streams/port_layer.h"
#include "streams/recursive_lock.h"
#include "streams/shm/bit_signal.h"
#include "streams/shm/comm_block.h"
#include "streams/shm/rendezvous.h"
#include "utils/base/list.h"

class c_strm_shm_conn;

class c_strm_shm_port : public c_strm_port {
 public:
  c_strm_shm_port(c_strm_port_layer* layer, c_strm_env_notifier* notifier, void* env);
  // Deletes every bit-signal page (each unmaps and removes its file). Connections keep
  // their own references to their page and must be gone first.
  ~c_strm_shm_port() override;

  // Records the pool, makes the first bit-signal page and the reference id: 1, or 14
  // (with debug message 13756) when no page can be made.
  an_int_strm_error init_port(c_strm_buff_frlist* pool, const char* name, void* host_ctx) override;
  std::uint8_t get_type() override { return STRM_PORT_SHARED_MEMORY; }
  void shutdown_listeners() override {}
  // 1 with the new link connection in *out and its connection notifier in *notifier;
  // 7 when no server answered (either structure version); 14 on a resource failure.
  // A message goes into `err` for 7 without a server name and default server, for a
  // failed socket call and for a connection that could not be built.
  an_int_strm_error connect(const char* server_name, c_strm_pconn** out, const char* options,
                            char* cached_addr, unsigned int cached_size,
                            c_strm_conn_notifier** notifier, char* err, std::uint32_t err_len,
                            void* host_ctx) override;
  // One attempt with structure version 0 or 1, ending by `deadline`.
  an_int_strm_error real_connect(const char* server_name, c_strm_pconn** out,
                                 c_strm_conn_notifier** notifier, char* err,
                                 std::uint32_t err_len, void* host_ctx, std::uint32_t version,
                                 RdvClock::time_point deadline);

  std::uint32_t ref_id() const { return ref_id_; }
  pid_t process_id() const { return process_id_; }
  c_strm_buff_frlist* buffer_pool() const { return pool_; }
  c_strm_pt_dbg_prt& printer() { return printer_; }
  // Bit-signal pages made so far.
  std::uint32_t bitsignal_count();

 private:
  // The first free slot of the pages, in order; a new page when all are full. Null
  // (and nothing taken) when a new page cannot be made.
  c_ptshm_bitsignal* getNewSignal(std::uint16_t* slot);
  // The connection from the server's record, or null when a value in it is unusable
  // (no event, no or unmappable bit-signal page, slot above 255) or the shared heap is
  // missing.
  c_strm_shm_conn* newConn(const a_ptshm_connect& reply, std::uint16_t own_slot,
                           c_ptshm_bitsignal* own_signals, const CommBlk& block,
                           const c_strm_inter_event& own_event, void* host_ctx);

  c_strm_env_notifier* notifier_;  // not owned
  c_strm_port_layer* layer_;       // not owned
  void* env_;                      // not owned
  vq::strm::RecursiveLock lock_;   // the port lock: one attempt at a time
  c_utils_list<c_ptshm_bitsignal> bitsignals_;  // creation order; owned
  c_strm_buff_frlist* pool_ = nullptr;
  std::uint32_t ref_id_ = 0;
  pid_t process_id_;
  c_strm_pt_dbg_prt printer_;
};

// Allocates and constructs a port; the name and error arguments are not used.
c_strm_port* StrmNewShMemPort(c_strm_port_layer* layer, c_strm_env_notifier* notifier,
                              void* env, const char* name, an_int_strm_error* error);

// The pid this client sends in its connect records; the control thread stores getpid().
// Until one is stored the records carry the process id.
void Shmem_SetClientUniquePid(std::uint32_t pid);
std::uint32_t Shmem_GetClientUniquePid();

namespace vq::shm {
// The port maker for vq::strm::SetPortMaker(STRM_PORT_SHARED_MEMORY, ...).
c_strm_port* MakeShmPort(c_strm_port_layer* layer, c_strm_env_notifier* notifier,
                         const char* name, const char* options, an_int_strm_error* result,
                         void* host_ctx);
}  // namespace vq::shm

#endif  // VQ_STREAMS_SHM_SHM_PORT_H
