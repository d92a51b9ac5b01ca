// The LDAP directory of servers. Database servers register themselves in a directory:
// one entry per server, named by the server name, below the product's organisational
// unit, holding the server's network addresses and refreshed regularly so that stale
// entries can be told apart. The client asks where one server is (search) and which
// servers are registered (lookupServers); the registration side belongs to the same
// class though nothing in the client calls it.
//
// Settings come from the ini file "vcldap.ini" (section "LDAP"), read at most once per
// handle. Every operation opens its own connection (connect and bind) and closes it
// before it returns, so no connection outlives an operation. A handle is used by one
// thread at a time; only the loading of the library is shared (ldap_interface.h).
//
// Server names never reach a search filter or an entry name unescaped: a name holding
// "*", "(", ")" or "," names that one server and nothing else.
#ifndef VQ_NET_LDAP_DIRECTORY_H
#define VQ_NET_LDAP_DIRECTORY_H

#include <cstddef>
#include <cstdint>
#include <ctime>

class IPAddress;
class IPAddress_list;
class a_server_list;
struct a_ldap_session;
struct a_ldap_message;

// Results of every directory operation.
enum a_directory_error : int {
  DIRECTORY_OK = 0,
  DIRECTORY_INIT_FAILED = 1,           // ldap_init failed
  DIRECTORY_NAME_TAKEN = 2,            // the name is registered by another server
  DIRECTORY_NO_SUCH_SERVER = 3,        // or no usable address
  DIRECTORY_AMBIGUOUS = 4,             // more than one entry matches
  DIRECTORY_NOT_REGISTERED = 5,        // this handle has registered nothing
  DIRECTORY_STALE = 6,                 // the entry is stale
  DIRECTORY_NO_ADDRESS = 7,            // no address to register
  DIRECTORY_NO_LIBRARY = 8,            // the LDAP library is not available
  DIRECTORY_NO_PRODUCT_UNIT = 9,       // the product's unit is not in the directory
  DIRECTORY_NO_SETTINGS_FILE = 10,     // the settings file was not found
  DIRECTORY_SETTINGS_UNREADABLE = 11,  // the settings file cannot be opened
  DIRECTORY_NO_LDAP_SECTION = 12,      // the settings file has no "LDAP" section
  DIRECTORY_BIND_FAILED = 13,
  DIRECTORY_TIMED_OUT = 14,      // an LDAP request timed out
  DIRECTORY_REQUEST_FAILED = 15  // details in lastError and lastErrorCall
};

// 1: database server entries (the product's filter and base); any other value searches
// with the bare name as filter and an empty base.
enum an_ldap_server_type : int { LDAP_SERVER_TYPE_DATABASE = 1 };

// The abstract directory; kind 1 is LDAP.
class c_directory_handle {
 public:
  explicit c_directory_handle(int k) : kind(k) {}
  virtual ~c_directory_handle() = default;
  c_directory_handle(const c_directory_handle&) = delete;
  c_directory_handle& operator=(const c_directory_handle&) = delete;

  virtual void disconnect() = 0;
  virtual a_directory_error registerServer(const char* serverName, IPAddress_list& addresses,
                                           unsigned force, unsigned* replacedStale) = 0;
  virtual a_directory_error unregisterServer() = 0;
  virtual a_directory_error addIPAddress(IPAddress& address) = 0;
  virtual a_directory_error removeIPAddress(IPAddress& address) = 0;
  virtual a_directory_error search(const char* serverName, IPAddress_list& out) = 0;
  virtual a_directory_error updateTimestamp() = 0;
  virtual a_directory_error lookupServers(a_server_list* list) = 0;
  virtual a_directory_error readAttribute(const char* serverName, const char* attribute,
                                          char* buffer, unsigned size) = 0;

  int kind;
};

class c_ldap_handle : public c_directory_handle {
 public:
  // Loads the library once per process and, when it is there, reads the settings file
  // (`fileName`; "vcldap.ini" for type 1 when null).
  c_ldap_handle(an_ldap_server_type type, const char* fileName);
  // Disconnects; the credentials are wiped before they are freed.
  ~c_ldap_handle() override;

  // The library's routines are loaded.
  bool supported() const;
  // The library's text for lastError; null without the library.
  const char* getLastLDAPErrorString() const;
  // The directory reports no server error texts: null, and nothing to free.
  char* getLastServerError() const { return nullptr; }
  void freeServerError(char*) const {}
  const char* getFileBaseName() const { return fileName; }
  void setFileBaseName(const char* name);
  // "OU=QuillonVSR" followed by "," and the base DN (the unit alone without a base).
  const char* getVSRBaseDN();

  // Addresses of one server, appended to `out`: a valid address of a family this machine
  // supports for each address value of its single, fresh entry. 3 when there is no entry
  // or no usable address, 4 for several entries, 6 for a stale entry.
  a_directory_error search(const char* serverName, IPAddress_list& out) override;
  // Adds every registered, fresh server to the list (TCP/IP, the port of its first
  // address). An entry without name or address makes the result 3, but the rest are
  // still added.
  a_directory_error lookupServers(a_server_list* list) override;
  // Whether the product unit carries creation and modification times (*supported 1 or
  // 0); 9 when the unit is missing.
  a_directory_error serverSupportsTimestamps(unsigned* supported);
  // The first value of the attribute of the server's entry, cut to `size` bytes with
  // its terminator; 3 when the entry or the value is missing.
  a_directory_error readAttribute(const char* serverName, const char* attribute, char* buffer,
                                  unsigned size) override;

