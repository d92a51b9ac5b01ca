// Conversion of one fetched wire value into the application's buffer: character data
// (narrow, or UTF-16 through the connection's converters), binary and GUID values as
// hexadecimal text, GUIDs raw, packed decimals into the ODBC numeric structure, and
// date-time values into the ODBC structures; with the indicator and length words.
#include <cstring>
#include <new>
#include <utility>

#include "odbc/diagnostics.h"
#include "odbc/engine.h"
#include "odbc/engine_fetch_piece.h"
#include "odbc/handles.h"
#include "odbc/packed_decimal.h"
#include "odbc/parameters.h"
#include "odbc/translation.h"
#include "utils/base/memory.h"
#include "utils/locale/charset_converter.h"
#include "cmdseq/wire_values.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr a_packed_sqlstate kState22002 = PackSQLState("22002");

bool is_char_source(SQLSMALLINT eff) { return eff == -30 || eff == -1 || eff == 1 || eff == 12; }
bool is_wide_target(SQLSMALLINT c) { return c == -8 || c == -9 || c == -10; }
bool is_char_target(SQLSMALLINT c) { return c == 1 || c == 12 || c == -1; }

// Bytes of one value of a fixed-size C type; 0 for the variable-length ones.
SQLLEN fixed_c_bytes(SQLSMALLINT c) {
  switch (c) {
    case -28: case -26: case -7: case -6: return 1;
    case -17: case -15: case 5: return 2;
    case -18: case -16: case 4: case 7: return 4;
    case -27: case -25: case -5: case 6: case 8: return 8;
    case 2: case 3: return sizeof(SQL_NUMERIC_STRUCT);
    case 9: case 91: return sizeof(SQL_DATE_STRUCT);
    case 10: case 92: return sizeof(SQL_TIME_STRUCT);
    case 11: case 93: return sizeof(SQL_TIMESTAMP_STRUCT);
    case -11: return sizeof(SQLGUID);
    default: return 0;
  }
}

SQLLEN* word_at(SQLLEN* base, SQLULEN skip) {
  return base == nullptr ? nullptr
                         : reinterpret_cast<SQLLEN*>(reinterpret_cast<char*>(base) + skip);
}
void store_word(SQLLEN* p, SQLLEN v) {
  if (p != nullptr) std::memcpy(p, &v, sizeof v);
}
template <typename T>
void store(void* p, const T& v) {
  std::memcpy(p, &v, sizeof v);
}

// The 2-byte or NUL terminator after `written` bytes, when the room holds it.
void terminate_wide(char* dst, SQLLEN room, SQLLEN written) {
  if (written + 2 <= room) {
    dst[written] = 0;
    dst[written + 1] = 0;
  }
}

// The converter from the value's character set into UTF-16LE.
CharsetConverter* inbound_converter(tagDBC* dbc, SQLSMALLINT eff) {
  if (dbc == nullptr) return nullptr;
  if (eff == -30 && dbc->nchar_to_wide != nullptr) return dbc->nchar_to_wide;
  return dbc->conn_to_wide != nullptr ? dbc->conn_to_wide : dbc->ansi_to_wide;
}

// UTF-16 bytes of `n` source bytes, converted whole into scratch memory; -4 (no total)
// when they cannot be counted.
SQLLEN wide_length(CharsetConverter* conv, const char* src, std::size_t n) {
  if (n == 0) return 0;
  if (n > 0x3FFFFFFF) return SQL_NO_TOTAL;
  const std::size_t room = 4 * n + 4;
  auto* scratch = static_cast<unsigned char*>(ut_malloc(room));
  if (scratch == nullptr) return SQL_NO_TOTAL;
  unsigned int written = 0;
  const int r = conv->Convert(scratch, static_cast<unsigned int>(room), &written,
                              reinterpret_cast<const unsigned char*>(src),
                              static_cast<unsigned int>(n));
  ut_free(scratch);
  return r == kConvDone ? static_cast<SQLLEN>(written) : SQL_NO_TOTAL;
}

}  // namespace

