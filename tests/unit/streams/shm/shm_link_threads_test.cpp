// The shared-memory link end to end against the stand-in server vqeng12, started with
// -shm under the test's own VCTMP: connect, packets both ways through a transport
// connection, a full ring, the server's closed flag, the server killed, a second page of
// wake-up slots, and a clean resource tree and semaphore list afterwards.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/sem.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "script_client.h"
#include "shm_link_support.h"

namespace {

using vq::shm::test::ClientStack;
using vq::shm::test::DirEntries;
using vq::shm::test::Packet;
using vq::shm::test::RecordingUpcalls;
using vq::shm::test::ScopedShmRoot;
using vq::testing::TestConnNotifier;

constexpr char kServer[] = "shmsrv";

// vqeng12 serving shared memory under the VCTMP of the test.
class ServerProcess {
 public:
  // `option` (one argument, or null) is added to the command line.
  bool Start(const char* option = nullptr) {
    int hs[2];
    if (pipe(hs) != 0) return false;
    pid_ = fork();
    if (pid_ == 0) {
      close(hs[0]);
      const std::string fd = std::to_string(hs[1]);
      execl(VQENG12_PATH, VQENG12_PATH, "-shm", "-n", kServer, "-x", "tcpip(port=0)", "-hn",
            fd.c_str(), option, static_cast<char*>(nullptr));
      _exit(127);
    }
    close(hs[1]);
    std::uint16_t status = 0xFFFF;
    const bool ready = pid_ > 0 && read(hs[0], &status, 2) == 2 && status == 0;
    close(hs[0]);
    return ready;
  }
  // Signals the server and waits (at most ten seconds) for its end.
  bool Stop(int signal_number) {
    if (pid_ <= 0) return true;
    kill(pid_, signal_number);
    for (int i = 0; i < 1000; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = 0;
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
    return false;
  }
  ~ServerProcess() { Stop(SIGTERM); }
  pid_t pid() const { return pid_; }
  // Stops the server and waits (at most five seconds) until every thread of it is
  // stopped: the signal itself is delivered asynchronously.
  bool Pause() {
    if (kill(pid_, SIGSTOP) != 0) return false;
    const std::string tasks = "/proc/" + std::to_string(pid_) + "/task";
    for (int i = 0; i < 500; ++i) {
      bool all = true;
      for (const std::string& t : DirEntries(tasks)) {
        std::ifstream stat(tasks + "/" + t + "/stat");
        std::string line;
        std::getline(stat, line);
        const std::size_t close = line.rfind(')');
        if (close == std::string::npos || close + 2 >= line.size() ||
            (line[close + 2] != 'T' && line[close + 2] != 't')) {
          all = false;
        }
      }
      if (all) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

 private:
  pid_t pid_ = 0;
};

// One client link with a transport connection and a recording session above it.
struct ClientLink {
  c_strm_shm_conn* conn = nullptr;  // owned by tconn
  TestConnNotifier* note = nullptr;
  std::unique_ptr<c_strm_tconn> tconn;

  ~ClientLink() {
    tconn.reset();
    if (note != nullptr) note->release();
  }
  // Runs receive passes as the host's blocked thread would until `done` holds (at most
  // ten seconds).
  bool RunUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 100 && !done(); ++i) {
      note->block(1);
      conn->conn_execute(1, 1);
    }
    return done();
  }
};

class ShmLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(stack_->init_result(), STRM_OK);
    Shmem_SetClientUniquePid(static_cast<std::uint32_t>(getpid()));
    ASSERT_TRUE(server_.Start());
  }
  void TearDown() override {
    links_.clear();
    server_.Stop(SIGTERM);
  }

  ClientLink* Connect(const char* name) {
    auto link = std::make_unique<ClientLink>();
    c_strm_pconn* pconn = nullptr;
    c_strm_conn_notifier* note = nullptr;
    char err[256] = {};
    const an_int_strm_error rc = stack_->port().connect(name, &pconn, nullptr, nullptr, 0,
                                                        &note, err, sizeof err, nullptr);
    EXPECT_EQ(rc, STRM_OK) << err;
    if (rc != STRM_OK) return nullptr;
    link->conn = static_cast<c_strm_shm_conn*>(pconn);
    link->note = static_cast<TestConnNotifier*>(note);
    link->note->get_event();  // the host waits on the event the server signals
    link->tconn = std::make_unique<c_strm_tconn>(nullptr, pconn, nullptr);
    link->tconn->set_sconn(&upcalls_);
    link->conn->set_tconn(link->tconn.get());
    links_.push_back(std::move(link));
    return links_.back().get();
  }

