// The connection half of the stream library's C interface: accessors over the session
// connection and its link, disconnecting, the packet-dump naming and printing.
#include "streams/stream_api.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "streams/host_functions.h"
#include "streams/session_conn.h"
#include "utils/base/bounded_strings.h"
#include "utils/base/memory.h"
#include "utils/base/posix_file.h"
#include "utils/base/timer_tick.h"
#include "utils/locale/lang_string.h"

namespace {

// The link's flag of a connection to the default local server (shared-memory link).
constexpr std::uint32_t kPconnDefaultServer = 0x2;
// How long a disconnect waits at a time for the rest of the input.
constexpr std::uint32_t kCloseWaitSeconds = 5;
// Names a dump tries before it gives up (others may be making dumps in the directory).
constexpr int kDumpNameTries = 1000;

c_strm_sconn* conn_of(a_strm_conn h) { return h != nullptr ? c_strm_sconn::from_handle(h) : nullptr; }

c_strm_pconn* link_of(a_strm_conn h) {
  c_strm_sconn* s = conn_of(h);
  c_strm_tconn* t = s != nullptr ? s->tconn() : nullptr;
  return t != nullptr ? t->pconn() : nullptr;
}

bool is_directory(const char* path) {
  a_posix_stat st;
  return _posix_stat(path, &st) == 0 && (st.mode & 0xF000) == 0x4000;
}

bool exists(const char* path) {
  a_posix_stat st;
  return _posix_lstat(path, &st) == 0;
}

// Every prefix of the path that ends before a "/", then the whole path; failures are
// left to the directory test that follows.
void make_directories(const std::string& path) {
  if (_posix_mkdir(path.c_str(), 0755) == 0) return;
  for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
    _posix_mkdir(path.substr(0, at).c_str(), 0755);
  }
  _posix_mkdir(path.c_str(), 0755);
}

std::atomic<unsigned long> g_dump_counter{0};

void print_numbered(void (*print)(void*, const char*), void* ctx, std::int32_t msg_id,
                    va_list args) {
  char text[kStrmMsgBytes];
  text[0] = '\0';
  if (UTLangStringBase* catalog = vq::strm::LibraryCatalog()) {
    catalog->VFormatMiscLangStr(static_cast<std::uint32_t>(msg_id), text, sizeof text, args);
  }
  print(ctx, text);
}

}  // namespace

namespace vq::strm {

int ConvertToStrmError(an_int_strm_error result) {
  switch (result) {
    case STRM_OK:
      return STRM_API_OK;
    case STRM_NO_SERVER:
      return STRM_API_NO_SERVER;
    case STRM_LINK_FAILED:
      return STRM_API_LINK_LIST;
    case STRM_NO_MEMORY:
      return STRM_API_NO_MEMORY;
    case STRM_ATTN_PENDING:
      return STRM_API_ATTN_PENDING;
    case STRM_UNKNOWN_LINK:
      return STRM_API_UNKNOWN_LINK;
    default:
      return STRM_API_FAILED;
  }
}

void OpenConnDump(a_strm_conn sconn, const char* directory) {
  c_strm_sconn* s = conn_of(sconn);
  if (s == nullptr || directory == nullptr || directory[0] == '\0' || s->dump() != nullptr) {
    return;
  }
  std::string dir(directory, strnlen(directory, kDumpMaxPath));
  if (!is_directory(dir.c_str())) make_directories(dir);
  if (!is_directory(dir.c_str())) return;
  if (dir.back() != '/') dir += '/';
  // The dump never opens a file that exists, so a name taken between the look and the
  // open only moves it on to the next number.
  for (int i = 0; i < kDumpNameTries; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "conn_%lu.dmp", g_dump_counter.fetch_add(1));
    const std::string path = dir + name;
    if (path.size() > kDumpMaxPath || exists(path.c_str())) continue;
    if (s->open_dump(path.c_str())) return;
    if (!exists(path.c_str())) return;  // it cannot be made at all
  }
}

}  // namespace vq::strm

// --- Connection ---------------------------------------------------------------------------

