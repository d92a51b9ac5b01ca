// Kerberos single sign-on through a GSS-API library loaded at run time.
//
// KerberosInit loads the library once per process (reference counted) and binds its
// entry points by name; nothing here links a GSS-API library. The client side runs a
// mutual-authentication exchange: KerberosClientGetAuthBlock makes the first token for
// the server, KerberosClientVerifyServerAuthBlock feeds each reply back and yields the
// next token, if any. The server side (credential, context acceptance) sits beside it
// for tests and peers; the client never uses it. Tokens are opaque bytes.
//
// Threading: one process-wide mutex serialises initialisation, finalisation and every
// call into the library, so connection threads may call these functions at once. The
// message callback runs with that mutex held and must not call back into this file.
//
// Failures answer 0 or null and are reported through the message callback given to the
// first KerberosInit (numbers 14991 to 14994). Every function but KerberosInit and
// KerberosFini answers 0 or null and does nothing while the library is not initialised.
// Every state and credential must be freed before the last KerberosFini; one freed later
// only gives its own memory back, as the library's objects went with the library.
#ifndef VQ_SECURITY_KERBEROS_H
#define VQ_SECURITY_KERBEROS_H

#include <cstddef>

class UTLangStringBase;

// Receives every message text of the binding, with the callback context of the call
// that caused it.
using KerberosMessageCallback = void (*)(const char* text, void* context);

struct KerberosClientContext;  // catalog, callback context, GSS context, target name

struct KerberosClientState {
  KerberosClientContext* inner;
  unsigned char* token;      // next token for the server (owned), null when none
  std::size_t token_length;  // bytes at `token`; 0 when there is nothing to send
  int continue_needed;       // non-zero: the server's next token must be fed back
};

struct KerberosServerCred;  // opaque: credential, catalog, context, display name

struct KerberosServerConnState {
  void* gss_context;     // the library's security context
  char* principal;       // the client's principal, NUL-terminated (owned); null until complete
  unsigned char* reply;  // token for the client (owned), null when none
  std::size_t reply_length;  // bytes at `reply`
  int continue_needed;       // non-zero: the client sends another token
};

// Non-zero when Kerberos can be used. The first call loads `library` (null: the
// default "libgssapi_krb5.so", then the system's versioned "libgssapi_krb5.so.2") and
// binds it; an empty name counts as null. Later calls only count a reference and
// ignore their arguments.
int KerberosInit(const char* library, KerberosMessageCallback callback,
                 UTLangStringBase* catalog, void* context);
// Drops one reference; the last one unloads the library and forgets the callback.
void KerberosFini();

// A new client state holding the first token for `principal`, or null. The caller
// sends the token and frees the state with KerberosFiniClientState.
KerberosClientState* KerberosClientGetAuthBlock(UTLangStringBase* catalog, void* context,
                                                const char* principal);
// Feeds the server's token. Non-zero on success; the state then holds the next token
// (length 0 when none) and the continue flag. The previous token is freed first.
int KerberosClientVerifyServerAuthBlock(KerberosClientState* state, const void* token,
                                        std::size_t length);
// Deletes the security context and target name and frees the state; null is ignored.
void KerberosFiniClientState(KerberosClientState* state);

// An accepting credential for `service` (with "@realm" appended when `realm` is given),
// or null.
KerberosServerCred* KerberosInitServerCred(UTLangStringBase* catalog, void* context,
                                           const char* service, const char* realm);
// The service's display name (valid while the credential lives), or null.
const char* KerberosServerGetPrincipal(KerberosServerCred* cred);
// Accepts one client token into `state` (null: a new state). Answers the state, with
// the reply token and continue flag set and, once complete, the client's principal; or
// null after a failure, with the state (also a given one) freed.
KerberosServerConnState* KerberosServerAuthClient(KerberosServerCred* cred,
                                                  KerberosServerConnState* state,
                                                  const void* token, std::size_t length);
// Release the library's objects and free the record; null is ignored.
void KerberosFiniServerCred(KerberosServerCred* cred);
void KerberosFiniServerConnState(KerberosServerConnState* state);

#endif  // VQ_SECURITY_KERBEROS_H
