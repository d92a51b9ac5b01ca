// Wire values: receiving one value per wire type and path (quick path, long item,
// full-length prefix, no value, NULL, truncation) byte-exact inside guard bytes; sending
// values and definitions; value sets, optional values, descriptions; skipping.
#include "cmdseq/wire_values.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cmdseq_fixture.h"
#include "utils/base/bounded_strings.h"

namespace {

constexpr std::uint8_t kUntouched = 0xEE;
constexpr std::size_t kGuard = 8;

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Fill(Bytes b, std::size_t size, std::uint8_t with = kUntouched) {
  b.resize(size, with);
  return b;
}

// A one-item descriptor whose value lands in a guarded buffer.
struct Column {
  a_cmdseq_desc desc;
  std::vector<std::uint8_t> memory;
  std::int32_t indicator = 12345;
  std::uint32_t length = 0xABCDEF;
  std::uint32_t size;

  Column(std::int16_t type, std::int16_t subtype, std::uint32_t size,
         bool with_indicator = true)
      : memory(size + 2 * kGuard, kUntouched), size(size) {
    CmdSeqInitDesc(&desc);
    EXPECT_EQ(CmdSeqAllocDescItems(&desc, 1, 1), CMDSEQ_OK);
    item()->type = type;
    item()->subtype = subtype;
    item()->length = size;
    item()->values()[0] = {memory.data() + kGuard, with_indicator ? &indicator : nullptr,
                           &length};
  }
  ~Column() { CmdSeqFreeDescItems(&desc); }
  a_cmdseq_desc_item* item() { return desc.items; }
  Bytes buffer() const {
    return Bytes(memory.begin() + kGuard, memory.begin() + kGuard + size);
  }
  bool guards_intact() const {
    for (std::size_t i = 0; i < kGuard; ++i) {
      if (memory[i] != kUntouched || memory[kGuard + size + i] != kUntouched) return false;
    }
    return true;
  }
};

struct RecvCase {
  const char* name;
  std::int16_t type;
  std::int16_t subtype;
  std::uint32_t size;
  std::function<void(a_strm_conn_rec&)> reply;
  a_cmdseq_return result;
  Bytes buffer;      // the whole buffer afterwards; empty: not checked
  long long length;  // -1: untouched
  std::int32_t indicator;
  int sqlcode;
  std::uint16_t width = 1;
  bool end = false;
  bool end_of_data = false;
  std::uint32_t app_type = 0;
};

void RunReceive(const RecvCase& c, bool with_indicator = true) {
  SCOPED_TRACE(c.name);
  CmdSeqConn t;
  t.conn->char_width = c.width;
  i_cs_SetAppType(c.app_type);
  Column col(c.type, c.subtype, c.size, with_indicator);
  c.reply(t.sconn);
  bool end = false, eod = false;
  EXPECT_EQ(i_cs_ReceiveOneColumn(t.conn, &t.err, col.item(), 0, &end, &eod), c.result);
  i_cs_SetAppType(0);
  EXPECT_TRUE(col.guards_intact());
  if (!c.buffer.empty()) {
    EXPECT_EQ(col.buffer(), c.buffer);
  }
  EXPECT_EQ(col.length, c.length < 0 ? 0xABCDEFu : static_cast<std::uint32_t>(c.length));
  if (with_indicator) {
    EXPECT_EQ(col.indicator, c.indicator);
  }
  EXPECT_EQ(t.err.sqlcode, c.sqlcode);
  EXPECT_EQ(end, c.end);
  EXPECT_EQ(eod, c.end_of_data);
  if (c.result != CMDSEQ_PROTOCOL_ERROR) {
    EXPECT_TRUE(t.sconn.script_done());
  } else {
    EXPECT_EQ(t.sconn.dump_comments, std::vector<std::string>{"Protocol error"});
  }
}

auto Item(std::uint8_t code, Bytes payload) {
  return [code, payload](a_strm_conn_rec& s) { s.item(code, payload); };
}
auto Long(std::uint8_t code, Bytes value, std::size_t piece = 100) {
  return [code, value, piece](a_strm_conn_rec& s) { s.long_item(code, value, piece); };
}

const Bytes k8 = {8, 7, 6, 5, 4, 3, 2, 1};

TEST(ReceiveValue, FixedSizeTypesCopyTheirSize) {
  const RecvCase kCases[] = {
      {"-5 (104)", -5, 0, 16, Item(104, k8), 0, Fill(k8, 16), -1, 0, 0},
      {"-25 (123)", -25, 0, 16, Item(123, k8), 0, Fill(k8, 16), -1, 0, 0},
      {"8 (111)", 8, 0, 16, Item(111, k8), 0, Fill(k8, 16), -1, 0, 0},
      {"4 (112)", 4, 0, 16, Item(112, {1, 2, 3, 4}), 0, Fill({1, 2, 3, 4}, 16), -1, 0, 0},
      {"-24 (122)", -24, 0, 16, Item(122, {1, 2, 3, 4}), 0, Fill({1, 2, 3, 4}, 16), -1, 0, 0},
      // 116 has no quick class: the general path also stores the length.
      {"6 (116)", 6, 0, 16, Item(116, {1, 2, 3, 4}), 0, Fill({1, 2, 3, 4}, 16), 4, 0, 0},
      {"7 (116)", 7, 0, 16, Item(116, {1, 2, 3, 4}), 0, Fill({1, 2, 3, 4}, 16), 4, 0, 0},
      {"-27 (127), general path", -27, 0, 16, Item(127, {1, 2, 3, 4}), 0,
       Fill({1, 2, 3, 4}, 16), 4, 0, 0},
      {"5 (117)", 5, 0, 16, Item(117, {1, 2}), 0, Fill({1, 2}, 16), -1, 0, 0},
      {"-23 (124)", -23, 0, 16, Item(124, {1, 2}), 0, Fill({1, 2}, 16), -1, 0, 0},
      {"-7 (106)", -7, 0, 16, Item(106, {1}), 0, Fill({1}, 16), -1, 0, 0},
      {"-6 (121)", -6, 0, 16, Item(121, {0xFF}), 0, Fill({0xFF}, 16), -1, 0, 0},
      // Fixed sizes do not depend on the item's length (descriptions leave it 0).
      {"4 (112), item length 0", 4, 0, 0, Item(112, {1, 2, 3, 4}), 0, {}, -1, 0, 0},
  };
  for (const RecvCase& c : kCases) {
    if (c.size != 0) {
      RunReceive(c);
      continue;
    }
    // The value's buffer is 4 bytes even though the item says 0.
    SCOPED_TRACE(c.name);
    CmdSeqConn t;
    Column col(c.type, 0, 4);
    col.item()->length = 0;
    c.reply(t.sconn);
    bool end, eod;
    EXPECT_EQ(i_cs_ReceiveOneColumn(t.conn, &t.err, col.item(), 0, &end, &eod), CMDSEQ_OK);
    EXPECT_EQ(col.buffer(), (Bytes{1, 2, 3, 4}));
    EXPECT_TRUE(col.guards_intact());
  }
}

// Eight-byte values are read as two little-endian words; a low word with its top bit
// set (0x1_80000000, the double 0.1) must not spill into the high word.
TEST(ReceiveValue, EightByteValuesKeepTheirHighWord) {
  struct Case {
    std::int16_t type;
    std::uint8_t code;
    std::uint64_t bits;
  };
  const Case kCases[] = {
      {-5, 104, 0x180000000ull},        {-5, 104, 0xFFFFFFFF80000000ull},
      {-5, 104, 0x00000000FFFFFFFFull}, {-25, 123, 0x7FFFFFFF80000001ull},
      {8, 111, 0x3FB999999999999Aull},  // 0.1
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.type << " 0x" << std::hex << c.bits);
    CmdSeqConn t;
    Column col(c.type, 0, 8);
    t.sconn.item(c.code, le64(c.bits));
    bool end = false, eod = false;
    ASSERT_EQ(i_cs_ReceiveOneColumn(t.conn, &t.err, col.item(), 0, &end, &eod), CMDSEQ_OK);
    std::uint64_t got = 0;
    std::memcpy(&got, col.buffer().data(), sizeof got);
    EXPECT_EQ(got, c.bits);
    EXPECT_TRUE(col.guards_intact());
  }
}

