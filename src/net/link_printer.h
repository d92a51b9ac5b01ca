// Where the TCP link's discovery code reports: numbered messages with up to three text
// arguments, each either always printed (when the caller gave a print context) or only
// while the stack's debug output is on for it. The link type implements it over its
// printer; tests record the messages.
#ifndef VQ_NET_LINK_PRINTER_H
#define VQ_NET_LINK_PRINTER_H

#include <cstdint>

class c_tcp_link_printer {
 public:
  virtual ~c_tcp_link_printer() = default;
  // `debug`: print only while the debug output is on. Null arguments are absent.
  virtual void message(bool debug, std::int32_t id, const char* arg1 = nullptr,
                       const char* arg2 = nullptr, const char* arg3 = nullptr) = 0;
};

#endif  // VQ_NET_LINK_PRINTER_H
