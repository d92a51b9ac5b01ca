// Helpers of the shared-memory tests: a private resource root for one test, a System V
// semaphore owned by the test, and a check that a range is still mapped.
#ifndef VQ_TESTS_UNIT_STREAMS_SHM_SHM_TEST_SUPPORT_H
#define VQ_TESTS_UNIT_STREAMS_SHM_SHM_TEST_SUPPORT_H

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "scoped_environment.h"
#include "streams/shm/bit_signal.h"
#include "streams/shm/resource_tree.h"
#include "vqtasks.h"

namespace vq::shm::test {

// VCTMP points at a fresh directory for the life of the object; the resource root and
// mask are computed again from it. At the end the client name (and its tree) is
// released and the directory removed with everything in it.
class ScopedShmRoot {
 public:
  explicit ScopedShmRoot(mode_t mode = 0700) {
    std::string pattern = (std::filesystem::temp_directory_path() / "vqshmXXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    chmod(path_.c_str(), mode);
    env_.Set("VCTMP", path_);
    vq::shm::testing::ResetResourceRootCache();
  }
  ~ScopedShmRoot() {
    StrmReleaseSharedEngineAppName();
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    vq::shm::testing::ResetResourceRootCache();
  }
  ScopedShmRoot(const ScopedShmRoot&) = delete;
  ScopedShmRoot& operator=(const ScopedShmRoot&) = delete;

  const std::string& path() const { return path_; }
  // root/<name>/<rest>
  std::string dir(const std::string& name, const std::string& rest = "") const {
    return path_ + "/" + name + (rest.empty() ? "" : "/" + rest);
  }

 private:
  vq::testing::ScopedEnvironment env_;
  std::string path_;
};

// A semaphore of the task runtime, removed when the test ends.
class ScopedSemaphore {
 public:
  ScopedSemaphore() { sysv_open_semaphore(&sem_, 0); }
  ~ScopedSemaphore() { sysv_close_semaphore(&sem_); }
  ScopedSemaphore(const ScopedSemaphore&) = delete;
  ScopedSemaphore& operator=(const ScopedSemaphore&) = delete;

  bool ok() const { return sem_.id > 0; }
  c_strm_inter_event event() const { return c_strm_inter_event::From(sem_); }

 private:
  a_sysv_semaphore sem_{-1, 0};
};

// True while [address, address + length) is mapped in this process.
inline bool IsMapped(void* address, std::size_t length) {
  return msync(address, length, MS_ASYNC) == 0 || errno != ENOMEM;
}

inline bool FileExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

}  // namespace vq::shm::test

#endif  // VQ_TESTS_UNIT_STREAMS_SHM_SHM_TEST_SUPPORT_H
