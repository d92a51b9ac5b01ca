// The client and server exchanges of Kerberos single sign-on over the bound GSS-API
// library. Every library call, and every copy of a token, runs under the binding lock.
#include <cstring>

#include "security/kerberos_int.h"
#include "utils/base/memory.h"

using vq::kerberos::Binding;
using vq::kerberos::BindingLock;
namespace gss = vq::gss;

struct KerberosClientContext {
  UTLangStringBase* catalog;
  void* context;         // callback context
  gss::Ctx gss_context;  // null until the first init_sec_context call makes one
  gss::Name target;      // the server's principal
};

struct KerberosServerCred {
  gss::Cred cred;
  UTLangStringBase* catalog;
  void* context;               // callback context
  char* display_name;          // the service's name, NUL-terminated (owned)
  std::size_t display_length;  // bytes before the NUL
};

namespace {

template <typename T>
T* NewZeroed() {
  T* record = static_cast<T*>(ut_alloc(sizeof(T)));
  std::memset(static_cast<void*>(record), 0, sizeof(T));
  return record;
}

// An owned copy of `length` bytes, with a NUL after them; null for no bytes.
unsigned char* CopyBytes(const void* value, std::size_t length) {
  if (value == nullptr || length == 0) return nullptr;
  auto* copy = static_cast<unsigned char*>(ut_alloc(length + 1));
  std::memcpy(copy, value, length);
  copy[length] = 0;
  return copy;
}

void ReleaseBuffer(const Binding& b, gss::BufferDesc* buffer) {
  if (buffer->value == nullptr && buffer->length == 0) return;
  gss::OMUint32 minor = 0;
  b.fn.release_buffer(&minor, buffer);
}

void ReleaseName(const Binding& b, gss::Name* name) {
  if (*name == nullptr) return;
  gss::OMUint32 minor = 0;
  b.fn.release_name(&minor, name);
  *name = nullptr;
}

void DeleteContext(const Binding& b, gss::Ctx* context) {
  if (*context == nullptr) return;
  gss::OMUint32 minor = 0;
  b.fn.delete_sec_context(&minor, context, nullptr);
  *context = nullptr;
}

// Imports `name` (with "@realm" when a realm is given). The buffer carries the text
// and its terminating NUL, and its length counts the NUL. Names with a realm are
// principal names; without one the caller chooses the type.
gss::OMUint32 ImportName(const Binding& b, const char* name, const char* realm,
                         gss::Oid type_without_realm, gss::Name* out, gss::OMUint32* minor) {
  const std::size_t name_length = std::strlen(name);
  const std::size_t realm_length = realm != nullptr ? std::strlen(realm) + 1 : 0;
  const std::size_t size = name_length + realm_length + 1;
  char* text = static_cast<char*>(ut_alloc(size));
  std::memcpy(text, name, name_length);
  if (realm != nullptr) {
    text[name_length] = '@';
    std::memcpy(text + name_length + 1, realm, realm_length - 1);
  }
  text[size - 1] = '\0';
  gss::BufferDesc buffer{size, text};
  const gss::Oid type = realm != nullptr ? b.principal_name_type : type_without_realm;
  const gss::OMUint32 major = b.fn.import_name(minor, &buffer, type, out);
  ut_free(text);
  return major;
}

// `b` is null when the library is gone: its objects cannot be released any more, so
// only our own memory goes back.
void FreeClientState(const Binding* b, KerberosClientState* state) {
  if (KerberosClientContext* inner = state->inner) {
    if (b != nullptr) {
      DeleteContext(*b, &inner->gss_context);
      ReleaseName(*b, &inner->target);
    }
    ut_free(inner);
  }
  ut_free(state->token);
  ut_free(state);
}

void FreeServerState(const Binding* b, KerberosServerConnState* state) {
  if (b != nullptr) {
    gss::Ctx context = static_cast<gss::Ctx>(state->gss_context);
    DeleteContext(*b, &context);
  }
  ut_free(state->principal);
  ut_free(state->reply);
  ut_free(state);
}

// One client step: the input token (empty on the first step) goes in, any output
// token is copied into the state.
gss::OMUint32 ClientStep(const Binding& b, KerberosClientState* state, const void* token,
                         std::size_t length, gss::OMUint32* minor) {
  KerberosClientContext* inner = state->inner;
  gss::BufferDesc input{length, const_cast<void*>(token)};
  gss::BufferDesc output{0, nullptr};
  const gss::OMUint32 major =
      b.fn.init_sec_context(minor, nullptr, &inner->gss_context, inner->target, nullptr,
                            gss::kMutualFlag | gss::kReplayFlag, 0, nullptr, &input, nullptr,
                            &output, nullptr, nullptr);
  state->token = CopyBytes(output.value, output.length);
  state->token_length = state->token != nullptr ? output.length : 0;
  ReleaseBuffer(b, &output);
  return major;
}

}  // namespace

