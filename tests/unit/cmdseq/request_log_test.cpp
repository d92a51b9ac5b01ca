// The request log: shared files, the line format, file permissions, open failures, the
// debug-message callback and lines for no connection.
#include "cmdseq/request_log.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cmdseq/error_info.h"
#include "config/conn_parms.h"
#include "config/option_tables.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

struct LogEnv {
  a_cmdseq_env env;
  std::string dir;
  std::vector<std::pair<std::uintptr_t, std::string>> callback_lines;

  LogEnv() {
    char pattern[] = "/tmp/vq_cmdseq_log_XXXXXX";
    dir = mkdtemp(pattern);
    env.log_files = i_cs_CreateLogFileList();
  }
  ~LogEnv() {
    i_cs_DestroyLogFileList(env.log_files);
    std::string command = "rm -rf '" + dir + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
  }

  a_cmdseq_conn_attrib* Attributes(const char* log_file, bool debug, std::uintptr_t owner = 0) {
    c_conn_parms parms;
    if (log_file != nullptr) parms.setString(18, log_file);
    if (debug) parms.setBool(kSlotDebug, true);
    a_cmdseq_error_info err;
    CmdSeqInitErrorParam(&env, &err, owner);
    a_cmdseq_conn_attrib* attrib = CmdSeqCreateConnAttributes(&parms, &env, &err);
    CmdSeqFiniErrorParam(&err);
    return attrib;
  }
};

LogEnv* g_callback_target = nullptr;
void RecordLine(std::uintptr_t value, const char* text) {
  g_callback_target->callback_lines.emplace_back(value, text);
}

TEST(RequestLog, ConnectionsNamingOneFileShareIt) {
  LogEnv e;
  const std::string path = e.dir + "/log.txt";
  const std::string other = e.dir + "/sub/.././log.txt";
  a_cmdseq_conn_attrib* a = e.Attributes(path.c_str(), false);
  a_cmdseq_conn_attrib* b = e.Attributes(other.c_str(), false);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(a->log_file, b->log_file);
  EXPECT_EQ(a->log_file->ref_count(), 2u);
  EXPECT_STREQ(a->log_file->path, path.c_str());
  EXPECT_EQ(a->debug, 1u);
  a_cmdseq_conn_attrib* c = e.Attributes((e.dir + "/another.txt").c_str(), false);
  EXPECT_NE(c->log_file, a->log_file);
  CmdSeqFreeConnAttributes(a);
  EXPECT_EQ(b->log_file->ref_count(), 1u);
  CmdSeqFreeConnAttributes(b);
  CmdSeqFreeConnAttributes(c);
  EXPECT_TRUE(e.env.log_files->files.is_empty());
}

TEST(RequestLog, LinesStartWithTheTimeAndTheConnectionNumber) {
  LogEnv e;
  const std::string path = e.dir + "/log.txt";
  a_cmdseq_conn_attrib* a = e.Attributes(path.c_str(), false);
  CmdSeqPrtString(a, "before the number is known");
  a->line_no = 7;
  CmdSeqPrtString(a, "abc");
  CmdSeqPrtString(a, "ends with a line feed\n");
  a->line_no = 123456;
  CmdSeqPrtString(a, "wide");
  CmdSeqFreeConnAttributes(a);

  const std::vector<std::string> lines = Lines(ReadFile(path));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "");
  EXPECT_TRUE(std::regex_match(
      lines[1], std::regex(R"([A-Z][a-z]{2} [A-Z][a-z]{2} \d\d \d{4} \d\d:\d\d:\d\d)")))
      << lines[1];
  EXPECT_TRUE(
      std::regex_match(lines[2], std::regex(R"(\d\d:\d\d:\d\d before the number is known)")))
      << lines[2];
  EXPECT_TRUE(std::regex_match(lines[3], std::regex(R"(\d\d:\d\d:\d\d \[    7\] abc)")))
      << lines[3];
  EXPECT_TRUE(std::regex_match(lines[4],
                               std::regex(R"(\d\d:\d\d:\d\d \[    7\] ends with a line feed)")))
      << lines[4];
  EXPECT_TRUE(std::regex_match(lines[5], std::regex(R"(\d\d:\d\d:\d\d \[123456\] wide)")))
      << lines[5];
}

TEST(RequestLog, FilesAreCreatedForTheOwnerOnly) {
  LogEnv e;
  const std::string path = e.dir + "/private.txt";
  const mode_t old_mask = umask(0);
  a_cmdseq_conn_attrib* a = e.Attributes(path.c_str(), false);
  CmdSeqPrtString(a, "x");
  umask(old_mask);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  CmdSeqFreeConnAttributes(a);
}