namespace {

// Appends the UTF-16 form of `n` source bytes to the piece's pending text. False when
// memory runs out or the text does not convert.
bool piece_convert(a_odbc_wide_piece* piece, const char* src, std::size_t n, bool final) {
  // Compact what was handed out already.
  if (piece->pending_pos != 0) {
    std::memmove(piece->pending, piece->pending + piece->pending_pos,
                 piece->pending_len - piece->pending_pos);
    piece->pending_len -= piece->pending_pos;
    piece->pending_pos = 0;
  }
  const void* in = src;
  const void* in_end = src + n;
  for (;;) {
    const std::size_t want = piece->pending_len + 2 * n + 1024;
    if (want > piece->pending_cap) {
      char* grown = static_cast<char*>(ut_malloc(want));
      if (grown == nullptr) return false;
      if (piece->pending_len != 0) std::memcpy(grown, piece->pending, piece->pending_len);
      ut_free(piece->pending);
      piece->pending = grown;
      piece->pending_cap = want;
    }
    void* out = piece->pending + piece->pending_len;
    const int r = piece->conv->ContinueConvert(piece->pivot, &out,
                                               piece->pending + piece->pending_cap, &in,
                                               in_end, final ? 1 : 0);
    piece->pending_len = static_cast<std::size_t>(static_cast<char*>(out) - piece->pending);
    if (r == kConvDone) break;
    if (r != kConvDestFull) return false;
    n = static_cast<std::size_t>(static_cast<const char*>(in_end) - static_cast<const char*>(in));
  }
  if (final) piece->input_done = true;
  return true;
}

}  // namespace

char* DataCopy(char* dst, const char* src, std::size_t n, int terminate) {
  if (n != 0) std::memmove(dst, src, n);
  if (terminate != 0) dst[n] = '\0';
  return dst + n;
}

char* binary_to_char(const std::uint8_t* bytes, char* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    *out++ = kHexDigits[bytes[i] >> 4];
    *out++ = kHexDigits[bytes[i] & 0x0F];
  }
  return out;
}

char* binary_to_wchar(const std::uint8_t* bytes, char* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    out[0] = kHexDigits[bytes[i] >> 4];
    out[1] = 0;
    out[2] = kHexDigits[bytes[i] & 0x0F];
    out[3] = 0;
    out += 4;
  }
  return out;
}

int SwapUuidBytes(std::uint8_t* bytes, std::size_t n) {
  if (n != 16) return 0;
  std::swap(bytes[0], bytes[3]);
  std::swap(bytes[1], bytes[2]);
  std::swap(bytes[4], bytes[5]);
  std::swap(bytes[6], bytes[7]);
  return 1;
}

char* uuid_to_char(const std::uint8_t* bytes, char* out, std::size_t n) {
  if (n != 16) return out;
  static const char kLower[] = "0123456789abcdef";
  char* p = out;
  for (std::size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) *p++ = '-';
    *p++ = kLower[bytes[i] >> 4];
    *p++ = kLower[bytes[i] & 0x0F];
  }
  *p = '\0';
  return out + 36;
}

char* uuid_to_wchar(tagDBC* dbc, const std::uint8_t* bytes, char* out, std::size_t n) {
  (void)dbc;  // the text is ASCII: every character set gives the same UTF-16 units
  if (n != 16) return out;
  char text[37];
  uuid_to_char(bytes, text, n);
  for (std::size_t i = 0; i < 36; ++i) {
    out[2 * i] = text[i];
    out[2 * i + 1] = 0;
  }
  return out + 72;
}

int DataSrcToDriver(tagDBC* dbc, SQLSMALLINT c_type, void* buf, SQLLEN len) {
  if (dbc == nullptr || dbc->data_source_to_driver == nullptr || len <= 0) return 1;
  SQLINTEGER out = 0;
  const SQLINTEGER n = len > INT32_MAX ? INT32_MAX : static_cast<SQLINTEGER>(len);
  return TranslateToDriver(dbc, c_type, buf, n, &out) == SQL_SUCCESS ? 1 : 0;
}

int DriverToDataSrc(tagDBC* dbc, SQLSMALLINT c_type, void* buf, SQLLEN len) {
  if (dbc == nullptr || dbc->driver_to_data_source == nullptr || len <= 0) return 1;
  SQLINTEGER out = 0;
  const SQLINTEGER n = len > INT32_MAX ? INT32_MAX : static_cast<SQLINTEGER>(len);
  return TranslateToDataSource(dbc, c_type, buf, n, &out) == SQL_SUCCESS ? 1 : 0;
}

