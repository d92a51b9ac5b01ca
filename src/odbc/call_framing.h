// The frame every exported ODBC entry point puts around its implementation: the framing
// operation of its handle kind (validity and process tests, the connection's lock,
// cleared diagnostics), the work, the release, and the work's result. A framing that
// refuses the call returns its own result at once (-1 or SQL_INVALID_HANDLE) with no
// diagnostic. Anything thrown by the work becomes HY001 on the handle: no C++ exception
// leaves an entry point.
#ifndef VQ_ODBC_CALL_FRAMING_H
#define VQ_ODBC_CALL_FRAMING_H

#include <sql.h>
#include <sqlext.h>

#include "odbc/diagnostics.h"
#include "odbc/handles.h"

namespace vq::odbc {

inline tagOBJECT* Obj(SQLHANDLE h) { return static_cast<tagOBJECT*>(h); }

// The answer of an entry point whose implementation the driver does not have.
inline SQLRETURN NotBuilt(tagOBJECT* h) { return PostSQLState(h, kStateHYC00, kStateS1C00); }

// Runs an implementation; anything thrown becomes HY001 on the handle.
template <typename Body>
SQLRETURN Guarded(tagOBJECT* h, Body&& body) noexcept {
  try {
    return body(h);
  } catch (...) {
    try {
      return PostSQLState(h, kStateHY001, kStateS1001);
    } catch (...) {
      return SQL_ERROR;
    }
  }
}

// E: Init_env, the work, nothing released.
template <typename Body>
SQLRETURN EnvCall(SQLHANDLE h, Body&& body) noexcept {
  if (SQLRETURN refused = Init_env(h); refused != 0) return refused;
  return Guarded(Obj(h), body);
}

// C: Init_dbc, the work, Fini_dbc.
template <typename Body>
SQLRETURN DbcCall(SQLHANDLE h, Body&& body) noexcept {
  if (SQLRETURN refused = Init_dbc(h); refused != 0) return refused;
  const SQLRETURN rc = Guarded(Obj(h), body);
  Fini_dbc(h);
  return rc;
}

// S: Init_stmt, the work, Fini_stmt.
template <typename Body>
SQLRETURN StmtCall(SQLHANDLE h, Body&& body) noexcept {
  if (SQLRETURN refused = Init_stmt(h); refused != 0) return refused;
  const SQLRETURN rc = Guarded(Obj(h), body);
  Fini_stmt(h);
  return rc;
}

// D: Init_desc, the work, Fini_desc.
template <typename Body>
SQLRETURN DescCall(SQLHANDLE h, Body&& body) noexcept {
  if (SQLRETURN refused = Init_desc(h); refused != 0) return refused;
  const SQLRETURN rc = Guarded(Obj(h), body);
  Fini_desc(h);
  return rc;
}

// G: Init_object(handle, type), the work, Fini_object.
template <typename Body>
SQLRETURN DiagCall(SQLSMALLINT type, SQLHANDLE h, Body&& body) noexcept {
  if (SQLRETURN refused = Init_object(h, type); refused != 0) return refused;
  const SQLRETURN rc = Guarded(Obj(h), body);
  Fini_object(h, type);
  return rc;
}

}  // namespace vq::odbc

#endif  // VQ_ODBC_CALL_FRAMING_H
