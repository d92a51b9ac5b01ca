// The database connect and the ends of a connection: the connect string, the enciphered
// secret part, the connect request and its reply (with the redirection list a server may
// send instead of taking the connection), Kerberos tokens, the application information,
// disconnect and reference counting, the redirection road, the local server start and
// the database control requests, and the connection pool.
//
// Everything runs on the caller's thread; reference counts change atomically. Texts
// that carried a password are wiped before they are freed.
#ifndef VQ_CMDSEQ_CONNECT_H
#define VQ_CMDSEQ_CONNECT_H

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "cmdseq/client.h"
#include "cmdseq/cmdseq_return.h"
#include "cmdseq/error_info.h"
#include "cmdseq/request.h"
#include "utils/base/list.h"

class c_conn_parms;
class c_encrypt_level;
class CharsetConverter;
struct CharsetInfo;
struct LanguageInfo;

// Client connection-parameter slots this code reads that the option table leaves unnamed.
constexpr int kCsSlotDatabaseSwitches = 4;
constexpr int kCsSlotCharset = 22;
constexpr int kCsSlotAppInfo = 25;
constexpr int kCsSlotLanguage = 32;
constexpr int kCsSlotHost = 43;
constexpr int kCsSlotNodeType = 44;

// Request and reply item codes of the connect.
constexpr std::uint8_t CS_ITEM_FIND_SERVER = 1;
constexpr std::uint8_t CS_ITEM_START_DATABASE = 7;
constexpr std::uint8_t CS_ITEM_SHUTDOWN = 8;
constexpr std::uint8_t CS_ITEM_STOP_DATABASE = 9;
constexpr std::uint8_t CS_ITEM_POOL_REUSE = 14;
constexpr std::uint8_t CS_ITEM_POOL_PARK = 15;
constexpr std::uint8_t CS_ITEM_CONNECT_STRING = 16;
constexpr std::uint8_t CS_ITEM_KERBEROS_TOKEN = 18;
constexpr std::uint8_t CS_ITEM_DISCONNECT = 19;
constexpr std::uint8_t CS_ITEM_SECURE_PART = 20;
constexpr std::uint8_t CS_ITEM_REDIRECT_PARMS = 107;  // 'k'
constexpr std::uint8_t CS_ITEM_HANDLE = 133;
constexpr std::uint8_t CS_ITEM_SERVER_NAME = 134;

// Connect-information slots of the reply.
constexpr unsigned kInfoConnectFlagsSlot = 19;  // bit 0: the caller's info flag
constexpr unsigned kInfoStmtCacheSlot = 24;     // size of the statement-information cache

// The server's random key material for the enciphered part: exactly this many bytes.
constexpr unsigned kEngineRandomBytes = 32;

// The request record of CmdSeqStringConnect, zero-filled by the caller.
struct a_cmdseq_strconn_param {
  c_conn_parms* parms;                  // may be rewritten by a redirection
  a_cmdseq_env* env;
  std::uint32_t allow_server_start;     // 1: a local server may be started
  std::uint32_t allow_database_start;   // 1: a database may be started on a running server
  std::uint16_t forced_level;           // 1..15 asks for that protocol level; 0 none
  std::uint16_t forced_first_word;
  const char* api_charset;              // character set of the calling interface
  std::uint32_t info_flag;              // out: bit 0 of information slot 19
  std::uint32_t server_started;         // out: 1 when this connect started a server
                                        // (kept across the tries of one connect)
};

// Holds a reference for the length of a scope: a connection lost in the middle of an
// exchange is removed (its reference dropped) by the failure handling, and without a
// reference of its own the exchange would touch freed memory afterwards.
class a_cs_conn_hold {
 public:
  explicit a_cs_conn_hold(a_cmdseq_conn* conn = nullptr) : conn_(conn) {
    if (conn_ != nullptr) conn_->add_ref();
  }
  ~a_cs_conn_hold() {
    if (conn_ != nullptr) conn_->release();
  }
  void hold(a_cmdseq_conn* conn) {
    if (conn_ == nullptr && conn != nullptr) {
      conn_ = conn;
      conn_->add_ref();
    }
  }
  a_cs_conn_hold(const a_cs_conn_hold&) = delete;
  a_cs_conn_hold& operator=(const a_cs_conn_hold&) = delete;

 private:
  a_cmdseq_conn* conn_;
};

// --- Redirection list -------------------------------------------------------------------

