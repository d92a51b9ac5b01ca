// The server error table and the error blocks: the table's shape and its fixed rows,
// lookups, packed states, the survival rule, and moves between blocks.
#include "cmdseq/error_info.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cmdseq/client.h"
#include "cmdseq/errors/error_table.h"

namespace {

std::string State(a_packed_sqlstate packed) {
  char out[6];
  CmdSeqGetStateString(packed, out);
  return out;
}

// The SQL codes the table must hold, as ranges.
const char kCodeRanges[] =
    "-1532..-1529, -1526, -1522, -1516..-1515, -1512..-1482, -1480..-1438, -1436..-1417, "
    "-1415..-1369, -1367..-1366, -1363..-1348, -1344..-1321, -1319..-1318, -1315..-1307, "
    "-1305..-1303, -1290..-1288, -1286, -1283, -1281..-1259, -1254..-1253, -1244..-1243, "
    "-1241..-1240, -1238..-1235, -1233..-1229, -1226..-1223, -1221..-1211, -1207..-1106, "
    "-1104..-1068, -1066..-1060, -1057, -1054..-1050, -1047..-1016, -1012..-978, -976..-933, "
    "-931..-918, -916..-910, -908..-887, -883, -881, -879..-872, -870..-860, -858..-849, "
    "-846..-845, -843, -840..-799, -797, -794..-782, -780..-777, -774..-764, -761..-759, -757, "
    "-755..-754, -751..-749, -746..-744, -740..-715, -712..-702, -700, -698..-697, -692..-691, "
    "-689, -687..-680, -678..-672, -670..-604, -602..-601, -504..-503, -313..-311, -309..-294, "
    "-289..-280, -274..-271, -269..-267, -265..-260, -251..-240, -231..-230, -222..-220, "
    "-218..-180, -172..-170, -165..-130, -127..-118, -116, -114..-74, -72, 0, 100..107, "
    "109..122, 124..125, 127, 129..130, 132..134, 136..150, 200..201";

std::vector<int> ExpectedCodes() {
  std::vector<int> codes;
  std::stringstream in(kCodeRanges);
  std::string part;
  while (std::getline(in, part, ',')) {
    const auto dots = part.find("..");
    const int first = std::stoi(part.substr(0, dots));
    const int last = dots == std::string::npos ? first : std::stoi(part.substr(dots + 2));
    for (int c = first; c <= last; ++c) codes.push_back(c);
  }
  return codes;
}

TEST(ErrorTable, HoldsEveryCodeInOrderEndedByAZeroRow) {
  const std::vector<int> expected = ExpectedCodes();
  ASSERT_EQ(expected.size(), kErrorMapRows);
  std::set<int> ids;
  for (std::size_t i = 0; i < kErrorMapRows; ++i) {
    const a_cmdseq_error_map& row = AllErrorsMapping[i];
    SCOPED_TRACE(row.sqlcode);
    EXPECT_EQ(row.sqlcode, expected[i]);
    EXPECT_GE(row.message_id, 2000);
    EXPECT_LE(row.message_id, 3187);
    EXPECT_TRUE(ids.insert(row.message_id).second) << "message id repeated";
    EXPECT_GE(row.severity, 10);
    EXPECT_LE(row.severity, 26);
    if (row.sqlcode > 0) {
      EXPECT_EQ(row.severity, row.sqlcode == 100 ? 16 : 10);
    }
    for (a_packed_sqlstate s : {row.server_state, row.odbc3_state, row.odbc2_state}) {
      EXPECT_EQ(s >> 30, 0u);
      for (char c : State(s)) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'));
    }
  }
  const a_cmdseq_error_map& end = AllErrorsMapping[kErrorMapRows];
  EXPECT_EQ(end.sqlcode, 0);
  EXPECT_EQ(end.message_id, 0);
  EXPECT_EQ(end.server_state | end.odbc3_state | end.odbc2_state, 0u);
  EXPECT_EQ(end.compat_number | end.severity, 0);
}

struct FixedRow {
  int sqlcode, message_id;
  const char *server, *odbc3;
  int compat, severity;
  const char* odbc2;
};

TEST(ErrorTable, RowsTheClientSetsCarryTheirValues) {
  const FixedRow kRows[] = {
      {-1532, 3187, "2FF17", "HY000", 12573, 16, "S1000"},
      {-1179, 2856, "08WA2", "08001", 708, 17, "08001"},
      {-1033, 2702, "08W89", "08001", 13478, 17, "08001"},
      {-935, 2599, "08W68", "08001", 13553, 11, "08001"},
      {-934, 2598, "08W67", "08001", 13552, 11, "08001"},
      {-876, 2528, "08W65", "HY001", 13882, 17, "S1001"},
      {-840, 2487, "08W62", "08001", 16846, 21, "08001"},
      {-832, 2479, "08W60", "08001", 13838, 16, "08001"},
      {-829, 2476, "08W59", "08S01", 13835, 21, "08S01"},
      {-816, 2463, "08W56", "08001", 924, 14, "08001"},
      {-754, 2400, "08W54", "08004", 5864, 18, "08004"},
      {-308, 2196, "40W07", "HY000", 4224, 16, "S1000"},
      {-300, 2189, "40000", "HY000", 13664, 18, "S1000"},
      {-299, 2188, "57014", "HY000", 3621, 16, "S1000"},
      {-181, 2113, "22002", "HY000", 13635, 16, "S1000"},
      {-132, 2073, "26501", "HY000", 13629, 16, "S1000"},
      {-105, 2042, "08001", "08001", 4001, 11, "08001"},
      {-95, 2380, "08W49", "08004", 5864, 18, "08004"},
      {-88, 2027, "08W15", "08S01", 1602, 21, "08S01"},
      {-87, 2026, "08W14", "08001", 840, 17, "08001"},
      {-86, 2025, "08W13", "HY001", 708, 17, "S1001"},
      {-85, 2022, "08W12", "08S01", 1602, 21, "08S01"},
      {-84, 2020, "08W11", "08001", 4001, 11, "08001"},
      {-83, 2019, "08W10", "08001", 911, 16, "08001"},
      {-82, 2018, "08W09", "08001", 840, 11, "08001"},
      {-81, 2012, "08W08", "08001", 5864, 18, "08001"},
      {-80, 2011, "08W07", "08001", 708, 17, "08001"},
      {-77, 2016, "08W27", "08001", 1801, 16, "08001"},
      {-76, 2015, "08W28", "08004", 950, 14, "08004"},
      {0, 2000, "00000", "00000", 21, 10, "00000"},
      {100, 2001, "02000", "00000", 560, 16, "00000"},
      {101, 2002, "01004", "01004", 7337, 10, "01004"},
      {103, 2004, "01W03", "01S01", 518, 10, "01S01"},
      {111, 2008, "01W08", "00000", 590, 10, "00000"},
      {201, 2788, "01WC4", "01000", 13397, 10, "01000"},
  };
  for (const FixedRow& want : kRows) {
    SCOPED_TRACE(want.sqlcode);
    const a_cmdseq_error_map* row = GetErrorMapForSQLCode(want.sqlcode);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->message_id, want.message_id);
    EXPECT_EQ(State(row->server_state), want.server);
    EXPECT_EQ(State(row->odbc3_state), want.odbc3);
    EXPECT_EQ(row->compat_number, want.compat);
    EXPECT_EQ(row->severity, want.severity);
    EXPECT_EQ(State(row->odbc2_state), want.odbc2);
  }
}

