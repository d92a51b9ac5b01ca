// SQLGetData's piece converter for UTF-16 targets: the value's text converted as its
// pieces arrive from the server, and the part not yet handed to the application.
// Engine-interface internal (engine_fetch_convert.cpp, engine_fetch_data.cpp).
#ifndef VQ_ODBC_ENGINE_FETCH_PIECE_H
#define VQ_ODBC_ENGINE_FETCH_PIECE_H

#include <cstddef>

#include "utils/base/memory.h"
#include "utils/locale/charset_converter.h"

struct a_odbc_wide_piece {
  CharsetConverter* conv = nullptr;  // owned: a converter of the value's character set
  PivotBuffer pivot;                 // its staging area, kept between pieces
  char* pending = nullptr;           // converted UTF-16 (ut_malloc), pending_pos onwards unread
  std::size_t pending_len = 0;       // bytes converted
  std::size_t pending_pos = 0;       // bytes handed out
  std::size_t pending_cap = 0;       // bytes allocated
  bool input_done = false;           // the value's last source byte was converted

  a_odbc_wide_piece() = default;
  a_odbc_wide_piece(const a_odbc_wide_piece&) = delete;
  a_odbc_wide_piece& operator=(const a_odbc_wide_piece&) = delete;
  ~a_odbc_wide_piece() {
    delete conv;
    ut_free(pending);
  }
  std::size_t left() const { return pending_len - pending_pos; }
};

#endif  // VQ_ODBC_ENGINE_FETCH_PIECE_H
