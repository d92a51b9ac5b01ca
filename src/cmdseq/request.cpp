// The request and reply core (see request.h).
#include "cmdseq/request.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "cmdseq/cursor.h"
#include "cmdseq/request_log.h"
#include "cmdseq/wire_bytes.h"
#include "streams/stream_api.h"
#include "utils/base/memory.h"
#include "utils/locale/lang_string.h"

using vq::cmdseq::load_le32;
using vq::cmdseq::load_le64;

namespace {

// How long the request thread sleeps between looks at a cancel still being sent.
constexpr auto kCancelSendPoll = std::chrono::milliseconds(10);

// Message 13794 ("Communication diagnostic in %1") with the function and the code, in
// the connection's request log when logging is on.
void log_diagnostic(a_cmdseq_conn* conn, const char* function, unsigned code) {
  if (!CmdSeqCheckDebug(conn->attrib)) return;
  char number[16];
  std::snprintf(number, sizeof number, "%u", code);
  CmdSeqPrtMsgId(conn->attrib, 13794, function, number);
}

bool out_of_memory(const a_cmdseq_conn* conn) {
  return conn->env != nullptr && conn->env->out_of_memory.load() != 0;
}

// Closes the stream of a connection that is still in service and takes it out of
// service. Later failures on the same connection find it removed and leave it alone.
void disconnect_and_remove(a_cmdseq_conn* conn, bool answer_server) {
  if ((conn->status & CS_STATUS_CONNECTED) == 0) return;
  if (answer_server) {
    StrmDisconResponse(conn->strm_conn);
  } else {
    StrmDisconnect(conn->strm_conn);
  }
  i_cs_RemoveConnection(conn);
}

// Copies a short text payload into a new zero-terminated string; null when memory is short.
char* copy_text(const a_cs_item& item) {
  const std::uint32_t n = item.payload_bytes();
  auto* text = static_cast<char*>(ut_malloc(n + 1));
  if (text == nullptr) return nullptr;
  if (n != 0) std::memcpy(text, item.payload, n);
  text[n] = '\0';
  return text;
}

bool error_replaces(std::int32_t stored, std::int32_t incoming) {
  if (stored < 0) return false;
  if (stored > 0 && incoming >= 0) return false;
  return true;
}

void drop_params(a_cmdseq_error_info* err) {
  CmdSeqFreeStrList(err->params);
  err->params = nullptr;
}

}  // namespace

// --- Severity ------------------------------------------------------------------------------

a_cmdseq_return i_cs_MoreSevereError(a_cmdseq_return current, a_cmdseq_return incoming) {
  auto fatal = [](a_cmdseq_return r) {
    return r == CMDSEQ_NOT_CONNECTED || r == CMDSEQ_SERVER_CLOSED || r == CMDSEQ_NO_MEMORY;
  };
  if (current == CMDSEQ_OK || current == incoming) return incoming;
  if (fatal(incoming)) return incoming;
  if (current == CMDSEQ_WARNING && incoming == CMDSEQ_ERROR) return CMDSEQ_ERROR;
  if (incoming == CMDSEQ_OK) return current;
  if (fatal(current)) return current;
  if (current == CMDSEQ_ERROR && incoming == CMDSEQ_WARNING) return CMDSEQ_ERROR;
  if (current == CMDSEQ_PROTOCOL_ERROR || incoming == CMDSEQ_PROTOCOL_ERROR) {
    return CMDSEQ_PROTOCOL_ERROR;
  }
  if (current == CMDSEQ_FAILED || incoming == CMDSEQ_FAILED) return CMDSEQ_FAILED;
  if (current == CMDSEQ_CANCELLED || incoming == CMDSEQ_CANCELLED) return CMDSEQ_CANCELLED;
  return current;
}

// --- The road of one request -----------------------------------------------------------------

a_cmdseq_return i_cs_StartRequest(a_cmdseq_conn* conn, a_cmdseq_error_info* err) {
  if ((conn->status & CS_STATUS_CONNECTED) == 0) return CMDSEQ_NOT_CONNECTED;
  conn->status &= static_cast<std::uint8_t>(~CS_STATUS_NO_WORK);
  conn->in_request.store(1);
  const a_cmdseq_return result = i_cs_PreRequestPrefetchProcessing(conn, err, false);
  if (result == CMDSEQ_OK) return CMDSEQ_OK;
  return i_cs_FiniRequest(conn, i_cs_ReSyncIfProtocolError(conn, result, err));
}

