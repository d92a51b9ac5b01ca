// Errors of the engine interface's own start-up and of connection set-up: 0 and the
// codes from -30000 upward, each with its message number, the kind of the message's
// argument and its SQLSTATE number, both in the engine interface's numbering.
#ifndef VQ_UTILS_LOCALE_DB_INIT_ERROR_H
#define VQ_UTILS_LOCALE_DB_INIT_ERROR_H

#include <cstdint>

class UTLangStringBase;

typedef std::int32_t a_db_init_error;

struct a_db_init_error_map {
  a_db_init_error error;
  std::uint32_t message_id;     // kDBInitNoMessage: the code has no message of its own
  std::int32_t parameter_type;  // 0 to 10
  std::int32_t sqlstate;        // the state's number
};

constexpr std::uint32_t kDBInitNoMessage = 5096;
constexpr a_db_init_error kDBInitMapEnd = -30001;

// The map in its fixed order, closed by a row with error kDBInitMapEnd.
extern const a_db_init_error_map DBInitErrorMap[];

// True and id = the row's message id when the code has a row with a message of its
// own; else false and id = 0.
bool MapADBInitError(a_db_init_error error, unsigned long& id);
// The row's message id when the form above succeeds, else the errno message id of the
// same number.
unsigned long MapADBInitError(a_db_init_error error);
// The row's SQLSTATE number; 1005 for a code without row.
std::int32_t DBInitErrorSQLSTATE(a_db_init_error error);
// The row's parameter type; 10 for a code without row.
std::int32_t DBInitErrorParmType(a_db_init_error error);
// Formats the code's message with arg1 and arg2 as "%1" and "%2"; returns buf.
char* MapADBInitErrorToString(UTLangStringBase& strings, a_db_init_error error, char* buf,
                              unsigned int size, const char* arg1, const char* arg2);

#endif  // VQ_UTILS_LOCALE_DB_INIT_ERROR_H
