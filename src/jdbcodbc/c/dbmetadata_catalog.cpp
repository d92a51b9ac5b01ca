// The metadata methods that answer with a result set: each runs one ODBC catalog function
// on a new catalog statement of the cache and hands its result to Java. The Java strings
// are pinned for the call and released after it, whether it succeeded or not. Also the
// four function lists (an SQLGetInfo bitmask turned into a one-row SELECT of a literal)
// and the product version.
#include <cstring>

#include "jdbcodbc/c/dbmetadata.h"
#include "jdbcodbc/c/resultset.h"

namespace {

// One name of a function list and its bit number in the item's mask.
struct FunctionName {
  const char* name;
  int bit;
};

// In output order (alphabetical); the bits are the ODBC SQL_FN_* values.
constexpr FunctionName kNumericFunctions[] = {
    {"abs", 0},      {"acos", 1},    {"asin", 2},     {"atan", 3},     {"atan2", 4},
    {"ceiling", 5},  {"cos", 6},     {"cot", 7},      {"degrees", 18}, {"exp", 8},
    {"floor", 9},    {"log", 10},    {"log10", 19},   {"mod", 11},     {"pi", 16},
    {"power", 20},   {"radians", 21}, {"rand", 17},   {"round", 22},   {"sign", 12},
    {"sin", 13},     {"sqrt", 14},   {"tan", 15},     {"truncate", 23}};

constexpr FunctionName kStringFunctions[] = {
    {"ascii", 13},        {"bit_length", 19}, {"char", 14},         {"char_length", 20},
    {"character_length", 21}, {"concat", 0},  {"difference", 15},   {"insert", 1},
    {"lcase", 6},         {"left", 2},        {"length", 4},        {"locate", 5},
    {"ltrim", 3},         {"octet_length", 22}, {"position", 23},   {"repeat", 7},
    {"replace", 8},       {"right", 9},       {"rtrim", 10},        {"soundex", 17},
    {"space", 18},        {"substring", 11},  {"ucase", 12}};

constexpr FunctionName kSystemFunctions[] = {{"database", 1}, {"ifnull", 2}, {"user", 0}};

constexpr FunctionName kTimeDateFunctions[] = {
    {"curdate", 1},     {"current_date", 17}, {"current_time", 18}, {"current_timestamp", 19},
    {"curtime", 9},     {"dayname", 15},      {"dayofmonth", 2},    {"dayofweek", 3},
    {"dayofyear", 4},   {"extract", 20},      {"hour", 10},         {"minute", 11},
    {"month", 5},       {"monthname", 16},    {"now", 0},           {"quarter", 6},
    {"second", 12},     {"timestampadd", 13}, {"timestampdiff", 14}, {"week", 7},
    {"year", 8}};

constexpr std::size_t kFunctionListBytes = 1024;

// The pinned arguments of one catalog call; the pins are released when it goes out of
// scope, on every path.
class PinnedArgs {
 public:
  PinnedArgs(JNIEnv* env, DatabaseMetaData* md) : env_(env), md_(md) {}
  ~PinnedArgs() { md_->cleanUpWCHARs(env_); }
  PinnedArgs(const PinnedArgs&) = delete;
  PinnedArgs& operator=(const PinnedArgs&) = delete;

  // Pins the strings in argument order into `out`; false at the first that raised.
  template <std::size_t N>
  bool pin(const jstring (&strings)[N], Statement::WText (&out)[N]) {
    for (std::size_t i = 0; i < N; ++i) {
      if (!md_->getWCHAR(env_, strings[i], &out[i])) return false;
    }
    return true;
  }

 private:
  JNIEnv* env_;
  DatabaseMetaData* md_;
};

// Runs `call` (the Statement catalog call with the pinned texts) on a new catalog
// statement; the statement's Java result set, or null.
template <std::size_t N, class Call>
jobject RunCatalog(JNIEnv* env, DatabaseMetaData* md, const jstring (&strings)[N], Call&& call) {
  Statement* stmt = md->allocStatement(env);
  if (stmt == nullptr) return nullptr;
  PinnedArgs pins(env, md);
  Statement::WText texts[N];
  if (!pins.pin(strings, texts)) return nullptr;
  if (!call(stmt, texts)) return nullptr;
  return stmt->getResultSet(env);
}

}  // namespace

jobject DatabaseMetaData::getTables(JNIEnv* env, jstring catalog, jstring schema, jstring table,
                                    jstring types) {
  const jstring args[] = {catalog, schema, table, types};
  return RunCatalog(env, this, args, [&](Statement* s, Statement::WText(&t)[4]) {
    return s->getTables(env, t[0], t[1], t[2], t[3]);
  });
}

jobject DatabaseMetaData::getColumns(JNIEnv* env, jstring catalog, jstring schema,
                                     jstring table, jstring column) {
  const jstring args[] = {catalog, schema, table, column};
  return RunCatalog(env, this, args, [&](Statement* s, Statement::WText(&t)[4]) {
    return s->getColumns(env, t[0], t[1], t[2], t[3]);
  });
}

