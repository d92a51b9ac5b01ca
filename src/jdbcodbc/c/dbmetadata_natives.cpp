// The natives of the Java IDatabaseMetaData that answer with result sets, the product
// version, the connection and nFree. Each runs in the frame of jni_frame.h with the class
// name "DatabaseMetaData"; nFree detaches the peer under the monitor and finishes it
// after leaving it. The scalar answers are in dbmetadata_scalar*.cpp.
#include "jdbcodbc/c/connection.h"
#include "jdbcodbc/c/dbmetadata.h"
#include "jdbcodbc/c/jni_frame.h"

namespace {

template <class Body>
auto OnMetaData(JNIEnv* env, jobject self, Body&& body) {
  return PeerCall<DatabaseMetaData>(env, self, DatabaseMetaData::kClassName,
                                    std::forward<Body>(body));
}

jobject IDatabaseMetaData_getTablesN(JNIEnv* env, jobject self, jstring a, jstring b, jstring c,
                                     jstring d) {
  return OnMetaData(env, self, [&](DatabaseMetaData* m) { return m->getTables(env, a, b, c, d); });
}

jobject IDatabaseMetaData_nativeGetColumns(JNIEnv* env, jobject self, jstring a, jstring b,
                                           jstring c, jstring d) {
  return OnMetaData(env, self, [&](DatabaseMetaData* m) { return m->getColumns(env, a, b, c, d); });
}

jobject IDatabaseMetaData_RSgetProcedures(JNIEnv* env, jobject self, jstring a, jstring b,
                                          jstring c) {
  return OnMetaData(env, self, [&](DatabaseMetaData* m) { return m->getProcedures(env, a, b, c); });
}

jobject IDatabaseMetaData_RSgetProcedureColumns(JNIEnv* env, jobject self, jstring a, jstring b,
                                                jstring c, jstring d) {
  return OnMetaData(env, self, [&](DatabaseMetaData* m) {
    return m->getProcedureColumns(env, a, b, c, d);
  });
}

jobject IDatabaseMetaData_RSgetPrimaryKeys(JNIEnv* env, jobject self, jstring a, jstring b,
                                           jstring c) {
  return OnMetaData(env, self, [&](DatabaseMetaData* m) { return m->getPrimaryKeys(env, a, b, c); });
}

jobject IDatabaseMetaData_RSgetCrossReference(JNIEnv* env, jobject self, jstring a, jstring b,
                                              jstring c, jstring d, jstring e, jstring f) {
  return OnMetaData(env, self, [&](DatabaseMetaData* m) {
    return m->getCrossReference(env, a, b, c, d, e, f);
  });
}

jobject IDatabaseMetaData_RSgetImportedKeys(JNIEnv* env, jobject self, jstring a, jstring b,
                                            jstring c) {
  return OnMetaData(env, self,
                    [&](DatabaseMetaData* m) { return m->getImportedKeys(env, a, b, c); });
}

jobject IDatabaseMetaData_RSgetExportedKeys(JNIEnv* env, jobject self, jstring a, jstring b,
                                            jstring c) {
  return OnMetaData(env, self,
                    [&](DatabaseMetaData* m) { return m->getExportedKeys(env, a, b, c); });
}

jobject IDatabaseMetaData_RSgetIndexInfo(JNIEnv* env, jobject self, jstring a, jstring b,
                                         jstring c, jboolean unique, jboolean approximate) {
  return OnMetaData(env, self, [&](DatabaseMetaData* m) {
    return m->getIndexInfo(env, a, b, c, unique != JNI_FALSE, approximate != JNI_FALSE);
  });
}

jobject IDatabaseMetaData_RSgetBestRowIdentifier(JNIEnv* env, jobject self, jstring a, jstring b,
                                                 jstring c, jint scope, jboolean nullable) {
  return OnMetaData(env, self, [&](DatabaseMetaData* m) {
    return m->getBestRowIdentifier(env, a, b, c, scope, nullable != JNI_FALSE);
  });
}

jobject IDatabaseMetaData_RSgetVersionColumns(JNIEnv* env, jobject self, jstring a, jstring b,
                                              jstring c) {
  return OnMetaData(env, self,
                    [&](DatabaseMetaData* m) { return m->getVersionColumns(env, a, b, c); });
}

jobject IDatabaseMetaData_RSgetTablePrivileges(JNIEnv* env, jobject self, jstring a, jstring b,
                                               jstring c) {
  return OnMetaData(env, self,
                    [&](DatabaseMetaData* m) { return m->getTablePrivileges(env, a, b, c); });
}

jobject IDatabaseMetaData_RSgetColumnPrivileges(JNIEnv* env, jobject self, jstring a, jstring b,
                                                jstring c, jstring d) {
  return OnMetaData(env, self, [&](DatabaseMetaData* m) {
    return m->getColumnPrivileges(env, a, b, c, d);
  });
}

jobject IDatabaseMetaData_RSgetTypeInfo(JNIEnv* env, jobject self) {
  return OnMetaData(env, self, [&](DatabaseMetaData* m) { return m->getTypeInfo(env); });
}

jobject IDatabaseMetaData_RSgetTableTypes(JNIEnv* env, jobject self) {
  return OnMetaData(env, self, [&](DatabaseMetaData* m) { return m->getTableTypes(env); });
}

jobject IDatabaseMetaData_RSgetSchemas(JNIEnv* env, jobject self) {
  return OnMetaData(env, self, [&](DatabaseMetaData* m) { return m->getSchemas(env); });
}

jobject IDatabaseMetaData_RSgetCatalogs(JNIEnv* env, jobject self) {
  return OnMetaData(env, self, [&](DatabaseMetaData* m) { return m->getCatalogs(env); });
}

jobject IDatabaseMetaData_getNumericFunctionsN(JNIEnv* env, jobject self) {
  return OnMetaData(env, self, [&](DatabaseMetaData* m) { return m->getNumericFunctions(env); });
}

jobject IDatabaseMetaData_getStringFunctionsN(JNIEnv* env, jobject self) {
  return OnMetaData(env, self, [&](DatabaseMetaData* m) { return m->getStringFunctions(env); });
}

jobject IDatabaseMetaData_getSystemFunctionsN(JNIEnv* env, jobject self) {
  return OnMetaData(env, self, [&](DatabaseMetaData* m) { return m->getSystemFunctions(env); });
}

jobject IDatabaseMetaData_getTimeDateFunctionsN(JNIEnv* env, jobject self) {
  return OnMetaData(env, self, [&](DatabaseMetaData* m) { return m->getTimeDateFunctions(env); });
}

jstring IDatabaseMetaData_getDatabaseProductVersion(JNIEnv* env, jobject self) {
  return OnMetaData(env, self,
                    [&](DatabaseMetaData* m) { return m->getDatabaseProductVersion(env); });
}

jobject IDatabaseMetaData_getConnection(JNIEnv* env, jobject self) {
  return OnMetaData(env, self, [&](DatabaseMetaData* m) -> jobject {
    jobject connection = m->getConnection();
    return connection != nullptr ? env->NewLocalRef(connection) : nullptr;
  });
}

void IDatabaseMetaData_nFree(JNIEnv* env, jobject self) {
  GuardedCall(env, [&] { DatabaseMetaData::detachAndDelete(env, self); });
}

}  // namespace

