// The container family the whole system keeps its objects in: a circular, doubly linked
// intrusive list whose elements carry their own link, iterators over it, an ordered
// variant sorted by a virtual comparison, and the class-level allocation base.
//
// Elements are never copied into a list; an object joins one by being a link. A link
// that is destroyed leaves its list by itself, so an element may be deleted while it is
// listed. Lists hold no count and take no locks: each list is guarded by its owner.
#ifndef VQ_UTILS_BASE_LIST_H
#define VQ_UTILS_BASE_LIST_H

#include <cstddef>
#include <new>

#include "utils/base/memory.h"

// Root of the objects allocated through the library's allocation policy: `new` takes
// memory from ut_alloc (never null) and `delete` returns it with ut_free.
class c_utils_base {
 public:
  c_utils_base() = default;
  virtual ~c_utils_base() = default;

  static void* operator new(std::size_t size) { return ut_alloc(size != 0 ? size : 1); }
  static void* operator new(std::size_t, void* place) noexcept { return place; }
  static void operator delete(void* block) noexcept { ut_free(block); }
  static void operator delete(void*, void*) noexcept {}
};

// A link of a ring. Detached, it points to itself both ways; linked, it is part of
// exactly one ring, which for a list is the list's head and its elements.
class c_utils_link : public c_utils_base {
 public:
  c_utils_link() noexcept : next(this), prev(this) {}
  // Leaves its ring: deleting a listed element keeps the list consistent.
  ~c_utils_link() override;

  c_utils_link(const c_utils_link&) = delete;
  c_utils_link& operator=(const c_utils_link&) = delete;

  bool is_linked() const noexcept { return next != this; }

  // Takes the link out of its ring and self-links it; a detached link stays as it is.
  void unlink() noexcept {
    prev->next = next;
    next->prev = prev;
    next = prev = this;
  }

  // Puts `link` (detached) into this link's ring just before this link.
  void insert_before(c_utils_link* link) noexcept {
    link->next = this;
    link->prev = prev;
    prev->next = link;
    prev = link;
  }

  // Puts `link` (detached) into this link's ring just after this link.
  void insert_after(c_utils_link* link) noexcept {
    link->prev = this;
    link->next = next;
    next->prev = link;
    next = link;
  }

  c_utils_link* next;
  c_utils_link* prev;
};

// An intrusive list: a sentinel `head` and the ring of its elements.
class c_utils_list_base : public c_utils_base {
 public:
  c_utils_list_base() = default;
  // Only the head leaves the ring: elements are neither unlinked nor deleted, they stay
  // linked to one another. Owners delete their elements before the list goes.
  ~c_utils_list_base() override = default;

  c_utils_list_base(const c_utils_list_base&) = delete;
  c_utils_list_base& operator=(const c_utils_list_base&) = delete;

  bool is_empty() const noexcept { return head.next == &head; }
  // First and last element, or the head itself when the list is empty.
  c_utils_link* first() noexcept { return head.next; }
  c_utils_link* last() noexcept { return head.prev; }
  const c_utils_link* end() const noexcept { return &head; }

  void append(c_utils_link* link) noexcept { head.insert_before(link); }
  void prepend(c_utils_link* link) noexcept { head.insert_after(link); }
  // Inserts `link` before the listed element `element`.
  static void insert_before(c_utils_link* element, c_utils_link* link) noexcept {
    element->insert_before(link);
  }

  c_utils_link head;
};

// A position in a list: at its end when `current` is the list's head. Deleting the
// current element invalidates the iterator; step past it first.
class c_utils_iter_base : public c_utils_base {
 public:
  explicit c_utils_iter_base(c_utils_list_base& list) noexcept
      : list(&list), current(list.first()) {}

  void reset() noexcept { current = list->first(); }
  void reset_last() noexcept { current = list->last(); }
  bool at_end() const noexcept { return current == list->end(); }
  void next() noexcept { current = current->next; }
  void prev() noexcept { current = current->prev; }

  c_utils_list_base* list;
  c_utils_link* current;
};

// An element of an ordered list.
class c_utils_ord_link : public c_utils_link {
 public:
  // Negative when this element sorts before `other`.
  virtual int compare(c_utils_ord_link* other) = 0;
};

// A list kept in the order of its elements' compare(); equal elements keep the order
// in which they were inserted, the newest last.
class c_utils_ord_list_base : public c_utils_list_base {
 public:
  void insert(c_utils_ord_link* link);
};

class c_utils_ord_iter_base : public c_utils_iter_base {
 public:
  explicit c_utils_ord_iter_base(c_utils_ord_list_base& list) noexcept
      : c_utils_iter_base(list) {}
};

// Typed views over the base list and iterator for elements of type T (derived from
// c_utils_link).
template <typename T>
class c_utils_list : public c_utils_list_base {
 public:
  T* first_element() noexcept { return is_empty() ? nullptr : static_cast<T*>(first()); }
  T* last_element() noexcept { return is_empty() ? nullptr : static_cast<T*>(last()); }
};

template <typename T>
class c_utils_iter : public c_utils_iter_base {
 public:
  explicit c_utils_iter(c_utils_list_base& list) noexcept : c_utils_iter_base(list) {}
  T* element() const noexcept { return at_end() ? nullptr : static_cast<T*>(current); }
};

#endif  // VQ_UTILS_BASE_LIST_H
