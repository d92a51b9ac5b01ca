// The natives of the Java class IDriver: set-up and teardown of the shared environment,
// the two ways of making a connection, and the library's version. They run without a
// Java monitor and do not use their Java object. Only initEnv and the major version
// differ between the packages.
#include "jdbcodbc/c/connection.h"
#include "jdbcodbc/c/jni_frame.h"

namespace {

void InitEnv(JNIEnv* env, int level, jboolean singleLock) {
  GuardedCall(env, [&] { NOSE()->init(env, level, singleLock != JNI_FALSE); });
}

void IDriver_finiEnv(JNIEnv* env, jobject) {
  GuardedCall(env, [&] { NOSE()->fini(env); });
}

jobject IDriver_makeODBCConnection(JNIEnv* env, jobject, jstring connectionString, jstring url,
                                   jint buildNumber) {
  jobject made = nullptr;
  GuardedCall(env, [&] {
    made = Connection::makeODBCConnection(env, connectionString, url, buildNumber);
  });
  return made;
}

jobject IDriver_joinODBCConnection(JNIEnv* env, jobject, jlong hdbc, jlong release,
                                   jlong context, jint buildNumber) {
  jobject made = nullptr;
  GuardedCall(env, [&] {
    made = Connection::joinODBCConnection(env, hdbc, release, context, buildNumber);
  });
  return made;
}

jint IDriver_getNativeLibraryMinorVersion(JNIEnv*, jobject) { return 0; }

}  // namespace

extern "C" {

// The jdbc package always asks for interface level 0.
JNIEXPORT void JNICALL Java_tovrak_jdbc_vellumcrest_IDriver_initEnv(JNIEnv* env, jobject, jint,
                                                                     jboolean singleLock) {
  InitEnv(env, 0, singleLock);
}
JNIEXPORT void JNICALL Java_tovrak_jdbc3_vellumcrest_IDriver_initEnv(JNIEnv* env, jobject,
                                                                      jint level,
                                                                      jboolean singleLock) {
  InitEnv(env, level, singleLock);
}
JNIEXPORT void JNICALL Java_tovrak_jdbc4_vellumcrest_IDriver_initEnv(JNIEnv* env, jobject,
                                                                      jint level,
                                                                      jboolean singleLock) {
  InitEnv(env, level, singleLock);
}

JNIEXPORT jint JNICALL Java_tovrak_jdbc_vellumcrest_IDriver_getNativeLibraryMajorVersion(JNIEnv*,
                                                                                          jobject) {
  return 3;
}
JNIEXPORT jint JNICALL Java_tovrak_jdbc3_vellumcrest_IDriver_getNativeLibraryMajorVersion(JNIEnv*,
                                                                                           jobject) {
  return 3;
}
JNIEXPORT jint JNICALL Java_tovrak_jdbc4_vellumcrest_IDriver_getNativeLibraryMajorVersion(JNIEnv*,
                                                                                           jobject) {
  return 4;
}

}  // extern "C"

VQ_JNI_EXPORT(void, IDriver, finiEnv, (JNIEnv * env, jobject self), (env, self), IDriver_finiEnv)
VQ_JNI_EXPORT(jobject, IDriver, makeODBCConnection,
              (JNIEnv * env, jobject self, jstring cs, jstring url, jint build),
              (env, self, cs, url, build), IDriver_makeODBCConnection)
VQ_JNI_EXPORT(jobject, IDriver, joinODBCConnection,
              (JNIEnv * env, jobject self, jlong hdbc, jlong release, jlong context, jint build),
              (env, self, hdbc, release, context, build), IDriver_joinODBCConnection)
VQ_JNI_EXPORT(jint, IDriver, getNativeLibraryMinorVersion, (JNIEnv * env, jobject self),
              (env, self), IDriver_getNativeLibraryMinorVersion)
