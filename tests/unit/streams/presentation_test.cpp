// The presentation layer over a session connection with a fake link: the items'
// wire bytes, long values in both piece forms, pieces and packets, reading back what
// the stand-in server's own item writer produces, and replies that lie about their
// lengths.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "items.h"  // the stand-in server's item codec, an independent judge
#include "pres_harness.h"

namespace {

using vq::testing::PresHarness;
using Bytes = std::vector<std::uint8_t>;

Bytes Counting(std::size_t n, std::uint8_t seed = 0) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 13);
  return b;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The items of a long value as the old form writes them: 251-byte items 193.
Bytes OldFormPieces(const Bytes& value) {
  Bytes out;
  for (std::size_t at = 0; at < value.size(); at += 250) {
    const std::size_t n = std::min<std::size_t>(250, value.size() - at);
    out.push_back(static_cast<std::uint8_t>(n + 1));
    out.push_back(193);
    out.insert(out.end(), value.begin() + at, value.begin() + at + n);
  }
  return out;
}

struct EncodeCase {
  const char* name;
  bool new_form;
  std::function<a_sqlpres_code(a_strm_conn)> send;
  Bytes expected;  // the items of the message
};

TEST(PresEncode, ItemsAreWrittenByteForByte) {
  const Bytes v250 = Counting(250), v251 = Counting(251, 3), v1000 = Counting(1000, 7);
  const EncodeCase cases[] = {
      {"command", true, [](a_strm_conn h) { return SQLPresSendCommand(h, 7, 0); }, {1, 7}},
      {"handle", true, [](a_strm_conn h) { return SQLPresSendHandle(h, 9, 0x01020304, 0); },
       {5, 9, 4, 3, 2, 1}},
      {"250 bytes are one item", true,
       [&](a_strm_conn h) { return SQLPresSendBytes(h, 40, v250.data(), 250, 0); },
       Cat({{251, 40}, v250})},
      {"251 bytes are a long value", false,
       [&](a_strm_conn h) { return SQLPresSendBytes(h, 40, v251.data(), 251, 0); },
       Cat({{252, 40, 5, 192, 251, 0, 0, 0}, OldFormPieces(v251), {1, 194}})},
      {"1000 bytes, new form", true,
       [&](a_strm_conn h) { return SQLPresSendBytes(h, 41, v1000.data(), 1000, 0); },
       Cat({{252, 41, 5, 192, 0xE8, 0x03, 0, 0, 3, 195, 0xE8, 0x03}, v1000, {1, 194}})},
      {"1000 bytes, old form", false,
       [&](a_strm_conn h) { return SQLPresSendBytes(h, 41, v1000.data(), 1000, 0); },
       Cat({{252, 41, 5, 192, 0xE8, 0x03, 0, 0}, OldFormPieces(v1000), {1, 194}})},
      {"empty name", true, [](a_strm_conn h) { return SQLPresSendName(h, "", 0); }, {1, 134}},
      {"null name", true, [](a_strm_conn h) { return SQLPresSendName(h, nullptr, 0); }, {1, 134}},
      {"name", true, [](a_strm_conn h) { return SQLPresSendName(h, "ab", 0); },
       {3, 134, 'a', 'b'}},
      {"special lengths", true,
       [](a_strm_conn h) {
         for (int n = 251; n <= 254; ++n) {
           std::uint8_t* at = nullptr;
           const a_sqlpres_code rc = SQLPresSend(h, 50, &at, static_cast<std::uint8_t>(n), 0);
           if (rc != SQLPRES_OK) return rc;
         }
         return SQLPRES_OK;
       },
       {252, 50, 253, 50, 254, 50, 255, 50}},
      {"a begun value of 10 takes only 10 of 12 bytes", false,
       [](a_strm_conn h) {
         const Bytes six = Counting(6);
         if (SQLPresSendBegin(h, 42, 10, 0) != SQLPRES_OK) return SQLPRES_FAILED;
         for (int i = 0; i < 2; ++i) {
           const std::uint8_t* p = six.data();
           if (SQLPresSendPieceSafe(h, &p, 6, 0) != SQLPRES_OK) return SQLPRES_FAILED;
         }
         return SQLPresSendEnd(h, 0);
       },
       // one piece of 10: six bytes of the first call, four of the second
       Cat({{252, 42, 5, 192, 10, 0, 0, 0, 11, 193}, Counting(6), Counting(4), {1, 194}})},
  };
  for (const EncodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    PresHarness pres(7300, c.new_form);
    ASSERT_EQ(c.send(pres.h()), SQLPRES_OK);
    ASSERT_EQ(SQLPresSyncPoint(pres.h(), 0, 0), SQLPRES_OK);
    ASSERT_EQ(pres.Sent().size(), 1u);
    EXPECT_EQ(pres.Sent()[0][1], PKT_STATUS_EOM);
    EXPECT_EQ(pres.SentItems(), c.expected);
  }
}

