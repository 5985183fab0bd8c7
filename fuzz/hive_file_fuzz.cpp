// libFuzzer target: the registry store fed damaged hive files. Whatever the file holds, no call
// crashes, and a file the store refuses to write is left byte for byte as it was.
#include "fuzz/patched_file.h"
#include "platform/posix/registry/hive_db.h"

#include <velmora/hive.h>
#include <velmora/registry.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

std::string dir;
std::string validHive; // a real hive, which most inputs patch

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void writeFile(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

void removeLogs() {
  for (const char *suffix : {"-wal", "-shm"})
    unlink((dir + "/user.db" + suffix).c_str());
}

// A user hive of a few sections, subkeys and value types, and a machine hive.
void makeValidHive() {
  for (int s = 0; s < 6; ++s) {
    CString section(("Section" + std::to_string(s)).c_str());
    for (int v = 0; v < 8; ++v) {
      CString name(("Value" + std::to_string(v)).c_str());
      int number = s * 8 + v;
      double ratio = number / 7.0;
      regSetUserValue(section, name, static_cast<valueTypes>(v % 3),
                      CString(std::string(v * 9, 'x').c_str()), &number, &ratio);
    }
  }
  // Machine sections for the reset to copy into the damaged hive.
  for (int s = 0; s < 3; ++s) {
    int number = s;
    regSetLocMachineValue(CString(("Section" + std::to_string(s)).c_str()), "Machine", intType, "",
                          &number, nullptr);
  }
  HKEY key = nullptr;
  RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Velmora\\Section1\\Deeper\\Deepest", &key);
  RegCloseKey(key);
  vlx::detail::closeIdleHives();
  validHive = readFile(dir + "/user.db");
  removeLogs();
}

// Reads every key and value below `key`, a few levels deep.
void walk(HKEY key, int depth) {
  char name[300];
  BYTE data[300];
  for (DWORD i = 0; i < 64; ++i) {
    DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
    if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS)
      break;
  }
  for (DWORD i = 0; depth < 4 && i < 64; ++i) {
    DWORD nameSize = sizeof name;
    if (RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    HKEY sub = nullptr;
    if (RegOpenKeyExA(key, name, 0, KEY_READ, &sub) == ERROR_SUCCESS) {
      walk(sub, depth + 1);
      RegCloseKey(sub);
    }
  }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  const char *base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/vlx-hive-fuzz-XXXXXX";
  dir = mkdtemp(pattern.data());
  std::atexit([] { std::filesystem::remove_all(dir); });
  setenv("VELMORA_REGISTRY_DIR", dir.c_str(), 1);
  makeValidHive();
  return 0;
}

// Inputs patch the real hive (see patched_file.h).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string file = vlx::fuzz::patchedFile(validHive, data, size);
  vlx::detail::closeIdleHives();
  removeLogs();
  const std::string path = dir + "/user.db";
  writeFile(path, file);

  walk(HKEY_CURRENT_USER, 0);
  CString text;
  int number = 0;
  regGetUserValue("Section1", "Value1", intType, text, &number, nullptr);
  HKEY key = nullptr;
  LONG written = RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Velmora\\Section2", 0, nullptr, 0,
                                 KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (written == ERROR_SUCCESS) {
    DWORD value = 7;
    written = RegSetValueExA(key, "Fuzz", 0, REG_DWORD, reinterpret_cast<BYTE *>(&value), 4);
    RegCloseKey(key);
  }
  regResetUserPrefInfo();
  walk(HKEY_CURRENT_USER, 0);
  vlx::checkHives();
  vlx::detail::closeIdleHives();
  // A refused write means the file was found unusable: nothing may have changed it.
  if (written == ERROR_BADDB && readFile(path) != file)
    std::abort();
  return 0;
}