TEST(ErrorTable, Lookups) {
  EXPECT_EQ(GetErrorMapForSQLCode(-1533), nullptr);
  EXPECT_EQ(GetErrorMapForSQLCode(202), nullptr);
  EXPECT_EQ(GetErrorMapForSQLCode(-1527), nullptr);  // a gap
  EXPECT_EQ(GetErrorMapForSQLCode(108), nullptr);
  ASSERT_NE(GetErrorMapForSQLCode(-308), nullptr);
  EXPECT_EQ(GetErrorMapForSQLCode(-308)->message_id, 2196);
  for (int code : {-1532, -72, 0, 201}) {
    ASSERT_NE(GetErrorMapForSQLCode(code), nullptr) << code;
    EXPECT_EQ(GetErrorMapForSQLCode(code)->sqlcode, code);
  }

  const a_cmdseq_error_map* by_state = GetErrorMapForSQLState(i_cs_PackState("08W07"));
  ASSERT_NE(by_state, nullptr);
  EXPECT_EQ(by_state->sqlcode, -80);
  EXPECT_EQ(GetErrorMapForSQLState(i_cs_PackState("ZZZZZ")), nullptr);

  // Three rows share compatibility number 5864; the first in table order answers.
  const a_cmdseq_error_map* by_number = GetErrorMapForTVKCode(5864);
  ASSERT_NE(by_number, nullptr);
  EXPECT_EQ(by_number->sqlcode, -754);
  EXPECT_EQ(GetErrorMapForTVKCode(4224)->sqlcode, -308);
  EXPECT_EQ(GetErrorMapForTVKCode(-5), nullptr);
}

