// Descriptor set-up: the wire item of each bound parameter, chosen from its effective C
// type and its SQL type, and the parameter lists the client sends (inputs x sets items
// of one value each). Fixed-size numbers point straight into the application's arrays;
// every other value gets an element of its record's internal buffer.
#include <cstring>

#include "odbc/diagnostics.h"
#include "odbc/engine.h"
#include "odbc/parameters.h"
#include "odbc/type_mapping.h"
#include "utils/base/memory.h"

namespace {

constexpr std::uint8_t kCapAVersion10 = 0x08;  // byte A: the server knows NCHAR (10000 on)
constexpr std::uint8_t kCapBNCharColumns = 0x08;  // byte B: NCHAR columns are described as such
constexpr std::uint32_t kMsApplicationsBit = 0x01;  // connection attribute word: MS defaults

bool is_wide_sql(SQLSMALLINT t) {
  return t == SQL_WCHAR || t == SQL_WVARCHAR || t == SQL_WLONGVARCHAR;
}
bool is_binary_sql(SQLSMALLINT t) {
  return t == SQL_BINARY || t == SQL_VARBINARY || t == SQL_LONGVARBINARY;
}

// The long form of a variable-length wire type.
std::int16_t long_form(std::int16_t wire) {
  switch (wire) {
    case 12: return -1;
    case -2:
    case -3: return -4;
    case -30: return -31;
    default: return wire;
  }
}

std::uint32_t clamp_length(SQLLEN n) {
  if (n < 0) return 0;
  if (static_cast<unsigned long long>(n) > 0xFFFFFFFFull) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(n);
}

tagDBC* dbc_of(const tagSTMT* stmt) {
  return static_cast<tagDBC*>(const_cast<tagOBJECT*>(stmt->parent));
}

// The effective C type of a parameter record: SQL_C_DEFAULT resolves through the SQL
// type (the MS variant when the connection asks for it).
SQLSMALLINT effective_c_type(const tagSTMT* stmt, const tagITEM* rec, SQLSMALLINT sql_type) {
  SQLSMALLINT c = rec->concise_type;
  if (c == SQL_C_DEFAULT) {
    const tagDBC* dbc = dbc_of(stmt);
    const bool ms = dbc != nullptr && (dbc->behaviour & kMsApplicationsBit) != 0;
    c = ms ? SQLTypeToSQLCType_ms(sql_type) : SQLTypeToSQLCType(sql_type);
  }
  return SQLCTypeToSQLType(c);
}

SQLLEN* offset_ptr(SQLLEN* p, SQLLEN offset) {
  return p == nullptr ? nullptr
                      : reinterpret_cast<SQLLEN*>(reinterpret_cast<char*>(p) + offset);
}

// The application's address of set `k` for a record: row-wise with the descriptor's bind
// type, else column-wise with the element size.
char* set_address(const tagDESC* apd, void* base, SQLULEN element, SQLULEN k) {
  if (base == nullptr) return nullptr;
  const SQLULEN stride = apd->bind_type != 0 ? apd->bind_type : element;
  return static_cast<char*>(base) + k * stride;
}

// Bytes of one in-place value of the wire type.
SQLULEN in_place_element(std::int16_t wire, std::uint32_t length) {
  return wire == -22 ? 16 : length;
}

}  // namespace

void FreeItemList(a_odbc_item_list* list) {
  if (list == nullptr) return;
  CmdSeqFreeDescItems(&list->desc);
  ut_free(list->indicators);
  ut_free(list->lengths);
  ut_free(list);
}

a_odbc_item_list* NewItemList(std::uint32_t columns, std::uint32_t rows, std::uint32_t values) {
  auto* list = static_cast<a_odbc_item_list*>(ut_calloc(sizeof(a_odbc_item_list)));
  if (list == nullptr) return nullptr;
  CmdSeqInitDesc(&list->desc);
  const std::uint32_t items = values == 1 ? columns * rows : columns;
  const std::size_t count = static_cast<std::size_t>(items) * values;
  list->columns = columns;
  list->rows = rows;
  list->indicators = static_cast<std::int32_t*>(ut_calloc(sizeof(std::int32_t) * count));
  list->lengths = static_cast<std::uint32_t*>(ut_calloc(sizeof(std::uint32_t) * count));
  if (list->indicators == nullptr || list->lengths == nullptr ||
      CmdSeqAllocDescItems(&list->desc, items, values) != CMDSEQ_OK) {
    FreeItemList(list);
    return nullptr;
  }
  for (std::uint32_t k = 0; k < items; ++k) {
    a_cmdseq_desc_item* item = CmdSeqFastGetDescItem(list->desc.items, k, values);
    for (std::uint32_t r = 0; r < values; ++r) {
      a_cmdseq_value& v = item->values()[r];
      v.indicator = &list->indicators[static_cast<std::size_t>(k) * values + r];
      v.length = &list->lengths[static_cast<std::size_t>(k) * values + r];
    }
  }
  return list;
}

