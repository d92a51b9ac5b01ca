// Declarations shared by the Kerberos binding's files: the process-wide binding state,
// its lock and message reporting.
#ifndef VQ_SECURITY_KERBEROS_INT_H
#define VQ_SECURITY_KERBEROS_INT_H

#include <cstddef>

#include "security/gss_types.h"
#include "security/kerberos.h"

namespace vq::kerberos {

// Message numbers of the binding.
constexpr unsigned kMsgLoadFailed = 14991;    // %1 library name
constexpr unsigned kMsgLoaded = 14992;        // %1 "GSS-API", %2 library name
constexpr unsigned kMsgMissingEntry = 14993;  // %1 library name
constexpr unsigned kMsgGssStatus = 14994;     // %1 failing step, %2 one line of status text

constexpr std::size_t kMessageBytes = 1024;  // one formatted message, terminator included

// === in gss_binding.cpp ===

// The library's entry points; all ten are bound or the library is not used.
struct GssFunctions {
  gss::AcceptSecContextFn accept_sec_context;
  gss::AcquireCredFn acquire_cred;
  gss::DeleteSecContextFn delete_sec_context;
  gss::DisplayNameFn display_name;
  gss::DisplayStatusFn display_status;
  gss::InitSecContextFn init_sec_context;
  gss::ImportNameFn import_name;
  gss::ReleaseBufferFn release_buffer;
  gss::ReleaseCredFn release_cred;
  gss::ReleaseNameFn release_name;
};

// Process-wide state; read and written only under BindingLock.
struct Binding {
  int references;  // KerberosInit calls not yet matched by KerberosFini
  void* library;   // loader handle, null while not initialised
  GssFunctions fn;
  gss::Oid user_name_type;           // for the server's own name
  gss::Oid principal_name_type;      // for the client's target and names with a realm
  gss::NameTypeLookupFn lookup;      // the library's "vkgss_pPtr", or null
  KerberosMessageCallback callback;  // null: messages go nowhere
};

// Holds the binding's mutex for its lifetime. `binding()` is null when the mutex could
// not be created at start-up; callers then act as if nothing were initialised.
class BindingLock {
 public:
  BindingLock();
  ~BindingLock();
  BindingLock(const BindingLock&) = delete;
  BindingLock& operator=(const BindingLock&) = delete;
  Binding* binding() const { return binding_; }
  // The binding when initialised (at least one reference), else null.
  Binding* ready() const;

 private:
  Binding* binding_;
};

// Formats message `id` with up to two string arguments and hands it to `callback`.
void SendMessage(KerberosMessageCallback callback, UTLangStringBase* catalog, void* context,
                 unsigned id, const char* arg1, const char* arg2);

// Reports a failed call at `where`: every line of the major status text, then every
// line of the minor (mechanism) status text, as message 14994. Runs under the lock.
void ReportStatus(const Binding& b, UTLangStringBase* catalog, void* context, const char* where,
                  gss::OMUint32 major, gss::OMUint32 minor);

}  // namespace vq::kerberos

#endif  // VQ_SECURITY_KERBEROS_INT_H
