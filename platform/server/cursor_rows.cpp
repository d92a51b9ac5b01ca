// The rows of an open cursor: a window over a streamed query for a forward-only cursor
// (rows are stepped as the client asks for them and let go once it has passed them),
// and the prefetch reply, sent a packet at a time while later rows are still stepped.
#include <algorithm>

#include "request_items.h"
#include "session.h"
#include "sql_error.h"
#include "wire.h"

namespace vqeng {
namespace {

// Rows let go are compacted away once this many have gathered at the window's front
// and they are at least half of it: erasing from the front of the vector then costs
// O(1) per row.
constexpr std::size_t kCompactRows = 1024;

// A forward-only cursor keeps at most this many rows it let go for reuse, and only rows
// that take at most kSpareRowBytes (values and text storage): what they keep is small
// and bounded (2 MB at most), though not counted as held rows.
constexpr std::size_t kSpareRows = 4096;
constexpr std::size_t kSpareRowBytes = 512;

// Keeps a row let go for the stream's next rows, or frees it. `storage` is what the
// row keeps (RowCost::storage).
void recycle_row(std::vector<std::vector<Value>>& spare, std::vector<Value>& row,
                 std::size_t storage) {
  if (spare.size() < kSpareRows && storage <= kSpareRowBytes)
    spare.push_back(std::move(row));
  std::vector<Value>().swap(row);
}

// Asks the processor to bring a row's values into the cache, to be written soon.
void prefetch_for_write(const std::vector<Value>& row) {
#if defined(__GNUC__)
  const char* p = reinterpret_cast<const char*>(row.data());
  const char* const end = reinterpret_cast<const char*>(row.data() + row.size());
  for (; p < end; p += 64) __builtin_prefetch(p, 1);
#else
  (void)row;
#endif
}

// A prefetch reply goes out whenever this much of it is in full packets.
constexpr std::size_t kPrefetchFlushBytes = 16 * 1024;
// Rows written between two looks at the reply's size.
constexpr std::uint32_t kPrefetchChunkRows = 16;

}  // namespace

bool Session::have_row(Cursor& c, std::int64_t p) {
  while (known_rows(c) < p && c.stream) {
    std::vector<Value> row;
    if (!c.spare.empty()) {
      row = std::move(c.spare.back());
      c.spare.pop_back();
      // The spare rows were let go long after they were written and are out of the
      // cache by now: the one the next row takes is fetched while this one is read.
      if (!c.spare.empty()) prefetch_for_write(c.spare.back());
    }
    const int got = c.stream->next(row);
    if (got == 0) {
      c.stream.reset();
      break;
    }
    const RowCost cost = row_cost(row);
    const std::size_t bytes = cost.held;
    if (bytes > held_room()) {
      c.stream_error =
          sql_error(-1000, "The result set would take more than " + held_bound_text() +
                               "; close other cursors or ask for fewer rows");
      c.stream.reset();
      break;
    }
    // (The cost goes with the row only while every row has one: see let_go.)
    if (c.costs.size() == c.rows.size()) c.costs.push_back(cost);
    c.rows.push_back(std::move(row));
    c.deleted.push_back(false);
    c.bytes += bytes;
    cursor_bytes_ += bytes;
    if (got < 0) {
      c.stream_error = c.stream->error();  // the rows stop after this one
      c.stream.reset();
    } else if (c.stream->at_end()) {
      c.stream.reset();  // the statement is done: finalized at once
    }
  }
  return p <= known_rows(c);
}

void Session::row_changed(Cursor& c, std::int64_t p) {
  const std::vector<Value>* row = row_at(c, p);
  if (row == nullptr || c.costs.size() != c.rows.size()) return;
  // What it counts stays what it was counted as when stepped; its storage is new.
  c.costs[static_cast<std::size_t>(p - c.base - 1)].storage = row_cost(*row).storage;
}

void Session::let_go(Cursor& c) {
  if (!c.forward) return;
  // The current row stays: get data, update and delete work on it.
  const std::int64_t behind = c.pos - 1 - c.base;
  const std::size_t until =
      behind <= 0 ? 0 : std::min(static_cast<std::size_t>(behind), c.rows.size());
  // Each row's cost was noted as it was stepped, so the rows let go (written out long
  // ago, their values no longer in the cache) are not read again; rows that came
  // another way have theirs worked out here.
  const bool costed = c.costs.size() == c.rows.size();
  for (; c.front < until; ++c.front) {
    const RowCost cost = costed ? c.costs[c.front] : row_cost(c.rows[c.front]);
    c.bytes -= std::min(c.bytes, cost.held);
    cursor_bytes_ -= std::min(cursor_bytes_, cost.held);
    recycle_row(c.spare, c.rows[c.front], cost.storage);
  }
  if (c.front >= kCompactRows && c.front * 2 >= c.rows.size()) {
    const auto gone = static_cast<std::ptrdiff_t>(c.front);
    c.rows.erase(c.rows.begin(), c.rows.begin() + gone);
    c.deleted.erase(c.deleted.begin(), c.deleted.begin() + gone);
    if (costed) c.costs.erase(c.costs.begin(), c.costs.begin() + gone);
    c.base += gone;
    c.front = 0;
  }
}

void Session::drain_streams() {
  for (auto& entry : cursors_) {
    if (entry.second.stream) have_row(entry.second, INT64_MAX);
  }
}

void Session::write_prefetch(PendingPrefetch& p) {
  // The rows after those the client already holds; the cursor stays where it is until
  // the client aligns it.
  ItemWriter w(agreed_.packet_size, agreed_.minor > 9);
  const auto it = cursors_.find(p.handle);
  const std::uint32_t rows = p.rows;
  RowsEnd end;
  if (it != cursors_.end()) {
    Cursor& c = it->second;
    std::int64_t from = std::max(c.sent, c.pos) + 1;
    std::uint32_t left = rows;
    plan_rows(c);  // no request comes between the chunks
    while (left > 0) {
      const std::uint32_t n = write_rows(w, c, from, std::min(left, kPrefetchChunkRows), &end);
      from += n;
      left -= n;
      c.sent = from - 1;
      if (end.code != 0) break;
      // The client reads these rows while we step the next ones.
      if (flush_hook_ && w.full_bytes() >= kPrefetchFlushBytes) {
        send_packets(w.take_full_packets());
        flush_hook_();
      }
    }
  }
  w.put_empty(kItemEnd);
  status_override_.swap(p.status);
  info_override_.swap(p.info);
  if (it == cursors_.end()) {
    const SqlError err = sql_error(-180, "Cursor not open");
    write_status(w, &err);
  } else if (end.code == 100 || end.failed) {
    write_status(w, &end.err);  // 100 at the end of the rows, or why the query stopped
  } else {
    write_status(w, nullptr);
  }
  write_info(w, {{kInfoFlagsSlot, 0}});
  status_override_.reset();
  info_override_.reset();
  send_packets(w.finish());
}

}  // namespace vqeng
