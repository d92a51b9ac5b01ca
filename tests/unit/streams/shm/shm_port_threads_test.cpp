// The port's rendezvous against a scripted peer on a thread: it listens on a server's
// "rdv_socket", records every request and refuses it, answers with a wrong length, or
// never answers.
#include "streams/shm/shm_port.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "shm_link_support.h"

namespace {

using vq::shm::test::ClientStack;
using vq::shm::test::DirEntries;
using vq::shm::test::ScopedCatalog;
using vq::shm::test::ScopedShmRoot;
using Clock = std::chrono::steady_clock;

struct Request {
  std::uint32_t word0, sender_pid, data_length, reply_length, code;
  std::string data;
};

class FakeRdvPeer {
 public:
  enum class Mode { Refuse, WrongLength, Silent };

  FakeRdvPeer(const std::string& dir, Mode mode) : mode_(mode) {
    mkdir(dir.c_str(), 0700);
    path_ = dir + "/rdv_socket";
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path_.c_str());
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ok_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
          listen(fd_, 8) == 0 && pipe(stop_) == 0;
    if (ok_) thread_ = std::thread([this] { Run(); });
  }
  ~FakeRdvPeer() {
    if (thread_.joinable()) {
      const char c = 's';
      (void)!write(stop_[1], &c, 1);
      thread_.join();
    }
    for (int fd : held_) close(fd);
    for (int fd : {fd_, stop_[0], stop_[1]}) {
      if (fd >= 0) close(fd);
    }
    unlink(path_.c_str());
  }
  FakeRdvPeer(const FakeRdvPeer&) = delete;
  FakeRdvPeer& operator=(const FakeRdvPeer&) = delete;

  bool ok() const { return ok_; }
  std::vector<Request> requests() {
    std::lock_guard<std::mutex> hold(mutex_);
    return requests_;
  }

 private:
  static bool ReadAll(int fd, void* p, std::size_t n) {
    auto* b = static_cast<char*>(p);
    while (n > 0) {
      const ssize_t got = recv(fd, b, n, 0);
      if (got <= 0) return false;
      b += got;
      n -= static_cast<std::size_t>(got);
    }
    return true;
  }
  void Run() {
    for (;;) {
      pollfd p[2] = {{fd_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
      if (poll(p, 2, 5000) <= 0 || p[1].revents != 0) return;
      const int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      std::uint32_t h[5];
      Request r{};
      if (ReadAll(c, h, sizeof h) && h[2] <= 4096) {
        r = {h[0], h[1], h[2], h[3], h[4], std::string(h[2], '\0')};
        if (ReadAll(c, &r.data[0], h[2])) {
          std::lock_guard<std::mutex> hold(mutex_);
          requests_.push_back(r);
        }
      }
      if (mode_ == Mode::Silent) {
        held_.push_back(c);  // accepted, read, never answered
        continue;
      }
      std::uint32_t reply[4] = {mode_ == Mode::Refuse ? 77u : 0u, 0, r.reply_length + 4, 0};
      (void)!send(c, reply, sizeof reply, MSG_NOSIGNAL);
      close(c);
    }
  }

  Mode mode_;
  std::string path_;
  int fd_ = -1;
  int stop_[2] = {-1, -1};
  bool ok_ = false;
  std::thread thread_;
  std::vector<int> held_;
  std::mutex mutex_;
  std::vector<Request> requests_;
};

class ShmPortRendezvous : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(catalog_.ok());
    ASSERT_EQ(stack_.init_result(), STRM_OK);
    vq::shm::testing::SetRendezvousTimeout(std::chrono::milliseconds(3000));
  }
  void TearDown() override { vq::shm::testing::SetRendezvousTimeout({}); }

  an_int_strm_error Connect(const char* name, std::string* err_out = nullptr) {
    c_strm_pconn* conn = nullptr;
    c_strm_conn_notifier* note = nullptr;
    char err[256] = {};
    const an_int_strm_error rc =
        stack_.port().connect(name, &conn, nullptr, nullptr, 0, &note, err, sizeof err, nullptr);
    EXPECT_EQ(conn, nullptr);
    EXPECT_EQ(note, nullptr);
    if (err_out != nullptr) *err_out = err;
    return rc;
  }

  ScopedCatalog catalog_;
  ScopedShmRoot root_;
  ClientStack stack_;
};

template <typename T>
T At(const std::string& data, std::size_t offset) {
  T v;
  std::memcpy(&v, data.data() + offset, sizeof v);
  return v;
}