jobject DatabaseMetaData::getProcedures(JNIEnv* env, jstring catalog, jstring schema,
                                        jstring procedure) {
  const jstring args[] = {catalog, schema, procedure};
  return RunCatalog(env, this, args, [&](Statement* s, Statement::WText(&t)[3]) {
    return s->getProcedures(env, t[0], t[1], t[2]);
  });
}

jobject DatabaseMetaData::getProcedureColumns(JNIEnv* env, jstring catalog, jstring schema,
                                              jstring procedure, jstring column) {
  const jstring args[] = {catalog, schema, procedure, column};
  return RunCatalog(env, this, args, [&](Statement* s, Statement::WText(&t)[4]) {
    return s->getProcedureColumns(env, t[0], t[1], t[2], t[3]);
  });
}

jobject DatabaseMetaData::getPrimaryKeys(JNIEnv* env, jstring catalog, jstring schema,
                                         jstring table) {
  const jstring args[] = {catalog, schema, table};
  return RunCatalog(env, this, args, [&](Statement* s, Statement::WText(&t)[3]) {
    return s->getPrimaryKeys(env, t[0], t[1], t[2]);
  });
}

jobject DatabaseMetaData::getCrossReference(JNIEnv* env, jstring pkCatalog, jstring pkSchema,
                                            jstring pkTable, jstring fkCatalog,
                                            jstring fkSchema, jstring fkTable) {
  const jstring args[] = {pkCatalog, pkSchema, pkTable, fkCatalog, fkSchema, fkTable};
  return RunCatalog(env, this, args, [&](Statement* s, Statement::WText(&t)[6]) {
    return s->getForeignKeys(env, t[0], t[1], t[2], t[3], t[4], t[5]);
  });
}

jobject DatabaseMetaData::getImportedKeys(JNIEnv* env, jstring catalog, jstring schema,
                                          jstring table) {
  return getCrossReference(env, nullptr, nullptr, nullptr, catalog, schema, table);
}

jobject DatabaseMetaData::getExportedKeys(JNIEnv* env, jstring catalog, jstring schema,
                                          jstring table) {
  return getCrossReference(env, catalog, schema, table, nullptr, nullptr, nullptr);
}

jobject DatabaseMetaData::getIndexInfo(JNIEnv* env, jstring catalog, jstring schema,
                                       jstring table, bool unique, bool approximate) {
  const jstring args[] = {catalog, schema, table};
  const SQLUSMALLINT indexType = unique ? SQL_INDEX_UNIQUE : SQL_INDEX_ALL;
  const SQLUSMALLINT accuracy = approximate ? SQL_QUICK : SQL_ENSURE;
  return RunCatalog(env, this, args, [&](Statement* s, Statement::WText(&t)[3]) {
    return s->getStatistics(env, t[0], t[1], t[2], indexType, accuracy);
  });
}

jobject DatabaseMetaData::getBestRowIdentifier(JNIEnv* env, jstring catalog, jstring schema,
                                               jstring table, jint scope, bool nullable) {
  const jstring args[] = {catalog, schema, table};
  // The JDBC scopes 0 (temporary) and 1 (transaction) are the ODBC numbers; anything
  // else asks for the session.
  const SQLUSMALLINT odbcScope = scope == 0   ? SQL_SCOPE_CURROW
                                 : scope == 1 ? SQL_SCOPE_TRANSACTION
                                              : SQL_SCOPE_SESSION;
  const SQLUSMALLINT odbcNullable = nullable ? SQL_NULLABLE : SQL_NO_NULLS;
  return RunCatalog(env, this, args, [&](Statement* s, Statement::WText(&t)[3]) {
    return s->getSpecialColumns(env, SQL_BEST_ROWID, t[0], t[1], t[2], odbcScope, odbcNullable);
  });
}

jobject DatabaseMetaData::getVersionColumns(JNIEnv* env, jstring catalog, jstring schema,
                                            jstring table) {
  const jstring args[] = {catalog, schema, table};
  return RunCatalog(env, this, args, [&](Statement* s, Statement::WText(&t)[3]) {
    return s->getSpecialColumns(env, SQL_ROWVER, t[0], t[1], t[2], SQL_SCOPE_SESSION,
                                SQL_NULLABLE);
  });
}

jobject DatabaseMetaData::getTablePrivileges(JNIEnv* env, jstring catalog, jstring schema,
                                             jstring table) {
  const jstring args[] = {catalog, schema, table};
  return RunCatalog(env, this, args, [&](Statement* s, Statement::WText(&t)[3]) {
    return s->getTablePrivileges(env, t[0], t[1], t[2]);
  });
}

jobject DatabaseMetaData::getColumnPrivileges(JNIEnv* env, jstring catalog, jstring schema,
                                              jstring table, jstring column) {
  const jstring args[] = {catalog, schema, table, column};
  return RunCatalog(env, this, args, [&](Statement* s, Statement::WText(&t)[4]) {
    return s->getColumnPrivileges(env, t[0], t[1], t[2], t[3]);
  });
}

