// Lists of the network code that own their elements: emptying or destroying the list
// deletes every element through its virtual destructor. Elements are appended at the
// tail, so a list keeps the order in which its elements were found.
#ifndef VQ_NET_OWNING_LIST_H
#define VQ_NET_OWNING_LIST_H

#include "utils/base/list.h"

template <typename T>
class c_net_owning_list : public c_utils_list<T> {
 public:
  c_net_owning_list() = default;
  ~c_net_owning_list() override { delete_all(); }

  // Deletes every element; a deleted element leaves the ring by itself.
  void delete_all() noexcept {
    while (!this->is_empty()) delete static_cast<T*>(this->first());
  }
};

#endif  // VQ_NET_OWNING_LIST_H
