// The request and reply core: the road every request takes, the reply items all
// requests share (status, error records, information items), presentation failures
// turned into results, resynchronisation after a protocol error, the end of a request,
// and cancel from another thread.
//
// A request is written as presentation items closed by a sync point; its reply is read
// up to the next sync point. All functions take the connection first and the caller's
// error block second (except where noted) and return a_cmdseq_return. Only CmdSeqCancel
// may run on another thread while a request is in flight.
#ifndef VQ_CMDSEQ_REQUEST_H
#define VQ_CMDSEQ_REQUEST_H

#include <cstdint>

#include "cmdseq/client.h"
#include "cmdseq/cmdseq_return.h"
#include "cmdseq/error_info.h"

// Reply item codes shared by all requests.
constexpr std::uint8_t CS_ITEM_END = 0;       // end of a list
constexpr std::uint8_t CS_ITEM_ERROR = 65;    // "A": an error record (19 bytes)
constexpr std::uint8_t CS_ITEM_SUCCESS = 66;  // "B": success
constexpr std::uint8_t CS_ITEM_INFO32 = 67;   // "C": u32 value, u8 slot
constexpr std::uint8_t CS_ITEM_INFO64 = 68;   // "D": u64 value (low word first), u8 slot
constexpr std::uint8_t CS_ITEM_END_OF_DATA = 132;
constexpr std::uint8_t CS_ITEM_PARAM = 134;    // one message parameter
constexpr std::uint8_t CS_ITEM_MESSAGE = 135;  // the message text of an error record

// Error record payload: i32 SQL code, then three five-character states.
constexpr unsigned kErrorRecordBytes = 4 + 5 + 5 + 5;
static_assert(kErrorRecordBytes == 19, "the error record is 19 bytes");

// Information slots: a request that wants some passes kInfoSlots pointers (null where it
// does not care). Slot 17 is the reply's information flags word.
constexpr unsigned kInfoSlots = 25;
constexpr unsigned kInfoFlagsSlot = 17;
constexpr std::uint32_t CS_INFO_DESCRIBE_FINAL = 0x01;
constexpr std::uint32_t CS_INFO_FLUSH_ALL = 0x02;
constexpr std::uint32_t CS_INFO_CLOSE_OPEN = 0x10;
constexpr std::uint32_t CS_INFO_CLOSE_ALL = 0x20;
constexpr std::uint32_t CS_INFO_MORE_WORK = 0x80;

// The longest text (message, parameter, name) the client keeps from one long item; the
// rest of a longer text is skipped. The length comes from the server and is never
// allocated as announced.
constexpr std::uint32_t kMaxReplyTextBytes = 64 * 1024;

// One received item. The payload stays valid until the next read of the connection.
struct a_cs_item {
  std::uint8_t code = 0;
  std::uint8_t length = 0;  // payload length, or 251..254 for the special lengths
  const std::uint8_t* payload = nullptr;

  bool is_long() const { return length == 251; }
  std::uint32_t payload_bytes() const {
    return payload != nullptr && length <= 250 ? length : 0;
  }
};

// --- The road of one request ------------------------------------------------------------

// Steps 1 to 3: result 2 when not connected (the stream is not touched); otherwise the
// no-work bit is cleared, the request is in flight and the prefetch is settled.
a_cmdseq_return i_cs_StartRequest(a_cmdseq_conn* conn, a_cmdseq_error_info* err);
// Step 5: closes the written request with a sync point.
a_cmdseq_return i_cs_SendRequest(a_cmdseq_conn* conn, a_cmdseq_error_info* err);
// Steps 7 and 8: ends the request after its reply was read with `result`.
a_cmdseq_return i_cs_EndRequest(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                a_cmdseq_return result);

// --- Reply items ----------------------------------------------------------------------

