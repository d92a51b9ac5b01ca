// Handle records: the ODBC layer's memory helpers, allocation and release of handles, and
// the option entries every handle carries.
#include "odbc/handles.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "odbc/diagnostics.h"
#include "odbc/library_start.h"
#include "utils/base/memory.h"

namespace {

// Allocation seam: tests make the ODBC layer's allocations fail on purpose.
vq::odbc::AllocFailureHook g_fail_hook = nullptr;

bool AllocationFails(std::size_t size) { return g_fail_hook != nullptr && g_fail_hook(size); }

void PostOutOfMemory(tagOBJECT* h) {
  if (h != nullptr) AddSQLState(h, kStateHY001, kStateS1001);
}

const char* NamePrefix(std::int32_t kind) {
  switch (kind) {
    case OBJ_ENV:
      return "SQL_ENV_";
    case OBJ_DBC:
      return "SQL_DBC_";
    case OBJ_STMT:
      return "SQL_CUR_";
    default:
      return "SQL_DES_";
  }
}

std::size_t RecordSize(std::int32_t kind) {
  switch (kind) {
    case OBJ_ENV:
      return sizeof(tagENV);
    case OBJ_DBC:
      return sizeof(tagDBC);
    case OBJ_STMT:
      return sizeof(tagSTMT);
    case OBJ_DESC:
      return sizeof(tagDESC);
    default:
      return 0;
  }
}

// Records are value-initialised in the zero-filled block, so that their atomics are
// constructed objects.
tagOBJECT* Construct(void* block, std::int32_t kind) {
  switch (kind) {
    case OBJ_ENV:
      return new (block) tagENV();
    case OBJ_DBC:
      return new (block) tagDBC();
    case OBJ_STMT:
      return new (block) tagSTMT();
    default:
      return new (block) tagDESC();
  }
}

void Destroy(tagOBJECT* h) {
  switch (h->kind) {
    case OBJ_ENV:
      static_cast<tagENV*>(h)->~tagENV();
      break;
    case OBJ_DBC:
      static_cast<tagDBC*>(h)->~tagDBC();
      break;
    case OBJ_STMT:
      static_cast<tagSTMT*>(h)->~tagSTMT();
      break;
    case OBJ_DESC:
      static_cast<tagDESC*>(h)->~tagDESC();
      break;
    default:
      break;
  }
}

void Unlink(tagOBJECT* h) {
  tagOBJECT* parent = h->parent;
  if (parent == nullptr) return;
  const bool env_parent = parent->kind == OBJ_ENV;
  if (env_parent) EnterEnvCritSect();
  for (tagOBJECT** link = &parent->first_child; *link != nullptr;
       link = &(*link)->next_sibling) {
    if (*link == h) {
      *link = h->next_sibling;
      break;
    }
  }
  h->next_sibling = nullptr;
  if (env_parent) LeaveEnvCritSect();
}

void FreeOptions(tagOBJECT* h) {
  for (std::uint32_t i = 0; i < h->option_count; ++i) {
    if (h->options[i].kind == kOptText) ut_free(reinterpret_cast<void*>(h->options[i].value));
  }
  ut_free(h->options);
  h->options = nullptr;
  h->option_count = 0;
}

tagOPTION* OwnEntry(tagOBJECT* h, std::int32_t id) {
  for (std::uint32_t i = 0; i < h->option_count; ++i) {
    if (h->options[i].id == id) return &h->options[i];
  }
  return nullptr;
}

// The entry of `id`, appended (zeroed) when absent; null when the array cannot grow.
tagOPTION* EntryForStore(tagOBJECT* h, std::int32_t id) {
  tagOPTION* entry = OwnEntry(h, id);
  if (entry != nullptr) return entry;
  // A new array rather than VReallocLocked, which releases the old block on failure: a
  // handle that cannot grow its options keeps the ones it has.
  auto* grown =
      static_cast<tagOPTION*>(VAllocLocked(h, (h->option_count + 1) * sizeof(tagOPTION)));
  if (grown == nullptr) return nullptr;
  if (h->option_count > 0) std::memcpy(grown, h->options, h->option_count * sizeof(tagOPTION));
  ut_free(h->options);
  h->options = grown;
  entry = &grown[h->option_count++];
  std::memset(entry, 0, sizeof *entry);
  entry->id = id;
  return entry;
}

int StoreValue(tagOBJECT* h, std::int32_t id, SQLULEN value, std::uint32_t kind) {
  tagOPTION* entry = EntryForStore(h, id);
  if (entry == nullptr) return -1;
  if (entry->kind == kOptText) ut_free(reinterpret_cast<void*>(entry->value));
  entry->value = value;
  entry->length = 0;
  entry->kind = kind;
  return 0;
}

}  // namespace

namespace vq::odbc {

AllocFailureHook SetAllocFailureHook(AllocFailureHook hook) {
  AllocFailureHook previous = g_fail_hook;
  g_fail_hook = hook;
  return previous;
}

}  // namespace vq::odbc

// ---- Memory ----------------------------------------------------------------------------

void* VAllocLocked(tagOBJECT* h, std::size_t size) {
  if (size == 0) return nullptr;
  void* block = AllocationFails(size) ? nullptr : ut_calloc(size);
  if (block == nullptr) PostOutOfMemory(h);
  return block;
}

void* VReallocLocked(tagOBJECT* h, void* block, std::size_t size) {
  if (size == 0) {
    ut_free(block);
    return nullptr;
  }
  // ut_realloc would end the process; the ODBC layer reports HY001 instead.
  void* moved = AllocationFails(size) ? nullptr : std::realloc(block, size);
  if (moved == nullptr) {
    ut_free(block);
    PostOutOfMemory(h);
  }
  return moved;
}

