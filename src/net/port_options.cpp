// Parsing of a link's protocol-option text into its option table.
#include "net/port_options.h"

#include <cstdio>
#include <cstring>

#include "config/key_value_parser.h"
#include "utils/base/bounded_strings.h"
#include "utils/base/memory.h"
#include "utils/locale/lang_string.h"

namespace {

constexpr std::uint32_t kMaxKind = 9;
constexpr std::size_t kIPXAddressBytes = 11;  // ten address bytes and a spare zero

// Message numbers of option_error, without and with a link name.
constexpr unsigned long kMsgNoMemory = 6408;
constexpr unsigned long kMsgUnknown = 6409;
constexpr unsigned long kMsgBadValue = 8537;
constexpr unsigned long kMsgNoEquals = 6411;
constexpr unsigned long kMsgMultiple = 8546;
constexpr unsigned long kMsgLinkUnknown = 25740;
constexpr unsigned long kMsgLinkBadValue = 25741;
constexpr unsigned long kMsgLinkNoEquals = 25742;
constexpr unsigned long kMsgLinkMultiple = 25743;

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

const char* skip_blanks(const char* p) {
  while (is_blank(*p)) ++p;
  return p;
}

bool only_blanks(const char* p) { return *skip_blanks(p) == '\0'; }

// A copy that can fail; the caller frees it with ut_free.
char* copy_text(const char* text) {
  return static_cast<char*>(ut_memdup(text, std::strlen(text) + 1));
}

// Owns one ut_malloc'd block for the length of a call.
struct Block {
  explicit Block(void* p) : p(p) {}
  ~Block() { ut_free(p); }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  void* p;
};

// Reads one number (decimal or "0x" hexadecimal, byte units when `bytes`) starting at
// `p` and up to `end_out`; false when no number starts there.
bool read_number(const char* p, bool bytes, std::uint64_t* value, const char** end_out) {
  p = skip_blanks(p);
  if (!is_digit(*p)) return false;
  return knumber(p, value, 0, bytes, false, end_out);
}

// One number followed only by blanks, at most `max`.
bool whole_number(const char* text, bool bytes, std::uint64_t max, std::uint32_t* out) {
  std::uint64_t value = 0;
  const char* end = nullptr;
  if (!read_number(text, bytes, &value, &end) || !only_blanks(end) || value > max) return false;
  *out = static_cast<std::uint32_t>(value);
  return true;
}

// Appends the numbers of one part ("n" or "low-high") to the array; false on bad text.
bool add_number_part(const char* part, std::uint16_t** array, int* count) {
  std::uint64_t low = 0;
  const char* end = nullptr;
  if (!read_number(part, false, &low, &end) || low > 65535) return false;
  std::uint64_t high = low;
  end = skip_blanks(end);
  if (*end == '-') {
    const char* end2 = nullptr;
    if (!read_number(end + 1, false, &high, &end2) || *end2 != '\0' || high > 65535 ||
        low > high)
      return false;
  } else if (*end != '\0') {
    return false;
  }
  const std::size_t add = static_cast<std::size_t>(high - low + 1);
  auto* grown = static_cast<std::uint16_t*>(
      ut_malloc(sizeof(std::uint16_t) * (static_cast<std::size_t>(*count) + add)));
  if (grown == nullptr) return false;
  if (*count != 0)
    std::memcpy(grown, *array, sizeof(std::uint16_t) * static_cast<std::size_t>(*count));
  for (std::uint64_t n = low; n <= high; ++n) grown[(*count)++] = static_cast<std::uint16_t>(n);
  ut_free(*array);
  *array = grown;
  return true;
}

// Appends one pointer to an array of pointers; false when memory runs out.
bool append_pointer(void*** array, int* count, void* element) {
  auto* grown =
      static_cast<void**>(ut_malloc(sizeof(void*) * (static_cast<std::size_t>(*count) + 1)));
  if (grown == nullptr) return false;
  if (*count != 0) std::memcpy(grown, *array, sizeof(void*) * static_cast<std::size_t>(*count));
  grown[(*count)++] = element;
  ut_free(*array);
  *array = grown;
  return true;
}

void free_pointer_array(a_port_option* row) {
  auto** array = static_cast<void**>(row->value.pointer);
  for (int i = 0; i < row->count; ++i) ut_free(array[i]);
  ut_free(array);
}

int table_rows(const a_port_option* table) {
  int n = 0;
  while (table != nullptr && table[n].name != nullptr) ++n;
  return n;
}

void save_entry(char* saved, const char* entry) {
  if (saved == nullptr) return;
  ut_strncpy(saved, kPortOptionSavedBytes, entry, kPortOptionSavedBytes - 1, nullptr, nullptr);
}

}  // namespace

