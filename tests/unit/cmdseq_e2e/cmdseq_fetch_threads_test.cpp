// Fetching end to end over the real communication stack against vqeng12, over shared
// memory and over TCP/IP: a large result (made by a recursive query, so the server loads
// no table) read forwards to its end in blocks with the prefetch in flight, every value
// of every row checked; then long values of several megabytes read a piece at a time
// with get data, every byte checked, the last piece short and a read past the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cmdseq/fetch.h"
#include "cmdseq/statement.h"
#include "e2e_session.h"

namespace {

using vq_e2e::Link;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VQ_E2E_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VQ_E2E_SANITIZED 1
#endif
#endif

// A million rows in the plain build; a sanitizer slows every row down some tenfold, so
// there the same road runs over fewer rows.
#ifdef VQ_E2E_SANITIZED
constexpr std::uint32_t kRows = 100000;
#else
constexpr std::uint32_t kRows = 1000000;
#endif
// Rows per fetch: it does not divide kRows, so the last block comes back short.
constexpr std::uint16_t kBlock = 96;
static_assert(kRows % kBlock != 0, "the last block is a short one");
constexpr std::uint32_t kTextBytes = 16;  // room for "v" + 9 digits + terminator

// The expected row n (from 1): the values the query below makes.
std::int32_t SecondOf(std::uint32_t n) { return static_cast<std::int32_t>(n) * 7 - 3; }
double ThirdOf(std::uint32_t n) { return n * 0.25; }
std::string FourthOf(std::uint32_t n) {
  char text[kTextBytes];
  std::snprintf(text, sizeof text, "v%09u", n);
  return text;
}

std::string RowsQuery(std::uint32_t rows) {
  return "WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM s WHERE n < " +
         std::to_string(rows) + ") SELECT n, n * 7 - 3, n * 0.25, printf('v%09d', n) FROM s";
}

// The long values: a binary one with every byte value at positions no short period
// repeats, inserted through a parameter, and a text the server makes itself, in which
// every ten bytes name their own offset ("000000000,000000010,...").
constexpr std::uint32_t kLongRecords = 524288;
constexpr std::uint32_t kLongBytes = kLongRecords * 10;  // 5 MiB

std::vector<std::uint8_t> BinaryPattern() {
  std::vector<std::uint8_t> bytes(kLongBytes);
  std::uint32_t x = 2463534242u;
  for (std::uint32_t i = 0; i < kLongBytes; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    bytes[i] = static_cast<std::uint8_t>(x >> 24);
  }
  return bytes;
}

std::string TextPattern() {
  std::string text;
  text.reserve(kLongBytes);
  char record[16];
  for (std::uint32_t i = 0; i < kLongRecords; ++i) {
    std::snprintf(record, sizeof record, "%09u,", i * 10);
    text += record;
  }
  return text;
}

// The first offset at which two byte ranges differ, or -1.
long long FirstDifference(const std::uint8_t* got, const std::uint8_t* want, std::size_t n) {
  if (std::memcmp(got, want, n) == 0) return -1;
  for (std::size_t i = 0; i < n; ++i) {
    if (got[i] != want[i]) return static_cast<long long>(i);
  }
  return -1;
}

class CmdSeqFetchEndToEnd : public testing::TestWithParam<Link> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(vctmp_.path().empty());
    log_path_ = vctmp_.path() + "/requests.log";
    // The million rows are held by the stand-in at open: room for them.
    ASSERT_TRUE(server_.Start({"--max-connection-bytes=2G", "-rl", log_path_}));
    ASSERT_TRUE(client_.ok());
    int sqlcode = 0;
    ASSERT_EQ(client_.Connect("UID=dba;PWD=sql;" + server_.Links(GetParam()), &conn_, &sqlcode),
              CMDSEQ_OK)
        << sqlcode;
    CmdSeqInitErrorParam(client_.env(), &err_, 0);
  }
  void TearDown() override {
    if (conn_ == nullptr) return;
    if (cursor_.flags_b & CS_CURSOR_B_OPEN) {
      a_cmdseq_close_param close;
      close.cursor_name = "C";
      close.cursor = &cursor_;
      Reset();
      EXPECT_EQ(CmdSeqCloseCursor(conn_, &err_, &close), CMDSEQ_OK) << err_.sqlcode;
    }
    i_cs_FreeAllFetchData(&cursor_);
    i_cs_DropStmt(conn_, &handle_, true);
    CmdSeqFiniErrorParam(&err_);
    EXPECT_EQ(client_.Disconnect(conn_), CMDSEQ_OK);
  }

  void Reset() { CmdSeqResetErrorParam(&err_, conn_); }

  a_cmdseq_return ExecImm(const std::string& text) {
    Reset();
    a_cmdseq_exec_imm_param imm;
    imm.text = text.c_str();
    imm.text_len = static_cast<std::uint32_t>(text.size());
    return CmdSeqExecuteImm(conn_, &err_, &imm);
  }

  // Prepares `text` and opens cursor "C" on it; with a bound description the first
  // `rows` rows are prefetched with the open.
  a_cmdseq_return Open(const std::string& text, a_cmdseq_desc* bound, std::uint16_t rows) {
    Reset();
    a_cmdseq_prep_param prep{text.c_str(), static_cast<std::int32_t>(text.size()), 0, 0};
    a_cmdseq_return r = CmdSeqPrepare(conn_, &err_, &handle_, &prep);
    if (r != CMDSEQ_OK) return r;
    cursor_.conn = conn_;
    a_cmdseq_open_param open;
    open.handle = &handle_;
    open.cursor = &cursor_;
    open.cursor_name = "C";
    return CmdSeqOpenCursorPrefetch(conn_, &err_, &open, bound, rows);
  }

  // The request log's lines that name `request` (the word after the connection number).
  std::vector<std::string> Logged(const std::string& request) const {
    std::ifstream in(log_path_);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream words(line);
      std::string number, word;
      if (words >> number >> word && word == request) lines.push_back(line);
    }
    return lines;
  }

  vq_e2e::TempVctmp vctmp_;
  std::string log_path_;
  vq_e2e::Server server_{"csfetch"};
  vq_e2e::Client client_;
  a_cmdseq_conn* conn_ = nullptr;
  a_cmdseq_error_info err_;
  a_cmdseq_stmt_handle handle_;
  a_cmdseq_cursor cursor_{0};
};