TEST(ReceiveValue, DateTimeRecordIsCopiedFieldByField) {
  CmdSeqConn t;
  Column col(-22, 0, sizeof(a_cmdseq_datetime));
  const Bytes wire = {0x01, 0x02, 3, 4, 0x05, 0x06, 7, 8, 9, 10, 0x0B, 0x0C, 0x0D, 0x0E};
  t.sconn.item(120, wire);
  bool end, eod;
  ASSERT_EQ(i_cs_ReceiveOneColumn(t.conn, &t.err, col.item(), 0, &end, &eod), CMDSEQ_OK);
  a_cmdseq_datetime dt;
  std::memcpy(&dt, col.memory.data() + kGuard, sizeof dt);
  EXPECT_EQ(dt.w0, 0x0201);
  EXPECT_EQ(dt.b2, 3);
  EXPECT_EQ(dt.b3, 4);
  EXPECT_EQ(dt.w4, 0x0605);
  EXPECT_EQ(dt.b6, 7);
  EXPECT_EQ(dt.b7, 8);
  EXPECT_EQ(dt.b8, 9);
  EXPECT_EQ(dt.b9, 10);
  EXPECT_EQ(dt.d10, 0x0E0D0C0Bu);
  EXPECT_TRUE(col.guards_intact());
  EXPECT_EQ(col.indicator, 0);
}

TEST(ReceiveValue, ByteStrings) {
  const RecvCase kCases[] = {
      {"-2 (105)", -2, 0, 5, Item(105, B("abc")), 0, Fill(B("abc"), 5), 3, 0, 0},
      {"-4 (113)", -4, 0, 5, Item(113, B("abc")), 0, Fill(B("abc"), 5), 3, 0, 0},
      {"-1 (114)", -1, 0, 5, Item(114, B("abc")), 0, Fill(B("abc"), 5), 3, 0, 0},
      {"12 (125)", 12, 0, 5, Item(125, B("abc")), 0, Fill(B("abc"), 5), 3, 0, 0},
      {"-30 (130)", -30, 0, 5, Item(130, B("abcde")), 0, B("abcde"), 5, 0, 0},
      {"-31 (131)", -31, 0, 5, Item(131, {}), 0, Fill({}, 5), 0, 0, 0},
      {"-26 (126), general path", -26, 0, 5, Item(126, B("ab")), 0, Fill(B("ab"), 5), 2, 0, 0},
      {"longer than the buffer: cut and truncated", -2, 0, 2, Item(105, B("abcd")), 5, B("ab"),
       4, 0, 101},
      {"long item", -1, 0, 400, Long(114, Bytes(300, 'v')), 0, Fill(Bytes(300, 'v'), 400), 300,
       0, 0},
      {"long item longer than the buffer", -1, 0, 100, Long(114, Bytes(300, 'v')), 5,
       Bytes(100, 'v'), 300, 0, 101},
      {"full-length prefix", -1, 0, 50,
       [](a_strm_conn_rec& s) { s.item(102, le32(1000)).item(114, Bytes(10, 'p')); }, 5,
       Fill(Bytes(10, 'p'), 50), 1000, 0, 101},
  };
  for (const RecvCase& c : kCases) RunReceive(c);
}

TEST(ReceiveValue, CharacterStringsArePaddedAndTerminated) {
  Bytes w2 = {'a', 0, 'b', 0};
  const RecvCase kCases[] = {
      {"1 (107): blank padded", 1, 0, 10, Item(107, B("abc")), 0, B("abc       "), 3, 0, 0},
      {"-21 (107): cut, terminated, truncated", -21, 0, 4, Item(107, B("abcdef")), 5,
       Bytes{'a', 'b', 'c', 0}, 6, 0, 101},
      {"-21 (107): terminated", -21, 0, 4, Item(107, B("ab")), 0, Fill({'a', 'b', 0}, 4), 2, 0,
       0},
      {"-21 (107): no room for the terminator", -21, 0, 3, Item(107, B("abc")), 5,
       Bytes{'a', 'b', 0}, 3, 0, 101},
      {"-28 (128)", -28, 0, 5, Item(128, B("abcde")), 5, Bytes{'a', 'b', 'c', 'd', 0}, 5, 0,
       101},
      {"-29 (128): blank padded", -29, 0, 5, Item(128, B("ab")), 0, B("ab   "), 2, 0, 0},
      {"-29 two-byte characters", -29, 0, 8, Item(128, w2), 0,
       Bytes{'a', 0, 'b', 0, ' ', 0, ' ', 0}, 4, 0, 0, 2},
      {"-28 two-byte characters", -28, 0, 8, Item(128, w2), 0, Fill({'a', 0, 'b', 0, 0, 0}, 8),
       4, 0, 0, 2},
      {"-28 two-byte characters, no room", -28, 0, 4, Item(128, w2), 5, Bytes{'a', 0, 0, 0}, 4,
       0, 101, 2},
      {"9/1 (109)", 9, 1, 6, Item(109, B("abc")), 0, Fill({'a', 'b', 'c', 0}, 6), 3, 0, 0},
      {"9/2 (118)", 9, 2, 6, Item(118, B("abc")), 0, Fill({'a', 'b', 'c', 0}, 6), 3, 0, 0},
      {"9/3 (119)", 9, 3, 6, Item(119, B("abc")), 0, Fill({'a', 'b', 'c', 0}, 6), 3, 0, 0},
      {"-21 long form (108): padded to the end", -21, 0, 10, Long(108, B("hello")), 0,
       Bytes{'h', 'e', 'l', 'l', 'o', ' ', ' ', ' ', ' ', 0}, 5, 0, 0},
      {"-21 long form (108), longer than the buffer", -21, 0, 10, Long(108, B("abcdefghijkl")),
       5, Bytes{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 0}, 12, 0, 101},
      {"-28 long form (129), two-byte characters", -28, 0, 8, Long(129, {'a', 0}), 0,
       Bytes{'a', 0, ' ', 0, ' ', 0, 0, 0}, 2, 0, 0, 2},
      {"-28 long form (129)", -28, 0, 4, Long(129, B("ab")), 0, Bytes{'a', 'b', ' ', 0}, 2, 0,
       0},
  };
  for (const RecvCase& c : kCases) RunReceive(c);
}

