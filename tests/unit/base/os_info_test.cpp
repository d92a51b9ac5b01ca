#include "utils/base/os_info.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "temp_dir.h"

namespace {

// Sets or clears HOME for one test and restores it afterwards.
class ScopedHome {
 public:
  explicit ScopedHome(const char* value) {
    if (const char* old = std::getenv("HOME")) old_ = old;
    if (value != nullptr) {
      setenv("HOME", value, 1);
    } else {
      unsetenv("HOME");
    }
  }
  ~ScopedHome() {
    if (old_) {
      setenv("HOME", old_->c_str(), 1);
    } else {
      unsetenv("HOME");
    }
  }

 private:
  std::optional<std::string> old_;
};

std::string PasswdHome() {
  struct passwd* pw = getpwuid(getuid());
  std::string home = pw != nullptr && pw->pw_dir != nullptr ? pw->pw_dir : "";
  if (!home.empty() && home.back() == '/') home.pop_back();
  return home;
}

TEST(OsInfo, OperatingSystemAndHostTexts) {
  struct utsname u;
  ASSERT_EQ(uname(&u), 0);
  const std::string full = std::string(u.sysname) + " " + u.release + " " + u.version;
  char buf[1024];
  EXPECT_EQ(std::string(GetOSVersionString(buf, sizeof buf)), full);
  EXPECT_EQ(std::string(GetCompactOSVersionString(buf, sizeof buf)), full + " " + u.machine);

  // Cut to the buffer and always terminated inside it.
  char small[8];
  std::memset(small, 0x7F, sizeof small);
  GetCompactOSVersionString(small, 6);
  EXPECT_EQ(std::string(small), full.substr(0, 5));
  EXPECT_EQ(small[6], 0x7F);

  char host[HOST_NAME_MAX + 1];
  ASSERT_EQ(gethostname(host, sizeof host), 0);
  EXPECT_STREQ(GetMachineHostName(buf, sizeof buf), host);
  GetMachineHostName(small, 3);
  EXPECT_EQ(std::string(small), std::string(host).substr(0, 2));
}

TEST(OsInfo, ArchitectureNames) {
  char buf[16];
#if defined(__x86_64__)
  EXPECT_STREQ(GetExeProcessorArchitecture(buf, sizeof buf), "X86_64");
  EXPECT_STREQ(GetNativeProcessorArchitecture(buf, sizeof buf), "X86_64");
#endif
  struct utsname u;
  ASSERT_EQ(uname(&u), 0);
  if (std::strcmp(u.machine, "x86_64") == 0) {
    EXPECT_STREQ(GetOSProcessorArchitecture(buf, sizeof buf), "X86_64");
  }
  char tiny[3];
  EXPECT_EQ(std::strlen(GetExeProcessorArchitecture(tiny, sizeof tiny)), 2u);
}

TEST(OsInfo, SameEndianAsCurrent) {
  struct Case {
    const char* arch;
    const char* os;
    bool same;
    bool found;
  } const cases[] = {
      {"X86_64", "Linux", true, true},      {"X86", "Windows", true, true},
      {"SPARC", "SunOS", false, true},      {"PPC", "AIX", false, true},
      {"PA_RISC", "HP-UX", false, true},    {"IA64", "HP-UX B.11", false, true},
      {"IA64", "Linux", true, true},        {"ARM", "", true, true},
      {"unknown", "Linux 6.1", true, true}, {"unknown", "Plan 9", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.arch) + " / " + c.os);
    bool found = !c.found;
    EXPECT_EQ(same_endian_as_current(c.arch, c.os, &found), c.same);
    EXPECT_EQ(found, c.found);
  }
}

