// Descriptors: allocation and release, statement descriptors, and the record array.
#include "odbc/descriptors.h"

#include <cstring>

#include "odbc/diagnostics.h"
#include "odbc/sql_string.h"
#include "odbc/type_mapping.h"
#include "utils/base/memory.h"

namespace {

constexpr a_packed_sqlstate kStateHY003 = PackSQLState("HY003");
constexpr a_packed_sqlstate kStateHY017 = PackSQLState("HY017");

// Releases the record array (not the records in it) and empties the count.
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
  ut_free(item->variable_name);
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

int GrowDescRecords(tagDESC* desc, SQLSMALLINT count) {
  const SQLSMALLINT previous = desc->count;
  if (count <= previous) return 0;
  // A new array rather than a reallocation, which would release the old one on failure:
  // a descriptor that cannot grow keeps the records it has.
  auto* grown = static_cast<tagITEM**>(
      VAllocLocked(desc, static_cast<std::size_t>(count) * sizeof(tagITEM*)));
  if (grown == nullptr) return -1;
  if (previous > 0) {
    std::memcpy(grown, desc->records, static_cast<std::size_t>(previous) * sizeof(tagITEM*));
  }
  VFreeLocked(desc->records);
  desc->records = grown;
  desc->count = count;
  return 0;
}

tagITEM* AccessDescItem(tagDESC* desc, SQLSMALLINT number) {
  if (number < 1) return nullptr;
  const SQLSMALLINT previous = desc->count;
  if (GrowDescRecords(desc, number) != 0) return nullptr;
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

// ---- Entry point implementations ----------------------------------------------------------

SQLRETURN DoSQLGetDescRec(tagDESC* desc, SQLSMALLINT record, SQLCHAR* name,
                          SQLSMALLINT name_size, SQLSMALLINT* name_length, SQLSMALLINT* type,
                          SQLSMALLINT* subtype, SQLLEN* length, SQLSMALLINT* precision,
                          SQLSMALLINT* scale, SQLSMALLINT* nullable) {
  // A negative name buffer length is refused before any output is written.
  if (name_size < 0) return PostSQLState(desc, kStateHY090, kStateS1090);
  const SQLRETURN rc = CheckDescRecordRead(desc, record);
  if (rc != SQL_SUCCESS) return rc;
  const tagITEM* item = FindDescItem(desc, record);
  if (item == nullptr) {
    // A record never bound reads as type SQL_C_DEFAULT and nothing else.
    if (type != nullptr) *type = SQL_C_DEFAULT;
    return desc->retcode;
  }
  ReturnString(desc, name, name_size, name_length, item->name, SQL_NTS);
  const SQLSMALLINT verbose = GetSQLType(item->type);
  if (type != nullptr) *type = verbose;
  if (subtype != nullptr && (verbose == SQL_DATETIME || verbose == SQL_INTERVAL)) {
    *subtype = item->interval_code;
  }
  // The octet length, the field SQLSetDescRec's length sets: the two calls round-trip.
  if (length != nullptr) *length = item->octet_length;
  if (precision != nullptr) *precision = item->precision;
  if (scale != nullptr) *scale = item->scale;
  if (nullable != nullptr) *nullable = static_cast<SQLSMALLINT>(item->nullable);
  return desc->retcode;
}

SQLRETURN DoSQLSetDescRec(tagDESC* desc, SQLSMALLINT record, SQLSMALLINT type,
                          SQLSMALLINT subtype, SQLLEN length, SQLSMALLINT precision,
                          SQLSMALLINT scale, SQLPOINTER data, SQLLEN* octet_length_ptr,
                          SQLLEN* indicator_ptr) {
  if (record < 0) return PostSQLState(desc, kState07009, kStateS1000);
  if (desc->impl_kind == kDescImplRow) return PostSQLState(desc, kStateHY016, kStateS1000);
  if (record >= 1) {
    if (data != nullptr) {
      if (!Valid_fCType(type)) return PostSQLState(desc, kStateHY003, kStateS1000);
      tagITEM* item = AccessDescItem(desc, record);
      if (item == nullptr) return desc->retcode;
      BindDescItem(item, type, subtype, length, precision, scale, data, octet_length_ptr,
                   indicator_ptr);
    } else {
      UnBindDescItem(desc, record);
    }
  } else if (data != nullptr) {
    tagITEM* item = AccessBookmark(desc);
    if (item == nullptr) return desc->retcode;
    BindDescItem(item, type, subtype, length, precision, scale, data, octet_length_ptr,
                 indicator_ptr);
  } else {
    UnBindBookmark(desc);
  }
  ++desc->change_counter;
  return desc->retcode;
}

namespace {

char* DuplicateText(const char* text) {
  if (text == nullptr) return nullptr;
  const std::size_t bytes = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(VAllocLocked(nullptr, bytes));
  if (copy != nullptr) std::memcpy(copy, text, bytes);
  return copy;
}

// Copies a record's fields; the target's own texts and buffer are released first. The
// conversion state of the engine interface (wire items, internal buffer, their flags)
// belongs to the source's statement and is not copied.
void CopyDescItem(const tagITEM& from, tagITEM* to) {
  ut_free(to->base_column_name);
  ut_free(to->name);
  ut_free(to->table_name);
  ut_free(to->schema_name);
  ut_free(to->buffer);
  ut_free(to->variable_name);
  *to = from;
  to->variable_name = nullptr;  // the server variable belongs to the source's statement
  to->variable_sent = 0;
  to->flags &= ~kItemInVariable;
  to->wire_item = nullptr;
  to->wire_column = nullptr;
  to->buffer = nullptr;
  to->element_bytes = 0;
  to->flags &= ~(kItemInPlace | kItemNulIncluded);
  // A text that cannot be duplicated stays null.
  to->base_column_name = DuplicateText(from.base_column_name);
  to->name = DuplicateText(from.name);
  to->table_name = DuplicateText(from.table_name);
  to->schema_name = DuplicateText(from.schema_name);
}

}  // namespace

SQLRETURN DoSQLCopyDesc(tagDESC* source, tagDESC* target) {
  if (target->impl_kind == kDescImplRow) return PostSQLState(target, kStateHY016, kStateS1000);
  if (source->impl_kind == kDescImplRow) {
    const tagSTMT* stmt = source->stmt;
    if (stmt == nullptr || stmt->state < kStmtPrepared) {
      return PostSQLState(target, kStateHY007, kStateS1000);
    }
  }
  // Copying a descriptor onto itself would release the records it copies from.
  if (source == target) return target->retcode;
  FreeDescriptor(target);
  target->array_size = source->array_size;
  target->array_status_ptr = source->array_status_ptr;
  target->bind_offset_ptr = source->bind_offset_ptr;
  target->bind_type = source->bind_type;
  target->rows_processed_ptr = source->rows_processed_ptr;
  for (SQLSMALLINT k = 1; k <= source->count; ++k) {
    const tagITEM* from = source->records[k - 1];
    if (from == nullptr) continue;
    tagITEM* to = AccessDescItem(target, k);
    if (to == nullptr) break;
    CopyDescItem(*from, to);
  }
  ++target->change_counter;
  return target->retcode;
}

SQLRETURN DoSQLFreeDesc(tagDESC* desc) {
  if (desc->alloc_type == kDescAllocAuto) return PostSQLState(desc, kStateHY017, kStateS1000);
  tagDBC* dbc = OwningDbc(desc);
  if (dbc != nullptr) {
    for (tagOBJECT* child = dbc->first_child; child != nullptr; child = child->next_sibling) {
      if (child->kind != OBJ_STMT) continue;
      auto* stmt = static_cast<tagSTMT*>(child);
      if (stmt->apd == desc) stmt->apd = stmt->implicit_apd;
      if (stmt->ard == desc) stmt->ard = stmt->implicit_ard;
    }
  }
  _SQLFreeDesc(desc);
  return SQL_SUCCESS;
}
