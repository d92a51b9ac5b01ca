// Lookups in the server error table and the unpacking of SQLSTATEs.
#include "cmdseq/errors/error_table.h"

void CmdSeqGetStateString(a_packed_sqlstate packed, char* out) {
  if (out == nullptr) return;
  for (int i = 0; i < 5; ++i) {
    out[i] = static_cast<char>('0' + ((packed >> (6 * (4 - i))) & 0x3F));
  }
  out[5] = '\0';
}

const a_cmdseq_error_map* GetErrorMapForSQLCode(std::int32_t sqlcode) {
  if (sqlcode < AllErrorsMapping[0].sqlcode ||
      sqlcode > AllErrorsMapping[kErrorMapRows - 1].sqlcode) {
    return nullptr;
  }
  std::size_t low = 0;
  std::size_t high = kErrorMapRows;  // the answer lies in [low, high)
  while (low < high) {
    const std::size_t mid = low + (high - low) / 2;
    const std::int32_t code = AllErrorsMapping[mid].sqlcode;
    if (code == sqlcode) return &AllErrorsMapping[mid];
    if (code < sqlcode) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  return nullptr;
}

const a_cmdseq_error_map* GetErrorMapForSQLState(a_packed_sqlstate packed) {
  for (std::size_t i = 0; i < kErrorMapRows; ++i) {
    if (AllErrorsMapping[i].server_state == packed) return &AllErrorsMapping[i];
  }
  return nullptr;
}

const a_cmdseq_error_map* GetErrorMapForTVKCode(std::int32_t number) {
  for (std::size_t i = 0; i < kErrorMapRows; ++i) {
    if (AllErrorsMapping[i].compat_number == number) return &AllErrorsMapping[i];
  }
  return nullptr;
}
