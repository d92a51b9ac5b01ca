// The scripted fault mode: rules that make the server misbehave on chosen
// requests, so that a client's handling of errors, warnings, slow or lost
// replies and broken streams can be tested. Rules come from a script file
// (--fault-script=FILE, for every connection) or from the option "vqeng_fault"
// set on one connection (SET TEMPORARY OPTION vqeng_fault = '<rule>', or the
// set-option request), which adds a rule for that connection; an empty value
// clears that connection's rules.
//
// One rule a line; blank lines and lines starting with '#' are skipped:
//   <request> [nth=N] [text=<word>] <action> [arguments]
// <request> is a request name (connect, prepare, validate, describe, execute,
// exec-immediate, open, fetch, prefetch, close, get-data, commit, rollback,
// get-option, set-option, disconnect, ...), a request item code, or "any".
// nth=N fires on the N-th matching request of the connection only (counting
// from 1); without it the rule fires on every match. text=<word> matches only
// requests whose statement text holds <word> (no blanks; case ignored).
// Actions:
//   normal                    answer as usual (a rule that stops later rules)
//   error CODE [message]      the request runs; its status becomes this record
//   warning CODE [message]    the same with a positive code
//   delay MS                  the reply waits MS milliseconds (an attention ends the wait)
//   drop                      half of the reply's first packet is sent, then the connection
//   closes corrupt                   the reply goes out in a packet of unknown type 9
//   unexpected [CODE]         an item of that code (250 by default) leads the request's reply
//   hang                      no reply at all; the connection stays open
//   silent                    no reply, and nothing more at all on this connection: no
//                             liveness packets, no attention acknowledgement; the
//                             connection stays open (a server that stopped answering)
//   message TYPE CODE [text]  a server message (item 2 and its text) leads the request's reply
//   notice TYPE CODE [text]   a server message in an immediate packet goes out before the reply
//   redirect NAME PARAMETERS  (connect, protocol level 15) the reply sends the client to
//                             server NAME with these connection parameters; the
//                             connection stays unconnected until the client drops it
//   info SLOT VALUE           the request's first information items carry this slot's value
//                             (slot 17 is the flags word: 0x02 flush buffered rows, 0x10 and
//                             0x20 close cursors, 0x40 check cursors, 0x80 work pending)
//   garble-token              (connect, or a later Kerberos token) the Kerberos token the
//                             reply carries has one byte changed, as a server that is not
//                             the service the client asked for would answer
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vqeng {

struct FaultRule {
  enum class Action {
    Normal,
    Record,
    Delay,
    Drop,
    Corrupt,
    Unexpected,
    Hang,
    Silent,
    Message,
    Notice,
    Info,
    Redirect,
    GarbleToken
  };
  int request = -1;  // request item code; -1 any
  unsigned nth = 0;  // 0: every match
  std::string text;  // lower-case word the statement text must hold; empty: any
  Action action = Action::Normal;
  std::int32_t code = 0;          // Record: SQL code; Message, Notice: message code
  std::string message;            // Record, Message, Notice: message text
  std::uint8_t message_type = 0;  // Message, Notice
  std::string target;             // Redirect: the server name (parameters in message)
  unsigned slot = 0;              // Info
  std::uint32_t value = 0;        // Info
  unsigned millis = 0;            // Delay
  std::uint8_t item = 250;        // Unexpected
  std::string source;             // the rule's text, for the log
};

// Parses one rule; false with `why` for a malformed one. A blank or comment line
// gives true with `*empty` set.
bool parse_fault_rule(const std::string& line, FaultRule& rule, bool* empty, std::string& why);

// Parses a whole script; false with `why` naming the line of the first error.
bool parse_fault_script(const std::string& text, std::vector<FaultRule>& rules,
                        std::string& why);

// The request item code of a request name ("exec-immediate" -> 25); -1 when unknown.
int request_code(const std::string& name);

}  // namespace vqeng
