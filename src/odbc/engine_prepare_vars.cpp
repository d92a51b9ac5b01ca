// Long parameter values in server variables: the variable statement, the variable's
// creation, the chunks that fill it and the references that replace the values when the
// statement runs.
#include "odbc/engine.h"
#include "odbc/handles.h"

std::int32_t DBPrepareVar(tagSTMT*, const char*) { return kSqlClientFailure; }
std::int32_t DBExecuteVar(tagSTMT*, a_cmdseq_desc*) { return kSqlClientFailure; }
std::int32_t CreateBlobVariable(tagSTMT*, tagITEM*, std::uint32_t, SQLSMALLINT) {
  return kSqlClientFailure;
}
std::int32_t PutBlobChunks(tagSTMT*, tagITEM*, std::uint32_t, SQLSMALLINT, const char*, SQLLEN,
                           bool) {
  return kSqlClientFailure;
}
SQLRETURN DBPutDataUsingBlobs(tagSTMT*, tagITEM*, std::uint32_t, SQLSMALLINT, a_cmdseq_desc_item*,
                              const char*, SQLLEN) {
  return SQL_ERROR;
}
void DBPrepEngDescExecStmt(tagSTMT*, tagDESC*, tagDESC*, SQLLEN, int) {}
void DBDropBlobVariable(tagSTMT*, tagITEM*) {}
