// Requests on an open cursor besides open, fetch, prefetch, align and close:
// describe, resume, get data, insert, update and delete through the cursor, and
// the plan of its statement.
#include <algorithm>

#include "request_items.h"
#include "session.h"
#include "sql_error.h"
#include "sql_text.h"
#include "wire.h"

namespace vqeng {
namespace {

// "a IS ? AND b IS ?": the columns of a row, to find it by its values.
std::string match_clause(const std::vector<std::string>& cols) {
  std::string w;
  for (const auto& c : cols) w += (w.empty() ? "" : " AND ") + quote_ident(c) + " IS ?";
  return w;
}

}  // namespace

void Session::write_description(ItemWriter& w, const std::vector<ColumnDesc>& cols) {
  // Each column: its definition (with the column flags), its type name when it has
  // one, then its name.
  for (const auto& c : cols) {
    write_definition(w, c.type);
    if (!c.type_name.empty()) w.put_bytes(kDefSecondName, c.type_name);
    w.put_bytes(kItemName, text_to_client(c.name));
  }
}

Session::Cursor* Session::cursor_of(std::uint32_t handle) {
  if ((handle == kNullHandle || handle == kImplicitHandle) && last_opened_)
    handle = last_opened_;
  const auto it = cursors_.find(handle);
  return it == cursors_.end() ? nullptr : &it->second;
}

bool Session::on_describe_cursor(const Item& item, ItemWriter& w) {
  if (item.length != 6)
    return protocol_error("describe-cursor item of " + std::to_string(item.length) + " bytes");
  const bool input = item.code == kReqDescribeCursorInput;
  log(std::string(input ? "describe-cursor-input " : "describe-cursor-output ") +
      std::to_string(load_le32(item.payload)));
  Cursor* c = cursor_of(load_le32(item.payload));
  SqlError err;
  bool ok = c != nullptr;
  if (!ok) err = sql_error(-180, "Cursor not open");
  std::vector<ColumnDesc> cols;
  if (ok && input)
    ok = engine_->describe_input(c->stmt, cols, err);
  else if (ok)
    cols = c->columns;
  if (ok) write_description(w, cols);
  w.put_empty(kItemEnd);
  write_status(w, ok ? nullptr : &err);
  write_info(w, {{kInfoFlagsSlot, kInfoDescribeComplete}});
  return true;
}

bool Session::on_resume(const Item& item, ItemWriter& w) {
  if (item.length != 4)
    return protocol_error("resume item of " + std::to_string(item.length) + " bytes");
  log("resume " + std::to_string(load_le32(item.payload)));
  // A text of several queries gives a result set each; a resume moves the cursor
  // to the next one, and past the last it says the procedure has completed.
  Cursor* c = cursor_of(load_le32(item.payload));
  std::uint32_t ncols = 0;
  if (!c) {
    const SqlError err = sql_error(-180, "Cursor not open");
    write_status(w, &err);
  } else if (c->more.empty()) {
    const SqlError done = sql_error(105);
    write_status(w, &done);
  } else {
    load_next_result(*c);
    ncols = static_cast<std::uint32_t>(c->columns.size());
    write_status(w, nullptr);
  }
  write_info(w, {{2, 0}, {6, ncols}, {kInfoFlagsSlot, 0}});
  return true;
}

void Session::load_next_result(Cursor& c) {
  ResultSet next = std::move(c.more.front());
  c.more.pop_front();
  c.columns = std::move(next.columns);
  c.rows = std::move(next.rows);
  c.base = 0;
  c.front = 0;
  c.wanted.clear();
  for (const auto& col : c.columns) c.wanted.push_back(col.type);
  c.skip.assign(c.columns.size(), false);
  c.deleted.assign(c.rows.size(), false);
  c.costs.clear();
  c.bookmark = false;
  c.pos = 0;
  c.sent = 0;
}

bool Session::on_get_data(ItemReader& r, const Item& item, ItemWriter& w) {
  if (item.length != 10)
    return protocol_error("get-data item of " + std::to_string(item.length) + " bytes");
  WireType want, companion;
  if (!read_definition(r, want, "get-data") || !read_definition(r, companion, "get-data"))
    return false;
  const std::uint32_t offset = load_le32(item.payload + 4);
  const std::uint16_t column = load_le16(item.payload + 8);
  log("get-data " + std::to_string(load_le32(item.payload)) +
      " column=" + std::to_string(column) + " offset=" + std::to_string(offset));
  Cursor* c = cursor_of(load_le32(item.payload));
  SqlError err;
  std::uint32_t full = 0;
  const auto fail = [&](const SqlError& e) {
    w.put_empty(kItemEnd);  // in place of the value: the reply's end
    write_status(w, &e);
    write_info(w, {{1, 0}, {2, full}, {kInfoFlagsSlot, 0}});
    return true;
  };
  if (!c) return fail(sql_error(-180, "Cursor not open"));
  if (column == 0 || column > c->columns.size())
    return fail(sql_error(-159, "Invalid column number", {std::to_string(column)}));
  const std::vector<Value>* current = row_at(*c, c->pos);
  if (current == nullptr || row_deleted(*c, c->pos))
    return fail(sql_error(-197, "No current row of cursor"));
  const WireType t = want.type != 0 ? want : c->columns[column - 1u].type;
  // Offsets count bytes of the client's character set: the value is converted whole.
  std::vector<Value> row;
  const std::vector<WireType> wanted(current->size(), t);
  if (!row_to_client(*current, row, &wanted)) return fail(conversion_error(charset_.name()));
  const Value& v = column - 1u < row.size() ? row[column - 1u] : Value::null();
  if (v.kind == Value::Null || !is_variable_length_type(t.type)) {
    // NULL and fixed-size values come whole, and only from offset 0.
    if (offset != 0) return fail(sql_error(100));
    if (companion.type != 0) write_value(w, v, companion);
    write_value(w, v, t);
  } else {
    // A long value comes a piece at a time: the bytes from the offset, at most as
    // many as the definition's length; slot 2 carries the whole length.
    const std::string bytes = value_text(v);
    full = static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size(), 0xFFFFFFFFu));
    if (offset > 0 && offset >= bytes.size()) return fail(sql_error(100));
    std::size_t n = bytes.size() - offset;
    if (t.length != 0 && t.length < n) n = t.length;
    const Value piece = v.kind == Value::Blob ? Value::blob(bytes.substr(offset, n))
                                              : Value::text(bytes.substr(offset, n));
    if (companion.type != 0) write_value(w, v, companion);
    write_value(w, piece, t);
  }
  w.put_empty(kItemEnd);
  write_status(w, nullptr);
  write_info(w, {{1, 0}, {2, full}, {kInfoFlagsSlot, 0}});
  return true;
}

