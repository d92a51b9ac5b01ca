// The minimal doubly linked queue. An element starts with its `prev` and `next` pointers,
// in that order (put a Q_link first in the element's struct). A queue is a head link whose
// `next` is the first element and whose `prev` the last; an empty queue's head points to
// itself both ways. No locks: callers serialise access to a queue.
#ifndef VQ_UTILS_BASE_QUEUE_H
#define VQ_UTILS_BASE_QUEUE_H

struct Q_link {
  Q_link* prev;
  Q_link* next;
};

extern "C" {

// Links `element` in before `head`, that is at the tail of the queue.
void Q_insert(Q_link* head, Q_link* element);
// Unlinks `element` from its queue; its own pointers are left as they were.
void Q_remove(Q_link* element);
// Removes and returns the first element; null when the queue is empty (or `head`'s `next`
// is null).
Q_link* Q_element(Q_link* head);

}  // extern "C"

#endif  // VQ_UTILS_BASE_QUEUE_H
