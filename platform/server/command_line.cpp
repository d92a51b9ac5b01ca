// Command-line parsing of the stand-in server.
#include "command_line.h"

#include <cctype>
#include <cstdlib>

namespace vqeng {
namespace {

bool parse_int(const std::string& s, int lo, int hi, int& out) {
  if (s.empty() || s.size() > 9) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  const long v = std::strtol(s.c_str(), nullptr, 10);
  if (v < lo || v > hi) return false;
  out = static_cast<int>(v);
  return true;
}

std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// "tcpip", "tcpip(port=N)" or "tcpip{port=N;...}".
bool parse_link(const std::string& text, CommandLine& out, std::string& why) {
  const std::string t = lower(text);
  if (t.compare(0, 5, "tcpip") != 0) {
    why = "unknown link " + text;
    return false;
  }
  out.tcpip = true;
  if (t.size() == 5) return true;
  const char open = t[5];
  const char close = open == '(' ? ')' : (open == '{' ? '}' : 0);
  if (!close || t.back() != close) {
    why = "malformed link options " + text;
    return false;
  }
  const std::string opts = t.substr(6, t.size() - 7);
  std::size_t i = 0;
  while (i < opts.size()) {
    std::size_t end = opts.find_first_of(";,", i);
    if (end == std::string::npos) end = opts.size();
    const std::string kv = opts.substr(i, end - i);
    const auto eq = kv.find('=');
    if (eq != std::string::npos) {
      const std::string k = kv.substr(0, eq);
      if (k == "port" || k == "serverport") {
        if (!parse_int(kv.substr(eq + 1), 0, 65535, out.port)) {
          why = "bad port in " + text;
          return false;
        }
      }
    }
    i = end + 1;
  }
  return true;
}

// A byte count with an optional K, M or G suffix (powers of 1024).
bool parse_bytes(const std::string& s, std::size_t lo, std::size_t& out) {
  if (s.empty() || s.size() > 12) return false;
  std::size_t digits = s.size(), shift = 0;
  switch (std::toupper(static_cast<unsigned char>(s.back()))) {
    case 'K':
      shift = 10;
      --digits;
      break;
    case 'M':
      shift = 20;
      --digits;
      break;
    case 'G':
      shift = 30;
      --digits;
      break;
    default:
      break;
  }
  if (digits == 0) return false;
  for (std::size_t i = 0; i < digits; ++i)
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
  const unsigned long long v = std::strtoull(s.substr(0, digits).c_str(), nullptr, 10);
  if (v > (1ull << 40) >> shift) return false;  // at most 1 TiB
  if ((v << shift) < lo) return false;
  out = static_cast<std::size_t>(v << shift);
  return true;
}

// --name=value; false with `why` for an unknown name or a bad value.
bool parse_long_option(const std::string& a, CommandLine& out, std::string& why) {
  const auto eq = a.find('=');
  const std::string name = a.substr(0, eq);
  const std::string v = eq == std::string::npos ? std::string() : a.substr(eq + 1);
  int n = 0;
  bool ok;
  if (name == "--max-message-bytes") {
    ok = parse_bytes(v, 1024, out.limits.max_message_bytes);
  } else if (name == "--max-connection-bytes") {
    ok = parse_bytes(v, 4096, out.limits.max_connection_bytes);
  } else if (name == "--max-server-bytes") {
    ok = parse_bytes(v, 4096, out.limits.max_server_bytes);
  } else if (name == "--max-connections") {
    ok = parse_int(v, 1, 100000, n);
    if (ok) out.limits.max_connections = static_cast<unsigned>(n);
  } else if (name == "--liveness") {
    ok = true;
    if (v == "echo")
      out.liveness = -1;
    else if (v == "off")
      out.liveness = 0;
    else if ((ok = parse_int(v, 1, 32767, n)))
      out.liveness = n;
  } else if (name == "--fault-script") {
    ok = !v.empty();
    out.fault_script = v;
  } else if (name == "--kerberos-keytab") {
    ok = !v.empty();
    out.kerberos_keytab = v;
  } else if (name == "--tls-cert") {
    ok = !v.empty();
    out.tls_cert = v;
  } else if (name == "--tls-key") {
    ok = !v.empty();
    out.tls_key = v;
  } else if (name == "--kerberos-service") {
    ok = !v.empty();
    out.kerberos_service = v;
  } else if (name == "--starting") {
    ok = parse_int(v, 0, 600000, out.starting_ms);
  } else if (name == "--statement-cache") {
    ok = parse_int(v, 0, 65535, n);
    if (ok) out.statement_cache = n;
  } else if (name == "--login-timeout") {
    ok = parse_int(v, 0, 86400, n);
    if (ok) out.limits.login_timeout_seconds = static_cast<unsigned>(n);
  } else {
    why = "unknown option " + name;
    return false;
  }
  if (!ok) why = "bad value for " + name + ": '" + v + "'";
  return ok;
}

}  // namespace

bool parse_command_line(const std::vector<std::string>& args, CommandLine& out,
                        std::string& why) {
  auto value = [&](std::size_t& i, std::string& v) {
    if (i + 1 >= args.size()) {
      why = "option " + args[i] + " needs a value";
      return false;
    }
    v = args[++i];
    return true;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string v;
    if (a == "-ga") {
      out.auto_stop = true;
    } else if (a == "-ha") {
      out.hidden = true;
    } else if (a == "-ud") {
      if (!value(i, v)) return false;
      out.discovery = v;
    } else if (a == "-n") {
      if (!value(i, v)) return false;
      (out.database_file.empty() ? out.server_name : out.database_name) = v;
    } else if (a == "-ek") {
      if (!value(i, v)) return false;
      out.database_key = v;
    } else if (a == "-x") {
      if (!value(i, v) || !parse_link(v, out, why)) return false;
    } else if (a == "-rl") {
      if (!value(i, v)) return false;
      out.request_log = v;
    } else if (a == "-hn") {
      if (!value(i, v)) return false;
      if (!parse_int(v, 0, 1 << 20, out.handshake_fd)) {
        why = "bad hand-shake descriptor " + v;
        return false;
      }
    } else if (a.compare(0, 2, "--") == 0) {
      if (!parse_long_option(a, out, why)) return false;
    } else if (!a.empty() && a[0] == '-') {
      out.ignored.push_back(a);
    } else if (out.database_file.empty()) {
      out.database_file = a;
    } else {
      out.ignored.push_back(a);
    }
  }
  if (out.kerberos_keytab.empty() != out.kerberos_service.empty()) {
    why = "Kerberos logins need both --kerberos-keytab and --kerberos-service";
    return false;
  }
  if (out.tls_cert.empty() != out.tls_key.empty()) {
    why = "TLS needs both --tls-cert and --tls-key";
    return false;
  }
  return true;
}

std::vector<std::string> with_environment_switches(const char* text,
                                                   std::vector<std::string> args) {
  std::vector<std::string> all;
  std::string word;
  for (const char* p = text; p != nullptr && *p != '\0'; ++p) {
    if (std::isspace(static_cast<unsigned char>(*p))) {
      if (!word.empty()) all.push_back(word);
      word.clear();
    } else {
      word += *p;
    }
  }
  if (!word.empty()) all.push_back(word);
  all.insert(all.end(), args.begin(), args.end());
  return all;
}

}  // namespace vqeng
