// Parsing of fault rules.
#include "fault_script.h"

#include <cctype>
#include <cstdlib>
#include <sstream>

#include "request_items.h"

namespace vqeng {
namespace {

struct Name {
  const char* name;
  int code;
};
constexpr Name kNames[] = {
    {"find", kReqFind},
    {"time-zone", kReqTimeZone},
    {"charset", kReqCharset},
    {"nchar-charset", kReqNcharCharset},
    {"server-info", kReqServerInfo},
    {"start-database", kReqStartDatabase},
    {"shutdown", kReqShutdown},
    {"stop-database", kReqStopDatabase},
    {"pool-reuse", kReqPoolReuse},
    {"pool-park", kReqPoolPark},
    {"connect", kReqConnect},
    {"disconnect", kReqDisconnect},
    {"validate", kReqValidate},
    {"prepare", kReqPrepare},
    {"drop", kReqDrop},
    {"execute", kReqExecute},
    {"exec-immediate", kReqExecImmediate},
    {"describe-input", kReqDescribeInput},
    {"describe", kReqDescribeOutput},
    {"cached-drop", kReqCachedDrop},
    {"open", kReqOpen},
    {"close", kReqClose},
    {"fetch", kReqFetch},
    {"prefetch", kReqPrefetch},
    {"align", kReqAlign},
    {"get-data", kReqGetData},
    {"put", kReqPut},
    {"update", kReqUpdate},
    {"delete", kReqDelete},
    {"resume", kReqResume},
    {"explain", kReqExplain},
    {"describe-cursor-input", kReqDescribeCursorInput},
    {"describe-cursor", kReqDescribeCursorOutput},
    {"cursor-check", kReqCursorCheck},
    {"close-by-name", kReqCloseByName},
    {"set-option", kReqSetOption},
    {"get-option", kReqGetOption},
    {"delete-file", kReqDeleteFile},
    {"needs-quotes", kReqNeedsQuotes},
    {"commit", kReqCommit},
    {"rollback", kReqRollback},
    {"prepare-to-commit", kReqPrepareCommit},
    {"row-description", kReqRowDescription},
};

bool to_number(const std::string& s, long lo, long hi, long& out) {
  if (s.empty() || s.size() > 11) return false;
  std::size_t i = s[0] == '-' ? 1 : 0;
  if (i == s.size()) return false;
  for (; i < s.size(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
  out = std::strtol(s.c_str(), nullptr, 10);
  return out >= lo && out <= hi;
}

std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

int request_code(const std::string& name) {
  const std::string n = lower(name);
  for (const auto& k : kNames)
    if (n == k.name) return k.code;
  return -1;
}

bool parse_fault_rule(const std::string& line, FaultRule& rule, bool* empty, std::string& why) {
  rule = FaultRule{};
  *empty = false;
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  if (words.empty() || words[0][0] == '#') {
    *empty = true;
    return true;
  }
  std::size_t at = 0;
  long n = 0;
  const std::string req = lower(words[at++]);
  if (req == "any") {
    rule.request = -1;
  } else if (to_number(req, 0, 255, n)) {
    rule.request = static_cast<int>(n);
  } else if ((rule.request = request_code(req)) < 0) {
    why = "unknown request '" + words[0] + "'";
    return false;
  }
  for (; at < words.size(); ++at) {
    const std::string w = lower(words[at]);
    if (w.compare(0, 4, "nth=") == 0) {
      if (!to_number(w.substr(4), 1, 1000000, n)) {
        why = "bad count in '" + words[at] + "'";
        return false;
      }
      rule.nth = static_cast<unsigned>(n);
    } else if (w.compare(0, 5, "text=") == 0) {
      rule.text = w.substr(5);
      if (rule.text.empty()) {
        why = "empty text= word";
        return false;
      }
    } else {
      break;
    }
  }
  if (at >= words.size()) {
    why = "rule without an action";
    return false;
  }
  const std::string action = lower(words[at++]);
  const std::size_t args = words.size() - at;
  auto rest = [&] {
    std::string m;
    for (std::size_t i = at; i < words.size(); ++i) m += (m.empty() ? "" : " ") + words[i];
    return m;
  };
  if (action == "normal" || action == "drop" || action == "corrupt" || action == "hang" ||
      action == "silent" || action == "garble-token") {
    if (args != 0) {
      why = "'" + action + "' takes no arguments";
      return false;
    }
    rule.action = action == "normal"         ? FaultRule::Action::Normal
                  : action == "drop"         ? FaultRule::Action::Drop
                  : action == "corrupt"      ? FaultRule::Action::Corrupt
                  : action == "garble-token" ? FaultRule::Action::GarbleToken
                  : action == "silent"       ? FaultRule::Action::Silent
                                             : FaultRule::Action::Hang;
  } else if (action == "error" || action == "warning") {
    const bool error = action == "error";
    if (args == 0 || !to_number(words[at], error ? -99999 : 1, error ? -1 : 99999, n)) {
      why = "'" + action + "' needs a " + (error ? "negative" : "positive") + " SQL code";
      return false;
    }
    rule.action = FaultRule::Action::Record;
    rule.code = static_cast<std::int32_t>(n);
    ++at;
    rule.message = rest();
  } else if (action == "message" || action == "notice") {
    long type = 0, code = 0;
    if (args < 2 || !to_number(words[at], 0, 255, type) ||
        !to_number(words[at + 1], -2147483647L - 1, 2147483647L, code)) {
      why = "'" + action + "' needs a message type (0 to 255) and a code";
      return false;
    }
    rule.action = action == "message" ? FaultRule::Action::Message : FaultRule::Action::Notice;
    rule.message_type = static_cast<std::uint8_t>(type);
    rule.code = static_cast<std::int32_t>(code);
    at += 2;
    rule.message = rest();
  } else if (action == "redirect") {
    if (args < 2 || words[at].size() > 250) {
      why = "'redirect' needs a server name and connection parameters";
      return false;
    }
    rule.action = FaultRule::Action::Redirect;
    rule.target = words[at++];
    rule.message = rest();
  } else if (action == "info") {
    long slot = 0, value = 0;
    if (args != 2 || !to_number(words[at], 0, 255, slot) ||
        !to_number(words[at + 1], 0, 4294967295L, value)) {
      why = "'info' needs a slot (0 to 255) and a value (0 to 4294967295)";
      return false;
    }
    rule.action = FaultRule::Action::Info;
    rule.slot = static_cast<unsigned>(slot);
    rule.value = static_cast<std::uint32_t>(value);
  } else if (action == "delay") {
    if (args != 1 || !to_number(words[at], 0, 600000, n)) {
      why = "'delay' needs milliseconds (0 to 600000)";
      return false;
    }
    rule.action = FaultRule::Action::Delay;
    rule.millis = static_cast<unsigned>(n);
  } else if (action == "unexpected") {
    rule.action = FaultRule::Action::Unexpected;
    if (args > 1 || (args == 1 && !to_number(words[at], 0, 255, n))) {
      why = "'unexpected' takes one item code (0 to 255)";
      return false;
    }
    if (args == 1) rule.item = static_cast<std::uint8_t>(n);
  } else {
    why = "unknown action '" + words[at - 1] + "'";
    return false;
  }
  rule.source = line;
  while (!rule.source.empty() && std::isspace(static_cast<unsigned char>(rule.source.back())))
    rule.source.pop_back();
  return true;
}

bool parse_fault_script(const std::string& text, std::vector<FaultRule>& rules,
                        std::string& why) {
  std::istringstream in(text);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    FaultRule rule;
    bool empty = false;
    std::string w;
    if (!parse_fault_rule(line, rule, &empty, w)) {
      why = "line " + std::to_string(number) + ": " + w;
      return false;
    }
    if (!empty) rules.push_back(std::move(rule));
  }
  return true;
}

}  // namespace vqeng