int StrmDisconnect(a_strm_conn sconn) {
  c_strm_sconn* s = conn_of(sconn);
  if (s == nullptr) return 0;
  s->drop_connection(1);
  // What the server sent is read and dropped until the connection reports anything but
  // data; a wait that gives up ends the drain. Once the link has closed (it shuts its
  // socket or comm block down on the disconnect) nothing more can come, and waiting
  // for it would only hold every disconnect up for the whole close wait.
  for (;;) {
    const an_int_strm_error rc = s->_receive_prv(nullptr, nullptr, nullptr, false);
    if (rc == STRM_OK) {
      s->advance(static_cast<std::size_t>(s->in_end() - s->in_pos()));
      continue;
    }
    if (rc != STRM_NOTHING_YET) break;
    c_strm_pconn* link = link_of(sconn);
    if (link == nullptr || (link->pconn_flags & c_strm_pconn::kDisconnected) != 0) break;
    c_strm_conn_notifier* notifier = s->notifier();
    if (notifier == nullptr || !notifier->block(kCloseWaitSeconds)) break;
  }
  s->delayed_delete();
  return 1;
}

int StrmDisconResponse(a_strm_conn sconn) {
  c_strm_sconn* s = conn_of(sconn);
  if (s == nullptr) return 0;
  s->drop_connection(0);
  s->delayed_delete();
  return 1;
}

int StrmIsAlive(a_strm_conn sconn) {
  c_strm_sconn* s = conn_of(sconn);
  return s != nullptr && s->isAlive() ? 1 : 0;
}

int StrmConnExecute(a_strm_conn sconn) {
  // The shared-memory link takes its execute lock on every pass, so the first word is
  // always 1; the second asks for no signal afterwards.
  if (c_strm_pconn* link = link_of(sconn)) link->conn_execute(1, 0);
  return 1;
}

void StrmStartLiveness(a_strm_conn sconn) {
  if (c_strm_sconn* s = conn_of(sconn)) {
    a_timer_tick now;
    now.sample();
    s->startLiveness(now.ticks);
  }
}

void StrmSetConnLivenessTimeout(a_strm_conn sconn, std::uint16_t seconds) {
  if (c_strm_sconn* s = conn_of(sconn)) s->set_liveness_timeout(seconds);
}

int StrmGetInd(a_strm_conn sconn) {
  c_strm_sconn* s = conn_of(sconn);
  return s != nullptr ? s->get_ind() : 0;
}

unsigned StrmGetEngineRandomData(a_strm_conn sconn, unsigned char* buffer, unsigned size) {
  c_strm_sconn* s = conn_of(sconn);
  return s != nullptr ? s->get_random_data(buffer, size) : 0;
}

std::uint32_t StrmGetEncryption(a_strm_conn sconn) {
  c_strm_sconn* s = conn_of(sconn);
  return s != nullptr && s->tconn() != nullptr ? s->tconn()->level().level : 0;
}

int StrmGetPortType(a_strm_conn sconn) {
  c_strm_pconn* link = link_of(sconn);
  return link != nullptr && link->port != nullptr ? link->port->get_type() : int{STRM_PORT_UNKNOWN};
}

int StrmBlockEventCleared(a_strm_conn sconn) {
  return StrmGetPortType(sconn) == STRM_PORT_SHARED_MEMORY ? 1 : 0;
}

int StrmIsConnectedToDefaultEngine(a_strm_conn sconn) {
  c_strm_pconn* link = link_of(sconn);
  return link != nullptr && (link->pconn_flags & kPconnDefaultServer) != 0 ? 1 : 0;
}

a_machine_addr* StrmGetMachineAddr(a_strm_conn sconn) {
  c_strm_pconn* link = link_of(sconn);
  return link != nullptr ? link->get_machine_addr() : nullptr;
}

a_machine_addr* StrmGetLocalMachineAddr(a_strm_conn sconn) {
  c_strm_pconn* link = link_of(sconn);
  return link != nullptr ? link->get_local_machine_addr() : nullptr;
}

void StrmFreeMachineAddr(a_machine_addr* addr) { ut_free(addr); }

