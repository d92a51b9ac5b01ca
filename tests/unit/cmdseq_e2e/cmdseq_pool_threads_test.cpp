// The connection pool over the real communication stack against vqeng12, over shared
// memory and TCP/IP: a disconnect parks the connection, a connect with the same string
// takes it back with one short exchange (the server sees no second app-connect or
// connect) and gives a changed character set back, other parameters get a connection of
// their own, the controller thread closes a connection idle past its time-out, freeing
// the environment closes the parked ones, and a park or reuse that fails leaves no
// connection behind on either side (a failed reuse connects afresh). The server's request
// log tells what it saw; a reference the test holds tells when the client let go.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cmdseq/conn_pool.h"
#include "cmdseq/statement.h"
#include "cmdseq/transaction.h"
#include "e2e_session.h"
#include "scoped_environment.h"

namespace {

using vq_e2e::Link;
using vq_e2e::RequestLog;

// Pooled from the first disconnect on.
constexpr const char* kPooled = ";CPOOL='YES(StartCachingAfter=1)'";

int IdleCount(vq_e2e::Client& client) {
  a_cmdseq_conn_pool* pool = client.env()->conn_pool;
  std::lock_guard<std::mutex> lock(pool->mutex);
  return pool->idle_count;
}

// One request on the connection that always reaches the server.
bool Serves(vq_e2e::Client& client, a_cmdseq_conn* conn) {
  a_cmdseq_error_info err;
  CmdSeqInitErrorParam(client.env(), &err, 0);
  const a_cmdseq_return r = CmdSeqPrepareToCommit(conn, &err);
  CmdSeqFiniErrorParam(&err);
  return r == CMDSEQ_OK;
}

// The system's character set of these tests, read when the client environment is made.
struct SystemCharset {
  SystemCharset() { vars.Set("VCCHARSET", "cp1252"); }
  vq::testing::ScopedEnvironment vars{{"VCCHARSET"}};
};

// A server with a request log, and the client, for one link.
class CmdSeqPoolEndToEnd : public testing::TestWithParam<Link> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(vctmp_.path().empty());
    ASSERT_TRUE(client_->ok());
  }
  void TearDown() override {
    if (!HasFailure()) return;
    for (const auto& l : log_.Lines()) std::printf("  server: %s\n", l.c_str());
  }
  // Starts the server; a fault script (fault_script.h) when `faults` is not empty.
  void StartServer(const std::string& faults = "", std::vector<std::string> extra = {}) {
    extra.insert(extra.end(), {"-rl", log_.path()});
    if (!faults.empty()) {
      const std::string script = vctmp_.path() + "/faults";
      std::ofstream(script) << faults << "\n";
      extra.push_back("--fault-script=" + script);
    }
    ASSERT_TRUE(server_.Start(extra));
    ASSERT_GT(server_.port(), 0);
  }
  std::string Text(const std::string& more = "") const {
    return "UID=dba;PWD=sql;" + server_.Links(GetParam()) + kPooled + more;
  }
  a_cmdseq_conn* Connect(const std::string& text) {
    a_cmdseq_conn* conn = nullptr;
    int sqlcode = 0;
    EXPECT_EQ(client_->Connect(text, &conn, &sqlcode), CMDSEQ_OK) << sqlcode;
    return conn;
  }
  // Disconnects and expects the connection parked: the server saw the park request and
  // keeps the connection open.
  void Park(a_cmdseq_conn* conn) {
    const int parks = log_.Count("pool-park");
    const int disconnects = log_.Count("disconnect");
    const int open = log_.OpenConnections();
    int sqlcode = 0;
    EXPECT_EQ(client_->Disconnect(conn, &sqlcode), CMDSEQ_OK) << sqlcode;
    EXPECT_EQ(log_.Count("pool-park"), parks + 1);
    EXPECT_EQ(log_.Count("disconnect"), disconnects);
    EXPECT_EQ(log_.OpenConnections(), open);
  }
  bool ServerHasOpen(int n) {
    return RequestLog::WaitFor([&] { return log_.OpenConnections() == n; });
  }

  vq_e2e::TempVctmp vctmp_;
  RequestLog log_{vctmp_.path() + "/requests.log"};
  vq_e2e::Server server_{"cspool"};
  SystemCharset system_;
  std::unique_ptr<vq_e2e::Client> client_ = std::make_unique<vq_e2e::Client>();
};