// One server a redirection named: its name (item 134) and its parameter text (item 107).
class c_cmdseq_redirect_server : public c_utils_link {
 public:
  // Takes ownership of both texts (ut_alloc).
  c_cmdseq_redirect_server(char* name, char* parms) noexcept : name(name), parms(parms) {}
  ~c_cmdseq_redirect_server() override;

  // ServerName := name; DatabaseName, CommLinks and Host := the entry's values (unset when
  // the entry gives none); NodeType := unset. Every other slot stays. False when the
  // entry's text does not parse (nothing is changed then).
  bool mergeParameters(c_conn_parms* parms) const;

  char* name;
  char* parms;
};

class c_cmdseq_redirect_server_list : public c_utils_list<c_cmdseq_redirect_server> {
 public:
  ~c_cmdseq_redirect_server_list() { clear(); }
  void add(c_cmdseq_redirect_server* entry) {
    append(entry);
    if (count < 255) ++count;
  }
  void clear() {
    while (c_cmdseq_redirect_server* e = first_element()) delete e;
    count = 0;
  }
  std::uint8_t count = 0;  // entries appended
};

// --- App-connect fields (app_connect.cpp) ------------------------------------------------

// The app-connect packet's size; the reply is read from a buffer of at least this size.
constexpr std::size_t kAppConnectBytes = 312;

// What the client puts into the app-connect packet.
struct a_cs_appconnect_in {
  std::uint32_t app_type = 2;           // environment type 1..4
  std::uint16_t forced_level = 0;       // 1..15 asks for that level; 0 none
  std::uint16_t forced_first_word = 0;  // replaces the packet length when forced
  std::int32_t liveness_timeout = 0;    // seconds; 1..29 are sent as 30
  std::int32_t comm_buffer_size = 0;    // 0: 7300
  std::int32_t compression_threshold = 0;
  std::int32_t idle_timeout = 0;
  int compress = -1;                    // -1 not given, 0 no, 1 yes
  bool dump_flag = false;               // PktDump had a comma
  std::int32_t dump_number = 0;         // the number after it
  std::uint8_t crypto_major = 0;
  std::uint8_t crypto_minor = 0;
  std::uint8_t env_byte = 0;
  const char* charset_short = nullptr;  // at most 30 characters are sent
  const char* language = nullptr;       // at most 50
  const char* charset_label = nullptr;
  const char* os_charset = nullptr;
  const char* api_charset = nullptr;
};

// What the client reads of the reply.
struct a_cs_appconnect_out {
  std::uint8_t status;
  std::uint16_t level;
  std::uint8_t version_major, version_minor;
  std::uint16_t version_build1, version_build2;
  std::uint32_t caps;
  std::uint16_t liveness_timeout;
  char charset[51];
  char language[51];
  bool check_language;
};

// The client character set a connection asks for: Charset when it is given and not
// "local"; otherwise the system's (`os`), by its label and, as the short name, its server
// name ("cp936" for a GB18030 system without one, else the label). The texts are static
// or the caller's.
struct a_cs_client_charset {
  const char* label;
  const char* short_name;
};
a_cs_client_charset default_charset_if_unspecified(const char* charset, const CharsetInfo* os);
// The language a connection asks for: Language when it is given and not "local", else the
// two-letter code of the system's language (`os`).
const char* i_cs_AppConnectLanguage(const char* language, const LanguageInfo* os);
// Puts the packet's texts into `in` from Charset and Language (either may be null) and the
// environment's system character set and language: the client character set's short name
// and label, the language, and the system character set's label.
void i_cs_SetAppConnectTexts(a_cs_appconnect_in& in, const a_cmdseq_env* env,
                             const char* charset, const char* language);
// Fills kAppConnectBytes bytes; false for an application type the server does not know.
bool i_cs_FillAppConnect(const a_cs_appconnect_in& in, unsigned char* packet);
// Reads a reply of `len` bytes (at least kAppConnectBytes); texts are bounded by their
// fields and the reply's end. False for a reply too short to read.
bool i_cs_ReadAppConnectReply(const unsigned char* reply, std::size_t len,
                              a_cs_appconnect_out* out);
// Acts on the reply's status and languages (errors -88, -869, -832, -1145, -838; warnings
// 114 to 117) and stores level, version and capabilities in the connection. When the
// server asks for the check, the languages differ unless both labels name the same known
// language. 0, 5, or 4 when the connect must end.
a_cmdseq_return i_cs_ApplyAppConnectReply(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                          const a_cs_appconnect_out& reply, bool charset_given,
                                          const char* charset, const char* language);

