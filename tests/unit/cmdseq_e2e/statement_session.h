// What the statement and cursor tests share: a connected session against vqeng12 with its
// request log, descriptions over storage of their own, and a statement record with its
// cursor as the ODBC layer keeps them.
#ifndef VQ_TESTS_CMDSEQ_E2E_STATEMENT_SESSION_H
#define VQ_TESTS_CMDSEQ_E2E_STATEMENT_SESSION_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cmdseq/cursor.h"
#include "cmdseq/desc.h"
#include "cmdseq/fetch.h"
#include "cmdseq/statement.h"
#include "e2e_session.h"

namespace vq_e2e {

// Client type codes the tests bind with.
constexpr std::int16_t kInt = 4;
constexpr std::int16_t kBigInt = -5;
constexpr std::int16_t kDouble = 8;
constexpr std::int16_t kText = -21;  // terminated text
constexpr std::uint32_t kTextBytes = 64;

// Fetch options of item 35.
constexpr std::uint16_t kFetchAbsolute = 0x01;

// A description of items of the given types, each with `values` value slots, over storage
// held here. Text items have room for kTextBytes bytes with the terminator.
class Values {
 public:
  explicit Values(std::vector<std::int16_t> types, std::uint16_t values = 1)
      : types_(std::move(types)), per_item_(values) {
    CmdSeqInitDesc(&desc_);
    ok_ = CmdSeqAllocDescItems(&desc_, static_cast<std::uint32_t>(types_.size()), values) ==
          CMDSEQ_OK;
    cells_ = std::make_unique<Cell[]>(types_.size() * values);
    std::size_t k = 0;
    for (a_cmdseq_desc_item* item = desc_.items; ok_ && item != nullptr; item = item->next, ++k) {
      item->type = types_[k];
      item->length = Width(types_[k]);
      for (std::uint16_t v = 0; v < values; ++v) {
        Cell& c = cell(k, v);
        item->values()[v] = {c.data, &c.indicator, &c.length};
      }
    }
  }
  ~Values() { CmdSeqFreeDescItems(&desc_); }
  Values(const Values&) = delete;
  Values& operator=(const Values&) = delete;

  bool ok() const { return ok_; }
  a_cmdseq_desc* desc() { return &desc_; }
  a_cmdseq_desc_item* item(std::size_t k) {
    return CmdSeqGetDescItem(&desc_, static_cast<std::uint32_t>(k + 1));
  }
  // The item gets no value buffer: the column is not bound.
  void Unbind(std::size_t k) {
    for (std::uint16_t v = 0; v < per_item_; ++v) item(k)->values()[v].data = nullptr;
  }
  // Binds item k again, as `type`, and marks it changed as the ODBC layer does when an
  // application binds a column anew.
  bool Rebind(std::size_t k, std::int16_t type) {
    types_[k] = type;
    a_cmdseq_desc_item* it = item(k);
    it->type = type;
    it->length = Width(type);
    for (std::uint16_t v = 0; v < per_item_; ++v) it->values()[v].data = cell(k, v).data;
    return CmdSeqMarkDescItemUpdated(&desc_, it) == CMDSEQ_OK;
  }

  void SetInt(std::size_t k, std::int64_t x, std::uint16_t v = 0) {
    Cell& c = cell(k, v);
    c.indicator = 0;
    if (types_[k] == kInt) {
      const auto n = static_cast<std::int32_t>(x);
      std::memcpy(c.data, &n, sizeof n);
    } else {
      std::memcpy(c.data, &x, sizeof x);
    }
  }
  void SetDouble(std::size_t k, double x, std::uint16_t v = 0) {
    Cell& c = cell(k, v);
    c.indicator = 0;
    std::memcpy(c.data, &x, sizeof x);
  }
  // A parameter text: the item's length becomes the text's with its terminator.
  void SetText(std::size_t k, const std::string& s, std::uint16_t v = 0) {
    Cell& c = cell(k, v);
    c.indicator = 0;
    std::memcpy(c.data, s.c_str(), s.size() + 1);
    item(k)->length = static_cast<std::uint32_t>(s.size() + 1);
  }
  void SetNull(std::size_t k, std::uint16_t v = 0) { cell(k, v).indicator = -1; }
  // Clears what a fetch writes, so that a value seen later is known to be fresh.
  void Clear() {
    for (std::size_t i = 0; i < types_.size() * per_item_; ++i) {
      std::memset(cells_[i].data, 0x5A, sizeof cells_[i].data);
      cells_[i].indicator = 7;
      cells_[i].length = 0xFFFF;
    }
  }

