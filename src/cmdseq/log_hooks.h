// What the environment and its notifiers need of the request log: the log-is-on test,
// a line for a connection and a line for no connection. The stack hands the host context
// it was given at connect (the connection's log attributes) back to the first two.
//
// The request log defines these over its log attributes and its list of log files;
// until it is built, the tests link a recording stand-in.
#ifndef VQ_CMDSEQ_LOG_HOOKS_H
#define VQ_CMDSEQ_LOG_HOOKS_H

// Non-zero when logging is on for the connection whose host context this is (0 for null).
int i_cs_LogIsOn(void* host_ctx);
// Writes one line to the connection's log (nothing for null).
void i_cs_LogLine(void* host_ctx, const char* text);
// Writes a line that belongs to no connection to every open log file and to standard
// output. `log_files` is the environment's list of log files.
void i_cs_LogConnectionless(void* log_files, const char* text);

#endif  // VQ_CMDSEQ_LOG_HOOKS_H
