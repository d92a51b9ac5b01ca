// Server messages and file-transfer requests, from the driver up into Java, and the Java
// connection's upcalls (messages, file transfers, date/time parsing and formatting, truth
// of a text).
//
// A connection that registers joins a process-wide registry, searched by the identity the
// driver passes back with every callback (its connection handle, attribute 1906). The
// callbacks arrive on any thread: a Java thread inside a request, or a thread of the
// client library that the VM has never seen, which is attached for the call and detached
// again. The search copies what the upcall needs (a local reference to the Java
// connection among it) under the registry mutex and makes the upcall after releasing it:
// a Java handler may close its connection, and a closing connection waits for that mutex
// in fini. Once fini has left the registries no callback reaches the connection.
//
// An exception thrown by a Java handler (or raised on the way to it) is cleared before
// the callback returns: the driver goes on with its request, and the Java thread under it
// must not make further JNI calls with an exception pending. A file transfer whose handler
// threw is refused.
#include <pthread.h>

#include <cstring>
#include <vector>

#include "jdbcodbc/c/connection.h"
#include "jdbcodbc/c/misccls.h"
#include "jdbcodbc/c/nativeobj.h"

namespace {

// Driver-specific connection attributes of the callbacks.
constexpr SQLINTEGER kAttrMessageCallback = 1904;      // narrow message callback
constexpr SQLINTEGER kAttrNarrowToWide = 1905;         // text conversion service
constexpr SQLINTEGER kAttrConnectionIdentity = 1906;   // what the callbacks receive
constexpr SQLINTEGER kAttrFileTransferCallback = 1910;  // file-transfer approval
constexpr SQLINTEGER kAttrWideMessageCallback = 1912;  // UTF-16 message callback

// The vendor code of a message's warning: its type with this bit.
constexpr jint kMessageVendorBit = 0x80;

struct Registration {
  SQLHDBC identity;        // the driver's identity of the connection (attribute 1906)
  Connection* connection;  // the peer; valid while registered
  jobject jconnection;     // the peer's global reference to its Java object
  SQLHDBC hdbc;            // for the text conversion service
  JavaVM* vm;
  jint version;            // JNI version recorded at registration
  bool wide;               // message texts arrive as UTF-16 (1912 accepted)
};

// Both registries and the mutex that guards them. A static initialiser: nothing here can
// fail or throw on a callback thread.
pthread_mutex_t g_registryMutex = PTHREAD_MUTEX_INITIALIZER;
std::vector<Registration> g_messageRegistry;
std::vector<Registration> g_fileTransferRegistry;

class RegistryLock {
 public:
  RegistryLock() { pthread_mutex_lock(&g_registryMutex); }
  ~RegistryLock() { pthread_mutex_unlock(&g_registryMutex); }
  RegistryLock(const RegistryLock&) = delete;
  RegistryLock& operator=(const RegistryLock&) = delete;
};

bool IsRegistered(const std::vector<Registration>& registry, const Connection* connection) {
  for (const Registration& r : registry)
    if (r.connection == connection) return true;
  return false;
}

// What a callback needs of a registration, with a local reference of its own to the Java
// connection, so that the connection may go away meanwhile.
struct Target {
  jobject jconnection = nullptr;  // local reference; null: not registered
  SQLHDBC hdbc = SQL_NULL_HDBC;
  bool wide = false;
};

// A JNI environment for the calling thread: the thread's own, or one attached for the
// call and detached when this goes out of scope.
class ThreadEnv {
 public:
  ThreadEnv(JavaVM* vm, jint version) : vm_(vm) {
    void* env = nullptr;
    if (vm->GetEnv(&env, version) == JNI_OK) {
      env_ = static_cast<JNIEnv*>(env);
    } else if (vm->AttachCurrentThread(&env, nullptr) == JNI_OK) {
      env_ = static_cast<JNIEnv*>(env);
      attached_ = true;
    }
  }
  ~ThreadEnv() {
    if (attached_) vm_->DetachCurrentThread();
  }
  ThreadEnv(const ThreadEnv&) = delete;
  ThreadEnv& operator=(const ThreadEnv&) = delete;

  JNIEnv* get() const { return env_; }

