// Users, groups and table grants of the stand-in, kept as one view of the database.
#include "grants.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>

#include "sql_text.h"
#include "statement_reader.h"

namespace vqeng {
namespace {

constexpr const char* kGrantsView = "vqsys_grants";

// The seven letters of a TablePerm.
enum Auth { kSelect, kInsert, kDelete, kUpdate, kUpdateCols, kAlter, kReference };

std::int64_t lookup_user(sqlite3* db, const GrantState& state, const std::string& name) {
  for (const auto& u : state.users)
    if (lower(u.name) == lower(name)) return u.id;
  sqlite3_stmt* st = nullptr;
  std::int64_t id = -1;
  if (sqlite3_prepare_v2(db,
                         "SELECT user_id FROM SYS.SYSUSERPERM WHERE lower(user_name) = lower(?) "
                         "AND user_id < 100",
                         -1, &st, nullptr) == SQLITE_OK) {
    sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(st) == SQLITE_ROW) id = sqlite3_column_int64(st, 0);
  }
  sqlite3_finalize(st);
  return id;
}

// The table's name as the database spells it; empty when there is no such table.
std::string table_named(sqlite3* db, const std::string& name) {
  sqlite3_stmt* st = nullptr;
  std::string found;
  if (sqlite3_prepare_v2(db,
                         "SELECT name FROM main.sqlite_schema WHERE type IN ('table','view') "
                         "AND lower(name) = lower(?) AND name NOT LIKE 'vqsys!_%' ESCAPE '!'",
                         -1, &st, nullptr) == SQLITE_OK) {
    sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(st) == SQLITE_ROW)
      found = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  }
  sqlite3_finalize(st);
  return found;
}