a_cmdseq_return i_cs_SendRequest(a_cmdseq_conn* conn, a_cmdseq_error_info* err) {
  const a_sqlpres_code code = SQLPresSyncPoint(conn->strm_conn, 0, 0);
  if (code != SQLPRES_OK) return i_cs_HandleSQLPresError(conn, code, err);
  return CMDSEQ_OK;
}

a_cmdseq_return i_cs_EndRequest(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                a_cmdseq_return result) {
  if (!i_cs_ReplyRead(result)) {
    return i_cs_FiniRequest(conn, i_cs_ReSyncIfProtocolError(conn, result, err));
  }
  return i_cs_FiniRequest(conn, i_cs_VerifyIsSyncPoint(conn, result, err));
}

a_cmdseq_return i_cs_PreRequestPrefetchProcessing(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                                  bool /*keep_rows*/) {
  if (out_of_memory(conn)) return i_cs_OutOfMemoryConn(conn, err);
  const a_cmdseq_return result = i_cs_AlignCursors(conn, err);
  if (result != CMDSEQ_OK) return result;
  return i_cs_ClearPrefetchPending(conn, err, true);
}

// --- Reply items -------------------------------------------------------------------------

a_cmdseq_return i_cs_ReceiveItem(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                 a_cs_item* item) {
  *item = a_cs_item{};
  const a_sqlpres_code code =
      SQLPresReceive(conn->strm_conn, &item->code, &item->length, &item->payload);
  if (code != SQLPRES_OK) return i_cs_HandleSQLPresError(conn, code, err);
  return CMDSEQ_OK;
}

a_cmdseq_return i_cs_ReceiveLongText(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                     char** text) {
  *text = nullptr;
  std::uint32_t total = 0;
  a_sqlpres_code code = SQLPresReceiveBegin(conn->strm_conn, &total);
  if (code != SQLPRES_OK) return i_cs_HandleSQLPresError(conn, code, err);
  // The total comes from the server: keep at most the cap and skip the rest.
  const std::uint32_t keep = total < kMaxReplyTextBytes ? total : kMaxReplyTextBytes;
  auto* buffer = static_cast<char*>(ut_malloc(static_cast<std::size_t>(keep) + 1));
  if (buffer != nullptr) {
    std::uint32_t got = 0;
    auto* dest = reinterpret_cast<std::uint8_t*>(buffer);
    while (got < keep) {
      const std::uint32_t n = SQLPresReceivePieceSafe(conn->strm_conn, &dest, keep - got);
      if (n == 0 || n > keep - got) break;
      got += n;
    }
    buffer[got] = '\0';
  }
  code = SQLPresReceiveEnd(conn->strm_conn);
  if (code != SQLPRES_OK) {
    ut_free(buffer);
    return i_cs_HandleSQLPresError(conn, code, err);
  }
  *text = buffer;
  return CMDSEQ_OK;
}

a_cmdseq_return i_cs_ReceiveSuccessOrError(a_cmdseq_conn* conn, a_cmdseq_error_info* err) {
  a_cs_item item;
  const a_cmdseq_return result = i_cs_ReceiveItem(conn, err, &item);
  if (result != CMDSEQ_OK) return result;
  if (item.code == CS_ITEM_SUCCESS) return CMDSEQ_OK;
  if (item.code == CS_ITEM_ERROR) return i_cs_ReceiveError(conn, err, item);
  return i_cs_ProtocolError(conn);
}

