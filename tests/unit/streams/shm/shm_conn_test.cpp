// The link connection within one process: the test plays the server on the other end
// of a comm block (its own handle on the same block, a bit-signal page and a
// semaphore of its own), and a transport connection with a recording session
// connection sits above the link.
#include "streams/shm/shm_conn.h"

#include <gtest/gtest.h>
#include <sys/sem.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "shm_link_support.h"
#include "streams/shm/shm_segments.h"

namespace {

using vq::shm::test::ClientStack;
using vq::shm::test::Packet;
using vq::shm::test::RecordingUpcalls;
using vq::shm::test::ScopedSemaphore;
using vq::shm::test::ScopedShmRoot;

constexpr std::uint16_t kServerSlot = 3;
constexpr std::uint32_t kServerRefId = 0x51;

int SemValue(const c_strm_inter_event& e) {
  return semctl(e.id, static_cast<int>(e.number), GETVAL);
}

class ShmConnTest : public ::testing::TestWithParam<a_shm_structure_version> {
 protected:
  void SetUp() override {
    ASSERT_EQ(stack_.init_result(), STRM_OK);
    ASSERT_TRUE(server_sem_.ok() && client_sem_.ok());
    server_page_.reset(c_ptshm_bitsignal::NewBitSignal());
    own_page_.reset(c_ptshm_bitsignal::NewBitSignal());
    ASSERT_TRUE(server_page_ && own_page_);
    ASSERT_TRUE(own_page_->in_use.alloc(&own_slot_));

    const bool v1 = GetParam() == kShmStructV1;
    block_mem_ = v1 ? CommBlk64_New(Slots()) : CommBlk_New(Slots());
    CommBlk client_block;
    ASSERT_TRUE(v1 ? CommBlk64_Init(block_mem_, Slots(), &client_block)
                   : CommBlk_Init(block_mem_, Slots(), &client_block));
    ASSERT_TRUE(v1 ? CommBlk64_Open(block_mem_, &server_block_)
                   : CommBlk_Open(block_mem_, &server_block_));
    auto* peer_page = static_cast<a_bit_signal*>(server_page_->mem.Map());
    ASSERT_NE(peer_page, nullptr);
    c_strm_procref* procref = stack_.heap()->proctable().Locate(getpid(), kServerRefId);
    conn_ = new c_strm_shm_conn(server_sem_.event(), peer_page, kServerSlot, client_block,
                                own_page_.get(), own_slot_, &Port(), procref,
                                client_sem_.event(), nullptr);
    tconn_ = std::make_unique<c_strm_tconn>(nullptr, conn_, nullptr);
    tconn_->set_sconn(&upcalls_);
    conn_->set_tconn(tconn_.get());
  }
  void TearDown() override {
    tconn_.reset();  // deletes the link connection
    CommBlk_Close(&server_block_);
    block_mem_.Destroy();
    for (c_strm_buffer* b : server_buffers_) stack_.pool()->done_buffer(b);
  }

  // The client's port, whose pool gives the receive buffers.
  virtual c_strm_shm_port& Port() { return stack_.port(); }
  // Slots per ring: the port makes five.
  virtual std::uint32_t Slots() const { return 5; }
  bool v1() const { return GetParam() == kShmStructV1; }
  CommQ* ToServer() { return v1() ? CommBlk64_GetQ1(&server_block_) : CommBlk_GetQ1(&server_block_); }
  CommQ* ToClient() { return v1() ? CommBlk64_GetQ2(&server_block_) : CommBlk_GetQ2(&server_block_); }

  // The server's side: sends a packet in a shared buffer; the ring's result.
  int ServerSends(const std::string& packet) {
    c_strm_buffer* b = stack_.Buffer(packet);
    if (b == nullptr) return -1;
    b->set_in_transit(true);
    server_buffers_.push_back(b);
    a_commq_entry e{};
    get_tran_ref(b->shared_ref, &e.ref);
    e.map_id = {static_cast<std::uint32_t>(getpid()), kServerRefId};
    return v1() ? CommQ64_Enqueue(ToClient(), e.ref, e.map_id)
                : CommQ_Enqueue(ToClient(), e.ref, e.map_id);
  }
  // The server takes one entry; the ring's result and the data offset taken.
  int ServerTakes(std::uint32_t* data_offset = nullptr) {
    a_commq_entry e{};
    const int rc = v1() ? CommQ64_Dequeue(ToServer(), &e.ref, &e.map_id)
                        : CommQ_Dequeue(ToServer(), &e.ref, &e.map_id);
    if (data_offset != nullptr) *data_offset = e.ref.block_offset + e.ref.data_offset;
    return rc;
  }
  bool ServerFlagged() {
    auto* page = server_page_->address;
    const bool on = page->flags[kServerSlot].load() != 0 && page->summary.load() != 0;
    page->flags[kServerSlot].store(0);
    page->summary.store(0);
    return on;
  }
  std::uint32_t DataOffset(c_strm_buffer* b) {
    a_strm_buff_ref ref{};
    get_tran_ref(b->shared_ref, &ref);
    return ref.block_offset + ref.data_offset;
  }

