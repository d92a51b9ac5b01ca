// The native peer of the Java IDatabaseMetaData: at most one per connection, made on the
// first metadata request and living until the connection closes its metadata or the Java
// object frees it. Scalar answers come from SQLGetInfo on the connection's ODBC handle
// (dbmetadata_scalar*.cpp); catalog result sets run on statements of a cache of at most
// five (dbmetadata.cpp, dbmetadata_catalog.cpp). The natives are in
// dbmetadata_natives.cpp and dbmetadata_scalar*.cpp.
//
// Every operation but the cache removal runs inside the Java object's monitor
// (jni_frame.h, class name "DatabaseMetaData"); a failure leaves a Java exception pending
// and gives the operation's zero value.
#ifndef VQ_JDBCODBC_DBMETADATA_H
#define VQ_JDBCODBC_DBMETADATA_H

#include <jni.h>

#include <cstddef>
#include <cstdint>

#include "jdbcodbc/c/nativeobj.h"
#include "jdbcodbc/c/statement.h"
#include "vqtasks.h"

class Connection;

class DatabaseMetaData : public NativeWarnObj {
 public:
  static constexpr int kCacheSlots = 5;
  static constexpr char kClassName[] = "DatabaseMetaData";

  // No Java peer yet (Connection::getMetaData makes it); the cache is empty.
  DatabaseMetaData(JNIEnv* env, Connection* connection);
  ~DatabaseMetaData() override;

  // Cleans up every cached statement (their Java result sets are closed), releases any
  // pinned string, then drops the warnings and the Java peer reference.
  void fini(JNIEnv* env) override;
  ConstructibleINativeClass* getConstructibleINativeClass() override;
  // Detaches the peer of the Java object `obj` under its monitor, then runs its fini and
  // deletes it outside the monitor (the connection's close, the nFree native). Nothing
  // when it is already detached.
  static void detachAndDelete(JNIEnv* env, jobject obj);
  // The connection's Java object.
  jobject getConnection() override;
  Connection* getNConnection() override { return connection_; }
  // The connection's ODBC handle: every SQLGetInfo(W) goes there.
  SQLHDBC odbcHandle() const;

  // ---- The catalog statement cache (dbmetadata.cpp) ----
  // A new catalog statement (forward only, read only, tolerant set-up) with its Java
  // peer, already cached; when five are cached the oldest is evicted first (closed with
  // its result set). Null with an exception pending when it could not be made.
  Statement* allocStatement(JNIEnv* env);
  // Takes a statement out of the cache (nothing when it is not there); the others keep
  // their order at the front. `lock` non-zero takes the cache mutex for the duration.
  void removeFromStatementCache(Statement* stmt, unsigned lock);
  // The cached statements, oldest first, for tests: the count, and up to kCacheSlots
  // pointers into `out`.
  int cachedStatements(Statement** out);

  // ---- Strings pinned for one catalog call ----
  // Pins a Java string for the running catalog call: null gives a null text and length
  // 0 and pins nothing. A string longer than a 16-bit length can say (32767 UTF-16
  // units) is passed as a terminated copy with SQL_NTS, never with a wrapped length.
  // False when an exception was raised (the JVM could not give the characters, or no
  // memory); nothing is pinned then.
  bool getWCHAR(JNIEnv* env, jstring s, Statement::WText* out);
  // Releases every pinned string.
  void cleanUpWCHARs(JNIEnv* env);
  // Runs a narrow SQL text on a new catalog statement: its Java ResultSet, or null (no
  // result columns, or raised).
  jobject execSQL(JNIEnv* env, const char* sql);