int DBGetBoundData(tagSTMT* stmt, tagITEM* target, tagITEM* source, tagITEM* ird,
                   SQLULEN bind_size, SQLULEN row, SQLULEN fetched_row, unsigned item_row,
                   int piecewise, const SQLLEN* bind_offset) {
  (void)ird;
  (void)fetched_row;
  a_cmdseq_desc_item* item = source->wire_column != nullptr ? source->wire_column : source->wire_item;
  if (item == nullptr) {
    PostSQLState(stmt, kStateHY000, kStateS1000);
    return kBoundFailed;
  }
  const a_cmdseq_value& v =
      source->wire_column != nullptr ? item->values()[item_row] : item->values()[0];
  const SQLLEN offset = bind_offset != nullptr ? *bind_offset : 0;
  const SQLULEN word_skip = row * (bind_size != 0 ? bind_size : sizeof(SQLLEN)) +
                            static_cast<SQLULEN>(offset);
  SQLLEN* ind = word_at(target->indicator_ptr, word_skip);
  SQLLEN* octet = target->octet_length_ptr != nullptr ? word_at(target->octet_length_ptr, word_skip)
                                                      : ind;
  const bool in_getdata = piecewise != 0;

  // NULL: the indicator says so, the buffer is not touched.
  if (v.indicator != nullptr && *v.indicator < 0) {
    if (ind == nullptr) {
      AddTruncationState(stmt, kState22002, kState22002, kDiagNoPosition,
                         static_cast<std::int32_t>(row));
      return kBoundFailed;
    }
    store_word(ind, SQL_NULL_DATA);
    if (in_getdata) stmt->gd_whole = 1;
    return kBoundWhole;
  }

  const SQLSMALLINT eff = source->effective_type;
  const SQLSMALLINT concise = target->concise_type;
  const std::uint32_t full = v.length != nullptr ? *v.length : 0;
  const std::uint32_t avail = full < item->length ? full : item->length;
  const SQLLEN room = target->octet_length > 0 ? target->octet_length : 0;
  const SQLLEN fixed = fixed_c_bytes(concise);
  const SQLULEN element = bind_size != 0 ? bind_size
                          : fixed != 0   ? static_cast<SQLULEN>(fixed)
                                         : static_cast<SQLULEN>(room);
  char* data = target->data_ptr != nullptr
                   ? static_cast<char*>(target->data_ptr) + row * element + offset
                   : nullptr;
  const auto* src = static_cast<const char*>(v.data);

  // In get-data mode the value may arrive in pieces: `before` bytes of it were returned
  // already, and the first piece told its full length.
  const SQLLEN before = in_getdata ? stmt->gd_returned : 0;
  if (in_getdata && before == 0 && stmt->gd_first_length < static_cast<SQLLEN>(full))
    stmt->gd_first_length = full;
  const SQLLEN total = in_getdata ? stmt->gd_first_length : full;

  SQLLEN length = 0;  // what the octet-length word receives
  int result = kBoundWhole;
  SQLLEN consumed = 0;  // source bytes used up (get-data bookkeeping)

  if ((source->flags & kItemInPlace) != 0) {
    // The client wrote the value straight into the application's buffer.
    length = fixed != 0 ? fixed : static_cast<SQLLEN>(avail);
  } else if (is_char_source(eff) && is_wide_target(concise)) {
    tagDBC* dbc = OwningDbc(stmt);
    CharsetConverter* conv = inbound_converter(dbc, eff);
    if (conv == nullptr) {
      PostSQLState(stmt, kStateHY001, kStateS1001);
      return kBoundFailed;
    }
    const SQLLEN out_room = room >= 2 ? (room - 2) & ~static_cast<SQLLEN>(1) : 0;
    if (!in_getdata) {
      unsigned int written = 0;
      int r = kConvDone;
      if (data != nullptr) {
        r = conv->Convert(reinterpret_cast<unsigned char*>(data),
                          static_cast<unsigned int>(out_room), &written,
                          reinterpret_cast<const unsigned char*>(src), avail);
        terminate_wide(data, room, written);
      }
      if (r == kConvDone && data != nullptr) {
        length = written;
        if (avail < full) {
          length = SQL_NO_TOTAL;
          result = kBoundTruncated;
        }
      } else if (r == kConvDestFull || data == nullptr) {
        length = avail < full ? SQL_NO_TOTAL : wide_length(conv, src, avail);
        result = data != nullptr ? kBoundTruncated : kBoundWhole;
      } else {
        AddSQLState(stmt, kState22018, kState22005);
        return kBoundFailed;
      }
    } else {
      a_odbc_wide_piece* piece = stmt->gd_piece;
      if (piece == nullptr) {
        piece = new (std::nothrow) a_odbc_wide_piece;
        CharsetConverterBase* base = conv->impl();
        if (piece != nullptr && base != nullptr)
          piece->conv = new (std::nothrow) CharsetConverter(base->locale(), base->to(), base->from());
        if (piece == nullptr || piece->conv == nullptr) {
          delete piece;
          PostSQLState(stmt, kStateHY001, kStateS1001);
          return kBoundFailed;
        }
        stmt->gd_piece = piece;
      }
      // A piece that arrives now is converted whole; the text is handed out as the
      // application's buffers take it.
      if (!piece->input_done && v.data != nullptr) {
        const bool final = before + static_cast<SQLLEN>(avail) >= total;
        if (!piece_convert(piece, src, avail, final)) {
          AddSQLState(stmt, kState22018, kState22005);
          return kBoundFailed;
        }
        consumed = avail;
      }
      if (!piece->input_done && piece->left() < static_cast<std::size_t>(out_room)) {
        // Not enough text yet to fill the buffer: the caller reads the next piece.
        stmt->gd_returned += consumed;
        return kBoundNeedInput;
      }
      const std::size_t left = piece->pending_len - piece->pending_pos;
      const std::size_t give = left < static_cast<std::size_t>(out_room) ? left
                                                                         : static_cast<std::size_t>(out_room);
      if (data != nullptr) {
        std::memcpy(data, piece->pending + piece->pending_pos, give);
        terminate_wide(data, room, static_cast<SQLLEN>(give));
      }
      piece->pending_pos += give;
      stmt->gd_chars += static_cast<SQLLEN>(give / 2);
      const bool more = piece->pending_pos < piece->pending_len || !piece->input_done;
      length = piece->input_done ? static_cast<SQLLEN>(left) : SQL_NO_TOTAL;
      result = more ? kBoundMoreData : kBoundWhole;
    }
  } else if (is_char_source(eff)) {
    // Narrow text: as much as the buffer holds, then a NUL when it belongs to the value.
    const bool nul = (source->flags & kItemNulIncluded) != 0 || is_char_target(concise);
    const SQLLEN cap = nul ? (room > 0 ? room - 1 : 0) : room;
    const SQLLEN n = static_cast<SQLLEN>(avail) < cap ? static_cast<SQLLEN>(avail) : cap;
    if (data != nullptr) {
      if (nul && room == 0) {
        // No room at all: only the length is reported.
      } else {
        DataCopy(data, src, static_cast<std::size_t>(n), nul ? 1 : 0);
        tagDBC* dbc = OwningDbc(stmt);
        if (dbc->data_source_to_driver != nullptr && DataSrcToDriver(dbc, concise, data, n) == 0) {
          PostSQLState(stmt, kStateHY000, kStateS1000);
          return kBoundFailed;
        }
      }
    }
    consumed = data != nullptr ? n : 0;
    length = total - before;
    if (data != nullptr && before + n < total) result = in_getdata ? kBoundMoreData : kBoundTruncated;
  } else if ((eff == 2 || eff == 3) && concise == SQL_C_NUMERIC) {
    // Packed decimal into the numeric structure, with the column's precision and scale.
    SQL_NUMERIC_STRUCT num{};
    const int r = PackedDecimalToODBCNumeric(reinterpret_cast<const std::uint8_t*>(src),
                                             item->precision,
                                             static_cast<std::int8_t>(item->scale & 0xFF), &num);
    if (r != kNumericConverted) {
      // Digits that do not fit are never dropped: the value is refused for this row.
      if (r == kNumericOutOfRange) {
        AddTruncationState(stmt, kState22003, kState22003, kDiagNoPosition,
                           static_cast<std::int32_t>(row));
      } else {
        AddTruncationState(stmt, kState22018, kState22005, kDiagNoPosition,
                           static_cast<std::int32_t>(row));
      }
      return kBoundFailed;
    }
    if (data != nullptr) std::memcpy(data, &num, sizeof num);
    length = sizeof num;
  } else if (eff == -11 || eff == -2 || eff == -3 || eff == 2 || eff == 3) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(src);
    if (eff == -11 && !is_char_target(concise) && !is_wide_target(concise)) {
      // Raw GUID: the ODBC structure wants the first three groups as native integers.
      // SQL_C_GUID is fixed-size: its buffer length is not looked at.
      const SQLLEN guid_room = concise == SQL_C_GUID ? fixed : room;
      const SQLLEN n = static_cast<SQLLEN>(avail) < guid_room ? static_cast<SQLLEN>(avail) : guid_room;
      if (data != nullptr) {
        std::memcpy(data, src, static_cast<std::size_t>(n));
        if (concise == -11 && n == 16) SwapUuidBytes(reinterpret_cast<std::uint8_t*>(data), 16);
      }
      length = total;
      if (n < static_cast<SQLLEN>(avail)) result = kBoundTruncated;
      consumed = n;
    } else if (eff == -11 && avail == 16) {
      // GUID text: 36 characters, handed out from where the last call stopped.
      char text[37];
      uuid_to_char(bytes, text, 16);
      const bool wide = is_wide_target(concise);
      const SQLLEN unit = wide ? 2 : 1;
      const SQLLEN cap = room >= unit ? (room - unit) / unit : 0;
      const SQLLEN left = 36 - before;
      const SQLLEN n = left < cap ? left : cap;
      if (data != nullptr && room >= unit) {
        for (SQLLEN i = 0; i < n; ++i) {
          if (wide) {
            data[2 * i] = text[before + i];
            data[2 * i + 1] = 0;
          } else {
            data[i] = text[before + i];
          }
        }
        if (wide) terminate_wide(data, room, 2 * n);
        else data[n] = '\0';
      }
      length = left * unit;
      consumed = data != nullptr ? n : 0;
      if (n < left) result = in_getdata ? kBoundMoreData : kBoundTruncated;
      if (in_getdata) stmt->gd_first_length = 36;
    } else if (is_char_target(concise) || is_wide_target(concise)) {
      // Binary as hexadecimal text: two digits per byte, cut at whole bytes.
      const bool wide = is_wide_target(concise);
      const SQLLEN per_byte = wide ? 4 : 2;
      const SQLLEN term = wide ? 2 : 1;
      const SQLLEN fit = room >= term ? (room - term) / per_byte : 0;
      const SQLLEN n = static_cast<SQLLEN>(avail) < fit ? static_cast<SQLLEN>(avail) : fit;
      if (data != nullptr && room >= term) {
        char* end = wide ? binary_to_wchar(bytes, data, static_cast<std::size_t>(n))
                         : binary_to_char(bytes, data, static_cast<std::size_t>(n));
        if (wide) terminate_wide(data, room, end - data);
        else *end = '\0';
      }
      length = (total - before) * per_byte;
      consumed = data != nullptr ? n : 0;
      if (before + consumed < total) result = in_getdata ? kBoundMoreData : kBoundTruncated;
    } else {
      // Bytes as they are.
      const SQLLEN n = static_cast<SQLLEN>(avail) < room ? static_cast<SQLLEN>(avail) : room;
      if (data != nullptr) std::memcpy(data, src, static_cast<std::size_t>(n));
      length = total - before;
      consumed = data != nullptr ? n : 0;
      if (before + consumed < total) result = in_getdata ? kBoundMoreData : kBoundTruncated;
    }
  } else if (eff == 9 || eff == 91 || eff == 10 || eff == 92 || eff == 11 || eff == 93) {
    a_cmdseq_datetime dt{};
    std::memcpy(&dt, src, sizeof dt);
    if (eff == 9 || eff == 91) {
      SQL_DATE_STRUCT d{};
      d.year = static_cast<SQLSMALLINT>(dt.w0);
      d.month = static_cast<SQLUSMALLINT>(dt.b2 + 1);
      d.day = dt.b6;
      if (data != nullptr) store(data, d);
      length = sizeof d;
    } else if (eff == 10 || eff == 92) {
      SQL_TIME_STRUCT t{};
      t.hour = dt.b7;
      t.minute = dt.b8;
      t.second = dt.b9;
      if (data != nullptr) store(data, t);
      length = sizeof t;
    } else {
      SQL_TIMESTAMP_STRUCT ts{};
      ts.year = static_cast<SQLSMALLINT>(dt.w0);
      ts.month = static_cast<SQLUSMALLINT>(dt.b2 + 1);
      ts.day = dt.b6;
      ts.hour = dt.b7;
      ts.minute = dt.b8;
      ts.second = dt.b9;
      ts.fraction = dt.d10 * 1000u;
      if (data != nullptr) store(data, ts);
      length = sizeof ts;
    }
  } else {
    // Fixed-size numbers live in the application's buffer already.
    length = fixed;
  }

  // Length words: the indicator 0 first, then the octet length, so that one word shared
  // by both ends with the length.
  store_word(ind, 0);
  store_word(octet, length);
  if (in_getdata) {
    stmt->gd_returned += consumed;
    if (result == kBoundWhole) stmt->gd_whole = 1;
  }
  return result;
}

