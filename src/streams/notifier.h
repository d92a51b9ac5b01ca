// The two interfaces through which the stack waits, wakes and prints: the stack never
// sleeps, wakes a thread or prints by itself. The host (the command-sequence client)
// implements both.
//
// c_strm_conn_notifier belongs to one connection. The request thread blocks in
// block(); the link's thread calls handle_strm_indicator(), possibly while the request
// thread sits in block() on the same notifier, so post(), block() and
// handle_strm_indicator() must be safe across threads, and a post() made before the
// block() must not be lost (a counting semaphore does this).
//
// c_strm_env_notifier belongs to one communication environment: it wakes the host's
// control thread, prints for the debug printer and makes the connection notifiers.
#ifndef VQ_STREAMS_NOTIFIER_H
#define VQ_STREAMS_NOTIFIER_H

#include <cstdint>

#include "utils/base/list.h"

// The communication connection handle as the host sees it.
struct a_strm_conn_rec;
typedef a_strm_conn_rec* a_strm_conn;

// What handle_strm_indicator() is told.
enum a_strm_indicator : std::uint8_t {
  STRM_IND_NEW_MESSAGE = 1,     // a data packet starts a new message while no reader waits
  STRM_IND_LINK_CLOSED = 2,     // a link error closed a connection not tied to a database
  STRM_IND_APP_CONNECT = 6,     // the app-connect reply arrived
  STRM_IND_CONN_DIED = 7,       // link error while connected, liveness time-out, peer gone
  STRM_IND_DATA_ARRIVED = 14,   // a data packet arrived while a reader was waiting
  STRM_IND_ROOM_AGAIN = 15,     // a write refused for lack of room can go on now
};

// True for the indicators after which a thread blocked in block() must return.
constexpr bool strm_indicator_wakes(std::uint8_t code) {
  return code == STRM_IND_LINK_CLOSED || code == STRM_IND_APP_CONNECT ||
         code == STRM_IND_CONN_DIED || code == STRM_IND_DATA_ARRIVED ||
         code == STRM_IND_ROOM_AGAIN;
}

class c_strm_conn_notifier : public c_utils_base {
 public:
  ~c_strm_conn_notifier() override = default;

  // Deletes the notifier; the session connection calls it from its destructor.
  virtual void release() { delete this; }
  // Waits until post() or an indicator that wakes; `seconds` 0 means no limit.
  // True: try again (something may have changed). False: give up (the connection is
  // dead or the time is over). A limited wait returns within about `seconds`.
  virtual bool block(std::uint32_t seconds) = 0;
  virtual void post() = 0;
  // Called on the link's thread; must not block.
  virtual void handle_strm_indicator(std::uint8_t code) = 0;
  // An event the local server can signal, or null.
  virtual void* get_event() { return nullptr; }
  virtual void set_sconn(a_strm_conn conn) = 0;
  virtual int swap_streams(c_strm_conn_notifier* other, std::uintptr_t word) = 0;
  virtual std::uintptr_t get_strm_connid() { return 0; }
};

class c_strm_env_notifier : public c_utils_base {
 public:
  ~c_strm_env_notifier() override = default;

  // The host's control thread runs the stack's periodic work soon.
  virtual void post() = 0;
  // Prints one text for the connection whose host context is `context`.
  virtual void prt_msg(void* context, const char* text) = 0;
  // A notifier for a new connection, or null with a terminated message of at most
  // `error_size` bytes in `error`.
  virtual c_strm_conn_notifier* create_conn_note(void* context, char* error,
                                                 unsigned int error_size,
                                                 unsigned int flags) = 0;
  // The environment's semaphore handle (the shared-memory link sends it to the server).
  virtual void* get_semaphore() = 0;
};

#endif  // VQ_STREAMS_NOTIFIER_H
