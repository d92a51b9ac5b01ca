#include "streams/port.h"

#include <cstring>

#include "streams/host_functions.h"
#include "utils/base/memory.h"

namespace vq::strm {

a_machine_addr* NewMachineAddr(std::uint8_t type, const char* text) {
  const std::size_t len = text != nullptr ? std::strlen(text) : 0;
  const std::uint8_t n = static_cast<std::uint8_t>(len > 255 ? 255 : len);
  auto* addr = static_cast<a_machine_addr*>(ut_alloc(kMachineAddrFixedBytes + n));
  addr[0] = type;
  addr[1] = n;
  if (n != 0) std::memcpy(addr + 2, text, n);
  addr[2 + n] = 0;
  return addr;
}

a_machine_addr* CopyMachineAddr(const a_machine_addr* addr) {
  if (addr == nullptr) return nullptr;
  return static_cast<a_machine_addr*>(ut_memdup(addr, MachineAddrBytes(addr)));
}

}  // namespace vq::strm

void c_strm_port::format_machine_addr(const a_machine_addr*, char* text, unsigned int size) {
  if (text != nullptr && size != 0) text[0] = '\0';
}

c_strm_pconn::~c_strm_pconn() {
  ut_free(machine_addr);
  ut_free(server_name);
  vq::strm::HostCtxRelease(host_ctx);
}

a_machine_addr* c_strm_pconn::get_local_machine_addr() {
  return vq::strm::NewMachineAddr(STRM_PORT_UNKNOWN, nullptr);
}

a_machine_addr* c_strm_pconn::get_machine_addr() const {
  return vq::strm::CopyMachineAddr(machine_addr);
}

void c_strm_pconn::set_host_ctx(void* ctx) {
  vq::strm::HostCtxAddRef(ctx);
  vq::strm::HostCtxRelease(host_ctx);
  host_ctx = ctx;
}