TEST_P(CmdSeqPoolEndToEnd, ParkedConnectionIsReusedBySameParametersOnly) {
  StartServer();
  a_cmdseq_conn* first = Connect(Text(";CON=first"));
  ASSERT_NE(first, nullptr);
  Park(first);
  EXPECT_EQ(IdleCount(*client_), 1);
  EXPECT_TRUE(ServerHasOpen(1));

  // Same parameters under another connection name: the parked connection comes back
  // with the new name, without a second app-connect or connect.
  a_cmdseq_conn* again = Connect(Text(";CON=second"));
  EXPECT_EQ(again, first);
  EXPECT_EQ(IdleCount(*client_), 0);
  EXPECT_EQ(log_.Count("pool-reuse second"), 1);
  EXPECT_EQ(log_.Count("app-connect "), 1);
  EXPECT_EQ(log_.Count("connect UID="), 1);
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(Serves(*client_, again));
  Park(again);

  // Other parameters: a connection of its own; the parked one stays parked.
  a_cmdseq_conn* other = Connect(Text(";APP=other"));
  ASSERT_NE(other, nullptr);
  EXPECT_NE(other, first);
  EXPECT_EQ(log_.Count("app-connect "), 2);
  EXPECT_EQ(log_.Count("pool-reuse"), 1);
  EXPECT_EQ(IdleCount(*client_), 1);
  EXPECT_TRUE(Serves(*client_, other));
  EXPECT_TRUE(ServerHasOpen(2));

  // Pooling off: a disconnect closes the connection.
  a_cmdseq_conn* unpooled = Connect("UID=dba;PWD=sql;CPOOL=NO;" + server_.Links(GetParam()));
  ASSERT_NE(unpooled, nullptr);
  EXPECT_EQ(client_->Disconnect(unpooled), CMDSEQ_OK);
  EXPECT_EQ(log_.Count("disconnect"), 1);
  EXPECT_EQ(IdleCount(*client_), 1);
  EXPECT_TRUE(ServerHasOpen(2));
  EXPECT_EQ(client_->Disconnect(other), CMDSEQ_OK);
  EXPECT_EQ(IdleCount(*client_), 2);
}

// Strings are matched by their bytes, not their length: a connect whose string differs
// from the parked one's at the same length is never served from the pool. A wrong
// password of the right length is refused by the server, and the parked connection stays.
TEST_P(CmdSeqPoolEndToEnd, AStringOfTheSameLengthButOtherBytesGetsNoParkedConnection) {
  StartServer();
  a_cmdseq_conn* parked = Connect(Text(";APP=aaaa"));
  ASSERT_NE(parked, nullptr);
  Park(parked);

  a_cmdseq_conn* refused = nullptr;
  int sqlcode = 0;
  const std::string wrong = "UID=dba;PWD=sqx;" + server_.Links(GetParam()) + kPooled + ";APP=aaaa";
  ASSERT_EQ(wrong.size(), Text(";APP=aaaa").size());
  EXPECT_NE(client_->Connect(wrong, &refused, &sqlcode), CMDSEQ_OK);
  EXPECT_EQ(refused, nullptr);
  EXPECT_LT(sqlcode, 0);
  EXPECT_EQ(log_.Count("pool-reuse"), 0);
  EXPECT_EQ(IdleCount(*client_), 1);

  a_cmdseq_conn* other = Connect(Text(";APP=bbbb"));
  ASSERT_NE(other, nullptr);
  EXPECT_NE(other, parked);
  EXPECT_EQ(log_.Count("pool-reuse"), 0);
  EXPECT_EQ(IdleCount(*client_), 1);
  EXPECT_EQ(client_->Disconnect(other), CMDSEQ_OK);

  // The parked connection still serves its own string.
  EXPECT_EQ(Connect(Text(";APP=aaaa")), parked);
  EXPECT_EQ(log_.Count("pool-reuse"), 1);
  Park(parked);
}