TEST(PresEncode, ALengthOf255CannotBeWritten) {
  PresHarness pres;
  std::uint8_t* at = nullptr;
  EXPECT_EQ(SQLPresSend(pres.h(), 1, &at, 255, 0), SQLPRES_FAILED);
  ASSERT_EQ(SQLPresSyncPoint(pres.h(), 0, 0), SQLPRES_OK);
  EXPECT_EQ(pres.SentItems(), Bytes{});
}

// With 20 bytes of room left the piece starts a new packet, which it fills exactly:
// header, item 195, raw bytes.
TEST(PresEncode, ANewFormPieceNeverCrossesAPacket) {
  PresHarness pres(1000, true);
  const Bytes filler = Counting(240);
  for (int i = 0; i < 4; ++i) ASSERT_EQ(SQLPresSendBytes(pres.h(), 9, filler.data(), 240, 0), 0);
  const Bytes value = Counting(1200, 5);
  ASSERT_EQ(SQLPresSendBegin(pres.h(), 43, 1200, 0), SQLPRES_OK);
  ASSERT_EQ(pres.conn()->room_left(), 20);
  const std::uint8_t* p = value.data();
  ASSERT_EQ(SQLPresSendPieceSafe(pres.h(), &p, 1200, 0), SQLPRES_OK);
  ASSERT_EQ(SQLPresSendEnd(pres.h(), 0), SQLPRES_OK);
  ASSERT_EQ(SQLPresSyncPoint(pres.h(), 0, 0), SQLPRES_OK);

  const auto packets = pres.Sent();
  ASSERT_EQ(packets.size(), 3u);
  EXPECT_EQ(packets[0].size(), 4u + 4 * 242 + 8) << "ends with the value's header items";
  EXPECT_EQ(packets[1].size(), 1000u);
  EXPECT_EQ(Bytes(packets[1].begin() + 4, packets[1].begin() + 8), (Bytes{3, 195, 0xE0, 0x03}))
      << "a piece of 992 bytes";
  EXPECT_EQ(Bytes(packets[2].begin() + 4, packets[2].begin() + 8), (Bytes{3, 195, 208, 0}));
  for (std::size_t i = 0; i < 2; ++i) EXPECT_EQ(packets[i][1], 0);
  EXPECT_EQ(packets[2][1], PKT_STATUS_EOM);

  // The server's reader gets the value back whole.
  std::vector<std::string> bodies;
  for (const auto& pk : packets) bodies.emplace_back(pk.begin() + 4, pk.end());
  vqeng::ItemReader reader(&bodies);
  vqeng::Item item;
  for (int i = 0; i < 4; ++i) ASSERT_EQ(reader.next(item), vqeng::ItemReader::Result::Ok);
  ASSERT_EQ(reader.next(item), vqeng::ItemReader::Result::Ok);
  std::string out;
  ASSERT_EQ(reader.read_value(item, out, 1 << 20), vqeng::ItemReader::Result::Ok) << reader.error();
  EXPECT_EQ(Bytes(out.begin(), out.end()), value);
}

TEST(PresEncode, TheMaximumPacketSizeIsOnlyLowered) {
  PresHarness pres;
  EXPECT_EQ(SQLPresSetMaxBufferSize(pres.h(), 65535), 16000);
  // A packet this small could not hold the longest item.
  EXPECT_EQ(SQLPresSetMaxBufferSize(pres.h(), 0), 16000);
  EXPECT_EQ(SQLPresSetMaxBufferSize(pres.h(), 299), 16000);
  EXPECT_EQ(SQLPresSetMaxBufferSize(pres.h(), 4096), 4096);
  EXPECT_EQ(SQLPresSetMaxBufferSize(pres.h(), 8000), 4096);
}

