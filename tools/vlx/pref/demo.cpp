// `vlx demo`: the preference fall-back, override, deletion and reset, shown on a scratch store.
#include "vlx/core/commands.h"
#include "vlx/core/errors.h"

#include <velmora/registry.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace vlx::cli {
namespace {

std::string scratchDirectory(const std::optional<std::string> &dir) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (dir) {
    // Refuse a directory with content: it may hold hives someone cares about.
    if (fs::exists(*dir, ec) && !fs::is_empty(*dir, ec))
      throw Failure(*dir + " is not empty; give a new or empty directory", 2);
    fs::create_directories(*dir, ec);
    if (ec)
      throw Failure("cannot create " + *dir + ": " + ec.message());
    return fs::absolute(*dir).string();
  }
  const char *base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/vlx-demo-XXXXXX";
  if (!mkdtemp(pattern.data()))
    throw Failure("cannot create a directory like " + pattern + ": " + std::strerror(errno));
  return pattern;
}

const char *kSection = "General";
const char *kName = "Backup Copies";

int readBackupCopies(std::string &source) {
  CString unused;
  int value = 0;
  if (!regGetUserValue(CString(kSection), CString(kName), intType, unused, &value, nullptr))
    throw Failure(std::string("demo: ") + kSection + "\\" + kName + " cannot be read back");
  source = prefSource(kSection, kName, PrefType::Int).value_or("?");
  return value;
}

void check(int ok, const std::string &step) {
  if (!ok)
    throw Failure("demo: " + step + " failed");
}

} // namespace

void demo(std::ostream &out, const std::optional<std::string> &dir) {
  std::string store = scratchDirectory(dir);
  // Before any registry call: the store decides where the hives live on first use.
  setenv("VELMORA_REGISTRY_DIR", store.c_str(), 1);
  out << "scratch registry store: " << printable(store) << '\n';

  std::string from;
  int two = 2, three = 3;
  check(
      regSetLocMachineValue(CString(kSection), CString(kName), intType, CString(""), &two, nullptr),
      "machine write");
  check(regSetLocMachineValue(CString(kSection), CString("Units"), stringType, CString("mm"),
                              nullptr, nullptr),
        "machine write");
  out << "1. machine default: HKEY_LOCAL_MACHINE\\Software\\Velmora\\" << kSection << " \"" << kName
      << "\" = 2, \"Units\" = \"mm\"\n";

  int value = readBackupCopies(from);
  out << "2. read through the fall-back: " << kName << " = " << value << " (from " << from << ")\n";

  check(regSetUserValue(CString(kSection), CString(kName), intType, CString(""), &three, nullptr),
        "user write");
  out << "3. user override: HKEY_CURRENT_USER\\Software\\Velmora\\" << kSection << " \"" << kName
      << "\" = 3\n";

  value = readBackupCopies(from);
  out << "4. read again: " << kName << " = " << value << " (from " << from << ")\n";

  check(regDelSoftwareValue(CString(kSection), CString(kName)), "deletion of the user value");
  value = readBackupCopies(from);
  out << "5. user value deleted: " << kName << " = " << value << " again (from " << from << ")\n";

  check(regResetUserPrefInfo(), "reset");
  value = readBackupCopies(from);
  out << "6. reset: the machine's sections copied into the user's; " << kName << " = " << value
      << " (from " << from << ")\n";

  out << "7. export of the result:\n" << std::flush;
  std::ostream quiet(nullptr); // no progress bar amid the demo's lines
  regExport(out, quiet, std::nullopt, std::nullopt);
}

} // namespace vlx::cli
