// The result of every command-sequence call. Results 0, 4 and 5 mean that the reply was
// read to its end (the caller goes on reading the rest of it); every other result ends
// the request at once.
#ifndef VQ_CMDSEQ_CMDSEQ_RETURN_H
#define VQ_CMDSEQ_CMDSEQ_RETURN_H

typedef unsigned int a_cmdseq_return;

constexpr a_cmdseq_return CMDSEQ_OK = 0;
constexpr a_cmdseq_return CMDSEQ_FAILED = 1;          // failure without an error record
constexpr a_cmdseq_return CMDSEQ_NOT_CONNECTED = 2;   // connection lost or not connected
constexpr a_cmdseq_return CMDSEQ_PROTOCOL_ERROR = 3;  // the reply broke the grammar
constexpr a_cmdseq_return CMDSEQ_ERROR = 4;           // the error block holds a negative code
constexpr a_cmdseq_return CMDSEQ_WARNING = 5;         // the error block holds a positive code
constexpr a_cmdseq_return CMDSEQ_NO_MEMORY = 6;
constexpr a_cmdseq_return CMDSEQ_COUNTER_WRAPPED = 7;  // a descriptor's change counter wrapped
constexpr a_cmdseq_return CMDSEQ_CANCELLED = 8;
constexpr a_cmdseq_return CMDSEQ_SERVER_CLOSED = 9;
constexpr a_cmdseq_return CMDSEQ_COMM_FAILURE = 10;  // the error block holds -829

// True for the results after which the reply was read to its end.
constexpr bool i_cs_ReplyRead(a_cmdseq_return r) {
  return r == CMDSEQ_OK || r == CMDSEQ_ERROR || r == CMDSEQ_WARNING;
}

// The more severe of two results (the order in which the rules apply matters).
a_cmdseq_return i_cs_MoreSevereError(a_cmdseq_return current, a_cmdseq_return incoming);

#endif  // VQ_CMDSEQ_CMDSEQ_RETURN_H