  ScopedShmRoot root_;
  ClientStack stack_;
  ScopedSemaphore server_sem_;
  ScopedSemaphore client_sem_;
  std::unique_ptr<c_ptshm_bitsignal> server_page_;
  std::unique_ptr<c_ptshm_bitsignal> own_page_;
  std::uint16_t own_slot_ = kNoSlot;
  c_strm_shm_mem block_mem_{};
  CommBlk server_block_;
  RecordingUpcalls upcalls_{stack_.pool()};
  c_strm_shm_conn* conn_ = nullptr;
  std::unique_ptr<c_strm_tconn> tconn_;
  std::vector<c_strm_buffer*> server_buffers_;
};

// A five-slot ring holds four. The first put wakes the server; the fifth is parked
// (10), a sixth waits its turn (13); once the server takes one, a pass sends the parked
// buffer and reports it, and the server sees the buffers in the order they were put.
TEST_P(ShmConnTest, FullRingParksOneBufferUntilAPassSendsIt) {
  std::vector<c_strm_buffer*> sent;
  for (int i = 0; i < 5; ++i) {
    c_strm_buffer* b = stack_.Buffer(Packet(24, 0, std::string(1, static_cast<char>('a' + i))));
    ASSERT_NE(b, nullptr);
    sent.push_back(b);
  }
  EXPECT_EQ(conn_->put(sent[0]), STRM_OK);
  EXPECT_TRUE(ServerFlagged());
  EXPECT_EQ(SemValue(server_sem_.event()), 1) << "the first entry signals the server";
  for (int i = 1; i < 4; ++i) EXPECT_EQ(conn_->put(sent[i]), STRM_OK);
  EXPECT_FALSE(ServerFlagged()) << "a ring that was not empty needs no wake-up";
  EXPECT_TRUE(sent[3]->in_transit());

  EXPECT_EQ(conn_->put(sent[4]), STRM_QUEUED);
  c_strm_buffer* sixth = stack_.Buffer(Packet(24, 0, "f"));
  EXPECT_EQ(conn_->put(sixth), STRM_OUT_OF_ROOM) << "only one buffer is parked";
  stack_.pool()->done_buffer(sixth);

  conn_->conn_execute(1, 1);
  EXPECT_TRUE(upcalls_.completed().empty()) << "still no room";

  std::uint32_t first = 0;
  EXPECT_EQ(ServerTakes(&first), kCommQWasFull);
  EXPECT_EQ(first, DataOffset(sent[0]));
  conn_->conn_execute(1, 1);
  ASSERT_EQ(upcalls_.completed().size(), 1u);
  EXPECT_EQ(upcalls_.completed()[0], sent[4]);
  for (int i = 1; i < 5; ++i) {
    std::uint32_t at = 0;
    EXPECT_NE(ServerTakes(&at), kCommQEmpty);
    EXPECT_EQ(at, DataOffset(sent[i])) << "entry " << i;
  }
  EXPECT_EQ(ServerTakes(), kCommQEmpty);
  for (c_strm_buffer* b : sent) stack_.pool()->done_buffer(b);
}

TEST_P(ShmConnTest, ReceivesPacketsAndReleasesTheServersBlocks) {
  ASSERT_EQ(ServerSends(Packet(24, 1, "one")), kCommQWasEmpty);
  ASSERT_EQ(ServerSends(Packet(24, 1, "two")), kCommQStored);
  conn_->conn_execute(1, 1);
  const auto got = upcalls_.packets();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], Packet(24, 1, "one"));
  EXPECT_EQ(got[1], Packet(24, 1, "two"));
  for (c_strm_buffer* b : server_buffers_) EXPECT_FALSE(b->in_transit());
  EXPECT_EQ(SemValue(client_sem_.event()), 1) << "a pass that received signals another";
  EXPECT_FALSE(ServerFlagged()) << "the ring was not full: no wake-up";
}

