// The stream functions of strm_fake.h.
#include "strm_fake.h"

#include <algorithm>
#include <cstring>

#include "streams/stream_api.h"
#include "strm_client_double.h"
#include "utils/base/memory.h"

StrmFake& strm_fake() {
  static StrmFake fake;
  return fake;
}

void strm_fake_reset() { strm_fake() = StrmFake{}; }

unsigned StrmGetEngineRandomData(a_strm_conn, unsigned char* buffer, unsigned size) {
  const Bytes& r = strm_fake().random;
  const unsigned n = static_cast<unsigned>(std::min<std::size_t>(r.size(), size));
  if (n != 0) std::memcpy(buffer, r.data(), n);
  return n;
}

int StrmGetPortType(a_strm_conn) { return strm_fake().port_type; }
int StrmIsConnectedToDefaultEngine(a_strm_conn) { return strm_fake().default_engine ? 1 : 0; }

// Kept with the connection's other words (strm_client_double.h), where
// StrmGetCallbackData reads it; connections are made on several threads at once.
void StrmSetCallbackData(a_strm_conn sconn, std::uintptr_t value) {
  vq::testing::Words(sconn).callback_data = value;
}

unsigned char* StrmGetLocalMachineAddr(a_strm_conn) {
  const std::string& a = strm_fake().local_address;
  auto* rec = static_cast<unsigned char*>(ut_alloc(a.size() + 3));
  rec[0] = static_cast<unsigned char>(strm_fake().address_type);
  rec[1] = 0;
  std::memcpy(rec + 2, a.c_str(), a.size() + 1);
  return rec;
}

void StrmFreeMachineAddr(unsigned char* record) { ut_free(record); }