int GetAllBound(tagSTMT* stmt, tagDESC* ard, tagDESC* ird, SQLULEN bind_size, SQLULEN row,
                SQLULEN fetched_row) {
  if (ard == nullptr) return kBoundWhole;
  const SQLLEN* offset = ard->bind_offset_ptr;
  int worst = kBoundWhole;
  const SQLSMALLINT count = ard->count;
  const SQLULEN word_skip = row * (bind_size != 0 ? bind_size : sizeof(SQLLEN)) +
                            static_cast<SQLULEN>(offset != nullptr ? *offset : 0);
  for (SQLSMALLINT k = 0; k < count; ++k) {
    tagITEM* rec = ard->records[k];
    if (rec == nullptr || (rec->flags & kItemBound) == 0 || rec->wire_column == nullptr) continue;
    if ((rec->flags & kItemInPlace) != 0) {
      // The client wrote the value into the application's buffer: only the length words.
      const a_cmdseq_value& v = rec->wire_column->values()[fetched_row];
      SQLLEN* ind = word_at(rec->indicator_ptr, word_skip);
      SQLLEN* octet = rec->octet_length_ptr != nullptr ? word_at(rec->octet_length_ptr, word_skip)
                                                       : ind;
      if (*v.indicator < 0) {
        if (ind == nullptr) {
          AddTruncationState(stmt, kState22002, kState22002, k + 1, static_cast<std::int32_t>(row));
          worst = kBoundFailed;
          continue;
        }
        store_word(ind, SQL_NULL_DATA);
      } else {
        store_word(ind, 0);
        store_word(octet, fixed_c_bytes(rec->concise_type != SQL_C_DEFAULT ? rec->concise_type
                                                                           : rec->effective_type));
      }
      continue;
    }
    tagITEM* impl = ird != nullptr && k < ird->count ? ird->records[k] : nullptr;
    const int r = DBGetBoundData(stmt, rec, rec, impl, bind_size, row, fetched_row,
                                 static_cast<unsigned>(fetched_row), 0, offset);
    if (r == kBoundTruncated || r == kBoundMoreData) {
      AddTruncationState(stmt, kState01004, kState01004, k + 1, static_cast<std::int32_t>(row));
    }
    if (r > worst) worst = r;
  }
  return worst;
}