#define S jstring
VQ_JNI_EXPORT(jobject, IDatabaseMetaData, getTablesN, (JNIEnv* e, jobject o, S a, S b, S c, S d),
              (e, o, a, b, c, d), IDatabaseMetaData_getTablesN)
VQ_JNI_EXPORT(jobject, IDatabaseMetaData, nativeGetColumns,
              (JNIEnv* e, jobject o, S a, S b, S c, S d), (e, o, a, b, c, d),
              IDatabaseMetaData_nativeGetColumns)
VQ_JNI_EXPORT(jobject, IDatabaseMetaData, RSgetProcedures, (JNIEnv* e, jobject o, S a, S b, S c),
              (e, o, a, b, c), IDatabaseMetaData_RSgetProcedures)
VQ_JNI_EXPORT(jobject, IDatabaseMetaData, RSgetProcedureColumns,
              (JNIEnv* e, jobject o, S a, S b, S c, S d), (e, o, a, b, c, d),
              IDatabaseMetaData_RSgetProcedureColumns)
VQ_JNI_EXPORT(jobject, IDatabaseMetaData, RSgetPrimaryKeys, (JNIEnv* e, jobject o, S a, S b, S c),
              (e, o, a, b, c), IDatabaseMetaData_RSgetPrimaryKeys)
VQ_JNI_EXPORT(jobject, IDatabaseMetaData, RSgetCrossReference,
              (JNIEnv* e, jobject o, S a, S b, S c, S d, S f, S g), (e, o, a, b, c, d, f, g),
              IDatabaseMetaData_RSgetCrossReference)
