// Wire values (see wire_values.h).
#include "cmdseq/wire_values.h"

#include <array>
#include <cstring>

#include "cmdseq/wire_bytes.h"
#include "utils/base/memory.h"

using namespace vq::cmdseq;

namespace {

enum class Form : std::uint8_t { kShort, kNumeric, kLong };
enum class Send : std::uint8_t {
  kBytes,      // the item's length in bytes
  kLessWidth,  // the item's length less the character width
  kLessOne,    // the item's length less 1 (the terminator)
  kFixed,      // `fixed` bytes
  kDateTime,   // 14 bytes from the date-time record
  kNumeric,    // precision byte, scale byte, then the item's length of digits
  kNone,       // not sendable
};

struct TypeRow {
  std::int16_t type;
  std::int16_t subtype;  // 0: any (type 9 needs 1, 2 or 3)
  std::uint8_t value_code;
  std::uint8_t defn_code;  // 0: none (item 73)
  Form form;
  Send send;
  std::uint8_t fixed;  // bytes of a fixed-size value, 0 for the others
};

constexpr TypeRow kTypes[] = {
    {-31, 0, 131, 99, Form::kLong, Send::kBytes, 0},
    {-30, 0, 130, 98, Form::kLong, Send::kBytes, 0},
    {-29, 0, 128, 97, Form::kLong, Send::kBytes, 0},
    {-28, 0, 128, 97, Form::kLong, Send::kLessWidth, 0},
    {-27, 0, 127, 96, Form::kShort, Send::kNone, 4},
    {-26, 0, 126, 0, Form::kShort, Send::kBytes, 0},
    {-25, 0, 123, 93, Form::kShort, Send::kFixed, 8},
    {-24, 0, 122, 92, Form::kShort, Send::kFixed, 4},
    {-23, 0, 124, 94, Form::kShort, Send::kFixed, 2},
    {-22, 0, 120, 90, Form::kShort, Send::kDateTime, kWireDateTimeBytes},
    {-21, 0, 107, 78, Form::kLong, Send::kLessOne, 0},
    {-7, 0, 106, 77, Form::kShort, Send::kFixed, 1},
    {-6, 0, 121, 91, Form::kShort, Send::kFixed, 1},
    {-5, 0, 104, 75, Form::kShort, Send::kFixed, 8},
    {-4, 0, 113, 83, Form::kLong, Send::kBytes, 0},
    {-2, 0, 105, 76, Form::kLong, Send::kBytes, 0},
    {-1, 0, 114, 84, Form::kLong, Send::kBytes, 0},
    {1, 0, 107, 78, Form::kLong, Send::kBytes, 0},
    {2, 0, 115, 85, Form::kNumeric, Send::kNumeric, 0},
    {3, 0, 110, 80, Form::kNumeric, Send::kNumeric, 0},
    {4, 0, 112, 82, Form::kShort, Send::kFixed, 4},
    {5, 0, 117, 87, Form::kShort, Send::kFixed, 2},
    {6, 0, 116, 86, Form::kShort, Send::kFixed, 4},
    {7, 0, 116, 86, Form::kShort, Send::kFixed, 4},
    {8, 0, 111, 81, Form::kShort, Send::kFixed, 8},
    {9, 1, 109, 79, Form::kLong, Send::kLessOne, 0},
    {9, 2, 118, 88, Form::kLong, Send::kLessOne, 0},
    {9, 3, 119, 89, Form::kLong, Send::kLessOne, 0},
    {12, 0, 125, 95, Form::kLong, Send::kBytes, 0},
};

// The row of each type code from -32 to 100, found by index: every value received or
// sent looks its type up. Type 9 has a row per subtype, the first of them indexed.
constexpr int kTypeIndexLow = -32;
constexpr std::size_t kTypeIndexSize = 133;

constexpr std::array<std::int8_t, kTypeIndexSize> make_type_index() {
  std::array<std::int8_t, kTypeIndexSize> index{};
  for (auto& i : index) i = -1;
  for (std::size_t r = 0; r < sizeof kTypes / sizeof kTypes[0]; ++r) {
    const std::size_t at = static_cast<std::size_t>(kTypes[r].type - kTypeIndexLow);
    if (index[at] < 0) index[at] = static_cast<std::int8_t>(r);
  }
  return index;
}
constexpr std::array<std::int8_t, kTypeIndexSize> kTypeIndex = make_type_index();

const TypeRow* find_type(std::int16_t type, std::int16_t subtype) {
  if (type < kTypeIndexLow || type >= kTypeIndexLow + static_cast<int>(kTypeIndexSize))
    return nullptr;
  const int first = kTypeIndex[static_cast<std::size_t>(type - kTypeIndexLow)];
  if (first < 0) return nullptr;
  // Rows of one type sit together; only type 9 has several, told apart by subtype.
  for (std::size_t r = static_cast<std::size_t>(first);
       r < sizeof kTypes / sizeof kTypes[0] && kTypes[r].type == type; ++r) {
    if (kTypes[r].subtype == 0 || kTypes[r].subtype == subtype) return &kTypes[r];
  }
  return nullptr;
}

// The type a definition item describes.
struct DefnRow {
  std::uint8_t code;
  std::int16_t type;
  std::int16_t subtype;
};
constexpr DefnRow kDefinitions[] = {
    {73, 0, 0},   {75, -5, 0},  {76, -2, 0},  {77, -7, 0},  {78, 1, 0},
    {79, 9, 1},   {80, 3, 0},   {81, 8, 0},   {82, 4, 0},   {83, -4, 0},
    {84, -1, 0},  {85, 2, 0},   {86, 7, 0},   {87, 5, 0},   {88, 9, 2},
    {89, 9, 3},   {90, -22, 0}, {91, -6, 0},  {92, -24, 0}, {93, -25, 0},
    {94, -23, 0}, {95, 12, 0},  {97, -29, 0}, {98, -30, 0}, {99, -31, 0},
};

constexpr std::array<std::uint8_t, 133> make_var_length() {
  std::array<std::uint8_t, 133> table{};
  for (int type : {-31, -30, -29, -28, -21, -4, -2, -1, 1, 9, 12}) table[type + 32] = 1;
  return table;
}

constexpr std::array<std::uint8_t, 256> make_quick() {
  std::array<std::uint8_t, 256> table{};
  for (int code : {104, 106, 111, 112, 117, 120, 121, 122, 123, 124}) table[code] = 1;
  for (int code : {105, 113, 114, 125, 130, 131}) table[code] = 2;
  for (int code : {107, 109, 118, 119, 128}) table[code] = 3;
  return table;
}

// Bytes of the definition payload of each form.
constexpr std::uint32_t form_bytes(Form form) {
  return form == Form::kShort ? 2 : form == Form::kNumeric ? 4 : 6;
}

Form form_of(std::int16_t type) {
  if (i_cs_IsVarLengthType(type)) return Form::kLong;
  if (type == 2 || type == 3) return Form::kNumeric;
  return Form::kShort;
}

a_cmdseq_value& value_of(a_cmdseq_desc_item* item, std::uint32_t slot) {
  return item->values()[slot];
}

char* copy_payload_text(const a_cs_item& item) {
  const std::uint32_t n = item.payload_bytes();
  auto* text = static_cast<char*>(ut_malloc(n + 1));
  if (text == nullptr) return nullptr;
  if (n != 0) std::memcpy(text, item.payload, n);
  text[n] = '\0';
  return text;
}

// Stores a received little-endian integer of `bytes` bytes in native order.
void store_native(void* data, const std::uint8_t* p, unsigned bytes) {
  if (data == nullptr) return;
  switch (bytes) {
    case 1:
      std::memcpy(data, p, 1);
      break;
    case 2: {
      const std::uint16_t v = load_le16(p);
      std::memcpy(data, &v, 2);
      break;
    }
    case 4: {
      const std::uint32_t v = load_le32(p);
      std::memcpy(data, &v, 4);
      break;
    }
    case 8: {
      const std::uint64_t v = load_le64(p);
      std::memcpy(data, &v, 8);
      break;
    }
  }
}

void store_datetime(void* data, const std::uint8_t* p) {
  if (data == nullptr) return;
  a_cmdseq_datetime dt;
  dt.w0 = load_le16(p);
  dt.b2 = p[2];
  dt.b3 = p[3];
  dt.w4 = load_le16(p + 4);
  dt.b6 = p[6];
  dt.b7 = p[7];
  dt.b8 = p[8];
  dt.b9 = p[9];
  dt.d10 = load_le32(p + 10);
  std::memcpy(data, &dt, sizeof dt);
}

void load_datetime(std::uint8_t* p, const void* data) {
  a_cmdseq_datetime dt;
  std::memcpy(&dt, data, sizeof dt);
  store_le16(p, dt.w0);
  p[2] = dt.b2;
  p[3] = dt.b3;
  store_le16(p + 4, dt.w4);
  p[6] = dt.b6;
  p[7] = dt.b7;
  p[8] = dt.b8;
  p[9] = dt.b9;
  store_le32(p + 10, dt.d10);
}

a_cmdseq_return pres(a_cmdseq_conn* conn, a_cmdseq_error_info* err, a_sqlpres_code code) {
  return code == SQLPRES_OK ? CMDSEQ_OK : i_cs_HandleSQLPresError(conn, code, err);
}

// Reserves an item of `n` payload bytes; *p is where they go.
a_cmdseq_return reserve(a_cmdseq_conn* conn, a_cmdseq_error_info* err, std::uint8_t code,
                        std::uint8_t n, std::uint8_t** p) {
  *p = nullptr;
  return pres(conn, err, SQLPresSend(conn->strm_conn, code, p, n, 0));
}

// Sends one value of `row`'s type from value record `v` of `item`.
a_cmdseq_return send_value(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                           const a_cmdseq_desc_item* item, const a_cmdseq_value& v,
                           const TypeRow* row) {
  if (row == nullptr || row->send == Send::kNone) return i_cs_ProtocolError(conn);
  const auto code = row->value_code;
  const auto* data = static_cast<const std::uint8_t*>(v.data);
  std::uint8_t* p = nullptr;
  a_cmdseq_return result;
  switch (row->send) {
    case Send::kBytes:
    case Send::kLessWidth:
    case Send::kLessOne: {
      std::uint32_t n = item->length;
      const std::uint32_t less = row->send == Send::kBytes     ? 0
                                 : row->send == Send::kLessOne ? 1
                                                               : conn->char_width;
      n = n > less ? n - less : 0;
      return pres(conn, err, SQLPresSendBytes(conn->strm_conn, code, data, n, 0));
    }
    case Send::kFixed: {
      result = reserve(conn, err, code, row->fixed, &p);
      if (result != CMDSEQ_OK) return result;
      switch (row->fixed) {
        case 1:
          p[0] = data[0];
          break;
        case 2: {
          std::uint16_t x;
          std::memcpy(&x, data, 2);
          store_le16(p, x);
          break;
        }
        case 4: {
          std::uint32_t x;
          std::memcpy(&x, data, 4);
          store_le32(p, x);
          break;
        }
        default: {
          std::uint64_t x;
          std::memcpy(&x, data, 8);
          store_le64(p, x);
          break;
        }
      }
      return CMDSEQ_OK;
    }
    case Send::kDateTime:
      result = reserve(conn, err, code, kWireDateTimeBytes, &p);
      if (result != CMDSEQ_OK) return result;
      load_datetime(p, data);
      return CMDSEQ_OK;
    case Send::kNumeric: {
      const std::uint8_t header[2] = {item->precision, static_cast<std::uint8_t>(item->scale)};
      const std::uint32_t digits = item->length;
      if (digits + 2 <= SQLPRES_MAX_SHORT_PAYLOAD) {
        result = reserve(conn, err, code, static_cast<std::uint8_t>(digits + 2), &p);
        if (result != CMDSEQ_OK) return result;
        std::memcpy(p, header, 2);
        if (digits != 0) std::memcpy(p + 2, data, digits);
        return CMDSEQ_OK;
      }
      a_sqlpres_code pc = SQLPresSendBegin(conn->strm_conn, code, digits + 2, 0);
      const std::uint8_t* from = header;
      if (pc == SQLPRES_OK) pc = SQLPresSendPieceSafe(conn->strm_conn, &from, 2, 0);
      from = data;
      if (pc == SQLPRES_OK) pc = SQLPresSendPieceSafe(conn->strm_conn, &from, digits, 0);
      if (pc == SQLPRES_OK) pc = SQLPresSendEnd(conn->strm_conn, 0);
      return pres(conn, err, pc);
    }
    case Send::kNone:
      break;
  }
  return i_cs_ProtocolError(conn);
}

// Reads a long item's pieces into at most `capacity` bytes of `dest` (null: none kept),
// then skips the rest of the value. *got gets the bytes kept.
a_cmdseq_return read_long(a_cmdseq_conn* conn, a_cmdseq_error_info* err, void* dest,
                          std::uint32_t total, std::uint32_t capacity, std::uint32_t* got) {
  *got = 0;
  const std::uint32_t keep = dest == nullptr ? 0 : (total < capacity ? total : capacity);
  auto* p = static_cast<std::uint8_t*>(dest);
  while (*got < keep) {
    const std::uint32_t n = SQLPresReceivePieceSafe(conn->strm_conn, &p, keep - *got);
    if (n == 0 || n > keep - *got) break;
    *got += n;
  }
  return pres(conn, err, SQLPresReceiveEnd(conn->strm_conn));
}

}  // namespace

