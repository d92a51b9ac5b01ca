// The scalar natives of the Java class IDatabaseMetaData: the boolean, int and string
// answers, each in the frame of jni_frame.h with the class name "DatabaseMetaData". The
// item and rule of every answer are listed below, one line a native; the rules are in
// dbmetadata_scalar.cpp. The result-set natives, getConnection, nFree and
// getDatabaseProductVersion are in dbmetadata_natives.cpp.
#include <sqlext.h>
#include <sqlucode.h>

#include "jdbcodbc/c/dbmetadata.h"
#include "jdbcodbc/c/dbmetadata_scalar.h"
#include "jdbcodbc/c/jni_frame.h"

namespace {

using dbmd::Derive;
using dbmd::InfoAnswer;
using dbmd::InfoWidth;
using dbmd::Values;

// A bit-test answer such as 16 is true in Java: every non-zero answer becomes JNI_TRUE.
jboolean JBool(jint value) { return value != 0 ? JNI_TRUE : JNI_FALSE; }

template <class Body>
auto OnMetaData(JNIEnv* env, jobject self, Body&& body) {
  return PeerCall<DatabaseMetaData>(env, self, DatabaseMetaData::kClassName,
                                    std::forward<Body>(body));
}

jboolean AskBoolean(JNIEnv* env, jobject self, const InfoAnswer& answer) {
  return OnMetaData(env, self,
                    [&](DatabaseMetaData* md) { return JBool(dbmd::Ask(env, md, answer)); });
}

jint AskInt(JNIEnv* env, jobject self, const InfoAnswer& answer) {
  return OnMetaData(env, self, [&](DatabaseMetaData* md) { return dbmd::Ask(env, md, answer); });
}

jstring AskString(JNIEnv* env, jobject self, SQLUSMALLINT item) {
  return OnMetaData(env, self,
                    [&](DatabaseMetaData* md) { return md->getSQLInfoString(env, item); });
}

// Constants still run the frame: a call after the peer is gone raises NATIVE_ACCESS_ERROR.
jboolean ConstantBoolean(JNIEnv* env, jobject self, bool value) {
  return OnMetaData(env, self, [&](DatabaseMetaData*) { return JBool(value ? 1 : 0); });
}

jint ConstantInt(JNIEnv* env, jobject self, jint value) {
  return OnMetaData(env, self, [&](DatabaseMetaData*) { return value; });
}

jboolean IDatabaseMetaData_supportsConvert(JNIEnv* env, jobject self, jint from, jint to) {
  return OnMetaData(env, self, [&](DatabaseMetaData* md) {
    return JBool(dbmd::supportsConvert(env, md, from, to));
  });
}

jboolean IDatabaseMetaData_supportsTransactionIsolationLevel(JNIEnv* env, jobject self,
                                                             jint level) {
  return OnMetaData(env, self, [&](DatabaseMetaData* md) {
    return JBool(dbmd::supportsTransactionIsolationLevel(env, md, level));
  });
}

jstring IDatabaseMetaData_getURL(JNIEnv* env, jobject self) {
  return OnMetaData(env, self, [&](DatabaseMetaData* md) { return dbmd::getURL(env, md); });
}

}  // namespace

#define VQ_DBMD_EXPORT0(ret, name, impl)                                                 \
  VQ_JNI_EXPORT(ret, IDatabaseMetaData, name, (JNIEnv * env, jobject self), (env, self), \
                impl)

