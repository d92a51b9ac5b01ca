// Descriptor fields: the field reader that SQLGetDescField and SQLColAttribute share, and
// the setting of single fields.
//
// Every value leaves at the width the ODBC API declares for it on this platform: counts
// and codes as SQLSMALLINT, lengths as SQLULEN or SQLLEN, pointers pointer-sized. In the
// column-attribute form every number is an SQLLEN.
#include <climits>
#include <cstring>

#include "odbc/descriptors.h"
#include "odbc/diagnostics.h"
#include "odbc/sql_string.h"
#include "odbc/type_mapping.h"

namespace {

constexpr a_packed_sqlstate kStateHY024 = PackSQLState("HY024");
constexpr a_packed_sqlstate kStateHY091 = PackSQLState("HY091");

// Driver field: the column is part of the server's key and not nullable.
constexpr SQLSMALLINT kDescKeyColumn = 1903;

// How a field leaves the reader.
enum class Form {
  Pointer,   // pointer-sized, to the text output
  Text,      // ReturnString to the text output
  Small,     // SQLSMALLINT
  Integer,   // SQLINTEGER
  Unsigned,  // SQLULEN
  Signed,    // SQLLEN
};

// A record that does not exist reads as this one.
const tagITEM kEmptyItem{};

bool IsHeaderField(SQLSMALLINT id) {
  switch (id) {
    case SQL_DESC_ARRAY_SIZE:
    case SQL_DESC_ARRAY_STATUS_PTR:
    case SQL_DESC_BIND_OFFSET_PTR:
    case SQL_DESC_BIND_TYPE:
    case SQL_DESC_ROWS_PROCESSED_PTR:
    case SQL_DESC_COUNT:
    case SQL_DESC_ALLOC_TYPE:
      return true;
    default:
      return false;
  }
}

bool IsCharacterType(SQLSMALLINT t) {
  switch (t) {
    case SQL_WLONGVARCHAR:
    case SQL_WVARCHAR:
    case SQL_WCHAR:
    case SQL_LONGVARCHAR:
    case SQL_CHAR:
    case SQL_VARCHAR:
      return true;
    default:
      return false;
  }
}

// Types whose literals the server quotes.
bool IsQuotedLiteralType(SQLSMALLINT t) {
  switch (t) {
    case SQL_GUID:
    case SQL_LONGVARBINARY:
    case SQL_VARBINARY:
    case SQL_BINARY:
      return true;
    default:
      return IsCharacterType(t);
  }
}

// Signed types; every other type (the server's unsigned integers, bits, character, binary
// and date-time types) answers SQL_DESC_UNSIGNED with 1. SQL_FLOAT is signed too.
bool IsSignedType(SQLSMALLINT t) {
  switch (t) {
    case SQL_C_SBIGINT:
    case SQL_C_SLONG:
    case SQL_C_SSHORT:
    case SQL_BIGINT:
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE:
      return true;
    default:
      return false;
  }
}

// 0 when (precision, scale) of a NUMERIC or DECIMAL record is the connection's money
// shape, 1 for its smallmoney shape, -1 otherwise.
int MoneyShape(const tagDBC* dbc, const tagITEM& item) {
  if (dbc == nullptr || (item.type != SQL_NUMERIC && item.type != SQL_DECIMAL)) return -1;
  for (int k = 0; k < 2; ++k) {
    if (item.precision == static_cast<SQLSMALLINT>(dbc->fixed_shapes[k][0]) &&
        item.scale == static_cast<SQLSMALLINT>(dbc->fixed_shapes[k][1])) {
      return k;
    }
  }
  return -1;
}

const char* TypeName(const tagDBC* dbc, const tagITEM& item) {
  if ((item.flags & kItemBitString) != 0) {
    return item.concise_type == SQL_VARCHAR ? "varbit" : "long varbit";
  }
  if ((item.flags & kItemSpatial) != 0) return "st_geometry";
  if ((item.flags & kItemTimeZone) != 0) return "timestamp with time zone";
  switch (MoneyShape(dbc, item)) {
    case 0:
      return "money";
    case 1:
      return "smallmoney";
    default:
      return NativeTypeToString(item.concise_type);
  }
}

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

// One answer of the reader: its form and value.
struct Answer {
  Form form = Form::Small;
  SQLLEN number = 0;  // Small, Integer, Signed (Unsigned in `unsigned_number`)
  SQLULEN unsigned_number = 0;
  SQLPOINTER pointer = nullptr;
  const char* text = nullptr;
};

// The answer for `id`; false for an identifier the reader does not know.
bool Lookup(const tagDESC* desc, const tagDBC* dbc, const tagITEM& item, SQLSMALLINT id,
            Answer* a) {
  auto small = [a](SQLLEN v) {
    a->form = Form::Small;
    a->number = v;
  };
  auto integer = [a](SQLLEN v) {
    a->form = Form::Integer;
    a->number = v;
  };
  auto text = [a](const char* t) {
    a->form = Form::Text;
    a->text = t;
  };
  auto pointer = [a](const void* p) {
    a->form = Form::Pointer;
    a->pointer = const_cast<void*>(p);
  };
  switch (id) {
    case SQL_COLUMN_COUNT:
    case SQL_DESC_COUNT:
      small(desc->count);
      return true;
    case SQL_COLUMN_NAME:
    case SQL_DESC_LABEL:
    case SQL_DESC_NAME:
      text(OrEmpty(item.name));
      return true;
    case SQL_DESC_CONCISE_TYPE:
      small(GetSQLType(item.concise_type));
      return true;
    case SQL_DESC_TYPE:
      small(GetSQLType(item.type));
      return true;
    case SQL_COLUMN_LENGTH:
    case SQL_DESC_LENGTH:
      a->form = Form::Unsigned;
      a->unsigned_number = item.length;
      return true;
    case SQL_COLUMN_PRECISION:
    case SQL_DESC_PRECISION:
      small(item.precision);
      return true;
    case SQL_COLUMN_SCALE:
    case SQL_DESC_SCALE:
      small(item.scale);
      return true;
    case SQL_DESC_DISPLAY_SIZE: {
      const SQLINTEGER length = item.length > static_cast<SQLULEN>(INT_MAX)
                                    ? INT_MAX
                                    : static_cast<SQLINTEGER>(item.length);
      a->form = Form::Signed;
      a->number = SQLDisplaySize(item.concise_type, item.precision, length);
      return true;
    }
    case SQL_COLUMN_NULLABLE:
    case SQL_DESC_NULLABLE:
      small(item.nullable != 0 ? 1 : 0);
      return true;
    case SQL_DESC_UNSIGNED:
      small(IsSignedType(item.concise_type) ? 0 : 1);
      return true;
    case SQL_DESC_FIXED_PREC_SCALE:
      small(MoneyShape(dbc, item) >= 0 ? 1 : 0);
      return true;
    case SQL_DESC_UPDATABLE:
      small(item.updatable != 0 ? 1 : 0);
      return true;
    case SQL_DESC_AUTO_UNIQUE_VALUE:
      integer(item.auto_unique);
      return true;
    case SQL_DESC_CASE_SENSITIVE:
      integer(IsCharacterType(item.type) && dbc != nullptr &&
                      (dbc->cap_a & kCapCaseSensitive) != 0
                  ? 1
                  : 0);
      return true;
    case SQL_DESC_SEARCHABLE:
      small(SQL_SEARCHABLE);
      return true;
    case SQL_DESC_TYPE_NAME:
    case SQL_DESC_LOCAL_TYPE_NAME:
      text(TypeName(dbc, item));
      return true;
    case SQL_DESC_TABLE_NAME:
    case SQL_DESC_BASE_TABLE_NAME:
      text(OrEmpty(item.table_name));
      return true;
    case SQL_DESC_SCHEMA_NAME:
      text(OrEmpty(item.schema_name));
      return true;
    case SQL_DESC_CATALOG_NAME:
      text("");
      return true;
    case SQL_DESC_ARRAY_SIZE:
      a->form = Form::Unsigned;
      a->unsigned_number = desc->array_size;
      return true;
    case SQL_DESC_ARRAY_STATUS_PTR:
      pointer(desc->array_status_ptr);
      return true;
    case SQL_DESC_BIND_OFFSET_PTR:
      pointer(desc->bind_offset_ptr);
      return true;
    case SQL_DESC_ROWS_PROCESSED_PTR:
      pointer(desc->rows_processed_ptr);
      return true;
    case SQL_DESC_BIND_TYPE:
      integer(static_cast<SQLINTEGER>(desc->bind_type));
      return true;
    case SQL_DESC_BASE_COLUMN_NAME:
      text(item.base_column_name != nullptr && item.base_column_name[0] != '\0'
               ? item.base_column_name
               : OrEmpty(item.name));
      return true;
    case SQL_DESC_DATETIME_INTERVAL_PRECISION:
      integer(item.interval_precision);
      return true;
    case SQL_DESC_LITERAL_PREFIX:
    case SQL_DESC_LITERAL_SUFFIX:
      text(IsQuotedLiteralType(item.type) ? "'" : "");
      return true;
    case SQL_DESC_MAXIMUM_SCALE:
    case SQL_DESC_MINIMUM_SCALE: {
      const int shape = MoneyShape(dbc, item);
      if (shape >= 0) {
        small(dbc->fixed_shapes[shape][1]);
      } else {
        small(item.type == SQL_TIMESTAMP && id == SQL_DESC_MAXIMUM_SCALE ? 6 : 0);
      }
      return true;
    }
    case SQL_DESC_NUM_PREC_RADIX:
      integer(item.radix);
      return true;
    case SQL_DESC_PARAMETER_TYPE:
      small(item.parameter_type);
      return true;
    case SQL_DESC_ROWVER:
      small(item.row_version != 0 ? 1 : 0);
      return true;
    case SQL_DESC_OCTET_LENGTH_PTR:
      pointer(item.octet_length_ptr);
      return true;
    case SQL_DESC_INDICATOR_PTR:
      pointer(item.indicator_ptr);
      return true;
    case SQL_DESC_DATA_PTR:
      pointer(item.data_ptr);
      return true;
    case SQL_DESC_DATETIME_INTERVAL_CODE:
      small(item.interval_code);
      return true;
    case SQL_DESC_UNNAMED:
      small(SQL_UNNAMED);
      return true;
    case SQL_DESC_OCTET_LENGTH:
      a->form = Form::Signed;
      a->number = item.octet_length;
      return true;
    case SQL_DESC_ALLOC_TYPE:
      small(desc->alloc_type);
      return true;
    case kDescKeyColumn:
      small(item.key != 0 && item.nullable == 0 ? 1 : 0);
      return true;
    default:
      return false;
  }
}

template <typename T>
void Store(SQLPOINTER out, T value) {
  std::memcpy(out, &value, sizeof value);
}

// SQLULEN value of a field given by value (the integer in ValuePtr).
SQLULEN ValueOf(SQLPOINTER value) { return reinterpret_cast<SQLULEN>(value); }

}  // namespace

