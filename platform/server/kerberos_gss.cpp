// Kerberos logins over the system's GSS-API library, linked directly (the server
// is no part of the client library, which loads its GSS-API library by name).
#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>
#include <gssapi/gssapi_krb5.h>

#include <mutex>

#include "kerberos_login.h"

namespace vqeng {
namespace {

// The library's texts for a failed call: the major status, then the mechanism's.
std::string status_text(const char* where, OM_uint32 major, OM_uint32 minor) {
  std::string text = where;
  for (const auto& [code, type] : {std::pair<OM_uint32, int>{major, GSS_C_GSS_CODE},
                                   std::pair<OM_uint32, int>{minor, GSS_C_MECH_CODE}}) {
    if (type == GSS_C_MECH_CODE && code == 0) break;
    OM_uint32 more = 0;
    do {
      OM_uint32 m = 0;
      gss_buffer_desc b{0, nullptr};
      if (gss_display_status(&m, code, type, GSS_C_NO_OID, &more, &b) != GSS_S_COMPLETE) break;
      if (b.length > 0) text += ": " + std::string(static_cast<const char*>(b.value), b.length);
      gss_release_buffer(&m, &b);
    } while (more != 0);
  }
  return text;
}

bool display(gss_name_t name, std::string& out) {
  OM_uint32 minor = 0;
  gss_buffer_desc b{0, nullptr};
  if (gss_display_name(&minor, name, &b, nullptr) != GSS_S_COMPLETE) return false;
  out.assign(static_cast<const char*>(b.value), b.length);
  gss_release_buffer(&minor, &b);
  return !out.empty();
}

class GssContext final : public KerberosContext {
 public:
  GssContext(gss_cred_id_t cred, std::mutex* mu) : cred_(cred), mu_(mu) {}
  ~GssContext() override {
    OM_uint32 minor = 0;
    if (ctx_ != GSS_C_NO_CONTEXT) gss_delete_sec_context(&minor, &ctx_, GSS_C_NO_BUFFER);
  }

  KerberosStep accept(const std::string& token) override {
    KerberosStep step;
    OM_uint32 minor = 0;
    gss_buffer_desc in{token.size(), const_cast<char*>(token.data())};
    gss_buffer_desc out{0, nullptr};
    gss_name_t source = GSS_C_NO_NAME;
    OM_uint32 major;
    {
      // Calls on the one shared credential are serialised.
      std::lock_guard<std::mutex> lock(*mu_);
      major = gss_accept_sec_context(&minor, &ctx_, cred_, &in, GSS_C_NO_CHANNEL_BINDINGS,
                                     &source, nullptr, &out, nullptr, nullptr, nullptr);
    }
    if (out.length > 0)
      step.reply_token.assign(static_cast<const char*>(out.value), out.length);
    OM_uint32 ignored = 0;
    gss_release_buffer(&ignored, &out);
    if (GSS_ERROR(major)) {
      step.why = status_text("gss_accept_sec_context", major, minor);
      step.reply_token.clear();
    } else if (major & GSS_S_CONTINUE_NEEDED) {
      step.outcome = KerberosStep::Outcome::Continue;
    } else if (display(source, step.principal)) {
      step.outcome = KerberosStep::Outcome::Complete;
    } else {
      step.why = "gss_display_name: the client's principal has no name";
    }
    if (source != GSS_C_NO_NAME) gss_release_name(&ignored, &source);
    return step;
  }

 private:
  gss_cred_id_t cred_;
  std::mutex* mu_;
  gss_ctx_id_t ctx_ = GSS_C_NO_CONTEXT;
};

class GssService final : public KerberosService {
 public:
  GssService(gss_cred_id_t cred, std::string principal)
      : cred_(cred), principal_(std::move(principal)) {}
  ~GssService() override {
    OM_uint32 minor = 0;
    gss_release_cred(&minor, &cred_);
  }
  const std::string& principal() const override { return principal_; }
  std::unique_ptr<KerberosContext> new_context() const override {
    return std::make_unique<GssContext>(cred_, &mu_);
  }

 private:
  gss_cred_id_t cred_;
  std::string principal_;
  mutable std::mutex mu_;
};

}  // namespace

std::unique_ptr<KerberosService> open_gss_service(const std::string& keytab,
                                                  const std::string& service,
                                                  std::string& why) {
  OM_uint32 minor = 0, ignored = 0;
  gss_buffer_desc text{service.size(), const_cast<char*>(service.data())};
  gss_name_t name = GSS_C_NO_NAME;
  OM_uint32 major = gss_import_name(&minor, &text, GSS_KRB5_NT_PRINCIPAL_NAME, &name);
  if (GSS_ERROR(major)) {
    why = status_text("gss_import_name", major, minor);
    return nullptr;
  }
  // The key comes from the named keytab only, not from the process's default one.
  const std::string keytab_path = "FILE:" + keytab;
  gss_key_value_element_desc element{"keytab", keytab_path.c_str()};
  gss_key_value_set_desc store{1, &element};
  gss_cred_id_t cred = GSS_C_NO_CREDENTIAL;
  major = gss_acquire_cred_from(&minor, name, GSS_C_INDEFINITE, GSS_C_NO_OID_SET, GSS_C_ACCEPT,
                                &store, &cred, nullptr, nullptr);
  gss_release_name(&ignored, &name);
  if (GSS_ERROR(major)) {
    why = status_text("gss_acquire_cred_from", major, minor);
    return nullptr;
  }
  // The credential's own name is the full principal, realm included.
  gss_name_t own = GSS_C_NO_NAME;
  std::string principal;
  major = gss_inquire_cred(&minor, cred, &own, nullptr, nullptr, nullptr);
  const bool named = !GSS_ERROR(major) && display(own, principal);
  if (own != GSS_C_NO_NAME) gss_release_name(&ignored, &own);
  if (!named) {
    why = GSS_ERROR(major) ? status_text("gss_inquire_cred", major, minor)
                           : "the accepting credential has no name";
    gss_release_cred(&ignored, &cred);
    return nullptr;
  }
  return std::make_unique<GssService>(cred, principal);
}

}  // namespace vqeng
