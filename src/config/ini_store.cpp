// The ini-file store: file operations, the parse and written forms of the file, the
// status-checked section cache and the locked, checked rewrite.
#include "config/ini_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "config/config_text.h"
#include "config/ini_obfuscation.h"
#include "utils/base/bounded_strings.h"
#include "utils/base/file_locations.h"
#include "utils/base/memory.h"
#include "utils/base/posix_file.h"

namespace {

constexpr int kMaxRebuilds = 10;     // cache rebuilds in one revalidation
constexpr int kMaxReadAttempts = 5;  // whole-file reads when a read comes back short

char* dup_text(const char* text, std::size_t n) {
  char* copy = static_cast<char*>(ut_alloc(n + 1));
  if (n != 0) std::memcpy(copy, text, n);
  copy[n] = '\0';
  return copy;
}

char* dup_text(const char* text) {
  return text == nullptr ? dup_text("", 0) : dup_text(text, std::strlen(text));
}

bool same_name(const char* a, const char* b) { return vq::config::same_text(a, b); }

}  // namespace

// --- entries, names, sections ----------------------------------------------------------

c_cfg_entry::c_cfg_entry(const char* k, const char* v) : key(dup_text(k)), value(dup_text(v)) {}

c_cfg_entry::c_cfg_entry(const char* k, std::size_t kn, const char* v, std::size_t vn)
    : key(dup_text(k, kn)), value(dup_text(v, vn)) {}

c_cfg_entry::~c_cfg_entry() {
  ut_free(key);
  ut_free(value);
}

void c_cfg_entry::set_value(const char* text) {
  char* copy = dup_text(text);
  ut_free(value);
  value = copy;
}

c_cfg_name::c_cfg_name(const char* text) : name(dup_text(text)) {}
c_cfg_name::~c_cfg_name() { ut_free(name); }

c_cfg_name_list::~c_cfg_name_list() {
  while (!is_empty()) delete first_element();
}

c_cfg_section_base::c_cfg_section_base(const char* text) : name(dup_text(text)) {}
c_cfg_section_base::c_cfg_section_base(const char* text, std::size_t n)
    : name(dup_text(text, n)) {}

c_cfg_section_base::~c_cfg_section_base() {
  while (!entries.is_empty()) delete entries.first_element();
  ut_free(name);
}

void c_cfg_section::set_name(const char* text) {
  char* copy = dup_text(text);
  ut_free(name);
  name = copy;
}

c_cfg_entry* c_cfg_section::find(const char* key) {
  if (key == nullptr) return nullptr;
  for (c_cfg_entry_iter it(entries); !it.at_end(); it.next()) {
    if (same_name(it.element()->key, key)) return it.element();
  }
  return nullptr;
}

const char* c_cfg_section::get_value(const char* key) {
  const c_cfg_entry* entry = find(key);
  return entry != nullptr ? entry->value : nullptr;
}

void c_cfg_section::set_value(const char* key, const char* text) {
  if (key == nullptr) return;
  c_cfg_entry* entry = find(key);
  if (entry != nullptr) {
    entry->set_value(text);
  } else {
    entries.append(new c_cfg_entry(key, text));
  }
}

void c_cfg_section::set_value(const char* key, std::uint32_t number) {
  char text[16];
  std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(number));
  set_value(key, text);
}

bool c_cfg_section::delete_entry(const char* key) {
  c_cfg_entry* entry = find(key);
  if (entry == nullptr) return false;
  delete entry;  // leaves the list by itself
  return true;
}

c_cfg_section* c_cfg_section::clone() const {
  auto* copy = new c_cfg_section(name);
  auto& list = const_cast<c_cfg_entry_list&>(entries);
  for (c_cfg_entry_iter it(list); !it.at_end(); it.next()) {
    copy->entries.append(new c_cfg_entry(it.element()->key, it.element()->value));
  }
  return copy;
}