std::uint32_t parse_option(const char* valueText, unsigned, a_port_option* row) {
  if (valueText == nullptr) valueText = "";
  if (row->kind > kMaxKind) return PORT_OPT_UNKNOWN;
  char* copy = copy_text(valueText);
  if (copy == nullptr) return PORT_OPT_NO_MEMORY;
  Block owner(copy);

  if (row->kind == PORT_OPT_RAW_STRING) {
    if (row->count != 0) return PORT_OPT_MULTIPLE;
    char* value = copy_text(skip_blanks(copy));
    if (value == nullptr) return PORT_OPT_NO_MEMORY;
    row->value.pointer = value;
    row->count = 1;
    return PORT_OPT_OK;
  }

  int parts = 1;
  for (const char* p = copy; *p != '\0'; ++p)
    if (*p == ',') ++parts;
  const bool accumulates = row->kind == PORT_OPT_NUMBER_LIST ||
                           row->kind == PORT_OPT_IPX_LIST || row->kind == PORT_OPT_STRING_LIST;
  if (!accumulates && parts + row->count != 1) return PORT_OPT_MULTIPLE;

  switch (row->kind) {
    case PORT_OPT_BOOLEAN: {
      char* word = copy + (skip_blanks(copy) - copy);
      std::size_t len = std::strlen(word);
      while (len > 0 && is_blank(word[len - 1])) word[--len] = '\0';
      for (std::size_t i = 0; i < len; ++i)
        if (is_blank(word[i])) return PORT_OPT_BAD_VALUE;  // a second word
      int yes = 0;
      if (!ParseYesNo(word, &yes, true)) {
        row->count = 0;
        return PORT_OPT_BAD_VALUE;
      }
      row->value.number = yes != 0 ? 1 : 0;
      row->count = 1;
      return PORT_OPT_OK;
    }
    case PORT_OPT_BYTE:
    case PORT_OPT_SHORT:
    case PORT_OPT_NUMBER:
    case PORT_OPT_SIZED_NUMBER: {
      const std::uint64_t max = row->kind == PORT_OPT_BYTE    ? 254
                                : row->kind == PORT_OPT_SHORT ? 65535
                                                              : 0xFFFFFFFFu;
      std::uint32_t value = 0;
      if (!whole_number(copy, row->kind == PORT_OPT_SIZED_NUMBER, max, &value))
        return PORT_OPT_BAD_VALUE;
      row->value.number = value;
      row->count = 1;
      return PORT_OPT_OK;
    }
    case PORT_OPT_STRING: {
      char* value = copy_text(skip_blanks(copy));
      if (value == nullptr) return PORT_OPT_NO_MEMORY;
      row->value.pointer = value;
      row->count = 1;
      return PORT_OPT_OK;
    }
    default:
      break;
  }

  // The list kinds: each part in turn, appended to what earlier occurrences gave.
  char* part = copy;
  for (;;) {
    char* comma = std::strchr(part, ',');
    if (comma != nullptr) *comma = '\0';
    if (row->kind == PORT_OPT_NUMBER_LIST) {
      auto* array = static_cast<std::uint16_t*>(row->value.pointer);
      if (!add_number_part(part, &array, &row->count)) {
        ut_free(array);
        row->value.pointer = nullptr;
        row->count = 0;
        return PORT_OPT_BAD_VALUE;
      }
      row->value.pointer = array;
    } else {
      void* element;
      if (row->kind == PORT_OPT_IPX_LIST) {
        element = ut_malloc(kIPXAddressBytes);
        if (element == nullptr) return PORT_OPT_NO_MEMORY;
        std::memset(element, 0, kIPXAddressBytes);
        if (string_to_ipx_addr(part, static_cast<char*>(element)) == nullptr) {
          ut_free(element);
          return PORT_OPT_BAD_VALUE;
        }
      } else {
        element = copy_text(skip_blanks(part));
        if (element == nullptr) return PORT_OPT_NO_MEMORY;
      }
      auto** array = static_cast<void**>(row->value.pointer);
      if (!append_pointer(&array, &row->count, element)) {
        ut_free(element);
        return PORT_OPT_NO_MEMORY;
      }
      row->value.pointer = array;
    }
    if (comma == nullptr) break;
    part = comma + 1;
  }
  return PORT_OPT_OK;
}

