// Reading the stand-in's procedure statements, and the procedures a database keeps.
#include "procedures.h"

#include <sqlite3.h>

#include <cctype>

#include "sql_text.h"
#include "statement_reader.h"

namespace vqeng {

ProcStatementKind procedure_statement_kind(const std::string& text) {
  StatementReader r(text);
  if (r.word("CALL")) return ProcStatementKind::Call;
  if (r.punct('?')) return r.punct('=') && r.word("CALL") ? ProcStatementKind::Call
                                                          : ProcStatementKind::None;
  StatementReader c(text);
  if (c.word("CREATE") && c.word("PROCEDURE")) return ProcStatementKind::Create;
  StatementReader d(text);
  if (d.word("DROP") && d.word("PROCEDURE")) return ProcStatementKind::Drop;
  return ProcStatementKind::None;
}

bool parse_procedure(const std::string& text, Procedure& p, std::string& why) {
  p = Procedure{};
  StatementReader r(text);
  if (!r.word("CREATE") || !r.word("PROCEDURE") || !r.name(p.name)) {
    why = "CREATE PROCEDURE needs a name";
    return false;
  }
  std::string list;
  if (r.punct('(')) {
    if (!r.until_close(list)) {
      why = "the parameter list of " + p.name + " is not closed";
      return false;
    }
    if (!trim_text(list).empty()) {
      for (const std::string& item : split_top(list, ',')) {
        ProcParm parm;
        StatementReader pr(item);
        if (pr.word("INOUT")) {
          parm.out = true;
        } else if (pr.word("OUT")) {
          parm.in = false;
          parm.out = true;
        } else {
          (void)pr.word("IN");
        }
        if (!pr.name(parm.name)) {
          why = "a parameter of " + p.name + " has no name";
          return false;
        }
        parm.type = trim_text(pr.rest());
        if (parm.type.empty()) {
          why = "parameter " + parm.name + " has no type";
          return false;
        }
        for (const ProcParm& other : p.parms)
          if (lower(other.name) == lower(parm.name)) {
            why = "parameter " + parm.name + " is named twice";
            return false;
          }
        p.parms.push_back(parm);
      }
    }
  }
  if (!r.word("BEGIN")) {
    why = "the body of " + p.name + " must start with BEGIN";
    return false;
  }
  std::string body = trim_text(r.rest());
  while (!body.empty() && body.back() == ';') body = trim_text(body.substr(0, body.size() - 1));
  if (body.size() < 3 || upper(body.substr(body.size() - 3)) != "END" ||
      (body.size() > 3 && !std::isspace(static_cast<unsigned char>(body[body.size() - 4])) &&
       body[body.size() - 4] != ';')) {
    why = "the body of " + p.name + " must end with END";
    return false;
  }
  body = body.substr(0, body.size() - 3);
  for (const std::string& st : split_top(body, ';')) {
    if (st.empty()) continue;
    StatementReader sr(st);
    std::string target;
    if (sr.word("SET")) {
      if (!sr.name(target) || !sr.punct('=') || trim_text(sr.rest()).empty()) {
        why = "SET needs a parameter and an expression: " + st;
        return false;
      }
      bool known = false;
      for (const ProcParm& parm : p.parms) known = known || lower(parm.name) == lower(target);
      if (!known) {
        why = "SET names no parameter of " + p.name + ": " + target;
        return false;
      }
    } else if (sr.word("RETURN")) {
      if (trim_text(sr.rest()).empty()) {
        why = "RETURN needs an expression";
        return false;
      }
      p.returns = true;
    } else {
      why = "a procedure body holds SET and RETURN statements only: " + st;
      return false;
    }
    p.body.push_back(st);
  }
  return true;
}

bool parse_drop_procedure(const std::string& text, std::string& name) {
  StatementReader r(text);
  return r.word("DROP") && r.word("PROCEDURE") && r.name(name) && r.at_end();
}

bool parse_call(const std::string& text, CallText& call) {
  call = CallText{};
  StatementReader r(text);
  if (r.punct('?')) {
    if (!r.punct('=')) return false;
    call.return_marker = true;
  }
  if (!r.word("CALL") || !r.name(call.name)) return false;
  if (r.punct('(')) {
    std::string list;
    if (!r.until_close(list)) return false;
    if (!trim_text(list).empty()) call.args = split_top(list, ',');
    for (const std::string& a : call.args)
      if (a.empty()) return false;
  }
  return r.at_end();
}

std::string procedure_view_name(const std::string& procedure_name) {
  return kProcedureViewPrefix + lower(procedure_name);
}

std::vector<Procedure> stored_procedures(sqlite3* db) {
  std::vector<Procedure> out;
  std::vector<std::string> views;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db,
                         "SELECT name FROM main.sqlite_schema WHERE type = 'view' AND "
                         "name LIKE 'vqsys!_proc!_%' ESCAPE '!' ORDER BY name",
                         -1, &st, nullptr) == SQLITE_OK) {
    while (sqlite3_step(st) == SQLITE_ROW)
      views.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  }
  sqlite3_finalize(st);
  for (const std::string& v : views) {
    const std::string sql = "SELECT definition FROM main." + quote_ident(v);
    st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0)) {
      Procedure p;
      std::string why;
      if (parse_procedure(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), p, why))
        out.push_back(std::move(p));
    }
    sqlite3_finalize(st);
  }
  return out;
}

int count_markers(const std::string& expression) {
  int n = 0;
  for_each_unquoted(expression, [&](std::size_t, char c) { n += c == '?' ? 1 : 0; });
  return n;
}

}  // namespace vqeng
