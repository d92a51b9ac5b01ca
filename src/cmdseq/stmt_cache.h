// The connection's statement-information cache: statements remembered by their text, so
// that a statement prepared again reuses the server's prepared statement (or at least the
// memory of its entry), and the pending information requests: small requests carried
// inside the next request and written again after a cancel.
//
// Entries in use are on the connection's active list (newest first). Dropped entries
// wait on the dropped list: entries with text at the front (newest first), shells
// without text at the back. A dropped entry whose server statement is still prepared
// counts as cached. The cache is the connection's: one thread at a time uses it.
#ifndef VQ_CMDSEQ_STMT_CACHE_H
#define VQ_CMDSEQ_STMT_CACHE_H

#include <cstdint>

#include "cmdseq/client.h"
#include "cmdseq/desc.h"
#include "utils/base/list.h"
#include "utils/base/refobj.h"

// Statement handles with a meaning of their own.
constexpr std::uint32_t CS_NULL_HANDLE = 0;               // no statement
constexpr std::uint32_t CS_IMPLICIT_HANDLE = 0xFFFFFFFF;  // not prepared on the server

// Bits of a_cmdseq_stmt_info::flags.
constexpr std::uint8_t CS_INFO_PREPARED = 0x01;     // prepared on the server
constexpr std::uint8_t CS_INFO_CACHED_DROP = 0x02;  // a cached drop is already queued
constexpr std::uint8_t CS_INFO_VALIDATE_SENT = 0x04;
constexpr std::uint8_t CS_INFO_PREPARE_CACHED = 0x08;  // parameter count and value B kept
constexpr std::uint8_t CS_INFO_INPUT_DESCRIBED = 0x10;
constexpr std::uint8_t CS_INFO_BOTH_DESCRIBED = 0x20;
constexpr std::uint8_t CS_INFO_OUTPUT_DESCRIBED = 0x40;
constexpr std::uint8_t CS_INFO_NEW = 0x80;  // as created

// Bits of a_cmdseq_stmt_info::reuse_flags.
constexpr std::uint8_t CS_REUSE_RAN_WITHOUT_CURSOR = 0x01;
constexpr std::uint8_t CS_REUSE_OPENED_CURSOR = 0x02;
constexpr std::uint8_t CS_REUSE_CURSOR_DESC = 0x04;  // cursors may share the output description
constexpr std::uint8_t CS_REUSE_OPENED = 0x08;
constexpr std::uint8_t CS_REUSE_FAILED_EARLY = 0x10;  // a failure before any validate

// Prepare flag: 0x02 means the option word belongs to the statement's identity.
constexpr std::uint16_t CS_PREP_WITH_OPTION = 0x02;

// Texts this long or longer are not kept, so such a statement is never found again.
constexpr std::int32_t kMaxCachedTextBytes = 10000;

// What a prepare names: the text and the prepare flags and option.
struct a_cmdseq_prep_param {
  const char* text;
  std::int32_t text_len;  // bytes of text; negative: no text
  std::uint16_t flags;
  std::uint32_t option;      // part of the identity when flags has CS_PREP_WITH_OPTION
  std::uint32_t result = 0;  // output: information type 4 of the prepare reply
};

// A description shared by a statement entry and the cursors opened on it. Each holder
// keeps a reference, so resetting or dropping the entry never frees a description that
// a cursor still reads.
class a_cmdseq_shared_desc : public c_utils_refobj {
 public:
  a_cmdseq_shared_desc() noexcept { CmdSeqInitDesc(&desc); }
  ~a_cmdseq_shared_desc() override { CmdSeqFreeDescItems(&desc); }
  a_cmdseq_desc desc;
};

class a_cmdseq_stmt_info : public c_utils_link {
 public:
  explicit a_cmdseq_stmt_info(a_cmdseq_conn* conn) noexcept;
  ~a_cmdseq_stmt_info() override;  // frees descriptions and text

  // The output description, made on first use (null when memory is short).
  a_cmdseq_desc* output_desc();
  // A reference to the output description for a cursor (release it when done); null
  // when there is none.
  a_cmdseq_shared_desc* acquire_output_desc();
  // Frees both descriptions (cursors keep theirs).
  void free_descs();

  a_cmdseq_conn* conn;
  std::uint32_t stmt_no = CS_NULL_HANDLE;          // the client's statement number
  std::uint32_t server_stmt = CS_IMPLICIT_HANDLE;  // the server's prepared statement
  std::uint32_t use_count = 1;
  std::uint32_t dropped_at = 0;  // the connection's exec_count when dropped
  std::uint8_t flags = CS_INFO_NEW;
  std::uint8_t reuse_flags = 0;
  std::uint8_t value_b = 0;                // from the prepare reply
  std::uint16_t param_count = 0;           // from the prepare reply
  a_cmdseq_desc input;                     // the cached input description
  a_cmdseq_shared_desc* output = nullptr;  // the cached output description, shared
  std::uint16_t prep_flags = 0;
  std::uint32_t prep_option = 0;
  std::int32_t text_len = -1;   // -1 when no text is kept
  char* text = nullptr;         // zero-terminated copy of the statement text
  bool counted_cached = false;  // counted in the connection's cached_count
  // Describe results kept on the entry.
  std::uint32_t validation_stamp = 0;  // sent in the validate item
  std::uint32_t describe_stamp = 0;    // validation stamp when the output was described
  std::uint16_t input_option = 0;      // describe option of the cached input description
  std::uint16_t output_option = 0;     // describe option of the cached output description
  bool desc_complete = false;          // the cached output description's complete flag
};

// Writes a drop of the entry's server statement (item 23) into the current request and
// records it as a pending request; the entry is no longer prepared.
void i_cs_ForceDropStmtInfoStmt(a_cmdseq_conn* conn, a_cmdseq_stmt_info* info);
// After a failed request on the entry: the cached prepare reply and descriptions are
// forgotten (a failure before any validate is remembered).
void i_cs_ResetStmtInfoAfterError(a_cmdseq_stmt_info* info);

#endif  // VQ_CMDSEQ_STMT_CACHE_H