TEST(ReceiveValue, UnpaddedLongStringsStayInsideTheirBuffer) {
  // Application type 1 with a 32767-byte buffer: the value is not padded, and the
  // terminator is written only where there is room for it.
  const std::uint32_t size = 32767;
  RecvCase fits{"fits",
                -21,
                0,
                size,
                Long(108, Bytes(100, 'x'), 250),
                0,
                Fill(Bytes(100, 'x') + Bytes{0}, size),
                100,
                0,
                0};
  fits.app_type = 1;
  RunReceive(fits);
  RecvCase full{"fills the buffer",
                -21,
                0,
                size,
                Long(108, Bytes(size, 'x'), 250),
                5,
                Bytes(size - 1, 'x') + Bytes{0},
                size,
                0,
                101};
  full.app_type = 1;
  RunReceive(full);
  RecvCase two{"two-byte characters fill the buffer",
               -28,
               0,
               size,
               Long(129, Bytes(size, 'x'), 250),
               5,
               {},
               size,
               0,
               101,
               2};
  two.app_type = 1;
  RunReceive(two);
}

TEST(ReceiveValue, SpecialItems) {
  const RecvCase kCases[] = {
      {"no value (101)", -1, 0, 4, Item(101, {}), 5, Fill({}, 4), -1, -2, 103},
      {"NULL (103)", -1, 0, 4, Item(103, {}), 0, Fill({}, 4), -1, -1, 0},
      {"NULL after a full-length prefix", -1, 0, 4,
       [](a_strm_conn_rec& s) { s.item(102, le32(9)).item(103); }, 0, Fill({}, 4), -1, -1, 0},
      {"end of data", 4, 0, 4, Item(132, {0}), 5, Fill({}, 4), -1, 12345, 0, 1, false, true},
      {"end of data with its error", 4, 0, 4,
       [](a_strm_conn_rec& s) {
         s.item(132, Bytes{1}).item(65, error_record(100, "02000", "00000", "00000")).item(0);
       },
       5, Fill({}, 4), -1, 12345, 100, 1, false, true},
      {"end of list", 4, 0, 4, Item(0, {}), 0, Fill({}, 4), -1, 12345, 0, 1, true},
      {"prefix ignored for a fixed type", 4, 0, 4,
       [](a_strm_conn_rec& s) {
         s.item(102, Bytes{1}).item(112, Bytes{1, 2, 3, 4});
       },
       0, Bytes{1, 2, 3, 4}, 4, 0, 0},
  };
  for (const RecvCase& c : kCases) RunReceive(c);

  // NULL without an indicator is an error.
  RecvCase no_indicator{
      "NULL without indicator", -1, 0, 4, Item(103, {}), 4, Fill({}, 4), -1, 0, -181};
  RunReceive(no_indicator, false);
}

TEST(ReceiveValue, NumericDigits) {
  const RecvCase kCases[] = {
      {"3 (110)", 3, 0, 10, Item(110, {5, 2, '1', '2', '3'}), 0, Fill(B("123"), 10), 3, 0, 0},
      {"3 accepts 115", 3, 0, 10, Item(115, {5, 2, '1', '2', '3'}), 0, Fill(B("123"), 10), 3, 0,
       0},
      {"2 (115)", 2, 0, 10, Item(115, {5, 2, '9'}), 0, Fill(B("9"), 10), 1, 0, 0},
      {"2, more digits than room", 2, 0, 2, Item(115, {5, 2, '1', '2', '3'}), 5, B("12"), 3, 0,
       101},
      {"2, only the header", 2, 0, 2, Item(115, {5, 2}), 0, Fill({}, 2), 0, 0, 0},
  };
  for (const RecvCase& c : kCases) RunReceive(c);
}

TEST(ReceiveValue, MalformedValuesAreProtocolErrors) {
  const RecvCase kCases[] = {
      {"3 receiving 112", 3, 0, 10, Item(112, {1, 2, 3, 4}), 3, Fill({}, 10), -1, 12345, 0},
      {"2 with a payload shorter than its header", 2, 0, 10, Item(115, {5}), 3, Fill({}, 10),
       -1, 12345, 0},
      {"4 with three bytes", 4, 0, 16, Item(112, {1, 2, 3}), 3, Fill({}, 16), -1, 12345, 0},
      {"4 with five bytes", 4, 0, 16, Item(112, {1, 2, 3, 4, 5}), 3, Fill({}, 16), -1, 12345,
       0},
      {"8 with four bytes", 8, 0, 16, Item(111, {1, 2, 3, 4}), 3, Fill({}, 16), -1, 12345, 0},
      {"-22 with thirteen bytes", -22, 0, 16, Item(120, Bytes(13, 1)), 3, Fill({}, 16), -1,
       12345, 0},
      {"-7 with two bytes", -7, 0, 16, Item(106, {1, 2}), 3, Fill({}, 16), -1, 12345, 0},
      {"a special length", -1, 0, 4, [](a_strm_conn_rec& s) { s.special(114, 254); }, 3,
       Fill({}, 4), -1, 12345, 0},
      {"a long fixed-size value", 4, 0, 16, Long(112, {1, 2, 3, 4}), 3, Fill({}, 16), -1, 12345,
       0},
      {"a full-length prefix cut short", -1, 0, 4, Item(102, {1, 2}), 3, Fill({}, 4), -1, 12345,
       0},
      {"1 receiving 128", 1, 0, 4, Item(128, B("a")), 3, Fill({}, 4), -1, 12345, 0},
      {"-21 receiving 129", -21, 0, 4, Item(129, B("a")), 3, Fill({}, 4), -1, 12345, 0},
  };
  for (const RecvCase& c : kCases) RunReceive(c);
}

