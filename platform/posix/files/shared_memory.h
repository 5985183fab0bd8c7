// Named shared memory for named mappings of memory: objects in /dev/shm that only their user
// can reach, each holder keeping a shared lock on it so that an object nobody holds is known to
// be stale.
#pragma once

#include <velmora/win32/base.h>

#include <cstdint>
#include <string>

namespace vlx::posix {

struct SharedObject {
  int fd = -1;
  std::string path; // its name in /dev/shm
  bool existed = false;
};

// Opens the user's object of that mapping name, or with `create` makes it `size` bytes long
// when it does not exist or nobody holds it any more. The descriptor holds the shared lock.
// Returns ERROR_SUCCESS, ERROR_FILE_NOT_FOUND (no live object, without `create`),
// ERROR_ACCESS_DENIED (an object another user owns, or one others may reach) or another error.
DWORD openSharedObject(const std::string &name, bool create, uint64_t size, SharedObject *out);

// Closes `fd`, this process's hold on the object at `path`; the last holder anywhere removes
// the name.
void releaseSharedObject(int fd, const std::string &path);

} // namespace vlx::posix
