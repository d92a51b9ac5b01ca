// The search rules for the system's own files and the places for the files it writes.
#include "utils/base/file_locations.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "utils/base/bounded_strings.h"
#include "utils/base/os_info.h"
#include "utils/base/path_helpers.h"
#include "utils/base/path_split.h"
#include "utils/base/posix_file.h"

extern "C" {
char** _argv = nullptr;
}

namespace {

constexpr std::size_t kPathBytes = 4097;  // 4096 characters and the terminator
constexpr std::size_t kMaxPathChars = kPathBytes - 1;

// Subdirectories tried under every root, in this order; a row serves a kind when its
// mask and the kind share a bit.
//
// The installation layout of this 64-bit build: <root>/bin64/ holds libvqjdbc12.so,
// the libraries it loads at run time (task runtime, Unicode library, crypto modules)
// and the server executable "vqeng12" (the bin rows serve every kind; the lib64 rows
// serve libraries and data files, not the server); <root>/res/ holds the message
// resource files and "vellum.cvf". The directory that holds the libraries may itself
// be the root: its files are found directly in it, the data files in its res/ or in
// the sibling ../res/. The rows carry 64-bit names ("bin64/", "lib64/",
// "jre_x64/bin/") where a 32-bit build had "bin32/", "lib32/" and "jre_x86/bin/", so
// that the directories of a 32-bit installation beside this one are never searched.
struct SubdirRow {
  const char* subdir;
  int mask;
};
constexpr SubdirRow kSubdirs[] = {
    {"../", 0xFFFF},        {"bin64/", 0xFFFF},      {"../bin64/", 0xFFFF},
    {"lib64/", 0xFF7E},     {"../lib64/", 0xFF7E},   {"java/", 0x104},
    {"../java/", 0x104},    {"scripts/", 0x410},     {"../scripts/", 0x410},
    {"res/", 0x8},          {"../res/", 0x8},        {"gui/", 0x20},
    {"../gui/", 0x20},      {"ide/plugins/", 0x100}, {"../ide/plugins/", 0x100},
    {"jhelp/", 0x100},      {"../jhelp/", 0x100},    {"jre/bin/", 0x100},
    {"../jre/bin/", 0x100}, {"jre_x64/bin/", 0x100}, {"../jre_x64/bin/", 0x100},
};

// A path being put together in a fixed buffer. Once it no longer fits, nothing more is
// written, but the length keeps counting what the whole path would need.
class PathBuf {
 public:
  PathBuf() { buf_[0] = '\0'; }
  explicit PathBuf(const char* s) : PathBuf() { Add(s); }

  PathBuf& Add(const char* s) { return AddN(s, std::strlen(s)); }
  PathBuf& AddN(const char* s, std::size_t n) {
    if (fits_ && len_ + n < kPathBytes) {
      std::memcpy(buf_ + len_, s, n);
      buf_[len_ + n] = '\0';
    } else {
      fits_ = false;
    }
    len_ += n;
    return *this;
  }
  // Adds "/" unless the path already ends with one.
  PathBuf& Separator() {
    if (!fits_ || len_ == 0 || !EndsWithSeparator(buf_)) Add("/");
    return *this;
  }
  PathBuf& Join(const char* name) { return Separator().Add(name); }

  bool fits() const { return fits_; }
  bool empty() const { return len_ == 0; }
  std::size_t length() const { return len_; }
  const char* c_str() const { return buf_; }
  char* data() { return buf_; }
  void Reset() { *this = PathBuf(); }
  void Resync() { len_ = std::strlen(buf_); }

  static bool EndsWithSeparator(const char* s) {
    const char* last = nullptr;
    for (const char* p = s; *p != '\0'; p = Next(p)) last = p;
    return last != nullptr && *last == '/' && Next(last) == last + 1;
  }
  static const char* Next(const char* p) {
    unsigned n = vq::base::PathCharLength(static_cast<unsigned char>(*p));
    if (n == 0) n = 1;
    while (n-- > 0 && *p != '\0') ++p;
    return p;
  }

