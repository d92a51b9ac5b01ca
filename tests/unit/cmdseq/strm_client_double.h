// A stand-in for what the client environment and its notifiers call of the stream
// library (streams/stream_api.h), for the client's tests: the words the notifiers keep in a
// stream connection, kept beside the scripted connection of pres_double.h; a
// communication environment that keeps its notifier; and a process-wide record of every
// call. The shared-memory link's helpers are the link's own; the test programs keep the
// resource tree in a directory of their own (VCTMP), removed when they end.
//
// Everything the client's threads touch is atomic or taken under the record's mutex.
#ifndef VQ_TESTS_UNIT_CMDSEQ_STRM_CLIENT_DOUBLE_H
#define VQ_TESTS_UNIT_CMDSEQ_STRM_CLIENT_DOUBLE_H

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "pres_double.h"
#include "streams/host_functions.h"
#include "streams/notifier.h"
#include "streams/stream_api.h"
#include "vqtasks.h"

// The communication environment: the notifier it was given, which it deletes when freed
// with threads running.
class c_strm_env {
 public:
  c_strm_env_notifier* notifier = nullptr;
  std::uint16_t buffer_size = 0;
  int app_kind = -1;
};

namespace vq::testing {

// What a stream connection holds for the notifiers.
struct StrmConnWords {
  std::atomic<std::uintptr_t> user_data{0};      // the posted flag
  std::atomic<std::uintptr_t> callback_data{0};  // handed to the callbacks
  std::atomic<int> alive{1};
  std::atomic<int> block_event_cleared{0};  // 1: a link the waiting thread polls
  std::atomic<int> conn_executes{0};
  std::string name = "conn";  // set before any thread reads it
};

// Every call the client made, and the answers the next calls give.
struct StrmRecord {
  // Answers.
  std::atomic<int> init_result{0};         // StrmInit's answer on the first call
  std::atomic<int> alloc_result{0};        // StrmAllocEnv: 0 or a stack code
  std::atomic<int> free_refuses{0};        // StrmFreeEnv: non-zero refuses
  std::string address = "127.0.0.1:2638";  // StrmGetPrintableMachineAddr

  // Calls.
  std::atomic<int> init_count{0};  // StrmInit minus StrmFini
  std::atomic<int> init_calls{0};
  std::atomic<int> fini_calls{0};
  std::atomic<int> alloc_calls{0};
  std::atomic<int> free_calls{0};
  std::atomic<int> free_flag{-1};  // the flag of the last StrmFreeEnv
  std::atomic<int> executes{0};    // StrmExecute
  std::atomic<int> user_message_callback{0};
  // The words of the last StrmSetParms block: buffer size, liveness, idle, word 7.
  std::atomic<std::int64_t> parms_words[4] = {{-1}, {-1}, {-1}, {-1}};
  std::atomic<int> parms_other_words{0};  // how many of its other words were not 0
  a_strm_func_list functions{};  // the table StrmAllocEnv was given
  a_strm_msg_callback message_fn = nullptr;
  void* message_data = nullptr;
  a_strm_validate_callback validate_fn = nullptr;

  static StrmRecord& get();
  // Back to the defaults, forgetting every connection's words; the caller makes sure no
  // client thread runs.
  void reset();
  // The words of a connection, made on first use; valid until reset().
  StrmConnWords& words(a_strm_conn sconn);

 private:
  std::mutex mutex_;
  std::map<a_strm_conn, std::unique_ptr<StrmConnWords>> words_;
};

inline StrmConnWords& Words(a_strm_conn sconn) { return StrmRecord::get().words(sconn); }

}  // namespace vq::testing

#endif  // VQ_TESTS_UNIT_CMDSEQ_STRM_CLIENT_DOUBLE_H
