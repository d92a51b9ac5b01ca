// Descriptors through the driver's entry points: implicit and explicit descriptors, the
// record array, binding, the protection of implementation descriptors, copying, and every
// field at the width the ODBC API declares for it (sentinel-filled outputs).
#include "odbc/descriptors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "api_fixture.h"
#include "odbc/attributes.h"
#include "odbc/diagnostics.h"
#include "utils/base/memory.h"

namespace {

constexpr unsigned char kSentinel = 0xA5;

std::string DescState(SQLHDESC h) { return FirstState(SQL_HANDLE_DESC, h); }

char* Dup(const char* text) {
  return static_cast<char*>(ut_memdup(text, std::strlen(text) + 1));
}

// The connection and statement of ApiFixture, and the buffers records are bound to.
class DescTest : public ApiFixture {
 protected:
  void SetUp() override {
    ApiFixture::SetUp();
    stmt_ = Stmt();
    ASSERT_NE(stmt_, nullptr);
  }

  SQLHDESC UserDesc() {
    SQLHDESC h = SQL_NULL_HDESC;
    EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, dbc_, &h), SQL_SUCCESS);
    return h;
  }

  SQLSMALLINT Count(SQLHDESC h) {
    SQLSMALLINT count = -1;
    EXPECT_EQ(SQLGetDescField(h, 0, SQL_DESC_COUNT, &count, 0, nullptr), SQL_SUCCESS);
    return count;
  }

  SQLRETURN Bind(SQLHDESC h, SQLSMALLINT record) {
    return SQLSetDescRec(h, record, SQL_C_LONG, 0, 4, 0, 0, &buffer_[record], &lengths_[record],
                         &lengths_[record]);
  }

  tagSTMT* stmt_ = nullptr;
  SQLINTEGER buffer_[8] = {};
  SQLLEN lengths_[8] = {};
};

TEST_F(DescTest, ImplicitDescriptorsComeWithTheStatementAndCannotBeFreed) {
  ASSERT_NE(stmt_->ard, nullptr);
  EXPECT_EQ(stmt_->implicit_ard, stmt_->ard);
  EXPECT_EQ(stmt_->implicit_apd, stmt_->apd);
  EXPECT_EQ(stmt_->ipd->impl_kind, kDescImplParam);
  EXPECT_EQ(stmt_->ird->impl_kind, kDescImplRow);
  EXPECT_EQ(stmt_->ard->impl_kind, 0);
  for (tagDESC* d : {stmt_->apd, stmt_->ard, stmt_->ipd, stmt_->ird}) {
    EXPECT_EQ(d->parent, Dbc());
    EXPECT_EQ(d->array_size, 1u);
    SQLSMALLINT alloc = 0;
    EXPECT_EQ(SQLGetDescField(d, 0, SQL_DESC_ALLOC_TYPE, &alloc, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(alloc, SQL_DESC_ALLOC_AUTO);
  }
  // Refused with HY017 on the descriptor, which stays usable; the lock is given back.
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DESC, stmt_->ard), SQL_ERROR);
  EXPECT_EQ(DescState(stmt_->ard), "HY017");
  EXPECT_TRUE(DbcUnlocked());
  EXPECT_EQ(Bind(stmt_->ard, 1), SQL_SUCCESS);
  EXPECT_EQ(Count(stmt_->ard), 1);
}

TEST_F(DescTest, ExplicitDescriptorIsFreedAndGivesTheStatementItsOwnBack) {
  SQLHDESC user = UserDesc();
  SQLSMALLINT alloc = 0;
  EXPECT_EQ(SQLGetDescField(user, 0, SQL_DESC_ALLOC_TYPE, &alloc, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(alloc, SQL_DESC_ALLOC_USER);
  EXPECT_EQ(Bind(user, 2), SQL_SUCCESS);
  // In use as the statement's row and parameter descriptors.
  ASSERT_EQ(DoSQLSetStmtAttr(stmt_, SQL_ATTR_APP_ROW_DESC, user), SQL_SUCCESS);
  ASSERT_EQ(DoSQLSetStmtAttr(stmt_, SQL_ATTR_APP_PARAM_DESC, user), SQL_SUCCESS);
  ASSERT_EQ(stmt_->ard, user);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DESC, user), SQL_SUCCESS);
  EXPECT_TRUE(DbcUnlocked());
  EXPECT_EQ(stmt_->ard, stmt_->implicit_ard);
  EXPECT_EQ(stmt_->apd, stmt_->implicit_apd);

  // A null output pointer, and a descriptor with records left when the connection goes
  // (the records go with it: the sanitizer build sees a leak otherwise).
  EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, dbc_, nullptr), SQL_ERROR);
  EXPECT_EQ(FirstState(SQL_HANDLE_DBC, dbc_), "HY009");
  SQLHDESC left = UserDesc();
  EXPECT_EQ(Bind(left, 3), SQL_SUCCESS);
}

