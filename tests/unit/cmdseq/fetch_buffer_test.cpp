// The fetch buffer: slots and their chains, cells inline and out of line, the memory
// budget, rows read from a reply and copied out into a description.
#include "cmdseq/fetch_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cmdseq/wire_values.h"
#include "cmdseq_fixture.h"
#include "utils/base/memory.h"

namespace {

struct BufferFixture : ::testing::Test {
  CmdSeqConn c;
  a_cmdseq_cursor cursor{0};

  BufferFixture() { cursor.conn = c.conn; }
  ~BufferFixture() override {
    i_cs_FreeAllocatedFetchBuffers(&cursor);
    ut_free(cursor.columns);
  }

  // Column entries: each (type, length) buffered in order.
  void entries(const std::vector<std::pair<std::int16_t, std::uint32_t>>& cols) {
    cursor.columns =
        static_cast<a_cmdseq_app_column*>(ut_calloc(cols.size() * sizeof(a_cmdseq_app_column)));
    for (std::size_t k = 0; k < cols.size(); ++k) {
      cursor.columns[k] = a_cmdseq_app_column{};
      cursor.columns[k].type = cols[k].first;
      cursor.columns[k].length = cursor.columns[k].sent_length = cols[k].second;
      cursor.columns[k].buffer_index = static_cast<std::int16_t>(k);
    }
    cursor.entry_count = cursor.entry_room = static_cast<std::uint16_t>(cols.size());
    cursor.buffered_columns = static_cast<std::uint16_t>(cols.size());
  }

  void insert_text(const std::string& text) {
    ASSERT_TRUE(i_cs_StoreCell(&cursor, 0, text.data(), static_cast<std::uint32_t>(text.size()),
                               static_cast<std::uint32_t>(text.size()), 0));
    ASSERT_TRUE(i_cs_CompleteRowInsert(&cursor));
  }

  std::string current_text(std::uint32_t column = 0) {
    std::uint32_t held = 0, full = 0;
    const std::uint8_t* data = nullptr;
    std::uint8_t flags = 0;
    if (!i_cs_GetFromCurrentRow(&cursor, column, &held, &full, &data, &flags)) return "<none>";
    return std::string(reinterpret_cast<const char*>(data), held);
  }

  std::uint32_t in_use() const { return c.conn->fetch_bytes_in_use; }
};

TEST_F(BufferFixture, ValuesUpToFourteenBytesStayInTheCellLongerOnesCostABlock) {
  struct Case {
    std::size_t bytes;
    bool out_of_line;
    std::uint32_t block_cost;
  };
  const Case cases[] = {{0, false, 0}, {14, false, 0}, {15, true, 23}, {200, true, 208}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.bytes);
    ASSERT_TRUE(i_cs_CreateFetchBuffer(&cursor, 2, 1));
    const std::uint32_t empty = in_use();
    EXPECT_EQ(empty, i_cs_FetchBufferBytes(2, 1));
    insert_text(std::string(k.bytes, 'x'));
    std::uint32_t held = 0, full = 0;
    const std::uint8_t* data = nullptr;
    std::uint8_t flags = 0;
    ASSERT_TRUE(i_cs_GetFromCurrentRow(&cursor, 0, &held, &full, &data, &flags));
    EXPECT_EQ((flags & CS_CELL_OUT_OF_LINE) != 0, k.out_of_line);
    EXPECT_EQ(held, k.bytes);
    EXPECT_EQ(in_use(), empty + k.block_cost);
    i_cs_ReleaseCurrentRow(&cursor);
    EXPECT_EQ(in_use(), empty);
    i_cs_FreeAllocatedFetchBuffers(&cursor);
    EXPECT_EQ(in_use(), 0u);
  }
}

