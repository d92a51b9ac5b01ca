// Starting a local server process and the database control requests.
//
// The server is started by a double fork, so that it is not the client's child: the
// child forks again and leaves at once, the grandchild writes its process id into the
// hand-shake pipe and replaces itself with the server, which later writes a 2-byte
// status (0 ready) through the descriptor named by "-hn". Between fork and exec only
// async-signal-safe calls are made (everything is prepared before the fork) and the
// children leave with _exit, so no handler or destructor of the caller runs twice.
//
// The started server gets no descriptor of the caller but the hand-shake one: the others
// are closed in the grandchild and its standard streams are /dev/null, so a server that
// outlives the client holds none of the client's files, sockets or pipes. It starts with
// no signal blocked or ignored, whatever the calling thread had. Both pipe ends
// are close-on-exec in the caller, so a process another thread forks meanwhile cannot
// keep the write end open and hide the server's end. The wait for the status is bounded.
//
// A StartLine runs whatever program it names: the connection parameters decide what a
// client process may start, and the caller must not take them from untrusted input.
#include <fcntl.h>
#include <strings.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cmdseq/connect.h"
#include "config/conn_parms.h"
#include "config/conn_string.h"
#include "streams/stream_api.h"
#include "config/option_tables.h"
#include "utils/base/compat.h"
#include "utils/base/memory.h"

namespace {

constexpr unsigned kMaxArgs = 60;
constexpr unsigned kMaxLineArgs = 57;  // a line of 58 or more arguments is refused

bool has_quote(const char* s) { return std::strchr(s, '"') != nullptr; }

void append_quoted(std::string& line, const char* value) {
  if (has_quote(value)) {
    line += value;
  } else {
    line += '"';
    line += value;
    line += '"';
  }
}

// "-ha" asks a server of version 9 or later to start its database in the background.
bool wants_ha(const std::string& head) {
  for (const char* tag : {"vqeng", "vqsrv"}) {
    const std::size_t at = head.find(tag);
    if (at == std::string::npos) continue;
    const char* p = head.c_str() + at + 5;
    if (*p < '0' || *p > '9') continue;
    unsigned long n = 0;
    while (*p >= '0' && *p <= '9' && n < 1000000) n = n * 10 + static_cast<unsigned>(*p++ - '0');
    return n > 8;
  }
  return false;
}

// Whether the switches name the database themselves ("-n" among their options), so that
// a second "-n" would not be appended.
bool switches_name_database(const char* switches) {
  const char* p = switches;
  for (;;) {
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '\0') return false;
    if (p[0] == '-' && p[1] == 'n' && (p[2] == '\0' || p[2] == ' ' || p[2] == '\t')) return true;
    while (*p != '\0' && *p != ' ' && *p != '\t') ++p;
  }
}

bool read_exact(int fd, void* out, std::size_t n, int wait_ms) {
  auto* p = static_cast<unsigned char*>(out);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  std::size_t got = 0;
  while (got < n) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return false;
    pollfd pfd{fd, POLLIN, 0};
    const int pr = ::poll(&pfd, 1, static_cast<int>(left));
    if (pr < 0 && errno == EINTR) continue;
    if (pr <= 0) return false;
    const ssize_t r = ::read(fd, p + got, n - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    got += static_cast<std::size_t>(r);
  }
  return true;
}

void close_others(int keep, long max_fd) {
  // close_range where the kernel has it; a plain loop otherwise.
#ifdef SYS_close_range
  if (keep > 3 && ::syscall(SYS_close_range, 3u, static_cast<unsigned>(keep - 1), 0u) != 0) {
    for (int fd = 3; fd < keep; ++fd) ::close(fd);
  }
  if (::syscall(SYS_close_range, static_cast<unsigned>(keep + 1), ~0u, 0u) == 0) return;
#else
  for (int fd = 3; fd < keep; ++fd) ::close(fd);
#endif
  for (long fd = keep + 1; fd < max_fd; ++fd) ::close(static_cast<int>(fd));
}

a_cmdseq_return start_failed(a_cmdseq_error_info* err, std::int32_t sqlcode) {
  i_cs_SetErrorInfo(err, sqlcode);
  return CMDSEQ_ERROR;
}

}  // namespace

