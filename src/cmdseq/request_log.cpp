// The request log (see request_log.h).
#include "cmdseq/request_log.h"

#include <fcntl.h>
#include <pthread.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cmdseq/error_info.h"
#include "config/conn_parms.h"
#include "config/option_tables.h"
#include "utils/base/bounded_strings.h"
#include "utils/base/compat.h"
#include "utils/base/memory.h"
#include "utils/base/posix_file.h"
#include "utils/etc/date_format.h"
#include "utils/etc/jdate_names.h"
#include "utils/locale/lang_string.h"

namespace {

constexpr int kSlotLogFile = 18;
constexpr unsigned kPathBytes = 4096;
constexpr unsigned kFormatBytes = 1080;  // what most formatted lines fit in
constexpr unsigned kMessageBytes = 256;
constexpr mode_t kLogFileMode = 0600;  // the log may hold statement texts: owner only

// A mutex held for the scope.
class Locked {
 public:
  explicit Locked(a_ut_safe_pthread_mutex_t& m) : m_(m.handle) {
    if (m_ != nullptr) pthread_mutex_lock(m_);
  }
  ~Locked() {
    if (m_ != nullptr) pthread_mutex_unlock(m_);
  }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  pthread_mutex_t* m_;
};

// The current local time by `picture`, with the environment's date names.
void format_now(const a_cmdseq_env* env, const char* picture, char* out, unsigned size) {
  a_time now;
  timenow(&now);
  const a_jdate_langstrings* names = nullptr;
  if (env != nullptr && env->date != nullptr && env->date->own_names().months[0] != nullptr) {
    names = &env->date->own_names();
  }
  timetostring_nullterm_ex(&now, out, size, picture, names, nullptr);
}

void write_text(int fd, const char* text) { (void)_posix_write(fd, text, std::strlen(text)); }

bool ends_with_newline(const char* text) {
  const std::size_t n = std::strlen(text);
  return n != 0 && text[n - 1] == '\n';
}

}  // namespace

// --- Log files -----------------------------------------------------------------------------

a_cmdseq_log_file::a_cmdseq_log_file(char* full_path) noexcept
    : mutex{nullptr}, path(full_path) {
  (void)ut_safe_pthread_mutex_init(&mutex, nullptr);
}

a_cmdseq_log_file::~a_cmdseq_log_file() {
  if (fd >= 0) _posix_close(fd);
  ut_free(path);
  ut_safe_pthread_mutex_destroy(&mutex);
}

a_cmdseq_log_file_list* i_cs_CreateLogFileList() {
  auto* list = new (std::nothrow) a_cmdseq_log_file_list;
  if (list == nullptr) return nullptr;
  list->mutex.handle = nullptr;
  if (ut_safe_pthread_mutex_init(&list->mutex, nullptr) != 0) {
    delete list;
    return nullptr;
  }
  return list;
}

void i_cs_DestroyLogFileList(a_cmdseq_log_file_list* list) {
  if (list == nullptr) return;
  while (a_cmdseq_log_file* file = list->files.first_element()) delete file;
  ut_safe_pthread_mutex_destroy(&list->mutex);
  delete list;
}

a_cmdseq_log_file* i_cs_getLogFile(a_cmdseq_env* env, const char* path) {
  if (env == nullptr || env->log_files == nullptr || path == nullptr || path[0] == '\0') {
    return nullptr;
  }
  char full[kPathBytes];
  if (vq::compat::_fullpath(full, path, sizeof full) == nullptr) return nullptr;
  a_cmdseq_log_file_list* list = env->log_files;
  Locked lock(list->mutex);
  for (c_utils_iter<a_cmdseq_log_file> it(list->files); !it.at_end(); it.next()) {
    a_cmdseq_log_file* file = it.element();
    if (std::strcmp(file->path, full) == 0) {
      file->add_ref();
      return file;
    }
  }
  char* copy = ut_strdup(full);
  auto* file = new a_cmdseq_log_file(copy);
  if (file->mutex.handle == nullptr) {
    delete file;
    return nullptr;
  }
  list->files.append(file);
  return file;
}

// --- Attributes ----------------------------------------------------------------------------

a_cmdseq_conn_attrib::~a_cmdseq_conn_attrib() { closeLogFile(); }

void a_cmdseq_conn_attrib::closeLogFile() {
  a_cmdseq_log_file* file = log_file;
  log_file = nullptr;
  if (file == nullptr) return;
  a_cmdseq_log_file_list* list = env != nullptr ? env->log_files : nullptr;
  if (list == nullptr) {
    file->release();
    return;
  }
  // The count drops under the list's mutex so that a lookup never finds a file whose
  // last reference is going; at zero the file leaves the list as it is destroyed.
  Locked lock(list->mutex);
  file->release();
}

int a_cmdseq_conn_attrib::setLogFile(a_cmdseq_env* new_env, const char* path) {
  closeLogFile();
  if (path == nullptr) return 1;
  if (env == nullptr) env = new_env;
  log_file = i_cs_getLogFile(env, path);
  return log_file != nullptr ? 1 : 0;
}

a_cmdseq_conn_attrib* CmdSeqCreateConnAttributes(const c_conn_parms* parms, a_cmdseq_env* env,
                                                 const a_cmdseq_error_info* err) {
  auto* attrib = new a_cmdseq_conn_attrib;
  attrib->env = env;
  attrib->cb_value = err != nullptr ? err->owner : 0;
  if (parms != nullptr) {
    const char* path = parms->getString(kSlotLogFile);
    if (path != nullptr && path[0] != '\0') {
      attrib->debug = 1;
      if (!attrib->setLogFile(env, path)) {
        attrib->release();
        return nullptr;
      }
    }
    if (parms->getBool(kSlotDebug) != 0) attrib->debug = 1;
  }
  return attrib;
}