a_cmdseq_return i_cs_ReceiveError(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                  const a_cs_item& record) {
  a_cs_item item = record;
  bool first = true;
  for (;;) {
    // `item` is an error record.
    if (item.payload_bytes() < kErrorRecordBytes) return i_cs_ProtocolError(conn);
    const std::uint8_t* p = item.payload;
    const auto sqlcode = static_cast<std::int32_t>(load_le32(p));
    bool taken;
    if (first && (conn->status & CS_STATUS_WATCH_111) != 0 && sqlcode == 111) {
      taken = false;
      conn->status |= CS_STATUS_SAW_111;
    } else {
      taken = error_replaces(err->sqlcode, sqlcode);
    }
    first = false;
    // A taken record replaces the stored code, states, text and parameters as a whole,
    // so no text or parameter of an earlier error is left beside it.
    if (taken) {
      char states[3][6];
      for (int i = 0; i < 3; ++i) {
        std::memcpy(states[i], p + 4 + 5 * i, 5);
        states[i][5] = '\0';
      }
      i_cs_ForceErrorInfo(err, sqlcode, states[0], states[1], states[2]);
    }

    a_cmdseq_return result = i_cs_ReceiveItem(conn, err, &item);
    if (result != CMDSEQ_OK) {
      if (taken) drop_params(err);
      return result;
    }
    if (item.code == CS_ITEM_MESSAGE) {
      char* text = nullptr;
      if (item.is_long()) {
        result = i_cs_ReceiveLongText(conn, err, &text);
        if (result != CMDSEQ_OK) {
          if (taken) drop_params(err);
          return result;
        }
      } else {
        text = copy_text(item);  // null when memory is short: the block has no text
      }
      if (taken) {
        ut_free(err->message);
        err->message = text;
      } else {
        ut_free(text);
      }
      result = i_cs_ReceiveItem(conn, err, &item);
      if (result != CMDSEQ_OK) {
        if (taken) drop_params(err);
        return result;
      }
    }
    while (item.code == CS_ITEM_PARAM) {
      if (item.is_long()) {
        // A long parameter is read whole (up to the cap) so the items of its value never
        // stand where the grammar expects the next parameter or the record's end.
        char* text = nullptr;
        result = i_cs_ReceiveLongText(conn, err, &text);
        if (result != CMDSEQ_OK) {
          if (taken) drop_params(err);
          return result;
        }
        const bool kept = !taken || (text != nullptr && i_cs_SetErrorParam(err, text));
        ut_free(text);
        if (!kept) {
          drop_params(err);
          return i_cs_OutOfMemoryConn(conn, err);
        }
      } else if (taken &&
                 !i_cs_SetErrorParamN(
                     err,
                     item.payload != nullptr ? reinterpret_cast<const char*>(item.payload) : "",
                     item.payload_bytes())) {
        drop_params(err);
        return i_cs_OutOfMemoryConn(conn, err);
      }
      result = i_cs_ReceiveItem(conn, err, &item);
      if (result != CMDSEQ_OK) {
        if (taken) drop_params(err);
        return result;
      }
    }
    if (item.code != CS_ITEM_END) {
      if (taken) drop_params(err);
      return i_cs_ProtocolError(conn);
    }
    result = i_cs_ReceiveItem(conn, err, &item);
    if (result != CMDSEQ_OK) return result;
    if (item.code == CS_ITEM_END) break;
    if (item.code != CS_ITEM_ERROR) return i_cs_ProtocolError(conn);
  }
  return i_cs_ResultOfSQLCode(err);
}

a_cmdseq_return i_cs_ReceiveMixedInfo(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                      std::uint32_t* slot, std::uint32_t* value,
                                      std::uint64_t* wide, bool* end) {
  *end = false;
  a_cs_item item;
  const a_cmdseq_return result = i_cs_ReceiveItem(conn, err, &item);
  if (result != CMDSEQ_OK) return result;
  switch (item.code) {
    case CS_ITEM_END:
      *end = true;
      return CMDSEQ_OK;
    case CS_ITEM_INFO32:
      if (item.payload_bytes() < 5) return i_cs_ProtocolError(conn);
      *value = load_le32(item.payload);
      *slot = item.payload[4];
      if (wide != nullptr) *wide = *value;
      return CMDSEQ_OK;
    case CS_ITEM_INFO64:
      if (wide == nullptr || item.payload_bytes() < 9) return i_cs_ProtocolError(conn);
      *wide = load_le64(item.payload);
      *value = static_cast<std::uint32_t>(*wide);
      *slot = item.payload[8];
      return CMDSEQ_OK;
    default:
      return i_cs_ProtocolError(conn);
  }
}

a_cmdseq_return i_cs_ReceiveAllInfo(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                    std::uint32_t* const slots[kInfoSlots]) {
  for (;;) {
    std::uint32_t slot = 0;
    std::uint32_t value = 0;
    bool end = false;
    const a_cmdseq_return result =
        i_cs_ReceiveMixedInfo(conn, err, &slot, &value, nullptr, &end);
    if (result != CMDSEQ_OK || end) return result;
    if (slot < kInfoSlots && slots != nullptr && slots[slot] != nullptr) *slots[slot] = value;
  }
}

