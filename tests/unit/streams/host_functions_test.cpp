// The host function table and the printing that goes through it.
#include "streams/host_functions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "stream_test_host.h"
#include "utils/locale/lang_string.h"
#include "utils/locale/resource_file.h"
#include "utils/locale/utlocale.h"

namespace {

using vq::testing::AsHostCtx;
using vq::testing::HostPrints;
using vq::testing::ScopedHostTable;
using vq::testing::TestEnvNotifier;
using vq::testing::TestHostCtx;

// Which entry of a complete table is cleared, and whether the table is then taken.
struct TableCase {
  const char* name;
  void (*clear)(a_strm_func_list&);
  int taken;
};

class HostTable : public testing::TestWithParam<TableCase> {};

TEST_P(HostTable, EveryFunctionEntryIsRequiredButTheParameter) {
  const TableCase c = GetParam();
  ScopedHostTable restore;
  int param = 0;
  a_strm_func_list l = vq::testing::RecordingFuncList(&param);
  c.clear(l);
  EXPECT_EQ(i_strm_SetupStreamsExternalFunctions(&l), c.taken);

  // The copy is made whether the table was taken or not.
  a_strm_func_list now{};
  i_strm_GetExternalFuncList(&now);
  EXPECT_EQ(std::memcmp(&now, &l, sizeof l), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, HostTable,
    testing::Values(
        TableCase{"complete", [](a_strm_func_list&) {}, 1},
        TableCase{"alloc", [](a_strm_func_list& l) { l.StrmAlloc = nullptr; }, 0},
        TableCase{"free", [](a_strm_func_list& l) { l.StrmFree = nullptr; }, 0},
        TableCase{"realloc", [](a_strm_func_list& l) { l.StrmRealloc = nullptr; }, 0},
        TableCase{"print", [](a_strm_func_list& l) { l.StrmPrtString = nullptr; }, 0},
        TableCase{"print_error", [](a_strm_func_list& l) { l.StrmPrtErrString = nullptr; }, 0},
        TableCase{"check_debug", [](a_strm_func_list& l) { l.StrmCheckDebug = nullptr; }, 0},
        TableCase{"connectionless",
                  [](a_strm_func_list& l) { l.StrmConnectionlessPrtString = nullptr; }, 0},
        TableCase{"connectionless_param",
                  [](a_strm_func_list& l) { l.StrmConnectionlessPrtStringParam = nullptr; }, 1}),
    [](const testing::TestParamInfo<TableCase>& info) { return std::string(info.param.name); });

TEST(HostTableCopy, ALaterTableReplacesTheEarlierAndNullInstallsNone) {
  ScopedHostTable restore;
  int first = 0, second = 0;
  a_strm_func_list a = vq::testing::RecordingFuncList(&first);
  a_strm_func_list b = vq::testing::RecordingFuncList(&second);
  ASSERT_EQ(i_strm_SetupStreamsExternalFunctions(&a), 1);
  ASSERT_EQ(i_strm_SetupStreamsExternalFunctions(&b), 1);
  vq::strm::HostPrintConnectionless("hello");
  auto lines = HostPrints::get().connectionless_lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].first, &second);
  EXPECT_EQ(lines[0].second, "hello");

  EXPECT_EQ(i_strm_SetupStreamsExternalFunctions(nullptr), 0);
  vq::strm::HostPrintConnectionless("lost");  // no entry: nothing is called
  EXPECT_FALSE(vq::strm::HostDebugOn(nullptr));
  EXPECT_EQ(HostPrints::get().connectionless_lines().size(), 1u);
}

// Printing through the links' printer, with and without a context and debugging.
struct PrintCase {
  const char* name;
  bool with_ctx;
  bool debug;
  bool z_form;
  bool printed;
};

class DebugPrinter : public testing::TestWithParam<PrintCase> {};

TEST_P(DebugPrinter, PrintsOnlyForAContextAndZFormOnlyWhenDebugging) {
  const PrintCase c = GetParam();
  ScopedHostTable table;
  TestEnvNotifier env;
  c_strm_pt_dbg_prt printer(&env);
  auto* ctx = new TestHostCtx;
  ctx->debug = c.debug;
  void* host_ctx = c.with_ctx ? AsHostCtx(ctx) : nullptr;

  if (c.z_form) {
    printer.Z_msg(host_ctx, "text line");
  } else {
    printer.msg(host_ctx, "text line");
  }
  const auto lines = env.lines();
  if (c.printed) {
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].first, host_ctx);
    EXPECT_EQ(lines[0].second, "text line");
  } else {
    EXPECT_TRUE(lines.empty());
  }
  ctx->release();
}

