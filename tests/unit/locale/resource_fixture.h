// Writes message resource files for tests, independently of the build's generator,
// into a temporary directory that is removed with the fixture.
#ifndef VQ_TESTS_UNIT_LOCALE_RESOURCE_FIXTURE_H
#define VQ_TESTS_UNIT_LOCALE_RESOURCE_FIXTURE_H

#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace resfix {

using Messages = std::map<std::uint32_t, std::string>;
using Widths = std::array<std::uint8_t, 4>;

inline void PutU32(std::vector<unsigned char>& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// The bytes of a resource file holding `messages`, indexed with `widths`.
inline std::vector<unsigned char> Build(const Messages& messages,
                                        Widths widths = {8, 8, 0, 0}) {
  std::vector<unsigned char> out(20, 0);
  std::vector<int> levels;
  for (auto w : widths) {
    if (w == 0) break;
    levels.push_back(w);
  }
  auto table = [&out](int width) {
    std::size_t at = out.size();
    out.resize(at + 4 * (std::size_t{1} << width), 0);
    return at;
  };
  std::size_t root = table(levels[0]);
  for (const auto& [id, text] : messages) {
    int shift = 16;
    std::size_t tab = root;
    for (std::size_t d = 0; d < levels.size(); ++d) {
      shift -= levels[d];
      std::size_t slot = tab + 4 * ((id >> shift) & ((1u << levels[d]) - 1));
      std::uint32_t entry = out[slot] | out[slot + 1] << 8 | out[slot + 2] << 16 |
                            static_cast<std::uint32_t>(out[slot + 3]) << 24;
      if (d + 1 < levels.size()) {
        if (entry == 0) {
          entry = static_cast<std::uint32_t>(table(levels[d + 1]));
          PutU32(out, slot, entry);
        }
        tab = entry;
      } else {
        std::size_t leaf = out.size();
        out.push_back(static_cast<unsigned char>(text.size() & 0xFF));
        out.push_back(static_cast<unsigned char>(text.size() >> 8));
        out.insert(out.end(), text.begin(), text.end());
        PutU32(out, slot, static_cast<std::uint32_t>(leaf));
      }
    }
  }
  PutU32(out, 0, 0x4F534552u);
  PutU32(out, 4, 0x12345678u);
  PutU32(out, 8, 0);
  for (int i = 0; i < 4; ++i) out[12 + i] = widths[i];
  PutU32(out, 16, static_cast<std::uint32_t>(root));
  return out;
}

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/vq_res_XXXXXX";
    const char* made = mkdtemp(tmpl);
    path_ = made != nullptr ? made : "/tmp";
  }
  ~TempDir() {
    std::string cmd = "rm -rf '" + path_ + "'";
    if (path_ != "/tmp") (void)std::system(cmd.c_str());
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string Write(const std::string& name, const std::vector<unsigned char>& bytes) const {
    std::string file = path_ + "/" + name;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return file;
  }

 private:
  std::string path_;
};

}  // namespace resfix

#endif  // VQ_TESTS_UNIT_LOCALE_RESOURCE_FIXTURE_H