namespace {

constexpr std::array<std::uint8_t, 133> make_value_codes() {
  std::array<std::uint8_t, 133> table{};
  for (const TypeRow& row : kTypes) {
    if (row.type != 9) table[static_cast<std::size_t>(row.type + 32)] = row.value_code;
  }
  return table;
}

}  // namespace

// The tables are constant-initialised, so no thread ever sees them half filled.
extern const std::array<std::uint8_t, 133> is_var_length_array = make_var_length();
extern const std::array<std::uint8_t, 133> value_code_array = make_value_codes();
extern const std::array<std::uint8_t, 256> quick_recv1col_array = make_quick();

std::uint16_t i_cs_GetDateTimeDUType(std::int16_t subtype) {
  const TypeRow* row = find_type(9, subtype);
  return row != nullptr ? row->value_code : CS_NO_VALUE_CODE;
}

// --- Sending -----------------------------------------------------------------------------

a_cmdseq_return i_cs_SendAppColDefn(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                    std::int16_t type, std::int16_t subtype,
                                    std::uint8_t precision, std::uint16_t scale,
                                    std::uint32_t length) {
  const TypeRow* row = find_type(type, subtype);
  if (row == nullptr || row->defn_code == 0) {
    return pres(conn, err, SQLPresSendCommand(conn->strm_conn, CS_ITEM_NO_DEFINITION, 0));
  }
  std::uint8_t* p = nullptr;
  const a_cmdseq_return result =
      reserve(conn, err, row->defn_code, static_cast<std::uint8_t>(form_bytes(row->form)), &p);
  if (result != CMDSEQ_OK) return result;
  switch (row->form) {
    case Form::kShort:
      store_le16(p, 0);
      break;
    case Form::kNumeric:
      store_le16(p, 0);
      p[2] = precision;
      p[3] = static_cast<std::uint8_t>(scale);
      break;
    case Form::kLong: {
      // The server is told the value's room without the terminator.
      if (type == -21 && length != 0) length -= 1;
      if (type == -28 && length > conn->char_width) length -= conn->char_width;
      store_le32(p, length);
      store_le16(p + 4, 0);
      break;
    }
  }
  return CMDSEQ_OK;
}