// A connection whose CHAR character set was changed gets the client character set back
// ahead of its reuse, in the same exchange; once.
TEST_P(CmdSeqPoolEndToEnd, ReuseGivesTheClientCharacterSetBack) {
  struct Case {
    const char* name;
    const char* parameters;
    const char* restored;  // the server's log line of the change
  };
  const Case kCases[] = {
      {"Charset given", ";CS=utf8", "charset utf8"},
      {"the system's", "", "charset cp1252"},
  };
  StartServer();
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    a_cmdseq_conn* conn = Connect(Text(k.parameters));
    ASSERT_NE(conn, nullptr);
    a_cmdseq_error_info err;
    CmdSeqInitErrorParam(client_->env(), &err, 0);
    EXPECT_EQ(CmdSeqChangeCharCharset(conn, &err, "iso_1", 5), CMDSEQ_OK) << err.sqlcode;
    CmdSeqFiniErrorParam(&err);
    Park(conn);
    const int reuses = log_.Count("pool-reuse");
    ASSERT_EQ(Connect(Text(k.parameters)), conn);
    const std::vector<std::string> lines = log_.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_NE(lines[lines.size() - 2].find(std::string(" ") + k.restored), std::string::npos)
        << lines[lines.size() - 2];
    EXPECT_NE(lines.back().find(" pool-reuse"), std::string::npos) << lines.back();
    // Given back once: the next park and reuse send no change.
    const int changes = log_.Count("charset ");
    Park(conn);
    ASSERT_EQ(Connect(Text(k.parameters)), conn);
    EXPECT_EQ(log_.Count("charset "), changes);
    EXPECT_EQ(log_.Count("pool-reuse"), reuses + 2);
    Park(conn);
  }
}

// A park that fails leaves the connection closed on both sides, not parked.
TEST_P(CmdSeqPoolEndToEnd, FailedParkClosesTheConnection) {
  struct Case {
    const char* name;
    const char* fault;  // on the park request
  };
  const Case kCases[] = {
      {"refused", "pool-park error -300 cannot park"},
      {"connection lost in the reply", "pool-park drop"},
  };
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    server_.Stop();
    std::remove(log_.path().c_str());
    StartServer(k.fault);
    a_cmdseq_conn* conn = Connect(Text());
    ASSERT_NE(conn, nullptr);
    CmdSeqConnAddRef(conn);  // to see it go
    (void)client_->Disconnect(conn);
    EXPECT_EQ(log_.Count("pool-park"), 1);
    EXPECT_EQ(IdleCount(*client_), 0);
    EXPECT_EQ(CmdSeqConnIsValid(conn), 0);
    EXPECT_EQ(CmdSeqConnRelease(conn), 0);
    EXPECT_TRUE(ServerHasOpen(0));
    // Nothing parked: the next connect is a connect of its own.
    a_cmdseq_conn* next = Connect(Text());
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(log_.Count("app-connect "), 2);
    EXPECT_EQ(log_.Count("pool-reuse"), 0);
    (void)client_->Disconnect(next);
    EXPECT_TRUE(ServerHasOpen(0));
  }
}

// Freeing the client environment closes every parked connection.
TEST_P(CmdSeqPoolEndToEnd, FreeingTheEnvironmentClosesParkedConnections) {
  StartServer();
  a_cmdseq_conn* one = Connect(Text());
  a_cmdseq_conn* two = Connect(Text(";APP=two"));
  ASSERT_NE(one, nullptr);
  ASSERT_NE(two, nullptr);
  Park(one);
  Park(two);
  EXPECT_EQ(IdleCount(*client_), 2);
  EXPECT_TRUE(ServerHasOpen(2));
  client_.reset();
  EXPECT_TRUE(ServerHasOpen(0));
}

// A time-out below the minimum of 5 s counts as 5 s: the connection is still parked well
// after 1 s and closed by the controller thread soon after 5 s.
TEST_P(CmdSeqPoolEndToEnd, IdleConnectionIsClosedAfterTheMinimumTimeOut) {
  StartServer();
  a_cmdseq_conn* conn =
      Connect("UID=dba;PWD=sql;" + server_.Links(GetParam()) +
              ";CPOOL='YES(Timeout=1;StartCachingAfter=1)'");
  ASSERT_NE(conn, nullptr);
  CmdSeqConnAddRef(conn);  // to see it go
  Park(conn);
  const auto parked = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  EXPECT_EQ(IdleCount(*client_), 1);
  EXPECT_EQ(log_.OpenConnections(), 1);
  // The controller thread takes the connection out of the pool first, then drops it and
  // lets go of the pool's reference: wait until ours is the only one left.
  const auto only_ours = [&] {
    CmdSeqConnAddRef(conn);
    return CmdSeqConnRelease(conn) == 1;
  };
  EXPECT_TRUE(RequestLog::WaitFor(
      [&] { return IdleCount(*client_) == 0 && only_ours(); }, std::chrono::seconds(15)));
  EXPECT_GE(std::chrono::steady_clock::now() - parked, std::chrono::seconds(5));
  EXPECT_TRUE(ServerHasOpen(0));
  EXPECT_EQ(CmdSeqConnIsValid(conn), 0);
  EXPECT_EQ(CmdSeqConnRelease(conn), 0);  // the pool's reference went with it
}