  static bool SemaphoreGone(const c_strm_inter_event& e) {
    return semctl(e.id, 0, GETVAL) == -1 && (errno == EINVAL || errno == EIDRM);
  }

  ScopedShmRoot root_;
  std::unique_ptr<ClientStack> stack_ = std::make_unique<ClientStack>();
  RecordingUpcalls upcalls_{stack_->pool()};
  ServerProcess server_;
  std::vector<std::unique_ptr<ClientLink>> links_;
};

std::string AppConnectRecord() {
  std::string r(312, '\0');
  auto put16 = [&](std::size_t at, unsigned v) {
    r[at] = static_cast<char>(v & 0xFF);
    r[at + 1] = static_cast<char>(v >> 8);
  };
  put16(0, 312);
  r[2] = 2;
  r[6] = 12;
  put16(20, 15);    // minor version
  put16(22, 2000);  // packet size: the test's buffers hold 2048
  r[24] = 0x02;
  r[25] = 0x03;
  put16(32, 0x0A06);
  std::memcpy(&r[44], "UTF-8", 5);
  std::memcpy(&r[75], "en", 2);
  std::memcpy(&r[261], "UTF-8", 5);
  return r;
}

TEST_F(ShmLinkTest, ConnectExchangeFullRingAndTheServersClose) {
  const std::string shmem = root_.dir(StrmCurSharedEngineAppName(), "shmem");
  const auto files_before = DirEntries(shmem);
  ClientLink* link = Connect(kServer);
  ASSERT_NE(link, nullptr);
  EXPECT_STREQ(link->conn->server_name, kServer);
  EXPECT_EQ(link->conn->pconn_flags & c_strm_shm_conn::kDefaultServer, 0u);
  EXPECT_EQ(DirEntries(shmem), files_before) << "the comm block's file is gone after the connect";
  EXPECT_TRUE(link->conn->isAlive());

  // The application-connect packet goes out through the transport connection (which
  // scrambles it) and the server's reply comes back the same way.
  std::vector<c_strm_buffer*> held;
  c_strm_buffer* hello = stack_->Buffer(Packet(25, 0x21, std::string(1, '\0') + AppConnectRecord()));
  ASSERT_NE(hello, nullptr);
  held.push_back(hello);
  ASSERT_EQ(link->tconn->put(hello), STRM_OK);
  ASSERT_TRUE(link->RunUntil([&] { return !upcalls_.packets().empty(); }));
  const std::string reply = upcalls_.packets()[0];
  ASSERT_GE(reply.size(), 4u + 1 + 312);
  EXPECT_EQ(static_cast<std::uint8_t>(reply[0]), 25);
  EXPECT_EQ(reply.size(), (static_cast<std::uint8_t>(reply[2]) << 8 | static_cast<std::uint8_t>(reply[3])));

  // A database connect and a statement, as whole messages of data packets: the
  // server's session runs them and answers over the link.
  const std::string random = reply.substr(4 + 1 + 178, 32);
  auto request = [&](const std::string& items) {
    const std::size_t before = upcalls_.packets().size();
    c_strm_buffer* b = stack_->Buffer(script::packet(24, 1, items));
    held.push_back(b);
    EXPECT_EQ(link->tconn->put(b), STRM_OK);
    std::string body;
    EXPECT_TRUE(link->RunUntil([&] {
      const auto got = upcalls_.packets();
      for (std::size_t i = before; i < got.size(); ++i) {
        if ((static_cast<std::uint8_t>(got[i][1]) & 1) != 0) return true;
      }
      return false;
    }));
    const auto got = upcalls_.packets();
    for (std::size_t i = before; i < got.size(); ++i) body += got[i].substr(4);
    std::vector<script::ReplyItem> parsed;
    EXPECT_TRUE(script::parse_items(body, parsed));
    return parsed;
  };
  const auto connected = request(
      script::item(16, "UID=DBA;CON=shm") + script::item(133, script::u32le(0)) +
      script::item(20, script::encipher("PWD=sql", reinterpret_cast<const std::uint8_t*>(random.data()))));
  ASSERT_FALSE(connected.empty());
  EXPECT_EQ(connected[0].code, 133);
  const auto created = request(script::item(25, "CREATE TABLE over_shm(v INTEGER)"));
  ASSERT_GE(created.size(), 3u);
  EXPECT_EQ(created[2].code, 66);

  // With the server stopped, four data packets fill the ring and a fifth is parked; once
  // the server runs again it takes them and the parked one follows.
  ASSERT_TRUE(server_.Pause());
  for (int i = 0; i < 5; ++i) {
    c_strm_buffer* b = stack_->Buffer(Packet(24, 0, std::string(8, static_cast<char>('a' + i))));
    ASSERT_NE(b, nullptr);
    held.push_back(b);
    EXPECT_EQ(link->tconn->put(b), i < 4 ? STRM_OK : STRM_QUEUED) << i;
  }
  ASSERT_EQ(kill(server_.pid(), SIGCONT), 0);
  ASSERT_TRUE(link->RunUntil([&] { return !upcalls_.completed().empty(); }));
  EXPECT_EQ(upcalls_.completed()[0], held.back());

  // The server ends: it closes the link and wakes the client, whose next pass reports
  // the loss to the transport connection.
  const c_strm_inter_event server_event = link->conn->peer_event();
  ASSERT_TRUE(server_.Stop(SIGTERM));
  ASSERT_TRUE(link->RunUntil([&] { return !upcalls_.errors().empty(); }));
  EXPECT_EQ(upcalls_.errors()[0], 0u);
  EXPECT_EQ(link->conn->start_receive(), 8);
  EXPECT_TRUE(SemaphoreGone(server_event));
  EXPECT_TRUE(DirEntries(root_.dir(kServer)).empty()) << "the server removed its directory";

  for (c_strm_buffer* b : held) stack_->pool()->done_buffer(b);
  const c_strm_inter_event own = c_strm_inter_event::From(link->note->semaphore());
  links_.clear();
  stack_.reset();
  StrmReleaseSharedEngineAppName();
  EXPECT_TRUE(DirEntries(root_.path()).empty()) << "nothing is left in the resource tree";
  EXPECT_TRUE(SemaphoreGone(own));
}