// ---- reading ------------------------------------------------------------------------

// Sends the server writer's packets to the connection.
void DeliverMessage(PresHarness& pres, vqeng::ItemWriter& w) {
  for (const std::string& p : w.finish()) ASSERT_TRUE(pres.Deliver(p));
}

Bytes ReadLong(PresHarness& pres, std::uint32_t capacity, a_sqlpres_code* end_rc) {
  std::uint32_t total = 0;
  EXPECT_EQ(SQLPresReceiveBegin(pres.h(), &total), SQLPRES_OK);
  Bytes out(total + 16, 0xEE);
  std::uint8_t* at = out.data();
  for (int guard = 0; guard < 100000; ++guard) {
    if (SQLPresReceivePieceSafe(pres.h(), &at, capacity) == 0) break;
  }
  out.resize(static_cast<std::size_t>(at - out.data()));
  *end_rc = SQLPresReceiveEnd(pres.h());
  return out;
}

TEST(PresDecode, LongValuesComeBackInEitherFormWithSmallCapacities) {
  for (const bool new_form : {true, false}) {
    for (const std::uint32_t capacity : {1u, 100u, 251u, 5000u}) {
      SCOPED_TRACE(std::string(new_form ? "new" : "old") + " form, capacity " +
                   std::to_string(capacity));
      PresHarness pres(1000, new_form);
      const Bytes value = Counting(3000, 9);
      vqeng::ItemWriter w(1000, new_form);
      w.put(5, "abc");
      w.put_bytes(61, value.data(), value.size());
      w.put_empty(0);
      DeliverMessage(pres, w);

      a_sqlpres_item item{};
      ASSERT_EQ(SQLPresReceiveStruct(pres.h(), &item), SQLPRES_OK);
      EXPECT_EQ(item.code, 5);
      ASSERT_EQ(item.length, 3);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(item.payload), 3), "abc");
      ASSERT_EQ(SQLPresReceiveStruct(pres.h(), &item), SQLPRES_OK);
      EXPECT_EQ(item.code, 61);
      EXPECT_EQ(item.length, 251);
      EXPECT_EQ(item.payload, nullptr);
      a_sqlpres_code end = 99;
      EXPECT_EQ(ReadLong(pres, capacity, &end), value);
      EXPECT_EQ(end, SQLPRES_OK);
      ASSERT_EQ(SQLPresReceiveStruct(pres.h(), &item), SQLPRES_OK);
      EXPECT_EQ(item.code, 0);
      a_sqlpres_code word = 99;
      EXPECT_EQ(SQLPresIsSyncPoint(pres.h(), &word), 1);
    }
  }
}

TEST(PresDecode, AValueThatEndsEarlyIsReportedAtItsEnd) {
  PresHarness pres;
  const Bytes part = Counting(300);
  Bytes items = {252, 61, 5, 192, 0xF4, 0x01, 0, 0};  // announces 500
  items.insert(items.end(), {3, 195, 0x2C, 0x01});
  items.insert(items.end(), part.begin(), part.end());
  items.insert(items.end(), {1, 194, 1, 0});
  ASSERT_TRUE(pres.DeliverItems(items));
  std::uint8_t code = 0, length = 0;
  const std::uint8_t* payload = nullptr;
  ASSERT_EQ(SQLPresReceive(pres.h(), &code, &length, &payload), SQLPRES_OK);
  a_sqlpres_code end = 99;
  EXPECT_EQ(ReadLong(pres, 1000, &end), part) << "the bytes that came are counted";
  EXPECT_EQ(end, SQLPRES_FAILED);
  ASSERT_EQ(SQLPresReceive(pres.h(), &code, &length, &payload), SQLPRES_OK);
  EXPECT_EQ(code, 0) << "reading goes on after the value";
}

TEST(PresDecode, ItemSixtyFourIsReturnedWithSeven) {
  PresHarness pres;
  ASSERT_TRUE(pres.DeliverItems({3, 64, 'x', 'y'}));
  std::uint8_t code = 0, length = 0;
  const std::uint8_t* payload = nullptr;
  EXPECT_EQ(SQLPresReceive(pres.h(), &code, &length, &payload), SQLPRES_SERVER_CLOSED);
  EXPECT_EQ(code, 64);
  EXPECT_EQ(length, 2);
}

