// The shared environment, the peer base classes, the Java class base family and the
// library's load and unload hooks.
#include "jdbcodbc/c/nativeobj.h"

#include <pthread.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "jdbcodbc/c/misccls.h"
#include "odbc/library_start.h"
#include "utils/base/assertions.h"
#include "vqtasks.h"

namespace {

constexpr char kBaseNameTail[] = "tovrak/jdbc/vellumcrest";
constexpr std::size_t kBaseNameLength = sizeof(kBaseNameTail) - 1;  // 23 characters
static_assert(kBaseNameLength == 23, "the package prefix the rewrite replaces");

// The process-wide state beside the shared environment. The pointer is published with
// release order once the mutexes and the object are made, so a reader that sees it with
// acquire order sees them whole and needs no lock; the start mutex only serialises the
// making (and the unload, which no native may overlap).
std::atomic<NativeObjSharedEnv*> g_sharedEnv{nullptr};
a_ut_safe_pthread_mutex_t g_envMutex{nullptr};    // init and allocEnv
a_ut_safe_pthread_mutex_t g_jobjMutex{nullptr};   // creation of Java peers
a_ut_safe_pthread_mutex_t g_nhandleMutex{nullptr};  // every access of "nhandle"
// Guards the creation of the state above when NOSE() runs before any JNI_OnLoad. A plain
// pthread mutex: nothing on the load and unload paths can throw.
pthread_mutex_t g_startMutex = PTHREAD_MUTEX_INITIALIZER;

class StartLock {
 public:
  StartLock() { pthread_mutex_lock(&g_startMutex); }
  ~StartLock() { pthread_mutex_unlock(&g_startMutex); }
  StartLock(const StartLock&) = delete;
  StartLock& operator=(const StartLock&) = delete;
};

void Lock(a_ut_safe_pthread_mutex_t& m) {
  if (m.handle != nullptr) pthread_mutex_lock(m.handle);
}
void Unlock(a_ut_safe_pthread_mutex_t& m) {
  if (m.handle != nullptr) pthread_mutex_unlock(m.handle);
}

void CreateSharedState() {
  ut_safe_pthread_mutex_init(&g_envMutex, nullptr);
  ut_safe_pthread_mutex_init(&g_jobjMutex, nullptr);
  ut_safe_pthread_mutex_init(&g_nhandleMutex, nullptr);
  g_sharedEnv.store(new NativeObjSharedEnv(), std::memory_order_release);
}

template <class Wrapper, class... Args>
JavaClass* Make(JNIEnv* env, Args... args) {
  return new Wrapper(env, args...);
}

}  // namespace

// ---- Shared environment -------------------------------------------------------------------

NativeObjSharedEnv* NOSE() {
  // Every native calls this: once made, the environment is read without the lock.
  if (NativeObjSharedEnv* made = g_sharedEnv.load(std::memory_order_acquire)) return made;
  StartLock guard;
  if (g_sharedEnv.load(std::memory_order_relaxed) == nullptr) {
    JDBC_INIT();
    CreateSharedState();
  }
  return g_sharedEnv.load(std::memory_order_relaxed);
}

void LockNhandle() { Lock(g_nhandleMutex); }
void UnlockNhandle() { Unlock(g_nhandleMutex); }