SQLRETURN CheckDescRecordRead(tagDESC* desc, SQLSMALLINT record) {
  if (record < 0) return PostSQLState(desc, kState07009, kStateS1000);
  if (record > desc->count) return SQL_NO_DATA;
  if (record == 0 && desc->impl_kind == kDescImplParam) {
    return PostSQLState(desc, kState07009, kStateS1000);
  }
  if (desc->impl_kind == kDescImplRow) {
    const tagSTMT* stmt = desc->stmt;
    if (stmt == nullptr || stmt->ird != desc || stmt->state < kStmtPrepared) {
      return PostSQLState(desc, kStateHY007, kStateS1000);
    }
    if (stmt->cursor_state < kCursorOpen) return SQL_NO_DATA;
  }
  return SQL_SUCCESS;
}

SQLRETURN GetDescField(tagDESC* desc, tagOBJECT* diag, SQLSMALLINT record,
                       SQLSMALLINT identifier, SQLPOINTER text_out, SQLINTEGER text_size,
                       SQLINTEGER* text_length, SQLPOINTER number_out, bool widen) {
  const tagITEM* found = FindDescItem(desc, record);
  const tagITEM& item = found != nullptr ? *found : kEmptyItem;
  Answer a;
  if (!Lookup(desc, OwningDbc(desc), item, identifier, &a)) {
    return identifier > 999 ? PostSQLState(diag, kStateHYC00, kStateS1000)
                            : PostSQLState(diag, kStateHY091, kStateS1000);
  }
  switch (a.form) {
    case Form::Pointer:
      if (text_out == nullptr) return PostSQLState(diag, kStateHY009, kStateS1009);
      Store(text_out, a.pointer);
      return diag->retcode;
    case Form::Text:
      if (text_out == nullptr) return PostSQLState(diag, kStateHY009, kStateS1009);
      ReturnString(diag, text_out, text_size, text_length, a.text, SQL_NTS);
      return diag->retcode;
    default:
      break;
  }
  if (number_out == nullptr) return PostSQLState(diag, kStateHY009, kStateS1009);
  if (widen) {
    Store(number_out,
          a.form == Form::Unsigned ? static_cast<SQLLEN>(a.unsigned_number) : a.number);
    return diag->retcode;
  }
  switch (a.form) {
    case Form::Small:
      Store(number_out, static_cast<SQLSMALLINT>(a.number));
      break;
    case Form::Integer:
      Store(number_out, static_cast<SQLINTEGER>(a.number));
      break;
    case Form::Unsigned:
      Store(number_out, a.unsigned_number);
      break;
    default:
      Store(number_out, a.number);
      break;
  }
  return diag->retcode;
}

