// The rendezvous exchange over the local server's Unix-domain socket.
#include "streams/shm/rendezvous.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "streams/host_functions.h"
#include "streams/shm/resource_tree.h"
#include "utils/base/md5.h"

namespace {

constexpr std::uint32_t kMsgConnectRequestFailed = 25179;
constexpr std::uint32_t kMsgCallFailed = 25180;
constexpr std::uint32_t kDefaultInitTimeoutSeconds = 30;
constexpr std::size_t kHashNameMin = 32;  // names this long are retried under their hash

std::atomic<std::int64_t> g_test_timeout_ms{0};

// RDV_CSect: one exchange at a time in the process. A waiter gives up at its deadline,
// so a stuck exchange cannot hold the others longer than their own time-out.
class RdvGate {
 public:
  bool enter(RdvClock::time_point deadline) {
    std::unique_lock<std::mutex> hold(mutex_);
    if (!cv_.wait_until(hold, deadline, [this] { return !busy_; })) return false;
    busy_ = true;
    return true;
  }
  void leave() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      busy_ = false;
    }
    cv_.notify_one();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool busy_ = false;
};

RdvGate& Gate() {
  static RdvGate gate;
  return gate;
}

class GateHold {
 public:
  explicit GateHold(bool entered) : entered_(entered) {}
  ~GateHold() {
    if (entered_) Gate().leave();
  }
  GateHold(const GateHold&) = delete;
  GateHold& operator=(const GateHold&) = delete;

 private:
  bool entered_;
};

class SocketFd {
 public:
  SocketFd() = default;
  ~SocketFd() { reset(); }
  SocketFd(const SocketFd&) = delete;
  SocketFd& operator=(const SocketFd&) = delete;
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int get() const { return fd_; }

 private:
  int fd_ = -1;
};

// Sets both socket time-outs to what is left until the deadline; false when nothing is.
bool ArmTimeouts(int fd, RdvClock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - RdvClock::now());
  if (left.count() <= 0) return false;
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(left.count() / 1000000);
  tv.tv_usec = static_cast<suseconds_t>(left.count() % 1000000);
  if (tv.tv_sec == 0 && tv.tv_usec == 0) tv.tv_usec = 1;  // 0 would mean no limit
  return setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0 &&
         setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

