// One client connection's protocol: packets, app-connect, messages and requests.
#include "session.h"

#include <algorithm>
#include <cctype>
#include <strings.h>

#include "connect_request.h"
#include "kerberos_login.h"
#include "name_check.h"
#include "request_items.h"
#include "scrambler.h"
#include "sql_error.h"
#include "wire.h"

namespace vqeng {
namespace {

// A yes word of a connect-string value, such as KERBEROS=YES.
bool yes_word(std::string v) {
  for (auto& c : v) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return v == "YES" || v == "Y" || v == "ON" || v == "TRUE" || v == "1";
}

}  // namespace

Session::Session(const DatabaseConfig& cfg, std::uint32_t number, LogSink log,
                 RandomSource random)
    : cfg_(cfg), number_(number), log_(std::move(log)), random_(std::move(random)) {}

Session::~Session() {
  if (cfg_.memory) cfg_.memory->give(charged_);
  charged_ = 0;
  if (!database_user_) return;
  std::lock_guard<std::mutex> hold(cfg_.state->mu);
  --cfg_.state->users;
}

void Session::log(const std::string& line) {
  if (log_) log_(std::to_string(number_) + " " + line);
}

void Session::close(const std::string& reason) {
  if (closed_) return;
  closed_ = true;
  state_ = State::Closed;
  close_reason_ = reason;
  queue_.clear();
  queued_bytes_ = 0;
  partial_.clear();
  partial_bytes_ = 0;
  settle_charge();
  log("closed: " + reason);
}

void Session::peer_closed() {
  if (!closed_)
    close(state_ == State::Connected ? "peer closed the connection"
                                     : "peer closed before connecting");
}

std::string Session::take_output() {
  std::string s;
  take_output(s);
  return s;
}

void Session::take_output(std::string& bytes) {
  if (silent_) out_.clear();  // a silenced connection sends nothing more
  bytes.clear();
  bytes.swap(out_);
}

void Session::feed(const std::uint8_t* data, std::size_t len) {
  if (closed_) return;
  reader_.feed(data, len);
  std::string packet;
  for (;;) {
    const Next n = reader_.next(packet);
    if (n == Next::NeedMore) return;
    if (n == Next::Error) {
      fail_connection("bad packet: " + reader_.error());
      return;
    }
    on_packet(packet);
    if (closed_) return;
  }
}

void Session::on_packet(std::string& packet) {
  auto* p = reinterpret_cast<std::uint8_t*>(&packet[0]);
  const std::uint8_t type = p[0];
  const std::uint8_t status = p[1];
  if (!first_packet_seen_) {
    if (type != kPktAppConnect && type != kPktFirstOther && type != kPktConnectionless) {
      close("first packet of type " + std::to_string(type));
      return;
    }
    first_packet_seen_ = true;
  }
  if (status & kStatusScrambled)
    descramble_packet(p, static_cast<std::uint32_t>(packet.size()));
  const std::string body = packet.substr(header_bytes(type));
  switch (type) {
    case kPktAppConnect:
      on_app_connect(body);
      return;
    case kPktLiveness:
    case kPktFirstOther:
      return;  // a sign of life; nothing to answer
    case kPktConnectionless: {
      if (state_ != State::AwaitAppConnect) {
        log("connectionless packet dropped");
        return;
      }
      NameCheckRequest req;
      std::string why;
      if (!parse_name_check(packet, req, why)) {
        close(why);
        return;
      }
      log("name-check asked='" + req.asked_name + "'");
      out_ += build_name_check_response(req, cfg_.server_name, cfg_.tcp_port);
      return;
    }
    case kPktAttention:
      if (state_ == State::AwaitAppConnect) {
        close("attention before the app-connect exchange");
        return;
      }
      ++attentions_;
      log("attention");
      return;
    case kPktData:
    case kPktQueuedData:
      break;
    default:
      fail_connection("packet of unknown type " + std::to_string(type));
      return;
  }
  if (state_ == State::AwaitAppConnect) {
    close("data packet before the app-connect exchange");
    return;
  }
  std::string data = body;
  if (status & kStatusCompressed) {
    if (type != kPktData) {
      fail_connection("compressed packet of type " + std::to_string(type));
      return;
    }
    if (!inflater_) {
      fail_connection("compressed packet while compression is off");
      return;
    }
    // Inflating stops at what the message and the connection may still take, and
    // at what the server's budget can give, so that a few compressed bytes cannot
    // claim much memory. The budget is taken piece by piece as the output grows.
    const Limits& lim = cfg_.limits;
    const std::size_t held = partial_bytes_ + queued_bytes_;
    const std::size_t message_room =
        lim.max_message_bytes - std::min(lim.max_message_bytes, partial_bytes_);
    const std::size_t connection_room =
        lim.max_connection_bytes - std::min(lim.max_connection_bytes, held);
    const std::size_t room = std::min(message_room, connection_room);
    bool budget_spent = false;
    const auto take_room = [&](std::size_t n) {
      budget_spent = !charge(n);
      return !budget_spent;
    };
    bool too_much = false;
    if (!inflater_->inflate_body(body, data, room, &too_much, take_room)) {
      // The output is let go before closing gives its bytes back to the budget: other
      // connections may take them at once.
      std::string().swap(data);
      if (budget_spent) {
        fail_connection(server_limit_reason());
      } else if (too_much) {
        // The reason names the bound that stopped the inflating.
        fail_connection(input_limit_reason(connection_room < message_room));
      } else {
        fail_connection("compressed packet does not inflate");
      }
      return;  // closing settled the budget
    }
  } else {
    if (inflater_ && packet.size() >= agreed_.comp_threshold) {
      // The peer sends a packet of this size uncompressed only after resetting its
      // deflate stream.
      inflater_->reset();
    }
    if (!charge(data.size())) {
      fail_connection(server_limit_reason());
      return;
    }
  }
  partial_bytes_ += data.size();
  if (partial_bytes_ > cfg_.limits.max_message_bytes ||
      partial_bytes_ + queued_bytes_ > cfg_.limits.max_connection_bytes) {
    fail_connection(input_limit_reason(partial_bytes_ <= cfg_.limits.max_message_bytes));
    return;
  }
  partial_.push_back(std::move(data));
  if (status & kStatusEndOfMessage) {
    queue_.push_back(std::move(partial_));
    queued_bytes_ += partial_bytes_;
    partial_.clear();
    partial_bytes_ = 0;
  }
}

std::string Session::server_limit_reason() const {
  return "connections together would hold more than the server's " +
         std::to_string(cfg_.memory->limit()) + " bytes (--max-server-bytes)";
}

bool Session::charge(std::size_t n) {
  if (!cfg_.memory) return true;
  if (!cfg_.memory->take(n)) return false;
  charged_ += n;
  return true;
}

std::size_t Session::held_total() const {
  return partial_bytes_ + queued_bytes_ + cursor_bytes_ + (engine_ ? engine_->held_bytes() : 0);
}

void Session::settle_charge() {
  if (!cfg_.memory) return;
  const std::size_t held = held_total();
  if (held < charged_) {
    cfg_.memory->give(charged_ - held);
  } else if (held > charged_) {
    // Cursor rows and statements are checked against the room before they are made
    // and counted once they are known.
    cfg_.memory->add(held - charged_);
  }
  charged_ = held;
}

std::string Session::input_limit_reason(bool connection_bound) const {
  if (!connection_bound)
    return "request message larger than " + std::to_string(cfg_.limits.max_message_bytes) +
           " bytes";
  return "requests waiting to run hold more than " +
         std::to_string(cfg_.limits.max_connection_bytes) + " bytes";
}

void Session::on_app_connect(const std::string& body) {
  if (state_ != State::AwaitAppConnect) {
    fail_connection("second app-connect packet");
    return;
  }
  AppConnectRequest req;
  std::string why;
  if (!parse_app_connect(body, req, why)) {
    close(why);
    return;
  }
  // The client's character set when we can convert it; UTF-8, the database's own,
  // otherwise (the reply names the set the connection speaks).
  if (!charset_.open(req.charset_label)) (void)charset_.open(req.charset);
  agreed_.charset = charset_.name();
  std::uint8_t random[kRandomBytes];
  if (!random_ || !random_(random, sizeof random)) {
    close("no random bytes for the app-connect reply");
    return;
  }
  std::string reply = build_app_connect_reply(req, random, agreed_, cfg_.liveness, tls_offered_);
  if (agreed_.compression) {
    deflater_ = std::make_unique<Compressor>();
    inflater_ = std::make_unique<Decompressor>();
    if (!deflater_->ok() || !inflater_->ok()) {
      close("compression could not be started");
      return;
    }
  }
  log("app-connect minor=" + std::to_string(agreed_.minor) +
      " packet=" + std::to_string(agreed_.packet_size) + " encryption=" +
      std::to_string(agreed_.encryption) + " compression=" + (agreed_.compression ? "1" : "0") +
      " liveness=" + std::to_string(agreed_.liveness) + " charset=" + req.charset +
      " label=" + req.charset_label + " os-charset=" + req.os_charset +
      " language=" + req.language);
  std::string pk(kShortHeaderBytes, '\0');
  pk[0] = static_cast<char>(kPktAppConnect);
  pk[1] = static_cast<char>(kStatusEndOfMessage);
  pk.push_back('\0');
  pk += reply;
  store_be16(reinterpret_cast<std::uint8_t*>(&pk[2]), static_cast<std::uint16_t>(pk.size()));
  out_ += pk;  // the reply goes as it is; the agreed level applies from here on
  state_ = State::AwaitConnect;
  tls_start_ = agreed_.encryption >= kLevelFirstTls;
}

void Session::send_packets(std::vector<std::string> packets) {
  for (auto& pk : packets) {
    if (deflater_ && pk[0] == static_cast<char>(kPktData) &&
        pk.size() >= agreed_.comp_threshold) {
      std::string z;
      if (deflater_->deflate_body(pk.substr(kShortHeaderBytes), z) &&
          z.size() + kShortHeaderBytes <= agreed_.packet_size) {
        std::string c(kShortHeaderBytes, '\0');
        c[0] = pk[0];
        c[1] = static_cast<char>(pk[1] | kStatusCompressed);
        c += z;
        store_be16(reinterpret_cast<std::uint8_t*>(&c[2]),
                   static_cast<std::uint16_t>(c.size()));
        pk.swap(c);
      } else {
        // Sent as it is; the peer resets its inflate stream on such a packet.
        deflater_->reset();
      }
    }
    if (agreed_.encryption == 1) {
      pk[1] = static_cast<char>(pk[1] | kStatusScrambled);
      scramble_packet(reinterpret_cast<std::uint8_t*>(&pk[0]),
                      static_cast<std::uint32_t>(pk.size()));
    }
    out_ += pk;
  }
}

void Session::send_attention_ack() {
  // One empty packet that ends the cancelled reply; the client drops its content.
  ItemWriter w(agreed_.packet_size, agreed_.minor > 9);
  send_packets(w.finish(kStatusAttentionAck));
  if (deflater_) deflater_->reset();
  if (inflater_) inflater_->reset();
  log("attention acknowledged");
  attentions_ = 0;
}

void Session::run() {
  while (!closed_ && !queue_.empty()) {
    Bodies msg = std::move(queue_.front());
    queue_.pop_front();
    for (const auto& b : msg) queued_bytes_ -= std::min(queued_bytes_, b.size());
    if (attentions_ > 0) {
      log("message dropped after an attention");
      continue;
    }
    handle_message(msg);
    // The message's input is gone; cursors and statements may have come or gone.
    settle_charge();
  }
  if (!closed_ && attentions_ > 0 && state_ != State::AwaitAppConnect) send_attention_ack();
}

namespace {

// Requests that run no SQL of their own, or only read: a streaming cursor may keep its
// statement stepping across them. Any other request first reads the streams whole.
bool leaves_streams_alone(std::uint8_t code) {
  switch (code) {
    case kReqTimeZone:
    case kReqServerInfo:
    case kReqValidate:
    case kReqPrepare:
    case kReqDrop:
    case kReqCachedDrop:
    case kReqDescribeInput:
    case kReqDescribeOutput:
    case kReqClose:
    case kReqFetch:
    case kReqPrefetch:
    case kReqAlign:
    case kReqGetData:
    case kReqDescribeCursorInput:
    case kReqDescribeCursorOutput:
    case kReqCloseByName:
    case kReqGetOption:
    case kReqNeedsQuotes:
    case kReqRowDescription:
      return true;
    default:
      return false;
  }
}

}  // namespace

void Session::handle_message(const Bodies& bodies) {
  ItemReader r(&bodies);
  ItemWriter w(agreed_.packet_size, agreed_.minor > 9);
  fault_delay_ms_ = 0;
  fault_drop_ = fault_corrupt_ = fault_hang_ = fault_garble_token_ = false;
  last_prepared_ = 0;
  last_opened_ = 0;
  last_executed_ = 0;
  prefetches_.clear();
  Item item;
  for (;;) {
    const auto rc = r.next(item);
    if (rc == ItemReader::Result::EndOfMessage) break;
    if (rc == ItemReader::Result::Ok && state_ != State::Closed) apply_faults(r, item, w);
    if (rc == ItemReader::Result::Ok && !leaves_streams_alone(item.code)) drain_streams();
    const ItemWriter::Mark before = w.mark();
    const bool ok = rc == ItemReader::Result::Ok && dispatch(r, item, w);
    status_override_.reset();
    info_override_.reset();
    redirect_.reset();
    if (!pending_file_close_.empty()) {
      // Client files closed while the request ran: the closes lead its reply.
      const std::string reply = w.take_since(before);
      w.put_raw_items(pending_file_close_);
      w.put_raw_items(reply);
      pending_file_close_.clear();
    }
    if (!ok) {
      if (closed_) return;
      std::string why = protocol_fault_;
      if (why.empty()) why = r.error().empty() ? "bad request" : r.error();
      protocol_fault_.clear();
      end_with_error_record(w, why);
      close("protocol error: " + why);
      return;
    }
  }
  if (closed_) return;
  if (attentions_ > 0) {
    log("reply dropped after an attention");
    return;  // run() sends the acknowledgement instead
  }
  // Queued items (time zone, drops, aligns) get no reply: a message of nothing else
  // gets none, and one that also holds a prefetch gets the prefetch's reply alone.
  const bool no_reply =
      w.empty() && state_ == State::Connected && close_after_reply_.empty();
  if (no_reply && prefetches_.empty()) return;
  if (no_reply || send_reply(w))
    for (auto& p : prefetches_) write_prefetch(p);
  prefetches_.clear();
  if (!close_after_reply_.empty() && !closed_) close(close_after_reply_);
}

bool Session::protocol_error(const std::string& why) {
  if (protocol_fault_.empty()) protocol_fault_ = why;
  return false;
}

void Session::fail_connection(const std::string& reason) {
  if (closed_) return;
  if (state_ == State::AwaitConnect || state_ == State::Connected) {
    ItemWriter w(agreed_.packet_size, agreed_.minor > 9);
    end_with_error_record(w, reason);
  }
  close(reason);
}

void Session::end_with_error_record(ItemWriter& w, const std::string& reason) {
  // The peer hears why before the connection goes: the replies written so far,
  // then an error record where the next reply would start, then the end of the
  // message. A client reading a status there gets the record; one that expects
  // another item reports a protocol error of its own.
  const SqlError e =
      sql_error(-308, "Protocol error: " + reason + "; the server closes the connection");
  write_status(w, &e);
  w.put_empty(kItemEnd);  // no information items
  send_packets(w.finish());
  log("error record sent: " + reason);
}

void Session::write_status(ItemWriter& w, const SqlError* e) {
  std::optional<SqlError> scripted;
  if (status_override_) {
    scripted.swap(status_override_);
    e = &*scripted;
  }
  if (!e || e->sqlcode == 0) {
    w.put_empty(kStatusOk);
    return;
  }
  w.put(kStatusError, error_record_payload(*e));
  if (!e->text.empty()) w.put_bytes(kItemMessageText, text_to_client(e->text));
  for (const auto& p : e->params) w.put_bytes(kItemName, text_to_client(p));
  w.put_empty(kItemEnd);  // end of this record
  w.put_empty(kItemEnd);  // end of the record list
}

void Session::write_info(ItemWriter& w,
                         std::initializer_list<std::pair<std::uint8_t, std::uint32_t>> slots) {
  std::vector<std::pair<std::uint8_t, std::uint32_t>> all(slots);
  if (info_override_) {
    // A scripted information item: it replaces the slot's value, or joins the list.
    bool found = false;
    for (auto& s : all)
      if (s.first == info_override_->first) {
        s.second = info_override_->second;
        found = true;
      }
    if (!found) all.push_back(*info_override_);
    info_override_.reset();
  }
  for (const auto& s : all) {
    std::string p;
    put_le32(p, s.second);
    put_u8(p, s.first);
    w.put(kInfo32, p);
  }
  w.put_empty(kItemEnd);
}

std::uint32_t Session::resolve(std::uint32_t handle) const {
  if ((handle == kNullHandle || handle == kImplicitHandle) && last_prepared_ != 0)
    return last_prepared_;
  return handle;
}

bool Session::dispatch(ItemReader& r, const Item& item, ItemWriter& w) {
  if (state_ == State::AwaitConnect) {
    if (item.code == kReqConnect) return on_connect(r, item, w);
    if (item.code == kReqKerberosToken && krb_) return on_kerberos_token(r, item, w);
    krb_.reset();  // anything else ends a Kerberos exchange in progress
    krb_connect_.clear();
    if (item.code == kReqTimeZone) return true;
    // A Kerberos login first asks for the service principal (kind 0).
    if (item.code == kReqServerInfo) return on_server_info(r, item, w);
    if (item.code == kReqShutdown) return on_shutdown(item, w);
    // Tools find the server and start or stop its database without connecting to it.
    if (item.code == kReqFind || item.code == kReqStartDatabase ||
        item.code == kReqStopDatabase)
      return on_database_control(r, item, w);
    return protocol_error("request " + std::to_string(item.code) +
                          " before the database connect");
  }
  switch (item.code) {
    case kReqPrepare:
      return on_prepare(r, item, w);
    case kReqValidate:
      return on_validate(r, item, w);
    case kReqDescribeInput:
    case kReqDescribeOutput:
      return on_describe(item, w);
    case kReqExecute:
      return on_execute(r, item, w);
    case kReqExecImmediate:
      return on_exec_immediate(r, item, w);
    case kReqOpen:
      return on_open(r, item, w);
    case kReqRowDescription:
      return on_row_description(r, item);
    case kReqFetch:
      return on_fetch(item, w);
    case kReqPrefetch:
      return on_prefetch(item);
    case kReqAlign:
      return on_align(item);
    case kReqClose:
      return on_close(item, w);
    case kReqCommit:
    case kReqRollback:
    case kReqPrepareCommit:
      return on_transaction(item, w);
    case kReqCharset:
    case kReqNcharCharset:
      return on_charset(item, w);
    case kReqDisconnect:
      return on_disconnect(w);
    case kReqShutdown:
      return on_shutdown(item, w);
    case kReqTimeZone:
      if (item.length != 4)
        return protocol_error("time zone item of " + std::to_string(item.length) + " bytes");
      tz_minutes_ = static_cast<std::int32_t>(load_le32(item.payload));
      log("time-zone " + std::to_string(tz_minutes_));
      return true;
    case kReqDrop:
    case kReqCachedDrop:
      if (item.length != 4)
        return protocol_error("drop item of " + std::to_string(item.length) + " bytes");
      if (item.code == kReqCachedDrop) {
        // The client let the statement go but keeps it in its cache: it stays prepared
        // here until a drop, and a validate finds it.
        log("cached-drop " + std::to_string(load_le32(item.payload)));
        return true;
      }
      log("drop " + std::to_string(load_le32(item.payload)));
      engine_->drop(load_le32(item.payload));
      return true;
    case kReqCloseByName:
      return on_close_by_name(r, item);
    case kReqGetOption:
      return on_get_option(r, item, w);
    case kReqSetOption:
      return on_set_option(r, item, w);
    case kReqServerInfo:
      return on_server_info(r, item, w);
    case kReqNeedsQuotes:
    case kReqDeleteFile:
      return on_text_request(r, item, w);
    case kReqCursorCheck:
      return on_cursor_check(r, item, w);
    case kReqPoolPark:
    case kReqPoolReuse:
      return on_pool(r, item, w);
    case kReqFind:
    case kReqStartDatabase:
    case kReqStopDatabase:
      return on_database_control(r, item, w);
    case kReqDescribeCursorInput:
    case kReqDescribeCursorOutput:
      return on_describe_cursor(item, w);
    case kReqResume:
      return on_resume(item, w);
    case kReqGetData:
      return on_get_data(r, item, w);
    case kReqPut:
      return on_put(r, item, w);
    case kReqUpdate:
      return on_update(r, item, w);
    case kReqDelete:
      return on_delete(r, item, w);
    case kReqExplain:
      return on_explain(r, item, w);
    case kItemEnd:
      return protocol_error("an end item (0) where a request belongs");
    default:
      return protocol_error("unknown request item " + std::to_string(item.code));
  }
}

bool Session::on_connect(ItemReader& r, const Item& item, ItemWriter& w) {
  std::string text;
  if (r.read_value(item, text, 64 * 1024) != ItemReader::Result::Ok) return false;
  Item next;
  if (r.next(next) != ItemReader::Result::Ok || next.code != kReqHandle || next.length != 4)
    return protocol_error("connect request without its handle item");
  // Then the enciphered part (empty when a Kerberos login has no secrets to
  // carry) and a Kerberos login's first token, each optional, in this order.
  std::string secret, cipher, token;
  krb_.reset();
  auto rc = r.next(next);
  if (rc == ItemReader::Result::Ok && next.code == kReqSecurePart) {
    if (r.read_value(next, cipher, 64 * 1024) != ItemReader::Result::Ok) return false;
    if (cipher.size() % 16 != 0)
      return protocol_error("enciphered part of " + std::to_string(cipher.size()) +
                            " bytes is not a multiple of 16");
    rc = r.next(next);
  }
  const bool has_token = rc == ItemReader::Result::Ok && next.code == kReqKerberosToken;
  if (has_token) {
    if (r.read_value(next, token, kMaxKerberosToken) != ItemReader::Result::Ok) return false;
    rc = r.next(next);
  }
  if (rc == ItemReader::Result::Error) return false;
  if (rc == ItemReader::Result::Ok)
    return protocol_error("unexpected item " + std::to_string(next.code) +
                          " in the connect request");
  std::map<std::string, std::string> kv, sk;
  std::string why;
  if (!parse_connect_string(text, kv, why)) return protocol_error(why);
  for (auto& c : text) c = 0;
  // From level 13 the secrets travel only in the enciphered part, made with the
  // random bytes of our app-connect reply; below it there are no random bytes
  // and the secrets travel in the connect string.
  const bool secure_level = agreed_.minor >= 13;
  SqlError err;
  bool ok = true;
  if (secure_level) {
    for (const char* k : {"PWD", "DBKEY", "NEWPWD"}) {
      if (ok && kv.count(k)) {
        ok = false;
        err = sql_error(-103,
                        std::string("The connect string carries ") + k +
                            " in plain text; at protocol level 13 and above it travels only in "
                            "the enciphered part",
                        {k});
      }
    }
  } else if (!cipher.empty()) {
    ok = false;
    err = sql_error(-103,
                    "An enciphered part is not taken below protocol level 13; the password "
                    "travels in the connect string");
  }
  // A part that does not decipher to key=value pairs was made with other key
  // material: the password in it cannot be right.
  bool secret_ok = true;
  if (ok && !cipher.empty()) {
    std::string why2;
    secret_ok = decipher_secure_part(cipher, agreed_.random, secret, why2) &&
                parse_connect_string(secret, sk, why2);
    if (!secret_ok) sk.clear();
  }
  for (auto& c : secret) c = 0;
  const bool plain_pwd = kv.count("PWD") != 0;
  for (auto& e : sk) {
    kv[e.first] = e.second;  // PWD, DBKEY, NEWPWD
    std::fill(e.second.begin(), e.second.end(), '\0');
  }

  const std::string uid = kv.count("UID") ? kv["UID"] : std::string();
  std::string line = "connect UID=" + uid;
  for (const char* k : {"DBN", "DBF", "ENG", "CON", "APP", "NODETYPE"})
    if (kv.count(k)) line += std::string(" ") + k + "=" + kv[k];
  line += kv.count("PWD") ? (plain_pwd ? " PWD=plain" : " PWD=enciphered") : " PWD=none";
  log(line);

  const auto user = find_user(uid);
  if (ok && redirect_) {
    // Sent elsewhere: the list of servers to try (one here), ended by an empty
    // item, then the status and information items. The client drops this
    // connection once it has read the list; closing it from here could end the
    // stream before the client has taken the reply, which it would then never see.
    if (agreed_.minor >= 15) {
      for (auto* m : {&kv, &sk})
        for (auto& e : *m) std::fill(e.second.begin(), e.second.end(), '\0');
      w.put_bytes(kItemName, redirect_->first);
      w.put_bytes(107, redirect_->second);
      w.put_empty(kItemEnd);
      write_status(w, nullptr);
      write_info(w, {{19, 0}, {24, 0}});
      log("connect redirected to " + redirect_->first);
      return true;
    }
    log("connect: no redirection below protocol level 15");
  }
  if (ok && !refuse_connect_.empty()) {
    // Past the connection limit: the client hears why, then the connection goes.
    ok = false;
    err = sql_error(-102, "Database server connection limit exceeded", {refuse_connect_});
    close_after_reply_ = "connection limit: " + refuse_connect_;
  }
  const bool kerberos = has_token || yes_word(kv["KERBEROS"]);
  if (ok && kerberos) {
    if (!cfg_.kerberos) {
      ok = false;
      err = sql_error(-1070, "This server takes no Kerberos logins");
    } else if (!has_token || token.empty()) {
      ok = false;
      err = sql_error(-1069,
                      "Kerberos login failed: the connect request carries no Kerberos token");
    } else {
      krb_ = cfg_.kerberos->new_context();
      const KerberosStep step = krb_->accept(token);
      if (step.outcome == KerberosStep::Outcome::Continue) {
        // Another round: our token alone ends this reply, and the client's next
        // message brings its next token. The connect's keys wait till then.
        put_kerberos_token(w, step.reply_token);
        for (const char* k : {"PWD", "DBKEY", "NEWPWD"}) {
          const auto secret_it = kv.find(k);
          if (secret_it == kv.end()) continue;
          std::fill(secret_it->second.begin(), secret_it->second.end(), '\0');
          kv.erase(secret_it);
        }
        krb_connect_ = std::move(kv);
        log("connect: Kerberos exchange continues");
        return true;
      }
      return kerberos_done(step, kv, w);
    }
  }
  if (ok && !kerberos) {
    ok = secret_ok && user != cfg_.users.end() && kv.count("PWD") && kv["PWD"] == user->second;
    if (!ok) {
      err = sql_error(-103, "Invalid user ID or password");
      if (user != cfg_.users.end() && !cipher.empty())
        explain_refused_password(cipher, user->second);
    }
  }
  return finish_connect(kv, ok, err, user, w);
}

bool Session::on_kerberos_token(ItemReader& r, const Item& item, ItemWriter& w) {
  std::string token;
  if (r.read_value(item, token, kMaxKerberosToken) != ItemReader::Result::Ok) return false;
  Item next;
  const auto rc = r.next(next);
  if (rc == ItemReader::Result::Error) return false;
  if (rc == ItemReader::Result::Ok)
    return protocol_error("unexpected item " + std::to_string(next.code) +
                          " after a Kerberos token");
  const KerberosStep step = krb_->accept(token);
  if (step.outcome == KerberosStep::Outcome::Continue) {
    put_kerberos_token(w, step.reply_token);
    log("connect: Kerberos exchange continues");
    return true;
  }
  std::map<std::string, std::string> kv;
  kv.swap(krb_connect_);
  return kerberos_done(step, kv, w);
}

void Session::put_kerberos_token(ItemWriter& w, std::string token) {
  if (fault_garble_token_ && !token.empty()) {
    // A byte in the middle, inside whatever the token protects.
    token[token.size() / 2] = static_cast<char>(token[token.size() / 2] ^ 0x5a);
    log("fault: Kerberos token garbled");
  }
  w.put_bytes(kReqKerberosToken, token);
}

bool Session::kerberos_done(const KerberosStep& step, std::map<std::string, std::string>& kv,
                            ItemWriter& w) {
  krb_.reset();
  SqlError err;
  bool ok = step.outcome == KerberosStep::Outcome::Complete;
  auto user = cfg_.users.end();
  if (!ok) {
    // No token goes back: the client hears the refusal, not a token to check.
    err = sql_error(-1069, "Kerberos login failed: " + step.why);
    log("connect: Kerberos token refused: " + step.why);
  } else {
    // Our token completes the client's side of the exchange; the reply follows it.
    if (!step.reply_token.empty()) put_kerberos_token(w, step.reply_token);
    const std::string name = kerberos_user_of(step.principal, cfg_.kerberos->principal());
    user = find_user(name);
    const std::string uid = kv.count("UID") ? kv["UID"] : std::string();
    log("connect: Kerberos principal " + step.principal +
        (user == cfg_.users.end() ? " maps to no user" : " is user " + user->first));
    if (name.empty() || user == cfg_.users.end()) {
      ok = false;
      err = sql_error(-103,
                      "The Kerberos principal " + step.principal +
                          " is not mapped to a user of this database",
                      {step.principal});
    } else if (!uid.empty() && !same_name(uid, user->first)) {
      // A login never becomes another user than the one the client named.
      ok = false;
      err = sql_error(-103,
                      "The Kerberos principal " + step.principal + " logs in as user " +
                          user->first + ", not as " + uid,
                      {step.principal});
    }
  }
  return finish_connect(kv, ok, err, user, w);
}

bool Session::finish_connect(std::map<std::string, std::string>& kv, bool ok, SqlError err,
                             std::map<std::string, std::string>::const_iterator user,
                             ItemWriter& w) {
  // The database asked for must be the one we serve (any, when we name none).
  if (ok && kv.count("DBN") && !kv["DBN"].empty() && cfg_.database_named &&
      !same_name(kv["DBN"], cfg_.database_name)) {
    ok = false;
    err = sql_error(-83, "Specified database not found", {kv["DBN"]});
  }
  for (auto& e : kv) std::fill(e.second.begin(), e.second.end(), '\0');
  if (ok) {
    std::lock_guard<std::mutex> hold(cfg_.state->mu);
    if (std::chrono::steady_clock::now() < cfg_.state->starting_until) {
      ok = false;
      err = sql_error(-77, "The database server is still starting");
    } else if (!cfg_.state->running) {
      ok = false;
      err = sql_error(-76, "Database " + cfg_.database_name + " is not running",
                      {cfg_.database_name});
    } else {
      ++cfg_.state->users;
      database_user_ = true;
    }
  }
  if (ok) {
    engine_ = std::make_unique<Engine>(cfg_);
    engine_->set_user(user->first);
    engine_->set_client_charset(charset_.name());
    engine_->set_client_file_hook(
        [this](bool write, const std::string& name, std::string& data, SqlError& e) {
          return client_file(write, name, data, e);
        });
    engine_->set_option_hook([this](const std::string& name, const std::string* value,
                                    bool* taken, std::string& why) {
      if (name != "vqeng_fault") return true;
      *taken = true;
      return on_fault_option(value, why);
    });
    if (!engine_->open(err)) ok = false;
    // A statement stops when an attention arrives or the client goes away. Looking at
    // the link costs a system call, and SQLite asks every thousand steps (every hundred
    // rows or so of a streamed query): the link is looked at once a millisecond at most.
    engine_->set_interrupt_check([this] {
      const auto now = std::chrono::steady_clock::now();
      if (poll_hook_ && now >= next_poll_) {
        next_poll_ = now + std::chrono::milliseconds(1);
        poll_hook_();
      }
      return attentions_ > 0 || closed_;
    });
  }
  if (!ok) {
    // A refusal has the same shape as an acceptance: the first item (empty
    // here), the status, then the information items with slots 19 and 24.
    engine_.reset();
    if (database_user_) {
      std::lock_guard<std::mutex> hold(cfg_.state->mu);
      --cfg_.state->users;
      database_user_ = false;
    }
    w.put_empty(kItemEnd);
    write_status(w, &err);
    write_info(w, {{19, 0}, {24, 0}});
    log("connect refused " + std::to_string(err.sqlcode));
    return true;
  }
  std::string h;
  put_le32(h, number_);
  w.put(kReqHandle, h);
  write_status(w, nullptr);
  write_info(w, {{19, 0}, {24, cfg_.statement_cache}});
  state_ = State::Connected;
  return true;
}

std::map<std::string, std::string>::const_iterator Session::find_user(
    const std::string& uid) const {
  for (auto it = cfg_.users.begin(); it != cfg_.users.end(); ++it)
    if (same_name(it->first, uid)) return it;
  return cfg_.users.end();
}

void Session::explain_refused_password(const std::string& cipher, const std::string& password) {
  // A peer that took the random bytes as the AES key itself, or the first four of
  // them as the IV word, deciphers differently. Say so in the log, still refusing.
  struct Hint {
    SecurePartMistake mistake;
    const char* text;
  };
  const Hint hints[] = {
      {{true, false},
       "the enciphered part was made with the random bytes as the AES key; "
       "this server derives the key from them"},
      {{false, true},
       "the enciphered part was made with the first four random bytes as the IV word; "
       "this server takes the first random byte alone"},
      {{true, true},
       "the enciphered part was made with the random bytes as the AES key and the first four "
       "of them as the IV word; this server derives the key and takes the first random byte "
       "alone"},
  };
  for (const auto& h : hints) {
    std::string plain, why;
    std::map<std::string, std::string> kv;
    const bool match =
        decipher_secure_part_mistaken(cipher, agreed_.random, h.mistake, plain, why) &&
        parse_connect_string(plain, kv, why) && kv["PWD"] == password;
    for (auto& c : plain) c = 0;
    for (auto& e : kv) std::fill(e.second.begin(), e.second.end(), '\0');
    if (match) {
      log(std::string("connect: ") + h.text);
      return;
    }
  }
}

bool Session::on_prepare(ItemReader& r, const Item& item, ItemWriter& w) {
  std::string text;
  if (r.read_value(item, text, cfg_.limits.max_message_bytes) != ItemReader::Result::Ok)
    return false;
  Item next;
  if (r.next(next) != ItemReader::Result::Ok || next.code != kReqPrepareFlags ||
      next.length != 2)
    return protocol_error("prepare without its flags item");
  const std::uint16_t flags = load_le16(next.payload);
  if ((flags & 2) && agreed_.minor >= 15) {
    if (r.next(next) != ItemReader::Result::Ok || next.code != kReqPrepareExtra ||
        next.length != 4)
      return protocol_error("prepare flags announce an item 142 that is missing");
  }
  log("prepare " + log_text(text));
  SqlError err;
  std::uint32_t id = 0;
  bool ok = text_to_db(text, err);
  if (ok && held_room() < 2 * text.size() + kHeldStatementOverhead) {
    ok = false;
    err = sql_error(-1000, "Prepared statements and open cursors would hold more than " +
                               held_bound_text() + "; drop statements or close cursors");
  }
  if (ok && engine_->prepare(text, id, err)) {
    last_prepared_ = id;
    settle_charge();
    std::string p;
    put_le16(p, engine_->param_count(id));
    put_u8(p, 0);
    put_u8(p, engine_->statement_kind(id));  // value B: the statement's kind
    w.put(kReplyParams, p);
    std::string h;
    put_le32(h, id);
    w.put(kReplyStmtHandle, h);
    write_status(w, nullptr);
  } else {
    last_prepared_ = 0;
    std::string h;
    put_le32(h, kNullHandle);
    w.put(kReplyStmtHandle, h);
    write_status(w, &err);
  }
  write_info(w, {{4, 0}, {kInfoFlagsSlot, 0}});
  return true;
}

bool Session::on_validate(ItemReader& r, const Item& item, ItemWriter& w) {
  if (item.length != 14)
    return protocol_error("validate item of " + std::to_string(item.length) + " bytes");
  Item end;
  if (r.next(end) != ItemReader::Result::Ok || end.code != kItemEnd)
    return protocol_error("validate without its end item");
  const std::uint32_t id = load_le32(item.payload);
  log("validate " + std::to_string(id));
  if (engine_->has_statement(id)) {
    last_prepared_ = id;
    write_status(w, nullptr);
  } else {
    const SqlError err = sql_error(-130);
    write_status(w, &err);
  }
  write_info(w, {{kInfoFlagsSlot, 0}});
  return true;
}

bool Session::on_describe(const Item& item, ItemWriter& w) {
  if (item.length != 6)
    return protocol_error("describe item of " + std::to_string(item.length) + " bytes");
  const std::uint32_t id = resolve(load_le32(item.payload));
  const bool input = item.code == kReqDescribeInput;
  log(std::string(input ? "describe-input " : "describe-output ") + std::to_string(id));
  std::vector<ColumnDesc> cols;
  SqlError err;
  const bool ok =
      input ? engine_->describe_input(id, cols, err) : engine_->describe_output(id, cols, err);
  if (ok) write_description(w, cols);
  w.put_empty(kItemEnd);
  write_status(w, ok ? nullptr : &err);
  write_info(w, {{kInfoFlagsSlot, kInfoDescribeComplete}});
  return true;
}

bool Session::read_column_vars_and_rows(ItemReader& r, std::vector<WireType>& col_vars,
                                        std::vector<std::vector<Value>>& rows) {
  unconvertible_param_ = false;
  // After the request item: column-variable definitions (items 73..99 but 74),
  // then the parameter rows (values, item 132 after each row) closed by an item 0.
  // Where the definitions end is not marked by a fixed item, so both forms that a
  // client may write are taken:
  //   definitions, rows, 0          (the item 0 closes the row list only)
  //   definitions, 0, rows, 0       (an item 0 closes the definitions as well)
  // With no rows, "definitions, 0" and "definitions, 0, 0" are the two forms, and
  // a request with neither definitions nor rows may also stop right at the next
  // request or at the end of the message. Nothing is lost by taking both: no
  // request item has code 0 or the code of a value item, so what follows the
  // first item 0 tells the two forms apart.
  Item it;
  auto is_value = [](std::uint8_t code) { return code >= 101 && code <= 132; };
  // Definitions.
  for (;;) {
    const auto rc = r.next(it);
    if (rc == ItemReader::Result::EndOfMessage) return true;
    if (rc == ItemReader::Result::Error) return false;
    if (it.code >= kDefNone && it.code <= 99 && it.code != kDefSecondName) {
      WireType t;
      if (!parse_definition(it, t))
        return protocol_error("bad column definition item " + std::to_string(it.code));
      col_vars.push_back(t);
      continue;
    }
    break;
  }
  if (it.code == kItemEnd) {
    // The end of the definitions, or of an empty row list: an item 0 or rows may follow.
    const auto rc = r.next(it);
    if (rc == ItemReader::Result::EndOfMessage) return true;
    if (rc == ItemReader::Result::Error) return false;
    if (it.code == kItemEnd) return true;  // the empty row list of the second form
    if (!is_value(it.code)) {
      r.unread();  // the next request
      return true;
    }
  } else if (!is_value(it.code)) {
    r.unread();  // no rows and no closing item: the next request
    return true;
  }
  // Rows, from the item in hand up to the closing item 0.
  std::vector<Value> row;
  for (;;) {
    if (it.code == kItemEnd) break;
    if (it.code == kValEndOfRow) {
      rows.push_back(std::move(row));
      row.clear();
    } else if (is_value(it.code)) {
      Value v;
      std::string why;
      if (!read_value_item(r, it, v, why)) return protocol_error(why);
      // Character values come in the connection's set, NCHAR values (items 130 and
      // 131) in UTF-8; one that does not convert fails the request once it is read.
      if (v.kind == Value::Text && it.code != 130 && it.code != 131) {
        SqlError unused;
        if (!text_to_db(v.s, unused)) unconvertible_param_ = true;
      }
      row.push_back(std::move(v));
    } else {
      return protocol_error("item " + std::to_string(it.code) +
                            " where a parameter value belongs");
    }
    const auto rc = r.next(it);
    if (rc == ItemReader::Result::Error) return false;
    if (rc == ItemReader::Result::EndOfMessage)
      return protocol_error("parameter rows without their closing item 0");
  }
  if (!row.empty()) rows.push_back(std::move(row));
  return true;
}

bool Session::on_execute(ItemReader& r, const Item& item, ItemWriter& w) {
  if (item.length != 6)
    return protocol_error("execute item of " + std::to_string(item.length) + " bytes");
  const std::uint32_t id = resolve(load_le32(item.payload));
  const std::uint16_t options = load_le16(item.payload + 4);
  std::vector<WireType> col_vars;
  std::vector<std::vector<Value>> rows;
  if (!read_column_vars_and_rows(r, col_vars, rows)) return false;
  log("execute " + std::to_string(id) + " columns=" + std::to_string(col_vars.size()) +
      " rows=" + std::to_string(rows.size()));
  SqlError err;
  ExecResult res;
  bool ok = params_converted(err);
  bool not_executed = false;
  std::uint32_t changes = 0;
  if (!ok) {
    // a parameter's text has no form in the database's character set
  } else if (!engine_->has_statement(id)) {
    ok = false;
    err = sql_error(-130);
  } else if (engine_->is_query(id) && col_vars.empty()) {
    // A query runs when its cursor is opened.
    not_executed = true;
  } else {
    const std::size_t nrows = std::max<std::size_t>(rows.size(), 1);
    const bool atomic = nrows > 1;
    if (atomic) ok = engine_->begin_atomic(err);
    for (std::size_t k = 0; k < nrows && ok; ++k) {
      ok = engine_->execute(id, rows.empty() ? std::vector<Value>{} : rows[k],
                            col_vars.empty() ? 0 : 1, res, err);
      changes += res.changes;
    }
    if (atomic) {
      engine_->end_atomic(!ok);
      if (!ok) changes = 0;
    }
    if (ok && (options & 2)) ok = engine_->commit(err);
    if (ok) last_executed_ = id;
  }
  // The value set of the column variables: one row, or end of data.
  if (ok && !col_vars.empty()) {
    if (!res.rows.empty()) {
      std::vector<Value> row;
      if (!row_to_client(res.rows.front(), row, &col_vars))
        row.assign(col_vars.size(), Value::null());
      // A column variable defined as none (an INOUT parameter the client bound as input
      // only) takes no value back, as a skipped column of a fetch.
      for (std::size_t k = 0; k < col_vars.size(); ++k)
        if (col_vars[k].type != 0)
          write_value(w, k < row.size() ? row[k] : Value::null(), col_vars[k]);
      w.put_empty(kValEndOfRow);
    } else {
      const SqlError nf = sql_error(100);
      const std::uint8_t one = 1;
      w.put(kValEndOfRow, &one, 1);
      w.put(kStatusError, error_record_payload(nf));
      w.put_empty(kItemEnd);
    }
  }
  w.put_empty(kItemEnd);
  std::string h;
  put_le32(h, kNullHandle);
  w.put(kReplyCursor, h);
  if (not_executed) {
    const SqlError warn = sql_error(111);
    write_status(w, &warn);
  } else if (ok && changes == 0 && engine_->is_searched_change(id)) {
    const SqlError nf = sql_error(100);
    write_status(w, &nf);
  } else {
    write_status(w, ok ? nullptr : &err);
  }
  write_info(w, {{1, 0}, {2, changes}, {kInfoFlagsSlot, 0}});
  return true;
}

bool Session::on_exec_immediate(ItemReader& r, const Item& item, ItemWriter& w) {
  std::string text;
  if (r.read_value(item, text, cfg_.limits.max_message_bytes) != ItemReader::Result::Ok)
    return false;
  std::vector<WireType> col_vars;
  std::vector<std::vector<Value>> rows;
  if (!read_column_vars_and_rows(r, col_vars, rows)) return false;
  log("exec-immediate " + log_text(text));
  SqlError err;
  ExecResult res;
  const bool ok = text_to_db(text, err) && params_converted(err) &&
                  engine_->execute_immediate(text, res, err);
  w.put_empty(kItemEnd);  // empty value set
  std::string h;
  put_le32(h, kNullHandle);
  w.put(kReplyCursor, h);
  write_status(w, ok ? nullptr : &err);
  write_info(w, {{4, 0}, {2, res.changes}, {1, 0}, {kInfoFlagsSlot, 0}});
  return true;
}

bool Session::on_open(ItemReader& r, const Item& item, ItemWriter& w) {
  if (item.length != 10)
    return protocol_error("open item of " + std::to_string(item.length) + " bytes");
  const std::uint32_t id = resolve(load_le32(item.payload));
  Item name_item;
  if (r.next(name_item) != ItemReader::Result::Ok || name_item.code != kItemName)
    return protocol_error("open without its cursor name");
  std::string name;
  if (r.read_value(name_item, name, 64 * 1024) != ItemReader::Result::Ok) return false;
  const std::uint32_t options = load_le32(item.payload + 6);
  std::vector<WireType> unused;
  std::vector<std::vector<Value>> rows;
  if (!read_column_vars_and_rows(r, unused, rows)) return false;
  log("open " + std::to_string(id) + (name.empty() ? "" : " " + name));
  SqlError err;
  bool ok = params_converted(err);
  std::uint32_t handle = kNullHandle;
  Cursor c;
  if (!ok) {
    // a parameter's text has no form in the database's character set
  } else if (!engine_->has_statement(id)) {
    ok = false;
    err = sql_error(-130);
  } else if ((options & kOpenForwardOnly) != 0 && engine_->can_stream(id) &&
             id != last_executed_) {
    // A forward-only query streams: its rows are stepped as the client fetches them.
    ok = engine_->describe_output(id, c.columns, err) &&
         engine_->open_stream(id, rows.empty() ? std::vector<Value>{} : rows.front(), c.stream,
                              err);
    if (ok) {
      c.name = name;
      c.stmt = id;
      c.forward = true;
      if (!engine_->source_table(id, c.table, c.origin)) c.table.clear();
      for (const auto& col : c.columns) c.wanted.push_back(col.type);
      c.skip.assign(c.columns.size(), false);
      handle = next_cursor_++;
      if (next_cursor_ == 0) next_cursor_ = 1;
      cursors_[handle] = std::move(c);
      last_opened_ = handle;
    }
  } else if (engine_->is_query(id) && id != last_executed_) {
    // A query that already ran into column variables in this message has no
    // cursor to open; it is reported as not opened, like a statement that is no query.
    ExecResult res;
    const std::size_t budget = held_room();
    ok = engine_->describe_output(id, c.columns, err) &&
         engine_->execute(id, rows.empty() ? std::vector<Value>{} : rows.front(),
                          kMaxCursorRows + 1, res, err, budget);
    if (ok && res.rows.size() > kMaxCursorRows) {
      ok = false;
      err = sql_error(-1000, "Result set too large for the stand-in server");
    }
    if (ok && res.too_large) {
      ok = false;
      err = sql_error(-1000, "The result set would take more than " + held_bound_text() +
                                 "; close other cursors or ask for fewer rows");
    }
    const bool multi = ok && engine_->is_multi(id);
    if (multi && res.sets.empty()) {
      ok = true;  // several statements and no query among them ran: no cursor
    } else if (ok) {
      c.name = name;
      c.stmt = id;
      if (multi || !engine_->source_table(id, c.table, c.origin)) c.table.clear();
      c.bytes = res.bytes;
      cursor_bytes_ += c.bytes;
      settle_charge();
      if (multi) {
        // The first result set now; resume moves to the next.
        for (auto& set : res.sets) c.more.push_back(std::move(set));
        load_next_result(c);
      } else {
        c.rows = std::move(res.rows);
        for (const auto& col : c.columns) c.wanted.push_back(col.type);
        c.skip.assign(c.columns.size(), false);
        c.deleted.assign(c.rows.size(), false);
      }
      handle = next_cursor_++;
      if (next_cursor_ == 0) next_cursor_ = 1;
      cursors_[handle] = std::move(c);
      last_opened_ = handle;
    }
  }
  std::string h;
  put_le32(h, handle);
  w.put(kReplyCursor, h);
  if (ok && handle == kNullHandle) {
    const SqlError warn = sql_error(111);  // not a query: there is no cursor to open
    write_status(w, &warn);
  } else {
    write_status(w, ok ? nullptr : &err);
  }
  const std::uint32_t ncols =
      handle ? static_cast<std::uint32_t>(cursors_[handle].columns.size()) : 0;
  // Slot 16: the cursor options granted. Every kind and concurrency asked for is served
  // (a forward-only query streams, the others are held), so they are granted as asked;
  // bit 1 is the client's own mark and is never granted.
  const std::uint32_t granted = handle ? options & ~1u : 0;
  write_info(w,
             {{2, 0}, {3, 0}, {1, 0}, {6, ncols}, {16, granted}, {21, 0}, {kInfoFlagsSlot, 0}});
  return true;
}

bool Session::on_row_description(ItemReader& r, const Item& item) {
  if (item.length != 6)
    return protocol_error("row description item of " + std::to_string(item.length) + " bytes");
  std::uint32_t handle = load_le32(item.payload);
  if ((handle == kNullHandle || handle == kImplicitHandle) && last_opened_)
    handle = last_opened_;
  const auto it = cursors_.find(handle);
  Item col;
  for (;;) {
    if (r.next(col) != ItemReader::Result::Ok)
      return protocol_error("row description without its end item");
    if (col.code == kItemEnd) break;
    if (col.code != kReqRowColumn || col.length != 2)
      return protocol_error("item " + std::to_string(col.code) + " in a row description");
    const std::uint16_t k = load_le16(col.payload);
    Item def;
    if (r.next(def) != ItemReader::Result::Ok)
      return protocol_error("row description column without a definition");
    WireType t;
    if (!parse_definition(def, t))
      return protocol_error("bad definition item " + std::to_string(def.code) +
                            " in a row description");
    if (it == cursors_.end()) continue;  // nothing to send for it anyway
    Cursor& c = it->second;
    if (k == c.columns.size() && (t.type == -27 || def.code == kDefNone)) {
      c.bookmark = t.type == -27;
      continue;
    }
    if (k >= c.columns.size()) continue;
    c.skip[k] = def.code == kDefNone;
    if (def.code != kDefNone) c.wanted[k] = t;
  }
  log("row-description " + std::to_string(handle));
  return true;
}

void Session::plan_rows(Cursor& c) {
  c.sent_columns.clear();
  c.checked = false;
  for (std::size_t k = 0; k < c.columns.size(); ++k) {
    if (c.skip[k]) continue;
    c.sent_columns.push_back({k, wanted_item_code(c.wanted[k]),
                              ConversionCheck(c.columns[k].type, c.wanted[k])});
    c.checked = c.checked || c.sent_columns.back().check.can_refuse();
  }
}

std::uint32_t Session::write_rows(ItemWriter& w, Cursor& c, std::int64_t from,
                                  std::uint32_t count, RowsEnd* end) {
  *end = RowsEnd{};
  std::uint32_t written = 0;
  for (std::int64_t p = from; written < count; ++p) {
    const bool past = p < 1 || !have_row(c, p);
    const std::vector<Value>* row = past ? nullptr : row_at(c, p);
    if (row == nullptr || row_deleted(c, p)) {
      // The end of the rows, a row deleted through the cursor (or one a forward-only
      // cursor let go), or the error its rows stopped with: an end-of-row item with its
      // record, and no rows after it in this reply.
      end->failed = past && p >= 1 && c.stream_error;
      if (end->failed)
        end->err = *c.stream_error;
      else
        end->err = past ? sql_error(100) : sql_error(-197, "No current row of cursor");
      end->code = end->err.sqlcode;
      end->at = p;
      const std::uint8_t one = 1;
      w.put(kValEndOfRow, &one, 1);
      w.put(kStatusError, error_record_payload(end->err));
      w.put_empty(kItemEnd);
      break;
    }
    // A value that does not convert to the type the client bound fails its row the way
    // a deleted row does: the rows before it go out, the cursor rests on it.
    std::int32_t refused = 0;
    std::vector<Value> converted;
    if (!charset_.is_utf8()) {
      if (row_to_client(*row, converted, &c.wanted))
        row = &converted;
      else
        refused = conversion_error(charset_.name()).sqlcode;
    }
    if (c.checked) {
      for (const auto& col : c.sent_columns) {
        if (col.k < row->size()) refused = col.check.refusal((*row)[col.k]);
        if (refused != 0) break;
      }
    }
    if (refused != 0) {
      end->err = sql_error(refused);
      end->code = refused;
      end->at = p;
      const std::uint8_t one = 1;
      w.put(kValEndOfRow, &one, 1);
      w.put(kStatusError, error_record_payload(end->err));
      w.put_empty(kItemEnd);
      break;
    }
    for (const auto& col : c.sent_columns) {
      if (col.k < row->size())
        write_value_coded(w, (*row)[col.k], c.wanted[col.k], col.code);
      else
        w.put_empty(kValNull);  // as write_value() writes a NULL
    }
    if (c.bookmark) {
      WireType bm;
      bm.type = -27;
      write_value(w, Value::integer(p), bm);
    }
    const std::uint8_t zero = 0;
    w.put(kValEndOfRow, &zero, 1);
    ++written;
  }
  return written;
}

bool Session::on_fetch(const Item& item, ItemWriter& w) {
  if (item.length != 12)
    return protocol_error("fetch item of " + std::to_string(item.length) + " bytes");
  std::uint32_t handle = load_le32(item.payload);
  if ((handle == kNullHandle || handle == kImplicitHandle) && last_opened_)
    handle = last_opened_;
  const std::int32_t offset = static_cast<std::int32_t>(load_le32(item.payload + 4));
  const std::uint16_t rows = load_le16(item.payload + 8);
  const std::uint16_t options = load_le16(item.payload + 10);
  log("fetch " + std::to_string(handle) + " offset=" + std::to_string(offset) +
      " rows=" + std::to_string(rows) + " options=" + std::to_string(options));
  const auto it = cursors_.find(handle);
  if (it == cursors_.end()) {
    w.put_empty(kItemEnd);
    const SqlError err = sql_error(-180, "Cursor not open");
    write_status(w, &err);
    write_info(w, {{5, 0}, {1, 0}, {kInfoFlagsSlot, 0}});
    return true;
  }
  Cursor& c = it->second;
  // Absolute moves (bookmark moves among them: a bookmark is the row's position)
  // count from the first row, negative ones from the end; other moves are relative
  // to the current row. A lock request changes nothing here: the cursor reads its
  // rows from one snapshot, and no one else can change them under it. A streaming
  // cursor steps only as far as the move needs; an absolute move needs the count.
  if ((options & kFetchAbsolute) != 0) have_row(c, INT64_MAX);
  std::int64_t target;
  if (options & kFetchAbsolute)
    target = offset >= 0 ? offset : known_rows(c) + 1 + offset;
  else
    target = c.pos + offset;
  if (target >= 1) have_row(c, target);
  const std::int64_t n = c.stream ? std::max(known_rows(c), target) : known_rows(c);
  target = std::clamp<std::int64_t>(target, 0, n + 1);
  RowsEnd end;
  std::uint32_t written = 0;
  if (rows > 0) {
    plan_rows(c);
    written = write_rows(w, c, target, rows, &end);
    // The cursor rests on the last row sent; past the end it is after the last
    // row (before the first when moving back), on a deleted row it stays there.
    if (end.code == 100)
      c.pos = end.at < 1 ? 0 : known_rows(c) + 1;
    else if (end.code != 0)
      c.pos = end.at;
    else
      c.pos = target + written - 1;
  } else {
    c.pos = target;
    if (target < 1 || !have_row(c, target)) {
      end.err = target >= 1 && c.stream_error ? *c.stream_error : sql_error(100);
      end.code = end.err.sqlcode;
    } else if (row_at(c, target) == nullptr || row_deleted(c, target)) {
      end.err = sql_error(-197, "No current row of cursor");
      end.code = -197;
    }
  }
  w.put_empty(kItemEnd);
  if (end.code != 0 && written == 0) {
    write_status(w, &end.err);
  } else {
    write_status(w, nullptr);
  }
  c.sent = c.pos;
  let_go(c);
  write_info(w, {{5, static_cast<std::uint32_t>(c.pos)}, {1, written}, {kInfoFlagsSlot, 0}});
  return true;
}

bool Session::on_prefetch(const Item& item) {
  if (item.length != 16)
    return protocol_error("prefetch item of " + std::to_string(item.length) + " bytes");
  std::uint32_t handle = load_le32(item.payload);
  if ((handle == kNullHandle || handle == kImplicitHandle) && last_opened_)
    handle = last_opened_;
  const std::uint16_t limit = load_le16(item.payload + 8);
  std::uint16_t rows = load_le16(item.payload + 10);
  if (limit != 0xFFFF && limit < rows) rows = limit;
  log("prefetch " + std::to_string(handle) + " rows=" + std::to_string(rows));
  // The rows go in a reply message of their own, after the message's reply.
  PendingPrefetch p;
  p.handle = handle;
  p.rows = rows;
  p.status.swap(status_override_);
  p.info.swap(info_override_);
  prefetches_.push_back(std::move(p));
  return true;
}

bool Session::on_align(const Item& item) {
  if (item.length != 6)
    return protocol_error("align item of " + std::to_string(item.length) + " bytes");
  // An align may come at the head of a message or just before a prefetch in its
  // middle; a cursor opened earlier in the message is named by the null handle.
  std::uint32_t handle = load_le32(item.payload);
  if ((handle == kNullHandle || handle == kImplicitHandle) && last_opened_)
    handle = last_opened_;
  const auto it = cursors_.find(handle);
  const std::uint16_t delta = load_le16(item.payload + 4);
  log("align " + std::to_string(handle) + " delta=" + std::to_string(delta));
  if (it != cursors_.end()) {
    Cursor& c = it->second;
    const std::int64_t to = c.pos + delta;
    c.pos = have_row(c, to) ? to : std::min<std::int64_t>(to, known_rows(c) + 1);
    let_go(c);
  }
  return true;
}

bool Session::on_close(const Item& item, ItemWriter& w) {
  if (item.length != 4)
    return protocol_error("close item of " + std::to_string(item.length) + " bytes");
  const std::uint32_t handle = load_le32(item.payload);
  log("close " + std::to_string(handle));
  const auto found = cursors_.find(handle);
  if (found == cursors_.end()) {
    const SqlError err = sql_error(-180, "Cursor not open");
    write_status(w, &err);
  } else {
    erase_cursor(found);
    write_status(w, nullptr);
  }
  write_info(w, {{kInfoFlagsSlot, 0}});
  return true;
}

void Session::erase_cursor(std::map<std::uint32_t, Cursor>::iterator it) {
  cursor_bytes_ -= std::min(cursor_bytes_, it->second.bytes);
  cursors_.erase(it);
}

std::size_t Session::own_held_room() const {
  const std::size_t held = cursor_bytes_ + (engine_ ? engine_->held_bytes() : 0);
  return cfg_.limits.max_connection_bytes - std::min(cfg_.limits.max_connection_bytes, held);
}

std::size_t Session::held_room() const {
  const std::size_t own = own_held_room();
  return cfg_.memory ? std::min(own, cfg_.memory->room()) : own;
}

std::string Session::held_bound_text() const {
  if (cfg_.memory && cfg_.memory->room() < own_held_room())
    return "the " + std::to_string(cfg_.memory->limit()) +
           " bytes all connections of this server may hold together";
  return "the " + std::to_string(cfg_.limits.max_connection_bytes) +
         " bytes one connection may hold";
}

bool Session::on_close_by_name(ItemReader& r, const Item& item) {
  std::string name;
  if (r.read_value(item, name, 64 * 1024) != ItemReader::Result::Ok) return false;
  log("close-by-name " + name);
  for (auto it = cursors_.begin(); it != cursors_.end(); ++it) {
    if (it->second.name == name) {
      erase_cursor(it);
      break;
    }
  }
  return true;
}

bool Session::on_transaction(const Item& item, ItemWriter& w) {
  SqlError err;
  bool ok = true;
  if (item.code == kReqCommit) {
    log("commit");
    ok = engine_->commit(err);
  } else if (item.code == kReqRollback) {
    log("rollback");
    ok = engine_->rollback(err);
  } else {
    log("prepare-to-commit");
  }
  write_status(w, ok ? nullptr : &err);
  write_info(w, {{1, 0}, {kInfoFlagsSlot, 0}});
  return true;
}

bool Session::on_charset(const Item& item, ItemWriter& w) {
  const std::size_t n = item.payload_len();
  std::string name(reinterpret_cast<const char*>(item.payload), n);
  name = name.substr(0, name.find('\0'));
  log(std::string(item.code == kReqCharset ? "charset " : "nchar-charset ") + name);
  if (item.code == kReqCharset) {
    // "none" asks for the database's own set; a set we cannot convert leaves the
    // connection's as it was, and the reply names the one in force.
    if (name.empty() || strcasecmp(name.c_str(), "none") == 0) name = "UTF-8";
    (void)charset_.open(name);
    if (engine_) engine_->set_client_charset(charset_.name());
    if (agreed_.minor >= 13) w.put_bytes(kItemName, charset_.name());
  }
  write_status(w, nullptr);
  write_info(w, {{kInfoFlagsSlot, 0}});
  return true;
}

bool Session::on_shutdown(const Item& item, ItemWriter& w) {
  log("shutdown " + std::to_string(item.payload_len() ? item.payload[0] : 0));
  // Once connected to the database a user may stop the server. Before that only
  // a client on this machine (over shared memory) may, or over TCP/IP the client
  // that started this server to stop with its last connection: a connect road
  // shuts the server it started down again when its database connect fails, and
  // that client's connection is the first one the server accepted.
  if (state_ != State::Connected && !local_ && !(cfg_.started_for_auto_stop && number_ == 1)) {
    const SqlError err =
        sql_error(-121,
                  "Permission denied: a shutdown before the database connect is taken only "
                  "over shared memory or from the client that started this server to stop "
                  "by itself");
    write_status(w, &err);
    write_info(w, {{kInfoFlagsSlot, 0}});
    log("shutdown refused");
    return true;
  }
  write_status(w, nullptr);
  write_info(w, {{kInfoFlagsSlot, 0}});
  if (shutdown_hook_) shutdown_hook_();
  return true;
}

void Session::login_timed_out(unsigned seconds) {
  if (closed_ || state_ == State::Connected) return;
  if (state_ == State::AwaitAppConnect) {
    close("no app-connect within " + std::to_string(seconds) + " seconds");
    return;
  }
  fail_connection("no database connect within " + std::to_string(seconds) + " seconds");
}

void Session::liveness_timed_out(unsigned seconds) {
  close("no sign of life from the client within its liveness time-out of " +
        std::to_string(seconds) + " seconds");
}

bool Session::on_disconnect(ItemWriter& w) {
  log("disconnect");
  SqlError err;
  if (engine_) engine_->rollback(err);
  write_status(w, nullptr);
  w.put_empty(kItemEnd);  // the closing item
  close_after_reply_ = "client disconnected";
  return true;
}

// Text between the client's character set and the database's UTF-8. A UTF-8
// connection passes everything through untouched.
bool Session::text_to_db(std::string& text, SqlError& err) const {
  if (charset_.is_utf8()) return true;
  std::string out;
  if (!charset_.to_db(text, out)) {
    err = conversion_error(charset_.name());
    return false;
  }
  text.swap(out);
  return true;
}

bool Session::params_converted(SqlError& err) {
  if (!unconvertible_param_) return true;
  unconvertible_param_ = false;
  err = conversion_error(charset_.name());
  return false;
}

bool Session::row_to_client(const std::vector<Value>& row, std::vector<Value>& out,
                            const std::vector<WireType>* wanted) const {
  out = row;
  if (charset_.is_utf8()) return true;
  for (std::size_t k = 0; k < out.size(); ++k) {
    Value& v = out[k];
    if (v.kind != Value::Text) continue;
    // NCHAR values travel in the NCHAR set, which stays UTF-8.
    if (wanted != nullptr && k < wanted->size() && is_nchar_type((*wanted)[k].type)) continue;
    std::string s;
    if (!charset_.from_db(v.s, s)) return false;
    v.s.swap(s);
  }
  return true;
}

std::string Session::text_to_client(const std::string& text) const {
  // A message is never lost over a character: one that does not convert whole goes
  // with every non-ASCII byte as '?', and the error record still says what failed.
  std::string out;
  if (charset_.is_utf8()) return text;
  if (charset_.from_db(text, out)) return out;
  out.clear();
  for (std::size_t k = 0; k < text.size();) {
    std::size_t n = 1;
    while (k + n < text.size() && (static_cast<unsigned char>(text[k + n]) & 0xC0) == 0x80) ++n;
    std::string one;
    out += charset_.from_db(text.substr(k, n), one) ? one : std::string("?");
    k += n;
  }
  return out;
}

}  // namespace vqeng
