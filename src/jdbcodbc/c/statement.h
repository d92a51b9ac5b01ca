// The native peer of the Java IIStatement: one ODBC statement handle on its connection's
// handle, direct execution, result inspection and the hand-off of a result to the
// result-set peer, the statement attributes, column attributes, catalog calls, long-data
// reads, and cancellation through a separate cancel-token peer.
//
// Every operation runs inside the Java statement object's monitor (jni_frame.h) except
// cancel, close, nFree and release. A failure leaves a Java exception pending and gives
// the operation's zero value. The statement-handle mutex is held only around allocation,
// the SQLFreeStmt resets, freeing and the result-set hand-off, never across an execution,
// so that cancel reaches the handle while another thread executes.
#ifndef VQ_JDBCODBC_STATEMENT_H
#define VQ_JDBCODBC_STATEMENT_H

#include <jni.h>

#include <cstdint>

#include "jdbcodbc/c/nativeobj.h"
#include "vqtasks.h"

class Connection;
class ResultSet;
class DatabaseMetaData;

// JDBC result-set types and concurrencies as Java passes them.
constexpr jint kJdbcForwardOnly = 1003;
constexpr jint kJdbcScrollInsensitive = 1004;
constexpr jint kJdbcScrollSensitive = 1005;
constexpr jint kJdbcConcurReadOnly = 1007;
constexpr jint kJdbcConcurUpdatable = 1008;
constexpr jint kJdbcDriverDefault = -100;  // type and concurrency: the driver's defaults
constexpr jint kJdbcFetchForward = 1000;

// The JDBC result-set type of an ODBC cursor type and sensitivity: -1 when either is
// unknown (-1); static and dynamic cursors are scrollable, sensitive for sensitivity 2;
// every other cursor type (keyset-driven included) is forward-only.
jint ToResultSetType(SQLULEN cursorType, SQLULEN sensitivity);

// Raises the message key with the value as its one (text) argument, unless an exception
// is pending.
void RaiseWithValue(JNIEnv* env, const char* key, jint value);

// The statement's cancel token: a copy of the statement handle, reachable from Java
// through the statement's field "stmt_cancel_token" without the statement's monitor.
// Statement::cleanup detaches and deletes it under its own monitor before the handle is
// freed, so no token outlives its handle.
class StatementCancelToken : public NativeObj {
 public:
  explicit StatementCancelToken(SQLHSTMT handle) : handle_(handle) {}
  ConstructibleINativeClass* getConstructibleINativeClass() override;
  SQLHSTMT handle() const { return handle_; }

 private:
  SQLHSTMT handle_;  // the statement's handle, copied when the token is made
};

class Statement : public NativeWarnObj {
 public:
  // Makes the handle and sets the cursor up for the JDBC type and concurrency (-1, -1
  // is not accepted here: the connection passes 1003 and its default concurrency with
  // `tolerant` set). With `tolerant`, an attribute the driver refuses or changes is read
  // back instead of reported. Failure leaves an exception pending; the creator then runs
  // fini and deletes the peer.
  Statement(JNIEnv* env, Connection* connection, jint resultSetType, jint concurrency,
            bool tolerant);
  ~Statement() override;

  // Closes the current result, frees the handle. Safe to call twice.
  void fini(JNIEnv* env) override;
  ConstructibleINativeClass* getConstructibleINativeClass() override;
  // The Java object (a global reference the peer owns), with its cancel token stored in
  // "stmt_cancel_token"; null with the exception pending.
  jobject createJobj(JNIEnv* env) override;
  jobject getConnection() override { return connectionObj_; }
  Connection* getNConnection() override { return connection_; }
  // Executes the statement again (the last direct text); prepared statements override.
  virtual bool reexecute(JNIEnv* env);

  bool allocHandle(JNIEnv* env);

