// The engine interface's initialisation error map and its lookups.
#include "utils/locale/db_init_error.h"

#include "utils/locale/lang_string.h"

// {error, message id, parameter type, SQLSTATE number}; lookups take the first row
// with the code.
// clang-format off
const a_db_init_error_map DBInitErrorMap[] = {
    {0, 5309, 9, 0},
    {-30000, 5306, 1, 455},
    {-29999, 5328, 1, 994},
    {-29998, 5312, 1, 454},
    {-29997, 5300, 1, 453},
    {-29996, 5307, 1, 1005},
    {-29995, 5311, 2, 1005},
    {-29994, 5313, 1, 1005},
    {-29993, 8823, 5, 524},
    {-29992, 8824, 5, 447},
    {-29991, 5298, 2, 442},
    {-29990, 5304, 2, 449},
    {-29989, 5301, 2, 452},
    {-29988, 5295, 2, 443},
    {-29987, 5296, 2, 446},
    {-29986, 5297, 2, 444},
    {-29985, 5091, 2, 445},
    {-29984, 14511, 10, 1005},
    {-29983, 14512, 10, 1005},
    {-29982, 5302, 3, 451},
    {-29981, 5303, 4, 450},
    {-29980, 5363, 0, 768},
    {-29979, 5364, 0, 767},
    {-29978, 7823, 0, 1005},
    {-29977, 7824, 0, 713},
    {-29976, 9800, 1, 627},
    {-29975, 9311, 1, 603},
    {-29974, 9312, 1, 603},
    {-29973, 9313, 0, 448},
    {-29972, 13972, 6, 1005},
    {-29971, 14909, 0, 1005},
    {-29970, 10081, 0, 1005},
    {-29969, 9333, 0, 1005},
    {-29968, 5096, 9, 1005},
    {-29967, 2031, 1, 980},
    {-29966, 5096, 9, 977},
    {-29965, 5096, 9, 1005},
    {-29964, 5096, 9, 1005},
    {-29963, 5096, 9, 1005},
    {-29962, 2463, 9, 1000},
    {-29961, 5096, 9, 1005},
    {-29960, 5096, 9, 1005},
    {-29959, 5096, 9, 1005},
    {-29958, 5096, 9, 1005},
    {-29957, 5096, 9, 1005},
    {-29956, 2638, 1, 486},
    {-29955, 14938, 1, 405},
    {-29954, 15020, 1, 1005},
    {-29953, 15115, 1, 393},
    {-29952, 17347, 1, 579},
    {-29951, 17394, 1, 346},
    {-29950, 17739, 1, 330},
    {-29949, 17740, 1, 329},
    {-29948, 17900, 0, 292},
    {-29947, 18004, 0, 1005},
    {-29946, 18218, 1, 1005},
    {-29945, 25099, 8, 1005},
    {-29944, 18476, 0, 1005},
    {kDBInitMapEnd, 0, 0, 0},
};
// clang-format on

namespace {

const a_db_init_error_map* FindRow(a_db_init_error error) {
  for (const a_db_init_error_map* row = DBInitErrorMap; row->error != kDBInitMapEnd; ++row) {
    if (row->error == error) return row;
  }
  return nullptr;
}

}  // namespace

bool MapADBInitError(a_db_init_error error, unsigned long& id) {
  const a_db_init_error_map* row = FindRow(error);
  if (row == nullptr || row->message_id == kDBInitNoMessage) {
    id = 0;
    return false;
  }
  id = row->message_id;
  return true;
}

unsigned long MapADBInitError(a_db_init_error error) {
  unsigned long id;
  if (MapADBInitError(error, id)) return id;
  return UTLangStringBase::GetStrerrorStringID(error);
}

std::int32_t DBInitErrorSQLSTATE(a_db_init_error error) {
  const a_db_init_error_map* row = FindRow(error);
  return row != nullptr ? row->sqlstate : 1005;
}

std::int32_t DBInitErrorParmType(a_db_init_error error) {
  const a_db_init_error_map* row = FindRow(error);
  return row != nullptr ? row->parameter_type : 10;
}

char* MapADBInitErrorToString(UTLangStringBase& strings, a_db_init_error error, char* buf,
                              unsigned int size, const char* arg1, const char* arg2) {
  strings.FormatMiscLangStr(MapADBInitError(error), buf, size, arg1, arg2);
  return buf;
}
