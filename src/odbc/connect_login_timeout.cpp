// The login time-out: a deadline on the connection handle that the client's wait
// callback watches on the connecting thread.
#include "odbc/connect_login_timeout.h"

#include <chrono>

#include "cmdseq/cmdseq_env.h"
#include "odbc/engine.h"

namespace {

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

std::uint32_t LoginTimeoutSeconds(tagDBC* dbc) {
  return UIntOption(dbc, SQL_ATTR_LOGIN_TIMEOUT);
}

int LoginWaitCallback(std::uintptr_t cb_value) {
  auto* h = reinterpret_cast<tagOBJECT*>(cb_value);
  if (h == nullptr || h->kind != OBJ_DBC) return 0;
  auto* dbc = static_cast<tagDBC*>(h);
  const std::int64_t deadline = dbc->login_deadline_ns.load();
  if (deadline == 0 || NowNs() < deadline) return 0;
  dbc->login_timed_out.store(1);
  return 1;
}

a_login_deadline::a_login_deadline(tagDBC* dbc, std::uint32_t seconds) : dbc_(dbc) {
  dbc_->login_timed_out.store(0);
  if (seconds == 0) {
    dbc_->login_deadline_ns.store(0);
    return;
  }
  CmdSeqRegisterWaitCallback(&CmdSeqEnv, LoginWaitCallback);
  dbc_->login_deadline_ns.store(NowNs() + static_cast<std::int64_t>(seconds) * 1000000000);
}

a_login_deadline::~a_login_deadline() { dbc_->login_deadline_ns.store(0); }

bool a_login_deadline::expired() const { return dbc_->login_timed_out.load() != 0; }
