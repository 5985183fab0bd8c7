// The keeper shows its own title in ps, not the command line of the host it was forked from.
#include "process_title.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

namespace vlx::calc {
namespace {

std::string readAll(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(ProcessTitle, ReplacesTheCommandLineAndName) {
  const ProcessTitle title = prepareTitle("office keeper (idle 5 min)");
  ASSERT_NE(title.area, nullptr);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  if (child == 0) {
    showTitle(title, "office keeper");
    char done = 1;
    if (write(ready[1], &done, 1) != 1)
      _exit(1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char done = 0;
  ASSERT_EQ(read(ready[0], &done, 1), 1);
  close(ready[0]);
  const std::string proc = "/proc/" + std::to_string(child);
  const std::string commandLine = readAll(proc + "/cmdline");
  const std::string name = readAll(proc + "/comm");
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  const std::string want = std::string(program_invocation_short_name) + ": office keeper (idle 5 min)";
  EXPECT_EQ(commandLine.substr(0, commandLine.find('\0')), want.substr(0, commandLine.size() - 1));
  EXPECT_EQ(commandLine.find_first_not_of('\0', commandLine.find('\0')), std::string::npos)
      << "nothing of the old command line is left";
  EXPECT_EQ(name, "office keeper\n");
}

} // namespace
} // namespace vlx::calc
