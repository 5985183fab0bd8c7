// The one table from Win32 error codes to the short texts vlx prints.
#include "vlx/core/errors.h"

#include "vlx/core/named.h"

namespace vlx::cli {
namespace {

constexpr Named<LONG> kErrors[] = {
    {ERROR_SUCCESS, "success"},
    {ERROR_FILE_NOT_FOUND, "not found"},
    {ERROR_PATH_NOT_FOUND, "path not found"},
    {ERROR_TOO_MANY_OPEN_FILES, "too many open files"},
    {ERROR_ACCESS_DENIED, "access denied"},
    {ERROR_INVALID_HANDLE, "invalid handle"},
    {ERROR_NOT_ENOUGH_MEMORY, "out of memory"},
    {ERROR_OUTOFMEMORY, "out of memory"},
    {ERROR_WRITE_FAULT, "write fault"},
    {ERROR_READ_FAULT, "read fault"},
    {ERROR_SHARING_VIOLATION, "in use by another process"},
    {ERROR_LOCK_VIOLATION, "locked by another process"},
    {ERROR_HANDLE_DISK_FULL, "disk full"},
    {ERROR_DISK_FULL, "disk full"},
    {ERROR_NOT_SUPPORTED, "not supported"},
    {ERROR_INVALID_PARAMETER, "invalid parameter"},
    {ERROR_INSUFFICIENT_BUFFER, "buffer too small"},
    {ERROR_INVALID_NAME, "invalid name"},
    {ERROR_BAD_PATHNAME, "bad path name"},
    {ERROR_BUSY, "busy"},
    {ERROR_ALREADY_EXISTS, "already exists"},
    {ERROR_FILENAME_EXCED_RANGE, "name too long"},
    {ERROR_MORE_DATA, "data too long"},
    {ERROR_NO_MORE_ITEMS, "no more items"},
    {ERROR_BADDB, "registry file damaged"},
    {ERROR_BADKEY, "bad key"},
    {ERROR_CANTOPEN, "cannot open the registry file"},
    {ERROR_CANTREAD, "cannot read the registry file"},
    {ERROR_CANTWRITE, "cannot write the registry file"},
    {ERROR_REGISTRY_CORRUPT, "registry file damaged"},
    {ERROR_REGISTRY_IO_FAILED, "registry input/output failed"},
    {ERROR_KEY_DELETED, "key was deleted"},
};

} // namespace

std::string errorText(LONG code) {
  const char *text = nameOf(kErrors, code);
  return text ? text : "error " + std::to_string(code);
}

} // namespace vlx::cli
