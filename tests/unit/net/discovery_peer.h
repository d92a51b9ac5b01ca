// Helpers of the discovery tests: a prepared option table that releases itself, a
// printer that records the messages, and a UDP peer on a loopback port that plays the
// server's side datagram by datagram.
#ifndef VQ_TESTS_UNIT_NET_DISCOVERY_PEER_H
#define VQ_TESTS_UNIT_NET_DISCOVERY_PEER_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "net/broadcast_packet.h"
#include "net/link_printer.h"
#include "net/port_options.h"
#include "net/tcp_port.h"

namespace vq::testing {

// A copy of the link's option table with the text parsed into it.
class Options {
 public:
  explicit Options(const char* text) {
    const a_port_option* t = vq::net::TcpOptionTemplate();
    for (unsigned i = 0; i <= TCPOPT_ROWS; ++i) rows[i] = t[i];
    parse = prepare_port_options(text, 0, rows, nullptr);
  }
  ~Options() { unprepare_port_options(rows, 0); }
  Options(const Options&) = delete;
  Options& operator=(const Options&) = delete;
  a_port_option* get() { return rows; }

  a_port_option rows[TCPOPT_ROWS + 1];
  std::uint32_t parse = 0;
};

struct Message {
  bool debug;
  std::int32_t id;
  std::string args;  // the arguments joined by "|"
};

class RecordingPrinter : public c_tcp_link_printer {
 public:
  void message(bool debug, std::int32_t id, const char* a1, const char* a2,
               const char* a3) override {
    std::string args;
    for (const char* a : {a1, a2, a3}) {
      if (a == nullptr) break;
      if (!args.empty()) args += "|";
      args += a;
    }
    messages.push_back({debug, id, args});
  }
  int Count(std::int32_t id) const {
    int n = 0;
    for (const Message& m : messages) n += m.id == id ? 1 : 0;
    return n;
  }
  // The arguments of every message with this number.
  std::vector<std::string> Args(std::int32_t id) const {
    std::vector<std::string> out;
    for (const Message& m : messages)
      if (m.id == id) out.push_back(m.args);
    return out;
  }
  std::vector<Message> messages;
};

struct Datagram {
  std::vector<std::uint8_t> bytes;
  sockaddr_storage from{};
  socklen_t fromLength = 0;
};

// A UDP socket on 127.0.0.1 (or ::1) and a free port.
class UdpPeer {
 public:
  explicit UdpPeer(bool ipv6 = false, const char* address = nullptr) : ipv6_(ipv6) {
    fd_ = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM, 0);
    sockaddr_storage s{};
    socklen_t len;
    if (ipv6) {
      auto* a = reinterpret_cast<sockaddr_in6*>(&s);
      a->sin6_family = AF_INET6;
      a->sin6_addr = in6addr_loopback;
      len = sizeof *a;
    } else {
      auto* a = reinterpret_cast<sockaddr_in*>(&s);
      a->sin_family = AF_INET;
      inet_pton(AF_INET, address != nullptr ? address : "127.0.0.1", &a->sin_addr);
      len = sizeof *a;
    }
    if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&s), len) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&s), &len) == 0)
      port_ = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&s)->sin6_port
                         : reinterpret_cast<sockaddr_in*>(&s)->sin_port);
  }
  ~UdpPeer() {
    if (fd_ >= 0) close(fd_);
  }
  UdpPeer(const UdpPeer&) = delete;
  UdpPeer& operator=(const UdpPeer&) = delete;

  bool ok() const { return fd_ >= 0 && port_ != 0; }
  std::uint16_t port() const { return port_; }
  int fd() const { return fd_; }

  // The next datagram within `ms` milliseconds; false when none came.
  bool Receive(Datagram* out, int ms) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, ms) != 1) return false;
    std::uint8_t buffer[2048];
    out->fromLength = sizeof out->from;
    const ssize_t n = recvfrom(fd_, buffer, sizeof buffer, 0,
                               reinterpret_cast<sockaddr*>(&out->from), &out->fromLength);
    if (n < 0) return false;
    out->bytes.assign(buffer, buffer + n);
    return true;
  }
  // Every datagram that arrives within `ms` milliseconds of the last one.
  std::vector<Datagram> Drain(int ms) {
    std::vector<Datagram> all;
    Datagram d;
    while (Receive(&d, ms)) all.push_back(d);
    return all;
  }
  void SendTo(const std::vector<std::uint8_t>& bytes, const sockaddr_storage& to,
              socklen_t length) {
    sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), length);
  }
  void SendTo(const std::vector<std::uint8_t>& bytes, const Datagram& request) {
    SendTo(bytes, request.from, request.fromLength);
  }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
  bool ipv6_;
};

// The bytes of a built packet.
inline std::vector<std::uint8_t> Bytes(c_strm_broadcast_pkt& packet) {
  const std::uint8_t* p = packet.getPacket();
  return std::vector<std::uint8_t>(p, p + packet.getPacketLength());
}

// A response of the given form for a server name, with optional port, address text and
// database name.
inline std::vector<std::uint8_t> Response(a_broadcast_pkt_type kind, const char* name,
                                          std::uint16_t port, const char* address = nullptr,
                                          const char* database = nullptr) {
  const a_broadcast_pkt_type requestKind =
      kind == BROADCAST_PKT_STRMBRESP ? BROADCAST_PKT_STRMBROAD : BROADCAST_PKT_VQP_REQUEST;
  c_strm_broadcast_pkt request(requestKind, nullptr, 0);
  c_strm_broadcast_pkt response(&request);
  if (name != nullptr) response.setEngName(name, 0xFFFFFFFFu);
  response.port = port;
  response.sectionMask |= 1u << 1;
  if (address != nullptr) response.setIPAddress(address);
  if (database != nullptr) response.setDBName(database, 0xFFFFFFFFu);
  return Bytes(response);
}

}  // namespace vq::testing

#endif  // VQ_TESTS_UNIT_NET_DISCOVERY_PEER_H