TEST_F(DescTest, RecordsGrowWithBindingAndShrinkWithUnbinding) {
  SQLHDESC h = UserDesc();
  auto* d = static_cast<tagDESC*>(h);
  EXPECT_EQ(Bind(h, 1), SQL_SUCCESS);
  EXPECT_EQ(Bind(h, 3), SQL_SUCCESS);
  EXPECT_EQ(Count(h), 3);
  EXPECT_EQ(d->records[1], nullptr);
  EXPECT_NE(d->records[2]->flags & kItemBound, 0u);
  // A record in the gap reads as never bound.
  SQLSMALLINT type = 0x7E7E;
  EXPECT_EQ(SQLGetDescRec(h, 2, nullptr, 0, nullptr, &type, nullptr, nullptr, nullptr, nullptr,
                          nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(type, SQL_C_DEFAULT);
  EXPECT_EQ(SQLGetDescRec(h, 5, nullptr, 0, nullptr, &type, nullptr, nullptr, nullptr, nullptr,
                          nullptr),
            SQL_NO_DATA);
  // Unbinding the last record lowers the count to the highest record still there.
  const std::uint32_t before = d->change_counter;
  EXPECT_EQ(SQLSetDescRec(h, 3, SQL_C_LONG, 0, 4, 0, 0, nullptr, nullptr, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(Count(h), 1);
  EXPECT_GT(d->change_counter, before);
  // The count set directly: up grows the array, down unbinds from the top, 0 empties.
  EXPECT_EQ(SQLSetDescField(h, 0, SQL_DESC_COUNT, reinterpret_cast<SQLPOINTER>(4), 0),
            SQL_SUCCESS);
  EXPECT_EQ(Count(h), 4);
  EXPECT_EQ(Bind(h, 4), SQL_SUCCESS);
  EXPECT_EQ(SQLSetDescField(h, 0, SQL_DESC_COUNT, reinterpret_cast<SQLPOINTER>(2), 0),
            SQL_SUCCESS);
  EXPECT_EQ(Count(h), 2);
  EXPECT_EQ(Bind(h, 0), SQL_SUCCESS);  // the bookmark record
  EXPECT_NE(d->bookmark, nullptr);
  EXPECT_EQ(SQLSetDescField(h, 0, SQL_DESC_COUNT, reinterpret_cast<SQLPOINTER>(0), 0),
            SQL_SUCCESS);
  EXPECT_EQ(Count(h), 0);
  EXPECT_EQ(d->records, nullptr);
  EXPECT_EQ(d->bookmark, nullptr);
  // A count that does not fit SQL_DESC_COUNT's SQLSMALLINT is refused, not wrapped.
  EXPECT_EQ(SQLSetDescField(h, 0, SQL_DESC_COUNT, reinterpret_cast<SQLPOINTER>(70000), 0),
            SQL_ERROR);
  EXPECT_EQ(DescState(h), "HY024");
  EXPECT_EQ(Count(h), 0);
  EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DESC, h), SQL_SUCCESS);
}

bool FailEverything(std::size_t) { return true; }

TEST_F(DescTest, OutOfMemoryKeepsTheRecordsThereAre) {
  SQLHDESC h = UserDesc();
  auto* d = static_cast<tagDESC*>(h);
  ASSERT_EQ(Bind(h, 1), SQL_SUCCESS);
  ASSERT_EQ(Bind(h, 2), SQL_SUCCESS);
  vq::odbc::SetAllocFailureHook(FailEverything);
  const SQLRETURN grow = Bind(h, 6);  // the array cannot grow
  vq::odbc::SetAllocFailureHook(nullptr);
  EXPECT_EQ(grow, SQL_ERROR);
  EXPECT_EQ(DescState(h), "HY001");
  EXPECT_EQ(d->count, 2);
  EXPECT_EQ(d->records[1]->data_ptr, &buffer_[2]);
  // Room in the array but no memory for the record: the count stays as it was.
  ASSERT_EQ(SQLSetDescField(h, 0, SQL_DESC_COUNT, reinterpret_cast<SQLPOINTER>(5), 0),
            SQL_SUCCESS);
  vq::odbc::SetAllocFailureHook(FailEverything);
  const SQLRETURN record = Bind(h, 3);
  vq::odbc::SetAllocFailureHook(nullptr);
  EXPECT_EQ(record, SQL_ERROR);
  EXPECT_EQ(DescState(h), "HY001");
  EXPECT_EQ(d->count, 5);
  EXPECT_EQ(d->records[2], nullptr);
  EXPECT_NE(d->records[1], nullptr);
}

// Each field read through SQLGetDescField writes exactly the bytes of its ODBC type and
// not one more.
TEST_F(DescTest, FieldsAreReadAtTheirDeclaredWidths) {
  SQLHDESC h = UserDesc();
  auto* d = static_cast<tagDESC*>(h);
  SQLUSMALLINT status[4];
  SQLLEN offset = 0;
  SQLULEN processed = 0;
  ASSERT_EQ(SQLSetDescField(h, 0, SQL_DESC_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(40000), 0),
            SQL_SUCCESS);
  ASSERT_EQ(SQLSetDescField(h, 0, SQL_DESC_ARRAY_STATUS_PTR, status, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLSetDescField(h, 0, SQL_DESC_BIND_OFFSET_PTR, &offset, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLSetDescField(h, 0, SQL_DESC_ROWS_PROCESSED_PTR, &processed, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLSetDescField(h, 0, SQL_DESC_BIND_TYPE, reinterpret_cast<SQLPOINTER>(48), 0),
            SQL_SUCCESS);
  ASSERT_EQ(SQLSetDescRec(h, 1, SQL_C_NUMERIC, 0, 3000000000LL, 12, -3, buffer_, &lengths_[0],
                          &lengths_[1]),
            SQL_SUCCESS);
  const std::pair<SQLSMALLINT, SQLPOINTER> sets[] = {
      {SQL_DESC_LENGTH, reinterpret_cast<SQLPOINTER>(0x1FFFFFFFFULL)},
      {SQL_DESC_NUM_PREC_RADIX, reinterpret_cast<SQLPOINTER>(10)},
      {SQL_DESC_DATETIME_INTERVAL_PRECISION, reinterpret_cast<SQLPOINTER>(6)},
      {SQL_DESC_PARAMETER_TYPE, reinterpret_cast<SQLPOINTER>(SQL_PARAM_OUTPUT)},
  };
  for (const auto& [id, value] : sets) {
    ASSERT_EQ(SQLSetDescField(h, 1, id, value, 0), SQL_SUCCESS) << id;
  }
  d->records[0]->nullable = 1;

  struct Case {
    SQLSMALLINT id;
    std::size_t width;
    long long value;  // pointers compared by address below
  };
  const auto ptr = [](const void* p) {
    return static_cast<long long>(reinterpret_cast<std::uintptr_t>(p));
  };
  const Case cases[] = {
      {SQL_DESC_COUNT, sizeof(SQLSMALLINT), 1},
      {SQL_DESC_ALLOC_TYPE, sizeof(SQLSMALLINT), SQL_DESC_ALLOC_USER},
      {SQL_DESC_ARRAY_SIZE, sizeof(SQLULEN), 40000},
      {SQL_DESC_ARRAY_STATUS_PTR, sizeof(SQLPOINTER), ptr(status)},
      {SQL_DESC_BIND_OFFSET_PTR, sizeof(SQLPOINTER), ptr(&offset)},
      {SQL_DESC_ROWS_PROCESSED_PTR, sizeof(SQLPOINTER), ptr(&processed)},
      {SQL_DESC_BIND_TYPE, sizeof(SQLINTEGER), 48},
      {SQL_DESC_CONCISE_TYPE, sizeof(SQLSMALLINT), SQL_C_NUMERIC},
      {SQL_DESC_TYPE, sizeof(SQLSMALLINT), SQL_C_NUMERIC},
      {SQL_DESC_LENGTH, sizeof(SQLULEN), 0x1FFFFFFFFLL},
      {SQL_DESC_OCTET_LENGTH, sizeof(SQLLEN), 3000000000LL},
      {SQL_DESC_PRECISION, sizeof(SQLSMALLINT), 12},
      {SQL_DESC_SCALE, sizeof(SQLSMALLINT), -3},
      {SQL_DESC_NULLABLE, sizeof(SQLSMALLINT), 1},
      {SQL_DESC_NUM_PREC_RADIX, sizeof(SQLINTEGER), 10},
      {SQL_DESC_DATETIME_INTERVAL_PRECISION, sizeof(SQLINTEGER), 6},
      {SQL_DESC_PARAMETER_TYPE, sizeof(SQLSMALLINT), SQL_PARAM_OUTPUT},
      {SQL_DESC_DATA_PTR, sizeof(SQLPOINTER), ptr(buffer_)},
      {SQL_DESC_OCTET_LENGTH_PTR, sizeof(SQLPOINTER), ptr(&lengths_[0])},
      {SQL_DESC_INDICATOR_PTR, sizeof(SQLPOINTER), ptr(&lengths_[1])},
      {SQL_DESC_UNNAMED, sizeof(SQLSMALLINT), SQL_UNNAMED},
      {SQL_DESC_SEARCHABLE, sizeof(SQLSMALLINT), SQL_SEARCHABLE},
      {SQL_DESC_UNSIGNED, sizeof(SQLSMALLINT), 0},
      {SQL_DESC_AUTO_UNIQUE_VALUE, sizeof(SQLINTEGER), 0},
      {SQL_DESC_DISPLAY_SIZE, sizeof(SQLLEN), 14},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    unsigned char out[16];
    std::memset(out, kSentinel, sizeof out);
    SQLINTEGER length = 0x7E7E7E7E;
    ASSERT_EQ(SQLGetDescField(h, 1, c.id, out, sizeof out, &length), SQL_SUCCESS);
    for (std::size_t i = c.width; i < sizeof out; ++i) ASSERT_EQ(out[i], kSentinel) << i;
    long long value = 0;
    switch (c.width) {
      case 2: {
        SQLSMALLINT v;
        std::memcpy(&v, out, 2);
        value = v;
        break;
      }
      case 4: {
        SQLINTEGER v;
        std::memcpy(&v, out, 4);
        value = v;
        break;
      }
      default:
        std::memcpy(&value, out, 8);
        break;
    }
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(length, 0x7E7E7E7E);  // numbers report no length
  }
}

// The column-attribute form of the reader writes every number as an SQLLEN, sign-extended.
TEST_F(DescTest, ColumnAttributeFormWidensEveryNumber) {
  SQLHDESC h = UserDesc();
  ASSERT_EQ(SQLSetDescRec(h, 1, SQL_C_LONG, 0, 4, 0, -2, buffer_, nullptr, nullptr),
            SQL_SUCCESS);
  for (SQLSMALLINT id : {SQL_DESC_SCALE, SQL_DESC_COUNT, SQL_DESC_NUM_PREC_RADIX}) {
    SCOPED_TRACE(id);
    unsigned char out[12];
    std::memset(out, kSentinel, sizeof out);
    ASSERT_EQ(GetDescField(static_cast<tagDESC*>(h), static_cast<tagDESC*>(h), 1, id, nullptr,
                           0, nullptr, out, true),
              SQL_SUCCESS);
    SQLLEN v;
    std::memcpy(&v, out, sizeof v);
    EXPECT_EQ(v, id == SQL_DESC_SCALE ? -2 : id == SQL_DESC_COUNT ? 1 : 0);
    EXPECT_EQ(out[8], kSentinel);
  }
}

// Text fields at every buffer size around the text: truncation is 01004 with the full
// length, and nothing is written past the buffer.
TEST_F(DescTest, TextFieldsTruncateWithinTheBuffer) {
  SQLHDESC h = UserDesc();
  ASSERT_EQ(Bind(h, 1), SQL_SUCCESS);
  auto* item = static_cast<tagDESC*>(h)->records[0];
  item->name = Dup("price");
  item->base_column_name = Dup("");
  const std::string name = "price";
  for (SQLINTEGER size = 0; size <= 8; ++size) {
    SCOPED_TRACE(size);
    unsigned char out[16];
    std::memset(out, kSentinel, sizeof out);
    SQLINTEGER length = -1;
    const SQLRETURN rc = SQLGetDescField(h, 1, SQL_DESC_NAME, out + 2, size, &length);
    EXPECT_EQ(length, 5);
    EXPECT_EQ(out[0], kSentinel);
    EXPECT_EQ(out[1], kSentinel);
    const bool fits = size > 5;
    EXPECT_EQ(rc, fits ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO);
    if (!fits) {
      EXPECT_EQ(DescState(h), "01004");
    }
    if (size > 0) {
      const std::size_t copied = std::min<std::size_t>(5, size - 1);
      EXPECT_EQ(std::string(reinterpret_cast<char*>(out + 2), copied), name.substr(0, copied));
      EXPECT_EQ(out[2 + copied], 0);
      for (std::size_t i = 3 + copied; i < sizeof out; ++i) EXPECT_EQ(out[i], kSentinel) << i;
    } else {
      EXPECT_EQ(out[2], kSentinel);
    }
  }
  // The base column name falls back to the name; no text output is HY009.
  char out[16];
  SQLINTEGER length = 0;
  EXPECT_EQ(SQLGetDescField(h, 1, SQL_DESC_BASE_COLUMN_NAME, out, sizeof out, &length),
            SQL_SUCCESS);
  EXPECT_STREQ(out, "price");
  EXPECT_EQ(SQLGetDescField(h, 1, SQL_DESC_NAME, nullptr, 0, &length), SQL_ERROR);
  EXPECT_EQ(DescState(h), "HY009");
  // The name of SQLGetDescRec follows the same rule with its 16-bit length.
  SQLCHAR rec_name[4];
  std::memset(rec_name, kSentinel, sizeof rec_name);
  SQLSMALLINT name_length = 0;
  EXPECT_EQ(SQLGetDescRec(h, 1, rec_name, 3, &name_length, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(name_length, 5);
  EXPECT_STREQ(reinterpret_cast<char*>(rec_name), "pr");
  EXPECT_EQ(rec_name[3], kSentinel);
  // A negative length is HY090, and no output is touched.
  std::memset(rec_name, kSentinel, sizeof rec_name);
  name_length = 77;
  SQLSMALLINT type = 77, nullable = 77;
  SQLLEN octets = 77;
  EXPECT_EQ(SQLGetDescRec(h, 1, rec_name, -1, &name_length, &type, nullptr, &octets, nullptr,
                          nullptr, &nullable),
            SQL_ERROR);
  EXPECT_EQ(DescState(h), "HY090");
  EXPECT_EQ(rec_name[0], kSentinel);
  EXPECT_EQ(name_length, 77);
  EXPECT_EQ(type, 77);
  EXPECT_EQ(octets, 77);
  EXPECT_EQ(nullable, 77);
  SQLWCHAR wide_name[4] = {0x7E7E, 0x7E7E, 0x7E7E, 0x7E7E};
  EXPECT_EQ(SQLGetDescRecW(h, 1, wide_name, -2, &name_length, &type, nullptr, &octets, nullptr,
                           nullptr, &nullable),
            SQL_ERROR);
  EXPECT_EQ(DescState(h), "HY090");
  EXPECT_EQ(wide_name[0], 0x7E7E);
  EXPECT_EQ(name_length, 77);
  EXPECT_EQ(type, 77);
  EXPECT_EQ(nullable, 77);
}

// Fields the reader derives from the record's type and the connection.
TEST_F(DescTest, DerivedFieldsFollowTheTypeAndTheConnection) {
  Dbc()->fixed_shapes[0][0] = 19;  // money
  Dbc()->fixed_shapes[0][1] = 4;
  Dbc()->fixed_shapes[1][0] = 10;  // smallmoney
  Dbc()->fixed_shapes[1][1] = 4;
  Dbc()->cap_a |= kCapCaseSensitive;
  SQLHDESC h = UserDesc();
  ASSERT_EQ(Bind(h, 1), SQL_SUCCESS);
  tagITEM* item = static_cast<tagDESC*>(h)->records[0];
  struct Case {
    const char* name;
    SQLSMALLINT type, precision, scale;
    std::uint32_t flags;
    const char* type_name;
    const char* prefix;
    SQLSMALLINT is_unsigned, fixed, max_scale;
    SQLINTEGER case_sensitive;
  };
  const Case cases[] = {
      {"money", SQL_DECIMAL, 19, 4, 0, "money", "", 0, 1, 4, 0},
      {"smallmoney", SQL_NUMERIC, 10, 4, 0, "smallmoney", "", 0, 1, 4, 0},
      {"numeric", SQL_NUMERIC, 10, 2, 0, "numeric", "", 0, 0, 0, 0},
      {"float is signed", SQL_FLOAT, 15, 0, 0, "float", "", 0, 0, 0, 0},
      {"varchar", SQL_VARCHAR, 0, 0, 0, "varchar", "'", 1, 0, 0, 1},
      {"varbit", SQL_VARCHAR, 0, 0, kItemBitString, "varbit", "'", 1, 0, 0, 1},
      {"long varbit", SQL_LONGVARCHAR, 0, 0, kItemBitString, "long varbit", "'", 1, 0, 0, 1},
      {"spatial", SQL_LONGVARBINARY, 0, 0, kItemSpatial, "st_geometry", "'", 1, 0, 0, 0},
      {"time zone", SQL_VARCHAR, 0, 0, kItemTimeZone, "timestamp with time zone", "'", 1, 0, 0,
       1},
      {"timestamp", SQL_TIMESTAMP, 0, 6, 0, "timestamp", "", 1, 0, 6, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    item->type = item->concise_type = c.type;
    item->precision = c.precision;
    item->scale = c.scale;
    item->flags = kItemBound | c.flags;
    char text[40];
    SQLINTEGER length = 0;
    ASSERT_EQ(SQLGetDescField(h, 1, SQL_DESC_TYPE_NAME, text, sizeof text, &length),
              SQL_SUCCESS);
    EXPECT_STREQ(text, c.type_name);
    ASSERT_EQ(SQLGetDescField(h, 1, SQL_DESC_LITERAL_PREFIX, text, sizeof text, &length),
              SQL_SUCCESS);
    EXPECT_STREQ(text, c.prefix);
    SQLSMALLINT small = -1;
    ASSERT_EQ(SQLGetDescField(h, 1, SQL_DESC_UNSIGNED, &small, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(small, c.is_unsigned);
    ASSERT_EQ(SQLGetDescField(h, 1, SQL_DESC_FIXED_PREC_SCALE, &small, 0, nullptr),
              SQL_SUCCESS);
    EXPECT_EQ(small, c.fixed);
    ASSERT_EQ(SQLGetDescField(h, 1, SQL_DESC_MAXIMUM_SCALE, &small, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(small, c.max_scale);
    SQLINTEGER integer = -1;
    ASSERT_EQ(SQLGetDescField(h, 1, SQL_DESC_CASE_SENSITIVE, &integer, 0, nullptr),
              SQL_SUCCESS);
    EXPECT_EQ(integer, c.case_sensitive);
  }
}

// Refusals of the descriptor calls and the states they leave.
TEST_F(DescTest, RefusalsGiveTheirStates) {
  SQLHDESC user = UserDesc();
  SQLHDESC ird = stmt_->ird;
  SQLHDESC ipd = stmt_->ipd;
  SQLSMALLINT small = 0;
  struct Case {
    const char* name;
    SQLHDESC h;
    SQLRETURN rc;
    const char* state;
    std::function<SQLRETURN(SQLHDESC)> call;
  };
  const Case cases[] = {
      {"negative record read", user, SQL_ERROR, "07009",
       [&](SQLHDESC h) { return SQLGetDescField(h, -1, SQL_DESC_TYPE, &small, 0, nullptr); }},
      {"negative record set", user, SQL_ERROR, "07009",
       [&](SQLHDESC h) {
         return SQLSetDescRec(h, -1, SQL_C_LONG, 0, 4, 0, 0, buffer_, nullptr, nullptr);
       }},
      {"bookmark of the IPD", ipd, SQL_ERROR, "07009",
       [&](SQLHDESC h) {
         return SQLGetDescRec(h, 0, nullptr, 0, nullptr, &small, nullptr, nullptr, nullptr,
                              nullptr, nullptr);
       }},
      {"invalid C type", user, SQL_ERROR, "HY003",
       [&](SQLHDESC h) {
         return SQLSetDescRec(h, 1, 1234, 0, 4, 0, 0, buffer_, nullptr, nullptr);
       }},
      {"array size 0", user, SQL_ERROR, "HY024",
       [&](SQLHDESC h) { return SQLSetDescField(h, 0, SQL_DESC_ARRAY_SIZE, nullptr, 0); }},
      {"array size 65536", user, SQL_ERROR, "HY024",
       [&](SQLHDESC h) {
         return SQLSetDescField(h, 0, SQL_DESC_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(65536),
                                0);
       }},
      {"allocation type is read-only", user, SQL_ERROR, "HY091",
       [&](SQLHDESC h) {
         return SQLSetDescField(h, 0, SQL_DESC_ALLOC_TYPE, reinterpret_cast<SQLPOINTER>(1), 0);
       }},
      {"record field not settable", user, SQL_ERROR, "HY091",
       [&](SQLHDESC h) { return SQLSetDescField(h, 1, SQL_DESC_TYPE_NAME, nullptr, 0); }},
      {"unknown field below 1000", user, SQL_ERROR, "HY091",
       [&](SQLHDESC h) { return SQLGetDescField(h, 0, 500, &small, 0, nullptr); }},
      {"unknown field above 999", user, SQL_ERROR, "HYC00",
       [&](SQLHDESC h) { return SQLGetDescField(h, 0, 5000, &small, 0, nullptr); }},
      {"no number output", user, SQL_ERROR, "HY009",
       [&](SQLHDESC h) { return SQLGetDescField(h, 0, SQL_DESC_COUNT, nullptr, 0, nullptr); }},
      {"IRD record set", ird, SQL_ERROR, "HY016",
       [&](SQLHDESC h) {
         return SQLSetDescRec(h, 1, SQL_C_LONG, 0, 4, 0, 0, buffer_, nullptr, nullptr);
       }},
      {"IRD field set", ird, SQL_ERROR, "HY016",
       [&](SQLHDESC h) {
         return SQLSetDescField(h, 0, SQL_DESC_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(2), 0);
       }},
      {"IRD status array", ird, SQL_SUCCESS, "",
       [&](SQLHDESC h) {
         return SQLSetDescField(h, 0, SQL_DESC_ARRAY_STATUS_PTR, buffer_, 0);
       }},
      {"IRD of an unprepared statement", ird, SQL_ERROR, "HY007",
       [&](SQLHDESC h) {
         return SQLGetDescRec(h, 0, nullptr, 0, nullptr, &small, nullptr, nullptr, nullptr,
                              nullptr, nullptr);
       }},
      {"IRD header of an unprepared statement", ird, SQL_SUCCESS, "",
       [&](SQLHDESC h) { return SQLGetDescField(h, 0, SQL_DESC_COUNT, &small, 0, nullptr); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.call(c.h), c.rc);
    EXPECT_EQ(DescState(c.h), c.state);
    EXPECT_TRUE(DbcUnlocked());
  }
}

TEST_F(DescTest, ImplementationRowDescriptorIsReadWithAnOpenCursor) {
  tagDESC* ird = stmt_->ird;
  tagITEM* item = AccessDescItem(ird, 1);
  ASSERT_NE(item, nullptr);
  item->type = SQL_DATETIME;
  item->concise_type = SQL_TYPE_TIMESTAMP;
  item->interval_code = SQL_CODE_TIMESTAMP;
  item->octet_length = 16;
  item->nullable = SQL_NULLABLE;
  item->name = Dup("ts");
  SQLSMALLINT type = 0, subtype = 0, nullable = 0;
  SQLLEN length = 0;
  stmt_->state = kStmtPrepared;
  EXPECT_EQ(SQLGetDescRec(ird, 1, nullptr, 0, nullptr, &type, &subtype, &length, nullptr,
                          nullptr, &nullable),
            SQL_NO_DATA);
  stmt_->cursor_state = kCursorOpen;
  SQLCHAR name[8];
  SQLSMALLINT name_length = 0;
  EXPECT_EQ(SQLGetDescRec(ird, 1, name, sizeof name, &name_length, &type, &subtype, &length,
                          nullptr, nullptr, &nullable),
            SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(name), "ts");
  EXPECT_EQ(type, SQL_DATETIME);
  EXPECT_EQ(subtype, SQL_CODE_TIMESTAMP);
  EXPECT_EQ(length, 16);
  EXPECT_EQ(nullable, SQL_NULLABLE);
}

TEST_F(DescTest, CopyDuplicatesRecordsAndHeader) {
  tagDESC* ird = stmt_->ird;
  SQLHDESC user = UserDesc();
  // The IRD of an unprepared statement is not a source; no descriptor copies onto an IRD.
  EXPECT_EQ(SQLCopyDesc(ird, user), SQL_ERROR);
  EXPECT_EQ(DescState(user), "HY007");
  EXPECT_EQ(SQLCopyDesc(user, ird), SQL_ERROR);
  EXPECT_EQ(DescState(ird), "HY016");
  EXPECT_TRUE(DbcUnlocked());

  tagITEM* col = AccessDescItem(ird, 2);
  ASSERT_NE(col, nullptr);
  col->type = col->concise_type = SQL_VARCHAR;
  col->length = 30;
  col->name = Dup("city");
  col->table_name = Dup("towns");
  col->buffer = static_cast<char*>(ut_calloc(32));  // conversion state: not copied
  col->element_bytes = 32;
  col->flags = kItemResultColumn | kItemInPlace;
  ird->array_size = 7;
  stmt_->state = kStmtPrepared;
  ASSERT_EQ(Bind(user, 4), SQL_SUCCESS);  // released by the copy
  ASSERT_EQ(SQLCopyDesc(ird, user), SQL_SUCCESS);
  auto* target = static_cast<tagDESC*>(user);
  EXPECT_EQ(target->count, 2);
  EXPECT_EQ(target->records[0], nullptr);
  const tagITEM* copy = target->records[1];
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->length, 30u);
  EXPECT_STREQ(copy->name, "city");
  EXPECT_NE(copy->name, col->name);
  EXPECT_STREQ(copy->table_name, "towns");
  EXPECT_EQ(copy->schema_name, nullptr);
  EXPECT_EQ(copy->buffer, nullptr);
  EXPECT_EQ(copy->flags, kItemResultColumn);
  EXPECT_EQ(target->array_size, 7u);
  EXPECT_EQ(target->alloc_type, kDescAllocUser);
  // Onto itself: nothing is lost.
  EXPECT_EQ(SQLCopyDesc(user, user), SQL_SUCCESS);
  EXPECT_STREQ(target->records[1]->name, "city");
  // Application descriptor to application descriptor, bindings included.
  ASSERT_EQ(Bind(stmt_->ard, 1), SQL_SUCCESS);
  ASSERT_EQ(SQLCopyDesc(stmt_->ard, user), SQL_SUCCESS);
  EXPECT_EQ(target->count, 1);
  EXPECT_EQ(target->records[0]->data_ptr, &buffer_[1]);
  EXPECT_NE(target->records[0]->flags & kItemBound, 0u);
}

}  // namespace