KerberosClientState* KerberosClientGetAuthBlock(UTLangStringBase* catalog, void* context,
                                                const char* principal) {
  if (principal == nullptr) return nullptr;
  BindingLock lock;
  const Binding* b = lock.ready();
  if (b == nullptr) return nullptr;

  auto* state = NewZeroed<KerberosClientState>();
  state->inner = NewZeroed<KerberosClientContext>();
  state->inner->catalog = catalog;
  state->inner->context = context;

  gss::OMUint32 minor = 0;
  gss::OMUint32 major =
      ImportName(*b, principal, nullptr, b->principal_name_type, &state->inner->target, &minor);
  if (major != gss::kComplete) {
    vq::kerberos::ReportStatus(*b, catalog, context, "gss_import_name", major, minor);
    FreeClientState(b, state);
    return nullptr;
  }
  // Mutual authentication always needs the server's answer, so a first step that
  // completes at once (or fails) cannot be used.
  major = ClientStep(*b, state, nullptr, 0, &minor);
  if (major != gss::kContinueNeeded) {
    vq::kerberos::ReportStatus(*b, catalog, context, "gss_init_sec_context (1)", major, minor);
    FreeClientState(b, state);
    return nullptr;
  }
  return state;
}

int KerberosClientVerifyServerAuthBlock(KerberosClientState* state, const void* token,
                                        std::size_t length) {
  if (state == nullptr || state->inner == nullptr) return 0;
  if (token == nullptr && length != 0) return 0;
  BindingLock lock;
  const Binding* b = lock.ready();
  if (b == nullptr) return 0;

  ut_free(state->token);
  state->token = nullptr;
  state->token_length = 0;
  state->continue_needed = 0;

  gss::OMUint32 minor = 0;
  const gss::OMUint32 major = ClientStep(*b, state, token, length, &minor);
  if (major == gss::kComplete) return 1;
  if (major == gss::kContinueNeeded) {
    state->continue_needed = 1;
    return 1;
  }
  vq::kerberos::ReportStatus(*b, state->inner->catalog, state->inner->context,
                             "gss_init_sec_context (2)", major, minor);
  return 0;
}

void KerberosFiniClientState(KerberosClientState* state) {
  if (state == nullptr) return;
  BindingLock lock;
  FreeClientState(lock.ready(), state);
}

KerberosServerCred* KerberosInitServerCred(UTLangStringBase* catalog, void* context,
                                           const char* service, const char* realm) {
  if (service == nullptr) return nullptr;
  BindingLock lock;
  const Binding* b = lock.ready();
  if (b == nullptr) return nullptr;

  gss::OMUint32 minor = 0;
  gss::Name name = nullptr;
  gss::OMUint32 major = ImportName(*b, service, realm, b->user_name_type, &name, &minor);
  if (major != gss::kComplete) {
    vq::kerberos::ReportStatus(*b, catalog, context, "gss_import_name", major, minor);
    return nullptr;
  }
  gss::Cred cred = nullptr;
  major =
      b->fn.acquire_cred(&minor, name, 0, nullptr, gss::kCredAccept, &cred, nullptr, nullptr);
  if (major != gss::kComplete) {
    vq::kerberos::ReportStatus(*b, catalog, context, "gss_acquire_cred", major, minor);
    ReleaseName(*b, &name);
    return nullptr;
  }
  gss::BufferDesc shown{0, nullptr};
  major = b->fn.display_name(&minor, name, &shown, nullptr);
  if (major != gss::kComplete || shown.value == nullptr || shown.length == 0) {
    // An empty name is a failure too; say so rather than "completed successfully".
    if (major == gss::kComplete) major = gss::kBadName;
    vq::kerberos::ReportStatus(*b, catalog, context, "gss_display_name", major, minor);
    ReleaseBuffer(*b, &shown);
    b->fn.release_cred(&minor, &cred);
    ReleaseName(*b, &name);
    return nullptr;
  }
  auto* result = NewZeroed<KerberosServerCred>();
  result->cred = cred;
  result->catalog = catalog;
  result->context = context;
  // The library's text need not end in a NUL; ours does.
  result->display_name = reinterpret_cast<char*>(CopyBytes(shown.value, shown.length));
  result->display_length = shown.length;
  ReleaseBuffer(*b, &shown);
  ReleaseName(*b, &name);
  return result;
}