void VFreeLocked(void* block) { ut_free(block); }

// ---- Allocation and release --------------------------------------------------------------

tagOBJECT* Allocate_object(tagOBJECT* parent, std::int32_t kind) {
  const std::size_t size = RecordSize(kind);
  if (size == 0) return nullptr;
  void* block = VAllocLocked(parent, size);
  if (block == nullptr) return nullptr;
  tagOBJECT* h = Construct(block, kind);
  h->kind = kind;
  h->parent = parent;
  h->first_rec.column = kDiagNoPosition;
  h->first_rec.row = kDiagNoPosition;
  std::snprintf(h->name, sizeof h->name, "%s%" PRIXPTR, NamePrefix(kind),
                reinterpret_cast<std::uintptr_t>(h));
  if (parent != nullptr) {
    const bool env_parent = parent->kind == OBJ_ENV;
    if (env_parent) EnterEnvCritSect();
    h->next_sibling = parent->first_child;
    parent->first_child = h;
    if (env_parent) LeaveEnvCritSect();
  }
  return h;
}

void Free_object(tagOBJECT* h) {
  if (h == nullptr) return;
  Unlink(h);
  FreeDiagRecords(h);
  ut_free(h->first_rec.text);
  h->first_rec.text = nullptr;
  FreeOptions(h);
  Destroy(h);
  h->kind = OBJ_FREED;
  ut_free(h);
}

tagDBC* OwningDbc(tagOBJECT* h) {
  for (int depth = 0; h != nullptr && depth < 3; ++depth, h = h->parent) {
    if (h->kind == OBJ_DBC) return static_cast<tagDBC*>(h);
    if (h->kind == OBJ_ENV) return nullptr;
  }
  return nullptr;
}

tagENV* OwningEnv(tagOBJECT* h) {
  for (int depth = 0; h != nullptr && depth < 4; ++depth, h = h->parent) {
    if (h->kind == OBJ_ENV) return static_cast<tagENV*>(h);
  }
  return nullptr;
}

// ---- Options -------------------------------------------------------------------------------

int Set_option(tagOBJECT* h, std::int32_t id, SQLULEN value) {
  return StoreValue(h, id, value, kOptPlain);
}

int Set_ulen_option(tagOBJECT* h, std::int32_t id, SQLULEN value) {
  return StoreValue(h, id, value, kOptLength);
}

int Set_string_option(tagOBJECT* h, std::int32_t id, const char* text, SQLINTEGER length) {
  if (text != nullptr && length == SQL_NTS) length = static_cast<SQLINTEGER>(std::strlen(text));
  if (length < 0 && text != nullptr) return -1;
  char* copy = nullptr;
  std::uint32_t stored = 0;
  if (text != nullptr && length > 0) {
    copy = static_cast<char*>(VAllocLocked(h, static_cast<std::size_t>(length)));
    if (copy == nullptr) return -1;
    std::memcpy(copy, text, static_cast<std::size_t>(length));
    stored = static_cast<std::uint32_t>(length);
  }
  tagOPTION* entry = EntryForStore(h, id);
  if (entry == nullptr) {
    ut_free(copy);
    return -1;
  }
  if (entry->kind == kOptText) ut_free(reinterpret_cast<void*>(entry->value));
  entry->value = reinterpret_cast<SQLULEN>(copy);
  entry->length = stored;
  entry->kind = kOptText;
  return 0;
}

tagOPTION* FindOption(tagOBJECT* h, std::int32_t id, bool create) {
  if (h == nullptr) return nullptr;
  if (create) return EntryForStore(h, id);
  tagOPTION* entry = OwnEntry(h, id);
  if (entry == nullptr && h->kind == OBJ_STMT && h->parent != nullptr &&
      h->parent->kind == OBJ_DBC) {
    entry = OwnEntry(h->parent, id);
  }
  return entry;
}

SQLULEN Option(tagOBJECT* h, std::int32_t id) {
  const tagOPTION* entry = FindOption(h, id, false);
  return entry != nullptr ? entry->value : 0;
}

SQLULEN ULenOption(tagOBJECT* h, std::int32_t id) { return Option(h, id); }

std::uint32_t UIntOption(tagOBJECT* h, std::int32_t id) {
  return static_cast<std::uint32_t>(Option(h, id));
}

int Get_option(tagOBJECT* h, std::int32_t id, void* buffer, SQLINTEGER buffer_length,
               SQLINTEGER* out_length) {
  const tagOPTION* entry = FindOption(h, id, false);
  if (entry == nullptr) return 0;
  if (entry->kind == kOptText) {
    const char* text = reinterpret_cast<const char*>(entry->value);
    std::uint32_t copied = 0;
    if (buffer != nullptr && buffer_length > 0) {
      copied = entry->length < static_cast<std::uint32_t>(buffer_length - 1)
                   ? entry->length
                   : static_cast<std::uint32_t>(buffer_length - 1);
      if (copied > 0) std::memcpy(buffer, text, copied);
      static_cast<char*>(buffer)[copied] = '\0';
    }
    if (out_length != nullptr) *out_length = static_cast<SQLINTEGER>(copied);
    return 1;
  }
  if (buffer != nullptr) {
    if (entry->kind == kOptLength) {
      const SQLULEN value = entry->value;
      std::memcpy(buffer, &value, sizeof value);
    } else {
      const auto value = static_cast<SQLUINTEGER>(entry->value);
      std::memcpy(buffer, &value, sizeof value);
    }
  }
  return 1;
}
