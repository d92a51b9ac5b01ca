// A scripted stand-in for a GSS-API library, loaded by the Kerberos binding's tests.
//
// Variants are built from this one file:
//   FAKE_OMIT_<function>   leaves that gss_* entry point out
//   FAKE_NAME_SYMBOLS      bit mask of the exported name-type variables:
//                          1 GSS_C_NT_USER_NAME, 2 gss_nt_user_name, 4 gss_nt_krb5_name
//   FAKE_LOOKUP            1: exports vkgss_pPtr knowing both krb5 name types;
//                          2: vkgss_pPtr knowing only the user-name type
//
// The test drives it through the fake_gss_* functions: scripted answers of
// init_sec_context and accept_sec_context, one-shot failures of the other calls, and
// a trace of every call. Every name, context, credential and buffer handed out is
// counted until released; a release of something not handed out is traced as "BAD".
// Two calls running at once are traced as "OVERLAP": the binding must serialise them.
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <string>

#include "security/gss_types.h"

using namespace vq::gss;

#ifndef FAKE_NAME_SYMBOLS
#define FAKE_NAME_SYMBOLS 1
#endif
#ifndef FAKE_LOOKUP
#define FAKE_LOOKUP 0
#endif

namespace {

constexpr OMUint32 kFailure = 13u << 16;

struct Step {
  OMUint32 major;
  OMUint32 minor;
  std::string token;  // empty: no output token
};

struct FakeName {
  std::string text;
};
struct FakeCtx {
  int steps;
};
struct FakeCred {
  int usage;
};

// Everything the test scripts and observes; reset by fake_gss_reset.
struct State {
  std::deque<Step> init_steps;
  std::deque<Step> accept_steps;
  std::string fail_function;  // one-shot failure of this call
  OMUint32 fail_major = 0;
  OMUint32 fail_minor = 0;
  std::string name_display;  // display_name text override; "-" for an empty name
  int status_lines = 1;      // lines of text per status value
  int status_mode = 0;       // 0 normal, 1 context never returns to 0, 2 display fails
  int call_delay_us = 0;
  std::string trace;
  std::map<const void*, void (*)(const void*)> live;  // object -> its deleter

  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() {
    for (const auto& [object, deleter] : live) deleter(object);
  }
};

// Destroyed when the library is unloaded, with whatever the binding failed to release.
State g_holder;
State* g_state = &g_holder;
std::atomic<int> g_in_call{0};

unsigned char g_oid_bytes[6][4] = {{1}, {2}, {3}, {4}, {5}, {6}};
OidDesc g_oid_c_user{4, g_oid_bytes[0]};
OidDesc g_oid_user{4, g_oid_bytes[1]};
OidDesc g_oid_krb5{4, g_oid_bytes[2]};
OidDesc g_oid_lookup_user{4, g_oid_bytes[3]};
OidDesc g_oid_lookup_principal{4, g_oid_bytes[4]};

[[maybe_unused]] const char* OidTag(Oid oid) {
  if (oid == &g_oid_c_user) return "c_user";
  if (oid == &g_oid_user) return "user";
  if (oid == &g_oid_krb5) return "krb5";
  if (oid == &g_oid_lookup_user) return "lookup_user";
  if (oid == &g_oid_lookup_principal) return "lookup_principal";
  return oid == nullptr ? "null" : "other";
}

void Trace(const std::string& event) {
  if (!g_state->trace.empty()) g_state->trace += ' ';
  g_state->trace += event;
}

// Marks one library call; traces an overlap with another call in progress.
class Call {
 public:
  Call() {
    if (g_in_call.fetch_add(1) != 0) Trace("OVERLAP");
    if (g_state->call_delay_us > 0) usleep(static_cast<useconds_t>(g_state->call_delay_us));
  }
  ~Call() { g_in_call.fetch_sub(1); }
};

template <typename T>
T* Hand(T* object) {
  g_state->live[object] = [](const void* p) { delete static_cast<const T*>(p); };
  return object;
}

void* HandBlock(void* block) {
  g_state->live[block] = [](const void* p) { std::free(const_cast<void*>(p)); };
  return block;
}

template <typename T>
bool Take(T* object) {
  if (g_state->live.erase(object) == 0) {
    Trace("BAD");
    return false;
  }
  return true;
}

void FillBuffer(Buffer buffer, const std::string& text) {
  buffer->length = 0;
  buffer->value = nullptr;
  if (text.empty()) return;
  // No terminating NUL: the binding must not rely on one.
  void* value = std::malloc(text.size());
  std::memcpy(value, text.data(), text.size());
  buffer->value = HandBlock(value);
  buffer->length = text.size();
}

bool FailHere(const char* function, OMUint32* major, OMUint32* minor) {
  if (g_state->fail_function != function) return false;
  g_state->fail_function.clear();
  *major = g_state->fail_major;
  *minor = g_state->fail_minor;
  return true;
}

std::string Printable(const void* value, std::size_t length) {
  std::string out;
  const auto* bytes = static_cast<const unsigned char*>(value);
  for (std::size_t i = 0; i < length; ++i) {
    if (bytes[i] == 0) {
      out += "\\0";
    } else {
      out += static_cast<char>(bytes[i]);
    }
  }
  return out;
}

}  // namespace