// Replies whose lengths run past their packet, and other broken items: each is a
// protocol error, never a read past the packet.
struct MalformedCase {
  const char* name;
  Bytes items;
  bool long_value;  // read as a long value after its first item
};

TEST(PresDecode, LengthsThatOverrunThePacketAreProtocolErrors) {
  const MalformedCase cases[] = {
      {"length byte 0", {0, 5}, false},
      {"a length byte alone", {7}, false},
      {"a payload past the end", {10, 5, 1, 2, 3}, false},
      {"special length without its code", {252}, false},
      {"raw piece past the end", {252, 61, 5, 192, 100, 0, 0, 0, 3, 195, 100, 0, 1, 2, 3}, true},
      {"item 195 with one length byte", {252, 61, 5, 192, 100, 0, 0, 0, 2, 195, 100}, true},
      {"item 193 with a special length", {252, 61, 5, 192, 100, 0, 0, 0, 253, 193}, true},
      {"header item of the wrong length", {252, 61, 3, 192, 1, 0}, true},
      {"piece item cut short", {252, 61, 5, 192, 100, 0, 0, 0, 60, 193, 1, 2}, true},
  };
  for (const MalformedCase& c : cases) {
    SCOPED_TRACE(c.name);
    PresHarness pres;
    // The packet holds exactly these bytes, so any read past them would be outside it.
    ASSERT_TRUE(pres.DeliverItems(c.items));
    std::uint8_t code = 0, length = 0;
    const std::uint8_t* payload = nullptr;
    if (!c.long_value) {
      EXPECT_EQ(SQLPresReceive(pres.h(), &code, &length, &payload), SQLPRES_FAILED);
      continue;
    }
    ASSERT_EQ(SQLPresReceive(pres.h(), &code, &length, &payload), SQLPRES_OK);
    std::uint32_t total = 0;
    const a_sqlpres_code begin = SQLPresReceiveBegin(pres.h(), &total);
    if (begin != SQLPRES_OK) {
      EXPECT_EQ(begin, SQLPRES_FAILED);
      continue;
    }
    std::uint8_t buf[256];
    std::uint8_t* at = buf;
    EXPECT_EQ(SQLPresReceivePieceSafe(pres.h(), &at, sizeof buf), 0u);
    EXPECT_EQ(SQLPresReceiveEnd(pres.h()), SQLPRES_FAILED);
  }
}

// Short items are shown without being read, up to the first item the reader must
// handle itself or the end of the packet; reading them in one step leaves the reader
// where SQLPresReceive would have left it, and asking for more than the packet holds
// reads nothing.
TEST(PresDecode, ShortItemsAreShownThenReadInOneStep) {
  struct Case {
    const char* name;
    Bytes after;                // items behind a first item 9 read normally
    std::vector<int> shown;     // codes shown, with at most four asked for
    int next;                   // code SQLPresReceive gives after the shown ones are read
    a_sqlpres_code next_result;
  };
  const Case cases[] = {
      {"up to the end of the packet", {3, 10, 'b', 'c', 1, 11}, {10, 11}, -1, SQLPRES_OK},
      {"at most four", {1, 10, 1, 11, 1, 12, 1, 13, 1, 14}, {10, 11, 12, 13}, 14, SQLPRES_OK},
      {"before a long value", {1, 10, 252, 61, 5, 192, 1, 0, 0, 0, 2, 193, 'x', 1, 194},
       {10}, 61, SQLPRES_OK},
      {"before the server's closing item", {1, 10, 1, 64}, {10}, 64, SQLPRES_SERVER_CLOSED},
      {"before a length past the packet", {1, 10, 9, 11, 1}, {10}, -1, SQLPRES_FAILED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PresHarness pres;
    ASSERT_TRUE(pres.DeliverItems(Cat({{2, 9, 'a'}, c.after})));
    std::uint8_t code = 0, length = 0;
    const std::uint8_t* payload = nullptr;
    // Nothing is shown before the packet is the reader's.
    a_sqlpres_item items[4];
    std::uint32_t ends[4] = {};
    EXPECT_EQ(SQLPresPeekShortItems(pres.h(), items, 4, ends), 0u);
    ASSERT_EQ(SQLPresReceive(pres.h(), &code, &length, &payload), SQLPRES_OK);
    ASSERT_EQ(code, 9);
    const std::uint32_t n = SQLPresPeekShortItems(pres.h(), items, 4, ends);
    std::vector<int> shown;
    std::uint32_t end = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
      shown.push_back(items[i].code);
      end += (items[i].length + 2u);  // length byte, code, payload
      EXPECT_EQ(ends[i], end) << i;
    }
    EXPECT_EQ(shown, c.shown);
    if (n != 0 && items[0].code == 10 && items[0].length == 2) {
      EXPECT_EQ(Bytes(items[0].payload, items[0].payload + 2), (Bytes{'b', 'c'}));
    }
    // Past the packet's end nothing is read.
    EXPECT_EQ(SQLPresSkipShortItems(pres.h(), static_cast<std::uint32_t>(c.after.size()) + 1),
              SQLPRES_FAILED);
    ASSERT_EQ(SQLPresSkipShortItems(pres.h(), end), SQLPRES_OK);
    if (c.next < 0 && c.next_result == SQLPRES_OK) {
      EXPECT_EQ(SQLPresPeekShortItems(pres.h(), items, 4, ends), 0u);  // the packet is read
      continue;
    }
    EXPECT_EQ(SQLPresReceive(pres.h(), &code, &length, &payload), c.next_result);
    if (c.next >= 0) {
      EXPECT_EQ(code, c.next);
    }
  }
}

