// The shared-memory port: pages of wake-up slots and the connect attempt.
#include "streams/shm/shm_port.h"

#include <errno.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "streams/buffer_pool.h"
#include "streams/packet_buffer.h"
#include "streams/shm/comm_block.h"
#include "streams/shm/resource_tree.h"
#include "streams/shm/shared_heap.h"
#include "streams/shm/shm_conn.h"
#include "streams/shm/shm_segments.h"
#include "utils/base/bounded_strings.h"

namespace {

constexpr std::int32_t kMsgNoDefaultServer = 25171;
constexpr std::int32_t kMsgServerNotFound = 25175;
constexpr std::int32_t kMsgCreateFailed = 25177;
constexpr std::int32_t kMsgStartFailed = 25178;
constexpr std::int32_t kMsgShmError = 13756;
constexpr std::uint32_t kCommBlkSlots = 5;

std::atomic<std::uint32_t> g_client_unique_pid{0};

// Reference ids are opaque to the server and only need to tell the ports of one process
// apart; a counter does that at any pointer width.
std::atomic<std::uint32_t> g_next_ref_id{0x5A3C0001u};

std::uint32_t NextRefId() {
  std::uint32_t id;
  do {
    id = g_next_ref_id.fetch_add(0x9E37u, std::memory_order_relaxed);
  } while (id == 0);
  return id;
}

void CloseCommBlk(CommBlk* block) {
  if (block->version == kShmStructV0) {
    CommBlk_Close(block);
  } else {
    CommBlk64_Close(block);
  }
}

}  // namespace

void Shmem_SetClientUniquePid(std::uint32_t pid) { g_client_unique_pid.store(pid); }
std::uint32_t Shmem_GetClientUniquePid() {
  const std::uint32_t pid = g_client_unique_pid.load();
  return pid != 0 ? pid : static_cast<std::uint32_t>(getpid());
}

c_strm_shm_port::c_strm_shm_port(c_strm_port_layer* layer, c_strm_env_notifier* notifier,
                                 void* env)
    : notifier_(notifier), layer_(layer), env_(env), process_id_(getpid()), printer_(notifier) {}

c_strm_shm_port::~c_strm_shm_port() {
  while (c_ptshm_bitsignal* page = bitsignals_.first_element()) {
    page->unlink();
    delete page;
  }
}

std::uint32_t c_strm_shm_port::bitsignal_count() {
  vq::strm::LockHold hold(lock_);
  std::uint32_t n = 0;
  for (c_utils_iter<c_ptshm_bitsignal> it(bitsignals_); !it.at_end(); it.next()) ++n;
  return n;
}

an_int_strm_error c_strm_shm_port::init_port(c_strm_buff_frlist* pool, const char*,
                                             void* host_ctx) {
  vq::strm::LockHold hold(lock_);
  pool_ = pool;
  c_ptshm_bitsignal* page = c_ptshm_bitsignal::NewBitSignal();
  if (page == nullptr) {
    printer_.Z_msg(host_ctx, kMsgShmError, "NewBitSignal");
    return STRM_NO_MEMORY;
  }
  bitsignals_.append(page);
  ref_id_ = NextRefId();
  return STRM_OK;
}

c_ptshm_bitsignal* c_strm_shm_port::getNewSignal(std::uint16_t* slot) {
  for (c_utils_iter<c_ptshm_bitsignal> it(bitsignals_); !it.at_end(); it.next()) {
    if (it.element()->in_use.alloc(slot)) return it.element();
  }
  c_ptshm_bitsignal* page = c_ptshm_bitsignal::NewBitSignal();
  if (page == nullptr) return nullptr;
  if (!page->in_use.alloc(slot)) {
    delete page;
    return nullptr;
  }
  bitsignals_.append(page);
  return page;
}

