// The stream calls the client makes on a connection's stream handle as the presentation
// layer names it (a_cmdseq_conn::strm_conn). The stream library builds these; until it
// does, the tests link a stand-in.
//
// The notifier interface names the same handle by a type of its own (notifier.h), and
// the two names become one when the stream library is built; strm_client_api.h
// declares the calls of the notifiers on the other name.
#ifndef VQ_CMDSEQ_STRM_CONN_API_H
#define VQ_CMDSEQ_STRM_CONN_API_H

#include <cstdint>

#include "streams/presentation.h"

// The server's address as text, cut to `size` bytes and terminated.
void StrmGetPrintableMachineAddr(a_strm_conn sconn, char* buffer, std::uint16_t size);
// The host's word in the stream connection (the client's posted flag).
void StrmSetUserData(a_strm_conn sconn, std::uintptr_t value);

#endif  // VQ_CMDSEQ_STRM_CONN_API_H
