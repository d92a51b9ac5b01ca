// A fresh directory under the system's temporary directory, removed with its
// contents when the test ends.
#ifndef VQ_TESTS_UNIT_BASE_TEMP_DIR_H
#define VQ_TESTS_UNIT_BASE_TEMP_DIR_H

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vqbaseXXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

  // Writes `content` to the file `name` and returns its path.
  std::string write(const std::string& name, const std::string& content) const {
    const std::string p = file(name);
    int fd = ::open(p.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (fd >= 0) {
      ssize_t ignored = ::write(fd, content.data(), content.size());
      (void)ignored;
      ::close(fd);
    }
    return p;
  }

  // The whole content of the file `path`, or "<missing>".
  static std::string read(const std::string& p) {
    int fd = ::open(p.c_str(), O_RDONLY);
    if (fd < 0) return "<missing>";
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return out;
  }

 private:
  std::string path_;
};

#endif  // VQ_TESTS_UNIT_BASE_TEMP_DIR_H
