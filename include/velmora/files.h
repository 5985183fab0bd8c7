// Files and paths: path splitting, line files, directory search, scratch directories, backups.
#pragma once

#include <velmora/afx.h>
#include <velmora/export.h>
#include <velmora/win32.h>

// A path text cut into drive, directory, name and extension by character search alone: `\` is
// the only separator, `:` ends the drive, `.` begins the extension. Nothing is normalised and
// the file system is never consulted. The parts come without their delimiters; each accessor
// overwrites *out and returns 1 when its part is non-empty, else 0.
class VLX_API suFullPath_c : public CString {
public:
  suFullPath_c();
  suFullPath_c(const CString &path);
  suFullPath_c(const suFullPath_c &path);
  suFullPath_c(char ch, int repeat);
  suFullPath_c(const char *text);
  // The first `length` characters; the text must hold at least that many.
  suFullPath_c(const char *text, int length);
  suFullPath_c(const unsigned char *text);
  // UTF-16 text, converted to the narrow code page (UTF-8 on POSIX).
  suFullPath_c(const unsigned short *text);
  suFullPath_c &operator=(const suFullPath_c &path);
  ~suFullPath_c();

  // After the last `\`, and then before the last `.` of that part.
  int getName(CString *out);
  // After the last `.` of the whole path, so a dotted directory can give one holding a `\`.
  int getExtension(CString *out);
  // Before the first `:`.
  int getDrive(CString *out);
  // Before the last `\`.
  int getDirectory(CString *out);
};

// A text file read line by line. The framework's stdio file, adding only these two calls; its
// run-time class is CStdioFile's.
class fileAccess : public CStdioFile {
public:
  fileAccess() {}
  ~fileAccess() override {}

  // The next line with its newline, at most 258 characters per call (a longer line arrives in
  // pieces); returns the characters now in `line`, or 0 at the end of the file with `line`
  // unchanged. Read errors throw CFileException* from ReadString.
  VLX_API int ReadLine(CString &line);
  // Opens through the virtual Open with the framework's open flags (text mode unless
  // typeBinary); non-zero on success, 0 without a throw when the file cannot be opened.
  VLX_API int SafeOpen(const CString &path, unsigned flags);
};

// 1 when `path` names a directory, or when its last component holds wildcards and a matching
// entry is a directory; a final backslash is allowed.
VLX_API int su_DirectoryExists(const char *path);

// Appends to `names` the bare names of the entries of `directory` (a final backslash is
// allowed) that match "*." + extension under the platform's wildcard rules, subdirectories
// included; what `names` held stays in front.
VLX_API void su_FindFilesWithExt(const CString &directory, const CString &extension,
                                 CStringList &names);

// The process's scratch directory, %temp%\vlx<pid>\ (else %tmp%), created when nothing of that
// name exists yet; empty when neither variable is set. On POSIX also empty unless the directory
// is verified private: a real directory of the user's, closed to group and others, which no
// other user can swap (a shared base such as /tmp lets another user plant the name first).
VLX_API CString su_CreateTempDirectory();
// The scratch directory followed by `fileName`; empty when there is none. Creates no file.
VLX_API CString su_CreateTempFilePath(const char *fileName);

// Copies the file beside itself under the host's backup prefix (string resource 10122), after
// deleting the previous backup, as the preference "Backup Copies" of section "General" asks:
// absent or 1 copies and returns the copy's result, 0 returns 1 doing nothing, anything else
// returns 0. A file not listed in its directory under exactly that spelling gives 0, and so
// does a missing or empty prefix, which would name the file itself.
VLX_API int su_CreateBackupOfFile(CString path);
// Writes into `result` (room for MAX_PATH characters) the backup path of `path` when that
// backup is listed beside it, else `path` itself; a text that would not fit, terminator
// included, is written as the empty text.
VLX_API void su_ResolveToBackupFile(const char *path, char *result);

namespace vlx {

// A path of the host's file system in the form the library's calls take and split: on POSIX,
// `/` becomes `\`, an absolute path below a directory set in VELMORA_DRIVE_X becomes `X:\...`
// (the deepest wins) and any other the rooted `\...`, and a bare name gets `.\` in front so
// that its directory is the current one. A `\` inside a POSIX name cannot be spelled: the file
// calls read it as a separator. On Windows only `/` turns and bare names get `.\`. Empty for
// no or empty text.
VLX_API CString toLibraryPath(const char *systemPath);
// The host's path for a path the library takes or hands out, by the mapping its file calls use
// (drives, `.` and `..`, the trailing dots and spaces Windows drops, NUL as /dev/null). Empty,
// with the reason in GetLastError, when the path names nothing here (an unmapped drive, a colon
// inside a directory name). On Windows the text comes back unchanged.
VLX_API CString toSystemPath(const char *libraryPath);

} // namespace vlx
