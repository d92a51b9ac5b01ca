// The ini-file store tests' helpers: a temporary directory removed with its contents,
// whole-file reads and writes, and one entry's value read through a store.
#ifndef VQ_TESTS_INI_STORE_FIXTURE_H
#define VQ_TESTS_INI_STORE_FIXTURE_H

#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "config/ini_store.h"

namespace vq_test {
namespace ini {

class TempDir {
 public:
  TempDir() {
    char templ[] = "/tmp/vq_inistore_XXXXXX";
    path_ = mkdtemp(templ);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// The value of `key` in `section`, or "<no section>" / "<no key>".
inline std::string Value(c_cfg& store, const char* section, const char* key) {
  c_cfg_section* s = store.read_section(section);
  if (s == nullptr) return "<no section>";
  const char* v = s->get_value(key);
  std::string out = v != nullptr ? v : "<no key>";
  store.delete_section_object(s);
  return out;
}

}  // namespace ini
}  // namespace vq_test

#endif  // VQ_TESTS_INI_STORE_FIXTURE_H
