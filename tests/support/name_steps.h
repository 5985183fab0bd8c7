// Runs one step of the name table (file_call_cases.h) with the system's file calls: the POSIX
// personality's, or kernel32's in the Windows check.
#pragma once

#include "support/file_call_cases.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <velmora/win32.h>
#endif

#include <string>

namespace vlx::test {

// The error of one step, whose names follow `prefix`, and for a search the first name found.
inline DWORD runNameStep(const NameStep &step, const std::string &prefix, std::string &found) {
  const std::string name = prefix + step.name;
  const std::string other = step.other ? prefix + step.other : std::string();
  SetLastError(0);
  BOOL ok = FALSE;
  switch (step.call) {
  case NameCall::Attributes:
    ok = GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES;
    break;
  case NameCall::CreateFolder:
    ok = CreateDirectoryA(name.c_str(), nullptr);
    break;
  case NameCall::RemoveFolder:
    ok = RemoveDirectoryA(name.c_str());
    break;
  case NameCall::Move:
    ok = MoveFileA(name.c_str(), other.c_str());
    break;
  case NameCall::CopyNew:
    ok = CopyFileA(name.c_str(), other.c_str(), TRUE);
    break;
  case NameCall::Delete:
    ok = DeleteFileA(name.c_str());
    break;
  case NameCall::Find: {
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileExA(name.c_str(), FindExInfoStandard, &data, FindExSearchNameMatch,
                                     nullptr, 0);
    ok = search != INVALID_HANDLE_VALUE;
    if (ok) {
      found = data.cFileName;
      FindClose(search);
    }
    break;
  }
  }
  return ok ? ERROR_SUCCESS : GetLastError();
}

} // namespace vlx::test
