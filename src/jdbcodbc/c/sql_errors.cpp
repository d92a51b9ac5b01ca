// ODBC diagnostics into Java: an error becomes a thrown chain of SQLException objects,
// a success with information a chain of SQLWarning objects that the peer keeps until
// Java asks. Records keep their order: record 1 is the head of the chain.
#include <algorithm>
#include <iterator>

#include "jdbcodbc/c/misccls.h"
#include "jdbcodbc/c/nativeobj.h"
#include "jdbcodbc/c/odbcw.h"
#include "utils/base/assertions.h"

namespace {

constexpr SQLSMALLINT kMessageUnits = 1024;  // the longest reason that reaches Java
constexpr int kStateUnits = 5;

// One diagnostic record as SQLGetDiagRecW gives it.
struct DiagRecord {
  SQLWCHAR state[kStateUnits + 1];
  SQLINTEGER native;
  SQLWCHAR text[kMessageUnits + 1];
  SQLSMALLINT textLength;
};

SQLRETURN ReadRecord(SQLSMALLINT handleType, SQLHANDLE handle, SQLSMALLINT number,
                     DiagRecord* rec) {
  std::fill(std::begin(rec->state), std::end(rec->state), SQLWCHAR{0});
  std::fill(std::begin(rec->text), std::end(rec->text), SQLWCHAR{0});
  rec->native = 0;
  rec->textLength = 0;
  return SQLGetDiagRecW(handleType, handle, number, rec->state, &rec->native, rec->text,
                        kMessageUnits, &rec->textLength);
}

bool StateIs(const DiagRecord& rec, const char* state) {
  for (int i = 0; i < kStateUnits; ++i)
    if (rec.state[i] != static_cast<SQLWCHAR>(state[i])) return false;
  return true;
}

// The reason's length: what the driver reported, but never past the text it wrote (a
// truncated message reports its full length).
int ReasonUnits(const DiagRecord& rec) {
  int units = std::min<int>(std::max<int>(rec.textLength, 0), kMessageUnits);
  int written = 0;
  while (written < units && rec.text[written] != 0) ++written;
  return written;
}

// Makes the Java object of one record and appends it to the chain of `head`; null (and
// an exception pending) when it cannot be made.
jobject MakeRecordObject(JNIEnv* env, SQLErrorClasses* cls, jobject head, const DiagRecord& rec) {
  jstring reason = env->NewString(reinterpret_cast<const jchar*>(rec.text), ReasonUnits(rec));
  if (reason == nullptr) return nullptr;
  jstring state = env->NewString(reinterpret_cast<const jchar*>(rec.state), kStateUnits);
  jobject made = nullptr;
  if (state != nullptr) {
    made = cls->createOrAppendSQLError(env, head, reason, state, rec.native);
    env->DeleteLocalRef(state);
  }
  env->DeleteLocalRef(reason);
  return made;
}

void ThrowChain(JNIEnv* env, jobject head, int line) {
  if (env->Throw(static_cast<jthrowable>(head)) != 0)
    UT_AssertStrFn("Failed to throw a SQLException", "jdbcodbc/c/nativeobj", line);
}

}  // namespace

