// Requests that belong to no statement or cursor: options, server information,
// identifier quoting, transfer files, the cursor check, pooling and database
// control.
#include <algorithm>
#include <cctype>
#include <map>

#include "connect_request.h"
#include "kerberos_login.h"
#include "request_items.h"
#include "session.h"
#include "sql_error.h"
#include "wire.h"

namespace vqeng {

bool Session::read_definition(ItemReader& r, WireType& t, const char* what) {
  Item def;
  if (r.next(def) != ItemReader::Result::Ok || def.code < kDefNone || def.code > 99 ||
      def.code == kDefSecondName)
    return protocol_error(std::string(what) + " without its value definition");
  if (!parse_definition(def, t))
    return protocol_error("bad definition item " + std::to_string(def.code) + " in " + what);
  return true;
}

bool Session::read_name_item(ItemReader& r, std::string& name, const char* what) {
  Item it;
  if (r.next(it) != ItemReader::Result::Ok || it.code != kItemName)
    return protocol_error(std::string(what) + " without its name item");
  if (it.length == 254) {  // the "no name" form
    name.clear();
    return true;
  }
  return r.read_value(it, name, 64 * 1024) == ItemReader::Result::Ok;
}

void Session::write_optional_value(ItemWriter& w, const Value* v, const WireType& t) {
  if (v && t.type != 0) write_value(w, *v, t);
  w.put_empty(kItemEnd);
}

bool Session::on_get_option(ItemReader& r, const Item& item, ItemWriter& w) {
  std::string name, second;
  WireType t;
  if (!read_name_item(r, name, "get-option") || !read_name_item(r, second, "get-option") ||
      !read_definition(r, t, "get-option"))
    return false;
  (void)item;
  log("get-option " + name + (second.empty() ? "" : " (" + second + ")"));
  std::string value;
  if (engine_->option_value(name, value)) {
    const Value v = Value::text(value);
    write_optional_value(w, &v, t);
    write_status(w, nullptr);
  } else {
    write_optional_value(w, nullptr, t);
    const SqlError err = sql_error(-200, "Invalid option '" + name + "'", {name});
    write_status(w, &err);
  }
  write_info(w, {{kInfoFlagsSlot, 0}});
  return true;
}

bool Session::on_set_option(ItemReader& r, const Item& item, ItemWriter& w) {
  if (item.length != 1)
    return protocol_error("set-option item of " + std::to_string(item.length) + " bytes");
  std::string name, second;
  if (!read_name_item(r, name, "set-option") || !read_name_item(r, second, "set-option"))
    return false;
  Item v;
  if (r.next(v) != ItemReader::Result::Ok || (v.code != 107 && v.code != kValNoValue))
    return protocol_error("set-option without its value item");
  std::string value;
  const bool is_null = v.code == kValNoValue;
  if (!is_null && r.read_value(v, value, 64 * 1024) != ItemReader::Result::Ok) return false;
  log("set-option " + name + (is_null ? " to its default" : " = " + log_text(value)) +
      (item.payload[0] ? " (temporary)" : ""));
  SqlError err;
  if (name.empty()) {
    err = sql_error(-200, "Invalid option ''", {name});
    write_status(w, &err);
  } else if (!engine_->set_option_value(name, is_null ? nullptr : &value, err)) {
    write_status(w, &err);
  } else {
    write_status(w, nullptr);
  }
  write_info(w, {{kInfoFlagsSlot, 0}});
  return true;
}

bool Session::on_server_info(ItemReader& r, const Item& item, ItemWriter& w) {
  if (item.length != 2)
    return protocol_error("server-info item of " + std::to_string(item.length) + " bytes");
  WireType t;
  if (!read_definition(r, t, "server-info")) return false;
  const std::uint16_t kind = load_le16(item.payload);
  log("server-info " + std::to_string(kind));
  // Kind 0 names the Kerberos service principal a client asks its ticket for
  // (asked before the database connect); a server started without a keytab takes
  // no Kerberos logins. Kind 1 is its name and kind 2 its version, our own choice.
  SqlError err;
  bool ok = true;
  Value v;
  switch (kind) {
    case 1:
      v = Value::text(cfg_.server_name);
      break;
    case 2:
      v = Value::text(cfg_.version);
      break;
    case 0:
      if (cfg_.kerberos) {
        v = Value::text(cfg_.kerberos->principal());
      } else {
        ok = false;
        err = sql_error(-1070, "This server takes no Kerberos logins");
      }
      break;
    default:
      ok = false;
      err = sql_error(-1000, "Unknown server information kind " + std::to_string(kind));
      break;
  }
  write_optional_value(w, ok ? &v : nullptr, t);
  write_status(w, ok ? nullptr : &err);
  write_info(w, {{kInfoFlagsSlot, 0}});
  return true;
}

bool Session::on_text_request(ItemReader& r, const Item& item, ItemWriter& w) {
  std::string text;
  if (r.read_value(item, text, 64 * 1024) != ItemReader::Result::Ok) return false;
  if (item.code == kReqNeedsQuotes) {
    // The answer is information slot 1: 1 when the identifier must be quoted (it
    // is empty, starts with a digit, or holds anything but letters, digits, _, @,
    // # and $), else 0.
    bool quotes = text.empty() || std::isdigit(static_cast<unsigned char>(text[0]));
    for (char c : text)
      quotes |= !(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@' ||
                  c == '#' || c == '$');
    log("needs-quotes " + log_text(text) + (quotes ? " yes" : " no"));
    write_status(w, nullptr);
    write_info(w, {{1, quotes ? 1u : 0u}, {kInfoFlagsSlot, 0}});
    return true;
  }
  // Delete file: this server never sends files to a client, so there is none of
  // its own to delete, and it deletes no other.
  log("delete-file " + log_text(text));
  write_status(w, nullptr);
  write_info(w, {{kInfoFlagsSlot, 0}});
  return true;
}

bool Session::on_cursor_check(ItemReader& r, const Item& first, ItemWriter& w) {
  // Item 47 once per listed cursor, then one sync point: a status and slot 18 for each.
  Item item = first;
  for (;;) {
    if (item.length != 4)
      return protocol_error("cursor-check item of " + std::to_string(item.length) + " bytes");
    const std::uint32_t handle = load_le32(item.payload);
    const bool open = cursors_.count(handle) != 0;
    log("cursor-check " + std::to_string(handle) + (open ? " open" : " closed"));
    write_status(w, nullptr);
    write_info(w, {{kInfoCursorState, open ? 0u : kCursorClosedBit}, {kInfoFlagsSlot, 0}});
    const auto rc = r.next(item);
    if (rc == ItemReader::Result::Error) return false;
    if (rc == ItemReader::Result::EndOfMessage) return true;
    if (item.code != kReqCursorCheck) {
      r.unread();
      return true;
    }
  }
}

bool Session::on_pool(ItemReader& r, const Item& item, ItemWriter& w) {
  if (item.length != 2)
    return protocol_error("pool item of " + std::to_string(item.length) + " bytes");
  SqlError err;
  if (item.code == kReqPoolPark) {
    // Parked: the client keeps the connection for a later connect with the same
    // string. Its work and cursors end here.
    log("pool-park");
    engine_->rollback(err);
    cursors_.clear();
    cursor_bytes_ = 0;
    write_status(w, nullptr);
    write_info(w, {{kInfoFlagsSlot, 0}});
    return true;
  }
  std::string name;
  if (!read_name_item(r, name, "pool-reuse")) return false;
  log("pool-reuse" + (name.empty() ? std::string() : " " + name));
  std::string h;
  put_le32(h, number_);
  w.put(kReqHandle, h);
  write_status(w, nullptr);
  write_info(w, {{19, 0}, {24, cfg_.statement_cache}});
  return true;
}

bool Session::on_database_control(ItemReader& r, const Item& item, ItemWriter& w) {
  // This server serves one database. A start of it runs it again after a stop, a
  // start of another is refused; a stop needs the unconditional flag while other
  // connections use the database.
  SqlError err;
  bool ok = true;
  DatabaseState& db = *cfg_.state;
  if (item.code == kReqFind) {
    log("find");
  } else if (item.code == kReqStartDatabase) {
    std::string text;
    if (r.read_value(item, text, 64 * 1024) != ItemReader::Result::Ok) return false;
    std::map<std::string, std::string> kv;
    std::string why;
    parse_connect_string(text, kv, why);
    for (auto& c : text) c = 0;
    const std::string dbn = kv.count("DBN") ? kv["DBN"] : std::string();
    for (auto& e : kv) std::fill(e.second.begin(), e.second.end(), '\0');
    log("start-database " + dbn);
    if (!dbn.empty() && cfg_.database_named && !same_name(dbn, cfg_.database_name)) {
      ok = false;
      err = sql_error(-83, "Specified database not found", {dbn});
    } else {
      std::lock_guard<std::mutex> hold(db.mu);
      db.running = true;
    }
  } else {
    if (item.length != 1)
      return protocol_error("stop-database item of " + std::to_string(item.length) + " bytes");
    const bool unconditional = item.payload[0] != 0;
    std::string name;
    if (!read_name_item(r, name, "stop-database")) return false;
    log(std::string("stop-database ") + name + (unconditional ? " unconditionally" : ""));
    std::lock_guard<std::mutex> hold(db.mu);
    const unsigned others = db.users - (database_user_ ? 1 : 0);
    if (!same_name(name, cfg_.database_name)) {
      ok = false;
      err = sql_error(-83, "Specified database not found", {name});
    } else if (others != 0 && !unconditional) {
      ok = false;
      err = sql_error(-121, "Permission denied: database " + cfg_.database_name + " has " +
                                std::to_string(others) +
                                " other connections; it is stopped only unconditionally");
    } else {
      db.running = false;
    }
  }
  write_status(w, ok ? nullptr : &err);
  write_info(w, {{kInfoFlagsSlot, 0}});
  return true;
}

}  // namespace vqeng