#if defined(__x86_64__)
TEST(OsInfo, ProcessorQueries) {
  ASSERT_TRUE(CPUIDSupported());
  const CPUIDInfo& info = GetCPUIDInfo();
  EXPECT_TRUE(info.initialized);
  EXPECT_GE(info.max_basic_leaf, 1u);
  EXPECT_GE(info.max_extended_leaf, 0x80000001u);
  std::uint32_t r[4];
  EXPECT_TRUE(GetCPUID(0, r));
  EXPECT_FALSE(GetCPUID(info.max_basic_leaf + 1, r));
  EXPECT_FALSE(GetCPUID(info.max_extended_leaf + 1, r));
  // Every x86-64 processor has these.
  EXPECT_TRUE(IsX86_64());
  EXPECT_TRUE(IsSSE2Supported());
  EXPECT_TRUE(IsCX8Supported());
  EXPECT_FALSE(IsIntelCPU() && IsAMDCPU());

  char brand[64];
  EXPECT_FALSE(GetCPUBrandString(brand, 48));
  if (info.max_extended_leaf >= 0x80000004u) {
    std::memset(brand, 0x7F, sizeof brand);
    EXPECT_TRUE(GetCPUBrandString(brand, 49));
    EXPECT_LE(std::strlen(brand), 48u);
    EXPECT_EQ(brand[49], 0x7F);
  }
}
#endif

TEST(OsInfo, UserName) {
  struct passwd* pw = getpwuid(getuid());
  ASSERT_NE(pw, nullptr);
  char buf[256];
  ASSERT_TRUE(ut_GetUserName(buf, sizeof buf));
  EXPECT_STREQ(buf, pw->pw_name);
  const std::size_t n = std::strlen(pw->pw_name);
  EXPECT_TRUE(ut_GetUserName(buf, n + 1));
  EXPECT_FALSE(ut_GetUserName(buf, n));  // a cut name would be another user

  struct passwd record;
  char work[1024];
  ASSERT_EQ(unix_getpwuid(getuid(), &record, work, sizeof work), &record);
  EXPECT_STREQ(record.pw_name, pw->pw_name);
  EXPECT_EQ(unix_getpwuid(getuid(), &record, work, 1), nullptr);
}

TEST(OsInfo, HomeDirectoryFromEnvironment) {
  struct Case {
    const char* home;
    bool ok;
    const char* expected;
  } const cases[] = {
      {"/home/user", true, "/home/user"},
      {"/home/user/", true, "/home/user"},
      {"/a//", true, "/a/"},
      {"/", true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.home);
    ScopedHome home(c.home);
    char buf[64];
    EXPECT_EQ(get_user_home_directory(buf, sizeof buf, false), c.ok);
    EXPECT_STREQ(buf, c.expected);
  }
}

TEST(OsInfo, LongHomeIsRefusedNeverOverflows) {
  const std::string long_home = "/" + std::string(5000, 'h');
  ScopedHome home(long_home.c_str());
  // A guard region after the buffer shows any write beyond its size.
  char area[4097 + 64];
  std::memset(area, 0x7F, sizeof area);
  EXPECT_FALSE(get_user_home_directory(area, 4097, false));
  EXPECT_EQ(area[0], '\0');
  for (std::size_t i = 4097; i < sizeof area; ++i) ASSERT_EQ(area[i], 0x7F) << i;

  // Exactly fitting and one byte short.
  const std::string exact = "/" + std::string(14, 'e');  // 15 characters
  ScopedHome home2(exact.c_str());
  char buf[16];
  EXPECT_TRUE(get_user_home_directory(buf, 16, false));
  EXPECT_EQ(std::string(buf), exact);
  EXPECT_FALSE(get_user_home_directory(buf, 15, false));
  EXPECT_FALSE(get_user_home_directory(buf, 0, false));
}

TEST(OsInfo, TrueHomeIgnoresTheEnvironment) {
  const std::string expected = PasswdHome();
  if (expected.empty()) GTEST_SKIP() << "no password entry home";
  char buf[4097];
  {
    ScopedHome home("/somewhere/else");
    ASSERT_TRUE(get_true_user_home_directory(buf, sizeof buf));
    EXPECT_EQ(std::string(buf), expected);
  }
  {
    ScopedHome home(nullptr);  // unset: the password entry answers
    ASSERT_TRUE(get_user_home_directory(buf, sizeof buf, false));
    EXPECT_EQ(std::string(buf), expected);
  }
  {
    ScopedHome home("");  // empty counts as not set
    ASSERT_TRUE(get_user_home_directory(buf, sizeof buf, false));
    EXPECT_EQ(std::string(buf), expected);
  }
}

