// A hashed dictionary of key objects to value pointers: a fixed array of buckets, each
// an intrusive list of key/value records, newest first. It stores pointers only; keys
// and values belong to the caller. A derived dictionary supplies key equality; each key
// class supplies its own bucket number, which must be below the bucket count.
//
// No locks inside: the owner of a dictionary guards it and its iterators.
#ifndef VQ_UTILS_BASE_DICTIONARY_H
#define VQ_UTILS_BASE_DICTIONARY_H

#include <cstdint>

#include "utils/base/list.h"

class c_utils_key : public c_utils_base {
 public:
  // The key's bucket number, below the dictionary's bucket count.
  virtual std::uint16_t hash() const = 0;
};

class c_utils_key_value : public c_utils_link {
 public:
  c_utils_key* key = nullptr;
  void* value = nullptr;
};

// One bucket; a bucket list that exists is never empty.
class c_utils_key_value_list : public c_utils_list_base {};

// A position inside one bucket.
class c_utils_key_value_iter : public c_utils_iter_base {
 public:
  explicit c_utils_key_value_iter(c_utils_key_value_list& list) noexcept
      : c_utils_iter_base(list) {}
  c_utils_key_value* record() const noexcept {
    return at_end() ? nullptr : static_cast<c_utils_key_value*>(current);
  }
};

class c_utils_dict_base : public c_utils_base {
 public:
  explicit c_utils_dict_base(std::uint16_t buckets);
  // Releases the records, the bucket lists and the table; keys and values are the
  // caller's.
  ~c_utils_dict_base() override;

  c_utils_dict_base(const c_utils_dict_base&) = delete;
  c_utils_dict_base& operator=(const c_utils_dict_base&) = delete;

  // (Re)creates an empty table of `buckets` slots; buckets becomes 0 when the
  // allocation slot yields nothing.
  void init();

  // The record of `key` in `bucket`, or null.
  c_utils_key_value* lookup(std::uint16_t bucket, const c_utils_key& key);

  // Stores key -> value. A key already present keeps its stored key object and has its
  // value updated through update_existing; `key` is then not kept.
  void base_insert(c_utils_key* key, void* value);
  void* base_locate(const c_utils_key& key);
  void* base_locate(c_utils_key* key) { return base_locate(*key); }
  // Also hands back the stored key object (null when absent), which callers release
  // after a removal.
  void* base_locate(c_utils_key* key, c_utils_key** stored_key);
  c_utils_key_value_list* locate_list(const c_utils_key& key);
  // Removes the record of `key` and returns its value, or null when absent.
  void* base_remove(c_utils_key* key);
  // Removes every record; keys and values are not released.
  void clear();

  std::uint32_t entries = 0;             // records stored in all buckets
  std::uint16_t buckets;                 // slots in `table`
  c_utils_key_value_list** table = nullptr;  // `buckets` slots, null while a bucket is empty

 protected:
  // Non-zero when the stored key (first) and the probe (second) are the same key.
  virtual int is_equal(const c_utils_key& stored, const c_utils_key& probe) = 0;
  virtual void update_existing(void** slot, void* value) { *slot = value; }
  virtual void* alloc_mem(unsigned int size) { return ut_alloc(size != 0 ? size : 1); }
  virtual void free_mem(void* block) { ut_free(block); }
  virtual c_utils_key_value* alloc_key_value() { return new c_utils_key_value; }
  virtual c_utils_key_value_list* alloc_key_value_list() { return new c_utils_key_value_list; }
  virtual void dealloc(c_utils_key_value* record) { delete record; }
  virtual void dealloc(c_utils_key_value_list* list) { delete list; }

  friend class c_utils_dict_iter_base;
};

// Walks every record: buckets in ascending index, newest first within a bucket;
// backwards the exact reverse. After every move it stands on a record or at its end.
class c_utils_dict_iter_base : public c_utils_base {
 public:
  explicit c_utils_dict_iter_base(c_utils_dict_base& dict) noexcept : dict(dict) {}
  ~c_utils_dict_iter_base() override { delete iter; }

  c_utils_dict_iter_base(const c_utils_dict_iter_base&) = delete;
  c_utils_dict_iter_base& operator=(const c_utils_dict_iter_base&) = delete;

  void first();
  void last();
  void next();
  void prev();
  bool at_end() const noexcept { return iter == nullptr; }

  c_utils_key* base_get_key() const noexcept;
  void* base_get_value() const noexcept;

  // Deletes the owned bucket iterator and installs `replacement` (may be null).
  void replace_iter(c_utils_key_value_iter* replacement);
  // The slot of the first non-empty bucket at or after (before) `from`, or null.
  c_utils_key_value_list** find_list_fwd(std::uint16_t from);
  c_utils_key_value_list** find_list_bck(std::uint16_t from);

  c_utils_dict_base& dict;
  c_utils_key_value_iter* iter = nullptr;  // owned; null at the end
  std::uint16_t bucket = 0;                // index of the bucket `iter` walks

 private:
  void enter(c_utils_key_value_list** slot, bool at_last);
};

#endif  // VQ_UTILS_BASE_DICTIONARY_H
