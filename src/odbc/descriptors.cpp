// Descriptors: allocation and release, statement descriptors, and the record array.
#include "odbc/descriptors.h"

#include <cstring>

#include "odbc/diagnostics.h"
#include "utils/base/memory.h"

namespace {

// Copies of the record pointers are kept in `records`; `count` slots are allocated.
void ReleaseRecordArray(tagDESC* desc) {
  VFreeLocked(desc->records);
  desc->records = nullptr;
  desc->count = 0;
}

}  // namespace

// A descriptor's records go with it, whichever path frees the handle (Free_object of a
// connection's children at disconnection and release included).
tagDESC::~tagDESC() { FreeDescriptor(this); }

// ---- Allocation and release ---------------------------------------------------------------

int _SQLAllocDesc(tagDBC* dbc, std::uint16_t alloc_type, tagDESC** out) {
  *out = nullptr;
  tagOBJECT* h = Allocate_object(dbc, OBJ_DESC);
  if (h == nullptr) return -1;
  auto* desc = static_cast<tagDESC*>(h);
  desc->alloc_type = alloc_type;
  desc->array_size = 1;
  *out = desc;
  return 0;
}

SQLRETURN DoSQLAllocDesc(tagDBC* dbc, SQLHANDLE* out) {
  tagDESC* desc = nullptr;
  if (_SQLAllocDesc(dbc, kDescAllocUser, &desc) != 0) {
    *out = SQL_NULL_HANDLE;
    return dbc->retcode;
  }
  *out = desc;
  return SQL_SUCCESS;
}

void FreeDescItem(tagITEM* item) {
  if (item == nullptr) return;
  ut_free(item->base_column_name);
  ut_free(item->name);
  ut_free(item->table_name);
  ut_free(item->schema_name);
  ut_free(item->buffer);
  VFreeLocked(item);
}

void FreeDescriptor(tagDESC* desc) {
  if (desc->records != nullptr) {
    for (SQLSMALLINT i = 0; i < desc->count; ++i) FreeDescItem(desc->records[i]);
  }
  ReleaseRecordArray(desc);
  FreeDescItem(desc->bookmark);
  desc->bookmark = nullptr;
}

void _SQLFreeDesc(tagDESC* desc) {
  if (desc != nullptr) Free_object(desc);
}

bool IsValidDesc(const void* handle) {
  return handle != nullptr && static_cast<const tagOBJECT*>(handle)->kind == OBJ_DESC;
}

// ---- Statement descriptors --------------------------------------------------------------

int AllocStmtDescriptors(tagSTMT* stmt) {
  tagDBC* dbc = OwningDbc(stmt);
  tagDESC* made[4] = {};
  for (tagDESC*& desc : made) {
    if (dbc == nullptr || _SQLAllocDesc(dbc, kDescAllocAuto, &desc) != 0) {
      for (tagDESC* done : made) _SQLFreeDesc(done);
      return -1;
    }
    desc->stmt = stmt;
  }
  stmt->ipd = made[0];
  stmt->apd = made[1];
  stmt->ird = made[2];
  stmt->ard = made[3];
  stmt->ipd->impl_kind = kDescImplParam;
  stmt->ird->impl_kind = kDescImplRow;
  stmt->implicit_apd = stmt->apd;
  stmt->implicit_ard = stmt->ard;
  return 0;
}

void FreeStmtDescriptors(tagSTMT* stmt) {
  _SQLFreeDesc(stmt->ipd);
  _SQLFreeDesc(stmt->ird);
  _SQLFreeDesc(stmt->implicit_apd);
  _SQLFreeDesc(stmt->implicit_ard);
  stmt->apd = stmt->ard = stmt->ipd = stmt->ird = nullptr;
  stmt->implicit_apd = stmt->implicit_ard = nullptr;
}

// ---- Records ------------------------------------------------------------------------------

tagITEM* AllocDescItem(tagOBJECT* h) {
  return static_cast<tagITEM*>(VAllocLocked(h, sizeof(tagITEM)));
}

tagITEM* AccessDescItem(tagDESC* desc, SQLSMALLINT number) {
  if (number < 1) return nullptr;
  const SQLSMALLINT previous = desc->count;
  if (number > previous) {
    // A new array rather than a reallocation, which would release the old one on
    // failure: a descriptor that cannot grow keeps the records it has.
    auto* grown = static_cast<tagITEM**>(
        VAllocLocked(desc, static_cast<std::size_t>(number) * sizeof(tagITEM*)));
    if (grown == nullptr) return nullptr;
    if (previous > 0) {
      std::memcpy(grown, desc->records, static_cast<std::size_t>(previous) * sizeof(tagITEM*));
    }
    VFreeLocked(desc->records);
    desc->records = grown;
    desc->count = number;
  }
  tagITEM*& slot = desc->records[number - 1];
  if (slot == nullptr) {
    slot = AllocDescItem(desc);
    if (slot == nullptr) {
      desc->count = previous;
      if (previous == 0) ReleaseRecordArray(desc);
      return nullptr;
    }
  }
  return slot;
}

tagITEM* AccessBookmark(tagDESC* desc) {
  if (desc->bookmark == nullptr) desc->bookmark = AllocDescItem(desc);
  return desc->bookmark;
}

tagITEM* FindDescItem(const tagDESC* desc, SQLSMALLINT number) {
  if (number == 0) return desc->bookmark;
  if (number < 0 || number > desc->count || desc->records == nullptr) return nullptr;
  return desc->records[number - 1];
}

void UnBindDescItem(tagDESC* desc, SQLSMALLINT number) {
  if (number < 1 || number > desc->count) return;
  FreeDescItem(desc->records[number - 1]);
  desc->records[number - 1] = nullptr;
  if (desc->records[desc->count - 1] != nullptr) return;
  SQLSMALLINT highest = desc->count;
  while (highest > 0 && desc->records[highest - 1] == nullptr) --highest;
  if (highest == 0) {
    ReleaseRecordArray(desc);
    return;
  }
  // Shrinking cannot fail in a way that matters: a failed shrink keeps the larger array.
  auto* shrunk = static_cast<tagITEM**>(
      VAllocLocked(nullptr, static_cast<std::size_t>(highest) * sizeof(tagITEM*)));
  if (shrunk != nullptr) {
    std::memcpy(shrunk, desc->records, static_cast<std::size_t>(highest) * sizeof(tagITEM*));
    VFreeLocked(desc->records);
    desc->records = shrunk;
  }
  desc->count = highest;
}

void UnBindBookmark(tagDESC* desc) {
  FreeDescItem(desc->bookmark);
  desc->bookmark = nullptr;
}

void BindDescItem(tagITEM* item, SQLSMALLINT type, SQLSMALLINT interval_code,
                  SQLLEN octet_length, SQLSMALLINT precision, SQLSMALLINT scale,
                  SQLPOINTER data, SQLLEN* octet_length_ptr, SQLLEN* indicator_ptr) {
  item->concise_type = type;
  item->type = type;
  item->effective_type = type;
  item->interval_code = interval_code;
  item->octet_length = octet_length;
  item->precision = precision;
  item->scale = scale;
  item->data_ptr = data;
  item->octet_length_ptr = octet_length_ptr;
  item->indicator_ptr = indicator_ptr;
  item->flags |= kItemBound;
}
