// Liveness across processes: record locks belong to a process, so the holder of a
// lock file must be another process. The forked holder does no more than open, lock,
// report and wait (little code runs in a forked child of an instrumented test).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "peer_runner.h"
#include "shm_test_support.h"
#include "streams/shm/resource_tree.h"

namespace {

using vq::shm::test::FileExists;
using vq::shm::test::ScopedShmRoot;

// A child process that holds a write lock on `path` until it is released or destroyed.
class LockHolder {
 public:
  explicit LockHolder(const std::string& path) {
    int ready[2];
    int release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      alarm(30);
      close(ready[0]);
      close(release[1]);
      const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0666);
      char ok = fd >= 0 && lockf(fd, F_TLOCK, 0) == 0 ? 1 : 0;
      if (write(ready[1], &ok, 1) != 1) _exit(2);
      char byte;
      while (read(release[0], &byte, 1) < 0) {
      }
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    release_ = release[1];
    char ok = 0;
    holding_ = read(ready[0], &ok, 1) == 1 && ok == 1;
    close(ready[0]);
  }
  ~LockHolder() { Release(); }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

  bool holding() const { return holding_; }
  // Ends the child; its lock goes with it.
  void Release() {
    if (release_ >= 0) {
      close(release_);
      release_ = -1;
    }
    if (pid_ > 0) {
      int status;
      waitpid(pid_, &status, 0);
      pid_ = 0;
    }
    holding_ = false;
  }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool holding_ = false;
};

// Whether another process finds the file locked (F_TEST run in a child).
bool LockedForOthers(const std::string& path) {
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(30);
    const int fd = open(path.c_str(), O_RDWR);
    _exit(fd >= 0 && lockf(fd, F_TEST, 0) != 0 ? 1 : 0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 1;
}

std::string Read(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class LivenessTest : public ::testing::Test {
 protected:
  ScopedShmRoot root_;
};

TEST_F(LivenessTest, FollowsTheLockHeldByAnotherProcess) {
  ASSERT_TRUE(CreateEngineResourceTree("srv"));
  const std::string lock = root_.dir("srv", "lock");
  EXPECT_FALSE(EngineIsAlive("srv")) << "no lock file";
  {
    LockHolder holder(lock);
    ASSERT_TRUE(holder.holding());
    EXPECT_TRUE(EngineIsAlive("srv"));
    int fd = 0;
    EXPECT_FALSE(SetEngineIsAlive("srv", &fd)) << "the name is held by a live process";
    EXPECT_EQ(fd, -1);
    EXPECT_TRUE(LockedForOthers(lock)) << "a refused claim leaves the holder's lock alone";
  }
  EXPECT_TRUE(FileExists(lock));
  EXPECT_FALSE(EngineIsAlive("srv")) << "the holder is gone, its file stays";
}

TEST_F(LivenessTest, StaleLockFileIsRecreatedAndClaimed) {
  ASSERT_TRUE(CreateEngineResourceTree("srv"));
  const std::string lock = root_.dir("srv", "lock");
  { std::ofstream(lock) << "old"; }
  int fd = -1;
  ASSERT_TRUE(SetEngineIsAlive("srv", &fd));
  EXPECT_GE(fd, 0);
  // (Reading it here would drop our own lock: stat only.)
  struct stat st;
  ASSERT_EQ(stat(lock.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 0) << "a lock file nobody holds is replaced by a fresh one";
  EXPECT_TRUE(LockedForOthers(lock));
  EXPECT_EQ(Read(root_.dir("srv", "pid")), std::to_string(getpid()) + "\n");
  EXPECT_TRUE(FileExists(root_.dir("srv", "p." + std::to_string(getpid()))));
  EXPECT_EQ(GetEnginePid("srv"), getpid());
  close(fd);
  EXPECT_FALSE(LockedForOthers(lock));
}

TEST_F(LivenessTest, SecondClaimerMovesToTheNextStamp) {
  const std::uint32_t stamp = 0x1234;
  char taken[64];
  std::snprintf(taken, sizeof taken, "%s%d_%08x", kClientNamePrefix, static_cast<int>(getpid()),
                stamp);
  ASSERT_TRUE(CreateEngineResourceTree(taken));
  LockHolder holder(root_.dir(taken, "lock"));
  ASSERT_TRUE(holder.holding());

  EXPECT_EQ(IsSharedMemoryOpsAllowed(), 0);
  const std::string mine = vq::shm::testing::ClaimClientName(stamp);
  char expected[64];
  std::snprintf(expected, sizeof expected, "%s%d_%08x", kClientNamePrefix,
                static_cast<int>(getpid()), stamp + 1);
  EXPECT_EQ(mine, expected);
  EXPECT_EQ(IsSharedMemoryOpsAllowed(), 1);
  EXPECT_STREQ(StrmCurSharedEngineAppName(), mine.c_str()) << "later calls keep the name";
  EXPECT_TRUE(LockedForOthers(root_.dir(mine, "lock")));
  EXPECT_TRUE(LockedForOthers(root_.dir(taken, "lock"))) << "the other claim is untouched";

  // Asking about our own name must not drop our lock (closing any descriptor of a file
  // releases the process's record locks on it).
  EXPECT_TRUE(EngineIsAlive(mine.c_str()));
  EXPECT_TRUE(LockedForOthers(root_.dir(mine, "lock")));

  StrmReleaseSharedEngineAppName();
  EXPECT_FALSE(FileExists(root_.dir(mine))) << "the whole tree goes with the name";
  EXPECT_EQ(IsSharedMemoryOpsAllowed(), 0);
  EXPECT_EQ(StrmCurSharedEngineLockFd(), -1);
  EXPECT_TRUE(FileExists(root_.dir(taken)));
}

TEST_F(LivenessTest, FirstUseClaimsAFreshName) {
  const std::string name = StrmCurSharedEngineAppName();
  EXPECT_TRUE(std::regex_match(
      name, std::regex("__VellumCli__" + std::to_string(getpid()) + "_[0-9a-f]{8}")))
      << name;
  EXPECT_LE(name.size(), kResourceNameMax);
  for (const char* sub : {"shmem", "fifos", "tmp", "lock", "pid"}) {
    EXPECT_TRUE(FileExists(root_.dir(name, sub))) << sub;
  }
  EXPECT_TRUE(LockedForOthers(root_.dir(name, "lock")));
}

// A fatal signal removes the client's tree: the runtime's signal hook that the first
// claim registers. The child claims its own name, then is ended by SIGTERM.
TEST_F(LivenessTest, FatalSignalRemovesTheClientTree) {
  // The child runs the whole claim; under ThreadSanitizer a forked child sees the task
  // runtime's registry lock as still held (the runtime re-initialises it in the child).
  if (vq::shm::test::kPeerIsThread) GTEST_SKIP() << "needs a forked child that claims";
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(30);
    ut_onsig_install_signal_handlers(1);
    const char* name = StrmCurSharedEngineAppName();
    if (name[0] == '\0' || IsSharedMemoryOpsAllowed() == 0) _exit(3);
    raise(SIGTERM);
    _exit(4);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  const std::string prefix = std::string(kClientNamePrefix) + std::to_string(pid) + "_";
  for (const auto& entry : std::filesystem::directory_iterator(root_.path())) {
    EXPECT_NE(entry.path().filename().string().rfind(prefix, 0), 0u) << entry.path();
  }
}

}  // namespace
