// Kerberos logins: the server's accepting credential (a service principal with
// its key in a keytab) and one client's security context. The session sees only
// these interfaces, so its tests can script the exchange; open_gss_service makes
// the real ones over the system's GSS-API library.
//
// The exchange: the client's first token rides in the database connect (item
// 18); each accept answers with a reply token (item 18 back to the client) and
// either wants another client token or is complete, naming the client's
// principal ("name@REALM").
#pragma once

#include <memory>
#include <string>

namespace vqeng {

struct KerberosStep {
  enum class Outcome { Continue, Complete, Failed };
  Outcome outcome = Outcome::Failed;
  std::string reply_token;  // to send back; may be empty
  std::string principal;    // the client, once complete
  std::string why;          // the library's own text, when failed
};

// One client's security context. Not shared between threads.
class KerberosContext {
 public:
  virtual ~KerberosContext() = default;
  virtual KerberosStep accept(const std::string& token) = 0;
};

// The server's accepting credential. new_context may be called from several
// connection threads at once.
class KerberosService {
 public:
  virtual ~KerberosService() = default;
  // The service principal with its realm, as clients must name it.
  virtual const std::string& principal() const = 0;
  virtual std::unique_ptr<KerberosContext> new_context() const = 0;
};

// The credential of `service` (a principal name, "name/host" or with "@REALM")
// from the keytab file. Null with `why` when the keytab has no key for it or the
// library cannot be used.
std::unique_ptr<KerberosService> open_gss_service(const std::string& keytab,
                                                  const std::string& service, std::string& why);

// The user a principal logs in as: its name before "@", when its realm is the
// service's own; empty otherwise (no cross-realm logins, no instances).
std::string kerberos_user_of(const std::string& principal,
                             const std::string& service_principal);

}  // namespace vqeng
