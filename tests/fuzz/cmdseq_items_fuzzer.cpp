// Fuzz target of the command-sequence reply readers: any stream of presentation items
// (with sync points and presentation failures mixed in) is read as a status reply, a
// set of rows into a descriptor of every data type, a column description, one optional
// value, or values skipped one by one. No reader writes outside its buffers, every
// reader returns, and the error block and descriptor come back whole.
//
// Input: one selector byte (reader, character width, application type, buffer size),
// then items in their wire form as the scripted presentation layer reads them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cmdseq/client.h"
#include "cmdseq/desc.h"
#include "cmdseq/error_info.h"
#include "cmdseq/request.h"
#include "cmdseq/wire_values.h"
#include "pres_double.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

constexpr std::uint8_t kGuardByte = 0xA5;
constexpr std::size_t kGuard = 16;

// Every data type the client knows, with its subtype.
constexpr std::int16_t kTypes[][2] = {
    {-31, 0}, {-30, 0}, {-29, 0}, {-28, 0}, {-27, 0}, {-26, 0}, {-25, 0}, {-24, 0},
    {-23, 0}, {-22, 0}, {-21, 0}, {-7, 0},  {-6, 0},  {-5, 0},  {-4, 0},  {-2, 0},
    {-1, 0},  {1, 0},   {2, 0},   {3, 0},   {4, 0},   {5, 0},   {6, 0},   {7, 0},
    {8, 0},   {9, 1},   {9, 2},   {9, 3},   {12, 0},
};
constexpr std::size_t kTypeCount = sizeof kTypes / sizeof kTypes[0];
constexpr std::uint32_t kRows = 2;

// Guarded value buffers: at least 16 bytes (the largest fixed-size value) per value.
struct Buffers {
  std::uint32_t size;
  std::vector<std::uint8_t> memory;
  std::vector<std::int32_t> indicators;
  std::vector<std::uint32_t> lengths;

  explicit Buffers(std::uint32_t size)
      : size(size),
        memory(kTypeCount * kRows * (Stride(size)) + kGuard, kGuardByte),
        indicators(kTypeCount * kRows),
        lengths(kTypeCount * kRows) {}
  static std::size_t Stride(std::uint32_t size) { return kGuard + (size < 16 ? 16 : size); }
  std::uint8_t* value(std::size_t k) { return memory.data() + kGuard + k * Stride(size); }
  void check_guards() const {
    for (std::size_t k = 0; k <= kTypeCount * kRows; ++k) {
      const std::uint8_t* guard = memory.data() + k * Stride(size);
      for (std::size_t i = 0; i < kGuard; ++i) Check(guard[i] == kGuardByte);
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t selector = data[0];
  static const std::uint32_t kSizes[] = {0, 3, 8, 300};

  a_cmdseq_env env;
  a_strm_conn_rec sconn;
  sconn.wire(data + 1, size - 1);
  auto* conn = new a_cmdseq_conn(&env, &sconn);
  conn->add_ref();
  conn->char_width = (selector & 0x08) != 0 ? 2 : 1;
  i_cs_SetAppType((selector & 0x10) != 0 ? 1 : 2);
  a_cmdseq_error_info err;
  CmdSeqInitErrorParam(&env, &err, 0);

  a_cmdseq_desc desc;
  CmdSeqInitDesc(&desc);
  Buffers buffers(kSizes[(selector >> 5) & 3]);
  bool fill = true;
  switch (selector & 7) {
    case 0: {  // a whole request with a status reply and information items
      a_cmdseq_return r = i_cs_StartRequest(conn, &err);
      if (r == CMDSEQ_OK) r = i_cs_SendRequest(conn, &err);
      if (r == CMDSEQ_OK) {
        r = i_cs_ReceiveSuccessOrError(conn, &err);
        if (i_cs_ReplyRead(r)) {
          std::uint32_t values[kInfoSlots] = {};
          std::uint32_t* slots[kInfoSlots];
          for (unsigned i = 0; i < kInfoSlots; ++i) slots[i] = &values[i];
          const a_cmdseq_return info = i_cs_ReceiveAllInfo(conn, &err, slots);
          if (info != CMDSEQ_OK) r = info;
        }
        i_cs_EndRequest(conn, &err, r);
      }
      fill = false;
      break;
    }
    case 2: {  // a column description
      bool final = false;
      i_cs_ReceiveDescribeSeq(conn, &err, &desc, (selector & 0x80) != 0, &final);
      for (a_cmdseq_desc_item* item = desc.items; item != nullptr; item = item->next) {
        if (item->name != nullptr) Check(std::strlen(item->name) <= kMaxReplyTextBytes);
      }
      fill = false;
      break;
    }
    case 4:  // values skipped one by one
      for (int i = 0; i < 64; ++i) {
        bool end = false, eod = false;
        if (i_cs_ThrowAwayColumn(conn, &err, &end, &eod, (selector & 0x80) != 0) > 5 || end)
          break;
      }
      fill = false;
      break;
    default:
      break;
  }
  if (fill) {
    Check(CmdSeqAllocDescItems(&desc, kTypeCount, kRows) == CMDSEQ_OK);
    std::size_t k = 0;
    for (a_cmdseq_desc_item* item = desc.items; item != nullptr; item = item->next) {
      const std::size_t t = k / kRows;
      item->type = kTypes[t][0];
      item->subtype = kTypes[t][1];
      item->length = buffers.size;
      for (std::uint32_t row = 0; row < kRows; ++row, ++k) {
        item->values()[row] = {buffers.value(k), &buffers.indicators[k], &buffers.lengths[k]};
      }
    }
    if ((selector & 7) == 6) {
      i_cs_ReceiveOptionalVal(conn, &err, &desc);
    } else {
      i_cs_ReceiveValueSet(conn, &err, &desc);
    }
    buffers.check_guards();
  }

  // The error block holds a whole parameter list and a terminated message.
  for (const a_cmdseq_str_node* n = err.params; n != nullptr; n = n->next) {
    Check(std::strlen(n->text) <= kMaxReplyTextBytes);
  }
  if (err.message != nullptr) Check(std::strlen(err.message) <= kMaxReplyTextBytes);
  Check(conn->in_request.load() == 0 || (selector & 7) != 0);

  CmdSeqFreeDescItems(&desc);
  CmdSeqFiniErrorParam(&err);
  i_cs_RemoveConnection(conn);
  conn->release();
  i_cs_SetAppType(0);
  return 0;
}
