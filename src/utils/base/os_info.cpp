// Operating system, processor, user and file queries.
#include "utils/base/os_info.h"

#include <fcntl.h>
#include <limits.h>
#include <mntent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "utils/base/library_loader.h"
#include "utils/base/posix_file.h"
#include "utils/base/version_block.h"

namespace {

struct Architecture {
  const char* name;
  bool big_endian;
};

// Row order is fixed: callers and stored texts refer to these names.
constexpr Architecture kArchitectures[] = {
    {"X86", false}, {"IA64", false}, {"X86_64", false}, {"SPARC", true},
    {"PPC", true},  {"ARM", false},  {"MIPS", false},   {"PA_RISC", true},
};
constexpr int kArchitectureCount = sizeof kArchitectures / sizeof kArchitectures[0];

// The row of the architecture this library is built for. The table was laid out when
// the only build was 32-bit x86 (row 0); a 64-bit x86 build is row 2.
#if defined(__x86_64__)
constexpr int kBuildRow = 2;
#elif defined(__i386__)
constexpr int kBuildRow = 0;
#elif defined(__aarch64__) || defined(__arm__)
constexpr int kBuildRow = 5;
#elif defined(__powerpc__)
constexpr int kBuildRow = 4;
#else
#error "no architecture row for this processor"
#endif

// Copies text into buffer, cut to fit; always terminated when size > 0.
char* CopyCut(char* buffer, std::size_t size, const char* text) {
  if (buffer == nullptr || size == 0) return buffer;
  std::snprintf(buffer, size, "%s", text != nullptr ? text : "");
  return buffer;
}

// Appends text at *len, cut to fit.
void AppendCut(char* buffer, std::size_t size, std::size_t* len, const char* text) {
  if (*len + 1 >= size) return;
  std::snprintf(buffer + *len, size - *len, "%s", text);
  *len += std::strlen(buffer + *len);
}

char* OSVersion(char* buffer, std::size_t size, bool with_machine) {
  if (buffer == nullptr || size == 0) return buffer;
  buffer[0] = '\0';
  struct utsname u;
  if (uname(&u) != 0) return buffer;
  std::size_t len = 0;
  AppendCut(buffer, size, &len, u.sysname);
  AppendCut(buffer, size, &len, " ");
  AppendCut(buffer, size, &len, u.release);
  AppendCut(buffer, size, &len, " ");
  AppendCut(buffer, size, &len, u.version);
  if (with_machine) {
    AppendCut(buffer, size, &len, " ");
    AppendCut(buffer, size, &len, u.machine);
  }
  return buffer;
}

CPUIDInfo g_cpuid_info{};

void FillCPUIDInfo() {
  CPUIDInfo info{};
#if defined(__x86_64__) || defined(__i386__)
  // Every x86-64 processor has CPUID; __get_cpuid_max performs the 32-bit flag-toggle
  // test itself and answers 0 without it.
  info.max_basic_leaf = __get_cpuid_max(0, nullptr);
  info.supported = info.max_basic_leaf != 0;
  info.max_extended_leaf = info.supported ? __get_cpuid_max(0x80000000u, nullptr) : 0x80000000u;
#else
  info.supported = false;
  info.max_basic_leaf = 0;
  info.max_extended_leaf = 0x80000000u;
#endif
  info.initialized = true;
  g_cpuid_info = info;
}

// Filled when the library loads.
const bool g_cpuid_filled_at_load = (FillCPUIDInfo(), true);

bool VendorIs(const char* vendor) {
  std::uint32_t r[4];
  if (!GetCPUID(0, r)) return false;
  char text[13];
  std::memcpy(text, &r[1], 4);      // EBX
  std::memcpy(text + 4, &r[3], 4);  // EDX
  std::memcpy(text + 8, &r[2], 4);  // ECX
  text[12] = '\0';
  return std::strcmp(text, vendor) == 0;
}

bool FeatureBit(std::uint32_t leaf, int reg, int bit) {
  std::uint32_t r[4];
  return GetCPUID(leaf, r) && ((r[reg] >> bit) & 1u) != 0;
}

// Trailing "/" removal and the fit test of the home-directory helper.
bool StoreHome(const char* value, char* buffer, std::size_t size) {
  if (value == nullptr || *value == '\0') return false;
  std::size_t n = std::strlen(value);
  if (value[n - 1] == '/') --n;
  if (n >= size) return false;
  std::memcpy(buffer, value, n);
  buffer[n] = '\0';
  return true;
}

// The mount-table entry whose mount directory is the longest prefix of `resolved`
// (a whole-component prefix: "/home" is not a prefix of "/homework").
bool FindMount(const char* resolved, const char* mtab, std::string* device, std::string* type) {
  std::FILE* f = _posix_fopen(mtab, "r");
  if (f == nullptr) return false;
  std::size_t best = 0;
  bool found = false;
  struct mntent entry;
  char work[4096];
  while (getmntent_r(f, &entry, work, sizeof work) != nullptr) {
    const std::size_t n = std::strlen(entry.mnt_dir);
    if (std::strncmp(resolved, entry.mnt_dir, n) != 0) continue;
    const bool boundary =
        n == 0 || entry.mnt_dir[n - 1] == '/' || resolved[n] == '/' || resolved[n] == '\0';
    if (!boundary) continue;
    if (!found || n >= best) {
      best = n;
      found = true;
      *device = entry.mnt_fsname;
      *type = entry.mnt_type;
    }
  }
  std::fclose(f);
  return found;
}

bool Resolve(const char* path, char* out) {
  return path != nullptr && realpath(path, out) != nullptr;
}

}  // namespace