bool column_exists(sqlite3* db, const std::string& table, const std::string& column) {
  return sqlite3_table_column_metadata(db, "main", table.c_str(), column.c_str(), nullptr,
                                       nullptr, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Names after TO or FROM, each an existing user (or group).
bool read_users(sqlite3* db, const GrantState& state, StatementReader& r,
                std::vector<std::int64_t>& ids, std::string& why, bool groups_only = false) {
  do {
    std::string name;
    if (!r.name(name)) {
      why = "a user name is missing";
      return false;
    }
    const std::int64_t id = lookup_user(db, state, name);
    if (id < 0) {
      why = "User '" + name + "' does not exist";
      return false;
    }
    if (groups_only) {
      bool group = false;
      for (const auto& u : state.users) group = group || (u.id == id && u.group);
      if (!group) {
        why = "User '" + name + "' is not a group";
        return false;
      }
    }
    ids.push_back(id);
  } while (r.punct(','));
  return true;
}

GrantState::TablePerm& perm_of(GrantState& state, const std::string& table, std::int64_t grantee,
                               std::int64_t grantor) {
  for (auto& p : state.tables)
    if (p.table == table && p.grantee == grantee && p.grantor == grantor) return p;
  GrantState::TablePerm p;
  p.table = table;
  p.grantee = grantee;
  p.grantor = grantor;
  state.tables.push_back(p);
  return state.tables.back();
}

bool table_grant(sqlite3* db, StatementReader& r, bool revoke, std::int64_t grantor,
                 GrantState& state, std::string& why) {
  std::vector<int> auths;
  std::vector<std::string> update_columns;
  do {
    if (r.word("SELECT")) {
      auths.push_back(kSelect);
    } else if (r.word("INSERT")) {
      auths.push_back(kInsert);
    } else if (r.word("DELETE")) {
      auths.push_back(kDelete);
    } else if (r.word("ALTER")) {
      auths.push_back(kAlter);
    } else if (r.word("REFERENCES")) {
      std::string ignored;
      if (r.punct('(') && !r.until_close(ignored)) break;
      auths.push_back(kReference);
    } else if (r.word("UPDATE")) {
      std::string list;
      if (r.punct('(')) {
        if (!r.until_close(list)) break;
        update_columns = split_top(list, ',');
        auths.push_back(kUpdateCols);
      } else {
        auths.push_back(kUpdate);
      }
    } else if (r.word("ALL")) {
      (void)r.word("PRIVILEGES");
      for (int a : {kSelect, kInsert, kDelete, kUpdate, kAlter, kReference}) auths.push_back(a);
    } else {
      why = "GRANT needs privileges";
      return false;
    }
  } while (r.punct(','));
  std::string table;
  if (!r.word("ON") || !r.name(table)) {
    why = "GRANT needs ON and a table";
    return false;
  }
  const std::string name = table_named(db, table);
  if (name.empty()) {
    why = "Table '" + table + "' not found";
    return false;
  }
  for (std::string& c : update_columns) {
    if (!c.empty() && c.front() == '"' && c.back() == '"' && c.size() > 1)
      c = c.substr(1, c.size() - 2);
    if (!column_exists(db, name, c)) {
      why = "Column '" + c + "' not found";
      return false;
    }
  }
  std::vector<std::int64_t> grantees;
  if (!(revoke ? r.word("FROM") : r.word("TO")) || !read_users(db, state, r, grantees, why))
    return why.empty() ? (why = "GRANT needs TO and users", false) : false;
  const bool grant_option = !revoke && r.word("WITH") && r.word("GRANT") && r.word("OPTION");
  if (!r.at_end()) {
    why = "unexpected text after the grant";
    return false;
  }
  const char letter = revoke ? 'N' : (grant_option ? 'G' : 'Y');
  for (const std::int64_t grantee : grantees) {
    if (revoke) {
      // A revoke takes the privilege back from whoever granted it.
      for (auto& p : state.tables)
        if (p.table == name && p.grantee == grantee)
          for (int a : auths)
            if (a != kUpdateCols) p.auth[static_cast<std::size_t>(a)] = 'N';
      if (!update_columns.empty() ||
          std::find(auths.begin(), auths.end(), kUpdate) != auths.end()) {
        std::vector<GrantState::ColumnPerm> kept;
        for (auto& c : state.columns) {
          bool named = update_columns.empty();
          for (const auto& u : update_columns) named = named || lower(u) == lower(c.column);
          if (!(c.table == name && c.grantee == grantee && named)) kept.push_back(c);
        }
        state.columns.swap(kept);
        // Column updates stay granted while a column of the grant is left.
        for (auto& p : state.tables) {
          if (p.table != name || p.grantee != grantee) continue;
          bool left = false;
          for (const auto& c : state.columns)
            left = left || (c.table == name && c.grantee == grantee && c.grantor == p.grantor);
          if (!left) p.auth[kUpdateCols] = 'N';
        }
      }
      continue;
    }
    GrantState::TablePerm& p = perm_of(state, name, grantee, grantor);
    for (int a : auths) p.auth[static_cast<std::size_t>(a)] = letter;
    for (const auto& c : update_columns) {
      bool have = false;
      for (const auto& k : state.columns)
        have = have || (k.table == name && lower(k.column) == lower(c) && k.grantee == grantee &&
                         k.grantor == grantor);
      if (!have) state.columns.push_back({name, c, grantee, grantor});
    }
  }
  std::vector<GrantState::TablePerm> kept;
  for (auto& p : state.tables)
    if (p.auth != "NNNNNNN") kept.push_back(p);
  state.tables.swap(kept);
  return true;
}

std::string text_of(sqlite3_stmt* st, int c) {
  const unsigned char* t = sqlite3_column_text(st, c);
  return t ? reinterpret_cast<const char*>(t) : "";
}

}  // namespace

bool is_grant_statement(const std::string& text) {
  StatementReader r(text);
  if (r.word("GRANT")) return true;
  StatementReader v(text);
  return v.word("REVOKE");
}

GrantState stored_grants(sqlite3* db) {
  GrantState state;
  sqlite3_stmt* st = nullptr;
  const std::string sql = std::string("SELECT kind, a, b, c, d FROM main.") + kGrantsView;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    sqlite3_finalize(st);
    return state;
  }
  while (sqlite3_step(st) == SQLITE_ROW) {
    const std::string kind = text_of(st, 0);
    if (kind == "U") {
      state.users.push_back({sqlite3_column_int64(st, 1), text_of(st, 2), text_of(st, 3),
                             text_of(st, 4) == "Y"});
    } else if (kind == "M") {
      state.members.emplace_back(sqlite3_column_int64(st, 1), sqlite3_column_int64(st, 2));
    } else if (kind == "T") {
      GrantState::TablePerm p;
      p.table = text_of(st, 1);
      const std::string ids = text_of(st, 2);
      p.grantee = std::atoll(ids.c_str());
      p.grantor = std::atoll(ids.c_str() + std::min(ids.size(), ids.find(' ') + 1));
      p.auth = text_of(st, 3);
      if (p.auth.size() == 7) state.tables.push_back(p);
    } else if (kind == "C") {
      const std::string ids = text_of(st, 3);
      state.columns.push_back({text_of(st, 1), text_of(st, 2), std::atoll(ids.c_str()),
                               std::atoll(ids.c_str() + std::min(ids.size(), ids.find(' ') + 1))});
    }
  }
  sqlite3_finalize(st);
  return state;
}