TEST(PresDecode, WaitsGoThroughTheNotifier) {
  PresHarness pres;
  std::uint8_t code = 0, length = 0;
  const std::uint8_t* payload = nullptr;
  // Nothing has come and the notifier gives up.
  EXPECT_EQ(SQLPresReceive(pres.h(), &code, &length, &payload), SQLPRES_BLOCK_FAILED);
  // The reply arrives while the reader waits.
  pres.notifier().tries = 1;
  pres.notifier().before_block = [&] { pres.DeliverItems({2, 9, 'z'}); };
  ASSERT_EQ(SQLPresReceive(pres.h(), &code, &length, &payload), SQLPRES_OK);
  EXPECT_EQ(code, 9);
  EXPECT_EQ(payload[0], 'z');
}

TEST(PresDecode, ADeadConnectionClearsBothLongValueFlags) {
  PresHarness pres;
  ASSERT_TRUE(pres.DeliverItems({252, 61, 5, 192, 100, 0, 0, 0}, false));
  std::uint8_t code = 0, length = 0;
  const std::uint8_t* payload = nullptr;
  ASSERT_EQ(SQLPresReceive(pres.h(), &code, &length, &payload), SQLPRES_OK);
  std::uint32_t total = 0;
  ASSERT_EQ(SQLPresReceiveBegin(pres.h(), &total), SQLPRES_OK);
  ASSERT_EQ(SQLPresSendBegin(pres.h(), 3, 1000, 0), SQLPRES_OK);
  pres.conn()->handle_dead_connection(true);
  std::uint8_t buf[16];
  std::uint8_t* at = buf;
  EXPECT_EQ(SQLPresReceivePieceSafe(pres.h(), &at, sizeof buf), 0u);
  EXPECT_EQ(SQLPresReceiveEnd(pres.h()), SQLPRES_DEAD);
  EXPECT_EQ(SQLPresSendCommand(pres.h(), 1, 0), SQLPRES_DEAD);
  EXPECT_EQ(pres.state()->sending, 0);
  EXPECT_EQ(pres.state()->receiving, 0);
}

TEST(PresDecode, ResyncDropsTheRestOfTheReplyAndAnUnfinishedValue) {
  PresHarness pres;
  ASSERT_TRUE(pres.DeliverItems({252, 61, 5, 192, 100, 0, 0, 0, 2, 5, 1}, false));
  ASSERT_TRUE(pres.DeliverItems({2, 5, 2}, true));
  ASSERT_TRUE(pres.DeliverItems({2, 6, 3}, true));
  std::uint8_t code = 0, length = 0;
  const std::uint8_t* payload = nullptr;
  ASSERT_EQ(SQLPresReceive(pres.h(), &code, &length, &payload), SQLPRES_OK);
  std::uint32_t total = 0;
  ASSERT_EQ(SQLPresReceiveBegin(pres.h(), &total), SQLPRES_OK);
  ASSERT_EQ(SQLPresReSync(pres.h(), 0), SQLPRES_OK);
  EXPECT_EQ(pres.state()->receiving, 0);
  ASSERT_EQ(SQLPresReceive(pres.h(), &code, &length, &payload), SQLPRES_OK);
  EXPECT_EQ(code, 6) << "the next reply";
  EXPECT_EQ(payload[0], 3);
}

