// Descriptor item lists: allocation in the three forms, resizing, the change counter.
#include "cmdseq/desc.h"

#include <cstring>

#include "cmdseq/client.h"
#include "streams/stream_api.h"
#include "utils/base/memory.h"

namespace {

a_cmdseq_desc_item* inline_item(a_cmdseq_desc* desc) {
  return reinterpret_cast<a_cmdseq_desc_item*>(desc->inline_item);
}

// Advances the counter once per send cycle. On wrapping, every item is stamped 1 and
// the caller must treat every description as changed.
a_cmdseq_return advance_counter(a_cmdseq_desc* desc, bool* wrapped) {
  *wrapped = false;
  if ((desc->flags & CS_DESC_ADVANCED) != 0) return CMDSEQ_OK;
  desc->flags |= CS_DESC_ADVANCED;
  if (desc->change_counter == 0xFFFF) {
    desc->change_counter = 1;
    for (a_cmdseq_desc_item* item = desc->items; item != nullptr; item = item->next) {
      item->stamp = 1;
    }
    *wrapped = true;
    return CMDSEQ_COUNTER_WRAPPED;
  }
  ++desc->change_counter;
  return CMDSEQ_OK;
}

void set_shape(a_cmdseq_desc* desc, std::uint32_t values) {
  if (values != desc->values_per_item) {
    desc->values_per_item = static_cast<std::uint16_t>(values);
    desc->flags |= CS_DESC_RESHAPED;
  }
}

// Frees the storage of the items but not their names (which may have moved elsewhere).
void free_item_storage(a_cmdseq_desc* desc) {
  if ((desc->flags & CS_DESC_BLOCK) != 0) {
    ut_free(desc->items);
  } else {
    a_cmdseq_desc_item* item = desc->items;
    while (item != nullptr) {
      a_cmdseq_desc_item* next = item->next;
      if (item != inline_item(desc)) ut_free(item);
      item = next;
    }
  }
  desc->items = nullptr;
}

}  // namespace

void CmdSeqInitDesc(a_cmdseq_desc* desc) {
  desc->count = 0;
  desc->items = nullptr;
  desc->change_counter = 1;
  desc->values_per_item = 1;
  desc->flags = CS_DESC_ADVANCED | CS_DESC_INITIALISED;
  std::memset(desc->inline_item, 0, sizeof desc->inline_item);
}

a_cmdseq_return CmdSeqAllocDescItems(a_cmdseq_desc* desc, std::uint32_t count,
                                     std::uint32_t values) {
  CmdSeqFreeDescItems(desc);
  if (count == 0) return CMDSEQ_OK;
  if (values > 0xFFFF) return CMDSEQ_NO_MEMORY;
  if (count == 1 && values == 1) {
    a_cmdseq_desc_item* item = inline_item(desc);
    std::memset(item, 0, i_cs_DescItemBytes(1));
    desc->items = item;
    desc->flags |= CS_DESC_INLINE;
  } else {
    const std::size_t each = i_cs_DescItemBytes(values);
    if (count > SIZE_MAX / each) return CMDSEQ_NO_MEMORY;
    auto* block = static_cast<a_cmdseq_desc_item*>(ut_calloc(each * count));
    if (block == nullptr) return CMDSEQ_NO_MEMORY;
    for (std::uint32_t k = 0; k + 1 < count; ++k) {
      CmdSeqFastGetDescItem(block, k, values)->next =
          CmdSeqFastGetDescItem(block, k + 1, values);
    }
    desc->items = block;
    desc->flags |= CS_DESC_BLOCK;
  }
  desc->count = count;
  bool wrapped = false;
  const a_cmdseq_return result = advance_counter(desc, &wrapped);
  if (!wrapped) {
    for (a_cmdseq_desc_item* item = desc->items; item != nullptr; item = item->next) {
      item->stamp = desc->change_counter;
    }
  }
  set_shape(desc, values);
  return result;
}

a_cmdseq_desc_item* i_cs_AllocDescItem(a_cmdseq_desc* desc, std::uint32_t values) {
  if ((desc->flags & CS_DESC_BLOCK) != 0) return nullptr;
  if (values == 0) values = 1;
  if (values > 0xFFFF) return nullptr;
  a_cmdseq_desc_item* item;
  if (values == 1 && (desc->flags & CS_DESC_INLINE) == 0) {
    item = inline_item(desc);
    desc->flags |= CS_DESC_INLINE;
  } else {
    item = static_cast<a_cmdseq_desc_item*>(ut_malloc(i_cs_DescItemBytes(values)));
    if (item == nullptr) return nullptr;
  }
  std::memset(item, 0, i_cs_DescItemBytes(values));
  set_shape(desc, values);
  return item;
}

