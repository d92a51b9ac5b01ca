// Limits that keep one broken or hostile client from taking the server down.
// Each is a command-line option of vqeng12 (command_line.h); the defaults suit
// tests and ordinary use.
#pragma once

#include <cstddef>

namespace vqeng {

struct Limits {
  // One request message, counted after inflating: more closes the connection
  // with an error record.
  std::size_t max_message_bytes = 32u << 20;
  // What one connection may hold at once: request messages received and not yet
  // run, the rows of its open cursors and the texts of its prepared statements.
  // Input past it closes the connection; a cursor or statement past it fails
  // with an error and the connection stays.
  std::size_t max_connection_bytes = 128u << 20;
  // Connections served at once; one more gets its connect refused with SQL code
  // -102, and a crowd past that is closed unanswered.
  unsigned max_connections = 200;
  // What all connections together may hold of the same (MemoryBudget): input that
  // would pass it closes its connection with an error record naming this bound;
  // a cursor or statement past it fails with an error and the connection stays.
  std::size_t max_server_bytes = 512u << 20;
  // Seconds a new connection may take to finish the app-connect exchange and the
  // database connect; 0 waits for ever.
  unsigned login_timeout_seconds = 30;
};

// Each held value costs its bytes and this much besides.
constexpr std::size_t kHeldValueOverhead = sizeof(void*) * 6;
// Each prepared statement costs its text and this much besides.
constexpr std::size_t kHeldStatementOverhead = 4096;

}  // namespace vqeng