void i_cs_ProcessNonZeroInfoFlags(a_cmdseq_conn* conn, std::uint32_t flags,
                                  std::uint32_t* cursors_closed, a_cmdseq_cursor* current) {
  if (cursors_closed != nullptr) *cursors_closed = 0;
  if ((flags & CS_INFO_FLUSH_ALL) != 0) i_cs_FlushFetchDataAllCursors(conn);
  if ((flags & (CS_INFO_CLOSE_OPEN | CS_INFO_CLOSE_ALL)) != 0) {
    i_cs_CloseCursors(conn, current, (flags & CS_INFO_CLOSE_ALL) != 0);
    if (cursors_closed != nullptr) *cursors_closed = 1;
  }
}

a_cmdseq_return i_cs_ProcessEndData(std::uint8_t flag, a_cmdseq_error_info* err,
                                    a_cmdseq_conn* conn) {
  if (flag == 0) return CMDSEQ_OK;
  a_cs_item item;
  a_cmdseq_return result = i_cs_ReceiveItem(conn, err, &item);
  if (result != CMDSEQ_OK) return result;
  if (item.code != CS_ITEM_ERROR || item.payload_bytes() < kErrorRecordBytes) {
    return i_cs_ProtocolError(conn);
  }
  char states[3][6];
  for (int i = 0; i < 3; ++i) {
    std::memcpy(states[i], item.payload + 4 + 5 * i, 5);
    states[i][5] = '\0';
  }
  i_cs_ForceErrorInfo(err, static_cast<std::int32_t>(load_le32(item.payload)), states[0],
                      states[1], states[2]);
  result = i_cs_ReceiveItem(conn, err, &item);  // the record's closing item
  if (result != CMDSEQ_OK) return result;
  if (item.code != CS_ITEM_END) return i_cs_ProtocolError(conn);
  return CMDSEQ_OK;
}

// --- Ending a reply and repairing the stream ---------------------------------------------

a_cmdseq_return i_cs_VerifyIsSyncPoint(a_cmdseq_conn* conn, a_cmdseq_return result,
                                       a_cmdseq_error_info* err) {
  if (i_cs_ReplyRead(result)) conn->clear_pending_info_reqs(err);
  a_sqlpres_code code = SQLPRES_OK;
  if (SQLPresIsSyncPoint(conn->strm_conn, &code)) return result;
  if (code != SQLPRES_OK) return i_cs_HandleSQLPresError(conn, code, err);
  // Items the grammar did not read are left: skip them so the next request starts at a
  // sync point.
  i_cs_ProtocolErrorP(conn);
  code = SQLPresReSync(conn->strm_conn, 1);
  if (code != SQLPRES_OK) return i_cs_HandleSQLPresError(conn, code, err);
  return CMDSEQ_PROTOCOL_ERROR;
}

a_cmdseq_return i_cs_ReSyncIfProtocolError(a_cmdseq_conn* conn, a_cmdseq_return result,
                                           a_cmdseq_error_info* err) {
  if (result != CMDSEQ_PROTOCOL_ERROR) return result;
  const a_sqlpres_code code = SQLPresReSync(conn->strm_conn, 1);
  if (code != SQLPRES_OK) return i_cs_HandleSQLPresError(conn, code, err);
  return CMDSEQ_PROTOCOL_ERROR;
}

int i_cs_ProtocolErrorP(a_cmdseq_conn* conn) {
  log_diagnostic(conn, "i_cs_ProtocolErrorP", 0);
  return StrmDumpComment(conn->strm_conn, "%s", "Protocol error");
}

a_cmdseq_return i_cs_ProtocolError(a_cmdseq_conn* conn) {
  i_cs_ProtocolErrorP(conn);
  return CMDSEQ_PROTOCOL_ERROR;
}

