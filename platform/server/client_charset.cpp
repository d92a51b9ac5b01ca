// iconv in both directions. iconv's own error on an unmappable character (EILSEQ) is
// what we want: no //TRANSLIT or //IGNORE, so nothing is replaced or dropped quietly.
#include "client_charset.h"

#include <cerrno>
#include <strings.h>

namespace vqeng {
namespace {

bool is_utf8_label(const std::string& label) {
  return strcasecmp(label.c_str(), "UTF-8") == 0 || strcasecmp(label.c_str(), "UTF8") == 0 ||
         strcasecmp(label.c_str(), "utf-8") == 0;
}

iconv_t open_pair(const char* to, const char* from) {
  iconv_t c = iconv_open(to, from);
  return c == reinterpret_cast<iconv_t>(-1) ? nullptr : c;
}

bool convert(iconv_t c, const std::string& in, std::string& out) {
  out.clear();
  if (c == nullptr) {
    out = in;
    return true;
  }
  (void)iconv(c, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  char* src = const_cast<char*>(in.data());
  std::size_t left = in.size();
  char chunk[1024];
  while (left > 0) {
    char* dst = chunk;
    std::size_t room = sizeof chunk;
    const std::size_t rc = iconv(c, &src, &left, &dst, &room);
    out.append(chunk, sizeof chunk - room);
    if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) return false;  // EILSEQ, EINVAL
  }
  char* dst = chunk;
  std::size_t room = sizeof chunk;
  if (iconv(c, nullptr, nullptr, &dst, &room) == static_cast<std::size_t>(-1)) return false;
  out.append(chunk, sizeof chunk - room);
  return true;
}

}  // namespace

ClientCharset::~ClientCharset() { close(); }

void ClientCharset::close() {
  if (to_db_ != nullptr) iconv_close(to_db_);
  if (from_db_ != nullptr) iconv_close(from_db_);
  to_db_ = from_db_ = nullptr;
}

bool ClientCharset::open(const std::string& label) {
  if (label.empty()) return false;
  if (is_utf8_label(label)) {
    close();
    name_ = "UTF-8";
    return true;
  }
  iconv_t to = open_pair("UTF-8", label.c_str());
  iconv_t from = to != nullptr ? open_pair(label.c_str(), "UTF-8") : nullptr;
  if (from == nullptr) {
    if (to != nullptr) iconv_close(to);
    return false;
  }
  close();
  to_db_ = to;
  from_db_ = from;
  name_ = label;
  return true;
}

bool ClientCharset::to_db(const std::string& in, std::string& out) const {
  return convert(to_db_, in, out);
}

bool ClientCharset::from_db(const std::string& in, std::string& out) const {
  return convert(from_db_, in, out);
}

SqlError conversion_error(const std::string& charset) {
  return sql_error(-883, "Character set conversion error: a character has no form in " +
                             charset, {charset});
}

}  // namespace vqeng