TEST(ReceiveValue, ValueWithoutADataBufferIsReadAndDropped) {
  CmdSeqConn t;
  Column col(-1, 0, 4);
  col.item()->values()[0].data = nullptr;
  t.sconn.long_item(114, Bytes(300, 'z')).item(114, B("abcdefgh"));
  bool end, eod;
  EXPECT_EQ(i_cs_ReceiveOneColumn(t.conn, &t.err, col.item(), 0, &end, &eod), CMDSEQ_WARNING);
  EXPECT_EQ(col.length, 300u);
  EXPECT_EQ(i_cs_ReceiveOneColumn(t.conn, &t.err, col.item(), 0, &end, &eod), CMDSEQ_WARNING);
  EXPECT_EQ(col.length, 8u);
  EXPECT_TRUE(t.sconn.script_done());
  EXPECT_TRUE(col.guards_intact());
}

TEST(CompleteCopy, NullBufferAndZeroSize) {
  std::uint32_t length = 0;
  EXPECT_EQ(i_cs_CompleteCopy(nullptr, -21, 0, 5, 0, false, nullptr, &length), 1);
  EXPECT_EQ(length, 5u);
  EXPECT_EQ(i_cs_CompleteCopy(nullptr, -21, 0, 5, 0, true, nullptr, &length), 1);
  EXPECT_EQ(i_cs_CompleteCopy(nullptr, 4, 0, 4, 4, false, nullptr, &length), 0);
  EXPECT_EQ(length, 4u);
}

// --- Sending -------------------------------------------------------------------------------

struct SendCase {
  const char* name;
  std::int16_t type;
  std::int16_t subtype;
  Bytes data;  // the value's buffer; its size is the item's length
  int code;    // the item sent
  Bytes payload;
  bool is_long = false;
  std::uint16_t width = 1;
  std::uint8_t precision = 0;
  std::uint16_t scale = 0;
};

TEST(SendValue, EachTypeInItsWireForm) {
  a_cmdseq_datetime dt{0x0201, 3, 4, 0x0605, 7, 8, 9, 10, 0x0E0D0C0B};
  Bytes dt_bytes(sizeof dt);
  std::memcpy(dt_bytes.data(), &dt, sizeof dt);
  const SendCase kCases[] = {
      {"-21 from five bytes holding four characters and a zero", -21, 0,
       B(std::string("abcd\0", 5)), 107, B("abcd")},
      {"-28 less the character width",
       -28,
       0,
       {'a', 0, 'b', 0, 0, 0},
       128,
       {'a', 0, 'b', 0},
       false,
       2},
      {"-28 as long as the width", -28, 0, {0}, 128, {}},
      {"9/1 less the terminator", 9, 1, B(std::string("ab\0", 3)), 109, B("ab")},
      {"9/3", 9, 3, B(std::string("ab\0", 3)), 119, B("ab")},
      {"1 whole", 1, 0, B("ab "), 107, B("ab ")},
      {"-29 whole", -29, 0, B("ab "), 128, B("ab ")},
      {"-2", -2, 0, B("xyz"), 105, B("xyz")},
      {"-31", -31, 0, B("xyz"), 131, B("xyz")},
      {"-30", -30, 0, B("xyz"), 130, B("xyz")},
      {"-26", -26, 0, B("xyz"), 126, B("xyz")},
      {"-4", -4, 0, B("xyz"), 113, B("xyz")},
      {"12", 12, 0, B("xyz"), 125, B("xyz")},
      {"-1 long", -1, 0, Bytes(300, 'l'), 114, Bytes(300, 'l'), true},
      {"4", 4, 0, {1, 2, 3, 4}, 112, {1, 2, 3, 4}},
      {"-24", -24, 0, {1, 2, 3, 4}, 122, {1, 2, 3, 4}},
      {"6", 6, 0, {1, 2, 3, 4}, 116, {1, 2, 3, 4}},
      {"7", 7, 0, {1, 2, 3, 4}, 116, {1, 2, 3, 4}},
      {"5", 5, 0, {1, 2}, 117, {1, 2}},
      {"-23", -23, 0, {1, 2}, 124, {1, 2}},
      {"8", 8, 0, k8, 111, k8},
      {"-5", -5, 0, k8, 104, k8},
      {"-25", -25, 0, k8, 123, k8},
      {"-7", -7, 0, {1}, 106, {1}},
      {"-6", -6, 0, {1}, 121, {1}},
      {"-22", -22, 0, dt_bytes, 120, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}},
      {"2", 2, 0, B("123"), 115, {5, 2, '1', '2', '3'}, false, 1, 5, 2},
      {"3, scale's low byte", 3, 0, B("1"), 110, {9, 1, '1'}, false, 1, 9, 0x101},
      {"2 long", 2, 0, Bytes(300, '7'), 115, Bytes{60, 3} + Bytes(300, '7'), true, 1, 60, 3},
  };
  for (const SendCase& c : kCases) {
    SCOPED_TRACE(c.name);
    CmdSeqConn t;
    t.conn->char_width = c.width;
    Column col(c.type, c.subtype, static_cast<std::uint32_t>(c.data.size()));
    col.item()->precision = c.precision;
    col.item()->scale = c.scale;
    col.indicator = 0;
    std::memcpy(col.memory.data() + kGuard, c.data.data(), c.data.size());
    EXPECT_EQ(i_cs_SendMultipleRows(t.conn, &t.err, &col.desc, 1, 1), CMDSEQ_OK);
    ASSERT_EQ(t.sconn.sent.size(), 3u);
    EXPECT_EQ(t.sconn.sent[0].code, c.code);
    EXPECT_EQ(t.sconn.sent[0].bytes, c.payload);
    EXPECT_EQ(t.sconn.sent[0].is_long, c.is_long);
    EXPECT_EQ(t.sconn.sent[1].code, 132);
    EXPECT_EQ(t.sconn.sent[2].code, 0);
  }
}