TEST(PackedState, PacksSixBitsPerCharacterFirstCharacterHighest) {
  EXPECT_EQ(i_cs_PackState("00000"), 0u);
  EXPECT_EQ(State(0), "00000");
  EXPECT_EQ(i_cs_PackState("10000"), 1u << 24);
  EXPECT_EQ(i_cs_PackState("0000A"), 17u);
  EXPECT_EQ(i_cs_PackState("0000Z"), 42u);
  EXPECT_EQ(i_cs_PackState("9ZZZZ") >> 30, 0u);
  for (const char* s : {"08W07", "HY000", "S1000", "01S01", "2FF17", "ZZZZZ"}) {
    EXPECT_EQ(State(i_cs_PackState(s)), s);
  }
  CmdSeqGetStateString(1, nullptr);  // nothing for a null output
}

// --- Error blocks --------------------------------------------------------------------------

struct Block {
  a_cmdseq_env env;
  a_cmdseq_error_info err;
  Block() { CmdSeqInitErrorParam(&env, &err, 42); }
  ~Block() { CmdSeqFiniErrorParam(&err); }
  std::vector<std::string> params() const {
    std::vector<std::string> out;
    for (auto* n = err.params; n != nullptr; n = n->next) out.emplace_back(n->text);
    return out;
  }
};

TEST(ErrorBlock, InitialisedBlockIsClear) {
  Block b;
  EXPECT_EQ(b.err.owner, 42u);
  EXPECT_EQ(b.err.env, &b.env);
  EXPECT_EQ(b.err.sqlcode, 0);
  EXPECT_STREQ(b.err.server_state, "00000");
  EXPECT_STREQ(b.err.odbc3_state, "00000");
  EXPECT_STREQ(b.err.odbc2_state, "00000");
  EXPECT_EQ(b.err.params, nullptr);
  EXPECT_EQ(b.err.message, nullptr);
}

TEST(ErrorBlock, FirstErrorStaysAndAWarningYieldsOnlyToAnError) {
  struct Case {
    int stored;
    int incoming;
    int kept;
    bool stored_now;
  };
  const Case kCases[] = {
      {0, -308, -308, true},    {0, 101, 101, true},  {101, -308, -308, true},
      {101, 103, 101, false},   {101, 0, 101, false}, {-308, -299, -308, false},
      {-308, 101, -308, false}, {0, 0, 0, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::to_string(c.stored) + " then " + std::to_string(c.incoming));
    Block b;
    if (c.stored != 0) {
      i_cs_SetErrorInfo(&b.err, c.stored);
      i_cs_SetErrorParam(&b.err, "first");
    }
    EXPECT_EQ(i_cs_SetErrorInfo(&b.err, c.incoming), c.stored_now);
    i_cs_SetErrorParam(&b.err, "second");
    EXPECT_EQ(b.err.sqlcode, c.kept);
    // A stored row starts with no parameters; otherwise later ones join the kept error's.
    if (c.stored_now) {
      EXPECT_EQ(b.params(), std::vector<std::string>{"second"});
    } else {
      EXPECT_EQ(b.params(), (std::vector<std::string>{"first", "second"}));
    }
  }
}

TEST(ErrorBlock, ErrorAfterWarningTakesTheErrorsStates) {
  Block b;
  i_cs_SetErrorInfo(&b.err, 101);
  i_cs_SetErrorParam(&b.err, "p");
  i_cs_SetErrorInfo(&b.err, -308);
  EXPECT_EQ(b.err.sqlcode, -308);
  EXPECT_STREQ(b.err.server_state, "40W07");
  EXPECT_STREQ(b.err.odbc3_state, "HY000");
  EXPECT_STREQ(b.err.odbc2_state, "S1000");
  EXPECT_EQ(b.err.params, nullptr);
}

TEST(ErrorBlock, ParametersKeepTheirOrderAndNullAddsNothing) {
  Block b;
  i_cs_SetErrorInfo(&b.err, -80);
  EXPECT_TRUE(CmdSeqSetErrorParamStr(&b.err, "a"));
  EXPECT_TRUE(i_cs_SetErrorParam(&b.err, nullptr));
  EXPECT_TRUE(i_cs_SetErrorParamN(&b.err, "bcd", 2));
  EXPECT_TRUE(i_cs_SetErrorParam(&b.err, ""));
  EXPECT_EQ(b.params(), (std::vector<std::string>{"a", "bc", ""}));
}

