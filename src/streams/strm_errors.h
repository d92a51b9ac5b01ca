// Internal results that the stack's layers pass to one another (`an_int_strm_error`).
// Each failure also leaves a message number in the caller's error text where the
// layer that found it says so; the API and presentation layers map these codes to
// their own.
#ifndef VQ_STREAMS_STRM_ERRORS_H
#define VQ_STREAMS_STRM_ERRORS_H

#include <cstdint>

typedef std::int32_t an_int_strm_error;

enum : an_int_strm_error {
  STRM_OK = 1,                  // success
  STRM_CONN_DEAD = 2,           // the connection is dead
  STRM_NOTHING_YET = 4,         // nothing received yet; wait and ask again
  STRM_ATTN_ACKED = 5,          // the attention was acknowledged
  STRM_ENCRYPT_FAILED = 6,      // encryption could not be set up or failed
  STRM_NO_SERVER = 7,           // no server answered on this link; the next may be tried
  STRM_NO_SESSION_CONN = 9,     // no session connection
  STRM_QUEUED = 10,             // taken; completion is reported later
  STRM_NO_CONN_PARMS = 11,      // the connection parameters could not be read
  STRM_LINK_FAILED = 12,        // a link or the link list failed
  STRM_OUT_OF_ROOM = 13,        // the link has no room now; wait and try again
  STRM_NO_MEMORY = 14,          // out of memory or no packet buffer
  STRM_ATTN_PENDING = 15,       // an attention is in progress
  STRM_UNKNOWN_LINK = 16,       // the link list names an unknown link type
  STRM_NO_NETWORK = 18,         // the network support could not start
  STRM_NO_TCP_THREAD = 19,      // the TCP I/O thread could not start
  STRM_BAD_ENCRYPT_PARM = 20,   // a bad encryption parameter
};

#endif  // VQ_STREAMS_STRM_ERRORS_H