void NativeObjSharedEnv::init(JNIEnv* env, int version, bool singleLock) {
  Lock(g_envMutex);
  if (wrappers_[kObject] == nullptr) {
    version_ = version;
    singleLock_ = singleLock ? 1 : 0;
    for (int slot = 0; slot < kWrapperCount && !env->ExceptionCheck(); ++slot) {
      // Field order, except that the Blob wrapper is made before the Reader wrapper.
      const int made = slot == kReader ? kBlob : slot == kBlob ? kReader : slot;
      JavaClass* w = nullptr;
      switch (made) {
        case kObject: w = Make<ObjectClass>(env); break;
        case kString: w = Make<StringClass>(env); break;
        case kSQLException: w = Make<SQLErrorClasses>(env, 0); break;
        case kSQLWarning: w = Make<SQLErrorClasses>(env, 1); break;
        case kCalendar: w = Make<CalendarClass>(env); break;
        case kStringReader: w = Make<StringReaderClass>(env); break;
        case kClobStringReader: w = Make<ClobStringReaderClass>(env); break;
        case kByteArrayInputStream: w = Make<ByteArrayInputStreamClass>(env); break;
        case kBigDecimal: w = Make<BigDecimalClass>(env); break;
        case kBigInteger: w = Make<BigIntegerClass>(env); break;
        case kINative: w = Make<INativeClass>(env); break;
        case kIConnection: w = Make<IConnectionClass>(env); break;
        case kIStatement:
          w = Make<ClosibleINativeClass>(env, "tovrak/jdbc/vellumcrest/IIStatement");
          break;
        case kIStatementCancelToken:
          w = Make<ClosibleINativeClass>(env, "tovrak/jdbc/vellumcrest/IStatementCancelToken");
          break;
        case kIPreparedStatement:
          w = Make<ClosibleINativeClass>(env, "tovrak/jdbc/vellumcrest/IIPreparedStatement");
          break;
        case kICallableStatement:
          w = Make<ClosibleINativeClass>(env, "tovrak/jdbc/vellumcrest/IICallableStatement");
          break;
        case kIResultSet: w = Make<IResultSetClass>(env); break;
        case kIStrAsciiStream: w = Make<IStrAsciiStreamClass>(env); break;
        case kIBinAsciiStream: w = Make<IBinAsciiStreamClass>(env); break;
        case kIResource: w = Make<IResourceClass>(env); break;
        case kDate: w = Make<SQLDateTimeClasses>(env, 0); break;
        case kTime: w = Make<SQLDateTimeClasses>(env, 1); break;
        case kTimestamp: w = Make<SQLDateTimeClasses>(env, 2); break;
        case kInputStream: w = Make<InputStreamClass>(env); break;
        case kReader: w = Make<ReaderClass>(env); break;
        case kBlob: w = Make<BlobClass>(env); break;
        case kIDatabaseMetaData:
          w = Make<ClosibleINativeClass>(env, "tovrak/jdbc/vellumcrest/IDatabaseMetaData");
          break;
        default: break;
      }
      wrappers_[made] = w;
    }
    // A missing member left its exception pending: a half-made set of wrappers would be
    // used as if it were whole, so none is kept and a later initEnv tries again.
    if (env->ExceptionCheck()) fini(env);
  }
  Unlock(g_envMutex);
}

void NativeObjSharedEnv::fini(JNIEnv* env) {
  for (JavaClass*& w : wrappers_) {
    if (w == nullptr) continue;
    w->fini(env);
    delete w;
    w = nullptr;
  }
}

SQLRETURN NativeObjSharedEnv::allocEnv(SQLHENV* out) {
  Lock(g_envMutex);
  if (henv_ == SQL_NULL_HENV) {
    const SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &henv_);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) {
      *out = henv_;
      henv_ = SQL_NULL_HENV;
      Unlock(g_envMutex);
      return rc;
    }
  }
  *out = henv_;
  Unlock(g_envMutex);
  return SQL_SUCCESS;
}

SQLHENV NativeObjSharedEnv::takeEnvHandle() {
  Lock(g_envMutex);
  SQLHENV h = henv_;
  henv_ = SQL_NULL_HENV;
  Unlock(g_envMutex);
  return h;
}

NativeObj* NativeObjSharedEnv::getNativeObj(JNIEnv* env, jobject obj) {
  INativeClass* native = iNativeClass();
  return native == nullptr ? nullptr : native->getNativeObj(env, obj);
}

namespace {

NativeObj* RaiseWhenMissing(NativeObjSharedEnv* shared, JNIEnv* env, NativeObj* peer,
                            const char* className) {
  if (peer == nullptr && !env->ExceptionCheck()) {
    jstring name = env->NewStringUTF(className);
    if (name != nullptr) {
      shared->raiseError(env, "NATIVE_ACCESS_ERROR", 1, name);
      env->DeleteLocalRef(name);
    }
  }
  return peer;
}

}  // namespace

NativeObj* NativeObjSharedEnv::getNonNullNativeObj(JNIEnv* env, jobject obj,
                                                   const char* className) {
  return RaiseWhenMissing(this, env, getNativeObj(env, obj), className);
}

NativeObj* NativeObjSharedEnv::raiseMissing(JNIEnv* env, const char* className) {
  return RaiseWhenMissing(this, env, nullptr, className);
}

NativeObj* NativeObjSharedEnv::closeNativeObj(JNIEnv* env, jobject obj, const char*) {
  NativeObj* peer = getNativeObj(env, obj);
  if (peer == nullptr) return nullptr;
  iNativeClass()->resetNativeHandle(env, obj);
  return peer;
}