// A refused 64-bit request is sent again with 32-bit structures. Both records are
// checked field by field at their exact sizes; each try makes and removes its own comm
// block.
TEST_F(ShmPortRendezvous, SixtyFourBitTryThenThirtyTwoBitTry) {
  FakeRdvPeer peer(root_.dir("srv"), FakeRdvPeer::Mode::Refuse);
  ASSERT_TRUE(peer.ok());
  const std::string shmem = root_.dir(StrmCurSharedEngineAppName(), "shmem");
  const auto before = DirEntries(shmem);
  EXPECT_EQ(Connect("srv"), STRM_NO_SERVER);

  const auto reqs = peer.requests();
  ASSERT_EQ(reqs.size(), 2u);
  struct Expect {
    std::uint32_t code, bytes;
  };
  const Expect expect[] = {{kRdvConnect64, 176}, {kRdvConnect32, 172}};
  std::uint32_t block_ids[2] = {};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    const Request& r = reqs[i];
    EXPECT_EQ(r.word0, 0u);
    EXPECT_EQ(r.sender_pid, static_cast<std::uint32_t>(getpid()));
    EXPECT_EQ(r.code, expect[i].code);
    EXPECT_EQ(r.data_length, expect[i].bytes);
    EXPECT_EQ(r.reply_length, expect[i].bytes);
    ASSERT_EQ(r.data.size(), expect[i].bytes);
    EXPECT_EQ(At<std::uint16_t>(r.data, 0), 172u) << "record_length";
    EXPECT_EQ(At<std::uint16_t>(r.data, 2), 0u) << "the first slot of the first page";
    EXPECT_GT(At<std::int32_t>(r.data, 4), 0) << "the notifier's semaphore";
    EXPECT_EQ(r.data.substr(12, 8), std::string(8, '\0')) << "reserved";
    c_strm_shm_mem page{};
    std::memcpy(&page, r.data.data() + 20, sizeof page);
    EXPECT_EQ(page.creator_pid, static_cast<std::uint32_t>(getpid()));
    EXPECT_STREQ(page.segment_name, StrmCurSharedEngineAppName());
    EXPECT_NE(page.segment_id, 0u);
    EXPECT_EQ(At<std::uint32_t>(r.data, 92), Shmem_GetClientUniquePid());
    EXPECT_EQ(At<std::uint32_t>(r.data, 96), stack_.port().ref_id());
    c_strm_shm_mem block{};
    std::memcpy(&block, r.data.data() + 100, sizeof block);
    EXPECT_STREQ(block.segment_name, StrmCurSharedEngineAppName());
    block_ids[i] = block.segment_id;
    if (expect[i].bytes == 176) {
      EXPECT_EQ(At<std::uint32_t>(r.data, 172), 32u) << "client_bits";
    }
  }
  EXPECT_NE(block_ids[0], block_ids[1]) << "each try has its own comm block";
  EXPECT_EQ(DirEntries(shmem), before) << "both comm blocks are gone";
}

// Names of 32 characters or more are tried again under their hash; shorter ones not.
TEST_F(ShmPortRendezvous, LongNamesAreRetriedUnderTheirHash) {
  struct Case {
    std::size_t length;
    std::size_t requests_at_hash;
  };
  for (const Case& c : {Case{31, 0}, Case{32, 2}, Case{40, 2}}) {
    SCOPED_TRACE(c.length);
    const std::string name(c.length, 'q');
    char hash[33];
    StrmGetEngineNameHash(name.c_str(), hash, sizeof hash);
    hash[31] = '\0';  // directory names are cut to 31 characters
    FakeRdvPeer peer(root_.dir(hash), FakeRdvPeer::Mode::Refuse);
    ASSERT_TRUE(peer.ok());
    EXPECT_EQ(Connect(name.c_str()), STRM_NO_SERVER);
    EXPECT_EQ(peer.requests().size(), c.requests_at_hash);
  }
}

TEST_F(ShmPortRendezvous, ReplyOfAnotherLengthIsRefused) {
  FakeRdvPeer peer(root_.dir("srv"), FakeRdvPeer::Mode::WrongLength);
  ASSERT_TRUE(peer.ok());
  a_ptshm_connect request{};
  a_ptshm_connect reply{};
  char err[256] = {};
  const auto deadline = RdvClock::now() + std::chrono::seconds(3);
  EXPECT_EQ(ExchangeRdvRequest("srv", 0, &request, sizeof request, &reply, sizeof reply,
                               kRdvConnect32, err, sizeof err, deadline),
            kRdvReplyLength);
  EXPECT_EQ(Ptshm_Connect("srv", request, &reply, kShmStructV0, err, sizeof err, deadline), 7);
  EXPECT_EQ(Connect("srv"), STRM_NO_SERVER);
}

// A server that accepts and never answers: the connect ends at the initial connect
// time-out (both structure versions share it), and another thread's exchange, waiting
// meanwhile, is not held past its own time-out.
TEST_F(ShmPortRendezvous, SilentServerCannotHangTheProcess) {
  const auto limit = std::chrono::milliseconds(400);
  vq::shm::testing::SetRendezvousTimeout(limit);
  FakeRdvPeer peer(root_.dir("mute"), FakeRdvPeer::Mode::Silent);
  ASSERT_TRUE(peer.ok());

  Clock::duration other_took{};
  int other_result = -1;
  const Clock::time_point start = Clock::now();
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const Clock::time_point t0 = Clock::now();
    a_ptshm_connect request{};
    a_ptshm_connect reply{};
    char err[256] = {};
    other_result = ExchangeRdvRequest("elsewhere", 0, &request, sizeof request, &reply,
                                      sizeof reply, kRdvConnect32, err, sizeof err,
                                      RdvClock::now() + limit);
    other_took = Clock::now() - t0;
  });
  EXPECT_EQ(Connect("mute"), STRM_NO_SERVER);
  const Clock::duration took = Clock::now() - start;
  other.join();

  EXPECT_GE(peer.requests().size(), 1u) << "the request reached the server";
  // Bounds, not speeds: each wait ends at its own deadline, well before twice it.
  EXPECT_LT(took, 2 * limit);
  EXPECT_NE(other_result, kRdvOk);
  EXPECT_LT(other_took, 2 * limit);
}

}  // namespace
