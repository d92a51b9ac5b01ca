// Assertion reports and the console prompt, each in a child process: they end the
// process or read its standard input.
#include "utils/base/assertions.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

namespace {

using ::testing::KilledBySignal;

TEST(AssertionsDeathTest, ReportGoesToStandardErrorThenAborts) {
  EXPECT_EXIT(UT_AssertStrFn("value %d out of range", "codec.cpp", 42, 7),
              KilledBySignal(SIGABRT),
              "^\\*\\*\\* Assertion Failure \\*\\*\\*\nvalue 7 out of range\n"
              "File 'codec.cpp' at line #42\nAborting execution\\.\\.\\.\n$");
}

TEST(AssertionsDeathTest, EmptyFormatStartsWithTheFile) {
  const char* empty = "";
  EXPECT_EXIT(UT_AssertStrFn(empty, "a.cpp", 1), KilledBySignal(SIGABRT),
              "^\\*\\*\\* Assertion Failure \\*\\*\\*\nFile 'a.cpp' at line #1\n");
  EXPECT_EXIT(UT_AssertStrFn(nullptr, "b.cpp", -3), KilledBySignal(SIGABRT),
              "\\*\\*\\*\nFile 'b.cpp' at line #-3\nAborting");
}

TEST(AssertionsDeathTest, LongMessageAndFileNameAreCutNeverOverrun) {
  const std::string long_text(20000, 'm');
  const std::string long_file(5000, 'f');
  // The message is cut; the file and line and the closing text stay.
  EXPECT_EXIT(UT_AssertStrFn("%s", "short.cpp", 9, long_text.c_str()), KilledBySignal(SIGABRT),
              "mmmm\nFile 'short.cpp' at line #9\nAborting execution\\.\\.\\.\n$");
  EXPECT_EXIT(UT_AssertStrFn("%s", long_file.c_str(), 11, long_text.c_str()),
              KilledBySignal(SIGABRT), "ffff\\.\\.\\.' at line #11\nAborting execution");
}

void RecordingMessage(const char* text, const char* title, int, int* answer) {
  std::string out = std::string("custom[") + title + "]:" + text + "\n";
  if (write(2, out.data(), out.size()) < 0) _exit(3);
  *answer = 1;
}

TEST(AssertionsDeathTest, ReplacedMessageFunctionIsUsedAndProcessStillAborts) {
  EXPECT_EXIT(
      {
        UT_AssertSetMessageFn(&RecordingMessage);
        UT_AssertStrFn("x", "m.cpp", 5);
      },
      KilledBySignal(SIGABRT), "^custom\\[Assertion Failure\\]:x\nFile 'm.cpp' at line #5");
}

// Runs the console message function once per entry of `asks` in a child process whose
// standard input holds `input`; returns what it wrote to standard error, and the
// answers in `answers` (-1 when the child ended abnormally).
std::string RunConsole(const std::string& input, const std::vector<int>& asks,
                       std::vector<int>* answers, int* term_signal = nullptr) {
  int in[2], err[2], res[2];
  if (pipe(in) != 0 || pipe(err) != 0 || pipe(res) != 0) return "<pipe>";
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(err[1], 2);
    close(in[1]);
    for (int ask : asks) {
      int answer = -7;
      ut_assert_message("text", "Title", ask, &answer);
      char a = static_cast<char>('0' + answer);
      if (write(res[1], &a, 1) != 1) _exit(2);
    }
    _exit(0);
  }
  close(in[0]);
  close(err[1]);
  close(res[1]);
  if (!input.empty() && write(in[1], input.data(), input.size()) < 0) return "<write>";
  close(in[1]);
  std::string out;
  char buf[256];
  ssize_t n;
  while ((n = read(err[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  answers->clear();
  char a;
  while (read(res[0], &a, 1) == 1) answers->push_back(a - '0');
  int status = 0;
  waitpid(pid, &status, 0);
  if (term_signal != nullptr) *term_signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  close(err[0]);
  close(res[0]);
  return out;
}

TEST(AssertionsConsole, PromptAnswers) {
  struct Case {
    const char* name;
    std::string input;
    int answer;
    std::string stderr_text;
  } const cases[] = {
      {"yes", "y", 1, "*** Title ***\ntext [Y|N|B] Y\n"},
      {"no", "N\n", 0, "*** Title ***\ntext [Y|N|B] N\n"},
      {"blanks skipped", " \t\r\nY", 1, "*** Title ***\ntext [Y|N|B] Y\n"},
      {"end of input is no", "", 0, "*** Title ***\ntext [Y|N|B] N\n"},
      {"unknown asks again", "zy", 1,
       "*** Title ***\ntext [Y|N|B] Huh? Please try again; answer one of Y or N ...\nY\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<int> answers;
    EXPECT_EQ(RunConsole(c.input, {1}, &answers), c.stderr_text);
    EXPECT_EQ(answers, std::vector<int>{c.answer});
  }
}

TEST(AssertionsConsole, NoAskAnswersYesAndQuietSilencesLaterCalls) {
  std::vector<int> answers;
  EXPECT_EQ(RunConsole("", {0}, &answers), "*** Title ***\ntext\n");
  EXPECT_EQ(answers, std::vector<int>{1});

  // "Q" answers no and every later call, asked or not, is silent with answer 0.
  EXPECT_EQ(RunConsole("q", {1, 1, 0}, &answers), "*** Title ***\ntext [Y|N|B] Q\n");
  EXPECT_EQ(answers, (std::vector<int>{0, 0, 0}));
}

TEST(AssertionsConsole, BreakWithoutDebuggerEndsTheProcess) {
  std::vector<int> answers;
  int sig = 0;
  RunConsole("b", {1, 1}, &answers, &sig);
  EXPECT_EQ(sig, SIGABRT);
  EXPECT_TRUE(answers.empty());  // the caller never went on
}

}  // namespace