bool Session::positioned_columns(const Cursor& c, std::size_t nvalues,
                                 std::vector<std::size_t>& cols, SqlError& err) const {
  // Values come for every result column, or for the columns the row description
  // asked for, in column order.
  cols.clear();
  if (c.table.empty()) {
    err = sql_error(
        -1000, "The cursor's columns do not all come from one table; it cannot change rows");
    return false;
  }
  if (nvalues == c.columns.size()) {
    for (std::size_t k = 0; k < c.columns.size(); ++k) cols.push_back(k);
    return true;
  }
  for (std::size_t k = 0; k < c.columns.size(); ++k)
    if (!c.skip[k]) cols.push_back(k);
  if (cols.size() == nvalues) return true;
  err = sql_error(-1000, std::to_string(nvalues) + " values do not match the cursor's " +
                             std::to_string(c.columns.size()) + " columns");
  return false;
}

bool Session::on_put(ItemReader& r, const Item& item, ItemWriter& w) {
  if (item.length != 4)
    return protocol_error("put item of " + std::to_string(item.length) + " bytes");
  std::vector<WireType> col_vars;
  std::vector<std::vector<Value>> rows;
  if (!read_column_vars_and_rows(r, col_vars, rows)) return false;
  log("put " + std::to_string(load_le32(item.payload)) +
      " rows=" + std::to_string(rows.size()));
  Cursor* c = cursor_of(load_le32(item.payload));
  SqlError err;
  bool ok = c != nullptr;
  if (!ok) err = sql_error(-180, "Cursor not open");
  std::uint32_t inserted = 0;
  for (const auto& row : rows) {
    std::vector<std::size_t> cols;
    if (!ok || !(ok = positioned_columns(*c, row.size(), cols, err))) break;
    // Columns the client gave no value for (item 101) take their defaults.
    std::string names, marks;
    std::vector<Value> params;
    for (std::size_t i = 0; i < cols.size(); ++i) {
      if (row[i].kind == Value::Unset) continue;
      names += (names.empty() ? "" : ", ") + quote_ident(c->origin[cols[i]]);
      marks += marks.empty() ? "?" : ", ?";
      params.push_back(row[i]);
    }
    const std::string sql = names.empty()
                                ? "INSERT INTO " + quote_ident(c->table) + " DEFAULT VALUES"
                                : "INSERT INTO " + quote_ident(c->table) + " (" + names +
                                      ") VALUES (" + marks + ")";
    ExecResult res;
    if (!(ok = engine_->run_sql(sql, params, 0, res, err))) break;
    ++inserted;
    // The new row joins the cursor's rows at their end.
    std::vector<Value> kept(c->columns.size(), Value::null());
    for (std::size_t i = 0; i < cols.size(); ++i)
      kept[cols[i]] = row[i].kind == Value::Unset ? Value::null() : row[i];
    c->rows.push_back(std::move(kept));
    c->deleted.push_back(false);
  }
  w.put_empty(kItemEnd);  // no column-variable values
  write_status(w, ok ? nullptr : &err);
  // Slot 2: the rows inserted; slot 1: the position of the last of them in the cursor;
  // slot 23: the bookmark of the first of them (bookmarks are positions, so the rows
  // inserted have the bookmarks from slot 23 up to slot 1). Both are 0 when no row went in.
  const std::uint32_t last = c && inserted ? static_cast<std::uint32_t>(known_rows(*c)) : 0;
  const std::uint32_t first = inserted ? last - inserted + 1 : 0;
  write_info(w, {{2, inserted}, {1, last}, {23, first}, {kInfoFlagsSlot, 0}});
  return true;
}

