// Host services for the crypto tests: allocation that counts what is still held, a log
// that keeps every line a provider writes, and mutexes that count their use; plus the
// environment scope that makes a directory the installation root for module lookups.
#ifndef VQ_TESTS_UNIT_SECURITY_VCCI_TEST_HOST_H
#define VQ_TESTS_UNIT_SECURITY_VCCI_TEST_HOST_H

#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "scoped_environment.h"
#include "security/vcci_interface.h"

struct TestHost {
  long live_blocks = 0;  // allocations not yet released
  std::vector<std::string> log;
  int mutexes_made = 0;
  int mutexes_destroyed = 0;
  int takes = 0;
  int gives = 0;

  // The log lines that start with the prefix.
  std::vector<std::string> lines(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& l : log) {
      if (l.compare(0, prefix.size(), prefix) == 0) out.push_back(l);
    }
    return out;
  }

  static a_vcci_callbacks callbacks() {
    a_vcci_callbacks cb{};
    cb.alloc = [](void* ctx, std::size_t n) -> void* {
      ++static_cast<TestHost*>(ctx)->live_blocks;
      return std::malloc(n);
    };
    cb.realloc = [](void*, void* p, std::size_t n) -> void* { return std::realloc(p, n); };
    cb.release = [](void* ctx, void* p) {
      if (p != nullptr) --static_cast<TestHost*>(ctx)->live_blocks;
      std::free(p);
    };
    cb.log = [](void* ctx, std::uint32_t, const char* text, const void*, unsigned) {
      static_cast<TestHost*>(ctx)->log.emplace_back(text != nullptr ? text : "");
      return 0;
    };
    cb.mutex_create = [](void* ctx) -> void* {
      ++static_cast<TestHost*>(ctx)->mutexes_made;
      return new std::mutex;
    };
    cb.mutex_destroy = [](void* ctx, void* m) {
      ++static_cast<TestHost*>(ctx)->mutexes_destroyed;
      delete static_cast<std::mutex*>(m);
    };
    cb.mutex_get = [](void* ctx, void* m) {
      ++static_cast<TestHost*>(ctx)->takes;
      static_cast<std::mutex*>(m)->lock();
    };
    cb.mutex_give = [](void* ctx, void* m) {
      ++static_cast<TestHost*>(ctx)->gives;
      static_cast<std::mutex*>(m)->unlock();
    };
    return cb;
  }
};

// Makes `root` the only place libraries are searched (VCDIR), and puts back the
// variables when the scope ends. VC_USE_VCCI_STUB is unset within the scope.
class ModuleRoot {
 public:
  explicit ModuleRoot(const std::string& root)
      : env_({"VCDIR", "VELLUM12", "LD_LIBRARY_PATH", "PATH", "VC_USE_VCCI_STUB"}) {
    env_.Set("VCDIR", root);
  }

 private:
  vq::testing::ScopedEnvironment env_;
};

// A user option list built from pairs, kept alive by the object.
class Options {
 public:
  Options(std::initializer_list<std::pair<std::string, std::string>> pairs) : texts_(pairs) {
    for (auto& [name, value] : texts_) {
      nodes_.push_back({name.data(), value.data(), 0, nullptr});
    }
    for (std::size_t i = 0; i + 1 < nodes_.size(); ++i) nodes_[i].next = &nodes_[i + 1];
  }
  Options(const Options&) = delete;
  Options& operator=(const Options&) = delete;
  _a_vcci_user_option* list() { return nodes_.empty() ? nullptr : nodes_.data(); }
  const _a_vcci_user_option& at(std::size_t i) const { return nodes_[i]; }

 private:
  std::vector<std::pair<std::string, std::string>> texts_;
  std::vector<_a_vcci_user_option> nodes_;
};

#endif  // VQ_TESTS_UNIT_SECURITY_VCCI_TEST_HOST_H
