// The out-of-line parts of the list family: the self-unlinking destructor and the
// ordered insertion.
#include "utils/base/list.h"

c_utils_link::~c_utils_link() { unlink(); }

void c_utils_ord_list_base::insert(c_utils_ord_link* link) {
  for (c_utils_link* element = first(); element != end(); element = element->next) {
    if (link->compare(static_cast<c_utils_ord_link*>(element)) < 0) {
      element->insert_before(link);
      return;
    }
  }
  append(link);
}
