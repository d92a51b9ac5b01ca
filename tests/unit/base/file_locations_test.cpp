#include "utils/base/file_locations.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "env_scope.h"
#include "temp_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr unsigned kPathBytes = 4097;

// ELF header bytes of a shared object: class (1 = 32-bit, 2 = 64-bit), byte order
// (1 = little-endian) and machine.
std::string ElfHeader(unsigned char elf_class, unsigned char data, unsigned machine) {
  std::string h(64, '\0');
  h[0] = 0x7F;
  h[1] = 'E';
  h[2] = 'L';
  h[3] = 'F';
  h[4] = static_cast<char>(elf_class);
  h[5] = static_cast<char>(data);
  h[6] = 1;
  h[16] = 3;  // shared object
  const unsigned char lo = machine & 0xFF, hi = (machine >> 8) & 0xFF;
  h[18] = static_cast<char>(data == 1 ? lo : hi);
  h[19] = static_cast<char>(data == 1 ? hi : lo);
  return h;
}
const std::string kElf32 = ElfHeader(1, 1, 3);       // i386
const std::string kElfArm64 = ElfHeader(2, 1, 183);  // 64-bit, another processor
const std::string kElfBig = ElfHeader(2, 2, 62);     // x86-64 number, big-endian

std::string Resolved(const std::string& path) {
  char buf[PATH_MAX];
  return realpath(path.c_str(), buf) != nullptr ? std::string(buf) : "<unresolved>";
}

// A temporary tree, a clean environment with HOME inside the tree, and helpers to
// plant files in it.
class Locations : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(tmp_.path().empty());
    home_ = Dir("home");
    env_.Set("HOME", home_);
  }
  void TearDown() override { _argv = nullptr; }

  std::string Path(const std::string& rel) const { return tmp_.file(rel); }
  std::string Dir(const std::string& rel) const {
    fs::create_directories(Path(rel));
    return Path(rel);
  }
  std::string Put(const std::string& rel, const std::string& content = "x") const {
    fs::create_directories(fs::path(Path(rel)).parent_path());
    return tmp_.write(rel, content);
  }
  // A real shared library of this build's word size.
  std::string PutLibrary(const std::string& rel) const {
    fs::create_directories(fs::path(Path(rel)).parent_path());
    fs::copy_file(VQ_PLAIN_FIXTURE, Path(rel), fs::copy_options::overwrite_existing);
    return Path(rel);
  }

  static std::string Qualify(int kind, const char* name) {
    char out[kPathBytes];
    std::memset(out, 'Z', sizeof out);
    const unsigned n = LS_QualifyVellumFile(kind, name, out, sizeof out, &defaultQualifyCB);
    EXPECT_EQ(n, std::strlen(out)) << name;
    return out;
  }

  TempDir tmp_;
  EnvScope env_;
  std::string home_;
};

TEST_F(Locations, InstallationRootFromVcdirOrVellum12) {
  const std::string long_value(4096, 'a');
  struct Case {
    const char* vcdir;
    const char* vellum12;
    std::string expected;
    bool too_long;
  } cases[] = {
      {"/opt/vq///", nullptr, "/opt/vq", false},
      {"/opt/vq", "/other", "/opt/vq", false},
      {nullptr, "/v12/", "/v12", false},
      {"/", nullptr, "", false},
      {nullptr, nullptr, "", false},
      {long_value.c_str(), nullptr, "", true},
      {long_value.c_str() + 1, nullptr, long_value.substr(1), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.vcdir != nullptr ? std::string(c.vcdir).substr(0, 20) : "(unset)");
    c.vcdir != nullptr ? env_.Set("VCDIR", c.vcdir) : env_.Unset("VCDIR");
    c.vellum12 != nullptr ? env_.Set("VELLUM12", c.vellum12) : env_.Unset("VELLUM12");
    char out[4096];
    std::memset(out, 'Z', sizeof out);
    errno = 0;
    GetInstallationRoot(out);
    EXPECT_EQ(out, c.expected);
    EXPECT_EQ(errno == ENAMETOOLONG, c.too_long);
  }
}

TEST_F(Locations, TovrakRootReadsOnlyTovrak) {
  char out[4096];
  env_.Set("VCDIR", "/opt/vq");
  GetTovrakInstallationRoot(out);
  EXPECT_STREQ(out, "");
  env_.Set("TOVRAK", "/opt/tovrak//");
  GetTovrakInstallationRoot(out);
  EXPECT_STREQ(out, "/opt/tovrak");
}