a_cmdseq_return i_cs_HandleSQLPresError(a_cmdseq_conn* conn, a_sqlpres_code code,
                                        a_cmdseq_error_info* err) {
  if (out_of_memory(conn)) return i_cs_OutOfMemoryConn(conn, err);
  if (code != SQLPRES_OK && code != SQLPRES_CANCELLED && code != SQLPRES_ENCRYPT_FAILED) {
    log_diagnostic(conn, "i_cs_HandleSQLPresError", code);
  }
  if (conn->closing) {
    // A failure while the server's last status is read: the closing connection is
    // settled by the handling of the close itself.
    conn->in_request.store(0);
    return CMDSEQ_NOT_CONNECTED;
  }
  switch (code) {
    case SQLPRES_OK:
      return i_cs_FiniRequest(conn, CMDSEQ_OK);
    case SQLPRES_FAILED:
    case SQLPRES_BLOCK_FAILED:
      conn->in_request.store(0);
      i_cs_SetErrorInfo(err, -308);
      disconnect_and_remove(conn, false);
      return CMDSEQ_NOT_CONNECTED;
    case SQLPRES_DEAD: {
      conn->in_request.store(0);
      const int indication = StrmGetInd(conn->strm_conn);
      log_diagnostic(conn, "StrmGetInd", static_cast<unsigned>(indication));
      // Indication 2: the server asked to disconnect, and is answered.
      const bool server_asked = indication == STRM_IND_LINK_CLOSED;
      if (server_asked) i_cs_SetErrorInfo(err, -308);
      // Whatever the indication, the stream is closed: a dead connection left open
      // would keep its resources until the environment goes.
      disconnect_and_remove(conn, server_asked);
      return CMDSEQ_NOT_CONNECTED;
    }
    case SQLPRES_CANCELLED: {
      conn->in_request.store(0);
      conn->cancel_bits.store(0);
      conn->resend_pending_info_reqs();
      i_cs_SetErrorInfo(err, -299);
      const a_cmdseq_return aligned = i_cs_AlignCursors(conn, err);
      return aligned != CMDSEQ_OK ? aligned : CMDSEQ_CANCELLED;
    }
    case SQLPRES_SERVER_CLOSED:
      conn->in_request.store(0);
      // The server's last status tells why; a failure while reading it finds the
      // connection closing and reads no further.
      if (!conn->closing && (conn->status & CS_STATUS_CONNECTED) != 0) {
        conn->closing = true;
        (void)i_cs_ReceiveSuccessOrError(conn, err);
        conn->closing = false;
      }
      disconnect_and_remove(conn, false);
      if (err->sqlcode == 0) i_cs_SetErrorInfo(err, -300);
      return CMDSEQ_SERVER_CLOSED;
    case SQLPRES_ENCRYPT_FAILED:
      conn->in_request.store(0);
      i_cs_SetErrorInfo(err, -829);
      return CMDSEQ_COMM_FAILURE;
    default:
      conn->in_request.store(0);
      disconnect_and_remove(conn, false);
      return CMDSEQ_NOT_CONNECTED;
  }
}

a_cmdseq_return i_cs_FiniRequest(a_cmdseq_conn* conn, a_cmdseq_return result) {
  if (result == CMDSEQ_NOT_CONNECTED || result == CMDSEQ_NO_MEMORY ||
      result == CMDSEQ_CANCELLED || result == CMDSEQ_SERVER_CLOSED) {
    return result;
  }
  if (out_of_memory(conn)) {
    a_cmdseq_error_info scratch;
    CmdSeqInitErrorParam(conn->env, &scratch, 0);
    result = i_cs_OutOfMemoryConn(conn, &scratch);
    CmdSeqFiniErrorParam(&scratch);
    return result;
  }
  SQLPresFiniRequest(conn->strm_conn);
  conn->in_request.store(0);
  if ((conn->cancel_bits.load() & CS_CANCEL_TO_DRAIN) == 0) return result;
  while ((conn->cancel_bits.load() & CS_CANCEL_SENDING) != 0) {
    std::this_thread::sleep_for(kCancelSendPoll);
  }
  if ((conn->cancel_bits.load() & CS_CANCEL_TO_DRAIN) == 0) return result;
  // The attention reached the server after its reply was complete: the request's work
  // is done (and may be committed), so its result stands. The acknowledgement is read
  // here so the next request starts clean.
  a_sqlpres_item ack{};
  const a_sqlpres_code code = SQLPresReceiveStruct(conn->strm_conn, &ack);
  conn->cancel_bits.fetch_and(~CS_CANCEL_TO_DRAIN);
  if (code == SQLPRES_CANCELLED) return result;
  // Anything but the acknowledgement leaves the stream out of step with the server.
  a_cmdseq_error_info scratch;
  CmdSeqInitErrorParam(conn->env, &scratch, 0);
  (void)i_cs_HandleSQLPresError(conn, code == SQLPRES_OK ? SQLPRES_FAILED : code, &scratch);
  CmdSeqFiniErrorParam(&scratch);
  conn->in_request.store(0);
  return CMDSEQ_NOT_CONNECTED;
}