char* GetOSVersionString(char* buffer, std::size_t size) {
  return OSVersion(buffer, size, false);
}

char* GetCompactOSVersionString(char* buffer, std::size_t size) {
  return OSVersion(buffer, size, true);
}

char* GetMachineHostName(char* buffer, std::size_t size) {
  // Room for the longest name the system allows; a cut name would name another host.
  char name[HOST_NAME_MAX + 2];
  if (gethostname(name, sizeof name - 1) != 0) name[0] = '\0';
  name[sizeof name - 1] = '\0';
  return CopyCut(buffer, size, name);
}

char* GetExeProcessorArchitecture(char* buffer, std::size_t size) {
  return CopyCut(buffer, size, kArchitectures[kBuildRow].name);
}

char* GetNativeProcessorArchitecture(char* buffer, std::size_t size) {
  const char* name = IsX86_64() ? "X86_64" : IsIA64() ? "IA64" : "X86";
  return CopyCut(buffer, size, name);
}

char* GetOSProcessorArchitecture(char* buffer, std::size_t size) {
  const char* name = kArchitectures[kBuildRow].name;
  struct utsname u;
  if (uname(&u) == 0) {
    const std::string m = u.machine;
    if (m == "x86_64") {
      name = "X86_64";
    } else if (m == "ia64") {
      name = "IA64";
    } else if (m == "i686" || m == "i586" || m == "i486" || m == "i386") {
      name = "X86";
    }
  }
  return CopyCut(buffer, size, name);
}

bool same_endian_as_current(const char* architecture, const char* os, bool* found) {
  bool dummy;
  bool& f = found != nullptr ? *found : dummy;
  f = false;
  const char* arch = architecture != nullptr ? architecture : "";
  const char* os_text = os != nullptr ? os : "";
  if (std::strstr(arch, kArchitectures[kBuildRow].name) != nullptr) {
    f = true;
    return true;
  }
  const bool we_are_big = kArchitectures[kBuildRow].big_endian;
  for (int row = 0; row < kArchitectureCount; ++row) {
    if (row == kBuildRow || std::strstr(arch, kArchitectures[row].name) == nullptr) continue;
    f = true;
    // IA64 under HP-UX runs big-endian.
    if (row == 1 && std::strstr(os_text, "HP-UX") != nullptr) return we_are_big;
    return kArchitectures[row].big_endian == we_are_big;
  }
  if (std::strstr(os_text, "Linux") != nullptr) {
    f = true;
    return true;
  }
  return false;
}

const CPUIDInfo& GetCPUIDInfo() {
  if (!g_cpuid_info.initialized) FillCPUIDInfo();
  return g_cpuid_info;
}

bool CPUIDSupported() { return GetCPUIDInfo().supported; }

bool GetCPUID(std::uint32_t leaf, std::uint32_t sub_leaf, std::uint32_t registers[4]) {
  const CPUIDInfo& info = GetCPUIDInfo();
  if (!info.supported) return false;
  if (leaf < 0x80000000u ? leaf > info.max_basic_leaf : leaf > info.max_extended_leaf)
    return false;
#if defined(__x86_64__) || defined(__i386__)
  unsigned a, b, c, d;
  __cpuid_count(leaf, sub_leaf, a, b, c, d);
  registers[0] = a;
  registers[1] = b;
  registers[2] = c;
  registers[3] = d;
  return true;
#else
  (void)sub_leaf;
  (void)registers;
  return false;
#endif
}