// One bound column: the int id of a row, the other columns left to get data.
struct IdColumn {
  a_cmdseq_desc desc;
  std::int32_t id = 0;
  std::int32_t indicator = 77;
  bool ok = false;

  IdColumn() {
    CmdSeqInitDesc(&desc);
    ok = CmdSeqAllocDescItems(&desc, 1, 1) == CMDSEQ_OK;
    if (!ok) return;
    desc.items->type = 4;
    desc.items->length = 4;
    desc.items->values()[0] = {&id, &indicator, nullptr};
  }
  ~IdColumn() { CmdSeqFreeDescItems(&desc); }
  IdColumn(const IdColumn&) = delete;
  IdColumn& operator=(const IdColumn&) = delete;
};

// Bound columns for a block of rows: int, int, double, and a terminated text.
struct BlockColumns {
  a_cmdseq_desc desc;
  std::vector<std::int32_t> first, second;
  std::vector<double> third;
  std::vector<char> fourth;
  std::vector<std::int32_t> indicators;  // four per row, column-major
  std::vector<std::uint32_t> lengths;

  BlockColumns()
      : first(kBlock),
        second(kBlock),
        third(kBlock),
        fourth(static_cast<std::size_t>(kBlock) * kTextBytes),
        indicators(4u * kBlock),
        lengths(kBlock) {
    CmdSeqInitDesc(&desc);
  }
  ~BlockColumns() { CmdSeqFreeDescItems(&desc); }
  BlockColumns(const BlockColumns&) = delete;
  BlockColumns& operator=(const BlockColumns&) = delete;

  bool Bind() {
    if (CmdSeqAllocDescItems(&desc, 4, kBlock) != CMDSEQ_OK) return false;
    const std::int16_t types[4] = {4, 4, 8, -21};
    const std::uint32_t sizes[4] = {4, 4, 8, kTextBytes};
    a_cmdseq_desc_item* item = desc.items;
    for (int k = 0; k < 4 && item != nullptr; ++k, item = item->next) {
      item->type = types[k];
      item->length = sizes[k];
      for (std::uint32_t r = 0; r < kBlock; ++r) {
        void* data = k == 0   ? static_cast<void*>(&first[r])
                     : k == 1 ? static_cast<void*>(&second[r])
                     : k == 2 ? static_cast<void*>(&third[r])
                              : static_cast<void*>(&fourth[r * kTextBytes]);
        item->values()[r] = {data, &indicators[k * kBlock + r], k == 3 ? &lengths[r] : nullptr};
      }
    }
    return true;
  }
  void Scribble() {
    std::fill(first.begin(), first.end(), -1);
    std::fill(second.begin(), second.end(), -1);
    std::fill(third.begin(), third.end(), -1.0);
    std::fill(fourth.begin(), fourth.end(), '#');
    std::fill(indicators.begin(), indicators.end(), 77);
  }
  // The first mismatch of value record r against row n, or an empty text.
  std::string Check(std::uint32_t r, std::uint32_t n) const {
    std::ostringstream why;
    for (int k = 0; k < 4; ++k) {
      if (indicators[k * kBlock + r] != 0) {
        why << "column " << k + 1 << " indicator " << indicators[k * kBlock + r];
        return why.str();
      }
    }
    const std::string text(&fourth[r * kTextBytes]);
    if (first[r] != static_cast<std::int32_t>(n)) why << "first " << first[r];
    else if (second[r] != SecondOf(n)) why << "second " << second[r];
    else if (third[r] != ThirdOf(n)) why << "third " << third[r];
    else if (text != FourthOf(n)) why << "fourth \"" << text << "\"";
    else if (lengths[r] != text.size()) why << "length " << lengths[r];
    return why.str();
  }
};