 private:
  char buf_[kPathBytes];
  std::size_t len_ = 0;
  bool fits_ = true;
};

// Cuts the path just after its last "/" (single-byte characters only); a path without
// one becomes empty.
void CutAfterLastSeparator(char* path) {
  char* last = nullptr;
  for (char* p = path; *p != '\0';) {
    char* next = const_cast<char*>(PathBuf::Next(p));
    if (*p == '/' && next == p + 1) last = p;
    p = next;
  }
  if (last != nullptr) {
    last[1] = '\0';
  } else {
    path[0] = '\0';
  }
}

bool HasSeparator(const char* path) {
  for (const char* p = path; *p != '\0';) {
    const char* next = PathBuf::Next(p);
    if (*p == '/' && next == p + 1) return true;
    p = next;
  }
  return false;
}

// An environment value read whole.
enum class Env { Unset, Set, TooLong };

// Unset also for an empty value: it names no place.
Env ReadEnv(const char* name, PathBuf* value) {
  value->Reset();
  const char* v = std::getenv(name);
  if (v == nullptr || v[0] == '\0') return Env::Unset;
  value->Add(v);
  return value->fits() ? Env::Set : Env::TooLong;
}

bool Exists(const char* path) { return _posix_access(path, F_OK) == 0; }

// A path that cannot be examined counts as not a directory.
bool IsDirectory(const char* path) {
  a_posix_stat st;
  return _posix_stat(path, &st) == 0 && (st.mode & 0xF000) == 0x4000;
}

bool IsWritableDirectory(const char* path) {
  return IsDirectory(path) && _posix_access(path, W_OK) == 0;
}

bool PassesDirectoryTest(int kind, const char* path) {
  return (kind & kLsFlagDirectory) != 0 || !IsDirectory(path);
}

bool Accepted(int kind, const char* path, LS_QualifyCB callback) {
  return callback == nullptr || callback(kind, path) != 0;
}

bool Matches(int kind, const PathBuf& candidate, LS_QualifyCB callback) {
  if (!candidate.fits()) return false;
  const char* path = candidate.c_str();
  return _posix_access(path, R_OK) == 0 && PassesDirectoryTest(kind, path) &&
         Accepted(kind, path, callback);
}

// Copies a found path into the caller's buffer when it fits; the length either way.
unsigned CopyIfFits(const PathBuf& path, char* out, unsigned size) {
  if (path.fits() && out != nullptr && path.length() < size) {
    std::memcpy(out, path.c_str(), path.length() + 1);
  }
  return static_cast<unsigned>(path.length());
}

// Copies a result, or empties out and returns 0 when it does not fit.
unsigned CopyOrNothing(const PathBuf& path, char* out, unsigned size) {
  if (out == nullptr || size == 0) return 0;
  if (!path.fits() || path.length() >= size) {
    out[0] = '\0';
    return 0;
  }
  std::memcpy(out, path.c_str(), path.length() + 1);
  return static_cast<unsigned>(path.length());
}

unsigned Nothing(char* out, unsigned size) {
  if (out != nullptr && size > 0) out[0] = '\0';
  return 0;
}

// Looks for name under one root: directly, under the resolved root, and in each
// subdirectory that serves the kind.
bool SearchRoot(int kind, const char* name, const char* root, LS_QualifyCB callback,
                PathBuf* found) {
  if (name == nullptr || name[0] == '\0' || root == nullptr || root[0] == '\0') return false;
  *found = PathBuf(root);
  found->Join(name);
  if (Matches(kind, *found, callback)) return true;

  char resolved[PATH_MAX];
  if (realpath(root, resolved) != nullptr) {
    *found = PathBuf(resolved);
    found->Join(name);
    if (Matches(kind, *found, callback)) return true;
  }
  if ((kind & kLsFlagExecOnly) != 0) return false;

  for (const SubdirRow& row : kSubdirs) {
    if ((row.mask & kind) == 0) continue;
    *found = PathBuf(root);
    found->Join(row.subdir).Add(name);
    if (Matches(kind, *found, callback)) return true;
  }
  return false;
}

// Looks for name on a ":"-separated search-path variable. The name itself is tried
// first, relative to the current directory or absolute, by existence alone; except
// for a library, where only an absolute name is taken and the callback must accept it:
// a library planted in the current directory must not be loaded because its plain
// name happens to be there. `skip_as_given` skips that first try altogether.
bool SearchPathVariable(const char* name, const char* variable, int kind, LS_QualifyCB callback,
                        bool skip_as_given, PathBuf* found) {
  if (name == nullptr || name[0] == '\0') return false;
  if (!skip_as_given) {
    const bool library = (kind & kLsKindLibrary) != 0;
    if (library) {
      if (name[0] == '/' && Exists(name) && PassesDirectoryTest(kind, name) &&
          Accepted(kind, name, callback)) {
        *found = PathBuf(name);
        if (found->fits()) return true;
      }
    } else if (Exists(name) && PassesDirectoryTest(kind, name)) {
      found->Reset();
      char cwd[kPathBytes];
      if (name[0] == '/' || name[0] == '.') {
        found->Add(name);
      } else if (getcwd(cwd, sizeof cwd) != nullptr) {
        found->Add(cwd).Add("/").Add(name);
      }
      if (!found->empty() && found->fits()) return true;
    }
  }

  const char* value = std::getenv(variable);
  if (value == nullptr) return false;
  constexpr std::size_t kElementChars = 4094;
  const char* p = value;
  while (*p != '\0') {
    const char* end = std::strchr(p, ':');
    if (end == nullptr) end = p + std::strlen(p);
    char element[kElementChars + 1];
    std::size_t n = 0;
    for (const char* q = p; q < end && n < kElementChars; ++q) {
      if (*q != '"') element[n++] = *q;
    }
    element[n] = '\0';
    p = *end == ':' ? end + 1 : end;
    if (n == 0) continue;
    *found = PathBuf(element);
    found->Join(name);
    if (!found->fits() || found->length() >= kPathBytes - 1) continue;
    const char* candidate = found->c_str();
    if (Exists(candidate) && PassesDirectoryTest(kind, candidate) &&
        Accepted(kind, candidate, callback)) {
      return true;
    }
  }
  return false;
}

// The search beside the program named by the first program argument. A bare program
// name is looked up on PATH as the shell does, in its elements only.
bool SearchProgramDirs(int kind, const char* name, LS_QualifyCB callback, PathBuf* found) {
  if (_argv == nullptr || _argv[0] == nullptr || _argv[0][0] == '\0') return false;
  PathBuf program;
  if (HasSeparator(_argv[0])) {
    program.Add(_argv[0]);
  } else if (!SearchPathVariable(_argv[0], "PATH", 0, nullptr, true, &program)) {
    return false;
  }
  if (!program.fits()) return false;

  PathBuf dir(program.c_str());
  CutAfterLastSeparator(dir.data());
  dir.Resync();
  if (!dir.empty() && SearchRoot(kind, name, dir.c_str(), callback, found)) return true;

  char resolved[PATH_MAX];
  if (realpath(program.c_str(), resolved) != nullptr) {
    CutAfterLastSeparator(resolved);
    if (resolved[0] != '\0' && SearchRoot(kind, name, resolved, callback, found)) return true;
  }
  return false;
}

// The last resort: the directory of the file this code was loaded from (the driver's
// library, or the program it is linked into), so that an installation is found with no
// environment set at all.
bool SearchLibraryDir(int kind, const char* name, LS_QualifyCB callback, PathBuf* found) {
  char dir[kPathBytes];
  if (LS_GetModuleDirectory(reinterpret_cast<const void*>(&LS_QualifyVellumFile), dir,
                            sizeof dir) == 0) {
    return false;
  }
  return SearchRoot(kind, name, dir, callback, found);
}

void RootFrom(const char* const* variables, std::size_t count, char* out) {
  out[0] = '\0';
  for (std::size_t i = 0; i < count; ++i) {
    const char* v = std::getenv(variables[i]);
    if (v == nullptr || v[0] == '\0') continue;
    std::size_t n = std::strlen(v);
    if (n > kMaxPathChars - 1) {
      errno = ENAMETOOLONG;
      return;
    }
    std::memcpy(out, v, n + 1);
    while (n > 0 && PathBuf::EndsWithSeparator(out)) out[--n] = '\0';
    return;
  }
}

// The application-data directory into path; with create, made usable.
bool AppDataDirectory(bool create, PathBuf* path) {
  char home[kPathBytes];
  if (!get_user_home_directory(home, sizeof home, false)) return false;
  *path = PathBuf(home);
  path->Join(".vellumcrest12");
  if (!path->fits()) return false;
  if (!create) return true;
  return IsWritableDirectory(path->c_str()) ||
         (!Exists(path->c_str()) && _posix_mkdir(path->c_str(), 0777) == 0) ||
         IsWritableDirectory(path->c_str());  // made by someone else meanwhile
}

// The temporary directory read whole: the first of the variables that is set; a value
// too long for a path gives none.
bool TempDirectory(PathBuf* dir) {
  for (const char* name : {"VCTMP", "TMP", "TMPDIR", "TEMP"}) {
    const Env e = ReadEnv(name, dir);
    if (e == Env::Set) return true;
    if (e == Env::TooLong) return false;
  }
  return false;
}

bool FirstWritable(const char* variable, PathBuf* dir) {
  if (ReadEnv(variable, dir) == Env::Set && IsWritableDirectory(dir->c_str())) return true;
  if (AppDataDirectory(true, dir)) return true;
  *dir = PathBuf(".");
  return IsWritableDirectory(".");
}

bool IsElfOfThisBuild(const char* path) {
#if defined(__x86_64__)
  constexpr unsigned kMachine = EM_X86_64;
#elif defined(__aarch64__)
  constexpr unsigned kMachine = EM_AARCH64;
#else
#error "name the ELF machine of this processor"
#endif
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  constexpr unsigned char kData = ELFDATA2LSB;
#else
  constexpr unsigned char kData = ELFDATA2MSB;
#endif
  const int fd = _posix_open(path, O_RDONLY, 0);
  if (fd < 0) return false;
  unsigned char header[20];
  const std::int64_t n = _posix_read(fd, header, sizeof header);
  _posix_close(fd);
  if (n != static_cast<std::int64_t>(sizeof header)) return false;
  if (header[EI_DATA] != kData) return false;
  // e_machine: two bytes at offset 18, in the file's byte order.
  const unsigned machine = kData == ELFDATA2LSB ? (header[18] | (header[19] << 8))
                                                : ((header[18] << 8) | header[19]);
  return machine == kMachine;
}

}  // namespace

