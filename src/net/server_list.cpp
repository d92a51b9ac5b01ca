// The found-server list.
#include "net/server_list.h"

#include <cstring>

#include "net/ip_address.h"
#include "utils/base/bounded_strings.h"
#include "utils/base/memory.h"

namespace {

char* soft_strdup(const char* text) {
  return static_cast<char*>(ut_memdup(text, std::strlen(text) + 1));
}

}  // namespace

c_ip_server_address::c_ip_server_address()
    : portType(STRM_PORT_TCPIP),
      port(0),
      serverName(nullptr),
      addressText(nullptr),
      address(nullptr),
      dbCount(0),
      dbNames(nullptr) {}

c_ip_server_address::~c_ip_server_address() { clear(); }

int c_ip_server_address::compare(c_utils_ord_link* other) {
  const auto* o = static_cast<c_ip_server_address*>(other);
  if (serverName == nullptr) return o->serverName == nullptr ? 0 : 1;
  if (o->serverName == nullptr) return -1;
  // The sign of the comparison: a difference cut to 8 bits would misorder names with
  // bytes of 0x80 and above.
  const int rc = std::strcmp(serverName, o->serverName);
  return rc < 0 ? -1 : (rc > 0 ? 1 : 0);
}

void c_ip_server_address::clear() {
  ut_free(serverName);
  serverName = nullptr;
  ut_free(addressText);
  addressText = nullptr;
  delete address;
  address = nullptr;
  for (int i = 0; i < dbCount; ++i) ut_free(dbNames[i]);
  ut_free(dbNames);
  dbNames = nullptr;
  dbCount = 0;
}

unsigned c_ip_server_address::init(a_port_type type, std::uint16_t p, const char* name,
                                   const char* text, const IPAddress* a) {
  clear();
  portType = type;
  port = p;
  if (name != nullptr) {
    serverName = soft_strdup(name);
    if (serverName == nullptr) return 0;
  }
  if (text != nullptr) {
    addressText = soft_strdup(text);
    if (addressText == nullptr) return 0;
  }
  if (a != nullptr) address = a->clone();
  return 1;
}

unsigned c_ip_server_address::addDBName(const char* name) {
  if (name == nullptr) return 1;
  for (int i = 0; i < dbCount; ++i)
    if (ut_stricmp(dbNames[i], name) == 0) return 1;
  char* copy = soft_strdup(name);
  if (copy == nullptr) return 0;
  auto* grown =
      static_cast<char**>(ut_malloc(sizeof(char*) * static_cast<std::size_t>(dbCount + 1)));
  if (grown == nullptr) {
    ut_free(copy);
    return 0;
  }
  if (dbCount != 0)
    std::memcpy(grown, dbNames, sizeof(char*) * static_cast<std::size_t>(dbCount));
  grown[dbCount] = copy;
  ut_free(dbNames);
  dbNames = grown;
  ++dbCount;
  return 1;
}

unsigned c_ip_server_address::replaceAddr(const char* text) {
  char* copy = text != nullptr ? soft_strdup(text) : nullptr;
  if (text != nullptr && copy == nullptr) return 0;
  ut_free(addressText);
  addressText = copy;
  return 1;
}

a_server_list::a_server_list()
    : count(0),
      list(new c_ip_server_address_ord_list()),
      iter(new c_ip_server_address_ord_iter(*list)) {}

a_server_list::~a_server_list() {
  while (!list->is_empty()) delete static_cast<c_ip_server_address*>(list->first());
  delete iter;
  delete list;
}

c_ip_server_address* a_server_list::find(a_port_type type, std::uint16_t port, const char* name,
                                         const char* addressText, const IPAddress* address) {
  for (c_utils_link* l = list->first(); l != list->end(); l = l->next) {
    auto* e = static_cast<c_ip_server_address*>(l);
    if (e->portType != type || e->port != port) continue;
    if (address != nullptr && (e->address == nullptr || !e->address->sameIPAddress(*address)))
      continue;
    if (name == nullptr || e->serverName == nullptr) {
      if (name != e->serverName) continue;
    } else if (std::strcmp(e->serverName, name) != 0) {
      continue;
    }
    if (addressText != nullptr &&
        (e->addressText == nullptr || std::strcmp(e->addressText, addressText) != 0))
      continue;
    return e;
  }
  return nullptr;
}

unsigned a_server_list::addServer(a_port_type type, std::uint16_t port, const char* name,
                                  const char* addressText, const IPAddress* address,
                                  const char* dbName) {
  if (c_ip_server_address* found = find(type, port, name, addressText, address)) {
    return dbName != nullptr ? found->addDBName(dbName) : 1;
  }
  auto* entry = new c_ip_server_address();
  if (entry->init(type, port, name, addressText, address) == 0 ||
      (dbName != nullptr && entry->addDBName(dbName) == 0)) {
    delete entry;
    return 0;
  }
  list->insert(entry);
  ++count;
  iter->reset();
  return 1;
}

c_ip_server_address* a_server_list::getFirst() {
  iter->reset();
  return iter->at_end() ? nullptr : static_cast<c_ip_server_address*>(iter->current);
}

c_ip_server_address* a_server_list::getNext() {
  if (iter->at_end()) return nullptr;
  iter->next();
  return iter->at_end() ? nullptr : static_cast<c_ip_server_address*>(iter->current);
}

unsigned a_server_list::deleteCurrent() {
  if (iter->at_end()) return 0;
  delete static_cast<c_ip_server_address*>(iter->current);
  iter->reset();
  return 1;
}
