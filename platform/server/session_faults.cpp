// The scripted fault mode inside a session: matching rules to requests and
// carrying out what they ask.
#include <algorithm>
#include <chrono>
#include <thread>

#include "request_items.h"
#include "session.h"
#include "sql_error.h"
#include "wire.h"

namespace vqeng {
namespace {

std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::string Session::request_text(ItemReader r, const Item& item) {
  // The reader is a copy: looking at the text consumes nothing of the request.
  std::string text;
  switch (item.code) {
    case kReqPrepare:
    case kReqExecImmediate:
    case kReqNeedsQuotes:
      if (r.read_value(item, text, cfg_.limits.max_message_bytes) != ItemReader::Result::Ok)
        text.clear();
      return text;
    case kReqExecute:
    case kReqOpen:
    case kReqDescribeInput:
    case kReqDescribeOutput:
      if (!engine_ || item.payload_len() < 4) return {};
      return engine_->statement_text(resolve(load_le32(item.payload)));
    case kReqFetch:
    case kReqPrefetch:
    case kReqGetData:
    case kReqClose:
    case kReqPut:
    case kReqUpdate:
    case kReqDelete: {
      if (!engine_ || item.payload_len() < 4) return {};
      const Cursor* c = cursor_of(load_le32(item.payload));
      return c ? engine_->statement_text(c->stmt) : std::string();
    }
    default:
      return {};
  }
}

void Session::apply_faults(ItemReader& r, const Item& item, ItemWriter& w) {
  if (cfg_.faults.empty() && own_rules_.empty()) return;
  script_seen_.resize(cfg_.faults.size(), 0);
  std::string text;
  bool have_text = false;
  // The first rule that matches decides; the script's rules come first.
  auto match = [&](const FaultRule& rule, unsigned& seen) {
    if (rule.request >= 0 && rule.request != item.code) return false;
    if (!rule.text.empty()) {
      if (!have_text) {
        text = lower(request_text(r, item));
        have_text = true;
      }
      if (text.find(rule.text) == std::string::npos) return false;
    }
    ++seen;
    return rule.nth == 0 || seen == rule.nth;
  };
  const FaultRule* fired = nullptr;
  for (std::size_t i = 0; i < cfg_.faults.size() && !fired; ++i)
    if (match(cfg_.faults[i], script_seen_[i])) fired = &cfg_.faults[i];
  for (std::size_t i = 0; i < own_rules_.size() && !fired; ++i)
    if (match(own_rules_[i], own_seen_[i])) fired = &own_rules_[i];
  if (!fired) return;
  log("fault: " + fired->source);
  switch (fired->action) {
    case FaultRule::Action::Normal:
      break;
    case FaultRule::Action::Record:
      status_override_ = sql_error(fired->code, fired->message);
      break;
    case FaultRule::Action::Redirect:
      redirect_ = std::make_pair(fired->target, fired->message);
      break;
    case FaultRule::Action::Info:
      info_override_ = std::make_pair(static_cast<std::uint8_t>(fired->slot), fired->value);
      break;
    case FaultRule::Action::Delay:
      fault_delay_ms_ = std::max(fault_delay_ms_, fired->millis);
      break;
    case FaultRule::Action::Drop:
      fault_drop_ = true;
      break;
    case FaultRule::Action::Corrupt:
      fault_corrupt_ = true;
      break;
    case FaultRule::Action::Unexpected:
      w.put_empty(fired->item);
      break;
    case FaultRule::Action::Hang:
      fault_hang_ = true;
      break;
    case FaultRule::Action::Silent:
      fault_hang_ = true;
      silent_ = true;
      break;
    case FaultRule::Action::GarbleToken:
      fault_garble_token_ = true;
      break;
    case FaultRule::Action::Message: {
      // Item 2 (type, code) and the text in the next item; the client's reader
      // hands both to its message callback and reads on.
      std::string head(1, static_cast<char>(fired->message_type));
      put_le32(head, static_cast<std::uint32_t>(fired->code));
      w.put(kItemServerMessage, head);
      w.put_bytes(kItemMessageText, fired->message);
      break;
    }
    case FaultRule::Action::Notice: {
      // An immediate packet: type 26, then 6, 2, the type, the code and the text.
      std::string pk{static_cast<char>(kPktLiveness),       0, 0, 0, 6, 2,
                     static_cast<char>(fired->message_type)};
      put_le32(pk, static_cast<std::uint32_t>(fired->code));
      pk += fired->message.substr(0, agreed_.packet_size - 11u);
      store_be16(reinterpret_cast<std::uint8_t*>(&pk[2]),
                 static_cast<std::uint16_t>(pk.size()));
      send_packets({pk});
      break;
    }
  }
}

bool Session::on_fault_option(const std::string* value, std::string& why) {
  if (!value || value->find_first_not_of(" \t") == std::string::npos) {
    own_rules_.clear();
    own_seen_.clear();
    log("fault rules of this connection cleared");
    return true;
  }
  FaultRule rule;
  bool empty = false;
  if (!parse_fault_rule(*value, rule, &empty, why)) return false;
  if (empty) return true;
  log("fault rule added: " + rule.source);
  own_rules_.push_back(std::move(rule));
  own_seen_.push_back(0);
  return true;
}

bool Session::send_reply(ItemWriter& w) {
  if (fault_hang_) {
    log("fault: reply withheld");
    return false;
  }
  if (fault_delay_ms_ > 0) {
    // Waits in short steps, so that an attention or the peer's leaving ends it.
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(fault_delay_ms_);
    while (std::chrono::steady_clock::now() < until && attentions_ == 0 && !closed_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (poll_hook_) poll_hook_();
    }
    if (attentions_ > 0 || closed_) return false;
  }
  std::vector<std::string> packets = w.finish();
  if (fault_corrupt_) {
    packets.front()[0] = 9;  // a packet type no peer takes
    log("fault: reply sent in a packet of type 9");
  }
  if (fault_drop_) {
    const std::size_t before = out_.size();
    packets.resize(1);
    send_packets(std::move(packets));
    out_.resize(before + (out_.size() - before) / 2);
    close("fault: connection dropped in the middle of a reply");
    return false;
  }
  send_packets(std::move(packets));
  return true;
}

}  // namespace vqeng
