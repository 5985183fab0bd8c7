// Fixture of the vlx process tests: runs the built binary on the test's own directory and store.
#pragma once

#include "support/temp_env.h"

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vlx::cli {

using test::RunResult;

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
    EXPECT_NE(r.output.find(part), std::string::npos) << r.output;
    return r;
  }

  std::string write(const std::string &name, const std::string &text) {
    std::string path = dir_.file(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  static std::string read(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
};

} // namespace vlx::cli
