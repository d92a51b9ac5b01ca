// A scripted presentation layer for the command-sequence tests: the session connection
// (a_strm_conn_rec) is a queue of reply entries (items, failures, sync points) that the
// SQLPres* receive functions hand out, and a record of every item the client sent.
//
// Items follow the presentation rules the client relies on: a length of 251 opens a
// long value whose item 192 (total), pieces 193 and item 194 follow in the queue; a
// sync point ends a reply; reading past a sync point reads the next reply, and so does
// reading after a request was sent. An attention
// sent with SQLPresCancel is acknowledged (result 6) either at once, dropping the rest
// of the reply, or after the current reply, as the test chooses.
//
// Only SQLPresCancel may be called from another thread; everything else runs on the
// request thread.
#ifndef VQ_TESTS_UNIT_CMDSEQ_PRES_DOUBLE_H
#define VQ_TESTS_UNIT_CMDSEQ_PRES_DOUBLE_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "streams/presentation.h"

using Bytes = std::vector<std::uint8_t>;

struct a_strm_conn_rec {
 public:
  enum class Ack { kAtOnce, kAfterReply };

  struct Entry {
    enum class Kind { kItem, kFail, kSync } kind = Kind::kItem;
    std::uint8_t code = 0;    // item code, or the failure's presentation code
    std::uint8_t length = 0;  // as the reader reports it (251..254 special)
    Bytes payload;
  };

  struct Sent {
    int code = -1;         // item code; -1 for a sync point
    Bytes bytes;           // payload (the whole value for a long value)
    bool is_long = false;  // sent as a long value
  };

  // --- Building the reply script ---------------------------------------------------------
  a_strm_conn_rec& item(std::uint8_t code, const Bytes& payload = {});
  a_strm_conn_rec& item(std::uint8_t code, const std::string& text);
  a_strm_conn_rec& special(std::uint8_t code, std::uint8_t length);  // 251..254, no payload
  // A long value: the item with length 251, item 192 with the total, pieces of at most
  // `piece` bytes, item 194. `announced` overrides the total in item 192.
  a_strm_conn_rec& long_item(std::uint8_t code, const Bytes& value, std::size_t piece = 250,
                             long long announced = -1);
  a_strm_conn_rec& fail(a_sqlpres_code code);
  a_strm_conn_rec& sync();
  // Items in their wire form: a length byte L (payload L - 1 bytes for L up to 251;
  // 252..255 special lengths), a code, the payload. Two notations of this double: a
  // length byte 0 followed by 0 is a sync point, followed by k > 0 a failure with
  // presentation code k. Bytes cut short end the script.
  a_strm_conn_rec& wire(const std::uint8_t* bytes, std::size_t n);

  // --- What happened ---------------------------------------------------------------------
  std::vector<Sent> sent;
  std::vector<std::string> dump_comments;
  int resyncs = 0;
  int sync_checks = 0;  // SQLPresIsSyncPoint calls
  // What SQLPresSyncPointArrived answers: false plays a reply still on its way.
  bool sync_arrived = true;
  int overruns = 0;  // receives past the end of the script
  int disconnects = 0;
  int discon_responses = 0;
  int fini_requests = 0;
  int short_skips = 0;  // runs of short items read in one look (SQLPresSkipShortItems)
  std::uint32_t bytes_received = 0;  // StrmGetBytesRecvUncomp
  // Every reply item was read (sync points may remain).
  bool script_done() const;
  std::size_t entries_left() const { return entries_.size(); }

  // --- Behaviour -------------------------------------------------------------------------
  a_sqlpres_code sync_result = SQLPRES_OK;  // answer of SQLPresSyncPoint
  long fail_send_at = -1;                   // index of the send call that fails
  a_sqlpres_code fail_send_code = SQLPRES_FAILED;
  int indication = 0;  // StrmGetInd
  Ack ack = Ack::kAtOnce;
  a_sqlpres_code cancel_result = SQLPRES_OK;
  // Runs inside SQLPresCancel, on the cancelling thread, before it answers.
  std::function<void()> on_cancel;
  int cancels() const;
  bool attention_pending() const;

  // --- Used by the SQLPres* functions ----------------------------------------------------
  a_sqlpres_code receive(std::uint8_t* code, std::uint8_t* length,
                         const std::uint8_t** payload);
  a_sqlpres_code receive_begin(std::uint32_t* total);
  std::uint32_t receive_piece(std::uint8_t** dest, std::uint32_t capacity);
  a_sqlpres_code receive_end();
  std::uint32_t peek_short(a_sqlpres_item* items, std::uint32_t max);
  a_sqlpres_code skip_short(std::uint32_t count);
  int is_sync_point(a_sqlpres_code* code);
  a_sqlpres_code resync(unsigned flag);
  a_sqlpres_code cancel();
  a_sqlpres_code send_call();  // counts a send call; answers its scripted result
  void start_reply();          // a request went out: reading starts at its reply
  long open_long = -1;         // index in `sent` of the long value being sent
  std::uint32_t open_long_left = 0;

 private:
  void drop_through_sync();
  bool take_ack();

  std::deque<Entry> entries_;
  Entry current_;  // the item handed out last (its payload stays valid until the next read)
  long send_calls_ = 0;
  // Long value being received.
  bool receiving_ = false;
  std::uint32_t remaining_ = 0;
  Bytes piece_;
  std::size_t piece_pos_ = 0;
  a_sqlpres_code last_error_ = SQLPRES_OK;
  // Attention state, shared with the cancelling thread.
  mutable std::mutex mutex_;
  bool attention_ = false;
  int cancels_ = 0;
};

// Payload helpers.
Bytes le16(std::uint16_t v);
Bytes le32(std::uint32_t v);
Bytes le64(std::uint64_t v);
Bytes operator+(Bytes a, const Bytes& b);
Bytes text_bytes(const std::string& s);
// An error record: i32 code and three five-character states.
Bytes error_record(std::int32_t sqlcode, const char* server, const char* odbc3,
                   const char* odbc2);

#endif  // VQ_TESTS_UNIT_CMDSEQ_PRES_DOUBLE_H
