// The request log as the communication stack and the environment notifier reach it: the
// stack holds a connection's log attributes only as the host context (void*) it was given
// at connect, and calls these through the host function table.
//
// The host context is the attributes' c_utils_refobj_no_base, the reference-counted part
// the stack takes references on.
#ifndef VQ_CMDSEQ_HOST_LOG_H
#define VQ_CMDSEQ_HOST_LOG_H

class a_cmdseq_conn_attrib;

// The attributes behind a host context; null for null.
a_cmdseq_conn_attrib* i_cs_AttribOfHostCtx(void* host_ctx);
// The host context of the attributes; null for null.
void* i_cs_HostCtxOfAttrib(a_cmdseq_conn_attrib* attrib);

// Non-zero when logging is on for the connection (CmdSeqCheckDebug); 0 for null.
int i_cs_HostCheckDebug(void* host_ctx);
// Writes one line to the connection's log (CmdSeqPrtString); nothing for null.
void i_cs_HostPrtString(void* host_ctx, const char* text);
// A line for no connection (CmdSeqConnectionlessPrint); `log_files` is the
// environment's a_cmdseq_log_file_list.
void i_cs_HostConnectionlessPrint(void* log_files, const char* text);

#endif  // VQ_CMDSEQ_HOST_LOG_H
