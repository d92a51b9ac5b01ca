// The statement-information cache and the pending information requests: hits and
// misses, eviction, shells, the caching rule, the periodic trimming, descriptions shared
// with cursors, and the requests written again after a cancel.
#include "cmdseq/stmt_cache.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cmdseq_fixture.h"
#include "utils/base/bounded_strings.h"

namespace {

struct Cache : CmdSeqConn {
  std::vector<std::string> texts;  // keeps the prepare texts alive

  Cache() { conn->server_strm_ver = 12; }

  a_cmdseq_stmt_info* Prepare(const std::string& text, std::uint16_t flags = 0,
                              std::uint32_t option = 0) {
    texts.push_back(text);
    a_cmdseq_prep_param p{texts.back().c_str(), static_cast<std::int32_t>(text.size()), flags,
                          option};
    a_cmdseq_return result = 99;
    a_cmdseq_stmt_info* info = conn->new_stmt_info(&p, &err, &result);
    EXPECT_EQ(result, info != nullptr ? CMDSEQ_OK : result);
    return info;
  }
  // A statement the server prepared, with its prepare reply cached.
  a_cmdseq_stmt_info* Prepared(const std::string& text, std::uint32_t server_stmt) {
    a_cmdseq_stmt_info* info = Prepare(text);
    info->flags |= CS_INFO_PREPARED | CS_INFO_PREPARE_CACHED;
    info->server_stmt = server_stmt;
    return info;
  }
  std::size_t Count(c_utils_list<a_cmdseq_stmt_info>& list) {
    std::size_t n = 0;
    for (c_utils_iter<a_cmdseq_stmt_info> it(list); !it.at_end(); it.next()) ++n;
    return n;
  }
  std::vector<int> SentCodes() const {
    std::vector<int> codes;
    for (const auto& s : sconn.sent) codes.push_back(s.code);
    return codes;
  }
};

TEST(StmtCache, LimitsFollowTheCacheSize) {
  struct Case {
    std::uint16_t version, count, limit, max;
    bool on;
  };
  const Case kCases[] = {
      {12, 3, 50, 3, true},  {12, 20, 100, 20, true}, {12, 100, 200, 100, true},
      {12, 0, 50, 0, false}, {10, 20, 50, 0, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::to_string(c.version) + "/" + std::to_string(c.count));
    Cache t;
    t.conn->server_strm_ver = c.version;
    t.conn->set_max_cached_stmt(c.count);
    EXPECT_EQ(t.conn->cache_limit, c.limit);
    EXPECT_EQ(t.conn->max_cached, c.max);
    EXPECT_EQ((t.conn->flags2 & CS_FLAGS2_CACHE_ON) != 0, c.on);
  }
}

TEST(StmtCache, TheSameStatementIsFoundAgainAfterItsDrop) {
  Cache t;
  a_cmdseq_stmt_info* first = t.Prepare("select 1");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->stmt_no, 1u);
  EXPECT_EQ(first->use_count, 1u);
  t.conn->add_to_dropped_stmt_list(first);
  EXPECT_EQ(t.conn->dropped_count, 1);

  a_cmdseq_stmt_info* again = t.Prepare("select 1");
  EXPECT_EQ(again, first);
  EXPECT_EQ(again->use_count, 2u);
  EXPECT_EQ(again->stmt_no, 1u);  // keeps its number
  EXPECT_EQ(again->server_stmt, CS_IMPLICIT_HANDLE);
  EXPECT_EQ(t.conn->dropped_count, 0);
  EXPECT_EQ(t.Count(t.conn->active_infos), 1u);
  EXPECT_EQ(t.Prepare("select 2")->stmt_no, 2u);
}

