// The describe information of a statement turned into implementation descriptor records:
// result columns into the row descriptor, parameters into the parameter descriptor, with
// ODBC SQL types, column sizes, octet lengths, nullability, parameter kinds and names.
//
// A described entry carries its wire type, length, precision, scale and flag word, its
// dotted qualified name and, when the server gives one, its type name (the entry's
// second name). The type name tells apart the server types that share a wire type: a
// "uniqueidentifier" among binaries, "varbit", "st_geometry" and "timestamp with time
// zone" among texts.
#include <strings.h>

#include <cstring>

#include "cmdseq/desc.h"
#include "odbc/descriptors.h"
#include "odbc/diag_states.h"
#include "odbc/diagnostics.h"
#include "odbc/engine.h"
#include "odbc/handles.h"
#include "odbc/type_mapping.h"
#include "utils/base/memory.h"

namespace {

constexpr std::uint8_t kCapBCharVarchar = 0x01;  // byte B: CHAR and VARCHAR told apart
constexpr std::uint8_t kCapBVarbinary = 0x02;    // byte B: BINARY described as VARBINARY

// Flag word of a described entry.
constexpr std::uint16_t kEntryNullable = 0x0001;
constexpr std::uint16_t kEntryUpdatable = 0x0800;
constexpr std::uint16_t kEntryAutoUnique = 0x2000;
constexpr std::uint16_t kEntryRowVersion = 0x0400;
constexpr std::uint16_t kEntryParameter = 0x1000;
constexpr std::uint16_t kEntryParamDirection = 0x4000;  // the in/out bit below is given
constexpr std::uint16_t kEntryParamOut = 0x8000;
constexpr std::uint16_t kEntryHighestColumnFlags = 16383;

constexpr SQLULEN kUnbounded = 2147483647;
constexpr SQLULEN kTimestampTzSize = 33;
constexpr SQLULEN kUntypedParameterSize = 32767;

bool type_name_is(const a_cmdseq_desc_item* entry, const char* name) {
  return entry->name2 != nullptr && strcasecmp(entry->name2, name) == 0;
}

// Record flags from the type name of a text or long entry.
std::uint32_t type_name_marks(const a_cmdseq_desc_item* entry) {
  if (type_name_is(entry, "varbit")) return kItemBitString;
  if (type_name_is(entry, "st_geometry")) return kItemSpatial;
  if (type_name_is(entry, "timestamp with time zone")) return kItemTimeZone;
  return 0;
}

void set_text(char** field, char* value) {
  ut_free(*field);
  *field = value;
}

// Writes the type, sizes and marks of one entry into its record.
void describe_type(const a_cmdseq_desc_item* entry, tagITEM* rec, const tagDBC* dbc,
                   int odbc_version) {
  const SQLULEN length = entry->length;
  SQLSMALLINT type = entry->type;
  SQLULEN size = length;
  SQLLEN octets = static_cast<SQLLEN>(length);
  SQLSMALLINT verbose = 0;  // 0: the same as the concise type
  SQLSMALLINT subcode = 0;
  SQLINTEGER radix = 10;
  SQLSMALLINT precision = static_cast<SQLSMALLINT>(length > 0x7FFF ? 0x7FFF : length);
  SQLSMALLINT scale = static_cast<SQLSMALLINT>(entry->scale);
  const std::uint8_t cap_b = dbc != nullptr ? dbc->cap_b : 0;

  switch (entry->type) {
    case -31:  // long nvarchar
      type = SQL_WLONGVARCHAR;
      size = kUnbounded;
      octets = static_cast<SQLLEN>(kUnbounded);
      radix = 0;
      rec->flags |= type_name_marks(entry);
      break;
    case -30:  // nvarchar
    case -29:  // nchar
      type = entry->type == -30 ? SQL_WVARCHAR : SQL_WCHAR;
      // The length counts bytes of the connection's UTF-8: at most 4 per character.
      size = length / 4;
      octets = static_cast<SQLLEN>(size * 4);
      radix = 0;
      break;
    case -25:
      type = -27;
      size = 20;
      octets = 8;
      break;
    case -24:
      type = -18;
      size = 10;
      octets = 4;
      break;
    case -23:
      type = -17;
      size = 5;
      octets = 2;
      break;
    case SQL_BIT:
      size = 1;
      octets = 1;
      break;
    case SQL_TINYINT:
      size = 3;
      octets = 1;
      break;
    case SQL_BIGINT:
      size = 19;
      octets = 8;
      break;
    case SQL_LONGVARBINARY:
    case SQL_LONGVARCHAR:
      size = kUnbounded;
      octets = static_cast<SQLLEN>(kUnbounded);
      radix = 0;
      rec->flags |= type_name_marks(entry);
      break;
    case SQL_BINARY:
      if (type_name_is(entry, "uniqueidentifier")) {
        type = SQL_GUID;
      } else {
        type = (cap_b & kCapBVarbinary) != 0 ? SQL_VARBINARY : SQL_BINARY;
      }
      radix = 0;
      break;
    case SQL_CHAR:
    case SQL_VARCHAR: {
      if (entry->type == SQL_CHAR && (cap_b & kCapBCharVarchar) != 0) {
        type = SQL_CHAR;
      } else {
        type = SQL_VARCHAR;
        rec->flags |= type_name_marks(entry);
      }
      if ((rec->flags & kItemTimeZone) != 0) size = kTimestampTzSize;
      octets = static_cast<SQLLEN>(size);
      radix = 0;
      break;
    }
    case SQL_NUMERIC:
    case SQL_DECIMAL:
      precision = entry->precision;
      size = entry->precision;
      octets = static_cast<SQLLEN>(entry->precision) + 2;
      break;
    case SQL_INTEGER:
      size = 10;
      octets = 4;
      break;
    case SQL_SMALLINT:
      size = 5;
      octets = 2;
      break;
    case SQL_FLOAT:
    case SQL_DOUBLE:
      size = 15;
      octets = 8;
      break;
    case SQL_REAL:
      size = 7;
      octets = 4;
      break;
    case 9:
    case 10:
    case 11: {
      // Sub-code 1 date, 2 time, 3 timestamp; the entry's own subtype when it has one.
      subcode = entry->subtype >= 1 && entry->subtype <= 3 ? entry->subtype
                                                           : static_cast<SQLSMALLINT>(entry->type - 8);
      static const SQLSMALLINT kOdbc3[] = {SQL_TYPE_DATE, SQL_TYPE_TIME, SQL_TYPE_TIMESTAMP};
      static const SQLSMALLINT kOdbc2[] = {SQL_DATE, SQL_TIME, SQL_TIMESTAMP};
      static const SQLLEN kOctets[] = {6, 6, 16};
      // The character sizes of the ODBC forms, for an entry without a length.
      static const SQLULEN kSizes[] = {10, 8, 26};
      type = odbc_version == 2 ? kOdbc2[subcode - 1] : kOdbc3[subcode - 1];
      verbose = odbc_version == 2 ? type : static_cast<SQLSMALLINT>(SQL_DATETIME);
      octets = kOctets[subcode - 1];
      size = length != 0 ? length : kSizes[subcode - 1];
      // The fractional-seconds precision of times and timestamps is microseconds.
      precision = subcode == 1 ? 0 : 6;
      if (subcode == 3) scale = 6;
      radix = 0;
      break;
    }
    default:
      break;
  }
  rec->concise_type = type;
  rec->type = verbose != 0 ? verbose : type;
  rec->interval_code = subcode;
  rec->length = size;
  rec->octet_length = octets;
  rec->radix = radix;
  if (entry->type != SQL_NUMERIC && entry->type != SQL_DECIMAL && subcode == 0) {
    precision = static_cast<SQLSMALLINT>(size > 0x7FFF ? 0x7FFF : size);
  }
  rec->precision = precision;
  rec->scale = scale;
  rec->effective_type = type;
}

// Splits the qualified name into schema, table, column label and base column name.
void describe_names(const a_cmdseq_desc_item* entry, tagITEM* rec, tagOBJECT* h) {
  if (entry->name == nullptr || (entry->col_flags & 0x0002) != 0) return;
  char* parts[4] = {};
  const char* at = entry->name;
  for (char*& part : parts) at = ParseNamePart(at, h, &part);
  if ((parts[1] == nullptr || parts[1][0] == '\0') && (parts[2] == nullptr || parts[2][0] == '\0')) {
    // A bare name is the column's.
    ut_free(parts[2]);
    parts[2] = parts[0];
    parts[0] = nullptr;
  }
  set_text(&rec->schema_name, parts[0]);
  set_text(&rec->table_name, parts[1]);
  set_text(&rec->name, parts[2]);
  set_text(&rec->base_column_name, parts[3]);
}

}  // namespace