std::string store_grants_sql(const GrantState& state) {
  std::string rows;
  auto row = [&](const std::string& kind, const std::string& a, const std::string& b,
                 const std::string& c, const std::string& d) {
    rows += (rows.empty() ? "(" : ",(") + quote_literal(kind) + "," + a + "," +
            quote_literal(b) + "," + quote_literal(c) + "," + quote_literal(d) + ")";
  };
  for (const auto& u : state.users)
    row("U", std::to_string(u.id), u.name, u.password, u.group ? "Y" : "N");
  for (const auto& m : state.members)
    row("M", std::to_string(m.first), std::to_string(m.second), "", "");
  for (const auto& p : state.tables)
    row("T", quote_literal(p.table), std::to_string(p.grantee) + " " + std::to_string(p.grantor),
        p.auth, "");
  for (const auto& c : state.columns)
    row("C", quote_literal(c.table), c.column,
        std::to_string(c.grantee) + " " + std::to_string(c.grantor), "");
  std::string sql = std::string("DROP VIEW IF EXISTS main.") + kGrantsView + ";";
  if (!rows.empty())
    sql += std::string("CREATE VIEW main.") + kGrantsView + "(kind, a, b, c, d) AS VALUES " +
           rows + ";";
  return sql;
}

bool apply_grant(sqlite3* db, const std::string& text, const std::string& grantor_name,
                 GrantState& state, std::string& why) {
  StatementReader head(text);
  const bool revoke = !head.word("GRANT");
  if (revoke && !head.word("REVOKE")) {
    why = "not a GRANT or REVOKE";
    return false;
  }
  const std::int64_t grantor = lookup_user(db, state, grantor_name);
  // Each form is tried by a reader of its own, after the first word.
  auto after_head = [&](StatementReader& r) { (void)(r.word("GRANT") || r.word("REVOKE")); };
  StatementReader r(text);
  after_head(r);
  if (!revoke && r.word("CONNECT")) {
    std::string name, password;
    if (!r.word("TO") || !r.name(name)) {
      why = "GRANT CONNECT needs TO and a user";
      return false;
    }
    if (r.word("IDENTIFIED")) {
      if (!r.word("BY") || !r.name(password)) {
        why = "IDENTIFIED BY needs a password";
        return false;
      }
    }
    if (!r.at_end()) {
      why = "unexpected text after GRANT CONNECT";
      return false;
    }
    for (auto& u : state.users)
      if (lower(u.name) == lower(name)) {
        u.password = password;  // a new password for a user we made
        return true;
      }
    if (lookup_user(db, state, name) >= 0) {
      why = "User '" + name + "' is a configured user";
      return false;
    }
    std::int64_t id = kFirstGrantedUserId;
    for (const auto& u : state.users) id = std::max(id, u.id + 1);
    state.users.push_back({id, name, password, false});
    return true;
  }
  StatementReader g(text);
  after_head(g);
  if (!revoke && g.word("GROUP")) {
    StatementReader& r = g;
    std::vector<std::int64_t> ids;
    if (!r.word("TO") || !read_users(db, state, r, ids, why) || !r.at_end()) {
      if (why.empty()) why = "GRANT GROUP needs TO and users";
      return false;
    }
    for (auto& u : state.users)
      for (const std::int64_t id : ids)
        if (u.id == id) u.group = true;
    for (const std::int64_t id : ids) {
      bool ours = false;
      for (const auto& u : state.users) ours = ours || u.id == id;
      if (!ours) {
        why = "a configured user cannot become a group";
        return false;
      }
    }
    return true;
  }
  StatementReader m(text);
  after_head(m);
  if (m.word("MEMBERSHIP")) {
    StatementReader& r = m;
    std::string group;
    std::vector<std::int64_t> gid, ids;
    if (!r.word("IN") || !r.word("GROUP") || !read_users(db, state, r, gid, why, true)) {
      if (why.empty()) why = "MEMBERSHIP needs IN GROUP and a group";
      return false;
    }
    if (!(revoke ? r.word("FROM") : r.word("TO")) || !read_users(db, state, r, ids, why) ||
        !r.at_end()) {
      if (why.empty()) why = "MEMBERSHIP needs users";
      return false;
    }
    for (const std::int64_t id : ids) {
      const std::pair<std::int64_t, std::int64_t> m{gid.front(), id};
      const auto at = std::find(state.members.begin(), state.members.end(), m);
      if (revoke && at != state.members.end()) state.members.erase(at);
      if (!revoke && at == state.members.end() && id != gid.front()) state.members.push_back(m);
    }
    return true;
  }
  StatementReader t(text);
  after_head(t);
  return table_grant(db, t, revoke, grantor, state, why);
}

