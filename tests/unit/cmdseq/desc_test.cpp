// Descriptor item lists: the three forms, item addressing by size arithmetic, the change
// counter and its wrap, resizing, freeing.
#include "cmdseq/desc.h"

#include <gtest/gtest.h>

#include <cstring>

#include "cmdseq_fixture.h"
#include "utils/base/bounded_strings.h"

namespace {

struct Desc {
  a_cmdseq_desc d;
  Desc() { CmdSeqInitDesc(&d); }
  ~Desc() { CmdSeqFreeDescItems(&d); }
};

TEST(DescItems, ItemSizesFollowTheRecordsOfThisBuild) {
  // A header holds two name pointers and a next pointer; a value record three pointers.
  EXPECT_EQ(sizeof(a_cmdseq_value), 3 * sizeof(void*));
  EXPECT_EQ(i_cs_DescItemBytes(0), sizeof(a_cmdseq_desc_item));
  EXPECT_EQ(i_cs_DescItemBytes(2), sizeof(a_cmdseq_desc_item) + 2 * sizeof(a_cmdseq_value));
  EXPECT_EQ(sizeof(a_cmdseq_desc_item) % alignof(void*), 0u);
}

TEST(DescItems, InitialisedDescriptor) {
  Desc x;
  EXPECT_EQ(x.d.count, 0u);
  EXPECT_EQ(x.d.items, nullptr);
  EXPECT_EQ(x.d.change_counter, 1);
  EXPECT_EQ(x.d.values_per_item, 1);
  EXPECT_EQ(x.d.flags, 0x03);
}

TEST(DescItems, OneItemOfOneValueLivesInline) {
  Desc x;
  EXPECT_EQ(CmdSeqAllocDescItems(&x.d, 1, 1), CMDSEQ_OK);
  EXPECT_EQ(reinterpret_cast<unsigned char*>(x.d.items), x.d.inline_item);
  EXPECT_NE(x.d.flags & CS_DESC_INLINE, 0);
  EXPECT_EQ(x.d.flags & CS_DESC_BLOCK, 0);
  EXPECT_EQ(x.d.count, 1u);
}

TEST(DescItems, ABlockIsAddressedByArithmeticAndChained) {
  Desc x;
  ASSERT_EQ(CmdSeqAllocDescItems(&x.d, 3, 2), CMDSEQ_OK);
  EXPECT_NE(x.d.flags & CS_DESC_BLOCK, 0);
  EXPECT_EQ(x.d.values_per_item, 2);
  a_cmdseq_desc_item* first = x.d.items;
  a_cmdseq_desc_item* item = first;
  for (std::uint32_t k = 0; k < 3; ++k, item = item->next) {
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item, CmdSeqFastGetDescItem(first, k, 2));
    EXPECT_EQ(reinterpret_cast<char*>(item) - reinterpret_cast<char*>(first),
              static_cast<std::ptrdiff_t>(
                  k * (sizeof(a_cmdseq_desc_item) + 2 * sizeof(a_cmdseq_value))));
    EXPECT_EQ(item, CmdSeqGetDescItem(&x.d, k + 1));
    EXPECT_EQ(item->stamp, x.d.change_counter);
    for (int v = 0; v < 2; ++v) {
      EXPECT_EQ(item->values()[v].data, nullptr);
      // The whole item can be written: the block is as long as the arithmetic says.
      item->values()[v].data = item;
    }
  }
  EXPECT_EQ(item, nullptr);
  EXPECT_EQ(CmdSeqGetDescItem(&x.d, 0), first);
  EXPECT_EQ(CmdSeqGetDescItem(&x.d, 4), nullptr);
}