char* c_cfg_section::get_options() const {
  auto& list = const_cast<c_cfg_entry_list&>(entries);
  std::size_t size = 1;
  for (c_cfg_entry_iter it(list); !it.at_end(); it.next()) {
    size += std::strlen(it.element()->key) + 1;
  }
  char* block = static_cast<char*>(ut_alloc(size));
  char* p = block;
  for (c_cfg_entry_iter it(list); !it.at_end(); it.next()) {
    const std::size_t n = std::strlen(it.element()->key) + 1;
    std::memcpy(p, it.element()->key, n);
    p += n;
  }
  *p = '\0';
  return block;
}

std::size_t c_cfg_section::get_size_in_file() const {
  auto& list = const_cast<c_cfg_entry_list&>(entries);
  std::size_t size = std::strlen(name) + 3 + 1;
  for (c_cfg_entry_iter it(list); !it.at_end(); it.next()) {
    size += std::strlen(it.element()->key) + std::strlen(it.element()->value) + 2;
  }
  return size;
}

// --- file operations -------------------------------------------------------------------

bool a_cfg_file_stamp::operator==(const a_cfg_file_stamp& o) const noexcept {
  return device == o.device && inode == o.inode && size == o.size && mtime == o.mtime &&
         mtime_nsec == o.mtime_nsec && ctime == o.ctime && ctime_nsec == o.ctime_nsec;
}

c_cfg_fileops::~c_cfg_fileops() { close_file(); }

bool c_cfg_fileops::massage_outbound_data(char**, std::size_t*) { return true; }
bool c_cfg_fileops::massage_inbound_data(char**, std::size_t*) { return true; }

bool c_cfg_fileops::open_file(const char* path, int flags) {
  close_file();
  if (path == nullptr || *path == '\0') return false;
  const int handle = _posix_open(path, flags, 0660);
  if (handle < 0) return false;
  fd = handle;
  open_flags = flags;
  file_length = _posix_filelength(fd);
  if (file_length < 0) file_length = 0;
  return true;
}

void c_cfg_fileops::close_file() {
  if (fd >= 0) _posix_close(fd);
  fd = -1;
}

bool c_cfg_fileops::file_stamp(a_cfg_file_stamp* out) const {
  a_posix_stat st;
  if (fd < 0 || _posix_fstat(fd, &st) != 0) return false;
  out->device = st.device;
  out->inode = st.inode;
  out->size = st.size;
  out->mtime = st.mtime;
  out->mtime_nsec = st.mtime_nsec;
  out->ctime = st.ctime;
  out->ctime_nsec = st.ctime_nsec;
  return true;
}

bool c_cfg_fileops::read_raw(char** data, std::size_t* length) {
  *data = nullptr;
  *length = 0;
  if (fd < 0) return false;
  // A writer in another process may change the size under us: a short read starts the
  // whole read again, a few times.
  for (int attempt = 0; attempt < kMaxReadAttempts; ++attempt) {
    const std::int64_t size = _posix_lseek(fd, 0, SEEK_END);
    if (size < 0) return false;
    if (size == 0) return true;
    char* buffer = static_cast<char*>(ut_malloc(static_cast<std::size_t>(size) + 1));
    if (buffer == nullptr) return false;
    if (_posix_lseek(fd, 0, SEEK_SET) != 0) {
      ut_free(buffer);
      return false;
    }
    const std::int64_t got = _posix_read(fd, buffer, static_cast<std::size_t>(size));
    if (got < 0) {
      ut_free(buffer);
      return false;
    }
    if (got == size) {
      buffer[size] = '\0';
      *data = buffer;
      *length = static_cast<std::size_t>(size);
      return true;
    }
    ut_free(buffer);
  }
  return false;
}

