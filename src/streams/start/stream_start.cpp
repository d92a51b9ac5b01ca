// StrmInit and StrmFini: the counted start and stop of the stream library. The first
// start registers the links of this build with the port layer (shared memory, with the
// shared buffer heap its buffers need, and TCP/IP when the network links are built in)
// and starts the local-server rendezvous; the last stop undoes both. This unit lives in
// a library of its own because the stack's core cannot see its links.
#include <atomic>

#include "streams/packet_buffer.h"
#include "streams/port_layer.h"
#include "streams/shm/rendezvous.h"
#include "streams/shm/shared_heap.h"
#include "streams/shm/shm_port.h"
#include "streams/stream_api.h"

#if __has_include("net/tcp_port.h")
#include "net/tcp_port.h"
#define VQ_STREAMS_HAVE_TCP_LINK 1
#endif

namespace {

// Start and stop are called from the client's library start and stop, never at the
// same time; the count is atomic so that readers on other threads see it whole.
std::atomic<int> g_init_count{0};

void register_links() {
  vq::strm::SetBufferHeapFactory(&vq::shm::NewSharedHeap);
  vq::strm::SetPortMaker(STRM_PORT_SHARED_MEMORY, &vq::shm::MakeShmPort);
#ifdef VQ_STREAMS_HAVE_TCP_LINK
  vq::net::RegisterTcpLink();
#endif
}

void deregister_links() {
  vq::strm::SetPortMaker(STRM_PORT_SHARED_MEMORY, nullptr);
  vq::strm::SetPortMaker(STRM_PORT_TCPIP, nullptr);
  vq::strm::SetBufferHeapFactory(nullptr);
}

}  // namespace

int StrmInit() {
  const int before = g_init_count.fetch_add(1);
  if (before != 0) return before;
  // The connection-string parser keeps no statics of its own to start here.
  register_links();
  StrmInit_RDV();
  return 0;
}

int StrmFini() {
  int count = g_init_count.load();
  // A stop without a start changes nothing.
  while (count > 0 && !g_init_count.compare_exchange_weak(count, count - 1)) {
  }
  if (count != 1) return count > 0 ? count - 1 : 0;
  StrmFini_RDV();
  deregister_links();
  return 0;
}

int StrmInitCount() { return g_init_count.load(); }