TEST_F(BufferFixture, RowsComeOutInArrivalOrderAndSlotsAreReused) {
  ASSERT_TRUE(i_cs_CreateFetchBuffer(&cursor, 3, 1));
  for (const char* t : {"a", "b", "c"}) insert_text(t);
  EXPECT_EQ(i_cs_InsertSlot(&cursor), nullptr);
  EXPECT_FALSE(i_cs_CompleteRowInsert(&cursor));
  EXPECT_EQ(current_text(), "a");
  i_cs_ReleaseCurrentRow(&cursor);
  insert_text("d");
  std::string order;
  while (cursor.buffer->count != 0) {
    order += current_text();
    i_cs_ReleaseCurrentRow(&cursor);
  }
  EXPECT_EQ(order, "bcd");
  EXPECT_EQ(cursor.buffer->head, cursor.buffer->capacity);
  EXPECT_EQ(cursor.buffer->tail, cursor.buffer->capacity);
}

TEST_F(BufferFixture, GrowingKeepsTheRowsAndAddsFreeSlots) {
  ASSERT_TRUE(i_cs_CreateFetchBuffer(&cursor, 2, 1));
  insert_text("first value, out of line");
  insert_text("b");
  const std::uint32_t blocks =
      in_use() - static_cast<std::uint32_t>(i_cs_FetchBufferBytes(2, 1));
  ASSERT_TRUE(i_cs_ResizeFetchBuffer(&cursor, 5, 1));
  EXPECT_EQ(in_use(), i_cs_FetchBufferBytes(5, 1) + blocks);
  for (const char* t : {"c", "d", "e"}) insert_text(t);
  EXPECT_EQ(i_cs_InsertSlot(&cursor), nullptr);
  std::vector<std::string> order;
  while (cursor.buffer->count != 0) {
    order.push_back(current_text());
    i_cs_ReleaseCurrentRow(&cursor);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"first value, out of line", "b", "c", "d", "e"}));
}

TEST_F(BufferFixture, ShrinkingOrReshapingIsRefusedWhileRowsAreHeld) {
  ASSERT_TRUE(i_cs_CreateFetchBuffer(&cursor, 4, 1));
  insert_text("a");
  EXPECT_FALSE(i_cs_ResizeFetchBuffer(&cursor, 2, 1));
  ASSERT_NE(cursor.buffer, nullptr);
  EXPECT_EQ(current_text(), "a");
  EXPECT_TRUE(i_cs_ResizeFetchBuffer(&cursor, 4, 1));  // same shape

  EXPECT_FALSE(i_cs_ResizeFetchBuffer(&cursor, 4, 2));  // other columns give the buffer up
  EXPECT_EQ(cursor.buffer, nullptr);
  EXPECT_EQ(in_use(), 0u);

  ASSERT_TRUE(i_cs_CreateFetchBuffer(&cursor, 4, 1));
  EXPECT_TRUE(i_cs_ResizeFetchBuffer(&cursor, 2, 3));  // empty: any shape
  EXPECT_EQ(cursor.buffer->capacity, 2);
  EXPECT_EQ(cursor.buffer->columns, 3);
  EXPECT_EQ(in_use(), i_cs_FetchBufferBytes(2, 3));
  EXPECT_TRUE(i_cs_ResizeFetchBuffer(&cursor, 0, 0));
  EXPECT_EQ(cursor.buffer, nullptr);
  EXPECT_EQ(in_use(), 0u);
}

// Cells sit at offsets 12 + 16k of a slot: block addresses there are never 8-aligned and
// go in and out by memcpy (the sanitizer build checks alignment).
TEST_F(BufferFixture, BlockAddressesInUnalignedCellsRoundTrip) {
  ASSERT_TRUE(i_cs_CreateFetchBuffer(&cursor, 3, 5));
  for (int row = 0; row < 3; ++row) {
    for (std::uint32_t k = 0; k < 5; ++k) {
      const std::string v = "row " + std::to_string(row) + " column " + std::to_string(k) + "!";
      ASSERT_TRUE(i_cs_StoreCell(&cursor, k, v.data(), static_cast<std::uint32_t>(v.size()),
                                 static_cast<std::uint32_t>(v.size()), 0));
    }
    ASSERT_TRUE(i_cs_CompleteRowInsert(&cursor));
  }
  for (int row = 0; row < 3; ++row) {
    for (std::uint32_t k = 0; k < 5; ++k) {
      EXPECT_EQ(current_text(k),
                "row " + std::to_string(row) + " column " + std::to_string(k) + "!");
    }
    i_cs_ReleaseCurrentRow(&cursor);
  }
  EXPECT_EQ(in_use(), i_cs_FetchBufferBytes(3, 5));
}