bool c_cfg_fileops::read_file(char** data, std::size_t* length) {
  char* raw = nullptr;
  std::size_t n = 0;
  if (!read_raw(&raw, &n)) return false;
  *data = nullptr;
  *length = 0;
  if (raw == nullptr) return true;

  char* decoded = static_cast<char*>(ut_malloc(n + 1));
  if (decoded == nullptr) {
    ut_free(raw);
    return false;
  }
  std::size_t decoded_length = n + 1;
  int flag = 0;
  if (!decryptIniFile(raw, n, decoded, &decoded_length, &flag)) {
    ut_free(decoded);
    ut_free(raw);
    return false;
  }
  obfuscation = flag;
  char* text = raw;
  if (flag == kIniDataScrambled) {
    ut_free(raw);
    text = decoded;
    n = decoded_length;
    // A block holds the text and its zero byte; that byte ends the text and must not
    // become part of the last line (a header "[name]" there would no longer be one).
    if (n > 0 && decoded[n - 1] == '\0') --n;
  } else {
    ut_free(decoded);
  }
  if (!massage_inbound_data(&text, &n)) {
    ut_free(text);
    return false;
  }
  // The parser relies on the terminator; a hook may hand back a block without one.
  char* terminated = static_cast<char*>(ut_realloc(text, n + 1));
  if (terminated == nullptr) return false;
  terminated[n] = '\0';
  *data = terminated;
  *length = n;
  return true;
}

// --- the store -------------------------------------------------------------------------

c_cfg_inifile_base::c_cfg_inifile_base(const char* name, bool noIniLookup, unsigned maxSections,
                                       bool locate, e_cfg_ds_dir dir, unsigned option)
    : c_cfg_fileops(option), max_sections(maxSections) {
  if (name == nullptr) name = "";
  if (!locate) {
    filename = dup_text(name);
    return;
  }
  const int probe = _posix_open(name, O_RDONLY, 0);
  if (probe >= 0 || name[0] == '/') {
    if (probe >= 0) _posix_close(probe);
    filename = dup_text(name);
    return;
  }
  char path[kCfgMaxPath + 1];
  const unsigned flag = dir == CFG_DS_INI_DIR_FLAG ? 1 : 0;
  unsigned n = 0;
  if (!noIniLookup && dir != CFG_DS_NO_INI_DIR) {
    n = LS_QualifyIniFile(name, flag, path, sizeof path);
  }
  if (n == 0 || n >= sizeof path) {
    n = LS_QualifyVellumFile(kLsKindConfig, name, path, sizeof path, defaultQualifyCB);
  }
  if ((n == 0 || n >= sizeof path) && dir != CFG_DS_NO_INI_DIR) {
    n = LS_PlaceIniFile(name, flag, path, sizeof path);
  }
  if (n == 0 || n >= sizeof path) n = LS_PlaceVellumFile(name, path, sizeof path);
  if (n >= sizeof path) n = 0;  // found, but too long for a path
  filename = n != 0 ? dup_text(path, n) : dup_text(name);
}

c_cfg_inifile_base::~c_cfg_inifile_base() {
  close();
  clear_cache();
  ut_free(filename);
}

void c_cfg_inifile_base::clear_cache() {
  while (!sections.is_empty()) delete sections.first_element();
  nsections = 0;
  cache_valid = false;
}

bool c_cfg_inifile_base::open() { return open_locked(O_RDWR | O_CREAT); }
bool c_cfg_inifile_base::open_truncate() { return open_locked(O_RDWR | O_CREAT | O_TRUNC); }
bool c_cfg_inifile_base::open_no_create() { return open_locked(O_RDWR); }

bool c_cfg_inifile_base::open_locked(int flags) {
  mutexGet();
  rewritten = false;
  if (!open_file(filename, flags)) {
    mutexGive();
    return false;
  }
  // The lock covers the whole file: from offset 0 (where open leaves us) with length 0,
  // to any size. It blocks while another process holds it.
  if (_posix_lseek(fd, 0, SEEK_SET) != 0 || _posix_lockf(fd, F_LOCK, 0) != 0) {
    close_file();
    mutexGive();
    return false;
  }
  // Only now, with the lock held, is the file's text final until we close: rebuilding
  // before the lock would let a writer that waited for another process write back what
  // it saw before that process's change. Timestamps are coarse, so the rebuild does not
  // trust an unchanged status.
  revalidate(true);
  mutexGive();
  return true;
}

