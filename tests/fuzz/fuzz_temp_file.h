// A private temporary directory for one fuzzing process: targets whose code under test
// reads files write each input there and nowhere else. The directory and what is left
// in it are removed when the process ends normally (a crash leaves them for a look).
#ifndef VQ_TESTS_FUZZ_FUZZ_TEMP_FILE_H
#define VQ_TESTS_FUZZ_FUZZ_TEMP_FILE_H

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace vq_fuzz {

inline std::string& TempDirPath() {
  static std::string dir;
  return dir;
}

// Removes a directory and everything below it.
inline void RemoveTree(const std::string& dir) {
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      const std::string path = dir + "/" + name;
      if (unlink(path.c_str()) != 0) RemoveTree(path);
    }
    closedir(d);
  }
  rmdir(dir.c_str());
}

inline void RemoveTempDir() {
  if (!TempDirPath().empty()) RemoveTree(TempDirPath());
}

// The directory, made on first use.
inline const std::string& TempDir() {
  std::string& dir = TempDirPath();
  if (dir.empty()) {
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                        "/vq_fuzz_XXXXXX";
    if (mkdtemp(templ.data()) == nullptr) std::abort();
    dir = templ;
    std::atexit(RemoveTempDir);
  }
  return dir;
}

// Writes `size` bytes to `name` inside the directory (replacing it) and gives its path.
inline std::string WriteTempFile(const char* name, const std::uint8_t* data, std::size_t size) {
  const std::string path = TempDir() + "/" + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size != 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  if (std::fclose(f) != 0) std::abort();
  return path;
}

}  // namespace vq_fuzz

#endif  // VQ_TESTS_FUZZ_FUZZ_TEMP_FILE_H