void FreeParamLists(tagSTMT* stmt) {
  FreeItemList(stmt->param_list);
  FreeItemList(stmt->output_list);
  stmt->param_list = nullptr;
  stmt->output_list = nullptr;
  tagDESC* apd = stmt->apd;
  if (apd == nullptr) return;
  for (SQLSMALLINT k = 0; k < apd->count; ++k) {
    tagITEM* rec = apd->records[k];
    if (rec == nullptr) continue;
    ut_free(rec->buffer);
    rec->buffer = nullptr;
    rec->element_bytes = 0;
    rec->wire_item = nullptr;
  }
}

int AllocItemBuffer(tagSTMT* stmt, tagITEM* rec, std::size_t size, std::uint32_t rows,
                    a_odbc_item_list* list, std::uint32_t first_item,
                    std::uint32_t stride_items) {
  if (rows == 0) rows = 1;
  std::size_t element = (size + 7) & ~static_cast<std::size_t>(7);
  if (element == 0) element = 8;
  const SQLULEN cap = stmt->max_length;
  if (cap != 0 && element > cap) element = static_cast<std::size_t>(cap);
  if (rec->buffer != nullptr && rec->element_bytes >= element) return 1;
  if (element != 0 && rows > SIZE_MAX / element) return 0;
  if (rec->buffer == nullptr) {
    rec->buffer = static_cast<char*>(ut_calloc(element * rows));
    if (rec->buffer == nullptr) return 0;
    rec->element_bytes = element;
    return 1;
  }
  const std::size_t old = rec->element_bytes;
  const auto old_base = reinterpret_cast<std::uintptr_t>(rec->buffer);
  char* grown = static_cast<char*>(ut_realloc(rec->buffer, element * rows));
  if (grown == nullptr) return 0;
  // Rows move from the last to the second so that no row is overwritten before it moved;
  // row 0 stays where it is.
  for (std::uint32_t r = rows; r-- > 1;) {
    std::memmove(grown + r * element, grown + r * old, old);
    std::memset(grown + r * element + old, 0, element - old);
  }
  std::memset(grown + old, 0, element - old);
  rec->buffer = grown;
  rec->element_bytes = element;
  if (list != nullptr) {
    for (std::uint32_t r = 0; r < rows; ++r) {
      const std::uint32_t k = first_item + r * stride_items;
      if (k >= list->desc.count) break;
      a_cmdseq_desc_item* item =
          CmdSeqFastGetDescItem(list->desc.items, k, list->desc.values_per_item);
      // Only values that lived in the old buffer follow it: a value sent without data
      // (NULL or the default) keeps its null pointer.
      a_cmdseq_value& v = item->values()[0];
      if (reinterpret_cast<std::uintptr_t>(v.data) == old_base + r * old)
        v.data = grown + r * element;
    }
  }
  return 1;
}

