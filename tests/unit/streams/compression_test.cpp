// Compression between two connections back to back: the sender's packets, as they
// would go on the wire, are inflated by the receiver into the same items.
#include "streams/compression.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "fake_session.h"
#include "streams/buffer_pool.h"
#include "streams/packet_header.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Items of `count` pieces of text (compressible) or random bytes, each item whole.
std::vector<Bytes> Items(std::size_t count, bool random, unsigned seed = 1) {
  std::mt19937 gen(seed);
  const std::string words = "select name, address from customers where city = 'Springfield' ";
  std::vector<Bytes> out;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t payload = 1 + gen() % 120;
    Bytes item = {static_cast<std::uint8_t>(payload + 1), 7};
    for (std::size_t k = 0; k < payload; ++k) {
      item.push_back(random ? static_cast<std::uint8_t>(gen()) : static_cast<std::uint8_t>(words[(i + k) % words.size()]));
    }
    out.push_back(item);
  }
  return out;
}

struct Received {
  std::vector<Bytes> bodies;
  std::vector<std::uint8_t> statuses;
  Bytes all;
};

class CompressionTest : public testing::Test {
 protected:
  // Both sides with buffers of `size` bytes and the same maximum packet size.
  void Start(std::uint16_t size, std::uint16_t threshold = 120) {
    controller_ = std::make_unique<c_strm_frlist_controller>(size);
    pool_ = controller_->default_pool;
    size_ = size;
    ASSERT_TRUE(sender_.start_compression(threshold, size, 16000, pool_, STRM_PRIVATE_MEM, 0));
    ASSERT_TRUE(receiver_.start_compression(threshold, size, 16000, pool_, STRM_PRIVATE_MEM, 0));
  }
  void TearDown() override {
    while (c_strm_buffer* b = queue_.first_element()) {
      b->unlink();
      pool_->done_buffer(b);
    }
  }

  c_strm_buffer* Packet(const Bytes& body, std::uint8_t status) {
    c_strm_buffer* b = pool_->get_buffer(STRM_PRIVATE_MEM);
    b->set_header_offset(0);
    std::copy(body.begin(), body.end(), b->packet() + 4);
    const auto length = static_cast<std::uint16_t>(body.size() + 4);
    StorePktHdr(b->packet(), PktHdr{PKT_DATA, status, length});
    b->set_used_length(length);
    return b;
  }

  // Sends the items as one message, packets filled up to `body_max` bytes of whole
  // items; returns the wire packets.
  std::vector<Bytes> Send(const std::vector<Bytes>& items, std::size_t body_max) {
    std::vector<Bytes> wire;
    Bytes body;
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (!body.empty() && body.size() + items[i].size() > body_max) {
        Flush(body, 0, &wire);
        body.clear();
      }
      body.insert(body.end(), items[i].begin(), items[i].end());
    }
    Flush(body, PKT_STATUS_EOM, &wire);
    return wire;
  }
  void Flush(const Bytes& body, std::uint8_t status, std::vector<Bytes>* wire) {
    c_strm_buffer* out[2] = {nullptr, nullptr};
    const int n = sender_.prepare_flush(Packet(body, status), out);
    ASSERT_GE(n, 0);
    for (int i = 0; i < n; ++i) {
      wire->emplace_back(out[i]->packet(), out[i]->packet() + out[i]->used_length());
      EXPECT_LE(out[i]->used_length(), size_);
      pool_->done_buffer(out[i]);
    }
  }

  Received Receive(const std::vector<Bytes>& wire) {
    for (const Bytes& p : wire) {
      c_strm_buffer* b = pool_->get_buffer(STRM_PRIVATE_MEM);
      b->set_header_offset(0);
      std::copy(p.begin(), p.end(), b->packet());
      b->set_used_length(static_cast<std::uint16_t>(p.size()));
      EXPECT_TRUE(receiver_.decompress_and_append(b, queue_));
    }
    Received r;
    for (c_strm_buffer_iter it(queue_); !it.at_end(); it.next()) {
      c_strm_buffer* b = it.element();
      const PktHdr h = LoadPktHdr(b->packet());
      EXPECT_EQ(h.length, b->used_length());
      EXPECT_EQ(h.status & PKT_STATUS_COMPRESSED, 0);
      Bytes body(b->packet() + 4, b->packet() + h.length);
      EXPECT_EQ(get_complete_du_size(body.data(), body.size()), body.size()) << "whole items";
      r.bodies.push_back(body);
      r.statuses.push_back(h.status);
      r.all.insert(r.all.end(), body.begin(), body.end());
    }
    return r;
  }

  static Bytes Join(const std::vector<Bytes>& items) {
    Bytes all;
    for (const Bytes& i : items) all.insert(all.end(), i.begin(), i.end());
    return all;
  }
  static int Compressed(const std::vector<Bytes>& wire) {
    int n = 0;
    for (const Bytes& p : wire) n += (p[1] & PKT_STATUS_COMPRESSED) != 0;
    return n;
  }

  std::unique_ptr<c_strm_frlist_controller> controller_;
  c_strm_buff_frlist* pool_ = nullptr;
  std::uint16_t size_ = 0;
  c_strm_compression sender_;
  c_strm_compression receiver_;
  c_strm_buffer_list queue_;
};

