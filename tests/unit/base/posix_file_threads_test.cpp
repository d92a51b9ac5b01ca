// The file wrappers against other threads (signals that interrupt blocked calls) and
// other processes (share modes and record locks).
#include "utils/base/posix_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "temp_dir.h"

namespace {

// The lowest free descriptor number: a leak shows as a higher number next time.
int LowestFreeFd() {
  int fd = dup(0);
  close(fd);
  return fd;
}

std::atomic<int> g_signals{0};
void CountSignal(int) { g_signals.fetch_add(1); }

// Installs a SIGUSR1 handler without SA_RESTART, so a blocked read returns EINTR.
class InterruptingSignal {
 public:
  InterruptingSignal() {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = &CountSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    sigaction(SIGUSR1, &sa, &old_);
    g_signals = 0;
  }
  ~InterruptingSignal() { sigaction(SIGUSR1, &old_, nullptr); }

 private:
  struct sigaction old_;
};

TEST(PosixFile, ReadRetriesAfterSignalAndKeepsBytesAlreadyRead) {
  InterruptingSignal handler;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pthread_t reader = pthread_self();

  std::thread writer([&] {
    ASSERT_EQ(write(fds[1], "abc", 3), 3);
    // The reader now has 3 of 10 bytes and blocks for the rest; interrupt it a few times.
    for (int i = 0; i < 5; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      pthread_kill(reader, SIGUSR1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(write(fds[1], "defghij", 7), 7);
  });

  char buf[16] = {};
  const std::int64_t n = _posix_read(fds[0], buf, 10);
  writer.join();
  EXPECT_EQ(n, 10);
  EXPECT_EQ(std::string(buf, 10), "abcdefghij");
  EXPECT_GE(g_signals.load(), 1);
  close(fds[0]);
  close(fds[1]);
}

TEST(PosixFile, WriteRetriesAfterSignalOnFullPipe) {
  InterruptingSignal handler;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const std::size_t total = 1 << 20;  // far more than the pipe holds
  std::string data(total, 'x');
  for (std::size_t i = 0; i < total; ++i) data[i] = static_cast<char>('a' + i % 26);
  const pthread_t writer_thread = pthread_self();

  std::string got;
  std::thread reader([&] {
    char buf[65536];
    for (int i = 0; i < 5; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      pthread_kill(writer_thread, SIGUSR1);
    }
    ssize_t n;
    while (got.size() < total && (n = read(fds[0], buf, sizeof buf)) > 0)
      got.append(buf, static_cast<size_t>(n));
  });
  EXPECT_EQ(_posix_write(fds[1], data.data(), data.size()), static_cast<std::int64_t>(total));
  close(fds[1]);  // the reader sees end of file even when the write gave up early
  reader.join();
  EXPECT_EQ(got, data);
  EXPECT_GE(g_signals.load(), 1);
  close(fds[0]);
}

// A child process takes a write lock with _posix_sopen and holds it until told to end.
class LockedByOtherProcess {
 public:
  explicit LockedByOtherProcess(const std::string& path) {
    int ready[2];
    if (pipe(ready) != 0 || pipe(release_) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      int fd = _posix_sopen(path.c_str(), O_RDWR, 0, 0);
      char c = fd >= 0 ? 'y' : 'n';
      if (write(ready[1], &c, 1) != 1) _exit(2);
      if (read(release_[0], &c, 1) < 0) _exit(2);
      _exit(0);
    }
    char c = 0;
    locked_ = read(ready[0], &c, 1) == 1 && c == 'y';
    close(ready[0]);
    close(ready[1]);
  }
  ~LockedByOtherProcess() {
    if (pid_ > 0) {
      char c = 'x';
      if (write(release_[1], &c, 1) != 1) kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(release_[0]);
    close(release_[1]);
  }
  bool locked() const { return locked_; }

 private:
  pid_t pid_ = -1;
  int release_[2] = {-1, -1};
  bool locked_ = false;
};

TEST(PosixFile, ShareModeOpenAgainstAnotherProcessesWriteLock) {
  TempDir dir;
  const std::string p = dir.write("locked", "data");
  LockedByOtherProcess other(p);
  ASSERT_TRUE(other.locked());

  struct Case {
    const char* name;
    int flags;
    int share;
    bool opens;
  } const cases[] = {
      {"read-only, share 64: no lock", O_RDONLY, 64, true},
      {"read-only, share 48: lock test fails", O_RDONLY, 48, false},
      {"read-only, other share: read lock fails", O_RDONLY, 0, false},
      {"read-write: write lock fails", O_RDWR, 64, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int free_before = LowestFreeFd();
    const int fd = _posix_sopen(p.c_str(), c.flags, c.share, 0);
    if (c.opens) {
      EXPECT_GE(fd, 0);
      if (fd >= 0) close(fd);
    } else {
      const int err = errno;
      EXPECT_EQ(fd, -1);
      EXPECT_TRUE(err == EAGAIN || err == EACCES) << err;
      if (c.share == 48) {
        EXPECT_EQ(err, EAGAIN);
      }
      EXPECT_EQ(LowestFreeFd(), free_before);  // the descriptor was closed again
    }
  }
}

TEST(PosixFile, LockfSeesAnotherProcessesLock) {
  TempDir dir;
  const std::string p = dir.write("locked", "data");
  int fd = _posix_open(p.c_str(), O_RDWR, 0);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(_posix_lockf(fd, F_TEST, 0), 0);
  {
    LockedByOtherProcess other(p);
    ASSERT_TRUE(other.locked());
    EXPECT_EQ(_posix_lockf(fd, F_TEST, 0), -1);
    EXPECT_TRUE(errno == EACCES || errno == EAGAIN) << errno;
    EXPECT_EQ(_posix_lockf(fd, F_TLOCK, 0), -1);
  }
  EXPECT_EQ(_posix_lockf(fd, F_TLOCK, 0), 0);  // free again once the other process ended
  _posix_close(fd);
}

}  // namespace