const char* KerberosServerGetPrincipal(KerberosServerCred* cred) {
  if (cred == nullptr) return nullptr;
  BindingLock lock;
  return lock.ready() != nullptr ? cred->display_name : nullptr;
}

KerberosServerConnState* KerberosServerAuthClient(KerberosServerCred* cred,
                                                  KerberosServerConnState* state,
                                                  const void* token, std::size_t length) {
  if (cred == nullptr) return nullptr;
  if (token == nullptr && length != 0) return nullptr;
  BindingLock lock;
  const Binding* b = lock.ready();
  if (b == nullptr) return nullptr;

  if (state != nullptr) {
    ut_free(state->reply);
    state->reply = nullptr;
    state->reply_length = 0;
  } else {
    state = NewZeroed<KerberosServerConnState>();
  }

  gss::OMUint32 minor = 0;
  gss::BufferDesc input{length, const_cast<void*>(token)};
  gss::BufferDesc output{0, nullptr};
  gss::Name source = nullptr;
  gss::Ctx context = static_cast<gss::Ctx>(state->gss_context);
  gss::OMUint32 major =
      b->fn.accept_sec_context(&minor, &context, cred->cred, &input, nullptr, &source, nullptr,
                               &output, nullptr, nullptr, nullptr);
  state->gss_context = context;
  if (major > gss::kContinueNeeded) {
    vq::kerberos::ReportStatus(*b, cred->catalog, cred->context, "gss_accept_sec_context",
                               major, minor);
    ReleaseBuffer(*b, &output);
    ReleaseName(*b, &source);
    FreeServerState(b, state);
    return nullptr;
  }
  state->reply = CopyBytes(output.value, output.length);
  state->reply_length = state->reply != nullptr ? output.length : 0;
  ReleaseBuffer(*b, &output);

  if (major == gss::kContinueNeeded) {
    state->continue_needed = 1;
  } else {
    state->continue_needed = 0;
    gss::BufferDesc shown{0, nullptr};
    major = b->fn.display_name(&minor, source, &shown, nullptr);
    if (major != gss::kComplete) {
      vq::kerberos::ReportStatus(*b, cred->catalog, cred->context, "gss_display_name", major,
                                 minor);
      ReleaseBuffer(*b, &shown);
      ReleaseName(*b, &source);
      FreeServerState(b, state);
      return nullptr;
    }
    ut_free(state->principal);
    state->principal = reinterpret_cast<char*>(CopyBytes(shown.value, shown.length));
    ReleaseBuffer(*b, &shown);
  }
  ReleaseName(*b, &source);
  return state;
}

void KerberosFiniServerCred(KerberosServerCred* cred) {
  if (cred == nullptr) return;
  BindingLock lock;
  if (const Binding* b = lock.ready(); b != nullptr && cred->cred != nullptr) {
    gss::OMUint32 minor = 0;
    b->fn.release_cred(&minor, &cred->cred);
  }
  ut_free(cred->display_name);
  ut_free(cred);
}

void KerberosFiniServerConnState(KerberosServerConnState* state) {
  if (state == nullptr) return;
  BindingLock lock;
  FreeServerState(lock.ready(), state);
}