 private:
  JavaVM* vm_;
  JNIEnv* env_ = nullptr;
  bool attached_ = false;
};

// The VM and version of the identity's registration; false when it has none.
bool FindVm(std::vector<Registration>& registry, SQLHDBC identity, JavaVM** vm, jint* version) {
  RegistryLock lock;
  for (const Registration& r : registry) {
    if (r.identity == identity) {
      *vm = r.vm;
      *version = r.version;
      return true;
    }
  }
  return false;
}

Target Find(JNIEnv* env, std::vector<Registration>& registry, SQLHDBC identity) {
  Target target;
  RegistryLock lock;
  for (const Registration& r : registry) {
    if (r.identity == identity) {
      target.jconnection = env->NewLocalRef(r.jconnection);
      target.hdbc = r.hdbc;
      target.wide = r.wide;
      break;
    }
  }
  return target;
}

// Narrow text of `length` bytes as a Java string, converted by the driver's text
// conversion service (attribute 1905) into UTF-16 in place. Null when no buffer could be
// had ("OUT_OF_MEMORY" pending) or the driver could not convert.
jstring NarrowToJava(JNIEnv* env, SQLHDBC hdbc, const char* text, std::size_t length) {
  const std::size_t size = 2 * length + 4;
  auto* buffer = static_cast<char*>(NativeWarnObj::alloc(env, size));
  if (buffer == nullptr) return nullptr;
  if (length > 0) std::memcpy(buffer, text, length);
  SQLINTEGER count = static_cast<SQLINTEGER>(length);
  const SQLRETURN rc = SQLGetConnectAttrW(hdbc, kAttrNarrowToWide, buffer,
                                          static_cast<SQLINTEGER>(2 * length + 2), &count);
  jstring result = nullptr;
  if (SQL_SUCCEEDED(rc)) {
    // The count is the driver's; it never exceeds the room it was given.
    if (count < 0) count = 0;
    if (static_cast<std::size_t>(count) > 2 * length + 2) count = static_cast<SQLINTEGER>(2 * length + 2);
    std::vector<jchar> units(static_cast<std::size_t>(count / 2));
    if (!units.empty()) std::memcpy(units.data(), buffer, units.size() * 2);
    result = env->NewString(units.data(), static_cast<jsize>(units.size()));
  }
  NativeWarnObj::free(buffer);
  return result;
}

// The server message as a SQLWarning (reason, no SQLSTATE, vendor code type | 0x80) to
// the Java connection's message handler.
void HandleMessage(JNIEnv* env, const Target& target, unsigned char messageType,
                   unsigned short length, const char* text) {
  jstring reason = nullptr;
  if (target.wide) {
    // UTF-16, length in bytes.
    std::vector<jchar> units(length / 2);
    if (!units.empty() && text != nullptr) std::memcpy(units.data(), text, units.size() * 2);
    reason = env->NewString(units.data(), static_cast<jsize>(units.size()));
  } else {
    reason = NarrowToJava(env, target.hdbc, text != nullptr ? text : "", text != nullptr ? length : 0);
  }
  if (reason == nullptr) return;  // the message is dropped
  jobject warning = NOSE()->sqlWarningClass()->createOrAppendSQLError(
      env, nullptr, reason, nullptr, static_cast<jint>(messageType) | kMessageVendorBit);
  if (warning != nullptr && !env->ExceptionCheck())
    NOSE()->iConnectionClass()->callMessageHandler(env, target.jconnection, warning);
  if (warning != nullptr) env->DeleteLocalRef(warning);
  env->DeleteLocalRef(reason);
}

int HandleValidateFileTransferCallback(JNIEnv* env, const Target& target, const char* fileName,
                                       int value) {
  const char* name = fileName != nullptr ? fileName : "";
  jstring jname = NarrowToJava(env, target.hdbc, name, std::strlen(name));
  if (jname == nullptr) return 0;
  const jint answer = NOSE()->iConnectionClass()->callValidateFileTransferCallback(
      env, target.jconnection, jname, value);
  env->DeleteLocalRef(jname);
  return env->ExceptionCheck() ? 0 : answer;
}

}  // namespace

// ---- The callbacks the driver calls ------------------------------------------------------

extern "C" void jdbcMessageCallback(SQLHDBC identity, std::uint8_t messageType, std::int32_t,
                                    std::uint16_t length, const char* text) {
  JavaVM* vm = nullptr;
  jint version = 0;
  if (!FindVm(g_messageRegistry, identity, &vm, &version)) return;
  ThreadEnv threadEnv(vm, version);
  JNIEnv* env = threadEnv.get();
  if (env == nullptr) return;
  // A Java thread may come here with its own exception pending: set it aside.
  PendingExceptionScope pending(env);
  Target target = Find(env, g_messageRegistry, identity);
  if (target.jconnection == nullptr) return;
  HandleMessage(env, target, messageType, length, text);
  if (env->ExceptionCheck()) env->ExceptionClear();
  env->DeleteLocalRef(target.jconnection);
}

