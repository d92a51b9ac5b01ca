// The poll set of the TCP I/O thread with its control pipe.
//
// Only the I/O thread reads or writes the poll array. Other threads change it by writing
// 12-byte commands into a pipe whose read end is the array's first entry, so the array
// needs no lock: the I/O thread wakes up on the pipe and carries the commands out.
// Before any I/O thread is installed nothing polls the array, and changes are made
// directly.
#ifndef VQ_NET_SOCK_SEL_H
#define VQ_NET_SOCK_SEL_H

#include <poll.h>

#include <atomic>
#include <cstdint>

#include "vqtasks.h"

// One command through the control pipe: three 32-bit words in the machine's byte order,
// written and read whole.
struct a_sock_sel_command {
  std::uint32_t operation;   // a_sock_sel_operation
  std::uint32_t descriptor;  // the socket
  std::uint32_t events;      // POLLIN, POLLOUT
};
static_assert(sizeof(a_sock_sel_command) == 12, "a command is written and read whole");

enum a_sock_sel_operation : std::uint32_t {
  SOCK_SEL_ADD_EVENTS = 0,     // OR the events into the entry, appending one when none
  SOCK_SEL_REMOVE_EVENTS = 1,  // clear the events; drop the entry when none is left
  SOCK_SEL_DROP = 2,           // drop the entry
  SOCK_SEL_STOP = 3            // stop the thread
};

class c_strm_sock_sel {
 public:
  static constexpr unsigned kGrowEntries = 250;  // initial size and growth step
  static constexpr unsigned kMaxBatchCommands = 1000;

  c_strm_sock_sel();
  // Removes the pipe when it is still installed.
  ~c_strm_sock_sel();
  c_strm_sock_sel(const c_strm_sock_sel&) = delete;
  c_strm_sock_sel& operator=(const c_strm_sock_sel&) = delete;

  // On the I/O thread (or before one is installed) the array changes at once; on any
  // other thread a command goes through the pipe (a failed write loses the command).
  void add_socket_with_event(int descriptor, short events);
  void remove_socket_with_event(int descriptor, short events);
  void remove_socket(int descriptor);
  // Writes the stop command (always through the pipe).
  void stop_control_thread();

  // Installs the pipe for the calling thread, `thread` being its identity; entry 0
  // becomes the pipe's read end. 0 when a control thread is already set or the pipe
  // cannot be made, else 1.
  unsigned set_control_thread_id(a_os_thread thread);
  // Closes both pipe ends and gives entry 0 to the last entry.
  void clear_control_thread_id();

  // Resets the cursors and polls every entry, the pipe included, for up to `timeoutMs`
  // (-1: without limit); a poll interrupted by a signal is repeated.
  int call_select(int timeoutMs);
  // The next socket whose poll answered reading (or a hang-up, an error or an invalid
  // descriptor, which only a read can clear) / writing; -1 when none is left.
  int get_read_sock();
  int get_write_sock();
  // Carries out the queued commands: at most kMaxBatchCommands, one when the pipe
  // blocks. 0 when the thread must stop (a stop command, or the pipe closed at its
  // write end); any other answer keeps it going.
  int process_control_events();
  void dump_debug_info() {}

  bool pipe_has_events() const { return firstSocketEntry == 1 && entries[0].revents != 0; }

  unsigned capacity;    // entries allocated
  pollfd* entries;      // zero-filled when made
  unsigned count;       // entries in use
  unsigned readCursor;  // scan positions of the current dispatch
  unsigned writeCursor;
  unsigned firstSocketEntry;                  // 1 while the pipe is installed (entry 0), else 0
  std::atomic<a_os_thread> controlThread{0};  // the I/O thread, 0 when none
  std::atomic<int> controlPipeWrite{-1};      // write end of the pipe

 private:
  bool on_control_thread() const;
  void send_command(std::uint32_t operation, int descriptor, short events);
  // Direct changes of the array (I/O thread only).
  int find(int descriptor) const;
  void grow();
  void add_direct(int descriptor, short events);
  void remove_events_direct(int descriptor, short events);
  void drop_direct(int descriptor);
  void drop_at(unsigned index);
};

namespace vq::net {
// Whether control pipes read without blocking; cleared for good when a pipe's read end
// cannot be made non-blocking.
bool ControlPipesNonBlocking();
}  // namespace vq::net

#endif  // VQ_NET_SOCK_SEL_H
