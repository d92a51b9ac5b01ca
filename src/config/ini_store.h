// The ini-file store behind the client's configuration files (server address cache, LDAP
// settings, ODBC data sources): an abstract store (c_cfg), its ini-file implementation
// over a small layer of file operations, and the section and entry objects callers read
// and write.
//
// The whole file is cached as an ordered list of sections and rebuilt when the file's
// status (modification and change times to the nanosecond, size, inode) changes. A store
// opened for update holds a lockf lock on the whole file until close; while it holds it,
// the cache is rebuilt from the file after the lock is taken and checked again before
// every rewrite, so a writer that waited for another process never writes back a stale
// copy. A rewrite replaces the file's text in place and is checked: when it cannot be
// written whole, the old text is put back and the rewrite reports false.
//
// Obfuscated files are read transparently; the store always writes plain text.
#ifndef VQ_CONFIG_INI_STORE_H
#define VQ_CONFIG_INI_STORE_H

#include <cstddef>
#include <cstdint>

#include "utils/base/list.h"
#include "vqtasks.h"

// Where a relative file name is looked for.
enum e_cfg_ds_dir : int {
  CFG_DS_INI_DIR = 0,       // the ini-file location rules, flag off
  CFG_DS_INI_DIR_FLAG = 1,  // the ini-file location rules, flag on
  CFG_DS_NO_INI_DIR = 2,    // skip the ini-file location rules
};

constexpr std::size_t kCfgMaxPath = 4096;  // bytes of a located path, terminator excluded

// One key=value entry of a section. Texts are owned (ut_alloc).
class c_cfg_entry : public c_utils_link {
 public:
  c_cfg_entry(const char* key, const char* value);
  c_cfg_entry(const char* key, std::size_t keyLength, const char* value,
              std::size_t valueLength);
  ~c_cfg_entry() override;

  const char* get_key() const noexcept { return key; }
  const char* get_value() const noexcept { return value; }
  void set_value(const char* text);

  char* key;    // never null
  char* value;  // never null
};

class c_cfg_entry_list : public c_utils_list<c_cfg_entry> {};

class c_cfg_entry_iter : public c_utils_iter<c_cfg_entry> {
 public:
  explicit c_cfg_entry_iter(c_cfg_entry_list& list) noexcept
      : c_utils_iter<c_cfg_entry>(list) {}
};

// A section name in a name list. The text is owned (ut_alloc).
class c_cfg_name : public c_utils_link {
 public:
  explicit c_cfg_name(const char* text);
  ~c_cfg_name() override;
  const char* get_name() const noexcept { return name; }

  char* name;
};

// A list of section names; deleting the list deletes its names.
class c_cfg_name_list : public c_utils_list<c_cfg_name> {
 public:
  ~c_cfg_name_list() override;
};

// A named list of entries; as a link it sits in a store's section cache.
class c_cfg_section_base : public c_utils_link {
 public:
  explicit c_cfg_section_base(const char* name);
  c_cfg_section_base(const char* name, std::size_t nameLength);
  ~c_cfg_section_base() override;  // deletes the entries

  c_cfg_entry_list entries;
  char* name;  // never null; compared without regard to case
};

class c_cfg_section : public c_cfg_section_base {
 public:
  explicit c_cfg_section(const char* name) : c_cfg_section_base(name) {}
  c_cfg_section(const char* name, std::size_t nameLength)
      : c_cfg_section_base(name, nameLength) {}

  const char* get_name() const noexcept { return name; }
  void set_name(const char* text);
  // The first entry whose key equals `key` without regard to case, or null.
  c_cfg_entry* find(const char* key);
  // The value of find(key), or null.
  const char* get_value(const char* key);
  // Replaces the value of the first entry with that key, or appends a new entry.
  void set_value(const char* key, const char* text);
  // The same with `number` written in decimal.
  void set_value(const char* key, std::uint32_t number);
  // Deletes the first entry with that key; false when there is none.
  bool delete_entry(const char* key);
  // A deep copy (new; free with delete or the store's delete_section_object).
  c_cfg_section* clone() const;
  // The keys in order, each ended by a zero byte, the block ended by an empty string.
  // From ut_alloc; the caller frees it with ut_free.
  char* get_options() const;
  // Bytes of the section in the written form: "[" name "]\n", "key=value\n" per entry,
  // and one empty line.
  std::size_t get_size_in_file() const;
};

// The abstract configuration store.
class c_cfg : public c_utils_base {
 public:
  ~c_cfg() override = default;
  // Opens for update (creating the file) and locks it; false when it cannot.
  virtual bool open() = 0;
  // Opens for reading without a lock.
  virtual bool open_read_only() = 0;
  // A new copy of the first section of that name (free with delete_section_object), or
  // null.
  virtual c_cfg_section* read_section(const char* name) = 0;
  virtual void delete_section_object(c_cfg_section* section) = 0;
  // Replaces every section of the same name with a copy of `section`, placed last, and
  // rewrites the file; the result is that of the rewrite.
  virtual bool write_section(const c_cfg_section* section) = 0;
  // A new list of the section names in file order (the caller deletes it), never null.
  virtual c_cfg_name_list* list_sections() = 0;
  // Removes every section of that name and rewrites the file; false when none was
  // present or the rewrite failed.
  virtual bool delete_section(const char* name) = 0;
  virtual void close() = 0;
  virtual const char* full_filename() const = 0;
  virtual void mutexGet() = 0;
  virtual void mutexGive() = 0;
};

