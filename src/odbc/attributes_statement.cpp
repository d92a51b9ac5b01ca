// Statement attributes and the ODBC 2 scroll options.
//
// The cursor attributes (type, concurrency, scrollability, sensitivity, simulation,
// bookmarks) depend on each other; a change of one moves the others to the nearest
// combination the driver supports, so that SQLGetStmtAttr always reports what the cursor
// will be.
#include <cstring>

#include "odbc/attributes.h"
#include "odbc/descriptors.h"
#include "odbc/diagnostics.h"

namespace {

// Cursor kinds of tagSTMT::cursor_kind.
constexpr std::int32_t kKindForwardOnly = 0;
constexpr std::int32_t kKindDynamic = 1;
constexpr std::int32_t kKindKeyset = 2;
constexpr std::int32_t kKindStatic = 3;

SQLRETURN Refuse(tagOBJECT* h, a_packed_sqlstate odbc3, a_packed_sqlstate odbc2) {
  return PostSQLState(h, odbc3, odbc2);
}

SQLRETURN BadValue(tagSTMT* stmt) { return Refuse(stmt, kStateHY024, kStateS1009); }

SQLRETURN Store(tagSTMT* stmt, SQLINTEGER attribute, SQLULEN value) {
  if (StoreAttribute(stmt, attribute, value) != 0) return stmt->retcode;
  return SQL_SUCCESS;
}

std::int32_t KindOfCursorType(SQLULEN type) {
  switch (type) {
    case SQL_CURSOR_KEYSET_DRIVEN:
      return kKindKeyset;
    case SQL_CURSOR_DYNAMIC:
      return kKindDynamic;
    case SQL_CURSOR_STATIC:
      return kKindStatic;
    default:
      return kKindForwardOnly;
  }
}

// Sets the cursor type option and the kind that goes with it.
SQLRETURN StoreCursorType(tagSTMT* stmt, SQLULEN type) {
  stmt->cursor_kind = KindOfCursorType(type);
  return Store(stmt, SQL_CURSOR_TYPE, type);
}

bool IsCursorAttribute(SQLINTEGER a) {
  return a == SQL_ATTR_CURSOR_SENSITIVITY || a == SQL_ATTR_CURSOR_SCROLLABLE ||
         a == SQL_CURSOR_TYPE || a == SQL_CONCURRENCY || a == SQL_SIMULATE_CURSOR ||
         a == SQL_USE_BOOKMARKS;
}

SQLRETURN SetCursorType(tagSTMT* stmt, SQLULEN type) {
  if (type > SQL_CURSOR_STATIC) return BadValue(stmt);
  if (type != SQL_CURSOR_FORWARD_ONLY) {
    if (Store(stmt, SQL_ATTR_CURSOR_SCROLLABLE, SQL_SCROLLABLE) != SQL_SUCCESS) {
      return stmt->retcode;
    }
    SQLULEN sensitivity = Option(stmt, SQL_ATTR_CURSOR_SENSITIVITY);
    if (Option(stmt, SQL_CONCURRENCY) != SQL_CONCUR_READ_ONLY) {
      sensitivity = SQL_SENSITIVE;
    } else if (type == SQL_CURSOR_STATIC) {
      sensitivity = SQL_INSENSITIVE;
    }
    if (Store(stmt, SQL_ATTR_CURSOR_SENSITIVITY, sensitivity) != SQL_SUCCESS) {
      return stmt->retcode;
    }
  } else if (Store(stmt, SQL_ATTR_CURSOR_SCROLLABLE, SQL_NONSCROLLABLE) != SQL_SUCCESS) {
    return stmt->retcode;
  }
  return StoreCursorType(stmt, type);
}

SQLRETURN SetConcurrency(tagSTMT* stmt, SQLULEN value) {
  if (value < SQL_CONCUR_READ_ONLY || value > SQL_CONCUR_VALUES) {
    return Refuse(stmt, kStateHY108, kStateS1108);
  }
  const SQLULEN sensitivity = Option(stmt, SQL_ATTR_CURSOR_SENSITIVITY);
  if (value == SQL_CONCUR_READ_ONLY) {
    if (Store(stmt, SQL_ATTR_CURSOR_SENSITIVITY, SQL_INSENSITIVE) != SQL_SUCCESS) {
      return stmt->retcode;
    }
  } else if (sensitivity == SQL_INSENSITIVE &&
             Store(stmt, SQL_ATTR_CURSOR_SENSITIVITY, SQL_SENSITIVE) != SQL_SUCCESS) {
    return stmt->retcode;
  }
  stmt->concurrency = value;
  return Store(stmt, SQL_CONCURRENCY, value);
}

SQLRETURN SetScrollable(tagSTMT* stmt, SQLULEN value) {
  if (value == SQL_SCROLLABLE) {
    if (Option(stmt, SQL_CURSOR_TYPE) == SQL_CURSOR_FORWARD_ONLY &&
        StoreCursorType(stmt, SQL_CURSOR_DYNAMIC) != SQL_SUCCESS) {
      return stmt->retcode;
    }
  } else if (value == SQL_NONSCROLLABLE) {
    if (StoreCursorType(stmt, SQL_CURSOR_FORWARD_ONLY) != SQL_SUCCESS) return stmt->retcode;
  } else {
    return BadValue(stmt);
  }
  return Store(stmt, SQL_ATTR_CURSOR_SCROLLABLE, value);
}

SQLRETURN SetSensitivity(tagSTMT* stmt, SQLULEN value) {
  if (value == SQL_INSENSITIVE) {
    // Insensitive: a static, read-only cursor.
    stmt->concurrency = SQL_CONCUR_READ_ONLY;
    if (Store(stmt, SQL_CONCURRENCY, SQL_CONCUR_READ_ONLY) != SQL_SUCCESS ||
        StoreCursorType(stmt, SQL_CURSOR_STATIC) != SQL_SUCCESS) {
      return stmt->retcode;
    }
  } else if (value == SQL_UNSPECIFIED || value == SQL_SENSITIVE) {
    if (Option(stmt, SQL_CONCURRENCY) == SQL_CONCUR_READ_ONLY) {
      stmt->concurrency = SQL_CONCUR_LOCK;
      if (Store(stmt, SQL_CONCURRENCY, SQL_CONCUR_LOCK) != SQL_SUCCESS) return stmt->retcode;
    }
    const SQLULEN type = Option(stmt, SQL_CURSOR_TYPE);
    if ((type == SQL_CURSOR_FORWARD_ONLY || type == SQL_CURSOR_STATIC) &&
        StoreCursorType(stmt, SQL_CURSOR_DYNAMIC) != SQL_SUCCESS) {
      return stmt->retcode;
    }
  } else {
    return BadValue(stmt);
  }
  return Store(stmt, SQL_ATTR_CURSOR_SENSITIVITY, value);
}

SQLRETURN SetRowArraySize(tagSTMT* stmt, SQLULEN value) {
  if (value < 1 || value > kMaxRowArraySize) return BadValue(stmt);
  if (Store(stmt, SQL_ROWSET_SIZE, value) != SQL_SUCCESS) return stmt->retcode;
  stmt->ard->array_size = value;
  stmt->ard->change_counter++;
  stmt->rowset_size = value;
  return SQL_SUCCESS;
}

// True when `h` is one of the connection's handles. The application's value is looked up
// among them before anything is read through it: an arbitrary number is no handle.
bool IsConnectionChild(const tagOBJECT* dbc, const void* h) {
  for (const tagOBJECT* child = dbc != nullptr ? dbc->first_child : nullptr; child != nullptr;
       child = child->next_sibling) {
    if (child == h) return true;
  }
  return false;
}

// 10010 / 10011: the application descriptor the statement uses.
SQLRETURN SetAppDescriptor(tagSTMT* stmt, tagDESC** in_use, tagDESC* implicit, SQLULEN value) {
  auto* desc = reinterpret_cast<tagDESC*>(value);
  if (desc == nullptr || desc == implicit) {
    desc = implicit;
  } else if (!IsConnectionChild(stmt->parent, desc) || !IsValidDesc(desc) ||
             desc->alloc_type != kDescAllocUser) {
    return Refuse(stmt, kStateHY017, kStateS1009);
  }
  *in_use = desc;
  desc->change_counter++;
  stmt->desc_changes++;
  return SQL_SUCCESS;
}

// A descriptor field by its statement attribute; null for others.
struct DescField {
  tagDESC* desc;
  enum { kArraySize, kStatusPtr, kBindType, kOffsetPtr, kProcessedPtr } field;
};

bool DescFieldOf(tagSTMT* stmt, SQLINTEGER attribute, DescField* out) {
  switch (attribute) {
    case SQL_ATTR_PARAM_BIND_OFFSET_PTR:
      *out = {stmt->apd, DescField::kOffsetPtr};
      return true;
    case SQL_ATTR_PARAM_BIND_TYPE:
      *out = {stmt->apd, DescField::kBindType};
      return true;
    case SQL_ATTR_PARAM_OPERATION_PTR:
      *out = {stmt->apd, DescField::kStatusPtr};
      return true;
    case SQL_ATTR_PARAMSET_SIZE:
      *out = {stmt->apd, DescField::kArraySize};
      return true;
    case SQL_ATTR_PARAM_STATUS_PTR:
      *out = {stmt->ipd, DescField::kStatusPtr};
      return true;
    case SQL_ATTR_PARAMS_PROCESSED_PTR:
      *out = {stmt->ipd, DescField::kProcessedPtr};
      return true;
    case SQL_BIND_TYPE:
      *out = {stmt->ard, DescField::kBindType};
      return true;
    case SQL_ATTR_ROW_BIND_OFFSET_PTR:
      *out = {stmt->ard, DescField::kOffsetPtr};
      return true;
    case SQL_ATTR_ROW_OPERATION_PTR:
      *out = {stmt->ard, DescField::kStatusPtr};
      return true;
    case SQL_ROWSET_SIZE:
    case SQL_ATTR_ROW_ARRAY_SIZE:
      *out = {stmt->ard, DescField::kArraySize};
      return true;
    case SQL_ATTR_ROW_STATUS_PTR:
      *out = {stmt->ird, DescField::kStatusPtr};
      return true;
    case SQL_ATTR_ROWS_FETCHED_PTR:
      *out = {stmt->ird, DescField::kProcessedPtr};
      return true;
    default:
      return false;
  }
}

SQLULEN ReadDescField(const DescField& f) {
  switch (f.field) {
    case DescField::kArraySize:
      return f.desc->array_size;
    case DescField::kStatusPtr:
      return reinterpret_cast<SQLULEN>(f.desc->array_status_ptr);
    case DescField::kBindType:
      return f.desc->bind_type;
    case DescField::kOffsetPtr:
      return reinterpret_cast<SQLULEN>(f.desc->bind_offset_ptr);
    case DescField::kProcessedPtr:
      return reinterpret_cast<SQLULEN>(f.desc->rows_processed_ptr);
  }
  return 0;
}

void WriteDescField(const DescField& f, SQLULEN value) {
  switch (f.field) {
    case DescField::kArraySize:
      f.desc->array_size = value;
      break;
    case DescField::kStatusPtr:
      f.desc->array_status_ptr = reinterpret_cast<SQLUSMALLINT*>(value);
      break;
    case DescField::kBindType:
      f.desc->bind_type = value;
      break;
    case DescField::kOffsetPtr:
      f.desc->bind_offset_ptr = reinterpret_cast<SQLLEN*>(value);
      break;
    case DescField::kProcessedPtr:
      f.desc->rows_processed_ptr = reinterpret_cast<SQLULEN*>(value);
      break;
  }
  f.desc->change_counter++;
}

bool HasDescriptors(const tagSTMT* stmt) {
  return stmt->apd != nullptr && stmt->ard != nullptr && stmt->ipd != nullptr &&
         stmt->ird != nullptr;
}

// SQL_ROW_NUMBER and SQL_GET_BOOKMARK need a cursor positioned on rows.
bool OnRows(const tagSTMT* stmt) {
  return stmt->state >= kStmtExecuted && stmt->cursor_state >= kCursorOpen;
}

SQLULEN CurrentRowNumber(const tagSTMT* stmt) {
  SQLLEN row = stmt->row_number;
  if (stmt->single_row == 0) row += static_cast<SQLLEN>(stmt->rowset_row);
  return static_cast<SQLULEN>(row);
}

}  // namespace