// A client silent past the liveness time-out it agreed on loses its link; one that sends
// liveness packets keeps it.
TEST_F(ShmLinkTest, ASilentClientIsDroppedAfterTheLivenessTimeOut) {
  ASSERT_TRUE(server_.Stop(SIGTERM));
  ASSERT_TRUE(server_.Start("--liveness=1"));
  std::vector<c_strm_buffer*> held;
  auto put = [&](ClientLink* link, const std::string& packet) {
    c_strm_buffer* b = stack_->Buffer(packet);
    ASSERT_NE(b, nullptr);
    held.push_back(b);
    EXPECT_EQ(link->tconn->put(b), STRM_OK);
  };
  ClientLink* link = Connect(kServer);
  ASSERT_NE(link, nullptr);
  put(link, Packet(25, 0x21, std::string(1, '\0') + AppConnectRecord()));
  ASSERT_TRUE(link->RunUntil([&] { return !upcalls_.packets().empty(); }));
  const std::string reply = upcalls_.packets()[0];
  ASSERT_GE(reply.size(), 4u + 1 + 312);
  EXPECT_EQ(static_cast<std::uint8_t>(reply[4 + 1 + 8]), 1) << "one second agreed";

  // Two seconds of liveness packets every 300 ms: the link stays.
  const std::string kLiveness = Packet(26, 0, "");
  const auto start = std::chrono::steady_clock::now();
  auto last_sent = start;
  while (std::chrono::steady_clock::now() - start < std::chrono::seconds(2)) {
    put(link, kLiveness);
    last_sent = std::chrono::steady_clock::now();
    link->conn->conn_execute(1, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  EXPECT_TRUE(upcalls_.errors().empty());
  EXPECT_TRUE(link->conn->isAlive());

  // Silence: the server closes the link after the time-out, not before (and within five
  // seconds).
  while (upcalls_.errors().empty() &&
         std::chrono::steady_clock::now() - last_sent < std::chrono::seconds(5)) {
    link->note->block(1);
    link->conn->conn_execute(1, 1);
  }
  ASSERT_FALSE(upcalls_.errors().empty());
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - last_sent)
                .count(),
            900);
  EXPECT_EQ(upcalls_.errors()[0], 0u);
  for (c_strm_buffer* b : held) stack_->pool()->done_buffer(b);
}

TEST_F(ShmLinkTest, ConnectWithoutANameReachesTheDefaultServer) {
  ClientLink* link = Connect(nullptr);
  ASSERT_NE(link, nullptr);
  EXPECT_STREQ(link->conn->server_name, kServer);
  EXPECT_NE(link->conn->pconn_flags & c_strm_shm_conn::kDefaultServer, 0u);
}