TEST(DescItems, AppendedItemsUseTheInlineItemFirst) {
  Desc x;
  a_cmdseq_desc_item* a = i_cs_AllocDescItem(&x.d, 1);
  ASSERT_EQ(reinterpret_cast<unsigned char*>(a), x.d.inline_item);
  i_cs_AppendDescItem(&x.d, a);
  a_cmdseq_desc_item* b = i_cs_AllocDescItem(&x.d, 0);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(reinterpret_cast<unsigned char*>(b), x.d.inline_item);
  b->name = ut_strdup("b");
  i_cs_AppendDescItem(&x.d, b);
  EXPECT_EQ(x.d.count, 2u);
  EXPECT_EQ(CmdSeqGetDescItem(&x.d, 2), b);
  EXPECT_EQ(a->next, b);

  Desc block;
  ASSERT_EQ(CmdSeqAllocDescItems(&block.d, 2, 2), CMDSEQ_OK);
  EXPECT_EQ(i_cs_AllocDescItem(&block.d, 1), nullptr);  // refused in block mode
}

TEST(DescItems, CounterAdvancesOncePerCycle) {
  Desc x;
  ASSERT_EQ(CmdSeqAllocDescItems(&x.d, 2, 1), CMDSEQ_OK);
  const std::uint16_t start = x.d.change_counter;
  a_cmdseq_cursor cursor{0};
  CmdSeqMarkCursorCurrent(&cursor, &x.d);
  EXPECT_EQ(CmdSeqIsDescUpdated(&cursor, &x.d), 0);
  a_cmdseq_desc_item* second = CmdSeqGetDescItem(&x.d, 2);
  EXPECT_EQ(CmdSeqMarkDescItemUpdated(&x.d, second), CMDSEQ_OK);
  EXPECT_EQ(x.d.change_counter, start + 1);
  EXPECT_EQ(second->stamp, start + 1);
  EXPECT_EQ(CmdSeqMarkDescItemUpdated(&x.d, x.d.items), CMDSEQ_OK);
  EXPECT_EQ(x.d.change_counter, start + 1);  // the same cycle
  EXPECT_EQ(CmdSeqIsDescUpdated(&cursor, &x.d), 1);
  CmdSeqMarkCursorCurrent(&cursor, &x.d);
  EXPECT_EQ(CmdSeqIsDescUpdated(&cursor, &x.d), 0);
  EXPECT_EQ(CmdSeqMarkDescItemUpdated(&x.d, x.d.items), CMDSEQ_OK);
  EXPECT_EQ(x.d.change_counter, start + 2);  // a new cycle
  CmdSeqMarkCursorOld(&cursor);
  EXPECT_EQ(cursor.known_counter, 0);
  EXPECT_EQ(CmdSeqIsDescUpdated(&cursor, &x.d), 1);
}

TEST(DescItems, CounterWrapStampsEveryItemOne) {
  Desc x;
  ASSERT_EQ(CmdSeqAllocDescItems(&x.d, 3, 1), CMDSEQ_OK);
  a_cmdseq_cursor cursor{0};
  x.d.change_counter = 65535;
  CmdSeqMarkCursorCurrent(&cursor, &x.d);
  for (a_cmdseq_desc_item* item = x.d.items; item != nullptr; item = item->next)
    item->stamp = 9;
  EXPECT_EQ(CmdSeqMarkDescItemUpdated(&x.d, x.d.items), CMDSEQ_COUNTER_WRAPPED);
  EXPECT_EQ(x.d.change_counter, 1);
  for (a_cmdseq_desc_item* item = x.d.items; item != nullptr; item = item->next) {
    EXPECT_EQ(item->stamp, 1);
  }
  // The counter went down: the cursor cannot tell by comparison, which is why the
  // caller is told to treat every description as changed.
  EXPECT_EQ(CmdSeqIsDescUpdated(&cursor, &x.d), 0);
}

