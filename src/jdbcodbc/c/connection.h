// The native peer of the Java IConnection: one ODBC connection handle, owned (made by
// connecting with a connection string) or borrowed (the join form, which hands the handle
// back through a release callback at close), and the connection-level JDBC operations on
// it. Every operation runs inside the Java object's monitor (jni_frame.h); a failure
// leaves a Java exception pending and gives the operation's zero value.
#ifndef VQ_JDBCODBC_CONNECTION_H
#define VQ_JDBCODBC_CONNECTION_H

#include <jni.h>

#include <atomic>
#include <cstdint>

#include "jdbcodbc/c/nativeobj.h"
#include "vqtasks.h"

// The build number the Java classes must pass: classes of another build are refused.
constexpr jint kDriverBuildNumber = 2566;

// Driver-specific connection attributes the bridge uses.
constexpr SQLINTEGER kAttrIsolationOnOpen = 1907;  // isolation level applied at open
constexpr SQLINTEGER kAttrIsolationExtended = 1908;  // as 108, also 32, 64 and 128
constexpr SQLINTEGER kAttrApiName = 1909;          // the client's API name (UTF-16)

// True for the isolation levels a connection can have: 1, 2, 4 and 8 (JDBC read
// uncommitted to serializable) and the server's own 32, 64 and 128.
bool IsIsolationLevel(jint level);

// The URL is kept in memory with every byte XORed with this mask, so that it does not
// sit in plain text in the process.
constexpr std::uint8_t kUrlMask = 0x3C;

class Connection : public NativeWarnObj {
 public:
  using ReleaseFunction = void (*)(void* context, SQLHDBC hdbc);

  // Flag bits.
  static constexpr std::uint8_t kClosed = 0x01;
  static constexpr std::uint8_t kOwnsHandles = 0x02;
  static constexpr std::uint8_t kTransactionControl = 0x04;
  static constexpr std::uint8_t kConnected = 0x08;
  static constexpr std::uint8_t kGetDataAnyColumn = 0x10;
  static constexpr std::uint8_t kGetDataAnyOrder = 0x20;
  static constexpr std::uint8_t kGetDataBlock = 0x40;
  static constexpr std::uint8_t kGetDataBound = 0x80;

  // The connect form: connects with the connection string (UTF-16 as Java gives it) and
  // keeps the URL scrambled. Failure leaves an exception pending; the caller then runs
  // fini and deletes the object.
  Connection(JNIEnv* env, jstring connectionString, jstring url, jint buildNumber);
  // The join form: borrows a connected handle. Transaction control is allowed only when
  // a release function is given.
  Connection(JNIEnv* env, SQLHDBC hdbc, ReleaseFunction release, void* context, jint buildNumber);
  ~Connection() override;

  // The IDriver entry points: a connected Java IConnection, or null with the exception
  // pending (the native object is then gone again).
  static jobject makeODBCConnection(JNIEnv* env, jstring connectionString, jstring url,
                                    jint buildNumber);
  static jobject joinODBCConnection(JNIEnv* env, jlong hdbc, jlong release, jlong context,
                                    jint buildNumber);

  // False (after raising "VCJAR_MISMATCH", unless an exception was pending) when the
  // Java classes come from another build.
  static bool checkBuildNum(JNIEnv* env, jint buildNumber);

  void fini(JNIEnv* env) override;
  ConstructibleINativeClass* getConstructibleINativeClass() override;
  jobject createJobj(JNIEnv* env) override;
  jobject getConnection() override { return getJobj(); }
  Connection* getNConnection() override { return this; }

  // Operations of the Java connection.
  bool isClosed(JNIEnv* env);
  void setReadOnly(JNIEnv* env, bool readOnly);
  bool isReadOnly(JNIEnv* env);
  bool getAutoCommit(JNIEnv* env);
  void setAutoCommit(JNIEnv* env, bool autoCommit);
  jint getTransactionIsolation(JNIEnv* env);
  void setTransactionIsolation(JNIEnv* env, jint level);
  void setIsolationOnOpen(JNIEnv* env, jint level);
  void endTransaction(JNIEnv* env, bool commit);
  bool getNumAttr(JNIEnv* env, jint attribute, jint* value);
  jstring getJStrAttr(JNIEnv* env, jint attribute);
  void setAttribute(JNIEnv* env, jint attribute, jstring value);
  void setCatalog(JNIEnv* env, jstring name);
  jstring getCatalog(JNIEnv* env);
  jstring nativeSQL(JNIEnv* env, jstring sql);

  SQLHDBC getODBCHandle() const { return hdbc_; }
  void setDefaultRowsetSize(jint size) {
    if (size > 0) defaultRowsetSize_ = size;
  }
  std::int32_t defaultRowsetSize() const { return defaultRowsetSize_; }
  std::int32_t defaultConcurrency() const { return defaultConcurrency_; }
  void setAllowTransactionControl(bool allow);
  std::uint8_t flags() const { return flags_; }

  // The shared UTF-16 work buffer and its mutex.
  void lockBuffer();
  void unlockBuffer();
  // Reads a UTF-16 string attribute into the buffer (made or grown as needed; the size
  // in bytes). *length receives the bytes of the value plus 2 for its terminator, 0 when
  // the driver has no value. False when an exception is pending.
  bool getStrAttr(JNIEnv* env, jint attribute, void** buffer, SQLINTEGER* size,
                  SQLINTEGER* length);