void SetupFetchItem(const tagSTMT* stmt, tagITEM* rec, const tagITEM* impl,
                    SQLSMALLINT sql_type, bool contiguous, a_cmdseq_desc_item* item) {
  rec->flags &= ~(kItemNulIncluded | kItemInPlace);
  const tagITEM* shape = impl != nullptr ? impl : rec;
  item->precision = static_cast<std::uint8_t>(shape->precision);
  item->scale = static_cast<std::uint16_t>(shape->scale);
  item->subtype = 0;
  const tagDBC* dbc = dbc_of(stmt);
  const std::uint8_t cap_a = dbc != nullptr ? dbc->cap_a : 0;
  const std::uint8_t cap_b = dbc != nullptr ? dbc->cap_b : 0;
  const std::uint32_t width = dbc != nullptr && dbc->conn_wide_factor != 0
                                  ? dbc->conn_wide_factor
                                  : 1;
  SQLSMALLINT eff = rec->effective_type;
  std::int16_t wire = eff;
  SQLLEN length = rec->octet_length;
  bool in_place = false;
  bool nul = false;
  switch (eff) {
    case -28: case -26: case -7: case -6: wire = -6; length = 1; in_place = true; break;
    case -27: wire = -25; length = 8; in_place = true; break;
    case -25: case -5: wire = -5; length = 8; in_place = true; break;
    case -18: wire = -24; length = 4; in_place = true; break;
    case -17: wire = -23; length = 2; in_place = true; break;
    case -16: case 4: wire = 4; length = 4; in_place = true; break;
    case -15: case 5: wire = 5; length = 2; in_place = true; break;
    case 6: case 7: wire = 6; length = 4; in_place = true; break;
    case 8: wire = 8; length = 8; in_place = true; break;
    case 9: case 10: case 11: case 91: case 92: case 93: wire = -22; length = 16; break;
    case -1: case 1: case 12: case -10: case -9: case -8: {
      const bool wide = eff == -10 || eff == -9 || eff == -8;
      if (contiguous && sql_type == SQL_GUID) {
        eff = -11;
        wire = -2;
        length = length >= 4 ? (length - 4) / 2 : 0;
        break;
      }
      if (contiguous && is_binary_sql(sql_type)) {
        eff = -2;
        wire = -2;
        length /= 2;
        break;
      }
      if (contiguous && (sql_type == 9 || sql_type == 10 || sql_type == 11)) {
        // Date-time text that the server converts. There is no wire type of its own for
        // a time value, so all three go out as the date-time text type with the kind as
        // its subtype (1 date, 2 time, 3 timestamp).
        eff = 1;
        wire = 9;
        item->subtype = static_cast<std::int16_t>(sql_type - 8);
        nul = true;
        break;
      }
      nul = true;
      if (wide) {
        const SQLLEN chars = length / 2;
        if ((cap_a & kCapAVersion10) != 0 &&
            (contiguous || (cap_b & kCapBNCharColumns) == 0 || is_wide_sql(sql_type))) {
          eff = -30;
          wire = -30;
          length = chars > 0 ? 4 * chars - 4 : 0;
          break;
        }
        length = chars;
      }
      eff = 12;
      wire = 12;
      if (width == 1 && !wide) {
        length = length > 0 ? length - 1 : 0;
      } else {
        length = length > 0 ? (length - 1) * static_cast<SQLLEN>(width) : 0;
      }
      break;
    }
    case -11: case -4: case -3: case -2:
      if (sql_type == SQL_GUID) {
        wire = -2;
        length = 16;
      } else if (sql_type == SQL_NUMERIC || sql_type == SQL_DECIMAL) {
        eff = 2;
        wire = 3;
        length = shape->precision / 2 + 1;
      } else if (sql_type == 9 || sql_type == 10 || sql_type == 11 || sql_type == 91 ||
                 sql_type == 92 || sql_type == 93) {
        wire = -22;
        length = 16;
        eff = rec->concise_type;
      } else {
        eff = -2;
        wire = -2;
      }
      break;
    default: {
      const SQLSMALLINT precision = shape->precision > 0 ? shape->precision : 30;
      length = precision / 2 + 1;
      break;
    }
  }
  std::uint32_t n = clamp_length(length);
  const SQLULEN cap = stmt->max_length;
  if (!in_place && cap != 0 && n > cap) n = static_cast<std::uint32_t>(cap);
  if (n > kShortItemMax) wire = long_form(wire);
  if (n == 0) n = 1;
  item->type = wire;
  item->length = n;
  rec->effective_type = eff;
  if (nul) rec->flags |= kItemNulIncluded;
  if (in_place) rec->flags |= kItemInPlace;
}