void InitStmtAttributes(tagSTMT* stmt) {
  stmt->cursor_kind = KindOfCursorType(Option(stmt, SQL_CURSOR_TYPE));
  stmt->concurrency = Option(stmt, SQL_CONCURRENCY);
  stmt->rowset_size = Option(stmt, SQL_ROWSET_SIZE);
  stmt->max_rows = Option(stmt, SQL_MAX_ROWS);
  stmt->max_length = Option(stmt, SQL_MAX_LENGTH);
}

SQLRETURN DoSQLSetStmtAttr(tagSTMT* stmt, SQLINTEGER attribute, SQLPOINTER value) {
  if (IsCursorAttribute(attribute)) {
    if (stmt->cursor_state == kCursorOpen) return Refuse(stmt, kState24000, kState24000);
    if (stmt->state >= kStmtPrepared) return Refuse(stmt, kStateHY011, kStateS1011);
  }
  return ChangeStmtOption(stmt, attribute, reinterpret_cast<SQLULEN>(value));
}

SQLRETURN ChangeStmtOption(tagSTMT* stmt, SQLINTEGER attribute, SQLULEN value) {
  if (!HasDescriptors(stmt)) return Refuse(stmt, kStateHY000, kStateS1000);
  DescField field;
  switch (attribute) {
    case SQL_ATTR_FETCH_BOOKMARK_PTR:
      stmt->fetch_bookmark_ptr = reinterpret_cast<SQLPOINTER>(value);
      return SQL_SUCCESS;
    case SQL_ROWSET_SIZE:
    case SQL_ATTR_ROW_ARRAY_SIZE:
      return SetRowArraySize(stmt, value);
    case SQL_ATTR_APP_ROW_DESC:
      return SetAppDescriptor(stmt, &stmt->ard, stmt->implicit_ard, value);
    case SQL_ATTR_APP_PARAM_DESC:
      return SetAppDescriptor(stmt, &stmt->apd, stmt->implicit_apd, value);
    case SQL_ATTR_METADATA_ID:
    case SQL_QUERY_TIMEOUT:
    case SQL_NOSCAN:
    case SQL_USE_BOOKMARKS:
      return Store(stmt, attribute, value);
    case SQL_MAX_ROWS:
      stmt->max_rows = value;
      return Store(stmt, attribute, value);
    case SQL_MAX_LENGTH:
      if (value == 0) value = kDefaultMaxLength;
      stmt->max_length = value;
      return Store(stmt, attribute, value);
    case SQL_ASYNC_ENABLE:
      if (value == SQL_ASYNC_ENABLE_ON) return Refuse(stmt, kStateHYC00, kStateS1C00);
      return Store(stmt, attribute, value);
    case SQL_CURSOR_TYPE:
      return SetCursorType(stmt, value);
    case SQL_CONCURRENCY:
      return SetConcurrency(stmt, value);
    case SQL_KEYSET_SIZE:
      if (value != 0 && value < stmt->ard->array_size) {
        return Refuse(stmt, kStateHY107, kStateS1107);
      }
      return Store(stmt, attribute, value);
    case SQL_SIMULATE_CURSOR:
      if (value > SQL_SC_TRY_UNIQUE) return BadValue(stmt);
      return Store(stmt, attribute, value);
    case SQL_RETRIEVE_DATA:
      if (value > SQL_RD_ON) return BadValue(stmt);
      return Store(stmt, attribute, value);
    case SQL_ATTR_CURSOR_SCROLLABLE:
      return SetScrollable(stmt, value);
    case SQL_ATTR_CURSOR_SENSITIVITY:
      return SetSensitivity(stmt, value);
    case SQL_ATTR_ENABLE_AUTO_IPD: {
      tagDBC* dbc = OwningDbc(stmt);
      if (value == SQL_TRUE && (dbc == nullptr || Option(dbc, kOptAutoIPD) == 0)) {
        return Refuse(stmt, kStateHYC00, kStateS1C00);
      }
      return Store(stmt, attribute, SQL_TRUE);
    }
    default:
      if (DescFieldOf(stmt, attribute, &field)) {
        WriteDescField(field, value);
        return SQL_SUCCESS;
      }
      return Refuse(stmt, kStateHY092, kStateS1092);
  }
}

