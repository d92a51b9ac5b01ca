#include "items.h"

#include <gtest/gtest.h>

#include "script_client.h"
#include "wire.h"

using namespace vqeng;

namespace {
// The bodies of the packets an ItemWriter produced, after checking each header.
std::vector<std::string> bodies_of(const std::vector<std::string>& packets, std::uint16_t max) {
  std::vector<std::string> out;
  for (const auto& p : packets) {
    EXPECT_LE(p.size(), max);
    EXPECT_EQ(p[0], 24);
    EXPECT_EQ(load_be16(reinterpret_cast<const std::uint8_t*>(p.data()) + 2), p.size());
    out.push_back(p.substr(4));
  }
  return out;
}
}  // namespace

TEST(ItemWriter, ShortAndLongBoundary) {
  ItemWriter w(16000, true);
  w.put_bytes(107, std::string(250, 'a'));
  w.put_bytes(107, std::string(251, 'b'));
  const auto pk = w.finish();
  ASSERT_EQ(pk.size(), 1u);
  EXPECT_EQ(pk[0][1], 0x01);  // end of message
  const std::string body = pk[0].substr(4);
  EXPECT_EQ(static_cast<std::uint8_t>(body[0]), 251);  // 250-byte payload: length byte 251
  const std::string rest = body.substr(252);
  // 251 bytes: (252, code) (5, 192, total) (3, 195, N) raw (1, 194)
  EXPECT_EQ(rest.substr(0, 2), (std::string{(char)252, 107}));
  EXPECT_EQ(rest.substr(2, 6), (std::string{5, (char)192} + script::u32le(251)));
  EXPECT_EQ(rest.substr(8, 4), (std::string{3, (char)195} + script::u16le(251)));
  EXPECT_EQ(rest.substr(12 + 251), (std::string{1, (char)194}));
}

TEST(ItemWriter, LongValuesNeverSplitAnItemAcrossPackets) {
  for (bool new_form : {true, false}) {
    for (std::uint16_t max : {std::uint16_t{500}, std::uint16_t{1000}, std::uint16_t{7300}}) {
      SCOPED_TRACE(std::to_string(max) + (new_form ? " new" : " old"));
      ItemWriter w(max, new_form);
      std::string value;
      for (int i = 0; i < 5000; ++i) value.push_back(static_cast<char>('a' + i % 26));
      w.put_bytes(22, std::string(100, 'x'));
      w.put_bytes(107, value);
      w.put_empty(0);
      const auto bodies = bodies_of(w.finish(), max);
      // Each body parses on its own: no item runs into the next packet.
      for (const auto& b : bodies) {
        std::size_t i = 0;
        while (i < b.size()) {
          const auto lb = static_cast<std::uint8_t>(b[i]);
          std::size_t n = lb >= 252 ? 2 : lb + 1u;
          if (lb == 3 && static_cast<std::uint8_t>(b[i + 1]) == 195)
            n += script::rd16(b, i + 2);
          i += n;
          ASSERT_LE(i, b.size());
        }
      }
      ItemReader r(&bodies);
      Item it;
      ASSERT_EQ(r.next(it), ItemReader::Result::Ok);
      ASSERT_EQ(r.next(it), ItemReader::Result::Ok);
      std::string got;
      ASSERT_EQ(r.read_value(it, got, 1 << 20), ItemReader::Result::Ok) << r.error();
      EXPECT_EQ(got, value);
      ASSERT_EQ(r.next(it), ItemReader::Result::Ok);
      EXPECT_EQ(it.code, 0);
      EXPECT_EQ(r.next(it), ItemReader::Result::EndOfMessage);
    }
  }
}

TEST(ItemWriter, EmptyMessageIsOneEmptyEndPacket) {
  ItemWriter w(7300, true);
  const auto pk = w.finish(0x02);
  ASSERT_EQ(pk.size(), 1u);
  EXPECT_EQ(pk[0], (std::string{24, 0x03, 0, 4}));
}

