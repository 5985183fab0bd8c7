// What a lost office's log says reaches the host as one line: the crash report when there is one.
#include "child_process.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <fstream>

namespace vlx::calc {
namespace {

TEST(LogTail, CrashReportElseLastLinesOnOneLine) {
  test::TempDir dir;
  std::string log = dir.file("soffice.log");
  EXPECT_EQ(logTail(log), "") << "no log";
  std::ofstream(log) << "";
  EXPECT_EQ(logTail(log), "");

  std::ofstream(log) << "one\ntwo\n\nthree\tand\x1b[0m\nfour\r\n\n";
  EXPECT_EQ(logTail(log), "two | three and [0m | four");

  std::ofstream(log) << "starting\nFatal exception: Signal 11\nStack:\n#0 a\n"
                     << "Fatal exception: Signal 6\nStack:\n#0 b\n";
  EXPECT_EQ(
      logTail(log),
      "Fatal exception: Signal 11 | Stack: | #0 a | Fatal exception: Signal 6 | Stack: | #0 b");

  std::ofstream(log) << std::string(100000, 'x') << "\nFatal exception: Signal 6\n"
                     << std::string(5000, 'y');
  std::string tail = logTail(log);
  EXPECT_EQ(tail.substr(0, 30), "Fatal exception: Signal 6 | yy");
  EXPECT_EQ(tail.size(), 603u) << "cut short";
  EXPECT_EQ(tail.substr(600), "...");
}

} // namespace
} // namespace vlx::calc
