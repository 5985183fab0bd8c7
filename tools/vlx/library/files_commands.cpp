// `vlx path`, `ls`, `temp` and `backup`: the library's path splitting, listing, scratch and
// backup calls, with POSIX paths on the command line.
#include "vlx/library/library_commands.h"

#include "files/backup_count.h"
#include "vlx/core/commands.h"
#include "vlx/core/errors.h"
#include "vlx/formats/escape.h"

#include <velmora/afx.h>
#include <velmora/files.h>
#include <velmora/registry.h>
#include <velmora/win32.h>

#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace vlx::cli {
namespace {

constexpr UINT kBackupPrefixId = 10122;

// The library carries no strings; the host supplies the backup prefix.
const StringResource kToolStrings[] = {{kBackupPrefixId, "Backup of "}};

std::string toLibraryPath(const std::string &path) {
  if (path.empty())
    throw Failure("empty path", 2);
  return vlx::toLibraryPath(path.c_str()).GetString();
}

// Paths the library hands back name what its file calls reached, so they map.
std::string toPosixPath(const std::string &path) {
  return vlx::toSystemPath(path.c_str()).GetString();
}

std::string quoted(const std::string &text) { return "'" + text + "'"; }

std::string withoutFinalBackslash(std::string path) {
  if (!path.empty() && path.back() == '\\')
    path.pop_back();
  return path;
}

void printPart(std::ostream &out, const char *label, const CString &part) {
  std::string line = label;
  if (!part.IsEmpty())
    line.append(11 - line.size(), ' ').append(printable(part.GetString()));
  out << line << '\n';
}

// What the backup calls work from, cut and formed as the library does.
struct BackupParts {
  explicit BackupParts(const std::string &path) {
    suFullPath_c full(path.c_str());
    full.getName(&name);
    full.getExtension(&extension);
    full.getDirectory(&directory);
    AfxFormatString1(prefix, kBackupPrefixId, "");
  }
  CString fileName() const { return name + "." + extension; }
  CString backupPath() const { return directory + "\\" + prefix + fileName(); }

  CString name, extension, directory, prefix;
};

// Why su_CreateBackupOfFile gave 0, checked in the order it decides.
[[noreturn]] void explainFailedBackup(const std::string &file, const std::string &path,
                                      DWORD copyError) {
  const std::string what = "no backup of " + quoted(file) + ": ";
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
      throw Failure(what + "no such file");
    throw Failure(what + errorText(static_cast<LONG>(error)));
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY)
    throw Failure(what + "it is a directory");

  const BackupParts parts(path);
  CStringList names;
  su_FindFilesWithExt(parts.directory, parts.extension, names);
  if (names.Find(parts.fileName()) == nullptr) {
    if (parts.extension.IsEmpty() || parts.extension.Find('\\') >= 0)
      throw Failure(what + "its name has no extension");
    throw Failure(what + "its directory does not list it under exactly that spelling");
  }
  int count = vlx::backupCount();
  if (count != 1)
    throw Failure(what + "\"Backup Copies\" in section General is " + std::to_string(count) +
                  "; only 0 (off) and 1 are supported");
  if (parts.prefix.IsEmpty())
    throw Failure(what + "the backup prefix (string " + std::to_string(kBackupPrefixId) +
                  ") is empty");
  throw Failure(what + "copying to " + quoted(toPosixPath(parts.backupPath().GetString())) +
                " failed: " + errorText(static_cast<LONG>(copyError)));
}

} // namespace

void registerToolStrings() { registerStringTable(AfxGetResourceHandle(), kToolStrings); }

void pathShow(std::ostream &out, const std::string &path) {
  suFullPath_c full(path.data(), static_cast<int>(path.size()));
  CString part;
  full.getDrive(&part);
  printPart(out, "drive:", part);
  full.getDirectory(&part);
  printPart(out, "directory:", part);
  full.getName(&part);
  printPart(out, "name:", part);
  full.getExtension(&part);
  printPart(out, "extension:", part);
}

void listFiles(std::ostream &out, const std::string &dir, const std::string &extension,
               bool nullEnded) {
  const std::string directory = toLibraryPath(dir);
  DWORD attributes = GetFileAttributesA(directory.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
      throw Failure("no such directory: " + quoted(dir));
    throw Failure("cannot read " + quoted(dir) + ": " + errorText(static_cast<LONG>(error)));
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
    throw Failure("not a directory: " + quoted(dir));

  CStringList names;
  su_FindFilesWithExt(directory.c_str(), extension.c_str(), names);
  if (names.IsEmpty()) {
    // The library ends quietly on a listing error too; tell that apart from no match.
    const std::string pattern = withoutFinalBackslash(directory) + "\\*." + extension;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern.c_str(), &data);
    if (search != INVALID_HANDLE_VALUE)
      FindClose(search);
    else if (GetLastError() != ERROR_FILE_NOT_FOUND)
      throw Failure("cannot list " + quoted(dir) + ": " +
                    errorText(static_cast<LONG>(GetLastError())));
  }
  for (POSITION pos = names.GetHeadPosition(); pos != nullptr;) {
    const CString &name = names.GetNext(pos);
    if (nullEnded)
      out << name.GetString() << '\0';
    else
      out << shellWord(name.GetString()) << '\n';
  }
}