// A reuse that fails drops the parked connection on both sides and the connect goes on
// with a connection of its own.
TEST_P(CmdSeqPoolEndToEnd, FailedReuseLeavesNoConnectionAndConnectsAfresh) {
  struct Case {
    const char* name;
    const char* fault;  // on the reuse request
  };
  const Case kCases[] = {
      {"refused", "pool-reuse error -102 too many connections"},
      {"connection lost in the reply", "pool-reuse drop"},
      {"unexpected item", "pool-reuse unexpected"},
  };
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    server_.Stop();
    std::remove(log_.path().c_str());
    StartServer(k.fault);
    a_cmdseq_conn* parked = Connect(Text());
    ASSERT_NE(parked, nullptr);
    CmdSeqConnAddRef(parked);  // to see it go
    Park(parked);

    a_cmdseq_conn* fresh = Connect(Text());
    ASSERT_NE(fresh, nullptr);
    EXPECT_NE(fresh, parked);
    EXPECT_EQ(log_.Count("pool-reuse"), 1);
    EXPECT_EQ(log_.Count("app-connect "), 2);
    EXPECT_EQ(IdleCount(*client_), 0);
    EXPECT_EQ(CmdSeqConnIsValid(parked), 0);
    EXPECT_EQ(CmdSeqConnRelease(parked), 0);  // nothing else held it
    EXPECT_TRUE(ServerHasOpen(1));
    EXPECT_TRUE(Serves(*client_, fresh));
    // The fresh connection is pooled under the same string in turn; emptying the pool
    // closes it on both sides.
    Park(fresh);
    EXPECT_EQ(IdleCount(*client_), 1);
    client_->env()->conn_pool->drop_cached(false);
    EXPECT_EQ(IdleCount(*client_), 0);
    EXPECT_TRUE(ServerHasOpen(0));
  }
}

// The parked connection's server went away: the reuse fails on the dead stream, and the
// connect reaches the server that runs now under the same name and address.
TEST_P(CmdSeqPoolEndToEnd, ReuseAfterTheServerWentAway) {
  StartServer();
  a_cmdseq_conn* parked = Connect(Text());
  ASSERT_NE(parked, nullptr);
  CmdSeqConnAddRef(parked);
  Park(parked);
  const int port = server_.port();
  server_.Stop();

  // No server at all: the connect fails, and the parked connection is gone.
  a_cmdseq_conn* none = nullptr;
  int sqlcode = 0;
  EXPECT_NE(client_->Connect(Text(), &none, &sqlcode), CMDSEQ_OK);
  EXPECT_EQ(none, nullptr);
  EXPECT_LT(sqlcode, 0);
  EXPECT_EQ(IdleCount(*client_), 0);
  EXPECT_EQ(CmdSeqConnIsValid(parked), 0);
  EXPECT_EQ(CmdSeqConnRelease(parked), 0);

  // A connection parked on a server that is replaced by another one at the same address.
  std::remove(log_.path().c_str());
  StartServer("", {"-x", "tcpip(port=" + std::to_string(port) + ")"});
  ASSERT_EQ(server_.port(), port);
  parked = Connect(Text());
  ASSERT_NE(parked, nullptr);
  CmdSeqConnAddRef(parked);
  Park(parked);
  server_.Stop();
  std::remove(log_.path().c_str());
  StartServer("", {"-x", "tcpip(port=" + std::to_string(port) + ")"});
  ASSERT_EQ(server_.port(), port);
  a_cmdseq_conn* fresh = Connect(Text());
  ASSERT_NE(fresh, nullptr);
  EXPECT_NE(fresh, parked);
  EXPECT_EQ(CmdSeqConnIsValid(parked), 0);
  EXPECT_EQ(CmdSeqConnRelease(parked), 0);
  EXPECT_EQ(log_.Count("pool-reuse"), 0);  // nothing reached the new server
  EXPECT_TRUE(ServerHasOpen(1));
  EXPECT_EQ(client_->Disconnect(fresh), CMDSEQ_OK);
}

INSTANTIATE_TEST_SUITE_P(Links, CmdSeqPoolEndToEnd,
                         testing::Values(Link::kSharedMemory, Link::kTcpIp),
                         [](const testing::TestParamInfo<Link>& info) {
                           return vq_e2e::LinkName(info.param);
                         });

}  // namespace