TEST_F(BufferFixture, FlushReleasesEveryRowAndMarksTheFlushedPrefetch) {
  struct Case {
    int rows;
    bool keep_state;
    bool abandoned;
  };
  for (const Case& k : {Case{1, true, false}, Case{2, true, true}, Case{1, false, true},
                        Case{0, false, false}}) {
    SCOPED_TRACE(k.rows * 10 + k.keep_state);
    cursor.flags_a = CS_CURSOR_A_PREFETCH | CS_CURSOR_A_GROWTH;
    cursor.flags_b = CS_CURSOR_B_END_BEHIND;
    ASSERT_TRUE(i_cs_CreateFetchBuffer(&cursor, 3, 1));
    for (int i = 0; i < k.rows; ++i) insert_text("r");
    i_cs_FlushBuffersForCursor(&cursor, k.keep_state);
    EXPECT_EQ(cursor.buffer->count, 0);
    EXPECT_EQ((cursor.flags_b & CS_CURSOR_B_ABANDONED) != 0, k.abandoned);
    EXPECT_EQ((cursor.flags_a & CS_CURSOR_A_PREFETCH) == 0, k.abandoned);
    EXPECT_EQ(cursor.flags_b & CS_CURSOR_B_END_BEHIND, 0);
  }
}

// --- Rows from a reply --------------------------------------------------------------------

TEST_F(BufferFixture, ARowIsReadIntoCellsCappedAtTheEntrysLength) {
  entries({{4, 4}, {-21, 30}, {-21, 10}, {1, 10}});
  ASSERT_TRUE(i_cs_CreateFetchBuffer(&cursor, 2, 4));
  const Bytes long_value(1000, 'L');
  c.sconn.item(112, le32(77))
      .long_item(107, long_value)
      .item(CS_ITEM_NULL)
      .item(CS_ITEM_NO_VALUE)
      .item(CS_ITEM_END_OF_DATA, Bytes{0})
      .item(CS_ITEM_END)
      .sync();
  bool end = false, inserted = false;
  EXPECT_EQ(i_cs_ReceiveRowIntoBuffer(c.conn, &c.err, &cursor, &end, &inserted), CMDSEQ_OK);
  EXPECT_TRUE(inserted);
  EXPECT_FALSE(end);
  EXPECT_EQ(cursor.rows_received, 1);

  std::uint32_t held = 0, full = 0;
  const std::uint8_t* data = nullptr;
  std::uint8_t flags = 0;
  ASSERT_TRUE(i_cs_GetFromCurrentRow(&cursor, 0, &held, &full, &data, &flags));
  std::int32_t v = 0;
  std::memcpy(&v, data, 4);
  EXPECT_EQ(v, 77);
  ASSERT_TRUE(i_cs_GetFromCurrentRow(&cursor, 1, &held, &full, &data, &flags));
  EXPECT_EQ(held, 30u);  // never more than the entry asked for
  EXPECT_EQ(full, 1000u);
  EXPECT_TRUE(flags & CS_CELL_PARTIAL);
  EXPECT_EQ(in_use(), i_cs_FetchBufferBytes(2, 4) + 8 + 30);
  ASSERT_TRUE(i_cs_GetFromCurrentRow(&cursor, 2, &held, &full, &data, &flags));
  EXPECT_EQ(flags, CS_CELL_NULL);
  ASSERT_TRUE(i_cs_GetFromCurrentRow(&cursor, 3, &held, &full, &data, &flags));
  EXPECT_EQ(flags, CS_CELL_UNAVAILABLE);

  EXPECT_EQ(i_cs_ReceiveRowIntoBuffer(c.conn, &c.err, &cursor, &end, &inserted), CMDSEQ_OK);
  EXPECT_TRUE(end);
  EXPECT_FALSE(inserted);
  EXPECT_TRUE(c.sconn.script_done());
}

