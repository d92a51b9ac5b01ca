// Helpers shared by the files of the fetch and positioned-operation code (fetch*.cpp).
#ifndef VQ_ODBC_FETCH_INTERNAL_H
#define VQ_ODBC_FETCH_INTERNAL_H

#include <cstdint>

#include "odbc/attributes.h"
#include "odbc/descriptors.h"
#include "odbc/diag_states.h"
#include "odbc/handles.h"

// States the fetch code posts (24000 and 07009 come from attributes.h and descriptors.h).
constexpr a_packed_sqlstate kStateHY109 = PackSQLState("HY109");  // invalid cursor position
constexpr a_packed_sqlstate kStateS1109 = PackSQLState("S1109");

// ==== in fetch.cpp ============================================================================

// SQL_USE_BOOKMARKS is on.
bool UseBookmarks(tagSTMT* stmt);
// The cursor is not forward-only.
bool Scrollable(const tagSTMT* stmt);
// The lock bit of a server move: for an exclusive lock, or with lock concurrency on a
// server that does not lock by itself (capability byte A bit 0x04 clear); else 0.
std::uint32_t LockBit(tagSTMT* stmt, bool exclusive);
// No column is being read by SQLGetData any more; the engine's piece state is dropped.
void ResetGetDataState(tagSTMT* stmt);
// The ARD's row-wise bind size (0: column-wise).
SQLULEN ArdBindSize(tagSTMT* stmt);

#endif  // VQ_ODBC_FETCH_INTERNAL_H