  // ---- Execution (statement.cpp) ----
  // Closes the current result, resets the handle (close, unbind, reset parameters) and
  // executes the text. True when the driver ran it and nothing was raised.
  bool execDirect(JNIEnv* env, jstring sql);
  bool execDirect(JNIEnv* env, const char* sql);
  // True when the result has columns.
  bool execute(JNIEnv* env, jstring sql);
  // The current result's Java ResultSet as a new local reference, or null: no columns,
  // or raised.
  jobject executeQuery(JNIEnv* env, jstring sql);
  // The update count, 0 for a result with columns or no count.
  jint executeUpdate(JNIEnv* env, jstring sql);
  bool getNumResultCols(JNIEnv* env, SQLSMALLINT* count);
  // -1 for a result with columns or when no count is known.
  jint getUpdateCount(JNIEnv* env);
  bool getMoreResults(JNIEnv* env);
  jobject getResultSet(JNIEnv* env);
  // A result-set peer over the open result, not yet given a Java object; null when there
  // is none or after a raise. The caller owns it (adoptResultSet or fini and delete).
  ResultSet* getRawResultSet(JNIEnv* env);
  // Gives a new result-set peer its Java object and makes it the current result; when
  // the statement is closing, the peer is destroyed instead. Returns the current result
  // (the result set's own global reference, which the caller must not delete; null when
  // destroyed or raised). Used by executeQuery, getResultSet and the prepared
  // execution.
  jobject adoptResultSet(JNIEnv* env, ResultSet* rset);
  void setResultSet(JNIEnv* env, jobject rset);
  // A new local reference to the current result, or null.
  jobject currentResultSet(JNIEnv* env);
  // Called by the result set's fini before it drops its global reference: when `rset`
  // is the current result, the statement forgets it (under the result-set mutex), so the
  // statement never holds a deleted reference.
  void forgetResultSet(JNIEnv* env, jobject rset);
  // Frees the current result-set peer; the cursor stays open when `keepCursor` is set.
  void closeCurrentResultSet(JNIEnv* env, unsigned keepCursor);
  // Closes the current result and returns the handle as a signed Java long.
  jlong getODBCHandle(JNIEnv* env);

  // ---- For derived statements and the result set ----
  // Clears the warnings when an execution ran before, and marks this one.
  void beginExecution(JNIEnv* env);
  // The three SQLFreeStmt resets under the statement-handle mutex; false at the first
  // that raised.
  bool resetHandle(JNIEnv* env);
  // After an execution: NATIVE_ACCESS_ERROR "Statement" when the connection was closed
  // meanwhile, else the diagnostics of `rc`. True when nothing was raised.
  bool finishExecution(JNIEnv* env, SQLRETURN rc);

  SQLHSTMT handle() const { return hstmt_; }
  jint fetchSize() const { return fetchSize_; }
  jint resultSetType() const { return resultSetType_; }
  bool closing() const { return closing_ != 0; }
  DatabaseMetaData* owningMetadata() const { return metadata_; }
  void setOwningMetadata(DatabaseMetaData* metadata) { metadata_ = metadata; }

  void lockStatementHandle();
  void unlockStatementHandle();
  void lockRset();
  void unlockRset();

  // Closes the statement behind the Java object `stmt`: token, peer, its node in the
  // connection's list (when `removeFromConnection`), the references. Takes the monitors
  // itself; a second call finds no peer and does nothing.
  static void cleanup(JNIEnv* env, jobject stmt, unsigned removeFromConnection,
                      unsigned lockCache);
  // Queues the statement on its connection's release list, from any thread; the next
  // statement creation on the connection closes it.
  static void release(JNIEnv* env, jobject stmt);
  // Destroys a peer that never got its Java object (a failed construction): fini, the
  // connection reference, deletion. Null is ignored.
  static void discard(JNIEnv* env, Statement* stmt);

  // ---- Attributes (statement_attributes.cpp) ----
  // Reads a statement attribute. With `quiet`, true for SQL_SUCCESS(_WITH_INFO) and no
  // diagnostics are read.
  bool getUintAttr(JNIEnv* env, SQLINTEGER attribute, SQLULEN* value, bool quiet);
  // Sets an integer attribute. Tolerant: a value the driver refuses or changes is read
  // back into *value (all ones when that fails), and the result is true.
  bool setUintAttr(JNIEnv* env, SQLINTEGER attribute, SQLULEN* value, bool tolerant);
  bool setUintAttr(JNIEnv* env, SQLINTEGER attribute, SQLULEN value);

  jint getQueryTimeout(JNIEnv* env);
  void setQueryTimeout(JNIEnv* env, jint seconds);
  jint getMaxRows(JNIEnv* env);
  void setMaxRows(JNIEnv* env, jint rows);
  jint getMaxFieldSize(JNIEnv* env);
  void setMaxFieldSize(JNIEnv* env, jint bytes);
  jint getFetchSize() const { return fetchSize_; }
  void setFetchSize(JNIEnv* env, jint rows);
  jint getFetchDirection() const { return kJdbcFetchForward; }
  void setFetchDirection(JNIEnv* env, jint direction);
  void setEscapeProcessing(JNIEnv* env, bool enable);
  void setCursorName(JNIEnv* env, jstring name);
  jint getResultSetType(JNIEnv* env);
  jint getResultSetConcurrency(JNIEnv* env);

