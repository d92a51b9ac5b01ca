// Procedures of the stand-in. SQLite has none, so the server keeps them itself, in
// this small form:
//
//   CREATE PROCEDURE name ( [IN|OUT|INOUT] parm type, ... ) BEGIN body END
//   body:  statements separated by ';', each one of
//            SET parm = expression
//            RETURN expression          (ends the call; the procedure has a return value)
//   DROP PROCEDURE name
//   CALL name ( argument, ... )   and   ? = CALL name ( argument, ... )
//
// Expressions are SQL expressions of the database that name the parameters as columns.
// A parameter without a mode is IN. An argument that is a single '?' stands for its
// parameter in both directions its mode allows; other arguments are expressions (their
// '?' markers are inputs). A procedure is kept in the database as a view named
// "vqsys_proc_" + its name in lower case whose one value is its CREATE text: created,
// dropped and rolled back with the schema, and seen by every connection.
#pragma once

#include <string>
#include <vector>

struct sqlite3;

namespace vqeng {

struct ProcParm {
  std::string name;
  bool in = true;
  bool out = false;
  std::string type;  // as declared
};

struct Procedure {
  std::string name;
  std::vector<ProcParm> parms;
  std::vector<std::string> body;  // statements, without the ';'
  bool returns = false;           // its body has a RETURN
};

// What a statement text is, for the server's own handling.
enum class ProcStatementKind { None, Create, Drop, Call };
ProcStatementKind procedure_statement_kind(const std::string& text);

// Reads a CREATE PROCEDURE text; false with `why` when it is not of the form above.
bool parse_procedure(const std::string& text, Procedure& p, std::string& why);

// Reads DROP PROCEDURE name: the name.
bool parse_drop_procedure(const std::string& text, std::string& name);

struct CallText {
  bool return_marker = false;  // "? = CALL"
  std::string name;
  std::vector<std::string> args;  // as written, trimmed
};
bool parse_call(const std::string& text, CallText& call);

// The view a procedure is kept in.
std::string procedure_view_name(const std::string& procedure_name);
constexpr const char* kProcedureViewPrefix = "vqsys_proc_";

// Every procedure the database keeps (those whose text still reads), by view name order.
std::vector<Procedure> stored_procedures(sqlite3* db);

// The number of '?' markers outside quotes in an expression.
int count_markers(const std::string& expression);

}  // namespace vqeng