jobject NativeObjSharedEnv::sqlError(JNIEnv* env, SQLRETURN rc, SQLSMALLINT handleType,
                                     SQLHANDLE handle, Connection*, bool* isWarning,
                                     bool skip01004, bool skipHY010) {
  *isWarning = false;
  jobject head = nullptr;
  SQLErrorClasses* cls = nullptr;
  switch (rc) {
    case SQL_SUCCESS_WITH_INFO:
      *isWarning = true;
      cls = sqlWarningClass();
      break;
    case SQL_ERROR:
      cls = sqlExceptionClass();
      break;
    case SQL_INVALID_HANDLE: {
      IResourceClass* resource = iResourceClass();
      if (resource == nullptr || sqlExceptionClass() == nullptr) {
        raiseError(env, "BAD_ODBC_HANDLE");
        return nullptr;
      }
      jstring reason = resource->getString(env, "BAD_ODBC_HANDLE", 0);
      jstring state = (reason != nullptr && !env->ExceptionCheck()) ? env->NewStringUTF("HY000")
                                                                   : nullptr;
      if (state != nullptr)
        head = sqlExceptionClass()->createOrAppendSQLError(env, nullptr, reason, state, -1);
      if (state != nullptr) env->DeleteLocalRef(state);
      if (reason != nullptr) env->DeleteLocalRef(reason);
      break;
    }
    default:  // SQL_SUCCESS, SQL_STILL_EXECUTING, SQL_NEED_DATA, SQL_NO_DATA
      return nullptr;
  }

  if (cls == nullptr && head == nullptr && rc != SQL_INVALID_HANDLE) {
    raiseError(env, "BAD_ODBC_HANDLE");  // no initEnv: nothing to build the chain with
    return nullptr;
  }
  if (cls != nullptr) {
    DiagRecord rec;
    for (SQLSMALLINT number = 1; number > 0; ++number) {
      const SQLRETURN read = ReadRecord(handleType, handle, number, &rec);
      if (read != SQL_SUCCESS && read != SQL_SUCCESS_WITH_INFO) break;
      if ((skip01004 && StateIs(rec, "01004")) || (skipHY010 && StateIs(rec, "HY010"))) continue;
      jobject made = MakeRecordObject(env, cls, head, rec);
      // A record that cannot be made ends the chain at the record before it; its
      // exception is pending and no further JNI call may follow.
      if (made == nullptr) break;
      if (head == nullptr) {
        head = made;
      } else {
        env->DeleteLocalRef(made);
      }
      if (env->ExceptionCheck()) break;  // setNext failed
    }
  }
  if (env->ExceptionCheck()) {
    // The first failure on the path is the one Java sees.
    if (head != nullptr) env->DeleteLocalRef(head);
    return nullptr;
  }
  if (head != nullptr && !*isWarning) ThrowChain(env, head, 513);
  return head;
}

jobject NativeObjSharedEnv::throwError(JNIEnv* env, SQLRETURN rc, SQLHENV henv, SQLHDBC hdbc,
                                       SQLHSTMT hstmt, bool skipHY010) {
  if (rc >= 0 || env->ExceptionCheck()) return nullptr;
  SQLSMALLINT type = SQL_HANDLE_ENV;
  SQLHANDLE handle = henv;
  if (hstmt != SQL_NULL_HSTMT) {
    type = SQL_HANDLE_STMT;
    handle = hstmt;
  } else if (hdbc != SQL_NULL_HDBC) {
    type = SQL_HANDLE_DBC;
    handle = hdbc;
  }
  DiagRecord rec;
  const SQLRETURN read = ReadRecord(type, handle, 1, &rec);
  if (read != SQL_SUCCESS && read != SQL_SUCCESS_WITH_INFO) return nullptr;
  if (skipHY010 && StateIs(rec, "HY010")) return nullptr;
  SQLErrorClasses* cls = sqlExceptionClass();
  if (cls == nullptr) return nullptr;
  jobject error = MakeRecordObject(env, cls, nullptr, rec);
  if (error == nullptr) return nullptr;
  ThrowChain(env, error, 379);
  return error;
}

bool NativeWarnObj::sqlError(JNIEnv* env, SQLRETURN rc, SQLSMALLINT handleType,
                             SQLHANDLE handle, bool skip01004, bool skipHY010) {
  if (env->ExceptionCheck()) return true;
  bool isWarning = false;
  jobject head = NOSE()->sqlError(env, rc, handleType, handle, getNConnection(), &isWarning,
                                  skip01004, skipHY010);
  if (env->ExceptionCheck()) {
    if (head != nullptr) env->DeleteLocalRef(head);
    return true;
  }
  if (head == nullptr) return false;
  // A new warning chain replaces the pending one.
  jobject kept = env->NewGlobalRef(head);
  env->DeleteLocalRef(head);
  if (kept == nullptr) {
    NOSE()->raiseError(env, "OUT_OF_MEMORY");
    return true;
  }
  clearWarnings(env);
  warnings = kept;
  return false;
}