a_cmdseq_return i_cs_SendColVars(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                 a_cmdseq_desc* desc) {
  std::uint32_t k = 0;
  for (a_cmdseq_desc_item* item = desc->items; item != nullptr && k < desc->count;
       item = item->next, ++k) {
    a_cmdseq_return result;
    if (desc->values_per_item == 0 || value_of(item, 0).data == nullptr) {
      result = pres(conn, err, SQLPresSendCommand(conn->strm_conn, CS_ITEM_NO_DEFINITION, 0));
    } else {
      result = i_cs_SendAppColDefn(conn, err, item->type, item->subtype, item->precision,
                                   item->scale, item->length);
    }
    if (result != CMDSEQ_OK) return CMDSEQ_NOT_CONNECTED;
  }
  return CMDSEQ_OK;
}

a_cmdseq_return i_cs_SendMultipleRows(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                      a_cmdseq_desc* desc, std::uint32_t columns,
                                      std::uint32_t count) {
  a_cmdseq_desc_item* item = desc->items;
  for (std::uint32_t i = 0; i < count; ++i, item = item->next) {
    if (item == nullptr || desc->values_per_item == 0) return CMDSEQ_FAILED;
    const a_cmdseq_value& v = value_of(item, 0);
    const bool null_indicator = v.indicator != nullptr && *v.indicator < 0;
    a_cmdseq_return result;
    if (v.data == nullptr) {
      result = pres(conn, err,
                    SQLPresSendCommand(conn->strm_conn,
                                       null_indicator ? CS_ITEM_NULL : CS_ITEM_NO_VALUE, 0));
    } else if (null_indicator) {
      result = pres(conn, err, SQLPresSendCommand(conn->strm_conn, CS_ITEM_NULL, 0));
    } else {
      result = send_value(conn, err, item, v, find_type(item->type, item->subtype));
    }
    if (result != CMDSEQ_OK) return result;
    if (columns != 0 && (i + 1) % columns == 0) {
      result = pres(conn, err, SQLPresSendCommand(conn->strm_conn, CS_ITEM_END_OF_DATA, 0));
      if (result != CMDSEQ_OK) return result;
    }
  }
  return pres(conn, err, SQLPresSendCommand(conn->strm_conn, CS_ITEM_END, 0));
}

