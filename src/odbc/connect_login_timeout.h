// The login time-out of a connect (connection attribute SQL_ATTR_LOGIN_TIMEOUT, seconds,
// 0 for none): every wait of the connecting thread for the server gives up once it has
// passed, so that a server that never answers ends the connect in time.
//
// The client calls its wait callback about once a second while a request (or the
// app-connect exchange) waits, with the connection's callback value, which is the
// connection handle. While a deadline is armed the callback answers "give up" once it has
// passed: the wait then fails as a blocked wait, the client drops the connection, and the
// connect returns an error. Finding the server itself (the link's own connect) is bounded
// by the link's time-outs, not by this one.
#ifndef VQ_ODBC_CONNECT_LOGIN_TIMEOUT_H
#define VQ_ODBC_CONNECT_LOGIN_TIMEOUT_H

#include <cstdint>

#include "odbc/handles.h"

// Arms the connection's deadline for the life of the object (none for 0 seconds) and
// makes sure the client's wait callback is the one that watches it.
class a_login_deadline {
 public:
  a_login_deadline(tagDBC* dbc, std::uint32_t seconds);
  ~a_login_deadline();
  a_login_deadline(const a_login_deadline&) = delete;
  a_login_deadline& operator=(const a_login_deadline&) = delete;

  // True once a wait gave up because the deadline passed.
  bool expired() const;

 private:
  tagDBC* dbc_;
};

// The connection's login time-out in seconds (0: none).
std::uint32_t LoginTimeoutSeconds(tagDBC* dbc);

// The wait callback registered with the client environment: non-zero when the waiting
// connection's login deadline has passed.
int LoginWaitCallback(std::uintptr_t cb_value);

#endif  // VQ_ODBC_CONNECT_LOGIN_TIMEOUT_H