TEST_P(CmdSeqFetchEndToEnd, ManyRowsForwardToTheEndWithThePrefetchInFlight) {
  BlockColumns cols;
  ASSERT_TRUE(cols.Bind());
  ASSERT_EQ(Open(RowsQuery(kRows), &cols.desc, kBlock), CMDSEQ_OK) << err_.sqlcode;

  std::uint32_t next = 1;  // the row the next block starts with
  std::uint32_t fetches = 0;
  for (;;) {
    cols.Scribble();
    Reset();
    a_cmdseq_fetch_param f;
    f.cursor = &cursor_;
    f.bound = &cols.desc;
    f.offset = 1;
    f.row_count = kBlock;
    const a_cmdseq_return r = CmdSeqFetch(conn_, &err_, &f);
    ++fetches;
    ASSERT_TRUE(r == CMDSEQ_OK || (r == CMDSEQ_WARNING && err_.sqlcode == 100))
        << "fetch " << fetches << ": " << r << " SQL code " << err_.sqlcode;
    ASSERT_LE(f.rows_fetched, kBlock);
    for (std::uint32_t i = 0; i < f.rows_fetched; ++i) {
      const std::string why = cols.Check(i, next + i);
      ASSERT_TRUE(why.empty()) << "row " << next + i << ": " << why;
    }
    next += f.rows_fetched;
    if (f.rows_fetched < kBlock) {
      // The short last block: the records it did not fill say NULL.
      for (std::uint32_t i = f.rows_fetched; i < kBlock; ++i) {
        for (int k = 0; k < 4; ++k) ASSERT_EQ(cols.indicators[k * kBlock + i], -1) << i;
      }
    }
    if (f.rows_fetched == 0) {
      EXPECT_EQ(r, CMDSEQ_WARNING);
      break;
    }
    ASSERT_LE(next, kRows + 1);
  }
  EXPECT_EQ(next, kRows + 1);
  EXPECT_EQ(fetches, kRows / kBlock + 2);  // the full blocks, the short one, the end

  // The rows came with prefetches: the server saw next to no fetch requests, and
  // prefetches asked for all the rows.
  const std::vector<std::string> fetch_lines = Logged("fetch");
  const std::vector<std::string> prefetch_lines = Logged("prefetch");
  unsigned long long prefetched = 0;
  for (const std::string& line : prefetch_lines) {
    const auto at = line.find("rows=");
    if (at != std::string::npos) prefetched += std::stoull(line.substr(at + 5));
  }
  EXPECT_GE(prefetched, kRows);
  EXPECT_LE(fetch_lines.size(), 2u) << fetch_lines.front();
  EXPECT_LT(prefetch_lines.size(), fetches / 4);  // each prefetch serves several blocks
}

// One long column read with get data, a piece at a time, into a buffer with guard bytes
// behind the piece.
struct PieceReader {
  static constexpr std::size_t kGuard = 16;
  a_cmdseq_desc desc;
  std::vector<std::uint8_t> buffer;
  std::int32_t indicator = 0;
  std::uint32_t length = 0;

  PieceReader(std::int16_t type, std::uint32_t piece) : buffer(piece + kGuard) {
    CmdSeqInitDesc(&desc);
    if (CmdSeqAllocDescItems(&desc, 1, 1) != CMDSEQ_OK) return;
    desc.items->type = type;
    desc.items->length = piece;
    desc.items->values()[0] = {buffer.data(), &indicator, &length};
  }
  ~PieceReader() { CmdSeqFreeDescItems(&desc); }
  PieceReader(const PieceReader&) = delete;
  PieceReader& operator=(const PieceReader&) = delete;

