// The assertion failure path: one report (message, source file and line) shown through
// a replaceable message function, then abort(). With a debugger attached, the process
// stops in the debugger instead, and continues only if the debugger lets it.
#ifndef VQ_UTILS_BASE_ASSERTIONS_H
#define VQ_UTILS_BASE_ASSERTIONS_H

extern "C" {

// Shows `text` under `title`. With `ask` non-zero the user is asked yes or no; the
// answer (1 yes, 0 no) goes to *answer.
typedef void (*ut_assert_message_fn)(const char* text, const char* title, int ask, int* answer);

// Reports a failed assertion and ends the process with abort(). `format` (printf
// style, may be null or empty) is formatted with the further arguments. The report is
// cut to a bounded size: the file, line and closing text always stay in it. Returns
// only when a debugger was attached and let the process continue.
void UT_AssertStrFn(const char* format, const char* file, int line, ...)
    __attribute__((format(printf, 1, 4)));

// Calls the current message function.
void ut_assert_message(const char* text, const char* title, int ask, int* answer);

// Replaces the message function (null restores the console one). The console one
// writes "*** title ***" and the text to standard error and, when asked, reads Y, N,
// B (break into a debugger, or abort without one) or Q (answer no and stay quiet from
// then on) from standard input; end of input counts as N.
void UT_AssertSetMessageFn(ut_assert_message_fn function);

// Stops in an attached debugger with a breakpoint trap and returns 1 once it lets the
// process continue; returns 0 when no debugger is attached.
int ut_enter_debugger(const char* text);
void ut_start_debugger(void);
void ut_set_debugger_thread_name(const char* name);
// Raises SIGFPE, as an integer division by zero would.
void ut_throw_exception(void);

}  // extern "C"

#endif  // VQ_UTILS_BASE_ASSERTIONS_H