  bool IsNull(std::size_t k, std::uint16_t v = 0) const { return cell(k, v).indicator == -1; }
  std::int32_t Indicator(std::size_t k, std::uint16_t v = 0) const {
    return cell(k, v).indicator;
  }
  std::int64_t Int(std::size_t k, std::uint16_t v = 0) const {
    if (types_[k] == kInt) {
      std::int32_t n;
      std::memcpy(&n, cell(k, v).data, sizeof n);
      return n;
    }
    std::int64_t n;
    std::memcpy(&n, cell(k, v).data, sizeof n);
    return n;
  }
  double Double(std::size_t k, std::uint16_t v = 0) const {
    double x;
    std::memcpy(&x, cell(k, v).data, sizeof x);
    return x;
  }
  std::string Text(std::size_t k, std::uint16_t v = 0) const {
    const Cell& c = cell(k, v);
    return std::string(c.data, strnlen(c.data, sizeof c.data));
  }

 private:
  struct Cell {
    alignas(8) char data[kTextBytes];
    std::int32_t indicator;
    std::uint32_t length;
  };
  static std::uint32_t Width(std::int16_t type) {
    return type == kInt ? 4 : type == kText ? kTextBytes : 8;
  }
  Cell& cell(std::size_t k, std::uint16_t v) { return cells_[k * per_item_ + v]; }
  const Cell& cell(std::size_t k, std::uint16_t v) const { return cells_[k * per_item_ + v]; }

  std::vector<std::int16_t> types_;
  std::uint16_t per_item_;
  a_cmdseq_desc desc_;
  std::unique_ptr<Cell[]> cells_;
  bool ok_ = false;
};

// A statement as the ODBC layer keeps it: the text, the handle record and one cursor. The
// destructor takes the cursor off the connection and releases the statement.
struct Statement {
  Statement(a_cmdseq_conn* c, std::string sql, const char* cursor_name = "E2E_CUR")
      : conn(c), text(std::move(sql)) {
    prep.text = text.c_str();
    prep.text_len = static_cast<std::int32_t>(text.size());
    prep.flags = 0;
    prep.option = 0;
    cursor.conn = c;
    open.handle = &handle;
    open.cursor = &cursor;
    open.cursor_name = cursor_name;
  }
  ~Statement() {
    if (cursor.flags_b & CS_CURSOR_B_OPEN) i_cs_RemoveCursor(conn, &cursor);
    i_cs_FreeAllFetchData(&cursor);
    i_cs_DropStmt(conn, &handle, true);
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool is_open() const { return (cursor.flags_b & CS_CURSOR_B_OPEN) != 0; }

  a_cmdseq_conn* conn;
  std::string text;
  a_cmdseq_prep_param prep{};
  a_cmdseq_stmt_handle handle;
  a_cmdseq_cursor cursor{};
  a_cmdseq_open_param open;
};

// One connection to a fresh vqeng12 over the test's link, with an error block; the
// request log tells what reached the server.
class StatementSession : public testing::TestWithParam<Link> {
 protected:
  void SetUp() override { Connect(); }
  void TearDown() override {
    if (conn_ != nullptr) {
      EXPECT_EQ(client_.Disconnect(conn_), CMDSEQ_OK);
    }
    conn_ = nullptr;
    CmdSeqFiniErrorParam(&err_);
  }