TEST_F(Locations, TempDirIsTheFirstVariableSet) {
  const std::string long_dir = "/" + std::string(300, 't');
  struct Case {
    const char* vctmp;
    const char* tmp;
    const char* tmpdir;
    const char* temp;
    unsigned size;
    std::string expected;
  } cases[] = {
      {nullptr, "/tmpab", nullptr, nullptr, 100, "/tmpab"},
      {nullptr, "/tmpab", nullptr, nullptr, 4, "/tm"},
      {"/vctmp", "/tmpab", "/tdir", "/temp", 100, "/vctmp"},
      {nullptr, nullptr, "/tdir", "/temp", 100, "/tdir"},
      {nullptr, nullptr, nullptr, "/temp", 100, "/temp"},
      {nullptr, nullptr, nullptr, nullptr, 100, ""},
      // Read whole, not cut at some internal buffer size.
      {long_dir.c_str(), nullptr, nullptr, nullptr, kPathBytes, long_dir},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected.substr(0, 20) + " size " + std::to_string(c.size));
    const char* names[] = {"VCTMP", "TMP", "TMPDIR", "TEMP"};
    const char* values[] = {c.vctmp, c.tmp, c.tmpdir, c.temp};
    for (int i = 0; i < 4; ++i) {
      values[i] != nullptr ? env_.Set(names[i], values[i]) : env_.Unset(names[i]);
    }
    char out[kPathBytes + 1];
    std::memset(out, 'Z', sizeof out);
    EXPECT_EQ(UTGetTempDir(out, c.size), c.expected.size());
    EXPECT_EQ(out, c.expected);
    EXPECT_EQ(out[c.size], 'Z');
  }
  env_.Set("TMP", "/tmpab");
  char untouched[4] = "abc";
  EXPECT_EQ(UTGetTempDir(untouched, 0), 0u);
  EXPECT_STREQ(untouched, "abc");
}

TEST_F(Locations, TempFilenameIsCreatedUniqueAndPrivate) {
  const std::string dir = Dir("t");
  env_.Set("VCTMP", dir + "/");
  char a[kPathBytes], b[kPathBytes];
  GetTempFilename(a, sizeof a, "vq");
  GetTempFilename(b, sizeof b, "vq");
  ASSERT_EQ(std::string(a).rfind(dir + "/vq", 0), 0u) << a;
  EXPECT_EQ(std::strlen(a), dir.size() + 1 + 2 + 6);
  EXPECT_STRNE(a, b);
  struct stat st;
  ASSERT_EQ(stat(a, &st), 0) << "the name is taken by a file that exists";
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 0);

  GetTempFilename(a, sizeof a, nullptr);
  EXPECT_EQ(std::string(a).rfind(dir + "/_T", 0), 0u) << a;
}

TEST_F(Locations, TempFilenameThatDoesNotFitLeavesNoFile) {
  const std::string dir = Dir("t");
  env_.Set("VCTMP", dir);
  char small[12];
  std::memset(small, 'Z', sizeof small);
  GetTempFilename(small, sizeof small, "vq");
  // "/tmp/vqXXXXXX" does not fit either.
  EXPECT_STREQ(small, "");
  EXPECT_TRUE(fs::is_empty(dir));

  char untouched[4] = "abc";
  GetTempFilename(untouched, 0, "vq");
  EXPECT_STREQ(untouched, "abc");
}

TEST_F(Locations, TempFilenameFallsBackToTmpWhenTheDirectoryIsUnusable) {
  env_.Set("VCTMP", Path("missing"));
  char out[kPathBytes];
  GetTempFilename(out, sizeof out, "vqloc");
  ASSERT_EQ(std::string(out).rfind("/tmp/vqloc", 0), 0u) << out;
  EXPECT_EQ(unlink(out), 0);
}

TEST_F(Locations, GetenvCopiesWithATerminatorInTheLastByte) {
  env_.Set("VCTMP", "/some/dir");
  char buf[6];
  EXPECT_EQ(ut_getenv("VCTMP", buf, sizeof buf), buf);
  EXPECT_STREQ(buf, "/some");
  char big[64];
  EXPECT_STREQ(ut_getenv("VCTMP", big, sizeof big), "/some/dir");
  EXPECT_EQ(ut_getenv("VCLOGDIR", big, sizeof big), nullptr);
}