// Each value kind at the edges of what a cell holds: what is stored, where, and what the
// budget is charged, whether the row is taken in one look (short) or item by item.
TEST_F(BufferFixture, ValuesAtTheEdgesOfACell) {
  struct Case {
    const char* name;
    std::int16_t type;
    std::uint32_t length;  // the entry's length
    std::vector<std::pair<std::uint8_t, Bytes>> items;
    a_cmdseq_return result;
    Bytes held;            // bytes the cell gives back
    std::uint32_t full;    // full length it reports
    std::uint8_t flags;    // cell flags, block flag included
    bool short_road;       // the row was taken in one look
  };
  const Bytes fourteen(14, 'f');
  const Bytes fifteen(15, 'g');
  const Bytes twelve(12, 'h');
  const Bytes binary = {0x00, 0xFF, 0x80, 0x7F, 0x00};
  const Case cases[] = {
      {"integer", 4, 4, {{112, le32(0x80000001u)}}, CMDSEQ_OK, le32(0x80000001u), 4, 0, true},
      {"double", 8, 8, {{111, le64(0x4000000000000000ull)}}, CMDSEQ_OK,
       le64(0x4000000000000000ull), 8, 0, true},
      // Eight-byte values whose low word has its top bit set keep their high word.
      {"big integer 0x1_80000000", -5, 8, {{104, le64(0x180000000ull)}}, CMDSEQ_OK,
       le64(0x180000000ull), 8, 0, true},
      {"double 0.1", 8, 8, {{111, le64(0x3FB999999999999Aull)}}, CMDSEQ_OK,
       le64(0x3FB999999999999Aull), 8, 0, true},
      {"small integer of the wrong size", 5, 2, {{117, le32(1)}}, CMDSEQ_PROTOCOL_ERROR, {}, 0,
       0, false},
      {"text of fourteen bytes", -21, 30, {{107, fourteen}}, CMDSEQ_OK, fourteen, 14, 0, true},
      {"text of fifteen bytes", -21, 30, {{107, fifteen}}, CMDSEQ_OK, fifteen, 15,
       CS_CELL_OUT_OF_LINE, false},
      {"text longer than the entry", -21, 10, {{107, twelve}}, CMDSEQ_OK, Bytes(10, 'h'), 12,
       CS_CELL_OUT_OF_LINE | CS_CELL_PARTIAL, false},
      {"empty text", 1, 10, {{107, {}}}, CMDSEQ_OK, {}, 0, 0, true},
      {"binary bytes", -2, 10, {{105, binary}}, CMDSEQ_OK, binary, 5, 0, true},
      {"text after its full length", -21, 30, {{102, le32(40)}, {107, Bytes(3, 'a')}},
       CMDSEQ_OK, Bytes(3, 'a'), 40, CS_CELL_OUT_OF_LINE | CS_CELL_PARTIAL, false},
      {"null", 4, 4, {{CS_ITEM_NULL, {}}}, CMDSEQ_OK, {}, 0, CS_CELL_NULL, true},
      {"unavailable", -21, 30, {{CS_ITEM_NO_VALUE, {}}}, CMDSEQ_OK, {}, 0, CS_CELL_UNAVAILABLE,
       true},
      {"integer sent as text", 4, 4, {{107, Bytes(4, '1')}}, CMDSEQ_PROTOCOL_ERROR, {}, 0, 0,
       false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    CmdSeqResetErrorParam(&c.err, nullptr);
    entries({{k.type, k.length}});
    ASSERT_TRUE(i_cs_CreateFetchBuffer(&cursor, 1, 1));
    for (const auto& [code, payload] : k.items) c.sconn.item(code, payload);
    c.sconn.item(CS_ITEM_END_OF_DATA, Bytes{0}).sync();
    bool end = false, inserted = false;
    const int skips = c.sconn.short_skips;
    EXPECT_EQ(i_cs_ReceiveRowIntoBuffer(c.conn, &c.err, &cursor, &end, &inserted), k.result);
    EXPECT_EQ(inserted, k.result == CMDSEQ_OK);
    EXPECT_EQ(c.sconn.short_skips - skips, k.short_road ? 1 : 0);
    EXPECT_EQ(cursor.rows_received, inserted ? 1 : 0);
    cursor.rows_received = 0;
    if (inserted) {
      std::uint32_t held = 0, full = 0;
      const std::uint8_t* data = nullptr;
      std::uint8_t flags = 0;
      ASSERT_TRUE(i_cs_GetFromCurrentRow(&cursor, 0, &held, &full, &data, &flags));
      EXPECT_EQ(Bytes(data, data + held), k.held);
      EXPECT_EQ(full, k.full);
      EXPECT_EQ(flags, k.flags);
      const std::size_t block =
          (k.flags & CS_CELL_OUT_OF_LINE) != 0 ? kBlockHeaderBytes + k.held.size() : 0;
      EXPECT_EQ(in_use(), i_cs_FetchBufferBytes(1, 1) + block);
    } else {
      EXPECT_EQ(cursor.buffer->count, 0);
      EXPECT_EQ(in_use(), i_cs_FetchBufferBytes(1, 1));
      (void)SQLPresReSync(c.conn->strm_conn, 1);
    }
    ut_free(cursor.columns);
    cursor.columns = nullptr;
    i_cs_FreeAllocatedFetchBuffers(&cursor);
  }
}

TEST_F(BufferFixture, EndRowsAndBrokenRows) {
  struct Case {
    const char* name;
    std::int32_t status;  // of the end-of-row item standing in for the first value
    a_cmdseq_return result;
    bool inserted;
    bool row_failed;
  };
  const Case cases[] = {
      {"end of data", 100, CMDSEQ_WARNING, true, false},
      {"missing row", -197, CMDSEQ_ERROR, true, false},
      {"other status", -300, CMDSEQ_OK, false, true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    CmdSeqResetErrorParam(&c.err, nullptr);
    cursor.flags_b = 0;
    entries({{4, 4}});
    ASSERT_TRUE(i_cs_CreateFetchBuffer(&cursor, 2, 1));
    c.sconn.item(CS_ITEM_END_OF_DATA, Bytes{1})
        .item(CS_ITEM_ERROR, error_record(k.status, "02000", "02000", "02000"))
        .item(CS_ITEM_END);
    if (k.inserted) c.sconn.item(CS_ITEM_END);
    c.sconn.sync();
    bool end = false, inserted = false;
    EXPECT_EQ(i_cs_ReceiveRowIntoBuffer(c.conn, &c.err, &cursor, &end, &inserted), k.result);
    EXPECT_EQ(inserted, k.inserted);
    EXPECT_EQ(end, k.inserted);
    EXPECT_EQ((cursor.flags_b & CS_CURSOR_B_ROW_FAILED) != 0, k.row_failed);
    if (k.inserted) {
      EXPECT_EQ(c.err.sqlcode, k.status);
    }
    EXPECT_TRUE(c.sconn.script_done());
    ut_free(cursor.columns);
    cursor.columns = nullptr;
    i_cs_FreeAllocatedFetchBuffers(&cursor);
  }
}

TEST_F(BufferFixture, AValueOfTheWrongWireTypeIsAProtocolError) {
  entries({{4, 4}});
  ASSERT_TRUE(i_cs_CreateFetchBuffer(&cursor, 1, 1));
  c.sconn.item(107, std::string("abc")).item(CS_ITEM_END_OF_DATA, Bytes{0}).sync();
  bool end = false, inserted = false;
  EXPECT_EQ(i_cs_ReceiveRowIntoBuffer(c.conn, &c.err, &cursor, &end, &inserted),
            CMDSEQ_PROTOCOL_ERROR);
  EXPECT_FALSE(inserted);
  EXPECT_EQ(cursor.buffer->count, 0);
  EXPECT_EQ(in_use(), i_cs_FetchBufferBytes(1, 1));
}

TEST_F(BufferFixture, ARowWithoutAFreeSlotIsDroppedAndPrefetchStops) {
  entries({{4, 4}});
  ASSERT_TRUE(i_cs_CreateFetchBuffer(&cursor, 1, 1));
  insert_text("x");
  cursor.flags_a = CS_CURSOR_A_PREFETCH;
  c.sconn.item(112, le32(1))
      .item(CS_ITEM_END_OF_DATA, Bytes{0})
      .item(112, le32(2))
      .item(CS_ITEM_END_OF_DATA, Bytes{0})
      .item(CS_ITEM_END)
      .sync();
  bool end = false, inserted = false;
  EXPECT_EQ(i_cs_ReceiveRowIntoBuffer(c.conn, &c.err, &cursor, &end, &inserted), CMDSEQ_OK);
  EXPECT_TRUE(end);
  EXPECT_FALSE(inserted);
  EXPECT_TRUE(cursor.flags_b & CS_CURSOR_B_ROW_FAILED);
  EXPECT_EQ(cursor.flags_a & CS_CURSOR_A_PREFETCH, 0);
  EXPECT_TRUE(c.sconn.script_done());
}

// --- Copying out ----------------------------------------------------------------------------

// Short values of every length a cell holds, taken on the short road and copied out to
// a bound buffer with guard bytes around it: the bytes arrive whole and nothing around
// them is touched, whichever way a length is copied.
TEST_F(BufferFixture, ShortValuesOfEveryLengthComeOutWhole) {
  for (std::uint32_t n = 0; n <= kCellInlineBytes; ++n) {
    SCOPED_TRACE(n);
    entries({{-2, 20}});
    ASSERT_TRUE(i_cs_CreateFetchBuffer(&cursor, 1, 1));
    Bytes value(n);
    for (std::uint32_t i = 0; i < n; ++i) value[i] = static_cast<std::uint8_t>(0xA0 + i);
    c.sconn.item(105, value);
    c.sconn.item(CS_ITEM_END_OF_DATA, Bytes{0}).sync();
    bool end = false, inserted = false;
    const int skips = c.sconn.short_skips;
    ASSERT_EQ(i_cs_ReceiveRowIntoBuffer(c.conn, &c.err, &cursor, &end, &inserted), CMDSEQ_OK);
    ASSERT_TRUE(inserted);
    EXPECT_EQ(c.sconn.short_skips - skips, 1);

    a_cmdseq_desc desc;
    CmdSeqInitDesc(&desc);
    ASSERT_EQ(CmdSeqAllocDescItems(&desc, 1, 1), CMDSEQ_OK);
    std::uint8_t out[4 + 20 + 4];
    std::memset(out, 0xFF, sizeof out);
    std::int32_t ind = 9;
    std::uint32_t len = 0;
    desc.items->type = -2;
    desc.items->length = 20;
    desc.items->values()[0] = {out + 4, &ind, &len};
    EXPECT_EQ(i_cs_CopyBufferedRowToDesc(c.conn, &cursor, &c.err, &desc, 0), CMDSEQ_OK);
    EXPECT_EQ(Bytes(out + 4, out + 4 + n), value);
    EXPECT_EQ(Bytes(out, out + 4), Bytes(4, 0xFF));
    EXPECT_EQ(Bytes(out + 4 + n, out + sizeof out), Bytes(sizeof out - 4 - n, 0xFF));
    EXPECT_EQ(len, n);
    EXPECT_EQ(ind, 0);
    CmdSeqFreeDescItems(&desc);
    ut_free(cursor.columns);
    cursor.columns = nullptr;
    i_cs_FreeAllocatedFetchBuffers(&cursor);
  }
}

// Text copied out to a bound text buffer of every size around its length, whole or
// known to be longer than what arrived: the buffer (guard bytes around it included),
// the length reported and the truncation warning are what i_cs_CompleteCopy makes of
// the same bytes.
TEST_F(BufferFixture, TextIsFinishedLikeAnyCompletedCopy) {
  for (const std::uint32_t n : {0u, 1u, 7u, 8u, 13u, 14u, 20u}) {
    for (const std::uint32_t more : {0u, 10u}) {  // the full length is n + more
      for (std::uint32_t size = n > 2 ? n - 2 : 0; size <= n + 2; ++size) {
        SCOPED_TRACE(testing::Message() << "length " << n << " full " << n + more << " size "
                                        << size);
        entries({{-21, 40}});
        ASSERT_TRUE(i_cs_CreateFetchBuffer(&cursor, 1, 1));
        Bytes value(n);
        for (std::uint32_t i = 0; i < n; ++i) value[i] = static_cast<std::uint8_t>('a' + i);
        ASSERT_TRUE(i_cs_StoreCell(&cursor, 0, value.data(), n, n + more,
                                   more != 0 ? CS_CELL_PARTIAL : 0));
        ASSERT_TRUE(i_cs_CompleteRowInsert(&cursor));

        a_cmdseq_desc desc;
        CmdSeqInitDesc(&desc);
        ASSERT_EQ(CmdSeqAllocDescItems(&desc, 1, 1), CMDSEQ_OK);
        std::uint8_t out[4 + 24 + 4];
        std::memset(out, 0xFF, sizeof out);
        std::int32_t ind = 9;
        std::uint32_t len = 0;
        desc.items->type = -21;
        desc.items->length = size;
        desc.items->values()[0] = {out + 4, &ind, &len};
        CmdSeqResetErrorParam(&c.err, nullptr);
        const a_cmdseq_return r = i_cs_CopyBufferedRowToDesc(c.conn, &cursor, &c.err, &desc, 0);

        std::uint8_t want[sizeof out];
        std::memset(want, 0xFF, sizeof want);
        const std::uint32_t got = n < size ? n : size;
        if (got != 0) std::memcpy(want + 4, value.data(), got);
        std::uint32_t want_len = 0;
        const bool truncated =
            i_cs_CompleteCopy(c.conn, -21, size, n + more, got, false, want + 4, &want_len) != 0;
        EXPECT_EQ(Bytes(out, out + sizeof out), Bytes(want, want + sizeof want));
        EXPECT_EQ(len, want_len);
        EXPECT_EQ(r, truncated ? CMDSEQ_WARNING : CMDSEQ_OK);
        EXPECT_EQ(c.err.sqlcode, truncated ? 101 : 0);
        CmdSeqFreeDescItems(&desc);
        ut_free(cursor.columns);
        cursor.columns = nullptr;
        i_cs_FreeAllocatedFetchBuffers(&cursor);
      }
    }
  }
}

TEST_F(BufferFixture, TheCurrentRowIsCopiedIntoTheDescription) {
  entries({{4, 4}, {-21, 20}, {4, 4}});
  ASSERT_TRUE(i_cs_CreateFetchBuffer(&cursor, 1, 3));
  const std::int32_t n = 42;
  ASSERT_TRUE(i_cs_StoreCell(&cursor, 0, &n, 4, 4, 0));
  ASSERT_TRUE(i_cs_StoreCell(&cursor, 1, "hello world", 11, 11, 0));
  ASSERT_TRUE(i_cs_StoreCell(&cursor, 2, nullptr, 0, 0, CS_CELL_NULL));
  ASSERT_TRUE(i_cs_CompleteRowInsert(&cursor));

  a_cmdseq_desc desc;
  CmdSeqInitDesc(&desc);
  ASSERT_EQ(CmdSeqAllocDescItems(&desc, 3, 1), CMDSEQ_OK);
  std::int32_t out_n = 0, ind[3] = {9, 9, 9};
  char text[6];
  std::uint32_t len = 0;
  a_cmdseq_desc_item* item = desc.items;
  item->type = 4;
  item->length = 4;
  item->values()[0] = {&out_n, &ind[0], nullptr};
  item = item->next;
  item->type = -21;
  item->length = sizeof text;
  item->values()[0] = {text, &ind[1], &len};
  item = item->next;
  item->type = 4;
  item->length = 4;
  std::int32_t unused = 0;
  item->values()[0] = {&unused, &ind[2], nullptr};

  EXPECT_EQ(i_cs_CopyBufferedRowToDesc(c.conn, &cursor, &c.err, &desc, 0), CMDSEQ_WARNING);
  EXPECT_EQ(out_n, 42);
  EXPECT_STREQ(text, "hello");
  EXPECT_EQ(len, 11u);
  EXPECT_EQ(c.err.sqlcode, 101);
  EXPECT_EQ(ind[0], 0);
  EXPECT_EQ(ind[2], -1);

  // NULL into an item without an indicator.
  desc.items->next->next->values()[0].indicator = nullptr;
  CmdSeqResetErrorParam(&c.err, nullptr);
  EXPECT_EQ(i_cs_CopyBufferedRowToDesc(c.conn, &cursor, &c.err, &desc, 0), CMDSEQ_ERROR);
  EXPECT_EQ(c.err.sqlcode, -181);
  CmdSeqFreeDescItems(&desc);
}

}  // namespace