// Taking from a full ring wakes the server, which may have more to send.
TEST_P(ShmConnTest, TakingFromAFullRingWakesTheServer) {
  for (int i = 0; i < 4; ++i) ASSERT_NE(ServerSends(Packet(24, 1, "x")), kCommQFull);
  ASSERT_EQ(ServerSends(Packet(24, 1, "x")), kCommQFull);
  conn_->conn_execute(1, 0);
  EXPECT_EQ(upcalls_.packets().size(), 4u);
  EXPECT_TRUE(ServerFlagged());
  EXPECT_EQ(SemValue(server_sem_.event()), 1);
}

// When the transport connection answers 0 it is going away: the pass stops at once,
// and the entries after it stay in the ring rather than being taken and lost.
TEST_P(ShmConnTest, PassStopsWhenTheTransportConnectionGoesAway) {
  for (const char* body : {"one", "two", "three"}) ASSERT_NE(ServerSends(Packet(24, 1, body)), kCommQFull);
  upcalls_.accept_result = 0;
  conn_->conn_execute(1, 1);
  EXPECT_EQ(upcalls_.packets().size(), 1u);
  conn_->conn_execute(1, 1);
  EXPECT_EQ(upcalls_.packets().size(), 1u) << "no transport connection: nothing is taken";

  upcalls_.accept_result = 1;
  conn_->set_tconn(tconn_.get());
  conn_->conn_execute(1, 1);
  const auto got = upcalls_.packets();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[1], Packet(24, 1, "two"));
  EXPECT_EQ(got[2], Packet(24, 1, "three"));
}

// A reference the client cannot map (a name leading out of the tree, a block past the
// end of the file) drops the connection; nothing is read from it.
TEST_P(ShmConnTest, UnusableReferenceDropsTheConnection) {
  struct Case {
    const char* what;
    void (*spoil)(a_strm_buff_ref*);
  };
  const Case cases[] = {
      {"name outside the tree", [](a_strm_buff_ref* r) { std::strcpy(r->segment_name, ".."); }},
      {"block past the file", [](a_strm_buff_ref* r) { r->block_offset += 1u << 30; }},
      {"data offset past the block", [](a_strm_buff_ref* r) { r->data_offset = r->block_size; }},
  };
  int drops = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c_strm_buffer* b = stack_.Buffer(Packet(24, 1, "x"));
    server_buffers_.push_back(b);
    a_commq_entry e{};
    get_tran_ref(b->shared_ref, &e.ref);
    c.spoil(&e.ref);
    e.map_id = {static_cast<std::uint32_t>(getpid()), kServerRefId};
    ASSERT_NE(v1() ? CommQ64_Enqueue(ToClient(), e.ref, e.map_id)
                   : CommQ_Enqueue(ToClient(), e.ref, e.map_id),
              kCommQFull);
    conn_->conn_execute(1, 1);
    EXPECT_EQ(upcalls_.drops.load(), ++drops);
    EXPECT_TRUE(upcalls_.packets().empty());
  }
}

// The server closed the link: puts and start_receive give 8, the next pass reports the
// loss once, and a disconnect wakes only the client's own waiter.
TEST_P(ShmConnTest, ServerClosedTheLink) {
  EXPECT_EQ(conn_->start_receive(), STRM_OK);
  CommBlk_SetClosed(&server_block_);
  c_strm_buffer* b = stack_.Buffer(Packet(24, 1, "x"));
  EXPECT_EQ(conn_->put(b), 8);
  stack_.pool()->done_buffer(b);
  EXPECT_EQ(conn_->start_receive(), 8);
  conn_->conn_execute(1, 1);
  conn_->conn_execute(1, 1);
  EXPECT_EQ(upcalls_.errors(), std::vector<std::uint32_t>{0});

  ServerFlagged();
  const c_strm_inter_event own = client_sem_.event();
  sysv_reset_semaphore(&own);
  conn_->disconnect();
  EXPECT_FALSE(ServerFlagged()) << "the server closed it: no wake-up for the server";
  EXPECT_EQ(SemValue(client_sem_.event()), 1);
  EXPECT_TRUE(conn_->can_delete());
}