// --- Receiving ---------------------------------------------------------------------------

int i_cs_CompleteCopy(const a_cmdseq_conn* conn, std::int16_t type, std::uint32_t size,
                      std::uint32_t full, std::uint32_t got, bool is_long, void* buffer,
                      std::uint32_t* length) {
  auto* buf = static_cast<std::uint8_t*>(buffer);
  const std::uint16_t width = conn != nullptr ? conn->char_width : 1;
  // Types whose buffer is the item's length never hold more than that; fixed-size types
  // hold their own size whatever the item says.
  const bool bounded = i_cs_IsVarLengthType(type) || type == -26 || type == 2 || type == 3;
  if (bounded && got > size) got = size;
  if (full < got) full = got;
  bool truncated = false;
  auto blank_units = [&](std::uint32_t from_unit, std::uint32_t to_unit) {  // 2-byte blanks
    for (std::uint32_t u = from_unit; buf != nullptr && u < to_unit; ++u) {
      buf[2 * u] = ' ';
      buf[2 * u + 1] = 0;
    }
  };
  switch (type) {
    case -31:
    case -30:
    case -26:
    case -4:
    case -2:
    case -1:
    case 12:
    case 2:
    case 3:
      truncated = full > size;
      break;
    case -29:
    case 1:
      truncated = full > size;
      if (truncated || buf == nullptr) break;
      if (type == -29 && width == 2) {
        blank_units((got + 1) / 2, size / 2);
      } else {
        std::memset(buf + got, ' ', size - got);
      }
      break;
    case -28:
    case -21:
    case 9:
      if (type == -28 && width == 2) {
        if (!is_long) {
          if (size >= full + 2) {
            if (buf != nullptr) buf[got & ~1u] = buf[(got & ~1u) + 1] = 0;
          } else {
            truncated = true;
            if (buf != nullptr && size >= 2)
              buf[2 * (size / 2 - 1)] = buf[2 * (size / 2 - 1) + 1] = 0;
            if (buf != nullptr && size >= 1) buf[size - 1] = 0;
          }
        } else if (size == 32767 && i_cs_GetAppType() == 1 && (got & ~1u) + 2 <= size) {
          // Not padded: the terminator follows the value where there is room for it,
          // and a value that did not arrive whole is still reported as truncated.
          if (buf != nullptr) buf[got & ~1u] = buf[(got & ~1u) + 1] = 0;
          truncated = full > got;
        } else if (size < 2) {
          truncated = true;
          if (buf != nullptr && size == 1) buf[0] = 0;
        } else {
          const std::uint32_t last_unit = size / 2 - 1;
          blank_units((got + 1) / 2, last_unit);
          if (buf != nullptr) buf[2 * last_unit] = buf[2 * last_unit + 1] = 0;
          truncated = full >= size || got > 2 * last_unit;
        }
      } else if (is_long && type != 9) {
        if (size == 32767 && i_cs_GetAppType() == 1 && got < size) {
          if (buf != nullptr) buf[got] = 0;
          truncated = full > got;
        } else if (size == 0) {
          truncated = true;
        } else {
          if (buf != nullptr) {
            if (got < size - 1) std::memset(buf + got, ' ', size - 1 - got);
            buf[size - 1] = 0;
          }
          truncated = full >= size;
        }
      } else {
        if (full < size) {
          if (buf != nullptr) buf[got] = 0;
        } else {
          if (buf != nullptr && size != 0) buf[size - 1] = 0;
          truncated = true;
        }
      }
      break;
    default:
      break;
  }
  if (length != nullptr) *length = truncated ? full : got;
  return truncated ? 1 : 0;
}

