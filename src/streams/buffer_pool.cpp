#include "streams/buffer_pool.h"

#include "streams/host_functions.h"

namespace {

constexpr std::uint32_t kMsgNoBuffer = 10288;

}  // namespace

c_strm_buff_frlist::c_strm_buff_frlist(c_strm_frlist_controller* controller,
                                       std::uint16_t size)
    : src(new c_strm_buff_src),
      owns_src(1),
      parent(nullptr),
      sub{{kNoLimit, 0, {}}, {kNoLimit, 0, {}}, {kNoLimit, 0, {}}},
      size(size),
      controller(controller) {}

c_strm_buff_frlist::c_strm_buff_frlist(c_strm_frlist_controller* controller,
                                       c_strm_buff_src* src, std::uint16_t size)
    : src(src),
      owns_src(0),
      parent(nullptr),
      sub{{kNoLimit, 0, {}}, {kNoLimit, 0, {}}, {kNoLimit, 0, {}}},
      size(size),
      controller(controller) {}

c_strm_buff_frlist::c_strm_buff_frlist(c_strm_buff_frlist* parent, std::uint32_t limit,
                                       std::uint32_t limit_no_block)
    : src(parent->src),
      owns_src(0),
      parent(parent),
      sub{{limit, 0, {}}, {limit, 0, {}}, {limit_no_block, 0, {}}},
      size(parent->size),
      controller(parent->controller) {}

c_strm_buff_frlist::~c_strm_buff_frlist() {
  {
    vq::strm::LockHold hold(lock);
    for (int i = 0; i < 3; ++i) {
      while (c_strm_buffer* b = sub[i].list.first_element()) {
        b->unlink();
        --sub[i].count;
        if (parent != nullptr) {
          if (b->data != nullptr) b->set_in_transit(false);
          vq::strm::LockHold parent_hold(parent->lock);
          parent->append_locked(static_cast<a_strm_sublist>(i), b);
        } else {
          (b->src != nullptr ? b->src : src)->free(b);
        }
      }
    }
  }
  if (owns_src != 0) delete src;
}

a_strm_sublist c_strm_buff_frlist::sublist_for(const c_strm_buffer& buffer) {
  if (buffer.shared_flag != STRM_SHARED_MEM) return STRM_SUBLIST_PRIVATE;
  return buffer.capacity != 0 ? STRM_SUBLIST_SHARED : STRM_SUBLIST_NO_BLOCK;
}

void c_strm_buff_frlist::append_locked(a_strm_sublist which, c_strm_buffer* buffer) {
  sub[which].list.append(buffer);
  ++sub[which].count;
}

c_strm_buffer* c_strm_buff_frlist::take_locked(a_shared_flag kind) {
  a_strm_sublist which = STRM_SUBLIST_PRIVATE;
  if (kind == STRM_SHARED_MEM) which = size != 0 ? STRM_SUBLIST_SHARED : STRM_SUBLIST_NO_BLOCK;
  c_strm_buffer_iter it(sub[which].list);
  for (; !it.at_end(); it.next()) {
    c_strm_buffer* b = it.element();
    if (which == STRM_SUBLIST_NO_BLOCK && b->data == nullptr && b->src != nullptr) {
      b->data = b->src->heap->resolve(b->shared_ref);
    }
    // A buffer with no block at all is free to take; one whose block the peer still
    // holds is not.
    if (b->data == nullptr || !b->in_transit()) {
      b->unlink();
      --sub[which].count;
      return b;
    }
  }
  return nullptr;
}

c_strm_buffer* c_strm_buff_frlist::get_buffer(a_shared_flag kind) {
  {
    vq::strm::LockHold hold(lock);
    if (c_strm_buffer* b = take_locked(kind)) return b;
  }
  if (parent != nullptr) return parent->get_buffer(kind);

  {
    vq::strm::LockHold hold(lock);
    for (int tries = 0;; ++tries) {
      if (c_strm_buffer* b = take_locked(kind)) return b;
      if (tries == kPreallocTries) break;
      prealloc_buffers(kPreallocBatch, kind);
    }
  }
  vq::strm::HostPrintConnectionlessMsg(kMsgNoBuffer);
  return nullptr;
}

