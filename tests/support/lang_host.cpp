// A host for the language directory tests: run from a copy placed where a test wants its
// executable, it performs its arguments in order and prints what each call gave.
#include <velmora/files.h>
#include <velmora/lang.h>
#include <velmora/registry.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

std::string escaped(const char *text) {
  std::string out;
  for (; *text; ++text)
    out += *text == '\n' ? std::string("\\n") : std::string(1, *text);
  return out;
}

} // namespace

// Arguments: "subdir", "dir", "mkdir=PATH" or "english=N" (stores the preference as N).
int main(int argc, char **argv) {
  vlx::setMessageBoxHandler([](const char *text, unsigned type) {
    std::printf("message %u [%s]\n", type, escaped(text).c_str());
    return IDOK;
  });
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "subdir") {
      std::printf("subdir [%s]\n", static_cast<LPCTSTR>(su_GetLangSubdir()));
    } else if (arg == "dir") {
      std::printf("dir [%s]\n", static_cast<LPCTSTR>(su_GetLangDirForDLL()));
    } else if (arg.rfind("mkdir=", 0) == 0) {
      std::filesystem::create_directory(arg.substr(6));
    } else if (arg.rfind("english=", 0) == 0) {
      int value = std::atoi(arg.c_str() + 8);
      regSetUserValue("General", "Use English language", intType, "", &value, nullptr);
    } else {
      return 2;
    }
  }
  return 0;
}