  // ---- Catalog result sets and function lists (dbmetadata_catalog.cpp) ----
  // Each answers the statement's current Java result set or null. Null Java strings are
  // arguments not given.
  jobject getTables(JNIEnv* env, jstring catalog, jstring schema, jstring table, jstring types);
  jobject getColumns(JNIEnv* env, jstring catalog, jstring schema, jstring table,
                     jstring column);
  jobject getProcedures(JNIEnv* env, jstring catalog, jstring schema, jstring procedure);
  jobject getProcedureColumns(JNIEnv* env, jstring catalog, jstring schema,
                              jstring procedure, jstring column);
  jobject getPrimaryKeys(JNIEnv* env, jstring catalog, jstring schema, jstring table);
  jobject getCrossReference(JNIEnv* env, jstring pkCatalog, jstring pkSchema, jstring pkTable,
                            jstring fkCatalog, jstring fkSchema, jstring fkTable);
  jobject getImportedKeys(JNIEnv* env, jstring catalog, jstring schema, jstring table);
  jobject getExportedKeys(JNIEnv* env, jstring catalog, jstring schema, jstring table);
  jobject getIndexInfo(JNIEnv* env, jstring catalog, jstring schema, jstring table,
                       bool unique, bool approximate);
  jobject getBestRowIdentifier(JNIEnv* env, jstring catalog, jstring schema, jstring table,
                               jint scope, bool nullable);
  jobject getVersionColumns(JNIEnv* env, jstring catalog, jstring schema, jstring table);
  jobject getTablePrivileges(JNIEnv* env, jstring catalog, jstring schema, jstring table);
  jobject getColumnPrivileges(JNIEnv* env, jstring catalog, jstring schema, jstring table,
                              jstring column);
  jobject getTypeInfo(JNIEnv* env);
  jobject getTableTypes(JNIEnv* env);
  jobject getSchemas(JNIEnv* env);
  jobject getCatalogs(JNIEnv* env);
  jobject getNumericFunctions(JNIEnv* env);
  jobject getStringFunctions(JNIEnv* env);
  jobject getSystemFunctions(JNIEnv* env);
  jobject getTimeDateFunctions(JNIEnv* env);
  // The server's version text ("select @@version"); null when it could not be read.
  jstring getDatabaseProductVersion(JNIEnv* env);

  // ---- SQLGetInfo primitives (dbmetadata_info.cpp) ----
  // Narrow SQLGetInfo on the connection handle; diagnostics through sqlError (a warning
  // replaces this object's chain). True when nothing was raised.
  bool getSQLInfo(JNIEnv* env, SQLUSMALLINT item, void* buffer, SQLSMALLINT bufferLength,
                  SQLSMALLINT* stringLength);
  // True when nothing was raised and the answer begins with an upper-case "Y".
  bool getSQLInfoYN(JNIEnv* env, SQLUSMALLINT item);
  // SQLGetInfoW into an 8192-byte buffer; the text as a Java string (cut at the buffer
  // when the driver reports more), null when raised.
  jstring getSQLInfoString(JNIEnv* env, SQLUSMALLINT item);

  // ---- Scalar answers (dbmetadata_scalar*.cpp) ----
  // The constant and SQLGetInfo answers; declared in dbmetadata_scalar.h.

 private:
  struct Pinned;
  // Builds the text of a function list from the item's bits into `out` (at least 1024
  // bytes); false when SQLGetInfo raised.
  bool functionListSQL(JNIEnv* env, SQLUSMALLINT item, char* out, std::size_t size);
  jobject functionList(JNIEnv* env, SQLUSMALLINT item);
  // The raw forms (table types, schemas, catalogs): the result with two columns swapped.
  jobject rawCatalogResult(JNIEnv* env, Statement* stmt, short a, short b);

  Connection* connection_ = nullptr;                // the owning connection; not owned
  a_ut_safe_pthread_mutex_t cacheMutex_{nullptr};  // guards slots_
  Statement* slots_[kCacheSlots] = {};              // occupied slots form a prefix, oldest first
  Pinned* pinned_ = nullptr;                        // newest pinned string first
};

#endif  // VQ_JDBCODBC_DBMETADATA_H