void c_strm_buff_frlist::done_buffer(c_strm_buffer* buffer, unsigned int take_lock) {
  if (buffer == nullptr) return;
  if (buffer->size != size) {
    if (controller != nullptr) {
      controller->done_buffer(buffer);
    } else if (buffer->src != nullptr) {
      buffer->src->free(buffer);
    }
    return;
  }
  if (buffer->capacity == 0) {
    // The block is the peer's: release it to the peer and forget it.
    if (buffer->data == nullptr && buffer->src != nullptr) {
      buffer->data = buffer->src->heap->resolve(buffer->shared_ref);
    }
    if (buffer->data != nullptr) buffer->set_in_transit(false);
    buffer->data = nullptr;
    if (buffer->shared_ref.block == nullptr) buffer->shared_ref.direct = nullptr;
  }
  if (take_lock != 0) lock.get();
  const a_strm_sublist which = sublist_for(*buffer);
  if (sub[which].count >= sub[which].limit && parent != nullptr) {
    vq::strm::LockHold parent_hold(parent->lock);
    parent->append_locked(which, buffer);
  } else {
    append_locked(which, buffer);
  }
  if (take_lock != 0) lock.give();
}

unsigned int c_strm_buff_frlist::prealloc_buffers(std::uint16_t count, a_shared_flag kind) {
  unsigned int made = 0;
  for (; made < count; ++made) {
    c_strm_buffer* b = src->alloc(size, kind);
    if (b == nullptr) break;
    append_locked(sublist_for(*b), b);
  }
  return made;
}

void c_strm_buff_frlist::give_buffers_back_to_parent() {
  if (parent == nullptr) return;
  vq::strm::LockHold hold(lock);
  vq::strm::LockHold parent_hold(parent->lock);
  for (int i = 0; i < 3; ++i) {
    while (c_strm_buffer* b = sub[i].list.first_element()) {
      b->unlink();
      --sub[i].count;
      parent->append_locked(static_cast<a_strm_sublist>(i), b);
    }
  }
}

int c_strm_buff_frlist::compare(c_utils_ord_link* other) {
  const std::uint16_t theirs = static_cast<c_strm_buff_frlist*>(other)->size;
  return size == theirs ? 0 : (size > theirs ? 1 : -1);
}

std::uint32_t c_strm_buff_frlist::free_count(a_strm_sublist which) {
  vq::strm::LockHold hold(lock);
  return sub[which].count;
}

c_strm_frlist_controller::c_strm_frlist_controller(std::uint16_t packet_size)
    : default_pool(nullptr),
      default_size(packet_size != 0 ? packet_size : kDefaultPacketSize),
      last_pool(nullptr) {
  default_pool = new c_strm_buff_frlist(this, default_size);
  insert(default_pool);
}

c_strm_frlist_controller::~c_strm_frlist_controller() {
  // Child pools belong to their connections, which are gone by now; delete the
  // largest first so that nothing refers to a pool already deleted.
  while (!is_empty()) {
    auto* pool = static_cast<c_strm_buff_frlist*>(last());
    pool->unlink();
    delete pool;
  }
}

c_strm_buff_frlist* c_strm_frlist_controller::_list_for_size(std::uint16_t size,
                                                             unsigned int exact) {
  if (size == default_size) return default_pool;
  c_strm_buff_frlist* last = last_pool.load(std::memory_order_acquire);
  if (last != nullptr && last->size == size) return last;

  vq::strm::LockHold hold(lock);
  c_strm_buff_frlist_ord_iter it(*this);
  for (; !it.at_end(); it.next()) {
    auto* pool = static_cast<c_strm_buff_frlist*>(it.current);
    if (pool->size == size) {
      last_pool.store(pool, std::memory_order_release);
      return pool;
    }
    if (pool->size > size) {
      if (exact == 0) {
        last_pool.store(pool, std::memory_order_release);
        return pool;
      }
      break;
    }
  }
  auto* pool = new c_strm_buff_frlist(this, size);
  insert(pool);
  last_pool.store(pool, std::memory_order_release);
  return pool;
}

void c_strm_frlist_controller::done_buffer(c_strm_buffer* buffer) {
  if (buffer == nullptr) return;
  _list_for_size(buffer->size, 1)->done_buffer(buffer, 1);
}