int SetupParamDesc(tagSTMT* stmt, unsigned short sets) {
  tagDESC* apd = stmt->apd;
  tagDESC* ipd = stmt->ipd;
  if (ipd == nullptr || apd == nullptr || ipd->count <= 0) return 1;
  if (sets < 2) sets = 1;
  if (stmt->param_list != nullptr && stmt->param_list->rows == sets) return 1;
  FreeParamLists(stmt);

  // Every described parameter is an input item; those not of kind 1 are outputs too.
  std::uint32_t described = static_cast<std::uint32_t>(ipd->count);
  std::uint32_t outputs = 0;
  for (std::uint32_t k = 0; k < described; ++k) {
    const tagITEM* p = ipd->records[k];
    if (p != nullptr && p->parameter_type != 0 && p->parameter_type != SQL_PARAM_INPUT)
      ++outputs;
  }
  const std::uint32_t inputs =
      described < static_cast<std::uint32_t>(apd->count < 0 ? 0 : apd->count)
          ? described
          : static_cast<std::uint32_t>(apd->count);
  if (inputs < described) {
    // A described parameter the application has not bound.
    PostSQLState(stmt, kState07002, kState07001);
    return 0;
  }

  auto fail_memory = [&]() {
    FreeParamLists(stmt);
    PostSQLState(stmt, kStateHY001, kStateS1001);
    return 0;
  };
  stmt->param_list = NewItemList(inputs, sets, 1);
  if (stmt->param_list == nullptr) return fail_memory();
  if (outputs != 0) {
    stmt->output_list = NewItemList(outputs, sets, 1);
    if (stmt->output_list == nullptr) return fail_memory();
  }

  const SQLLEN offset = apd->bind_offset_ptr != nullptr ? *apd->bind_offset_ptr : 0;
  std::uint32_t next_output = 0;
  for (std::uint32_t p = 0; p < inputs; ++p) {
    tagITEM* app = apd->records[p];
    tagITEM* impl = ipd->records[p];
    if (app == nullptr || (app->flags & kItemBound) == 0 || impl == nullptr) {
      FreeParamLists(stmt);
      PostSQLState(stmt, kState07002, kState07001);
      return 0;
    }
    char* data = app->data_ptr == nullptr ? nullptr : static_cast<char*>(app->data_ptr) + offset;
    SQLLEN* octet = offset_ptr(app->octet_length_ptr, offset);
    SQLLEN* ind = offset_ptr(app->indicator_ptr, offset);
    SQLLEN marker = 0;
    if (octet != nullptr) std::memcpy(&marker, octet, sizeof marker);
    const bool no_value = marker == SQL_NULL_DATA || marker == SQL_DEFAULT_PARAM ||
                          marker == SQL_DATA_AT_EXEC || marker <= SQL_LEN_DATA_AT_EXEC_OFFSET;
    if (!no_value && (data != nullptr || ind != nullptr) &&
        !PointerAligned(data, app->concise_type, app->octet_length)) {
      FreeParamLists(stmt);
      PostSQLState(stmt, kStateHY090, kStateS1090);
      return 0;
    }
    const SQLSMALLINT kind = impl->parameter_type == 0 ? SQL_PARAM_INPUT : impl->parameter_type;
    app->effective_type = effective_c_type(stmt, app, impl->concise_type);
    a_odbc_item_list* list = stmt->param_list;
    a_cmdseq_desc_item* first = CmdSeqFastGetDescItem(list->desc.items, p, 1);
    SetupFetchItem(stmt, app, impl, impl->concise_type, true, first);
    const bool in_place = (app->flags & kItemInPlace) != 0;
    if (!in_place && AllocItemBuffer(stmt, app, first->length + 1, sets, nullptr, 0, 0) == 0)
      return fail_memory();
    app->wire_item = first;
    const SQLULEN element = in_place_element(first->type, first->length);
    for (std::uint32_t k = 0; k < sets; ++k) {
      a_cmdseq_desc_item* item = CmdSeqFastGetDescItem(list->desc.items, k * inputs + p, 1);
      item->type = first->type;
      item->subtype = first->subtype;
      item->precision = first->precision;
      item->scale = first->scale;
      item->length = first->length;
      item->values()[0].data = in_place ? set_address(apd, data, element, k)
                                        : app->buffer + k * app->element_bytes;
      CmdSeqMarkDescItemUpdated(&list->desc, item);
    }
    if (kind != SQL_PARAM_INPUT && stmt->output_list != nullptr &&
        next_output < stmt->output_list->columns) {
      a_cmdseq_desc_item* out =
          CmdSeqFastGetDescItem(stmt->output_list->desc.items, next_output++, 1);
      const bool app_input_only = app->parameter_type == SQL_PARAM_INPUT;
      if (kind == SQL_PARAM_INPUT_OUTPUT && app_input_only) {
        out->type = 0;
      } else {
        out->type = first->type;
        out->subtype = first->subtype;
        out->length = first->length;
        out->precision = first->precision;
        out->scale = first->scale;
        out->values()[0].data = first->values()[0].data;
      }
      if (kind == SQL_PARAM_OUTPUT) {
        // An output parameter sends no input value.
        for (std::uint32_t k = 0; k < sets; ++k) {
          a_cmdseq_desc_item* item =
              CmdSeqFastGetDescItem(list->desc.items, k * inputs + p, 1);
          item->length = 0;
          item->values()[0].data = nullptr;
        }
      }
    }
  }
  return 1;
}