bool Session::change_current_row(Cursor& c, const std::string& verb,
                                 const std::vector<std::size_t>& cols,
                                 const std::vector<Value>& values, SqlError& err) {
  // The row is found by the values the cursor read (all its columns), so that a
  // cursor over any one table can change rows without keys of its own.
  std::vector<Value>* current = row_at(c, c.pos);
  if (current == nullptr || row_deleted(c, c.pos)) {
    err = sql_error(-197, "No current row of cursor");
    return false;
  }
  if (c.table.empty()) {
    err = sql_error(
        -1000, "The cursor's columns do not all come from one table; it cannot change rows");
    return false;
  }
  auto& row = *current;
  std::vector<Value> params;
  std::string set;
  for (std::size_t i = 0; i < cols.size(); ++i) {
    if (values[i].kind == Value::Unset) continue;
    set += (set.empty() ? "" : ", ") + quote_ident(c.origin[cols[i]]) + " = ?";
    params.push_back(values[i]);
  }
  if (verb == "UPDATE" && set.empty()) return true;  // nothing to change
  for (const auto& v : row) params.push_back(v);
  const std::string where = "rowid = (SELECT rowid FROM " + quote_ident(c.table) + " WHERE " +
                            match_clause(c.origin) + " LIMIT 1)";
  const std::string sql =
      verb == "UPDATE" ? "UPDATE " + quote_ident(c.table) + " SET " + set + " WHERE " + where
                       : "DELETE FROM " + quote_ident(c.table) + " WHERE " + where;
  ExecResult res;
  if (!engine_->run_sql(sql, params, 0, res, err)) return false;
  if (res.changes == 0) {
    err = sql_error(-197,
                    "No current row of cursor: the row was changed or deleted by someone else");
    return false;
  }
  if (verb == "UPDATE") {
    for (std::size_t i = 0; i < cols.size(); ++i)
      if (values[i].kind != Value::Unset) row[cols[i]] = values[i];
    row_changed(c, c.pos);
  } else {
    c.deleted[static_cast<std::size_t>(c.pos - 1 - c.base)] = true;
  }
  return true;
}