a_cmdseq_return i_cs_PrepareDataItem(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                     a_cmdseq_recv_state* state) {
  const std::int16_t type = state->item->type;
  if (state->current.code == CS_ITEM_FULL_LENGTH) {
    if (i_cs_IsVarLengthType(type)) {
      if (state->current.payload_bytes() < 4) return i_cs_ProtocolError(conn);
      state->full = load_le32(state->current.payload);
      state->have_full = true;
    }
    const a_cmdseq_return result = i_cs_ReceiveItem(conn, err, &state->current);
    if (result != CMDSEQ_OK) return result;
  }
  const std::uint8_t code = state->current.code;
  if (code == CS_ITEM_NO_VALUE || code == CS_ITEM_NULL) return CMDSEQ_OK;
  const std::uint16_t expected = i_cs_GetDescItemDUType(type, state->item->subtype);
  const bool accepted = code == expected || (type == 3 && code == 115) ||
                        (expected == 107 && code == CS_ITEM_LONG_107) ||
                        (expected == 128 && code == CS_ITEM_LONG_128);
  if (!accepted) return i_cs_ProtocolError(conn);
  if (state->current.is_long()) {
    std::uint32_t total = 0;
    const a_sqlpres_code pc = SQLPresReceiveBegin(conn->strm_conn, &total);
    if (pc != SQLPRES_OK) return i_cs_HandleSQLPresError(conn, pc, err);
    state->received = total;
    state->long_open = true;
  } else if (state->current.length > SQLPRES_MAX_SHORT_PAYLOAD) {
    return i_cs_ProtocolError(conn);  // a special length carries no value
  } else {
    state->received = state->current.payload_bytes();
  }
  if (!state->have_full || state->full < state->received) state->full = state->received;
  return CMDSEQ_OK;
}

a_cmdseq_return i_cs_GetDataItem(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                 a_cmdseq_recv_state* state) {
  a_cmdseq_desc_item* item = state->item;
  void* data = value_of(item, state->slot).data;
  const std::int16_t type = item->type;
  const TypeRow* row = find_type(type, item->subtype);
  const bool bytes = i_cs_IsVarLengthType(type) || type == -26;
  const std::uint32_t size = data != nullptr ? item->length : 0;
  state->got = 0;
  if (state->long_open) {
    state->long_open = false;
    if (!bytes) {
      // Fixed-size and numeric values never come as long values.
      const a_cmdseq_return result = pres(conn, err, SQLPresReceiveEnd(conn->strm_conn));
      return result != CMDSEQ_OK ? result : i_cs_ProtocolError(conn);
    }
    return read_long(conn, err, data, state->received, size, &state->got);
  }
  const std::uint8_t* payload = state->current.payload;
  const std::uint32_t n = state->received;
  if (bytes) {
    state->got = n < size ? n : size;
    if (state->got != 0) std::memcpy(data, payload, state->got);
    return CMDSEQ_OK;
  }
  if (type == 2 || type == 3) {
    if (n < 2) return i_cs_ProtocolError(conn);  // the precision and scale bytes are missing
    const std::uint32_t digits = n - 2;
    state->got = digits < size ? digits : size;
    if (state->got != 0) std::memcpy(data, payload + 2, state->got);
    state->full = digits;
    return CMDSEQ_OK;
  }
  if (row == nullptr || row->fixed == 0 || n != row->fixed) return i_cs_ProtocolError(conn);
  if (type == -22) {
    store_datetime(data, payload);
  } else {
    store_native(data, payload, row->fixed);
  }
  state->got = state->full = n;
  return CMDSEQ_OK;
}

