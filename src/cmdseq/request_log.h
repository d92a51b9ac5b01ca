// The request log: each connection may write what the client and the communication
// stack do to a log file named by its LogFile parameter, or (with Debug) only to the
// environment's debug-message callback. Connections naming the same file share one open
// file with one mutex, so their lines never interleave. Every line starts with the time
// and, once the connection is established, its number; a file opened for the first time
// gets a line with the date. Files are created readable and writable by their owner only.
#ifndef VQ_CMDSEQ_REQUEST_LOG_H
#define VQ_CMDSEQ_REQUEST_LOG_H

#include <cstdarg>
#include <cstdint>

#include "cmdseq/client.h"
#include "utils/base/list.h"
#include "utils/base/refobj.h"
#include "vqtasks.h"

class c_conn_parms;

// One shared log file. Reference counted under the list's mutex.
class a_cmdseq_log_file : public c_utils_refobj_no_base, public c_utils_link {
 public:
  explicit a_cmdseq_log_file(char* full_path) noexcept;
  ~a_cmdseq_log_file() override;  // closes the file, frees the path, destroys the mutex

  a_ut_safe_pthread_mutex_t mutex;  // serialises the lines written to the file
  char* path;                       // the full path (owned)
  std::int32_t fd = -1;             // -1 not opened yet, -2 the last open failed
};

// The environment's open log files.
struct a_cmdseq_log_file_list {
  c_utils_list<a_cmdseq_log_file> files;
  a_ut_safe_pthread_mutex_t mutex;  // guards the list and the files' reference counts
};

// The log attributes of one connection (reference counted).
class a_cmdseq_conn_attrib : public c_utils_refobj_no_base, public c_utils_link {
 public:
  a_cmdseq_conn_attrib() noexcept = default;
  ~a_cmdseq_conn_attrib() override;  // releases the log file

  // Attaches the shared file of `path` (releasing the current one); with no path only
  // releases. 1 when a file is attached, or when no path was given; 0 otherwise.
  int setLogFile(a_cmdseq_env* env, const char* path);
  void closeLogFile();

  a_cmdseq_log_file* log_file = nullptr;
  std::uint32_t line_no = 0;  // the connection number shown in each line; 0 unknown
  a_cmdseq_env* env = nullptr;
  std::uint32_t debug = 0;      // 1 when logging is on
  std::uintptr_t cb_value = 0;  // the debug-message callback's value
};

// The list of an environment and its mutex; null when the mutex cannot be made.
a_cmdseq_log_file_list* i_cs_CreateLogFileList();
// Destroys the list (and any files still on it); null is ignored.
void i_cs_DestroyLogFileList(a_cmdseq_log_file_list* list);

// New attributes for a connection, from its LogFile and Debug parameters; the callback
// value is the error block's owner. Null when the log file cannot be attached.
a_cmdseq_conn_attrib* CmdSeqCreateConnAttributes(const c_conn_parms* parms, a_cmdseq_env* env,
                                                 const a_cmdseq_error_info* err);
a_cmdseq_conn_attrib* CmdSeqCreateEmptyConnAttributes();
// Drops one reference; null is ignored.
void CmdSeqFreeConnAttributes(a_cmdseq_conn_attrib* attrib);

// The shared log file of a path (a new reference), or null.
a_cmdseq_log_file* i_cs_getLogFile(a_cmdseq_env* env, const char* path);

// 1 when logging is on for the attributes (Debug, a log file, or a debug-message
// callback in the environment); 0 for null.
int CmdSeqCheckDebug(const a_cmdseq_conn_attrib* attrib);
// Writes one line (see the file comment); nothing for null attributes.
void CmdSeqPrtString(a_cmdseq_conn_attrib* attrib, const char* text);
// Formats with the C rules, then writes the line. Longer texts are not cut.
void CmdSeqPrtStringV(a_cmdseq_conn_attrib* attrib, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
// Appends a line feed in place when the text lacks one and is shorter than size - 1,
// then writes it.
void CmdSeqPrtStringNL(a_cmdseq_conn_attrib* attrib, char* text, unsigned size);
// Formats a numbered message (string arguments) into 256 bytes and writes it, only when
// the attributes have an environment and logging is on.
void CmdSeqPrtMsgId(a_cmdseq_conn_attrib* attrib, unsigned long id, ...);
// A line for no particular connection: every open log file of the list (no time), then
// standard output.
void CmdSeqConnectionlessPrint(a_cmdseq_log_file_list* list, const char* text);
// Writes the text to standard error.
void i_cs_OSDisplayMessage(const char* text);

#endif  // VQ_CMDSEQ_REQUEST_LOG_H
