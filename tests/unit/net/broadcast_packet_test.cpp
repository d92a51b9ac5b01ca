// Discovery packets: byte-exact building, reading back every kind, and refusal of
// malformed datagrams. Each datagram is read from a heap buffer of exactly its size, so
// the sanitizer build catches any read past its end.
#include "net/broadcast_packet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "net/ip_address.h"
#include "net/tcp_util.h"
#include "test_bytes.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Built(c_strm_broadcast_pkt& pkt) {
  const std::uint8_t* p = pkt.getPacket();
  EXPECT_NE(nullptr, p);
  return Bytes(p, p + pkt.getPacketLength());
}

std::string Hex(const Bytes& b) { return vq::testing::Hex(b.data(), b.size()); }

// Reads `bytes` into a fresh object of `kind` from an exact-size copy.
unsigned Read(c_strm_broadcast_pkt& pkt, const Bytes& bytes,
              a_broadcast_flag flag = BROADCAST_WITH_HEADER) {
  // Not one byte more: a read past the datagram must land outside the allocation.
  std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[bytes.size()]);
  if (!bytes.empty()) std::memcpy(exact.get(), bytes.data(), bytes.size());
  return pkt.readData(exact.get(), static_cast<unsigned>(bytes.size()), nullptr, flag);
}

TEST(BroadcastPacket, TextFormRequestIsByteExact) {
  c_strm_broadcast_pkt pkt(BROADCAST_PKT_STRMBROAD, "abc", 0);
  const Bytes b = Built(pkt);
  ASSERT_EQ(46u, b.size());
  EXPECT_EQ(
      "5354524d42524f4144"
      "61626300"              // tag, name
      "000400010005"          // block: rest 4, version 1, 5 sections
      "000461626300"          // 0: name
      "01020000"              // 1: port, always 0 in a request
      "030101"                // 3: flag byte
      "04080000000000000000"  // 4: token
      "070204b0",             // 7: size value 1200
      Hex(b));
}

TEST(BroadcastPacket, ConnectionlessRequestWithoutNameIsByteExact) {
  c_strm_broadcast_pkt pkt(BROADCAST_PKT_VQP_REQUEST, nullptr, 0);
  const Bytes b = Built(pkt);
  ASSERT_EQ(61u, b.size());
  EXPECT_EQ(
      "1b00003d00000000"                        // type 27, status, length 61, zeros
      "12434f4e4e454354494f4e4c4553535f565150"  // 18, "CONNECTIONLESS_VQP"
      "00000000"
      "00"            // number, request
      "000400050005"  // block: version 5, 5 sections
      "0000"
      "01020000"
      "030101"
      "04080000000000000000"
      "070204b0",
      Hex(b));
}

class Packets : public ::testing::Test {
 protected:
  void SetUp() override { TcpUtil::Init(); }
  void TearDown() override { TcpUtil::Fini(); }

  // A full CONNECTIONLESS_VQP response: every section present.
  Bytes FullResponse() {
    c_strm_broadcast_pkt request(BROADCAST_PKT_VQP_REQUEST, nullptr, 0);
    request.setAltSrvName("wanted", 0xFFFFFFFFu);
    request.requestToken = 0x0102030405060708ull;
    c_strm_broadcast_pkt response(&request);
    EXPECT_EQ(nullptr, response.altServerName);  // a response starts without texts
    EXPECT_TRUE(response.hasSection(8));
    EXPECT_EQ(0x0102030405060708ull, response.requestToken);
    response.setAltSrvName("wanted", 0xFFFFFFFFu);
    response.setEngName("srv1", 0xFFFFFFFFu);
    response.setIPAddress(0xC0A80105u, 2638);
    response.setDBName("db", 0xFFFFFFFFu);
    response.setDBNSVersion(3);
    a_uuid id{0x11223344u, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};
    response.setUUID(id);
    return Built(response);
  }
};

