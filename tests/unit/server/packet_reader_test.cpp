#include "packet_reader.h"

#include <gtest/gtest.h>

#include "script_client.h"

using namespace vqeng;

namespace {
std::vector<std::string> drain(PacketReader& r, Next* last) {
  std::vector<std::string> out;
  std::string p;
  Next n;
  while ((n = r.next(p)) == Next::Unit) out.push_back(p);
  *last = n;
  return out;
}
void feed(PacketReader& r, const std::string& s) {
  r.feed(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}
}  // namespace

TEST(PacketReader, SameUnitsWhereverTheStreamIsCut) {
  const std::string a = script::packet(24, 1, "hello");
  const std::string b = script::packet(16, 5, "");
  const std::string c = script::packet(26, 0, "");
  const std::string stream = a + b + c;
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    SCOPED_TRACE(cut);
    PacketReader r;
    Next last;
    feed(r, stream.substr(0, cut));
    auto got = drain(r, &last);
    feed(r, stream.substr(cut));
    auto rest = drain(r, &last);
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(last, Next::NeedMore);
    EXPECT_EQ(got, (std::vector<std::string>{a, b, c}));
  }
}

TEST(PacketReader, BadLengthsAreStickyErrors) {
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"length 3", std::string{24, 1, 0, 3}},
      {"long header type with length 6", std::string{16, 5, 0, 6, 0, 0}},
      {"length above the largest packet", std::string{24, 1, 0x3E, (char)0x81}},
      {"zero length", std::string{25, 1, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PacketReader r;
    feed(r, c.bytes);
    std::string p;
    EXPECT_EQ(r.next(p), Next::Error);
    EXPECT_FALSE(r.error().empty());
    feed(r, script::packet(24, 1, "ok"));
    EXPECT_EQ(r.next(p), Next::Error);
  }
}
