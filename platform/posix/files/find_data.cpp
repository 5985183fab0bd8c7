// WIN32_FIND_DATAA, FILETIME and attributes from POSIX file status; FindFirstFileEx's options.
#include "platform/posix/files/find_data.h"

#include <algorithm>
#include <cstring>

namespace vlx::posix {
namespace {
// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t kEpochDifference = 11644473600LL;
} // namespace

FILETIME fileTimeFrom(const struct timespec &time) {
  int64_t ticks = (static_cast<int64_t>(time.tv_sec) + kEpochDifference) * 10000000LL +
                  static_cast<int64_t>(time.tv_nsec) / 100;
  // Times before 1601 do not exist in a FILETIME.
  uint64_t value = ticks < 0 ? 0 : static_cast<uint64_t>(ticks);
  return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

DWORD attributesFrom(const struct stat &st) {
  DWORD attributes = 0;
  if (S_ISDIR(st.st_mode))
    attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if (!(st.st_mode & S_IWUSR))
    attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

void fillFindData(const char *name, const struct stat &st, WIN32_FIND_DATAA &data) {
  std::memset(&data, 0, sizeof data);
  data.dwFileAttributes = attributesFrom(st);
  // No birth time in struct stat: the earlier of the change and modification times stands in.
  const struct timespec &created =
      (st.st_ctim.tv_sec < st.st_mtim.tv_sec ||
       (st.st_ctim.tv_sec == st.st_mtim.tv_sec && st.st_ctim.tv_nsec < st.st_mtim.tv_nsec))
          ? st.st_ctim
          : st.st_mtim;
  data.ftCreationTime = fileTimeFrom(created);
  data.ftLastAccessTime = fileTimeFrom(st.st_atim);
  data.ftLastWriteTime = fileTimeFrom(st.st_mtim);
  if (!S_ISDIR(st.st_mode)) {
    uint64_t size = static_cast<uint64_t>(st.st_size);
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size);
  }
  // Names are at most NAME_MAX (255) bytes; the cut only guards the buffer.
  std::size_t length = std::min<std::size_t>(std::strlen(name), sizeof data.cFileName - 1);
  std::memcpy(data.cFileName, name, length);
}

bool findExAnswers(FINDEX_INFO_LEVELS level, FINDEX_SEARCH_OPS search, LPVOID filter) {
  return (level == FindExInfoStandard || level == FindExInfoBasic) &&
         (search == FindExSearchNameMatch || search == FindExSearchLimitToDirectories) && !filter;
}

} // namespace vlx::posix
