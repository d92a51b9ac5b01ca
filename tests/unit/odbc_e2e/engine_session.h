// A connection handle of the engine interface against vqeng12, driven directly (no driver
// manager): the server started with its request log, the client layer started, one
// tagDBC with its error block, and what a test needs to connect, read one value and look
// at what reached the server. Parameterised by the link (shared memory, TCP/IP).
#ifndef VQ_TESTS_ODBC_E2E_ENGINE_SESSION_H
#define VQ_TESTS_ODBC_E2E_ENGINE_SESSION_H

#include <gtest/gtest.h>
#include <sql.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cmdseq/client.h"
#include "cmdseq/connect.h"
#include "cmdseq/desc.h"
#include "e2e_session.h"
#include "odbc/engine.h"
#include "odbc/handles.h"
#include "odbc/library_start.h"
#include "utils/locale/charset_converter.h"
#include "utils/locale/lang_string.h"

namespace vq_odbc_e2e {

using vq_e2e::Link;

constexpr std::int16_t kWireText = -21;
constexpr std::int16_t kWireInt = 4;

// An output list of one value: a text of up to 63 bytes, or a 32-bit integer.
class OneValue {
 public:
  explicit OneValue(std::int16_t type) {
    CmdSeqInitDesc(&desc_);
    ok_ = CmdSeqAllocDescItems(&desc_, 1, 1) == CMDSEQ_OK;
    if (!ok_) return;
    a_cmdseq_desc_item* item = desc_.items;
    item->type = type;
    item->length = type == kWireInt ? 4 : sizeof text_;
    item->values()[0] = {type == kWireInt ? static_cast<void*>(&number_) : text_, &indicator_,
                         &length_};
    (void)CmdSeqMarkDescItemUpdated(&desc_, item);
  }
  ~OneValue() { CmdSeqFreeDescItems(&desc_); }
  bool ok() const { return ok_; }
  a_cmdseq_desc* desc() { return &desc_; }
  std::string text() const { return std::string(text_, strnlen(text_, sizeof text_)); }
  std::int32_t number() const { return number_; }

 private:
  a_cmdseq_desc desc_;
  bool ok_ = false;
  char text_[64] = {};
  std::int32_t number_ = 0;
  std::int32_t indicator_ = 0;
  std::uint32_t length_ = 0;
};

inline bool HasLine(const std::vector<std::string>& lines, const std::string& prefix) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
    return l.compare(0, prefix.size(), prefix) == 0;
  });
}

inline void FreeConverter(CharsetConverter*& c) {
  if (c == nullptr) return;
  c->close();
  delete c;
  c = nullptr;
}

class EngineSession : public testing::TestWithParam<Link> {
 protected:
  explicit EngineSession(const char* server_name = "odbc_engine") : server_{server_name} {}

  void SetUp() override {
    // The real engine connect, as the shared library has it (named so the link keeps it).
    i_cs_SetEngineConnect(i_cs_EngineConnect);
    ASSERT_FALSE(vctmp_.path().empty());
    ASSERT_TRUE(server_.StartWithRequestLog(vctmp_.path() + "/requests.log"));
    char text[256] = "untouched";
    ASSERT_EQ(DBInitialize(text, sizeof text), 1) << text;
    ASSERT_EQ(DBInitialize(text, sizeof text), 1);  // a second start does nothing
    dbc_ = std::make_unique<tagDBC>();
    dbc_->kind = OBJ_DBC;
    dbc_->state = kDbcAllocated;
    DBInitErrorParam(dbc_.get());
    ASSERT_EQ(dbc_->err.owner, reinterpret_cast<std::uintptr_t>(dbc_.get()));
  }
  void TearDown() override {
    if (dbc_ != nullptr) {
      if (dbc_->conn.load() != nullptr) (void)DBDisconnect(dbc_.get());
      for (CharsetConverter** c :
           {&dbc_->conn_to_wide, &dbc_->wide_to_conn, &dbc_->ansi_to_wide, &dbc_->wide_to_ansi,
            &dbc_->nchar_to_wide, &dbc_->wide_to_nchar}) {
        FreeConverter(*c);
      }
      delete dbc_->lang;
      dbc_->lang = nullptr;
      CmdSeqFiniErrorParam(&dbc_->err);
    }
    EXPECT_EQ(DBFinalize(), 1);
    EXPECT_FALSE(DBIsStarted());
  }

  std::string ConnectString() const { return "UID=dba;PWD=sql;" + server_.Links(GetParam()); }
  void Connect() {
    ASSERT_EQ(DBStringConnect(dbc_.get(), ConnectString().c_str()), 0) << dbc_->err.sqlcode;
    ASSERT_NE(dbc_->conn.load(), nullptr);
  }
  std::vector<std::string> Requests() const {
    return server_.Requests(dbc_->conn.load()->server_handle);
  }
  // The handle's connection has no statement entry in use and no open cursor.
  void ExpectNothingLeftOnTheClient() {
    a_cmdseq_conn* conn = dbc_->conn.load();
    ASSERT_NE(conn, nullptr);
    EXPECT_TRUE(conn->active_infos.is_empty());
    EXPECT_EQ(conn->cursors, nullptr);
  }

  vq_e2e::TempVctmp vctmp_;
  vq_e2e::Server server_;
  std::unique_ptr<tagDBC> dbc_;
};

// vqeng12 with its request log and an environment made through the driver's entry
// points (the library started); the environment is freed and the library stopped at the
// end. Connections are the test's to make and free.
class ApiServerSession : public testing::TestWithParam<Link> {
 protected:
  explicit ApiServerSession(const char* server_name) : server_{server_name} {}

  void SetUp() override {
    i_cs_SetEngineConnect(i_cs_EngineConnect);
    ASSERT_FALSE(vctmp_.path().empty());
    ASSERT_TRUE(server_.StartWithRequestLog(vctmp_.path() + "/requests.log"));
    LibInit_jdbc();
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_), SQL_SUCCESS);
  }
  void TearDown() override {
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env_), SQL_SUCCESS);
    LibFini_jdbc();
  }

  vq_e2e::TempVctmp vctmp_;
  vq_e2e::Server server_;
  SQLHANDLE env_ = nullptr;
};

}  // namespace vq_odbc_e2e

#endif  // VQ_TESTS_ODBC_E2E_ENGINE_SESSION_H
