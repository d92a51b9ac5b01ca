// Allocation with one retry, the fatal exit and the system-log line.
#include "utils/base/memory.h"

#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

void SyslogSink(const char* identity, int option, int facility, int priority,
                const char* text) {
  openlog(identity, option, facility);
  syslog(priority, "%s", text);
  closelog();
}

std::atomic<vq::base::OutOfMemoryHook> g_oom_hook{&ut_out_of_memory};
std::atomic<vq::base::ErrorLogSink> g_log_sink{&SyslogSink};
std::atomic<int> g_memory_abort{0};

// malloc, and after a failure one more malloc when the hook says memory was released.
void* AllocateWithRetry(std::size_t size) {
  void* block = std::malloc(size);
  if (block == nullptr && g_oom_hook.load()() != 0) block = std::malloc(size);
  return block;
}

// write(2) until everything is out or the descriptor fails; usable on the way out.
void WriteAll(int fd, const char* data, std::size_t len) {
  while (len > 0) {
    ssize_t n = ::write(fd, data, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    data += n;
    len -= static_cast<std::size_t>(n);
  }
}

}  // namespace

namespace vq::base {

void SetOutOfMemoryHook(OutOfMemoryHook hook) {
  g_oom_hook.store(hook != nullptr ? hook : &ut_out_of_memory);
}

void SetErrorLogSink(ErrorLogSink sink) {
  g_log_sink.store(sink != nullptr ? sink : &SyslogSink);
}

}  // namespace vq::base

extern "C" {

unsigned int ut_out_of_memory(void) { return 0; }

void* ut_malloc(std::size_t size) {
  return size == 0 ? nullptr : AllocateWithRetry(size);
}

void* ut_alloc(std::size_t size) {
  if (size == 0) return nullptr;
  void* block = AllocateWithRetry(size);
  if (block == nullptr) ut_fatal("Out of memory");
  return block;
}

void* ut_calloc(std::size_t size) {
  void* block = ut_malloc(size);
  if (block != nullptr) std::memset(block, 0, size);
  return block;
}

void* ut_memdup(const void* source, std::size_t size) {
  if (source == nullptr) return nullptr;
  void* block = ut_malloc(size);
  if (block != nullptr) std::memcpy(block, source, size);
  return block;
}

void* ut_realloc(void* block, std::size_t size) {
  if (block == nullptr) return ut_malloc(size);
  if (size == 0) {
    ut_free(block);
    return nullptr;
  }
  void* moved = std::realloc(block, size);
  // A failed realloc leaves the block as it was, so the retry may use it again.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuse-after-free"
  if (moved == nullptr && g_oom_hook.load()() != 0) moved = std::realloc(block, size);
#pragma GCC diagnostic pop
  if (moved == nullptr) ut_fatal("Out of memory");
  return moved;
}

void ut_free(void* block) { std::free(block); }

void* uimalloc(std::size_t size) { return ut_malloc(size); }

void* uicalloc(std::size_t count, std::size_t element_size) {
  // A wrapped product would hand out a block smaller than the caller believes.
  std::size_t total = 0;
  if (__builtin_mul_overflow(count, element_size, &total)) return nullptr;
  return ut_calloc(total);
}

void* uirealloc(void* block, std::size_t size) { return ut_realloc(block, size); }

void uifree(void* block) { ut_free(block); }

void ut_fatal(const char* message) {
  if (message != nullptr) {
    GenerateErrorLog(message, "Vellumcrest");
    // Straight to the descriptor: buffered standard output is never flushed on the
    // way out, and the message must not be lost when output goes to a pipe or file.
    WriteAll(STDOUT_FILENO, message, std::strlen(message));
    WriteAll(STDOUT_FILENO, "\n", 1);
  }
  _exit(1);
}

void GenerateErrorLog(const char* message, const char* identity) {
  if (message == nullptr) return;
  g_log_sink.load()(identity, 0, LOG_USER, LOG_ERR, message);
}

void ut_start_trackmem(void) {}
void ut_stop_trackmem(void) {}
void ut_trackmem(void) {}
void utmem_abort(void) { g_memory_abort.store(1); }

}  // extern "C"
