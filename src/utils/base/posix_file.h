// The file wrappers through which every file operation of the library goes.
//
// Each wrapper uses the large-file form of its call, repeats a call that a signal
// interrupted (EINTR; errno is cleared before every attempt) and opens every descriptor
// close-on-exec, so that a local server started with fork and exec inherits none of
// ours. Results follow the C library: -1 with errno on failure.
#ifndef VQ_UTILS_BASE_POSIX_FILE_H
#define VQ_UTILS_BASE_POSIX_FILE_H

#include <sys/types.h>
#include <utime.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

extern "C" {

// File status as the library's callers use it. Test the file type with
// (mode & 0xF000) == 0x4000 for a directory.
struct a_posix_stat {
  std::uint64_t device;     // st_dev
  std::uint64_t inode;      // st_ino
  std::uint32_t mode;       // file type and permission bits, as st_mode
  std::uint32_t uid;        // owner user id
  std::uint32_t gid;        // owner group id
  std::int64_t size;        // bytes
  std::int64_t atime;       // seconds since 1970 (64-bit: no 2038 wrap)
  std::int64_t mtime;       // seconds since 1970
  std::int64_t ctime;       // seconds since 1970
  std::int32_t atime_nsec;  // nanoseconds within atime
  std::int32_t mtime_nsec;  // nanoseconds within mtime: tells apart two writes in one second
  std::int32_t ctime_nsec;  // nanoseconds within ctime
};

// open with O_CLOEXEC added to flags; retried.
int _posix_open(const char* path, int flags, mode_t mode);
// Creates or truncates for writing (as creat), close-on-exec; retried.
int _posix_creat(const char* path, mode_t mode);
// fopen with a close-on-exec descriptor; retried.
std::FILE* _posix_fopen(const char* path, const char* mode);
// Share-mode open by advisory whole-file record locks (process owned):
//   opened for writing        -> write lock;
//   read-only, share 64       -> no lock;
//   read-only, share 48       -> fails with EAGAIN when another process holds a
//                                conflicting lock, takes none itself;
//   read-only, any other share -> read lock.
// On failure the descriptor is closed, errno kept, -1 returned.
int _posix_sopen(const char* path, int flags, int share, mode_t mode);
int _posix_close(int fd);

// Reads until n bytes are in or end of file: the bytes read (fewer than n only at end
// of file), 0 for n 0, -1 on an error (bytes read before the error are not reported).
std::int64_t _posix_read(int fd, void* buf, std::size_t n);
// Writes all n bytes: n; the bytes written so far when a write returns 0; 0 for n 0
// (no system call); -1 on an error.
std::int64_t _posix_write(int fd, const void* buf, std::size_t n);
// One pread/pwrite (retried); a partial transfer is returned as it is.
std::int64_t _posix_pread(int fd, void* buf, std::size_t n, std::int64_t offset);
std::int64_t _posix_pwrite(int fd, const void* buf, std::size_t n, std::int64_t offset);

std::int64_t _posix_lseek(int fd, std::int64_t offset, int whence);
std::int64_t _posix_tell(int fd);
// Length of the file; the position is left where it was. -1 when the position cannot
// be read.
std::int64_t _posix_filelength(int fd);
int _posix_truncate(const char* path, std::int64_t length);
int _posix_ftruncate(int fd, std::int64_t length);
int _posix_lockf(int fd, int command, std::int64_t length);

// On success the record is filled; on failure it is left untouched.
int _posix_stat(const char* path, a_posix_stat* record);
int _posix_lstat(const char* path, a_posix_stat* record);
int _posix_fstat(int fd, a_posix_stat* record);

int _posix_access(const char* path, int mode);
int _posix_chmod(const char* path, mode_t mode);
int _posix_chdir(const char* path);
int _posix_mkdir(const char* path, mode_t mode);
int _posix_rename(const char* from, const char* to);
int _posix_unlink(const char* path);
int _posix_utime(const char* path, const struct utimbuf* times);
int _posix_fdatasync(int fd);
int _posix_fsync(int fd);
mode_t _posix_umask(mode_t mask);

void _posix_io_init(void);
void _posix_io_fini(void);
int _posix_64bit_io_available(void);
int _posix_os_handle(int fd);

}  // extern "C"

#endif  // VQ_UTILS_BASE_POSIX_FILE_H