INSTANTIATE_TEST_SUITE_P(
    Forms, DebugPrinter,
    testing::Values(PrintCase{"msg_ctx", true, false, false, true},
                    PrintCase{"msg_no_ctx", false, true, false, false},
                    PrintCase{"z_ctx_debug", true, true, true, true},
                    PrintCase{"z_ctx_no_debug", true, false, true, false},
                    PrintCase{"z_no_ctx", false, true, true, false}),
    [](const testing::TestParamInfo<PrintCase>& info) { return std::string(info.param.name); });

// Numbered messages come from the build's English message file.
class NumberedMessages : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(0, file_.Open(VQ_TEST_RES_DIR "/vqlgen12.res"));
    UTResFile* files[] = {&file_};
    catalog_.SetResFiles(files, 1);
    catalog_.set_client_charset(UTLocale::GetCharsetInfoFromLabel("UTF-8", kSchemeAll));
    catalog_.reset();
    vq::strm::SetLibraryCatalog(&catalog_);
  }
  void TearDown() override { vq::strm::SetLibraryCatalog(nullptr); }

  UTLocale locale_;
  UTVCResFile file_;
  UTLangStringBase catalog_{&locale_};
};

TEST_F(NumberedMessages, AreFormattedWithTheirArgumentsAndPrinted) {
  ScopedHostTable table;
  TestEnvNotifier env;
  c_strm_pt_dbg_prt printer(&env);
  auto* ctx = new TestHostCtx;
  printer.msg(AsHostCtx(ctx), 18366, "bogus");
  printer.Z_msg(AsHostCtx(ctx), 9501, "TCPIP");
  ctx->debug = false;
  printer.Z_msg(AsHostCtx(ctx), 9501, "not printed");
  printer.msg(nullptr, 18366, "not printed");
  const auto lines = env.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].second, "Bad connection link list: bogus");
  EXPECT_EQ(lines[1].second, "The TCPIP link does not support the requested encryption");
  ctx->release();
}

TEST_F(NumberedMessages, ALongTextIsCutToTheMessageBuffer) {
  ScopedHostTable table;
  TestEnvNotifier env;
  c_strm_pt_dbg_prt printer(&env);
  auto* ctx = new TestHostCtx;
  const std::string arg(5000, 'x');
  printer.msg(AsHostCtx(ctx), 18366, arg.c_str());
  const auto lines = env.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].second.size(), kStrmMsgBytes - 1);
  EXPECT_EQ(lines[0].second.compare(0, 26, "Bad connection link list: "), 0);
  ctx->release();
}

TEST_F(NumberedMessages, AConnectionlessMessageGoesWithTheHostsParameter) {
  int param = 0;
  ScopedHostTable table(&param);
  vq::strm::HostPrintConnectionlessMsg(18366, "x");
  const auto lines = HostPrints::get().connectionless_lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].first, &param);
  EXPECT_EQ(lines[0].second, "Bad connection link list: x");
}

TEST_F(NumberedMessages, FormatMsgCutsAtTheCallersBuffer) {
  char buf[12];
  std::memset(buf, 'Z', sizeof buf);
  const unsigned int n = vq::strm::FormatMsg(buf, 8, 18366, "abc");
  EXPECT_EQ(n, 7u);
  EXPECT_STREQ(buf, "Bad con");
  EXPECT_EQ(buf[8], 'Z');
}

TEST(HostContext, ReferencesAreCountedAndTheLastReleaseDeletes) {
  std::atomic<int> deleted{0};
  auto* ctx = new TestHostCtx(&deleted);
  vq::strm::HostCtxAddRef(AsHostCtx(ctx));
  vq::strm::HostCtxRelease(AsHostCtx(ctx));
  EXPECT_EQ(deleted.load(), 0);
  vq::strm::HostCtxRelease(AsHostCtx(ctx));
  EXPECT_EQ(deleted.load(), 1);
  vq::strm::HostCtxAddRef(nullptr);
  vq::strm::HostCtxRelease(nullptr);
}

}  // namespace
