// Connections on several threads sharing one log file: every line arrives whole.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "cmdseq/request_log.h"
#include "config/conn_parms.h"

namespace {

TEST(RequestLogThreads, LinesOfConnectionsSharingAFileNeverInterleave) {
  char pattern[] = "/tmp/vq_cmdseq_log_XXXXXX";
  const std::string dir = mkdtemp(pattern);
  const std::string path = dir + "/shared.txt";
  a_cmdseq_env env;
  env.log_files = i_cs_CreateLogFileList();
  constexpr int kThreads = 4;
  constexpr int kLines = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      c_conn_parms parms;
      parms.setString(18, path.c_str());
      a_cmdseq_conn_attrib* attrib = CmdSeqCreateConnAttributes(&parms, &env, nullptr);
      ASSERT_NE(attrib, nullptr);
      attrib->line_no = static_cast<std::uint32_t>(t + 1);
      const std::string body(200, static_cast<char>('a' + t));
      for (int i = 0; i < kLines; ++i) CmdSeqPrtStringV(attrib, "%d %s", i, body.c_str());
      CmdSeqFreeConnAttributes(attrib);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_TRUE(env.log_files->files.is_empty());
  i_cs_DestroyLogFileList(env.log_files);

  std::ifstream in(path);
  std::string line;
  int counts[kThreads] = {};
  const std::regex shape(R"(\d\d:\d\d:\d\d \[    (\d)\] (\d+) ([a-d])\3{199})");
  int date_lines = 0;
  while (std::getline(in, line)) {
    std::smatch m;
    if (std::regex_match(line, m, shape)) {
      const int t = std::stoi(m[1]) - 1;
      ASSERT_EQ(m[3].str()[0], 'a' + t);
      ++counts[t];
    } else if (!line.empty()) {
      ++date_lines;  // the date line of each time the file was opened
    }
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(counts[t], kLines) << t;
  EXPECT_GE(date_lines, 1);
  std::string command = "rm -rf '" + dir + "'";
  EXPECT_EQ(std::system(command.c_str()), 0);
}

}  // namespace