  // Registration side (writing credentials).
  a_directory_error registerServer(const char* serverName, IPAddress_list& addresses,
                                   unsigned force, unsigned* replacedStale) override;
  a_directory_error unregisterServer() override;
  a_directory_error addIPAddress(IPAddress& address) override;
  a_directory_error removeIPAddress(IPAddress& address) override;
  // Renews the modification time of the registered entry.
  a_directory_error updateTimestamp() override;

  // Unbinds and forgets the connection.
  void disconnect() override;

  // The fields, in order.
  char* server = nullptr;             // LDAP host ("server"); owned
  std::uint16_t port = 0;             // "port"; 0 is used as 389
  std::uint32_t iniRead = 0;          // the settings were read successfully
  std::uint32_t registered = 0;       // this handle registered an entry
  std::uint32_t searchTimeout = 600;  // seconds: an older entry is stale ("search_timeout")
  std::uint32_t updateTimeout = 120;  // seconds: refresh interval ("update_timeout")
  char* fileName = nullptr;           // settings file base name; owned
  an_ldap_server_type serverType;
  a_ldap_session* ldap = nullptr;  // open connection during an operation
  char* registeredName = nullptr;  // owned
  char* baseDN = nullptr;          // "basedn"; owned
  char* productBaseDN = nullptr;   // built on first use; owned
  char* authDN = nullptr;          // writing credentials ("authdn", "password"); owned
  char* password = nullptr;
  char* readAuthDN = nullptr;  // reading credentials ("read_authdn", "read_password")
  char* readPassword = nullptr;
  int lastError = 0;               // last LDAP or system error code
  const char* lastErrorCall = "";  // the LDAP call that failed (static text)
  a_directory_error iniResult = DIRECTORY_OK;
  std::uint32_t flags = 0;  // kFlag* bits

  static constexpr std::uint32_t kFlagForceRegister = 0x1;
  static constexpr std::uint32_t kFlagActiveDirectory = 0x2;
  static constexpr std::uint32_t kFlagSettingsAttempted = 0x4;

 protected:
  // Reads the settings file once; the result stays in iniResult.
  virtual a_directory_error _readIniFile();

 private:
  a_directory_error _connect(bool forReading);
  // ldap_result for every part of the answer, at most 5 seconds: 0 or the answer's
  // result code; kLdapTimeout when nothing came.
  int _waitForResults(int messageId, const char* callName);
  // Runs the one-level search of `name`'s entry (of every entry with `every`) with the
  // attributes given; the result code of ldap_search_st, *res set (may be null).
  int search_entries(const char* name, bool every, const char* const* attributes,
                     int attributesOnly, a_ldap_message** res);
  // 0 with the one entry of `name`, or 3 / 4 / 14 / 15.
  a_directory_error find_own_entry(const char* name, const char* const* attributes,
                                   int attributesOnly, a_ldap_message** res,
                                   a_ldap_message** entry);
  a_directory_error find_product_unit(const char* const* attributes, a_ldap_message** res,
                                      a_ldap_message** entry);
  bool entry_is_stale(a_ldap_message* entry);
  // Records a failed request and maps it: a time-out is 14, anything else 15.
  a_directory_error request_failed(int code, const char* callName);
  // Waits for the answer to the request `id` (-1: it could not be sent) and abandons it
  // on a time-out; 0, or the failure's code.
  int await_request(int id, const char* callName);
  // Sends a modify or add (by `add`) and waits for it; 0, or the failure's code.
  int write_entry(bool add, const char* dn, struct a_ldap_mod** mods, const char* callName);
  int delete_entry(const char* dn, const char* callName);
  a_directory_error _addRemoveIPAddress(IPAddress& address, bool add);
  // "CN=<escaped name>,<product base>" (ut_alloc; the caller frees it).
  char* entry_dn(const char* name);
  const char* address_attribute() const;
  // 8 without the library, else the result of the settings read (read now if need be).
  a_directory_error check_ready();
  // check_ready, then a fresh connection bound for reading or for writing; the caller
  // holds a Session so that it is closed when the operation ends.
  a_directory_error open_session(bool forReading);
  // The session's last result code (0 when none is known).
  int session_error();
  // Records a failed call with the session's code, or "server down" when the session
  // knows none, and returns that code.
  int session_failed(const char* callName);
};

namespace vq::net {

// The name as an LDAP filter value: "*", "(", ")", "\" and the zero byte become "\2a",
// "\28", "\29", "\5c" and "\00". A new text from ut_alloc.
char* EscapeLdapFilterValue(const char* name);
// The name as the value of a distinguished name's component: ",", "+", """, "\", "<",
// ">", ";", "=", a leading "#" or blank and a trailing blank are preceded by "\".
// A new text from ut_alloc.
char* EscapeDnValue(const char* name);
// The value of a distinguished name's first component ("cn=" and up to the first "," that
// is not escaped), with its escapes undone, into `out` (`size` bytes with the
// terminator). 0 when the name does not start with "cn=" (any case), the value is empty
// or it does not fit.
unsigned ServerNameFromDN(const char* dn, char* out, std::size_t size);
// A generalised time "YYYYMMDDHHMMSS" (UTC; anything after the seconds is ignored) as
// seconds since the epoch; false when it is not one.
bool ParseGeneralizedTime(const char* text, std::time_t* out);
// An entry changed at `entryTime` is stale at `now` when it is at least `timeout` seconds
// old; 0 means nothing is stale, and a time in the future is never stale. The times are
// absolute, so a refresh shortly before midnight still counts just after it.
bool EntryTimeIsStale(std::time_t entryTime, std::time_t now, std::uint32_t timeout);

// Test seam: the clock that stale tests read (seconds since the epoch); null restores
// time(). Not thread-safe.
void SetLdapClock(std::time_t (*clock)());

}  // namespace vq::net

#endif  // VQ_NET_LDAP_DIRECTORY_H
