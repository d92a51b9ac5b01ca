// The protocol of one client connection, without any I/O: the transport feeds
// the bytes it received and sends what take_output() hands back. A session
// reassembles packets, answers the name check and the app-connect packet, undoes
// scrambling and compression, collects the data packets of each message, and
// answers every message in one reply message (a prefetch in it gets a second
// one). Bad input closes the session with a reason.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app_connect.h"
#include "client_charset.h"
#include "compression.h"
#include "engine.h"
#include "items.h"
#include "kerberos_login.h"
#include "packet_reader.h"

namespace vqeng {

// One line per request item; the transport writes them to the request log.
using LogSink = std::function<void(const std::string&)>;
// Fills n bytes with fresh random bytes; false when none can be had.
using RandomSource = std::function<bool(std::uint8_t*, std::size_t)>;

constexpr std::uint32_t kNullHandle = 0;
// The largest Kerberos token taken from a client; a ticket with its authenticator
// is a few kilobytes at most.
constexpr std::size_t kMaxKerberosToken = 64 * 1024;
// A request that follows a prepare in the same message names the statement just
// prepared with this handle (or the null handle).
constexpr std::uint32_t kImplicitHandle = 0xFFFFFFFFu;

class Session {
 public:
  Session(const DatabaseConfig& cfg, std::uint32_t number, LogSink log, RandomSource random);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Takes received bytes. Packets are checked and whole messages queued; nothing
  // is executed here, so the transport may call it while a request runs.
  void feed(const std::uint8_t* data, std::size_t len);
  // Runs the queued messages and queues their replies.
  void run();
  // Bytes for the transport to send; empties the output.
  std::string take_output();
  // take_output() into `bytes`, whose storage (its contents dropped) the output keeps for
  // what comes next: a transport that passes the same string each time reuses two
  // buffers rather than growing a new one for every reply.
  void take_output(std::string& bytes);

  bool closed() const { return closed_; }
  // A fault made the connection go silent: nothing more goes out on it, liveness
  // packets included.
  bool silent() const { return silent_; }
  const std::string& close_reason() const { return close_reason_; }
  // Called by a running statement so that an attention can arrive meanwhile.
  void set_poll_hook(std::function<void()> hook) { poll_hook_ = std::move(hook); }
  // Sends what is in the output now: a request to the client in the middle of a
  // reply (a file transfer) must reach it before its answer can come.
  void set_flush_hook(std::function<void()> hook) { flush_hook_ = std::move(hook); }
  // Waits (bounded) for more bytes from the client and feeds them; false when
  // none came or the client went away.
  void set_wait_hook(std::function<bool()> hook) { wait_hook_ = std::move(hook); }
  // The link is shared memory: the client runs on this machine, and may ask for a
  // shutdown before it connects to the database (as a tool that stops the server does).
  void set_local(bool on) { local_ = on; }
  // Called when a client asks the server to shut down (request 8).
  void set_shutdown_hook(std::function<void()> hook) { shutdown_hook_ = std::move(hook); }
  // The peer closed its side: nothing more will come.
  void peer_closed();
  // The time for the app-connect exchange and the database connect has run out:
  // the session closes (with an error record once items can be sent).
  void login_timed_out(unsigned seconds);
  // Nothing came from the client within its liveness time-out: the session
  // closes, with nothing sent (the client is taken to be gone).
  void liveness_timed_out(unsigned seconds);
  // The server is full: the database connect is answered with SQL code -102
  // (the reason as its parameter) and the connection closed after the reply.
  void refuse_connect(const std::string& reason) { refuse_connect_ = reason; }
  // The transport can run TLS: a TLS level the client asks for is agreed. Off,
  // such a level is answered with level 0 (and the client refuses it).
  void offer_tls(bool on) { tls_offered_ = on; }
  // True once, after the app-connect reply that agreed a TLS level was queued:
  // the transport sends that reply as it is and then starts TLS.
  bool take_tls_start() {
    const bool start = tls_start_;
    tls_start_ = false;
    return start;
  }
  // TLS could not be started: the session closes, with nothing sent.
  void tls_failed(const std::string& why) { close("TLS not started: " + why); }