namespace {
void printable(a_strm_conn sconn, a_machine_addr* addr, char* buffer, std::uint16_t size) {
  if (buffer == nullptr || size == 0) {
    ut_free(addr);
    return;
  }
  buffer[0] = '\0';
  c_strm_pconn* link = link_of(sconn);
  if (addr != nullptr && link != nullptr && link->port != nullptr) {
    link->port->format_machine_addr(addr, buffer, size);
    buffer[size - 1] = '\0';
  }
  ut_free(addr);
}
}  // namespace

void StrmGetPrintableMachineAddr(a_strm_conn sconn, char* buffer, std::uint16_t size) {
  printable(sconn, StrmGetMachineAddr(sconn), buffer, size);
}

void StrmGetPrintableLocalMachineAddr(a_strm_conn sconn, char* buffer, std::uint16_t size) {
  printable(sconn, StrmGetLocalMachineAddr(sconn), buffer, size);
}

std::uint16_t StrmGetLocalIPPortNum(a_strm_conn sconn) {
  c_strm_pconn* link = link_of(sconn);
  return link != nullptr ? static_cast<std::uint16_t>(link->get_local_ip_port_num()) : 0;
}

std::uint16_t StrmGetRemoteIPPortNum(a_strm_conn sconn) {
  c_strm_pconn* link = link_of(sconn);
  return link != nullptr ? static_cast<std::uint16_t>(link->get_remote_ip_port_num()) : 0;
}

const char* StrmSetConnName(a_strm_conn sconn, const char* name) {
  c_strm_pconn* link = link_of(sconn);
  if (link == nullptr) return nullptr;
  ut_free(link->server_name);
  link->server_name = name != nullptr ? ut_strdup(name) : nullptr;
  return link->server_name;
}

const char* StrmGetConnName(a_strm_conn sconn) {
  c_strm_pconn* link = link_of(sconn);
  return link != nullptr ? link->server_name : nullptr;
}

std::uint32_t StrmGetBytesRecvUncomp(a_strm_conn sconn) {
  c_strm_sconn* s = conn_of(sconn);
  return s != nullptr ? s->bytes_received() : 0;
}

// --- Printing -------------------------------------------------------------------------------

void StrmPrint(void* host_ctx, const char* text) { vq::strm::HostPrint(host_ctx, text); }

void StrmErrPrint(void* host_ctx, const char* text) { vq::strm::HostPrintError(host_ctx, text); }

void StrmPrint(void* host_ctx, std::int32_t msg_id, ...) {
  va_list args;
  va_start(args, msg_id);
  print_numbered(&vq::strm::HostPrint, host_ctx, msg_id, args);
  va_end(args);
}

void StrmErrPrint(void* host_ctx, std::int32_t msg_id, ...) {
  va_list args;
  va_start(args, msg_id);
  print_numbered(&vq::strm::HostPrintError, host_ctx, msg_id, args);
  va_end(args);
}

void StrmPrintConnectionless(std::int32_t msg_id, ...) {
  va_list args;
  va_start(args, msg_id);
  print_numbered([](void*, const char* text) { vq::strm::HostPrintConnectionless(text); },
                 nullptr, msg_id, args);
  va_end(args);
}

void StrmPrintConnectionless(const char* format, ...) {
  if (format == nullptr) return;
  char text[kStrmMsgBytes];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n >= 0 && static_cast<std::size_t>(n) + 2 <= sizeof text) {
    text[n] = '\n';
    text[n + 1] = '\0';
    vq::strm::HostPrintConnectionless(text);
    return;
  }
  // A longer text goes in a heap buffer of its own size: 4098 bytes, then 2048 more
  // each time, until it holds the text and the line end.
  for (std::size_t size = 4098;; size += 2048) {
    auto* big = static_cast<char*>(ut_malloc(size));
    if (big == nullptr) {
      vq::strm::HostPrintConnectionless(nullptr);
      return;
    }
    va_start(args, format);
    const int m = std::vsnprintf(big, size, format, args);
    va_end(args);
    if (m < 0) {
      ut_free(big);
      vq::strm::HostPrintConnectionless(nullptr);
      return;
    }
    if (static_cast<std::size_t>(m) + 2 <= size) {
      big[m] = '\n';
      big[m + 1] = '\0';
      vq::strm::HostPrintConnectionless(big);
      ut_free(big);
      return;
    }
    ut_free(big);
  }
}