  bool ok() const { return desc.items != nullptr; }
  void Scribble() {
    std::fill(buffer.begin(), buffer.end(), 0xFF);
    indicator = 77;
    length = 0xDEADBEEF;
  }
  bool GuardIntact() const {
    for (std::size_t i = buffer.size() - kGuard; i < buffer.size(); ++i) {
      if (buffer[i] != 0xFF) return false;
    }
    return true;
  }
};

TEST_P(CmdSeqFetchEndToEnd, LongValuesInPiecesWithGetData) {
  const std::vector<std::uint8_t> binary = BinaryPattern();
  const std::string text = TextPattern();
  ASSERT_EQ(text.size(), kLongBytes);
  ASSERT_EQ(ExecImm("CREATE TABLE longs(id INTEGER, b LONG BINARY, v LONG VARCHAR)"), CMDSEQ_OK)
      << err_.sqlcode;
  {
    // The binary value goes in as a parameter; the text is made by the server.
    const std::string insert = "INSERT INTO longs(id, b) VALUES (1, ?)";
    a_cmdseq_prep_param prep{insert.c_str(), static_cast<std::int32_t>(insert.size()), 0, 0};
    a_cmdseq_stmt_handle h;
    Reset();
    ASSERT_EQ(CmdSeqPrepare(conn_, &err_, &h, &prep), CMDSEQ_OK) << err_.sqlcode;
    a_cmdseq_desc params;
    CmdSeqInitDesc(&params);
    ASSERT_EQ(CmdSeqAllocDescItems(&params, 1, 1), CMDSEQ_OK);
    std::int32_t indicator = 0;
    std::uint32_t length = kLongBytes;
    params.items->type = -4;
    params.items->length = kLongBytes;
    params.items->values()[0] = {const_cast<std::uint8_t*>(binary.data()), &indicator, &length};
    a_cmdseq_execute_param exec;
    exec.params = &params;
    exec.rows = 1;
    Reset();
    const a_cmdseq_return r = CmdSeqExecute(conn_, &err_, &h, &exec);
    CmdSeqFreeDescItems(&params);
    i_cs_DropStmt(conn_, &h, true);
    ASSERT_EQ(r, CMDSEQ_OK) << err_.sqlcode;
    EXPECT_EQ(exec.row_count, 1u);
  }
  ASSERT_EQ(ExecImm("UPDATE longs SET v = (WITH RECURSIVE s(n) AS (SELECT 0 UNION ALL "
                    "SELECT n + 1 FROM s WHERE n < " +
                    std::to_string(kLongRecords - 1) +
                    ") SELECT group_concat(printf('%09d,', n * 10), '') FROM s)"),
            CMDSEQ_OK)
      << err_.sqlcode;

  // The row: its id bound, the long columns left to get data.
  IdColumn bound;
  ASSERT_TRUE(bound.ok);
  a_cmdseq_desc& row = bound.desc;
  std::int32_t& id = bound.id;
  std::int32_t& id_indicator = bound.indicator;
  ASSERT_EQ(Open("SELECT id, b, v FROM longs", nullptr, 0), CMDSEQ_OK) << err_.sqlcode;
  a_cmdseq_fetch_param f;
  f.cursor = &cursor_;
  f.bound = &row;
  f.offset = 1;
  f.row_count = 1;
  Reset();
  const a_cmdseq_return fetched = CmdSeqFetch(conn_, &err_, &f);
  ASSERT_EQ(fetched, CMDSEQ_OK) << err_.sqlcode;
  ASSERT_EQ(f.rows_fetched, 1u);
  EXPECT_EQ(id, 1);
  EXPECT_EQ(id_indicator, 0);

  struct Case {
    const char* name;
    std::uint16_t column;
    std::int16_t type;
    std::uint32_t piece;
  };
  const Case cases[] = {
      {"binary, pieces that divide the length", 2, -4, kLongBytes / 5},
      {"binary, a prime piece size", 2, -4, 999983},
      {"binary, small pieces", 2, -4, 65521},
      {"binary, one piece larger than the value", 2, -4, kLongBytes + 1},
      {"text, pieces that divide the length", 3, -1, kLongBytes / 4},
      {"text, a prime piece size", 3, -1, 1000003},
      {"text, one piece the size of the value", 3, -1, kLongBytes},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PieceReader piece(c.type, c.piece);
    ASSERT_TRUE(piece.ok());
    const std::uint8_t* want = c.column == 2
                                   ? binary.data()
                                   : reinterpret_cast<const std::uint8_t*>(text.data());
    std::uint32_t offset = 0;
    unsigned pieces = 0;
    for (;;) {
      piece.Scribble();
      a_cmdseq_getdata_param get;
      get.cursor = &cursor_;
      get.column = c.column;
      get.piece_offset = offset;
      get.value = piece.desc.items;
      Reset();
      const a_cmdseq_return r = CmdSeqGetData(conn_, &err_, &get);
      ASSERT_TRUE(piece.GuardIntact()) << "at offset " << offset;
      if (offset == kLongBytes) {
        // Past the end: no more data, and nothing written.
        EXPECT_EQ(r, CMDSEQ_WARNING);
        EXPECT_EQ(err_.sqlcode, 100);
        EXPECT_EQ(piece.buffer.front(), 0xFF);
        break;
      }
      ASSERT_EQ(r, CMDSEQ_OK) << "at offset " << offset << ": SQL code " << err_.sqlcode;
      ++pieces;
      EXPECT_EQ(get.full_length, kLongBytes);
      EXPECT_EQ(piece.indicator, 0);
      const std::uint32_t expected = std::min(c.piece, kLongBytes - offset);
      ASSERT_EQ(piece.length, expected) << "at offset " << offset;
      const long long at = FirstDifference(piece.buffer.data(), want + offset, expected);
      ASSERT_EQ(at, -1) << "byte " << offset + at;
      offset += expected;
    }
    EXPECT_EQ(pieces, (kLongBytes + c.piece - 1) / c.piece);
  }
}

