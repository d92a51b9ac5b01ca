// The "TCP I/O Thread" of a TCP link type: one thread that waits on every socket of the
// link's connections at once and drives their reading and delayed writing.
//
// The TCP link type builds on this class: it supplies what a readable or writable
// socket means (process_fd_read, process_fd_write: look the connection up and run its
// receive or its delayed write) and starts and stops the thread with the link.
// process_fd_read/process_fd_write run on the I/O thread only.
#ifndef VQ_NET_TCP_IO_THREAD_H
#define VQ_NET_TCP_IO_THREAD_H

#include <atomic>

#include "net/sock_sel.h"
#include "streams/strm_errors.h"
#include "vqtasks.h"

class c_strm_tcp_io_thread {
 public:
  static constexpr unsigned kStackBytes = 262144;
  static constexpr const char* kThreadName = "TCP I/O Thread";

  c_strm_tcp_io_thread() = default;
  // The thread must have been stopped (shut_down_selector) by the derived class.
  virtual ~c_strm_tcp_io_thread() = default;
  c_strm_tcp_io_thread(const c_strm_tcp_io_thread&) = delete;
  c_strm_tcp_io_thread& operator=(const c_strm_tcp_io_thread&) = delete;

  // Starts the thread and waits until it has installed its control pipe: STRM_OK, or
  // STRM_NO_TCP_THREAD when the thread could not start or install the pipe.
  an_int_strm_error start_control_thread();
  // Sets the stop flag, sends the stop command and waits for the thread to end. Does
  // nothing when no thread runs or a stop is already under way.
  void shut_down_selector();

  c_strm_sock_sel& selector() { return sel_; }

 protected:
  // Runs the receive of the socket's connection: STRM_OK, STRM_NOTHING_YET or 17 (no
  // transport yet) keep the socket in the poll set; STRM_NO_SESSION_CONN (no connection
  // for the socket) and every other answer drop it.
  virtual an_int_strm_error process_fd_read(int descriptor) = 0;
  // Runs the connection's delayed write: any answer but STRM_OK removes the socket's
  // write event.
  virtual an_int_strm_error process_fd_write(int descriptor) = 0;

  // The thread body: poll, leave on the stop flag or a stop command, else dispatch.
  void do_control_thread();
  // Dispatches one poll's socket events; answers the number of answers 1 and 9.
  int msg_proc(c_strm_sock_sel& sel);

 private:
  static void thread_entry(void* block);

  c_strm_sock_sel sel_;
  a_os_thread thread_ = 0;
  std::atomic<bool> stop_{false};
};

// The answer of a receive whose connection has no transport yet.
constexpr an_int_strm_error kTcpNoTransportYet = 17;

#endif  // VQ_NET_TCP_IO_THREAD_H
