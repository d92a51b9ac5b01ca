// The server's command line, as the client's local-server start builds it:
//   vqeng12 [-ga] [-ha] [-n server] [database-file [-ek "key"] [switches] [-n database]]
//           [-x tcpip(port=N)] [-rl request-log] -hn fd
// -n before the database file names the server, after it the database. Unknown
// switches (database switches the stand-in has no use for) are skipped.
//
// The stand-in's own limits (limits.h) take long options, written --name=value:
//   --max-message-bytes=N     one request message, after inflating (K, M, G suffixes)
//   --max-connection-bytes=N  what one connection may hold
//   --max-connections=N       connections served at once (at least 1)
//   --max-server-bytes=N      what all connections together may hold (default 512M)
//   --login-timeout=S         seconds to finish the app-connect and the connect (0: none)
//   --statement-cache=N       statements a client may keep prepared here after it has
//                             let them go (the connect reply's slot 24); 0, the
//                             default, keeps the client's statement cache off
//   --fault-script=FILE       rules of the scripted fault mode (fault_script.h)
//   --liveness=S              liveness time-out of the app-connect reply: "echo" (the
//                             client's own, the default), "off", or seconds
//   --kerberos-keytab=FILE    Kerberos logins: the keytab with the service's key
//   --kerberos-service=NAME   and the service principal ("name/host[@REALM]"); both
//                             or neither
//   --tls-cert=FILE           TLS over TCP/IP: the server's certificate chain (PEM)
//   --tls-key=FILE            and its private key (PEM); both or neither. Without
//                             them a TLS level is answered with level 0
//   --starting=MS             for MS milliseconds after the start, database connects
//                             are answered with -77 (still starting)
//
// Switches in the environment variable VQENG12_SWITCHES (separated by blanks) come
// before those of the command line, so that a server a client starts by its default
// name can be told where to listen (e.g. "-shm -x tcpip(port=0)").
#pragma once

#include <string>
#include <vector>

#include "limits.h"

namespace vqeng {

struct CommandLine {
  std::string discovery;  // -ud ADDRESS:PORT: answer discovery requests there (off when empty)
  std::string server_name;
  std::string database_file;
  std::string database_name;
  std::string database_key;
  bool auto_stop = false;        // -ga
  bool hidden = false;           // -ha
  bool tcpip = false;            // -x tcpip(...)
  int port = 2638;               // -x tcpip(port=N); 0 picks a free port
  int handshake_fd = -1;         // -hn
  std::string request_log;       // -rl
  Limits limits;                 // --max-..., --login-timeout
  std::string fault_script;      // --fault-script
  int liveness = -1;             // --liveness: -1 echo, 0 off, else seconds
  int statement_cache = 0;       // --statement-cache
  std::string kerberos_keytab;   // --kerberos-keytab
  std::string kerberos_service;  // --kerberos-service
  std::string tls_cert;          // --tls-cert
  std::string tls_key;           // --tls-key
  int starting_ms = 0;           // --starting
  std::vector<std::string> ignored;
};

// False with `why` for a malformed command line.
bool parse_command_line(const std::vector<std::string>& args, CommandLine& out,
                        std::string& why);

// The switches of VQENG12_SWITCHES (`text`, may be null) followed by `args`.
std::vector<std::string> with_environment_switches(const char* text,
                                                   std::vector<std::string> args);

}  // namespace vqeng
