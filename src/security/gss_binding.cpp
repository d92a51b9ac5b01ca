// The process-wide GSS-API binding: one mutex, a reference count, the loaded library
// with its ten entry points and name types, and the message callback.
#include <pthread.h>

#include <cstring>
#include <initializer_list>

#include "security/kerberos_int.h"
#include "utils/base/library_loader.h"
#include "utils/locale/lang_string.h"
#include "vqtasks.h"

namespace vq::kerberos {
namespace {

constexpr const char* kDefaultLibrary = "libgssapi_krb5.so";
// The default name above is the unversioned development link, which a system without
// the development package lacks; its run-time file carries the interface version.
constexpr const char* kVersionedLibrary = "libgssapi_krb5.so.2";

// A library that never ends its status text (message context never back to 0) must not
// keep us in the loop: no real status has anywhere near this many lines.
constexpr int kMaxStatusLines = 32;
constexpr std::size_t kStatusTextBytes = 512;

// The binding's mutex lives from static construction to static destruction, so that
// every connection thread finds it made.
class BindingMutex {
 public:
  BindingMutex() {
    if (ut_safe_pthread_mutex_init(&mutex_, nullptr) != 0) mutex_.handle = nullptr;
  }
  ~BindingMutex() { ut_safe_pthread_mutex_destroy(&mutex_); }
  BindingMutex(const BindingMutex&) = delete;
  BindingMutex& operator=(const BindingMutex&) = delete;
  pthread_mutex_t* handle() const { return mutex_.handle; }

 private:
  a_ut_safe_pthread_mutex_t mutex_{};
};

BindingMutex g_mutex;
Binding g_binding{};

// The built-in texts, used when no catalog text is at hand; each starts with its number.
const char* EnglishPattern(unsigned id) {
  switch (id) {
    case kMsgLoadFailed:
      return "[14991] The Kerberos library %1 could not be loaded";
    case kMsgLoaded:
      return "[14992] %1 library %2 loaded";
    case kMsgMissingEntry:
      return "[14993] The Kerberos library %1 lacks a required function or name type";
    case kMsgGssStatus:
      return "[14994] Kerberos error in %1: %2";
    default:
      return "[?] %1 %2";
  }
}

// Fills %1 and %2 (a null argument reads "???"); the text is cut to the buffer.
void FormatEnglish(unsigned id, char* buf, std::size_t size, const char* arg1,
                   const char* arg2) {
  std::size_t used = 0;
  auto put = [&](const char* text, std::size_t n) {
    const std::size_t room = size - 1 - used;
    if (n > room) n = room;
    std::memcpy(buf + used, text, n);
    used += n;
  };
  for (const char* p = EnglishPattern(id); *p != '\0'; ++p) {
    if (p[0] == '%' && (p[1] == '1' || p[1] == '2')) {
      const char* arg = p[1] == '1' ? arg1 : arg2;
      if (arg == nullptr) arg = "???";
      put(arg, std::strlen(arg));
      ++p;
    } else {
      put(p, 1);
    }
  }
  buf[used] = '\0';
}

template <typename Fn>
bool Bind(void* library, const char* name, Fn* out) {
  *out = reinterpret_cast<Fn>(UTGetProcAddress(library, name));
  return *out != nullptr;
}

bool BindAll(void* library, GssFunctions* fn) {
  bool ok = true;
  ok &= Bind(library, "gss_accept_sec_context", &fn->accept_sec_context);
  ok &= Bind(library, "gss_acquire_cred", &fn->acquire_cred);
  ok &= Bind(library, "gss_delete_sec_context", &fn->delete_sec_context);
  ok &= Bind(library, "gss_display_name", &fn->display_name);
  ok &= Bind(library, "gss_display_status", &fn->display_status);
  ok &= Bind(library, "gss_init_sec_context", &fn->init_sec_context);
  ok &= Bind(library, "gss_import_name", &fn->import_name);
  ok &= Bind(library, "gss_release_buffer", &fn->release_buffer);
  ok &= Bind(library, "gss_release_cred", &fn->release_cred);
  ok &= Bind(library, "gss_release_name", &fn->release_name);
  return ok;
}

// The name types: from the library's own lookup when it has one, else both from the
// first of the exported OID variables that exists.
bool FindNameTypes(void* library, Binding* b) {
  b->lookup = reinterpret_cast<gss::NameTypeLookupFn>(UTGetProcAddress(library, "vkgss_pPtr"));
  if (b->lookup != nullptr) {
    b->user_name_type = b->lookup("GSS_KRB5_NT_USER_NAME");
    b->principal_name_type = b->lookup("GSS_KRB5_NT_PRINCIPAL_NAME");
  } else {
    for (const char* symbol : {"GSS_C_NT_USER_NAME", "gss_nt_user_name", "gss_nt_krb5_name"}) {
      void* variable = UTGetProcAddress(library, symbol);
      if (variable == nullptr) continue;
      gss::Oid oid = *static_cast<gss::Oid*>(variable);
      b->user_name_type = oid;
      b->principal_name_type = oid;
      break;
    }
  }
  return b->user_name_type != nullptr && b->principal_name_type != nullptr;
}

void ReportLines(const Binding& b, UTLangStringBase* catalog, void* context, const char* where,
                 gss::OMUint32 status, int status_type) {
  gss::OMUint32 message_context = 0;
  for (int line = 0; line < kMaxStatusLines; ++line) {
    gss::OMUint32 minor = 0;
    gss::BufferDesc text{0, nullptr};
    const gss::OMUint32 major =
        b.fn.display_status(&minor, status, status_type, nullptr, &message_context, &text);
    const bool have_text = major == gss::kComplete && text.value != nullptr && text.length > 0;
    if (have_text) {
      // The library's text need not end in a NUL.
      char line_text[kStatusTextBytes];
      const std::size_t n = text.length < sizeof line_text ? text.length : sizeof line_text - 1;
      std::memcpy(line_text, text.value, n);
      line_text[n] = '\0';
      SendMessage(b.callback, catalog, context, kMsgGssStatus, where, line_text);
    }
    if (text.value != nullptr) b.fn.release_buffer(&minor, &text);
    // A failed call may leave the message context as it was: stop rather than ask again.
    if (!have_text || message_context == 0) break;
  }
}

}  // namespace

BindingLock::BindingLock() : binding_(nullptr) {
  if (g_mutex.handle() != nullptr && pthread_mutex_lock(g_mutex.handle()) == 0) {
    binding_ = &g_binding;
  }
}

BindingLock::~BindingLock() {
  if (binding_ != nullptr) pthread_mutex_unlock(g_mutex.handle());
}

Binding* BindingLock::ready() const {
  return binding_ != nullptr && binding_->references > 0 ? binding_ : nullptr;
}

void SendMessage(KerberosMessageCallback callback, UTLangStringBase* catalog, void* context,
                 unsigned id, const char* arg1, const char* arg2) {
  if (callback == nullptr) return;
  char text[kMessageBytes];
  // The catalog's text when it has one; a null argument reads as the formatter's null
  // text there, as "???" in the built-in text.
  if (catalog == nullptr ||
      catalog->FormatMiscLangStr(id, text, sizeof text, arg1, arg2) == 0) {
    FormatEnglish(id, text, sizeof text, arg1, arg2);
  }
  callback(text, context);
}

void ReportStatus(const Binding& b, UTLangStringBase* catalog, void* context, const char* where,
                  gss::OMUint32 major, gss::OMUint32 minor) {
  ReportLines(b, catalog, context, where, major, gss::kGssCode);
  ReportLines(b, catalog, context, where, minor, gss::kMechCode);
}

}  // namespace vq::kerberos

