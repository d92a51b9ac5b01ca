// Packet buffers: their blocks, and taking a block the peer sent.
#include "streams/packet_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "test_heap.h"

namespace {

using vq::testing::NoBuffRef;
using vq::testing::NoMapId;
using vq::testing::TestHeap;

struct SizeCase {
  std::uint32_t size;
  bool made;
};

class BufferAlloc : public testing::TestWithParam<SizeCase> {};

// The whole capacity is writable (ASan checks the block really holds it) and the
// prefix starts zeroed.
TEST_P(BufferAlloc, GivesABlockOfSizePlusPrefix) {
  const SizeCase c = GetParam();
  c_strm_buff_src src;
  c_strm_buffer* b = src.alloc(static_cast<std::uint16_t>(c.size), STRM_PRIVATE_MEM);
  if (c.size > 0xFFFF || !c.made) {
    EXPECT_EQ(b, nullptr);
    return;
  }
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->src, &src);
  EXPECT_EQ(b->size, c.size);
  EXPECT_EQ(b->shared_flag, STRM_PRIVATE_MEM);
  EXPECT_EQ(b->capacity, c.size + kBlkPrefixBytes);
  ASSERT_NE(b->data, nullptr);
  EXPECT_EQ(b->used_length(), 0);
  EXPECT_EQ(b->header_offset(), 0);
  EXPECT_FALSE(b->in_transit());
  EXPECT_EQ(b->packet_room(), c.size);
  std::memset(b->data, 0xAB, b->capacity);
  src.free(b);
}

INSTANTIATE_TEST_SUITE_P(Sizes, BufferAlloc,
                         testing::Values(SizeCase{1, true}, SizeCase{3, true},
                                         SizeCase{4, true}, SizeCase{7300, true},
                                         SizeCase{kMaxBufferSize, true},
                                         SizeCase{kMaxBufferSize + 1u, false},
                                         SizeCase{0xFFFF, false}));

TEST(Buffer, ThePrefixFieldsAreLittleEndianAtTheirOffsets) {
  c_strm_buff_src src;
  c_strm_buffer* b = src.alloc(100, STRM_PRIVATE_MEM);
  ASSERT_NE(b, nullptr);
  b->set_used_length(0x1234);
  b->set_header_offset(0x0003);
  b->set_in_transit(true);
  const std::vector<std::uint8_t> prefix(b->data, b->data + kBlkPrefixBytes);
  EXPECT_EQ(prefix, (std::vector<std::uint8_t>{0x34, 0x12, 0x03, 0x00, 0x01}));
  EXPECT_EQ(b->packet(), b->data + 5 + 3);
  EXPECT_EQ(b->packet_room(), 100 - 3);
  src.free(b);
}

TEST(Buffer, ASizeZeroBufferHasNoBlockOfItsOwn) {
  c_strm_buff_src src;
  c_strm_buffer* b = src.alloc(0, STRM_SHARED_MEM);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->capacity, 0);
  EXPECT_EQ(b->data, nullptr);
  EXPECT_EQ(b->shared_ref.shared, 0);
  src.free(b);
}

TEST(Buffer, ThePrivateHeapRefusesSharedMemory) {
  c_strm_buff_src src;
  EXPECT_EQ(src.alloc(100, STRM_SHARED_MEM), nullptr);
}

// The peer's block: prefix (used, header offset, flag) and packet bytes.
std::vector<std::uint8_t> PeerBlock(std::uint16_t used, std::uint16_t hdr) {
  std::vector<std::uint8_t> block(kBlkPrefixBytes + hdr + used);
  vq::strm::store_le16(block.data(), used);
  vq::strm::store_le16(block.data() + 2, hdr);
  block[4] = 1;
  for (std::size_t i = kBlkPrefixBytes; i < block.size(); ++i) {
    block[i] = static_cast<std::uint8_t>(i);
  }
  return block;
}

struct PeerCase {
  const char* name;
  std::uint16_t buffer_size;  // 0: a buffer without a block of its own
  std::uint16_t used;
  std::uint16_t hdr;
  std::int32_t mapped_delta;  // bytes mapped beyond (or short of) the peer's block
  int result;
  std::uint16_t used_after;   // the used length the buffer then shows
};

class ReferenceRemData : public testing::TestWithParam<PeerCase> {};

TEST_P(ReferenceRemData, TakesThePeersBlockWithinBounds) {
  const PeerCase c = GetParam();
  auto* heap = new TestHeap;
  c_strm_buff_src src(heap);
  c_strm_buffer* b = src.alloc(c.buffer_size, STRM_SHARED_MEM);
  ASSERT_NE(b, nullptr);
  if (b->data != nullptr) {
    std::memset(b->data + kBlkPrefixBytes, 0xEE, b->capacity - kBlkPrefixBytes);
  }
  std::vector<std::uint8_t> peer = PeerBlock(c.used, c.hdr);
  const std::vector<std::uint8_t> original = peer;
  heap->peer = peer.data();
  heap->peer_mapped = static_cast<std::uint32_t>(static_cast<std::int64_t>(peer.size()) +
                                                 c.mapped_delta);
  if (c.mapped_delta > 0) {
    peer.resize(heap->peer_mapped);
    heap->peer = peer.data();
  }

  EXPECT_EQ(b->reference_rem_data(NoBuffRef(), NoMapId(), nullptr), c.result);
  if (c.result == 0) {
    EXPECT_EQ(peer[4], 1) << "a refused block stays with the peer";
    src.free(b);
    return;
  }
  EXPECT_EQ(b->used_length(), c.used_after);
  EXPECT_EQ(b->header_offset(), c.hdr);
  if (c.buffer_size == 0) {
    EXPECT_EQ(b->data, peer.data());
  } else {
    EXPECT_EQ(peer[4], 0) << "the peer's block is released at once";
    EXPECT_FALSE(b->in_transit()) << "the buffer's own flag stays as it was";
    EXPECT_EQ(std::memcmp(b->packet(), original.data() + kBlkPrefixBytes + c.hdr, c.used_after),
              0);
  }
  src.free(b);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, ReferenceRemData,
    testing::Values(PeerCase{"fits", 100, 40, 0, 0, 1, 40},
                    PeerCase{"fits_with_header_room", 100, 40, 8, 0, 1, 40},
                    PeerCase{"exactly_fills", 100, 100, 0, 0, 1, 100},
                    PeerCase{"cut_to_packet_area", 100, 300, 0, 0, 1, 100},
                    PeerCase{"cut_with_header_room", 100, 300, 10, 0, 1, 90},
                    PeerCase{"header_room_past_capacity", 100, 4, 200, 0, 0, 0},
                    PeerCase{"prefix_claims_more_than_mapped", 100, 40, 0, -1, 0, 0},
                    PeerCase{"blockless_points_at_peer", 0, 40, 0, 0, 1, 40},
                    PeerCase{"blockless_claims_more_than_mapped", 0, 40, 0, -10, 0, 0}),
    [](const testing::TestParamInfo<PeerCase>& info) { return std::string(info.param.name); });

TEST(ReferenceRemDataUnmapped, ABlockThatCannotBeMappedIsRefused) {
  c_strm_buff_src src(new TestHeap);
  c_strm_buffer* b = src.alloc(100, STRM_SHARED_MEM);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->reference_rem_data(NoBuffRef(), NoMapId(), nullptr), 0);
  src.free(b);
}

}  // namespace