bool GetCPUID(std::uint32_t leaf, std::uint32_t registers[4]) {
  return GetCPUID(leaf, 0, registers);
}

bool GetCPUBrandString(char* buffer, std::size_t size) {
  if (buffer == nullptr || size < 49) return false;
  std::uint32_t r[4];
  for (std::uint32_t i = 0; i < 3; ++i) {
    if (!GetCPUID(0x80000002u + i, r)) return false;
    std::memcpy(buffer + 16 * i, r, 16);
  }
  buffer[48] = '\0';
  return true;
}

bool IsIntelCPU() { return VendorIs("GenuineIntel"); }
bool IsAMDCPU() { return VendorIs("AuthenticAMD"); }
bool IsSSE2Supported() { return FeatureBit(1, 3, 26); }
bool IsCX8Supported() { return FeatureBit(1, 3, 8); }
bool IsIA64() { return FeatureBit(1, 3, 30); }
bool IsX86_64() { return FeatureBit(0x80000001u, 3, 29); }

struct passwd* unix_getpwuid(uid_t uid, struct passwd* record, char* buffer, std::size_t size) {
  struct passwd* result = nullptr;
  if (record == nullptr || buffer == nullptr) return nullptr;
  if (getpwuid_r(uid, record, buffer, size, &result) != 0) return nullptr;
  return result;
}

bool ut_GetUserName(char* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return false;
  buffer[0] = '\0';
  struct passwd record;
  char work[300];
  struct passwd* pw = unix_getpwuid(getuid(), &record, work, sizeof work);
  if (pw == nullptr || pw->pw_name == nullptr || pw->pw_name[0] == '\0') return false;
  if (std::strlen(pw->pw_name) >= size) return false;
  std::strcpy(buffer, pw->pw_name);
  return true;
}

bool get_user_home_directory(char* buffer, std::size_t size, bool true_home) {
  if (buffer == nullptr || size == 0) return false;
  buffer[0] = '\0';
  if (!true_home) {
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') {
      if (StoreHome(home, buffer, size)) return true;
      buffer[0] = '\0';
      return std::strcmp(home, "/") == 0;  // "/" alone is a value: the empty text
    }
  }
  struct passwd record;
  char work[1024];
  struct passwd* pw = unix_getpwuid(getuid(), &record, work, sizeof work);
  if (pw == nullptr || pw->pw_dir == nullptr || pw->pw_dir[0] == '\0') return false;
  if (StoreHome(pw->pw_dir, buffer, size)) return true;
  buffer[0] = '\0';
  return std::strcmp(pw->pw_dir, "/") == 0;
}

bool get_true_user_home_directory(char* buffer, std::size_t size) {
  return get_user_home_directory(buffer, size, true);
}

int UTFileBitnessInfo::getBitness(const char* path) {
  if (path == nullptr) return 0;
  int fd = _posix_open(path, O_RDONLY, 0);
  if (fd < 0) return 0;
  unsigned char header[52];
  const std::int64_t n = _posix_read(fd, header, sizeof header);
  _posix_close(fd);
  if (n < 5) return 0;
  if (header[0] != 0x7F || header[1] != 'E' || header[2] != 'L' || header[3] != 'F') return 0;
  if (header[4] == 1) return 32;
  if (header[4] == 2) return 64;
  return 0;
}

