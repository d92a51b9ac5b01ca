// Connections across threads: connections made on several threads at once are all
// counted, and a connection whose references are taken and dropped on other threads
// while it is taken out of service is deleted once, by the last release.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "cmdseq/client.h"
#include "cmdseq/connect.h"
#include "strm_client_double.h"

namespace {

using vq::testing::Words;

TEST(ConnectionThreads, ConnectionsMadeAtOnceAreAllCounted) {
  constexpr int kThreads = 4;
  constexpr int kEach = 50;
  a_cmdseq_env env;
  std::vector<a_strm_conn_rec> streams(kThreads * kEach);
  std::vector<std::thread> makers;
  for (int t = 0; t < kThreads; ++t) {
    makers.emplace_back([&, t] {
      for (int i = t * kEach; i < (t + 1) * kEach; ++i) {
        a_cmdseq_conn* conn =
            i_cs_AddNewConnection(&streams[i], &env, static_cast<std::uintptr_t>(i + 1));
        conn->release();
      }
    });
  }
  for (std::thread& t : makers) t.join();
  EXPECT_EQ(env.conn_count.load(), kThreads * kEach);
  for (int i = 0; i < kThreads * kEach; ++i) {
    ASSERT_EQ(Words(&streams[i]).callback_data.load(), static_cast<std::uintptr_t>(i + 1));
  }
}

std::atomic<int> g_deleted{0};

class WatchedConn : public a_cmdseq_conn {
 public:
  WatchedConn(a_cmdseq_env* env, a_strm_conn stream) : a_cmdseq_conn(env, stream) {}
  ~WatchedConn() override { ++g_deleted; }
};

// Holders read the connection only while they hold a reference; the sanitizers see a
// read after the delete or a second delete.
TEST(ConnectionThreads, TheLastReleaseDeletesTheConnectionOnce) {
  constexpr int kHolders = 4;
  constexpr int kRounds = 2000;
  g_deleted = 0;
  a_cmdseq_env env;
  a_strm_conn_rec stream;
  a_cmdseq_conn* conn = new WatchedConn(&env, &stream);
  conn->server_handle = 42;
  for (int h = 0; h < kHolders; ++h) CmdSeqConnAddRef(conn);  // each holder's own

  std::promise<void> go;
  std::shared_future<void> started = go.get_future().share();
  std::atomic<int> wrong_reads{0};
  std::vector<std::thread> holders;
  for (int h = 0; h < kHolders; ++h) {
    holders.emplace_back([&] {
      started.wait();
      for (int i = 0; i < kRounds; ++i) {
        CmdSeqConnAddRef(conn);
        if (conn->server_handle != 42 || conn->env != &env) ++wrong_reads;
        (void)(conn->status.load() & CS_STATUS_CONNECTED);
        CmdSeqConnRelease(conn);
      }
      CmdSeqConnRelease(conn);  // the holder's own: the last of them deletes
    });
  }
  go.set_value();
  i_cs_RemoveConnection(conn);  // the connection's first reference, while they run
  for (std::thread& t : holders) t.join();
  EXPECT_EQ(wrong_reads.load(), 0);
  EXPECT_EQ(g_deleted.load(), 1);
}

}  // namespace