TEST(SendValue, MissingValuesAndNulls) {
  struct Case {
    const char* name;
    bool data;
    std::int32_t indicator;
    int code;
  };
  const Case kCases[] = {
      {"no data, indicator 0: the server's own value", false, 0, 101},
      {"no data, negative indicator: NULL", false, -1, 103},
      {"data, negative indicator: NULL", true, -1, 103},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    CmdSeqConn t;
    Column col(4, 0, 4);
    if (!c.data) col.item()->values()[0].data = nullptr;
    col.indicator = c.indicator;
    EXPECT_EQ(i_cs_SendMultipleRows(t.conn, &t.err, &col.desc, 0, 1), CMDSEQ_OK);
    ASSERT_EQ(t.sconn.sent.size(), 2u);
    EXPECT_EQ(t.sconn.sent[0].code, c.code);
    EXPECT_TRUE(t.sconn.sent[0].bytes.empty());
    EXPECT_EQ(t.sconn.sent[1].code, 0);
  }
}

TEST(SendValue, RowsOfColumns) {
  CmdSeqConn t;
  a_cmdseq_desc desc;
  CmdSeqInitDesc(&desc);
  ASSERT_EQ(CmdSeqAllocDescItems(&desc, 4, 1), CMDSEQ_OK);
  std::int32_t values[4] = {10, 11, 12, 13};
  std::uint32_t k = 0;
  for (a_cmdseq_desc_item* item = desc.items; item != nullptr; item = item->next, ++k) {
    item->type = 4;
    item->length = 4;
    item->values()[0].data = &values[k];
  }
  EXPECT_EQ(i_cs_SendMultipleRows(t.conn, &t.err, &desc, 2, 4), CMDSEQ_OK);
  std::vector<int> codes;
  for (const auto& s : t.sconn.sent) codes.push_back(s.code);
  EXPECT_EQ(codes, (std::vector<int>{112, 112, 132, 112, 112, 132, 0}));
  EXPECT_EQ(t.sconn.sent[3].bytes, le32(12));
  CmdSeqFreeDescItems(&desc);
}

TEST(SendValue, UnsendableTypesStopTheRows) {
  for (std::int16_t type : {-27, 9, 99}) {
    SCOPED_TRACE(type);
    CmdSeqConn t;
    Column col(type, type == 9 ? 4 : 0, 4);
    col.indicator = 0;
    EXPECT_EQ(i_cs_SendMultipleRows(t.conn, &t.err, &col.desc, 1, 1), CMDSEQ_PROTOCOL_ERROR);
    EXPECT_TRUE(t.sconn.sent.empty());
  }
}

TEST(SendValue, PresentationFailureEndsTheRows) {
  CmdSeqConn t;
  t.sconn.fail_send_at = 0;
  t.sconn.fail_send_code = SQLPRES_CANCELLED;
  Column col(4, 0, 4);
  col.indicator = 0;
  EXPECT_EQ(i_cs_SendMultipleRows(t.conn, &t.err, &col.desc, 1, 1), CMDSEQ_CANCELLED);
  EXPECT_TRUE(t.sconn.sent.empty());
}

TEST(SendDefinition, EachForm) {
  struct Case {
    std::int16_t type, subtype;
    std::uint8_t precision;
    std::uint16_t scale;
    std::uint32_t length;
    std::uint16_t width;
    int code;
    Bytes payload;
  };
  const Case kCases[] = {
      {4, 0, 0, 0, 4, 1, 82, {0, 0}},
      {-22, 0, 0, 0, 16, 1, 90, {0, 0}},
      {-27, 0, 0, 0, 4, 1, 96, {0, 0}},
      {2, 0, 10, 0x203, 12, 1, 85, {0, 0, 10, 3}},
      {3, 0, 7, 2, 9, 1, 80, {0, 0, 7, 2}},
      {-21, 0, 0, 0, 5, 1, 78, le32(4) + le16(0)},
      {-21, 0, 0, 0, 0, 1, 78, le32(0) + le16(0)},
      {-28, 0, 0, 0, 10, 2, 97, le32(8) + le16(0)},
      {-28, 0, 0, 0, 2, 2, 97, le32(2) + le16(0)},
      {1, 0, 0, 0, 10, 1, 78, le32(10) + le16(0)},
      {9, 2, 0, 0, 20, 1, 88, le32(20) + le16(0)},
      {-31, 0, 0, 0, 100, 1, 99, le32(100) + le16(0)},
      {-26, 0, 0, 0, 3, 1, 73, {}},
      {9, 4, 0, 0, 3, 1, 73, {}},
      {0, 0, 0, 0, 0, 1, 73, {}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.subtype));
    CmdSeqConn t;
    t.conn->char_width = c.width;
    EXPECT_EQ(
        i_cs_SendAppColDefn(t.conn, &t.err, c.type, c.subtype, c.precision, c.scale, c.length),
        CMDSEQ_OK);
    ASSERT_EQ(t.sconn.sent.size(), 1u);
    EXPECT_EQ(t.sconn.sent[0].code, c.code);
    EXPECT_EQ(t.sconn.sent[0].bytes, c.payload);
  }
}

TEST(SendDefinition, ColumnVariablesWithoutBuffersAreUndefined) {
  CmdSeqConn t;
  a_cmdseq_desc desc;
  CmdSeqInitDesc(&desc);
  ASSERT_EQ(CmdSeqAllocDescItems(&desc, 2, 1), CMDSEQ_OK);
  std::int32_t v = 0;
  desc.items->type = 4;
  desc.items->values()[0].data = &v;
  desc.items->next->type = 4;
  EXPECT_EQ(i_cs_SendColVars(t.conn, &t.err, &desc), CMDSEQ_OK);
  ASSERT_EQ(t.sconn.sent.size(), 2u);
  EXPECT_EQ(t.sconn.sent[0].code, 82);
  EXPECT_EQ(t.sconn.sent[1].code, 73);

  t.sconn.fail_send_at = 3;
  EXPECT_EQ(i_cs_SendColVars(t.conn, &t.err, &desc), CMDSEQ_NOT_CONNECTED);
  CmdSeqFreeDescItems(&desc);
}

// --- Descriptions --------------------------------------------------------------------------