TEST(PresConnection, ACancelledRequestReadsAsCancelledOnce) {
  PresHarness pres;
  ASSERT_EQ(SQLPresSendCommand(pres.h(), 3, 0), SQLPRES_OK);
  ASSERT_EQ(SQLPresSyncPoint(pres.h(), 0, 0), SQLPRES_OK);
  ASSERT_EQ(SQLPresCancel(pres.h()), SQLPRES_OK);
  const auto sent = pres.Sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1], (Bytes{PKT_ATTENTION, 0x05, 0, 8, 0, 0, 0, 0}));
  // Part of the reply, then the server's acknowledgement, then the next reply.
  ASSERT_TRUE(pres.DeliverItems({2, 7, 1}, false));
  ASSERT_TRUE(pres.DeliverItems({}, true));
  std::vector<std::uint8_t> ack = {PKT_DATA, 0x03, 0, 4};
  ASSERT_TRUE(pres.Deliver(ack));
  ASSERT_TRUE(pres.DeliverItems({2, 8, 1}, true));
  std::uint8_t code = 0, length = 0;
  const std::uint8_t* payload = nullptr;
  EXPECT_EQ(SQLPresReceive(pres.h(), &code, &length, &payload), SQLPRES_CANCELLED);
  ASSERT_EQ(SQLPresReceive(pres.h(), &code, &length, &payload), SQLPRES_OK);
  EXPECT_EQ(code, 8);
}

TEST(PresConnection, TheConnectionsStateAndName) {
  PresHarness pres;
  EXPECT_EQ(SQLPresGetConnName(pres.h()), nullptr);
  SQLPresSetConnectedToDB(pres.h());
  EXPECT_EQ(pres.conn()->state(), SCONN_CONNECTED_TO_DB);
  SQLPresSetNormalDisconnect(pres.h());
  EXPECT_EQ(pres.conn()->state(), SCONN_NORMAL_DISCONNECT);
  SQLPresSetConnectedToDB(nullptr);
  SQLPresSetNormalDisconnect(nullptr);
  a_sqlpres_code word = 0;
  EXPECT_EQ(SQLPresSyncPointArrived(pres.h(), &word), 0);
  ASSERT_TRUE(pres.DeliverItems({1, 0}, true));
  EXPECT_EQ(SQLPresSyncPointArrived(pres.h(), &word), 1);
  pres.conn()->handle_dead_connection(true);
  EXPECT_EQ(SQLPresIsSyncPoint(pres.h(), &word), 0);
  EXPECT_EQ(word, SQLPRES_DEAD);
}

// A server message whose text is itself a long value, between two pieces of the value
// the caller reads: the caller's value comes through whole.
TEST(PresDecode, AServerMessageBetweenPiecesLeavesTheValueAlone) {
  PresHarness pres(7300, false);
  static std::string seen;
  seen.clear();
  pres.owner().msg = [](void*, void*, std::uint8_t, std::uint32_t, std::uint16_t length,
                        const char* text, void*) {
    seen.assign(text, length);
    return 0;
  };
  const Bytes value = Counting(400, 1), text = Counting(300, 'a');
  Bytes items = {252, 61, 5, 192, 0x90, 0x01, 0, 0};
  Bytes first(value.begin(), value.begin() + 250), second(value.begin() + 250, value.end());
  items = Cat({items, {251, 193}, first, {6, 2, 1, 9, 0, 0, 0}, {252, 0, 5, 192, 0x2C, 1, 0, 0},
               OldFormPieces(text), {1, 194}, {151, 193}, second, {1, 194}});
  ASSERT_TRUE(pres.DeliverItems(items));
  std::uint8_t code = 0, length = 0;
  const std::uint8_t* payload = nullptr;
  ASSERT_EQ(SQLPresReceive(pres.h(), &code, &length, &payload), SQLPRES_OK);
  a_sqlpres_code end = 99;
  EXPECT_EQ(ReadLong(pres, 100, &end), value);
  EXPECT_EQ(end, SQLPRES_OK);
  EXPECT_EQ(Bytes(seen.begin(), seen.end()), text);
}

}  // namespace