// A column read by get data joins the buffered row, and the next row is kept in the
// buffer as the current one: a read from the start of that column comes from the buffer,
// a piece from a later offset from the server, never the start again.
TEST_P(CmdSeqFetchEndToEnd, APieceAtAnOffsetOfAKeptRowComesFromTheServer) {
  IdColumn bound;
  ASSERT_TRUE(bound.ok);
  a_cmdseq_desc& row = bound.desc;
  std::int32_t& id = bound.id;
  ASSERT_EQ(Open("WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM s WHERE n < 3) "
                 "SELECT n, printf('row%d-abcdefghij', n) FROM s",
                 nullptr, 0),
            CMDSEQ_OK)
      << err_.sqlcode;
  auto fetch = [&] {
    a_cmdseq_fetch_param f;
    f.cursor = &cursor_;
    f.bound = &row;
    f.offset = 1;
    f.row_count = 1;
    Reset();
    return CmdSeqFetch(conn_, &err_, &f);
  };
  char text[32];
  std::int32_t indicator = 0;
  std::uint32_t length = 0;
  a_cmdseq_desc item;
  CmdSeqInitDesc(&item);
  ASSERT_EQ(CmdSeqAllocDescItems(&item, 1, 1), CMDSEQ_OK);
  item.items->type = -21;
  item.items->length = sizeof text;
  item.items->values()[0] = {text, &indicator, &length};
  auto read = [&](std::uint32_t offset) {
    std::memset(text, '#', sizeof text);
    a_cmdseq_getdata_param get;
    get.cursor = &cursor_;
    get.column = 2;
    get.piece_offset = offset;
    get.value = item.items;
    Reset();
    const a_cmdseq_return r = CmdSeqGetData(conn_, &err_, &get);
    return r == CMDSEQ_OK ? std::string(text, strnlen(text, sizeof text))
                          : "result " + std::to_string(r) + ", " + std::to_string(err_.sqlcode);
  };

  ASSERT_EQ(fetch(), CMDSEQ_OK) << err_.sqlcode;
  EXPECT_EQ(id, 1);
  EXPECT_EQ(read(0), "row1-abcdefghij");
  for (std::int32_t n : {2, 3}) {
    SCOPED_TRACE(n);
    ASSERT_EQ(fetch(), CMDSEQ_OK) << err_.sqlcode;
    EXPECT_EQ(id, n);
    const std::string whole = "row" + std::to_string(n) + "-abcdefghij";
    const std::size_t asked = Logged("get-data").size();
    EXPECT_EQ(read(0), whole);
    EXPECT_EQ(Logged("get-data").size(), asked);  // served from the kept row
    EXPECT_EQ(read(5), whole.substr(5));
    EXPECT_EQ(read(10), whole.substr(10));
    EXPECT_EQ(Logged("get-data").size(), asked + 2);
  }
  CmdSeqFreeDescItems(&item);
}

INSTANTIATE_TEST_SUITE_P(Links, CmdSeqFetchEndToEnd,
                         testing::Values(Link::kSharedMemory, Link::kTcpIp),
                         [](const testing::TestParamInfo<Link>& info) {
                           return vq_e2e::LinkName(info.param);
                         });

}  // namespace