// The first bytes of an ELF header of the given class (1: 32-bit, 2: 64-bit).
std::string ElfHeader(unsigned char elf_class, std::size_t size) {
  std::string h(size, '\0');
  h[0] = 0x7F;
  h[1] = 'E';
  h[2] = 'L';
  h[3] = 'F';
  h[4] = static_cast<char>(elf_class);
  h[5] = 1;  // little-endian
  h[6] = 1;  // version
  return h;
}

TEST(OsInfo, ExecutableBitness) {
  TempDir dir;
  struct Case {
    const char* name;
    std::string content;
    int bits;
  } const cases[] = {
      {"32-bit header", ElfHeader(1, 52), 32},
      {"64-bit header", ElfHeader(2, 64), 64},
      {"64-bit, header cut after the class", ElfHeader(2, 5), 64},
      {"unknown class", ElfHeader(3, 64), 0},
      {"class 0", ElfHeader(0, 64), 0},
      {"not ELF", "#!/bin/sh\necho hello\n", 0},
      {"short",
       "\x7F"
       "EL",
       0},
      {"empty", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(UTFileBitnessInfo::getBitness(dir.write("f", c.content).c_str()), c.bits);
  }
  EXPECT_EQ(UTFileBitnessInfo::getBitness(dir.file("missing").c_str()), 0);
  EXPECT_EQ(UTFileBitnessInfo::getBitness(dir.path().c_str()), 0);
  EXPECT_EQ(UTFileBitnessInfo::getBitness("/proc/self/exe"), 64);
}

const char kPartitions[] =
    "major minor  #blocks  name\n"
    "\n"
    "   8        0   1000 sda\n"
    "   8        1    500 sda1\n"
    "   8        2    500 sda2\n"
    "   8       16   1000 sdb\n"
    "   8       17   1000 sdb1\n"
    " 259        0   1000 nvme0n1\n"
    " 259        1   1000 nvme0n1p1\n";

TEST(OsInfo, DriveNumberFromMountTableAndPartitions) {
  TempDir dir;
  const std::string data = dir.path() + "/data";
  const std::string fast = dir.path() + "/fast";
  const std::string over = dir.path() + "/over";
  const std::string datax = dir.path() + "/dataextra";
  for (const std::string& d : {data, fast, over, datax}) ASSERT_EQ(mkdir(d.c_str(), 0755), 0);
  char resolved[PATH_MAX];
  ASSERT_NE(realpath(dir.path().c_str(), resolved), nullptr);
  const std::string root = resolved;
  const std::string mtab = dir.write(
      "mtab", "/dev/sda2 / ext4 rw 0 0\n" + ("/dev/sdb1 " + root + "/data ext4 rw 0 0\n") +
                  ("/dev/nvme0n1 " + root + "/fast ext4 rw 0 0\n") +
                  ("overlay " + root + "/over overlay rw 0 0\n"));
  const std::string parts = dir.write("partitions", kPartitions);

  struct Case {
    std::string path;
    int drive;
  } const cases[] = {
      {"/", (8 << 16) | 1},                // sda2: first disk of major 8
      {data, (8 << 16) | 2},               // sdb1: second disk of major 8
      {data + "/../data", (8 << 16) | 2},  // resolved first
      {datax, (8 << 16) | 1},              // "/data" is not a prefix of "/dataextra"
      {fast, 259 << 16},                   // the line before has another major
      {over, -1},                          // not a /dev/ device
      {dir.file("missing"), -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(vq::base::GetDriveFrom(c.path.c_str(), mtab.c_str(), parts.c_str()), c.drive);
  }
  EXPECT_EQ(vq::base::GetDriveFrom("/", mtab.c_str(), dir.file("none").c_str()), -1);
  EXPECT_EQ(vq::base::GetDriveFrom("/", dir.file("none").c_str(), parts.c_str()), -1);
  // On this machine: a number or -1, never a crash.
  const int d = get_drive("/");
  EXPECT_TRUE(d == -1 || d >= (1 << 16)) << d;
}

TEST(OsInfo, DriveTypes) {
  struct Row {
    unsigned major;
    char kind;
    int type;
  } const rows[] = {
      {1, 'B', kDriveRamDisk}, {1, 'C', kDriveUnknown},     {2, 'B', kDriveRemovable},
      {9, 'B', kDriveFixed},   {206, 'C', kDriveRemovable}, {37, '-', kDriveUnknown},
      {11, 'B', kDriveCD},     {32, 'C', kDriveRemovable},  {20, '-', kDriveRemovable},
      {8, 'B', kDriveFixed},   {8, 'C', kDriveUnknown},     {19, 'B', kDriveFixed},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.major) + r.kind);
    EXPECT_EQ(vq::base::DriveTypeForDevice(r.major, r.kind), r.type);
  }

  TempDir dir;
  char resolved[PATH_MAX];
  ASSERT_NE(realpath(dir.path().c_str(), resolved), nullptr);
  const std::string root = resolved;
  struct Case {
    const char* device;
    const char* type;
    int drive_type;
  } const cases[] = {
      {"server:/export", "nfs", kDriveRemote}, {"//server/share", "smbfs", kDriveRemote},
      {"//server/share", "smb", kDriveRemote}, {"/dev/does-not-exist", "ext4", kDriveUnknown},
      {"/dev/null", "tmpfs", kDriveUnknown},  // a character device of major 1
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    const std::string mtab =
        dir.write("mtab", std::string(c.device) + " " + root + " " + c.type + " rw 0 0\n");
    EXPECT_EQ(vq::base::GetDriveTypeFrom(root.c_str(), mtab.c_str()), c.drive_type);
  }
  const std::string empty = dir.write("mtab", "");
  EXPECT_EQ(vq::base::GetDriveTypeFrom(root.c_str(), empty.c_str()), kDriveUnknown);
  EXPECT_EQ(vq::base::GetDriveTypeFrom(dir.file("missing").c_str(), empty.c_str()),
            kDriveUnresolved);

  char buf[16];
  EXPECT_FALSE(drive_type_prop(dir.file("missing").c_str(), buf, sizeof buf));
  EXPECT_TRUE(drive_type_prop("/", buf, sizeof buf));
  const std::string name = buf;
  EXPECT_TRUE(name == "UNKNOWN" || name == "CD" || name == "REMOTE" || name == "REMOVABLE" ||
              name == "FIXED" || name == "RAMDISK")
      << name;
}

