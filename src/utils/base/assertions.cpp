// Assertion reports, the console prompt and debugger detection.
//
// The report is built on the stack in a bounded buffer with bounded formatting: an
// assertion fires when the process is already in trouble, so it neither allocates nor
// trusts the length of what it is given.
#include "utils/base/assertions.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "utils/base/posix_file.h"

namespace {

constexpr std::size_t kReportBytes = 1024;   // whole report, terminator included
constexpr std::size_t kFileLineBytes = 512;  // "File '...' at line #n\nAborting..."

void ConsoleMessage(const char* text, const char* title, int ask, int* answer);

std::atomic<ut_assert_message_fn> g_message_fn{&ConsoleMessage};
std::atomic<bool> g_quiet{false};

void WriteText(const char* text) {
  if (text != nullptr) (void)_posix_write(2, text, std::strlen(text));
}

// Reads one character from standard input that is not a blank, tab, CR or LF.
// End of input or an error gives 'N'.
char ReadAnswerChar() {
  for (;;) {
    char c = 0;
    if (_posix_read(0, &c, 1) != 1) return 'N';
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return c;
  }
}

void ConsoleMessage(const char* text, const char* title, int ask, int* answer) {
  int result = 0;
  if (g_quiet.load()) {
    if (answer != nullptr) *answer = 0;
    return;
  }
  WriteText("*** ");
  WriteText(title);
  WriteText(" ***\n");
  WriteText(text);
  if (ask == 0) {
    WriteText("\n");
    if (answer != nullptr) *answer = 1;
    return;
  }
  WriteText(" [Y|N|B] ");
  char chosen = 0;
  bool brk = false;
  for (;;) {
    char c = ReadAnswerChar();
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c == 'Y') {
      result = 1;
    } else if (c == 'N') {
      result = 0;
    } else if (c == 'Q') {
      result = 0;
      g_quiet.store(true);
    } else if (c == 'B') {
      result = 0;
      brk = true;
    } else {
      WriteText("Huh? Please try again; answer one of Y or N ...\n");
      continue;
    }
    chosen = c;
    break;
  }
  const char echo[3] = {chosen, '\n', '\0'};
  WriteText(echo);
  if (answer != nullptr) *answer = result;
  if (brk) {
    // The process must not go on with its normal work after "B".
    if (ut_enter_debugger(text) == 0) std::abort();
  }
}

// True when /proc/self/status names a tracer other than 0.
bool DebuggerAttached() {
  int fd = _posix_open("/proc/self/status", O_RDONLY, 0);
  if (fd < 0) return false;
  char buf[4096];
  const std::int64_t n = _posix_read(fd, buf, sizeof buf - 1);
  _posix_close(fd);
  if (n <= 0) return false;
  buf[n] = '\0';
  const char* p = std::strstr(buf, "TracerPid:");
  if (p == nullptr) return false;
  p += std::strlen("TracerPid:");
  while (*p == ' ' || *p == '\t') ++p;
  return *p >= '1' && *p <= '9';
}

}  // namespace

extern "C" {

void UT_AssertStrFn(const char* format, const char* file, int line, ...) {
  // The file-and-line tail is built first, so a long message can never push it out.
  char tail[kFileLineBytes];
  int tail_len =
      std::snprintf(tail, sizeof tail, "File '%s' at line #%d\nAborting execution...",
                    file != nullptr ? file : "", line);
  if (tail_len < 0) tail_len = 0;
  if (static_cast<std::size_t>(tail_len) >= sizeof tail) {
    // A file name too long to show whole: keep its start and the line.
    char cut[kFileLineBytes / 2];
    std::snprintf(cut, sizeof cut, "%s", file);
    tail_len = std::snprintf(tail, sizeof tail,
                             "File '%s...' at line #%d\nAborting execution...", cut, line);
    if (tail_len < 0 || static_cast<std::size_t>(tail_len) >= sizeof tail)
      tail_len = static_cast<int>(std::strlen(tail));
  }

  char report[kReportBytes];
  report[0] = '\0';
  std::size_t used = 0;
  if (format != nullptr && *format != '\0') {
    // Room for the message: what the tail and the message's newline leave over.
    const std::size_t room = sizeof report - static_cast<std::size_t>(tail_len) - 1;
    va_list args;
    va_start(args, line);
    const int n = std::vsnprintf(report, room, format, args);
    va_end(args);
    used = n < 0 ? 0 : std::strlen(report);
    report[used++] = '\n';
    report[used] = '\0';
  }
  std::memcpy(report + used, tail, static_cast<std::size_t>(tail_len));
  report[used + static_cast<std::size_t>(tail_len)] = '\0';

  if (ut_enter_debugger(report) != 0) return;
  int answer = 0;
  ut_assert_message(report, "Assertion Failure", 0, &answer);
  std::abort();
}

void ut_assert_message(const char* text, const char* title, int ask, int* answer) {
  g_message_fn.load()(text, title, ask, answer);
}

void UT_AssertSetMessageFn(ut_assert_message_fn function) {
  g_message_fn.store(function != nullptr ? function : &ConsoleMessage);
}

int ut_enter_debugger(const char* /*text*/) {
  if (!DebuggerAttached()) return 0;
  std::raise(SIGTRAP);
  return 1;
}

void ut_start_debugger(void) {}

void ut_set_debugger_thread_name(const char* /*name*/) {}

void ut_throw_exception(void) { std::raise(SIGFPE); }

}  // extern "C"
