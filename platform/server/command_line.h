// The server's command line, as the client's local-server start builds it:
//   vqeng12 [-ga] [-ha] [-n server] [database-file [-ek "key"] [switches] [-n database]]
//           [-x tcpip(port=N)] [-rl request-log] -hn fd
// -n before the database file names the server, after it the database. Unknown
// switches (database switches the stand-in has no use for) are skipped.
#pragma once

#include <string>
#include <vector>

namespace vqeng {

struct CommandLine {
  std::string discovery;  // -ud ADDRESS:PORT: answer discovery requests there (off when empty)
  std::string server_name;
  std::string database_file;
  std::string database_name;
  std::string database_key;
  bool auto_stop = false;         // -ga
  bool hidden = false;            // -ha
  bool tcpip = false;             // -x tcpip(...)
  int port = 2638;                // -x tcpip(port=N); 0 picks a free port
  int handshake_fd = -1;          // -hn
  std::string request_log;        // -rl
  std::vector<std::string> ignored;
};

// False with `why` for a malformed command line.
bool parse_command_line(const std::vector<std::string>& args, CommandLine& out, std::string& why);

}  // namespace vqeng
