#include "utils/base/library_loader.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "env_scope.h"
#include "temp_dir.h"
#include "utils/base/file_locations.h"
#include "utils/base/os_info.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string>& TraceLines() {
  static std::vector<std::string> lines;
  return lines;
}
void Collect(const char* text) { TraceLines().push_back(text); }

class TraceScope {
 public:
  TraceScope() {
    TraceLines().clear();
    UTDumpDllNames(&Collect);
  }
  ~TraceScope() { UTDumpDllNames(nullptr); }
};

std::string Resolved(const std::string& path) {
  char buf[PATH_MAX];
  return realpath(path.c_str(), buf) != nullptr ? std::string(buf) : "<unresolved>";
}

TEST(LibraryLoader, MissingFileLeavesTheLoaderError) {
  const std::string missing = "/nonexistent-dir/libvqmissing.so";
  EXPECT_EQ(UTLoadLibrary(missing.c_str()), nullptr);
  char buf[512];
  ASSERT_EQ(UTGetLoadError(buf, sizeof buf), 1);
  EXPECT_NE(std::string(buf).find(missing), std::string::npos) << buf;
  EXPECT_EQ(UTGetLoadError(buf, sizeof buf), 0) << "reading the error clears it";
  EXPECT_STREQ(buf, "");

  EXPECT_EQ(UTLoadLibrary(missing.c_str()), nullptr);
  ASSERT_EQ(UTGetLoadError(buf, sizeof buf), 1);
  EXPECT_EQ(UTLoadLibrary(missing.c_str()), nullptr);
  char small[6];
  std::memset(small, 'Z', sizeof small);
  ASSERT_EQ(UTGetLoadError(small, sizeof small), 1);
  EXPECT_EQ(std::string(small), std::string(buf).substr(0, 5))
      << "cut, terminated in the last byte";
}

TEST(LibraryLoader, LoadLookUpAndUnload) {
  EXPECT_EQ(UTUnloadLibrary(nullptr), 0);
  void* h = UTLoadLibrary(VQ_VERSIONED_FIXTURE);
  ASSERT_NE(h, nullptr);
  using Fn = int (*)();
  auto fn = reinterpret_cast<Fn>(UTGetProcAddress(h, "vq_fixture_function"));
  ASSERT_NE(fn, nullptr);
  EXPECT_EQ(fn(), 42);
  EXPECT_EQ(UTGetProcAddress(h, "vq_no_such_function"), nullptr);
  EXPECT_EQ(UTUnloadLibrary(h), 0);
  EXPECT_TRUE(IsThreaded());
}

TEST(LibraryLoader, TraceNamesTheFileAndItsVersion) {
  TraceScope trace;
  void* versioned = UTLoadLibrary(VQ_VERSIONED_FIXTURE);
  void* plain = UTLoadLibrary(VQ_PLAIN_FIXTURE);
  EXPECT_EQ(UTLoadLibrary("/nonexistent-dir/libvqmissing.so"), nullptr);
  ASSERT_NE(versioned, nullptr);
  ASSERT_NE(plain, nullptr);
  ASSERT_EQ(TraceLines().size(), 2u) << "a failed load is not traced";
  EXPECT_EQ(TraceLines()[0],
            std::string("Loading DLL \"") + VQ_VERSIONED_FIXTURE + "\", 3.1.4.159");
  EXPECT_EQ(TraceLines()[1], std::string("Loading DLL \"") + VQ_PLAIN_FIXTURE +
                                 "\", (Version info not available)");

  UTDumpDllNames(nullptr);
  void* again = UTLoadLibrary(VQ_PLAIN_FIXTURE);
  EXPECT_EQ(TraceLines().size(), 2u) << "tracing is off";
  UTUnloadLibrary(again);
  UTUnloadLibrary(plain);
  UTUnloadLibrary(versioned);
}

// The Unicode stand-in is found by the library-search rules and loaded by name.
TEST(LibraryLoader, UnicodeStandInFoundAndLoadedByName) {
  EnvScope env;
  const std::string lib_dir = fs::path(VQ_ICU_STANDIN).parent_path().string();
  env.Set("VCDIR", lib_dir);
  char path[4097];
  ASSERT_GT(LS_QualifyVellumFile(2, "libvqicu12_r.so", path, sizeof path, &defaultQualifyCB),
            0u);
  EXPECT_EQ(Resolved(path), Resolved(VQ_ICU_STANDIN));

  TraceScope trace;
  void* h = UTLoadQualifiedLibrary("libvqicu12_r.so");
  ASSERT_NE(h, nullptr);
  EXPECT_NE(UTGetProcAddress(h, "ucnv_open_3_4"), nullptr);
  EXPECT_NE(UTGetProcAddress(h, "VSR_ucol_getSortKeyPrefix"), nullptr);
  ASSERT_EQ(TraceLines().size(), 1u);
  EXPECT_EQ(TraceLines()[0].rfind("Loading DLL \"", 0), 0u);
  UTUnloadLibrary(h);

  EXPECT_EQ(UTLoadQualifiedLibrary("libvqnosuchlib12_r.so"), nullptr);
}

// An installation tree: a 32-bit file of the same name earlier in the rows is passed
// over for the stand-in itself.

}  // namespace