TEST(ErrorBlock, ResetClearsAndPicksTheStrings) {
  Block b;
  i_cs_SetErrorInfo(&b.err, -308);
  i_cs_SetErrorParam(&b.err, "x");
  b.err.cursors_closed = 1;
  auto* conn_strings = reinterpret_cast<UTLangStringBase*>(&b);  // identity only
  a_cmdseq_conn conn(&b.env, nullptr);
  conn.lang = conn_strings;
  CmdSeqResetErrorParam(&b.err, &conn);
  EXPECT_EQ(b.err.sqlcode, 0);
  EXPECT_STREQ(b.err.server_state, "00000");
  EXPECT_EQ(b.err.params, nullptr);
  EXPECT_EQ(b.err.cursors_closed, 0u);
  EXPECT_EQ(b.err.lang, conn_strings);
  conn.status &= static_cast<std::uint8_t>(~CS_STATUS_CONNECTED);  // not connected
  CmdSeqResetErrorParam(&b.err, &conn);
  EXPECT_EQ(b.err.lang, nullptr);  // the environment has no strings here
  CmdSeqResetLocale(&b.err);
  EXPECT_EQ(b.err.lang, nullptr);
}

TEST(ErrorBlock, CombineMovesUnderTheSurvivalRule) {
  {  // A clear source only loses its texts.
    Block dst, src;
    i_cs_SetErrorInfo(&dst.err, 101);
    i_cs_SetErrorParam(&dst.err, "kept");
    i_cs_SetErrorParam(&src.err, "dropped");
    CmdSeqCombineErrorParams(&dst.err, &src.err);
    EXPECT_EQ(dst.err.sqlcode, 101);
    EXPECT_EQ(dst.params(), std::vector<std::string>{"kept"});
    EXPECT_EQ(src.err.params, nullptr);
  }
  {  // An error replaces a warning, texts and all.
    Block dst, src;
    i_cs_SetErrorInfo(&dst.err, 101);
    i_cs_SetErrorParam(&dst.err, "old");
    i_cs_SetErrorInfo(&src.err, -299);
    i_cs_SetErrorParam(&src.err, "new");
    CmdSeqCombineErrorParams(&dst.err, &src.err);
    EXPECT_EQ(dst.err.sqlcode, -299);
    EXPECT_STREQ(dst.err.server_state, "57014");
    EXPECT_EQ(dst.params(), std::vector<std::string>{"new"});
    EXPECT_EQ(src.err.params, nullptr);
  }
  {  // A stored error stays.
    Block dst, src;
    i_cs_SetErrorInfo(&dst.err, -308);
    i_cs_SetErrorInfo(&src.err, -299);
    i_cs_SetErrorParam(&src.err, "new");
    CmdSeqCombineErrorParams(&dst.err, &src.err);
    EXPECT_EQ(dst.err.sqlcode, -308);
    EXPECT_EQ(dst.err.params, nullptr);
    EXPECT_EQ(src.err.params, nullptr);
  }
}

TEST(ErrorBlock, SaveAndRestoreMoveTheTexts) {
  Block b, save;
  i_cs_SetErrorInfo(&b.err, -77);
  i_cs_SetErrorParam(&b.err, "p");
  i_cs_SaveErrorTo(&b.err, &save.err);
  EXPECT_EQ(b.err.params, nullptr);
  EXPECT_EQ(save.params(), std::vector<std::string>{"p"});
  CmdSeqResetErrorParam(&b.err, nullptr);
  i_cs_SetErrorInfo(&b.err, -80);
  i_cs_SetErrorParam(&b.err, "replaced");
  i_cs_RestoreErrorFrom(&b.err, &save.err);
  EXPECT_EQ(b.err.sqlcode, -77);
  EXPECT_EQ(b.params(), std::vector<std::string>{"p"});
  EXPECT_EQ(save.err.params, nullptr);
}

TEST(ErrorBlock, ParseErrorsBecomeTheirRowWithOneParameter) {
  Block none, dsn, syntax;
  i_cs_SetParseError(&none.env, &none.err, nullptr, 0);
  EXPECT_EQ(none.err.sqlcode, 0);
  i_cs_SetParseError(&dsn.env, &dsn.err, nullptr, 10);
  EXPECT_EQ(dsn.err.sqlcode, -754);
  EXPECT_EQ(dsn.params().size(), 1u);
  i_cs_SetParseError(&syntax.env, &syntax.err, nullptr, 3);
  EXPECT_EQ(syntax.err.sqlcode, -95);
  ASSERT_EQ(syntax.params().size(), 1u);
  EXPECT_FALSE(syntax.params()[0].empty());
}

}  // namespace
