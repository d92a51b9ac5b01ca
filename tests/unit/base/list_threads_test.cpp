// Reference-counted objects shared between threads.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "utils/base/refobj.h"

namespace {

std::atomic<int> g_destroyed{0};

struct Counted : c_utils_refobj {
  ~Counted() override { g_destroyed.fetch_add(1); }
};

TEST(RefObjTest, ConcurrentReferencesDeleteExactlyOnce) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 20000;
  for (int trial = 0; trial < 20; ++trial) {
    g_destroyed = 0;
    auto* object = new Counted;
    for (int i = 0; i < kThreads; ++i) object->add_ref();  // one reference per thread
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
      threads.emplace_back([&] {
        while (!go.load()) {
        }
        for (int r = 0; r < kRounds / 20; ++r) {
          object->add_ref();
          object->release();
        }
        object->release();  // the thread's own reference; the last one deletes
      });
    }
    go = true;
    object->release();  // the creator's reference races with the threads
    for (auto& t : threads) t.join();
    ASSERT_EQ(g_destroyed.load(), 1) << "trial " << trial;
  }
}

}  // namespace