an_int_strm_error c_strm_shm_port::connect(const char* server_name, c_strm_pconn** out,
                                           const char*, char*, unsigned int,
                                           c_strm_conn_notifier** notifier, char* err,
                                           std::uint32_t err_len, void* host_ctx) {
  const RdvClock::time_point deadline = RdvClock::now() + vq::shm::RendezvousTimeout();
  an_int_strm_error result = real_connect(server_name, out, notifier, err, err_len, host_ctx,
                                          kShmStructV1, deadline);
  if (result != STRM_OK) {
    result = real_connect(server_name, out, notifier, err, err_len, host_ctx, kShmStructV0,
                          deadline);
  }
  return result;
}

an_int_strm_error c_strm_shm_port::real_connect(const char* server_name, c_strm_pconn** out,
                                                c_strm_conn_notifier** notifier, char* err,
                                                std::uint32_t err_len, void* host_ctx,
                                                std::uint32_t version,
                                                RdvClock::time_point deadline) {
  if (out != nullptr) *out = nullptr;
  if (notifier != nullptr) *notifier = nullptr;

  // 1. The server: the name given, else the target of the default-server link.
  char default_name[kShmPathBytes];
  bool used_default = false;
  if (server_name == nullptr || server_name[0] == '\0') {
    if (!StatEngineResourceTree(kDefaultServerName, default_name, sizeof default_name)) {
      vq::strm::FormatMsg(err, err_len, kMsgNoDefaultServer);
      return STRM_NO_SERVER;
    }
    server_name = default_name;
    used_default = true;
  }

  // 2. The comm block, five slots per ring.
  if (version != kShmStructV0 && version != kShmStructV1) {
    printer_.Z_msg(host_ctx, kMsgStartFailed, "hcommblk.Init");
    return STRM_NO_MEMORY;
  }
  c_strm_shm_mem block_mem =
      version == kShmStructV1 ? CommBlk64_New(kCommBlkSlots) : CommBlk_New(kCommBlkSlots);
  if (block_mem.IsNull()) {
    printer_.Z_msg(host_ctx, kMsgCreateFailed, "hcommblk.IsNull");
    return STRM_NO_MEMORY;
  }
  CommBlk block;
  const bool block_ok = version == kShmStructV1 ? CommBlk64_Init(block_mem, kCommBlkSlots, &block)
                                                : CommBlk_Init(block_mem, kCommBlkSlots, &block);
  if (!block_ok) {
    char number[16];
    snprintf(number, sizeof number, "%d", errno);
    printer_.Z_msg(host_ctx, kMsgStartFailed, "hcommblk.Init", number);
    block_mem.Destroy();
    return STRM_NO_MEMORY;
  }

  // 3. The connection notifier and its event, under the port lock to the end.
  vq::strm::LockHold hold(lock_);
  c_strm_conn_notifier* note =
      notifier_ != nullptr ? notifier_->create_conn_note(host_ctx, err, err_len, 0) : nullptr;
  if (note == nullptr) {
    printer_.Z_msg(host_ctx, kMsgCreateFailed, "create_conn_note");
    CloseCommBlk(&block);
    block_mem.Destroy();
    return STRM_NO_MEMORY;
  }
  c_strm_inter_event own_event{0, 0};
  if (const auto* ev = static_cast<const c_strm_inter_event*>(note->get_event())) {
    if (!ev->IsNull()) own_event = *ev;
  }

  // 4. The request record and a wake-up slot.
  a_ptshm_connect request{};
  request.record_length = sizeof(a_ptshm_connect);
  request.event_id = own_event.id;
  request.event_number = own_event.number;
  request.commblk_mem = block_mem;
  request.pid = Shmem_GetClientUniquePid();
  request.ref_id = ref_id_;
  std::uint16_t slot = kNoSlot;
  c_ptshm_bitsignal* page = getNewSignal(&slot);
  an_int_strm_error result = STRM_NO_MEMORY;
  c_strm_shm_conn* conn = nullptr;
  if (page == nullptr) {
    printer_.Z_msg(host_ctx, kMsgShmError, "NewBitSignal");
  } else {
    request.signal_index = slot;
    request.signal_mem = page->mem;

    // 5. The exchange, then the connection from the server's record.
    a_ptshm_connect reply{};
    result = Ptshm_Connect(server_name, request, &reply, version, err, err_len, deadline);
    if (result == STRM_OK) {
      conn = newConn(reply, slot, page, block, own_event, host_ctx);
      if (conn == nullptr) {
        vq::strm::FormatMsg(err, err_len, kMsgShmError, "newConn");
        result = STRM_NO_MEMORY;
      }
    }
  }

  if (conn != nullptr) {
    ut_free(conn->server_name);
    conn->server_name = ut_strdup(server_name);
    if (used_default) conn->pconn_flags |= c_strm_shm_conn::kDefaultServer;
    if (out != nullptr) *out = conn;
    if (notifier != nullptr) *notifier = note;
  } else {
    CloseCommBlk(&block);
    if (page != nullptr) {
      vq::strm::LockHold page_hold(page->lock);
      page->connections[slot] = nullptr;
      page->in_use.free(slot);
    }
    note->release();
  }
  // The name of the comm block goes in every case: the server has mapped it by now, or
  // never will.
  block_mem.Destroy();
  return result;
}

