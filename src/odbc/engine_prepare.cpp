// Statement-level requests of the engine interface: prepare and describe, the combined
// prepare-describe-execute-open, execute with parameter arrays, cursor open, describe,
// close and resume, positioned operations and statement drops.
#include <cstring>

#include "cmdseq/cursor.h"
#include "cmdseq/statement.h"
#include "odbc/engine.h"
#include "odbc/handles.h"

void DBInitStmt(tagSTMT* stmt) {
  stmt->cursor = a_cmdseq_cursor{};
  stmt->describe_info = nullptr;
}

void DBFreeStmt(tagSTMT*) {}

std::int32_t DBDeclareCursor(tagSTMT*, std::int32_t) { return 0; }

void DBInitDescribe(tagSTMT* stmt) { stmt->describe_info = nullptr; }
void DBFiniDescribe(tagSTMT* stmt) { stmt->describe_info = nullptr; }

std::int32_t DBPrepDescExecOpen(tagSTMT*, const char*, unsigned, int, unsigned* executed,
                                unsigned* opened, SQLLEN* rows, std::uint32_t* granted) {
  *executed = 0;
  *opened = 0;
  *rows = 0;
  *granted = 0;
  return kSqlClientFailure;
}

std::int32_t DBDescribeCursor(tagSTMT*) { return kSqlClientFailure; }
std::int32_t DBOpenCursor(tagSTMT*, SQLLEN* rows, std::uint32_t* granted, int) {
  *rows = 0;
  *granted = 0;
  return kSqlClientFailure;
}
std::int32_t DBExecute(tagSTMT*, int, SQLLEN* rows, int) {
  *rows = 0;
  return kSqlClientFailure;
}
std::int32_t DBInsert(tagSTMT*, SQLLEN) { return kSqlClientFailure; }
std::int32_t DBUpdate(tagSTMT*) { return kSqlClientFailure; }
std::int32_t DBDelete(tagSTMT*) { return kSqlClientFailure; }
std::int32_t DBResume(tagSTMT*, SQLLEN* result) {
  *result = 0;
  return kSqlClientFailure;
}
std::int32_t DBCloseCursor(tagSTMT*, int) { return kSqlClientFailure; }
std::int32_t DBUnPrepare(tagSTMT*) { return 0; }
std::int32_t DBUnPrepareVar(tagSTMT*) { return 0; }