SQLRETURN DoSQLGetDescField(tagDESC* desc, SQLSMALLINT record, SQLSMALLINT identifier,
                            SQLPOINTER out, SQLINTEGER size, SQLINTEGER* length) {
  if (!IsHeaderField(identifier)) {
    const SQLRETURN rc = CheckDescRecordRead(desc, record);
    if (rc != SQL_SUCCESS) return rc;
  }
  return GetDescField(desc, desc, record, identifier, out, size, length, out, false);
}

namespace {

// Header fields of SQLSetDescField.
SQLRETURN SetHeaderField(tagDESC* desc, SQLSMALLINT identifier, SQLPOINTER value) {
  switch (identifier) {
    case SQL_DESC_ARRAY_SIZE: {
      const SQLULEN size = ValueOf(value);
      if (size < 1 || size > kMaxDescArraySize) {
        return PostSQLState(desc, kStateHY024, kStateS1009);
      }
      desc->array_size = size;
      return SQL_SUCCESS;
    }
    case SQL_DESC_ARRAY_STATUS_PTR:
      desc->array_status_ptr = static_cast<SQLUSMALLINT*>(value);
      return SQL_SUCCESS;
    case SQL_DESC_BIND_OFFSET_PTR:
      desc->bind_offset_ptr = static_cast<SQLLEN*>(value);
      return SQL_SUCCESS;
    case SQL_DESC_BIND_TYPE:
      desc->bind_type = static_cast<SQLUINTEGER>(ValueOf(value));
      return SQL_SUCCESS;
    case SQL_DESC_ROWS_PROCESSED_PTR:
      desc->rows_processed_ptr = static_cast<SQLULEN*>(value);
      return SQL_SUCCESS;
    case SQL_DESC_COUNT: {
      // The value is an SQLSMALLINT passed in the pointer: anything outside 0..32767
      // would wrap into a different count.
      const auto count = static_cast<SQLLEN>(ValueOf(value));
      if (count < 0 || count > SHRT_MAX) return PostSQLState(desc, kStateHY024, kStateS1009);
      if (count == 0) {
        FreeDescriptor(desc);
        return SQL_SUCCESS;
      }
      while (desc->count > count) UnBindDescItem(desc, desc->count);
      if (GrowDescRecords(desc, static_cast<SQLSMALLINT>(count)) != 0) return desc->retcode;
      return SQL_SUCCESS;
    }
    default:  // SQL_DESC_ALLOC_TYPE is read-only
      return PostSQLState(desc, kStateHY091, kStateS1000);
  }
}

// Record fields of SQLSetDescField.
SQLRETURN SetRecordField(tagDESC* desc, SQLSMALLINT record, SQLSMALLINT identifier,
                         SQLPOINTER value) {
  if (record < 0) return PostSQLState(desc, kState07009, kStateS1000);
  tagITEM* item = record == 0 ? AccessBookmark(desc) : AccessDescItem(desc, record);
  if (item == nullptr) return desc->retcode;
  const SQLULEN v = ValueOf(value);
  switch (identifier) {
    case SQL_DESC_CONCISE_TYPE:
      item->concise_type = static_cast<SQLSMALLINT>(v);
      break;
    case SQL_DESC_DATETIME_INTERVAL_PRECISION:
      item->interval_precision = static_cast<SQLINTEGER>(v);
      break;
    case SQL_DESC_NUM_PREC_RADIX:
      item->radix = static_cast<SQLINTEGER>(v);
      break;
    case SQL_DESC_PARAMETER_TYPE:
      item->parameter_type = static_cast<SQLSMALLINT>(v);
      break;
    case SQL_DESC_TYPE:
      item->type = static_cast<SQLSMALLINT>(v);
      break;
    case SQL_DESC_LENGTH:
      item->length = v;
      break;
    case SQL_DESC_OCTET_LENGTH_PTR:
      item->octet_length_ptr = static_cast<SQLLEN*>(value);
      break;
    case SQL_DESC_PRECISION:
      item->precision = static_cast<SQLSMALLINT>(v);
      break;
    case SQL_DESC_SCALE:
      item->scale = static_cast<SQLSMALLINT>(v);
      break;
    case SQL_DESC_DATETIME_INTERVAL_CODE:
      item->interval_code = static_cast<SQLSMALLINT>(v);
      break;
    case SQL_DESC_INDICATOR_PTR:
      item->indicator_ptr = static_cast<SQLLEN*>(value);
      break;
    case SQL_DESC_DATA_PTR:
      // Setting the data pointer binds the record; clearing it unbinds.
      item->data_ptr = value;
      if (value != nullptr) {
        item->flags |= kItemBound;
      } else {
        item->flags &= ~kItemBound;
      }
      break;
    case SQL_DESC_OCTET_LENGTH:
      item->octet_length = static_cast<SQLLEN>(v);
      break;
    case SQL_DESC_UNNAMED:
      break;
    default:
      return PostSQLState(desc, kStateHY091, kStateS1000);
  }
  return SQL_SUCCESS;
}

}  // namespace

SQLRETURN DoSQLSetDescField(tagDESC* desc, SQLSMALLINT record, SQLSMALLINT identifier,
                            SQLPOINTER value, SQLINTEGER /*length*/) {
  if (desc->impl_kind == kDescImplRow && identifier != SQL_DESC_ARRAY_STATUS_PTR &&
      identifier != SQL_DESC_ROWS_PROCESSED_PTR) {
    return PostSQLState(desc, kStateHY016, kStateS1000);
  }
  const SQLRETURN rc = IsHeaderField(identifier)
                           ? SetHeaderField(desc, identifier, value)
                           : SetRecordField(desc, record, identifier, value);
  ++desc->change_counter;
  return rc == SQL_SUCCESS ? desc->retcode : rc;
}
