// Small platform queries: operating-system version and host name, processor
// architecture and CPUID, user name and home directory, the word size of an executable
// file, the drive a file lives on, whether the process runs threaded, and a four-part
// file version. Nothing here keeps state beyond a few process-wide caches, which are
// filled without a lock (filling one twice gives the same result).
//
// Every text result is cut to the caller's buffer and always terminated within it
// (a size of 0 writes nothing).
#ifndef VQ_UTILS_BASE_OS_INFO_H
#define VQ_UTILS_BASE_OS_INFO_H

#include <pwd.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

// uname system name, release and version, joined by single blanks.
char* GetOSVersionString(char* buffer, std::size_t size);
// The same followed by a blank and the uname machine field.
char* GetCompactOSVersionString(char* buffer, std::size_t size);
// The host name; an empty text when it cannot be read.
char* GetMachineHostName(char* buffer, std::size_t size);

// Processor architecture names: "X86", "IA64", "X86_64", "SPARC", "PPC", "ARM",
// "MIPS", "PA_RISC".
// The architecture this library was built for ("X86_64" for this build).
char* GetExeProcessorArchitecture(char* buffer, std::size_t size);
// What the processor can run: "X86_64", "IA64" or "X86" (from CPUID).
char* GetNativeProcessorArchitecture(char* buffer, std::size_t size);
// What the operating system runs, from the uname machine field; the build's
// architecture when the field is unknown or uname fails.
char* GetOSProcessorArchitecture(char* buffer, std::size_t size);
// Whether a machine described by an architecture text and an OS text has this build's
// byte order. *found tells whether the texts named a known architecture (or Linux).
bool same_endian_as_current(const char* architecture, const char* os, bool* found);

// What CPUID reports, filled when the library loads and again on demand.
struct CPUIDInfo {
  bool initialized;
  bool supported;
  std::uint32_t max_basic_leaf;     // highest leaf below 0x80000000
  std::uint32_t max_extended_leaf;  // highest leaf from 0x80000000 on (0x80000000 without)
};
const CPUIDInfo& GetCPUIDInfo();

bool CPUIDSupported();
// registers: EAX, EBX, ECX, EDX. False without CPUID or for a leaf above the highest
// basic (below 0x80000000) or extended (from 0x80000000 on) leaf.
bool GetCPUID(std::uint32_t leaf, std::uint32_t sub_leaf, std::uint32_t registers[4]);
bool GetCPUID(std::uint32_t leaf, std::uint32_t registers[4]);
// The 48-character brand string and a terminator; needs size >= 49.
bool GetCPUBrandString(char* buffer, std::size_t size);
bool IsIntelCPU();
bool IsAMDCPU();
bool IsSSE2Supported();
bool IsCX8Supported();
bool IsIA64();
bool IsX86_64();

// getpwuid_r into the caller's record and work buffer: the record, or null on error or
// when the user has no entry.
struct passwd* unix_getpwuid(uid_t uid, struct passwd* record, char* buffer, std::size_t size);
// Login name of the real user. False when there is none or it does not fit.
bool ut_GetUserName(char* buffer, std::size_t size);
// The user's home directory: with true_home false the HOME variable when set and not
// empty, else the password entry's; with true_home true always the password entry's.
// One trailing "/" is removed ("/" alone becomes empty). False when neither source
// gives a value or the value does not fit in `size` bytes (the buffer is then empty):
// a cut path would name another directory.
bool get_user_home_directory(char* buffer, std::size_t size, bool true_home);
bool get_true_user_home_directory(char* buffer, std::size_t size);

// Word size of an executable file from its ELF header: 32, 64, or 0 (unreadable, not
// ELF, or another class).
class UTFileBitnessInfo {
 public:
  static int getBitness(const char* path);
};

// Drive types of get_drive_type_for_filename.
enum : int {
  kDriveUnresolved = 0,
  kDriveUnknown = 1,
  kDriveCD = 2,
  kDriveRemote = 3,
  kDriveRemovable = 4,
  kDriveFixed = 5,
  kDriveRamDisk = 6,
};
// (major << 16) | (disk ordinal + 1) of the disk holding `path`, from the mount table
// and the kernel's partition list; -1 when it cannot be determined.
int get_drive(const char* path);
int get_drive_type_for_filename(const char* path);
// "CD", "REMOTE", "REMOVABLE", "FIXED", "RAMDISK" or "UNKNOWN"; false when the path
// cannot be resolved.
bool drive_type_prop(const char* path, char* buffer, std::size_t size);

// Whether the process runs with threads (pthread_self is present and answers).
bool IsThreaded();
void ODBCThreadMain();

// A four-part version number major.minor.release.build.
class VCFileVersion {
 public:
  VCFileVersion() = default;
  void set(int major, int minor, int release, int build);
  // Parses "%i.%i.%i.%i"; changes nothing and returns false unless all four are read.
  bool set(const char* text);
  // The version of a file from its version-information block; false when unreadable.
  bool set_from_file(const char* path);
  // "%i.%i.%i.%i" in the object's own 32-byte buffer.
  const char* as_string();

  int major() const { return major_; }
  int minor() const { return minor_; }
  int release() const { return release_; }
  int build() const { return build_; }

 private:
  int major_ = 0;
  int minor_ = 0;
  int release_ = 0;
  int build_ = 0;
  char text_[32] = {};
};

namespace vq::base {

// The drive queries over given mount-table and partition-list files (the public ones
// read "/etc/mtab" and "/proc/partitions").
int GetDriveFrom(const char* path, const char* mtab, const char* partitions);
int GetDriveTypeFrom(const char* path, const char* mtab);
// Drive type of a device by its major number and kind: 'B' block, 'C' character,
// anything else neither.
int DriveTypeForDevice(unsigned major, char kind);

}  // namespace vq::base

#endif  // VQ_UTILS_BASE_OS_INFO_H
