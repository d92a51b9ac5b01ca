// The local-server resource tree: one directory per process that takes part in the
// shared-memory link, under a common root in the temporary area. A server's directory
// holds its rendezvous socket, lock, pid files and shared-memory files; a client makes a
// directory of its own under a name unique to the process, from which the server maps
// the client's segments. A process is alive while it holds a write lock on its lock file.
//
// Names. A resource name is cut to 31 characters in every path; an empty or null name
// stands for the default server directory "__Vellum__". A name (after the cut) that
// contains "/" or is "." or ".." would lead out of the tree: every path function refuses
// it, and so does everything built on them. Names that arrive from a peer are checked
// this way before any file is touched.
//
// Paths are written into caller buffers; a function returns false and leaves an empty
// buffer when the name is refused or the path does not fit. kShmPathBytes holds any
// path of the tree.
#ifndef VQ_STREAMS_SHM_RESOURCE_TREE_H
#define VQ_STREAMS_SHM_RESOURCE_TREE_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

constexpr std::size_t kShmPathBytes = 256;
constexpr std::size_t kResourceRootMax = 67;       // characters of the root
constexpr std::size_t kResourceNameMax = 31;       // characters of a name in a path
constexpr std::size_t kClientNameBytes = 36;       // the client name's buffer
constexpr std::uint32_t kSemsFileId = 0x0FFFFFFF;  // the id whose file is "sems"
extern const char kDefaultServerName[];            // "__Vellum__"
extern const char kClientNamePrefix[];             // "__VellumCli__"

// ---- Root and paths -----------------------------------------------------------------

// The resource root, computed once: VCTMP (its first 67 characters, one trailing "/"
// removed), else the temporary directory of the file-location rules (TMP, TMPDIR, TEMP),
// else "/tmp/.Vellumcrest". A VCTMP that is set but empty counts as unset.
const char* GetUnixResourceRoot();
bool GetEngineResourceRoot(const char* name, char* out, std::size_t size);
bool GetEngineSharedMemoryRoot(const char* name, char* out, std::size_t size);
// D/shmem/shm_%08x, or D/sems for the id 0x0FFFFFFF.
bool GetEngineSharedMemoryPath(const char* name, std::uint32_t id, char* out, std::size_t size);
// D/shmem/_<segment>; a segment name containing "/" is refused.
bool GetEngineSharedNMemoryPath(const char* name, const char* segment, char* out,
                                std::size_t size);
bool GetEngineLockPath(const char* name, char* out, std::size_t size);
bool GetEnginePidPath(const char* name, char* out, std::size_t size);
// D/p.<pid>: the task runtime's root pid when use_root_pid, else the pid in the pid file.
bool GetEnginePnumPath(const char* name, bool use_root_pid, char* out, std::size_t size);
bool GetEngineFifoRoot(const char* name, char* out, std::size_t size);
bool GetEngineFifoPath(const char* name, std::uint32_t n, char* out, std::size_t size);
bool GetEngineTempRoot(const char* name, char* out, std::size_t size);
bool GetEngineSocketPath(const char* name, char* out, std::size_t size);
bool GetEngineDomainSocketPath(const char* name, char* out, std::size_t size);

// The mask under which every directory and file of the tree is created (mode 0777),
// computed once: 0 when VCTMP is unset or names a shared temporary directory; otherwise
// the bits for group and others that VCTMP and its ancestors (owned by the real user)
// already deny.
mode_t GetResourceTreeFileCreationMask();

// ---- The tree -------------------------------------------------------------------------

bool CreateUnixResourceRoot();     // the root and its missing parents
bool CanCreateUnixResourceRoot();  // the first existing ancestor is writable
bool EngineResourceRootExist(const char* name);
// The root, then D, D/shmem, D/fifos and D/tmp; errors of single directories ignored.
// False only for a refused name.
bool CreateEngineResourceTree(const char* name);
// Touches (sets to now) the sems file and the rendezvous socket when they exist,
// everything below shmem, fifos and tmp, the pid file, the lock file (with lock_fd >= 0:
// writes one byte at the start of the lock file instead) and the pid-number file (named
// after our root pid with a descriptor, else after the pid in the pid file). True when
// all but the optional sems file and socket were refreshed.
bool RefreshEngineResourceTree(const char* name, int lock_fd);
// Removes the sems file, the rendezvous socket and everything below shmem, fifos and
// tmp; the directories stay.
bool CleanEngineResourceTree(const char* name);
// Cleans, then removes D and everything below it.
bool RemoveEngineResourceTree(const char* name);
// Recursive helpers; symbolic links are never followed. True when every entry succeeded.
bool RefreshTree(const char* path);
bool RefreshChildren(const char* path);
bool DeleteTree(const char* path);
bool DeleteChildren(const char* path);
// When D is a symbolic link: the last component of its target (a usable name) into out.
bool StatEngineResourceTree(const char* name, char* out, std::size_t size);
bool LinkEngineResourceTree(const char* name, const char* target_name);
bool UnlinkEngineResourceTree(const char* name);

// ---- Liveness ---------------------------------------------------------------------------

// True when a process holds the write lock on the name's lock file (or the name is a
// server of this process, or this process's own claimed client name).
bool EngineIsAlive(const char* name);
// Claims the name: takes the lock (replacing a lock file whose holder is gone), writes
// the pid and pid-number files. True with the open lock descriptor in *fd_out, which
// must stay open for as long as the claim holds; false with -1.
bool SetEngineIsAlive(const char* name, int* fd_out);
// The pid in the name's pid file; 0 when missing, empty or not a number.
int GetEnginePid(const char* name);
bool ValidPid(int pid);
int GetMaxHandles();

// ---- The client's own name ----------------------------------------------------------------

// The process's client resource name "__VellumCli__<pid>_<stamp>", claimed (tree made,
// lock held) on first use. Thread-safe.
const char* StrmCurSharedEngineAppName();
// The lock descriptor of the claimed name, -1 when none.
int StrmCurSharedEngineLockFd();
// Orderly end of the client name: removes the signal hook and the whole tree, clears the
// name, closes the lock descriptor and disallows shared-memory operations. A later
// StrmCurSharedEngineAppName claims a new name.
void StrmReleaseSharedEngineAppName();
void SetSharedMemoryOpsAllowed(int allowed);
int IsSharedMemoryOpsAllowed();

namespace vq::shm {

// The tree's mask (umask) for the life of one creation of files or directories.
class TreeUmaskScope {
 public:
  TreeUmaskScope();
  ~TreeUmaskScope();
  TreeUmaskScope(const TreeUmaskScope&) = delete;
  TreeUmaskScope& operator=(const TreeUmaskScope&) = delete;

 private:
  mode_t old_;
};

// True for a name usable in a path (null and empty included: the default directory).
bool IsSafeResourceName(const char* name);
// Copies a name field of a shared record (kShmNameBytes, terminated or not) into out
// (kShmNameBytes + 1 bytes) and checks it; false for an unsafe name.
bool CopySharedName(const char* field, char* out);

namespace testing {
// Forgets the cached root and mask, so that the next use reads the environment again.
void ResetResourceRootCache();
// Claims a client name starting from `stamp` (the first-use path with a chosen stamp).
// Any name already claimed is released first.
const char* ClaimClientName(std::uint32_t stamp);
}  // namespace testing

}  // namespace vq::shm

#endif  // VQ_STREAMS_SHM_RESOURCE_TREE_H