extern "C" {

int defaultQualifyCB(int kind, const char* path) {
  if ((kind & kLsKindLibrary) == 0) return 1;
  if (path == nullptr) return 0;
  constexpr int kWordBits = static_cast<int>(sizeof(void*) * 8);
  return UTFileBitnessInfo::getBitness(path) == kWordBits && IsElfOfThisBuild(path) ? 1 : 0;
}

unsigned LS_GetExecFileName(char* out, unsigned size) {
  if (out == nullptr || size == 0) return 0;
  char link[32];
  std::snprintf(link, sizeof link, "/proc/%u/exe", static_cast<unsigned>(getpid()));
  const ssize_t n = readlink(link, out, size);
  if (n < 0 || static_cast<std::size_t>(n) >= size) {
    out[0] = '\0';
    return 0;
  }
  out[n] = '\0';
  return static_cast<unsigned>(n);
}

unsigned LS_GetPathFromExecName(char* out, unsigned size) {
  if (LS_GetExecFileName(out, size) == 0) return 0;
  CutAfterLastSeparator(out);
  return static_cast<unsigned>(std::strlen(out));
}

unsigned LS_GetVellumUserAppDataPath(char* out, unsigned size, unsigned create) {
  if (out == nullptr || size == 0) return 0;
  PathBuf path;
  if (!AppDataDirectory(create != 0, &path)) return Nothing(out, size);
  return CopyOrNothing(path, out, size) != 0 ? 1 : 0;
}

unsigned LS_PlaceIniFile(const char* name, unsigned, char* out, unsigned size) {
  if (name == nullptr) return Nothing(out, size);
  PathBuf path;
  if (!AppDataDirectory(true, &path)) return Nothing(out, size);
  path.Join(name);
  return CopyOrNothing(path, out, size);
}

unsigned LS_QualifyIniFile(const char* name, unsigned unused, char* out, unsigned size) {
  const unsigned n = LS_PlaceIniFile(name, unused, out, size);
  if (n == 0) return 0;
  if (_posix_access(out, R_OK) != 0 || IsDirectory(out)) return Nothing(out, size);
  return n;
}

unsigned LS_GetDiagnosticDir(char* out, unsigned size) {
  PathBuf dir;
  bool chosen = false;
  if (ReadEnv("VCDIAGDIR", &dir) == Env::Set) {
    PathBuf test(dir.c_str());
    if (test.length() > 1 && PathBuf::EndsWithSeparator(test.c_str())) {
      test.data()[test.length() - 1] = '\0';
    }
    chosen = IsWritableDirectory(test.c_str());
  }
  if (!chosen && AppDataDirectory(true, &dir)) {
    dir.Join("diagnostics");
    chosen = dir.fits() && (IsWritableDirectory(dir.c_str()) ||
                            (!Exists(dir.c_str()) && _posix_mkdir(dir.c_str(), 0777) == 0));
  }
  if (!chosen) {
    dir = PathBuf(".");
    if (!IsWritableDirectory(".") && !TempDirectory(&dir)) dir = PathBuf("/tmp");
  }
  if (!dir.fits() || !IsWritableDirectory(dir.c_str())) return Nothing(out, size);
  return CopyIfFits(dir, out, size);
}

unsigned LS_PlaceDiagnosticFile(const char* name, char* out, unsigned size) {
  if (name == nullptr) return Nothing(out, size);
  PathBuf path;
  if (LS_GetDiagnosticDir(path.data(), kPathBytes) == 0) return Nothing(out, size);
  path.Resync();
  path.Join(name);
  return CopyIfFits(path, out, size);
}

unsigned LS_PlaceBackupHistoryFile(const char* name, char* out, unsigned size) {
  PathBuf path;
  if (name == nullptr || !FirstWritable("VCLOGDIR", &path)) return Nothing(out, size);
  path.Join(name);
  return CopyOrNothing(path, out, size);
}

unsigned LS_PlaceVellumFile(const char* name, char* out, unsigned size) {
  if (name == nullptr) return Nothing(out, size);
  if (std::strcmp(name, ".odbc.ini") == 0) return LS_PlaceOdbcIniFile(name, out, size);
  PathBuf path;
  // Without a usable application-data directory the file goes to the current
  // directory, not to the root of the file system.
  if (AppDataDirectory(true, &path)) {
    path.Join(name);
  } else {
    path = PathBuf(name);
  }
  return CopyOrNothing(path, out, size);
}

unsigned LS_GetModuleDirectory(const void* address, char* out, unsigned size) {
  Dl_info info;
  if (address == nullptr || dladdr(address, &info) == 0 || info.dli_fname == nullptr ||
      info.dli_fname[0] == '\0') {
    return Nothing(out, size);
  }
  // The name as the loader was given it may be relative to the directory of that time.
  char resolved[PATH_MAX];
  if (realpath(info.dli_fname, resolved) == nullptr) return Nothing(out, size);
  PathBuf dir(resolved);
  CutAfterLastSeparator(dir.data());
  dir.Resync();
  if (dir.empty()) return Nothing(out, size);
  return CopyOrNothing(dir, out, size);
}

unsigned LS_QualifyVellumFile(int kind, const char* name, char* out, unsigned size,
                              LS_QualifyCB callback) {
  if (name == nullptr || name[0] == '\0') return Nothing(out, size);
  PathBuf found;
  bool ok = false;

  char root[kPathBytes];
  if (LS_GetPathFromExecName(root, sizeof root) != 0) {
    ok = SearchRoot(kind, name, root, callback, &found);
  }
  if (!ok) ok = SearchProgramDirs(kind, name, callback, &found);
  if (!ok && (kind & kLsFlagExecOnly) != 0) return Nothing(out, size);

  if (!ok) {
    GetInstallationRoot(root);
    ok = SearchRoot(kind, name, root, callback, &found);
  }
  if (!ok && (kind & (kLsKindServer | kLsKindLibrary | kLsFlagNoPathVars)) == 0) {
    found = PathBuf(name);
    ok = Matches(kind, found, callback);
  }
  if (!ok && (kind & kLsKindLibrary) == 0 && (kind & ~0x287) != 0 &&
      AppDataDirectory(false, &found)) {
    found.Join(name);
    ok = Matches(kind, found, callback);
  }
  if (!ok && (kind & kLsFlagNoPathVars) != 0) {
    ok = SearchLibraryDir(kind, name, callback, &found);
    if (!ok) return Nothing(out, size);
  }

  if (!ok) {
    const bool library = (kind & kLsKindLibrary) != 0;
    const char* variables[2] = {library ? "LD_LIBRARY_PATH" : "PATH",
                                library ? "PATH" : "LD_LIBRARY_PATH"};
    for (const char* variable : variables) {
      ok = SearchPathVariable(name, variable, kind, callback, false, &found);
      for (const SubdirRow& row : kSubdirs) {
        if (ok) break;
        if ((row.mask & kind) == 0) continue;
        PathBuf sub(row.subdir);
        sub.Add(name);
        if (!sub.fits()) continue;
        ok = SearchPathVariable(sub.c_str(), variable, kind, callback, false, &found);
      }
      if (ok) break;
    }
  }
  if (!ok) ok = SearchLibraryDir(kind, name, callback, &found);
  if (!ok) return Nothing(out, size);
  return CopyIfFits(found, out, size);
}

unsigned LS_QualifyFileWithClassPath(const char* name, const char* classpath, char* out,
                                     unsigned size) {
  if (classpath == nullptr || classpath[0] == '\0') {
    return LS_QualifyVellumFile(kLsKindJava, name, out, size, &defaultQualifyCB);
  }
  if (name == nullptr || out == nullptr || size == 0 || name[0] == '\0') {
    return Nothing(out, size);
  }

  // The extension: from the last "." after the last "/".
  const char* ext = nullptr;
  for (const char* p = name; *p != '\0';) {
    const char* next = PathBuf::Next(p);
    if (next == p + 1 && *p == '/') ext = nullptr;
    if (next == p + 1 && *p == '.') ext = p;
    p = next;
  }
  if (ext == nullptr) return Nothing(out, size);
  bool known = false;
  for (const char* accepted : {".class", ".cls", ".jar", ".zip"}) {
    if (ut_stricmp(ext, accepted) == 0) known = true;
  }
  if (!known) return Nothing(out, size);

  const std::size_t name_len = std::strlen(name);
  PathBuf found;
  bool ok = false;
  const char* p = classpath;
  while (!ok && *p != '\0') {
    const char* end = std::strchr(p, ':');
    if (end == nullptr) end = p + std::strlen(p);
    const std::size_t n = static_cast<std::size_t>(end - p);
    const char* element = p;
    p = *end == ':' ? end + 1 : end;
    if (n == 0) continue;
    if (n > kMaxPathChars) break;
    char elem[kPathBytes];
    std::memcpy(elem, element, n);
    elem[n] = '\0';
    if (std::strstr(elem, name) != nullptr) {
      found = PathBuf(elem);
    } else {
      if (name_len + n > kMaxPathChars) break;
      found = PathBuf(elem);
      found.Join(name);
    }
    ok = Matches(0, found, nullptr);
  }
  if (!ok) {
    found = PathBuf(name);
    ok = Matches(0, found, nullptr);
  }
  if (!ok) return Nothing(out, size);
  return CopyOrNothing(found, out, size);
}

unsigned LS_GetLocationSpec(char* out, unsigned size) { return Nothing(out, size); }
unsigned LS_GetLocationCESpec(char* out, unsigned size) { return Nothing(out, size); }

void GetInstallationRoot(char* out) {
  if (out == nullptr) return;
  static const char* const kVariables[] = {"VCDIR", "VELLUM12"};
  RootFrom(kVariables, 2, out);
}

void GetTovrakInstallationRoot(char* out) {
  if (out == nullptr) return;
  static const char* const kVariables[] = {"TOVRAK"};
  RootFrom(kVariables, 1, out);
}

unsigned UTGetTempDir(char* out, unsigned size) {
  if (out == nullptr || size == 0) return 0;
  for (const char* name : {"VCTMP", "TMP", "TMPDIR", "TEMP"}) {
    const char* v = std::getenv(name);
    if (v == nullptr || v[0] == '\0') continue;
    const std::size_t n = ut_strnlen(v, size - 1);
    std::memcpy(out, v, n);
    out[n] = '\0';
    return static_cast<unsigned>(n);
  }
  out[0] = '\0';
  return 0;
}

void GetTempFilename(char* out, unsigned size, const char* prefix) {
  if (out == nullptr || size == 0) return;
  out[0] = '\0';
  PathBuf dir;
  if (!TempDirectory(&dir)) dir = PathBuf("/tmp");
  const char* dirs[2] = {dir.c_str(), "/tmp"};
  for (const char* d : dirs) {
    PathBuf name(d);
    name.Join(prefix != nullptr ? prefix : "_T").Add("XXXXXX");
    if (!name.fits() || name.length() >= size) continue;
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) continue;
    _posix_close(fd);
    std::memcpy(out, name.c_str(), name.length() + 1);
    return;
  }
}