bool c_cfg_inifile_base::open_read_only() {
  mutexGet();
  rewritten = false;
  const bool ok = open_file(filename, O_RDONLY);
  if (ok) revalidate(false);
  mutexGive();
  return ok;
}

void c_cfg_inifile_base::revalidate(bool force) {
  a_cfg_file_stamp now{};
  for (int rebuilds = 0;; ++rebuilds) {
    if (!file_stamp(&now)) {
      clear_cache();
      return;
    }
    if (cache_valid && !force && now == stamp) return;
    if (rebuilds == kMaxRebuilds) {
      // The file keeps changing: use the last rebuild and rebuild again next time.
      cache_valid = false;
      return;
    }
    force = false;
    clear_cache();
    char* text = nullptr;
    std::size_t length = 0;
    const bool read = read_file(&text, &length);
    if (text != nullptr) {
      parse(text, length);
      ut_free(text);
    }
    stamp = now;
    // A file that could not be read is tried again on the next access, not taken for
    // an empty one until it changes.
    cache_valid = read;
    if (!read) return;
  }
}

void c_cfg_inifile_base::parse(const char* text, std::size_t length) {
  using vq::config::is_white;
  c_cfg_section* current = nullptr;
  const char* end = text + length;
  const char* p = text;
  while (p < end) {
    while (p < end && (*p == '\r' || *p == '\n')) ++p;
    const char* line = p;
    while (p < end && *p != '\r' && *p != '\n') ++p;
    const char* b = line;
    const char* e = p;
    while (b < e && is_white(*b)) ++b;
    while (e > b && is_white(e[-1])) --e;
    if (b == e) continue;
    if (*b == '[' && e - b >= 2 && e[-1] == ']') {
      current = new c_cfg_section(b + 1, std::size_t(e - b - 2));
      sections.append(current);
      ++nsections;
      continue;
    }
    if (current == nullptr) continue;
    const char* eq = static_cast<const char*>(std::memchr(b, '=', std::size_t(e - b)));
    if (eq == nullptr) continue;
    const char* kb = b;
    const char* ke = eq;
    while (ke > kb && is_white(ke[-1])) --ke;
    if (kb == ke) continue;
    const char* vb = eq + 1;
    while (vb < e && is_white(*vb)) ++vb;
    current->entries.append(new c_cfg_entry(kb, std::size_t(ke - kb), vb, std::size_t(e - vb)));
  }
}

c_cfg_section* c_cfg_inifile_base::find_cached(const char* name) {
  for (c_utils_iter<c_cfg_section> it(sections); !it.at_end(); it.next()) {
    if (same_name(it.element()->name, name)) return it.element();
  }
  return nullptr;
}

unsigned c_cfg_inifile_base::remove_cached(const char* name) {
  unsigned removed = 0;
  c_utils_iter<c_cfg_section> it(sections);
  while (!it.at_end()) {
    c_cfg_section* section = it.element();
    it.next();
    if (same_name(section->name, name)) {
      delete section;
      --nsections;
      ++removed;
    }
  }
  return removed;
}

c_cfg_section* c_cfg_inifile_base::read_section(const char* name) {
  if (name == nullptr) return nullptr;
  mutexGet();
  revalidate(false);
  const c_cfg_section* found = find_cached(name);
  c_cfg_section* copy = found != nullptr ? found->clone() : nullptr;
  mutexGive();
  return copy;
}

void c_cfg_inifile_base::delete_section_object(c_cfg_section* section) { delete section; }

c_cfg_name_list* c_cfg_inifile_base::list_sections() {
  auto* list = new c_cfg_name_list;
  mutexGet();
  revalidate(false);
  for (c_utils_iter<c_cfg_section> it(sections); !it.at_end(); it.next()) {
    list->append(new c_cfg_name(it.element()->name));
  }
  mutexGive();
  return list;
}