bool SendAll(int fd, const std::uint8_t* data, std::size_t len, RdvClock::time_point deadline) {
  while (len > 0) {
    if (!ArmTimeouts(fd, deadline)) return false;
    const ssize_t n = ::send(fd, data, len, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    len -= static_cast<std::size_t>(n);
  }
  return true;
}

// Exactly `len` bytes; false on an error, the end of the stream or the deadline.
bool RecvAll(int fd, std::uint8_t* data, std::size_t len, RdvClock::time_point deadline) {
  while (len > 0) {
    if (!ArmTimeouts(fd, deadline)) return false;
    const ssize_t n = ::recv(fd, data, len, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    len -= static_cast<std::size_t>(n);
  }
  return true;
}

// Message 25180: the call and its errno, both as text.
void CallFailed(char* err, std::uint32_t err_len, const char* call, int error) {
  char number[16];
  snprintf(number, sizeof number, "%d", error);
  vq::strm::FormatMsg(err, err_len, kMsgCallFailed, call, number);
}

void StoreU32(std::uint8_t* at, std::uint32_t v) { std::memcpy(at, &v, 4); }
std::uint32_t LoadU32(const std::uint8_t* at) {
  std::uint32_t v;
  std::memcpy(&v, at, 4);
  return v;
}

}  // namespace

namespace vq::shm {

std::chrono::milliseconds RendezvousTimeout() {
  const std::int64_t test_ms = g_test_timeout_ms.load(std::memory_order_relaxed);
  if (test_ms > 0) return std::chrono::milliseconds(test_ms);
  std::uint32_t seconds = kDefaultInitTimeoutSeconds;
  const char* text = getenv("VC_INIT_CONN_TIMEOUT");
  if (text != nullptr && strnlen(text, 151) <= 150) {
    char* end = nullptr;
    errno = 0;
    const unsigned long v = strtoul(text, &end, 10);
    if (end != text && errno == 0 && v > seconds && v <= UINT32_MAX) {
      seconds = static_cast<std::uint32_t>(v);
    }
  }
  return std::chrono::seconds(seconds);
}

namespace testing {
void SetRendezvousTimeout(std::chrono::milliseconds limit) {
  g_test_timeout_ms.store(limit.count(), std::memory_order_relaxed);
}
}  // namespace testing

}  // namespace vq::shm

void StrmInit_RDV() {}
void StrmFini_RDV() {}

extern "C" void StrmGetEngineNameHash(const char* name, char* out, unsigned int out_size) {
  if (name == nullptr || out == nullptr || out_size < 32) return;
  std::memset(out, 0, out_size);
  md5_state_t state;
  unsigned char digest[16];
  md5_init(&state);
  md5_append(&state, reinterpret_cast<const unsigned char*>(name),
             static_cast<int>(strnlen(name, 0x7FFFFFFF)));
  md5_finish(&state, digest);
  static const char kHex[] = "0123456789abcdef";
  for (int i = 0; i < 16; ++i) {
    out[2 * i] = kHex[digest[i] >> 4];
    out[2 * i + 1] = kHex[digest[i] & 15];
  }
}

int ExchangeRdvRequest(const char* name, std::uint32_t word0, const void* data,
                       std::uint32_t data_length, void* reply, std::uint32_t reply_length,
                       std::uint32_t request_code, char* err, std::uint32_t err_len,
                       RdvClock::time_point deadline) {
  if (name == nullptr) return kRdvNoName;
  GateHold gate(Gate().enter(deadline));
  // Waiting for another exchange used up the time: nothing answered for us either.
  if (RdvClock::now() >= deadline) return kRdvRecvFailed;

  char path[kShmPathBytes];
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  // A path the address cannot hold whole is refused: a cut path could name another
  // socket.
  if (!GetEngineSocketPath(name, path, sizeof path) || strlen(path) >= sizeof addr.sun_path) {
    CallFailed(err, err_len, "connect", ENAMETOOLONG);
    return kRdvConnectRefused;
  }
  const std::size_t path_len = strlen(path);
  std::memcpy(addr.sun_path, path, path_len);
  const socklen_t addr_len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path_len);

  SocketFd sock;
  for (;;) {
    sock.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (sock.get() < 0) {
      CallFailed(err, err_len, "socket", errno);
      return kRdvNoSocket;
    }
    // The send time-out also bounds a connect that waits for room in the backlog.
    if (!ArmTimeouts(sock.get(), deadline)) return kRdvConnectRefused;
    if (::connect(sock.get(), reinterpret_cast<const sockaddr*>(&addr), addr_len) == 0) break;
    if (errno != EINTR) return kRdvConnectRefused;
  }

  std::uint8_t* request =
      static_cast<std::uint8_t*>(malloc(kRdvRequestHeaderBytes + std::size_t{data_length}));
  if (request == nullptr) return kRdvSendFailed;
  StoreU32(request + 0, word0);
  StoreU32(request + 4, static_cast<std::uint32_t>(getpid()));
  StoreU32(request + 8, data_length);
  StoreU32(request + 12, reply != nullptr ? reply_length : 0);
  StoreU32(request + 16, request_code);
  if (data_length != 0) std::memcpy(request + kRdvRequestHeaderBytes, data, data_length);
  const bool sent = SendAll(sock.get(), request, kRdvRequestHeaderBytes + data_length, deadline);
  free(request);
  if (!sent) return kRdvSendFailed;
  if (reply == nullptr) return kRdvOk;

  std::uint8_t head[kRdvReplyHeaderBytes];
  if (!RecvAll(sock.get(), head, sizeof head, deadline)) return kRdvRecvFailed;
  const std::uint32_t status = LoadU32(head + 0);
  if (status != 0) return static_cast<int>(status);
  if (reply_length == 0) return kRdvOk;
  if (LoadU32(head + 8) != reply_length) return kRdvReplyLength;
  if (!RecvAll(sock.get(), static_cast<std::uint8_t*>(reply), reply_length, deadline)) {
    return kRdvRecvFailed;
  }
  return kRdvOk;
}

int SendConnectRequest(const char* name, const a_ptshm_connect& request, a_ptshm_connect* reply,
                       std::uint32_t version, char* err, std::uint32_t err_len,
                       RdvClock::time_point deadline) {
  int result = kRdvBadVersion;
  if (version == kShmStructV0) {
    result = ExchangeRdvRequest(name, 0, &request, sizeof request, reply, sizeof *reply,
                                kRdvConnect32, err, err_len, deadline);
  } else if (version == kShmStructV1) {
    a_ptshm_connect64 wide{};
    wide.record = request;
    wide.client_bits = kClientBits;
    a_ptshm_connect64 answer{};
    result = ExchangeRdvRequest(name, 0, &wide, sizeof wide, &answer, sizeof answer,
                                kRdvConnect64, err, err_len, deadline);
    if (result == kRdvOk) *reply = answer.record;
  }
  if (result == kRdvBadVersion) vq::strm::FormatMsg(err, err_len, kMsgConnectRequestFailed);
  return result;
}

int Ptshm_Connect(const char* name, const a_ptshm_connect& request, a_ptshm_connect* reply,
                  std::uint32_t version, char* err, std::uint32_t err_len,
                  RdvClock::time_point deadline) {
  if (SendConnectRequest(name, request, reply, version, err, err_len, deadline) == kRdvOk) {
    return 1;
  }
  if (name == nullptr || strlen(name) < kHashNameMin) return 7;
  char hashed[kHashNameMin + 1];
  StrmGetEngineNameHash(name, hashed, sizeof hashed);
  return SendConnectRequest(hashed, request, reply, version, err, err_len, deadline) == kRdvOk
             ? 1
             : 7;
}

int Ptshm_QueryConnect(const char* name) {
  if (EngineIsAlive(name)) return 1;
  if (name == nullptr || strlen(name) < kHashNameMin) return 0;
  char hashed[kHashNameMin + 1];
  StrmGetEngineNameHash(name, hashed, sizeof hashed);
  return EngineIsAlive(hashed) ? 1 : 0;
}
