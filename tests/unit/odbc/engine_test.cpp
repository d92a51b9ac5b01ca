// The engine interface without a server: the mapping of every command-sequence result
// (SQL code, error block, whether the handle lets its connection go), the requests that
// find no connection, the dropped-connection callback, and the pieces of the probe.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "cmdseq/client.h"
#include "cmdseq/connect.h"
#include "odbc/engine.h"
#include "odbc/handles.h"

namespace {

// A connection handle with a client connection that has no stream: the client counts it
// as out of service, so releasing it never touches a stream. The test keeps a reference
// of its own, so it can tell how many the engine layer gave back.
class EngineHandle : public testing::Test {
 protected:
  void SetUp() override {
    dbc_ = std::make_unique<tagDBC>();
    dbc_->kind = OBJ_DBC;
    conn_ = new a_cmdseq_conn(nullptr, nullptr);
    conn_->status = 0;       // not connected: no stream to close
    CmdSeqConnAddRef(conn_);  // the handle's reference; the first one is the test's
    dbc_->conn.store(conn_);
  }
  void TearDown() override {
    a_cmdseq_conn* left = dbc_->conn.exchange(nullptr);
    if (left != nullptr) CmdSeqConnRelease(left);
    CmdSeqConnRelease(conn_);
  }
  // The references still held apart from the test's own.
  int OtherReferences() {
    CmdSeqConnAddRef(conn_);
    return CmdSeqConnRelease(conn_) - 1;
  }
  void SetBlock(std::int32_t sqlcode, const char* s3, const char* s2) {
    dbc_->err.sqlcode = sqlcode;
    std::snprintf(dbc_->err.odbc3_state, sizeof dbc_->err.odbc3_state, "%s", s3);
    std::snprintf(dbc_->err.odbc2_state, sizeof dbc_->err.odbc2_state, "%s", s2);
  }

