#include "utils/base/dictionary.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// A key with an explicit bucket and an identity; equal keys share the identity.
struct TestKey : c_utils_key {
  TestKey(std::uint16_t bucket, int id) : bucket(bucket), id(id) {}
  std::uint16_t hash() const override { return bucket; }
  std::uint16_t bucket;
  int id;
};

class TestDict : public c_utils_dict_base {
 public:
  explicit TestDict(std::uint16_t buckets) : c_utils_dict_base(buckets) {}
  void insert(TestKey* key, const char* value) { base_insert(key, const_cast<char*>(value)); }
  const char* locate(const TestKey& key) { return static_cast<const char*>(base_locate(key)); }

 protected:
  int is_equal(const c_utils_key& stored, const c_utils_key& probe) override {
    return static_cast<const TestKey&>(stored).id == static_cast<const TestKey&>(probe).id;
  }
};

std::string Walk(c_utils_dict_base& dict, bool backwards) {
  std::string out;
  c_utils_dict_iter_base it(dict);
  if (backwards) {
    for (it.last(); !it.at_end(); it.prev()) out += static_cast<const char*>(it.base_get_value());
  } else {
    for (it.first(); !it.at_end(); it.next()) out += static_cast<const char*>(it.base_get_value());
  }
  return out;
}

TEST(DictionaryTest, WalksBucketsAscendingNewestFirst) {
  TestDict dict(10);
  TestKey a(3, 1), b(3, 2), c(7, 3), d(0, 4), e(9, 5);
  dict.insert(&a, "A");
  dict.insert(&b, "B");
  dict.insert(&c, "C");
  EXPECT_EQ(Walk(dict, false), "BAC");
  EXPECT_EQ(Walk(dict, true), "CAB");

  dict.insert(&d, "D");  // first and last buckets
  dict.insert(&e, "E");
  EXPECT_EQ(Walk(dict, false), "DBACE");
  EXPECT_EQ(Walk(dict, true), "ECABD");
  EXPECT_EQ(dict.entries, 5u);

  TestDict empty(4);
  c_utils_dict_iter_base it(empty);
  it.first();
  EXPECT_TRUE(it.at_end());
  EXPECT_EQ(it.base_get_key(), nullptr);
  it.last();
  EXPECT_TRUE(it.at_end());
  it.next();  // moving at the end does nothing
  it.prev();
  EXPECT_TRUE(it.at_end());
}

TEST(DictionaryTest, DuplicateKeyUpdatesValueAndKeepsFirstKeyObject) {
  TestDict dict(4);
  TestKey first(1, 42), again(1, 42);
  dict.insert(&first, "old");
  dict.insert(&again, "new");
  EXPECT_EQ(dict.entries, 1u);
  c_utils_key* stored = nullptr;
  EXPECT_STREQ(static_cast<const char*>(dict.base_locate(&again, &stored)), "new");
  EXPECT_EQ(stored, &first);
}

TEST(DictionaryTest, RemovingTheLastRecordOfABucketDropsTheBucket) {
  TestDict dict(8);
  TestKey a(2, 1), b(5, 2), c(5, 3), absent(5, 99);
  dict.insert(&a, "a");
  dict.insert(&b, "b");
  dict.insert(&c, "c");

  EXPECT_EQ(dict.base_remove(&absent), nullptr);
  EXPECT_EQ(dict.entries, 3u);
  c_utils_key* stored = &absent;
  EXPECT_EQ(dict.base_locate(&absent, &stored), nullptr);
  EXPECT_EQ(stored, nullptr);

  EXPECT_STREQ(static_cast<const char*>(dict.base_remove(&a)), "a");
  EXPECT_EQ(dict.table[2], nullptr);
  EXPECT_EQ(dict.locate_list(a), nullptr);
  EXPECT_EQ(Walk(dict, false), "cb");
  EXPECT_STREQ(static_cast<const char*>(dict.base_remove(&b)), "b");
  EXPECT_NE(dict.table[5], nullptr);  // still holds c
  EXPECT_EQ(dict.entries, 1u);
}