namespace {

// The outcome of a value item 101 or 103 in a value's place.
a_cmdseq_return special_value(a_cmdseq_error_info* err, const a_cmdseq_value& v,
                              std::uint8_t code) {
  if (code == CS_ITEM_NO_VALUE) {
    i_cs_SetErrorInfo(err, 103);
    if (v.indicator != nullptr) *v.indicator = -2;
    return CMDSEQ_WARNING;
  }
  if (v.indicator != nullptr) {
    *v.indicator = -1;
    return CMDSEQ_OK;
  }
  i_cs_SetErrorInfo(err, -181);
  return CMDSEQ_ERROR;
}

}  // namespace

a_cmdseq_quick_item i_cs_QuickItemOf(const a_cmdseq_desc_item* item) {
  a_cmdseq_quick_item quick;
  const std::uint16_t code = i_cs_GetDescItemDUType(item->type, item->subtype);
  if (code > 0xFF) return quick;
  quick.code = static_cast<std::uint8_t>(code);
  quick.quick = quick_recv1col_array[code];
  if (quick.quick == 1) {
    const TypeRow* row = find_type(item->type, item->subtype);
    if (row == nullptr || row->fixed == 0) {
      quick.quick = 0;
    } else {
      quick.fixed = row->fixed;
    }
  }
  return quick;
}

bool i_cs_QuickStore(const a_cmdseq_conn* conn, const a_cmdseq_quick_item& quick,
                     a_cmdseq_desc_item* item, std::uint32_t slot, const std::uint8_t* payload,
                     std::uint32_t n) {
  a_cmdseq_value& v = value_of(item, slot);
  if (v.indicator != nullptr) *v.indicator = 0;
  if (quick.quick == 1) {
    if (item->type == -22) {
      store_datetime(v.data, payload);
    } else {
      store_native(v.data, payload, n);
    }
    return false;
  }
  // Classes 2 and 3 fit the item whole; a value record without data takes nothing.
  const std::uint32_t got = v.data != nullptr ? n : 0;
  if (got != 0) std::memcpy(v.data, payload, got);
  if (quick.quick == 2) {
    if (v.length != nullptr) *v.length = got;
    return false;
  }
  return i_cs_CompleteCopy(conn, item->type, item->length, n, got, false, v.data, v.length) !=
         0;
}

a_cmdseq_return i_cs_ReceiveOneColumn(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                      a_cmdseq_desc_item* item, std::uint32_t slot, bool* end,
                                      bool* end_of_data) {
  *end = false;
  *end_of_data = false;
  a_cmdseq_value& v = value_of(item, slot);
  a_cmdseq_recv_state state;
  state.item = item;
  state.slot = slot;
  a_cmdseq_return result = i_cs_ReceiveItem(conn, err, &state.current);
  if (result != CMDSEQ_OK) return result;
  const std::uint8_t code = state.current.code;

  // Quick path: the column's own code, a short payload that fits.
  if (quick_recv1col_array[code] != 0 && state.current.length <= SQLPRES_MAX_SHORT_PAYLOAD) {
    const a_cmdseq_quick_item quick = i_cs_QuickItemOf(item);
    const std::uint32_t n = state.current.payload_bytes();
    if (i_cs_QuickTakes(quick, item, code, n)) {
      if (i_cs_QuickStore(conn, quick, item, slot, state.current.payload, n)) {
        i_cs_SetErrorInfo(err, 101);
        return CMDSEQ_WARNING;
      }
      return CMDSEQ_OK;
    }
  }

  switch (code) {
    case CS_ITEM_NO_VALUE:
    case CS_ITEM_NULL:
      return special_value(err, v, code);
    case CS_ITEM_END_OF_DATA: {
      *end_of_data = true;
      const std::uint8_t flag =
          state.current.payload_bytes() != 0 ? state.current.payload[0] : 0;
      result = i_cs_ProcessEndData(flag, err, conn);
      return result != CMDSEQ_OK ? result : CMDSEQ_WARNING;
    }
    case CS_ITEM_END:
      *end = true;
      return CMDSEQ_OK;
    default:
      break;
  }

  result = i_cs_PrepareDataItem(conn, err, &state);
  if (result != CMDSEQ_OK) return result;
  if (state.current.code == CS_ITEM_NO_VALUE || state.current.code == CS_ITEM_NULL) {
    return special_value(err, v, state.current.code);  // after a full-length prefix
  }
  result = i_cs_GetDataItem(conn, err, &state);
  if (result != CMDSEQ_OK) return result;
  if (v.indicator != nullptr) *v.indicator = 0;
  const bool is_long =
      state.current.code == CS_ITEM_LONG_107 || state.current.code == CS_ITEM_LONG_128;
  if (i_cs_CompleteCopy(conn, item->type, item->length, state.full, state.got, is_long, v.data,
                        v.length)) {
    i_cs_SetErrorInfo(err, 101);
    return CMDSEQ_WARNING;
  }
  return CMDSEQ_OK;
}