TEST(RequestLog, AFileThatCannotBeOpenedIsTriedAgainAtTheNextLine) {
  LogEnv e;
  const std::string path = e.dir + "/later/log.txt";
  a_cmdseq_conn_attrib* a = e.Attributes(path.c_str(), false);
  ASSERT_NE(a, nullptr);
  testing::internal::CaptureStderr();
  CmdSeqPrtString(a, "lost");
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find(path), std::string::npos) << err;
  EXPECT_EQ(a->log_file->fd, -2);
  ASSERT_EQ(mkdir((e.dir + "/later").c_str(), 0700), 0);
  CmdSeqPrtString(a, "kept");
  const std::vector<std::string> lines = Lines(ReadFile(path));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[2].find("kept"), std::string::npos);
  CmdSeqFreeConnAttributes(a);
}

TEST(RequestLog, DebugWithoutAFileGoesOnlyToTheCallback) {
  LogEnv e;
  g_callback_target = &e;
  EXPECT_EQ(CmdSeqCheckDebug(nullptr), 0);
  a_cmdseq_conn_attrib* quiet = e.Attributes(nullptr, false, 5);
  EXPECT_EQ(CmdSeqCheckDebug(quiet), 0);
  a_cmdseq_conn_attrib* a = e.Attributes(nullptr, true, 9);
  EXPECT_EQ(CmdSeqCheckDebug(a), 1);
  EXPECT_EQ(a->log_file, nullptr);
  e.env.debug_message_callback = RecordLine;
  EXPECT_EQ(CmdSeqCheckDebug(quiet), 1);  // a callback turns logging on
  CmdSeqPrtString(a, "one");
  CmdSeqPrtMsgId(a, 13794, "here", "2");
  CmdSeqPrtString(quiet, "two");
  ASSERT_EQ(e.callback_lines.size(), 3u);
  EXPECT_EQ(e.callback_lines[0], (std::pair<std::uintptr_t, std::string>{9, "one"}));
  EXPECT_EQ(e.callback_lines[2], (std::pair<std::uintptr_t, std::string>{5, "two"}));
  CmdSeqFreeConnAttributes(a);
  CmdSeqFreeConnAttributes(quiet);
  g_callback_target = nullptr;
}

TEST(RequestLog, FormattedLinesAreNeverCut) {
  LogEnv e;
  g_callback_target = &e;
  e.env.debug_message_callback = RecordLine;
  a_cmdseq_conn_attrib* a = e.Attributes(nullptr, true);
  const std::string long_text(5000, 'w');
  CmdSeqPrtStringV(a, "%s|%d", long_text.c_str(), 42);
  char room[8] = "abc";
  CmdSeqPrtStringNL(a, room, sizeof room);
  char full[4] = "abc";
  CmdSeqPrtStringNL(a, full, sizeof full);
  ASSERT_EQ(e.callback_lines.size(), 3u);
  EXPECT_EQ(e.callback_lines[0].second, long_text + "|42");
  EXPECT_EQ(e.callback_lines[1].second, "abc\n");
  EXPECT_EQ(e.callback_lines[2].second, "abc");
  CmdSeqFreeConnAttributes(a);
  g_callback_target = nullptr;
}

TEST(RequestLog, LinesForNoConnectionGoToEveryOpenFileAndStandardOutput) {
  LogEnv e;
  const std::string path = e.dir + "/log.txt";
  a_cmdseq_conn_attrib* a = e.Attributes(path.c_str(), false);
  CmdSeqPrtString(a, "first");
  testing::internal::CaptureStdout();
  CmdSeqConnectionlessPrint(e.env.log_files, "for everyone");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "for everyone\n");
  const std::vector<std::string> lines = Lines(ReadFile(path));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3], "for everyone");
  CmdSeqFreeConnAttributes(a);
}

TEST(RequestLog, AttributesWithoutAnEnvironmentWriteNoTime) {
  LogEnv e;
  const std::string path = e.dir + "/bare.txt";
  a_cmdseq_conn_attrib* a = CmdSeqCreateEmptyConnAttributes();
  ASSERT_EQ(a->setLogFile(&e.env, path.c_str()), 1);
  a->env = nullptr;  // a file attached, then the environment forgotten
  CmdSeqPrtString(a, "plain");
  a->env = &e.env;
  const std::vector<std::string> lines = Lines(ReadFile(path));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2], "plain");
  EXPECT_EQ(a->setLogFile(&e.env, nullptr), 1);
  EXPECT_EQ(a->log_file, nullptr);
  CmdSeqFreeConnAttributes(a);
  CmdSeqPrtString(nullptr, "nothing");
}

}  // namespace