// --- Connect string and request (connect.cpp) -------------------------------------------

// NewPassword, except null for no value, "*", or a server of level 12 or lower.
const char* i_cs_GetServerNewPwdStr(const a_cmdseq_conn* conn, const c_conn_parms* parms);
// Whether the "ENG" key is sent (no when a TCP/IP link option says verify=no).
int ShouldSendEngName(const c_conn_parms* parms, a_cmdseq_env* env);
// The connect string; `plain` puts PWD, DBKEY and NEWPWD in it. A new text the caller
// frees with FreeConnectString (which wipes it); null when memory runs out.
char* i_cs_BuildConnectString(a_cmdseq_conn* conn, c_conn_parms* parms, bool with_eng,
                              bool plain);
// The database-connect request and its reply. A redirection fills `redirect`.
a_cmdseq_return i_cs_SendConnectRequest(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                        c_conn_parms* parms, std::uint32_t* info_flag,
                                        c_cmdseq_redirect_server_list* redirect);
// The reply after its first item.
a_cmdseq_return i_cs_ReceiveConnectReply(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                         const a_cs_item& first,
                                         c_cmdseq_redirect_server_list* redirect,
                                         std::uint32_t* info_flag);
a_cmdseq_return receive_connect_infos(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                      std::uint32_t* info_flag);

// The server's string information of one kind (the statement requests' server-information
// request); kind 0 is the server's Kerberos principal. Filled into `buffer` of `size`.
using a_cs_server_info_reader = a_cmdseq_return (*)(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                                    std::uint16_t kind, char* buffer,
                                                    std::size_t size);
// A reader the Kerberos connect asks for the principal instead of the server-information
// request (i_cs_GetStrServerInfo, kind 0); null goes back to that request.
void i_cs_SetServerInfoReader(a_cs_server_info_reader reader);

// Disconnect (offering the connection to the pool first), the stream disconnect
// exchange, and the reference count.
a_cmdseq_return CmdSeqDisconnect(a_cmdseq_conn* conn, a_cmdseq_error_info* err);
a_cmdseq_return i_cs_DoStreamsDisconnect(a_cmdseq_conn* conn, a_cmdseq_error_info* err);
void CmdSeqConnAddRef(a_cmdseq_conn* conn);
int CmdSeqConnRelease(a_cmdseq_conn* conn);  // the new count; 0 deleted the connection
int CmdSeqConnIsValid(const a_cmdseq_conn* conn);
int CmdSeqCharsetSpecifiedExplicitly(const a_cmdseq_conn* conn);

// --- Enciphered part (secure_connect.cpp) -----------------------------------------------

// The secret part's buffer length: its text and terminator, rounded up to 16.
std::size_t get_secure_connect_string_len(a_cmdseq_conn* conn, c_conn_parms* parms);
// Fills and enciphers `buffer` (capacity *length); *length becomes the enciphered length.
a_cmdseq_return build_secure_connect_string(a_cmdseq_conn* conn, c_conn_parms* parms,
                                            a_cmdseq_error_info* err, unsigned char* buffer,
                                            std::size_t* length);
// The crypto implementation's version; 1 on success.
int _i_cs_GetVCCIImplVersion(a_cmdseq_conn* conn, std::uint8_t* major, std::uint8_t* minor);
// Settles the algorithm number of a level named by cipher; 1 on success, else 0 with
// error -895 and the provider's text in `err`.
int i_cs_GetEncryptionID(c_encrypt_level& level, a_cmdseq_error_info* err);

// Converts a text with `converter`: a new text (ut_free) closed by a zero (two for a set
// of 2-byte units), or null when the text is null, empty or 7-bit ASCII, the converter is
// not usable, or the conversion failed.
char* do_convert(CharsetConverter& converter, const char* text);
// `text` from the operating system's character set to `charset` (a label): a new text, or
// null when there is nothing to convert (see do_convert), the label is unknown or names
// a set of 2-byte units, the two sets are one, or the environment has no locale services.
char* i_cs_ConvertFromOSCharset(a_cmdseq_env* env, const char* charset, const char* text);

// --- Application information (app_info.cpp) ---------------------------------------------

// The "APP" value; a new text (ut_free), or null when memory runs out.
char* i_cs_BuildAppInfo(a_cmdseq_conn* conn, const char* appinfo);

