// File wrappers: large-file calls, EINTR retry, close-on-exec descriptors.
//
// On LP64 Linux the plain calls are the large-file ones (off_t is 64 bits), so we call
// them by their plain names. Close-on-exec is requested atomically at open (O_CLOEXEC,
// fopen's "e") rather than with a later fcntl, so that a fork on another thread between
// the two never sees the descriptor without it.
#include "utils/base/posix_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

static_assert(sizeof(off_t) == 8, "the wrappers rely on 64-bit file offsets");

namespace {

// Repeats call() while it fails with EINTR; errno is cleared before every attempt.
template <typename Call>
auto Retry(Call call) -> decltype(call()) {
  for (;;) {
    errno = 0;
    auto result = call();
    if (!(result == -1 && errno == EINTR)) return result;
  }
}

void FillRecord(const struct stat& st, a_posix_stat* record) {
  record->device = static_cast<std::uint64_t>(st.st_dev);
  record->inode = static_cast<std::uint64_t>(st.st_ino);
  record->mode = static_cast<std::uint32_t>(st.st_mode);
  record->uid = static_cast<std::uint32_t>(st.st_uid);
  record->gid = static_cast<std::uint32_t>(st.st_gid);
  record->size = static_cast<std::int64_t>(st.st_size);
  record->atime = static_cast<std::int64_t>(st.st_atim.tv_sec);
  record->mtime = static_cast<std::int64_t>(st.st_mtim.tv_sec);
  record->ctime = static_cast<std::int64_t>(st.st_ctim.tv_sec);
  record->atime_nsec = static_cast<std::int32_t>(st.st_atim.tv_nsec);
  record->mtime_nsec = static_cast<std::int32_t>(st.st_mtim.tv_nsec);
  record->ctime_nsec = static_cast<std::int32_t>(st.st_ctim.tv_nsec);
}

// Whole-file record lock (or lock test) of the given type; retried.
int WholeFileLock(int fd, int command, short type) {
  struct flock lock;
  std::memset(&lock, 0, sizeof lock);
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  int rc = Retry([&] { return ::fcntl(fd, command, &lock); });
  if (rc == 0 && command == F_GETLK && lock.l_type != F_UNLCK) {
    errno = EAGAIN;
    return -1;
  }
  return rc;
}

}  // namespace

