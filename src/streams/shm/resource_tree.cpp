// The resource tree: root and mask, paths, creation and removal, liveness by lock file,
// and the client's own resource name.
//
// Directory walks work relative to an open directory descriptor (openat, fstatat,
// unlinkat, utimensat) and never follow symbolic links, so that an entry replaced by a
// link while we walk cannot send a removal outside the tree. They read entries with
// getdents64 into a stack buffer and allocate nothing, because the signal-time cleanup
// of the client's tree runs them inside a signal handler.
#include "streams/shm/resource_tree.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "streams/recursive_lock.h"
#include "streams/shm/shm_layout.h"
#include "utils/base/file_locations.h"
#include "utils/base/posix_file.h"
#include "vqtasks.h"

const char kDefaultServerName[] = "__Vellum__";
const char kClientNamePrefix[] = "__VellumCli__";

namespace {

constexpr char kFallbackRoot[] = "/tmp/.Vellumcrest";
constexpr mode_t kTreeMode = 0777;

// ---- Root and mask cache ----------------------------------------------------------------

vq::strm::RecursiveLock& CacheLock() {
  static vq::strm::RecursiveLock lock;
  return lock;
}
char g_root[kResourceRootMax + 1];
bool g_root_ready = false;
mode_t g_mask = 0;
bool g_mask_ready = false;

void ComputeRoot(char* out) {
  const char* value = std::getenv("VCTMP");
  if (value != nullptr && value[0] != '\0') {
    std::size_t len = strnlen(value, kResourceRootMax);
    std::memcpy(out, value, len);
    out[len] = '\0';
    if (len >= 2 && out[len - 1] == '/') out[len - 1] = '\0';
    return;
  }
  char temp[kResourceRootMax + 1];
  if (UTGetTempDir(temp, sizeof temp) > 0) {
    std::memcpy(out, temp, sizeof temp);
    return;
  }
  std::memcpy(out, kFallbackRoot, sizeof kFallbackRoot);
}

bool IsDirectory(const a_posix_stat& st) { return (st.mode & 0xF000) == 0x4000; }

// True when VCTMP is one of the shared temporary directories: the same real path, a
// link whose text is that real path, or the same file.
bool NamesSharedTemp(const char* value) {
  char real_value[PATH_MAX];
  const bool have_real = realpath(value, real_value) != nullptr;
  char link_text[PATH_MAX];
  const ssize_t link_len = readlink(value, link_text, sizeof link_text - 1);
  if (link_len >= 0) link_text[link_len] = '\0';
  a_posix_stat value_stat;
  const bool have_stat = _posix_stat(value, &value_stat) == 0;

  const char* candidates[] = {"/tmp", kFallbackRoot, std::getenv("TMP"), std::getenv("TMPDIR"),
                              std::getenv("TEMP")};
  for (const char* candidate : candidates) {
    if (candidate == nullptr || candidate[0] == '\0') continue;
    char real_candidate[PATH_MAX];
    if (realpath(candidate, real_candidate) == nullptr) continue;
    if (have_real && std::strcmp(real_value, real_candidate) == 0) return true;
    if (link_len >= 0 && std::strcmp(link_text, real_candidate) == 0) return true;
    // The same inode number on the same device: an inode number alone would match
    // unrelated directories of other file systems.
    a_posix_stat candidate_stat;
    if (have_stat && _posix_stat(real_candidate, &candidate_stat) == 0 &&
        candidate_stat.inode == value_stat.inode &&
        candidate_stat.device == value_stat.device) {
      return true;
    }
  }
  return false;
}

mode_t ComputeMask() {
  const char* value = std::getenv("VCTMP");
  if (value == nullptr || value[0] == '\0') return 0;
  if (NamesSharedTemp(value)) return 0;

  char path[PATH_MAX];
  if (std::snprintf(path, sizeof path, "%s", value) >= static_cast<int>(sizeof path)) return 0;
  const uid_t me = getuid();
  mode_t mask = 0;
  for (;;) {
    a_posix_stat st;
    if (_posix_stat(path, &st) == 0 && IsDirectory(st) && st.uid == me) {
      if ((st.mode & 07) == 0) mask |= 07;
      if ((st.mode & 070) == 0) mask |= 070;
    }
    if (mask == 077) break;
    // Up to the parent: drop trailing slashes, then the last component.
    std::size_t len = std::strlen(path);
    while (len > 1 && path[len - 1] == '/') path[--len] = '\0';
    char* slash = std::strrchr(path, '/');
    if (slash == nullptr || (slash == path && len == 1)) break;
    if (slash == path) {
      path[1] = '\0';
    } else {
      *slash = '\0';
    }
  }
  return mask;
}

// ---- Paths ------------------------------------------------------------------------------

__attribute__((format(printf, 3, 4))) bool Compose(char* out, std::size_t size,
                                                   const char* format, ...) {
  if (out == nullptr || size == 0) return false;
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(out, size, format, args);
  va_end(args);
  if (n < 0 || static_cast<std::size_t>(n) >= size) {
    out[0] = '\0';
    return false;
  }
  return true;
}

const char* NameOrDefault(const char* name) {
  return name == nullptr || name[0] == '\0' ? kDefaultServerName : name;
}

// D + suffix (suffix may be empty).
bool DirPath(const char* name, const char* suffix, char* out, std::size_t size) {
  if (!vq::shm::IsSafeResourceName(name)) {
    if (out != nullptr && size > 0) out[0] = '\0';
    return false;
  }
  return Compose(out, size, "%s/%.31s%s", GetUnixResourceRoot(), NameOrDefault(name), suffix);
}

bool MakeDir(const char* path) { return _posix_mkdir(path, kTreeMode) == 0 || errno == EEXIST; }

bool Touch(const char* path) { return _posix_utime(path, nullptr) == 0; }

// ---- Directory walks ----------------------------------------------------------------------

struct LinuxDirent64 {
  std::uint64_t d_ino;
  std::int64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[1];
};

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Calls visit(dir_fd, entry name) for every entry but "." and ".."; true when the
// directory could be read and every visit succeeded.
template <typename Visit>
bool ForEachEntry(int dir_fd, Visit visit) {
  alignas(8) char buffer[4096];
  bool ok = true;
  for (;;) {
    const long n = syscall(SYS_getdents64, dir_fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return ok;
    for (long offset = 0; offset < n;) {
      const auto* entry = reinterpret_cast<const LinuxDirent64*>(buffer + offset);
      offset += entry->d_reclen;
      if (!IsDotOrDotDot(entry->d_name) && !visit(dir_fd, entry->d_name)) ok = false;
    }
  }
}

int OpenDirAt(int parent_fd, const char* name) {
  int fd;
  do {
    fd = openat(parent_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool EntryIsDirectory(int parent_fd, const char* name, bool* is_dir) {
  struct stat st;
  if (fstatat(parent_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  *is_dir = S_ISDIR(st.st_mode);
  return true;
}

bool DeleteChildrenFd(int dir_fd);
bool RefreshChildrenFd(int dir_fd);

bool DeleteEntry(int parent_fd, const char* name) {
  bool is_dir = false;
  if (!EntryIsDirectory(parent_fd, name, &is_dir)) return false;
  if (!is_dir) return unlinkat(parent_fd, name, 0) == 0;
  bool ok = false;
  const int fd = OpenDirAt(parent_fd, name);
  if (fd >= 0) {
    ok = DeleteChildrenFd(fd);
    close(fd);
  }
  return unlinkat(parent_fd, name, AT_REMOVEDIR) == 0 && ok;
}

bool DeleteChildrenFd(int dir_fd) { return ForEachEntry(dir_fd, DeleteEntry); }

bool RefreshEntry(int parent_fd, const char* name) {
  bool ok = utimensat(parent_fd, name, nullptr, AT_SYMLINK_NOFOLLOW) == 0;
  bool is_dir = false;
  if (!EntryIsDirectory(parent_fd, name, &is_dir)) return false;
  if (is_dir) {
    const int fd = OpenDirAt(parent_fd, name);
    if (fd < 0) return false;
    ok = RefreshChildrenFd(fd) && ok;
    close(fd);
  }
  return ok;
}

bool RefreshChildrenFd(int dir_fd) { return ForEachEntry(dir_fd, RefreshEntry); }

// Runs walk(fd) over the directory `path` itself (no link followed).
template <typename Walk>
bool WithDirectory(const char* path, Walk walk) {
  const int fd = OpenDirAt(AT_FDCWD, path);
  if (fd < 0) return false;
  const bool ok = walk(fd);
  close(fd);
  return ok;
}

// ---- The client's name -----------------------------------------------------------------

vq::strm::RecursiveLock& NameLock() {
  static vq::strm::RecursiveLock lock;
  return lock;
}
char g_client_name[kClientNameBytes];
int g_client_lock_fd = -1;
std::atomic<int> g_ops_allowed{0};
std::atomic<bool> g_hook_registered{false};

bool IsClientName(const char* name) {
  return std::strncmp(name, kClientNamePrefix, sizeof kClientNamePrefix - 1) == 0;
}

// Ends the claim: tree, name, lock descriptor, operations. Signal-time and orderly
// shut-down share it; the caller holds the name lock or runs in the signal handler.
void EndClaim() {
  if (g_client_name[0] != '\0' && IsClientName(g_client_name)) {
    RemoveEngineResourceTree(g_client_name);
  }
  g_client_name[0] = '\0';
  if (g_client_lock_fd >= 0) {
    close(g_client_lock_fd);
    g_client_lock_fd = -1;
  }
  g_ops_allowed.store(0);
}

void OnFatalSignal(void* data, int in_signal) {
  (void)data;
  if (in_signal != 0) EndClaim();
}

std::uint32_t TimeStamp() {
  struct timeval now;
  gettimeofday(&now, nullptr);
  const std::uint64_t seconds = static_cast<std::uint64_t>(now.tv_sec);
  const std::uint64_t tenths_of_ms = static_cast<std::uint64_t>(now.tv_usec) / 100;
  return static_cast<std::uint32_t>(((seconds << 14) | tenths_of_ms) & 0x7FFFFFFF);
}

// First use: a name of our pid and a stamp that nobody has yet. Every name tried counts
// towards the limit of 100, also one whose directory exists already, so that a root
// filled with directories cannot keep us looping.
void ClaimLocked(std::uint32_t stamp) {
  CreateUnixResourceRoot();
  char dir[kShmPathBytes];
  for (int tries = 0; tries < 100; ++tries, stamp = (stamp + 1) & 0x7FFFFFFF) {
    std::snprintf(g_client_name, sizeof g_client_name, "%s%lu_%08x", kClientNamePrefix,
                  static_cast<unsigned long>(getpid()), static_cast<unsigned>(stamp));
    a_posix_stat st;
    if (!GetEngineResourceRoot(g_client_name, dir, sizeof dir) || _posix_lstat(dir, &st) == 0) {
      continue;
    }
    CreateEngineResourceTree(g_client_name);
    int fd = -1;
    if (SetEngineIsAlive(g_client_name, &fd)) {
      g_client_lock_fd = fd;
      SetSharedMemoryOpsAllowed(1);
      break;
    }
  }
  CleanEngineResourceTree(g_client_name);
}

// The hook is added and removed without our name lock held: the runtime takes locks of
// its own there, and it must never wait for them while holding ours.
void AddSignalHook() {
  if (!g_hook_registered.exchange(true)) ut_onsig_call_add(10000, OnFatalSignal, nullptr);
}

void RemoveSignalHook() {
  if (g_hook_registered.exchange(false)) ut_onsig_call_del(OnFatalSignal, nullptr);
}

}  // namespace

// ---- Names
// -----------------------------------------------------------------------------------

namespace vq::shm {

TreeUmaskScope::TreeUmaskScope() : old_(_posix_umask(GetResourceTreeFileCreationMask())) {}
TreeUmaskScope::~TreeUmaskScope() { _posix_umask(old_); }

bool IsSafeResourceName(const char* name) {
  if (name == nullptr || name[0] == '\0') return true;
  const std::size_t len = strnlen(name, kResourceNameMax);
  if (std::memchr(name, '/', len) != nullptr) return false;
  if ((len == 1 && name[0] == '.') || (len == 2 && name[0] == '.' && name[1] == '.')) {
    return false;
  }
  return true;
}

bool CopySharedName(const char* field, char* out) {
  const std::size_t len = strnlen(field, kShmNameBytes);
  std::memcpy(out, field, len);
  out[len] = '\0';
  return IsSafeResourceName(out);
}

namespace testing {

void ResetResourceRootCache() {
  vq::strm::LockHold hold(CacheLock());
  g_root_ready = false;
  g_mask_ready = false;
}

const char* ClaimClientName(std::uint32_t stamp) {
  StrmReleaseSharedEngineAppName();
  {
    vq::strm::LockHold hold(NameLock());
    ClaimLocked(stamp);
  }
  AddSignalHook();
  return g_client_name;
}

}  // namespace testing
}  // namespace vq::shm

// ---- Root, mask and paths ------------------------------------------------------------------

const char* GetUnixResourceRoot() {
  vq::strm::LockHold hold(CacheLock());
  if (!g_root_ready) {
    ComputeRoot(g_root);
    g_root_ready = true;
  }
  return g_root;
}

mode_t GetResourceTreeFileCreationMask() {
  vq::strm::LockHold hold(CacheLock());
  if (!g_mask_ready) {
    g_mask = ComputeMask();
    g_mask_ready = true;
  }
  return g_mask;
}

bool GetEngineResourceRoot(const char* name, char* out, std::size_t size) {
  return DirPath(name, "", out, size);
}
bool GetEngineSharedMemoryRoot(const char* name, char* out, std::size_t size) {
  return DirPath(name, "/shmem", out, size);
}
bool GetEngineSharedMemoryPath(const char* name, std::uint32_t id, char* out,
                               std::size_t size) {
  if (id == kSemsFileId) return DirPath(name, "/sems", out, size);
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, "/shmem/shm_%08x", static_cast<unsigned>(id));
  return DirPath(name, suffix, out, size);
}
bool GetEngineSharedNMemoryPath(const char* name, const char* segment, char* out,
                                std::size_t size) {
  if (segment == nullptr || std::strchr(segment, '/') != nullptr ||
      !DirPath(name, "/shmem/_", out, size)) {
    if (out != nullptr && size > 0) out[0] = '\0';
    return false;
  }
  const std::size_t used = std::strlen(out);
  if (Compose(out + used, size - used, "%s", segment)) return true;
  out[0] = '\0';
  return false;
}
bool GetEngineLockPath(const char* name, char* out, std::size_t size) {
  return DirPath(name, "/lock", out, size);
}
bool GetEnginePidPath(const char* name, char* out, std::size_t size) {
  return DirPath(name, "/pid", out, size);
}
bool GetEnginePnumPath(const char* name, bool use_root_pid, char* out, std::size_t size) {
  const int pid = use_root_pid ? OS_GetRootPid() : GetEnginePid(name);
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, "/p.%d", pid);
  return DirPath(name, suffix, out, size);
}
bool GetEngineFifoRoot(const char* name, char* out, std::size_t size) {
  return DirPath(name, "/fifos", out, size);
}
bool GetEngineFifoPath(const char* name, std::uint32_t n, char* out, std::size_t size) {
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, "/fifos/fifo_%08x", static_cast<unsigned>(n));
  return DirPath(name, suffix, out, size);
}
bool GetEngineTempRoot(const char* name, char* out, std::size_t size) {
  return DirPath(name, "/tmp", out, size);
}
bool GetEngineSocketPath(const char* name, char* out, std::size_t size) {
  return DirPath(name, "/rdv_socket", out, size);
}
bool GetEngineDomainSocketPath(const char* name, char* out, std::size_t size) {
  return DirPath(name, "/ud_socket", out, size);
}

// ---- The tree ----------------------------------------------------------------------------

bool CreateUnixResourceRoot() {
  char path[kShmPathBytes];
  std::snprintf(path, sizeof path, "%s", GetUnixResourceRoot());
  vq::shm::TreeUmaskScope mask;
  for (char* p = path + 1; *p != '\0'; ++p) {
    if (*p != '/') continue;
    *p = '\0';
    MakeDir(path);
    *p = '/';
  }
  MakeDir(path);
  a_posix_stat st;
  return _posix_stat(path, &st) == 0 && IsDirectory(st);
}

bool CanCreateUnixResourceRoot() {
  char path[kShmPathBytes];
  std::snprintf(path, sizeof path, "%s", GetUnixResourceRoot());
  for (;;) {
    if (_posix_access(path, F_OK) == 0) return _posix_access(path, W_OK) == 0;
    if (errno != ENOENT) return false;
    char* slash = std::strrchr(path, '/');
    if (slash == nullptr) return false;
    if (slash == path) {
      if (path[1] == '\0') return false;
      path[1] = '\0';
    } else {
      *slash = '\0';
    }
  }
}

bool EngineResourceRootExist(const char* name) {
  char dir[kShmPathBytes];
  if (!GetEngineResourceRoot(name, dir, sizeof dir)) return false;
  const int fd = _posix_open(dir, O_RDONLY | O_DIRECTORY, 0);
  if (fd < 0) return false;
  _posix_close(fd);
  return true;
}

bool CreateEngineResourceTree(const char* name) {
  char dir[kShmPathBytes];
  if (!GetEngineResourceRoot(name, dir, sizeof dir)) return false;
  CreateUnixResourceRoot();
  vq::shm::TreeUmaskScope mask;
  MakeDir(dir);
  for (const char* sub : {"/shmem", "/fifos", "/tmp"}) {
    char path[kShmPathBytes];
    if (Compose(path, sizeof path, "%s%s", dir, sub)) MakeDir(path);
  }
  return true;
}

bool RefreshEngineResourceTree(const char* name, int lock_fd) {
  char path[kShmPathBytes];
  if (!vq::shm::IsSafeResourceName(name)) return false;
  // The sems file and the socket need not exist.
  if (GetEngineSharedMemoryPath(name, kSemsFileId, path, sizeof path)) Touch(path);
  if (GetEngineSocketPath(name, path, sizeof path)) Touch(path);
  bool ok = true;
  ok = GetEngineSharedMemoryRoot(name, path, sizeof path) && RefreshChildren(path) && ok;
  ok = GetEngineFifoRoot(name, path, sizeof path) && RefreshChildren(path) && ok;
  ok = GetEngineTempRoot(name, path, sizeof path) && RefreshChildren(path) && ok;
  ok = GetEnginePidPath(name, path, sizeof path) && Touch(path) && ok;
  if (lock_fd < 0) {
    ok = GetEngineLockPath(name, path, sizeof path) && Touch(path) && ok;
  } else {
    const char byte = 0;
    ok = _posix_pwrite(lock_fd, &byte, 1, 0) == 1 && ok;
  }
  ok = GetEnginePnumPath(name, lock_fd >= 0, path, sizeof path) && Touch(path) && ok;
  return ok;
}

bool CleanEngineResourceTree(const char* name) {
  char path[kShmPathBytes];
  if (!vq::shm::IsSafeResourceName(name)) return false;
  if (GetEngineSharedMemoryPath(name, kSemsFileId, path, sizeof path)) _posix_unlink(path);
  if (GetEngineSocketPath(name, path, sizeof path)) _posix_unlink(path);
  bool ok = true;
  ok = GetEngineSharedMemoryRoot(name, path, sizeof path) && DeleteChildren(path) && ok;
  ok = GetEngineFifoRoot(name, path, sizeof path) && DeleteChildren(path) && ok;
  ok = GetEngineTempRoot(name, path, sizeof path) && DeleteChildren(path) && ok;
  return ok;
}

bool RemoveEngineResourceTree(const char* name) {
  char dir[kShmPathBytes];
  if (!GetEngineResourceRoot(name, dir, sizeof dir)) return false;
  CleanEngineResourceTree(name);
  return DeleteTree(dir);
}

bool RefreshTree(const char* path) { return RefreshEntry(AT_FDCWD, path); }
bool RefreshChildren(const char* path) { return WithDirectory(path, RefreshChildrenFd); }
bool DeleteTree(const char* path) { return DeleteEntry(AT_FDCWD, path); }
bool DeleteChildren(const char* path) { return WithDirectory(path, DeleteChildrenFd); }

bool StatEngineResourceTree(const char* name, char* out, std::size_t size) {
  char dir[kShmPathBytes];
  if (out == nullptr || size == 0 || !GetEngineResourceRoot(name, dir, sizeof dir))
    return false;
  char target[134];
  const ssize_t n = readlink(dir, target, sizeof target - 1);
  if (n < 0) return false;
  target[n] = '\0';
  std::size_t len = static_cast<std::size_t>(n);
  while (len > 1 && target[len - 1] == '/') target[--len] = '\0';
  const char* slash = std::strrchr(target, '/');
  const char* last = slash != nullptr ? slash + 1 : target;
  // The link can be planted by anyone who may write into the root: its target names a
  // server only when the name is usable in a path.
  if (last[0] == '\0' || !vq::shm::IsSafeResourceName(last)) return false;
  return Compose(out, size, "%s", last);
}

bool LinkEngineResourceTree(const char* name, const char* target_name) {
  char dir[kShmPathBytes];
  char target[kShmPathBytes];
  if (!GetEngineResourceRoot(name, dir, sizeof dir) ||
      !GetEngineResourceRoot(target_name, target, sizeof target)) {
    return false;
  }
  return symlink(target, dir) == 0;
}

bool UnlinkEngineResourceTree(const char* name) {
  char dir[kShmPathBytes];
  return GetEngineResourceRoot(name, dir, sizeof dir) && _posix_unlink(dir) == 0;
}

// ---- Liveness ------------------------------------------------------------------------------

bool EngineIsAlive(const char* name) {
  if (OS_IsEngineName(name) != 0) return true;
  char path[kShmPathBytes];
  if (!GetEngineLockPath(name, path, sizeof path)) return false;
  {
    // Our own claim: opening and closing the lock file here would drop the lock that
    // shows we are alive (a process loses its record locks on a file with the close of
    // any descriptor of it).
    vq::strm::LockHold hold(NameLock());
    if (g_client_lock_fd >= 0 && name != nullptr &&
        std::strncmp(name, g_client_name, kResourceNameMax) == 0) {
      return true;
    }
  }
  const int fd = _posix_open(path, O_RDWR, 0);
  if (fd < 0) return false;
  const int rc = _posix_lockf(fd, F_TEST, 0);
  const int error = errno;
  _posix_close(fd);
  if (rc == 0) return false;
  return error == EACCES || error == EAGAIN;
}

bool SetEngineIsAlive(const char* name, int* fd_out) {
  *fd_out = -1;
  char lock_path[kShmPathBytes];
  char pid_path[kShmPathBytes];
  char pnum_path[kShmPathBytes];
  if (!GetEngineLockPath(name, lock_path, sizeof lock_path) ||
      !GetEnginePidPath(name, pid_path, sizeof pid_path) ||
      !GetEnginePnumPath(name, true, pnum_path, sizeof pnum_path)) {
    return false;
  }
  OS_GetTmpCleanerMutex();
  struct CleanerGive {
    ~CleanerGive() { OS_GiveTmpCleanerMutex(); }
  } give;
  vq::shm::TreeUmaskScope mask;

  int fd = _posix_open(lock_path, O_RDWR | O_CREAT, kTreeMode);
  if (fd < 0) return false;
  struct flock holder;
  std::memset(&holder, 0, sizeof holder);
  holder.l_type = F_WRLCK;
  holder.l_whence = SEEK_SET;
  if (fcntl(fd, F_GETLK, &holder) != 0 || holder.l_type == F_UNLCK || !ValidPid(holder.l_pid)) {
    // Nobody holds it, or its holder is gone: a fresh file.
    _posix_close(fd);
    _posix_unlink(lock_path);
    fd = _posix_open(lock_path, O_RDWR | O_CREAT, kTreeMode);
    if (fd < 0) return false;
  }
  if (_posix_lockf(fd, F_TLOCK, 0) != 0) {
    _posix_close(fd);
    return false;
  }
  const int pid_fd = _posix_open(pid_path, O_WRONLY | O_CREAT | O_TRUNC, kTreeMode);
  if (pid_fd < 0) {
    _posix_close(fd);
    return false;
  }
  char text[16];
  const int len = std::snprintf(text, sizeof text, "%d\n", OS_GetRootPid());
  const bool written = _posix_write(pid_fd, text, static_cast<std::size_t>(len)) == len;
  _posix_close(pid_fd);
  const int pnum_fd = _posix_open(pnum_path, O_WRONLY | O_CREAT, kTreeMode);
  if (!written || pnum_fd < 0) {
    if (pnum_fd >= 0) _posix_close(pnum_fd);
    _posix_close(fd);
    return false;
  }
  _posix_close(pnum_fd);
  *fd_out = fd;
  return true;
}

int GetEnginePid(const char* name) {
  char path[kShmPathBytes];
  if (!GetEnginePidPath(name, path, sizeof path)) return 0;
  const int fd = _posix_open(path, O_RDONLY, 0);
  if (fd < 0) return 0;
  char text[128];
  const std::int64_t n = _posix_read(fd, text, sizeof text);
  _posix_close(fd);
  if (n <= 0 || text[0] < '0' || text[0] > '9') return 0;
  long long pid = 0;
  for (std::int64_t i = 0; i < n; ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n' || c == '\0') break;
    if (c < '0' || c > '9') return 0;
    pid = pid * 10 + (c - '0');
    if (pid > INT_MAX) return 0;
  }
  return static_cast<int>(pid);
}

// A pid of 0 or below would name a process group (or every process) to kill(): it never
// names a live peer.
bool ValidPid(int pid) {
  if (pid <= 0) return false;
  for (;;) {
    if (kill(pid, 0) == 0) return true;
    if (errno == EINTR) continue;
    return errno == EPERM;
  }
}

int GetMaxHandles() {
  static const int handles = [] {
    const long n = sysconf(_SC_OPEN_MAX);
    return n < 1 ? 256 : static_cast<int>(n > INT_MAX ? INT_MAX : n);
  }();
  return handles;
}

// ---- The client's name ---------------------------------------------------------------------

const char* StrmCurSharedEngineAppName() {
  bool claimed = false;
  {
    vq::strm::LockHold hold(NameLock());
    if (g_client_name[0] == '\0') {
      ClaimLocked(TimeStamp());
      claimed = true;
    }
  }
  if (claimed) AddSignalHook();
  return g_client_name;
}

int StrmCurSharedEngineLockFd() {
  vq::strm::LockHold hold(NameLock());
  return g_client_lock_fd;
}

void StrmReleaseSharedEngineAppName() {
  RemoveSignalHook();
  vq::strm::LockHold hold(NameLock());
  EndClaim();
}

void SetSharedMemoryOpsAllowed(int allowed) { g_ops_allowed.store(allowed != 0 ? 1 : 0); }

int IsSharedMemoryOpsAllowed() { return g_ops_allowed.load(); }