// --- Redirection road (redirect.cpp) ----------------------------------------------------

// One connect attempt to one server, as i_cs_StringConnect runs it. An attempt that
// produced a redirection list has dropped the connection that sent it and leaves *conn
// null.
using a_cs_connect_attempt = a_cmdseq_return (*)(a_cmdseq_conn** conn, a_cmdseq_error_info* err,
                                                 a_cmdseq_strconn_param* param, int engine_only,
                                                 c_cmdseq_redirect_server_list* redirect);
// Finds a server and makes the connection: stream connect, app-connect exchange, new
// connection (one reference). Null when no server answered; a negative code in `err` when
// the attempt must end. The communication stack's connect is installed here.
using a_cs_engine_connect = a_cmdseq_conn* (*)(a_cmdseq_env* env, c_conn_parms* parms,
                                               a_cmdseq_error_info* err,
                                               a_cmdseq_conn_attrib* attrib,
                                               const a_cmdseq_strconn_param* param);
// An installed engine connect stands in for the whole communication stack, its
// environment included: with one installed no stream environment is made.
void i_cs_SetEngineConnect(a_cs_engine_connect connect);  // null: i_cs_EngineConnect
// What CmdSeqEngineConnect needs to find a server.
struct a_cmdseq_engine_block {
  a_cmdseq_env* env;
  a_cmdseq_conn_attrib* attrib;       // the connect's log; may be null
  c_conn_parms* parms;                // ServerName is converted to Charset for the connect
  std::uint16_t forced_level;         // as in a_cmdseq_strconn_param
  std::uint16_t forced_first_word;
  const char* api_charset;            // may be null
};
// Makes sure the stream environment exists (else error -876 and result 2) and finds the
// server: stream connect, app-connect exchange, new connection. 0 with *conn holding one
// reference; else 2 with *conn null, and a negative SQL code in `err` when the connect
// must end (none when simply no server answered).
a_cmdseq_return CmdSeqEngineConnect(a_cmdseq_conn** conn, a_cmdseq_error_info* err,
                                    const a_cmdseq_engine_block* block);
// The real engine connect over the communication stack (engine_connect.cpp): the stream
// environment, the stream connect (retried while RetryConnectionTimeout lasts), the
// app-connect exchange and the new connection. Used when no other one is installed.
a_cmdseq_conn* i_cs_EngineConnect(a_cmdseq_env* env, c_conn_parms* parms,
                                  a_cmdseq_error_info* err, a_cmdseq_conn_attrib* attrib,
                                  const a_cmdseq_strconn_param* param);
// Its last steps on a connection whose app-connect reply was accepted (engine_connect.cpp):
// The stream's client character set := the server's (`server_charset`, the reply's name);
// the connection's own message strings switch to it when the registry knows it.
void i_cs_TakeServerCharset(a_cmdseq_conn* conn, const char* server_charset);
// Sets the reply's liveness time-out on the stream connection (65535 sets nothing) and
// starts liveness when it is not 0; with capability bit 0x04 the log (`attrib`, may be
// null) says so.
void i_cs_StartConnLiveness(a_cmdseq_conn* conn, a_cmdseq_conn_attrib* attrib,
                            const a_cs_appconnect_out& reply);
// Asked when the server reports an expired password (-1152) and NewPassword is "*": a
// prompt that puts the new password into the parameters and answers non-zero has the
// connect request sent once more. None is registered by default: the error stands.
using a_cs_password_prompt = int (*)(a_cmdseq_conn* conn, c_conn_parms* parms);
void i_cs_SetPasswordPrompt(a_cs_password_prompt prompt);  // null: none
int i_cs_PromptChangeExpiredPassword(a_cmdseq_conn* conn, c_conn_parms* parms);
// The connection's fetch settings from its parameters: the prefetch row count, the fetch
// budget (PrefetchBuffer, raised to kMinPrefetchBuffer and the slot rewritten when
// smaller) and, when LazyClose is a yes/no word, the close mode (2 yes, 0 no; AUTO keeps
// the connection's own).
constexpr std::uint32_t kMinPrefetchBuffer = 65536;
void i_cs_ApplyFetchSettings(a_cmdseq_conn* conn, c_conn_parms* parms,
                             a_cmdseq_conn_attrib* attrib);
// One connect attempt to one server: the server (started when allowed), the connect
// request, the database start when the server does not run it. A failed attempt leaves
// no connection behind; a server it started is shut down again.
a_cmdseq_return i_cs_Connect(a_cmdseq_conn** conn, a_cmdseq_error_info* err,
                             a_cmdseq_strconn_param* param, int engine_only,
                             c_cmdseq_redirect_server_list* redirect);
