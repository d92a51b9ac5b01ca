// The stand-in of strm_client_double.h.
#include "strm_client_double.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "scoped_environment.h"
#include "streams/stream_parms.h"
#include "streams/shm/resource_tree.h"

namespace vq::testing {

namespace {

// The client's resource tree (the environment notifier claims the client's name in it)
// goes to a directory of the test program's own, removed at the end.
class PrivateResourceRoot : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "vqcsXXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    env_.Set("VCTMP", path_);
    vq::shm::testing::ResetResourceRootCache();
  }
  void TearDown() override {
    StrmReleaseSharedEngineAppName();
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    vq::shm::testing::ResetResourceRootCache();
  }

 private:
  ScopedEnvironment env_;
  std::string path_;
};

::testing::Environment* const kPrivateRoot =
    ::testing::AddGlobalTestEnvironment(new PrivateResourceRoot);

}  // namespace

StrmRecord& StrmRecord::get() {
  static StrmRecord record;
  return record;
}

void StrmRecord::reset() {
  init_result = 0;
  alloc_result = 0;
  free_refuses = 0;
  init_count = 0;
  init_calls = 0;
  fini_calls = 0;
  alloc_calls = 0;
  free_calls = 0;
  free_flag = -1;
  executes = 0;
  user_message_callback = 0;
  for (auto& w : parms_words) w = -1;
  parms_other_words = 0;
  functions = a_strm_func_list{};
  message_fn = nullptr;
  message_data = nullptr;
  validate_fn = nullptr;
  address = "127.0.0.1:2638";
  std::lock_guard<std::mutex> hold(mutex_);
  words_.clear();
}

StrmConnWords& StrmRecord::words(a_strm_conn sconn) {
  std::lock_guard<std::mutex> hold(mutex_);
  std::unique_ptr<StrmConnWords>& w = words_[sconn];
  if (!w) w = std::make_unique<StrmConnWords>();
  return *w;
}

}  // namespace vq::testing

using vq::testing::StrmRecord;

int StrmInit() {
  StrmRecord& r = StrmRecord::get();
  ++r.init_calls;
  const int previous = r.init_count++;
  return previous == 0 ? r.init_result.load() : previous;
}

int StrmFini() {
  StrmRecord& r = StrmRecord::get();
  ++r.fini_calls;
  return --r.init_count;
}

int StrmAllocEnv(a_strm_env* env, c_strm_env_notifier* notifier, std::uint16_t buffer_size,
                 const a_strm_func_list* functions, int app_kind, UTLangStringBase*,
                 UTLocale*) {
  StrmRecord& r = StrmRecord::get();
  ++r.alloc_calls;
  if (functions != nullptr) r.functions = *functions;
  if (r.alloc_result != 0) return r.alloc_result;
  auto* e = new c_strm_env;
  e->notifier = notifier;
  e->buffer_size = buffer_size;
  e->app_kind = app_kind;
  *env = e;
  return 0;
}

int StrmFreeEnv(a_strm_env env, int delete_notifier) {
  StrmRecord& r = StrmRecord::get();
  ++r.free_calls;
  r.free_flag = delete_notifier;
  if (r.free_refuses != 0) return 1;
  if (env != nullptr) {
    if (delete_notifier != 0) delete env->notifier;
    delete env;
  }
  return 0;
}

int StrmSetParms(a_strm_env, const a_streams_parm_block* parms) {
  StrmRecord& r = StrmRecord::get();
  if (parms == nullptr) return 0;
  r.parms_words[0] = parms->CommBufferSize;
  r.parms_words[1] = parms->LivenessTimeout;
  r.parms_words[2] = parms->IdleTimeout;
  r.parms_words[3] = parms->word7;
  int others = parms->text != nullptr ? 1 : 0;
  for (std::uint32_t w : parms->words3_6) others += w != 0 ? 1 : 0;
  for (std::uint32_t w : parms->words9_12) others += w != 0 ? 1 : 0;
  r.parms_other_words = others;
  return 0;
}

int StrmExecute(a_strm_env) {
  ++StrmRecord::get().executes;
  return 0;
}

void StrmSetMessageCallback(a_strm_env, a_strm_msg_callback callback, void* data) {
  StrmRecord::get().message_fn = callback;
  StrmRecord::get().message_data = data;
}

void StrmSetUserMessageCallback(a_strm_env) { ++StrmRecord::get().user_message_callback; }

void StrmSetValidateFileTranCallback(a_strm_env, a_strm_validate_callback callback) {
  StrmRecord::get().validate_fn = callback;
}

using vq::testing::Words;

std::uintptr_t StrmGetUserData(a_strm_conn sconn) { return Words(sconn).user_data.load(); }
void StrmSetUserData(a_strm_conn sconn, std::uintptr_t value) {
  Words(sconn).user_data = value;
}
std::uintptr_t StrmGetCallbackData(a_strm_conn sconn) {
  return Words(sconn).callback_data.load();
}
int StrmIsAlive(a_strm_conn sconn) { return Words(sconn).alive.load(); }
int StrmBlockEventCleared(a_strm_conn sconn) { return Words(sconn).block_event_cleared.load(); }
int StrmConnExecute(a_strm_conn sconn) {
  ++Words(sconn).conn_executes;
  return 0;
}
const char* StrmGetConnName(a_strm_conn sconn) { return Words(sconn).name.c_str(); }
void StrmGetPrintableMachineAddr(a_strm_conn, char* buffer, std::uint16_t size) {
  std::snprintf(buffer, size, "%s", StrmRecord::get().address.c_str());
}
