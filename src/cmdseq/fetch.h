// Fetch and prefetch: a prefetch request (36) rides in the packet after a fetch or an
// open, and its reply stays in the stream until the next request needs the connection
// (pre-request processing reads it into the cursor's fetch buffer) or until the cursor's
// prefetch is given up (the reply is then dropped from the stream). At most one prefetch
// is in flight per connection.
#ifndef VQ_CMDSEQ_FETCH_H
#define VQ_CMDSEQ_FETCH_H

#include <cstdint>

#include "cmdseq/cursor.h"

// Uncompressed bytes received on the stream connection so far (communication stack).
std::uint32_t StrmGetBytesRecvUncomp(a_strm_conn sconn);

// Reads the prefetch reply of `cursor` into its buffer (made for rows-asked rows when
// missing) and its trailer. Answers only 2, 6, 8 or 9 from the reply, else 0: a broken
// prefetch reply turns the cursor's prefetch off and is otherwise forgotten.
a_cmdseq_return i_cs_ReceiveFetchPendingIntoBuffers(a_cmdseq_conn* conn, a_cmdseq_cursor* cursor,
                                                    a_cmdseq_error_info* err);
// Reads the status and information items that end a prefetch reply. A failed prefetch
// keeps its error on the cursor (saved_prefetch_error) for the fetch that reaches it.
a_cmdseq_return i_cs_ReceivePrefetchTrailer(a_cmdseq_conn* conn, a_cmdseq_cursor* cursor,
                                            a_cmdseq_error_info* err);

#endif  // VQ_CMDSEQ_FETCH_H
