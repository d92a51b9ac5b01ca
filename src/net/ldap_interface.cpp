// The run-time binding of the LDAP client library.
#include "net/ldap_interface.h"

#include <pthread.h>

#include <cstring>
#include <type_traits>

#include "utils/base/bounded_strings.h"
#include "utils/base/library_loader.h"

namespace {

// The library's own name is the development link; a system without the development
// package carries only the versioned run-time files (2.5 series, then the later series
// that dropped the release from the name).
const char* const kDefaultNames[] = {"libldap_r.so", "libldap-2.5.so.0", "libldap.so.2",
                                     nullptr};
const char* const* g_names = kDefaultNames;

DynLDAPInterface g_instance;

class Lock {
 public:
  explicit Lock(pthread_mutex_t* m) : m_(m) {
    if (m_ != nullptr) pthread_mutex_lock(m_);
  }
  ~Lock() {
    if (m_ != nullptr) pthread_mutex_unlock(m_);
  }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  pthread_mutex_t* m_;
};

}  // namespace

namespace vq::net {

void SetLdapLibraryNames(const char* const* names) {
  g_names = names != nullptr ? names : kDefaultNames;
}

}  // namespace vq::net

DynLDAPInterface& DynLDAPInterface::instance() { return g_instance; }

DynLDAPInterface::DynLDAPInterface() {
  clear_routines();
  if (ut_safe_pthread_mutex_init(&mutex, nullptr) != 0) mutex.handle = nullptr;
}

DynLDAPInterface::~DynLDAPInterface() {
  _unloadRoutines();
  ut_safe_pthread_mutex_destroy(&mutex);
}

void DynLDAPInterface::clear_routines() {
  ldap_abandon = nullptr;
  ldap_add = nullptr;
  ldap_count_entries = nullptr;
  ldap_delete = nullptr;
  ldap_err2string = nullptr;
  ldap_first_entry = nullptr;
  ldap_get_dn = nullptr;
  ldap_get_option = nullptr;
  ldap_get_values = nullptr;
  ldap_init = nullptr;
  ldap_memfree = nullptr;
  ldap_modify = nullptr;
  ldap_msgfree = nullptr;
  ldap_next_entry = nullptr;
  ldap_search_st = nullptr;
  ldap_result = nullptr;
  ldap_result2error = nullptr;
  ldap_set_option = nullptr;
  ldap_simple_bind = nullptr;
  ldap_unbind = nullptr;
  ldap_value_free = nullptr;
  ldap_perror = nullptr;
}

bool DynLDAPInterface::bind_all(void* handle, const char* name) {
  // Binds one routine by its own name; the first one missing stops the binding.
  bool ok = true;
  auto bind = [&](auto& slot, const char* routine) {
    if (!ok) return;
    void* address = UTGetProcAddress(handle, routine);
    if (address == nullptr) {
      ut_snprintf(failure, sizeof failure, "%s lacks the routine %s", name, routine);
      ok = false;
      return;
    }
    slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(address);
  };
  bind(ldap_abandon, "ldap_abandon");
  bind(ldap_add, "ldap_add");
  bind(ldap_count_entries, "ldap_count_entries");
  bind(ldap_delete, "ldap_delete");
  bind(ldap_err2string, "ldap_err2string");
  bind(ldap_first_entry, "ldap_first_entry");
  bind(ldap_get_dn, "ldap_get_dn");
  bind(ldap_get_option, "ldap_get_option");
  bind(ldap_get_values, "ldap_get_values");
  bind(ldap_init, "ldap_init");
  bind(ldap_memfree, "ldap_memfree");
  bind(ldap_modify, "ldap_modify");
  bind(ldap_msgfree, "ldap_msgfree");
  bind(ldap_next_entry, "ldap_next_entry");
  bind(ldap_search_st, "ldap_search_st");
  bind(ldap_result, "ldap_result");
  bind(ldap_result2error, "ldap_result2error");
  bind(ldap_set_option, "ldap_set_option");
  bind(ldap_simple_bind, "ldap_simple_bind");
  bind(ldap_unbind, "ldap_unbind");
  bind(ldap_value_free, "ldap_value_free");
  bind(ldap_perror, "ldap_perror");
  if (!ok) clear_routines();
  return ok;
}

bool DynLDAPInterface::loadRoutines() {
  Lock lock(mutex.handle);
  if (loadAttempted) return isLoaded.load(std::memory_order_relaxed);
  loadAttempted = true;
  failure[0] = '\0';

  char tried[160] = {};
  std::size_t used = 0;
  bool lacked = false;
  for (const char* const* name = g_names; *name != nullptr; ++name) {
    used = AddCharsToBuffer(tried, sizeof tried, used, used == 0 ? "" : ", ");
    used = AddCharsToBuffer(tried, sizeof tried, used, *name);
    void* handle = UTLoadLibrary(*name);
    if (handle == nullptr) continue;
    if (!bind_all(handle, *name)) {
      // A library of that name without the routines is some other library; the reason
      // stays in `failure` unless a later candidate binds.
      UTUnloadLibrary(handle);
      lacked = true;
      continue;
    }
    library = handle;
    loadedName = *name;
    // The library sets up its process-wide options on first use, without a lock of
    // its own: do that here, under ours, before any thread opens a session.
    int version = 0;
    ldap_get_option(nullptr, kLdapOptProtocolVersion, &version);
    isLoaded.store(true, std::memory_order_release);
    failure[0] = '\0';
    return true;
  }
  if (!lacked)
    ut_snprintf(failure, sizeof failure, "no LDAP client library found (tried %s)", tried);
  return false;
}

void DynLDAPInterface::_unloadRoutines() {
  Lock lock(mutex.handle);
  clear_routines();
  // The library stays mapped: once used it holds process-wide state of its own (its
  // SASL and TLS set-up, handlers it registered) that must not point into unmapped code
  // when the process ends. A later load finds it loaded and binds it again.
  library = nullptr;
  loadedName = nullptr;
  isLoaded.store(false, std::memory_order_release);
  loadAttempted = false;
}
