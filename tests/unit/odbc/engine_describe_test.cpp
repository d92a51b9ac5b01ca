// The describe information of a statement turned into implementation descriptor records:
// the type table, the type-name marks, nullability and parameter kinds, and the dotted
// names split into schema, table, column and base column.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cmdseq/desc.h"
#include "odbc/descriptors.h"
#include "odbc/engine.h"
#include "odbc/handles.h"
#include "utils/base/memory.h"

namespace {

char* Owned(const char* text) {
  if (text == nullptr) return nullptr;
  auto* copy = static_cast<char*>(ut_malloc(std::strlen(text) + 1));
  std::strcpy(copy, text);
  return copy;
}

struct Entry {
  std::int16_t type;
  std::uint32_t length;
  std::uint8_t precision;
  std::uint16_t scale;
  std::int16_t subtype;
  std::uint16_t flags;
  const char* name;
  const char* type_name;
};

class DescribeData : public ::testing::Test {
 protected:
  void SetUp() override {
    dbc_ = static_cast<tagDBC*>(Allocate_object(nullptr, OBJ_DBC));
    ASSERT_NE(dbc_, nullptr);
    stmt_ = static_cast<tagSTMT*>(Allocate_object(dbc_, OBJ_STMT));
    ASSERT_NE(stmt_, nullptr);
    ASSERT_EQ(AllocStmtDescriptors(stmt_), 0);
    CmdSeqInitDesc(&info_);
  }
  void TearDown() override {
    CmdSeqFreeDescItems(&info_);
    FreeStmtDescriptors(stmt_);
    Free_object(stmt_);
    Free_object(dbc_);
  }

  void Describe(std::initializer_list<Entry> entries) {
    for (const Entry& e : entries) {
      a_cmdseq_desc_item* item = i_cs_AllocDescItem(&info_, 1);
      ASSERT_NE(item, nullptr);
      item->type = e.type;
      item->length = e.length;
      item->precision = e.precision;
      item->scale = e.scale;
      item->subtype = e.subtype;
      item->col_flags = e.flags;
      item->name = Owned(e.name);
      item->name2 = Owned(e.type_name);
      i_cs_AppendDescItem(&info_, item);
    }
    stmt_->describe_info = &info_;
    DBDescribeData(stmt_);
    stmt_->describe_info = nullptr;
  }
  tagITEM* Column(SQLSMALLINT k) { return FindDescItem(stmt_->ird, k); }
  tagITEM* Param(SQLSMALLINT k) { return FindDescItem(stmt_->ipd, k); }

