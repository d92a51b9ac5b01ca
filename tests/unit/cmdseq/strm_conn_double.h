// A stand-in for the stream calls of strm_conn_api.h over the scripted presentation
// layer's connection: the printable address is one text for every connection, and the
// host's word is kept beside the connection.
#ifndef VQ_TESTS_UNIT_CMDSEQ_STRM_CONN_DOUBLE_H
#define VQ_TESTS_UNIT_CMDSEQ_STRM_CONN_DOUBLE_H

#include <cstdint>
#include <string>

#include "cmdseq/strm_conn_api.h"

namespace vq::testing {

void SetPrintableAddress(const std::string& text);
// The host's word of the connection; `absent` when it was never set.
std::uintptr_t UserDataOf(a_strm_conn sconn, std::uintptr_t absent);
void SetUserDataOf(a_strm_conn sconn, std::uintptr_t value);

}  // namespace vq::testing

#endif  // VQ_TESTS_UNIT_CMDSEQ_STRM_CONN_DOUBLE_H