// The search rules over an installation tree:
//   root/bin64/   a 32-bit library and the server executable
//   root/lib64/   the 64-bit library and an executable the server rows do not serve
//   root/res/     resource files (one of them a directory)
//   root/java/, root/scripts/, and a resource directly in the root
TEST_F(Locations, QualifyInInstallationTree) {
  Put("root/bin64/libvqlocprobe.so", kElf32);
  PutLibrary("root/lib64/libvqlocprobe.so");
  Put("root/bin64/vqloc-eng");
  Put("root/lib64/vqloc-eng2");
  Put("root/res/vqloc-msg.res");
  Dir("root/res/vqloc-dir");
  Put("root/vqloc-top.res");
  Put("root/java/vqloc.jar");
  Put("root/scripts/vqloc-script");
  Put("home/.vellumcrest12/vqloc-app.res");
  Put("home/.vellumcrest12/vqloc-app.ini");
  Put("root/lib64/vqloc-inst.ini");
  PutLibrary("home/.vellumcrest12/libvqlocapp.so");

  struct Case {
    int kind;
    const char* name;
    const char* expected;  // relative to the temporary directory; "" not found
  } cases[] = {
      {2, "libvqlocprobe.so", "root/lib64/libvqlocprobe.so"},  // bin64's is 32-bit
      {8, "vqloc-msg.res", "root/res/vqloc-msg.res"},
      {8, "vqloc-top.res", "root/vqloc-top.res"},
      {1, "vqloc-eng", "root/bin64/vqloc-eng"},
      {1, "vqloc-eng2", ""},
      {4, "vqloc.jar", "root/java/vqloc.jar"},
      {8, "vqloc.jar", ""},
      {1024, "vqloc-script", "root/scripts/vqloc-script"},
      {8, "vqloc-dir", ""},
      {8 | 128, "vqloc-dir", "root/res/vqloc-dir"},
      {8 | 512, "vqloc-msg.res", ""},
      {8, "vqloc-app.res", "home/.vellumcrest12/vqloc-app.res"},
      {64, "vqloc-app.ini", "home/.vellumcrest12/vqloc-app.ini"},
      {64, "vqloc-inst.ini", "root/lib64/vqloc-inst.ini"},
      {1, "vqloc-inst.ini", ""},
      {2, "libvqlocapp.so", ""},
      {8, "vqloc-none.res", ""},
      {8, "", ""},
  };
  for (const char* root_var : {"VCDIR", "VELLUM12"}) {
    env_.Unset("VCDIR");
    env_.Set(root_var, Path("root") + "///");
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(root_var) + " kind " + std::to_string(c.kind) + " " + c.name);
      EXPECT_EQ(Qualify(c.kind, c.name), *c.expected != '\0' ? Path(c.expected) : "");
    }
  }
}

// The build tree's layout: the root is the directory that holds the libraries and the
// server; data files sit in its res/ or in the sibling res/.
TEST_F(Locations, LibraryDirectoryAsRoot) {
  PutLibrary("inst/lib/libvqlocprobe.so");
  Put("inst/lib/vqloc-eng");
  Put("inst/lib/res/vqloc-a.res");
  Put("inst/res/vqloc-b.res");
  env_.Set("VCDIR", Path("inst/lib"));
  EXPECT_EQ(Qualify(2, "libvqlocprobe.so"), Path("inst/lib/libvqlocprobe.so"));
  EXPECT_EQ(Qualify(1, "vqloc-eng"), Path("inst/lib/vqloc-eng"));
  EXPECT_EQ(Qualify(8, "vqloc-a.res"), Path("inst/lib/res/vqloc-a.res"));
  EXPECT_EQ(Qualify(8, "vqloc-b.res"), Path("inst/lib/../res/vqloc-b.res"));
}

TEST_F(Locations, QualifySearchesPathVariablesInKindOrder) {
  PutLibrary("ld/libvqlocprobe.so");
  PutLibrary("path/libvqlocprobe.so");
  Put("ld/vqloc-both.res");
  Put("path/vqloc-both.res");
  Put("path/res/vqloc-sub.res");
  Put("ld/lib64/vqloc-sub2.res");
  Put("path/vqloc-only-path.res");
  env_.Set("LD_LIBRARY_PATH", "::\"" + Path("ld") + "\"");
  env_.Set("PATH", Path("nothing") + ":" + Path("path") + "/");
  struct Case {
    int kind;
    const char* name;
    const char* expected;
  } cases[] = {
      {2, "libvqlocprobe.so", "ld/libvqlocprobe.so"},
      {8, "vqloc-both.res", "path/vqloc-both.res"},
      {8, "vqloc-sub.res", "path/res/vqloc-sub.res"},
      {8, "vqloc-sub2.res", "ld/lib64/vqloc-sub2.res"},
      {1, "vqloc-sub2.res", ""},  // the lib64 rows do not serve the server executable
      {8 | 1024, "vqloc-only-path.res", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.kind) + " " + c.name);
    EXPECT_EQ(Qualify(c.kind, c.name), *c.expected != '\0' ? Path(c.expected) : "");
  }
}