void NativeObjSharedEnv::raiseError(JNIEnv* env, const char* key, int argCount, ...) {
  if (env->ExceptionCheck()) return;
  IResourceClass* resource = iResourceClass();
  SQLErrorClasses* errors = sqlExceptionClass();
  if (resource == nullptr || errors == nullptr) {
    // No initEnv yet: the key itself is the best message there is.
    jclass fallback = env->FindClass("java/sql/SQLException");
    if (fallback != nullptr) env->ThrowNew(fallback, key);
    return;
  }
  va_list args;
  va_start(args, argCount);
  jstring text = resource->getStringV(env, key, argCount, args);
  va_end(args);
  if (text == nullptr) return;  // IResource's own exception (if any) is pending
  errors->raiseSQLError(env, text);
  env->DeleteLocalRef(text);
}

StringClass* NativeObjSharedEnv::stringClass() const {
  return static_cast<StringClass*>(wrappers_[kString]);
}
SQLErrorClasses* NativeObjSharedEnv::sqlExceptionClass() const {
  return static_cast<SQLErrorClasses*>(wrappers_[kSQLException]);
}
SQLErrorClasses* NativeObjSharedEnv::sqlWarningClass() const {
  return static_cast<SQLErrorClasses*>(wrappers_[kSQLWarning]);
}
IConnectionClass* NativeObjSharedEnv::iConnectionClass() const {
  return static_cast<IConnectionClass*>(wrappers_[kIConnection]);
}
IResourceClass* NativeObjSharedEnv::iResourceClass() const {
  return static_cast<IResourceClass*>(wrappers_[kIResource]);
}

// ---- Java class base family ----------------------------------------------------------------

bool RewriteClassName(int level, const char* name, char* out, std::size_t size) {
  const char* insert = "";
  const char* rest = name;
  const char* prefix = "";
  if (level != 0 && std::strncmp(name, kBaseNameTail, kBaseNameLength) == 0) {
    rest = name + kBaseNameLength;
    if (level == 4) {
      prefix = "tovrak/jdbc4/vellumcrest";
    } else {
      prefix = kBaseNameTail;
      insert = "/jdbc3";
    }
  }
  const int n = std::snprintf(out, size, "%s%s%s", prefix, insert, rest);
  return n >= 0 && static_cast<std::size_t>(n) < size;
}

JavaClass::JavaClass(JNIEnv* env, const char* name) {
  char lookup[256];
  jclass local = nullptr;
  if (RewriteClassName(NOSE()->version(), name, lookup, sizeof(lookup)))
    local = env->FindClass(lookup);
  if (local != nullptr) {
    cls = static_cast<jclass>(env->NewGlobalRef(local));
    env->DeleteLocalRef(local);
  }
  if (cls == nullptr)
    UT_AssertStrFn("Cannot not load %s", "jdbcodbc/c/nativeobj", 582, lookup);
}

void JavaClass::fini(JNIEnv* env) {
  if (cls != nullptr) env->DeleteGlobalRef(cls);
  cls = nullptr;
}

jmethodID JavaClass::getConstructorMID(JNIEnv* env, const char* signature) {
  return method(env, "<init>", signature);
}

jmethodID JavaClass::method(JNIEnv* env, const char* name, const char* signature) {
  if (cls == nullptr || env->ExceptionCheck()) return nullptr;
  return env->GetMethodID(cls, name, signature);
}

jmethodID JavaClass::staticMethod(JNIEnv* env, const char* name, const char* signature) {
  if (cls == nullptr || env->ExceptionCheck()) return nullptr;
  return env->GetStaticMethodID(cls, name, signature);
}

jfieldID JavaClass::field(JNIEnv* env, const char* name, const char* signature) {
  if (cls == nullptr || env->ExceptionCheck()) return nullptr;
  return env->GetFieldID(cls, name, signature);
}

INativeClass::INativeClass(JNIEnv* env) : JavaClass(env, "tovrak/jdbc/vellumcrest/INative") {
  nhandle_ = field(env, "nhandle", "J");
}

NativeObj* INativeClass::getNativeObj(JNIEnv* env, jobject obj) {
  if (obj == nullptr) return nullptr;
  LockNhandle();
  const jlong handle = env->GetLongField(obj, nhandle_);
  UnlockNhandle();
  return NativeObj::toNativeObj(handle);
}

void INativeClass::setNativeHandle(JNIEnv* env, jobject obj, jlong handle) {
  if (obj == nullptr) return;
  LockNhandle();
  env->SetLongField(obj, nhandle_, handle);
  UnlockNhandle();
}

