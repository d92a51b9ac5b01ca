// Fetch requests of the engine interface: moving an open cursor and reading rows into
// the fetch list, and the address arithmetic of bound rows (data pointers, bind offsets,
// element sizes) that the fetch and get-data conversions share.
#include <cstring>

#include "cmdseq/fetch.h"
#include "odbc/engine.h"
#include "odbc/handles.h"
#include "odbc/parameters.h"

namespace {

constexpr std::uint8_t kCapABookmarks = 0x02;  // byte A: the server sends bookmark columns

// Fetch-option bits of the request (item 35).
constexpr std::uint16_t kWireAbsolute = 0x01;
constexpr std::uint16_t kWireBookmark = 0x05;  // a bookmark is an absolute position
constexpr std::uint16_t kWireLock = 0x08;
constexpr std::uint16_t kWireFirstCall = 0x10;

std::uint16_t wire_options(std::uint32_t flags, std::uint8_t cap_a) {
  std::uint16_t options = 0;
  if ((flags & kFetchLock) != 0) options |= kWireLock;
  if ((flags & kFetchAbsolute) != 0) options |= kWireAbsolute;
  if ((flags & kFetchByBookmark) != 0)
    options |= (cap_a & kCapABookmarks) != 0 ? kWireBookmark : kWireAbsolute;
  if ((flags & kFetchFirstCall) != 0) options |= kWireFirstCall;
  return options;
}

std::int32_t fetch_request(tagSTMT* stmt, SQLLEN offset, std::uint32_t flags,
                           std::uint16_t rows, SQLLEN* rows_fetched, std::uint16_t first_row,
                           bool read_rows) {
  if (rows_fetched != nullptr) *rows_fetched = 0;
  tagDBC* dbc = OwningDbc(stmt);
  if (dbc == nullptr) return kSqlClientFailure;
  a_cmdseq_conn* conn = dbc->conn.load();
  CmdSeqResetErrorParam(&dbc->err, conn);
  if (conn == nullptr) return DBNotConnected(dbc);
  if (stmt->cursor_state < kCursorOpen) return kSqlClientFailure;
  // The server takes a 32-bit offset; a move beyond it cannot land on a row.
  if (offset > INT32_MAX || offset < INT32_MIN) {
    if (rows_fetched != nullptr) *rows_fetched = 0;
    return kSqlNoData;
  }

  a_cmdseq_fetch_param fetch;
  fetch.cursor = &stmt->cursor;
  fetch.offset = static_cast<std::int32_t>(offset);
  fetch.options = wire_options(flags, dbc->cap_a);
  a_odbc_item_list* list = stmt->fetch_list;
  if (read_rows && rows > 0 && list != nullptr && stmt->fetch_list_mode == kFetchListForFetch) {
    fetch.bound = &list->desc;
    fetch.row_count = rows;
    fetch.first_row = first_row;
  }
  // Without a bound list (or rows) the request only positions: the values are read
  // afterwards by get-data.
  const std::int32_t sqlcode = MapCmdSeqResult(CmdSeqFetch(conn, &dbc->err, &fetch), dbc, 0);
  if (rows_fetched != nullptr) {
    const auto position = static_cast<std::int32_t>(fetch.position);
    *rows_fetched = sqlcode == kSqlNoData && position < 0 ? position : fetch.rows_fetched;
  }
  return sqlcode;
}

}  // namespace

std::int32_t DBFetch(tagSTMT* stmt, SQLLEN offset, std::uint32_t flags, std::uint16_t rows,
                     SQLLEN* rows_fetched, std::uint16_t first_row, int position_only) {
  bool read_rows = position_only == 0;
  // With SQL_RETRIEVE_DATA off a scrollable cursor is only moved.
  if (read_rows && rows > 0 && stmt->cursor_kind != 0 &&
      Option(stmt, SQL_ATTR_RETRIEVE_DATA) == SQL_RD_OFF) {
    read_rows = false;
  }
  return fetch_request(stmt, offset, flags, rows, rows_fetched, first_row, read_rows);
}

std::int32_t DBPosition(tagSTMT* stmt, SQLLEN offset, std::uint32_t flags, std::uint16_t rows) {
  SQLLEN fetched = 0;
  return fetch_request(stmt, offset, flags, rows, &fetched, 0, false);
}

void* AccessDataPtr(tagITEM* rec, SQLULEN row, tagDESC* desc, const SQLLEN* offset) {
  if (rec == nullptr || rec->data_ptr == nullptr) return nullptr;
  SQLULEN stride = desc != nullptr ? desc->bind_type : 0;
  if (stride == 0) stride = rec->element_bytes;
  char* p = static_cast<char*>(rec->data_ptr) + row * stride;
  if (offset != nullptr) p += *offset;
  return p;
}

void* FindRGBValue(tagSTMT* stmt, tagITEM* rec, SQLLEN row_size, void* base, SQLULEN row,
                   SQLULEN bind_size) {
  if (base == nullptr || row == 0) return base;
  SQLULEN element = bind_size;
  if (element == 0) {
    switch (rec->concise_type) {
      case -28: case -26: case -7: case -6: element = 1; break;
      case -17: case -15: case 5: element = 2; break;
      case -18: case -16: case 4: case 6: case 7: element = 4; break;
      case -27: case -25: case -5: case 8: element = 8; break;
      case 2: case 3: element = sizeof(SQL_NUMERIC_STRUCT); break;
      case 9: case 10: case 91: case 92: element = 6; break;
      case 11: case 93: element = sizeof(SQL_TIMESTAMP_STRUCT); break;
      case -11: element = sizeof(SQLGUID); break;
      default:
        element = (stmt->param_flags & kParamRowValues) != 0 && row_size > 0
                      ? static_cast<SQLULEN>(row_size)
                      : static_cast<SQLULEN>(rec->octet_length > 0 ? rec->octet_length : 0);
        break;
    }
  }
  return static_cast<char*>(base) + row * element;
}

void AdjustScalarItems(tagSTMT* stmt, tagDESC* ard, int contiguous) {
  const SQLLEN now = ard != nullptr && ard->bind_offset_ptr != nullptr ? *ard->bind_offset_ptr : 0;
  const SQLLEN delta = now - stmt->fetch_bind_offset;
  a_odbc_item_list* list = stmt->fetch_list;
  if (delta != 0 && list != nullptr && ard != nullptr) {
    const std::uint32_t values = list->desc.values_per_item;
    auto move_record = [&](tagITEM* rec) {
      if (rec == nullptr || (rec->flags & kItemInPlace) == 0) return;
      a_cmdseq_desc_item* first = contiguous != 0 ? rec->wire_item : rec->wire_column;
      if (first == nullptr) return;
      for (std::uint32_t r = 0; r < list->rows; ++r) {
        a_cmdseq_value& v = contiguous != 0
                                ? CmdSeqFastGetDescItem(first, r * list->columns, values)->values()[0]
                                : first->values()[r];
        if (v.data != nullptr) v.data = static_cast<char*>(v.data) + delta;
      }
    };
    for (SQLSMALLINT k = 0; k < ard->count; ++k) move_record(ard->records[k]);
    move_record(ard->bookmark);
  }
  stmt->fetch_bind_offset = now;
}

SQLSMALLINT NumBound(tagDESC* desc) {
  if (desc == nullptr) return 0;
  for (SQLSMALLINT k = desc->count; k > 0; --k) {
    const tagITEM* rec = desc->records[k - 1];
    if (rec != nullptr && (rec->flags & kItemBound) != 0) return k;
  }
  return 0;
}