TEST_F(CompressionTest, SmallPacketsAreHeldAndPackedUntilTheMessageEnds) {
  Start(1000);
  const std::vector<Bytes> items = Items(400, false);
  const std::vector<Bytes> wire = Send(items, 200);
  const Received r = Receive(wire);
  EXPECT_EQ(r.all, Join(items));
  EXPECT_LT(wire.size(), Join(items).size() / 200) << "fewer, fuller packets";
  ASSERT_FALSE(r.statuses.empty());
  for (std::size_t i = 0; i + 1 < r.statuses.size(); ++i) EXPECT_EQ(r.statuses[i] & 1, 0) << i;
  EXPECT_EQ(r.statuses.back() & 1, 1);
}

TEST_F(CompressionTest, AShortPacketGoesAsItIsUnlessOutputIsHeld) {
  Start(1000, 120);
  // Nothing held: below the threshold it goes as it is.
  std::vector<Bytes> wire;
  Bytes short_item = {90, 7};
  short_item.resize(90 + 1, 'q');
  Flush(short_item, PKT_STATUS_EOM, &wire);
  ASSERT_EQ(wire.size(), 1u);
  EXPECT_EQ(wire[0][1] & PKT_STATUS_COMPRESSED, 0);
  // Held output: the next short packet joins it, compressed.
  wire.clear();
  const std::vector<Bytes> long_items = Items(8, false, 3);  // at most 976 bytes
  Flush(Join(long_items), 0, &wire);
  EXPECT_TRUE(wire.empty()) << "held";
  EXPECT_GT(sender_.held(), 0u);
  Flush(Items(1, false, 4)[0], PKT_STATUS_EOM, &wire);
  ASSERT_EQ(wire.size(), 1u);
  EXPECT_NE(wire[0][1] & PKT_STATUS_COMPRESSED, 0);
  Bytes expected = Join(long_items);
  const Bytes last = Items(1, false, 4)[0];
  expected.insert(expected.end(), last.begin(), last.end());
  EXPECT_EQ(Receive(wire).all, expected);
}

// Random data does not shrink: a packet whose output would not fit goes as it is after
// the held bytes, both streams start again, and everything still arrives in order.
TEST_F(CompressionTest, IncompressibleDataFallsBackAndTheStreamsStartAgain) {
  Start(600);
  std::vector<Bytes> items = Items(30, false, 5);
  // Random items of 149 bytes: four fill a packet body of 596 bytes, which deflate
  // cannot make smaller.
  std::vector<Bytes> noise;
  std::mt19937 gen(6);
  for (int i = 0; i < 16; ++i) {
    Bytes item = {148, 7};
    for (int k = 0; k < 147; ++k) item.push_back(static_cast<std::uint8_t>(gen()));
    noise.push_back(item);
  }
  items.insert(items.end(), noise.begin(), noise.end());
  const std::vector<Bytes> more = Items(60, false, 7);
  items.insert(items.end(), more.begin(), more.end());
  const std::vector<Bytes> wire = Send(items, 596);
  EXPECT_LT(Compressed(wire), static_cast<int>(wire.size())) << "some went as they were";
  EXPECT_GT(Compressed(wire), 0);
  EXPECT_EQ(Receive(wire).all, Join(items));
  // A second message after the reset still round-trips.
  const std::vector<Bytes> again = Items(200, false, 8);
  TearDown();
  EXPECT_EQ(Receive(Send(again, 300)).all, Join(again));
}

TEST_F(CompressionTest, AnInflatedPacketLargerThanABufferIsSplitAtItems) {
  Start(400);
  // One large compressible packet from a peer with bigger buffers: its output is many
  // buffers long.
  c_strm_compression big_sender;
  c_strm_frlist_controller big(8000);
  ASSERT_TRUE(big_sender.start_compression(120, 8000, 16000, big.default_pool, STRM_PRIVATE_MEM, 0));
  const std::vector<Bytes> items = Items(60, false, 9);
  const Bytes body = Join(items);
  ASSERT_GT(body.size(), 1500u);
  c_strm_buffer* p = big.default_pool->get_buffer(STRM_PRIVATE_MEM);
  p->set_header_offset(0);
  std::copy(body.begin(), body.end(), p->packet() + 4);
  StorePktHdr(p->packet(), PktHdr{PKT_DATA, PKT_STATUS_EOM, static_cast<std::uint16_t>(body.size() + 4)});
  p->set_used_length(static_cast<std::uint16_t>(body.size() + 4));
  c_strm_buffer* out[2];
  ASSERT_EQ(big_sender.prepare_flush(p, out), 1);
  const Bytes wire(out[0]->packet(), out[0]->packet() + out[0]->used_length());
  big.default_pool->done_buffer(out[0]);
  ASSERT_LE(wire.size(), 400u) << "it must fit the receiver's buffer as sent";

  const Received r = Receive({wire});
  EXPECT_EQ(r.all, body);
  ASSERT_GT(r.bodies.size(), 3u);
  for (std::size_t i = 0; i + 1 < r.statuses.size(); ++i) EXPECT_EQ(r.statuses[i] & 1, 0);
  EXPECT_EQ(r.statuses.back() & 1, 1);
  for (const Bytes& b : r.bodies) EXPECT_LE(b.size(), 396u);
}

