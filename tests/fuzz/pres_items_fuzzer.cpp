// Fuzz target of the presentation layer's item reader: arbitrary data packets from the
// server, read as items, long values (in pieces of any capacity), server messages and
// file-transfer requests. Every length is checked against its packet (ASan sees any
// read past a buffer); the reader ends with a result code, never a crash or a hang.
//
// Input: byte 0 chooses the piece form and the capacity of piece reads; then packets,
// each a 2-byte length (little-endian, cut to the buffer), a status byte and the items.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "../unit/streams/pres_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool new_form = (data[0] & 1) != 0;
  const std::uint32_t capacity = 1 + (data[0] >> 1) * 3;
  ++data;
  --size;

  vq::testing::PresHarness pres(1024, new_form);
  while (size >= 3) {
    std::size_t n = static_cast<std::size_t>(data[0] | (data[1] << 8)) % 1021;
    const std::uint8_t status = data[2] & PKT_STATUS_EOM;
    data += 3;
    size -= 3;
    if (n > size) n = size;
    std::vector<std::uint8_t> items(data, data + n);
    data += n;
    size -= n;
    if (!pres.DeliverItems(items, status != 0)) break;
  }

  std::vector<std::uint8_t> value(4096);
  for (int steps = 0; steps < 10000; ++steps) {
    std::uint8_t code = 0, length = 0;
    const std::uint8_t* payload = nullptr;
    const a_sqlpres_code rc = SQLPresReceive(pres.h(), &code, &length, &payload);
    if (rc != SQLPRES_OK && rc != SQLPRES_SERVER_CLOSED) break;
    if (payload != nullptr) {
      volatile std::uint8_t sink = 0;
      for (std::uint8_t i = 0; i < length; ++i) sink = sink ^ payload[i];
    }
    if (length != SQLPRES_LONG_LENGTH) continue;
    std::uint32_t total = 0;
    if (SQLPresReceiveBegin(pres.h(), &total) != SQLPRES_OK) break;
    for (;;) {
      std::uint8_t* at = value.data();
      const std::uint32_t room = capacity < value.size() ? capacity : 4096;
      if (SQLPresReceivePieceSafe(pres.h(), &at, room) == 0) break;
    }
    if (SQLPresReceiveEnd(pres.h()) != SQLPRES_OK) break;
  }
  SQLPresFiniRequest(pres.h());
  return 0;
}
