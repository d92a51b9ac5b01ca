// The request and reply core over the scripted presentation layer: the status and error
// record grammar, information items, presentation failures, resynchronisation, the end
// of a request, cancel, and the severity merge.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "cmdseq_fixture.h"

namespace {

using Strings = std::vector<std::string>;

TEST(SeverityMerge, RulesApplyInOrder) {
  struct Case {
    a_cmdseq_return current, incoming, merged;
  };
  const Case kCases[] = {
      {5, 4, 4}, {4, 5, 4}, {3, 8, 3}, {8, 1, 1}, {0, 5, 5}, {5, 0, 5},   {4, 4, 4},  {4, 2, 2},
      {2, 4, 2}, {9, 6, 6}, {6, 3, 6}, {1, 3, 3}, {8, 5, 8}, {10, 5, 10}, {4, 10, 4}, {1, 4, 1},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(i_cs_MoreSevereError(c.current, c.incoming), c.merged)
        << c.current << " then " << c.incoming;
  }
}

// --- Status and error records ----------------------------------------------------------

struct StatusCase {
  const char* name;
  std::function<void(a_strm_conn_rec&)> reply;
  a_cmdseq_return result;
  int sqlcode;
  std::string message;
  Strings params;
  int resyncs;
};

Bytes Rec(int code) {
  return code < 0 ? error_record(code, "42W00", "HY000", "S1000")
                  : error_record(code, "01W00", "01000", "01000");
}

TEST(StatusGrammar, Table) {
  const std::string long_text(300, 't');
  const StatusCase kCases[] = {
      {"success", [](a_strm_conn_rec& s) { s.item(66); }, 0, 0, "<none>", {}, 0},
      {"error with text and parameters",
       [](a_strm_conn_rec& s) {
         s.item(65, Rec(-1000))
             .item(135, "bad %1 %2")
             .item(134, "x")
             .item(134, "y")
             .item(0)
             .item(0);
       },
       4,
       -1000,
       "bad %1 %2",
       {"x", "y"},
       0},
      {"warning then error: the error is kept",
       [](a_strm_conn_rec& s) {
         s.item(65, Rec(101)).item(135, "warn").item(134, "w").item(0);
         s.item(65, Rec(-1000)).item(135, "err").item(134, "e").item(0).item(0);
       },
       4,
       -1000,
       "err",
       {"e"},
       0},
      {"two errors: the first is kept",
       [](a_strm_conn_rec& s) {
         s.item(65, Rec(-1000)).item(135, "first").item(134, "1").item(0);
         s.item(65, Rec(-1001)).item(135, "second").item(134, "2").item(0).item(0);
       },
       4,
       -1000,
       "first",
       {"1"},
       0},
      {"a taken record without parameters leaves none of the earlier ones",
       [](a_strm_conn_rec& s) {
         s.item(65, Rec(101)).item(135, "warn").item(134, "p1").item(0);
         s.item(65, Rec(-1000)).item(0).item(0);
       },
       4,
       -1000,
       "<none>",
       {},
       0},
      {"warning only",
       [](a_strm_conn_rec& s) { s.item(65, Rec(101)).item(0).item(0); },
       5,
       101,
       "<none>",
       {},
       0},
      {"long message text and long parameter",
       [long_text](a_strm_conn_rec& s) {
         s.item(65, Rec(-1000)).long_item(135, text_bytes(long_text), 100);
         s.long_item(134, text_bytes(long_text), 250).item(134, "z").item(0).item(0);
       },
       4,
       -1000,
       long_text,
       {long_text, "z"},
       0},
      {"empty parameter",
       [](a_strm_conn_rec& s) { s.item(65, Rec(-1000)).item(134).item(0).item(0); },
       4,
       -1000,
       "<none>",
       {""},
       0},
      {"unexpected status item",
       [](a_strm_conn_rec& s) { s.item(67, le32(1) + Bytes{1}); },
       3,
       0,
       "<none>",
       {},
       1},
      {"short error record",
       [](a_strm_conn_rec& s) { s.item(65, Bytes(10, '0')).item(0).item(0); },
       3,
       0,
       "<none>",
       {},
       1},
      {"record not closed",
       [](a_strm_conn_rec& s) { s.item(65, Rec(-1000)).item(134, "p").item(67).item(0); },
       3,
       -1000,
       "<none>",
       {},
       1},
      {"list not ended",
       [](a_strm_conn_rec& s) { s.item(65, Rec(-1000)).item(0).item(66); },
       3,
       -1000,
       "<none>",
       {},
       1},
      {"items left after the status",
       [](a_strm_conn_rec& s) { s.item(66).item(67, le32(1) + Bytes{1}).item(0); },
       3,
       0,
       "<none>",
       {},
       1},
  };
  for (const StatusCase& c : kCases) {
    SCOPED_TRACE(c.name);
    CmdSeqConn t;
    c.reply(t.sconn);
    t.sconn.sync();
    t.sconn.item(66).sync();  // the next request's reply
    EXPECT_EQ(t.status_request(), c.result);
    EXPECT_EQ(t.err.sqlcode, c.sqlcode);
    EXPECT_EQ(t.message(), c.message);
    EXPECT_EQ(t.params(), c.params);
    EXPECT_EQ(t.sconn.resyncs, c.resyncs);
    EXPECT_EQ(t.conn->in_request.load(), 0u);
    if (c.result == 3) {
      EXPECT_EQ(t.sconn.dump_comments, Strings{"Protocol error"});
    }
    // Whatever happened, the next request starts at its own reply.
    CmdSeqResetErrorParam(&t.err, t.conn);
    EXPECT_EQ(t.status_request(), CMDSEQ_OK);
    EXPECT_TRUE(t.sconn.script_done());
    EXPECT_EQ(t.sconn.overruns, 0);
  }
}

TEST(StatusGrammar, RecordStatesAreStoredAsSent) {
  CmdSeqConn t;
  t.sconn.item(65, error_record(-1000, "42ABC", "HY001", "S1001")).item(0).item(0).sync();
  EXPECT_EQ(t.status_request(), CMDSEQ_ERROR);
  EXPECT_STREQ(t.err.server_state, "42ABC");
  EXPECT_STREQ(t.err.odbc3_state, "HY001");
  EXPECT_STREQ(t.err.odbc2_state, "S1001");
}

TEST(StatusGrammar, WatchedWarning111IsNotTakenButNoted) {
  CmdSeqConn t;
  t.conn->status |= CS_STATUS_WATCH_111;
  t.sconn.item(65, Rec(111)).item(134, "p").item(0).item(0).sync();
  EXPECT_EQ(t.status_request(), CMDSEQ_OK);
  EXPECT_EQ(t.err.sqlcode, 0);
  EXPECT_TRUE(t.params().empty());
  EXPECT_NE(t.conn->status & CS_STATUS_SAW_111, 0);
}

TEST(StatusGrammar, LongTextIsCappedNotAllocatedAsAnnounced) {
  CmdSeqConn t;
  const Bytes huge(kMaxReplyTextBytes + 1000, 'm');
  t.sconn.item(65, Rec(-1000)).long_item(135, huge, 250).item(0).item(0).sync();
  EXPECT_EQ(t.status_request(), CMDSEQ_ERROR);
  EXPECT_EQ(t.message().size(), kMaxReplyTextBytes);
  EXPECT_TRUE(t.sconn.script_done());
}

TEST(StatusGrammar, AnnouncedLengthBeyondTheValueIsNotTrusted) {
  // The header announces 4 GiB; only the bytes that arrive are kept.
  CmdSeqConn t;
  t.sconn.item(65, Rec(-1000)).long_item(135, text_bytes("short"), 250, 0xFFFFFFFFll);
  t.sconn.item(0).item(0).sync();
  const a_cmdseq_return r = t.status_request();
  EXPECT_NE(r, CMDSEQ_OK);
  EXPECT_NE(r, CMDSEQ_NO_MEMORY);
  EXPECT_EQ(t.env.out_of_memory.load(), 0);
}

// --- Information items -----------------------------------------------------------------

TEST(InfoItems, SlotsAreStoredAndUnknownSlotsSkipped) {
  CmdSeqConn t;
  t.sconn.item(67, le32(7) + Bytes{3})
      .item(67, le32(9) + Bytes{30})
      .item(67, le32(5) + Bytes{17});
  t.sconn.item(0).sync();
  std::uint32_t three = 0, flags = 0, unused = 99;
  std::uint32_t* slots[kInfoSlots] = {};
  slots[3] = &three;
  slots[17] = &flags;
  slots[24] = &unused;
  EXPECT_EQ(i_cs_ReceiveAllInfo(t.conn, &t.err, slots), CMDSEQ_OK);
  EXPECT_EQ(three, 7u);
  EXPECT_EQ(flags, 5u);
  EXPECT_EQ(unused, 99u);
}

TEST(InfoItems, MalformedItemsAreProtocolErrors) {
  struct Case {
    const char* name;
    Bytes wire;
  };
  const Case kCases[] = {
      {"64-bit item where only 32-bit slots are read", {10, 68, 1, 0, 0, 0, 0, 0, 0, 0, 3}},
      {"32-bit item cut short", {5, 67, 1, 0, 0, 0}},
      {"an item of another kind", {1, 66}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    CmdSeqConn t;
    a_cmdseq_return r = i_cs_StartRequest(t.conn, &t.err);
    ASSERT_EQ(r, CMDSEQ_OK);
    t.sconn.wire(c.wire.data(), c.wire.size()).item(0).sync();
    std::uint32_t* slots[kInfoSlots] = {};
    r = i_cs_ReceiveAllInfo(t.conn, &t.err, slots);
    EXPECT_EQ(r, CMDSEQ_PROTOCOL_ERROR);
    EXPECT_EQ(i_cs_EndRequest(t.conn, &t.err, r), CMDSEQ_PROTOCOL_ERROR);
    EXPECT_EQ(t.sconn.resyncs, 1);
    EXPECT_TRUE(t.sconn.script_done());
  }
}

TEST(InfoItems, WideItemWhereAllowed) {
  // The second value's low word has its top bit set: it must not reach the high word.
  for (std::uint64_t v : {0x123456789ull, 0x180000000ull, 0xFFFFFFFFull}) {
    SCOPED_TRACE(v);
    CmdSeqConn t;
    t.sconn.item(68, le64(v) + Bytes{4});
    std::uint32_t slot = 0, value = 0;
    std::uint64_t wide = 0;
    bool end = false;
    EXPECT_EQ(i_cs_ReceiveMixedInfo(t.conn, &t.err, &slot, &value, &wide, &end), CMDSEQ_OK);
    EXPECT_EQ(wide, v);
    EXPECT_EQ(value, static_cast<std::uint32_t>(v));
    EXPECT_EQ(slot, 4u);
    EXPECT_FALSE(end);
  }
}

TEST(InfoItems, CloseFlagsMarkCursorsClosed) {
  CmdSeqConn t;
  std::uint32_t closed = 7;
  i_cs_ProcessNonZeroInfoFlags(t.conn, CS_INFO_FLUSH_ALL, &closed, nullptr);
  EXPECT_EQ(closed, 0u);
  i_cs_ProcessNonZeroInfoFlags(t.conn, CS_INFO_CLOSE_OPEN, &closed, nullptr);
  EXPECT_EQ(closed, 1u);
  i_cs_ProcessNonZeroInfoFlags(t.conn, CS_INFO_CLOSE_ALL | CS_INFO_MORE_WORK, &closed, nullptr);
  EXPECT_EQ(closed, 1u);
}

TEST(EndOfData, ErrorRecordFollowsOnlyWhenFlagged) {
  CmdSeqConn t;
  EXPECT_EQ(i_cs_ProcessEndData(0, &t.err, t.conn), CMDSEQ_OK);
  EXPECT_TRUE(t.sconn.script_done());

  i_cs_SetErrorInfo(&t.err, -1000);  // the end-of-data record overwrites whatever is stored
  i_cs_SetErrorParam(&t.err, "stale");
  t.sconn.item(65, error_record(100, "02000", "00000", "00000")).item(0);
  EXPECT_EQ(i_cs_ProcessEndData(1, &t.err, t.conn), CMDSEQ_OK);
  EXPECT_EQ(t.err.sqlcode, 100);
  EXPECT_STREQ(t.err.server_state, "02000");
  EXPECT_TRUE(t.params().empty());

  t.sconn.item(66);
  EXPECT_EQ(i_cs_ProcessEndData(1, &t.err, t.conn), CMDSEQ_PROTOCOL_ERROR);
}

// --- Presentation failures ---------------------------------------------------------------

struct FailureCase {
  const char* name;
  a_sqlpres_code code;
  int indication;
  std::function<void(a_strm_conn_rec&)> after;  // what follows the failure in the script
  a_cmdseq_return result;
  int sqlcode;
  bool connected;
  int disconnects;
  int discon_responses;
};

TEST(PresentationFailures, MapToResultsAndSettleTheConnection) {
  const FailureCase kCases[] = {
      {"protocol failure", 2, 0, nullptr, 2, -308, false, 1, 0},
      {"notifier gave up", 5, 0, nullptr, 2, -308, false, 1, 0},
      {"dead, server asked to disconnect", 4, 2, nullptr, 2, -308, false, 0, 1},
      {"dead", 4, 7, nullptr, 2, 0, false, 1, 0},
      {"dead, other indication: the stream is still closed", 4, 0, nullptr, 2, 0, false, 1, 0},
      {"cancelled", 6, 0, nullptr, 8, -299, true, 0, 0},
      {"server closed, with its reason", 7, 0,
       [](a_strm_conn_rec& s) { s.item(65, Rec(-1200)).item(135, "bye").item(0).item(0); }, 9,
       -1200, false, 1, 0},
      {"server closed, no reason", 7, 0, [](a_strm_conn_rec& s) { s.item(66); }, 9, -300, false,
       1, 0},
      {"server closed, the reason cut off", 7, 0, nullptr, 9, -300, false, 1, 0},
      {"encryption failure", 8, 0, nullptr, 10, -829, true, 0, 0},
      {"unknown code: the stream is still closed", 3, 0, nullptr, 2, 0, false, 1, 0},
  };
  for (const FailureCase& c : kCases) {
    SCOPED_TRACE(c.name);
    CmdSeqConn t;
    t.sconn.indication = c.indication;
    if (c.code == SQLPRES_SERVER_CLOSED) {
      t.sconn.item(64);
    } else {
      t.sconn.fail(c.code);
    }
    if (c.after) c.after(t.sconn);
    EXPECT_EQ(t.status_request(), c.result);
    EXPECT_EQ(t.err.sqlcode, c.sqlcode);
    EXPECT_EQ(t.connected(), c.connected);
    EXPECT_EQ(t.sconn.disconnects, c.disconnects);
    EXPECT_EQ(t.sconn.discon_responses, c.discon_responses);
    EXPECT_EQ(t.conn->in_request.load(), 0u);
    if (!c.connected) {
      // A removed connection refuses the next request without touching the stream.
      const std::size_t sent = t.sconn.sent.size();
      EXPECT_EQ(t.status_request(), CMDSEQ_NOT_CONNECTED);
      EXPECT_EQ(t.sconn.sent.size(), sent);
    }
  }
}

TEST(PresentationFailures, AnErrorAlreadyStoredStays) {
  CmdSeqConn t;
  i_cs_SetErrorInfo(&t.err, -1000);
  t.sconn.fail(SQLPRES_FAILED);
  EXPECT_EQ(t.status_request(), CMDSEQ_NOT_CONNECTED);
  EXPECT_EQ(t.err.sqlcode, -1000);
}

TEST(PresentationFailures, SyncPointFailureEndsTheRequest) {
  CmdSeqConn t;
  t.sconn.sync_result = SQLPRES_ENCRYPT_FAILED;
  EXPECT_EQ(t.status_request(), CMDSEQ_COMM_FAILURE);
  EXPECT_EQ(t.err.sqlcode, -829);
  EXPECT_EQ(t.conn->in_request.load(), 0u);
}

TEST(Requests, NotConnectedTouchesNothing) {
  CmdSeqConn t;
  t.conn->status &= static_cast<std::uint8_t>(~CS_STATUS_CONNECTED);
  EXPECT_EQ(i_cs_StartRequest(t.conn, &t.err), CMDSEQ_NOT_CONNECTED);
  EXPECT_TRUE(t.sconn.sent.empty());
  t.conn->status |= CS_STATUS_CONNECTED;
}

TEST(Requests, RoadClearsNoWorkAndEndsTheRequest) {
  CmdSeqConn t;
  t.conn->status |= CS_STATUS_NO_WORK;
  t.sconn.item(66).sync();
  EXPECT_EQ(t.status_request(), CMDSEQ_OK);
  EXPECT_EQ(t.conn->status & CS_STATUS_NO_WORK, 0);
  EXPECT_EQ(t.sconn.fini_requests, 1);
  ASSERT_EQ(t.sconn.sent.size(), 2u);
  EXPECT_EQ(t.sconn.sent[0].code, 7);
  EXPECT_EQ(t.sconn.sent[1].code, -1);  // the sync point
}

TEST(Requests, OutOfMemoryFailsEveryRequestAndDropsTheConnection) {
  CmdSeqConn t;
  t.env.out_of_memory.store(1);
  EXPECT_EQ(t.status_request(), CMDSEQ_NO_MEMORY);
  EXPECT_EQ(t.err.sqlcode, -876);
  EXPECT_FALSE(t.connected());
  EXPECT_EQ(t.sconn.disconnects, 1);
  EXPECT_TRUE(t.sconn.sent.empty());
}

// --- Cancel --------------------------------------------------------------------------------

TEST(Cancel, DuringTheReplyTheRequestIsCancelled) {
  CmdSeqConn t;
  t.sconn.ack = a_strm_conn_rec::Ack::kAtOnce;
  t.sconn.item(66).item(67, le32(1) + Bytes{2}).item(0).sync();
  t.sconn.item(66).sync();  // the next request
  ASSERT_EQ(i_cs_StartRequest(t.conn, &t.err), CMDSEQ_OK);
  ASSERT_EQ(i_cs_SendRequest(t.conn, &t.err), CMDSEQ_OK);
  int sent = 0;
  EXPECT_EQ(CmdSeqCancel(t.conn, &t.err, &sent), CMDSEQ_OK);
  EXPECT_EQ(sent, 1);
  const a_cmdseq_return r = i_cs_ReceiveSuccessOrError(t.conn, &t.err);
  EXPECT_EQ(i_cs_EndRequest(t.conn, &t.err, r), CMDSEQ_CANCELLED);
  EXPECT_EQ(t.err.sqlcode, -299);
  EXPECT_EQ(t.conn->cancel_bits.load(), 0u);
  EXPECT_TRUE(t.connected());
  CmdSeqResetErrorParam(&t.err, t.conn);
  EXPECT_EQ(t.status_request(), CMDSEQ_OK);
  EXPECT_TRUE(t.sconn.script_done());
}

struct LateCancelCase {
  const char* name;
  std::function<void(a_strm_conn_rec&)> reply;
  a_cmdseq_return result;
  int sqlcode;
};

TEST(Cancel, ArrivingAfterTheReplyNeverUndoesTheRequest) {
  const LateCancelCase kCases[] = {
      {"success stays success", [](a_strm_conn_rec& s) { s.item(66); }, 0, 0},
      {"an error reply keeps its error",
       [](a_strm_conn_rec& s) { s.item(65, Rec(-1000)).item(0).item(0); }, 4, -1000},
      {"a warning reply keeps its warning",
       [](a_strm_conn_rec& s) { s.item(65, Rec(101)).item(0).item(0); }, 5, 101},
  };
  for (const LateCancelCase& c : kCases) {
    SCOPED_TRACE(c.name);
    CmdSeqConn t;
    t.sconn.ack = a_strm_conn_rec::Ack::kAfterReply;
    c.reply(t.sconn);
    t.sconn.sync();
    t.sconn.item(66).sync();  // the next request
    ASSERT_EQ(i_cs_StartRequest(t.conn, &t.err), CMDSEQ_OK);
    ASSERT_EQ(i_cs_SendRequest(t.conn, &t.err), CMDSEQ_OK);
    const a_cmdseq_return status = i_cs_ReceiveSuccessOrError(t.conn, &t.err);
    int sent = 0;
    CmdSeqCancel(t.conn, &t.err, &sent);  // the reply is complete; the request not yet ended
    EXPECT_EQ(sent, 1);
    EXPECT_EQ(i_cs_EndRequest(t.conn, &t.err, status), c.result);
    EXPECT_EQ(t.err.sqlcode, c.sqlcode);
    EXPECT_FALSE(t.sconn.attention_pending());  // the acknowledgement was drained
    EXPECT_EQ(t.conn->cancel_bits.load(), 0u);
    CmdSeqResetErrorParam(&t.err, t.conn);
    EXPECT_EQ(t.status_request(), CMDSEQ_OK);
    EXPECT_TRUE(t.sconn.script_done());
  }
}

TEST(Cancel, NothingHappensWithoutARequestOrWithOnePending) {
  CmdSeqConn t;
  int sent = 7;
  EXPECT_EQ(CmdSeqCancel(t.conn, &t.err, &sent), CMDSEQ_OK);
  EXPECT_EQ(sent, 0);
  EXPECT_EQ(t.sconn.cancels(), 0);

  t.conn->in_request.store(1);
  t.conn->cancel_bits.store(CS_CANCEL_TO_DRAIN);
  EXPECT_EQ(CmdSeqCancel(t.conn, &t.err, &sent), CMDSEQ_OK);
  EXPECT_EQ(sent, 0);
  EXPECT_EQ(t.sconn.cancels(), 0);
  EXPECT_EQ(t.conn->cancel_bits.load(), CS_CANCEL_TO_DRAIN);
  t.conn->cancel_bits.store(0);
  t.conn->in_request.store(0);
}

TEST(Cancel, AFailedAttentionLeavesNothingToDrain) {
  CmdSeqConn t;
  t.sconn.cancel_result = SQLPRES_FAILED;
  t.sconn.item(66).sync();
  ASSERT_EQ(i_cs_StartRequest(t.conn, &t.err), CMDSEQ_OK);
  ASSERT_EQ(i_cs_SendRequest(t.conn, &t.err), CMDSEQ_OK);
  int sent = 7;
  CmdSeqCancel(t.conn, &t.err, &sent);
  EXPECT_EQ(sent, 0);
  EXPECT_EQ(t.conn->cancel_bits.load(), 0u);
  const a_cmdseq_return r = i_cs_ReceiveSuccessOrError(t.conn, &t.err);
  EXPECT_EQ(i_cs_EndRequest(t.conn, &t.err, r), CMDSEQ_OK);
  EXPECT_TRUE(t.sconn.script_done());
}

TEST(Cancel, ALateAcknowledgementThatNeverComesLosesTheConnection) {
  CmdSeqConn t;
  t.sconn.ack = a_strm_conn_rec::Ack::kAfterReply;
  t.sconn.item(66).sync().item(66).sync();
  ASSERT_EQ(i_cs_StartRequest(t.conn, &t.err), CMDSEQ_OK);
  ASSERT_EQ(i_cs_SendRequest(t.conn, &t.err), CMDSEQ_OK);
  const a_cmdseq_return status = i_cs_ReceiveSuccessOrError(t.conn, &t.err);
  // The attention bit is set, but the stack never saw an attention: an item arrives
  // where the acknowledgement should be.
  t.conn->cancel_bits.store(CS_CANCEL_TO_DRAIN);
  EXPECT_EQ(i_cs_EndRequest(t.conn, &t.err, status), CMDSEQ_NOT_CONNECTED);
  EXPECT_FALSE(t.connected());
  EXPECT_EQ(t.sconn.disconnects, 1);
}

TEST(Cancel, ProtocolErrorWithAnAttentionOutstandingEndsCancelled) {
  CmdSeqConn t;
  t.sconn.ack = a_strm_conn_rec::Ack::kAfterReply;
  t.sconn.item(67).item(0).sync();
  ASSERT_EQ(i_cs_StartRequest(t.conn, &t.err), CMDSEQ_OK);
  ASSERT_EQ(i_cs_SendRequest(t.conn, &t.err), CMDSEQ_OK);
  int sent = 0;
  CmdSeqCancel(t.conn, &t.err, &sent);
  const a_cmdseq_return r = i_cs_ReceiveSuccessOrError(t.conn, &t.err);
  EXPECT_EQ(r, CMDSEQ_PROTOCOL_ERROR);
  EXPECT_EQ(i_cs_EndRequest(t.conn, &t.err, r), CMDSEQ_CANCELLED);
  EXPECT_EQ(t.conn->cancel_bits.load(), 0u);
  EXPECT_FALSE(t.sconn.attention_pending());
}

// --- Stream codes ----------------------------------------------------------------------

TEST(StreamCodes, MapToTheirRowsAndParameters) {
  struct Case {
    int code;
    int sqlcode;
    Strings params;
  };
  const Case kCases[] = {
      {-1, -80, {}},  {0, 0, {}},        {2, -82, {""}},    {3, -83, {}},
      {4, -86, {}},   {6, -85, {}},      {7, -87, {}},      {8, -88, {}},
      {12, -840, {}}, {13, -934, {""}},  {14, -84, {}},     {15, -935, {""}},
      {16, -816, {}}, {17, -1033, {}},   {18, -1179, {}},   {20, -105, {"20"}},
      {255, -81, {}}, {99, -82, {"99"}}, {-7, -82, {"-7"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.code);
    CmdSeqConn t;  // the environment has no message strings: parameters are the arguments
    i_cs_MapReturnCode(&t.env, c.code, &t.err);
    EXPECT_EQ(t.err.sqlcode, c.sqlcode);
    EXPECT_EQ(t.params(), c.params);
  }
}

}  // namespace
