// A stand-in for what the client environment and its notifiers call of the stream
// library (strm_client_api.h) and of the request log (log_hooks.h), for the client's
// tests: a stream connection that holds the words the notifiers use, a communication
// environment that keeps its notifier, and a process-wide record of every call. The
// System V waits and signals are the real ones, over the task runtime's semaphores.
//
// Everything the client's threads touch is atomic or taken under the record's mutex.
#ifndef VQ_TESTS_UNIT_CMDSEQ_STRM_CLIENT_DOUBLE_H
#define VQ_TESTS_UNIT_CMDSEQ_STRM_CLIENT_DOUBLE_H

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "cmdseq/strm_client_api.h"

// A stream connection as the notifiers see it.
struct a_strm_conn_rec {
  std::atomic<std::uintptr_t> user_data{0};      // the posted flag
  std::atomic<std::uintptr_t> callback_data{0};  // handed to the callbacks
  std::atomic<int> alive{1};
  std::atomic<int> block_event_cleared{0};  // 1: a link the waiting thread polls
  std::atomic<int> conn_executes{0};
  std::string name = "conn";
};

// The communication environment: the notifier it was given, which it deletes when freed
// with threads running.
class c_strm_env {
 public:
  c_strm_env_notifier* notifier = nullptr;
  std::uint16_t buffer_size = 0;
  int app_kind = -1;
};

namespace vq::testing {

// Every call the client made, and the answers the next calls give.
struct StrmRecord {
  // Answers.
  std::atomic<int> init_result{0};      // StrmInit's answer on the first call
  std::atomic<int> alloc_result{0};     // StrmAllocEnv: 0 or a stack code
  std::atomic<int> free_refuses{0};     // StrmFreeEnv: non-zero refuses
  std::atomic<int> can_create_root{1};  // CanCreateUnixResourceRoot
  std::atomic<int> log_on{1};           // i_cs_LogIsOn for a non-null context

  // Calls.
  std::atomic<int> init_count{0};  // StrmInit minus StrmFini
  std::atomic<int> init_calls{0};
  std::atomic<int> fini_calls{0};
  std::atomic<int> alloc_calls{0};
  std::atomic<int> free_calls{0};
  std::atomic<int> free_flag{-1};  // the flag of the last StrmFreeEnv
  std::atomic<int> executes{0};    // StrmExecute
  std::atomic<int> app_names{0};   // StrmCurSharedEngineAppName
  std::atomic<std::uint32_t> unique_pid{0};
  std::atomic<int> user_message_callback{0};
  a_strm_func_list functions{};  // the table StrmAllocEnv was given
  a_strm_message_fn message_fn = nullptr;
  void* message_data = nullptr;
  a_strm_validate_file_fn validate_fn = nullptr;

  std::mutex mutex;                                      // guards the vectors
  std::vector<std::pair<void*, std::string>> log_lines;  // i_cs_LogLine
  std::vector<std::string> connectionless;               // i_cs_LogConnectionless

  static StrmRecord& get();
  // Back to the defaults; the caller makes sure no client thread runs.
  void reset();
  std::vector<std::pair<void*, std::string>> lines();
};

}  // namespace vq::testing

#endif  // VQ_TESTS_UNIT_CMDSEQ_STRM_CLIENT_DOUBLE_H