// ---- Fetch list ------------------------------------------------------------------------

namespace {

constexpr std::uint8_t kCapABookmarks = 0x02;  // byte A: the server sends bookmark columns
constexpr std::int16_t kWireBookmark = -27;     // the bookmark's wire type: 4 bytes
constexpr std::uint32_t kWireBookmarkBytes = 4;

bool is_char_c_type(SQLSMALLINT t) {
  return t == -10 || t == -9 || t == -8 || t == -1 || t == 1 || t == 12;
}

}  // namespace

SQLSMALLINT FetchCType(const tagSTMT* stmt, const tagITEM* rec, SQLSMALLINT sql_type) {
  SQLSMALLINT eff = effective_c_type(stmt, rec, sql_type);
  if (is_char_c_type(eff)) {
    if (sql_type == SQL_GUID) eff = -11;
    else if (is_binary_sql(sql_type)) eff = -2;
  }
  return eff;
}

void FreeFetchList(tagSTMT* stmt) {
  FreeItemList(stmt->fetch_list);
  stmt->fetch_list = nullptr;
  stmt->fetch_list_mode = kFetchListNone;
  stmt->fetch_ard_counter = 0;
  tagDESC* ard = stmt->ard;
  if (ard == nullptr) return;
  auto release = [](tagITEM* rec) {
    if (rec == nullptr) return;
    ut_free(rec->buffer);
    rec->buffer = nullptr;
    rec->element_bytes = 0;
    rec->wire_item = nullptr;
    rec->wire_column = nullptr;
  };
  for (SQLSMALLINT k = 0; k < ard->count; ++k) release(ard->records[k]);
  release(ard->bookmark);
}

void FreeFetchState(tagSTMT* stmt) {
  FreeFetchList(stmt);
  FreeItemList(stmt->getdata_list);
  stmt->getdata_list = nullptr;
  ResetGetData(stmt);
}

