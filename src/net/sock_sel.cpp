// The poll set of the TCP I/O thread.
#include "net/sock_sel.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "net/socket_calls.h"
#include "utils/base/memory.h"

namespace {

std::atomic<bool> g_nonblocking_pipes{true};

constexpr short kReadReady = POLLIN | POLLHUP | POLLERR | POLLNVAL;

}  // namespace

namespace vq::net {
bool ControlPipesNonBlocking() { return g_nonblocking_pipes.load(); }
}  // namespace vq::net

c_strm_sock_sel::c_strm_sock_sel()
    : capacity(kGrowEntries),
      entries(static_cast<pollfd*>(ut_alloc(sizeof(pollfd) * kGrowEntries))),
      count(0),
      readCursor(0),
      writeCursor(0),
      firstSocketEntry(0) {
  std::memset(entries, 0, sizeof(pollfd) * capacity);
}

c_strm_sock_sel::~c_strm_sock_sel() {
  if (firstSocketEntry == 1) clear_control_thread_id();
  ut_free(entries);
}

bool c_strm_sock_sel::on_control_thread() const {
  const a_os_thread control = controlThread.load();
  return control == 0 || control == OS_Me();
}

void c_strm_sock_sel::send_command(std::uint32_t operation, int descriptor, short events) {
  const a_sock_sel_command command{
      operation, static_cast<std::uint32_t>(descriptor),
      static_cast<std::uint32_t>(static_cast<unsigned short>(events))};
  const int fd = controlPipeWrite.load();
  if (fd < 0) return;
  // A write interrupted by a signal is repeated; any other failure loses the command.
  while (write(fd, &command, sizeof command) < 0 && errno == EINTR) {
  }
}

void c_strm_sock_sel::add_socket_with_event(int descriptor, short events) {
  if (on_control_thread())
    add_direct(descriptor, events);
  else
    send_command(SOCK_SEL_ADD_EVENTS, descriptor, events);
}

void c_strm_sock_sel::remove_socket_with_event(int descriptor, short events) {
  if (on_control_thread())
    remove_events_direct(descriptor, events);
  else
    send_command(SOCK_SEL_REMOVE_EVENTS, descriptor, events);
}

void c_strm_sock_sel::remove_socket(int descriptor) {
  if (on_control_thread())
    drop_direct(descriptor);
  else
    send_command(SOCK_SEL_DROP, descriptor, 0);
}

void c_strm_sock_sel::stop_control_thread() { send_command(SOCK_SEL_STOP, -1, 0); }

int c_strm_sock_sel::find(int descriptor) const {
  for (unsigned i = firstSocketEntry; i < count; ++i)
    if (entries[i].fd == descriptor) return static_cast<int>(i);
  return -1;
}

void c_strm_sock_sel::grow() {
  const unsigned bigger = capacity + kGrowEntries;
  auto* grown = static_cast<pollfd*>(ut_realloc(entries, sizeof(pollfd) * bigger));
  std::memset(grown + capacity, 0, sizeof(pollfd) * kGrowEntries);
  entries = grown;
  capacity = bigger;
}

void c_strm_sock_sel::add_direct(int descriptor, short events) {
  const int at = find(descriptor);
  if (at >= 0) {
    entries[at].events = static_cast<short>(entries[at].events | events);
    return;
  }
  if (count == capacity) grow();
  entries[count++] = pollfd{descriptor, events, 0};
}

void c_strm_sock_sel::remove_events_direct(int descriptor, short events) {
  const int at = find(descriptor);
  if (at < 0) return;
  entries[at].events = static_cast<short>(entries[at].events & ~events);
  if (entries[at].events == 0) drop_at(static_cast<unsigned>(at));
}

void c_strm_sock_sel::drop_direct(int descriptor) {
  const int at = find(descriptor);
  if (at >= 0) drop_at(static_cast<unsigned>(at));
}

void c_strm_sock_sel::drop_at(unsigned index) {
  // The last entry takes the place: the order of entries is not kept.
  entries[index] = entries[count - 1];
  entries[count - 1] = pollfd{0, 0, 0};
  --count;
}

unsigned c_strm_sock_sel::set_control_thread_id(a_os_thread thread) {
  if (controlThread.load() != 0) return 0;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return 0;
  if (count > 0) {
    if (count == capacity) grow();
    entries[count] = entries[0];
  }
  entries[0] = pollfd{fds[0], POLLIN, 0};
  ++count;
  firstSocketEntry = 1;
  const int flags = fcntl(fds[0], F_GETFL);
  if (flags < 0 || fcntl(fds[0], F_SETFL, flags | O_NONBLOCK) != 0)
    g_nonblocking_pipes.store(false);
  controlPipeWrite.store(fds[1]);
  controlThread.store(thread);
  return 1;
}

void c_strm_sock_sel::clear_control_thread_id() {
  if (firstSocketEntry == 0) return;
  unix_close(entries[0].fd);
  const int write_end = controlPipeWrite.exchange(-1);
  if (write_end >= 0) unix_close(write_end);
  if (count > 1) entries[0] = entries[count - 1];
  entries[count - 1] = pollfd{0, 0, 0};
  --count;
  firstSocketEntry = 0;
  controlThread.store(0);
}

int c_strm_sock_sel::call_select(int timeoutMs) {
  readCursor = firstSocketEntry;
  writeCursor = firstSocketEntry;
  return unix_poll(entries, count, timeoutMs);
}

int c_strm_sock_sel::get_read_sock() {
  for (; readCursor < count; ++readCursor) {
    if ((entries[readCursor].revents & kReadReady) != 0) return entries[readCursor++].fd;
  }
  return -1;
}

int c_strm_sock_sel::get_write_sock() {
  for (; writeCursor < count; ++writeCursor) {
    if ((entries[writeCursor].revents & POLLOUT) != 0) return entries[writeCursor++].fd;
  }
  return -1;
}

int c_strm_sock_sel::process_control_events() {
  if (firstSocketEntry == 0) return 1;
  const int read_end = entries[0].fd;
  const bool nonblocking = vq::net::ControlPipesNonBlocking();
  int answer = 1;
  for (unsigned done = 0; done < kMaxBatchCommands; ++done) {
    a_sock_sel_command command;
    ssize_t got;
    do {
      got = read(read_end, &command, sizeof command);
    } while (got < 0 && errno == EINTR);
    answer = static_cast<int>(got);
    if (got <= 0) break;  // would block (-1: keep going) or write end closed (0: stop)
    if (got != static_cast<ssize_t>(sizeof command)) continue;  // commands are written whole
    const int fd = static_cast<int>(command.descriptor);
    const auto events = static_cast<short>(command.events);
    switch (command.operation) {
      case SOCK_SEL_ADD_EVENTS:
        add_direct(fd, events);
        break;
      case SOCK_SEL_REMOVE_EVENTS:
        remove_events_direct(fd, events);
        break;
      case SOCK_SEL_DROP:
        drop_direct(fd);
        break;
      case SOCK_SEL_STOP:
        return 0;
      default:
        break;
    }
    if (!nonblocking) break;
  }
  return answer;
}