ConstructibleINativeClass::ConstructibleINativeClass(JNIEnv* env, const char* name)
    : JavaClass(env, name) {
  init_ = getConstructorMID(env, "(J)V");
}

jobject ConstructibleINativeClass::constructJavaObj(JNIEnv* env, jlong handle) {
  jvalue arg;
  arg.j = handle;
  return env->NewObjectA(cls, init_, &arg);
}

ClosibleINativeClass::ClosibleINativeClass(JNIEnv* env, const char* name)
    : ConstructibleINativeClass(env, name) {
  close_ = method(env, "close", "()V");
  nFree_ = method(env, "nFree", "()V");
}

void ClosibleINativeClass::close(JNIEnv* env, jobject obj) {
  env->CallVoidMethodA(obj, close_, nullptr);
}

void ClosibleINativeClass::nFree(JNIEnv* env, jobject obj) {
  env->CallVoidMethodA(obj, nFree_, nullptr);
}

// ---- Peers -------------------------------------------------------------------------------------

void NativeObj::fini(JNIEnv* env) { removeJavaReference(env); }

jobject NativeObj::createJobj(JNIEnv* env) {
  ConstructibleINativeClass* cls = getConstructibleINativeClass();
  if (cls == nullptr) return nullptr;
  jobject local = cls->constructJavaObj(env, toNHandle(this));
  if (local == nullptr || env->ExceptionCheck()) return nullptr;
  jobj = env->NewGlobalRef(local);
  env->DeleteLocalRef(local);
  if (jobj == nullptr) NOSE()->raiseError(env, "OUT_OF_MEMORY");
  return jobj;
}

void NativeObj::getJobjMutex() {
  if (!NOSE()->singleLock()) Lock(g_jobjMutex);
}

void NativeObj::giveJobjMutex() {
  if (!NOSE()->singleLock()) Unlock(g_jobjMutex);
}

void NativeObj::resetNativeHandle(JNIEnv* env, jobject obj) {
  if (INativeClass* native = NOSE()->iNativeClass()) native->resetNativeHandle(env, obj);
}

void NativeObj::removeJavaReference(JNIEnv* env) {
  if (jobj == nullptr) return;
  {
    // Teardown also runs after a failure whose exception is pending.
    PendingExceptionScope pending(env);
    resetNativeHandle(env, jobj);
  }
  env->DeleteGlobalRef(jobj);
  jobj = nullptr;
}

void NativeWarnObj::fini(JNIEnv* env) {
  clearWarnings(env);
  NativeObj::fini(env);
}

void NativeWarnObj::clearWarnings(JNIEnv* env) {
  if (warnings != nullptr) env->DeleteGlobalRef(warnings);
  warnings = nullptr;
}

PendingExceptionScope::PendingExceptionScope(JNIEnv* env) : env_(env) {
  if (env_->ExceptionCheck()) {
    pending_ = env_->ExceptionOccurred();
    env_->ExceptionClear();
  }
}

PendingExceptionScope::~PendingExceptionScope() {
  if (pending_ == nullptr) return;
  // An exception raised meanwhile gives way to the first one, which Java must see.
  if (env_->ExceptionCheck()) env_->ExceptionClear();
  env_->Throw(pending_);
  env_->DeleteLocalRef(pending_);
}

// ---- Library hooks -------------------------------------------------------------------------------

extern "C" JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM*, void*) {
  StartLock guard;
  JDBC_INIT();
  if (g_sharedEnv.load(std::memory_order_relaxed) == nullptr) CreateSharedState();
  return JNI_VERSION_1_2;
}

extern "C" JNIEXPORT void JNICALL JNI_OnUnload(JavaVM*, void*) {
  NativeObjSharedEnv* shared = nullptr;
  {
    StartLock guard;
    shared = g_sharedEnv.exchange(nullptr, std::memory_order_acq_rel);
  }
  // Outside the start mutex: takeEnvHandle takes the environment mutex, which init holds
  // while it calls NOSE().
  if (shared != nullptr) {
    SQLHENV henv = shared->takeEnvHandle();
    if (henv != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, henv);
    delete shared;
  }
  ut_safe_pthread_mutex_destroy(&g_envMutex);
  ut_safe_pthread_mutex_destroy(&g_jobjMutex);
  ut_safe_pthread_mutex_destroy(&g_nhandleMutex);
  JDBC_FINI();
}
