// The descriptor behind a file handle, for the calls on handles kept outside handles.cpp.
#pragma once

#include <velmora/win32/base.h>

#include <cstdint>
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

// Whether a mapping or a view of this process reaches past the first `size` bytes of `file`,
// which cutting it there would take from under them (SIGBUS where Windows refuses the cut).
bool mappedPast(const struct stat &file, uint64_t size);
// Whether a view of this process shows `file`.
bool viewedInProcess(const struct stat &file);

} // namespace vlx::posix