TEST_F(ShmLinkTest, LivenessTurnsFalseAsSoonAsTheServerIsGone) {
  ClientLink* link = Connect(kServer);
  ASSERT_NE(link, nullptr);
  EXPECT_TRUE(link->conn->isAlive());
  const c_strm_inter_event server_event = link->conn->peer_event();
  server_.Stop(SIGKILL);
  EXPECT_FALSE(link->conn->isAlive()) << "the comm block is still open, the process is not";
  EXPECT_FALSE(link->conn->closed());
  // A killed server cannot remove its semaphores.
  semctl(server_event.id, 0, IPC_RMID);
}

// A page has 256 wake-up slots; the 257th link of the port gets a slot in a second page.
TEST_F(ShmLinkTest, TheTwoHundredFiftySeventhLinkUsesASecondPage) {
  std::vector<ClientLink*> all;
  for (int i = 0; i < 257; ++i) {
    ClientLink* link = Connect(kServer);
    ASSERT_NE(link, nullptr) << i;
    all.push_back(link);
    if (i == 255) {
      EXPECT_EQ(stack_->port().bitsignal_count(), 1u);
    }
  }
  EXPECT_EQ(stack_->port().bitsignal_count(), 2u);
  EXPECT_NE(all[256]->conn->own_signals(), all[0]->conn->own_signals());
  EXPECT_EQ(all[256]->conn->own_slot(), 0u);
}

// The port layer makes the port through the registered maker and reaches the server.
TEST_F(ShmLinkTest, PortLayerConnectsThroughTheRegisteredMaker) {
  vq::strm::SetPortMaker(STRM_PORT_SHARED_MEMORY, vq::shm::MakeShmPort);
  {
    c_strm_port_layer layer(&stack_->env(), stack_->pool());
    c_strm_pconn* pconn = nullptr;
    c_strm_conn_notifier* note = nullptr;
    char err[256] = {};
    ASSERT_EQ(layer.try_connect(STRM_PORT_SHARED_MEMORY, kServer, &pconn, nullptr, nullptr, 0,
                                &note, err, sizeof err, nullptr, c_encrypt_level{0u, nullptr}),
              STRM_OK)
        << err;
    EXPECT_EQ(layer.port(STRM_PORT_SHARED_MEMORY)->get_type(), STRM_PORT_SHARED_MEMORY);
    delete pconn;
    note->release();
  }
  vq::strm::SetPortMaker(STRM_PORT_SHARED_MEMORY, nullptr);
}

// The server checks what a rendezvous brings before it maps anything, refuses with a
// status of its own, and goes on serving.
TEST_F(ShmLinkTest, ServerRefusesMalformedRendezvous) {
  struct Case {
    const char* what;
    std::uint32_t code;
    std::uint32_t bytes;
    std::function<void(a_ptshm_connect64*)> spoil;
    int status;
  };
  c_ptshm_bitsignal* page = c_ptshm_bitsignal::NewBitSignal();
  ASSERT_NE(page, nullptr);
  c_strm_shm_mem block = CommBlk64_New(5);
  CommBlk blk;
  ASSERT_TRUE(CommBlk64_Init(block, 5, &blk));
  const Case cases[] = {
      {"unknown request code", 2, 176, [](a_ptshm_connect64*) {}, 101},
      {"64-bit code with the 32-bit record", 3, 172, [](a_ptshm_connect64*) {}, 101},
      {"client_bits other than 32", 3, 176, [](a_ptshm_connect64* r) { r->client_bits = 64; }, 101},
      {"slot beyond the page", 3, 176, [](a_ptshm_connect64* r) { r->record.signal_index = 256; }, 101},
      {"no comm block", 3, 176, [](a_ptshm_connect64* r) { r->record.commblk_mem.Clear(); }, 101},
      {"comm block outside the tree", 3, 176,
       [](a_ptshm_connect64* r) { std::strcpy(r->record.commblk_mem.segment_name, ".."); }, 102},
      {"missing comm block file", 3, 176,
       [](a_ptshm_connect64* r) { r->record.commblk_mem.segment_id += 1000; }, 102},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    a_ptshm_connect64 request{};
    request.record.record_length = 172;
    request.record.signal_mem = page->mem;
    request.record.commblk_mem = block;
    request.record.pid = static_cast<std::uint32_t>(getpid());
    request.client_bits = 32;
    c.spoil(&request);
    a_ptshm_connect64 reply{};
    char err[256] = {};
    EXPECT_EQ(ExchangeRdvRequest(kServer, 0, &request, c.bytes, &reply, c.bytes, c.code, err,
                                 sizeof err, RdvClock::now() + std::chrono::seconds(5)),
              c.status);
  }
  CommBlk64_Close(&blk);
  block.Destroy();
  delete page;
  EXPECT_NE(Connect(kServer), nullptr) << "the server goes on serving";
}

}  // namespace
