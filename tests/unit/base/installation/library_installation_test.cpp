// Libraries found in an installation tree that a test lays out under VCDIR. The program
// sits outside the build's own installation layout, where nothing is found beside it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "env_scope.h"
#include "temp_dir.h"
#include "utils/base/file_locations.h"
#include "utils/base/library_loader.h"

namespace fs = std::filesystem;

namespace {

TEST(LibraryInstallation, UnicodeStandInInAnInstallationTree) {
  EnvScope env;
  char path[4097];
  if (LS_QualifyVellumFile(2, "libvqicu12_r.so", path, sizeof path, &defaultQualifyCB) != 0) {
    GTEST_SKIP() << "found beside the test program already: " << path;
  }
  TempDir tmp;
  fs::create_directories(tmp.file("root/bin64"));
  fs::create_directories(tmp.file("root/lib64"));
  std::string elf32(64, '\0');
  elf32.replace(0, 7,
                "\x7F"
                "ELF\x01\x01\x01");
  tmp.write("root/bin64/libvqicu12_r.so", elf32);
  fs::copy_file(VQ_ICU_STANDIN, tmp.file("root/lib64/libvqicu12_r.so"));
  env.Set("VCDIR", tmp.file("root"));
  ASSERT_GT(LS_QualifyVellumFile(2, "libvqicu12_r.so", path, sizeof path, &defaultQualifyCB),
            0u);
  EXPECT_EQ(std::string(path), tmp.file("root/lib64/libvqicu12_r.so"));
  void* h = UTLoadQualifiedLibrary("libvqicu12_r.so");
  ASSERT_NE(h, nullptr);
  EXPECT_NE(UTGetProcAddress(h, "ucol_open_3_4"), nullptr);
  UTUnloadLibrary(h);
}

}  // namespace