TEST(Describe, ColumnsWithTheirForms) {
  CmdSeqConn t;
  const std::string long_name(300, 'n');
  t.sconn.item(75, le16(4)).item(134, "id");
  t.sconn.item(85, le16(0) + Bytes{10, 2}).item(74, "t.price").item(134, "price");
  t.sconn.item(99, le32(100) + le16(8)).special(134, 254);
  t.sconn.item(78, le32(20) + le16(0)).long_item(134, text_bytes(long_name));
  t.sconn.item(89, le32(26) + le16(0)).item(134);
  t.sconn.item(0).item(66).item(67,
                                le32(CS_INFO_DESCRIBE_FINAL | CS_INFO_CLOSE_ALL) + Bytes{17});
  t.sconn.item(0);
  a_cmdseq_desc desc;
  CmdSeqInitDesc(&desc);
  bool final = false;
  EXPECT_EQ(i_cs_ReceiveDescribeSeq(t.conn, &t.err, &desc, true, &final), CMDSEQ_OK);
  EXPECT_TRUE(final);
  EXPECT_EQ(t.err.cursors_closed, 1u);
  ASSERT_EQ(desc.count, 5u);
  struct Want {
    std::int16_t type, subtype;
    std::uint32_t length;
    std::uint8_t precision;
    std::uint16_t scale, flags;
    const char* name;
    const char* name2;
  };
  const Want kWant[] = {
      {-5, 0, 0, 0, 0, 0x1004, "id", nullptr},
      {2, 0, 0, 10, 2, 0x1000, "price", "t.price"},
      {-31, 0, 100, 0, 0, 0x100A, nullptr, nullptr},
      {1, 0, 20, 0, 0, 0x1000, long_name.c_str(), nullptr},
      {9, 3, 26, 0, 0, 0x1002, nullptr, nullptr},
  };
  a_cmdseq_desc_item* item = desc.items;
  for (const Want& w : kWant) {
    SCOPED_TRACE(w.type);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->type, w.type);
    EXPECT_EQ(item->subtype, w.subtype);
    EXPECT_EQ(item->length, w.length);
    EXPECT_EQ(item->precision, w.precision);
    EXPECT_EQ(item->scale, w.scale);
    EXPECT_EQ(item->col_flags, w.flags);
    EXPECT_STREQ(item->name, w.name);
    EXPECT_STREQ(item->name2, w.name2);
    item = item->next;
  }
  CmdSeqFreeDescItems(&desc);
}

TEST(Describe, MalformedDescriptionsAreProtocolErrors) {
  struct Case {
    const char* name;
    std::function<void(a_strm_conn_rec&)> reply;
  };
  const Case kCases[] = {
      {"definition item 96", [](a_strm_conn_rec& s) { s.item(96, le16(0)).item(134, "x"); }},
      {"an unknown definition",
       [](a_strm_conn_rec& s) { s.item(100, le16(0)).item(134, "x"); }},
      {"a long form cut short", [](a_strm_conn_rec& s) { s.item(84, le32(1)).item(134, "x"); }},
      {"a short form cut short",
       [](a_strm_conn_rec& s) { s.item(82, Bytes{0}).item(134, "x"); }},
      {"no name item", [](a_strm_conn_rec& s) { s.item(82, le16(0)).item(82, le16(0)); }},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    CmdSeqConn t;
    c.reply(t.sconn);
    a_cmdseq_desc desc;
    CmdSeqInitDesc(&desc);
    bool final = false;
    EXPECT_EQ(i_cs_ReceiveDescribeSeq(t.conn, &t.err, &desc, false, &final),
              CMDSEQ_PROTOCOL_ERROR);
    CmdSeqFreeDescItems(&desc);
  }
}

TEST(Describe, ErrorStatusAfterTheColumns) {
  CmdSeqConn t;
  t.sconn.item(82, le16(0)).item(134, "a").item(0);
  t.sconn.item(65, error_record(-1000, "42W00", "HY000", "S1000")).item(0).item(0).item(0);
  a_cmdseq_desc desc;
  CmdSeqInitDesc(&desc);
  bool final = true;
  EXPECT_EQ(i_cs_ReceiveDescribeSeq(t.conn, &t.err, &desc, false, &final), CMDSEQ_ERROR);
  EXPECT_FALSE(final);
  EXPECT_EQ(desc.count, 1u);
  EXPECT_TRUE(t.sconn.script_done());
  CmdSeqFreeDescItems(&desc);
}

TEST(Describe, VarLenTotal) {
  a_cmdseq_desc desc;
  CmdSeqInitDesc(&desc);
  ASSERT_EQ(CmdSeqAllocDescItems(&desc, 3, 1), CMDSEQ_OK);
  desc.items->type = -21;
  desc.items->length = 10;
  desc.items->next->type = 2;
  desc.items->next->precision = 5;
  desc.items->next->next->type = 4;
  desc.items->next->next->length = 4;
  std::uint32_t total = 0;
  EXPECT_EQ(i_cs_DescribeVarLenTotal(&desc, &total), 1);
  EXPECT_EQ(total, 15u);
  desc.items->next->next->type = -4;
  EXPECT_EQ(i_cs_DescribeVarLenTotal(&desc, &total), 0);
  CmdSeqFreeDescItems(&desc);
  EXPECT_EQ(i_cs_DescribeVarLenTotal(&desc, &total), 1);
  EXPECT_EQ(total, 0u);
}

// --- Sets of values --------------------------------------------------------------------

struct Rows {
  a_cmdseq_desc desc;
  std::int32_t ints[2] = {0, 0};
  char texts[2][4] = {};
  std::int32_t indicators[2][2] = {{9, 9}, {9, 9}};
  std::uint32_t lengths[2][2] = {};
  Rows() {
    CmdSeqInitDesc(&desc);
    EXPECT_EQ(CmdSeqAllocDescItems(&desc, 2, 2), CMDSEQ_OK);
    a_cmdseq_desc_item* a = desc.items;
    a_cmdseq_desc_item* b = a->next;
    a->type = 4;
    a->length = 4;
    b->type = -21;
    b->length = 4;
    for (int k = 0; k < 2; ++k) {
      a->values()[k] = {&ints[k], &indicators[k][0], &lengths[k][0]};
      b->values()[k] = {texts[k], &indicators[k][1], &lengths[k][1]};
    }
  }
  ~Rows() { CmdSeqFreeDescItems(&desc); }
};

TEST(ValueSet, RowsOfValues) {
  CmdSeqConn t;
  Rows r;
  t.sconn.item(112, le32(1)).item(107, "ab").item(132, Bytes{0});
  t.sconn.item(112, le32(2)).item(103).item(132, Bytes{0}).item(0);
  EXPECT_EQ(i_cs_ReceiveValueSet(t.conn, &t.err, &r.desc), CMDSEQ_OK);
  EXPECT_EQ(r.ints[0], 1);
  EXPECT_STREQ(r.texts[0], "ab");
  EXPECT_EQ(r.ints[1], 2);
  EXPECT_EQ(r.indicators[1][1], -1);
  EXPECT_TRUE(t.sconn.script_done());
}

