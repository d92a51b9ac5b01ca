// Fuzz target of the version-information block reader: any file either has no block or
// parses into entries and fields that lie inside the record's copy of the data, which
// lookups, a clone and blanking in the file keep consistent.
#include <strings.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_temp_file.h"
#include "utils/base/version_block.h"

namespace {
void Check(bool condition) {
  if (!condition) std::abort();
}

bool Inside(const tc& r, const void* p, std::size_t bytes) {
  const char* c = static_cast<const char*>(p);
  return c >= r.data && c + bytes <= r.data + r.data_bytes;
}

void CheckRecord(const tc& r) {
  Check(r.entry_count <= kVersionMaxEntries);
  Check(r.extension_count <= kVersionMaxExtensions);
  Check(r.data_bytes <= kVersionDataBytes && r.data_used <= r.data_bytes);
  for (std::uint32_t i = 0; i < r.entry_count; ++i) {
    const a_version_entry& e = r.entries[i];
    Check(Inside(r, e.key, std::strlen(e.key) + 1));
    Check(Inside(r, e.value, std::strlen(e.value) + 1));
    if (e.equal != nullptr) Check(Inside(r, e.equal, 1) && *e.equal == '\0');
    if (e.equal != nullptr) (void)__Find_arg_safe(&r, e.key, nullptr);
  }
  for (std::uint32_t i = 0; i < r.extension_count; ++i) {
    const a_version_extension& x = r.extensions[i];
    Check(x.width >= 0);
    Check(Inside(r, x.letter, 1));
    Check(Inside(r, x.bytes, static_cast<std::size_t>(x.width)));
    (void)__Find_ext_index(&r, x.letter);
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = vq_fuzz::WriteTempFile("versioned.bin", data, size);
  auto record = std::make_unique<tc>();
  auto copy = std::make_unique<tc>();

  auto mem = std::make_unique<tc>();
  const std::int64_t at = __Get_dbversion_info_mem(data, size, mem.get());
  if (at >= 0) {
    Check(static_cast<std::uint64_t>(at) <= size);
    Check(mem->data_bytes <= kVersionDataBytes && at + mem->data_bytes <= size);
  }

  if (__Get_dbversion_info(path.c_str(), record.get(), 1) != 1) return 0;
  Check(at >= 0 && record->data_offset == at);
  CheckRecord(*record);
  (void)__Find_arg(record.get(), "VERSION_MAJOR");
  (void)__Find_arg_safe(record.get(), "EXTENSIONS", "none");
  __Clone_dbversion_info(record.get(), copy.get());
  CheckRecord(*copy);
  Check(copy->entry_count == record->entry_count &&
        copy->extension_count == record->extension_count);

  // Blanking the first entry other than EXTENSIONS and every field leaves a block that
  // still reads, with the same fields.
  const char* key = nullptr;
  const int extensions = __Find_arg_index(record.get(), "EXTENSIONS");
  for (std::uint32_t i = 0; i < record->entry_count && key == nullptr; ++i) {
    if (record->entries[i].equal == nullptr) continue;
    if (extensions >= 0 && strcasecmp(record->entries[i].key, "EXTENSIONS") == 0) continue;
    key = record->entries[i].key;
  }
  std::string letters;
  for (std::uint32_t i = 0; i < record->extension_count; ++i) {
    if (*record->extensions[i].letter != '\0') letters += *record->extensions[i].letter;
  }
  Check(__Zap_dbversion_info(path.c_str(), record.get(), key, letters.c_str()) == 1);
  auto again = std::make_unique<tc>();
  if (__Get_dbversion_info(path.c_str(), again.get(), 1) == 1) {
    CheckRecord(*again);
    Check(again->extension_count == record->extension_count);
  }
  int major = 0, minor = 0, patch = 0, build = 0;
  (void)GetVSRUnixVer(path.c_str(), &major, &minor, &patch, &build);
  return 0;
}