  std::uint32_t number() const { return number_; }
  bool connected() const { return state_ == State::Connected; }
  const AppConnectAgreement& agreement() const { return agreed_; }

 private:
  enum class State { AwaitAppConnect, AwaitConnect, Connected, Closed };
  using Bodies = std::vector<std::string>;

  void close(const std::string& reason);
  void log(const std::string& line);
  void on_packet(std::string& packet);
  void on_app_connect(const std::string& body);
  void send_packets(std::vector<std::string> packets);
  void send_attention_ack();
  void handle_message(const Bodies& bodies);
  bool dispatch(ItemReader& r, const Item& item, ItemWriter& w);

  // Reply pieces.
  void write_status(ItemWriter& w, const SqlError* e);
  void write_info(ItemWriter& w,
                  std::initializer_list<std::pair<std::uint8_t, std::uint32_t>> slots);
  // Records why a request is malformed and returns false; the message's run then
  // ends with an error record and closes the connection.
  bool protocol_error(const std::string& why);
  void end_with_error_record(ItemWriter& w, const std::string& reason);
  // Closes for a fault found in the packets; once the app-connect exchange is
  // done the peer first gets an error record saying why.
  void fail_connection(const std::string& reason);

  // Requests.
  bool on_connect(ItemReader& r, const Item& item, ItemWriter& w);
  // A Kerberos login: the client's next token, the end of the exchange, and the
  // end every connect shares (database check, engine, reply).
  bool on_kerberos_token(ItemReader& r, const Item& item, ItemWriter& w);
  void put_kerberos_token(ItemWriter& w, std::string token);
  bool kerberos_done(const KerberosStep& step, std::map<std::string, std::string>& kv,
                     ItemWriter& w);
  bool finish_connect(std::map<std::string, std::string>& kv, bool ok, SqlError err,
                      std::map<std::string, std::string>::const_iterator user, ItemWriter& w);
  void explain_refused_password(const std::string& cipher, const std::string& password);
  std::map<std::string, std::string>::const_iterator find_user(const std::string& uid) const;
  bool on_prepare(ItemReader& r, const Item& item, ItemWriter& w);
  bool on_validate(ItemReader& r, const Item& item, ItemWriter& w);
  bool on_describe(const Item& item, ItemWriter& w);
  bool on_execute(ItemReader& r, const Item& item, ItemWriter& w);
  bool on_exec_immediate(ItemReader& r, const Item& item, ItemWriter& w);
  bool on_open(ItemReader& r, const Item& item, ItemWriter& w);
  bool on_row_description(ItemReader& r, const Item& item);
  bool on_fetch(const Item& item, ItemWriter& w);
  bool on_prefetch(const Item& item);
  bool on_align(const Item& item);
  bool on_close(const Item& item, ItemWriter& w);
  bool on_close_by_name(ItemReader& r, const Item& item);
  bool on_transaction(const Item& item, ItemWriter& w);
  bool on_charset(const Item& item, ItemWriter& w);
  // Client text to the database's UTF-8 in place (statement text, parameter values);
  // false with -883 in `err` when it does not convert.
  bool text_to_db(std::string& text, SqlError& err) const;
  // False with -883 in `err` when a parameter value just read did not convert (the
  // values are converted as read_column_vars_and_rows reads them).
  bool params_converted(SqlError& err);
  // A result row in the client's set; false when a character has no form there.
  // Columns `wanted` as NCHAR stay UTF-8.
  bool row_to_client(const std::vector<Value>& row, std::vector<Value>& out,
                     const std::vector<WireType>* wanted = nullptr) const;
  // Names and messages in the client's set; a character with no form there becomes '?'.
  std::string text_to_client(const std::string& text) const;
  bool on_disconnect(ItemWriter& w);
  bool on_get_option(ItemReader& r, const Item& item, ItemWriter& w);
  bool on_set_option(ItemReader& r, const Item& item, ItemWriter& w);
  bool on_server_info(ItemReader& r, const Item& item, ItemWriter& w);
  bool on_text_request(ItemReader& r, const Item& item, ItemWriter& w);
  bool on_cursor_check(ItemReader& r, const Item& first, ItemWriter& w);
  bool on_pool(ItemReader& r, const Item& item, ItemWriter& w);
  bool on_database_control(ItemReader& r, const Item& item, ItemWriter& w);
  bool on_describe_cursor(const Item& item, ItemWriter& w);
  bool on_resume(const Item& item, ItemWriter& w);
  bool on_get_data(ItemReader& r, const Item& item, ItemWriter& w);
  bool on_put(ItemReader& r, const Item& item, ItemWriter& w);
  bool on_update(ItemReader& r, const Item& item, ItemWriter& w);
  bool on_delete(ItemReader& r, const Item& item, ItemWriter& w);
  bool on_explain(ItemReader& r, const Item& item, ItemWriter& w);
  // Pieces shared by the requests above.
  bool read_definition(ItemReader& r, WireType& t, const char* what);
  bool read_name_item(ItemReader& r, std::string& name, const char* what);
  void write_optional_value(ItemWriter& w, const Value* v, const WireType& t);
  void write_description(ItemWriter& w, const std::vector<ColumnDesc>& cols);
  bool on_shutdown(const Item& item, ItemWriter& w);
  bool read_column_vars_and_rows(ItemReader& r, std::vector<WireType>& col_vars,
                                 std::vector<std::vector<Value>>& rows);
  std::uint32_t resolve(std::uint32_t handle) const;

