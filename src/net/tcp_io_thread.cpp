// The TCP I/O thread: start, body, dispatch and stop.
#include "net/tcp_io_thread.h"

namespace {

// Handed to the new thread; lives on the starter's stack until the semaphore is signalled.
struct StartBlock {
  c_strm_tcp_io_thread* io;
  a_ut_pthread_semaphore* started;
  an_int_strm_error result;
};

}  // namespace

void c_strm_tcp_io_thread::thread_entry(void* argument) {
  auto* block = static_cast<StartBlock*>(argument);
  c_strm_tcp_io_thread* io = block->io;
  const bool installed = io->sel_.set_control_thread_id(OS_Me()) != 0;
  block->result = installed ? STRM_OK : STRM_NO_TCP_THREAD;
  ut_pthread_signal_semaphore(block->started);  // `block` is gone after this
  if (installed) io->do_control_thread();
}

an_int_strm_error c_strm_tcp_io_thread::start_control_thread() {
  a_ut_pthread_semaphore started;
  if (ut_pthread_open_semaphore(&started, 0) == 0) return STRM_NO_TCP_THREAD;
  StartBlock block{this, &started, STRM_NO_TCP_THREAD};
  stop_.store(false);
  thread_ = OS_Begin_Thread_Attachable(thread_entry, 0, kStackBytes, &block, kThreadName, 1);
  if (thread_ == 0) {
    ut_pthread_close_semaphore(&started);
    return STRM_NO_TCP_THREAD;
  }
  ut_pthread_waiton_semaphore(&started);
  ut_pthread_close_semaphore(&started);
  if (block.result != STRM_OK) {
    // The thread ends at once; collect it so that its handle is not left behind.
    OS_WaitOnThreadTermination(thread_);
    thread_ = 0;
  }
  return block.result;
}

void c_strm_tcp_io_thread::shut_down_selector() {
  if (thread_ == 0 || stop_.exchange(true)) return;
  sel_.stop_control_thread();
  OS_WaitOnThreadTermination(thread_);
  thread_ = 0;
}

void c_strm_tcp_io_thread::do_control_thread() {
  for (;;) {
    sel_.call_select(-1);
    if (stop_.load()) break;
    if (sel_.pipe_has_events() && sel_.process_control_events() == 0) break;
    msg_proc(sel_);
  }
}

int c_strm_tcp_io_thread::msg_proc(c_strm_sock_sel& sel) {
  int handled = 0;
  for (int fd = sel.get_read_sock(); fd != -1; fd = sel.get_read_sock()) {
    const an_int_strm_error rc = process_fd_read(fd);
    if (rc == STRM_OK || rc == STRM_NO_SESSION_CONN) ++handled;
    if (rc != STRM_OK && rc != STRM_NOTHING_YET && rc != kTcpNoTransportYet)
      sel.remove_socket(fd);
  }
  for (int fd = sel.get_write_sock(); fd != -1; fd = sel.get_write_sock()) {
    const an_int_strm_error rc = process_fd_write(fd);
    if (rc == STRM_OK || rc == STRM_NO_SESSION_CONN) ++handled;
    if (rc != STRM_OK) sel.remove_socket_with_event(fd, POLLOUT);
  }
  return handled;
}