TEST(ValueSet, EndsAndErrors) {
  struct Case {
    const char* name;
    std::function<void(a_strm_conn_rec&)> reply;
    a_cmdseq_return result;
    int sqlcode;
  };
  const Case kCases[] = {
      {"an end item in place of a row ends the set",
       [](a_strm_conn_rec& s) {
         s.item(112, le32(1)).item(107, "ab").item(132, Bytes{0}).item(0);
       },
       0, 0},
      {"no rows", [](a_strm_conn_rec& s) { s.item(0); }, 0, 0},
      {"end of data with no more rows",
       [](a_strm_conn_rec& s) {
         s.item(112, le32(1)).item(107, "ab").item(132, Bytes{0});
         s.item(132, Bytes{1})
             .item(65, error_record(100, "02000", "00000", "00000"))
             .item(0)
             .item(0);
       },
       5, 100},
      {"a row's trailer carries a warning",
       [](a_strm_conn_rec& s) {
         s.item(112, le32(1)).item(107, "ab").item(132, Bytes{1});
         s.item(65, error_record(201, "01WC4", "01000", "01000")).item(0).item(0);
       },
       5, 201},
      {"a truncated value warns",
       [](a_strm_conn_rec& s) {
         s.item(112, le32(1)).item(107, "abcdef").item(132, Bytes{0}).item(0);
       },
       5, 101},
      {"a row cut short", [](a_strm_conn_rec& s) { s.item(112, le32(1)).item(0); }, 3, 0},
      {"a row without its trailer",
       [](a_strm_conn_rec& s) { s.item(112, le32(1)).item(107, "ab").item(112, le32(2)); }, 3,
       0},
      {"no closing item after the last row",
       [](a_strm_conn_rec& s) {
         for (int k = 0; k < 2; ++k) s.item(112, le32(1)).item(107, "ab").item(132, Bytes{0});
         s.item(66);
       },
       3, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    CmdSeqConn t;
    Rows r;
    c.reply(t.sconn);
    EXPECT_EQ(i_cs_ReceiveValueSet(t.conn, &t.err, &r.desc), c.result);
    EXPECT_EQ(t.err.sqlcode, c.sqlcode);
    if (c.result != CMDSEQ_PROTOCOL_ERROR) {
      EXPECT_TRUE(t.sconn.script_done());
    }
  }
}

TEST(ValueSet, SlotsWithoutBuffersAreNotRead) {
  CmdSeqConn t;
  Rows r;
  r.desc.items->next->values()[0].data = nullptr;  // row 0 has only the integer
  t.sconn.item(112, le32(1)).item(132, Bytes{0});
  t.sconn.item(112, le32(2)).item(107, "cd").item(132, Bytes{0}).item(0);
  EXPECT_EQ(i_cs_ReceiveValueSet(t.conn, &t.err, &r.desc), CMDSEQ_OK);
  EXPECT_STREQ(r.texts[1], "cd");
  EXPECT_TRUE(t.sconn.script_done());
}

TEST(ValueSet, WithoutADescriptor) {
  CmdSeqConn t;
  t.sconn.item(132, Bytes{1})
      .item(65, error_record(100, "02000", "00000", "00000"))
      .item(0)
      .item(0);
  EXPECT_EQ(i_cs_ReceiveValueSet(t.conn, &t.err, nullptr), CMDSEQ_WARNING);
  EXPECT_EQ(t.err.sqlcode, 100);
  EXPECT_TRUE(t.sconn.script_done());
  t.sconn.item(67);
  EXPECT_EQ(i_cs_ReceiveValueSet(t.conn, &t.err, nullptr), CMDSEQ_PROTOCOL_ERROR);
}

TEST(OptionalValue, AtMostOneValueThenTheEnd) {
  {
    CmdSeqConn t;
    Column col(4, 0, 4);
    t.sconn.item(112, le32(5)).item(0);
    EXPECT_EQ(i_cs_ReceiveOptionalVal(t.conn, &t.err, &col.desc), CMDSEQ_OK);
    EXPECT_EQ(col.buffer(), le32(5));
    EXPECT_TRUE(t.sconn.script_done());
  }
  {
    CmdSeqConn t;
    Column col(4, 0, 4);
    t.sconn.item(0);
    EXPECT_EQ(i_cs_ReceiveOptionalVal(t.conn, &t.err, &col.desc), CMDSEQ_OK);
    EXPECT_EQ(col.buffer(), Fill({}, 4));
    EXPECT_TRUE(t.sconn.script_done());
  }
  {
    CmdSeqConn t;
    Column col(4, 0, 4);
    t.sconn.item(132, Bytes{0});
    EXPECT_EQ(i_cs_ReceiveOptionalVal(t.conn, &t.err, &col.desc), CMDSEQ_PROTOCOL_ERROR);
  }
  {
    CmdSeqConn t;
    t.sconn.item(0);
    EXPECT_EQ(i_cs_ReceiveOptionalVal(t.conn, &t.err, nullptr), CMDSEQ_OK);
    t.sconn.item(112, le32(5));
    EXPECT_EQ(i_cs_ReceiveOptionalVal(t.conn, &t.err, nullptr), CMDSEQ_PROTOCOL_ERROR);
  }
}

TEST(ThrowAway, SkipsValuesWhole) {
  CmdSeqConn t;
  t.sconn.long_item(114, Bytes(600, 'q')).item(102, le32(3)).item(114, "abc");
  t.sconn.item(132, Bytes{1}).item(65, error_record(-1000, "42W00", "HY000", "S1000")).item(0);
  t.sconn.item(132, Bytes{1}).item(65, error_record(100, "02000", "00000", "00000")).item(0);
  t.sconn.item(0);
  bool end = false, eod = false;
  EXPECT_EQ(i_cs_ThrowAwayColumn(t.conn, &t.err, &end, &eod, false), CMDSEQ_OK);
  EXPECT_EQ(i_cs_ThrowAwayColumn(t.conn, &t.err, &end, &eod, false), CMDSEQ_OK);
  EXPECT_FALSE(end || eod);
  EXPECT_EQ(i_cs_ThrowAwayColumn(t.conn, &t.err, &end, &eod, true), CMDSEQ_OK);
  EXPECT_TRUE(eod);
  EXPECT_EQ(t.err.sqlcode, 0);  // skipped
  EXPECT_EQ(i_cs_ThrowAwayColumn(t.conn, &t.err, &end, &eod, false), CMDSEQ_WARNING);
  EXPECT_EQ(t.err.sqlcode, 100);
  EXPECT_EQ(i_cs_ThrowAwayColumn(t.conn, &t.err, &end, &eod, false), CMDSEQ_OK);
  EXPECT_TRUE(end);
  EXPECT_TRUE(t.sconn.script_done());
}

TEST(StaticTables, VarLengthAndQuickClasses) {
  for (int type = -32; type <= 100; ++type) {
    const bool var = type == -31 || type == -30 || type == -29 || type == -28 || type == -21 ||
                     type == -4 || type == -2 || type == -1 || type == 1 || type == 9 ||
                     type == 12;
    EXPECT_EQ(is_var_length_array[type + 32] != 0, var) << type;
  }
  int counts[4] = {};
  for (int code = 0; code < 256; ++code) ++counts[quick_recv1col_array[code]];
  EXPECT_EQ(counts[1], 10);
  EXPECT_EQ(counts[2], 6);
  EXPECT_EQ(counts[3], 5);
  EXPECT_EQ(i_cs_GetDescItemDUType(9, 4), CS_NO_VALUE_CODE);
  EXPECT_EQ(i_cs_GetDescItemDUType(0, 0), CS_NO_VALUE_CODE);
  EXPECT_EQ(i_cs_GetDescItemDUType(-28, 0), 128);
}

}  // namespace

