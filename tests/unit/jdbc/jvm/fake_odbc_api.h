// The scripted diagnostic records of fake_odbc_api.cpp.
#ifndef VQ_TESTS_JDBC_FAKE_ODBC_API_H
#define VQ_TESTS_JDBC_FAKE_ODBC_API_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace fake_odbc {

// The scripted state lives for the whole process and is never destroyed: threads of the
// Java VM may still call in while the process exits.

struct Record {
  std::string state;  // 5 characters
  std::int32_t native;
  std::u16string text;
};

// What SQLGetDiagRecW answers, record 1 first; and how often it was called.
extern std::vector<Record>& records;
extern int diag_reads;

// Every other call, one line each ("SQLSetConnectAttr 103 600"), in order.
extern std::vector<std::string>& calls;
// What SQLDriverConnectW answers.
extern short connect_result;
// SQLSetConnectAttr answers SQL_ERROR for this attribute (0: none). SQLGetConnectAttr
// answers the connection handle for 1906; SQLGetConnectAttrW 1905 widens the narrow
// bytes in place (one unit a byte).
extern int refused_attribute;

// A value SQLGetData hands out in pieces as a driver does (column and C type aside): each
// call writes what fits with the C type's terminator and reports the bytes that remained
// (or SQL_NO_TOTAL when `no_total`), SQL_SUCCESS_WITH_INFO while more follows and
// SQL_NO_DATA once it is used up. Inactive, SQLGetData answers SQL_ERROR.
struct GetDataScript {
  bool active = false;
  bool null = false;      // the value is NULL
  bool no_total = false;  // the remaining length is not told
  long claimed = 0;       // when not 0, told as the remaining length while more follows
  std::string value;
  std::size_t offset = 0;  // bytes handed out so far
  int calls = 0;
};
extern GetDataScript& get_data;

// SQLBindParameter's calls as they arrived (each answers SQL_SUCCESS).
struct BindCall {
  unsigned short number;
  short direction;
  short cType;
  void* target;
  long bufferLength;
  void* indicator;
};
extern std::vector<BindCall>& binds;

// A catalog function's call as it arrived: its name, statement handle, text arguments
// (pointer, length and the text read from it; "<null>" for a null pointer) and its
// number arguments, each in the order of the function's parameters.
struct CatalogText {
  const void* pointer;
  long length;
  std::string text;
};
struct CatalogCall {
  std::string function;
  void* statement;
  std::vector<CatalogText> texts;
  std::vector<long> numbers;
};
extern std::vector<CatalogCall>& catalog_calls;
// What every catalog function answers (SQL_ERROR unless a test sets it).
extern short catalog_result;

// What SQLGetInfo and SQLGetInfoW answer for an item: the result, the bytes written (as
// many as the buffer takes) and the length reported. Without an answer SQLGetInfo writes
// the 32-bit SQL_GD_ANY_ORDER | SQL_GD_BOUND (the connect's item 81) and SQLGetInfoW
// answers SQL_ERROR.
struct InfoAnswer {
  short result;
  std::string bytes;
  short reported;
};
extern std::map<int, InfoAnswer>& info_answers;

}  // namespace fake_odbc

#endif  // VQ_TESTS_JDBC_FAKE_ODBC_API_H
