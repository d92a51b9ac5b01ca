// The request log behind the host context the stack holds.
#include "cmdseq/host_log.h"

#include "cmdseq/request_log.h"

a_cmdseq_conn_attrib* i_cs_AttribOfHostCtx(void* host_ctx) {
  return host_ctx != nullptr ? static_cast<a_cmdseq_conn_attrib*>(
                                   static_cast<c_utils_refobj_no_base*>(host_ctx))
                             : nullptr;
}

void* i_cs_HostCtxOfAttrib(a_cmdseq_conn_attrib* attrib) {
  return attrib != nullptr ? static_cast<c_utils_refobj_no_base*>(attrib) : nullptr;
}

int i_cs_HostCheckDebug(void* host_ctx) {
  return CmdSeqCheckDebug(i_cs_AttribOfHostCtx(host_ctx));
}

void i_cs_HostPrtString(void* host_ctx, const char* text) {
  CmdSeqPrtString(i_cs_AttribOfHostCtx(host_ctx), text);
}

void i_cs_HostConnectionlessPrint(void* log_files, const char* text) {
  CmdSeqConnectionlessPrint(static_cast<a_cmdseq_log_file_list*>(log_files), text);
}