  tagDBC* dbc_ = nullptr;
  tagSTMT* stmt_ = nullptr;
  a_cmdseq_desc info_;
};

struct TypeCase {
  const char* label;
  Entry entry;
  std::uint8_t cap_b;
  SQLSMALLINT concise;
  SQLSMALLINT verbose;
  SQLULEN size;
  SQLLEN octets;
  std::uint32_t marks;
};

TEST_F(DescribeData, TypeTable) {
  const TypeCase cases[] = {
      {"long nvarchar", {-31, 0, 0, 0, 0, 1, "c", nullptr}, 0, -10, -10, 2147483647, 2147483647, 0},
      {"nvarchar bytes", {-30, 40, 0, 0, 0, 1, "c", nullptr}, 0, -9, -9, 10, 40, 0},
      {"nchar bytes", {-29, 8, 0, 0, 0, 1, "c", nullptr}, 0, -8, -8, 2, 8, 0},
      {"unsigned bigint", {-25, 8, 0, 0, 0, 1, "c", nullptr}, 0, -27, -27, 20, 8, 0},
      {"unsigned int", {-24, 4, 0, 0, 0, 1, "c", nullptr}, 0, -18, -18, 10, 4, 0},
      {"unsigned smallint", {-23, 2, 0, 0, 0, 1, "c", nullptr}, 0, -17, -17, 5, 2, 0},
      {"bit", {-7, 1, 0, 0, 0, 1, "c", nullptr}, 0, -7, -7, 1, 1, 0},
      {"tinyint", {-6, 1, 0, 0, 0, 1, "c", nullptr}, 0, -6, -6, 3, 1, 0},
      {"bigint", {-5, 8, 0, 0, 0, 1, "c", nullptr}, 0, -5, -5, 19, 8, 0},
      {"long binary", {-4, 0, 0, 0, 0, 1, "c", nullptr}, 0, -4, -4, 2147483647, 2147483647, 0},
      {"long varchar varbit", {-1, 0, 0, 0, 0, 1, "c", "VarBit"}, 0, -1, -1, 2147483647,
       2147483647, kItemBitString},
      {"uniqueidentifier", {-2, 16, 0, 0, 0, 1, "c", "uniqueidentifier"}, 0x02, -11, -11, 16, 16, 0},
      {"binary as varbinary", {-2, 16, 0, 0, 0, 1, "c", "binary"}, 0x02, -3, -3, 16, 16, 0},
      {"binary", {-2, 16, 0, 0, 0, 1, "c", nullptr}, 0, -2, -2, 16, 16, 0},
      {"char told apart", {1, 5, 0, 0, 0, 1, "c", "char"}, 0x01, 1, 1, 5, 5, 0},
      {"char as varchar", {1, 5, 0, 0, 0, 1, "c", "char"}, 0, 12, 12, 5, 5, 0},
      {"varchar geometry", {12, 100, 0, 0, 0, 1, "c", "ST_Geometry"}, 0, 12, 12, 100, 100,
       kItemSpatial},
      {"varchar timestamp tz", {12, 40, 0, 0, 0, 1, "c", "timestamp with time zone"}, 0, 12, 12,
       33, 33, kItemTimeZone},
      {"numeric", {2, 0, 12, 3, 0, 1, "c", nullptr}, 0, 2, 2, 12, 14, 0},
      {"decimal", {3, 0, 30, 6, 0, 1, "c", nullptr}, 0, 3, 3, 30, 32, 0},
      {"integer", {4, 4, 0, 0, 0, 1, "c", nullptr}, 0, 4, 4, 10, 4, 0},
      {"smallint", {5, 2, 0, 0, 0, 1, "c", nullptr}, 0, 5, 5, 5, 2, 0},
      {"float", {6, 8, 0, 0, 0, 1, "c", nullptr}, 0, 6, 6, 15, 8, 0},
      {"real", {7, 4, 0, 0, 0, 1, "c", nullptr}, 0, 7, 7, 7, 4, 0},
      {"double", {8, 8, 0, 0, 0, 1, "c", nullptr}, 0, 8, 8, 15, 8, 0},
      {"date", {9, 10, 0, 0, 1, 1, "c", nullptr}, 0, 91, 9, 10, 6, 0},
      {"time", {9, 8, 0, 0, 2, 1, "c", nullptr}, 0, 92, 9, 8, 6, 0},
      {"timestamp", {9, 26, 0, 0, 3, 1, "c", nullptr}, 0, 93, 9, 26, 16, 0},
  };
  for (const TypeCase& c : cases) {
    SCOPED_TRACE(c.label);
    FreeDescriptor(stmt_->ird);
    CmdSeqFreeDescItems(&info_);
    CmdSeqInitDesc(&info_);
    dbc_->cap_b = c.cap_b;
    Describe({c.entry});
    tagITEM* rec = Column(1);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->concise_type, c.concise);
    EXPECT_EQ(rec->type, c.verbose);
    EXPECT_EQ(rec->length, c.size);
    EXPECT_EQ(rec->octet_length, c.octets);
    EXPECT_EQ(rec->flags & (kItemBitString | kItemSpatial | kItemTimeZone), c.marks);
    EXPECT_NE(rec->flags & kItemResultColumn, 0u);
  }
}

TEST_F(DescribeData, DateTimeSubCodesAndScale) {
  Describe({{9, 26, 0, 0, 3, 0, "ts", nullptr}, {9, 8, 0, 0, 2, 0, "t", nullptr}});
  EXPECT_EQ(Column(1)->interval_code, 3);
  EXPECT_EQ(Column(1)->scale, 6);
  EXPECT_EQ(Column(1)->precision, 6);
  EXPECT_EQ(Column(2)->interval_code, 2);
}

