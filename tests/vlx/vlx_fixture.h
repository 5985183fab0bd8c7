// Fixture of the vlx process tests: runs the built binary on the test's own directory and store.
#pragma once

#include "support/expect_text.h"
#include "support/files.h"
#include "support/temp_env.h"

#include <vlx/core/progress.h>

#include <string>
#include <vector>

namespace vlx::cli {

using test::readFile;
using test::RunResult;

// Progress bars as a terminal (or not) would show them, from the first update on: the policy
// stands in for the terminal and the second of waiting, restored after.
class BarPolicy {
public:
  explicit BarPolicy(bool terminal) : saved_(progressPolicy()) {
    progressPolicy() = {[terminal] { return terminal; }, std::chrono::milliseconds(0)};
  }
  ~BarPolicy() { progressPolicy() = saved_; }
  BarPolicy(const BarPolicy &) = delete;
  BarPolicy &operator=(const BarPolicy &) = delete;

  // One drawing of the bar: `percent` filled of 30 columns, then the count.
  static std::string drawn(const std::string &what, int percent, const std::string &count) {
    const auto filled = static_cast<size_t>(percent * 30 / 100);
    return "\r" + what + " [" + std::string(filled, '#') + std::string(30 - filled, ' ') + "] " +
           std::to_string(percent) + "% (" + count + ")\x1b[K";
  }

private:
  ProgressPolicy saved_;
};

class VlxTest : public test::TempEnvTest {
protected:
  RunResult vlx(std::vector<std::string> args) {
    args.insert(args.begin(), VLX_BINARY);
    return test::runCommand(args);
  }

  // Output (stdout and stderr together) of a command expected to succeed.
  std::string ok(const std::vector<std::string> &args) {
    RunResult r = vlx(args);
    EXPECT_EQ(r.status, 0) << r.output;
    return r.output;
  }

  // Exit `status` and exactly one "vlx: ..." line that holds `part`.
  RunResult fails(const std::vector<std::string> &args, const std::string &part, int status = 1) {
    RunResult r = vlx(args);
    EXPECT_EQ(r.status, status) << r.output;
    EXPECT_EQ(r.output.rfind("vlx: ", 0), 0u) << r.output;
    EXPECT_EQ(r.output.find('\n'), r.output.size() - 1) << r.output;
    EXPECT_HAS(r.output, part);
    return r;
  }

  // Writes `text` to `name` in the test's directory and gives its path.
  std::string write(const std::string &name, const std::string &text) {
    test::writeFile(dir_.file(name), text);
    return dir_.file(name);
  }
};

} // namespace vlx::cli
