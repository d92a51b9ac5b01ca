// A host for the communication stack's tests: the notifier contract on System V
// semaphores (the request thread blocks in block(), the link's thread posts through
// handle_strm_indicator()), a recording host function table and a counted host
// context. Later tests of the stack reuse it.
#ifndef VQ_TESTS_UNIT_STREAMS_STREAM_TEST_HOST_H
#define VQ_TESTS_UNIT_STREAMS_STREAM_TEST_HOST_H

#include <errno.h>
#include <sys/sem.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "streams/host_functions.h"
#include "streams/notifier.h"
#include "utils/base/refobj.h"
#include "vqtasks.h"

namespace vq::testing {

// A connection notifier over one System V semaphore used as a counting semaphore: a
// post made before the block is kept. block() waits in steps of at most one second,
// asks `alive` between steps, and measures its limit on the monotonic clock.
class TestConnNotifier : public c_strm_conn_notifier {
 public:
  TestConnNotifier() { sysv_open_semaphore(&sem_, 0); }
  ~TestConnNotifier() override {
    if (sem_.id > 0) sysv_close_semaphore(&sem_);
  }

  bool usable() const { return sem_.id > 0; }

  bool block(std::uint32_t seconds) override {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
    ++blocks_;
    for (;;) {
      if (!alive_.load()) return false;
      auto step = std::chrono::nanoseconds(std::chrono::seconds(1));
      if (seconds != 0) {
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) return false;
        if (left < step) step = std::chrono::duration_cast<std::chrono::nanoseconds>(left);
      }
      const auto secs = std::chrono::duration_cast<std::chrono::seconds>(step);
      timespec limit{static_cast<time_t>(secs.count()),
                     static_cast<long>((step - secs).count())};
      sembuf op{static_cast<unsigned short>(sem_.number), -1, 0};
      if (semtimedop(sem_.id, &op, 1, &limit) == 0) return true;
      if (errno != EAGAIN && errno != EINTR) return false;
    }
  }

  void post() override {
    ++posts_;
    sembuf op{static_cast<unsigned short>(sem_.number), 1, 0};
    semop(sem_.id, &op, 1);
  }

  void handle_strm_indicator(std::uint8_t code) override {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      indicators_.push_back(code);
    }
    if (code == STRM_IND_CONN_DIED) {
      if (on_dropped_) on_dropped_();
      post();
    } else if (code == STRM_IND_DATA_ARRIVED) {
      if (!event_driven_.load()) post();
    } else if (strm_indicator_wakes(code)) {
      post();
    }
  }

  void* get_event() override {
    if (sem_.id < 1) return nullptr;
    event_driven_.store(true);
    return &sem_;
  }

  void set_sconn(a_strm_conn conn) override { sconn_.store(conn); }
  int swap_streams(c_strm_conn_notifier*, std::uintptr_t) override { return 1; }

  // Test controls and observations.
  void set_alive(bool on) { alive_.store(on); }
  void set_on_dropped(std::function<void()> f) { on_dropped_ = std::move(f); }
  std::vector<std::uint8_t> indicators() {
    std::lock_guard<std::mutex> hold(mutex_);
    return indicators_;
  }
  int posts() const { return posts_.load(); }
  int blocks() const { return blocks_.load(); }
  a_strm_conn sconn() const { return sconn_.load(); }
  const a_sysv_semaphore& semaphore() const { return sem_; }

 private:
  a_sysv_semaphore sem_{-1, 0};
  std::atomic<bool> alive_{true};
  std::atomic<bool> event_driven_{false};
  std::atomic<int> posts_{0};
  std::atomic<int> blocks_{0};
  std::atomic<a_strm_conn> sconn_{nullptr};
  std::function<void()> on_dropped_;
  std::mutex mutex_;
  std::vector<std::uint8_t> indicators_;
};

// An environment notifier that counts posts, keeps printed lines and makes
// TestConnNotifiers (or refuses, with a message, when told to).
class TestEnvNotifier : public c_strm_env_notifier {
 public:
  void post() override { ++posts_; }
  void prt_msg(void* context, const char* text) override {
    std::lock_guard<std::mutex> hold(mutex_);
    lines_.emplace_back(context, text != nullptr ? text : "");
  }
  c_strm_conn_notifier* create_conn_note(void*, char* error, unsigned int error_size,
                                         unsigned int) override {
    auto* note = new TestConnNotifier;
    if (refuse_.load() || !note->usable()) {
      delete note;
      if (error != nullptr && error_size != 0) {
        std::snprintf(error, error_size, "%s", "no semaphore for the connection");
      }
      return nullptr;
    }
    ++made_;
    return note;
  }
  void* get_semaphore() override { return &semaphore_; }

