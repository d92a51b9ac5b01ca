// Small helpers of the JVM bridge tests: the Java VM the tests start (bridge_jvm_test.cpp)
// and the calling thread's environment in it, and a pending exception read as text.
#ifndef VQ_TESTS_JDBC_JVM_TEST_SUPPORT_H
#define VQ_TESTS_JDBC_JVM_TEST_SUPPORT_H

#include <jni.h>

#include <string>

namespace jvm_test {

// The tests' Java VM; null when no VM runs (sanitizer builds).
inline JavaVM* TestVm() {
  JavaVM* vm = nullptr;
  jsize count = 0;
  if (JNI_GetCreatedJavaVMs(&vm, 1, &count) != JNI_OK || count == 0) return nullptr;
  return vm;
}

// The calling thread's environment in the tests' Java VM; null when no VM runs or the
// thread is not attached to it.
inline JNIEnv* CurrentEnv() {
  JavaVM* vm = TestVm();
  if (vm == nullptr) return nullptr;
  void* env = nullptr;
  if (vm->GetEnv(&env, JNI_VERSION_1_8) != JNI_OK) return nullptr;
  return static_cast<JNIEnv*>(env);
}

// Takes the pending exception (cleared) and gives what its String method `getter` answers:
// "" when none is pending, "<null>" for a null answer.
inline std::string TakePending(JNIEnv* env, const char* getter) {
  jthrowable t = env->ExceptionOccurred();
  if (t == nullptr) return "";
  env->ExceptionClear();
  jclass cls = env->GetObjectClass(t);
  auto* s = static_cast<jstring>(
      env->CallObjectMethod(t, env->GetMethodID(cls, getter, "()Ljava/lang/String;")));
  std::string text = "<null>";
  if (s != nullptr) {
    const char* chars = env->GetStringUTFChars(s, nullptr);
    text = chars;
    env->ReleaseStringUTFChars(s, chars);
    env->DeleteLocalRef(s);
  }
  env->DeleteLocalRef(cls);
  env->DeleteLocalRef(t);
  return text;
}

}  // namespace jvm_test

#endif  // VQ_TESTS_JDBC_JVM_TEST_SUPPORT_H