TEST(DescItems, ResizeKeepsHeadersAndValuesAndZeroesTheNewRecords) {
  Desc x;
  ASSERT_EQ(CmdSeqAllocDescItems(&x.d, 1, 1), CMDSEQ_OK);
  std::int32_t indicator = 0;
  char buffer[4];
  x.d.items->type = -21;
  x.d.items->length = 4;
  x.d.items->values()[0] = {buffer, &indicator, nullptr};
  ASSERT_EQ(CmdSeqResizeDescRows(&x.d, 4), CMDSEQ_OK);
  EXPECT_EQ(x.d.values_per_item, 4);
  EXPECT_NE(x.d.flags & CS_DESC_BLOCK, 0);
  EXPECT_NE(x.d.flags & CS_DESC_RESHAPED, 0);
  EXPECT_EQ(x.d.flags & CS_DESC_INLINE, 0);
  a_cmdseq_desc_item* item = x.d.items;
  EXPECT_EQ(item->type, -21);
  EXPECT_EQ(item->length, 4u);
  EXPECT_EQ(item->values()[0].data, buffer);
  EXPECT_EQ(item->values()[0].indicator, &indicator);
  for (int v = 1; v < 4; ++v) {
    EXPECT_EQ(item->values()[v].data, nullptr);
    EXPECT_EQ(item->values()[v].indicator, nullptr);
    EXPECT_EQ(item->values()[v].length, nullptr);
  }
  EXPECT_EQ(CmdSeqResizeDescRows(&x.d, 4), CMDSEQ_OK);  // no change
}

TEST(DescItems, ResizingADescriptionKeepsItsNamesAlive) {
  // A description is a chain of separately allocated items with heap names; resizing
  // moves the headers, names included, into one block and frees only the old storage.
  Desc x;
  const char* names[] = {"alpha", "beta", "gamma"};
  for (const char* name : names) {
    a_cmdseq_desc_item* item = i_cs_AllocDescItem(&x.d, 1);
    ASSERT_NE(item, nullptr);
    item->name = ut_strdup(name);
    item->name2 = ut_strdup("second");
    i_cs_AppendDescItem(&x.d, item);
  }
  ASSERT_EQ(CmdSeqResizeDescRows(&x.d, 3), CMDSEQ_OK);
  ASSERT_EQ(CmdSeqResizeDescRows(&x.d, 2), CMDSEQ_OK);  // block to block
  int k = 0;
  for (a_cmdseq_desc_item* item = x.d.items; item != nullptr; item = item->next, ++k) {
    EXPECT_STREQ(item->name, names[k]);  // read after the old items were freed
    EXPECT_STREQ(item->name2, "second");
  }
  EXPECT_EQ(k, 3);
  // Freeing the block frees the names too (the leak checker of the sanitizer build
  // would report them otherwise).
}

TEST(DescItems, FreeingResetsTheDescriptor) {
  Desc x;
  ASSERT_EQ(CmdSeqAllocDescItems(&x.d, 3, 2), CMDSEQ_OK);
  CmdSeqMarkDescItemUpdated(&x.d, x.d.items);
  CmdSeqFreeDescItems(&x.d);
  EXPECT_EQ(x.d.count, 0u);
  EXPECT_EQ(x.d.items, nullptr);
  EXPECT_EQ(x.d.values_per_item, 0);
  EXPECT_EQ(x.d.change_counter, 1);
  EXPECT_EQ(x.d.flags & (CS_DESC_BLOCK | CS_DESC_INLINE), 0);
  EXPECT_NE(x.d.flags & CS_DESC_ADVANCED, 0);
  EXPECT_EQ(CmdSeqAllocDescItems(&x.d, 0, 5), CMDSEQ_OK);
  EXPECT_EQ(x.d.count, 0u);
}

TEST(DescItems, DumpCommentsUpTo255Bytes) {
  CmdSeqConn t;
  const std::string fits(255, 'c');
  CmdSeqDumpComment(t.conn, fits.c_str());
  CmdSeqDumpComment(t.conn, std::string(256, 'c').c_str());
  CmdSeqDumpComment(t.conn, nullptr);
  CmdSeqDumpComment(t.conn, "%s%n");  // a text, never a format
  ASSERT_EQ(t.sconn.dump_comments.size(), 2u);
  EXPECT_EQ(t.sconn.dump_comments[0], fits);
  EXPECT_EQ(t.sconn.dump_comments[1], "%s%n");
}

}  // namespace
