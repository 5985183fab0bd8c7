// The command line is overwritten where the kernel reads it (/proc/PID/cmdline): between the
// arg_start and arg_end of /proc/self/stat, which are exact where argv[0] may have moved.
#include "process_title.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/prctl.h>

namespace vlx::calc {

ProcessTitle prepareTitle(const std::string &what) {
  ProcessTitle title;
  title.text = std::string(program_invocation_short_name) + ": " + what;
  std::ifstream in("/proc/self/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), {});
  // Fields after the name, which may hold blanks and parentheses: the state is field 3.
  const size_t close = stat.rfind(')');
  if (close == std::string::npos)
    return title;
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  unsigned long long start = 0, end = 0;
  for (int number = 3; fields >> field && number <= 49; ++number) {
    if (number == 48)
      start = std::strtoull(field.c_str(), nullptr, 10);
    else if (number == 49)
      end = std::strtoull(field.c_str(), nullptr, 10);
  }
  if (start != 0 && end > start) {
    title.area = reinterpret_cast<char *>(static_cast<uintptr_t>(start));
    title.size = static_cast<size_t>(end - start);
  }
  return title;
}

void showTitle(const ProcessTitle &title, const char *name) {
  ::prctl(PR_SET_NAME, name, 0, 0, 0);
  if (!title.area || title.size == 0)
    return;
  const size_t length = title.text.size() < title.size ? title.text.size() : title.size - 1;
  std::memcpy(title.area, title.text.data(), length);
  std::memset(title.area + length, 0, title.size - length);
}

} // namespace vlx::calc