int DBSetupFetchDesc(tagSTMT* stmt, unsigned columns, unsigned short rows, int contiguous,
                     tagITEM* bookmark) {
  tagDESC* ard = stmt->ard;
  tagDESC* ird = stmt->ird;
  const tagDBC* dbc = dbc_of(stmt);
  if (ard == nullptr || ird == nullptr) return 1;
  const bool per_column = contiguous == 0;
  const bool with_bookmark = bookmark != nullptr && per_column && dbc != nullptr &&
                             (dbc->cap_a & kCapABookmarks) != 0 &&
                             (stmt->cursor_kind == 2 || stmt->cursor_kind == 3) &&
                             (bookmark->flags & kItemBound) != 0 &&
                             ULenOption(stmt, SQL_ATTR_USE_BOOKMARKS) != SQL_UB_OFF;
  const std::uint32_t items = columns + (with_bookmark ? 1 : 0);
  if (rows < 2) rows = 1;
  const std::uint8_t mode = per_column ? kFetchListForFetch : kFetchListForUpdate;
  a_odbc_item_list* list = stmt->fetch_list;
  if (list != nullptr && list->rows == rows && list->columns == items &&
      stmt->fetch_list_mode == mode) {
    return 1;
  }
  FreeFetchList(stmt);
  list = NewItemList(items, rows, per_column ? rows : 1);
  if (list == nullptr) {
    PostSQLState(stmt, kStateHY001, kStateS1001);
    return 0;
  }
  stmt->fetch_list = list;
  stmt->fetch_list_mode = mode;
  stmt->fetch_ard_counter = ard->change_counter + 1;
  CmdSeqMarkCursorOld(&stmt->cursor);
  const SQLLEN offset = ard->bind_offset_ptr != nullptr ? *ard->bind_offset_ptr : 0;
  stmt->fetch_bind_offset = offset;
  const std::uint32_t values = list->desc.values_per_item;
  // Value r of column c: per-column lists hold it in item c, contiguous ones in item
  // r x items + c.
  auto value_of = [&](std::uint32_t c, std::uint32_t r) -> a_cmdseq_value& {
    return per_column ? CmdSeqFastGetDescItem(list->desc.items, c, values)->values()[r]
                      : CmdSeqFastGetDescItem(list->desc.items, r * items + c, 1)->values()[0];
  };
  auto item_of = [&](std::uint32_t c, std::uint32_t r) {
    return CmdSeqFastGetDescItem(list->desc.items, per_column ? c : r * items + c, values);
  };
  auto fail_memory = [&]() {
    FreeFetchList(stmt);
    PostSQLState(stmt, kStateHY001, kStateS1001);
    return 0;
  };

  for (std::uint32_t c = 0; c < columns; ++c) {
    tagITEM* rec = c < static_cast<std::uint32_t>(ard->count) ? ard->records[c] : nullptr;
    tagITEM* impl = c < static_cast<std::uint32_t>(ird->count) ? ird->records[c] : nullptr;
    a_cmdseq_desc_item* first = item_of(c, 0);
    if (rec == nullptr || (rec->flags & kItemBound) == 0 || impl == nullptr) {
      // Not bound: the server sends nothing for the column.
      for (std::uint32_t r = 0; r < rows; ++r) {
        a_cmdseq_desc_item* item = item_of(c, r);
        item->type = 0;
        item->length = 0;
        CmdSeqMarkDescItemUpdated(&list->desc, item);
      }
      continue;
    }
    const SQLSMALLINT sql_type = impl->concise_type;
    rec->effective_type = FetchCType(stmt, rec, sql_type);
    SetupFetchItem(stmt, rec, impl, sql_type, !per_column, first);
    if (per_column) rec->wire_column = first;
    else rec->wire_item = first;
    const bool in_place = (rec->flags & kItemInPlace) != 0;
    if (in_place) {
      ut_free(rec->buffer);
      rec->buffer = nullptr;
      rec->element_bytes = in_place_element(first->type, first->length);
    } else if (AllocItemBuffer(stmt, rec, static_cast<std::size_t>(first->length) + 1, rows,
                               nullptr, 0, 0) == 0) {
      return fail_memory();
    }
    for (std::uint32_t r = 0; r < rows; ++r) {
      a_cmdseq_desc_item* item = item_of(c, r);
      if (item != first) {
        item->type = first->type;
        item->subtype = first->subtype;
        item->precision = first->precision;
        item->scale = first->scale;
        item->length = first->length;
      }
      value_of(c, r).data = in_place ? AccessDataPtr(rec, r, ard, &offset)
                                     : rec->buffer + r * rec->element_bytes;
      if (item != first || r == 0) CmdSeqMarkDescItemUpdated(&list->desc, item);
    }
  }

  if (with_bookmark) {
    // The server's bookmark is 4 bytes; the application's is an SQLULEN, written by the
    // fetch from the internal buffer (FetchedBookmark).
    a_cmdseq_desc_item* item = item_of(columns, 0);
    bookmark->effective_type = kWireBookmark;
    bookmark->flags &= ~(kItemNulIncluded | kItemInPlace);
    item->type = kWireBookmark;
    item->length = kWireBookmarkBytes;
    if (AllocItemBuffer(stmt, bookmark, kWireBookmarkBytes, rows, nullptr, 0, 0) == 0)
      return fail_memory();
    bookmark->wire_column = item;
    for (std::uint32_t r = 0; r < rows; ++r)
      value_of(columns, r).data = bookmark->buffer + r * bookmark->element_bytes;
    CmdSeqMarkDescItemUpdated(&list->desc, item);
  }
  return 1;
}

int SetupFetchDesc(tagSTMT* stmt, unsigned short rows, int contiguous) {
  tagDESC* ard = stmt->ard;
  tagDESC* ird = stmt->ird;
  if (ird == nullptr || ird->count <= 0 || ard == nullptr) return 1;
  if (ard->count <= 0 && ard->bookmark == nullptr) {
    FreeFetchList(stmt);
    return 1;
  }
  // Row values left from an earlier insert or update start afresh.
  if (contiguous != 0) Reset_parameters(stmt, true);
  return DBSetupFetchDesc(stmt, static_cast<unsigned>(ird->count), rows, contiguous,
                          ard->bookmark);
}

SQLULEN FetchedBookmark(tagSTMT* stmt, unsigned item_row) {
  const tagDESC* ard = stmt->ard;
  const tagITEM* bookmark = ard != nullptr ? ard->bookmark : nullptr;
  a_odbc_item_list* list = stmt->fetch_list;
  if (bookmark == nullptr || bookmark->wire_column == nullptr || list == nullptr ||
      item_row >= list->desc.values_per_item) {
    return 0;
  }
  const a_cmdseq_value& v = bookmark->wire_column->values()[item_row];
  if (v.data == nullptr || v.indicator == nullptr || *v.indicator < 0) return 0;
  std::uint32_t value = 0;
  std::memcpy(&value, v.data, sizeof value);
  return value;
}
