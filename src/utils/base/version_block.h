// Version-information blocks in files.
//
// A block is the 16-byte tag "@@==Version==@1@" followed at once by a non-zero byte,
// then texts KEY=VALUE, each ended by a zero byte, the list ended by an empty text, and
// then an extension area of fixed-width fields named by the EXTENSIONS entry (items of
// a letter, a decimal width and an optional ":" or ","; "A8" is one 8-byte field A).
// A blanked entry is all bytes of value 1 and has no "="; a blanked field has "?" for
// its letter and zero bytes. Everything after the tag is limited to 4096 bytes.
//
// The parsed record holds a copy of the data; its entry and field pointers point into
// that copy, so a record is copied only with __Clone_dbversion_info.
#ifndef VQ_UTILS_BASE_VERSION_BLOCK_H
#define VQ_UTILS_BASE_VERSION_BLOCK_H

#include <cstddef>
#include <cstdint>

constexpr std::size_t kVersionTagBytes = 16;
constexpr std::size_t kVersionDataBytes = 4096;
constexpr std::uint32_t kVersionMaxEntries = 100;
constexpr std::uint32_t kVersionMaxExtensions = 32;

struct a_version_entry {
  char* key;    // the key text (bytes of value 1 when blanked)
  char* equal;  // where the "=" was (now a zero byte); null for a blanked entry
  char* value;  // the value text (empty for a blanked entry)
};

struct a_version_extension {
  char* letter;          // the field's letter inside the EXTENSIONS value
  std::int32_t width;    // bytes
  unsigned char* bytes;  // the field inside the extension area
};

struct tc {
  std::uint32_t entry_count;  // at most 100
  a_version_entry entries[kVersionMaxEntries];
  std::uint32_t extension_count;  // at most 32
  a_version_extension extensions[kVersionMaxExtensions];
  std::int64_t data_offset;       // file offset of the byte after the tag
  std::uint32_t data_bytes;       // bytes copied into data
  std::uint32_t data_used;        // entries, terminator and extension area
  unsigned char* extension_area;  // inside data
  char data[kVersionDataBytes];
};

extern "C" {

// Reads and parses the block of `file` into `record` (cleared first). Without
// `followLinks` a symbolic link, or a file whose link status cannot be read, is
// refused. 1 on success; 0 when there is no block, it is malformed (an entry cut by the
// end of the data, more than 100 entries, a misplaced "=", an extension field reaching
// past the data) or the file cannot be read.
int __Get_dbversion_info(const char* file, tc* record, int followLinks);

// Finds the tag in `buffer` (the tag and the byte after it must lie within it), copies
// up to 4096 bytes after it into record->data and sets record->data_bytes. Returns the
// offset of the data within the buffer, or -1. The data are not parsed.
std::int64_t __Get_dbversion_info_mem(const void* buffer, std::size_t length, tc* record);

// Index of the first entry whose key equals `key` regardless of case, or -1.
int __Find_arg_index(const tc* record, const char* key);
// That entry's value, or null.
const char* __Find_arg(const tc* record, const char* key);
// The value; when absent `fallback`; when that is null too, `key`.
const char* __Find_arg_safe(const tc* record, const char* key, const char* fallback);
// Index of the extension field whose letter is the first character of `letter`, or -1.
int __Find_ext_index(const tc* record, const char* letter);

// Blanks, in the file itself, the entry `key` (when given and present) and the
// extension fields named by the characters of `letters` (when given). `record` is the
// file's parsed block. 1 on success; 0 when the file cannot be opened read-write, holds
// fewer bytes at the block than the record's data, or the write falls short.
int __Zap_dbversion_info(const char* file, const tc* record, const char* key,
                         const char* letters);

// Copies a record and moves every pointer of the copy into the target's own data.
void __Clone_dbversion_info(const tc* source, tc* target);

// VERSION_MAJOR, VERSION_MINOR, VERSION_PATCH and BUILD_NUMBER of `file` (links
// followed; keys regardless of case; the later of two equal keys wins), as decimal
// numbers. 1 on success, 0 when the block cannot be read or one of them is missing.
int GetVSRUnixVer(const char* file, int* major, int* minor, int* patch, int* build);

}  // extern "C"

#endif  // VQ_UTILS_BASE_VERSION_BLOCK_H
