// The found-server list: one entry per distinct server, port and address, sorted by
// server name, with the database names each server announced merged into its entry.
// The TCP link fills it from broadcast answers and directory entries, then walks it to
// print or return the servers and to drop duplicates.
#ifndef VQ_NET_SERVER_LIST_H
#define VQ_NET_SERVER_LIST_H

#include <cstdint>

#include "streams/port.h"
#include "utils/base/list.h"

class IPAddress;

class c_ip_server_address : public c_utils_ord_link {
 public:
  c_ip_server_address();
  ~c_ip_server_address() override;
  c_ip_server_address(const c_ip_server_address&) = delete;
  c_ip_server_address& operator=(const c_ip_server_address&) = delete;

  // By name (byte order); an entry without name sorts after every named one.
  int compare(c_utils_ord_link* other) override;

  // Clears the entry, then copies the fields given; 0 when memory runs out, else 1.
  unsigned init(a_port_type type, std::uint16_t port, const char* name, const char* addressText,
                const IPAddress* address);
  // 1 when a name equal without regard to case is already held; otherwise appends a
  // copy (0 when memory runs out).
  unsigned addDBName(const char* name);
  // Replaces the address text with a copy; 0 when memory runs out.
  unsigned replaceAddr(const char* text);
  void clear();

  a_port_type portType;  // STRM_PORT_TCPIP after construction
  std::uint16_t port;
  char* serverName;    // owned
  char* addressText;   // owned, may be null
  IPAddress* address;  // owned heap copy, may be null
  int dbCount;
  char** dbNames;  // owned array of owned names, no two equal without regard to case
};

class c_ip_server_address_ord_list : public c_utils_ord_list_base {};
class c_ip_server_address_ord_iter : public c_utils_ord_iter_base {
 public:
  explicit c_ip_server_address_ord_iter(c_ip_server_address_ord_list& list)
      : c_utils_ord_iter_base(list) {}
};

class a_server_list {
 public:
  a_server_list();
  ~a_server_list();
  a_server_list(const a_server_list&) = delete;
  a_server_list& operator=(const a_server_list&) = delete;

  // The first entry with the same port type and port, the same name, the same address
  // (ports ignored) when `address` is given and the same address text when
  // `addressText` is given; null when none.
  c_ip_server_address* find(a_port_type type, std::uint16_t port, const char* name,
                            const char* addressText, const IPAddress* address);
  // Merges `dbName` into the entry find() finds, or inserts a new entry after every
  // entry whose name is not greater; the position returns to the first entry then.
  // 0 when memory runs out, else 1.
  unsigned addServer(a_port_type type, std::uint16_t port, const char* name,
                     const char* addressText, const IPAddress* address, const char* dbName);
  // The list's one position: getFirst moves it to the first entry, getNext one on (null
  // at and past the end), deleteCurrent deletes the entry there and returns to the first.
  c_ip_server_address* getFirst();
  c_ip_server_address* getNext();
  unsigned deleteCurrent();

  std::uint32_t count;  // entries added; deleting does not lower it
  c_ip_server_address_ord_list* list;
  c_ip_server_address_ord_iter* iter;
};

#endif  // VQ_NET_SERVER_LIST_H