int GetOutputParams(tagSTMT* stmt, SQLULEN set) {
  a_odbc_item_list* out = stmt->output_list;
  tagDESC* apd = stmt->apd;
  tagDESC* ipd = stmt->ipd;
  if (out == nullptr || apd == nullptr || ipd == nullptr) return kBoundWhole;
  int worst = kBoundWhole;
  std::uint32_t next = 0;
  for (SQLSMALLINT p = 0; p < ipd->count && next < out->columns; ++p) {
    tagITEM* impl = ipd->records[p];
    if (impl == nullptr || impl->parameter_type == 0 || impl->parameter_type == SQL_PARAM_INPUT)
      continue;
    a_cmdseq_desc_item* item = CmdSeqFastGetDescItem(out->desc.items, next++, 1);
    tagITEM* app = p < apd->count ? apd->records[p] : nullptr;
    if (app == nullptr || (app->flags & kItemBound) == 0 || item->type == 0 ||
        item->values()[0].data == nullptr) {
      continue;
    }
    // The output item stands in for the record's wire link; the record's own type and
    // flags say how the value was exchanged.
    tagITEM source{};
    source.wire_item = item;
    source.effective_type = app->effective_type;
    source.flags = app->flags;
    const int r = DBGetBoundData(stmt, app, &source, impl, apd->bind_type, set, set, 0, 0,
                                 apd->bind_offset_ptr);
    if (r == kBoundTruncated || r == kBoundMoreData) {
      AddTruncationState(stmt, kState01004, kState01004, p + 1, static_cast<std::int32_t>(set));
    }
    if (r > worst) worst = r;
  }
  return worst;
}