void i_cs_AppendDescItem(a_cmdseq_desc* desc, a_cmdseq_desc_item* item) {
  item->next = nullptr;
  a_cmdseq_desc_item** tail = &desc->items;
  while (*tail != nullptr) tail = &(*tail)->next;
  *tail = item;
  ++desc->count;
}

a_cmdseq_desc_item* CmdSeqGetDescItem(a_cmdseq_desc* desc, std::uint32_t k) {
  if (k > desc->count) return nullptr;
  a_cmdseq_desc_item* item = desc->items;
  for (std::uint32_t i = 1; i < k && item != nullptr; ++i) item = item->next;
  return item;
}

a_cmdseq_return CmdSeqResizeDescRows(a_cmdseq_desc* desc, std::uint32_t values) {
  if (values == desc->values_per_item || desc->items == nullptr || desc->count == 0) {
    return CMDSEQ_OK;
  }
  const std::size_t each = i_cs_DescItemBytes(values);
  auto* block = values <= 0xFFFF && desc->count <= SIZE_MAX / each
                    ? static_cast<a_cmdseq_desc_item*>(ut_calloc(each * desc->count))
                    : nullptr;
  if (block == nullptr) {
    CmdSeqFreeDescItems(desc);
    return CMDSEQ_NO_MEMORY;
  }
  const std::uint32_t kept = values < desc->values_per_item ? values : desc->values_per_item;
  std::uint32_t k = 0;
  for (a_cmdseq_desc_item* old = desc->items; old != nullptr && k < desc->count;
       old = old->next, ++k) {
    a_cmdseq_desc_item* item = CmdSeqFastGetDescItem(block, k, values);
    // The header moves with its names: the old storage is freed below without them.
    std::memcpy(item, old, sizeof(a_cmdseq_desc_item));
    std::memcpy(item->values(), old->values(), kept * sizeof(a_cmdseq_value));
    item->next = k + 1 < desc->count ? CmdSeqFastGetDescItem(block, k + 1, values) : nullptr;
  }
  free_item_storage(desc);
  desc->items = block;
  desc->flags = static_cast<std::uint8_t>((desc->flags | CS_DESC_BLOCK | CS_DESC_RESHAPED) &
                                          ~CS_DESC_INLINE);
  desc->values_per_item = static_cast<std::uint16_t>(values);
  return CMDSEQ_OK;
}

void CmdSeqFreeDescItems(a_cmdseq_desc* desc) {
  // Names are freed in every form: a described (chained) list keeps its names when it
  // is resized into a block.
  for (a_cmdseq_desc_item* item = desc->items; item != nullptr; item = item->next) {
    ut_free(item->name2);
    ut_free(item->name);
    item->name = item->name2 = nullptr;
  }
  free_item_storage(desc);
  desc->count = 0;
  desc->values_per_item = 0;
  desc->change_counter = 1;
  desc->flags = static_cast<std::uint8_t>((desc->flags & ~(CS_DESC_BLOCK | CS_DESC_INLINE)) |
                                          CS_DESC_ADVANCED);
}

a_cmdseq_return CmdSeqMarkDescItemUpdated(a_cmdseq_desc* desc, a_cmdseq_desc_item* item) {
  bool wrapped = false;
  const a_cmdseq_return result = advance_counter(desc, &wrapped);
  if (!wrapped && item != nullptr) item->stamp = desc->change_counter;
  return result;
}

int CmdSeqIsDescUpdated(const a_cmdseq_cursor* cursor, const a_cmdseq_desc* desc) {
  return cursor->known_counter < desc->change_counter ? 1 : 0;
}

void CmdSeqMarkCursorCurrent(a_cmdseq_cursor* cursor, a_cmdseq_desc* desc) {
  cursor->known_counter = desc->change_counter;
  desc->flags &= static_cast<std::uint8_t>(~CS_DESC_ADVANCED);
}

void CmdSeqMarkCursorOld(a_cmdseq_cursor* cursor) { cursor->known_counter = 0; }

void CmdSeqDumpComment(a_cmdseq_conn* conn, const char* text) {
  if (conn == nullptr || text == nullptr || std::strlen(text) > 255) return;
  StrmDumpComment(conn->strm_conn, "%s", text);
}