  // The fault mode: the rules of the script and of this connection, and what
  // the ones that fired do to the request and to the message's reply.
  void apply_faults(ItemReader& r, const Item& item, ItemWriter& w);
  std::string request_text(ItemReader r, const Item& item);
  bool on_fault_option(const std::string* value, std::string& why);
  bool send_reply(ItemWriter& w);  // false: the reply was swallowed or cut

  // Client files (client_files.cpp).
  bool client_file(bool write, const std::string& name, std::string& data, SqlError& err);
  bool file_exchange(const std::string& request_items, std::uint32_t handle,
                     std::uint8_t* status, std::uint64_t* length, std::string* data,
                     SqlError& err);
  bool await_answer(std::vector<std::string>& answer, SqlError& err);
  std::unique_ptr<KerberosContext> krb_;            // a Kerberos login in progress
  std::map<std::string, std::string> krb_connect_;  // its connect keys, secrets wiped
  std::uint32_t next_file_handle_ = 1;
  std::string pending_file_close_;  // close requests to lead the current request's reply
  std::function<void()> flush_hook_;
  std::function<bool()> wait_hook_;
  std::vector<unsigned> script_seen_;  // matches of each rule of the script
  std::vector<FaultRule> own_rules_;   // rules set on this connection
  std::vector<unsigned> own_seen_;
  std::optional<SqlError> status_override_;  // the next status of this request
  std::optional<std::pair<std::uint8_t, std::uint32_t>> info_override_;  // slot, value
  std::optional<std::pair<std::string, std::string>> redirect_;  // server name, parameters
  unsigned fault_delay_ms_ = 0;
  bool fault_drop_ = false, fault_corrupt_ = false, fault_hang_ = false;
  bool fault_garble_token_ = false;  // the Kerberos token of this reply gets a byte changed
  bool silent_ = false;              // the "silent" fault fired: nothing goes out any more