TEST_F(Packets, ResponseReadsBackWithEveryField) {
  const Bytes b = FullResponse();
  c_strm_broadcast_pkt got(BROADCAST_PKT_UNKNOWN, nullptr, 0);
  ASSERT_EQ(1u, Read(got, b));
  EXPECT_EQ(BROADCAST_PKT_VQP_RESPONSE, got.kind);
  EXPECT_EQ(1u, got.requestResponse);
  EXPECT_EQ(1u, got.connectionlessNumber);
  EXPECT_EQ(5u, got.version);
  EXPECT_STREQ("srv1", got.serverName);
  EXPECT_STREQ("wanted", got.altServerName);
  EXPECT_STREQ("192.168.1.5", got.addressText);
  EXPECT_STREQ("db", got.dbName);
  EXPECT_EQ(2638, got.port);
  EXPECT_EQ(1u, got.flagByte);
  EXPECT_EQ(0x0102030405060708ull, got.requestToken);
  EXPECT_EQ(3u, got.dbnsVersion);
  EXPECT_EQ(1200u, got.sizeValue);
  EXPECT_TRUE(got.uuidSet);
  EXPECT_EQ(0x11223344u, got.uuid.data1);
  EXPECT_EQ(0x3FFu, got.sectionMask);
  // With the header taken off by the caller.
  c_strm_broadcast_pkt bare(BROADCAST_PKT_UNKNOWN, nullptr, 0);
  EXPECT_EQ(1u, Read(bare, Bytes(b.begin() + kVqpPacketHeaderBytes, b.end()),
                     BROADCAST_HEADER_TAKEN));
  EXPECT_STREQ("srv1", bare.serverName);
}

TEST_F(Packets, TextFormResponseToAVersionOneRequestIsVersionFive) {
  c_strm_broadcast_pkt request(BROADCAST_PKT_STRMBROAD, "abc", 0);
  c_strm_broadcast_pkt response(&request);
  EXPECT_EQ(BROADCAST_PKT_STRMBRESP, response.kind);
  EXPECT_EQ(5u, response.version);
  response.setEngName("abc", 0xFFFFFFFFu);
  response.port = 2638;
  const Bytes b = Built(response);
  c_strm_broadcast_pkt got(BROADCAST_PKT_UNKNOWN, nullptr, 0);
  ASSERT_EQ(1u, Read(got, b));
  EXPECT_EQ(BROADCAST_PKT_STRMBRESP, got.kind);
  EXPECT_STREQ("abc", got.serverName);
  EXPECT_EQ(2638, got.port);  // a response writes its port

  // The request reads back too; an object of the other text kind refuses it.
  const Bytes req = Built(request);
  c_strm_broadcast_pkt as_request(BROADCAST_PKT_STRMBROAD, nullptr, 0);
  EXPECT_EQ(1u, Read(as_request, req));
  c_strm_broadcast_pkt as_response(BROADCAST_PKT_STRMBRESP, nullptr, 0);
  EXPECT_EQ(0u, Read(as_response, req));
  c_strm_broadcast_pkt tagless(BROADCAST_PKT_STRMBROAD, nullptr, 1);
  EXPECT_EQ(0u, Read(tagless, req));
}

TEST_F(Packets, OldResponseStopsAfterItsSecondSection) {
  // STRMBRESP of version 1: what follows its second section is not read.
  Bytes b = {'S',  'T',  'R', 'M', 'B', 'R', 'E',  'S',  'P',
             'x',  0,    0,   4,   0,   1,   0,    3,     // version 1, three sections
             0,    2,    'x', 0,   1,   2,   0x0A, 0x4E,  // name, port 2638
             0xEE, 0xEE, 0xEE};                           // not a section
  c_strm_broadcast_pkt got(BROADCAST_PKT_UNKNOWN, nullptr, 0);
  ASSERT_EQ(1u, Read(got, b));
  EXPECT_EQ(2638, got.port);
}

TEST_F(Packets, EveryShorterDatagramIsRefused) {
  const Bytes full = FullResponse();
  for (std::size_t cut = 0; cut < full.size(); ++cut) {
    SCOPED_TRACE(cut);
    Bytes b(full.begin(), full.begin() + static_cast<long>(cut));
    // The header's length matches the short datagram, so only the content can refuse it;
    // a datagram that ends right after its 32-byte header is a packet without sections.
    if (cut >= 4) {
      b[2] = static_cast<std::uint8_t>(cut >> 8);
      b[3] = static_cast<std::uint8_t>(cut);
    }
    c_strm_broadcast_pkt got(BROADCAST_PKT_UNKNOWN, nullptr, 0);
    EXPECT_EQ(cut == kVqpHeaderBytes ? 1u : 0u, Read(got, b));
  }
}