SQLRETURN DoSQLGetStmtAttr(tagSTMT* stmt, SQLINTEGER attribute, SQLPOINTER out,
                           SQLINTEGER /*size*/, SQLINTEGER* /*length*/) {
  if (out == nullptr) return Refuse(stmt, kStateHY009, kStateS1009);
  if (!HasDescriptors(stmt)) return Refuse(stmt, kStateHY000, kStateS1000);
  DescField field;
  if (DescFieldOf(stmt, attribute, &field)) {
    WriteAttribute(attribute, out, ReadDescField(field));
    return SQL_SUCCESS;
  }
  SQLULEN value = 0;
  switch (attribute) {
    case SQL_ATTR_FETCH_BOOKMARK_PTR:
      value = reinterpret_cast<SQLULEN>(stmt->fetch_bookmark_ptr);
      break;
    case SQL_ATTR_APP_ROW_DESC:
      value = reinterpret_cast<SQLULEN>(static_cast<SQLHDESC>(stmt->ard));
      break;
    case SQL_ATTR_APP_PARAM_DESC:
      value = reinterpret_cast<SQLULEN>(static_cast<SQLHDESC>(stmt->apd));
      break;
    case SQL_ATTR_IMP_ROW_DESC:
      value = reinterpret_cast<SQLULEN>(static_cast<SQLHDESC>(stmt->ird));
      break;
    case SQL_ATTR_IMP_PARAM_DESC:
      value = reinterpret_cast<SQLULEN>(static_cast<SQLHDESC>(stmt->ipd));
      break;
    case SQL_MAX_ROWS:
      value = stmt->max_rows;
      break;
    case SQL_ROW_NUMBER:
      if (!OnRows(stmt)) return Refuse(stmt, kState24000, kState24000);
      value = CurrentRowNumber(stmt);
      break;
    case SQL_GET_BOOKMARK:
      if (!OnRows(stmt)) return Refuse(stmt, kState24000, kState24000);
      if (Option(stmt, SQL_USE_BOOKMARKS) == SQL_UB_OFF) {
        return Refuse(stmt, kStateHY000, kStateS1000);
      }
      // The bookmark of a row is its number.
      value = CurrentRowNumber(stmt);
      break;
    default: {
      const tagOPTION* entry = FindOption(stmt, attribute, false);
      // An attribute never set leaves the output as it was.
      if (entry == nullptr) return SQL_SUCCESS;
      value = entry->value;
      break;
    }
  }
  WriteAttribute(attribute, out, value);
  return SQL_SUCCESS;
}

