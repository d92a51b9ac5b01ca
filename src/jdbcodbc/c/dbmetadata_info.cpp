// SQLGetInfo on the connection's handle for the metadata peer: the raw call, the "Y"/"N"
// items and the string items. Diagnostics go through the peer's sqlError, so a warning
// becomes the metadata object's warning chain and an error a pending SQLException.
#include "jdbcodbc/c/dbmetadata.h"

#include <algorithm>

namespace {

constexpr SQLSMALLINT kYNBytes = 16;
constexpr SQLSMALLINT kStringBytes = 8192;

}  // namespace

bool DatabaseMetaData::getSQLInfo(JNIEnv* env, SQLUSMALLINT item, void* buffer,
                                  SQLSMALLINT bufferLength, SQLSMALLINT* stringLength) {
  const SQLHDBC dbc = odbcHandle();
  const SQLRETURN rc = SQLGetInfo(dbc, item, buffer, bufferLength, stringLength);
  return !sqlError(env, rc, SQL_HANDLE_DBC, dbc);
}

bool DatabaseMetaData::getSQLInfoYN(JNIEnv* env, SQLUSMALLINT item) {
  char answer[kYNBytes] = {};
  if (!getSQLInfo(env, item, answer, kYNBytes, nullptr)) return false;
  return answer[0] == 'Y';
}

jstring DatabaseMetaData::getSQLInfoString(JNIEnv* env, SQLUSMALLINT item) {
  SQLWCHAR text[kStringBytes / sizeof(SQLWCHAR)] = {};
  SQLSMALLINT bytes = 0;
  const SQLHDBC dbc = odbcHandle();
  const SQLRETURN rc = SQLGetInfoW(dbc, item, text, kStringBytes, &bytes);
  if (sqlError(env, rc, SQL_HANDLE_DBC, dbc) || !SQL_SUCCEEDED(rc)) return nullptr;
  // A longer answer was cut by the driver: the reported length may exceed what the
  // buffer holds (the terminator included), and only what it holds is read.
  const SQLSMALLINT maxBytes = kStringBytes - static_cast<SQLSMALLINT>(sizeof(SQLWCHAR));
  const SQLSMALLINT used = std::max<SQLSMALLINT>(0, std::min(bytes, maxBytes));
  return env->NewString(reinterpret_cast<const jchar*>(text), used / 2);
}