TEST_F(Locations, LibrarySearchTakesOnlyThisBuildsWordSize) {
  Put("a32/libvqlocprobe.so", kElf32);
  Put("arm/libvqlocprobe.so", kElfArm64);
  Put("big/libvqlocprobe.so", kElfBig);
  Put("text/libvqlocprobe.so", "not a library");
  PutLibrary("good/libvqlocprobe.so");
  env_.Set("LD_LIBRARY_PATH", Path("a32") + ":" + Path("arm") + ":" + Path("big") + ":" +
                                  Path("text") + ":" + Path("good"));
  EXPECT_EQ(Qualify(2, "libvqlocprobe.so"), Path("good/libvqlocprobe.so"));

  // The same file kinds under the installation root's rows.
  env_.Unset("LD_LIBRARY_PATH");
  Put("root/libvqlocprobe.so", kElf32);
  Put("root/bin64/libvqlocprobe.so", kElfArm64);
  PutLibrary("root/lib64/libvqlocprobe.so");
  env_.Set("VCDIR", Path("root"));
  EXPECT_EQ(Qualify(2, "libvqlocprobe.so"), Path("root/lib64/libvqlocprobe.so"));

  // An absolute name is checked as well.
  EXPECT_EQ(Qualify(2, Path("a32/libvqlocprobe.so").c_str()), "");
  EXPECT_EQ(Qualify(2, Path("good/libvqlocprobe.so").c_str()), Path("good/libvqlocprobe.so"));
}

TEST_F(Locations, DefaultCallbackChecksOnlyLibraries) {
  const std::string f32 = Put("f32", kElf32);
  const std::string arm = Put("arm", kElfArm64);
  const std::string text = Put("text", "hello");
  const std::string good = PutLibrary("good.so");
  struct Case {
    int kind;
    std::string path;
    int expected;
  } cases[] = {
      {2, good, 1},      {2, f32, 0}, {2, arm, 0},  {2, text, 0}, {2, Path("no"), 0},
      {2 | 128, f32, 0}, {8, f32, 1}, {1, text, 1}, {64, arm, 1}, {4, Path("no"), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.kind) + " " + c.path);
    EXPECT_EQ(defaultQualifyCB(c.kind, c.path.c_str()), c.expected);
  }
}

// A library is never taken from the current directory because its plain name is
// there; a resource is, and a library is when a rule names the directory.
TEST_F(Locations, CurrentDirectoryOnlyByDesign) {
  const std::string cwd = Dir("cwd");
  PutLibrary("cwd/libvqlocprobe.so");
  PutLibrary("cwd/lib64/libvqlocprobe.so");
  PutLibrary("cwd/bin64/libvqlocprobe.so");
  Put("cwd/vqloc-cwd.res");
  Put("cwd/vqloc-prog");
  CwdScope in(cwd);
  ASSERT_TRUE(in.ok());

  EXPECT_EQ(Qualify(2, "libvqlocprobe.so"), "");
  EXPECT_EQ(Qualify(8, "vqloc-cwd.res"), "vqloc-cwd.res");
  // Other kinds take the name from the current directory in the path-variable search,
  // made absolute.
  EXPECT_EQ(Qualify(1, "vqloc-prog"), Resolved(cwd) + "/vqloc-prog");

  env_.Set("PATH", "/nonexistent-dir");
  EXPECT_EQ(Qualify(2, "libvqlocprobe.so"), "");

  // A program argument without a path is looked for on PATH only, never in the
  // current directory.
  char prog[] = "vqloc-prog";
  char* argv[] = {prog, nullptr};
  _argv = argv;
  EXPECT_EQ(Qualify(2, "libvqlocprobe.so"), "");
  _argv = nullptr;

  env_.Set("LD_LIBRARY_PATH", ".");
  EXPECT_EQ(Qualify(2, "libvqlocprobe.so"), "./libvqlocprobe.so");
  env_.Set("VCDIR", cwd);
  EXPECT_EQ(Qualify(2, "libvqlocprobe.so"), cwd + "/libvqlocprobe.so");
}

