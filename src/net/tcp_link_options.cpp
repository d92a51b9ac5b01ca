// The TCP/IP link's option table and the settings derived from it.
#include "net/tcp_link_options.h"

#include <cstdio>

#include "net/ip_address.h"
#include "net/link_printer.h"
#include "net/tcp_util.h"
#include "utils/base/bounded_strings.h"
#include "utils/base/memory.h"

namespace {

constexpr a_port_option kTemplate[TCP_OPT_ROWS + 1] = {
    {"Host", "IP", {0}, 0, PORT_OPT_STRING_LIST},
    {"Broadcast", "BCAST", {0}, 0, PORT_OPT_STRING_LIST},
    {"Timeout", "TO", {0}, 0, PORT_OPT_NUMBER},
    {"DoBroadcast", "DoBroad", {0}, 0, PORT_OPT_STRING},
    {"ServerPort", "Port", {0}, 0, PORT_OPT_NUMBER_LIST},
    {"MyIP", "Me", {0}, 0, PORT_OPT_STRING_LIST},
    {"ReceiveBufferSize", "RcvBufSz", {0}, 0, PORT_OPT_SIZED_NUMBER},
    {"SendBufferSize", "SndBufSz", {0}, 0, PORT_OPT_SIZED_NUMBER},
    {"LocalOnly", "LO", {0}, 0, PORT_OPT_BOOLEAN},
    {"ClientPort", "CPort", {0}, 0, PORT_OPT_NUMBER_LIST},
    {"VerifyServerName", "Verify", {0}, 0, PORT_OPT_BOOLEAN},
    {"LDAP", "LDAP", {0}, 0, PORT_OPT_STRING},
    {"ipv6", "v6", {0}, 0, PORT_OPT_STRING},
    {nullptr, nullptr, {0}, 0, 0},
};

}  // namespace

void tcp_option_template(a_tcp_options* options) {
  for (unsigned i = 0; i <= TCP_OPT_ROWS; ++i) options->rows[i] = kTemplate[i];
}

a_ipv6_status GetIPv6Status(const a_tcp_options* options) {
  const a_port_option& row = options->rows[TCP_OPT_IPV6];
  if (row.count == 0 || port_option_on(&row) != 0) return IPV6_BOTH;
  if (port_option_off(&row) != 0) return IPV6_OFF;
  const char* text = static_cast<const char*>(row.value.pointer);
  if (text != nullptr && ut_stricmp(text, "only") == 0) return IPV6_ONLY;
  return IPV6_BOTH;
}

const char* first_option_text(const a_tcp_options* options, a_tcp_option_row row) {
  const a_port_option& r = options->rows[row];
  if (r.count == 0 || r.value.pointer == nullptr) return nullptr;
  return static_cast<char* const*>(r.value.pointer)[0];
}

const char* do_broadcast_text(const a_tcp_options* options) {
  const a_port_option& r = options->rows[TCP_OPT_DO_BROADCAST];
  return r.count != 0 ? static_cast<const char*>(r.value.pointer) : nullptr;
}

a_discovery_mode tcp_discovery_mode(const a_tcp_options* options) {
  const char* text = do_broadcast_text(options);
  if (text == nullptr)
    return options->rows[TCP_OPT_HOST].count != 0 ? DISCOVERY_DIRECT : DISCOVERY_ALL;
  if (ut_stricmp(text, "NONE") == 0) return DISCOVERY_NONE;
  if (ut_stricmp(text, "DIRECT") == 0 || ut_stricmp(text, "NO") == 0) return DISCOVERY_DIRECT;
  return DISCOVERY_ALL;
}

unsigned _get_broadcast_timeout(const a_tcp_options* options, c_tcp_link_printer* printer) {
  const a_port_option& row = options->rows[TCP_OPT_TIMEOUT];
  if (row.count != 1) return kDefaultLinkTimeoutSeconds;
  if (printer != nullptr) {
    char text[16];
    std::snprintf(text, sizeof text, "%u", row.value.number);
    printer->message(true, 6323, text);
  }
  return row.value.number;
}

bool prep_ports(a_tcp_options* options) {
  a_port_option& row = options->rows[TCP_OPT_SERVER_PORT];
  if (row.count != 0 && row.value.pointer != nullptr) return true;
  auto* ports = static_cast<std::uint16_t*>(ut_malloc(sizeof(std::uint16_t)));
  if (ports == nullptr) return false;
  ports[0] = kDefaultServerPort;
  row.value.pointer = ports;
  row.count = 1;
  return true;
}

const std::uint16_t* server_ports(const a_tcp_options* options, unsigned* count) {
  const a_port_option& row = options->rows[TCP_OPT_SERVER_PORT];
  *count = row.value.pointer != nullptr ? static_cast<unsigned>(row.count) : 0;
  return static_cast<const std::uint16_t*>(row.value.pointer);
}

bool check_address_family(const IPAddress& address, a_ipv6_status status, bool report,
                          c_tcp_link_printer* printer) {
  const bool ipv6 = address.isIPv6Address() != 0;
  std::int32_t refusal = 0;
  if (ipv6 && (TcpUtil::IsIPv6Supported() == 0 || status == IPV6_OFF))
    refusal = 17188;
  else if (!ipv6 && status == IPV6_ONLY)
    refusal = 17189;
  if (refusal == 0) return true;
  if (report && printer != nullptr) {
    char text[80] = "";
    address.toString(text, sizeof text, 1, 0, 1);
    printer->message(true, refusal, text);
  }
  return false;
}
