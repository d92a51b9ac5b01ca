// The real engine connect: a stream connection to the server the parameters name, the
// app-connect exchange over it and the client connection on top. The connect road uses
// it whenever no other engine connect was installed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "cmdseq/cmdseq_env.h"
#include "cmdseq/connect.h"
#include "cmdseq/request_log.h"
#include "config/conn_parms.h"
#include "config/encrypt_level.h"
#include "config/option_tables.h"
#include "streams/app_connect.h"
#include "streams/stream_api.h"
#include "utils/locale/lang_string.h"
#include "utils/locale/utlocale.h"

namespace {

constexpr std::size_t kStackMessageBytes = 256;
constexpr std::size_t kDumpTextBytes = 4096;
constexpr std::uint16_t kNoLivenessTimeout = 65535;  // a reply value that sets nothing

void set_comm_error(a_cmdseq_error_info* err, const char* text) {
  if (i_cs_SetErrorInfo(err, -832)) i_cs_SetErrorParam(err, text);
}

// The stack's text, or "<what> <code>" when it gave none.
void set_stack_error(a_cmdseq_error_info* err, const char* text, const char* what, int code) {
  if (text != nullptr && text[0] != '\0') {
    set_comm_error(err, text);
    return;
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s %d", what, code);
  set_comm_error(err, buf);
}

}  // namespace

void i_cs_TakeServerCharset(a_cmdseq_conn* conn, const char* server_charset) {
  // The server's character set is the stream's client character set from here on: the
  // names of files the server asks for are converted into it. A name the registry does
  // not know leaves the stream without one (names then go as they are).
  const CharsetInfo* info = UTLocale::GetCharsetInfoFromLabel(server_charset, kSchemeAll);
  StrmSetClientCSInfo(conn->strm_conn, info);
  if (info != nullptr && conn->own_lang && conn->lang != nullptr) {
    conn->lang->set_client_charset(info);
    conn->lang->reset();
  }
}

void i_cs_StartConnLiveness(a_cmdseq_conn* conn, a_cmdseq_conn_attrib* attrib,
                            const a_cs_appconnect_out& reply) {
  // The time-out the server agreed on; 65535 means the reply left liveness as it was.
  // Without it a server that goes silent in the middle of a request would hold the
  // request for ever.
  if (reply.liveness_timeout < kNoLivenessTimeout) {
    StrmSetConnLivenessTimeout(conn->strm_conn, reply.liveness_timeout);
    if (reply.liveness_timeout != 0) StrmStartLiveness(conn->strm_conn);
  }
  if ((reply.caps & 0x04) != 0 && attrib != nullptr) {
    char seconds[16];
    std::snprintf(seconds, sizeof seconds, "%u", static_cast<unsigned>(reply.liveness_timeout));
    CmdSeqPrtMsgId(attrib, 9724, seconds);
  }
}

a_cmdseq_conn* i_cs_EngineConnect(a_cmdseq_env* env, c_conn_parms* parms,
                                  a_cmdseq_error_info* err, a_cmdseq_conn_attrib* attrib,
                                  const a_cmdseq_strconn_param* param) {
  if (env == nullptr || parms == nullptr) return nullptr;
  if (i_cs_AllocStrmEnv(env, parms, err) != CMDSEQ_OK) {
    if (err->sqlcode >= 0) i_cs_SetErrorInfo(err, -876);
    return nullptr;
  }
  const std::int32_t liveness = parms->getInt(kSlotLivenessTimeout);
  const std::int32_t idle = parms->getInt(kSlotIdleTimeout);
  const char* charset = parms->getString(kCsSlotCharset);
  const char* conn_name = parms->getString(kSlotConnectionName);
  const std::int32_t comm_buffer = parms->getInt(kSlotCommBufferSize);
  const std::int32_t retry_seconds = parms->getInt(kSlotRetryConnectionTimeout);
  const std::int32_t appconn_timeout = parms->getInt(kSlotAppConnTimeout);

  c_encrypt_level level(0u, nullptr);
  if (!parms->initEncryptLevel(level)) {
    set_comm_error(err, "invalid Encryption");
    return nullptr;
  }
  if (level.is_set == 0 && i_cs_GetEncryptionID(level, err) == 0) return nullptr;

  // PktDump: "file[,N]"; a comma sets the dump flag, a leading comma means no file.
  char dump[kDumpTextBytes + 1] = {};
  bool dump_flag = false;
  std::int32_t dump_number = 0;
  if (const char* pd = parms->getString(kSlotPktDump)) {
    std::strncpy(dump, pd, kDumpTextBytes);
    if (char* comma = std::strchr(dump, ',')) {
      *comma = '\0';
      dump_flag = true;
      dump_number = static_cast<std::int32_t>(std::strtol(comma + 1, nullptr, 10));
    }
  }

  // The stream connection; "no server" is retried for RetryConnectionTimeout seconds.
  a_strm_conn sconn = nullptr;
  char msg[kStackMessageBytes] = {};
  const auto first = std::chrono::steady_clock::now();
  int rc;
  for (;;) {
    msg[0] = '\0';
    rc = StrmConnect(parms, env->strm_env, 0, &sconn, msg, sizeof msg,
                     dump[0] != '\0' ? dump : nullptr, nullptr);
    if (rc != STRM_API_NO_SERVER || retry_seconds <= 0) break;
    if (std::chrono::steady_clock::now() - first >= std::chrono::seconds(retry_seconds)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  if (rc == STRM_API_NO_SERVER) return nullptr;  // the caller decides
  if (rc != 0 || sconn == nullptr) {
    set_stack_error(err, msg, "StrmConnect", rc);
    return nullptr;
  }
  if (conn_name != nullptr) (void)StrmSetConnName(sconn, conn_name);

  // The stream hands the owner of the caller's error block to the callbacks (message,
  // file transfer, dropped connection), as a connection taken from the pool does.
  a_cmdseq_conn* conn = i_cs_AddNewConnection(sconn, env, err != nullptr ? err->owner : 0);
  const bool charset_given = charset != nullptr && charset[0] != '\0';
  if (charset_given) conn->status |= CS_STATUS_CHARSET_GIVEN;
  // Every failure from here on drops the connection, which disconnects the stream.
  auto fail = [&]() -> a_cmdseq_conn* {
    (void)CmdSeqDropConnection(conn, nullptr);
    return nullptr;
  };

  a_cs_appconnect_in in;
  in.app_type = env->app_type;
  if (param != nullptr) {
    in.forced_level = param->forced_level;
    in.forced_first_word = param->forced_first_word;
    in.api_charset = param->api_charset;
  }
  in.liveness_timeout = liveness;
  in.comm_buffer_size = comm_buffer;
  in.compression_threshold = parms->getInt(kSlotCompressionThreshold);
  in.idle_timeout = idle;
  if (parms->getString(kSlotCompress) != nullptr) {
    in.compress = parms->getBool(kSlotCompress) != 0 ? 1 : 0;
  }
  in.dump_flag = dump_flag;
  in.dump_number = dump_number;
  if (_i_cs_GetVCCIImplVersion(conn, &in.crypto_major, &in.crypto_minor) != 1) return fail();
  in.env_byte = env->odbc_flag;
  i_cs_SetAppConnectTexts(in, env, charset, parms->getString(kCsSlotLanguage));

  an_app_connect_pkt request{};
  an_app_connect_pkt reply{};
  if (!i_cs_FillAppConnect(in, reinterpret_cast<unsigned char*>(&request))) return fail();
  msg[0] = '\0';
  const int ac = ApplicationConnect(sconn, &request, &level, &reply, msg, sizeof msg,
                                    static_cast<std::uint32_t>(appconn_timeout < 0 ? 0 : appconn_timeout));
  switch (ac) {
    case APPCONN_OK:
      break;
    case APPCONN_CRYPTO_MISSING:
      // A warning: the connect goes on.
      if (i_cs_SetErrorInfo(err, -976)) i_cs_SetErrorParam(err, msg);
      break;
    case APPCONN_LEVEL_MISMATCH:
      i_cs_SetErrorInfo(err, -1145);
      return fail();
    case APPCONN_CRYPTO_FAILED:
      if (i_cs_SetErrorInfo(err, -895)) i_cs_SetErrorParam(err, msg);
      return fail();
    case APPCONN_CRYPTO_UNUSABLE:
      if (i_cs_SetErrorInfo(err, -984)) i_cs_SetErrorParam(err, msg);
      return fail();
    default:
      set_stack_error(err, msg, "ApplicationConnect", ac);
      return fail();
  }

  a_cs_appconnect_out out{};
  if (!i_cs_ReadAppConnectReply(reinterpret_cast<const unsigned char*>(&reply), sizeof reply,
                                &out)) {
    set_comm_error(err, "ApplicationConnect");
    return fail();
  }
  const a_cmdseq_return applied =
      i_cs_ApplyAppConnectReply(conn, err, out, charset_given, in.charset_short, in.language);
  if (applied != CMDSEQ_OK && applied != CMDSEQ_WARNING) return fail();
  i_cs_TakeServerCharset(conn, out.charset);
  i_cs_StartConnLiveness(conn, attrib, out);
  // The connection's own log lines (the connect request, the Kerberos library's texts,
  // later requests) go through the attributes it keeps.
  if (attrib != nullptr) {
    attrib->add_ref();
    conn->attrib = attrib;
  }
  return conn;
}