TEST_F(Locations, QualifyBesideTheProgramArgument) {
  PutLibrary("app/bin/libvqlocprobe.so");
  Put("app/bin/prog");
  Put("app/res/vqloc-msg.res");
  Dir("links");
  fs::create_symlink(Path("app/bin/prog"), Path("links/prog"));
  std::string arg = Path("links/prog");
  char* argv[] = {arg.data(), nullptr};
  _argv = argv;
  // The program's own directory first, then that of its resolved path.
  EXPECT_EQ(Qualify(2, "libvqlocprobe.so"), Path("app/bin/libvqlocprobe.so"));
  EXPECT_EQ(Qualify(8, "vqloc-msg.res"), Path("app/bin/../res/vqloc-msg.res"));
  EXPECT_EQ(Qualify(8 | 512, "vqloc-msg.res"), "");

  // A bare program name is found on PATH.
  char bare[] = "prog";
  char* argv2[] = {bare, nullptr};
  _argv = argv2;
  env_.Set("PATH", Path("app/bin"));
  EXPECT_EQ(Qualify(2, "libvqlocprobe.so"), Path("app/bin/libvqlocprobe.so"));
}

TEST_F(Locations, QualifyResultThatDoesNotFit) {
  Put("root/res/vqloc-msg.res");
  env_.Set("VCDIR", Path("root"));
  const std::string expected = Path("root/res/vqloc-msg.res");
  std::vector<char> out(expected.size() + 2, 'Z');
  EXPECT_EQ(LS_QualifyVellumFile(8, "vqloc-msg.res", out.data(),
                                 static_cast<unsigned>(expected.size()), &defaultQualifyCB),
            expected.size());
  EXPECT_EQ(out[0], 'Z');
  EXPECT_EQ(LS_QualifyVellumFile(8, "vqloc-msg.res", out.data(),
                                 static_cast<unsigned>(expected.size() + 1), &defaultQualifyCB),
            expected.size());
  EXPECT_EQ(std::string(out.data()), expected);
}

TEST_F(Locations, ExecutableNameAndDirectory) {
  char out[kPathBytes];
  const unsigned n = LS_GetExecFileName(out, sizeof out);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(Resolved(out), Resolved("/proc/self/exe"));
  char small[4] = "abc";
  EXPECT_EQ(LS_GetExecFileName(small, sizeof small), 0u);
  EXPECT_STREQ(small, "");
  EXPECT_EQ(LS_GetExecFileName(out, n), 0u) << "no room for the terminator";
  EXPECT_EQ(LS_GetExecFileName(nullptr, 10), 0u);

  char dir[kPathBytes];
  const unsigned d = LS_GetPathFromExecName(dir, sizeof dir);
  LS_GetExecFileName(out, sizeof out);
  ASSERT_GT(d, 0u);
  EXPECT_EQ(dir[d - 1], '/');
  EXPECT_EQ(std::string(out).substr(0, d), dir);
  EXPECT_EQ(std::string(out).find('/', d), std::string::npos);

  // The forms that take the caller's collation give the same answers.
  static char collation_object;
  UTCollation& os = *reinterpret_cast<UTCollation*>(&collation_object);
  char dir2[kPathBytes];
  EXPECT_EQ(LS_GetPathFromExecName(os, dir2, sizeof dir2), d);
  EXPECT_STREQ(dir2, dir);
  EXPECT_EQ(LS_GetExecFileName(os, dir2, sizeof dir2), n);
}

// The last resort of the file search: the directory of the loaded file that holds the
// code, a shared library or the program itself.
TEST_F(Locations, ModuleDirectoryOfALoadedLibraryAndOfTheProgram) {
  void* h = dlopen(VQ_PLAIN_FIXTURE, RTLD_NOW);
  ASSERT_NE(h, nullptr) << dlerror();
  const void* fn = dlsym(h, "vq_plain_function");
  ASSERT_NE(fn, nullptr);
  char dir[kPathBytes];
  const unsigned n = LS_GetModuleDirectory(fn, dir, sizeof dir);
  EXPECT_EQ(std::string(dir), Resolved(fs::path(VQ_PLAIN_FIXTURE).parent_path()) + "/");
  EXPECT_EQ(n, std::strlen(dir));
  char small[4] = "abc";
  EXPECT_EQ(LS_GetModuleDirectory(fn, small, sizeof small), 0u);
  EXPECT_STREQ(small, "");
  EXPECT_EQ(LS_GetModuleDirectory(fn, nullptr, 0), 0u);
  dlclose(h);

  // Linked into this program, the code's own directory is the program's.
  char exe_dir[kPathBytes];
  ASSERT_GT(LS_GetPathFromExecName(exe_dir, sizeof exe_dir), 0u);
  ASSERT_GT(LS_GetModuleDirectory(reinterpret_cast<const void*>(&LS_QualifyVellumFile), dir,
                                  sizeof dir),
            0u);
  EXPECT_EQ(std::string(dir), Resolved(exe_dir) + "/");

  // No file holds a null or a stack address.
  std::strcpy(dir, "x");
  EXPECT_EQ(LS_GetModuleDirectory(nullptr, dir, sizeof dir), 0u);
  EXPECT_STREQ(dir, "");
  int local = 0;
  EXPECT_EQ(LS_GetModuleDirectory(&local, dir, sizeof dir), 0u);
}

