// A client connection over the scripted presentation layer, with an error block, for
// the command-sequence tests.
#ifndef VQ_TESTS_UNIT_CMDSEQ_CMDSEQ_FIXTURE_H
#define VQ_TESTS_UNIT_CMDSEQ_CMDSEQ_FIXTURE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cmdseq/client.h"
#include "cmdseq/error_info.h"
#include "cmdseq/request.h"
#include "pres_double.h"

struct CmdSeqConn {
  a_cmdseq_env env;
  a_strm_conn_rec sconn;
  a_cmdseq_conn* conn;
  a_cmdseq_error_info err;

  CmdSeqConn() {
    conn = new a_cmdseq_conn(&env, &sconn);
    conn->add_ref();  // the reference the ODBC layer would hold
    CmdSeqInitErrorParam(&env, &err, 0);
  }
  ~CmdSeqConn() {
    CmdSeqFiniErrorParam(&err);
    i_cs_RemoveConnection(conn);
    conn->release();
  }
  CmdSeqConn(const CmdSeqConn&) = delete;
  CmdSeqConn& operator=(const CmdSeqConn&) = delete;

  bool connected() const { return (conn->status & CS_STATUS_CONNECTED) != 0; }

  std::vector<std::string> params() const {
    std::vector<std::string> out;
    for (const a_cmdseq_str_node* n = err.params; n != nullptr; n = n->next)
      out.emplace_back(n->text);
    return out;
  }
  std::string message() const { return err.message != nullptr ? err.message : "<none>"; }

  // A whole request whose reply is only a status: start, command item 7, sync point,
  // status, end.
  a_cmdseq_return status_request() {
    a_cmdseq_return r = i_cs_StartRequest(conn, &err);
    if (r != CMDSEQ_OK) return r;
    SQLPresSendCommand(conn->strm_conn, 7, 0);
    r = i_cs_SendRequest(conn, &err);
    if (r != CMDSEQ_OK) return r;
    r = i_cs_ReceiveSuccessOrError(conn, &err);
    return i_cs_EndRequest(conn, &err, r);
  }
};

// The item codes the client sent, from the `from`-th on.
inline std::vector<int> codes(const a_strm_conn_rec& s, std::size_t from = 0) {
  std::vector<int> out;
  for (std::size_t i = from; i < s.sent.size(); ++i) out.push_back(s.sent[i].code);
  return out;
}

// A reply's status 'B', its information items {slot, value} and the end item.
inline void ok(a_strm_conn_rec& s,
               std::vector<std::pair<std::uint8_t, std::uint32_t>> slots = {}) {
  s.item(CS_ITEM_SUCCESS);
  for (auto& [slot, value] : slots) s.item(CS_ITEM_INFO32, le32(value) + Bytes{slot});
  s.item(CS_ITEM_END);
}

// An error (or warning) status with one record, and the end of the information.
inline void status_code(a_strm_conn_rec& s, std::int32_t code) {
  s.item(CS_ITEM_ERROR, error_record(code, "S0000", "S0000", "S0000"))
      .item(CS_ITEM_END)
      .item(CS_ITEM_END)
      .item(CS_ITEM_END);
}

#endif  // VQ_TESTS_UNIT_CMDSEQ_CMDSEQ_FIXTURE_H
