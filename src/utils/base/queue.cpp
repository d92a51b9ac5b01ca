// The doubly linked queue.
#include "utils/base/queue.h"

extern "C" {

void Q_insert(Q_link* head, Q_link* element) {
  element->prev = head->prev;
  element->next = head;
  head->prev->next = element;
  head->prev = element;
}

void Q_remove(Q_link* element) {
  element->prev->next = element->next;
  element->next->prev = element->prev;
}

Q_link* Q_element(Q_link* head) {
  Q_link* first = head->next;
  if (first == nullptr || first == head) return nullptr;
  Q_remove(first);
  return first;
}

}  // extern "C"