TEST_F(Locations, UserAppDataDirectory) {
  const std::string app = home_ + "/.vellumcrest12";
  char out[kPathBytes];
  EXPECT_EQ(LS_GetVellumUserAppDataPath(out, sizeof out, 0), 1u);
  EXPECT_EQ(out, app);
  EXPECT_FALSE(fs::exists(app)) << "not created without create";
  EXPECT_EQ(LS_GetVellumUserAppDataPath(out, sizeof out, 1), 1u);
  EXPECT_TRUE(fs::is_directory(app));
  EXPECT_EQ(LS_GetVellumUserAppDataPath(out, sizeof out, 1), 1u) << "exists already";
  EXPECT_EQ(LS_GetVellumUserAppDataPath(out, static_cast<unsigned>(app.size()), 0), 0u);
  EXPECT_STREQ(out, "");

  // A file in the way, or a home directory that cannot hold it.
  fs::remove(app);
  Put("home/.vellumcrest12", "file");
  EXPECT_EQ(LS_GetVellumUserAppDataPath(out, sizeof out, 1), 0u);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(LS_GetVellumUserAppDataPath(out, sizeof out, 0), 1u);
  env_.Set("HOME", Path("no/such/home"));
  EXPECT_EQ(LS_GetVellumUserAppDataPath(out, sizeof out, 1), 0u);
}

TEST_F(Locations, IniFilesInTheAppDataDirectory) {
  const std::string app = home_ + "/.vellumcrest12";
  char out[kPathBytes];
  EXPECT_EQ(LS_QualifyIniFile("vqloc.ini", 0, out, sizeof out), 0u);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(LS_PlaceIniFile("vqloc.ini", 1, out, sizeof out), app.size() + 10);
  EXPECT_EQ(out, app + "/vqloc.ini");
  Put("home/.vellumcrest12/vqloc.ini");
  EXPECT_EQ(LS_QualifyIniFile("vqloc.ini", 0, out, sizeof out), app.size() + 10);
  Dir("home/.vellumcrest12/vqloc-dir.ini");
  EXPECT_EQ(LS_QualifyIniFile("vqloc-dir.ini", 0, out, sizeof out), 0u);
  EXPECT_EQ(LS_PlaceIniFile("vqloc.ini", 0, out, static_cast<unsigned>(app.size() + 10)), 0u);
  EXPECT_STREQ(out, "");
}

