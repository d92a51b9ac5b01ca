// Helpers shared by the files of the fetch and positioned-operation code (fetch*.cpp).
#ifndef VQ_ODBC_FETCH_INTERNAL_H
#define VQ_ODBC_FETCH_INTERNAL_H

#include <cstdint>

#include "odbc/handles.h"

// ==== in fetch.cpp ============================================================================

// The ODBC version the statement's application declared (2 or 3).
int FetchOdbcVersion(tagSTMT* stmt);
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