std::uint32_t prepare_port_options(const char* text, unsigned flag, a_port_option* table,
                                   char* saved) {
  if (saved != nullptr) saved[0] = '\0';
  if (text == nullptr || *text == '\0') return PORT_OPT_OK;
  char* copy = copy_text(text);
  if (copy == nullptr) return PORT_OPT_NO_MEMORY;
  Block owner(copy);

  char* entry = copy;
  for (;;) {
    char* semicolon = std::strchr(entry, ';');
    if (semicolon != nullptr) *semicolon = '\0';
    while (is_space(*entry)) ++entry;
    if (*entry != '\0') {
      char* sep = std::strchr(entry, '=');
      if (sep == nullptr) sep = std::strchr(entry, '#');
      if (sep == nullptr) {
        save_entry(saved, entry);
        return PORT_OPT_NO_EQUALS;
      }
      char entry_start[kPortOptionSavedBytes];
      ut_strncpy(entry_start, sizeof entry_start, entry, sizeof entry_start - 1, nullptr,
                 nullptr);
      *sep = '\0';
      std::size_t len = std::strlen(entry);
      while (len > 0 && is_space(entry[len - 1])) entry[--len] = '\0';
      int index = -1;
      for (int i = 0; table != nullptr && table[i].name != nullptr; ++i) {
        if (ut_stricmp(entry, table[i].name) == 0 ||
            (table[i].alias != nullptr && ut_stricmp(entry, table[i].alias) == 0)) {
          index = i;
          break;
        }
      }
      if (index < 0) {
        save_entry(saved, entry_start);
        return PORT_OPT_UNKNOWN;
      }
      const std::uint32_t rc = parse_option(sep + 1, flag, &table[index]);
      if (rc != PORT_OPT_OK)
        return rc | (static_cast<std::uint32_t>(index) & PORT_OPT_INDEX_MASK);
    }
    if (semicolon == nullptr) break;
    entry = semicolon + 1;
  }
  return PORT_OPT_OK;
}

namespace {

// -1 when the row is not given or does not read as a yes/no word, else 0 or 1.
int yes_no_of(const a_port_option* row) {
  if (row == nullptr || row->count < 1) return -1;
  const char* text = nullptr;
  switch (row->kind) {
    case PORT_OPT_BOOLEAN:
      return row->value.number != 0 ? 1 : 0;
    case PORT_OPT_STRING:
      text = static_cast<const char*>(row->value.pointer);
      break;
    case PORT_OPT_STRING_LIST:
      text = static_cast<char**>(row->value.pointer)[0];
      break;
    default:
      return -1;
  }
  int value = 0;
  if (text == nullptr || !ParseYesNo(text, &value, true)) return -1;
  return value != 0 ? 1 : 0;
}

}  // namespace

unsigned port_option_on(const a_port_option* row) { return yes_no_of(row) == 1 ? 1 : 0; }

unsigned port_option_off(const a_port_option* row) { return yes_no_of(row) == 0 ? 1 : 0; }