  // Starts the server (with `extra` arguments) and connects.
  void Connect(std::vector<std::string> extra = {}) {
    ASSERT_FALSE(vctmp_.path().empty());
    ASSERT_TRUE(server_.StartWithRequestLog(vctmp_.path() + "/requests.log", std::move(extra)));
    ASSERT_TRUE(client_.ok());
    int sqlcode = 0;
    ASSERT_EQ(client_.Connect("UID=dba;PWD=sql;" + server_.Links(GetParam()), &conn_, &sqlcode),
              CMDSEQ_OK)
        << sqlcode;
    ASSERT_NE(conn_, nullptr);
    CmdSeqInitErrorParam(client_.env(), &err_, 0);
  }

  // The error block made ready for the next request.
  a_cmdseq_error_info* err() {
    CmdSeqResetErrorParam(&err_, conn_);
    return &err_;
  }

  // What the server logged for this connection, from line `from` on.
  std::vector<std::string> Requests(std::size_t from = 0) const {
    std::vector<std::string> all = server_.Requests(conn_->server_handle);
    if (from >= all.size()) return {};
    return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(from), all.end());
  }
  std::size_t RequestMark() const { return server_.Requests(conn_->server_handle).size(); }

  // Runs `sql` by execute immediate; *changed gets the rows it changed.
  a_cmdseq_return ExecImm(const std::string& sql, std::uint32_t* changed = nullptr) {
    a_cmdseq_exec_imm_param imm;
    imm.text = sql.c_str();
    imm.text_len = static_cast<std::uint32_t>(sql.size());
    const a_cmdseq_return r = CmdSeqExecuteImm(conn_, err(), &imm);
    if (changed != nullptr) *changed = imm.info2;
    return r;
  }

  a_cmdseq_return Prepare(Statement& s) {
    return CmdSeqPrepare(conn_, err(), &s.handle, &s.prep);
  }
  // Prepares and opens the statement's cursor; with `bound` and `rows` the first rows are
  // prefetched with the open.
  a_cmdseq_return Open(Statement& s, Values* bound = nullptr, std::uint16_t rows = 0,
                       std::uint32_t options = 0) {
    a_cmdseq_return r = Prepare(s);
    if (r != CMDSEQ_OK) return r;
    s.open.options = options;
    return CmdSeqOpenCursorPrefetch(conn_, err(), &s.open, bound != nullptr ? bound->desc() : nullptr,
                                    rows);
  }
  a_cmdseq_return Close(Statement& s) {
    a_cmdseq_close_param close{s.open.cursor_name, &s.cursor};
    return CmdSeqCloseCursor(conn_, err(), &close);
  }
  // One fetch into `bound` (rows from value slot 0); *fetched gets the rows delivered.
  a_cmdseq_return Fetch(Statement& s, Values& bound, std::int32_t offset,
                        std::uint16_t options = 0, std::uint16_t rows = 1,
                        std::uint16_t* fetched = nullptr) {
    bound.Clear();
    a_cmdseq_fetch_param f;
    f.cursor = &s.cursor;
    f.bound = bound.desc();
    f.offset = offset;
    f.options = options;
    f.row_count = rows;
    const a_cmdseq_return r = CmdSeqFetch(conn_, err(), &f);
    if (fetched != nullptr) *fetched = f.rows_fetched;
    return r;
  }

  TempVctmp vctmp_;
  Server server_{"stmteng"};
  Client client_;
  a_cmdseq_conn* conn_ = nullptr;
  a_cmdseq_error_info err_{};
};

inline std::string LinkParamName(const testing::TestParamInfo<Link>& info) {
  return LinkName(info.param);
}

}  // namespace vq_e2e

#endif  // VQ_TESTS_CMDSEQ_E2E_STATEMENT_SESSION_H