  // Column attributes. getColStrAttr reads a UTF-16 string attribute into a caller-owned
  // buffer (made or grown as needed; *bufferSize in bytes); *length receives the bytes
  // with the 2-byte terminator. getColJStrAttr does it on the connection's shared buffer
  // under its lock and makes a Java string.
  bool getColStrAttr(JNIEnv* env, SQLUSMALLINT field, SQLUSMALLINT column, char** buffer,
                     SQLLEN* bufferSize, SQLSMALLINT* length);
  jstring getColJStrAttr(JNIEnv* env, SQLUSMALLINT field, SQLUSMALLINT column);
  bool getColNumAttr(JNIEnv* env, SQLUSMALLINT field, SQLUSMALLINT column, SQLLEN* value);

  // ---- Catalog calls (statement_catalog.cpp): UTF-16 texts with lengths in units ----
  struct WText {
    const SQLWCHAR* text;  // null when the argument is null
    SQLSMALLINT length;    // units, or SQL_NTS
  };
  bool getTables(JNIEnv* env, WText catalog, WText schema, WText table, WText types);
  bool getColumns(JNIEnv* env, WText catalog, WText schema, WText table, WText column);
  bool getColumnPrivileges(JNIEnv* env, WText catalog, WText schema, WText table,
                           WText column);
  bool getTablePrivileges(JNIEnv* env, WText catalog, WText schema, WText table);
  bool getPrimaryKeys(JNIEnv* env, WText catalog, WText schema, WText table);
  bool getProcedures(JNIEnv* env, WText catalog, WText schema, WText procedure);
  bool getProcedureColumns(JNIEnv* env, WText catalog, WText schema, WText procedure,
                           WText column);
  bool getStatistics(JNIEnv* env, WText catalog, WText schema, WText table,
                     SQLUSMALLINT unique, SQLUSMALLINT reserved);
  bool getSpecialColumns(JNIEnv* env, SQLUSMALLINT identifierType, WText catalog,
                         WText schema, WText table, SQLUSMALLINT scope, SQLUSMALLINT nullable);
  bool getForeignKeys(JNIEnv* env, WText pkCatalog, WText pkSchema, WText pkTable,
                      WText fkCatalog, WText fkSchema, WText fkTable);
  bool getTableTypes(JNIEnv* env);
  bool getSchemas(JNIEnv* env);
  bool getCatalogs(JNIEnv* env);
  bool getTypeInfo(JNIEnv* env);

  // ---- Long data (statement_longdata.cpp) ----
  // Reads a column's value with SQLGetData in growing pieces into *buffer (a value
  // buffer of NativeWarnObj::alloc, at least 32768 bytes; a new one unless
  // `reuseBuffer`). On true: *indicator is the byte count (without terminator) or
  // SQL_NULL_DATA, in which case the buffer is freed and null; text ends with the
  // driver's terminator. With `firstPieceOnly` only the first piece is read. False: no
  // data (the buffer freed and null), or raised (the buffer stays with the caller).
  bool getLongData(JNIEnv* env, void** buffer, SQLLEN* total, SQLLEN* indicator,
                   SQLUSMALLINT column, SQLSMALLINT cType, bool firstPieceOnly,
                   bool reuseBuffer);

  // ---- Cancellation (statement_cancel.cpp) ----
  static void createJCancelToken(JNIEnv* env, jobject stmt);
  // A new local reference to the token's Java object, or null.
  static jobject getJCancelToken(JNIEnv* env, jobject stmt);
  // SQLCancel on the token's handle; takes only the token's monitor, never raises.
  static void cancel(JNIEnv* env, jobject stmt);
  // Detaches, finishes and deletes the token's peer under the token's monitor.
  static void closeCancelToken(JNIEnv* env, jobject token);

 protected:
  // Chained by derived statements.
  void setupResultSet(JNIEnv* env, jint type, jint concurrency, bool tolerant);

 private:
  a_ut_safe_pthread_mutex_t handleMutex_{nullptr};  // handle alloc/free/resets, hand-off
  a_ut_safe_pthread_mutex_t rsetMutex_{nullptr};    // currentResult_
  std::int32_t fetchSize_ = 0;        // rows; the connection's default rowset size at first
  jobject currentResult_ = nullptr;   // the result-set peer's own global reference
  std::int32_t resultSetType_ = -1;   // 1003, 1004, 1005, or -1 when unknown
  SQLHSTMT hstmt_ = SQL_NULL_HSTMT;   // null until allocated and after fini
  Connection* connection_ = nullptr;  // the owning connection peer
  jobject connectionObj_ = nullptr;   // global reference to the Java connection
  std::uint8_t closing_ = 0;          // set by fini: a result made after it is dropped
  DatabaseMetaData* metadata_ = nullptr;  // set while a metadata catalog statement
  std::uint8_t executed_ = 0;         // bit 0: an execution ran
  jchar* lastText_ = nullptr;         // the last direct text (for reexecute), value buffer
  std::int32_t lastTextUnits_ = 0;    // its length in UTF-16 units
};

#endif  // VQ_JDBCODBC_STATEMENT_H