SQLRETURN DoSQLSetScrollOptions(tagSTMT* stmt, SQLUSMALLINT concurrency, SQLLEN keyset,
                                SQLUSMALLINT rowset) {
  if (!HasDescriptors(stmt)) return Refuse(stmt, kStateHY000, kStateS1000);
  const SQLULEN old_rowset = stmt->ard->array_size;
  if (ChangeStmtOption(stmt, SQL_ATTR_ROW_ARRAY_SIZE, rowset) != SQL_SUCCESS) {
    return stmt->retcode;
  }
  const SQLULEN old_concurrency = Option(stmt, SQL_CONCURRENCY);
  const SQLULEN old_sensitivity = Option(stmt, SQL_ATTR_CURSOR_SENSITIVITY);
  if (DoSQLSetStmtAttr(stmt, SQL_CONCURRENCY, reinterpret_cast<SQLPOINTER>(
                                                  static_cast<SQLULEN>(concurrency))) !=
      SQL_SUCCESS) {
    SetRowArraySize(stmt, old_rowset);
    return stmt->retcode;
  }
  SQLRETURN rc;
  if (keyset < 0) {
    // SQL_SCROLL_KEYSET_DRIVEN -1, SQL_SCROLL_DYNAMIC -2, SQL_SCROLL_STATIC -3 are the
    // negated cursor types; anything further down is no cursor type at all.
    rc = keyset < SQL_SCROLL_STATIC
             ? BadValue(stmt)
             : DoSQLSetStmtAttr(stmt, SQL_CURSOR_TYPE,
                                reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(-keyset)));
  } else {
    rc = ChangeStmtOption(stmt, SQL_KEYSET_SIZE, static_cast<SQLULEN>(keyset));
  }
  if (rc != SQL_SUCCESS) {
    SetRowArraySize(stmt, old_rowset);
    stmt->concurrency = old_concurrency;
    Store(stmt, SQL_CONCURRENCY, old_concurrency);
    Store(stmt, SQL_ATTR_CURSOR_SENSITIVITY, old_sensitivity);
  }
  return stmt->retcode;
}
