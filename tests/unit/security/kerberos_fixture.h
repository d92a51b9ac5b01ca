// The Kerberos binding's test fixture: scripted GSS-API libraries and their traces.
#ifndef VQ_TESTS_UNIT_SECURITY_KERBEROS_FIXTURE_H
#define VQ_TESTS_UNIT_SECURITY_KERBEROS_FIXTURE_H

#include "security/kerberos.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "utils/locale/lang_string.h"
#include "utils/locale/utlocale.h"

namespace {

using OMUint32 = std::uint32_t;

constexpr OMUint32 kFailure = 13u << 16;
constexpr OMUint32 kNoCred = 7u << 16;
constexpr OMUint32 kDefectiveToken = 9u << 16;
constexpr OMUint32 kBadName = 2u << 16;

inline std::string FakePath(const std::string& variant) {
  return std::string(FAKE_GSS_DIR) + "/libfakegss_" + variant + ".so";
}

inline bool IsLoaded(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
}

struct Messages {
  std::vector<std::string> texts;
  static void Collect(const char* text, void* context) {
    static_cast<Messages*>(context)->texts.emplace_back(text);
  }
};

inline std::string Status(const char* where, OMUint32 status, bool major, int line = 1) {
  return std::string("[14994] Kerberos error in ") + where + ": " +
         (major ? "major " : "minor ") + std::to_string(status) + " line " +
         std::to_string(line);
}

inline std::string Bytes(const void* data, std::size_t length) {
  return data == nullptr ? std::string() : std::string(static_cast<const char*>(data), length);
}

// A handle on one fake library and its control functions. Holding it keeps the library
// mapped, so the trace can be read after the binding let go.
class FakeGss {
 public:
  explicit FakeGss(const std::string& variant)
      : path_(FakePath(variant)), handle_(dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) {
      ADD_FAILURE() << "cannot load " << path_ << ": " << dlerror();
      return;
    }
    Bind("fake_gss_reset", &reset_);
    Bind("fake_gss_push_init", &push_init_);
    Bind("fake_gss_push_accept", &push_accept_);
    Bind("fake_gss_fail_next", &fail_next_);
    Bind("fake_gss_set_name_display", &set_name_display_);
    Bind("fake_gss_set_status", &set_status_);
    Bind("fake_gss_set_call_delay", &set_call_delay_);
    Bind("fake_gss_trace", &trace_);
    Bind("fake_gss_clear_trace", &clear_trace_);
    Bind("fake_gss_live", &live_);
    reset_();
  }
  ~FakeGss() {
    if (handle_ != nullptr) {
      reset_();
      dlclose(handle_);
    }
  }
  FakeGss(const FakeGss&) = delete;
  FakeGss& operator=(const FakeGss&) = delete;

  const std::string& path() const { return path_; }
  void Reset() { reset_(); }
  void PushInit(OMUint32 major, OMUint32 minor, const char* token) {
    push_init_(major, minor, token);
  }
  void PushAccept(OMUint32 major, OMUint32 minor, const char* token) {
    push_accept_(major, minor, token);
  }
  void FailNext(const char* function, OMUint32 major, OMUint32 minor) {
    fail_next_(function, major, minor);
  }
  void SetNameDisplay(const char* text) { set_name_display_(text); }
  void SetStatus(int lines, int mode) { set_status_(lines, mode); }
  void SetCallDelay(int microseconds) { set_call_delay_(microseconds); }
  std::string Trace() const { return trace_(); }
  void ClearTrace() { clear_trace_(); }
  int Live() const { return live_(); }

 private:
  template <typename Fn>
  void Bind(const char* name, Fn* out) {
    *out = reinterpret_cast<Fn>(dlsym(handle_, name));
    if (*out == nullptr) ADD_FAILURE() << "fake library lacks " << name;
  }

  std::string path_;
  void* handle_;
  void (*reset_)() = nullptr;
  void (*push_init_)(OMUint32, OMUint32, const char*) = nullptr;
  void (*push_accept_)(OMUint32, OMUint32, const char*) = nullptr;
  void (*fail_next_)(const char*, OMUint32, OMUint32) = nullptr;
  void (*set_name_display_)(const char*) = nullptr;
  void (*set_status_)(int, int) = nullptr;
  void (*set_call_delay_)(int) = nullptr;
  const char* (*trace_)() = nullptr;
  void (*clear_trace_)() = nullptr;
  int (*live_)() = nullptr;
};

// ---- loading and binding ------------------------------------------------------------------

class KerberosFake : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(KerberosInit(fake_.path().c_str(), Messages::Collect, nullptr, &messages_), 1);
    messages_.texts.clear();
    fake_.ClearTrace();
  }
  void TearDown() override {
    KerberosFini();
    EXPECT_FALSE(StillInitialised()) << "the test left a reference behind";
    // Every name, context, credential and buffer went back, once, never in parallel,
    // and every call carried the argument values the exchange relies on.
    EXPECT_EQ(fake_.Live(), 0);
    const std::string trace = fake_.Trace();
    for (const char* fault : {"BAD", "OVERLAP", "ARGS", "NOTARGET", "OUTPUT"}) {
      EXPECT_EQ(trace.find(fault), std::string::npos) << fault << " in " << trace;
    }
  }
  static bool StillInitialised() {
    KerberosClientState* state = KerberosClientGetAuthBlock(nullptr, nullptr, "x");
    KerberosFiniClientState(state);
    return state != nullptr;
  }

  FakeGss fake_{"full"};
  Messages messages_;
};

}  // namespace

#endif  // VQ_TESTS_UNIT_SECURITY_KERBEROS_FIXTURE_H
