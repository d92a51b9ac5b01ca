// The native peer of the Java IIPreparedStatement: a Statement whose text is prepared
// once, with one Parameter record per parameter number that a setter or an output
// registration touched. Parameters are bound with SQLBindParameter to buffers the
// records own; JDBC batches are held as rows of values and run as one array execution
// or, when a value is too large for an array, one row at a time; Reader and Blob values
// of 1024 characters or bytes and more are sent as data at execution.
//
// Every operation runs under the Java statement object's monitor (jni_frame.h). A
// failure leaves a Java exception pending and gives the zero value. Indicators are
// SQLLEN, as the driver reads and writes them.
#ifndef VQ_JDBCODBC_PREPARED_H
#define VQ_JDBCODBC_PREPARED_H

#include <jni.h>

#include <cstdint>

#include "jdbcodbc/c/statement.h"

class PreparedStatement;

// One held batch row of a parameter: the value buffer (owned) and its indicator.
struct BatchEntry {
  void* value = nullptr;
  SQLLEN indicator = 0;
  SQLLEN length = 0;  // bytes of the value to send
};

class Parameter {
 public:
  Parameter(PreparedStatement* owner, int number, SQLSMALLINT direction, std::int32_t scale,
            Parameter* next);
  ~Parameter();
  Parameter(const Parameter&) = delete;
  Parameter& operator=(const Parameter&) = delete;

  // Adopts a non-null `value` of `dataLength` bytes, derives the SQL type, column size
  // and decimal digits from the C type, and binds when anything the driver sees changed
  // (or always, for an input/output parameter). The buffer of an output or input/output
  // parameter grows to hold a value of a fixed-size C type. True unless something was
  // raised.
  bool modifyAndBind(JNIEnv* env, SQLSMALLINT cType, void* value, SQLLEN dataLength,
                     bool isLong);
  bool bind(JNIEnv* env);
  // Frees the batch value and indicator arrays of the last array execution.
  void freeBatchArrays();
  // Frees every held row's value and forgets the rows.
  void dropBatchRows();
  // The late fetch of an output parameter whose binding is delayed: every getter but
  // getBigDecimal reads the value afresh with SQLGetData, in pieces, in C type `cType`.
  // Nothing in the bridge delays a binding; a caller embedding the peers may.
  void delayBinding(SQLSMALLINT cType);
  // Reads the value into a fresh block that replaces the value buffer (the parameter is
  // bound again to it); NULL keeps the buffer and sets the indicator. False: no data, or
  // something was raised.
  bool getLongData(JNIEnv* env);

  PreparedStatement* owner;
  std::uint16_t number;          // 1-based
  SQLSMALLINT direction;         // SQL_PARAM_INPUT, _INPUT_OUTPUT or _OUTPUT
  SQLSMALLINT cType = 0;         // 0 until set
  SQLSMALLINT sqlType = 99;      // 99 until set
  SQLULEN columnSize = 0;
  SQLSMALLINT decimalDigits = 0;
  void* value = nullptr;         // value buffer, owned
  std::uint8_t wideStream = 0;   // the streamed value is a Reader (length in characters)
  jobject streamObject = nullptr;  // global reference to the Reader or Blob, or null
  std::int64_t streamLength = 0;   // characters (Reader) or bytes (Blob)
  SQLLEN dataLength = 0;         // bytes in the value buffer
  SQLLEN bufferLength = 0;       // SQLBindParameter BufferLength
  SQLLEN indicator = 0;          // StrLen_or_Ind, bound by address
  BatchEntry* batchRows = nullptr;
  std::int32_t batchCapacity = 0;  // entries allocated (grows by 100)
  std::int32_t batchCount = 0;     // entries used
  void* batchValues = nullptr;     // value array of an array execution
  SQLSMALLINT batchCType = 99;     // C type of the first held row; 99 when none
  SQLLEN batchElementSize = 0;     // bytes per element of the value array
  SQLLEN* batchIndicators = nullptr;  // one indicator per row of an array execution
  Parameter* next;
  std::uint8_t bindingDelayed = 0;  // set by delayBinding of a callable statement
  std::int32_t scale;               // registered scale of an output parameter
};

class PreparedStatement : public Statement {
 public:
  PreparedStatement(JNIEnv* env, Connection* connection, jstring sql, unsigned char isQuery,
                    unsigned char unused, jint resultSetType, jint concurrency, bool tolerant);
  ~PreparedStatement() override;

