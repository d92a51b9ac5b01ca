// SelectList: one poll over the read and write sockets of a list.
#include <poll.h>

#include <vector>

#include "net/socket.h"
#include "net/socket_calls.h"

namespace {

constexpr unsigned kWaitStepMs = 300;

void remove_by_descriptor(Socket_list& list, const Socket& socket) {
  for (Socket_iter it(list); !it.at_end(); it.next()) {
    if (it.element()->descriptor == socket.descriptor) {
      delete it.element();
      return;
    }
  }
}

// Keeps the sockets whose poll result holds `ready`, moves those in error to `errors` and
// deletes the rest. `results` runs in list order from `index`.
void sort_out(Socket_list& list, const std::vector<pollfd>& results, std::size_t& index,
              short ready, Socket_list& errors) {
  c_utils_link* link = list.first();
  while (link != list.end()) {
    c_utils_link* next = link->next;
    auto* socket = static_cast<Socket*>(link);
    const short revents = results[index++].revents;
    if ((revents & POLLERR) != 0) {
      socket->unlink();
      errors.append(socket);
    } else if ((revents & ready) == 0) {
      delete socket;
    }
    link = next;
  }
}

}  // namespace

void SelectList::removeReadSocket(const Socket& socket) {
  remove_by_descriptor(readSockets, socket);
}

void SelectList::removeWriteSocket(const Socket& socket) {
  remove_by_descriptor(writeSockets, socket);
}

void SelectList::clear() {
  readSockets.delete_all();
  writeSockets.delete_all();
  errorSockets.delete_all();
}

int SelectList::select_us(std::int32_t timeoutMicroseconds) {
  std::vector<pollfd> fds;
  for (Socket_iter it(readSockets); !it.at_end(); it.next())
    fds.push_back(pollfd{it.element()->descriptor, POLLIN | POLLERR, 0});
  for (Socket_iter it(writeSockets); !it.at_end(); it.next())
    fds.push_back(pollfd{it.element()->descriptor, POLLOUT | POLLERR, 0});

  int rc;
  if (waitFunction == nullptr) {
    rc = unix_poll(fds.data(), static_cast<unsigned>(fds.size()), timeoutMicroseconds / 1000);
  } else {
    std::int64_t budget = timeoutMicroseconds / 1000;
    for (;;) {
      rc = unix_poll(fds.data(), static_cast<unsigned>(fds.size()), 0);
      if (rc != 0) break;
      // Never wait past the time-out: a step that would leave less than 1 ms ends it.
      if (budget - static_cast<std::int64_t>(kWaitStepMs) < 1) break;
      if (waitFunction(kWaitStepMs) == 0) break;
      budget -= kWaitStepMs;
    }
  }
  if (rc == -1) return -1;

  std::size_t index = 0;
  sort_out(readSockets, fds, index, POLLIN, errorSockets);
  sort_out(writeSockets, fds, index, POLLOUT, errorSockets);
  return rc;
}
