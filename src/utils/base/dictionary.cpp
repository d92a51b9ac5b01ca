// The hashed dictionary and its iterator.
#include "utils/base/dictionary.h"

c_utils_dict_base::c_utils_dict_base(std::uint16_t buckets) : buckets(buckets) {
  // A virtual call from the constructor reaches this class's alloc_mem, which is the
  // allocation every dictionary of the system uses.
  init();
}

c_utils_dict_base::~c_utils_dict_base() {
  // Records still held go with their buckets, as clear() releases them; keys and values
  // stay the caller's.
  clear();
  ut_free(table);
}

void c_utils_dict_base::init() {
  clear();  // records of an existing table go with it rather than leak
  ut_free(table);
  table = static_cast<c_utils_key_value_list**>(
      alloc_mem(static_cast<unsigned int>(buckets * sizeof(c_utils_key_value_list*))));
  if (table == nullptr) {
    buckets = 0;
    return;
  }
  for (std::uint16_t i = 0; i < buckets; ++i) table[i] = nullptr;
}

c_utils_key_value* c_utils_dict_base::lookup(std::uint16_t bucket, const c_utils_key& key) {
  if (table == nullptr || bucket >= buckets || table[bucket] == nullptr) return nullptr;
  c_utils_key_value_list* list = table[bucket];
  for (c_utils_link* link = list->first(); link != list->end(); link = link->next) {
    auto* record = static_cast<c_utils_key_value*>(link);
    if (is_equal(*record->key, key)) return record;
  }
  return nullptr;
}

void c_utils_dict_base::base_insert(c_utils_key* key, void* value) {
  const std::uint16_t bucket = key->hash();
  if (c_utils_key_value* record = lookup(bucket, *key)) {
    update_existing(&record->value, value);
    return;
  }
  if (table == nullptr || bucket >= buckets) return;
  // With allocation slots that may fail, nothing is stored and the count stays equal to
  // the records held.
  c_utils_key_value* record = alloc_key_value();
  if (record == nullptr) return;
  record->key = key;
  record->value = value;
  if (table[bucket] == nullptr) table[bucket] = alloc_key_value_list();
  if (table[bucket] == nullptr) {
    dealloc(record);
    return;
  }
  table[bucket]->prepend(record);
  ++entries;
}

void* c_utils_dict_base::base_locate(const c_utils_key& key) {
  c_utils_key_value* record = lookup(key.hash(), key);
  return record != nullptr ? record->value : nullptr;
}

void* c_utils_dict_base::base_locate(c_utils_key* key, c_utils_key** stored_key) {
  c_utils_key_value* record = lookup(key->hash(), *key);
  *stored_key = record != nullptr ? record->key : nullptr;
  return record != nullptr ? record->value : nullptr;
}

c_utils_key_value_list* c_utils_dict_base::locate_list(const c_utils_key& key) {
  const std::uint16_t bucket = key.hash();
  if (table == nullptr || bucket >= buckets) return nullptr;
  return table[bucket];
}

void* c_utils_dict_base::base_remove(c_utils_key* key) {
  const std::uint16_t bucket = key->hash();
  c_utils_key_value* record = lookup(bucket, *key);
  if (record == nullptr) return nullptr;
  void* value = record->value;
  record->unlink();
  dealloc(record);
  --entries;
  if (table[bucket]->is_empty()) {
    dealloc(table[bucket]);
    table[bucket] = nullptr;
  }
  return value;
}

void c_utils_dict_base::clear() {
  if (table != nullptr) {
    for (std::uint16_t i = 0; i < buckets; ++i) {
      c_utils_key_value_list* list = table[i];
      if (list == nullptr) continue;
      while (!list->is_empty()) delete list->first();  // each record unlinks itself
      dealloc(list);
      table[i] = nullptr;
    }
  }
  entries = 0;
}

// ---- iterator ----------------------------------------------------------------------

void c_utils_dict_iter_base::replace_iter(c_utils_key_value_iter* replacement) {
  delete iter;
  iter = replacement;
}

c_utils_key_value_list** c_utils_dict_iter_base::find_list_fwd(std::uint16_t from) {
  if (dict.table == nullptr) return nullptr;
  for (unsigned i = from; i < dict.buckets; ++i) {
    if (dict.table[i] != nullptr) return &dict.table[i];
  }
  return nullptr;
}

c_utils_key_value_list** c_utils_dict_iter_base::find_list_bck(std::uint16_t from) {
  if (dict.table == nullptr || dict.buckets == 0) return nullptr;
  if (from >= dict.buckets) from = static_cast<std::uint16_t>(dict.buckets - 1);
  for (int i = from; i >= 0; --i) {
    if (dict.table[i] != nullptr) return &dict.table[i];
  }
  return nullptr;
}

void c_utils_dict_iter_base::enter(c_utils_key_value_list** slot, bool at_last) {
  if (slot == nullptr) {
    replace_iter(nullptr);
    return;
  }
  auto* bucket_iter = new c_utils_key_value_iter(**slot);
  if (at_last) bucket_iter->reset_last();
  replace_iter(bucket_iter);
  bucket = static_cast<std::uint16_t>(slot - dict.table);
}

void c_utils_dict_iter_base::first() { enter(find_list_fwd(0), false); }

void c_utils_dict_iter_base::last() {
  enter(dict.buckets == 0 ? nullptr
                          : find_list_bck(static_cast<std::uint16_t>(dict.buckets - 1)),
        true);
}

void c_utils_dict_iter_base::next() {
  if (iter == nullptr) return;
  iter->next();
  if (!iter->at_end()) return;
  const bool later = bucket + 1 < dict.buckets;
  enter(later ? find_list_fwd(static_cast<std::uint16_t>(bucket + 1)) : nullptr, false);
}

void c_utils_dict_iter_base::prev() {
  if (iter == nullptr) return;
  iter->prev();
  if (!iter->at_end()) return;
  enter(bucket > 0 ? find_list_bck(static_cast<std::uint16_t>(bucket - 1)) : nullptr, true);
}

c_utils_key* c_utils_dict_iter_base::base_get_key() const noexcept {
  return iter != nullptr && !iter->at_end() ? iter->record()->key : nullptr;
}

void* c_utils_dict_iter_base::base_get_value() const noexcept {
  return iter != nullptr && !iter->at_end() ? iter->record()->value : nullptr;
}
