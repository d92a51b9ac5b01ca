// Cancel from another thread racing the end of a request: the attention that went out
// is drained by the request it was meant for, never by the next one.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "cmdseq_fixture.h"

namespace {

using namespace std::chrono_literals;

// Waits (sleeping) until `done` holds or the bound passes; answers whether it held.
template <typename Pred>
bool WaitFor(Pred done, std::chrono::milliseconds bound = 5000ms) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(CancelRace, RequestEndingWhileTheAttentionIsSentDrainsItsAcknowledgement) {
  CmdSeqConn t;
  t.sconn.ack = a_strm_conn_rec::Ack::kAfterReply;
  t.sconn.item(66).sync();  // this request's reply; the acknowledgement follows it
  t.sconn.item(66).sync();  // the next request's reply

  std::mutex m;
  std::condition_variable cv;
  bool cancel_inside = false;
  bool request_ended_inside = false;
  // The cancelling thread is inside the send when the request thread ends the request:
  // it answers only after the request thread has left the request.
  t.sconn.on_cancel = [&] {
    {
      std::lock_guard<std::mutex> lock(m);
      cancel_inside = true;
    }
    cv.notify_all();
    request_ended_inside = WaitFor([&] { return t.conn->in_request.load() == 0; });
  };

  ASSERT_EQ(i_cs_StartRequest(t.conn, &t.err), CMDSEQ_OK);
  ASSERT_EQ(i_cs_SendRequest(t.conn, &t.err), CMDSEQ_OK);
  int sent = 0;
  std::thread canceller([&] { CmdSeqCancel(t.conn, nullptr, &sent); });
  {
    std::unique_lock<std::mutex> lock(m);
    ASSERT_TRUE(cv.wait_for(lock, 5s, [&] { return cancel_inside; }));
  }
  const a_cmdseq_return status = i_cs_ReceiveSuccessOrError(t.conn, &t.err);
  const a_cmdseq_return result = i_cs_EndRequest(t.conn, &t.err, status);
  canceller.join();

  EXPECT_TRUE(request_ended_inside);
  EXPECT_EQ(sent, 1);
  EXPECT_EQ(result, CMDSEQ_OK);  // the request had completed: it is not reported cancelled
  EXPECT_FALSE(t.sconn.attention_pending());
  EXPECT_EQ(t.conn->cancel_bits.load(), 0u);

  // The next request reads its own reply, not a stale acknowledgement.
  EXPECT_EQ(t.status_request(), CMDSEQ_OK);
  EXPECT_EQ(t.err.sqlcode, 0);
  EXPECT_TRUE(t.sconn.script_done());
}

TEST(CancelRace, ManyCancelsAgainstManyRequestsLeaveNothingUndrained) {
  CmdSeqConn t;
  t.sconn.ack = a_strm_conn_rec::Ack::kAfterReply;
  constexpr int kRequests = 200;
  for (int i = 0; i < kRequests; ++i) t.sconn.item(66).sync();
  std::atomic<bool> stop{false};
  std::thread canceller([&] {
    while (!stop.load()) {
      int sent = 0;
      CmdSeqCancel(t.conn, nullptr, &sent);
      std::this_thread::sleep_for(50us);
    }
  });
  int cancelled = 0;
  for (int i = 0; i < kRequests; ++i) {
    CmdSeqResetErrorParam(&t.err, t.conn);
    ASSERT_EQ(i_cs_StartRequest(t.conn, &t.err), CMDSEQ_OK);
    ASSERT_EQ(i_cs_SendRequest(t.conn, &t.err), CMDSEQ_OK);
    std::this_thread::sleep_for(100us);  // leave the canceller a window inside the request
    const a_cmdseq_return status = i_cs_ReceiveSuccessOrError(t.conn, &t.err);
    const a_cmdseq_return r = i_cs_EndRequest(t.conn, &t.err, status);
    // Acknowledgements come after each reply, which was complete: no request is
    // cancelled, and none inherits an earlier request's acknowledgement.
    if (r != CMDSEQ_OK) ++cancelled;
    ASSERT_TRUE(t.connected());
  }
  stop.store(true);
  canceller.join();
  EXPECT_EQ(cancelled, 0);
  EXPECT_GT(t.sconn.cancels(), 0);
  EXPECT_FALSE(t.sconn.attention_pending());
  EXPECT_EQ(t.conn->cancel_bits.load(), 0u);
  EXPECT_TRUE(t.sconn.script_done());
}

}  // namespace
