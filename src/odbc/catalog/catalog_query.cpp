// The catalog query framework: argument checks, clause keywords, filters and the run
// step that every catalog function goes through.
#include "odbc/catalog/catalog_query.h"

#include <cctype>
#include <cstring>

#include "odbc/attributes.h"
#include "odbc/connect.h"
#include "odbc/diagnostics.h"
#include "odbc/engine.h"
#include "odbc/statement.h"
#include "odbc/type_mapping.h"

namespace {

constexpr char kDefaultEscape = '~';
constexpr int kOptionValueBytes = 20;

int StatementOdbcVersion(tagSTMT* stmt) {
  tagENV* env = OwningEnv(stmt);
  return ODBCVersion(env != nullptr
                         ? static_cast<SQLINTEGER>(UIntOption(env, SQL_ATTR_ODBC_VERSION))
                         : SQL_OV_ODBC3);
}

bool MetadataId(const CatalogQuery* q) {
  return ULenOption(q->stmt, SQL_ATTR_METADATA_ID) != 0;
}

bool IsBlank(char c) { return c == ' '; }

// The identifier rules of SQL_ATTR_METADATA_ID. `trim_for_lower` drops the trailing
// blanks of the LOWER( ) form too (the pattern filter's variant).
void AddIdentifierCondition(CatalogQuery* q, const char* column, const CatalogArg& value,
                            bool trim_for_lower) {
  const char* text = value.text;
  std::size_t first = 0;
  std::size_t end = value.length;
  while (first < end && IsBlank(text[first])) ++first;
  std::size_t last_plus = end;
  while (last_plus > first && IsBlank(text[last_plus - 1])) --last_plus;
  // A quoted identifier needs an opening and a closing delimiter of its own: a lone
  // double quote is no quoted identifier (its inner text would have a negative length).
  if (first < last_plus && last_plus - first >= 2) {
    const char open = text[first];
    const char close = open == '"' ? '"' : (open == '[' ? ']' : '\0');
    if (close != '\0' && text[last_plus - 1] == close) {
      AddConditionKeyword(q);
      Append(q, column);
      Append(q, " = ");
      AppendLiteral(q, text + first + 1, last_plus - first - 2);
      return;
    }
  }
  AddConditionKeyword(q);
  if ((q->dbc->cap_a & kCapCaseSensitive) != 0) {
    Append(q, "LOWER(");
    Append(q, column);
    Append(q, ") = LOWER( ");
    AppendLiteral(q, text, trim_for_lower ? last_plus : end);
    Append(q, " )");
  } else {
    Append(q, column);
    Append(q, " = ");
    std::size_t kept = end;
    while (kept > 0 && IsBlank(text[kept - 1])) --kept;
    AppendLiteral(q, text, kept);
  }
}

}  // namespace

CatalogArg CatalogArgument(const SQLCHAR* text, SQLSMALLINT length) {
  if (text == nullptr || length == 0) return {nullptr, 0};
  const char* t = reinterpret_cast<const char*>(text);
  const std::size_t n = length == SQL_NTS ? std::strlen(t) : static_cast<std::size_t>(length);
  if (n == 0) return {nullptr, 0};
  return {t, n};
}

bool IsPercent(const CatalogArg& arg) { return arg.length == 1 && arg.text[0] == '%'; }

SQLRETURN BeginCatalogQuery(CatalogQuery* q, tagSTMT* stmt, const SQLSMALLINT* lengths,
                            const SQLCHAR* const* texts, std::size_t count) {
  *q = CatalogQuery{};
  q->stmt = stmt;
  q->dbc = OwningDbc(stmt);
  q->odbc_version = StatementOdbcVersion(stmt);
  q->clauses = 0;
  if (stmt->cursor_state == kCursorOpen) return PostSQLState(stmt, kState24000, kState24000);
  // A negative length other than SQL_NTS tells no length at all: refused rather than read
  // as a huge one.
  for (std::size_t k = 0; k < count; ++k) {
    if (texts[k] != nullptr && lengths[k] < 0 && lengths[k] != SQL_NTS) {
      return PostSQLState(stmt, kStateHY090, kStateS1090);
    }
  }
  return SQL_SUCCESS;
}

SQLRETURN BeginCatalogCall(CatalogQuery* q, tagSTMT* stmt,
                           std::initializer_list<CatalogName> names) {
  constexpr std::size_t kMostNames = 6;
  SQLSMALLINT lengths[kMostNames] = {0};
  const SQLCHAR* texts[kMostNames] = {nullptr};
  std::size_t count = 0;
  for (const CatalogName& n : names) {
    if (count == kMostNames) break;
    lengths[count] = n.length;
    texts[count] = n.text;
    ++count;
  }
  if (SQLRETURN refused = BeginCatalogQuery(q, stmt, lengths, texts, count); refused != 0) {
    return refused;
  }
  if (count != 0) CheckCatalogName(q, CatalogArgument(texts[0], lengths[0]));
  return SQL_SUCCESS;
}