// The client's disconnect closes the block and wakes the server.
TEST_P(ShmConnTest, DisconnectClosesTheBlockAndWakesTheServer) {
  conn_->disconnect();
  EXPECT_TRUE(CommBlk_IsClosed(server_block_));
  EXPECT_TRUE(ServerFlagged());
  EXPECT_EQ(SemValue(server_sem_.event()), 1);
  EXPECT_TRUE(conn_->isAlive()) << "the process behind the reference is this one";
}

TEST_P(ShmConnTest, PrivateBuffersCannotTravel) {
  c_strm_buffer* b = stack_.pool()->get_buffer(STRM_PRIVATE_MEM);
  ASSERT_NE(b, nullptr);
  b->set_header_offset(0);
  b->set_used_length(4);
  EXPECT_EQ(conn_->put(b), STRM_LINK_FAILED);
  EXPECT_EQ(ServerTakes(), kCommQEmpty);
  stack_.pool()->done_buffer(b);
}

// A ring wider than the port's: one pass takes nine buffers and signals the client's
// own event so that the next pass takes the rest.
class ShmConnWideRing : public ShmConnTest {
 protected:
  std::uint32_t Slots() const override { return 12; }
};

TEST_P(ShmConnWideRing, NineBuffersPerPass) {
  for (int i = 0; i < 11; ++i) ASSERT_NE(ServerSends(Packet(24, 1, std::to_string(i))), kCommQFull);
  conn_->conn_execute(1, 0);
  EXPECT_EQ(upcalls_.packets().size(), 9u);
  EXPECT_EQ(SemValue(client_sem_.event()), 1) << "the rest waits for the next pass";
  conn_->conn_execute(1, 0);
  const auto got = upcalls_.packets();
  ASSERT_EQ(got.size(), 11u);
  EXPECT_EQ(got[10], Packet(24, 1, "10"));
}

// A port whose pool has no shared buffers: a pass cannot take a buffer to receive into.
// It drops the connection and leaves the entry in the ring instead of taking it.
class ShmConnNoBuffers : public ShmConnTest {
 protected:
  ShmConnNoBuffers() {
    vq::strm::SetBufferHeapFactory(nullptr);
    private_controller_ = std::make_unique<c_strm_frlist_controller>(2048);
    vq::strm::SetBufferHeapFactory(vq::shm::NewSharedHeap);
    private_port_ = std::make_unique<c_strm_shm_port>(nullptr, &stack_.env(), nullptr);
    private_port_->init_port(private_controller_->default_pool, "", nullptr);
  }
  void TearDown() override {
    ShmConnTest::TearDown();
    private_port_.reset();
    private_controller_.reset();
  }
  c_strm_shm_port& Port() override { return *private_port_; }

  std::unique_ptr<c_strm_frlist_controller> private_controller_;
  std::unique_ptr<c_strm_shm_port> private_port_;
};

TEST_P(ShmConnNoBuffers, EntryStaysInTheRingWhenNoBufferCanTakeIt) {
  ASSERT_EQ(ServerSends(Packet(24, 1, "kept")), kCommQWasEmpty);
  conn_->conn_execute(1, 1);
  EXPECT_EQ(upcalls_.drops.load(), 1);
  EXPECT_TRUE(upcalls_.packets().empty());
  a_commq_entry e{};
  EXPECT_NE(v1() ? CommQ64_Dequeue(ToClient(), &e.ref, &e.map_id)
                 : CommQ_Dequeue(ToClient(), &e.ref, &e.map_id),
            kCommQEmpty)
      << "the entry is still there";
}

INSTANTIATE_TEST_SUITE_P(Versions, ShmConnNoBuffers, ::testing::Values(kShmStructV0, kShmStructV1),
                         [](const ::testing::TestParamInfo<a_shm_structure_version>& info) {
                           return info.param == kShmStructV0 ? "v0" : "v1";
                         });

INSTANTIATE_TEST_SUITE_P(Versions, ShmConnWideRing, ::testing::Values(kShmStructV0, kShmStructV1),
                         [](const ::testing::TestParamInfo<a_shm_structure_version>& info) {
                           return info.param == kShmStructV0 ? "v0" : "v1";
                         });

INSTANTIATE_TEST_SUITE_P(Versions, ShmConnTest, ::testing::Values(kShmStructV0, kShmStructV1),
                         [](const ::testing::TestParamInfo<a_shm_structure_version>& info) {
                           return info.param == kShmStructV0 ? "v0" : "v1";
                         });

}  // namespace