jobject DatabaseMetaData::getTypeInfo(JNIEnv* env) {
  Statement* stmt = allocStatement(env);
  if (stmt == nullptr || !stmt->getTypeInfo(env)) return nullptr;
  return stmt->getResultSet(env);
}

jobject DatabaseMetaData::rawCatalogResult(JNIEnv* env, Statement* stmt, short a, short b) {
  ResultSet* rset = stmt->getRawResultSet(env);
  if (rset == nullptr) return nullptr;
  if (a != b) rset->switchColumns(a, b);
  jobject made = stmt->adoptResultSet(env, rset);
  return made != nullptr ? env->NewLocalRef(made) : nullptr;
}

jobject DatabaseMetaData::getTableTypes(JNIEnv* env) {
  Statement* stmt = allocStatement(env);
  if (stmt == nullptr || !stmt->getTableTypes(env)) return nullptr;
  // TABLE_TYPE first, the catalog fourth.
  return rawCatalogResult(env, stmt, 1, 4);
}

jobject DatabaseMetaData::getSchemas(JNIEnv* env) {
  Statement* stmt = allocStatement(env);
  if (stmt == nullptr || !stmt->getSchemas(env)) return nullptr;
  // TABLE_SCHEM first.
  return rawCatalogResult(env, stmt, 1, 2);
}

jobject DatabaseMetaData::getCatalogs(JNIEnv* env) {
  Statement* stmt = allocStatement(env);
  if (stmt == nullptr || !stmt->getCatalogs(env)) return nullptr;
  return rawCatalogResult(env, stmt, 1, 1);
}

// ---- Function lists -------------------------------------------------------------------------

bool DatabaseMetaData::functionListSQL(JNIEnv* env, SQLUSMALLINT item, char* out,
                                       std::size_t size) {
  const FunctionName* names = nullptr;
  std::size_t count = 0;
  switch (item) {
    case SQL_NUMERIC_FUNCTIONS:
      names = kNumericFunctions;
      count = sizeof(kNumericFunctions) / sizeof(kNumericFunctions[0]);
      break;
    case SQL_STRING_FUNCTIONS:
      names = kStringFunctions;
      count = sizeof(kStringFunctions) / sizeof(kStringFunctions[0]);
      break;
    case SQL_SYSTEM_FUNCTIONS:
      names = kSystemFunctions;
      count = sizeof(kSystemFunctions) / sizeof(kSystemFunctions[0]);
      break;
    case SQL_TIMEDATE_FUNCTIONS:
      names = kTimeDateFunctions;
      count = sizeof(kTimeDateFunctions) / sizeof(kTimeDateFunctions[0]);
      break;
    default:
      return false;
  }
  SQLUINTEGER mask = 0;
  if (!getSQLInfo(env, item, &mask, sizeof(mask), nullptr)) return false;
  std::size_t used = 0;
  auto append = [&](const char* text) {
    const std::size_t n = std::strlen(text);
    // Every list fits with room to spare; a text that did not would be cut, never
    // written past the buffer.
    if (used + n + 1 > size) return;
    std::memcpy(out + used, text, n);
    used += n;
    out[used] = '\0';
  };
  out[0] = '\0';
  append("SELECT '");
  bool first = true;
  for (std::size_t i = 0; i < count; ++i) {
    if ((mask & (SQLUINTEGER{1} << names[i].bit)) == 0) continue;
    if (!first) append(",");
    append(names[i].name);
    first = false;
  }
  append("'");
  return true;
}

jobject DatabaseMetaData::functionList(JNIEnv* env, SQLUSMALLINT item) {
  char sql[kFunctionListBytes];
  if (!functionListSQL(env, item, sql, sizeof(sql))) return nullptr;
  return execSQL(env, sql);
}

jobject DatabaseMetaData::getNumericFunctions(JNIEnv* env) {
  return functionList(env, SQL_NUMERIC_FUNCTIONS);
}

jobject DatabaseMetaData::getStringFunctions(JNIEnv* env) {
  return functionList(env, SQL_STRING_FUNCTIONS);
}

jobject DatabaseMetaData::getSystemFunctions(JNIEnv* env) {
  return functionList(env, SQL_SYSTEM_FUNCTIONS);
}

jobject DatabaseMetaData::getTimeDateFunctions(JNIEnv* env) {
  return functionList(env, SQL_TIMEDATE_FUNCTIONS);
}

// ---- Product version ----------------------------------------------------------------------------

jstring DatabaseMetaData::getDatabaseProductVersion(JNIEnv* env) {
  jobject rs = execSQL(env, "select @@version");
  if (rs == nullptr) return nullptr;
  jstring version = nullptr;
  if (env->MonitorEnter(rs) == JNI_OK) {
    auto* peer = static_cast<ResultSet*>(NOSE()->getNonNullNativeObj(env, rs, "ResultSet"));
    if (peer != nullptr) {
      (void)peer->next(env);
      // An empty result raises NOT_ON_ROW here and gives null.
      if (!env->ExceptionCheck()) version = peer->getString(env, 1);
    }
    env->MonitorExit(rs);
  }
  // The result set stays open; its statement stays cached until evicted or finished.
  env->DeleteLocalRef(rs);
  return version;
}
