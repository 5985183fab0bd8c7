// The descriptor behind a file handle, for the calls on handles kept outside handles.cpp.
#pragma once

#include <velmora/win32/base.h>

#include <string>
#include <sys/stat.h>

namespace vlx::posix {

struct HandleFacts {
  int fd = -1;
  bool read = false, write = false;
  bool directory = false;
};

// The facts of an open file handle; false, with ERROR_INVALID_HANDLE set, for anything else.
bool handleFacts(HANDLE handle, HandleFacts *facts);

// Marks the handle's file to be deleted when the handle is closed, or no longer; the path is the
// file's POSIX path now.
bool setDeleteOnClose(HANDLE handle, bool remove, const std::string &path);
bool deletePending(HANDLE handle);

// Whether a file handle of this process is open on the file `file` describes.
bool openInProcess(const struct stat &file);

// Closes a file mapping handle; false when `handle` is not one.
bool closeMapping(HANDLE handle);

} // namespace vlx::posix