// Offsets in FullResponse(): header 0-31, block header 32-37, then section 0 at 38:
// tag, length 5, "srv1\0".
constexpr std::size_t kBlock = 32;
constexpr std::size_t kFirstSection = 38;

TEST_F(Packets, MalformedDatagramsAreRefused) {
  const Bytes full = FullResponse();
  ASSERT_EQ(0, full[kFirstSection]);
  ASSERT_EQ(5, full[kFirstSection + 1]);
  const struct {
    const char* what;
    void (*damage)(Bytes&);
  } cases[] = {
      {"header length above the datagram", [](Bytes& b) { b[3] += 1; }},
      {"header length below the datagram", [](Bytes& b) { b[3] -= 1; }},
      {"tag length not 18", [](Bytes& b) { b[8] = 17; }},
      {"tag text", [](Bytes& b) { b[9] = 'X'; }},
      {"request/response byte 2", [](Bytes& b) { b[31] = 2; }},
      {"block rest length past the end", [](Bytes& b) { b[kBlock] = 0xFF; }},
      {"block rest length below 4", [](Bytes& b) { b[kBlock + 1] = 3; }},
      {"more sections than sent", [](Bytes& b) { b[kBlock + 5] += 1; }},
      {"section length past the end", [](Bytes& b) { b[kFirstSection + 1] = 0xFF; }},
      {"name without its zero byte", [](Bytes& b) { b[kFirstSection + 6] = '!'; }},
      {"trailing bytes at version 5",
       [](Bytes& b) {
         b.push_back(0);
         b[3] += 1;
       }},
      {"no sections but bytes left at version 5", [](Bytes& b) { b[kBlock + 5] = 0; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes b = full;
    c.damage(b);
    c_strm_broadcast_pkt got(BROADCAST_PKT_UNKNOWN, nullptr, 0);
    EXPECT_EQ(0u, Read(got, b));
  }
}

// A datagram of version `version` with the given sections after a request header.
Bytes Datagram(std::uint16_t version, std::uint16_t count, const Bytes& sections,
               const Bytes& trailing = {}) {
  c_strm_broadcast_pkt head(BROADCAST_PKT_VQP_REQUEST, nullptr, 0);
  head.version = 0;
  Bytes b = Built(head);
  const Bytes block = {0,
                       4,
                       static_cast<std::uint8_t>(version >> 8),
                       static_cast<std::uint8_t>(version),
                       static_cast<std::uint8_t>(count >> 8),
                       static_cast<std::uint8_t>(count)};
  b.insert(b.end(), block.begin(), block.end());
  b.insert(b.end(), sections.begin(), sections.end());
  b.insert(b.end(), trailing.begin(), trailing.end());
  b[2] = static_cast<std::uint8_t>(b.size() >> 8);
  b[3] = static_cast<std::uint8_t>(b.size());
  return b;
}

TEST_F(Packets, SectionRules) {
  const struct {
    const char* what;
    Bytes bytes;
    unsigned ok;
    std::uint16_t mask;
  } cases[] = {
      {"unknown tag skipped", Datagram(5, 2, {12, 2, 9, 9, 3, 1, 7}), 1, 1u << 3},
      {"later version may trail", Datagram(6, 1, {3, 1, 7}, {1, 2, 3}), 1, 1u << 3},
      {"later version, no sections", Datagram(6, 0, {}, {1, 2}), 1, 0},
      {"empty number sections", Datagram(5, 3, {1, 0, 5, 0, 7, 0}), 1, 0xA2},
      {"port section of one byte", Datagram(5, 1, {1, 1, 9}), 0, 0},
      {"token section short", Datagram(5, 1, {4, 4, 1, 2, 3, 4}), 0, 0},
      {"size section of one byte", Datagram(5, 1, {7, 1, 1}), 0, 0},
      {"short uuid ignored", Datagram(5, 1, {9, 2, 1, 2}), 1, 1u << 9},
      {"empty name", Datagram(5, 1, {0, 0}), 1, 1},
      {"text with zero inside", Datagram(5, 1, {6, 4, 'a', 0, 'b', 0}), 1, 1u << 6},
      {"text without zero", Datagram(5, 1, {6, 2, 'a', 'b'}), 0, 0},
      {"section header cut", Datagram(5, 1, {6}), 0, 0},
      // A later version may trail bytes, but a last section longer than what is left is
      // still malformed: its payload would be read past the datagram.
      {"later version, flag section one byte past the end", Datagram(6, 1, {3, 2, 7}), 0, 0},
      {"later version, token one byte past the end",
       Datagram(6, 1, {4, 8, 1, 2, 3, 4, 5, 6, 7}), 0, 0},
      {"later version, name one byte past the end", Datagram(6, 1, {0, 3, 'a', 'b'}), 0, 0},
      {"later version, second section one byte past the end",
       Datagram(7, 2, {3, 1, 7, 7, 2, 4}), 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c_strm_broadcast_pkt got(BROADCAST_PKT_UNKNOWN, nullptr, 0);
    EXPECT_EQ(c.ok, Read(got, c.bytes));
    if (c.ok != 0) {
      EXPECT_EQ(c.mask, got.sectionMask);
    }
  }
  c_strm_broadcast_pkt got(BROADCAST_PKT_UNKNOWN, nullptr, 0);
  ASSERT_EQ(1u, Read(got, Datagram(5, 1, {6, 4, 'a', 0, 'b', 0})));
  EXPECT_STREQ("a", got.dbName);
}

TEST_F(Packets, AddressScopesAreCutOff) {
  c_strm_broadcast_pkt got(BROADCAST_PKT_UNKNOWN, nullptr, 0);
  ASSERT_EQ(1u,
            Read(got, Datagram(5, 1, {2, 10, 'f', 'e', '8', '0', ':', ':', '1', '%', '2', 0})));
  EXPECT_STREQ("fe80::1", got.addressText);

  c_strm_broadcast_pkt pkt(BROADCAST_PKT_VQP_RESPONSE, "s", 0);
  pkt.setIPAddress("fe80::1%eth0");
  EXPECT_STREQ("fe80::1", pkt.addressText);
  pkt.setIPAddress(IPAddress("(::1%3):2638"));
  EXPECT_STREQ("::1", pkt.addressText);
  EXPECT_TRUE(pkt.hasSection(2));
}

TEST_F(Packets, TextTooLongForItsSectionIsCut) {
  const std::string long_name(300, 'n');
  c_strm_broadcast_pkt pkt(BROADCAST_PKT_VQP_RESPONSE, long_name.c_str(), 0);
  EXPECT_EQ(kMaxSectionText, std::strlen(pkt.serverName));
  pkt.setEngName("abcdef", 3);
  EXPECT_STREQ("abc", pkt.serverName);
  pkt.setEngName(long_name.c_str(), 0xFFFFFFFFu);
  const Bytes b = Built(pkt);
  c_strm_broadcast_pkt got(BROADCAST_PKT_UNKNOWN, nullptr, 0);
  ASSERT_EQ(1u, Read(got, b));
  EXPECT_EQ(std::string(kMaxSectionText, 'n'), got.serverName);
}

TEST_F(Packets, BuiltBytesStayUntilReset) {
  c_strm_broadcast_pkt pkt(BROADCAST_PKT_STRMBROAD, "abc", 0);
  const Bytes before = Built(pkt);
  pkt.setEngName("abcdef", 0xFFFFFFFFu);
  EXPECT_EQ(before, Built(pkt));
  pkt.reset();
  EXPECT_EQ(before.size() + 6, Built(pkt).size());  // three more bytes in header and section
  c_strm_broadcast_pkt unknown(BROADCAST_PKT_UNKNOWN, nullptr, 0);
  EXPECT_EQ(0, unknown.sectionMask);
  c_strm_broadcast_pkt db(BROADCAST_PKT_VQP_REQUEST, nullptr, 0);
  db.setDBName(nullptr, 0xFFFFFFFFu);
  EXPECT_TRUE(db.hasSection(6));  // an empty database-name section
  EXPECT_EQ(61u + 2, db.getPacketLength());
}

}  // namespace
