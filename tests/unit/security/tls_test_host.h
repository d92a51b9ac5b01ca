// Host services for the crypto tests: allocation from the C library and recursive
// mutexes, as the communication stack hands them to a crypto environment.
#ifndef VQ_TESTS_SECURITY_TLS_TEST_HOST_H
#define VQ_TESTS_SECURITY_TLS_TEST_HOST_H

#include <pthread.h>

#include <cstdlib>

#include "security/vcci_interface.h"

namespace tls_test {

inline void* host_alloc(void*, std::size_t n) { return std::malloc(n); }
inline void* host_realloc(void*, void* b, std::size_t n) { return std::realloc(b, n); }
inline void host_release(void*, void* b) { std::free(b); }
inline std::uintptr_t host_thread(void*) { return static_cast<std::uintptr_t>(pthread_self()); }
inline void* host_mutex_create(void*) {
  auto* m = static_cast<pthread_mutex_t*>(std::malloc(sizeof(pthread_mutex_t)));
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(m, &attr);
  pthread_mutexattr_destroy(&attr);
  return m;
}
inline void host_mutex_destroy(void*, void* m) {
  if (m == nullptr) return;
  pthread_mutex_destroy(static_cast<pthread_mutex_t*>(m));
  std::free(m);
}
inline void host_mutex_get(void*, void* m) {
  pthread_mutex_lock(static_cast<pthread_mutex_t*>(m));
}
inline void host_mutex_give(void*, void* m) {
  pthread_mutex_unlock(static_cast<pthread_mutex_t*>(m));
}

inline const a_vcci_callbacks kHostCallbacks = {
    host_alloc,        host_realloc,       host_release,   nullptr,         host_thread,
    host_mutex_create, host_mutex_destroy, host_mutex_get, host_mutex_give, nullptr};

}  // namespace tls_test

#endif  // VQ_TESTS_SECURITY_TLS_TEST_HOST_H
