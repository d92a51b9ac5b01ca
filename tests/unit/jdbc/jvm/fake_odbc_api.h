// The scripted diagnostic records of fake_odbc_api.cpp.
#ifndef VQ_TESTS_JDBC_FAKE_ODBC_API_H
#define VQ_TESTS_JDBC_FAKE_ODBC_API_H

#include <cstdint>
#include <string>
#include <vector>

namespace fake_odbc {

struct Record {
  std::string state;  // 5 characters
  std::int32_t native;
  std::u16string text;
};

// What SQLGetDiagRecW answers, record 1 first; and how often it was called.
extern std::vector<Record> records;
extern int diag_reads;

// Every other call, one line each ("SQLSetConnectAttr 103 600"), in order.
extern std::vector<std::string> calls;
// What SQLDriverConnectW answers.
extern short connect_result;
// SQLSetConnectAttr answers SQL_ERROR for this attribute (0: none). SQLGetConnectAttr
// answers the connection handle for 1906; SQLGetConnectAttrW 1905 widens the narrow
// bytes in place (one unit a byte).
extern int refused_attribute;

}  // namespace fake_odbc

#endif  // VQ_TESTS_JDBC_FAKE_ODBC_API_H