TEST_F(CompressionTest, BadCompressedPacketsAreRefused) {
  Start(400);
  struct Row {
    const char* name;
    Bytes packet;
  } rows[] = {
      {"not_deflate", {24, 0x41, 0, 12, 1, 2, 3, 4, 5, 6, 7, 8}},
      {"compressed_attention", {16, 0x41, 0, 8, 0, 0, 0, 0}},
      {"length_past_buffer", {24, 0x41, 0x01, 0x00, 1, 2}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    c_strm_buffer* b = pool_->get_buffer(STRM_PRIVATE_MEM);
    b->set_header_offset(0);
    std::copy(r.packet.begin(), r.packet.end(), b->packet());
    b->set_used_length(static_cast<std::uint16_t>(r.packet.size()));
    EXPECT_FALSE(receiver_.decompress_and_append(b, queue_));
    EXPECT_TRUE(queue_.is_empty());
  }
  // Without compression a compressed packet is refused too.
  c_strm_compression off;
  c_strm_buffer* b = pool_->get_buffer(STRM_PRIVATE_MEM);
  b->set_header_offset(0);
  StorePktHdr(b->packet(), PktHdr{PKT_DATA, 0x41, 4});
  b->set_used_length(4);
  EXPECT_FALSE(off.decompress_and_append(b, queue_));
  pool_->done_buffer(b);  // `off` has no pool to give it back to
}

// One item bigger than a whole buffer cannot be cut: a clear failure, not a loop.
TEST_F(CompressionTest, AnItemLargerThanABufferFailsInsteadOfLooping) {
  Start(300);
  c_strm_compression big_sender;
  c_strm_frlist_controller big(8000);
  ASSERT_TRUE(big_sender.start_compression(120, 8000, 16000, big.default_pool, STRM_PRIVATE_MEM, 0));
  Bytes body = {3, 195, 0xE8, 0x03};  // a new-form piece of 1,000 raw bytes
  body.insert(body.end(), 1000, 'a');
  c_strm_buffer* p = big.default_pool->get_buffer(STRM_PRIVATE_MEM);
  p->set_header_offset(0);
  std::copy(body.begin(), body.end(), p->packet() + 4);
  StorePktHdr(p->packet(), PktHdr{PKT_DATA, PKT_STATUS_EOM, static_cast<std::uint16_t>(body.size() + 4)});
  p->set_used_length(static_cast<std::uint16_t>(body.size() + 4));
  c_strm_buffer* out[2];
  ASSERT_EQ(big_sender.prepare_flush(p, out), 1);
  c_strm_buffer* b = pool_->get_buffer(STRM_PRIVATE_MEM);
  b->set_header_offset(0);
  std::copy(out[0]->packet(), out[0]->packet() + out[0]->used_length(), b->packet());
  b->set_used_length(out[0]->used_length());
  big.default_pool->done_buffer(out[0]);
  EXPECT_FALSE(receiver_.decompress_and_append(b, queue_));
  EXPECT_TRUE(queue_.is_empty());
}

TEST(CompleteItems, CountsOnlyWholeItems) {
  struct Row {
    Bytes bytes;
    std::size_t n;
    std::size_t whole;
  } rows[] = {
      {{2, 7, 0xAA, 3, 7, 1, 2}, 7, 7},
      {{2, 7, 0xAA, 3, 7, 1, 2}, 6, 3},
      {{252, 9, 1, 5}, 4, 4},             // a special length takes 2 bytes
      {{252, 9, 2, 5}, 4, 2},
      {{3, 195, 2, 0, 'x', 'y'}, 6, 6},   // a new-form piece and its raw bytes
      {{3, 195, 2, 0, 'x'}, 5, 0},
      {{0, 1, 2}, 3, 0},                  // a zero length byte is no item
      {{}, 0, 0},
  };
  for (const Row& r : rows) EXPECT_EQ(get_complete_du_size(r.bytes.data(), r.n), r.whole);
}

}  // namespace