a_cmdseq_return i_cs_ReceiveValueSet(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                     a_cmdseq_desc* desc) {
  a_cs_item item;
  a_cmdseq_return result;
  if (desc == nullptr || desc->values_per_item == 0 || desc->count == 0) {
    result = i_cs_ReceiveItem(conn, err, &item);
    if (result != CMDSEQ_OK) return result;
    if (item.code == CS_ITEM_END) return CMDSEQ_OK;
    if (item.code != CS_ITEM_END_OF_DATA) return i_cs_ProtocolError(conn);
    result = i_cs_ProcessEndData(item.payload_bytes() != 0 ? item.payload[0] : 0, err, conn);
    if (result != CMDSEQ_OK) return result;
    a_cmdseq_return closing = i_cs_ReceiveItem(conn, err, &item);
    if (closing != CMDSEQ_OK) return closing;
    if (item.code != CS_ITEM_END) return i_cs_ProtocolError(conn);
    return i_cs_ResultOfSQLCode(err);
  }

  a_cmdseq_return set_result = CMDSEQ_OK;
  for (std::uint32_t k = 0; k < desc->values_per_item; ++k) {
    bool read_any = false;
    bool row_closed = false;
    std::uint32_t n = 0;
    for (a_cmdseq_desc_item* it = desc->items; it != nullptr && n < desc->count;
         it = it->next, ++n) {
      if (value_of(it, k).data == nullptr) continue;
      bool end = false;
      bool end_of_data = false;
      result = i_cs_ReceiveOneColumn(conn, err, it, k, &end, &end_of_data);
      if (!i_cs_ReplyRead(result)) return result;
      if (end) {
        if (read_any) return i_cs_ProtocolError(conn);  // a row cut short
        return set_result;
      }
      set_result = i_cs_MoreSevereError(set_result, result);
      if (end_of_data) {
        row_closed = true;
        if (err->sqlcode == 100) {
          result = i_cs_ReceiveItem(conn, err, &item);
          if (result != CMDSEQ_OK) return result;
          if (item.code != CS_ITEM_END) return i_cs_ProtocolError(conn);
          return set_result;
        }
        break;
      }
      read_any = true;
    }
    if (row_closed) continue;
    result = i_cs_ReceiveItem(conn, err, &item);
    if (result != CMDSEQ_OK) return result;
    if (item.code == CS_ITEM_END) {
      if (read_any) return i_cs_ProtocolError(conn);
      return set_result;
    }
    if (item.code != CS_ITEM_END_OF_DATA) return i_cs_ProtocolError(conn);
    result = i_cs_ProcessEndData(item.payload_bytes() != 0 ? item.payload[0] : 0, err, conn);
    if (result != CMDSEQ_OK) return result;
    set_result = i_cs_MoreSevereError(set_result, i_cs_ResultOfSQLCode(err));
  }
  result = i_cs_ReceiveItem(conn, err, &item);
  if (result != CMDSEQ_OK) return result;
  if (item.code != CS_ITEM_END) return i_cs_ProtocolError(conn);
  return set_result;
}

a_cmdseq_return i_cs_ReceiveOptionalVal(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                        a_cmdseq_desc* desc) {
  a_cmdseq_return result = CMDSEQ_OK;
  if (desc != nullptr && desc->items != nullptr && desc->values_per_item != 0) {
    bool end = false;
    bool end_of_data = false;
    result = i_cs_ReceiveOneColumn(conn, err, desc->items, 0, &end, &end_of_data);
    if (!i_cs_ReplyRead(result)) return result;
    if (end_of_data) return i_cs_ProtocolError(conn);
    if (end) return result;
  }
  a_cs_item item;
  const a_cmdseq_return closing = i_cs_ReceiveItem(conn, err, &item);
  if (closing != CMDSEQ_OK) return closing;
  if (item.code != CS_ITEM_END) return i_cs_ProtocolError(conn);
  return result;
}

