// The stand-in's answer to server discovery: clients ask over UDP which server serves a
// name (or, with no name, which servers there are), and the server answers with its
// name, its TCP port and, when asked, its database name.
//
// Requests come in two forms, and each is answered in its own form:
//   text form: "STRMBROAD", the asked-for name and a zero byte, then a section block;
//     the answer starts "STRMBRESP", this server's name and a zero byte;
//   connectionless form: type 27, status 0, BE16 total length, 4 zero bytes, 18,
//     "CONNECTIONLESS_VQP", BE32 number, 0 (request) / 1 (response); then the block.
// Section block: BE16 4, BE16 version, BE16 section count, then sections of a tag byte,
// a length byte and the payload: 0 server name + NUL, 1 BE16 port, 3 flag byte, 4 BE64
// token, 6 database name + NUL (an empty one in a request asks for it), 7 BE16 size,
// 8 alternate name + NUL. All numbers are big-endian.
//
// The responder is off unless the command line names where it listens ("-ud
// ADDRESS:PORT"), because a server that answered broadcasts by default would answer
// every machine on the network and would hold the well-known port against other
// servers started on the same machine.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace vqeng {

struct DiscoveryIdentity {
  std::string server_name;
  std::string database_name;
  std::uint16_t tcp_port = 0;
};

// The answer to one datagram; empty when it is not a well-formed request, or when it
// asks for another server by name.
std::string answer_discovery(const std::string& datagram, const DiscoveryIdentity& id);

class DiscoveryResponder {
 public:
  DiscoveryResponder() = default;
  ~DiscoveryResponder();  // stops answering
  DiscoveryResponder(const DiscoveryResponder&) = delete;
  DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

  // `where` is "ADDRESS:PORT" with a numeric IPv4 address or "[IPv6]"; port 0 picks a
  // free one. Binds a UDP socket there, prints "udp=N" on standard output and answers
  // on a thread of its own until stopped. An empty `where` does nothing. False with
  // `why` when the address is malformed or cannot be bound.
  bool start(const std::string& where, const std::string& server_name,
             const std::string& database_name, std::uint16_t tcp_port, std::string& why);
  void stop();
  std::uint16_t port() const { return port_; }

 private:
  void run();

  DiscoveryIdentity id_;
  int fd_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace vqeng