void option_deallocate(a_port_option* row) {
  switch (row->kind) {
    case PORT_OPT_IPX_LIST:
    case PORT_OPT_STRING_LIST:
      if (row->count != 0) free_pointer_array(row);
      row->value.pointer = nullptr;
      break;
    case PORT_OPT_NUMBER_LIST:
    case PORT_OPT_STRING:
    case PORT_OPT_RAW_STRING:  // a copy as well: freed so that it does not leak
      if (row->count != 0) ut_free(row->value.pointer);
      row->value.pointer = nullptr;
      break;
    default:
      break;
  }
  row->count = 0;
}

void unprepare_port_options(a_port_option* table, unsigned) {
  for (int i = 0; table != nullptr && table[i].name != nullptr; ++i)
    option_deallocate(&table[i]);
}

void option_error(std::uint32_t code, char* buffer, unsigned size, UTLangStringBase* strings,
                  const a_port_option* table, const char* linkName, const char* saved) {
  if (buffer == nullptr || size == 0) return;
  buffer[0] = '\0';
  if (size < 2) return;
  const int rows = table_rows(table);
  const int index = static_cast<int>(code & PORT_OPT_INDEX_MASK);
  const char* row_name = index < rows ? table[index].name : "";
  const char* first_name = rows > 0 ? table[0].name : "";
  const char* entry = saved != nullptr && *saved != '\0' ? saved : first_name;
  const bool link = linkName != nullptr;
  const char* link_text = link ? linkName : "";

  unsigned long id = 0;
  const char* insert = nullptr;
  if ((code & PORT_OPT_NO_MEMORY) != 0) {
    id = kMsgNoMemory;
  } else if ((code & PORT_OPT_UNKNOWN) != 0) {
    id = link ? kMsgLinkUnknown : kMsgUnknown;
    insert = entry;
  } else if ((code & PORT_OPT_BAD_VALUE) != 0) {
    id = link ? kMsgLinkBadValue : kMsgBadValue;
    insert = row_name;
  } else if ((code & PORT_OPT_NO_EQUALS) != 0) {
    id = link ? kMsgLinkNoEquals : kMsgNoEquals;
    insert = entry;
  } else if ((code & PORT_OPT_MULTIPLE) != 0) {
    id = link ? kMsgLinkMultiple : kMsgMultiple;
    insert = row_name;
  }
  if (id != 0 && strings != nullptr) {
    // Every placeholder of a text gets an argument, also where the message has no insert.
    if (insert == nullptr)
      strings->FormatMiscLangStr(id, buffer, size - 1, link_text, "");
    else if (link)
      strings->FormatMiscLangStr(id, buffer, size - 1, link_text, insert);
    else
      strings->FormatMiscLangStr(id, buffer, size - 1, insert, "");
  }
  const std::size_t len = std::strlen(buffer);
  buffer[len] = '\n';
  buffer[len + 1] = '\0';
}

void ipx_addr_to_string(const void* address, char* text) {
  const auto* b = static_cast<const std::uint8_t*>(address);
  std::sprintf(text, "%u:%u:%u:%u:%u:%u/%u:%u:%u:%u", b[4], b[5], b[6], b[7], b[8], b[9], b[0],
               b[1], b[2], b[3]);
}

char* string_to_ipx_addr(const char* text, char* address) {
  if (text == nullptr || address == nullptr) return nullptr;
  // Node bytes 4 to 9 come first in the text, network bytes 0 to 3 after the "/".
  static const int kOrder[10] = {4, 5, 6, 7, 8, 9, 0, 1, 2, 3};
  std::uint8_t bytes[10];
  const char* p = text;
  for (int i = 0; i < 10; ++i) {
    p = skip_blanks(p);
    if (!is_digit(*p)) return nullptr;
    unsigned value = 0;
    while (is_digit(*p) && value <= 254) value = value * 10 + static_cast<unsigned>(*p++ - '0');
    if (value > 254 || is_digit(*p)) return nullptr;
    bytes[kOrder[i]] = static_cast<std::uint8_t>(value);
    p = skip_blanks(p);
    const char want = i == 5 ? '/' : (i == 9 ? '\0' : ':');
    if (*p != want) return nullptr;
    if (want != '\0') ++p;
  }
  std::memcpy(address, bytes, sizeof bytes);
  return address;
}