TEST_F(DescribeData, BookmarkRecordComesFirst) {
  Describe({{4, 4, 0, 0, 0, 0, "a", nullptr}});
  ASSERT_NE(stmt_->ird->bookmark, nullptr);
  EXPECT_EQ(stmt_->ird->bookmark->concise_type, SQL_BINARY);
  EXPECT_EQ(stmt_->ird->bookmark->length, 4u);
}

TEST_F(DescribeData, ColumnsAndParametersGoToTheirDescriptors) {
  Describe({
      {4, 4, 0, 0, 0, 0x0001 | 0x0800, "owner.tab.a.base_a", nullptr},   // nullable, updatable
      {12, 20, 0, 0, 0, 0x2000 | 0x0400, "b", nullptr},                  // auto unique, row version
      {4, 4, 0, 0, 0, 0x4000, "u", nullptr},                             // column flags too high
      {4, 4, 0, 0, 0, 0x1000 | 0x4000, "p1", nullptr},                   // input
      {4, 4, 0, 0, 0, 0x1000 | 0x4000 | 0x8000, "p2", nullptr},          // input/output
      {4, 4, 0, 0, 0, 0x1000 | 0x8000, "p3", nullptr},                   // output
      {4, 4, 0, 0, 0, 0x1000, "p4", nullptr},                            // untyped
  });
  EXPECT_EQ(stmt_->ird->count, 2);
  EXPECT_EQ(stmt_->ipd->count, 4);

  tagITEM* a = Column(1);
  EXPECT_EQ(a->nullable, SQL_NULLABLE);
  EXPECT_EQ(a->updatable, 1);
  EXPECT_EQ(a->auto_unique, 0);
  EXPECT_STREQ(a->schema_name, "owner");
  EXPECT_STREQ(a->table_name, "tab");
  EXPECT_STREQ(a->name, "a");
  EXPECT_STREQ(a->base_column_name, "base_a");

  tagITEM* b = Column(2);
  EXPECT_EQ(b->nullable, SQL_NO_NULLS);
  EXPECT_EQ(b->auto_unique, 1);
  EXPECT_EQ(b->row_version, 1);
  EXPECT_STREQ(b->name, "b");  // a bare name is the column's
  EXPECT_TRUE(b->schema_name == nullptr || b->schema_name[0] == '\0');

  EXPECT_EQ(Param(1)->parameter_type, SQL_PARAM_INPUT);
  EXPECT_EQ(Param(2)->parameter_type, SQL_PARAM_INPUT_OUTPUT);
  EXPECT_EQ(Param(3)->parameter_type, SQL_PARAM_OUTPUT);
  EXPECT_EQ(Param(4)->parameter_type, SQL_PARAM_INPUT);
  EXPECT_EQ(Param(4)->concise_type, SQL_VARCHAR);
  EXPECT_EQ(Param(4)->length, 32767u);
  EXPECT_EQ(Param(1)->flags & kItemResultColumn, 0u);
}

TEST(ParseNamePart, QuotesAndDots) {
  struct Case {
    const char* text;
    const char* part;
    const char* rest;
  };
  const Case cases[] = {
      {"abc.def", "abc", "def"},
      {"abc", "abc", ""},
      {"\"a.b\".c", "a.b", "c"},
      {"\"a\"\"b\"", "a\"b", ""},       // two quotes inside quotes are one
      {"\"a\"\"b\".x", "a\"b", "x"},
      {"", "", ""},
      {".x", "", "x"},
      {"\"unclosed.x", "unclosed.x", ""},  // an unclosed quote runs to the end
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    char* part = nullptr;
    const char* rest = ParseNamePart(c.text, nullptr, &part);
    ASSERT_NE(part, nullptr);
    EXPECT_STREQ(part, c.part);
    EXPECT_STREQ(rest, c.rest);
    ut_free(part);
  }
}

}  // namespace