  // Prefetches of the message being run: their replies follow the main one. A scripted
  // status or information value for the prefetch request goes with it.
  struct PendingPrefetch {
    std::uint32_t handle = 0;
    std::uint16_t rows = 0;
    std::optional<SqlError> status;
    std::optional<std::pair<std::uint8_t, std::uint32_t>> info;
  };
  // What a row held by a cursor counts against the connection's bound (`held`, as a
  // result read whole counts it) and the storage it keeps (`storage`: its values and
  // their text, what decides whether a row let go is kept for reuse).
  struct RowCost {
    std::size_t held, storage;
  };
  // An open cursor. A scrollable one reads its rows whole at open, so that moves in
  // either direction are simple. A forward-only query streams: `stream` steps its rows
  // as the client asks for them and `rows` is a window from position base + 1 that
  // holds the current row and the rows sent ahead of it; rows behind the current one
  // are let go. Positions count rows from 1; 0 is before the first row and the row
  // count + 1 after the last.
  struct Cursor {
    std::string name;
    std::uint32_t stmt = 0;           // the statement it was opened on
    std::string table;                // the one table its columns come from, if any
    std::vector<std::string> origin;  // each column's name in that table
    std::vector<bool> deleted;        // rows deleted through the cursor
    std::deque<ResultSet> more;       // result sets still to come (resume)
    std::vector<ColumnDesc> columns;
    std::vector<WireType> wanted;  // per column: type to send, or skip
    std::vector<bool> skip;
    // The row description asked for the bookmark column (definition 96 one past the
    // last column): each row then ends with its bookmark, the row's position.
    bool bookmark = false;
    std::vector<std::vector<Value>> rows;  // rows[i] is at position base + i + 1
    std::int64_t base = 0;                 // positions before rows[0]
    std::size_t front = 0;                 // rows[0 .. front) were let go
    bool forward = false;                  // opened forward-only: rows behind go
    std::unique_ptr<RowStream> stream;     // rows still to step; null once read whole
    // Per row of `rows` of a streaming cursor, as noted when the row was stepped:
    // let_go() releases them without reading the row again.
    std::vector<RowCost> costs;
    // Rows a forward-only cursor let go, their storage kept to take the next rows the
    // stream steps (a few, each small: see let_go).
    std::vector<std::vector<Value>> spare;
    // The columns write_rows() sends, each with its value item and the check of its
    // values against the type asked for (plan_rows), worked out once per fetch or
    // prefetch rather than for every row or value.
    struct SentColumn {
      std::size_t k;      // index into columns, wanted and each row
      std::uint8_t code;  // wanted_item_code(wanted[k])
      ConversionCheck check;
    };
    std::vector<SentColumn> sent_columns;
    bool checked = false;  // some sent column's values may be refused
    std::optional<SqlError> stream_error;  // why the rows stop after the window
    std::size_t bytes = 0;  // what the rows hold
    std::int64_t pos = 0;
    // The last row the client holds: a prefetch sends the rows after it, since the
    // client keeps the rows of one prefetch and adds the next one's behind them, while
    // pos moves only as the client reports rows used (align). A fetch sets it to pos.
    std::int64_t sent = 0;
  };
  void erase_cursor(std::map<std::uint32_t, Cursor>::iterator it);
  // Rows of a cursor (cursor_rows.cpp). have_row() steps the stream until position p
  // is in the window or the rows end; true when row p exists (a row let go counts as
  // existing). row_at() is null for a position outside the window.
  bool have_row(Cursor& c, std::int64_t p);
  static std::vector<Value>* row_at(Cursor& c, std::int64_t p) {
    if (p <= c.base) return nullptr;
    const auto i = static_cast<std::uint64_t>(p - c.base - 1);
    if (i < c.front || i >= c.rows.size()) return nullptr;
    return &c.rows[i];
  }
  static bool row_deleted(const Cursor& c, std::int64_t p) {
    if (p <= c.base) return false;
    const auto i = static_cast<std::uint64_t>(p - c.base - 1);
    return i < c.deleted.size() && c.deleted[i];
  }
  // The RowCost of a row as it is now (worked out for every row a stream steps).
  static RowCost row_cost(const std::vector<Value>& row) {
    RowCost cost{sizeof(std::vector<Value>), row.capacity() * sizeof(Value)};
    for (const auto& v : row) {
      cost.held += sizeof(Value) + kHeldValueOverhead + v.s.size();
      cost.storage += v.s.capacity();
    }
    return cost;
  }
  // Row p was changed in place (an update through the cursor).
  static void row_changed(Cursor& c, std::int64_t p);
  static std::int64_t known_rows(const Cursor& c) {
    return c.base + static_cast<std::int64_t>(c.rows.size());
  }
  // Lets go of the rows before the current one.
  void let_go(Cursor& c);
  // Reads the rest of every streaming cursor into its window: a request that runs
  // SQL on this connection then finds no statement stepping.
  void drain_streams();
  // Writes a prefetch's rows after the message's reply, sending full packets as they
  // fill, so that the client reads rows while later ones are made.
  void write_prefetch(PendingPrefetch& p);
  // Makes the next waiting result set the cursor's rows, before its first row.
  static void load_next_result(Cursor& c);
  // The cursor a request names; the null handle names the one opened earlier in
  // the message. Null when none is open.
  Cursor* cursor_of(std::uint32_t handle);
  bool positioned_columns(const Cursor& c, std::size_t nvalues, std::vector<std::size_t>& cols,
                          SqlError& err) const;
  bool change_current_row(Cursor& c, const std::string& verb,
                          const std::vector<std::size_t>& cols,
                          const std::vector<Value>& values, SqlError& err);
  // What the connection may still hold in cursor rows and statements: within its
  // own bound and within the server's budget.
  std::size_t held_room() const;
  std::size_t own_held_room() const;  // within the connection's bound alone
  // "the N bytes one connection may hold", or the server's budget when that is the
  // tighter of the two: what a cursor or statement refused for room was refused by.
  std::string held_bound_text() const;
  // The server's budget: takes `n` bytes for this connection (false when they do
  // not fit), or settles what it has taken with what the connection now holds
  // (input, cursor rows, statements).
  bool charge(std::size_t n);
  void settle_charge();
  std::size_t held_total() const;
  // Why input past a bound closes the connection: the connection's bound (what its
  // requests hold together) or the one message's.
  std::string input_limit_reason(bool connection_bound) const;
  std::string server_limit_reason() const;
  // How a run of rows stopped short: code 100 past the end, -197 at a deleted
  // row; `at` is the position where it stopped.
  struct RowsEnd {
    int code = 0;  // 100, -197, a refused conversion, or the query's error
    std::int64_t at = 0;
    SqlError err;
    bool failed = false;  // the query itself failed: no rows come after `at`
  };
  // Works out the columns write_rows() sends (Cursor::sent_columns) from what the
  // cursor's row description asked for; holds until the next request.
  static void plan_rows(Cursor& c);
  // Writes up to `count` rows from position `from` as plan_rows() planned them;
  // returns the rows written. A run that stops short ends with an end-of-row item
  // carrying its record.
  std::uint32_t write_rows(ItemWriter& w, Cursor& c, std::int64_t from, std::uint32_t count,
                           RowsEnd* end);

