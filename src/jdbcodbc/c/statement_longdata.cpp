// Long column values read with SQLGetData in growing pieces into one value buffer.
#include "jdbcodbc/c/statement.h"

namespace {

constexpr SQLLEN kFirstPieceBytes = 32768;
// The bytes of the longest value Java can take: a String of 2^31 - 1 units.
constexpr SQLLEN kLargestValueBytes = 2 * SQLLEN{0x7FFFFFFF};
constexpr SQLSMALLINT kNumericText = -9999;  // the driver's numeric text, read as UTF-16

SQLLEN TerminatorBytes(SQLSMALLINT cType) {
  if (cType == SQL_C_WCHAR) return 2;
  if (cType == SQL_C_CHAR) return 1;
  return 0;
}

}  // namespace

bool Statement::getLongData(JNIEnv* env, void** buffer, SQLLEN* total, SQLLEN* indicator,
                            SQLUSMALLINT column, SQLSMALLINT cType, bool firstPieceOnly,
                            bool reuseBuffer) {
  if (cType == kNumericText) cType = SQL_C_WCHAR;
  if (!reuseBuffer || *buffer == nullptr) {
    free(*buffer);
    *buffer = alloc(env, static_cast<std::size_t>(kFirstPieceBytes));
  }
  *total = 0;
  *indicator = 0;
  if (*buffer == nullptr) return false;
  const SQLLEN terminator = TerminatorBytes(cType);
  SQLLEN capacity = kFirstPieceBytes;  // bytes of *buffer
  for (;;) {
    const SQLLEN room = capacity - *total;
    auto* position = static_cast<char*>(*buffer) + *total;
    const SQLRETURN rc = SQLGetData(hstmt_, column, cType, position, room, indicator);
    if (rc == SQL_NO_DATA) {
      free(*buffer);
      *buffer = nullptr;
      return false;
    }
    if (!SQL_SUCCEEDED(rc)) {
      // Nothing was read: the error, not a piece, is reported.
      (void)sqlError(env, rc, SQL_HANDLE_STMT, hstmt_);
      *total = 0;
      *indicator = 0;
      return false;
    }
    if (*indicator == SQL_NULL_DATA) {
      free(*buffer);
      *buffer = nullptr;
      return true;
    }
    if (rc == SQL_SUCCESS) {
      // The last piece; a length beyond what was offered is the driver's error and is
      // held to the bytes it could have written.
      SQLLEN piece = *indicator;
      if (piece < 0 || piece > room - terminator) piece = room - terminator;
      *total += piece;
      *indicator = *total;
      return true;
    }
    // The piece filled the room; more follows.
    *total += room - terminator;
    if (firstPieceOnly) {
      *indicator = *total;
      return true;
    }
    if (sqlError(env, rc, SQL_HANDLE_STMT, hstmt_, true)) return false;
    SQLLEN pieceSize = room;
    if (*indicator != SQL_NO_TOTAL && *indicator > pieceSize) pieceSize = *indicator;
    // The length comes from the driver: one no Java value can hold is refused here, since
    // the growth of a block that cannot be had ends the process.
    if (pieceSize > kLargestValueBytes - *total) {
      NOSE()->raiseError(env, "OUT_OF_MEMORY");
      *total = 0;
      *indicator = 0;
      return false;
    }
    void* grown = realloc(env, *buffer, static_cast<std::size_t>(*total + pieceSize + 2));
    if (grown == nullptr) {
      // The old block stays with the caller, who frees it.
      *total = 0;
      *indicator = 0;
      return false;
    }
    *buffer = grown;
    capacity = *total + pieceSize + 2;
  }
}