a_cmdseq_return i_cs_ReceiveDescribeSeq(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                        a_cmdseq_desc* desc, bool input, bool* final) {
  if (final != nullptr) *final = false;
  a_cs_item item;
  a_cmdseq_return result = i_cs_ReceiveItem(conn, err, &item);
  if (result != CMDSEQ_OK) return result;
  while (item.code != CS_ITEM_END) {
    const DefnRow* defn = nullptr;
    for (const DefnRow& row : kDefinitions) {
      if (row.code == item.code) defn = &row;
    }
    if (defn == nullptr || item.is_long()) return i_cs_ProtocolError(conn);
    const Form form = form_of(defn->type);
    const std::uint32_t n = item.payload_bytes();
    // Item 73 may come without its flags; every other definition carries its whole form.
    if (n < form_bytes(form) && !(defn->code == CS_ITEM_NO_DEFINITION && n == 0)) {
      return i_cs_ProtocolError(conn);
    }
    a_cmdseq_desc_item* column = i_cs_AllocDescItem(desc, desc->values_per_item);
    if (column == nullptr) return i_cs_OutOfMemoryConn(conn, err);
    column->type = defn->type;
    column->subtype = defn->subtype;
    const std::uint8_t* p = item.payload;
    if (n != 0) {
      switch (form) {
        case Form::kShort:
          column->col_flags = load_le16(p);
          break;
        case Form::kNumeric:
          column->col_flags = load_le16(p);
          column->precision = p[2];
          column->scale = p[3];
          break;
        case Form::kLong:
          column->length = load_le32(p);
          column->col_flags = load_le16(p + 4);
          break;
      }
    }
    i_cs_AppendDescItem(desc, column);

    result = i_cs_ReceiveItem(conn, err, &item);
    if (result != CMDSEQ_OK) return result;
    if (item.code == CS_ITEM_SECOND_NAME) {
      char* name2 = nullptr;
      if (item.is_long()) {
        result = i_cs_ReceiveLongText(conn, err, &name2);
        if (result != CMDSEQ_OK) return result;
      } else {
        name2 = copy_payload_text(item);
      }
      if (name2 == nullptr) return i_cs_OutOfMemoryConn(conn, err);
      column->name2 = name2;
      result = i_cs_ReceiveItem(conn, err, &item);
      if (result != CMDSEQ_OK) return result;
    }
    if (item.code != CS_ITEM_PARAM) return i_cs_ProtocolError(conn);
    if (item.length == 0 || item.length == 254) {
      column->col_flags |= CS_COL_NO_NAME;
    } else {
      char* name = nullptr;
      if (item.is_long()) {
        result = i_cs_ReceiveLongText(conn, err, &name);
        if (result != CMDSEQ_OK) return result;
      } else if (item.length <= SQLPRES_MAX_SHORT_PAYLOAD) {
        name = copy_payload_text(item);
      } else {
        return i_cs_ProtocolError(conn);
      }
      if (name == nullptr) return i_cs_OutOfMemoryConn(conn, err);
      column->name = name;
    }
    if (input) column->col_flags |= CS_COL_INPUT;
    result = i_cs_ReceiveItem(conn, err, &item);
    if (result != CMDSEQ_OK) return result;
  }

  const a_cmdseq_return status = i_cs_ReceiveSuccessOrError(conn, err);
  if (!i_cs_ReplyRead(status)) return status;
  std::uint32_t flags = 0;
  std::uint32_t* slots[kInfoSlots] = {};
  slots[kInfoFlagsSlot] = &flags;
  result = i_cs_ReceiveAllInfo(conn, err, slots);
  if (result != CMDSEQ_OK) return result;
  i_cs_ProcessNonZeroInfoFlags(conn, flags, &err->cursors_closed, nullptr);
  if (final != nullptr && (flags & CS_INFO_DESCRIBE_FINAL) != 0) *final = true;
  return status;
}

a_cmdseq_return i_cs_ThrowAwayColumn(a_cmdseq_conn* conn, a_cmdseq_error_info* err, bool* end,
                                     bool* end_of_data, bool skip_error) {
  *end = false;
  *end_of_data = false;
  a_cs_item item;
  a_cmdseq_return result = i_cs_ReceiveItem(conn, err, &item);
  if (result != CMDSEQ_OK) return result;
  if (item.code == CS_ITEM_FULL_LENGTH) {
    result = i_cs_ReceiveItem(conn, err, &item);
    if (result != CMDSEQ_OK) return result;
  }
  if (item.code == CS_ITEM_END) {
    *end = true;
    return CMDSEQ_OK;
  }
  if (item.code == CS_ITEM_END_OF_DATA) {
    *end_of_data = true;
    const std::uint8_t flag = item.payload_bytes() != 0 ? item.payload[0] : 0;
    if (!skip_error) {
      result = i_cs_ProcessEndData(flag, err, conn);
      return result != CMDSEQ_OK ? result : CMDSEQ_WARNING;
    }
    for (int i = 0; flag != 0 && i < 2; ++i) {  // the record and its closing item
      result = i_cs_ReceiveItem(conn, err, &item);
      if (result != CMDSEQ_OK) return result;
    }
    return CMDSEQ_OK;
  }
  if (item.is_long() && item.code != CS_ITEM_NULL) {
    std::uint32_t total = 0;
    a_sqlpres_code pc = SQLPresReceiveBegin(conn->strm_conn, &total);
    if (pc == SQLPRES_OK) pc = SQLPresReceiveEnd(conn->strm_conn);
    return pres(conn, err, pc);
  }
  return CMDSEQ_OK;
}

a_cmdseq_return i_cs_ThrowAwayDataItem(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                       a_cmdseq_recv_state* state) {
  if (!state->long_open) return CMDSEQ_OK;
  state->long_open = false;
  return pres(conn, err, SQLPresReceiveEnd(conn->strm_conn));
}

int i_cs_DescribeVarLenTotal(const a_cmdseq_desc* desc, std::uint32_t* total) {
  std::uint64_t sum = 0;
  std::uint32_t k = 0;
  for (const a_cmdseq_desc_item* item = desc->items; item != nullptr && k < desc->count;
       item = item->next, ++k) {
    if (item->type == -1 || item->type == -31 || item->type == -4) {
      *total = 0;
      return 0;
    }
    if (i_cs_IsVarLengthType(item->type)) {
      sum += item->length;
    } else if (item->type == 2 || item->type == 3) {
      sum += item->precision;
    }
  }
  *total = sum > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(sum);
  return 1;
}
