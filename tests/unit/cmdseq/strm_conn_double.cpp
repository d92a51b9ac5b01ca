// The stand-in of strm_conn_double.h.
#include "strm_conn_double.h"

#include <cstdio>
#include <map>
#include <mutex>

namespace {

std::mutex g_mutex;
std::string g_address = "127.0.0.1:2638";
std::map<a_strm_conn, std::uintptr_t> g_user_data;

}  // namespace

namespace vq::testing {

void SetPrintableAddress(const std::string& text) {
  std::lock_guard<std::mutex> hold(g_mutex);
  g_address = text;
}

std::uintptr_t UserDataOf(a_strm_conn sconn, std::uintptr_t absent) {
  std::lock_guard<std::mutex> hold(g_mutex);
  const auto it = g_user_data.find(sconn);
  return it != g_user_data.end() ? it->second : absent;
}

void SetUserDataOf(a_strm_conn sconn, std::uintptr_t value) {
  std::lock_guard<std::mutex> hold(g_mutex);
  g_user_data[sconn] = value;
}

}  // namespace vq::testing

void StrmGetPrintableMachineAddr(a_strm_conn, char* buffer, std::uint16_t size) {
  std::lock_guard<std::mutex> hold(g_mutex);
  std::snprintf(buffer, size, "%s", g_address.c_str());
}

void StrmSetUserData(a_strm_conn sconn, std::uintptr_t value) {
  vq::testing::SetUserDataOf(sconn, value);
}