VQ_JNI_EXPORT(jobject, IDatabaseMetaData, RSgetImportedKeys,
              (JNIEnv* e, jobject o, S a, S b, S c), (e, o, a, b, c),
              IDatabaseMetaData_RSgetImportedKeys)
VQ_JNI_EXPORT(jobject, IDatabaseMetaData, RSgetExportedKeys,
              (JNIEnv* e, jobject o, S a, S b, S c), (e, o, a, b, c),
              IDatabaseMetaData_RSgetExportedKeys)
VQ_JNI_EXPORT(jobject, IDatabaseMetaData, RSgetIndexInfo,
              (JNIEnv* e, jobject o, S a, S b, S c, jboolean u, jboolean q), (e, o, a, b, c, u, q),
              IDatabaseMetaData_RSgetIndexInfo)
VQ_JNI_EXPORT(jobject, IDatabaseMetaData, RSgetBestRowIdentifier,
              (JNIEnv* e, jobject o, S a, S b, S c, jint s, jboolean n), (e, o, a, b, c, s, n),
              IDatabaseMetaData_RSgetBestRowIdentifier)
VQ_JNI_EXPORT(jobject, IDatabaseMetaData, RSgetVersionColumns,
              (JNIEnv* e, jobject o, S a, S b, S c), (e, o, a, b, c),
              IDatabaseMetaData_RSgetVersionColumns)
VQ_JNI_EXPORT(jobject, IDatabaseMetaData, RSgetTablePrivileges,
              (JNIEnv* e, jobject o, S a, S b, S c), (e, o, a, b, c),
              IDatabaseMetaData_RSgetTablePrivileges)
VQ_JNI_EXPORT(jobject, IDatabaseMetaData, RSgetColumnPrivileges,
              (JNIEnv* e, jobject o, S a, S b, S c, S d), (e, o, a, b, c, d),
              IDatabaseMetaData_RSgetColumnPrivileges)
#undef S
VQ_JNI_EXPORT(jobject, IDatabaseMetaData, RSgetTypeInfo, (JNIEnv* e, jobject o), (e, o),
              IDatabaseMetaData_RSgetTypeInfo)
VQ_JNI_EXPORT(jobject, IDatabaseMetaData, RSgetTableTypes, (JNIEnv* e, jobject o), (e, o),
              IDatabaseMetaData_RSgetTableTypes)
VQ_JNI_EXPORT(jobject, IDatabaseMetaData, RSgetSchemas, (JNIEnv* e, jobject o), (e, o),
              IDatabaseMetaData_RSgetSchemas)
VQ_JNI_EXPORT(jobject, IDatabaseMetaData, RSgetCatalogs, (JNIEnv* e, jobject o), (e, o),
              IDatabaseMetaData_RSgetCatalogs)
VQ_JNI_EXPORT(jobject, IDatabaseMetaData, getNumericFunctionsN, (JNIEnv* e, jobject o), (e, o),
              IDatabaseMetaData_getNumericFunctionsN)
VQ_JNI_EXPORT(jobject, IDatabaseMetaData, getStringFunctionsN, (JNIEnv* e, jobject o), (e, o),
              IDatabaseMetaData_getStringFunctionsN)
VQ_JNI_EXPORT(jobject, IDatabaseMetaData, getSystemFunctionsN, (JNIEnv* e, jobject o), (e, o),
              IDatabaseMetaData_getSystemFunctionsN)
VQ_JNI_EXPORT(jobject, IDatabaseMetaData, getTimeDateFunctionsN, (JNIEnv* e, jobject o), (e, o),
              IDatabaseMetaData_getTimeDateFunctionsN)
VQ_JNI_EXPORT(jstring, IDatabaseMetaData, getDatabaseProductVersion, (JNIEnv* e, jobject o),
              (e, o), IDatabaseMetaData_getDatabaseProductVersion)
VQ_JNI_EXPORT(jobject, IDatabaseMetaData, getConnection, (JNIEnv* e, jobject o), (e, o),
              IDatabaseMetaData_getConnection)
VQ_JNI_EXPORT(void, IDatabaseMetaData, nFree, (JNIEnv* e, jobject o), (e, o),
              IDatabaseMetaData_nFree)

// IConnection.getMetaData: the connection's metadata object, made on the first call.
namespace {

jobject IConnection_getMetaData(JNIEnv* env, jobject self) {
  return PeerCall<Connection>(env, self, "Connection",
                              [&](Connection* c) { return c->getMetaData(env); });
}

}  // namespace

VQ_JNI_EXPORT(jobject, IConnection, getMetaData, (JNIEnv* e, jobject o), (e, o),
              IConnection_getMetaData)
