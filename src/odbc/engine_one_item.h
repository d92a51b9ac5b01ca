// A descriptor item list of one item with one value, owned: the output of a one-value
// query, the value of an option request or one chunk of a long value. Engine-interface
// internal.
#ifndef VQ_ODBC_ENGINE_ONE_ITEM_H
#define VQ_ODBC_ENGINE_ONE_ITEM_H

#include <cstddef>
#include <cstdint>

#include "cmdseq/desc.h"

// A list of one item with one value; ok() false when it could not be allocated.
class OneItem {
 public:
  OneItem(std::int16_t type, std::uint32_t length, void* data) {
    CmdSeqInitDesc(&desc_);
    ok_ = CmdSeqAllocDescItems(&desc_, 1, 1) == CMDSEQ_OK;
    if (!ok_) return;
    a_cmdseq_desc_item* item = desc_.items;
    item->type = type;
    item->length = length;
    item->values()[0] = {data, &indicator_, &length_};
    (void)CmdSeqMarkDescItemUpdated(&desc_, item);
  }
  ~OneItem() { CmdSeqFreeDescItems(&desc_); }
  OneItem(const OneItem&) = delete;
  OneItem& operator=(const OneItem&) = delete;

  bool ok() const { return ok_; }
  // Points the value at `data` of `length` bytes (a value, not NULL) and marks the item
  // changed, so that the next request sends its definition again.
  a_cmdseq_desc* set(const void* data, std::uint32_t length) {
    a_cmdseq_desc_item* item = desc_.items;
    item->length = length;
    item->values()[0].data = const_cast<void*>(data);
    indicator_ = 0;
    length_ = length;
    (void)CmdSeqMarkDescItemUpdated(&desc_, item);
    return &desc_;
  }
  a_cmdseq_desc* desc() { return &desc_; }
  a_cmdseq_desc_item* item() { return desc_.items; }
  bool is_null() const { return indicator_ < 0; }
  // The returned length, at most `room`.
  std::size_t length(std::size_t room) const { return length_ < room ? length_ : room; }

 private:
  a_cmdseq_desc desc_;
  bool ok_ = false;
  std::int32_t indicator_ = 0;
  std::uint32_t length_ = 0;
};

#endif  // VQ_ODBC_ENGINE_ONE_ITEM_H
