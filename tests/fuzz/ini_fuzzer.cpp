// Fuzz target of the ini-file store reading a file: any bytes, plain and scrambled by the
// whole-file codec, give a section list whose every section can be read back with its
// entries, and both forms of one text read alike.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/ini_obfuscation.h"
#include "config/ini_store.h"
#include "fuzz_temp_file.h"
#include "utils/base/memory.h"

namespace {
void Check(bool condition) {
  if (!condition) std::abort();
}

struct Seen {
  int flag = 0;
  std::vector<std::string> lines;  // "[name]" and "key=value" in file order
};

Seen ReadStore(const std::string& path) {
  Seen seen;
  c_cfg_inifile store(path.c_str(), false, 0, false, CFG_DS_NO_INI_DIR, 0);
  Check(store.open_read_only());
  seen.flag = store.obfuscation_flag();
  c_cfg_name_list* names = store.list_sections();
  Check(names != nullptr);
  unsigned listed = 0;
  for (c_utils_iter<c_cfg_name> it(*names); !it.at_end(); it.next()) {
    const char* name = it.element()->get_name();
    Check(name != nullptr);
    ++listed;
    seen.lines.push_back(std::string("[") + name + "]");
    c_cfg_section* section = store.read_section(name);
    Check(section != nullptr);
    std::size_t bytes = std::strlen(name) + 3 + 1;
    for (c_cfg_entry_iter e(section->entries); !e.at_end(); e.next()) {
      const char* key = e.element()->get_key();
      const char* value = e.element()->get_value();
      Check(key != nullptr && value != nullptr);
      seen.lines.push_back(std::string(key) + "=" + value);
      bytes += std::strlen(key) + 1 + std::strlen(value) + 1;
      // The first entry of a key answers a lookup by that key in any letter case.
      c_cfg_entry* first = section->find(key);
      Check(first != nullptr);
      Check(section->get_value(key) == first->get_value());
    }
    Check(section->get_size_in_file() == bytes);
    char* options = section->get_options();
    Check(options != nullptr);
    ut_free(options);
    c_cfg_section* copy = section->clone();
    Check(copy != nullptr && copy->get_size_in_file() == bytes);
    delete copy;
    store.delete_section_object(section);
  }
  Check(listed == store.section_count());
  delete names;
  store.close();
  return seen;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  const Seen plain = ReadStore(vq_fuzz::WriteTempFile("plain.ini", data, size));

  if (size == 0 || size >= kIniBlockMaxData) return 0;
  std::size_t room = 0;
  Check(!encryptIniFile(text, size, nullptr, &room, 1));
  Check(room == CCBBRT(size + 1));
  std::vector<char> block(room);
  std::size_t length = room;
  Check(encryptIniFile(text, size, block.data(), &length, 1));
  Check(length == room);
  const Seen scrambled = ReadStore(vq_fuzz::WriteTempFile(
      "scrambled.ini", reinterpret_cast<const std::uint8_t*>(block.data()), length));
  Check(scrambled.flag == kIniDataScrambled);
  // Texts without zero bytes that are not themselves blocks read alike in both forms.
  if (plain.flag == kIniDataPlain && std::memchr(data, 0, size) == nullptr) {
    Check(plain.lines == scrambled.lines);
  }
  return 0;
}