a_cmdseq_conn_attrib* CmdSeqCreateEmptyConnAttributes() { return new a_cmdseq_conn_attrib; }

void CmdSeqFreeConnAttributes(a_cmdseq_conn_attrib* attrib) {
  if (attrib != nullptr) attrib->release();
}

// --- Writing -------------------------------------------------------------------------------

int CmdSeqCheckDebug(const a_cmdseq_conn_attrib* attrib) {
  if (attrib == nullptr) return 0;
  if (attrib->debug != 0) return 1;
  return attrib->env != nullptr && attrib->env->debug_message_callback != nullptr ? 1 : 0;
}

void CmdSeqPrtString(a_cmdseq_conn_attrib* attrib, const char* text) {
  if (attrib == nullptr || text == nullptr) return;
  a_cmdseq_env* env = attrib->env;
  if (a_cmdseq_log_file* file = attrib->log_file) {
    Locked lock(file->mutex);
    bool writable = file->fd >= 0;
    if (!writable) {
      file->fd = _posix_open(file->path, O_WRONLY | O_CREAT | O_APPEND, kLogFileMode);
      if (file->fd < 0) {
        const int error = errno;
        file->fd = -2;  // the next line tries again
        if (env != nullptr) {
          char reason[256];
          char message[kPathBytes + 512];
          reason[0] = message[0] = '\0';
          if (env->lang != nullptr) {
            env->lang->Strerror(error, reason, sizeof reason);
            env->lang->FormatMiscLangStr(10637, message, sizeof message, file->path, reason);
          }
          if (message[0] == '\0') {
            ut_snprintf(message, sizeof message, "The log file %s cannot be opened: %s",
                        file->path, std::strerror(error));
          }
          i_cs_OSDisplayMessage(message);
        }
      } else {
        char date[28];
        format_now(env, "Ddd Mmm dd yyyy hh:nn:ss", date, sizeof date);
        char line[32];
        ut_snprintf(line, sizeof line, "\n%s\n", date);
        write_text(file->fd, line);
        writable = true;
      }
    }
    if (writable) {
      if (env != nullptr) {
        char time[11];
        format_now(env, "hh:nn:ss", time, sizeof time);
        char prefix[32];
        if (attrib->line_no != 0) {
          ut_snprintf(prefix, sizeof prefix, "%s [%5u] ", time, attrib->line_no);
        } else {
          ut_snprintf(prefix, sizeof prefix, "%s ", time);
        }
        write_text(file->fd, prefix);
      }
      write_text(file->fd, text);
      if (!ends_with_newline(text)) write_text(file->fd, "\n");
    }
  }
  // The callback may be registered again at any time: read it once.
  const a_cmdseq_debug_message_callback callback =
      env != nullptr ? env->debug_message_callback.load() : nullptr;
  if (callback != nullptr) callback(attrib->cb_value, text);
}

void CmdSeqPrtStringV(a_cmdseq_conn_attrib* attrib, const char* format, ...) {
  if (attrib == nullptr || format == nullptr) return;
  char text[kFormatBytes];
  va_list args;
  va_start(args, format);
  const int needed = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (needed < 0) return;
  if (static_cast<unsigned>(needed) < sizeof text) {
    CmdSeqPrtString(attrib, text);
    return;
  }
  // A longer line is formatted again into a buffer of its size; without memory the
  // line is written cut.
  auto* whole = static_cast<char*>(ut_malloc(static_cast<std::size_t>(needed) + 1));
  if (whole == nullptr) {
    CmdSeqPrtString(attrib, text);
    return;
  }
  va_start(args, format);
  std::vsnprintf(whole, static_cast<std::size_t>(needed) + 1, format, args);
  va_end(args);
  CmdSeqPrtString(attrib, whole);
  ut_free(whole);
}

void CmdSeqPrtStringNL(a_cmdseq_conn_attrib* attrib, char* text, unsigned size) {
  if (text == nullptr) return;
  const std::size_t n = std::strlen(text);
  if ((n == 0 || text[n - 1] != '\n') && size != 0 && n < size - 1) {
    text[n] = '\n';
    text[n + 1] = '\0';
  }
  CmdSeqPrtString(attrib, text);
}

void CmdSeqPrtMsgId(a_cmdseq_conn_attrib* attrib, unsigned long id, ...) {
  if (attrib == nullptr || attrib->env == nullptr || !CmdSeqCheckDebug(attrib)) return;
  char text[kMessageBytes];
  text[0] = '\0';
  if (attrib->env->lang != nullptr) {
    va_list args;
    va_start(args, id);
    attrib->env->lang->VFormatMiscLangStr(id, text, sizeof text, args);
    va_end(args);
  }
  if (text[0] == '\0') ut_snprintf(text, sizeof text, "message %lu", id);
  CmdSeqPrtString(attrib, text);
}

void CmdSeqConnectionlessPrint(a_cmdseq_log_file_list* list, const char* text) {
  if (text == nullptr) return;
  if (list != nullptr) {
    Locked lock(list->mutex);
    for (c_utils_iter<a_cmdseq_log_file> it(list->files); !it.at_end(); it.next()) {
      a_cmdseq_log_file* file = it.element();
      Locked file_lock(file->mutex);
      if (file->fd < 0) continue;  // not opened by a connection yet
      write_text(file->fd, text);
      if (!ends_with_newline(text)) write_text(file->fd, "\n");
    }
  }
  std::fputs(text, stdout);
  if (!ends_with_newline(text)) std::fputc('\n', stdout);
  std::fflush(stdout);
}

void i_cs_OSDisplayMessage(const char* text) {
  if (text == nullptr) return;
  std::fputs(text, stderr);
  if (!ends_with_newline(text)) std::fputc('\n', stderr);
}
