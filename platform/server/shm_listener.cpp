// The stand-in's shared-memory transport: rendezvous and the per-link serving loop.
#include "shm_listener.h"

#include <errno.h>
#include <fcntl.h>
#include <openssl/rand.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <deque>

#include "server.h"
#include "session.h"
#include "streams/shm/bit_signal.h"
#include "streams/shm/comm_block.h"
#include "streams/shm/resource_tree.h"
#include "streams/shm/shared_heap.h"
#include "streams/shm/shm_segments.h"
#include "vqtasks.h"

namespace vqeng {

namespace {

// The rendezvous as the client sends it: five native u32, then the record.
constexpr std::size_t kReqHeader = 20;
constexpr std::size_t kReplyHeader = 16;
constexpr std::uint32_t kCode32 = 1;  // 172-byte record, 32-bit comm block
constexpr std::uint32_t kCode64 = 3;  // 176-byte record, 64-bit comm block
constexpr std::uint32_t kRecordBytes = 172;
constexpr std::uint32_t kRecord64Bytes = 176;
// Offsets in the connect record.
constexpr std::size_t kRecSlot = 2, kRecEventId = 4, kRecEventNum = 8, kRecSignalMem = 20,
                      kRecPid = 92, kRecRefId = 96, kRecCommBlk = 100, kDescBytes = 72;
static_assert(kRecCommBlk + kDescBytes == kRecordBytes, "record ends with the comm block");
static_assert(sizeof(c_strm_shm_mem) == kDescBytes, "segment descriptor");

// Refusals of a rendezvous (the reply's status word).
constexpr std::uint32_t kRefuseRequest = 101;   // header or record malformed
constexpr std::uint32_t kRefuseSegments = 102;  // comm block or signal page unusable
constexpr std::uint32_t kRefuseResources = 103;  // no semaphore or heap for the link

// Outgoing packets: blocks of whole pages in one file per link, each big enough for
// the largest packet a client may agree on plus the 5-byte block prefix.
constexpr std::uint32_t kBlockBytes = 16384;
constexpr std::uint32_t kBlocks = 8;
constexpr std::size_t kPrefix = 5;  // u16 used length, u16 header offset, u8 in transit

// How long a closing link waits for the client to take the replies still in its ring.
constexpr std::int64_t kDrainBeforeCloseMs = 1000;

std::uint32_t rd32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
void wr32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }

bool read_exact(int fd, std::uint8_t* p, std::size_t n) {
  while (n > 0) {
    const ssize_t got = ::recv(fd, p, n, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

bool write_exact(int fd, const std::uint8_t* p, std::size_t n) {
  while (n > 0) {
    const ssize_t put = ::send(fd, p, n, MSG_NOSIGNAL);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    p += put;
    n -= static_cast<std::size_t>(put);
  }
  return true;
}

bool random_bytes(std::uint8_t* out, std::size_t n) {
  return RAND_bytes(out, static_cast<int>(n)) == 1;
}

}  // namespace

// One client link.
struct ShmLink {
  std::uint32_t number = 0;
  CommBlk block{};
  a_bit_signal* client_page = nullptr;  // counted mapping
  std::uint16_t client_slot = 0;
  c_strm_inter_event client_event{0, 0};
  a_sysv_semaphore own_sem{-1, 0};
  c_strm_procref* client = nullptr;
  std::uint32_t heap_id = 0;
  std::uint8_t* heap = nullptr;  // kBlocks blocks of kBlockBytes
  // Packets waiting for a block or ring room: outputs of the session, whole packets
  // each, in order; those of the first before unsent_at are already on their way.
  std::deque<std::string> unsent;
  std::size_t unsent_at = 0;
  std::vector<std::string> spare;  // storage of outputs sent, for the next ones
  std::thread thread;
  std::atomic<bool> done{false};

  CommQ* in() { return block.version == kShmStructV0 ? CommBlk_GetQ1(&block) : CommBlk64_GetQ1(&block); }
  CommQ* out() { return block.version == kShmStructV0 ? CommBlk_GetQ2(&block) : CommBlk64_GetQ2(&block); }

  void wake_client() {
    if (client_page == nullptr) return;
    client_page->flags[client_slot].store(1);
    client_page->summary.store(1);
    if (!client_event.IsNull()) sysv_signal_semaphore(&client_event);
  }
};

bool take_shm_option(std::vector<std::string>& args) {
  bool found = false;
  for (auto it = args.begin(); it != args.end();) {
    if (*it == "-shm") {
      found = true;
      it = args.erase(it);
    } else {
      ++it;
    }
  }
  return found;
}

ShmListener::ShmListener(const DatabaseConfig& cfg, RequestLog* log)
    : cfg_(cfg), log_(log), clients_(std::make_unique<c_strm_proctable>()) {}

ShmListener::~ShmListener() { stop(); }

bool ShmListener::start(const std::string& name, std::string& why) {
  name_ = name.substr(0, kResourceNameMax);
  if (name_.empty() || !vq::shm::IsSafeResourceName(name_.c_str())) {
    why = "shared memory: unusable server name " + name;
    return false;
  }
  // Segment files of this process may be removed again.
  SetSharedMemoryOpsAllowed(1);
  if (EngineIsAlive(name_.c_str())) {
    why = "shared memory: a server named " + name_ + " is already running";
    return false;
  }
  if (!CreateEngineResourceTree(name_.c_str()) || !SetEngineIsAlive(name_.c_str(), &lock_fd_)) {
    why = "shared memory: cannot claim the resource directory of " + name_;
    return false;
  }
  char path[kShmPathBytes];
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (!GetEngineSocketPath(name_.c_str(), path, sizeof path) ||
      std::strlen(path) >= sizeof addr.sun_path) {
    why = "shared memory: the rendezvous socket path is too long";
    stop();
    return false;
  }
  std::memcpy(addr.sun_path, path, std::strlen(path));
  ::unlink(path);
  listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  {
    vq::shm::TreeUmaskScope mask;
    if (listen_fd_ < 0 || ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listen_fd_, 64) != 0 || ::pipe2(stop_pipe_, O_CLOEXEC) != 0) {
      why = std::string("shared memory: cannot listen on ") + path + ": " + std::strerror(errno);
      stop();
      return false;
    }
  }
  char linked[kShmPathBytes];
  if (!StatEngineResourceTree(kDefaultServerName, linked, sizeof linked) &&
      LinkEngineResourceTree(kDefaultServerName, name_.c_str())) {
    made_default_link_ = true;
  }
  random_bytes(reinterpret_cast<std::uint8_t*>(&ref_id_), sizeof ref_id_);
  acceptor_ = std::thread([this] { accept_loop(); });
  return true;
}

void ShmListener::stop() {
  stopping_ = true;
  if (stop_pipe_[1] >= 0) {
    const char c = 's';
    const ssize_t n = ::write(stop_pipe_[1], &c, 1);
    (void)n;
  }
  if (acceptor_.joinable()) acceptor_.join();
  reap(true);
  for (int* fd : {&listen_fd_, &stop_pipe_[0], &stop_pipe_[1]}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
  if (name_.empty()) return;
  if (made_default_link_) {
    char linked[kShmPathBytes];
    if (StatEngineResourceTree(kDefaultServerName, linked, sizeof linked) && name_ == linked) {
      UnlinkEngineResourceTree(kDefaultServerName);
    }
    made_default_link_ = false;
  }
  if (lock_fd_ >= 0) {
    RemoveEngineResourceTree(name_.c_str());
    ::close(lock_fd_);
    lock_fd_ = -1;
  }
  name_.clear();
}

void ShmListener::accept_loop() {
  while (!stopping_) {
    pollfd p[2] = {{listen_fd_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
    const int n = ::poll(p, 2, 1000);
    reap(false);
    if (n < 0 && errno != EINTR) break;
    if (p[1].revents) break;
    if (!(p[0].revents & POLLIN)) continue;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    // A client that connects and sends nothing does not hold the listener.
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    rendezvous(fd);
    ::close(fd);
  }
}

void ShmListener::rendezvous(int fd) {
  std::uint8_t head[kReqHeader];
  if (!read_exact(fd, head, sizeof head)) return;
  const std::uint32_t data_len = rd32(head + 8), reply_len = rd32(head + 12), code = rd32(head + 16);
  auto refuse = [&](std::uint32_t status) {
    std::uint8_t r[kReplyHeader] = {};
    wr32(r, status);
    write_exact(fd, r, sizeof r);
  };
  const std::uint32_t want = code == kCode64 ? kRecord64Bytes : kRecordBytes;
  if ((code != kCode32 && code != kCode64) || data_len != want || reply_len != want) {
    refuse(kRefuseRequest);
    return;
  }
  std::uint8_t rec[kRecord64Bytes] = {};
  if (!read_exact(fd, rec, data_len)) return;
  if (code == kCode64 && rd32(rec + kRecordBytes) != 32) {
    refuse(kRefuseRequest);
    return;
  }
  std::uint16_t slot;
  std::memcpy(&slot, rec + kRecSlot, 2);
  c_strm_shm_mem signal_mem, commblk_mem;
  std::memcpy(&signal_mem, rec + kRecSignalMem, kDescBytes);
  std::memcpy(&commblk_mem, rec + kRecCommBlk, kDescBytes);
  if (slot >= kBitSignalSlots || signal_mem.IsNull() || commblk_mem.IsNull()) {
    refuse(kRefuseRequest);
    return;
  }

  auto link = std::make_unique<ShmLink>();
  const bool opened = code == kCode64 ? CommBlk64_Open(commblk_mem, &link->block)
                                      : CommBlk_Open(commblk_mem, &link->block);
  std::uint32_t page_bytes = 0;
  if (opened) link->client_page = static_cast<a_bit_signal*>(signal_mem.Map(&page_bytes));
  auto release_segments = [&] {
    if (link->client_page != nullptr) DetachFromSharedMem(link->client_page);
    link->client_page = nullptr;
    CommBlk_Close(&link->block);
  };
  if (!opened || link->client_page == nullptr || page_bytes < sizeof(a_bit_signal)) {
    release_segments();
    refuse(kRefuseSegments);
    return;
  }
  link->client_slot = slot;
  std::int32_t event_id;
  std::memcpy(&event_id, rec + kRecEventId, 4);
  link->client_event = {event_id, rd32(rec + kRecEventNum)};

  // The link's own resources: a semaphore to be woken on, and the block file of the
  // packets it sends.
  const std::uint32_t heap_bytes = kBlockBytes * kBlocks;
  if (sysv_open_semaphore(&link->own_sem, 0) == 0 ||
      (link->heap_id = CreateSharedEngineMemory(name_.c_str(), heap_bytes)) == 0 ||
      (link->heap = static_cast<std::uint8_t*>(
           AttachToSharedEngineMemoryO(name_.c_str(), link->heap_id, 0, heap_bytes, nullptr))) ==
          nullptr) {
    if (link->heap_id != 0) DeleteSharedEngineMemory(name_.c_str(), link->heap_id);
    if (link->own_sem.id > 0) sysv_close_semaphore(&link->own_sem);
    release_segments();
    refuse(kRefuseResources);
    return;
  }
  link->client = clients_->Locate(rd32(rec + kRecPid), rd32(rec + kRecRefId));

  // Our record: slot, event, signal page, pid, reference id. The page is the one this
  // link's client will flag; one per link keeps links apart without a scan.
  std::uint8_t reply[kReplyHeader + kRecord64Bytes] = {};
  wr32(reply + 8, reply_len);
  std::uint8_t* r = reply + kReplyHeader;
  const std::uint16_t own_slot = static_cast<std::uint16_t>(next_number_ % kBitSignalSlots);
  std::memcpy(r + kRecSlot, &own_slot, 2);
  std::memcpy(r + kRecEventId, &link->own_sem.id, 4);
  wr32(r + kRecEventNum, link->own_sem.number);
  c_strm_shm_mem own_page{};
  own_page.creator_pid = static_cast<std::uint32_t>(getpid());
  std::memcpy(own_page.segment_name, name_.data(), name_.size());
  own_page.segment_id = link->heap_id;  // the first page of the block file serves as page
  std::memcpy(r + kRecSignalMem, &own_page, kDescBytes);
  wr32(r + kRecPid, static_cast<std::uint32_t>(getpid()));
  wr32(r + kRecRefId, ref_id_);
  if (code == kCode64) wr32(r + kRecordBytes, 32);

  link->number = 10000 + next_number_++;
  if (!write_exact(fd, reply, kReplyHeader + reply_len)) {
    link->client->Release();
    DetachFromSharedEngineMemory(link->heap, heap_bytes);
    DeleteSharedEngineMemory(name_.c_str(), link->heap_id);
    sysv_close_semaphore(&link->own_sem);
    release_segments();
    return;
  }
  if (log_ != nullptr) log_->line(std::to_string(link->number) + " shared memory link");
  if (server_ != nullptr) server_->link_opened();
  ShmLink* raw = link.get();
  {
    std::lock_guard<std::mutex> hold(links_mu_);
    links_.push_back(std::move(link));
  }
  raw->thread = std::thread([this, raw] { serve_link(raw); });
}

void ShmListener::serve_link(ShmLink* link) {
  Session s(cfg_, link->number, [this](const std::string& l) { if (log_) log_->line(l); },
            random_bytes);
  s.set_local(true);
  // The server stops once the shutdown's reply is on its way to the client.
  bool shutdown_asked = false;
  s.set_shutdown_hook([&shutdown_asked] { shutdown_asked = true; });
  CommQ* in = link->in();
  CommQ* out = link->out();
  // Block 0 carries the signal page the client maps (its first 1032 bytes); packets use
  // blocks 1 and up.
  auto* page = reinterpret_cast<a_bit_signal*>(link->heap);
  page->version = 1;
  page->slots = kBitSignalSlots;

  // Monotonic time of the last packet from the client.
  std::int64_t last_recv_ms = monotonic_ms();
  std::uint64_t packets_in = 0;  // packets taken from the client
  auto receive = [&]() -> bool {
    a_strm_buff_ref ref;
    a_strm_buff_map_id id;
    for (;;) {
      const int rc = link->block.version == kShmStructV0 ? CommQ_Dequeue(in, &ref, &id)
                                                         : CommQ64_Dequeue(in, &ref, &id);
      if (rc == kCommQEmpty) return true;
      if (rc != kCommQStored && rc != kCommQWasFull) return false;
      if (rc == kCommQWasFull) link->wake_client();
      char owner[kShmNameBytes + 1];
      if (!vq::shm::CopySharedName(ref.segment_name, owner) || owner[0] == '\0') return false;
      auto* blk = static_cast<std::uint8_t*>(
          link->client->AttachSharedMem(owner, ref.segment_id, ref.block_offset, ref.block_size));
      if (blk == nullptr || ref.data_offset > ref.block_size ||
          ref.block_size - ref.data_offset < kPrefix) {
        return false;
      }
      std::uint8_t* d = blk + ref.data_offset;
      const std::uint32_t used = d[0] | (d[1] << 8), hdr = d[2] | (d[3] << 8);
      if (kPrefix + hdr + used > ref.block_size - ref.data_offset) return false;
      s.feed(d + kPrefix + hdr, used);
      ++packets_in;
      last_recv_ms = monotonic_ms();
      __atomic_store_n(d + 4, static_cast<std::uint8_t>(0), __ATOMIC_RELEASE);  // ours no more
    }
  };

  // While a statement runs, packets that arrive meanwhile (an attention) are taken.
  bool bad_reference = false;
  s.set_poll_hook([&] {
    if (!bad_reference && !receive()) bad_reference = true;
  });

  // Each packet goes into a free block and its reference into the ring. The client is
  // woken once a pass, after the last packet the pass could place, when the ring was
  // empty before any of them: it takes every packet in the ring when woken, so one
  // wake-up serves them all (a wake-up is a system call that sends another thread
  // running, dearer than the copy of a whole packet).
  const a_strm_buff_map_id own_id{static_cast<std::uint32_t>(getpid()), ref_id_};
  a_strm_buff_ref ref{};
  std::memcpy(ref.segment_name, name_.data(), name_.size());
  ref.segment_id = link->heap_id;
  ref.block_size = kBlockBytes;
  ref.data_offset = 0;
  auto send = [&]() -> bool {
    bool wake = false;
    bool ok = true;
    while (!link->unsent.empty()) {
      std::string& output = link->unsent.front();
      if (link->unsent_at >= output.size()) {
        if (link->spare.size() < 2) link->spare.push_back(std::move(output));
        link->unsent.pop_front();
        link->unsent_at = 0;
        continue;
      }
      const std::uint8_t* pk = reinterpret_cast<const std::uint8_t*>(output.data()) + link->unsent_at;
      const std::size_t len = (static_cast<std::size_t>(pk[2]) << 8) | pk[3];
      if (len + kPrefix > kBlockBytes) {
        ok = false;
        break;
      }
      std::uint32_t i = 1;
      for (; i < kBlocks; ++i) {
        if (__atomic_load_n(link->heap + i * kBlockBytes + 4, __ATOMIC_ACQUIRE) == 0) break;
      }
      if (i == kBlocks) break;  // every block is with the client: wait
      std::uint8_t* d = link->heap + i * kBlockBytes;
      d[0] = static_cast<std::uint8_t>(len & 0xFF);
      d[1] = static_cast<std::uint8_t>(len >> 8);
      d[2] = d[3] = 0;
      std::memcpy(d + kPrefix, pk, len);
      __atomic_store_n(d + 4, static_cast<std::uint8_t>(1), __ATOMIC_RELEASE);
      ref.block_offset = i * kBlockBytes;
      const int rc = link->block.version == kShmStructV0 ? CommQ_Enqueue(out, ref, own_id)
                                                         : CommQ64_Enqueue(out, ref, own_id);
      if (rc == kCommQFull) {
        __atomic_store_n(d + 4, static_cast<std::uint8_t>(0), __ATOMIC_RELEASE);
        break;  // the client wakes us when it takes from the full ring
      }
      if (rc != kCommQStored && rc != kCommQWasEmpty) {
        ok = false;
        break;
      }
      wake = wake || rc == kCommQWasEmpty;
      link->unsent_at += len;
    }
    if (wake) link->wake_client();
    return ok;
  };

  // The session's output waits in `unsent` for free blocks, as it came (no copy); a
  // packet whose header does not hold together ends what is sent of it.
  auto queue_output = [&] {
    std::string bytes;
    if (!link->spare.empty()) {
      bytes.swap(link->spare.back());
      link->spare.pop_back();
    }
    s.take_output(bytes);
    std::size_t whole = 0;
    while (whole + 4 <= bytes.size()) {
      const std::size_t len = (static_cast<std::uint8_t>(bytes[whole + 2]) << 8) |
                              static_cast<std::uint8_t>(bytes[whole + 3]);
      if (len < 4 || whole + len > bytes.size()) break;
      whole += len;
    }
    bytes.resize(whole);
    if (bytes.empty()) {
      if (link->spare.size() < 2) link->spare.push_back(std::move(bytes));
      return;
    }
    link->unsent.push_back(std::move(bytes));
  };

  // A file transfer to the client sends its request at once and waits (a minute at
  // most) for the client's answer, which comes as packets of its own.
  s.set_flush_hook([&] {
    queue_output();
    if (!send()) bad_reference = true;
  });
  s.set_wait_hook([&] {
    const std::uint64_t before = packets_in;
    const std::int64_t until = monotonic_ms() + 60000;
    while (!bad_reference && !CommBlk_IsClosed(link->block) && monotonic_ms() < until) {
      if (!send() || !receive()) {
        bad_reference = true;
        break;
      }
      if (packets_in != before) return true;
      sysv_timed_waiton_semaphore(reinterpret_cast<c_strm_inter_event*>(&link->own_sem), 200);
    }
    return false;
  });

  bool ok = true;
  while (ok && !stopping_) {
    sysv_timed_waiton_semaphore(reinterpret_cast<c_strm_inter_event*>(&link->own_sem), 200);
    const bool client_closed = CommBlk_IsClosed(link->block);
    ok = !bad_reference && receive();
    if (!ok) {
      if (log_) log_->line(std::to_string(link->number) + " closed: bad buffer reference");
      break;
    }
    // A client that agreed on a liveness time-out sends at least a liveness packet
    // within it; one silent for longer is gone, and its link is closed. Packets that
    // waited in the ring while a reply took longer were taken just above.
    const unsigned liveness_s = s.agreement().liveness;
    if (!client_closed && liveness_s != 0 &&
        monotonic_ms() - last_recv_ms >= static_cast<std::int64_t>(liveness_s) * 1000) {
      s.liveness_timed_out(liveness_s);
      break;
    }
    s.run();
    queue_output();
    ok = !bad_reference && send();
    if (shutdown_asked && server_ != nullptr) {
      shutdown_asked = false;
      server_->stop();
    }
    if (client_closed) {
      s.peer_closed();
      break;
    }
    if (s.closed() && link->unsent.empty()) break;
  }
  // A client that finds the link closed reads nothing more from it, so the last replies
  // (a shutdown's among them) must be taken before we close: wait, a little at a time
  // and for a second at most, until the client has emptied its ring or closed its side.
  const std::int64_t drain_until = monotonic_ms() + kDrainBeforeCloseMs;
  while (CommQ_HasEntry(out) && !CommBlk_IsClosed(link->block) &&
         monotonic_ms() < drain_until) {
    sysv_timed_waiton_semaphore(reinterpret_cast<c_strm_inter_event*>(&link->own_sem), 10);
  }
  // Our side of the link ends: the client sees closed and is woken.
  CommBlk_SetClosed(&link->block);
  link->wake_client();
  if (server_ != nullptr) server_->link_closed();
  link->done = true;
}

void ShmListener::reap(bool all) {
  std::list<std::unique_ptr<ShmLink>> finished;
  {
    std::lock_guard<std::mutex> hold(links_mu_);
    for (auto it = links_.begin(); it != links_.end();) {
      if (all || (*it)->done) {
        finished.push_back(std::move(*it));
        it = links_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& link : finished) {
    if (link->own_sem.id > 0) sysv_signal_semaphore(reinterpret_cast<c_strm_inter_event*>(&link->own_sem));
    if (link->thread.joinable()) link->thread.join();
    link->client->Release();
    DetachFromSharedEngineMemory(link->heap, kBlockBytes * kBlocks);
    DeleteSharedEngineMemory(name_.c_str(), link->heap_id);
    sysv_close_semaphore(&link->own_sem);
    if (link->client_page != nullptr) DetachFromSharedMem(link->client_page);
    CommBlk_Close(&link->block);
  }
}

}  // namespace vqeng