char* i_cs_BuildStartLine(const char* head, const c_conn_parms* parms, int suppress_ha) {
  std::string line = head != nullptr ? head : "";
  const std::size_t pct = line.find("%d");
  if (pct != std::string::npos) line.erase(pct, 2);
  const std::string head_text = line;
  const char* dbf = parms->getString(kSlotDatabaseFile);
  const char* eng = parms->getString(kSlotServerName);
  const char* dbn = parms->getString(kSlotDatabaseName);
  const char* key = parms->getString(kSlotDatabaseKey);
  const char* dbs = parms->getString(kCsSlotDatabaseSwitches);

  if (suppress_ha == 0 && dbf != nullptr && wants_ha(head_text)) line += " -ha";
  if (parms->getBool(kSlotAutoStop) != 0) line += " -ga";
  if (eng != nullptr && *eng != '\0' && head_text.find("-n") == std::string::npos) {
    line += " -n ";
    append_quoted(line, eng);
  }
  if (dbf != nullptr) {
    line += ' ';
    append_quoted(line, dbf);
    if (key != nullptr) {
      line += " -ek \"";
      line += key;
      line += '"';
    }
    if (dbs != nullptr) {
      line += ' ';
      line += dbs;
    }
    if (dbn != nullptr && *dbn != '\0' && (dbs == nullptr || !switches_name_database(dbs))) {
      line += " -n ";
      append_quoted(line, dbn);
    }
  }
  char* out = static_cast<char*>(ut_malloc(line.size() + 1));
  if (out != nullptr) std::memcpy(out, line.c_str(), line.size() + 1);
  return out;
}

a_cmdseq_return i_cs_PlatformSpecificStartEngine(const char* command, a_cmdseq_env* env,
                                                 a_cmdseq_error_info* err, std::int32_t* pid,
                                                 int wait_ms) {
  *pid = 0;
  std::vector<char> line(command, command + std::strlen(command) + 1);
  char* argv[kMaxArgs + 3] = {};
  const unsigned argc = ParseArgv(argv, kMaxArgs, line.data());
  if (argc == 0) return start_failed(err, -80);
  if (argc > kMaxLineArgs) return start_failed(err, -81);

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return start_failed(err, -80);
  const int devnull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  char fd_text[16];
  std::snprintf(fd_text, sizeof fd_text, "%d", fds[1]);
  char hn[] = "-hn";
  argv[argc] = hn;
  argv[argc + 1] = fd_text;
  argv[argc + 2] = nullptr;
  long max_fd = ::sysconf(_SC_OPEN_MAX);
  if (max_fd < 0 || max_fd > 65536) max_fd = 65536;
  sigset_t no_signals;
  sigemptyset(&no_signals);
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);

  const pid_t child = ::fork();
  if (child < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    if (devnull >= 0) ::close(devnull);
    return start_failed(err, -80);
  }
  if (child == 0) {
    const pid_t grandchild = ::fork();
    if (grandchild < 0) {
      const std::int32_t bad = -1;
      (void)!::write(fds[1], &bad, sizeof bad);
      ::_exit(255);
    }
    if (grandchild > 0) ::_exit(0);
    const std::int32_t me = static_cast<std::int32_t>(::getpid());
    (void)!::write(fds[1], &me, sizeof me);
    if (devnull >= 0) {
      ::dup2(devnull, 0);
      ::dup2(devnull, 1);
      ::dup2(devnull, 2);
    }
    close_others(fds[1], max_fd);
    // Nor the calling thread's signal state: no signal blocked, none ignored (caught
    // ones fall back to their default at the exec anyway).
    ::sigprocmask(SIG_SETMASK, &no_signals, nullptr);
    for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &default_action, nullptr);
    ::fcntl(fds[1], F_SETFD, 0);  // the hand-shake descriptor survives the exec
    ::execvp(argv[0], argv);
    ::_exit(1);
  }
  ::close(fds[1]);
  if (devnull >= 0) ::close(devnull);
  std::int32_t started = -1;
  if (!read_exact(fds[0], &started, sizeof started, wait_ms)) started = -1;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (started <= 0) {
    ::close(fds[0]);
    return start_failed(err, -80);
  }
  *pid = started;
  std::uint8_t ready[2];
  const bool got = read_exact(fds[0], ready, sizeof ready, wait_ms);
  ::close(fds[0]);
  if (!got) {
    *pid = -started;
    return start_failed(err, -80);
  }
  const unsigned code = static_cast<unsigned>(ready[0]) | static_cast<unsigned>(ready[1]) << 8;
  if (code == 0) return CMDSEQ_OK;
  *pid = -started;
  i_cs_MapReturnCode(env, static_cast<int>(code), err);
  if (err->sqlcode >= 0) i_cs_SetErrorInfo(err, -80);
  return CMDSEQ_ERROR;
}

