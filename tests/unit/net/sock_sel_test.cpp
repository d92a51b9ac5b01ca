// The poll set of the TCP I/O thread, driven from the test's own thread as the control
// thread: array changes, the control pipe, command batches and readiness scans.
#include "net/sock_sel.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>
#include <vector>

namespace {

std::vector<std::pair<int, short>> Entries(const c_strm_sock_sel& sel) {
  std::vector<std::pair<int, short>> out;
  for (unsigned i = sel.firstSocketEntry; i < sel.count; ++i)
    out.emplace_back(sel.entries[i].fd, sel.entries[i].events);
  return out;
}

using E = std::vector<std::pair<int, short>>;

TEST(SockSel, EventsAreOredAndTheLastEntryFillsAGap) {
  c_strm_sock_sel sel;  // no control thread yet: changes are direct
  sel.add_socket_with_event(10, POLLIN);
  sel.add_socket_with_event(11, POLLIN);
  sel.add_socket_with_event(12, POLLIN);
  sel.add_socket_with_event(10, POLLOUT);
  EXPECT_EQ((E{{10, POLLIN | POLLOUT}, {11, POLLIN}, {12, POLLIN}}), Entries(sel));
  sel.remove_socket_with_event(10, POLLIN);
  EXPECT_EQ((E{{10, POLLOUT}, {11, POLLIN}, {12, POLLIN}}), Entries(sel));
  sel.remove_socket_with_event(10, POLLOUT);  // no event left: dropped, 12 moves up
  EXPECT_EQ((E{{12, POLLIN}, {11, POLLIN}}), Entries(sel));
  sel.remove_socket(99);  // not present: ignored
  sel.remove_socket_with_event(99, POLLIN);
  sel.remove_socket(12);
  EXPECT_EQ((E{{11, POLLIN}}), Entries(sel));
}

TEST(SockSel, TheArrayGrowsInSteps) {
  c_strm_sock_sel sel;
  EXPECT_EQ(250u, sel.capacity);
  for (int fd = 0; fd < 600; ++fd) sel.add_socket_with_event(1000 + fd, POLLIN);
  EXPECT_EQ(600u, sel.count);
  EXPECT_EQ(750u, sel.capacity);
  EXPECT_EQ(1599, sel.entries[599].fd);
}

TEST(SockSel, ThePipeTakesEntryZeroAndGivesItBack) {
  c_strm_sock_sel sel;
  sel.add_socket_with_event(10, POLLIN);
  sel.add_socket_with_event(11, POLLOUT);
  ASSERT_EQ(1u, sel.set_control_thread_id(OS_Me()));
  EXPECT_EQ(0u, sel.set_control_thread_id(OS_Me()));  // already set
  EXPECT_EQ(1u, sel.firstSocketEntry);
  EXPECT_EQ(POLLIN, sel.entries[0].events);
  EXPECT_EQ((E{{11, POLLOUT}, {10, POLLIN}}), Entries(sel));
  sel.clear_control_thread_id();
  EXPECT_EQ(0u, sel.firstSocketEntry);
  EXPECT_EQ((E{{10, POLLIN}, {11, POLLOUT}}), Entries(sel));
  EXPECT_EQ(0u, sel.controlThread.load());
}

void WriteCommand(c_strm_sock_sel& sel, std::uint32_t op, int fd, short events) {
  const a_sock_sel_command c{op, static_cast<std::uint32_t>(fd),
                             static_cast<std::uint32_t>(events)};
  ASSERT_EQ(static_cast<ssize_t>(sizeof c), write(sel.controlPipeWrite.load(), &c, sizeof c));
}

TEST(SockSel, ABatchCarriesOutAtMostAThousandCommands) {
  c_strm_sock_sel sel;
  ASSERT_EQ(1u, sel.set_control_thread_id(OS_Me()));
  for (int i = 0; i < 1001; ++i) WriteCommand(sel, SOCK_SEL_ADD_EVENTS, 5000 + i, POLLIN);
  EXPECT_NE(0, sel.process_control_events());
  EXPECT_EQ(1000u, sel.count - sel.firstSocketEntry);
  EXPECT_NE(0, sel.process_control_events());
  EXPECT_EQ(1001u, sel.count - sel.firstSocketEntry);
  EXPECT_NE(0, sel.process_control_events());  // nothing queued: would block, go on
}

TEST(SockSel, CommandsOfEveryKind) {
  c_strm_sock_sel sel;
  ASSERT_EQ(1u, sel.set_control_thread_id(OS_Me()));
  WriteCommand(sel, SOCK_SEL_ADD_EVENTS, 7, POLLIN);
  WriteCommand(sel, SOCK_SEL_ADD_EVENTS, 7, POLLOUT);
  WriteCommand(sel, SOCK_SEL_ADD_EVENTS, 8, POLLIN);
  WriteCommand(sel, SOCK_SEL_REMOVE_EVENTS, 7, POLLIN);
  WriteCommand(sel, SOCK_SEL_DROP, 8, 0);
  EXPECT_NE(0, sel.process_control_events());
  EXPECT_EQ((E{{7, POLLOUT}}), Entries(sel));
  // A stop ends the batch: what follows it waits for the next one.
  sel.stop_control_thread();
  WriteCommand(sel, SOCK_SEL_DROP, 7, 0);
  EXPECT_EQ(0, sel.process_control_events());
  EXPECT_EQ((E{{7, POLLOUT}}), Entries(sel));
  EXPECT_NE(0, sel.process_control_events());
  EXPECT_TRUE(Entries(sel).empty());
}

TEST(SockSel, AClosedWriteEndStopsTheThread) {
  c_strm_sock_sel sel;
  ASSERT_EQ(1u, sel.set_control_thread_id(OS_Me()));
  close(sel.controlPipeWrite.exchange(-1));
  EXPECT_EQ(0, sel.process_control_events());
}

TEST(SockSel, ScansFindTheReadyDescriptors) {
  int a[2];
  int b[2];
  ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, a));
  ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, b));
  c_strm_sock_sel sel;
  ASSERT_EQ(1u, sel.set_control_thread_id(OS_Me()));
  sel.add_socket_with_event(a[0], POLLIN);
  sel.add_socket_with_event(b[0], POLLIN | POLLOUT);
  EXPECT_EQ(1, sel.call_select(0));  // b[0] is writable
  EXPECT_FALSE(sel.pipe_has_events());
  EXPECT_EQ(-1, sel.get_read_sock());
  EXPECT_EQ(b[0], sel.get_write_sock());
  EXPECT_EQ(-1, sel.get_write_sock());

  ASSERT_EQ(1, write(a[1], "x", 1));
  close(b[1]);  // a hang-up is for the reader to find out
  sel.stop_control_thread();
  EXPECT_EQ(3, sel.call_select(1000));
  EXPECT_TRUE(sel.pipe_has_events());
  EXPECT_EQ(a[0], sel.get_read_sock());
  EXPECT_EQ(b[0], sel.get_read_sock());
  EXPECT_EQ(-1, sel.get_read_sock());
  close(a[0]);
  close(a[1]);
  close(b[0]);
}

}  // namespace
