// The packet header codec and the scrambling of whole packets, checked against the
// stand-in server's own code for the same format.
#include "streams/packet_scrambler.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake_session.h"
#include "scrambler.h"  // the stand-in server's independent implementation
#include "streams/packet_header.h"

namespace {

using vq::testing::MakePacket;

TEST(PktHdrCodec, HeaderSizeByTypeAndBigEndianLength) {
  struct Row {
    std::uint8_t type;
    std::size_t header;
  } rows[] = {{2, 8}, {15, 8}, {16, 8}, {24, 4}, {25, 4}, {26, 4}, {27, 8}, {0, 8}, {255, 8}};
  for (const Row& r : rows) {
    SCOPED_TRACE(static_cast<int>(r.type));
    EXPECT_EQ(PktHeaderSize(r.type), r.header);
    std::uint8_t bytes[10];
    std::memset(bytes, 0xEE, sizeof bytes);
    EXPECT_EQ(StorePktHdr(bytes, PktHdr{r.type, 0x21, 0x1234}), r.header);
    EXPECT_EQ(bytes[0], r.type);
    EXPECT_EQ(bytes[1], 0x21);
    EXPECT_EQ(bytes[2], 0x12);
    EXPECT_EQ(bytes[3], 0x34);
    for (std::size_t i = 4; i < r.header; ++i) EXPECT_EQ(bytes[i], 0) << i;
    EXPECT_EQ(bytes[r.header], 0xEE) << "nothing past the header";
    const PktHdr back = LoadPktHdr(bytes);
    EXPECT_EQ(back.type, r.type);
    EXPECT_EQ(back.status, 0x21);
    EXPECT_EQ(back.length, 0x1234);
  }
  // The liveness packet is exactly these four bytes.
  std::uint8_t live[4];
  StorePktHdr(live, PktHdr{PKT_LIVENESS, 0, 4});
  EXPECT_EQ(std::vector<std::uint8_t>(live, live + 4), (std::vector<std::uint8_t>{26, 0, 0, 4}));
}

struct ScrambleCase {
  std::uint8_t type;
  std::size_t body;
  bool changes;  // bodies of 2 bytes or fewer stay as they are
};

class Scramble : public testing::TestWithParam<ScrambleCase> {};

TEST_P(Scramble, RoundTripsAndAgreesWithTheServer) {
  const ScrambleCase c = GetParam();
  const std::vector<std::uint8_t> plain = MakePacket(c.type, PKT_STATUS_SCRAMBLED | 1, c.body);
  std::vector<std::uint8_t> ours = plain;
  ASSERT_TRUE(EncryptPacket(ours.data(), static_cast<std::uint32_t>(ours.size())));
  const std::size_t hdr = PktHeaderSize(c.type);
  EXPECT_TRUE(std::equal(ours.begin(), ours.begin() + hdr, plain.begin())) << "header kept";
  EXPECT_EQ(ours != plain, c.changes);

  // The server reads what we scrambled, and we read what it scrambled.
  std::vector<std::uint8_t> at_server = ours;
  ASSERT_TRUE(vqeng::descramble_packet(at_server.data(), static_cast<std::uint32_t>(at_server.size())));
  EXPECT_EQ(at_server, plain);
  std::vector<std::uint8_t> theirs = plain;
  ASSERT_TRUE(vqeng::scramble_packet(theirs.data(), static_cast<std::uint32_t>(theirs.size())));
  EXPECT_EQ(theirs, ours);
  ASSERT_TRUE(DecryptPacket(theirs.data(), static_cast<std::uint32_t>(theirs.size())));
  EXPECT_EQ(theirs, plain);
}

INSTANTIATE_TEST_SUITE_P(
    Packets, Scramble,
    testing::Values(ScrambleCase{24, 0, false}, ScrambleCase{24, 1, false},
                    ScrambleCase{24, 2, false}, ScrambleCase{24, 3, true},
                    ScrambleCase{24, 4, true}, ScrambleCase{24, 5, true},
                    ScrambleCase{24, 1000, true}, ScrambleCase{24, 7291, true},
                    ScrambleCase{25, 312 + 1, true}, ScrambleCase{26, 2, false},
                    ScrambleCase{26, 40, true}, ScrambleCase{16, 0, false},
                    ScrambleCase{2, 2, false}, ScrambleCase{2, 3, true},
                    ScrambleCase{15, 999, true}, ScrambleCase{27, 64, true}));

struct BadCase {
  const char* name;
  std::uint8_t type;
  std::uint16_t length;  // the header's claim
  std::uint32_t avail;   // bytes really there
};

class ScrambleRefuses : public testing::TestWithParam<BadCase> {};

// A length below the header or beyond the bytes there must never set the scrambler
// loose: nothing is changed, the caller hears false.
TEST_P(ScrambleRefuses, LengthsThatDoNotFit) {
  const BadCase c = GetParam();
  std::vector<std::uint8_t> bytes(64, 0x5A);
  bytes[0] = c.type;
  bytes[1] = PKT_STATUS_SCRAMBLED;
  vq::strm::store_be16(bytes.data() + 2, c.length);
  const std::vector<std::uint8_t> before = bytes;
  EXPECT_FALSE(EncryptPacket(bytes.data(), c.avail));
  EXPECT_FALSE(DecryptPacket(bytes.data(), c.avail));
  EXPECT_EQ(bytes, before);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, ScrambleRefuses,
    testing::Values(BadCase{"long_header_length_4", 16, 4, 64},
                    BadCase{"long_header_length_7", 2, 7, 64},
                    BadCase{"short_header_length_3", 24, 3, 64},
                    BadCase{"length_zero", 24, 0, 64},
                    BadCase{"length_past_bytes", 24, 65, 64},
                    BadCase{"fewer_bytes_than_a_header", 24, 4, 3}),
    [](const testing::TestParamInfo<BadCase>& info) { return std::string(info.param.name); });

}  // namespace