// Receives one item; a presentation failure goes to i_cs_HandleSQLPresError.
a_cmdseq_return i_cs_ReceiveItem(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                 a_cs_item* item);
// Reads a long text item (after its length byte 251) into a new zero-terminated heap
// string (*text; ut_free), keeping at most kMaxReplyTextBytes. *text stays null when
// memory is short; the text is then skipped.
a_cmdseq_return i_cs_ReceiveLongText(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                     char** text);
// Reads the status item of a reply: 0 for success, the error list's result for errors.
a_cmdseq_return i_cs_ReceiveSuccessOrError(a_cmdseq_conn* conn, a_cmdseq_error_info* err);
// Reads the rest of an error record list whose first record (the item's payload) was
// already received.
a_cmdseq_return i_cs_ReceiveError(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                  const a_cs_item& record);
// Reads one information item; *end is set by the end item. A 64-bit item is accepted
// only when `wide` is given.
a_cmdseq_return i_cs_ReceiveMixedInfo(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                      std::uint32_t* slot, std::uint32_t* value,
                                      std::uint64_t* wide, bool* end);
// Reads information items up to their end, storing each value whose slot is below 25
// and whose pointer is given.
a_cmdseq_return i_cs_ReceiveAllInfo(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                    std::uint32_t* const slots[kInfoSlots]);
// Acts on the information flags: flushes buffered rows, closes cursors. *cursors_closed
// is cleared, then set to 1 when cursors were closed.
void i_cs_ProcessNonZeroInfoFlags(a_cmdseq_conn* conn, std::uint32_t flags,
                                  std::uint32_t* cursors_closed, a_cmdseq_cursor* current);
// Reads the error record that follows an end-of-data item whose first payload byte is
// `flag` (0: none follows).
a_cmdseq_return i_cs_ProcessEndData(std::uint8_t flag, a_cmdseq_error_info* err,
                                    a_cmdseq_conn* conn);

// --- Ending a reply and repairing the stream -------------------------------------------

a_cmdseq_return i_cs_VerifyIsSyncPoint(a_cmdseq_conn* conn, a_cmdseq_return result,
                                       a_cmdseq_error_info* err);
a_cmdseq_return i_cs_ReSyncIfProtocolError(a_cmdseq_conn* conn, a_cmdseq_return result,
                                           a_cmdseq_error_info* err);
// Records a protocol error in the log and the packet dump; answers the dump call's result.
int i_cs_ProtocolErrorP(a_cmdseq_conn* conn);
// The same, answering result 3 (the stream is resynchronised by the caller).
a_cmdseq_return i_cs_ProtocolError(a_cmdseq_conn* conn);
a_cmdseq_return i_cs_HandleSQLPresError(a_cmdseq_conn* conn, a_sqlpres_code code,
                                        a_cmdseq_error_info* err);
a_cmdseq_return i_cs_PreRequestPrefetchProcessing(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                                  bool keep_rows);
a_cmdseq_return i_cs_FiniRequest(a_cmdseq_conn* conn, a_cmdseq_return result);

// Cancels the request running on the connection; callable from any thread without a
// lock. *sent is 1 when an attention went to the server. Always 0.
a_cmdseq_return CmdSeqCancel(a_cmdseq_conn* conn, a_cmdseq_error_info* err, int* sent);

// Fills an error block from a communication-stack result code.
void i_cs_MapReturnCode(a_cmdseq_env* env, int stream_code, a_cmdseq_error_info* err);
// Out of memory on a connection: error -876, the connection is dropped, result 6.
a_cmdseq_return i_cs_OutOfMemoryConn(a_cmdseq_conn* conn, a_cmdseq_error_info* err);

// --- Cursor work the replies ask for (cursor.cpp) ---------------------------------------
void i_cs_FlushFetchDataAllCursors(a_cmdseq_conn* conn);
// Closes the connection's cursors other than `current` (all of them, or only those with
// open flag 1); answers how many were closed.
unsigned i_cs_CloseCursors(a_cmdseq_conn* conn, a_cmdseq_cursor* current, bool all);
// Brings the client's cursors in line with the server (reads a prefetch still in flight).
a_cmdseq_return i_cs_AlignCursors(a_cmdseq_conn* conn, a_cmdseq_error_info* err);

#endif  // VQ_CMDSEQ_REQUEST_H