void CheckCatalogName(CatalogQuery* q, const CatalogArg& catalog) {
  if (catalog.length == 0) return;
  if ((q->dbc->behaviour & kBehavPreventNotCapable) != 0) return;
  (void)PostSQLState(q->stmt, kStateHYC00, kStateS1C00);
}

void Append(CatalogQuery* q, const char* text, SQLINTEGER length) {
  (void)AddToSQLString(q->stmt, &q->text, text, length);
}

void AppendLiteral(CatalogQuery* q, const char* text, std::size_t length) {
  Append(q, "'");
  std::size_t from = 0;
  for (std::size_t k = 0; k < length; ++k) {
    if (text[k] != '\'') continue;
    Append(q, text + from, static_cast<SQLINTEGER>(k + 1 - from));
    Append(q, "'");
    from = k + 1;
  }
  if (from < length) Append(q, text + from, static_cast<SQLINTEGER>(length - from));
  Append(q, "'");
}

void AddSelectItem(CatalogQuery* q, const char* item) {
  Append(q, (q->clauses & kClauseSelect) != 0 ? "," : "SELECT ");
  q->clauses |= kClauseSelect;
  Append(q, item);
}

void AddFromItem(CatalogQuery* q, const char* item) {
  Append(q, (q->clauses & kClauseFrom) != 0 ? "," : "\nFROM ");
  q->clauses |= kClauseFrom;
  Append(q, item);
}

void AddConditionKeyword(CatalogQuery* q) {
  Append(q, (q->clauses & kClauseWhere) != 0 ? "\nAND " : "\nWHERE ");
  q->clauses |= kClauseWhere;
}

void AddCondition(CatalogQuery* q, const char* condition) {
  AddConditionKeyword(q);
  Append(q, condition);
}

void AddOrderBy(CatalogQuery* q, const char* columns) {
  Append(q, (q->clauses & kClauseOrderBy) != 0 ? "," : "\nORDER BY ");
  q->clauses |= kClauseOrderBy;
  Append(q, columns);
}

void StartUnionBranch(CatalogQuery* q) {
  q->clauses &= static_cast<std::uint8_t>(~(kClauseSelect | kClauseFrom | kClauseWhere));
  Append(q, "\nUNION ALL\n");
}

const char* ByVersion(const CatalogQuery* q, const char* odbc3, const char* odbc2) {
  return q->odbc_version == 3 ? odbc3 : odbc2;
}

void AddIdentifierFilter(CatalogQuery* q, const char* column, const CatalogArg& value) {
  if (value.length == 0) return;
  if (!MetadataId(q)) {
    AddConditionKeyword(q);
    Append(q, column);
    Append(q, " = ");
    AppendLiteral(q, value.text, value.length);
    return;
  }
  AddIdentifierCondition(q, column, value, false);
}

void AddPatternFilter(CatalogQuery* q, const char* column, const CatalogArg& value) {
  if (value.length == 0) return;
  if (MetadataId(q)) {
    AddIdentifierCondition(q, column, value, true);
    return;
  }
  AddConditionKeyword(q);
  Append(q, column);
  Append(q, " LIKE ");
  AppendLiteral(q, value.text, value.length);
  // The escape character comes from a connection attribute: quoted like any literal, so
  // an attribute value of ' cannot end the literal early.
  const char* escape = q->dbc->attrs[kSlotEscape].text;
  const char c = escape != nullptr && escape[0] != '\0' ? escape[0] : kDefaultEscape;
  Append(q, " ESCAPE ");
  AppendLiteral(q, &c, 1);
}

SQLRETURN RunCatalogQuery(CatalogQuery* q, bool switch_quoted_identifier) {
  tagSTMT* stmt = q->stmt;
  SQLRETURN rc = stmt->retcode;
  if (rc == SQL_SUCCESS) {
    const char* text = q->text.text;
    const SQLINTEGER length = static_cast<SQLINTEGER>(q->text.length);
    bool switched = false;
    if (switch_quoted_identifier && q->dbc->server_version >= kQuotedIdentifierSwitchVersion) {
      char value[kOptionValueBytes] = {0};
      switched = DBGetOption(q->dbc, "quoted_identifier", value, sizeof value) == 0 &&
                 std::tolower(static_cast<unsigned char>(value[0])) == 'o' &&
                 std::tolower(static_cast<unsigned char>(value[1])) == 'f' &&
                 std::tolower(static_cast<unsigned char>(value[2])) == 'f';
    }
    if (switched) {
      (void)DBSetOption(q->dbc, "quoted_identifier", "ON");
      rc = ExecDirect(stmt, text, length);
      (void)DBSetOption(q->dbc, "quoted_identifier", "OFF");
    } else {
      rc = ExecDirect(stmt, text, length);
    }
  }
  FreeSQLString(&q->text);
  return rc;
}