using vq::kerberos::Binding;
using vq::kerberos::BindingLock;

int KerberosInit(const char* library, KerberosMessageCallback callback,
                 UTLangStringBase* catalog, void* context) {
  using namespace vq::kerberos;
  BindingLock lock;
  Binding* b = lock.binding();
  if (b == nullptr) return 0;
  if (b->references > 0) {
    ++b->references;
    return 1;
  }

  // An empty name would make the loader hand back the program itself.
  const char* name = library != nullptr && *library != '\0' ? library : kDefaultLibrary;
  void* handle = UTLoadLibrary(name);
  if (handle == nullptr && std::strcmp(name, kDefaultLibrary) == 0) {
    handle = UTLoadLibrary(kVersionedLibrary);
    if (handle != nullptr) name = kVersionedLibrary;
  }
  if (handle == nullptr) {
    SendMessage(callback, catalog, context, kMsgLoadFailed, name, nullptr);
    return 0;
  }

  Binding fresh{};
  const bool bound = BindAll(handle, &fresh.fn);
  if (!bound || !FindNameTypes(handle, &fresh)) {
    SendMessage(callback, catalog, context, kMsgMissingEntry, name, nullptr);
    UTUnloadLibrary(handle);
    return 0;
  }
  SendMessage(callback, catalog, context, kMsgLoaded, "GSS-API", name);
  fresh.library = handle;
  fresh.callback = callback;
  fresh.references = 1;
  *b = fresh;
  return 1;
}

void KerberosFini() {
  BindingLock lock;
  Binding* b = lock.ready();
  if (b == nullptr) return;
  if (--b->references > 0) return;
  UTUnloadLibrary(b->library);
  *b = Binding{};
}