void refresh_grant_tables(sqlite3* db) {
  const GrantState state = stored_grants(db);
  std::string sql = "DELETE FROM SYS.SYSUSERPERM WHERE user_id >= 100;"
                    "DELETE FROM SYS.SYSUSER WHERE user_id >= 100;"
                    "DELETE FROM SYS.SYSGROUP;DELETE FROM SYS.SYSTABLEPERM;"
                    "DELETE FROM SYS.SYSCOLPERM;";
  for (const auto& u : state.users) {
    sql += "INSERT INTO SYS.SYSUSERPERM(user_id, user_name, resourceauth, dbaauth, user_group) "
           "VALUES(" + std::to_string(u.id) + "," + quote_literal(u.name) + ",'N','N','" +
           (u.group ? "Y" : "N") + "');";
    sql += "INSERT INTO SYS.SYSUSER VALUES(" + std::to_string(u.id) + "," +
           quote_literal(u.name) + ");";
  }
  for (const auto& m : state.members)
    sql += "INSERT OR IGNORE INTO SYS.SYSGROUP VALUES(" + std::to_string(m.first) + "," +
           std::to_string(m.second) + ");";
  for (const auto& p : state.tables) {
    const auto& a = p.auth;
    sql += "INSERT INTO SYS.SYSTABLEPERM SELECT table_id, " + std::to_string(p.grantee) + ", " +
           std::to_string(p.grantor) + ", table_id, '" + a[kSelect] + "','" + a[kInsert] +
           "','" + a[kDelete] + "','" + a[kUpdate] + "','" + a[kUpdateCols] + "','" + a[kAlter] +
           "','" + a[kReference] + "' FROM SYS.SYSTABLE WHERE table_id >= 1000 AND table_name = " +
           quote_literal(p.table) + ";";
  }
  for (const auto& c : state.columns)
    sql += "INSERT INTO SYS.SYSCOLPERM SELECT t.table_id, " + std::to_string(c.grantee) + ", " +
           std::to_string(c.grantor) + ", c.column_id, 'U' FROM SYS.SYSTABLE t, SYS.SYSCOLUMN c "
           "WHERE t.table_id >= 1000 AND c.table_id = t.table_id AND t.table_name = " +
           quote_literal(c.table) + " AND lower(c.column_name) = lower(" +
           quote_literal(c.column) + ");";
  char* msg = nullptr;
  sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg);
  sqlite3_free(msg);
}

}  // namespace vqeng