// Starts a local server for the parameters: the StartLine, or the server program found
// on the search path and then by the file search. `name` receives the name the new
// server answers to (ServerName, DatabaseName or the file's base name).
a_cmdseq_return i_cs_StartEngine(c_conn_parms* parms, a_cmdseq_env* env, a_cmdseq_error_info* err,
                                 std::uint32_t* was_running, char* name, std::size_t name_size,
                                 int suppress_ha, int skip_probe, std::int32_t* pid);
// The attempt i_cs_StringConnect runs; null restores the default (i_cs_Connect).
void i_cs_SetConnectAttempt(a_cs_connect_attempt attempt);
// The pause between connects while the server is still starting; tests install their own.
using a_cs_sleep = void (*)(unsigned ms);
void i_cs_SetConnectSleep(a_cs_sleep sleep);  // null restores the real sleep
// The entry point: the pool, then up to 10 connects while the server reports -77 (still
// starting), pausing 100 ms, 200 ms, ... up to 2 s between them. On 0 or 5 *conn holds a
// connection with one reference for the caller.
a_cmdseq_return CmdSeqStringConnect(a_cmdseq_conn** conn, a_cmdseq_error_info* err,
                                    a_cmdseq_strconn_param* param);
// One connect, then at most one hop through the redirection list it produced.
a_cmdseq_return i_cs_StringConnect(a_cmdseq_conn** conn, a_cmdseq_error_info* err,
                                   a_cmdseq_strconn_param* param, int engine_only);

// --- Local server start and database control (local_server.cpp) -------------------------

// The command line for one candidate head (StartLine, or the server program's path).
// A new text (ut_free), or null when memory runs out.
char* i_cs_BuildStartLine(const char* head, const c_conn_parms* parms, int suppress_ha);
// Starts one server process from `command` and waits for its 2-byte ready status through
// the hand-shake pipe, at most `wait_ms` milliseconds. 0 when it reported ready, else 4
// with the error set. *pid is the server's process id (negated after a failure that
// followed its start).
a_cmdseq_return i_cs_PlatformSpecificStartEngine(const char* command, a_cmdseq_env* env,
                                                 a_cmdseq_error_info* err, std::int32_t* pid,
                                                 int wait_ms = 120000);
a_cmdseq_return i_cs_StartDatabase(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                   c_conn_parms* parms);
a_cmdseq_return i_cs_ShutdownEngine(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                    std::uint8_t how);
// Request 9: stops the database named by DatabaseName (else the base name of
// DatabaseFile; neither: -84), unconditionally when Unconditional is true.
a_cmdseq_return i_cs_StopDatabase(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                  const c_conn_parms* parms);
// Whether the connection goes to the server of that name (case-insensitive), or with no
// name to the default local server.
bool same_engine(a_cmdseq_conn* conn, const char* name);

// Control operations for tools (no caller inside the client). Each works on the given
// connection when it goes to the server the parameters name, else on a connection of its
// own (no liveness, no encryption) that it drops; no server: -100.
struct a_cmdseq_engine_ctl {
  a_cmdseq_env* env;
  c_conn_parms* parms;
  const char* server_name;     // CmdSeqFindEngine
  int suppress_ha;             // CmdSeqStartEngine
  std::uint8_t unconditional;  // CmdSeqStopEngine: the shut-down request's byte
  std::uint32_t was_running;   // out
  std::int32_t pid;            // out
};
a_cmdseq_return CmdSeqStartEngine(a_cmdseq_error_info* err, a_cmdseq_engine_ctl* rec);
a_cmdseq_return CmdSeqFindEngine(a_cmdseq_error_info* err, a_cmdseq_engine_ctl* rec);
a_cmdseq_return CmdSeqStartDatabase(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                    a_cmdseq_engine_ctl* rec);  // DatabaseFile required (-84)
a_cmdseq_return CmdSeqStopDatabase(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                   a_cmdseq_engine_ctl* rec);
a_cmdseq_return CmdSeqStopEngine(a_cmdseq_conn* conn, a_cmdseq_error_info* err,
                                 a_cmdseq_engine_ctl* rec);

// --- Connection pool (conn_pool.cpp) ----------------------------------------------------

#endif  // VQ_CMDSEQ_CONNECT_H
