// Parser and builder of connection-string lists.
#include "config/conn_string_list.h"

#include <cstring>

#include "config/config_text.h"
#include "config/key_value_parser.h"

using vq::config::copy_text;
using vq::config::copy_text_n;
using vq::config::is_white;

a_cs_list_element::a_cs_list_element(const char* name_text, const char* option_text)
    : name(copy_text(name_text)), options(nullptr) {
  if (option_text != nullptr && name != nullptr) {
    options = copy_text(option_text);
    if (options == nullptr) {  // report the whole element as not made
      ut_free(name);
      name = nullptr;
    }
  }
}

a_cs_list_element::~a_cs_list_element() {
  ut_free(name);
  ut_free(options);
}

namespace {

constexpr const char* kDefaultDelimiters = ",{()}";

char closer_of(char open) { return open == '(' ? ')' : '}'; }

bool append_element(a_cs_list_element_list* list, const char* name_start, const char* name_end,
                    const char* options_start, const char* options_end) {
  while (name_end > name_start && is_white(name_end[-1])) --name_end;
  char* name = copy_text_n(name_start, std::size_t(name_end - name_start));
  char* options = nullptr;
  if (options_start != nullptr) {
    options = copy_text_n(options_start, std::size_t(options_end - options_start));
  }
  if (name == nullptr || (options_start != nullptr && options == nullptr)) {
    ut_free(name);
    ut_free(options);
    return false;
  }
  auto* element = new a_cs_list_element(nullptr, nullptr);
  element->name = name;
  element->options = options;
  list->append(element);
  return true;
}

}  // namespace

int ParseCSListString(const char* text, a_cs_list_element_list* list, const char* delimiters) {
  if (text == nullptr) return kParseOk;
  if (list == nullptr) return kParseNoMemory;
  if (delimiters == nullptr) delimiters = kDefaultDelimiters;
  // The text is only read; elements are cut out of it as copies.
  const char* p = text;
  char* stack = nullptr;
  int rc = kParseOk;
  for (;;) {
    while (is_white(*p)) ++p;
    if (*p == '\0') break;
    const char* name = p;
    const char* delim = std::strpbrk(p, delimiters);
    if (delim == nullptr) {
      const char* end = p + std::strlen(p);
      if (!append_element(list, name, end, nullptr, nullptr)) rc = kParseNoMemory;
      break;
    }
    const char d = *delim;
    if (d == ')' || d == '}') {
      rc = kParseBrackets;
      break;
    }
    if (d == ',') {
      if (!append_element(list, name, delim, nullptr, nullptr)) {
        rc = kParseNoMemory;
        break;
      }
      p = delim + 1;
      continue;
    }
    if (d != '(' && d != '{') {
      if (!append_element(list, name, p + std::strlen(p), nullptr, nullptr)) {
        rc = kParseNoMemory;
      }
      break;
    }
    if (std::strchr(delim + 1, closer_of(d)) == nullptr) {
      rc = kParseBrackets;
      break;
    }
    if (stack == nullptr) {
      stack = static_cast<char*>(ut_malloc(std::strlen(delim) + 1));
      if (stack == nullptr) {
        rc = kParseNoMemory;
        break;
      }
    }
    std::size_t depth = 0;
    stack[depth++] = d;
    const char* q = delim + 1;
    for (; *q != '\0' && depth != 0; ++q) {
      if (*q == '(' || *q == '{') {
        stack[depth++] = *q;
      } else if (*q == ')' || *q == '}') {
        if (closer_of(stack[depth - 1]) != *q) {
          rc = kParseBrackets;
          break;
        }
        --depth;
      }
    }
    if (rc != kParseOk) break;
    if (depth != 0) {  // the text ended inside the group: the options run to the end
      if (!append_element(list, name, delim, delim + 1, q)) rc = kParseNoMemory;
      break;
    }
    const char* options_end = q - 1;  // the closer
    const char* after = q;
    while (is_white(*after)) ++after;
    if (*after != ',' && *after != '\0') {
      rc = kParseTextAfterGroup;
      break;
    }
    if (!append_element(list, name, delim, delim + 1, options_end)) {
      rc = kParseNoMemory;
      break;
    }
    if (*after == '\0') break;
    p = after + 1;
  }
  ut_free(stack);
  return rc;
}

char* BuildCSListString(a_cs_list_element_list* list) {
  if (list == nullptr || list->is_empty()) return nullptr;
  std::size_t length = 0;
  for (a_cs_list_element_iter it(*list); !it.at_end(); it.next()) {
    const a_cs_list_element* e = it.element();
    if (e != list->first_element()) ++length;  // ","
    length += e->name != nullptr ? std::strlen(e->name) : 0;
    if (e->options != nullptr) length += std::strlen(e->options) + 2;
  }
  char* text = static_cast<char*>(ut_malloc(length + 1));
  if (text == nullptr) return nullptr;
  char* w = text;
  const auto put = [&w](const char* s) {
    const std::size_t n = std::strlen(s);
    std::memcpy(w, s, n);
    w += n;
  };
  for (a_cs_list_element_iter it(*list); !it.at_end(); it.next()) {
    const a_cs_list_element* e = it.element();
    if (e != list->first_element()) *w++ = ',';
    if (e->name != nullptr) put(e->name);
    if (e->options != nullptr) {
      *w++ = '{';
      put(e->options);
      *w++ = '}';
    }
  }
  *w = '\0';
  return text;
}

void ClearCSList(a_cs_list_element_list* list) {
  if (list == nullptr) return;
  while (a_cs_list_element* e = list->first_element()) delete e;
}
