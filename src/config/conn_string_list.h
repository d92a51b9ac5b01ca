// Connection-string lists: values such as "shmem,tcpip{host=a;port=1}" or
// "tls(tls_type=rsa)", a comma list of named elements, each with an optional option
// text in ( ) or { }. The option text is kept as text; its owner parses it against its
// own option table.
#ifndef VQ_CONFIG_CONN_STRING_LIST_H
#define VQ_CONFIG_CONN_STRING_LIST_H

#include "utils/base/list.h"

// One element: its name and its option text (null when the element had no bracket
// group). Both are owned copies. Destroying an element unlinks it.
class a_cs_list_element : public c_utils_link {
 public:
  // Copies both texts; a null option text stays null. When memory runs out the name is
  // left null, which ParseCSListString reports as kParseNoMemory.
  a_cs_list_element(const char* name, const char* options);
  ~a_cs_list_element() override;

  char* name;
  char* options;
};

class a_cs_list_element_list : public c_utils_list<a_cs_list_element> {};

class a_cs_list_element_iter : public c_utils_iter<a_cs_list_element> {
 public:
  explicit a_cs_list_element_iter(a_cs_list_element_list& list) noexcept
      : c_utils_iter<a_cs_list_element>(list) {}
};

// Appends the elements of `text` to `list`. `delimiters` null means ",{()}"; a caller's
// own set may add characters, any of which ends the parse with the rest of the text as
// the last element's name. Returns 0, kParseNoMemory, kParseTextAfterGroup (text after a
// closing bracket) or kParseBrackets. Elements appended before an error stay in the
// list. `text` is not changed; null is an empty list.
[[nodiscard]] int ParseCSListString(const char* text, a_cs_list_element_list* list,
                                    const char* delimiters);

// The list as text: elements joined by ",", each "name" or "name{options}" whatever
// brackets the source used. Null for an empty list or when memory runs out; the caller
// frees the text with ut_free.
char* BuildCSListString(a_cs_list_element_list* list);

// Destroys every element of the list.
void ClearCSList(a_cs_list_element_list* list);

#endif  // VQ_CONFIG_CONN_STRING_LIST_H