bool Session::on_update(ItemReader& r, const Item& item, ItemWriter& w) {
  if (item.length != 4)
    return protocol_error("update item of " + std::to_string(item.length) + " bytes");
  std::vector<WireType> unused;
  std::vector<std::vector<Value>> rows;
  if (!read_column_vars_and_rows(r, unused, rows)) return false;
  log("update " + std::to_string(load_le32(item.payload)));
  Cursor* c = cursor_of(load_le32(item.payload));
  SqlError err;
  std::vector<std::size_t> cols;
  const std::vector<Value> values = rows.empty() ? std::vector<Value>{} : rows.front();
  const bool ok = c ? positioned_columns(*c, values.size(), cols, err) &&
                          change_current_row(*c, "UPDATE", cols, values, err)
                    : (err = sql_error(-180, "Cursor not open"), false);
  write_status(w, ok ? nullptr : &err);
  write_info(w, {{2, ok ? 1u : 0u}, {1, 0}, {kInfoFlagsSlot, 0}});
  return true;
}

bool Session::on_delete(ItemReader& r, const Item& item, ItemWriter& w) {
  if (item.length != 4)
    return protocol_error("delete item of " + std::to_string(item.length) + " bytes");
  std::string table, correlation;
  if (!read_name_item(r, table, "delete") || !read_name_item(r, correlation, "delete"))
    return false;
  log("delete " + std::to_string(load_le32(item.payload)) + (table.empty() ? "" : " " + table));
  Cursor* c = cursor_of(load_le32(item.payload));
  SqlError err;
  const bool ok = c ? change_current_row(*c, "DELETE", {}, {}, err)
                    : (err = sql_error(-180, "Cursor not open"), false);
  write_status(w, ok ? nullptr : &err);
  write_info(w, {{2, ok ? 1u : 0u}, {1, 0}, {kInfoFlagsSlot, 0}});
  return true;
}

bool Session::on_explain(ItemReader& r, const Item& item, ItemWriter& w) {
  if (item.length != 4)
    return protocol_error("explain item of " + std::to_string(item.length) + " bytes");
  WireType t;
  if (!read_definition(r, t, "explain")) return false;
  log("explain " + std::to_string(load_le32(item.payload)));
  Cursor* c = cursor_of(load_le32(item.payload));
  SqlError err;
  bool ok = c != nullptr;
  if (!ok) err = sql_error(-180, "Cursor not open");
  std::string plan;
  if (ok) {
    // The plan of the statement as SQLite runs it, one step a line.
    ExecResult res;
    ok = engine_->run_sql("EXPLAIN QUERY PLAN " + engine_->statement_text(c->stmt), {}, 10000,
                          res, err);
    for (const auto& row : res.rows)
      if (row.size() >= 4) plan += (plan.empty() ? "" : "\n") + value_text(row[3]);
  }
  const Value v = Value::text(plan);
  write_optional_value(w, ok ? &v : nullptr, t);
  write_status(w, ok ? nullptr : &err);
  write_info(w, {{3, 0}, {kInfoFlagsSlot, 0}});
  return true;
}

}  // namespace vqeng
