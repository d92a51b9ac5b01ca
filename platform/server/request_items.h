// Item codes of the requests and replies the stand-in server reads and writes,
// and small helpers shared by the files that implement Session.
#pragma once

#include <cctype>
#include <cstdint>
#include <string>

namespace vqeng {

enum RequestItem : std::uint8_t {
  kReqFind = 1,
  kReqServerInfo = 6,
  kReqStartDatabase = 7,
  kReqTimeZone = 3,
  kReqCharset = 4,
  kReqNcharCharset = 5,
  kReqShutdown = 8,
  kReqStopDatabase = 9,
  kReqPoolReuse = 14,
  kReqPoolPark = 15,
  kReqConnect = 16,
  kReqKerberosToken = 18,  // a Kerberos token, either way
  kReqDisconnect = 19,
  kReqSecurePart = 20,
  kReqValidate = 21,
  kReqPrepare = 22,
  kReqDrop = 23,
  kReqExecute = 24,
  kReqExecImmediate = 25,
  kReqDescribeInput = 27,
  kReqDescribeOutput = 28,
  kReplyParams = 30,
  kReplyStmtHandle = 29,
  kReqCachedDrop = 32,
  kReqOpen = 33,
  kReqClose = 34,
  kReqFetch = 35,
  kReqPrefetch = 36,
  kReqAlign = 37,
  kReqGetData = 38,
  kReqPut = 39,
  kReqUpdate = 40,
  kReqDelete = 41,
  kReqResume = 42,
  kReqExplain = 43,
  kReplyCursor = 44,
  kReqDescribeCursorInput = 45,
  kReqDescribeCursorOutput = 46,
  kReqCursorCheck = 47,
  kReqCloseByName = 48,
  kReqSetOption = 49,
  kReqGetOption = 50,
  kReqDeleteFile = 53,
  kReqNeedsQuotes = 56,
  kReqCommit = 58,
  kReqRollback = 59,
  kReqPrepareCommit = 60,
  kStatusError = 65,  // 'A'
  kStatusOk = 66,     // 'B'
  kInfo32 = 67,       // 'C'
  kReqRowDescription = 69,
  kReqRowColumn = 70,
  kReqHandle = 133,
  kItemMessageText = 135,
  kReqPrepareFlags = 136,
  kReqPrepareExtra = 142,
};

// Fetch option bits: a move is relative unless the absolute bit is set; a move to a
// bookmark sets the bookmark bit with the absolute one (a bookmark is the row's
// position, so it moves like an absolute move); the lock bit asks for the row to be
// locked and never changes where the move lands; the first-call bit marks the first
// block of a client's fetch.
constexpr std::uint16_t kFetchAbsolute = 0x01;
constexpr std::uint16_t kFetchBookmark = 0x04;
constexpr std::uint16_t kFetchLock = 0x08;
constexpr std::uint16_t kFetchFirstCall = 0x10;
// Open option bit: the cursor only moves forward (a forward-only query streams).
constexpr std::uint32_t kOpenForwardOnly = 0x4000;
// Rows kept for one cursor read whole; a larger result fails the open rather than the
// server.
constexpr std::size_t kMaxCursorRows = 5000000;

constexpr std::uint8_t kInfoFlagsSlot = 17;
constexpr std::uint8_t kInfoDescribeComplete = 0x01;
constexpr std::uint8_t kInfoCursorState = 18;
constexpr std::uint32_t kCursorClosedBit = 0x10000;

// User ids, database and option names compare without regard to case, as
// identifiers do.
inline bool same_name(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// SQL text for the request log: one line, long texts cut.
inline std::string log_text(const std::string& s, std::size_t max = 4000) {
  std::string out = s.substr(0, max);
  for (auto& c : out)
    if (c == '\r' || c == '\n') c = ' ';
  if (s.size() > max) out += "...";
  return out;
}

}  // namespace vqeng