// A boolean or int answer of one information item: its item, width, rule and argument.
#define VQ_DBMD_BOOLEAN(name, item, width, derive, arg)                           \
  namespace {                                                                     \
  jboolean IDatabaseMetaData_##name(JNIEnv* env, jobject self) {                  \
    return AskBoolean(env, self, {item, InfoWidth::width, Derive::derive, arg});  \
  }                                                                               \
  }                                                                               \
  VQ_DBMD_EXPORT0(jboolean, name, IDatabaseMetaData_##name)
#define VQ_DBMD_INT(name, item, width, derive)                                 \
  namespace {                                                                  \
  jint IDatabaseMetaData_##name(JNIEnv* env, jobject self) {                   \
    return AskInt(env, self, {item, InfoWidth::width, Derive::derive, 0});     \
  }                                                                            \
  }                                                                            \
  VQ_DBMD_EXPORT0(jint, name, IDatabaseMetaData_##name)
#define VQ_DBMD_STRING(name, item)                                      \
  namespace {                                                           \
  jstring IDatabaseMetaData_##name(JNIEnv* env, jobject self) {         \
    return AskString(env, self, item);                                  \
  }                                                                     \
  }                                                                     \
  VQ_DBMD_EXPORT0(jstring, name, IDatabaseMetaData_##name)

// Constants, with their Java arguments ignored.
#define VQ_DBMD_CONSTANT_BOOLEAN1(name, value)                                        \
  namespace {                                                                         \
  jboolean IDatabaseMetaData_##name(JNIEnv* env, jobject self, jint) {                \
    return ConstantBoolean(env, self, value);                                         \
  }                                                                                   \
  }                                                                                   \
  VQ_JNI_EXPORT(jboolean, IDatabaseMetaData, name, (JNIEnv * env, jobject self, jint a), \
                (env, self, a), IDatabaseMetaData_##name)

// ---- "Y"/"N" items ----
VQ_DBMD_BOOLEAN(allTablesAreSelectable, SQL_ACCESSIBLE_TABLES, kYesNo, kYes, 0)
VQ_DBMD_BOOLEAN(allProceduresAreCallable, SQL_ACCESSIBLE_PROCEDURES, kYesNo, kYes, 0)
VQ_DBMD_BOOLEAN(supportsStoredProcedures, SQL_PROCEDURES, kYesNo, kYes, 0)
VQ_DBMD_BOOLEAN(isReadOnly, SQL_DATA_SOURCE_READ_ONLY, kYesNo, kYes, 0)
VQ_DBMD_BOOLEAN(supportsExpressionsInOrderBy, SQL_EXPRESSIONS_IN_ORDERBY, kYesNo, kYes, 0)
VQ_DBMD_BOOLEAN(supportsMultipleResultSets, SQL_MULT_RESULT_SETS, kYesNo, kYes, 0)
VQ_DBMD_BOOLEAN(supportsMultipleTransactions, SQL_MULTIPLE_ACTIVE_TXN, kYesNo, kYes, 0)
VQ_DBMD_BOOLEAN(supportsIntegrityEnhancementFacility, SQL_INTEGRITY, kYesNo, kYes, 0)
VQ_DBMD_BOOLEAN(supportsColumnAliasing, SQL_COLUMN_ALIAS, kYesNo, kYes, 0)
VQ_DBMD_BOOLEAN(supportsOrderByUnrelated, SQL_ORDER_BY_COLUMNS_IN_SELECT, kYesNo, kNotYes, 0)
VQ_DBMD_BOOLEAN(doesMaxRowSizeIncludeBlobs, SQL_MAX_ROW_SIZE_INCLUDES_LONG, kYesNo, kYes, 0)
VQ_DBMD_BOOLEAN(supportsLikeEscapeClause, SQL_LIKE_ESCAPE_CLAUSE, kYesNo, kYes, 0)

// ---- Limits ----
VQ_DBMD_INT(getMaxConnections, SQL_MAX_DRIVER_CONNECTIONS, k16, kValue)
VQ_DBMD_INT(getMaxColumnNameLength, SQL_MAX_COLUMN_NAME_LEN, k16, kValue)
VQ_DBMD_INT(getMaxCursorNameLength, SQL_MAX_CURSOR_NAME_LEN, k16, kValue)
VQ_DBMD_INT(getMaxSchemaNameLength, SQL_MAX_SCHEMA_NAME_LEN, k16, kValue)
VQ_DBMD_INT(getMaxProcedureNameLength, SQL_MAX_PROCEDURE_NAME_LEN, k16, kValue)
VQ_DBMD_INT(getMaxCatalogNameLength, SQL_MAX_CATALOG_NAME_LEN, k16, kValue)
VQ_DBMD_INT(getMaxTableNameLength, SQL_MAX_TABLE_NAME_LEN, k16, kValue)
VQ_DBMD_INT(getMaxColumnsInGroupBy, SQL_MAX_COLUMNS_IN_GROUP_BY, k16, kValue)
VQ_DBMD_INT(getMaxColumnsInIndex, SQL_MAX_COLUMNS_IN_INDEX, k16, kValue)
VQ_DBMD_INT(getMaxColumnsInOrderBy, SQL_MAX_COLUMNS_IN_ORDER_BY, k16, kValue)
VQ_DBMD_INT(getMaxColumnsInSelect, SQL_MAX_COLUMNS_IN_SELECT, k16, kValue)
VQ_DBMD_INT(getMaxColumnsInTable, SQL_MAX_COLUMNS_IN_TABLE, k16, kValue)
VQ_DBMD_INT(getMaxTablesInSelect, SQL_MAX_TABLES_IN_SELECT, k16, kValue)
VQ_DBMD_INT(getMaxUserNameLength, SQL_MAX_USER_NAME_LEN, k16, kValue)
VQ_DBMD_INT(getMaxIndexLength, SQL_MAX_INDEX_SIZE, k32, kValue)
VQ_DBMD_INT(getMaxRowSize, SQL_MAX_ROW_SIZE, k32, kRowSize)
VQ_DBMD_INT(getMaxStatementLength, SQL_MAX_STATEMENT_LEN, k32, kValue)
VQ_DBMD_INT(getMaxCharLiteralLength, SQL_MAX_CHAR_LITERAL_LEN, k32, kValue)
VQ_DBMD_INT(getMaxBinaryLiteralLength, SQL_MAX_BINARY_LITERAL_LEN, k32, kValue)
VQ_DBMD_INT(getMaxStatements, SQL_MAX_ASYNC_CONCURRENT_STATEMENTS, k32, kValue)
VQ_DBMD_INT(getDefaultTransactionIsolation, SQL_DEFAULT_TXN_ISOLATION, k32, kIsolation)

// ---- Value tests on 16-bit items ----
VQ_DBMD_BOOLEAN(nullPlusNonNullIsNull, SQL_CONCAT_NULL_BEHAVIOR, k16, kValueIn, Values(0))
VQ_DBMD_BOOLEAN(supportsOpenCursorsAcrossCommit, SQL_CURSOR_COMMIT_BEHAVIOR, k16, kValueIn,
                Values(2))
VQ_DBMD_BOOLEAN(supportsOpenStatementsAcrossCommit, SQL_CURSOR_COMMIT_BEHAVIOR, k16, kValueIn,
                Values(2))
VQ_DBMD_BOOLEAN(supportsOpenCursorsAcrossRollback, SQL_CURSOR_ROLLBACK_BEHAVIOR, k16, kValueIn,
                Values(2))
VQ_DBMD_BOOLEAN(supportsOpenStatementsAcrossRollback, SQL_CURSOR_ROLLBACK_BEHAVIOR, k16,
                kValueIn, Values(2))
VQ_DBMD_BOOLEAN(storesUpperCaseIdentifiers, SQL_IDENTIFIER_CASE, k16, kValueIn, Values(1))
VQ_DBMD_BOOLEAN(storesLowerCaseIdentifiers, SQL_IDENTIFIER_CASE, k16, kValueIn, Values(2))
VQ_DBMD_BOOLEAN(supportsMixedCaseIdentifiers, SQL_IDENTIFIER_CASE, k16, kValueIn, Values(3))
VQ_DBMD_BOOLEAN(storesMixedCaseIdentifiers, SQL_IDENTIFIER_CASE, k16, kValueIn, Values(4))
VQ_DBMD_BOOLEAN(supportsTransactions, SQL_TXN_CAPABLE, k16, kNotZero, 0)
VQ_DBMD_BOOLEAN(supportsDataManipulationTransactionsOnly, SQL_TXN_CAPABLE, k16, kValueIn,
                Values(1, 3, 4))
VQ_DBMD_BOOLEAN(supportsDataDefinitionAndDataManipulationTransactions, SQL_TXN_CAPABLE, k16,
                kValueIn, Values(2))
VQ_DBMD_BOOLEAN(dataDefinitionCausesTransactionCommit, SQL_TXN_CAPABLE, k16, kValueIn,
                Values(3))
VQ_DBMD_BOOLEAN(dataDefinitionIgnoredInTransactions, SQL_TXN_CAPABLE, k16, kValueIn, Values(4))
VQ_DBMD_BOOLEAN(supportsTableCorrelationNames, SQL_CORRELATION_NAME, k16, kNotZero, 0)
VQ_DBMD_BOOLEAN(supportsDifferentTableCorrelationNames, SQL_CORRELATION_NAME, k16, kValueIn,
                Values(1))
VQ_DBMD_BOOLEAN(supportsNonNullableColumns, SQL_NON_NULLABLE_COLUMNS, k16, kValueIn, Values(1))
VQ_DBMD_BOOLEAN(usesLocalFiles, SQL_FILE_USAGE, k16, kNotZero, 0)
VQ_DBMD_BOOLEAN(usesLocalFilePerTable, SQL_FILE_USAGE, k16, kValueIn, Values(1))
VQ_DBMD_BOOLEAN(nullsAreSortedHigh, SQL_NULL_COLLATION, k16, kValueIn, Values(0))
VQ_DBMD_BOOLEAN(nullsAreSortedLow, SQL_NULL_COLLATION, k16, kValueIn, Values(1))
VQ_DBMD_BOOLEAN(nullsAreSortedAtStart, SQL_NULL_COLLATION, k16, kValueIn, Values(2))
VQ_DBMD_BOOLEAN(nullsAreSortedAtEnd, SQL_NULL_COLLATION, k16, kValueIn, Values(4))
VQ_DBMD_BOOLEAN(supportsGroupBy, SQL_GROUP_BY, k16, kNotZero, 0)
VQ_DBMD_BOOLEAN(supportsGroupByBeyondSelect, SQL_GROUP_BY, k16, kValueIn, Values(2))
VQ_DBMD_BOOLEAN(supportsGroupByUnrelated, SQL_GROUP_BY, k16, kValueIn, Values(3))
VQ_DBMD_BOOLEAN(storesUpperCaseQuotedIdentifiers, SQL_QUOTED_IDENTIFIER_CASE, k16, kValueIn,
                Values(1))
VQ_DBMD_BOOLEAN(storesLowerCaseQuotedIdentifiers, SQL_QUOTED_IDENTIFIER_CASE, k16, kValueIn,
                Values(2))
VQ_DBMD_BOOLEAN(supportsMixedCaseQuotedIdentifiers, SQL_QUOTED_IDENTIFIER_CASE, k16, kValueIn,
                Values(3))
VQ_DBMD_BOOLEAN(storesMixedCaseQuotedIdentifiers, SQL_QUOTED_IDENTIFIER_CASE, k16, kValueIn,
                Values(4))
VQ_DBMD_BOOLEAN(isCatalogAtStart, SQL_CATALOG_LOCATION, k16, kValueIn, Values(1))

// ---- Tests on 32-bit items ----
VQ_DBMD_BOOLEAN(supportsPositionedDelete, SQL_POSITIONED_STATEMENTS, k32, kBit, 1)
VQ_DBMD_BOOLEAN(supportsPositionedUpdate, SQL_POSITIONED_STATEMENTS, k32, kBit, 2)
VQ_DBMD_BOOLEAN(supportsSelectForUpdate, SQL_POSITIONED_STATEMENTS, k32, kBit, 4)
VQ_DBMD_BOOLEAN(supportsAlterTableWithAddColumn, SQL_ALTER_TABLE, k32, kBit, 1)
VQ_DBMD_BOOLEAN(supportsAlterTableWithDropColumn, SQL_ALTER_TABLE, k32, kBit, 2)
VQ_DBMD_BOOLEAN(supportsSchemasInDataManipulation, SQL_SCHEMA_USAGE, k32, kBit, 1)
VQ_DBMD_BOOLEAN(supportsSchemasInProcedureCalls, SQL_SCHEMA_USAGE, k32, kBit, 2)
VQ_DBMD_BOOLEAN(supportsSchemasInTableDefinitions, SQL_SCHEMA_USAGE, k32, kBit, 4)
VQ_DBMD_BOOLEAN(supportsSchemasInIndexDefinitions, SQL_SCHEMA_USAGE, k32, kBit, 8)
VQ_DBMD_BOOLEAN(supportsSchemasInPrivilegeDefinitions, SQL_SCHEMA_USAGE, k32, kBit, 16)
VQ_DBMD_BOOLEAN(supportsCatalogsInDataManipulation, SQL_CATALOG_USAGE, k32, kBit, 1)
VQ_DBMD_BOOLEAN(supportsCatalogsInProcedureCalls, SQL_CATALOG_USAGE, k32, kBit, 2)
VQ_DBMD_BOOLEAN(supportsCatalogsInTableDefinitions, SQL_CATALOG_USAGE, k32, kBit, 4)
VQ_DBMD_BOOLEAN(supportsCatalogsInIndexDefinitions, SQL_CATALOG_USAGE, k32, kBit, 8)
VQ_DBMD_BOOLEAN(supportsCatalogsInPrivilegeDefinitions, SQL_CATALOG_USAGE, k32, kBit, 16)
VQ_DBMD_BOOLEAN(supportsSubqueriesInComparisons, SQL_SUBQUERIES, k32, kBit, 1)
VQ_DBMD_BOOLEAN(supportsSubqueriesInExists, SQL_SUBQUERIES, k32, kBit, 2)
VQ_DBMD_BOOLEAN(supportsSubqueriesInIns, SQL_SUBQUERIES, k32, kBit, 4)
VQ_DBMD_BOOLEAN(supportsSubqueriesInQuantifieds, SQL_SUBQUERIES, k32, kBit, 8)
VQ_DBMD_BOOLEAN(supportsCorrelatedSubqueries, SQL_SUBQUERIES, k32, kBit, 16)
VQ_DBMD_BOOLEAN(supportsUnion, SQL_UNION, k32, kBit, 1)
VQ_DBMD_BOOLEAN(supportsUnionAll, SQL_UNION, k32, kBit, 2)
VQ_DBMD_BOOLEAN(supportsOuterJoins, SQL_OJ_CAPABILITIES, k32, kLowFour, 0)
VQ_DBMD_BOOLEAN(supportsLimitedOuterJoins, SQL_OJ_CAPABILITIES, k32, kLowFour, 0)
VQ_DBMD_BOOLEAN(supportsFullOuterJoins, SQL_OJ_CAPABILITIES, k32, kBit, 4)
VQ_DBMD_BOOLEAN(supportsANSI92EntryLevelSQL, SQL_SQL_CONFORMANCE, k32, kValueIn, Values(1))
VQ_DBMD_BOOLEAN(supportsANSI92IntermediateSQL, SQL_SQL_CONFORMANCE, k32, kValueIn, Values(4))
VQ_DBMD_BOOLEAN(supportsANSI92FullSQL, SQL_SQL_CONFORMANCE, k32, kValueIn, Values(8))
VQ_DBMD_BOOLEAN(supportsBatchUpdates, SQL_BATCH_SUPPORT, k32, kBit, 2)
VQ_DBMD_BOOLEAN(supportsCoreSQLGrammar, SQL_ODBC_INTERFACE_CONFORMANCE, k32, kValueIn,
                Values(1, 2, 3))
VQ_DBMD_BOOLEAN(supportsExtendedSQLGrammar, SQL_ODBC_INTERFACE_CONFORMANCE, k32, kValueIn,
                Values(2, 3))

// ---- String items ----
VQ_DBMD_STRING(getDriverName, SQL_DRIVER_NAME)
VQ_DBMD_STRING(getDriverVersion, SQL_DRIVER_VER)
VQ_DBMD_STRING(getSearchStringEscape, SQL_SEARCH_PATTERN_ESCAPE)
VQ_DBMD_STRING(getDatabaseProductName, SQL_DBMS_NAME)
VQ_DBMD_STRING(getIdentifierQuoteString, SQL_IDENTIFIER_QUOTE_CHAR)
VQ_DBMD_STRING(getSchemaTerm, SQL_SCHEMA_TERM)
VQ_DBMD_STRING(getProcedureTerm, SQL_PROCEDURE_TERM)
VQ_DBMD_STRING(getCatalogSeparator, SQL_CATALOG_NAME_SEPARATOR)
VQ_DBMD_STRING(getCatalogTerm, SQL_CATALOG_TERM)
VQ_DBMD_STRING(getUserName, SQL_USER_NAME)
VQ_DBMD_STRING(getSQLKeywords, SQL_KEYWORDS)
VQ_DBMD_STRING(getExtraNameCharacters, SQL_SPECIAL_CHARACTERS)

// ---- Constants ----
namespace {
jint IDatabaseMetaData_getDriverMajorVersion(JNIEnv* env, jobject self) {
  return ConstantInt(env, self, dbmd::kDriverMajorVersion);
}
jint IDatabaseMetaData_getDriverMinorVersion(JNIEnv* env, jobject self) {
  return ConstantInt(env, self, dbmd::kDriverMinorVersion);
}
jboolean IDatabaseMetaData_supportsMinimumSQLGrammar(JNIEnv* env, jobject self) {
  return ConstantBoolean(env, self, true);
}
jboolean IDatabaseMetaData_supportsResultSetConcurrency(JNIEnv* env, jobject self, jint, jint) {
  return ConstantBoolean(env, self, true);
}
}  // namespace
VQ_DBMD_EXPORT0(jint, getDriverMajorVersion, IDatabaseMetaData_getDriverMajorVersion)
VQ_DBMD_EXPORT0(jint, getDriverMinorVersion, IDatabaseMetaData_getDriverMinorVersion)
VQ_DBMD_EXPORT0(jboolean, supportsMinimumSQLGrammar, IDatabaseMetaData_supportsMinimumSQLGrammar)
VQ_JNI_EXPORT(jboolean, IDatabaseMetaData, supportsResultSetConcurrency,
              (JNIEnv * env, jobject self, jint type, jint concurrency),
              (env, self, type, concurrency), IDatabaseMetaData_supportsResultSetConcurrency)
VQ_DBMD_CONSTANT_BOOLEAN1(supportsResultSetType, true)
VQ_DBMD_CONSTANT_BOOLEAN1(ownUpdatesAreVisible, true)
VQ_DBMD_CONSTANT_BOOLEAN1(ownDeletesAreVisible, true)
VQ_DBMD_CONSTANT_BOOLEAN1(ownInsertsAreVisible, true)
VQ_DBMD_CONSTANT_BOOLEAN1(othersUpdatesAreVisible, false)
VQ_DBMD_CONSTANT_BOOLEAN1(othersDeletesAreVisible, false)
VQ_DBMD_CONSTANT_BOOLEAN1(othersInsertsAreVisible, false)
VQ_DBMD_CONSTANT_BOOLEAN1(updatesAreDetected, true)
VQ_DBMD_CONSTANT_BOOLEAN1(deletesAreDetected, true)
VQ_DBMD_CONSTANT_BOOLEAN1(insertsAreDetected, true)

// ---- Answers with arguments, and the URL ----
VQ_JNI_EXPORT(jboolean, IDatabaseMetaData, supportsConvert,
              (JNIEnv * env, jobject self, jint from, jint to), (env, self, from, to),
              IDatabaseMetaData_supportsConvert)
VQ_JNI_EXPORT(jboolean, IDatabaseMetaData, supportsTransactionIsolationLevel,
              (JNIEnv * env, jobject self, jint level), (env, self, level),
              IDatabaseMetaData_supportsTransactionIsolationLevel)
VQ_DBMD_EXPORT0(jstring, getURL, IDatabaseMetaData_getURL)