  void set_refuse(bool on) { refuse_.store(on); }
  int posts() const { return posts_.load(); }
  int made() const { return made_.load(); }
  std::vector<std::pair<void*, std::string>> lines() {
    std::lock_guard<std::mutex> hold(mutex_);
    return lines_;
  }

 private:
  std::atomic<int> posts_{0};
  std::atomic<int> made_{0};
  std::atomic<bool> refuse_{false};
  a_sysv_semaphore semaphore_{-1, 0};
  std::mutex mutex_;
  std::vector<std::pair<void*, std::string>> lines_;
};

// A host context with the reference count the stack expects; counts deletions.
class TestHostCtx : public c_utils_refobj {
 public:
  explicit TestHostCtx(std::atomic<int>* deleted = nullptr) : deleted_(deleted) {}
  ~TestHostCtx() override {
    if (deleted_ != nullptr) ++*deleted_;
  }
  bool debug = true;  // answer of the host's debug test for this context

 private:
  std::atomic<int>* deleted_;
};

// What the recording host function table received.
struct HostPrints {
  std::mutex mutex;
  std::vector<std::pair<void*, std::string>> prints;        // StrmPrtString
  std::vector<std::pair<void*, std::string>> errors;        // StrmPrtErrString
  std::vector<std::pair<void*, std::string>> connectionless;  // (parameter, text)

  static HostPrints& get() {
    static HostPrints instance;
    return instance;
  }
  void clear() {
    std::lock_guard<std::mutex> hold(mutex);
    prints.clear();
    errors.clear();
    connectionless.clear();
  }
  std::vector<std::pair<void*, std::string>> connectionless_lines() {
    std::lock_guard<std::mutex> hold(mutex);
    return connectionless;
  }
};

// A complete host function table that records into HostPrints. The debug test answers
// the TestHostCtx's `debug` field (0 for a null context).
inline a_strm_func_list RecordingFuncList(void* connectionless_param = nullptr) {
  a_strm_func_list l{};
  l.StrmAlloc = [](std::size_t n) -> void* { return std::malloc(n); };
  l.StrmFree = [](void* p) { std::free(p); };
  l.StrmRealloc = [](void* p, std::size_t n) -> void* { return std::realloc(p, n); };
  l.StrmPrtString = [](void* ctx, const char* text) {
    HostPrints& h = HostPrints::get();
    std::lock_guard<std::mutex> hold(h.mutex);
    h.prints.emplace_back(ctx, text != nullptr ? text : "");
  };
  l.StrmPrtErrString = [](void* ctx, const char* text) {
    HostPrints& h = HostPrints::get();
    std::lock_guard<std::mutex> hold(h.mutex);
    h.errors.emplace_back(ctx, text != nullptr ? text : "");
  };
  l.StrmCheckDebug = [](void* ctx) -> int {
    return ctx != nullptr && static_cast<TestHostCtx*>(static_cast<c_utils_refobj*>(ctx))->debug
               ? 1
               : 0;
  };
  l.StrmConnectionlessPrtString = [](void* param, const char* text) {
    HostPrints& h = HostPrints::get();
    std::lock_guard<std::mutex> hold(h.mutex);
    h.connectionless.emplace_back(param, text != nullptr ? text : "");
  };
  l.StrmConnectionlessPrtStringParam = connectionless_param;
  return l;
}

// Installs the recording table for a scope and puts the previous one back.
class ScopedHostTable {
 public:
  explicit ScopedHostTable(void* connectionless_param = nullptr) {
    i_strm_GetExternalFuncList(&saved_);
    HostPrints::get().clear();
    const a_strm_func_list l = RecordingFuncList(connectionless_param);
    i_strm_SetupStreamsExternalFunctions(&l);
  }
  ~ScopedHostTable() { i_strm_SetupStreamsExternalFunctions(&saved_); }
  ScopedHostTable(const ScopedHostTable&) = delete;
  ScopedHostTable& operator=(const ScopedHostTable&) = delete;

 private:
  a_strm_func_list saved_{};
};

// The host context pointer as the host hands it to the stack.
inline void* AsHostCtx(TestHostCtx* ctx) { return static_cast<c_utils_refobj*>(ctx); }

}  // namespace vq::testing

#endif  // VQ_TESTS_UNIT_STREAMS_STREAM_TEST_HOST_H