TEST(DictionaryTest, RemovalDuringAWalkAfterSteppingPast) {
  TestDict dict(5);
  std::vector<std::unique_ptr<TestKey>> keys;
  for (int i = 0; i < 40; ++i) {
    keys.push_back(std::make_unique<TestKey>(static_cast<std::uint16_t>(i % 5), i));
    dict.insert(keys.back().get(), "x");
  }
  int seen = 0;
  c_utils_dict_iter_base it(dict);
  for (it.first(); !it.at_end();) {
    auto* key = static_cast<TestKey*>(it.base_get_key());
    it.next();
    if (key->id % 2 == 0) dict.base_remove(key);
    ++seen;
  }
  EXPECT_EQ(seen, 40);
  EXPECT_EQ(dict.entries, 20u);
  for (auto& key : keys) EXPECT_EQ(dict.locate(*key) != nullptr, key->id % 2 == 1) << key->id;
}

TEST(DictionaryTest, HoldsManyKeysPerBucketAndEveryBucket) {
  TestDict dict(16);
  std::vector<std::unique_ptr<TestKey>> keys;
  std::vector<std::string> values;
  constexpr int kKeys = 5000;
  values.reserve(kKeys);
  for (int i = 0; i < kKeys; ++i) {
    keys.push_back(std::make_unique<TestKey>(static_cast<std::uint16_t>(i % 16), i));
    values.push_back(std::to_string(i));
    dict.base_insert(keys.back().get(), values.back().data());
  }
  EXPECT_EQ(dict.entries, static_cast<std::uint32_t>(kKeys));
  for (int i = 0; i < kKeys; ++i) {
    ASSERT_STREQ(static_cast<const char*>(dict.base_locate(*keys[i])), values[i].c_str());
  }
  for (std::uint16_t b = 0; b < 16; ++b) EXPECT_NE(dict.table[b], nullptr) << b;
  int walked = 0;
  c_utils_dict_iter_base it(dict);
  for (it.first(); !it.at_end(); it.next()) ++walked;
  EXPECT_EQ(walked, kKeys);

  dict.init();  // a fresh table; the old one and its records go (the leak checker watches)
  dict.clear();
  EXPECT_EQ(dict.entries, 0u);
}

TEST(DictionaryTest, ClearKeepsKeysAndValuesAlive) {
  TestDict dict(4);
  TestKey a(0, 1), b(3, 2);
  std::string va = "va", vb = "vb";
  dict.base_insert(&a, va.data());
  dict.base_insert(&b, vb.data());
  dict.clear();
  EXPECT_EQ(dict.entries, 0u);
  for (std::uint16_t i = 0; i < dict.buckets; ++i) EXPECT_EQ(dict.table[i], nullptr);
  EXPECT_EQ(a.id, 1);  // the caller's objects are untouched
  EXPECT_EQ(va, "va");
  dict.base_insert(&a, va.data());  // and the dictionary is usable again
  EXPECT_EQ(dict.entries, 1u);
}

// A dictionary whose record allocation can fail, as derived dictionaries may.
class FailingDict : public TestDict {
 public:
  using TestDict::TestDict;
  bool fail_records = false;
  bool fail_lists = false;

 protected:
  c_utils_key_value* alloc_key_value() override {
    return fail_records ? nullptr : TestDict::alloc_key_value();
  }
  c_utils_key_value_list* alloc_key_value_list() override {
    return fail_lists ? nullptr : TestDict::alloc_key_value_list();
  }
};

TEST(DictionaryTest, FailedAllocationStoresNothingAndKeepsTheCountTrue) {
  FailingDict dict(4);
  TestKey a(1, 1), b(2, 2);
  dict.fail_records = true;
  dict.insert(&a, "a");
  EXPECT_EQ(dict.entries, 0u);
  EXPECT_EQ(dict.locate(a), nullptr);

  dict.fail_records = false;
  dict.fail_lists = true;
  dict.insert(&b, "b");  // the record is released again, not leaked
  EXPECT_EQ(dict.entries, 0u);
  EXPECT_EQ(dict.table[2], nullptr);

  dict.fail_lists = false;
  dict.insert(&b, "b");
  EXPECT_EQ(dict.entries, 1u);
  EXPECT_STREQ(dict.locate(b), "b");
}

}  // namespace