  std::unique_ptr<tagDBC> dbc_;
  a_cmdseq_conn* conn_ = nullptr;
};

struct MapCase {
  const char* name;
  a_cmdseq_return result;
  int keep;
  std::int32_t before;  // SQL code already in the block
  std::int32_t want;
  const char* odbc3;  // the block's states afterwards
  const char* odbc2;
  bool released;
};

TEST_F(EngineHandle, EveryResultMapsToItsCodeBlockAndConnectionFate) {
  const MapCase cases[] = {
      {"success", 0, 0, 0, 0, "", "", false},
      {"failure without record", 1, 0, 0, -300, "", "", false},
      {"lost", 2, 0, 0, -85, "08S01", "08S01", true},
      {"lost keeps an earlier error", 2, 0, -100, -100, "XX123", "XX124", true},
      {"lost while connecting", 2, 1, 0, -85, "08S01", "08S01", false},
      {"protocol error", 3, 0, 0, -85, "08S01", "08S01", true},
      {"protocol error, kept", 3, 1, 0, -85, "08S01", "08S01", false},
      {"error", 4, 0, -131, -131, "XX123", "XX124", false},
      {"warning", 5, 0, 100, 100, "XX123", "XX124", false},
      {"out of memory", 6, 0, 0, -876, "HY001", "S1001", true},
      {"out of memory while connecting", 6, 1, 0, -876, "HY001", "S1001", false},
      {"counter wrapped", 7, 0, 0, -300, "", "", false},
      {"cancelled", 8, 0, 0, -299, "HY000", "S1000", false},
      {"server closed", 9, 0, 0, -85, "08S01", "08S01", true},
      {"communication failure", 10, 0, -829, -829, "XX123", "XX124", false},
      {"unknown", 11, 0, 0, -300, "", "", false},
  };
  for (const MapCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (dbc_->conn.load() == nullptr) {
      CmdSeqConnAddRef(conn_);
      dbc_->conn.store(conn_);
    }
    if (c.before != 0) {
      SetBlock(c.before, "XX123", "XX124");
    } else {
      SetBlock(0, "", "");
    }
    EXPECT_EQ(MapCmdSeqResult(c.result, dbc_.get(), c.keep), c.want);
    EXPECT_STREQ(dbc_->err.odbc3_state, c.odbc3);
    EXPECT_STREQ(dbc_->err.odbc2_state, c.odbc2);
    if (c.result != 0 && c.result != 1 && c.result != 7 && c.result != 11 && c.before == 0) {
      EXPECT_EQ(dbc_->err.sqlcode, c.want);
    }
    EXPECT_EQ(dbc_->conn.load() == nullptr, c.released);
    // Released exactly once: the handle's reference, and no other.
    EXPECT_EQ(OtherReferences(), c.released ? 0 : 1);
  }
}

TEST_F(EngineHandle, AReleasedConnectionAnswersEveryRequestWithNotConnected) {
  SetBlock(0, "", "");
  ASSERT_EQ(MapCmdSeqResult(CMDSEQ_NOT_CONNECTED, dbc_.get(), 0), -85);
  ASSERT_EQ(dbc_->conn.load(), nullptr);
  using Request = std::int32_t (*)(tagDBC*);
  const std::pair<const char*, Request> requests[] = {
      {"commit", DBCommit},
      {"rollback", DBRollback},
      {"disconnect", DBDisconnect},
      {"exec", [](tagDBC* d) { return DBExecStmt(d, nullptr, "SELECT 1", SQL_NTS); }},
  };
  for (const auto& r : requests) {
    SCOPED_TRACE(r.first);
    SetBlock(0, "", "");
    EXPECT_EQ(r.second(dbc_.get()), -308);
    EXPECT_EQ(dbc_->err.sqlcode, -308);
    EXPECT_STREQ(dbc_->err.odbc3_state, "08S01");
    EXPECT_STREQ(dbc_->err.odbc2_state, "08S01");
  }
  EXPECT_EQ(OtherReferences(), 0);
}

TEST_F(EngineHandle, DisconnectOfAConnectionTheClientAlreadyDroppedReleasesOnce) {
  // The client took the connection out of service (its own reference is gone); only the
  // handle's is left, and the disconnect gives back exactly that one.
  SetBlock(0, "", "");
  EXPECT_EQ(DBDisconnect(dbc_.get()), -85);
  EXPECT_STREQ(dbc_->err.odbc3_state, "08S01");
  EXPECT_EQ(dbc_->conn.load(), nullptr);
  EXPECT_EQ(OtherReferences(), 0);
}

TEST_F(EngineHandle, NotConnectedKeepsAnEarlierErrorOnlyWhenAsked) {
  SetBlock(-100, "XX123", "XX124");
  EXPECT_EQ(DBNotConnected(dbc_.get(), true), -308);
  EXPECT_EQ(dbc_->err.sqlcode, -100);
  EXPECT_EQ(DBNotConnected(dbc_.get()), -308);
  EXPECT_EQ(dbc_->err.sqlcode, -308);
  EXPECT_STREQ(dbc_->err.odbc3_state, "08S01");
}

TEST_F(EngineHandle, CancelWithoutARequestTouchesNothing) {
  SetBlock(-131, "XX123", "XX124");
  EXPECT_EQ(DBCancel(dbc_.get()), 0);
  EXPECT_EQ(dbc_->err.sqlcode, -131);
  EXPECT_STREQ(dbc_->err.odbc3_state, "XX123");
  EXPECT_EQ(dbc_->conn.load(), conn_);
  a_cmdseq_conn* held = dbc_->conn.exchange(nullptr);
  EXPECT_EQ(DBCancel(dbc_.get()), 0);
  dbc_->conn.store(held);
}

TEST(EngineCallback, OnlyAConnectionHandleIsMarkedDropped) {
  ConnDroppedCallback(nullptr);
  auto stmt = std::make_unique<tagSTMT>();
  stmt->kind = OBJ_STMT;
  ConnDroppedCallback(stmt.get());
  EXPECT_EQ(stmt->kind, OBJ_STMT);
  auto dbc = std::make_unique<tagDBC>();
  dbc->kind = OBJ_DBC;
  ConnDroppedCallback(dbc.get());
  EXPECT_EQ(dbc->dropped.load(), 1u);
  ConnDroppedCallback(dbc.get());
  EXPECT_EQ(dbc->dropped.load(), 1u);
}

TEST(EngineStart, StopWithoutStartSucceeds) {
  ASSERT_FALSE(DBIsStarted());
  EXPECT_EQ(DBFinalize(), 1);
}

TEST(EngineProbe, VersionTextsGiveMajorMinorAndBuild) {
  const std::pair<const char*, std::uint32_t> cases[] = {
      {"12.0.1.3152", 12001},
      {"9.0.2.3951", 9002},
      {"Version 17.0.4.2000", 17004},
      {"12", 12000},
      {"12.1", 12100},
      {"12..5", 12005},
      {"", 0},
      {"no digits", 0},
      {"99999999999999.0.0", 999999000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    EXPECT_EQ(DBParseServerVersion(c.first), c.second);
  }
  EXPECT_EQ(DBParseServerVersion(nullptr), 0u);
}

TEST(EngineProbe, ProtocolVersionLadder) {
  const std::pair<std::uint16_t, std::uint32_t> cases[] = {
      {0, 6000},   {5, 6000},   {6, 8000},   {9, 8000},   {10, 10000}, {12, 10000},
      {13, 11000}, {14, 11000}, {15, 12000}, {16, 0},     {65535, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    EXPECT_EQ(DBVersionFromProtocol(c.first), c.second);
  }
}

TEST(EngineProbe, IsolationLevelTextsFollowTheLowestSetBit) {
  const std::pair<std::uint32_t, const char*> cases[] = {
      {1, "0"},         {2, "1"},         {4, "2"},
      {8, "3"},         {32, "snapshot"}, {64, "statement-snapshot"},
      {128, "readonly-statement-snapshot"}, {0, "readonly-statement-snapshot"},
      {6, "1"},         {96, "snapshot"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    EXPECT_STREQ(Isolation_level_string(c.first), c.second);
  }
}

}  // namespace
