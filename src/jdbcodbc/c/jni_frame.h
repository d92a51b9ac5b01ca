// The frame every exported native runs in, and the macro that exports one native under
// the three package names.
//
// The plain frame enters the Java object's monitor, finds the peer through "nhandle"
// (raising "NATIVE_ACCESS_ERROR" with the class name when it is gone), runs one peer
// operation, leaves the monitor and returns the operation's result (the zero value when
// there was no peer). The close frame detaches the peer, runs its fini inside the
// monitor and deletes it outside; the nFree frame does the same without an error when the
// peer is already gone. No C++ exception leaves a frame.
#ifndef VQ_JDBCODBC_JNI_FRAME_H
#define VQ_JDBCODBC_JNI_FRAME_H

#include <jni.h>

#include <new>
#include <type_traits>
#include <utility>

#include "jdbcodbc/c/nativeobj.h"

// Runs `body`; anything it throws (only the standard library can) becomes
// "OUT_OF_MEMORY" in Java.
template <class Body>
void GuardedCall(JNIEnv* env, Body&& body) noexcept {
  try {
    body();
  } catch (...) {
    try {
      NOSE()->raiseError(env, "OUT_OF_MEMORY");
    } catch (...) {
    }
  }
}

// The plain frame. R is the Java result type; the body receives the peer.
template <class Peer, class Body>
auto PeerCall(JNIEnv* env, jobject self, const char* className, Body&& body) noexcept
    -> decltype(body(std::declval<Peer*>())) {
  using R = decltype(body(std::declval<Peer*>()));
  if constexpr (std::is_void_v<R>) {
    if (env->MonitorEnter(self) != JNI_OK) return;
    GuardedCall(env, [&] {
      if (auto* peer = static_cast<Peer*>(NOSE()->getNonNullNativeObj(env, self, className)))
        body(peer);
    });
    env->MonitorExit(self);
  } else {
    R result{};
    if (env->MonitorEnter(self) != JNI_OK) return result;
    GuardedCall(env, [&] {
      if (auto* peer = static_cast<Peer*>(NOSE()->getNonNullNativeObj(env, self, className)))
        result = body(peer);
    });
    env->MonitorExit(self);
    return result;
  }
}

// The close frame (`detach` true: the peer is detached here, a second close does
// nothing) and the nFree frame (false: the peer's own fini detaches it).
inline void CloseCall(JNIEnv* env, jobject self, const char* className, bool detach) noexcept {
  if (env->MonitorEnter(self) != JNI_OK) return;
  NativeObj* peer = nullptr;
  GuardedCall(env, [&] {
    peer = detach ? NOSE()->closeNativeObj(env, self, className)
                  : NOSE()->getNativeObj(env, self);
    if (peer != nullptr) peer->fini(env);
  });
  env->MonitorExit(self);
  delete peer;
}

// Exports `impl` (a function taking JNIEnv*, jobject and the Java arguments) as the
// native `name` of class `cls` in the three packages. `params` is the parameter list
// with names, `args` the same names as an argument list.
#define VQ_JNI_EXPORT_PACKAGE(pkg, ret, cls, name, params, args, impl) \
  extern "C" JNIEXPORT ret JNICALL Java_tovrak_##pkg##_vellumcrest_##cls##_##name params { \
    return impl args;                                                                       \
  }
#define VQ_JNI_EXPORT(ret, cls, name, params, args, impl)          \
  VQ_JNI_EXPORT_PACKAGE(jdbc, ret, cls, name, params, args, impl)  \
  VQ_JNI_EXPORT_PACKAGE(jdbc3, ret, cls, name, params, args, impl) \
  VQ_JNI_EXPORT_PACKAGE(jdbc4, ret, cls, name, params, args, impl)

#endif  // VQ_JDBCODBC_JNI_FRAME_H
