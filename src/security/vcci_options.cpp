// Provider option lists over the shared key=value parser.
#include "security/vcci_options.h"

#include <strings.h>

#include "config/key_value_parser.h"
#include "utils/base/bounded_strings.h"
#include "utils/base/memory.h"

int ParseVCCIOptionString(const char* text, _a_vcci_user_option** options, char** bad_key) {
  if (options != nullptr) *options = nullptr;
  if (bad_key != nullptr) *bad_key = nullptr;
  if (text == nullptr || *text == '\0' || options == nullptr) return kParseOk;
  char* copy = ut_strdup(text);
  char* pos = copy;
  _a_vcci_user_option* head = nullptr;
  _a_vcci_user_option** tail = &head;
  const char* last_key = nullptr;
  int rc = kParseOk;
  for (;;) {
    char* key = nullptr;
    rc = ParseKeyValueNextKey(&pos, &key);
    if (rc != kParseOk) break;
    if (key == nullptr) break;
    last_key = key;
    char* value = nullptr;
    rc = ParseKeyValueNextValue(&pos, &value, false, false);
    if (rc != kParseOk) break;
    auto* option = static_cast<_a_vcci_user_option*>(ut_alloc(sizeof(_a_vcci_user_option)));
    option->name = ut_strdup(key);
    option->value = ut_strdup(value != nullptr ? value : "");
    option->used = 0;
    option->next = nullptr;
    *tail = option;
    tail = &option->next;
  }
  if (rc != kParseOk) {
    FreeVCCIOptions(head);
    head = nullptr;
    if (bad_key != nullptr && last_key != nullptr) *bad_key = ut_strdup(last_key);
  }
  ut_free(copy);
  *options = head;
  return rc;
}

void FreeVCCIOptions(_a_vcci_user_option* options) {
  while (options != nullptr) {
    _a_vcci_user_option* next = options->next;
    ut_free(options->name);
    ut_free(options->value);
    ut_free(options);
    options = next;
  }
}

const char* VCCIGetOption(_a_vcci_user_option* options, const char* name) {
  if (name == nullptr) return nullptr;
  for (; options != nullptr; options = options->next) {
    if (options->name != nullptr && strcasecmp(options->name, name) == 0) {
      options->used = 1;
      return options->value;
    }
  }
  return nullptr;
}