extern "C" {

// ---- control ---------------------------------------------------------------------------

void fake_gss_reset() {
  for (const auto& [object, deleter] : g_state->live) deleter(object);
  g_state->live.clear();
  g_state->init_steps.clear();
  g_state->accept_steps.clear();
  g_state->fail_function.clear();
  g_state->name_display.clear();
  g_state->status_lines = 1;
  g_state->status_mode = 0;
  g_state->call_delay_us = 0;
  g_state->trace.clear();
}
void fake_gss_push_init(OMUint32 major, OMUint32 minor, const char* token) {
  g_state->init_steps.push_back({major, minor, token != nullptr ? token : ""});
}
void fake_gss_push_accept(OMUint32 major, OMUint32 minor, const char* token) {
  g_state->accept_steps.push_back({major, minor, token != nullptr ? token : ""});
}
void fake_gss_fail_next(const char* function, OMUint32 major, OMUint32 minor) {
  g_state->fail_function = function;
  g_state->fail_major = major;
  g_state->fail_minor = minor;
}
void fake_gss_set_name_display(const char* text) { g_state->name_display = text; }
void fake_gss_set_status(int lines, int mode) {
  g_state->status_lines = lines;
  g_state->status_mode = mode;
}
void fake_gss_set_call_delay(int microseconds) { g_state->call_delay_us = microseconds; }
const char* fake_gss_trace() { return g_state->trace.c_str(); }
void fake_gss_clear_trace() { g_state->trace.clear(); }
int fake_gss_live() { return static_cast<int>(g_state->live.size()); }

// ---- name types --------------------------------------------------------------------------

#if FAKE_NAME_SYMBOLS & 1
Oid GSS_C_NT_USER_NAME = &g_oid_c_user;
#endif
#if FAKE_NAME_SYMBOLS & 2
Oid gss_nt_user_name = &g_oid_user;
#endif
#if FAKE_NAME_SYMBOLS & 4
Oid gss_nt_krb5_name = &g_oid_krb5;
#endif

#if FAKE_LOOKUP
Oid vkgss_pPtr(const char* name) {
  if (std::strcmp(name, "GSS_KRB5_NT_USER_NAME") == 0) return &g_oid_lookup_user;
  if (FAKE_LOOKUP == 1 && std::strcmp(name, "GSS_KRB5_NT_PRINCIPAL_NAME") == 0) {
    return &g_oid_lookup_principal;
  }
  return nullptr;
}
#endif

// ---- entry points ------------------------------------------------------------------------

#ifndef FAKE_OMIT_gss_import_name
OMUint32 gss_import_name(OMUint32* minor, Buffer input, Oid type, Name* out) {
  Call call;
  Trace(std::string("import:") + OidTag(type) + ":" + Printable(input->value, input->length));
  OMUint32 major = 0;
  *minor = 0;
  if (FailHere("gss_import_name", &major, minor)) return major;
  auto* name =
      new FakeName{std::string(static_cast<const char*>(input->value),
                               strnlen(static_cast<const char*>(input->value), input->length))};
  *out = reinterpret_cast<Name>(Hand(name));
  return 0;
}
#endif

#ifndef FAKE_OMIT_gss_release_name
OMUint32 gss_release_name(OMUint32* minor, Name* name) {
  Call call;
  Trace("release_name");
  *minor = 0;
  auto* object = reinterpret_cast<FakeName*>(*name);
  if (object != nullptr && Take(object)) delete object;
  *name = nullptr;
  return 0;
}
#endif

#ifndef FAKE_OMIT_gss_display_name
OMUint32 gss_display_name(OMUint32* minor, Name name, Buffer out, Oid* type) {
  Call call;
  Trace("display_name");
  OMUint32 major = 0;
  *minor = 0;
  out->length = 0;
  out->value = nullptr;
  if (type != nullptr) *type = nullptr;
  if (FailHere("gss_display_name", &major, minor)) return major;
  auto* object = reinterpret_cast<FakeName*>(name);
  if (object == nullptr || g_state->live.count(object) == 0) {
    Trace("BAD");
    return 2u << 16;
  }
  const std::string& shown = g_state->name_display.empty()  ? object->text
                             : g_state->name_display == "-" ? std::string()
                                                            : g_state->name_display;
  FillBuffer(out, shown);
  return 0;
}
#endif

#ifndef FAKE_OMIT_gss_release_buffer
OMUint32 gss_release_buffer(OMUint32* minor, Buffer buffer) {
  Call call;
  *minor = 0;
  if (buffer->value != nullptr && Take(buffer->value)) {
    std::memset(buffer->value, 0xEE, buffer->length);  // a stale reader sees garbage
    std::free(buffer->value);
  }
  buffer->value = nullptr;
  buffer->length = 0;
  return 0;
}
#endif

#ifndef FAKE_OMIT_gss_display_status
OMUint32 gss_display_status(OMUint32* minor, OMUint32 status, int type, Oid,
                            OMUint32* message_context, Buffer out) {
  Call call;
  Trace("display_status:" + std::to_string(type));
  *minor = 0;
  out->length = 0;
  out->value = nullptr;
  if (g_state->status_mode == 2) {
    *message_context = 1;
    return kFailure;
  }
  const OMUint32 line = *message_context;
  FillBuffer(out, std::string(type == 1 ? "major " : "minor ") + std::to_string(status) +
                      " line " + std::to_string(line + 1));
  *message_context = line + 1;
  if (g_state->status_mode == 0 && static_cast<int>(line + 1) >= g_state->status_lines) {
    *message_context = 0;
  }
  return 0;
}
#endif

#ifndef FAKE_OMIT_gss_init_sec_context
OMUint32 gss_init_sec_context(OMUint32* minor, Cred claimant, Ctx* context, Name target,
                              Oid mech, OMUint32 flags, OMUint32 time_req,
                              ChannelBindings bindings, Buffer input, Oid* actual_mech,
                              Buffer output, OMUint32* ret_flags, OMUint32* time_rec) {
  Call call;
  std::string event = "init:" + std::to_string(flags) + ":" +
                      (input != nullptr ? Printable(input->value, input->length) : "-");
  if (claimant != nullptr || mech != nullptr || time_req != 0 || bindings != nullptr) {
    event += ":ARGS";
  }
  if (target == nullptr || g_state->live.count(target) == 0) event += ":NOTARGET";
  Trace(event);
  *minor = 0;
  if (actual_mech != nullptr) *actual_mech = nullptr;
  if (ret_flags != nullptr) *ret_flags = flags;
  if (time_rec != nullptr) *time_rec = 0;
  output->length = 0;
  output->value = nullptr;
  auto* ctx = reinterpret_cast<FakeCtx*>(*context);
  if (ctx != nullptr && g_state->live.count(ctx) == 0) Trace("BAD");
  Step step;
  if (!g_state->init_steps.empty()) {
    step = g_state->init_steps.front();
    g_state->init_steps.pop_front();
  } else {
    // Unscripted: a two-step exchange.
    step = ctx == nullptr ? Step{1, 0, "auto-token"} : Step{0, 0, ""};
  }
  *minor = step.minor;
  if (step.major <= 1) {
    if (ctx == nullptr) *context = reinterpret_cast<Ctx>(Hand(new FakeCtx{0}));
    FillBuffer(output, step.token);
  }
  return step.major;
}
#endif

#ifndef FAKE_OMIT_gss_delete_sec_context
OMUint32 gss_delete_sec_context(OMUint32* minor, Ctx* context, Buffer output) {
  Call call;
  Trace("delete");
  *minor = 0;
  if (output != nullptr) Trace("OUTPUT");
  auto* ctx = reinterpret_cast<FakeCtx*>(*context);
  if (ctx != nullptr && Take(ctx)) delete ctx;
  *context = nullptr;
  return 0;
}
#endif

#ifndef FAKE_OMIT_gss_acquire_cred
OMUint32 gss_acquire_cred(OMUint32* minor, Name name, OMUint32, OidSet mechs, int usage,
                          Cred* out, OidSet* actual, OMUint32* time_rec) {
  Call call;
  Trace("acquire:" + std::to_string(usage) + (mechs != nullptr ? ":ARGS" : ""));
  OMUint32 major = 0;
  *minor = 0;
  if (actual != nullptr) *actual = nullptr;
  if (time_rec != nullptr) *time_rec = 0;
  if (name == nullptr || g_state->live.count(name) == 0) Trace("BAD");
  if (FailHere("gss_acquire_cred", &major, minor)) return major;
  *out = reinterpret_cast<Cred>(Hand(new FakeCred{usage}));
  return 0;
}
#endif

#ifndef FAKE_OMIT_gss_release_cred
OMUint32 gss_release_cred(OMUint32* minor, Cred* cred) {
  Call call;
  Trace("release_cred");
  *minor = 0;
  auto* object = reinterpret_cast<FakeCred*>(*cred);
  if (object != nullptr && Take(object)) delete object;
  *cred = nullptr;
  return 0;
}
#endif

#ifndef FAKE_OMIT_gss_accept_sec_context
OMUint32 gss_accept_sec_context(OMUint32* minor, Ctx* context, Cred cred, Buffer input,
                                ChannelBindings bindings, Name* source, Oid* mech,
                                Buffer output, OMUint32* ret_flags, OMUint32* time_rec,
                                Cred* delegated) {
  Call call;
  Trace("accept:" + Printable(input->value, input->length) +
        (bindings != nullptr ? ":ARGS" : ""));
  if (cred == nullptr || g_state->live.count(cred) == 0) Trace("BAD");
  *minor = 0;
  if (mech != nullptr) *mech = nullptr;
  if (ret_flags != nullptr) *ret_flags = 0;
  if (time_rec != nullptr) *time_rec = 0;
  if (delegated != nullptr) *delegated = nullptr;
  if (source != nullptr) *source = nullptr;
  output->length = 0;
  output->value = nullptr;
  auto* ctx = reinterpret_cast<FakeCtx*>(*context);
  if (ctx != nullptr && g_state->live.count(ctx) == 0) Trace("BAD");
  Step step{0, 0, "auto-reply"};
  if (!g_state->accept_steps.empty()) {
    step = g_state->accept_steps.front();
    g_state->accept_steps.pop_front();
  }
  *minor = step.minor;
  if (step.major <= 1) {
    if (ctx == nullptr) *context = reinterpret_cast<Ctx>(Hand(new FakeCtx{0}));
    FillBuffer(output, step.token);
  }
  if (step.major == 0 && source != nullptr) {
    *source = reinterpret_cast<Name>(Hand(new FakeName{"client@FAKE.REALM"}));
  }
  return step.major;
}
#endif

}  // extern "C"