TEST_F(Locations, DiagnosticDirectory) {
  const std::string cwd = Dir("cwd");
  CwdScope in(cwd);
  ASSERT_TRUE(in.ok());
  const std::string diag = Dir("diag");
  const std::string app_diag = home_ + "/.vellumcrest12/diagnostics";
  struct Case {
    const char* what;
    std::string vcdiagdir;  // empty: unset
    bool app_blocked;       // a file where the application-data directory goes
    std::string expected;
  } cases[] = {
      {"writable VCDIAGDIR", diag, false, diag},
      {"trailing slash", diag + "/", false, diag + "/"},
      {"VCDIAGDIR is a file", Put("a-file"), false, app_diag},
      {"VCDIAGDIR missing", Path("missing"), false, app_diag},
      {"unset", "", false, app_diag},
      {"no application-data directory", "", true, "."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(home_ + "/.vellumcrest12");
    if (c.app_blocked) Put("home/.vellumcrest12", "file");
    c.vcdiagdir.empty() ? env_.Unset("VCDIAGDIR") : env_.Set("VCDIAGDIR", c.vcdiagdir);
    char out[kPathBytes];
    EXPECT_EQ(LS_GetDiagnosticDir(out, sizeof out), c.expected.size());
    EXPECT_EQ(out, c.expected);
    EXPECT_TRUE(fs::is_directory(out));

    std::string file = c.expected + (c.expected.back() == '/' ? "" : "/") + "vq.dmp";
    EXPECT_EQ(LS_PlaceDiagnosticFile("vq.dmp", out, sizeof out), file.size());
    EXPECT_EQ(out, file);
    // Too small: the length, nothing written.
    char small[3] = "ab";
    EXPECT_EQ(LS_PlaceDiagnosticFile("vq.dmp", small, sizeof small), file.size());
    EXPECT_STREQ(small, "ab");
  }
}

TEST_F(Locations, BackupHistoryFile) {
  const std::string cwd = Dir("cwd");
  CwdScope in(cwd);
  ASSERT_TRUE(in.ok());
  const std::string logs = Dir("logs");
  char out[kPathBytes];
  env_.Set("VCLOGDIR", logs);
  EXPECT_EQ(LS_PlaceBackupHistoryFile("b.hist", out, sizeof out), logs.size() + 7);
  EXPECT_EQ(out, logs + "/b.hist");

  env_.Set("VCLOGDIR", Put("not-a-dir"));
  LS_PlaceBackupHistoryFile("b.hist", out, sizeof out);
  EXPECT_EQ(out, home_ + "/.vellumcrest12/b.hist");

  fs::remove_all(home_ + "/.vellumcrest12");
  Put("home/.vellumcrest12", "file");
  LS_PlaceBackupHistoryFile("b.hist", out, sizeof out);
  EXPECT_STREQ(out, "./b.hist");
  EXPECT_EQ(LS_PlaceBackupHistoryFile("b.hist", out, 8), 0u);
  EXPECT_STREQ(out, "");
}

TEST_F(Locations, PlaceVellumFile) {
  const std::string cwd = Dir("cwd");
  CwdScope in(cwd);
  ASSERT_TRUE(in.ok());
  char out[kPathBytes], odbc[kPathBytes];
  EXPECT_GT(LS_PlaceVellumFile("vq.state", out, sizeof out), 0u);
  EXPECT_EQ(out, home_ + "/.vellumcrest12/vq.state");

  for (const char* odbcini : {"", "/etc/vq/odbc.ini"}) {
    SCOPED_TRACE(odbcini);
    *odbcini != '\0' ? env_.Set("ODBCINI", odbcini) : env_.Unset("ODBCINI");
    const unsigned n = LS_PlaceVellumFile(".odbc.ini", out, sizeof out);
    EXPECT_EQ(n, LS_PlaceOdbcIniFile(".odbc.ini", odbc, sizeof odbc));
    EXPECT_STREQ(out, odbc);
  }
  EXPECT_EQ(out, std::string("/etc/vq/odbc.ini"));

  // Without a usable application-data directory: the current directory, never the
  // root of the file system.
  fs::remove_all(home_ + "/.vellumcrest12");
  Put("home/.vellumcrest12", "file");
  EXPECT_EQ(LS_PlaceVellumFile("vq.state", out, sizeof out), 8u);
  EXPECT_STREQ(out, "vq.state");
}

TEST_F(Locations, OdbcIniFileSearch) {
  const std::string a = Put("a.ini");
  const std::string odbchome = Dir("odbchome");
  Put("odbchome/.odbc.ini");
  const std::string empty = Dir("empty");
  Put("home/.odbc.ini");
  // A path longer than any small buffer an environment value might be read into.
  const std::string deep = Put(std::string(120, 'd') + "/" + std::string(100, 'e') + ".ini");
  struct Case {
    const char* what;
    std::string odbcini, odbc_ini, odbchome, home;  // empty: unset
    int must_exist;
    std::string expected;
  } cases[] = {
      {"ODBCINI existing", a, Path("x"), odbchome, home_, 1, a},
      {"ODBCINI missing, ODBC_INI existing", Path("missing"), a, "", home_, 1, a},
      {"ODBCINI missing, need not exist", Path("missing"), a, "", home_, 0, Path("missing")},
      {"ODBCHOME", "", "", odbchome, home_, 1, odbchome + "/.odbc.ini"},
      {"ODBCHOME without file", "", "", empty, home_, 1, home_ + "/.odbc.ini"},
      {"ODBCHOME without file, need not exist", "", "", empty, home_, 0, empty + "/.odbc.ini"},
      {"HOME with trailing slash", "", "", "", home_ + "/", 1, home_ + "/.odbc.ini"},
      {"long ODBCINI read whole", deep, "", "", home_, 1, deep},
      {"ODBCINI longer than a path", "/" + std::string(5000, 'x'), "", "", home_, 0, ""},
      {"ODBCINI longer than a path, must exist", "/" + std::string(5000, 'x'), "", "", home_, 1,
       home_ + "/.odbc.ini"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::pair<const char*, std::string> vars[] = {{"ODBCINI", c.odbcini},
                                                        {"ODBC_INI", c.odbc_ini},
                                                        {"ODBCHOME", c.odbchome},
                                                        {"HOME", c.home}};
    for (const auto& [name, value] : vars) {
      value.empty() ? env_.Unset(name) : env_.Set(name, value);
    }
    char out[kPathBytes];
    EXPECT_EQ(LS_QualifyOdbcIniFile(".odbc.ini", out, sizeof out, c.must_exist),
              c.expected.size());
    EXPECT_EQ(out, c.expected);
  }
}

TEST_F(Locations, OdbcIniFileFromThePasswordDatabaseOrPath) {
  struct passwd* pw = getpwuid(getuid());
  ASSERT_NE(pw, nullptr);
  const std::string pw_file = std::string(pw->pw_dir) + "/vqloc-odbc.ini";
  ASSERT_FALSE(fs::exists(pw_file));
  env_.Unset("HOME");
  char out[kPathBytes];
  EXPECT_EQ(LS_QualifyOdbcIniFile("vqloc-odbc.ini", out, sizeof out, 0), pw_file.size());
  EXPECT_EQ(out, pw_file);
  EXPECT_EQ(LS_PlaceOdbcIniFile("vqloc-odbc.ini", out, sizeof out), pw_file.size());
  EXPECT_EQ(out, pw_file);

  // Must exist and is not in the home directory: the file is searched on PATH.
  EXPECT_EQ(LS_QualifyOdbcIniFile("vqloc-odbc.ini", out, sizeof out, 1), 0u);
  const std::string on_path = Put("bin/vqloc-odbc.ini");
  env_.Set("PATH", Path("nothing") + ":" + Path("bin"));
  EXPECT_EQ(LS_QualifyOdbcIniFile("vqloc-odbc.ini", out, sizeof out, 1), on_path.size());
  EXPECT_EQ(out, on_path);
}

TEST_F(Locations, PlaceOdbcIniFileOrder) {
  char out[kPathBytes];
  env_.Set("HOME", "/h");
  EXPECT_EQ(LS_PlaceOdbcIniFile("odbc.ini", out, sizeof out), 11u);
  EXPECT_STREQ(out, "/h/odbc.ini");
  env_.Set("ODBCHOME", "/oh");
  LS_PlaceOdbcIniFile("odbc.ini", out, sizeof out);
  EXPECT_STREQ(out, "/oh/odbc.ini");
  env_.Set("ODBC_INI", "/o/x.ini");
  LS_PlaceOdbcIniFile("odbc.ini", out, sizeof out);
  EXPECT_STREQ(out, "/o/x.ini");
  env_.Set("ODBCINI", "/i/y.ini");
  LS_PlaceOdbcIniFile("odbc.ini", out, sizeof out);
  EXPECT_STREQ(out, "/i/y.ini");
  EXPECT_EQ(LS_PlaceOdbcIniFile("odbc.ini", out, 8), 0u) << "never a cut path";
  EXPECT_STREQ(out, "");
}

TEST_F(Locations, ClassPathSearch) {
  const std::string cwd = Dir("cwd");
  CwdScope in(cwd);
  ASSERT_TRUE(in.ok());
  const std::string jar = Put("lib/vqloc.jar");
  Put("classes/vqloc.class");
  Put("classes/vqloc.txt");
  Dir("classes/dir.jar");
  Put("cwd/vqloc-local.ZIP");
  Put("root/java/vqloc-inst.jar");
  env_.Set("VCDIR", Path("root"));
  const std::string cp = "::" + Path("classes") + ":" + jar;
  struct Case {
    const char* name;
    std::string classpath;
    std::string expected;
  } cases[] = {
      {"vqloc.jar", cp, jar},  // the element itself holds the name
      {"vqloc.class", cp, Path("classes/vqloc.class")},
      {"VQLOC.CLASS", cp, ""},
      {"vqloc.txt", cp, ""},  // not a class file or archive
      {"dir.jar", cp, ""},
      {"vqloc-local.ZIP", cp, "vqloc-local.ZIP"},
      {"vqloc-inst.jar", "", Path("root/java/vqloc-inst.jar")},
      {"", cp, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char out[kPathBytes];
    EXPECT_EQ(LS_QualifyFileWithClassPath(
                  c.name, c.classpath.empty() ? nullptr : c.classpath.c_str(), out, sizeof out),
              c.expected.size());
    EXPECT_EQ(out, c.expected);
  }
  char small[4];
  EXPECT_EQ(LS_QualifyFileWithClassPath("vqloc.jar", cp.c_str(), small, sizeof small), 0u);
}

TEST_F(Locations, LocationSpecsAreEmpty) {
  char out[8] = "xxxxxxx";
  EXPECT_EQ(LS_GetLocationSpec(out, sizeof out), 0u);
  EXPECT_STREQ(out, "");
  std::strcpy(out, "xxxxxxx");
  EXPECT_EQ(LS_GetLocationCESpec(out, sizeof out), 0u);
  EXPECT_STREQ(out, "");
}

}  // namespace