extern "C" int jdbcValidateFileTransferCallback(SQLHDBC identity, const char* fileName,
                                                int value) {
  JavaVM* vm = nullptr;
  jint version = 0;
  if (!FindVm(g_fileTransferRegistry, identity, &vm, &version)) return 0;
  // The request normally comes on the Java thread that runs the statement; a thread of
  // the client library is attached for the call all the same.
  ThreadEnv threadEnv(vm, version);
  JNIEnv* env = threadEnv.get();
  if (env == nullptr) return 0;
  PendingExceptionScope pending(env);
  Target target = Find(env, g_fileTransferRegistry, identity);
  if (target.jconnection == nullptr) return 0;
  const int answer = HandleValidateFileTransferCallback(env, target, fileName, value);
  if (env->ExceptionCheck()) env->ExceptionClear();
  env->DeleteLocalRef(target.jconnection);
  return answer;
}

// ---- Registration ----------------------------------------------------------------------------

namespace {

// Steps 3 to 6 of a registration once the driver accepted the callback: the identity,
// the VM, and the entry.
void Register(JNIEnv* env, Connection* connection, std::vector<Registration>& registry,
              bool wide) {
  SQLHDBC hdbc = connection->getODBCHandle();
  SQLPOINTER identity = nullptr;
  const SQLRETURN rc =
      SQLGetConnectAttr(hdbc, kAttrConnectionIdentity, &identity, SQL_IS_POINTER, nullptr);
  if (connection->sqlError(env, rc, SQL_HANDLE_DBC, hdbc)) return;
  JavaVM* vm = nullptr;
  if (env->GetJavaVM(&vm) != JNI_OK || vm == nullptr) return;
  Registration entry{static_cast<SQLHDBC>(identity), connection, connection->getJobj(), hdbc,
                     vm, env->GetVersion(), wide};
  RegistryLock lock;
  registry.push_back(entry);
}

}  // namespace

void Connection::setVSRMessageHandler(JNIEnv* env) {
  {
    RegistryLock lock;
    if (IsRegistered(g_messageRegistry, this)) return;
  }
  auto callback = reinterpret_cast<SQLPOINTER>(&jdbcMessageCallback);
  SQLRETURN rc = SQLSetConnectAttr(hdbc_, kAttrWideMessageCallback, callback, SQL_IS_POINTER);
  const bool wide = rc == SQL_SUCCESS;
  if (!wide) rc = SQLSetConnectAttr(hdbc_, kAttrMessageCallback, callback, SQL_IS_POINTER);
  if (sqlError(env, rc, SQL_HANDLE_DBC, hdbc_)) return;
  Register(env, this, g_messageRegistry, wide);
}

void Connection::setVCValidateFileTransferCallback(JNIEnv* env) {
  {
    RegistryLock lock;
    if (IsRegistered(g_fileTransferRegistry, this)) return;
  }
  auto callback = reinterpret_cast<SQLPOINTER>(&jdbcValidateFileTransferCallback);
  const SQLRETURN rc =
      SQLSetConnectAttr(hdbc_, kAttrFileTransferCallback, callback, SQL_IS_POINTER);
  if (sqlError(env, rc, SQL_HANDLE_DBC, hdbc_)) return;
  Register(env, this, g_fileTransferRegistry, false);
}

void Connection::leaveCallbackRegistries() {
  RegistryLock lock;
  for (auto* registry : {&g_messageRegistry, &g_fileTransferRegistry}) {
    for (auto it = registry->begin(); it != registry->end();) {
      if (it->connection == this)
        it = registry->erase(it);
      else
        ++it;
    }
  }
}

// ---- IConnectionClass upcalls ------------------------------------------------------------------

void IConnectionClass::callMessageHandler(JNIEnv* env, jobject connection, jobject warning) {
  jvalue arg;
  arg.l = warning;
  env->CallVoidMethodA(connection, callMessageHandler_, &arg);
  env->ExceptionCheck();  // the caller clears what the handler threw
}

jint IConnectionClass::callValidateFileTransferCallback(JNIEnv* env, jobject connection,
                                                        jstring fileName, jint value) {
  jvalue args[2];
  args[0].l = fileName;
  args[1].i = value;
  const jint answer = env->CallIntMethodA(connection, callValidateFileTransferCallback_, args);
  return env->ExceptionCheck() ? 0 : answer;
}

jboolean IConnectionClass::isTrue(JNIEnv* env, jobject connection, jstring text) {
  jvalue arg;
  arg.l = text;
  const jboolean answer = env->CallBooleanMethodA(connection, isTrue_, &arg);
  return env->ExceptionCheck() ? JNI_FALSE : answer;
}