char* ut_getenv(const char* name, char* buf, unsigned len) {
  if (name == nullptr) return nullptr;
  const char* v = std::getenv(name);
  if (v == nullptr) return nullptr;
  if (buf == nullptr || len == 0) return buf;
  std::strncpy(buf, v, len);
  buf[len - 1] = '\0';
  return buf;
}

unsigned LS_PlaceOdbcIniFile(const char* fileName, char* out, unsigned size) {
  if (fileName == nullptr) return Nothing(out, size);
  PathBuf path;
  for (const char* name : {"ODBCINI", "ODBC_INI"}) {
    const Env e = ReadEnv(name, &path);
    if (e == Env::Set) return CopyOrNothing(path, out, size);
    if (e == Env::TooLong) return Nothing(out, size);
  }
  for (const char* name : {"ODBCHOME", "HOME"}) {
    const Env e = ReadEnv(name, &path);
    if (e == Env::TooLong) return Nothing(out, size);
    if (e == Env::Set) return CopyOrNothing(path.Join(fileName), out, size);
  }
  char home[kPathBytes];
  if (!get_true_user_home_directory(home, sizeof home)) return Nothing(out, size);
  path = PathBuf(home);
  return CopyOrNothing(path.Join(fileName), out, size);
}

unsigned LS_QualifyOdbcIniFile(const char* fileName, char* out, unsigned size, int mustExist) {
  if (fileName == nullptr) return Nothing(out, size);
  const bool must_exist = mustExist != 0;
  PathBuf path;
  // A value too long for a path names no existing file; without mustExist it is the
  // answer, which fits nowhere.
  for (const char* name : {"ODBCINI", "ODBC_INI"}) {
    const Env e = ReadEnv(name, &path);
    if (e == Env::Unset) continue;
    if (!must_exist) return e == Env::Set ? CopyOrNothing(path, out, size) : Nothing(out, size);
    if (e == Env::Set && Exists(path.c_str())) return CopyOrNothing(path, out, size);
  }
  for (const char* name : {"ODBCHOME", "HOME"}) {
    const Env e = ReadEnv(name, &path);
    if (e == Env::Unset) continue;
    path.Join(fileName);
    if (!must_exist) return CopyOrNothing(path, out, size);
    if (path.fits() && Exists(path.c_str())) return CopyOrNothing(path, out, size);
  }
  char home[kPathBytes];
  if (get_true_user_home_directory(home, sizeof home)) {
    path = PathBuf(home);
    path.Join(fileName);
    if (!must_exist || (path.fits() && Exists(path.c_str()))) {
      return CopyOrNothing(path, out, size);
    }
  } else if (!must_exist) {
    return Nothing(out, size);
  }
  if (SearchPathVariable(fileName, "PATH", kLsKindConfig, nullptr, false, &path)) {
    return CopyOrNothing(path, out, size);
  }
  return Nothing(out, size);
}

}  // extern "C"

unsigned LS_GetExecFileName(UTCollation&, char* out, unsigned size) {
  return LS_GetExecFileName(out, size);
}

unsigned LS_GetPathFromExecName(UTCollation& collation, char* out, unsigned size) {
  if (LS_GetExecFileName(out, size) == 0) return 0;
  RemoveFilename(collation, out);
  return static_cast<unsigned>(std::strlen(out));
}