namespace vq::base {

int GetDriveFrom(const char* path, const char* mtab, const char* partitions) {
  char resolved[PATH_MAX];
  if (!Resolve(path, resolved)) return -1;
  std::string device, type;
  if (!FindMount(resolved, mtab, &device, &type)) return -1;
  if (device.compare(0, 5, "/dev/") != 0) return -1;
  const std::string device_name = device.substr(5);

  std::FILE* f = _posix_fopen(partitions, "r");
  if (f == nullptr) return -1;
  char line[512];
  int skipped = 0;
  while (skipped < 2 && std::fgets(line, sizeof line, f) != nullptr) ++skipped;
  int result = -1;
  bool have_previous = false;
  unsigned previous_major = 0;
  int ordinal = 0;
  std::string disk;
  while (std::fgets(line, sizeof line, f) != nullptr) {
    unsigned major = 0, minor = 0;
    unsigned long long blocks = 0;
    char name[256];
    if (std::sscanf(line, "%u %u %llu %255s", &major, &minor, &blocks, name) != 4) continue;
    const bool same_major = have_previous && major == previous_major;
    if (device_name == name) {
      result = same_major ? static_cast<int>((major << 16) | static_cast<unsigned>(ordinal + 1))
                          : static_cast<int>(major << 16);
      break;
    }
    if (!disk.empty() && std::strncmp(name, disk.c_str(), disk.size()) == 0) {
      // A partition of the current disk.
    } else {
      disk = name;
      ordinal = same_major ? ordinal + 1 : 0;
    }
    previous_major = major;
    have_previous = true;
  }
  std::fclose(f);
  return result;
}

int DriveTypeForDevice(unsigned major, char kind) {
  struct Row {
    int block, character, other;
  };
  static constexpr unsigned kFixedMajors[] = {9, 12, 37, 206};
  static constexpr unsigned kOpticalMajors[] = {11, 15, 16, 17, 18, 20, 23,
                                                24, 25, 26, 27, 28, 29, 32};
  auto in = [major](const auto& majors) {
    for (unsigned m : majors) {
      if (m == major) return true;
    }
    return false;
  };
  Row row{kDriveFixed, kDriveUnknown, kDriveUnknown};
  if (major == 1) {
    row = {kDriveRamDisk, kDriveUnknown, kDriveUnknown};
  } else if (major == 2) {
    row = {kDriveRemovable, kDriveUnknown, kDriveUnknown};
  } else if (in(kFixedMajors)) {
    row = {kDriveFixed, kDriveRemovable, kDriveUnknown};
  } else if (in(kOpticalMajors)) {
    row = {kDriveCD, kDriveRemovable, kDriveRemovable};
  }
  return kind == 'B' ? row.block : kind == 'C' ? row.character : row.other;
}

int GetDriveTypeFrom(const char* path, const char* mtab) {
  char resolved[PATH_MAX];
  if (!Resolve(path, resolved)) return kDriveUnresolved;
  std::string device, type;
  if (!FindMount(resolved, mtab, &device, &type)) return kDriveUnknown;
  // stat directly: the file wrappers' status record carries no device number (st_rdev).
  struct stat st;
  if (stat(device.c_str(), &st) != 0) {
    return (type == "nfs" || type == "smb" || type == "smbfs") ? kDriveRemote : kDriveUnknown;
  }
  const char kind = S_ISBLK(st.st_mode) ? 'B' : S_ISCHR(st.st_mode) ? 'C' : '-';
  return DriveTypeForDevice(major(st.st_rdev), kind);
}

}  // namespace vq::base

int get_drive(const char* path) {
  return vq::base::GetDriveFrom(path, "/etc/mtab", "/proc/partitions");
}

int get_drive_type_for_filename(const char* path) {
  return vq::base::GetDriveTypeFrom(path, "/etc/mtab");
}

bool drive_type_prop(const char* path, char* buffer, std::size_t size) {
  static const char* const kNames[] = {"",          "UNKNOWN", "CD",     "REMOTE",
                                       "REMOVABLE", "FIXED",   "RAMDISK"};
  const int type = get_drive_type_for_filename(path);
  if (type <= kDriveUnresolved || type > kDriveRamDisk) return false;
  CopyCut(buffer, size, kNames[type]);
  return true;
}

bool IsThreaded() {
  // 0 unknown, 1 no, 2 yes.
  static std::atomic<int> cached{0};
  int state = cached.load();
  if (state == 0) {
    state = 1;
    if (void* self = UTLoadLibrary(nullptr)) {  // the main program
      using SelfFn = pthread_t (*)();
      auto fn = reinterpret_cast<SelfFn>(UTGetProcAddress(self, "pthread_self"));
      if (fn != nullptr && fn() != 0) state = 2;
      UTUnloadLibrary(self);
    }
    cached.store(state);
  }
  return state == 2;
}

void ODBCThreadMain() {}

void VCFileVersion::set(int major, int minor, int release, int build) {
  major_ = major;
  minor_ = minor;
  release_ = release;
  build_ = build;
}

bool VCFileVersion::set(const char* text) {
  int a, b, c, d;
  if (text == nullptr || std::sscanf(text, "%i.%i.%i.%i", &a, &b, &c, &d) != 4) return false;
  set(a, b, c, d);
  return true;
}

bool VCFileVersion::set_from_file(const char* path) {
  int a, b, c, d;
  if (GetVSRUnixVer(path, &a, &b, &c, &d) == 0) return false;
  set(a, b, c, d);
  return true;
}

const char* VCFileVersion::as_string() {
  std::snprintf(text_, sizeof text_, "%i.%i.%i.%i", major_, minor_, release_, build_);
  return text_;
}