const char* ParseNamePart(const char* text, tagOBJECT* h, char** out) {
  *out = nullptr;
  if (text == nullptr) return text;
  // The part is never longer than what is left of the text.
  const std::size_t room = std::strlen(text) + 1;
  auto* part = static_cast<char*>(ut_malloc(room));
  std::size_t n = 0;
  bool quoted = false;
  const char* p = text;
  while (*p != '\0') {
    if (*p == '"') {
      if (quoted && p[1] == '"') {
        if (part != nullptr) part[n++] = '"';
        p += 2;
        continue;
      }
      quoted = !quoted;
      ++p;
      continue;
    }
    if (*p == '.' && !quoted) {
      ++p;
      break;
    }
    if (part != nullptr) part[n++] = *p;
    ++p;
  }
  if (part == nullptr) {
    if (h != nullptr) (void)PostSQLState(h, kStateHY001, kStateS1001);
    return p;
  }
  part[n] = '\0';
  *out = part;
  return p;
}

void DBDescribeData(tagSTMT* stmt) {
  tagDESC* ird = stmt->ird;
  tagDESC* ipd = stmt->ipd;
  if (ird == nullptr || ipd == nullptr) return;
  tagITEM* bookmark = AccessBookmark(ird);
  if (bookmark == nullptr) return;
  bookmark->concise_type = SQL_BINARY;
  bookmark->type = SQL_BINARY;
  bookmark->length = 4;
  bookmark->octet_length = 4;

  a_cmdseq_desc* info = stmt->describe_info;
  if (info == nullptr) return;
  const tagDBC* dbc = OwningDbc(stmt);
  const int odbc_version = [&] {
    tagENV* env = OwningEnv(stmt);
    return ODBCVersion(env != nullptr ? static_cast<SQLINTEGER>(UIntOption(env, SQL_ATTR_ODBC_VERSION))
                                      : SQL_OV_ODBC3);
  }();

  SQLSMALLINT columns = 0;
  SQLSMALLINT parameters = 0;
  std::uint32_t seen = 0;
  for (a_cmdseq_desc_item* entry = info->items; entry != nullptr && seen < info->count;
       entry = entry->next, ++seen) {
    const std::uint16_t flags = entry->col_flags;
    const bool parameter = (flags & kEntryParameter) != 0;
    if (!parameter && flags > kEntryHighestColumnFlags) continue;
    tagDESC* desc = parameter ? ipd : ird;
    SQLSMALLINT& number = parameter ? parameters : columns;
    if (number == 0x7FFF) continue;
    tagITEM* rec = AccessDescItem(desc, static_cast<SQLSMALLINT>(number + 1));
    if (rec == nullptr) return;  // HY001 is recorded on the descriptor
    ++number;
    rec->flags &= ~(kItemBitString | kItemSpatial | kItemTimeZone | kItemResultColumn);
    describe_type(entry, rec, dbc, odbc_version);
    rec->nullable = (flags & kEntryNullable) != 0 ? SQL_NULLABLE : SQL_NO_NULLS;
    rec->updatable = (flags & kEntryUpdatable) != 0 ? 1 : 0;
    rec->auto_unique = (flags & kEntryAutoUnique) != 0 ? 1 : 0;
    rec->row_version = (flags & kEntryRowVersion) != 0 ? 1 : 0;
    if (!parameter) {
      rec->flags |= kItemResultColumn;
    } else if ((flags & kEntryParamDirection) != 0) {
      rec->parameter_type = (flags & kEntryParamOut) != 0 ? SQL_PARAM_INPUT_OUTPUT : SQL_PARAM_INPUT;
    } else if ((flags & kEntryParamOut) != 0) {
      rec->parameter_type = SQL_PARAM_OUTPUT;
    } else {
      // A parameter the server could not type: input text.
      rec->parameter_type = SQL_PARAM_INPUT;
      rec->concise_type = SQL_VARCHAR;
      rec->type = SQL_VARCHAR;
      rec->length = kUntypedParameterSize;
      rec->octet_length = static_cast<SQLLEN>(kUntypedParameterSize);
      rec->precision = static_cast<SQLSMALLINT>(kUntypedParameterSize);
      rec->radix = 0;
    }
    describe_names(entry, rec, stmt);
  }
}
