// The LDAP client library, loaded at run time and bound by name. The library is never
// linked: a machine without it still runs everything but the directory look-ups.
//
// The binding declares the few types and constants of the library's C interface it
// needs itself, so that building needs no LDAP headers. The routines are the library's
// classic synchronous and message-id forms; every pointer it hands back is freed
// through the library's own free routines.
//
// One process-wide instance exists, made at library load and destroyed at unload.
// Loading happens once, under the instance's mutex; later calls return the recorded
// outcome. The function pointers do not change while the library is loaded.
#ifndef VQ_NET_LDAP_INTERFACE_H
#define VQ_NET_LDAP_INTERFACE_H

#include <sys/time.h>

#include <atomic>
#include <cstddef>

#include "vqtasks.h"

// Opaque handles of the library.
struct a_ldap_session;  // LDAP*
struct a_ldap_message;  // LDAPMessage*

// One modification of an add or modify request, laid out as the library's LDAPMod with
// string values.
struct a_ldap_mod {
  int mod_op;         // kLdapModAdd / kLdapModReplace
  char* mod_type;     // attribute name
  char** mod_values;  // null-terminated array of texts; null for none
};
static_assert(sizeof(a_ldap_mod) == 3 * sizeof(void*), "int padded to a pointer, two pointers");

// Constants of the library's interface.
constexpr int kLdapPort = 389;
constexpr int kLdapScopeBase = 0;
constexpr int kLdapScopeOneLevel = 1;
constexpr int kLdapMsgAll = 1;  // ldap_result: wait for every part of the answer
constexpr int kLdapModAdd = 0;
constexpr int kLdapModReplace = 2;
constexpr int kLdapOptReferrals = 0x0008;
constexpr int kLdapOptProtocolVersion = 0x0011;
constexpr int kLdapOptResultCode = 0x0031;
constexpr int kLdapOptNetworkTimeout = 0x5005;  // value: struct timeval*
constexpr int kLdapVersion3 = 3;
// Result codes.
constexpr int kLdapSuccess = 0;
constexpr int kLdapPartialResults = 9;
constexpr int kLdapNoSuchObject = 32;
constexpr int kLdapAlreadyExists = 68;
constexpr int kLdapServerDown = -1;
constexpr int kLdapTimeout = -5;

class DynLDAPInterface {
 public:
  // The routines, in the order they are bound.
  int (*ldap_abandon)(a_ldap_session*, int msgid);
  int (*ldap_add)(a_ldap_session*, const char* dn, a_ldap_mod** attrs);
  int (*ldap_count_entries)(a_ldap_session*, a_ldap_message*);
  int (*ldap_delete)(a_ldap_session*, const char* dn);
  char* (*ldap_err2string)(int code);
  a_ldap_message* (*ldap_first_entry)(a_ldap_session*, a_ldap_message*);
  char* (*ldap_get_dn)(a_ldap_session*, a_ldap_message*);
  int (*ldap_get_option)(a_ldap_session*, int option, void* out);
  char** (*ldap_get_values)(a_ldap_session*, a_ldap_message*, const char* attribute);
  a_ldap_session* (*ldap_init)(const char* host, int port);
  void (*ldap_memfree)(void*);
  int (*ldap_modify)(a_ldap_session*, const char* dn, a_ldap_mod** mods);
  int (*ldap_msgfree)(a_ldap_message*);
  a_ldap_message* (*ldap_next_entry)(a_ldap_session*, a_ldap_message*);
  int (*ldap_search_st)(a_ldap_session*, const char* base, int scope, const char* filter,
                        char** attrs, int attrsonly, timeval* timeout, a_ldap_message** res);
  int (*ldap_result)(a_ldap_session*, int msgid, int all, timeval* timeout,
                     a_ldap_message** result);
  int (*ldap_result2error)(a_ldap_session*, a_ldap_message*, int freeit);
  int (*ldap_set_option)(a_ldap_session*, int option, const void* value);
  int (*ldap_simple_bind)(a_ldap_session*, const char* who, const char* password);
  int (*ldap_unbind)(a_ldap_session*);
  void (*ldap_value_free)(char** values);
  void (*ldap_perror)(a_ldap_session*, const char* text);

  DynLDAPInterface();
  // Clears the routines.
  ~DynLDAPInterface();
  DynLDAPInterface(const DynLDAPInterface&) = delete;
  DynLDAPInterface& operator=(const DynLDAPInterface&) = delete;

  // Loads the library and binds every routine, once per process: the library's own name
  // first, then the versioned names a run-time system carries. A candidate that loads
  // but lacks a routine is not used. True when every routine is bound.
  bool loadRoutines();
  // Clears the routines and forgets the library (it stays mapped until the process
  // ends); the next loadRoutines tries again.
  void _unloadRoutines();
  // Read without the mutex: the routines are bound before this turns true.
  bool loaded() const { return isLoaded.load(std::memory_order_acquire); }

  // The file the routines came from, or null.
  const char* libraryName() const { return loadedName; }
  // Why the last load failed ("" after a success or before any attempt): the names
  // tried, or the routine a library lacked.
  const char* loadFailure() const { return failure; }

  // The process-wide instance.
  static DynLDAPInterface& instance();

 private:
  bool bind_all(void* handle, const char* name);
  void clear_routines();

  a_ut_safe_pthread_mutex_t mutex{};
  std::atomic<bool> isLoaded{false};  // every routine bound
  bool loadAttempted = false;         // loadRoutines ran since the last unload
  void* library = nullptr;            // loader handle, never closed
  const char* loadedName = nullptr;   // static text of the candidate list
  char failure[256] = {};
};

namespace vq::net {

// Test seam: the library names tried, in order, ended by a null entry; null restores
// the default list. Takes effect at the next load (after _unloadRoutines). Not
// thread-safe; the array must outlive its use.
void SetLdapLibraryNames(const char* const* names);

}  // namespace vq::net

#endif  // VQ_NET_LDAP_INTERFACE_H