TEST(StmtCache, MissesOnAnyDifference) {
  struct Case {
    const char* name;
    std::string text;
    std::uint16_t flags;
    std::uint32_t option;
    bool hit;
  };
  const Case kCases[] = {
      {"same", "select a", CS_PREP_WITH_OPTION, 7, true},
      {"other text of the same length", "select b", CS_PREP_WITH_OPTION, 7, false},
      {"longer text", "select a ", CS_PREP_WITH_OPTION, 7, false},
      {"other flags", "select a", 0, 7, false},
      {"other option", "select a", CS_PREP_WITH_OPTION, 8, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Cache t;
    a_cmdseq_stmt_info* info = t.Prepare("select a", CS_PREP_WITH_OPTION, 7);
    t.conn->add_to_dropped_stmt_list(info);
    EXPECT_EQ(t.Prepare(c.text, c.flags, c.option) == info, c.hit);
  }
  Cache t;  // without the option flag the option word does not count
  t.conn->add_to_dropped_stmt_list(t.Prepare("x", 0, 1));
  EXPECT_EQ(t.Prepare("x", 0, 2)->use_count, 2u);
}

TEST(StmtCache, LongTextsAreNeverReused) {
  Cache t;
  const std::string kept(kMaxCachedTextBytes - 1, 'k');
  const std::string too_long(kMaxCachedTextBytes, 'l');
  a_cmdseq_stmt_info* a = t.Prepare(kept);
  a_cmdseq_stmt_info* b = t.Prepare(too_long);
  EXPECT_EQ(b->text, nullptr);
  EXPECT_EQ(b->text_len, -1);
  t.conn->add_to_dropped_stmt_list(a);
  t.conn->add_to_dropped_stmt_list(b);
  EXPECT_EQ(t.conn->shell_count, 1);
  EXPECT_EQ(t.Prepare(kept), a);
  a_cmdseq_stmt_info* c = t.Prepare(too_long);
  EXPECT_EQ(c, b);  // the shell's memory is used again, but as a new statement
  EXPECT_EQ(c->use_count, 1u);
  EXPECT_EQ(t.conn->shell_count, 0);
}

TEST(StmtCache, PreparedDroppedEntriesCountAsCached) {
  Cache t;
  a_cmdseq_stmt_info* info = t.Prepared("select 1", 77);
  t.conn->add_to_dropped_stmt_list(info);
  EXPECT_EQ(t.conn->cached_count, 1);
  a_cmdseq_stmt_info* again = t.Prepare("select 1");
  EXPECT_EQ(again, info);
  EXPECT_EQ(t.conn->cached_count, 0);
  EXPECT_EQ(again->server_stmt, 77u);  // the server still holds it
  EXPECT_TRUE(t.sconn.sent.empty());
}

TEST(StmtCache, ErrorsWithoutAnEntry) {
  Cache t;
  t.conn->next_stmt_no = 2147483647;
  a_cmdseq_prep_param p{"x", 1, 0, 0};
  a_cmdseq_return result = 0;
  EXPECT_EQ(t.conn->new_stmt_info(&p, &t.err, &result), nullptr);
  EXPECT_EQ(result, CMDSEQ_ERROR);
  EXPECT_EQ(t.err.sqlcode, -132);

  Cache u;
  a_cmdseq_prep_param negative{"x", -1, 0, 0};
  EXPECT_EQ(u.conn->new_stmt_info(&negative, &u.err, &result), nullptr);
  EXPECT_EQ(u.err.sqlcode, -132);
}

TEST(StmtCache, AFullDroppedListGivesUpAnEntryUsedOnce) {
  Cache t;
  t.conn->set_max_cached_stmt(3);  // limit 50
  // 51 dropped entries, newest first; the oldest was used twice, the second oldest once
  // and prepared on the server.
  std::vector<a_cmdseq_stmt_info*> infos;
  for (int i = 0; i < 51; ++i) infos.push_back(t.Prepare("s" + std::to_string(i)));
  infos[0]->use_count = 2;
  infos[1]->flags |= CS_INFO_PREPARED;
  infos[1]->server_stmt = 501;
  for (a_cmdseq_stmt_info* info : infos) t.conn->add_to_dropped_stmt_list(info);
  EXPECT_EQ(t.conn->dropped_count, 51);
  EXPECT_EQ(t.conn->cached_count, 1);
  const std::uint32_t bytes = t.conn->info_bytes;

  a_cmdseq_stmt_info* fresh = t.Prepare("new statement");
  EXPECT_EQ(fresh, infos[1]);  // the oldest used only once
  EXPECT_STREQ(fresh->text, "new statement");
  EXPECT_EQ(fresh->use_count, 1u);
  EXPECT_EQ(fresh->server_stmt, CS_IMPLICIT_HANDLE);
  EXPECT_EQ(fresh->stmt_no, 52u);
  EXPECT_EQ(t.conn->dropped_count, 50);
  EXPECT_EQ(t.conn->cached_count, 0);
  EXPECT_EQ(t.conn->info_bytes, bytes - 2 + 13);  // "s1" gave way to "new statement"
  // Its server statement was dropped in the current request and is pending.
  ASSERT_EQ(t.sconn.sent.size(), 1u);
  EXPECT_EQ(t.sconn.sent[0].code, 23);
  EXPECT_EQ(t.sconn.sent[0].bytes, le32(501));
  ASSERT_EQ(t.conn->pending_count, 1u);
  EXPECT_EQ(t.conn->pending[0].kind, CS_PENDING_DROP);
}

TEST(StmtCache, WithoutAnEntryUsedOnceTheOldestGoes) {
  Cache t;
  std::vector<a_cmdseq_stmt_info*> infos;
  for (int i = 0; i < 51; ++i) infos.push_back(t.Prepare("s" + std::to_string(i)));
  for (a_cmdseq_stmt_info* info : infos) {
    info->use_count = 3;
    t.conn->add_to_dropped_stmt_list(info);
  }
  EXPECT_EQ(t.Prepare("new"), infos[0]);
}

TEST(StmtCache, BelowTheLimitEntriesAreNew) {
  Cache t;
  a_cmdseq_stmt_info* a = t.Prepare("a");
  t.conn->add_to_dropped_stmt_list(a);
  a_cmdseq_stmt_info* b = t.Prepare("b");
  EXPECT_NE(b, a);
  EXPECT_EQ(t.conn->dropped_count, 1);
}

TEST(StmtCache, TheCachingRule) {
  struct Case {
    const char* name;
    std::uint32_t use_count;
    std::uint8_t flags, reuse_flags;
    std::uint32_t app_type;
    bool on;
    bool expected;
  };
  const Case kCases[] = {
      {"used twice, prepare reply kept", 2, CS_INFO_PREPARE_CACHED, 0, 2, true, true},
      {"cache off", 2, CS_INFO_PREPARE_CACHED, 0, 2, false, false},
      {"used once", 1, CS_INFO_PREPARE_CACHED, 0, 2, true, false},
      {"no prepare reply kept", 2, 0, 0, 2, true, false},
      {"failed before any validate", 2, CS_INFO_PREPARE_CACHED, CS_REUSE_FAILED_EARLY, 2, true,
       false},
      {"opened a cursor, application type 1", 2, CS_INFO_PREPARE_CACHED, CS_REUSE_OPENED, 1,
       true, false},
      {"opened a cursor, application type 2", 2, CS_INFO_PREPARE_CACHED, CS_REUSE_OPENED, 2,
       true, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Cache t;
    t.env.app_type = c.app_type;
    t.conn->set_max_cached_stmt(c.on ? 2 : 0);
    a_cmdseq_stmt_info* info = t.Prepare("q");
    info->use_count = c.use_count;
    info->flags |= c.flags;
    info->reuse_flags = c.reuse_flags;
    EXPECT_EQ(t.conn->should_cache_stmt_info(info), c.expected);
  }
}

TEST(StmtCache, AFullCacheMakesRoomOnlyForABusierStatement) {
  Cache t;
  t.conn->set_max_cached_stmt(1);
  a_cmdseq_stmt_info* old = t.Prepared("old", 9);
  old->use_count = 4;
  t.conn->add_to_dropped_stmt_list(old);
  ASSERT_EQ(t.conn->cached_count, 1);
  a_cmdseq_stmt_info* info = t.Prepared("busy", 10);
  info->use_count = 5;  // below 4 * 3 / 2
  EXPECT_FALSE(t.conn->should_cache_stmt_info(info));
  EXPECT_EQ(t.conn->cached_count, 1);
  info->use_count = 6;
  EXPECT_TRUE(t.conn->should_cache_stmt_info(info));
  EXPECT_EQ(t.conn->cached_count, 0);
  EXPECT_EQ(old->flags & CS_INFO_PREPARED, 0);
  EXPECT_EQ(t.SentCodes(), std::vector<int>{23});
}

TEST(StmtCache, EveryHundredthExecutionTrims) {
  Cache t;
  t.conn->set_max_cached_stmt(2);
  a_cmdseq_stmt_info* cached = t.Prepared("cached", 5);
  t.conn->add_to_dropped_stmt_list(cached);  // dropped at execution 0
  for (int i = 0; i < 99; ++i) t.conn->increment_execute_count();
  EXPECT_EQ(t.conn->cached_count, 1);
  t.conn->increment_execute_count();  // the 100th: dropped 100 executions ago
  EXPECT_EQ(t.conn->cached_count, 0);
  EXPECT_EQ(t.SentCodes(), std::vector<int>{23});
}

TEST(StmtCache, OldBusyEntriesBecomeShellsWhenTheListIsFull) {
  Cache t;
  std::vector<a_cmdseq_stmt_info*> infos;
  for (int i = 0; i < 50; ++i) infos.push_back(t.Prepare("t" + std::to_string(i)));
  infos[0]->use_count = 2;
  for (a_cmdseq_stmt_info* info : infos) t.conn->add_to_dropped_stmt_list(info);
  for (int i = 0; i < 500; ++i) t.conn->increment_execute_count();
  EXPECT_EQ(t.conn->shell_count, 1);
  EXPECT_EQ(infos[0]->text, nullptr);
  EXPECT_EQ(t.conn->dropped_infos.last_element(), infos[0]);
}

TEST(StmtCache, TheCacheComesBackOnEveryThousandExecutions) {
  Cache t;
  t.conn->set_max_cached_stmt(4);
  t.conn->flags2 &= static_cast<std::uint8_t>(~CS_FLAGS2_CACHE_ON);  // a validate miss
  t.conn->validate_misses = 3;
  for (int i = 0; i < 999; ++i) t.conn->increment_execute_count();
  EXPECT_EQ(t.conn->flags2 & CS_FLAGS2_CACHE_ON, 0);
  t.conn->increment_execute_count();
  EXPECT_NE(t.conn->flags2 & CS_FLAGS2_CACHE_ON, 0);
  EXPECT_EQ(t.conn->validate_misses, 0);
}

TEST(StmtCache, ResetAfterAnErrorLeavesACursorsDescriptionAlive) {
  Cache t;
  a_cmdseq_stmt_info* info = t.Prepared("select name from t", 3);
  a_cmdseq_desc* out = info->output_desc();
  ASSERT_NE(out, nullptr);
  a_cmdseq_desc_item* column = i_cs_AllocDescItem(out, 1);
  column->type = 1;
  column->name = ut_strdup("name");
  i_cs_AppendDescItem(out, column);
  info->flags |= CS_INFO_OUTPUT_DESCRIBED | CS_INFO_VALIDATE_SENT;
  info->reuse_flags |= CS_REUSE_CURSOR_DESC | CS_REUSE_OPENED;

  a_cmdseq_shared_desc* cursor_desc = info->acquire_output_desc();  // a cursor opens
  ASSERT_NE(cursor_desc, nullptr);
  i_cs_ResetStmtInfoAfterError(info);
  EXPECT_EQ(info->output, nullptr);
  EXPECT_EQ(info->flags & (CS_INFO_OUTPUT_DESCRIBED | CS_INFO_VALIDATE_SENT), 0);
  EXPECT_EQ(info->reuse_flags & CS_REUSE_FAILED_EARLY, 0);  // the validate had been sent
  // The cursor still reads its description (the sanitizer build checks the memory).
  ASSERT_EQ(cursor_desc->desc.count, 1u);
  EXPECT_STREQ(cursor_desc->desc.items->name, "name");

  // A new describe fills a new description; the cursor keeps the old one.
  EXPECT_NE(info->output_desc(), &cursor_desc->desc);
  t.conn->add_to_dropped_stmt_list(info);
  EXPECT_EQ(info->reuse_flags & CS_REUSE_CURSOR_DESC, 0);
  t.conn->fini();  // the entry is destroyed; the cursor's description is not
  EXPECT_STREQ(cursor_desc->desc.items->name, "name");
  cursor_desc->release();
}

TEST(StmtCache, AFailureBeforeAnyValidateIsRemembered) {
  Cache t;
  a_cmdseq_stmt_info* info = t.Prepare("x");
  info->flags |= CS_INFO_PREPARE_CACHED | CS_INFO_INPUT_DESCRIBED;
  info->reuse_flags |= CS_REUSE_RAN_WITHOUT_CURSOR | CS_REUSE_OPENED_CURSOR;
  i_cs_ResetStmtInfoAfterError(info);
  EXPECT_NE(info->reuse_flags & CS_REUSE_FAILED_EARLY, 0);
  EXPECT_EQ(info->reuse_flags & (CS_REUSE_RAN_WITHOUT_CURSOR | CS_REUSE_OPENED_CURSOR), 0);
  EXPECT_EQ(info->flags & (CS_INFO_PREPARE_CACHED | CS_INFO_INPUT_DESCRIBED), 0);
}

TEST(StmtCache, ResetEmptiesTheCacheAndKeepsTheConnectionUp) {
  Cache t;
  t.conn->add_to_dropped_stmt_list(t.Prepared("a", 1));
  t.Prepare("b");
  t.conn->add_pending_info_req_cursor_name(std::string(30, 'c').c_str());
  t.conn->reset();
  EXPECT_TRUE(t.connected());
  EXPECT_TRUE(t.conn->active_infos.is_empty());
  EXPECT_TRUE(t.conn->dropped_infos.is_empty());
  EXPECT_EQ(t.conn->dropped_count + t.conn->cached_count + t.conn->shell_count, 0);
  EXPECT_EQ(t.conn->pending_count, 0u);
  EXPECT_EQ(t.conn->next_stmt_no, 1u);
  EXPECT_EQ(t.conn->info_bytes, 0u);
}

// --- Pending information requests --------------------------------------------------------

TEST(PendingRequests, NamesUpTo19BytesAreKeptInline) {
  Cache t;
  const std::string inline_name(19, 'i');
  const std::string heap_name(20, 'h');
  t.conn->add_pending_info_req_cursor_name(inline_name.c_str());
  t.conn->add_pending_info_req_cursor_name(heap_name.c_str());
  ASSERT_EQ(t.conn->pending_count, 2u);
  EXPECT_EQ(t.conn->pending[0].kind, CS_PENDING_CLOSE_NAME);
  EXPECT_EQ(std::string(t.conn->pending[0].data.name), inline_name);
  EXPECT_EQ(t.conn->pending[1].kind, CS_PENDING_CLOSE_LONG_NAME);
  EXPECT_EQ(std::string(t.conn->pending[1].data.heap_name), heap_name);
}

TEST(PendingRequests, ResentInOrderAfterACancelAndClearedAfterAReply) {
  Cache t;
  t.conn->add_pending_info_req_handle(CS_PENDING_DROP, 11);
  t.conn->add_pending_info_req_handle(CS_PENDING_CACHED_DROP, 12);
  t.conn->add_pending_info_req_cursor_name("c1");
  t.conn->add_pending_info_req_cursor_name(std::string(25, 'n').c_str());
  // The request is cancelled: the pending requests go out again at once.
  t.sconn.fail(SQLPRES_CANCELLED);
  EXPECT_EQ(t.status_request(), CMDSEQ_CANCELLED);
  ASSERT_EQ(t.sconn.sent.size(), 6u);  // command 7, sync point, then the four again
  EXPECT_EQ(t.sconn.sent[2].code, 23);
  EXPECT_EQ(t.sconn.sent[2].bytes, le32(11));
  EXPECT_EQ(t.sconn.sent[3].code, 32);
  EXPECT_EQ(t.sconn.sent[3].bytes, le32(12));
  EXPECT_EQ(t.sconn.sent[4].code, 48);
  EXPECT_EQ(t.sconn.sent[4].bytes, text_bytes("c1"));
  EXPECT_EQ(t.sconn.sent[5].bytes, text_bytes(std::string(25, 'n')));
  EXPECT_EQ(t.conn->pending_count, 4u);  // not recorded twice, not yet cleared
  // The next reply read to its end clears them.
  CmdSeqResetErrorParam(&t.err, t.conn);
  t.sconn.item(66).sync();
  EXPECT_EQ(t.status_request(), CMDSEQ_OK);
  EXPECT_EQ(t.conn->pending_count, 0u);
}

TEST(PendingRequests, KeptWhenTheBlockHoldsACancel) {
  Cache t;
  t.conn->add_pending_info_req_handle(CS_PENDING_DROP, 1);
  i_cs_SetErrorInfo(&t.err, -299);
  t.conn->clear_pending_info_reqs(&t.err);
  EXPECT_EQ(t.conn->pending_count, 1u);
  CmdSeqResetErrorParam(&t.err, t.conn);
  t.conn->clear_pending_info_reqs(&t.err);
  EXPECT_EQ(t.conn->pending_count, 0u);
}

TEST(PendingRequests, TheArrayGrows) {
  Cache t;
  for (std::uint32_t i = 0; i < 45; ++i)
    t.conn->add_pending_info_req_handle(CS_PENDING_DROP, i);
  EXPECT_EQ(t.conn->pending_count, 45u);
  EXPECT_EQ(t.conn->pending_cap, 80u);
  EXPECT_EQ(t.conn->pending[44].data.handle, 44u);
}

}  // namespace