  void fini(JNIEnv* env) override;
  ConstructibleINativeClass* getConstructibleINativeClass() override;
  bool reexecute(JNIEnv* env) override;

  bool prepare(JNIEnv* env, jstring sql);
  Parameter* findParameter(int number);
  Parameter* findOrCreateInParameter(JNIEnv* env, int number);
  Parameter* parameters() const { return parameters_; }
  std::int32_t batchRowCount() const { return batchRowCount_; }

  // ---- Metadata ----
  SQLRETURN describeParam(SQLUSMALLINT number, SQLSMALLINT* sqlType, SQLULEN* size,
                          SQLSMALLINT* scale, SQLSMALLINT* nullable);
  jint getParameterSize(JNIEnv* env, jint number);
  jint getParameterScale(JNIEnv* env, jint number);
  jint getParameterType(JNIEnv* env, jint number);
  jint getParameterNullable(JNIEnv* env, jint number);
  jint getParameterCount(JNIEnv* env);

  // ---- Execution (prepared_execute.cpp) ----
  // The C type for a java.sql.Types code and its default buffer length (-1: none); 0
  // after raising "UNSUPPORTED_JDBC_SQL_TYPE" or "UNKNOWN_JDBC_SQL_TYPE".
  static SQLSMALLINT jdbcToSQLCType(JNIEnv* env, jint jdbcType, SQLLEN* length);
  // Drops every parameter and resets the driver's parameters. True when it raised.
  bool clearParameters(JNIEnv* env);
  bool internalExecute(JNIEnv* env);
  bool execute(JNIEnv* env);
  jobject executeQuery(JNIEnv* env);
  jint executeUpdate(JNIEnv* env);
  void addBatch(JNIEnv* env);
  jintArray executeBatch(JNIEnv* env);
  bool executeBatchInSingleMode(JNIEnv* env);
  // Sends the data-at-execution values the driver asks for; the last ODBC result.
  SQLRETURN supplyStreams(JNIEnv* env);

  // ---- Setters (prepared_setters.cpp) ----
  void setNull(JNIEnv* env, jint index, jint sqlType);
  void setBoolean(JNIEnv* env, jint index, jboolean value);
  void setByte(JNIEnv* env, jint index, jbyte value);
  void setShort(JNIEnv* env, jint index, jshort value);
  void setInt(JNIEnv* env, jint index, jint value);
  void setLong(JNIEnv* env, jint index, jlong value);
  void setFloat(JNIEnv* env, jint index, jfloat value);
  void setDouble(JNIEnv* env, jint index, jdouble value);
  void setBigDecimal(JNIEnv* env, jint index, jobject value);
  void setString(JNIEnv* env, jint index, jstring value);
  void setBytes(JNIEnv* env, jint index, jbyteArray value);
  void setDate(JNIEnv* env, jint index, jobject value);
  void setTime(JNIEnv* env, jint index, jobject value);
  void setTimestamp(JNIEnv* env, jint index, jobject value);
  void setAsciiStream(JNIEnv* env, jint index, jobject stream, jint length);
  void setBinaryStream(JNIEnv* env, jint index, jobject stream, jint length);
  void setCharacterStream(JNIEnv* env, jint index, jobject reader, jint length);
  void setClob(JNIEnv* env, jint index, jlong length, jobject reader);
  void setBlob(JNIEnv* env, jint index, jobject blob);

 protected:
  // A new parameter record at the head of the list.
  Parameter* addParameter(int number, SQLSMALLINT direction, std::int32_t scale);

 private:
  // Forgets the bindings of a batch execution so that no later execution reads the
  // freed row values or arrays: one parameter set, the driver's parameters reset, and
  // every parameter rebinds at its next setter.
  void unbindAfterBatch(JNIEnv* env);
  // Binds a stream parameter as data at execution.
  void bindStream(JNIEnv* env, jint index, jobject stream, std::int64_t length, bool wide);

  Parameter* parameters_ = nullptr;  // most recently created first
  std::uint8_t isQuery_ = 0;         // executeUpdate is refused
  std::int32_t batchRowCount_ = 0;   // rows added since the last execution
  SQLULEN arrayThreshold_ = 0;       // largest element size bound as an array
  std::uint8_t rowByRow_ = 0;        // the next batch execution runs row by row
};

#endif  // VQ_JDBCODBC_PREPARED_H