  // ---- Statements (connection_statements.cpp) ----
  // A new Java statement (a local reference), or null with the exception pending. Type
  // -1 means none given: forward-only with the default concurrency, set up tolerantly.
  jobject createStatement(JNIEnv* env, jint type, jint concurrency);
  jobject prepareStatement(JNIEnv* env, jstring sql, bool isQuery, bool b, jint type,
                           jint concurrency);
  jobject prepareCall(JNIEnv* env, jstring sql, bool isQuery, bool b, jint type,
                      jint concurrency);
  // True once fini has started; statements test it after an execution, from their own
  // thread.
  bool closing() const { return closing_.load(std::memory_order_acquire); }
  // The statement list. Each node holds a global reference of its own to the Java
  // statement; removeStatement frees the first node holding the same object.
  enum class StatementKind : std::uint8_t { kStatement, kPrepared, kCallable };
  bool addStatement(JNIEnv* env, jobject stmt, StatementKind kind);
  void removeStatement(JNIEnv* env, jobject stmt);
  // Closes every listed statement (their Java objects stay, detached) and empties the list.
  void close_active_statements(JNIEnv* env);
  // The release list, filled from any thread by Statement::release.
  void addRelease(JNIEnv* env, jobject stmt);
  jobject removeRelease();
  // Closes every queued statement.
  void releaseStatements(JNIEnv* env);
  // Drops the queued statements without closing them.
  void cleanUpRelease(JNIEnv* env);
  void lockLists();
  void unlockLists();
  void lockReleaseLists();
  void unlockReleaseLists();

  // The URL: a plain copy (release it with releaseURL) and its length in UTF-16 units;
  // null when none is kept or after "OUT_OF_MEMORY".
  jchar* getURL(JNIEnv* env, std::int32_t* length);
  void releaseURL(jchar* url);
  // Scrambles (or unscrambles) the kept URL in place.
  void obfuscateURL();

  // ---- Metadata (dbmetadata.cpp) ----
  // The Java IDatabaseMetaData of this connection, made on the first call and kept
  // (the connection's own global reference); null with the exception pending.
  jobject getMetaData(JNIEnv* env);
  // Detaches, finishes and deletes the metadata peer, if any (fini calls it).
  void closeDbMD(JNIEnv* env);
  // The database name (SQL_DATABASE_NAME) through the metadata peer, made when needed;
  // getCatalog's answer when the driver has no current catalog.
  jstring databaseNameFromMetaData(JNIEnv* env);

  // ---- Server messages and file-transfer requests (callbacks.cpp) ----
  // Register the bridge's callbacks with the driver and this connection in the
  // process-wide message or file-transfer registry; a second call does nothing. A failed
  // registration raises its diagnostics and leaves the connection out.
  void setVSRMessageHandler(JNIEnv* env);
  void setVCValidateFileTransferCallback(JNIEnv* env);
  // Takes the connection out of both registries (fini); after it returns no callback
  // reaches this connection or its Java object.
  void leaveCallbackRegistries();

 private:
  void baseSetUp();
  void init(JNIEnv* env);
  bool transactionControlRefused(JNIEnv* env, const char* method);
  bool connect(JNIEnv* env, jstring connectionString);
  bool keepURL(JNIEnv* env, jstring url);
  // Grows the shared buffer to `size` bytes; false (buffer gone, size 0) on failure.
  bool growBuffer(JNIEnv* env, SQLINTEGER size);

  SQLHENV henv_ = SQL_NULL_HENV;       // the shared environment; null in the join form
  SQLHDBC hdbc_ = SQL_NULL_HDBC;       // owned (connect form) or borrowed (join form)
  ReleaseFunction release_ = nullptr;  // join form: takes the handle back at fini
  void* releaseContext_ = nullptr;     // its first argument
  std::int32_t defaultRowsetSize_ = 0;    // rows; 33 after init
  std::int32_t defaultConcurrency_ = 0;   // JDBC concurrency; 1007 after init
  std::uint8_t flags_ = 0;                // the k* bits above
  a_ut_safe_pthread_mutex_t bufferMutex_{nullptr};  // guards buffer_ and bufferSize_
  void* buffer_ = nullptr;                // shared UTF-16 work buffer
  SQLINTEGER bufferSize_ = 0;             // its size in bytes
  // Statement lists: singly linked nodes pushed at the head.
  struct JStatement;
  a_ut_safe_pthread_mutex_t listsMutex_{nullptr};    // guards statements_
  a_ut_safe_pthread_mutex_t releaseMutex_{nullptr};  // guards released_
  JStatement* statements_ = nullptr;      // live statements made here
  JStatement* released_ = nullptr;        // statements queued for release
  std::atomic<bool> closing_{false};      // set when fini starts (kClosed mirrors it)
  jobject metadata_ = nullptr;            // global reference to the Java IDatabaseMetaData
  jchar* url_ = nullptr;                  // the scrambled URL
  std::int32_t urlLength_ = 0;            // its length in UTF-16 units
};

#endif  // VQ_JDBCODBC_CONNECTION_H