namespace {

// Every type against every path: the value stays inside its buffer, and the outcome
// (result, indicator, reported length, warning) follows the path.
TEST(ReceiveValue, EveryTypeOnEveryPath) {
  struct Type {
    std::int16_t type, subtype;
    unsigned fixed;  // wire bytes of a fixed-size value; 0 for strings and numerics
  };
  const Type kTypes[] = {
      {-31, 0, 0}, {-30, 0, 0}, {-29, 0, 0}, {-28, 0, 0},  {-27, 0, 4}, {-26, 0, 0},
      {-25, 0, 8}, {-24, 0, 4}, {-23, 0, 2}, {-22, 0, 14}, {-21, 0, 0}, {-7, 0, 1},
      {-6, 0, 1},  {-5, 0, 8},  {-4, 0, 0},  {-2, 0, 0},   {-1, 0, 0},  {1, 0, 0},
      {2, 0, 0},   {3, 0, 0},   {4, 0, 4},   {5, 0, 2},    {6, 0, 4},   {7, 0, 4},
      {8, 0, 8},   {9, 1, 0},   {9, 2, 0},   {9, 3, 0},    {12, 0, 0},
  };
  constexpr std::uint32_t kSize = 16;
  enum Path { kShort, kLong, kPrefix, kNoValue, kNull, kOversize };
  const char* kPathNames[] = {"short",    "long item", "full-length prefix",
                              "no value", "NULL",      "oversize"};
  for (std::uint16_t width : {1, 2}) {
    for (const Type& ty : kTypes) {
      const auto code = static_cast<std::uint8_t>(i_cs_GetDescItemDUType(ty.type, ty.subtype));
      const bool numeric = ty.type == 2 || ty.type == 3;
      for (Path path : {kShort, kLong, kPrefix, kNoValue, kNull, kOversize}) {
        SCOPED_TRACE(std::to_string(ty.type) + "/" + std::to_string(ty.subtype) + " width " +
                     std::to_string(width) + ", " + kPathNames[path]);
        CmdSeqConn t;
        t.conn->char_width = width;
        Column col(ty.type, ty.subtype, kSize);
        // A short value: the fixed size, or 4 bytes of characters or digits.
        const Bytes value = ty.fixed != 0 ? Bytes(ty.fixed, 7)
                            : numeric     ? Bytes{5, 2, '1', '2', '3', '4'}
                                          : Bytes{'a', 0, 'b', 0};
        Bytes big = numeric ? Bytes{60, 0} + Bytes(40, '9') : Bytes(40, 'z');
        if (ty.fixed != 0) big = Bytes(ty.fixed + 1, 7);
        switch (path) {
          case kShort:
            t.sconn.item(code, value);
            break;
          case kLong:
            t.sconn.long_item(code, Bytes(300, 'y'));
            break;
          case kPrefix:
            t.sconn.item(102, le32(1000)).item(code, value);
            break;
          case kNoValue:
            t.sconn.item(101);
            break;
          case kNull:
            t.sconn.item(103);
            break;
          case kOversize:
            t.sconn.item(code, big);
            break;
        }
        bool end = false, eod = false;
        const a_cmdseq_return r =
            i_cs_ReceiveOneColumn(t.conn, &t.err, col.item(), 0, &end, &eod);
        EXPECT_TRUE(col.guards_intact());
        const bool bytes = ty.fixed == 0 && !numeric;
        switch (path) {
          case kShort:
            EXPECT_TRUE(r == CMDSEQ_OK) << r;
            EXPECT_EQ(col.indicator, 0);
            break;
          case kLong:
            if (bytes) {
              EXPECT_EQ(r, CMDSEQ_WARNING);
              EXPECT_EQ(t.err.sqlcode, 101);
              EXPECT_EQ(col.length, 300u);
            } else {
              EXPECT_EQ(r, CMDSEQ_PROTOCOL_ERROR);
            }
            break;
          case kPrefix:
            if (i_cs_IsVarLengthType(ty.type)) {
              EXPECT_EQ(r, CMDSEQ_WARNING);
              EXPECT_EQ(col.length, 1000u);
            } else {
              EXPECT_EQ(r, CMDSEQ_OK);  // only variable-length types take a full length
            }
            break;
          case kNoValue:
            EXPECT_EQ(r, CMDSEQ_WARNING);
            EXPECT_EQ(col.indicator, -2);
            EXPECT_EQ(t.err.sqlcode, 103);
            break;
          case kNull:
            EXPECT_EQ(r, CMDSEQ_OK);
            EXPECT_EQ(col.indicator, -1);
            break;
          case kOversize:
            if (ty.fixed != 0) {
              EXPECT_EQ(r, CMDSEQ_PROTOCOL_ERROR);
            } else {
              EXPECT_EQ(r, CMDSEQ_WARNING);
              EXPECT_EQ(t.err.sqlcode, 101);
              EXPECT_EQ(col.length, 40u);
            }
            break;
        }
        if (r != CMDSEQ_PROTOCOL_ERROR) {
          EXPECT_TRUE(t.sconn.script_done());
        }
      }
    }
  }
}

}  // namespace