bool c_cfg_inifile_base::write_section(const c_cfg_section* section) {
  if (section == nullptr) return false;
  mutexGet();
  // The change goes onto the file's present text, not onto what we read earlier.
  revalidate(false);
  remove_cached(section->name);
  sections.append(section->clone());
  ++nsections;
  const bool ok = write_cache();
  mutexGive();
  return ok;
}

bool c_cfg_inifile_base::delete_section(const char* name) {
  if (name == nullptr) return false;
  mutexGet();
  revalidate(false);
  const bool ok = remove_cached(name) != 0 && write_cache();
  mutexGive();
  return ok;
}

bool c_cfg_inifile_base::write_cache() {
  if (fd < 0 || (open_flags & O_ACCMODE) == O_RDONLY) return false;
  if (max_sections != 0) {
    while (nsections > max_sections) {
      delete sections.first_element();
      --nsections;
    }
  }

  std::size_t size = 0;
  for (c_utils_iter<c_cfg_section> it(sections); !it.at_end(); it.next()) {
    size += it.element()->get_size_in_file();
  }
  char* buffer = static_cast<char*>(ut_malloc(size + 1));
  if (buffer == nullptr) return false;
  char* p = buffer;
  for (c_utils_iter<c_cfg_section> it(sections); !it.at_end(); it.next()) {
    c_cfg_section* section = it.element();
    p += std::sprintf(p, "[%s]\n", section->name);
    for (c_cfg_entry_iter e(section->entries); !e.at_end(); e.next()) {
      p += std::sprintf(p, "%s=%s\n", e.element()->key, e.element()->value);
    }
    *p++ = '\n';
  }
  if (!massage_outbound_data(&buffer, &size)) {
    ut_free(buffer);
    return false;
  }

  // The old text is kept so that a rewrite that cannot be completed (a full disk, a file
  // size limit) leaves the file as it was instead of truncated or half written.
  char* old = nullptr;
  std::size_t old_length = 0;
  if (!read_raw(&old, &old_length)) {
    ut_free(buffer);
    return false;
  }
  bool ok = _posix_lseek(fd, 0, SEEK_SET) == 0 &&
            _posix_write(fd, buffer, size) == static_cast<std::int64_t>(size) &&
            _posix_ftruncate(fd, static_cast<std::int64_t>(size)) == 0;
  if (!ok) {
    const int saved = errno;
    if (_posix_lseek(fd, 0, SEEK_SET) == 0 &&
        _posix_write(fd, old, old_length) == static_cast<std::int64_t>(old_length)) {
      _posix_ftruncate(fd, static_cast<std::int64_t>(old_length));
    }
    errno = saved;
    // The cache holds the change the file lacks: read the file again next time.
    cache_valid = false;
  }
  ut_free(old);
  ut_free(buffer);
  if (!ok) return false;

  file_length = static_cast<std::int64_t>(size);
  rewritten = true;
  // Our own write must not make the next access rebuild the cache.
  if (!file_stamp(&stamp)) cache_valid = false;
  return true;
}

void c_cfg_inifile_base::close() {
  mutexGet();
  if (fd >= 0) {
    if ((open_flags & O_ACCMODE) != O_RDONLY && rewritten) {
      _posix_ftruncate(fd, file_length);
    }
    close_file();  // also ends the lock
  }
  rewritten = false;
  mutexGive();
}

// --- the ODBC data-source store --------------------------------------------------------

c_odbc_inifile::c_odbc_inifile(const char* name, bool noIniLookup, unsigned maxSections,
                               bool locate, e_cfg_ds_dir dir, unsigned option)
    : c_cfg_inifile(name, noIniLookup, maxSections, locate, dir, option) {
  if (ut_safe_pthread_mutex_init(&mutex, nullptr) != 0) ut_fatal("ini store mutex");
}

c_odbc_inifile::~c_odbc_inifile() {
  close();  // under the mutex, while it still exists
  ut_safe_pthread_mutex_destroy(&mutex);
}

void c_odbc_inifile::mutexGet() { pthread_mutex_lock(mutex.handle); }
void c_odbc_inifile::mutexGive() { pthread_mutex_unlock(mutex.handle); }
