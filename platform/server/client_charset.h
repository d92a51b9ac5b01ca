// The character set a client connection speaks, and the conversion between it and the
// database's UTF-8. A client names its set in the app-connect record (or later by a
// charset request); the server takes any set the system's iconv knows and otherwise
// stays with UTF-8. A character with no form on the other side is an error, never a
// substitute: the caller reports it with conversion_error().
#pragma once

#include <iconv.h>

#include <string>

#include "sql_error.h"

namespace vqeng {

class ClientCharset {
 public:
  ClientCharset() = default;
  ~ClientCharset();
  ClientCharset(const ClientCharset&) = delete;
  ClientCharset& operator=(const ClientCharset&) = delete;

  // Switches to the set `label` names; false (nothing changed) when iconv has no
  // converter for it. "UTF-8" and its spellings need none.
  bool open(const std::string& label);
  // The set's name as the client gave it; "UTF-8" until open() succeeds.
  const std::string& name() const { return name_; }
  bool is_utf8() const { return to_db_ == nullptr; }

  // Client text to UTF-8 and back. False when `in` holds a sequence the source set
  // does not define or a character the target set lacks; `out` is then unspecified.
  bool to_db(const std::string& in, std::string& out) const;
  bool from_db(const std::string& in, std::string& out) const;

 private:
  void close();

  std::string name_ = "UTF-8";
  iconv_t to_db_ = nullptr;    // client set -> UTF-8; null for a UTF-8 client
  iconv_t from_db_ = nullptr;  // UTF-8 -> client set
};

// The error a statement, parameter or row fails with when its text does not convert:
// SQL code -883, ODBC state 22018.
SqlError conversion_error(const std::string& charset);

}  // namespace vqeng