// What the cache compares to decide whether the file changed: timestamps alone miss a
// rewrite within the file system's timestamp granularity when nothing else differs.
struct a_cfg_file_stamp {
  std::uint64_t device;
  std::uint64_t inode;
  std::int64_t size;        // bytes
  std::int64_t mtime;       // seconds
  std::int32_t mtime_nsec;  // nanoseconds within mtime
  std::int64_t ctime;       // seconds
  std::int32_t ctime_nsec;  // nanoseconds within ctime
  bool operator==(const a_cfg_file_stamp& o) const noexcept;
  bool operator!=(const a_cfg_file_stamp& o) const noexcept { return !(*this == o); }
};

// File operations of the store: open, read whole, status. Every call goes through the
// _posix_ file wrappers.
class c_cfg_fileops {
 public:
  explicit c_cfg_fileops(unsigned option) noexcept : option_word(option) {}
  virtual ~c_cfg_fileops();
  c_cfg_fileops(const c_cfg_fileops&) = delete;
  c_cfg_fileops& operator=(const c_cfg_fileops&) = delete;

  // Hooks over the whole file text on its way out (before a rewrite) and in (after a
  // read). `*buffer` is ut_malloc memory of `*length` bytes; a hook that replaces it frees
  // the old block with ut_free. False stops the rewrite or the read. Here both keep the
  // text as it is.
  virtual bool massage_outbound_data(char** buffer, std::size_t* length);
  virtual bool massage_inbound_data(char** buffer, std::size_t* length);

  // 0 not read yet, 1 the last read decoded an obfuscated file, 2 it was plain.
  int obfuscation_flag() const noexcept { return obfuscation; }

 protected:
  // Opens `path` with `flags` (mode 0660 when created); false on failure.
  bool open_file(const char* path, int flags);
  void close_file();
  // Reads the whole file, decodes it and passes it through massage_inbound_data. On
  // true `*data` (ut_malloc, zero-terminated, free with ut_free) holds `*length` bytes of
  // text; an empty file gives true with null data. False: nothing could be read.
  bool read_file(char** data, std::size_t* length);
  // Reads the raw bytes of the whole file (null data for an empty file); false on error.
  bool read_raw(char** data, std::size_t* length);
  // The status of the open file; false when it cannot be read.
  bool file_stamp(a_cfg_file_stamp* stamp) const;

  int fd = -1;                   // -1 when closed
  int open_flags = 0;            // as given to open
  std::int64_t file_length = 0;  // size found at open, later the length last written
  unsigned option_word;          // given at construction; kept, not read
  int obfuscation = 0;           // see obfuscation_flag()
};

// The ini-file store. Not locked within the process (see c_odbc_inifile).
class c_cfg_inifile_base : public c_cfg, public c_cfg_fileops {
 public:
  // `name` is used as given unless `locate` is set; then a name that opens for reading,
  // or a fully qualified one, is used as given, and a relative one is searched by the
  // ini-file location rules (unless `noIniLookup` or `dir` is CFG_DS_NO_INI_DIR), then
  // among the system's configuration files, and otherwise placed where a new ini file
  // goes. `maxSections` 0 is no limit; otherwise a rewrite drops the oldest sections
  // beyond it.
  c_cfg_inifile_base(const char* name, bool noIniLookup, unsigned maxSections, bool locate,
                     e_cfg_ds_dir dir, unsigned option);
  ~c_cfg_inifile_base() override;  // closes the file

  bool open() override;
  // As open, also truncating the file on open.
  bool open_truncate();
  // As open, failing when the file does not exist.
  bool open_no_create();
  bool open_read_only() override;
  c_cfg_section* read_section(const char* name) override;
  void delete_section_object(c_cfg_section* section) override;
  bool write_section(const c_cfg_section* section) override;
  c_cfg_name_list* list_sections() override;
  bool delete_section(const char* name) override;
  void close() override;
  const char* full_filename() const override { return filename; }
  void mutexGet() override {}
  void mutexGive() override {}

  // Sections in the cache (after the last revalidation or change).
  unsigned section_count() const noexcept { return nsections; }

 protected:
  bool open_locked(int flags);
  // Brings the cache up to date with the file. `force` rebuilds even when the file's
  // status did not change (after taking the lock: timestamps are coarse).
  void revalidate(bool force);
  void clear_cache();
  void parse(const char* text, std::size_t length);
  // Rewrites the file from the cache; the caller holds the mutex.
  bool write_cache();
  c_cfg_section* find_cached(const char* name);
  // Removes every cached section of that name; the number removed.
  unsigned remove_cached(const char* name);

  c_utils_list<c_cfg_section> sections;  // the cache, in file order, owned
  unsigned nsections = 0;
  char* filename = nullptr;  // the located path, owned (ut_alloc)
  a_cfg_file_stamp stamp{};  // status of the file the cache was built from
  bool cache_valid = false;
  unsigned max_sections;   // 0: no limit
  bool rewritten = false;  // rewritten since opened
};

class c_cfg_inifile : public c_cfg_inifile_base {
 public:
  using c_cfg_inifile_base::c_cfg_inifile_base;
};

// The store of the ODBC data-source file: its operations are serialised on a mutex of
// its own, so that threads of one process may share it.
class c_odbc_inifile : public c_cfg_inifile {
 public:
  c_odbc_inifile(const char* name, bool noIniLookup, unsigned maxSections, bool locate,
                 e_cfg_ds_dir dir, unsigned option);
  ~c_odbc_inifile() override;
  void mutexGet() override;
  void mutexGive() override;

 private:
  a_ut_safe_pthread_mutex_t mutex{};
};

#endif  // VQ_CONFIG_INI_STORE_H