jboolean IConnectionClass::convertPointToComma(JNIEnv* env, jobject connection) {
  const jboolean answer = env->CallBooleanMethodA(connection, convertPointToComma_, nullptr);
  return env->ExceptionCheck() ? JNI_FALSE : answer;
}

namespace {

CalendarClass* Calendars() {
  return static_cast<CalendarClass*>(NOSE()->wrapper(NativeObjSharedEnv::kCalendar));
}

// The Java connection's parser: its Calendar, or null (also after an exception).
jobject ParseToCalendar(JNIEnv* env, jobject connection, jmethodID parser, jstring text) {
  jvalue arg;
  arg.l = text;
  jobject calendar = env->CallObjectMethodA(connection, parser, &arg);
  if (env->ExceptionCheck()) {
    if (calendar != nullptr) env->DeleteLocalRef(calendar);
    return nullptr;
  }
  return calendar;
}

template <class Struct, class ToStruct>
bool Parse(JNIEnv* env, jobject connection, jmethodID parser, jstring text, Struct* out,
           jlong* millis, ToStruct toStruct) {
  jobject calendar = ParseToCalendar(env, connection, parser, text);
  if (calendar == nullptr) return false;
  if (out != nullptr) (Calendars()->*toStruct)(env, calendar, out);
  if (millis != nullptr && !env->ExceptionCheck())
    *millis = Calendars()->calendarToTimeInMillis(env, calendar);
  env->DeleteLocalRef(calendar);
  return !env->ExceptionCheck();
}

jstring CallFormat(JNIEnv* env, jobject connection, jmethodID method, const jvalue* args) {
  auto* text = static_cast<jstring>(env->CallObjectMethodA(connection, method, args));
  if (env->ExceptionCheck()) {
    if (text != nullptr) env->DeleteLocalRef(text);
    return nullptr;
  }
  return text;
}

}  // namespace

bool IConnectionClass::parseDate(JNIEnv* env, jobject connection, jstring text,
                                 SQL_DATE_STRUCT* out, jlong* millis) {
  return Parse(env, connection, parseDate_, text, out, millis, &CalendarClass::calendarToSQLDate);
}

bool IConnectionClass::parseTime(JNIEnv* env, jobject connection, jstring text,
                                 SQL_TIME_STRUCT* out, jlong* millis) {
  return Parse(env, connection, parseTime_, text, out, millis, &CalendarClass::calendarToSQLTime);
}

bool IConnectionClass::parseTimestamp(JNIEnv* env, jobject connection, jstring text,
                                      SQL_TIMESTAMP_STRUCT* out, jlong* millis) {
  return Parse(env, connection, parseTimestamp_, text, out, millis,
               &CalendarClass::calendarToSQLTimestamp);
}

jstring IConnectionClass::formatDate(JNIEnv* env, jobject connection,
                                     const SQL_DATE_STRUCT* value) {
  jvalue args[3];
  args[0].i = static_cast<SQLSMALLINT>(value->year);
  args[1].i = value->month - 1;
  args[2].i = value->day;
  return CallFormat(env, connection, formatDate_, args);
}

jstring IConnectionClass::formatTime(JNIEnv* env, jobject connection,
                                     const SQL_TIME_STRUCT* value) {
  jvalue args[3];
  args[0].i = value->hour;
  args[1].i = value->minute;
  args[2].i = value->second;
  return CallFormat(env, connection, formatTime_, args);
}

jstring IConnectionClass::formatTimestamp(JNIEnv* env, jobject connection,
                                          const SQL_TIMESTAMP_STRUCT* value) {
  jvalue args[7];
  args[0].i = static_cast<SQLSMALLINT>(value->year);
  args[1].i = value->month - 1;
  args[2].i = value->day;
  args[3].i = value->hour;
  args[4].i = value->minute;
  args[5].i = value->second;
  args[6].i = static_cast<jint>(value->fraction / 1000000);
  return CallFormat(env, connection, formatTimestamp_, args);
}

jstring IConnectionClass::formatDateObj(JNIEnv* env, jobject connection, jobject value) {
  jvalue arg;
  arg.l = value;
  return CallFormat(env, connection, formatDateObj_, &arg);
}

jstring IConnectionClass::formatTimeObj(JNIEnv* env, jobject connection, jobject value) {
  jvalue arg;
  arg.l = value;
  return CallFormat(env, connection, formatTimeObj_, &arg);
}

jstring IConnectionClass::formatTimestampObj(JNIEnv* env, jobject connection, jobject value) {
  jvalue arg;
  arg.l = value;
  return CallFormat(env, connection, formatTimestampObj_, &arg);
}
