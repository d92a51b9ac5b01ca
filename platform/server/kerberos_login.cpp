// Mapping a client's principal to a user, and the stand-in for a build without
// the GSS-API development files.
#include "kerberos_login.h"

namespace vqeng {

std::string kerberos_user_of(const std::string& principal,
                             const std::string& service_principal) {
  const auto at = principal.rfind('@');
  const auto service_at = service_principal.rfind('@');
  if (at == std::string::npos || at == 0 || service_at == std::string::npos) return {};
  if (principal.compare(at, std::string::npos, service_principal, service_at,
                        std::string::npos) != 0)
    return {};  // another realm
  const std::string name = principal.substr(0, at);
  // "name/instance" is a service or an administrator, never a database user.
  if (name.find('/') != std::string::npos) return {};
  return name;
}

#ifndef VQENG_HAVE_GSS
std::unique_ptr<KerberosService> open_gss_service(const std::string&, const std::string&,
                                                  std::string& why) {
  why = "this server was built without the GSS-API library (libkrb5-dev)";
  return nullptr;
}
#endif

}  // namespace vqeng