a_cmdseq_return i_cs_StartDatabase(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                   c_conn_parms* parms) {
  if (!parms->isSpecified(kSlotAutoStop)) parms->setBool(kSlotAutoStop, true);
  const char* text = parms->getConnectionString();
  if (text == nullptr) return CMDSEQ_NO_MEMORY;
  a_cmdseq_return result = i_cs_StartRequest(conn, err);
  if (result != CMDSEQ_OK) return result;
  const a_sqlpres_code code = SQLPresSendBytes(conn->strm_conn, CS_ITEM_START_DATABASE, text,
                                               static_cast<std::uint32_t>(std::strlen(text)), 0);
  result = code == SQLPRES_OK ? i_cs_SendRequest(conn, err) : i_cs_HandleSQLPresError(conn, code, err);
  if (result == CMDSEQ_OK) result = i_cs_ReceiveSuccessOrError(conn, err);
  if (i_cs_ReplyRead(result)) {
    const a_cmdseq_return info = i_cs_ReceiveAllInfo(conn, err, nullptr);
    if (!i_cs_ReplyRead(info)) result = info;
  }
  return i_cs_EndRequest(conn, err, result);
}

a_cmdseq_return i_cs_ShutdownEngine(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                    std::uint8_t how) {
  a_cmdseq_return result = i_cs_StartRequest(conn, err);
  if (result != CMDSEQ_OK) return result;
  std::uint8_t* payload = nullptr;
  const a_sqlpres_code code = SQLPresSend(conn->strm_conn, CS_ITEM_SHUTDOWN, &payload, 1, 0);
  if (code == SQLPRES_OK) payload[0] = how;
  result = code == SQLPRES_OK ? i_cs_SendRequest(conn, err) : i_cs_HandleSQLPresError(conn, code, err);
  if (result == CMDSEQ_OK) result = i_cs_ReceiveSuccessOrError(conn, err);
  if (i_cs_ReplyRead(result)) {
    const a_cmdseq_return info = i_cs_ReceiveAllInfo(conn, err, nullptr);
    if (!i_cs_ReplyRead(info)) result = info;
  }
  return i_cs_EndRequest(conn, err, result);
}

bool same_engine(a_cmdseq_conn* conn, const char* name) {
  if (conn == nullptr) return false;
  if (name == nullptr) return StrmIsConnectedToDefaultEngine(conn->strm_conn) != 0;
  const char* mine = SQLPresGetConnName(conn->strm_conn);
  return mine != nullptr && strcasecmp(mine, name) == 0;
}

a_cmdseq_return i_cs_StopDatabase(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                  const c_conn_parms* parms) {
  const char* dbn = parms->getString(kSlotDatabaseName);
  const char* dbf = parms->getString(kSlotDatabaseFile);
  if (dbn == nullptr && dbf == nullptr) {
    i_cs_SetErrorInfo(err, -84);
    return CMDSEQ_ERROR;
  }
  char base[256];
  if (dbn == nullptr) {
    ParseDBName(dbf, base, sizeof base);
    dbn = base;
  }
  a_cmdseq_return result = i_cs_StartRequest(conn, err);
  if (result != CMDSEQ_OK) return result;
  std::uint8_t* payload = nullptr;
  a_sqlpres_code code = SQLPresSend(conn->strm_conn, CS_ITEM_STOP_DATABASE, &payload, 1, 0);
  if (code == SQLPRES_OK) {
    payload[0] = parms->getBool(kSlotUnconditional) != 0 ? 1 : 0;
    code = SQLPresSendName(conn->strm_conn, dbn, 0);
  }
  result = code == SQLPRES_OK ? i_cs_SendRequest(conn, err) : i_cs_HandleSQLPresError(conn, code, err);
  if (result == CMDSEQ_OK) result = i_cs_ReceiveSuccessOrError(conn, err);
  if (i_cs_ReplyRead(result)) {
    const a_cmdseq_return info = i_cs_ReceiveAllInfo(conn, err, nullptr);
    if (!i_cs_ReplyRead(info)) result = info;
  }
  return i_cs_EndRequest(conn, err, result);
}