// Why the library handed out no scratch directory: what lies at its place, or its base.
std::string refusedScratchDirectory() {
  const char *temp = vlx::getenv("temp");
  const std::string base = temp != nullptr && *temp != '\0' ? temp : vlx::getenv("tmp");
  const std::string entry = toPosixPath(base + "\\vlx" + std::to_string(getpid()));
  struct stat st;
  std::string why = "lies where other users may rename it (make " + quoted(base) +
                    " writable only by you, or sticky)";
  if (lstat(entry.c_str(), &st) != 0)
    why = "cannot be created (is its parent missing or read-only?)";
  else if (S_ISLNK(st.st_mode))
    why = "is a symbolic link";
  else if (!S_ISDIR(st.st_mode))
    why = "is not a directory";
  else if (st.st_uid != geteuid())
    why = "belongs to another user";
  else if ((st.st_mode & 077) != 0)
    why = "is open to other users";
  return "no private scratch directory: " + quoted(entry) + " " + why;
}

void tempShow(std::ostream &out, const std::optional<std::string> &fileName) {
  const CString directory = su_CreateTempDirectory();
  if (directory.IsEmpty())
    throw Failure(refusedScratchDirectory());
  if (!fileName) {
    out << printable(toPosixPath(directory.GetString())) << '\n';
    return;
  }
  out << printable(toPosixPath(su_CreateTempFilePath(fileName->c_str()).GetString())) << '\n';
}

void backupMake(std::ostream &out, const std::string &file) {
  const std::string path = toLibraryPath(file);
  const int made = su_CreateBackupOfFile(path.c_str());
  const DWORD copyError = GetLastError();
  if (!made)
    explainFailedBackup(file, path, copyError);
  // A count of 0 also succeeds, doing nothing.
  if (vlx::backupCount() == 0)
    throw Failure("no backup of " + quoted(file) +
                  ": backups are off (\"Backup Copies\" in section General is 0)");
  out << printable(toPosixPath(BackupParts(path).backupPath().GetString())) << '\n';
}

void backupResolve(std::ostream &out, const std::string &file) {
  const std::string path = toLibraryPath(file);
  std::vector<char> result(MAX_PATH);
  su_ResolveToBackupFile(path.c_str(), result.data());
  if (result[0] == '\0')
    throw Failure("cannot resolve " + quoted(file) + ": the result would be longer than " +
                  std::to_string(MAX_PATH - 1) + " bytes");
  out << printable(toPosixPath(result.data())) << '\n';
}

RunParsed addFileCommands(CLI::App &app) {
  struct Args {
    std::string path, extension, fileName;
    bool nullEnded = false;
  };
  auto args = std::make_shared<Args>();

  auto *pathCmd = app.add_subcommand(
      "path", "Split PATH as the library does and print its drive, directory, name and "
              "extension: only '\\' separates, the first ':' ends the drive, the last '.' begins "
              "the extension. The text is taken exactly as given ('/' is an ordinary character).");
  pathCmd->add_option("PATH", args->path, "The path text, e.g. C:\\work\\gear.txt")->required();

  auto *lsCmd = app.add_subcommand(
      "ls", "List the entries of DIR whose names match '*.EXT' by the Windows wildcard rules "
            "(letter case ignored, subdirectories included, in directory order). EXT may hold "
            "wildcards; an empty EXT lists the names without an extension ('.' and '..' "
            "among them, as on Windows).");
  lsCmd->add_option("DIR", args->path, "The directory ('/' or '\\' separate)")->required();
  lsCmd->add_option("EXT", args->extension, "The extension without its dot, e.g. txt")->required();
  lsCmd->add_flag("-0,--null", args->nullEnded,
                  "Print each name raw, ended by a zero byte, for scripts (by default a name "
                  "that holds blanks, quotes or control characters is shown quoted as a shell "
                  "word, as ls does on a terminal)");

  auto *tempCmd = app.add_subcommand(
      "temp", "Print the scratch directory <temp>/vlx<pid>/ (else <tmp>; the variable names in "
              "any letter case; neither set: $XDG_RUNTIME_DIR, else $TMPDIR, else /tmp), "
              "creating it when missing, or with FILE the path of that file in "
              "it (no file is created). The directory is per process: <pid> is this vlx "
              "process's id, so each run prints a new one, left in place. Exit 1 when the "
              "directory cannot be made or is not private to you.");
  auto *tempFile = tempCmd->add_option("FILE", args->fileName, "A bare file name, e.g. gear.tmp");

  auto *backupCmd = addCommandGroup(
      app, "backup", "The one backup copy of a file, kept beside it as 'Backup of NAME'");
  auto *makeCmd = backupCmd->add_subcommand(
      "make", "Copy FILE to 'Backup of NAME' in its directory, replacing the earlier backup, and "
              "print the backup's path. The preference \"Backup Copies\" in section General "
              "switches it: unset or 1 copies; 0 (backups off) and other counts make no copy and "
              "exit 1. FILE needs an extension, spelled as on disk.");
  makeCmd->add_option("FILE", args->path, "The file ('/' or '\\' separate)")->required();
  auto *resolveCmd = backupCmd->add_subcommand(
      "resolve", "Print the path of FILE's backup when there is one, else FILE itself.");
  resolveCmd->add_option("FILE", args->path, "The file ('/' or '\\' separate)")->required();

  return [=](std::ostream &out, std::ostream &) {
    const Args &a = *args;
    if (*pathCmd)
      pathShow(out, a.path);
    else if (*lsCmd)
      listFiles(out, a.path, a.extension, a.nullEnded);
    else if (*tempCmd)
      tempShow(out, ifGiven(tempFile, a.fileName));
    else if (*makeCmd)
      backupMake(out, a.path);
    else if (*resolveCmd)
      backupResolve(out, a.path);
  };
}

} // namespace vlx::cli