TEST(OsInfo, ThreadedProcess) {
  EXPECT_TRUE(IsThreaded());
  EXPECT_TRUE(IsThreaded());  // from the cache
}

TEST(OsInfo, FileVersionText) {
  VCFileVersion v;
  EXPECT_STREQ(v.as_string(), "0.0.0.0");
  struct Case {
    const char* text;
    bool ok;
    const char* after;
  } const cases[] = {
      {"12.0.1.345", true, "12.0.1.345"},
      {"1.2.3", false, "12.0.1.345"},  // keeps the old value
      {"a.b.c.d", false, "12.0.1.345"},
      {"0x10.010.3.-4", true, "16.8.3.-4"},
  };
  v.set(12, 0, 1, 345);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(v.set(c.text), c.ok);
    EXPECT_STREQ(v.as_string(), c.after);
  }
  EXPECT_FALSE(v.set(static_cast<const char*>(nullptr)));
  v.set(INT_MIN, INT_MIN, INT_MIN, INT_MIN);
  EXPECT_EQ(std::strlen(v.as_string()), 31u);  // cut to its 32-byte buffer
  EXPECT_FALSE(v.set_from_file("/nonexistent/file"));
  EXPECT_STREQ(v.as_string(), "-2147483648.-2147483648.-214748");
}

}  // namespace