// --- Cancel --------------------------------------------------------------------------------

a_cmdseq_return CmdSeqCancel(a_cmdseq_conn* conn, a_cmdseq_error_info*, int* sent) {
  if (sent != nullptr) *sent = 0;
  if ((conn->status & CS_STATUS_CONNECTED) == 0 || conn->in_request.load() == 0) {
    return CMDSEQ_OK;
  }
  std::uint32_t bits = conn->cancel_bits.load();
  do {
    if ((bits & CS_CANCEL_TO_DRAIN) != 0) return CMDSEQ_OK;  // a cancel is already pending
  } while (!conn->cancel_bits.compare_exchange_weak(
      bits, bits | CS_CANCEL_TO_DRAIN | CS_CANCEL_SENDING));
  if (conn->in_request.load() != 0) {
    if (SQLPresCancel(conn->strm_conn) != SQLPRES_OK) {
      conn->cancel_bits.fetch_and(~CS_CANCEL_TO_DRAIN);
    } else if (sent != nullptr) {
      *sent = 1;
    }
    // An attention that went out stays to be drained: the request thread, waiting for
    // this bit, reads its acknowledgement whether or not the request has ended since.
    conn->cancel_bits.fetch_and(~CS_CANCEL_SENDING);
  } else {
    // The request ended before anything was sent.
    conn->cancel_bits.fetch_and(~(CS_CANCEL_TO_DRAIN | CS_CANCEL_SENDING));
  }
  return CMDSEQ_OK;
}

// --- Errors from elsewhere -----------------------------------------------------------------

void i_cs_MapReturnCode(a_cmdseq_env* env, int stream_code, a_cmdseq_error_info* err) {
  struct Row {
    int stream_code;
    std::int32_t sqlcode;
  };
  static constexpr Row kRows[] = {{-1, -80},  {0, 0},     {2, -82},   {3, -83},    {4, -86},
                                  {6, -85},   {7, -87},   {8, -88},   {12, -840},  {13, -934},
                                  {14, -84},  {15, -935}, {16, -816}, {17, -1033}, {18, -1179},
                                  {20, -105}, {255, -81}};
  std::int32_t sqlcode = -82;
  bool known = false;
  for (const Row& row : kRows) {
    if (row.stream_code == stream_code) {
      sqlcode = row.sqlcode;
      known = true;
      break;
    }
  }
  if (sqlcode == 0) return;
  i_cs_SetErrorInfo(err, sqlcode);

  UTLangStringBase* strings = env != nullptr ? env->lang : nullptr;
  char number[16];
  char text[256];
  unsigned message = 0;
  const char* argument = nullptr;
  if (!known) {
    std::snprintf(number, sizeof number, "%d", stream_code);
    message = 11262;
    argument = number;
  } else if (stream_code == 2) {
    message = 11263;
  } else if (stream_code == 20) {
    std::snprintf(number, sizeof number, "%d", 20);
    message = 25229;
    argument = number;
  } else if (stream_code == 13 || stream_code == 15) {
    i_cs_SetErrorParam(err, "");
    return;
  } else {
    return;
  }
  text[0] = '\0';
  if (strings != nullptr) {
    strings->FormatMiscLangStr(message, text, sizeof text, argument);
  } else if (argument != nullptr) {
    std::snprintf(text, sizeof text, "%s", argument);
  }
  i_cs_SetErrorParam(err, text);
}

a_cmdseq_return i_cs_OutOfMemoryConn(a_cmdseq_conn* conn, a_cmdseq_error_info* err) {
  conn->in_request.store(0);
  i_cs_SetErrorInfo(err, -876);
  CmdSeqDropConnection(conn, err);
  return CMDSEQ_NO_MEMORY;
}