TEST(ItemReader, MalformedBodies) {
  struct Case {
    const char* name;
    std::vector<std::string> bodies;
  };
  const Case cases[] = {
      {"length byte 0", {std::string{0, 5}}},
      {"length past the packet end", {std::string{10, 22, 'a', 'b'}}},
      {"lone length byte", {std::string{3}}},
      {"item split over two packets", {std::string{5, 22, 'a'}, std::string{"bc"}}},
      {"new-form piece past the packet end",
       {std::string{(char)252, 107, 5, (char)192, 10, 0, 0, 0, 3, (char)195, 10, 0, 'a', 'b'}}},
      {"long value shorter than announced",
       {std::string{(char)252, 107, 5, (char)192, 10, 0, 0, 0, 3, (char)193, 'a', 'b', 1,
                    (char)194}}},
      {"long value without its total", {std::string{(char)252, 107, 1, (char)194}}},
      {"foreign item inside a long value",
       {std::string{(char)252, 107, 5, (char)192, 2, 0, 0, 0, 1, 66}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ItemReader r(&c.bodies);
    Item it;
    ItemReader::Result res = r.next(it);
    if (res == ItemReader::Result::Ok) {
      std::string v;
      res = r.read_value(it, v, 1 << 20);
      if (res == ItemReader::Result::Ok) res = r.next(it);
    }
    EXPECT_EQ(res, ItemReader::Result::Error);
    EXPECT_FALSE(r.error().empty());
    EXPECT_EQ(r.next(it), ItemReader::Result::Error);  // sticky
  }
}

TEST(ItemReader, SpecialLengthsHaveNoPayload) {
  const std::vector<std::string> bodies{std::string{(char)253, (char)134, (char)255, 9, 1, 0}};
  ItemReader r(&bodies);
  Item it;
  ASSERT_EQ(r.next(it), ItemReader::Result::Ok);
  EXPECT_EQ(it.length, 252);
  EXPECT_EQ(it.payload_len(), 0u);
  ASSERT_EQ(r.next(it), ItemReader::Result::Ok);
  EXPECT_EQ(it.length, 254);
  ASSERT_EQ(r.next(it), ItemReader::Result::Ok);
  EXPECT_EQ(it.code, 0);
  EXPECT_EQ(r.next(it), ItemReader::Result::EndOfMessage);
}

// The packets hold exactly the items written, in order, each packet filled as far as the
// next item allows, however the writes are mixed: short items and specials going in
// between long values, full packets taken out while the reply is written, and items
// taken out after a mark and written again later.
TEST(ItemWriter, PacketsHoldExactlyTheItemsWritten) {
  for (std::uint16_t max : {std::uint16_t{64}, std::uint16_t{300}, std::uint16_t{7300}}) {
    SCOPED_TRACE(max);
    ItemWriter w(max, true);
    std::vector<std::string> packets;
    std::string expected;
    auto take = [&] {
      for (auto& p : w.take_full_packets()) packets.push_back(std::move(p));
    };
    for (int row = 0; row < 200; ++row) {
      const std::string fixed(static_cast<std::size_t>(row % 9), static_cast<char>(row));
      w.put(112, fixed.data(), fixed.size());
      expected += script::item(112, fixed);
      w.put_empty(103);
      expected += script::item(103, "");
      w.put_special(107, 253);
      expected += std::string{static_cast<char>(254), 107};
      if (row % 50 == 7) {
        const std::string big(400 + row, 'L');
        w.put_bytes(107, big);  // a long value: its items are checked by the reader below
        expected += "<long>";
      }
      if (row % 16 == 15) take();
    }
    const ItemWriter::Mark m = w.mark();
    w.put(120, "later", 5);
    w.put_bytes(107, std::string(300, 'm'));
    const std::string moved = w.take_since(m);
    w.put(121, "first", 5);
    expected += script::item(121, "first");
    w.put_raw_items(moved);
    expected += script::item(120, "later") + "<long>";
    for (auto& p : w.finish()) packets.push_back(std::move(p));

    const auto bodies = bodies_of(packets, max);
    for (std::size_t i = 0; i + 1 < packets.size(); ++i) EXPECT_EQ(packets[i][1], 0);
    EXPECT_EQ(packets.back()[1], 1);
    // Read back, long values standing as "<long>" (with their content checked).
    ItemReader r(&bodies);
    std::string got;
    Item it;
    while (r.next(it) == ItemReader::Result::Ok) {
      if (it.is_long()) {
        std::string v;
        ASSERT_EQ(r.read_value(it, v, 1 << 20), ItemReader::Result::Ok) << r.error();
        EXPECT_GE(v.size(), 300u);
        got += "<long>";
      } else if (it.special()) {
        got += std::string{static_cast<char>(it.length + 1), static_cast<char>(it.code)};
      } else {
        got += script::item(it.code, std::string(reinterpret_cast<const char*>(it.payload),
                                                 it.length));
      }
    }
    EXPECT_EQ(r.error(), "");
    EXPECT_EQ(got, expected);
    // A packet ends early only where the next item would not have fitted (a packet
    // that a long value's piece starts may end earlier: see put_bytes).
    for (std::size_t i = 0; i + 1 < bodies.size(); ++i) {
      const auto lb = static_cast<std::uint8_t>(bodies[i + 1][0]);
      if (lb == 3 && static_cast<std::uint8_t>(bodies[i + 1][1]) == 195) continue;
      const std::size_t first = lb >= 252 ? 2 : lb + 1u;
      EXPECT_GT(packets[i].size() + first, max) << "packet " << i;
    }
  }
}
