#include "utils/base/posix_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>

#include "temp_dir.h"

namespace {

bool IsCloseOnExec(int fd) {
  const int flags = fcntl(fd, F_GETFD);
  return flags >= 0 && (flags & FD_CLOEXEC) != 0;
}

TEST(PosixFile, ReadStopsAtEndOfFileAndZeroLengthCallsNothing) {
  TempDir dir;
  const std::string p = dir.write("f", "hello");
  int fd = _posix_open(p.c_str(), O_RDONLY, 0);
  ASSERT_GE(fd, 0);
  char buf[16];
  EXPECT_EQ(_posix_read(fd, buf, 16), 5);
  EXPECT_EQ(_posix_read(fd, buf, 16), 0);
  EXPECT_EQ(_posix_close(fd), 0);
  // A bad descriptor is never touched for a zero-length transfer.
  EXPECT_EQ(_posix_write(-1, buf, 0), 0);
  EXPECT_EQ(_posix_read(-1, buf, 0), 0);
  EXPECT_EQ(_posix_read(-1, buf, 1), -1);
  EXPECT_EQ(errno, EBADF);
}

TEST(PosixFile, EveryOpenerGivesCloseOnExecDescriptors) {
  TempDir dir;
  const std::string p = dir.write("f", "data");
  struct Opener {
    const char* name;
    std::function<int()> open;
    std::function<void(int)> close;
  };
  std::FILE* file = nullptr;
  const Opener openers[] = {
      {"open", [&] { return _posix_open(p.c_str(), O_RDONLY, 0); }, [](int fd) { close(fd); }},
      {"creat", [&] { return _posix_creat(dir.file("g").c_str(), 0644); },
       [](int fd) { close(fd); }},
      {"fopen",
       [&] {
         file = _posix_fopen(p.c_str(), "r");
         return file ? fileno(file) : -1;
       },
       [&](int) { fclose(file); }},
      {"sopen read", [&] { return _posix_sopen(p.c_str(), O_RDONLY, 0, 0); },
       [](int fd) { close(fd); }},
      {"sopen write", [&] { return _posix_sopen(p.c_str(), O_RDWR, 0, 0); },
       [](int fd) { close(fd); }},
  };
  for (const Opener& o : openers) {
    SCOPED_TRACE(o.name);
    const int fd = o.open();
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(IsCloseOnExec(fd));
    o.close(fd);
  }
}

TEST(PosixFile, OffsetsBeyondFourGigabytes) {
  TempDir dir;
  const std::string p = dir.file("sparse");
  int fd = _posix_open(p.c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  const std::int64_t far = (std::int64_t{5} << 30) + 3;  // 5 GiB + 3, sparse
  EXPECT_EQ(_posix_pwrite(fd, "tail", 4, far), 4);
  EXPECT_EQ(_posix_lseek(fd, 10, SEEK_SET), 10);
  EXPECT_EQ(_posix_filelength(fd), far + 4);
  EXPECT_EQ(_posix_tell(fd), 10);  // the length query leaves the position alone
  char buf[4];
  EXPECT_EQ(_posix_pread(fd, buf, 4, far), 4);
  EXPECT_EQ(std::string(buf, 4), "tail");
  a_posix_stat st;
  ASSERT_EQ(_posix_fstat(fd, &st), 0);
  EXPECT_EQ(st.size, far + 4);
  EXPECT_EQ(_posix_ftruncate(fd, far), 0);
  EXPECT_EQ(_posix_filelength(fd), far);
  EXPECT_EQ(_posix_truncate(p.c_str(), 2), 0);
  EXPECT_EQ(_posix_filelength(fd), 2);
  _posix_close(fd);
}

TEST(PosixFile, StatFillsTheRecordOrLeavesItUntouched) {
  TempDir dir;
  const std::string p = dir.write("f", "12345");
  a_posix_stat st;
  ASSERT_EQ(_posix_stat(p.c_str(), &st), 0);
  EXPECT_EQ(st.size, 5);
  EXPECT_EQ(st.mode & 0xF000u, 0x8000u);
  EXPECT_EQ(st.uid, static_cast<std::uint32_t>(getuid()));
  ASSERT_EQ(_posix_stat(dir.path().c_str(), &st), 0);
  EXPECT_EQ(st.mode & 0xF000u, 0x4000u);

  ASSERT_EQ(symlink(p.c_str(), dir.file("link").c_str()), 0);
  ASSERT_EQ(_posix_lstat(dir.file("link").c_str(), &st), 0);
  EXPECT_EQ(st.mode & 0xF000u, 0xA000u);

  a_posix_stat untouched;
  std::memset(&untouched, 0xAB, sizeof untouched);
  a_posix_stat copy = untouched;
  EXPECT_EQ(_posix_stat(dir.file("missing").c_str(), &untouched), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(std::memcmp(&untouched, &copy, sizeof copy), 0);
}

TEST(PosixFile, PathCallsPassResultsThrough) {
  TempDir dir;
  const std::string sub = dir.file("sub");
  EXPECT_EQ(_posix_mkdir(sub.c_str(), 0755), 0);
  EXPECT_EQ(_posix_mkdir(sub.c_str(), 0755), -1);
  EXPECT_EQ(errno, EEXIST);
  const std::string a = dir.write("a", "A");
  EXPECT_EQ(_posix_rename(a.c_str(), dir.file("b").c_str()), 0);
  EXPECT_EQ(_posix_access(a.c_str(), F_OK), -1);
  EXPECT_EQ(_posix_chmod(dir.file("b").c_str(), 0600), 0);
  struct utimbuf times = {1000, 2000};
  EXPECT_EQ(_posix_utime(dir.file("b").c_str(), &times), 0);
  a_posix_stat st;
  ASSERT_EQ(_posix_stat(dir.file("b").c_str(), &st), 0);
  EXPECT_EQ(st.mtime, 2000);
  EXPECT_EQ(st.mode & 0777u, 0600u);
  EXPECT_EQ(_posix_unlink(dir.file("b").c_str()), 0);
  EXPECT_EQ(_posix_unlink(dir.file("b").c_str()), -1);
  EXPECT_EQ(_posix_64bit_io_available(), 1);
  EXPECT_EQ(_posix_os_handle(7), 7);
}

TEST(PosixFile, ShareModeOpenWithoutConflictAndMissingFile) {
  TempDir dir;
  const std::string p = dir.write("free", "data");
  for (int share : {0, 48, 64}) {
    int fd = _posix_sopen(p.c_str(), O_RDONLY, share, 0);
    EXPECT_GE(fd, 0) << share;
    if (fd >= 0) close(fd);
  }
  EXPECT_EQ(_posix_sopen(dir.file("missing").c_str(), O_RDONLY, 0, 0), -1);
  EXPECT_EQ(errno, ENOENT);
}

}  // namespace
