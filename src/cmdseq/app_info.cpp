// The application information of the database-connect request: who connects (address,
// host, user, system, program, process, thread, client version, interface, time zone)
// followed by the application's own AppInfo text, as one "key=value;..." text.
#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "cmdseq/connect.h"
#include "config/conn_string.h"
#include "net/ip_address.h"
#include "net/network_interface.h"
#include "net/tcp_util.h"
#include "streams/stream_api.h"
#include "utils/base/file_locations.h"
#include "utils/base/memory.h"
#include "utils/base/os_info.h"
#include "utils/base/timer_tick.h"

namespace {

constexpr std::size_t kFirstCapacity = 256;
constexpr unsigned kPortTypeTcp = 6;

// A growing text of pairs: whenever the running length would exceed the capacity, the
// capacity becomes the needed length plus 256.
class PairText {
 public:
  PairText() : buf_(static_cast<char*>(ut_malloc(kFirstCapacity))), cap_(kFirstCapacity) {
    if (buf_ != nullptr) buf_[0] = '\0';
  }
  ~PairText() { ut_free(buf_); }
  bool ok() const { return buf_ != nullptr; }
  void add(const char* key, const char* value) {
    if (buf_ == nullptr || value == nullptr || *value == '\0') return;
    std::size_t need = len_;
    BuildConnectStringCalcLen(&need, key, value, ';');
    if (need + 1 > cap_) {
      char* grown = static_cast<char*>(ut_realloc(buf_, need + 1 + kFirstCapacity));
      buf_ = grown;
      cap_ = need + 1 + kFirstCapacity;
    }
    BuildConnectStringAppend(buf_, key, value, ';');
    len_ = std::strlen(buf_);
  }
  char* release() {
    char* out = buf_;
    buf_ = nullptr;
    return out;
  }

 private:
  char* buf_;
  std::size_t cap_;
  std::size_t len_ = 0;
};

// The client's address: over TCP/IP the interface in the subnet of the link end's own
// address; otherwise the first IPv4 interface other than the loopback.
bool client_ip(a_cmdseq_conn* conn, char* out, unsigned size) {
  out[0] = '\0';
  std::uint32_t count = 0;
  NetworkInterface_list* list = TcpUtil::GetNIList(&count);
  if (list == nullptr) return false;
  unsigned char* record = conn->strm_conn != nullptr ? StrmGetLocalMachineAddr(conn->strm_conn)
                                                     : nullptr;
  bool found = false;
  if (record != nullptr && record[0] == kPortTypeTcp) {
    IPAddress local;
    const char* text = reinterpret_cast<const char*>(record + 2);
    if (TcpUtil::Resolve(text, local, TcpUtil::kBoth) != 0) {
      for (NetworkInterface_iter it(*list); !it.at_end() && !found; it.next()) {
        NetworkInterface* ni = it.element();
        if (ni->isAddressInSameSubnet(local)) found = ni->getIPAddress(out, size) != 0;
      }
    }
  } else {
    for (NetworkInterface_iter it(*list); !it.at_end() && !found; it.next()) {
      NetworkInterface* ni = it.element();
      if (ni->isLoopback() || ni->getIPAddress().isIPv6Address() != 0) continue;
      found = ni->getIPAddress(out, size) != 0;
    }
  }
  if (record != nullptr) StrmFreeMachineAddr(record);
  if (!found) out[0] = '\0';
  return found;
}

// The interface the environment was given a name for, else the one its application type
// stands for; null when neither says.
const char* api_name(const a_cmdseq_env* env) {
  if (env != nullptr && env->api_name != nullptr && env->api_name[0] != '\0')
    return env->api_name;
  switch (env != nullptr ? env->app_type : 0) {
    case 1: return "VCLIB";
    case 2: return "ODBC";
    case 3: return "OLEDB";
    case 4: return "ADO.NET";
    default: return nullptr;
  }
}

}  // namespace

char* i_cs_BuildAppInfo(a_cmdseq_conn* conn, const char* appinfo) {
  PairText text;
  if (!text.ok()) return nullptr;
  char ip[64];
  if (client_ip(conn, ip, sizeof ip)) text.add("IP", ip);
  char host[256] = {};
  GetMachineHostName(host, sizeof host);
  text.add("HOST", host);
  if (conn->server_strm_ver > 12) {
    char user[256] = {};
    if (ut_GetUserName(user, sizeof user)) text.add("OSUSER", user);
  }
  char os[256] = {};
  GetCompactOSVersionString(os, sizeof os);
  text.add("OS", os);
  char exe[255] = {};
  if (LS_GetExecFileName(exe, sizeof exe) == 0) exe[0] = '\0';
  text.add("EXE", exe);
  char number[48];
  std::snprintf(number, sizeof number, "0x%x", static_cast<unsigned>(getpid()));
  text.add("PID", number);
  std::snprintf(number, sizeof number, "0x%lx", static_cast<unsigned long>(pthread_self()));
  text.add("THREAD", number);
  std::snprintf(number, sizeof number, "%d.%d.%d.%d", 12, 0, 0, 2566);
  text.add("VERSION", number);
  text.add("API", api_name(conn->env));
  // Seconds east of UTC to minutes, truncated toward zero.
  std::snprintf(number, sizeof number, "%d", static_cast<int>(GetCurrentTimeZoneAdjustment() / 60));
  text.add("TIMEZONEADJUSTMENT", number);
  text.add("APPINFO", appinfo);
  return text.release();
}