extern "C" {

int _posix_open(const char* path, int flags, mode_t mode) {
  return Retry([&] { return ::open(path, flags | O_CLOEXEC, mode); });
}

int _posix_creat(const char* path, mode_t mode) {
  return Retry([&] { return ::open(path, O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, mode); });
}

std::FILE* _posix_fopen(const char* path, const char* mode) {
  if (mode == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  const std::string cloexec_mode = std::string(mode) + "e";
  for (;;) {
    errno = 0;
    std::FILE* file = std::fopen(path, cloexec_mode.c_str());
    if (file != nullptr || errno != EINTR) return file;
  }
}

int _posix_sopen(const char* path, int flags, int share, mode_t mode) {
  // The open itself is not retried: an interrupted open of a FIFO is reported.
  int fd = ::open(path, flags | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  int rc = 0;
  if ((flags & O_ACCMODE) != O_RDONLY) {
    rc = WholeFileLock(fd, F_SETLK, F_WRLCK);
  } else if (share == 64) {
    rc = 0;
  } else if (share == 48) {
    rc = WholeFileLock(fd, F_GETLK, F_RDLCK);
  } else {
    rc = WholeFileLock(fd, F_SETLK, F_RDLCK);
  }
  if (rc != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

int _posix_close(int fd) {
  // Linux releases the descriptor even when close reports EINTR; closing it again could
  // close a descriptor another thread has just been given, so EINTR counts as closed.
  errno = 0;
  int rc = ::close(fd);
  if (rc == -1 && errno == EINTR) return 0;
  return rc;
}

std::int64_t _posix_read(int fd, void* buf, std::size_t n) {
  if (n == 0) return 0;
  auto* out = static_cast<unsigned char*>(buf);
  std::size_t done = 0;
  while (done < n) {
    errno = 0;
    ssize_t got = ::read(fd, out + done, n - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(done);
}

std::int64_t _posix_write(int fd, const void* buf, std::size_t n) {
  if (n == 0) return 0;
  const auto* in = static_cast<const unsigned char*>(buf);
  std::size_t done = 0;
  while (done < n) {
    errno = 0;
    ssize_t put = ::write(fd, in + done, n - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (put == 0) break;
    done += static_cast<std::size_t>(put);
  }
  return static_cast<std::int64_t>(done);
}

std::int64_t _posix_pread(int fd, void* buf, std::size_t n, std::int64_t offset) {
  return Retry([&] { return ::pread(fd, buf, n, static_cast<off_t>(offset)); });
}

std::int64_t _posix_pwrite(int fd, const void* buf, std::size_t n, std::int64_t offset) {
  return Retry([&] { return ::pwrite(fd, buf, n, static_cast<off_t>(offset)); });
}

std::int64_t _posix_lseek(int fd, std::int64_t offset, int whence) {
  return ::lseek(fd, static_cast<off_t>(offset), whence);
}

std::int64_t _posix_tell(int fd) { return _posix_lseek(fd, 0, SEEK_CUR); }

std::int64_t _posix_filelength(int fd) {
  const std::int64_t here = _posix_lseek(fd, 0, SEEK_CUR);
  if (here < 0) return -1;
  const std::int64_t length = _posix_lseek(fd, 0, SEEK_END);
  _posix_lseek(fd, here, SEEK_SET);
  return length;
}

int _posix_truncate(const char* path, std::int64_t length) {
  return Retry([&] { return ::truncate(path, static_cast<off_t>(length)); });
}

int _posix_ftruncate(int fd, std::int64_t length) {
  return Retry([&] { return ::ftruncate(fd, static_cast<off_t>(length)); });
}

int _posix_lockf(int fd, int command, std::int64_t length) {
  return Retry([&] { return ::lockf(fd, command, static_cast<off_t>(length)); });
}

int _posix_stat(const char* path, a_posix_stat* record) {
  struct stat st;
  int rc = Retry([&] { return ::stat(path, &st); });
  if (rc == 0) FillRecord(st, record);
  return rc;
}

int _posix_lstat(const char* path, a_posix_stat* record) {
  struct stat st;
  int rc = Retry([&] { return ::lstat(path, &st); });
  if (rc == 0) FillRecord(st, record);
  return rc;
}

int _posix_fstat(int fd, a_posix_stat* record) {
  struct stat st;
  int rc = Retry([&] { return ::fstat(fd, &st); });
  if (rc == 0) FillRecord(st, record);
  return rc;
}

int _posix_access(const char* path, int mode) {
  return Retry([&] { return ::access(path, mode); });
}

int _posix_chmod(const char* path, mode_t mode) {
  return Retry([&] { return ::chmod(path, mode); });
}

int _posix_chdir(const char* path) {
  return Retry([&] { return ::chdir(path); });
}

int _posix_mkdir(const char* path, mode_t mode) {
  return Retry([&] { return ::mkdir(path, mode); });
}

int _posix_rename(const char* from, const char* to) {
  return Retry([&] { return ::rename(from, to); });
}

int _posix_unlink(const char* path) {
  return Retry([&] { return ::unlink(path); });
}

int _posix_utime(const char* path, const struct utimbuf* times) {
  return Retry([&] { return ::utime(path, times); });
}

int _posix_fdatasync(int fd) {
  return Retry([&] { return ::fdatasync(fd); });
}

int _posix_fsync(int fd) { return ::fsync(fd); }

mode_t _posix_umask(mode_t mask) { return ::umask(mask); }

void _posix_io_init(void) {}
void _posix_io_fini(void) {}
int _posix_64bit_io_available(void) { return 1; }
int _posix_os_handle(int fd) { return fd; }

}  // extern "C"