c_strm_shm_conn* c_strm_shm_port::newConn(const a_ptshm_connect& reply, std::uint16_t own_slot,
                                          c_ptshm_bitsignal* own_signals, const CommBlk& block,
                                          const c_strm_inter_event& own_event, void* host_ctx) {
  auto* heap = pool_ != nullptr && pool_->src != nullptr
                   ? dynamic_cast<c_shared_heap*>(pool_->src->heap)
                   : nullptr;
  if (heap == nullptr) {
    printer_.Z_msg(host_ctx, kMsgServerNotFound, "LookupProc");
    return nullptr;
  }
  // The server's values are checked before anything is built from them.
  if (reply.event_id <= 0) {
    printer_.Z_msg(host_ctx, kMsgServerNotFound, "hevent::IsNull");
    return nullptr;
  }
  if (reply.signal_mem.IsNull() || reply.signal_index >= kBitSignalSlots) {
    printer_.Z_msg(host_ctx, kMsgServerNotFound, "hbitsignal::IsNull");
    return nullptr;
  }
  std::uint32_t mapped = 0;
  auto* peer_page = static_cast<a_bit_signal*>(reply.signal_mem.Map(&mapped));
  if (peer_page == nullptr || mapped < sizeof(a_bit_signal)) {
    if (peer_page != nullptr) DetachFromSharedMem(peer_page);
    printer_.Z_msg(host_ctx, kMsgServerNotFound, "hbitsignal::IsNull");
    return nullptr;
  }
  c_strm_procref* procref = heap->proctable().Locate(reply.pid, reply.ref_id);
  if (procref == nullptr) {
    DetachFromSharedMem(peer_page);
    printer_.Z_msg(host_ctx, kMsgServerNotFound, "LookupProc");
    return nullptr;
  }
  const c_strm_inter_event peer_event{reply.event_id, reply.event_number};
  return new c_strm_shm_conn(peer_event, peer_page, reply.signal_index, block, own_signals,
                             own_slot, this, procref, own_event, host_ctx);
}

c_strm_port* StrmNewShMemPort(c_strm_port_layer* layer, c_strm_env_notifier* notifier,
                              void* env, const char*, an_int_strm_error*) {
  return new c_strm_shm_port(layer, notifier, env);
}

namespace vq::shm {

c_strm_port* MakeShmPort(c_strm_port_layer* layer, c_strm_env_notifier* notifier,
                         const char* name, const char*, an_int_strm_error* result, void*) {
  if (result != nullptr) *result = STRM_OK;
  return StrmNewShMemPort(layer, notifier, nullptr, name, result);
}

}  // namespace vq::shm