  const DatabaseConfig& cfg_;
  std::uint32_t number_;
  LogSink log_;
  RandomSource random_;
  std::function<void()> poll_hook_;
  std::chrono::steady_clock::time_point next_poll_{};  // the interrupt check's next look
  std::function<void()> shutdown_hook_;

  State state_ = State::AwaitAppConnect;
  bool local_ = false;
  bool database_user_ = false;  // counted in cfg_.state->users
  bool closed_ = false;
  bool tls_offered_ = false;
  bool tls_start_ = false;
  std::string close_reason_;
  std::string protocol_fault_;  // why the request being read is malformed
  std::string refuse_connect_;  // non-empty: refuse the database connect, for this reason
  PacketReader reader_;
  bool first_packet_seen_ = false;
  Bodies partial_;                 // data packets of the message being received
  std::size_t partial_bytes_ = 0;  // their total size
  std::deque<Bodies> queue_;       // whole messages not yet run
  unsigned attentions_ = 0;        // attentions not yet acknowledged
  std::size_t queued_bytes_ = 0;   // bytes of the messages in queue_
  std::size_t charged_ = 0;        // taken from the server's budget (cfg_.memory)
  std::string close_after_reply_;  // close once the reply is out, for this reason
  std::string out_;

  AppConnectAgreement agreed_;
  ClientCharset charset_;  // the set the client's text travels in
  bool unconvertible_param_ = false;  // a parameter of the request in hand did not convert
  std::unique_ptr<Compressor> deflater_;
  std::unique_ptr<Decompressor> inflater_;
  std::unique_ptr<Engine> engine_;
  std::uint32_t last_prepared_ = 0;  // statement of the message being run
  std::uint32_t last_opened_ = 0;    // cursor opened earlier in the message
  std::uint32_t last_executed_ =
      0;  // statement that ran (into column variables) earlier in the message
  std::map<std::uint32_t, Cursor> cursors_;
  std::size_t cursor_bytes_ = 0;  // what the open cursors' rows hold
  std::uint32_t next_cursor_ = 1;
  std::vector<PendingPrefetch> prefetches_;
  std::int32_t tz_minutes_ = 0;
};

}  // namespace vqeng
